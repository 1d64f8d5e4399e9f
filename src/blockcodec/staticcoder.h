#pragma once
// Two-pass (static) model and coder of the move-to-front static codec: the
// symbol counts of a whole block are gathered first, scaled once, sent in
// front of the code and then used unchanged for every symbol.

#include "entropy/arithmeticcodec.h"

#include <cassert>

// Largest scaled total a frequency table may have: it must stay below the
// 18-bit coder's quarter range (65536) and each frequency must fit 16 bits.
constexpr unsigned maxStaticTotal = 65535;

class StaticCoder : public ArithmeticCoder<unsigned, unsigned long long, 18> {
public:
    using Base = ArithmeticCoder<unsigned, unsigned long long, 18>;

    // `tableCounts` has symbolCount + 1 entries, is owned by the caller and
    // must outlive the coder; entries 0..symbolCount-1 receive the raw
    // counts and `total` their sum before start().
    StaticCoder(OutBitStream* bits, unsigned* tableCounts, unsigned symbols)
        : Base(bits), counts(tableCounts), symbolCount(symbols), total(0)
    {
    }

    // Scales the raw counts so that their total is at most maxStaticTotal,
    // keeping every occurring symbol at a frequency of at least 1, and turns
    // `counts` into the cumulative table: entry i = sum of the frequencies of
    // symbols below i, entry symbolCount = the scaled total.
    void start()
    {
        assert(total > 0);
        // Flooring loses less than 1 per symbol and the raise to 1 adds at
        // most 1, so the total stays within scale + symbolCount = 65535.
        const unsigned long long scale = maxStaticTotal - symbolCount;
        unsigned sum = 0;
        for (unsigned i = 0; i < symbolCount; ++i) {
            const unsigned c = counts[i];
            unsigned f = 0;
            if (c != 0) {
                f = static_cast<unsigned>(c * scale / total);
                if (f == 0) f = 1;
            }
            counts[i] = sum;
            sum += f;
        }
        counts[symbolCount] = sum;
        assert(sum <= maxStaticTotal);
    }

    // Codes symbol s (its scaled frequency must be non-zero).
    void encodeSymbol(unsigned s)
    {
        assert(s < symbolCount);
        encode(counts[s], counts[s + 1], counts[symbolCount]);
    }

    unsigned* counts;      // raw counts, then the cumulative table; not owned
    unsigned symbolCount;  // alphabet size: 256, or 257 with zero-run coding
    unsigned total;        // number of symbols to code: the sum of the raw counts
};

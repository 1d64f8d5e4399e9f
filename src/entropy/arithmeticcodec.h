#pragma once
// Integer arithmetic coder and decoder (Witten, Neal and Cleary scheme).
//
// Template parameters: I is the type of the interval ends, P the type of the
// range and of the products range * count (it must hold range * symbolHigh),
// N the precision in bits. Instances in use:
//   <unsigned, unsigned, 16>           totals up to 16384, 32-bit arithmetic
//   <unsigned, unsigned long long, 18> totals up to 65535, 64-bit products
//
// Symbols are passed as cumulative-count triples: the symbol owns
// [symbolLow, symbolHigh) out of symbolTotal. The decoder must be driven with
// exactly the triples the coder saw, in the same order.

#include "entropy/bitstream.h"

#include <cassert>
#include <cstddef>

template <typename I, typename P, unsigned N>
class ArithmeticCoder {
public:
    static_assert(N >= 3 && N < 8 * sizeof(I), "precision must fit the interval type");
    static_assert(sizeof(I) <= sizeof(unsigned), "renormalisation counts leading bits of an unsigned");

    static constexpr I TOP = (I(1) << N) - 1;       // mask after each shift
    static constexpr I HALF = I(1) << (N - 1);      // bit N-1
    static constexpr I QUARTER = I(1) << (N - 2);   // bit N-2

    // Starts with the whole interval. `os` may be set here or later, but
    // before the first encode().
    explicit ArithmeticCoder(OutBitStream* os = NULL) : os(os) { reset(); }

    void reset()
    {
        low = 0;
        high = TOP;
        underflowBits = 0;
    }

    // Codes the symbol owning [symbolLow, symbolHigh) of symbolTotal.
    // Requires symbolLow < symbolHigh <= symbolTotal and symbolTotal no larger
    // than the current range (guaranteed while symbolTotal <= QUARTER + 2).
    void encode(unsigned symbolLow, unsigned symbolHigh, unsigned symbolTotal)
    {
        assert(os != NULL);
        assert((symbolLow < symbolHigh) && (symbolHigh <= symbolTotal));
        P range = P(high) - P(low) + 1;
        assert(range >= symbolTotal);
        high = I(low + (range * symbolHigh) / symbolTotal - 1);
        low = I(low + (range * symbolLow) / symbolTotal);
        renormalise();
    }

    // Codes `value` as one of 2^bits equally likely values: the same bits as
    // encode(value, value + 1, 1u << bits), with shifts for the divisions.
    // Requires 1 <= bits and 2^bits within the range, as for encode().
    void encodeUniform(unsigned value, unsigned bits)
    {
        assert(os != NULL);
        assert(bits >= 1 && (value >> bits) == 0);
        P range = P(high) - P(low) + 1;
        assert(range >= (P(1) << bits));
        high = I(low + ((range * (value + 1)) >> bits) - 1);
        low = I(low + ((range * value) >> bits));
        renormalise();
    }

    // Writes the underflowBits + 2 bits that end the code string: they pick
    // a value inside the final interval whatever bits follow. Called once,
    // after the last symbol and before the bit stream's flush().
    void flush()
    {
        assert(os != NULL);
        unsigned bit = (low & QUARTER) ? 1 : 0;
        os->putBit(bit);
        for (unsigned i = 0; i <= underflowBits; ++i) os->putBit(bit ^ 1);
        underflowBits = 0;
    }

    OutBitStream* os;  // bit sink; not owned

protected:
    // Shifts out every settled leading bit and defers middle-half bits.
    // Settled bits come first and all at once: once the interval has been
    // narrowed into the middle half its ends differ in the leading bit again.
    void renormalise()
    {
        const I diff = (high ^ low) & TOP;
        if ((diff & HALF) == 0) {
            // k leading bits agree (all N when the ends are equal).
            const unsigned k = diff == 0 ? N : N - (32 - unsigned(__builtin_clz(unsigned(diff))));
            // The first one releases the deferred bits, its opposites.
            unsigned bit = (high & HALF) ? 1 : 0;
            os->putBit(bit);
            if (bit) {
                os->putZeros(underflowBits);
            } else {
                for (; underflowBits > 0; --underflowBits) os->putBit(1);
            }
            underflowBits = 0;
            if (k > 1) os->putBitsHighFirst((high >> (N - k)) & ((I(1) << (k - 1)) - 1), k - 1);
            high = I(((high << k) | ((I(1) << k) - 1)) & TOP);
            low = I((low << k) & TOP);
        }
        while ((low & QUARTER) && !(high & QUARTER)) {
            // Interval inside the middle half: defer the bit, drop QUARTER.
            ++underflowBits;
            low &= ~QUARTER;
            high |= QUARTER;
            high = I(((high << 1) | 1) & TOP);
            low = I((low << 1) & TOP);
        }
    }

    I low;                   // lower end of the interval, 0..TOP
    I high;                  // upper end, inclusive, 0..TOP
    unsigned underflowBits;  // deferred bits, each the opposite of the next settled bit
};

template <typename I, typename P, unsigned N>
class ArithmeticDecoder {
public:
    static_assert(N >= 3 && N < 8 * sizeof(I), "precision must fit the interval type");
    static_assert(sizeof(I) <= sizeof(unsigned), "renormalisation counts leading bits of an unsigned");

    static constexpr I TOP = (I(1) << N) - 1;
    static constexpr I HALF = I(1) << (N - 1);
    static constexpr I QUARTER = I(1) << (N - 2);

    // `is` may be set here or later, but before start().
    explicit ArithmeticDecoder(InBitStream* is = NULL) : is(is) { reset(); }

    void reset()
    {
        low = 0;
        high = TOP;
        value = 0;
    }

    // Reads the first N bits of the code string. Called once, before the
    // first symbol.
    void start()
    {
        assert(is != NULL);
        value = 0;
        for (unsigned i = 0; i < N; ++i) value = I((value << 1) | is->getBit());
    }

    // Returns the cumulative count the code string points at, in
    // 0..symbolTotal-1 for any input bits (low <= value <= high always
    // holds). Changes nothing.
    unsigned decode(unsigned symbolTotal) const
    {
        P range = P(high) - P(low) + 1;
        return unsigned(((P(value) - P(low) + 1) * symbolTotal - 1) / range);
    }

    // Removes the symbol the model found for decode()'s count, given with
    // its range and the same total, and reads the bits that replace the
    // ones shifted out.
    void decodeExtract(unsigned symbolLow, unsigned symbolHigh, unsigned symbolTotal)
    {
        assert(is != NULL);
        P range = P(high) - P(low) + 1;
        assert(range >= symbolTotal);
        high = I(low + (range * symbolHigh) / symbolTotal - 1);
        low = I(low + (range * symbolLow) / symbolTotal);
        renormalise();
    }

    // Decodes a value coded by the coder's encodeUniform(value, bits) and
    // removes it: the same as decode(1u << bits) followed by decodeExtract
    // of that value, with shifts for two of the three divisions.
    unsigned decodeUniform(unsigned bits)
    {
        assert(is != NULL);
        assert(bits >= 1);
        P range = P(high) - P(low) + 1;
        assert(range >= (P(1) << bits));
        const unsigned d = unsigned((((P(value) - P(low) + 1) << bits) - 1) / range);
        high = I(low + ((range * (d + 1)) >> bits) - 1);
        low = I(low + ((range * d) >> bits));
        renormalise();
        return d;
    }

    // The last bit the coder's flush() writes once this decoder's symbols
    // have all been coded: the opposite of the interval's quarter bit. A
    // caller that knows where the code ends can check it.
    unsigned lastFlushBit() const { return (low & QUARTER) ? 0 : 1; }

    InBitStream* is;  // bit source; not owned

protected:
    // Shifts out every settled leading bit, as the coder does, reading one
    // new code bit per shift.
    void renormalise()
    {
        const I diff = (high ^ low) & TOP;
        if ((diff & HALF) == 0) {
            // Leading bits settled; value shares them, so the shift drops them.
            const unsigned k = diff == 0 ? N : N - (32 - unsigned(__builtin_clz(unsigned(diff))));
            low = I((low << k) & TOP);
            high = I(((high << k) | ((I(1) << k) - 1)) & TOP);
            value = I(((value << k) | is->getBitsHighFirst(k)) & TOP);
        }
        while ((low & QUARTER) && !(high & QUARTER)) {
            // Middle half: value lies in it too, so flipping bit N-2
            // subtracts QUARTER from it as from both ends.
            value ^= QUARTER;
            low &= ~QUARTER;
            high |= QUARTER;
            low = I((low << 1) & TOP);
            high = I(((high << 1) | 1) & TOP);
            value = I(((value << 1) | is->getBit()) & TOP);
        }
    }

    I low;    // as in the coder
    I high;
    I value;  // the N-bit window of the code string under the interval
};

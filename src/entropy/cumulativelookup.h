#pragma once
// Symbol search in a fixed cumulative table (a static model): which symbol's
// interval holds a code.

#include <cassert>
#include <cstdint>
#include <vector>

// The symbol whose interval of the cumulative `table` (symbolCount + 1
// non-decreasing entries, table[0] = 0) holds `code`, by binary search;
// table[0] <= code < table[symbolCount]. The reference for CumulativeLookup.
inline unsigned findSymbolBinary(const unsigned* table, unsigned symbolCount, unsigned code)
{
    unsigned low = 0;
    unsigned high = symbolCount;
    while (high - low > 1) {
        const unsigned mid = (low + high) / 2;
        if (code < table[mid]) {
            high = mid;
        } else {
            low = mid;
        }
    }
    return low;
}

// The same search through a table of the owners of every 2^shift-th code
// (at most 4096 of them): the search starts at the owner of the code's
// bucket and steps over the few interval ends inside the bucket. Frequent
// symbols, whose intervals span whole buckets, are found with no step.
class CumulativeLookup {
public:
    static constexpr unsigned bucketBits = 12;

    // `table` must outlive the lookup; entries as for findSymbolBinary, with
    // a total below 2^31. Empty intervals are allowed: no code lands in them.
    CumulativeLookup(const unsigned* table, unsigned symbolCount) : table(table), symbolCount(symbolCount)
    {
        const unsigned total = table[symbolCount];
        assert(total > 0 && total < (1u << 31) && symbolCount <= 65536);
        shift = 0;
        while ((total - 1) >> shift >= (1u << bucketBits)) ++shift;
        const unsigned buckets = ((total - 1) >> shift) + 1;
        owners.resize(buckets);
        unsigned s = 0;
        for (unsigned b = 0; b < buckets; ++b) {
            const unsigned code = b << shift;
            while (table[s + 1] <= code) ++s;
            owners[b] = std::uint16_t(s);
        }
    }

    // As findSymbolBinary(table, symbolCount, code); code below the total.
    unsigned find(unsigned code) const
    {
        assert(code < table[symbolCount]);
        unsigned s = owners[code >> shift];
        while (table[s + 1] <= code) ++s;
        return s;
    }

private:
    const unsigned* table;
    unsigned symbolCount;
    unsigned shift;
    std::vector<std::uint16_t> owners;  // owner of code b << shift, for each bucket b
};

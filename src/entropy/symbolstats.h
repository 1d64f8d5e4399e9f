#pragma once
// Adaptive frequency model for the arithmetic coder: one count per symbol of
// a fixed alphabet, halved when the total reaches a caller-chosen limit.
//
// The counts are kept as two levels of suffix sums, so that counting a
// symbol touches few entries and the symbols that dominate after
// move-to-front or distance coding (the small ones) are the cheapest. The
// alphabet is split into groups of 16 symbols; per group, inner[j] is the
// count of its symbols j..15, and outer[g] is the count of all symbols in
// groups g and above. The count of symbols >= s is then
// outer[g + 1] + inner[j] (g = s / 16, j = s % 16), and counting s adds 1 to
// inner[0..j] of its group and to outer[0..g]: at most 16 + 17 entries for
// 257 symbols, two for symbol 0. The ranges and the halving are exactly
// those of PlainSymbolStats (plainsymbolstats.h).

#include "entropy/symbolrange.h"

#include <cassert>
#include <cstring>
#include <memory>

// T is the count type (the only instance is AdaptiveSymbolStats<unsigned>).
// Coder and decoder each own one model and drive it with the same symbols,
// so both stay identical. Every count is at least 1, so every code below the
// total belongs to exactly one symbol.
template <typename T>
class AdaptiveSymbolStats {
public:
    static constexpr unsigned groupSize = 16;
    // inner entries per group: the 16 suffix sums and a closing 0.
    static constexpr unsigned groupStride = groupSize + 1;

    // num = 0 gives an empty model that needs reset() before use; otherwise
    // every one of the num symbols starts with count 1 (total num).
    explicit AdaptiveSymbolStats(unsigned num) : num(0), groups(0) { reset(num); }
    // A model in the same state, with counts of its own.
    AdaptiveSymbolStats(const AdaptiveSymbolStats& other) : num(0), groups(0)
    {
        reset(other.num);
        if (num != 0) std::memcpy(store.get(), other.store.get(), sizeof(T) * (groups * groupStride + groups + 1));
    }
    AdaptiveSymbolStats& operator=(const AdaptiveSymbolStats&) = delete;

    // Rebuilds the model for a new alphabet size, as the constructor does.
    // If the allocation fails the model is left empty and std::bad_alloc
    // propagates.
    void reset(unsigned newNum)
    {
        store.reset();
        inner = outer = nullptr;
        num = groups = 0;
        if (newNum == 0) return;
        const unsigned newGroups = (newNum + groupSize - 1) / groupSize;
        store.reset(new T[newGroups * groupStride + newGroups + 1]);
        num = newNum;
        groups = newGroups;
        inner = store.get();
        outer = inner + groups * groupStride;
        rebuild([](unsigned) { return T(1); });
    }

    // Adds `increment` to the count of `symbol` (and so to the total).
    void update(unsigned symbol, unsigned increment)
    {
        assert(symbol < num);
        const unsigned g = symbol / groupSize;
        T* in = inner + g * groupStride;
        for (unsigned i = 0; i <= symbol % groupSize; ++i) in[i] += T(increment);
        for (unsigned i = 0; i <= g; ++i) outer[i] += T(increment);
    }

    // Halves every count (rounding down, but never below 1) when the total
    // equals maxTotal exactly; otherwise does nothing. Kept out of line: it
    // is rare, and inlined it would weigh down the per-symbol path.
    __attribute__((noinline)) void limit(unsigned maxTotal)
    {
        if (outer[0] != maxTotal) return;
        // In place, from the top: each group's old suffix sums give its
        // counts from j = 15 down while the new sums are written behind.
        for (unsigned g = groups; g-- > 0;) {
            T* in = inner + g * groupStride;
            T oldNext = 0;
            for (unsigned j = groupSize; j-- > 0;) {
                const T old = in[j];
                T c = old - oldNext;
                if (g * groupSize + j < num) {
                    c /= 2;
                    if (c == 0) c = 1;
                }
                in[j] = in[j + 1] + c;
                oldNext = old;
            }
            outer[g] = outer[g + 1] + in[0];
        }
    }

    // Returns the range of `symbol` as it is now, then counts the symbol
    // once and rescales at maxTotal. A total that starts at or below
    // maxTotal therefore never exceeds it.
    SymbolRange getRangeThenUpdateAndLimit(unsigned symbol, unsigned maxTotal)
    {
        assert(symbol < num);
        return rangeThenUpdate(symbol / groupSize, symbol % groupSize, maxTotal);
    }

    // The decoder's step in one call: the symbol owning `code` (as
    // getSymbol), whose range goes to `range` as getRangeThenUpdateAndLimit
    // would return it, with the same update.
    unsigned findRangeThenUpdateAndLimit(unsigned code, unsigned maxTotal, SymbolRange& range)
    {
        unsigned g, j;
        locate(code, g, j);
        range = rangeThenUpdate(g, j, maxTotal);
        return g * groupSize + j;
    }

    // The cumulative count below `symbol` (0..num; num gives the total).
    unsigned cumulative(unsigned symbol) const
    {
        assert(symbol <= num);
        if (symbol == num) return unsigned(outer[0]);
        const unsigned g = symbol / groupSize;
        return unsigned(outer[0] - (outer[g + 1] + inner[g * groupStride + symbol % groupSize]));
    }

    // The total of all counts.
    unsigned getMax() const { return unsigned(outer[0]); }

    // The symbol s with cumulative(s) <= code < cumulative(s + 1). Requires
    // code below the total and an alphabet of at least two symbols. Changes
    // nothing.
    unsigned getSymbol(unsigned code) const
    {
        unsigned g, j;
        locate(code, g, j);
        return g * groupSize + j;
    }

protected:
    // Group g and place j of the symbol owning `code`.
    void locate(unsigned code, unsigned& g, unsigned& j) const
    {
        assert(num > 1);
        assert(code < outer[0]);
        // The wanted s is the last one whose suffix count (symbols >= s)
        // reaches `above`, searched from 0 on both levels. The closing zeros
        // (outer[groups], inner[16], and the empty tail of the last group)
        // bound both searches. Small symbols are settled by one test per
        // level; otherwise the entries that reach `above` are counted
        // without branches.
        T above = outer[0] - code;  // 1..total
        g = 0;
        if (outer[1] >= above) {
            for (unsigned i = 1; i < groups; ++i) g += outer[i] >= above;
        }
        above -= outer[g + 1];
        const T* in = inner + g * groupStride;
        j = 0;
        if (in[1] >= above) j = countReaching(in, above) - 1;
    }

    // How many of in[0..15] reach `above` (at least 1). Four 4-lane
    // compares for 32-bit counts, whose results add up in a tree: counted
    // one entry at a time, each count waits for the one before.
    static unsigned countReaching(const T* in, T above)
    {
#if defined(__SSE2__)
        if constexpr (sizeof(T) == 4) {
            typedef int Lanes __attribute__((vector_size(16)));
            // The counts stay below 2^31, so the signed compare serves;
            // in[i] >= above is in[i] > above - 1, and each hit is -1.
            const Lanes bound = {int(above) - 1, int(above) - 1, int(above) - 1, int(above) - 1};
            Lanes v[4];
            std::memcpy(v, in, sizeof v);
            const Lanes hits = ((v[0] > bound) + (v[1] > bound)) + ((v[2] > bound) + (v[3] > bound));
            return unsigned(-((hits[0] + hits[1]) + (hits[2] + hits[3])));
        }
#endif
        unsigned n = 0;
        for (unsigned i = 0; i < groupSize; ++i) n += in[i] >= above;
        return n;
    }

    // Range of symbol (g, j), then its update and the halving at maxTotal.
    SymbolRange rangeThenUpdate(unsigned g, unsigned j, unsigned maxTotal)
    {
        T* in = inner + g * groupStride;
        const T total = outer[0];
        const T low = total - (outer[g + 1] + in[j]);
        const SymbolRange r = {unsigned(low), unsigned(low + (in[j] - in[j + 1])), unsigned(total)};
        // Branches that do not depend on the symbol, except for the common
        // first group: the group's entries take 0 or 1 each from a mask row.
        addMask(in, j);
        if (g == 0) {
            ++outer[0];
        } else {
            for (unsigned i = 0; i < groups; ++i) outer[i] += T(i <= g);
        }
        if (total + 1 == maxTotal) limit(maxTotal);
        return r;
    }

    // Adds 1 to in[0..j] (j < 16): four 16-byte vector adds for 32-bit counts.
    static void addMask(T* in, unsigned j)
    {
        if constexpr (sizeof(T) == 4) {
            typedef T Lanes __attribute__((vector_size(16)));
            const T* row = maskRows.row[j];
            for (unsigned i = 0; i < groupSize; i += 4) {
                Lanes v, m;
                std::memcpy(&v, in + i, sizeof v);
                std::memcpy(&m, row + i, sizeof m);
                v += m;
                std::memcpy(in + i, &v, sizeof v);
            }
        } else {
            for (unsigned i = 0; i < groupSize; ++i) in[i] += T(i <= j);
        }
    }

    // row[j][i] = 1 for i <= j, else 0.
    struct MaskRows {
        T row[groupSize][groupSize];
        constexpr MaskRows() : row()
        {
            for (unsigned j = 0; j < groupSize; ++j)
                for (unsigned i = 0; i < groupSize; ++i) row[j][i] = T(i <= j);
        }
    };
    static constexpr MaskRows maskRows{};

    // Sets every count to countOf(s) for s < num (0 for the padding) and
    // recomputes both levels.
    template <typename CountOf>
    void rebuild(CountOf countOf)
    {
        outer[groups] = 0;
        for (unsigned g = groups; g-- > 0;) {
            T* in = inner + g * groupStride;
            in[groupSize] = 0;
            for (unsigned j = groupSize; j-- > 0;) {
                const unsigned s = g * groupSize + j;
                in[j] = in[j + 1] + (s < num ? countOf(s) : T(0));
            }
            outer[g] = outer[g + 1] + in[0];
        }
    }

    unsigned num;                // alphabet size; symbols are 0..num-1
    unsigned groups;             // ceil(num / 16)
    std::unique_ptr<T[]> store;  // inner, then outer
    T* inner;                    // groups * 17 suffix sums within groups
    T* outer;                    // groups + 1 suffix sums of whole groups; outer[groups] = 0
};

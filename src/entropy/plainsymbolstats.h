#pragma once
// Reference adaptive frequency model for the arithmetic coder: one count per
// symbol of a fixed alphabet, kept as a plain cumulative table, halved when
// the total reaches a caller-chosen limit. AdaptiveSymbolStats
// (symbolstats.h) gives the very same ranges faster and is tested against it.

#include <cassert>
#include <cstring>
#include <memory>

#include "entropy/symbolrange.h"

// T is the count type.
// Coder and decoder each own one model and drive it with the same symbols,
// so both stay identical. Every count is at least 1, so every code below the
// total belongs to exactly one symbol.
template <typename T>
class PlainSymbolStats {
public:
    // num = 0 gives an empty model that needs reset() before use; otherwise
    // every one of the num symbols starts with count 1 (total num).
    explicit PlainSymbolStats(unsigned num) : num(0) { reset(num); }

    // Rebuilds the model for a new alphabet size, as the constructor does.
    // If the allocation fails the model is left empty and std::bad_alloc
    // propagates.
    void reset(unsigned newNum)
    {
        tab.reset();
        num = 0;
        if (newNum == 0) return;
        tab.reset(new T[newNum + 1]);
        for (unsigned i = 0; i <= newNum; ++i) tab[i] = T(i);
        num = newNum;
    }

    // Adds `increment` to the count of `symbol` (and so to the total).
    void update(unsigned symbol, unsigned increment)
    {
        assert(symbol < num);
        // Touches every entry above the symbol: up to 257 adds per coded
        // symbol, the model's main cost. For 32-bit counts the adds go four
        // at a time through a 16-byte vector (one instruction on SSE2 or
        // NEON), which the compiler does not do by itself at -O2.
        T* p = tab.get() + symbol + 1;
        T* const end = tab.get() + num + 1;
        if constexpr (sizeof(T) == 4) {
            typedef T Lanes __attribute__((vector_size(16)));
            for (; end - p >= 4; p += 4) {
                Lanes v;
                std::memcpy(&v, p, sizeof v);
                v += T(increment);
                std::memcpy(p, &v, sizeof v);
            }
        }
        for (; p != end; ++p) *p += increment;
    }

    // Halves every count (rounding down, but never below 1) when the total
    // equals maxTotal exactly; otherwise does nothing.
    void limit(unsigned maxTotal)
    {
        if (tab[num] != maxTotal) return;
        T oldPrev = tab[0];
        for (unsigned s = 0; s < num; ++s) {
            T oldNext = tab[s + 1];
            T count = (oldNext - oldPrev) / 2;
            if (count == 0) count = 1;
            tab[s + 1] = tab[s] + count;
            oldPrev = oldNext;
        }
    }

    // Returns the range of `symbol` as it is now, then counts the symbol
    // once and rescales at maxTotal. A total that starts at or below
    // maxTotal therefore never exceeds it.
    SymbolRange getRangeThenUpdateAndLimit(unsigned symbol, unsigned maxTotal)
    {
        assert(symbol < num);
        SymbolRange r = {unsigned(tab[symbol]), unsigned(tab[symbol + 1]), unsigned(tab[num])};
        update(symbol, 1);
        limit(maxTotal);
        return r;
    }

    // The symbol owning `code` (getSymbol), its range as
    // getRangeThenUpdateAndLimit returns it, and the same update.
    unsigned findRangeThenUpdateAndLimit(unsigned code, unsigned maxTotal, SymbolRange& range)
    {
        const unsigned symbol = getSymbol(code);
        range = getRangeThenUpdateAndLimit(symbol, maxTotal);
        return symbol;
    }

    // The cumulative count below `symbol` (0..num; num gives the total).
    unsigned cumulative(unsigned symbol) const
    {
        assert(symbol <= num);
        return unsigned(tab[symbol]);
    }

    // The total of all counts.
    unsigned getMax() const { return unsigned(tab[num]); }

    // The symbol s with tab[s] <= code < tab[s + 1]. Requires code below the
    // total and an alphabet of at least two symbols. Changes nothing.
    unsigned getSymbol(unsigned code) const
    {
        assert(num > 1);
        assert(code < tab[num]);
        // Small symbols dominate after move-to-front or distance coding, so
        // test the first two directly before searching.
        if (code < tab[1]) return 0;
        if (code < tab[2]) return 1;
        unsigned lo = 0;
        unsigned hi = num;
        while (hi - lo > 1) {
            unsigned mid = (lo + hi) / 2;
            if (code < tab[mid])
                hi = mid;
            else
                lo = mid;
        }
        return lo;
    }

protected:
    unsigned num;               // alphabet size; symbols are 0..num-1
    std::unique_ptr<T[]> tab;   // num + 1 cumulative counts: tab[0] = 0, tab[num] = total
};

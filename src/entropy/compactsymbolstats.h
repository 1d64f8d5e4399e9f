#pragma once
// Adaptive frequency model for small alphabets whose total stays below 2^16,
// such as the value buckets of distance coding (at most 57 symbols, halved
// at 4096).
//
// Counts are kept as 16-bit numbers, eight to a 16-byte vector, in two
// levels: per vector of eight symbols the running sums inside it (lane j:
// the counts of its symbols 0..j), and one row of bases (lane v: the counts
// of every symbol below vector v; lane `vectors` is the total). For up to
// 56 symbols the bases fit one vector, so finding a symbol is two vector
// compares and counting it two vector adds, with no branch that depends on
// the data. The ranges and the halving are exactly those of
// PlainSymbolStats (plainsymbolstats.h).
//
// Every count c is stored as c - 32768, a signed 16-bit number, because
// SSE2 compares 16-bit lanes as signed only. Lanes past the last symbol and
// past the total hold 32767 (65535): no code reaches them, and saturating
// adds leave them there, so updates need no mask at the end. Both levels
// rise from lane to lane, so the lanes a code reaches form a prefix, and
// its length is where the compare mask starts.

#include "entropy/symbolrange.h"

#include <cassert>
#include <cstdint>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace compact_detail {

// row[k][i] = all ones for lanes i >= k (k = 8: none), masks for an increment.
struct FromLane {
    alignas(16) std::int16_t row[9][8];
    constexpr FromLane() : row()
    {
        for (unsigned k = 0; k <= 8; ++k)
            for (unsigned i = 0; i < 8; ++i) row[k][i] = i >= k ? -1 : 0;
    }
};

} // namespace compact_detail

class CompactSymbolStats {
public:
    static constexpr unsigned lanes = 8;
    // Largest total the 16-bit counts can hold.
    static constexpr unsigned maxCapacity = 65535;

    // num = 0 gives an empty model that needs reset() before use; otherwise
    // every one of the num symbols starts with count 1 (total num). The
    // total, num included, must never exceed maxCapacity: callers halve at
    // a limit no larger.
    explicit CompactSymbolStats(unsigned num) : num(0), vectors(0), baseVectors(0) { reset(num); }

    // Rebuilds the model for a new alphabet size, as the constructor does.
    // If the allocation fails the model is left empty and std::bad_alloc
    // propagates.
    void reset(unsigned newNum)
    {
        store.reset();
        num = vectors = baseVectors = 0;
        inner = base = nullptr;
        if (newNum == 0) return;
        assert(newNum <= maxCapacity);
        const unsigned newVectors = (newNum + lanes - 1) / lanes;
        // Bases 0..vectors, and at least that one lane more.
        const unsigned newBaseVectors = newVectors / lanes + 1;
        store.reset(new std::int16_t[lanes * (newVectors + newBaseVectors)]);
        num = newNum;
        vectors = newVectors;
        baseVectors = newBaseVectors;
        inner = store.get();
        base = inner + lanes * vectors;
        rebuild([](unsigned) { return 1u; });
    }

    // Adds `increment` to the count of `symbol` (and so to the total, which
    // must stay within maxCapacity).
    void update(unsigned symbol, unsigned increment)
    {
        assert(symbol < num);
        assert(getMax() + increment <= maxCapacity);
        // Added in steps that fit a signed 16-bit lane.
        for (; increment > 32767; increment -= 32767) addFrom(symbol, 32767);
        addFrom(symbol, increment);
    }

    // Halves every count (rounding down, but never below 1) when the total
    // equals maxTotal exactly; otherwise does nothing.
    void limit(unsigned maxTotal)
    {
        if (getMax() == maxTotal) halve();
    }

    // Returns the range of `symbol` as it is now, then counts the symbol
    // once and rescales at maxTotal (at most maxCapacity).
    SymbolRange getRangeThenUpdateAndLimit(unsigned symbol, unsigned maxTotal)
    {
        assert(symbol < num);
        return rangeThenUpdate(symbol / lanes, symbol % lanes, maxTotal);
    }

    // The symbol owning `code` (as getSymbol), its range as
    // getRangeThenUpdateAndLimit returns it, and the same update.
    unsigned findRangeThenUpdateAndLimit(unsigned code, unsigned maxTotal, SymbolRange& range)
    {
        unsigned v, j;
        locate(code, v, j);
        range = rangeThenUpdate(v, j, maxTotal);
        return lanes * v + j;
    }

    // The cumulative count below `symbol` (0..num; num gives the total).
    unsigned cumulative(unsigned symbol) const
    {
        assert(symbol <= num);
        if (symbol == num) return getMax();
        return count(base[symbol / lanes]) + below(symbol / lanes, symbol % lanes);
    }

    // The total of all counts.
    unsigned getMax() const { return count(base[vectors]); }

    // The symbol s with cumulative(s) <= code < cumulative(s + 1). Requires
    // code below the total and an alphabet of at least two symbols. Changes
    // nothing.
    unsigned getSymbol(unsigned code) const
    {
        unsigned v, j;
        locate(code, v, j);
        return lanes * v + j;
    }

protected:
    static constexpr std::int16_t padding = 32767;

    static std::int16_t stored(unsigned c) { return std::int16_t(int(c) - 32768); }
    static unsigned count(std::int16_t x) { return unsigned(int(x) + 32768); }

    // Counts of symbols 8v..8v+j-1: the running sum before lane j.
    unsigned below(unsigned v, unsigned j) const { return j == 0 ? 0 : count(inner[lanes * v + j - 1]); }

    // Vector v and lane j of the symbol owning `code`.
    void locate(unsigned code, unsigned& v, unsigned& j) const
    {
        assert(num > 1);
        assert(code < getMax());
        // v: the bases that do not exceed the code, less one (base 0 is 0);
        // the total and the padding always exceed it.
        v = prefixAtMost(base, code) - 1;
        j = prefixAtMost(inner + lanes * v, code - count(base[v]));
    }

    // The lanes from p on, up to the first one above `code`, counted a
    // vector at a time; one such lane must come.
    static unsigned prefixAtMost(const std::int16_t* p, unsigned code)
    {
#if defined(__SSE2__)
        const __m128i key = _mm_set1_epi16(stored(code));
        for (unsigned n = 0;; n += lanes, p += lanes) {
            const unsigned above = unsigned(_mm_movemask_epi8(_mm_cmpgt_epi16(load(p), key)));
            if (above != 0) return n + unsigned(__builtin_ctz(above)) / 2;
        }
#else
        const std::int16_t key = stored(code);
        unsigned n = 0;
        while (p[n] <= key) ++n;
        return n;
#endif
    }

    SymbolRange rangeThenUpdate(unsigned v, unsigned j, unsigned maxTotal)
    {
        assert(maxTotal <= maxCapacity);
        const unsigned total = getMax();
        const unsigned low = count(base[v]) + below(v, j);
        const SymbolRange r = {low, count(base[v]) + count(inner[lanes * v + j]), total};
        add(v, j, 1);
        if (total + 1 == maxTotal) halve();
        return r;
    }

    void addFrom(unsigned symbol, unsigned increment) { add(symbol / lanes, symbol % lanes, increment); }

    // Adds `increment` (at most 32767) to the count of symbol 8v + j: to
    // lanes j..7 of vector v and to the bases above v.
    void add(unsigned v, unsigned j, unsigned increment)
    {
#if defined(__SSE2__)
        const __m128i by = _mm_set1_epi16(std::int16_t(increment));
        std::int16_t* p = inner + lanes * v;
        store16(p, _mm_adds_epi16(load(p), _mm_and_si128(load(fromLane.row[j]), by)));
        // The vector of bases holding lane v + 1 adds from there on, the
        // later ones (more than 56 symbols) in full.
        const unsigned b = v + 1;
        p = base + lanes * (b / lanes);
        store16(p, _mm_adds_epi16(load(p), _mm_and_si128(load(fromLane.row[b % lanes]), by)));
        for (p += lanes; p < base + lanes * baseVectors; p += lanes) store16(p, _mm_adds_epi16(load(p), by));
#else
        for (unsigned i = j; i < lanes && lanes * v + i < num; ++i) inner[lanes * v + i] = std::int16_t(inner[lanes * v + i] + int(increment));
        for (unsigned i = v + 1; i <= vectors; ++i) base[i] = std::int16_t(base[i] + int(increment));
#endif
    }

    // Halves every count, never below 1. Rare: kept out of line.
    __attribute__((noinline)) void halve()
    {
        rebuild([this](unsigned s) {
            const unsigned n = count(inner[s]) - below(s / lanes, s % lanes);
            return n / 2 == 0 ? 1u : n / 2;
        });
    }

    // Sets every count to countOf(s), read before anything of symbol s or
    // later is written, and fills both levels and the padding.
    template <typename CountOf>
    void rebuild(CountOf countOf)
    {
        unsigned total = 0;
        for (unsigned v = 0; v < vectors; ++v) {
            const unsigned vectorBase = total;
            // The counts of a vector are read before its lanes change.
            unsigned counts[lanes];
            for (unsigned j = 0; j < lanes; ++j) counts[j] = lanes * v + j < num ? countOf(lanes * v + j) : 0;
            for (unsigned j = 0; j < lanes; ++j) {
                total += counts[j];
                inner[lanes * v + j] = lanes * v + j < num ? stored(total - vectorBase) : padding;
            }
            base[v] = stored(vectorBase);
        }
        base[vectors] = stored(total);
        for (unsigned i = vectors + 1; i < lanes * baseVectors; ++i) base[i] = padding;
    }

    static constexpr compact_detail::FromLane fromLane{};

#if defined(__SSE2__)
    // Loads and stores through a vector of int16_t that, unlike __m128i, may
    // alias nothing but int16_t: the coder's state in the caller stays in
    // registers across an update.
    typedef std::int16_t Lanes __attribute__((vector_size(16), aligned(2)));
    static __m128i load(const std::int16_t* p) { return __m128i(*reinterpret_cast<const Lanes*>(p)); }
    static void store16(std::int16_t* p, __m128i x) { *reinterpret_cast<Lanes*>(p) = Lanes(x); }
#endif

    unsigned num;                           // alphabet size; symbols are 0..num-1
    unsigned vectors;                       // ceil(num / 8)
    unsigned baseVectors;                   // vectors / 8 + 1
    std::unique_ptr<std::int16_t[]> store;  // inner, then base
    std::int16_t* inner;                    // vectors * 8 running sums inside each vector
    std::int16_t* base;                     // baseVectors * 8 bases; base[vectors] = total
};

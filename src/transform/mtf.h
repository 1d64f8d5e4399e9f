#pragma once
// Move-to-front ranking: each symbol is replaced by its position in a
// recency list, and the list is updated so that the symbol comes first.
// A fresh coder or decoder starts from the list 0, 1, 2, ... so the two
// sides stay in step when they see the same sequence from the start.

#include <cassert>
#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace mtfdetail {

// Ranks after a BWT are mostly tiny, where plain loops beat library calls;
// random data has ranks around 128, where memchr and memmove win.
constexpr unsigned shortWalk = 16;

// Moves entries 0..count-1 of `list` one place back (entry count is lost).
template <class T>
inline void shiftDown(T* list, unsigned count)
{
    static_assert(std::is_trivially_copyable<T>::value, "list entries are moved as bytes");
    if (count < shortWalk) {
        for (unsigned j = count; j > 0; --j) list[j] = list[j - 1];
    } else {
        std::memmove(list + 1, list, count * sizeof(T));
    }
}

// Position of `symbol` in `list` (of `size` entries), searching from entry 1.
// The symbol must be present.
template <class T>
inline unsigned position(const T* list, unsigned size, T symbol)
{
    unsigned i = 1;
    const unsigned walk = size < shortWalk ? size : shortWalk;
    for (; i < walk; ++i)
        if (list[i] == symbol) return i;
    if constexpr (sizeof(T) == 1) {
        const void* hit = std::memchr(list + i, static_cast<unsigned char>(symbol), size - i);
        assert(hit != nullptr);
        return static_cast<unsigned>(static_cast<const T*>(hit) - list);
    } else {
        while (list[i] != symbol) {
            ++i;
            assert(i < size);
        }
        return i;
    }
}

// Byte lists of all 256 values, the common case, step 16 entries at a time.
// The portable forms are the reference for the vector ones and stand in for
// them where SSE2 is missing.

// Moves `symbol` to the front of the 256-entry permutation `list`, the
// entries before it one place back; returns its former place.
inline unsigned symbolToFrontPortable(unsigned char* list, unsigned char symbol)
{
    unsigned p = 0;
    while (list[p] != symbol) {
        ++p;
        assert(p < 256 && "the list holds every byte value");
    }
    for (unsigned j = p; j > 0; --j) list[j] = list[j - 1];
    list[0] = symbol;
    return p;
}

// Moves the entry at `rank` (< 256) of the 256-entry `list` to the front,
// the entries before it one place back; returns that entry.
inline unsigned char rankToFrontPortable(unsigned char* list, unsigned rank)
{
    assert(rank < 256);
    const unsigned char symbol = list[rank];
    for (unsigned j = rank; j > 0; --j) list[j] = list[j - 1];
    list[0] = symbol;
    return symbol;
}

#if defined(__SSE2__)
// Stores the 16 entries `block` one place back at `at`, the first lane taking
// the last entry of `carry`; with `lastLane` < 16 only lanes 0..lastLane
// change, the block's place in the list where the moved entry came from.
inline void storeShifted(unsigned char* at, __m128i block, __m128i carry, unsigned lastLane)
{
    const __m128i shifted = _mm_or_si128(_mm_slli_si128(block, 1), _mm_srli_si128(carry, 15));
    if (lastLane >= 15) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(at), shifted);
        return;
    }
    const __m128i lanes = _mm_set_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
    const __m128i low = _mm_cmpgt_epi8(_mm_set1_epi8(static_cast<char>(lastLane + 1)), lanes);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at),
                     _mm_or_si128(_mm_and_si128(low, shifted), _mm_andnot_si128(low, block)));
}

// Entries up to this place move in 16-byte blocks; a longer shift is left to
// memmove, which moves wider blocks without a loop.
constexpr unsigned blockShiftLimit = 64;

inline unsigned symbolToFront(unsigned char* list, unsigned char symbol)
{
    if (list[0] == symbol) return 0;
    // Near the front, search and shift in one pass: every block before the
    // symbol's moves back whole, taking its first entry from the block before
    // (the symbol itself for the first block).
    const __m128i wanted = _mm_set1_epi8(static_cast<char>(symbol));
    __m128i carry = wanted;
    unsigned base = 0;
    for (; base < blockShiftLimit; base += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(list + base));
        const unsigned hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, wanted)));
        if (hits != 0) {
            const unsigned lane = static_cast<unsigned>(__builtin_ctz(hits));
            storeShifted(list + base, block, carry, lane);
            return base + lane;
        }
        storeShifted(list + base, block, carry, 15);
        carry = block;
    }
    // Further back, search first, then move the rest of the way at once.
    unsigned hits;
    for (;; base += 16) {
        assert(base < 256 && "the list holds every byte value");
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(list + base));
        hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, wanted)));
        if (hits != 0) break;
    }
    const unsigned p = base + static_cast<unsigned>(__builtin_ctz(hits));
    // The entry that left the last shifted block, now at its end in `carry`.
    const unsigned char bridge = static_cast<unsigned char>(_mm_cvtsi128_si32(_mm_srli_si128(carry, 15)));
    std::memmove(list + blockShiftLimit + 1, list + blockShiftLimit, p - blockShiftLimit);
    list[blockShiftLimit] = bridge;
    return p;
}

inline unsigned char rankToFront(unsigned char* list, unsigned rank)
{
    assert(rank < 256);
    const unsigned char symbol = list[rank];
    if (rank == 0) return symbol;
    if (rank < blockShiftLimit) {
        __m128i carry = _mm_set1_epi8(static_cast<char>(symbol));
        const unsigned lastBase = rank & ~15u;
        for (unsigned base = 0; base < lastBase; base += 16) {
            const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(list + base));
            storeShifted(list + base, block, carry, 15);
            carry = block;
        }
        storeShifted(list + lastBase, _mm_loadu_si128(reinterpret_cast<const __m128i*>(list + lastBase)), carry,
                     rank & 15);
        return symbol;
    }
    std::memmove(list + 1, list, rank);
    list[0] = symbol;
    return symbol;
}

#else
inline unsigned symbolToFront(unsigned char* list, unsigned char symbol)
{
    return symbolToFrontPortable(list, symbol);
}

inline unsigned char rankToFront(unsigned char* list, unsigned rank)
{
    return rankToFrontPortable(list, rank);
}
#endif

} // namespace mtfdetail

// `Vector`: byte lists of 256 entries take the 16-at-a-time path; false
// keeps the plain loops everywhere (the reference in the tests).
template <class T, bool Vector = true>
class MTFCoder {
public:
    // A list of `size` entries, entry i holding i reduced to T.
    explicit MTFCoder(unsigned size) : list(new T[size]), listSize(size)
    {
        for (unsigned i = 0; i < size; ++i) list[i] = static_cast<T>(i);
    }
    MTFCoder(const MTFCoder&) = delete;
    MTFCoder& operator=(const MTFCoder&) = delete;

    // Returns the position of `symbol` before the update and moves it to the
    // front. The symbol must be in the list (always true for a list of at
    // least 256 bytes).
    T encode(T symbol)
    {
        T* l = list.get();
        if constexpr (Vector && sizeof(T) == 1) {
            if (listSize == 256)
                return static_cast<T>(mtfdetail::symbolToFront(reinterpret_cast<unsigned char*>(l),
                                                                static_cast<unsigned char>(symbol)));
        }
        if (l[0] == symbol) return 0;
        const unsigned i = mtfdetail::position(l, listSize, symbol);
        mtfdetail::shiftDown(l, i);
        l[0] = symbol;
        return static_cast<T>(i);
    }

private:
    std::unique_ptr<T[]> list;
    unsigned listSize;
};

template <class T, bool Vector = true>
class MTFDecoder {
public:
    // A list of `size` entries, entry i holding i reduced to T.
    explicit MTFDecoder(unsigned size) : list(new T[size]), listSize(size)
    {
        for (unsigned i = 0; i < size; ++i) list[i] = static_cast<T>(i);
    }
    MTFDecoder(const MTFDecoder&) = delete;
    MTFDecoder& operator=(const MTFDecoder&) = delete;

    // Returns the symbol at position `rank` and moves it to the front.
    // rank < list size (always true for byte ranks and a list of 256).
    T decode(T rank)
    {
        const unsigned r = static_cast<unsigned>(rank);
        assert(r < listSize);
        T* l = list.get();
        if constexpr (Vector && sizeof(T) == 1) {
            if (listSize == 256) return static_cast<T>(mtfdetail::rankToFront(reinterpret_cast<unsigned char*>(l), r));
        }
        const T symbol = l[r];
        mtfdetail::shiftDown(l, r);
        l[0] = symbol;
        return symbol;
    }

    // The symbol at the front, which rank 0 decodes to (without changing
    // the list); lets a caller expand a run of rank 0 in one step.
    T front() const { return list[0]; }

private:
    std::unique_ptr<T[]> list;
    unsigned listSize;
};

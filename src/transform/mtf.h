#pragma once
// Move-to-front ranking: each symbol is replaced by its position in a
// recency list, and the list is updated so that the symbol comes first.
// A fresh coder or decoder starts from the list 0, 1, 2, ... so the two
// sides stay in step when they see the same sequence from the start.

#include <cassert>
#include <cstring>
#include <memory>
#include <type_traits>

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

} // namespace mtfdetail

template <class T>
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

template <class T>
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

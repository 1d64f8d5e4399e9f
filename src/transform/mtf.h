#pragma once
// Move-to-front ranking: each symbol is replaced by its position in a
// recency list, and the list is updated so that the symbol comes first.
// A fresh coder or decoder starts from the list 0, 1, 2, ... so the two
// sides stay in step when they see the same sequence from the start.

#include <cassert>
#include <memory>

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
        T carried = l[0];
        if (carried == symbol) return 0;
        // Shift entries down one place while searching, so the walk is also
        // the update; it stops at the symbol, whose slot takes the carry.
        unsigned i = 1;
        for (;; ++i) {
            assert(i < listSize);
            T current = l[i];
            l[i] = carried;
            if (current == symbol) break;
            carried = current;
        }
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
        unsigned r = static_cast<unsigned>(rank);
        assert(r < listSize);
        T* l = list.get();
        T symbol = l[r];
        // Ranks after a BWT are mostly tiny: a plain loop beats a memmove call.
        for (; r > 0; --r) l[r] = l[r - 1];
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

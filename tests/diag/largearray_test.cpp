// Big tables freed while a cache lives are handed to the thread's next
// tables that fit, never to another thread's, and given back with the cache.

#include "diag/largearray.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>

namespace {
const std::size_t big = std::size_t(5) << 20;  // entries of one byte
}

TEST(LargeArrayCache, ReusesFreedTablesThatFitOnItsThreadOnly)
{
    const void* first = nullptr;
    LargeArrayCache cache;
    {
        LargeArray<unsigned char> a(big);
        a[big - 1] = 7;  // the whole table is usable
        first = a.get();
    }
    {
        // A little larger still fits the rounded-up block; a far larger
        // one does not and gets fresh memory.
        LargeArray<unsigned char> b(big + 1000);
        EXPECT_EQ(b.get(), first);
        LargeArray<std::uint32_t> c(big);
        EXPECT_NE(static_cast<const void*>(c.get()), first);
        b[big + 999] = 1;
    }
    std::thread([first] {
        LargeArray<unsigned char> elsewhere(big);
        EXPECT_NE(elsewhere.get(), first) << "another thread has no cache";
    }).join();
    {
        LargeArrayCache inner;  // the innermost cache is used, and it is empty
        LargeArray<unsigned char> d(big);
        EXPECT_NE(d.get(), first);
    }
    LargeArray<unsigned char> e(big);
    EXPECT_EQ(e.get(), first);
    LargeArray<unsigned char> small(100);  // ordinary heap memory, never kept
    small[99] = 1;
}

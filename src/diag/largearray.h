#pragma once

// Storage for the big per-block tables (suffix array, inverse-transform
// rows, distance values), uninitialised.
//
// Fresh memory is costly (the kernel clears every page on first touch), so
// a thread may keep what it frees for its next tables: see LargeArrayCache.
//
// Transparent huge pages were tried for these tables and left out: they cut
// page faults and TLB misses, but fresh huge pages cost more than they saved
// on the virtual machines measured here (the host takes back free memory in
// 2 MiB pieces and must supply them again), and the times swung by a third
// from one run to the next.

#include <cstddef>
#include <cstdlib>
#include <new>
#include <type_traits>

namespace largearray_detail {
struct Block {
    void* data;
    std::size_t capacity;  // bytes usable at data
};
Block allocateLarge(std::size_t bytes);
void releaseLarge(Block block) noexcept;
}  // namespace largearray_detail

// Uninitialised storage for `count` plain values.
template <class T>
class LargeArray {
    static_assert(std::is_trivial<T>::value, "uninitialised storage of plain values only");

public:
    LargeArray() = default;
    explicit LargeArray(std::size_t count) : block_(largearray_detail::allocateLarge(count * sizeof(T))), size_(count) {}
    ~LargeArray() { largearray_detail::releaseLarge(block_); }
    LargeArray(LargeArray&& other) noexcept : block_(other.block_), size_(other.size_)
    {
        other.block_ = {};
        other.size_ = 0;
    }
    LargeArray& operator=(LargeArray&& other) noexcept
    {
        if (this != &other) {
            largearray_detail::releaseLarge(block_);
            block_ = other.block_;
            size_ = other.size_;
            other.block_ = {};
            other.size_ = 0;
        }
        return *this;
    }
    LargeArray(const LargeArray&) = delete;
    LargeArray& operator=(const LargeArray&) = delete;

    T* get() const { return static_cast<T*>(block_.data); }
    std::size_t size() const { return size_; }
    T& operator[](std::size_t i) const { return get()[i]; }
    void reset()
    {
        largearray_detail::releaseLarge(block_);
        block_ = {};
        size_ = 0;
    }

private:
    largearray_detail::Block block_{};
    std::size_t size_ = 0;
};

// While an object of this class lives, the large tables its thread frees are
// kept (a few at most) and handed out again to the thread's next tables that
// fit, instead of going back to the system; they are released with it. A
// worker that codes block after block holds one, so the second block's
// tables cost no fresh pages. Objects nest; the innermost one is used.
class LargeArrayCache {
public:
    LargeArrayCache();
    ~LargeArrayCache();
    LargeArrayCache(const LargeArrayCache&) = delete;
    LargeArrayCache& operator=(const LargeArrayCache&) = delete;

    static constexpr unsigned slots = 2;

private:
    friend largearray_detail::Block largearray_detail::allocateLarge(std::size_t);
    friend void largearray_detail::releaseLarge(largearray_detail::Block) noexcept;

    largearray_detail::Block kept_[slots] = {};
    LargeArrayCache* outer_;
};

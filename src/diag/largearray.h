#pragma once

// Storage for the big per-block tables (suffix array, inverse-transform
// rows). They are read and written at random, so on Linux they ask for
// transparent huge pages: a 40 MiB table then costs 20 page faults instead of
// ten thousand, and its random accesses stop missing the TLB. Elsewhere, or
// when the kernel declines, this is plain heap memory.

#include <cstddef>
#include <cstdlib>
#include <new>
#include <type_traits>

namespace largearray_detail {
void* allocateLarge(std::size_t bytes);
void releaseLarge(void* p) noexcept;
}  // namespace largearray_detail

template <class T>
class LargeArray {
    static_assert(std::is_trivial<T>::value, "uninitialised storage of plain values only");

public:
    LargeArray() = default;
    explicit LargeArray(std::size_t count)
        : data_(static_cast<T*>(largearray_detail::allocateLarge(count * sizeof(T)))), size_(count)
    {
    }
    ~LargeArray() { largearray_detail::releaseLarge(data_); }
    LargeArray(LargeArray&& other) noexcept : data_(other.data_), size_(other.size_)
    {
        other.data_ = nullptr;
        other.size_ = 0;
    }
    LargeArray& operator=(LargeArray&& other) noexcept
    {
        if (this != &other) {
            largearray_detail::releaseLarge(data_);
            data_ = other.data_;
            size_ = other.size_;
            other.data_ = nullptr;
            other.size_ = 0;
        }
        return *this;
    }
    LargeArray(const LargeArray&) = delete;
    LargeArray& operator=(const LargeArray&) = delete;

    T* get() const { return data_; }
    std::size_t size() const { return size_; }
    T& operator[](std::size_t i) const { return data_[i]; }
    void reset()
    {
        largearray_detail::releaseLarge(data_);
        data_ = nullptr;
        size_ = 0;
    }

private:
    T* data_ = nullptr;
    std::size_t size_ = 0;
};

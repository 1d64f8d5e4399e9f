#include "diag/largearray.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace largearray_detail {

namespace {
// The size of a transparent huge page on the common Linux targets; smaller
// tables are left to the ordinary allocator.
const std::size_t hugePage = std::size_t(2) << 20;
}

void* allocateLarge(std::size_t bytes)
{
    if (bytes == 0) return nullptr;
    if (bytes < hugePage) {
        void* p = std::malloc(bytes);
        if (!p) throw std::bad_alloc();
        return p;
    }
    void* p = nullptr;
    if (posix_memalign(&p, hugePage, bytes) != 0) throw std::bad_alloc();
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    // Advice only: a kernel without huge pages refuses it and the memory
    // works as before.
    madvise(p, bytes - bytes % hugePage, MADV_HUGEPAGE);
#endif
    return p;
}

void releaseLarge(void* p) noexcept { std::free(p); }

}  // namespace largearray_detail

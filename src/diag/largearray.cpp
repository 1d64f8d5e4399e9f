#include "diag/largearray.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace {

// The size of a transparent huge page on the common Linux targets; smaller
// tables are left to the ordinary allocator and never kept. Big ones are
// aligned to it either way.
const std::size_t hugePage = std::size_t(2) << 20;

thread_local LargeArrayCache* innermost = nullptr;

}  // namespace

LargeArrayCache::LargeArrayCache() : outer_(innermost) { innermost = this; }

LargeArrayCache::~LargeArrayCache()
{
    innermost = outer_;
    for (largearray_detail::Block& block : kept_) std::free(block.data);
}

namespace largearray_detail {

Block allocateLarge(std::size_t bytes, Pages pages)
{
    if (bytes == 0) return {};
    if (bytes < hugePage) {
        void* p = std::malloc(bytes);
        if (!p) throw std::bad_alloc();
        return {p, bytes, Pages::ordinary};
    }
    if (LargeArrayCache* cache = innermost) {
        // The smallest kept block that fits.
        Block* best = nullptr;
        for (Block& block : cache->kept_)
            if (block.data && block.pages == pages && block.capacity >= bytes &&
                (!best || block.capacity < best->capacity))
                best = &block;
        if (best) {
            const Block taken = *best;
            *best = {};
            return taken;
        }
    }
    // Rounded up past the next huge page, so tables a little larger than
    // the one just freed (a suffix array of n entries, then n + 2 distance
    // values) still fit it. Pages never touched cost nothing.
    const std::size_t capacity = (bytes / hugePage + 1) * hugePage;
    void* p = nullptr;
    if (posix_memalign(&p, hugePage, capacity) != 0) throw std::bad_alloc();
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    // Advice only: a kernel without huge pages refuses it and the memory
    // works as before.
    if (pages == Pages::huge) madvise(p, capacity, MADV_HUGEPAGE);
#endif
    return {p, capacity, pages};
}

void releaseLarge(Block block) noexcept
{
    if (!block.data) return;
    LargeArrayCache* cache = innermost;
    if (!cache || block.capacity < hugePage) {
        std::free(block.data);
        return;
    }
    // Into an empty slot, or in place of a smaller kept block.
    Block* slot = &cache->kept_[0];
    for (Block& kept : cache->kept_)
        if (!kept.data || kept.capacity < slot->capacity) slot = &kept;
    if (slot->data && slot->capacity >= block.capacity) {
        std::free(block.data);
        return;
    }
    std::free(slot->data);
    *slot = block;
}

}  // namespace largearray_detail

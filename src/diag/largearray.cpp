#include "diag/largearray.h"

namespace {

// Smaller tables are left to the ordinary allocator and never kept. Big
// ones get this much room to spare, so that a table a little larger than
// the one just freed (a suffix array of n entries, then n + 256 distance
// values) still fits it; pages never touched cost nothing.
const std::size_t bigTable = std::size_t(2) << 20;

thread_local LargeArrayCache* innermost = nullptr;

}  // namespace

LargeArrayCache::LargeArrayCache() : outer_(innermost) { innermost = this; }

LargeArrayCache::~LargeArrayCache()
{
    innermost = outer_;
    for (largearray_detail::Block& block : kept_) std::free(block.data);
}

namespace largearray_detail {

Block allocateLarge(std::size_t bytes)
{
    if (bytes == 0) return {};
    if (bytes < bigTable) {
        void* p = std::malloc(bytes);
        if (!p) throw std::bad_alloc();
        return {p, bytes};
    }
    if (LargeArrayCache* cache = innermost) {
        // The smallest kept block that fits.
        Block* best = nullptr;
        for (Block& block : cache->kept_)
            if (block.data && block.capacity >= bytes && (!best || block.capacity < best->capacity)) best = &block;
        if (best) {
            const Block taken = *best;
            *best = {};
            return taken;
        }
    }
    const std::size_t capacity = bytes + bigTable;
    void* p = std::malloc(capacity);
    if (!p) throw std::bad_alloc();
    return {p, capacity};
}

void releaseLarge(Block block) noexcept
{
    if (!block.data) return;
    LargeArrayCache* cache = innermost;
    if (!cache || block.capacity < bigTable) {
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

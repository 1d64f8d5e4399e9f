#pragma once
// Pieces shared by the adaptive and the static move-to-front stages: the
// primary index check, and the move-to-front pass fused with zero-run coding
// in both directions.

#include "blockcodec/observer.h"
#include "diag/exception.h"
#include "transform/mtf.h"
#include "transform/rle0.h"

#include <cstring>
#include <string>

namespace mtfpipeline {

// Rejects a primary index that cannot belong to a block of `size` bytes; the
// inverse transform starts from that row.
inline void checkPrimaryIndex(unsigned index, unsigned size)
{
    require(index < size, "Error in compressed file (primary index " + std::to_string(index) +
                              " is outside a block of " + std::to_string(size) + " bytes)");
}

// Replaces each of the `size` bytes at `data` by its move-to-front rank and
// hands the coded symbols to `emit(unsigned symbol)` in order: the ranks
// themselves, or with `zeroRuns` the zero-run symbols of the ranks. With
// `zeroRuns` and an observer that wants them, also reports the start of the
// zero-run symbols and each symbol; the caller reports their end. Returns
// the symbol count.
template <class Emit>
unsigned rankAndEmit(char* data, unsigned size, bool zeroRuns, BlockObserver* observer, Emit&& emit)
{
    MTFCoder<unsigned char> mtf(256);
    unsigned char* bytes = reinterpret_cast<unsigned char*>(data);
    if (!zeroRuns) {
        for (unsigned i = 0; i < size; ++i) {
            unsigned char rank = mtf.encode(bytes[i]);
            bytes[i] = rank;
            emit(unsigned(rank));
        }
        return size;
    }
    BlockObserver* const watcher = observer != nullptr && observer->wantsZeroRunSymbols() ? observer : nullptr;
    if (watcher) watcher->zeroRunStarted(size);
    auto runs = makeZeroRunEncoder([&emit, watcher](unsigned symbol) {
        if (watcher) watcher->zeroRunSymbol(symbol);
        emit(symbol);
    });
    for (unsigned i = 0; i < size; ++i) {
        unsigned char rank = mtf.encode(bytes[i]);
        bytes[i] = rank;
        runs.put(rank);
    }
    runs.finish();
    return runs.symbolCount();
}

// Rebuilds the `size` bytes of a transformed block into `out` from coded
// symbols supplied by `nextSymbol()`: ranks 0..255, or with `zeroRuns`
// zero-run symbols 0..256. Reads no symbol once the block is full. Throws
// Exception when a zero run passes the end of the block.
template <class Next>
void unrank(char* out, unsigned size, bool zeroRuns, Next&& nextSymbol)
{
    MTFDecoder<unsigned char> mtf(256);
    unsigned char* bytes = reinterpret_cast<unsigned char*>(out);
    if (!zeroRuns) {
        for (unsigned i = 0; i < size; ++i) bytes[i] = mtf.decode(static_cast<unsigned char>(nextSymbol()));
        return;
    }
    decodeZeroRuns(
        size, nextSymbol,
        [&](unsigned pos, unsigned rank) { bytes[pos] = mtf.decode(static_cast<unsigned char>(rank)); },
        // Rank 0 repeats the front symbol and leaves the list as it is.
        [&](unsigned pos, unsigned count) { std::memset(bytes + pos, mtf.front(), count); });
}

} // namespace mtfpipeline

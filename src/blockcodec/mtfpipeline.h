#pragma once
// Pieces shared by the adaptive and the static move-to-front block codecs:
// the primary index at the head of the payload, and the move-to-front pass
// fused with zero-run coding in both directions.

#include "diag/dump.h"
#include "diag/exception.h"
#include "diag/options.h"
#include "diag/timing.h"
#include "entropy/bitstream.h"
#include "transform/ibwt.h"
#include "transform/mtf.h"
#include "transform/rle0.h"

#include <cstring>
#include <iostream>
#include <memory>
#include <string>

namespace mtfpipeline {

// Writes the primary index as 32 bits, bit 0 first.
inline void putIndex(OutBitStream& bits, unsigned index)
{
    for (unsigned j = 0; j < 32; ++j) bits.putBit((index >> j) & 1);
}

// Reads `width` bits (bit 0 first) as an unsigned number; width <= 32.
inline unsigned getBits(InBitStream& bits, unsigned width)
{
    unsigned value = 0;
    for (unsigned j = 0; j < width; ++j) value |= bits.getBit() << j;
    return value;
}

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
// `zeroRuns` and printRLE0Data, also writes the zero-run dump's head and one
// token per symbol; the caller writes its tail. Returns the symbol count.
template <class Emit>
unsigned rankAndEmit(char* data, unsigned size, bool zeroRuns, Emit&& emit)
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
    const bool dump = printRLE0Data;
    if (dump) printRLE0DataHead(size);
    auto runs = makeZeroRunEncoder([&emit, dump](unsigned symbol) {
        if (dump) printRLE0DataToken(symbol);
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

// Ends a decoded block: inverse-transforms the rebuilt ranks' bytes in
// `work` into `data`, releases `work`, and prints the verbose timing lines
// (`codingLabel` names the decoding stage).
inline void finishDecodedBlock(char* data, std::unique_ptr<char[]>& work, unsigned dataSize, unsigned index,
                               const char* codingLabel, long blockStart, long decodingStart, long decodingEnd)
{
    if (verbose) std::cout << "   Performing iBWT..." << std::endl;
    const long ibwtStart = clockMillis();
    ibwt<char>(data, work.get(), dataSize, index);
    const long ibwtEnd = clockMillis();
    work.reset();
    const long blockEnd = clockMillis();

    if (verbose) {
        printTime(std::cout, codingLabel, decodingStart, decodingEnd);
        printTime(std::cout, "   iBWT time: ", ibwtStart, ibwtEnd);
        printTime(std::cout, "   Block decompression time: ", blockStart, blockEnd);
    }
}

} // namespace mtfpipeline

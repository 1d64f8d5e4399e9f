// Move-to-front stages with the static 18-bit arithmetic coder. Payload
// after the primary index: the scaled frequency of each symbol (16 bits
// each; 256 symbols, or 257 with zero-run coding), then the arithmetic code
// of the symbols.

#include "blockcodec/mtfpipeline.h"
#include "blockcodec/stages.h"
#include "blockcodec/staticcoder.h"
#include "diag/exception.h"
#include "diag/largearray.h"
#include "entropy/arithmeticcodec.h"
#include "entropy/cumulativelookup.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

using Decoder = ArithmeticDecoder<unsigned, unsigned long long, 18>;

constexpr unsigned frequencyBits = 16;

} // namespace

namespace stages {

void encodeMTFStatic(char* data, unsigned size, bool zeroRuns, OutBitStream& bits, BlockObserver* observer,
                     StageTimes& times)
{
    const unsigned symbolCount = zeroRuns ? zeroRunSymbolCount : 256;
    if (observer) observer->stageStarted(BlockStage::statistics);
    const long t0 = tick(observer);
    std::vector<unsigned> counts(symbolCount + 1, 0);
    StaticCoder coder(&bits, counts.data(), symbolCount);

    // First pass: ranks (and their zero-run symbols) are counted. Without
    // zero-run coding the ranks stay in the block for the second pass; with
    // it the symbols go to a buffer, which never outgrows the block.
    LargeArray<std::uint16_t> symbols(zeroRuns ? size : 0);
    if (zeroRuns) {
        std::uint16_t* next = symbols.get();
        coder.total = mtfpipeline::rankAndEmit(data, size, true, observer, [&](unsigned symbol) {
            *next++ = static_cast<std::uint16_t>(symbol);
            ++counts[symbol];
        });
        if (observer && observer->wantsZeroRunSymbols()) observer->zeroRunFinished(coder.total);
    } else {
        coder.total = mtfpipeline::rankAndEmit(data, size, false, observer, [&](unsigned rank) { ++counts[rank]; });
    }
    coder.start();
    if (observer) observer->mtfRanks(data, size);
    const long t1 = tick(observer);
    times.add("   Gathering symbol statistics time: ", t0, t1);

    if (observer) observer->stageStarted(BlockStage::coding);
    const long t2 = tick(observer);
    for (unsigned i = 0; i < symbolCount; ++i) {
        const unsigned frequency = counts[i + 1] - counts[i];
        for (unsigned j = 0; j < frequencyBits; ++j) bits.putBit((frequency >> j) & 1);
    }
    // Second pass: code every symbol with the fixed table.
    if (zeroRuns) {
        for (unsigned i = 0; i < coder.total; ++i) coder.encodeSymbol(symbols[i]);
    } else {
        const unsigned char* ranks = reinterpret_cast<const unsigned char*>(data);
        for (unsigned i = 0; i < size; ++i) coder.encodeSymbol(ranks[i]);
    }
    coder.flush();
    const long t3 = tick(observer);
    times.add(zeroRuns ? "   MTF + RLE0 + static arithmetic time: " : "   MTF + static arithmetic time: ", t2, t3);
}

Decoded decodeMTFStatic(PayloadInBitStream& bits, char* work, unsigned size, bool zeroRuns, BlockObserver* observer)
{
    const unsigned symbolCount = zeroRuns ? zeroRunSymbolCount : 256;
    if (observer) observer->stageStarted(BlockStage::decoding);
    const unsigned primary = getBits(bits, 32);
    if (observer) observer->primaryIndex(primary);
    mtfpipeline::checkPrimaryIndex(primary, size);
    Decoder decoder(&bits);
    std::vector<unsigned> table(symbolCount + 1, 0);
    for (unsigned i = 0; i < symbolCount; ++i) table[i] = getBits(bits, frequencyBits);
    decoder.start();
    unsigned sum = 0;
    for (unsigned i = 0; i <= symbolCount; ++i) {
        const unsigned frequency = table[i];
        table[i] = sum;
        sum += frequency;
    }
    const unsigned total = table[symbolCount];
    // The table comes from the file: an empty one has no symbol to decode,
    // and a total above maxStaticTotal would exceed the coder's range. Zero
    // frequencies are harmless: the search never lands on an empty interval.
    require(total > 0 && total <= maxStaticTotal,
            "Error in compressed file (symbol frequencies add up to " + std::to_string(total) + ", expected 1 to " +
                std::to_string(maxStaticTotal) + ")");
    const unsigned* cumulative = table.data();
    const CumulativeLookup lookup(cumulative, symbolCount);
    mtfpipeline::unrank(work, size, zeroRuns, [&]() {
        const unsigned s = lookup.find(decoder.decode(total));
        decoder.decodeExtract(cumulative[s], cumulative[s + 1], total);
        return s;
    });
    return {primary, decoder.lastFlushBit()};
}

} // namespace stages

// Move-to-front stages with the adaptive 16-bit arithmetic coder. Payload
// after the primary index: the arithmetic code of the ranks (256 symbols)
// or of their zero-run symbols (257 symbols).

#include "blockcodec/mtfpipeline.h"
#include "blockcodec/stages.h"
#include "entropy/arithmeticcodec.h"
#include "entropy/symbolstats.h"

namespace {

// The model halves its counts when their total reaches this, which keeps
// every total within the 16-bit coder's quarter range.
constexpr unsigned maxModelTotal = 16384;

using Coder = ArithmeticCoder<unsigned, unsigned, 16>;
using Decoder = ArithmeticDecoder<unsigned, unsigned, 16>;

} // namespace

namespace stages {

void encodeMTFAdaptive(char* data, unsigned size, bool zeroRuns, OutBitStream& bits, BlockObserver* observer,
                       StageTimes& times)
{
    if (observer) observer->stageStarted(BlockStage::coding);
    const long t0 = tick(observer);
    {
        Coder coder(&bits);
        AdaptiveSymbolStats<unsigned> model(zeroRuns ? zeroRunSymbolCount : 256);
        // One pass: rank, optional zero-run step and coding of each symbol
        // as it appears, with no symbol array in between.
        const unsigned symbolCount =
            mtfpipeline::rankAndEmit(data, size, zeroRuns, observer, [&](unsigned symbol) {
                SymbolRange r = model.getRangeThenUpdateAndLimit(symbol, maxModelTotal);
                coder.encode(r.low, r.high, r.total);
            });
        coder.flush();
        if (zeroRuns && observer && observer->wantsZeroRunSymbols()) observer->zeroRunFinished(symbolCount);
    }
    const long t1 = tick(observer);
    if (observer) observer->mtfRanks(data, size);
    times.add(zeroRuns ? "   MTF + RLE0 + adaptive arithmetic time: " : "   MTF + adaptive arithmetic time: ", t0,
              t1);
}

Decoded decodeMTFAdaptive(PayloadInBitStream& bits, char* work, unsigned size, bool zeroRuns, BlockObserver* observer)
{
    if (observer) observer->stageStarted(BlockStage::decoding);
    const unsigned primary = getBits(bits, 32);
    if (observer) observer->primaryIndex(primary);
    mtfpipeline::checkPrimaryIndex(primary, size);
    Decoder decoder(&bits);
    AdaptiveSymbolStats<unsigned> model(zeroRuns ? zeroRunSymbolCount : 256);
    decoder.start();
    mtfpipeline::unrank(work, size, zeroRuns, [&]() {
        const unsigned symbol = model.getSymbol(decoder.decode(model.getMax()));
        SymbolRange r = model.getRangeThenUpdateAndLimit(symbol, maxModelTotal);
        decoder.decodeExtract(r.low, r.high, r.total);
        return symbol;
    });
    return {primary, decoder.lastFlushBit()};
}

} // namespace stages

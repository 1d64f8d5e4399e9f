// Move-to-front block codec with the adaptive 16-bit arithmetic coder.
// Payload: the primary index (32 bits), then the arithmetic code of the
// ranks (256 symbols) or of their zero-run symbols (257 symbols).

#include "blockcodec/mtfcodec.h"
#include "blockcodec/mtfpipeline.h"
#include "diag/dump.h"
#include "diag/options.h"
#include "diag/timing.h"
#include "entropy/arithmeticcodec.h"
#include "entropy/bitstream.h"
#include "entropy/symbolstats.h"
#include "transform/bwt.h"
#include "transform/ibwt.h"
#include "transform/rle0.h"

#include <cassert>
#include <iostream>
#include <memory>

namespace {

// The model halves its counts when their total reaches this, which keeps
// every total within the 16-bit coder's quarter range.
constexpr unsigned maxModelTotal = 16384;

using Coder = ArithmeticCoder<unsigned, unsigned, 16>;
using Decoder = ArithmeticDecoder<unsigned, unsigned, 16>;

} // namespace

void packBlockMTFAdaptive(std::ostream& out, char* data, unsigned dataSize)
{
    assert(dataSize > 0);
    const bool zeroRuns = useRLE0;
    const long blockStart = clockMillis();
    if (printInputHist) printInputHistToFile(data, dataSize);

    if (verbose) std::cout << "   Performing BWT..." << std::endl;
    const long bwtStart = clockMillis();
    const unsigned index = bwt<char, unsigned>(data, dataSize);
    const long bwtEnd = clockMillis();
    if (verbose) std::cout << "      First suffix index: " << index << std::endl;
    if (printBWTData) printBWTDataToFile(data, dataSize, index);

    if (verbose) std::cout << "   Coding data to arithmetic stream..." << std::endl;
    const long codingStart = clockMillis();
    {
        StreamOutBitStream bits(bitStreamWords, &out);
        bits.reset();
        mtfpipeline::putIndex(bits, index);
        Coder coder(&bits);
        AdaptiveSymbolStats<unsigned> model(zeroRuns ? zeroRunSymbolCount : 256);
        // One pass: rank, optional zero-run step and coding of each symbol
        // as it appears, with no symbol array in between.
        const unsigned symbolCount = mtfpipeline::rankAndEmit(data, dataSize, zeroRuns, [&](unsigned symbol) {
            SymbolRange r = model.getRangeThenUpdateAndLimit(symbol, maxModelTotal);
            coder.encode(r.low, r.high, r.total);
        });
        coder.flush();
        if (zeroRuns && printRLE0Data) printRLE0DataTail(symbolCount);
        bits.flush();
    }
    const long codingEnd = clockMillis();
    const long blockEnd = clockMillis();

    if (printMTFData) printMTFDataToFile(data, dataSize);
    if (printMTFHist) printMTFHistToFile(data, dataSize);
    if (verbose) {
        printTime(std::cout, "   BWT time: ", bwtStart, bwtEnd);
        printTime(std::cout,
                  zeroRuns ? "   MTF + RLE0 + adaptive arithmetic time: " : "   MTF + adaptive arithmetic time: ",
                  codingStart, codingEnd);
        printTime(std::cout, "   Block compression time: ", blockStart, blockEnd);
    }
}

void unpackBlockMTFAdaptive(std::istream& in, char* data, unsigned dataSize)
{
    assert(dataSize > 0);
    const bool zeroRuns = useRLE0;
    const long blockStart = clockMillis();
    // The transformed block is rebuilt here, so `data` is written only by
    // the inverse transform, after the whole payload has decoded cleanly.
    std::unique_ptr<char[]> work(new char[dataSize]);
    StreamInBitStream bits(bitStreamWords, &in);

    if (verbose) std::cout << "   Decoding data from arithmetic stream..." << std::endl;
    const long decodingStart = clockMillis();
    const unsigned index = mtfpipeline::getBits(bits, 32);
    if (verbose) std::cout << "      First suffix index: " << index << std::endl;
    mtfpipeline::checkPrimaryIndex(index, dataSize);
    {
        Decoder decoder(&bits);
        AdaptiveSymbolStats<unsigned> model(zeroRuns ? zeroRunSymbolCount : 256);
        decoder.start();
        mtfpipeline::unrank(work.get(), dataSize, zeroRuns, [&]() {
            const unsigned symbol = model.getSymbol(decoder.decode(model.getMax()));
            SymbolRange r = model.getRangeThenUpdateAndLimit(symbol, maxModelTotal);
            decoder.decodeExtract(r.low, r.high, r.total);
            return symbol;
        });
    }
    const long decodingEnd = clockMillis();
    mtfpipeline::finishDecodedBlock(data, work, dataSize, index,
                                    zeroRuns ? "   iMTF + iRLE0 + adaptive arithmetic time: "
                                             : "   iMTF + adaptive arithmetic time: ",
                                    blockStart, decodingStart, decodingEnd);
}

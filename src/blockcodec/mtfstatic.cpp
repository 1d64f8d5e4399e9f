// Move-to-front block codec with the static 18-bit arithmetic coder.
// Payload: the primary index (32 bits), the scaled frequency of each symbol
// (16 bits each; 256 symbols, or 257 with zero-run coding), then the
// arithmetic code of the symbols.

#include "blockcodec/mtfcodec.h"
#include "blockcodec/mtfpipeline.h"
#include "blockcodec/staticcoder.h"
#include "diag/dump.h"
#include "diag/exception.h"
#include "diag/options.h"
#include "diag/timing.h"
#include "entropy/arithmeticcodec.h"
#include "entropy/bitstream.h"
#include "entropy/cumulativelookup.h"
#include "transform/bwt.h"
#include "transform/ibwt.h"
#include "transform/rle0.h"

#include <cassert>
#include <cstdint>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

using Decoder = ArithmeticDecoder<unsigned, unsigned long long, 18>;

constexpr unsigned frequencyBits = 16;

} // namespace

void packBlockMTFStatic(std::ostream& out, char* data, unsigned dataSize)
{
    assert(dataSize > 0);
    const bool zeroRuns = useRLE0;
    const unsigned symbolCount = zeroRuns ? zeroRunSymbolCount : 256;
    const long blockStart = clockMillis();
    if (printInputHist) printInputHistToFile(data, dataSize);

    StreamOutBitStream bits(bitStreamWords, &out);

    if (verbose) std::cout << "   Performing BWT..." << std::endl;
    const long bwtStart = clockMillis();
    const unsigned index = bwt<char, unsigned>(data, dataSize);
    const long bwtEnd = clockMillis();
    if (verbose) std::cout << "      First suffix index: " << index << std::endl;
    if (printBWTData) printBWTDataToFile(data, dataSize, index);

    if (verbose) std::cout << "   Gathering symbol statistics..." << std::endl;
    const long statsStart = clockMillis();
    std::vector<unsigned> counts(symbolCount + 1, 0);
    StaticCoder coder(&bits, counts.data(), symbolCount);

    // First pass: ranks (and their zero-run symbols) are counted. Without
    // zero-run coding the ranks stay in the block for the second pass; with
    // it the symbols go to a buffer, which never outgrows the block.
    std::vector<std::uint16_t> symbols;
    if (zeroRuns) {
        symbols.resize(dataSize);
        std::uint16_t* next = symbols.data();
        coder.total = mtfpipeline::rankAndEmit(data, dataSize, true, [&](unsigned symbol) {
            *next++ = static_cast<std::uint16_t>(symbol);
            ++counts[symbol];
        });
        if (printRLE0Data) printRLE0DataTail(coder.total);
    } else {
        coder.total = mtfpipeline::rankAndEmit(data, dataSize, false, [&](unsigned rank) { ++counts[rank]; });
    }
    coder.start();

    if (printMTFData) printMTFDataToFile(data, dataSize);
    if (printMTFHist) printMTFHistToFile(data, dataSize);
    const long statsEnd = clockMillis();

    if (verbose) std::cout << "   Coding data to arithmetic stream..." << std::endl;
    const long codingStart = clockMillis();
    bits.reset();
    mtfpipeline::putIndex(bits, index);
    for (unsigned i = 0; i < symbolCount; ++i) {
        const unsigned frequency = counts[i + 1] - counts[i];
        for (unsigned j = 0; j < frequencyBits; ++j) bits.putBit((frequency >> j) & 1);
    }
    // Second pass: code every symbol with the fixed table.
    if (zeroRuns) {
        for (unsigned i = 0; i < coder.total; ++i) coder.encodeSymbol(symbols[i]);
    } else {
        const unsigned char* ranks = reinterpret_cast<const unsigned char*>(data);
        for (unsigned i = 0; i < dataSize; ++i) coder.encodeSymbol(ranks[i]);
    }
    coder.flush();
    bits.flush();
    symbols = std::vector<std::uint16_t>();
    const long codingEnd = clockMillis();
    const long blockEnd = clockMillis();

    if (verbose) {
        printTime(std::cout, "   BWT time: ", bwtStart, bwtEnd);
        printTime(std::cout, "   Gathering symbol statistics time: ", statsStart, statsEnd);
        printTime(std::cout,
                  zeroRuns ? "   MTF + RLE0 + static arithmetic time: " : "   MTF + static arithmetic time: ",
                  codingStart, codingEnd);
        printTime(std::cout, "   Block compression time: ", blockStart, blockEnd);
    }
}

void unpackBlockMTFStatic(std::istream& in, char* data, unsigned dataSize)
{
    assert(dataSize > 0);
    const bool zeroRuns = useRLE0;
    const unsigned symbolCount = zeroRuns ? zeroRunSymbolCount : 256;
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
        std::vector<unsigned> table(symbolCount + 1, 0);
        for (unsigned i = 0; i < symbolCount; ++i) table[i] = mtfpipeline::getBits(bits, frequencyBits);
        decoder.start();
        unsigned sum = 0;
        for (unsigned i = 0; i <= symbolCount; ++i) {
            const unsigned frequency = table[i];
            table[i] = sum;
            sum += frequency;
        }
        const unsigned total = table[symbolCount];
        // The table comes from the file: an empty one has no symbol to
        // decode, and a total above maxStaticTotal would exceed the coder's
        // range. Zero frequencies are harmless: the search never lands on
        // an empty interval.
        require(total > 0 && total <= maxStaticTotal,
                "Error in compressed file (symbol frequencies add up to " + std::to_string(total) +
                    ", expected 1 to " + std::to_string(maxStaticTotal) + ")");
        const unsigned* cumulative = table.data();
        const CumulativeLookup lookup(cumulative, symbolCount);
        mtfpipeline::unrank(work.get(), dataSize, zeroRuns, [&]() {
            const unsigned s = lookup.find(decoder.decode(total));
            decoder.decodeExtract(cumulative[s], cumulative[s + 1], total);
            return s;
        });
    }
    const long decodingEnd = clockMillis();
    mtfpipeline::finishDecodedBlock(data, work, dataSize, index,
                                    zeroRuns ? "   iMTF + iRLE0 + static arithmetic time: "
                                             : "   iMTF + static arithmetic time: ",
                                    blockStart, decodingStart, decodingEnd);
}

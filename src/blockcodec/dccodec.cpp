#include "blockcodec/dccodec.h"

#include "blockcodec/dcmodel.h"
#include "diag/dump.h"
#include "diag/exception.h"
#include "diag/options.h"
#include "diag/timing.h"
#include "entropy/bitstream.h"
#include "transform/bwt.h"
#include "transform/distancecodec.h"
#include "transform/ibwt.h"

#include <cassert>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

const DCBucket AACodecBaseForDC::dtab[AACodecBaseForDC::bucketCount] = {
    {0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 0}, {7, 0},
    {8, 1}, {10, 1}, {12, 1}, {14, 1},
    {16, 2}, {20, 2}, {24, 2}, {28, 2},
    {32, 3}, {40, 3}, {48, 3}, {56, 3},
    {64, 4}, {80, 4}, {96, 4}, {112, 4},
    {128, 5}, {160, 5}, {192, 5}, {224, 5},
    {256, 6}, {320, 6}, {384, 6}, {448, 6},
    // From here on base = 2^bits + 384.
    {512, 7}, {640, 8}, {896, 9}, {1408, 10}, {2432, 11}, {4480, 12}, {8576, 13},
    {16768, 14}, {33152, 15}, {65920, 16}, {131456, 17}, {262528, 18}, {524672, 19},
    {1048960, 20}, {2097536, 21}, {4194688, 22}, {8388992, 23}, {16777600, 24},
    {33554816, 25}, {67109248, 26}, {134218112, 27}, {268435840, 28}, {536871296, 29},
    {1073742208, 30}, {2147484032, 31},
};

namespace {

// Fixed-width payload fields go straight into the bit stream, bit 0 first.
void putWord(OutBitStream& bits, unsigned value)
{
    for (unsigned i = 0; i < 32; ++i) bits.putBit((value >> i) & 1);
}

unsigned getWord(InBitStream& bits)
{
    unsigned value = 0;
    for (unsigned i = 0; i < 32; ++i) value |= bits.getBit() << i;
    return value;
}

} // namespace

void packBlockDCAdaptive(std::ostream& out, char* data, unsigned dataSize)
{
    assert(dataSize > 0);
    const long t0 = clockMillis();
    if (printInputHist) printInputHistToFile(data, dataSize);

    if (verbose) std::cout << "   Performing BWT..." << std::endl;
    const long t1 = clockMillis();
    const unsigned primary = bwt<char, unsigned>(data, dataSize);
    const long t2 = clockMillis();
    if (verbose) std::cout << "      First suffix index: " << primary << std::endl;
    if (printBWTData) printBWTDataToFile(data, dataSize, primary);

    if (verbose) std::cout << "   Performing DC coding..." << std::endl;
    const long t3 = clockMillis();
    DistanceCoder<char, unsigned> dc(256);
    dc.encode(data, data + dataSize);
    const long t4 = clockMillis();
    const unsigned* values = dc.values() + dc.valuesBegin();
    const unsigned count = dc.valuesEnd() - dc.valuesBegin();
    if (verbose) std::cout << "      Size of data after DC: " << count << std::endl;
    if (printDCData) printDCDataToFile(values, count);
    if (printDCHist) printDCHistToFile(values, count);

    StreamOutBitStream bits(bitStreamWords, &out);
    AACoderForDC coder(dataSize, &bits);
    if (verbose) {
        std::cout << "   Coding data to arithmetic stream..." << std::endl;
        std::cout << "      Number of symbols: " << coder.numSymbols << std::endl;
    }
    const long t5 = clockMillis();
    bits.reset();
    putWord(bits, primary);
    putWord(bits, count);
    for (unsigned i = 0; i < count; ++i) coder.encode(values[i]);
    coder.flush();
    bits.flush();
    const long t6 = clockMillis();

    if (verbose) {
        printTime(std::cout, "   BWT time: ", t1, t2);
        printTime(std::cout, "   DC time: ", t3, t4);
        printTime(std::cout, "   Adaptive arithmetic time: ", t5, t6);
        printTime(std::cout, "   Block compression time: ", t0, t6);
    }
}

void unpackBlockDCAdaptive(std::istream& in, char* data, unsigned dataSize)
{
    const long t0 = clockMillis();
    StreamInBitStream bits(bitStreamWords, &in);
    AADecoderForDC decoder(dataSize, &bits);
    if (verbose) {
        std::cout << "   Decoding data from arithmetic stream, performing iDC..." << std::endl;
        std::cout << "      Number of symbols: " << decoder.numSymbols << std::endl;
    }

    const unsigned primary = getWord(bits);
    if (verbose) std::cout << "      First suffix index: " << primary << std::endl;
    require(primary < dataSize, "Corrupt DC block: primary index " + std::to_string(primary) +
                                    " is outside a block of " + std::to_string(dataSize) + " bytes.");
    const unsigned count = getWord(bits);
    if (verbose) std::cout << "      Size of DC data: " << count << std::endl;
    // A block of n bytes has at most n runs after its 256 header entries.
    require(static_cast<unsigned long long>(count) <= dataSize + 256ull,
            "Corrupt DC block: " + std::to_string(count) + " values cannot describe a block of " +
                std::to_string(dataSize) + " bytes.");
    decoder.start();

    DistanceDecoder<char, unsigned> idc(256);
    std::unique_ptr<char[]> scratch(new char[dataSize]);
    idc.start(dataSize);

    unsigned k = 0;
    for (; k < count && k <= 255; ++k) idc.feedSymbol(static_cast<char>(k), decoder.decode());
    for (unsigned s = k; s <= 255; ++s) idc.feedSymbol(static_cast<char>(s), 0);

    // The distance decoder only hands out runs inside the block; the check
    // here keeps the scratch writes safe on its own. It throws directly
    // rather than through require() so that no message string is built for
    // every run.
    unsigned produced = 0;
    auto append = [&](std::pair<char, unsigned> run) {
        if (run.second > dataSize - produced) throw Exception("Corrupt DC block: a run passes the end of the block.");
        std::memset(scratch.get() + produced, static_cast<unsigned char>(run.first), run.second);
        produced += run.second;
    };
    for (; k < count; ++k) append(idc.decode(decoder.decode()));
    while (produced < dataSize) append(idc.decodeEnding());

    const long t1 = clockMillis();
    if (verbose) std::cout << "   Performing iBWT..." << std::endl;
    const long t2 = clockMillis();
    ibwt<char>(data, scratch.get(), dataSize, primary);
    const long t3 = clockMillis();
    scratch.reset();
    const long t4 = clockMillis();

    if (verbose) {
        printTime(std::cout, "   iDC + adaptive arithmetic time: ", t0, t1);
        printTime(std::cout, "   iBWT time: ", t2, t3);
        printTime(std::cout, "   Block decompression time: ", t0, t4);
    }
}

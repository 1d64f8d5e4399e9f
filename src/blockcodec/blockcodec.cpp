#include "blockcodec/blockcodec.h"

#include "blockcodec/dccodec.h"
#include "blockcodec/mtfcodec.h"
#include "blockcodec/observer.h"
#include "blockcodec/stages.h"
#include "diag/exception.h"
#include "diag/largearray.h"
#include "entropy/arithmeticcodec.h"
#include "transform/bwt.h"
#include "transform/ibwt.h"

#include <cassert>
#include <cstdint>
#include <string>

namespace {

// Passes the suffix array on to the observer.
class SuffixArrayRelay : public SuffixArrayListener {
public:
    explicit SuffixArrayRelay(BlockObserver* observer) : observer_(observer) {}
    void suffixArraySorted(const char* data, unsigned size, const unsigned* sa) override
    {
        observer_->suffixArraySorted(data, size, sa);
    }

private:
    BlockObserver* observer_;
};

// How many bits past the last bit its encoder wrote a decoder reads (see
// ArithmeticDecoder::lookaheadBits): a correct decoder ends exactly that far
// past the coded data, and the coded data ends 0 to 7 bits before the
// payload's end (the last byte's padding).
constexpr unsigned lookaheadBits(const BlockSettings& settings)
{
    return settings.coderType == coderStatic ? ArithmeticDecoder<unsigned, unsigned long long, 18>::lookaheadBits
                                             : ArithmeticDecoder<unsigned, unsigned, 16>::lookaheadBits;
}

// Refuses a payload whose code did not end where the payload ends: a
// damaged code string almost never decodes to exactly its own length. The
// code's last bit is the one the coder's flush ends with, and the bits
// after it up to the end of the payload are the last byte's padding, which
// the writer leaves zero.
void checkPayloadEnd(const PayloadInBitStream& bits, const unsigned char* payload, const BlockSettings& settings,
                     unsigned lastFlushBit)
{
    const unsigned long long read = bits.bitsRead();
    const unsigned long long end = bits.dataBits() + lookaheadBits(settings);
    bool clean = read <= end && read + 7 >= end;
    const unsigned long long codeEnd = read - lookaheadBits(settings);
    auto bitAt = [payload](unsigned long long p) { return (payload[p / 8] >> (p % 8)) & 1u; };
    clean = clean && codeEnd > 0 && bitAt(codeEnd - 1) == lastFlushBit;
    for (unsigned long long p = codeEnd; clean && p < bits.dataBits(); ++p) clean = bitAt(p) == 0;
    require(clean, "Corrupt block: its code does not end where its payload of " +
                       std::to_string(bits.dataBits() / 8) + " bytes ends.");
}

// Words of staging buffer for a block's bit stream: small blocks must not
// pay for the full 64 KiB. The size changes nothing but how often the
// buffer is drained or refilled.
unsigned bitBufferWords(std::size_t bytes)
{
    const std::size_t words = bytes / 4 + 16;
    return words < bitStreamWords ? static_cast<unsigned>(words) : bitStreamWords;
}

bool isMTF(unsigned char method)
{
    return method == methodMTF || method == methodMTFRLE0;
}

} // namespace

bool isSupported(const BlockSettings& settings)
{
    if (settings.method == methodDC) return settings.coderType == coderAdaptive;
    return isMTF(settings.method) && (settings.coderType == coderAdaptive || settings.coderType == coderStatic);
}

std::size_t maxPayloadSize(unsigned size)
{
    // Per input byte the coders spend at most: distance coding 37 bits per
    // value (a bucket at <= 14 bits, since the model's total stays <= 4096
    // and the coder's range above a quarter of 2^16, plus <= 23 extra bits)
    // for at most size + 256 values; move-to-front 16 bits (adaptive) or 18
    // bits (static) per symbol for at most size symbols, plus the 516-byte
    // frequency table. Five bytes per byte and 2 KiB cover all of them.
    return std::size_t(size) * 5 + 2048;
}

std::size_t encodeBlockInPlace(const BlockSettings& settings, char* data, unsigned size,
                               std::vector<unsigned char>& payload, BlockObserver* observer, unsigned threads)
{
    require(isSupported(settings), "Unsupported compression method");
    assert(size > 0 && size <= maxBlockSize);
    stages::StageTimes times;
    const long blockStart = stages::tick(observer);
    if (observer) {
        observer->blockInput(data, size);
        observer->stageStarted(BlockStage::bwt);
    }
    const long bwtStart = stages::tick(observer);
    SuffixArrayRelay relay(observer);
    const bool relaySuffixes = observer != nullptr && observer->wantsSuffixArray();
    // The sort's byte counts are the transform's, which the distance
    // transform on its own thread would otherwise count first.
    const bool overlapping = settings.method == methodDC && threads > 1 && observer == nullptr;
    unsigned byteCounts[256];
    const unsigned primary =
        bwt<char, unsigned>(data, size, relaySuffixes ? &relay : nullptr, threads, overlapping ? byteCounts : nullptr);
    const long bwtEnd = stages::tick(observer);
    times.add("   BWT time: ", bwtStart, bwtEnd);
    if (observer) {
        observer->primaryIndex(primary);
        observer->bwtDone(data, size, primary);
    }

    const bool zeroRuns = settings.method == methodMTFRLE0;
    std::size_t inPlace = 0;
    if (settings.method == methodDC) {
        // The distance values hold all the coder needs, so the payload is
        // written over the transformed block: no second block-sized buffer.
        BorrowingOutBitStream bits(bitBufferWords(size), reinterpret_cast<unsigned char*>(data), size, &payload);
        bits.reset();
        stages::putWord(bits, primary);
        // An observer's timing lines and dumps want the stages one after
        // the other, so it gets the one-thread path.
        const bool overlapped = overlapping && stages::encodeDistancesOverlapped(data, size, bits, byteCounts);
        if (!overlapped) {
            stages::encodeDistances(data, size, bits, observer, times);
            bits.flush();
        }
        inPlace = bits.borrowedBytes();
    } else {
        // Room for the payload of incompressible bytes, so that growing
        // never copies it; pages that are never written cost nothing.
        payload.reserve(payload.size() + size + size / 64 + 4096);
        PayloadOutBitStream bits(bitBufferWords(size), &payload);
        bits.reset();
        stages::putWord(bits, primary);
        if (settings.coderType == coderAdaptive)
            stages::encodeMTFAdaptive(data, size, zeroRuns, bits, observer, times);
        else
            stages::encodeMTFStatic(data, size, zeroRuns, bits, observer, times);
        bits.flush();
    }
    const long blockEnd = stages::tick(observer);

    if (observer) {
        times.add("   Block compression time: ", blockStart, blockEnd);
        times.report(observer);
    }
    return inPlace;
}

void encodeBlock(const BlockSettings& settings, char* data, unsigned size, std::vector<unsigned char>& payload,
                 BlockObserver* observer, unsigned threads)
{
    std::vector<unsigned char> tail;
    const std::size_t inPlace = encodeBlockInPlace(settings, data, size, tail, observer, threads);
    if (inPlace == 0 && payload.empty()) {
        payload.swap(tail);
        return;
    }
    payload.reserve(payload.size() + inPlace + tail.size());
    payload.insert(payload.end(), data, data + inPlace);
    payload.insert(payload.end(), tail.begin(), tail.end());
}

namespace {

// decodeBlock(), releasing `owner` (the vector holding the payload, or null)
// once the payload is decoded.
void decodePayload(const BlockSettings& settings, const unsigned char* payload, std::size_t payloadSize, char* out,
                   unsigned size, BlockObserver* observer, unsigned threads, std::vector<unsigned char>* owner)
{
    require(isSupported(settings), "Unsupported compression method.");
    require(size > 0 && size <= maxBlockSize, "Wrong block size in packed file (this may also mean some other error).");
    const long blockStart = stages::tick(observer);
    // The transformed block is rebuilt in the top quarter of the inverse
    // transform's working memory, so `out` stays untouched until the whole
    // payload has decoded, and no second block of fresh memory is needed.
    LargeArray<std::uint32_t> scratch(size);
    char* const work = reinterpret_cast<char*>(scratch.get()) + std::size_t(3) * size;
    PayloadInBitStream bits(bitBufferWords(payloadSize), payload, payloadSize);
    const bool zeroRuns = settings.method == methodMTFRLE0;
    stages::Decoded decoded{};
    const char* label = nullptr;
    if (settings.method == methodDC) {
        decoded = stages::decodeDistances(bits, work, size, observer, threads);
        label = "   iDC + adaptive arithmetic time: ";
    } else if (settings.coderType == coderAdaptive) {
        decoded = stages::decodeMTFAdaptive(bits, work, size, zeroRuns, observer);
        label = zeroRuns ? "   iMTF + iRLE0 + adaptive arithmetic time: " : "   iMTF + adaptive arithmetic time: ";
    } else {
        decoded = stages::decodeMTFStatic(bits, work, size, zeroRuns, observer);
        label = zeroRuns ? "   iMTF + iRLE0 + static arithmetic time: " : "   iMTF + static arithmetic time: ";
    }
    checkPayloadEnd(bits, payload, settings, decoded.lastFlushBit);
    if (owner) std::vector<unsigned char>().swap(*owner);
    const long decodingEnd = stages::tick(observer);

    if (observer) observer->stageStarted(BlockStage::inverseBwt);
    const long ibwtStart = stages::tick(observer);
    ibwtFromScratch<char>(out, scratch.get(), size, decoded.primary, threads);
    const long ibwtEnd = stages::tick(observer);
    const long blockEnd = stages::tick(observer);

    if (observer) {
        stages::StageTimes times;
        times.add(label, blockStart, decodingEnd);
        times.add("   iBWT time: ", ibwtStart, ibwtEnd);
        times.add("   Block decompression time: ", blockStart, blockEnd);
        times.report(observer);
    }
}

}  // namespace

void decodeBlock(const BlockSettings& settings, const unsigned char* payload, std::size_t payloadSize, char* out,
                 unsigned size, BlockObserver* observer, unsigned threads)
{
    decodePayload(settings, payload, payloadSize, out, size, observer, threads, nullptr);
}

void decodeBlockReleasing(const BlockSettings& settings, std::vector<unsigned char>& payload, char* out, unsigned size,
                          BlockObserver* observer, unsigned threads)
{
    decodePayload(settings, payload.data(), payload.size(), out, size, observer, threads, &payload);
}

void packBlockDCAdaptive(char* data, unsigned dataSize, std::vector<unsigned char>& payload, BlockObserver* observer)
{
    encodeBlock(BlockSettings{methodDC, coderAdaptive}, data, dataSize, payload, observer);
}

void unpackBlockDCAdaptive(const unsigned char* payload, std::size_t payloadSize, char* data, unsigned dataSize,
                           BlockObserver* observer)
{
    decodeBlock(BlockSettings{methodDC, coderAdaptive}, payload, payloadSize, data, dataSize, observer);
}

void packBlockMTFAdaptive(char* data, unsigned dataSize, bool zeroRuns, std::vector<unsigned char>& payload,
                          BlockObserver* observer)
{
    encodeBlock(BlockSettings{zeroRuns ? methodMTFRLE0 : methodMTF, coderAdaptive}, data, dataSize, payload,
                observer);
}

void unpackBlockMTFAdaptive(const unsigned char* payload, std::size_t payloadSize, char* data, unsigned dataSize,
                            bool zeroRuns, BlockObserver* observer)
{
    decodeBlock(BlockSettings{zeroRuns ? methodMTFRLE0 : methodMTF, coderAdaptive}, payload, payloadSize, data,
                dataSize, observer);
}

void packBlockMTFStatic(char* data, unsigned dataSize, bool zeroRuns, std::vector<unsigned char>& payload,
                        BlockObserver* observer)
{
    encodeBlock(BlockSettings{zeroRuns ? methodMTFRLE0 : methodMTF, coderStatic}, data, dataSize, payload, observer);
}

void unpackBlockMTFStatic(const unsigned char* payload, std::size_t payloadSize, char* data, unsigned dataSize,
                          bool zeroRuns, BlockObserver* observer)
{
    decodeBlock(BlockSettings{zeroRuns ? methodMTFRLE0 : methodMTF, coderStatic}, payload, payloadSize, data,
                dataSize, observer);
}

// Distance-coding stages (method 5). Payload after the primary index: the
// number of distance-coding values (32 bits), then the arithmetic code of
// the values.

#include "blockcodec/dcmodel.h"
#include "blockcodec/stages.h"
#include "blockcodec/valuepipe.h"
#include "diag/coregate.h"
#include "diag/exception.h"
#include "diag/inline.h"
#include "transform/distancecodec.h"

#include <algorithm>
#include <memory>
#include <system_error>
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

// Runs the transform goes over between two hand-overs to the coder, and
// how many entries one waiting for its symbol's next run may hold back
// (text has symbols that come back only far into the block).
constexpr unsigned runsPerStep = 8192;
constexpr unsigned lagLimit = 16 * runsPerStep;

// Blocks below this size gain less from a second thread than starting one
// costs.
constexpr unsigned smallestOverlappedBlock = 1u << 16;

// Values the coder takes between looks at whether the transform is done.
constexpr unsigned coderStep = 16384;
// Values that must be left when the transform is done for the model to move
// to another thread.
constexpr unsigned handOverMinimum = 4 * ValuePipe::batch;

// Holds the coder's writes over the block back until the transform is done
// with those bytes.
class FeedGate : public BorrowGate {
public:
    explicit FeedGate(ValueFeed& feed) : feed_(feed) {}
    void awaitFree(std::size_t end) override { feed_.awaitReleased(end); }

private:
    ValueFeed& feed_;
};

// Lets go of the gate however the coding ends.
class GateScope {
public:
    GateScope(BorrowingOutBitStream& bits, BorrowGate* gate) : bits_(bits) { bits_.setGate(gate); }
    ~GateScope() { bits_.setGate(nullptr); }
    GateScope(const GateScope&) = delete;
    GateScope& operator=(const GateScope&) = delete;

private:
    BorrowingOutBitStream& bits_;
};

// Codes values[0, n) as coder.encode() does, with the model run ahead on
// another thread; on this one if no thread can be had.
void encodeRestHandingOver(AACoderForDC& coder, const unsigned* values, unsigned n, unsigned maxValue)
{
    using RangeModel = DCRangeModel<AdaptiveSymbolStats<unsigned>>;
    RangeModel model(maxValue, coder.model());
    std::unique_ptr<BasicValuePipe<DCValueRange>> pipe;
    try {
        unsigned produced = 0;
        pipe.reset(new BasicValuePipe<DCValueRange>(n, [&model, values, produced](DCValueRange* out, unsigned k) mutable {
            model.ranges(values + produced, k, out);
            produced += k;
        }));
    } catch (const std::system_error&) {
        coder.encode(values, n);
        return;
    }
    unsigned taken = 0;
    pipe->takeRuns(n, [&coder, values, &taken](const DCValueRange* ranges, unsigned k) {
        coder.encodeRanges(ranges, values + taken, k);
        taken += k;
    });
    pipe->finish();
}

} // namespace

namespace stages {

bool encodeDistancesOverlapped(char* data, unsigned size, BorrowingOutBitStream& bits, const unsigned* byteCounts)
{
    if (size < smallestOverlappedBlock || !CoreGate::openHere()) return false;
    ForwardDistanceCoder<char, unsigned> dc;
    dc.start(data, data + size, byteCounts);
    std::unique_ptr<ValueFeed> feed;
    try {
        feed.reset(new ValueFeed([&dc](ValueFeed& to) {
            for (;;) {
                dc.advance(runsPerStep, lagLimit);
                const bool last = dc.finished();
                if (!to.publish({dc.ready(), dc.released(), last}) || last) return;
            }
        }));
    } catch (const std::system_error&) {
        // No thread to be had: the caller codes on this one.
        return false;
    }

    unsigned count = 0;
    {
        FeedGate gate(*feed);
        GateScope scope(bits, &gate);
        AACoderForDC coder(size, &bits);
        // The number of values is known only at the end: a placeholder now,
        // the count once the stream is flushed.
        putWord(bits, 0);
        for (;;) {
            const ValueFeed::Progress progress = feed->awaitValues(count);
            if (progress.last && progress.ready - count >= handOverMinimum && CoreGate::openHere()) {
                // The transform's thread is free; the rest is known. The
                // model goes to a thread of its own and runs ahead, so this
                // one has only the arithmetic coding left.
                feed->finish();
                encodeRestHandingOver(coder, dc.values() + count, progress.ready - count, size);
                count = progress.ready;
                break;
            }
            const unsigned step = std::min(progress.ready - count, coderStep);
            coder.encode(dc.values() + count, step);
            count += step;
            if (progress.last && count == progress.ready) break;
        }
        feed->finish();
        coder.flush();
    }
    bits.flush();
    const unsigned char word[4] = {static_cast<unsigned char>(count), static_cast<unsigned char>(count >> 8),
                                   static_cast<unsigned char>(count >> 16), static_cast<unsigned char>(count >> 24)};
    bits.overwrite(4, word, 4);
    return true;
}

void encodeDistances(char* data, unsigned size, OutBitStream& bits, BlockObserver* observer, StageTimes& times)
{
    if (observer) observer->stageStarted(BlockStage::distanceCoding);
    const long t0 = tick(observer);
    DistanceCoder<char, unsigned> dc(256);
    dc.encode(data, data + size);
    const long t1 = tick(observer);
    times.add("   DC time: ", t0, t1);
    const unsigned* values = dc.values() + dc.valuesBegin();
    const unsigned count = dc.valuesEnd() - dc.valuesBegin();
    if (observer) observer->distanceValues(values, count);

    AACoderForDC coder(size, &bits);
    if (observer) {
        observer->stageStarted(BlockStage::coding);
        observer->modelSymbols(coder.numSymbols);
    }
    const long t2 = tick(observer);
    putWord(bits, count);
    coder.encode(values, count);
    coder.flush();
    const long t3 = tick(observer);
    times.add("   Adaptive arithmetic time: ", t2, t3);
}

Decoded decodeDistances(PayloadInBitStream& bits, char* work, unsigned size, BlockObserver* observer,
                        unsigned threads)
{
    AADecoderForDC decoder(size, &bits);
    if (observer) {
        observer->stageStarted(BlockStage::decodingDistances);
        observer->modelSymbols(decoder.numSymbols);
    }
    const unsigned primary = getBits(bits, 32);
    if (observer) observer->primaryIndex(primary);
    require(primary < size, "Corrupt DC block: primary index " + std::to_string(primary) +
                                " is outside a block of " + std::to_string(size) + " bytes.");
    const unsigned count = getBits(bits, 32);
    if (observer) observer->distanceValueCount(count);
    // A block of n bytes has at most n runs after its 256 header entries.
    require(static_cast<unsigned long long>(count) <= size + 256ull,
            "Corrupt DC block: " + std::to_string(count) + " values cannot describe a block of " +
                std::to_string(size) + " bytes.");
    decoder.start();

    BitmapDistanceDecoder<char, unsigned> idc(256);
    // Pending run starts keep their symbols in the block being rebuilt, and
    // the runs are written there by the distance decoder, which never writes
    // past the end of the next known run start or of the block.
    idc.start(size, work);
    // Values 0-255 give each symbol's first position; the rest are runs.
    const unsigned headerValues = count < 256 ? count : 256;
    unsigned k = 0;
    auto header = [&](unsigned value) {
        idc.feedSymbol(static_cast<char>(k), value);
        ++k;
    };
    unsigned produced = 0;
    auto run = [&](unsigned value) VARN_FORCE_INLINE { produced = idc.decodeInto(value); };

    std::unique_ptr<ValuePipe> pipe;
    if (threads > 1 && count > ValuePipe::batch && CoreGate::openHere()) {
        try {
            // The arithmetic decoding runs ahead on a thread of its own.
            pipe.reset(new ValuePipe(count, [&decoder](unsigned* out, unsigned n) { decoder.decode(out, n); }));
        } catch (const std::system_error&) {
            // No thread to be had: decode on this one.
        }
    }
    if (pipe) {
        pipe->take(headerValues, header);
        for (unsigned s = headerValues; s <= 255; ++s) idc.feedSymbol(static_cast<char>(s), 0);
        pipe->take(count - headerValues, run);
        pipe->finish();
    } else {
        for (unsigned i = 0; i < headerValues; ++i) header(decoder.decode());
        for (unsigned s = headerValues; s <= 255; ++s) idc.feedSymbol(static_cast<char>(s), 0);
        decoder.decodeEach(count - headerValues, run);
    }
    while (produced < size) produced = idc.decodeEndingInto();
    return {primary, decoder.lastFlushBit()};
}

} // namespace stages

#pragma once
// The second stages of the block codecs, between the shared skeleton of
// blockcodec.cpp (BWT, primary index, timings, inverse BWT) and the coders.

#include "blockcodec/observer.h"
#include "blockcodec/payloadbits.h"
#include "diag/timing.h"

namespace stages {

// Timing lines of one block, reported together at its end.
class StageTimes {
public:
    void add(const char* label, long start, long end)
    {
        if (count_ < maxEntries) entries_[count_++] = {label, start, end};
    }
    void report(BlockObserver* observer) const
    {
        for (unsigned i = 0; i < count_; ++i)
            observer->stageTime(entries_[i].label, entries_[i].start, entries_[i].end);
    }

private:
    struct Entry {
        const char* label;
        long start;
        long end;
    };
    static constexpr unsigned maxEntries = 6;
    Entry entries_[maxEntries] = {};
    unsigned count_ = 0;
};

// A clock reading when someone is watching; no work otherwise.
inline long tick(const BlockObserver* observer)
{
    return observer != nullptr ? clockMillis() : 0;
}

// Fixed-width payload fields go straight into the bit stream, bit 0 first.
inline void putWord(OutBitStream& bits, unsigned value)
{
    for (unsigned i = 0; i < 32; ++i) bits.putBit((value >> i) & 1);
}

inline unsigned getBits(InBitStream& bits, unsigned width)
{
    unsigned value = 0;
    for (unsigned i = 0; i < width; ++i) value |= bits.getBit() << i;
    return value;
}

// Encoders: code the transformed block `data` (the primary index is already
// in `bits`), ending with the coder's flush. `data` may be overwritten.
// Reads `data` only before it first writes to `bits`, so `bits` may store
// its bytes over `data`.
void encodeDistances(char* data, unsigned size, OutBitStream& bits, BlockObserver* observer, StageTimes& times);
// encodeDistances() with the distance transform on a thread of its own,
// running ahead of the coder, then bits.flush(): the same payload. `bits`
// borrows `data` itself; the coder writes over a byte only once the
// transform has read it for the last time. Returns false, having written
// nothing, for blocks too small to gain, when no thread can be had and
// while the thread's CoreGate is closed.
// `byteCounts`, if not null, holds the number of each byte value in the
// block (256 entries), so that the transform need not count them.
bool encodeDistancesOverlapped(char* data, unsigned size, BorrowingOutBitStream& bits,
                               const unsigned* byteCounts = nullptr);
void encodeMTFAdaptive(char* data, unsigned size, bool zeroRuns, OutBitStream& bits, BlockObserver* observer,
                       StageTimes& times);
void encodeMTFStatic(char* data, unsigned size, bool zeroRuns, OutBitStream& bits, BlockObserver* observer,
                     StageTimes& times);

// What a decoder found besides the block.
struct Decoded {
    unsigned primary;       // the primary index
    unsigned lastFlushBit;  // the last bit the encoder's flush must have written
};

// Decoders: read the primary index and the code from `bits` and rebuild the
// transformed block in `work`. Throw Exception on corrupt data.
// With `threads` > 1 the arithmetic decoding runs on a thread of its own.
Decoded decodeDistances(PayloadInBitStream& bits, char* work, unsigned size, BlockObserver* observer,
                        unsigned threads = 1);
Decoded decodeMTFAdaptive(PayloadInBitStream& bits, char* work, unsigned size, bool zeroRuns,
                          BlockObserver* observer);
Decoded decodeMTFStatic(PayloadInBitStream& bits, char* work, unsigned size, bool zeroRuns,
                        BlockObserver* observer);

} // namespace stages

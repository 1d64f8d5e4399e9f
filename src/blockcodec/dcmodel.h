#pragma once
// Arithmetic coding of distance-coding values.
//
// A value is sent as its bucket number, coded with an adaptive model over the
// buckets a block of its size can reach, followed by the offset inside the
// bucket as uniform extra bits (whole bytes first, lowest byte first, then
// the remaining bits). Small distances dominate after the BWT, and buckets
// 0-7 hold them with no extra bits.

#include "diag/inline.h"
#include "entropy/arithmeticcodec.h"
#include "entropy/bitstream.h"
#include "entropy/symbolstats.h"

#include <cassert>
#include <cstdint>

// One value bucket: the values base ... base + 2^bits - 1.
struct DCBucket {
    unsigned base;
    unsigned bits;
};

// A value's bucket and the range the model gives the bucket: what the coder
// needs besides the value, worked out ahead by a DCRangeModel.
struct DCValueRange {
    std::uint16_t low, high, total;
    std::uint8_t bucket;
};

// What the coding and decoding side share: the bucket table and the number
// of buckets in use, found from the block size alone.
class AACodecBaseForDC {
public:
    static constexpr unsigned bucketCount = 57;
    // Buckets cover 0 upward without gaps: base(k + 1) = base(k) + 2^bits(k).
    static const DCBucket dtab[bucketCount];
    // Total at which the model halves its counts.
    static constexpr unsigned statsLimit = 4096;
    static_assert(statsLimit <= 0xFFFF, "ranges are kept in 16 bits");

    // `maxValue`: the block size, which bounds every value of the block.
    explicit AACodecBaseForDC(unsigned maxValue) : numSymbols(numSymbolsFor(maxValue)) {}

    // 1 + the bucket holding `maxValue`, at least 2 (the model needs two).
    static unsigned numSymbolsFor(unsigned maxValue)
    {
        unsigned k = bucketCount - 1;
        while (dtab[k].base > maxValue) --k;
        return k + 1 < 2 ? 2 : k + 1;
    }

    unsigned numSymbols;  // buckets in use, 2..57

protected:
    // Largest bucket k < numSymbols with base(k) <= value. Computed from the
    // table's shape rather than searched: below 8 a value is its own bucket;
    // up to 511 each power of two splits into four buckets; from 512 on,
    // bucket k starts at 2^(k - 25) + 384.
    unsigned bucketOf(unsigned value) const
    {
        unsigned k;
        if (value < 8) {
            k = value;
        } else if (value < 512) {
            const unsigned top = 31 - __builtin_clz(value);  // 3..8
            k = 8 + 4 * (top - 3) + ((value >> (top - 2)) & 3);
        } else {
            k = 25 + (31 - __builtin_clz(value - 384));
        }
        assert(dtab[k].base <= value && (k + 1 == bucketCount || value < dtab[k + 1].base));
        return k < numSymbols ? k : numSymbols - 1;
    }
};

// Runs a coder's model ahead of the coder, typically on another thread: the
// ranges BasicAACoderForDC::encode() would code the coming values with,
// for BasicAACoderForDC::encodeRanges().
template <class Model>
class DCRangeModel : public AACodecBaseForDC {
public:
    // `model`: a copy of the coder's model() when the first of the values
    // is the next to be coded.
    DCRangeModel(unsigned maxValue, const Model& model) : AACodecBaseForDC(maxValue), stats(model) {}

    // The ranges of the next n values into out[0, n).
    void ranges(const unsigned* values, unsigned n, DCValueRange* out)
    {
        for (unsigned i = 0; i < n; ++i) {
            const unsigned k = bucketOf(values[i]);
            const SymbolRange r = stats.getRangeThenUpdateAndLimit(k, statsLimit);
            out[i] = {std::uint16_t(r.low), std::uint16_t(r.high), std::uint16_t(r.total), std::uint8_t(k)};
        }
    }

private:
    Model stats;
};

// Codes values into a bit stream (16-bit arithmetic coder). `Model` is the
// adaptive model over the buckets: AdaptiveSymbolStats in use, the
// reference PlainSymbolStats (same ranges) for tests.
template <class Model>
class BasicAACoderForDC : public AACodecBaseForDC {
public:
    // `bits` is not owned and must outlive the coder.
    BasicAACoderForDC(unsigned maxValue, OutBitStream* bits)
        : AACodecBaseForDC(maxValue), stats(numSymbols), coder(bits)
    {
    }

    // Codes one value; it must not exceed the maxValue given at construction.
    void encode(unsigned value) { encodeWith(coder, value); }

    // Codes values[0..n-1] as n calls of encode() do, with the interval in
    // local variables meanwhile (see BasicAADecoderForDC::decode).
    void encode(const unsigned* values, unsigned n)
    {
        Coder local = coder;
        for (unsigned i = 0; i < n; ++i) encodeWith(local, values[i]);
        coder = local;
    }

    // The model as it stands, for a DCRangeModel to start from.
    const Model& model() const { return stats; }

    // Codes values[0, n) as encode() does, with their ranges from a
    // DCRangeModel, which takes the model over: this coder's own model is
    // left behind, so encode() may not follow.
    void encodeRanges(const DCValueRange* ranges, const unsigned* values, unsigned n)
    {
        Coder local = coder;
        for (unsigned i = 0; i < n; ++i) {
            local.encode(ranges[i].low, ranges[i].high, ranges[i].total);
            encodeExtra(local, ranges[i].bucket, values[i]);
        }
        coder = local;
    }

    // Ends the code string; the caller then flushes the bit stream.
    void flush() { coder.flush(); }

private:
    typedef ArithmeticCoder<unsigned, unsigned, 16> Coder;

    VARN_FORCE_INLINE void encodeWith(Coder& c, unsigned value)
    {
        const unsigned k = bucketOf(value);
        SymbolRange r = stats.getRangeThenUpdateAndLimit(k, statsLimit);
        c.encode(r.low, r.high, r.total);
        encodeExtra(c, k, value);
    }

    // Codes the offset of `value` inside its bucket k as uniform extra bits.
    VARN_FORCE_INLINE void encodeExtra(Coder& c, unsigned k, unsigned value)
    {
        unsigned e = value - dtab[k].base;
        unsigned n = dtab[k].bits;
        assert(n == 32 || (e >> n) == 0);
        for (; n > 7; n -= 8, e >>= 8) c.encodeUniform(e & 255, 8);
        if (n > 0) c.encodeUniform(e, n);
    }

    Model stats;
    Coder coder;
};

// Decodes the values written by BasicAACoderForDC with the same model.
template <class Model>
class BasicAADecoderForDC : public AACodecBaseForDC {
public:
    // `bits` is not owned and must outlive the decoder.
    BasicAADecoderForDC(unsigned maxValue, InBitStream* bits)
        : AACodecBaseForDC(maxValue), stats(numSymbols), decoder(bits)
    {
    }

    // Reads the first code bits; call once, before the first decode().
    void start() { decoder.start(); }

    // Returns the next value. Any bits decode to some value without fault;
    // whether it fits the block is for the caller to check.
    unsigned decode() { return decodeWith(decoder); }

    // The next n values into out[0..n-1], as n calls of decode() give them.
    // The interval lives in local variables meanwhile: one copy of the
    // decoder in and out, rather than loads and stores of its members
    // around every step.
    void decode(unsigned* out, unsigned n)
    {
        Decoder local = decoder;
        for (unsigned i = 0; i < n; ++i) out[i] = decodeWith(local);
        decoder = local;
    }

    // The next n values handed to `use(unsigned value)` one by one, each
    // before the next is decoded, with the interval in local variables as
    // above. The work of `use` overlaps the decoding of the next value,
    // whose steps depend each on the last.
    template <class Use>
    void decodeEach(unsigned n, Use&& use)
    {
        Decoder local = decoder;
        for (unsigned i = 0; i < n; ++i) use(decodeWith(local));
        decoder = local;
    }

    // See ArithmeticDecoder::lastFlushBit().
    unsigned lastFlushBit() const { return decoder.lastFlushBit(); }

private:
    typedef ArithmeticDecoder<unsigned, unsigned, 16> Decoder;

    VARN_FORCE_INLINE unsigned decodeWith(Decoder& d)
    {
        SymbolRange r;
        const unsigned k = stats.findRangeThenUpdateAndLimit(d.decode(stats.getMax()), statsLimit, r);
        d.decodeExtract(r.low, r.high, r.total);
        unsigned e = 0;
        unsigned shift = 0;
        unsigned n = dtab[k].bits;
        for (; n > 7; n -= 8, shift += 8) e += d.decodeUniform(8) << shift;
        if (n > 0) e += d.decodeUniform(n) << shift;
        return dtab[k].base + e;
    }

    Model stats;
    Decoder decoder;
};

using AACoderForDC = BasicAACoderForDC<AdaptiveSymbolStats<unsigned>>;
using AADecoderForDC = BasicAADecoderForDC<AdaptiveSymbolStats<unsigned>>;

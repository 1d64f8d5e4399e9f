#include "blockcodec/dccodec.h"
#include "blockcodec/dcmodel.h"
#include "blockcodec/payloadbits.h"
#include "diag/exception.h"
#include "entropy/plainsymbolstats.h"
#include "testcommon.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

using testcommon::getLE32;
using testcommon::putLE32;

namespace {

std::string pack(std::string block)
{
    std::vector<unsigned char> payload;
    packBlockDCAdaptive(&block[0], static_cast<unsigned>(block.size()), payload);
    return std::string(payload.begin(), payload.end());
}

std::string unpack(const std::string& payload, unsigned size)
{
    std::string block(size, '\0');
    unpackBlockDCAdaptive(reinterpret_cast<const unsigned char*>(payload.data()), payload.size(), &block[0], size);
    return block;
}

// Codes `values` with a model for blocks of `maxValue` bytes and decodes
// them again from exactly the bytes written.
std::vector<unsigned> valuesRoundTrip(const std::vector<unsigned>& values, unsigned maxValue)
{
    std::vector<unsigned char> payload;
    {
        PayloadOutBitStream bits(bitStreamWords, &payload);
        AACoderForDC coder(maxValue, &bits);
        bits.reset();
        for (unsigned v : values) coder.encode(v);
        coder.flush();
        bits.flush();
    }
    PayloadInBitStream bits(bitStreamWords, payload.data(), payload.size());
    AADecoderForDC decoder(maxValue, &bits);
    decoder.start();
    std::vector<unsigned> decoded;
    for (size_t i = 0; i < values.size(); ++i) decoded.push_back(decoder.decode());
    return decoded;
}

// The bytes BasicAACoderForDC<Model> writes for `values`.
template <class Model>
std::vector<unsigned char> codeValuesWith(const std::vector<unsigned>& values, unsigned maxValue)
{
    std::vector<unsigned char> payload;
    PayloadOutBitStream bits(bitStreamWords, &payload);
    BasicAACoderForDC<Model> coder(maxValue, &bits);
    bits.reset();
    for (unsigned v : values) coder.encode(v);
    coder.flush();
    bits.flush();
    return payload;
}

// Values decoded by BasicAADecoderForDC<Model> from `payload`.
template <class Model>
std::vector<unsigned> decodeValuesWith(const std::vector<unsigned char>& payload, unsigned maxValue, size_t count)
{
    PayloadInBitStream bits(bitStreamWords, payload.data(), payload.size());
    BasicAADecoderForDC<Model> decoder(maxValue, &bits);
    decoder.start();
    std::vector<unsigned> decoded;
    for (size_t i = 0; i < count; ++i) decoded.push_back(decoder.decode());
    return decoded;
}

class DCCodec : public ::testing::Test {};

} // namespace

TEST(DCModel, NumSymbolsFollowsTheBlockSize)
{
    const std::pair<unsigned, unsigned> cases[] = {{1, 2},    {7, 8},      {8, 9},           {9, 9},
                                                   {100, 23}, {1000, 35},  {65536, 41},      {10485760, 49},
                                                   {2, 3},    {2431, 36},  {2432, 37},       {0xFFFFFFFFu, 57}};
    for (auto& c : cases) {
        EXPECT_EQ(AACodecBaseForDC::numSymbolsFor(c.first), c.second) << "size " << c.first;
        EXPECT_EQ(AACodecBaseForDC(c.first).numSymbols, c.second) << "size " << c.first;
    }
}

TEST(DCModel, ValuesRoundTripAcrossBucketBoundaries)
{
    // Both ends of every bucket, around the buckets with 0, 3, 8, 11 and 31
    // extra bits in particular, with the model adapting in between.
    std::vector<unsigned> values;
    for (unsigned k = 0; k < AACodecBaseForDC::bucketCount; ++k) {
        const DCBucket& b = AACodecBaseForDC::dtab[k];
        unsigned last = k + 1 < AACodecBaseForDC::bucketCount ? AACodecBaseForDC::dtab[k + 1].base - 1 : 0xFFFFFFFFu;
        values.insert(values.end(), {b.base, last, b.base + (last - b.base) / 2, 0, 1});
    }
    EXPECT_EQ(valuesRoundTrip(values, 0xFFFFFFFFu), values);

    std::mt19937 rng(7);
    for (unsigned maxValue : {1u, 9u, 700u, 65536u, 10485760u}) {
        std::vector<unsigned> some;
        for (int i = 0; i < 20000; ++i) some.push_back(rng() % 3 ? std::min<unsigned>(rng() % 8, maxValue) : unsigned(rng() % (maxValue + 1ull)));
        some.push_back(maxValue);
        EXPECT_EQ(valuesRoundTrip(some, maxValue), some) << "max " << maxValue;
    }
}

TEST(DCModel, RangesWorkedOutAheadCodeTheSameBytes)
{
    // The model handed to a DCRangeModel part way, before, between and
    // after halvings of its counts: the coder codes the rest with the ranges
    // it gives, byte-equal to coding every value itself.
    std::mt19937 rng(11);
    const unsigned maxValue = 70000;
    std::vector<unsigned> values;
    for (int i = 0; i < 30000; ++i) values.push_back(rng() % 4 ? rng() % 8 : rng() % (maxValue + 1));
    const std::vector<unsigned char> whole = codeValuesWith<AdaptiveSymbolStats<unsigned>>(values, maxValue);
    for (std::size_t at : {std::size_t(0), std::size_t(1), std::size_t(4095), std::size_t(12345), values.size()}) {
        std::vector<unsigned char> payload;
        PayloadOutBitStream bits(bitStreamWords, &payload);
        AACoderForDC coder(maxValue, &bits);
        bits.reset();
        coder.encode(values.data(), static_cast<unsigned>(at));
        DCRangeModel<AdaptiveSymbolStats<unsigned>> model(maxValue, coder.model());
        std::vector<DCValueRange> ranges(values.size() - at);
        const unsigned rest = static_cast<unsigned>(ranges.size());
        model.ranges(values.data() + at, rest, ranges.data());
        coder.encodeRanges(ranges.data(), values.data() + at, rest);
        coder.flush();
        bits.flush();
        EXPECT_EQ(payload, whole) << "handed over at " << at;
    }
}

TEST(DCModel, EveryModelWritesTheSameBytes)
{
    // The two-level model in use against the reference: byte-equal code,
    // each decoded by the other, for value mixes from
    // mostly tiny (long halving cycles in the first buckets) to uniform over
    // the block (every bucket in play).
    std::mt19937 rng(11);
    for (unsigned maxValue : {1u, 8u, 700u, 65536u, 10485760u, 0xFFFFFFFFu}) {
        for (unsigned spread : {1u, 4u, 100u}) {
            std::vector<unsigned> values;
            for (int i = 0; i < 30000; ++i) {
                const bool wide = rng() % 100 < spread;
                values.push_back(wide ? unsigned(rng() % (maxValue + 1ull)) : std::min<unsigned>(rng() % 5, maxValue));
            }
            const auto plain = codeValuesWith<PlainSymbolStats<unsigned>>(values, maxValue);
            const auto twoLevel = codeValuesWith<AdaptiveSymbolStats<unsigned>>(values, maxValue);
            ASSERT_EQ(twoLevel, plain) << "max " << maxValue << " spread " << spread;
            EXPECT_EQ((decodeValuesWith<AdaptiveSymbolStats<unsigned>>(plain, maxValue, values.size())), values);
            EXPECT_EQ((decodeValuesWith<PlainSymbolStats<unsigned>>(twoLevel, maxValue, values.size())), values);
        }
    }
}

TEST(DCModel, BatchesDecodeAsSingleValuesDo)
{
    // Batches of every size from 0 up, mixed with single values, across
    // halvings of the model and values with many extra bits.
    std::mt19937 rng(23);
    const unsigned maxValue = 10485760;
    std::vector<unsigned> values;
    for (int i = 0; i < 40000; ++i) values.push_back(rng() % 5 ? rng() % 12 : unsigned(rng() % (maxValue + 1)));
    const auto payload = codeValuesWith<AdaptiveSymbolStats<unsigned>>(values, maxValue);
    PayloadInBitStream bits(bitStreamWords, payload.data(), payload.size());
    AADecoderForDC decoder(maxValue, &bits);
    decoder.start();
    std::vector<unsigned> decoded(values.size() + 1, 0xDEADu);
    size_t done = 0;
    for (unsigned n = 0; done < values.size(); ++n) {
        const unsigned take = std::min<size_t>(n % 70, values.size() - done);
        decoder.decode(&decoded[done], take);
        done += take;
        if (n % 3 == 0 && done < values.size()) decoded[done++] = decoder.decode();
    }
    EXPECT_EQ(decoded.back(), 0xDEADu);
    decoded.pop_back();
    EXPECT_EQ(decoded, values);

    // The coder's batches against its single values: the same bytes.
    std::vector<unsigned char> batched;
    {
        PayloadOutBitStream out(bitStreamWords, &batched);
        AACoderForDC coder(maxValue, &out);
        out.reset();
        size_t at = 0;
        for (unsigned n = 0; at < values.size(); ++n) {
            const unsigned take = std::min<size_t>(n % 90, values.size() - at);
            coder.encode(values.data() + at, take);
            at += take;
            if (n % 4 == 0 && at < values.size()) coder.encode(values[at++]);
        }
        coder.flush();
        out.flush();
    }
    EXPECT_EQ(batched, payload);
}

TEST_F(DCCodec, PayloadStartsWithPrimaryIndexAndValueCount)
{
    // One byte: primary 0 and the header up to that byte's entry.
    std::string payload = pack("x");
    ASSERT_GE(payload.size(), 8u);
    EXPECT_EQ(getLE32(payload, 0), 0u);
    EXPECT_EQ(getLE32(payload, 4), unsigned('x') + 1);
    EXPECT_EQ(unpack(payload, 1), "x");

    // A single run of 0xC3: count is again the byte value + 1.
    payload = pack(std::string(5000, '\xC3'));
    EXPECT_EQ(getLE32(payload, 4), 0xC3u + 1);
    EXPECT_EQ(unpack(payload, 5000), std::string(5000, '\xC3'));

    // abracadabra: its BWT has primary index 2.
    payload = pack("abracadabra");
    EXPECT_EQ(getLE32(payload, 0), 2u);
    EXPECT_EQ(unpack(payload, 11), "abracadabra");
}

TEST_F(DCCodec, BlocksRoundTrip)
{
    std::mt19937 rng(2024);
    std::vector<std::string> blocks = {"a", "ab", "ba", "\x01\x01\x03\x03\x03\x02", std::string(70000, 'z')};
    for (int i = 0; i < 60; ++i) {
        unsigned size = 1 + rng() % (i < 40 ? 500 : 100000);
        unsigned alphabet = 1 + rng() % 256, maxRun = 1 + rng() % (i % 3 ? 2 : 30);
        std::string b;
        while (b.size() < size) b.append(std::min<size_t>(1 + rng() % maxRun, size - b.size()), char(rng() % alphabet));
        blocks.push_back(b);
    }
    for (const std::string& block : blocks) {
        ASSERT_EQ(unpack(pack(block), unsigned(block.size())), block) << "size " << block.size();
    }
}

TEST_F(DCCodec, CorruptPayloadsThrowException)
{
    std::string good = pack("abracadabra");
    std::string bad = good;
    putLE32(bad, 0, 11);  // primary index must be below the block size
    EXPECT_THROW(unpack(bad, 11), Exception);
    bad = good;
    putLE32(bad, 4, 0xFFFFFFFFu);  // more values than any block of 11 bytes has
    EXPECT_THROW(unpack(bad, 11), Exception);
    bad = good;
    putLE32(bad, 4, 0);  // no header: no run is known
    EXPECT_THROW(unpack(bad, 11), Exception);
    // A payload decoded with the wrong block size never writes past the block.
    EXPECT_THROW(unpack(good, 3), Exception);

    // Random bit flips and random payloads: Exception or some block, never a
    // fault (the sanitizer build checks the memory side).
    std::mt19937 rng(5);
    std::string sample = pack(std::string("the quick brown fox jumps over the lazy dog, again and again"));
    for (int i = 0; i < 2000; ++i) {
        std::string p = sample;
        if (i % 2) {
            for (auto& c : p) c = static_cast<char>(rng());
            putLE32(p, 0, rng() % 64);
            putLE32(p, 4, rng() % 400);
        } else {
            p[8 + rng() % (p.size() - 8)] ^= static_cast<char>(1 << (rng() % 8));
        }
        unsigned size = 1 + rng() % 64;
        try {
            unpack(p, size);
        } catch (const Exception&) {
        }
    }
}

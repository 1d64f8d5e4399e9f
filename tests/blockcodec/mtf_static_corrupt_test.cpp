// Static coder scaling and payload layout, and payloads that must be
// rejected cleanly by both move-to-front codecs.

#include "blockcodec/mtfcodec.h"
#include "blockcodec/staticcoder.h"
#include "diag/exception.h"
#include "entropy/arithmeticcodec.h"
#include "blockcodec/payloadbits.h"
#include "entropy/symbolstats.h"
#include "mtftestutil.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

using namespace mtftest;

namespace {

class MTFPayload : public ::testing::Test {};

// Scaled frequencies of raw counts given as {symbol: count}.
std::vector<unsigned> scale(unsigned symbolCount, const std::map<unsigned, unsigned>& raw)
{
    std::vector<unsigned> counts(symbolCount + 1, 0);
    StaticCoder coder(nullptr, counts.data(), symbolCount);
    for (auto [symbol, count] : raw) {
        counts[symbol] = count;
        coder.total += count;
    }
    coder.start();
    EXPECT_EQ(counts[0], 0u);
    std::vector<unsigned> frequencies(symbolCount);
    for (unsigned i = 0; i < symbolCount; ++i) frequencies[i] = counts[i + 1] - counts[i];
    return frequencies;
}

unsigned frequencyAt(const std::string& payload, unsigned symbol)
{
    return static_cast<unsigned char>(payload[4 + 2 * symbol]) |
           static_cast<unsigned>(static_cast<unsigned char>(payload[5 + 2 * symbol])) << 8;
}

void setFrequency(std::string& payload, unsigned symbol, unsigned frequency)
{
    payload[4 + 2 * symbol] = static_cast<char>(frequency & 0xff);
    payload[5 + 2 * symbol] = static_cast<char>(frequency >> 8);
}

// Decoding must throw an Exception whose message contains `fragment`, and
// leave the caller's block untouched.
void expectRejected(const Mode& mode, const std::string& payload, unsigned size, const std::string& fragment)
{
    std::string block(size, '#');
    const auto* bytes = reinterpret_cast<const unsigned char*>(payload.data());
    try {
        if (mode.staticCoder)
            unpackBlockMTFStatic(bytes, payload.size(), &block[0], size, mode.zeroRuns);
        else
            unpackBlockMTFAdaptive(bytes, payload.size(), &block[0], size, mode.zeroRuns);
        ADD_FAILURE() << mode.name << ": payload accepted";
    } catch (const Exception& e) {
        EXPECT_NE(std::string(e.what()).find(fragment), std::string::npos) << mode.name << ": " << e.what();
    }
    EXPECT_EQ(block, std::string(size, '#')) << mode.name << ": block written";
}

} // namespace

TEST_F(MTFPayload, StaticScalingKeepsRareSymbolsAndBoundsTheTotal)
{
    std::vector<unsigned> f = scale(256, {{0, 1000}, {1, 1}, {5, 3}});
    EXPECT_EQ(f[0], 65018u);
    EXPECT_EQ(f[1], 65u);
    EXPECT_EQ(f[5], 195u);
    unsigned sum = 0;
    for (unsigned x : f) sum += x;
    EXPECT_EQ(sum, 65278u);

    f = scale(256, {{0, 100000}, {7, 1}});
    EXPECT_EQ(f[0], 65278u);
    EXPECT_EQ(f[7], 1u); // raised from 0
    EXPECT_EQ(f[1], 0u);

    // A lone symbol gets the whole scale; the worst case for the bound is
    // every symbol occurring, most of them once.
    EXPECT_EQ(scale(257, {{256, 1}})[256], 65278u);
    std::map<unsigned, unsigned> spread;
    for (unsigned s = 0; s < 257; ++s) spread[s] = s == 0 ? 10000000 : 1 + s % 3;
    sum = 0;
    for (unsigned x : scale(257, spread)) {
        EXPECT_GE(x, 1u);
        sum += x;
    }
    EXPECT_LE(sum, maxStaticTotal);
}

TEST_F(MTFPayload, StaticPayloadLayout)
{
    // One byte 'x': rank 120, coded as symbol 120 (or 121 with zero runs).
    // A symbol owning the whole total narrows nothing, so the code is the two
    // flush bits 0, 1 in the byte after the table.
    const std::string withoutRuns = pack({"st-norle", false, true}, "x");
    ASSERT_EQ(withoutRuns.size(), 517u);
    EXPECT_EQ(withoutRuns.substr(0, 4), std::string(4, '\0'));
    for (unsigned s = 0; s < 256; ++s) EXPECT_EQ(frequencyAt(withoutRuns, s), s == 120 ? 65279u : 0u) << s;
    EXPECT_EQ(withoutRuns[516], '\x02');

    const std::string withRuns = pack({"st", true, true}, "x");
    ASSERT_EQ(withRuns.size(), 519u);
    for (unsigned s = 0; s < 257; ++s) EXPECT_EQ(frequencyAt(withRuns, s), s == 121 ? 65278u : 0u) << s;
    EXPECT_EQ(withRuns[518], '\x02');

    // A longer block: every frequency fits its bound and the table sums to
    // at most 65535; every occurring symbol keeps a frequency.
    std::mt19937 rng(5);
    std::string text(50000, 'a');
    for (char& c : text) c = static_cast<char>(rng() % 50 == 0 ? rng() : 'a' + rng() % 4);
    for (const Mode& mode : allModes()) {
        if (!mode.staticCoder) continue;
        const std::string payload = pack(mode, text);
        const unsigned n = mode.zeroRuns ? 257 : 256;
        unsigned sum = 0;
        for (unsigned s = 0; s < n; ++s) {
            EXPECT_LE(frequencyAt(payload, s), 65535u - n) << mode.name << " symbol " << s;
            sum += frequencyAt(payload, s);
        }
        EXPECT_LE(sum, 65535u) << mode.name;
        EXPECT_GT(frequencyAt(payload, 0), 0u) << mode.name;
    }
}

TEST_F(MTFPayload, PrimaryIndexOutsideTheBlockIsRejected)
{
    for (const Mode& mode : allModes()) {
        std::string payload = pack(mode, "banana");
        for (unsigned bad : {6u, 7u, 0xffffffffu}) {
            for (int i = 0; i < 4; ++i) payload[i] = static_cast<char>(bad >> (8 * i));
            expectRejected(mode, payload, 6, "primary index");
        }
    }
}

TEST_F(MTFPayload, StaticTableWithImpossibleTotalIsRejected)
{
    for (const Mode& mode : allModes()) {
        if (!mode.staticCoder) continue;
        const unsigned n = mode.zeroRuns ? 257 : 256;
        const std::string valid = pack(mode, "abracadabra");

        std::string empty = valid;
        for (unsigned s = 0; s < n; ++s) setFrequency(empty, s, 0);
        expectRejected(mode, empty, 11, "symbol frequencies add up to 0");

        std::string tooLarge = empty;
        setFrequency(tooLarge, 0, 0xffff);
        setFrequency(tooLarge, 1, 1);
        expectRejected(mode, tooLarge, 11, "symbol frequencies add up to 65536");

        std::string huge = valid;
        for (unsigned s = 0; s < n; ++s) setFrequency(huge, s, 0xffff);
        expectRejected(mode, huge, 11, "symbol frequencies add up to");

        // At the limit the table is usable. With the whole total on one
        // symbol (rank 255) nothing narrows, so the code is the two flush
        // bits; every byte decodes to the back of the move-to-front list,
        // which only the inverse BWT may refuse as no transform's output.
        std::string atLimit = valid.substr(0, 4 + 2 * n) + '\x02';
        for (unsigned s = 0; s < n; ++s) setFrequency(atLimit, s, 0);
        setFrequency(atLimit, n - 1, 65535);
        try {
            EXPECT_EQ(unpack(mode, atLimit, 11).size(), 11u) << mode.name;
        } catch (const Exception& e) {
            EXPECT_NE(std::string(e.what()).find("the inverse BWT closes a cycle"), std::string::npos)
                << mode.name << ": " << e.what();
        }
    }
}

TEST_F(MTFPayload, ZeroRunPastTheBlockIsRejected)
{
    const std::string message = "Error in compressed file (RLE0 run exceeds file size)";

    // Static: a table in which only run digit 1 occurs decodes a run of 2
    // (or more) into a block of 1.
    std::string payload = pack({"st", true, true}, "x");
    setFrequency(payload, 121, 0);
    setFrequency(payload, 1, 1);
    expectRejected({"st", true, true}, payload, 1, message);

    // Adaptive: primary index 0, then the symbol 1 coded by a fresh model.
    std::vector<unsigned char> out;
    {
        PayloadOutBitStream bits(bitStreamWords, &out);
        bits.reset();
        for (int j = 0; j < 32; ++j) bits.putBit(0);
        ArithmeticCoder<unsigned, unsigned, 16> coder(&bits);
        AdaptiveSymbolStats<unsigned> model(257);
        SymbolRange r = model.getRangeThenUpdateAndLimit(1, 16384);
        coder.encode(r.low, r.high, r.total);
        coder.flush();
        bits.flush();
    }
    expectRejected({"ad", true, false}, std::string(out.begin(), out.end()), 1, message);

    // A run of 4 digits' worth in a block of 5 after one rank: corrupt the
    // valid payload of "abcde" by coding 2 (rank 1) then digits 1 1 1.
    std::vector<unsigned char> longer;
    {
        PayloadOutBitStream bits(bitStreamWords, &longer);
        bits.reset();
        for (int j = 0; j < 32; ++j) bits.putBit(0);
        ArithmeticCoder<unsigned, unsigned, 16> coder(&bits);
        AdaptiveSymbolStats<unsigned> model(257);
        for (unsigned s : {2u, 1u, 1u, 1u}) {
            SymbolRange r = model.getRangeThenUpdateAndLimit(s, 16384);
            coder.encode(r.low, r.high, r.total);
        }
        coder.flush();
        bits.flush();
    }
    expectRejected({"ad", true, false}, std::string(longer.begin(), longer.end()), 5, message);
}

TEST_F(MTFPayload, ArbitraryPayloadsNeverCrash)
{
    // Random bits behind a valid primary index, and for the static coder a
    // random table small enough to pass the check, so decoding runs deep.
    // Each block must decode or end in an Exception; the sanitizer build
    // catches any access outside the buffers.
    std::mt19937 rng(99);
    for (int trial = 0; trial < 400; ++trial) {
        const Mode& mode = allModes()[trial % 4];
        const unsigned size = 1 + rng() % 3000;
        std::string payload(600 + rng() % 2000, '\0');
        for (char& c : payload) c = static_cast<char>(rng());
        const unsigned index = rng() % size;
        for (int i = 0; i < 4; ++i) payload[i] = static_cast<char>(index >> (8 * i));
        if (mode.staticCoder) {
            const unsigned n = mode.zeroRuns ? 257 : 256;
            for (unsigned s = 0; s < n; ++s) setFrequency(payload, s, rng() % 4 == 0 ? rng() % 255 : 0);
            setFrequency(payload, rng() % n, 1 + rng() % 255);
        }
        try {
            EXPECT_EQ(unpack(mode, payload, size).size(), size);
        } catch (const Exception&) {
        }
    }

    // Valid payloads with flipped bits, decoded with the wrong block size too.
    const std::string text = "the quick brown fox jumps over the lazy dog, again and again and again";
    for (const Mode& mode : allModes()) {
        const std::string valid = pack(mode, text);
        for (int trial = 0; trial < 100; ++trial) {
            std::string payload = valid;
            for (int flips = 1 + trial % 3; flips > 0; --flips)
                payload[4 + rng() % (payload.size() - 4)] ^= static_cast<char>(1 << (rng() % 8));
            const unsigned size = trial % 2 ? static_cast<unsigned>(text.size()) : 71 + rng() % 200;
            try {
                EXPECT_EQ(unpack(mode, payload, size).size(), size);
            } catch (const Exception&) {
            }
        }
    }
}

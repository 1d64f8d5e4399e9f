#include "blockcodec/dccodec.h"
#include "blockcodec/dcmodel.h"
#include "diag/exception.h"
#include "diag/options.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <algorithm>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string pack(std::string block)
{
    std::stringstream out;
    packBlockDCAdaptive(out, &block[0], static_cast<unsigned>(block.size()));
    return out.str();
}

std::string unpack(const std::string& payload, unsigned size)
{
    std::stringstream in(payload);
    std::string block(size, '\0');
    unpackBlockDCAdaptive(in, &block[0], size);
    return block;
}

unsigned le32(const std::string& s, size_t at)
{
    unsigned v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
    return v;
}

void putLE32(std::string& s, size_t at, unsigned v)
{
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}

// Codes `values` with a model for blocks of `maxValue` bytes and decodes
// them again from a stream followed by unrelated bytes.
std::vector<unsigned> valuesRoundTrip(const std::vector<unsigned>& values, unsigned maxValue)
{
    std::stringstream stream;
    {
        StreamOutBitStream bits(bitStreamWords, &stream);
        AACoderForDC coder(maxValue, &bits);
        bits.reset();
        for (unsigned v : values) coder.encode(v);
        coder.flush();
        bits.flush();
    }
    stream << "unrelated trailing bytes";
    StreamInBitStream bits(bitStreamWords, &stream);
    AADecoderForDC decoder(maxValue, &bits);
    decoder.start();
    std::vector<unsigned> decoded;
    for (size_t i = 0; i < values.size(); ++i) decoded.push_back(decoder.decode());
    return decoded;
}

class DCCodec : public ::testing::Test {
protected:
    void SetUp() override { resetOptions(); }
    void TearDown() override { resetOptions(); }
};

} // namespace

TEST(DCModel, BucketTableCoversEveryValueWithoutGaps)
{
    const DCBucket* t = AACodecBaseForDC::dtab;
    EXPECT_EQ(t[0].base, 0u);
    for (unsigned k = 0; k + 1 < AACodecBaseForDC::bucketCount; ++k)
        EXPECT_EQ(t[k + 1].base, t[k].base + (1u << t[k].bits)) << "bucket " << k;
    for (unsigned k = 32; k < AACodecBaseForDC::bucketCount; ++k) {
        EXPECT_EQ(t[k].bits, k - 25);
        EXPECT_EQ(t[k].base, (1u << (k - 25)) + 384);
    }
    EXPECT_EQ(t[36].bits, 11u);
    EXPECT_EQ(t[56].base + ((1ull << 31) - 1), 4294967679ull);  // the top bucket reaches past 2^32
}

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

TEST_F(DCCodec, PayloadStartsWithPrimaryIndexAndValueCount)
{
    // One byte: primary 0 and the header up to that byte's entry.
    std::string payload = pack("x");
    ASSERT_GE(payload.size(), 8u);
    EXPECT_EQ(le32(payload, 0), 0u);
    EXPECT_EQ(le32(payload, 4), unsigned('x') + 1);
    EXPECT_EQ(unpack(payload, 1), "x");

    // A single run of 0xC3: count is again the byte value + 1.
    payload = pack(std::string(5000, '\xC3'));
    EXPECT_EQ(le32(payload, 4), 0xC3u + 1);
    EXPECT_EQ(unpack(payload, 5000), std::string(5000, '\xC3'));

    // abracadabra: its BWT has primary index 2.
    payload = pack("abracadabra");
    EXPECT_EQ(le32(payload, 0), 2u);
    EXPECT_EQ(unpack(payload, 11), "abracadabra");
}

TEST_F(DCCodec, BlocksRoundTripWhateverFollowsThePayload)
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
        std::string payload = pack(block);
        std::string noise(100, '\xA5');
        ASSERT_EQ(unpack(payload + noise, unsigned(block.size())), block) << "size " << block.size();
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

TEST_F(DCCodec, VerboseLinesComeInOrder)
{
    verbose = true;
    std::ostringstream captured;
    std::streambuf* old = std::cout.rdbuf(captured.rdbuf());
    std::string payload = pack("abracadabra");
    std::string packLines = captured.str();
    captured.str("");
    unpack(payload, 11);
    std::string unpackLines = captured.str();
    std::cout.rdbuf(old);

    auto labels = [](const std::string& text) {
        // Each line up to and including its ": " or "...", numbers dropped.
        std::vector<std::string> out;
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) {
            size_t colon = line.find(": ");
            out.push_back(colon == std::string::npos ? line : line.substr(0, colon + 2));
        }
        return out;
    };
    std::vector<std::string> expectPack = {"   Performing BWT...",
                                           "      First suffix index: ",
                                           "   Performing DC coding...",
                                           "      Size of data after DC: ",
                                           "   Coding data to arithmetic stream...",
                                           "      Number of symbols: ",
                                           "   BWT time: ",
                                           "   DC time: ",
                                           "   Adaptive arithmetic time: ",
                                           "   Block compression time: "};
    EXPECT_EQ(labels(packLines), expectPack);
    EXPECT_NE(packLines.find("      First suffix index: 2\n"), std::string::npos);
    const std::string count = std::to_string(le32(payload, 4));
    EXPECT_NE(packLines.find("      Size of data after DC: " + count + "\n"), std::string::npos);
    EXPECT_NE(packLines.find("      Number of symbols: 10\n"), std::string::npos);

    std::vector<std::string> expectUnpack = {"   Decoding data from arithmetic stream, performing iDC...",
                                             "      Number of symbols: ",
                                             "      First suffix index: ",
                                             "      Size of DC data: ",
                                             "   Performing iBWT...",
                                             "   iDC + adaptive arithmetic time: ",
                                             "   iBWT time: ",
                                             "   Block decompression time: "};
    EXPECT_EQ(labels(unpackLines), expectUnpack);
    EXPECT_NE(unpackLines.find("      First suffix index: 2\n"), std::string::npos);
    EXPECT_NE(unpackLines.find("      Size of DC data: " + count + "\n"), std::string::npos);

    // Quiet by default.
    verbose = false;
    old = std::cout.rdbuf(captured.rdbuf());
    captured.str("");
    unpack(pack("abracadabra"), 11);
    std::cout.rdbuf(old);
    EXPECT_EQ(captured.str(), "");
}

TEST_F(DCCodec, HistogramSectionPerBlockOnlyWhenAsked)
{
    const std::string path = ::testing::TempDir() + "dc_hist_" + std::to_string(::getpid()) + ".txt";
    pack("abba");  // flag off: nothing to write to
    printDCHist = true;
    dcHistFile.open(path);
    pack("abba");
    pack("abba");
    dcHistFile.close();
    std::ifstream f(path);
    std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::remove(path.c_str());
    // abba transforms to baba, whose sequence is the header (2 for a, 1 for
    // b) and the run entries 1, 1: 258 values.
    const std::string section = "[Block] \nBlock size = 258\nData DC histogram:\n"
                                "0 - 254     [0, 4]\n1 - 3     [254, 1]\n2 - 1     [257, 0]\n\n\n";
    EXPECT_EQ(text, section + section);
}

TEST_F(DCCodec, ValuesSectionGoesToTheDCOutputFile)
{
    const std::string path = ::testing::TempDir() + "dc_out_" + std::to_string(::getpid()) + ".txt";
    printDCData = true;
    dcOutFile.open(path);
    pack("abba");
    dcOutFile.close();
    std::ifstream f(path);
    std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::remove(path.c_str());
    // baba: header entry 2 for 'a' (index 97), 1 for 'b', 254 zeros in all,
    // then the run entries 1, 1.
    std::string values;
    for (unsigned s = 0; s < 256; ++s)
        values += (s == 0 ? "" : " ") + std::string(s == 'a' ? "2" : s == 'b' ? "1" : "0");
    values += " 1 1";
    EXPECT_EQ(text, "[Block] \nBlock size = 258\nData after DC:\n" + values + "\n\n");
}

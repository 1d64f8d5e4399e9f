// Move-to-front block codecs: exact payloads against the golden files, round
// trips, and what the codecs report to an observer.

#include "blockcodec/mtfcodec.h"
#include "mtftestutil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

using namespace mtftest;

namespace {

class MTFCodec : public ::testing::Test {};

void expectRoundTrip(const Mode& mode, const std::string& input, const std::string& what)
{
    const std::string payload = pack(mode, input);
    EXPECT_EQ(unpack(mode, payload, static_cast<unsigned>(input.size())), input) << what << " in " << mode.name;
}

// Collects the zero-run symbols a codec reports.
class ZeroRunRecorder : public BlockObserver {
public:
    bool wantsZeroRunSymbols() const override { return true; }
    void zeroRunStarted(unsigned blockSize) override { starts.push_back(blockSize); }
    void zeroRunSymbol(unsigned symbol) override { symbols.push_back(symbol); }
    void zeroRunFinished(unsigned symbolCount) override { counts.push_back(symbolCount); }

    std::vector<unsigned> starts, symbols, counts;
};

} // namespace

TEST_F(MTFCodec, PayloadsMatchGoldenFiles)
{
    const char* inputs[] = {"one-zero", "ab", "banana", "abracadabra", "ff-x300", "words"};
    for (const char* name : inputs) {
        const std::string input = readFile(std::string(VARN_GOLDEN_DIR) + "/" + name);
        ASSERT_FALSE(input.empty()) << name;
        for (const Mode& mode : allModes()) {
            const std::string golden = readFile(std::string(VARN_GOLDEN_DIR) + "/" + name + "." + mode.name + ".varnQ27p");
            const std::string what = std::string(name) + " " + mode.name;
            // One 12-byte file header and one 18-byte block header before the payload.
            ASSERT_GT(golden.size(), 30u) << what;
            ASSERT_EQ(golden.substr(12, 4), "BLCK") << what;
            ASSERT_EQ(getLE32(golden, 16), golden.size() - 30) << what;
            ASSERT_EQ(getLE32(golden, 20), input.size()) << what;
            ASSERT_EQ(golden[24], mode.zeroRuns ? 2 : 1) << what;
            ASSERT_EQ(golden[25], mode.staticCoder ? 0 : 1) << what;
            const std::string expected = golden.substr(30);

            EXPECT_EQ(pack(mode, input), expected) << what;
            EXPECT_EQ(unpack(mode, expected, static_cast<unsigned>(input.size())), input) << what;
        }
    }
}

TEST_F(MTFCodec, RoundTripsCorpusFiles)
{
    for (const auto& entry : std::filesystem::directory_iterator(VARN_TEST_DATA_DIR)) {
        const std::string input = readFile(entry.path().string());
        if (input.empty()) continue;
        for (const Mode& mode : allModes()) expectRoundTrip(mode, input, entry.path().filename().string());
    }
}

TEST_F(MTFCodec, RoundTripsRandomBlocks)
{
    std::mt19937 rng(2024);
    // Sizes around the edges, and random data big enough that its payload
    // crosses the bit streams' 64 KiB buffers.
    const unsigned sizes[] = {1, 2, 3, 17, 255, 256, 257, 4096, 70001, 200000};
    for (unsigned size : sizes) {
        std::string uniform(size, '\0');
        for (char& c : uniform) c = static_cast<char>(rng());
        std::string skewed(size, '\0');
        for (char& c : skewed) c = static_cast<char>(rng() % 16 == 0 ? rng() : rng() % 3 + 'a');
        for (const Mode& mode : allModes()) {
            expectRoundTrip(mode, uniform, "uniform " + std::to_string(size));
            expectRoundTrip(mode, skewed, "skewed " + std::to_string(size));
        }
    }
    // Every byte value once, and the extreme values repeated.
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(255 - i);
    all += std::string(1000, '\xff') + std::string(1000, '\0');
    for (const Mode& mode : allModes()) expectRoundTrip(mode, all, "all byte values");
}

TEST_F(MTFCodec, LargestBlockOfEqualBytes)
{
    const std::string input(10485760, 'x');
    for (const Mode& mode : allModes()) {
        ZeroRunRecorder recorder;
        const std::string payload = pack(mode, input, &recorder);
        if (mode.zeroRuns) {
            // One rank ('x' is 120 places back) and the 23 digits of the run.
            EXPECT_EQ(recorder.starts, std::vector<unsigned>{10485760}) << mode.name;
            EXPECT_EQ(recorder.counts, std::vector<unsigned>{24}) << mode.name;
            ASSERT_EQ(recorder.symbols.size(), 24u) << mode.name;
            EXPECT_EQ(recorder.symbols[0], 121u) << mode.name;
        } else {
            EXPECT_TRUE(recorder.starts.empty() && recorder.symbols.empty() && recorder.counts.empty()) << mode.name;
        }
        EXPECT_EQ(unpack(mode, payload, static_cast<unsigned>(input.size())), input) << mode.name;
    }
}

TEST_F(MTFCodec, BlocksWithDifferentZeroRunSettingsDecodeOneAfterAnother)
{
    // Blocks of one file may alternate methods 2 and 1; each is decoded with
    // the setting its own header gives, whatever the block before used.
    const std::string first = "mississippi mississippi mississippi";
    const std::string second(300, '\xff');
    for (bool staticCoder : {false, true}) {
        const Mode withRuns = {"runs", true, staticCoder};
        const Mode withoutRuns = {"no runs", false, staticCoder};
        const std::string payloads[] = {pack(withRuns, first), pack(withoutRuns, second),
                                        pack(withRuns, second), pack(withoutRuns, first)};
        const Mode* modes[] = {&withRuns, &withoutRuns, &withRuns, &withoutRuns};
        const std::string* inputs[] = {&first, &second, &second, &first};
        for (int b = 0; b < 4; ++b)
            EXPECT_EQ(unpack(*modes[b], payloads[b], static_cast<unsigned>(inputs[b]->size())), *inputs[b])
                << "block " << b << (staticCoder ? " static" : " adaptive");
    }
}

TEST_F(MTFCodec, BlockBufferEndsHoldingTheRanks)
{
    // BWT of "aaab" is "baaa" (the whole block sorts first: primary index
    // 0); its ranks are 98, 98, 0, 0.
    for (const Mode& mode : allModes()) {
        std::string data = "aaab";
        std::vector<unsigned char> payload;
        if (mode.staticCoder)
            packBlockMTFStatic(&data[0], 4, mode.zeroRuns, payload);
        else
            packBlockMTFAdaptive(&data[0], 4, mode.zeroRuns, payload);
        EXPECT_EQ(data, std::string("\x62\x62\x00\x00", 4)) << mode.name;
        EXPECT_EQ(getLE32(std::string(payload.begin(), payload.end()), 0), 0u) << mode.name;
    }
}

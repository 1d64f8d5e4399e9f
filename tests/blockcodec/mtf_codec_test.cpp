// Move-to-front block codecs: exact payloads against the golden files, round
// trips, console lines and dumps.

#include "blockcodec/mtfcodec.h"
#include "diag/options.h"
#include "mtftestutil.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

using namespace mtftest;

namespace {

class MTFCodec : public ::testing::Test {
protected:
    void SetUp() override { resetOptions(); }
    void TearDown() override { resetOptions(); }
};

unsigned le32(const std::string& s, size_t at)
{
    unsigned v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
    return v;
}

// Decodes the payload as it is and followed by unrelated bytes: the decoder
// reads ahead, and what lies behind the payload must not matter.
void expectRoundTrip(const Mode& mode, const std::string& input, const std::string& what)
{
    const std::string payload = pack(mode, input);
    const unsigned size = static_cast<unsigned>(input.size());
    EXPECT_EQ(unpack(mode, payload, size), input) << what << " in " << mode.name;
    std::string noise(977, '\0');
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>(i * 131 + 7);
    EXPECT_EQ(unpack(mode, payload + noise, size), input) << what << " in " << mode.name << " with trailing bytes";
}

// Runs `body` with std::cout captured; returns what it printed.
template <class F>
std::string captureCout(F body)
{
    std::ostringstream captured;
    std::streambuf* old = std::cout.rdbuf(captured.rdbuf());
    try {
        body();
    } catch (...) {
        std::cout.rdbuf(old);
        throw;
    }
    std::cout.rdbuf(old);
    return captured.str();
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

// A scratch file name of this process (test programs of several build
// folders may run at the same time).
std::string tempPath(const std::string& name)
{
    return (std::filesystem::temp_directory_path() / ("varn-mtf-" + std::to_string(getpid()) + "-" + name)).string();
}

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
            ASSERT_EQ(le32(golden, 16), golden.size() - 30) << what;
            ASSERT_EQ(le32(golden, 20), input.size()) << what;
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
    const std::string dumpPath = tempPath("largest-rle0.txt");
    for (const Mode& mode : allModes()) {
        if (mode.zeroRuns) {
            rle0OutFile.open(dumpPath);
            printRLE0Data = true;
        }
        const std::string payload = pack(mode, input);
        if (mode.zeroRuns) {
            rle0OutFile.close();
            printRLE0Data = false;
            // One rank ('x' is 120 places back) and the 23 digits of the run.
            const std::string dump = readFile(dumpPath);
            EXPECT_NE(dump.find("Number of coded symbols: 24\n"), std::string::npos) << mode.name;
        }
        EXPECT_EQ(unpack(mode, payload, static_cast<unsigned>(input.size())), input) << mode.name;
    }
    std::remove(dumpPath.c_str());
}

TEST_F(MTFCodec, BlocksWithDifferentZeroRunSettingsShareAStream)
{
    // Blocks of one file may alternate methods 2 and 1; each is decoded with
    // the setting its own header gives.
    const std::string first = "mississippi mississippi mississippi";
    const std::string second(300, '\xff');
    for (bool staticCoder : {false, true}) {
        const Mode withRuns = {"runs", true, staticCoder};
        const Mode withoutRuns = {"no runs", false, staticCoder};
        const std::string payloads[] = {pack(withRuns, first), pack(withoutRuns, second),
                                        pack(withRuns, second), pack(withoutRuns, first)};
        const std::string stream = payloads[0] + payloads[1] + payloads[2] + payloads[3];
        const Mode* modes[] = {&withRuns, &withoutRuns, &withRuns, &withoutRuns};
        const std::string* inputs[] = {&first, &second, &second, &first};
        std::stringstream in(stream);
        size_t offset = 0;
        for (int b = 0; b < 4; ++b) {
            // The decoder reads ahead; the container repositions the stream.
            in.clear();
            in.seekg(static_cast<std::streamoff>(offset));
            EXPECT_EQ(unpackFrom(*modes[b], in, static_cast<unsigned>(inputs[b]->size())), *inputs[b])
                << "block " << b << (staticCoder ? " static" : " adaptive");
            offset += payloads[b].size();
        }
    }
}

TEST_F(MTFCodec, BlockBufferEndsHoldingTheRanks)
{
    // BWT of "aaab" is "baaa" (the whole block sorts first: primary index
    // 0); its ranks are 98, 98, 0, 0.
    for (const Mode& mode : allModes()) {
        useRLE0 = mode.zeroRuns;
        std::string data = "aaab";
        std::stringstream out;
        if (mode.staticCoder)
            packBlockMTFStatic(out, &data[0], 4);
        else
            packBlockMTFAdaptive(out, &data[0], 4);
        EXPECT_EQ(data, std::string("\x62\x62\x00\x00", 4)) << mode.name;
        EXPECT_EQ(le32(out.str(), 0), 0u) << mode.name;
    }
}

TEST_F(MTFCodec, ZeroRunDumpIsWrittenOnlyWithZeroRuns)
{
    // "aaaa" transforms to itself: rank 97, then a run of 3 (digits 0 0).
    const std::string expected =
        "[Block]\nBlock size = 4\nData after RLE0:\n97 0a 0a \nNumber of coded symbols: 3\n\n";
    const std::string path = tempPath("rle0-dump.txt");
    for (const Mode& mode : allModes()) {
        rle0OutFile.open(path);
        printRLE0Data = true;
        pack(mode, "aaaa");
        pack(mode, "aaaa");
        rle0OutFile.close();
        EXPECT_EQ(readFile(path), mode.zeroRuns ? expected + expected : "") << mode.name;
    }
    std::remove(path.c_str());
}

TEST_F(MTFCodec, VerboseLinesComeInOrder)
{
    verbose = true;
    struct Expected { Mode mode; std::vector<std::string> pack, unpack; };
    const Expected cases[] = {
        {{"ad", true, false},
         {"   Performing BWT...", "      First suffix index: 0", "   Coding data to arithmetic stream...",
          "   BWT time: ", "   MTF + RLE0 + adaptive arithmetic time: ", "   Block compression time: "},
         {"   Decoding data from arithmetic stream...", "      First suffix index: 0", "   Performing iBWT...",
          "   iMTF + iRLE0 + adaptive arithmetic time: ", "   iBWT time: ", "   Block decompression time: "}},
        {{"ad-norle", false, false},
         {"   Performing BWT...", "      First suffix index: 0", "   Coding data to arithmetic stream...",
          "   BWT time: ", "   MTF + adaptive arithmetic time: ", "   Block compression time: "},
         {"   Decoding data from arithmetic stream...", "      First suffix index: 0", "   Performing iBWT...",
          "   iMTF + adaptive arithmetic time: ", "   iBWT time: ", "   Block decompression time: "}},
        {{"st", true, true},
         {"   Performing BWT...", "      First suffix index: 0", "   Gathering symbol statistics...",
          "   Coding data to arithmetic stream...", "   BWT time: ", "   Gathering symbol statistics time: ",
          "   MTF + RLE0 + static arithmetic time: ", "   Block compression time: "},
         {"   Decoding data from arithmetic stream...", "      First suffix index: 0", "   Performing iBWT...",
          "   iMTF + iRLE0 + static arithmetic time: ", "   iBWT time: ", "   Block decompression time: "}},
        {{"st-norle", false, true},
         {"   Performing BWT...", "      First suffix index: 0", "   Gathering symbol statistics...",
          "   Coding data to arithmetic stream...", "   BWT time: ", "   Gathering symbol statistics time: ",
          "   MTF + static arithmetic time: ", "   Block compression time: "},
         {"   Decoding data from arithmetic stream...", "      First suffix index: 0", "   Performing iBWT...",
          "   iMTF + static arithmetic time: ", "   iBWT time: ", "   Block decompression time: "}},
    };
    for (const Expected& c : cases) {
        std::string payload;
        const std::vector<std::string> packed = lines(captureCout([&] { payload = pack(c.mode, "aaab"); }));
        const std::vector<std::string> unpacked = lines(captureCout([&] { unpack(c.mode, payload, 4); }));
        for (auto [got, want] : {std::make_pair(&packed, &c.pack), std::make_pair(&unpacked, &c.unpack)}) {
            ASSERT_EQ(got->size(), want->size()) << c.mode.name;
            for (size_t i = 0; i < got->size(); ++i) {
                // Timing lines end with the measured seconds; compare the label.
                const std::string& w = (*want)[i];
                const bool timing = w.find("time: ") != std::string::npos;
                EXPECT_EQ(timing ? (*got)[i].substr(0, w.size()) : (*got)[i], w) << c.mode.name << " line " << i;
                if (timing) {
                    EXPECT_EQ((*got)[i].back(), 's') << c.mode.name << " line " << i;
                }
            }
        }
    }
}

// The program's observer: the -v lines the block codecs and the container
// report through it, and the dump sections it writes to the files named by
// the option variables.

#include "blockcodec/dccodec.h"
#include "blockcodec/mtftestutil.h"
#include "container/container.h"
#include "driver/options.h"
#include "driver/report.h"
#include "testcommon.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

using testcommon::getLE32;
using testcommon::readFile;
using testcommon::scratchPath;
using testcommon::writeFile;

namespace {

class Report : public ::testing::Test {
protected:
    void SetUp() override { resetOptions(); }
    void TearDown() override { resetOptions(); }
};

std::string packDC(std::string block, BlockObserver* observer)
{
    std::vector<unsigned char> payload;
    packBlockDCAdaptive(&block[0], static_cast<unsigned>(block.size()), payload, observer);
    return std::string(payload.begin(), payload.end());
}

std::string unpackDC(const std::string& payload, unsigned size, BlockObserver* observer)
{
    std::string block(size, '\0');
    unpackBlockDCAdaptive(reinterpret_cast<const unsigned char*>(payload.data()), payload.size(), &block[0], size,
                          observer);
    return block;
}

// Runs `body` with std::cout captured; returns what it printed.
template <class F>
std::string captureCout(F body)
{
    std::ostringstream captured;
    std::streambuf* old = std::cout.rdbuf(captured.rdbuf());
    const std::streamsize precision = std::cout.precision();
    try {
        body();
    } catch (...) {
        std::cout.rdbuf(old);
        std::cout.precision(precision);
        throw;
    }
    std::cout.rdbuf(old);
    std::cout.precision(precision);
    return captured.str();
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

} // namespace

TEST_F(Report, DCVerboseLinesComeInOrder)
{
    verbose = true;
    compress = true;
    std::string payload;
    std::string packLines, unpackLines;
    {
        ProgramReport report;
        EXPECT_TRUE(report.active());
        packLines = captureCout([&] { payload = packDC("abracadabra", &report); });
        unpackLines = captureCout([&] { unpackDC(payload, 11, &report); });
    }

    auto labels = [](const std::string& text) {
        // Each line up to and including its ": " or "...", numbers dropped.
        std::vector<std::string> out;
        for (const std::string& line : lines(text)) {
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
    const std::string count = std::to_string(getLE32(payload, 4));
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
    ProgramReport quiet;
    EXPECT_FALSE(quiet.active());
    EXPECT_EQ(captureCout([&] { unpackDC(packDC("abracadabra", &quiet), 11, &quiet); }), "");
}

TEST_F(Report, DCHistogramSectionPerBlockOnlyWhenAsked)
{
    compress = true;
    const std::string path = scratchPath("dc_hist.txt");
    {
        ProgramReport report;  // flag off: nothing to write to
        packDC("abba", &report);
    }
    printDCHist = true;
    dcHistFile.open(path);
    {
        ProgramReport report;
        packDC("abba", &report);
        packDC("abba", &report);
    }
    dcHistFile.close();
    const std::string text = readFile(path);
    std::remove(path.c_str());
    // abba transforms to baba, whose sequence is the header (2 for a, 1 for
    // b) and the run entries 1, 1: 258 values.
    const std::string section = "[Block] \nBlock size = 258\nData DC histogram:\n"
                                "0 - 254     [0, 4]\n1 - 3     [254, 1]\n2 - 1     [257, 0]\n\n\n";
    EXPECT_EQ(text, section + section);
}

TEST_F(Report, DCValuesSectionGoesToTheDCOutputFile)
{
    compress = true;
    const std::string path = scratchPath("dc_out.txt");
    printDCData = true;
    dcOutFile.open(path);
    {
        ProgramReport report;
        packDC("abba", &report);
    }
    dcOutFile.close();
    const std::string text = readFile(path);
    std::remove(path.c_str());
    // baba: header entry 2 for 'a' (index 97), 1 for 'b', 254 zeros in all,
    // then the run entries 1, 1.
    std::string values;
    for (unsigned s = 0; s < 256; ++s)
        values += (s == 0 ? "" : " ") + std::string(s == 'a' ? "2" : s == 'b' ? "1" : "0");
    values += " 1 1";
    EXPECT_EQ(text, "[Block] \nBlock size = 258\nData after DC:\n" + values + "\n\n");
}

TEST_F(Report, ZeroRunDumpIsWrittenOnlyWithZeroRuns)
{
    // "aaaa" transforms to itself: rank 97, then a run of 3 (digits 0 0).
    const std::string expected =
        "[Block]\nBlock size = 4\nData after RLE0:\n97 0a 0a \nNumber of coded symbols: 3\n\n";
    const std::string path = scratchPath("rle0-dump.txt");
    compress = true;
    for (const mtftest::Mode& mode : mtftest::allModes()) {
        rle0OutFile.open(path);
        printRLE0Data = true;
        {
            ProgramReport report;
            mtftest::pack(mode, "aaaa", &report);
            mtftest::pack(mode, "aaaa", &report);
        }
        rle0OutFile.close();
        EXPECT_EQ(readFile(path), mode.zeroRuns ? expected + expected : "") << mode.name;
    }
    std::remove(path.c_str());
}

TEST_F(Report, MTFVerboseLinesComeInOrder)
{
    verbose = true;
    compress = true;
    struct Expected { mtftest::Mode mode; std::vector<std::string> pack, unpack; };
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
        ProgramReport report;
        std::string payload;
        const std::vector<std::string> packed =
            lines(captureCout([&] { payload = mtftest::pack(c.mode, "aaab", &report); }));
        const std::vector<std::string> unpacked = lines(captureCout([&] { mtftest::unpack(c.mode, payload, 4, &report); }));
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

TEST_F(Report, BlockLinesOfTheFileDrivers)
{
    const std::string in = scratchPath("report-in"), packed = scratchPath("report-packed"),
                      out = scratchPath("report-out");
    // As the command line "-c in -o packed --dc -a -b 2 -v" sets them.
    compress = verbose = useDC = adaptiveAC = true;
    blockSize = 2;
    writeFile(in, "abc");
    std::string text = captureCout([&] {
        ProgramReport report;
        packFile(in.c_str(), packed.c_str(), packSettingsFromOptions(), &report, verbose);
    });
    const std::string head = "Opening input file: " + in + "\nInput file size: 3\nBlock size: 2\n";
    EXPECT_EQ(text.substr(0, head.size()), head);
    EXPECT_NE(text.find("\nBlock size: 1\n"), std::string::npos);
    EXPECT_NE(text.find("\nCompressed data size: "), std::string::npos);

    // Extraction of a file of 1800 bytes in blocks of 700 + 700 + 400.
    resetOptions();
    decompress = verbose = true;
    const std::string golden = std::string(VARN_GOLDEN_DIR) + "/words.dc-b700.varnQ27p";
    text = captureCout([&] {
        ProgramReport report;
        unpackFile(golden.c_str(), out.c_str(), &report, verbose);
    });
    EXPECT_EQ(text.rfind("Opening input file: " + golden + "\nBlock size: 700\n", 0), 0u);
    EXPECT_NE(text.find("\nBlock size: 400\n"), std::string::npos);
    EXPECT_EQ(readFile(out), readFile(std::string(VARN_GOLDEN_DIR) + "/words"));
    for (const std::string& p : {in, packed, out}) std::remove(p.c_str());
}

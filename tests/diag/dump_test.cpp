// Dump sections and histogram lines, checked byte for byte.

#include "diag/dump.h"
#include "diag/histogram.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Runs `write` with a stream open on a fresh temporary file and returns what
// it wrote.
std::string captureSection(const std::function<void(std::ostream&)>& write)
{
    std::ofstream stream;
    // Named after the test: ctest runs tests of this program in parallel.
    const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                       (std::string("varn_dump_test_") +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt");
    stream.open(path);
    EXPECT_TRUE(stream.is_open());
    write(stream);
    stream.close();
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(path);
    return text;
}

std::vector<char> bytes(std::initializer_list<int> values)
{
    std::vector<char> v;
    for (int b : values) v.push_back(static_cast<char>(b));
    return v;
}

} // namespace

TEST(Histogram, InputBytesCountsAndNeighbourTotals)
{
    std::vector<char> block = bytes({'a', 'b', 'c', 'a'});
    std::string text = captureSection([&](std::ostream& os) { printInputHistToFile(os, block.data(), 4); });
    EXPECT_EQ(text, "[Block] \nBlock size = 4\nData histogram:\n"
                    "a - 2     [0, 2]\n"
                    "b - 1     [2, 1]\n"
                    "c - 1     [3, 0]\n"
                    "\n\n");
}

TEST(Histogram, CharKeysOrderAsSignedBytesAndAreWrittenRaw)
{
    std::vector<char> block = bytes({0x41, 0xC1});
    std::string text = captureSection([&](std::ostream& os) { printInputHistToFile(os, block.data(), 2); });
    EXPECT_EQ(text, "[Block] \nBlock size = 2\nData histogram:\n"
                    "\xC1 - 1     [0, 1]\n"
                    "A - 1     [1, 0]\n"
                    "\n\n");

    // All 256 byte values: 0x80..0xFF first, then 0x00..0x7F, each written
    // as its raw byte (line ends and NUL included).
    std::vector<char> all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    std::ostringstream os;
    histogram(os, all.data(), 256);
    std::string expected;
    for (int i = 0; i < 256; ++i) {
        char key = static_cast<char>((i + 128) & 0xFF);
        expected += key;
        expected += " - 1     [" + std::to_string(i) + ", " + std::to_string(255 - i) + "]\n";
    }
    EXPECT_EQ(os.str(), expected);
}

TEST(Histogram, MtfRanksAreDecimalInSignedByteOrder)
{
    std::vector<char> ranks = bytes({0, 0, 200});
    std::string text = captureSection([&](std::ostream& os) { printMTFHistToFile(os, ranks.data(), 3); });
    EXPECT_EQ(text, "[Block] \nBlock size = 3\nData MTF histogram:\n"
                    "200 - 1     [0, 2]\n"
                    "0 - 2     [1, 0]\n"
                    "\n\n");
}

TEST(Histogram, DistanceValuesAscend)
{
    const unsigned values[] = {5, 1, 5, 4294967295u};
    std::string text = captureSection([&](std::ostream& os) { printDCHistToFile(os, values, 3); });
    EXPECT_EQ(text, "[Block] \nBlock size = 3\nData DC histogram:\n"
                    "1 - 1     [0, 2]\n"
                    "5 - 2     [1, 0]\n"
                    "\n\n");

    std::ostringstream os;
    histogram(os, values, 4);
    EXPECT_EQ(os.str(), "1 - 1     [0, 3]\n5 - 2     [1, 1]\n4294967295 - 1     [3, 0]\n");
}

TEST(Histogram, EmptyDataWritesNothingButTheSectionFrame)
{
    std::ostringstream os;
    histogram(os, static_cast<const unsigned*>(nullptr), 0);
    EXPECT_EQ(os.str(), "");

    char none = 0;
    EXPECT_EQ(captureSection([&](std::ostream& os) { printInputHistToFile(os, &none, 0); }),
              "[Block] \nBlock size = 0\nData histogram:\n\n\n");
    EXPECT_EQ(captureSection([&](std::ostream& os) { printMTFHistToFile(os, &none, 0); }),
              "[Block] \nBlock size = 0\nData MTF histogram:\n\n\n");
    EXPECT_EQ(captureSection([&](std::ostream& os) { printDCHistToFile(os, nullptr, 0); }),
              "[Block] \nBlock size = 0\nData DC histogram:\n\n\n");
}

TEST(DumpSections, BwtOutputCarriesPrimaryIndexAndRawBytes)
{
    std::vector<char> block = bytes({'b', '\n', 0, 0xFF, 'a'});
    std::string text = captureSection([&](std::ostream& os) { printBWTDataToFile(os, block.data(), 5, 3); });
    EXPECT_EQ(text, "[Block] \nBlock size = 5\nFirst suffix position: 3\nData after BWT:\n" +
                        std::string("b\n\0\xFF" "a", 5) + "\n\n");

    char none = 0;
    EXPECT_EQ(captureSection([&](std::ostream& os) { printBWTDataToFile(os, &none, 0, 0); }),
              "[Block] \nBlock size = 0\nFirst suffix position: 0\nData after BWT:\n\n\n");
}

TEST(DumpSections, MtfOutputSeparatesRanksBySingleSpaces)
{
    std::vector<char> ranks = bytes({3, 0, 255});
    EXPECT_EQ(captureSection([&](std::ostream& os) { printMTFDataToFile(os, ranks.data(), 3); }),
              "[Block] \nBlock size = 3\nData after MTF:\n3 0 255\n\n");

    char none = 0;
    EXPECT_EQ(captureSection([&](std::ostream& os) { printMTFDataToFile(os, &none, 0); }),
              "[Block] \nBlock size = 0\nData after MTF:\n\n\n");
}

TEST(DumpSections, DcOutputListsValues)
{
    const unsigned values[] = {7, 0, 4294967295u};
    EXPECT_EQ(captureSection([&](std::ostream& os) { printDCDataToFile(os, values, 3); }),
              "[Block] \nBlock size = 3\nData after DC:\n7 0 4294967295\n\n");
}

TEST(DumpSections, Rle0TokensAndCount)
{
    // Ranks 3 0 0 0 0 5 0 code as the symbols 4, 0, 1, 6, 0.
    std::string text = captureSection([&](std::ostream& os) {
        printRLE0DataHead(os, 7);
        for (unsigned s : {4u, 0u, 1u, 6u, 0u}) printRLE0DataToken(os, s);
        printRLE0DataTail(os, 5);
        // Largest symbol: rank 255.
        printRLE0DataHead(os, 1);
        printRLE0DataToken(os, 256);
        printRLE0DataTail(os, 1);
    });
    EXPECT_EQ(text, "[Block]\nBlock size = 7\nData after RLE0:\n3 0a 0b 5 0a \nNumber of coded symbols: 5\n\n"
                    "[Block]\nBlock size = 1\nData after RLE0:\n255 \nNumber of coded symbols: 1\n\n");
}

TEST(DumpSections, SuccessiveBlocksFollowEachOther)
{
    std::vector<char> first = bytes({'x'});
    std::vector<char> second = bytes({'y', 'y'});
    std::string text = captureSection([&](std::ostream& os) {
        printInputHistToFile(os, first.data(), 1);
        printInputHistToFile(os, second.data(), 2);
    });
    EXPECT_EQ(text, "[Block] \nBlock size = 1\nData histogram:\nx - 1     [0, 0]\n\n\n"
                    "[Block] \nBlock size = 2\nData histogram:\ny - 2     [0, 0]\n\n\n");
}

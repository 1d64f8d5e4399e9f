// Blocks coded on several threads: every thread count writes the same bytes
// as one thread and extracts them the same way, and an error in any block
// is the one a single thread reports.

#include "container/container.h"
#include "container/format.h"
#include "diag/exception.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

class StringSink : public ByteSink {
public:
    void write(const void* src, std::size_t n) override { text.append(static_cast<const char*>(src), n); }
    std::string text;
};

std::string compress(const std::string& input, const PackSettings& settings)
{
    MemorySource in(input.data(), input.size());
    StringSink out;
    compressStream(in, static_cast<unsigned>(input.size()), out, settings, "input");
    return out.text;
}

std::string extract(const std::string& packed, unsigned threads)
{
    MemorySource in(packed.data(), packed.size());
    StringSink out;
    extractStream(in, out, "packed", nullptr, threads);
    return out.text;
}

std::string errorOf(const std::string& packed, unsigned threads)
{
    try {
        extract(packed, threads);
    } catch (const Exception& e) {
        return e.what();
    }
    return "";
}

// Text-like data with some random stretches, so blocks differ in content.
std::string sample(std::size_t size)
{
    std::mt19937 rng(11);
    const std::string words[] = {"block ", "sort ", "transform ", "the ", "of ", "distance ", "\n"};
    std::string s;
    while (s.size() < size) {
        if (rng() % 50 == 0)
            for (int i = 0; i < 200; ++i) s += static_cast<char>(rng());
        s += words[rng() % 7];
    }
    s.resize(size);
    return s;
}

const BlockSettings allPairs[] = {{methodDC, coderAdaptive},
                                  {methodMTFRLE0, coderAdaptive},
                                  {methodMTF, coderAdaptive},
                                  {methodMTFRLE0, coderStatic},
                                  {methodMTF, coderStatic}};

} // namespace

TEST(Threads, EveryThreadCountWritesAndReadsTheSameBytes)
{
    const std::string input = sample(120000);
    for (const BlockSettings& pair : allPairs) {
        for (unsigned blockSize : {0u, 100000u, 777u}) {
            PackSettings settings;
            settings.block = pair;
            settings.blockSize = blockSize;
            settings.threads = 1;
            const std::string reference = compress(input, settings);
            for (unsigned threads : {2u, 3u, 0u}) {
                settings.threads = threads;
                const std::string what = "method " + std::to_string(pair.method) + " coder " +
                                         std::to_string(pair.coderType) + " -b " + std::to_string(blockSize) +
                                         " -j " + std::to_string(threads);
                EXPECT_EQ(compress(input, settings), reference) << what;
                EXPECT_EQ(extract(reference, threads), input) << what;
            }
        }
    }
}

TEST(Threads, TheFirstFailingBlockDecidesTheError)
{
    PackSettings settings;
    settings.blockSize = 5000;
    const std::string packed = compress(sample(60000), settings);
    // Damage the payloads of blocks 4 and 9 and the header id of block 11:
    // every thread count must report block 4's error, the first in order.
    std::vector<std::size_t> starts;
    for (std::size_t pos = fileHeaderSize; pos < packed.size();) {
        starts.push_back(pos);
        pos += blockHeaderSize + loadLE32(reinterpret_cast<const unsigned char*>(packed.data()) + pos + 4);
    }
    ASSERT_EQ(starts.size(), 12u);
    std::string damaged = packed;
    damaged[starts[3] + blockHeaderSize + 40] ^= 0x10;
    damaged[starts[8] + blockHeaderSize + 40] ^= 0x10;
    damaged[starts[10]] = 'X';
    const std::string expected = errorOf(damaged, 1);
    ASSERT_NE(expected, "");
    for (unsigned threads : {2u, 3u, 8u}) EXPECT_EQ(errorOf(damaged, threads), expected) << threads << " threads";

    // A damaged header alone is reported the same way on any thread count.
    std::string badHeader = packed;
    badHeader[starts[6]] = 'X';
    for (unsigned threads : {1u, 2u, 3u})
        EXPECT_EQ(errorOf(badHeader, threads), "Invalid block (header id does not match).") << threads;
}

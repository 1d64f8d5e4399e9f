#include "entropy/bitstream.h"
#include "entropy/bittestutil.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

// Random groups of 1..31 bits, so that groups start at every offset and
// many straddle a word boundary.
std::vector<std::pair<unsigned, unsigned>> randomGroups(unsigned seed, size_t count)
{
    std::mt19937 rng(seed);
    std::vector<std::pair<unsigned, unsigned>> groups(count);
    for (auto& g : groups) {
        g.second = 1 + rng() % 31;
        g.first = rng() & ((1u << g.second) - 1);
    }
    return groups;
}

TEST(BitGroups, WrittenHighFirstAsSingleBitsWouldBe)
{
    const auto groups = randomGroups(1, 5000);
    OutProbe grouped(4), single(4);
    for (const auto& g : groups) {
        grouped.putBitsHighFirst(g.first, g.second);
        for (unsigned j = g.second; j > 0; --j) single.putBit((g.first >> (j - 1)) & 1);
    }
    EXPECT_EQ(grouped.bits(), single.bits());
}

TEST(BitGroups, ReadHighFirstAsSingleBitsWouldBe)
{
    const auto groups = randomGroups(2, 5000);
    std::string out;
    AppendingOutBitStream<std::string> writer(16, &out);
    writer.reset();
    for (const auto& g : groups) writer.putBitsHighFirst(g.first, g.second);
    writer.flush();

    // A small buffer makes the reader refill in the middle of groups.
    const std::string in = out;
    MemoryInBitStream reader(16, in.data(), in.size());
    for (const auto& g : groups) ASSERT_EQ(reader.getBitsHighFirst(g.second), g.first);
    // Past the end of the data the groups read as zero bits.
    for (int k = 0; k < 100; ++k) ASSERT_EQ(reader.getBitsHighFirst(31), 0u);
}

} // namespace

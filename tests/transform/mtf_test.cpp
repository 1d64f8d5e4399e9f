#include "transform/mtf.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

std::vector<unsigned> encodeAll(const std::vector<unsigned char>& symbols)
{
    MTFCoder<unsigned char> coder(256);
    std::vector<unsigned> ranks;
    for (unsigned char s : symbols) ranks.push_back(coder.encode(s));
    return ranks;
}

std::vector<unsigned> decodeAll(const std::vector<unsigned>& ranks)
{
    MTFDecoder<unsigned char> decoder(256);
    std::vector<unsigned> symbols;
    for (unsigned r : ranks) symbols.push_back(decoder.decode(static_cast<unsigned char>(r)));
    return symbols;
}

} // namespace

TEST(MoveToFront, RanksFollowTheRecencyList)
{
    EXPECT_EQ(encodeAll({1, 1, 0, 2, 0}), (std::vector<unsigned>{1, 0, 1, 2, 1}));
    EXPECT_EQ(decodeAll({1, 0, 1, 2, 1}), (std::vector<unsigned>{1, 1, 0, 2, 0}));

    // The last byte value starts at the back; once coded it is at the front,
    // and everything it passed moved back by one.
    EXPECT_EQ(encodeAll({255, 255, 0, 254, 255}), (std::vector<unsigned>{255, 0, 1, 255, 2}));
    EXPECT_EQ(decodeAll({255, 0, 1, 255, 2}), (std::vector<unsigned>{255, 255, 0, 254, 255}));
}

TEST(MoveToFront, FrontSymbolLeavesTheListAlone)
{
    MTFCoder<unsigned char> coder(256);
    EXPECT_EQ(coder.encode(0), 0);
    EXPECT_EQ(coder.encode(0), 0);
    EXPECT_EQ(coder.encode(3), 3); // 1 and 2 untouched by the rank-0 calls

    MTFDecoder<unsigned char> decoder(256);
    EXPECT_EQ(decoder.decode(0), 0);
    EXPECT_EQ(decoder.front(), 0);
    EXPECT_EQ(decoder.decode(3), 3);
    EXPECT_EQ(decoder.front(), 3);
    EXPECT_EQ(decoder.decode(1), 0);
    EXPECT_EQ(decoder.decode(2), 1);
}

TEST(MoveToFront, DecoderInvertsCoderOnRandomBytes)
{
    std::mt19937 rng(12345);
    // Skewed towards few symbols so both small and large ranks occur.
    std::vector<unsigned char> symbols(20000);
    for (auto& s : symbols) s = static_cast<unsigned char>(rng() % 4 == 0 ? rng() % 256 : rng() % 8);
    std::vector<unsigned> ranks = encodeAll(symbols);
    std::vector<unsigned> back = decodeAll(ranks);
    ASSERT_EQ(back.size(), symbols.size());
    for (size_t i = 0; i < symbols.size(); ++i) ASSERT_EQ(back[i], symbols[i]) << "at " << i;
}

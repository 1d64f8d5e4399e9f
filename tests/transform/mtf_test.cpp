#include "transform/mtf.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
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

namespace {

// Blocks that stress the list: every value in turn (each rank 255 once the
// list is full), descending values, one value, long runs, tiny sizes, and
// mixtures of small and large ranks.
std::vector<std::vector<unsigned char>> adversarialBlocks()
{
    std::vector<std::vector<unsigned char>> blocks{{}, {0}, {255}, {7, 7}, {255, 0}, std::vector<unsigned char>(5000, 200)};
    std::vector<unsigned char> up, down, runs, mixed;
    for (int round = 0; round < 4; ++round)
        for (int v = 0; v < 256; ++v) {
            up.push_back(static_cast<unsigned char>(v));
            down.push_back(static_cast<unsigned char>(255 - v));
        }
    std::mt19937 rng(4242);
    while (runs.size() < 20000) runs.insert(runs.end(), 1 + rng() % 300, static_cast<unsigned char>(rng()));
    for (int i = 0; i < 50000; ++i) {
        const unsigned kind = rng() % 4;
        mixed.push_back(static_cast<unsigned char>(kind == 0 ? rng() : kind == 1 ? rng() % 70 : rng() % 17));
    }
    for (auto* b : {&up, &down, &runs, &mixed}) blocks.push_back(*b);
    return blocks;
}

} // namespace

// The 16-at-a-time list steps against the byte loops, from every list place:
// both ends, the block edges and the switch to memmove.
TEST(MoveToFront, VectorListStepsMatchTheByteLoops)
{
    std::mt19937 rng(77);
    unsigned char fast[256], plain[256];
    for (unsigned i = 0; i < 256; ++i) fast[i] = plain[i] = static_cast<unsigned char>(i);
    for (int step = 0; step < 20000; ++step) {
        const unsigned place = step < 512 ? step % 256 : rng() % 256;
        if (step % 2 == 0) {
            const unsigned char symbol = plain[place];
            ASSERT_EQ(mtfdetail::symbolToFront(fast, symbol), mtfdetail::symbolToFrontPortable(plain, symbol));
        } else {
            ASSERT_EQ(mtfdetail::rankToFront(fast, place), mtfdetail::rankToFrontPortable(plain, place));
        }
        ASSERT_EQ(0, std::memcmp(fast, plain, 256)) << "step " << step << " place " << place;
    }
}

TEST(MoveToFront, VectorCoderAndDecoderMatchThePlainOnes)
{
    for (const auto& block : adversarialBlocks()) {
        SCOPED_TRACE("block of " + std::to_string(block.size()));
        MTFCoder<unsigned char> fast(256);
        MTFCoder<unsigned char, false> plain(256);
        MTFDecoder<unsigned char> fastBack(256);
        MTFDecoder<unsigned char, false> plainBack(256);
        for (std::size_t i = 0; i < block.size(); ++i) {
            const unsigned char rank = plain.encode(block[i]);
            ASSERT_EQ(fast.encode(block[i]), rank) << "at " << i;
            ASSERT_EQ(plainBack.decode(rank), block[i]) << "at " << i;
            ASSERT_EQ(fastBack.decode(rank), block[i]) << "at " << i;
            ASSERT_EQ(fastBack.front(), plainBack.front());
        }
    }
    // Lists of other sizes keep the plain path and its results.
    MTFCoder<unsigned char> small(16);
    MTFCoder<unsigned char, false> smallPlain(16);
    for (unsigned char s : {3, 15, 0, 15, 7, 7, 1}) ASSERT_EQ(small.encode(s), smallPlain.encode(s));
}

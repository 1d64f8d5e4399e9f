#include "transform/rle0.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::vector<unsigned> encodeRanks(const std::vector<unsigned>& ranks)
{
    std::vector<unsigned> symbols;
    auto encoder = makeZeroRunEncoder([&](unsigned s) { symbols.push_back(s); });
    for (unsigned r : ranks) encoder.put(r);
    encoder.finish();
    EXPECT_EQ(encoder.symbolCount(), symbols.size());
    EXPECT_LE(symbols.size(), ranks.size());
    return symbols;
}

// Decodes `size` ranks; `consumed` reports how many symbols were read.
// Reading past the supplied symbols is a test failure, reported as a throw.
std::vector<unsigned> decodeSymbols(const std::vector<unsigned>& symbols, unsigned size,
                                    size_t* consumed = nullptr)
{
    std::vector<unsigned> ranks(size, 999);
    size_t next = 0;
    decodeZeroRuns(
        size,
        [&]() {
            if (next >= symbols.size()) throw std::logic_error("decoder read past the symbols");
            return symbols[next++];
        },
        [&](unsigned pos, unsigned rank) { ranks.at(pos) = rank; },
        [&](unsigned pos, unsigned count) {
            for (unsigned i = 0; i < count; ++i) ranks.at(pos + i) = 0;
        });
    if (consumed) *consumed = next;
    return ranks;
}

std::vector<unsigned> zeros(unsigned n) { return std::vector<unsigned>(n, 0); }

} // namespace

TEST(ZeroRunCoding, RunLengthsBecomeDigitsOfLengthPlusOne)
{
    struct Row { unsigned length; std::vector<unsigned> digits; };
    const Row table[] = {
        {1, {0}}, {2, {1}}, {3, {0, 0}}, {4, {0, 1}}, {5, {1, 0}}, {6, {1, 1}},
        {7, {0, 0, 0}}, {8, {0, 0, 1}}, {14, {1, 1, 1}}, {15, {0, 0, 0, 0}},
    };
    for (const Row& row : table) {
        EXPECT_EQ(encodeRanks(zeros(row.length)), row.digits) << "run of " << row.length;
        EXPECT_EQ(zeroRunDigitCount(row.length), row.digits.size());
        EXPECT_EQ(decodeSymbols(row.digits, row.length), zeros(row.length));
    }
    // 2^t - 1 gives t zero digits, 2^(t+1) - 2 gives t one digits.
    for (unsigned t = 1; t <= 23; ++t) {
        EXPECT_EQ(zeroRunDigitCount((1u << t) - 1), t);
        EXPECT_EQ(zeroRunDigitCount((1u << (t + 1)) - 2), t);
    }
    // The largest block: 10485760 zero ranks in 23 digits.
    EXPECT_EQ(encodeRanks(zeros(10485760)).size(), 23u);
}

TEST(ZeroRunCoding, WorkedExamples)
{
    const std::vector<unsigned> ranks = {3, 0, 0, 0, 0, 5, 0};
    const std::vector<unsigned> symbols = {4, 0, 1, 6, 0};
    EXPECT_EQ(encodeRanks(ranks), symbols);
    EXPECT_EQ(decodeSymbols(symbols, 7), ranks);

    EXPECT_EQ(encodeRanks({5, 0}), (std::vector<unsigned>{6, 0}));
    EXPECT_EQ(decodeSymbols({6, 0}, 2), (std::vector<unsigned>{5, 0}));

    // A run ended by a rank at the block's end: digits, that rank, nothing else.
    EXPECT_EQ(encodeRanks({0, 0, 255}), (std::vector<unsigned>{1, 256}));
    EXPECT_EQ(decodeSymbols({1, 256}, 3), (std::vector<unsigned>{0, 0, 255}));

    EXPECT_EQ(encodeRanks({0}), (std::vector<unsigned>{0}));
    EXPECT_EQ(decodeSymbols({0}, 1), (std::vector<unsigned>{0}));
}

TEST(ZeroRunCoding, DecoderStopsReadingWhenTheBlockIsFull)
{
    size_t consumed = 0;
    // Six zeros are the digits 1 1; the symbols after them belong to nobody.
    EXPECT_EQ(encodeRanks(zeros(6)), (std::vector<unsigned>{1, 1}));
    EXPECT_EQ(decodeSymbols({1, 1, 0, 0, 7}, 6, &consumed), zeros(6));
    EXPECT_EQ(consumed, 2u);

    // A run of three at the end of a block of 5 after two ranks.
    EXPECT_EQ(decodeSymbols({3, 3, 0, 0, 1, 1}, 5, &consumed), (std::vector<unsigned>{2, 2, 0, 0, 0}));
    EXPECT_EQ(consumed, 4u);
}

TEST(ZeroRunCoding, RunPastTheBlockIsRejected)
{
    const std::string message = "Error in compressed file (RLE0 run exceeds file size)";
    struct Case { std::vector<unsigned> symbols; unsigned size; };
    const Case cases[] = {
        {{1}, 1},          // a run of 2 in a block of 1
        {{5, 0, 1}, 4},    // a rank, then a run of 4 where 3 remain
        {{0, 0, 1, 1}, 9}, // a run of 18 where 9 remain, known at the fourth digit
    };
    for (const Case& c : cases) {
        std::vector<unsigned> written(c.size, 999);
        bool zerosPut = false;
        size_t next = 0;
        try {
            decodeZeroRuns(
                c.size, [&]() { return c.symbols.at(next++); },
                [&](unsigned pos, unsigned rank) { written.at(pos) = rank; },
                [&](unsigned, unsigned) { zerosPut = true; });
            ADD_FAILURE() << "block of " << c.size << " was accepted";
        } catch (const Exception& e) {
            EXPECT_EQ(e.what(), message);
        }
        EXPECT_FALSE(zerosPut) << "block of " << c.size;
    }
}

TEST(ZeroRunCoding, RoundTripsRandomRanks)
{
    std::mt19937 rng(7);
    for (int trial = 0; trial < 200; ++trial) {
        unsigned size = 1 + rng() % 3000;
        std::vector<unsigned> ranks(size);
        // Long zero runs broken by occasional ranks of every size.
        unsigned zeroPercent = rng() % 100;
        for (auto& r : ranks) r = rng() % 100 < zeroPercent ? 0 : 1 + rng() % 255;
        std::vector<unsigned> symbols = encodeRanks(ranks);
        for (unsigned s : symbols) ASSERT_LT(s, zeroRunSymbolCount);
        size_t consumed = 0;
        ASSERT_EQ(decodeSymbols(symbols, size, &consumed), ranks) << "trial " << trial;
        EXPECT_EQ(consumed, symbols.size());
    }
}

// Stages of one block shared between threads: the same block and the same
// verdict on damaged payloads as on one thread.

#include "blockcodec/blockcodec.h"
#include "diag/exception.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::string decodeWith(const BlockSettings& settings, const std::vector<unsigned char>& payload, unsigned size,
                       unsigned threads)
{
    std::string out(size, '\0');
    try {
        decodeBlock(settings, payload.data(), payload.size(), &out[0], size, nullptr, threads);
    } catch (const Exception& e) {
        return std::string("refused: ") + e.what();
    }
    return out;
}

} // namespace

TEST(BlockThreads, SameBlockAndSameVerdictOnAnyThreadCount)
{
    // Enough distance values that the decoding runs in several batches.
    std::mt19937 rng(3);
    std::string block;
    while (block.size() < 400000) block += rng() % 3 ? std::string(1 + rng() % 4, char('a' + rng() % 20)) : "xyz";
    const BlockSettings pairs[] = {{methodDC, coderAdaptive}, {methodMTFRLE0, coderStatic}};
    for (const BlockSettings& settings : pairs) {
        std::string work = block;
        std::vector<unsigned char> payload;
        encodeBlock(settings, &work[0], static_cast<unsigned>(block.size()), payload);
        const unsigned size = static_cast<unsigned>(block.size());
        for (unsigned threads : {2u, 3u}) EXPECT_EQ(decodeWith(settings, payload, size, threads), block);
        for (unsigned threads : {1u, 2u}) {
            std::vector<unsigned char> owned = payload;
            std::string out(size, '\0');
            decodeBlockReleasing(settings, owned, &out[0], size, nullptr, threads);
            EXPECT_EQ(out, block);
            EXPECT_TRUE(owned.empty() && owned.capacity() == 0) << "the payload is given back once decoded";
        }
        for (unsigned threads : {2u, 3u}) {
            std::string again = block;
            std::vector<unsigned char> same;
            encodeBlock(settings, &again[0], size, same, nullptr, threads);
            EXPECT_EQ(same, payload) << threads << " threads";
        }
        for (int trial = 0; trial < 20; ++trial) {
            std::vector<unsigned char> damaged = payload;
            damaged[8 + rng() % (damaged.size() - 8)] ^= static_cast<unsigned char>(1u << (rng() % 8));
            const std::string expected = decodeWith(settings, damaged, size, 1);
            EXPECT_EQ(decodeWith(settings, damaged, size, 2), expected) << "trial " << trial;
        }
    }
}

// Stages of one block shared between threads: the same block and the same
// verdict on damaged payloads as on one thread, and the same payload.

#include "blockcodec/blockcodec.h"
#include "blockcodec/stages.h"
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

namespace {

std::string randomBytes(std::mt19937& rng, std::size_t size)
{
    std::string s(size, '\0');
    for (char& c : s) c = static_cast<char>(rng());
    return s;
}

// Blocks that stress the overlapped distance coding: noise, whose payload
// outgrows the block (the coder's output chases the transform's reading);
// text-like runs; symbols met only at the ends, which hold the header or
// the first entry back to the end; one long run; few values in few runs.
std::vector<std::string> overlapBlocks()
{
    std::mt19937 rng(19);
    std::vector<std::string> blocks;
    blocks.push_back(randomBytes(rng, 300000));
    std::string text;
    const char* words[] = {"distance ", "coding ", "of ", "runs ", "the ", "\n"};
    while (text.size() < 200000) text += words[rng() % 6];
    blocks.push_back(text);
    blocks.push_back("\x01" + text + "\x02" + randomBytes(rng, 70000) + "\x01");
    blocks.push_back(std::string(100000, 'z'));
    blocks.push_back(std::string(40000, 'a') + std::string(40000, 'b') + std::string(40000, 'c'));
    return blocks;
}

} // namespace

// The distance transform overlapped with the coder writes the payload of
// the one-thread path, whatever the thread count and wherever the payload
// lands (over the block or spilled past it).
TEST(BlockThreads, OverlappedDistanceCodingWritesTheSamePayload)
{
    const BlockSettings dc{methodDC, coderAdaptive};
    for (const std::string& block : overlapBlocks()) {
        SCOPED_TRACE("block of " + std::to_string(block.size()));
        const unsigned size = static_cast<unsigned>(block.size());
        std::string work = block;
        std::vector<unsigned char> reference;
        encodeBlock(dc, &work[0], size, reference, nullptr, 1);

        // The stage itself, so that the overlapped path is known to run.
        work = block;
        std::vector<unsigned char> spill;
        BorrowingOutBitStream bits(bitStreamWords, reinterpret_cast<unsigned char*>(&work[0]), size, &spill);
        bits.reset();
        stages::putWord(bits, 12345);
        ASSERT_TRUE(stages::encodeDistancesOverlapped(&work[0], size, bits));
        std::vector<unsigned char> staged(work.begin(), work.begin() + bits.borrowedBytes());
        staged.insert(staged.end(), spill.begin(), spill.end());
        work = block;
        std::vector<unsigned char> plain;
        PayloadOutBitStream plainBits(bitStreamWords, &plain);
        plainBits.reset();
        stages::putWord(plainBits, 12345);
        stages::StageTimes times;
        stages::encodeDistances(&work[0], size, plainBits, nullptr, times);
        plainBits.flush();
        EXPECT_EQ(staged, plain);

        for (unsigned threads : {2u, 3u}) {
            work = block;
            std::vector<unsigned char> payload;
            encodeBlock(dc, &work[0], size, payload, nullptr, threads);
            EXPECT_EQ(payload, reference) << threads << " threads";
            work = block;
            std::vector<unsigned char> tail;
            const std::size_t inPlace = encodeBlockInPlace(dc, &work[0], size, tail, nullptr, threads);
            std::vector<unsigned char> joined(work.begin(), work.begin() + inPlace);
            joined.insert(joined.end(), tail.begin(), tail.end());
            EXPECT_EQ(joined, reference) << threads << " threads, in place";
        }
        EXPECT_EQ(decodeWith(dc, reference, size, 2), block);
    }
}

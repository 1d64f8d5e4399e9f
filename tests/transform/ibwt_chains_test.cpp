// The inverse BWT that walks from many rows at once against the plain
// single walk: same bytes for every transform and for inputs no transform
// produces, for any number of start rows.

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "diag/exception.h"
#include "transform/bwt.h"
#include "transform/ibwt.h"

namespace {

std::string plain(const std::string& in, unsigned primary)
{
    std::string out(in.size(), '\0');
    ibwtPlain<char>(&out[0], in.data(), static_cast<unsigned>(in.size()), primary);
    return out;
}

std::string chains(const std::string& in, unsigned primary, unsigned starts, unsigned threads = 1)
{
    std::string out(in.size(), '\0');
    ibwtChains<char>(&out[0], in.data(), static_cast<unsigned>(in.size()), primary, starts, threads);
    return out;
}

std::string inverse(const std::string& in, unsigned primary)
{
    std::string out(in.size(), '\0');
    ibwt<char>(&out[0], in.data(), static_cast<unsigned>(in.size()), primary);
    return out;
}

std::string fromScratch(const std::string& in, unsigned primary, unsigned threads = 1)
{
    std::vector<std::uint32_t> scratch(in.size() + 1);
    char* top = reinterpret_cast<char*>(scratch.data()) + 3 * in.size();
    std::copy(in.begin(), in.end(), top);
    std::string out(in.size(), '\0');
    ibwtFromScratch<char>(&out[0], scratch.data(), static_cast<unsigned>(in.size()), primary, threads);
    return out;
}

std::string randomBlock(std::mt19937& rng, std::size_t size, unsigned alphabet)
{
    std::string s(size, '\0');
    for (char& c : s) c = static_cast<char>(0xFF - rng() % alphabet);
    return s;
}

// Around the 24 walks kept in flight as well: fewer, as many, one more, two
// rounds of them.
const unsigned startCounts[] = {1, 2, 3, 5, 16, 17, 23, 24, 25, 49, 100, 1024};

// Transforms the block and checks that every way back restores it.
void checkRestores(const std::string& block)
{
    SCOPED_TRACE("size " + std::to_string(block.size()));
    std::string transformed = block;
    const unsigned primary = bwt<char, unsigned>(&transformed[0], static_cast<unsigned>(block.size()));
    ASSERT_EQ(plain(transformed, primary), block);
    ASSERT_EQ(inverse(transformed, primary), block);
    for (unsigned threads : {1u, 2u}) ASSERT_EQ(fromScratch(transformed, primary, threads), block) << threads;
    for (unsigned starts : startCounts)
        for (unsigned threads : {1u, 2u, 3u})
            ASSERT_EQ(chains(transformed, primary, starts, threads), block) << starts << " starts, " << threads;
}

}  // namespace

TEST(IbwtChains, RestoresSmallAndEdgeBlocks)
{
    for (const std::string& s : {std::string("x"), std::string("ab"), std::string("ba"), std::string("banana"),
                                 std::string("abracadabra"), std::string(300, '\xff'), std::string(5, '\0'),
                                 std::string("\x00\xff\x00\xff\xff", 5)})
        checkRestores(s);
    std::mt19937 rng(5);
    for (std::size_t size = 1; size <= 300; ++size) checkRestores(randomBlock(rng, size, size % 3 == 0 ? 256 : 3));
}

// The walks run in batches that stop where a chunk of output (1 KiB) fills
// up or a piece ends; blocks of about a chunk per start make both happen in
// the same batches, and at every offset in a chunk.
TEST(IbwtChains, RestoresBlocksWhosePiecesEndNearChunkEdges)
{
    std::mt19937 rng(7);
    for (unsigned starts : {1u, 24u, 25u, 49u})
        for (int delta : {-1, 0, 1, 517}) {
            const std::size_t size = std::size_t(starts) * 1024 + static_cast<std::size_t>(1024 + delta);
            const std::string block = randomBlock(rng, size, 4);
            std::string transformed = block;
            const unsigned primary = bwt<char, unsigned>(&transformed[0], static_cast<unsigned>(size));
            for (unsigned threads : {1u, 2u})
                ASSERT_EQ(chains(transformed, primary, starts, threads), block)
                    << size << " bytes, " << starts << " starts, " << threads << " threads";
        }
}

TEST(IbwtChains, RestoresLongAndRepetitiveBlocks)
{
    std::mt19937 rng(6);
    checkRestores(randomBlock(rng, 200000, 256));
    checkRestores(randomBlock(rng, 200000, 2));
    checkRestores(std::string(100000, 'a'));
    std::string phrase;
    while (phrase.size() < 150000) phrase += "the cat sat on the mat. ";
    checkRestores(phrase);
    for (const char* name : {"paper1", "geo", "obj1"}) {
        std::ifstream in(std::string(VARN_TEST_DATA_DIR) + "/" + name, std::ios::binary);
        checkRestores(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
    }
}

// The outcome of one inverse: the restored bytes, or the message of the
// exception that refused the block, marked so the two cannot be confused.
template <class Inverse>
std::string verdict(Inverse inverse, std::size_t size)
{
    std::string out(size, '\0');
    try {
        inverse(&out[0]);
    } catch (const Exception& e) {
        return std::string("refused: ") + e.what();
    }
    return "restored: " + out;
}

std::string plainVerdict(const std::string& in, unsigned primary)
{
    return verdict([&](char* out) { ibwtPlain<char>(out, in.data(), static_cast<unsigned>(in.size()), primary); },
                   in.size());
}

std::string chainsVerdict(const std::string& in, unsigned primary, unsigned starts, unsigned threads = 1)
{
    return verdict(
        [&](char* out) {
            ibwtChains<char>(out, in.data(), static_cast<unsigned>(in.size()), primary, starts, threads);
        },
        in.size());
}

// Most byte strings are no transform: their rows fall into several cycles
// and the walk from the anchor comes back to it early. Every way back must
// refuse such a block with the same message, and restore the same bytes
// where the walk does take in every row (the sanitizer build checks that
// all of it stays inside the buffers).
TEST(IbwtChains, SameVerdictAsPlainWalkOnArbitraryInput)
{
    std::mt19937 rng(7);
    unsigned refused = 0, restored = 0;
    for (int trial = 0; trial < 600; ++trial) {
        const std::size_t size = 1 + rng() % (trial < 450 ? 12 : 20000);
        const std::string in = randomBlock(rng, size, trial % 4 == 0 ? 256 : 1 + trial % 5);
        const unsigned primary = static_cast<unsigned>(rng() % size);
        SCOPED_TRACE("size " + std::to_string(size) + " primary " + std::to_string(primary));
        const std::string expected = plainVerdict(in, primary);
        (expected.compare(0, 8, "refused:") == 0 ? refused : restored) += 1;
        ASSERT_EQ(verdict([&](char* out) { ibwt<char>(out, in.data(), static_cast<unsigned>(size), primary); }, size),
                  expected);
        for (unsigned starts : startCounts) ASSERT_EQ(chainsVerdict(in, primary, starts), expected) << starts << " starts";
        ASSERT_EQ(chainsVerdict(in, primary, 64, 2), expected) << "two threads";
        ASSERT_EQ(verdict([&](char* out) {
                      std::vector<std::uint32_t> scratch(size);
                      std::copy(in.begin(), in.end(), reinterpret_cast<char*>(scratch.data()) + 3 * size);
                      ibwtFromScratch<char>(out, scratch.data(), static_cast<unsigned>(size), primary);
                  }, size),
                  expected)
            << "from scratch";
    }
    // Both outcomes were exercised.
    EXPECT_GT(refused, 100u);
    EXPECT_GT(restored, 20u);

    // In a sorted block nearly every row is its own successor: the rows form
    // many cycles of one, and no primary index makes it a transform.
    const std::string sorted = "aabbbcd";
    for (unsigned primary = 0; primary < sorted.size(); ++primary) {
        const std::string expected = plainVerdict(sorted, primary);
        EXPECT_EQ(expected.compare(0, 8, "refused:"), 0) << expected;
        for (unsigned starts : startCounts) ASSERT_EQ(chainsVerdict(sorted, primary, starts), expected);
    }
    // "ab" with primary 0: row 0 ('a', the end) leads back to itself at once.
    EXPECT_EQ(plainVerdict("ab", 0), "refused: Corrupt block: the inverse BWT closes a cycle after 1 of 2 bytes.");
    EXPECT_EQ(chainsVerdict("ab", 0, 2), plainVerdict("ab", 0));
}

// Whatever bwt() produces is accepted: the test data files, blocks of every
// small size, and periodic blocks, whose rotations alone would close short
// cycles.
TEST(IbwtChains, NeverRefusesARealTransform)
{
    std::vector<std::string> blocks;
    for (const char* name : {"paper1", "geo", "obj1", "progc", "grammar.lsp", "xargs.1"}) {
        std::ifstream in(std::string(VARN_TEST_DATA_DIR) + "/" + name, std::ios::binary);
        blocks.emplace_back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_FALSE(blocks.back().empty()) << name;
    }
    std::mt19937 rng(8);
    for (unsigned size = 1; size <= 64; ++size)
        for (unsigned alphabet : {1u, 2u, 256u}) blocks.push_back(randomBlock(rng, size, alphabet));
    for (const char* unit : {"ab", "abc", "aab", "abab", "\xff\x00"})
        for (std::size_t length : {2u, 3u, 8u, 9u, 1000u}) {
            std::string block;
            while (block.size() < length) block += unit;
            blocks.push_back(block.substr(0, length));
        }
    for (const std::string& block : blocks) checkRestores(block);
}

TEST(IbwtChains, RejectsPrimaryIndexOutsideBlockBeforeWriting)
{
    const std::string in = "nnbaaa";
    for (unsigned primary : {6u, 7u, 0xFFFFFFFFu}) {
        std::string out(in.size(), '#');
        EXPECT_THROW(ibwtChains<char>(&out[0], in.data(), 6, primary, 4), Exception);
        EXPECT_THROW(ibwtPlain<char>(&out[0], in.data(), 6, primary), Exception);
        EXPECT_EQ(out, std::string(in.size(), '#'));
    }
    ibwtChains<char>(nullptr, nullptr, 0, 0, 1);
    ibwtPlain<char>(nullptr, nullptr, 0, 0);
}

// The induced sort given several threads against the same sort on one: the
// suffix array and the transform must not depend on the thread count. Only
// blocks of 1 MiB and more use a second thread, so the blocks here lie
// around and above that size; the kinds are chosen so that the passes split
// between the threads meet their edge cases (no LMS position at all, runs
// crossing every piece boundary, names that repeat across pieces, every
// name unique; scans whose blocks end early or cannot be shared; first
// reduced texts that are sorted by doubling in one round or many, and those
// left to induced sorting for their repeats or a name that fills an eighth
// of them).

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "diag/coregate.h"
#include "transform/bwt.h"
#include "transform/sais.h"

namespace {

const std::size_t mebibyte = std::size_t(1) << 20;

std::string repeatTo(const std::string& unit, std::size_t size)
{
    std::string s;
    s.reserve(size + unit.size());
    while (s.size() < size) s += unit;
    s.resize(size);
    return s;
}

std::string randomBytes(std::size_t size, unsigned alphabet, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    std::string s(size, '\0');
    for (char& c : s) c = static_cast<char>(rng() % alphabet);
    return s;
}

// The test corpus files one after another, repeated up to `size`.
std::string corpusText(std::size_t size)
{
    std::string text;
    for (const char* name : {"paper1", "progc", "geo", "grammar.lsp", "obj1", "xargs.1"}) {
        std::ifstream in(std::string(VARN_TEST_DATA_DIR) + "/" + name, std::ios::binary);
        text.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (text.empty()) text = "No corpus file was found; this line stands in for text. ";
    return repeatTo(text, size);
}

// Words of 2-10 letters drawn at random from a vocabulary, or sentences of
// 6-11 such words drawn from a set of `sentences`, up to `size` bytes.
std::string wordsAtRandom(std::size_t size, std::size_t sentences, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<std::string> vocabulary(3000);
    for (std::string& word : vocabulary)
        for (unsigned length = 2 + rng() % 9; word.size() < length;) word += static_cast<char>('a' + rng() % 26);
    auto sentence = [&] {
        std::string line;
        for (unsigned words = 6 + rng() % 6; words > 0; --words) line += vocabulary[rng() % vocabulary.size()] + ' ';
        return line + ". ";
    };
    std::vector<std::string> set(sentences);
    for (std::string& line : set) line = sentence();
    std::string text;
    while (text.size() < size) text += sentences == 0 ? vocabulary[rng() % vocabulary.size()] + ' ' : set[rng() % sentences];
    text.resize(size);
    return text;
}

struct Block {
    const char* kind;
    std::string data;
};

std::vector<Block> blocks()
{
    std::vector<Block> b;
    b.push_back({"random bytes just below the threshold", randomBytes(mebibyte - 1, 256, 1)});
    b.push_back({"random bytes at the threshold", randomBytes(mebibyte, 256, 2)});
    b.push_back({"random bytes just above the threshold", randomBytes(mebibyte + 1, 256, 3)});
    b.push_back({"random over four symbols", randomBytes(mebibyte + 4097, 4, 4)});
    b.push_back({"text", corpusText(mebibyte + mebibyte / 2 + 33)});
    b.push_back({"one byte", std::string(mebibyte + 5, 'a')});
    b.push_back({"period 2", repeatTo("ab", mebibyte + 7)});
    b.push_back({"period 3", repeatTo("abc", mebibyte + 65)});
    std::string all;
    for (unsigned c = 0; c < 256; ++c) all += static_cast<char>(c);
    b.push_back({"all 256 symbols, repeated", repeatTo(all, mebibyte + 256 * 3 + 1)});
    // Long runs between short noise: runs cross the pieces of a split pass,
    // and a run at the very end makes the last suffixes L-type.
    std::string runs = randomBytes(1000, 256, 5);
    std::mt19937 rng(6);
    while (runs.size() < mebibyte + 100000) {
        runs += std::string(1 + rng() % 200000, static_cast<char>('a' + rng() % 3));
        runs += randomBytes(1 + rng() % 50, 256, rng());
    }
    b.push_back({"long runs", runs + std::string(150000, 'z')});
    // Two symbols with rare others: many tiny buckets among two large ones,
    // so that blocks of a shared scan end at the pointers of small buckets.
    std::string skewed = randomBytes(mebibyte + 999, 2, 8);
    for (std::size_t i = 0; i < skewed.size(); i += 1 + rng() % 5000) skewed[i] = static_cast<char>(rng());
    b.push_back({"skewed", skewed});
    // Text with runs of one of its own letters: a scan induces into its own
    // next slots for a stretch, then shares blocks again.
    std::string text = corpusText(mebibyte + 12345);
    for (std::size_t i = 0; i + 3000 < text.size(); i += 1 + rng() % 100000) text.replace(i, 1 + rng() % 3000, 1 + rng() % 3000, 'e');
    text.resize(mebibyte + 12345);
    b.push_back({"text with runs", text});
    // Two words at random: every LMS suffix of the first reduced text
    // starts with the same name, so its sorted ones cannot be cut between
    // names.
    std::string words;
    while (words.size() < mebibyte + 333) words += rng() % 2 ? "ba" : "ca";
    b.push_back({"two words", words});
    // Words drawn at random from a vocabulary: text without long repeats,
    // whose first reduced text two threads sort by doubling over several
    // rounds; then the same with one stretch copied further on, which
    // keeps its suffixes in groups for many more rounds; and sentences from
    // a small set, whose groups stay whole for rounds at a time.
    const std::string prose = wordsAtRandom(mebibyte + mebibyte / 2, 0, 9);
    b.push_back({"words at random", prose});
    b.push_back({"words with one long repeat", prose.substr(0, 900000) + prose.substr(100000, 60000) + prose.substr(900000)});
    b.push_back({"sentences from a small set", wordsAtRandom(mebibyte + mebibyte / 2, 600, 10)});
    return b;
}

TEST(SaisThreads, SuffixArrayDoesNotDependOnThreadCount)
{
    for (const Block& block : blocks()) {
        SCOPED_TRACE(block.kind);
        const std::string& s = block.data;
        const std::unique_ptr<unsigned[]> one = suffixArrayFast<unsigned>(s.data(), s.data() + s.size(), 1);
        const std::vector<unsigned> expected(one.get(), one.get() + s.size());
        for (unsigned threads : {2u, 3u, 8u}) {
            SCOPED_TRACE("threads " + std::to_string(threads));
            const std::unique_ptr<unsigned[]> sa = suffixArrayFast<unsigned>(s.data(), s.data() + s.size(), threads);
            ASSERT_EQ(std::vector<unsigned>(sa.get(), sa.get() + s.size()), expected);
        }
    }
}

TEST(SaisThreads, TransformDoesNotDependOnThreadCount)
{
    for (const Block& block : blocks()) {
        SCOPED_TRACE(block.kind);
        const std::string& s = block.data;
        const unsigned n = static_cast<unsigned>(s.size());
        const unsigned char* in = reinterpret_cast<const unsigned char*>(s.data());
        std::string expected(n, '\0');
        const unsigned primary = bwtFromSais(in, reinterpret_cast<unsigned char*>(&expected[0]), n, 1);
        for (unsigned threads : {2u, 3u, 8u}) {
            SCOPED_TRACE("threads " + std::to_string(threads));
            std::string out(n, '\0');
            ASSERT_EQ(bwtFromSais(in, reinterpret_cast<unsigned char*>(&out[0]), n, threads), primary);
            ASSERT_EQ(out, expected);
            // In place, through bwt(), as the block codec calls it.
            std::string inPlace = s;
            ASSERT_EQ((bwt<char, unsigned>(&inPlace[0], n, nullptr, threads)), primary);
            ASSERT_EQ(inPlace, expected);
        }
    }
}

// Shared scans cut their blocks at bucket pointers and split them in parts;
// alphabets and lengths that move those cuts, and runs that force a scan to
// go on alone for a while, against one thread.
TEST(SaisThreads, SharedScanCutsDoNotChangeTheTransform)
{
    std::mt19937 rng(11);
    for (unsigned alphabet : {3u, 17u, 256u})
        for (std::size_t extra : {std::size_t(0), std::size_t(4097), std::size_t(32769)}) {
            std::string s = randomBytes(mebibyte + extra, alphabet, rng());
            for (std::size_t i = rng() % 5000; i + 5000 < s.size(); i += 20000 + rng() % 200000)
            {
                const std::size_t run = 1 + rng() % 5000;
                s.replace(i, run, run, s[i]);
            }
            SCOPED_TRACE("alphabet " + std::to_string(alphabet) + ", " + std::to_string(s.size()) + " bytes");
            const unsigned n = static_cast<unsigned>(s.size());
            const unsigned char* in = reinterpret_cast<const unsigned char*>(s.data());
            std::string one(n, '\0'), two(n, '\0');
            const unsigned primary = bwtFromSais(in, reinterpret_cast<unsigned char*>(&one[0]), n, 1);
            ASSERT_EQ(bwtFromSais(in, reinterpret_cast<unsigned char*>(&two[0]), n, 2), primary);
            ASSERT_EQ(two, one);
        }
}

// While another block is in work the helper sits out and the sort takes its
// one-thread paths; once the gate opens, part way through a sort, the
// helper joins in at the next pass. Neither changes the order.
TEST(SaisThreads, HelperSitsOutWhileOtherBlocksAreInWork)
{
    for (const std::string& s : {corpusText(mebibyte + mebibyte / 2 + 33), randomBytes(mebibyte + 4097, 4, 4)}) {
        const unsigned n = static_cast<unsigned>(s.size());
        const unsigned char* in = reinterpret_cast<const unsigned char*>(s.data());
        std::string expected(n, '\0');
        const unsigned primary = bwtFromSais(in, reinterpret_cast<unsigned char*>(&expected[0]), n, 1);
        const std::unique_ptr<unsigned[]> one = suffixArrayFast<unsigned>(s.data(), s.data() + s.size(), 1);

        CoreGate gate;
        CoreGate::InWork mine(gate);
        std::atomic<bool> done{false};
        std::thread other([&gate, &done] {
            CoreGate::InWork theirs(gate);
            while (!done.load()) std::this_thread::sleep_for(std::chrono::microseconds(100));
        });
        while (gate.open()) std::this_thread::yield();
        std::string out(n, '\0');
        EXPECT_EQ(bwtFromSais(in, reinterpret_cast<unsigned char*>(&out[0]), n, 2), primary);
        EXPECT_EQ(out, expected);
        const std::unique_ptr<unsigned[]> sa = suffixArrayFast<unsigned>(s.data(), s.data() + s.size(), 2);
        EXPECT_TRUE(std::equal(sa.get(), sa.get() + n, one.get()));
        EXPECT_FALSE(gate.open());

        // The other block ends a few milliseconds into the next sort.
        std::thread ending([&done] {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            done.store(true);
        });
        out.assign(n, '\0');
        EXPECT_EQ(bwtFromSais(in, reinterpret_cast<unsigned char*>(&out[0]), n, 2), primary);
        EXPECT_EQ(out, expected);
        ending.join();
        other.join();
        EXPECT_TRUE(gate.open());
    }
}

// The plain doubling sort is slow on long blocks; a few blocks above the
// threshold check the threaded order against it directly: text (whose
// repeats keep the threads to induced sorting), words at random (which
// they sort by doubling) and a run-heavy block.
TEST(SaisThreads, ThreadedOrderMatchesDoublingSort)
{
    std::vector<std::string> checked = {corpusText(mebibyte + 3), wordsAtRandom(mebibyte + 5, 0, 11),
                                        randomBytes(mebibyte + 64, 3, 7)};
    for (const std::string& s : checked) {
        const std::unique_ptr<unsigned[]> reference = suffixArray<unsigned>(s.data(), s.data() + s.size());
        const std::unique_ptr<unsigned[]> sa = suffixArrayFast<unsigned>(s.data(), s.data() + s.size(), 2);
        ASSERT_EQ(std::vector<unsigned>(sa.get(), sa.get() + s.size()),
                  std::vector<unsigned>(reference.get(), reference.get() + s.size()));
    }
}

}  // namespace

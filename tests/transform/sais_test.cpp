// The induced-sorting suffix sort against the prefix-doubling one it
// replaces in bwt(): both must give the same suffix array on every block,
// and bwt() must give what the doubling sort's order defines.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "transform/bwt.h"
#include "transform/ibwt.h"
#include "transform/sais.h"

namespace {

std::vector<unsigned> asVector(const std::unique_ptr<unsigned[]>& sa, std::size_t size)
{
    return std::vector<unsigned>(sa.get(), sa.get() + size);
}

std::vector<unsigned> fastOrder(const std::string& s)
{
    return asVector(suffixArrayFast<unsigned>(s.data(), s.data() + s.size()), s.size());
}

std::vector<unsigned> doublingOrder(const std::string& s)
{
    return asVector(suffixArray<unsigned>(s.data(), s.data() + s.size()), s.size());
}

// Both sorts agree, and bwt() (which uses the fast one) writes the bytes and
// primary index that the doubling sort's order defines and inverts back.
void checkAgainstDoubling(const std::string& s)
{
    SCOPED_TRACE("size " + std::to_string(s.size()));
    const std::vector<unsigned> expected = doublingOrder(s);
    ASSERT_EQ(fastOrder(s), expected);

    std::string transformed = s;
    const unsigned primary = bwt<char, unsigned>(&transformed[0], static_cast<unsigned>(s.size()));
    std::string defined(s.size(), '\0');
    unsigned definedPrimary = 0;
    for (std::size_t r = 0; r < s.size(); ++r) {
        if (expected[r] == 0) definedPrimary = static_cast<unsigned>(r);
        defined[r] = s[expected[r] == 0 ? s.size() - 1 : expected[r] - 1];
    }
    ASSERT_EQ(primary, definedPrimary);
    ASSERT_EQ(transformed, defined);
    std::string restored(s.size(), '\0');
    ibwt<char>(&restored[0], transformed.data(), static_cast<unsigned>(s.size()), primary);
    ASSERT_EQ(restored, s);
}

std::string randomBlock(std::mt19937& rng, std::size_t size, unsigned alphabet, unsigned char base)
{
    std::uniform_int_distribution<unsigned> pick(0, alphabet - 1);
    std::string s(size, '\0');
    for (char& c : s) c = static_cast<char>(static_cast<unsigned char>(base + pick(rng)));
    return s;
}

std::string repeatTo(const std::string& unit, std::size_t size)
{
    std::string s;
    while (s.size() < size) s += unit;
    s.resize(size);
    return s;
}

}  // namespace

TEST(SuffixArrayFast, EmptyRangeGivesNoArray)
{
    const char none = 'n';
    EXPECT_EQ(suffixArrayFast<unsigned>(&none, &none), nullptr);
}

TEST(SuffixArrayFast, SmallBlocksAndWorkedExamples)
{
    EXPECT_EQ(fastOrder("banana"), (std::vector<unsigned>{5, 3, 1, 0, 4, 2}));
    EXPECT_EQ(fastOrder("abab"), (std::vector<unsigned>{2, 0, 3, 1}));
    EXPECT_EQ(fastOrder("aaaa"), (std::vector<unsigned>{3, 2, 1, 0}));
    EXPECT_EQ(fastOrder("dcba"), (std::vector<unsigned>{3, 2, 1, 0}));  // no LMS position at all
    EXPECT_EQ(fastOrder("abcd"), (std::vector<unsigned>{0, 1, 2, 3}));
    // 0x00 and 0xFF at both ends and in the middle; 0x80 and up after 0x7F.
    for (const std::string& s : {std::string(1, '\0'), std::string(1, '\xff'), std::string("\xff\x00", 2),
                                 std::string("\x00\xff", 2), std::string("\x00\x00\xff\x00", 4),
                                 std::string("\xff\x00\xff\xff\x00\xff", 6), std::string("\x80\x7f\xff\x00\x80\x01", 6)})
        checkAgainstDoubling(s);
}

// Every block of length 1..12 over two symbols, and of length 1..7 over
// three: all patterns of L and S types and LMS substrings that short.
TEST(SuffixArrayFast, MatchesDoublingSortOnEveryShortBlock)
{
    for (unsigned alphabet : {2u, 3u}) {
        const std::size_t maxLength = alphabet == 2 ? 12 : 7;
        for (std::size_t length = 1; length <= maxLength; ++length) {
            std::string s(length, '\0');
            std::size_t combinations = 1;
            for (std::size_t i = 0; i < length; ++i) combinations *= alphabet;
            for (std::size_t code = 0; code < combinations; ++code) {
                std::size_t rest = code;
                for (char& c : s) {
                    // The top symbols, so that 0xFF is among them.
                    c = static_cast<char>(0xFF - rest % alphabet);
                    rest /= alphabet;
                }
                checkAgainstDoubling(s);
            }
        }
    }
}

TEST(SuffixArrayFast, MatchesDoublingSortOnRandomBlocks)
{
    std::mt19937 rng(2718);
    for (unsigned alphabet : {1u, 2u, 3u, 4u, 256u}) {
        SCOPED_TRACE("alphabet " + std::to_string(alphabet));
        for (std::size_t size = 1; size <= 64; ++size) checkAgainstDoubling(randomBlock(rng, size, alphabet, 0));
        std::uniform_int_distribution<std::size_t> length(65, 5000);
        for (int trial = 0; trial < 40; ++trial) {
            const unsigned char base = trial % 2 ? static_cast<unsigned char>(0x100 - alphabet) : 0;
            checkAgainstDoubling(randomBlock(rng, length(rng), alphabet, base));
        }
        checkAgainstDoubling(randomBlock(rng, 5000, alphabet, 0));
    }
    // Every byte value, in order, reversed and shuffled.
    std::string all(256, '\0');
    for (unsigned c = 0; c < 256; ++c) all[c] = static_cast<char>(c);
    checkAgainstDoubling(all);
    checkAgainstDoubling(std::string(all.rbegin(), all.rend()));
    std::shuffle(all.begin(), all.end(), rng);
    checkAgainstDoubling(all + all + all.substr(0, 100));
}

// Periodic and run-heavy blocks make the reduced texts repeat names, so the
// sort recurses through several levels.
TEST(SuffixArrayFast, MatchesDoublingSortOnPeriodicBlocksAndLongRuns)
{
    std::mt19937 rng(161803);
    for (std::size_t period = 1; period <= 12; ++period) {
        for (unsigned alphabet : {2u, 3u, 256u}) {
            const std::string unit = randomBlock(rng, period, alphabet, 0);
            std::string s = repeatTo(unit, 3000 + period);
            checkAgainstDoubling(s);
            s[s.size() / 2] = static_cast<char>(s[s.size() / 2] ^ 1);  // one break in the period
            checkAgainstDoubling(s);
        }
    }
    checkAgainstDoubling(std::string(5000, '\0'));
    checkAgainstDoubling(std::string(4999, '\xff'));
    checkAgainstDoubling(repeatTo("ab", 4001));
    checkAgainstDoubling(repeatTo("the cat sat on the mat. ", 5000));

    // Fibonacci words: the reduced text of one is again a Fibonacci word,
    // so the recursion runs to its full depth.
    std::string a = "a", b = "ab";
    while (b.size() < 20000) {
        const std::string next = b + a;
        a = b;
        b = next;
    }
    checkAgainstDoubling(b);

    // Runs of random length over a small alphabet, and runs between noise.
    std::string runs;
    std::uniform_int_distribution<std::size_t> runLength(1, 300);
    while (runs.size() < 20000) runs += std::string(runLength(rng), static_cast<char>("\x00\x01\xfe\xff"[rng() % 4]));
    checkAgainstDoubling(runs);
    const std::string noise = randomBlock(rng, 1000, 256, 0);
    checkAgainstDoubling(noise + std::string(7000, 'z') + noise + std::string(7000, 'z') + noise);
    for (std::size_t nest = 1; nest <= 3; ++nest) {
        std::string nested;
        for (int i = 0; i < 300; ++i) nested += std::string(i % (37 * nest), 'x') + "y";
        checkAgainstDoubling(nested);
    }
}

TEST(SuffixArrayFast, MatchesDoublingSortOnCorpusFiles)
{
    for (const char* name : {"paper1", "progc", "geo", "obj1", "grammar.lsp", "xargs.1"}) {
        SCOPED_TRACE(name);
        std::ifstream in(std::string(VARN_TEST_DATA_DIR) + "/" + name, std::ios::binary);
        const std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_FALSE(s.empty());
        checkAgainstDoubling(s);
        // A prefix and the file twice over, which doubles every repeat.
        checkAgainstDoubling(s.substr(0, s.size() / 3));
        checkAgainstDoubling(s + s);
    }
}

// Long blocks, and blocks whose bytes alternate between a high and a low
// half: every low byte before a high one is an LMS position, the reduced
// text takes nearly half the slots, and its bucket table does not fit into
// the rest and gets its own array (also when it recurses further down).
TEST(SuffixArrayFast, MatchesDoublingSortOnLongAndZigzagBlocks)
{
    std::mt19937 rng(1414);
    for (std::size_t size : {std::size_t(3001), std::size_t(1) << 18}) {
        for (unsigned half : {4u, 128u}) {
            std::string zigzag(size, '\0');
            for (std::size_t i = 0; i < size; ++i)
                zigzag[i] = static_cast<char>(rng() % half + (i % 2 ? 0 : 256 - half));
            checkAgainstDoubling(zigzag);
        }
    }
    checkAgainstDoubling(randomBlock(rng, 1 << 18, 256, 0));
    checkAgainstDoubling(randomBlock(rng, 1 << 18, 2, 'a'));
    std::string words;
    const char* const vocabulary[] = {"alpha ", "beta ", "gamma ", "delta ", "alphabet ", "bet ", "\n"};
    while (words.size() < (1u << 18)) words += vocabulary[rng() % 7];
    checkAgainstDoubling(words);
}

namespace {

std::string fibonacciWord(std::size_t size)
{
    std::string a = "a", b = "ab";
    while (b.size() < size) {
        const std::string next = b + a;
        a = b;
        b = next;
    }
    return b.substr(0, size);
}

// bwtFromSais() into a separate buffer and in place, against the transform
// that the doubling sort's order defines (checkAgainstDoubling() also runs
// bwt(), which takes the same path).
void checkDirectTransform(const std::string& s)
{
    checkAgainstDoubling(s);
    const std::size_t n = s.size();
    std::string separate(n + 1, '#');
    const unsigned char* in = reinterpret_cast<const unsigned char*>(s.data());
    const unsigned primary = bwtFromSais(in, reinterpret_cast<unsigned char*>(&separate[0]), static_cast<unsigned>(n));
    ASSERT_EQ(separate[n], '#');  // nothing past the block
    separate.resize(n);
    std::string inPlace = s;
    unsigned char* block = reinterpret_cast<unsigned char*>(&inPlace[0]);
    ASSERT_EQ(bwtFromSais(block, block, static_cast<unsigned>(n)), primary);
    ASSERT_EQ(inPlace, separate);
    std::string viaBwt = s;
    ASSERT_EQ((bwt<char, unsigned>(&viaBwt[0], static_cast<unsigned>(n))), primary);
    ASSERT_EQ(viaBwt, separate);
}

}  // namespace

TEST(SuffixArrayFast, DirectTransformOfEmptyBlockTouchesNothing)
{
    unsigned char byte = 'x';
    EXPECT_EQ(bwtFromSais(&byte, &byte, 0), 0u);
    EXPECT_EQ(byte, 'x');
}

// Every kind of block at sizes 1-3 and one below, at and above each power of
// two up to 2^16: the byte level, the reduced levels and the bucket edges
// meet the block ends in every arrangement.
TEST(SuffixArrayFast, DirectTransformMatchesReferenceAroundPowersOfTwo)
{
    std::mt19937 rng(4242);
    const std::string unit = randomBlock(rng, 700, 256, 0);
    const std::vector<std::pair<const char*, std::function<std::string(std::size_t)>>> kinds = {
        {"random bytes", [&](std::size_t n) { return randomBlock(rng, n, 256, 0); }},
        {"random over two", [&](std::size_t n) { return randomBlock(rng, n, 2, 0xFE); }},
        {"random over four", [&](std::size_t n) { return randomBlock(rng, n, 4, 'a'); }},
        {"one symbol", [](std::size_t n) { return std::string(n, '\xff'); }},
        {"two-symbol period", [](std::size_t n) { return repeatTo(std::string("\x00\xff", 2), n); }},
        {"period of three", [](std::size_t n) { return repeatTo("aab", n); }},
        {"fibonacci", [](std::size_t n) { return fibonacciWord(n); }},
        {"long repeat", [&](std::size_t n) { return repeatTo(unit, n); }},
    };
    std::vector<std::size_t> sizes = {1, 2, 3};
    for (std::size_t p = 4; p <= (1u << 16); p *= 2)
        for (std::size_t n : {p - 1, p, p + 1}) sizes.push_back(n);
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.first);
        for (std::size_t n : sizes) checkDirectTransform(kind.second(n));
    }
}

// Reduced texts whose names are partly unique and partly repeated at every
// level: random data with copied stretches (repeats inside noise), square
// and cube repeats of random units, and zigzags long enough that a reduced
// level's bucket table does not fit beside its text and gets its own array.
TEST(SuffixArrayFast, MatchesDoublingSortWhenReducedTextsMixUniqueAndRepeatedNames)
{
    std::mt19937 rng(31337);
    std::vector<std::string> blocks;
    for (unsigned alphabet : {3u, 16u, 256u}) {
        std::string s = randomBlock(rng, 40000, alphabet, 0);
        for (int copy = 0; copy < 8; ++copy) {
            const std::size_t from = rng() % 30000, to = rng() % 30000, length = 200 + rng() % 5000;
            s.replace(to, length, s.substr(from, length));
        }
        blocks.push_back(s.substr(0, 40000));
        const std::string unit = randomBlock(rng, 3000 + alphabet, alphabet, 0);
        blocks.push_back(unit + unit);
        blocks.push_back(unit + unit + unit.substr(0, 1500) + unit);
    }
    std::string zigzag(1 << 17, '\0');
    for (std::size_t i = 0; i < zigzag.size(); ++i)
        zigzag[i] = static_cast<char>(i % 2 ? rng() % 3 : 253 + (i / 2) % 3);
    blocks.push_back(zigzag);
    for (const std::string& s : blocks) checkDirectTransform(s);
}

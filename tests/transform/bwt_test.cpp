// Suffix sorting, forward BWT and inverse BWT.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <numeric>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "diag/exception.h"
#include "transform/bwt.h"
#include "diag/dump.h"
#include "transform/ibwt.h"

namespace {

// Reference order: plain comparison of the suffixes as unsigned bytes, the
// end of the block lowest.
std::vector<unsigned> naiveSuffixArray(const std::string& s)
{
    std::vector<unsigned> sa(s.size());
    std::iota(sa.begin(), sa.end(), 0u);
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();
    std::sort(sa.begin(), sa.end(), [&](unsigned a, unsigned b) {
        return std::lexicographical_compare(p + a, p + n, p + b, p + n);
    });
    return sa;
}

// Independent reference for long blocks: prefix doubling over rank pairs
// with a library sort, O(n log^2 n) whatever the block looks like.
std::vector<unsigned> referenceSuffixArray(const std::string& s)
{
    const std::size_t n = s.size();
    std::vector<unsigned> sa(n), rank(n), next(n);
    std::iota(sa.begin(), sa.end(), 0u);
    for (std::size_t i = 0; i < n; ++i) rank[i] = static_cast<unsigned char>(s[i]);
    for (std::size_t k = 1;; k *= 2) {
        // The end of the block (second component 0) sorts lowest.
        auto pairOf = [&](unsigned i) {
            return std::make_pair(rank[i], i + k < n ? rank[i + k] + 1 : 0u);
        };
        std::sort(sa.begin(), sa.end(), [&](unsigned a, unsigned b) { return pairOf(a) < pairOf(b); });
        next[sa[0]] = 0;
        for (std::size_t r = 1; r < n; ++r)
            next[sa[r]] = next[sa[r - 1]] + (pairOf(sa[r - 1]) < pairOf(sa[r]) ? 1 : 0);
        rank.swap(next);
        if (rank[sa[n - 1]] == n - 1) return sa;
    }
}

std::vector<unsigned> suffixArrayOf(const std::string& s)
{
    const std::unique_ptr<unsigned[]> sa = suffixArray<unsigned>(s.data(), s.data() + s.size());
    return std::vector<unsigned>(sa.get(), sa.get() + s.size());
}

struct Transformed {
    std::string data;
    unsigned primary;
};

Transformed forward(std::string s)
{
    const unsigned primary = bwt<char, unsigned>(&s[0], static_cast<unsigned>(s.size()));
    return {s, primary};
}

std::string inverse(const Transformed& t)
{
    std::string out(t.data.size(), '\0');
    ibwt<char>(&out[0], t.data.data(), static_cast<unsigned>(t.data.size()), t.primary);
    return out;
}

// Checks the suffix array against the reference, the transform against its
// definition, and the round trip.
void checkBlock(const std::string& s)
{
    SCOPED_TRACE("size " + std::to_string(s.size()));
    const std::vector<unsigned> expected = naiveSuffixArray(s);
    ASSERT_EQ(suffixArrayOf(s), expected);
    const Transformed t = forward(s);
    for (std::size_t r = 0; r < s.size(); ++r) {
        if (expected[r] == 0) {
            ASSERT_EQ(t.primary, r);
            ASSERT_EQ(t.data[r], s.back());
        } else {
            ASSERT_EQ(t.data[r], s[expected[r] - 1]) << "rank " << r;
        }
    }
    ASSERT_EQ(inverse(t), s);
}

std::string randomBlock(std::mt19937& rng, std::size_t size, unsigned alphabet, unsigned char base)
{
    std::uniform_int_distribution<unsigned> pick(0, alphabet - 1);
    std::string s(size, '\0');
    for (char& c : s) c = static_cast<char>(static_cast<unsigned char>(base + pick(rng)));
    return s;
}

// Restores the suffix-dump settings after each test.
// The suffix dumps as the program writes them, fed by bwt()'s listener.
class SuffixDumps : public ::testing::Test, public SuffixArrayListener {
protected:
    void suffixArraySorted(const char* data, unsigned size, const unsigned* sa) override
    {
        if (suffixesOut != nullptr) printSortedSuffixes(*suffixesOut, data, size, sa, maxLength);
        if (arrayOut != nullptr) printSuffixArray(*arrayOut, size, sa);
    }
    Transformed forward(std::string s)
    {
        const unsigned primary = bwt<char, unsigned>(&s[0], static_cast<unsigned>(s.size()), this);
        return {s, primary};
    }
    std::ostream* suffixesOut = nullptr;
    std::ostream* arrayOut = nullptr;
    unsigned maxLength = 0xFFFFFFFFu;
};

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << path;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::uint32_t le32(const std::string& s, std::size_t offset)
{
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s.at(offset + i));
    return v;
}

}  // namespace

TEST(Bwt, WorkedExamples)
{
    const struct {
        std::string in, out;
        unsigned primary;
    } cases[] = {
        {"banana", "nnbaaa", 3},
        {"abracadabra", "rdarcaaaabb", 2},
        {"aaaa", "aaaa", 3},  // shorter suffixes first: the whole block is largest
        {"abab", "bbaa", 1},  // suffixes, not rotations, decide the primary index
        {"x", "x", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        const Transformed t = forward(c.in);
        EXPECT_EQ(t.data, c.out);
        EXPECT_EQ(t.primary, c.primary);
        EXPECT_EQ(inverse(t), c.in);
    }
    EXPECT_EQ(suffixArrayOf("banana"), (std::vector<unsigned>{5, 3, 1, 0, 4, 2}));
}

TEST(Bwt, EmptyBlockReturnsZeroAndTouchesNothing)
{
    EXPECT_EQ((bwt<char, unsigned>(nullptr, 0)), 0u);
    const char none = 'n';
    EXPECT_EQ(suffixArray<unsigned>(&none, &none), nullptr);
    ibwt<char>(nullptr, nullptr, 0, 0);
}

// The counts handed out by the sort (or counted for a listener's path) are
// the block's, at any thread count.
TEST(Bwt, ByteCountsAreTheBlocks)
{
    struct Quiet : SuffixArrayListener {
        void suffixArraySorted(const char*, unsigned, const unsigned*) override {}
    } quiet;
    std::mt19937 rng(99);
    const std::string blocks[] = {"", "x", randomBlock(rng, 5000, 7, 'a'), randomBlock(rng, (1u << 20) + 3, 256, 0)};
    for (const std::string& s : blocks) {
        std::vector<unsigned> expected(256, 0);
        for (unsigned char c : s) ++expected[c];
        for (SuffixArrayListener* listener : {static_cast<SuffixArrayListener*>(nullptr), static_cast<SuffixArrayListener*>(&quiet)})
            for (unsigned threads : {1u, 2u}) {
                SCOPED_TRACE("size " + std::to_string(s.size()) + ", threads " + std::to_string(threads));
                std::string block = s;
                std::vector<unsigned> counts(256, 12345);
                bwt<char, unsigned>(&block[0], static_cast<unsigned>(block.size()), listener, threads, counts.data());
                EXPECT_EQ(counts, expected);
            }
    }
}

TEST(Bwt, HighBytesSortAfterLowBytes)
{
    const std::string s = {'\x80', '\x7f', '\xff', '\x00', '\x80', '\x01'};
    EXPECT_EQ(suffixArrayOf(s), (std::vector<unsigned>{3, 5, 1, 4, 0, 2}));
    checkBlock(s);
}

TEST(Bwt, MatchesComparisonSortOnRandomBlocks)
{
    std::mt19937 rng(12345);
    const unsigned alphabets[] = {1, 2, 3, 4, 256};
    for (unsigned alphabet : alphabets) {
        SCOPED_TRACE("alphabet " + std::to_string(alphabet));
        // Small alphabets start at 0xFE so that both 0x00 (via 256) and
        // the top byte values are covered.
        const unsigned char base = alphabet == 256 ? 0 : static_cast<unsigned char>(0x100 - alphabet);
        for (std::size_t size = 1; size <= 40; ++size) checkBlock(randomBlock(rng, size, alphabet, base));
        std::uniform_int_distribution<std::size_t> len(41, 2000);
        for (int trial = 0; trial < 25; ++trial) checkBlock(randomBlock(rng, len(rng), alphabet, base));
        checkBlock(randomBlock(rng, 2000, alphabet, base));
    }
}

TEST(Bwt, MatchesComparisonSortOnPeriodicBlocks)
{
    std::mt19937 rng(777);
    for (std::size_t period = 1; period <= 9; ++period) {
        for (unsigned alphabet : {2u, 3u, 256u}) {
            const std::string unit = randomBlock(rng, period, alphabet, 0);
            std::string s;
            while (s.size() < 1500) s += unit;
            checkBlock(s);
            // A period broken once near the end, and a partial last period.
            s[s.size() - 3] = static_cast<char>(s[s.size() - 3] ^ 1);
            checkBlock(s);
            checkBlock(s.substr(0, s.size() - period / 2 - 1));
        }
    }
    checkBlock(std::string(2000, '\0'));
    checkBlock(std::string(1999, '\xff'));
}

// Blocks made of k copies of a word, each followed by a tail drawn from a
// tiny set, so that groups of exactly k members reach deep passes and split
// into every pattern of equal and distinct keys (2, 3, 4 members: the
// compare-exchange networks; 5 and more: the ternary partition).
TEST(Bwt, MatchesComparisonSortOnGroupsOfTwoToSixMembers)
{
    std::mt19937 rng(4242);
    for (unsigned k = 2; k <= 6; ++k) {
        SCOPED_TRACE("k " + std::to_string(k));
        for (int trial = 0; trial < 200; ++trial) {
            std::uniform_int_distribution<std::size_t> wordLength(1, 24);
            const std::string word = randomBlock(rng, wordLength(rng), 3, 'a');
            std::uniform_int_distribution<std::size_t> tailLength(0, 3);
            std::string s;
            for (unsigned copy = 0; copy < k; ++copy) {
                s += word;
                s += randomBlock(rng, tailLength(rng), 2, 'x');
                s += static_cast<char>('0' + copy % 2);
            }
            checkBlock(s);
        }
    }
}

// Long runs and short periods keep huge groups alive for many passes; in
// the last passes of a run of one byte the median-of-three pivots split off
// one member per round, so the bounded-depth fallback takes over.
TEST(Bwt, MatchesReferenceSortOnLongRepetitiveBlocks)
{
    std::mt19937 rng(31337);
    std::vector<std::string> blocks = {
        std::string(60000, 'a'),
        std::string(50001, '\xff'),
    };
    std::string phrase, pair, nested;
    while (phrase.size() < 60000) phrase += "the cat sat on the mat. ";
    while (pair.size() < 40000) pair += "ab";
    for (int i = 0; i < 800; ++i) nested += std::string(static_cast<std::size_t>(i % 97), 'x') + "y";
    const std::string noise = randomBlock(rng, 5000, 256, 0);
    blocks.push_back(phrase);
    blocks.push_back(pair + "a");
    blocks.push_back(nested);
    blocks.push_back(noise + std::string(20000, 'z') + noise + std::string(20000, 'z'));
    for (const std::string& s : blocks) {
        SCOPED_TRACE("size " + std::to_string(s.size()));
        ASSERT_EQ(suffixArrayOf(s), referenceSuffixArray(s));
        EXPECT_EQ(inverse(forward(s)), s);
    }
    // A run of one byte: ranks in descending position order.
    const std::vector<unsigned> run = suffixArrayOf(std::string(1u << 20, '\0'));
    for (unsigned r = 0; r < run.size(); ++r) ASSERT_EQ(run[r], run.size() - 1 - r);
}

TEST(Bwt, RoundTripsCorpusFiles)
{
    for (const char* name : {"paper1", "progc", "geo", "obj1", "grammar.lsp", "xargs.1"}) {
        SCOPED_TRACE(name);
        const std::string s = readFile(std::string(VARN_TEST_DATA_DIR) + "/" + name);
        ASSERT_FALSE(s.empty());
        if (s.size() <= 30000) {
            ASSERT_EQ(suffixArrayOf(s), naiveSuffixArray(s));
        }
        EXPECT_EQ(inverse(forward(s)), s);
    }
}

// Every payload of a golden file starts with the primary index of its block,
// little-endian; walk all blocks (12-byte file header, 18-byte block headers).
TEST(Bwt, PrimaryIndexMatchesGoldenFiles)
{
    const struct {
        const char* input;
        const char* packed;
    } files[] = {
        {"one-zero", "one-zero.dc.varnQ27p"}, {"ab", "ab.mtf-ad.varnQ27p"},
        {"banana", "banana.dc.varnQ27p"},     {"abracadabra", "abracadabra.mtf-st.varnQ27p"},
        {"ff-x300", "ff-x300.dc.varnQ27p"},   {"words", "words.dc.varnQ27p"},
        {"words", "words.dc-b700.varnQ27p"},
    };
    for (const auto& f : files) {
        SCOPED_TRACE(f.packed);
        const std::string input = readFile(std::string(VARN_GOLDEN_DIR) + "/" + f.input);
        const std::string packed = readFile(std::string(VARN_GOLDEN_DIR) + "/" + f.packed);
        ASSERT_EQ(le32(packed, 8), input.size());
        std::size_t offset = 12;
        std::size_t done = 0;
        int blocks = 0;
        while (done < input.size()) {
            const std::uint32_t payloadSize = le32(packed, offset + 4);
            const std::uint32_t blockSize = le32(packed, offset + 8);
            ASSERT_LE(done + blockSize, input.size());
            const Transformed t = forward(input.substr(done, blockSize));
            EXPECT_EQ(t.primary, le32(packed, offset + 18)) << "block " << blocks;
            offset += 18 + payloadSize;
            done += blockSize;
            ++blocks;
        }
        EXPECT_EQ(offset, packed.size());
    }
}

TEST(Ibwt, RestoresEdgeCases)
{
    EXPECT_EQ(inverse({"z", 0}), "z");
    EXPECT_EQ(inverse({"nnbaaa", 3}), "banana");
    EXPECT_EQ(inverse({"rdarcaaaabb", 2}), "abracadabra");
    EXPECT_EQ(inverse({std::string(300, '\xff'), 299}), std::string(300, '\xff'));
    EXPECT_EQ(inverse({std::string(5, '\0'), 4}), std::string(5, '\0'));
}

TEST(Ibwt, RejectsPrimaryIndexOutsideBlockBeforeWriting)
{
    const std::string in = "nnbaaa";
    for (unsigned primary : {6u, 7u, 0xFFFFFFFFu}) {
        std::string out(in.size(), '#');
        EXPECT_THROW(ibwt<char>(&out[0], in.data(), 6, primary), Exception);
        EXPECT_EQ(out, std::string(in.size(), '#'));
    }
}

// Not every byte string is the transform of a block; with a valid primary
// index the walk must still stay inside both buffers (the sanitizer build
// checks this) and produce some output.
TEST(Ibwt, ArbitraryInputStaysInBounds)
{
    std::mt19937 rng(99);
    for (int trial = 0; trial < 300; ++trial) {
        const std::size_t size = 1 + trial % 64;
        const std::string in = randomBlock(rng, size, trial % 2 ? 256 : 3, 0);
        std::vector<char> out(size);
        // Most such blocks are no transform and are refused; either way no
        // access leaves the buffers.
        try {
            ibwt<char>(out.data(), in.data(), static_cast<unsigned>(size),
                       static_cast<unsigned>(rng() % size));
        } catch (const Exception&) {
        }
    }
}

TEST_F(SuffixDumps, SortedSuffixLinesArePaddedAndLimited)
{
    std::ostringstream suffixes;
    suffixesOut = &suffixes;
    const std::string pad(8, ' ');

    forward("cab");
    EXPECT_EQ(suffixes.str(), "0 suffix 1: " + pad + "ab\n1 suffix 2: " + pad + "b\n2 suffix 0: " + pad + "cab\n");

    suffixes.str("");
    maxLength = 0;
    forward("cab");
    EXPECT_EQ(suffixes.str(), "0 suffix 1: " + pad + "\n1 suffix 2: " + pad + "\n2 suffix 0: " + pad + "\n");

    suffixes.str("");
    maxLength = 1;
    forward("cab");
    EXPECT_EQ(suffixes.str(), "0 suffix 1: " + pad + "a\n1 suffix 2: " + pad + "b\n2 suffix 0: " + pad + "c\n");
}

TEST_F(SuffixDumps, SuffixLinesCarryRawBytesAndNoPaddingPastTwentyColumns)
{
    std::ostringstream suffixes;
    suffixesOut = &suffixes;
    // Line ends and NUL bytes are written as they are.
    forward(std::string("\n\0", 2));
    EXPECT_EQ(suffixes.str(), std::string("0 suffix 1: ") + std::string(8, ' ') + std::string("\0\n", 2) +
                                  "1 suffix 0: " + std::string(8, ' ') + std::string("\n\0\n", 3));

    // In a block of 10001 equal bytes, rank 10000 is suffix 0 and rank r
    // is suffix 10000 - r; "10000 suffix 0: " needs 4 spaces, while
    // "0 suffix 10000: " also needs 4 and a 20-character head gets none.
    suffixes.str("");
    maxLength = 2;
    forward(std::string(10001, 'q'));
    std::istringstream lines(suffixes.str());
    std::vector<std::string> all;
    for (std::string line; std::getline(lines, line);) all.push_back(line);
    ASSERT_EQ(all.size(), 10001u);
    EXPECT_EQ(all[0], "0 suffix 10000:     q");
    EXPECT_EQ(all[10000], "10000 suffix 0:     qq");
    maxLength = 0;
    suffixes.str("");
    forward(std::string(20001, 'q'));
    const std::string text = suffixes.str();
    EXPECT_NE(text.find("\n10000 suffix 10000: \n"), std::string::npos);  // 20 columns: no space
    EXPECT_NE(text.find("\n10999 suffix 9001:  \n"), std::string::npos);  // 19 columns: one space
    EXPECT_NE(text.find("\n20000 suffix 0:     \n"), std::string::npos);
}

TEST_F(SuffixDumps, SuffixArrayLineHasNoTrailingSeparator)
{
    std::ostringstream suffixes, array;
    suffixesOut = &suffixes;
    arrayOut = &array;
    const Transformed t = forward("cab");
    EXPECT_EQ(t.data, "cab");
    EXPECT_EQ(t.primary, 2u);
    EXPECT_EQ(array.str(), "1 2 0");
    // The next block's positions follow directly.
    forward("banana");
    EXPECT_EQ(array.str(), "1 2 05 3 1 0 4 2");
    EXPECT_EQ(suffixes.str().substr(0, 20), "0 suffix 1:         ");
}

// With a listener, bwt() sorts into a full suffix array and gathers; without,
// the sort writes the transform itself. Both give the same block.
TEST_F(SuffixDumps, TransformIsTheSameWithAndWithoutDumps)
{
    std::mt19937 rng(99);
    std::string repeated;
    while (repeated.size() < 30000) repeated += "abracadabra" + std::string(rng() % 9, 'a');
    for (const std::string& block : {std::string("x"), std::string("banana"), randomBlock(rng, 40000, 256, 0),
                                     randomBlock(rng, 40000, 3, 'a'), repeated}) {
        std::string plain = block;
        const unsigned plainPrimary = bwt<char, unsigned>(&plain[0], static_cast<unsigned>(block.size()));
        std::ostringstream array;
        arrayOut = &array;
        const Transformed dumped = forward(block);
        arrayOut = nullptr;
        EXPECT_FALSE(array.str().empty());
        EXPECT_EQ(dumped.primary, plainPrimary);
        EXPECT_EQ(dumped.data, plain);
        EXPECT_EQ(inverse(dumped), block);
    }
}

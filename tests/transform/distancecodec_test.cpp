#include "transform/distancecodec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

namespace {

using Coder = DistanceCoder<char, unsigned>;
using Decoder = DistanceDecoder<char, unsigned>;

template <class Ranks = distancecoding::DefaultRanks<char>>
std::vector<unsigned> encodeBlock(const std::string& block)
{
    DistanceCoder<char, unsigned, Ranks> coder(256);
    coder.encode(block.data(), block.data() + block.size());
    return std::vector<unsigned>(coder.values() + coder.valuesBegin(), coder.values() + coder.valuesEnd());
}

// The sequence computed straight from its definition, with a scan over all
// 256 values per run: the yardstick for the fast encoder.
std::vector<unsigned> referenceEncode(const std::string& block)
{
    const unsigned n = static_cast<unsigned>(block.size());
    std::vector<unsigned> nextStart(256, 0), runs;
    std::vector<bool> seen(256, false);
    unsigned i = n;
    while (i > 0) {
        unsigned b = i - 1, a = b;
        unsigned char c = block[b];
        while (a > 0 && static_cast<unsigned char>(block[a - 1]) == c) --a;
        if (!seen[c]) {
            seen[c] = true;
            runs.push_back(0);
        } else {
            unsigned L = nextStart[c], between = 0;
            for (unsigned k = 0; k < 256; ++k)
                if (seen[k] && nextStart[k] < L) ++between;
            runs.push_back(L - b - between);
        }
        nextStart[c] = a;
        i = a;
    }
    std::vector<unsigned> seq;
    for (unsigned s = 0; s < 256; ++s) {
        unsigned entry = 0;
        if (seen[s]) {
            unsigned earlier = 0;
            for (unsigned t = 0; t < s; ++t)
                if (seen[t] && nextStart[t] < nextStart[s]) ++earlier;
            entry = nextStart[s] + 1 - earlier;
        }
        seq.push_back(entry);
    }
    seq.insert(seq.end(), runs.rbegin(), runs.rend());
    while (!seq.empty() && seq.back() == 0) seq.pop_back();
    return seq;
}

// Drives a decoder in the order the block codec does and returns the runs.
std::vector<std::pair<char, unsigned>> decodeRuns(const std::vector<unsigned>& seq, unsigned n)
{
    Decoder decoder(256);
    decoder.start(n);
    size_t k = 0;
    for (; k < 256; ++k) decoder.feedSymbol(static_cast<char>(k), k < seq.size() ? seq[k] : 0);
    std::vector<std::pair<char, unsigned>> runs;
    unsigned produced = 0;
    for (; k < seq.size(); ++k) {
        runs.push_back(decoder.decode(seq[k]));
        produced += runs.back().second;
    }
    while (produced < n) {
        runs.push_back(decoder.decodeEnding());
        produced += runs.back().second;
    }
    return runs;
}

std::string decodeBlock(const std::vector<unsigned>& seq, unsigned n)
{
    std::string out;
    for (auto& run : decodeRuns(seq, n)) out.append(run.second, run.first);
    return out;
}

std::vector<unsigned> header(std::initializer_list<std::pair<unsigned char, unsigned>> nonZero)
{
    std::vector<unsigned> h(256, 0);
    for (auto& e : nonZero) h[e.first] = e.second;
    return h;
}

std::string randomBlock(std::mt19937& rng, unsigned size, unsigned alphabet, unsigned maxRun)
{
    std::string s;
    const unsigned offset = rng() % (257 - alphabet);  // small alphabets anywhere in 0..255
    while (s.size() < size) {
        char c = static_cast<char>(offset + rng() % alphabet);
        s.append(std::min<size_t>(1 + rng() % maxRun, size - s.size()), c);
    }
    return s;
}

} // namespace

TEST(DistanceCoding, WorkedExamplesGiveTheirExactSequences)
{
    std::vector<unsigned> abracadabra = header({{'a', 1}, {'b', 1}, {'c', 3}, {'d', 4}, {'r', 1}});
    for (unsigned v : {1, 3, 3, 1, 0, 1, 0, 1}) abracadabra.push_back(v);
    EXPECT_EQ(encodeBlock("abracadabra"), abracadabra);
    EXPECT_EQ(abracadabra.size(), 264u);

    // A single run: only the header up to its symbol survives the trimming.
    std::vector<unsigned> aaaa = header({{'a', 1}});
    aaaa.resize('a' + 1);
    EXPECT_EQ(encodeBlock("aaaa"), aaaa);
    EXPECT_EQ(aaaa.size(), 98u);

    std::vector<unsigned> abba = header({{'a', 1}, {'b', 1}});
    abba.push_back(2);
    EXPECT_EQ(encodeBlock("abba"), abba);
    EXPECT_EQ(abba.size(), 257u);
}

TEST(DistanceCoding, DecoderFollowsTheAbbaTrace)
{
    Decoder decoder(256);
    decoder.start(4);
    for (unsigned s = 0; s < 256; ++s) decoder.feedSymbol(static_cast<char>(s), s == 'a' || s == 'b' ? 1 : 0);
    EXPECT_EQ(decoder.decode(2), std::make_pair('a', 1u));
    EXPECT_EQ(decoder.decodeEnding(), std::make_pair('b', 2u));
    EXPECT_EQ(decoder.decodeEnding(), std::make_pair('a', 1u));
    // The block is complete: nothing is known any more.
    EXPECT_THROW(decoder.decodeEnding(), Exception);

    EXPECT_EQ(decodeBlock(encodeBlock("abracadabra"), 11), "abracadabra");
}

TEST(DistanceCoding, EdgeShapesOfBlocks)
{
    // One byte, and one long run of byte 255: the whole header is kept and the
    // block comes back from one ending run.
    EXPECT_EQ(encodeBlock("x"), [] { auto h = header({{'x', 1}}); h.resize('x' + 1); return h; }());
    std::string ff(1000, '\xff');
    std::vector<unsigned> seq = encodeBlock(ff);
    ASSERT_EQ(seq.size(), 256u);
    EXPECT_EQ(seq[255], 1u);
    auto runs = decodeRuns(seq, 1000);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0], std::make_pair('\xff', 1000u));

    // No runs longer than one: every position is a run of its own.
    std::string alternating;
    for (int i = 0; i < 300; ++i) alternating += static_cast<char>(i % 3);
    seq = encodeBlock(alternating);
    EXPECT_EQ(seq.size(), 256u + 300 - 3);  // the last run of each value is trimmed
    EXPECT_EQ(decodeRuns(seq, 300).size(), 300u);

    // Small values in one run each: the header is cut short, the decoder is
    // fed zeros for the missing entries.
    seq = encodeBlock("\x01\x01\x03\x03\x03\x02");
    EXPECT_LT(seq.size(), 256u);
    EXPECT_EQ(decodeBlock(seq, 6), "\x01\x01\x03\x03\x03\x02");

    // An entry of 1 may put the next run right after the current one's end.
    EXPECT_EQ(encodeBlock("abab")[256], 1u);
}

TEST(DistanceCoding, FastEncoderMatchesTheDefinitionAndDecodesBack)
{
    std::mt19937 rng(12345);
    for (int iter = 0; iter < 400; ++iter) {
        unsigned size = 1 + rng() % (iter < 300 ? 300 : 20000);
        unsigned alphabet = 1 + rng() % 256;
        unsigned maxRun = 1 + rng() % (iter % 4 == 0 ? 40 : 3);
        std::string block = randomBlock(rng, size, alphabet, maxRun);
        std::vector<unsigned> seq = encodeBlock(block);
        ASSERT_EQ(seq, referenceEncode(block)) << "iteration " << iter;
        ASSERT_EQ(decodeBlock(seq, size), block) << "iteration " << iter;
    }
    // Long blocks of full-alphabet noise renumber the recency stamps many times.
    for (unsigned size : {100000u, 250001u}) {
        std::string block = randomBlock(rng, size, 256, 1);
        std::vector<unsigned> seq = encodeBlock(block);
        ASSERT_EQ(seq, referenceEncode(block));
        ASSERT_EQ(decodeBlock(seq, size), block);
    }
}

// The recency list (the default for bytes) against the stamp tree and the
// definition, on blocks that push ranks to their ends: every value in turn
// (rank 255 for each run once all are seen), values in descending order, one
// value, long runs, and sizes 0, 1 and 2.
TEST(DistanceCoding, RecencyListMatchesTheStampTree)
{
    static_assert(std::is_same<distancecoding::DefaultRanks<char>, distancecoding::RecencyList>::value,
                  "byte blocks use the list");
    std::vector<std::string> blocks{"", "a", "\xff", "ab", "\x00\x00", "\xff\x00", std::string(4000, 'q')};
    std::string up, down, runs;
    for (int round = 0; round < 5; ++round)
        for (int v = 0; v < 256; ++v) {
            up += static_cast<char>(v);
            down += static_cast<char>(255 - v);
        }
    std::mt19937 rng(31);
    while (runs.size() < 30000) runs.append(1 + rng() % 500, static_cast<char>(rng()));
    for (const std::string* b : {&up, &down, &runs}) blocks.push_back(*b);
    for (int i = 0; i < 60; ++i) blocks.push_back(randomBlock(rng, rng() % 5000, 1 + rng() % 256, 1 + rng() % 4));
    for (const std::string& block : blocks) {
        SCOPED_TRACE("block of " + std::to_string(block.size()));
        const std::vector<unsigned> seq = encodeBlock<distancecoding::RecencyList>(block);
        ASSERT_EQ(seq, encodeBlock<distancecoding::RecencyRanks>(block));
        ASSERT_EQ(seq, referenceEncode(block));
        ASSERT_EQ(decodeBlock(seq, static_cast<unsigned>(block.size())), block);
    }
}

TEST(DistanceCoding, CorruptSequencesThrowAndStayInsideTheBlock)
{
    // Nothing is placed at position 0.
    std::vector<unsigned> seq = header({{'a', 2}});
    EXPECT_THROW(decodeBlock(seq, 4), Exception);
    // An all-zero header knows no run at all.
    EXPECT_THROW(decodeBlock({}, 4), Exception);
    // A header entry past the block end, and one so large it would wrap.
    EXPECT_THROW(decodeBlock(header({{'a', 1}, {'b', 4}}), 4), Exception);
    EXPECT_THROW(decodeBlock(header({{'a', 1}, {'b', 0xFFFFFFFFu}}), 4), Exception);
    // A run entry that would place the next run at or past the end.
    seq = header({{'a', 1}, {'b', 1}});
    seq.push_back(3);
    EXPECT_THROW(decodeBlock(seq, 4), Exception);
    seq.back() = 0xFFFFFFF0u;
    EXPECT_THROW(decodeBlock(seq, 4), Exception);

    // Arbitrary sequences either decode to runs that exactly fill the block
    // or throw Exception.
    std::mt19937 rng(99);
    for (int iter = 0; iter < 3000; ++iter) {
        unsigned n = 1 + rng() % 50;
        std::vector<unsigned> any(rng() % 300);
        for (auto& v : any) v = rng() % 4 == 0 ? 0 : rng() % (iter % 2 ? 5 : 60);
        try {
            unsigned total = 0;
            for (auto& run : decodeRuns(any, n)) {
                ASSERT_GT(run.second, 0u);
                total += run.second;
                ASSERT_LE(total, n);
            }
        } catch (const Exception&) {
        }
    }
}

namespace {

// Every run a decoder hands out, and how it stopped: "end" once the block
// is full, or the message of the exception that refused the sequence.
template <class D>
std::vector<std::string> decodeTrace(const std::vector<unsigned>& seq, unsigned n)
{
    std::vector<std::string> trace;
    try {
        D decoder(256);
        decoder.start(n);
        std::size_t k = 0;
        for (; k < 256; ++k) decoder.feedSymbol(static_cast<char>(k), k < seq.size() ? seq[k] : 0);
        unsigned produced = 0;
        auto note = [&](std::pair<char, unsigned> run) {
            trace.push_back(std::to_string(static_cast<unsigned char>(run.first)) + "x" + std::to_string(run.second));
            produced += run.second;
        };
        for (; k < seq.size() && produced < n; ++k) note(decoder.decode(seq[k]));
        while (produced < n) note(decoder.decodeEnding());
        trace.push_back("end");
    } catch (const Exception& e) {
        trace.push_back(std::string("refused: ") + e.what());
    }
    return trace;
}

} // namespace

// The split-table decoder against the single-table one it replaced: the same
// runs and the same exceptions, on real sequences (tables of up to 256 known
// runs, so long slides both ways) and on damaged and arbitrary ones.
TEST(DistanceCoding, DecoderMatchesThePlainOneOnAnySequence)
{
    using Plain = PlainDistanceDecoder<char, unsigned>;
    std::mt19937 rng(2718);
    unsigned refused = 0;
    for (int iter = 0; iter < 300; ++iter) {
        const unsigned n = 1 + rng() % (iter % 3 == 0 ? 30000 : 400);
        const std::string block = randomBlock(rng, n, 1 + rng() % 256, 1 + rng() % 3);
        std::vector<unsigned> seq = encodeBlock(block);
        ASSERT_EQ(decodeTrace<Decoder>(seq, n), decodeTrace<Plain>(seq, n)) << "iteration " << iter;
        // Damage a few entries: small nudges and wild values.
        for (int d = 0; d < 3 && !seq.empty(); ++d) {
            unsigned& v = seq[rng() % seq.size()];
            v = rng() % 2 ? v + rng() % 5 - 2 : rng();
        }
        const auto damaged = decodeTrace<Plain>(seq, n);
        refused += damaged.back() != "end";
        ASSERT_EQ(decodeTrace<Decoder>(seq, n), damaged) << "damaged, iteration " << iter;
    }
    EXPECT_GT(refused, 50u);
    for (int iter = 0; iter < 2000; ++iter) {
        const unsigned n = 1 + rng() % 200;
        std::vector<unsigned> any(rng() % 500);
        for (auto& v : any) v = rng() % 4 == 0 ? 0 : rng() % (iter % 2 ? 5 : 300);
        ASSERT_EQ(decodeTrace<Decoder>(any, n), decodeTrace<Plain>(any, n)) << "arbitrary, iteration " << iter;
    }
}

TEST(DistanceCoding, WordSelectFindsEveryBit)
{
    using distancecoding::WordBits;
    std::mt19937_64 rng(77);
    std::vector<std::uint64_t> words{1, 0x8000000000000000ull, ~0ull, 0xff00ull, 0x00ff00ff00ff00ffull,
                                     0x8000000000000001ull};
    for (int i = 0; i < 300; ++i) words.push_back(i % 3 ? rng() : rng() & rng() & rng());
    for (std::uint64_t x : words) {
        const std::uint64_t prefix = WordBits::bytePrefixCounts(x);
        unsigned rank = 0;
        for (unsigned bit = 0; bit < 64; ++bit) {
            if (!(x >> bit & 1)) continue;
            ASSERT_EQ(WordBits::select(x, prefix, rank), bit) << std::hex << x << " rank " << rank;
            ++rank;
        }
        ASSERT_EQ(prefix >> 56, rank) << std::hex << x;
    }
}

// The bitmap decoder against the plain one: the same runs and the same
// exceptions on real sequences of every shape, on damaged ones and on
// arbitrary ones, including distances that reach exactly to the block end,
// one past it, and far past it (into the bitmap's padding and beyond).
TEST(DistanceCoding, BitmapDecoderMatchesThePlainOne)
{
    using Plain = PlainDistanceDecoder<char, unsigned>;
    using Bitmap = BitmapDistanceDecoder<char, unsigned>;
    auto same = [](const std::vector<unsigned>& seq, unsigned n, const std::string& what) {
        const auto plain = decodeTrace<Plain>(seq, n);
        EXPECT_EQ(decodeTrace<Bitmap>(seq, n), plain) << what;
        return plain.back() == "end";
    };

    std::mt19937 rng(4711);
    std::vector<std::string> blocks{"a", "\xff", "ab", "aa", "\x00\xff", std::string(7000, 'z')};
    std::string every, twice;
    for (int v = 0; v < 256; ++v) every += static_cast<char>(v);
    for (int v = 0; v < 512; ++v) twice += static_cast<char>(v % 2 ? v / 2 : 255 - v / 2);
    blocks.push_back(every);
    blocks.push_back(twice);
    blocks.push_back(std::string(every.rbegin(), every.rend()));
    // Full-alphabet noise over many words and groups, and sparse long runs.
    blocks.push_back(randomBlock(rng, 60000, 256, 1));
    blocks.push_back(randomBlock(rng, 30000, 256, 2000));
    for (int i = 0; i < 150; ++i)
        blocks.push_back(randomBlock(rng, 1 + rng() % (i % 5 == 0 ? 20000 : 700), 1 + rng() % 256, 1 + rng() % 4));
    for (const std::string& block : blocks) {
        const unsigned n = static_cast<unsigned>(block.size());
        std::vector<unsigned> seq = encodeBlock(block);
        ASSERT_TRUE(same(seq, n, "block of " + std::to_string(n)));
        ASSERT_EQ(decodeBlock(seq, n), block);
        // Each entry in turn (a sample on long blocks) pushed to the edges.
        const std::size_t step = seq.size() < 100 ? 1 : seq.size() / (n > 5000 ? 6 : 50);
        for (std::size_t k = 0; k < seq.size(); k += step) {
            const unsigned original = seq[k];
            for (unsigned v : {0u, original + 1, n - 1, n, n + 1, n + 255, n + 300, 0xFFFFFFFFu, 0x80000000u}) {
                seq[k] = v;
                same(seq, n, "entry " + std::to_string(k) + " = " + std::to_string(v) + ", block of " +
                                 std::to_string(n));
            }
            seq[k] = original;
            if (HasFailure()) return;
        }
    }

    unsigned refused = 0, decoded = 0;
    for (int iter = 0; iter < 3000; ++iter) {
        const unsigned n = 1 + rng() % (iter % 3 ? 200 : 3000);
        std::vector<unsigned> any(rng() % 700);
        const unsigned range = iter % 2 ? 5 : n + 50;
        for (auto& v : any) v = rng() % 4 == 0 ? 0 : rng() % range;
        if (same(any, n, "arbitrary, iteration " + std::to_string(iter)))
            ++decoded;
        else
            ++refused;
        if (HasFailure()) return;
    }
    EXPECT_GT(refused, 100u);
    EXPECT_GT(decoded, 0u);
}

namespace {

// The block decodeInto() rebuilds in place from `seq`, or the message of the
// exception that refused it.
std::string decodeInPlace(const std::vector<unsigned>& seq, unsigned n)
{
    std::string block(n, '\x5a');
    try {
        BitmapDistanceDecoder<char, unsigned> decoder(256);
        decoder.start(n, &block[0]);
        std::size_t k = 0;
        for (; k < 256; ++k) decoder.feedSymbol(static_cast<char>(k), k < seq.size() ? seq[k] : 0);
        unsigned end = 0;
        for (; k < seq.size() && end < n; ++k) {
            const unsigned next = decoder.decodeInto(seq[k]);
            if (next <= end || next > n) return "bad end " + std::to_string(next);
            end = next;
        }
        while (end < n) end = decoder.decodeEndingInto();
    } catch (const Exception& e) {
        return std::string("refused: ") + e.what();
    }
    return block;
}

// The same from the plain decoder's runs.
std::string decodePlainly(const std::vector<unsigned>& seq, unsigned n)
{
    const auto trace = decodeTrace<PlainDistanceDecoder<char, unsigned>>(seq, n);
    if (trace.back() != "end") return trace.back();
    return decodeBlock(seq, n);
}

} // namespace

// Runs written straight into the block: the same block (short runs, runs
// past the inline fill's length, a block-long run) or the same refusal as
// the plain decoder, on real, damaged and arbitrary sequences.
TEST(DistanceCoding, DecodeIntoRebuildsTheBlockInPlace)
{
    std::mt19937 rng(99);
    std::vector<std::string> blocks{"a", "ab", "aab", std::string(5000, 'q'), std::string(17, 'r') + "s"};
    for (int i = 0; i < 120; ++i)
        blocks.push_back(randomBlock(rng, 1 + rng() % (i % 4 == 0 ? 30000 : 600), 1 + rng() % 256,
                                     1 + rng() % (i % 3 == 0 ? 40 : 3)));
    unsigned refused = 0;
    for (const std::string& block : blocks) {
        const unsigned n = static_cast<unsigned>(block.size());
        std::vector<unsigned> seq = encodeBlock(block);
        ASSERT_EQ(decodeInPlace(seq, n), block);
        for (int d = 0; d < 4 && !seq.empty(); ++d) {
            unsigned& v = seq[rng() % seq.size()];
            v = rng() % 2 ? v + rng() % 5 - 2 : rng() % (n + 300);
            const std::string plain = decodePlainly(seq, n);
            refused += plain.compare(0, 8, "refused:") == 0;
            ASSERT_EQ(decodeInPlace(seq, n), plain) << "damaged block of " << n;
        }
    }
    EXPECT_GT(refused, 20u);
}

// Run starts found a word at a time: runs of every length around the word
// size, ending at every place of a word, reaching the block start or not,
// of the byte values whose pattern is all zeros or all ones, and next to
// symbols that differ from them in a single bit.
TEST(DistanceCoding, RunsOfEveryLengthAroundWordSize)
{
    for (unsigned char value : {0x00, 0xFF, 0x41}) {
        for (unsigned length : {1u, 2u, 7u, 8u, 9u, 15u, 16u, 17u, 31u, 64u, 65u}) {
            for (unsigned lead = 0; lead < 10; ++lead) {
                std::string block;
                for (unsigned i = 0; i < lead; ++i) block += static_cast<char>(value ^ (1u << (i % 8)));
                block.append(length, static_cast<char>(value));
                block += static_cast<char>(value ^ 0x80);
                block.append(length % 5 + 1, static_cast<char>(value));
                const std::vector<unsigned> seq = encodeBlock(block);
                ASSERT_EQ(seq, referenceEncode(block)) << int(value) << " run " << length << " lead " << lead;
                ASSERT_EQ(decodeBlock(seq, static_cast<unsigned>(block.size())), block);
            }
        }
    }
}

// The front-to-back coder against the reference one, in steps of several
// sizes. After every step the declared prefix must already be the
// reference's, and the bytes it has released are overwritten: a coder that
// read them again would give other values.
TEST(DistanceCoding, ForwardCoderGivesTheSameSequenceInOrder)
{
    std::vector<std::string> blocks{"", "a", "ab", "abab", "abcdef", "\x01\x01\x03\x03\x03\x02", std::string(5000, 'q')};
    std::string all, rareEnds, lateFirst;
    for (int v = 0; v < 256; ++v) all += static_cast<char>(v);
    std::mt19937 rng(77);
    // A symbol at both ends only keeps the first run's entry open to the end;
    // one met only at the end keeps the header open.
    rareEnds = "@" + randomBlock(rng, 20000, 4, 3) + "@";
    lateFirst = randomBlock(rng, 20000, 5, 6) + "!";
    const std::size_t rareIndex = blocks.size() + 1;
    for (const std::string* b : {&all, &rareEnds, &lateFirst}) blocks.push_back(*b);
    for (int i = 0; i < 80; ++i)
        blocks.push_back(randomBlock(rng, 1 + rng() % (i < 60 ? 3000 : 60000), 1 + rng() % 256, 1 + rng() % 8));
    blocks.push_back(randomBlock(rng, 100000, 256, 1));

    for (const std::string& block : blocks) {
        const std::vector<unsigned> expected = encodeBlock(block);
        // Steps of runs, and how far an entry may hold later ones back.
        const std::pair<unsigned, unsigned> steps[] = {{1, ~0u}, {7, 3}, {64, 0}, {8192, 100}};
        for (auto [step, lag] : steps) {
            SCOPED_TRACE("block of " + std::to_string(block.size()) + ", steps of " + std::to_string(step) +
                         ", lag " + std::to_string(lag));
            std::string work = block;
            ForwardDistanceCoder<char, unsigned> coder;
            coder.start(work.data(), work.data() + work.size());
            unsigned ready = 0, released = 0, taken = 0, readyAtHalf = 0;
            do {
                coder.advance(step, lag);
                ASSERT_LE(++taken, block.size() + 1) << "each step goes over at least one run";
                ASSERT_GE(coder.ready(), ready);
                ASSERT_GE(coder.released(), released);
                ready = coder.ready();
                released = coder.released();
                ASSERT_LE(ready, expected.size());
                ASSERT_LE(released, block.size());
                ASSERT_TRUE(std::equal(coder.values(), coder.values() + ready, expected.begin()));
                if (readyAtHalf == 0 && 2 * released >= block.size()) readyAtHalf = ready;
                std::fill(work.begin(), work.begin() + released, '\x5a');
            } while (!coder.finished());
            EXPECT_EQ(released, block.size());
            EXPECT_EQ(std::vector<unsigned>(coder.values(), coder.values() + ready), expected);
            // The first '@' comes back only at the end: settled ahead, it
            // holds nothing back.
            if (&block == &blocks[rareIndex] && lag != ~0u) {
                EXPECT_GT(readyAtHalf, expected.size() / 3);
            }
        }
        // With the block's histogram handed in, the same sequence.
        unsigned histogram[256] = {};
        for (unsigned char c : block) ++histogram[c];
        ForwardDistanceCoder<char, unsigned> given;
        given.start(block.data(), block.data() + block.size(), histogram);
        while (!given.finished()) given.advance(64, 100);
        EXPECT_EQ(std::vector<unsigned>(given.values(), given.values() + given.ready()), expected);
    }
}

// The fast coder, decoder and model against their plain references: the
// same bits, counts and ranges on random and adversarial inputs, the exact
// reciprocal division over every divisor, and the decoder's lookahead.

#include "entropy/arithmeticcodec.h"
#include "entropy/bittestutil.h"
#include "entropy/plainarithmeticcodec.h"
#include "entropy/plainsymbolstats.h"
#include "entropy/reciprocal.h"
#include "entropy/symbolstats.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

// Checks floor(x / d) for the top `span` numerators below `limit`, tracking
// the quotient without dividing. For a fixed remainder r the multiplier's
// error grows with x, so the largest x with each remainder is the hardest
// case: span >= d covers every remainder, and with it every smaller x.
template <typename Divide>
void checkTopNumerators(std::uint64_t limit, std::uint64_t d, std::uint64_t span, Divide divide)
{
    std::uint64_t x = limit - span;
    std::uint64_t q = x / d, r = x % d;
    for (; x < limit; ++x) {
        const std::uint64_t got = divide(x);
        if (got != q) FAIL() << "divisor " << d << " numerator " << x << ": " << got << " != " << q;
        if (++r == d) {
            r = 0;
            ++q;
        }
    }
}

TEST(ExactReciprocal, TableDividesEveryNumeratorBelow2To31ByEveryTotal)
{
    EXPECT_EQ(ceilLog2(1), 0u);
    EXPECT_EQ(ceilLog2(2), 1u);
    EXPECT_EQ(ceilLog2(3), 2u);
    EXPECT_EQ(ceilLog2(16384), 14u);
    EXPECT_EQ(ceilLog2(16385), 15u);
    const std::uint64_t limit = std::uint64_t(1) << 31;
    for (unsigned d = 1; d <= maxReciprocalDivisor; ++d) {
        // The multiplier fits 32 bits and meets the error bound of the proof.
        const std::uint64_t m = reciprocalTable31.m[d];
        const unsigned shift = 31 + ceilLog2(d);
        const std::uint64_t e = m * d - (std::uint64_t(1) << shift);
        ASSERT_LT(e, d);
        ASSERT_LT((limit - 1) * e, std::uint64_t(1) << shift) << d;
        checkTopNumerators(limit, d, 2 * std::uint64_t(d), [d](std::uint64_t x) { return divideByTable(unsigned(x), d); });
        for (unsigned x : {0u, 1u, d - 1, d, d + 1, 2 * d - 1, 2 * d})
            ASSERT_EQ(divideByTable(x, d), x / d) << d;
    }
}

TEST(ExactReciprocal, CachedDividerForTheEighteenBitCoder)
{
    // The 18-bit coder divides range * count (below 2^36) by totals up to
    // its range (2^18): the multiplier needs 37 bits and the product 128.
    constexpr unsigned K = 36;
    const std::uint64_t limit = std::uint64_t(1) << K;
    CachedDivider<K> divider;
    std::mt19937_64 rng(11);
    for (unsigned d = 1; d <= (1u << 18); ++d) {
        const unsigned shift = K + ceilLog2(d);
        const unsigned __int128 pow = static_cast<unsigned __int128>(1) << shift;
        const unsigned __int128 m = (pow + d - 1) / d;
        ASSERT_LT(m * d - pow, d);
        ASSERT_LT((limit - 1) * (m * d - pow), pow) << d;
        // Hardest numerators: the largest with each of a few remainders.
        const std::uint64_t top = limit - 1;
        for (std::uint64_t x : {top, top - top % d - 1, top - top % d, std::uint64_t(d) - 1, std::uint64_t(0),
                                std::uint64_t(d) * (1u << 18) - 1, rng() % limit})
            ASSERT_EQ(divider.divide(x, d), x / d) << d << " " << x;
    }
    // Every remainder at the top for the static coder's largest totals.
    for (unsigned d : {65535u, 65536u, 65537u, 65538u, 262143u, 262144u})
        checkTopNumerators(limit, d, 2 * std::uint64_t(d), [&](std::uint64_t x) { return divider.divide(x, d); });
}

using Coder16 = ArithmeticCoder<unsigned, unsigned, 16>;
using Decoder16 = ArithmeticDecoder<unsigned, unsigned, 16>;
using Coder18 = ArithmeticCoder<unsigned, unsigned long long, 18>;
using Decoder18 = ArithmeticDecoder<unsigned, unsigned long long, 18>;
using PlainCoder16 = PlainArithmeticCoder<unsigned, unsigned, 16>;
using PlainDecoder16 = PlainArithmeticDecoder<unsigned, unsigned, 16>;
using PlainCoder18 = PlainArithmeticCoder<unsigned, unsigned long long, 18>;
using PlainDecoder18 = PlainArithmeticDecoder<unsigned, unsigned long long, 18>;

// One coding step: a symbol of a cumulative table, or a uniform value.
struct Step {
    unsigned low, high, total;  // total 0: uniform value `low` of `high` bits
};

// A writer whose bits can be handed to a reader.
class MemoryOut : public OutProbe {
public:
    using OutProbe::OutProbe;
    // The flushed words, for InBitStream::setBuf.
    BitBufDesc takeWords() const
    {
        const unsigned count = unsigned(next - OutBitStream::words.get()) + 1;
        unsigned* copy = new unsigned[count];
        std::copy(OutBitStream::words.get(), OutBitStream::words.get() + count, copy);
        return BitBufDesc{copy, count};
    }
};

template <typename Coder>
std::string encodeSteps(const std::vector<Step>& steps, unsigned long long* bitsWritten = nullptr)
{
    MemoryOut bits(2);
    bits.reset();
    Coder coder(&bits);
    for (const Step& s : steps) {
        if (s.total == 0)
            coder.encodeUniform(s.low, s.high);
        else
            coder.encode(s.low, s.high, s.total);
    }
    coder.flush();
    bits.flush();
    if (bitsWritten) *bitsWritten = bits.bitCount();
    return bits.bits();
}

// Decodes `steps` with the fast and the plain decoder side by side; every
// count must agree and find the coded symbol.
template <typename Decoder, typename PlainDecoder>
void decodeSteps(const std::vector<Step>& steps, const BitBufDesc& a, const BitBufDesc& b)
{
    InBitStream fastBits(0), plainBits(0);
    fastBits.setBuf(a);
    plainBits.setBuf(b);
    Decoder fast(&fastBits);
    PlainDecoder plain(&plainBits);
    fast.start();
    plain.start();
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step& s = steps[i];
        if (s.total == 0) {
            const unsigned v = fast.decodeUniform(s.high);
            ASSERT_EQ(v, plain.decodeUniform(s.high)) << i;
            ASSERT_EQ(v, s.low) << i;
        } else {
            const unsigned c = fast.decode(s.total);
            ASSERT_EQ(c, plain.decode(s.total)) << i;
            ASSERT_TRUE(s.low <= c && c < s.high) << i;
            fast.decodeExtract(s.low, s.high, s.total);
            plain.decodeExtract(s.low, s.high, s.total);
        }
    }
    EXPECT_EQ(fastBits.bitsRead(), plainBits.bitsRead());
}

template <typename Coder, typename Decoder, typename PlainCoder, typename PlainDecoder>
void expectSameAsPlain(const std::vector<Step>& steps, const char* what)
{
    SCOPED_TRACE(what);
    const std::string fast = encodeSteps<Coder>(steps);
    ASSERT_EQ(fast, encodeSteps<PlainCoder>(steps));
    MemoryOut bits(2);
    bits.reset();
    for (char c : fast) bits.putBit(unsigned(c - '0'));
    bits.flush();
    decodeSteps<Decoder, PlainDecoder>(steps, bits.takeWords(), bits.takeWords());
}

// Step sequences for a coder with a quarter range of `quarter`: random and
// adversarial symbols of cumulative tables, mixed with uniform values.
std::vector<std::pair<const char*, std::vector<Step>>> stepSets(unsigned quarter, unsigned maxBits)
{
    std::mt19937 rng(quarter);
    std::vector<std::pair<const char*, std::vector<Step>>> sets;
    const unsigned maxTotal = quarter + 2;
    auto randomSymbol = [&](unsigned total) {
        const unsigned a = rng() % total, b = rng() % total;
        return Step{std::min(a, b), std::max(a, b) + 1, total};
    };
    std::vector<Step> v;
    for (int i = 0; i < 200000; ++i) v.push_back(randomSymbol(2 + rng() % (maxTotal - 1)));
    sets.emplace_back("random symbols, random totals", v);
    v.clear();
    for (int i = 0; i < 100000; ++i) {
        const unsigned total = rng() % 2 ? maxTotal : maxTotal - rng() % 4;
        v.push_back(rng() % 3 ? Step{unsigned(rng() % total), 0, total} : randomSymbol(total));
        if (v.back().high == 0) v.back().high = v.back().low + 1;  // width 1 at the largest totals
    }
    sets.emplace_back("narrowest symbols at the largest totals", v);
    v.clear();
    for (int i = 0; i < 100000; ++i) {
        const unsigned bits = 1 + rng() % maxBits;
        v.push_back(rng() % 2 ? Step{unsigned(rng() & ((1u << bits) - 1)), bits, 0} : randomSymbol(maxTotal));
    }
    sets.emplace_back("uniform values mixed with symbols", v);
    // The middle half of the interval, again and again: deferred runs of
    // one bit per symbol, tens of thousands long, then a settled bit.
    v.clear();
    for (int run = 0; run < 4; ++run) {
        const unsigned t = maxTotal;
        for (int i = 0; i < 40000; ++i) v.push_back(Step{t / 4 + 1, t - t / 4 - 1, t});
        v.push_back(Step{0, 1, t});
    }
    sets.emplace_back("long deferred runs", v);
    // A one-count symbol at the middle: up to N-1 middle-half steps at once.
    v.clear();
    for (int i = 0; i < 50000; ++i) {
        const unsigned t = maxTotal - rng() % 3;
        v.push_back(Step{t / 2 - unsigned(rng() % 2), t / 2 + 1, t});
        if (i % 5 == 0) v.push_back(randomSymbol(t));
    }
    sets.emplace_back("many middle-half steps per symbol", v);
    // One symbol owning the whole total, and one owning all but one count.
    v.assign(5000, Step{0, maxTotal, maxTotal});
    for (int i = 0; i < 50000; ++i) v.push_back(Step{1, maxTotal, maxTotal});
    for (int i = 0; i < 50000; ++i) v.push_back(Step{0, maxTotal - 1, maxTotal});
    sets.emplace_back("single dominant symbol", v);
    return sets;
}

TEST(FastCoder, SameBitsAndCountsAsThePlainCoderSixteenBit)
{
    for (const auto& set : stepSets(Coder16::QUARTER, 14))
        expectSameAsPlain<Coder16, Decoder16, PlainCoder16, PlainDecoder16>(set.second, set.first);
}

TEST(FastCoder, SameBitsAndCountsAsThePlainCoderEighteenBit)
{
    for (const auto& set : stepSets(Coder18::QUARTER, 16))
        expectSameAsPlain<Coder18, Decoder18, PlainCoder18, PlainDecoder18>(set.second, set.first);
}

// The model driven like the coder drives it: ranges, totals, symbol search.
template <typename Fast, typename Plain>
void expectSameModel(unsigned num, unsigned maxTotal, const std::vector<unsigned>& symbols, std::mt19937& rng)
{
    Fast fast(num), finder(num);
    Plain plain(num);
    for (size_t i = 0; i < symbols.size(); ++i) {
        const unsigned code = rng() % plain.getMax();
        ASSERT_EQ(fast.getSymbol(code), plain.getSymbol(code)) << "step " << i << " code " << code;
        const SymbolRange a = fast.getRangeThenUpdateAndLimit(symbols[i], maxTotal);
        const SymbolRange b = plain.getRangeThenUpdateAndLimit(symbols[i], maxTotal);
        ASSERT_TRUE(a.low == b.low && a.high == b.high && a.total == b.total) << "step " << i;
        // The decoder's combined step, given a code inside the symbol.
        SymbolRange c;
        ASSERT_EQ(finder.findRangeThenUpdateAndLimit(b.low + unsigned(rng() % (b.high - b.low)), maxTotal, c), symbols[i]);
        ASSERT_TRUE(c.low == b.low && c.high == b.high && c.total == b.total) << "step " << i;
    }
    for (unsigned s = 0; s <= num; ++s) ASSERT_EQ(fast.cumulative(s), plain.cumulative(s));
    for (unsigned code = 0; code < plain.getMax(); ++code) ASSERT_EQ(fast.getSymbol(code), plain.getSymbol(code));
}

TEST(FastModel, SameRangesHalvingAndSearchAsThePlainModel)
{
    std::mt19937 rng(21);
    for (unsigned num : {2u, 3u, 15u, 16u, 17u, 31u, 32u, 33u, 57u, 256u, 257u}) {
        for (unsigned maxTotal : {16384u, 4096u, num + 40}) {
            SCOPED_TRACE(testing::Message() << num << " symbols, limit " << maxTotal);
            std::geometric_distribution<unsigned> geo(0.4);
            std::vector<unsigned> skewed(30000), uniform(30000), one(30000, num - 1), top(30000), all;
            for (auto& s : skewed) s = std::min(geo(rng), num - 1);
            for (auto& s : uniform) s = rng() % num;
            for (auto& s : top) s = num - 1 - std::min(geo(rng), num - 1);
            for (int r = 0; r < 100; ++r)
                for (unsigned s = 0; s < num; ++s) all.push_back(s);
            for (const auto* seq : {&skewed, &uniform, &one, &top, &all})
                expectSameModel<AdaptiveSymbolStats<unsigned>, PlainSymbolStats<unsigned>>(num, maxTotal, *seq, rng);
        }
    }
}

// Encodes `n` symbols after a random header, then decodes them: the decoder
// must have read exactly lookaheadBits past the last bit the coder wrote.
template <typename Coder, typename Decoder>
void checkLookahead(std::mt19937& rng, bool adaptive, unsigned maxTotal)
{
    const unsigned header = rng() % 70;
    const unsigned n = rng() % 3 == 0 ? rng() % 20 : rng() % 5000;
    std::vector<unsigned> symbols(n);
    std::geometric_distribution<unsigned> geo(0.3);
    for (auto& s : symbols) s = std::min(geo(rng), 56u);
    std::vector<unsigned> tab{0};
    for (unsigned s = 0; s < 57; ++s) tab.push_back(tab.back() + 1 + (s < 8 ? (maxTotal - 57) / 8 : 0));

    MemoryOut out(4);
    out.reset();
    for (unsigned i = 0; i < header; ++i) out.putBit(rng() & 1);
    Coder coder(&out);
    AdaptiveSymbolStats<unsigned> model(57);
    for (unsigned s : symbols) {
        if (adaptive) {
            const SymbolRange r = model.getRangeThenUpdateAndLimit(s, maxTotal);
            coder.encode(r.low, r.high, r.total);
            if (s > 40) coder.encodeUniform(s & 63, 6);
        } else {
            coder.encode(tab[s], tab[s + 1], tab.back());
        }
    }
    coder.flush();
    out.flush();
    const unsigned long long written = out.bitCount() - header;

    InBitStream in(0);
    in.setBuf(out.takeWords());
    for (unsigned i = 0; i < header; ++i) in.getBit();
    ASSERT_EQ(in.bitsRead(), header);
    Decoder decoder(&in);
    decoder.start();
    AdaptiveSymbolStats<unsigned> dmodel(57);
    for (unsigned s : symbols) {
        unsigned got;
        if (adaptive) {
            got = dmodel.getSymbol(decoder.decode(dmodel.getMax()));
            const SymbolRange r = dmodel.getRangeThenUpdateAndLimit(got, maxTotal);
            decoder.decodeExtract(r.low, r.high, r.total);
            if (got > 40) {
                ASSERT_EQ(decoder.decodeUniform(6), got & 63);
            }
        } else {
            const unsigned c = decoder.decode(tab.back());
            got = unsigned(std::upper_bound(tab.begin(), tab.end(), c) - tab.begin()) - 1;
            decoder.decodeExtract(tab[got], tab[got + 1], tab.back());
        }
        ASSERT_EQ(got, s);
    }
    ASSERT_EQ(in.bitsRead() - header, written + Decoder::lookaheadBits) << n << " symbols";
}

TEST(DecoderLookahead, ReadsExactlyLookaheadBitsPastTheCodersOutput)
{
    static_assert(Decoder16::lookaheadBits == 14 && Decoder18::lookaheadBits == 16, "N - 2");
    std::mt19937 rng(31);
    for (int trial = 0; trial < 300; ++trial) {
        checkLookahead<Coder16, Decoder16>(rng, true, 4096);
        checkLookahead<Coder16, Decoder16>(rng, true, 16384);
        checkLookahead<Coder18, Decoder18>(rng, false, 65535);
    }
}

TEST(BitCounts, WriterAndReaderCountEveryBitIncludingZerosPastTheData)
{
    // The writer's count survives drains of a small buffer.
    std::string sink;
    AppendingOutBitStream<std::string> w(2, &sink);
    w.reset();
    w.putZeros(5);
    w.putOnes(200);
    w.putBitsHighFirst(5, 3);
    EXPECT_EQ(w.bitCount(), 208u);
    w.flush();
    EXPECT_EQ(sink.size(), 26u);

    InBitStream r(0);
    r.setBuf(BitBufDesc{new unsigned[1]{0xFFFFFFFFu}, 1});
    EXPECT_EQ(r.bitsRead(), 0u);
    r.getBit();
    EXPECT_EQ(r.getBitsHighFirst(31), 0x7FFFFFFFu);
    EXPECT_EQ(r.bitsRead(), 32u);
    EXPECT_EQ(r.getBitsHighFirst(20), 0u);  // past the data
    for (int i = 0; i < 100; ++i) r.getBit();
    EXPECT_EQ(r.bitsRead(), 152u);
    r.setBuf(BitBufDesc{new unsigned[1]{1u}, 1});
    EXPECT_EQ(r.bitsRead(), 0u);
    EXPECT_EQ(r.getBit(), 1u);
    EXPECT_EQ(r.bitsRead(), 1u);
}

} // namespace

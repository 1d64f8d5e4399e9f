#include "entropy/arithmeticcodec.h"
#include "entropy/bittestutil.h"
#include "entropy/symbolstats.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

using Coder16 = ArithmeticCoder<unsigned, unsigned, 16>;
using Decoder16 = ArithmeticDecoder<unsigned, unsigned, 16>;
using Coder18 = ArithmeticCoder<unsigned, unsigned long long, 18>;
using Decoder18 = ArithmeticDecoder<unsigned, unsigned long long, 18>;

// A decoder whose interval and window can be checked against the invariants
// that keep decode() below the total.
template <typename Base>
class DecoderProbe : public Base {
public:
    using Base::Base;
    void setState(unsigned low, unsigned high, unsigned value)
    {
        this->low = low;
        this->high = high;
        this->value = value;
    }
    bool invariantsHold() const
    {
        const unsigned Q = Base::QUARTER, H = Base::HALF;
        return this->low <= this->value && this->value <= this->high && !(this->low & H) &&
               (this->high & H) && !(this->low >= Q && this->high < 3 * Q) && this->high <= Base::TOP;
    }
};

// Symbols drawn like move-to-front ranks: mostly small, a long tail.
std::vector<unsigned> skewedSymbols(std::mt19937& rng, size_t n, unsigned num)
{
    std::geometric_distribution<unsigned> geo(0.35);
    std::vector<unsigned> s(n);
    for (auto& x : s) {
        unsigned v = geo(rng);
        x = v < num ? v : rng() % num;
    }
    return s;
}

// A fixed cumulative table of `num` symbols with random counts >= 1 summing to `total`.
std::vector<unsigned> fixedTable(std::mt19937& rng, unsigned num, unsigned total)
{
    std::vector<unsigned> cut(num - 1);
    std::vector<unsigned> all(total - 1);
    for (unsigned i = 0; i < total - 1; ++i) all[i] = i + 1;
    std::shuffle(all.begin(), all.end(), rng);
    std::copy(all.begin(), all.begin() + (num - 1), cut.begin());
    std::sort(cut.begin(), cut.end());
    std::vector<unsigned> tab{0};
    tab.insert(tab.end(), cut.begin(), cut.end());
    tab.push_back(total);
    return tab;
}

unsigned findInTable(const std::vector<unsigned>& tab, unsigned count)
{
    return unsigned(std::upper_bound(tab.begin(), tab.end(), count) - tab.begin()) - 1;
}

// Codes `symbols` after a 32-bit header word, with the adaptive model when
// `tab` is empty or the fixed table otherwise, then appends `trailer`.
template <typename Coder>
std::string encodeSymbols(const std::vector<unsigned>& symbols, unsigned num, unsigned maxTotal,
                          const std::vector<unsigned>& tab, const std::string& trailer)
{
    std::string out;
    AppendingOutBitStream<std::string> bits(bitStreamWords, &out);
    bits.reset();
    for (unsigned b = 0; b < 32; ++b) bits.putBit((0xC0FFEEu >> b) & 1);
    Coder coder(&bits);
    AdaptiveSymbolStats<unsigned> model(num);
    for (unsigned s : symbols) {
        if (tab.empty()) {
            SymbolRange r = model.getRangeThenUpdateAndLimit(s, maxTotal);
            coder.encode(r.low, r.high, r.total);
        } else {
            coder.encode(tab[s], tab[s + 1], tab.back());
        }
    }
    coder.flush();
    bits.flush();
    return out + trailer;
}

template <typename Decoder>
std::vector<unsigned> decodeSymbols(const std::string& bytes, size_t n, unsigned num, unsigned maxTotal,
                                    const std::vector<unsigned>& tab)
{
    const std::string in = bytes;
    MemoryInBitStream bits(bitStreamWords, in.data(), in.size());
    unsigned header = 0;
    for (unsigned b = 0; b < 32; ++b) header |= bits.getBit() << b;
    EXPECT_EQ(header, 0xC0FFEEu);
    Decoder decoder(&bits);
    decoder.start();
    AdaptiveSymbolStats<unsigned> model(num);
    std::vector<unsigned> out;
    for (size_t i = 0; i < n; ++i) {
        if (tab.empty()) {
            unsigned s = model.getSymbol(decoder.decode(model.getMax()));
            SymbolRange r = model.getRangeThenUpdateAndLimit(s, maxTotal);
            decoder.decodeExtract(r.low, r.high, r.total);
            out.push_back(s);
        } else {
            unsigned s = findInTable(tab, decoder.decode(tab.back()));
            decoder.decodeExtract(tab[s], tab[s + 1], tab.back());
            out.push_back(s);
        }
    }
    return out;
}

template <typename Coder, typename Decoder>
void roundTrip(unsigned seed, unsigned num, unsigned maxTotal, bool fixed)
{
    std::mt19937 rng(seed);
    std::vector<unsigned> symbols = skewedSymbols(rng, 30000 + rng() % 20000, num);
    std::vector<unsigned> tab = fixed ? fixedTable(rng, num, maxTotal) : std::vector<unsigned>();
    std::string trailer;
    for (int i = 0; i < 200; ++i) trailer += char(rng());
    for (const std::string& t : {std::string(), trailer, std::string(100, '\xFF')}) {
        std::string bytes = encodeSymbols<Coder>(symbols, num, maxTotal, tab, t);
        ASSERT_EQ(decodeSymbols<Decoder>(bytes, symbols.size(), num, maxTotal, tab), symbols)
            << "seed " << seed << " trailer " << t.size();
    }
}

} // namespace

TEST(ArithmeticCoderBits, WholeRangeSymbolWritesNothingAndFlushWritesZeroOne)
{
    OutProbe bits(4);
    bits.reset();
    Coder16 coder(&bits);
    coder.flush();
    EXPECT_EQ(bits.bits(), "01");

    OutProbe bits2(4);
    bits2.reset();
    Coder18 coder2(&bits2);
    for (int i = 0; i < 50; ++i) coder2.encode(0, 65535, 65535);
    coder2.encode(0, 257, 257);
    EXPECT_EQ(bits2.bitCount(), 0u);
    coder2.flush();
    EXPECT_EQ(bits2.bits(), "01");
}

TEST(ArithmeticCoderBits, FortyDeferredBitsCrossAWordBoundary)
{
    // [1,3) of 4 over the full interval lands in the middle half: one deferred
    // bit per symbol and nothing written.
    OutProbe bits(1);
    bits.reset();
    for (int i = 0; i < 10; ++i) bits.putBit(1);
    Coder16 coder(&bits);
    for (int i = 0; i < 40; ++i) coder.encode(1, 3, 4);
    EXPECT_EQ(bits.bitCount(), 10u);
    coder.encode(3, 4, 4); // settles an upper-half bit, then a second one
    EXPECT_EQ(bits.bits(), std::string(10, '1') + "1" + std::string(40, '0') + "1");

    OutProbe low(1);
    low.reset();
    Coder16 lowCoder(&low);
    for (int i = 0; i < 40; ++i) lowCoder.encode(1, 3, 4);
    lowCoder.encode(0, 1, 4);
    EXPECT_EQ(low.bits(), "0" + std::string(40, '1') + "0");

    // Deferred bits still pending at the end are resolved by flush.
    OutProbe fl(1);
    fl.reset();
    Coder16 flCoder(&fl);
    for (int i = 0; i < 3; ++i) flCoder.encode(1, 3, 4);
    flCoder.flush();
    EXPECT_EQ(fl.bits(), "01111");
}

TEST(ArithmeticCoderRoundTrip, AdaptiveModelSixteenBit)
{
    for (unsigned seed = 1; seed <= 3; ++seed) roundTrip<Coder16, Decoder16>(seed, 257, 16384, false);
    roundTrip<Coder16, Decoder16>(4, 256, 16384, false);
    roundTrip<Coder16, Decoder16>(5, 2, 4096, false);
}

TEST(ArithmeticCoderRoundTrip, FixedModelsBothPrecisions)
{
    roundTrip<Coder16, Decoder16>(11, 257, 16384, true);
    roundTrip<Coder16, Decoder16>(12, 20, 300, true);
    roundTrip<Coder18, Decoder18>(13, 257, 65535, true);
    roundTrip<Coder18, Decoder18>(14, 256, 1000, true);
    roundTrip<Coder18, Decoder18>(15, 257, 65535, false);
}

TEST(ArithmeticCoderRoundTrip, LongDeferredRunsAtTheEnd)
{
    // Symbols that keep the interval in the middle half, so flush must
    // resolve thousands of deferred bits.
    std::vector<unsigned> tab = {0, 1, 3, 4};
    std::vector<unsigned> symbols(5000, 1);
    symbols[0] = 2;
    std::string bytes = encodeSymbols<Coder16>(symbols, 3, 0, tab, "");
    EXPECT_EQ(decodeSymbols<Decoder16>(bytes, symbols.size(), 3, 0, tab), symbols);
}

TEST(ArithmeticDecoderCounts, EachCodeValueMapsToTheSymbolWhoseIntervalHoldsIt)
{
    // Whole interval, four equal symbols: the boundaries are exact multiples.
    DecoderProbe<Decoder16> d;
    for (unsigned v : {0x0000u, 0x3FFFu, 0x4000u, 0x7FFFu, 0x8000u, 0xFFFFu}) {
        d.setState(0, 0xFFFF, v);
        EXPECT_EQ(d.decode(4), v >> 14) << std::hex << v;
    }
    // For every value under assorted intervals and totals, the count c is the
    // one whose coder interval for [c, c + 1) holds the value.
    struct Case { unsigned low, high, total; };
    for (Case c : {Case{0, 0xFFFF, 257}, Case{0x3FFE, 0xC001, 16384}, Case{0x1234, 0x9ABC, 1000},
                   Case{0x3FFF, 0xBFFF, 3}, Case{0x2000, 0x8000, 8193}}) {
        unsigned range = c.high - c.low + 1;
        for (unsigned v = c.low; v <= c.high; ++v) {
            d.setState(c.low, c.high, v);
            unsigned n = d.decode(c.total);
            ASSERT_LT(n, c.total);
            ASSERT_LE(c.low + range * n / c.total, v) << v;
            ASSERT_GE(c.low + range * (n + 1) / c.total - 1, v) << v;
        }
    }
}

TEST(ArithmeticDecoderSafety, RandomBitsWithARealModelStayInBounds)
{
    for (unsigned seed = 0; seed < 6; ++seed) {
        std::mt19937 rng(seed);
        std::string garbage;
        for (int i = 0; i < 3000; ++i) garbage += char(rng());
        const std::string in = garbage;
        MemoryInBitStream bits(bitStreamWords, in.data(), in.size());
        DecoderProbe<Decoder16> decoder(&bits);
        decoder.start();
        AdaptiveSymbolStats<unsigned> model(seed % 2 ? 257 : 256);
        // Runs far past the 3000 bytes, into the zero bits that follow.
        for (int i = 0; i < 100000; ++i) {
            unsigned total = model.getMax();
            unsigned count = decoder.decode(total);
            ASSERT_LT(count, total);
            SymbolRange r = model.getRangeThenUpdateAndLimit(model.getSymbol(count), 16384);
            ASSERT_LE(r.low, count);
            ASSERT_LT(count, r.high);
            decoder.decodeExtract(r.low, r.high, r.total);
            ASSERT_TRUE(decoder.invariantsHold()) << "seed " << seed << " symbol " << i;
        }
    }
}

TEST(ArithmeticDecoderSafety, RandomBitsWithArbitraryTotalsStayInBounds)
{
    for (unsigned seed = 0; seed < 4; ++seed) {
        std::mt19937 rng(100 + seed);
        std::string garbage;
        for (int i = 0; i < 20000; ++i) garbage += char(rng());
        MemoryInBitStream bits16(bitStreamWords, garbage.data(), garbage.size()),
            bits18(bitStreamWords, garbage.data(), garbage.size());
        DecoderProbe<Decoder16> d16(&bits16);
        DecoderProbe<Decoder18> d18(&bits18);
        d16.start();
        d18.start();
        for (int i = 0; i < 50000; ++i) {
            // Any total up to the largest each instance serves, and any range
            // around the decoded count.
            unsigned t16 = 1 + rng() % 16384, t18 = 1 + rng() % 65535;
            unsigned c16 = d16.decode(t16), c18 = d18.decode(t18);
            ASSERT_LT(c16, t16);
            ASSERT_LT(c18, t18);
            unsigned lo16 = c16 - rng() % (c16 + 1), lo18 = c18 - rng() % (c18 + 1);
            d16.decodeExtract(lo16, c16 + 1 + rng() % (t16 - c16), t16);
            d18.decodeExtract(lo18, c18 + 1 + rng() % (t18 - c18), t18);
            ASSERT_TRUE(d16.invariantsHold());
            ASSERT_TRUE(d18.invariantsHold());
        }
    }
}

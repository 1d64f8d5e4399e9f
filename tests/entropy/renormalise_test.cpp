#include "entropy/arithmeticcodec.h"
#include "entropy/bittestutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

namespace {

using Coder16 = ArithmeticCoder<unsigned, unsigned, 16>;
using Decoder16 = ArithmeticDecoder<unsigned, unsigned, 16>;
constexpr unsigned TOP = Coder16::TOP, HALF = Coder16::HALF, QUARTER = Coder16::QUARTER;

// A coder whose interval can be set and read back.
class CoderProbe : public Coder16 {
public:
    using Coder16::Coder16;
    void setState(unsigned l, unsigned h, unsigned u)
    {
        low = l;
        high = h;
        underflowBits = u;
    }
    unsigned lowEnd() const { return low; }
    unsigned highEnd() const { return high; }
    unsigned deferred() const { return underflowBits; }
};

class DecoderProbe : public Decoder16 {
public:
    using Decoder16::Decoder16;
    void setState(unsigned l, unsigned h, unsigned v)
    {
        low = l;
        high = h;
        value = v;
    }
    unsigned lowEnd() const { return low; }
    unsigned highEnd() const { return high; }
    unsigned window() const { return value; }
};

// One bit per shift, settled bits and middle-half steps in any order: the
// plain rule the batched renormalisation must reproduce.
struct Reference {
    unsigned low, high, deferred, value;
    std::string out;
    const std::string* in;
    size_t inPos;

    void run(bool decoding)
    {
        for (;;) {
            if ((high & HALF) == (low & HALF)) {
                const char bit = (high & HALF) ? '1' : '0';
                out += bit;
                out.append(deferred, bit == '1' ? '0' : '1');
                deferred = 0;
            } else if ((low & QUARTER) && !(high & QUARTER)) {
                ++deferred;
                value ^= QUARTER;
                low &= ~QUARTER;
                high |= QUARTER;
            } else {
                break;
            }
            high = ((high << 1) | 1) & TOP;
            low = (low << 1) & TOP;
            if (decoding) value = ((value << 1) | unsigned((*in)[inPos++] - '0')) & TOP;
        }
    }
};

// Random intervals of every width, including equal ends (16 settled bits)
// and intervals deep in the middle half, each narrowed by one symbol.
TEST(ArithmeticRenormalisation, MatchesTheOneBitAtATimeRule)
{
    std::mt19937 rng(5);
    for (int trial = 0; trial < 20000; ++trial) {
        unsigned a = rng() & TOP, b = rng() & TOP;
        if (trial % 3 == 0) b = a ^ (rng() & ((1u << (rng() % 17)) - 1));  // long shared prefix
        if (trial % 7 == 0) b = a;
        const unsigned lo = std::min(a, b), hi = std::max(a, b);
        const unsigned deferred = rng() % 40;

        OutProbe bits(4);
        CoderProbe coder(&bits);
        coder.setState(lo, hi, deferred);
        coder.encode(0, 1, 1);  // keeps the interval, then renormalises it
        Reference ref{lo, hi, deferred, 0, "", nullptr, 0};
        ref.run(false);
        ASSERT_EQ(bits.bits(), ref.out) << lo << " " << hi;
        ASSERT_EQ(coder.lowEnd(), ref.low);
        ASSERT_EQ(coder.highEnd(), ref.high);
        ASSERT_EQ(coder.deferred(), ref.deferred);

        // The decoder with a window inside the interval and random next bits.
        std::string next(64, '0');
        std::string bytes(8, '\0');
        for (size_t k = 0; k < 64; ++k) {
            next[k] = char('0' + (rng() & 1));
            bytes[k / 8] = char(bytes[k / 8] | ((next[k] - '0') << (k % 8)));
        }
        const std::string in = bytes;
        MemoryInBitStream inBits(bitStreamWords, in.data(), in.size());
        DecoderProbe decoder(&inBits);
        const unsigned v = lo + (hi > lo ? rng() % (hi - lo + 1) : 0);
        decoder.setState(lo, hi, v);
        decoder.decodeExtract(0, 1, 1);
        Reference dref{lo, hi, 0, v, "", &next, 0};
        dref.run(true);
        ASSERT_EQ(decoder.lowEnd(), dref.low);
        ASSERT_EQ(decoder.highEnd(), dref.high);
        ASSERT_EQ(decoder.window(), dref.value) << lo << " " << hi << " " << v;
    }
}

} // namespace

#include "entropy/arithmeticcodec.h"
#include "entropy/bittestutil.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using Coder16 = ArithmeticCoder<unsigned, unsigned, 16>;
using Decoder16 = ArithmeticDecoder<unsigned, unsigned, 16>;

// A skewed symbol of a fixed 3-symbol table between uniform values keeps the
// interval at odd sizes, where rounding differences would show.
struct Step {
    unsigned skewed;  // 0..2, coded out of {0, 1, 40, 43}
    unsigned value;
    unsigned bits;    // 1..8
};

const unsigned skewTab[4] = {0, 1, 40, 43};

std::vector<Step> randomSteps(unsigned seed, size_t n)
{
    std::mt19937 rng(seed);
    std::vector<Step> steps(n);
    for (auto& s : steps) {
        s.skewed = rng() % 3;
        s.bits = 1 + rng() % 8;
        s.value = rng() & ((1u << s.bits) - 1);
    }
    return steps;
}

std::string codeSteps(const std::vector<Step>& steps, bool uniform)
{
    OutProbe bits(4);
    Coder16 coder(&bits);
    for (const Step& s : steps) {
        coder.encode(skewTab[s.skewed], skewTab[s.skewed + 1], 43);
        if (uniform)
            coder.encodeUniform(s.value, s.bits);
        else
            coder.encode(s.value, s.value + 1, 1u << s.bits);
    }
    coder.flush();
    return bits.bits();
}

TEST(UniformCoding, SameBitsAsTheGeneralCoder)
{
    const auto steps = randomSteps(7, 20000);
    EXPECT_EQ(codeSteps(steps, true), codeSteps(steps, false));
}

// Decodes with the uniform path and the general path side by side, over a
// real code string and over random bits (what a corrupt file gives).
void expectDecodersAgree(const std::string& bytes, const std::vector<Step>& steps, bool checkValues)
{
    MemoryInBitStream bitsA(bitStreamWords, bytes.data(), bytes.size()),
        bitsB(bitStreamWords, bytes.data(), bytes.size());
    Decoder16 a(&bitsA), b(&bitsB);
    a.start();
    b.start();
    for (const Step& s : steps) {
        const unsigned code = a.decode(43);
        ASSERT_EQ(code, b.decode(43));
        const unsigned k = code < 1 ? 0 : code < 40 ? 1 : 2;
        if (checkValues) {
            ASSERT_EQ(k, s.skewed);
        }
        a.decodeExtract(skewTab[k], skewTab[k + 1], 43);
        b.decodeExtract(skewTab[k], skewTab[k + 1], 43);
        const unsigned u = a.decodeUniform(s.bits);
        const unsigned g = b.decode(1u << s.bits);
        ASSERT_EQ(u, g);
        ASSERT_LT(u, 1u << s.bits);
        b.decodeExtract(g, g + 1, 1u << s.bits);
        if (checkValues) {
            ASSERT_EQ(u, s.value);
        }
    }
}

TEST(UniformCoding, DecoderMatchesTheGeneralDecoder)
{
    const auto steps = randomSteps(11, 20000);
    std::string out;
    AppendingOutBitStream<std::string> bits(bitStreamWords, &out);
    Coder16 real(&bits);
    bits.reset();
    for (const Step& s : steps) {
        real.encode(skewTab[s.skewed], skewTab[s.skewed + 1], 43);
        real.encodeUniform(s.value, s.bits);
    }
    real.flush();
    bits.flush();
    expectDecodersAgree(out, steps, true);

    std::mt19937 rng(3);
    std::string noise(40000, '\0');
    for (auto& c : noise) c = char(rng());
    expectDecodersAgree(noise, steps, false);
}

} // namespace

#include "entropy/bitstream.h"
#include "entropy/bittestutil.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

// Writes `bits` ('0'/'1' digits) through a stream writer and returns the bytes.
std::string writeBits(const std::string& bits, unsigned capacity = bitStreamWords)
{
    std::string out;
    AppendingOutBitStream<std::string> w(capacity, &out);
    w.reset();
    for (char c : bits) w.putBit(unsigned(c - '0'));
    w.flush();
    return out;
}

} // namespace

TEST(BitStreamFormat, ThirtyTwoBitsAreTheLittleEndianWord)
{
    const unsigned value = 0x12345678;
    std::string out;
    AppendingOutBitStream<std::string> w(bitStreamWords, &out);
    w.reset();
    for (unsigned b = 0; b < 32; ++b) w.putBit((value >> b) & 1);
    w.flush(); // bitsUsed is 32 here: the full word is written whole
    EXPECT_EQ(out, std::string("\x78\x56\x34\x12", 4));
}

TEST(BitStreamFormat, FlushWritesOnlyTheBytesHoldingBits)
{
    EXPECT_EQ(writeBits(""), "");
    EXPECT_EQ(writeBits("1"), std::string("\x01", 1));
    EXPECT_EQ(writeBits("00000000" "1"), std::string("\x00\x01", 2));
    EXPECT_EQ(writeBits(std::string(32, '0') + "1"), std::string("\0\0\0\0\x01", 5));

    // Ending exactly on a stored word (bitsUsed 0): no byte for the partial word.
    std::string out;
    AppendingOutBitStream<std::string> w(bitStreamWords, &out);
    w.reset();
    for (int i = 0; i < 10; ++i) w.putBit(1);
    w.putZeros(54);
    w.flush();
    EXPECT_EQ(out, std::string("\xFF\x03\0\0\0\0\0\0", 8));
}

TEST(BitStreamFormat, BufferDrainsInWholeBuffersThenFlushesTheRest)
{
    std::string d;
    AppendingOutBitStream<std::string> w(bitStreamWords, &d);
    w.reset();
    // Word i holds the value i; 16385 full words fit without a drain because
    // the last full word is not stored until another bit arrives.
    for (unsigned i = 0; i < 16385; ++i)
        for (unsigned b = 0; b < 32; ++b) w.putBit((i >> b) & 1);
    EXPECT_TRUE(d.empty());
    w.putBit(1);
    ASSERT_EQ(d.size(), 65536u);
    w.flush();
    ASSERT_EQ(d.size(), 65541u);
    EXPECT_EQ(d.substr(4 * 300, 4), std::string("\x2C\x01\0\0", 4));
    EXPECT_EQ(d.substr(65536, 5), std::string("\x00\x40\0\0\x01", 5)); // word 16384, then bit 1
}

TEST(BitStreamFormat, PutZerosEqualsSingleZeroBitsAtEveryOffset)
{
    // Every start offset in a word (including a full, unstored word) and
    // runs that end inside, at and beyond word boundaries.
    for (unsigned offset = 0; offset <= 32; ++offset) {
        for (unsigned n : {0u, 1u, 5u, 31u, 32u, 33u, 63u, 64u, 65u, 100u, 200u}) {
            std::string a, b;
            AppendingOutBitStream<std::string> wa(4, &a), wb(4, &b);
            wa.reset();
            wb.reset();
            for (unsigned i = 0; i < offset; ++i) {
                wa.putBit(1);
                wb.putBit(1);
            }
            wa.putZeros(n);
            for (unsigned i = 0; i < n; ++i) wb.putBit(0);
            wa.putBit(1);
            wb.putBit(1);
            wa.flush();
            wb.flush();
            ASSERT_EQ(a, b) << "offset " << offset << " n " << n;
        }
    }
    // Five ones, 100 zeros, a one: bit 105 is bit 1 of byte 13.
    std::string out;
    AppendingOutBitStream<std::string> w(bitStreamWords, &out);
    w.reset();
    for (int i = 0; i < 5; ++i) w.putBit(1);
    w.putZeros(100);
    w.putBit(1);
    w.flush();
    EXPECT_EQ(out, std::string("\x1F") + std::string(12, '\0') + "\x02");
}

TEST(BitStreamRoundTrip, RandomBitsSurviveSmallAndLargeBuffers)
{
    std::mt19937 rng(7);
    std::string bits;
    for (int i = 0; i < 20000; ++i) bits += char('0' + (rng() & 1));
    for (unsigned capacity : {1u, 3u, bitStreamWords}) {
        std::string bytes = writeBits(bits, capacity);
        ASSERT_EQ(bytes.size(), (bits.size() + 7) / 8);
        EXPECT_EQ(bitString(bytes, bits.size()), bits);
        const std::string in = bytes;
        MemoryInBitStream r(capacity, in.data(), in.size());
        std::string back;
        for (size_t i = 0; i < bits.size(); ++i) back += char('0' + r.getBit());
        EXPECT_EQ(back, bits) << "capacity " << capacity;
    }
}

TEST(BitStreamReader, ReadsItsBytesThenZerosAndCountsWhatItHandedOut)
{
    const std::string data("\x05\x80", 2);
    MemoryInBitStream r(bitStreamWords, data.data(), data.size());
    EXPECT_EQ(r.dataBits(), 16u);
    EXPECT_EQ(r.getBit(), 1u);
    std::string rest;
    for (int i = 1; i < 16; ++i) rest += char('0' + r.getBit());
    EXPECT_EQ(rest, "01000000000000" "1");
    EXPECT_EQ(r.bitsRead(), 16u);
    // Past the data the bits are zero, also after further (empty) refills,
    // and they count as read.
    for (int i = 0; i < 3 * 65536 * 8; ++i) ASSERT_EQ(r.getBit(), 0u);
    EXPECT_EQ(r.bitsRead(), 16u + 3 * 65536 * 8);
}

TEST(BitStreamInMemory, WriterGrowsAndPrintsItsBits)
{
    OutProbe w(1);
    w.reset();
    std::string bits;
    for (int i = 0; i < 100; ++i) {
        unsigned b = (i * 7 + 3) % 5 < 2;
        bits += char('0' + b);
        w.putBit(b);
    }
    w.putZeros(40);
    bits += std::string(40, '0');
    EXPECT_EQ(w.bits(), bits);

    OutBitStream p(16);
    p.reset();
    p.putBit(1);
    p.putBit(0);
    p.putBit(1);
    EXPECT_EQ(p._print(), "number of bits in stream: 3\nbits:\n101");
}

TEST(BitStreamInMemory, ReaderUsesItsGivenBufferAndReadsZerosBeyondIt)
{
    InBitStream r(8);
    r.setBuf(BitBufDesc{new unsigned[2]{0x80000001u, 0x3u}, 2});
    std::string bits;
    for (int i = 0; i < 64; ++i) bits += char('0' + r.getBit());
    EXPECT_EQ(bits, "1" + std::string(30, '0') + "1" + "11" + std::string(30, '0'));
    for (int i = 0; i < 100; ++i) ASSERT_EQ(r.getBit(), 0u);

    InBitStream empty(0);
    for (int i = 0; i < 40; ++i) ASSERT_EQ(empty.getBit(), 0u);
}

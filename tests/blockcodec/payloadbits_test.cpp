// The payload writer that borrows the block's memory gives the bytes of the
// plain appending writer, whether the payload fits the borrowed room, fills
// it exactly, or spills over.

#include "blockcodec/payloadbits.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

TEST(BorrowingOutBitStream, SameBytesAsAppendingWriterForAnyRoom)
{
    std::mt19937 rng(11);
    for (unsigned bufferWords : {1u, 4u, 64u}) {
        for (std::size_t room : {std::size_t(0), std::size_t(3), std::size_t(4), std::size_t(16), std::size_t(999),
                                 std::size_t(1) << 16}) {
            std::vector<unsigned char> expected;
            PayloadOutBitStream plain(bufferWords, &expected);
            std::vector<unsigned char> borrowed(room + 1, 0xA5);
            std::vector<unsigned char> spill = {0x42};  // appended after what is there
            BorrowingOutBitStream bits(bufferWords, borrowed.data(), room, &spill);
            plain.reset();
            bits.reset();
            const int pieces = 1 + static_cast<int>(rng() % 3000);
            for (int i = 0; i < pieces; ++i) {
                const unsigned n = 1 + rng() % 31;
                const unsigned value = rng() & ((1u << n) - 1);
                plain.putBitsHighFirst(value, n);
                bits.putBitsHighFirst(value, n);
            }
            plain.flush();
            bits.flush();
            ASSERT_LE(bits.borrowedBytes(), room);
            ASSERT_EQ(spill[0], 0x42);
            std::vector<unsigned char> got(borrowed.begin(), borrowed.begin() + bits.borrowedBytes());
            got.insert(got.end(), spill.begin() + 1, spill.end());
            EXPECT_EQ(got, expected) << bufferWords << " words, room " << room;
            EXPECT_EQ(borrowed[room], 0xA5) << "nothing written past the borrowed room";
        }
    }
}

namespace {

// Records the ends it is asked about and checks that each comes before the
// bytes it covers are written.
class RecordingGate : public BorrowGate {
public:
    explicit RecordingGate(const std::vector<unsigned char>& borrowed) : borrowed_(borrowed) {}
    void awaitFree(std::size_t end) override
    {
        const std::size_t from = ends.empty() ? 0 : ends.back();
        for (std::size_t i = from; i < end; ++i) untouched = untouched && borrowed_[i] == 0xA5;
        ends.push_back(end);
    }
    std::vector<std::size_t> ends;
    bool untouched = true;

private:
    const std::vector<unsigned char>& borrowed_;
};

} // namespace

// The gate hears of every borrowed byte before it is written, in order, and
// overwrite() reaches bytes wherever they went: all borrowed, split across
// the room's end, or all spilled.
TEST(BorrowingOutBitStream, GateComesFirstAndOverwriteFindsEveryByte)
{
    std::mt19937 rng(5);
    for (std::size_t room : {std::size_t(0), std::size_t(6), std::size_t(64), std::size_t(5000)}) {
        std::vector<unsigned char> expected;
        PayloadOutBitStream plain(4, &expected);
        // 0xA5 bytes are never drawn below, so untouched bytes stay recognisable.
        std::vector<unsigned char> borrowed(room + 1, 0xA5);
        std::vector<unsigned char> spill;
        BorrowingOutBitStream bits(4, borrowed.data(), room, &spill);
        RecordingGate gate(borrowed);
        bits.setGate(&gate);
        plain.reset();
        bits.reset();
        for (int i = 0; i < 600; ++i) {
            const unsigned byte = rng() % 0xA5;
            plain.putBitsHighFirst(byte, 8);
            bits.putBitsHighFirst(byte, 8);
        }
        plain.flush();
        bits.flush();
        EXPECT_TRUE(gate.untouched) << "room " << room;
        EXPECT_TRUE(std::is_sorted(gate.ends.begin(), gate.ends.end()));
        EXPECT_EQ(gate.ends.empty() ? 0 : gate.ends.back(), bits.borrowedBytes());

        for (std::size_t offset : {std::size_t(0), std::size_t(4), std::size_t(62), std::size_t(596)}) {
            const unsigned char word[4] = {1, 2, 3, 4};
            std::copy(word, word + 4, expected.begin() + offset);
            bits.overwrite(offset, word, 4);
        }
        std::vector<unsigned char> got(borrowed.begin(), borrowed.begin() + bits.borrowedBytes());
        got.insert(got.end(), spill.begin(), spill.end());
        EXPECT_EQ(got, expected) << "room " << room;
    }
}

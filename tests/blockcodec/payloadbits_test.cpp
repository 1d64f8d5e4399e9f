// The payload writer that borrows the block's memory gives the bytes of the
// plain appending writer, whether the payload fits the borrowed room, fills
// it exactly, or spills over.

#include "blockcodec/payloadbits.h"

#include <gtest/gtest.h>

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

#pragma once
// The bit streams of a block payload in memory: the writer appends to the
// payload's byte vector, the reader takes exactly one payload's bytes.

#include "entropy/bitstream.h"

#include <cstddef>
#include <vector>

using PayloadOutBitStream = AppendingOutBitStream<std::vector<unsigned char>>;
using PayloadInBitStream = MemoryInBitStream;

// Bit writer that keeps its bytes in borrowed memory (a buffer whose
// contents are no longer needed) while they fit, and in a vector of its own
// after that, so a payload as large as its block needs no second block-sized
// buffer while the coder runs. The same bytes as PayloadOutBitStream.
class BorrowingOutBitStream : public OutBitStream {
public:
    // `room` bytes at `borrowed` are overwritten; they must outlive the
    // stream. `size` > 0 words of buffer.
    BorrowingOutBitStream(unsigned size, unsigned char* borrowed, std::size_t room)
        : OutBitStream(size), borrowed_(borrowed), room_(room)
    {
    }

    void overflow() override
    {
        append(std::size_t(capacity) * 4);
        next = words.get();
    }

    // As in AppendingOutBitStream: the stored words and the partial word's
    // (bitsUsed + 7) / 8 bytes. Called once, after the last bit.
    void flush() override
    {
        if (next == words.get() + capacity) makeRoom();
        *next = partialWord();
        append(std::size_t(next - words.get()) * 4 + (bitsUsed + 7) / 8);
    }

    // Appends every byte written, in order, to `out`.
    void copyTo(std::vector<unsigned char>& out) const
    {
        out.reserve(out.size() + used_ + spill_.size());
        out.insert(out.end(), borrowed_, borrowed_ + used_);
        out.insert(out.end(), spill_.begin(), spill_.end());
    }

private:
    // Once a piece does not fit in what is left of the borrowed bytes, it
    // and everything after it go to the vector.
    void append(std::size_t bytes)
    {
        if (bytes == 0) return;
        if (spill_.empty() && bytes <= room_ - used_) {
            storeWordBytes(borrowed_ + used_, words.get(), bytes);
            used_ += bytes;
            return;
        }
        const std::size_t old = spill_.size();
        spill_.resize(old + bytes);
        storeWordBytes(spill_.data() + old, words.get(), bytes);
    }

    unsigned char* borrowed_;
    std::size_t room_;
    std::size_t used_ = 0;
    std::vector<unsigned char> spill_;
};

#pragma once
// The bit streams of a block payload in memory: the writer appends to the
// payload's byte vector, the reader takes exactly one payload's bytes.

#include "entropy/bitstream.h"

#include <cstddef>
#include <vector>

using PayloadOutBitStream = AppendingOutBitStream<std::vector<unsigned char>>;
using PayloadInBitStream = MemoryInBitStream;

// Bit writer that keeps its bytes in borrowed memory (a buffer whose
// contents are no longer needed) while they fit, and appends the rest to a
// byte vector, so a payload as large as its block needs no second
// block-sized buffer. Together, the same bytes as PayloadOutBitStream.
class BorrowingOutBitStream : public DrainingOutBitStream {
public:
    // `room` bytes at `borrowed` are overwritten; they and `spill` must
    // outlive the stream. `size` > 0 words of buffer.
    BorrowingOutBitStream(unsigned size, unsigned char* borrowed, std::size_t room, std::vector<unsigned char>* spill)
        : DrainingOutBitStream(size), borrowed_(borrowed), room_(room), spill_(spill), spillStart_(spill->size())
    {
    }

    // The bytes written are the first borrowedBytes() at `borrowed`, then
    // what was appended to `spill`.
    std::size_t borrowedBytes() const { return used_; }

private:
    // Once a piece does not fit in what is left of the borrowed bytes, it
    // and everything after it go to the vector.
    void drain(std::size_t bytes) override
    {
        if (spill_->size() == spillStart_ && bytes <= room_ - used_) {
            storeWordBytes(borrowed_ + used_, words.get(), bytes);
            used_ += bytes;
            return;
        }
        const std::size_t old = spill_->size();
        spill_->resize(old + bytes);
        storeWordBytes(spill_->data() + old, words.get(), bytes);
    }

    unsigned char* borrowed_;
    std::size_t room_;
    std::vector<unsigned char>* spill_;
    std::size_t spillStart_;
    std::size_t used_ = 0;
};

#pragma once
// The bit streams of a block payload in memory: the writer appends to the
// payload's byte vector, the reader takes exactly one payload's bytes.

#include "entropy/bitstream.h"

#include <cassert>
#include <cstddef>
#include <vector>

using PayloadOutBitStream = AppendingOutBitStream<std::vector<unsigned char>>;
using PayloadInBitStream = MemoryInBitStream;

// Told before the borrowed bytes [0, end) are written; returns once they
// may be (another thread may still be reading the borrowed memory).
class BorrowGate {
public:
    virtual void awaitFree(std::size_t end) = 0;

protected:
    ~BorrowGate() = default;
};

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

    // With a gate (not owned; null for none), no borrowed byte is written
    // before the gate has let it go.
    void setGate(BorrowGate* gate) { gate_ = gate; }

    // After flush(): puts `n` bytes from `src` at byte `offset` of what was
    // written, wherever those bytes went. They must all have been written.
    void overwrite(std::size_t offset, const unsigned char* src, std::size_t n)
    {
        for (std::size_t i = offset; i < offset + n; ++i) {
            const unsigned char byte = *src++;
            if (i < used_) {
                borrowed_[i] = byte;
            } else {
                const std::size_t at = spillStart_ + (i - used_);
                assert(at < spill_->size());
                (*spill_)[at] = byte;
            }
        }
    }

private:
    // Once a piece does not fit in what is left of the borrowed bytes, it
    // and everything after it go to the vector.
    void drain(std::size_t bytes) override
    {
        if (spill_->size() == spillStart_ && bytes <= room_ - used_) {
            if (gate_) gate_->awaitFree(used_ + bytes);
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
    BorrowGate* gate_ = nullptr;
};

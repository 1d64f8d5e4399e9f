#pragma once
// Bit streams bound to a block payload in memory: the writer appends to a
// byte vector, the reader takes exactly one payload's bytes and counts how
// far a decoder reads, so that reading past the payload can be told apart
// from a clean end.

#include "entropy/bitstream.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

namespace payloadbits {

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr bool hostIsLittleEndian = false;
#else
constexpr bool hostIsLittleEndian = true;
#endif

// Words travel least significant byte first.
inline void storeWords(unsigned char* dst, const unsigned* words, std::size_t bytes)
{
    if (hostIsLittleEndian) {
        std::memcpy(dst, words, bytes);
        return;
    }
    for (std::size_t i = 0; i < bytes; ++i) dst[i] = static_cast<unsigned char>(words[i / 4] >> (8 * (i % 4)));
}

inline void loadWords(unsigned* words, const unsigned char* src, std::size_t bytes)
{
    if (hostIsLittleEndian) {
        std::memcpy(words, src, bytes);
        return;
    }
    for (std::size_t i = 0; i < bytes; ++i) {
        if (i % 4 == 0) words[i / 4] = 0;
        words[i / 4] |= unsigned(src[i]) << (8 * (i % 4));
    }
}

} // namespace payloadbits

// Appends the bits to `payload`, a whole buffer of words at a time; flush()
// adds the last partial word rounded up to whole bytes with zero bits.
class PayloadOutBitStream : public OutBitStream {
public:
    // `payload` is not owned and must outlive the stream.
    PayloadOutBitStream(unsigned size, std::vector<unsigned char>* payload) : OutBitStream(size), payload_(payload)
    {
    }

    void overflow() override
    {
        append(std::size_t(capacity) * 4);
        next = words.get();
    }

    // Call once, after the last bit.
    void flush() override
    {
        if (next == words.get() + capacity) overflow();
        *next = current;
        append(std::size_t(next - words.get()) * 4 + (bitsUsed + 7) / 8);
    }

private:
    void append(std::size_t bytes)
    {
        const std::size_t old = payload_->size();
        payload_->resize(old + bytes);
        payloadbits::storeWords(payload_->data() + old, words.get(), bytes);
    }

    std::vector<unsigned char>* payload_;
};

// Reads the bits of one payload. Past its end it hands out zero bits, as
// the decoders expect near the end of a code string, and bitsRead() tells
// how many bits were taken in all, those zero bits included.
class PayloadInBitStream : public InBitStream {
public:
    // The `size` bytes at `data` are not owned and must outlive the stream.
    PayloadInBitStream(unsigned words, const unsigned char* data, std::size_t size)
        : InBitStream(words), data_(data), size_(size)
    {
    }

    void underflow() override
    {
        const std::size_t wanted = std::size_t(capacity) * 4;
        const std::size_t got = std::min(wanted, size_ - position_);
        payloadbits::loadWords(words.get(), data_ + position_, got);
        std::memset(reinterpret_cast<unsigned char*>(words.get()) + got, 0, wanted - got);
        position_ += got;
        loadedWords_ += capacity;
        next = words.get();
    }

    // Bits handed out so far, zero bits past the payload included.
    unsigned long long bitsRead() const
    {
        const unsigned long long consumedWords = loadedWords_ - std::size_t(words.get() + capacity - next);
        return consumedWords * 32 - bitsLeft;
    }

    // Bits of the payload itself.
    unsigned long long payloadBits() const { return static_cast<unsigned long long>(size_) * 8; }

private:
    const unsigned char* data_;
    std::size_t size_;
    std::size_t position_ = 0;
    unsigned long long loadedWords_ = 0;
};

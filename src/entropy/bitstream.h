#pragma once
// Word-buffered bit streams: the only path by which coded bits reach or
// leave a byte stream.
//
// External bit order: bit k of the stream is bit (k mod 8) of byte (k div 8).
// Stored 32-bit words hold their first bit in bit 0 and are serialised least
// significant byte first, which gives exactly that order. While in flight
// the bits are kept the other way round (first bit highest) in a 64-bit
// word, so that groups of bits move with one shift; each word is bit
// reversed once on its way in or out.

#include <cassert>
#include <cstddef>
#include <memory>
#include <string>

static_assert(sizeof(unsigned) == 4, "bit stream words are 32-bit unsigned");

// Buffer size, in 32-bit words, of the streams every block codec creates
// (65536 bytes per transfer to or from the byte stream).
constexpr unsigned bitStreamWords = 16384;

// `x` with its 32 bits in the opposite order.
inline unsigned reverseBits32(unsigned x)
{
    x = __builtin_bswap32(x);
    x = ((x >> 4) & 0x0F0F0F0Fu) | ((x & 0x0F0F0F0Fu) << 4);
    x = ((x >> 2) & 0x33333333u) | ((x & 0x33333333u) << 2);
    x = ((x >> 1) & 0x55555555u) | ((x & 0x55555555u) << 1);
    return x;
}

void storeWordBytes(unsigned char* dst, const unsigned* words, std::size_t bytes);

// Describes a word buffer handed to InBitStream::setBuf. `words` must come
// from `new unsigned[count]`: the stream takes it over and releases it.
struct BitBufDesc {
    unsigned* words;
    unsigned count;
};

// Bit writer over an in-memory word buffer. The base class grows its buffer
// when it is full; StreamOutBitStream drains it to a byte stream instead.
// Objects are destroyed through their own type (no virtual destructor).
//
// Pending bits gather in a 64-bit accumulator, newest bit lowest, so a group
// of bits is appended with one shift and OR; each finished word is bit
// reversed once into the stored (first bit lowest) order. A full word stays
// pending until a further bit arrives.
class OutBitStream {
public:
    // Allocates `size` words (std::bad_alloc propagates).
    explicit OutBitStream(unsigned size);

    // Empties the stream; the buffer stays allocated.
    void reset()
    {
        bitsUsed = 0;
        pending = 0;
        next = words.get();
        wordsDrained = 0;
    }

    // Appends one bit; `bit` must be 0 or 1.
    void putBit(unsigned bit)
    {
        assert(bit <= 1);
        pending = (pending << 1) | bit;
        if (++bitsUsed > 32) storeWord();
    }

    // Appends the low `n` bits of `value` (1 <= n <= 31), its bit n-1 first:
    // the same as putBit() from bit n-1 down to bit 0.
    void putBitsHighFirst(unsigned value, unsigned n)
    {
        assert(n >= 1 && n < 32 && (value >> n) == 0);
        putWide(value, n);
    }

    // As putBitsHighFirst, for 0 <= n <= 32 bits of a wider value.
    void putWide(unsigned long long value, unsigned n)
    {
        assert(n <= 32 && (value >> n) == 0);
        pending = (pending << n) | value;
        bitsUsed += n;
        if (bitsUsed > 32) storeWord();
    }

    // Appends `n` zero bits, storing whole zero words without a per-bit loop.
    void putZeros(unsigned long long n) { putRun(n, 0); }

    // Appends `n` one bits.
    void putOnes(unsigned long long n) { putRun(n, ~0ull); }

    // Number of bits written since construction or the last reset().
    unsigned long long bitCount() const
    {
        return 32ull * (wordsDrained + (unsigned long long)(next - words.get())) + bitsUsed;
    }

    // Makes every written bit part of the buffer: the words before `next` in
    // full and the low `bitsUsed` bits of the word at `next`. Does not advance.
    virtual void flush();

    // Called when a word must be stored and every slot is taken. The base
    // version doubles the buffer.
    virtual void overflow();

    // Debugging dump: the bit count, then every bit as a digit, bit 0 of
    // each word first (the text a debugger or a test prints).
    std::string _print() const;

protected:
    // The pending bits (at most 32) in stored order: first bit in bit 0,
    // unused bits zero.
    unsigned partialWord() const
    {
        return reverseBits32(unsigned(pending << (32 - bitsUsed)));
    }

    // Stores the oldest 32 pending bits (bitsUsed > 32), making room first.
    void storeWord()
    {
        bitsUsed -= 32;
        if (next == words.get() + capacity) makeRoom();
        *next++ = reverseBits32(unsigned(pending >> bitsUsed));
    }

    // Calls overflow() and keeps count of the words it drained.
    void makeRoom();

    // Appends n copies of the low bit of `fill` (all zero or all one).
    void putRun(unsigned long long n, unsigned long long fill)
    {
        while (n > 32) {
            putWide(fill & 0xFFFFFFFFull, 32);
            n -= 32;
        }
        if (n > 0) putWide(fill >> (64 - n), unsigned(n));
    }

    unsigned bitsUsed;           // pending bits, 0..32 between calls (32 = full, not stored)
    unsigned long long pending;  // pending bits, newest in bit 0; bits above bitsUsed are stale
    unsigned* next;              // next free slot in words
    std::unique_ptr<unsigned[]> words;
    unsigned capacity;           // buffer size in words
    unsigned long long wordsDrained = 0;  // words handed on by overflow() and removed from the buffer
};

// Bit writer that hands its bytes on as it goes: a whole buffer of words at
// a time, and at flush() the rest, rounded up to whole bytes with zero bits.
// Where they go is the subclass's drain().
class DrainingOutBitStream : public OutBitStream {
public:
    explicit DrainingOutBitStream(unsigned size) : OutBitStream(size) { assert(size > 0); }

    // Drains the whole buffer and empties it.
    void overflow() override
    {
        drain(std::size_t(capacity) * 4);
        next = words.get();
    }

    // Drains the stored words and (bitsUsed + 7) / 8 bytes of the partial
    // word. Called once, after the last bit.
    void flush() override
    {
        if (next == words.get() + capacity) makeRoom();
        *next = partialWord();
        const std::size_t bytes = std::size_t(next - words.get()) * 4 + (bitsUsed + 7) / 8;
        if (bytes != 0) drain(bytes);
    }

protected:
    // Takes the first `bytes` bytes of the buffer (storeWordBytes() gives
    // them in stream order); `bytes` > 0.
    virtual void drain(std::size_t bytes) = 0;
};

// Bit writer that appends its bytes to a byte container in memory
// (std::string or std::vector<unsigned char>).
template <class Bytes>
class AppendingOutBitStream : public DrainingOutBitStream {
public:
    // `out` is not owned and must outlive the bit stream; `size` > 0.
    AppendingOutBitStream(unsigned size, Bytes* out) : DrainingOutBitStream(size), out_(out) {}

private:
    void drain(std::size_t bytes) override
    {
        const std::size_t old = out_->size();
        out_->resize(old + bytes);
        storeWordBytes(reinterpret_cast<unsigned char*>(&(*out_)[0]) + old, words.get(), bytes);
    }

    Bytes* out_;
};

// Bit reader over a word buffer. The base class holds all its words from
// the start; MemoryInBitStream refills from bytes in memory. Reading past the
// words available yields zero bits (never memory outside the buffer).
//
// Unread bits sit in a 64-bit window, next bit highest, so a group of bits
// is taken with one shift; each loaded word is bit reversed once.
class InBitStream {
public:
    // Allocates `size` words; the first getBit() asks underflow() for data.
    explicit InBitStream(unsigned size);

    // Returns the next bit (0 or 1).
    unsigned getBit()
    {
        if (bitsLeft == 0) load();
        const unsigned bit = unsigned(window >> 63);
        window <<= 1;
        --bitsLeft;
        return bit;
    }

    // Reads `n` bits (1 <= n <= 31) and returns them as a number whose bit
    // n-1 is the first one read: the same as n getBit() calls, each shifted
    // in from below.
    unsigned getBitsHighFirst(unsigned n)
    {
        assert(n >= 1 && n < 32);
        if (bitsLeft < n) load();
        const unsigned v = unsigned(window >> (64 - n));
        window <<= n;
        bitsLeft -= n;
        return v;
    }

    // As getBitsHighFirst for 0 <= n <= 31: n = 0 reads nothing and gives 0,
    // without a branch of its own.
    unsigned getBitsHighFirstOrNone(unsigned n)
    {
        assert(n < 32);
        if (bitsLeft < n) load();
        const unsigned v = unsigned((window >> 1) >> (63 - n));
        window <<= n;
        bitsLeft -= n;
        return v;
    }

    // Number of bits handed out since construction or the last setBuf(),
    // counting the zero bits supplied past the end of the data.
    unsigned long long bitsRead() const { return 32 * wordsLoaded - bitsLeft; }

    // Called when every word of the buffer has been consumed. The base
    // version has nothing more to offer.
    virtual void underflow();

    // Replaces the buffer with `desc` (taking ownership, see BitBufDesc) and
    // positions the reader at its first bit. The previous buffer is released.
    void setBuf(const BitBufDesc& desc);

protected:
    // Appends the word at `next` (refilling first when the buffer is used
    // up, zero past the data) below the unread bits; bitsLeft must be < 32.
    void load();

    unsigned bitsLeft;           // unread bits in window, 0..63
    unsigned long long window;   // unread bits from bit 63 down; the rest zero
    unsigned* next;              // next word to load
    std::unique_ptr<unsigned[]> words;
    unsigned capacity;           // buffer size in words
    unsigned long long wordsLoaded = 0;  // words appended to the window, zero words included
};

// Bit reader over bytes in memory, which it refills its buffer from; past
// their end it hands out zero bits, as a decoder expects near the end of a
// code string (bitsRead() counts those too).
class MemoryInBitStream : public InBitStream {
public:
    // The `size` bytes at `data` are not owned and must outlive the stream.
    MemoryInBitStream(unsigned words, const void* data, std::size_t size)
        : InBitStream(words), data_(static_cast<const unsigned char*>(data)), size_(size)
    {
    }

    void underflow() override;

    // Bits of the data itself.
    unsigned long long dataBits() const { return static_cast<unsigned long long>(size_) * 8; }

private:
    const unsigned char* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

// Copies `bytes` bytes of `words` in their external order (each word least
// significant byte first), and back.
void storeWordBytes(unsigned char* dst, const unsigned* words, std::size_t bytes);
void loadWordBytes(unsigned* words, const unsigned char* src, std::size_t bytes);

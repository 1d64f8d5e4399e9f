#include "entropy/bitstream.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr bool hostIsLittleEndian = false;
#else
constexpr bool hostIsLittleEndian = true;
#endif


} // namespace

OutBitStream::OutBitStream(unsigned size)
    : bitsUsed(0), pending(0), next(nullptr), words(new unsigned[size]), capacity(size)
{
    next = words.get();
}

void OutBitStream::makeRoom()
{
    const unsigned long long before = (unsigned long long)(next - words.get());
    overflow();
    wordsDrained += before - (unsigned long long)(next - words.get());
}

void OutBitStream::flush()
{
    if (next == words.get() + capacity) makeRoom();
    *next = partialWord();
}

void OutBitStream::overflow()
{
    // Growing from zero must still make room for the word being stored.
    unsigned newCapacity = capacity ? 2 * capacity : 1;
    std::unique_ptr<unsigned[]> grown(new unsigned[newCapacity]);
    size_t stored = size_t(next - words.get());
    std::copy(words.get(), next, grown.get());
    words = std::move(grown);
    capacity = newCapacity;
    next = words.get() + stored;
}

std::string OutBitStream::_print() const
{
    const size_t stored = size_t(next - words.get());
    std::string text = "number of bits in stream: " + std::to_string(bitsUsed + 32 * stored) + "\nbits:\n";
    for (size_t i = 0; i < stored; ++i)
        for (unsigned b = 0; b < 32; ++b) text += char('0' + ((words[i] >> b) & 1));
    const unsigned current = partialWord();
    for (unsigned b = 0; b < bitsUsed; ++b) text += char('0' + ((current >> b) & 1));
    return text;
}

void storeWordBytes(unsigned char* dst, const unsigned* words, std::size_t bytes)
{
    if (bytes == 0) return;
    if (hostIsLittleEndian) {
        // The in-memory form already is the external form.
        std::memcpy(dst, words, bytes);
        return;
    }
    for (std::size_t i = 0; i < bytes; ++i) dst[i] = static_cast<unsigned char>(words[i / 4] >> (8 * (i % 4)));
}

void loadWordBytes(unsigned* words, const unsigned char* src, std::size_t bytes)
{
    if (bytes == 0) return;
    if (hostIsLittleEndian) {
        std::memcpy(words, src, bytes);
        return;
    }
    for (std::size_t i = 0; i < bytes; ++i) {
        if (i % 4 == 0) words[i / 4] = 0;
        words[i / 4] |= unsigned(src[i]) << (8 * (i % 4));
    }
}

InBitStream::InBitStream(unsigned size)
    : bitsLeft(0), window(0), next(nullptr), words(new unsigned[size]()), capacity(size)
{
    next = words.get() + capacity;
}

void InBitStream::load()
{
    assert(bitsLeft < 32);
    if (next == words.get() + capacity) underflow();
    // Past the data the word is zero rather than memory past the buffer.
    const unsigned w = next == words.get() + capacity ? 0u : *next++;
    window |= (unsigned long long)reverseBits32(w) << (32 - bitsLeft);
    bitsLeft += 32;
    ++wordsLoaded;
}

void InBitStream::underflow() {}

void InBitStream::setBuf(const BitBufDesc& desc)
{
    words.reset(desc.words);
    capacity = desc.count;
    next = words.get();
    bitsLeft = 0;
    window = 0;
    wordsLoaded = 0;
}

void MemoryInBitStream::underflow()
{
    const std::size_t wanted = std::size_t(capacity) * 4;
    const std::size_t got = std::min(wanted, size_ - position_);
    loadWordBytes(words.get(), data_ + position_, got);
    std::memset(reinterpret_cast<unsigned char*>(words.get()) + got, 0, wanted - got);
    position_ += got;
    next = words.get();
}

#include "entropy/bitstream.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <vector>

namespace {

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr bool hostIsLittleEndian = false;
#else
constexpr bool hostIsLittleEndian = true;
#endif

unsigned byteSwap(unsigned w)
{
    return (w >> 24) | ((w >> 8) & 0xFF00u) | ((w << 8) & 0xFF0000u) | (w << 24);
}

// Writes `count` words followed by `tailBytes` low bytes of the word after
// them, each word least significant byte first, in one write.
void writeWords(std::ostream& os, const unsigned* words, size_t count, unsigned tailBytes)
{
    size_t bytes = 4 * count + tailBytes;
    if (hostIsLittleEndian) {
        // The in-memory form already is the external form.
        os.write(reinterpret_cast<const char*>(words), std::streamsize(bytes));
        return;
    }
    std::vector<unsigned> swapped(count + (tailBytes ? 1 : 0));
    for (size_t i = 0; i < swapped.size(); ++i) swapped[i] = byteSwap(words[i]);
    os.write(reinterpret_cast<const char*>(swapped.data()), std::streamsize(bytes));
}

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

void OutBitStream::_print() const
{
    size_t stored = size_t(next - words.get());
    std::cout << "number of bits in stream: " << bitsUsed + 32 * stored << std::endl;
    std::cout << "bits:" << std::endl;
    for (size_t i = 0; i < stored; ++i)
        for (unsigned b = 0; b < 32; ++b) std::cout << ((words[i] >> b) & 1);
    const unsigned current = partialWord();
    for (unsigned b = 0; b < bitsUsed; ++b) std::cout << ((current >> b) & 1);
}

StreamOutBitStream::StreamOutBitStream(unsigned size, std::ostream* os)
    : OutBitStream(size), os(os)
{
    // Draining an empty buffer would leave no slot for the word to store.
    assert(size > 0);
}

void StreamOutBitStream::overflow()
{
    assert(os != NULL);
    writeWords(*os, words.get(), capacity, 0);
    next = words.get();
}

void StreamOutBitStream::flush()
{
    assert(os != NULL);
    if (next == words.get() + capacity) makeRoom();
    *next = partialWord();
    writeWords(*os, words.get(), size_t(next - words.get()), (bitsUsed + 7) / 8);
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

StreamInBitStream::StreamInBitStream(unsigned size, std::istream* is)
    : InBitStream(size), is(is)
{
}

void StreamInBitStream::underflow()
{
    assert(is != NULL);
    assert(is->good());
    char* bytes = reinterpret_cast<char*>(words.get());
    std::streamsize wanted = std::streamsize(4) * capacity;
    is->read(bytes, wanted);
    std::streamsize got = is->gcount();
    if (got < wanted) {
        // End of the source: not an error here. The decoder never depends on
        // bits past the coded data, so they read as zero, and the source
        // stays usable for the seek that follows the block.
        is->clear();
        std::memset(bytes + got, 0, size_t(wanted - got));
    }
    if (!hostIsLittleEndian)
        for (unsigned i = 0; i < capacity; ++i) words[i] = byteSwap(words[i]);
    next = words.get();
}

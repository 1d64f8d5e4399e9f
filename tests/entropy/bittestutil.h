#pragma once
// Helpers shared by the entropy tests: bit-string views of written streams
// and byte sinks/sources that record how they are called.

#include "entropy/bitstream.h"

#include <string>
#include <vector>

// The stream's bits in order as '0'/'1' digits, `nbits` of them.
inline std::string bitString(const std::string& bytes, size_t nbits)
{
    std::string s;
    for (size_t k = 0; k < nbits; ++k) s += char('0' + ((bytes[k / 8] >> (k % 8)) & 1));
    return s;
}

// An in-memory writer whose written bits can be examined.
class OutProbe : public OutBitStream {
public:
    using OutBitStream::OutBitStream;
    size_t bitCount() const { return size_t(next - words.get()) * 32 + bitsUsed; }
    std::string bits() const
    {
        std::string s;
        for (const unsigned* w = words.get(); w != next; ++w)
            for (unsigned b = 0; b < 32; ++b) s += char('0' + ((*w >> b) & 1));
        const unsigned current = partialWord();
        for (unsigned b = 0; b < bitsUsed; ++b) s += char('0' + ((current >> b) & 1));
        return s;
    }
};



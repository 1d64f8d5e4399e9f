#include "transform/ibwt.h"

#include <memory>
#include <string>

#include "diag/exception.h"

template <class CharT>
void ibwt(CharT* out, const CharT* in, unsigned size, unsigned primary)
{
    if (size == 0) return;
    // The primary index comes straight from a compressed file. Every later
    // access is in bounds once it is below size (see the walk below).
    require(primary < size, "primary index " + std::to_string(primary) +
                                " is outside a block of " + std::to_string(size) + " bytes");

    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(in);
    unsigned counts[256] = {};
    std::unique_ptr<unsigned[]> occurrence(new unsigned[size]);

    // The primary row's byte stands for the end of the block: the one-byte
    // suffix made of the block's last byte c is the least suffix starting
    // with c, so that row must take the first rank of bucket c. Counting it
    // first gives it occurrence 0; all other rows follow in input order.
    ++counts[bytes[primary]];
    for (unsigned i = 0; i < primary; ++i) occurrence[i] = counts[bytes[i]]++;
    occurrence[primary] = 0;
    for (unsigned i = primary + 1; i < size; ++i) occurrence[i] = counts[bytes[i]]++;

    // counts[c] becomes the first row whose suffix begins with c.
    unsigned sum = 0;
    for (unsigned c = 0; c < 256; ++c) {
        const unsigned n = counts[c];
        counts[c] = sum;
        sum += n;
    }

    // Walk backwards through the block, starting at the row of its last
    // (one-byte) suffix. occurrence[p] is below the count of byte in[p], so
    // counts[c] + occurrence[p] < counts[c + 1] <= size: p never leaves the
    // block.
    out[size - 1] = in[primary];
    unsigned p = counts[bytes[primary]];
    for (unsigned k = size - 1; k-- > 0;) {
        const unsigned char ch = bytes[p];
        out[k] = static_cast<CharT>(ch);
        p = counts[ch] + occurrence[p];
    }
}

template void ibwt<char>(char* out, const char* in, unsigned size, unsigned primary);

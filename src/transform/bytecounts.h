#pragma once
// Byte histograms for the transforms.

// Adds the number of each byte value among the n bytes at `bytes` to
// counts[value]. Four tables, so that runs of one value (common in text and
// after a BWT) do not make every increment wait for the last.
template <class Count>
void countBytes(const unsigned char* bytes, Count n, Count* counts)
{
    Count part[4][256] = {};
    Count i = 0;
    for (; n - i >= 4; i += 4) {
        ++part[0][bytes[i]];
        ++part[1][bytes[i + 1]];
        ++part[2][bytes[i + 2]];
        ++part[3][bytes[i + 3]];
    }
    for (; i < n; ++i) ++part[0][bytes[i]];
    for (unsigned c = 0; c < 256; ++c) counts[c] += part[0][c] + part[1][c] + part[2][c] + part[3][c];
}

#pragma once
// Linear-time suffix sorting by induced sorting (SA-IS), the sort behind
// bwt(). It gives exactly the order of suffixArray() in bwt.h, which stays
// as the slower reference.

#include <memory>

// Returns the suffix array of the bytes in [begin, end): entry r is the start
// position of the suffix of rank r. Bytes compare as unsigned values 0-255
// and the end of the range compares lower than every byte, so a proper
// prefix sorts first. Null for an empty range. Requires fewer than 2^30
// bytes. Linear time. Working memory besides the 4n-byte result, which also
// holds every reduced problem: at most n/4 bytes of LMS bit sets and n/4 of
// name-rank bit sets with their counts, and the bucket table of a reduced
// problem when it does not fit into the unused part of the result (at most
// 2n bytes; none for the corpora and random bytes). Recursion depth is at
// most log2(n). With `threads` > 1 and at least 1 MiB of text, the passes
// that allow it are shared with one helper thread; the result is the same.
// Instantiated for IndexT = unsigned.
template <class IndexT>
std::unique_ptr<IndexT[]> suffixArrayFast(const char* begin, const char* end, unsigned threads = 1);

// Writes the Burrows-Wheeler transform of the n bytes at `in` to `out` and
// returns the primary index: the byte before each suffix in the order above,
// the last byte standing in for suffix 0, whose rank is returned. Gives
// exactly what bwt() gives from suffixArrayFast(), without gathering the
// bytes from the finished order: the last inducing scans write them. `out`
// may be `in`; it is written only after the sort. n == 0 returns 0 and
// touches nothing. Requires n < 2^30. Working memory as above: 4n bytes for
// the order plus the bit sets and, rarely, a reduced problem's table.
// Allocation failures propagate with `out` untouched. `threads` as above.
// A non-null `byteCounts` receives the number of each byte value among the
// n (those of the transform too), which the sort counts anyway.
unsigned bwtFromSais(const unsigned char* in, unsigned char* out, unsigned n, unsigned threads = 1,
                     unsigned* byteCounts = nullptr);

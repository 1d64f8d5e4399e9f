#pragma once
// Linear-time suffix sorting by induced sorting (SA-IS), the sort behind
// bwt(). It gives exactly the order of suffixArray() in bwt.h, which stays
// as the slower reference.

#include <memory>

// Returns the suffix array of the bytes in [begin, end): entry r is the start
// position of the suffix of rank r. Bytes compare as unsigned values 0-255
// and the end of the range compares lower than every byte, so a proper
// prefix sorts first. Null for an empty range. Requires fewer than 2^31
// bytes. Linear time. Working memory besides the 4n-byte result, which also
// holds every reduced problem: n/4 bytes of LMS bit sets at most, and a
// table for the alphabet of a reduced problem when it does not fit into the
// unused part of the result (at most 2n bytes, usually none). Recursion
// depth is at most log2(n). Instantiated for IndexT = unsigned.
template <class IndexT>
std::unique_ptr<IndexT[]> suffixArrayFast(const char* begin, const char* end);

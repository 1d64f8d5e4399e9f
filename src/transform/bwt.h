#pragma once
// Suffix sorting and the forward Burrows-Wheeler transform of one block.
//
// Suffix order: suffixes (not cyclic rotations) are compared byte by byte as
// unsigned values 0-255, and the end of the block compares lower than every
// byte, so a proper prefix sorts before the longer suffix. The block's
// predecessor-less suffix 0 is represented in the output by the block's last
// byte, and its rank is the primary index.

#include <memory>

// Returns the suffix array of the bytes in [begin, end): entry r is the start
// position of the suffix of rank r (rank 0 = least); null for an empty range.
// Sorts by prefix doubling in 8(n+1) bytes of working memory plus the
// n-entry result. bwt() uses the faster sort of sais.h, which gives the same
// order; this one is its reference in the tests.
// Instantiated for IndexT = unsigned.
template <class IndexT>
std::unique_ptr<IndexT[]> suffixArray(const char* begin, const char* end);

// Shown the suffix array of a block before the block is transformed.
class SuffixArrayListener {
public:
    virtual ~SuffixArrayListener() = default;
    // `data`: the block, `sa`: its suffix array; both `size` entries.
    virtual void suffixArraySorted(const char* data, unsigned size, const unsigned* sa) = 0;
};

// Replaces the `size` bytes at `data` by their Burrows-Wheeler transform (the
// byte preceding each suffix, in suffix order) and returns the primary index,
// the rank of the whole block among its suffixes. size 0 returns 0 and
// touches nothing. Without a listener the sort writes the transform
// directly (bwtFromSais); a `listener` is shown the suffix array first. Allocation
// failures propagate; the block is then left untransformed. With `threads`
// > 1 the sort of a long block uses a second thread; the result is the same.
// A non-null `byteCounts` receives the number of each byte value in the
// block (and so in its transform), 256 entries.
// Instantiated for CharT = char, IndexT = unsigned.
template <class CharT, class IndexT>
IndexT bwt(CharT* data, IndexT size, SuffixArrayListener* listener = nullptr, unsigned threads = 1,
           unsigned* byteCounts = nullptr);

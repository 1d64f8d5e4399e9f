#pragma once
// Inverse Burrows-Wheeler transform: undoes bwt() of bwt.h.

#include <cstdint>

// Writes to `out` the `size` bytes whose transform is `in` with primary index
// `primary`. `out` and `in` must not overlap. size 0 writes nothing.
// Throws Exception for a block that no forward transform produces: when
// primary >= size, before anything is written to `out`, and when the walk
// from the primary row comes back to its start before visiting all `size`
// rows (then `out` may be partly written). Nothing is read or written outside
// the two buffers, whatever the input. Blocks below 2^24 bytes go through
// ibwtChains() with a start count chosen from the size, larger ones through
// ibwtPlain(); both give the same bytes and the same verdict (and message)
// for every input. Instantiated for CharT = char.
// With `threads` > 1 the walks of ibwtChains() are split between that many
// threads (one while the calling thread's CoreGate is closed); the result
// is the same.
template <class CharT>
void ibwt(CharT* out, const CharT* in, unsigned size, unsigned primary, unsigned threads = 1);

// As ibwt(), for a transform held in the last `size` bytes of `scratch`,
// 4 * size bytes that serve as the working memory (garbage afterwards): the
// inverse then needs about 4 * size bytes besides `out`, not 5 * size.
template <class CharT>
void ibwtFromScratch(CharT* out, std::uint32_t* scratch, unsigned size, unsigned primary, unsigned threads = 1);

// The plain method, and the reference for ibwt() in the tests: one walk back
// through the rows, one dependent memory access after another. Working
// memory 4 * size bytes. Same contract as ibwt().
template <class CharT>
void ibwtPlain(CharT* out, const CharT* in, unsigned size, unsigned primary);

// Walks from `starts` rows at once (at least 1; fewer when they coincide) so
// that the memory accesses of the walks overlap, then joins their pieces.
// Requires size < 2^24. Working memory about 4 * size bytes plus 1 KiB per
// start. Same contract and result as ibwtPlain().
// `threads` share the walks (each takes a run of the start rows).
template <class CharT>
void ibwtChains(CharT* out, const CharT* in, unsigned size, unsigned primary, unsigned starts, unsigned threads = 1);

#pragma once
// Inverse Burrows-Wheeler transform: undoes bwt() of bwt.h.

// Writes to `out` the `size` bytes whose transform is `in` with primary index
// `primary`. `out` and `in` must not overlap. size 0 writes nothing.
// Throws Exception when primary >= size (a corrupt block), before anything is
// written to `out`; any other `in` of `size` bytes is restored without
// reading or writing outside the two buffers. Instantiated for CharT = char.
template <class CharT>
void ibwt(CharT* out, const CharT* in, unsigned size, unsigned primary);

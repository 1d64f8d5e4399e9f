#pragma once
// Distance-coding block codec (method 5): BWT, distance coding, adaptive
// arithmetic coding of the values.
//
// Payload, one bit stream: the primary index (32 bits), the number of
// distance-coding values (32 bits), then the arithmetic code of the values.

#include <istream>
#include <ostream>

// Writes the payload of the `dataSize` bytes at `data` to `out` at its
// current position and leaves `out` at the payload's end. `data` is
// overwritten by its BWT (working storage). dataSize > 0.
void packBlockDCAdaptive(std::ostream& out, char* data, unsigned dataSize);

// Reads a payload from `in` at its current position and writes the
// `dataSize` restored bytes to `data`. Throws Exception on corrupt payloads
// without writing outside `data`. May read ahead past the payload end.
void unpackBlockDCAdaptive(std::istream& in, char* data, unsigned dataSize);

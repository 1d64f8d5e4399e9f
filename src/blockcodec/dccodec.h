#pragma once
// Distance-coding block codec (method 5): BWT, distance coding, adaptive
// arithmetic coding of the values.

#include <istream>
#include <ostream>

// Writes the payload of the `size` bytes at `data` to `out` at its current
// position. `data` is overwritten (working storage). size > 0.
void packBlockDCAdaptive(std::ostream& out, char* data, unsigned size);

// Reads a payload from `in` at its current position and writes the `size`
// restored bytes to `data`. Throws Exception on corrupt payloads. May read
// ahead past the payload end.
void unpackBlockDCAdaptive(std::istream& in, char* data, unsigned size);

#pragma once
// Move-to-front block codecs (methods 1 and 2: without / with zero-run
// coding, chosen by useRLE0), with an adaptive or a static arithmetic coder.

#include <istream>
#include <ostream>

// Each pack function writes the payload of the `dataSize` bytes at `data` to
// `out` at its current position; `data` is overwritten (working storage).
// Each unpack function reads a payload from `in` at its current position
// and writes the `dataSize` restored bytes to `data`, throwing Exception on
// corrupt payloads; it may read ahead past the payload end.
void packBlockMTFAdaptive(std::ostream& out, char* data, unsigned dataSize);
void unpackBlockMTFAdaptive(std::istream& in, char* data, unsigned dataSize);
void packBlockMTFStatic(std::ostream& out, char* data, unsigned dataSize);
void unpackBlockMTFStatic(std::istream& in, char* data, unsigned dataSize);

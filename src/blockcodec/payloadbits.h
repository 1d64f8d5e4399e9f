#pragma once
// The bit streams of a block payload in memory: the writer appends to the
// payload's byte vector, the reader takes exactly one payload's bytes.

#include "entropy/bitstream.h"

#include <vector>

using PayloadOutBitStream = AppendingOutBitStream<std::vector<unsigned char>>;
using PayloadInBitStream = MemoryInBitStream;

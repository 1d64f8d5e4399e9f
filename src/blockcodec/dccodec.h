#pragma once
// Distance-coding block codec (method 5): BWT, distance coding, adaptive
// arithmetic coding of the values. The same as encodeBlock/decodeBlock of
// blockcodec.h with method 5 and the adaptive coder.
//
// Payload, one bit stream: the primary index (32 bits), the number of
// distance-coding values (32 bits), then the arithmetic code of the values.

#include "blockcodec/observer.h"

#include <cstddef>
#include <vector>

// Appends the payload of the `dataSize` bytes at `data` to `payload`. `data`
// is overwritten by its BWT (working storage). dataSize > 0.
void packBlockDCAdaptive(char* data, unsigned dataSize, std::vector<unsigned char>& payload,
                         BlockObserver* observer = nullptr);

// Decodes the payload of `payloadSize` bytes into the `dataSize` bytes at
// `data`. Throws Exception on corrupt payloads without writing outside
// `data`.
void unpackBlockDCAdaptive(const unsigned char* payload, std::size_t payloadSize, char* data, unsigned dataSize,
                           BlockObserver* observer = nullptr);

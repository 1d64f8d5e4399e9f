#pragma once
// Move-to-front block codecs (methods 1 and 2: without / with zero-run
// coding), with an adaptive or a static arithmetic coder. The same as
// encodeBlock/decodeBlock of blockcodec.h with those settings.

#include "blockcodec/observer.h"

#include <cstddef>
#include <vector>

// Each pack function appends the payload of the `dataSize` bytes at `data`
// to `payload`; `data` is overwritten (working storage). Each unpack
// function decodes a payload of `payloadSize` bytes into the `dataSize`
// bytes at `data`, throwing Exception on corrupt payloads.
void packBlockMTFAdaptive(char* data, unsigned dataSize, bool zeroRuns, std::vector<unsigned char>& payload,
                          BlockObserver* observer = nullptr);
void unpackBlockMTFAdaptive(const unsigned char* payload, std::size_t payloadSize, char* data, unsigned dataSize,
                            bool zeroRuns, BlockObserver* observer = nullptr);
void packBlockMTFStatic(char* data, unsigned dataSize, bool zeroRuns, std::vector<unsigned char>& payload,
                        BlockObserver* observer = nullptr);
void unpackBlockMTFStatic(const unsigned char* payload, std::size_t payloadSize, char* data, unsigned dataSize,
                          bool zeroRuns, BlockObserver* observer = nullptr);

#pragma once
// One block in, one payload out, and back: the block codecs behind one pair
// of entry points. Settings are passed in; nothing here reads a global,
// touches a file or prints. Diagnostics go to an optional BlockObserver.

#include <cstddef>
#include <vector>

class BlockObserver;

// Second-stage method codes, as stored in every block header.
constexpr unsigned char methodMTF = 1;      // move-to-front, no zero-run coding
constexpr unsigned char methodMTFRLE0 = 2;  // move-to-front with zero-run coding
constexpr unsigned char methodDC = 5;       // distance coding (adaptive coder only)

// Coder type codes.
constexpr unsigned char coderStatic = 0;
constexpr unsigned char coderAdaptive = 1;

// Largest block the writer makes and the reader accepts.
constexpr unsigned maxBlockSize = 10485760;

// How a block is coded; the two bytes its header carries.
struct BlockSettings {
    unsigned char method = methodDC;
    unsigned char coderType = coderAdaptive;
};

// True for the pairs a codec exists for: methods 1 and 2 with either coder,
// method 5 with the adaptive coder.
bool isSupported(const BlockSettings& settings);

// Largest payload the encoder can write for a block of `size` bytes with any
// supported settings. The reader refuses a larger one before allocating.
std::size_t maxPayloadSize(unsigned size);

// Appends to `payload` the payload of the `size` bytes at `data`
// (1 <= size <= maxBlockSize). `data` is overwritten (working storage).
// Throws Exception for unsupported settings; allocation failures propagate.
// With `threads` > 1 the suffix sort may share its work between that many
// threads; the payload is the same.
void encodeBlock(const BlockSettings& settings, char* data, unsigned size, std::vector<unsigned char>& payload,
                 BlockObserver* observer = nullptr, unsigned threads = 1);

// As encodeBlock(), leaving the payload where it cost least: its first n
// bytes, n being the value returned, are the first n bytes at `data`, and
// the rest is appended to `tail`. A payload as large as its block then needs
// no second block-sized buffer, and is not copied.
std::size_t encodeBlockInPlace(const BlockSettings& settings, char* data, unsigned size,
                               std::vector<unsigned char>& tail, BlockObserver* observer = nullptr,
                               unsigned threads = 1);

// Decodes the `payloadSize` bytes at `payload` (exactly one payload, nothing
// after it) into the `size` bytes at `out`. Throws Exception on unsupported
// settings and on a corrupt payload, without writing outside `out`; `out`
// may then hold anything. With `threads` > 1 stages of the block overlap or
// share their work between that many threads; the result is the same.
void decodeBlock(const BlockSettings& settings, const unsigned char* payload, std::size_t payloadSize, char* out,
                 unsigned size, BlockObserver* observer = nullptr, unsigned threads = 1);

// As decodeBlock(), for a payload the caller needs no longer: it is emptied
// and its memory returned once decoded, before the inverse BWT takes its
// share, so a block's peak memory does not include it.
void decodeBlockReleasing(const BlockSettings& settings, std::vector<unsigned char>& payload, char* out, unsigned size,
                          BlockObserver* observer = nullptr, unsigned threads = 1);

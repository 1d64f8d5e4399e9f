#pragma once
// Layout of a compressed file.
//
//   file header, 12 bytes:  magic "VARN_Q27" | uncompressed size (u32)
//   then per block, no padding anywhere:
//   block header, 18 bytes: "BLCK" | payload size (u32) | block size (u32) |
//                           method (u8) | coder type (u8) | reserved (u32, 0)
//   payload:                payload size bytes, one bit stream of the codec
//
// All u32 fields are little-endian. There is no block count: the last block
// is the one that brings the block sizes up to the uncompressed size.

#include "blockcodec/blockcodec.h"

#include <cstring>

constexpr char fileMagic[8] = {'V', 'A', 'R', 'N', '_', 'Q', '2', '7'};
constexpr unsigned fileHeaderSize = 12;
constexpr char blockId[4] = {'B', 'L', 'C', 'K'};
constexpr unsigned blockHeaderSize = 18;

inline void storeLE32(unsigned char* p, unsigned v)
{
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

inline unsigned loadLE32(const unsigned char* p)
{
    return unsigned(p[0]) | unsigned(p[1]) << 8 | unsigned(p[2]) << 16 | unsigned(p[3]) << 24;
}

// The header in front of every block.
struct BlockHeader {
    char id[4] = {blockId[0], blockId[1], blockId[2], blockId[3]};
    unsigned payloadSize = 0;  // payload bytes after this header
    unsigned blockSize = 0;    // uncompressed bytes of the block, at least 1
    unsigned char method = 0;
    unsigned char coderType = 0;
    unsigned reserved = 0;     // written as 0, ignored on reading

    // Byte image of the header.
    void store(unsigned char* p) const
    {
        std::memcpy(p, id, 4);
        storeLE32(p + 4, payloadSize);
        storeLE32(p + 8, blockSize);
        p[12] = method;
        p[13] = coderType;
        storeLE32(p + 14, reserved);
    }

    // Reads the header from its byte image; nothing is validated here.
    void load(const unsigned char* p)
    {
        std::memcpy(id, p, 4);
        payloadSize = loadLE32(p + 4);
        blockSize = loadLE32(p + 8);
        method = p[12];
        coderType = p[13];
        reserved = loadLE32(p + 14);
    }
};

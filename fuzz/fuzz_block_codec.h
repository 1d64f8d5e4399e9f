#pragma once
// Shared body of the three block-decoder targets. Input layout: a 32-bit
// little-endian control word, then the payload. The block size is the low 18
// bits of the control word shifted right by bits 18-21, plus one: any size
// from 1 to 262144 is reachable, and small blocks, which decode fast, are
// common. Bit 31 gives the zero-run setting of the move-to-front decoders.

#include "fuzz_common.h"

#include "blockcodec/blockcodec.h"
#include "diag/exception.h"

#include <memory>

namespace fuzz {

// `coderType` picks the codec; for the move-to-front ones bit 31 of the
// control word picks method 1 or 2.
inline int runBlockDecoder(bool distanceCoding, unsigned char coderType, const uint8_t* data, size_t size)
{
    if (size < 4) return 0;
    const uint32_t control = readLE32(data);
    const unsigned blockSize = ((control & 0x3FFFFu) >> ((control >> 18) & 15)) + 1;
    BlockSettings settings{methodDC, coderType};
    if (!distanceCoding) settings.method = (control >> 31) != 0 ? methodMTFRLE0 : methodMTF;
    // Exactly blockSize bytes, so that AddressSanitizer sees any write past them.
    std::unique_ptr<char[]> block(new char[blockSize]);
    try {
        decodeBlock(settings, data + 4, size - 4, block.get(), blockSize);
    } catch (const Exception&) {
        // Rejected payload: a correct outcome.
    }
    return 0;
}

}  // namespace fuzz

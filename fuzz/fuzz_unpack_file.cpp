// Whole extraction path: the input is written to a file and extracted with
// unpackFile, exactly as "varn-q27 -e" does. Any input must either extract or
// end in an Exception.

#include "fuzz_common.h"

#include "container/container.h"
#include "diag/exception.h"

// Files that announce more than this many bytes are skipped: decoding a
// large block of garbage is slow and adds no coverage, and the size checks
// against the header are exercised by the corruption battery instead.
static const uint32_t maxAnnouncedSize = 1u << 18;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size >= 12 && fuzz::readLE32(data + 8) > maxAnnouncedSize) return 0;
    static const std::string in = fuzz::scratchPath("in.varnQ27p");
    static const std::string out = fuzz::scratchPath("out");
    fuzz::writeFile(in, data, size);
    try {
        // Odd sizes extract on two threads, even ones on one.
        unpackFile(in.c_str(), out.c_str(), nullptr, false, (size & 1) != 0 ? 2 : 1);
    } catch (const Exception&) {
        // A rejected file is a correct outcome; anything else propagates.
    }
    return 0;
}

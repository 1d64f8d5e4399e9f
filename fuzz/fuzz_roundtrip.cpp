// Compression round trip through the file drivers: arbitrary data is
// compressed with packFile by the method the first byte chooses, in blocks
// of the size the second byte chooses, extracted with unpackFile and
// compared byte for byte. A difference or any exception aborts.

#include "fuzz_common.h"

#include "container/container.h"
#include "diag/exception.h"
#include "diag/options.h"

#include <cstring>

namespace {

// The five method and coder pairs a file can carry.
void chooseMethod(unsigned which)
{
    resetOptions();
    switch (which % 5) {
    case 0: useDC = true; adaptiveAC = true; break;
    case 1: useMTF0 = true; useRLE0 = true; adaptiveAC = true; break;
    case 2: useMTF0 = true; adaptiveAC = true; break;
    case 3: useMTF0 = true; useRLE0 = true; staticAC = true; break;
    default: useMTF0 = true; staticAC = true; break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3) return 0;  // the two control bytes and at least one data byte
    chooseMethod(data[0]);
    // 0 means one block for the whole input; otherwise small blocks, so that
    // several blocks and a short last block are common.
    blockSize = data[1];
    const uint8_t* body = data + 2;
    const size_t bodySize = size - 2;

    static const std::string original = fuzz::scratchPath("original");
    static const std::string packed = fuzz::scratchPath("original.varnQ27p");
    static const std::string restored = fuzz::scratchPath("restored");
    fuzz::writeFile(original, body, bodySize);
    try {
        packFile(original.c_str(), packed.c_str());
        unpackFile(packed.c_str(), restored.c_str());
    } catch (const Exception& e) {
        std::fprintf(stderr, "round trip threw: %s\n", e.what());
        std::abort();
    }
    const std::string back = fuzz::readFile(restored);
    if (back.size() != bodySize || std::memcmp(back.data(), body, bodySize) != 0) {
        std::fprintf(stderr, "round trip changed the data (%zu bytes in, %zu out)\n", bodySize, back.size());
        std::abort();
    }
    return 0;
}

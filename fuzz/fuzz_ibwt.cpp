// Inverse BWT over arbitrary transformed data and primary index. Input
// layout: a 32-bit little-endian primary word, then the transformed block.
// With bit 31 of the word clear the primary index is reduced into 0 .. size,
// so that both valid indexes and the first invalid one are common; with it
// set the word is passed as it is.

#include "fuzz_common.h"

#include "diag/exception.h"
#include "transform/ibwt.h"

#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4) return 0;
    const uint32_t word = fuzz::readLE32(data);
    const unsigned n = static_cast<unsigned>(size - 4);
    const unsigned primary = (word >> 31) ? word : word % (n + 1);
    // Separate exact-size copies, so AddressSanitizer sees any access past them.
    std::unique_ptr<char[]> in(new char[n]);
    std::unique_ptr<char[]> out(new char[n]);
    std::copy(data + 4, data + size, in.get());
    try {
        ibwt<char>(out.get(), in.get(), n, primary);
    } catch (const Exception&) {
        // Rejected index: a correct outcome.
    }
    return 0;
}

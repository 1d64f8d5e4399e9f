// The C library's decompression of arbitrary bytes, into a buffer smaller
// than most announced sizes and into one large enough for the inputs the
// corpus holds. Every call must return a size or an error code; a size must
// be exactly what the header announced, an error one of the known codes.

#include "fuzz_common.h"

#include "api/varnq27.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static std::vector<unsigned char> small(64), large(1 << 18);
    const unsigned long long announced = varnq27_decompressed_size(data, size);
    for (std::vector<unsigned char>* dst : {&small, &large}) {
        const size_t r = varnq27_decompress(dst->data(), dst->size(), data, size);
        if (!varnq27_is_error(r) && r != announced) std::abort();
        const varnq27_error_code code = varnq27_get_error_code(r);
        if (varnq27_is_error(r) && (code < VARNQ27_ERROR_GENERIC || code > VARNQ27_ERROR_MEMORY)) std::abort();
    }
    return 0;
}

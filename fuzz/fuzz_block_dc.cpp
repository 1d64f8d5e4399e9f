// Block decoder (dc) fed directly with an arbitrary payload and a
// block size taken from the input (layout in fuzz_block_codec.h).

#include "fuzz_block_codec.h"


extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return fuzz::runBlockDecoder(true, coderAdaptive, data, size);
}

// Inverse BWT over arbitrary transformed data and primary index, checked
// differentially: the multi-walk ibwtChains with a start count taken from the
// input must reject the same inputs as the single walk ibwtPlain and give the
// same bytes on all others, corrupt transforms included. Input layout: a
// 32-bit little-endian primary word, one byte giving the start count minus
// one, then the transformed block. With bit 31 of the primary word clear the
// index is reduced into 0 .. size, so that both valid indexes and the first
// invalid one are common; with it set the word is passed as it is.

#include "fuzz_common.h"

#include "diag/exception.h"
#include "transform/ibwt.h"

#include <cstring>
#include <memory>

namespace {

// Runs one inverse into an exact-size buffer (so AddressSanitizer sees any
// access past it); false when the input was rejected.
template <class Inverse>
bool restore(Inverse inverse, std::unique_ptr<char[]>& out, const char* in, unsigned n)
{
    out.reset(new char[n]);
    try {
        inverse(out.get(), in);
        return true;
    } catch (const Exception&) {
        return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 5) return 0;
    const uint32_t word = fuzz::readLE32(data);
    const unsigned starts = data[4] + 1u;
    const unsigned n = static_cast<unsigned>(size - 5);
    const unsigned primary = (word >> 31) ? word : word % (n + 1);
    std::unique_ptr<char[]> in(new char[n]);
    std::copy(data + 5, data + size, in.get());

    std::unique_ptr<char[]> plain, chains;
    const bool plainOk = restore([&](char* out, const char* src) { ibwtPlain<char>(out, src, n, primary); }, plain,
                                 in.get(), n);
    const bool chainsOk = restore(
        [&](char* out, const char* src) { ibwtChains<char>(out, src, n, primary, starts); }, chains, in.get(), n);
    if (plainOk != chainsOk || (plainOk && std::memcmp(plain.get(), chains.get(), n) != 0)) {
        std::fprintf(stderr, "ibwtChains (%u starts) and ibwtPlain disagree on %u bytes, primary %u\n", starts, n,
                     primary);
        std::abort();
    }
    return 0;
}

// Compression round trip through the container: arbitrary data is
// compressed in memory by the method and thread count the first byte
// chooses, in blocks of the size the second byte chooses, extracted again and compared byte for
// byte. A difference or any exception aborts.

#include "fuzz_common.h"

#include "container/container.h"
#include "diag/exception.h"

#include <cstring>

namespace {

// The five method and coder pairs a file can carry.
BlockSettings chooseMethod(unsigned which)
{
    static const BlockSettings pairs[5] = {{methodDC, coderAdaptive},
                                           {methodMTFRLE0, coderAdaptive},
                                           {methodMTF, coderAdaptive},
                                           {methodMTFRLE0, coderStatic},
                                           {methodMTF, coderStatic}};
    return pairs[which % 5];
}

class StringSink : public ByteSink {
public:
    void write(const void* src, size_t n) override { text.append(static_cast<const char*>(src), n); }
    std::string text;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3) return 0;  // the two control bytes and at least one data byte
    PackSettings settings;
    settings.block = chooseMethod(data[0]);
    // 0 means one block for the whole input; otherwise small blocks, so that
    // several blocks and a short last block are common.
    settings.blockSize = data[1];
    // One, two or three threads, from the method byte's upper bits.
    settings.threads = 1 + (data[0] / 5) % 3;
    const uint8_t* body = data + 2;
    const size_t bodySize = size - 2;
    StringSink packed, restored;
    try {
        MemorySource original(body, bodySize);
        compressStream(original, static_cast<unsigned>(bodySize), packed, settings, "original");
        MemorySource compressed(packed.text.data(), packed.text.size());
        extractStream(compressed, restored, "packed", nullptr, settings.threads);
    } catch (const Exception& e) {
        std::fprintf(stderr, "round trip threw: %s\n", e.what());
        std::abort();
    }
    const std::string& back = restored.text;
    if (back.size() != bodySize || std::memcmp(back.data(), body, bodySize) != 0) {
        std::fprintf(stderr, "round trip changed the data (%zu bytes in, %zu out)\n", bodySize, back.size());
        std::abort();
    }
    return 0;
}

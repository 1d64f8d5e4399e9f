#pragma once
// Helpers for the move-to-front block codec tests: run one codec over a
// string, in memory, with the zero-run setting of the mode.

#include "blockcodec/mtfcodec.h"
#include "testcommon.h"

#include <string>
#include <vector>

namespace mtftest {

using testcommon::getLE32;
using testcommon::readFile;

struct Mode {
    const char* name;  // as in the golden file names
    bool zeroRuns;
    bool staticCoder;
};

inline const std::vector<Mode>& allModes()
{
    static const std::vector<Mode> modes = {
        {"mtf-ad", true, false},
        {"mtf-ad-norle", false, false},
        {"mtf-st", true, true},
        {"mtf-st-norle", false, true},
    };
    return modes;
}

// Payload of `input` as one block in `mode`.
inline std::string pack(const Mode& mode, std::string input, BlockObserver* observer = nullptr)
{
    std::vector<unsigned char> payload;
    if (mode.staticCoder)
        packBlockMTFStatic(&input[0], static_cast<unsigned>(input.size()), mode.zeroRuns, payload, observer);
    else
        packBlockMTFAdaptive(&input[0], static_cast<unsigned>(input.size()), mode.zeroRuns, payload, observer);
    return std::string(payload.begin(), payload.end());
}

// Decodes a block of `size` bytes from exactly the bytes of `payload`.
inline std::string unpack(const Mode& mode, const std::string& payload, unsigned size,
                          BlockObserver* observer = nullptr)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(payload.data());
    std::string block(size, '\0');
    if (mode.staticCoder)
        unpackBlockMTFStatic(bytes, payload.size(), &block[0], size, mode.zeroRuns, observer);
    else
        unpackBlockMTFAdaptive(bytes, payload.size(), &block[0], size, mode.zeroRuns, observer);
    return block;
}

} // namespace mtftest

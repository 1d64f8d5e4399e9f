#pragma once
// Helpers for the move-to-front block codec tests: run one codec over a
// string, in memory, with the zero-run setting of the mode.

#include "blockcodec/mtfcodec.h"
#include "diag/options.h"

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace mtftest {

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

inline std::string readFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Payload of `input` as one block in `mode`.
inline std::string pack(const Mode& mode, std::string input)
{
    useRLE0 = mode.zeroRuns;
    std::stringstream out;
    if (mode.staticCoder)
        packBlockMTFStatic(out, &input[0], static_cast<unsigned>(input.size()));
    else
        packBlockMTFAdaptive(out, &input[0], static_cast<unsigned>(input.size()));
    return out.str();
}

// Decodes a block of `size` bytes from the payload at the start of `stream`.
inline std::string unpackFrom(const Mode& mode, std::istream& stream, unsigned size)
{
    useRLE0 = mode.zeroRuns;
    std::string block(size, '\0');
    if (mode.staticCoder)
        unpackBlockMTFStatic(stream, &block[0], size);
    else
        unpackBlockMTFAdaptive(stream, &block[0], size);
    return block;
}

inline std::string unpack(const Mode& mode, const std::string& payload, unsigned size)
{
    std::stringstream in(payload);
    return unpackFrom(mode, in, size);
}

} // namespace mtftest

#pragma once
// Helpers every test program uses: whole-file I/O, the little-endian 32-bit
// fields of the compressed format, and scratch file names of this process.

#include <unistd.h>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace testcommon {

// The whole file, or "" when it cannot be read.
inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The 32-bit little-endian field at `at`.
inline unsigned getLE32(const std::string& s, std::size_t at)
{
    unsigned v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(s[at + i]);
    return v;
}

inline void putLE32(std::string& s, std::size_t at, unsigned v)
{
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}

// A file name in the temporary directory that carries the process id, so
// test programs of several build folders can run at the same time.
inline std::string scratchPath(const std::string& name)
{
    return (std::filesystem::temp_directory_path() / ("varn-" + std::to_string(getpid()) + "-" + name)).string();
}

} // namespace testcommon

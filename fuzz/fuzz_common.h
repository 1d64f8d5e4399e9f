#pragma once
// Helpers shared by the fuzz targets: a scratch folder for the file-level
// targets and a little-endian reader for the fields a target takes from its
// input. Every target defines LLVMFuzzerTestOneInput; libFuzzer drives it
// in the fuzzing build, replay_main.cpp drives it in the test build.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fuzz {

// Name of the scratch folder, in static storage so that the exit handler
// that removes it can still read it after the string objects are destroyed.
inline char* scratchDirName()
{
    static char name[64];
    return name;
}

// A folder private to this process, created on first use and kept for the
// whole run (each input overwrites the same few files). Prefers a memory
// file system, since file-level targets write two files per input.
inline const std::string& scratchDir()
{
    static const std::string dir = [] {
        std::string tmpl = access("/dev/shm", W_OK) == 0 ? "/dev/shm/varn-fuzz-XXXXXX" : "/tmp/varn-fuzz-XXXXXX";
        if (!mkdtemp(&tmpl[0])) {
            std::perror("mkdtemp");
            std::abort();
        }
        std::snprintf(scratchDirName(), 64, "%s", tmpl.c_str());
        // Removed at a normal exit; a crashing run leaves it for inspection.
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(scratchDirName(), ec);
        });
        return tmpl;
    }();
    return dir;
}

inline std::string scratchPath(const char* name) { return scratchDir() + "/" + name; }

inline void writeFile(const std::string& path, const uint8_t* data, size_t size)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!f) std::abort();
}

inline std::string readFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline uint32_t readLE32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace fuzz

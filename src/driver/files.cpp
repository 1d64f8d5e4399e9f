#include "files.h"

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

// Size of an open stream by seeking to its end; -1 when the stream failed.
std::int64_t streamSize(std::ifstream& in)
{
    in.seekg(0, std::ios::end);
    std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    return in ? static_cast<std::int64_t>(size) : -1;
}

} // namespace

bool equalFiles(const std::string& first, const std::string& second)
{
    std::ifstream a(first, std::ios::binary);
    std::ifstream b(second, std::ios::binary);
    if (!a || !b) return false;

    // Sizes are compared in 64 bits: truncating them to 32 would let files
    // whose sizes differ by a multiple of 4 GiB pass the size test and be
    // compared only up to the shorter length.
    std::int64_t size = streamSize(a);
    if (size < 0 || size != streamSize(b)) return false;

    char bufA[1024];
    char bufB[1024];
    std::uint64_t remaining = static_cast<std::uint64_t>(size);
    while (remaining > 0) {
        std::streamsize piece = remaining > sizeof bufA ? sizeof bufA : static_cast<std::streamsize>(remaining);
        a.read(bufA, piece);
        b.read(bufB, piece);
        // A short read means the file changed under us; it cannot verify.
        if (a.gcount() != piece || b.gcount() != piece) return false;
        if (std::memcmp(bufA, bufB, static_cast<std::size_t>(piece)) != 0) return false;
        remaining -= static_cast<std::uint64_t>(piece);
    }
    return true;
}

bool sameFile(const std::string& a, const std::string& b)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    bool aExists = fs::exists(a, ec);
    bool bExists = fs::exists(b, ec);
    if (aExists && bExists) {
        bool same = fs::equivalent(a, b, ec);
        return !ec && same;
    }
    if (aExists != bExists) return false;

    // Neither exists yet: compare where they would be created.
    auto normal = [](const std::string& name) {
        std::error_code err;
        fs::path p = fs::weakly_canonical(name, err);
        if (err) p = fs::absolute(name, err).lexically_normal();
        return p;
    };
    return normal(a) == normal(b);
}

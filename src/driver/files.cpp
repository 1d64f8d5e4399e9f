#include "files.h"

#include "container/outputfile.h"

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <tuple>

#include <sys/stat.h>

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

bool FileKey::operator==(const FileKey& o) const
{
    return exists == o.exists && device == o.device && inode == o.inode && path == o.path;
}

bool FileKey::operator<(const FileKey& o) const
{
    return std::tie(exists, device, inode, path) < std::tie(o.exists, o.device, o.inode, o.path);
}

FileKey fileKey(const std::string& name)
{
    namespace fs = std::filesystem;
    FileKey key;
    struct stat st;
    if (::stat(name.c_str(), &st) == 0) {
        key.exists = true;
        key.device = static_cast<unsigned long long>(st.st_dev);
        key.inode = static_cast<unsigned long long>(st.st_ino);
        return key;
    }
    // Where a write would create the file: the end of a chain of links, in
    // a directory whose own links are resolved by weakly_canonical.
    // Made absolute first: weakly_canonical leaves a relative name with no
    // existing prefix ("o", unlike "./o") relative.
    std::error_code err;
    const fs::path target = fs::absolute(resolveLinks(name), err);
    fs::path p = fs::weakly_canonical(target, err);
    if (err) p = target.lexically_normal();
    key.path = p.string();
    return key;
}

bool sameFile(const std::string& a, const std::string& b)
{
    return fileKey(a) == fileKey(b);
}

std::string standardStreamOf(const std::string& name)
{
    struct stat file;
    if (::stat(name.c_str(), &file) != 0 || S_ISCHR(file.st_mode)) return "";
    const std::pair<int, const char*> streams[] = {{1, "standard output"}, {2, "standard error"}};
    for (const auto& [fd, what] : streams) {
        struct stat st;
        if (::fstat(fd, &st) == 0 && st.st_dev == file.st_dev && st.st_ino == file.st_ino) return what;
    }
    return "";
}

// equalFiles at the 1024-byte piece boundaries, and sameFile.

#include "driver/files.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

using testutil::ScratchDir;
using testutil::writeFile;

namespace {

std::string pattern(std::size_t size)
{
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>(i * 7 + 3);
    return s;
}

} // namespace

TEST(EqualFiles, SizesAroundOnePiece)
{
    ScratchDir dir;
    for (std::size_t size : {0u, 1u, 1023u, 1024u, 1025u, 2048u, 5000u}) {
        const std::string contents = pattern(size);
        writeFile(dir / "a", contents);
        writeFile(dir / "b", contents);
        EXPECT_TRUE(equalFiles(dir / "a", dir / "b")) << size;

        // One byte differs: the first, the last, and either side of the
        // first piece boundary.
        for (std::size_t pos : {std::size_t(0), size - 1, std::size_t(1023), std::size_t(1024)}) {
            if (size == 0 || pos >= size) continue;
            std::string changed = contents;
            changed[pos] = static_cast<char>(changed[pos] ^ 0x80);
            writeFile(dir / "b", changed);
            EXPECT_FALSE(equalFiles(dir / "a", dir / "b")) << size << " at " << pos;
        }
    }
}

TEST(EqualFiles, DifferentSizesAndMissingFiles)
{
    ScratchDir dir;
    writeFile(dir / "a", pattern(1024));
    writeFile(dir / "b", pattern(1025));
    EXPECT_FALSE(equalFiles(dir / "a", dir / "b"));
    writeFile(dir / "e", "");
    EXPECT_FALSE(equalFiles(dir / "e", dir / "missing"));
    EXPECT_FALSE(equalFiles(dir / "missing", dir / "e"));
    EXPECT_FALSE(equalFiles(dir / "missing", dir / "missing2"));
    // A directory has no bytes to compare.
    EXPECT_FALSE(equalFiles(dir.path().string(), dir.path().string()));
}

TEST(SameFile, IdentityNotSpelling)
{
    namespace fs = std::filesystem;
    ScratchDir dir;
    writeFile(dir / "f", "x");
    writeFile(dir / "g", "x");
    fs::create_hard_link(dir / "f", dir / "hard");
    fs::create_symlink(dir / "f", dir / "soft");

    EXPECT_TRUE(sameFile(dir / "f", (dir.path() / "." / "f").string()));
    EXPECT_TRUE(sameFile(dir / "f", dir / "hard"));
    EXPECT_TRUE(sameFile(dir / "soft", dir / "f"));
    EXPECT_FALSE(sameFile(dir / "f", dir / "g"));
    EXPECT_FALSE(sameFile(dir / "f", dir / "new"));
    // Names of files not yet created match by where they would be.
    EXPECT_TRUE(sameFile(dir / "new", (dir.path() / "sub" / ".." / "new").string()));
    EXPECT_FALSE(sameFile(dir / "new", dir / "new2"));
}

// Identity keys of names relative to the working directory, existing or not.
TEST(FileKey, LinksAndSpellingsOfOneFile)
{
    namespace fs = std::filesystem;
    ScratchDir dir;
    const fs::path previous = fs::current_path();
    fs::current_path(dir.path());
    writeFile("f", "x");
    fs::create_hard_link("f", "hard");
    fs::create_directory("sub");
    fs::create_symlink("o", "dangling");         // o does not exist
    fs::create_symlink("dangling", "chain");     // to a dangling link
    fs::create_symlink("../o", "sub/up");        // relative to the link's folder
    fs::create_symlink(dir / "o", "absolute");
    fs::create_symlink("loop2", "loop1");
    fs::create_symlink("loop1", "loop2");

    const std::vector<std::tuple<std::string, std::string, bool>> cases = {
        {"f", "./f", true},          {"f", "hard", true},         {"f", "sub/../f", true},
        {"o", "./o", true},          {"o", "dangling", true},     {"o", "chain", true},
        {"o", "sub/up", true},       {"o", "absolute", true},     {"chain", dir / "sub/../o", true},
        {"f", "o", false},           {"dangling", "f", false},    {"o", "sub/o", false},
        {"loop1", "loop1", true},    {"loop1", "o", false},
    };
    for (const auto& [a, b, same] : cases) {
        EXPECT_EQ(fileKey(a) == fileKey(b), same) << a << " " << b;
        EXPECT_EQ(fileKey(a) < fileKey(b) || fileKey(b) < fileKey(a), !same) << a << " " << b;
    }
    fs::current_path(previous);
}

// Bytes after the last block, as a process: the run succeeds with the blocks
// the header accounts for and says how many bytes it ignored.

#include "testutil.h"

#include <gtest/gtest.h>

#include <string>

using testutil::readFile;
using testutil::runProgram;
using testutil::ScratchDir;
using testutil::writeFile;

TEST(TrailingBytes, AreReportedNotSilentlyDropped)
{
    ScratchDir dir;
    std::string text;
    for (int i = 0; text.size() < 69536; ++i) text += "entry " + std::to_string(i * 37 % 1000) + "\n";
    text.resize(65536 + 4000);
    writeFile(dir / "a", text);
    writeFile(dir / "b", "second file");
    ASSERT_EQ(runProgram(dir.path(), {"-c", "a", "-b", "1000"}).status, 0);
    ASSERT_EQ(runProgram(dir.path(), {"-c", "b"}).status, 0);
    const std::string a = readFile(dir / "a.varnQ27p");
    const std::string b = readFile(dir / "b.varnQ27p");

    // Two compressed files back to back: the first is extracted, the second
    // is reported.
    writeFile(dir / "ab", a + b);
    auto r = runProgram(dir.path(), {"-e", "ab", "-o", "out"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(dir / "out"), text);
    EXPECT_NE(r.out.find("WARNING: " + std::to_string(b.size()) + " bytes after the last block of ab were ignored.\n"),
              std::string::npos)
        << r.out;

    // Bit 16 of the total size flipped: 69536 becomes 4000, exactly four
    // blocks; the other 66 blocks are reported, not dropped silently.
    std::string flipped = a;
    flipped[10] = static_cast<char>(flipped[10] ^ 1);
    writeFile(dir / "flipped", flipped);
    r = runProgram(dir.path(), {"-e", "flipped", "-o", "short"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(dir / "short"), text.substr(0, 4000));
    EXPECT_NE(r.out.find("WARNING: "), std::string::npos) << r.out;

    // A clean file draws no warning.
    r = runProgram(dir.path(), {"-e", "a.varnQ27p", "-o", "clean"});
    EXPECT_EQ(r.out.find("WARNING"), std::string::npos) << r.out;
}

// Hostile files and failing devices met by the built program: a corrupt or
// truncated compressed file, an output on a full device and an input that
// cannot be read all end with status -1 and exactly one "ERROR: " line that
// names the problem, never with a crash or a success.

#include "testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

using testutil::readFile;
using testutil::runProgram;
using testutil::ScratchDir;
using testutil::writeFile;

namespace {

const int failed = 255;  // main returns -1

// Asserts the shape of every failed run: status -1, one line on the error
// stream beginning "ERROR: " and containing `mention`, and no "End.".
void expectOneErrorLine(const testutil::RunResult& r, const std::string& mention, const std::string& what)
{
    EXPECT_EQ(r.status, failed) << what << "\n" << r.out << r.err;
    EXPECT_EQ(r.err.rfind("ERROR: ", 0), 0u) << what << ": " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << what << ": " << r.err;
    EXPECT_NE(r.err.find(mention), std::string::npos) << what << ": " << r.err;
    EXPECT_EQ(r.out.find("End."), std::string::npos) << what;
}

// Some bytes of every kind, long enough to need many writes of the stream
// buffers, so a full device fails in the middle of the file and not only
// when it is closed.
std::string sampleData(size_t size)
{
    std::string s;
    for (size_t i = 0; s.size() < size; ++i) s += "line " + std::to_string(i * 7919 % 100003) + " of the sample\n";
    s.resize(size);
    return s;
}

const std::vector<std::vector<std::string>> methods = {
    {}, {"-m"}, {"-m", "--norle0"}, {"-m", "-s"}, {"-m", "--norle0", "-s"}};

} // namespace

TEST(Hostile, CorruptFilesEndInOneErrorLine)
{
    ScratchDir dir;
    const std::string data = sampleData(5000);
    writeFile(dir / "f", data);
    for (const auto& flags : methods) {
        std::vector<std::string> args = {"-c", "f", "-o", "f.z", "-b", "2000"};
        args.insert(args.end(), flags.begin(), flags.end());
        ASSERT_EQ(runProgram(dir.path(), args).status, 0);
        const std::string packed = readFile(dir / "f.z");
        const std::string name = flags.empty() ? "dc" : flags.back();

        writeFile(dir / "cut", packed.substr(0, packed.size() - 1));
        expectOneErrorLine(runProgram(dir.path(), {"-e", "cut", "-o", "out"}), "", name + " truncated");

        std::string bad = packed;
        bad[12] = 'X';  // the first block id
        writeFile(dir / "bad", bad);
        expectOneErrorLine(runProgram(dir.path(), {"-e", "bad", "-o", "out"}), "Invalid block (header id does not match).",
                           name + " block id");
    }
}

TEST(Hostile, WritingToAFullDeviceFails)
{
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    ScratchDir dir;
    for (size_t size : {100u, 300000u}) {
        const std::string what = std::to_string(size) + " bytes";
        writeFile(dir / "f", sampleData(size));
        ASSERT_EQ(runProgram(dir.path(), {"-c", "f", "-o", "f.z"}).status, 0);

        expectOneErrorLine(runProgram(dir.path(), {"-c", "f", "-o", "/dev/full"}), "/dev/full", "compress " + what);
        expectOneErrorLine(runProgram(dir.path(), {"-e", "f.z", "-o", "/dev/full"}), "/dev/full", "extract " + what);
        expectOneErrorLine(runProgram(dir.path(), {"-c", "f", "-o", "g.z", "--test", "/dev/full"}), "/dev/full",
                           "test file " + what);
        expectOneErrorLine(runProgram(dir.path(), {"-c", "f", "-m", "-o", "/dev/full"}), "/dev/full",
                           "compress mtf " + what);
    }
}

// A folder opens for reading on this system but every read of it fails.
// Extraction may report that as a header mismatch, since nothing was read.
TEST(Hostile, UnreadableInputFails)
{
    ScratchDir dir;
    std::filesystem::create_directory(dir / "folder");
    expectOneErrorLine(runProgram(dir.path(), {"-c", "folder", "-o", "out"}), "folder", "compress a folder");
    expectOneErrorLine(runProgram(dir.path(), {"-e", "folder", "-o", "out"}), "", "extract a folder");
}

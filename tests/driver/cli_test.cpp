// The built varn-q27 run as a process: exit statuses, the error line, the
// lines main writes around the file drivers, and files left untouched.

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

const int failed = 255; // main returns -1

bool endsWith(const std::string& s, const std::string& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Skips a test that needs the file drivers while they are still missing.
#define REQUIRE_FILE_DRIVERS(dir)                                                                    \
    do {                                                                                             \
        writeFile((dir) / "probe", "probe");                                                         \
        if (runProgram((dir).path(), {"-c", "probe"}).err.find("not available yet") != std::string::npos) \
            GTEST_SKIP() << "file drivers not built yet";                                            \
    } while (0)

} // namespace

TEST(Cli, NoArgumentsPrintsHelpAndSucceeds)
{
    ScratchDir dir;
    auto r = runProgram(dir.path(), {});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, testutil::expectedHelp());
    EXPECT_EQ(r.err, "");
}

TEST(Cli, HelpWithoutModeDoesNothingElse)
{
    ScratchDir dir;
    writeFile(dir / "f", "data");
    auto r = runProgram(dir.path(), {"-h", "f"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, testutil::expectedHelp());
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(std::filesystem::exists(dir / "f.varnQ27u"));
    EXPECT_FALSE(std::filesystem::exists(dir / ".varnQ27u"));
}

TEST(Cli, EveryErrorIsOneLineAndStatusMinusOne)
{
    ScratchDir dir;
    writeFile(dir / "f", "data");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"-c"}, "Input filename missing!"},
        {{"-c", "-e", "f"}, "Cannot do both compression (-c) and decompression (-e) at the same time!"},
        {{"f"}, "You must either choose to compress (-c) or to extract (-e)!"},
        {{"-c", "a", "b"}, "Invalid parameter: b"},
        {{"-c", "f", "-b"}, "Number (block size) expected after -b parameter"},
        {{"-c", "f", "-r", "--norle0"},
         "Cannot both use (-r,--rle0) and not use (--norle0) RLE0 coding at the same time!"},
        {{"-c", "f", "--bwt_output", "no/such/dir/x"}, "Unable to open BWT output file: no/such/dir/x"},
    };
    for (const auto& [args, message] : cases) {
        auto r = runProgram(dir.path(), args);
        EXPECT_EQ(r.status, failed) << message;
        EXPECT_EQ(r.err, "ERROR: " + message + "\n");
        // No "End." and no noise from a closing pause.
        EXPECT_EQ(r.out, "") << message;
    }

    // Warnings printed before a later failure stay on standard output.
    auto r = runProgram(dir.path(), {"-c", "f", "-d", "-r", "-o", "."});
    EXPECT_EQ(r.status, failed);
    EXPECT_EQ(r.out, "WARNING: RLE0 compression flag (-r, --rle0) ignored when coding with DC coder.\n");
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
    EXPECT_EQ(r.err.rfind("ERROR: ", 0), 0u);
}

TEST(Cli, NothingOfTheInputIsDestroyed)
{
    ScratchDir dir;
    writeFile(dir / "f", "precious");
    std::filesystem::create_hard_link(dir / "f", dir / "link");
    const std::vector<std::vector<std::string>> cases = {
        {"-c", "f", "-o", "./f"},
        {"-c", "f", "-o", "link"},
        {"-e", "f", "-o", "f"},
        {"-c", "f", "--test", "./link"},
        {"-c", "--mtf_output", "./f", "f"},
        {"-e", "f", "--suffixes_output", "link"},
    };
    for (const auto& args : cases) {
        auto r = runProgram(dir.path(), args);
        EXPECT_EQ(r.status, failed) << args[2];
        EXPECT_NE(r.err.find("is the same file as"), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(readFile(dir / "f"), "precious") << args[2];
    }
}

TEST(Cli, CompressionThenExtraction)
{
    ScratchDir dir;
    REQUIRE_FILE_DRIVERS(dir);
    const std::string text = "abracadabra, abracadabra and more abracadabra\n";
    writeFile(dir / "f", text);

    auto c = runProgram(dir.path(), {"-c", "f", "-o", "f.z"});
    EXPECT_EQ(c.status, 0);
    EXPECT_EQ(c.err, "");
    EXPECT_EQ(c.out.rfind("Compressed data size: ", 0), 0u) << c.out;
    // The driver's timing line, an empty line, "End.".
    EXPECT_TRUE(endsWith(c.out, "s\n\nEnd.\n")) << c.out;

    auto e = runProgram(dir.path(), {"-e", "f.z", "-o", "f.back"});
    EXPECT_EQ(e.status, 0);
    EXPECT_EQ(e.err, "");
    EXPECT_EQ(e.out.rfind("Decompression time: ", 0), 0u) << e.out;
    EXPECT_TRUE(endsWith(e.out, "s\nEnd.\n")) << e.out;
    EXPECT_EQ(readFile(dir / "f.back"), text);

    // A driver's error goes through the same single line.
    auto missing = runProgram(dir.path(), {"-e", "missing"});
    EXPECT_EQ(missing.status, failed);
    EXPECT_EQ(missing.err, "ERROR: Unable to open input file: missing\n");
    EXPECT_EQ(missing.out, "");
}

TEST(Cli, TestModeReportsTheComparison)
{
    ScratchDir dir;
    REQUIRE_FILE_DRIVERS(dir);
    writeFile(dir / "f", "mississippi mississippi\n");

    auto ok = runProgram(dir.path(), {"-c", "f", "--test", "f.check"});
    EXPECT_EQ(ok.status, 0);
    EXPECT_EQ(ok.err, "");
    const std::size_t testing = ok.out.find("s\n\nTesting packed file correctness.\n\nDecompression time: ");
    EXPECT_NE(testing, std::string::npos) << ok.out;
    EXPECT_TRUE(endsWith(ok.out, "s\n\nOK, Files are equal.\nEnd.\n")) << ok.out;
    EXPECT_EQ(readFile(dir / "f.check"), "mississippi mississippi\n");

    // Extraction into a file that cannot hold the data: the comparison
    // fails, and a failed verification is a failed run.
    auto bad = runProgram(dir.path(), {"-c", "f", "-o", "g.z", "--test", "/dev/null"});
    EXPECT_EQ(bad.err, "ERROR: Files are not equal!\n");
    EXPECT_TRUE(endsWith(bad.out, "s\n\nEnd.\n")) << bad.out;
    EXPECT_EQ(bad.out.find("OK, Files are equal."), std::string::npos);
    EXPECT_EQ(bad.status, failed);

    // An empty input stops in the compression driver, before any test.
    writeFile(dir / "empty", "");
    auto empty = runProgram(dir.path(), {"-c", "empty", "--test", "empty.check"});
    EXPECT_EQ(empty.status, failed);
    EXPECT_EQ(empty.err, "ERROR: Cannot compress empty file (file size is 0)\n");
    EXPECT_EQ(empty.out.find("Testing"), std::string::npos);
}

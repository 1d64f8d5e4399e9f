// The thread-count option as a process: accepted values, refused values, and
// the same files whatever the count.

#include "testutil.h"

#include <gtest/gtest.h>

#include <string>

using testutil::readFile;
using testutil::runProgram;
using testutil::ScratchDir;
using testutil::writeFile;

TEST(ThreadsOption, RefusesWhatIsNotACount)
{
    ScratchDir dir;
    writeFile(dir / "f", std::string(5000, 'a'));
    const struct {
        std::vector<std::string> args;
        std::string error;
    } cases[] = {
        {{"-c", "f", "-j"}, "ERROR: Number (thread count) expected after -j parameter\n"},
        {{"-c", "f", "--threads"}, "ERROR: Number (thread count) expected after --threads parameter\n"},
        {{"-c", "f", "-j", "-1"},
         "ERROR: Invalid value after -j parameter: -1 (expected a number of threads from 0 up)\n"},
        {{"-c", "f", "--threads", "two"},
         "ERROR: Invalid value after --threads parameter: two (expected a number of threads from 0 up)\n"},
        {{"-e", "f", "-j", "3x"},
         "ERROR: Invalid value after -j parameter: 3x (expected a number of threads from 0 up)\n"},
        {{"-c", "f", "-j", ""}, "ERROR: Invalid value after -j parameter:  (expected a number of threads from 0 up)\n"},
    };
    for (const auto& c : cases) {
        auto r = runProgram(dir.path(), c.args);
        EXPECT_EQ(r.status, 255) << c.args.back();
        EXPECT_EQ(r.err, c.error) << c.args.back();
    }
}

TEST(ThreadsOption, EveryCountWritesTheSameFile)
{
    ScratchDir dir;
    std::string input;
    for (int i = 0; i < 4000; ++i) input += "line " + std::to_string(i * 7919 % 1000) + " of the sample\n";
    writeFile(dir / "f", input);
    std::string reference;
    for (const char* j : {"1", "2", "3", "0", "99999999999"}) {
        auto r = runProgram(dir.path(), {"-c", "f", "-o", "p", "-b", "9000", "-j", j, "--test", "t"});
        ASSERT_EQ(r.status, 0) << j << r.err;
        const std::string packed = readFile(dir / "p");
        if (reference.empty()) reference = packed;
        EXPECT_EQ(packed, reference) << "-j " << j;
        auto e = runProgram(dir.path(), {"-e", "p", "-o", "back", "--threads", j});
        ASSERT_EQ(e.status, 0) << j << e.err;
        EXPECT_EQ(readFile(dir / "back"), input) << "-j " << j;
    }
}

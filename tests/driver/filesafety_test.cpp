// What the built program leaves on the disk when a run fails, is
// interrupted or is pointed at files it must not write: an output appears
// whole or not at all, an earlier file of its name survives every failure,
// and only regular files are read.

#include "testutil.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

using testutil::readFile;
using testutil::runProgram;
using testutil::ScratchDir;
using testutil::writeFile;

extern char** environ;

namespace {

namespace fs = std::filesystem;
const int failed = 255;  // main returns -1

// Every entry of `dir`, hidden ones included, except the runner's captures.
std::set<std::string> listing(const fs::path& dir)
{
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        if (name != ".stdout" && name != ".stderr") names.insert(name);
    }
    return names;
}

// Bytes that do not compress, so the output is as large as the input.
std::string noise(std::size_t size, unsigned seed = 1)
{
    std::string s(size, '\0');
    for (char& c : s) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 23);
    }
    return s;
}

// Words from a small vocabulary: slow enough to code that a signal can be
// sent while the output is being written.
std::string text(std::size_t size)
{
    std::string s;
    for (unsigned i = 0; s.size() < size; ++i) s += "w" + std::to_string(i * 7919u % 4093u) + ' ';
    s.resize(size);
    return s;
}

void expectOneErrorLine(const testutil::RunResult& r, const std::string& message, const std::string& what)
{
    EXPECT_EQ(r.status, failed) << what;
    EXPECT_EQ(r.err, "ERROR: " + message + "\n") << what;
}

// Runs `script` with /bin/sh in `dir`; "$VARN" is the program.
testutil::RunResult runScript(const fs::path& dir, const std::string& script)
{
    const std::string command = "cd '" + dir.string() + "' && VARN='" VARN_BINARY "' && { " + script +
                                "; } >.stdout 2>.stderr </dev/null";
    testutil::RunResult r;
    const int raw = std::system(command.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = readFile((dir / ".stdout").string());
    r.err = readFile((dir / ".stderr").string());
    return r;
}

} // namespace

TEST(FileSafety, AFailedRunLeavesAnEarlierOutputAsItWas)
{
    ScratchDir dir;
    writeFile(dir / "plain", "not compressed at all");
    writeFile(dir / "empty", "");
    writeFile(dir / "f", text(5000));
    ASSERT_EQ(runProgram(dir.path(), {"-c", "f", "-o", "f.z", "-b", "2000"}).status, 0);
    std::string corrupt = readFile(dir / "f.z");
    corrupt[corrupt.size() - 100] ^= 0x55;  // inside the last block
    writeFile(dir / "corrupt", corrupt);

    const std::vector<std::vector<std::string>> cases = {
        {"-e", "plain", "-o", "keep"},
        {"-c", "empty", "-o", "keep"},
        {"-e", "corrupt", "-o", "keep"},
        {"-e", "corrupt"},  // blocks decoded before the damage are not left as corrupt.varnQ27u
    };
    for (const auto& args : cases) {
        writeFile(dir / "keep", "precious");
        const auto before = listing(dir.path());
        const auto r = runProgram(dir.path(), args);
        EXPECT_EQ(r.status, failed) << args[1] << r.err;
        EXPECT_EQ(readFile(dir / "keep"), "precious") << args[1];
        EXPECT_EQ(listing(dir.path()), before) << args[1];
    }
}

// A write that fails part way (the file size limit stands in for a full
// disk, which /dev/full cannot show for a file that is renamed into place).
TEST(FileSafety, AWriteFailureLeavesNoPartialFile)
{
    ScratchDir dir;
    writeFile(dir / "f", noise(200000));
    writeFile(dir / "t", text(200000));  // compresses to a few kilobytes
    ASSERT_EQ(runProgram(dir.path(), {"-c", "f", "-o", "f.z"}).status, 0);
    // The compressed file of a test run is complete before the test starts.
    ASSERT_EQ(runProgram(dir.path(), {"-c", "t", "-o", "t.z"}).status, 0);
    const std::vector<std::string> runs = {"-c f -o keep", "-e f.z -o keep", "-c t -o t.z --test keep"};
    for (const std::string& run : runs) {
        writeFile(dir / "keep", "precious");
        const auto before = listing(dir.path());
        // 64 blocks of 512 or 1024 bytes, depending on the shell.
        const auto r = runScript(dir.path(), "ulimit -f 64 && trap '' XFSZ && \"$VARN\" " + run);
        expectOneErrorLine(r, "Unable to write output file: keep", run);
        EXPECT_EQ(readFile(dir / "keep"), "precious") << run;
        EXPECT_EQ(listing(dir.path()), before) << run;
    }
}

// SIGINT, SIGTERM and SIGHUP while the output is being written: the program
// ends by the signal and leaves neither the output nor a temporary file.
TEST(FileSafety, AnInterruptedRunLeavesNothing)
{
    ScratchDir dir;
    const std::string input = dir / "in";
    writeFile(input, text(8000000));
    ASSERT_EQ(runProgram(dir.path(), {"-c", "in", "-o", "in.z", "-b", "500000"}).status, 0);

    struct Case {
        const char* mode;
        const char* from;
        int signal;
    };
    const Case cases[] = {{"-c", "in", SIGINT}, {"-c", "in", SIGTERM}, {"-e", "in.z", SIGINT}, {"-e", "in.z", SIGHUP}};
    for (const Case& c : cases) {
        const std::string what = std::string(c.mode) + " " + strsignal(c.signal);
        const auto before = listing(dir.path());
        const std::string from = dir / c.from, to = dir / "out";
        const char* argv[] = {VARN_BINARY, c.mode, from.c_str(), "-o", to.c_str(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        sigset_t defaults;
        sigemptyset(&defaults);
        for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&defaults, sig);
        posix_spawnattr_setsigdefault(&attr, &defaults);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
        pid_t pid;
        ASSERT_EQ(posix_spawn(&pid, VARN_BINARY, &actions, &attr, const_cast<char**>(argv), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);

        // Once the output (or its temporary file) exists, the run is writing.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (listing(dir.path()) == before && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        kill(pid, c.signal);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << what << " status " << status;
        EXPECT_EQ(listing(dir.path()), before) << what;
    }
}

TEST(FileSafety, ADanglingLinkIsTheFileItWouldCreate)
{
    ScratchDir dir;
    writeFile(dir / "f", "some data to compress");
    fs::create_symlink("o", dir / "L");
    fs::create_symlink("L", dir / "L2");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"-c", "f", "-o", "o", "--test", "L"}, "Test file L is the same file as the output file o"},
        {{"-c", "f", "-o", "L2", "--test", "./o"}, "Test file ./o is the same file as the output file L2"},
        {{"-c", "f", "-o", "L", "--dc_output", "L2"}, "Dump file L2 (--dc_output) is the same file as L, also named on the command line"},
    };
    for (const auto& [args, message] : cases) {
        expectOneErrorLine(runProgram(dir.path(), args), message, args[3]);
        EXPECT_FALSE(fs::exists(dir / "o")) << args[3];
    }

    // Written through the link, the file appears at the link's end.
    ASSERT_EQ(runProgram(dir.path(), {"-c", "f", "-o", "L2", "--test", "back"}).status, 0);
    EXPECT_TRUE(fs::is_symlink(dir / "L2"));
    EXPECT_EQ(readFile(dir / "back"), "some data to compress");
    EXPECT_EQ(readFile(dir / "o"), readFile(dir / "L2"));
}

TEST(FileSafety, TheOutputIsNotWhereTheMessagesGo)
{
    ScratchDir dir;
    writeFile(dir / "f", "some data to compress");
    ASSERT_EQ(runProgram(dir.path(), {"-c", "f", "-o", "f.z"}).status, 0);
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"-c", "f", "-o", "/dev/stdout"}, "Output file /dev/stdout is the same file as the standard output"},
        {{"-e", "f.z", "-o", "/dev/stdout"}, "Output file /dev/stdout is the same file as the standard output"},
        {{"-c", "f", "-o", "g", "--test", "/dev/stderr"}, "Test file /dev/stderr is the same file as the standard error"},
    };
    for (const auto& [args, message] : cases)
        expectOneErrorLine(runProgram(dir.path(), args), message + ", where the program prints its messages", args[1]);

    // A character device loses nothing: /dev/null as output and standard
    // output at once still works.
    const auto r = runScript(dir.path(), "\"$VARN\" -c f -o /dev/null >/dev/null; echo $? >status");
    EXPECT_EQ(readFile(dir / "status"), "0\n");
}

TEST(FileSafety, OnlyRegularFilesAreRead)
{
    ScratchDir dir;
    fs::create_directory(dir / "dir");
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"-c", "dir"}, "Input file dir is a directory, not a regular file"},
        {{"-e", "dir"}, "Input file dir is a directory, not a regular file"},
        {{"-c", "pipe"}, "Input file pipe is a FIFO, not a regular file"},
        {{"-e", "pipe", "-o", "out"}, "Input file pipe is a FIFO, not a regular file"},
        {{"-c", "/dev/zero", "-o", "out"}, "Input file /dev/zero is a character device, not a regular file"},
    };
    const auto before = listing(dir.path());
    for (const auto& [args, message] : cases) {
        // A FIFO without a writer must not block the open.
        std::string run = "timeout 20 \"$VARN\"";
        for (const std::string& a : args) run += " '" + a + "'";
        expectOneErrorLine(runScript(dir.path(), run), message, args[1]);
        EXPECT_EQ(listing(dir.path()), before) << args[1];
    }
}

// Every name is compared with the others through sorted identity keys, not
// pair by pair.
TEST(FileSafety, ManyDumpFilesAreCheckedQuickly)
{
    ScratchDir dir;
    writeFile(dir / "f", "x");
    std::vector<std::string> args = {"-c", "f", "-o", "f.z"};
    for (int i = 0; i < 1000; ++i) {
        args.push_back("--bwt_output");
        args.push_back("d" + std::to_string(i));
    }
    const auto start = std::chrono::steady_clock::now();
    const auto r = runProgram(dir.path(), args);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_LT(seconds, 5.0);

    // The last of 1000 names repeats the first: still found, in order.
    args.back() = "./d0";
    expectOneErrorLine(runProgram(dir.path(), args),
                       "Dump file d0 (--bwt_output) is the same file as ./d0, also named on the command line", "");
}

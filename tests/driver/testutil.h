#pragma once
// Helpers shared by the driver tests: scratch directories, whole-file I/O,
// running the built program as a process, and the expected help text.

#include "testcommon.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace testutil {

namespace fs = std::filesystem;

// A fresh directory per test, removed afterwards. The name carries the
// process id and the test name because ctest runs tests in parallel.
class ScratchDir {
public:
    ScratchDir()
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = fs::temp_directory_path() /
                ("varn_" + std::string(info->test_suite_name()) + "_" + info->name() + "_" + std::to_string(getpid()));
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~ScratchDir()
    {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

using testcommon::readFile;
using testcommon::writeFile;

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the built varn-q27 with `args` in directory `dir`.
inline RunResult runProgram(const fs::path& dir, const std::vector<std::string>& args)
{
    auto quote = [](const std::string& s) {
        std::string q = "'";
        for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return q + "'";
    };
    const std::string outPath = (dir / ".stdout").string();
    const std::string errPath = (dir / ".stderr").string();
    std::string command = "cd " + quote(dir.string()) + " && " + quote(VARN_BINARY);
    for (const std::string& a : args) command += " " + quote(a);
    command += " >" + quote(outPath) + " 2>" + quote(errPath) + " </dev/null";

    RunResult r;
    int raw = std::system(command.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = readFile(outPath);
    r.err = readFile(errPath);
    fs::remove(outPath);
    fs::remove(errPath);
    return r;
}

// The help text, byte for byte (trailing spaces are part of it).
inline std::string expectedHelp()
{
    static const char* const lines[] = {
        "This program is an implementation of project Q27 for VARN.",
        "Authors: the varn-q27 developers",
        "Version: 0.27",
        "Date of release: 2005.11.09",
        "",
        "You can use the following options:",
        "-c                 - compress",
        "-e                 - extract",
        "-v, --verbose      - trigger additional messages",
        "-o filename        - output filename (when not supplied xoutput is chosen)",
        "-b blocksize       - set fixed block size",
        "-m, --mtf0         - use MTF transform",
        "-r, --rle0         - use RLE0 coding",
        "--norle0           - force compressor not to use rle0",
        "-d, --dc           - use DC transform",
        "-a                 - use adaptive arithmetic coding",
        "-s                 - use static arithmetic coding",
        "--bwt_output filaname   - print data after BWT transform to file",
        "--mtf_output filename   - print data after MTF transform to file",
        "--rle0_output           - print data after RLE0 coding to file",
        "--dc_output             - print data after DC coding to file",
        "--input_histogram       - generate file with input symbols histogram",
        "--mtf_histogram         - generate file with histogram of symbols after",
        "                          MTF transform",
        "--rle0_histogram        - generate file with histogram of symbols after",
        "                          RLE0 coding",
        "--dc_histogram          - generate file with histogram of symbols after",
        "                          DC coding",
        "--suffixes_output filename     - print sorted list of suffixes to file",
        "--suffixes_output_max_size num - limit printed suffix length (print ",
        "                                 only num first symbols). this option",
        "                                 should be used only in combination ",
        "                                 with --suffixes_output.",
        "--suffix_array_output filename - print suffix array (only indices) to ",
        "                                 a file",
        "--test filename                - option to be used when compressing. forces",
        "                                 compressor to automaticly decompress file",
        "                                 and check for file contents equality",
        "",
        "Examples of use:",
        "varn-Q27 -c file1 -o compressedfile1 -m -r -b 10000",
        "varn-Q27 -e compressedfile1 -o file1 --verbose",
        "varn-Q27 -c --dc file1 --dc_histogram dchist.txt",
        "-j, --threads num  - number of threads (0, the default: one per core)",
    };
    static_assert(sizeof lines / sizeof lines[0] == 44, "the help text has 44 lines");
    std::string text;
    for (const char* line : lines) text += std::string(line) + "\n";
    return text;
}

} // namespace testutil

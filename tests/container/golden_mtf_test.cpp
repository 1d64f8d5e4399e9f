// The move-to-front methods through the built program: the golden files
// byte for byte from the command lines that wrote them, --test over
// several blocks, the refused --mtf1, and the per-block dump sections.

#include "containertest.h"

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace containertest;

namespace {

struct MTFMode {
    const char* suffix;  // golden file naming
    const char* flags;   // as in the golden files' command lines
    char method;
    char coderType;
};

const MTFMode mtfModes[] = {
    {"mtf-ad", "-m", 2, 1},
    {"mtf-ad-norle", "-m --norle0", 1, 1},
    {"mtf-st", "-m -s", 2, 0},
    {"mtf-st-norle", "-m --norle0 -s", 1, 0},
};

struct ProgramRun {
    int status;
    std::string out;
    std::string err;
};

class MTFProgram : public FileTest {
protected:
    // Runs the program with `args` (shell syntax) and collects its output.
    ProgramRun run(const std::string& args)
    {
        const std::string out = path("stdout"), err = path("stderr");
        const int raw = std::system((std::string(VARN_BINARY) + " " + args + " > '" + out + "' 2> '" + err + "'").c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFile(out), readFile(err)};
    }
};

size_t countOf(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

} // namespace

TEST_F(MTFProgram, GoldenFilesFromTheirCommandLines)
{
    const std::string golden = VARN_GOLDEN_DIR;
    for (const char* input : {"one-zero", "ab", "banana", "abracadabra", "ff-x300", "words"}) {
        for (const MTFMode& mode : mtfModes) {
            const std::string name = std::string(input) + "." + mode.suffix + ".varnQ27p";
            ProgramRun c = run("-c '" + golden + "/" + input + "' -o '" + path("packed") + "' " + mode.flags);
            ASSERT_EQ(c.status, 0) << name << c.err;
            EXPECT_EQ(readFile(path("packed")), readFile(golden + "/" + name)) << name;

            ProgramRun e = run("-e '" + golden + "/" + name + "' -o '" + path("back") + "'");
            ASSERT_EQ(e.status, 0) << name << e.err;
            EXPECT_EQ(readFile(path("back")), readFile(golden + "/" + input)) << name;
        }
    }
}

TEST_F(MTFProgram, TestModeOverManyBlocks)
{
    const std::string input = readFile(std::string(VARN_TEST_DATA_DIR) + "/paper1");
    writeFile(path("in"), input);
    for (const MTFMode& mode : mtfModes) {
        ProgramRun r = run("-c '" + path("in") + "' -o '" + path("packed") + "' -b 7000 --test '" + path("check") + "' " +
                    mode.flags);
        ASSERT_EQ(r.status, 0) << mode.suffix << r.err;
        EXPECT_NE(r.out.find("OK, Files are equal."), std::string::npos) << mode.suffix << r.out;
        EXPECT_TRUE(readFile(path("check")) == input) << mode.suffix;

        // Every block carries the mode's method and coder type.
        const std::string packed = readFile(path("packed"));
        const std::vector<size_t> blocks = blockOffsets(packed);
        EXPECT_EQ(blocks.size(), (input.size() + 6999) / 7000) << mode.suffix;
        for (size_t at : blocks) {
            EXPECT_EQ(packed[at + 12], mode.method) << mode.suffix;
            EXPECT_EQ(packed[at + 13], mode.coderType) << mode.suffix;
        }
    }
}

TEST_F(MTFProgram, Mtf1IsRefusedAtTheFirstBlock)
{
    writeFile(path("in"), "some input");
    ProgramRun r = run("-c '" + path("in") + "' -o '" + path("packed") + "' --mtf1");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("ERROR: Unsupported compression method"), std::string::npos) << r.err;
    // Nothing is left behind.
    EXPECT_FALSE(std::filesystem::exists(path("packed")));
}

TEST_F(MTFProgram, DumpSectionsPerBlock)
{
    // 12000 bytes in blocks of 5000: three sections in each dump.
    std::string input;
    while (input.size() < 12000) input += "zero runs come from repeated contexts; ";
    input.resize(12000);
    writeFile(path("in"), input);
    for (const MTFMode& mode : mtfModes) {
        const bool zeroRuns = mode.method == 2;
        ProgramRun r = run("-c '" + path("in") + "' -o '" + path("packed") + "' -b 5000 " + mode.flags + " --rle0_output '" +
                    path("rle0") + "' --mtf_output '" + path("mtf") + "' --mtf_histogram '" + path("mtfhist") + "'");
        ASSERT_EQ(r.status, 0) << mode.suffix << r.err;

        const std::string rle0 = readFile(path("rle0"));
        if (zeroRuns) {
            EXPECT_EQ(rle0.rfind("[Block]\nBlock size = 5000\nData after RLE0:\n", 0), 0u) << mode.suffix;
            EXPECT_EQ(countOf(rle0, "[Block]\n"), 3u) << mode.suffix;
            EXPECT_EQ(countOf(rle0, "Block size = 2000\n"), 1u) << mode.suffix;
            EXPECT_EQ(countOf(rle0, "Number of coded symbols: "), 3u) << mode.suffix;
        } else {
            EXPECT_EQ(rle0, "") << mode.suffix;
        }
        const std::string mtf = readFile(path("mtf"));
        EXPECT_EQ(countOf(mtf, "Data after MTF:\n"), 3u) << mode.suffix;
        EXPECT_EQ(countOf(readFile(path("mtfhist")), "Data MTF histogram:\n"), 3u) << mode.suffix;
    }
}

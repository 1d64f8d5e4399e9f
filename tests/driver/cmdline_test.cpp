// The command-line parser run in-process: checks and their order, defaults,
// warnings, value handling and the dump files it opens.

#include "diag/exception.h"
#include "driver/options.h"
#include "driver/cmdline.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

using testutil::ScratchDir;
using testutil::readFile;
using testutil::writeFile;

namespace {

class Parse : public ::testing::Test {
protected:
    void SetUp() override { resetAll(); }
    void TearDown() override { resetAll(); }

    // resetOptions() also clears the suffix-dump settings.
    static void resetAll() { resetOptions(); }

    // Parses "varn-q27 args..." with standard output captured into `out`.
    bool parse(const std::vector<std::string>& args)
    {
        std::vector<std::string> storage{"varn-q27"};
        storage.insert(storage.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& s : storage) argv.push_back(s.data());
        argv.push_back(nullptr);

        std::ostringstream captured;
        struct Restore {
            std::streambuf* old;
            ~Restore() { std::cout.rdbuf(old); }
        } restore{std::cout.rdbuf(captured.rdbuf())};
        try {
            bool result = parseCommandLineParams(static_cast<int>(storage.size()), argv.data());
            out = captured.str();
            return result;
        } catch (...) {
            out = captured.str();
            throw;
        }
    }

    // The message of the Exception the parse must throw.
    std::string parseError(const std::vector<std::string>& args)
    {
        try {
            parse(args);
        } catch (const Exception& e) {
            return e.what();
        }
        ADD_FAILURE() << "no Exception";
        return "";
    }

    std::string out;
};

const char* const transformConflict =
    "Cannot use MTF0 (-m, --mtf0), MTF1 (--mtf1) or DC (-d, --dc) coding at he same time! Chose only one of the "
    "above.";
const char* const rleConflict = "Cannot both use (-r,--rle0) and not use (--norle0) RLE0 coding at the same time!";
const char* const coderConflict = "Cannot use adaptive (-a) and static (-s) arithmetic coding at he same time!";

} // namespace

TEST_F(Parse, NoArgumentsPrintsHelpAndReturnsFalse)
{
    EXPECT_FALSE(parse({}));
    EXPECT_EQ(out, testutil::expectedHelp());
    std::ostringstream os;
    printHelp(os);
    EXPECT_EQ(os.str(), testutil::expectedHelp());
}

TEST_F(Parse, ModeAndInputChecksComeFirstInOrder)
{
    EXPECT_EQ(parseError({"-c"}), "Input filename missing!");
    EXPECT_EQ(parseError({"-h"}), "Input filename missing!");
    // Both modes is reported before the missing file name.
    EXPECT_EQ(parseError({"-c", "-e"}), "Cannot do both compression (-c) and decompression (-e) at the same time!");
    resetAll();
    EXPECT_EQ(parseError({"-c", "-e", "f"}),
              "Cannot do both compression (-c) and decompression (-e) at the same time!");
    resetAll();
    EXPECT_EQ(parseError({"f"}), "You must either choose to compress (-c) or to extract (-e)!");
    resetAll();
    // The mode checks win over every compression check.
    EXPECT_EQ(parseError({"f", "-r", "--norle0"}), "You must either choose to compress (-c) or to extract (-e)!");
}

TEST_F(Parse, UnrecognisedArgumentsBecomeTheInputOnce)
{
    EXPECT_EQ(parseError({"-c", "a", "b"}), "Invalid parameter: b");
    resetAll();
    EXPECT_EQ(parseError({"-c", "-x", "f"}), "Invalid parameter: f");
    EXPECT_EQ(ifilename, "-x");
    for (const char* notAnOption : {"-C", "-cv", "--Verbose", "-o=x", "--dc_output=x"}) {
        resetAll();
        ASSERT_TRUE(parse({"-c", notAnOption}));
        EXPECT_EQ(ifilename, notAnOption);
        EXPECT_FALSE(verbose);
    }
}

TEST_F(Parse, CompressionDefaultsToDistanceCoding)
{
    ASSERT_TRUE(parse({"-c", "f"}));
    EXPECT_TRUE(compress);
    EXPECT_FALSE(decompress);
    EXPECT_TRUE(useDC);
    EXPECT_TRUE(adaptiveAC);
    EXPECT_TRUE(useRLE0);
    EXPECT_FALSE(useMTF0 || useMTF1 || staticAC || doNotUseRLE0 || test || help || verbose);
    EXPECT_EQ(ofilename, "f.varnQ27p");
    EXPECT_EQ(blockSize, 0u);
    EXPECT_EQ(out, "");

    resetAll();
    ASSERT_TRUE(parse({"-c", "f", "-r"}));
    EXPECT_TRUE(useDC);
    EXPECT_EQ(out, "");
}

TEST_F(Parse, MoveToFrontChoices)
{
    ASSERT_TRUE(parse({"-c", "f", "-m"}));
    EXPECT_TRUE(useMTF0 && useRLE0 && adaptiveAC);
    EXPECT_FALSE(useDC || staticAC);

    resetAll();
    ASSERT_TRUE(parse({"--mtf0", "f", "-c", "--norle0", "-s", "--verbose"}));
    EXPECT_TRUE(useMTF0 && staticAC && verbose);
    EXPECT_FALSE(useRLE0 || adaptiveAC || useDC);
    EXPECT_EQ(out, "");

    // --mtf1 passes the parser; the compression driver rejects it.
    resetAll();
    ASSERT_TRUE(parse({"-c", "f", "--mtf1"}));
    EXPECT_TRUE(useMTF1 && useRLE0);
    EXPECT_FALSE(useDC || useMTF0);
}

TEST_F(Parse, DistanceCodingWarningsInOrder)
{
    ASSERT_TRUE(parse({"-c", "f", "-s", "-r", "-d"}));
    EXPECT_EQ(out, "WARNING: RLE0 compression flag (-r, --rle0) ignored when coding with DC coder.\n"
                   "WARNING: static arithmetic coder is not unsupported when using DC coder.\n");
    EXPECT_TRUE(useDC && useRLE0 && staticAC);

    resetAll();
    ASSERT_TRUE(parse({"-c", "f", "-s", "--norle0", "--dc"}));
    EXPECT_EQ(out, "WARNING: no RLE0 compression flag (--norle0) ignored when coding with DC coder.\n"
                   "WARNING: static arithmetic coder is not unsupported when using DC coder.\n");
    EXPECT_TRUE(doNotUseRLE0);
    EXPECT_FALSE(useRLE0);
}

TEST_F(Parse, CompressionConflictsInOrder)
{
    EXPECT_EQ(parseError({"-c", "f", "-m", "-d"}), transformConflict);
    resetAll();
    EXPECT_EQ(parseError({"-c", "f", "--mtf1", "-m"}), transformConflict);
    resetAll();
    EXPECT_EQ(parseError({"-c", "f", "-r", "--norle0"}), rleConflict);
    resetAll();
    EXPECT_EQ(parseError({"-c", "f", "-r", "--norle0", "-d"}), rleConflict);
    resetAll();
    EXPECT_EQ(parseError({"-c", "f", "-a", "-s", "-m", "-d"}), coderConflict);
    resetAll();
    EXPECT_EQ(parseError({"-c", "f", "-a", "-s", "-m", "-d", "-r", "--norle0"}), rleConflict);
    // The conflicts do not apply when extracting.
    resetAll();
    EXPECT_TRUE(parse({"-e", "f", "-a", "-s", "-m", "-d", "-r", "--norle0"}));
}

TEST_F(Parse, ExtractionDefaultsAndWarningsInTableOrder)
{
    ASSERT_TRUE(parse({"-e", "f.varnQ27p"}));
    EXPECT_EQ(ofilename, "f.varnQ27p.varnQ27u");
    EXPECT_EQ(out, "");
    EXPECT_FALSE(useRLE0 || useDC || adaptiveAC);

    ScratchDir dir;
    resetAll();
    ASSERT_TRUE(parse({"-e", "f", "-m", "-s", "--bwt_output", dir / "x"}));
    EXPECT_EQ(out, "WARNING: MTF0 compression flag (-m, --mtf0) ignored when decompressing.\n"
                   "WARNING: static arithmetic coder flag (-s) ignored when decompressing.\n"
                   "WARNING: flag (--bwt_output) ignored when decompressing.\n");
    EXPECT_TRUE(std::filesystem::exists(dir / "x"));
    EXPECT_EQ(readFile(dir / "x"), "");

    resetAll();
    ASSERT_TRUE(parse({"--rle0_histogram", dir / "h4", "--mtf_histogram", dir / "h3", "--input_histogram", dir / "h2",
                       "--rle0_output", dir / "d3", "--mtf_output", dir / "d2", "--bwt_output", dir / "d1", "-s", "-a",
                       "--norle0", "-r", "-d", "--mtf1", "-m", "-e", "f"}));
    EXPECT_EQ(out, "WARNING: MTF0 compression flag (-m, --mtf0) ignored when decompressing.\n"
                   "WARNING: MTF1 compression flag (--mtf1) ignored when decompressing.\n"
                   "WARNING: DC compression flag (-d, --dc) ignored when decompressing.\n"
                   "WARNING: RLE0 compression flag (-r, --rle0) ignored when decompressing.\n"
                   "WARNING: no RLE0 compression flag (--norle0) ignored when decompressing.\n"
                   "WARNING: adaptive arithmetic coder flag (-a) ignored when decompressing.\n"
                   "WARNING: static arithmetic coder flag (-s) ignored when decompressing.\n"
                   "WARNING: flag (--bwt_output) ignored when decompressing.\n"
                   "WARNING: flag (--mtf_output) ignored when decompressing.\n"
                   "WARNING: flag (--rle0_output) ignored when decompressing.\n"
                   "WARNING: flag (--input_histogram) ignored when decompressing.\n"
                   "WARNING: flag (--mtf_histogram) ignored when decompressing.\n"
                   "WARNING: flag (--rle0_histogram) ignored when decompressing.\n");

    // Options that draw no warning when extracting; --test is recorded but
    // extraction never tests.
    resetAll();
    ASSERT_TRUE(parse({"-e", "f", "-b", "5", "--test", "t", "--dc_output", dir / "e1", "--dc_histogram", dir / "e2",
                       "--suffixes_output", dir / "e3", "--suffix_array_output", dir / "e4",
                       "--suffixes_output_max_size", "3", "-v"}));
    EXPECT_EQ(out, "");
    EXPECT_TRUE(test);
    EXPECT_EQ(testfilename, "t");
}

TEST_F(Parse, ValuesAreTakenVerbatimAndMissingValuesReported)
{
    ASSERT_TRUE(parse({"-c", "f", "-o", "-m"}));
    EXPECT_EQ(ofilename, "-m");
    EXPECT_FALSE(useMTF0);
    EXPECT_TRUE(useDC);

    resetAll();
    ASSERT_TRUE(parse({"-c", "f", "-o", "a", "-o", "b", "--test", "t1", "--test", "t2", "-b", "5", "-b", "7"}));
    EXPECT_EQ(ofilename, "b");
    EXPECT_EQ(testfilename, "t2");
    EXPECT_TRUE(test);
    EXPECT_EQ(blockSize, 7u);

    const std::vector<std::pair<std::string, std::string>> missing = {
        {"-o", "Filename expected after -o parameter"},
        {"--test", "Filename expected after --test parameter"},
        {"-b", "Number (block size) expected after -b parameter"},
        {"--bwt_output", "Filename expected after --bwt_output parameter"},
        {"--mtf_output", "Filename expected after --mtf_output parameter"},
        {"--rle0_output", "Filename expected after --rle0_output parameter"},
        {"--dc_output", "Filename expected after --dc_output parameter"},
        {"--input_histogram", "Filename expected after --input_histogram parameter"},
        {"--mtf_histogram", "Filename expected after --mtf_histogram parameter"},
        {"--rle0_histogram", "Filename expected after --rle0_histogram parameter"},
        {"--dc_histogram", "Filename expected after --dc_histogram parameter"},
        {"--suffix_array_output", "Filename expected after --suffix_array_output parameter"},
        {"--suffixes_output", "Filename expected after --suffixes_output parameter"},
        {"--suffixes_output_max_size",
         "Number (max suffix size) expected after -suffixes_output_max_size parameter"},
    };
    for (const auto& [option, message] : missing) {
        resetAll();
        // The missing value wins even over the missing mode.
        EXPECT_EQ(parseError({"f", option}), message) << option;
    }
}

TEST_F(Parse, NumbersConvertLikeAtoi)
{
    ASSERT_TRUE(parse({"-c", "f", "-b", "abc", "--suffixes_output_max_size", "-1"}));
    EXPECT_EQ(blockSize, 0u);
    EXPECT_EQ(bwtPrintSuffixesToFileMaxSuffixSize, 4294967295u);

    resetAll();
    ASSERT_TRUE(parse({"-c", "f", "-b", "-5", "--suffixes_output_max_size", "12abc"}));
    EXPECT_EQ(blockSize, 4294967291u);
    EXPECT_EQ(bwtPrintSuffixesToFileMaxSuffixSize, 12u);

    EXPECT_EQ(parseNumberOption("  +42"), 42u);
    EXPECT_EQ(parseNumberOption("10000"), 10000u);
    EXPECT_EQ(parseNumberOption(""), 0u);
    EXPECT_EQ(parseNumberOption("0x10"), 0u);
    EXPECT_EQ(parseNumberOption("3000000000"), 3000000000u);
    // Far out of range: saturates instead of undefined behaviour.
    EXPECT_EQ(parseNumberOption("99999999999999999999999"), 4294967295u);
}

TEST_F(Parse, DumpFilesOpenAtTheirPositionAndStayCreated)
{
    ScratchDir dir;
    // The file exists even though a later check fails.
    EXPECT_EQ(parseError({"--bwt_output", dir / "early", "-c"}), "Input filename missing!");
    EXPECT_TRUE(std::filesystem::exists(dir / "early"));

    resetAll();
    writeFile(dir / "old", "previous contents");
    ASSERT_TRUE(parse({"-c", "f", "--mtf_histogram", dir / "old", "--suffix_array_output", dir / "sa"}));
    EXPECT_TRUE(printMTFHist && mtfHistFile.is_open());
    EXPECT_TRUE(bwtPrintSuffixArrayToFile);
    EXPECT_EQ(bwtSuffixArrayFile, &suffixArrayFile);
    EXPECT_FALSE(bwtPrintSuffixesToFile);
    EXPECT_EQ(bwtSuffixesFile, nullptr);
    mtfHistFile.close();
    EXPECT_EQ(readFile(dir / "old"), "");

    resetAll();
    ASSERT_TRUE(parse({"-c", "f", "--suffixes_output", dir / "sx", "--suffixes_output_max_size", "4"}));
    EXPECT_TRUE(bwtPrintSuffixesToFile);
    EXPECT_EQ(bwtSuffixesFile, &suffixesFile);
    EXPECT_EQ(bwtPrintSuffixesToFileMaxSuffixSize, 4u);

    // A repeated option moves the dump to its last file.
    resetAll();
    ASSERT_TRUE(parse({"-c", "f", "--dc_output", dir / "first", "--dc_output", dir / "second"}));
    dcOutFile << "x" << std::flush;
    EXPECT_EQ(readFile(dir / "first"), "");
    EXPECT_EQ(readFile(dir / "second"), "x");
}

TEST_F(Parse, UnopenableDumpFileNamesItsGroup)
{
    ScratchDir dir;
    const std::string bad = dir / "no/such/dir/file";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"--bwt_output", "Unable to open BWT output file: "},
        {"--mtf_output", "Unable to open MTF output file: "},
        {"--rle0_output", "Unable to open RLE0 output file: "},
        {"--dc_output", "Unable to open DC output file: "},
        {"--input_histogram", "Unable to open output histogram file: "},
        {"--mtf_histogram", "Unable to open output histogram file: "},
        {"--rle0_histogram", "Unable to open output histogram file: "},
        {"--dc_histogram", "Unable to open output histogram file: "},
        {"--suffix_array_output", "Unable to open output suffix array file: "},
        {"--suffixes_output", "Unable to open output suffixes file: "},
    };
    for (const auto& [option, prefix] : cases) {
        resetAll();
        EXPECT_EQ(parseError({"-c", "f", option, bad}), prefix + bad) << option;
    }
    EXPECT_FALSE(bwtPrintSuffixesToFile);
    EXPECT_EQ(bwtSuffixesFile, nullptr);
}

TEST_F(Parse, HelpFlag)
{
    // With -c the help text follows the warnings and compression goes on.
    ASSERT_TRUE(parse({"-c", "f", "-h", "-d", "-r"}));
    EXPECT_EQ(out, "WARNING: RLE0 compression flag (-r, --rle0) ignored when coding with DC coder.\n" +
                       testutil::expectedHelp());
    EXPECT_TRUE(compress && help);

    // Without a mode there is nothing to do after the help text.
    resetAll();
    ASSERT_TRUE(parse({"--help", "f"}));
    EXPECT_EQ(out, testutil::expectedHelp());
    EXPECT_FALSE(compress || decompress);
    EXPECT_EQ(ofilename, "");
}

TEST_F(Parse, RefusesToWriteOverFilesOfTheRun)
{
    namespace fs = std::filesystem;
    ScratchDir dir;
    const std::string input = dir / "in";
    const std::string dotted = (dir.path() / "." / "in").string();
    writeFile(input, "precious");
    fs::create_hard_link(input, dir / "hard");

    auto refused = [&](const std::vector<std::string>& args, const std::string& named) {
        resetAll();
        std::string message = parseError(args);
        EXPECT_NE(message.find(named), std::string::npos) << message;
        EXPECT_NE(message.find("same file"), std::string::npos) << message;
        EXPECT_EQ(readFile(input), "precious");
    };
    refused({"-c", input, "-o", dotted}, dotted);
    refused({"-c", input, "-o", dir / "hard"}, dir / "hard");
    refused({"-e", input, "-o", dir / "hard"}, dir / "hard");
    refused({"-c", input, "--test", dotted}, dotted);
    // Output and test file do not exist yet; they still may not coincide.
    refused({"-c", input, "-o", dir / "out", "--test", (dir.path() / "." / "out").string()}, dir / "out");
    // A dump may not empty the input, even when the input is named after it.
    refused({"-c", "--bwt_output", dotted, input}, dotted);
    refused({"-e", input, "--rle0_histogram", dir / "hard"}, dir / "hard");
    // Nor share a file with the output or another dump.
    refused({"-c", input, "-o", dir / "out", "--mtf_output", dir / "out"}, dir / "out");
    refused({"-c", input, "--input_histogram", input + ".varnQ27p"}, input + ".varnQ27p");
    refused({"-c", input, "--dc_histogram", dir / "d", "--mtf_histogram", dir / "d"}, dir / "d");
    EXPECT_FALSE(fs::exists(dir / "out"));

    // Extraction does not write the test file, so it is not checked.
    resetAll();
    EXPECT_TRUE(parse({"-e", input, "--test", input}));
}

// Whole files through packFile and unpackFile: the golden files byte for
// byte, the sample data at several block sizes, files whose blocks differ in
// size and method, a 25 MiB input at the block size cap, and every file of
// the standard corpora through the program's -c and -e.

#include "containertest.h"

#include <algorithm>
#include <cstdlib>
#include <random>

using namespace containertest;

namespace {

const std::string golden = VARN_GOLDEN_DIR;
const std::string data = VARN_TEST_DATA_DIR;

class RoundTrip : public FileTest {};

struct GoldenCase {
    std::string input;
    std::string suffix;
    Method method;
    unsigned blockSize;
};

const std::vector<GoldenCase>& goldenCases()
{
    static const std::vector<GoldenCase> cases = [] {
        std::vector<GoldenCase> v;
        for (const char* input : {"one-zero", "ab", "banana", "abracadabra", "ff-x300", "words"}) {
            v.push_back({input, "dc", Method::DC, 0});
            v.push_back({input, "mtf-ad", Method::MTFAdaptive, 0});
            v.push_back({input, "mtf-ad-norle", Method::MTFAdaptiveNoRLE0, 0});
            v.push_back({input, "mtf-st", Method::MTFStatic, 0});
            v.push_back({input, "mtf-st-norle", Method::MTFStaticNoRLE0, 0});
        }
        v.push_back({"words", "dc-b700", Method::DC, 700});
        return v;
    }();
    return cases;
}

std::vector<std::string> sampleFiles()
{
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(data))
        if (entry.is_regular_file()) files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

// A compressed file made of the blocks of separately compressed pieces.
std::string spliceBlocks(const std::vector<std::string>& packedPieces, unsigned total)
{
    std::string out = "VARN_Q27....";
    putLE32(out, 8, total);
    for (const std::string& piece : packedPieces) out += piece.substr(12);
    return out;
}

} // namespace

TEST_F(RoundTrip, GoldenFilesAreWrittenAndReadExactly)
{
    for (const GoldenCase& c : goldenCases()) {
        const std::string name = c.input + "." + c.suffix + ".varnQ27p";
        const std::string input = readFile(golden + "/" + c.input);
        const std::string expect = readFile(golden + "/" + name);
        ASSERT_FALSE(expect.empty()) << name;
        EXPECT_EQ(pack(input, c.method, c.blockSize), expect) << name;
        EXPECT_EQ(unpack(expect), input) << name;
    }
}

TEST_F(RoundTrip, SampleDataAtSeveralBlockSizes)
{
    for (const std::string& file : sampleFiles()) {
        const std::string input = readFile(file);
        for (unsigned block : {0u, 1000u, 4096u, 65536u})
            EXPECT_EQ(unpack(pack(input, Method::DC, block)), input) << file << " -b " << block;
    }
    // Tiny blocks: many headers, one- to three-byte BWTs.
    const std::string small = readFile(data + "/grammar.lsp");
    for (unsigned block : {1u, 2u, 3u})
        EXPECT_EQ(unpack(pack(small, Method::DC, block)), small) << "-b " << block;
    const std::string paper = readFile(data + "/paper1");
    EXPECT_EQ(unpack(pack(paper, Method::DC, 3)), paper);
    // The other pipelines through the same drivers.
    for (Method m : {Method::MTFAdaptive, Method::MTFAdaptiveNoRLE0, Method::MTFStatic, Method::MTFStaticNoRLE0})
        EXPECT_EQ(unpack(pack(paper, m, 5000)), paper) << int(m);
}

TEST_F(RoundTrip, InputsOfEdgeSizes)
{
    std::mt19937 rng(3);
    for (unsigned size : {1u, 2u, 1024u, 65537u}) {
        std::string noise(size, '\0'), text;
        for (auto& c : noise) c = static_cast<char>(rng());
        for (unsigned i = 0; i < size; ++i) text += "abcab cab "[rng() % 10];
        EXPECT_EQ(unpack(pack(noise)), noise) << size;
        EXPECT_EQ(unpack(pack(text)), text) << size;
        EXPECT_EQ(unpack(pack(text, Method::DC, 1000)), text) << size;
    }
}

TEST_F(RoundTrip, BlocksOfDifferentSizesAndMethodsInOneFile)
{
    // 3, 5 and 2 bytes.
    const std::string a = "abc", b = "defgh", c = "ij";
    std::string file = spliceBlocks({pack(a), pack(b), pack(c)}, 10);
    EXPECT_EQ(unpack(file), a + b + c);

    // Each block decodes with its own method; the zero-run setting follows
    // each MTF block's method code, whatever it was before.
    const std::string text = readFile(data + "/progc").substr(0, 6000);
    const std::string p1 = text.substr(0, 1500), p2 = text.substr(1500, 1500), p3 = text.substr(3000, 1500),
                      p4 = text.substr(4500);
    file = spliceBlocks({pack(p1, Method::MTFAdaptive), pack(p2, Method::MTFAdaptiveNoRLE0), pack(p3, Method::DC),
                         pack(p4, Method::MTFStaticNoRLE0)},
                        6000);
    EXPECT_EQ(unpack(file), text);
}

TEST_F(RoundTrip, LargestBlocksAtTheCap)
{
    // 25 MiB: two blocks of 10485760 bytes and one of 5242880.
    std::string input(25u << 20, '\0');
    std::mt19937 rng(11);
    for (size_t i = 0; i < input.size(); i += 4) {
        unsigned r = rng();
        input[i] = static_cast<char>(r);
        input[i + 1] = static_cast<char>(r >> 8 & 0x0F);
        input[i + 2] = 'x';
        input[i + 3] = static_cast<char>(r >> 16 & 0x03);
    }
    const std::string packed = pack(input, Method::DC, 0);
    std::vector<unsigned> sizes;
    for (size_t at : blockOffsets(packed)) sizes.push_back(getLE32(packed, at + 8));
    EXPECT_EQ(sizes, (std::vector<unsigned>{10485760, 10485760, 5242880}));
    EXPECT_TRUE(unpack(packed) == input);
}

// Every file of the standard corpora through the built program.
TEST_F(RoundTrip, CorporaThroughTheProgram)
{
    const fs::path corpus = fs::path(data) / ".." / ".." / ".." / "shared" / "corpus";
    if (!fs::is_directory(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
    unsigned files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(corpus)) {
        if (!entry.is_regular_file() || entry.path().filename() == "README.md") continue;
        const std::string in = entry.path().string();
        const std::string packed = path("packed"), back = path("back");
        const std::string quiet = " > /dev/null";
        ASSERT_EQ(std::system((std::string(VARN_BINARY) + " -c '" + in + "' -o '" + packed + "'" + quiet).c_str()), 0)
            << in;
        ASSERT_EQ(std::system((std::string(VARN_BINARY) + " -e '" + packed + "' -o '" + back + "'" + quiet).c_str()), 0)
            << in;
        EXPECT_TRUE(readFile(back) == readFile(in)) << in;
        ++files;
    }
    EXPECT_GE(files, 30u);
}

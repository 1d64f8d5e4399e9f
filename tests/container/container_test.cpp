// The compressed file format as the file drivers write and read it: header
// bytes, block cutting, every reader rejection with its exact message and in
// its order, truncation, payload sizes, console lines and I/O failures.

#include "containertest.h"

#include "container/format.h"

#include <algorithm>
#include <cstdio>

using namespace containertest;

namespace {

const std::string golden = VARN_GOLDEN_DIR;

class Writer : public FileTest {};
class Reader : public FileTest {};

std::string fileHeader(unsigned size)
{
    std::string h = "VARN_Q27....";
    putLE32(h, 8, size);
    return h;
}

} // namespace

TEST_F(Writer, HeadersOfASmallFile)
{
    const std::string packed = pack("ab");
    ASSERT_EQ(packed.size(), 42u);
    std::string expect = fileHeader(2) + "BLCK" + std::string(4, '\0') + std::string("\x02\0\0\0\x05\x01\0\0\0\0", 10);
    putLE32(expect, 16, 42 - 30);
    EXPECT_EQ(packed.substr(0, 30), expect);
    EXPECT_EQ(getLE32(packed, 30), 0u);  // payload: the primary index of "ab" first

    // Method and coder type of the other pipelines.
    const std::pair<Method, std::string> codes[] = {{Method::MTFAdaptive, "\x02\x01"},
                                                    {Method::MTFAdaptiveNoRLE0, std::string("\x01\x01")},
                                                    {Method::MTFStatic, std::string("\x02\x00", 2)},
                                                    {Method::MTFStaticNoRLE0, std::string("\x01\x00", 2)}};
    for (auto& c : codes) {
        std::string p = pack("ab", c.first);
        EXPECT_EQ(p.substr(24, 2), c.second);
        EXPECT_EQ(getLE32(p, 16), p.size() - 30);
        EXPECT_EQ(getLE32(p, 26), 0u);
    }
}

TEST_F(Writer, CutsTheInputIntoBlocksOfTheBlockSize)
{
    auto sizesOf = [](const std::string& packed) {
        std::vector<unsigned> sizes;
        size_t end = 12;
        for (size_t at : blockOffsets(packed)) {
            EXPECT_EQ(packed.substr(at, 4), "BLCK");
            sizes.push_back(getLE32(packed, at + 8));
            end = at + 18 + getLE32(packed, at + 4);
        }
        EXPECT_EQ(end, packed.size());  // exact payload sizes, nothing after the last
        return sizes;
    };
    const std::string input(3000, 'q');
    EXPECT_EQ(sizesOf(pack(input, Method::DC, 1000)), (std::vector<unsigned>{1000, 1000, 1000}));
    EXPECT_EQ(sizesOf(pack(input + "r", Method::DC, 1000)), (std::vector<unsigned>{1000, 1000, 1000, 1}));
    EXPECT_EQ(sizesOf(pack(input, Method::DC, 0)), std::vector<unsigned>{3000});
    EXPECT_EQ(sizesOf(pack(input, Method::DC, 20000000)), std::vector<unsigned>{3000});
    EXPECT_EQ(sizesOf(pack("x", Method::DC, 3)), std::vector<unsigned>{1});
    // A block size above the cap is cut to it.
    EXPECT_EQ(sizesOf(pack(std::string(10485761, 'q'), Method::DC, 20000000)),
              (std::vector<unsigned>{10485760, 1}));
}

TEST_F(Writer, SummaryAndVerboseLines)
{
    const PackSettings dc = settingsFor(Method::DC);
    writeFile(path("in"), readFile(golden + "/ff-x300"));
    std::string out;
    {
        CaptureStdout capture;
        packFile(path("in").c_str(), path("packed").c_str(), dc, nullptr, false);
        out = capture.text();
        EXPECT_EQ(std::cout.precision(), 3);  // stays in force for later lines
    }
    // 56 bytes for 300: 81.3% saved, 1.49 bits per character.
    const std::string summary = "Compressed data size: 56 (81.3%, bpc 1.49)\nCompression time: ";
    ASSERT_EQ(out.substr(0, summary.size()), summary);
    EXPECT_EQ(out.back(), '\n');
    EXPECT_EQ(out.find("Opening input file: "), std::string::npos);

    // Larger than its input: a negative saving and more than 8 bits per byte.
    writeFile(path("in"), "ab");
    {
        CaptureStdout capture;
        packFile(path("in").c_str(), path("packed").c_str(), dc, nullptr, false);
        out = capture.text();
    }
    EXPECT_EQ(out.substr(0, out.find('\n') + 1), "Compressed data size: 42 (-2e+03%, bpc 168)\n");

    // The container's own verbose lines; the block lines come from the
    // observer.
    writeFile(path("in"), "abc");
    {
        CaptureStdout capture;
        packFile(path("in").c_str(), path("packed").c_str(), settingsFor(Method::DC, 2), nullptr, true);
        out = capture.text();
    }
    const std::string head = "Opening input file: " + path("in") + "\nInput file size: 3\nCompressed data size: ";
    EXPECT_EQ(out.substr(0, head.size()), head);
}

TEST_F(Writer, RefusesWhatItCannotCompress)
{
    const PackSettings dc = settingsFor(Method::DC);
    const std::string in = path("in"), out = path("out");
    EXPECT_EQ(messageOf([&] { packFile(path("missing").c_str(), out.c_str(), dc, nullptr, false); }),
              "Unable to open input file: " + path("missing"));
    EXPECT_FALSE(fs::exists(out));

    writeFile(in, "data");
    const std::string noDir = path("no/such/dir");
    EXPECT_EQ(messageOf([&] { packFile(in.c_str(), noDir.c_str(), dc, nullptr, false); }),
              "Unable to open output file: " + noDir);

    writeFile(in, "");
    EXPECT_EQ(messageOf([&] { packFile(in.c_str(), out.c_str(), dc, nullptr, false); }),
              "Cannot compress empty file (file size is 0)");
    // A failed run leaves no output behind.
    EXPECT_FALSE(fs::exists(out));

    // No method chosen: refused; an earlier file of the output's name stays
    // as it was.
    writeFile(in, "data");
    writeFile(out, "earlier");
    PackSettings none = dc;
    none.block.method = 0;
    EXPECT_EQ(messageOf([&] { packFile(in.c_str(), out.c_str(), none, nullptr, false); }),
              "Unsupported compression method");
    EXPECT_EQ(readFile(out), "earlier");
}

TEST_F(Writer, InputTooLargeForTheHeaderIsRefusedBeforeTheOutputExists)
{
    // A sparse file: no disk space is used.
    const std::string in = path("huge"), out = path("out");
    { std::ofstream create(in, std::ios::binary); }
    std::error_code ec;
    fs::resize_file(in, 4294967296ull, ec);
    if (ec) GTEST_SKIP() << "cannot make a 4 GiB sparse file here: " << ec.message();
    const std::string message =
        messageOf([&] { packFile(in.c_str(), out.c_str(), settingsFor(Method::DC), nullptr, false); });
    EXPECT_NE(message.find("too large"), std::string::npos) << message;
    EXPECT_NE(message.find(in), std::string::npos) << message;
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(Writer, WriteFailureIsAnError)
{
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    writeFile(path("in"), readFile(golden + "/words"));
    const std::string message =
        messageOf([&] { packFile(path("in").c_str(), "/dev/full", settingsFor(Method::DC), nullptr, false); });
    EXPECT_EQ(message, "Unable to write output file: /dev/full");
}

TEST_F(Reader, RejectionsComeWithTheirMessagesInOrder)
{
    const std::string good = readFile(golden + "/ab.dc.varnQ27p");
    ASSERT_EQ(good.size(), 42u);
    // Field offsets of the only block header.
    const size_t id = 12, blockSizeAt = 20, methodAt = 24, coderAt = 25;
    auto with = [&](std::function<void(std::string&)> change) {
        std::string p = good;
        change(p);
        return unpackError(p);
    };
    const std::string badFile = "Invalid file (header id does not match).";
    const std::string badBlock = "Invalid block (header id does not match).";
    const std::string badCoder = "Invalid arithmetic coder type (maybe block is corrupted?)";
    const std::string zeroSize = "Wrong block size in packed size. Block cannot have size of 0.";
    const std::string wrongSize = "Wrong block size in packed file (this may also mean some other error).";
    const std::string dcStatic = "Unsupported compression method (DC can't use static coder).";
    const std::string badMethod = "Unsupported compression method.";

    EXPECT_EQ(with([](std::string& p) { p[7] = '8'; }), badFile);
    EXPECT_EQ(unpackError("VARN"), badFile);
    // Each line breaks the check of its message and every later one too.
    EXPECT_EQ(with([&](std::string& p) { p[id + 3] = 'X'; p[coderAt] = 9; p[methodAt] = 3; putLE32(p, blockSizeAt, 0); }),
              badBlock);
    EXPECT_EQ(with([&](std::string& p) { p[coderAt] = 2; p[methodAt] = 3; putLE32(p, blockSizeAt, 0); }), badCoder);
    EXPECT_EQ(with([&](std::string& p) { p[coderAt] = 2; }), badCoder);
    EXPECT_EQ(with([&](std::string& p) { putLE32(p, blockSizeAt, 0); p[methodAt] = 3; }), zeroSize);
    EXPECT_EQ(with([&](std::string& p) { putLE32(p, blockSizeAt, 3); p[methodAt] = 5; p[coderAt] = 0; }), wrongSize);
    EXPECT_EQ(with([&](std::string& p) { p[methodAt] = 5; p[coderAt] = 0; }), dcStatic);
    for (int method : {0, 3, 4, 6, 255})
        EXPECT_EQ(with([&](std::string& p) { p[methodAt] = static_cast<char>(method); }), badMethod) << method;

    // No output is left behind, not even when the file header is rejected.
    EXPECT_FALSE(fs::exists(path("unpacked")));
}

TEST_F(Reader, OversizedBlocksAreRefusedBeforeAllocation)
{
    // The file size is raised too, so only the cap on the block size can stop
    // a header that asks for gigabytes.
    std::string p = readFile(golden + "/ab.dc.varnQ27p");
    for (unsigned size : {10485761u, 0x80000000u, 0xFFFFFFFFu}) {
        putLE32(p, 8, size);
        putLE32(p, 20, size);
        EXPECT_EQ(unpackError(p), "Wrong block size in packed file (this may also mean some other error).");
    }
}

TEST_F(Reader, TruncatedFilesAreRejectedBeforeDecoding)
{
    const std::string good = readFile(golden + "/words.dc-b700.varnQ27p");
    const std::vector<size_t> blocks = blockOffsets(good);
    ASSERT_GE(blocks.size(), 3u);
    // Inside the file header, a block header, a payload; at a block boundary.
    const size_t cuts[] = {9, 12, 12 + 7, blocks[0] + 18 + 5, blocks[1], blocks[1] + 17, blocks[2] + 18, good.size() - 1};
    for (size_t cut : cuts) {
        const std::string message = unpackError(good.substr(0, cut));
        EXPECT_EQ(message.rfind("Truncated or corrupt file: " + path("packed") + " ends inside ", 0), 0u)
            << "cut at " << cut << ": " << message;
    }
    // The blocks before the truncated one were written, but not under the
    // output's name.
    unpackError(good.substr(0, blocks[2] + 18 + 5));
    EXPECT_FALSE(fs::exists(path("unpacked")));
}

TEST_F(Reader, PayloadSizeDecidesWhereThePayloadEnds)
{
    const std::string input = readFile(golden + "/words");
    const std::string good = readFile(golden + "/words.dc-b700.varnQ27p");
    const std::vector<size_t> blocks = blockOffsets(good);
    const size_t last = blocks.back();
    const unsigned lastPayload = getLE32(good, last + 4);

    // Trailing bytes after the last block are never read.
    EXPECT_EQ(unpack(good + "trailing bytes"), input);
    // A last payload said to be a few bytes shorter is cut: the block cannot
    // decode from what is left.
    std::string p = good;
    putLE32(p, last + 4, lastPayload - 3);
    EXPECT_NE(unpackError(p), "");
    // A few bytes longer needs them to exist in the file; with them there,
    // they are part of the payload, and the block decodes to its bytes or is
    // rejected, never to other bytes.
    putLE32(p, last + 4, lastPayload + 3);
    EXPECT_NE(unpackError(p).find("Truncated or corrupt file"), std::string::npos);
    if (unpackError(p + "xyz").empty()) {
        EXPECT_EQ(readFile(path("unpacked")), input);
    }
    // An earlier block's payload size off by a few bytes: its code no longer
    // ends where its payload does, which shows before the next header is read.
    for (int delta : {-2, 1, 3}) {
        p = good;
        const unsigned size = getLE32(good, blocks[0] + 4) + delta;
        putLE32(p, blocks[0] + 4, size);
        EXPECT_EQ(unpackError(p), "Corrupt block: its code does not end where its payload of " +
                                      std::to_string(size) + " bytes ends.")
            << delta;
    }
}

TEST_F(Reader, EmptyFileOfNoBlocksAndTheTimingLine)
{
    writeFile(path("packed"), fileHeader(0));
    std::string out;
    {
        CaptureStdout capture;
        unpackFile(path("packed").c_str(), path("unpacked").c_str(), nullptr, false);
        out = capture.text();
    }
    EXPECT_TRUE(fs::exists(path("unpacked")));
    EXPECT_EQ(fs::file_size(path("unpacked")), 0u);
    EXPECT_EQ(out.rfind("Decompression time: ", 0), 0u);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);

    // The container's own verbose line; the block lines come from the
    // observer.
    writeFile(path("packed"), readFile(golden + "/words.dc-b700.varnQ27p"));
    {
        CaptureStdout capture;
        unpackFile(path("packed").c_str(), path("unpacked").c_str(), nullptr, true);
        out = capture.text();
    }
    EXPECT_EQ(out.rfind("Opening input file: " + path("packed") + "\nDecompression time: ", 0), 0u);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2);
}

TEST_F(Reader, WriteFailureIsAnError)
{
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    const std::string in = golden + "/words.dc.varnQ27p";
    EXPECT_EQ(messageOf([&] { unpackFile(in.c_str(), "/dev/full", nullptr, false); }),
              "Unable to write output file: /dev/full");
    EXPECT_EQ(messageOf([&] { unpackFile(path("missing").c_str(), path("out").c_str(), nullptr, false); }),
              "Unable to open input file: " + path("missing"));
    EXPECT_EQ(messageOf([&] { unpackFile(in.c_str(), path("no/dir/out").c_str(), nullptr, false); }),
              "Unable to open output file: " + path("no/dir/out"));
}

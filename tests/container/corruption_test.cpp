// Corrupt and truncated compressed files fed to unpackFile: truncation at
// every byte, every single-bit flip in the headers and the first 64 bytes of
// each payload, header fields set to extreme values. Every case must either
// be rejected with an Exception or extract to the original bytes; a change
// inside a payload, or a method or coder code that makes the payload be read
// by another valid decoder, may also extract to other bytes of the same
// length, because the format carries no checksum. Anything else (a crash, a
// sanitizer report, another exception type, an output of the wrong length)
// fails the test.

#include "container/container.h"
#include "diag/exception.h"
#include "testcommon.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using testcommon::getLE32;
using testcommon::putLE32;
using testcommon::readFile;
using testcommon::writeFile;

// Layout of the headers, as offsets into the file or a block.
const size_t fileSizeField = 8, fileHeaderSize = 12;
const size_t payloadSizeField = 4, blockSizeField = 8, methodField = 12, coderField = 13, reservedField = 14,
             blockHeaderSize = 18;

// One valid compressed file, its original bytes and where its blocks start.
struct Sample {
    std::string name;
    std::string packed;
    std::string original;
    std::vector<size_t> blocks;
};

Sample loadSample(const std::string& base, const std::string& variant)
{
    Sample s;
    s.name = base + "." + variant;
    s.packed = readFile(std::string(VARN_GOLDEN_DIR) + "/" + s.name + ".varnQ27p");
    s.original = readFile(std::string(VARN_GOLDEN_DIR) + "/" + base);
    for (size_t at = fileHeaderSize; at + blockHeaderSize <= s.packed.size();
         at += blockHeaderSize + getLE32(s.packed, at + payloadSizeField))
        s.blocks.push_back(at);
    return s;
}

// Every method/coder pair over inputs with one symbol, a few symbols, long
// runs and text, plus a file of several blocks.
const std::vector<Sample>& samples()
{
    static const std::vector<Sample> all = [] {
        std::vector<Sample> v;
        for (const char* base : {"one-zero", "banana", "ff-x300", "words"})
            for (const char* variant : {"dc", "mtf-ad", "mtf-ad-norle", "mtf-st", "mtf-st-norle"})
                v.push_back(loadSample(base, variant));
        v.push_back(loadSample("words", "dc-b700"));
        return v;
    }();
    return all;
}

enum Outcome : unsigned { Rejected = 1, Original = 2, Other = 4, Empty = 8 };

const char* outcomeName(unsigned o)
{
    switch (o) {
    case Rejected: return "rejected";
    case Original: return "the original bytes";
    case Other: return "other bytes of the original length";
    case Empty: return "an empty output";
    default: return "output of the wrong length";
    }
}

class Corruption : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("varn_corruption_" + std::to_string(getpid()));
        fs::create_directories(dir);
        // unpackFile prints its timing line for every case; keep the log readable.
        savedCout = std::cout.rdbuf(discard.rdbuf());
    }
    void TearDown() override
    {
        std::cout.rdbuf(savedCout);
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    // Extracts `packed`; the result is one Outcome bit, or 0 for an output
    // whose length is not the original's.
    unsigned extract(const Sample& s, const std::string& packed)
    {
        const std::string in = (dir / "in").string(), out = (dir / "out").string();
        writeFile(in, packed);
        try {
            unpackFile(in.c_str(), out.c_str(), nullptr, false);
        } catch (const Exception&) {
            return Rejected;
        }
        const std::string result = readFile(out);
        if (result == s.original) return Original;
        if (result.empty()) return Empty;
        return result.size() == s.original.size() ? unsigned(Other) : 0u;
    }

    void expectOutcome(const Sample& s, const std::string& packed, unsigned allowed, const std::string& what)
    {
        const unsigned got = extract(s, packed);
        ++counts[got];
        EXPECT_TRUE(got & allowed) << s.name << ", " << what << ": " << outcomeName(got);
    }

    fs::path dir;
    std::ostringstream discard;
    std::streambuf* savedCout = nullptr;
    unsigned counts[16] = {};
};

TEST_F(Corruption, TheSamplesThemselvesExtract)
{
    for (const Sample& s : samples()) {
        ASSERT_FALSE(s.packed.empty()) << s.name;
        ASSERT_FALSE(s.blocks.empty()) << s.name;
        EXPECT_EQ(extract(s, s.packed), Original) << s.name;
    }
}

// A file the writer produced ends right after its last payload, so every
// shorter prefix lacks part of a header or a payload.
TEST_F(Corruption, TruncationAtEveryOffsetIsRejected)
{
    for (const Sample& s : samples())
        for (size_t len = 0; len < s.packed.size(); ++len)
            expectOutcome(s, s.packed.substr(0, len), Rejected, "truncated to " + std::to_string(len) + " bytes");
}

TEST_F(Corruption, BitFlipsInTheFileHeader)
{
    for (const Sample& s : samples())
        for (size_t bit = 0; bit < 8 * fileHeaderSize; ++bit) {
            std::string p = s.packed;
            p[bit / 8] ^= static_cast<char>(1 << (bit % 8));
            // A size that became 0 announces an empty file, which is valid.
            const unsigned allowed = getLE32(p, fileSizeField) == 0 ? Rejected | Empty : Rejected;
            expectOutcome(s, p, allowed, "file header bit " + std::to_string(bit));
        }
}

TEST_F(Corruption, BitFlipsInBlockHeaders)
{
    for (const Sample& s : samples())
        for (size_t b = 0; b < s.blocks.size(); ++b) {
            const size_t at = s.blocks[b];
            const bool last = b + 1 == s.blocks.size();
            for (size_t bit = 0; bit < 8 * blockHeaderSize; ++bit) {
                const size_t field = bit / 8;
                std::string p = s.packed;
                p[at + field] ^= static_cast<char>(1 << (bit % 8));
                unsigned allowed = Rejected;
                if (field >= reservedField) {
                    allowed = Original;  // read and ignored
                } else if (field >= payloadSizeField && field < blockSizeField) {
                    // Moves where the next header is read. The last block has
                    // none: a larger size passes the file's end, a smaller one
                    // cuts bytes its decoder needs, unless they were padding.
                    allowed = last ? Rejected | Original : Rejected;
                } else if (field == methodField || field == coderField) {
                    // Another valid method/coder pair reads the same payload
                    // with a different decoder: undetectable without a checksum.
                    const unsigned method = static_cast<unsigned char>(p[at + methodField]);
                    const unsigned coder = static_cast<unsigned char>(p[at + coderField]);
                    if (((method == 1 || method == 2) && coder <= 1) || (method == 5 && coder == 1))
                        allowed = Rejected | Original | Other;
                }
                expectOutcome(s, p, allowed,
                              "block " + std::to_string(b) + " header bit " + std::to_string(bit));
            }
        }
}

TEST_F(Corruption, BitFlipsInPayloadsNeverCrash)
{
    for (const Sample& s : samples())
        for (size_t b = 0; b < s.blocks.size(); ++b) {
            const size_t start = s.blocks[b] + blockHeaderSize;
            const size_t size = getLE32(s.packed, s.blocks[b] + payloadSizeField);
            for (size_t bit = 0; bit < 8 * std::min<size_t>(size, 64); ++bit) {
                std::string p = s.packed;
                p[start + bit / 8] ^= static_cast<char>(1 << (bit % 8));
                expectOutcome(s, p, Rejected | Original | Other,
                              "block " + std::to_string(b) + " payload bit " + std::to_string(bit));
            }
        }
    // How often a flipped payload bit went unnoticed, for the record.
    std::cerr << "payload bit flips: " << counts[Rejected] << " rejected, " << counts[Original]
              << " extracted unchanged, " << counts[Other] << " extracted to other bytes\n";
}

TEST_F(Corruption, HeaderFieldsSetToExtremeValues)
{
    const uint32_t values[] = {0, 1, 0xFFFFFFFFu};
    for (const Sample& s : samples()) {
        const uint32_t total = static_cast<uint32_t>(s.original.size());
        for (uint32_t v : values) {
            const std::string value = std::to_string(v);
            std::string p = s.packed;
            for (size_t i = 0; i < 8; ++i) p[i] = static_cast<char>(v);
            expectOutcome(s, p, Rejected, "magic bytes all " + value);

            p = s.packed;
            putLE32(p, fileSizeField, v);
            expectOutcome(s, p, v == 0 ? Empty : v == total ? Original : Rejected, "file size " + value);

            for (size_t b = 0; b < s.blocks.size(); ++b) {
                const size_t at = s.blocks[b];
                const bool last = b + 1 == s.blocks.size();
                const uint32_t blockSize = getLE32(s.packed, at + blockSizeField);
                const std::string where = "block " + std::to_string(b) + " ";

                p = s.packed;
                putLE32(p, at, v);
                expectOutcome(s, p, Rejected, where + "id " + value);

                p = s.packed;
                putLE32(p, at + payloadSizeField, v);
                expectOutcome(s, p, last ? Rejected | Original : Rejected, where + "payload size " + value);

                p = s.packed;
                putLE32(p, at + blockSizeField, v);
                expectOutcome(s, p, v == blockSize ? Original : Rejected, where + "block size " + value);

                const unsigned char method = static_cast<unsigned char>(s.packed[at + methodField]);
                const unsigned char coder = static_cast<unsigned char>(s.packed[at + coderField]);
                p = s.packed;
                p[at + methodField] = static_cast<char>(v);
                unsigned allowed = Rejected;
                if ((v & 0xFF) == method) allowed = Original;
                else if ((v & 0xFF) == 1) allowed = Rejected | Original | Other;  // MTF reads any payload
                expectOutcome(s, p, allowed, where + "method " + value);

                p = s.packed;
                p[at + coderField] = static_cast<char>(v);
                allowed = Rejected;
                if ((v & 0xFF) == coder) allowed = Original;
                else if ((v & 0xFF) <= 1 && method != 5) allowed = Rejected | Original | Other;
                expectOutcome(s, p, allowed, where + "coder type " + value);

                p = s.packed;
                putLE32(p, at + reservedField, v);
                expectOutcome(s, p, Original, where + "reserved " + value);
            }
        }
    }
}

// Block sizes past what the file announces, past the largest block the
// writer makes, and the largest value, each also with the file size raised
// to match so that only the block size check itself can stop it: a reader
// that allocated what such a header asks for could be made to take 4 GiB.
TEST_F(Corruption, OversizedBlocksAreRejectedBeforeAllocation)
{
    for (const Sample& s : samples()) {
        const size_t at = s.blocks.back();
        uint32_t before = 0;
        for (size_t b = 0; b + 1 < s.blocks.size(); ++b) before += getLE32(s.packed, s.blocks[b] + blockSizeField);
        const uint32_t remaining = static_cast<uint32_t>(s.original.size()) - before;
        for (uint32_t blockSize : {remaining + 1, 10485761u, 0xFFFFFFFFu}) {
            std::string p = s.packed;
            putLE32(p, at + blockSizeField, blockSize);
            expectOutcome(s, p, Rejected, "last block size " + std::to_string(blockSize));
            if (blockSize == remaining + 1) continue;
            putLE32(p, fileSizeField, before + blockSize < before ? 0xFFFFFFFFu : before + blockSize);
            expectOutcome(s, p, Rejected, "last block size and file size " + std::to_string(blockSize));
        }
    }
}

} // namespace

// Single bit flips anywhere in the payloads of a 20 KB text in 7000-byte
// blocks, 900 per method: the share that extracts to other bytes without an
// error. The decoders check that a code ends exactly where its payload
// ends, which leaves few damaged payloads undetected.
TEST(SilentCorruption, SingleBitFlipsInPayloadsAreMostlyCaught)
{
    class StringSink : public ByteSink {
    public:
        void write(const void* src, std::size_t n) override { text.append(static_cast<const char*>(src), n); }
        std::string text;
    };
    const std::string original = readFile(std::string(VARN_TEST_DATA_DIR) + "/paper1").substr(0, 20000);
    const struct {
        const char* name;
        BlockSettings block;
        double allowedPercent;
    } modes[] = {{"dc", {methodDC, coderAdaptive}, 0.5},
                 {"-m", {methodMTFRLE0, coderAdaptive}, 5},
                 {"-m --norle0", {methodMTF, coderAdaptive}, 5},
                 {"-m -s", {methodMTFRLE0, coderStatic}, 5},
                 {"-m --norle0 -s", {methodMTF, coderStatic}, 5}};
    std::uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    for (const auto& mode : modes) {
        PackSettings settings;
        settings.block = mode.block;
        settings.blockSize = 7000;
        MemorySource in(original.data(), original.size());
        StringSink packed;
        compressStream(in, static_cast<unsigned>(original.size()), packed, settings, "sample");
        // The payloads' bit positions.
        std::vector<std::pair<size_t, size_t>> payloads;
        for (size_t at = fileHeaderSize; at < packed.text.size();) {
            const size_t size = getLE32(packed.text, at + payloadSizeField);
            payloads.push_back({at + blockHeaderSize, size});
            at += blockHeaderSize + size;
        }
        size_t totalBits = 0;
        for (auto& p : payloads) totalBits += 8 * p.second;
        unsigned silent = 0;
        const unsigned flips = 900;
        for (unsigned i = 0; i < flips; ++i) {
            size_t bit = next() % totalBits;
            size_t byte = 0;
            for (auto& p : payloads) {
                if (bit < 8 * p.second) {
                    byte = p.first + bit / 8;
                    break;
                }
                bit -= 8 * p.second;
            }
            std::string damaged = packed.text;
            damaged[byte] = static_cast<char>(damaged[byte] ^ (1 << (bit % 8)));
            MemorySource source(damaged.data(), damaged.size());
            StringSink out;
            try {
                extractStream(source, out, "damaged");
            } catch (const Exception&) {
                continue;
            }
            if (out.text != original) ++silent;
        }
        EXPECT_LE(100.0 * silent / flips, mode.allowedPercent) << mode.name << ": " << silent << " of " << flips;
    }
}

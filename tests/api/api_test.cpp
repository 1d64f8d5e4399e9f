// The C interface: golden bytes, bounds, error codes, block records, threads.

#include "api/varnq27.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

using Bytes = std::string;

Bytes readFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    EXPECT_TRUE(f.is_open()) << path;
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

Bytes golden(const std::string& name) { return readFile(std::string(VARN_GOLDEN_DIR) + "/" + name); }

// The five method/coder pairs, named as the golden files are.
struct Mode {
    const char* name;
    int method, zeroRuns, staticCoder;
};
const Mode modes[] = {
    {"dc", VARNQ27_METHOD_DC, 1, 0},
    {"mtf-ad", VARNQ27_METHOD_MTF, 1, 0},
    {"mtf-ad-norle", VARNQ27_METHOD_MTF, 0, 0},
    {"mtf-st", VARNQ27_METHOD_MTF, 1, 1},
    {"mtf-st-norle", VARNQ27_METHOD_MTF, 0, 1},
};

varnq27_params paramsOf(const Mode& m, unsigned blockSize = 0, int threads = 0)
{
    varnq27_params p;
    varnq27_default_params(&p);
    p.method = m.method;
    p.zero_runs = m.zeroRuns;
    p.static_coder = m.staticCoder;
    p.block_size = blockSize;
    p.threads = threads;
    return p;
}

varnq27_error_code codeOf(size_t r) { return varnq27_get_error_code(r); }

// Compresses into a buffer of exactly the bound; fails the test on error.
Bytes compress(const Bytes& in, const varnq27_params* p)
{
    const size_t bound = varnq27_compress_bound_params(in.size(), p);
    EXPECT_FALSE(varnq27_is_error(bound));
    Bytes out(bound, '\0');
    const size_t n = varnq27_compress(&out[0], out.size(), in.data(), in.size(), p);
    EXPECT_FALSE(varnq27_is_error(n)) << varnq27_error_name(n);
    out.resize(varnq27_is_error(n) ? 0 : n);
    return out;
}

Bytes decompress(const Bytes& packed)
{
    const unsigned long long size = varnq27_decompressed_size(packed.data(), packed.size());
    EXPECT_NE(size, VARNQ27_CONTENT_SIZE_ERROR);
    Bytes out(size, '\0');
    const size_t n = varnq27_decompress(&out[0], out.size(), packed.data(), packed.size());
    EXPECT_EQ(n, size) << varnq27_error_name(n);
    return out;
}

Bytes randomBytes(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    Bytes s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng());
    return s;
}

const char* const goldenInputs[] = {"one-zero", "ab", "banana", "abracadabra", "ff-x300", "words"};

TEST(Api, SameBytesAsTheProgramForEveryMode)
{
    for (const char* input : goldenInputs) {
        const Bytes in = golden(input);
        for (const Mode& m : modes) {
            SCOPED_TRACE(std::string(input) + " " + m.name);
            const Bytes expected = golden(std::string(input) + "." + m.name + ".varnQ27p");
            const varnq27_params p = paramsOf(m);
            EXPECT_EQ(compress(in, &p), expected);
            EXPECT_EQ(decompress(expected), in);
            EXPECT_EQ(varnq27_decompressed_size(expected.data(), expected.size()), in.size());
        }
        EXPECT_EQ(compress(in, nullptr), golden(std::string(input) + ".dc.varnQ27p")) << "defaults are -c";
    }
    const varnq27_params b700 = paramsOf(modes[0], 700);
    EXPECT_EQ(compress(golden("words"), &b700), golden("words.dc-b700.varnQ27p"));
}

// Incompressible and degenerate data in tiny blocks: the bound must hold
// for every mode, block size and thread count, and each round trip must be
// exact. Block size 1 is the worst case for headers and static tables.
TEST(Api, BoundHoldsOnAdversarialInputs)
{
    std::vector<Bytes> inputs = {randomBytes(1500, 1), Bytes(1200, '\xff'), randomBytes(1, 2)};
    Bytes allBytes;
    for (int rep = 0; rep < 2; ++rep)
        for (int c = 0; c < 256; ++c) allBytes += static_cast<char>(rep % 2 ? 255 - c : c);
    inputs.push_back(allBytes);
    for (const Bytes& in : inputs)
        for (const Mode& m : modes)
            for (unsigned blockSize : {0u, 1u, 3u, 255u, 1000u}) {
                SCOPED_TRACE(std::string(m.name) + " b" + std::to_string(blockSize) + " n" + std::to_string(in.size()));
                const varnq27_params p = paramsOf(m, blockSize, blockSize == 3 ? 2 : 1);
                const Bytes packed = compress(in, &p);
                ASSERT_FALSE(packed.empty());
                if (blockSize == 0) {
                    EXPECT_LE(packed.size(), varnq27_compress_bound(in.size()));
                }
                EXPECT_EQ(decompress(packed), in);
            }
}

// A random block of the largest size, where the coders' expansion peaks
// (distance coding expands random data the most).
TEST(Api, BoundHoldsOnARandomMaximalBlock)
{
    const Bytes big = randomBytes(VARNQ27_BLOCK_SIZE_MAX + 5, 3);
    const Bytes packed = compress(big, nullptr);
    EXPECT_LE(packed.size(), varnq27_compress_bound(big.size()));
    EXPECT_EQ(decompress(packed), big);
}

TEST(Api, EveryDestinationBelowTheNeededSizeIsTooSmall)
{
    const Bytes in = golden("abracadabra");
    for (const Mode& m : modes) {
        SCOPED_TRACE(m.name);
        const varnq27_params p = paramsOf(m, 4);  // three blocks
        const Bytes packed = compress(in, &p);
        Bytes dst(packed.size(), '\0');
        for (size_t cap = 0; cap < packed.size(); ++cap)
            ASSERT_EQ(codeOf(varnq27_compress(&dst[0], cap, in.data(), in.size(), &p)), VARNQ27_ERROR_DST_TOO_SMALL)
                << cap;
        EXPECT_EQ(varnq27_compress(&dst[0], dst.size(), in.data(), in.size(), &p), packed.size());
        EXPECT_EQ(dst, packed);
        Bytes out(in.size(), '\0');
        for (size_t cap = 0; cap < in.size(); ++cap)
            ASSERT_EQ(codeOf(varnq27_decompress(&out[0], cap, packed.data(), packed.size())),
                      VARNQ27_ERROR_DST_TOO_SMALL)
                << cap;
    }
}

TEST(Api, TruncatedAndTrailingInputAreErrors)
{
    for (const char* name : {"words.dc-b700.varnQ27p", "abracadabra.mtf-st.varnQ27p", "ff-x300.mtf-ad-norle.varnQ27p"}) {
        SCOPED_TRACE(name);
        const Bytes packed = golden(name);
        Bytes out(100000, '\0');
        for (size_t len = 0; len < packed.size(); ++len)
            ASSERT_EQ(codeOf(varnq27_decompress(&out[0], out.size(), packed.data(), len)), VARNQ27_ERROR_TRUNCATED)
                << len;
        const Bytes longer = packed + '\0';
        EXPECT_EQ(codeOf(varnq27_decompress(&out[0], out.size(), longer.data(), longer.size())),
                  VARNQ27_ERROR_TRAILING_DATA);
        EXPECT_EQ(varnq27_find_compressed_size(longer.data(), longer.size()), packed.size());
    }
}

TEST(Api, DamagedInputIsAnErrorOrDecodesToTheRightSize)
{
    const Bytes packed = golden("words.dc-b700.varnQ27p");
    const size_t size = golden("words").size();
    // Header fields: each of these must be refused. Blocks that add up to
    // less than the announced size look like a file that ends too early.
    struct Patch {
        size_t offset;
        unsigned char value;
        varnq27_error_code expected;
    };
    const Patch refused[] = {
        {0, 'X', VARNQ27_ERROR_CORRUPT},          // magic
        {12, 'b', VARNQ27_ERROR_CORRUPT},         // block id
        {12 + 8, 0, VARNQ27_ERROR_TRUNCATED},     // block size 700 -> 512
        {12 + 10, 1, VARNQ27_ERROR_CORRUPT},      // block size beyond the announced total
        {12 + 12, 9, VARNQ27_ERROR_CORRUPT},      // method
        {12 + 13, 2, VARNQ27_ERROR_CORRUPT},      // coder type
        {12 + 13, 0, VARNQ27_ERROR_CORRUPT},      // distance coding with the static coder
        {12 + 7, 0x7f, VARNQ27_ERROR_CORRUPT},    // payload size far beyond the bound
        {9, 0, VARNQ27_ERROR_CORRUPT},            // announced size 8, less than the first block
    };
    Bytes out(size, '\0');
    for (const Patch& p : refused) {
        Bytes bad = packed;
        bad[p.offset] = static_cast<char>(p.value);
        EXPECT_EQ(codeOf(varnq27_decompress(&out[0], out.size(), bad.data(), bad.size())), p.expected) << p.offset;
    }
    // Any flipped bit: either an error code or the announced size.
    for (size_t bit = 0; bit < packed.size() * 8; ++bit) {
        Bytes bad = packed;
        bad[bit / 8] = static_cast<char>(bad[bit / 8] ^ (1 << (bit % 8)));
        Bytes big(1 << 16, '\0');
        const size_t r = varnq27_decompress(&big[0], big.size(), bad.data(), bad.size());
        if (!varnq27_is_error(r)) {
            ASSERT_EQ(r, varnq27_decompressed_size(bad.data(), bad.size())) << bit;
        }
    }
    EXPECT_EQ(varnq27_decompressed_size(packed.data(), 11), VARNQ27_CONTENT_SIZE_ERROR);
    EXPECT_EQ(varnq27_decompressed_size("VARN_Q28\1\0\0\0", 12), VARNQ27_CONTENT_SIZE_ERROR);
    EXPECT_EQ(varnq27_decompressed_size(nullptr, 0), VARNQ27_CONTENT_SIZE_ERROR);
}

TEST(Api, BadParametersAndArguments)
{
    const Bytes in = "banana";
    Bytes dst(1000, '\0');
    const auto set = [](void (*f)(varnq27_params&)) {
        varnq27_params p;
        varnq27_default_params(&p);
        f(p);
        return p;
    };
    const varnq27_params bad[] = {
        set([](varnq27_params& p) { p.method = 1; }),
        set([](varnq27_params& p) { p.method = -5; }),
        set([](varnq27_params& p) { p.zero_runs = 2; }),
        set([](varnq27_params& p) { p.static_coder = -1; }),
        set([](varnq27_params& p) { p.static_coder = 1; }),  // no static coder for distance coding
        set([](varnq27_params& p) { p.threads = -1; }),
    };
    for (const varnq27_params& p : bad) {
        EXPECT_EQ(codeOf(varnq27_compress(&dst[0], dst.size(), in.data(), in.size(), &p)), VARNQ27_ERROR_BAD_PARAMETER);
        EXPECT_EQ(codeOf(varnq27_compress_bound_params(in.size(), &p)), VARNQ27_ERROR_BAD_PARAMETER);
        EXPECT_EQ(codeOf(varnq27_compress_block(&dst[0], dst.size(), in.data(), in.size(), &p)),
                  VARNQ27_ERROR_BAD_PARAMETER);
    }
    EXPECT_EQ(codeOf(varnq27_compress(&dst[0], dst.size(), nullptr, 3, nullptr)), VARNQ27_ERROR_BAD_PARAMETER);
    EXPECT_EQ(codeOf(varnq27_compress(nullptr, 3, in.data(), in.size(), nullptr)), VARNQ27_ERROR_BAD_PARAMETER);
    EXPECT_EQ(codeOf(varnq27_decompress(nullptr, 3, in.data(), in.size())), VARNQ27_ERROR_BAD_PARAMETER);
    EXPECT_EQ(codeOf(varnq27_compress_block(&dst[0], dst.size(), in.data(), 0, nullptr)), VARNQ27_ERROR_BAD_PARAMETER);
    EXPECT_EQ(codeOf(varnq27_block_bound(0)), VARNQ27_ERROR_BAD_PARAMETER);
    EXPECT_EQ(codeOf(varnq27_block_bound(VARNQ27_BLOCK_SIZE_MAX + 1)), VARNQ27_ERROR_BAD_PARAMETER);
    if (sizeof(size_t) > 4) {
        // Never read: the size is refused first.
        const size_t huge = static_cast<size_t>(1) << 32;
        EXPECT_EQ(codeOf(varnq27_compress(&dst[0], dst.size(), in.data(), huge, nullptr)), VARNQ27_ERROR_SRC_TOO_LARGE);
        EXPECT_EQ(codeOf(varnq27_compress_bound(huge)), VARNQ27_ERROR_SRC_TOO_LARGE);
        EXPECT_FALSE(varnq27_is_error(varnq27_compress_bound(huge - 1)));
    }
    EXPECT_EQ(codeOf(varnq27_write_file_header(&dst[0], dst.size(), 1ull << 32)), VARNQ27_ERROR_SRC_TOO_LARGE);
}

TEST(Api, EmptyInputIsTheFileHeaderAlone)
{
    char dst[12];
    ASSERT_EQ(varnq27_compress(dst, sizeof dst, nullptr, 0, nullptr), 12u);
    EXPECT_EQ(Bytes(dst, 12), Bytes("VARN_Q27\0\0\0\0", 12));
    EXPECT_EQ(varnq27_compress_bound(0), 12u);
    EXPECT_EQ(codeOf(varnq27_compress(dst, 11, "", 0, nullptr)), VARNQ27_ERROR_DST_TOO_SMALL);
    EXPECT_EQ(varnq27_decompressed_size(dst, 12), 0u);
    EXPECT_EQ(varnq27_decompress(nullptr, 0, dst, 12), 0u);

    // The program extracts it to an empty file.
    const std::string base = ::testing::TempDir() + "varnq27-empty-" + std::to_string(getpid());
    const std::string packed = base + ".varnQ27p", back = base + ".out";
    std::ofstream(packed, std::ios::binary).write(dst, 12);
    std::ofstream(back) << "not empty";
    ASSERT_EQ(std::system((std::string(VARN_BINARY) + " -e '" + packed + "' -o '" + back + "' > /dev/null").c_str()), 0);
    EXPECT_EQ(readFile(back), "");
    std::remove(packed.c_str());
    std::remove(back.c_str());
}

// A file assembled from block records equals the whole-buffer result, and
// reads back record by record.
TEST(Api, BlockRecordsMakeTheSameFile)
{
    const Bytes in = golden("words");
    const unsigned blockSize = 700;
    for (const Mode& m : modes) {
        SCOPED_TRACE(m.name);
        const varnq27_params p = paramsOf(m, blockSize);
        Bytes file(12, '\0');
        ASSERT_EQ(varnq27_write_file_header(&file[0], 12, in.size()), 12u);
        for (size_t pos = 0; pos < in.size(); pos += blockSize) {
            const size_t n = std::min<size_t>(blockSize, in.size() - pos);
            Bytes record(varnq27_block_bound(n), '\0');
            const size_t r = varnq27_compress_block(&record[0], record.size(), in.data() + pos, n, &p);
            ASSERT_FALSE(varnq27_is_error(r)) << varnq27_error_name(r);
            ASSERT_EQ(codeOf(varnq27_compress_block(&record[0], r - 1, in.data() + pos, n, &p)),
                      VARNQ27_ERROR_DST_TOO_SMALL);
            file += record.substr(0, r);
        }
        EXPECT_EQ(file, compress(in, &p));

        Bytes back;
        for (size_t pos = 12; pos < file.size();) {
            const char* rec = file.data() + pos;
            const size_t recordSize = varnq27_block_record_size(rec, 18);
            const size_t contentSize = varnq27_block_content_size(rec, 18);
            ASSERT_FALSE(varnq27_is_error(recordSize) || varnq27_is_error(contentSize));
            EXPECT_EQ(codeOf(varnq27_block_record_size(rec, 17)), VARNQ27_ERROR_TRUNCATED);
            Bytes out(contentSize, '\0');
            EXPECT_EQ(codeOf(varnq27_decompress_block(&out[0], out.size(), rec, recordSize - 1)),
                      VARNQ27_ERROR_TRUNCATED);
            EXPECT_EQ(codeOf(varnq27_decompress_block(&out[0], out.size(), rec, recordSize + 1)),
                      VARNQ27_ERROR_TRAILING_DATA);
            EXPECT_EQ(codeOf(varnq27_decompress_block(&out[0], out.size() - 1, rec, recordSize)),
                      VARNQ27_ERROR_DST_TOO_SMALL);
            ASSERT_EQ(varnq27_decompress_block(&out[0], out.size(), rec, recordSize), contentSize);
            back += out;
            pos += recordSize;
        }
        EXPECT_EQ(back, in);
    }
}

// Two threads with different inputs and settings at once give what each
// gives alone; so do the thread counts of the parameters.
TEST(Api, ThreadsAtOnceGiveTheSameBytes)
{
    const Bytes a = readFile(std::string(VARN_TEST_DATA_DIR) + "/paper1");
    const Bytes b = readFile(std::string(VARN_TEST_DATA_DIR) + "/obj1");
    const varnq27_params pa = paramsOf(modes[0], 4000, 1);
    const varnq27_params pb = paramsOf(modes[3], 0, 1);
    const Bytes aloneA = compress(a, &pa), aloneB = compress(b, &pb);
    for (int round = 0; round < 3; ++round) {
        Bytes ra, rb, da, db;
        std::thread ta([&] { ra = compress(a, &pa); da = decompress(ra); });
        std::thread tb([&] { rb = compress(b, &pb); db = decompress(rb); });
        ta.join();
        tb.join();
        EXPECT_EQ(ra, aloneA);
        EXPECT_EQ(rb, aloneB);
        EXPECT_EQ(da, a);
        EXPECT_EQ(db, b);
    }
    Bytes back(a.size(), '\0');
    for (int threads : {0, 2, 7}) {
        const varnq27_params p = paramsOf(modes[0], 4000, threads);
        EXPECT_EQ(compress(a, &p), aloneA) << threads;
        EXPECT_EQ(varnq27_decompress_threads(&back[0], back.size(), aloneA.data(), aloneA.size(), threads), a.size());
        EXPECT_EQ(back, a) << threads;
    }
    EXPECT_EQ(codeOf(varnq27_decompress_threads(&back[0], back.size(), aloneA.data(), aloneA.size(), -1)),
              VARNQ27_ERROR_BAD_PARAMETER);
}

TEST(Api, ErrorCodesHaveDistinctNames)
{
    std::vector<std::string> names;
    for (int code = 0; code <= VARNQ27_ERROR_MEMORY; ++code) {
        const size_t r = static_cast<size_t>(0) - static_cast<size_t>(code);
        EXPECT_EQ(varnq27_is_error(r), code != 0);
        EXPECT_EQ(varnq27_get_error_code(r), code);
        names.push_back(varnq27_error_name(r));
        for (size_t i = 0; i + 1 < names.size(); ++i) EXPECT_NE(names[i], names.back());
    }
    EXPECT_FALSE(varnq27_is_error(static_cast<size_t>(0) - VARNQ27_ERROR_MAX_CODE - 1));
    EXPECT_EQ(varnq27_version_number(), static_cast<unsigned>(VARNQ27_VERSION_NUMBER));
}

} // namespace

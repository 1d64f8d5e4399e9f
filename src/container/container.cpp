#include "container/container.h"

#include "container/blockpipeline.h"
#include "container/format.h"
#include "diag/exception.h"
#include "diag/timing.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#ifdef __linux__
#include <sched.h>
#endif

namespace {

std::string truncatedMessage(const std::string& name, const std::string& where)
{
    return "Truncated or corrupt file: " + name + " ends inside " + where + ".";
}

// Reads exactly `n` bytes unless the source ends first; returns the count.
std::size_t readFully(ByteSource& in, void* dst, std::size_t n)
{
    std::size_t got = 0;
    while (got < n) {
        const std::size_t step = in.read(static_cast<unsigned char*>(dst) + got, n - got);
        if (step == 0) break;
        got += step;
    }
    return got;
}

// Counts the bytes left in `in` without keeping them.
unsigned long long drain(ByteSource& in)
{
    const long long known = in.remaining();
    if (known >= 0) return static_cast<unsigned long long>(known);
    unsigned long long count = 0;
    unsigned char scrap[65536];
    for (std::size_t got; (got = in.read(scrap, sizeof scrap)) != 0;) count += got;
    return count;
}

// The method and coder of a block header, checked in the order the format's
// reader has always used, with its messages.
BlockSettings checkedSettings(const BlockHeader& header)
{
    switch (header.method) {
    case methodMTF:
    case methodMTFRLE0:
        break;
    case methodDC:
        require(header.coderType == coderAdaptive, "Unsupported compression method (DC can't use static coder).");
        break;
    default:
        throw Exception("Unsupported compression method.");
    }
    return BlockSettings{header.method, header.coderType};
}

class FileSource : public ByteSource {
public:
    FileSource(std::ifstream& in, const std::string& name, unsigned long long size)
        : in_(in), name_(name), remaining_(size)
    {
    }
    std::size_t read(void* dst, std::size_t n) override
    {
        in_.read(static_cast<char*>(dst), static_cast<std::streamsize>(n));
        const std::size_t got = static_cast<std::size_t>(in_.gcount());
        require(got == n || !in_.bad(), "Unable to read input file: " + name_);
        remaining_ -= std::min<unsigned long long>(remaining_, got);
        return got;
    }
    long long remaining() const override { return static_cast<long long>(remaining_); }

private:
    std::ifstream& in_;
    const std::string& name_;
    unsigned long long remaining_;
};

class FileSink : public ByteSink {
public:
    FileSink(std::ofstream& out, const std::string& name) : out_(out), name_(name) {}
    void write(const void* src, std::size_t n) override
    {
        out_.write(static_cast<const char*>(src), static_cast<std::streamsize>(n));
        require(out_.good(), "Unable to write output file: " + name_);
    }

private:
    std::ofstream& out_;
    const std::string& name_;
};

// Size of an open input by seeking to its end; the stream is left at 0.
std::streamoff sizeOf(std::ifstream& in, const std::string& name)
{
    in.seekg(0, std::ios::end);
    const std::streamoff end = in.tellg();
    require(end >= 0, "Unable to read input file: " + name);
    in.seekg(0, std::ios::beg);
    return end;
}

} // namespace

MemorySource::MemorySource(const void* data, std::size_t size)
    : data_(static_cast<const unsigned char*>(data)), size_(size)
{
}

std::size_t MemorySource::read(void* dst, std::size_t n)
{
    const std::size_t step = std::min(n, size_ - position_);
    if (step != 0) std::memcpy(dst, data_ + position_, step);
    position_ += step;
    return step;
}

long long MemorySource::remaining() const
{
    return static_cast<long long>(size_ - position_);
}

unsigned availableCores()
{
#ifdef __linux__
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0) return static_cast<unsigned>(count);
    }
#endif
    const unsigned n = std::thread::hardware_concurrency();
    return n != 0 ? n : 1;
}

namespace {

// Threads to use for `blocks` blocks: 0 asks for one per core. The
// observer's lines and dumps come in block order only on one thread.
unsigned threadsFor(unsigned requested, unsigned long long blocks, const ContainerObserver* observer)
{
    if (observer != nullptr) return 1;
    unsigned threads = requested == 0 ? availableCores() : std::min(requested, 1024u);
    if (blocks < threads) threads = static_cast<unsigned>(blocks);
    return threads == 0 ? 1 : threads;
}

struct PackJob {
    unsigned size = 0;
    unsigned capacity = 0;
    std::unique_ptr<char[]> data;
    std::vector<unsigned char> record;  // block header and payload
};

struct UnpackJob {
    unsigned number = 0;
    BlockSettings settings;
    unsigned size = 0;
    std::vector<unsigned char> payload;
    std::vector<char> block;
};

} // namespace

unsigned long long compressStream(ByteSource& in, unsigned inputSize, ByteSink& out, const PackSettings& settings,
                                  const std::string& inputName, ContainerObserver* observer)
{
    require(inputSize != 0, "Cannot compress empty file (file size is 0)");
    require(isSupported(settings.block), "Unsupported compression method");
    unsigned char fileHeader[fileHeaderSize];
    std::memcpy(fileHeader, fileMagic, sizeof fileMagic);
    storeLE32(fileHeader + 8, inputSize);
    out.write(fileHeader, fileHeaderSize);
    unsigned long long written = fileHeaderSize;

    unsigned blockSize = settings.blockSize == 0 ? inputSize : settings.blockSize;
    if (blockSize > maxBlockSize) blockSize = maxBlockSize;
    const unsigned long long blocks = (inputSize + static_cast<unsigned long long>(blockSize) - 1) / blockSize;

    unsigned done = 0;
    unsigned number = 0;
    auto take = [&](PackJob& job) {
        if (done == inputSize) return false;
        job.size = std::min(blockSize, inputSize - done);
        ++number;
        if (observer) observer->blockStarted(number, job.size);
        // A job's buffer serves all its blocks: the first one is the largest.
        if (job.size > job.capacity) {
            job.data.reset();
            job.data.reset(new char[job.size]);
            job.capacity = job.size;
        }
        require(readFully(in, job.data.get(), job.size) == job.size,
                "Unable to read input file: " + inputName + " (it ended before its size was reached)");
        done += job.size;
        return true;
    };
    auto work = [&](PackJob& job) {
        // The header goes in front of the payload once its size is known.
        job.record.assign(blockHeaderSize, 0);
        encodeBlock(settings.block, job.data.get(), job.size, job.record, observer);
        BlockHeader header;
        header.payloadSize = static_cast<unsigned>(job.record.size() - blockHeaderSize);
        header.blockSize = job.size;
        header.method = settings.block.method;
        header.coderType = settings.block.coderType;
        header.store(job.record.data());
    };
    auto put = [&](PackJob& job) {
        out.write(job.record.data(), job.record.size());
        written += job.record.size();
    };
    runBlocks<PackJob>(threadsFor(settings.threads, blocks, observer), take, work, put);
    return written;
}

ExtractResult extractStream(ByteSource& in, ByteSink& out, const std::string& inputName,
                            ContainerObserver* observer, unsigned threads)
{
    ExtractResult result;
    unsigned char fileHeader[fileHeaderSize];
    const std::size_t got = readFully(in, fileHeader, fileHeaderSize);
    require(got >= 8 && std::memcmp(fileHeader, fileMagic, sizeof fileMagic) == 0,
            "Invalid file (header id does not match).");
    require(got == fileHeaderSize, truncatedMessage(inputName, "its file header"));
    result.consumed = fileHeaderSize;
    const unsigned uncompressedSize = loadLE32(fileHeader + 8);

    unsigned done = 0;
    unsigned number = 0;
    auto take = [&](UnpackJob& job) {
        if (done == uncompressedSize) return false;
        job.number = ++number;
        const std::string where = "the header of block " + std::to_string(number);
        unsigned char bytes[blockHeaderSize];
        require(readFully(in, bytes, 4) == 4, truncatedMessage(inputName, where));
        require(std::memcmp(bytes, blockId, 4) == 0, "Invalid block (header id does not match).");
        require(readFully(in, bytes + 4, blockHeaderSize - 4) == blockHeaderSize - 4,
                truncatedMessage(inputName, where));
        BlockHeader header;
        header.load(bytes);

        require(header.coderType <= coderAdaptive, "Invalid arithmetic coder type (maybe block is corrupted?)");
        require(header.blockSize != 0, "Wrong block size in packed size. Block cannot have size of 0.");
        // Compared as a difference so that no sum can wrap around.
        require(header.blockSize <= uncompressedSize - done && header.blockSize <= maxBlockSize,
                "Wrong block size in packed file (this may also mean some other error).");
        if (observer) observer->blockStarted(number, header.blockSize);
        job.settings = checkedSettings(header);
        job.size = header.blockSize;

        // The payload is read whole, and only as much as the file holds and
        // the block could need, so a corrupt size cannot make it allocate
        // more than that.
        const std::string payloadWhere = "the payload of block " + std::to_string(number);
        const long long left = in.remaining();
        require(left < 0 || header.payloadSize <= static_cast<unsigned long long>(left),
                truncatedMessage(inputName, payloadWhere));
        require(header.payloadSize <= maxPayloadSize(header.blockSize),
                "Corrupt block " + std::to_string(number) + ": a payload of " + std::to_string(header.payloadSize) +
                    " bytes is larger than a block of " + std::to_string(header.blockSize) + " bytes can need.");
        job.payload.resize(header.payloadSize);
        require(readFully(in, job.payload.data(), job.payload.size()) == job.payload.size(),
                truncatedMessage(inputName, payloadWhere));
        result.consumed += blockHeaderSize + header.payloadSize;
        done += header.blockSize;
        return true;
    };
    auto work = [&](UnpackJob& job) {
        job.block.resize(job.size);
        decodeBlock(job.settings, job.payload.data(), job.payload.size(), job.block.data(), job.size, observer);
    };
    auto put = [&](UnpackJob& job) {
        out.write(job.block.data(), job.size);
        result.size += job.size;
    };
    // The number of blocks is not known before they are read; the workers
    // simply find none left.
    runBlocks<UnpackJob>(threadsFor(threads, uncompressedSize, observer), take, work, put);
    result.trailingBytes = drain(in);
    return result;
}

unsigned packFile(const char* inName, const char* outName, const PackSettings& settings, ContainerObserver* observer,
                  bool verbose)
{
    const long start = clockMillis();
    const std::string inFile = inName;
    const std::string outFile = outName;
    if (verbose) std::cout << "Opening input file: " << inFile << std::endl;

    std::ifstream in(inFile, std::ios::binary);
    require(in.is_open(), "Unable to open input file: " + inFile);
    // The size is taken before the output is created so that input the
    // 32-bit header cannot describe leaves nothing behind.
    const std::streamoff end = sizeOf(in, inFile);
    require(static_cast<std::uint64_t>(end) <= 0xFFFFFFFFu,
            "Input file is too large: " + inFile + " has " + std::to_string(end) +
                " bytes, the compressed format holds at most 4294967295.");
    const unsigned inputSize = static_cast<unsigned>(end);

    std::ofstream out(outFile, std::ios::binary | std::ios::trunc);
    require(out.is_open(), "Unable to open output file: " + outFile);
    require(inputSize != 0, "Cannot compress empty file (file size is 0)");
    if (verbose) std::cout << "Input file size: " << inputSize << std::endl;

    FileSource source(in, inFile, inputSize);
    FileSink sink(out, outFile);
    const unsigned long long compressedSize = compressStream(source, inputSize, sink, settings, inFile, observer);
    in.close();
    // Closing writes what is still buffered: a full disk may show only here.
    out.close();
    require(out.good(), "Unable to write output file: " + outFile);
    const long finish = clockMillis();

    const double saving = (static_cast<double>(inputSize) - static_cast<double>(compressedSize)) * 100 / inputSize;
    const double bitsPerChar = static_cast<double>(compressedSize) * 8 / inputSize;
    std::cout.precision(3);
    std::cout << "Compressed data size: " << compressedSize << " (" << saving << "%, bpc " << bitsPerChar << ")"
              << std::endl;
    printTime(std::cout, "Compression time: ", start, finish);
    return static_cast<unsigned>(compressedSize);
}

void unpackFile(const char* inName, const char* outName, ContainerObserver* observer, bool verbose,
                unsigned threads)
{
    const long start = clockMillis();
    const std::string inFile = inName;
    const std::string outFile = outName;
    if (verbose) std::cout << "Opening input file: " << inFile << std::endl;

    std::ifstream in(inFile, std::ios::binary);
    require(in.is_open(), "Unable to open input file: " + inFile);
    std::ofstream out(outFile, std::ios::binary | std::ios::trunc);
    require(out.is_open(), "Unable to open output file: " + outFile);
    const std::streamoff fileSize = sizeOf(in, inFile);

    FileSource source(in, inFile, static_cast<unsigned long long>(fileSize));
    FileSink sink(out, outFile);
    const ExtractResult result = extractStream(source, sink, inFile, observer, threads);
    if (result.trailingBytes != 0)
        std::cout << "WARNING: " << result.trailingBytes << " bytes after the last block of " << inFile
                  << " were ignored." << std::endl;
    out.flush();
    require(out.good(), "Unable to write output file: " + outFile);
    const long finish = clockMillis();
    printTime(std::cout, "Decompression time: ", start, finish);
    out.close();
    require(out.good(), "Unable to write output file: " + outFile);
}

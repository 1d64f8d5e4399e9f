#include "container/container.h"

#include "container/blockpipeline.h"
#include "container/format.h"
#include "container/inputfile.h"
#include "container/outputfile.h"
#include "diag/exception.h"
#include "diag/largearray.h"
#include "diag/timing.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
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
    unsigned inside = 1;  // threads within the block
    LargeArray<char> data;
    unsigned char header[blockHeaderSize];
    std::size_t inData = 0;            // payload bytes left at the start of data
    std::vector<unsigned char> tail;   // the rest of the payload
};

struct UnpackJob {
    BlockSettings settings;
    unsigned size = 0;
    unsigned inside = 1;  // threads within the block
    std::vector<unsigned char> payload;
    LargeArray<char> block;  // written whole by the block codec, so never cleared
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

    // Threads inside a block report to the observer from one thread only.
    const unsigned allThreads = threadsFor(settings.threads, inputSize, nullptr);
    unsigned done = 0;
    unsigned number = 0;
    auto take = [&](PackJob& job) {
        if (done == inputSize) return false;
        job.size = std::min(blockSize, inputSize - done);
        ++number;
        if (observer) observer->blockStarted(number, job.size);
        // A job's buffer serves all its blocks: the first one is the largest.
        if (job.data.size() < job.size) {
            job.data.reset();
            job.data = LargeArray<char>(job.size);
        }
        // The last block (the only one, in a file of one block) gets every
        // thread: the others have run out of blocks to take.
        job.inside = job.size == inputSize - done ? allThreads : 1;
        require(readFully(in, job.data.get(), job.size) == job.size,
                "Unable to read input file: " + inputName + " (it ended before its size was reached)");
        done += job.size;
        return true;
    };
    auto work = [&](PackJob& job) {
        job.tail.clear();
        job.inData = encodeBlockInPlace(settings.block, job.data.get(), job.size, job.tail, observer, job.inside);
        BlockHeader header;
        header.payloadSize = static_cast<unsigned>(job.inData + job.tail.size());
        header.blockSize = job.size;
        header.method = settings.block.method;
        header.coderType = settings.block.coderType;
        header.store(job.header);
    };
    auto put = [&](PackJob& job) {
        out.write(job.header, blockHeaderSize);
        out.write(job.data.get(), job.inData);
        out.write(job.tail.data(), job.tail.size());
        written += blockHeaderSize + job.inData + job.tail.size();
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

    // Threads inside a block report to the observer from one thread only.
    const unsigned allThreads = threadsFor(threads, uncompressedSize, nullptr);
    unsigned done = 0;
    unsigned number = 0;
    auto take = [&](UnpackJob& job) {
        if (done == uncompressedSize) return false;
        ++number;
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
        // The last block (the only one, in a file of one block) gets every
        // thread: the others have run out of blocks to take.
        job.inside = header.blockSize == uncompressedSize - done ? allThreads : 1;

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
        if (job.block.size() < job.size) {
            job.block.reset();
            job.block = LargeArray<char>(job.size);
        }
        decodeBlockReleasing(job.settings, job.payload, job.block.get(), job.size, observer, job.inside);
    };
    auto put = [&](UnpackJob& job) {
        out.write(job.block.get(), job.size);
        result.size += job.size;
    };
    // The number of blocks is not known before they are read; the workers
    // simply find none left.
    runBlocks<UnpackJob>(observer != nullptr ? 1 : allThreads, take, work, put);
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

    // The input is checked before the output is created, so that an input
    // the 32-bit header cannot describe leaves nothing behind.
    InputFile in(inFile);
    require(in.size() <= 0xFFFFFFFFu, "Input file is too large: " + inFile + " has " + std::to_string(in.size()) +
                                          " bytes, the compressed format holds at most 4294967295.");
    const unsigned inputSize = static_cast<unsigned>(in.size());
    OutputFile out(outFile);
    require(inputSize != 0, "Cannot compress empty file (file size is 0)");
    if (verbose) std::cout << "Input file size: " << inputSize << std::endl;

    const unsigned long long compressedSize = compressStream(in, inputSize, out, settings, inFile, observer);
    // The output appears under its name only now, whole.
    out.commit();
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

    InputFile in(inFile);
    OutputFile out(outFile);
    const ExtractResult result = extractStream(in, out, inFile, observer, threads);
    if (result.trailingBytes != 0)
        std::cout << "WARNING: " << result.trailingBytes << " bytes after the last block of " << inFile
                  << " were ignored." << std::endl;
    out.commit();
    const long finish = clockMillis();
    printTime(std::cout, "Decompression time: ", start, finish);
}

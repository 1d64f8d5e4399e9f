#include "container/container.h"

#include "blockcodec/dccodec.h"
#include "blockcodec/mtfcodec.h"
#include "container/format.h"
#include "container/inputfile.h"
#include "container/outputfile.h"
#include "diag/exception.h"
#include "diag/options.h"
#include "diag/timing.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

using PackBlock = void (*)(std::ostream&, char*, unsigned);
using UnpackBlock = void (*)(std::istream&, char*, unsigned);

// Positions are checked for -1: a failed seek or a stream already in error
// must not turn into a bogus payload size or a silent success.
std::streamoff positionOf(std::ostream& out, const std::string& name)
{
    std::streamoff p = out.tellp();
    require(p >= 0 && out.good(), "Unable to write output file: " + name);
    return p;
}

void requireWritten(const std::ostream& out, const std::string& name)
{
    require(out.good(), "Unable to write output file: " + name);
}

std::string truncatedMessage(const std::string& name, const std::string& where)
{
    return "Truncated or corrupt file: " + name + " ends inside " + where + ".";
}

} // namespace

unsigned packFile(const char* inName, const char* outName)
{
    const long start = clockMillis();
    const std::string inFile = inName;
    const std::string outFile = outName;
    if (verbose) std::cout << "Opening input file: " << inFile << std::endl;

    InputFile inputFile(inFile);
    std::istream& in = inputFile.stream();
    // The size is taken before the output is created so that input the
    // 32-bit header cannot describe leaves nothing behind.
    const unsigned long long end = inputFile.size();
    require(end <= 0xFFFFFFFFu,
            "Input file is too large: " + inFile + " has " + std::to_string(end) +
                " bytes, the compressed format holds at most 4294967295.");
    const unsigned inputSize = static_cast<unsigned>(end);

    OutputFile outputFile(outFile);
    std::ostream& out = outputFile.stream();
    require(inputSize != 0, "Cannot compress empty file (file size is 0)");
    if (verbose) std::cout << "Input file size: " << inputSize << std::endl;

    in.seekg(0, std::ios::beg);
    unsigned char fileHeader[fileHeaderSize];
    std::memcpy(fileHeader, fileMagic, sizeof fileMagic);
    storeLE32(fileHeader + 8, inputSize);
    out.write(reinterpret_cast<const char*>(fileHeader), fileHeaderSize);

    if (blockSize == 0) blockSize = inputSize;
    if (blockSize > maxBlockSize) blockSize = maxBlockSize;

    // Every block of a file uses the method the options chose.
    BlockHeader header;
    PackBlock packBlock = nullptr;
    if (useMTF0) {
        header.method = useRLE0 ? methodMTFRLE0 : methodMTF;
        header.coderType = adaptiveAC ? coderAdaptive : coderStatic;
        packBlock = adaptiveAC ? packBlockMTFAdaptive : packBlockMTFStatic;
    } else if (useDC) {
        header.method = methodDC;
        header.coderType = coderAdaptive;
        packBlock = packBlockDCAdaptive;
    }

    // One buffer for all blocks; the first block is the largest.
    std::unique_ptr<char[]> buffer;
    unsigned capacity = 0;
    for (unsigned done = 0; done < inputSize;) {
        const unsigned current = std::min(blockSize, inputSize - done);
        if (verbose) std::cout << "Block size: " << current << std::endl;
        if (current > capacity) {
            buffer.reset();
            buffer.reset(new char[current]);
            capacity = current;
        }
        in.read(buffer.get(), current);
        require(in.gcount() == static_cast<std::streamsize>(current),
                "Unable to read input file: " + inFile + " (it ended before its size was reached)");

        // The provisional header only reserves the room; it is rewritten
        // once the payload size is known.
        header.blockSize = current;
        header.payloadSize = 0;
        unsigned char bytes[blockHeaderSize];
        const std::streamoff blockStart = positionOf(out, outFile);
        header.store(bytes);
        out.write(reinterpret_cast<const char*>(bytes), blockHeaderSize);
        require(packBlock != nullptr, "Unsupported compression method");
        const std::streamoff payloadStart = positionOf(out, outFile);
        packBlock(out, buffer.get(), current);
        const std::streamoff payloadEnd = positionOf(out, outFile);

        header.payloadSize = static_cast<unsigned>(payloadEnd - payloadStart);
        header.store(bytes);
        out.seekp(blockStart);
        out.write(reinterpret_cast<const char*>(bytes), blockHeaderSize);
        out.seekp(payloadEnd);
        requireWritten(out, outFile);
        done += current;
    }

    const std::streamoff compressedSize = positionOf(out, outFile);
    buffer.reset();
    // Writes what is still buffered (a full disk may show only here), then
    // puts the file in place.
    outputFile.commit();
    const long finish = clockMillis();

    const double saving = (static_cast<double>(inputSize) - static_cast<double>(compressedSize)) * 100 / inputSize;
    const double bitsPerChar = static_cast<double>(compressedSize) * 8 / inputSize;
    std::cout.precision(3);
    std::cout << "Compressed data size: " << compressedSize << " (" << saving << "%, bpc " << bitsPerChar << ")"
              << std::endl;
    printTime(std::cout, "Compression time: ", start, finish);
    return static_cast<unsigned>(compressedSize);
}

void unpackFile(const char* inName, const char* outName)
{
    const long start = clockMillis();
    const std::string inFile = inName;
    const std::string outFile = outName;
    if (verbose) std::cout << "Opening input file: " << inFile << std::endl;

    InputFile inputFile(inFile);
    std::istream& in = inputFile.stream();
    OutputFile outputFile(outFile);
    std::ostream& out = outputFile.stream();

    // The file size bounds every read below: a header or payload that would
    // reach past it means the file is truncated or corrupt, and the block is
    // refused before the codec sees whatever a short read left behind.
    const std::streamoff fileSize = static_cast<std::streamoff>(inputFile.size());

    unsigned char fileHeader[fileHeaderSize];
    in.read(reinterpret_cast<char*>(fileHeader), fileHeaderSize);
    const std::streamsize got = in.gcount();
    require(got >= 8 && std::memcmp(fileHeader, fileMagic, sizeof fileMagic) == 0,
            "Invalid file (header id does not match).");
    require(got == fileHeaderSize, truncatedMessage(inFile, "its file header"));
    const unsigned uncompressedSize = loadLE32(fileHeader + 8);

    std::vector<char> block;
    unsigned blockNumber = 0;
    for (unsigned done = 0; done < uncompressedSize;) {
        ++blockNumber;
        const std::string where = "the header of block " + std::to_string(blockNumber);
        unsigned char bytes[blockHeaderSize];
        in.read(reinterpret_cast<char*>(bytes), 4);
        require(in.gcount() == 4, truncatedMessage(inFile, where));
        require(std::memcmp(bytes, blockId, 4) == 0, "Invalid block (header id does not match).");
        in.read(reinterpret_cast<char*>(bytes) + 4, blockHeaderSize - 4);
        require(in.gcount() == blockHeaderSize - 4, truncatedMessage(inFile, where));
        BlockHeader header;
        header.load(bytes);

        require(header.coderType <= coderAdaptive, "Invalid arithmetic coder type (maybe block is corrupted?)");
        require(header.blockSize != 0, "Wrong block size in packed size. Block cannot have size of 0.");
        // Compared as a difference so that no sum can wrap around.
        require(header.blockSize <= uncompressedSize - done && header.blockSize <= maxBlockSize,
                "Wrong block size in packed file (this may also mean some other error).");
        if (verbose) std::cout << "Block size: " << header.blockSize << std::endl;

        UnpackBlock unpackBlock = nullptr;
        switch (header.method) {
        case methodMTF:
        case methodMTFRLE0:
            unpackBlock = header.coderType == coderAdaptive ? unpackBlockMTFAdaptive : unpackBlockMTFStatic;
            break;
        case methodDC:
            require(header.coderType == coderAdaptive, "Unsupported compression method (DC can't use static coder).");
            unpackBlock = unpackBlockDCAdaptive;
            break;
        default:
            throw Exception("Unsupported compression method.");
        }

        const std::streamoff payloadStart = in.tellg();
        require(payloadStart >= 0 && header.payloadSize <= fileSize - payloadStart,
                truncatedMessage(inFile, "the payload of block " + std::to_string(blockNumber)));

        block.resize(header.blockSize);
        // The MTF codecs take the zero-run setting from the option variable.
        if (header.method == methodMTF) useRLE0 = false;
        if (header.method == methodMTFRLE0) useRLE0 = true;
        unpackBlock(in, block.data(), header.blockSize);

        // The codec may have read ahead past its payload; the header says
        // where the next block begins.
        in.clear();
        in.seekg(payloadStart + static_cast<std::streamoff>(header.payloadSize));
        require(!in.fail(), "Unable to read input file: " + inFile);
        out.write(block.data(), header.blockSize);
        requireWritten(out, outFile);
        done += header.blockSize;
    }

    block = std::vector<char>();
    outputFile.commit();
    const long finish = clockMillis();
    printTime(std::cout, "Decompression time: ", start, finish);
}

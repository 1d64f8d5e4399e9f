#pragma once
// The block container: the file header, then one record (block header and
// payload) per block. Works on byte sources and sinks, so the same code
// compresses files, pipes and memory buffers.

#include "blockcodec/blockcodec.h"
#include "blockcodec/observer.h"

#include <cstddef>
#include <string>

// Where compressed or uncompressed bytes come from.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads up to `n` bytes into `dst` and returns how many were read; fewer
    // than `n` only at the end of the source. Throws Exception on a read error.
    virtual std::size_t read(void* dst, std::size_t n) = 0;
    // Bytes left to read when the source knows it (a file, a buffer), else -1.
    virtual long long remaining() const { return -1; }
};

// Where they go.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Writes all `n` bytes or throws Exception.
    virtual void write(const void* src, std::size_t n) = 0;
};

// A source over a memory buffer, which is not owned.
class MemorySource : public ByteSource {
public:
    MemorySource(const void* data, std::size_t size);
    std::size_t read(void* dst, std::size_t n) override;
    long long remaining() const override;

private:
    const unsigned char* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

// The container's observer: the block codec's events plus the block loop's.
class ContainerObserver : public BlockObserver {
public:
    // Block `number` (from 1) of `size` bytes is about to be coded or decoded.
    virtual void blockStarted(unsigned /*number*/, unsigned /*size*/) {}
};

struct PackSettings {
    BlockSettings block;     // method and coder of every block
    unsigned blockSize = 0;  // 0: as large as possible; capped at maxBlockSize
    unsigned threads = 1;    // blocks coded at once; 0: one per core
};

// Compresses the `inputSize` bytes that `in` delivers (1 <= inputSize; the
// format's size field is 32 bits) into `out`. `inputName` names the input
// in messages. Returns the compressed size. Throws Exception on a short
// read, a write failure or unsupported settings.
unsigned long long compressStream(ByteSource& in, unsigned inputSize, ByteSink& out, const PackSettings& settings,
                                  const std::string& inputName, ContainerObserver* observer = nullptr);

struct ExtractResult {
    unsigned long long size = 0;           // bytes written to the sink
    unsigned long long consumed = 0;       // compressed bytes read, headers included
    unsigned long long trailingBytes = 0;  // bytes after the last block (counted, not decoded)
};

// Extracts a compressed file that `in` delivers into `out`. `inputName`
// names it in messages; `threads` as in PackSettings. Throws Exception on
// any damage the format can show:
// wrong magic, bad headers, truncation, corrupt payloads. Bytes after the
// last block are counted in the result, not treated as an error.
ExtractResult extractStream(ByteSource& in, ByteSink& out, const std::string& inputName,
                            ContainerObserver* observer = nullptr, unsigned threads = 1);

// The whole-file entry points of the program: compress file `in` into file
// `out` (returns the compressed size), extract file `in` into file `out`.
// Progress and summary lines go to standard output. Throw Exception.
unsigned packFile(const char* in, const char* out, const PackSettings& settings, ContainerObserver* observer,
                  bool verbose);
void unpackFile(const char* in, const char* out, ContainerObserver* observer, bool verbose, unsigned threads = 1);


// The C interface over the container and the block codecs. Every entry
// point catches everything: a C caller sees error codes only.

#include "api/varnq27.h"

#include "blockcodec/blockcodec.h"
#include "container/container.h"
#include "container/format.h"
#include "diag/exception.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr unsigned long long maxContentSize = 0xFFFFFFFFull;  // the size field is 32 bits

size_t errorCode(varnq27_error_code code) { return static_cast<size_t>(0) - static_cast<size_t>(code); }

// Thrown by BufferSink when the caller's buffer is full; not an Exception,
// so nothing that handles damaged data can mistake it for that.
struct DestinationFull {};

// A sink over the caller's fixed buffer.
class BufferSink : public ByteSink {
public:
    BufferSink(void* dst, size_t capacity) : dst_(static_cast<unsigned char*>(dst)), capacity_(capacity) {}

    void write(const void* src, std::size_t n) override
    {
        if (n > capacity_ - size_) {
            full_ = true;
            throw DestinationFull();
        }
        if (n != 0) std::memcpy(dst_ + size_, src, n);
        size_ += n;
    }

    size_t size() const { return size_; }
    // Set once a write did not fit, even if the container turned the
    // exception into another one on its way out.
    bool full() const { return full_; }

private:
    unsigned char* dst_;
    size_t capacity_;
    size_t size_ = 0;
    bool full_ = false;
};

// Runs `body`, turning every exception into an error code. An Exception
// (the core's "this input is wrong") becomes `onException`.
template <class Body>
size_t guarded(varnq27_error_code onException, const BufferSink* sink, Body body) noexcept
{
    try {
        return body();
    } catch (const DestinationFull&) {
        return errorCode(VARNQ27_ERROR_DST_TOO_SMALL);
    } catch (const std::bad_alloc&) {
        return errorCode(VARNQ27_ERROR_MEMORY);
    } catch (const Exception&) {
        if (sink && sink->full()) return errorCode(VARNQ27_ERROR_DST_TOO_SMALL);
        return errorCode(onException);
    } catch (...) {
        if (sink && sink->full()) return errorCode(VARNQ27_ERROR_DST_TOO_SMALL);
        return errorCode(VARNQ27_ERROR_GENERIC);
    }
}

varnq27_params defaultParams()
{
    varnq27_params p;
    p.method = VARNQ27_METHOD_DC;
    p.zero_runs = 1;
    p.static_coder = 0;
    p.block_size = 0;
    p.threads = 0;
    return p;
}

// The block settings `p` asks for; false for invalid parameters.
bool blockSettingsOf(const varnq27_params& p, BlockSettings& settings)
{
    if (p.zero_runs != 0 && p.zero_runs != 1) return false;
    if (p.static_coder != 0 && p.static_coder != 1) return false;
    if (p.threads < 0) return false;
    if (p.method == VARNQ27_METHOD_DC) {
        if (p.static_coder) return false;
        settings.method = methodDC;
        settings.coderType = coderAdaptive;
    } else if (p.method == VARNQ27_METHOD_MTF) {
        settings.method = p.zero_runs ? methodMTFRLE0 : methodMTF;
        settings.coderType = p.static_coder ? coderStatic : coderAdaptive;
    } else {
        return false;
    }
    return isSupported(settings);
}

// The size of the blocks the container cuts an input into.
unsigned effectiveBlockSize(unsigned requested)
{
    return requested == 0 || requested > maxBlockSize ? maxBlockSize : requested;
}

// Largest compressed file for `n` input bytes cut into blocks of
// `blockSize`, or 0 if it does not fit a size_t.
size_t boundFor(unsigned long long n, unsigned blockSize)
{
    const unsigned long long full = n / blockSize;
    const unsigned rest = static_cast<unsigned>(n % blockSize);
    // Every term is far below 2^64 for n < 2^32: a block record of at most
    // 10485760 bytes is bounded by a few times that.
    unsigned long long bound = fileHeaderSize;
    if (full) bound += full * (blockHeaderSize + static_cast<unsigned long long>(maxPayloadSize(blockSize)));
    if (rest) bound += blockHeaderSize + static_cast<unsigned long long>(maxPayloadSize(rest));
    if (bound > static_cast<unsigned long long>(static_cast<size_t>(-1) - VARNQ27_ERROR_MAX_CODE)) return 0;
    return static_cast<size_t>(bound);
}

// Walks the file header and the block headers of the `size` bytes at
// `src` without decoding payloads. Returns the end of the last block, or
// an error code.
size_t walkRecords(const unsigned char* src, size_t size)
{
    if (size < 8 || std::memcmp(src, fileMagic, sizeof fileMagic) != 0) {
        // A prefix of the magic is a truncated file, anything else is not ours.
        const size_t n = std::min<size_t>(size, sizeof fileMagic);
        return errorCode(std::memcmp(src, fileMagic, n) == 0 ? VARNQ27_ERROR_TRUNCATED : VARNQ27_ERROR_CORRUPT);
    }
    if (size < fileHeaderSize) return errorCode(VARNQ27_ERROR_TRUNCATED);
    const unsigned total = loadLE32(src + 8);
    size_t pos = fileHeaderSize;
    for (unsigned done = 0; done < total;) {
        if (size - pos < blockHeaderSize) return errorCode(VARNQ27_ERROR_TRUNCATED);
        BlockHeader header;
        header.load(src + pos);
        if (std::memcmp(header.id, blockId, 4) != 0 || header.blockSize == 0 || header.blockSize > maxBlockSize ||
            header.blockSize > total - done || header.payloadSize > maxPayloadSize(header.blockSize))
            return errorCode(VARNQ27_ERROR_CORRUPT);
        pos += blockHeaderSize;
        if (size - pos < header.payloadSize) return errorCode(VARNQ27_ERROR_TRUNCATED);
        pos += header.payloadSize;
        done += header.blockSize;
    }
    return pos;
}

// Checks the block header at `src`; returns an error code, or 0 and the
// header and its settings.
size_t readBlockHeader(const void* src, size_t size, BlockHeader& header, BlockSettings& settings)
{
    if (!src) return errorCode(size ? VARNQ27_ERROR_BAD_PARAMETER : VARNQ27_ERROR_TRUNCATED);
    if (size < blockHeaderSize) return errorCode(VARNQ27_ERROR_TRUNCATED);
    header.load(static_cast<const unsigned char*>(src));
    settings.method = header.method;
    settings.coderType = header.coderType;
    if (std::memcmp(header.id, blockId, 4) != 0 || header.blockSize == 0 || header.blockSize > maxBlockSize ||
        !isSupported(settings) || header.payloadSize > maxPayloadSize(header.blockSize))
        return errorCode(VARNQ27_ERROR_CORRUPT);
    return 0;
}

} // namespace

extern "C" {

unsigned varnq27_version_number(void) { return VARNQ27_VERSION_NUMBER; }

void varnq27_default_params(varnq27_params* params)
{
    if (params) *params = defaultParams();
}

size_t varnq27_compress_bound(size_t src_size) { return varnq27_compress_bound_params(src_size, nullptr); }

size_t varnq27_compress_bound_params(size_t src_size, const varnq27_params* params)
{
    const varnq27_params p = params ? *params : defaultParams();
    BlockSettings settings;
    if (!blockSettingsOf(p, settings)) return errorCode(VARNQ27_ERROR_BAD_PARAMETER);
    if (src_size > maxContentSize) return errorCode(VARNQ27_ERROR_SRC_TOO_LARGE);
    const size_t bound = boundFor(src_size, effectiveBlockSize(p.block_size));
    return bound ? bound : errorCode(VARNQ27_ERROR_SRC_TOO_LARGE);
}

size_t varnq27_compress(void* dst, size_t dst_capacity, const void* src, size_t src_size,
                        const varnq27_params* params)
{
    const varnq27_params p = params ? *params : defaultParams();
    PackSettings settings;
    if (!blockSettingsOf(p, settings.block)) return errorCode(VARNQ27_ERROR_BAD_PARAMETER);
    if ((!dst && dst_capacity) || (!src && src_size)) return errorCode(VARNQ27_ERROR_BAD_PARAMETER);
    if (src_size > maxContentSize) return errorCode(VARNQ27_ERROR_SRC_TOO_LARGE);
    if (src_size == 0) return varnq27_write_file_header(dst, dst_capacity, 0);

    settings.blockSize = effectiveBlockSize(p.block_size);
    // The container takes 0 as one per core and caps the count by the blocks.
    settings.threads = static_cast<unsigned>(p.threads);

    BufferSink sink(dst, dst_capacity);
    return guarded(VARNQ27_ERROR_GENERIC, &sink, [&]() -> size_t {
        MemorySource in(src, src_size);
        compressStream(in, static_cast<unsigned>(src_size), sink, settings, "input buffer");
        return sink.size();
    });
}

unsigned long long varnq27_decompressed_size(const void* src, size_t src_size)
{
    if (!src || src_size < fileHeaderSize) return VARNQ27_CONTENT_SIZE_ERROR;
    const unsigned char* s = static_cast<const unsigned char*>(src);
    if (std::memcmp(s, fileMagic, sizeof fileMagic) != 0) return VARNQ27_CONTENT_SIZE_ERROR;
    return loadLE32(s + 8);
}

size_t varnq27_find_compressed_size(const void* src, size_t src_size)
{
    if (!src) return errorCode(src_size ? VARNQ27_ERROR_BAD_PARAMETER : VARNQ27_ERROR_TRUNCATED);
    return guarded(VARNQ27_ERROR_CORRUPT, nullptr,
                   [&] { return walkRecords(static_cast<const unsigned char*>(src), src_size); });
}

size_t varnq27_decompress(void* dst, size_t dst_capacity, const void* src, size_t src_size)
{
    return varnq27_decompress_threads(dst, dst_capacity, src, src_size, 1);
}

size_t varnq27_decompress_threads(void* dst, size_t dst_capacity, const void* src, size_t src_size, int threads)
{
    if ((!dst && dst_capacity) || (!src && src_size) || threads < 0) return errorCode(VARNQ27_ERROR_BAD_PARAMETER);
    if (!src) return errorCode(VARNQ27_ERROR_TRUNCATED);
    const unsigned long long announced = varnq27_decompressed_size(src, src_size);
    // The destination is checked against the header before anything is
    // decoded, so a short buffer costs no work.
    if (announced != VARNQ27_CONTENT_SIZE_ERROR && announced > dst_capacity)
        return errorCode(VARNQ27_ERROR_DST_TOO_SMALL);
    const size_t end = varnq27_find_compressed_size(src, src_size);
    if (varnq27_is_error(end)) return end;
    if (end < src_size) return errorCode(VARNQ27_ERROR_TRAILING_DATA);
    if (announced == 0) return 0;

    BufferSink sink(dst, dst_capacity);
    return guarded(VARNQ27_ERROR_CORRUPT, &sink, [&]() -> size_t {
        MemorySource in(src, src_size);
        const ExtractResult result = extractStream(in, sink, "input buffer", nullptr, static_cast<unsigned>(threads));
        // The walk above already matched the records to the sizes; this
        // guards against the two ever disagreeing.
        if (result.size != announced || sink.size() != announced || result.trailingBytes != 0)
            return errorCode(VARNQ27_ERROR_CORRUPT);
        return sink.size();
    });
}

size_t varnq27_write_file_header(void* dst, size_t dst_capacity, unsigned long long content_size)
{
    if (!dst && dst_capacity) return errorCode(VARNQ27_ERROR_BAD_PARAMETER);
    if (content_size > maxContentSize) return errorCode(VARNQ27_ERROR_SRC_TOO_LARGE);
    if (dst_capacity < fileHeaderSize) return errorCode(VARNQ27_ERROR_DST_TOO_SMALL);
    unsigned char* d = static_cast<unsigned char*>(dst);
    std::memcpy(d, fileMagic, sizeof fileMagic);
    storeLE32(d + 8, static_cast<unsigned>(content_size));
    return fileHeaderSize;
}

size_t varnq27_block_bound(size_t block_size)
{
    if (block_size == 0 || block_size > maxBlockSize) return errorCode(VARNQ27_ERROR_BAD_PARAMETER);
    return blockHeaderSize + maxPayloadSize(static_cast<unsigned>(block_size));
}

size_t varnq27_compress_block(void* dst, size_t dst_capacity, const void* src, size_t src_size,
                              const varnq27_params* params)
{
    const varnq27_params p = params ? *params : defaultParams();
    BlockSettings settings;
    if (!blockSettingsOf(p, settings)) return errorCode(VARNQ27_ERROR_BAD_PARAMETER);
    if ((!dst && dst_capacity) || !src || src_size == 0 || src_size > maxBlockSize)
        return errorCode(VARNQ27_ERROR_BAD_PARAMETER);
    return guarded(VARNQ27_ERROR_GENERIC, nullptr, [&]() -> size_t {
        const char* s = static_cast<const char*>(src);
        std::vector<char> work(s, s + src_size);  // the encoder overwrites its input
        std::vector<unsigned char> payload;
        encodeBlock(settings, work.data(), static_cast<unsigned>(src_size), payload);
        if (dst_capacity < blockHeaderSize || payload.size() > dst_capacity - blockHeaderSize)
            return errorCode(VARNQ27_ERROR_DST_TOO_SMALL);
        BlockHeader header;
        header.payloadSize = static_cast<unsigned>(payload.size());
        header.blockSize = static_cast<unsigned>(src_size);
        header.method = settings.method;
        header.coderType = settings.coderType;
        unsigned char* d = static_cast<unsigned char*>(dst);
        header.store(d);
        if (!payload.empty()) std::memcpy(d + blockHeaderSize, payload.data(), payload.size());
        return blockHeaderSize + payload.size();
    });
}

size_t varnq27_block_record_size(const void* src, size_t src_size)
{
    BlockHeader header;
    BlockSettings settings;
    const size_t error = readBlockHeader(src, src_size, header, settings);
    return error ? error : blockHeaderSize + static_cast<size_t>(header.payloadSize);
}

size_t varnq27_block_content_size(const void* src, size_t src_size)
{
    BlockHeader header;
    BlockSettings settings;
    const size_t error = readBlockHeader(src, src_size, header, settings);
    return error ? error : header.blockSize;
}

size_t varnq27_decompress_block(void* dst, size_t dst_capacity, const void* src, size_t src_size)
{
    if (!dst && dst_capacity) return errorCode(VARNQ27_ERROR_BAD_PARAMETER);
    BlockHeader header;
    BlockSettings settings;
    const size_t error = readBlockHeader(src, src_size, header, settings);
    if (error) return error;
    const size_t recordSize = blockHeaderSize + static_cast<size_t>(header.payloadSize);
    if (src_size < recordSize) return errorCode(VARNQ27_ERROR_TRUNCATED);
    if (src_size > recordSize) return errorCode(VARNQ27_ERROR_TRAILING_DATA);
    if (dst_capacity < header.blockSize) return errorCode(VARNQ27_ERROR_DST_TOO_SMALL);
    return guarded(VARNQ27_ERROR_CORRUPT, nullptr, [&]() -> size_t {
        decodeBlock(settings, static_cast<const unsigned char*>(src) + blockHeaderSize, header.payloadSize,
                    static_cast<char*>(dst), header.blockSize);
        return header.blockSize;
    });
}

int varnq27_is_error(size_t result) { return result >= errorCode(VARNQ27_ERROR_MAX_CODE); }

varnq27_error_code varnq27_get_error_code(size_t result)
{
    if (!varnq27_is_error(result)) return VARNQ27_ERROR_NONE;
    return static_cast<varnq27_error_code>(static_cast<size_t>(0) - result);
}

const char* varnq27_error_name(size_t result)
{
    switch (varnq27_get_error_code(result)) {
    case VARNQ27_ERROR_NONE: return "no error";
    case VARNQ27_ERROR_GENERIC: return "unexpected failure";
    case VARNQ27_ERROR_BAD_PARAMETER: return "invalid parameter";
    case VARNQ27_ERROR_SRC_TOO_LARGE: return "input too large (4 GiB or more)";
    case VARNQ27_ERROR_DST_TOO_SMALL: return "destination buffer is too small";
    case VARNQ27_ERROR_TRUNCATED: return "compressed data is truncated";
    case VARNQ27_ERROR_TRAILING_DATA: return "bytes follow the end of the compressed data";
    case VARNQ27_ERROR_CORRUPT: return "compressed data is corrupt";
    case VARNQ27_ERROR_MEMORY: return "out of memory";
    default: return "unknown error";
    }
}

} // extern "C"

/*
 * varnq27.h - the varn-q27 compression library
 *
 * varn-q27 is a block-sorting compressor: each block of at most 10485760
 * bytes goes through the Burrows-Wheeler transform, then distance coding or
 * move-to-front, then an arithmetic coder. This library writes and reads the
 * very same format as the varn-q27 program: a buffer compressed here can be
 * extracted with "varn-q27 -e", and a file the program wrote can be
 * decompressed here.
 *
 * Format in brief (all integers unsigned 32-bit little-endian):
 *   file header, 12 bytes:   "VARN_Q27" | uncompressed size
 *   per block, back to back: "BLCK" | payload size | block size |
 *                            method (1 byte) | coder (1 byte) | 4 bytes 0 |
 *                            payload
 * The blocks follow each other until their sizes add up to the uncompressed
 * size. There is no checksum: a damaged payload that still decodes gives
 * other bytes of the right length. Damaged headers and truncation are
 * always reported.
 *
 * Conventions:
 * - Functions returning size_t return either a size or an error code.
 *   Test it with varnq27_is_error(); varnq27_error_name() describes it and
 *   varnq27_get_error_code() turns it into a varnq27_error_code.
 * - No function keeps state between calls and there are no globals: every
 *   function may be called from several threads at once, as long as the
 *   threads do not write to the same buffers.
 * - No function aborts, throws or reads or writes outside the buffers it is
 *   given, whatever the input: damaged and hostile compressed data come
 *   back as error codes. Memory use is bounded by the sizes the caller
 *   passes (a block announces at most 10485760 bytes).
 * - Inputs of 4 GiB or more cannot be described by the format's 32-bit size
 *   field and are refused (VARNQ27_ERROR_SRC_TOO_LARGE).
 */
#ifndef VARNQ27_H
#define VARNQ27_H

#include <stddef.h> /* size_t */

#ifdef __cplusplus
extern "C" {
#endif

/* The shared library exports these names only. */
#if defined(__GNUC__)
#define VARNQ27_API __attribute__((visibility("default")))
#else
#define VARNQ27_API
#endif

#define VARNQ27_VERSION_MAJOR 0
#define VARNQ27_VERSION_MINOR 27
#define VARNQ27_VERSION_RELEASE 0
#define VARNQ27_VERSION_NUMBER \
    (VARNQ27_VERSION_MAJOR * 10000 + VARNQ27_VERSION_MINOR * 100 + VARNQ27_VERSION_RELEASE)

/*! varnq27_version_number() :
 *  Returns the version of the library that is linked, as
 *  VARNQ27_VERSION_NUMBER: useful to check that the header and the shared
 *  library agree. */
VARNQ27_API unsigned varnq27_version_number(void);

/*-*************************************
 *  Format constants
 ***************************************/
#define VARNQ27_FILE_HEADER_SIZE 12        /* magic and uncompressed size */
#define VARNQ27_BLOCK_HEADER_SIZE 18       /* in front of every block's payload */
#define VARNQ27_BLOCK_SIZE_MAX 10485760u   /* largest block, in uncompressed bytes */
#define VARNQ27_CONTENT_SIZE_ERROR (0ULL - 1) /* returned by varnq27_decompressed_size() */

/*-*************************************
 *  Parameters
 ***************************************/
#define VARNQ27_METHOD_DC  5   /* distance coding, the default */
#define VARNQ27_METHOD_MTF 2   /* move-to-front; zero_runs and static_coder choose the variant */

/* How to compress. Always start from varnq27_default_params() and then set
 * the fields you want, so that fields added later keep their defaults.
 * The five valid combinations correspond to the program's options:
 *   method DC                                   varn-q27 -c (default)
 *   method MTF, zero_runs 1, static_coder 0     varn-q27 -c -m
 *   method MTF, zero_runs 0, static_coder 0     varn-q27 -c -m --norle0
 *   method MTF, zero_runs 1, static_coder 1     varn-q27 -c -m -s
 *   method MTF, zero_runs 0, static_coder 1     varn-q27 -c -m --norle0 -s
 * With method DC, zero_runs is ignored (it must still be 0 or 1) and
 * static_coder must be 0: distance coding has no static coder.
 * threads never changes the compressed bytes, only how many blocks are
 * coded at once (never more than there are blocks, nor more than 1024);
 * each thread holds about 7 bytes of working memory per byte of a block. */
typedef struct {
    int method;          /* VARNQ27_METHOD_DC (default) or VARNQ27_METHOD_MTF */
    int zero_runs;       /* MTF only: 1 (default) codes zero runs, 0 does not (--norle0) */
    int static_coder;    /* MTF only: 1 static two-pass coder (-s), 0 adaptive (default) */
    unsigned block_size; /* as -b: 0 (default) means blocks of at most 10485760 bytes */
    int threads;         /* 0 (default) one per core, 1 one thread, n: up to n blocks at once */
} varnq27_params;

/*! varnq27_default_params() :
 *  Fills `params` with the defaults: method DC, zero_runs 1,
 *  static_coder 0, block_size 0, threads 0. Does nothing if `params` is
 *  NULL. */
VARNQ27_API void varnq27_default_params(varnq27_params* params);

/*-*************************************
 *  Whole-buffer compression
 ***************************************/

/*! varnq27_compress_bound() :
 *  Returns the largest compressed size that varnq27_compress() can produce
 *  for `src_size` input bytes with block_size 0 (the default) or any
 *  block_size of at least 10485760, whatever the method and the data.
 *  A destination of this size never fails with
 *  VARNQ27_ERROR_DST_TOO_SMALL. Smaller blocks add headers (and the static
 *  coder a frequency table per block): use varnq27_compress_bound_params()
 *  for those. Returns an error code (VARNQ27_ERROR_SRC_TOO_LARGE) when
 *  `src_size` is 4 GiB or more, or when the bound does not fit a size_t. */
VARNQ27_API size_t varnq27_compress_bound(size_t src_size);

/*! varnq27_compress_bound_params() :
 *  The same bound for the given parameters (NULL: the defaults), for any
 *  block_size. Returns an error code for bad parameters and for inputs of
 *  4 GiB or more. */
VARNQ27_API size_t varnq27_compress_bound_params(size_t src_size, const varnq27_params* params);

/*! varnq27_compress() :
 *  Compresses the `src_size` bytes at `src` into `dst`, which holds
 *  `dst_capacity` bytes. `params` NULL means the defaults, which give the
 *  very same bytes as "varn-q27 -c" on a file with the same contents.
 *  Returns the compressed size, or an error code:
 *    VARNQ27_ERROR_DST_TOO_SMALL    `dst_capacity` is too small (a capacity
 *                                   of varnq27_compress_bound() never is);
 *                                   `dst` may then hold anything
 *    VARNQ27_ERROR_SRC_TOO_LARGE    `src_size` is 4 GiB or more
 *    VARNQ27_ERROR_BAD_PARAMETER    invalid `params`, or a NULL buffer with
 *                                   a non-zero size
 *    VARNQ27_ERROR_MEMORY           working memory could not be allocated
 *                                   (about 7 bytes per byte of the largest
 *                                   block, per thread)
 *  Empty input (`src_size` 0, `src` may be NULL) is valid and compresses
 *  to the 12-byte file header alone, with an uncompressed size of 0; it
 *  decompresses to nothing. (The program refuses to compress an empty file
 *  but extracts such a header to an empty file.) */
VARNQ27_API size_t varnq27_compress(void* dst, size_t dst_capacity, const void* src, size_t src_size,
                                    const varnq27_params* params /* NULL: defaults */);

/*! varnq27_decompressed_size() :
 *  Returns the uncompressed size that the file header at `src` announces,
 *  or VARNQ27_CONTENT_SIZE_ERROR ((unsigned long long)-1) if `src_size` is
 *  less than 12 or the magic is wrong. Only the header is read: the size
 *  is what the data claims, not yet verified, so a hostile header can
 *  announce up to 4294967295 bytes. */
VARNQ27_API unsigned long long varnq27_decompressed_size(const void* src, size_t src_size);

/*! varnq27_find_compressed_size() :
 *  Returns the size of the compressed data that starts at `src` (the file
 *  header and every block record), found by walking the block headers
 *  without decoding any payload, so that data followed by something else
 *  can be decompressed. Returns an error code (VARNQ27_ERROR_TRUNCATED,
 *  VARNQ27_ERROR_CORRUPT) if the headers end early or are inconsistent. */
VARNQ27_API size_t varnq27_find_compressed_size(const void* src, size_t src_size);

/*! varnq27_decompress() :
 *  Decompresses the compressed data of exactly `src_size` bytes at `src`
 *  into `dst`, which holds `dst_capacity` bytes. Returns the number of
 *  bytes written (the uncompressed size), or an error code:
 *    VARNQ27_ERROR_DST_TOO_SMALL    the header announces more than
 *                                   `dst_capacity` bytes (checked before
 *                                   any decoding)
 *    VARNQ27_ERROR_TRUNCATED        the data ends before its last block does
 *    VARNQ27_ERROR_TRAILING_DATA    bytes follow the last block
 *    VARNQ27_ERROR_CORRUPT          wrong magic, damaged header or payload,
 *                                   unknown method
 *    VARNQ27_ERROR_BAD_PARAMETER    a NULL buffer with a non-zero size
 *    VARNQ27_ERROR_MEMORY           working memory could not be allocated
 *                                   (about 7 bytes per byte of a block)
 *  On error `dst` may hold anything. Decodes on the calling thread only. */
VARNQ27_API size_t varnq27_decompress(void* dst, size_t dst_capacity, const void* src, size_t src_size);

/*! varnq27_decompress_threads() :
 *  The same, decoding up to `threads` blocks at once (0: one per core, as
 *  the threads field of varnq27_params). The result is the same whatever
 *  the count; VARNQ27_ERROR_BAD_PARAMETER if `threads` is negative. */
VARNQ27_API size_t varnq27_decompress_threads(void* dst, size_t dst_capacity, const void* src, size_t src_size,
                                              int threads);

/*-*************************************
 *  Block-level interface, for callers that stream
 *
 *  A compressed file is varnq27_write_file_header() followed by one block
 *  record per block, each from varnq27_compress_block(). Compressing the
 *  input in blocks of b bytes (the last one shorter) gives the same bytes as
 *  varnq27_compress() with block_size b. To read, check the file header with
 *  varnq27_decompressed_size(), then for each block read its 18-byte header,
 *  ask varnq27_block_record_size() how long the record is, read the rest and
 *  pass the record to varnq27_decompress_block(); stop when the block sizes
 *  reach the uncompressed size.
 ***************************************/

/*! varnq27_write_file_header() :
 *  Writes the 12-byte file header for `content_size` uncompressed bytes
 *  into `dst`. Returns 12, or an error code (VARNQ27_ERROR_DST_TOO_SMALL,
 *  VARNQ27_ERROR_SRC_TOO_LARGE if `content_size` is 4 GiB or more). */
VARNQ27_API size_t varnq27_write_file_header(void* dst, size_t dst_capacity, unsigned long long content_size);

/*! varnq27_block_bound() :
 *  Returns the largest record (header and payload) that
 *  varnq27_compress_block() can write for a block of `block_size` bytes,
 *  with any parameters. Returns VARNQ27_ERROR_BAD_PARAMETER if
 *  `block_size` is 0 or more than VARNQ27_BLOCK_SIZE_MAX. */
VARNQ27_API size_t varnq27_block_bound(size_t block_size);

/*! varnq27_compress_block() :
 *  Compresses the `src_size` bytes at `src` (1 to VARNQ27_BLOCK_SIZE_MAX)
 *  as one block record into `dst`; `params` NULL means the defaults, and
 *  its block_size and threads fields are not used. Returns the record size,
 *  or an error code as varnq27_compress() does (VARNQ27_ERROR_BAD_PARAMETER
 *  for a size of 0 or above VARNQ27_BLOCK_SIZE_MAX). */
VARNQ27_API size_t varnq27_compress_block(void* dst, size_t dst_capacity, const void* src, size_t src_size,
                                          const varnq27_params* params);

/*! varnq27_block_record_size() :
 *  Reads the block header at `src` (at least its 18 bytes must be given;
 *  the payload need not be) and returns the size of the whole record,
 *  header included. Error codes: VARNQ27_ERROR_TRUNCATED if `src_size` is
 *  less than 18, VARNQ27_ERROR_CORRUPT if the header is not a valid one. */
VARNQ27_API size_t varnq27_block_record_size(const void* src, size_t src_size);

/*! varnq27_block_content_size() :
 *  The same, returning the block's uncompressed size. */
VARNQ27_API size_t varnq27_block_content_size(const void* src, size_t src_size);

/*! varnq27_decompress_block() :
 *  Decompresses the block record of exactly `src_size` bytes at `src` into
 *  `dst`. Returns the block's uncompressed size, or an error code as
 *  varnq27_decompress() does. */
VARNQ27_API size_t varnq27_decompress_block(void* dst, size_t dst_capacity, const void* src, size_t src_size);

/*-*************************************
 *  Errors
 ***************************************/
typedef enum {
    VARNQ27_ERROR_NONE = 0,
    VARNQ27_ERROR_GENERIC = 1,        /* an unexpected failure */
    VARNQ27_ERROR_BAD_PARAMETER = 2,  /* invalid parameters or arguments */
    VARNQ27_ERROR_SRC_TOO_LARGE = 3,  /* input of 4 GiB or more */
    VARNQ27_ERROR_DST_TOO_SMALL = 4,  /* the destination buffer is too small */
    VARNQ27_ERROR_TRUNCATED = 5,      /* compressed data ends too early */
    VARNQ27_ERROR_TRAILING_DATA = 6,  /* bytes after the end of the compressed data */
    VARNQ27_ERROR_CORRUPT = 7,        /* damaged or not varn-q27 data */
    VARNQ27_ERROR_MEMORY = 8,         /* memory allocation failed */
    VARNQ27_ERROR_MAX_CODE = 20       /* error codes never exceed this */
} varnq27_error_code;

/*! varnq27_is_error() :
 *  Returns 1 if `result` (from any function above returning size_t) is an
 *  error code, 0 if it is a size. Error codes are the values
 *  (size_t)-1 ... (size_t)-VARNQ27_ERROR_MAX_CODE, too large to be sizes. */
VARNQ27_API int varnq27_is_error(size_t result);

/*! varnq27_get_error_code() :
 *  Returns the varnq27_error_code of `result`, VARNQ27_ERROR_NONE if it is
 *  not an error. */
VARNQ27_API varnq27_error_code varnq27_get_error_code(size_t result);

/*! varnq27_error_name() :
 *  Returns a short English description of `result` in static storage
 *  ("no error" if it is not an error). */
VARNQ27_API const char* varnq27_error_name(size_t result);

#ifdef __cplusplus
}
#endif

#endif /* VARNQ27_H */

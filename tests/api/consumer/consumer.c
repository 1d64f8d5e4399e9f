/* Built against an installed libvarnq27: round trips of every mode, a
 * compressed result that must equal the program's, and an error code.
 * Prints "consumer OK" and exits 0 on success. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <varnq27.h>

static int fail(const char* what, size_t r)
{
    fprintf(stderr, "consumer: %s: %s\n", what, varnq27_error_name(r));
    return 1;
}

int main(void)
{
    /* banana.dc.varnQ27p from the golden files: "varn-q27 -c banana". */
    static const unsigned char bananaDC[45] = {
        0x56, 0x41, 0x52, 0x4e, 0x5f, 0x51, 0x32, 0x37, 0x06, 0x00, 0x00, 0x00, 0x42, 0x4c, 0x43, 0x4b,
        0x0f, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00, 0x05, 0x01, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00,
        0x00, 0x00, 0x6f, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x0f, 0x87, 0x0e};
    size_t size = 100000, i;
    char* src = malloc(size);
    char* back = malloc(size);
    size_t bound = varnq27_compress_bound_params(size, NULL);
    char* packed = malloc(bound);
    varnq27_params p;
    int mode;
    if (!src || !back || !packed) return 1;
    for (i = 0; i < size; ++i) src[i] = (char)(((i * 7) % 251) ^ (i >> 9));
    for (mode = 0; mode < 5; ++mode) {
        size_t n, m;
        varnq27_default_params(&p);
        if (mode > 0) {
            p.method = VARNQ27_METHOD_MTF;
            p.zero_runs = mode & 1;
            p.static_coder = mode >= 3;
            p.block_size = 30000;
        }
        n = varnq27_compress(packed, bound, src, size, &p);
        if (varnq27_is_error(n)) return fail("compress", n);
        m = varnq27_decompress(back, size, packed, n);
        if (varnq27_is_error(m)) return fail("decompress", m);
        if (m != size || memcmp(src, back, size) != 0) return fail("round trip", 0);
        m = varnq27_decompress(back, size - 1, packed, n);
        if (varnq27_get_error_code(m) != VARNQ27_ERROR_DST_TOO_SMALL) return fail("short destination", m);
    }
    {
        size_t n = varnq27_compress(packed, bound, "banana", 6, NULL);
        if (n != sizeof bananaDC || memcmp(packed, bananaDC, n) != 0) return fail("banana bytes", n);
        if (varnq27_decompressed_size(packed, n) != 6) return fail("decompressed size", 0);
    }
    free(src);
    free(back);
    free(packed);
    printf("consumer OK\n");
    return 0;
}

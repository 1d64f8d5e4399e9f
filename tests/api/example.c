#include <stdio.h>
#include <stdlib.h>
#include <varnq27.h>

int main(void)
{
    const char text[] = "banana banana banana banana";
    char back[sizeof text];
    size_t bound = varnq27_compress_bound(sizeof text);
    char* packed = malloc(bound);
    size_t n = varnq27_compress(packed, bound, text, sizeof text, NULL); /* NULL: as varn-q27 -c */
    size_t m = varnq27_is_error(n) ? n : varnq27_decompress(back, sizeof back, packed, n);
    if (varnq27_is_error(m)) { fprintf(stderr, "varnq27: %s\n", varnq27_error_name(m)); return 1; }
    printf("%zu bytes -> %zu compressed -> %zu back\n", sizeof text, n, m);
    free(packed);
    return 0;
}

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <varnq27.h>

int main(void)
{
    const char text[] = "banana banana banana banana";
    size_t bound = varnq27_compress_bound(sizeof text);
    char* packed = malloc(bound);
    char back[sizeof text];
    size_t n = varnq27_compress(packed, bound, text, sizeof text, NULL);
    if (varnq27_is_error(n)) { fprintf(stderr, "%s\n", varnq27_error_name(n)); return 1; }
    size_t m = varnq27_decompress(back, sizeof back, packed, n);
    if (varnq27_is_error(m)) { fprintf(stderr, "%s\n", varnq27_error_name(m)); return 1; }
    printf("%zu -> %zu -> %zu bytes, %s\n", sizeof text, n, m, memcmp(back, text, m) ? "differ" : "equal");
    free(packed);
    return 0;
}

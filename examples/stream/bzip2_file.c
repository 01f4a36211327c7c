/* examples/stream/bzip2_file.c - a .bz2 file compressed on two threads (each 900 kB block is independent), then
 * decompressed into a buffer that the library sizes itself.
 *
 * Usage: bzip2_file [FILE]   (without FILE, a generated text). Exits 0 when the round trip verified. */
#include <kelstream.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "example_input.h"

int main(int argc, char** argv) {
    size_t len = 0, packedLen, outLen = 0;
    unsigned char* text = loadInput(argc, argv, &len);
    unsigned char* packed;
    void* out = NULL;
    KelStreamOptions opt;
    KelStreamResult r;
    if (!text) return 1;

    kelStreamDefaultOptions(&opt);
    opt.level = 9;   /* 900 kB blocks, as bzip2 -9 */
    opt.threads = 2; /* blocks are compressed side by side; the file is the same as with one thread */
    packedLen = kelStreamCompressBound(kelFormatBzip2, len, &opt);
    packed = malloc(packedLen);
    if (!packed) return 1;
    r = kelStreamCompress(kelFormatBzip2, text, len, packed, &packedLen, &opt);
    if (r != kelStreamEnd) {
        fprintf(stderr, "bzip2 compression failed: %s\n", kelStreamResultText(r));
        return 1;
    }

    /* kelFormatAuto recognises "BZh9"; the output buffer grows as needed and is ours to free. */
    r = kelStreamDecompressAlloc(kelFormatAuto, packed, packedLen, &out, &outLen, NULL);
    if (r != kelStreamEnd || outLen != len || memcmp(out, text, len) != 0) {
        fprintf(stderr, "bzip2 round trip failed: %s\n", kelStreamResultText(r));
        return 1;
    }
    printf("bzip2: %zu -> %zu bytes (%.2f bits per byte)\n", len, packedLen, len ? 8.0 * packedLen / len : 0.0);
    free(out), free(text), free(packed);
    return 0;
}

/* examples/stream/lzop_file.c - an .lzo file as lzop writes it, with the original name, time and mode in its
 * header and CRC-32 block checksums; decompressed with the format detected from the magic.
 *
 * Usage: lzop_file [FILE]   (without FILE, a generated text). Exits 0 when the round trip verified. */
#include <kelstream.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "example_input.h"

int main(int argc, char** argv) {
    size_t len = 0, packedLen, pos = 0, outLen = 0;
    unsigned char* text = loadInput(argc, argv, &len);
    unsigned char *packed, *out;
    KelStreamOptions opt;
    KelStreamHeader h;
    KelStream* s = NULL;
    KelStreamResult r = kelStreamOk;
    if (!text) return 1;

    kelStreamDefaultOptions(&opt);
    opt.level = 3; /* lzop's default: LZO1X-1 */
    opt.name = "report.txt";
    opt.mtime = 1650000000;
    opt.mode = 0100600; /* a regular file, rw for its owner */
    opt.lzopCrc32 = 1;
    packedLen = kelStreamCompressBound(kelFormatLzop, len, &opt);
    packed = malloc(packedLen);
    out = malloc(len + 1);
    if (!packed || !out || kelStreamCompress(kelFormatLzop, text, len, packed, &packedLen, &opt) != kelStreamEnd)
        return 1;

    if (kelStreamCreate(&s, kelFormatAuto, kelDecompress, NULL) != kelStreamOk) return 1;
    while (r == kelStreamOk) { /* the input in 8 KiB pieces, as read from a file */
        size_t srcLen = packedLen - pos < 8192 ? packedLen - pos : 8192, dstLen = len + 1 - outLen;
        r = kelStreamProcess(s, packed + pos, &srcLen, out + outLen, &dstLen,
                             pos + srcLen == packedLen ? kelFlushFinish : kelFlushNone);
        pos += srcLen;
        outLen += dstLen;
    }
    kelStreamGetHeader(s, &h);
    if (r != kelStreamEnd || outLen != len || memcmp(out, text, len) != 0 || h.format != kelFormatLzop || !h.name ||
        strcmp(h.name, "report.txt") != 0 || h.mtime != 1650000000 || h.mode != 0100600) {
        fprintf(stderr, "lzop round trip failed: %s (%s)\n", kelStreamResultText(r), kelStreamMessage(s));
        return 1;
    }
    printf("lzop: %zu -> %zu bytes, \"%s\" mode %o method %d level %d\n", len, packedLen, h.name, (unsigned)h.mode,
           h.method, h.level);
    kelStreamFree(s);
    free(text), free(packed), free(out);
    return 0;
}

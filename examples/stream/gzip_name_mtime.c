/* examples/stream/gzip_name_mtime.c - a gzip file with the original name and modification time in its header:
 * compressed in one call, then decompressed in small pieces as data arriving from a socket would be, and the
 * header read back.
 *
 * Usage: gzip_name_mtime [FILE]   (without FILE, a generated text). Exits 0 when the round trip verified. */
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

    /* Compress: the name and time go into the gzip header, level 9. */
    kelStreamDefaultOptions(&opt);
    opt.level = 9;
    opt.name = "notes.txt";
    opt.mtime = 1700000000;
    packedLen = kelStreamCompressBound(kelFormatGzip, len, &opt);
    packed = malloc(packedLen);
    if (!packed || kelStreamCompress(kelFormatGzip, text, len, packed, &packedLen, &opt) != kelStreamEnd) return 1;

    /* Decompress in 1000-byte pieces of input into 4 KiB of room at a time. */
    out = malloc(len + 1);
    if (!out || kelStreamCreate(&s, kelFormatGzip, kelDecompress, NULL) != kelStreamOk) return 1;
    while (r == kelStreamOk) {
        unsigned char room[4096];
        size_t srcLen = packedLen - pos < 1000 ? packedLen - pos : 1000, dstLen = sizeof room;
        int last = pos + srcLen == packedLen;
        r = kelStreamProcess(s, packed + pos, &srcLen, room, &dstLen, last ? kelFlushFinish : kelFlushNone);
        if (outLen + dstLen > len) break; /* more output than went in: not our data */
        memcpy(out + outLen, room, dstLen);
        pos += srcLen;
        outLen += dstLen;
    }
    if (r != kelStreamEnd || outLen != len || memcmp(out, text, len) != 0) {
        fprintf(stderr, "gzip round trip failed: %s (%s)\n", kelStreamResultText(r), kelStreamMessage(s));
        return 1;
    }
    /* The header fields stay readable after the end, until the next call on the stream. */
    kelStreamGetHeader(s, &h);
    if (!h.name || strcmp(h.name, "notes.txt") != 0 || h.mtime != 1700000000 || h.os != 3) {
        fprintf(stderr, "gzip header not restored\n");
        return 1;
    }
    printf("gzip: %zu -> %zu bytes, name \"%s\", mtime %lld, OS %d\n", len, packedLen, h.name, (long long)h.mtime,
           h.os);
    kelStreamFree(s);
    free(text), free(packed), free(out);
    return 0;
}

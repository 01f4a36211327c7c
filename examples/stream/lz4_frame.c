/* examples/stream/lz4_frame.c - LZ4 frames with options: 64 KiB linked blocks, a checksum per block and over the
 * content, the content size in the header, and the high-compression encoder; the frame descriptor is read back
 * while decompressing.
 *
 * Usage: lz4_frame [FILE]   (without FILE, a generated text). Exits 0 when both round trips verified. */
#include <kelstream.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "example_input.h"

/* Compresses with `opt`, decompresses in 64 KiB pieces of output and checks data and descriptor. */
static int roundTrip(const unsigned char* text, size_t len, const KelStreamOptions* opt, size_t* packedLen) {
    unsigned char* packed;
    unsigned char room[65536];
    size_t pos = 0, outLen = 0;
    KelStream* s = NULL;
    KelStreamHeader h;
    KelStreamResult r = kelStreamOk;
    int ok;
    *packedLen = kelStreamCompressBound(kelFormatLz4, len, opt);
    packed = malloc(*packedLen);
    if (!packed || kelStreamCompress(kelFormatLz4, text, len, packed, packedLen, opt) != kelStreamEnd) return 0;
    if (kelStreamCreate(&s, kelFormatLz4, kelDecompress, NULL) != kelStreamOk) return 0;
    ok = 1;
    while (ok && r == kelStreamOk) {
        size_t srcLen = *packedLen - pos, dstLen = sizeof room;
        r = kelStreamProcess(s, packed + pos, &srcLen, room, &dstLen, kelFlushFinish);
        ok = outLen + dstLen <= len && memcmp(room, text + outLen, dstLen) == 0;
        pos += srcLen;
        outLen += dstLen;
    }
    kelStreamGetHeader(s, &h);
    ok = ok && r == kelStreamEnd && outLen == len && h.lz4BlockSizeId == opt->lz4BlockSizeId &&
         h.lz4Linked == opt->lz4Linked && h.lz4BlockChecksum == opt->lz4BlockChecksum &&
         h.contentSize == opt->contentSize;
    if (!ok) fprintf(stderr, "lz4 round trip failed: %s (%s)\n", kelStreamResultText(r), kelStreamMessage(s));
    kelStreamFree(s);
    free(packed);
    return ok;
}

int main(int argc, char** argv) {
    size_t len = 0, fastLen, hcLen;
    unsigned char* text = loadInput(argc, argv, &len);
    KelStreamOptions opt;
    if (!text) return 1;

    kelStreamDefaultOptions(&opt);
    opt.lz4BlockSizeId = 4;         /* 64 KiB blocks */
    opt.lz4Linked = 1;              /* a block may refer to the 64 KiB before it */
    opt.lz4BlockChecksum = 1;       /* xxHash32 after every block */
    opt.lz4ContentChecksum = 1;     /* and over the whole content */
    opt.contentSize = (int64_t)len; /* stored in the header; must be exact */
    if (!roundTrip(text, len, &opt, &fastLen)) return 1;

    opt.lz4HighCompression = 1;
    opt.level = 9;
    if (!roundTrip(text, len, &opt, &hcLen)) return 1;
    printf("lz4: %zu -> %zu bytes (fast), %zu bytes (high compression, level 9)\n", len, fastLen, hcLen);
    free(text);
    return 0;
}

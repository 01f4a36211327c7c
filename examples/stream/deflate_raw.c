/* examples/stream/deflate_raw.c - raw Deflate (no header, no checksum), as formats that wrap Deflate themselves
 * use it: compressed in two parts with a sync flush between them, so a receiver can decode the first part before
 * the second exists, then restored in one call.
 *
 * Usage: deflate_raw [FILE]   (without FILE, a generated text). Exits 0 when the round trip verified. */
#include <kelstream.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "example_input.h"

/* Runs src through the compressor with `flush` until the flush or the end is complete; appends to dst. */
static int compressPart(KelStream* s, const unsigned char* src, size_t srcLen, unsigned char* dst, size_t* dstLen,
                        size_t room, KelStreamFlush flush) {
    KelStreamResult want = flush == kelFlushFinish ? kelStreamEnd : kelStreamFlushed, r;
    do {
        size_t in = srcLen, out = room - *dstLen;
        r = kelStreamProcess(s, src, &in, dst + *dstLen, &out, flush);
        src += in, srcLen -= in, *dstLen += out;
        if (r < 0 || (r == kelStreamOk && in == 0 && out == 0)) return 0; /* error, or out of room */
    } while (r != want);
    return 1;
}

int main(int argc, char** argv) {
    size_t len = 0, half, room, packedLen = 0, partLen, outLen;
    unsigned char* text = loadInput(argc, argv, &len);
    unsigned char *packed, *out;
    KelStreamOptions opt;
    KelStream* s = NULL;
    KelStreamResult r;
    if (!text) return 1;
    half = len / 2;

    kelStreamDefaultOptions(&opt);
    opt.level = 6;
    room = kelStreamCompressBound(kelFormatDeflate, len, &opt) + 64; /* + the flush's empty stored block */
    packed = malloc(room);
    out = malloc(len + 1);
    if (!packed || !out || kelStreamCreate(&s, kelFormatDeflate, kelCompress, &opt) != kelStreamOk) return 1;
    if (!compressPart(s, text, half, packed, &packedLen, room, kelFlushSync)) return 1;
    partLen = packedLen;
    if (!compressPart(s, text + half, len - half, packed, &packedLen, room, kelFlushFinish)) return 1;
    kelStreamFree(s);

    /* The bytes up to the sync flush alone give back the first half exactly: the stream is not over, so the
     * decoder wants more (kelStreamOk) rather than reporting an end. */
    if (kelStreamCreate(&s, kelFormatDeflate, kelDecompress, NULL) != kelStreamOk) return 1;
    {
        size_t in = partLen;
        outLen = len + 1;
        r = kelStreamProcess(s, packed, &in, out, &outLen, kelFlushNone);
        if (r != kelStreamOk || in != partLen || outLen != half || memcmp(out, text, half) != 0) {
            fprintf(stderr, "the flushed part did not decode alone: %s\n", kelStreamResultText(r));
            return 1;
        }
    }
    kelStreamFree(s);

    /* The whole stream in one call. */
    outLen = len + 1;
    r = kelStreamDecompress(kelFormatDeflate, packed, packedLen, out, &outLen, NULL);
    if (r != kelStreamEnd || outLen != len || memcmp(out, text, len) != 0) {
        fprintf(stderr, "deflate round trip failed: %s\n", kelStreamResultText(r));
        return 1;
    }
    printf("deflate: %zu -> %zu bytes, the first %zu bytes decodable from the first %zu\n", len, packedLen, half,
           partLen);
    free(text), free(packed), free(out);
    return 0;
}

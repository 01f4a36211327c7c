/* examples/stream/zlib_dictionary.c - zlib with a preset dictionary: short messages that share vocabulary
 * compress far better when both sides start from the same dictionary. The decompressor learns from the stream
 * that a dictionary is needed (kelStreamNeedDictionary), checks it by its Adler-32 and continues.
 *
 * Usage: zlib_dictionary [FILE]   (the dictionary is FILE's first 32 KiB, the message the rest; without FILE,
 * generated text). Exits 0 when the round trip verified. */
#include <kelstream.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "example_input.h"

int main(int argc, char** argv) {
    size_t len = 0, dictLen, packedLen, plainLen, outLen = 0, pos = 0;
    unsigned char* text = loadInput(argc, argv, &len);
    unsigned char *packed, *out;
    const unsigned char* msg;
    KelStreamOptions opt;
    KelStreamHeader h;
    KelStream* s = NULL;
    KelStreamResult r;
    if (!text || len < 2) return 1;
    dictLen = len / 2 < 32768 ? len / 2 : 32768;
    msg = text + dictLen;
    len -= dictLen;

    /* Compress with the dictionary; without it for comparison. */
    kelStreamDefaultOptions(&opt);
    packedLen = plainLen = kelStreamCompressBound(kelFormatZlib, len, &opt);
    packed = malloc(packedLen);
    out = malloc(len + 1);
    if (!packed || !out || kelStreamCompress(kelFormatZlib, msg, len, packed, &plainLen, &opt) != kelStreamEnd)
        return 1;
    opt.dictionary = text;
    opt.dictionaryLen = dictLen;
    if (kelStreamCompress(kelFormatZlib, msg, len, packed, &packedLen, &opt) != kelStreamEnd) return 1;

    /* Decompress as a receiver that keeps the dictionary aside until the stream asks for it. */
    if (kelStreamCreate(&s, kelFormatZlib, kelDecompress, NULL) != kelStreamOk) return 1;
    for (;;) {
        size_t srcLen = packedLen - pos, dstLen = len + 1 - outLen;
        r = kelStreamProcess(s, packed + pos, &srcLen, out + outLen, &dstLen, kelFlushFinish);
        pos += srcLen;
        outLen += dstLen;
        if (r != kelStreamNeedDictionary) break;
        kelStreamGetHeader(s, &h); /* h.dictId: the Adler-32 of the dictionary the stream was made with */
        if (kelStreamSetDictionary(s, text, dictLen) != kelStreamOk) {
            fprintf(stderr, "dictionary %08x rejected: %s\n", (unsigned)h.dictId, kelStreamMessage(s));
            return 1;
        }
    }
    if (r != kelStreamEnd || outLen != len || memcmp(out, msg, len) != 0) {
        fprintf(stderr, "zlib round trip failed: %s (%s)\n", kelStreamResultText(r), kelStreamMessage(s));
        return 1;
    }
    kelStreamGetHeader(s, &h);
    printf("zlib: %zu bytes -> %zu with a %zu-byte dictionary (id %08x), %zu without\n", len, packedLen, dictLen,
           (unsigned)h.dictId, plainLen);
    kelStreamFree(s);

    /* A one-shot decompression needs the dictionary in the options. */
    outLen = len + 1;
    r = kelStreamDecompress(kelFormatZlib, packed, packedLen, out, &outLen, &opt);
    if (r != kelStreamEnd || outLen != len || memcmp(out, msg, len) != 0) return 1;
    free(text), free(packed), free(out);
    return 0;
}

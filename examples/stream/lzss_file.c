/* examples/stream/lzss_file.c - kel's LZSS container ("KLZS", the LZSS bit stream, length and CRC-32): compressed
 * while the input arrives in pieces, then restored in one call. A damaged copy is rejected by its CRC or its
 * structure, never decoded into wrong data silently.
 *
 * Usage: lzss_file [FILE]   (without FILE, a generated text). Exits 0 when the round trip verified. */
#include <kelstream.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "example_input.h"

int main(int argc, char** argv) {
    size_t len = 0, room, packedLen = 0, pos = 0, outLen;
    unsigned char* text = loadInput(argc, argv, &len);
    unsigned char *packed, *out;
    KelStream* s = NULL;
    KelStreamResult r = kelStreamOk;
    if (!text) return 1;

    room = kelStreamCompressBound(kelFormatLzss, len, NULL);
    packed = malloc(room);
    out = malloc(len + 1);
    if (!packed || !out || kelStreamCreate(&s, kelFormatLzss, kelCompress, NULL) != kelStreamOk) return 1;
    while (r == kelStreamOk) { /* 16 KiB of input per call, then finish */
        size_t srcLen = len - pos < 16384 ? len - pos : 16384, dstLen = room - packedLen;
        r = kelStreamProcess(s, text + pos, &srcLen, packed + packedLen, &dstLen,
                             pos + srcLen == len ? kelFlushFinish : kelFlushNone);
        pos += srcLen;
        packedLen += dstLen;
        if (r == kelStreamOk && srcLen == 0 && dstLen == 0) r = kelStreamErrNoRoom; /* cannot happen: bound */
    }
    kelStreamFree(s);
    if (r != kelStreamEnd) return 1;

    outLen = len + 1;
    r = kelStreamDecompress(kelFormatLzss, packed, packedLen, out, &outLen, NULL);
    if (r != kelStreamEnd || outLen != len || memcmp(out, text, len) != 0) {
        fprintf(stderr, "lzss round trip failed: %s\n", kelStreamResultText(r));
        return 1;
    }

    if (packedLen > 12) {
        packed[packedLen / 2] ^= 0x10; /* one flipped bit in the middle */
        outLen = len + 1;
        r = kelStreamDecompress(kelFormatLzss, packed, packedLen, out, &outLen, NULL);
        if (r >= 0) {
            fprintf(stderr, "a damaged LZSS file was accepted\n");
            return 1;
        }
    }
    printf("lzss: %zu -> %zu bytes; a flipped bit gives \"%s\"\n", len, packedLen, kelStreamResultText(r));
    free(text), free(packed), free(out);
    return 0;
}

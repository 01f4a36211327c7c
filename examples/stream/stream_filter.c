/* examples/stream/stream_filter.c - a filter from standard input to standard output in 64 KiB pieces, the shape
 * of any streaming user (a pipe, a socket, a file larger than memory): read what is there, hand it over, write
 * what comes out, and tell the stream when the input has ended.
 *
 * Usage: stream_filter -c FORMAT [LEVEL] < in > out    compress (gzip zlib deflate bzip2 lz4 lzop lzss)
 *        stream_filter -d [FORMAT] < in > out          decompress (default: detected from the first bytes)
 * Exits 0 on success, 1 on corrupt or truncated input (with a message), 2 on a usage or I/O error. */
#include <kelstream.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char* const kNames[] = {"auto", "gzip", "zlib", "deflate", "bzip2", "lz4", "lzop", "lzss"};

int main(int argc, char** argv) {
    static unsigned char in[65536], out[65536];
    KelStreamDirection dir;
    KelStreamFormat format = kelFormatAuto;
    KelStreamOptions opt;
    KelStreamResult r = kelStreamOk;
    KelStream* s = NULL;
    int i, done = 0;

    if (argc < 2 || (strcmp(argv[1], "-c") != 0 && strcmp(argv[1], "-d") != 0)) goto usage;
    dir = argv[1][1] == 'c' ? kelCompress : kelDecompress;
    for (i = 0; argc > 2 && i < 8; ++i)
        if (strcmp(argv[2], kNames[i]) == 0) format = (KelStreamFormat)i;
    if (argc > 2 && strcmp(argv[2], kNames[format]) != 0) goto usage;
    kelStreamDefaultOptions(&opt);
    if (argc > 3) opt.level = atoi(argv[3]);
    if (kelStreamCreate(&s, format, dir, &opt) != kelStreamOk) goto usage; /* e.g. -c auto, or level 12 */

    while (!done) {
        size_t n = fread(in, 1, sizeof in, stdin), pos = 0;
        KelStreamFlush flush = n < sizeof in ? kelFlushFinish : kelFlushNone; /* a short read: end of input */
        if (ferror(stdin)) {
            perror("stream_filter: read");
            return 2;
        }
        /* Hand over this piece; keep calling while input remains or the output came back full (more waits). */
        for (;;) {
            size_t srcLen = n - pos, dstLen = sizeof out;
            r = kelStreamProcess(s, in + pos, &srcLen, out, &dstLen, flush);
            pos += srcLen;
            if (dstLen && fwrite(out, 1, dstLen, stdout) != dstLen) {
                perror("stream_filter: write");
                return 2;
            }
            if (r < 0 || r == kelStreamNeedDictionary) {
                fprintf(stderr, "stream_filter: %s: %s\n", kelStreamResultText(r), kelStreamMessage(s));
                kelStreamFree(s);
                return 1;
            }
            if (r == kelStreamEnd || r == kelStreamTrailingData) {
                if (r == kelStreamTrailingData || pos < n) fprintf(stderr, "stream_filter: trailing data ignored\n");
                done = 1;
                break;
            }
            if (flush == kelFlushFinish) continue; /* until the end is written or verified */
            if (pos == n && dstLen < sizeof out) break;
        }
    }
    kelStreamFree(s);
    return fflush(stdout) == 0 ? 0 : 2;

usage:
    fprintf(stderr,
            "usage: stream_filter -c gzip|zlib|deflate|bzip2|lz4|lzop|lzss [LEVEL]\n"
            "       stream_filter -d [FORMAT]\n");
    return 2;
}

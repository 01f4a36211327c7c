/* examples/stream/example_input.h - the input every example compresses: the bytes of the file named on the
 * command line, or about 200 kB of generated text. Plain C and stdio; nothing of kel's. */
#ifndef KELSTREAM_EXAMPLE_INPUT_H
#define KELSTREAM_EXAMPLE_INPUT_H

#include <stdio.h>
#include <stdlib.h>

/* Returns a malloc'd buffer (one spare byte at the end) and its length, or null when the file cannot be read. */
static unsigned char* loadInput(int argc, char** argv, size_t* len) {
    unsigned char* p;
    *len = 0;
    if (argc > 1) {
        FILE* f = fopen(argv[1], "rb");
        long n = -1;
        if (f && fseek(f, 0, SEEK_END) == 0) n = ftell(f);
        if (n < 0 || fseek(f, 0, SEEK_SET) != 0) {
            if (f) fclose(f);
            fprintf(stderr, "cannot read %s\n", argv[1]);
            return NULL;
        }
        p = (unsigned char*)malloc((size_t)n + 1);
        if (p) *len = fread(p, 1, (size_t)n, f);
        fclose(f);
        return p;
    }
    p = (unsigned char*)malloc(200000);
    while (p && *len < 200000 - 80)
        *len +=
            (size_t)sprintf((char*)p + *len, "line %lu: a stream of text that compresses well\n", (unsigned long)*len);
    return p;
}

#endif

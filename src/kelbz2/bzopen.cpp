// src/kelbz2/bzopen.cpp - libbz2's zlib-like file calls: BZ2_bzopen, BZ2_bzdopen, BZ2_bzread, BZ2_bzwrite,
// BZ2_bzflush, BZ2_bzclose and BZ2_bzerror, on top of the stdio interface of file.cpp.
//
// The mode string is read as libbz2 reads it: 'r' or 'w' picks the direction (reading when neither), 's' the
// small decoder, a digit the block size (else 9); other characters are ignored. A null or empty path means
// standard input or output, which closing leaves open.
#include <cstdio>

#include "kelbz2/kelbz2_internal.h"

using kel::bz2::BzFile;

namespace {

constexpr int kDefaultWorkFactor = 30;

BZFILE* openEither(const char* path, int fd, const char* mode, bool byPath) {
    if (!mode) return nullptr;
    bool writing = false;
    int small = 0;
    int blockSize100k = 9;
    for (const char* c = mode; *c; ++c) {
        if (*c == 'r') {
            writing = false;
        } else if (*c == 'w') {
            writing = true;
        } else if (*c == 's') {
            small = 1;
        } else if (*c >= '0' && *c <= '9') {
            blockSize100k = *c - '0';
        }
    }
    const char* stdioMode = writing ? "wb" : "rb";
    std::FILE* fp;
    if (byPath) {
        fp = (!path || !*path) ? (writing ? stdout : stdin) : std::fopen(path, stdioMode);
    } else {
        fp = fdopen(fd, stdioMode);
    }
    if (!fp) return nullptr;
    if (blockSize100k < 1) blockSize100k = 1;
    int err = BZ_OK;
    BZFILE* b = writing ? BZ2_bzWriteOpen(&err, fp, blockSize100k, 0, kDefaultWorkFactor)
                        : BZ2_bzReadOpen(&err, fp, 0, small, nullptr, 0);
    if (!b && fp != stdin && fp != stdout) std::fclose(fp);
    return b;
}

constexpr const char* kErrorTexts[] = {
    "OK",       "SEQUENCE_ERROR", "PARAM_ERROR",  "MEM_ERROR",    "DATA_ERROR", "DATA_ERROR_MAGIC",
    "IO_ERROR", "UNEXPECTED_EOF", "OUTBUFF_FULL", "CONFIG_ERROR",
};

}  // namespace

extern "C" {

BZFILE* BZ2_bzopen(const char* path, const char* mode) {
    return openEither(path, -1, mode, true);
}

BZFILE* BZ2_bzdopen(int fd, const char* mode) {
    return openEither(nullptr, fd, mode, false);
}

int BZ2_bzread(BZFILE* b, void* buf, int len) {
    if (static_cast<BzFile*>(b)->lastErr == BZ_STREAM_END) return 0;
    int err = BZ_OK;
    const int n = BZ2_bzRead(&err, b, buf, len);
    return err == BZ_OK || err == BZ_STREAM_END ? n : -1;
}

int BZ2_bzwrite(BZFILE* b, void* buf, int len) {
    int err = BZ_OK;
    BZ2_bzWrite(&err, b, buf, len);
    return err == BZ_OK ? len : -1;
}

// Output waits for the end of its block, so there is nothing to push out early: libbz2 does nothing here either.
int BZ2_bzflush(BZFILE* b) {
    (void)b;
    return 0;
}

void BZ2_bzclose(BZFILE* b) {
    if (!b) return;
    auto* f = static_cast<BzFile*>(b);
    std::FILE* fp = f->handle;
    int err = BZ_OK;
    if (f->writing) {
        BZ2_bzWriteClose(&err, b, 0, nullptr, nullptr);
        if (err != BZ_OK) BZ2_bzWriteClose(nullptr, b, 1, nullptr, nullptr);
    } else {
        BZ2_bzReadClose(&err, b);
    }
    if (fp != stdin && fp != stdout) std::fclose(fp);
}

const char* BZ2_bzerror(BZFILE* b, int* errnum) {
    int err = static_cast<BzFile*>(b)->lastErr;
    if (err > 0) err = 0;
    *errnum = err;
    const int i = -err;
    return i < static_cast<int>(sizeof kErrorTexts / sizeof *kErrorTexts) ? kErrorTexts[i] : "???";
}

}  // extern "C"

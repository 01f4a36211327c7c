// src/kelbz2/file.cpp - libbz2's stdio interface: BZ2_bzReadOpen, BZ2_bzRead, BZ2_bzReadGetUnused,
// BZ2_bzReadClose, BZ2_bzWriteOpen, BZ2_bzWrite, BZ2_bzWriteClose and BZ2_bzWriteClose64.
//
// Each call reports through *bzerror (when not null) and keeps the same value in the file's lastErr. Reading
// decodes one stream: BZ_STREAM_END marks its end, and BZ2_bzReadGetUnused hands out the input read past it, so a
// caller can open the next stream with it. Input comes from the file in pieces of BZ_MAX_UNUSED bytes, and output
// goes to it in pieces of the same size, as libbz2 does, so the file's position behaves the same.
#include <cstdlib>
#include <cstring>

#include "kelbz2/kelbz2_internal.h"

using kel::bz2::BzFile;

namespace {

void setError(int* bzerror, BzFile* f, int code) {
    if (bzerror) *bzerror = code;
    if (f) f->lastErr = code;
}

// End of file, found by reading ahead one character (feof alone says so only after a read has failed).
bool atEnd(std::FILE* f) {
    const int c = std::fgetc(f);
    if (c == EOF) return true;
    std::ungetc(c, f);
    return false;
}

BzFile* newFile(std::FILE* f, bool writing) {
    auto* b = static_cast<BzFile*>(std::malloc(sizeof(BzFile)));
    if (!b) return nullptr;
    std::memset(b, 0, sizeof *b);
    b->handle = f;
    b->writing = writing;
    return b;
}

}  // namespace

extern "C" {

BZFILE* BZ2_bzWriteOpen(int* bzerror, FILE* f, int blockSize100k, int verbosity, int workFactor) {
    setError(bzerror, nullptr, BZ_OK);
    if (!f || blockSize100k < 1 || blockSize100k > 9 || workFactor < 0 || workFactor > 250 || verbosity < 0 ||
        verbosity > 4) {
        setError(bzerror, nullptr, BZ_PARAM_ERROR);
        return nullptr;
    }
    if (std::ferror(f)) {
        setError(bzerror, nullptr, BZ_IO_ERROR);
        return nullptr;
    }
    BzFile* b = newFile(f, true);
    if (!b) {
        setError(bzerror, nullptr, BZ_MEM_ERROR);
        return nullptr;
    }
    const int r = BZ2_bzCompressInit(&b->strm, blockSize100k, verbosity, workFactor);
    if (r != BZ_OK) {
        setError(bzerror, b, r);
        std::free(b);
        return nullptr;
    }
    b->initialised = true;
    return b;
}

void BZ2_bzWrite(int* bzerror, BZFILE* handle, void* buf, int len) {
    auto* b = static_cast<BzFile*>(handle);
    setError(bzerror, b, BZ_OK);
    if (!b || !buf || len < 0) {
        setError(bzerror, b, BZ_PARAM_ERROR);
        return;
    }
    if (!b->writing) {
        setError(bzerror, b, BZ_SEQUENCE_ERROR);
        return;
    }
    if (std::ferror(b->handle)) {
        setError(bzerror, b, BZ_IO_ERROR);
        return;
    }
    if (len == 0) return;
    b->strm.next_in = static_cast<char*>(buf);
    b->strm.avail_in = static_cast<unsigned int>(len);
    while (b->strm.avail_in > 0) {
        b->strm.next_out = b->buf;
        b->strm.avail_out = BZ_MAX_UNUSED;
        const int r = BZ2_bzCompress(&b->strm, BZ_RUN);
        if (r != BZ_RUN_OK) {
            setError(bzerror, b, r);
            return;
        }
        const std::size_t n = BZ_MAX_UNUSED - b->strm.avail_out;
        if (n > 0 && (std::fwrite(b->buf, 1, n, b->handle) != n || std::ferror(b->handle))) {
            setError(bzerror, b, BZ_IO_ERROR);
            return;
        }
    }
}

// A close that fails without abandon leaves the file open, so that the caller may close it again with abandon
// (as bzclose does); an abandoning close always releases it.
void BZ2_bzWriteClose64(int* bzerror, BZFILE* handle, int abandon, unsigned int* nbytes_in_lo32,
                        unsigned int* nbytes_in_hi32, unsigned int* nbytes_out_lo32, unsigned int* nbytes_out_hi32) {
    auto* b = static_cast<BzFile*>(handle);
    if (!b) {
        setError(bzerror, nullptr, BZ_OK);
        return;
    }
    if (!b->writing) {
        setError(bzerror, b, BZ_SEQUENCE_ERROR);
        return;
    }
    int result = BZ_OK;
    if (std::ferror(b->handle)) {
        result = BZ_IO_ERROR;
    } else if (!abandon && b->lastErr == BZ_OK) {
        for (;;) {
            b->strm.next_out = b->buf;
            b->strm.avail_out = BZ_MAX_UNUSED;
            const int r = BZ2_bzCompress(&b->strm, BZ_FINISH);
            if (r != BZ_FINISH_OK && r != BZ_STREAM_END) {
                result = r;
                break;
            }
            const std::size_t n = BZ_MAX_UNUSED - b->strm.avail_out;
            if (n > 0 && (std::fwrite(b->buf, 1, n, b->handle) != n || std::ferror(b->handle))) {
                result = BZ_IO_ERROR;
                break;
            }
            if (r == BZ_STREAM_END) break;
        }
    }
    if (result == BZ_OK && !abandon && (std::fflush(b->handle) != 0 || std::ferror(b->handle))) result = BZ_IO_ERROR;
    if (result != BZ_OK && !abandon) {
        setError(bzerror, b, result);
        return;
    }
    if (nbytes_in_lo32) *nbytes_in_lo32 = b->strm.total_in_lo32;
    if (nbytes_in_hi32) *nbytes_in_hi32 = b->strm.total_in_hi32;
    if (nbytes_out_lo32) *nbytes_out_lo32 = b->strm.total_out_lo32;
    if (nbytes_out_hi32) *nbytes_out_hi32 = b->strm.total_out_hi32;
    setError(bzerror, nullptr, result);
    BZ2_bzCompressEnd(&b->strm);
    std::free(b);
}

void BZ2_bzWriteClose(int* bzerror, BZFILE* handle, int abandon, unsigned int* nbytes_in, unsigned int* nbytes_out) {
    BZ2_bzWriteClose64(bzerror, handle, abandon, nbytes_in, nullptr, nbytes_out, nullptr);
}

BZFILE* BZ2_bzReadOpen(int* bzerror, FILE* f, int verbosity, int small, void* unused, int nUnused) {
    setError(bzerror, nullptr, BZ_OK);
    if (!f || (small != 0 && small != 1) || verbosity < 0 || verbosity > 4 || (!unused && nUnused != 0) ||
        (unused && (nUnused < 0 || nUnused > BZ_MAX_UNUSED))) {
        setError(bzerror, nullptr, BZ_PARAM_ERROR);
        return nullptr;
    }
    if (std::ferror(f)) {
        setError(bzerror, nullptr, BZ_IO_ERROR);
        return nullptr;
    }
    BzFile* b = newFile(f, false);
    if (!b) {
        setError(bzerror, nullptr, BZ_MEM_ERROR);
        return nullptr;
    }
    if (nUnused > 0) std::memcpy(b->buf, unused, static_cast<std::size_t>(nUnused));
    b->bufLen = nUnused;
    const int r = BZ2_bzDecompressInit(&b->strm, verbosity, small);
    if (r != BZ_OK) {
        setError(bzerror, b, r);
        std::free(b);
        return nullptr;
    }
    b->strm.next_in = b->buf;
    b->strm.avail_in = static_cast<unsigned int>(b->bufLen);
    b->initialised = true;
    return b;
}

int BZ2_bzRead(int* bzerror, BZFILE* handle, void* buf, int len) {
    auto* b = static_cast<BzFile*>(handle);
    setError(bzerror, b, BZ_OK);
    if (!b || !buf || len < 0) {
        setError(bzerror, b, BZ_PARAM_ERROR);
        return 0;
    }
    if (b->writing) {
        setError(bzerror, b, BZ_SEQUENCE_ERROR);
        return 0;
    }
    if (len == 0) return 0;
    b->strm.next_out = static_cast<char*>(buf);
    b->strm.avail_out = static_cast<unsigned int>(len);
    for (;;) {
        if (std::ferror(b->handle)) {
            setError(bzerror, b, BZ_IO_ERROR);
            return 0;
        }
        if (b->strm.avail_in == 0 && !atEnd(b->handle)) {
            const std::size_t n = std::fread(b->buf, 1, BZ_MAX_UNUSED, b->handle);
            if (std::ferror(b->handle)) {
                setError(bzerror, b, BZ_IO_ERROR);
                return 0;
            }
            b->bufLen = static_cast<int>(n);
            b->strm.next_in = b->buf;
            b->strm.avail_in = static_cast<unsigned int>(n);
        }
        const int r = BZ2_bzDecompress(&b->strm);
        if (r != BZ_OK && r != BZ_STREAM_END) {
            setError(bzerror, b, r);
            return 0;
        }
        if (r == BZ_OK && b->strm.avail_in == 0 && b->strm.avail_out > 0 && atEnd(b->handle)) {
            setError(bzerror, b, BZ_UNEXPECTED_EOF);
            return 0;
        }
        if (r == BZ_STREAM_END) {
            setError(bzerror, b, BZ_STREAM_END);
            return len - static_cast<int>(b->strm.avail_out);
        }
        if (b->strm.avail_out == 0) return len;
    }
}

void BZ2_bzReadGetUnused(int* bzerror, BZFILE* handle, void** unused, int* nUnused) {
    auto* b = static_cast<BzFile*>(handle);
    if (!b) {
        setError(bzerror, nullptr, BZ_PARAM_ERROR);
        return;
    }
    if (b->lastErr != BZ_STREAM_END) {
        setError(bzerror, b, BZ_SEQUENCE_ERROR);
        return;
    }
    if (!unused || !nUnused) {
        setError(bzerror, b, BZ_PARAM_ERROR);
        return;
    }
    setError(bzerror, b, BZ_OK);
    *nUnused = static_cast<int>(b->strm.avail_in);
    *unused = b->strm.next_in;
}

void BZ2_bzReadClose(int* bzerror, BZFILE* handle) {
    auto* b = static_cast<BzFile*>(handle);
    setError(bzerror, b, BZ_OK);
    if (!b) return;
    if (b->writing) {
        setError(bzerror, b, BZ_SEQUENCE_ERROR);
        return;
    }
    if (b->initialised) BZ2_bzDecompressEnd(&b->strm);
    std::free(b);
}

}  // extern "C"

// src/kelz/compress.cpp - zlib's one-call compression: a zlib stream of the whole source in one buffer.
#include "kelz/kelz_internal.h"

extern "C" {

// The stream's counts are uInt, so source and destination are fed in pieces of at most UINT_MAX bytes; the last
// input piece goes with Z_FINISH. A destination too small ends the loop with Z_BUF_ERROR, as in zlib.
int compress2(Bytef* dest, uLongf* destLen, const Bytef* source, uLong sourceLen, int level) {
    z_stream strm = {};
    const int init = deflateInit(&strm, level);
    if (init != Z_OK) return init;
    constexpr uLong kMaxPiece = uInt(-1);
    uLong outLeft = *destLen;
    uLong inLeft = sourceLen;
    *destLen = 0;
    strm.next_out = dest;
    strm.next_in = const_cast<Bytef*>(source);
    int err = Z_OK;
    do {
        if (strm.avail_out == 0) {
            strm.avail_out = uInt(outLeft < kMaxPiece ? outLeft : kMaxPiece);
            outLeft -= strm.avail_out;
        }
        if (strm.avail_in == 0) {
            strm.avail_in = uInt(inLeft < kMaxPiece ? inLeft : kMaxPiece);
            inLeft -= strm.avail_in;
        }
        err = deflate(&strm, inLeft ? Z_NO_FLUSH : Z_FINISH);
    } while (err == Z_OK);
    *destLen = strm.total_out;
    deflateEnd(&strm);
    return err == Z_STREAM_END ? Z_OK : err;
}

int compress(Bytef* dest, uLongf* destLen, const Bytef* source, uLong sourceLen) {
    return compress2(dest, destLen, source, sourceLen, Z_DEFAULT_COMPRESSION);
}

// zlib's figure; our output stays within it, since incompressible input goes into joined stored blocks of
// nearly 64 KiB (5 bytes each) and every other block is smaller than its stored form.
uLong compressBound(uLong sourceLen) {
    return sourceLen + (sourceLen >> 12) + (sourceLen >> 14) + (sourceLen >> 25) + 13;
}

}  // extern "C"

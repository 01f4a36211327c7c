// src/kelz/deflate.cpp - zlib's compression calls (placeholder: every call reports Z_STREAM_ERROR until the
// engine is in).
#include "kelz/kelz_internal.h"

extern "C" {

int deflateInit_(z_streamp, int, const char*, int) { return Z_STREAM_ERROR; }
int deflateInit2_(z_streamp, int, int, int, int, int, const char*, int) { return Z_STREAM_ERROR; }
int deflate(z_streamp, int) { return Z_STREAM_ERROR; }
int deflateEnd(z_streamp) { return Z_STREAM_ERROR; }
int deflateReset(z_streamp) { return Z_STREAM_ERROR; }
int deflateResetKeep(z_streamp) { return Z_STREAM_ERROR; }
int deflateParams(z_streamp, int, int) { return Z_STREAM_ERROR; }
int deflateSetDictionary(z_streamp, const Bytef*, uInt) { return Z_STREAM_ERROR; }
int deflateGetDictionary(z_streamp, Bytef*, uInt*) { return Z_STREAM_ERROR; }
int deflateCopy(z_streamp, z_streamp) { return Z_STREAM_ERROR; }
uLong deflateBound(z_streamp, uLong n) { return n + (n >> 12) + (n >> 14) + (n >> 25) + 13 + 18; }
int deflatePending(z_streamp, unsigned*, int*) { return Z_STREAM_ERROR; }
int deflatePrime(z_streamp, int, int) { return Z_STREAM_ERROR; }
int deflateSetHeader(z_streamp, gz_headerp) { return Z_STREAM_ERROR; }
int deflateTune(z_streamp, int, int, int, int) { return Z_STREAM_ERROR; }

}  // extern "C"

// src/kelz/inflate.cpp - zlib's decompression calls (placeholder: every call reports Z_STREAM_ERROR until the
// engine is in).
#include "kelz/kelz_internal.h"

extern "C" {

int inflateInit_(z_streamp, const char*, int) { return Z_STREAM_ERROR; }
int inflateInit2_(z_streamp, int, const char*, int) { return Z_STREAM_ERROR; }
int inflate(z_streamp, int) { return Z_STREAM_ERROR; }
int inflateEnd(z_streamp) { return Z_STREAM_ERROR; }
int inflateReset(z_streamp) { return Z_STREAM_ERROR; }
int inflateReset2(z_streamp, int) { return Z_STREAM_ERROR; }
int inflateResetKeep(z_streamp) { return Z_STREAM_ERROR; }
int inflateSetDictionary(z_streamp, const Bytef*, uInt) { return Z_STREAM_ERROR; }
int inflateGetDictionary(z_streamp, Bytef*, uInt*) { return Z_STREAM_ERROR; }
int inflateSync(z_streamp) { return Z_STREAM_ERROR; }
int inflateSyncPoint(z_streamp) { return Z_STREAM_ERROR; }
int inflateCopy(z_streamp, z_streamp) { return Z_STREAM_ERROR; }
int inflatePrime(z_streamp, int, int) { return Z_STREAM_ERROR; }
long inflateMark(z_streamp) { return -(1L << 16); }
int inflateGetHeader(z_streamp, gz_headerp) { return Z_STREAM_ERROR; }
int inflateUndermine(z_streamp, int) { return Z_STREAM_ERROR; }
int inflateValidate(z_streamp, int) { return Z_STREAM_ERROR; }
unsigned long inflateCodesUsed(z_streamp) { return static_cast<unsigned long>(-1); }
int inflateBackInit_(z_streamp, int, unsigned char*, const char*, int) { return Z_STREAM_ERROR; }
int inflateBack(z_streamp, in_func, void*, out_func, void*) { return Z_STREAM_ERROR; }
int inflateBackEnd(z_streamp) { return Z_STREAM_ERROR; }
int uncompress(Bytef*, uLongf*, const Bytef*, uLong) { return Z_STREAM_ERROR; }
int uncompress2(Bytef*, uLongf*, const Bytef*, uLong*) { return Z_STREAM_ERROR; }

}  // extern "C"

// src/dc/lz4/lz4_decode.cpp - LZ4 block decoding: argument checks, then the SSSE3 decoder kernel.
#include "core/dc_exports.h"
#include "dc/lz4/lz4_internal.h"

extern "C" KelStatus n8_kelsDecodeLZ4_8u(const Kel8u* pSrc, int srcLen, Kel8u* pDst, int* pDstLen) {
    if (pSrc == nullptr || pDst == nullptr || pDstLen == nullptr) return kelStatusNullPointer;
    if (srcLen < 1 || *pDstLen < 1) return kelStatusBadSize;
    return n8_ownsDecodeLZ4_8u(pSrc, srcLen, pDst, pDstLen);
}

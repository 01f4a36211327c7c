// src/dc/bzip2/block_decode.cpp - the fused bzip2 block decoder: symbols to run-length coded data in one call.
//
// First pass (n8_ownsBZ2UnMTF_16u8u): zero runs and move-to-front are undone into the destination, which then
// holds the last column of the transform, while the bytes are counted. Second pass: with cum[b] the number of
// bytes below b, the 32-bit work entry cum[b]++ receives, for each position i with byte b, the link i in its
// upper 24 bits and b in its low byte: each sorted rotation's successor in text order and the byte the walk
// emits on arriving there. Every entry is written once and never read back in this pass, so the random accesses
// are pure stores. Third pass: the walk from the origin reads one entry per output byte, the next place and the
// byte in the same load, and overwrites the destination (the last column is no longer needed). Blocks are below
// 2^24 bytes so that a link fits beside its byte.
#include "core/dc_exports.h"
#include "dc/bzip2/bzip2_internal.h"

namespace {

constexpr Kel32u kMaxBlock = 1u << 24;

}  // namespace

extern "C" KelStatus n8_kelsDecodeBlockGetSize_BZ2_8u(Kel32u blockSize, int* pDecodeBlockBuffSize) {
    if (pDecodeBlockBuffSize == nullptr) return kelStatusNullPointer;
    if (blockSize >= kMaxBlock) return kelStatusBadSize;
    *pDecodeBlockBuffSize = static_cast<int>(4 * blockSize);
    return kelStatusOk;
}

// A block exactly as long as the capacity is complete and valid; only output that would pass the capacity fails.
extern "C" KelStatus n8_kelsDecodeBlock_BZ2_16u8u(const Kel16u* pSrc, int srcLen, Kel8u* pDst, int* pDstLen, int index,
                                                  Kel32u sizeDictionary, const Kel8u inUse[256], Kel8u* pBuff) {
    if (pSrc == nullptr || pDst == nullptr || pDstLen == nullptr || inUse == nullptr) return kelStatusNullPointer;
    if (pBuff == nullptr) return kelStatusNullPointer;
    if (srcLen < 1) return kelStatusBadSize;
    const Kel32u cap = static_cast<Kel32u>(*pDstLen);
    if (cap >= kMaxBlock) return kelStatusBadSize;
    if (index < 0 || static_cast<Kel32u>(index) >= cap) return kelStatusBadSize;
    if (sizeDictionary >= 257) return kelStatusBadSize;

    alignas(16) Kel8u list[256] = {};
    Kel32u used = 0;
    for (int v = 0; v < 256; ++v) {
        if (inUse[v] != 0) list[used++] = static_cast<Kel8u>(v);
    }
    if (used != sizeDictionary || used == 0) return kelStatusError;

    Kel32u cum[256] = {};
    const int len = n8_ownsBZ2UnMTF_16u8u(pSrc, srcLen, pDst, static_cast<int>(cap), list, static_cast<int>(used), cum);
    if (len < 0 || index >= len) return kelStatusError;

    Kel32u sum = 0;
    for (int b = 0; b < 256; ++b) {
        const Kel32u c = cum[b];
        cum[b] = sum;
        sum += c;
    }
    for (int i = 0; i < len; ++i) {
        const Kel8u b = pDst[i];
        n8_storeU32(pBuff + 4 * static_cast<size_t>(cum[b]++), (static_cast<Kel32u>(i) << 8) | b);
    }

    Kel32u p = static_cast<Kel32u>(index);
    for (int k = 0; k < len; ++k) {
        const Kel32u e = n8_loadU32(pBuff + 4 * static_cast<size_t>(p));
        pDst[k] = static_cast<Kel8u>(e);
        p = e >> 8;
    }
    *pDstLen = len;
    return kelStatusOk;
}

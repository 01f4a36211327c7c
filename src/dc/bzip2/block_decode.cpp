// src/dc/bzip2/block_decode.cpp - the fused bzip2 block decoder: symbols to run-length coded data in one call.
//
// First pass (n8_ownsBZ2UnMTF_16u8u): zero runs and move-to-front are undone into the destination, which then
// holds the last column of the transform, while the bytes are counted. Second pass: with cum[b] the number of
// bytes below b, the 32-bit work entry cum[b]++ receives, for each position i with byte b, the link i in its
// upper 24 bits and b in its low byte: each sorted rotation's successor in text order and the byte the walk
// emits on arriving there. Every entry is written once and never read back in this pass, so the random accesses
// are pure stores. Third pass: the walk from the origin reads one entry per output byte, the next place and the
// byte in the same load, and overwrites the destination (the last column is no longer needed); on large blocks
// two walks run in step (n8_walkTwo). Blocks are below 2^24 bytes so that a link fits beside its byte.
#include "core/dc_exports.h"
#include "dc/bzip2/bzip2_internal.h"
#include "primitives/simd.h"

namespace {

constexpr Kel32u kMaxBlock = 1u << 24;

// Below this the work entries sit in the first cache levels and a second walk only adds its bookkeeping.
constexpr int kTwoWalkMinLen = 1 << 15;

// Follows the links from place p, writing pDst[from, to).
inline void n8_walkOne(const Kel8u* pBuff, Kel8u* pDst, int from, int to, Kel32u p) {
    for (int k = from; k < to; ++k) {
        const Kel32u e = n8_loadU32(pBuff + 4 * static_cast<size_t>(p));
        pDst[k] = static_cast<Kel8u>(e);
        p = e >> 8;
    }
}

// Reverses pDst[lo, hi): 16-byte blocks from both ends while they do not meet, then byte by byte.
inline void n8_reverse(Kel8u* pDst, int lo, int hi) {
    const Vec128 mirror = _mm_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
    while (hi - lo >= 32) {
        const Vec128 a = n8_loadu(pDst + lo);
        const Vec128 b = n8_loadu(pDst + hi - 16);
        n8_storeu(pDst + lo, n8_shuffle8(b, mirror));
        n8_storeu(pDst + hi - 16, n8_shuffle8(a, mirror));
        lo += 16;
        hi -= 16;
    }
    while (hi - lo >= 2) {
        const Kel8u t = pDst[lo];
        pDst[lo++] = pDst[--hi];
        pDst[hi] = t;
    }
}

// The walk is one dependent load per byte, and on a block larger than the second-level cache each load waits
// for memory. Two walks in step keep two loads in flight: walk A from the origin writes the block from the
// front; walk B starts at another place, whose offset in the block is unknown until A arrives there, and writes
// its bytes from the back, reversed, until it arrives at the origin. A valid block is a single cycle through all
// places, so the two meet exactly when the destination is full; then B's part is turned around. Anything else
// (symbols that do not form one cycle) returns false, and the caller walks once from the origin, the output every
// block gets by definition. Both walks read only links below len, so corrupt links stay inside the buffer too.
bool n8_walkTwo(const Kel8u* pBuff, Kel8u* pDst, int len, Kel32u origin) {
    // Any place but the origin will do; halfway round is as good a guess as any at where it falls in the block.
    const Kel32u start = (origin + static_cast<Kel32u>(len) / 2) % static_cast<Kel32u>(len);
    Kel32u a = origin, b = start;
    int lo = 0, hi = len;  // A has written [0, lo), B [hi, len)
    for (;;) {
        if (hi - lo < 2) return false;
        const Kel32u ea = n8_loadU32(pBuff + 4 * static_cast<size_t>(a));
        const Kel32u eb = n8_loadU32(pBuff + 4 * static_cast<size_t>(b));
        pDst[lo++] = static_cast<Kel8u>(ea);
        pDst[--hi] = static_cast<Kel8u>(eb);
        a = ea >> 8;
        b = eb >> 8;
        if (a == start || b == origin) break;
    }
    while (a != start && lo < hi) {
        const Kel32u e = n8_loadU32(pBuff + 4 * static_cast<size_t>(a));
        pDst[lo++] = static_cast<Kel8u>(e);
        a = e >> 8;
    }
    while (b != origin && lo < hi) {
        const Kel32u e = n8_loadU32(pBuff + 4 * static_cast<size_t>(b));
        pDst[--hi] = static_cast<Kel8u>(e);
        b = e >> 8;
    }
    if (a != start || b != origin || lo != hi) return false;
    n8_reverse(pDst, hi, len);
    return true;
}

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

    if (len < kTwoWalkMinLen || !n8_walkTwo(pBuff, pDst, len, static_cast<Kel32u>(index))) {
        n8_walkOne(pBuff, pDst, 0, len, static_cast<Kel32u>(index));
    }
    *pDstLen = len;
    return kelStatusOk;
}

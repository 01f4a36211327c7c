// src/dc/deflate/deflate_lz77.cpp - Deflate LZ77 matching: argument checks, position rebasing, the level table,
// and the hash-table loaders for preset dictionaries and skipped bytes.
//
// The matchers themselves are kernels (lz77_matcher.h); this file turns the caller's in-out arguments into an
// Lz77Job and writes the results back once, after the kernel has run.
#include "core/dc_exports.h"
#include "dc/deflate/deflate_internal.h"
#include "dc/deflate/rand_vec.h"

using namespace kel::deflate;

namespace {

// Parameters per level (maxChain, goodLength, niceLength, lazyLimit). Rows whose level mod 10 is 5 to 9 are for
// the lazy matcher; maxChain 0 selects the greedy matcher's single-candidate 3-byte mode.
constexpr DeflateMatchParams loc_vec_match[30] = {
    {0, 0, 0, 0},    {4, 8, 8, 8},      {4, 16, 16, 9},    {4, 16, 16, 12},     {48, 32, 32, 16},
    {32, 8, 32, 16}, {128, 8, 256, 16}, {144, 8, 256, 16}, {192, 32, 258, 128}, {256, 32, 258, 258},
    {0, 0, 0, 0},    {3, 7, 8, 258},    {3, 8, 16, 258},   {5, 8, 16, 258},     {16, 32, 32, 258},
    {24, 6, 32, 16}, {120, 7, 256, 16}, {140, 7, 256, 16}, {192, 32, 258, 128}, {512, 32, 258, 258},
    {0, 0, 0, 0},    {4, 8, 8, 258},    {4, 16, 16, 258},  {4, 16, 16, 258},    {16, 32, 32, 258},
    {32, 8, 32, 16}, {128, 8, 256, 16}, {144, 8, 256, 16}, {192, 32, 258, 128}, {512, 32, 258, 258},
};

// Both sizes are used as masks (size - 1). A size that is not a power of two still indexes inside its table (the
// mask is below the size); it only makes distinct positions share slots.
bool n8_tableSizesValid(Kel32u windowSize, Kel32u hashTableSize) {
    return windowSize >= 256 && windowSize <= 32768 && hashTableSize >= 256 && hashTableSize <= 65536;
}

enum class MatcherKind { Greedy, Lazy };

KelStatus n8_runMatcher(MatcherKind kind, const Kel8u** pSrcPtr, Kel32s* pSrcLen, Kel32u* pSrcPos,
                        const Kel8u* pHistoryEnd, Kel32u windowSize, Kel32s* pHashHeads, Kel32s* pHashChain,
                        Kel32u hashTableSize, DeflateCodeEntry* pLitLenCodes, DeflateCodeEntry* pDistCodes,
                        Kel8u* pLitLenOut, Kel16u* pDistOut, Kel32s* pDstLen, const DeflateMatchParams* pMatchParams,
                        Kel32u flushMode) {
    if (pSrcPtr == nullptr || pSrcLen == nullptr || pSrcPos == nullptr || pHistoryEnd == nullptr ||
        pHashHeads == nullptr || pHashChain == nullptr || pLitLenCodes == nullptr || pDistCodes == nullptr ||
        pLitLenOut == nullptr || pDistOut == nullptr || pDstLen == nullptr || *pSrcPtr == nullptr ||
        pMatchParams == nullptr) {
        return kelStatusNullPointer;
    }
    if (!n8_tableSizesValid(windowSize, hashTableSize)) return kelStatusBadSize;
    const DeflateMatchParams mp = *pMatchParams;
    if (kind == MatcherKind::Greedy) {
        if (mp.maxChain < 0 || (mp.maxChain != 0 && (mp.goodLength < 4 || mp.niceLength < 4 || mp.lazyLimit < 4))) {
            return kelStatusBadArgument;
        }
    } else if (mp.maxChain < 1 || mp.goodLength < 4 || mp.niceLength < 4 || mp.lazyLimit < 4) {
        return kelStatusBadArgument;
    }

    const Kel32s len = *pSrcLen;
    Kel32u s = *pSrcPos;
    // Shift positions down before they can overflow (see deflate_internal.h). The 3-byte mode has no chains.
    if (n8_needsRebase(s, len, windowSize)) {
        const Kel32s delta = Kel32s(s - windowSize);
        n8_rebaseTable(pHashHeads, hashTableSize, delta);
        if (kind == MatcherKind::Lazy || mp.maxChain >= 1) n8_rebaseTable(pHashChain, windowSize, delta);
        s = windowSize;
        *pSrcPos = s;
    }
    const Kel32s useLen = n8_usableLength(s, len);

    Lz77Job job;
    job.src = *pSrcPtr;
    job.hist = pHistoryEnd;
    job.s = Kel32s(s);
    job.len = useLen;
    job.origLen = len;
    job.windowSize = Kel32s(windowSize);
    job.hashMask = hashTableSize - 1;
    job.heads = pHashHeads;
    job.chain = pHashChain;
    job.litLenCodes = pLitLenCodes;
    job.distCodes = pDistCodes;
    job.litLenOut = pLitLenOut;
    job.distOut = pDistOut;
    job.capacity = *pDstLen;
    job.params = mp;
    job.flushAll = flushMode >= 2 && useLen == len;
    job.consumed = 0;
    job.items = 0;
    if (kind == MatcherKind::Greedy) {
        n8_ownsDeflateLZ77Greedy_8u(job);
    } else {
        n8_ownsDeflateLZ77Lazy_8u(job);
    }

    *pSrcPtr += job.consumed;
    *pSrcLen = len - job.consumed;
    *pSrcPos = s + Kel32u(job.consumed);
    *pDstLen -= job.items;
    return kelStatusOk;
}

// Inserts positions pos to pos + n - 1 whose bytes start at p (p[n + 2] is the last byte read) with the 3-byte
// rolling hash, head table only; the hash starts from p[0] and p[1].
void n8_insertHeads3(const Kel8u* p, Kel32s pos, Kel32u n, Kel32s* heads, Kel32u hashMask) {
    Kel32u h = (Kel32u(p[0]) << 5) ^ p[1];
    for (Kel32u i = 0; i < n; ++i) {
        h = ((h << 5) ^ p[i + 2]) & hashMask;
        heads[h] = Kel32s(Kel32u(pos) + i);
    }
}

// Inserts positions pos to pos + n - 1 whose bytes start at p (p[n + 3] is the last byte read) with the 4-byte
// hash into both tables.
void n8_insertChains4(const Kel8u* p, Kel32s pos, Kel32u n, Kel32s* heads, Kel32u hashMask, Kel32s* chain,
                      Kel32u windowMask) {
    for (Kel32u i = 0; i < n; ++i) {
        const Kel32u h = n8_hash4(n8_load32(p + i), hashMask);
        const Kel32u q = Kel32u(pos) + i;
        chain[q & windowMask] = heads[h];
        heads[h] = Kel32s(q);
    }
}

}  // namespace

extern "C" KelStatus n8_kelsDeflateLZ77_8u(const Kel8u** pSrcPtr, Kel32s* pSrcLen, Kel32u* pSrcPos,
                                           const Kel8u* pHistoryEnd, Kel32u windowSize, Kel32s* pHashHeads,
                                           Kel32s* pHashChain, Kel32u hashTableSize, DeflateCodeEntry* pLitLenCodes,
                                           DeflateCodeEntry* pDistCodes, Kel8u* pLitLenOut, Kel16u* pDistOut,
                                           Kel32s* pDstLen, Kel32u level, Kel32u flushMode) {
    if (level > 29) return kelStatusBadSize;
    const MatcherKind kind = level % 10 >= 5 ? MatcherKind::Lazy : MatcherKind::Greedy;
    return n8_runMatcher(kind, pSrcPtr, pSrcLen, pSrcPos, pHistoryEnd, windowSize, pHashHeads, pHashChain,
                         hashTableSize, pLitLenCodes, pDistCodes, pLitLenOut, pDistOut, pDstLen, &loc_vec_match[level],
                         flushMode);
}

extern "C" KelStatus n8_kelsDeflateLZ77Fast_8u(const Kel8u** pSrcPtr, Kel32s* pSrcLen, Kel32u* pSrcPos,
                                               const Kel8u* pHistoryEnd, Kel32u windowSize, Kel32s* pHashHeads,
                                               Kel32s* pHashChain, Kel32u hashTableSize, DeflateCodeEntry* pLitLenCodes,
                                               DeflateCodeEntry* pDistCodes, Kel8u* pLitLenOut, Kel16u* pDistOut,
                                               Kel32s* pDstLen, const DeflateMatchParams* pMatchParams,
                                               Kel32u flushMode) {
    return n8_runMatcher(MatcherKind::Greedy, pSrcPtr, pSrcLen, pSrcPos, pHistoryEnd, windowSize, pHashHeads,
                         pHashChain, hashTableSize, pLitLenCodes, pDistCodes, pLitLenOut, pDistOut, pDstLen,
                         pMatchParams, flushMode);
}

extern "C" KelStatus n8_kelsDeflateLZ77Slow_8u(const Kel8u** pSrcPtr, Kel32s* pSrcLen, Kel32u* pSrcPos,
                                               const Kel8u* pHistoryEnd, Kel32u windowSize, Kel32s* pHashHeads,
                                               Kel32s* pHashChain, Kel32u hashTableSize, DeflateCodeEntry* pLitLenCodes,
                                               DeflateCodeEntry* pDistCodes, Kel8u* pLitLenOut, Kel16u* pDistOut,
                                               Kel32s* pDstLen, const DeflateMatchParams* pMatchParams,
                                               Kel32u flushMode) {
    return n8_runMatcher(MatcherKind::Lazy, pSrcPtr, pSrcLen, pSrcPos, pHistoryEnd, windowSize, pHashHeads, pHashChain,
                         hashTableSize, pLitLenCodes, pDistCodes, pLitLenOut, pDistOut, pDstLen, pMatchParams,
                         flushMode);
}

extern "C" KelStatus n8_kelsDeflateUpdateHash_8u(const Kel8u* pSrc, Kel32u srcPos, Kel32u srcLen, Kel32s* pHashHeads,
                                                 Kel32u hashTableSize, Kel32s* pHashChain, Kel32u windowSize,
                                                 Kel32u hashMode) {
    if (pSrc == nullptr || pHashHeads == nullptr || pHashChain == nullptr) return kelStatusNullPointer;
    if (!n8_tableSizesValid(windowSize, hashTableSize)) return kelStatusBadSize;
    const Kel32u k = hashMode == 0 ? 3 : 4;
    if (srcLen < k) return kelStatusOk;
    const Kel32u n = srcLen - k + 1;
    if (hashMode == 0) {
        n8_insertHeads3(pSrc, Kel32s(srcPos), n, pHashHeads, hashTableSize - 1);
    } else {
        n8_insertChains4(pSrc, Kel32s(srcPos), n, pHashHeads, hashTableSize - 1, pHashChain, windowSize - 1);
    }
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsDeflateDictionarySet_8u(const Kel8u* pDict, Kel32u dictLen, Kel32s* pHashHeads,
                                                    Kel32u hashTableSize, Kel32s* pHashChain, Kel8u* pWindow,
                                                    Kel32u windowSize, Kel32u hashMode) {
    if (pDict == nullptr || pHashHeads == nullptr || pHashChain == nullptr || pWindow == nullptr) {
        return kelStatusNullPointer;
    }
    if (!n8_tableSizesValid(windowSize, hashTableSize)) return kelStatusBadSize;
    const Kel32u k = hashMode == 0 ? 3 : 4;
    if (dictLen < k) return kelStatusOk;
    const Kel32u m = dictLen < windowSize ? dictLen : windowSize;
    const Kel8u* last = pDict + (dictLen - m);
    __builtin_memmove(pWindow, last, m);
    // The last 257 bytes stay unhashed: they are the bytes a compressor would still hold back as lookahead.
    if (m < 258) return kelStatusOk;
    const Kel32u n = m - 257;
    if (hashMode == 0) {
        n8_insertHeads3(last, 0, n, pHashHeads, hashTableSize - 1);
    } else {
        n8_insertChains4(last, 0, n, pHashHeads, hashTableSize - 1, pHashChain, windowSize - 1);
    }
    return kelStatusOk;
}

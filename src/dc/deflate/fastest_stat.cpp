// src/dc/deflate/fastest_stat.cpp - kelsDeflateLZ77FastestGetStat_8u: the symbol counts of the single-probe parse.
//
// The counts feed the code construction of a dynamic block that the single-pass encoder then writes. The parse
// here is the encoder's main loop without output: one head probe per position, a match only when the four bytes
// at the candidate agree, and after a match only its next three positions hashed. Near the end of a final call it
// deliberately does less than the encoder (one more step, then literals): the counts only shape the codes, and the
// construction gives every symbol a code, so symbols the encoder writes beyond the counts remain encodable.
#include "core/dc_exports.h"
#include "dc/deflate/fastest_internal.h"

using namespace kel::deflate;

namespace {

struct StatJob {
    const Kel8u* src;
    const Kel8u* hist;
    Kel32s s;    // position of src[0]
    Kel32s len;  // usable source bytes (positions stay at or below kPosLimit)
    Kel32s windowSize;
    Kel32u hashMask;
    Kel32s* heads;
    Kel32u* litLen;
    Kel32u* dist;
    bool flushAll;
};

// One parse step at pos: counts a literal or a match of at most maxLen bytes (4 to 258, not past the source end)
// and returns the next position. insertEnd bounds the positions after a match that may be hashed (their four
// bytes must lie in the source).
template <bool kContiguous>
inline Kel32s n8_statStep(const StatJob& j, const FastWindow<kContiguous>& w, Kel32s pos, Kel32s maxLen,
                          Kel32s insertEnd) {
    const Kel32u cur = n8_load32(w.at(pos));
    const Kel32u h = n8_hash4(cur, j.hashMask);
    const Kel32s c = j.heads[h];
    j.heads[h] = pos;
    // c < pos rejects entries that do not come from an earlier position of this stream (a table reused without
    // clearing, or filled by another pass over the same bytes).
    if (c > pos - j.windowSize && c < pos && w.word(c) == cur) {
        const Kel32s len = w.matchLen(pos, c, maxLen);
        for (Kel32s p = pos + 1; p <= pos + 3 && p < insertEnd; ++p) {
            j.heads[n8_hash4(n8_load32(w.at(p)), j.hashMask)] = p;
        }
        ++j.litLen[n8_fastLengthSymbol(len)];
        ++j.dist[n8_fastDistSymbol(pos - c)];
        return pos + len;
    }
    ++j.litLen[*w.at(pos)];
    return pos + 1;
}

// The counts of the main loop below for history and source in one buffer, gathered by length and by distance
// group and turned into symbols at the end; the hash rows sit beside them, so that one register reaches both.
struct LocalCounts {
    Kel32u literal[256];
    Kel32u length[256];    // index length - 3
    Kel32u distance[512];  // index distance - 1 up to 256, then 256 + (distance - 1) / 128
};

// The main loop of n8_gatherCounts for a contiguous window, from pos (below mainEnd) to mainEnd; returns the
// position reached. Literal runs have a loop of their own, and the candidate's first eight bytes are compared with
// one load shared with the hash, as in the encoder. kMask: see n8_fastConstMask.
template <Kel32u kMask>
__attribute__((noinline)) Kel32s n8_countContiguous(const StatJob& j, Kel32s pos, Kel32s mainEnd) {
    LocalCounts t;
    __builtin_memset(t.literal, 0, sizeof t.literal + sizeof t.length + sizeof t.distance);
    const Kel8u* ip = j.src + (pos - j.s);
    const Kel8u* const ipEnd = j.src + (mainEnd - j.s);
    Kel32u p = Kel32u(pos);  // position of ip
    Kel32s* const heads = j.heads;
    const Kel32u mask = j.hashMask;
    const Kel32u wsMinus1 = kMask != 0 ? 32767 : Kel32u(j.windowSize) - 1;
    size_t h = n8_fastHash4<kMask>(n8_load32(ip), mask);
    for (;;) {
        Kel64u ahead, diff;
        Kel32u d;
        size_t hNext;
        for (;;) {
            diff = n8_probeContiguous<kMask>(ip, p, heads, h, mask, wsMinus1, ahead, hNext, d);
            if (Kel32u(diff) == 0) break;
            ++t.literal[ahead & 255];
            ++ip;
            ++p;
            h = hNext;
            if (ip >= ipEnd) goto done;
        }
        {
            const Kel32s len = n8_takeMatchContiguous<kMask>(ip, p, d, diff, heads, hNext, mask);
            ++t.length[len - 3];
            const Kel32u d1 = d - 1;
            ++t.distance[d1 < 256 ? d1 : 256 + (d1 >> 7)];
            ip += len;
            p += Kel32u(len);
            if (ip >= ipEnd) break;
            h = n8_fastHash4<kMask>(n8_load32(ip), mask);
        }
    }
done:
    for (int v = 0; v < 256; ++v) j.litLen[v] += t.literal[v];
    for (int m = 0; m < 256; ++m) j.litLen[257 + litCodeTable[m]] += t.length[m];
    for (int i = 0; i < 256; ++i) j.dist[litCodeTable[256 + i]] += t.distance[i];
    for (int i = 2; i < 256; ++i) j.dist[litCodeTable[512 + i]] += t.distance[256 + i];
    return Kel32s(p);
}

// Returns the number of bytes consumed.
template <bool kContiguous>
Kel32s n8_gatherCounts(const StatJob& j) {
    const FastWindow<kContiguous> w{j.src, j.hist, j.s};
    const Kel32s end = j.s + j.len;
    Kel32s pos = j.s;
    // Below end - 258 a full-length match and the hashing of its next three positions stay inside the source.
    // The step of n8_statStep, with the hash of the next position computed one step ahead (a literal moves on to
    // it, a match inserts it), so that its head entry can be loaded before the current step's branch is resolved.
    const Kel32s mainEnd = end - kFastMaxMatch;
    if (kContiguous && pos < mainEnd) {
        switch (n8_fastConstMask(j.hashMask, Kel32u(j.windowSize))) {
            case 0x7FFF:
                pos = n8_countContiguous<0x7FFF>(j, pos, mainEnd);
                break;
            case 0x1FFF:
                pos = n8_countContiguous<0x1FFF>(j, pos, mainEnd);
                break;
            default:
                pos = n8_countContiguous<0>(j, pos, mainEnd);
                break;
        }
    }
    if (pos < mainEnd) {
        Kel32s* const heads = j.heads;
        const Kel32u mask = j.hashMask;
        Kel32u h = n8_hash4(n8_load32(w.at(pos)), mask);
        do {
            const Kel32u cur = n8_load32(w.at(pos));
            const Kel32u hNext = n8_hash4(n8_load32(w.at(pos + 1)), mask);
            const Kel32s c = heads[h];
            heads[h] = pos;
            if (c > pos - j.windowSize && c < pos && w.word(c) == cur) {
                const Kel32s len = w.matchLen(pos, c, kFastMaxMatch);
                heads[hNext] = pos + 1;
                heads[n8_hash4(n8_load32(w.at(pos + 2)), mask)] = pos + 2;
                heads[n8_hash4(n8_load32(w.at(pos + 3)), mask)] = pos + 3;
                ++j.litLen[n8_fastLengthSymbol(len)];
                ++j.dist[n8_fastDistSymbol(pos - c)];
                pos += len;
                // Only a position below mainEnd has its four bytes inside the source for sure.
                if (pos < mainEnd) h = n8_hash4(n8_load32(w.at(pos)), mask);
            } else {
                ++j.litLen[cur & 255];
                ++pos;
                h = hNext;
            }
        } while (pos < mainEnd);
    }
    // With more input to come, the rest waits for the next call. A final call with at most three bytes left leaves
    // them uncounted (and unconsumed).
    if (!j.flushAll || pos >= end - 3) return pos - j.s;
    const Kel32s maxLen = end - pos < kFastMaxMatch ? end - pos : kFastMaxMatch;
    pos = n8_statStep(j, w, pos, maxLen, end - 3);
    for (; pos < end; ++pos) ++j.litLen[*w.at(pos)];
    return pos - j.s;
}

}  // namespace

extern "C" KelStatus n8_kelsDeflateLZ77FastestGetStat_8u(const Kel8u** pSrcPtr, Kel32s* pSrcLen, Kel32u* pSrcPos,
                                                         const Kel8u* pHistoryEnd, Kel32u windowSize,
                                                         Kel32s* pHashHeads, Kel32u hashTableSize,
                                                         Kel32u* pLitLenCounts, Kel32u* pDistCounts, Kel32u flushMode) {
    if (pSrcPtr == nullptr || pSrcLen == nullptr || pSrcPos == nullptr || pHistoryEnd == nullptr ||
        pHashHeads == nullptr) {
        return kelStatusNullPointer;
    }
    if (*pSrcPtr == nullptr || pLitLenCounts == nullptr || pDistCounts == nullptr) return kelStatusNullPointer;
    if (!n8_fastSizesValid(windowSize, hashTableSize)) return kelStatusBadSize;

    const Kel32s len = *pSrcLen;
    Kel32u s = *pSrcPos;
    // The counting pass shifts its own head table down by the encoder's rule (heads only). Without this its
    // positions would run into 2^31 on a long stream and every call from there on would consume nothing. Given the
    // same position and length as the encoder it shifts at the same call, to the same positions.
    if (n8_needsRebase(s, len, windowSize)) {
        n8_fastRebaseHeads(pHashHeads, hashTableSize, Kel32s(s - windowSize));
        s = windowSize;
        *pSrcPos = s;
    }
    const Kel32s useLen = n8_usableLength(s, len);
    if (useLen == 0) return kelStatusOk;

    StatJob j;
    j.src = *pSrcPtr;
    j.hist = pHistoryEnd;
    j.s = Kel32s(s);
    j.len = useLen;
    j.windowSize = Kel32s(windowSize);
    j.hashMask = hashTableSize - 1;
    j.heads = pHashHeads;
    j.litLen = pLitLenCounts;
    j.dist = pDistCounts;
    j.flushAll = flushMode >= 2 && useLen == len;
    const Kel32s consumed = j.hist == j.src ? n8_gatherCounts<true>(j) : n8_gatherCounts<false>(j);

    *pSrcPtr += consumed;
    *pSrcLen = len - consumed;
    *pSrcPos = s + Kel32u(consumed);
    return kelStatusOk;
}

// src/dc/bzip2/block_decode.cpp - the fused bzip2 block decoder: symbols to run-length coded data in one call.
//
// First pass (n8_ownsBZ2UnMTF_16u8u): zero runs and move-to-front are undone into the destination, which then
// holds the last column of the transform, while the bytes are counted. Second pass: with cum[b] the number of
// bytes below b, the 32-bit work entry cum[b]++ receives, for each position i with byte b, the link i in its
// upper 24 bits and b in its low byte: each sorted rotation's successor in text order and the byte the walk
// emits on arriving there. Every entry is written once and never read back in this pass, so the random accesses
// are pure stores. Third pass: the walk from the origin reads one entry per output byte, the next place and the
// byte in the same load, and overwrites the destination (the last column is no longer needed); large blocks are
// walked in segments side by side (n8_walkSegmented). Blocks are below 2^24 bytes so that a link fits beside its
// byte.
#include "core/dc_exports.h"
#include "dc/bzip2/bzip2_internal.h"

namespace {

constexpr Kel32u kMaxBlock = 1u << 24;

// Below this the work entries sit in the first cache levels and the segmented walk only adds its bookkeeping.
constexpr int kSegmentedMinLen = 1 << 15;
// The segmented walk marks entries in their top bit, free while links stay below 2^23.
constexpr int kSegmentedMaxLen = 1 << 23;
constexpr Kel32u kMark = 0x80000000u;
constexpr Kel32u kLinkMask = 0x7FFFFFu;
constexpr int kMaxSegments = 512;  // segment starts: a grid of places, and the origin
constexpr int kWalkers = 8;        // walks in flight at once

// Follows the links from place p, writing pDst[0, len).
inline void n8_walkOne(const Kel8u* pBuff, Kel8u* pDst, int len, Kel32u p) {
    for (int k = 0; k < len; ++k) {
        const Kel32u e = n8_loadU32(pBuff + 4 * static_cast<size_t>(p));
        pDst[k] = static_cast<Kel8u>(e);
        p = e >> 8;
    }
}

// The walk is one dependent load per byte, and on a block larger than the second-level cache every load waits for
// memory. Cutting the cycle at a grid of places (and the origin) gives segments that can be walked side by side,
// kWalkers loads in flight, but a segment's offset in the block is only known once all lengths are: the first
// round walks every segment to the next marked place and records its length and successor, the second chains the
// segments from the origin into offsets and walks them again, writing the bytes. A block whose links are not one
// cycle through every place (symbols that are no transformed block) returns false with the marks removed, and the
// caller walks once from the origin, the output any block gets by definition. Links are below len, so corrupt
// links stay inside the buffer here too.
bool n8_walkSegmented(Kel8u* pBuff, Kel8u* pDst, int len, Kel32u origin) {
    int shift = 0;
    while (((len - 1) >> shift) >= kMaxSegments - 1) ++shift;
    const Kel32u low = (1u << shift) - 1;
    const int grid = ((len - 1) >> shift) + 1;
    const bool originOnGrid = (origin & low) == 0;
    const int originSeg = originOnGrid ? static_cast<int>(origin >> shift) : grid;
    const int segs = originOnGrid ? grid : grid + 1;

    Kel32u start[kMaxSegments];
    Kel32u segLen[kMaxSegments];
    Kel32u segOff[kMaxSegments];
    Kel16u next[kMaxSegments];
    Kel16u order[kMaxSegments];  // the segments in block order
    for (int g = 0; g < grid; ++g) start[g] = static_cast<Kel32u>(g) << shift;
    if (!originOnGrid) start[grid] = origin;
    for (int g = 0; g < segs; ++g) {
        Kel8u* const q = pBuff + 4 * static_cast<size_t>(start[g]);
        n8_storeU32(q, n8_loadU32(q) | kMark);
    }

    // First round: lengths and successors. A marked place off the grid can only be the origin. A walk that meets
    // no other mark comes back to its own start, so each ends within len steps.
    Kel32u place[kWalkers], count[kWalkers];
    int seg[kWalkers];
    int taken = 0, active = 0;
    for (int w = 0; w < kWalkers; ++w) {
        seg[w] = taken < segs ? taken++ : -1;
        if (seg[w] < 0) continue;
        place[w] = start[seg[w]];
        count[w] = 0;
        ++active;
    }
    while (active > 0) {
        for (int w = 0; w < kWalkers; ++w) {
            if (seg[w] < 0) continue;
            const Kel32u e = n8_loadU32(pBuff + 4 * static_cast<size_t>(place[w]));
            if ((e & kMark) != 0 && count[w] != 0) {
                segLen[seg[w]] = count[w];
                next[seg[w]] = static_cast<Kel16u>((place[w] & low) == 0 ? place[w] >> shift : grid);
                seg[w] = taken < segs ? taken++ : -1;
                if (seg[w] < 0) {
                    --active;
                    continue;
                }
                place[w] = start[seg[w]];
                count[w] = 0;
                continue;
            }
            ++count[w];
            place[w] = (e >> 8) & kLinkMask;
        }
    }

    // Offsets along the chain from the origin's segment; it must come back round to the origin. Usually the cycle
    // covers the block. A block of a text that repeats (a period p dividing the block, as in a file made of copies)
    // splits into several cycles of p places each; the single walk then goes round the origin's cycle again and
    // again, so the output repeats with the cycle's length, and only that cycle need be walked.
    Kel32u off = 0;
    int s = originSeg;
    int chained = 0;
    while (chained < segs) {
        order[chained++] = static_cast<Kel16u>(s);
        segOff[s] = off;
        off += segLen[s];
        s = next[s];
        if (s == originSeg) break;
    }
    if (s != originSeg || off == 0 || off > static_cast<Kel32u>(len)) {
        for (int g = 0; g < segs; ++g) {
            Kel8u* const q = pBuff + 4 * static_cast<size_t>(start[g]);
            n8_storeU32(q, n8_loadU32(q) & ~kMark);
        }
        return false;
    }

    // Second round: every segment again, its bytes to their offsets. Lengths are known, so no mark is tested.
    // Taken in block order, the walks in flight cover one stretch of the block at a time, and on repetitive data
    // later stretches find the entries that earlier ones brought into the cache, as the single walk does.
    Kel32u left[kWalkers];
    Kel8u* out[kWalkers];
    taken = 0;
    active = 0;
    for (int w = 0; w < kWalkers; ++w) {
        seg[w] = taken < chained ? order[taken++] : -1;
        if (seg[w] < 0) continue;
        place[w] = start[seg[w]];
        left[w] = segLen[seg[w]];
        out[w] = pDst + segOff[seg[w]];
        ++active;
    }
    while (active > 0) {
        for (int w = 0; w < kWalkers; ++w) {
            if (seg[w] < 0) continue;
            const Kel32u e = n8_loadU32(pBuff + 4 * static_cast<size_t>(place[w]));
            *out[w]++ = static_cast<Kel8u>(e);
            place[w] = (e >> 8) & kLinkMask;
            if (--left[w] != 0) continue;
            seg[w] = taken < chained ? order[taken++] : -1;
            if (seg[w] < 0) {
                --active;
                continue;
            }
            place[w] = start[seg[w]];
            left[w] = segLen[seg[w]];
            out[w] = pDst + segOff[seg[w]];
        }
    }
    // The rest repeats the cycle: copy what is done onto the end, doubling each time (every copy starts at a
    // multiple of the cycle's length).
    for (Kel32u done = off; done < static_cast<Kel32u>(len);) {
        const Kel32u n = done < static_cast<Kel32u>(len) - done ? done : static_cast<Kel32u>(len) - done;
        __builtin_memcpy(pDst + done, pDst, n);
        done += n;
    }
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

    if (len < kSegmentedMinLen || len >= kSegmentedMaxLen ||
        !n8_walkSegmented(pBuff, pDst, len, static_cast<Kel32u>(index))) {
        n8_walkOne(pBuff, pDst, len, static_cast<Kel32u>(index));
    }
    *pDstLen = len;
    return kelStatusOk;
}

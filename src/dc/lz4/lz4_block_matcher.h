// src/dc/lz4/lz4_block_matcher.h - the single-probe block matcher behind the fast and the dictionary encoders.
//
// One template, instantiated per history mode and per output rule (lz4_encode.cpp, lz4_dict.cpp), so that the
// mode tests fold away at compile time. The matcher keeps one position per hash bucket (a 12-bit hash of five
// bytes); a candidate is accepted on four equal bytes. After the first match (searched one position at a time,
// never extended backwards) it probes groups of three positions: their three buckets are read before any is
// written, so a position never finds itself, then the three positions are stored in order and the candidates are
// tested in order. Literal runs of 64 or more on a 32-bit table make the groups stride further apart, by one byte
// more every eight groups, which keeps incompressible input cheap. Positions inside a match are not stored.
//
// Limits (srcEnd = end of the source): a group starts only below srcEnd - 20, so its three 8-byte hash reads stay
// inside; matches end at or before srcEnd - 12 except that an 8-byte-equal start is always at least 8 long; the
// final literal run therefore holds at least 12 bytes, which is what lets sequences copy their literals in
// 16-byte blocks: the overwrite past the literals is always rewritten by later output.
#pragma once

#include "dc/lz4/lz4_internal.h"

// Where a block's history lives.
enum class Lz4History {
    kNone16,   // no history, 16-bit table (sources below 64 KiB), never accelerated
    kNone32,   // no history, 32-bit table
    kPrefix,   // the history is the memory in front of the source
    kExtDict,  // the history is a separate dictionary standing for the positions just before the source
};

struct Lz4BlockJob {
    const Kel8u* pSrc;
    int srcLen;
    int srcIdx;  // position of pSrc relative to the stream base; 0 without history
    Kel8u* pDst;
    int dstCap;  // destination capacity (bounded variants only)
    Kel8u* pTable;
    const Kel8u* pDict;  // external dictionary (kExtDict only)
    int dictLen;
};

struct Lz4BlockResult {
    int dstLen;      // bytes written
    int srcCovered;  // source bytes the block decodes to
};

constexpr int kLz4HashBits = 12;
constexpr int kLz4MaxDistance = 65535;
constexpr int kLz4SearchMargin = 20;    // groups start below srcEnd - 20
constexpr int kLz4MatchEndMargin = 12;  // matches end at or before srcEnd - 12
constexpr size_t kLz4AccelerationRun = 64;
constexpr int kLz4SafeMargin = 8;

// Bucket of the five bytes at p (p + 8 must be readable): their little-endian value v times 0xCA1BACDCBB, bits
// 24..35 of the 64-bit product. Shifting the 8-byte word left by 24 drops the three bytes beyond v; multiplying
// then shifts v's product up by 24 bits, so bits 48..59 of the result are the wanted ones.
inline unsigned n8_lz4HashWord(uint64_t w) {
    return unsigned(((w << 24) * 0xCA1BACDCBBull) >> 48) & ((1u << kLz4HashBits) - 1);
}
inline unsigned n8_lz4Hash5(const Kel8u* p) {
    return n8_lz4HashWord(n8_lz4Read64(p));
}

template <Lz4History kHist, bool kSafe>
Lz4BlockResult n8_lz4CompressBlock(const Lz4BlockJob& job) {
    constexpr bool kTable16 = kHist == Lz4History::kNone16;
    constexpr bool kAccelerated = !kTable16;

    const Kel8u* const pSrc = job.pSrc;
    const Kel8u* const srcEnd = pSrc + job.srcLen;
    constexpr bool kNoHistory = kHist == Lz4History::kNone16 || kHist == Lz4History::kNone32;
    const int32_t srcIdx = kNoHistory ? 0 : job.srcIdx;
    Kel8u* const pTable = job.pTable;
    // With an external dictionary, positions x below srcIdx stand for pDict + dictLen - srcIdx + x.
    const Kel8u* const dictEnd = kHist == Lz4History::kExtDict ? job.pDict + job.dictLen : nullptr;
    const int64_t dictLowPos = int64_t(srcIdx) - job.dictLen;
    const int64_t dictHighPos = int64_t(srcIdx) - 8;  // a dictionary candidate needs 8 bytes before dictEnd

    Kel8u* op = job.pDst;
    Kel8u* const dstEnd = job.pDst + job.dstCap;
    const Kel8u* anchor = pSrc;

    auto load = [&](unsigned h) -> int32_t {
        if constexpr (kTable16) {
            return int32_t(n8_lz4Read16(pTable + 2 * h));
        } else {
            return int32_t(n8_lz4Read32(pTable + 4 * h));
        }
    };
    // Position of p relative to the stream base (the caller keeps srcIdx + srcLen within 32 bits).
    auto position = [&](const Kel8u* p) -> int32_t { return int32_t(p - pSrc) + srcIdx; };
    auto store = [&](unsigned h, const Kel8u* p) {
        if constexpr (kTable16) {
            n8_lz4Write16(pTable + 2 * h, uint16_t(p - pSrc));
        } else {
            n8_lz4Write32(pTable + 4 * h, uint32_t(position(p)));
        }
    };

    // Candidate test of stored position x at p. On success sets c (the candidate's bytes), off (the offset to
    // write: the virtual distance) and inDict. Positions come from this stream's own index, so they lie below
    // p's position; the checks on x also keep a damaged table from pointing outside the caller's memory.
    const Kel8u* c = nullptr;
    unsigned off = 0;
    bool inDict = false;
    auto accept = [&](int32_t x, const Kel8u* p, uint32_t head) -> bool {
        if constexpr (kTable16) {
            c = pSrc + x;
            off = unsigned(p - c);
        } else {
            const uint32_t d = uint32_t(position(p)) - uint32_t(x);
            if constexpr (kHist != Lz4History::kExtDict) {
                // Distances 1..65535 (0 cannot come from the stream's own index). The distance and the bytes are
                // tested in one branch: the candidate's bytes are readable whatever the distance, since stored
                // positions lie in the block or the prefix (a negative entry of a damaged table is read as
                // position 0 and refused).
                constexpr bool kPrefix = kHist == Lz4History::kPrefix;
                const int32_t xs = kPrefix && x < 0 ? 0 : x;
                const bool hit = (d - 1 < uint32_t(kLz4MaxDistance)) & (!kPrefix || x >= 0) &
                                 (n8_lz4Read32(pSrc - srcIdx + xs) == head);
                off = d;
                c = p - d;
                return hit;
            } else {
                if (d - 1 >= uint32_t(kLz4MaxDistance)) return false;
                off = d;
                if (x < srcIdx) {
                    if (x < dictLowPos || x > dictHighPos) return false;
                    c = dictEnd - (srcIdx - x);
                    inDict = true;
                } else {
                    c = p - d;
                    inDict = false;
                }
            }
        }
        return n8_lz4Read32(c) == head;
    };

    // Match length at p against c (four bytes known equal).
    auto matchLength = [&](const Kel8u* p) -> size_t {
        const uint64_t diff = n8_lz4Read64(p) ^ n8_lz4Read64(c);
        if (diff) return n8_lz4LowBit64(diff) >> 3;  // 4..7: the first differing byte
        int limit = int(srcEnd - p) - kLz4MatchEndMargin;
        if (kHist == Lz4History::kExtDict && inDict && dictEnd - c < limit) limit = int(dictEnd - c);
        return limit > 8 ? 8 + size_t(n8_lz4CountEqual(p + 8, c + 8, limit - 8)) : 8;
    };

    // Emits the sequence (anchor .. p literals, match of len at off); false if the bounded variant has no room.
    size_t lastLitLen = 0;
    auto emit = [&](const Kel8u* p, size_t len) -> bool {
        const size_t litLen = size_t(p - anchor);
        bool wide = true;
        if constexpr (kSafe) {
            const ptrdiff_t estimate = ptrdiff_t(litLen) + 3 + n8_lz4ExtensionSize(litLen) + n8_lz4ExtensionSize(len);
            const ptrdiff_t room = dstEnd - op;
            if (estimate >= room - kLz4SafeMargin) return false;
            // The estimate covers the real size, so 8-byte literal steps (7 bytes of overwrite) always fit;
            // 16-byte steps write up to 13 bytes past the estimate.
            wide = room - estimate >= 13;
        }
        op = n8_lz4WriteSequence(op, anchor, litLen, off, len, wide);
        anchor = p + len;
        lastLitLen = litLen;
        return true;
    };

    if (job.srcLen > kLz4SearchMargin + 1) {
        const Kel8u* const searchLimit = srcEnd - kLz4SearchMargin;
        // First match, one position at a time from the second byte.
        const Kel8u* p = pSrc + 1;
        for (;;) {
            if (p >= searchLimit) goto lastLiterals;
            const uint64_t w = n8_lz4Read64(p);
            const unsigned h = n8_lz4HashWord(w);
            const int32_t x = load(h);
            store(h, p);
            if (accept(x, p, uint32_t(w))) break;
            ++p;
        }
        if (!emit(p, matchLength(p))) goto lastLiterals;

        for (;;) {
            p = anchor;
            unsigned k = 8;
            const bool accelerate = kAccelerated && lastLitLen >= kLz4AccelerationRun;
            for (;;) {
                if (p >= searchLimit) goto lastLiterals;
                // One 8-byte load serves the three hashes (bytes 0..4, 1..5, 2..6) and the three four-byte heads.
                const uint64_t w = n8_lz4Read64(p);
                const unsigned h0 = n8_lz4HashWord(w);
                const unsigned h1 = n8_lz4HashWord(w >> 8);
                const unsigned h2 = n8_lz4HashWord(w >> 16);
                const int32_t x0 = load(h0);
                const int32_t x1 = load(h1);
                const int32_t x2 = load(h2);
                store(h0, p);
                store(h1, p + 1);
                store(h2, p + 2);
                if (accept(x0, p, uint32_t(w))) break;
                if (accept(x1, p + 1, uint32_t(w >> 8))) {
                    p += 1;
                    break;
                }
                if (accept(x2, p + 2, uint32_t(w >> 16))) {
                    p += 2;
                    break;
                }
                if (accelerate) {
                    p += 2 + (k >> 3);
                    ++k;
                } else {
                    p += 3;
                }
            }
            size_t len = matchLength(p);
            // Backward extension, down to the anchor and the start of the candidate's memory.
            const Kel8u* low = pSrc;
            if constexpr (kHist == Lz4History::kPrefix) low = pSrc - srcIdx;
            if constexpr (kHist == Lz4History::kExtDict) low = inDict ? job.pDict : pSrc;
            const ptrdiff_t roomBack = p - anchor < c - low ? p - anchor : c - low;
            if (roomBack > 0) {
                const int back = n8_lz4CountEqualBack(p, c, int(roomBack));
                p -= back;
                len += size_t(back);
            }
            if (!emit(p, len)) goto lastLiterals;
        }
    }

lastLiterals:
    size_t litLen = size_t(srcEnd - anchor);
    if constexpr (kSafe) {
        // The largest run whose token, extension and bytes fit the room left (the room is above 8 after any
        // sequence and at least 1 at the start, so a lone token always fits).
        const size_t room = size_t(dstEnd - op);
        if (litLen >= room) litLen = room - 1;
        if (litLen + 1 + size_t(n8_lz4ExtensionSize(litLen)) > room) {
            size_t fit = room - 1 - size_t(n8_lz4ExtensionSize(room - 1));
            while (fit + 1 < litLen && fit + 2 + size_t(n8_lz4ExtensionSize(fit + 1)) <= room) ++fit;
            litLen = fit;
        }
    }
    op = n8_lz4WriteLastLiterals(op, anchor, litLen);
    return Lz4BlockResult{int(op - job.pDst), int(anchor + litLen - pSrc)};
}

// src/dc/lz4/lz4_hc.cpp - the LZ4 high-compression block encoder: hash chains and a three-match look-ahead.
//
// Every position of the stream (history and block) is indexed in a 32768-bucket hash table of four-byte hashes and
// a 65536-entry chain table (indexed by position mod 65536) that links each position to the previous one with the
// same hash. A search walks that chain for at most 2^(level - 1) candidates within 65534 bytes. The parse keeps up
// to three overlapping matches: the current one, a wider one found two bytes before its end and a third found
// three bytes before the second's end; it then decides where to cut them. Cuts aim for an overlap that leaves the
// first match at most 18 bytes long (its length nibble plus a short extension is then free), which is the classic
// trade between a longer match now and a better one later.
//
// Positions are offsets from pSrc, the stream base: the block is pSrc[srcIdx .. srcIdx + srcLen - 1] and the bytes
// before it are history. Position 0 doubles as the empty marker and is never a candidate. Chain walks stop at any
// candidate that is 0, not below the searched position or 65535 or more behind it; compared unsigned, these tests
// also keep stale or foreign table contents from pointing outside the stream.
#include "core/dc_exports.h"
#include "dc/lz4/lz4_internal.h"
#include "primitives/primitives.h"

namespace {

constexpr int kHashEntries = 1 << 15;
constexpr int kChainEntries = 1 << 16;
constexpr uint32_t kMaxDistance = 65535;  // a candidate this far back or farther ends the walk
constexpr int kOptimalCut = 18;
constexpr int kMfLimitMargin = 13;    // searches run while ip < srcEnd - 13
constexpr int kMatchLimitMargin = 5;  // matches end at or before srcEnd - 5
constexpr int kDefaultLevel = 9;

inline uint32_t n8_hashHc(const Kel8u* p) {
    return ((uint32_t(p[0]) * 177) ^ (uint32_t(p[1]) * 121) ^ (uint32_t(p[2]) * 55) ^ (uint32_t(p[3]) * 158)) &
           (kHashEntries - 1);
}

struct HcMatcher {
    const Kel8u* base;
    Kel8u* hashTable;
    Kel8u* chainTable;
    uint32_t next;  // first position not yet indexed
    int attempts;   // chain candidates per search
    const Kel8u* matchLimit;

    uint32_t chainAt(uint32_t pos) const { return n8_lz4Read32(chainTable + 4 * (pos & (kChainEntries - 1))); }

    // Indexes every position from next to q inclusive (all below srcEnd - 13, so four bytes are readable).
    void insertUpTo(uint32_t q) {
        for (uint32_t x = next; x <= q; ++x) {
            Kel8u* const bucket = hashTable + 4 * n8_hashHc(base + x);
            n8_lz4Write32(chainTable + 4 * (x & (kChainEntries - 1)), n8_lz4Read32(bucket));
            n8_lz4Write32(bucket, x);
        }
        if (q + 1 > next) next = q + 1;
    }

    // Longest match at ip (position q): returns its length (below 4: none) and sets *pRef.
    int bestMatch(const Kel8u* ip, const Kel8u** pRef) {
        const uint32_t q = uint32_t(ip - base);
        insertUpTo(q);
        const int maxLen = int(matchLimit - ip);
        int best = 3;
        uint32_t c = chainAt(q);
        for (int n = attempts; n > 0; --n) {
            if (c == 0 || c >= q || q - c >= kMaxDistance) break;
            const Kel8u* const cand = base + c;
            // The four bytes ending at the current best length: a candidate that differs there cannot be longer.
            if (n8_lz4Read32(cand + best - 3) == n8_lz4Read32(ip + best - 3)) {
                const int len = n8_ownsLZ4MatchLength_8u(ip, cand, maxLen);
                if (len > best) {
                    best = len;
                    *pRef = cand;
                    if (best == maxLen) break;  // nothing can be longer
                }
            }
            c = chainAt(c);
        }
        return best;
    }

    // Widest match around ipw that may start back down to lo: a candidate counts with its backward extension
    // (bounded by lo and the stream start) plus its forward length. Returns the new longest (unchanged when
    // nothing beat it) with its start and reference.
    int widerMatch(const Kel8u* ipw, const Kel8u* lo, int longest, const Kel8u** pStart, const Kel8u** pRef) {
        const uint32_t q = uint32_t(ipw - base);
        insertUpTo(q);
        const int maxFwd = int(matchLimit - ipw);
        const int maxBackLo = int(ipw - lo);
        uint32_t c = chainAt(q);
        for (int n = attempts; n > 0; --n) {
            if (c == 0 || c >= q || q - c >= kMaxDistance) break;
            const Kel8u* const cand = base + c;
            const int maxBack = maxBackLo < int(c) ? maxBackLo : int(c);
            const int back = n8_lz4CountEqualBack(ipw, cand, maxBack);
            if (ipw - back + longest >= matchLimit) break;
            if (n8_lz4Read32(ipw - back + longest - 3) == n8_lz4Read32(cand - back + longest - 3)) {
                const int fwd = n8_ownsLZ4MatchLength_8u(ipw, cand, maxFwd);
                if (back + fwd > longest) {
                    longest = back + fwd;
                    *pStart = ipw - back;
                    *pRef = cand - back;
                }
            }
            c = chainAt(c);
        }
        return longest;
    }
};

// Compresses pSrc[srcIdx .. srcIdx + srcLen - 1] into pDst; returns the compressed size. Literals go in 8-byte
// steps: a match may start as late as srcEnd - 9, so wider steps could read past the source; the up to 7 bytes
// written past the literals are rewritten by the offset, the final token and its five or more literals.
int n8_compressHc(const Kel8u* pSrc, int srcIdx, int srcLen, Kel8u* pDst, Kel8u* hashTable, Kel8u* chainTable,
                  int level) {
    const Kel8u* const blockStart = pSrc + srcIdx;
    const Kel8u* const srcEnd = blockStart + srcLen;
    Kel8u* op = pDst;
    const Kel8u* anchor = blockStart;

    if (srcLen > kMfLimitMargin + 1) {
        const Kel8u* const mfLimit = srcEnd - kMfLimitMargin;
        HcMatcher m{pSrc, hashTable, chainTable, 0, 1 << (level - 1), srcEnd - kMatchLimitMargin};
        auto emit = [&](const Kel8u* ip, int len, const Kel8u* ref) {
            op = n8_lz4WriteSequence(op, anchor, size_t(ip - anchor), unsigned(ip - ref), size_t(len), false);
            anchor = ip + len;
        };

        const Kel8u* ip = blockStart + 1;
        const Kel8u *ref = nullptr, *ref0, *ref2 = nullptr, *ref3 = nullptr;
        const Kel8u *start0, *start2 = nullptr, *start3 = nullptr;
        int ml, ml0, ml2, ml3;
        while (ip < mfLimit) {
            ml = m.bestMatch(ip, &ref);
            if (ml < kLz4MinMatch) {
                ++ip;
                continue;
            }
            start0 = ip;
            ref0 = ref;
            ml0 = ml;

        search2:
            ml2 = ip + ml < mfLimit ? m.widerMatch(ip + ml - 2, ip, ml, &start2, &ref2) : ml;
            if (ml2 == ml) {
                emit(ip, ml, ref);
                ip = anchor;
                continue;
            }
            if (start0 < ip && start2 < ip + ml0) {
                ip = start0;
                ref = ref0;
                ml = ml0;
            }
            if (start2 - ip < 3) {
                ml = ml2;
                ip = start2;
                ref = ref2;
                goto search2;
            }

        search3:
            // Cut the second match so that the first keeps up to kOptimalCut bytes but the second keeps four.
            if (start2 - ip < kOptimalCut) {
                int newMl = ml < kOptimalCut ? ml : kOptimalCut;
                if (ip + newMl > start2 + ml2 - kLz4MinMatch) newMl = int(start2 - ip) + ml2 - kLz4MinMatch;
                const int correction = newMl - int(start2 - ip);
                if (correction > 0) {
                    start2 += correction;
                    ref2 += correction;
                    ml2 -= correction;
                }
            }
            ml3 = start2 + ml2 < mfLimit ? m.widerMatch(start2 + ml2 - 3, start2, ml2, &start3, &ref3) : ml2;
            if (ml3 == ml2) {
                // No third match: emit the first (cut where the second starts) and the second.
                if (start2 < ip + ml) ml = int(start2 - ip);
                emit(ip, ml, ref);
                emit(start2, ml2, ref2);
                ip = anchor;
                continue;
            }
            if (start3 < ip + ml + 3) {
                if (start3 >= ip + ml) {
                    // The third match begins right after the first: the second only bridges the gap.
                    if (start2 < ip + ml) {
                        const int d = int(ip + ml - start2);
                        start2 += d;
                        ref2 += d;
                        ml2 -= d;
                        if (ml2 < kLz4MinMatch) {
                            start2 = start3;
                            ref2 = ref3;
                            ml2 = ml3;
                        }
                    }
                    emit(ip, ml, ref);
                    ip = start3;
                    ref = ref3;
                    ml = ml3;
                    start0 = start2;
                    ref0 = ref2;
                    ml0 = ml2;
                    goto search2;
                }
                // The third match supersedes the second.
                start2 = start3;
                ref2 = ref3;
                ml2 = ml3;
                goto search3;
            }

            // Three ascending matches: the first is final, cut before the second.
            if (start2 < ip + ml) {
                if (start2 - ip < int(kLz4NibbleMax)) {
                    if (ml > kOptimalCut) ml = kOptimalCut;
                    if (ip + ml > start2 + ml2 - kLz4MinMatch) ml = int(start2 - ip) + ml2 - kLz4MinMatch;
                    const int correction = ml - int(start2 - ip);
                    if (correction > 0) {
                        start2 += correction;
                        ref2 += correction;
                        ml2 -= correction;
                    }
                } else {
                    ml = int(start2 - ip);
                }
            }
            emit(ip, ml, ref);
            ip = start2;
            ref = ref2;
            ml = ml2;
            start2 = start3;
            ref2 = ref3;
            ml2 = ml3;
            goto search3;
        }
    }
    op = n8_lz4WriteLastLiterals(op, anchor, size_t(srcEnd - anchor));
    return int(op - pDst);
}

}  // namespace

extern "C" KelStatus n8_kelsEncodeLZ4HCHashTableGetSize_8u(Kel32u* pHashSize, Kel32u* pChainSize) {
    if (pHashSize == nullptr || pChainSize == nullptr) return kelStatusNullPointer;
    *pHashSize = kHashEntries * 4;
    *pChainSize = kChainEntries * 4;
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsEncodeLZ4HCHashTableInit_8u(Kel8u** ppTables) {
    if (ppTables == nullptr) return kelStatusNullPointer;
    const KelStatus status = n8_kelsZero_32s(reinterpret_cast<Kel32s*>(ppTables[0]), kHashEntries);
    if (status != kelStatusOk) return status;
    return n8_kelsZero_32s(reinterpret_cast<Kel32s*>(ppTables[1]), kChainEntries);
}

extern "C" KelStatus n8_kelsEncodeLZ4HC_8u(const Kel8u* pSrc, int srcIdx, int* pSrcLen, Kel8u* pDst, int* pDstLen,
                                           Kel8u** ppTables, const Kel8u* pDict, int dictLen, int level) {
    if (level == 0) level = kDefaultLevel;
    if (level < 1) level = 1;
    if (level > kDefaultLevel) level = kDefaultLevel;
    if (pDict != nullptr && dictLen != 0) {
        if (dictLen < 0) return kelStatusBadSize;
        // The history must be the bytes in front of the stream base; the encoder reads it through pSrc only.
        if (reinterpret_cast<uintptr_t>(pDict) + uintptr_t(dictLen) != reinterpret_cast<uintptr_t>(pSrc)) {
            return kelStatusNotSupportedMode;
        }
    }
    if (pSrc == nullptr || pSrcLen == nullptr || pDst == nullptr || pDstLen == nullptr || ppTables == nullptr ||
        ppTables[0] == nullptr || ppTables[1] == nullptr) {
        return kelStatusNullPointer;
    }
    if (*pSrcLen < 1) return kelStatusBadSize;
    // Positions up to srcIdx + srcLen must fit 31 bits.
    if (srcIdx < 0 || srcIdx > 0x7FFFFFFF - *pSrcLen) return kelStatusBadArgument;
    *pDstLen = n8_compressHc(pSrc, srcIdx, *pSrcLen, pDst, ppTables[0], ppTables[1], level);
    return kelStatusOk;
}

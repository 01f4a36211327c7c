// src/ch/string/find_pattern_ssse3.cpp - n8_ownsFind_8u_U8 and n8_ownsFindRev_8u: pattern search with a vector
// filter on two pattern bytes.
//
// A candidate position p can only match if pSrc[p + f] equals pPat[f] and pSrc[p + l] equals pPat[l] for two fixed
// pattern offsets f < l. Comparing 16 source bytes at p + f and 16 at p + l with the two broadcast bytes and ANDing
// the results tests 16 candidates with two loads and three vector operations; only candidates that pass both are
// compared in full. The filter bytes are the first and the last pattern byte, moved inwards past bytes that are very
// common in text (space, e, t, ...) when the pattern has rarer ones nearby: the fewer false candidates pass, the
// longer the vector loop runs undisturbed. Which offsets are used never changes the result, only the speed.
//
// Loads: a block at candidate i reads pSrc[i + f, i + f + 16) and pSrc[i + l, i + l + 16); with the last candidate
// n - 1 = srcLen - patLen and l <= patLen - 1, a block is only taken while i + 16 <= n, so its last byte is at most
// n - 1 + l <= srcLen - 1. The candidates left over at the end (forward) or start (backward) are covered by one more
// block aligned to the last (or first) candidate, with the bits of candidates already tested cleared, or by a scalar
// loop when there are fewer than 16 candidates in all.
#include <stdint.h>
#include <string.h>

#include "ch/string/bit_scan.h"
#include "ch/string/search_internal.h"
#include "primitives/simd.h"

namespace {

// How common a byte value is in typical text, from 0 (rare) to 3 (very common): space, the most frequent letters
// of English and the line feed. Used only to pick filter bytes.
struct Commonness {
    Kel8u rank[256];
};

constexpr Commonness n8_makeCommonness() {
    Commonness t{};
    for (const char* p = "shrdlcu\n"; *p != 0; ++p) t.rank[static_cast<Kel8u>(*p)] = 1;
    for (const char* p = "etaoin"; *p != 0; ++p) t.rank[static_cast<Kel8u>(*p)] = 2;
    t.rank[static_cast<Kel8u>(' ')] = 3;
    return t;
}

constexpr Commonness kCommonness = n8_makeCommonness();

inline int n8_commonness(Kel8u b) {
    return kCommonness.rank[b];
}

// Offsets of the two filter bytes, 0 <= f < l <= patLen - 1, patLen >= 2. f is searched in the first quarter of
// the pattern, l in the last quarter (at most 4 bytes inwards each), so that the two bytes stay far apart.
inline void n8_pickFilter(const Kel8u* pPat, int patLen, int* pF, int* pL) {
    int f = 0, l = patLen - 1;
    const int reach = patLen / 4 < 4 ? patLen / 4 : 4;
    for (int k = 1; k <= reach && n8_commonness(pPat[f]) != 0; ++k) {
        if (n8_commonness(pPat[k]) < n8_commonness(pPat[f])) f = k;
    }
    for (int k = patLen - 2; k >= patLen - 1 - reach && n8_commonness(pPat[l]) != 0; --k) {
        if (n8_commonness(pPat[k]) < n8_commonness(pPat[l])) l = k;
    }
    *pF = f;
    *pL = l;
}

// Equality of n bytes, n >= 0, reading only [a, a + n) and [b, b + n).
inline bool n8_sameBytes(const Kel8u* a, const Kel8u* b, int n) {
    if (n >= 16) {
        int k = 0;
        for (; k + 16 <= n; k += 16) {
            if (n8_movemask8(n8_cmpeq8(n8_loadu(a + k), n8_loadu(b + k))) != 0xFFFF) return false;
        }
        return k == n || n8_movemask8(n8_cmpeq8(n8_loadu(a + n - 16), n8_loadu(b + n - 16))) == 0xFFFF;
    }
    if (n >= 8) {
        uint64_t x0, y0, x1, y1;
        memcpy(&x0, a, 8);
        memcpy(&y0, b, 8);
        memcpy(&x1, a + n - 8, 8);
        memcpy(&y1, b + n - 8, 8);
        return ((x0 ^ y0) | (x1 ^ y1)) == 0;
    }
    if (n >= 4) {
        uint32_t x0, y0, x1, y1;
        memcpy(&x0, a, 4);
        memcpy(&y0, b, 4);
        memcpy(&x1, a + n - 4, 4);
        memcpy(&y1, b + n - 4, 4);
        return ((x0 ^ y0) | (x1 ^ y1)) == 0;
    }
    for (int k = 0; k < n; ++k) {
        if (a[k] != b[k]) return false;
    }
    return true;
}

struct Filter {
    const Kel8u* pPat;
    int patLen;
    int f, l;
    Vec128 vf, vl;
};

inline Filter n8_makeFilter(const Kel8u* pPat, int patLen) {
    Filter flt;
    flt.pPat = pPat;
    flt.patLen = patLen;
    n8_pickFilter(pPat, patLen, &flt.f, &flt.l);
    flt.vf = n8_splat8(pPat[flt.f]);
    flt.vl = n8_splat8(pPat[flt.l]);
    return flt;
}

// Bit k set: candidate p + k passes the filter. Reads pSrc[p + f, p + f + 16) and pSrc[p + l, p + l + 16).
inline uint32_t n8_filterMask(const Kel8u* pSrc, int p, const Filter& flt) {
    const Vec128 a = n8_cmpeq8(n8_loadu(pSrc + p + flt.f), flt.vf);
    const Vec128 b = n8_cmpeq8(n8_loadu(pSrc + p + flt.l), flt.vl);
    return static_cast<uint32_t>(n8_movemask8(n8_and(a, b)));
}

// The lowest candidate p + k of the mask that matches in full, or -1.
inline int n8_confirmLowest(const Kel8u* pSrc, int p, uint32_t mask, const Filter& flt) {
    for (; mask != 0; mask &= mask - 1) {
        const int q = p + n8_lowestBit32(mask);
        if (n8_sameBytes(pSrc + q, flt.pPat, flt.patLen)) return q;
    }
    return -1;
}

inline int n8_confirmHighest(const Kel8u* pSrc, int p, uint32_t mask, const Filter& flt) {
    while (mask != 0) {
        const int k = n8_highestBit32(mask);
        if (n8_sameBytes(pSrc + p + k, flt.pPat, flt.patLen)) return p + k;
        mask &= ~(1u << k);
    }
    return -1;
}

}  // namespace

int n8_ownsFind_8u_U8(const Kel8u* pSrc, int srcLen, const Kel8u* pPat, int patLen) {
    if (patLen == 0 || patLen > srcLen) return -1;
    if (patLen == 1) return n8_ownsFindC_8u(pSrc, srcLen, pPat[0]);
    const Filter flt = n8_makeFilter(pPat, patLen);
    const int n = srcLen - patLen + 1;
    if (n < 16) {
        for (int p = 0; p < n; ++p) {
            if (pSrc[p + flt.f] == pPat[flt.f] && pSrc[p + flt.l] == pPat[flt.l] &&
                n8_sameBytes(pSrc + p, pPat, patLen))
                return p;
        }
        return -1;
    }
    int i = 0;
    for (; i + 32 <= n; i += 32) {
        const uint32_t mask = n8_filterMask(pSrc, i, flt) | n8_filterMask(pSrc, i + 16, flt) << 16;
        if (mask != 0) {
            const int q = n8_confirmLowest(pSrc, i, mask, flt);
            if (q >= 0) return q;
        }
    }
    if (i + 16 <= n) {
        const int q = n8_confirmLowest(pSrc, i, n8_filterMask(pSrc, i, flt), flt);
        if (q >= 0) return q;
        i += 16;
    }
    if (i < n) {
        // Candidates n - 16 to n - 1; those below i were tested already.
        const int base = n - 16;
        const uint32_t mask = n8_filterMask(pSrc, base, flt) & (0xFFFFu << (i - base));
        return n8_confirmLowest(pSrc, base, mask, flt);
    }
    return -1;
}

int n8_ownsFindRev_8u(const Kel8u* pSrc, int srcLen, const Kel8u* pPat, int patLen) {
    if (patLen == 0 || patLen > srcLen) return -1;
    if (patLen == 1) return n8_ownsFindRevC_8u(pSrc, srcLen, pPat[0]);
    const Filter flt = n8_makeFilter(pPat, patLen);
    const int n = srcLen - patLen + 1;
    if (n < 16) {
        for (int p = n - 1; p >= 0; --p) {
            if (pSrc[p + flt.f] == pPat[flt.f] && pSrc[p + flt.l] == pPat[flt.l] &&
                n8_sameBytes(pSrc + p, pPat, patLen))
                return p;
        }
        return -1;
    }
    // Candidates at j and above are tested.
    int j = n;
    for (; j >= 32; j -= 32) {
        const uint32_t mask = n8_filterMask(pSrc, j - 32, flt) | n8_filterMask(pSrc, j - 16, flt) << 16;
        if (mask != 0) {
            const int q = n8_confirmHighest(pSrc, j - 32, mask, flt);
            if (q >= 0) return q;
        }
    }
    if (j >= 16) {
        const int q = n8_confirmHighest(pSrc, j - 16, n8_filterMask(pSrc, j - 16, flt), flt);
        if (q >= 0) return q;
        j -= 16;
    }
    if (j > 0) {
        // Candidates 0 to 15; those from j up were tested already.
        const uint32_t mask = n8_filterMask(pSrc, 0, flt) & ((1u << j) - 1);
        return n8_confirmHighest(pSrc, 0, mask, flt);
    }
    return -1;
}

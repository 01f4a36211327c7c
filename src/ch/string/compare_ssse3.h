// src/ch/string/compare_ssse3.h - comparison and equality of strings up to 64 bytes, inline.
//
// On short strings the fixed cost decides: a call into the kernel and the work of locating a difference cost more
// than the compares themselves. So strings of up to 64 bytes are compared here, in the caller, without a loop:
// overlapping loads that together span both strings exactly (two 4- or 8-byte loads below 16 bytes, two 16-byte
// loads up to 32 bytes, four up to 64). Their equality masks are ANDed and tested first; only when that test fails,
// which for equal strings it never does, is the first difference located: the lowest clear bit of the first load's
// mask if it has one, else of the later loads, whose bytes lie after all bytes of the earlier ones that they do not
// share. Strings below 4 bytes go byte by byte. Every load lies inside the strings. Longer strings go to the loops of
// compare_ssse3.cpp.
#pragma once

#include <stdint.h>
#include <string.h>

#include "ch/string/bit_scan.h"
#include "kelbase.h"
#include "primitives/simd.h"

// Strings of up to kCompareShortMax bytes are compared without a loop; strings of more than kCompareInlineMax
// bytes go to the loops of compare_ssse3.cpp.
constexpr int kCompareShortMax = 64;
constexpr int kCompareInlineMax = 256;

// The loops for strings of more than kCompareShortMax bytes (called for more than kCompareInlineMax): position of the
// first difference, or -1; and the results of n8_ownsCompare_8u and n8_ownsEqual_8u stored at pResult, for the exported
// implementations, which reach them by a tail call.
int n8_ownsFirstDifferenceLong_8u(const Kel8u* pA, const Kel8u* pB, int len);
void n8_ownsCompareLong_8u(const Kel8u* pA, const Kel8u* pB, int len, int* pResult);
void n8_ownsEqualLong_8u(const Kel8u* pA, const Kel8u* pB, int len, int* pResult);

namespace n8_compare {

inline Vec128 n8_load4x2(const Kel8u* p, int len) {
    uint32_t lo, hi;
    memcpy(&lo, p, 4);
    memcpy(&hi, p + len - 4, 4);
    return _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(lo)), _mm_cvtsi32_si128(static_cast<int>(hi)));
}

inline Vec128 n8_load8x2(const Kel8u* p, int len) {
    return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const Vec128*>(p)),
                              _mm_loadl_epi64(reinterpret_cast<const Vec128*>(p + len - 8)));
}

inline Vec128 n8_same(const Kel8u* pA, const Kel8u* pB, int at) {
    return n8_cmpeq8(n8_loadu(pA + at), n8_loadu(pB + at));
}

// Whether the 64 or 128 bytes at `at` are equal. One mask test per call: on strings of a few hundred bytes the
// tests, not the compares, set the pace.
inline bool n8_equal64(const Kel8u* pA, const Kel8u* pB, int at) {
    const Vec128 e = n8_and(n8_and(n8_same(pA, pB, at), n8_same(pA, pB, at + 16)),
                            n8_and(n8_same(pA, pB, at + 32), n8_same(pA, pB, at + 48)));
    return n8_movemask8(e) == 0xFFFF;
}
inline bool n8_equal128(const Kel8u* pA, const Kel8u* pB, int at) {
    Vec128 e = n8_same(pA, pB, at);
    for (int k = 16; k < 128; k += 16) e = n8_and(e, n8_same(pA, pB, at + k));
    return n8_movemask8(e) == 0xFFFF;
}

// -1 when the 64 bytes at `at` are equal, else the position of their first difference.
inline int n8_firstDifferenceIn64(const Kel8u* pA, const Kel8u* pB, int at) {
    const Vec128 e0 = n8_same(pA, pB, at), e1 = n8_same(pA, pB, at + 16);
    const Vec128 e2 = n8_same(pA, pB, at + 32), e3 = n8_same(pA, pB, at + 48);
    if (n8_movemask8(n8_and(n8_and(e0, e1), n8_and(e2, e3))) == 0xFFFF) return -1;
    const uint64_t same = static_cast<uint64_t>(n8_movemask8(e0)) | static_cast<uint64_t>(n8_movemask8(e1)) << 16 |
                          static_cast<uint64_t>(n8_movemask8(e2)) << 32 | static_cast<uint64_t>(n8_movemask8(e3)) << 48;
    return at + n8_lowestBit64(~same);
}

// Lowest clear bit of a 16-bit equality mask that is not 0xFFFF.
inline int n8_firstClear16(int sameMask) {
    return n8_lowestBit32(static_cast<uint32_t>(sameMask) ^ 0xFFFFu);
}

}  // namespace n8_compare

// Position of the first difference of two strings of 0 to kCompareShortMax bytes, or -1 when they are equal.
inline int n8_ownsFirstDifferenceShort_8u(const Kel8u* pA, const Kel8u* pB, int len) {
    using namespace n8_compare;
    if (len >= 16) {
        if (len <= 32) {
            const Vec128 e0 = n8_same(pA, pB, 0), e1 = n8_same(pA, pB, len - 16);
            if (n8_movemask8(n8_and(e0, e1)) == 0xFFFF) return -1;
            const int m0 = n8_movemask8(e0);
            return m0 != 0xFFFF ? n8_firstClear16(m0) : len - 16 + n8_firstClear16(n8_movemask8(e1));
        }
        const Vec128 e0 = n8_same(pA, pB, 0), e1 = n8_same(pA, pB, 16);
        const Vec128 e2 = n8_same(pA, pB, len - 32), e3 = n8_same(pA, pB, len - 16);
        if (n8_movemask8(n8_and(n8_and(e0, e1), n8_and(e2, e3))) == 0xFFFF) return -1;
        // Bytes 0-31, then bytes len - 32 to len - 1: the latter holds the difference when the former has none.
        const uint32_t diffStart =
            ~(static_cast<uint32_t>(n8_movemask8(e0)) | static_cast<uint32_t>(n8_movemask8(e1)) << 16);
        if (diffStart != 0) return n8_lowestBit32(diffStart);
        const uint32_t diffEnd =
            ~(static_cast<uint32_t>(n8_movemask8(e2)) | static_cast<uint32_t>(n8_movemask8(e3)) << 16);
        return len - 32 + n8_lowestBit32(diffEnd);
    }
    if (len >= 4) {
        // Below 8 bytes lanes 8-15 hold zeros in both strings, so they compare equal.
        const Vec128 e = len >= 8 ? n8_cmpeq8(n8_load8x2(pA, len), n8_load8x2(pB, len))
                                  : n8_cmpeq8(n8_load4x2(pA, len), n8_load4x2(pB, len));
        const uint32_t diff = static_cast<uint32_t>(n8_movemask8(e)) ^ 0xFFFFu;
        if (diff == 0) return -1;
        const int half = len >= 8 ? 8 : 4;
        const uint32_t firstLoad = diff & ((1u << half) - 1);
        return firstLoad != 0 ? n8_lowestBit32(firstLoad) : len - half + n8_lowestBit32(diff >> half);
    }
    for (int i = 0; i < len; ++i) {
        if (pA[i] != pB[i]) return i;
    }
    return -1;
}

// Position of the first difference of two strings of kCompareShortMax + 1 to kCompareInlineMax bytes, or -1: 128
// bytes per step, then 64 bytes per step over a failed step or the rest, the last step ending at the last byte.
// Bytes a step shares with earlier ones are equal, so its lowest difference is the first one.
inline int n8_ownsFirstDifferenceMedium_8u(const Kel8u* pA, const Kel8u* pB, int len) {
    using namespace n8_compare;
    int at = 0;
    while (at + 128 <= len && n8_equal128(pA, pB, at)) at += 128;
    if (at == len) return -1;
    if (at + 64 > len) at = len - 64;
    for (;;) {
        const int d = n8_firstDifferenceIn64(pA, pB, at);
        if (d >= 0 || at == len - 64) return d;
        at = at + 128 <= len ? at + 64 : len - 64;
    }
}

// 1 when the first len (0 to kCompareShortMax) bytes of both strings are equal, else 0. Equality needs no position,
// so below 16 bytes plain word compares do, and below 4 bytes the first, middle and last byte cover the string.
inline int n8_ownsEqualShort_8u(const Kel8u* pA, const Kel8u* pB, int len) {
    using namespace n8_compare;
    if (len >= 16) {
        Vec128 e = n8_and(n8_same(pA, pB, 0), n8_same(pA, pB, len - 16));
        if (len > 32) e = n8_and(e, n8_and(n8_same(pA, pB, 16), n8_same(pA, pB, len - 32)));
        return n8_movemask8(e) == 0xFFFF;
    }
    if (len >= 8) {
        uint64_t a0, a1, b0, b1;
        memcpy(&a0, pA, 8);
        memcpy(&a1, pA + len - 8, 8);
        memcpy(&b0, pB, 8);
        memcpy(&b1, pB + len - 8, 8);
        return ((a0 ^ b0) | (a1 ^ b1)) == 0;
    }
    if (len >= 4) {
        uint32_t a0, a1, b0, b1;
        memcpy(&a0, pA, 4);
        memcpy(&a1, pA + len - 4, 4);
        memcpy(&b0, pB, 4);
        memcpy(&b1, pB + len - 4, 4);
        return ((a0 ^ b0) | (a1 ^ b1)) == 0;
    }
    if (len == 0) return 1;
    const int mid = len >> 1;
    return static_cast<int>(pA[0] == pB[0]) & static_cast<int>(pA[mid] == pB[mid]) &
           static_cast<int>(pA[len - 1] == pB[len - 1]);
}

// 1 when the first len (kCompareShortMax + 1 to kCompareInlineMax) bytes of both strings are equal, else 0.
inline int n8_ownsEqualMedium_8u(const Kel8u* pA, const Kel8u* pB, int len) {
    using namespace n8_compare;
    if (len < 128) return n8_equal64(pA, pB, 0) && n8_equal64(pA, pB, len - 64);
    int at = 0;
    for (; at + 128 <= len; at += 128) {
        if (!n8_equal128(pA, pB, at)) return 0;
    }
    return at == len || n8_equal128(pA, pB, len - 128);
}

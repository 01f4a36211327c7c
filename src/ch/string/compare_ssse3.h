// src/ch/string/compare_ssse3.h - comparison and equality of strings up to 256 bytes, inline.
//
// On short strings the fixed cost decides: a call into a loop and the work of locating a difference cost more than
// the compares themselves. So strings of up to 256 bytes are compared here, in the caller, without a loop, each
// length class reached by one unsigned range test. From 16 to 64 bytes: four overlapping 16-byte loads per string at
// 0, m, len - 16 - m and len - 16, m = min((len - 16) / 2, 16), which together span the strings whatever the length
// (at 16 bytes all four coincide). From 65 to 128 and from 129 to 256 bytes: the first and the last 64 or 128
// bytes. The equality masks are ANDed and tested once; only when that test fails, which for equal strings it never
// does, is the first difference located, in the first load or block that has one: the bytes before it are equal.
// Below 16 bytes two 4- or 8-byte loads per string span it, below 4 bytes go byte by byte. Every load lies inside
// the strings. Longer strings go to the loops of compare_ssse3.cpp, out of line: there the call is cheap next to
// the work.
#pragma once

#include <stdint.h>
#include <string.h>

#include "ch/string/bit_scan.h"
#include "kelbase.h"
#include "primitives/simd.h"

// Strings of up to kCompareInlineMax bytes are compared inline, those of 16 to kCompareShortMax bytes first;
// longer ones go to the loops of compare_ssse3.cpp.
constexpr int kCompareShortMax = 64;
constexpr int kCompareInlineMax = 256;

// The loops for strings of more than kCompareShortMax bytes (called for more than kCompareInlineMax): position of the
// first difference, or -1; and the results of n8_ownsCompare_8u and n8_ownsEqual_8u stored at pResult with kelStatusOk
// returned, so that the exported implementations reach them by a tail call.
int n8_ownsFirstDifferenceLong_8u(const Kel8u* pA, const Kel8u* pB, int len);
KelStatus n8_ownsCompareLong_8u(const Kel8u* pA, const Kel8u* pB, int len, int* pResult);
KelStatus n8_ownsEqualLong_8u(const Kel8u* pA, const Kel8u* pB, int len, int* pResult);

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

inline Vec128 n8_same(const Kel8u* pA, const Kel8u* pB, size_t at) {
    return n8_cmpeq8(n8_loadu(pA + at), n8_loadu(pB + at));
}

// Lowest clear bit of a 16-bit equality mask that is not 0xFFFF.
inline int n8_firstClear16(int sameMask) {
    return n8_lowestBit32(static_cast<uint32_t>(sameMask) ^ 0xFFFFu);
}

// Whether len is from 16 to 64: one unsigned compare, which also sends negative lengths elsewhere.
inline bool n8_is16To64(int len) {
    return static_cast<unsigned>(len) - 16u <= 48u;
}

// Offset of the second of the four loads of a string of 16 to 64 bytes; the third lies as far before the last.
// At most 16, so no gap after the first load, and at least (len - 32) / 2, so no gap between the middle two.
inline size_t n8_middleLoad(size_t len) {
    const size_t half = (len - 16) >> 1;
    return half < 16 ? half : 16;
}

// a[i] - b[i] at the first difference i of two strings of 16 to 64 bytes, or 0 when they are equal. A failed test
// looks at the loads in string order: when a load has no difference, all bytes before the next load's start are
// equal, so the next load's lowest difference is the first one.
inline int n8_compare16To64(const Kel8u* pA, const Kel8u* pB, size_t len) {
    const size_t m = n8_middleLoad(len), last = len - 16;
    const Vec128 e0 = n8_same(pA, pB, 0), e1 = n8_same(pA, pB, m);
    const Vec128 e2 = n8_same(pA, pB, last - m), e3 = n8_same(pA, pB, last);
    if (n8_movemask8(n8_and(n8_and(e0, e1), n8_and(e2, e3))) == 0xFFFF) [[likely]]
        return 0;
    size_t i;
    if (n8_movemask8(e0) != 0xFFFF) {
        i = n8_firstClear16(n8_movemask8(e0));
    } else if (n8_movemask8(e1) != 0xFFFF) {
        i = m + n8_firstClear16(n8_movemask8(e1));
    } else if (n8_movemask8(e2) != 0xFFFF) {
        i = last - m + n8_firstClear16(n8_movemask8(e2));
    } else {
        i = last + n8_firstClear16(n8_movemask8(e3));
    }
    return pA[i] - pB[i];
}

// 1 when two strings of 16 to 64 bytes are equal, else 0.
inline int n8_equal16To64(const Kel8u* pA, const Kel8u* pB, size_t len) {
    const size_t m = n8_middleLoad(len), last = len - 16;
    const Vec128 e = n8_and(n8_and(n8_same(pA, pB, 0), n8_same(pA, pB, m)),
                            n8_and(n8_same(pA, pB, last - m), n8_same(pA, pB, last)));
    return n8_movemask8(e) == 0xFFFF;
}

// The AND of the equality masks of the kBytes (a multiple of 16) bytes at `at`, in a chain: with two-operand
// instructions a tree would cost register copies, and the chain's latency hides behind the loads.
template <size_t kBytes>
inline Vec128 n8_sameSpan(const Kel8u* pA, const Kel8u* pB, size_t at) {
    Vec128 e = n8_same(pA, pB, at);
    for (size_t k = 16; k < kBytes; k += 16) e = n8_and(e, n8_same(pA, pB, at + k));
    return e;
}

inline bool n8_allSame(Vec128 e) {
    return n8_movemask8(e) == 0xFFFF;
}

// Position of the first difference from `at` on, when the kHalf bytes from `at` hold one and the bytes before `at`
// are equal: the first 64-byte block with a difference holds it. Forced inline: as a call it would make the exported
// implementations set up a stack frame on their short paths too.
template <size_t kHalf>
__attribute__((always_inline)) inline size_t n8_locateIn(const Kel8u* pA, const Kel8u* pB, size_t at) {
    for (size_t k = 0; k + 64 < kHalf && n8_allSame(n8_sameSpan<64>(pA, pB, at)); k += 64) at += 64;
    const uint64_t same = static_cast<uint64_t>(n8_movemask8(n8_same(pA, pB, at))) |
                          static_cast<uint64_t>(n8_movemask8(n8_same(pA, pB, at + 16))) << 16 |
                          static_cast<uint64_t>(n8_movemask8(n8_same(pA, pB, at + 32))) << 32 |
                          static_cast<uint64_t>(n8_movemask8(n8_same(pA, pB, at + 48))) << 48;
    return at + static_cast<size_t>(n8_lowestBit64(~same));
}

// Whether len is from 65 to 128, or from 129 to 256: then the first and the last 64, or 128, bytes span the string.
inline bool n8_is65To128(int len) {
    return static_cast<unsigned>(len) - 65u <= 63u;
}
inline bool n8_is129To256(int len) {
    return static_cast<unsigned>(len) - 129u <= 127u;
}

// 1 when two strings of kHalf + 1 to 2 * kHalf bytes are equal, else 0: the first and the last kHalf bytes with one
// mask test.
template <size_t kHalf>
inline int n8_equalHalves(const Kel8u* pA, const Kel8u* pB, size_t len) {
    return n8_allSame(n8_and(n8_sameSpan<kHalf>(pA, pB, 0), n8_sameSpan<kHalf>(pA, pB, len - kHalf)));
}

// a[i] - b[i] at the first difference i of two strings of kHalf + 1 to 2 * kHalf bytes, or 0 when they are equal.
// A failed test reloads the bytes to locate the difference.
template <size_t kHalf>
inline int n8_compareHalves(const Kel8u* pA, const Kel8u* pB, size_t len) {
    if (n8_equalHalves<kHalf>(pA, pB, len)) [[likely]]
        return 0;
    const size_t i = !n8_allSame(n8_sameSpan<kHalf>(pA, pB, 0)) ? n8_locateIn<kHalf>(pA, pB, 0)
                                                                : n8_locateIn<kHalf>(pA, pB, len - kHalf);
    return pA[i] - pB[i];
}

// a[i] - b[i] at the first difference i of two strings of 0 to 15 bytes, or 0 when they are equal.
inline int n8_compareBelow16(const Kel8u* pA, const Kel8u* pB, int len) {
    if (len >= 4) {
        // Below 8 bytes lanes 8-15 hold zeros in both strings, so they compare equal.
        const Vec128 e = len >= 8 ? n8_cmpeq8(n8_load8x2(pA, len), n8_load8x2(pB, len))
                                  : n8_cmpeq8(n8_load4x2(pA, len), n8_load4x2(pB, len));
        const uint32_t diff = static_cast<uint32_t>(n8_movemask8(e)) ^ 0xFFFFu;
        if (diff == 0) return 0;
        const int half = len >= 8 ? 8 : 4;
        const uint32_t firstLoad = diff & ((1u << half) - 1);
        const int i = firstLoad != 0 ? n8_lowestBit32(firstLoad) : len - half + n8_lowestBit32(diff >> half);
        return pA[i] - pB[i];
    }
    for (int i = 0; i < len; ++i) {
        if (pA[i] != pB[i]) return pA[i] - pB[i];
    }
    return 0;
}

// 1 when two strings of 0 to 15 bytes are equal, else 0. Equality needs no position, so plain word compares do,
// and below 4 bytes the first, middle and last byte cover the string.
inline int n8_equalBelow16(const Kel8u* pA, const Kel8u* pB, int len) {
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

}  // namespace n8_compare

// a[i] - b[i] at the first difference i of two strings of 0 to kCompareInlineMax bytes, or 0 when they are equal.
inline int n8_ownsCompareInline_8u(const Kel8u* pA, const Kel8u* pB, int len) {
    using namespace n8_compare;
    if (n8_is16To64(len)) [[likely]]
        return n8_compare16To64(pA, pB, static_cast<unsigned>(len));
    if (n8_is65To128(len)) return n8_compareHalves<64>(pA, pB, static_cast<unsigned>(len));
    if (n8_is129To256(len)) return n8_compareHalves<128>(pA, pB, static_cast<unsigned>(len));
    return n8_compareBelow16(pA, pB, len);
}

// 1 when the first len (0 to kCompareInlineMax) bytes of both strings are equal, else 0.
inline int n8_ownsEqualInline_8u(const Kel8u* pA, const Kel8u* pB, int len) {
    using namespace n8_compare;
    if (n8_is16To64(len)) [[likely]]
        return n8_equal16To64(pA, pB, static_cast<unsigned>(len));
    if (n8_is65To128(len)) return n8_equalHalves<64>(pA, pB, static_cast<unsigned>(len));
    if (n8_is129To256(len)) return n8_equalHalves<128>(pA, pB, static_cast<unsigned>(len));
    return n8_equalBelow16(pA, pB, len);
}

// src/ch/string/compare_ssse3.cpp - comparison, Latin-case-insensitive comparison and equality, 16 bytes at a time.
//
// All three locate the first position where the (folded) bytes differ. Exact comparison and equality of strings up
// to 256 bytes happen inline in the caller (compare_ssse3.h); the case-insensitive comparison handles strings up to
// 64 bytes here in a similar way: below 4 bytes byte by byte, then with two or four overlapping loads per string
// that span it exactly (4-, 8- or 16-byte loads), their masks merged without a loop. Longer strings go 128 bytes
// (eight blocks) per step and finish with one step of eight unaligned blocks ending at the last byte; from 512 bytes
// on, the steps after the first continue from a 16-byte boundary of the second string (the aligned operand of each
// compare can come straight from memory). Each step tests the AND of its equality masks once; only a step that
// fails is searched for its first difference. The last step may overlap bytes already found equal, so its lowest
// difference is still the first one. Strings of 65 to 256 bytes thus take one or two steps and no loop branch
// after the last.
//
// Case folding happens in the registers: x + 63 (mod 256) maps the capitals 65..90 onto 128..153, which are exactly
// the signed bytes below -102, so one signed compare yields the capital mask and 32 is added under it.
#include <string.h>

#include "ch/string/bit_scan.h"
#include "ch/string/compare_internal.h"

namespace {

inline int n8_foldLatin(int x) {
    return x >= 'A' && x <= 'Z' ? x + 32 : x;
}

// From this length on the loop aligns its loads of the second string: then only the first string's loads can
// straddle cache lines. Below it the few steps do not repay the extra first step.
constexpr size_t kAlignFrom = 512;

template <bool kFold>
inline Vec128 n8_prepare(Vec128 x) {
    if constexpr (kFold) {
        const Vec128 shifted = _mm_add_epi8(x, n8_splat8(63));
        const Vec128 capital = _mm_cmpgt_epi8(n8_splat8(static_cast<Kel8u>(-102)), shifted);
        return _mm_add_epi8(x, n8_and(capital, n8_splat8(32)));
    } else {
        return x;
    }
}

// Mask of differing bytes in the blocks at a and b.
template <bool kFold>
inline uint32_t n8_diffMask(const Kel8u* a, const Vec128 vb) {
    return static_cast<uint32_t>(n8_movemask8(n8_cmpeq8(n8_prepare<kFold>(n8_loadu(a)), n8_prepare<kFold>(vb)))) ^
           0xFFFFu;
}

using n8_compare::n8_load4x2;
using n8_compare::n8_load8x2;

// Bit i set: byte i of two strings of 4 to 64 bytes differs. The overlapping loads together span the strings
// exactly; each load's mask is shifted to its byte offset, so a byte covered twice sets the same bit twice.
template <bool kFold>
inline uint64_t n8_shortDiffMask(const Kel8u* pA, const Kel8u* pB, int len) {
    if (len >= 16) {
        auto at = [&](int off) { return static_cast<uint64_t>(n8_diffMask<kFold>(pA + off, n8_loadu(pB + off))); };
        if (len <= 32) return at(0) | at(len - 16) << (len - 16);
        return at(0) | at(16) << 16 | (at(len - 32) | at(len - 16) << 16) << (len - 32);
    }
    if (len >= 8) {
        const uint64_t m = static_cast<uint64_t>(n8_movemask8(n8_cmpeq8(n8_prepare<kFold>(n8_load8x2(pA, len)),
                                                                        n8_prepare<kFold>(n8_load8x2(pB, len))))) ^
                           0xFFFF;
        return (m & 0xFF) | (m >> 8) << (len - 8);
    }
    // The zero lanes 8-15 are equal in both, so they never report a difference.
    const uint64_t m = static_cast<uint64_t>(n8_movemask8(
                           n8_cmpeq8(n8_prepare<kFold>(n8_load4x2(pA, len)), n8_prepare<kFold>(n8_load4x2(pB, len))))) ^
                       0xFFFF;
    return (m & 0xF) | ((m >> 4) & 0xF) << (len - 4);
}

// -1 when the 64 bytes at `at` are equal, else the position of their first difference.
template <bool kFold>
inline int n8_firstDifferenceIn64(const Kel8u* pA, const Kel8u* pB, size_t at) {
    auto same = [&](size_t k) {
        return n8_cmpeq8(n8_prepare<kFold>(n8_loadu(pA + at + k)), n8_prepare<kFold>(n8_loadu(pB + at + k)));
    };
    const Vec128 e0 = same(0), e1 = same(16), e2 = same(32), e3 = same(48);
    if (n8_movemask8(n8_and(n8_and(e0, e1), n8_and(e2, e3))) == 0xFFFF) return -1;
    const uint64_t all = static_cast<uint64_t>(n8_movemask8(e0)) | static_cast<uint64_t>(n8_movemask8(e1)) << 16 |
                         static_cast<uint64_t>(n8_movemask8(e2)) << 32 | static_cast<uint64_t>(n8_movemask8(e3)) << 48;
    return static_cast<int>(at) + n8_lowestBit64(~all);
}

// Whether the 64 bytes at `at` and the 64 bytes at `at2` are equal, with one mask test. kAligned: pB + at and
// pB + at2 lie on 16-byte boundaries, so the second string's operand can come straight from memory. The masks are
// ANDed in a chain: with two-operand instructions a tree would cost register copies, and the chain's latency hides
// behind the loads.
template <bool kFold, bool kAligned>
inline bool n8_equal64x2(const Kel8u* pA, const Kel8u* pB, size_t at, size_t at2) {
    auto same = [&](size_t k) {
        const Vec128 b = kAligned ? n8_loada(pB + k) : n8_loadu(pB + k);
        return n8_cmpeq8(n8_prepare<kFold>(n8_loadu(pA + k)), n8_prepare<kFold>(b));
    };
    Vec128 e = same(at);
    for (size_t k = 16; k < 64; k += 16) e = n8_and(e, same(at + k));
    for (size_t k = 0; k < 64; k += 16) e = n8_and(e, same(at2 + k));
    return n8_movemask8(e) == 0xFFFF;
}

// Position of the first difference in the 64 bytes at `at` and the 64 bytes at `at2`, at <= at2 <= at + 64, once
// n8_equal64x2 has found one. The bytes before `at` are equal, so the lowest difference is the first one. Out of
// line, so that the compiler does not keep the step's compares alive in registers for it: it reloads them.
template <bool kFold>
__attribute__((noinline)) int n8_locate64x2(const Kel8u* pA, const Kel8u* pB, size_t at, size_t at2) {
    const int d = n8_firstDifferenceIn64<kFold>(pA, pB, at);
    return d >= 0 ? d : n8_firstDifferenceIn64<kFold>(pA, pB, at2);
}

// Position of the first difference of two strings of more than 64 bytes, or -1 when the len bytes are equal.
// 128 bytes per step with one mask test per step; the last step ends at the last byte and may overlap bytes
// already found equal, so a string of 65 to 256 bytes takes one or two steps and no loop branch after the last.
template <bool kFold>
__attribute__((always_inline)) inline int n8_firstDifferenceLong(const Kel8u* pA, const Kel8u* pB, size_t len) {
    size_t at = 0;
    if (len >= kAlignFrom) {
        if (!n8_equal64x2<kFold, false>(pA, pB, 0, 64)) return n8_locate64x2<kFold>(pA, pB, 0, 64);
        // pB + at on a 16-byte boundary, 113 <= at <= 128: the steps overlap the first 128 bytes at most.
        at = 128 - (reinterpret_cast<uintptr_t>(pB) & 15);
        for (; at + 128 < len; at += 128) {
            if (!n8_equal64x2<kFold, true>(pA, pB, at, at + 64)) return n8_locate64x2<kFold>(pA, pB, at, at + 64);
        }
    } else {
        for (; at + 128 < len; at += 128) {
            if (!n8_equal64x2<kFold, false>(pA, pB, at, at + 64)) return n8_locate64x2<kFold>(pA, pB, at, at + 64);
        }
    }
    // 1 to 128 bytes from `at` remain: the last step covers [len - 128, len), or the whole string below 128 bytes.
    const size_t last = len - 64, first = len >= 128 ? len - 128 : 0;
    return n8_equal64x2<kFold, false>(pA, pB, first, last) ? -1 : n8_locate64x2<kFold>(pA, pB, first, last);
}

}  // namespace

int n8_ownsFirstDifferenceLong_8u(const Kel8u* pA, const Kel8u* pB, int len) {
    return n8_firstDifferenceLong<false>(pA, pB, static_cast<size_t>(len));
}

KelStatus n8_ownsCompareLong_8u(const Kel8u* pA, const Kel8u* pB, int len, int* pResult) {
    const int i = n8_firstDifferenceLong<false>(pA, pB, static_cast<size_t>(len));
    *pResult = i < 0 ? 0 : pA[i] - pB[i];
    return kelStatusOk;
}

KelStatus n8_ownsEqualLong_8u(const Kel8u* pA, const Kel8u* pB, int len, int* pResult) {
    *pResult = n8_firstDifferenceLong<false>(pA, pB, static_cast<size_t>(len)) < 0;
    return kelStatusOk;
}

int n8_ownsCompareIgnoreCaseLatin_8u(const Kel8u* pA, const Kel8u* pB, int len) {
    int i;
    if (len < 4) {
        for (i = 0; i < len && n8_foldLatin(pA[i]) == n8_foldLatin(pB[i]); ++i) {
        }
        if (i == len) return 0;
    } else if (len <= kCompareShortMax) {
        const uint64_t m = n8_shortDiffMask<true>(pA, pB, len);
        if (m == 0) return 0;
        i = n8_lowestBit64(m);
    } else {
        i = n8_firstDifferenceLong<true>(pA, pB, static_cast<size_t>(len));
        if (i < 0) return 0;
    }
    return n8_foldLatin(pA[i]) - n8_foldLatin(pB[i]);
}

// src/ch/string/compare_ssse3.cpp - comparison, Latin-case-insensitive comparison and equality, 16 bytes at a time.
//
// All three locate the first position where the (folded) bytes differ. Exact comparison and equality of strings up
// to 64 bytes happen inline in the caller (compare_ssse3.h); the case-insensitive comparison handles them here the
// same way: below 4 bytes byte by byte, up to 64 bytes with two or four overlapping loads per string that span it
// exactly (4-, 8- or 16-byte loads), their masks merged without a loop. Longer strings test the first 64 bytes
// unaligned, then continue from a 16-byte boundary of the second string (the aligned operand of each compare can
// come straight from memory), eight blocks per step, then four, and finish with four unaligned blocks ending at the
// last byte. Each step tests the AND of its equality masks once; only a step that fails is searched for its first
// difference. The last step may overlap bytes already found equal, so its lowest difference is still the first one.
// Medium strings thus take few, well-predicted branches, where a single-block tail loop would take up to three.
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
constexpr int kAlignFrom = 512;

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

// Position of the first difference of two strings of more than 64 bytes, or -1 when the len bytes are equal.
// -1 when the 64 bytes at `at` are equal, else the position of their first difference.
template <bool kFold>
inline int n8_firstDifferenceIn64(const Kel8u* pA, const Kel8u* pB, int at) {
    auto same = [&](int k) {
        return n8_cmpeq8(n8_prepare<kFold>(n8_loadu(pA + at + k)), n8_prepare<kFold>(n8_loadu(pB + at + k)));
    };
    const Vec128 e0 = same(0), e1 = same(16), e2 = same(32), e3 = same(48);
    if (n8_movemask8(n8_and(n8_and(e0, e1), n8_and(e2, e3))) == 0xFFFF) return -1;
    const uint64_t all = static_cast<uint64_t>(n8_movemask8(e0)) | static_cast<uint64_t>(n8_movemask8(e1)) << 16 |
                         static_cast<uint64_t>(n8_movemask8(e2)) << 32 | static_cast<uint64_t>(n8_movemask8(e3)) << 48;
    return at + n8_lowestBit64(~all);
}

template <bool kFold>
int n8_firstDifferenceLong(const Kel8u* pA, const Kel8u* pB, int len) {
    // The 16 bytes at `at`, compared; kAligned: pB + at lies on a 16-byte boundary, so the second string's operand
    // can come straight from memory.
    auto same16 = [&]<bool kAligned>(int at) {
        const Vec128 b = kAligned ? n8_loada(pB + at) : n8_loadu(pB + at);
        return n8_cmpeq8(n8_prepare<kFold>(n8_loadu(pA + at)), n8_prepare<kFold>(b));
    };
    auto same128 = [&]<bool kAligned>(int at) {
        Vec128 same = same16.template operator()<kAligned>(at);
        for (int k = 16; k < 128; k += 16) same = n8_and(same, same16.template operator()<kAligned>(at + k));
        return n8_movemask8(same) == 0xFFFF;
    };
    // 128 bytes per step while they last, with one mask test per step; the first step that fails, or the fewer
    // than 128 bytes after the last step, are left to the 64-byte steps below.
    int at = 0;
    if (len >= kAlignFrom) {
        const int d = n8_firstDifferenceIn64<kFold>(pA, pB, 0);
        if (d >= 0) return d;
        // pB + at on a 16-byte boundary, 49 <= at <= 64: the steps overlap the first 64 bytes at most.
        at = 64 - static_cast<int>(reinterpret_cast<uintptr_t>(pB) & 15);
        while (at + 128 <= len && same128.template operator()<true>(at)) at += 128;
    } else {
        while (at + 128 <= len && same128.template operator()<false>(at)) at += 128;
    }
    if (at == len) return -1;
    // 64 bytes per step, the last step ending at the last byte (len > 64). Bytes a step shares with earlier ones
    // are equal, so its lowest difference is the first one.
    if (at + 64 > len) at = len - 64;
    for (;;) {
        const int d = n8_firstDifferenceIn64<kFold>(pA, pB, at);
        if (d >= 0) return d;
        if (at == len - 64) return -1;
        at = at + 128 <= len ? at + 64 : len - 64;
    }
}

}  // namespace

int n8_ownsFirstDifferenceLong_8u(const Kel8u* pA, const Kel8u* pB, int len) {
    return n8_firstDifferenceLong<false>(pA, pB, len);
}

void n8_ownsCompareLong_8u(const Kel8u* pA, const Kel8u* pB, int len, int* pResult) {
    const int i = n8_firstDifferenceLong<false>(pA, pB, len);
    *pResult = i < 0 ? 0 : pA[i] - pB[i];
}

void n8_ownsEqualLong_8u(const Kel8u* pA, const Kel8u* pB, int len, int* pResult) {
    *pResult = n8_firstDifferenceLong<false>(pA, pB, len) < 0;
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
        i = n8_firstDifferenceLong<true>(pA, pB, len);
        if (i < 0) return 0;
    }
    return n8_foldLatin(pA[i]) - n8_foldLatin(pB[i]);
}

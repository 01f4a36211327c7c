// src/ch/string/compare_ssse3.cpp - comparison, Latin-case-insensitive comparison and equality, 16 bytes at a time.
//
// All three locate the first position where the (folded) bytes differ. Strings below 4 bytes go byte by byte;
// up to 64 bytes, two or four overlapping loads per string span it exactly (4-, 8- or 16-byte loads) and their
// masks are merged without a loop. Longer strings test one unaligned block at the start, then continue from the first
// 16-byte boundary of the second string, four blocks per step while at least 64 bytes remain (the aligned operand of
// each compare can come straight from memory), then single blocks, and finish with one unaligned block ending at the
// last byte. That last block may overlap bytes already found equal, so its lowest difference is still the first one.
//
// Case folding happens in the registers: x + 63 (mod 256) maps the capitals 65..90 onto 128..153, which are exactly
// the signed bytes below -102, so one signed compare yields the capital mask and 32 is added under it.
#include <string.h>

#include "ch/string/bit_scan.h"
#include "ch/string/compare_internal.h"
#include "primitives/simd.h"

namespace {

inline int n8_foldLatin(int x) {
    return x >= 'A' && x <= 'Z' ? x + 32 : x;
}

// Strings this long are compared with software prefetching, kPrefetchAhead bytes ahead of the compares.
constexpr int kPrefetchFrom = 16 * 1024;
constexpr int kPrefetchAhead = 1024;

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

inline Vec128 n8_load8x2(const Kel8u* p, int len) {
    return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const Vec128*>(p)),
                              _mm_loadl_epi64(reinterpret_cast<const Vec128*>(p + len - 8)));
}

inline Vec128 n8_load4x2(const Kel8u* p, int len) {
    uint32_t lo, hi;
    memcpy(&lo, p, 4);
    memcpy(&hi, p + len - 4, 4);
    return _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(lo)), _mm_cvtsi32_si128(static_cast<int>(hi)));
}

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

// Position of the first difference, or -1 when the len bytes are equal.
template <bool kFold>
int n8_firstDifference(const Kel8u* pA, const Kel8u* pB, int len) {
    if (len < 4) {
        for (int i = 0; i < len; ++i) {
            if (kFold ? n8_foldLatin(pA[i]) != n8_foldLatin(pB[i]) : pA[i] != pB[i]) return i;
        }
        return -1;
    }
    if (len <= 64) {
        const uint64_t m = n8_shortDiffMask<kFold>(pA, pB, len);
        return m != 0 ? n8_lowestBit64(m) : -1;
    }
    uint32_t m = n8_diffMask<kFold>(pA, n8_loadu(pB));
    if (m != 0) return n8_lowestBit32(m);
    int i = static_cast<int>(n8_bytesToNextBoundary(pB));
    // 128 bytes per step while they last; a step with a difference leaves it to the 64-byte loop to locate. Long
    // strings are not in the first-level cache, so the two lines kPrefetchAhead bytes on in each string are
    // requested before they are needed (never beyond the strings' ends).
    auto same128 = [&](int at) {
        Vec128 same = n8_cmpeq8(n8_prepare<kFold>(n8_loadu(pA + at)), n8_prepare<kFold>(n8_loada(pB + at)));
        for (int k = 16; k < 128; k += 16) {
            same = n8_and(
                same, n8_cmpeq8(n8_prepare<kFold>(n8_loadu(pA + at + k)), n8_prepare<kFold>(n8_loada(pB + at + k))));
        }
        return n8_movemask8(same) == 0xFFFF;
    };
    if (len >= kPrefetchFrom) {
        for (; i + 128 + kPrefetchAhead <= len; i += 128) {
            for (int line = 0; line < 128; line += 64) {
                _mm_prefetch(reinterpret_cast<const char*>(pA + i + kPrefetchAhead + line), _MM_HINT_T0);
                _mm_prefetch(reinterpret_cast<const char*>(pB + i + kPrefetchAhead + line), _MM_HINT_T0);
            }
            if (!same128(i)) break;
        }
    }
    for (; i + 128 <= len; i += 128) {
        if (!same128(i)) break;
    }
    for (; i + 64 <= len; i += 64) {
        const Vec128 e0 = n8_cmpeq8(n8_prepare<kFold>(n8_loadu(pA + i)), n8_prepare<kFold>(n8_loada(pB + i)));
        const Vec128 e1 = n8_cmpeq8(n8_prepare<kFold>(n8_loadu(pA + i + 16)), n8_prepare<kFold>(n8_loada(pB + i + 16)));
        const Vec128 e2 = n8_cmpeq8(n8_prepare<kFold>(n8_loadu(pA + i + 32)), n8_prepare<kFold>(n8_loada(pB + i + 32)));
        const Vec128 e3 = n8_cmpeq8(n8_prepare<kFold>(n8_loadu(pA + i + 48)), n8_prepare<kFold>(n8_loada(pB + i + 48)));
        if (n8_movemask8(n8_and(n8_and(e0, e1), n8_and(e2, e3))) != 0xFFFF) {
            const uint64_t same =
                static_cast<uint64_t>(n8_movemask8(e0)) | static_cast<uint64_t>(n8_movemask8(e1)) << 16 |
                static_cast<uint64_t>(n8_movemask8(e2)) << 32 | static_cast<uint64_t>(n8_movemask8(e3)) << 48;
            return i + n8_lowestBit64(~same);
        }
    }
    for (; i + 16 <= len; i += 16) {
        m = n8_diffMask<kFold>(pA + i, n8_loada(pB + i));
        if (m != 0) return i + n8_lowestBit32(m);
    }
    if (i < len) {
        m = n8_diffMask<kFold>(pA + len - 16, n8_loadu(pB + len - 16));
        if (m != 0) return len - 16 + n8_lowestBit32(m);
    }
    return -1;
}

}  // namespace

int n8_ownsCompare_8u(const Kel8u* pA, const Kel8u* pB, int len) {
    const int i = n8_firstDifference<false>(pA, pB, len);
    return i < 0 ? 0 : pA[i] - pB[i];
}

int n8_ownsCompareIgnoreCaseLatin_8u(const Kel8u* pA, const Kel8u* pB, int len) {
    const int i = n8_firstDifference<true>(pA, pB, len);
    return i < 0 ? 0 : n8_foldLatin(pA[i]) - n8_foldLatin(pB[i]);
}

int n8_ownsEqual_8u(const Kel8u* pA, const Kel8u* pB, int len) {
    return n8_firstDifference<false>(pA, pB, len) < 0;
}

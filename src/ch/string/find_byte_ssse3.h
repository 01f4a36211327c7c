// src/ch/string/find_byte_ssse3.h - n8_ownsFindC_8u and n8_ownsFindRevC_8u: first and last position of a byte.
//
// The byte is broadcast into a vector and compared with 16 source bytes at a time; the lowest set bit of the
// equality mask is the first hit of a block, the highest set bit the last. Short sources, where the fixed cost of a
// call decides, are handled here inline, without a loop: overlapping loads that together span the source exactly
// (two 4- or 8-byte loads below 16 bytes, two 16-byte loads up to 32 bytes, four up to 64), whose masks are merged
// into one word with each load's bits shifted to its byte offset, so that a byte covered twice sets the same bit
// twice. Sources below 4 bytes go byte by byte. Longer sources go to the loops of find_byte_ssse3.cpp. Every load
// lies inside the source.
#pragma once

#include <stdint.h>
#include <string.h>

#include "ch/string/bit_scan.h"
#include "kelbase.h"
#include "primitives/simd.h"

// The loops for sources of more than 64 bytes.
int n8_ownsFindCLong_8u(const Kel8u* pSrc, int srcLen, Kel8u val);
int n8_ownsFindRevCLong_8u(const Kel8u* pSrc, int srcLen, Kel8u val);

inline int n8_byteMatchMask(const Kel8u* p, Vec128 needle) {
    return n8_movemask8(n8_cmpeq8(n8_loadu(p), needle));
}
inline int n8_byteMatchMaskAligned(const Kel8u* p, Vec128 needle) {
    return n8_movemask8(n8_cmpeq8(n8_loada(p), needle));
}

// Bit i set: byte i of a source of 4 to 64 bytes equals the needle. Bits at or above len are clear.
inline uint64_t n8_byteMatchMaskShort(const Kel8u* p, int len, Vec128 needle) {
    if (len >= 16) {
        const uint64_t first = static_cast<uint64_t>(n8_byteMatchMask(p, needle));
        const uint64_t last = static_cast<uint64_t>(n8_byteMatchMask(p + len - 16, needle));
        if (len <= 32) return first | last << (len - 16);
        const uint64_t second = static_cast<uint64_t>(n8_byteMatchMask(p + 16, needle));
        const uint64_t third = static_cast<uint64_t>(n8_byteMatchMask(p + len - 32, needle));
        return first | second << 16 | (third | last << 16) << (len - 32);
    }
    if (len >= 8) {
        const Vec128 v = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const Vec128*>(p)),
                                            _mm_loadl_epi64(reinterpret_cast<const Vec128*>(p + len - 8)));
        const uint64_t m = static_cast<uint64_t>(n8_movemask8(n8_cmpeq8(v, needle)));
        return (m & 0xFF) | (m >> 8) << (len - 8);
    }
    uint32_t lo, hi;
    memcpy(&lo, p, 4);
    memcpy(&hi, p + len - 4, 4);
    const Vec128 v =
        _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(lo)), _mm_cvtsi32_si128(static_cast<int>(hi)));
    // Lanes 8-15 are zero and would match a zero needle.
    const uint64_t m = static_cast<uint64_t>(n8_movemask8(n8_cmpeq8(v, needle)));
    return (m & 0xF) | ((m >> 4) & 0xF) << (len - 4);
}

inline int n8_ownsFindC_8u(const Kel8u* pSrc, int srcLen, Kel8u val) {
    if (srcLen > 64) return n8_ownsFindCLong_8u(pSrc, srcLen, val);
    if (srcLen < 4) {
        for (int i = 0; i < srcLen; ++i) {
            if (pSrc[i] == val) return i;
        }
        return -1;
    }
    const uint64_t m = n8_byteMatchMaskShort(pSrc, srcLen, n8_splat8(val));
    return m != 0 ? n8_lowestBit64(m) : -1;
}

inline int n8_ownsFindRevC_8u(const Kel8u* pSrc, int srcLen, Kel8u val) {
    if (srcLen > 64) return n8_ownsFindRevCLong_8u(pSrc, srcLen, val);
    if (srcLen < 4) {
        for (int i = srcLen - 1; i >= 0; --i) {
            if (pSrc[i] == val) return i;
        }
        return -1;
    }
    const uint64_t m = n8_byteMatchMaskShort(pSrc, srcLen, n8_splat8(val));
    return m != 0 ? n8_highestBit64(m) : -1;
}

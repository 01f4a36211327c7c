// src/ch/string/find_byte_ssse3.cpp - the byte-search loops for sources of more than 64 bytes.
//
// A forward scan tests the first 64 bytes unaligned, continues from a 16-byte boundary at most 64 bytes on with
// aligned loads, eight blocks per step with one mask test, then four blocks (which also locate a hit the
// eight-block step saw), and ends with four unaligned blocks that finish at the last source byte. Where steps overlap
// bytes already tested they can only find hits that the earlier steps would have reported first, so the overlap is
// harmless and replaces a scalar tail. The reverse scan is the mirror image. srcLen > 64, so the first and last
// 64 bytes lie inside the source. Each step tests its blocks' equality masks ORed together once: on sources of a few
// hundred bytes the tests, not the compares, set the pace, so there is no single-block step.
#include "ch/string/search_internal.h"

namespace {

// Bit i set: byte at + i equals the needle, for the 64 bytes at `at`. kAligned: at lies on a 16-byte boundary.
template <bool kAligned>
inline uint64_t n8_matchMask64(const Kel8u* at, Vec128 needle) {
    auto eq = [&](int k) { return n8_cmpeq8(kAligned ? n8_loada(at + k) : n8_loadu(at + k), needle); };
    const Vec128 e0 = eq(0), e1 = eq(16), e2 = eq(32), e3 = eq(48);
    if (n8_movemask8(n8_or(n8_or(e0, e1), n8_or(e2, e3))) == 0) return 0;
    return static_cast<uint64_t>(n8_movemask8(e0)) | static_cast<uint64_t>(n8_movemask8(e1)) << 16 |
           static_cast<uint64_t>(n8_movemask8(e2)) << 32 | static_cast<uint64_t>(n8_movemask8(e3)) << 48;
}

// Whether any of the 128 bytes at the 16-byte boundary q equals the needle.
inline bool n8_any128(const Kel8u* q, Vec128 needle) {
    Vec128 any = n8_cmpeq8(n8_loada(q), needle);
    for (int k = 16; k < 128; k += 16) any = n8_or(any, n8_cmpeq8(n8_loada(q + k), needle));
    return n8_movemask8(any) != 0;
}

inline const Kel8u* n8_alignDown16(const Kel8u* p) {
    return p - (reinterpret_cast<uintptr_t>(p) & 15);
}

}  // namespace

int n8_ownsFindCLong_8u(const Kel8u* pSrc, int srcLen, Kel8u val) {
    const Vec128 needle = n8_splat8(val);
    uint64_t m = n8_matchMask64<false>(pSrc, needle);
    if (m != 0) return n8_lowestBit64(m);
    const Kel8u* const pEnd = pSrc + srcLen;
    // The boundary at or below pSrc + 64: the aligned steps overlap the first 64 bytes by at most 15.
    const Kel8u* q = n8_alignDown16(pSrc + 64);
    while (pEnd - q >= 128 && !n8_any128(q, needle)) q += 128;
    while (pEnd - q >= 64) {
        m = n8_matchMask64<true>(q, needle);
        if (m != 0) return static_cast<int>(q - pSrc) + n8_lowestBit64(m);
        q += 64;
    }
    if (q < pEnd) {
        m = n8_matchMask64<false>(pEnd - 64, needle);
        if (m != 0) return srcLen - 64 + n8_lowestBit64(m);
    }
    return -1;
}

int n8_ownsFindRevCLong_8u(const Kel8u* pSrc, int srcLen, Kel8u val) {
    const Vec128 needle = n8_splat8(val);
    const Kel8u* const pEnd = pSrc + srcLen;
    uint64_t m = n8_matchMask64<false>(pEnd - 64, needle);
    if (m != 0) return srcLen - 64 + n8_highestBit64(m);
    // q is the end of the next aligned step down: the boundary at or above pEnd - 64, so the steps overlap the last
    // 64 bytes by at most 15.
    const Kel8u* q = n8_alignDown16(pEnd - 64 + 15);
    while (q - pSrc >= 128 && !n8_any128(q - 128, needle)) q -= 128;
    while (q - pSrc >= 64) {
        m = n8_matchMask64<true>(q - 64, needle);
        if (m != 0) return static_cast<int>(q - 64 - pSrc) + n8_highestBit64(m);
        q -= 64;
    }
    if (q > pSrc) {
        m = n8_matchMask64<false>(pSrc, needle);
        if (m != 0) return n8_highestBit64(m);
    }
    return -1;
}

// src/ch/string/find_byte_ssse3.cpp - the byte-search loops for sources of more than 64 bytes.
//
// A forward scan tests one unaligned block at the start, continues from the next 16-byte boundary with aligned
// loads, eight blocks per step with one mask test, then four blocks (which also locate a hit the eight-block step
// saw), then single blocks, and ends with one unaligned block that finishes at the last source byte. Where that block
// overlaps bytes already tested it can only find hits that the earlier blocks would have reported first, so the overlap
// is harmless and replaces a scalar tail. The reverse scan is the mirror image. srcLen > 64, so the first and last
// blocks lie inside the source.
#include "ch/string/search_internal.h"

int n8_ownsFindCLong_8u(const Kel8u* pSrc, int srcLen, Kel8u val) {
    const Vec128 needle = n8_splat8(val);
    int m = n8_byteMatchMask(pSrc, needle);
    if (m != 0) return n8_lowestBit32(static_cast<uint32_t>(m));
    const Kel8u* const pEnd = pSrc + srcLen;
    const Kel8u* q = pSrc + n8_bytesToNextBoundary(pSrc);
    // 128 bytes per step while they last; a step with a hit leaves it to the 64-byte loop to locate.
    while (pEnd - q >= 128) {
        Vec128 any = n8_cmpeq8(n8_loada(q), needle);
        for (int k = 16; k < 128; k += 16) any = n8_or(any, n8_cmpeq8(n8_loada(q + k), needle));
        if (n8_movemask8(any) != 0) break;
        q += 128;
    }
    while (pEnd - q >= 64) {
        const Vec128 e0 = n8_cmpeq8(n8_loada(q), needle);
        const Vec128 e1 = n8_cmpeq8(n8_loada(q + 16), needle);
        const Vec128 e2 = n8_cmpeq8(n8_loada(q + 32), needle);
        const Vec128 e3 = n8_cmpeq8(n8_loada(q + 48), needle);
        if (n8_movemask8(n8_or(n8_or(e0, e1), n8_or(e2, e3))) != 0) {
            const uint64_t all =
                static_cast<uint64_t>(n8_movemask8(e0)) | static_cast<uint64_t>(n8_movemask8(e1)) << 16 |
                static_cast<uint64_t>(n8_movemask8(e2)) << 32 | static_cast<uint64_t>(n8_movemask8(e3)) << 48;
            return static_cast<int>(q - pSrc) + n8_lowestBit64(all);
        }
        q += 64;
    }
    while (pEnd - q >= 16) {
        m = n8_byteMatchMaskAligned(q, needle);
        if (m != 0) return static_cast<int>(q - pSrc) + n8_lowestBit32(static_cast<uint32_t>(m));
        q += 16;
    }
    if (q < pEnd) {
        m = n8_byteMatchMask(pEnd - 16, needle);
        if (m != 0) return srcLen - 16 + n8_lowestBit32(static_cast<uint32_t>(m));
    }
    return -1;
}

int n8_ownsFindRevCLong_8u(const Kel8u* pSrc, int srcLen, Kel8u val) {
    const Vec128 needle = n8_splat8(val);
    const Kel8u* const pEnd = pSrc + srcLen;
    int m = n8_byteMatchMask(pEnd - 16, needle);
    if (m != 0) return srcLen - 16 + n8_highestBit32(static_cast<uint32_t>(m));
    // q is the end of the next aligned block down: the boundary below the last byte. When the source ends on a
    // boundary this skips the block just tested; otherwise the first aligned block overlaps it.
    const Kel8u* q = pEnd - 1 - ((reinterpret_cast<uintptr_t>(pEnd) - 1) & 15);
    while (q - pSrc >= 128) {
        Vec128 any = n8_cmpeq8(n8_loada(q - 128), needle);
        for (int k = 16; k < 128; k += 16) any = n8_or(any, n8_cmpeq8(n8_loada(q - 128 + k), needle));
        if (n8_movemask8(any) != 0) break;
        q -= 128;
    }
    while (q - pSrc >= 64) {
        const Vec128 e0 = n8_cmpeq8(n8_loada(q - 64), needle);
        const Vec128 e1 = n8_cmpeq8(n8_loada(q - 48), needle);
        const Vec128 e2 = n8_cmpeq8(n8_loada(q - 32), needle);
        const Vec128 e3 = n8_cmpeq8(n8_loada(q - 16), needle);
        if (n8_movemask8(n8_or(n8_or(e0, e1), n8_or(e2, e3))) != 0) {
            const uint64_t all =
                static_cast<uint64_t>(n8_movemask8(e0)) | static_cast<uint64_t>(n8_movemask8(e1)) << 16 |
                static_cast<uint64_t>(n8_movemask8(e2)) << 32 | static_cast<uint64_t>(n8_movemask8(e3)) << 48;
            return static_cast<int>(q - 64 - pSrc) + n8_highestBit64(all);
        }
        q -= 64;
    }
    while (q - pSrc >= 16) {
        m = n8_byteMatchMaskAligned(q - 16, needle);
        if (m != 0) return static_cast<int>(q - 16 - pSrc) + n8_highestBit32(static_cast<uint32_t>(m));
        q -= 16;
    }
    if (q > pSrc) {
        m = n8_byteMatchMask(pSrc, needle);
        if (m != 0) return n8_highestBit32(static_cast<uint32_t>(m));
    }
    return -1;
}

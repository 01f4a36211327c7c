// src/ch/string/find_byte_ssse3.h - n8_ownsFindC_8u and n8_ownsFindRevC_8u: first and last position of a byte.
//
// The byte is broadcast into a vector and compared with 16 source bytes at a time; the lowest set bit of the
// equality mask is the first hit of a block, the highest set bit the last. Short sources, where the fixed cost of a
// call decides, are handled here inline, without a loop. From 17 to 64 bytes: overlapping loads that together span
// the source exactly (two 16-byte loads up to 32 bytes, four up to 64), whose masks are merged into one word with
// each load's bits shifted to its byte offset, so that a byte covered twice sets the same bit twice; every such load
// lies inside the source. Up to 16 bytes: the one or two aligned 16-byte blocks that hold the source, with the bits
// of the bytes outside it masked off. Those blocks may include bytes beside the source but never cross a page
// boundary (each holds at least one source byte), so they cannot fault; they are never read for an empty source.
// Longer sources go to the loops of find_byte_ssse3.cpp.
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

// The 16-byte-aligned block that holds the byte at p, compared with the needle. The block may reach before and
// after the caller's buffer, but it never crosses a page boundary, so where p may be read the whole block may be
// read too. Address checkers cannot know that and would report the bytes outside the buffer, so the load is written
// in assembly, which they leave alone; the memory operand still orders it after any store to the block.
inline int n8_byteMatchMaskOfBlock(const Kel8u* p, Vec128 needle) {
    const Vec128* block = reinterpret_cast<const Vec128*>(p - (reinterpret_cast<uintptr_t>(p) & 15));
    Vec128 v;
    __asm__("movdqa %1, %0" : "=x"(v) : "m"(*block));
    return n8_movemask8(n8_cmpeq8(v, needle));
}

// Bit i set: byte i of a source of 1 to 16 bytes equals the needle; bits at or above len are clear. The one or two
// aligned blocks that hold the source are compared whole, and the bits of the bytes outside it are masked off:
// one masked compare, instead of overlapping loads chosen by length.
inline uint32_t n8_byteMatchMaskTiny(const Kel8u* p, int len, Vec128 needle) {
    const uint32_t off = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p) & 15);
    uint32_t m = static_cast<uint32_t>(n8_byteMatchMaskOfBlock(p, needle));
    if (off + static_cast<uint32_t>(len) > 16)
        m |= static_cast<uint32_t>(n8_byteMatchMaskOfBlock(p + len - 1, needle)) << 16;
    return (m >> off) & ((1u << len) - 1);
}

// Bit i set: byte i of a source of 17 to 64 bytes equals the needle. Bits at or above len are clear.
inline uint64_t n8_byteMatchMaskShort(const Kel8u* p, int len, Vec128 needle) {
    const uint64_t first = static_cast<uint64_t>(n8_byteMatchMask(p, needle));
    const uint64_t last = static_cast<uint64_t>(n8_byteMatchMask(p + len - 16, needle));
    if (len <= 32) return first | last << (len - 16);
    const uint64_t second = static_cast<uint64_t>(n8_byteMatchMask(p + 16, needle));
    const uint64_t third = static_cast<uint64_t>(n8_byteMatchMask(p + len - 32, needle));
    return first | second << 16 | (third | last << 16) << (len - 32);
}

inline int n8_ownsFindC_8u(const Kel8u* pSrc, int srcLen, Kel8u val) {
    if (srcLen > 64) return n8_ownsFindCLong_8u(pSrc, srcLen, val);
    if (srcLen <= 16) {
        if (srcLen == 0) return -1;
        const uint32_t m = n8_byteMatchMaskTiny(pSrc, srcLen, n8_splat8(val));
        return m != 0 ? n8_lowestBit32(m) : -1;
    }
    const uint64_t m = n8_byteMatchMaskShort(pSrc, srcLen, n8_splat8(val));
    return m != 0 ? n8_lowestBit64(m) : -1;
}

inline int n8_ownsFindRevC_8u(const Kel8u* pSrc, int srcLen, Kel8u val) {
    if (srcLen > 64) return n8_ownsFindRevCLong_8u(pSrc, srcLen, val);
    if (srcLen <= 16) {
        if (srcLen == 0) return -1;
        const uint32_t m = n8_byteMatchMaskTiny(pSrc, srcLen, n8_splat8(val));
        return m != 0 ? n8_highestBit32(m) : -1;
    }
    const uint64_t m = n8_byteMatchMaskShort(pSrc, srcLen, n8_splat8(val));
    return m != 0 ? n8_highestBit64(m) : -1;
}

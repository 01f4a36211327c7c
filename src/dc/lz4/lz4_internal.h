// src/dc/lz4/lz4_internal.h - kernels and shared helpers of the LZ4 block codecs.
//
// The block format: per sequence a token (literal count in the high nibble, match length - 4 in the low nibble),
// length extensions of 255-valued bytes, the literals, a 16-bit little-endian offset and the match. The helpers
// below are shared by the fast, dictionary and high-compression encoders so that all of them write sequences in
// exactly the same way. Words are read and written through memcpy, which compiles to single unaligned moves.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "kelbase.h"

// ---- kernels -------------------------------------------------------------------------------------------------

// Decodes one complete block. Contract of both twins: pSrc/srcLen and pDst/*pDstLen are valid, non-empty buffers
// (checked by the caller). On success *pDstLen receives the decoded length and kelStatusOk is returned; a
// malformed block (literals or a match past either buffer, an offset of 0 or one reaching before pDst, a block cut
// inside an offset or a length extension) gives kelStatusStreamOverrun with *pDstLen = -1. Neither reads or
// writes outside the two buffers. The SSSE3 twin may overwrite destination bytes past the decoded length with
// scratch; the decoded bytes are the same.
KelStatus n8_ownsDecodeLZ4_8u(const Kel8u* pSrc, int srcLen, Kel8u* pDst, int* pDstLen);
KelStatus n8_ownsDecodeLZ4_8u_ref(const Kel8u* pSrc, int srcLen, Kel8u* pDst, int* pDstLen);

// The careful loop on its own: decodes from source position ip and output position op (both inside their
// buffers, op >= pDst) to the end of the block, checking every read and write. The SSSE3 kernel hands the last
// sequences of a block to it. Results as for n8_ownsDecodeLZ4_8u.
KelStatus n8_ownsDecodeLZ4Tail(const Kel8u* ip, const Kel8u* srcEnd, Kel8u* pDst, Kel8u* op, Kel8u* dstEnd,
                               int* pDstLen);

// Number of leading bytes on which pA and pB agree, at most maxLen (>= 0). Reads only pA[0 .. maxLen - 1] and
// pB[0 .. maxLen - 1]; the two ranges may overlap.
int n8_ownsLZ4MatchLength_8u(const Kel8u* pA, const Kel8u* pB, int maxLen);
int n8_ownsLZ4MatchLength_8u_ref(const Kel8u* pA, const Kel8u* pB, int maxLen);

// ---- word access -----------------------------------------------------------------------------------------------

inline uint16_t n8_lz4Read16(const Kel8u* p) {
    uint16_t v;
    __builtin_memcpy(&v, p, 2);
    return v;
}
inline uint32_t n8_lz4Read32(const Kel8u* p) {
    uint32_t v;
    __builtin_memcpy(&v, p, 4);
    return v;
}
inline uint64_t n8_lz4Read64(const Kel8u* p) {
    uint64_t v;
    __builtin_memcpy(&v, p, 8);
    return v;
}
inline void n8_lz4Write16(Kel8u* p, uint16_t v) {
    __builtin_memcpy(p, &v, 2);
}
inline void n8_lz4Write32(Kel8u* p, uint32_t v) {
    __builtin_memcpy(p, &v, 4);
}
inline void n8_lz4Copy8(Kel8u* d, const Kel8u* s) {
    __builtin_memcpy(d, s, 8);
}
inline void n8_lz4Copy16(Kel8u* d, const Kel8u* s) {
    __builtin_memcpy(d, s, 16);
}

// Index of the lowest set bit of a non-zero word. Written as BSF: the compiler's own count-trailing-zeros becomes
// TZCNT, an instruction beyond the target set.
inline unsigned n8_lz4LowBit64(uint64_t v) {
    uint64_t r;
    __asm__("bsfq %1, %0" : "=r"(r) : "rm"(v) : "cc");
    return unsigned(r);
}
inline unsigned n8_lz4LowBit32(uint32_t v) {
    uint32_t r;
    __asm__("bsfl %1, %0" : "=r"(r) : "rm"(v) : "cc");
    return r;
}
// Index of the highest set bit of a non-zero word (BSR; LZCNT is beyond the target set).
inline unsigned n8_lz4HighBit64(uint64_t v) {
    uint64_t r;
    __asm__("bsrq %1, %0" : "=r"(r) : "rm"(v) : "cc");
    return unsigned(r);
}

// Leading equal bytes of pA and pB, at most maxLen, reading nothing beyond maxLen bytes of either. The inline
// scalar form for the fast encoders, whose matches are short and whose call sites are hot.
inline int n8_lz4CountEqual(const Kel8u* pA, const Kel8u* pB, int maxLen) {
    int n = 0;
    while (n + 8 <= maxLen) {
        const uint64_t diff = n8_lz4Read64(pA + n) ^ n8_lz4Read64(pB + n);
        if (diff) return n + int(n8_lz4LowBit64(diff) >> 3);
        n += 8;
    }
    while (n < maxLen && pA[n] == pB[n]) ++n;
    return n;
}

// Equal bytes going backwards from pA[-1] and pB[-1], at most maxLen (reads pA[-maxLen .. -1], pB[-maxLen .. -1]).
inline int n8_lz4CountEqualBack(const Kel8u* pA, const Kel8u* pB, int maxLen) {
    int n = 0;
    while (n + 8 <= maxLen) {
        const uint64_t diff = n8_lz4Read64(pA - n - 8) ^ n8_lz4Read64(pB - n - 8);
        if (diff) return n + int((63 - n8_lz4HighBit64(diff)) >> 3);
        n += 8;
    }
    while (n < maxLen && pA[-n - 1] == pB[-n - 1]) ++n;
    return n;
}

// ---- sequence writer -----------------------------------------------------------------------------------------

constexpr int kLz4MinMatch = 4;
constexpr unsigned kLz4NibbleMax = 15;

// Bytes of the length extension of a count n whose nibble is saturated: 0 below 15, then one byte per started 255.
inline int n8_lz4ExtensionSize(size_t n) {
    return n < 15 ? 0 : int((n - 15) / 255 + 1);
}

// Writes the extension of n (the count minus its nibble's 15): floor(n / 255) bytes of 255, then n mod 255.
inline Kel8u* n8_lz4WriteExtension(Kel8u* op, size_t n) {
    if (n >= 255) {
        size_t k = n / 255;
        n -= k * 255;
        const uint64_t ones = ~uint64_t(0);
        for (; k >= 8; k -= 8, op += 8) __builtin_memcpy(op, &ones, 8);
        for (; k; --k) *op++ = 255;
    }
    *op++ = Kel8u(n);
    return op;
}

// Copies litLen literals in 16-byte steps, overwriting up to 15 bytes past the end. The caller guarantees that
// the source holds 15 readable bytes past the literals (they are followed by at least a match) and that the
// destination has the room (see each encoder).
inline void n8_lz4WildCopy16(Kel8u* op, const Kel8u* ip, size_t litLen) {
    for (size_t i = 0; i < litLen; i += 16) n8_lz4Copy16(op + i, ip + i);
}
// As above in 8-byte steps: overwrites up to 7 bytes past the end.
inline void n8_lz4WildCopy8(Kel8u* op, const Kel8u* ip, size_t litLen) {
    for (size_t i = 0; i < litLen; i += 8) n8_lz4Copy8(op + i, ip + i);
}

// Writes one sequence: litLen literals from pLit, then a match of matchLen (>= 4) bytes at distance offset
// (1..65535). wide selects 16-byte literal steps, which read and write up to 15 bytes past the literals
// (otherwise 7); the caller guarantees that both stay inside its buffers and that the overwrite lands on bytes
// that the offset and the sequences after it write again. Returns the new output
// position.
inline Kel8u* n8_lz4WriteSequence(Kel8u* op, const Kel8u* pLit, size_t litLen, unsigned offset, size_t matchLen,
                                  bool wide) {
    Kel8u* const pToken = op++;
    unsigned token;
    if (litLen >= kLz4NibbleMax) {
        token = kLz4NibbleMax << 4;
        op = n8_lz4WriteExtension(op, litLen - kLz4NibbleMax);
    } else {
        token = unsigned(litLen) << 4;
    }
    if (wide) {
        n8_lz4WildCopy16(op, pLit, litLen);
    } else {
        n8_lz4WildCopy8(op, pLit, litLen);
    }
    op += litLen;
    n8_lz4Write16(op, uint16_t(offset));
    op += 2;
    const size_t m = matchLen - kLz4MinMatch;
    if (m >= kLz4NibbleMax) {
        token |= kLz4NibbleMax;
        op = n8_lz4WriteExtension(op, m - kLz4NibbleMax);
    } else {
        token |= unsigned(m);
    }
    *pToken = Kel8u(token);
    return op;
}

// Writes the final literal run (a token with no offset), copying exactly litLen bytes.
inline Kel8u* n8_lz4WriteLastLiterals(Kel8u* op, const Kel8u* pLit, size_t litLen) {
    if (litLen >= kLz4NibbleMax) {
        *op++ = Kel8u(kLz4NibbleMax << 4);
        op = n8_lz4WriteExtension(op, litLen - kLz4NibbleMax);
    } else {
        *op++ = Kel8u(litLen << 4);
    }
    __builtin_memcpy(op, pLit, litLen);
    return op + litLen;
}

// src/ch/string/utf_convert_ssse3.cpp - the UTF-8/UTF-16 converters with vector paths for well-formed text.
//
// Both directions alternate between vector loops over blocks and a scalar loop that applies the tolerant rules of
// utf_convert_ref.cpp character by character:
// - UTF-8 to UTF-16: a block of 16 bytes without a high bit is widened to 16 units (zero bytes interleaved below
//   or, for big-endian output, above each byte). Otherwise, when all characters that start in the block are
//   well-formed one- to three-byte sequences, they are decoded together (n8_decodeBlock). Anything else (four-byte
//   and longer forms, malformed or over-long bytes) goes through the scalar loop for the next 16 bytes.
// - UTF-16 to UTF-8: a block of 16 units all below 0x80 is packed to 16 bytes; otherwise a block of 8 units without
//   surrogates is encoded together (n8_encodeBlock); a surrogate sends the units up to and including it (with its
//   low half when it is a pair) through the scalar loop, and the blocks resume right after it. Text beyond the
//   BMP has surrogate pairs every few units, so a longer scalar stretch would cover most of such text.
// Big-endian units are byte-swapped with one shuffle. Vector blocks run only while enough source and room remain
// (kDecodeMin..., kEncodeMin...): every access then lies inside the caller's buffers, and the whole-vector stores
// that run past a block's own output are overwritten by the output that must follow, so nothing is left behind
// the reported count. The scalar steps follow the rules exactly; the shortcuts there (the two-byte lead range
// C2..DF, the over-long test as one compare) are consequences of those rules, noted where they are used.
#include <stddef.h>

#include "ch/string/bit_scan.h"
#include "ch/string/utf8_tables.inc"
#include "ch/string/utf_convert_internal.h"
#include "primitives/simd.h"

namespace {

template <bool kSwap>
inline Kel16u n8_unit(Kel32u u) {
    return static_cast<Kel16u>(kSwap ? ((u & 0xFF) << 8) | ((u >> 8) & 0xFF) : u & 0xFFFF);
}

// The code point of the character at s, whose lead byte is 0x80 or above; r >= 1 source bytes remain. *pUsed
// receives the bytes it takes: n + 1 for a well-formed form with n continuation bytes, else 1 (the lead byte read
// as its own value).
inline Kel32u n8_decodeNonAscii(const Kel8u* s, size_t r, size_t* pUsed) {
    const Kel32u b = s[0];
    *pUsed = 1;
    // Lead bytes C2..DF carry 5 payload bits of which the top four are not all zero, so with a continuation byte
    // they always form a shortest two-byte sequence (C0 and C1 only give over-long ones).
    if (b - 0xC2 < 0x1E) {
        if (r < 2 || (s[1] & 0xC0) != 0x80) return b;
        *pUsed = 2;
        return ((b & 0x1F) << 6) | (s[1] & 0x3Fu);
    }
    // Leading one-bits of b, at most 7 counted; n = ones - 1 continuation bytes announced.
    int ones = __builtin_clz(~(b << 24));
    if (ones > 7) ones = 7;
    const int n = ones - 1;
    if (n == 0 || n == 6 || static_cast<size_t>(n) >= r) return b;
    Kel32u v = (b & UTF8_table3[n]) << (6 * n);
    for (int k = 0; k < n; ++k) {
        const Kel32u x = s[1 + k];
        if ((x & 0xC0) != 0x80) return b;
        v |= (x & 0x3F) << (6 * (n - 1 - k));
    }
    // n continuation bytes carry at most UTF8_table1[n], so the shortest form of v has n continuation bytes
    // unless v already fits in n - 1.
    if (v <= UTF8_table1[n - 1]) return b;
    *pUsed = static_cast<size_t>(n) + 1;
    return v;
}

template <bool kSwap>
inline Vec128 n8_widenLow(Vec128 v) {
    return kSwap ? _mm_unpacklo_epi8(n8_zero128(), v) : _mm_unpacklo_epi8(v, n8_zero128());
}

template <bool kSwap>
inline Vec128 n8_widenHigh(Vec128 v) {
    return kSwap ? _mm_unpackhi_epi8(n8_zero128(), v) : _mm_unpackhi_epi8(v, n8_zero128());
}

inline Vec128 n8_swapBytes16(Vec128 v) {
    return n8_shuffle8(v, _mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14));
}

inline Vec128 n8_splat16(int v) {
    return _mm_set1_epi16(static_cast<short>(v));
}

// ---- Shuffle tables, computed at compile time ---------------------------------------------------------------------

// Left-packing of 16-bit lanes: shuffle[m] gathers the lanes i (0..7) with bit i of m set, in order, to the front;
// count[m] is how many there are.
struct LanePack {
    Kel8u shuffle[256][16];
    Kel8u count[256];
};

constexpr LanePack n8_makeLanePack() {
    LanePack t{};
    for (int m = 0; m < 256; ++m) {
        int k = 0;
        for (int i = 0; i < 8; ++i) {
            if ((m >> i) & 1) {
                t.shuffle[m][2 * k] = static_cast<Kel8u>(2 * i);
                t.shuffle[m][2 * k + 1] = static_cast<Kel8u>(2 * i + 1);
                ++k;
            }
        }
        for (int j = 2 * k; j < 16; ++j) t.shuffle[m][j] = 0x80;
        t.count[m] = static_cast<Kel8u>(k);
    }
    return t;
}

constexpr LanePack kLanePack = n8_makeLanePack();

// Gathering the UTF-8 bytes of four units, each spread over a 32-bit lane as lead, second, third byte. Bit k
// (0..3) of the index says that unit k needs two bytes or more, bit 4 + k that it needs three; shuffle[idx] packs
// each unit's first 1, 2 or 3 bytes, in order, to the front and length[idx] is their total.
struct ByteGather {
    Kel8u shuffle[256][16];
    Kel8u length[256];
};

constexpr ByteGather n8_makeByteGather() {
    ByteGather t{};
    for (int idx = 0; idx < 256; ++idx) {
        int k = 0;
        for (int u = 0; u < 4; ++u) {
            const int n = 1 + ((idx >> u) & 1) + ((idx >> (4 + u)) & 1);
            for (int b = 0; b < n; ++b) t.shuffle[idx][k++] = static_cast<Kel8u>(4 * u + b);
        }
        t.length[idx] = static_cast<Kel8u>(k);
        for (int j = k; j < 16; ++j) t.shuffle[idx][j] = 0x80;
    }
    return t;
}

constexpr ByteGather kByteGather = n8_makeByteGather();

// ---- UTF-8 to UTF-16 ----------------------------------------------------------------------------------------------

// The vector paths run only while this many source bytes and units of room remain. A mixed block reads 18 bytes
// and writes up to 16 units, of which up to 8 past its own output (the second lane-pack store is a whole vector);
// the 32 further bytes that must remain yield at least 10 more units, and the 16 further units of room let at least
// 8 of them be written, so every such stray unit is overwritten before the call ends.
constexpr ptrdiff_t kDecodeMinSrc = 18 + 32;
constexpr ptrdiff_t kDecodeMinDst = 16 + 16;

// Decodes the characters that start in the 16 bytes at s as long as they are well-formed sequences of one to three
// bytes (the last may end in s[16] or s[17]); returns the bytes consumed and sets *pWritten. Returns 0 with nothing
// written when the very first character needs the scalar rules (four bytes and more, malformed, over-long).
//
// Byte j is a continuation byte exactly when the lead one or two places before it announces one; comparing that
// expectation with the actual continuation bytes checks the structure of the whole block at once. The first flagged
// byte q ends the block early: a flag at a lead byte marks that character itself, and a character that starts
// before q is flagged at its own lead when one of its continuation bytes is missing, so all characters that start
// before q are complete and end exactly at q. Each start lane then holds its code point, computed for all three
// lengths and selected by the lead byte, and the start lanes are packed to the front.
template <bool kSwap>
inline int n8_decodeBlock(const Kel8u* s, Kel16u* d, int* pWritten) {
    const Vec128 b0 = n8_loadu(s), b1 = n8_loadu(s + 1), b2 = n8_loadu(s + 2);
    const Vec128 top2 = n8_splat8(0xC0), top3 = n8_splat8(0xE0), top4 = n8_splat8(0xF0);
    const Vec128 cont0 = n8_cmpeq8(n8_and(b0, top2), n8_splat8(0x80));
    const Vec128 cont1 = n8_cmpeq8(n8_and(b1, top2), n8_splat8(0x80));
    const Vec128 cont2 = n8_cmpeq8(n8_and(b2, top2), n8_splat8(0x80));
    const Vec128 lead23 = n8_cmpeq8(n8_and(b0, top2), top2);
    const Vec128 lead3 = n8_cmpeq8(n8_and(b0, top3), top3);
    const Vec128 lead4 = n8_cmpeq8(n8_and(b0, top4), top4);
    const Vec128 expected = n8_or(_mm_slli_si128(lead23, 1), _mm_slli_si128(lead3, 2));
    // C0 and C1 lead only over-long two-byte forms; E0 needs a second byte of A0 or more.
    const Vec128 overlong2 = n8_cmpeq8(n8_and(b0, n8_splat8(0xFE)), top2);
    const Vec128 overlong3 = n8_and(n8_cmpeq8(b0, top3), n8_cmpeq8(n8_and(b1, n8_splat8(0x20)), n8_zero128()));
    Vec128 bad = _mm_xor_si128(cont0, expected);
    bad = n8_or(bad, n8_andNot(cont1, lead23));
    bad = n8_or(bad, n8_andNot(cont2, lead3));
    bad = n8_or(bad, n8_or(lead4, n8_or(overlong2, overlong3)));
    const uint32_t badMask = static_cast<uint32_t>(n8_movemask8(bad));
    uint32_t starts = ~static_cast<uint32_t>(n8_movemask8(cont0)) & 0xFFFF;
    int used = 0;
    if (badMask != 0) {
        used = n8_lowestBit32(badMask);
        if (used == 0) return 0;
        starts &= (1u << used) - 1;
    } else {
        // The last character starts at the highest start bit (13 or above: every byte belongs to a character that
        // starts at most two bytes earlier) and is one byte long plus one per lead class it belongs to.
        const int last = n8_highestBit32(starts);
        const uint32_t m23 = static_cast<uint32_t>(n8_movemask8(lead23));
        const uint32_t m3 = static_cast<uint32_t>(n8_movemask8(lead3));
        used = last + 1 + static_cast<int>((m23 >> last) & 1) + static_cast<int>((m3 >> last) & 1);
    }

    const Vec128 low6 = n8_splat16(0x3F);
    auto codePoints = [&](Vec128 w0, Vec128 w1, Vec128 w2, Vec128 m23, Vec128 m3) {
        const Vec128 p1 = n8_and(w1, low6), p2 = n8_and(w2, low6);
        const Vec128 two = n8_or(_mm_slli_epi16(n8_and(w0, n8_splat16(0x1F)), 6), p1);
        // In a 16-bit lane the shift by 12 keeps exactly the lead byte's four payload bits.
        const Vec128 three = n8_or(n8_or(_mm_slli_epi16(w0, 12), _mm_slli_epi16(p1, 6)), p2);
        return n8_select(m3, three, n8_select(m23, two, w0));
    };
    const Vec128 z = n8_zero128();
    Vec128 lo = codePoints(_mm_unpacklo_epi8(b0, z), _mm_unpacklo_epi8(b1, z), _mm_unpacklo_epi8(b2, z),
                           _mm_unpacklo_epi8(lead23, lead23), _mm_unpacklo_epi8(lead3, lead3));
    Vec128 hi = codePoints(_mm_unpackhi_epi8(b0, z), _mm_unpackhi_epi8(b1, z), _mm_unpackhi_epi8(b2, z),
                           _mm_unpackhi_epi8(lead23, lead23), _mm_unpackhi_epi8(lead3, lead3));
    if (kSwap) {
        lo = n8_swapBytes16(lo);
        hi = n8_swapBytes16(hi);
    }
    const uint32_t startsLo = starts & 0xFF, startsHi = starts >> 8;
    n8_storeu(d, n8_shuffle8(lo, n8_loadu(kLanePack.shuffle[startsLo])));
    d += kLanePack.count[startsLo];
    n8_storeu(d, n8_shuffle8(hi, n8_loadu(kLanePack.shuffle[startsHi])));
    *pWritten = kLanePack.count[startsLo] + kLanePack.count[startsHi];
    return used;
}

template <bool kSwap>
void n8_utf8To16(const Kel8u* pSrc, Kel32u* pSrcLen, Kel16u* pDst, Kel32u* pDstLen) {
    const Kel8u* s = pSrc;
    const Kel8u* const sEnd = pSrc + *pSrcLen;
    Kel16u* d = pDst;
    Kel16u* const dEnd = pDst + *pDstLen;
    while (s < sEnd && d < dEnd) {
        if (sEnd - s >= kDecodeMinSrc && dEnd - d >= kDecodeMinDst) {
            const Vec128 v = n8_loadu(s);
            if (n8_movemask8(v) == 0) {
                n8_storeu(d, n8_widenLow<kSwap>(v));
                n8_storeu(d + 8, n8_widenHigh<kSwap>(v));
                s += 16;
                d += 16;
                continue;
            }
            int written;
            const int used = n8_decodeBlock<kSwap>(s, d, &written);
            if (used > 0) {
                s += used;
                d += written;
                continue;
            }
        }
        // One character by the scalar rules: one the blocks cannot take, or one near the ends of the buffers.
        if (*s < 0x80) {
            *d++ = n8_unit<kSwap>(*s++);
            continue;
        }
        size_t used;
        const Kel32u c = n8_decodeNonAscii(s, static_cast<size_t>(sEnd - s), &used);
        if (c > 0xFFFF) {
            // A surrogate pair is written whole or not at all.
            if (dEnd - d < 2) break;
            d[0] = n8_unit<kSwap>(0xD800 + (((c - 0x10000) >> 10) & 0x3FF));
            d[1] = n8_unit<kSwap>(0xDC00 + ((c - 0x10000) & 0x3FF));
            d += 2;
        } else {
            *d++ = n8_unit<kSwap>(c);
        }
        s += used;
    }
    *pSrcLen = static_cast<Kel32u>(s - pSrc);
    *pDstLen = static_cast<Kel32u>(d - pDst);
}

// ---- UTF-16 to UTF-8 ----------------------------------------------------------------------------------------------

// The vector paths run only while this many source units and bytes of room remain. A mixed block of 8 units writes
// up to 24 bytes plus up to 12 past its own output (each gather store is a whole vector); the 16 further units
// that must remain yield at least 16 more bytes, and the 16 further bytes of room let at least 13 of them be
// written, so every stray byte is overwritten before the call ends.
constexpr ptrdiff_t kEncodeMinSrc = 8 + 16;
constexpr ptrdiff_t kEncodeMinDst = 24 + 16;

// Encodes 8 units when none is a surrogate (each then takes one to three bytes); sets *pWritten and returns true.
// Returns false with nothing written when a surrogate is among them. Each unit's bytes are computed for all three
// lengths, selected by its range, laid out as lead, second, third byte in a 32-bit lane, and gathered four units
// at a time.
template <bool kSwap>
inline bool n8_encodeBlock(const Kel16u* s, Kel8u* d, int* pWritten) {
    Vec128 u = n8_loadu(s);
    if (kSwap) u = n8_swapBytes16(u);
    const Vec128 z = n8_zero128();
    if (n8_movemask8(_mm_cmpeq_epi16(n8_and(u, n8_splat16(0xF800)), n8_splat16(0xD800))) != 0) return false;
    const Vec128 ones = _mm_cmpeq_epi16(z, z);
    const Vec128 twoOrMore = _mm_xor_si128(_mm_cmpeq_epi16(n8_and(u, n8_splat16(0xFF80)), z), ones);
    const Vec128 three = _mm_xor_si128(_mm_cmpeq_epi16(n8_and(u, n8_splat16(0xF800)), z), ones);
    const Vec128 lead2 = n8_or(_mm_srli_epi16(u, 6), n8_splat16(0xC0));
    const Vec128 lead3 = n8_or(_mm_srli_epi16(u, 12), n8_splat16(0xE0));
    const Vec128 mid = n8_or(n8_and(_mm_srli_epi16(u, 6), n8_splat16(0x3F)), n8_splat16(0x80));
    const Vec128 low = n8_or(n8_and(u, n8_splat16(0x3F)), n8_splat16(0x80));
    // Byte 0 of each lane: the unit itself (ASCII) or the lead byte; byte 1: the second byte. Every value fits in
    // 8 bits: ASCII < 0x80, lead2 = 0xC0 | (u >> 6) <= 0xDF for u < 0x800, lead3 <= 0xEF.
    const Vec128 first = n8_select(three, lead3, n8_select(twoOrMore, lead2, u));
    const Vec128 second = n8_select(three, mid, low);
    const Vec128 pair = n8_or(first, _mm_slli_epi16(second, 8));
    const Vec128 lanesLo = _mm_unpacklo_epi16(pair, low), lanesHi = _mm_unpackhi_epi16(pair, low);
    const uint32_t m = static_cast<uint32_t>(n8_movemask8(_mm_packs_epi16(twoOrMore, three)));
    const uint32_t idxLo = (m & 0xF) | ((m >> 4) & 0xF0), idxHi = ((m >> 4) & 0xF) | ((m >> 8) & 0xF0);
    n8_storeu(d, n8_shuffle8(lanesLo, n8_loadu(kByteGather.shuffle[idxLo])));
    d += kByteGather.length[idxLo];
    n8_storeu(d, n8_shuffle8(lanesHi, n8_loadu(kByteGather.shuffle[idxHi])));
    *pWritten = kByteGather.length[idxLo] + kByteGather.length[idxHi];
    return true;
}

template <bool kSwap>
void n8_utf16To8(const Kel16u* pSrc, Kel32u* pSrcLen, Kel8u* pDst, Kel32u* pDstLen) {
    const Kel16u* s = pSrc;
    const Kel16u* const sEnd = pSrc + *pSrcLen;
    Kel8u* d = pDst;
    Kel8u* const dEnd = pDst + *pDstLen;
    const Vec128 nonAscii = n8_splat16(0xFF80);
    while (s < sEnd && d < dEnd) {
        while (sEnd - s >= kEncodeMinSrc && dEnd - d >= kEncodeMinDst) {
            Vec128 a = n8_loadu(s), b = n8_loadu(s + 8);
            if (kSwap) {
                a = n8_swapBytes16(a);
                b = n8_swapBytes16(b);
            }
            if (n8_movemask8(n8_cmpeq8(n8_and(n8_or(a, b), nonAscii), n8_zero128())) == 0xFFFF) {
                n8_storeu(d, _mm_packus_epi16(a, b));
                s += 16;
                d += 16;
                continue;
            }
            int written;
            if (!n8_encodeBlock<kSwap>(s, d, &written)) break;
            s += 8;
            d += written;
        }
        // Unit by unit up to the first surrogate or over the next 16 units (or to an end), then back to the blocks.
        const Kel16u* const stop = sEnd - s > 16 ? s + 16 : sEnd;
        while (s < stop && d < dEnd) {
            const Kel32u u = n8_unit<kSwap>(s[0]);
            if (u < 0x80) {
                *d++ = static_cast<Kel8u>(u);
                ++s;
                continue;
            }
            if (u < 0x800) {
                if (dEnd - d < 2) goto done;
                d[0] = static_cast<Kel8u>(0xC0 | (u >> 6));
                d[1] = static_cast<Kel8u>(0x80 | (u & 0x3F));
                d += 2;
                ++s;
                continue;
            }
            Kel32u c = u;
            ptrdiff_t used = 1;
            if (u - 0xD800 < 0x400 && sEnd - s >= 2) {
                const Kel32u v = n8_unit<kSwap>(s[1]);
                if (v - 0xDC00 < 0x400) {
                    c = (((u & 0x3FF) << 10) | (v & 0x3FF)) + 0x10000;
                    used = 2;
                }
            }
            if (c > 0xFFFF) {
                if (dEnd - d < 4) goto done;
                d[0] = static_cast<Kel8u>(0xF0 | (c >> 18));
                d[1] = static_cast<Kel8u>(0x80 | ((c >> 12) & 0x3F));
                d[2] = static_cast<Kel8u>(0x80 | ((c >> 6) & 0x3F));
                d[3] = static_cast<Kel8u>(0x80 | (c & 0x3F));
                d += 4;
            } else {
                // Lone surrogates included: three bytes of their own value.
                if (dEnd - d < 3) goto done;
                d[0] = static_cast<Kel8u>(0xE0 | (c >> 12));
                d[1] = static_cast<Kel8u>(0x80 | ((c >> 6) & 0x3F));
                d[2] = static_cast<Kel8u>(0x80 | (c & 0x3F));
                d += 3;
            }
            s += used;
            // A surrogate is what stops the blocks (n8_encodeBlock takes none); once it is written they can go on.
            if (u - 0xD800 < 0x800) break;
        }
    }
done:
    *pSrcLen = static_cast<Kel32u>(s - pSrc);
    *pDstLen = static_cast<Kel32u>(d - pDst);
}

}  // namespace

void n8_ownsConvertUTF_8u16u(const Kel8u* pSrc, Kel32u* pSrcLen, Kel16u* pDst, Kel32u* pDstLen, int bigEndian) {
    if (bigEndian != 0) {
        n8_utf8To16<true>(pSrc, pSrcLen, pDst, pDstLen);
    } else {
        n8_utf8To16<false>(pSrc, pSrcLen, pDst, pDstLen);
    }
}

void n8_ownsConvertUTF_16u8u(const Kel16u* pSrc, Kel32u* pSrcLen, Kel8u* pDst, Kel32u* pDstLen, int bigEndian) {
    if (bigEndian != 0) {
        n8_utf16To8<true>(pSrc, pSrcLen, pDst, pDstLen);
    } else {
        n8_utf16To8<false>(pSrc, pSrcLen, pDst, pDstLen);
    }
}

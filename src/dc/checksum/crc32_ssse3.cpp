// src/dc/checksum/crc32_ssse3.cpp - wide CRC-32, CRC-32C and bzip2 CRC: sparse-multiple folding, then slicing.
//
// All three CRCs run as a register updated by c' = (c >> 8) ^ T[(c ^ x) & 0xFF] (the bzip2 CRC in a byte-reversed
// register, see crc32_ref.cpp). The update is linear, so the register after a message is the XOR of one
// contribution per byte, and the contribution of a 16-byte block B followed by e more blocks is B times y^e
// modulo the polynomial P, with y = x^128. tools/gen_crc_tables.py found, for each polynomial, sparse multiples
//
//     y^D + y^a1 + ... + y^aj + 1 = 0  (mod P),
//
// so a block followed by at least D blocks may be deleted from the message and XORed instead into the blocks
// D - a (a = a1..aj, 0) positions further on, the "lags" g of crc_tables.inc, without changing the CRC. Done
// from the front, this is the recurrence
//
//     Y[b] = M[b] ^ Y[b - g1] ^ ... ^ Y[b - gj+1]   (Y of a position before the start = 0)
//
// over every block followed by at least D blocks; the last D blocks, with what the deleted blocks moved into
// them, and the final partial block then form a message of 16 D to 16 D + 15 bytes with the same CRC. A block of
// the recurrence costs one 16-byte load and XOR per lag plus two stores and no table lookups, against sixteen
// lookups for table-driven code. Two relations are used in turn: a long one (D about 200, 5 lags) for the bulk
// of a long input, then a short one (D about 55, 9 lags) on what it leaves; slicing finishes the last 16 D + 15
// bytes or fewer. The incoming register joins as four bytes XORed into the first block (what the reflected update
// does with it), here by seeding the ring slot that the first block reads through lag D.
//
// The slicing code runs four independent slicing-by-8 streams over adjacent pieces (the CRC-32C tables hold
// four slices, so its 8-byte steps are two 4-byte slices) and joins the pieces' registers with tables that
// advance a register over 256 or 32 zero bytes. Every load stays inside [pSrc, pSrc + srcLen).
#include <stddef.h>

#include "dc/checksum/checksum_internal.h"
#include "dc/checksum/crc_tables.inc"
#include "primitives/simd.h"

namespace {

// The tables of one CRC: kDepth slices (slice k = the byte table advanced by k zero bytes), the 256- and 32-byte
// advance tables, and the lags of the long and the short fold relation (descending, the first = D).
struct Crc32Tables {
    static constexpr int kDepth = 8;
    static constexpr const Kel32u (&kSlices)[8][256] = kCrc32Slices;
    static constexpr const Kel32u (&kAdvance256)[4][256] = kCrc32Advance256;
    static constexpr const Kel32u (&kAdvance32)[4][256] = kCrc32Advance32;
    static constexpr const int (&kLongLags)[5] = kCrc32LongFoldLags;
    static constexpr const int (&kShortLags)[9] = kCrc32ShortFoldLags;
};

struct Crc32cTables {
    static constexpr int kDepth = 4;
    static constexpr const Kel32u (&kSlices)[4][256] = CRC32CTable;
    static constexpr const Kel32u (&kAdvance256)[4][256] = kCrc32cAdvance256;
    static constexpr const Kel32u (&kAdvance32)[4][256] = kCrc32cAdvance32;
    static constexpr const int (&kLongLags)[5] = kCrc32cLongFoldLags;
    static constexpr const int (&kShortLags)[9] = kCrc32cShortFoldLags;
};

// The bzip2 CRC shares CRC-32's polynomial and therefore its fold relation; only the bit order differs.
struct Bzip2CrcTables {
    static constexpr int kDepth = 8;
    static constexpr const Kel32u (&kSlices)[8][256] = crc_table;
    static constexpr const Kel32u (&kAdvance256)[4][256] = kBzip2CrcAdvance256;
    static constexpr const Kel32u (&kAdvance32)[4][256] = kBzip2CrcAdvance32;
    static constexpr const int (&kLongLags)[5] = kCrc32LongFoldLags;
    static constexpr const int (&kShortLags)[9] = kCrc32ShortFoldLags;
};

inline Kel32u n8_load32(const Kel8u* p) {
    Kel32u v;
    __builtin_memcpy(&v, p, 4);
    return v;
}

inline Kel64u n8_load64(const Kel8u* p) {
    Kel64u v;
    __builtin_memcpy(&v, p, 8);
    return v;
}

// Four bytes whose register contribution is the XOR of one lookup per byte: byte i (first = lowest) is followed
// by 3 - i bytes of the word, hence slice 3 - i.
template <class T>
inline Kel32u n8_slice4(Kel32u w) {
    const auto& s = T::kSlices;
    return s[3][w & 0xFF] ^ s[2][w >> 8 & 0xFF] ^ s[1][w >> 16 & 0xFF] ^ s[0][w >> 24];
}

// Eight bytes at p from register c. The register XORs into the first four bytes; each byte then needs one lookup
// in the slice that accounts for the bytes after it.
template <class T>
inline Kel32u n8_step8(Kel32u c, const Kel8u* p) {
    if constexpr (T::kDepth == 8) {
        const auto& s = T::kSlices;
        const Kel64u w = n8_load64(p) ^ c;
        const Kel32u lo = Kel32u(w), hi = Kel32u(w >> 32);
        return s[7][lo & 0xFF] ^ s[6][lo >> 8 & 0xFF] ^ s[5][lo >> 16 & 0xFF] ^ s[4][lo >> 24] ^ s[3][hi & 0xFF] ^
               s[2][hi >> 8 & 0xFF] ^ s[1][hi >> 16 & 0xFF] ^ s[0][hi >> 24];
    } else {
        c = n8_slice4<T>(n8_load32(p) ^ c);
        return n8_slice4<T>(n8_load32(p + 4) ^ c);
    }
}

// Register c advanced over the table's number of zero bytes: one lookup per register byte.
inline Kel32u n8_advance(const Kel32u (&table)[4][256], Kel32u c) {
    return table[0][c & 0xFF] ^ table[1][c >> 8 & 0xFF] ^ table[2][c >> 16 & 0xFF] ^ table[3][c >> 24];
}

// Consumes whole groups of four adjacent kLen-byte pieces. Stream 0 continues register c, streams 1 to 3 start
// from 0; by linearity the register after pieces P|Q is advance(register after P, |Q|) ^ (Q's register from 0).
template <class T, size_t kLen>
inline Kel32u n8_sliceStreams(Kel32u c, const Kel8u*& p, size_t& n, const Kel32u (&advance)[4][256]) {
    while (n >= 4 * kLen) {
        Kel32u s0 = c, s1 = 0, s2 = 0, s3 = 0;
        for (size_t o = 0; o < kLen; o += 8) {
            s0 = n8_step8<T>(s0, p + o);
            s1 = n8_step8<T>(s1, p + kLen + o);
            s2 = n8_step8<T>(s2, p + 2 * kLen + o);
            s3 = n8_step8<T>(s3, p + 3 * kLen + o);
        }
        c = n8_advance(advance, n8_advance(advance, n8_advance(advance, s0) ^ s1) ^ s2) ^ s3;
        p += 4 * kLen;
        n -= 4 * kLen;
    }
    return c;
}

// Register c updated over n bytes at p by table lookups alone.
template <class T>
Kel32u n8_sliceRegister(Kel32u c, const Kel8u* p, size_t n) {
    c = n8_sliceStreams<T, 256>(c, p, n, T::kAdvance256);
    c = n8_sliceStreams<T, 32>(c, p, n, T::kAdvance32);
    for (; n >= 8; n -= 8, p += 8) c = n8_step8<T>(c, p);
    for (; n > 0; --n, ++p) c = (c >> 8) ^ T::kSlices[0][(c ^ *p) & 0xFF];
    return c;
}

// Byte offset from the current ring slot to the slot holding Y of the position lag kLags[t] blocks back.
template <const auto& kLags>
constexpr size_t n8_tapOffset(size_t t) {
    return 16 * size_t(kLags[0] - kLags[t]);
}

// v XOR the Y values of the first kTaps lags, read at their fixed offsets from slot.
template <const auto& kLags, size_t kTaps>
inline Vec128 n8_xorTaps(Vec128 v, const Kel8u* slot) {
    if constexpr (kTaps == 0) {
        return v;
    } else {
        return _mm_xor_si128(n8_xorTaps<kLags, kTaps - 1>(v, slot), n8_loada(slot + n8_tapOffset<kLags>(kTaps - 1)));
    }
}

// Tail blocks k from kLags[kTaps] (0 when all lags are active) up to kLags[kTaps - 1], then the later ones with one
// tap fewer: tail block k takes Y of position (first tail position + k - g) for every lag g > k. Lags are
// descending, so the active lags are always the first ones.
template <const auto& kLags, size_t kTaps>
inline void n8_foldTail(const Kel8u* p, const Kel8u* window, Kel8u* out) {
    size_t k = 0;
    if constexpr (kTaps < sizeof(kLags) / sizeof(kLags[0])) k = size_t(kLags[kTaps]);
    for (; k < size_t(kLags[kTaps - 1]); ++k)
        n8_storea(out + 16 * k, n8_xorTaps<kLags, kTaps>(n8_loadu(p + 16 * k), window + 16 * k));
    if constexpr (kTaps > 1) n8_foldTail<kLags, kTaps - 1>(p, window, out);
}

// Shortens a message of n >= 16 D bytes (D = kLags[0]) that continues register c into one of 16 D + n % 16 bytes
// with the same CRC from register 0, written at pRing; returns its length. pRing: 16-byte aligned scratch of
// 16 (2 D + 1) bytes.
//
// The recurrence of the file comment runs over the first n / 16 - D blocks. Its Y values live in a ring of D
// 16-byte slots (position b in slot b mod D) followed by a mirror copy, so that while slot s is current, position
// b - g sits at the fixed offset D - g slots from s for every lag g: in the mirror for g <= s, in the ring for
// g > s. The ring starts zeroed, which supplies the zero Y of positions before the start (they map to slots not
// yet written), except slot 0 = position -D, which holds the incoming register: only block 0 reads it, through
// lag D (or tail block 0, when there are no blocks before the tail).
//
// When the recurrence stops at slot s, slots s to s + D - 1 (ring, then mirror) hold the Y of the last D positions
// in order, so tail block k reads its lags at the same fixed offsets from slot s + k, and the reads of every later
// tail block lie above slot s + k. Tail block k can therefore be stored in slot k: the shorter message builds up
// from slot 0, and the last n % 16 source bytes follow it in slot D.
template <const auto& kLags>
size_t n8_foldLevel(Kel32u c, const Kel8u* pSrc, size_t n, Kel8u* pRing) {
    constexpr size_t kLagCount = sizeof(kLags) / sizeof(kLags[0]);
    constexpr size_t kSpan = size_t(kLags[0]);
    for (size_t s = 0; s < kSpan; ++s) n8_storea(pRing + 16 * s, n8_zero128());
    n8_storea(pRing, _mm_cvtsi32_si128(static_cast<int>(c)));

    const Kel8u* p = pSrc;
    size_t blocksLeft = n / 16 - kSpan;
    size_t s = 0;  // the slot of the next position
    while (blocksLeft > 0) {
        const size_t run = blocksLeft < kSpan - s ? blocksLeft : kSpan - s;
        Kel8u* slot = pRing + 16 * s;
        for (const Kel8u* const pRunEnd = p + 16 * run; p != pRunEnd; p += 16, slot += 16) {
            const Vec128 v = n8_xorTaps<kLags, kLagCount>(n8_loadu(p), slot);
            n8_storea(slot, v);
            n8_storea(slot + 16 * kSpan, v);
        }
        s += run;
        if (s == kSpan) s = 0;
        blocksLeft -= run;
    }
    n8_foldTail<kLags, kLagCount>(p, pRing + 16 * s, pRing);
    for (size_t i = 0; i < n % 16; ++i) pRing[16 * kSpan + i] = p[16 * kSpan + i];
    return 16 * kSpan + n % 16;
}

// Register c updated over n bytes at pSrc. Long inputs go through the long relation, its result and medium inputs
// through the short one, and the rest to slicing; the short relation's ring follows the long one's result in one
// scratch area. A relation pays once the recurrence covers a fair share of its input next to the D blocks it
// leaves: measured, the short one from about 5/3 D blocks on, the long one (with the short one after it) from
// about 3 D blocks on.
template <class T>
Kel32u n8_crcRegister(Kel32u c, const Kel8u* pSrc, size_t n) {
    constexpr size_t kLongSpan = size_t(T::kLongLags[0]), kShortSpan = size_t(T::kShortLags[0]);
    static_assert(kLongSpan + 1 + 2 * kShortSpan + 1 <= 2 * kLongSpan + 1, "the short ring fits behind");
    if (n < 16 * kShortSpan * 5 / 3) return n8_sliceRegister<T>(c, pSrc, n);
    alignas(16) Kel8u work[16 * (2 * kLongSpan + 1)];
    Kel8u* pShortRing = work;
    if (n >= 16 * kLongSpan * 3) {
        n = n8_foldLevel<T::kLongLags>(c, pSrc, n, work);
        pSrc = work;
        c = 0;
        pShortRing = work + 16 * (kLongSpan + 1);
    }
    n = n8_foldLevel<T::kShortLags>(c, pSrc, n, pShortRing);
    return n8_sliceRegister<T>(0, pShortRing, n);
}

}  // namespace

Kel32u n8_ownsCRC32_8u(const Kel8u* pSrc, Kel32u srcLen, Kel32u crc) {
    return ~n8_crcRegister<Crc32Tables>(~crc, pSrc, srcLen);
}

Kel32u n8_ownsCRC32C_8u(const Kel8u* pSrc, Kel32u srcLen, Kel32u crc) {
    return n8_crcRegister<Crc32cTables>(crc, pSrc, srcLen);
}

Kel32u n8_ownsCRC32_BZ2_8u(const Kel8u* pSrc, Kel32u srcLen, Kel32u crc) {
    return ~__builtin_bswap32(n8_crcRegister<Bzip2CrcTables>(__builtin_bswap32(~crc), pSrc, srcLen));
}

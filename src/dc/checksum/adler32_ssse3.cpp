// src/dc/checksum/adler32_ssse3.cpp - Adler-32 over 32-byte blocks with byte multiply-add and sums of differences.
//
// Over a chunk of L bytes x[0..L-1] the halves become a + sum(x) and b + L a + sum((L - p) x[p]). With L a multiple
// of 32 and p = 32 j + i (block j, byte i), the weight L - p splits into 32 (blocks after block j) + (32 - i), so
//
//     b gains  L a  +  32 * (sum over blocks j of the bytes of all blocks before j)  +  sum (32 - i) x[32 j + i].
//
// Per block, psadbw yields the byte sum (its 16 bytes against zero), a running total of the byte sums before the
// block accumulates the middle term, and pmaddubsw with the weights 32..1 followed by pmaddwd against ones gives
// the last term in 32-bit lanes. The halves are reduced modulo 65521 after each chunk of at most 5536 bytes.
#include "dc/checksum/checksum_internal.h"
#include "primitives/simd.h"

namespace {

constexpr Kel32u kAdlerMod = 65521;

// The largest n with 255 n (n + 1) / 2 + (n + 1) (65521 - 1) < 2^32 is 5552: from halves below 65521, n bytes of
// 255 cannot overflow a 32-bit b. The vector chunk is the largest multiple of 32 within it; its partial sums
// (each a part of that bounded total) are combined in 64 bits all the same.
constexpr Kel32u kChunkLen = 5552 / 32 * 32;

inline Kel64u n8_sumLanes32(Vec128 v) {
    v = _mm_add_epi32(v, n8_swapHalves32(v));
    v = _mm_add_epi32(v, n8_swapPairs32(v));
    return static_cast<Kel32u>(n8_lane0_32(v));
}

}  // namespace

Kel32u n8_ownsAdler32_8u(const Kel8u* pSrc, Kel32u srcLen, Kel32u adler) {
    // Each half is below 65536 < 2 * 65521: one subtraction reduces it.
    Kel32u a = adler & 0xFFFF, b = adler >> 16;
    if (a >= kAdlerMod) a -= kAdlerMod;
    if (b >= kAdlerMod) b -= kAdlerMod;

    // Byte weights for pmaddubsw (unsigned data times signed weights): 32..17 for the first 16 bytes of a block,
    // 16..1 for the second. A pair sum is at most 255 * (32 + 31) = 16065, and the two products' sum, at most
    // 16065 + 255 * (16 + 15) = 23970, stays below the 16-bit saturation limit 32767.
    const Vec128 weightsHi = _mm_setr_epi8(32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17);
    const Vec128 weightsLo = _mm_setr_epi8(16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1);
    const Vec128 ones16 = _mm_set1_epi16(1);
    const Vec128 zero = n8_zero128();

    while (srcLen >= 32) {
        const Kel32u chunk = (srcLen < kChunkLen ? srcLen : kChunkLen) & ~Kel32u(31);
        // Lanes of byteSum and before hold at most 5536 * 255 and 173 * 173 / 2 times 32 * 255, far from 2^32.
        Vec128 byteSum = zero;   // sum of the bytes so far (psadbw fills the low 16 bits of each 64-bit lane)
        Vec128 before = zero;    // sum over blocks of the byte sum before the block
        Vec128 weighted = zero;  // sum of (32 - i) x[32 j + i]
        for (const Kel8u* const pEnd = pSrc + chunk; pSrc != pEnd; pSrc += 32) {
            const Vec128 d0 = n8_loadu(pSrc), d1 = n8_loadu(pSrc + 16);
            before = _mm_add_epi32(before, byteSum);
            byteSum = _mm_add_epi32(byteSum, _mm_add_epi32(_mm_sad_epu8(d0, zero), _mm_sad_epu8(d1, zero)));
            const Vec128 products = _mm_add_epi16(_mm_maddubs_epi16(d0, weightsHi), _mm_maddubs_epi16(d1, weightsLo));
            weighted = _mm_add_epi32(weighted, _mm_madd_epi16(products, ones16));
        }
        const Kel64u bWide = b + Kel64u(chunk) * a + 32 * n8_sumLanes32(before) + n8_sumLanes32(weighted);
        a = static_cast<Kel32u>((a + n8_sumLanes32(byteSum)) % kAdlerMod);
        b = static_cast<Kel32u>(bWide % kAdlerMod);
        srcLen -= chunk;
    }
    // At most 31 bytes from halves below 65521: a < 65521 + 31 * 255 and b stays far below 2^32.
    for (Kel32u i = 0; i < srcLen; ++i) {
        a += pSrc[i];
        b += a;
    }
    return a % kAdlerMod | (b % kAdlerMod) << 16;
}

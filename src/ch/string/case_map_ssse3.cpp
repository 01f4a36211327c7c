// src/ch/string/case_map_ssse3.cpp - Latin upper- and lower-case mapping, 16 bytes at a time.
//
// A letter range [lo, lo + 25] is tested with one signed compare: x + (128 - lo) (mod 256) maps the range onto
// 128..153, the signed bytes -128..-103, and no other value of x lands below -102. The case bit 0x20 is then
// flipped under that mask (clear for a..z gives A..Z, set for A..Z gives a..z). Each block is loaded before it is
// stored, so pSrc == pDst works; the last len % 16 bytes go through the scalar twin.
#include "ch/string/edit_internal.h"
#include "primitives/simd.h"

namespace {

template <Kel8u kLo>
void n8_flipCase(const Kel8u* pSrc, Kel8u* pDst, int len) {
    const Vec128 bias = n8_splat8(static_cast<Kel8u>(128 - kLo));
    const Vec128 limit = n8_splat8(static_cast<Kel8u>(-102));
    const Vec128 caseBit = n8_splat8(0x20);
    int i = 0;
    for (; i + 16 <= len; i += 16) {
        const Vec128 x = n8_loadu(pSrc + i);
        const Vec128 letter = _mm_cmpgt_epi8(limit, _mm_add_epi8(x, bias));
        n8_storeu(pDst + i, _mm_xor_si128(x, n8_and(letter, caseBit)));
    }
    for (; i < len; ++i) {
        const Kel8u x = pSrc[i];
        pDst[i] = static_cast<Kel8u>(x - kLo) < 26 ? static_cast<Kel8u>(x ^ 0x20) : x;
    }
}

}  // namespace

void n8_ownsUppercaseLatin_8u(const Kel8u* pSrc, Kel8u* pDst, int len) {
    n8_flipCase<'a'>(pSrc, pDst, len);
}
void n8_ownsLowercaseLatin_8u(const Kel8u* pSrc, Kel8u* pDst, int len) {
    n8_flipCase<'A'>(pSrc, pDst, len);
}

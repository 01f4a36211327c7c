// src/primitives/map32_ssse3.h - the loop shared by the element-wise 32-bit kernels (add, shift, threshold).
//
// n8_map32 applies op to every element of pSrc and writes the results to pDst; pSrc equals pDst (in place) or does
// not overlap it. Each element is read once, before its result is written, so in-place operation is exact. Scalar
// steps reach the first 16-byte boundary of pDst, 16-byte blocks (64 bytes per iteration while they last) follow
// with aligned stores, and scalar steps finish the tail. The 4-byte alignment of Kel32s keeps the scalar steps on
// element boundaries; every access lies inside both ranges.
#pragma once

#include "primitives/simd.h"

// Op provides Vec128 vec(Vec128) and Kel32s one(Kel32s), element-wise and identical in result.
template <class Op>
inline void n8_map32(const Kel32s* pSrc, Kel32s* pDst, size_t n, const Op& op) {
    size_t i = 0;
    for (; i < n && !n8_isAligned16(pDst + i); ++i) pDst[i] = op.one(pSrc[i]);
    for (; i + 16 <= n; i += 16) {
        const Vec128 a = n8_loadu(pSrc + i), b = n8_loadu(pSrc + i + 4);
        const Vec128 c = n8_loadu(pSrc + i + 8), d = n8_loadu(pSrc + i + 12);
        n8_storea(pDst + i, op.vec(a));
        n8_storea(pDst + i + 4, op.vec(b));
        n8_storea(pDst + i + 8, op.vec(c));
        n8_storea(pDst + i + 12, op.vec(d));
    }
    for (; i + 4 <= n; i += 4) n8_storea(pDst + i, op.vec(n8_loadu(pSrc + i)));
    for (; i < n; ++i) pDst[i] = op.one(pSrc[i]);
}

// src/ch/string/replace_byte_ssse3.cpp - n8_ownsReplaceC_8u: replace one byte value by another, 16 bytes at a time.
//
// The compare against the broadcast old value selects, per byte, the broadcast new value or the source byte. Each
// block is loaded before it is stored, so pSrc == pDst works; the last len % 16 bytes go byte by byte.
#include "ch/string/edit_internal.h"
#include "primitives/simd.h"

void n8_ownsReplaceC_8u(const Kel8u* pSrc, Kel8u* pDst, int len, Kel8u oldVal, Kel8u newVal) {
    const Vec128 vOld = n8_splat8(oldVal), vNew = n8_splat8(newVal);
    int i = 0;
    for (; i + 16 <= len; i += 16) {
        const Vec128 x = n8_loadu(pSrc + i);
        n8_storeu(pDst + i, n8_select(n8_cmpeq8(x, vOld), vNew, x));
    }
    for (; i < len; ++i) pDst[i] = pSrc[i] == oldVal ? newVal : pSrc[i];
}

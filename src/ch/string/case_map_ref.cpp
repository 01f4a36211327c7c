// src/ch/string/case_map_ref.cpp - Latin case mapping one byte at a time: the oracle of case_map_ssse3.cpp.
#include "ch/string/edit_internal.h"

void n8_ownsUppercaseLatin_8u_ref(const Kel8u* pSrc, Kel8u* pDst, int len) {
    for (int i = 0; i < len; ++i) pDst[i] = pSrc[i] >= 'a' && pSrc[i] <= 'z' ? Kel8u(pSrc[i] - 32) : pSrc[i];
}

void n8_ownsLowercaseLatin_8u_ref(const Kel8u* pSrc, Kel8u* pDst, int len) {
    for (int i = 0; i < len; ++i) pDst[i] = pSrc[i] >= 'A' && pSrc[i] <= 'Z' ? Kel8u(pSrc[i] + 32) : pSrc[i];
}

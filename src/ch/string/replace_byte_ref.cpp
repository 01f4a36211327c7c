// src/ch/string/replace_byte_ref.cpp - byte replacement one byte at a time: the oracle of replace_byte_ssse3.cpp.
#include "ch/string/edit_internal.h"

void n8_ownsReplaceC_8u_ref(const Kel8u* pSrc, Kel8u* pDst, int len, Kel8u oldVal, Kel8u newVal) {
    for (int i = 0; i < len; ++i) pDst[i] = pSrc[i] == oldVal ? newVal : pSrc[i];
}

// src/primitives/copy_ref.cpp - n8_ownsCopy_8u_ref: the byte copy one byte at a time, the oracle of the vector kernel.
#include "primitives/primitives_internal.h"

void n8_ownsCopy_8u_ref(const Kel8u* pSrc, Kel8u* pDst, int len) {
    for (int i = 0; i < len; ++i) pDst[i] = pSrc[i];
}

// src/primitives/move_ref.cpp - n8_ownsMove_8u_ref: the overlapping byte copy one byte at a time, ascending when the
// destination lies below the source and descending otherwise, so no byte is read after it has been overwritten.
#include "primitives/primitives_internal.h"

void n8_ownsMove_8u_ref(const Kel8u* pSrc, Kel8u* pDst, int len) {
    if (pDst < pSrc) {
        for (int i = 0; i < len; ++i) pDst[i] = pSrc[i];
    } else {
        for (int i = len - 1; i >= 0; --i) pDst[i] = pSrc[i];
    }
}

// src/primitives/minmax_ref.cpp - scalar twins of the extreme-value kernels: one pass, one element at a time.
#include "primitives/primitives_internal.h"

Kel32s n8_ownsMax_32s_ref(const Kel32s* pSrc, int len) {
    Kel32s best = pSrc[0];
    for (int i = 1; i < len; ++i) best = pSrc[i] > best ? pSrc[i] : best;
    return best;
}

void n8_ownsMinMax_32s_ref(const Kel32s* pSrc, int len, Kel32s* pMin, Kel32s* pMax) {
    Kel32s lo = pSrc[0], hi = pSrc[0];
    for (int i = 1; i < len; ++i) {
        lo = pSrc[i] < lo ? pSrc[i] : lo;
        hi = pSrc[i] > hi ? pSrc[i] : hi;
    }
    *pMin = lo;
    *pMax = hi;
}

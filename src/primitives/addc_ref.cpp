// src/primitives/addc_ref.cpp - n8_ownsAddC_32s_ref: the saturating add in 64-bit arithmetic, clamped.
#include <limits.h>

#include "primitives/primitives_internal.h"

void n8_ownsAddC_32s_ref(const Kel32s* pSrc, Kel32s value, Kel32s* pDst, int len) {
    for (int i = 0; i < len; ++i) {
        const int64_t s = static_cast<int64_t>(pSrc[i]) + value;
        pDst[i] = static_cast<Kel32s>(s > INT_MAX ? INT_MAX : s < INT_MIN ? INT_MIN : s);
    }
}

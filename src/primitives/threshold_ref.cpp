// src/primitives/threshold_ref.cpp - n8_ownsThreshold_GT_32s_I_ref: the clamp one element at a time.
#include "primitives/primitives_internal.h"

void n8_ownsThreshold_GT_32s_I_ref(Kel32s* pSrcDst, int len, Kel32s level) {
    for (int i = 0; i < len; ++i) {
        if (pSrcDst[i] > level) pSrcDst[i] = level;
    }
}

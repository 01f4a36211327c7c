// src/primitives/lshift_ref.cpp - n8_ownsLShiftC_32s_I_ref: the left shift one element at a time.
#include "primitives/primitives_internal.h"

void n8_ownsLShiftC_32s_I_ref(int shift, Kel32s* pSrcDst, int len) {
    for (int i = 0; i < len; ++i) {
        pSrcDst[i] = shift > 31 ? 0 : static_cast<Kel32s>(static_cast<Kel32u>(pSrcDst[i]) << shift);
    }
}

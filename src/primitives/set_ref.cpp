// src/primitives/set_ref.cpp - scalar twins of the fill kernels, one element at a time.
#include "primitives/primitives_internal.h"

void n8_ownsSet_8u_ref(Kel8u value, Kel8u* pDst, int len) {
    for (int i = 0; i < len; ++i) pDst[i] = value;
}

void n8_ownsZero_8u_ref(Kel8u* pDst, int len) {
    for (int i = 0; i < len; ++i) pDst[i] = 0;
}

void n8_ownsSet_32s_ref(Kel32s value, Kel32s* pDst, int len) {
    for (int i = 0; i < len; ++i) pDst[i] = value;
}

// src/primitives/copy.cpp - n8_kelsCopy_8u and n8_kelsMove_8u: the checked byte copy and move.
//
// Built into both libraries: the string functions of libkelchn8 use them as much as the codecs of libkeldcn8.
#include "primitives/primitives.h"

KelStatus n8_kelsCopy_8u(const Kel8u* pSrc, Kel8u* pDst, int len) {
    if (pSrc == nullptr || pDst == nullptr) return kelStatusNullPointer;
    if (len < 1) return kelStatusBadSize;
    n8_ownsCopy_8u(pSrc, pDst, len);
    return kelStatusOk;
}

KelStatus n8_kelsMove_8u(const Kel8u* pSrc, Kel8u* pDst, int len) {
    if (pSrc == nullptr || pDst == nullptr) return kelStatusNullPointer;
    if (len < 1) return kelStatusBadSize;
    n8_ownsMove_8u(pSrc, pDst, len);
    return kelStatusOk;
}

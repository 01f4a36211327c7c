// src/ch/string/compare.cpp - comparison, Latin-case-insensitive comparison and equality of byte strings.
//
// Argument checks (null pointers, then a negative length) and the calls into the kernels of compare_internal.h.
// Exact comparison and equality of strings up to a few hundred bytes run inline here; longer ones go to loops that
// store the result themselves, so that a single call reaches them.
#include "ch/string/compare_internal.h"
#include "core/ch_exports.h"

extern "C" KelStatus n8_kelsCompare_8u(const Kel8u* pSrc1, const Kel8u* pSrc2, int len, int* pResult) {
    if (pSrc1 == nullptr || pSrc2 == nullptr || pResult == nullptr) return kelStatusNullPointer;
    if (len < 0) return kelStatusBadLength;
    if (len > kCompareInlineMax) {
        n8_ownsCompareLong_8u(pSrc1, pSrc2, len, pResult);
        return kelStatusOk;
    }
    *pResult = n8_ownsCompare_8u(pSrc1, pSrc2, len);
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsCompareIgnoreCaseLatin_8u(const Kel8u* pSrc1, const Kel8u* pSrc2, int len, int* pResult) {
    if (pSrc1 == nullptr || pSrc2 == nullptr || pResult == nullptr) return kelStatusNullPointer;
    if (len < 0) return kelStatusBadLength;
    *pResult = n8_ownsCompareIgnoreCaseLatin_8u(pSrc1, pSrc2, len);
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsEqual_8u(const Kel8u* pSrc1, const Kel8u* pSrc2, int len, int* pResult) {
    if (pSrc1 == nullptr || pSrc2 == nullptr || pResult == nullptr) return kelStatusNullPointer;
    if (len < 0) return kelStatusBadLength;
    if (len > kCompareInlineMax) {
        n8_ownsEqualLong_8u(pSrc1, pSrc2, len, pResult);
        return kelStatusOk;
    }
    *pResult = n8_ownsEqual_8u(pSrc1, pSrc2, len);
    return kelStatusOk;
}

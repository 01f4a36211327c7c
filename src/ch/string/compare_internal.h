// src/ch/string/compare_internal.h - the comparison kernels and their scalar twins.
//
// Pointers are valid for len bytes and len >= 0 (the callers have checked). The kernels read each string only
// within [p, p + len) and stop examining bytes at the first difference.
#pragma once

#include "ch/string/compare_ssse3.h"
#include "kelbase.h"

// a[i] - b[i] at the first i where the bytes differ (-255 to 255); 0 when all len bytes are equal. Up to 256 bytes
// the vector kernel is inline (compare_ssse3.h), like n8_ownsEqual_8u: there a call would cost as much as the work.
inline int n8_ownsCompare_8u(const Kel8u* pA, const Kel8u* pB, int len) {
    if (len <= kCompareInlineMax) return n8_ownsCompareInline_8u(pA, pB, len);
    const int i = n8_ownsFirstDifferenceLong_8u(pA, pB, len);
    return i < 0 ? 0 : pA[i] - pB[i];
}
int n8_ownsCompare_8u_ref(const Kel8u* pA, const Kel8u* pB, int len);

// As n8_ownsCompare_8u after folding the capitals A to Z (65 to 90) to their small letters (+32); no other byte
// value is changed.
int n8_ownsCompareIgnoreCaseLatin_8u(const Kel8u* pA, const Kel8u* pB, int len);
int n8_ownsCompareIgnoreCaseLatin_8u_ref(const Kel8u* pA, const Kel8u* pB, int len);

// 1 when all len bytes are equal (also for len 0), else 0.
inline int n8_ownsEqual_8u(const Kel8u* pA, const Kel8u* pB, int len) {
    return len <= kCompareInlineMax ? n8_ownsEqualInline_8u(pA, pB, len)
                                    : n8_ownsFirstDifferenceLong_8u(pA, pB, len) < 0;
}
int n8_ownsEqual_8u_ref(const Kel8u* pA, const Kel8u* pB, int len);

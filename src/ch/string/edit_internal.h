// src/ch/string/edit_internal.h - the editing kernels, their scalar twins, and the byte copies the editors use.
//
// Pointers are valid for the lengths given and lengths are >= 0 (the callers have checked). The mapping kernels
// may run in place (pSrc == pDst) but not on ranges that overlap otherwise.
#pragma once

#include "kelbase.h"
#include "primitives/primitives.h"

// ---- Byte mapping ----------------------------------------------------------------------------------------------

// pDst[i] = pSrc[i] - 32 for the small letters a..z (97..122), else pSrc[i].
void n8_ownsUppercaseLatin_8u(const Kel8u* pSrc, Kel8u* pDst, int len);
void n8_ownsUppercaseLatin_8u_ref(const Kel8u* pSrc, Kel8u* pDst, int len);
// pDst[i] = pSrc[i] + 32 for the capitals A..Z (65..90), else pSrc[i].
void n8_ownsLowercaseLatin_8u(const Kel8u* pSrc, Kel8u* pDst, int len);
void n8_ownsLowercaseLatin_8u_ref(const Kel8u* pSrc, Kel8u* pDst, int len);
// pDst[i] = newVal where pSrc[i] == oldVal, else pSrc[i].
void n8_ownsReplaceC_8u(const Kel8u* pSrc, Kel8u* pDst, int len, Kel8u oldVal, Kel8u newVal);
void n8_ownsReplaceC_8u_ref(const Kel8u* pSrc, Kel8u* pDst, int len, Kel8u oldVal, Kel8u newVal);

// ---- Runs at the ends, for trimming ----------------------------------------------------------------------------

// Number of leading (Span) or trailing (SpanRev) bytes equal to val: 0 to len.
int n8_ownsSpanC_8u(const Kel8u* pSrc, int len, Kel8u val);
int n8_ownsSpanC_8u_ref(const Kel8u* pSrc, int len, Kel8u val);
int n8_ownsSpanRevC_8u(const Kel8u* pSrc, int len, Kel8u val);
int n8_ownsSpanRevC_8u_ref(const Kel8u* pSrc, int len, Kel8u val);
// Number of leading or trailing bytes that occur in pSet[0, setLen); 0 for an empty set.
int n8_ownsSpanCAny_8u(const Kel8u* pSrc, int len, const Kel8u* pSet, int setLen);
int n8_ownsSpanCAny_8u_ref(const Kel8u* pSrc, int len, const Kel8u* pSet, int setLen);
int n8_ownsSpanRevCAny_8u(const Kel8u* pSrc, int len, const Kel8u* pSet, int setLen);
int n8_ownsSpanRevCAny_8u_ref(const Kel8u* pSrc, int len, const Kel8u* pSet, int setLen);

// ---- Copies ----------------------------------------------------------------------------------------------------
// Every byte the editors move goes through these two, onto the library's copy and move primitives.

// Disjoint ranges.
inline void n8_copyBytes(const Kel8u* pSrc, Kel8u* pDst, int len) {
    n8_ownsCopy_8u(pSrc, pDst, len);
}
// Ranges that may overlap; the result is as if copied through a temporary.
inline void n8_moveBytes(const Kel8u* pSrc, Kel8u* pDst, int len) {
    n8_ownsMove_8u(pSrc, pDst, len);
}

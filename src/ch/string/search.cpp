// src/ch/string/search.cpp - the search family: pattern, byte and set search, forward and backward, on counted
// and on NUL-terminated strings.
//
// Each function checks its arguments (null pointers, then negative lengths) and hands the work to a kernel of
// search_internal.h. A missing or impossible match is the result -1 with status 0, never an error. The regular-
// expression matcher calls these implementations directly, so the result conventions here bind it too.
#include "ch/string/search_internal.h"
#include "core/ch_exports.h"

namespace {

// Length of a NUL-terminated string, counted byte by byte: a word-wise scan could read past the terminator into
// memory that is not the caller's. Strings longer than the int range are searched in their first INT_MAX bytes.
int n8_countToNul(const Kel8u* p) {
    int n = 0;
    while (n < 0x7FFFFFFF && p[n] != 0) ++n;
    return n;
}

}  // namespace

extern "C" KelStatus n8_kelsFind_8u(const Kel8u* pSrc, int srcLen, const Kel8u* pFind, int findLen, int* pIndex) {
    if (pSrc == nullptr || pFind == nullptr || pIndex == nullptr) return kelStatusNullPointer;
    if (srcLen < 0 || findLen < 0) return kelStatusBadLength;
    *pIndex = srcLen >= kFindLargeSource ? n8_ownsFind_8u_U8(pSrc, srcLen, pFind, findLen)
                                         : n8_ownsFind_8u(pSrc, srcLen, pFind, findLen);
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsFindRev_8u(const Kel8u* pSrc, int srcLen, const Kel8u* pFind, int findLen, int* pIndex) {
    if (pSrc == nullptr || pFind == nullptr || pIndex == nullptr) return kelStatusNullPointer;
    if (srcLen < 0 || findLen < 0) return kelStatusBadLength;
    *pIndex = n8_ownsFindRev_8u(pSrc, srcLen, pFind, findLen);
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsFind_Z_8u(const Kel8u* pSrcZ, const Kel8u* pFindZ, int* pIndex) {
    if (pSrcZ == nullptr || pFindZ == nullptr) return kelStatusNullPointer;
    return n8_kelsFind_8u(pSrcZ, n8_countToNul(pSrcZ), pFindZ, n8_countToNul(pFindZ), pIndex);
}

// The long-source loops called with the index store folded in, as tail calls: the short paths inline in the
// byte-search implementations then need no saved registers.
namespace {

[[gnu::noinline]] KelStatus n8_findCLong(const Kel8u* pSrc, int len, Kel8u valFind, int* pIndex) {
    *pIndex = n8_ownsFindCLong_8u(pSrc, len, valFind);
    return kelStatusOk;
}

[[gnu::noinline]] KelStatus n8_findRevCLong(const Kel8u* pSrc, int len, Kel8u valFind, int* pIndex) {
    *pIndex = n8_ownsFindRevCLong_8u(pSrc, len, valFind);
    return kelStatusOk;
}

}  // namespace

extern "C" KelStatus n8_kelsFindC_8u(const Kel8u* pSrc, int len, Kel8u valFind, int* pIndex) {
    if (pSrc == nullptr || pIndex == nullptr) return kelStatusNullPointer;
    if (len < 0) return kelStatusBadLength;
    if (len > 64) return n8_findCLong(pSrc, len, valFind, pIndex);
    *pIndex = n8_ownsFindC_8u(pSrc, len, valFind);
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsFindC_Z_8u(const Kel8u* pSrcZ, Kel8u valFind, int* pIndex) {
    if (pSrcZ == nullptr || pIndex == nullptr) return kelStatusNullPointer;
    const int len = n8_countToNul(pSrcZ);
    // The terminator itself is found only when it is what is sought.
    *pIndex = valFind == 0 ? len : n8_ownsFindC_8u(pSrcZ, len, valFind);
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsFindRevC_8u(const Kel8u* pSrc, int len, Kel8u valFind, int* pIndex) {
    if (pSrc == nullptr || pIndex == nullptr) return kelStatusNullPointer;
    if (len < 0) return kelStatusBadLength;
    if (len > 64) return n8_findRevCLong(pSrc, len, valFind, pIndex);
    *pIndex = n8_ownsFindRevC_8u(pSrc, len, valFind);
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsFindCAny_8u(const Kel8u* pSrc, int len, const Kel8u* pAnyOf, int lenAnyOf, int* pIndex) {
    if (pSrc == nullptr || pAnyOf == nullptr || pIndex == nullptr) return kelStatusNullPointer;
    if (len < 0 || lenAnyOf < 0) return kelStatusBadLength;
    *pIndex = n8_ownsFindCAny_8u(pSrc, len, pAnyOf, lenAnyOf);
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsFindRevCAny_8u(const Kel8u* pSrc, int len, const Kel8u* pAnyOf, int lenAnyOf, int* pIndex) {
    if (pSrc == nullptr || pAnyOf == nullptr || pIndex == nullptr) return kelStatusNullPointer;
    if (len < 0 || lenAnyOf < 0) return kelStatusBadLength;
    *pIndex = n8_ownsFindRevCAny_8u(pSrc, len, pAnyOf, lenAnyOf);
    return kelStatusOk;
}

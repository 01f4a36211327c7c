// src/primitives/primitives.cpp - the checked primitives of libkeldcn8: argument checks, then the kernels.
//
// Checks run in argument order, null pointers first, then lengths, then value ranges; nothing is written before
// they pass. Element arrays of 2 and 4 bytes reach the byte kernels through the piece helpers, since INT_MAX
// elements are more bytes than an int counts.
#include <limits.h>

#include "primitives/primitives_internal.h"

namespace {

size_t n8_bytes(int len, size_t elemSize) {
    return static_cast<size_t>(len) * elemSize;
}

// (x + value) / 2^scale rounded to nearest, ties to even, saturated; scale < 0 multiplies by 2^-scale. The sum
// lies in [-2^32, 2^32 - 2]: a scale of 34 or more rounds every sum to 0, and a multiplier of 2^31 or more
// saturates every non-zero sum, so both are clamped there, which keeps all shifts and products within 64 bits.
Kel32s n8_addScaled(Kel32s x, Kel32s value, int scale) {
    int64_t s = static_cast<int64_t>(x) + value;
    if (scale > 0) {
        const int sh = scale > 34 ? 34 : scale;
        const int64_t q = s >> sh;  // floor
        const int64_t r = s - q * (int64_t{1} << sh);
        const int64_t half = int64_t{1} << (sh - 1);
        s = q + ((r > half || (r == half && (q & 1) != 0)) ? 1 : 0);
    } else if (scale < 0) {
        const int sh = scale < -31 ? 31 : -scale;
        s *= int64_t{1} << sh;
    }
    return static_cast<Kel32s>(s > INT_MAX ? INT_MAX : s < INT_MIN ? INT_MIN : s);
}

}  // namespace

KelStatus n8_kelsCopy_32s(const Kel32s* pSrc, Kel32s* pDst, int len) {
    if (pSrc == nullptr || pDst == nullptr) return kelStatusNullPointer;
    if (len < 1) return kelStatusBadSize;
    n8_ownCopyPieces(reinterpret_cast<const Kel8u*>(pSrc), reinterpret_cast<Kel8u*>(pDst), n8_bytes(len, 4),
                     kPieceBytes);
    return kelStatusOk;
}

KelStatus n8_kelsCopy_32f(const Kel32f* pSrc, Kel32f* pDst, int len) {
    if (pSrc == nullptr || pDst == nullptr) return kelStatusNullPointer;
    if (len < 1) return kelStatusBadSize;
    n8_ownCopyPieces(reinterpret_cast<const Kel8u*>(pSrc), reinterpret_cast<Kel8u*>(pDst), n8_bytes(len, 4),
                     kPieceBytes);
    return kelStatusOk;
}

KelStatus n8_kelsMove_32s(const Kel32s* pSrc, Kel32s* pDst, int len) {
    if (pSrc == nullptr || pDst == nullptr) return kelStatusNullPointer;
    if (len < 1) return kelStatusBadSize;
    n8_ownMovePieces(reinterpret_cast<const Kel8u*>(pSrc), reinterpret_cast<Kel8u*>(pDst), n8_bytes(len, 4),
                     kPieceBytes);
    return kelStatusOk;
}

KelStatus n8_kelsSet_8u(Kel8u value, Kel8u* pDst, int len) {
    if (pDst == nullptr) return kelStatusNullPointer;
    if (len < 1) return kelStatusBadSize;
    n8_ownsSet_8u(value, pDst, len);
    return kelStatusOk;
}

KelStatus n8_kelsSet_32s(Kel32s value, Kel32s* pDst, int len) {
    if (pDst == nullptr) return kelStatusNullPointer;
    if (len < 1) return kelStatusBadSize;
    n8_ownsSet_32s(value, pDst, len);
    return kelStatusOk;
}

KelStatus n8_kelsZero_16s(Kel16s* pDst, int len) {
    if (pDst == nullptr) return kelStatusNullPointer;
    if (len < 1) return kelStatusBadSize;
    n8_ownZeroPieces(reinterpret_cast<Kel8u*>(pDst), n8_bytes(len, 2), kPieceBytes);
    return kelStatusOk;
}

KelStatus n8_kelsZero_16sc(Kel16sc* pDst, int len) {
    if (pDst == nullptr) return kelStatusNullPointer;
    if (len < 1) return kelStatusBadSize;
    n8_ownZeroPieces(reinterpret_cast<Kel8u*>(pDst), n8_bytes(len, 4), kPieceBytes);
    return kelStatusOk;
}

KelStatus n8_kelsZero_32s(Kel32s* pDst, int len) {
    if (pDst == nullptr) return kelStatusNullPointer;
    if (len < 1) return kelStatusBadSize;
    n8_ownZeroPieces(reinterpret_cast<Kel8u*>(pDst), n8_bytes(len, 4), kPieceBytes);
    return kelStatusOk;
}

KelStatus n8_kelsMax_32s(const Kel32s* pSrc, int len, Kel32s* pMax) {
    if (pSrc == nullptr || pMax == nullptr) return kelStatusNullPointer;
    if (len < 1) return kelStatusBadSize;
    *pMax = n8_ownsMax_32s(pSrc, len);
    return kelStatusOk;
}

KelStatus n8_kelsMinMax_32s(const Kel32s* pSrc, int len, Kel32s* pMin, Kel32s* pMax) {
    if (pSrc == nullptr || pMin == nullptr || pMax == nullptr) return kelStatusNullPointer;
    if (len < 1) return kelStatusBadSize;
    n8_ownsMinMax_32s(pSrc, len, pMin, pMax);
    return kelStatusOk;
}

KelStatus n8_kelsAddC_32s_Sfs(const Kel32s* pSrc, Kel32s value, Kel32s* pDst, int len, int scaleFactor) {
    if (pSrc == nullptr || pDst == nullptr) return kelStatusNullPointer;
    if (len < 1) return kelStatusBadSize;
    if (scaleFactor == 0) {
        n8_ownsAddC_32s(pSrc, value, pDst, len);
    } else {
        for (int i = 0; i < len; ++i) pDst[i] = n8_addScaled(pSrc[i], value, scaleFactor);
    }
    return kelStatusOk;
}

KelStatus n8_kelsLShiftC_32s_I(int shift, Kel32s* pSrcDst, int len) {
    if (pSrcDst == nullptr) return kelStatusNullPointer;
    if (len < 1) return kelStatusBadSize;
    if (shift < 0) return kelStatusBadArgument;
    n8_ownsLShiftC_32s_I(shift, pSrcDst, len);
    return kelStatusOk;
}

KelStatus n8_kelsThreshold_GT_32s_I(Kel32s* pSrcDst, int len, Kel32s level) {
    if (pSrcDst == nullptr) return kelStatusNullPointer;
    if (len < 1) return kelStatusBadSize;
    n8_ownsThreshold_GT_32s_I(pSrcDst, len, level);
    return kelStatusOk;
}

// src/primitives/primitives.h - the array primitives the codecs and string functions share inside the libraries.
//
// None of these is exported. The `n8_kels...` functions check their arguments as exported functions do (null
// pointer -8, length below 1 -6, then the rules noted at each) and write nothing when a check fails. The four
// `n8_owns..._8u` kernels check nothing: callers that have validated pointers and lengths themselves call them
// directly. libkelchn8 carries its own copy of the copy and move functions (n8_kelsCopy_8u, n8_kelsMove_8u,
// n8_ownsCopy_8u, n8_ownsMove_8u); everything else here lives in libkeldcn8 only.
#pragma once

#include "kelbase.h"

// ---- Unchecked kernels ------------------------------------------------------------------------------------------
// A length of 0 or below does nothing. Apart from that the pointers must be valid for len bytes.

// Copies len bytes; the ranges must not overlap.
void n8_ownsCopy_8u(const Kel8u* pSrc, Kel8u* pDst, int len);
// Copies len bytes; the ranges may overlap (the result is as if copied through a temporary).
void n8_ownsMove_8u(const Kel8u* pSrc, Kel8u* pDst, int len);
// Sets len bytes to value.
void n8_ownsSet_8u(Kel8u value, Kel8u* pDst, int len);
// Sets len bytes to 0.
void n8_ownsZero_8u(Kel8u* pDst, int len);

// ---- Copy, move, set and zero -----------------------------------------------------------------------------------
// Lengths count elements. Copy ranges must not overlap; move ranges may.

KelStatus n8_kelsCopy_8u(const Kel8u* pSrc, Kel8u* pDst, int len);
KelStatus n8_kelsCopy_32s(const Kel32s* pSrc, Kel32s* pDst, int len);
KelStatus n8_kelsCopy_32f(const Kel32f* pSrc, Kel32f* pDst, int len);
KelStatus n8_kelsMove_8u(const Kel8u* pSrc, Kel8u* pDst, int len);
KelStatus n8_kelsMove_32s(const Kel32s* pSrc, Kel32s* pDst, int len);
KelStatus n8_kelsSet_8u(Kel8u value, Kel8u* pDst, int len);
KelStatus n8_kelsSet_32s(Kel32s value, Kel32s* pDst, int len);
KelStatus n8_kelsZero_16s(Kel16s* pDst, int len);
KelStatus n8_kelsZero_16sc(Kel16sc* pDst, int len);
KelStatus n8_kelsZero_32s(Kel32s* pDst, int len);

// ---- Reductions -------------------------------------------------------------------------------------------------

// *pMax = the largest of len signed values.
KelStatus n8_kelsMax_32s(const Kel32s* pSrc, int len, Kel32s* pMax);
// *pMin, *pMax = the smallest and the largest of len signed values; any of the three pointers null gives -8.
KelStatus n8_kelsMinMax_32s(const Kel32s* pSrc, int len, Kel32s* pMin, Kel32s* pMax);

// ---- Element-wise arithmetic ------------------------------------------------------------------------------------

// pDst[i] = (pSrc[i] + value) / 2^scaleFactor, rounded to nearest (ties to even) and saturated to the signed 32-bit
// range; a negative scaleFactor multiplies by 2^-scaleFactor instead. pSrc may equal pDst. The codecs use scale 0
// only, where the result is the saturated sum.
KelStatus n8_kelsAddC_32s_Sfs(const Kel32s* pSrc, Kel32s value, Kel32s* pDst, int len, int scaleFactor);
// pSrcDst[i] <<= shift, dropping the bits shifted out; a shift above 31 leaves 0. A negative shift gives -5
// (kelStatusBadArgument), checked after the length.
KelStatus n8_kelsLShiftC_32s_I(int shift, Kel32s* pSrcDst, int len);
// pSrcDst[i] = min(pSrcDst[i], level), signed.
KelStatus n8_kelsThreshold_GT_32s_I(Kel32s* pSrcDst, int len, Kel32s level);

// ---- Bit strings ------------------------------------------------------------------------------------------------

// Copies len bits from bit srcBitOffset of pSrc to bit dstBitOffset of pDst. Bit k of a buffer is bit k % 8 of byte
// k / 8, counted from the least significant bit. Bits of pDst outside the written range keep their values; the
// ranges must not overlap. A negative offset or a length below 1 gives -6.
KelStatus n8_kelsCopyBE_1u(const Kel8u* pSrc, int srcBitOffset, Kel8u* pDst, int dstBitOffset, int len);

// ---- Sorting with an index --------------------------------------------------------------------------------------
// Sort len signed values in place and write to pDstIdx[j] the position that the value now at place j held before
// the sort. Equal values are placed by a fixed quicksort/selection-sort procedure (sort_index.cpp), which the Deflate
// code generator relies on: the permutation is part of the contract, not only the order.

KelStatus n8_kelsSortIndexAscend_32s_I(Kel32s* pSrcDst, int* pDstIdx, int len);
KelStatus n8_kelsSortIndexDescend_32s_I(Kel32s* pSrcDst, int* pDstIdx, int len);

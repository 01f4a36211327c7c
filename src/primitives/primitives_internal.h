// src/primitives/primitives_internal.h - the vector kernels of the primitives, their scalar twins, and the helpers
// that split byte counts too large for the int-length kernels.
//
// Every `_ssse3` kernel (declared without suffix) has a `_ref` twin with the same signature and the same result: the
// readable definition and the test oracle. Kernels check nothing; a length of 0 or below does nothing.
#pragma once

#include <stddef.h>

#include "primitives/primitives.h"

// Cache sizes, in bytes, of the processors the n8 variant is tuned for: first-level data cache, second-level
// cache, and the share of the last-level cache one core can count on. A copy, set or zero whose destination is
// larger than the last entry cannot stay cached anyway, so the kernels write it with non-temporal stores and
// leave the cache to the data around it.
constexpr size_t TableCacheSize[] = {32 * 1024, 1024 * 1024, 8 * 1024 * 1024};
constexpr size_t kNonTemporalThreshold = TableCacheSize[2];

// The largest piece the int-length byte kernels take when a 2- or 4-byte element count exceeds INT_MAX bytes:
// INT_MAX rounded down to a multiple of 32, so that pieces end on element boundaries and keep the 16-byte phase of
// the first piece.
constexpr size_t kPieceBytes = 0x7FFFFFE0;

// ---- Scalar twins of the four byte kernels of primitives.h ------------------------------------------------------
void n8_ownsCopy_8u_ref(const Kel8u* pSrc, Kel8u* pDst, int len);
void n8_ownsMove_8u_ref(const Kel8u* pSrc, Kel8u* pDst, int len);
void n8_ownsSet_8u_ref(Kel8u value, Kel8u* pDst, int len);
void n8_ownsZero_8u_ref(Kel8u* pDst, int len);

// ---- 32-bit kernels ---------------------------------------------------------------------------------------------
// pDst and pSrc point at 4-byte elements; they need not be 16-byte aligned (the kernels align the destination).

// Every element = value.
void n8_ownsSet_32s(Kel32s value, Kel32s* pDst, int len);
void n8_ownsSet_32s_ref(Kel32s value, Kel32s* pDst, int len);

// Largest value; len >= 1.
Kel32s n8_ownsMax_32s(const Kel32s* pSrc, int len);
Kel32s n8_ownsMax_32s_ref(const Kel32s* pSrc, int len);

// Smallest and largest value; len >= 1.
void n8_ownsMinMax_32s(const Kel32s* pSrc, int len, Kel32s* pMin, Kel32s* pMax);
void n8_ownsMinMax_32s_ref(const Kel32s* pSrc, int len, Kel32s* pMin, Kel32s* pMax);

// pDst[i] = pSrc[i] + value saturated to [INT_MIN, INT_MAX]; pSrc equals pDst or does not overlap it.
void n8_ownsAddC_32s(const Kel32s* pSrc, Kel32s value, Kel32s* pDst, int len);
void n8_ownsAddC_32s_ref(const Kel32s* pSrc, Kel32s value, Kel32s* pDst, int len);

// pSrcDst[i] <<= shift for 0 <= shift <= 31 (bits shifted out are lost); shift above 31 leaves 0; shift < 0 is
// the caller's error and not handled.
void n8_ownsLShiftC_32s_I(int shift, Kel32s* pSrcDst, int len);
void n8_ownsLShiftC_32s_I_ref(int shift, Kel32s* pSrcDst, int len);

// pSrcDst[i] = min(pSrcDst[i], level).
void n8_ownsThreshold_GT_32s_I(Kel32s* pSrcDst, int len, Kel32s level);
void n8_ownsThreshold_GT_32s_I_ref(Kel32s* pSrcDst, int len, Kel32s level);

// ---- Byte counts beyond INT_MAX ---------------------------------------------------------------------------------
// Run the byte kernels over nBytes in pieces of at most pieceBytes (kPieceBytes in the library; tests pass small
// pieces to exercise the splitting). n8_ownMovePieces orders the pieces so that an overlapping move is still exact:
// from the end when the destination lies above the source, from the start otherwise.
void n8_ownCopyPieces(const Kel8u* pSrc, Kel8u* pDst, size_t nBytes, size_t pieceBytes);
void n8_ownMovePieces(const Kel8u* pSrc, Kel8u* pDst, size_t nBytes, size_t pieceBytes);
void n8_ownZeroPieces(Kel8u* pDst, size_t nBytes, size_t pieceBytes);

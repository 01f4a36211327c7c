// src/ch/string/search_internal.h - the search kernels and their scalar twins.
//
// Every kernel returns the extreme position of its hit (lowest for the forward kernels, highest for the reverse
// ones) or -1. Callers have checked the arguments: pointers are valid for the lengths given and the lengths are not
// negative. No kernel reads a byte outside [pSrc, pSrc + srcLen) or the pattern or set it is given, and none needs
// any alignment. The `_ref` twins are plain loops with the same results: the definitions the tests check against.
#pragma once

#include "ch/string/find_byte_ssse3.h"
#include "kelbase.h"

// Sources of at least this many bytes go to the large-source pattern kernel n8_ownsFind_8u_U8.
constexpr int kFindLargeSource = 144;

// ---- Pattern search --------------------------------------------------------------------------------------------
// The lowest (Find) or highest (FindRev) p with pSrc[p, p + patLen) equal to pPat[0, patLen); -1 when patLen is 0,
// when patLen exceeds srcLen, or when there is none.

// Small-source kernel: a scalar 32-bit prefilter on the first four pattern bytes, eight candidates per step.
int n8_ownsFind_8u(const Kel8u* pSrc, int srcLen, const Kel8u* pPat, int patLen);
// Large-source kernel: a vector filter on two pattern bytes, 32 candidates per step.
int n8_ownsFind_8u_U8(const Kel8u* pSrc, int srcLen, const Kel8u* pPat, int patLen);
int n8_ownsFind_8u_U8_ref(const Kel8u* pSrc, int srcLen, const Kel8u* pPat, int patLen);
int n8_ownsFindRev_8u(const Kel8u* pSrc, int srcLen, const Kel8u* pPat, int patLen);
int n8_ownsFindRev_8u_ref(const Kel8u* pSrc, int srcLen, const Kel8u* pPat, int patLen);

// ---- Byte search -----------------------------------------------------------------------------------------------
// The lowest (FindC) or highest (FindRevC) position holding val; -1 for none. The vector kernels
// n8_ownsFindC_8u and n8_ownsFindRevC_8u are inline (find_byte_ssse3.h): on short sources the call would cost
// as much as the search.
int n8_ownsFindC_8u_ref(const Kel8u* pSrc, int srcLen, Kel8u val);
int n8_ownsFindRevC_8u_ref(const Kel8u* pSrc, int srcLen, Kel8u val);

// ---- Set search ------------------------------------------------------------------------------------------------
// The lowest (FindCAny) or highest (FindRevCAny) position whose byte occurs in pSet[0, setLen); -1 for none, and
// always -1 for an empty set. Repeated set bytes change nothing.
int n8_ownsFindCAny_8u(const Kel8u* pSrc, int srcLen, const Kel8u* pSet, int setLen);
int n8_ownsFindCAny_8u_ref(const Kel8u* pSrc, int srcLen, const Kel8u* pSet, int setLen);
int n8_ownsFindRevCAny_8u(const Kel8u* pSrc, int srcLen, const Kel8u* pSet, int setLen);
int n8_ownsFindRevCAny_8u_ref(const Kel8u* pSrc, int srcLen, const Kel8u* pSet, int setLen);

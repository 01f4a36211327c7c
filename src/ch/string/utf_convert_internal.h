// src/ch/string/utf_convert_internal.h - the UTF-8/UTF-16 conversion kernels and their scalar twins.
//
// Same contract as the exported converters without the checks: the pointers are valid, *pSrcLen and *pDstLen hold
// the source count and destination capacity (bytes on the UTF-8 side, 16-bit units on the UTF-16 side) and receive
// the amounts consumed and written. A nonzero bigEndian byte-swaps every UTF-16 unit written (8u16u) or read
// (16u8u). Nothing is read outside the given source or written outside the given capacity, and a character is
// either written whole or left unconsumed.
#pragma once

#include "kelbase.h"

void n8_ownsConvertUTF_8u16u(const Kel8u* pSrc, Kel32u* pSrcLen, Kel16u* pDst, Kel32u* pDstLen, int bigEndian);
void n8_ownsConvertUTF_8u16u_ref(const Kel8u* pSrc, Kel32u* pSrcLen, Kel16u* pDst, Kel32u* pDstLen, int bigEndian);
void n8_ownsConvertUTF_16u8u(const Kel16u* pSrc, Kel32u* pSrcLen, Kel8u* pDst, Kel32u* pDstLen, int bigEndian);
void n8_ownsConvertUTF_16u8u_ref(const Kel16u* pSrc, Kel32u* pSrcLen, Kel8u* pDst, Kel32u* pDstLen, int bigEndian);

// src/ch/string/utf_convert.cpp - the tolerant UTF-8/UTF-16 converters: argument checks and the kernel calls.
//
// Neither converter fails on its input: malformed UTF-8 is read byte by byte as Latin-1, lone surrogates pass
// through, and a call that runs out of source or room stops between characters and reports how much of each it
// used. The only error is a null pointer.
#include "ch/string/utf_convert_internal.h"
#include "core/ch_exports.h"

extern "C" KelStatus n8_kelsConvertUTF_8u16u(const Kel8u* pSrc, Kel32u* pSrcLen, Kel16u* pDst, Kel32u* pDstLen,
                                             int bigEndian) {
    if (pSrc == nullptr || pSrcLen == nullptr || pDst == nullptr || pDstLen == nullptr) return kelStatusNullPointer;
    n8_ownsConvertUTF_8u16u(pSrc, pSrcLen, pDst, pDstLen, bigEndian);
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsConvertUTF_16u8u(const Kel16u* pSrc, Kel32u* pSrcLen, Kel8u* pDst, Kel32u* pDstLen,
                                             int bigEndian) {
    if (pSrc == nullptr || pSrcLen == nullptr || pDst == nullptr || pDstLen == nullptr) return kelStatusNullPointer;
    n8_ownsConvertUTF_16u8u(pSrc, pSrcLen, pDst, pDstLen, bigEndian);
    return kelStatusOk;
}

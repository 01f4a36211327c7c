// src/dc/lzss/lzss.cpp - the size of the LZSS state block, shared by the encoder and the decoder.
#include "core/dc_exports.h"
#include "dc/lzss/lzss_internal.h"

extern "C" KelStatus n8_kelsLZSSGetSize_8u(int* pLZSSStateSize) {
    if (pLZSSStateSize == nullptr) return kelStatusNullPointer;
    *pLZSSStateSize = kLzssStateSize;
    return kelStatusOk;
}

// src/ch/string/find_byte_ref.cpp - byte search one byte at a time: the oracle of find_byte_ssse3.cpp.
#include "ch/string/search_internal.h"

int n8_ownsFindC_8u_ref(const Kel8u* pSrc, int srcLen, Kel8u val) {
    for (int i = 0; i < srcLen; ++i) {
        if (pSrc[i] == val) return i;
    }
    return -1;
}

int n8_ownsFindRevC_8u_ref(const Kel8u* pSrc, int srcLen, Kel8u val) {
    for (int i = srcLen - 1; i >= 0; --i) {
        if (pSrc[i] == val) return i;
    }
    return -1;
}

// src/ch/string/find_set_ref.cpp - set search as a double loop: the oracle of find_set_ssse3.cpp.
#include "ch/string/search_internal.h"

namespace {

bool n8_inSet(Kel8u b, const Kel8u* pSet, int setLen) {
    for (int k = 0; k < setLen; ++k) {
        if (pSet[k] == b) return true;
    }
    return false;
}

}  // namespace

int n8_ownsFindCAny_8u_ref(const Kel8u* pSrc, int srcLen, const Kel8u* pSet, int setLen) {
    for (int i = 0; i < srcLen; ++i) {
        if (n8_inSet(pSrc[i], pSet, setLen)) return i;
    }
    return -1;
}

int n8_ownsFindRevCAny_8u_ref(const Kel8u* pSrc, int srcLen, const Kel8u* pSet, int setLen) {
    for (int i = srcLen - 1; i >= 0; --i) {
        if (n8_inSet(pSrc[i], pSet, setLen)) return i;
    }
    return -1;
}

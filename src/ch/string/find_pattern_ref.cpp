// src/ch/string/find_pattern_ref.cpp - pattern search by direct comparison at every candidate: the oracle of the
// pattern kernels in find_small.cpp and find_pattern_ssse3.cpp.
#include "ch/string/search_internal.h"

namespace {

bool n8_matchesAt(const Kel8u* pSrc, const Kel8u* pPat, int patLen) {
    for (int k = 0; k < patLen; ++k) {
        if (pSrc[k] != pPat[k]) return false;
    }
    return true;
}

}  // namespace

int n8_ownsFind_8u_U8_ref(const Kel8u* pSrc, int srcLen, const Kel8u* pPat, int patLen) {
    if (patLen == 0 || patLen > srcLen) return -1;
    for (int p = 0; p <= srcLen - patLen; ++p) {
        if (n8_matchesAt(pSrc + p, pPat, patLen)) return p;
    }
    return -1;
}

int n8_ownsFindRev_8u_ref(const Kel8u* pSrc, int srcLen, const Kel8u* pPat, int patLen) {
    if (patLen == 0 || patLen > srcLen) return -1;
    for (int p = srcLen - patLen; p >= 0; --p) {
        if (n8_matchesAt(pSrc + p, pPat, patLen)) return p;
    }
    return -1;
}

// src/ch/string/trim_span_ref.cpp - the runs that trimming removes, one byte at a time: the oracle of
// trim_span_ssse3.cpp.
#include "ch/string/edit_internal.h"

namespace {

bool n8_inSet(Kel8u b, const Kel8u* pSet, int setLen) {
    for (int k = 0; k < setLen; ++k) {
        if (pSet[k] == b) return true;
    }
    return false;
}

}  // namespace

int n8_ownsSpanC_8u_ref(const Kel8u* pSrc, int len, Kel8u val) {
    int n = 0;
    while (n < len && pSrc[n] == val) ++n;
    return n;
}

int n8_ownsSpanRevC_8u_ref(const Kel8u* pSrc, int len, Kel8u val) {
    int n = 0;
    while (n < len && pSrc[len - 1 - n] == val) ++n;
    return n;
}

int n8_ownsSpanCAny_8u_ref(const Kel8u* pSrc, int len, const Kel8u* pSet, int setLen) {
    int n = 0;
    while (n < len && n8_inSet(pSrc[n], pSet, setLen)) ++n;
    return n;
}

int n8_ownsSpanRevCAny_8u_ref(const Kel8u* pSrc, int len, const Kel8u* pSet, int setLen) {
    int n = 0;
    while (n < len && n8_inSet(pSrc[len - 1 - n], pSet, setLen)) ++n;
    return n;
}

// src/ch/string/compare_ref.cpp - comparison one byte at a time: the oracle of compare_ssse3.cpp.
#include "ch/string/compare_internal.h"

namespace {

inline int n8_foldLatin(int x) {
    return x >= 'A' && x <= 'Z' ? x + 32 : x;
}

}  // namespace

int n8_ownsCompare_8u_ref(const Kel8u* pA, const Kel8u* pB, int len) {
    for (int i = 0; i < len; ++i) {
        if (pA[i] != pB[i]) return pA[i] - pB[i];
    }
    return 0;
}

int n8_ownsCompareIgnoreCaseLatin_8u_ref(const Kel8u* pA, const Kel8u* pB, int len) {
    for (int i = 0; i < len; ++i) {
        const int a = n8_foldLatin(pA[i]), b = n8_foldLatin(pB[i]);
        if (a != b) return a - b;
    }
    return 0;
}

int n8_ownsEqual_8u_ref(const Kel8u* pA, const Kel8u* pB, int len) {
    for (int i = 0; i < len; ++i) {
        if (pA[i] != pB[i]) return 0;
    }
    return 1;
}

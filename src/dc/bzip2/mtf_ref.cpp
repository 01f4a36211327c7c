// src/dc/bzip2/mtf_ref.cpp - scalar move-to-front kernels: the definition the vector kernels are tested against.
#include "dc/bzip2/bzip2_internal.h"

namespace {

// Moves pList[pos] to the front, shifting pList[0, pos) up by one place.
inline void n8_moveToFront(Kel8u* pList, int pos) {
    const Kel8u v = pList[pos];
    for (int k = pos; k > 0; --k) pList[k] = pList[k - 1];
    pList[0] = v;
}

}  // namespace

void n8_ownsMTFFwd_8u_ref(const Kel8u* pSrc, Kel8u* pDst, int len, Kel8u* pList) {
    for (int i = 0; i < len; ++i) {
        const Kel8u v = pSrc[i];
        int pos = 0;
        while (pList[pos] != v) ++pos;  // the list is a permutation: v is found below 256
        pDst[i] = static_cast<Kel8u>(pos);
        n8_moveToFront(pList, pos);
    }
}

void n8_ownsMTFInv_8u_ref(const Kel8u* pSrc, Kel8u* pDst, int len, Kel8u* pList) {
    for (int i = 0; i < len; ++i) {
        const int pos = pSrc[i];
        n8_moveToFront(pList, pos);
        pDst[i] = pList[0];
    }
}

int n8_ownsBZ2UnMTF_16u8u_ref(const Kel16u* pSym, int symCount, Kel8u* pOut, int cap, Kel8u* pList, int dictSize,
                              Kel32u* pCount) {
    int len = 0;
    Kel32u run = 0;  // zeros of the pending run
    int place = 0;   // its digits so far
    for (int i = 0; i <= symCount; ++i) {
        const int s = i < symCount ? pSym[i] : -1;
        if (s == kBz2RunA || s == kBz2RunB) {
            if (place >= 24) return -1;  // 2^24 - 1 zeros already: more than any capacity
            run += static_cast<Kel32u>(s + 1) << place;
            ++place;
            if (run > static_cast<Kel32u>(cap - len)) return -1;
            continue;
        }
        if (run > 0) {
            const Kel8u v = pList[0];
            for (Kel32u r = 0; r < run; ++r) pOut[len + static_cast<int>(r)] = v;
            pCount[v] += run;
            len += static_cast<int>(run);
            run = 0;
            place = 0;
        }
        if (s < 0) break;
        const int pos = s - 1;
        if (pos >= dictSize || len >= cap) return -1;
        n8_moveToFront(pList, pos);
        const Kel8u v = pList[0];
        pOut[len++] = v;
        ++pCount[v];
    }
    return len;
}

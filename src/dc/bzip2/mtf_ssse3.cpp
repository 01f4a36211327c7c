// src/dc/bzip2/mtf_ssse3.cpp - move-to-front kernels on a list held as sixteen 16-byte vectors.
//
// Moving position pos to the front shifts bytes [0, pos) up by one. Each 16-byte chunk above the first takes its
// low byte from the chunk below (palignr by 15), the first chunk shifts in the moved value, and the chunk holding
// pos keeps its bytes above pos through a byte mask. Move-to-front outputs are small on transformed data, so most
// steps touch one or two chunks, and positions 0 and 1 (together about two thirds of them) skip the general step:
// the two front entries are kept in scalars, position 0 changes nothing and position 1 swaps them. The forward
// search compares a whole chunk with the value per step.
#include <tmmintrin.h>

#include "dc/bzip2/bzip2_internal.h"
#include "primitives/simd.h"

namespace {

struct alignas(16) MtfList {
    Vec128 chunk[16];
};

inline void n8_moveToFront(MtfList& list, unsigned pos, Kel8u v) {
    const Vec128 lane = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    // Bytes of the chunk holding pos that lie above it keep their value.
    const Vec128 keep = _mm_cmpgt_epi8(lane, n8_splat8(static_cast<Kel8u>(pos & 15)));
    const unsigned c = pos >> 4;
    Vec128 hi = list.chunk[c];
    if (c == 0) {
        const Vec128 shifted = n8_or(_mm_slli_si128(hi, 1), _mm_cvtsi32_si128(v));
        list.chunk[0] = n8_select(keep, hi, shifted);
        return;
    }
    Vec128 lo = list.chunk[c - 1];
    list.chunk[c] = n8_select(keep, hi, _mm_alignr_epi8(hi, lo, 15));
    for (unsigned k = c - 1; k > 0; --k) {
        hi = lo;
        lo = list.chunk[k - 1];
        list.chunk[k] = _mm_alignr_epi8(hi, lo, 15);
    }
    list.chunk[0] = n8_or(_mm_slli_si128(lo, 1), _mm_cvtsi32_si128(v));
}

void n8_loadList(MtfList& list, const Kel8u* pList) {
    for (int k = 0; k < 16; ++k) list.chunk[k] = n8_loadu(pList + 16 * k);
}

void n8_storeList(const MtfList& list, Kel8u* pList) {
    for (int k = 0; k < 16; ++k) n8_storeu(pList + 16 * k, list.chunk[k]);
}

}  // namespace

void n8_ownsMTFFwd_8u(const Kel8u* pSrc, Kel8u* pDst, int len, Kel8u* pList) {
    MtfList list;
    n8_loadList(list, pList);
    // The two front entries are mirrored in scalars: after any move the second entry is the previous front.
    Kel8u front = pList[0], second = pList[1];
    const Vec128 swapFront = _mm_setr_epi8(1, 0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    for (int i = 0; i < len; ++i) {
        const Kel8u v = pSrc[i];
        // Transformed data repeats its last byte about half the time: position 0, and the list stays as it is.
        if (v == front) {
            pDst[i] = 0;
            continue;
        }
        if (v == second) {
            pDst[i] = 1;
            list.chunk[0] = n8_shuffle8(list.chunk[0], swapFront);
            second = front;
            front = v;
            continue;
        }
        second = front;
        front = v;
        const Vec128 want = n8_splat8(v);
        unsigned pos = 0;
        for (unsigned c = 0; c < 16; ++c) {
            const int m = n8_movemask8(n8_cmpeq8(list.chunk[c], want));
            if (m != 0) {
                pos = 16 * c + static_cast<unsigned>(__builtin_ctz(static_cast<unsigned>(m)));
                break;
            }
        }
        pDst[i] = static_cast<Kel8u>(pos);
        n8_moveToFront(list, pos, v);
    }
    n8_storeList(list, pList);
}

void n8_ownsMTFInv_8u(const Kel8u* pSrc, Kel8u* pDst, int len, Kel8u* pList) {
    MtfList list;
    n8_loadList(list, pList);
    const Kel8u* bytes = reinterpret_cast<const Kel8u*>(list.chunk);
    for (int i = 0; i < len; ++i) {
        const unsigned pos = pSrc[i];
        const Kel8u v = bytes[pos];
        pDst[i] = v;
        n8_moveToFront(list, pos, v);
    }
    n8_storeList(list, pList);
}

int n8_ownsBZ2UnMTF_16u8u(const Kel16u* pSym, int symCount, Kel8u* pOut, int cap, Kel8u* pList, int dictSize,
                          Kel32u* pCount) {
    MtfList list;
    n8_loadList(list, pList);
    const Kel8u* const bytes = reinterpret_cast<const Kel8u*>(list.chunk);
    const Vec128 swapFront = _mm_setr_epi8(1, 0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    Kel8u front = pList[0], second = pList[1];  // mirrors of the two front entries, as in the forward kernel
    int len = 0;
    Kel32u run = 0;
    int place = 0;
    int result = -1;
    for (int i = 0;; ++i) {
        const int s = i < symCount ? pSym[i] : -1;
        if (s == kBz2RunA || s == kBz2RunB) {
            if (place >= 24) goto done;
            run += static_cast<Kel32u>(s + 1) << place;
            ++place;
            if (run > static_cast<Kel32u>(cap - len)) goto done;
            continue;
        }
        if (run > 0) {
            // Runs are long on repetitive data: whole 16-byte stores, then the tail.
            const Kel8u v = front;
            Kel8u* p = pOut + len;
            Kel32u r = run;
            const Vec128 fill = n8_splat8(v);
            for (; r >= 16; r -= 16, p += 16) n8_storeu(p, fill);
            for (; r > 0; --r) *p++ = v;
            pCount[v] += run;
            len += static_cast<int>(run);
            run = 0;
            place = 0;
        }
        if (s < 0) break;
        const unsigned pos = static_cast<unsigned>(s - 1);
        if (pos >= static_cast<unsigned>(dictSize) || len >= cap) goto done;
        Kel8u v;
        if (pos == 1) {
            v = second;
            list.chunk[0] = n8_shuffle8(list.chunk[0], swapFront);
        } else {
            v = bytes[pos];
            n8_moveToFront(list, pos, v);
        }
        second = front;
        front = v;
        pOut[len++] = v;
        ++pCount[v];
    }
    result = len;
done:
    n8_storeList(list, pList);
    return result;
}

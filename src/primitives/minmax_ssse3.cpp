// src/primitives/minmax_ssse3.cpp - n8_ownsMax_32s, n8_ownsMinMax_32s: the extremes of a signed 32-bit array.
//
// Four independent accumulators take 16 elements per iteration, so consecutive compares do not wait on each other;
// they are combined lane-wise, then across lanes with two swaps, and scalar steps take the last 0 to 15 elements.
// The source is only read, so no alignment step is needed. SSSE3 has no 32-bit min or max: each is a compare and
// a select (simd.h).
#include "primitives/primitives_internal.h"
#include "primitives/simd.h"

namespace {

Kel32s n8_reduceMax(Vec128 v) {
    v = n8_max32(v, n8_swapHalves32(v));
    return n8_lane0_32(n8_max32(v, n8_swapPairs32(v)));
}

Kel32s n8_reduceMin(Vec128 v) {
    v = n8_min32(v, n8_swapHalves32(v));
    return n8_lane0_32(n8_min32(v, n8_swapPairs32(v)));
}

}  // namespace

Kel32s n8_ownsMax_32s(const Kel32s* pSrc, int len) {
    const size_t n = static_cast<size_t>(len);
    size_t i = 0;
    Kel32s best = pSrc[0];
    if (n >= 16) {
        Vec128 m0 = n8_loadu(pSrc), m1 = n8_loadu(pSrc + 4), m2 = n8_loadu(pSrc + 8), m3 = n8_loadu(pSrc + 12);
        for (i = 16; i + 16 <= n; i += 16) {
            m0 = n8_max32(m0, n8_loadu(pSrc + i));
            m1 = n8_max32(m1, n8_loadu(pSrc + i + 4));
            m2 = n8_max32(m2, n8_loadu(pSrc + i + 8));
            m3 = n8_max32(m3, n8_loadu(pSrc + i + 12));
        }
        best = n8_reduceMax(n8_max32(n8_max32(m0, m1), n8_max32(m2, m3)));
    }
    for (; i < n; ++i) best = pSrc[i] > best ? pSrc[i] : best;
    return best;
}

void n8_ownsMinMax_32s(const Kel32s* pSrc, int len, Kel32s* pMin, Kel32s* pMax) {
    const size_t n = static_cast<size_t>(len);
    size_t i = 0;
    Kel32s lo = pSrc[0], hi = pSrc[0];
    if (n >= 16) {
        const Vec128 a = n8_loadu(pSrc), b = n8_loadu(pSrc + 4), c = n8_loadu(pSrc + 8), d = n8_loadu(pSrc + 12);
        Vec128 lo0 = a, lo1 = b, lo2 = c, lo3 = d, hi0 = a, hi1 = b, hi2 = c, hi3 = d;
        for (i = 16; i + 16 <= n; i += 16) {
            const Vec128 x0 = n8_loadu(pSrc + i), x1 = n8_loadu(pSrc + i + 4);
            const Vec128 x2 = n8_loadu(pSrc + i + 8), x3 = n8_loadu(pSrc + i + 12);
            lo0 = n8_min32(lo0, x0);
            lo1 = n8_min32(lo1, x1);
            lo2 = n8_min32(lo2, x2);
            lo3 = n8_min32(lo3, x3);
            hi0 = n8_max32(hi0, x0);
            hi1 = n8_max32(hi1, x1);
            hi2 = n8_max32(hi2, x2);
            hi3 = n8_max32(hi3, x3);
        }
        lo = n8_reduceMin(n8_min32(n8_min32(lo0, lo1), n8_min32(lo2, lo3)));
        hi = n8_reduceMax(n8_max32(n8_max32(hi0, hi1), n8_max32(hi2, hi3)));
    }
    for (; i < n; ++i) {
        lo = pSrc[i] < lo ? pSrc[i] : lo;
        hi = pSrc[i] > hi ? pSrc[i] : hi;
    }
    *pMin = lo;
    *pMax = hi;
}

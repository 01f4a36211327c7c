// src/primitives/copy_ssse3.cpp - n8_ownsCopy_8u: byte copy between ranges that do not overlap.
//
// Up to 64 bytes the copy is at most four loads and four stores (n8_copyUpTo64), with no loop. Longer copies store the
// first 16 bytes unaligned, then every 16-byte-aligned block of the destination from the first boundary on (64 bytes
// per iteration while they last), then the last 16 bytes unaligned. The head and tail stores stand in for the scalar
// steps that would otherwise reach the first boundary and finish the end: they write the same values as the
// aligned stores where they meet them, which is sound because the source is never written. Every access lies
// inside [pSrc, pSrc + len) and [pDst, pDst + len).
#include "primitives/primitives_internal.h"
#include "primitives/simd.h"

namespace {

// n > 64. kStream writes the aligned blocks with non-temporal stores: a destination larger than the cache would
// only evict everything else on its way through.
template <bool kStream>
void n8_copyLong(const Kel8u* pSrc, Kel8u* pDst, size_t n) {
    n8_storeu(pDst, n8_loadu(pSrc));
    const Vec128 tail = n8_loadu(pSrc + n - 16);
    size_t k = n8_bytesToNextBoundary(pDst);
    auto store = [](Kel8u* p, Vec128 v) {
        if constexpr (kStream) {
            n8_stream(p, v);
        } else {
            n8_storea(p, v);
        }
    };
    for (; k + 64 <= n; k += 64) {
        const Vec128 a = n8_loadu(pSrc + k), b = n8_loadu(pSrc + k + 16);
        const Vec128 c = n8_loadu(pSrc + k + 32), d = n8_loadu(pSrc + k + 48);
        store(pDst + k, a);
        store(pDst + k + 16, b);
        store(pDst + k + 32, c);
        store(pDst + k + 48, d);
    }
    for (; k + 16 <= n; k += 16) store(pDst + k, n8_loadu(pSrc + k));
    if constexpr (kStream) n8_storeFence();
    // Fewer than 16 bytes remain after k; the tail store covers them.
    n8_storeu(pDst + n - 16, tail);
}

}  // namespace

void n8_ownsCopy_8u(const Kel8u* pSrc, Kel8u* pDst, int len) {
    if (len <= 0) return;
    const size_t n = static_cast<size_t>(len);
    if (n <= 64) {
        n8_copyUpTo64(pSrc, pDst, n);
    } else if (n < kNonTemporalThreshold) {
        n8_copyLong<false>(pSrc, pDst, n);
    } else {
        n8_copyLong<true>(pSrc, pDst, n);
    }
}

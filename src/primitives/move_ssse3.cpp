// src/primitives/move_ssse3.cpp - n8_ownsMove_8u: byte copy between ranges that may overlap.
//
// The result must be that of a copy through a temporary. Up to 64 bytes all loads precede all stores
// (n8_copyUpTo64). Longer moves load the first and the last 16 bytes of the source before storing anything, copy
// the 16-byte-aligned blocks of the destination in the direction that never reads a byte already overwritten, and
// store the saved head and tail last:
// - destination below the source (or no overlap): ascending. A store at offset x lands on source offset
//   x - (pSrc - pDst) < x, which every later load (offsets above x) has left behind.
// - destination above the source and overlapping: descending, by the mirror argument.
// Each group of up to four blocks is loaded completely before any of it is stored, so the argument holds per group.
// The aligned blocks may rewrite bytes of the head and tail regions with values that are also correct, and the saved
// head and tail, stored last, are the original source bytes. Every access lies inside both ranges.
#include "primitives/primitives_internal.h"
#include "primitives/simd.h"

namespace {

// n > 64; offsets from the first 16-byte boundary of pDst upwards.
void n8_moveUp(const Kel8u* pSrc, Kel8u* pDst, size_t n) {
    size_t k = n8_bytesToNextBoundary(pDst);
    for (; k + 64 <= n; k += 64) {
        const Vec128 a = n8_loadu(pSrc + k), b = n8_loadu(pSrc + k + 16);
        const Vec128 c = n8_loadu(pSrc + k + 32), d = n8_loadu(pSrc + k + 48);
        n8_storea(pDst + k, a);
        n8_storea(pDst + k + 16, b);
        n8_storea(pDst + k + 32, c);
        n8_storea(pDst + k + 48, d);
    }
    for (; k + 16 <= n; k += 16) n8_storea(pDst + k, n8_loadu(pSrc + k));
}

// n > 64; e is the offset of the last 16-byte boundary of pDst at or below pDst + n, moving down to 0.
void n8_moveDown(const Kel8u* pSrc, Kel8u* pDst, size_t n) {
    size_t e = n - (reinterpret_cast<uintptr_t>(pDst + n) & 15);
    for (; e >= 64; e -= 64) {
        const Vec128 a = n8_loadu(pSrc + e - 16), b = n8_loadu(pSrc + e - 32);
        const Vec128 c = n8_loadu(pSrc + e - 48), d = n8_loadu(pSrc + e - 64);
        n8_storea(pDst + e - 16, a);
        n8_storea(pDst + e - 32, b);
        n8_storea(pDst + e - 48, c);
        n8_storea(pDst + e - 64, d);
    }
    for (; e >= 16; e -= 16) n8_storea(pDst + e - 16, n8_loadu(pSrc + e - 16));
}

}  // namespace

void n8_ownsMove_8u(const Kel8u* pSrc, Kel8u* pDst, int len) {
    if (len <= 0 || pSrc == pDst) return;
    const size_t n = static_cast<size_t>(len);
    if (n <= 64) {
        n8_copyUpTo64(pSrc, pDst, n);
        return;
    }
    const Vec128 head = n8_loadu(pSrc), tail = n8_loadu(pSrc + n - 16);
    // Unsigned distance: below n exactly when pDst lies inside (pSrc, pSrc + n).
    if (reinterpret_cast<uintptr_t>(pDst) - reinterpret_cast<uintptr_t>(pSrc) >= n) {
        n8_moveUp(pSrc, pDst, n);
    } else {
        n8_moveDown(pSrc, pDst, n);
    }
    n8_storeu(pDst, head);
    n8_storeu(pDst + n - 16, tail);
}

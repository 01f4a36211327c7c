// src/primitives/simd.h - inline wrappers over the 16-byte SSE2/SSSE3 operations the kernels use.
//
// Kernels and codecs call these instead of raw intrinsics, so the instruction set in use (nothing above SSSE3) is
// visible in one place. Unaligned memory is always reached through loadu/storeu or fixed-size memcpy, never
// through casts.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <tmmintrin.h>

#include "kelbase.h"

using Vec128 = __m128i;

inline Vec128 n8_loadu(const void* p) {
    return _mm_loadu_si128(static_cast<const Vec128*>(p));
}
// p must be 16-byte aligned.
inline Vec128 n8_loada(const void* p) {
    return _mm_load_si128(static_cast<const Vec128*>(p));
}
inline void n8_storeu(void* p, Vec128 v) {
    _mm_storeu_si128(static_cast<Vec128*>(p), v);
}
// p must be 16-byte aligned.
inline void n8_storea(void* p, Vec128 v) {
    _mm_store_si128(static_cast<Vec128*>(p), v);
}
// Non-temporal store, p 16-byte aligned; a run of these ends with n8_storeFence before other code relies on them.
inline void n8_stream(void* p, Vec128 v) {
    _mm_stream_si128(static_cast<Vec128*>(p), v);
}
inline void n8_storeFence() {
    _mm_sfence();
}

inline Vec128 n8_zero128() {
    return _mm_setzero_si128();
}
inline Vec128 n8_splat8(Kel8u b) {
    return _mm_set1_epi8(static_cast<char>(b));
}
inline Vec128 n8_splat32(Kel32s v) {
    return _mm_set1_epi32(v);
}

inline Vec128 n8_and(Vec128 a, Vec128 b) {
    return _mm_and_si128(a, b);
}
inline Vec128 n8_or(Vec128 a, Vec128 b) {
    return _mm_or_si128(a, b);
}
// ~a & b
inline Vec128 n8_andNot(Vec128 a, Vec128 b) {
    return _mm_andnot_si128(a, b);
}
// Per byte: the byte of a where the mask byte is all ones, the byte of b where it is zero. Masks come from compares.
inline Vec128 n8_select(Vec128 mask, Vec128 a, Vec128 b) {
    return n8_or(n8_and(mask, a), n8_andNot(mask, b));
}

inline Vec128 n8_cmpeq8(Vec128 a, Vec128 b) {
    return _mm_cmpeq_epi8(a, b);
}
inline int n8_movemask8(Vec128 v) {
    return _mm_movemask_epi8(v);
}
inline Vec128 n8_shuffle8(Vec128 v, Vec128 idx) {
    return _mm_shuffle_epi8(v, idx);
}

// Signed 32-bit lanes. SSSE3 has no 32-bit min, max or saturating add: they are built from compares and selects.
inline Vec128 n8_add32(Vec128 a, Vec128 b) {
    return _mm_add_epi32(a, b);
}
inline Vec128 n8_cmpgt32(Vec128 a, Vec128 b) {
    return _mm_cmpgt_epi32(a, b);
}
inline Vec128 n8_max32(Vec128 a, Vec128 b) {
    return n8_select(n8_cmpgt32(a, b), a, b);
}
inline Vec128 n8_min32(Vec128 a, Vec128 b) {
    return n8_select(n8_cmpgt32(a, b), b, a);
}
// Every lane shifted left by shift bits, 0 <= shift; 32 or more gives 0.
inline Vec128 n8_shiftLeft32(Vec128 v, int shift) {
    return _mm_sll_epi32(v, _mm_cvtsi32_si128(shift));
}
inline Kel32s n8_lane0_32(Vec128 v) {
    return _mm_cvtsi128_si32(v);
}
inline uint64_t n8_low64(Vec128 v) {
    return static_cast<uint64_t>(_mm_cvtsi128_si64(v));
}
// Lanes (1, 0, 3, 2) and (2, 3, 0, 1): the two swaps of a horizontal reduction.
inline Vec128 n8_swapPairs32(Vec128 v) {
    return _mm_shuffle_epi32(v, 0xB1);
}
inline Vec128 n8_swapHalves32(Vec128 v) {
    return _mm_shuffle_epi32(v, 0x4E);
}

inline bool n8_isAligned16(const void* p) {
    return (reinterpret_cast<uintptr_t>(p) & 15) == 0;
}
// Bytes from p to the next 16-byte boundary above it: 1 to 16 (16 when p is aligned).
inline size_t n8_bytesToNextBoundary(const void* p) {
    return 16 - (reinterpret_cast<uintptr_t>(p) & 15);
}

// Copies n bytes, 1 <= n <= 64: the first and the last 32 bytes as two 16-byte pieces each above 32 bytes, else
// two loads and two stores of the widest size that fits (16, 8, 4, 2 or 1 bytes), the second ending at the last
// byte. All loads precede all stores, so the ranges may overlap.
inline void n8_copyUpTo64(const Kel8u* pSrc, Kel8u* pDst, size_t n) {
    if (n > 32) {
        const Vec128 a = n8_loadu(pSrc), b = n8_loadu(pSrc + 16);
        const Vec128 c = n8_loadu(pSrc + n - 32), d = n8_loadu(pSrc + n - 16);
        n8_storeu(pDst, a);
        n8_storeu(pDst + 16, b);
        n8_storeu(pDst + n - 32, c);
        n8_storeu(pDst + n - 16, d);
    } else if (n >= 16) {
        const Vec128 a = n8_loadu(pSrc), b = n8_loadu(pSrc + n - 16);
        n8_storeu(pDst, a);
        n8_storeu(pDst + n - 16, b);
    } else if (n >= 8) {
        uint64_t a, b;
        __builtin_memcpy(&a, pSrc, 8);
        __builtin_memcpy(&b, pSrc + n - 8, 8);
        __builtin_memcpy(pDst, &a, 8);
        __builtin_memcpy(pDst + n - 8, &b, 8);
    } else if (n >= 4) {
        uint32_t a, b;
        __builtin_memcpy(&a, pSrc, 4);
        __builtin_memcpy(&b, pSrc + n - 4, 4);
        __builtin_memcpy(pDst, &a, 4);
        __builtin_memcpy(pDst + n - 4, &b, 4);
    } else if (n >= 2) {
        uint16_t a, b;
        __builtin_memcpy(&a, pSrc, 2);
        __builtin_memcpy(&b, pSrc + n - 2, 2);
        __builtin_memcpy(pDst, &a, 2);
        __builtin_memcpy(pDst + n - 2, &b, 2);
    } else {
        pDst[0] = pSrc[0];
    }
}

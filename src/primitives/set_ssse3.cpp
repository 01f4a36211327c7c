// src/primitives/set_ssse3.cpp - n8_ownsSet_8u, n8_ownsZero_8u, n8_ownsSet_32s: fill a range with a repeated value.
//
// All three store one 16-byte pattern: the byte or the 32-bit element repeated. Fills of up to 64 bytes use two
// or four overlapping stores (below 16 bytes: two of the widest size that fits). Longer ones store the first 16 bytes
// unaligned, every 16-byte-aligned block from the first boundary of the destination (64 bytes per iteration while they
// last), and the last 16 bytes unaligned, ending at the last byte. Overlapping stores write the same values, provided
// that every store starts a whole number of elements from pDst: the tail store does (the length is a multiple of the
// element size), and the aligned stores do whenever pDst itself is element-aligned; otherwise the blocks are stored
// unaligned from offset 16. Above the cache-size threshold the blocks go out as non-temporal stores. Every store
// lies inside [pDst, pDst + n).
#include "primitives/primitives_internal.h"
#include "primitives/simd.h"

namespace {

// n > 64 bytes, a multiple of kElem; pattern holds 16 / kElem copies of the element.
template <size_t kElem, bool kStream>
void n8_fillLong(Kel8u* pDst, size_t n, Vec128 pattern) {
    n8_storeu(pDst, pattern);
    if ((reinterpret_cast<uintptr_t>(pDst) & (kElem - 1)) == 0) {
        size_t k = n8_bytesToNextBoundary(pDst);
        for (; k + 64 <= n; k += 64) {
            if constexpr (kStream) {
                n8_stream(pDst + k, pattern);
                n8_stream(pDst + k + 16, pattern);
                n8_stream(pDst + k + 32, pattern);
                n8_stream(pDst + k + 48, pattern);
            } else {
                n8_storea(pDst + k, pattern);
                n8_storea(pDst + k + 16, pattern);
                n8_storea(pDst + k + 32, pattern);
                n8_storea(pDst + k + 48, pattern);
            }
        }
        for (; k + 16 <= n; k += 16) {
            if constexpr (kStream) {
                n8_stream(pDst + k, pattern);
            } else {
                n8_storea(pDst + k, pattern);
            }
        }
        if constexpr (kStream) n8_storeFence();
    } else {
        for (size_t k = 16; k + 16 <= n; k += 16) n8_storeu(pDst + k, pattern);
    }
    n8_storeu(pDst + n - 16, pattern);
}

template <size_t kElem>
void n8_fill(Kel8u* pDst, size_t n, Vec128 pattern) {
    if (n < kNonTemporalThreshold) {
        n8_fillLong<kElem, false>(pDst, n, pattern);
    } else {
        n8_fillLong<kElem, true>(pDst, n, pattern);
    }
}

// 16 <= n <= 64 bytes, a multiple of the element size: stores at 0 and n - 16, and at 16 and n - 32 above 32 bytes.
void n8_fillUpTo64(Kel8u* pDst, size_t n, Vec128 pattern) {
    n8_storeu(pDst, pattern);
    if (n > 32) {
        n8_storeu(pDst + 16, pattern);
        n8_storeu(pDst + n - 32, pattern);
    }
    n8_storeu(pDst + n - 16, pattern);
}

// 1 <= n < 16 bytes of one repeated byte.
void n8_fillBytesShort(Kel8u* pDst, size_t n, Vec128 pattern) {
    const uint64_t w = n8_low64(pattern);
    if (n >= 8) {
        __builtin_memcpy(pDst, &w, 8);
        __builtin_memcpy(pDst + n - 8, &w, 8);
    } else if (n >= 4) {
        __builtin_memcpy(pDst, &w, 4);
        __builtin_memcpy(pDst + n - 4, &w, 4);
    } else if (n >= 2) {
        __builtin_memcpy(pDst, &w, 2);
        __builtin_memcpy(pDst + n - 2, &w, 2);
    } else {
        pDst[0] = static_cast<Kel8u>(w);
    }
}

void n8_fillBytes(Kel8u* pDst, int len, Vec128 pattern) {
    if (len <= 0) return;
    const size_t n = static_cast<size_t>(len);
    if (n < 16) {
        n8_fillBytesShort(pDst, n, pattern);
    } else if (n <= 64) {
        n8_fillUpTo64(pDst, n, pattern);
    } else {
        n8_fill<1>(pDst, n, pattern);
    }
}

}  // namespace

void n8_ownsSet_8u(Kel8u value, Kel8u* pDst, int len) {
    n8_fillBytes(pDst, len, n8_splat8(value));
}

void n8_ownsZero_8u(Kel8u* pDst, int len) {
    n8_fillBytes(pDst, len, n8_zero128());
}

void n8_ownsSet_32s(Kel32s value, Kel32s* pDst, int len) {
    if (len <= 0) return;
    if (len < 4) {
        for (int i = 0; i < len; ++i) pDst[i] = value;
        return;
    }
    if (len <= 16) {
        n8_fillUpTo64(reinterpret_cast<Kel8u*>(pDst), static_cast<size_t>(len) * 4, n8_splat32(value));
        return;
    }
    // len <= INT_MAX elements: at most 8 GiB, well inside size_t.
    n8_fill<4>(reinterpret_cast<Kel8u*>(pDst), static_cast<size_t>(len) * 4, n8_splat32(value));
}

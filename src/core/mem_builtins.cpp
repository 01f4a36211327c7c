// src/core/mem_builtins.cpp - the library's own memcpy, memmove, memset and memcmp.
//
// Compilers emit calls to these for struct copies and recognised loops even in code that never names them. The
// shared libraries import nothing from the C library but the stack protector, so they carry hidden definitions of
// their own; calls inside the library bind to these. They are linked into the shared libraries only: sanitizer
// builds and the internal static libraries use the C library's (and so keep its interceptors).
//
// Short copies (the common case: literal runs, small structs) use overlapping word and 16-byte moves; long copies
// and fills use `rep movsb`/`rep stosb`, which current x86-64 cores run at cache bandwidth for large sizes and which
// the compiler cannot turn back into a call to the very function being defined.
#include <stddef.h>
#include <stdint.h>
#include <tmmintrin.h>

#include "core/export_frame.h"

// Unaligned, aliasing-safe word types: the copies below must not call memcpy to read a word.
typedef uint64_t __attribute__((may_alias, aligned(1))) KelU64Unaligned;
typedef uint32_t __attribute__((may_alias, aligned(1))) KelU32Unaligned;

// The test suite compiles this file a second time under other names, to compare these functions with the C
// library's at every size and overlap.
#ifdef KEL_MEM_BUILTINS_TEST
#define KEL_MEM_NAME(name) kel_test_##name
#else
#define KEL_MEM_NAME(name) name
#endif

#ifndef KEL_NO_MEM_BUILTINS

extern "C" {

KEL_HIDDEN void* KEL_MEM_NAME(memcpy)(void* dst, const void* src, size_t nBytes) {
    unsigned char* d = static_cast<unsigned char*>(dst);
    const unsigned char* s = static_cast<const unsigned char*>(src);
    if (nBytes <= 16) {
        // Two overlapping moves cover every length of a size class without a loop.
        if (nBytes >= 8) {
            const KelU64Unaligned head = *reinterpret_cast<const KelU64Unaligned*>(s);
            const KelU64Unaligned tail = *reinterpret_cast<const KelU64Unaligned*>(s + nBytes - 8);
            *reinterpret_cast<KelU64Unaligned*>(d) = head;
            *reinterpret_cast<KelU64Unaligned*>(d + nBytes - 8) = tail;
        } else if (nBytes >= 4) {
            const KelU32Unaligned head = *reinterpret_cast<const KelU32Unaligned*>(s);
            const KelU32Unaligned tail = *reinterpret_cast<const KelU32Unaligned*>(s + nBytes - 4);
            *reinterpret_cast<KelU32Unaligned*>(d) = head;
            *reinterpret_cast<KelU32Unaligned*>(d + nBytes - 4) = tail;
        } else if (nBytes > 0) {
            const unsigned char first = s[0], middle = s[nBytes / 2], last = s[nBytes - 1];
            d[0] = first;
            d[nBytes / 2] = middle;
            d[nBytes - 1] = last;
        }
        return dst;
    }
    if (nBytes <= 256) {
        // 16-byte blocks, the last one overlapping the previous so that the tail needs no scalar steps.
        const __m128i last = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + nBytes - 16));
        for (size_t k = 0; k + 16 < nBytes; k += 16) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + k), _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + k)));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + nBytes - 16), last);
        return dst;
    }
    __asm__ volatile("rep movsb" : "+D"(d), "+S"(s), "+c"(nBytes) : : "memory");
    return dst;
}

KEL_HIDDEN void* KEL_MEM_NAME(memmove)(void* dst, const void* src, size_t nBytes) {
    unsigned char* d = static_cast<unsigned char*>(dst);
    const unsigned char* s = static_cast<const unsigned char*>(src);
    // Up to 16 bytes memcpy loads everything before it stores, so any overlap is fine; a destination below the
    // source (or apart from it) is safe for the forward byte order of rep movsb.
    if (nBytes <= 16) return KEL_MEM_NAME(memcpy)(dst, src, nBytes);
    if (d <= s || d >= s + nBytes) {
        __asm__ volatile("rep movsb" : "+D"(d), "+S"(s), "+c"(nBytes) : : "memory");
        return dst;
    }
    // The destination overlaps the source from above: 16-byte blocks from the end down, each loaded before it is
    // stored; the first 16 bytes were loaded before anything was stored, so the short head needs no scalar steps.
    const __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    size_t k = nBytes;
    while (k > 16) {
        k -= 16;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + k), _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + k)));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), head);
    return dst;
}

KEL_HIDDEN void* KEL_MEM_NAME(memset)(void* dst, int value, size_t nBytes) {
    void* ret = dst;
    __asm__ volatile("rep stosb" : "+D"(dst), "+c"(nBytes) : "a"(value) : "memory");
    return ret;
}

KEL_HIDDEN int KEL_MEM_NAME(memcmp)(const void* a, const void* b, size_t nBytes) {
    const unsigned char* pa = static_cast<const unsigned char*>(a);
    const unsigned char* pb = static_cast<const unsigned char*>(b);
    for (size_t i = 0; i < nBytes; ++i) {
        if (pa[i] != pb[i]) return pa[i] - pb[i];
    }
    return 0;
}

KEL_HIDDEN int KEL_MEM_NAME(bcmp)(const void* a, const void* b, size_t nBytes) { return KEL_MEM_NAME(memcmp)(a, b, nBytes); }

}  // extern "C"

#endif  // KEL_NO_MEM_BUILTINS

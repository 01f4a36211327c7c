// src/core/mem_builtins.cpp - the library's own memcpy, memmove, memset and memcmp.
//
// Compilers emit calls to these for struct copies and recognised loops even in code that never names them. The
// shared libraries import nothing from the C library but the stack protector, so they carry hidden definitions of
// their own; calls inside the library bind to these. They are linked into the shared libraries only: sanitizer
// builds and the internal static libraries use the C library's (and so keep its interceptors).
//
// Copies and fills use `rep movsb`/`rep stosb`, which current x86-64 cores run at cache bandwidth for large sizes
// and which the compiler cannot turn back into a call to the very function being defined.
#include <stddef.h>

#include "core/export_frame.h"

#ifndef KEL_NO_MEM_BUILTINS

extern "C" {

KEL_HIDDEN void* memcpy(void* dst, const void* src, size_t nBytes) {
    void* ret = dst;
    __asm__ volatile("rep movsb" : "+D"(dst), "+S"(src), "+c"(nBytes) : : "memory");
    return ret;
}

KEL_HIDDEN void* memmove(void* dst, const void* src, size_t nBytes) {
    void* ret = dst;
    const unsigned char* s = static_cast<const unsigned char*>(src);
    unsigned char* d = static_cast<unsigned char*>(dst);
    if (d <= s || d >= s + nBytes) {
        __asm__ volatile("rep movsb" : "+D"(d), "+S"(s), "+c"(nBytes) : : "memory");
    } else {
        // Overlap with the destination above the source: copy from the last byte down. The direction flag is
        // restored before returning, as the ABI requires.
        d += nBytes - 1;
        s += nBytes - 1;
        __asm__ volatile("std\n\trep movsb\n\tcld" : "+D"(d), "+S"(s), "+c"(nBytes) : : "memory");
    }
    return ret;
}

KEL_HIDDEN void* memset(void* dst, int value, size_t nBytes) {
    void* ret = dst;
    __asm__ volatile("rep stosb" : "+D"(dst), "+c"(nBytes) : "a"(value) : "memory");
    return ret;
}

KEL_HIDDEN int memcmp(const void* a, const void* b, size_t nBytes) {
    const unsigned char* pa = static_cast<const unsigned char*>(a);
    const unsigned char* pb = static_cast<const unsigned char*>(b);
    for (size_t i = 0; i < nBytes; ++i) {
        if (pa[i] != pb[i]) return pa[i] - pb[i];
    }
    return 0;
}

KEL_HIDDEN int bcmp(const void* a, const void* b, size_t nBytes) { return memcmp(a, b, nBytes); }

}  // extern "C"

#endif  // KEL_NO_MEM_BUILTINS

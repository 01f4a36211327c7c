// tests/support/bzlib_api.h - libbz2's interface as a table of function pointers, filled either from the system's
// libbz2 (linked into the test) or from libkelbz2 (loaded by path), so that one test body runs against both.
// libkelbz2 has libbz2's soname and symbol names, so a test cannot link both; it is loaded with
// dlopen(RTLD_LOCAL), and its calls between its own functions stay inside it (it is linked with -Bsymbolic).
#pragma once

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <bzlib.h>

#define KEL_BZLIB_FUNCTIONS(X)                                                                                      \
    X(BZ2_bzCompressInit)                                                                                           \
    X(BZ2_bzCompress) X(BZ2_bzCompressEnd) X(BZ2_bzDecompressInit) X(BZ2_bzDecompress) X(BZ2_bzDecompressEnd)       \
        X(BZ2_bzReadOpen) X(BZ2_bzReadClose) X(BZ2_bzReadGetUnused) X(BZ2_bzRead) X(BZ2_bzWriteOpen) X(BZ2_bzWrite) \
            X(BZ2_bzWriteClose) X(BZ2_bzWriteClose64) X(BZ2_bzBuffToBuffCompress) X(BZ2_bzBuffToBuffDecompress)     \
                X(BZ2_bzlibVersion) X(BZ2_bzopen) X(BZ2_bzdopen) X(BZ2_bzread) X(BZ2_bzwrite) X(BZ2_bzflush)        \
                    X(BZ2_bzclose) X(BZ2_bzerror)

namespace kel::test {

struct BzlibApi {
    const char* name;  // "bzip2" or "kel", for test names
#define KEL_BZLIB_MEMBER(f) decltype(&::f) f;
    KEL_BZLIB_FUNCTIONS(KEL_BZLIB_MEMBER)
#undef KEL_BZLIB_MEMBER
};

inline const BzlibApi& systemBzlib() {
    static const BzlibApi api = {"bzip2",
#define KEL_BZLIB_SYSTEM(f) &::f,
                                 KEL_BZLIB_FUNCTIONS(KEL_BZLIB_SYSTEM)
#undef KEL_BZLIB_SYSTEM
    };
    return api;
}

// libkelbz2 from the build tree (KELBZ2_LIBRARY is its path); a missing function fails the program at once.
inline const BzlibApi& kelBzlib() {
    static const BzlibApi api = [] {
        BzlibApi a{};
        a.name = "kel";
        void* lib = dlopen(KELBZ2_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (!lib) {
            std::fprintf(stderr, "cannot load %s: %s\n", KELBZ2_LIBRARY, dlerror());
            std::abort();
        }
#define KEL_BZLIB_LOAD(f)                                                    \
    a.f = reinterpret_cast<decltype(&::f)>(dlsym(lib, #f));                  \
    if (!a.f) {                                                              \
        std::fprintf(stderr, "%s does not export %s\n", KELBZ2_LIBRARY, #f); \
        std::abort();                                                        \
    }
        KEL_BZLIB_FUNCTIONS(KEL_BZLIB_LOAD)
#undef KEL_BZLIB_LOAD
        return a;
    }();
    return api;
}

struct BzlibApiName {
    std::string operator()(const auto& info) const { return info.param->name; }
};

}  // namespace kel::test

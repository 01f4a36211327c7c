// tests/support/zlib_api.h - zlib's interface as a table of function pointers, filled either from the system's
// zlib (linked into the test) or from libkelz (loaded by path), so that one test body runs against both: the
// system's zlib shows that the test expects what zlib does, libkelz that we do it too.
//
// libkelz has zlib's soname and symbol names, so a test cannot link both; it is loaded with dlopen(RTLD_LOCAL),
// and its own calls between its functions stay inside it (it is linked with -Bsymbolic).
#pragma once

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <zlib.h>

#undef gzgetc  // zlib.h's fast-path macro would expand `api.gzgetc(f)`

#define KEL_ZLIB_FUNCTIONS(X)                                                                                          \
    X(zlibVersion)                                                                                                     \
    X(zlibCompileFlags) X(zError) X(deflateInit_) X(deflateInit2_) X(deflate) X(deflateEnd) X(deflateReset)            \
        X(deflateResetKeep) X(deflateParams) X(deflateSetDictionary) X(deflateGetDictionary) X(deflateCopy)            \
            X(deflateBound) X(deflatePending) X(deflatePrime) X(deflateSetHeader) X(deflateTune) X(inflateInit_)       \
                X(inflateInit2_) X(inflate) X(inflateEnd) X(inflateReset) X(inflateReset2) X(inflateResetKeep)         \
                    X(inflateSetDictionary) X(inflateGetDictionary) X(inflateSync) X(inflateSyncPoint) X(inflateCopy)  \
                        X(inflatePrime) X(inflateMark) X(inflateGetHeader) X(inflateBackInit_) X(inflateBack)          \
                            X(inflateBackEnd) X(inflateUndermine) X(inflateValidate) X(inflateCodesUsed) X(compress)   \
                                X(compress2) X(compressBound) X(uncompress) X(uncompress2) X(adler32) X(adler32_z)     \
                                    X(adler32_combine) X(adler32_combine64) X(crc32) X(crc32_z) X(crc32_combine)       \
                                        X(crc32_combine64) X(crc32_combine_gen) X(crc32_combine_gen64)                 \
                                            X(crc32_combine_op) X(get_crc_table) X(gzopen) X(gzopen64) X(gzdopen)      \
                                                X(gzbuffer) X(gzsetparams) X(gzread) X(gzfread) X(gzwrite) X(gzfwrite) \
                                                    X(gzprintf) X(gzvprintf) X(gzputs) X(gzgets) X(gzputc) X(gzgetc)   \
                                                        X(gzgetc_) X(gzungetc) X(gzflush) X(gzseek) X(gzseek64)        \
                                                            X(gzrewind) X(gztell) X(gztell64) X(gzoffset)              \
                                                                X(gzoffset64) X(gzeof) X(gzdirect) X(gzclose)          \
                                                                    X(gzclose_r) X(gzclose_w) X(gzerror) X(gzclearerr)

namespace kel::test {

struct ZlibApi {
    const char* name;  // "zlib" or "kel", for test names
#define KEL_ZLIB_MEMBER(f) decltype(&::f) f;
    KEL_ZLIB_FUNCTIONS(KEL_ZLIB_MEMBER)
#undef KEL_ZLIB_MEMBER
};

// The system's zlib, as linked into the test.
inline const ZlibApi& systemZlib() {
    static const ZlibApi api = {"zlib",
#define KEL_ZLIB_SYSTEM(f) &::f,
                                KEL_ZLIB_FUNCTIONS(KEL_ZLIB_SYSTEM)
#undef KEL_ZLIB_SYSTEM
    };
    return api;
}

// libkelz from the build tree (KELZ_LIBRARY is its path); a missing function fails the test program at once.
inline const ZlibApi& kelZlib() {
    static const ZlibApi api = [] {
        ZlibApi a{};
        a.name = "kel";
        void* lib = dlopen(KELZ_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (!lib) {
            std::fprintf(stderr, "cannot load %s: %s\n", KELZ_LIBRARY, dlerror());
            std::abort();
        }
#define KEL_ZLIB_LOAD(f)                                                   \
    a.f = reinterpret_cast<decltype(&::f)>(dlsym(lib, #f));                \
    if (!a.f) {                                                            \
        std::fprintf(stderr, "%s does not export %s\n", KELZ_LIBRARY, #f); \
        std::abort();                                                      \
    }
        KEL_ZLIB_FUNCTIONS(KEL_ZLIB_LOAD)
#undef KEL_ZLIB_LOAD
        return a;
    }();
    return api;
}

// For INSTANTIATE_TEST_SUITE_P: both implementations, named by ZlibApi::name.
struct ZlibApiName {
    std::string operator()(const auto& info) const { return info.param->name; }
};

}  // namespace kel::test

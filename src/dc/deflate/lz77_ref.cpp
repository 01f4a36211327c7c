// src/dc/deflate/lz77_ref.cpp - the matchers with a byte-by-byte match comparison: the readable twin and the
// test oracle of lz77_ssse3.cpp.
#include "dc/deflate/lz77_matcher.h"

namespace kel::deflate {

Kel32s n8_ownsDeflateMatchLen_8u_ref(const Kel8u* a, const Kel8u* b, Kel32s maxLen) {
    Kel32s n = 0;
    while (n < maxLen && a[n] == b[n]) ++n;
    return n;
}

namespace {

struct MatchLenRef {
    static Kel32s run(const Kel8u* a, const Kel8u* b, Kel32s maxLen) {
        return n8_ownsDeflateMatchLen_8u_ref(a, b, maxLen);
    }
};

}  // namespace

void n8_ownsDeflateLZ77Greedy_8u_ref(Lz77Job& job) {
    n8_runGreedy<MatchLenRef>(job);
}
void n8_ownsDeflateLZ77Lazy_8u_ref(Lz77Job& job) {
    n8_runLazy<MatchLenRef>(job);
}

}  // namespace kel::deflate

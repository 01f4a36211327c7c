// src/dc/deflate/lz77_ssse3.cpp - the matchers with a 16-byte vector match comparison.
//
// A match candidate that passed the four-byte pre-check is compared sixteen bytes per step: pcmpeqb gives a lane
// mask, pmovmskb turns it into 16 bits, and the first zero bit (bit scan of the inverted mask) is the first
// difference. The last maxLen mod 16 bytes are compared in 8-byte words and single bytes, never reading past
// maxLen, so no comparison leaves the source or the history.
#include "dc/deflate/lz77_matcher.h"
#include "primitives/simd.h"

namespace kel::deflate {
namespace {

// Index of the lowest set bit of x, x != 0. Written as bsf: compilers otherwise emit tzcnt, a newer instruction.
inline Kel32u n8_lowestBit32(Kel32u x) {
    Kel32u r;
    __asm__("bsf %1, %0" : "=r"(r) : "rm"(x) : "cc");
    return r;
}

inline Kel64u n8_lowestBit64(Kel64u x) {
    Kel64u r;
    __asm__("bsfq %1, %0" : "=r"(r) : "rm"(x) : "cc");
    return r;
}

inline Kel32s n8_matchLen(const Kel8u* a, const Kel8u* b, Kel32s maxLen) {
    Kel32s n = 0;
    for (; n + 16 <= maxLen; n += 16) {
        const Kel32u eq = Kel32u(n8_movemask8(n8_cmpeq8(n8_loadu(a + n), n8_loadu(b + n))));
        if (eq != 0xFFFF) return n + Kel32s(n8_lowestBit32(~eq));
    }
    if (n + 8 <= maxLen) {
        Kel64u x, y;
        __builtin_memcpy(&x, a + n, 8);
        __builtin_memcpy(&y, b + n, 8);
        if (x != y) return n + Kel32s(n8_lowestBit64(x ^ y) >> 3);
        n += 8;
    }
    while (n < maxLen && a[n] == b[n]) ++n;
    return n;
}

struct MatchLenSsse3 {
    static Kel32s run(const Kel8u* a, const Kel8u* b, Kel32s maxLen) { return n8_matchLen(a, b, maxLen); }
};

}  // namespace

Kel32s n8_ownsDeflateMatchLen_8u(const Kel8u* a, const Kel8u* b, Kel32s maxLen) {
    return n8_matchLen(a, b, maxLen);
}

void n8_ownsDeflateLZ77Greedy_8u(Lz77Job& job) {
    n8_runGreedy<MatchLenSsse3>(job);
}
void n8_ownsDeflateLZ77Lazy_8u(Lz77Job& job) {
    n8_runLazy<MatchLenSsse3>(job);
}

}  // namespace kel::deflate

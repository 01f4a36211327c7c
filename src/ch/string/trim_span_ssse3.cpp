// src/ch/string/trim_span_ssse3.cpp - the runs that trimming removes: leading or trailing bytes equal to one value
// or belonging to a set, measured 16 bytes at a time.
//
// A block's mask of bytes that do NOT belong to the run ends the run at its lowest (leading run) or highest
// (trailing run) set bit. Set membership ORs the compares against each broadcast set byte, for sets of up to
// kMaxVectorSet bytes; larger sets use a 256-entry presence table on the stack and a byte loop. Blocks step inwards
// from the end being trimmed; the last len % 16 bytes go byte by byte.
#include "ch/string/bit_scan.h"
#include "ch/string/edit_internal.h"
#include "primitives/simd.h"

namespace {

constexpr int kMaxVectorSet = 16;

bool n8_inSet(Kel8u b, const Kel8u* pSet, int setLen) {
    for (int k = 0; k < setLen; ++k) {
        if (pSet[k] == b) return true;
    }
    return false;
}

// Membership test of one kind: a single byte, a small set in vectors, or a presence table.
struct OneByte {
    Vec128 v;
    Kel8u b;
    uint32_t outside(const Kel8u* p) const {
        return static_cast<uint32_t>(n8_movemask8(n8_cmpeq8(n8_loadu(p), v))) ^ 0xFFFFu;
    }
    bool contains(Kel8u x) const { return x == b; }
};

struct SmallSet {
    Vec128 v[kMaxVectorSet];
    const Kel8u* pSet;
    int n;
    uint32_t outside(const Kel8u* p) const {
        const Vec128 x = n8_loadu(p);
        Vec128 any = n8_cmpeq8(x, v[0]);
        for (int k = 1; k < n; ++k) any = n8_or(any, n8_cmpeq8(x, v[k]));
        return static_cast<uint32_t>(n8_movemask8(any)) ^ 0xFFFFu;
    }
    bool contains(Kel8u x) const { return n8_inSet(x, pSet, n); }
};

template <typename Member>
int n8_spanForward(const Kel8u* pSrc, int len, const Member& set) {
    int i = 0;
    for (; i + 16 <= len; i += 16) {
        const uint32_t m = set.outside(pSrc + i);
        if (m != 0) return i + n8_lowestBit32(m);
    }
    while (i < len && set.contains(pSrc[i])) ++i;
    return i;
}

template <typename Member>
int n8_spanBackward(const Kel8u* pSrc, int len, const Member& set) {
    // [end, len) belongs to the run.
    int end = len;
    for (; end >= 16; end -= 16) {
        const uint32_t m = set.outside(pSrc + end - 16);
        if (m != 0) return len - (end - 16 + n8_highestBit32(m)) - 1;
    }
    while (end > 0 && set.contains(pSrc[end - 1])) --end;
    return len - end;
}

inline SmallSet n8_makeSmallSet(const Kel8u* pSet, int setLen) {
    SmallSet s;
    for (int k = 0; k < setLen; ++k) s.v[k] = n8_splat8(pSet[k]);
    s.pSet = pSet;
    s.n = setLen;
    return s;
}

struct Presence {
    Kel8u flag[256];
};

inline void n8_buildPresence(Presence& t, const Kel8u* pSet, int setLen) {
    for (int b = 0; b < 256; ++b) t.flag[b] = 0;
    for (int k = 0; k < setLen; ++k) t.flag[pSet[k]] = 1;
}

}  // namespace

int n8_ownsSpanC_8u(const Kel8u* pSrc, int len, Kel8u val) {
    const OneByte one{n8_splat8(val), val};
    return n8_spanForward(pSrc, len, one);
}

int n8_ownsSpanRevC_8u(const Kel8u* pSrc, int len, Kel8u val) {
    const OneByte one{n8_splat8(val), val};
    return n8_spanBackward(pSrc, len, one);
}

int n8_ownsSpanCAny_8u(const Kel8u* pSrc, int len, const Kel8u* pSet, int setLen) {
    if (setLen <= 0) return 0;
    if (setLen <= kMaxVectorSet) return n8_spanForward(pSrc, len, n8_makeSmallSet(pSet, setLen));
    Presence t;
    n8_buildPresence(t, pSet, setLen);
    int n = 0;
    while (n < len && t.flag[pSrc[n]]) ++n;
    return n;
}

int n8_ownsSpanRevCAny_8u(const Kel8u* pSrc, int len, const Kel8u* pSet, int setLen) {
    if (setLen <= 0) return 0;
    if (setLen <= kMaxVectorSet) return n8_spanBackward(pSrc, len, n8_makeSmallSet(pSet, setLen));
    Presence t;
    n8_buildPresence(t, pSet, setLen);
    int end = len;
    while (end > 0 && t.flag[pSrc[end - 1]]) --end;
    return len - end;
}

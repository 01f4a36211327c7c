// src/ch/string/find_set_ssse3.cpp - n8_ownsFindCAny_8u and n8_ownsFindRevCAny_8u: first and last byte of a set.
//
// Three regimes, chosen by the lengths:
// - sources below 16 bytes: a double loop, each source byte against each set byte;
// - sets of 10 bytes or more: a 256-entry presence table on the stack and a byte loop over the source, since one
//   table look-up per byte beats ten or more vector compares per 16 bytes;
// - sets of 1 to 9 bytes: each set byte broadcast into its own vector; 16 source bytes at a time, the equality
//   masks of all set bytes ORed. Blocks start at the source start (forward) or end (backward) and step inwards;
//   the remaining srcLen % 16 bytes are covered by one more block that ends at the other end of the source. That
//   block overlaps bytes already tested, which had no hit, so its extreme set bit is still the next hit in order.
#include "ch/string/bit_scan.h"
#include "ch/string/search_internal.h"
#include "primitives/simd.h"

namespace {

constexpr int kMaxVectorSet = 9;

bool n8_inSet(Kel8u b, const Kel8u* pSet, int setLen) {
    for (int k = 0; k < setLen; ++k) {
        if (pSet[k] == b) return true;
    }
    return false;
}

// Broadcasts of the set bytes; setLen <= kMaxVectorSet.
struct SetVectors {
    Vec128 v[kMaxVectorSet];
    int n;
};

inline void n8_loadSet(SetVectors& s, const Kel8u* pSet, int setLen) {
    for (int k = 0; k < setLen; ++k) s.v[k] = n8_splat8(pSet[k]);
    s.n = setLen;
}

inline uint32_t n8_setMask(const Kel8u* p, const SetVectors& s) {
    const Vec128 x = n8_loadu(p);
    Vec128 any = n8_cmpeq8(x, s.v[0]);
    for (int k = 1; k < s.n; ++k) any = n8_or(any, n8_cmpeq8(x, s.v[k]));
    return static_cast<uint32_t>(n8_movemask8(any));
}

// The table holds 1 for every set byte. Built on the stack per call: the library keeps no state between calls.
struct Presence {
    Kel8u flag[256];
};

inline void n8_buildPresence(Presence& t, const Kel8u* pSet, int setLen) {
    for (int b = 0; b < 256; ++b) t.flag[b] = 0;
    for (int k = 0; k < setLen; ++k) t.flag[pSet[k]] = 1;
}

}  // namespace

int n8_ownsFindCAny_8u(const Kel8u* pSrc, int srcLen, const Kel8u* pSet, int setLen) {
    if (setLen <= 0) return -1;
    if (srcLen < 16) {
        for (int i = 0; i < srcLen; ++i) {
            if (n8_inSet(pSrc[i], pSet, setLen)) return i;
        }
        return -1;
    }
    if (setLen > kMaxVectorSet) {
        Presence t;
        n8_buildPresence(t, pSet, setLen);
        for (int i = 0; i < srcLen; ++i) {
            if (t.flag[pSrc[i]]) return i;
        }
        return -1;
    }
    SetVectors s;
    n8_loadSet(s, pSet, setLen);
    int i = 0;
    for (; i + 16 <= srcLen; i += 16) {
        const uint32_t m = n8_setMask(pSrc + i, s);
        if (m != 0) return i + n8_lowestBit32(m);
    }
    if (i < srcLen) {
        const uint32_t m = n8_setMask(pSrc + srcLen - 16, s);
        if (m != 0) return srcLen - 16 + n8_lowestBit32(m);
    }
    return -1;
}

int n8_ownsFindRevCAny_8u(const Kel8u* pSrc, int srcLen, const Kel8u* pSet, int setLen) {
    if (setLen <= 0) return -1;
    if (srcLen < 16) {
        for (int i = srcLen - 1; i >= 0; --i) {
            if (n8_inSet(pSrc[i], pSet, setLen)) return i;
        }
        return -1;
    }
    if (setLen > kMaxVectorSet) {
        Presence t;
        n8_buildPresence(t, pSet, setLen);
        for (int i = srcLen - 1; i >= 0; --i) {
            if (t.flag[pSrc[i]]) return i;
        }
        return -1;
    }
    SetVectors s;
    n8_loadSet(s, pSet, setLen);
    // end is one past the highest byte not yet tested.
    int end = srcLen;
    for (; end >= 16; end -= 16) {
        const uint32_t m = n8_setMask(pSrc + end - 16, s);
        if (m != 0) return end - 16 + n8_highestBit32(m);
    }
    if (end > 0) {
        const uint32_t m = n8_setMask(pSrc, s);
        if (m != 0) return n8_highestBit32(m);
    }
    return -1;
}

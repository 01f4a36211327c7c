// src/ch/regexp/regexp_replace.cpp - kelsRegExpReplaceGetSize, kelsRegExpReplaceInit and kelsRegExpReplace_8u.
//
// The template is cut once into segments (literal runs that point into the template, and group references);
// a replacement searches with the matcher and assembles the output piece by piece. A piece that does not fit
// strictly inside the room left is never written in part: the call stops before it, so the reported consumed and
// produced lengths always describe a clean cut the caller can resume from.
//
// State block: 4 reserved bytes, numSegments (32-bit) at 4, the segment array's address at 8 (null for a null
// template), segments of 16 bytes from 16 on. A template of n bytes yields at most n segments, so the reported
// size 16 * n + 16 always suffices.
#include "ch/regexp/regexp_find.h"
#include "core/ch_exports.h"

namespace {

constexpr Kel32u kSegLiteral = kNodeString;
constexpr Kel32u kSegGroup = kNodeBackReference;
constexpr int kSegOffset = 16;
constexpr int kSegSize = 16;

struct Segment {
    Kel32u kind;
    Kel32s operand;
    const Kel8u* ptr;
};
static_assert(sizeof(Segment) == kSegSize);

Kel8u* n8_bytes(RegExpReplaceState* s) {
    return reinterpret_cast<Kel8u*>(s);
}

Segment n8_loadSegment(const RegExpReplaceState* s, Kel32s i) {
    Segment g;
    __builtin_memcpy(&g, reinterpret_cast<const Kel8u*>(s) + kSegOffset + static_cast<long>(i) * kSegSize, sizeof g);
    return g;
}

Kel32s n8_numSegments(const RegExpReplaceState* s) {
    Kel32s n;
    __builtin_memcpy(&n, reinterpret_cast<const Kel8u*>(s) + 4, sizeof n);
    return n;
}

RegExpMatchRecord n8_record(const RegExpMatchRecord* r) {
    RegExpMatchRecord m;
    __builtin_memcpy(&m, r, sizeof m);
    return m;
}

// Writes the template pieces for one match (its records rec[0..numRec)). Returns false when a piece did not fit.
bool n8_emitSegments(const RegExpReplaceState* rs, const RegExpMatchRecord* rec, Kel32s numRec, Kel8u* dst, Kel32s cap,
                     Kel32s* pOut) {
    const Kel32s n = n8_numSegments(rs);
    for (Kel32s i = 0; i < n; ++i) {
        const Segment g = n8_loadSegment(rs, i);
        const Kel8u* piece = nullptr;
        Kel32s len = 0;
        if (g.kind == kSegLiteral) {
            piece = g.ptr;
            len = g.operand;
        } else if (g.operand < numRec) {
            const RegExpMatchRecord m = n8_record(rec + g.operand);
            if (m.lenFind > 0 && m.pFind) {
                piece = m.pFind;
                len = m.lenFind;
            }
        }
        if (len == 0) continue;
        if (len >= cap - *pOut) return false;
        __builtin_memcpy(dst + *pOut, piece, static_cast<unsigned long>(len));
        *pOut += len;
    }
    return true;
}

}  // namespace

extern "C" KelStatus n8_kelsRegExpReplaceGetSize(const Kel8u* pTemplate, int* pSize) {
    if (!pSize) return kelStatusNullPointer;
    // Counted byte by byte with a bound (no word-wise scan past the terminator); a template whose state size
    // would not fit in an int is refused rather than reported with a wrapped size.
    constexpr Kel32s kMaxTemplate = (0x7FFFFFFF - kSegOffset) / kSegSize;
    Kel32s len = 0;
    while (pTemplate && len <= kMaxTemplate && pTemplate[len] != 0) ++len;
    if (len > kMaxTemplate) return kelStatusBadSize;
    *pSize = kSegSize * len + kSegOffset;
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsRegExpReplaceInit(const Kel8u* pTemplate, RegExpReplaceState* pState) {
    if (!pState) return kelStatusNullPointer;
    Kel8u* base = n8_bytes(pState);
    Kel32s count = 0;
    const Kel8u* segs = pTemplate ? base + kSegOffset : nullptr;
    __builtin_memcpy(base + 8, &segs, sizeof segs);
    auto put = [&](Kel32u kind, Kel32s operand, const Kel8u* ptr) {
        const Segment g{kind, operand, ptr};
        __builtin_memcpy(base + kSegOffset + static_cast<long>(count) * kSegSize, &g, sizeof g);
        ++count;
        __builtin_memcpy(base + 4, &count, sizeof count);
    };
    __builtin_memcpy(base + 4, &count, sizeof count);
    if (!pTemplate) return kelStatusOk;
    const Kel8u* run = pTemplate;
    const Kel8u* q = pTemplate;
    for (;;) {
        const Kel8u b = *q;
        if (b != 0 && b != '$' && b != '\\') {
            ++q;
            continue;
        }
        if (q > run) put(kSegLiteral, static_cast<Kel32s>(q - run), run);
        if (b == 0) break;
        if (b == '\\') {
            ++q;
            run = q;
            continue;
        }
        // `$`
        if (q[1] == '&') {
            put(kSegGroup, 0, nullptr);
            q += 2;
        } else if (q[1] >= '0' && q[1] <= '9') {
            Kel32s number = 0;
            ++q;
            while (*q >= '0' && *q <= '9') {
                if (number < 100000) number = number * 10 + (*q - '0');
                ++q;
            }
            if (number == 0) return kelStatusRegExpBadReference;
            put(kSegGroup, number, nullptr);
        } else {
            return kelStatusRegExpBadReference;
        }
        run = q;
    }
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsRegExpReplace_8u(const Kel8u* pSrc, int* pSrcLen, Kel8u* pDst, int* pDstLen,
                                             RegExpMatchRecord* pFind, int* pNumFind, RegExpState* pRegExpState,
                                             RegExpReplaceState* pReplaceState) {
    if (!pSrc || !pSrcLen || !pDst || !pDstLen || !pFind || !pNumFind || !pRegExpState || !pReplaceState) {
        return kelStatusNullPointer;
    }
    if (*pSrcLen < 1 || *pDstLen < 1) return kelStatusBadSize;
    const Kel32s srcLen = *pSrcLen;
    const Kel32s cap = *pDstLen;
    const KelStatus st = n8_ownsRegExpFind_8u(pSrc, srcLen, pRegExpState, pFind, pNumFind, 1);
    if (st < 0) return st;
    if (*pNumFind < 1) {
        const Kel32s n = srcLen < cap ? srcLen : cap;
        __builtin_memcpy(pDst, pSrc, static_cast<unsigned long>(n));
        *pSrcLen = n;
        *pDstLen = n;
        return st;
    }
    const RegExpHeader h = n8_loadRegExpHeader(pRegExpState);
    const bool global = (h.options & kRegExpGlobal) != 0;
    const Kel32s setSize = global ? h.numGroups : *pNumFind;
    const Kel32s sets = global ? *pNumFind / h.numGroups : 1;
    Kel32s out = 0;
    Kel32s consumed = 0;  // subject offset up to which the output is complete
    for (Kel32s s = 0; s < sets; ++s) {
        const RegExpMatchRecord* rec = pFind + static_cast<long>(s) * setSize;
        const RegExpMatchRecord m = n8_record(rec);
        const Kel32s start = static_cast<Kel32s>(m.pFind - pSrc);
        const Kel32s gap = start - consumed;
        if (gap > 0 || !global) {
            if (gap >= cap - out) {
                *pSrcLen = consumed;
                *pDstLen = out;
                return st;
            }
            __builtin_memcpy(pDst + out, pSrc + consumed, static_cast<unsigned long>(gap));
            out += gap;
        }
        const Kel32s mark = out;
        if (!n8_emitSegments(pReplaceState, rec, setSize, pDst, cap, &out)) {
            *pSrcLen = start;
            *pDstLen = mark;
            return st;
        }
        consumed = start + m.lenFind;
    }
    const Kel32s tail = srcLen - consumed;
    if (tail < cap - out) {
        __builtin_memcpy(pDst + out, pSrc + consumed, static_cast<unsigned long>(tail));
        out += tail;
        consumed = srcLen;
    }
    *pSrcLen = consumed;
    *pDstLen = out;
    return st;
}

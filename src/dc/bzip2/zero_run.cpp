// src/dc/bzip2/zero_run.cpp - zero-run coding of move-to-front output into bzip2 symbols, and back.
//
// A run of k zeros becomes the bijective base-2 digits of k, least significant first: RUNA (0) counts 1, 2, 4, ...
// and RUNB (1) counts 2, 4, 8, ... at successive places. A non-zero value v becomes the symbol v + 1. Both
// directions stop cleanly at a full destination: the encoder shortens a run to what the room can code, the decoder
// writes a run only together with the byte that ends it.
#include "core/dc_exports.h"
#include "dc/bzip2/bzip2_internal.h"
#include "primitives/primitives.h"

namespace {

// Number of bijective base-2 digits of k >= 1: floor(log2(k + 1)).
inline int n8_runDigits(Kel64u k) {
    return 63 - __builtin_clzll(k + 1);
}

// Writes the digits of a run of k >= 1 zeros and counts them.
inline Kel16u* n8_putRun(Kel16u* pDst, Kel64u k, Kel32u* pFreq) {
    while (k > 0) {
        const Kel16u d = static_cast<Kel16u>((k - 1) & 1);
        *pDst++ = d;
        ++pFreq[d];
        k = (k - 1) >> 1;
    }
    return pDst;
}

}  // namespace

// The longest run r symbols can code is 2^(r+1) - 2 zeros (all digits RUNB). A run that needs more digits than the
// room holds is cut to that length and the call ends there; a byte that ends a run is written only if a symbol of
// room remains after the run.
extern "C" KelStatus n8_kelsEncodeZ1Z2_BZ2_8u16u(const Kel8u** ppSrc, int* pSrcLen, Kel16u* pDst, int* pDstLen,
                                                 Kel32u freqTable[258]) {
    if (ppSrc == nullptr || pDst == nullptr || pSrcLen == nullptr || pDstLen == nullptr) return kelStatusNullPointer;
    if (*ppSrc == nullptr || freqTable == nullptr) return kelStatusNullPointer;
    if (*pSrcLen < 1) return kelStatusBadSize;
    if (*pDstLen < 1) return kelStatusBadSize;

    const Kel8u* src = *ppSrc;
    const Kel8u* const end = src + *pSrcLen;
    Kel16u* out = pDst;
    Kel16u* const outEnd = pDst + *pDstLen;
    Kel64u zeros = 0;  // zeros read but not yet written

    while (src != end) {
        const Kel8u v = *src;
        if (v == 0) {
            ++zeros;
            ++src;
            continue;
        }
        const Kel64u room = static_cast<Kel64u>(outEnd - out);
        if (zeros > 0) {
            const Kel64u need = static_cast<Kel64u>(n8_runDigits(zeros));
            // Either the run must be cut (below) or it fits with no room left for v: v waits either way.
            if (need >= room) break;
            out = n8_putRun(out, zeros, freqTable);
            zeros = 0;
        } else if (room == 0) {
            break;
        }
        *out++ = static_cast<Kel16u>(v + 1);
        ++freqTable[v + 1];
        ++src;
    }

    if (zeros > 0) {
        // A run at the end of the source, or one cut short above: code what fits, leave the other zeros unread.
        const Kel64u room = static_cast<Kel64u>(outEnd - out);
        Kel64u take = zeros;
        if (static_cast<Kel64u>(n8_runDigits(zeros)) > room) take = (Kel64u{2} << room) - 2;
        if (take > 0) out = n8_putRun(out, take, freqTable);
        // The zeros counted but not coded are given back to the source: they lie directly before src.
        src -= static_cast<int>(zeros - take);
    }

    const int remaining = static_cast<int>(end - src);
    *ppSrc = src;
    *pSrcLen = remaining;
    *pDstLen = static_cast<int>(out - pDst);
    return remaining > 0 ? kelStatusDstFull : kelStatusOk;
}

extern "C" KelStatus n8_kelsDecodeZ1Z2_BZ2_16u8u(const Kel16u** ppSrc, int* pSrcLen, Kel8u* pDst, int* pDstLen) {
    if (ppSrc == nullptr || pDst == nullptr || pSrcLen == nullptr || pDstLen == nullptr) return kelStatusNullPointer;
    if (*ppSrc == nullptr) return kelStatusNullPointer;
    if (*pSrcLen < 1) return kelStatusBadSize;
    if (*pDstLen < 1) return kelStatusBadSize;

    const Kel16u* const src = *ppSrc;
    const int srcLen = *pSrcLen;
    const Kel64u cap = static_cast<Kel64u>(*pDstLen);
    Kel64u out = 0;
    int done = 0;  // symbols whose output has been written
    int i = 0;
    KelStatus status = kelStatusOk;

    while (i < srcLen) {
        // Collect the run starting at i; a run longer than any destination saturates instead of wrapping.
        Kel64u run = 0;
        int place = 0;
        while (i < srcLen && src[i] < 2) {
            if (place < 40) run += static_cast<Kel64u>(src[i] + 1) << place;
            ++place;
            ++i;
        }
        if (place > 40) run = ~Kel64u{0} >> 1;
        const bool hasByte = i < srcLen;
        const Kel64u need = run + (hasByte ? 1 : 0);
        if (need > cap - out) {
            status = kelStatusDstFull;
            break;
        }
        n8_ownsZero_8u(pDst + out, static_cast<int>(run));
        out += run;
        if (hasByte) {
            pDst[out++] = static_cast<Kel8u>(src[i] - 1);
            ++i;
        }
        done = i;
    }

    *ppSrc = src + done;
    *pSrcLen = srcLen - done;
    *pDstLen = static_cast<int>(out);
    if (done < srcLen) status = kelStatusDstFull;
    return status;
}

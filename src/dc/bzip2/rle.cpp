// src/dc/bzip2/rle.cpp - the bzip2 first-stage run-length coder, its streaming decoder and the dictionary mapping.
//
// Format: bytes are literal; after four equal bytes (counted afresh after every count byte) the next byte c says
// that c more copies follow. The encoder is a small state machine over (last byte, run count) so that input may
// arrive in pieces of any size; a count byte is written only once the run has ended (or the caller flushes), and
// only when there is room for it, so a full destination never loses a run. The decoder scans for four equal bytes
// and keeps the copies of a run that did not fit as "pending" in the state.
#include "core/dc_exports.h"
#include "dc/bzip2/bzip2_internal.h"
#include "primitives/primitives.h"
#include "primitives/simd.h"

namespace {

// A run is at most 4 + 255 bytes before a count byte must close it.
constexpr int kMaxRun = 259;
// Merging directly following runs of one byte into one pending count stops here, so the count stays far from the
// int32 limit whatever the source length.
constexpr int kMaxPending = 1 << 30;

struct RleRegs {
    int last;   // last byte / pending byte, -1 for none
    int count;  // run count / pending copies
};

RleRegs n8_loadRegs(const Kel8u* pState) {
    return RleRegs{n8_loadI32(pState + kRleLastOffset), n8_loadI32(pState + kRleCountOffset)};
}

void n8_storeRegs(Kel8u* pState, RleRegs r) {
    n8_storeI32(pState + kRleLastOffset, r.last);
    n8_storeI32(pState + kRleCountOffset, r.count);
}

// True when the four bytes at p are equal.
inline bool n8_fourEqual(const Kel8u* p) {
    return p[0] == p[1] && p[1] == p[2] && p[2] == p[3];
}

}  // namespace

extern "C" KelStatus n8_kelsRLEGetSize_BZ2_8u(int* pRLEStateSize) {
    if (pRLEStateSize == nullptr) return kelStatusNullPointer;
    *pRLEStateSize = kRleStateSize;
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsEncodeRLEInit_BZ2_8u(Kel8u* pRLEState) {
    if (pRLEState == nullptr) return kelStatusNullPointer;
    n8_ownsZero_8u(pRLEState, 256);
    n8_storeRegs(pRLEState, RleRegs{-1, 0});
    return kelStatusOk;
}

// Encoder, from the state's (last byte, run count):
//   1. while the run count is below 4, copy source bytes, extending or restarting the run;
//   2. stop if the destination is full;
//   3. swallow further copies of the last byte (without writing them) up to a run of 259;
//   4. stop if the source is used up: the run goes on in the next call or ends at the flush;
//   5. write the count byte, clear the run count (the last byte stays, so an equal byte starts a run of 1) and
//      go back to 1.
extern "C" KelStatus n8_kelsEncodeRLE_BZ2_8u(const Kel8u** ppSrc, int* pSrcLen, Kel8u* pDst, int* pDstLen,
                                             Kel8u* pRLEState) {
    if (ppSrc == nullptr || pDst == nullptr || pSrcLen == nullptr || pDstLen == nullptr) return kelStatusNullPointer;
    if (*ppSrc == nullptr || pRLEState == nullptr) return kelStatusNullPointer;
    if (*pSrcLen < 1) return kelStatusBadSize;
    if (*pDstLen < 1) return kelStatusBadSize;

    const Kel8u* src = *ppSrc;
    const Kel8u* const srcEnd = src + *pSrcLen;
    const int dstCap = *pDstLen;
    Kel8u* const inUse = pRLEState;
    RleRegs r = n8_loadRegs(pRLEState);
    int out = 0;

    for (;;) {
        // Step 1. Literal bytes dominate real data: copy them with one compare each until a run of 4 forms.
        while (r.count < 4) {
            if (src == srcEnd || out == dstCap) goto done;
            const int b = *src++;
            pDst[out++] = static_cast<Kel8u>(b);
            inUse[b] = 1;
            r.count = (b == r.last) ? r.count + 1 : 1;
            r.last = b;
        }
        // Step 2.
        if (out == dstCap) break;
        // Step 3. A corrupt state may hold a count above 259; it then takes no further bytes.
        while (r.count < kMaxRun && src != srcEnd && *src == r.last) {
            ++src;
            ++r.count;
        }
        // Step 4.
        if (src == srcEnd) break;
        // Step 5. Room for the count byte was checked in step 2 and step 3 wrote nothing.
        const Kel8u c = static_cast<Kel8u>(r.count - 4);
        pDst[out++] = c;
        inUse[c] = 1;
        r.count = 0;
    }
done:
    const int remaining = static_cast<int>(srcEnd - src);
    n8_storeRegs(pRLEState, r);
    *ppSrc = src;
    *pSrcLen = remaining;
    *pDstLen = out;
    return remaining > 0 ? kelStatusDstFull : kelStatusOk;
}

extern "C" KelStatus n8_kelsEncodeRLEFlush_BZ2_8u(Kel8u* pDst, int* pDstLen, Kel8u* pRLEState) {
    if (pDst == nullptr || pDstLen == nullptr || pRLEState == nullptr) return kelStatusNullPointer;
    if (*pDstLen < 1) return kelStatusBadSize;
    RleRegs r = n8_loadRegs(pRLEState);
    *pDstLen = 0;
    if (r.count >= 4) {
        const Kel8u c = static_cast<Kel8u>(r.count - 4);
        pDst[0] = c;
        pRLEState[c] = 1;
        r.count = 0;
        n8_storeRegs(pRLEState, r);
        *pDstLen = 1;
    }
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsRLEGetInUseTable_8u(Kel8u inUse[256], const Kel8u* pRLEState) {
    if (inUse == nullptr || pRLEState == nullptr) return kelStatusNullPointer;
    n8_ownsCopy_8u(pRLEState, inUse, 256);
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsDecodeRLEStateInit_BZ2_8u(Kel8u* pRLEState) {
    if (pRLEState == nullptr) return kelStatusNullPointer;
    n8_storeRegs(pRLEState, RleRegs{-1, 0});
    return kelStatusOk;
}

// Decoder. Pending copies go first; then the source is scanned: at a position with a count byte still inside the
// source (p + 4 < length), four equal bytes and the count form a run, anything else is a literal. The last four
// positions can therefore only be literals; four equal bytes that end the source without their count byte (a
// malformed or split source) come out as four literals. The call stops with the destination full: a run that did
// not fit leaves its remaining copies (merged with directly following runs of the same byte) pending, a literal
// simply stays unconsumed. Whenever source bytes or pending copies remain the status is kelStatusDstFull.
extern "C" KelStatus n8_kelsDecodeRLEState_BZ2_8u(const Kel8u** ppSrc, int* pSrcLen, Kel8u** ppDst, int* pDstLen,
                                                  Kel8u* pRLEState) {
    if (ppSrc == nullptr || pSrcLen == nullptr || ppDst == nullptr || pDstLen == nullptr) return kelStatusNullPointer;
    if (*ppSrc == nullptr || *ppDst == nullptr || pRLEState == nullptr) return kelStatusNullPointer;
    if (*pSrcLen < 1) return kelStatusBadSize;
    if (*pDstLen < 1) return kelStatusBadSize;

    const Kel8u* const src = *ppSrc;
    const int srcLen = *pSrcLen;
    Kel8u* dst = *ppDst;
    int room = *pDstLen;
    RleRegs r = n8_loadRegs(pRLEState);
    KelStatus status = kelStatusOk;
    int p = 0;

    if (r.count > 0) {
        if (r.count > room) {
            n8_ownsSet_8u(static_cast<Kel8u>(r.last), dst, room);
            r.count -= room;
            dst += room;
            room = 0;
            n8_storeRegs(pRLEState, r);
            *ppDst = dst;
            *pDstLen = 0;
            return kelStatusDstFull;
        }
        n8_ownsSet_8u(static_cast<Kel8u>(r.last), dst, r.count);
        dst += r.count;
        room -= r.count;
        r = RleRegs{-1, 0};
    }

    const int runLimit = srcLen - 4;  // positions below this have their count byte inside the source
    while (p < srcLen) {
        if (room == 0) {
            status = kelStatusDstFull;
            break;
        }
        // Literals dominate: 16 positions at a time are tested for the start of four equal bytes (each byte
        // against the next three); with no start all 16 are copied in one store, else the literals before the
        // first start without testing each. The loads reach p + 18, and every position tested lies below
        // runLimit, as the byte-wise test requires.
        if (p + 20 <= srcLen && room >= 16) {
            const Vec128 v0 = n8_loadu(src + p);
            const Vec128 v1 = n8_loadu(src + p + 1);
            const Vec128 v2 = n8_loadu(src + p + 2);
            const Vec128 v3 = n8_loadu(src + p + 3);
            const int starts = n8_movemask8(n8_and(n8_and(n8_cmpeq8(v0, v1), n8_cmpeq8(v1, v2)), n8_cmpeq8(v2, v3)));
            if (starts == 0) {
                n8_storeu(dst, v0);
                p += 16;
                dst += 16;
                room -= 16;
                continue;
            }
            // Byte by byte up to the start, so that nothing past the output is touched when the call ends there.
            const int lit = __builtin_ctz(static_cast<unsigned>(starts));
            for (int k = 0; k < lit; ++k) dst[k] = src[p + k];
            p += lit;
            dst += lit;
            room -= lit;
        }
        if (p < runLimit && n8_fourEqual(src + p)) {
            const Kel8u b = src[p];
            int run = 4 + src[p + 4];
            p += 5;
            if (run <= room) {
                n8_ownsSet_8u(b, dst, run);
                dst += run;
                room -= run;
                continue;
            }
            while (p < runLimit && run < kMaxPending && src[p] == b && n8_fourEqual(src + p)) {
                run += 4 + src[p + 4];
                p += 5;
            }
            n8_ownsSet_8u(b, dst, room);
            dst += room;
            r = RleRegs{b, run - room};
            room = 0;
            status = kelStatusDstFull;
            break;
        }
        *dst++ = src[p++];
        --room;
    }

    n8_storeRegs(pRLEState, r);
    *ppSrc = src + p;
    *pSrcLen = srcLen - p;
    *ppDst = dst;
    *pDstLen = room;
    if (p < srcLen) status = kelStatusDstFull;
    return status;
}

extern "C" KelStatus n8_kelsDecodeRLEStateFlush_BZ2_8u(Kel8u* pRLEState, Kel8u** ppDst, int* pDstLen) {
    if (pRLEState == nullptr || ppDst == nullptr || pDstLen == nullptr || *ppDst == nullptr) {
        return kelStatusNullPointer;
    }
    RleRegs r = n8_loadRegs(pRLEState);
    const int room = *pDstLen > 0 ? *pDstLen : 0;
    const int pending = r.count > 0 ? r.count : 0;
    const int n = pending < room ? pending : room;
    n8_ownsSet_8u(static_cast<Kel8u>(r.last), *ppDst, n);
    *ppDst += n;
    *pDstLen -= n;
    r.count = pending - n;
    if (pending > room) {
        n8_storeRegs(pRLEState, r);
        return kelStatusDstFull;
    }
    r.last = -1;
    n8_storeRegs(pRLEState, r);
    return kelStatusOk;
}

// rank(v) = number of in-use values below v, one running sum over the table.
extern "C" KelStatus n8_kelsReduceDictionary_8u_I(const Kel8u inUse[256], Kel8u* pSrcDst, int srcDstLen,
                                                  int* pSizeDictionary) {
    if (inUse == nullptr || pSrcDst == nullptr) return kelStatusNullPointer;
    if (pSizeDictionary == nullptr) return kelStatusNullPointer;
    if (srcDstLen < 1) return kelStatusBadSize;
    Kel8u rank[256];
    int used = 0;
    for (int v = 0; v < 256; ++v) {
        rank[v] = static_cast<Kel8u>(used);
        used += inUse[v] != 0;
    }
    for (int i = 0; i < srcDstLen; ++i) pSrcDst[i] = rank[pSrcDst[i]];
    *pSizeDictionary = used;
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsExpandDictionary_8u_I(const Kel8u inUse[256], Kel8u* pSrcDst, int srcDstLen,
                                                  int sizeDictionary) {
    if (inUse == nullptr) return kelStatusNullPointer;
    if (pSrcDst == nullptr) return kelStatusNullPointer;
    if (srcDstLen < 1) return kelStatusBadSize;
    if (sizeDictionary < 1) return kelStatusBadSize;
    Kel8u value[256];
    int used = 0;
    for (int v = 0; v < 256; ++v) {
        value[v] = static_cast<Kel8u>(v);  // ranks at or above the dictionary size stay as they are
    }
    for (int v = 0; v < 256; ++v) {
        if (inUse[v] != 0) value[used++] = static_cast<Kel8u>(v);
    }
    if (used != sizeDictionary) return kelStatusError;
    for (int i = 0; i < srcDstLen; ++i) pSrcDst[i] = value[pSrcDst[i]];
    return kelStatusOk;
}

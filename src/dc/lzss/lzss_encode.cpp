// src/dc/lzss/lzss_encode.cpp - the LZSS encoder: hash chains over a 32 KiB window, longest of 16 candidates.
//
// Items go out most significant bit first: a literal is 1 and the byte (9 bits), a match 0, the distance (15 bits)
// and the length - 3 (8 bits). Positions count bytes from Init across all calls; the tables hold positions, so a
// match into an earlier chunk needs no translation, and the chain of position p lives at p mod 32768. Positions
// are rebased by a multiple of 32768 once they pass 2^30, which keeps them far from overflow without disturbing
// the chain slots. A candidate in the history is compared in the window, which holds the history followed by the
// first 258 bytes of the chunk, so a match may run from the history on into the chunk.
#include <string.h>

#include "core/dc_exports.h"
#include "dc/deflate/rand_vec.h"
#include "dc/lzss/lzss_internal.h"

namespace {

constexpr Kel32s kRebaseLimit = 1 << 30;

inline Kel32u n8_hash3(const Kel8u* p) {
    using kel::deflate::randVec;
    return randVec[p[0]] ^ randVec[256 + p[1]] ^ randVec[512 + p[2]];
}

// Bits collect in the low end of a 64-bit buffer; whole bytes leave from its top as long as the destination has
// room. At most 7 + 24 bits are pending between items, so the buffer never overflows.
struct BitSink {
    Kel64u buf;
    Kel32s count;
    Kel8u* dst;
    Kel32u room;

    void put(Kel32u value, int nBits) {
        buf = (buf << nBits) | value;
        count += nBits;
    }
    // Moves whole bytes out; returns false when the destination is full.
    bool drain() {
        while (count >= 8 && room > 0) {
            count -= 8;
            *dst++ = static_cast<Kel8u>(buf >> count);
            --room;
        }
        buf &= count ? (~0ull >> (64 - count)) : 0;
        return room > 0;
    }
};

void n8_rebase(LzssStateLayout* st, Kel32s shift) {
    for (int k = 0; k < 32768; ++k) {
        st->head[k] = st->head[k] - shift < kLzssEmpty ? kLzssEmpty : st->head[k] - shift;
        st->chain[k] = st->chain[k] - shift < kLzssEmpty ? kLzssEmpty : st->chain[k] - shift;
    }
    st->header.enc.streamPos -= shift;
}

// Appends the consumed bytes of the chunk to the history, keeping its last 32768 bytes.
void n8_updateWindow(LzssStateLayout* st, const Kel8u* chunk, Kel32s consumed) {
    Kel32s history = st->header.enc.historyLen;
    if (consumed >= kLzssWindowSize) {
        memcpy(st->window, chunk + consumed - kLzssWindowSize, kLzssWindowSize);
        history = kLzssWindowSize;
    } else {
        const Kel32s keep = history < kLzssWindowSize - consumed ? history : kLzssWindowSize - consumed;
        memmove(st->window, st->window + history - keep, static_cast<size_t>(keep));
        memcpy(st->window + keep, chunk, static_cast<size_t>(consumed));
        history = keep + consumed;
    }
    st->header.enc.historyLen = history;
}

}  // namespace

extern "C" KelStatus n8_kelsEncodeLZSSInit_8u(LZSSState_8u* pLZSSState) {
    if (pLZSSState == nullptr) return kelStatusNullPointer;
    auto* st = reinterpret_cast<LzssStateLayout*>(pLZSSState);
    memset(&st->header, 0, sizeof st->header);
    st->header.enc.magic = kLzssEncoderMagic;
    for (int k = 0; k < 32768; ++k) st->head[k] = kLzssEmpty;
    for (int k = 0; k < 32768; ++k) st->chain[k] = kLzssEmpty;
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsEncodeLZSS_8u(const Kel8u** ppSrc, Kel32u* pSrcLen, Kel8u** ppDst, Kel32u* pDstLen,
                                          LZSSState_8u* pLZSSState) {
    if (ppSrc == nullptr || ppDst == nullptr || pLZSSState == nullptr || pSrcLen == nullptr || pDstLen == nullptr ||
        *ppSrc == nullptr || *ppDst == nullptr) {
        return kelStatusNullPointer;
    }
    if (*pDstLen == 0) return kelStatusDstFull;
    if (*pSrcLen == 0) return kelStatusOk;

    auto* st = reinterpret_cast<LzssStateLayout*>(pLZSSState);
    LzssEncoderHeader& hdr = st->header.enc;
    BitSink sink{hdr.bitBuf, hdr.bitCount, *ppDst, *pDstLen};
    const Kel8u* chunk = *ppSrc;
    // A call codes at most 2^30 bytes, so positions stay below 2^31 after the rebase below.
    const Kel32s len = *pSrcLen > Kel32u(kRebaseLimit) ? kRebaseLimit : static_cast<Kel32s>(*pSrcLen);
    KelStatus status = kelStatusOk;
    Kel32s p = 0;  // offset in the chunk of the next byte to code

    if (!sink.drain()) {
        status = kelStatusDstFull;  // bits left by an earlier call fill the destination on their own
    } else {
        if (hdr.streamPos > kRebaseLimit) n8_rebase(st, (hdr.streamPos - kLzssWindowSize) & ~(kLzssWindowSize - 1));
        const Kel32s base = hdr.streamPos;  // position of chunk[0]
        const Kel32s history = hdr.historyLen;
        const Kel8u* windowAtBase = st->window + history;  // window byte of position base + k, for k < 0
        memcpy(st->window + history, chunk, static_cast<size_t>(len < kLzssMaxMatch ? len : kLzssMaxMatch));

        while (p + 2 < len) {
            const Kel8u* cur = chunk + p;
            const Kel32s pos = base + p;
            const Kel32u h = n8_hash3(cur);
            Kel32s cand = st->head[h];
            st->chain[pos & (kLzssWindowSize - 1)] = cand;
            st->head[h] = pos;

            const Kel32s remaining = len - p - 2;
            const Kel32s limit = remaining < kLzssMaxMatch ? remaining : kLzssMaxMatch;
            Kel32s best = 2, bestDist = 0;
            for (int steps = 0; steps < kLzssMaxChain && best < limit; ++steps) {
                const Kel32s dist = pos - cand;
                if (dist >= kLzssWindowSize) break;
                const Kel8u* c = cand >= base ? chunk + (cand - base) : windowAtBase + (cand - base);
                if (c[best - 1] == cur[best - 1] && c[best] == cur[best]) {
                    Kel32s n = 0;
                    while (n < limit && c[n] == cur[n]) ++n;
                    if (n > best) {
                        best = n;
                        bestDist = dist;
                    }
                }
                cand = st->chain[cand & (kLzssWindowSize - 1)];
            }

            if (bestDist) {
                sink.put((Kel32u(bestDist) << 8) | Kel32u(best - kLzssMinMatch), 24);
                for (Kel32s q = p + 1; q < p + best; ++q) {
                    const Kel32u hq = n8_hash3(chunk + q);
                    st->chain[(base + q) & (kLzssWindowSize - 1)] = st->head[hq];
                    st->head[hq] = base + q;
                }
                p += best;
            } else {
                sink.put(0x100u | cur[0], 9);
                ++p;
            }
            if (!sink.drain()) break;
        }
        // The last two bytes of the chunk are always literals.
        while (sink.room > 0 && p < len) {
            sink.put(0x100u | chunk[p], 9);
            ++p;
            sink.drain();
        }
        if (p < len || Kel32u(len) < *pSrcLen) status = sink.room == 0 ? kelStatusDstFull : kelStatusOk;
        n8_updateWindow(st, chunk, p);
        hdr.streamPos = base + p;
    }

    hdr.bitBuf = sink.buf;
    hdr.bitCount = sink.count;
    *ppSrc = chunk + p;
    *pSrcLen -= Kel32u(p);
    *ppDst = sink.dst;
    *pDstLen = sink.room;
    return status;
}

extern "C" KelStatus n8_kelsEncodeLZSSFlush_8u(Kel8u** ppDst, Kel32u* pDstLen, LZSSState_8u* pLZSSState) {
    if (ppDst == nullptr || pDstLen == nullptr || pLZSSState == nullptr || *ppDst == nullptr) {
        return kelStatusNullPointer;
    }
    if (*pDstLen < 1) return kelStatusBadSize;
    LzssEncoderHeader& hdr = reinterpret_cast<LzssStateLayout*>(pLZSSState)->header.enc;
    BitSink sink{hdr.bitBuf, hdr.bitCount, *ppDst, *pDstLen};
    if (sink.count % 8) sink.put(0, 8 - sink.count % 8);  // pad the last byte with zero bits
    sink.drain();
    hdr.bitBuf = sink.buf;
    hdr.bitCount = sink.count;
    *ppDst = sink.dst;
    *pDstLen = sink.room;
    return sink.count ? kelStatusDstFull : kelStatusOk;
}

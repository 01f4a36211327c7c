// src/dc/lzss/lzss_decode.cpp - the LZSS decoder: resumable at any bit, any output byte, inside any match.
//
// Up to 31 bits are held in a 32-bit buffer aligned to its top; an item is taken only when all its bits are
// held (9 for a literal, 24 for a match), so a source that ends inside an item simply leaves it for the next
// call. Output of earlier calls is kept in a 32768-byte ring, which every distance (15 bits) reaches without
// leaving the state block; a distance beyond the output produced since Init reads whatever the ring holds.
#include <stddef.h>
#include <string.h>

#include "core/dc_exports.h"
#include "dc/lzss/lzss_internal.h"

namespace {

constexpr Kel32u kRingMask = kLzssWindowSize - 1;

struct Output {
    Kel8u* start;
    Kel8u* op;
    Kel8u* end;
    const Kel8u* ring;
    Kel32u ringPos;

    // Copies up to len bytes of a match at distance dist; returns the number copied. Bytes before this call's
    // output come from the ring; overlapping copies repeat their period, byte by byte.
    Kel32s copyMatch(Kel32u dist, Kel32s len) {
        Kel32s n = 0;
        while (n < len && op < end) {
            const Kel64u produced = static_cast<Kel64u>(op - start);
            *op = dist <= produced ? op[-static_cast<ptrdiff_t>(dist)]
                                   : ring[(ringPos - (dist - produced)) & kRingMask];
            ++op;
            ++n;
        }
        return n;
    }
};

}  // namespace

extern "C" KelStatus n8_kelsDecodeLZSSInit_8u(LZSSState_8u* pLZSSState) {
    if (pLZSSState == nullptr) return kelStatusNullPointer;
    auto* st = reinterpret_cast<LzssStateLayout*>(pLZSSState);
    memset(&st->header, 0, sizeof st->header);
    st->header.dec.magic = kLzssDecoderMagic;
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsDecodeLZSS_8u(const Kel8u** ppSrc, Kel32u* pSrcLen, Kel8u** ppDst, Kel32u* pDstLen,
                                          LZSSState_8u* pLZSSState) {
    if (ppSrc == nullptr || pSrcLen == nullptr || ppDst == nullptr || pDstLen == nullptr || pLZSSState == nullptr ||
        *ppSrc == nullptr || *ppDst == nullptr) {
        return kelStatusNullPointer;
    }
    if (*pDstLen < 1) return kelStatusBadSize;

    auto* st = reinterpret_cast<LzssStateLayout*>(pLZSSState);
    LzssDecoderHeader& hdr = st->header.dec;
    const Kel8u* ip = *ppSrc;
    const Kel8u* const ipEnd = ip + *pSrcLen;
    Output out{*ppDst, *ppDst, *ppDst + *pDstLen, st->window, hdr.ringPos};
    Kel32u bitBuf = hdr.bitBuf;
    Kel32s bitCount = hdr.bitCount;

    if (hdr.pendingLen > 0) hdr.pendingLen -= out.copyMatch(Kel32u(hdr.pendingDist), hdr.pendingLen);
    while (hdr.pendingLen == 0 && out.op < out.end) {
        while (bitCount < 24 && ip < ipEnd) {
            bitBuf |= Kel32u(*ip++) << (24 - bitCount);
            bitCount += 8;
        }
        if (bitBuf & 0x80000000u) {
            if (bitCount < 9) break;
            *out.op++ = static_cast<Kel8u>(bitBuf >> 23);
            bitBuf <<= 9;
            bitCount -= 9;
        } else {
            if (bitCount < 24) break;
            const Kel32u dist = (bitBuf >> 16) & 0x7FFF;
            const Kel32s len = static_cast<Kel32s>((bitBuf >> 8) & 0xFF) + kLzssMinMatch;
            bitBuf <<= 24;
            bitCount -= 24;
            hdr.pendingDist = static_cast<Kel32s>(dist);
            hdr.pendingLen = len - out.copyMatch(dist, len);
        }
    }

    // The ring keeps the last 32768 bytes of output.
    const Kel64u produced = static_cast<Kel64u>(out.op - out.start);
    const Kel8u* tail = produced > kLzssWindowSize ? out.op - kLzssWindowSize : out.start;
    for (; tail < out.op; ++tail) st->window[hdr.ringPos++ & kRingMask] = *tail;
    hdr.ringPos &= kRingMask;
    hdr.bitBuf = bitBuf;
    hdr.bitCount = bitCount;
    *ppSrc = ip;
    *pSrcLen = static_cast<Kel32u>(ipEnd - ip);
    *ppDst = out.op;
    *pDstLen = static_cast<Kel32u>(out.end - out.op);
    return out.op == out.end ? kelStatusDstFull : kelStatusOk;
}

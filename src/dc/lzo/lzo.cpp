// src/dc/lzo/lzo.cpp - the LZO1X functions: argument checks, the encoder state, and the multi-part container.
//
// Both decoders run the same fully checked kernel: the checks cost one comparison per instruction, which the
// benchmark shows to be below the noise, so trusting the input buys nothing and would make one of the two
// decoders unsafe on hostile data.
#include "core/dc_exports.h"
#include "dc/lzo/lzo_internal.h"

namespace {

constexpr Kel8u kContainerMagic = 0x55;
constexpr Kel32u kMaxParts = 32;

inline Kel32u n8_readLe32(const Kel8u* p) {
    return Kel32u(p[0]) | (Kel32u(p[1]) << 8) | (Kel32u(p[2]) << 16) | (Kel32u(p[3]) << 24);
}

// Recognises the multi-part container: magic, a part count of 1 to 32 with its check byte, a header that fits in
// the source, and a first part that lies inside the source and ends with the end marker 17 0 0.
bool n8_isContainer(const Kel8u* src, Kel32u srcLen) {
    if (srcLen <= 3 || src[0] != kContainerMagic) return false;
    const Kel32u parts = src[1];
    if (parts < 1 || parts > kMaxParts || src[2] != (parts ^ kContainerMagic)) return false;
    const Kel64u headerLen = 3 + 4ull * parts;
    if (headerLen > srcLen) return false;
    const Kel64u firstLen = parts == 1 ? srcLen - headerLen : n8_readLe32(src + 7);
    if (firstLen < 3 || headerLen + firstLen > srcLen) return false;
    const Kel8u* last3 = src + headerLen + firstLen - 3;
    return last3[0] == 17 && last3[1] == 0 && last3[2] == 0;
}

// Decodes every part into its slice of the destination. Part i holds total / parts bytes at i * (total / parts),
// the last one the remainder as well. A part that runs past the source or the capacity, or past its own slice,
// is broken; the statuses of the parts combine to the last failing one.
KelStatus n8_decodeContainer(const Kel8u* src, Kel32u srcLen, Kel8u* dst, Kel32u cap, Kel32u* pOut) {
    const Kel32u parts = src[1];
    const Kel32u total = n8_readLe32(src + 3);
    const Kel32u slice = total / parts;
    Kel64u offset = 3 + 4ull * parts;
    Kel64u written = 0;
    KelStatus status = kelStatusOk;
    for (Kel32u i = 0; i < parts; ++i) {
        const Kel64u partLen = i + 1 < parts ? n8_readLe32(src + 7 + 4 * i) : srcLen - offset;
        const Kel64u dstOffset = Kel64u(i) * slice;
        const Kel64u sliceLen = i + 1 < parts ? slice : slice + total % parts;
        if (offset + partLen > srcLen || dstOffset + sliceLen > cap) {
            status = kelStatusLZOBrokenStream;
            break;
        }
        Kel32u produced = 0;
        const KelStatus partStatus = n8_ownDecodeLZO1X(src + offset, Kel32u(partLen), dst + dstOffset,
                                                       Kel32u(sliceLen), &produced);
        if (partStatus != kelStatusOk) status = partStatus;
        written += produced;
        offset += partLen;
    }
    *pOut = static_cast<Kel32u>(written);
    return status;
}

KelStatus n8_decodeLzo(const Kel8u* pSrc, Kel32u srcLen, Kel8u* pDst, Kel32u* pDstLen) {
    if (pSrc == nullptr || pDst == nullptr || pDstLen == nullptr) return kelStatusNullPointer;
    if (srcLen == 0 || (srcLen >= 3 && pSrc[0] == 17 && pSrc[1] == 0 && pSrc[2] == 0)) {
        *pDstLen = 0;
        return kelStatusOk;
    }
    Kel32u produced = 0;
    const KelStatus status = n8_isContainer(pSrc, srcLen)
                                 ? n8_decodeContainer(pSrc, srcLen, pDst, *pDstLen, &produced)
                                 : n8_ownDecodeLZO1X(pSrc, srcLen, pDst, *pDstLen, &produced);
    *pDstLen = produced;
    return status;
}

}  // namespace

extern "C" KelStatus n8_kelsEncodeLZOGetSize(int method, Kel32u /*maxSrcLen*/, Kel32u* pSize) {
    if (pSize == nullptr) return kelStatusNullPointer;
    if (method != 0 && method != 1) {
        *pSize = 0;
        return kelStatusBadArgument;
    }
    *pSize = kLzoStateSize;
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsEncodeLZOInit_8u(int method, Kel32u /*maxSrcLen*/, LZOState_8u* pLZOState) {
    if (pLZOState == nullptr) return kelStatusNullPointer;
    if (method != 0 && method != 1) return kelStatusBadArgument;
    reinterpret_cast<LzoEncoderState*>(pLZOState)->mode = 0;
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsEncodeLZO_8u(const Kel8u* pSrc, Kel32u srcLen, Kel8u* pDst, Kel32u* pDstLen,
                                         LZOState_8u* pLZOState) {
    if (pLZOState == nullptr || pSrc == nullptr || pDst == nullptr || pDstLen == nullptr) return kelStatusNullPointer;
    if (srcLen == 0) {
        *pDstLen = 0;
        return kelStatusOk;
    }
    *pDstLen = n8_ownEncodeLZO1X(pSrc, srcLen, pDst, reinterpret_cast<LzoEncoderState*>(pLZOState));
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsDecodeLZO_8u(const Kel8u* pSrc, Kel32u srcLen, Kel8u* pDst, Kel32u* pDstLen) {
    return n8_decodeLzo(pSrc, srcLen, pDst, pDstLen);
}

extern "C" KelStatus n8_kelsDecodeLZOSafe_8u(const Kel8u* pSrc, Kel32u srcLen, Kel8u* pDst, Kel32u* pDstLen) {
    return n8_decodeLzo(pSrc, srcLen, pDst, pDstLen);
}

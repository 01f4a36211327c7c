// src/dc/lzo/lzo.cpp - the LZO1X functions: argument checks, the encoder state, and the multi-part container.
//
// Both decoders run the same fully checked kernel: the checks cost one comparison per instruction, which the
// benchmark shows to be below the noise, so trusting the input buys nothing and would make one of the two
// decoders unsafe on hostile data. The one thing the trusting decoder gives up when asked to is the capacity:
// a caller that passes 0 vouches for the destination, and the kernel then writes exactly the stream's output.
//
// The container header is not self-evident: a plain stream whose first instruction is a run of 68 literals
// starts with 0x55, and its next literals may look like a part count and its check byte. So the container is
// taken only when the whole source agrees with it (see n8_isContainer), and never when the source is itself one
// complete stream, which every encoder output is.
#include "core/dc_exports.h"
#include "dc/lzo/lzo_internal.h"

namespace {

constexpr Kel8u kContainerMagic = 0x55;
constexpr Kel32u kMaxParts = 32;

inline Kel32u n8_readLe32(const Kel8u* p) {
    return Kel32u(p[0]) | (Kel32u(p[1]) << 8) | (Kel32u(p[2]) << 16) | (Kel32u(p[3]) << 24);
}

// Where part i of a container with a valid header lies in the destination: total / parts bytes at
// i * (total / parts), the last part taking the remainder as well. Both stay within total, a 32-bit value.
struct LzoSlice {
    Kel32u offset;
    Kel32u length;
};

inline LzoSlice n8_sliceOf(Kel32u i, Kel32u parts, Kel32u total) {
    const Kel32u slice = total / parts;
    return {i * slice, i + 1 < parts ? slice : slice + total % parts};
}

// Recognises the multi-part container. The header must hold (magic, a part count of 1 to 32 with its check byte,
// the size table inside the source), the parts must tile the source exactly, and each part must be one complete
// stream that ends with its end marker at its last byte and produces exactly its slice. Even then a source that
// reads as one complete plain stream is taken as that stream: no LZO1X encoder writes the container, and every
// one writes such a stream. The scans write nothing; they read the source at most twice before it is decoded.
bool n8_isContainer(const Kel8u* src, Kel32u srcLen) {
    if (srcLen <= 3 || src[0] != kContainerMagic) return false;
    const Kel32u parts = src[1];
    if (parts < 1 || parts > kMaxParts || src[2] != (parts ^ kContainerMagic)) return false;
    const Kel64u headerLen = 3 + 4ull * parts;
    if (headerLen > srcLen) return false;
    const Kel32u total = n8_readLe32(src + 3);
    Kel64u offset = headerLen;
    for (Kel32u i = 0; i < parts; ++i) {
        const Kel64u partLen = i + 1 < parts ? n8_readLe32(src + 7 + 4 * i) : srcLen - offset;
        if (partLen > srcLen - offset) return false;
        Kel32u produced = 0, used = 0;
        if (n8_ownScanLZO1X(src + offset, Kel32u(partLen), &produced, &used) != kelStatusOk || used != partLen ||
            produced != n8_sliceOf(i, parts, total).length) {
            return false;
        }
        offset += partLen;
    }
    Kel32u produced = 0, used = 0;
    return n8_ownScanLZO1X(src, srcLen, &produced, &used) != kelStatusOk || used != srcLen;
}

// Decodes every part of a recognised container into its slice of dst[0, cap); a destination that the caller
// vouches for gets cap 2^32 - 1, which no slice passes (slices end at the 32-bit total). A slice past the
// capacity is broken, and so are the parts after it; the statuses of the parts combine to the last failing one
// and the lengths written add up.
KelStatus n8_decodeContainer(const Kel8u* src, Kel32u srcLen, Kel8u* dst, Kel64u cap, Kel32u* pOut) {
    const Kel32u parts = src[1];
    const Kel32u total = n8_readLe32(src + 3);
    Kel64u offset = 3 + 4ull * parts;
    Kel64u written = 0;
    KelStatus status = kelStatusOk;
    for (Kel32u i = 0; i < parts; ++i) {
        const Kel64u partLen = i + 1 < parts ? n8_readLe32(src + 7 + 4 * i) : srcLen - offset;
        const LzoSlice slice = n8_sliceOf(i, parts, total);
        if (Kel64u(slice.offset) + slice.length > cap) {
            status = kelStatusLZOBrokenStream;
            break;
        }
        Kel32u produced = 0, used = 0;
        const KelStatus partStatus =
            n8_ownDecodeLZO1X(src + offset, Kel32u(partLen), dst + slice.offset, slice.length, &produced, &used);
        if (partStatus != kelStatusOk) status = partStatus;
        written += produced;
        offset += partLen;
    }
    *pOut = static_cast<Kel32u>(written);
    return status;
}

// Both decoders. With trusted set, an incoming *pDstLen of 0 means "no capacity": the caller vouches for the
// destination, and a plain stream is decoded without a capacity and without writing past its own output.
KelStatus n8_decodeLzo(const Kel8u* pSrc, Kel32u srcLen, Kel8u* pDst, Kel32u* pDstLen, bool trusted) {
    if (pSrc == nullptr || pDst == nullptr || pDstLen == nullptr) return kelStatusNullPointer;
    if (srcLen == 0) {
        *pDstLen = 0;
        return kelStatusOk;
    }
    const Kel32u cap = *pDstLen;
    const bool noCapacity = trusted && cap == 0;
    Kel32u produced = 0, used = 0;
    KelStatus status;
    if (n8_isContainer(pSrc, srcLen)) {
        status = n8_decodeContainer(pSrc, srcLen, pDst, noCapacity ? 0xFFFFFFFFull : cap, &produced);
    } else if (noCapacity) {
        status = n8_ownDecodeLZO1XExact(pSrc, srcLen, pDst, &produced, &used);
    } else {
        status = n8_ownDecodeLZO1X(pSrc, srcLen, pDst, cap, &produced, &used);
    }
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
    return n8_decodeLzo(pSrc, srcLen, pDst, pDstLen, true);
}

extern "C" KelStatus n8_kelsDecodeLZOSafe_8u(const Kel8u* pSrc, Kel32u srcLen, Kel8u* pDst, Kel32u* pDstLen) {
    return n8_decodeLzo(pSrc, srcLen, pDst, pDstLen, false);
}

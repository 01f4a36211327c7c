// src/dc/lz4/lz4_decode_ref.cpp - the careful LZ4 block decoder: every read and write is checked first.
//
// This is the readable definition of the decoder and the oracle of its SSSE3 twin, which runs a loop without
// per-copy checks while both buffers have wide margins left and hands the rest of the block to the same careful
// loop (n8_ownsDecodeLZ4Tail). Besides the buffer ends, every match offset is checked against the bytes already
// decoded: an offset of 0 or one reaching before the destination has no meaning in a block decoded on its own
// and is reported as a malformed block, as is a block cut inside an offset or a length extension.
#include "dc/lz4/lz4_internal.h"

namespace {

// Reads a length extension, adding each byte to *pLen until a byte below 255 ends the run. Returns false when
// the source ends first. The sum cannot overflow: at most 2^31 bytes of 255 fit in a source.
inline bool n8_readExtension(const Kel8u*& ip, const Kel8u* srcEnd, size_t* pLen) {
    size_t len = *pLen;
    for (;;) {
        if (ip == srcEnd) return false;
        const unsigned b = *ip++;
        len += b;
        if (b != 255) break;
    }
    *pLen = len;
    return true;
}

}  // namespace

KelStatus n8_ownsDecodeLZ4Tail(const Kel8u* ip, const Kel8u* srcEnd, Kel8u* pDst, Kel8u* op, Kel8u* dstEnd,
                               int* pDstLen) {
    for (;;) {
        if (ip == srcEnd) break;
        const unsigned token = *ip++;
        size_t litLen = token >> 4;
        if (litLen == 15 && !n8_readExtension(ip, srcEnd, &litLen)) goto malformed;
        if (litLen > size_t(dstEnd - op) || litLen > size_t(srcEnd - ip)) goto malformed;
        __builtin_memcpy(op, ip, litLen);
        op += litLen;
        ip += litLen;
        if (ip == srcEnd) break;

        if (srcEnd - ip < 2) goto malformed;
        {
            const size_t offset = size_t(ip[0]) | size_t(ip[1]) << 8;
            ip += 2;
            size_t matchLen = token & 15;
            if (matchLen == 15 && !n8_readExtension(ip, srcEnd, &matchLen)) goto malformed;
            matchLen += 4;
            if (matchLen > size_t(dstEnd - op)) goto malformed;
            if (offset == 0 || offset > size_t(op - pDst)) goto malformed;
            // The match repeats the offset bytes before op. Copying from the fixed start in pieces no longer than
            // the distance already covered keeps every piece free of overlap, and since each piece lands a
            // multiple of offset away from its source, the repetition is exact; the pieces double in size.
            const Kel8u* const match = op - offset;
            while (matchLen) {
                const size_t span = size_t(op - match);
                const size_t n = matchLen < span ? matchLen : span;
                __builtin_memcpy(op, match, n);
                op += n;
                matchLen -= n;
            }
        }
    }
    *pDstLen = int(op - pDst);
    return kelStatusOk;

malformed:
    *pDstLen = -1;
    return kelStatusStreamOverrun;
}

KelStatus n8_ownsDecodeLZ4_8u_ref(const Kel8u* pSrc, int srcLen, Kel8u* pDst, int* pDstLen) {
    return n8_ownsDecodeLZ4Tail(pSrc, pSrc + srcLen, pDst, pDst, pDst + *pDstLen, pDstLen);
}

// src/primitives/copy_be.cpp - n8_kelsCopyBE_1u: copy a run of bits between arbitrary bit offsets.
//
// Bit k of a buffer is bit k % 8 of byte k / 8, least significant first, the order of a Deflate bit stream. The
// destination is written a byte at a time: a partial first byte and a partial last byte are merged with the bits
// around the run, whole bytes in between are assembled from at most two source bytes. When the source reaches a
// byte boundary together with the destination, the whole bytes are a plain byte copy. Only the bytes that hold
// bits of the two runs are read or written. Bit positions are 64-bit: an offset near INT_MAX plus a length near
// INT_MAX exceeds 32 bits.
#include "primitives/primitives.h"

namespace {

// nBits (1 to 8) bits from bit position pos of p, in the low bits of the result; reads the second byte only when
// the bits reach into it.
unsigned n8_getBits(const Kel8u* p, int64_t pos, int nBits) {
    const int64_t byte = pos >> 3;
    const int shift = static_cast<int>(pos & 7);
    unsigned bits = static_cast<unsigned>(p[byte]) >> shift;
    if (8 - shift < nBits) bits |= static_cast<unsigned>(p[byte + 1]) << (8 - shift);
    return bits & ((1u << nBits) - 1);
}

// Writes nBits (1 to 8) bits at bit position pos of p, within one byte, keeping the others of that byte.
void n8_putBits(Kel8u* p, int64_t pos, int nBits, unsigned bits) {
    const int shift = static_cast<int>(pos & 7);
    const unsigned mask = ((1u << nBits) - 1) << shift;
    Kel8u& b = p[pos >> 3];
    b = static_cast<Kel8u>((b & ~mask) | ((bits << shift) & mask));
}

}  // namespace

KelStatus n8_kelsCopyBE_1u(const Kel8u* pSrc, int srcBitOffset, Kel8u* pDst, int dstBitOffset, int len) {
    if (pSrc == nullptr || pDst == nullptr) return kelStatusNullPointer;
    if (srcBitOffset < 0 || dstBitOffset < 0 || len < 1) return kelStatusBadSize;
    int64_t src = srcBitOffset, dst = dstBitOffset, left = len;

    if ((dst & 7) != 0) {
        const int64_t room = 8 - (dst & 7);
        const int n = static_cast<int>(left < room ? left : room);
        n8_putBits(pDst, dst, n, n8_getBits(pSrc, src, n));
        src += n;
        dst += n;
        left -= n;
    }
    // dst is now on a byte boundary (or nothing is left).
    if (left >= 8) {
        const int64_t nBytes = left >> 3;
        if ((src & 7) == 0) {
            // nBytes <= INT_MAX / 8.
            n8_ownsCopy_8u(pSrc + (src >> 3), pDst + (dst >> 3), static_cast<int>(nBytes));
        } else {
            for (int64_t k = 0; k < nBytes; ++k)
                pDst[(dst >> 3) + k] = static_cast<Kel8u>(n8_getBits(pSrc, src + 8 * k, 8));
        }
        src += nBytes * 8;
        dst += nBytes * 8;
        left -= nBytes * 8;
    }
    if (left > 0) n8_putBits(pDst, dst, static_cast<int>(left), n8_getBits(pSrc, src, static_cast<int>(left)));
    return kelStatusOk;
}

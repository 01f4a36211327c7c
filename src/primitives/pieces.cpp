// src/primitives/pieces.cpp - byte counts beyond INT_MAX for the int-length byte kernels.
//
// The 2- and 4-byte element primitives take up to INT_MAX elements, up to 8 GiB. They hand the bytes to the byte
// kernels in pieces of at most pieceBytes (kPieceBytes, INT_MAX rounded down to a multiple of 32); arrays below
// 2 GiB are a single piece.
#include "primitives/primitives_internal.h"

namespace {

// pieceBytes <= INT_MAX, so the cast is exact.
int n8_pieceLen(size_t remaining, size_t pieceBytes) {
    return static_cast<int>(remaining < pieceBytes ? remaining : pieceBytes);
}

}  // namespace

void n8_ownCopyPieces(const Kel8u* pSrc, Kel8u* pDst, size_t nBytes, size_t pieceBytes) {
    for (size_t k = 0; k < nBytes; k += pieceBytes)
        n8_ownsCopy_8u(pSrc + k, pDst + k, n8_pieceLen(nBytes - k, pieceBytes));
}

void n8_ownMovePieces(const Kel8u* pSrc, Kel8u* pDst, size_t nBytes, size_t pieceBytes) {
    if (pSrc == pDst || nBytes == 0) return;
    if (reinterpret_cast<uintptr_t>(pDst) - reinterpret_cast<uintptr_t>(pSrc) >= nBytes) {
        // Destination below the source (or apart from it): a piece only overwrites source bytes of earlier pieces.
        for (size_t k = 0; k < nBytes; k += pieceBytes) {
            n8_ownsMove_8u(pSrc + k, pDst + k, n8_pieceLen(nBytes - k, pieceBytes));
        }
    } else {
        // Destination above the source: the last piece first, for the same reason. The first piece is the short one.
        size_t end = nBytes;
        while (end > 0) {
            const size_t piece = end < pieceBytes ? end : pieceBytes;
            end -= piece;
            n8_ownsMove_8u(pSrc + end, pDst + end, static_cast<int>(piece));
        }
    }
}

void n8_ownZeroPieces(Kel8u* pDst, size_t nBytes, size_t pieceBytes) {
    for (size_t k = 0; k < nBytes; k += pieceBytes) n8_ownsZero_8u(pDst + k, n8_pieceLen(nBytes - k, pieceBytes));
}

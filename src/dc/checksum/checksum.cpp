// src/dc/checksum/checksum.cpp - Adler-32, CRC-32, CRC-32C and the bzip2 CRC: argument checks and dispatch.
//
// Each function checks its arguments in the documented order and then runs its kernel, which takes any length;
// the kernels choose between their short and wide paths themselves. The checksum is written once, after the
// checks, so an error leaves it as it was.
#include "core/dc_exports.h"
#include "dc/checksum/checksum_internal.h"

extern "C" KelStatus n8_kelsAdler32_8u(const Kel8u* pSrc, int srcLen, Kel32u* pChecksum) {
    if (pChecksum == nullptr) return kelStatusNullPointer;
    if (pSrc == nullptr) {
        *pChecksum = 1;
        return kelStatusOk;
    }
    // A length of 0 or below processes no bytes; the halves are still reduced.
    *pChecksum = n8_ownsAdler32_8u(pSrc, srcLen > 0 ? static_cast<Kel32u>(srcLen) : 0, *pChecksum);
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsCRC32_8u(const Kel8u* pSrc, int srcLen, Kel32u* pChecksum) {
    if (pSrc == nullptr || pChecksum == nullptr) return kelStatusNullPointer;
    if (srcLen < 1) return kelStatusBadSize;
    *pChecksum = n8_ownsCRC32_8u(pSrc, static_cast<Kel32u>(srcLen), *pChecksum);
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsCRC32C_8u(const Kel8u* pSrc, Kel32u srcLen, Kel32u* pChecksum) {
    if (pSrc == nullptr || pChecksum == nullptr) return kelStatusNullPointer;
    if (srcLen == 0) return kelStatusBadSize;
    *pChecksum = n8_ownsCRC32C_8u(pSrc, srcLen, *pChecksum);
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsCRC32_BZ2_8u(const Kel8u* pSrc, int srcLen, Kel32u* pChecksum) {
    if (pSrc == nullptr || pChecksum == nullptr) return kelStatusNullPointer;
    if (srcLen < 1) return kelStatusBadSize;
    *pChecksum = n8_ownsCRC32_BZ2_8u(pSrc, static_cast<Kel32u>(srcLen), *pChecksum);
    return kelStatusOk;
}

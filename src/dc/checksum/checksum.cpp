// src/dc/checksum/checksum.cpp - Adler-32, CRC-32, CRC-32C and the bzip2 CRC: argument checks and dispatch.
#include "core/dc_exports.h"

namespace {

constexpr Kel32u kAdlerMod = 65521;

Kel32u n8_crcReflectedByte(Kel32u c, Kel32u poly) {
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (poly & (0u - (c & 1u)));
    return c;
}

}  // namespace

extern "C" KelStatus n8_kelsAdler32_8u(const Kel8u* pSrc, int srcLen, Kel32u* pChecksum) {
    if (pChecksum == nullptr) return kelStatusNullPointer;
    if (pSrc == nullptr) {
        *pChecksum = 1;
        return kelStatusOk;
    }
    Kel32u a = *pChecksum & 0xFFFF, b = *pChecksum >> 16;
    a %= kAdlerMod;
    b %= kAdlerMod;
    for (int i = 0; i < srcLen; ++i) {
        a = (a + pSrc[i]) % kAdlerMod;
        b = (b + a) % kAdlerMod;
    }
    *pChecksum = a | (b << 16);
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsCRC32_8u(const Kel8u* pSrc, int srcLen, Kel32u* pChecksum) {
    if (pSrc == nullptr || pChecksum == nullptr) return kelStatusNullPointer;
    if (srcLen < 1) return kelStatusBadSize;
    Kel32u c = ~*pChecksum;
    for (int i = 0; i < srcLen; ++i) c = n8_crcReflectedByte(c ^ pSrc[i], 0xEDB88320u);
    *pChecksum = ~c;
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsCRC32C_8u(const Kel8u* pSrc, Kel32u srcLen, Kel32u* pChecksum) {
    if (pSrc == nullptr || pChecksum == nullptr) return kelStatusNullPointer;
    if (srcLen == 0) return kelStatusBadSize;
    Kel32u c = *pChecksum;
    for (Kel32u i = 0; i < srcLen; ++i) c = n8_crcReflectedByte(c ^ pSrc[i], 0x82F63B78u);
    *pChecksum = c;
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsCRC32_BZ2_8u(const Kel8u* pSrc, int srcLen, Kel32u* pChecksum) {
    if (pSrc == nullptr || pChecksum == nullptr) return kelStatusNullPointer;
    if (srcLen < 1) return kelStatusBadSize;
    Kel32u c = ~*pChecksum;
    for (int i = 0; i < srcLen; ++i) {
        c ^= Kel32u(pSrc[i]) << 24;
        for (int k = 0; k < 8; ++k) c = (c << 1) ^ (0x04C11DB7u & (0u - (c >> 31)));
    }
    *pChecksum = ~c;
    return kelStatusOk;
}

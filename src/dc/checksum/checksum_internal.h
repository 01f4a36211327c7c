// src/dc/checksum/checksum_internal.h - the checksum kernels and their scalar twins.
//
// Each kernel takes the checksum in the same convention as its exported function and returns the updated value;
// the callers have checked the pointers, and every kernel reads exactly the srcLen bytes at pSrc (srcLen may be
// 0). The `_ref` twins are the readable one-byte-at-a-time definitions that the tests compare the kernels with.
#pragma once

#include "kelbase.h"

// Adler-32: both 16-bit halves of the result are reduced modulo 65521, whatever the incoming value (also for
// srcLen 0).
Kel32u n8_ownsAdler32_8u(const Kel8u* pSrc, Kel32u srcLen, Kel32u adler);
Kel32u n8_ownsAdler32_8u_ref(const Kel8u* pSrc, Kel32u srcLen, Kel32u adler);

// CRC-32 (reflected 0xEDB88320), inverted on entry and exit: a new CRC starts from 0.
Kel32u n8_ownsCRC32_8u(const Kel8u* pSrc, Kel32u srcLen, Kel32u crc);
Kel32u n8_ownsCRC32_8u_ref(const Kel8u* pSrc, Kel32u srcLen, Kel32u crc);

// CRC-32C register (reflected 0x82F63B78), no inversion: the caller starts from 0xFFFFFFFF and inverts at the end.
Kel32u n8_ownsCRC32C_8u(const Kel8u* pSrc, Kel32u srcLen, Kel32u crc);
Kel32u n8_ownsCRC32C_8u_ref(const Kel8u* pSrc, Kel32u srcLen, Kel32u crc);

// bzip2 CRC (0x04C11DB7, most significant bit first), inverted on entry and exit: a new CRC starts from 0.
Kel32u n8_ownsCRC32_BZ2_8u(const Kel8u* pSrc, Kel32u srcLen, Kel32u crc);
Kel32u n8_ownsCRC32_BZ2_8u_ref(const Kel8u* pSrc, Kel32u srcLen, Kel32u crc);

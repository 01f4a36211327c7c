// src/dc/checksum/crc32_ref.cpp - CRC-32, CRC-32C and the bzip2 CRC one byte at a time, with their byte tables.
//
// These are the definitions the wide kernels are tested against. All three use the reflected register update
// c = (c >> 8) ^ T[(c ^ x) & 0xFF]; the bzip2 CRC, which shifts left in its natural bit order, runs in a
// byte-reversed register, where its left shift by one byte becomes a right shift and its table index, the top
// register byte, becomes the low one (crc_table holds its entries byte-reversed to match).
#include "dc/checksum/checksum_internal.h"
#include "dc/checksum/crc_tables.inc"

namespace {

Kel32u n8_reflectedBytes(const Kel32u (&table)[256], Kel32u c, const Kel8u* pSrc, Kel32u srcLen) {
    for (Kel32u i = 0; i < srcLen; ++i) c = (c >> 8) ^ table[(c ^ pSrc[i]) & 0xFF];
    return c;
}

}  // namespace

Kel32u n8_ownsCRC32_8u_ref(const Kel8u* pSrc, Kel32u srcLen, Kel32u crc) {
    return ~n8_reflectedBytes(crc_table_il8_o32, ~crc, pSrc, srcLen);
}

Kel32u n8_ownsCRC32C_8u_ref(const Kel8u* pSrc, Kel32u srcLen, Kel32u crc) {
    return n8_reflectedBytes(CRC32CTable[0], crc, pSrc, srcLen);
}

Kel32u n8_ownsCRC32_BZ2_8u_ref(const Kel8u* pSrc, Kel32u srcLen, Kel32u crc) {
    return ~__builtin_bswap32(n8_reflectedBytes(crc_table[0], __builtin_bswap32(~crc), pSrc, srcLen));
}

// src/dc/checksum/adler32_ref.cpp - Adler-32 one byte at a time: the definition the vector kernel is tested against.
//
// a is the sum of the bytes plus the low half of the incoming value, b the sum of the successive values of a plus
// the high half, both modulo 65521. Reducing both halves first and then after every byte keeps a and b below 65521
// before each step, so a + 255 and b + a never approach 32 bits.
#include "dc/checksum/checksum_internal.h"

namespace {

constexpr Kel32u kAdlerMod = 65521;

}  // namespace

Kel32u n8_ownsAdler32_8u_ref(const Kel8u* pSrc, Kel32u srcLen, Kel32u adler) {
    Kel32u a = (adler & 0xFFFF) % kAdlerMod;
    Kel32u b = (adler >> 16) % kAdlerMod;
    for (Kel32u i = 0; i < srcLen; ++i) {
        a = (a + pSrc[i]) % kAdlerMod;
        b = (b + a) % kAdlerMod;
    }
    return a | b << 16;
}

// src/dc/lzo/lzo_rand_vec.h - the LZO encoder's hash table of random 15-bit values.
//
// Four rows of 256 values, the first 1024 outputs of the linear congruential generator x = x * 214013 + 2531011
// (mod 2^32) from x = 1, each output being bits 16..30 of x (the first values are 41, 18467, 6334, 26500).
// The table is computed at compile time and lives in read-only data.
#pragma once

#include "kelbase.h"

struct LzoRandVec {
    Kel32u v[1024];  // 15-bit values held in 32-bit words: whole-register loads and XORs in the hash
};

constexpr LzoRandVec n8_makeLzoRandVec() {
    LzoRandVec t{};
    Kel32u x = 1;
    for (int i = 0; i < 1024; ++i) {
        x = x * 214013u + 2531011u;
        t.v[i] = (x >> 16) & 0x7FFF;
    }
    return t;
}

inline constexpr LzoRandVec kLzoRandVec = n8_makeLzoRandVec();
static_assert(kLzoRandVec.v[0] == 41 && kLzoRandVec.v[1] == 18467 && kLzoRandVec.v[2] == 6334 &&
              kLzoRandVec.v[3] == 26500);

// src/dc/deflate/rand_vec.h - randVec, the 1024 15-bit values behind every Deflate hash (and the LZSS hash).
//
// The position hash XORs one value from each of four 256-entry rows, indexed by four consecutive bytes: byte k of
// the key selects row k. Rows of independent random values make every input byte move every hash bit, unlike
// shift-and-XOR hashes, whose low bits see only the last byte. The first four values of row 0 and the first two of
// rows 1 and 2 are pinned, being shared with other builds of this library; the others were drawn once from the
// splitmix64 generator seeded with 0x6B656C2D72616E64 (top 15 bits of each output, in table order). None may ever
// change: the matches found, and so the compressed output, depend on them. The LZSS coder hashes with the first 768
// values (rows 0 to 2).
#pragma once

#include "kelbase.h"

namespace kel::deflate {

struct RandVecTable {
    Kel16u v[1024];
};

constexpr RandVecTable n8_makeRandVec() {
    RandVecTable t{};
    Kel64u state = 0x6B656C2D72616E64ull;
    for (int i = 0; i < 1024; ++i) {
        state += 0x9E3779B97F4A7C15ull;
        Kel64u z = state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        t.v[i] = static_cast<Kel16u>(z >> 49);
    }
    t.v[0] = 0x499D;
    t.v[1] = 0x3DC2;
    t.v[2] = 0x2D07;
    t.v[3] = 0x705B;
    t.v[256] = 23403;
    t.v[257] = 25964;
    t.v[512] = 23616;
    t.v[513] = 7640;
    return t;
}

inline constexpr RandVecTable kRandVecTable = n8_makeRandVec();

// Row r (0 to 3) occupies entries 256 * r to 256 * r + 255; every value is below 32768.
inline constexpr const Kel16u (&randVec)[1024] = kRandVecTable.v;

// randVec widened to 32-bit entries for the hot loops: the hash then XORs whole registers straight from memory,
// with no 16-bit loads and no final zero extension (about a twentieth of the matcher's instructions).
struct RandVecWide {
    Kel32u v[1024];
};

constexpr RandVecWide n8_widenRandVec() {
    RandVecWide t{};
    for (int i = 0; i < 1024; ++i) t.v[i] = randVec[i];
    return t;
}

inline constexpr RandVecWide kRandVecWide = n8_widenRandVec();

// H4, the hash of every matcher and the fastest path: one randVec row per byte of w (first byte in the low bits),
// XORed and masked to the head table's size.
inline Kel32u n8_hash4(Kel32u w, Kel32u mask) {
    const Kel32u* r = kRandVecWide.v;
    return (r[w & 255] ^ r[256 + ((w >> 8) & 255)] ^ r[512 + ((w >> 16) & 255)] ^ r[768 + (w >> 24)]) & mask;
}

// The four bytes at p as one little-endian word, from any alignment.
inline Kel32u n8_load32(const Kel8u* p) {
    Kel32u w;
    __builtin_memcpy(&w, p, 4);
    return w;
}

}  // namespace kel::deflate

// src/dc/deflate/deflate_tables.h - the RFC 1951 length and distance code tables the Deflate encoder stages share.
//
// All tables are computed at compile time from the two base/extra-bit lists of the format (lengths 3 to 258 in 29
// codes, distances 1 to 32768 in 30 codes), so they cannot disagree with each other.
#pragma once

#include "kelbase.h"

namespace kel::deflate {

// Extra-bit count of length code k (symbol 257 + k). Length 258 (k = 28) has its own code and no extra bits.
inline constexpr Kel32u litExtraTable[32] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
                                             3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, 0, 0, 0};

// Base length minus 3 of length code k. Entry 28 is 0 rather than 255: with no extra bits nothing is added to it,
// and every reader masks the extra value to its bit count, so the entry is never used as a base.
inline constexpr Kel32u litBaseTable[32] = {0,  1,  2,  3,  4,  5,  6,  7,   8,   10,  12,  14,  16, 20, 24, 28,
                                            32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 0,  0,  0,  0};

// Extra-bit count of distance code k (two codes per count from code 4 on).
inline constexpr Kel32u distExtraTable[32] = {0, 0, 0, 0, 1, 1, 2,  2,  3,  3,  4,  4,  5,  5,  6, 6,
                                              7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 0, 0};

// Base distance minus 1 of distance code k.
inline constexpr Kel32u distBaseTable[32] = {0,    1,    2,    3,    4,    6,     8,     12,    16,  24,   32,
                                             48,   64,   96,   128,  192,  256,   384,   512,   768, 1024, 1536,
                                             2048, 3072, 4096, 6144, 8192, 12288, 16384, 24576, 0,   0};

struct LitCodeTableData {
    Kel8u v[768];
};

// Bytes 0-255: length code (symbol minus 257) of length m + 3. Bytes 256-511: distance code of distance d, at
// 256 + d - 1, for d up to 256. Bytes 512-767: distance code of the distances d above 256 with (d - 1) >> 7 equal
// to the index minus 512 (codes from 16 on span whole multiples of 128, so the shift loses nothing).
constexpr LitCodeTableData n8_makeLitCodeTable() {
    LitCodeTableData t{};
    for (int k = 0; k < 28; ++k) {
        const int span = 1 << litExtraTable[k];
        for (int m = int(litBaseTable[k]); m < int(litBaseTable[k]) + span; ++m) t.v[m] = Kel8u(k);
    }
    t.v[255] = 28;
    for (int j = 0; j < 30; ++j) {
        const int lo = int(distBaseTable[j]), hi = lo + (1 << distExtraTable[j]);
        for (int d1 = lo; d1 < hi; ++d1) {
            if (d1 < 256) t.v[256 + d1] = Kel8u(j);
            if ((d1 & 127) == 0) t.v[512 + (d1 >> 7)] = Kel8u(j);
        }
    }
    return t;
}

inline constexpr LitCodeTableData kLitCodeTableData = n8_makeLitCodeTable();
inline constexpr const Kel8u (&litCodeTable)[768] = kLitCodeTableData.v;

// One (value, extra-bit count) pair: the extra bits that complete a length or distance after its code.
struct ExtPair {
    Kel8u value;
    Kel8u bits;
};

struct ExtTableData {
    ExtPair v[256];
};

// Pair L - 3 for the lengths L = 3 to 258: L minus the base length of its code, and that code's extra-bit count.
constexpr ExtTableData n8_makeLitExtTable() {
    ExtTableData t{};
    for (int m = 0; m < 256; ++m) {
        const int k = litCodeTable[m];
        t.v[m] = k == 28 ? ExtPair{0, 0} : ExtPair{Kel8u(m - int(litBaseTable[k])), Kel8u(litExtraTable[k])};
    }
    return t;
}

// Pair d - 1 for the distances d = 1 to 256: d minus the base distance of its code, and its extra-bit count.
constexpr ExtTableData n8_makeDistExtTable() {
    ExtTableData t{};
    for (int d1 = 0; d1 < 256; ++d1) {
        const int j = litCodeTable[256 + d1];
        t.v[d1] = ExtPair{Kel8u(d1 - int(distBaseTable[j])), Kel8u(distExtraTable[j])};
    }
    return t;
}

inline constexpr ExtTableData kLitExtTableData = n8_makeLitExtTable();
inline constexpr ExtTableData kDistExtTableData = n8_makeDistExtTable();
inline constexpr const ExtPair (&litExtTable)[256] = kLitExtTableData.v;
inline constexpr const ExtPair (&distExtTable)[256] = kDistExtTableData.v;

}  // namespace kel::deflate

// src/dc/lz4/lz4_match_length_ref.cpp - length of the common prefix of two byte ranges, one byte at a time.
//
// The readable definition and test oracle of the SSSE3 kernel, which the high-compression matcher uses to measure
// candidates that passed its four-byte filter.
#include "dc/lz4/lz4_internal.h"

int n8_ownsLZ4MatchLength_8u_ref(const Kel8u* pA, const Kel8u* pB, int maxLen) {
    int n = 0;
    while (n < maxLen && pA[n] == pB[n]) ++n;
    return n;
}

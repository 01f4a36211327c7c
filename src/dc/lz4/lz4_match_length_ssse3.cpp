// src/dc/lz4/lz4_match_length_ssse3.cpp - length of the common prefix of two byte ranges, 16 bytes per step.
//
// Each step compares two unaligned 16-byte loads (PCMPEQB) and turns the result into a 16-bit mask (PMOVMSKB);
// the first clear bit of the mask is the first difference. Loads never reach past maxLen bytes of either range:
// the last partial block is finished with 8-byte words and single bytes. Overlapping ranges (a match that runs
// into the bytes it is compared with) are fine, since nothing is written.
#include <emmintrin.h>

#include "dc/lz4/lz4_internal.h"

int n8_ownsLZ4MatchLength_8u(const Kel8u* pA, const Kel8u* pB, int maxLen) {
    int n = 0;
    while (n + 16 <= maxLen) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pA + n));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pB + n));
        const unsigned differ = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b))) ^ 0xFFFFu;
        if (differ) return n + int(n8_lz4LowBit32(differ));
        n += 16;
    }
    return n + n8_lz4CountEqual(pA + n, pB + n, maxLen - n);
}

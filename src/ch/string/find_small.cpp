// src/ch/string/find_small.cpp - n8_ownsFind_8u: pattern search in sources shorter than kFindLargeSource bytes.
//
// For a short source the set-up of the vector kernel does not pay off. Patterns of one to three bytes are compared
// as a whole window at each candidate; longer patterns are prefiltered by their first four bytes read as one
// 32-bit word, eight candidates per step, and a word hit is confirmed by comparing the rest of the pattern, eight
// bytes at a time, then byte by byte. The three-byte window is masked out of a 32-bit load, except at the last
// candidate, where it is read as two bytes plus one so that nothing beyond the source is read.
#include <stdint.h>
#include <string.h>

#include "ch/string/search_internal.h"

namespace {

inline uint32_t n8_load32(const Kel8u* p) {
    uint32_t w;
    memcpy(&w, p, 4);
    return w;
}

inline uint16_t n8_load16(const Kel8u* p) {
    uint16_t w;
    memcpy(&w, p, 2);
    return w;
}

// Equality of the n pattern bytes after the first four.
bool n8_restEqual(const Kel8u* a, const Kel8u* b, int n) {
    for (; n >= 8; a += 8, b += 8, n -= 8) {
        if (n8_load32(a) != n8_load32(b) || n8_load32(a + 4) != n8_load32(b + 4)) return false;
    }
    for (; n > 0; ++a, ++b, --n) {
        if (*a != *b) return false;
    }
    return true;
}

}  // namespace

int n8_ownsFind_8u(const Kel8u* pSrc, int srcLen, const Kel8u* pPat, int patLen) {
    if (patLen == 0 || patLen > srcLen) return -1;
    // Candidates are the positions 0 to n - 1.
    const int n = srcLen - patLen + 1;
    if (patLen == 1) {
        for (int i = 0; i < n; ++i) {
            if (pSrc[i] == pPat[0]) return i;
        }
        return -1;
    }
    if (patLen == 2) {
        const uint16_t pat = n8_load16(pPat);
        for (int i = 0; i < n; ++i) {
            if (n8_load16(pSrc + i) == pat) return i;
        }
        return -1;
    }
    if (patLen == 3) {
        const uint32_t pat = static_cast<uint32_t>(n8_load16(pPat)) | static_cast<uint32_t>(pPat[2]) << 16;
        // The 32-bit load at candidate i reads byte i + 3, which exists for every candidate but the last.
        for (int i = 0; i < n - 1; ++i) {
            if ((n8_load32(pSrc + i) & 0xFFFFFFu) == pat) return i;
        }
        const int last = n - 1;
        return (static_cast<uint32_t>(n8_load16(pSrc + last)) | static_cast<uint32_t>(pSrc[last + 2]) << 16) == pat
                   ? last
                   : -1;
    }

    // patLen >= 4: the word at candidate i ends at byte i + 3 <= n + 2 < srcLen.
    const uint32_t head = n8_load32(pPat);
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        uint32_t hits = 0;
        for (int k = 0; k < 8; ++k) hits |= static_cast<uint32_t>(n8_load32(pSrc + i + k) == head) << k;
        for (int k = 0; hits != 0; ++k, hits >>= 1) {
            if ((hits & 1) && n8_restEqual(pSrc + i + k + 4, pPat + 4, patLen - 4)) return i + k;
        }
    }
    for (; i < n; ++i) {
        if (n8_load32(pSrc + i) == head && n8_restEqual(pSrc + i + 4, pPat + 4, patLen - 4)) return i;
    }
    return -1;
}

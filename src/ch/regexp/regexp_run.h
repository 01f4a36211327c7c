// src/ch/regexp/regexp_run.h - the end of a run of ASCII bytes from a byte table, sixteen bytes per step: the inner
// loop of every repeated class and of the start chain.
//
// A table is looked up by nibbles: byte x (x < 0x80) is in the set when bit (x >> 4) of lo[x & 15] is set. One
// shuffle of the low nibbles fetches each byte's row, a second shuffle turns each high nibble into its bit (high
// nibbles 8..15, the non-ASCII bytes, into no bit), and their AND is non-zero exactly for the ASCII members. The
// lookup is exact, so the scan needs no confirmation; bytes from 0x80 up end the run, and the caller decides what
// a non-ASCII character the table accepts means.
#pragma once

#include <tmmintrin.h>

#include "ch/string/bit_scan.h"
#include "kelbase.h"

struct RegExpRunTable {
    Kel8u lo[16];
};

inline void n8_regExpRunTableInit(RegExpRunTable* t, const bool* table) {
    for (int l = 0; l < 16; ++l) {
        Kel8u row = 0;
        for (int h = 0; h < 8; ++h) row = static_cast<Kel8u>(row | (table[h * 16 + l] ? 1u << h : 0u));
        t->lo[l] = row;
    }
}

// End of the run of ASCII bytes of the set in [q, lim). Reads only [q, lim).
inline const Kel8u* n8_regExpAsciiRun(const RegExpRunTable& t, const bool* table, const Kel8u* q, const Kel8u* lim) {
    if (lim - q >= 16) {
        const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t.lo));
        const __m128i bits = _mm_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 0, 0, 0, 0, 0, 0, 0, 0);
        const __m128i nib = _mm_set1_epi8(0x0F);
        const __m128i zero = _mm_setzero_si128();
        do {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
            const __m128i row = _mm_shuffle_epi8(lo, _mm_and_si128(v, nib));
            const __m128i bit = _mm_shuffle_epi8(bits, _mm_and_si128(_mm_srli_epi16(v, 4), nib));
            const Kel32u out = static_cast<Kel32u>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(row, bit), zero)));
            if (out) return q + n8_lowestBit32(out);
            q += 16;
        } while (lim - q >= 16);
    }
    while (q < lim && *q < 0x80 && table[*q]) ++q;
    return q;
}

// The same, one byte at a time: the oracle of the vector scan.
const Kel8u* n8_regExpAsciiRun_ref(const bool* table, const Kel8u* q, const Kel8u* lim);

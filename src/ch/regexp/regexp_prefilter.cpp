// src/ch/regexp/regexp_prefilter.cpp - the pair scan with SSSE3 byte shuffles, 16 positions per step.
//
// Each set is looked up by nibbles: a shuffle of the low nibbles and one of the high nibbles give two byte masks
// whose AND is non-zero for the bytes of the set. The high nibbles are grouped into at most eight buckets (one bit
// each) by the low-nibble pattern they carry; when a set needs more than eight distinct patterns, the extra ones
// share a bucket, which only admits more candidates. Candidates are then confirmed with the exact tables, so the
// result is the same as the scalar twin's.
#include <tmmintrin.h>

#include "ch/regexp/regexp_prefilter.h"
#include "ch/string/bit_scan.h"

namespace {

void n8_nibbleTables(const Kel8u* set, Kel8u* lo, Kel8u* hi) {
    Kel32u pattern[8] = {};
    int buckets = 0;
    for (int k = 0; k < 16; ++k) lo[k] = hi[k] = 0;
    for (int h = 0; h < 16; ++h) {
        Kel32u mask = 0;
        for (int l = 0; l < 16; ++l) mask |= static_cast<Kel32u>(set[h * 16 + l] != 0) << l;
        if (mask == 0) continue;
        int b = 0;
        while (b < buckets && pattern[b] != mask) ++b;
        if (b == buckets) {
            if (buckets < 8) {
                ++buckets;
            } else {
                b = h & 7;  // shared: the bucket admits the union of its patterns
            }
        }
        pattern[b] |= mask;
        hi[h] |= static_cast<Kel8u>(1u << b);
    }
    for (int b = 0; b < buckets; ++b) {
        for (int l = 0; l < 16; ++l) {
            if (pattern[b] & (1u << l)) lo[l] |= static_cast<Kel8u>(1u << b);
        }
    }
}

inline __m128i n8_maybeIn(__m128i v, __m128i lo, __m128i hi) {
    const __m128i nib = _mm_set1_epi8(0x0F);
    const __m128i l = _mm_shuffle_epi8(lo, _mm_and_si128(v, nib));
    const __m128i h = _mm_shuffle_epi8(hi, _mm_and_si128(_mm_srli_epi16(v, 4), nib));
    return _mm_and_si128(l, h);
}

}  // namespace

void n8_regExpPairFilterInit(RegExpPairFilter* f, const bool* first, const bool* second) {
    for (int b = 0; b < 256; ++b) {
        f->first[b] = first[b] ? 1 : 0;
        f->second[b] = (!second || second[b]) ? 1 : 0;
    }
    n8_nibbleTables(f->first, f->lo0, f->hi0);
    n8_nibbleTables(f->second, f->lo1, f->hi1);
}

Kel32s n8_regExpPairScan(const RegExpPairFilter& f, const Kel8u* src, Kel32s len) {
    const __m128i lo0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(f.lo0));
    const __m128i hi0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(f.hi0));
    const __m128i lo1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(f.lo1));
    const __m128i hi1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(f.hi1));
    const __m128i zero = _mm_setzero_si128();
    Kel32s q = 0;
    // The second byte of position q + 15 is src[q + 16], so a block needs 17 bytes.
    for (; q + 17 <= len; q += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + q));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + q + 1));
        const Kel32u miss0 = static_cast<Kel32u>(_mm_movemask_epi8(_mm_cmpeq_epi8(n8_maybeIn(a, lo0, hi0), zero)));
        const Kel32u miss1 = static_cast<Kel32u>(_mm_movemask_epi8(_mm_cmpeq_epi8(n8_maybeIn(b, lo1, hi1), zero)));
        Kel32u cand = ~(miss0 | miss1) & 0xFFFFu;
        while (cand) {
            const Kel32s k = q + n8_lowestBit32(cand);
            if (f.first[src[k]] && f.second[src[k + 1]]) return k;
            cand &= cand - 1;
        }
    }
    for (; q < len; ++q) {
        if (f.first[src[q]] && (q + 1 == len || f.second[src[q + 1]])) return q;
    }
    return len;
}

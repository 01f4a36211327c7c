// src/dc/inflate/inflate_tables.cpp - kelsInflateBuildHuffTable: code-length validation and the two decoding
// table forms, plus the built-in table of the fixed code.
//
// Codes are canonical (RFC 1951, 3.2.2) and sent most-significant bit first inside a least-significant-first bit
// stream, so every table is indexed by bit-reversed codes: a code of length l with reversed value r owns the
// entries r + k * 2^l. The short form is chosen when every code is short enough for flat tables (literal/length
// up to 11 bits, distance up to 10); otherwise the two-level form keeps 10-bit first levels and packs one
// subtable of 2^(L-10) entries per 10-bit prefix of longer codes, L being the longest code under that prefix.
// Canonical order puts all longer codes at the end of the code space in increasing length, so at most one
// subtable per code length is partly filled and the subtables of a complete code stay within 512 entries
// (literal/length) and 256 entries (distance); the builder still checks both bounds.
//
// The builder is constexpr so that the fixed code's table is built by this same code at compile time.
#include <tmmintrin.h>

#include <cstddef>
#include <cstring>
#include <type_traits>

#include "core/dc_exports.h"
#include "dc/inflate/inflate_internal.h"

namespace kel::inflate {
namespace {

constexpr unsigned kMaxCodeLen = 15;

// 8-bit reversal; wider reversals combine two of these.
struct Swap8 {
    Kel8u v[256];
};
constexpr Swap8 n8_makeSwap8() {
    Swap8 t{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned r = 0;
        for (unsigned b = 0; b < 8; ++b) r |= ((i >> b) & 1u) << (7 - b);
        t.v[i] = Kel8u(r);
    }
    return t;
}
constexpr Swap8 kSwap8 = n8_makeSwap8();

// The low len bits of code, reversed (len 1..15).
constexpr unsigned n8_reverse(unsigned code, unsigned len) {
    const unsigned r16 = (unsigned(kSwap8.v[code & 0xFF]) << 8) | kSwap8.v[(code >> 8) & 0xFF];
    return r16 >> (16 - len);
}

constexpr void n8_put16(Kel8u* p, unsigned v) {
    p[0] = Kel8u(v);
    p[1] = Kel8u(v >> 8);
}

// Shape of one code-length set.
struct SetShape {
    unsigned count[kMaxCodeLen + 1];
    unsigned maxLen;  // 0 when no length is non-zero
    unsigned nonZero;
    bool singleBit;  // exactly one code, of length 1: valid, one 1-bit pattern belongs to no symbol
};

// Validates n lengths: counts per length; over-subscribed or incomplete sets fail, except a set of exactly one
// 1-bit code. A set without codes passes (the caller decides whether that is acceptable). Lengths above 15 fail:
// the canonical construction is undefined for them and the tables have no room for them.
constexpr bool n8_checkSet(const Kel16u* lens, unsigned n, SetShape& s) {
    s.maxLen = 0;
    s.singleBit = false;
    // Two sets of counters, for even and odd symbols: runs of equal lengths are the rule, and with one set each
    // increment would wait for the one before it to come back from memory.
    unsigned odd[kMaxCodeLen + 1] = {};
    for (unsigned i = 0; i <= kMaxCodeLen; ++i) s.count[i] = 0;
    unsigned i = 0;
    for (; i + 1 < n; i += 2) {
        if (lens[i] > kMaxCodeLen || lens[i + 1] > kMaxCodeLen) return false;
        ++s.count[lens[i]];
        ++odd[lens[i + 1]];
    }
    if (i < n) {
        if (lens[i] > kMaxCodeLen) return false;
        ++s.count[lens[i]];
    }
    for (unsigned len = 0; len <= kMaxCodeLen; ++len) s.count[len] += odd[len];
    s.nonZero = n - s.count[0];
    s.count[0] = 0;
    if (s.nonZero == 0) return true;
    unsigned minLen = 1;
    while (s.count[minLen] == 0) ++minLen;
    s.maxLen = kMaxCodeLen;
    while (s.count[s.maxLen] == 0) --s.maxLen;
    // capacity: the codes of length n the code space holds; used: how many of them are taken (by codes of
    // length n or shorter). Both double per length, so used > capacity at any length means over-subscription.
    unsigned capacity = 1u << (minLen - 1), used = 0;
    for (unsigned len = minLen; len <= s.maxLen; ++len) {
        capacity *= 2;
        used = used * 2 + s.count[len];
        if (used > capacity) return false;
    }
    if (used == capacity) return true;
    s.singleBit = s.nonZero == 1 && s.maxLen == 1;
    return s.singleBit;
}

// Canonical codes of n lengths (zero length: no code), RFC 1951 3.2.2.
constexpr void n8_canonicalCodes(const Kel16u* lens, unsigned n, const SetShape& s, Kel16u* codes) {
    unsigned next[kMaxCodeLen + 1] = {};
    unsigned code = 0;
    for (unsigned len = 1; len <= kMaxCodeLen; ++len) {
        code = (code + s.count[len - 1]) << 1;  // count[0] is 0: unused symbols take no code
        next[len] = code;
    }
    for (unsigned i = 0; i < n; ++i) codes[i] = lens[i] ? Kel16u(next[lens[i]]++) : 0;
}

// ---- Two-level form -------------------------------------------------------------------------------------------

// What one symbol decodes to, before placement: its info byte for an unfolded entry, its value, and the extra
// bits that may be folded into first-level entries.
struct Meaning {
    unsigned info;  // kind bits (4-7) without the length nibble
    unsigned value;
    unsigned extra;     // extra bits after the code (0 for literals, end of block and invalid codes)
    unsigned foldKind;  // kind bits of a folded entry: 0x80 for lengths, 0 for distances
};

constexpr Meaning n8_litMeaning(unsigned sym) {
    if (sym < 256) return {0, sym, 0, 0};
    if (sym == 256) return {kKindEndOfBlock, 0, 0, 0};
    if (sym <= 285) {
        const unsigned le = kLenExtr[sym - 256];
        return {le & 0xF0, le >> 8, (le >> 4) & 7, 0x80};
    }
    return {kInvalidLit, 0, 0, 0};  // 286, 287: present in the fixed code, never valid in a stream
}

constexpr Meaning n8_distMeaning(unsigned sym) {
    if (sym < 30) return {kDistExtr[sym].extra, kDistExtr[sym].base, unsigned(kDistExtr[sym].extra) >> 4, 0};
    return {kInvalidDist, 0, 0, 0};  // 30, 31 of the fixed code
}

// One alphabet's arrays inside the two-level area. Values are bytes (literal/length, kWide 1) or 16-bit
// little-endian (distance, kWide 2).
template <unsigned kWide>
struct Level {
    Kel8u* val1;
    Kel8u* info1;
    Kel8u* val2;
    Kel8u* info2;
    unsigned subCap;
};

template <unsigned kWide>
constexpr void n8_setVal(Kel8u* vals, unsigned i, unsigned v) {
    if constexpr (kWide == 2)
        n8_put16(vals + 2 * i, v);
    else
        vals[i] = Kel8u(v);
}

// Copies first-level entries [0, half) to [half, 2 half), both fields.
template <unsigned kWide>
constexpr void n8_doubleFirstLevel(const Level<kWide>& lv, unsigned half) {
    if (std::is_constant_evaluated()) {
        for (unsigned i = 0; i < half; ++i) {
            lv.info1[half + i] = lv.info1[i];
            for (unsigned k = 0; k < kWide; ++k) lv.val1[kWide * (half + i) + k] = lv.val1[kWide * i + k];
        }
        return;
    }
    std::memcpy(lv.info1 + half, lv.info1, half);
    std::memcpy(lv.val1 + kWide * half, lv.val1, kWide * half);
}

// Places an alphabet of n symbols whose shape s n8_checkSet gave; symbols below firstWithExtra have no extra bits.
// The area must be zero. Returns false if the subtables would not fit (not possible for a validated set, see the
// file comment).
template <unsigned kWide, class MeaningOf>
constexpr bool n8_placeTwoLevel(const Level<kWide>& lv, const Kel16u* lens, unsigned n, const SetShape& s,
                                MeaningOf meaningOf, unsigned firstWithExtra, unsigned invalidKind) {
    Kel16u codes[288] = {};
    n8_canonicalCodes(lens, n, s, codes);

    // Pass 1: the first level, by doubling. A code of length l <= 10 with reversed value r owns the indices
    // r + k * 2^l, and with x extra bits folded in (l + x <= 10) each extra value e owns r + (e << l) + k * 2^(l+x):
    // either way an entry of some width v <= 10 repeated every 2^v. So the entries of width v are written once, at
    // their index below 2^v, after [0, 2^(v-1)) has been copied to [2^(v-1), 2^v); later copies repeat them. A
    // slot copied before its own (wider) code is placed is overwritten when that code is: it lies below 2^v.
    // Symbols are bucketed by width first (counting sort, in symbol order within a width); codes longer than 10
    // bits get buckets 11-15 of their own, which the passes over long codes visit instead of every symbol (in
    // table-heavy blocks a skip test per symbol mispredicted wherever long codes are scattered).
    // The counts per width are the counts per length (from the validation), with the symbols whose extra bits are
    // folded moved to their wider width: only symbols from firstWithExtra on have extra bits.
    // Unused symbols fill bucket 0, which nothing visits: the bucketing then needs no test for them.
    unsigned startOfWidth[kMaxCodeLen + 2] = {};
    startOfWidth[1] = n - s.nonZero;
    for (unsigned l = 1; l <= kMaxCodeLen; ++l) startOfWidth[l + 1] = s.count[l];
    for (unsigned sym = firstWithExtra; sym < n; ++sym) {
        const unsigned l = lens[sym], x = meaningOf(sym).extra;
        if (l == 0 || l > 10 || x == 0 || l + x > 10) continue;
        --startOfWidth[l + 1];
        ++startOfWidth[l + x + 1];
    }
    for (unsigned v = 1; v <= kMaxCodeLen + 1; ++v) startOfWidth[v] += startOfWidth[v - 1];
    Kel16u byWidth[288] = {};
    unsigned fill[kMaxCodeLen + 1] = {};
    for (unsigned v = 0; v <= kMaxCodeLen; ++v) fill[v] = startOfWidth[v];
    for (unsigned sym = 0; sym < n; ++sym) {
        const unsigned l = lens[sym];
        const unsigned x = meaningOf(sym).extra;
        byWidth[fill[x != 0 && l != 0 && l + x <= 10 ? l + x : l]++] = Kel16u(sym);
    }
    const unsigned firstLong = startOfWidth[11], endLong = startOfWidth[kMaxCodeLen + 1];
    if (s.singleBit) {
        // The free 1-bit pattern: reversed value 1, width 1.
        lv.info1[1] = Kel8u(invalidKind | 1);
    }
    for (unsigned v = 1; v <= 10; ++v) {
        if (v > 1) n8_doubleFirstLevel(lv, 1u << (v - 1));
        for (unsigned k = startOfWidth[v]; k < startOfWidth[v + 1]; ++k) {
            const unsigned sym = byWidth[k], l = lens[sym];
            const unsigned r = n8_reverse(codes[sym], l);
            const Meaning m = meaningOf(sym);
            if (l == v) {
                lv.info1[r] = Kel8u(m.info | l);
                n8_setVal<kWide>(lv.val1, r, m.value);
                continue;
            }
            for (unsigned e = 0; e < (1u << m.extra); ++e) {
                lv.info1[r | (e << l)] = Kel8u(m.foldKind | v);
                n8_setVal<kWide>(lv.val1, r | (e << l), m.value + e);
            }
        }
    }
    // Longer codes: the longest length under each 10-bit prefix, kept in the prefix's info byte, which no shorter
    // code owns (the code is prefix-free). The prefixes in use are also marked in a bit set, so that pass 2 visits
    // them alone instead of all 1024 entries.
    Kel64u prefixes[16] = {};
    for (unsigned k = firstLong; k < endLong; ++k) {
        const unsigned sym = byWidth[k], l = lens[sym];
        const unsigned p = n8_reverse(codes[sym], l) & 1023;
        prefixes[p >> 6] |= Kel64u(1) << (p & 63);
        if (lv.info1[p] < l) lv.info1[p] = Kel8u(l);
    }
    if (s.maxLen <= 10) return true;
    // Pass 2: subtables in prefix order. Literal/length starts are stored halved: subtables have at least two
    // entries, so packing them back to back keeps every start even.
    unsigned next = 0;
    for (unsigned w = 0; w < 16; ++w) {
        for (Kel64u bits = prefixes[w]; bits != 0; bits &= bits - 1) {
            const unsigned p = w * 64 + unsigned(__builtin_ctzll(bits));
            const unsigned L = lv.info1[p];
            if (L <= 10 || L > kMaxCodeLen) continue;  // not a prefix of longer codes (kind bits set or length <= 10)
            n8_setVal<kWide>(lv.val1, p, kWide == 2 ? next : next / 2);
            next += 1u << (L - 10);
            if (next > lv.subCap) return false;
        }
    }
    // Pass 3: second-level entries. A code of length l whose last l - 10 code bits are c owns the subtable
    // entries c * 2^(L-l) .. (c+1) * 2^(L-l) - 1; extra bits are never folded here.
    for (unsigned j = firstLong; j < endLong; ++j) {
        const unsigned sym = byWidth[j], l = lens[sym];
        const unsigned p = n8_reverse(codes[sym], l) & 1023;
        const unsigned L = lv.info1[p];
        const unsigned start = kWide == 2 ? (lv.val1[2 * p] | (lv.val1[2 * p + 1] << 8)) : lv.val1[p] * 2u;
        const unsigned span = 1u << (L - l);
        const unsigned c = codes[sym] & ((1u << (l - 10)) - 1);
        const Meaning m = meaningOf(sym);
        for (unsigned k = c * span; k < (c + 1) * span; ++k) {
            lv.info2[start + k] = Kel8u(m.info | l);
            n8_setVal<kWide>(lv.val2, start + k, m.value);
        }
    }
    return true;
}

constexpr Level<1> n8_litLevel(Kel8u* t) {
    return {t + kLitVal1, t + kLitInfo1, t + kLitVal2, t + kLitInfo2, kLitSub};
}
constexpr Level<2> n8_distLevel(Kel8u* t) {
    return {t + kDistVal1, t + kDistInfo1, t + kDistVal2, t + kDistInfo2, kDistSub};
}

// Builds the two-level form of validated sets into t (kTwoLevelBytes). Literal/length symbols 286 and 287 and
// distance symbols 30 and 31 get entries marked invalid, so that the decoder can tell "not enough bits yet"
// from "no valid stream continues like this".
constexpr bool n8_buildTwoLevel(const Kel16u* lens, unsigned numLit, unsigned numDist, const SetShape& lit,
                                const SetShape& dist, Kel8u* t) {
    for (std::size_t i = 0; i < kTwoLevelBytes; ++i) t[i] = 0;
    if (!n8_placeTwoLevel(
            n8_litLevel(t), lens, numLit, lit, [](unsigned sym) { return n8_litMeaning(sym); }, 256, kInvalidLit))
        return false;
    if (dist.nonZero == 0) return true;
    return n8_placeTwoLevel(
        n8_distLevel(t), lens + numLit, numDist, dist, [](unsigned sym) { return n8_distMeaning(sym); }, 0,
        kInvalidDist);
}

// ---- The fixed code -------------------------------------------------------------------------------------------

struct FixedTable {
    Kel8u bytes[kTwoLevelBytes];
};

constexpr FixedTable n8_makeFixedTable() {
    Kel16u lens[288 + 32] = {};
    for (unsigned i = 0; i < 288; ++i) lens[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    for (unsigned i = 288; i < 320; ++i) lens[i] = 5;
    SetShape lit{}, dist{};
    n8_checkSet(lens, 288, lit);
    n8_checkSet(lens + 288, 32, dist);
    FixedTable f{};
    n8_buildTwoLevel(lens, 288, 32, lit, dist, f.bytes);
    return f;
}

constexpr FixedTable kFixedHuffmanTable = n8_makeFixedTable();

// Spot checks of the fixed table against the values the decoder relies on.
static_assert(kFixedHuffmanTable.bytes[kLitInfo1 + 0] == 0x67, "seven zero bits: end of block");
static_assert(kFixedHuffmanTable.bytes[kLitInfo1 + n8_reverse(9, 7)] == 0x88 &&
                  kFixedHuffmanTable.bytes[kLitVal1 + n8_reverse(9, 7)] == 8 &&
                  kFixedHuffmanTable.bytes[kLitVal1 + (n8_reverse(9, 7) | 0x80)] == 9,
              "symbol 265 folds its extra bit");
static_assert(kFixedHuffmanTable.bytes[kLitInfo1 + n8_reverse(21, 7)] == 0xC7, "symbol 277: 4 extra bits left");
static_assert(kFixedHuffmanTable.bytes[kLitInfo1 + n8_reverse(0xC0, 8)] == 0xC8, "symbol 280");
static_assert(kFixedHuffmanTable.bytes[kLitInfo1 + n8_reverse(0xC1, 8)] == 0xD8, "symbol 281");
static_assert(kFixedHuffmanTable.bytes[kDistInfo1 + n8_reverse(14, 5)] == 0x65, "distance 14: 6 extra bits left");

// ---- Packed first levels ---------------------------------------------------------------------------------------

struct PackedTable {
    Kel32u entries[kPackedEntries];
};

// The shortest literal code in a packed literal/length level (16 when there is none).
constexpr unsigned n8_shortestLiteral(const Kel32u* packed) {
    unsigned shortest = 16;
    for (unsigned i = 0; i < 1024; ++i) {
        const unsigned n = (packed[i] >> 31) ? (packed[i] & 0xFF) : 16;
        shortest = n < shortest ? n : shortest;
    }
    return shortest;
}

// A literal of n bits leaves 10 - n index bits: when they hold a whole second literal code, the entry takes both.
// Index i >> n is that second code's own entry (its unknown top bits lie beyond the code); it is still a single
// entry here, since i runs downwards and i >> n < i for every i > 0. Two codes fit 10 bits only if one has at most
// 5: without such a literal (binary data, flat codes) there is nothing to pair. Entries whose first code is no
// literal, or one too long to leave room for the shortest literal, are passed over at once.
constexpr void n8_pairLiterals(Kel32u* packed, unsigned shortestLiteral) {
    const Kel32u longestFirst = shortestLiteral <= 5 ? 10 - shortestLiteral : 0;
    for (unsigned i = longestFirst ? 1024 : 0; i-- > 0;) {
        const Kel32u e = packed[i];
        if (!(e >> 31) || (e & 0xFF) > longestFirst) continue;
        const Kel32u next = packed[i >> (e & 15)];
        const bool pair = ((next & ~(next << 1)) >> 31) & ((e & 0xFF) + (next & 0xFF) <= 10);
        const Kel32u joined = e + ((next & 0xFF00) << 8) + (next & 0xFF) + kPackedPair;
        packed[i] = pair ? joined : e;
    }
}

// The straightforward repacking: every entry on its own. Used at compile time for the fixed code, and the
// definition that n8_packTwoLevel must reproduce for every table the builder makes.
constexpr void n8_packInto(const Kel8u* t, Kel32u* packed) {
    for (unsigned i = 0; i < 1024; ++i) packed[i] = n8_packLitEntry(t[kLitInfo1 + i], t[kLitVal1 + i]);
    n8_pairLiterals(packed, n8_shortestLiteral(packed));
    for (unsigned i = 0; i < 1024; ++i) {
        const unsigned val = t[kDistVal1 + 2 * i] | (unsigned(t[kDistVal1 + 2 * i + 1]) << 8);
        packed[1024 + i] = n8_packDistEntry(t[kDistInfo1 + i], val);
    }
}

constexpr PackedTable n8_makeFixedPacked() {
    PackedTable p{};
    n8_packInto(kFixedHuffmanTable.bytes, p.entries);
    return p;
}

constexpr PackedTable kFixedPacked = n8_makeFixedPacked();

static_assert(kFixedPacked.entries[0] == 0x6780, "end of block stays as stored");
static_assert(kFixedPacked.entries[n8_reverse(0x30, 8)] == (kPackedLiteral | 0x0008),
              "literal 0: 8 bits, no second code fits the last 2 bits");
static_assert(kFixedPacked.entries[n8_reverse(9, 7) | 0x80] == ((12u << 16) | (8u << 8) | 8),
              "symbol 265 with extra bit 1 folded: length 12, 8 bits");
static_assert(kFixedPacked.entries[n8_reverse(21, 7)] == ((67u << 16) | (7u << 8) | 11),
              "symbol 277: base 67, 4 extra bits after 7 code bits");
static_assert(kFixedPacked.entries[1024 + n8_reverse(14, 5)] == ((129u << 16) | (5u << 8) | 11),
              "distance code 14: base 129, 6 extra bits after 5 code bits");

// ---- Short form -----------------------------------------------------------------------------------------------

// Fills 2^maxBits 16-bit literal/length entries for a code of length l with reversed value r.
void n8_fillShort16(Kel8u* t, unsigned r, unsigned l, unsigned maxBits, unsigned entry) {
    for (unsigned i = r; i < (1u << maxBits); i += 1u << l) n8_put16(t + 2 * i, entry);
}

unsigned n8_shortLitEntry(unsigned sym, unsigned l) {
    if (sym < 256) return (sym << 8) | l;
    if (sym == 256) return (kShortKindEnd << 4) | l;
    if (sym <= 285) return kLenExtr[sym - 256] | l;
    return (kShortKindInvalid << 4) | l;
}

}  // namespace

const Kel8u* n8_fixedHuffmanTable() {
    return kFixedHuffmanTable.bytes;
}

void n8_packTwoLevel_ref(const Kel8u* t, Kel32u* packed) {
    n8_packInto(t, packed);
}

const Kel32u* n8_fixedPackedTable() {
    return kFixedPacked.entries;
}

namespace {

// The repacking below is n8_packLitEntry and n8_packDistEntry over whole vectors: every entry is computed from its
// own two bytes, without branches, so the result equals n8_packInto's for any table (a damaged context included).
// Each entry is assembled byte by byte: lanes holding byte 0, 1, 2 and 3 of 16 entries are interleaved at the end.

inline __m128i n8_select(__m128i mask, __m128i a, __m128i b) {
    return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}

// Sixteen literal/length entries i .. i + 15; returns, per lane, the code length of a plain literal and 16 otherwise.
inline __m128i n8_packLit16(const Kel8u* t, unsigned i, Kel32u* packed) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i info = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + kLitInfo1 + i));
    const __m128i val = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + kLitVal1 + i));
    const __m128i n = _mm_and_si128(info, _mm_set1_epi8(15));
    // Bits 4-6 of each byte: the 16-bit shift moves bits of the neighbouring byte only into bits the mask clears.
    const __m128i x = _mm_and_si128(_mm_srli_epi16(info, 4), _mm_set1_epi8(7));
    // n and x are below 16, so signed byte compares order them correctly; info < 0 (signed) is bit 7.
    const __m128i plain = _mm_and_si128(_mm_cmpgt_epi8(n, zero), _mm_cmplt_epi8(n, _mm_set1_epi8(11)));
    const __m128i literal = _mm_and_si128(plain, _mm_cmpeq_epi8(_mm_and_si128(info, _mm_set1_epi8(char(0xF0))), zero));
    const __m128i length =
        _mm_and_si128(_mm_and_si128(plain, _mm_cmplt_epi8(info, zero)), _mm_cmplt_epi8(x, _mm_set1_epi8(6)));
    const __m128i slow = _mm_andnot_si128(_mm_or_si128(literal, length), _mm_set1_epi8(-1));
    const __m128i high = _mm_set1_epi8(char(0x80));

    // The length base is val + 3 in bytes 2-3: it carries into byte 3 for val > 252 (unsigned, compared signed
    // after flipping bit 7).
    const __m128i base = _mm_add_epi8(val, _mm_set1_epi8(3));
    const __m128i carry =
        _mm_and_si128(_mm_cmpgt_epi8(_mm_xor_si128(val, high), _mm_set1_epi8(char(252 ^ 0x80))), _mm_set1_epi8(1));
    const __m128i b0 = _mm_or_si128(_mm_or_si128(_mm_and_si128(literal, n), _mm_and_si128(length, _mm_add_epi8(n, x))),
                                    _mm_and_si128(slow, high));
    const __m128i b1 =
        _mm_or_si128(_mm_or_si128(_mm_and_si128(literal, val), _mm_and_si128(length, n)), _mm_and_si128(slow, info));
    const __m128i b2 = _mm_or_si128(_mm_and_si128(length, base), _mm_and_si128(slow, val));
    const __m128i b3 = _mm_or_si128(_mm_and_si128(literal, high), _mm_and_si128(length, carry));

    const __m128i lo01 = _mm_unpacklo_epi8(b0, b1), hi01 = _mm_unpackhi_epi8(b0, b1);
    const __m128i lo23 = _mm_unpacklo_epi8(b2, b3), hi23 = _mm_unpackhi_epi8(b2, b3);
    __m128i* out = reinterpret_cast<__m128i*>(packed + i);
    _mm_storeu_si128(out, _mm_unpacklo_epi16(lo01, lo23));
    _mm_storeu_si128(out + 1, _mm_unpackhi_epi16(lo01, lo23));
    _mm_storeu_si128(out + 2, _mm_unpacklo_epi16(hi01, hi23));
    _mm_storeu_si128(out + 3, _mm_unpackhi_epi16(hi01, hi23));
    return n8_select(literal, n, _mm_set1_epi8(16));
}

// Eight distance entries i .. i + 7, in 16-bit lanes.
inline void n8_packDist8(const Kel8u* t, unsigned i, Kel32u* packed) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i info = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(t + kDistInfo1 + i)), zero);
    const __m128i val = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + kDistVal1 + 2 * i));
    const __m128i n = _mm_and_si128(info, _mm_set1_epi16(15));
    const __m128i x = _mm_srli_epi16(info, 4);
    // 2^x - 1 for x = 0..15, looked up byte by byte (x is the low byte of its lane, the high byte's index is 0).
    const __m128i maskLo =
        _mm_shuffle_epi8(_mm_setr_epi8(0, 1, 3, 7, 15, 31, 63, 127, -1, -1, -1, -1, -1, -1, -1, -1), x);
    const __m128i maskHi = _mm_shuffle_epi8(_mm_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 3, 7, 15, 31, 63, 127), x);
    const __m128i extraMask = _mm_or_si128(maskLo, _mm_slli_epi16(maskHi, 8));
    // The farthest distance the entry reaches, saturated: above kMaxDistance it is not plain. Unsigned 16-bit
    // compare done signed after flipping bit 15.
    const __m128i farthest = _mm_adds_epu16(val, extraMask);
    const __m128i tooFar = _mm_cmpgt_epi16(_mm_xor_si128(farthest, _mm_set1_epi16(short(0x8000))),
                                           _mm_set1_epi16(short(kMaxDistance ^ 0x8000)));
    const __m128i plain = _mm_andnot_si128(
        tooFar, _mm_and_si128(_mm_and_si128(_mm_cmpgt_epi16(n, zero), _mm_cmplt_epi16(n, _mm_set1_epi16(11))),
                              _mm_cmplt_epi16(x, _mm_set1_epi16(14))));
    const __m128i low = n8_select(plain, _mm_or_si128(_mm_add_epi16(n, x), _mm_slli_epi16(n, 8)),
                                  _mm_or_si128(_mm_set1_epi16(short(kPackedSlow)), _mm_slli_epi16(info, 8)));
    __m128i* out = reinterpret_cast<__m128i*>(packed + 1024 + i);
    _mm_storeu_si128(out, _mm_unpacklo_epi16(low, val));
    _mm_storeu_si128(out + 1, _mm_unpackhi_epi16(low, val));
}

// n8_pairLiterals with the entries it passes over (no literal, or a first code too long) told apart four at a time:
// in text a few hundred of the 1024 qualify, in binary data none.
inline void n8_pairLiteralsByFour(Kel32u* packed, unsigned shortestLiteral) {
    if (shortestLiteral > 5) return;
    const Kel32u longestFirst = 10 - shortestLiteral;
    // A literal entry masked to its sign and low byte is INT_MIN + its bits as a signed number, any other entry is
    // non-negative: below INT_MIN + longestFirst + 1 exactly when it is a literal of at most longestFirst bits.
    const __m128i keep = _mm_set1_epi32(int(0x800000FFu));
    const __m128i limit = _mm_set1_epi32(int(0x80000000u + longestFirst + 1));
    for (unsigned group = 1024; group != 0;) {
        group -= 4;
        const __m128i e4 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(packed + group));
        unsigned todo = unsigned(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmplt_epi32(_mm_and_si128(e4, keep), limit))));
        // Downwards inside the group as well: the second code's entry i >> n lies below i and is still unpaired.
        while (todo != 0) {
            const unsigned j = 31 - unsigned(__builtin_clz(todo));
            todo &= ~(1u << j);
            const unsigned i = group + j;
            const Kel32u e = packed[i];
            const Kel32u next = packed[i >> (e & 15)];
            const bool pair = ((next & ~(next << 1)) >> 31) & ((e & 0xFF) + (next & 0xFF) <= 10);
            packed[i] = pair ? e + ((next & 0xFF00) << 8) + (next & 0xFF) + kPackedPair : e;
        }
    }
}

}  // namespace

void n8_packTwoLevel(const Kel8u* t, Kel32u* packed) {
    __m128i shortest = _mm_set1_epi8(16);
    for (unsigned i = 0; i < 1024; i += 16) shortest = _mm_min_epu8(shortest, n8_packLit16(t, i, packed));
    // The minimum of the 16 lanes: fold halves until one byte is left.
    shortest = _mm_min_epu8(shortest, _mm_srli_si128(shortest, 8));
    shortest = _mm_min_epu8(shortest, _mm_srli_si128(shortest, 4));
    shortest = _mm_min_epu8(shortest, _mm_srli_si128(shortest, 2));
    shortest = _mm_min_epu8(shortest, _mm_srli_si128(shortest, 1));
    n8_pairLiteralsByFour(packed, unsigned(_mm_cvtsi128_si32(shortest) & 0xFF));
    for (unsigned i = 0; i < 1024; i += 8) n8_packDist8(t, i, packed);
}

}  // namespace kel::inflate

using namespace kel::inflate;

extern "C" KelStatus n8_kelsInflateBuildHuffTable(const Kel16u* codeLens, Kel32u numLitLens, int numDistLens,
                                                  InflateContext* pContext) {
    if (codeLens == nullptr || pContext == nullptr) return kelStatusNullPointer;
    if (numLitLens > 288 || numDistLens < 0 || numDistLens > 30) return kelStatusBadSize;
    SetShape lit{}, dist{};
    if (!n8_checkSet(codeLens, numLitLens, lit) || lit.nonZero == 0) return kelStatusBadStream;
    const unsigned numDist = unsigned(numDistLens);
    if (!n8_checkSet(codeLens + numLitLens, numDist, dist)) return kelStatusBadStream;

    Kel8u* t = pContext->tables;
    if (lit.maxLen > kShortMaxLit || dist.maxLen > kShortMaxDist) {
        pContext->tableKind = 1;
        return n8_buildTwoLevel(codeLens, numLitLens, numDist, lit, dist, t) ? kelStatusOk : kelStatusBadStream;
    }

    pContext->maxLitLen = lit.maxLen;
    pContext->maxDistLen = dist.maxLen;
    if (numLitLens < 257) return kelStatusBadStream;
    Kel16u codes[288];
    n8_canonicalCodes(codeLens, numLitLens, lit, codes);
    if (lit.singleBit) n8_fillShort16(t, 1, 1, lit.maxLen, (kShortKindInvalid << 4) | 1);
    for (unsigned sym = 0; sym < numLitLens; ++sym) {
        // Without an end-of-block code no block could end: refused once the literals are in place.
        if (sym == 256 && codeLens[256] == 0) return kelStatusBadStream;
        const unsigned l = codeLens[sym];
        if (l != 0) n8_fillShort16(t, n8_reverse(codes[sym], l), l, lit.maxLen, n8_shortLitEntry(sym, l));
    }

    if (dist.nonZero != 0) {
        // Info bytes (extra << 4 | length) at distInfo, 16-bit base distances 1024 bytes further on.
        Kel8u* distInfo = t + 2 * (std::size_t(1) << lit.maxLen);
        Kel8u* distBase = distInfo + 1024;
        const unsigned size = 1u << dist.maxLen;
        const Kel16u* dLens = codeLens + numLitLens;
        n8_canonicalCodes(dLens, numDist, dist, codes);
        if (dist.singleBit) {
            for (unsigned i = 1; i < size; i += 2) distInfo[i] = Kel8u(kInvalidDist | 1);
        }
        for (unsigned d = 0; d < numDist; ++d) {
            const unsigned l = dLens[d];
            if (l == 0) continue;
            for (unsigned i = n8_reverse(codes[d], l); i < size; i += 1u << l) {
                distInfo[i] = Kel8u(kDistExtr[d].extra | l);
                n8_put16(distBase + 2 * i, kDistExtr[d].base);
            }
        }
    }
    pContext->tableKind = 2;
    return kelStatusOk;
}

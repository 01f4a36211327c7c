// src/ch/regexp/unicode/unicode_internal.h - UTF-8 decoding, Unicode 5.1 property tables and property tests of the
// regular-expression engine.
//
// The decoder is inline because the matcher runs it once per subject character. The tables are generated
// (ucd_tables.inc, made by tools/gen_unicode_tables.mjs) and defined once, in unicode_tables.cpp. The property
// tests answer for any 32-bit value: code points without data, values above U+10FFFF and negative values all read
// as unassigned (Cn), so every `\P{...}` is the exact complement of its `\p{...}`.
#pragma once

#include "ch/regexp/regexp_internal.h"
#include "ch/string/utf8_tables.inc"
#include "kelbase.h"

// ---- Tables ----------------------------------------------------------------------------------------------------

// One assigned code point: category mask (below), simple uppercase and lowercase mapping, 0 when there is none.
struct UniEntry {
    Kel32u code;
    Kel32u category;
    Kel32u upper;
    Kel32u lower;
};
// A run of code points left out of UniTbl because they all share one category and have no case mappings.
struct UniRange {
    Kel32u first;
    Kel32u last;
    Kel32u category;
};
// A block: "In" + its name without spaces, hyphens or underscores, NUL-padded, and its code-point range.
struct UniBlock {
    char name[128];
    Kel32u first;
    Kel32u last;
};
// An inclusive code-point range of a script table.
struct UniPair {
    Kel32u first;
    Kel32u last;
};
// A script as named in `\p{...}`, with its range table.
struct UniScript {
    const char* name;
    const UniPair* ranges;
    Kel32s numRanges;
};

constexpr int kUniTblEntries = 19316;
constexpr int kUniRangeTblEntries = 10;
constexpr int kUniBlockTblEntries = 171;
constexpr int kUniScriptTblEntries = 77;

// Sorted by code point; every assigned code point U+0000..U+E01EF outside UniRangeTbl.
extern const UniEntry UniTbl[kUniTblEntries];
extern const UniRange UniRangeTbl[kUniRangeTblEntries];
// In code-point order.
extern const UniBlock UniBlockTbl[kUniBlockTblEntries];
// In the order of the accepted script list (Common first); each Uni<Script>Tbl is sorted by code point.
extern const UniScript UniScriptTbl[kUniScriptTblEntries];

// ---- Category masks --------------------------------------------------------------------------------------------
// One major bit (0x80 << k) plus, for a specific category, one minor bit (bits 0-6). A mask with only a major bit
// names the whole major class; "L&" is L with the three minor bits of Ll, Lu and Lt.
constexpr Kel32u kUniMajorBits = 0x3F80;
constexpr Kel32u kUniMinorBits = 0x7F;
constexpr Kel32u kUniL = 0x80, kUniLl = 0x81, kUniLu = 0x82, kUniLt = 0x84, kUniLm = 0x88, kUniLo = 0x90;
constexpr Kel32u kUniLAmp = 0x87;
constexpr Kel32u kUniM = 0x100, kUniMn = 0x101, kUniMc = 0x102, kUniMe = 0x104;
constexpr Kel32u kUniZ = 0x200;
constexpr Kel32u kUniS = 0x400;
constexpr Kel32u kUniN = 0x800;
constexpr Kel32u kUniP = 0x1000;
constexpr Kel32u kUniC = 0x2000, kUniCc = 0x2001, kUniCf = 0x2002, kUniCo = 0x2004, kUniCs = 0x2008, kUniCn = 0x2010;

// ---- UTF-8 decoding --------------------------------------------------------------------------------------------

// Decodes the UTF-8 sequence at p, of which avail >= 1 bytes may be read. Returns its length 1..6 with the code
// point in *pCode; 0 when the byte at p cannot start a sequence (0x80-0xBF, 0xFE, 0xFF); -1 - k when continuation
// byte k + 1 is missing (not of the form 10xxxxxx, or beyond avail) or, with k = n, when the value has a shorter
// encoding (overlong). Surrogates and values above U+10FFFF decode like any other value. On a result below 1,
// *pCode is not written and callers take the byte at p as the code point, with length 1. Reads stop at the first
// byte that is not a continuation byte, so a NUL-terminated text is never read past its terminator.
inline int n8_ownsUTF8ToUnicode(const Kel8u* p, Kel32s avail, Kel32s* pCode) {
    const Kel32u b = p[0];
    if (b < 0x80) {
        *pCode = static_cast<Kel32s>(b);
        return 1;
    }
    // Continuation bytes announced by the lead byte: the 1-bits that follow its top bit.
    int n = 0;
    while (n < 6 && (b & (0x40u >> n))) ++n;
    if (n == 0 || n == 6) return 0;
    // At most 5 + 5 * 6 = 31 payload bits: the value fits in Kel32s.
    Kel32u code = (b & UTF8_table3[n]) << (6 * n);
    for (int k = 0; k < n; ++k) {
        if (k + 1 >= avail || (p[k + 1] & 0xC0) != 0x80) return -1 - k;
        code |= static_cast<Kel32u>(p[k + 1] & 0x3F) << (6 * (n - 1 - k));
    }
    int m = 0;
    while (code > UTF8_table1[m]) ++m;
    if (m != n) return -1 - n;
    *pCode = static_cast<Kel32s>(code);
    return n + 1;
}

// Length of the character at p (avail >= 1 bytes readable): the decoded length of a valid shortest-form
// sequence, else 1.
inline int n8_ownsGetCharSize(const Kel8u* p, Kel32s avail) {
    Kel32s code;
    const int len = n8_ownsUTF8ToUnicode(p, avail, &code);
    return len > 0 ? len : 1;
}

// ---- Properties ------------------------------------------------------------------------------------------------

// General category mask of any 32-bit value: UniRangeTbl, then UniTbl, else Cn.
Kel32u n8_ownsUnicodeCategory(Kel32s code);

// Simple lowercase mapping: the UniTbl mapping when there is a non-zero one, else code itself.
Kel32s n8_ownsUnicodeLower(Kel32s code);

// Parses a property after `\p` (negate 0) or `\P` (negate -1): *pp points at the byte after the letter and never
// moves past the pattern's NUL. Success: returns 0, fills *pNode (a UnicodeCategory, UnicodeRange or
// UnicodeScript node with opts and ptr set, options not included) and advances *pp past the property. Failure:
// returns -1 with *pp at the offending byte.
int n8_ownsCompileUnicodeP(const Kel8u** pp, RegExpNode* pNode, Kel32s negate);

// The script step of n8_ownsCompileUnicodeP: *pp at the first byte of a name that must be followed by `}`.
int n8_ownsCompileUnicodeAlf(const Kel8u** pp, RegExpNode* pNode, Kel32s negate);

// 0 when code satisfies the LetterUtf8, UnicodeCategory, UnicodeRange or UnicodeScript node, -1 when it does not
// and for every other node kind. caseless compares LetterUtf8 code points through their simple lowercase mapping.
int n8_ownsCheckUnicodeSymbol(Kel32s code, const RegExpNode& node, bool caseless);

// The mark tests of `\X`: true for a code point of major category M (kWantMark) or of any other category
// (!kWantMark). Unassigned and invalid values are not marks, so `\X` takes them as base characters.
template <bool kWantMark>
inline bool n8_ownsIsUnicodeProperty(Kel32s code) {
    return ((n8_ownsUnicodeCategory(code) & kUniMajorBits) == kUniM) == kWantMark;
}

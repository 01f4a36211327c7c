// src/ch/regexp/unicode/unicode.cpp - the `\p{...}` parser and the Unicode property tests.
//
// Lookups are binary searches over the sorted generated tables (UniTbl has 19316 entries, the largest script table
// 530), so a test costs at most 15 probes. Every 32-bit value has a category: the bulk ranges, then UniTbl, and
// Cn for everything else (unassigned code points, values beyond U+10FFFF, negative values). Negated tests are the
// exact complements of the plain ones.
#include "ch/regexp/unicode/unicode_internal.h"

namespace {

// Major category letters and their masks, in the order of the mask bits.
constexpr char kMajorLetters[] = "LMZSNPC";

Kel32u n8_majorMask(Kel8u letter) {
    for (int i = 0; kMajorLetters[i]; ++i) {
        if (kMajorLetters[i] == letter) return 0x80u << i;
    }
    return 0;
}

struct CategoryName {
    char name[3];
    Kel32u mask;
};
constexpr CategoryName kCategoryNames[] = {
    {"Ll", 0x81},   {"Lu", 0x82},   {"Lt", 0x84},   {"Lm", 0x88},   {"Lo", 0x90},   {"Mn", 0x101},
    {"Mc", 0x102},  {"Me", 0x104},  {"Zs", 0x201},  {"Zl", 0x202},  {"Zp", 0x204},  {"Sm", 0x401},
    {"Sc", 0x402},  {"Sk", 0x404},  {"So", 0x408},  {"Nd", 0x801},  {"Nl", 0x802},  {"No", 0x804},
    {"Pd", 0x1001}, {"Ps", 0x1002}, {"Pe", 0x1004}, {"Pi", 0x1008}, {"Pf", 0x1010}, {"Pc", 0x1020},
    {"Po", 0x1040}, {"Cc", 0x2001}, {"Cf", 0x2002}, {"Co", 0x2004}, {"Cs", 0x2008}, {"Cn", 0x2010},
};

// Index of code in UniTbl, or -1.
int n8_findEntry(Kel32s code) {
    int lo = 0, hi = kUniTblEntries - 1;
    const Kel32u c = static_cast<Kel32u>(code);
    while (lo <= hi) {
        const int mid = (lo + hi) >> 1;
        if (UniTbl[mid].code < c) {
            lo = mid + 1;
        } else if (UniTbl[mid].code > c) {
            hi = mid - 1;
        } else {
            return mid;
        }
    }
    return -1;
}

// Index of the bulk range holding code, or -1.
int n8_findBulkRange(Kel32s code) {
    const Kel32u c = static_cast<Kel32u>(code);
    for (int i = 0; i < kUniRangeTblEntries; ++i) {
        if (c >= UniRangeTbl[i].first && c <= UniRangeTbl[i].last) return i;
    }
    return -1;
}

// Category K satisfies mask M when both name the same major class and M is either the whole class or shares a
// minor bit with K (M may carry several minor bits, as "L&" does).
bool n8_categoryMatches(Kel32u k, Kel32u m) {
    if ((k & kUniMajorBits) != (m & kUniMajorBits)) return false;
    return (m & kUniMinorBits) == 0 || (k & m & kUniMinorBits) != 0;
}

// True when [p, p + len) holds exactly the NUL-terminated text s.
bool n8_nameEquals(const Kel8u* p, long len, const char* s) {
    long i = 0;
    for (; i < len; ++i) {
        if (s[i] == 0 || static_cast<Kel8u>(s[i]) != p[i]) return false;
    }
    return s[i] == 0;
}

// End of a name: the first `}` or NUL at or after p.
const Kel8u* n8_nameEnd(const Kel8u* p) {
    while (*p && *p != '}') ++p;
    return p;
}

RegExpNode n8_categoryNode(Kel32u mask, Kel32s negate) {
    return RegExpNode{kNodeUnicodeCategory, static_cast<Kel32s>(mask), negate, 0, nullptr};
}

RegExpNode n8_rangeNode(Kel32u first, Kel32u last, Kel32s negate) {
    return RegExpNode{kNodeUnicodeRange, static_cast<Kel32s>(first), static_cast<Kel32s>(last),
                      negate ? kNegatedMember : 0u, nullptr};
}

}  // namespace

Kel32u n8_ownsUnicodeCategory(Kel32s code) {
    if (code < 0 || code > 0x10FFFF) return kUniCn;
    const int r = n8_findBulkRange(code);
    if (r >= 0) return UniRangeTbl[r].category;
    const int e = n8_findEntry(code);
    return e >= 0 ? UniTbl[e].category : kUniCn;
}

Kel32s n8_ownsUnicodeLower(Kel32s code) {
    if (code < 0 || n8_findBulkRange(code) >= 0) return code;
    const int e = n8_findEntry(code);
    return e >= 0 && UniTbl[e].lower != 0 ? static_cast<Kel32s>(UniTbl[e].lower) : code;
}

int n8_ownsCompileUnicodeAlf(const Kel8u** pp, RegExpNode* pNode, Kel32s negate) {
    const Kel8u* p = *pp;
    const Kel8u* end = n8_nameEnd(p);
    if (*end != '}') {
        *pp = end;
        return -1;
    }
    for (const UniScript& s : UniScriptTbl) {
        if (n8_nameEquals(p, end - p, s.name)) {
            *pNode = RegExpNode{kNodeUnicodeScript, 1, negate, static_cast<Kel32u>(s.numRanges),
                                reinterpret_cast<const Kel8u*>(s.ranges)};
            *pp = end + 1;
            return 0;
        }
    }
    *pp = p;
    return -1;
}

int n8_ownsCompileUnicodeP(const Kel8u** pp, RegExpNode* pNode, Kel32s negate) {
    const Kel8u* p = *pp;
    if (const Kel32u major = n8_majorMask(p[0])) {
        *pNode = n8_categoryNode(major, negate);
        *pp = p + 1;
        return 0;
    }
    if (p[0] != '{') {
        *pp = p;
        return -1;
    }
    ++p;
    if (*p == '^') {
        // `\P{^...}` would negate twice; it is rejected rather than read as a plain property.
        if (negate) {
            *pp = p;
            return -1;
        }
        negate = -1;
        ++p;
    }
    if (p[0] == 'A' && p[1] == 'n' && p[2] == 'y' && p[3] == '}') {
        *pNode = n8_rangeNode(0, 0x10FFFF, negate);
        *pp = p + 4;
        return 0;
    }
    if (const Kel32u major = n8_majorMask(p[0])) {
        Kel32u mask = 0;
        const Kel8u* after = p + 1;
        if (p[1] == '}') {
            mask = major;
        } else if (p[0] == 'L' && p[1] == '&') {
            mask = kUniLAmp;
            after = p + 2;
        } else {
            for (const CategoryName& c : kCategoryNames) {
                if (c.name[0] == p[0] && c.name[1] == p[1]) mask = c.mask;
            }
            // "Co" followed by more letters is the start of a script name (Common, Coptic).
            if (mask == kUniCo && p[2] != '}') mask = 0;
            if (mask) after = p + 2;
        }
        if (mask) {
            if (*after != '}') {
                *pp = after;
                return -1;
            }
            *pNode = n8_categoryNode(mask, negate);
            *pp = after + 1;
            return 0;
        }
    }
    if (p[0] == 'I') {
        const Kel8u* end = n8_nameEnd(p);
        if (*end == '}') {
            for (const UniBlock& b : UniBlockTbl) {
                if (n8_nameEquals(p, end - p, b.name)) {
                    *pNode = n8_rangeNode(b.first, b.last, negate);
                    *pp = end + 1;
                    return 0;
                }
            }
        }
    }
    *pp = p;
    return n8_ownsCompileUnicodeAlf(pp, pNode, negate);
}

int n8_ownsCheckUnicodeSymbol(Kel32s code, const RegExpNode& node, bool caseless) {
    bool hit;
    switch (node.kind) {
        case kNodeLetterUtf8:
            hit = caseless ? n8_ownsUnicodeLower(code) == n8_ownsUnicodeLower(node.a) : code == node.a;
            return hit ? 0 : -1;
        case kNodeUnicodeCategory:
            hit = n8_categoryMatches(n8_ownsUnicodeCategory(code), static_cast<Kel32u>(node.a));
            return hit != (node.b != 0) ? 0 : -1;
        case kNodeUnicodeRange:
            hit = code >= node.a && code <= node.b;
            return hit != (node.opts != 0) ? 0 : -1;
        case kNodeUnicodeScript: {
            const UniPair* t = reinterpret_cast<const UniPair*>(node.ptr);
            const Kel32u c = static_cast<Kel32u>(code);
            int lo = 0, hi = static_cast<int>(node.opts) - 1;
            hit = false;
            while (lo <= hi && !hit) {
                const int mid = (lo + hi) >> 1;
                if (t[mid].last < c) {
                    lo = mid + 1;
                } else if (t[mid].first > c) {
                    hi = mid - 1;
                } else {
                    hit = true;
                }
            }
            // Negative values (invalid bytes) compare as huge unsigned values: above every table.
            return hit != (node.b != 0) ? 0 : -1;
        }
        default:
            return -1;
    }
}

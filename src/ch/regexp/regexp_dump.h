// src/ch/regexp/regexp_dump.h - debugging aids for compiled patterns: a readable listing (for the tests and
// `kel regex --dump`) and a checker of the node-program rules of regexp_internal.h (for the tests and the fuzz
// target).
//
// Header-only and never linked into the libraries (it uses the C++ standard library): it reads the state through
// the layout in regexp_internal.h alone, so a program that links only the shared library can list what
// kelsRegExpInit produced. The listing has one line for the header, then one line per node: index, kind, operands.
#pragma once

#include <cstdio>
#include <string>

#include "ch/regexp/regexp_internal.h"
#include "ch/string/utf8_tables.inc"

// Option letters in "gimsx" order, or "-" for none.
inline std::string n8_regExpOptionText(Kel32u options) {
    std::string s;
    if (options & kRegExpGlobal) s += 'g';
    if (options & kRegExpCaseless) s += 'i';
    if (options & kRegExpMultiLine) s += 'm';
    if (options & kRegExpDotAll) s += 's';
    if (options & kRegExpExtended) s += 'x';
    return s.empty() ? "-" : s;
}

inline std::string n8_regExpByteText(Kel32s v, char quote) {
    char buf[16];
    if (v >= 32 && v < 127 && v != '\\' && v != quote) {
        std::snprintf(buf, sizeof buf, "%c", static_cast<char>(v));
    } else {
        std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned>(v) & 0xFF);
    }
    return buf;
}

inline std::string n8_regExpDumpNode(const RegExpNode& n) {
    char buf[160];
    const auto opt = [&n]() {
        const Kel32u o = n.opts & ~kRegExpGlobal;
        return o ? " [" + n8_regExpOptionText(o) + "]" : std::string();
    };
    const char* neg = n.b ? " negated" : "";
    switch (n.kind) {
        case kNodeLetter:
            return "Letter '" + n8_regExpByteText(n.a, '\'') + "'" + opt();
        case kNodeString: {
            std::string s = "String \"";
            for (Kel32s i = 0; i < n.b; ++i) s += n8_regExpByteText(n.ptr[i], '"');
            return s + "\"" + opt();
        }
        case kNodeBackReference:
            std::snprintf(buf, sizeof buf, "BackReference %d", n.a);
            return buf + opt();
        case kNodeCharacterClass:
            std::snprintf(buf, sizeof buf, "CharacterClass%s members=%d", n.a ? " negated" : "", n.b);
            return buf;
        case kNodeLetterRange:
            return std::string("LetterRange ") + (n.a == '.' ? "." : "\\" + std::string(1, char(n.a)));
        case kNodePosition:
            return n.a == kPositionLineStart  ? "Position line-start"
                   : n.a == '^' || n.a == '$' ? "Position " + std::string(1, char(n.a))
                                              : "Position \\" + std::string(1, char(n.a));
        case kNodeAlternation:
            std::snprintf(buf, sizeof buf, "Alternation level=%d options=%s", n.a,
                          n8_regExpOptionText(static_cast<Kel32u>(n.b)).c_str());
            return buf;
        case kNodeClassRange:
            std::snprintf(buf, sizeof buf, "ClassRange 0x%02x-0x%02x%s", n.a, n.b, n.opts ? " negated" : "");
            return buf;
        case kNodeQuantifierMin:
        case kNodeQuantifierMax: {
            char max[16];
            if (n.b == kQuantifierInfinity) {
                std::snprintf(max, sizeof max, "inf");
            } else {
                std::snprintf(max, sizeof max, "%d", n.b);
            }
            std::snprintf(buf, sizeof buf, "%s {%d,%s}",
                          n.kind == kNodeQuantifierMin ? "QuantifierMin" : "QuantifierMax", n.a, max);
            return buf;
        }
        case kNodeGroupingLookBehind:
        case kNodeGroupingLookBehindNot:
            std::snprintf(buf, sizeof buf, "%s level=%d content=%d length=%u",
                          n.kind == kNodeGroupingLookBehind ? "GroupingLookBehind" : "GroupingLookBehindNot", n.a, n.b,
                          n.opts);
            return buf;
        case kNodeGroupingOptions:
            std::snprintf(buf, sizeof buf, "GroupingOptions level=%d content=%d options=%s", n.a, n.b,
                          n8_regExpOptionText(n.opts).c_str());
            return buf;
        case kNodeGrouping:
            std::snprintf(buf, sizeof buf, "Grouping level=%d content=%d capture=%u", n.a, n.b, n.opts);
            return buf;
        case kNodeGroupingLookAhead:
        case kNodeGroupingLookAheadNot:
        case kNodeGroupingCondition:
        case kNodeGroupingNoCapture:
        case kNodeGroupingOnce: {
            const char* name = n.kind == kNodeGroupingLookAhead      ? "GroupingLookAhead"
                               : n.kind == kNodeGroupingLookAheadNot ? "GroupingLookAheadNot"
                               : n.kind == kNodeGroupingCondition    ? "GroupingCondition"
                               : n.kind == kNodeGroupingNoCapture    ? "GroupingNoCapture"
                                                                     : "GroupingOnce";
            std::snprintf(buf, sizeof buf, "%s level=%d content=%d", name, n.a, n.b);
            return buf;
        }
        case kNodeGroupingClose:
            std::snprintf(buf, sizeof buf, "GroupingClose level=%d restore=%s single=%d", n.a,
                          n8_regExpOptionText(static_cast<Kel32u>(n.b)).c_str(), static_cast<Kel32s>(n.opts));
            return buf;
        case kNodeOptionSet:
            return "OptionSet " + n8_regExpOptionText(static_cast<Kel32u>(n.a));
        case kNodeOneByte:
            return "OneByte";
        case kNodeLetterUtf8:
            if (n.b) {
                std::snprintf(buf, sizeof buf, "LetterUtf8 U+%04X literal=%d", n.a, n.b);
            } else {
                std::snprintf(buf, sizeof buf, "LetterUtf8 U+%04X", n.a);
            }
            return buf + opt();
        case kNodeUnicodeCategory:
            std::snprintf(buf, sizeof buf, "UnicodeCategory 0x%x%s", n.a, neg);
            return buf;
        case kNodeUnicodeRange:
            std::snprintf(buf, sizeof buf, "UnicodeRange U+%04X-U+%04X%s", n.a, n.b, n.opts ? " negated" : "");
            return buf;
        case kNodeUnicodeScript:
            std::snprintf(buf, sizeof buf, "UnicodeScript ranges=%u%s", n.opts, neg);
            return buf;
        case kNodeCombLetter:
            return "CombLetter";
        default:
            std::snprintf(buf, sizeof buf, "Unknown 0x%08x", n.kind);
            return buf;
    }
}

// The whole program of a state compiled by kelsRegExpInit, one line per node, each ending in a newline.
inline std::string n8_regExpDump(const RegExpState* pState) {
    const RegExpHeader h = n8_loadRegExpHeader(pState);
    char buf[160];
    std::snprintf(buf, sizeof buf, "options=%s groups=%d nodes=%d lastLiteral=%d searchKind=%d\n",
                  n8_regExpOptionText(h.options).c_str(), h.numGroups, h.numNodes, h.lastLiteral, h.searchKind);
    std::string out = buf;
    for (Kel32s i = 0; i < h.numNodes; ++i) {
        std::snprintf(buf, sizeof buf, "%d ", i);
        out += buf + n8_regExpDumpNode(n8_loadRegExpNode(pState, i)) + "\n";
    }
    return out;
}

// ---- Contract check --------------------------------------------------------------------------------------------

namespace kel_regexp_check {

struct Checker {
    const RegExpState* state;
    long blockSize;
    RegExpHeader h;
    std::string error;

    RegExpNode node(Kel32s i) const { return n8_loadRegExpNode(state, i); }
    bool fail(Kel32s i, const std::string& what) {
        if (error.empty()) error = "node " + std::to_string(i) + ": " + what;
        return false;
    }

    bool isItemKind(Kel32u k) const {
        return k == kNodeLetter || k == kNodeString || k == kNodeBackReference || k == kNodeLetterRange ||
               k == kNodePosition || k == kNodeOneByte || k == kNodeLetterUtf8 || k == kNodeUnicodeCategory ||
               k == kNodeUnicodeRange || k == kNodeUnicodeScript || k == kNodeCombLetter;
    }

    bool checkLeaf(Kel32s i, const RegExpNode& n) {
        const Kel8u* base = n8_regExpBytes(state);
        switch (n.kind) {
            case kNodeLetter:
                if (n.a < 0 || n.a > 255) return fail(i, "Letter operand out of byte range");
                return true;
            case kNodeString: {
                const Kel8u* lit = base + kRegExpProgramOffset + static_cast<long>(h.numNodes) * kRegExpNodeSize;
                if (n.b < 2) return fail(i, "String shorter than 2");
                if (n.ptr < lit || n.ptr + n.b > base + blockSize)
                    return fail(i, "String text outside the literal area");
                return true;
            }
            case kNodeBackReference:
                if (n.a < 1 || n.a >= h.numGroups) return fail(i, "BackReference to a missing group");
                return true;
            case kNodeLetterRange: {
                const std::string ok = ".dDsSwW";
                if (ok.find(static_cast<char>(n.a)) == std::string::npos || n.a == 0) return fail(i, "bad LetterRange");
                return true;
            }
            case kNodePosition: {
                const std::string ok = "ABGZbz^$";
                if (n.a != kPositionLineStart && (n.a == 0 || ok.find(static_cast<char>(n.a)) == std::string::npos)) {
                    return fail(i, "bad Position");
                }
                return true;
            }
            case kNodeUnicodeScript:
                if (!n.ptr || n.opts == 0) return fail(i, "UnicodeScript without table");
                return true;
            case kNodeLetterUtf8:
                // A literal character's byte length must be the one its code point encodes to, and a quantifier
                // must follow it (byte searches split it into leading bytes and a repeated last byte).
                if (n.b == 0) return true;
                if (n.b < 2 || n.b > 6 || n.a < 0 || static_cast<Kel32u>(n.a) <= UTF8_table1[n.b - 2] ||
                    static_cast<Kel32u>(n.a) > UTF8_table1[n.b - 1]) {
                    return fail(i, "LetterUtf8 literal length does not fit its code point");
                }
                if (i + 1 >= h.numNodes || !n8_isQuantifierNode(node(i + 1).kind)) {
                    return fail(i, "LetterUtf8 literal without a quantifier");
                }
                return true;
            case kNodeUnicodeRange:
            case kNodeClassRange:
                if (n.a > n.b) return fail(i, "reversed range");
                return true;
            default:
                return true;
        }
    }

    // Checks nodes [from, to) at nesting level `level`; alternations there must carry `altLevel`.
    bool checkSequence(Kel32s from, Kel32s to, Kel32s level, Kel32s altLevel, Kel32s* pAlternations) {
        bool haveItem = false, afterQuantifier = false;
        for (Kel32s i = from; i < to;) {
            const RegExpNode n = node(i);
            if (n8_isQuantifierNode(n.kind)) {
                if (!haveItem || afterQuantifier) return fail(i, "quantifier without an item");
                if (n.a < 0 || n.a > n.b || n.b > kQuantifierInfinity) return fail(i, "bad quantifier bounds");
                afterQuantifier = true;
                ++i;
                continue;
            }
            afterQuantifier = false;
            haveItem = false;
            if (n.kind == kNodeCharacterClass) {
                if (n.b < 1 || i + n.b >= to) return fail(i, "class members out of range");
                for (Kel32s m = i + 1; m <= i + n.b; ++m) {
                    const RegExpNode mn = node(m);
                    if (mn.kind != kNodeLetter && mn.kind != kNodeLetterUtf8 && mn.kind != kNodeClassRange &&
                        mn.kind != kNodeLetterRange && mn.kind != kNodeUnicodeCategory &&
                        mn.kind != kNodeUnicodeRange && mn.kind != kNodeUnicodeScript) {
                        return fail(m, "bad class member kind");
                    }
                    if (!checkLeaf(m, mn)) return false;
                }
                haveItem = true;
                i += n.b + 1;
            } else if (n8_isGroupOpenNode(n.kind)) {
                if (n.a != level + 1 || n.b < 0 || i + n.b + 1 >= to) return fail(i, "bad group extent or level");
                const Kel32s close = i + n.b + 1;
                const RegExpNode cn = node(close);
                const bool negated = n8_isLookAroundNode(n.kind) || n.kind == kNodeGroupingOnce;
                if (cn.kind != kNodeGroupingClose || cn.a != (negated ? -(level + 1) : level + 1)) {
                    return fail(close, "missing or mislevelled GroupingClose");
                }
                if (n.kind == kNodeGrouping && (n.opts < 1 || static_cast<Kel32s>(n.opts) >= h.numGroups)) {
                    return fail(i, "capture number out of range");
                }
                if (n.kind == kNodeGroupingCondition) {
                    if (n.b < 1) return fail(i, "empty condition");
                    const RegExpNode cond = node(i + 1);
                    if (cond.kind != kNodeBackReference && !n8_isLookAroundNode(cond.kind))
                        return fail(i, "bad condition");
                }
                Kel32s alternations = 0;
                if (n.kind == kNodeGroupingCondition && node(i + 1).kind == kNodeBackReference) {
                    // The condition's group number is not bound by numGroups.
                    if (!checkSequence(i + 2, close, level + 1, cn.a, &alternations)) return false;
                } else if (!checkSequence(i + 1, close, level + 1, cn.a, &alternations)) {
                    return false;
                }
                if (n.kind == kNodeGroupingCondition && alternations > 1) return fail(i, "condition with two '|'");
                if (n8_isLookAroundNode(n.kind) && close + 1 < to && n8_isQuantifierNode(node(close + 1).kind)) {
                    return fail(close + 1, "quantified look-around");
                }
                haveItem = !n8_isLookAroundNode(n.kind);
                i = close + 1;
            } else if (n.kind == kNodeAlternation) {
                if (n.a != altLevel) return fail(i, "Alternation level operand");
                ++*pAlternations;
                ++i;
            } else if (n.kind == kNodeGroupingClose || n.kind == kNodeClassRange) {
                return fail(i, "stray node");
            } else if (n.kind == kNodeOptionSet) {
                ++i;
            } else if (isItemKind(n.kind)) {
                if (!checkLeaf(i, n)) return false;
                haveItem = n.kind != kNodeString;
                ++i;
            } else {
                return fail(i, "unknown kind");
            }
        }
        return true;
    }
};

}  // namespace kel_regexp_check

// Empty when the state compiled by kelsRegExpInit into a block of blockSize bytes obeys the node-program rules of
// regexp_internal.h; otherwise a description of the first violation.
inline std::string n8_regExpCheck(const RegExpState* pState, long blockSize) {
    kel_regexp_check::Checker c{pState, blockSize, n8_loadRegExpHeader(pState), {}};
    const RegExpHeader& h = c.h;
    if (h.magic != kRegExpMagic) return "bad magic";
    if (h.numGroups < 1 || h.numGroups > kRegExpMaxCaptures + 1) return "numGroups out of range";
    if (h.numNodes < 0 || kRegExpProgramOffset + static_cast<long>(h.numNodes) * kRegExpNodeSize > blockSize) {
        return "numNodes out of range";
    }
    if (h.format != kRegExpFormatUtf8 || h.matchLimit != kRegExpDefaultMatchLimit) return "bad defaults";
    if (h.searchKind < 0 || h.searchKind > 2) return "bad searchKind";
    if (h.lastLiteral < -1 || h.lastLiteral >= h.numNodes) return "lastLiteral out of range";
    if (h.lastLiteral >= 0) {
        const Kel32u k = n8_loadRegExpNode(pState, h.lastLiteral).kind;
        if (k != kNodeLetter && k != kNodeString) return "lastLiteral is not a literal";
    }
    Kel32s alternations = 0;
    c.checkSequence(0, h.numNodes, 0, 0, &alternations);
    return c.error;
}

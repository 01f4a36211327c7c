// src/ch/regexp/regexp_compile.cpp - kelsRegExpGetSize, kelsRegExpInit, kelsRegExpSetMatchLimit and
// kelsRegExpSetFormat: the pattern compiler.
//
// Two passes over the NUL-terminated pattern. Pass 1 checks the parenthesis structure (depth, balance, the number
// of capturing groups) without emitting anything, so that pass 2 knows numGroups when it meets a back-reference.
// Pass 2 translates left to right into the node program described in regexp_internal.h, keeping at most one
// pending literal run (a contiguous stretch of pattern bytes) that becomes a Letter or String node when any other
// construct arrives. Groups are closed in place: the open node's content count is filled in at `)`, look-behind
// lengths are measured there, and non-capturing groups that cannot change a result are dissolved. Afterwards
// the String bytes are copied behind the last node and the search hints are derived.
//
// Safety: every node write goes through n8_emit, which refuses to pass the capacity the state size was computed
// for (pattern length + 1 nodes); the literal copy is checked against the same bound. Every read of the pattern
// stops at its NUL: scanners test for 0 before looking further, and no construct skips a byte without checking it.
// Per-level bookkeeping lives in the group-stack area of the state (scratch until the first search), so the
// compiler's own stack use is small; only the look-behind length measure recurses, at most once per nesting level.
// Cost: linear in the pattern, except that closing a group may rescan or move its content (look-behind length,
// dissolving), which bounds the whole compile by pattern length x nesting depth (at most 999).
#include "ch/regexp/regexp_internal.h"
#include "ch/regexp/unicode/unicode_internal.h"
#include "core/ch_exports.h"

namespace {

constexpr Kel32s kMaxBound = 65535;              // largest m or n of {m,n}
constexpr Kel32s kDigitSaturation = 0x3FFFFFFE;  // quantifier digits stop counting past this value
constexpr Kel32s kMaxLookBehind = 0x3FFFFFFF;    // longer fixed look-behinds are rejected

constexpr KelStatus kBadEscape = kelStatusRegExpBadEscape;
constexpr KelStatus kBadClass = kelStatusRegExpBadClass;
constexpr KelStatus kBadReference = kelStatusRegExpBadReference;
constexpr KelStatus kBadGroup = kelStatusRegExpBadGroup;
constexpr KelStatus kBadQuantifier = kelStatusRegExpBadQuantifier;

// ---- Character helpers -----------------------------------------------------------------------------------------

bool n8_isDigit(Kel8u c) {
    return c >= '0' && c <= '9';
}
bool n8_isOctal(Kel8u c) {
    return c >= '0' && c <= '7';
}
bool n8_isAsciiLetter(Kel8u c) {
    return (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
}
int n8_hexValue(Kel8u c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
bool n8_isPatternSpace(Kel8u c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

Kel32u n8_optionBit(Kel8u c) {
    switch (c) {
        case 's':
            return kRegExpDotAll;
        case 'm':
            return kRegExpMultiLine;
        case 'i':
            return kRegExpCaseless;
        case 'x':
            return kRegExpExtended;
        default:
            return 0;
    }
}

// True when pat[q...] starts with the NUL-terminated text s (a NUL in the pattern ends the comparison).
bool n8_startsWith(const Kel8u* pat, Kel32s q, const char* s) {
    for (int i = 0; s[i]; ++i) {
        if (pat[q + i] != static_cast<Kel8u>(s[i])) return false;
    }
    return true;
}

// Value of `\cX`: X - 64 for X below 32 or above 63 (lower-case letters taken as upper case), X + 64 for 32..63.
Kel8u n8_controlValue(Kel8u x) {
    if (x >= 'a' && x <= 'z') x = static_cast<Kel8u>(x - 32);
    return static_cast<Kel8u>(x < 32 || x > 63 ? x - 64 : x + 64);
}

// ---- POSIX classes ---------------------------------------------------------------------------------------------

struct PosixClass {
    const char* name;
    Kel8u numRanges;  // 0: the word class, written as a LetterRange
    Kel8u ranges[4][2];
};
constexpr PosixClass kPosixClasses[] = {
    {"alnum", 3, {{'a', 'z'}, {'A', 'Z'}, {'0', '9'}}},
    {"alpha", 2, {{'a', 'z'}, {'A', 'Z'}}},
    {"ascii", 1, {{0, 127}}},
    {"blank", 2, {{' ', ' '}, {'\t', '\t'}}},
    {"cntrl", 1, {{0, 31}}},
    {"digit", 1, {{'0', '9'}}},
    {"graph", 1, {{33, 255}}},
    {"lower", 1, {{'a', 'z'}}},
    {"print", 1, {{32, 255}}},
    {"punct", 4, {{32, 47}, {58, 64}, {91, 96}, {123, 255}}},
    {"space", 2, {{9, 13}, {' ', ' '}}},
    {"upper", 1, {{'A', 'Z'}}},
    {"word", 0, {}},
    {"xdigit", 3, {{'a', 'f'}, {'A', 'F'}, {'0', '9'}}},
};

// The shape of a POSIX class at pat[q] == '[': `[` d [^] name d `]` with d one of `:` `.` `=`, the name running to
// the first `]`. Returns false when the bytes do not have that shape (the `[` is then an ordinary member).
struct PosixShape {
    Kel32s nameStart;
    Kel32s nameEnd;
    Kel32s end;  // just past the closing `]`
    bool negated;
};
bool n8_posixShape(const Kel8u* pat, Kel32s q, PosixShape& s) {
    const Kel8u d = pat[q + 1];
    if (d != ':' && d != '.' && d != '=') return false;
    Kel32s ns = q + 2;
    s.negated = pat[ns] == '^';
    if (s.negated) ++ns;
    Kel32s e = ns;
    while (pat[e] && pat[e] != ']') ++e;
    if (pat[e] != ']' || e - 1 < ns || pat[e - 1] != d) return false;
    s.nameStart = ns;
    s.nameEnd = e - 1;
    s.end = e + 1;
    return true;
}

const PosixClass* n8_findPosix(const Kel8u* pat, const PosixShape& s) {
    for (const PosixClass& pc : kPosixClasses) {
        Kel32s i = 0;
        while (s.nameStart + i < s.nameEnd && pc.name[i] && pat[s.nameStart + i] == static_cast<Kel8u>(pc.name[i])) ++i;
        if (s.nameStart + i == s.nameEnd && pc.name[i] == 0) return &pc;
    }
    return nullptr;
}

// ---- Pass 1 ----------------------------------------------------------------------------------------------------

// Position after the escape at pat[q] == '\\' as pass 1 skips it: `\Q` to its `\E`, `\c` with its operand.
Kel32s n8_skipEscape(const Kel8u* pat, Kel32s q) {
    const Kel8u n = pat[q + 1];
    if (n == 0) return q + 1;
    if (n == 'Q') {
        Kel32s e = q + 2;
        while (pat[e] && !(pat[e] == '\\' && pat[e + 1] == 'E')) ++e;
        return pat[e] ? e + 2 : e;
    }
    if (n == 'c' && pat[q + 2]) return q + 3;
    return q + 2;
}

// Position after the class at pat[q] == '[', by the extent rules of pass 2; the position of the NUL when the class
// is unterminated. An unterminated `\Q` inside the class is an error (*pBad = its offset).
Kel32s n8_skipClass(const Kel8u* pat, Kel32s q, Kel32s* pBad) {
    ++q;
    if (pat[q] == '^') ++q;
    if (pat[q] == ']') ++q;
    for (;;) {
        const Kel8u c = pat[q];
        if (c == 0) return q;
        if (c == ']') return q + 1;
        if (c == '\\') {
            if (pat[q + 1] == 'Q') {
                Kel32s e = q + 2;
                while (pat[e] && !(pat[e] == '\\' && pat[e + 1] == 'E')) ++e;
                if (!pat[e]) {
                    *pBad = q;
                    return -1;
                }
                q = e + 2;
            } else {
                q = n8_skipEscape(pat, q);
            }
            continue;
        }
        PosixShape s;
        if (c == '[' && n8_posixShape(pat, q, s)) {
            q = s.end;
            continue;
        }
        ++q;
    }
}

// Validates the parenthesis structure and counts capturing groups. Only the x option matters here (it decides
// whether `#` starts a comment), so one bit per nesting level is saved.
KelStatus n8_validate(const Kel8u* pat, Kel32s patLen, Kel32u options, Kel32s* pGroups, Kel32s* pErr) {
    Kel32u savedX[(kRegExpMaxLevel + 1 + 31) / 32 + 1] = {};
    Kel32s level = 0, groups = 0, q = 0;
    bool x = (options & kRegExpExtended) != 0;
    const auto push = [&](Kel32s levels) {
        for (Kel32s i = 0; i < levels; ++i) {
            ++level;
            const Kel32u bit = 1u << (level & 31);
            savedX[level >> 5] = x ? savedX[level >> 5] | bit : savedX[level >> 5] & ~bit;
        }
    };
    while (pat[q]) {
        const Kel8u c = pat[q];
        if (x && c == '#') {
            while (pat[q] && pat[q] != '\n') ++q;
            continue;
        }
        if (c == '\\') {
            q = n8_skipEscape(pat, q);
        } else if (c == '[') {
            const Kel32s e = n8_skipClass(pat, q, pErr);
            if (e < 0) return kBadClass;
            q = e;
        } else if (c == ')') {
            if (level == 0) {
                *pErr = q;
                return kBadGroup;
            }
            x = (savedX[level >> 5] >> (level & 31)) & 1;
            --level;
            ++q;
        } else if (c == '(') {
            if (pat[q + 1] == '?' && pat[q + 2] == '#') {
                Kel32s e = q + 3;
                while (pat[e] && pat[e] != ')') ++e;
                if (!pat[e]) {
                    *pErr = patLen;
                    return kBadGroup;
                }
                q = e + 1;
                continue;
            }
            if (pat[q + 1] == '?' && pat[q + 2] != '(') {
                // An option setting `(?flags)` opens no level; `(?flags:` opens one like any group.
                Kel32s f = q + 2;
                bool on = x, clearing = false;
                while (pat[f] && (n8_optionBit(pat[f]) || pat[f] == '-')) {
                    if (pat[f] == '-') clearing = true;
                    if (pat[f] == 'x') on = !clearing;
                    ++f;
                }
                if (pat[f] == ')') {
                    x = on;
                    q = f + 1;
                    continue;
                }
                if (pat[f] == ':') {
                    if (level + 1 > kRegExpMaxLevel) {
                        *pErr = q;
                        return kBadGroup;
                    }
                    push(1);
                    x = on;
                    q = f + 1;
                    continue;
                }
            }
            // `(?(` is a group and its condition's own parenthesis.
            const Kel32s levels = pat[q + 1] == '?' && pat[q + 2] == '(' ? 2 : 1;
            if (level + levels > kRegExpMaxLevel) {
                *pErr = q;
                return kBadGroup;
            }
            push(levels);
            if (pat[q + 1] != '?' && ++groups > kRegExpMaxCaptures) {
                *pErr = q;
                return kBadGroup;
            }
            q += levels == 2 ? 3 : 1;
        } else {
            ++q;
        }
    }
    if (level != 0) {
        *pErr = patLen;
        return kBadGroup;
    }
    *pGroups = groups;
    return kelStatusOk;
}

// ---- Pass 2 state ----------------------------------------------------------------------------------------------

// Bookkeeping of one open group, stored in the group-stack record of its level.
struct LevelInfo {
    Kel32s openIndex;
    Kel32u savedOptions;     // options at the `(`, restored at `)`
    Kel32s lastAlternation;  // latest Alternation of this level, -1; earlier ones are chained through opts
    Kel32s alternations;
};

struct Compiler {
    const Kel8u* pat;
    Kel32s patLen;
    RegExpState* state;
    Kel32s capacity;  // nodes the state was sized for
    Kel32s numNodes;
    Kel32s numGroups;
    Kel32s nextCapture;
    Kel32u options;  // in force at the current position
    Kel32s level;
    Kel32s token;     // offset of the construct being translated
    Kel32s runStart;  // pending literal run: pattern offset and length
    Kel32s runLen;
    Kel32s candidate;  // last Letter/String written at level 0, -1
    bool candidateOff;
    bool afterQuantifier;     // the previous construct was a quantifier
    Kel32s lastItem;          // first node of the item a quantifier would repeat, -1 when there is none
    Kel32s mergedQuantifier;  // quantifier of a merged dot/class-escape run when it is the last node, else -1
    Kel32s errOffset;
};

KelStatus n8_fail(Compiler& c, KelStatus status, Kel32s offset) {
    c.errOffset = offset;
    return status;
}

RegExpNode n8_load(const Compiler& c, Kel32s i) {
    return n8_loadRegExpNode(c.state, i);
}
void n8_store(Compiler& c, Kel32s i, const RegExpNode& n) {
    n8_storeRegExpNode(c.state, i, n);
}

LevelInfo n8_loadLevel(Compiler& c, Kel32s level) {
    LevelInfo info;
    __builtin_memcpy(&info, n8_regExpGroupRecord(c.state, level), sizeof info);
    return info;
}
void n8_storeLevel(Compiler& c, Kel32s level, const LevelInfo& info) {
    __builtin_memcpy(n8_regExpGroupRecord(c.state, level), &info, sizeof info);
}

RegExpNode n8_node(Kel32u kind, Kel32s a, Kel32s b, Kel32u opts) {
    return RegExpNode{kind, a, b, opts, nullptr};
}

// Appends a node; the only place that writes the program.
KelStatus n8_emit(Compiler& c, const RegExpNode& n) {
    if (c.numNodes >= c.capacity) return n8_fail(c, kBadGroup, c.token);
    n8_store(c, c.numNodes++, n);
    return kelStatusOk;
}

// Appends a node that a quantifier may repeat.
KelStatus n8_emitItem(Compiler& c, const RegExpNode& n) {
    if (KelStatus s = n8_emit(c, n)) return s;
    c.lastItem = c.numNodes - 1;
    c.mergedQuantifier = -1;
    c.afterQuantifier = false;
    return kelStatusOk;
}

// Appends a Letter or String node for pattern bytes [start, start + len), tracking the required literal.
KelStatus n8_emitLiteral(Compiler& c, Kel32s start, Kel32s len) {
    const RegExpNode n = len == 1 ? n8_node(kNodeLetter, c.pat[start], 0, c.options)
                                  : RegExpNode{kNodeString, 0, len, c.options, c.pat + start};
    if (KelStatus s = n8_emitItem(c, n)) return s;
    if (c.level == 0) c.candidate = c.numNodes - 1;
    return kelStatusOk;
}

// Appends a Letter for a byte produced by an escape.
KelStatus n8_emitByte(Compiler& c, Kel32s value) {
    if (KelStatus s = n8_emitItem(c, n8_node(kNodeLetter, value & 0xFF, 0, c.options))) return s;
    if (c.level == 0) c.candidate = c.numNodes - 1;
    return kelStatusOk;
}

KelStatus n8_flushRun(Compiler& c) {
    if (c.runLen == 0) return kelStatusOk;
    const Kel32s start = c.runStart, len = c.runLen;
    c.runLen = 0;
    return n8_emitLiteral(c, start, len);
}

// Adds the pattern byte at pos to the pending run; a byte not adjacent to the run starts a new one.
KelStatus n8_appendRun(Compiler& c, Kel32s pos) {
    if (c.runLen && c.runStart + c.runLen != pos) {
        if (KelStatus s = n8_flushRun(c)) return s;
    }
    if (c.runLen == 0) c.runStart = pos;
    ++c.runLen;
    c.afterQuantifier = false;
    return kelStatusOk;
}

// Writes the pending run so that its last character is a node of its own, the one a quantifier repeats. A run
// ending in a complete multi-byte UTF-8 character ends in a LetterUtf8 whose b is that character's byte length:
// UTF-8 searches repeat the whole character, byte searches (format 0) repeat its last byte only, and the format is
// chosen after compiling, so the node keeps what both readings need.
KelStatus n8_splitRunForQuantifier(Compiler& c) {
    if (c.runLen == 0) return kelStatusOk;
    const Kel32s end = c.runStart + c.runLen;
    Kel32s lastLen = 1, code = c.pat[end - 1];
    for (Kel32s k = 2; k <= 6 && k <= c.runLen; ++k) {
        const Kel8u b = c.pat[end - k];
        if (b < 0x80) break;
        if (b < 0xC0) continue;
        Kel32s decoded;
        if (n8_ownsUTF8ToUnicode(c.pat + end - k, k, &decoded) == k) {
            lastLen = k;
            code = decoded;
        }
        break;
    }
    const Kel32s start = c.runStart, headLen = c.runLen - lastLen;
    c.runLen = 0;
    if (headLen > 0) {
        if (KelStatus s = n8_emitLiteral(c, start, headLen)) return s;
    }
    if (lastLen == 1) return n8_emitLiteral(c, end - 1, 1);
    return n8_emitItem(c, n8_node(kNodeLetterUtf8, code, lastLen, c.options));
}

// Skips what produces no node: white space and `#` comments under x, `(?#...)`, `\E`, `(?)`, and the pure syntax
// switches `(?x)` and `(?-x)` (which update *pOptions).
Kel32s n8_skipInert(const Kel8u* pat, Kel32s q, Kel32u* pOptions) {
    for (;;) {
        const Kel8u c = pat[q];
        if (*pOptions & kRegExpExtended) {
            if (n8_isPatternSpace(c)) {
                ++q;
                continue;
            }
            if (c == '#') {
                while (pat[q] && pat[q] != '\n') ++q;
                continue;
            }
        }
        if (c == '\\' && pat[q + 1] == 'E') {
            q += 2;
        } else if (c == '(' && pat[q + 1] == '?' && pat[q + 2] == '#') {
            q += 3;
            while (pat[q] && pat[q] != ')') ++q;
            if (pat[q]) ++q;
        } else if (n8_startsWith(pat, q, "(?)")) {
            q += 3;
        } else if (n8_startsWith(pat, q, "(?x)")) {
            *pOptions |= kRegExpExtended;
            q += 4;
        } else if (n8_startsWith(pat, q, "(?-x)")) {
            *pOptions &= ~kRegExpExtended;
            q += 5;
        } else {
            return q;
        }
    }
}

// `ownsIsItQuantifier`: whether pat[q] == '{' starts `{` digits [`,` digits] `}`.
bool n8_isBraceQuantifier(const Kel8u* pat, Kel32s q) {
    ++q;
    while (n8_isDigit(pat[q])) ++q;
    if (pat[q] == ',') {
        ++q;
        while (n8_isDigit(pat[q])) ++q;
    }
    return pat[q] == '}';
}

// Whether the next construct after position q is a quantifier.
bool n8_quantifierFollows(const Compiler& c, Kel32s q) {
    Kel32u options = c.options;
    q = n8_skipInert(c.pat, q, &options);
    const Kel8u ch = c.pat[q];
    return ch == '*' || ch == '+' || ch == '?' || (ch == '{' && n8_isBraceQuantifier(c.pat, q));
}

// ---- Quantifiers -----------------------------------------------------------------------------------------------

// Decimal digits at *pq; once the value passes kDigitSaturation, further digits are read but not counted. Any such
// value is far above every valid bound, so it is returned clamped.
Kel32s n8_readBound(const Kel8u* pat, Kel32s* pq) {
    long long v = 0;
    while (n8_isDigit(pat[*pq])) {
        if (v <= kDigitSaturation) v = v * 10 + (pat[*pq] - '0');
        ++*pq;
    }
    return v > kQuantifierInfinity ? kQuantifierInfinity : static_cast<Kel32s>(v);
}

Kel32s n8_addBound(Kel32s a, Kel32s b) {
    return a + b > kQuantifierInfinity ? kQuantifierInfinity : a + b;
}

// True when the previous item is the condition of the innermost open group, which no quantifier may follow.
bool n8_isConditionItem(const Compiler& c) {
    if (c.level == 0 || c.lastItem < 1) return false;
    LevelInfo info;
    __builtin_memcpy(&info, n8_regExpGroupRecord(c.state, c.level), sizeof info);
    return n8_load(c, info.openIndex).kind == kNodeGroupingCondition && c.lastItem == info.openIndex + 1;
}

KelStatus n8_quantifier(Compiler& c, Kel32s* pq) {
    const Kel32s q = *pq;
    Kel32s qEnd = q + 1, min, max;
    switch (c.pat[q]) {
        case '*':
            min = 0, max = kQuantifierInfinity;
            break;
        case '+':
            min = 1, max = kQuantifierInfinity;
            break;
        case '?':
            min = 0, max = 1;
            break;
        default: {
            min = n8_readBound(c.pat, &qEnd);
            max = min;
            bool open = false;
            if (c.pat[qEnd] == ',') {
                ++qEnd;
                open = !n8_isDigit(c.pat[qEnd]);
                max = open ? kQuantifierInfinity : n8_readBound(c.pat, &qEnd);
            }
            ++qEnd;  // the closing brace
            if (min > kMaxBound || (!open && max > kMaxBound) || max < min) return n8_fail(c, kBadQuantifier, q);
        }
    }
    const bool lazy = c.pat[qEnd] == '?';
    if (lazy) ++qEnd;
    *pq = qEnd;
    if (c.afterQuantifier) return n8_fail(c, kBadQuantifier, q);
    if (KelStatus s = n8_splitRunForQuantifier(c)) return s;
    c.afterQuantifier = true;
    if (c.numNodes == 0) return n8_fail(c, kBadQuantifier, q);
    const Kel32s prevIndex = c.numNodes - 1;
    RegExpNode prev = n8_load(c, prevIndex);

    if (n8_isQuantifierNode(prev.kind)) {
        // Only a merged run's quantifier can be the last node here; the bounds add up. The sum is lazy only when
        // every part that could vary is lazy: a fixed run followed by a lazy quantifier stays lazy.
        if (c.mergedQuantifier != prevIndex) return n8_fail(c, kBadQuantifier, q);
        const bool keepLazy = lazy && (prev.kind == kNodeQuantifierMin || prev.a == prev.b);
        prev.kind = keepLazy ? kNodeQuantifierMin : kNodeQuantifierMax;
        prev.a = n8_addBound(prev.a, min);
        prev.b = n8_addBound(prev.b, max);
        n8_store(c, prevIndex, prev);
        return kelStatusOk;
    }
    if (prev.kind == kNodeAlternation || prev.kind == kNodeOptionSet || n8_isGroupOpenNode(prev.kind) ||
        c.lastItem < 0) {
        return n8_fail(c, kBadQuantifier, q);
    }
    if (n8_isConditionItem(c)) return n8_fail(c, kBadGroup, q);
    if (prev.kind == kNodeGroupingClose) {
        const RegExpNode open = n8_load(c, c.lastItem);
        if (n8_isLookAroundNode(open.kind)) {
            // A look-around consumes nothing: repeating it changes nothing, and an optional one is never needed.
            if (min == 0) {
                c.numNodes = c.lastItem;
                c.lastItem = -1;
                c.mergedQuantifier = -1;
            }
            return kelStatusOk;
        }
        if (prev.opts == 1) {
            prev.opts = kNegatedMember;
            n8_store(c, prevIndex, prev);
        }
    }
    if (KelStatus s = n8_emit(c, n8_node(lazy ? kNodeQuantifierMin : kNodeQuantifierMax, min, max, c.options))) {
        return s;
    }
    if (min == 0 && c.candidate == c.lastItem) c.candidate = -1;
    c.mergedQuantifier = -1;
    return kelStatusOk;
}

// `.` or a class escape X (a LetterRange operand), ending at pattern offset end. Runs of the same one merge into
// one LetterRange and a quantifier: `..` is .{2}, and a quantifier after the last one adds its bounds.
KelStatus n8_letterRange(Compiler& c, Kel8u x, Kel32s end) {
    if (KelStatus s = n8_flushRun(c)) return s;
    c.afterQuantifier = false;
    const Kel32s last = c.numNodes - 1;
    if (last >= 0 && c.lastItem == last) {
        const RegExpNode prev = n8_load(c, last);
        if (prev.kind == kNodeLetterRange && prev.a == x) {
            const Kel32s count = n8_quantifierFollows(c, end) ? 1 : 2;
            if (KelStatus s = n8_emit(c, n8_node(kNodeQuantifierMax, count, count, c.options))) return s;
            c.mergedQuantifier = c.numNodes - 1;
            return kelStatusOk;
        }
    }
    if (last >= 1 && c.mergedQuantifier == last && n8_load(c, last - 1).a == x) {
        if (!n8_quantifierFollows(c, end)) {
            RegExpNode qn = n8_load(c, last);
            qn.a = n8_addBound(qn.a, 1);
            qn.b = n8_addBound(qn.b, 1);
            n8_store(c, last, qn);
        }
        return kelStatusOk;
    }
    return n8_emitItem(c, n8_node(kNodeLetterRange, x, 0, c.options));
}

// ---- Groups ----------------------------------------------------------------------------------------------------

KelStatus n8_openGroup(Compiler& c, Kel32u kind, Kel32u opts, Kel32u newOptions) {
    if (KelStatus s = n8_flushRun(c)) return s;
    if (c.level >= kRegExpMaxLevel) return n8_fail(c, kBadGroup, c.token);
    if (KelStatus s = n8_emit(c, n8_node(kind, c.level + 1, 0, opts))) return s;
    ++c.level;
    n8_storeLevel(c, c.level, LevelInfo{c.numNodes - 1, c.options, -1, 0});
    c.options = newOptions;
    c.lastItem = -1;
    c.mergedQuantifier = -1;
    c.afterQuantifier = false;
    return kelStatusOk;
}

bool n8_isSingleCharNode(Kel32u kind) {
    return kind == kNodeLetter || kind == kNodeLetterRange || kind == kNodeLetterUtf8 || kind == kNodeOneByte ||
           kind == kNodeUnicodeCategory || kind == kNodeUnicodeRange || kind == kNodeUnicodeScript ||
           kind == kNodeCombLetter;
}

// Characters in a String's bytes: valid shortest-form UTF-8 sequences count once, other bytes one each.
Kel32s n8_countChars(const Kel8u* p, Kel32s len) {
    Kel32s n = 0;
    for (Kel32s i = 0; i < len; ++n) i += n8_ownsGetCharSize(p + i, len - i);
    return n;
}

// Fixed length in characters of nodes [from, to) (the content of a group, or one alternative of it), or -1 when
// the length can vary or exceeds kMaxLookBehind. Nested groups are measured recursively; look-arounds count 0.
// Depth is bounded by the nesting limit.
Kel32s n8_fixedLength(const Compiler& c, Kel32s from, Kel32s to) {
    long long total = 0, lastItem = 0, first = -1;
    for (Kel32s i = from; i < to;) {
        const RegExpNode n = n8_load(c, i);
        if (n8_isSingleCharNode(n.kind)) {
            lastItem = 1;
            ++i;
        } else if (n.kind == kNodeString) {
            lastItem = n8_countChars(n.ptr, n.b);
            ++i;
        } else if (n.kind == kNodeCharacterClass) {
            lastItem = 1;
            i += 1 + n.b;
        } else if (n8_isQuantifierNode(n.kind)) {
            if (n.a != n.b) return -1;
            total += (static_cast<long long>(n.a) - 1) * lastItem;
            lastItem = 0;
            ++i;
            if (total > kMaxLookBehind) return -1;
            continue;
        } else if (n.kind == kNodePosition || n.kind == kNodeOptionSet) {
            lastItem = 0;
            ++i;
        } else if (n.kind == kNodeAlternation) {
            if (first < 0) {
                first = total;
            } else if (total != first) {
                return -1;
            }
            total = 0;
            lastItem = 0;
            ++i;
            continue;
        } else if (n8_isLookAroundNode(n.kind)) {
            lastItem = 0;
            i += n.b + 2;
        } else if (n8_isGroupOpenNode(n.kind)) {
            const Kel32s inner = n8_fixedLength(c, i + 1, i + 1 + n.b);
            if (inner < 0) return -1;
            // A condition's branches must match each other; with no `|` the missing branch matches nothing.
            if (n.kind == kNodeGroupingCondition) {
                bool hasBranch = false;
                for (Kel32s k = i + 1; k <= i + n.b; ++k) {
                    const RegExpNode m = n8_load(c, k);
                    if (n8_isGroupOpenNode(m.kind))
                        k += m.b + 1;
                    else if (m.kind == kNodeAlternation)
                        hasBranch = true;
                }
                if (!hasBranch && inner != 0) return -1;
            }
            lastItem = inner;
            i += n.b + 2;
        } else {
            return -1;  // BackReference, or anything unforeseen
        }
        total += lastItem;
        if (total > kMaxLookBehind) return -1;
    }
    if (first >= 0 && total != first) return -1;
    return static_cast<Kel32s>(total);
}

// Whether the content [from, to) of a non-capturing group consists only of single-character nodes, strings,
// classes and fixed greedy quantifiers and matches more than one character: dissolving it changes nothing.
bool n8_isFixedLiteralContent(const Compiler& c, Kel32s from, Kel32s to) {
    long long total = 0, lastItem = 0;
    for (Kel32s i = from; i < to;) {
        const RegExpNode n = n8_load(c, i);
        if (n8_isSingleCharNode(n.kind)) {
            lastItem = 1;
            ++i;
        } else if (n.kind == kNodeString) {
            lastItem = n.b;
            ++i;
        } else if (n.kind == kNodeCharacterClass) {
            lastItem = 1;
            i += 1 + n.b;
        } else if (n.kind == kNodeQuantifierMax && n.a == n.b) {
            total += (static_cast<long long>(n.a) - 1) * lastItem;
            lastItem = 0;
            ++i;
            continue;
        } else {
            return false;
        }
        total += lastItem;
    }
    return total > 1;
}

// True when [from, to) is one single-character item (a node, or a class with its members) and its quantifier.
bool n8_isQuantifiedSingleItem(const Compiler& c, Kel32s from, Kel32s to) {
    if (to - from < 2 || !n8_isQuantifierNode(n8_load(c, to - 1).kind)) return false;
    const RegExpNode item = n8_load(c, from);
    if (item.kind == kNodeCharacterClass) return from + 1 + item.b == to - 1;
    return n8_isSingleCharNode(item.kind) && from + 1 == to - 1;
}

KelStatus n8_closeGroup(Compiler& c, Kel32s q) {
    if (KelStatus s = n8_flushRun(c)) return s;
    if (c.level == 0) return n8_fail(c, kBadGroup, q);
    const LevelInfo info = n8_loadLevel(c, c.level);
    const Kel32s open = info.openIndex;
    RegExpNode openNode = n8_load(c, open);
    const Kel32s content = c.numNodes - open - 1;
    openNode.b = content;
    const Kel32u kind = openNode.kind;
    const bool negatedLevel = n8_isLookAroundNode(kind) || kind == kNodeGroupingOnce;
    const Kel32s closeLevel = negatedLevel ? -c.level : c.level;

    if (n8_isLookBehindNode(kind)) {
        const Kel32s len = n8_fixedLength(c, open + 1, c.numNodes);
        if (len < 0) return n8_fail(c, kBadGroup, q);
        openNode.opts = static_cast<Kel32u>(len);
    }
    if (kind == kNodeGroupingCondition) {
        if (content < 1) return n8_fail(c, kBadGroup, q);
        const RegExpNode cond = n8_load(c, open + 1);
        Kel32s after;
        if (cond.kind == kNodeBackReference) {
            after = open + 2;
        } else if (n8_isLookAroundNode(cond.kind)) {
            after = open + 1 + cond.b + 2;
        } else {
            return n8_fail(c, kBadGroup, q);
        }
        if (after < c.numNodes && n8_isQuantifierNode(n8_load(c, after).kind)) return n8_fail(c, kBadGroup, q);
        if (info.alternations > 1) return n8_fail(c, kBadGroup, q);
    }
    n8_store(c, open, openNode);

    // The group's alternations take the close node's level operand; their chain links return to option words.
    for (Kel32s i = info.lastAlternation; i >= 0;) {
        RegExpNode alt = n8_load(c, i);
        const Kel32s next = static_cast<Kel32s>(alt.opts);
        alt.a = closeLevel;
        alt.opts = static_cast<Kel32u>(alt.b);
        n8_store(c, i, alt);
        i = next;
    }

    c.options = info.savedOptions;
    --c.level;
    c.afterQuantifier = false;
    c.mergedQuantifier = -1;

    if (kind == kNodeGroupingNoCapture) {
        const bool single = content == 1 && n8_isSingleCharNode(n8_load(c, open + 1).kind);
        if (single || (n8_isFixedLiteralContent(c, open + 1, c.numNodes) && !n8_quantifierFollows(c, q + 1))) {
            for (Kel32s i = open; i < c.numNodes - 1; ++i) n8_store(c, i, n8_load(c, i + 1));
            --c.numNodes;
            c.lastItem = single ? open : -1;
            return kelStatusOk;
        }
    }
    Kel32u closeOpts = 0;
    if ((kind == kNodeGrouping || kind == kNodeGroupingNoCapture) &&
        n8_isQuantifiedSingleItem(c, open + 1, c.numNodes)) {
        closeOpts = 1;
    }
    c.token = q;
    if (KelStatus s =
            n8_emit(c, n8_node(kNodeGroupingClose, closeLevel, static_cast<Kel32s>(info.savedOptions), closeOpts))) {
        return s;
    }
    c.lastItem = open;
    return kelStatusOk;
}

KelStatus n8_alternation(Compiler& c) {
    if (KelStatus s = n8_flushRun(c)) return s;
    RegExpNode alt = n8_node(kNodeAlternation, c.level, static_cast<Kel32s>(c.options), c.options);
    if (c.level == 0) {
        c.candidateOff = true;
    } else {
        LevelInfo info = n8_loadLevel(c, c.level);
        alt.opts = static_cast<Kel32u>(info.lastAlternation);
        info.lastAlternation = c.numNodes;
        ++info.alternations;
        n8_storeLevel(c, c.level, info);
    }
    if (KelStatus s = n8_emit(c, alt)) return s;
    c.lastItem = -1;
    c.mergedQuantifier = -1;
    c.afterQuantifier = false;
    return kelStatusOk;
}

// `(` at q: every group form, option settings and conditions. *pq moves past the opening syntax.
KelStatus n8_parenthesis(Compiler& c, Kel32s* pq) {
    const Kel8u* pat = c.pat;
    const Kel32s q = *pq;
    if (pat[q + 1] != '?') {
        *pq = q + 1;
        return n8_openGroup(c, kNodeGrouping, static_cast<Kel32u>(++c.nextCapture), c.options);
    }
    Kel32u kind = 0;
    Kel32s len = 3;
    switch (pat[q + 2]) {
        case ':':
            kind = kNodeGroupingNoCapture;
            break;
        case '>':
            kind = kNodeGroupingOnce;
            break;
        case '=':
            kind = kNodeGroupingLookAhead;
            break;
        case '!':
            kind = kNodeGroupingLookAheadNot;
            break;
        case '<':
            len = 4;
            if (pat[q + 3] == '=')
                kind = kNodeGroupingLookBehind;
            else if (pat[q + 3] == '!')
                kind = kNodeGroupingLookBehindNot;
            else
                return n8_fail(c, kBadGroup, q);
            break;
        case '(': {
            const Kel32s at = q + 3;
            if (n8_isDigit(pat[at])) {
                Kel32s e = at, n = 0;
                while (e < at + 3 && n8_isDigit(pat[e])) n = n * 10 + (pat[e++] - '0');
                if (pat[e] != ')') return n8_fail(c, kBadGroup, q);
                if (n == 0) return n8_fail(c, kBadReference, q);
                if (KelStatus s = n8_openGroup(c, kNodeGroupingCondition, c.options, c.options)) return s;
                if (KelStatus s = n8_emitItem(c, n8_node(kNodeBackReference, n, 0, c.options))) return s;
                *pq = e + 1;
                return kelStatusOk;
            }
            if (pat[at] == ')') return n8_fail(c, kBadReference, q);
            const bool lookAround =
                pat[at] == '?' && (pat[at + 1] == '=' || pat[at + 1] == '!' ||
                                   (pat[at + 1] == '<' && (pat[at + 2] == '=' || pat[at + 2] == '!')));
            if (!lookAround) return n8_fail(c, kBadGroup, q);
            // The condition is the look-around group that starts at the inner parenthesis.
            *pq = q + 2;
            return n8_openGroup(c, kNodeGroupingCondition, c.options, c.options);
        }
        default: {
            Kel32u on = 0, off = 0;
            bool clearing = false;
            Kel32s f = q + 2;
            for (;; ++f) {
                const Kel32u bit = n8_optionBit(pat[f]);
                if (bit) {
                    (clearing ? off : on) |= bit;
                } else if (pat[f] == '-' && !clearing) {
                    clearing = true;
                } else {
                    break;
                }
            }
            if (pat[f] != ')' && pat[f] != ':') return n8_fail(c, kBadGroup, q);
            const Kel32u newOptions = (c.options | on) & ~off;
            *pq = f + 1;
            if (pat[f] == ':') return n8_openGroup(c, kNodeGroupingOptions, newOptions, newOptions);
            if (KelStatus s = n8_flushRun(c)) return s;
            if (KelStatus s = n8_emit(c, n8_node(kNodeOptionSet, static_cast<Kel32s>(newOptions), 0, newOptions))) {
                return s;
            }
            c.options = newOptions;
            c.lastItem = -1;
            c.mergedQuantifier = -1;
            c.afterQuantifier = false;
            return kelStatusOk;
        }
    }
    *pq = q + len;
    return n8_openGroup(c, kind, c.options, c.options);
}

// ---- Escapes outside classes -----------------------------------------------------------------------------------

KelStatus n8_unicodeProperty(Compiler& c, Kel32s at, Kel32s negate, RegExpNode* pNode, Kel32s* pEnd) {
    const Kel8u* p = c.pat + at;
    if (n8_ownsCompileUnicodeP(&p, pNode, negate) < 0) return n8_fail(c, kBadEscape, static_cast<Kel32s>(p - c.pat));
    if (pNode->kind == kNodeUnicodeCategory) pNode->opts = c.options;
    *pEnd = static_cast<Kel32s>(p - c.pat);
    return kelStatusOk;
}

// `\x{h...}` at q (pat[q + 2] == '{'): up to 8 hex digits and the closing brace.
KelStatus n8_braceHex(Compiler& c, Kel32s q, Kel32u* pCode, Kel32s* pEnd) {
    Kel32s e = q + 3;
    Kel32u v = 0;
    while (e < q + 11 && n8_hexValue(c.pat[e]) >= 0) v = v << 4 | static_cast<Kel32u>(n8_hexValue(c.pat[e++]));
    // Values above 0x7FFFFFFF are beyond every UTF-8 form and would turn negative as node operands.
    if (c.pat[e] != '}' || v > 0x7FFFFFFF) return n8_fail(c, kBadEscape, q);
    *pCode = v;
    *pEnd = e + 1;
    return kelStatusOk;
}

// `\xhh` at q: up to two hex digits.
Kel32s n8_shortHex(const Kel8u* pat, Kel32s q, Kel32s* pEnd) {
    Kel32s e = q + 2, v = 0;
    while (e < q + 4 && n8_hexValue(pat[e]) >= 0) v = v * 16 + n8_hexValue(pat[e++]);
    *pEnd = e;
    return v;
}

KelStatus n8_escape(Compiler& c, Kel32s* pq) {
    const Kel8u* pat = c.pat;
    const Kel32s q = *pq;
    const Kel8u e = pat[q + 1];
    Kel32s end = q + 2;
    switch (e) {
        case 0:
            return n8_fail(c, kBadEscape, q);  // a trailing backslash escapes nothing
        case 'a':
        case 'e':
        case 'f':
        case 'n':
        case 'r':
        case 't':
        case 'v': {
            const Kel8u v = e == 'a'   ? 7
                            : e == 'e' ? 27
                            : e == 'f' ? 12
                            : e == 'n' ? 10
                            : e == 'r' ? 13
                            : e == 't' ? 9
                                       : 11;
            *pq = end;
            if (KelStatus s = n8_flushRun(c)) return s;
            return n8_emitByte(c, v);
        }
        case '0': {
            Kel32s v = 0;
            while (end < q + 4 && n8_isOctal(pat[end])) v = v * 8 + (pat[end++] - '0');
            *pq = end;
            if (KelStatus s = n8_flushRun(c)) return s;
            return n8_emitByte(c, v);
        }
        case '1':
        case '2':
        case '3':
        case '4':
        case '5':
        case '6':
        case '7':
        case '8':
        case '9': {
            if (KelStatus s = n8_flushRun(c)) return s;
            if (!n8_isDigit(pat[q + 2])) {
                const Kel32s n = e - '0';
                if (n >= c.numGroups) return n8_fail(c, kBadReference, q);
                *pq = end;
                return n8_emitItem(c, n8_node(kNodeBackReference, n, 0, c.options));
            }
            Kel32s n = 0;
            end = q + 1;
            while (end < q + 4 && n8_isDigit(pat[end])) n = n * 10 + (pat[end++] - '0');
            if (n < c.numGroups) {
                *pq = end;
                return n8_emitItem(c, n8_node(kNodeBackReference, n, 0, c.options));
            }
            Kel32s v = 0;
            end = q + 1;
            while (end < q + 4 && n8_isOctal(pat[end])) v = v * 8 + (pat[end++] - '0');
            *pq = end;
            return n8_emitByte(c, v);
        }
        case 'x': {
            if (KelStatus s = n8_flushRun(c)) return s;
            if (pat[q + 2] == '{') {
                Kel32u code;
                if (KelStatus s = n8_braceHex(c, q, &code, &end)) return s;
                *pq = end;
                return n8_emitItem(c, n8_node(kNodeLetterUtf8, static_cast<Kel32s>(code), 0, c.options));
            }
            const Kel32s v = n8_shortHex(pat, q, &end);
            *pq = end;
            return n8_emitByte(c, v);
        }
        case 'c': {
            if (pat[q + 2] == 0) return n8_fail(c, kBadEscape, q);
            *pq = q + 3;
            if (KelStatus s = n8_flushRun(c)) return s;
            return n8_emitByte(c, n8_controlValue(pat[q + 2]));
        }
        case 'd':
        case 'D':
        case 's':
        case 'S':
        case 'w':
        case 'W':
            *pq = end;
            return n8_letterRange(c, e, end);
        case 'A':
        case 'B':
        case 'G':
        case 'Z':
        case 'b':
        case 'z':
            *pq = end;
            if (KelStatus s = n8_flushRun(c)) return s;
            return n8_emitItem(c, n8_node(kNodePosition, e, 0, c.options));
        case 'C':
            *pq = end;
            if (KelStatus s = n8_flushRun(c)) return s;
            return n8_emitItem(c, n8_node(kNodeOneByte, 0, 0, c.options));
        case 'X':
            *pq = end;
            if (KelStatus s = n8_flushRun(c)) return s;
            return n8_emitItem(c, n8_node(kNodeCombLetter, 0, 0, c.options));
        case 'p':
        case 'P': {
            if (KelStatus s = n8_flushRun(c)) return s;
            RegExpNode n;
            if (KelStatus s = n8_unicodeProperty(c, q + 2, e == 'P' ? -1 : 0, &n, &end)) return s;
            *pq = end;
            return n8_emitItem(c, n);
        }
        case 'Q': {
            // The quoted bytes are pattern text: they form a pending run like plain literals.
            Kel32s i = q + 2;
            while (pat[i] && !(pat[i] == '\\' && pat[i + 1] == 'E')) {
                if (KelStatus s = n8_appendRun(c, i)) return s;
                ++i;
            }
            *pq = pat[i] ? i + 2 : i;
            return kelStatusOk;
        }
        case 'E':
            // A `\E` with no `\Q` open ends nothing.
            *pq = end;
            return kelStatusOk;
        default:
            // A letter not handled above names a feature this engine does not have (`\h`, `\R`, `\K`, `\o{..}`):
            // taking it as the plain letter would silently match something else than the user asked for.
            if (n8_isAsciiLetter(e)) return n8_fail(c, kBadEscape, q);
            // Any other escaped byte (punctuation, digits, UTF-8) stands for itself and may continue a run with the
            // plain bytes after it.
            *pq = q + 2;
            return n8_appendRun(c, q + 1);
    }
}

// ---- Character classes -----------------------------------------------------------------------------------------

enum class MemberType { End, Literal, Node, Posix };

struct Member {
    MemberType type;
    Kel32s start;  // offset where the member begins
    Kel32u code;   // Literal: byte or code point
    bool utf8;     // Literal: decoded from a multi-byte UTF-8 sequence in the pattern
    RegExpNode node;
    const PosixClass* posix;
    bool posixNegated;
};

// Reads the next member of the class whose first member position is contentStart. `\E` and empty quotes are
// skipped here, so that members separated by them still form ranges.
KelStatus n8_nextMember(Compiler& c, Kel32s* pq, bool* pInQuote, Kel32s classStart, Kel32s contentStart, Member& m) {
    const Kel8u* pat = c.pat;
    Kel32s q = *pq;
    for (;;) {
        m.start = q;
        m.utf8 = false;
        const Kel8u ch = pat[q];
        if (ch == 0) return n8_fail(c, kBadClass, classStart);
        if (*pInQuote) {
            if (ch == '\\' && pat[q + 1] == 'E') {
                *pInQuote = false;
                q += 2;
                continue;
            }
        } else if (ch == ']' && q != contentStart) {
            m.type = MemberType::End;
            *pq = q + 1;
            return kelStatusOk;
        } else if (ch == '\\') {
            const Kel8u e = pat[q + 1];
            Kel32s end = q + 2;
            m.type = MemberType::Literal;
            switch (e) {
                case 0:
                    return n8_fail(c, kBadClass, classStart);
                case 'Q':
                    *pInQuote = true;
                    q += 2;
                    continue;
                case 'E':
                    q += 2;
                    continue;
                case 'a':
                    m.code = 7;
                    break;
                case 'b':
                    m.code = 8;
                    break;
                case 'e':
                    m.code = 27;
                    break;
                case 'f':
                    m.code = 12;
                    break;
                case 'n':
                    m.code = 10;
                    break;
                case 'r':
                    m.code = 13;
                    break;
                case 't':
                    m.code = 9;
                    break;
                case 'v':
                    m.code = 11;
                    break;
                case '0':
                case '1':
                case '2':
                case '3':
                case '4':
                case '5':
                case '6':
                case '7': {
                    Kel32u v = 0;
                    end = q + 1;
                    while (end < q + 4 && n8_isOctal(pat[end])) v = v * 8 + (pat[end++] - '0');
                    m.code = v & 0xFF;
                    break;
                }
                case 'x':
                    if (pat[q + 2] == '{') {
                        if (KelStatus s = n8_braceHex(c, q, &m.code, &end)) return s;
                    } else {
                        m.code = static_cast<Kel32u>(n8_shortHex(pat, q, &end));
                    }
                    break;
                case 'c':
                    if (pat[q + 2] == 0) return n8_fail(c, kBadClass, classStart);
                    m.code = n8_controlValue(pat[q + 2]);
                    end = q + 3;
                    break;
                case 'd':
                case 'D':
                case 's':
                case 'S':
                case 'w':
                case 'W':
                    m.type = MemberType::Node;
                    m.node = n8_node(kNodeLetterRange, e, 0, c.options);
                    break;
                case 'p':
                case 'P':
                    m.type = MemberType::Node;
                    if (KelStatus s = n8_unicodeProperty(c, q + 2, e == 'P' ? -1 : 0, &m.node, &end)) return s;
                    break;
                default:
                    // Letters without a meaning in a class (anchors, `\X`, `\h`, ...) are refused, as outside.
                    if (n8_isAsciiLetter(e)) return n8_fail(c, kBadEscape, q);
                    if (e >= 0x80) {
                        Kel32s code;
                        const int len = n8_ownsUTF8ToUnicode(pat + q + 1, 6, &code);
                        if (len > 1) {
                            m.code = static_cast<Kel32u>(code);
                            m.utf8 = true;
                            end = q + 1 + len;
                            break;
                        }
                    }
                    m.code = e;
            }
            *pq = end;
            return kelStatusOk;
        } else if (ch == '[') {
            PosixShape shape;
            if (n8_posixShape(pat, q, shape)) {
                m.posix = n8_findPosix(pat, shape);
                if (!m.posix) return n8_fail(c, kBadClass, q);
                m.type = MemberType::Posix;
                m.posixNegated = shape.negated;
                *pq = shape.end;
                return kelStatusOk;
            }
        }
        // A literal byte, or a whole UTF-8 character (an invalid sequence is taken one byte at a time).
        m.type = MemberType::Literal;
        m.code = ch;
        *pq = q + 1;
        if (ch >= 0x80) {
            Kel32s code;
            const int len = n8_ownsUTF8ToUnicode(pat + q, 6, &code);
            if (len > 1) {
                m.code = static_cast<Kel32u>(code);
                m.utf8 = true;
                *pq = q + len;
            }
        }
        return kelStatusOk;
    }
}

// A literal member: a byte test below 256, a code-point test above. A character written in UTF-8 is always a
// code point, so that `[é]` matches the character é and not the byte 0xE9.
KelStatus n8_emitLiteralMember(Compiler& c, const Member& m) {
    const bool byte = !m.utf8 && m.code < 256;
    return n8_emit(c, n8_node(byte ? kNodeLetter : kNodeLetterUtf8, static_cast<Kel32s>(m.code), 0, c.options));
}

// lo-hi. Bounds below 256 are byte tests (ClassRange); a range with a UTF-8 written bound below 256 becomes a
// code-point range (UnicodeRange) from 128 up, so that its characters match as characters.
KelStatus n8_emitRangeMember(Compiler& c, const Member& lo, const Member& hi) {
    Kel32u from = lo.code;
    const Kel32u to = hi.code;
    if ((lo.utf8 || hi.utf8) && to < 256) {
        if (from < 128) {
            if (KelStatus s = n8_emit(c, n8_node(kNodeClassRange, static_cast<Kel32s>(from), 127, 0))) return s;
            from = 128;
        }
        return n8_emit(c, n8_node(kNodeUnicodeRange, static_cast<Kel32s>(from), static_cast<Kel32s>(to), 0));
    }
    return n8_emit(c, n8_node(kNodeClassRange, static_cast<Kel32s>(from), static_cast<Kel32s>(to), 0));
}

// A POSIX class. A negated class of several ranges is written as the complementary ranges of 0..255, since
// members combine by "any of": several negated ranges would each accept what the others exclude.
KelStatus n8_emitPosixMember(Compiler& c, const Member& m) {
    const PosixClass& pc = *m.posix;
    if (pc.numRanges == 0) {
        return n8_emit(c, n8_node(kNodeLetterRange, m.posixNegated ? 'W' : 'w', 0, c.options));
    }
    if (!m.posixNegated || pc.numRanges == 1) {
        for (int i = 0; i < pc.numRanges; ++i) {
            const RegExpNode n =
                n8_node(kNodeClassRange, pc.ranges[i][0], pc.ranges[i][1], m.posixNegated ? kNegatedMember : 0u);
            if (KelStatus s = n8_emit(c, n)) return s;
        }
        return kelStatusOk;
    }
    Kel32s next = 0;  // lowest byte not yet covered
    for (;;) {
        Kel32s lo = 256, hi = 0;
        for (int i = 0; i < pc.numRanges; ++i) {
            if (pc.ranges[i][0] >= next && pc.ranges[i][0] < lo) lo = pc.ranges[i][0], hi = pc.ranges[i][1];
        }
        if (lo > next) {
            if (KelStatus s = n8_emit(c, n8_node(kNodeClassRange, next, lo - 1, 0))) return s;
        }
        if (lo == 256) return kelStatusOk;
        next = hi + 1;
    }
}

KelStatus n8_emitMember(Compiler& c, const Member& m) {
    if (m.type == MemberType::Literal) return n8_emitLiteralMember(c, m);
    if (m.type == MemberType::Posix) return n8_emitPosixMember(c, m);
    return n8_emit(c, m.node);
}

KelStatus n8_characterClass(Compiler& c, Kel32s* pq) {
    const Kel8u* pat = c.pat;
    const Kel32s classStart = *pq;
    if (KelStatus s = n8_flushRun(c)) return s;
    // `[:alpha:]` written without the outer brackets is a mistake, not a class of five letters.
    const Kel8u d = pat[classStart + 1];
    if (d == ':' || d == '.' || d == '=') {
        for (Kel32s i = classStart + 2; pat[i] && pat[i] != ']'; ++i) {
            if (pat[i] == d) return n8_fail(c, kBadClass, classStart);
        }
    }
    Kel32s q = classStart + 1;
    const bool negated = pat[q] == '^';
    if (negated) ++q;
    const Kel32s contentStart = q;
    if (KelStatus s = n8_emit(c, n8_node(kNodeCharacterClass, negated ? -1 : 0, 0, c.options))) return s;
    const Kel32s classIndex = c.numNodes - 1;
    bool inQuote = false;
    for (;;) {
        Member m;
        if (KelStatus s = n8_nextMember(c, &q, &inQuote, classStart, contentStart, m)) return s;
        if (m.type == MemberType::End) break;
        if (m.type == MemberType::Literal && !inQuote && pat[q] == '-' && pat[q + 1] != ']' && pat[q + 1] != 0) {
            ++q;
            Member hi;
            if (KelStatus s = n8_nextMember(c, &q, &inQuote, classStart, contentStart, hi)) return s;
            if (hi.type == MemberType::Literal) {
                if (hi.code < m.code) return n8_fail(c, kBadClass, m.start);
                if (KelStatus s = n8_emitRangeMember(c, m, hi)) return s;
                continue;
            }
            // No range to a class escape or POSIX class: the low end and the hyphen are plain members.
            if (KelStatus s = n8_emitLiteralMember(c, m)) return s;
            if (KelStatus s = n8_emit(c, n8_node(kNodeLetter, '-', 0, c.options))) return s;
            if (hi.type == MemberType::End) break;
            if (KelStatus s = n8_emitMember(c, hi)) return s;
            continue;
        }
        if (KelStatus s = n8_emitMember(c, m)) return s;
    }
    *pq = q;
    const Kel32s members = c.numNodes - classIndex - 1;
    if (members == 0) return n8_fail(c, kBadGroup, classStart);
    RegExpNode cls = n8_load(c, classIndex);
    cls.b = members;
    n8_store(c, classIndex, cls);
    if (!negated && members == 1) {
        const RegExpNode only = n8_load(c, classIndex + 1);
        if (only.kind == kNodeLetter || only.kind == kNodeLetterRange || only.kind == kNodeCombLetter) {
            if (only.kind == kNodeLetter && only.a == '^') return n8_fail(c, kBadGroup, classStart);
            n8_store(c, classIndex, only);
            --c.numNodes;
        }
    }
    c.lastItem = classIndex;
    c.mergedQuantifier = -1;
    c.afterQuantifier = false;
    return kelStatusOk;
}

// ---- Pass 2 driver and post-processing ------------------------------------------------------------------------

KelStatus n8_translate(Compiler& c) {
    const Kel8u* pat = c.pat;
    Kel32s q = 0;
    for (;;) {
        q = n8_skipInert(pat, q, &c.options);
        const Kel8u ch = pat[q];
        if (ch == 0) break;
        c.token = q;
        KelStatus s = kelStatusOk;
        switch (ch) {
            case '\\':
                s = n8_escape(c, &q);
                break;
            case '.':
                ++q;
                s = n8_letterRange(c, '.', q);
                break;
            case '^':
            case '$':
                ++q;
                if (!(s = n8_flushRun(c))) s = n8_emitItem(c, n8_node(kNodePosition, ch, 0, c.options));
                c.afterQuantifier = false;
                break;
            case '|':
                ++q;
                s = n8_alternation(c);
                break;
            case '(':
                s = n8_parenthesis(c, &q);
                break;
            case ')':
                s = n8_closeGroup(c, q);
                ++q;
                break;
            case '*':
            case '+':
            case '?':
                s = n8_quantifier(c, &q);
                break;
            case '{':
                if (n8_isBraceQuantifier(pat, q)) {
                    s = n8_quantifier(c, &q);
                } else {
                    s = n8_appendRun(c, q++);
                }
                break;
            case '[':
                s = n8_characterClass(c, &q);
                break;
            default:
                s = n8_appendRun(c, q++);
                break;
        }
        if (s) return s;
    }
    c.token = c.patLen;
    return n8_flushRun(c);
}

bool n8_isLiteralNode(Kel32u kind) {
    return kind == kNodeLetter || kind == kNodeString;
}

KelStatus n8_finish(Compiler& c, RegExpHeader& h) {
    // Literal copy: String bytes move behind the last node, so the state no longer refers to the pattern.
    long literalBytes = 0;
    for (Kel32s i = 0; i < c.numNodes; ++i) {
        const RegExpNode n = n8_load(c, i);
        if (n.kind == kNodeString) literalBytes += n.b;
    }
    if (static_cast<long>(c.numNodes) * kRegExpNodeSize + literalBytes >
        static_cast<long>(c.capacity) * kRegExpNodeSize) {
        return n8_fail(c, kBadGroup, c.patLen);
    }
    Kel8u* lit = n8_regExpBytes(c.state) + kRegExpProgramOffset + static_cast<long>(c.numNodes) * kRegExpNodeSize;
    for (Kel32s i = 0; i < c.numNodes; ++i) {
        RegExpNode n = n8_load(c, i);
        if (n.kind != kNodeString) continue;
        for (Kel32s k = 0; k < n.b; ++k) lit[k] = n.ptr[k];
        n.ptr = lit;
        lit += n.b;
        n8_store(c, i, n);
    }

    Kel32s last = c.candidateOff ? -1 : c.candidate;
    for (Kel32s i = last + 1; last >= 0 && i < c.numNodes; ++i) {
        if (!n8_isQuantifierNode(n8_load(c, i).kind)) last = -1;
    }

    Kel32s searchKind = kRegExpSearchGeneral;
    bool anyAlternation = false, alternating = c.numNodes >= 3 && (c.numNodes & 1);
    for (Kel32s i = 0; i < c.numNodes; ++i) {
        const Kel32u kind = n8_load(c, i).kind;
        if (kind == kNodeAlternation) anyAlternation = true;
        if ((i & 1) ? kind != kNodeAlternation : !n8_isLiteralNode(kind)) alternating = false;
    }
    if (c.numNodes > 0 && n8_isLiteralNode(n8_load(c, 0).kind) && !anyAlternation) {
        const bool optionalNext = c.numNodes > 1 && n8_isQuantifierNode(n8_load(c, 1).kind) && n8_load(c, 1).a == 0;
        if (!optionalNext) searchKind = kRegExpSearchLeadingLiteral;
    } else if (alternating) {
        searchKind = kRegExpSearchLiteralAlternation;
    }

    h.numNodes = c.numNodes;
    h.lastLiteral = last;
    h.matchLimit = kRegExpDefaultMatchLimit;
    h.searchKind = searchKind;
    return kelStatusOk;
}

Kel32s n8_patternLength(const char* pPattern) {
    Kel32s n = 0;
    while (pPattern[n] && n <= kRegExpMaxPatternLen) ++n;
    return n;
}

}  // namespace

extern "C" KelStatus n8_kelsRegExpGetSize(const char* pPattern, int* pSize) {
    if (!pPattern || !pSize) return kelStatusNullPointer;
    const Kel32s len = n8_patternLength(pPattern);
    if (len > kRegExpMaxPatternLen) return kelStatusBadSize;
    *pSize = len * kRegExpNodeSize + kRegExpProgramOffset + kRegExpNodeSize;
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsRegExpInit(const char* pPattern, const char* pOptions, RegExpState* pState,
                                       int* pErrOffset) {
    if (!pPattern || !pState || !pErrOffset) return kelStatusNullPointer;
    // From here on the block holds no usable program until this call succeeds: the magic is cleared first and set
    // last, so that a failed compile (which may leave a half-written program, or the previous pattern's) makes
    // every later search and replacement with the block fail with kelStatusRegExpBadState.
    const Kel32u noMagic = 0;
    __builtin_memcpy(n8_regExpBytes(pState) + __builtin_offsetof(RegExpHeader, magic), &noMagic, sizeof noMagic);
    Kel32u options = 0;
    for (const char* o = pOptions; o && *o; ++o) {
        const Kel32u bit = *o == 'g' ? kRegExpGlobal : n8_optionBit(static_cast<Kel8u>(*o));
        if (!bit) {
            *pErrOffset = 0;
            return kelStatusRegExpBadOption;
        }
        options |= bit;
    }
    const Kel32s patLen = n8_patternLength(pPattern);
    if (patLen > kRegExpMaxPatternLen) return kelStatusBadSize;
    const Kel8u* pat = reinterpret_cast<const Kel8u*>(pPattern);

    Kel32s groups = 0;
    if (KelStatus s = n8_validate(pat, patLen, options, &groups, pErrOffset)) return s;
    RegExpHeader h{0, options, 0, groups + 1, -1, kRegExpDefaultMatchLimit, kRegExpFormatUtf8, kRegExpSearchGeneral};
    n8_storeRegExpHeader(pState, h);

    Compiler c{};
    c.pat = pat;
    c.patLen = patLen;
    c.state = pState;
    c.capacity = patLen + 1;
    c.numGroups = groups + 1;
    c.options = options;
    c.candidate = -1;
    c.lastItem = -1;
    c.mergedQuantifier = -1;
    // Implicit line anchor: a leading `.*` or `.+` can only start matching at a line start (or the subject start)
    // when no earlier start would match too, so the first alternative is tried only there.
    if (((pat[0] == '.' && (pat[1] == '*' || pat[1] == '+') && pat[2] != '?') || n8_startsWith(pat, 0, "(?:.*)") ||
         n8_startsWith(pat, 0, "(?:.+)"))) {
        n8_store(c, 0, n8_node(kNodePosition, kPositionLineStart, 0, options));
        c.numNodes = 1;
    }
    KelStatus s = n8_translate(c);
    if (!s) s = n8_finish(c, h);
    if (s) {
        *pErrOffset = c.errOffset;
        return s;
    }
    h.magic = kRegExpMagic;
    n8_storeRegExpHeader(pState, h);
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsRegExpSetMatchLimit(int matchLimit, RegExpState* pState) {
    if (!pState) return kelStatusNullPointer;
    if (matchLimit < 0) return kelStatusBadLength;
    __builtin_memcpy(n8_regExpBytes(pState) + __builtin_offsetof(RegExpHeader, matchLimit), &matchLimit,
                     sizeof matchLimit);
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsRegExpSetFormat(int format, RegExpState* pState) {
    if (!pState) return kelStatusNullPointer;
    if (format != kRegExpFormatBytes && format != kRegExpFormatUtf8) return kelStatusOutOfRange;
    __builtin_memcpy(n8_regExpBytes(pState) + __builtin_offsetof(RegExpHeader, format), &format, sizeof format);
    return kelStatusOk;
}

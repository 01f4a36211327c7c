// src/ch/regexp/regexp_find.cpp - kelsRegExpFind_8u: the backtracking matcher over the compiled node program.
//
// The interpreter walks the program left to right and recurses only where a choice is made (alternatives,
// repetitions, groups). What happens when a sub-sequence ends (an Alternation or GroupingClose is reached) is
// described by a chain of continuation frames on the native stack: the whole match, the end of one iteration of a
// group, or the end of a look-around / atomic sub-program. A failing continuation unwinds into the caller, which
// then tries its next choice, so backtracking needs no explicit undo log beyond the saved capture records.
//
// Work bounds: every node evaluation charges one unit of the depth budget D (matchLimit / 4) and of the match
// budget B (matchLimit) for as long as the evaluation and what it calls run; a single-item loop costs one unit for
// the whole loop. D < 0 is the limit signal. Independently of the limit, the native stack used below the entry
// frame is capped at kStackBudget bytes, and one call may take at most kStepsPerLimit * min(matchLimit,
// kMaxLimitForSteps) + kStepsFloor + kStepsPerByte * subject length branch points (groups, loops, look-arounds);
// either bound ends the search with the limit status, so no matchLimit the caller sets can overflow the stack or
// make one search run for an unbounded time.
#include "ch/regexp/regexp_find.h"

#include "ch/regexp/unicode/unicode_internal.h"
#include "core/ch_exports.h"

namespace {

enum Result { kFail = 0, kMatch = 1, kLimit = 2 };

constexpr long kStackBudget = 256 * 1024;
constexpr long long kStepsPerLimit = 100;
constexpr long long kMaxLimitForSteps = 1000000;
constexpr long long kStepsPerByte = 64;
constexpr long long kStepsFloor = 100000;

constexpr int kClassMaps = 4;

enum ContKind { kContFinal, kContGroup, kContSub };

struct Cont {
    ContKind kind;
    const Cont* next;
    Kel32s open;   // group open node
    Kel32s close;  // group close node
    Kel32s after;  // first node after the close and its quantifier
    Kel32s count;  // completed iterations before the current one
    Kel32s min;
    Kel32s max;
    bool lazy;
    Kel32s capture;               // capture number, 0 for none
    const Kel8u* iterStart;       // subject position where the current iteration began
    const Kel8u* needEnd;         // sub-program must end here (look-behind), else null
    mutable const Kel8u* subEnd;  // where a sub-program ended
};

struct Ctx {
    RegExpState* state;
    const Kel8u* subjectStart;
    const Kel8u* end;
    const Kel8u* matchStart;
    Kel32s numNodes;
    Kel32s numGroups;
    Kel32s format;
    long long budget;
    long long depth;
    long long steps;
    long long stepCap;
    bool nonEmpty;
    bool abort;
    unsigned long stackBase;
    bool useFirst;  // every match starts with a byte of `first`
    bool first[256];
    Kel32s reqByte;  // a byte every match contains at or after its start, or -1
    // Byte tables of the first classes whose members are all byte tests. Such members look at the first byte of
    // the character only, so a table answers for any byte; the class still consumes the whole character.
    Kel32s classNode[kClassMaps];
    bool classMap[kClassMaps][256];
    Kel32s numClassMaps;
    bool topAlternation;  // the program has an Alternation of level 0
    bool leadLiteral;     // every match starts with node 0, a case-sensitive Letter or String
};

inline const bool* n8_classMapOf(const Ctx& c, Kel32s i) {
    for (Kel32s k = 0; k < c.numClassMaps; ++k) {
        if (c.classNode[k] == i) return c.classMap[k];
    }
    return nullptr;
}

inline RegExpNode n8_node(const Ctx& c, Kel32s i) {
    return n8_loadRegExpNode(c.state, i);
}

inline RegExpCapture n8_getCapture(const Ctx& c, Kel32s g) {
    RegExpCapture r;
    __builtin_memcpy(&r, n8_regExpCaptureRecord(c.state, g), sizeof r);
    return r;
}
inline void n8_setCapture(const Ctx& c, Kel32s g, const Kel8u* p, Kel32s len) {
    __builtin_memcpy(n8_regExpCaptureRecord(c.state, g), &p, sizeof p);
    __builtin_memcpy(n8_regExpCaptureRecord(c.state, g) + 8, &len, sizeof len);
}

inline Kel8u n8_upper(Kel8u b) {
    return (b >= 'a' && b <= 'z') ? static_cast<Kel8u>(b - 32) : b;
}
inline bool n8_isWordByte(Kel8u b) {
    return (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || b == '_';
}
inline bool n8_caseless(Kel32u opts) {
    return (opts & kRegExpCaseless) != 0;
}

// Code point and length of the character at p (avail >= 1): an invalid sequence counts as its first byte.
inline int n8_decode(const Kel8u* p, Kel32s avail, Kel32s* pCode) {
    const int len = n8_ownsUTF8ToUnicode(p, avail, pCode);
    if (len > 0) return len;
    *pCode = p[0];
    return 1;
}

// Bytes of the character at p (avail >= 1): its UTF-8 length when valid and shortest-form, else 1.
inline Kel32s n8_charSize(const Kel8u* p, Kel32s avail) {
    return p[0] < 0x80 ? 1 : n8_ownsGetCharSize(p, avail);
}

bool n8_rangeByteTest(Kel32s op, Kel8u b, Kel32u opts) {
    switch (op) {
        case '.':
            return b != '\n' || (opts & kRegExpDotAll);
        case 'd':
            return b >= '0' && b <= '9';
        case 'D':
            return !(b >= '0' && b <= '9');
        case 's':
            return b == 9 || b == 10 || b == 12 || b == 13 || b == 32;
        case 'S':
            return !(b == 9 || b == 10 || b == 12 || b == 13 || b == 32);
        case 'w':
            return n8_isWordByte(b);
        case 'W':
            return !n8_isWordByte(b);
        default:
            return false;
    }
}

bool n8_classMember(const Ctx& c, const RegExpNode& m, Kel32u classOpts, const Kel8u* p, Kel32s avail) {
    const Kel8u b = p[0];
    const bool ci = n8_caseless(classOpts);
    bool hit;
    Kel32s code;
    switch (m.kind) {
        case kNodeLetter:
            hit = ci ? n8_upper(b) == n8_upper(static_cast<Kel8u>(m.a)) : b == m.a;
            break;
        case kNodeLetterRange:
            hit = n8_rangeByteTest(m.a, b, m.opts);
            break;
        case kNodeClassRange:
            if (m.a < 256 && m.b < 256) {
                hit = b >= m.a && b <= m.b;
                if (!hit && ci) {
                    Kel32s other = -1;
                    if (b >= 'a' && b <= 'z') other = b - 32;
                    if (b >= 'A' && b <= 'Z') other = b + 32;
                    hit = other >= m.a && other <= m.b;
                }
            } else {
                n8_decode(p, avail, &code);
                hit = code >= m.a && code <= m.b;
            }
            if (m.opts == kNegatedMember) hit = !hit;
            return hit;
        default:
            n8_decode(p, avail, &code);
            hit = n8_ownsCheckUnicodeSymbol(code, m, ci) == 0;
            break;
    }
    (void)c;
    return hit;
}

// Bytes one occurrence of the single item at node i consumes at p, or -1. The caller guarantees p < end except
// for back-references, which match an empty capture anywhere.
Kel32s n8_matchOne(const Ctx& c, Kel32s i, const RegExpNode& n, const Kel8u* p) {
    const Kel32s avail = static_cast<Kel32s>(c.end - p);
    if (n.kind == kNodeBackReference) {
        if (n.a >= c.numGroups) return -1;
        const RegExpCapture g = n8_getCapture(c, n.a);
        if (g.len < 0 || !g.ptr) return -1;
        if (g.len > avail) return -1;
        if (n8_caseless(n.opts)) {
            for (Kel32s k = 0; k < g.len; ++k) {
                if (n8_upper(p[k]) != n8_upper(g.ptr[k])) return -1;
            }
        } else {
            for (Kel32s k = 0; k < g.len; ++k) {
                if (p[k] != g.ptr[k]) return -1;
            }
        }
        return g.len;
    }
    if (avail <= 0) return -1;
    Kel32s code;
    switch (n.kind) {
        case kNodeLetter:
            if (n8_caseless(n.opts)) return n8_upper(p[0]) == n8_upper(static_cast<Kel8u>(n.a)) ? 1 : -1;
            return p[0] == n.a ? 1 : -1;
        case kNodeString: {
            if (n.b > avail) return -1;
            if (n8_caseless(n.opts)) {
                for (Kel32s k = 0; k < n.b; ++k) {
                    if (n8_upper(p[k]) != n8_upper(n.ptr[k])) return -1;
                }
            } else {
                for (Kel32s k = 0; k < n.b; ++k) {
                    if (p[k] != n.ptr[k]) return -1;
                }
            }
            return n.b;
        }
        // `.`, class escapes and classes consume the whole character in both subject formats; the format only
        // decides how the start position advances.
        case kNodeLetterRange:
            if (!n8_rangeByteTest(n.a, p[0], n.opts)) return -1;
            return n8_charSize(p, avail);
        case kNodeCharacterClass: {
            if (const bool* map = n8_classMapOf(c, i)) return map[p[0]] ? n8_charSize(p, avail) : -1;
            bool hit = false;
            for (Kel32s k = 1; k <= n.b && !hit; ++k) hit = n8_classMember(c, n8_node(c, i + k), n.opts, p, avail);
            if (n.a == -1) hit = !hit;
            if (!hit) return -1;
            return n8_charSize(p, avail);
        }
        case kNodeOneByte:
            return 1;
        case kNodeLetterUtf8:
        case kNodeUnicodeCategory:
        case kNodeUnicodeRange:
        case kNodeUnicodeScript: {
            const int len = n8_decode(p, avail, &code);
            return n8_ownsCheckUnicodeSymbol(code, n, n.kind == kNodeLetterUtf8 && n8_caseless(n.opts)) == 0 ? len : -1;
        }
        case kNodeCombLetter: {
            Kel32s len = n8_decode(p, avail, &code);
            if (n8_ownsIsUnicodeProperty<true>(code)) return -1;
            while (len < avail) {
                const int l = n8_decode(p + len, avail - len, &code);
                if (!n8_ownsIsUnicodeProperty<true>(code)) break;
                len += l;
            }
            return len;
        }
        default:
            return -1;
    }
}

bool n8_positionHolds(const Ctx& c, const RegExpNode& n, const Kel8u* p) {
    const bool multi = (n.opts & kRegExpMultiLine) != 0;
    const Kel32s r = static_cast<Kel32s>(c.end - p);
    switch (n.a) {
        case 'A':
        case 'G':
            return p == c.subjectStart;
        case 'z':
            return r == 0;
        case 'Z':
            return r == 0 || (r == 1 && p[0] == '\n');
        case '^':
            return p == c.subjectStart || (multi && r > 0 && p[-1] == '\n');
        case '$':
            if (multi) return r == 0 || p[0] == '\n';
            return r == 0 || (r == 1 && p[0] == '\n');
        case 'b':
        case 'B': {
            const bool before = p > c.subjectStart && n8_isWordByte(p[-1]);
            const bool at = r > 0 && n8_isWordByte(p[0]);
            return (before != at) == (n.a == 'b');
        }
        case kPositionLineStart:
            return p == c.subjectStart || p[-1] == '\n';
        default:
            return false;
    }
}

// Next Alternation of the group whose content starts at or after `from` and ends before `close`, or -1.
Kel32s n8_nextAlternative(const Ctx& c, Kel32s from, Kel32s close) {
    for (Kel32s j = from; j < close;) {
        const RegExpNode n = n8_node(c, j);
        if (n.kind == kNodeAlternation) return j;
        if (n8_isGroupOpenNode(n.kind)) {
            j += n.b + 2;
        } else {
            ++j;
        }
    }
    return -1;
}

Result n8_run(Ctx& c, Kel32s i, const Kel8u* p, const Cont* k);

bool n8_stackExhausted(Ctx& c) {
    const unsigned long here = reinterpret_cast<unsigned long>(__builtin_frame_address(0));
    if (c.stackBase > here && c.stackBase - here > static_cast<unsigned long>(kStackBudget)) c.abort = true;
    if (++c.steps > c.stepCap) c.abort = true;
    return c.abort;
}

// Length of the last character before pos (not before floor) for stepping back through a greedy run. The lead
// byte of a valid sequence never lies inside another valid sequence, so the valid sequence that ends at pos (if
// any) is the character that forward decoding from floor cut there; the decoder accepts up to 6 bytes.
Kel32s n8_stepBack(const Kel8u* pos, const Kel8u* floor) {
    if (pos[-1] < 0x80) return 1;
    for (Kel32s k = 6; k >= 2; --k) {
        if (pos - floor < k) continue;
        Kel32s code;
        if (n8_ownsUTF8ToUnicode(pos - k, k, &code) == k) return k;
    }
    return 1;
}

// Runs a look-around or atomic group's content at p as a sub-program; on success *pEnd is where it ended.
Result n8_runSub(Ctx& c, Kel32s open, Kel32s close, const Kel8u* p, const Kel8u* needEnd, const Kel8u** pEnd) {
    Cont s{};
    s.kind = kContSub;
    s.needEnd = needEnd;
    for (Kel32s from = open + 1;;) {
        const Result r = n8_run(c, from, p, &s);
        if (r == kMatch) {
            *pEnd = s.subEnd;
            return kMatch;
        }
        if (r == kLimit) return r;
        const Kel32s alt = n8_nextAlternative(c, from, close);
        if (alt < 0) return kFail;
        from = alt + 1;
    }
}

// Look-around test at p: kMatch when the assertion holds.
Result n8_lookAround(Ctx& c, const RegExpNode& n, Kel32s open, const Kel8u* p) {
    const Kel32s close = open + n.b + 1;
    const bool negative = n.kind == kNodeGroupingLookAheadNot || n.kind == kNodeGroupingLookBehindNot;
    const Kel8u* start = p;
    const Kel8u* needEnd = nullptr;
    Result r;
    if (n8_isLookBehindNode(n.kind)) {
        const Kel32s chars = static_cast<Kel32s>(n.opts);
        if (p - c.subjectStart < chars) return negative ? kMatch : kFail;
        // Walk back `chars` characters; a valid sequence ending at a position is always one whole character
        // when the subject is cut into characters from its start, so stepping back agrees with counting forward.
        start = p;
        for (Kel32s k = 0; k < chars; ++k) {
            if (start == c.subjectStart) return negative ? kMatch : kFail;
            start -= n8_stepBack(start, c.subjectStart);
        }
        needEnd = p;
    }
    const Kel8u* endAt = nullptr;
    r = n8_runSub(c, open, close, start, needEnd, &endAt);
    if (r == kLimit) return r;
    return (r == kMatch) != negative ? kMatch : kFail;
}

Result n8_callCont(Ctx& c, const Cont* k, const Kel8u* p);

// One iteration of group g's content starting at p: its alternatives in order, each ending in the continuation g.
Result n8_tryContent(Ctx& c, const Cont* g, const Kel8u* p) {
    if (n8_stackExhausted(c)) return kLimit;
    Cont it = *g;
    it.iterStart = p;
    const RegExpNode open = n8_node(c, g->open);
    if (open.kind == kNodeGroupingCondition) {
        const RegExpNode cond = n8_node(c, g->open + 1);
        bool truth;
        Kel32s yes;
        if (cond.kind == kNodeBackReference) {
            truth = cond.a < c.numGroups && n8_getCapture(c, cond.a).len >= 0;
            yes = g->open + 2;
        } else {
            const Result r = n8_lookAround(c, cond, g->open + 1, p);
            if (r == kLimit) return r;
            truth = r == kMatch;
            yes = g->open + 1 + cond.b + 2;
        }
        const Kel32s alt = n8_nextAlternative(c, yes, g->close);
        if (truth) return n8_run(c, yes, p, &it);
        if (alt >= 0) return n8_run(c, alt + 1, p, &it);
        return n8_callCont(c, &it, p);
    }
    for (Kel32s from = g->open + 1;;) {
        const Result r = n8_run(c, from, p, &it);
        if (r != kFail) return r;
        if (c.abort) return kLimit;
        const Kel32s alt = n8_nextAlternative(c, from, g->close);
        if (alt < 0) return kFail;
        from = alt + 1;
    }
}

Result n8_callCont(Ctx& c, const Cont* k, const Kel8u* p) {
    if (k->kind == kContFinal) {
        if (c.nonEmpty && p == c.matchStart) return kFail;
        n8_setCapture(c, 0, c.matchStart, static_cast<Kel32s>(p - c.matchStart));
        return kMatch;
    }
    if (k->kind == kContSub) {
        if (k->needEnd && p != k->needEnd) return kFail;
        k->subEnd = p;
        return kMatch;
    }
    const Kel32s iterLen = static_cast<Kel32s>(p - k->iterStart);
    RegExpCapture saved{};
    if (k->capture) {
        saved = n8_getCapture(c, k->capture);
        n8_setCapture(c, k->capture, k->iterStart, iterLen);
    }
    Cont next = *k;
    next.count = k->count + 1;
    Result r;
    if (iterLen == 0 || next.count >= k->max) {
        r = n8_run(c, k->after, p, k->next);
    } else if (next.count < k->min) {
        r = n8_tryContent(c, &next, p);
    } else if (!k->lazy) {
        r = n8_tryContent(c, &next, p);
        if (r == kFail && !c.abort) r = n8_run(c, k->after, p, k->next);
    } else {
        r = n8_run(c, k->after, p, k->next);
        if (r == kFail && !c.abort) r = n8_tryContent(c, &next, p);
    }
    if (r != kMatch && k->capture) __builtin_memcpy(n8_regExpCaptureRecord(c.state, k->capture), &saved, sizeof saved);
    return r;
}

// Greedy atomic repetition: iterations from `count` on at p, then the rest of the program.
Result n8_atomicGreedy(Ctx& c, Kel32s open, Kel32s close, Kel32s after, Kel32s count, Kel32s min, Kel32s max,
                       const Kel8u* p, const Cont* k) {
    if (n8_stackExhausted(c)) return kLimit;
    if (count < max) {
        const Kel8u* q = nullptr;
        const Result r = n8_runSub(c, open, close, p, nullptr, &q);
        if (r == kLimit) return r;
        if (r == kMatch) {
            if (q == p) return n8_run(c, after, q, k);
            const Result rest = n8_atomicGreedy(c, open, close, after, count + 1, min, max, q, k);
            if (rest != kFail || c.abort) return rest;
        }
    }
    if (count >= min) return n8_run(c, after, p, k);
    return kFail;
}

Result n8_atomic(Ctx& c, Kel32s open, const RegExpNode& n, const Kel8u* p, const Cont* k) {
    const Kel32s close = open + n.b + 1;
    Kel32s min = 1, max = 1, after = close + 1;
    bool lazy = false;
    if (after < c.numNodes) {
        const RegExpNode q = n8_node(c, after);
        if (n8_isQuantifierNode(q.kind)) {
            min = q.a;
            max = q.b;
            lazy = q.kind == kNodeQuantifierMin;
            ++after;
        }
    }
    if (!lazy) return n8_atomicGreedy(c, open, close, after, 0, min, max, p, k);
    for (Kel32s count = 0;; ++count) {
        if (count >= min) {
            const Result r = n8_run(c, after, p, k);
            if (r != kFail || c.abort) return r;
        }
        if (count >= max) return kFail;
        const Kel8u* q = nullptr;
        const Result r = n8_runSub(c, open, close, p, nullptr, &q);
        if (r != kMatch) return r;
        if (q == p) return count + 1 >= min ? kFail : n8_run(c, after, q, k);
        p = q;
    }
}

// A quantified single item at node i (quantifier at qi) matched from p; the rest of the program follows qi.
Result n8_repeat(Ctx& c, Kel32s i, const RegExpNode& item, const RegExpNode& quant, Kel32s qi, const Kel8u* p,
                 const Cont* k) {
    const Kel32s min = quant.a, max = quant.b;
    const Kel32s next = qi + 1;
    if (p == c.end && min > 0 && item.kind != kNodeBackReference) return kFail;
    // A literal byte that the rest must start with lets the loops skip hopeless attempts.
    Kel32s nextByte = -1;
    if (next < c.numNodes) {
        const RegExpNode nn = n8_node(c, next);
        if ((nn.kind == kNodeLetter || nn.kind == kNodeString) && !n8_caseless(nn.opts) &&
            !(next + 1 < c.numNodes && n8_isQuantifierNode(n8_node(c, next + 1).kind))) {
            nextByte = nn.kind == kNodeLetter ? nn.a : nn.ptr[0];
        }
    }
    const Kel8u* pos = p;
    Kel32s count = 0;
    while (count < min) {
        const Kel32s l = n8_matchOne(c, i, item, pos);
        if (l < 0) return kFail;
        if (l == 0) {
            count = min;
            break;
        }
        pos += l;
        ++count;
    }
    if (quant.kind == kNodeQuantifierMin) {
        for (;;) {
            if (nextByte < 0 || (pos < c.end && *pos == nextByte)) {
                const Result r = n8_run(c, next, pos, k);
                if (r == kMatch) return r;
                if (c.abort) return kLimit;
            }
            if (count >= max) return kFail;
            const Kel32s l = n8_matchOne(c, i, item, pos);
            if (l <= 0) return kFail;
            pos += l;
            ++count;
        }
    }
    const Kel8u* floor = pos;
    const Kel32s minCount = count;
    Kel32s fixed = -1;  // bytes per repetition when every repetition has the same length
    if (item.kind == kNodeLetter || item.kind == kNodeOneByte) fixed = 1;
    if (item.kind == kNodeLetterUtf8) {
        fixed = 0;  // set from the first repetition
    }
    if (item.kind == kNodeBackReference) {
        const RegExpCapture g = item.a < c.numGroups ? n8_getCapture(c, item.a) : RegExpCapture{nullptr, -1, 0};
        fixed = g.len > 0 ? g.len : -2;
    }
    if (fixed == -2) {
        return n8_run(c, next, pos, k);  // an empty capture repeats to nothing
    }
    if (item.kind == kNodeLetter && !n8_caseless(item.opts)) {
        while (count < max && pos < c.end && *pos == item.a) {
            ++pos;
            ++count;
        }
    } else if (item.kind == kNodeLetterRange && item.a == '.') {
        const bool all = (item.opts & kRegExpDotAll) != 0;
        while (count < max && pos < c.end && (all || *pos != '\n')) {
            pos += n8_charSize(pos, static_cast<Kel32s>(c.end - pos));
            ++count;
        }
    } else if (const bool* map = item.kind == kNodeCharacterClass ? n8_classMapOf(c, i) : nullptr) {
        while (count < max && pos < c.end && map[*pos]) {
            pos += n8_charSize(pos, static_cast<Kel32s>(c.end - pos));
            ++count;
        }
    } else {
        while (count < max && pos < c.end) {
            const Kel32s l = n8_matchOne(c, i, item, pos);
            if (l <= 0) break;
            if (fixed == 0) fixed = l;
            pos += l;
            ++count;
        }
    }
    for (;;) {
        if (nextByte < 0 || (pos < c.end && *pos == nextByte)) {
            const Result r = n8_run(c, next, pos, k);
            if (r == kMatch) return r;
            if (c.abort) return kLimit;
        }
        if (count <= minCount) return kFail;
        --count;
        if (fixed > 0) {
            pos -= fixed;
        } else if (item.kind == kNodeCombLetter) {
            pos = floor;
            for (Kel32s n = minCount; n < count; ++n) pos += n8_matchOne(c, i, item, pos);
        } else {
            pos -= n8_stepBack(pos, floor);
        }
    }
}

// A character written literally before a quantifier (LetterUtf8 with its byte length in b), in a byte search: its
// leading bytes match once and the quantifier repeats its last byte, as for any other run of literal bytes. The
// bytes are re-encoded from the code point, which came from a valid shortest-form sequence of exactly b bytes.
Result n8_repeatLastByte(Ctx& c, Kel32s i, const RegExpNode& item, const RegExpNode& quant, Kel32s qi, const Kel8u* p,
                         const Cont* k) {
    const Kel32s len = item.b;
    Kel8u bytes[6];
    const Kel32u code = static_cast<Kel32u>(item.a);
    bytes[0] = static_cast<Kel8u>(UTF8_table2[len - 1] | (code >> (6 * (len - 1))));
    for (Kel32s j = 1; j < len; ++j) bytes[j] = static_cast<Kel8u>(0x80 | ((code >> (6 * (len - 1 - j))) & 0x3F));
    if (c.end - p < len - 1) return kFail;
    for (Kel32s j = 0; j < len - 1; ++j) {
        if (p[j] != bytes[j]) return kFail;
    }
    const RegExpNode last{kNodeLetter, bytes[len - 1], 0, item.opts, nullptr};
    return n8_repeat(c, i, last, quant, qi, p + len - 1, k);
}

// Runs the program from node i at p; reaching an Alternation, a GroupingClose or the program end hands over to k.
Result n8_runBody(Ctx& c, Kel32s i, const Kel8u* p, const Cont* k, long long& used) {
    for (;;) {
        if (i >= c.numNodes) return n8_callCont(c, k, p);
        if (c.depth < 0) {
            --c.budget;
            return kLimit;
        }
        if (c.budget - 1 < 0) return kFail;
        --c.budget;
        --c.depth;
        ++used;
        const RegExpNode n = n8_node(c, i);
        switch (n.kind) {
            case kNodeAlternation:
            case kNodeGroupingClose:
                return n8_callCont(c, k, p);
            case kNodeOptionSet:
                ++i;
                continue;
            case kNodeQuantifierMin:
            case kNodeQuantifierMax:
                ++i;  // only reachable after an item already handled
                continue;
            case kNodePosition: {
                const bool optional =
                    i + 1 < c.numNodes && n8_isQuantifierNode(n8_node(c, i + 1).kind) && n8_node(c, i + 1).a == 0;
                if (!optional && !n8_positionHolds(c, n, p)) return kFail;
                ++i;
                if (i < c.numNodes && n8_isQuantifierNode(n8_node(c, i).kind)) ++i;
                continue;
            }
            case kNodeString: {
                const Kel32s l = n8_matchOne(c, i, n, p);
                if (l < 0) return kFail;
                p += l;
                ++i;
                continue;
            }
            case kNodeGroupingLookAhead:
            case kNodeGroupingLookAheadNot:
            case kNodeGroupingLookBehind:
            case kNodeGroupingLookBehindNot: {
                if (n8_stackExhausted(c)) return kLimit;
                const Result r = n8_lookAround(c, n, i, p);
                if (r != kMatch) return r;
                i += n.b + 2;
                if (i < c.numNodes && n8_isQuantifierNode(n8_node(c, i).kind)) ++i;
                continue;
            }
            case kNodeGroupingOnce:
                if (n8_stackExhausted(c)) return kLimit;
                return n8_atomic(c, i, n, p, k);
            case kNodeGrouping:
            case kNodeGroupingNoCapture:
            case kNodeGroupingOptions:
            case kNodeGroupingCondition: {
                if (n8_stackExhausted(c)) return kLimit;
                Cont g{};
                g.kind = kContGroup;
                g.next = k;
                g.open = i;
                g.close = i + n.b + 1;
                g.after = g.close + 1;
                g.min = 1;
                g.max = 1;
                if (g.after < c.numNodes) {
                    const RegExpNode q = n8_node(c, g.after);
                    if (n8_isQuantifierNode(q.kind)) {
                        g.min = q.a;
                        g.max = q.b;
                        g.lazy = q.kind == kNodeQuantifierMin;
                        ++g.after;
                    }
                }
                g.capture = n.kind == kNodeGrouping ? static_cast<Kel32s>(n.opts) : 0;
                __builtin_memcpy(n8_regExpGroupRecord(c.state, n.a) + 8, &i, sizeof i);
                if (g.max == 0) {
                    i = g.after;
                    continue;
                }
                // A plain group around one unquantified single-character item needs no iteration frame.
                if (g.min == 1 && g.max == 1 && n.b == 1 && n.kind != kNodeGroupingCondition) {
                    const RegExpNode item = n8_node(c, i + 1);
                    if (item.kind == kNodeLetter || item.kind == kNodeLetterRange || item.kind == kNodeOneByte ||
                        item.kind == kNodeLetterUtf8 || item.kind == kNodeUnicodeCategory ||
                        item.kind == kNodeUnicodeRange || item.kind == kNodeUnicodeScript) {
                        const Kel32s l = n8_matchOne(c, i + 1, item, p);
                        if (l < 0) return kFail;
                        if (!g.capture) {
                            p += l;
                            i = g.after;
                            continue;
                        }
                        const RegExpCapture saved = n8_getCapture(c, g.capture);
                        n8_setCapture(c, g.capture, p, l);
                        const Result r = n8_run(c, g.after, p + l, k);
                        if (r != kMatch) {
                            __builtin_memcpy(n8_regExpCaptureRecord(c.state, g.capture), &saved, sizeof saved);
                        }
                        return r;
                    }
                }
                if (g.min == 0 && g.lazy) {
                    const Result r = n8_run(c, g.after, p, k);
                    if (r != kFail || c.abort) return r;
                    return n8_tryContent(c, &g, p);
                }
                if (g.min == 0) {
                    const Result r = n8_tryContent(c, &g, p);
                    if (r != kFail || c.abort) return r;
                    return n8_run(c, g.after, p, k);
                }
                return n8_tryContent(c, &g, p);
            }
            default: {
                // Single items: the quantifier follows the item (a class: after its members).
                const Kel32s qi = n.kind == kNodeCharacterClass ? i + n.b + 1 : i + 1;
                if (qi < c.numNodes) {
                    const RegExpNode q = n8_node(c, qi);
                    if (n8_isQuantifierNode(q.kind)) {
                        if (n8_stackExhausted(c)) return kLimit;
                        if (n.kind == kNodeLetterUtf8 && n.b > 1 && c.format == kRegExpFormatBytes) {
                            return n8_repeatLastByte(c, i, n, q, qi, p, k);
                        }
                        return n8_repeat(c, i, n, q, qi, p, k);
                    }
                }
                const Kel32s l = n8_matchOne(c, i, n, p);
                if (l < 0) return kFail;
                p += l;
                i = qi;
                continue;
            }
        }
    }
}

Result n8_run(Ctx& c, Kel32s i, const Kel8u* p, const Cont* k) {
    if (c.abort) return kLimit;
    long long used = 0;
    const Result r = n8_runBody(c, i, p, k, used);
    c.budget += used;
    c.depth += used;
    return c.abort ? kLimit : r;
}

enum Anchor { kAnchorNone, kAnchorStart, kAnchorLine };

Kel32s n8_findLiteral(const RegExpNode& n, const Kel8u* src, Kel32s len, bool caseless, bool reverse);

void n8_addByte(bool* set, Kel32s b, bool caseless) {
    set[b & 0xFF] = true;
    if (caseless && b >= 'a' && b <= 'z') set[b - 32] = true;
    if (caseless && b >= 'A' && b <= 'Z') set[b + 32] = true;
}

// Bytes a match can start with, from the first item of each top-level alternative; false when some alternative
// could start with anything (or match the empty string).
bool n8_firstBytes(const Ctx& c, bool* set) {
    for (int b = 0; b < 256; ++b) set[b] = false;
    if (c.numNodes == 0) return false;
    for (Kel32s from = 0;;) {
        if (from >= c.numNodes) return false;
        const RegExpNode n = n8_node(c, from);
        const bool ci = n8_caseless(n.opts);
        const Kel32s qi = n.kind == kNodeCharacterClass ? from + n.b + 1 : from + 1;
        if (qi < c.numNodes && n8_isQuantifierNode(n8_node(c, qi).kind) && n8_node(c, qi).a == 0) return false;
        switch (n.kind) {
            case kNodeLetter:
                n8_addByte(set, n.a, ci);
                break;
            case kNodeString:
                n8_addByte(set, n.ptr[0], ci);
                break;
            case kNodeLetterRange:
                for (int b = 0; b < 256; ++b) {
                    if (n8_rangeByteTest(n.a, static_cast<Kel8u>(b), n.opts)) set[b] = true;
                }
                break;
            case kNodeCharacterClass:
                if (n.a == -1) return false;
                for (Kel32s k = 1; k <= n.b; ++k) {
                    const RegExpNode m = n8_node(c, from + k);
                    if (m.kind == kNodeLetter) {
                        n8_addByte(set, m.a, ci);
                    } else if (m.kind == kNodeClassRange && m.opts != kNegatedMember && m.b < 128) {
                        for (Kel32s b = m.a; b <= m.b; ++b) n8_addByte(set, b, ci);
                    } else if (m.kind == kNodeLetterRange) {
                        for (int b = 0; b < 256; ++b) {
                            if (n8_rangeByteTest(m.a, static_cast<Kel8u>(b), m.opts)) set[b] = true;
                        }
                    } else {
                        return false;
                    }
                }
                break;
            default:
                return false;
        }
        const Kel32s alt = n8_nextAlternative(c, from, c.numNodes);
        if (alt < 0) return true;
        from = alt + 1;
    }
}

// Start-position loop over [s, s + n): kMatch with capture record 0 set, kFail, or kLimit.
Result n8_findFirst(Ctx& c, const Kel8u* s, Kel32s n, Anchor anchor) {
    if (c.depth < 0) return kLimit;
    --c.depth;
    const Kel8u* end = s + n;
    c.end = end;
    Result result = kFail;
    Cont fin{};
    fin.kind = kContFinal;
    const Kel8u* req = nullptr;  // next occurrence of reqByte at or after the position, when known
    for (const Kel8u* p = s; p <= end;) {
        if (c.reqByte >= 0 && (!req || req < p)) {
            Kel32s at = -1;
            n8_kelsFindC_8u(p, static_cast<Kel32s>(end - p), static_cast<Kel8u>(c.reqByte), &at);
            if (at < 0) break;
            req = p + at;
        }
        if (c.leadLiteral && anchor == kAnchorNone) {
            const Kel32s at = n8_findLiteral(n8_node(c, 0), p, static_cast<Kel32s>(end - p), false, false);
            if (at < 0) break;
            p += at;
        } else if (c.useFirst && anchor == kAnchorNone) {
            while (p < end && !c.first[*p]) ++p;
            if (p == end) break;
        }
        for (Kel32s g = 1; g < c.numGroups; ++g) n8_setCapture(c, g, nullptr, -1);
        n8_setCapture(c, 0, p, 0);
        c.matchStart = p;
        for (Kel32s from = 0;;) {
            const Result r = n8_run(c, from, p, &fin);
            if (r == kLimit && (c.abort || true)) {
                result = kLimit;
                goto done;
            }
            if (r == kMatch) {
                result = kMatch;
                goto done;
            }
            const Kel32s alt = c.topAlternation ? n8_nextAlternative(c, from, c.numNodes) : -1;
            if (alt < 0) break;
            from = alt + 1;
        }
        if (anchor == kAnchorStart) break;
        if (p == end) break;
        p += c.format == kRegExpFormatUtf8 ? n8_ownsGetCharSize(p, static_cast<Kel32s>(end - p)) : 1;
        if (anchor == kAnchorLine) {
            while (p < end && p[-1] != '\n') ++p;
            if (p[-1] != '\n') break;
        }
    }
done:
    ++c.depth;
    return result;
}

bool n8_eqFold(const Kel8u* a, const Kel8u* b, Kel32s len) {
    for (Kel32s k = 0; k < len; ++k) {
        if (n8_upper(a[k]) != n8_upper(b[k])) return false;
    }
    return true;
}

// Offset of the first (reverse: last) occurrence of the literal node n in src, or -1.
Kel32s n8_findLiteral(const RegExpNode& n, const Kel8u* src, Kel32s len, bool caseless, bool reverse) {
    Kel8u one = static_cast<Kel8u>(n.a);
    const Kel8u* lit = n.kind == kNodeLetter ? &one : n.ptr;
    const Kel32s litLen = n.kind == kNodeLetter ? 1 : n.b;
    Kel32s idx = -1;
    if (!caseless) {
        if (litLen == 1) {
            if (reverse) {
                n8_kelsFindRevC_8u(src, len, lit[0], &idx);
            } else {
                n8_kelsFindC_8u(src, len, lit[0], &idx);
            }
        } else if (reverse) {
            n8_kelsFindRev_8u(src, len, lit, litLen, &idx);
        } else {
            n8_kelsFind_8u(src, len, lit, litLen, &idx);
        }
        return idx;
    }
    if (reverse) {
        for (Kel32s q = len - litLen; q >= 0; --q) {
            if (n8_eqFold(src + q, lit, litLen)) return q;
        }
    } else {
        for (Kel32s q = 0; q + litLen <= len; ++q) {
            if (n8_eqFold(src + q, lit, litLen)) return q;
        }
    }
    return -1;
}

Kel32s n8_literalLength(const RegExpNode& n) {
    return n.kind == kNodeLetter ? 1 : n.b;
}

void n8_storeRecord(RegExpMatchRecord* rec, const RegExpCapture& g) {
    const Kel8u* ptr = g.len < 0 ? nullptr : g.ptr;
    __builtin_memcpy(reinterpret_cast<Kel8u*>(rec), &ptr, sizeof ptr);
    __builtin_memcpy(reinterpret_cast<Kel8u*>(rec) + 8, &g.len, sizeof g.len);
}

}  // namespace

KelStatus n8_ownsRegExpFind_8u(const Kel8u* pSrc, int srcLen, RegExpState* pState, RegExpMatchRecord* pFind,
                               int* pNumFind, int fullSets) {
    if (!pSrc || !pState || !pFind || !pNumFind) return kelStatusNullPointer;
    if (srcLen < 0) return kelStatusBadLength;
    if (*pNumFind < 1) return kelStatusBadSize;
    const RegExpHeader h = n8_loadRegExpHeader(pState);
    if (h.magic != kRegExpMagic) return kelStatusRegExpBadState;

    Ctx c{};
    c.state = pState;
    c.subjectStart = pSrc;
    c.numNodes = h.numNodes;
    c.numGroups = h.numGroups;
    c.format = h.format;
    c.budget = h.matchLimit;
    c.depth = h.matchLimit / 4;
    c.stepCap = kStepsPerLimit * (h.matchLimit < kMaxLimitForSteps ? h.matchLimit : kMaxLimitForSteps) + kStepsFloor +
                kStepsPerByte * srcLen;
    c.stackBase = reinterpret_cast<unsigned long>(__builtin_frame_address(0));
    const bool global = (h.options & kRegExpGlobal) != 0;
    c.useFirst = n8_firstBytes(c, c.first);
    c.reqByte = -1;
    c.topAlternation = n8_nextAlternative(c, 0, c.numNodes) >= 0;
    if (h.searchKind == kRegExpSearchLeadingLiteral && c.numNodes > 0) {
        const RegExpNode n0 = n8_node(c, 0);
        c.leadLiteral = (n0.kind == kNodeLetter || n0.kind == kNodeString) && !n8_caseless(n0.opts);
    }
    for (Kel32s i = 0; i < c.numNodes && c.numClassMaps < kClassMaps; ++i) {
        const RegExpNode n = n8_node(c, i);
        if (n.kind != kNodeCharacterClass) continue;
        bool bytesOnly = true;
        for (Kel32s k = 1; k <= n.b && bytesOnly; ++k) {
            const RegExpNode m = n8_node(c, i + k);
            bytesOnly = m.kind == kNodeLetter || m.kind == kNodeLetterRange ||
                        (m.kind == kNodeClassRange && m.a < 256 && m.b < 256);
        }
        if (!bytesOnly) continue;
        bool* map = c.classMap[c.numClassMaps];
        for (int b = 0; b < 256; ++b) {
            const Kel8u one = static_cast<Kel8u>(b);
            bool hit = false;
            for (Kel32s k = 1; k <= n.b && !hit; ++k) hit = n8_classMember(c, n8_node(c, i + k), n.opts, &one, 1);
            map[b] = hit != (n.a == -1);
        }
        c.classNode[c.numClassMaps++] = i;
    }
    for (Kel32s i = 0; i < c.numNodes && c.reqByte < 0 && n8_nextAlternative(c, 0, c.numNodes) < 0;) {
        const RegExpNode n = n8_node(c, i);
        if (n8_isGroupOpenNode(n.kind)) {
            i += n.b + 2;
            continue;
        }
        const bool optional =
            i + 1 < c.numNodes && n8_isQuantifierNode(n8_node(c, i + 1).kind) && n8_node(c, i + 1).a == 0;
        if (!n8_caseless(n.opts) && !optional) {
            if (n.kind == kNodeLetter) c.reqByte = n.a;
            if (n.kind == kNodeString) c.reqByte = n.ptr[0];
        }
        i += n.kind == kNodeCharacterClass ? n.b + 1 : 1;
    }
    // In UTF-8 a skip may only land on character starts: keep it to ASCII first bytes there.
    for (int b = 0x80; b < 256 && c.format == kRegExpFormatUtf8; ++b) c.useFirst = c.useFirst && !c.first[b];

    // A required last literal bounds where any match can end; a look-ahead could still read past it.
    bool lookAhead = false;
    for (Kel32s i = 0; i < c.numNodes && h.lastLiteral >= 0; ++i) {
        const Kel32u kind = n8_node(c, i).kind;
        if (kind == kNodeGroupingLookAhead || kind == kNodeGroupingLookAheadNot) lookAhead = true;
    }
    if (h.lastLiteral >= 0 && !lookAhead) {
        const RegExpNode lit = n8_node(c, h.lastLiteral);
        const Kel32s at = n8_findLiteral(lit, pSrc, srcLen, n8_caseless(lit.opts), true);
        srcLen = at < 0 ? 0 : at + n8_literalLength(lit);
    }

    if (h.searchKind == kRegExpSearchLiteralAlternation && !global) {
        Kel32s best = -1, bestLen = 0;
        for (Kel32s i = 0; i < c.numNodes; i += 2) {
            const RegExpNode lit = n8_node(c, i);
            const Kel32s span = best < 0 ? srcLen : best + n8_literalLength(lit) - 1;
            const Kel32s at =
                n8_findLiteral(lit, pSrc, span < srcLen ? span : srcLen, (h.options & kRegExpCaseless) != 0, false);
            if (at >= 0 && (best < 0 || at < best)) {
                best = at;
                bestLen = n8_literalLength(lit);
            }
        }
        if (best < 0) {
            *pNumFind = 0;
            return kelStatusOk;
        }
        RegExpCapture g{pSrc + best, bestLen, 0};
        n8_storeRecord(pFind, g);
        *pNumFind = 1;
        return kelStatusOk;
    }

    const Kel8u* s = pSrc;
    Kel32s n = srcLen;
    if (h.searchKind == kRegExpSearchLeadingLiteral && c.numNodes > 0) {
        const RegExpNode lit = n8_node(c, 0);
        const Kel32s at = n8_findLiteral(lit, pSrc, srcLen, n8_caseless(lit.opts), false);
        if (at > 0) {
            s += at;
            n -= at;
        }
    }

    Anchor anchor = kAnchorNone;
    if (c.numNodes > 0 && n8_node(c, 0).kind == kNodePosition && n8_nextAlternative(c, 0, c.numNodes) < 0) {
        const RegExpNode p0 = n8_node(c, 0);
        if (p0.a == 'A' || p0.a == 'G') anchor = kAnchorStart;
        if (p0.a == '^') anchor = (p0.opts & kRegExpMultiLine) ? kAnchorLine : kAnchorStart;
        if (anchor == kAnchorStart && c.numNodes > 1 && n8_isQuantifierNode(n8_node(c, 1).kind) &&
            n8_node(c, 1).a == 0) {
            anchor = kAnchorNone;
        }
    }

    if (!global) {
        if (*pNumFind > c.numGroups) *pNumFind = c.numGroups;
        const Result r = n8_findFirst(c, s, n, anchor);
        if (r == kLimit) {
            *pNumFind = 0;
            return kelStatusRegExpMatchLimit;
        }
        if (r == kFail) {
            if (c.budget < 0) return kelStatusRegExpMatchLimit;
            *pNumFind = 0;
            return kelStatusOk;
        }
        for (Kel32s g = 0; g < *pNumFind; ++g) n8_storeRecord(pFind + g, n8_getCapture(c, g));
        return *pNumFind < c.numGroups ? kelStatusRegExpGroupsTruncated : kelStatusOk;
    }

    const Kel32s first = (c.numGroups > 1 && !fullSets) ? 1 : 0;
    const Kel32s capacity = *pNumFind;
    Kel32s written = 0;
    const Kel8u* const end = s + n;
    const Kel8u* cur = s;
    auto copyMatch = [&]() {
        for (Kel32s g = first; g < c.numGroups && written < capacity; ++g) {
            n8_storeRecord(pFind + written++, n8_getCapture(c, g));
        }
    };
    while (written < capacity && cur <= end) {
        c.nonEmpty = false;
        const Result r = n8_findFirst(c, cur, static_cast<Kel32s>(end - cur), anchor);
        if (r == kLimit) return kelStatusRegExpMatchLimit;
        if (r != kMatch) break;
        const RegExpCapture m = n8_getCapture(c, 0);
        copyMatch();
        if (c.budget < 0) return kelStatusRegExpMatchLimit;
        if (m.len > 0) {
            cur = m.ptr + m.len;
            continue;
        }
        if (written < capacity && end - m.ptr >= 1) {
            c.nonEmpty = true;
            const Result r2 = n8_findFirst(c, m.ptr, 1, anchor);
            c.nonEmpty = false;
            if (r2 == kLimit) return kelStatusRegExpMatchLimit;
            if (r2 == kMatch) copyMatch();
        }
        cur = m.ptr + 1;
    }
    if (c.budget < 0) return kelStatusRegExpMatchLimit;
    *pNumFind = written;
    return (written > 0 && written < c.numGroups - first) ? kelStatusRegExpGroupsTruncated : kelStatusOk;
}

extern "C" KelStatus n8_kelsRegExpFind_8u(const Kel8u* pSrc, int srcLen, RegExpState* pState, RegExpMatchRecord* pFind,
                                          int* pNumFind) {
    return n8_ownsRegExpFind_8u(pSrc, srcLen, pState, pFind, pNumFind, 0);
}

// src/ch/regexp/regexp_find.cpp - kelsRegExpFind_8u: the backtracking matcher over the compiled node program.
//
// The interpreter walks the program left to right without native recursion. Every choice it may come back to
// (the next alternative, leaving or extending a group's repetition, giving back or taking one more repetition of a
// single item) is an entry on an explicit stack, as is every earlier value of a capture or group-stack record that
// a failure must restore. The group being matched at each nesting level keeps its iteration count and start in
// the group-stack record of that level, so reaching a GroupingClose or an Alternation finds its group there.
// Look-arounds, conditions and atomic groups run as sub-programs above a barrier entry: success cuts their choices
// (keeping the trail), failure unwinds to the barrier.
//
// Work bounds: every node evaluation charges one unit of the depth budget D (matchLimit / 4) and of the match
// budget B (matchLimit) for as long as the path through it lives (entries remember D and restore it, with B moving
// alongside); a single-item loop costs one unit for the whole loop. D < 0 is the limit signal, which unwinds to the
// nearest single-item loop or ends the search. A choice that would fail at its first node is not recorded when
// that evaluation could not have met the limit, which changes no result and lets loops over disjoint alternatives
// run in constant space. Independently of the limit, a full stack or more than kStepsPerLimit * min(matchLimit,
// kMaxLimitForSteps) + kStepsFloor + kStepsPerByte * subject length steps ends the search with the limit status.
#include "ch/regexp/regexp_find.h"

#include "ch/regexp/regexp_prefilter.h"
#include "ch/regexp/regexp_run.h"

#include "ch/regexp/unicode/unicode_internal.h"
#include "core/ch_exports.h"

namespace {

enum Result { kFail = 0, kMatch = 1, kLimit = 2 };

// Work bound independent of the match limit: one call may push or resume at most kStepsPerLimit *
// min(matchLimit, kMaxLimitForSteps) + kStepsFloor + kStepsPerByte * subject length entries, iterations and
// tries of the rest after a repeated item. Searches that match or fail on their merits take up to about 5.5 steps
// per subject byte (the megabyte cases of the tests, the benchmark texts); a hopeless nested repetition such as
// (a*)*\d over a megabyte runs until this bound, so it is kept as low as that margin allows.
constexpr long long kStepsPerLimit = 10;
constexpr long long kMaxLimitForSteps = 1000000;
constexpr long long kStepsPerByte = 8;
constexpr long long kStepsFloor = 100000;

// Byte tables of classes: up to kClassMaps distinct tables, shared by up to kClassNodes class nodes (a pattern
// such as an IPv4 octet repeats [0-9] many times). Nodes below kIndexedNodes find theirs in one load.
constexpr int kClassMaps = 16;
constexpr int kClassNodes = 64;
constexpr Kel32s kIndexedNodes = 256;
constexpr int kPossSlots = 32;  // remembered answers of n8_possessive
constexpr int kLevelSlots = 8;  // remembered nesting levels of single-item loops
constexpr Kel32s kNativeEntries = kRegExpNativeStackEntries;

struct Entry;

constexpr int kRunSlots = 4;   // remembered runs of greedy single items
constexpr int kRunTables = 8;  // nibble tables of repeated items kept per search
constexpr int kNextSlots = 8;  // remembered first-byte sets of the rest after a single-item loop
struct RunMemo {
    Kel32s node;
    Kel32s start;  // subject offsets: every position in [start, end) matches the item with one byte
    Kel32s end;    // where the item stopped matching
};

// One item of the start chain: a run of ASCII bytes from `table`, min..max of them (max kQuantifierInfinity: no
// bound); `forced` when the next item must take a byte and no byte of this table can start it.
constexpr int kChainItems = 16;
struct ChainItem {
    const bool* table;
    Kel32s min, max;
    bool forced;
    RegExpRunTable run;  // the table's nibble form, for the vector scan
};

// The byte tables of the search, kept apart from Ctx so that they are not cleared with it: each table is
// written before it is read.
struct Scratch {
    bool classMap[kClassMaps][256];
    bool chainTable[kChainItems][256];
};

// Subjects shorter than this are searched with the cheaper setup alone (four class tables, no start chain, no
// fixed-offset literal or word comparison): building those costs microseconds, which a line-by-line search
// pays per line and cannot win back.
constexpr int kAnalysisMinLen = 256;

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
    long long attemptDepth;  // D when the current attempt started
    long long steps;
    long long stepCap;
    bool nonEmpty;
    bool abort;
    bool useFirst;  // every match starts with a byte of `first`
    bool first[256];
    bool firstDeep;       // `first` was found through nodes that consume nothing (groups, options, anchors)
    bool usePair;         // `pair` also knows the bytes that can follow the first one
    Kel32s lineLead;      // evaluations up to a leading line anchor (^ under m), or 0 when the program has none
    const bool* leadRun;  // byte table of the unbounded greedy loop every attempt starts with, or null
    RegExpPairFilter pair;
    Kel32s reqByte;  // a byte every match contains at or after its start, or -1
    // A case-sensitive literal byte every match has at offset fixedAt from its start whenever the bytes before it
    // are ASCII (they are taken by fixed counts of one-byte items); fixedAt -1: none.
    Kel32s fixedAt;
    Kel32s fixedByte;
    // A program that opens with (X+)Y+\g, X and Y disjoint byte tables and \g a case-sensitive back-reference to
    // that group (as (\w+)\s+\1): the tables, Y's minimum, and the ASCII X run [repFrom, repEnd) last measured
    // with the Y run after it ending at repNext (repFrom null: none measured since the end of the subject moved).
    const bool* repX;
    const bool* repY;
    Kel32s repYMin;
    const Kel8u* repFrom;
    const Kel8u* repEnd;
    const Kel8u* repNext;
    // The chain of Ctx: items every match takes in order from its start (see n8_buildChain).
    ChainItem chain[kChainItems];
    bool (*chainTable)[256];  // kChainItems tables, in the caller's frame (left uninitialised: see Scratch)
    Kel32s chainLen;
    Kel32s chainSpan;  // node evaluations a path through the chain can make
    Kel32s chainByte;  // the one byte of the chain's second item when its first is a forced unbounded run, or -1
    const Kel8u* chainByteAt;  // next occurrence of chainByte at or after the position, when known
    const Kel8u* reqAt;        // next occurrence of reqByte at or after the position, when known
    // Byte tables of the first classes whose members are all byte tests. Such members look at the first byte of
    // the character only, so a table answers for any byte; the class still consumes the whole character.
    Kel32s classNode[kClassNodes];
    Kel8u classNodeMap[kClassNodes];
    Kel32s numClassNodes;
    Kel8u classSlot[kIndexedNodes];  // 1 + the table of node i, 0 for none
    bool (*classMap)[256];           // kClassMaps tables, in the caller's frame
    Kel32s numClassMaps;
    bool topAlternation;  // the program has an Alternation of level 0
    bool leadLiteral;     // every match starts with node 0, a case-sensitive Letter or String
    // The explicit stack: entries 0 .. kNativeEntries - 1 in `native`, then capA in areaA, then capB in areaB.
    Entry* native;
    Kel8u* areaA;
    Kel8u* areaB;
    Kel32s capA;
    Kel32s capB;
    Kel32s capacity;
    Kel32s top;                        // entries in use
    Kel32s topRet;                     // index of the newest returnable entry, -1 for none
    Kel32s barrier;                    // index of the innermost sub-program's barrier, -1 for none
    Kel32u topSerial;                  // serial of entry topRet, 0 for none
    Kel32s needLevel;                  // deepest nesting level a returnable entry on the stack resumes in (0: none)
    Kel32u serial;                     // last serial handed out
    Kel8u possIndexed[kIndexedNodes];  // answers of n8_possessive for nodes below kIndexedNodes: 0 unknown, 1 + value
    Kel32s possNode[kPossSlots];
    bool possValue[kPossSlots];
    Kel32s numPoss;
    Kel32s levelNode[kLevelSlots];  // remembered answers of n8_levelOf
    Kel32s levelValue[kLevelSlots];
    Kel32s numLevels;
    Kel32s maxLevel;              // deepest nesting level of the program
    Kel32s nextNode[kNextSlots];  // remembered answers of n8_nextSet
    bool nextKnown[kNextSlots];
    bool nextSet[kNextSlots][256];
    Kel32s numNext;
    RunMemo runs[kRunSlots];
    Kel32s numRuns;  // reset whenever the end of the subject moves
    // The straight path (see n8_straightAttempt): whether the program qualifies, and its record in this search.
    bool straight;
    Kel32s straightWins;
    Kel32s straightMisses;
    // Nibble forms of the tables repeated items scan, made on first use.
    const bool* runKey[kRunTables];
    RegExpRunTable runTable[kRunTables];
    Kel32s numRunTables;
};

inline const bool* n8_classMapOf(const Ctx& c, Kel32s i) {
    if (i < kIndexedNodes) return c.classSlot[i] ? c.classMap[c.classSlot[i] - 1] : nullptr;
    for (Kel32s k = 0; k < c.numClassNodes; ++k) {
        if (c.classNode[k] == i) return c.classMap[c.classNodeMap[k]];
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
constexpr bool n8_isWordByte(Kel8u b) {
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

constexpr bool n8_rangeByteTest(Kel32s op, Kel8u b, Kel32u opts) {
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

// The byte tests of `.` (without and with s) and the class escapes as tables, for the loops over repeated items.
struct ByteTable {
    bool t[256];
};
constexpr ByteTable n8_rangeTable(Kel32s op, Kel32u opts) {
    ByteTable r{};
    for (int b = 0; b < 256; ++b) r.t[b] = n8_rangeByteTest(op, static_cast<Kel8u>(b), opts);
    return r;
}
constexpr ByteTable kRangeTables[] = {n8_rangeTable('.', 0), n8_rangeTable('.', kRegExpDotAll),
                                      n8_rangeTable('d', 0), n8_rangeTable('D', 0),
                                      n8_rangeTable('s', 0), n8_rangeTable('S', 0),
                                      n8_rangeTable('w', 0), n8_rangeTable('W', 0)};

inline const bool* n8_rangeTableOf(Kel32s op, Kel32u opts) {
    switch (op) {
        case '.':
            return kRangeTables[(opts & kRegExpDotAll) ? 1 : 0].t;
        case 'd':
            return kRangeTables[2].t;
        case 'D':
            return kRangeTables[3].t;
        case 's':
            return kRangeTables[4].t;
        case 'S':
            return kRangeTables[5].t;
        case 'w':
            return kRangeTables[6].t;
        case 'W':
            return kRangeTables[7].t;
        default:
            return nullptr;
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
    // The kinds a hot loop meets most are tested first, each with a branch of its own: one indirect jump shared
    // by every call site predicts poorly.
    if (n.kind == kNodeCharacterClass && i < kIndexedNodes && c.classSlot[i]) {
        return c.classMap[c.classSlot[i] - 1][p[0]] ? n8_charSize(p, avail) : -1;
    }
    if (n.kind == kNodeLetter && !n8_caseless(n.opts)) return p[0] == n.a ? 1 : -1;
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

// ---- The explicit backtracking stack ----------------------------------------------------------------------------
//
// The matcher keeps no native recursion: every choice it may come back to is an Entry on an explicit stack, and so
// is every earlier value of a capture or group-stack record that a later failure must restore (the trail). Entries
// live first in a small array inside the context, then in the parts of the state's scratch areas that this pattern
// leaves unused: group-stack records above its deepest nesting level and capture records above its last group.
//
// A record is trailed at most once per choice: it carries the serial of the newest returnable entry at the time it
// was last trailed (the capture record's reserved word, word 3 of a group-stack record), and a change while that
// entry is still the newest needs no second copy.
enum EntryKind : Kel32s {
    kEUndoCapture = 1,  // node = group, pos = old start (-1: unset), x = old length, serial = old stamp
    kEUndoLevel,        // node = level, pos = old iteration start, x = old count, y = old open node, serial = old stamp
    // Returnable entries: unwinding stops at them.
    kEAlternative,     // try the alternative starting at node (x = the close bounding the search for the next one)
    kEGroupAfter,      // greedy group opened at x: leave the repetition and continue at node; y >= -1: the
                       // group's capture record was (y, z) when the entry was pushed (y -1: unset) and popping
                       // the entry restores it, so that entering the group trails no copy of it
    kEGroupIteration,  // lazy group opened at node: one more iteration (x = completed iterations)
    kERepeat,          // greedy single item at node: give back one repetition (x count, y minimum count, z floor)
    kELazy,            // lazy single item at node: take one more repetition (x count)
    kEBarrier,         // sub-program of the look-around or atomic group at node (x count, y outer barrier, z kind)
    kEAtomicRest,      // greedy atomic group at node: drop the iterations after the one that ended at pos (x count)
    kEAtomicLazy,      // lazy atomic group at node: one more iteration (x count)
};
enum BarrierKind : Kel32s { kBLook, kBCondition, kBAtomic, kBAtomicLazy };

struct Entry {
    Kel32s head;  // kind | (index of the previous returnable entry + 1) << 8 | need level << 20
    Kel32s node;
    Kel32s pos;    // subject offset from subjectStart
    Kel32s depth;  // D when the entry was pushed
    Kel32u serial;
    Kel32s x, y, z;
};
static_assert(sizeof(Entry) == kRegExpStackEntrySize);

inline Kel32s n8_entryKind(const Entry& e) {
    return e.head & 0xFF;
}
inline Kel32s n8_entryPrev(const Entry& e) {
    return ((e.head >> 8) & 0xFFF) - 1;
}
// The largest nesting level that this entry or a returnable entry below it resumes inside.
inline Kel32s n8_entryNeed(const Entry& e) {
    return (e.head >> 20) & 0x3FF;
}
// The head's fields: stack indices below 4096 (the capacity is at most 256 + 999 + 999 entries) and levels
// below 1024 (at most 999).
static_assert(kRegExpNativeStackEntries + kRegExpMaxLevel + kRegExpMaxCaptures < 0xFFF);
static_assert(kRegExpMaxLevel < 0x3FF);
constexpr Kel32s kNoFold = -2;  // y of a kEGroupAfter entry that restores no capture

// Group-stack record words used by the matcher.
constexpr int kLevelCount = 0;
constexpr int kLevelIterStart = 4;
constexpr int kLevelOpen = 8;  // the open node of the group being matched at that level
constexpr int kLevelStamp = 12;
constexpr int kCaptureStamp = 12;  // the capture record's reserved word

inline Kel32s n8_load32(const Kel8u* p) {
    Kel32s v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}
inline void n8_store32(Kel8u* p, Kel32s v) {
    __builtin_memcpy(p, &v, sizeof v);
}

inline Kel8u* n8_entryAddr(Ctx& c, Kel32s idx) {
    if (idx < kNativeEntries) return reinterpret_cast<Kel8u*>(&c.native[idx]);
    idx -= kNativeEntries;
    if (idx < c.capA) return c.areaA + static_cast<long>(idx) * kRegExpStackEntrySize;
    return c.areaB + static_cast<long>(idx - c.capA) * kRegExpStackEntrySize;
}
inline Entry n8_loadEntry(Ctx& c, Kel32s idx) {
    Entry e;
    __builtin_memcpy(&e, n8_entryAddr(c, idx), sizeof e);
    return e;
}
inline void n8_storeEntry(Ctx& c, Kel32s idx, const Entry& e) {
    __builtin_memcpy(n8_entryAddr(c, idx), &e, sizeof e);
}

inline Kel32s n8_off(const Ctx& c, const Kel8u* p) {
    return static_cast<Kel32s>(p - c.subjectStart);
}

// Appends an entry; a full stack (or a serial about to wrap) ends the search with the limit status.
bool n8_pushRaw(Ctx& c, Entry& e) {
    if (c.top >= c.capacity || c.serial == 0xFFFFFFFFu) {
        c.abort = true;
        return false;
    }
    n8_storeEntry(c, c.top++, e);
    return true;
}

inline Kel32s n8_abs(Kel32s v) {
    return v < 0 ? -v : v;
}

// Nesting level of the innermost group around node i (0 at top level). A scan that would pass more than
// kLevelScan nodes answers the pattern's deepest level instead, which only costs trail entries.
constexpr Kel32s kLevelScan = 64;
Kel32s n8_levelOf(Ctx& c, Kel32s i) {
    for (Kel32s k = 0; k < c.numLevels; ++k) {
        if (c.levelNode[k] == i) return c.levelValue[k];
    }
    Kel32s level = c.maxLevel;
    for (Kel32s o = i - 1; o >= 0; --o) {
        if (i - o > kLevelScan) break;
        const RegExpNode n = n8_node(c, o);
        if (n8_isGroupOpenNode(n.kind) && o + n.b + 1 > i) {
            level = n.a;
            break;
        }
        if (o == 0) level = 0;
    }
    const Kel32s slot = c.numLevels < kLevelSlots ? c.numLevels++ : (i & (kLevelSlots - 1));
    c.levelNode[slot] = i;
    c.levelValue[slot] = level;
    return level;
}

// The deepest nesting level whose group-stack record a resumed entry may read before writing it: the level of
// the group it resumes inside. Deeper records are always written first, by the entry of their group, so their
// earlier values need no trail while no entry on the stack resumes that deep.
Kel32s n8_resumeLevel(Ctx& c, Kel32s kind, Kel32s node, Kel32s x) {
    switch (kind) {
        case kEAlternative:  // x: the close that bounds the alternatives
            return x < c.numNodes ? n8_abs(n8_node(c, x).a) : 0;
        case kEGroupAfter:  // after the group opened at x
            return n8_node(c, x).a - 1;
        case kEGroupIteration:  // a new iteration writes the group's own record first
            return n8_node(c, node).a - 1;
        case kERepeat:
        case kELazy:
            return n8_levelOf(c, node);
        default:  // barriers and atomic groups: node is the group's open node
            return n8_abs(n8_node(c, node).a);
    }
}

bool n8_push(Ctx& c, Kel32s kind, Kel32s node, const Kel8u* p, Kel32s x, Kel32s y = 0, Kel32s z = 0) {
    if (++c.steps > c.stepCap) {
        c.abort = true;
        return false;
    }
    const Kel32s own = n8_resumeLevel(c, kind, node, x);
    const Kel32s need = own > c.needLevel ? own : c.needLevel;
    Entry e{kind | ((c.topRet + 1) << 8) | (need << 20),
            node,
            n8_off(c, p),
            static_cast<Kel32s>(c.depth),
            ++c.serial,
            x,
            y,
            z};
    const Kel32s idx = c.top;
    if (!n8_pushRaw(c, e)) return false;
    c.topRet = idx;
    c.topSerial = e.serial;
    c.needLevel = need;
    if (kind == kEBarrier) c.barrier = idx;
    return true;
}

// Sets a capture record, trailing its earlier value when a returnable entry may need it back.
void n8_setCaptureT(Ctx& c, Kel32s g, const Kel8u* p, Kel32s len) {
    Kel8u* rec = n8_regExpCaptureRecord(c.state, g);
    const Kel32u stamp = static_cast<Kel32u>(n8_load32(rec + kCaptureStamp));
    if (c.topRet >= 0 && stamp != c.topSerial) {
        const RegExpCapture old = n8_getCapture(c, g);
        Entry e{kEUndoCapture, g, old.len < 0 ? -1 : n8_off(c, old.ptr), 0, stamp, old.len, 0, 0};
        if (!n8_pushRaw(c, e)) return;
        n8_store32(rec + kCaptureStamp, static_cast<Kel32s>(c.topSerial));
    }
    n8_setCapture(c, g, p, len);
}

// Sets the group-stack record of `level`, trailing its earlier value when a returnable entry may read it.
void n8_setLevel(Ctx& c, Kel32s level, Kel32s count, const Kel8u* iterStart, Kel32s open) {
    Kel8u* rec = n8_regExpGroupRecord(c.state, level);
    const Kel32u stamp = static_cast<Kel32u>(n8_load32(rec + kLevelStamp));
    if (c.topRet >= 0 && stamp != c.topSerial && c.needLevel >= level) {
        Entry e{kEUndoLevel,
                level,
                n8_load32(rec + kLevelIterStart),
                0,
                stamp,
                n8_load32(rec + kLevelCount),
                n8_load32(rec + kLevelOpen),
                0};
        if (!n8_pushRaw(c, e)) return;
        n8_store32(rec + kLevelStamp, static_cast<Kel32s>(c.topSerial));
    }
    n8_store32(rec + kLevelCount, count);
    n8_store32(rec + kLevelIterStart, n8_off(c, iterStart));
    n8_store32(rec + kLevelOpen, open);
}

void n8_undo(Ctx& c, const Entry& e) {
    if (n8_entryKind(e) == kEUndoCapture) {
        Kel8u* rec = n8_regExpCaptureRecord(c.state, e.node);
        n8_setCapture(c, e.node, e.pos < 0 ? nullptr : c.subjectStart + e.pos, e.x);
        n8_store32(rec + kCaptureStamp, static_cast<Kel32s>(e.serial));
    } else {
        Kel8u* rec = n8_regExpGroupRecord(c.state, e.node);
        n8_store32(rec + kLevelCount, e.x);
        n8_store32(rec + kLevelIterStart, e.pos);
        n8_store32(rec + kLevelOpen, e.y);
        n8_store32(rec + kLevelStamp, static_cast<Kel32s>(e.serial));
    }
}

inline bool n8_isTrail(Kel32s kind) {
    return kind == kEUndoCapture || kind == kEUndoLevel;
}

void n8_refreshTop(Ctx& c) {
    if (c.topRet < 0) {
        c.topSerial = 0;
        c.needLevel = 0;
        return;
    }
    const Entry e = n8_loadEntry(c, c.topRet);
    c.topSerial = e.serial;
    c.needLevel = n8_entryNeed(e);
}

// The capture record a kEGroupAfter entry holds, as the trail entry that stands for it once it is no choice.
inline bool n8_foldedCapture(Ctx& c, const Entry& e, Entry* pUndo) {
    if (n8_entryKind(e) != kEGroupAfter || e.y == kNoFold) return false;
    *pUndo = Entry{kEUndoCapture, static_cast<Kel32s>(n8_node(c, e.x).opts), e.y, 0, 0, e.z, 0, 0};
    return true;
}

// Pops entries down to `keep` entries, undoing trailed records.
void n8_popTo(Ctx& c, Kel32s keep) {
    while (c.top > keep) {
        const Entry e = n8_loadEntry(c, --c.top);
        const Kel32s kind = n8_entryKind(e);
        Entry undo;
        if (n8_isTrail(kind)) {
            n8_undo(c, e);
        } else {
            c.topRet = n8_entryPrev(e);
            if (kind == kEBarrier) c.barrier = e.y;
            if (n8_foldedCapture(c, e, &undo)) n8_undo(c, undo);
        }
    }
    n8_refreshTop(c);
}

// A sub-program that succeeded: its choices (and its barrier at index b) go, the trail stays so that a later
// failure still restores what the sub-program changed. A copy is dropped when the record was already trailed for
// the entry that is now the newest, or when an earlier copy from the same sub-program is kept.
void n8_cut(Ctx& c, Kel32s b) {
    const Entry bar = n8_loadEntry(c, b);
    c.topRet = n8_entryPrev(bar);
    c.barrier = bar.y;
    n8_refreshTop(c);
    Kel32s out = b;
    for (Kel32s k = b + 1; k < c.top; ++k) {
        Entry e = n8_loadEntry(c, k);
        if (n8_foldedCapture(c, e, &e)) {
            // Its stamp 0 is older than any entry, so the copy is kept while a returnable entry remains.
        } else if (!n8_isTrail(n8_entryKind(e))) {
            continue;
        }
        const Kel32s kind = n8_entryKind(e);
        Kel8u* rec = kind == kEUndoCapture ? n8_regExpCaptureRecord(c.state, e.node) + kCaptureStamp
                                           : n8_regExpGroupRecord(c.state, e.node) + kLevelStamp;
        if (c.topRet >= 0) n8_store32(rec, static_cast<Kel32s>(c.topSerial));
        const bool older = e.serial < bar.serial && e.serial != c.topSerial;
        if (c.topRet >= 0 && older) n8_storeEntry(c, out++, e);
    }
    c.top = out;
}

inline void n8_restoreDepth(Ctx& c, long long d) {
    c.budget += d - c.depth;
    c.depth = d;
}

// ---- Pruning ------------------------------------------------------------------------------------------------
//
// A choice whose first node fails by itself at the current position is not pushed: trying it would charge one
// evaluation, fail and restore it, so leaving it out changes nothing, as long as that evaluation could not have
// met the depth limit (D >= 0). This makes loops over disjoint alternatives or items run without entries.

// False only when node j fails at p on its own test: a literal, an anchor, or a single item that must match once.
bool n8_viable(const Ctx& c, Kel32s j, const Kel8u* p) {
    if (j >= c.numNodes) return true;
    const RegExpNode n = n8_node(c, j);
    // Group openings and closes, the commonest answers, need no dispatch.
    if (n.kind >= kNodeGroupingLookBehind && n.kind <= kNodeGroupingClose) return true;
    if (n.kind == kNodeCharacterClass || n.kind == kNodeLetter) {
        const Kel32s qi = n.kind == kNodeCharacterClass ? j + n.b + 1 : j + 1;
        if (qi < c.numNodes) {
            const RegExpNode q = n8_node(c, qi);
            if (n8_isQuantifierNode(q.kind) && q.a == 0) return true;
        }
        return n8_matchOne(c, j, n, p) >= 0;
    }
    switch (n.kind) {
        case kNodeString:
            return n8_matchOne(c, j, n, p) >= 0;
        case kNodePosition:
            if (j + 1 < c.numNodes && n8_isQuantifierNode(n8_node(c, j + 1).kind) && n8_node(c, j + 1).a == 0) {
                return true;
            }
            return n8_positionHolds(c, n, p);
        case kNodeLetterUtf8:
            if (n.b > 1 && c.format == kRegExpFormatBytes) return true;
            [[fallthrough]];
        case kNodeLetter:
        case kNodeLetterRange:
        case kNodeCharacterClass:
        case kNodeOneByte:
        case kNodeUnicodeCategory:
        case kNodeUnicodeRange:
        case kNodeUnicodeScript:
        case kNodeCombLetter: {
            const Kel32s qi = n.kind == kNodeCharacterClass ? j + n.b + 1 : j + 1;
            if (qi < c.numNodes) {
                const RegExpNode q = n8_node(c, qi);
                if (n8_isQuantifierNode(q.kind) && q.a == 0) return true;
            }
            return n8_matchOne(c, j, n, p) >= 0;
        }
        default:
            return true;
    }
}

inline bool n8_skip(const Ctx& c, Kel32s j, const Kel8u* p) {
    return c.depth >= 0 && !n8_viable(c, j, p);
}

struct GroupInfo {
    Kel32u kind;
    Kel32s open, close, after, min, max, capture, level;
    bool lazy;
};

GroupInfo n8_groupInfo(const Ctx& c, Kel32s open) {
    const RegExpNode n = n8_node(c, open);
    GroupInfo g{n.kind, open, open + n.b + 1, open + n.b + 2, 1, 1, 0, n.a, false};
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
    return g;
}

// Whether some alternative of the group's content could get past its first node at p.
bool n8_contentViable(const Ctx& c, const GroupInfo& g, const Kel8u* p) {
    if (g.kind == kNodeGroupingCondition) return true;
    for (Kel32s from = g.open + 1;;) {
        if (n8_viable(c, from, p)) return true;
        const Kel32s alt = n8_nextAlternative(c, from, g.close);
        if (alt < 0) return false;
        from = alt + 1;
    }
}

// Starts the alternatives of a content [from, close) at p: *pI becomes the first one worth running, and the next
// one, if any, is pushed. False when none can match.
bool n8_startAlternatives(Ctx& c, Kel32s from, Kel32s close, const Kel8u* p, Kel32s* pI) {
    const bool prune = c.depth >= 0;
    while (prune && !n8_viable(c, from, p)) {
        const Kel32s alt = n8_nextAlternative(c, from, close);
        if (alt < 0) return false;
        from = alt + 1;
    }
    for (Kel32s s = from;;) {
        const Kel32s alt = n8_nextAlternative(c, s, close);
        if (alt < 0) break;
        s = alt + 1;
        if (!prune || n8_viable(c, s, p)) {
            if (!n8_push(c, kEAlternative, s, p, close)) return false;
            break;
        }
    }
    *pI = from;
    return true;
}

// Where execution goes on from: either (i, p) to run, or a failure.
struct Go {
    Kel32s i;
    const Kel8u* p;
};

bool n8_closeGroup(Ctx& c, Kel32s level, Go& go);

// The choice to leave the group's repetition at p. The entry also keeps the group's capture record as it is now,
// which makes it the record's copy for this choice: the iteration that follows sets the record without a trail
// entry, so a group repeated or skipped a thousand times in a row costs one entry each, not two.
bool n8_pushGroupAfter(Ctx& c, const GroupInfo& g, const Kel8u* p) {
    Kel32s y = kNoFold, z = 0;
    if (g.capture) {
        const RegExpCapture old = n8_getCapture(c, g.capture);
        y = old.len < 0 ? -1 : n8_off(c, old.ptr);
        z = old.len;
    }
    if (!n8_push(c, kEGroupAfter, g.after, p, g.open, y, z)) return false;
    if (g.capture)
        n8_store32(n8_regExpCaptureRecord(c.state, g.capture) + kCaptureStamp, static_cast<Kel32s>(c.topSerial));
    return true;
}

Kel32s n8_lookAfter(const Ctx& c, Kel32s open) {
    Kel32s i = open + n8_node(c, open).b + 2;
    if (i < c.numNodes && n8_isQuantifierNode(n8_node(c, i).kind)) ++i;
    return i;
}

// A condition decided at p: the yes branch, the no branch, or an empty iteration of the group.
bool n8_condResolve(Ctx& c, Kel32s open, bool truth, const Kel8u* p, Go& go) {
    const GroupInfo g = n8_groupInfo(c, open);
    const RegExpNode cond = n8_node(c, open + 1);
    const Kel32s yes = cond.kind == kNodeBackReference ? open + 2 : open + 1 + cond.b + 2;
    const Kel32s alt = n8_nextAlternative(c, yes, g.close);
    go.p = p;
    if (truth) {
        go.i = yes;
        return true;
    }
    if (alt >= 0) {
        go.i = alt + 1;
        return true;
    }
    return n8_closeGroup(c, g.level, go);
}

bool n8_lookResolve(Ctx& c, Kel32s open, Kel32s kind, bool holds, const Kel8u* p, Go& go) {
    if (kind == kBCondition) return n8_condResolve(c, open - 1, holds, p, go);
    if (!holds) return false;
    go.i = n8_lookAfter(c, open);
    go.p = p;
    return true;
}

// Starts the look-around at `open` as a sub-program at p (or decides it at once for a look-behind that would
// start before the subject).
bool n8_enterLook(Ctx& c, Kel32s open, Kel32s kind, const Kel8u* p, Go& go) {
    if (++c.steps > c.stepCap) {
        c.abort = true;
        return false;
    }
    const RegExpNode n = n8_node(c, open);
    const bool negative = n.kind == kNodeGroupingLookAheadNot || n.kind == kNodeGroupingLookBehindNot;
    const Kel8u* start = p;
    if (n8_isLookBehindNode(n.kind)) {
        const Kel32s chars = static_cast<Kel32s>(n.opts);
        if (p - c.subjectStart < chars) return n8_lookResolve(c, open, kind, negative, p, go);
        // Walk back `chars` characters; a valid sequence ending at a position is always one whole character
        // when the subject is cut into characters from its start, so stepping back agrees with counting forward.
        for (Kel32s k = 0; k < chars; ++k) {
            if (start == c.subjectStart) return n8_lookResolve(c, open, kind, negative, p, go);
            start -= n8_stepBack(start, c.subjectStart);
        }
    }
    if (!n8_push(c, kEBarrier, open, p, 0, c.barrier, kind)) return false;
    go.p = start;
    return n8_startAlternatives(c, open + 1, open + n.b + 1, start, &go.i);
}

// One iteration of the group at `open` from p: the condition, or the content's alternatives in order.
bool n8_beginIteration(Ctx& c, Kel32s open, Kel32s count, const Kel8u* p, Go& go) {
    if (++c.steps > c.stepCap) {
        c.abort = true;
        return false;
    }
    const GroupInfo g = n8_groupInfo(c, open);
    n8_setLevel(c, g.level, count, p, open);
    if (g.kind == kNodeGroupingCondition) {
        const RegExpNode cond = n8_node(c, open + 1);
        if (cond.kind == kNodeBackReference) {
            const bool truth = cond.a < c.numGroups && n8_getCapture(c, cond.a).len >= 0;
            return n8_condResolve(c, open, truth, p, go);
        }
        return n8_enterLook(c, open + 1, kBCondition, p, go);
    }
    go.p = p;
    return n8_startAlternatives(c, open + 1, g.close, p, &go.i);
}

// The end of one iteration of the group being matched at `level`, at p.
bool n8_closeGroup(Ctx& c, Kel32s level, Go& go) {
    const Kel8u* rec = n8_regExpGroupRecord(c.state, level);
    const Kel32s open = n8_load32(rec + kLevelOpen);
    const Kel32s count = n8_load32(rec + kLevelCount) + 1;
    const Kel8u* iterStart = c.subjectStart + n8_load32(rec + kLevelIterStart);
    const GroupInfo g = n8_groupInfo(c, open);
    const Kel8u* p = go.p;
    const Kel32s iterLen = static_cast<Kel32s>(p - iterStart);
    if (g.capture) n8_setCaptureT(c, g.capture, iterStart, iterLen);
    go.i = g.after;
    if (iterLen == 0 || count >= g.max) return true;
    if (count < g.min) return n8_beginIteration(c, open, count, p, go);
    const bool prune = c.depth >= 0;
    const bool content = !prune || n8_contentViable(c, g, p);
    if (!g.lazy) {
        if (!content) return true;
        if (!(prune && !n8_viable(c, g.after, p)) && !n8_pushGroupAfter(c, g, p)) return false;
        return n8_beginIteration(c, open, count, p, go);
    }
    if (content && !n8_push(c, kEGroupIteration, open, p, count)) return false;
    return true;
}

// Greedy atomic group: iteration `count` from p as a sub-program, or the rest of the program.
bool n8_atomicGreedyStep(Ctx& c, Kel32s open, Kel32s count, const Kel8u* p, Go& go) {
    if (++c.steps > c.stepCap) {
        c.abort = true;
        return false;
    }
    const GroupInfo g = n8_groupInfo(c, open);
    go.p = p;
    if (count < g.max) {
        if (!n8_push(c, kEBarrier, open, p, count, c.barrier, kBAtomic)) return false;
        return n8_startAlternatives(c, open + 1, g.close, p, &go.i);
    }
    go.i = g.after;
    return count >= g.min;
}

// Lazy atomic group with `count` iterations done at p: the rest first once the minimum is reached.
bool n8_atomicLazyStep(Ctx& c, Kel32s open, Kel32s count, const Kel8u* p, Go& go) {
    const GroupInfo g = n8_groupInfo(c, open);
    go.p = p;
    if (count >= g.min) {
        if (count < g.max && !n8_push(c, kEAtomicLazy, open, p, count)) return false;
        go.i = g.after;
        return true;
    }
    if (count >= g.max) return false;
    if (!n8_push(c, kEBarrier, open, p, count, c.barrier, kBAtomicLazy)) return false;
    return n8_startAlternatives(c, open + 1, g.close, p, &go.i);
}

// The innermost sub-program reached its close at go.p.
bool n8_subEnd(Ctx& c, Go& go) {
    const Kel32s b = c.barrier;
    const Entry bar = n8_loadEntry(c, b);
    const Kel32s open = bar.node;
    const RegExpNode n = n8_node(c, open);
    const Kel8u* p0 = c.subjectStart + bar.pos;
    const Kel8u* q = go.p;
    if (n8_isLookBehindNode(n.kind) && q != p0) return false;
    if (bar.z == kBLook || bar.z == kBCondition) {
        const bool negative = n.kind == kNodeGroupingLookAheadNot || n.kind == kNodeGroupingLookBehindNot;
        // What a negative assertion's content captured is dropped with it; a positive one keeps its captures.
        if (negative) {
            n8_popTo(c, b);
        } else {
            n8_cut(c, b);
        }
        n8_restoreDepth(c, bar.depth);
        return n8_lookResolve(c, open, bar.z, !negative, p0, go);
    }
    n8_cut(c, b);
    n8_restoreDepth(c, bar.depth);
    const GroupInfo g = n8_groupInfo(c, open);
    if (bar.z == kBAtomic) {
        if (q == p0) {
            go.i = g.after;
            go.p = q;
            return true;
        }
        if (bar.x >= g.min && !n8_skip(c, g.after, p0) && !n8_push(c, kEAtomicRest, open, p0, bar.x)) return false;
        return n8_atomicGreedyStep(c, open, bar.x + 1, q, go);
    }
    if (q == p0) {
        if (bar.x + 1 >= g.min) return false;
        go.i = g.after;
        go.p = q;
        return true;
    }
    return n8_atomicLazyStep(c, open, bar.x + 1, q, go);
}

// ---- Quantified single items -------------------------------------------------------------------------------

// The item a quantifier at qi repeats for node i: itself, or for a character written literally before a quantifier
// in a byte search, a Letter of its last byte (its leading bytes are matched once, before the repetition).
RegExpNode n8_repeatItem(const Ctx& c, const RegExpNode& n) {
    if (!(n.kind == kNodeLetterUtf8 && n.b > 1 && c.format == kRegExpFormatBytes)) return n;
    const Kel32u code = static_cast<Kel32u>(n.a);
    return RegExpNode{kNodeLetter, static_cast<Kel32s>(0x80 | (code & 0x3F)), 0, n.opts, nullptr};
}

inline Kel32s n8_quantIndex(const RegExpNode& n, Kel32s i) {
    return n.kind == kNodeCharacterClass ? i + n.b + 1 : i + 1;
}

// A literal byte that the rest after a quantifier must start with, or -1; lets the loops skip hopeless attempts.
// A case-sensitive back-reference to a non-empty capture starts with the capture's first byte; a try it fails
// at once is passed over only while that evaluation could not meet the depth limit (D >= 0), where trying it
// would charge one evaluation, fail and restore it.
Kel32s n8_nextByte(const Ctx& c, Kel32s next) {
    if (next >= c.numNodes) return -1;
    const RegExpNode nn = n8_node(c, next);
    if (next + 1 < c.numNodes && n8_isQuantifierNode(n8_node(c, next + 1).kind)) return -1;
    if ((nn.kind == kNodeLetter || nn.kind == kNodeString) && !n8_caseless(nn.opts)) {
        return nn.kind == kNodeLetter ? nn.a : nn.ptr[0];
    }
    if (nn.kind == kNodeBackReference && !n8_caseless(nn.opts) && c.depth >= 0 && nn.a < c.numGroups) {
        const RegExpCapture g = n8_getCapture(c, nn.a);
        if (g.ptr && g.len > 0) return g.ptr[0];
    }
    return -1;
}

// Bytes of the first repetition: for stepping back a fixed amount; 0 = step back one character; -2 = an empty
// capture, which repeats to nothing.
Kel32s n8_fixedStep(const Ctx& c, const RegExpNode& item) {
    if (item.kind == kNodeLetter || item.kind == kNodeOneByte) return 1;
    if (item.kind == kNodeBackReference) {
        const RegExpCapture g = item.a < c.numGroups ? n8_getCapture(c, item.a) : RegExpCapture{nullptr, -1, 0};
        return g.len > 0 ? g.len : -2;
    }
    return 0;
}

bool n8_itemBytes(const Ctx& c, Kel32s j, const RegExpNode& n, bool* set);

constexpr int kRestDepth = 8;  // how many optional items and group boundaries n8_restBytes looks through

// Skipping a start position, or a try of the rest, on what its first bytes show is exact only while the attempt
// there could not have met the depth limit before failing: it passes at most 2 * kRestDepth nodes that consume
// nothing and two items.
constexpr Kel32s kSkipDepth = 4 * kRestDepth;

bool n8_restBytes(const Ctx& c, Kel32s j, bool* set, int guard);

// Adds the first bytes of everything that can follow the end of an iteration of the group at `open`: another
// iteration (when the group repeats) or what comes after the group.
bool n8_groupFollow(const Ctx& c, Kel32s open, bool* set, int guard, bool entering) {
    const GroupInfo g = n8_groupInfo(c, open);
    if (g.kind != kNodeGrouping && g.kind != kNodeGroupingNoCapture && g.kind != kNodeGroupingOptions) return false;
    if (g.max == 0) return n8_restBytes(c, g.after, set, guard - 1);
    if (entering || g.max > 1) {
        for (Kel32s from = g.open + 1;;) {
            if (!n8_restBytes(c, from, set, guard - 1)) return false;
            const Kel32s alt = n8_nextAlternative(c, from, g.close);
            if (alt < 0) break;
            from = alt + 1;
        }
    }
    if (entering && g.min > 0) return true;
    return n8_restBytes(c, g.after, set, guard - 1);
}

// Adds to `set` every byte that the rest of the program from node j can start with at a position before the end
// of the subject; false when that is not known (the rest could match empty there, or test something else).
bool n8_restBytes(const Ctx& c, Kel32s j, bool* set, int guard) {
    if (guard <= 0 || j >= c.numNodes) return false;
    const RegExpNode n = n8_node(c, j);
    switch (n.kind) {
        case kNodeLetter:
        case kNodeString:
        case kNodeLetterRange:
        case kNodeCharacterClass:
        case kNodeLetterUtf8:
        case kNodeUnicodeCategory:
        case kNodeUnicodeRange:
        case kNodeUnicodeScript: {
            bool own[256];
            if (!n8_itemBytes(c, j, n, own)) return false;
            for (int b = 0; b < 256; ++b) set[b] = set[b] || own[b];
            const Kel32s qi = n8_quantIndex(n, j);
            if (qi < c.numNodes && n8_isQuantifierNode(n8_node(c, qi).kind) && n8_node(c, qi).a == 0) {
                return n8_restBytes(c, qi + 1, set, guard - 1);
            }
            return true;
        }
        case kNodePosition:
            // Before the end, `$` and `\Z` hold only at a newline and `\z` never; the other anchors consume
            // nothing and only narrow what follows them.
            if (j + 1 < c.numNodes && n8_isQuantifierNode(n8_node(c, j + 1).kind)) return false;
            if (n.a == '$' || n.a == 'Z') {
                set[static_cast<Kel8u>('\n')] = true;
                return true;
            }
            if (n.a == 'z') return true;
            return n8_restBytes(c, j + 1, set, guard - 1);
        case kNodeOptionSet:
            return n8_restBytes(c, j + 1, set, guard - 1);
        case kNodeGrouping:
        case kNodeGroupingNoCapture:
        case kNodeGroupingOptions:
            return n8_groupFollow(c, j, set, guard, true);
        case kNodeAlternation:
        case kNodeGroupingClose: {
            if (n.a <= 0) return false;
            Kel32s close = j;
            while (close < c.numNodes &&
                   !(n8_node(c, close).kind == kNodeGroupingClose && n8_node(c, close).a == n.a)) {
                ++close;
            }
            for (Kel32s open = close - 1; open >= 0; --open) {
                const RegExpNode o = n8_node(c, open);
                if (n8_isGroupOpenNode(o.kind) && open + o.b + 1 == close) {
                    return n8_groupFollow(c, open, set, guard, false);
                }
            }
            return false;
        }
        default:
            return false;
    }
}

inline bool n8_disjoint(const bool* a, const bool* b) {
    for (int k = 0; k < 256; ++k) {
        if (a[k] && b[k]) return false;
    }
    return true;
}

// A greedy unbounded loop X (byte set `mine`, its rest from `next`) that opens the only alternative of a greedy,
// non-capturing, unbounded group G, as \w+ in (?:\w+\s?)*. A give-back leaves X at a position q inside its run,
// which holds a byte of X. When every item after X in G is a single item that cannot take that byte, the path
// from q either fails at the first mandatory one, or passes the optional ones empty and closes the iteration at
// q. Leaving G there fails too when what follows G cannot start with an X byte; another iteration runs X from q,
// which stops at the same run end p (X repeats without bound and stops where its run stops), and then faces the
// same rest at p as the path that gave nothing back: the same node, position and captures (G and its content
// capture nothing), one more iteration (which G's bounds ignore once its minimum of at most 1 is met) and a
// non-empty current iteration in both. So whatever it finds, the path without the give-back finds first or
// fails on too, and X needs no give-back entries: with them a long run of such iterations fills the stack.
bool n8_reentryPossessive(const Ctx& c, Kel32s i, const bool* mine, Kel32s next) {
    if (i < 1) return false;
    const RegExpNode open = n8_node(c, i - 1);
    if (open.kind != kNodeGroupingNoCapture && open.kind != kNodeGroupingOptions) return false;
    const GroupInfo g = n8_groupInfo(c, i - 1);
    if (g.lazy || g.min > 1 || g.max != kQuantifierInfinity) return false;
    if (n8_nextAlternative(c, i, g.close) >= 0) return false;
    const RegExpNode q = n8_node(c, next - 1);
    if (q.kind != kNodeQuantifierMax || q.a < 1 || q.b != kQuantifierInfinity) return false;
    for (Kel32s j = next; j < g.close;) {
        const RegExpNode n = n8_node(c, j);
        bool own[256];
        if (n.kind == kNodeLetterUtf8 || !n8_itemBytes(c, j, n, own) || !n8_disjoint(mine, own)) return false;
        const Kel32s qj = n8_quantIndex(n, j);
        const bool quantified = qj < g.close && n8_isQuantifierNode(n8_node(c, qj).kind);
        if (!quantified || n8_node(c, qj).a > 0) return true;
        j = qj + 1;
    }
    bool after[256];
    for (int b = 0; b < 256; ++b) after[b] = false;
    return n8_restBytes(c, g.after, after, kRestDepth) && n8_disjoint(mine, after);
}

// Whether no position a greedy loop gives back can start the rest: every such position holds a byte the item
// matched, and the rest's first node cannot accept that byte. Then the loop needs no entry at all.
bool n8_possessive(Ctx& c, Kel32s i, const RegExpNode& item, Kel32s next) {
    if (i < kIndexedNodes && c.possIndexed[i]) return c.possIndexed[i] == 2;
    for (Kel32s k = 0; k < c.numPoss; ++k) {
        if (c.possNode[k] == i) return c.possValue[k];
    }
    bool value = false;
    bool mine[256], theirs[256];
    for (int b = 0; b < 256; ++b) theirs[b] = false;
    if (n8_itemBytes(c, i, item, mine)) {
        if (n8_restBytes(c, next, theirs, kRestDepth)) {
            value = true;
            for (int b = 0; b < 256 && value; ++b) value = !(mine[b] && theirs[b]);
        }
        if (!value) value = n8_reentryPossessive(c, i, mine, next);
    }
    if (i < kIndexedNodes) {
        c.possIndexed[i] = value ? 2 : 1;
        return value;
    }
    const Kel32s slot = c.numPoss < kPossSlots ? c.numPoss++ : (i & (kPossSlots - 1));
    c.possNode[slot] = i;
    c.possValue[slot] = value;
    return value;
}

// n8_viable that also looks through the end of the current iteration of a group (two evaluations: the close and
// the first node after it), for the tries of single-item loops inside groups.
bool n8_viableThrough(const Ctx& c, Kel32s j, const Kel8u* p) {
    if (j >= c.numNodes || c.depth < 1) return n8_viable(c, j, p);
    const RegExpNode n = n8_node(c, j);
    if (!((n.kind == kNodeGroupingClose || n.kind == kNodeAlternation) && n.a > 0)) return n8_viable(c, j, p);
    const Kel8u* rec = n8_regExpGroupRecord(c.state, n.a);
    const GroupInfo g = n8_groupInfo(c, n8_load32(rec + kLevelOpen));
    const Kel32s count = n8_load32(rec + kLevelCount) + 1;
    if (p == c.subjectStart + n8_load32(rec + kLevelIterStart) || count >= g.max) return n8_viable(c, g.after, p);
    if (count < g.min) return n8_contentViable(c, g, p);
    return n8_contentViable(c, g, p) || n8_viable(c, g.after, p);
}

// The bytes the rest from node `next` can start with before the end (through groups, closes and anchors), or null
// when that is not known; a loop tries the rest only where the byte at the position is one of them.
const bool* n8_nextSet(Ctx& c, Kel32s next) {
    for (Kel32s k = 0; k < c.numNext; ++k) {
        if (c.nextNode[k] == next) return c.nextKnown[k] ? c.nextSet[k] : nullptr;
    }
    const Kel32s slot = c.numNext < kNextSlots ? c.numNext++ : (next & (kNextSlots - 1));
    bool* set = c.nextSet[slot];
    for (int b = 0; b < 256; ++b) set[b] = false;
    c.nextNode[slot] = next;
    c.nextKnown[slot] = n8_restBytes(c, next, set, kRestDepth);
    return c.nextKnown[slot] ? set : nullptr;
}

// A try of the rest at pos that cannot fail at once.
inline bool n8_tryWorthIt(const Ctx& c, bool prune, Kel32s nextByte, const bool* nextSet, Kel32s next,
                          const Kel8u* pos) {
    if (nextSet && pos < c.end && !nextSet[*pos]) return false;
    return (nextByte < 0 || (pos < c.end && *pos == nextByte)) && !(prune && !n8_viableThrough(c, next, pos));
}

// Gives back one of `count` repetitions of a greedy single item.
inline const Kel8u* n8_giveBack(const Ctx& c, Kel32s i, const RegExpNode& item, Kel32s fixed, const Kel8u* pos,
                                Kel32s count, Kel32s minCount, const Kel8u* floor) {
    if (fixed > 0) return pos - fixed;
    if (item.kind == kNodeCombLetter) {
        pos = floor;
        for (Kel32s n = minCount; n < count - 1; ++n) pos += n8_matchOne(c, i, item, pos);
        return pos;
    }
    return pos - n8_stepBack(pos, floor);
}

constexpr Kel32s kShortGiveBack = 4;  // a loop this close to its minimum checks its lower tries before pushing

bool n8_greedyTry(Ctx& c, Kel32s i, const RegExpNode& item, Kel32s next, const Kel8u* pos, Kel32s count,
                  Kel32s minCount, const Kel8u* floor, Go& go) {
    const bool prune = c.depth >= 0;
    const Kel32s nextByte = n8_nextByte(c, next);
    const bool* nextSet = c.depth >= kSkipDepth ? n8_nextSet(c, next) : nullptr;
    const bool possessive = prune && n8_possessive(c, i, item, next);
    const Kel32s fixed = n8_fixedStep(c, item);
    for (;;) {
        if (n8_tryWorthIt(c, prune, nextByte, nextSet, next, pos)) {
            bool lower = count > minCount && !possessive;
            if (lower && prune && count - minCount <= kShortGiveBack) {
                lower = false;
                const Kel8u* q = pos;
                for (Kel32s k = count; k > minCount && !lower;) {
                    q = n8_giveBack(c, i, item, fixed, q, k, minCount, floor);
                    --k;
                    lower = n8_tryWorthIt(c, prune, nextByte, nextSet, next, q);
                }
            }
            if (lower && !n8_push(c, kERepeat, i, pos, count, minCount, n8_off(c, floor))) return false;
            go.i = next;
            go.p = pos;
            return true;
        }
        if (count <= minCount || possessive) return false;
        // Each give-back is a try of the rest, even when it is passed over without an evaluation.
        if (++c.steps > c.stepCap) {
            c.abort = true;
            return false;
        }
        pos = n8_giveBack(c, i, item, fixed, pos, count, minCount, floor);
        --count;
    }
}

bool n8_lazyTry(Ctx& c, Kel32s i, const RegExpNode& item, Kel32s max, Kel32s next, const Kel8u* pos, Kel32s count,
                Go& go) {
    const bool prune = c.depth >= 0;
    const Kel32s nextByte = n8_nextByte(c, next);
    const bool* nextSet = c.depth >= kSkipDepth ? n8_nextSet(c, next) : nullptr;
    const bool* table = item.kind == kNodeLetterRange      ? n8_rangeTableOf(item.a, item.opts)
                        : item.kind == kNodeCharacterClass ? n8_classMapOf(c, i)
                                                           : nullptr;
    for (;;) {
        // Over ASCII bytes the item takes and the rest cannot start with, the loop below would only take one more
        // repetition per byte: do that in one pass.
        if (table && nextByte >= 0) {
            const Kel8u* from = pos;
            while (count < max && pos < c.end && *pos != nextByte && *pos < 0x80 && table[*pos]) {
                ++pos;
                ++count;
            }
            c.steps += pos - from;
        }
        if (n8_tryWorthIt(c, prune, nextByte, nextSet, next, pos)) {
            // Taking one more repetition is worth an entry only if one more can match.
            const bool more =
                count < max && (item.kind == kNodeBackReference || pos < c.end) && n8_matchOne(c, i, item, pos) > 0;
            if (more && !n8_push(c, kELazy, i, pos, count)) return false;
            go.i = next;
            go.p = pos;
            return true;
        }
        if (count >= max) return false;
        if (++c.steps > c.stepCap) {
            c.abort = true;
            return false;
        }
        const Kel32s l = n8_matchOne(c, i, item, pos);
        if (l <= 0) return false;
        pos += l;
        ++count;
    }
}

// The nibble form of a repeated item's table, or null when the search already keeps kRunTables of them (the scan
// then goes a byte at a time).
const RegExpRunTable* n8_runTableOf(Ctx& c, const bool* table) {
    for (Kel32s k = 0; k < c.numRunTables; ++k) {
        if (c.runKey[k] == table) return &c.runTable[k];
    }
    if (c.numRunTables == kRunTables) return nullptr;
    c.runKey[c.numRunTables] = table;
    n8_regExpRunTableInit(&c.runTable[c.numRunTables], table);
    return &c.runTable[c.numRunTables++];
}

// Repetitions of a table item taken from *pPos: at most `room`, stopping at `end` or at the first character whose
// lead byte the table rejects; *pPos moves past them. ASCII bytes are one repetition each and are taken by the
// run scan; a non-ASCII lead byte the table accepts takes its whole character.
inline Kel32s n8_tableRun(const bool* table, const RegExpRunTable* run, const Kel8u** pPos, const Kel8u* end,
                          Kel32s room) {
    const Kel8u* pos = *pPos;
    Kel32s taken = 0;
    for (;;) {
        const Kel8u* lim = end - pos > room - taken ? pos + (room - taken) : end;
        const Kel8u* q = run ? n8_regExpAsciiRun(*run, table, pos, lim) : n8_regExpAsciiRun_ref(table, pos, lim);
        taken += static_cast<Kel32s>(q - pos);
        pos = q;
        if (pos == lim || !table[*pos]) break;
        pos += n8_charSize(pos, static_cast<Kel32s>(end - pos));
        ++taken;
    }
    *pPos = pos;
    return taken;
}

// A quantified single item at node i (its quantifier at qi) from p.
bool n8_repeatEnter(Ctx& c, Kel32s i, const RegExpNode& n, Kel32s qi, const Kel8u* p, Go& go) {
    if (++c.steps > c.stepCap) {
        c.abort = true;
        return false;
    }
    const RegExpNode quant = n8_node(c, qi);
    const RegExpNode item = n8_repeatItem(c, n);
    if (item.kind != n.kind) {
        // Leading bytes of a literal multi-byte character in a byte search: re-encoded from the code point, which
        // came from a valid shortest-form sequence of exactly n.b bytes.
        const Kel32s len = n.b;
        const Kel32u code = static_cast<Kel32u>(n.a);
        Kel8u bytes[6];
        bytes[0] = static_cast<Kel8u>(UTF8_table2[len - 1] | (code >> (6 * (len - 1))));
        for (Kel32s j = 1; j < len; ++j) bytes[j] = static_cast<Kel8u>(0x80 | ((code >> (6 * (len - 1 - j))) & 0x3F));
        if (c.end - p < len - 1) return false;
        for (Kel32s j = 0; j < len - 1; ++j) {
            if (p[j] != bytes[j]) return false;
        }
        p += len - 1;
    }
    const Kel32s min = quant.a, max = quant.b;
    const Kel32s next = qi + 1;
    if (p == c.end && min > 0 && item.kind != kNodeBackReference) return false;
    const Kel8u* pos = p;
    Kel32s count = 0;
    // Items that test the first byte of a character answer from a table: the loops below take a byte per step
    // and decode only non-ASCII characters.
    const bool* table = item.kind == kNodeLetterRange      ? n8_rangeTableOf(item.a, item.opts)
                        : item.kind == kNodeCharacterClass ? n8_classMapOf(c, i)
                                                           : nullptr;
    const RegExpRunTable* run = table && max - min > 1 ? n8_runTableOf(c, table) : nullptr;
    if (table) {
        count = n8_tableRun(table, run, &pos, c.end, min);
        if (count < min) return false;
    }
    while (count < min) {
        const Kel32s l = n8_matchOne(c, i, item, pos);
        if (l < 0) return false;
        if (l == 0) {
            count = min;
            break;
        }
        pos += l;
        ++count;
    }
    if (quant.kind == kNodeQuantifierMin) return n8_lazyTry(c, i, item, max, next, pos, count, go);
    if (n8_fixedStep(c, item) == -2) {
        go.i = next;
        go.p = pos;
        return true;
    }
    const Kel8u* floor = pos;
    const Kel32s minCount = count;
    // A run this item already measured from an earlier position is not scanned again: from any position inside it
    // the scan would visit the same positions and stop at the same end.
    const bool byteItem = item.kind == kNodeLetter || item.kind == kNodeOneByte || item.kind == kNodeLetterRange ||
                          item.kind == kNodeCharacterClass;
    for (Kel32s k = 0; byteItem && k < c.numRuns; ++k) {
        const RunMemo& m = c.runs[k];
        if (m.node != i || pos < c.subjectStart + m.start || pos > c.subjectStart + m.end) continue;
        const Kel8u* runEnd = c.subjectStart + m.end;
        if (runEnd - pos <= static_cast<long>(max - count)) {
            count += static_cast<Kel32s>(runEnd - pos);
            return n8_greedyTry(c, i, item, next, runEnd, count, minCount, floor, go);
        }
    }
    if (item.kind == kNodeLetter && !n8_caseless(item.opts)) {
        while (count < max && pos < c.end && *pos == item.a) {
            ++pos;
            ++count;
        }
    } else if (table) {
        count += n8_tableRun(table, run, &pos, c.end, max - count);
    } else {
        while (count < max && pos < c.end) {
            const Kel32s l = n8_matchOne(c, i, item, pos);
            if (l <= 0) break;
            pos += l;
            ++count;
        }
    }
    // Remember a run that ended because the item stopped matching (not at the maximum) and took one byte per
    // repetition, so that positions inside it map to counts directly.
    if (byteItem && count < max && pos - floor == count - minCount) {
        RunMemo& m = c.runs[c.numRuns < kRunSlots ? c.numRuns++ : (i & (kRunSlots - 1))];
        m = RunMemo{i, n8_off(c, floor), n8_off(c, pos)};
    }
    return n8_greedyTry(c, i, item, next, pos, count, minCount, floor, go);
}

// Resumes a returnable entry after a failure below it; false when it has nothing left to try.
bool n8_resume(Ctx& c, const Entry& e, Go& go) {
    const Kel8u* p = c.subjectStart + e.pos;
    go.p = p;
    switch (n8_entryKind(e)) {
        case kEAlternative:
            return n8_startAlternatives(c, e.node, e.x, p, &go.i);
        case kEGroupAfter:
            go.i = e.node;
            return true;
        case kEGroupIteration:
            return n8_beginIteration(c, e.node, e.x, p, go);
        case kERepeat: {
            const RegExpNode n = n8_node(c, e.node);
            const RegExpNode item = n8_repeatItem(c, n);
            const Kel8u* floor = c.subjectStart + e.z;
            Kel32s count = e.x;
            if (count <= e.y) return false;
            --count;
            const Kel8u* pos = n8_giveBack(c, e.node, item, n8_fixedStep(c, item), p, count + 1, e.y, floor);
            return n8_greedyTry(c, e.node, item, n8_quantIndex(n, e.node) + 1, pos, count, e.y, floor, go);
        }
        case kELazy: {
            const RegExpNode n = n8_node(c, e.node);
            const RegExpNode item = n8_repeatItem(c, n);
            const Kel32s qi = n8_quantIndex(n, e.node);
            const Kel32s max = n8_node(c, qi).b;
            if (e.x >= max) return false;
            const Kel32s l = n8_matchOne(c, e.node, item, p);
            if (l <= 0) return false;
            return n8_lazyTry(c, e.node, item, max, qi + 1, p + l, e.x + 1, go);
        }
        case kEBarrier: {
            // The sub-program failed.
            if (e.z == kBLook || e.z == kBCondition) {
                const RegExpNode n = n8_node(c, e.node);
                const bool negative = n.kind == kNodeGroupingLookAheadNot || n.kind == kNodeGroupingLookBehindNot;
                return n8_lookResolve(c, e.node, e.z, negative, p, go);
            }
            if (e.z == kBAtomic) {
                const GroupInfo g = n8_groupInfo(c, e.node);
                go.i = g.after;
                return e.x >= g.min;
            }
            return false;
        }
        case kEAtomicRest:
            go.i = n8_groupInfo(c, e.node).after;
            return true;
        case kEAtomicLazy: {
            if (e.x >= n8_groupInfo(c, e.node).max) return false;
            if (!n8_push(c, kEBarrier, e.node, p, e.x, c.barrier, kBAtomicLazy)) return false;
            const RegExpNode n = n8_node(c, e.node);
            return n8_startAlternatives(c, e.node + 1, e.node + n.b + 1, p, &go.i);
        }
        default:
            return false;
    }
}

// One attempt at p: the program from node 0 (its top-level alternatives in order). kMatch leaves capture record 0
// holding the match.
Result n8_attempt(Ctx& c, const Kel8u* start) {
    c.top = 0;
    c.topRet = -1;
    c.topSerial = 0;
    c.needLevel = 0;
    c.barrier = -1;
    enum Mode { kRun, kFailing, kLimiting } mode = kRun;
    Go go{0, start};
    if (c.topAlternation) {
        if (!n8_startAlternatives(c, 0, c.numNodes, start, &go.i)) mode = kFailing;
    }
    for (;;) {
        if (c.abort) return kLimit;
        if (mode != kRun) {
            if (c.topRet < 0) {
                n8_popTo(c, 0);
                return mode == kFailing ? kFail : kLimit;
            }
            const Kel32s idx = c.topRet;
            const Entry e = n8_loadEntry(c, idx);
            n8_popTo(c, idx);
            n8_restoreDepth(c, e.depth);
            if (++c.steps > c.stepCap) {
                c.abort = true;
                continue;
            }
            // A limit signal passes every choice but those of single-item loops, which take it as a failure of
            // that one attempt and go on.
            const Kel32s kind = n8_entryKind(e);
            if (mode == kLimiting && kind != kERepeat && kind != kELazy) continue;
            mode = n8_resume(c, e, go) ? kRun : kFailing;
            continue;
        }
        const Kel32s i = go.i;
        const Kel8u* p = go.p;
        if (i >= c.numNodes) {
            if (c.nonEmpty && p == c.matchStart) {
                mode = kFailing;
                continue;
            }
            n8_setCapture(c, 0, c.matchStart, static_cast<Kel32s>(p - c.matchStart));
            c.top = 0;
            return kMatch;
        }
        // Every evaluation is charged to D and B for as long as the path through it lives (entries remember D).
        if (c.depth < 0) {
            --c.budget;
            mode = kLimiting;
            // What the budget holds beyond this path's evaluations only ever drops. Once it is negative, every
            // later evaluation fails (they need B >= 1 with this path's charges still on it), in this attempt and
            // in all later ones: no match can come any more, and the search ends with the limit status as it would
            // after trying them all.
            if (c.budget + (c.attemptDepth - c.depth) < 0) c.abort = true;
            continue;
        }
        if (c.budget - 1 < 0) {
            mode = kFailing;
            continue;
        }
        --c.budget;
        --c.depth;
        const RegExpNode n = n8_node(c, i);
        bool ok = true;
        switch (n.kind) {
            case kNodeAlternation:
            case kNodeGroupingClose:
                if (n.kind == kNodeAlternation && n.a == 0) {
                    go.i = c.numNodes;
                } else if (n.a > 0) {
                    ok = n8_closeGroup(c, n.a, go);
                } else {
                    ok = n8_subEnd(c, go);
                }
                break;
            case kNodeOptionSet:
            case kNodeQuantifierMin:
            case kNodeQuantifierMax:
                go.i = i + 1;  // a quantifier is only reached after an item already handled
                break;
            case kNodePosition: {
                const bool optional =
                    i + 1 < c.numNodes && n8_isQuantifierNode(n8_node(c, i + 1).kind) && n8_node(c, i + 1).a == 0;
                if (!optional && !n8_positionHolds(c, n, p)) {
                    ok = false;
                    break;
                }
                go.i = i + 1;
                if (go.i < c.numNodes && n8_isQuantifierNode(n8_node(c, go.i).kind)) ++go.i;
                break;
            }
            case kNodeString: {
                const Kel32s l = n8_matchOne(c, i, n, p);
                ok = l >= 0;
                go.i = i + 1;
                go.p = p + l;
                break;
            }
            case kNodeGroupingLookAhead:
            case kNodeGroupingLookAheadNot:
            case kNodeGroupingLookBehind:
            case kNodeGroupingLookBehindNot:
                ok = n8_enterLook(c, i, kBLook, p, go);
                break;
            case kNodeGroupingOnce: {
                if (++c.steps > c.stepCap) {
                    c.abort = true;
                    break;
                }
                const GroupInfo g = n8_groupInfo(c, i);
                ok = g.lazy ? n8_atomicLazyStep(c, i, 0, p, go) : n8_atomicGreedyStep(c, i, 0, p, go);
                break;
            }
            case kNodeGrouping:
            case kNodeGroupingNoCapture:
            case kNodeGroupingOptions:
            case kNodeGroupingCondition: {
                if (++c.steps > c.stepCap) {
                    c.abort = true;
                    break;
                }
                const GroupInfo g = n8_groupInfo(c, i);
                n8_setLevel(c, g.level, 0, p, i);
                go.i = g.after;
                if (g.max == 0) break;
                // A plain group around one unquantified single-character item needs no iteration.
                if (g.min == 1 && g.max == 1 && n.b == 1 && n.kind != kNodeGroupingCondition) {
                    const RegExpNode item = n8_node(c, i + 1);
                    if (item.kind == kNodeLetter || item.kind == kNodeLetterRange || item.kind == kNodeOneByte ||
                        item.kind == kNodeLetterUtf8 || item.kind == kNodeUnicodeCategory ||
                        item.kind == kNodeUnicodeRange || item.kind == kNodeUnicodeScript) {
                        const Kel32s l = n8_matchOne(c, i + 1, item, p);
                        if (l < 0) {
                            ok = false;
                            break;
                        }
                        if (g.capture) n8_setCaptureT(c, g.capture, p, l);
                        go.p = p + l;
                        break;
                    }
                }
                const bool prune = c.depth >= 0;
                if (g.min == 0 && g.lazy) {
                    if ((!prune || n8_contentViable(c, g, p)) && !n8_push(c, kEGroupIteration, i, p, 0)) ok = false;
                    break;
                }
                if (g.min == 0) {
                    if (prune && !n8_contentViable(c, g, p)) break;
                    if (!(prune && !n8_viable(c, g.after, p)) && !n8_pushGroupAfter(c, g, p)) {
                        ok = false;
                        break;
                    }
                }
                ok = n8_beginIteration(c, i, 0, p, go);
                break;
            }
            default: {
                // Single items: the quantifier follows the item (a class: after its members).
                const Kel32s qi = n8_quantIndex(n, i);
                if (qi < c.numNodes && n8_isQuantifierNode(n8_node(c, qi).kind)) {
                    ok = n8_repeatEnter(c, i, n, qi, p, go);
                    break;
                }
                const Kel32s l = n8_matchOne(c, i, n, p);
                ok = l >= 0;
                go.i = qi;
                go.p = p + l;
                break;
            }
        }
        if (!ok) mode = kFailing;
    }
}

// ---- The straight path --------------------------------------------------------------------------------------
//
// Most matches of a pattern made of items in sequence, such as a URL's scheme, host, path and optional query,
// take the interpreter's first path: every greedy item takes all it can, every optional group is entered where its
// content can start, and nothing is given back. That path is the one the interpreter tries first, so when it leads
// to the end, its match is the interpreter's; and with more depth and budget in hand than the program has nodes,
// no evaluation on it could meet the limit. The straight path walks it without entries, trails or records, and
// on the first item that fails it gives up, leaving the position to the interpreter (it changes nothing the
// interpreter reads).

// Whether the program is a straight sequence: single items (greedy or not quantified), anchors, option changes,
// and non-capturing groups without alternatives around such items, unquantified or with a greedy ?.
bool n8_straightProgram(const Ctx& c) {
    if (c.numGroups != 1 || c.topAlternation || c.numNodes == 0) return false;
    for (Kel32s j = 0; j < c.numNodes;) {
        const RegExpNode n = n8_node(c, j);
        if (n.kind == kNodeGroupingNoCapture) {
            const GroupInfo g = n8_groupInfo(c, j);
            if (g.lazy || g.min > 1 || g.max != 1 || n8_nextAlternative(c, j + 1, g.close) >= 0) return false;
            for (Kel32s k = j + 1; k < g.close; ++k) {
                if (n8_isGroupOpenNode(n8_node(c, k).kind)) return false;
            }
            ++j;
            continue;
        }
        if (n.kind == kNodeGroupingClose) {
            ++j;  // its group was checked at the open node; the quantifier, if any, comes next
            continue;
        }
        if (n.kind == kNodeOptionSet || n8_isQuantifierNode(n.kind)) {
            ++j;  // only a group's quantifier is met here: an item's is passed with its item
            continue;
        }
        const Kel32s qi = n8_quantIndex(n, j);
        const bool quantified = qi < c.numNodes && n8_isQuantifierNode(n8_node(c, qi).kind);
        if (n.kind == kNodePosition) {
            if (quantified) return false;
            ++j;
            continue;
        }
        const bool item = n.kind == kNodeLetter || n.kind == kNodeLetterRange || n.kind == kNodeCharacterClass ||
                          n.kind == kNodeOneByte || n.kind == kNodeUnicodeCategory || n.kind == kNodeUnicodeRange ||
                          n.kind == kNodeUnicodeScript || (n.kind == kNodeString && !quantified) ||
                          (n.kind == kNodeLetterUtf8 && !(quantified && n.b > 1 && c.format == kRegExpFormatBytes));
        if (!item) return false;
        if (quantified && n8_node(c, qi).kind != kNodeQuantifierMax) return false;
        j = quantified ? qi + 1 : qi;
    }
    return true;
}

// The straight path from p: true with *pEnd at the end of the match it leads to, false when it fails somewhere
// (the position is then the interpreter's).
bool n8_straightAttempt(Ctx& c, const Kel8u* p, const Kel8u** pEnd) {
    for (Kel32s i = 0; i < c.numNodes;) {
        const RegExpNode n = n8_node(c, i);
        ++c.steps;
        if (n.kind == kNodeGroupingNoCapture) {
            const GroupInfo g = n8_groupInfo(c, i);
            if (g.min == 0 && !n8_viable(c, i + 1, p)) {
                i = g.after;
                continue;
            }
            ++i;
            continue;
        }
        if (n.kind == kNodeGroupingClose || n.kind == kNodeOptionSet || n8_isQuantifierNode(n.kind)) {
            ++i;  // a group's quantifier was settled at its open node
            continue;
        }
        if (n.kind == kNodePosition) {
            if (!n8_positionHolds(c, n, p)) return false;
            ++i;
            continue;
        }
        const Kel32s qi = n8_quantIndex(n, i);
        if (qi >= c.numNodes || !n8_isQuantifierNode(n8_node(c, qi).kind)) {
            if (p >= c.end) return false;
            const Kel32s l = n8_matchOne(c, i, n, p);
            if (l < 0) return false;
            p += l;
            i = qi;
            continue;
        }
        const RegExpNode quant = n8_node(c, qi);
        const Kel32s min = quant.a, max = quant.b;
        const bool* table = n.kind == kNodeLetterRange      ? n8_rangeTableOf(n.a, n.opts)
                            : n.kind == kNodeCharacterClass ? n8_classMapOf(c, i)
                                                            : nullptr;
        Kel32s count = 0;
        if (table) {
            count = n8_tableRun(table, max - min > 1 ? n8_runTableOf(c, table) : nullptr, &p, c.end, max);
        } else if (n.kind == kNodeLetter && !n8_caseless(n.opts)) {
            while (count < max && p < c.end && *p == n.a) {
                ++p;
                ++count;
            }
        } else {
            while (count < max && p < c.end) {
                const Kel32s l = n8_matchOne(c, i, n, p);
                if (l <= 0) break;
                p += l;
                ++count;
            }
        }
        if (count < min) return false;
        i = qi + 1;
    }
    if (c.nonEmpty && p == c.matchStart) return false;
    *pEnd = p;
    return true;
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

// First bytes of the characters the single item at node j can match; false when that is not a byte test.
bool n8_itemBytes(const Ctx& c, Kel32s j, const RegExpNode& n, bool* set) {
    for (int b = 0; b < 256; ++b) set[b] = false;
    switch (n.kind) {
        case kNodeLetter:
            n8_addByte(set, n.a, n8_caseless(n.opts));
            return true;
        case kNodeString:
            n8_addByte(set, n.ptr[0], n8_caseless(n.opts));
            return true;
        case kNodeLetterRange:
            for (int b = 0; b < 256; ++b) set[b] = n8_rangeByteTest(n.a, static_cast<Kel8u>(b), n.opts);
            return true;
        case kNodeCharacterClass: {
            if (const bool* map = n8_classMapOf(c, j)) {
                for (int b = 0; b < 256; ++b) set[b] = map[b];
                return true;
            }
            // A class beyond the mapped ones: the same table, built here, when every member tests a byte.
            for (Kel32s k = 1; k <= n.b; ++k) {
                const RegExpNode m = n8_node(c, j + k);
                if (!(m.kind == kNodeLetter || m.kind == kNodeLetterRange ||
                      (m.kind == kNodeClassRange && m.a < 256 && m.b < 256))) {
                    return false;
                }
            }
            for (int b = 0; b < 256; ++b) {
                const Kel8u one = static_cast<Kel8u>(b);
                bool hit = false;
                for (Kel32s k = 1; k <= n.b && !hit; ++k) hit = n8_classMember(c, n8_node(c, j + k), n.opts, &one, 1);
                set[b] = hit != (n.a == -1);
            }
            return true;
        }
        case kNodeLetterUtf8:
        case kNodeUnicodeCategory:
        case kNodeUnicodeRange:
        case kNodeUnicodeScript:
            // An ASCII byte is its own code point; any other byte may start a character that passes (or is taken
            // as a code point by itself when the sequence is invalid).
            for (int b = 0; b < 256; ++b) {
                set[b] =
                    b >= 0x80 || n8_ownsCheckUnicodeSymbol(b, n, n.kind == kNodeLetterUtf8 && n8_caseless(n.opts)) == 0;
            }
            return true;
        default:
            return false;
    }
}

// Bytes every match starts with, looking through option settings, anchors and leading groups; false when not
// known. A match at the end of the subject starts with no byte at all, so a program with an end anchor gets none.
bool n8_startBytes(const Ctx& c, bool* set) {
    for (int b = 0; b < 256; ++b) set[b] = false;
    for (Kel32s i = 0; i < c.numNodes; ++i) {
        const RegExpNode n = n8_node(c, i);
        if (n.kind == kNodePosition && (n.a == '$' || n.a == 'Z' || n.a == 'z')) return false;
    }
    for (Kel32s from = 0;;) {
        if (!n8_restBytes(c, from, set, kRestDepth)) return false;
        const Kel32s alt = n8_nextAlternative(c, from, c.numNodes);
        if (alt < 0) return true;
        from = alt + 1;
    }
}

// Bytes the second byte of a match can be: every top-level alternative must lead (through option settings,
// anchors and single-alternative groups that must match) with a literal of two or more bytes, or with an
// unrepeated item that matches ASCII bytes only and so consumes exactly one; false otherwise.
bool n8_secondBytes(const Ctx& c, bool* set) {
    for (int b = 0; b < 256; ++b) set[b] = false;
    for (Kel32s from = 0;;) {
        Kel32s j = from;
        for (int guard = kRestDepth;; --guard) {
            if (guard <= 0 || j >= c.numNodes) return false;
            const RegExpNode n = n8_node(c, j);
            const bool quantified = j + 1 < c.numNodes && n8_isQuantifierNode(n8_node(c, j + 1).kind);
            if (n.kind == kNodeOptionSet ||
                (n.kind == kNodePosition && n.a != '$' && n.a != 'Z' && n.a != 'z' && !quantified)) {
                ++j;
                continue;
            }
            if (n.kind == kNodeGrouping || n.kind == kNodeGroupingNoCapture || n.kind == kNodeGroupingOptions) {
                const GroupInfo g = n8_groupInfo(c, j);
                if (g.min < 1 || n8_nextAlternative(c, j + 1, g.close) >= 0) return false;
                ++j;
                continue;
            }
            break;
        }
        const RegExpNode n = n8_node(c, j);
        const Kel32s qi = n8_quantIndex(n, j);
        if (qi < c.numNodes && n8_isQuantifierNode(n8_node(c, qi).kind)) return false;
        if (n.kind == kNodeString) {
            n8_addByte(set, n.ptr[1], n8_caseless(n.opts));
        } else if (n.kind == kNodeLetter || n.kind == kNodeLetterRange || n.kind == kNodeCharacterClass) {
            bool own[256];
            if (!n8_itemBytes(c, j, n, own)) return false;
            for (int b = 0x80; b < 256; ++b) {
                if (own[b]) return false;
            }
            if (!n8_restBytes(c, qi, set, kRestDepth)) return false;
        } else {
            return false;
        }
        const Kel32s alt = n8_nextAlternative(c, from, c.numNodes);
        if (alt < 0) return true;
        from = alt + 1;
    }
}

// Evaluations up to a leading line anchor (`^` under m, or the implicit line anchor) after option settings, or 0.
Kel32s n8_lineLead(const Ctx& c) {
    if (c.topAlternation) return 0;
    Kel32s j = 0;
    while (j < c.numNodes && j < kRestDepth && n8_node(c, j).kind == kNodeOptionSet) ++j;
    if (j >= c.numNodes) return 0;
    const RegExpNode n = n8_node(c, j);
    if (n.kind != kNodePosition) return 0;
    if (j + 1 < c.numNodes && n8_isQuantifierNode(n8_node(c, j + 1).kind)) return 0;
    const bool line = (n.a == '^' && (n.opts & kRegExpMultiLine)) || n.a == kPositionLineStart;
    return line ? j + 1 : 0;
}

// The byte table of a loop (greedy or lazy) with no maximum that every attempt runs first, reached
// only through option settings and entries of non-capturing single-alternative groups that must match; null when
// the program has none. Nothing before the loop depends on where the attempt started.
const bool* n8_leadRun(const Ctx& c) {
    if (c.topAlternation) return nullptr;
    Kel32s j = 0;
    for (int guard = kRestDepth;; --guard) {
        if (guard <= 0 || j >= c.numNodes) return nullptr;
        const RegExpNode n = n8_node(c, j);
        if (n.kind == kNodeOptionSet) {
            ++j;
            continue;
        }
        if (n.kind == kNodeGroupingNoCapture || n.kind == kNodeGroupingOptions) {
            const GroupInfo g = n8_groupInfo(c, j);
            if (g.min < 1 || n8_nextAlternative(c, j + 1, g.close) >= 0) return nullptr;
            ++j;
            continue;
        }
        break;
    }
    const RegExpNode n = n8_node(c, j);
    const Kel32s qi = n8_quantIndex(n, j);
    if (qi >= c.numNodes) return nullptr;
    const RegExpNode q = n8_node(c, qi);
    if (!n8_isQuantifierNode(q.kind) || q.b != kQuantifierInfinity) return nullptr;
    if (q.a < 1) {
        // With no minimum, a later start could end an iteration of the enclosing group with nothing matched, which
        // the earlier start could not; a literal right after the loop rules that out.
        const Kel32s k = qi + 1;
        if (k >= c.numNodes) return nullptr;
        const RegExpNode after = n8_node(c, k);
        if (after.kind != kNodeLetter && after.kind != kNodeString) return nullptr;
        if (k + 1 < c.numNodes && n8_isQuantifierNode(n8_node(c, k + 1).kind)) return nullptr;
    }
    if (n.kind == kNodeLetterRange) return n8_rangeTableOf(n.a, n.opts);
    if (n.kind == kNodeCharacterClass) return n8_classMapOf(c, j);
    return nullptr;
}

// Items a start position is checked through for its fixed-offset literal: few enough that the attempt the check
// replaces passes fewer than kSkipDepth evaluations.
constexpr Kel32s kFixedItems = kSkipDepth / 2;

// Finds the literal of Ctx::fixedAt: the program runs, from node 0 and without alternatives, through anchors and
// items that take one ASCII byte per repetition (Letter, OneByte, `.` and escapes, byte-table classes), each once
// or a fixed number of times, to a case-sensitive Letter or String. Over ASCII bytes such items are one byte each
// and leave no choice, so an attempt whose byte at the literal's offset differs fails, at that item or before.
void n8_fixedLiteral(Ctx& c) {
    c.fixedAt = -1;
    if (c.topAlternation) return;
    Kel32s offset = 0;
    Kel32s j = 0;
    for (Kel32s items = 0; j < c.numNodes && items < kFixedItems; ++items) {
        const RegExpNode n = n8_node(c, j);
        const Kel32s qi = n8_quantIndex(n, j);
        const bool quantified = qi < c.numNodes && n8_isQuantifierNode(n8_node(c, qi).kind);
        if (n.kind == kNodePosition) {
            if (quantified) return;
            ++j;
            continue;
        }
        if ((n.kind == kNodeLetter || n.kind == kNodeString) && !n8_caseless(n.opts) && !quantified) {
            c.fixedAt = offset;
            c.fixedByte = n.kind == kNodeLetter ? n.a : n.ptr[0];
            return;
        }
        const bool oneByte = n.kind == kNodeLetter || n.kind == kNodeOneByte ||
                             (n.kind == kNodeLetterRange && n8_rangeTableOf(n.a, n.opts)) ||
                             (n.kind == kNodeCharacterClass && n8_classMapOf(c, j));
        if (!oneByte) return;
        Kel32s count = 1;
        if (quantified) {
            const RegExpNode q = n8_node(c, qi);
            if (q.a != q.b) return;
            count = q.a;
        }
        if (count > kFixedItems) return;
        offset += count;
        j = quantified ? qi + 1 : qi;
    }
}

// Whether an attempt at p fails by the fixed-offset literal (p < end).
inline bool n8_fixedLiteralFails(const Ctx& c, const Kel8u* p) {
    if (c.end - p <= c.fixedAt) return true;
    for (Kel32s k = 0; k < c.fixedAt; ++k) {
        if (p[k] >= 0x80) return false;
    }
    return p[c.fixedAt] != c.fixedByte;
}

// The byte table of the greedy item at node j with no maximum, and its minimum; null when node j is not one.
const bool* n8_unboundedTable(const Ctx& c, Kel32s j, Kel32s* pMin, Kel32s* pAfter) {
    if (j >= c.numNodes) return nullptr;
    const RegExpNode n = n8_node(c, j);
    const bool* table = n.kind == kNodeLetterRange      ? n8_rangeTableOf(n.a, n.opts)
                        : n.kind == kNodeCharacterClass ? n8_classMapOf(c, j)
                                                        : nullptr;
    const Kel32s qi = n8_quantIndex(n, j);
    if (!table || qi >= c.numNodes) return nullptr;
    const RegExpNode q = n8_node(c, qi);
    if (q.kind != kNodeQuantifierMax || q.b != kQuantifierInfinity) return nullptr;
    *pMin = q.a;
    *pAfter = qi + 1;
    return table;
}

// Recognises the (X+)Y+\g opening of Ctx::repX. An attempt at p inside an ASCII run of X bytes that ends at e,
// followed by Y bytes up to t, has one way to go: X gives back nothing that Y could take (a give-back leaves an X
// byte, which Y rejects), Y gives back nothing that \g could take (\g starts with p's X byte), so the group is
// [p, e) and \g is tried at t alone. Where [t, t + (e - p)) differs from [p, e), the attempt fails.
void n8_repeatedRun(Ctx& c) {
    c.repX = nullptr;
    if (c.topAlternation || c.numNodes < 1) return;
    const RegExpNode open = n8_node(c, 0);
    if (open.kind != kNodeGrouping) return;
    const GroupInfo g = n8_groupInfo(c, 0);
    if (g.min != 1 || g.max != 1 || g.after != g.close + 1) return;
    Kel32s xMin = 0, yMin = 0, afterX = 0, afterY = 0;
    const bool* x = n8_unboundedTable(c, 1, &xMin, &afterX);
    if (!x || xMin != 1 || afterX != g.close) return;
    const bool* y = n8_unboundedTable(c, g.after, &yMin, &afterY);
    if (!y || yMin < 1 || afterY >= c.numNodes || !n8_disjoint(x, y)) return;
    const RegExpNode ref = n8_node(c, afterY);
    if (ref.kind != kNodeBackReference || ref.a != g.capture || n8_caseless(ref.opts)) return;
    if (afterY + 1 < c.numNodes && n8_isQuantifierNode(n8_node(c, afterY + 1).kind)) return;
    c.repX = x;
    c.repY = y;
    c.repYMin = yMin;
}

// Whether the attempt at p (p < end) fails by the rule of n8_repeatedRun. The runs are measured over ASCII bytes
// only; a run that goes on with a non-ASCII character decides nothing. The attempt would pass a few nodes and
// give Y back up to t - e times: the skip needs the depth for all of them.
bool n8_repeatedRunFails(Ctx& c, const Kel8u* p) {
    if (!(c.repFrom && p >= c.repFrom && p < c.repEnd)) {
        if (*p >= 0x80 || !c.repX[*p]) return false;
        const Kel8u* e = p;
        while (e < c.end && *e < 0x80 && c.repX[*e]) ++e;
        if (e < c.end && *e >= 0x80 && c.repX[*e]) return false;
        const Kel8u* t = e;
        while (t < c.end && *t < 0x80 && c.repY[*t]) ++t;
        if (t < c.end && *t >= 0x80 && c.repY[*t]) return false;
        c.repFrom = p;
        c.repEnd = e;
        c.repNext = t;
    }
    const long spaces = c.repNext - c.repEnd;
    if (c.depth < kSkipDepth + 2 * spaces) return false;
    if (spaces < c.repYMin) return true;
    const long len = c.repEnd - p;
    if (c.end - c.repNext < len) return true;
    return __builtin_memcmp(p, c.repNext, static_cast<unsigned long>(len)) != 0;
}

// ---- The start chain ------------------------------------------------------------------------------------------
//
// Many programs open with a fixed sequence of runs: (?:[A-Z][a-z]+\s+){2,} takes an upper-case letter, lower-case
// letters, white space, an upper-case letter, ... and an IPv4 address takes an octet (one to three digits, however
// its alternatives split them), a dot, an octet, ... Over ASCII bytes each item of such a chain consumes min..max
// bytes of its table. Where one item's table is disjoint from the next item's, and the next must take a byte, the
// item ends exactly where its run of table bytes ends: stopping earlier leaves a byte the next item rejects,
// going further takes a byte the item rejects. So a start position can be tested by scanning runs, without the
// interpreter, and an attempt is made only where the chain holds. A failing attempt passes at most chainSpan
// evaluations on any one path (every node of the chain once per unrolled iteration), so with that much depth in
// hand it could not have met the limit, and skipping it changes no outcome.

constexpr Kel32s kChainMaxSpan = 256;
constexpr int kChainNesting = 4;

// Length bounds and byte union of the content [from, close) of a group, as one chain item: every way through
// it takes minLen..maxLen ASCII bytes of `table`. False when some node is not a plain item or zero-width anchor.
bool n8_summarize(const Ctx& c, Kel32s from, Kel32s close, bool* table, Kel32s* pMin, Kel32s* pMax) {
    Kel32s lo = kQuantifierInfinity, hi = 0;
    for (;;) {
        const Kel32s alt = n8_nextAlternative(c, from, close);
        const Kel32s stop = alt < 0 ? close : alt;
        Kel32s altLo = 0, altHi = 0;
        for (Kel32s j = from; j < stop;) {
            const RegExpNode n = n8_node(c, j);
            const Kel32s qi = n8_quantIndex(n, j);
            const bool quantified = qi < stop && n8_isQuantifierNode(n8_node(c, qi).kind);
            if (n.kind == kNodePosition && !quantified) {
                ++j;
                continue;
            }
            Kel32s len = 1;
            bool own[256];
            if (n.kind == kNodeString) {
                if (quantified) return false;
                len = n.b;
                for (int b = 0; b < 256; ++b) own[b] = false;
                for (Kel32s k = 0; k < n.b; ++k) n8_addByte(own, n.ptr[k], n8_caseless(n.opts));
            } else if (!((n.kind == kNodeLetter || n.kind == kNodeOneByte ||
                          (n.kind == kNodeLetterRange && n8_rangeTableOf(n.a, n.opts)) ||
                          (n.kind == kNodeCharacterClass && n8_classMapOf(c, j))) &&
                         n8_itemBytes(c, j, n, own))) {
                if (n.kind != kNodeOneByte) return false;
                for (int b = 0; b < 256; ++b) own[b] = true;
            }
            for (int b = 0; b < 256; ++b) table[b] = table[b] || own[b];
            Kel32s qMin = 1, qMax = 1;
            if (quantified) {
                qMin = n8_node(c, qi).a;
                qMax = n8_node(c, qi).b;
            }
            altLo += len * qMin;
            altHi = (qMax == kQuantifierInfinity || altHi == kQuantifierInfinity) ? kQuantifierInfinity
                                                                                  : altHi + len * qMax;
            if (altLo > kChainMaxSpan) return false;
            j = quantified ? qi + 1 : qi;
        }
        if (altHi > kChainMaxSpan && altHi != kQuantifierInfinity) altHi = kQuantifierInfinity;
        lo = altLo < lo ? altLo : lo;
        hi = altHi > hi ? altHi : hi;
        if (alt < 0) break;
        from = alt + 1;
    }
    *pMin = lo;
    *pMax = hi;
    return true;
}

// Walks the program from node 0 into Ctx::chain: items in order, groups that must match entered (and their
// mandatory iterations unrolled), groups with alternatives taken whole as one item. Stops at the first node it
// cannot follow, so the chain is always a prefix of what a match needs.
void n8_buildChain(Ctx& c) {
    c.chainLen = 0;
    c.chainSpan = 0;
    if (c.topAlternation) return;
    struct Frame {
        Kel32s open, left;  // mandatory iterations still to unroll after the current one
    } frames[kChainNesting];
    int depth = 0;
    Kel32s j = 0;
    while (j < c.numNodes && c.chainLen < kChainItems && c.chainSpan < kChainMaxSpan) {
        const RegExpNode n = n8_node(c, j);
        ++c.chainSpan;
        if (n.kind == kNodeGroupingClose) {
            if (depth == 0 || frames[depth - 1].open + n8_node(c, frames[depth - 1].open).b + 1 != j) break;
            Frame& f = frames[depth - 1];
            const GroupInfo g = n8_groupInfo(c, f.open);
            if (f.left > 0) {
                --f.left;
                j = f.open + 1;
                continue;
            }
            if (g.min != g.max) break;
            --depth;
            j = g.after;
            continue;
        }
        if (n.kind == kNodeOptionSet) {
            ++j;
            continue;
        }
        const Kel32s qi = n8_quantIndex(n, j);
        const bool quantified = qi < c.numNodes && n8_isQuantifierNode(n8_node(c, qi).kind);
        if (n.kind == kNodePosition) {
            if (quantified) break;
            ++j;
            continue;
        }
        if (n.kind == kNodeGrouping || n.kind == kNodeGroupingNoCapture || n.kind == kNodeGroupingOptions) {
            const GroupInfo g = n8_groupInfo(c, j);
            if (g.min < 1) break;
            if (n8_nextAlternative(c, j + 1, g.close) < 0) {
                if (depth == kChainNesting) break;
                frames[depth++] = Frame{j, g.min - 1};
                ++j;
                continue;
            }
            if (g.max != 1) break;
            bool* table = c.chainTable[c.chainLen];
            for (int b = 0; b < 256; ++b) table[b] = false;
            Kel32s lo = 0, hi = 0;
            if (!n8_summarize(c, j + 1, g.close, table, &lo, &hi) || lo < 1) break;
            c.chainSpan += g.close - j;
            c.chain[c.chainLen++] = ChainItem{table, lo, hi, false, {}};
            j = g.after;
            continue;
        }
        bool* table = c.chainTable[c.chainLen];
        if (n.kind == kNodeString) {
            if (quantified) break;
            for (Kel32s k = 0; k < n.b && c.chainLen < kChainItems; ++k) {
                table = c.chainTable[c.chainLen];
                for (int b = 0; b < 256; ++b) table[b] = false;
                n8_addByte(table, n.ptr[k], n8_caseless(n.opts));
                c.chain[c.chainLen++] = ChainItem{table, 1, 1, false, {}};
            }
            ++j;
            continue;
        }
        const bool plain = n.kind == kNodeLetter || (n.kind == kNodeLetterRange && n8_rangeTableOf(n.a, n.opts)) ||
                           (n.kind == kNodeCharacterClass && n8_classMapOf(c, j));
        if (!plain || !n8_itemBytes(c, j, n, table)) break;
        Kel32s lo = 1, hi = 1;
        if (quantified) {
            lo = n8_node(c, qi).a;
            hi = n8_node(c, qi).b;
        }
        if (lo < 1) break;
        c.chain[c.chainLen++] = ChainItem{table, lo, hi, false, {}};
        j = quantified ? qi + 1 : qi;
    }
    // The scan decides nothing past a variable item that is not forced: the chain ends with it.
    for (Kel32s k = 0; k + 1 < c.chainLen; ++k) {
        c.chain[k].forced = n8_disjoint(c.chain[k].table, c.chain[k + 1].table);
        if (c.chain[k].min != c.chain[k].max && !c.chain[k].forced) c.chainLen = k + 1;
    }
    // A chain of one item says no more than the first-byte filter.
    if (c.chainLen < 2) c.chainLen = 0;
    for (Kel32s k = 0; k < c.chainLen; ++k) n8_regExpRunTableInit(&c.chain[k].run, c.chain[k].table);
    c.chainByte = -1;
    if (c.chainLen >= 2 && c.chain[0].forced && c.chain[0].max == kQuantifierInfinity && c.chain[1].min == 1 &&
        c.chain[1].max == 1) {
        Kel32s count = 0;
        for (int b = 0; b < 256; ++b) {
            if (c.chain[1].table[b]) {
                ++count;
                c.chainByte = b;
            }
        }
        if (count != 1) c.chainByte = -1;
    }
}

// With a chain that opens with a forced unbounded run R and then the byte b (as [\w]+:// does), a match at p needs
// b right where p's run of R bytes ends. Let x be the first b at or after p and S the start of the run of R bytes
// that ends at x. A start before S has its run end before S (at S - 1 or earlier, a byte outside R), where b cannot
// be, since x is the first b: every start in [p, S) fails. The byte at S - 1 must be ASCII, so that no character
// that R's table could take whole spans it. Returns S (p when nothing is known), or null when there is no b.
const Kel8u* n8_chainByteSkip(Ctx& c, const Kel8u* p) {
    if (!c.chainByteAt || c.chainByteAt < p) {
        Kel32s at = -1;
        n8_kelsFindC_8u(p, static_cast<Kel32s>(c.end - p), static_cast<Kel8u>(c.chainByte), &at);
        if (at < 0) return nullptr;
        c.chainByteAt = p + at;
    }
    const bool* run = c.chain[0].table;
    const Kel8u* start = c.chainByteAt;
    while (start > p && start[-1] < 0x80 && run[start[-1]]) --start;
    if (start > p && start[-1] >= 0x80) return p;
    return start;
}

// Tests the chain at p. Returns null when an attempt at p is needed (the chain holds, or non-ASCII bytes leave it
// undecided); otherwise the next position worth trying: p + 1, or the end of p's run of the first item when
// the failure lies beyond that run's forced end (a later start in the run reaches the same end, and fails there
// or earlier, since a shorter first run only lowers the count).
const Kel8u* n8_chainFails(const Ctx& c, const Kel8u* p) {
    const Kel8u* q = p;
    const Kel8u* firstEnd = nullptr;
    for (Kel32s k = 0; k < c.chainLen; ++k) {
        const ChainItem& it = c.chain[k];
        // The last item needs only its minimum; the others are scanned one byte past their maximum.
        const long room = c.end - q;
        const bool last = k + 1 == c.chainLen;
        const long want = last ? it.min : it.max == kQuantifierInfinity ? room : static_cast<long>(it.max) + 1;
        const Kel8u* lim = room > want ? q + want : c.end;
        const Kel8u* r = n8_regExpAsciiRun(it.run, it.table, q, lim);
        if (r < lim && *r >= 0x80 && it.table[*r]) return nullptr;
        const long run = r - q;
        if (run < it.min) return k > 0 && firstEnd ? firstEnd : p + 1;
        if (it.min == it.max) {
            q += it.min;
            continue;
        }
        if (!it.forced) return nullptr;
        if (run > it.max) return p + 1;
        if (k == 0 && it.max == kQuantifierInfinity) firstEnd = r;
        q = r;
    }
    return nullptr;
}

// Start-position loop over [s, s + n): kMatch with capture record 0 set, kFail, or kLimit.
Result n8_findFirst(Ctx& c, const Kel8u* s, Kel32s n, Anchor anchor) {
    if (c.depth < 0) return kLimit;
    --c.depth;
    const Kel8u* end = s + n;
    // The next occurrences of the required and chain bytes hold over calls with the same end: the calls of a
    // global search start where the last one stopped or further on, never before a position it passed.
    if (c.end != end) c.reqAt = c.chainByteAt = nullptr;
    c.end = end;
    c.numRuns = 0;
    c.repFrom = nullptr;
    Result result = kFail;
    const Kel8u*& req = c.reqAt;
    const bool deep = c.depth >= kSkipDepth;
    const bool useFirst = c.useFirst && (deep || !c.firstDeep);
    const bool usePair = c.usePair && deep;
    const bool lineJump = c.lineLead > 0 && deep && anchor == kAnchorNone;
    for (const Kel8u* p = s; p <= end;) {
        if (c.reqByte >= 0 && (!req || req < p)) {
            Kel32s at = -1;
            n8_kelsFindC_8u(p, static_cast<Kel32s>(end - p), static_cast<Kel8u>(c.reqByte), &at);
            if (at < 0) break;
            req = p + at;
            if (c.chainByte == c.reqByte) c.chainByteAt = req;
        }
        if (c.leadLiteral && anchor == kAnchorNone) {
            const Kel32s at = n8_findLiteral(n8_node(c, 0), p, static_cast<Kel32s>(end - p), false, false);
            if (at < 0) break;
            p += at;
        } else if (lineJump || (useFirst && anchor == kAnchorNone)) {
            // Positions that are not line starts, or whose first two bytes cannot begin a match, are passed over
            // with the vector searches.
            bool done = false;
            for (;;) {
                if (lineJump && p > c.subjectStart && p[-1] != '\n') {
                    Kel32s at = -1;
                    n8_kelsFindC_8u(p, static_cast<Kel32s>(end - p), '\n', &at);
                    if (at < 0) {
                        done = true;
                        break;
                    }
                    p += at + 1;
                }
                if (!useFirst || anchor != kAnchorNone) break;
                if (usePair || !c.usePair) {
                    // Dense sets pass most positions: test this one before setting up the vector scan.
                    const bool here = p < end && c.pair.first[*p] && (p + 1 == end || c.pair.second[p[1]]);
                    // After a match that ends a line, the next position starts the next one: test it too
                    // before setting up the scan.
                    const bool next =
                        !here && p + 1 < end && c.pair.first[p[1]] && (p + 2 == end || c.pair.second[p[2]]);
                    if (next) {
                        ++p;
                    } else if (!here) {
                        p += n8_regExpPairScan(c.pair, p, static_cast<Kel32s>(end - p));
                    }
                } else {
                    while (p < end && !c.first[*p]) ++p;
                }
                if (p == end) {
                    done = true;
                    break;
                }
                if (!(lineJump && p > c.subjectStart && p[-1] != '\n')) break;
            }
            if (done) break;
        }
        // A position where every alternative fails at its first node needs no attempt (nothing it would charge
        // or change outlives it); nor, with the depth for the attempt in hand, does one that the fixed-offset
        // literal, the word-and-back-reference comparison or the start chain rules out.
        bool worth = c.depth < 0 || c.numNodes == 0;
        const bool ruledOut = !worth && deep && p < end &&
                              ((c.fixedAt > 0 && n8_fixedLiteralFails(c, p)) || (c.repX && n8_repeatedRunFails(c, p)));
        for (Kel32s from = 0; !worth && !ruledOut;) {
            worth = n8_viable(c, from, p);
            const Kel32s alt = c.topAlternation ? n8_nextAlternative(c, from, c.numNodes) : -1;
            if (alt < 0) break;
            from = alt + 1;
        }
        if (worth && deep && p < end && c.chainLen > 0 && c.depth >= kSkipDepth + c.chainSpan) {
            if (c.chainByte >= 0 && anchor == kAnchorNone) {
                const Kel8u* from = n8_chainByteSkip(c, p);
                if (!from) break;
                if (from > p) {
                    p = from;
                    continue;
                }
            }
            if (const Kel8u* next = n8_chainFails(c, p)) {
                if (anchor == kAnchorStart) break;
                if (anchor == kAnchorNone && next > p + 1) {
                    p = next;
                    continue;
                }
                worth = false;
            }
        }
        if (worth) {
            for (Kel32s g = 1; g < c.numGroups; ++g) n8_setCapture(c, g, nullptr, -1);
            n8_setCapture(c, 0, p, 0);
            c.matchStart = p;
            // The straight path, while it keeps leading to matches: a path that fails costs its scan twice.
            if (c.straight && c.straightMisses <= 2 * c.straightWins + 8 && c.depth > c.numNodes &&
                c.budget > c.numNodes) {
                const Kel8u* matchEnd;
                if (n8_straightAttempt(c, p, &matchEnd) && c.steps <= c.stepCap) {
                    ++c.straightWins;
                    n8_setCapture(c, 0, p, static_cast<Kel32s>(matchEnd - p));
                    result = kMatch;
                    break;
                }
                ++c.straightMisses;
            }
            // The attempt's evaluations are charged only while it runs, whatever its outcome.
            const long long depth0 = c.depth;
            const long long budget0 = c.budget;
            c.attemptDepth = depth0;
            const Result r = n8_attempt(c, p);
            n8_restoreDepth(c, depth0);
            if (r != kFail) {
                result = r;
                break;
            }
            // The attempt failed without meeting the limit (the budget is back where it was). When the program
            // leads with an unbounded loop, attempts from later positions of the same run reach the same run end in
            // the same state and try the rest at a subset of the same positions (greedy or lazy, the loop tries
            // the rest everywhere between its minimum and the run end): they fail too.
            if (c.leadRun && budget0 == c.budget && anchor == kAnchorNone && c.leadRun[*p] && *p < 0x80) {
                const Kel8u* q = p + 1;
                while (q < end && *q < 0x80 && c.leadRun[*q]) ++q;
                if (q - p > 1) {
                    p = q;
                    continue;
                }
            }
        }
        if (anchor == kAnchorStart) break;
        if (p == end) break;
        p += c.format == kRegExpFormatUtf8 ? n8_ownsGetCharSize(p, static_cast<Kel32s>(end - p)) : 1;
        if (anchor == kAnchorLine && p[-1] != '\n') {
            Kel32s at = -1;
            n8_kelsFindC_8u(p, static_cast<Kel32s>(end - p), '\n', &at);
            if (at < 0) break;
            p += at + 1;
        }
    }
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
    Scratch scratch;
    c.classMap = scratch.classMap;
    c.chainTable = scratch.chainTable;
    const bool analyse = srcLen >= kAnalysisMinLen;
    const Kel32s maxMaps = analyse ? kClassMaps : 4;
    c.state = pState;
    c.subjectStart = pSrc;
    c.numNodes = h.numNodes;
    c.numGroups = h.numGroups;
    c.format = h.format;
    c.budget = h.matchLimit;
    c.depth = h.matchLimit / 4;
    c.stepCap = kStepsPerLimit * (h.matchLimit < kMaxLimitForSteps ? h.matchLimit : kMaxLimitForSteps) + kStepsFloor +
                kStepsPerByte * srcLen;
    // The explicit stack: a native array, then the scratch records this pattern's groups leave unused. Their
    // stamps start at 0, a serial no entry gets.
    Entry native[kNativeEntries];
    c.native = native;
    Kel32s maxLevel = 0;
    for (Kel32s i = 0; i < c.numNodes; ++i) {
        const RegExpNode n = n8_node(c, i);
        if (n8_isGroupOpenNode(n.kind) && n.a > maxLevel) maxLevel = n.a;
    }
    const Kel32s capturesUsed = c.numGroups < kRegExpMaxCaptures ? c.numGroups : kRegExpMaxCaptures;
    c.maxLevel = maxLevel;
    c.areaA = n8_regExpGroupRecord(pState, maxLevel + 1);
    c.capA = (kRegExpMaxLevel - maxLevel) * kRegExpGroupRecordSize / kRegExpStackEntrySize;
    c.areaB = n8_regExpBytes(pState) + kRegExpCaptureOffset + capturesUsed * kRegExpCaptureRecordSize;
    c.capB = (kRegExpMaxCaptures - capturesUsed) * kRegExpCaptureRecordSize / kRegExpStackEntrySize;
    c.capacity = kNativeEntries + c.capA + c.capB;
    for (Kel32s l = 1; l <= maxLevel; ++l) {
        __builtin_memset(n8_regExpGroupRecord(pState, l), 0, kRegExpGroupRecordSize);
    }
    for (Kel32s g = 0; g < c.numGroups; ++g) {
        __builtin_memset(n8_regExpCaptureRecord(pState, g) + 12, 0, 4);
    }
    const bool global = (h.options & kRegExpGlobal) != 0;
    c.useFirst = n8_firstBytes(c, c.first);
    c.reqByte = -1;
    c.topAlternation = n8_nextAlternative(c, 0, c.numNodes) >= 0;
    if (h.searchKind == kRegExpSearchLeadingLiteral && c.numNodes > 0) {
        const RegExpNode n0 = n8_node(c, 0);
        c.leadLiteral = (n0.kind == kNodeLetter || n0.kind == kNodeString) && !n8_caseless(n0.opts);
    }
    for (Kel32s i = 0; i < c.numNodes && c.numClassNodes < (analyse ? kClassNodes : 4); ++i) {
        const RegExpNode n = n8_node(c, i);
        if (n.kind != kNodeCharacterClass) continue;
        bool bytesOnly = true;
        for (Kel32s k = 1; k <= n.b && bytesOnly; ++k) {
            const RegExpNode m = n8_node(c, i + k);
            bytesOnly = m.kind == kNodeLetter || m.kind == kNodeLetterRange ||
                        (m.kind == kNodeClassRange && m.a < 256 && m.b < 256);
        }
        if (!bytesOnly) continue;
        bool map[256];
        for (int b = 0; b < 256; ++b) {
            const Kel8u one = static_cast<Kel8u>(b);
            bool hit = false;
            for (Kel32s k = 1; k <= n.b && !hit; ++k) hit = n8_classMember(c, n8_node(c, i + k), n.opts, &one, 1);
            map[b] = hit != (n.a == -1);
        }
        Kel32s slot = 0;
        while (slot < c.numClassMaps && __builtin_memcmp(c.classMap[slot], map, sizeof map) != 0) ++slot;
        if (slot == c.numClassMaps) {
            if (slot == maxMaps) continue;
            __builtin_memcpy(c.classMap[c.numClassMaps++], map, sizeof map);
        }
        if (i < kIndexedNodes) c.classSlot[i] = static_cast<Kel8u>(slot + 1);
        c.classNode[c.numClassNodes] = i;
        c.classNodeMap[c.numClassNodes++] = static_cast<Kel8u>(slot);
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
    if (!c.useFirst) c.useFirst = c.firstDeep = n8_startBytes(c, c.first);
    // In UTF-8 a skip may only land on character starts: keep it to ASCII first bytes there.
    for (int b = 0x80; b < 256 && c.format == kRegExpFormatUtf8; ++b) c.useFirst = c.useFirst && !c.first[b];
    if (c.useFirst) {
        bool second[256];
        c.usePair = n8_secondBytes(c, second);
        n8_regExpPairFilterInit(&c.pair, c.first, c.usePair ? second : nullptr);
    }
    c.lineLead = n8_lineLead(c);
    c.fixedAt = -1;
    c.chainByte = -1;
    if (analyse) {
        n8_fixedLiteral(c);
        n8_repeatedRun(c);
        n8_buildChain(c);
    }
    c.leadRun = n8_leadRun(c);
    c.straight = n8_straightProgram(c);

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
        // After an empty match at m, a non-empty match may still start at m (x*|bc at the b of abc takes bc):
        // it is sought at m alone, over the whole rest of the subject. Only when there is none does the search
        // move on, by one character, so that an empty match is never reported twice at the same place.
        if (end - m.ptr < 1) break;
        if (written < capacity) {
            c.nonEmpty = true;
            const Result r2 = n8_findFirst(c, m.ptr, static_cast<Kel32s>(end - m.ptr), kAnchorStart);
            c.nonEmpty = false;
            if (r2 == kLimit) return kelStatusRegExpMatchLimit;
            if (r2 == kMatch) {
                const RegExpCapture m2 = n8_getCapture(c, 0);
                copyMatch();
                if (c.budget < 0) return kelStatusRegExpMatchLimit;
                cur = m2.ptr + m2.len;
                continue;
            }
        }
        cur = m.ptr + (c.format == kRegExpFormatUtf8 ? n8_ownsGetCharSize(m.ptr, static_cast<Kel32s>(end - m.ptr)) : 1);
    }
    if (c.budget < 0) return kelStatusRegExpMatchLimit;
    *pNumFind = written;
    return (written > 0 && written < c.numGroups - first) ? kelStatusRegExpGroupsTruncated : kelStatusOk;
}

extern "C" KelStatus n8_kelsRegExpFind_8u(const Kel8u* pSrc, int srcLen, RegExpState* pState, RegExpMatchRecord* pFind,
                                          int* pNumFind) {
    return n8_ownsRegExpFind_8u(pSrc, srcLen, pState, pFind, pNumFind, 0);
}

// src/ch/regexp/regexp_internal.h - the compiled form of a regular expression: the contract between the pattern
// compiler, the matcher and the replacement.
//
// kelsRegExpInit leaves a header, scratch areas for the matcher and a node program in the caller's RegExpState.
// Everything the matcher needs is described here; it never looks at the pattern text. The block carries no
// alignment promise (callers allocate it with any allocator, at any address), so every field is read and written
// through the load/store helpers below, which compile to plain moves.
//
// Block layout (byte offsets; all integers little-endian):
//   0       RegExpHeader (32 bytes)
//   32      group stack: record L (32 bytes) at 32 + 32 * L belongs to nesting level L = 1..999; the 32-bit word at
//           byte 8 of a record holds the node index of the open node of the group being matched at that level.
//           Record 0 serves no level (no group has level 0); its first 16 bytes hold capture record 1000.
//           The matcher keeps the iteration count at byte 0, the iteration's start offset at byte 4 and a trail
//           stamp at byte 12, and the capture records' reserved word holds their trail stamp. Records above the
//           pattern's deepest level and its last group hold the matcher's backtracking stack.
//   32032   capture records 0..999, 16 bytes each (RegExpCapture); record 0 is the whole match
//   48032   node program: numNodes nodes of 24 bytes (RegExpNode), then the literal bytes of all String nodes
// kelsRegExpGetSize reports 48032 + 24 * (patternLength + 1) bytes; the compiler never writes beyond that, and
// capture record 1000 (the highest group number a pattern can have) lives inside the header area so that it
// cannot overlap node 0.
//
// Node program rules the matcher relies on:
//  - A group is its open node (kinds GroupingLookBehind..GroupingOnce) at index i, b content nodes, and its
//    GroupingClose at i + b + 1. The open node's a is the group's nesting level (1..999).
//  - A quantifier node directly follows the item it repeats: a single node, the last member of a class, or a
//    group's GroupingClose. Quantifiers never follow String, Alternation, OptionSet, open nodes or quantifiers;
//    a quantified look-around never survives compilation (it is dropped, or its quantifier is).
//  - CharacterClass: b member nodes follow (Letter, LetterUtf8, ClassRange, LetterRange and Unicode nodes), then
//    the class's quantifier, if any. Members never nest.
//  - Alternation: a is the nesting level of its group (0 at top level), negated inside look-arounds and atomic
//    groups, so that it equals the a of the group's GroupingClose; b holds the options in force after it.
//  - GroupingCondition: its content starts with the condition (a BackReference node, or a look-around group),
//    then the yes branch, then at most one Alternation of the group's level and the no branch.
//  - GroupingLookBehind(Not): opts is the content's fixed length in characters (UTF-8 characters; one per item).
//  - GroupingClose: a = the group's level, negated for look-arounds and GroupingOnce; b = the options to restore;
//    opts = 1 when a capturing or non-capturing group holds exactly one single-character item and its
//    quantifier, 0xFFFFFFFF when such a group is itself quantified, else 0.
//  - String: b >= 2 bytes at ptr, inside the block's literal area. Letter: a is a byte value 0..255.
//  - LetterUtf8: a is a code point, or any 32-bit value from `\x{...}` (values no UTF-8 sequence decodes to never
//    match). b is 0, except for a character written literally in the pattern right before a quantifier: then b is
//    its UTF-8 length (2..6) and a quantifier always follows. In format 0 such a node stands for its leading
//    b - 1 bytes once and a quantified Letter of its last byte; in format 1 the quantifier repeats the character.
//  - ClassRange: a..b inclusive; both below 256 means a byte test, otherwise a code-point test. opts 0xFFFFFFFF
//    marks a negated POSIX class (the member matches when the test fails).
//  - UnicodeCategory: a = category mask, b = 0 or -1 (negated). UnicodeRange: a..b, opts 0 or 0xFFFFFFFF.
//    UnicodeScript: a = 1, b = 0 or -1, opts = range count, ptr = the script's UniPair table.
//  - Letter, String, CharacterClass, LetterRange, Position, OneByte, LetterUtf8, UnicodeCategory, CombLetter,
//    BackReference and quantifier nodes carry the options in force in opts unless stated above.
#pragma once

#include "kelch.h"

// ---- Block layout ----------------------------------------------------------------------------------------------
constexpr Kel32u kRegExpMagic = 0x78456772;  // the bytes "rgEx"
constexpr int kRegExpGroupStackOffset = 32;
constexpr int kRegExpGroupRecordSize = 32;
constexpr int kRegExpMaxLevel = 999;
constexpr int kRegExpCaptureOffset = 32032;
constexpr int kRegExpCaptureRecordSize = 16;
constexpr int kRegExpMaxCaptures = 1000;  // capturing groups; numGroups <= 1001
constexpr int kRegExpProgramOffset = 48032;
constexpr int kRegExpNodeSize = 24;
constexpr Kel32s kRegExpDefaultMatchLimit = 10000;
// The matcher's explicit backtracking stack: entries of 32 bytes, kRegExpNativeStackEntries of them in a native
// array, then as many as fit in the group-stack records above the pattern's deepest nesting level and in the
// capture records above its last group.
constexpr int kRegExpStackEntrySize = 32;
constexpr int kRegExpNativeStackEntries = 256;
// Longest pattern whose state size fits in a Kel32s: 48032 + 24 * (len + 1) <= 0x7FFFFFFF.
constexpr Kel32s kRegExpMaxPatternLen = (0x7FFFFFFF - kRegExpProgramOffset - kRegExpNodeSize) / kRegExpNodeSize;

// Option flags: the letters of the option string and of inline option groups.
constexpr Kel32u kRegExpDotAll = 1;     // s
constexpr Kel32u kRegExpMultiLine = 2;  // m
constexpr Kel32u kRegExpCaseless = 4;   // i
constexpr Kel32u kRegExpExtended = 8;   // x
constexpr Kel32u kRegExpGlobal = 16;    // g, option string only

// Subject formats and first-occurrence strategies.
constexpr Kel32s kRegExpFormatBytes = 0;
constexpr Kel32s kRegExpFormatUtf8 = 1;
constexpr Kel32s kRegExpSearchGeneral = 0;
constexpr Kel32s kRegExpSearchLeadingLiteral = 1;      // node 0 is a literal that every match starts with
constexpr Kel32s kRegExpSearchLiteralAlternation = 2;  // literal | literal | ... and nothing else

struct RegExpHeader {
    Kel32u magic;
    Kel32u options;  // from the option string
    Kel32s numNodes;
    Kel32s numGroups;    // 1 + capturing groups
    Kel32s lastLiteral;  // index of the required last literal node, or -1
    Kel32s matchLimit;
    Kel32s format;
    Kel32s searchKind;
};
static_assert(sizeof(RegExpHeader) == 32);

struct RegExpCapture {
    const Kel8u* ptr;  // 0 when the group is unset
    Kel32s len;        // -1 when the group is unset
    Kel32u reserved;
};
static_assert(sizeof(RegExpCapture) == kRegExpCaptureRecordSize);

struct RegExpNode {
    Kel32u kind;
    Kel32s a;
    Kel32s b;
    Kel32u opts;
    const Kel8u* ptr;
};
static_assert(sizeof(RegExpNode) == kRegExpNodeSize);

// ---- Node kinds ------------------------------------------------------------------------------------------------
constexpr Kel32u kNodeLetter = 0x10000000;
constexpr Kel32u kNodeString = 0x10000001;
constexpr Kel32u kNodeBackReference = 0x10000002;
constexpr Kel32u kNodeCharacterClass = 0x10000003;
constexpr Kel32u kNodeLetterRange = 0x10000004;
constexpr Kel32u kNodePosition = 0x10000005;
constexpr Kel32u kNodeAlternation = 0x10000006;
constexpr Kel32u kNodeClassRange = 0x10000007;
constexpr Kel32u kNodeQuantifierMin = 0x10000008;  // lazy
constexpr Kel32u kNodeQuantifierMax = 0x10000009;  // greedy
constexpr Kel32u kNodeGroupingLookBehind = 0x1000000A;
constexpr Kel32u kNodeGroupingLookBehindNot = 0x1000000B;
constexpr Kel32u kNodeGroupingLookAhead = 0x1000000C;
constexpr Kel32u kNodeGroupingLookAheadNot = 0x1000000D;
constexpr Kel32u kNodeGroupingOptions = 0x1000000E;
constexpr Kel32u kNodeGroupingCondition = 0x1000000F;
constexpr Kel32u kNodeGrouping = 0x10000010;
constexpr Kel32u kNodeGroupingNoCapture = 0x10000011;
constexpr Kel32u kNodeGroupingOnce = 0x10000012;
constexpr Kel32u kNodeGroupingClose = 0x10000013;
constexpr Kel32u kNodeOptionSet = 0x10000014;
constexpr Kel32u kNodeOneByte = 0x10000015;
constexpr Kel32u kNodeLetterUtf8 = 0x10000016;
constexpr Kel32u kNodeUnicodeCategory = 0x10000017;
constexpr Kel32u kNodeUnicodeRange = 0x10000018;
constexpr Kel32u kNodeUnicodeScript = 0x10000019;
constexpr Kel32u kNodeCombLetter = 0x1000001A;

constexpr Kel32s kQuantifierInfinity = 0x3FFFFFFF;  // maximum of *, + and {m,}
constexpr Kel32s kPositionLineStart = 0x80;         // Position operand of the implicit line anchor
constexpr Kel32u kNegatedMember = 0xFFFFFFFF;       // opts of a negated ClassRange or UnicodeRange

inline bool n8_isQuantifierNode(Kel32u kind) {
    return kind == kNodeQuantifierMin || kind == kNodeQuantifierMax;
}
inline bool n8_isGroupOpenNode(Kel32u kind) {
    return kind >= kNodeGroupingLookBehind && kind <= kNodeGroupingOnce;
}
inline bool n8_isLookAroundNode(Kel32u kind) {
    return kind >= kNodeGroupingLookBehind && kind <= kNodeGroupingLookAheadNot;
}
inline bool n8_isLookBehindNode(Kel32u kind) {
    return kind == kNodeGroupingLookBehind || kind == kNodeGroupingLookBehindNot;
}

// ---- Access ----------------------------------------------------------------------------------------------------
inline Kel8u* n8_regExpBytes(RegExpState* pState) {
    return reinterpret_cast<Kel8u*>(pState);
}
inline const Kel8u* n8_regExpBytes(const RegExpState* pState) {
    return reinterpret_cast<const Kel8u*>(pState);
}

inline RegExpHeader n8_loadRegExpHeader(const RegExpState* pState) {
    RegExpHeader h;
    __builtin_memcpy(&h, n8_regExpBytes(pState), sizeof h);
    return h;
}
inline void n8_storeRegExpHeader(RegExpState* pState, const RegExpHeader& h) {
    __builtin_memcpy(n8_regExpBytes(pState), &h, sizeof h);
}

// Node i of the program (0 <= i < numNodes, or below the compiler's capacity while compiling).
inline RegExpNode n8_loadRegExpNode(const RegExpState* pState, Kel32s i) {
    RegExpNode n;
    __builtin_memcpy(&n, n8_regExpBytes(pState) + kRegExpProgramOffset + static_cast<long>(i) * kRegExpNodeSize,
                     sizeof n);
    return n;
}
inline void n8_storeRegExpNode(RegExpState* pState, Kel32s i, const RegExpNode& n) {
    __builtin_memcpy(n8_regExpBytes(pState) + kRegExpProgramOffset + static_cast<long>(i) * kRegExpNodeSize, &n,
                     sizeof n);
}

// Address of the capture record of group 0..1000 (read and write it with memcpy). Group 1000 has no slot among
// the 1000 records before the program; it uses the unused group-stack record of level 0.
inline Kel8u* n8_regExpCaptureRecord(RegExpState* pState, Kel32s group) {
    return group < kRegExpMaxCaptures
               ? n8_regExpBytes(pState) + kRegExpCaptureOffset + static_cast<long>(group) * kRegExpCaptureRecordSize
               : n8_regExpBytes(pState) + kRegExpGroupStackOffset;
}

// Address of the group-stack record of nesting level 1..999.
inline Kel8u* n8_regExpGroupRecord(RegExpState* pState, Kel32s level) {
    return n8_regExpBytes(pState) + kRegExpGroupStackOffset + static_cast<long>(level) * kRegExpGroupRecordSize;
}

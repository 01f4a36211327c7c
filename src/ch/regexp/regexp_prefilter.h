// src/ch/regexp/regexp_prefilter.h - start-position prefilter of the matcher: the first position whose byte can
// start a match and whose next byte can follow that start.
//
// The matcher knows two byte sets before it searches: the bytes every match starts with, and the bytes the
// second byte of a match can be (all bytes when it cannot tell). A position passes when its byte is in the first
// set and its next byte in the second; the last byte of the subject passes on its first byte alone, since the
// caller decides what a match there needs. Case-insensitive literals simply put both cases of each byte in the
// sets, so a pair of folded bytes is tested by the same scan.
#pragma once

#include "kelbase.h"

struct RegExpPairFilter {
    Kel8u first[256];   // 1 for the bytes a match can start with
    Kel8u second[256];  // 1 for the bytes that can follow them
    // Nibble tables of the vector scan, one pair per set: byte x may be in the set when
    // (hi[x >> 4] & lo[x & 15]) != 0. They describe a superset of the set; every hit is confirmed with the tables
    // above.
    Kel8u lo0[16], hi0[16], lo1[16], hi1[16];
};

// Fills the filter from the two sets (second may be null: every byte can follow).
void n8_regExpPairFilterInit(RegExpPairFilter* f, const bool* first, const bool* second);

// The lowest q in [0, len) with first[src[q]] and (q + 1 == len or second[src[q + 1]]); len when there is none.
// Reads only src[0, len).
Kel32s n8_regExpPairScan(const RegExpPairFilter& f, const Kel8u* src, Kel32s len);
Kel32s n8_regExpPairScan_ref(const RegExpPairFilter& f, const Kel8u* src, Kel32s len);

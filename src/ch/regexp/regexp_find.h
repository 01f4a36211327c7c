// src/ch/regexp/regexp_find.h - the matcher entry shared by kelsRegExpFind_8u and the replacement.
#pragma once

#include "ch/regexp/regexp_internal.h"

// kelsRegExpFind_8u with one extra switch: fullSets != 0 makes a global search report every match's full set of
// numGroups records (record 0, the whole match, included) instead of the group records only.
KelStatus n8_ownsRegExpFind_8u(const Kel8u* pSrc, int srcLen, RegExpState* pState, RegExpMatchRecord* pFind,
                               int* pNumFind, int fullSets);

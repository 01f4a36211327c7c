// src/ch/regexp/regexp_prefilter_ref.cpp - the pair scan one position at a time: the oracle of
// regexp_prefilter.cpp.
#include "ch/regexp/regexp_prefilter.h"

Kel32s n8_regExpPairScan_ref(const RegExpPairFilter& f, const Kel8u* src, Kel32s len) {
    for (Kel32s q = 0; q < len; ++q) {
        if (f.first[src[q]] && (q + 1 == len || f.second[src[q + 1]])) return q;
    }
    return len;
}

// src/ch/regexp/regexp_run_ref.cpp - the ASCII run scan one byte at a time: the oracle of regexp_run.h.
#include "ch/regexp/regexp_run.h"

const Kel8u* n8_regExpAsciiRun_ref(const bool* table, const Kel8u* q, const Kel8u* lim) {
    while (q < lim && *q < 0x80 && table[*q]) ++q;
    return q;
}

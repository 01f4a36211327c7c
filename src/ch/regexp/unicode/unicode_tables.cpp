// src/ch/regexp/unicode/unicode_tables.cpp - the one definition of the generated Unicode 5.1 tables.
//
// The arrays are constant-initialised read-only data (no constructors run); unicode_internal.h declares them for
// the property parser, the property tests and the test suite.
#include "ch/regexp/unicode/unicode_internal.h"

#include "ch/regexp/unicode/ucd_tables.inc"

// src/kelbz2/version.cpp - the version of libbz2's interface this library provides.
#include "kelbz2/kelbz2_internal.h"

extern "C" const char* BZ2_bzlibVersion(void) {
    return "1.0.8, 13-Jul-2019 (kel)";
}

// src/core/ch_version.cpp - the version record of libkelchn8.
#include "core/ch_exports.h"

namespace {

constexpr LibraryVersion kChVersion = {
    2018, 0, 0, 56444, {'n', '8', '\0', '\0'}, "kelCH Quor (n8)", "2018.0.0 (r56444)", "Jul 24 2017",
};

}  // namespace

extern "C" const LibraryVersion* n8_kelchGetLibVersion(void) { return &kChVersion; }

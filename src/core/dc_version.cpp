// src/core/dc_version.cpp - the version record of libkeldcn8.
#include "core/dc_exports.h"

namespace {

constexpr LibraryVersion kDcVersion = {
    2018, 0, 0, 56444, {'n', '8', '\0', '\0'}, "kelDC Quor (n8)", "2018.0.0 (r56444)", "Jul 24 2017",
};

}  // namespace

extern "C" const LibraryVersion* n8_keldcGetLibVersion(void) { return &kDcVersion; }

// src/core/dc_exports.cpp - entries and slots of every libkeldcn8 export, and the library's module hooks.
#include "core/dc_exports.h"

KEL_DC_EXPORTS(KEL_DEFINE_SLOT)
KEL_DC_EXPORTS(KEL_DEFINE_ENTRY)

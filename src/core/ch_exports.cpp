// src/core/ch_exports.cpp - entries and slots of every libkelchn8 export.
#include "core/ch_exports.h"

KEL_CH_EXPORTS(KEL_DEFINE_SLOT)
KEL_CH_EXPORTS(KEL_DEFINE_ENTRY)

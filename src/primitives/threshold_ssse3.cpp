// src/primitives/threshold_ssse3.cpp - n8_ownsThreshold_GT_32s_I: lower every element above a level to the level.
//
// A signed minimum, built from a compare and a select since SSSE3 has no 32-bit min.
#include "primitives/map32_ssse3.h"
#include "primitives/primitives_internal.h"

namespace {

struct Clamp {
    Kel32s level;
    Vec128 vLevel;
    Vec128 vec(Vec128 x) const { return n8_min32(x, vLevel); }
    Kel32s one(Kel32s x) const { return x > level ? level : x; }
};

}  // namespace

void n8_ownsThreshold_GT_32s_I(Kel32s* pSrcDst, int len, Kel32s level) {
    if (len <= 0) return;
    n8_map32(pSrcDst, pSrcDst, static_cast<size_t>(len), Clamp{level, n8_splat32(level)});
}

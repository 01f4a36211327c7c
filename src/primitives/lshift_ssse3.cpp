// src/primitives/lshift_ssse3.cpp - n8_ownsLShiftC_32s_I: shift every element left in place.
//
// The shift is done on the unsigned bit pattern, so bits shifted out are lost and the sign bit is just bit 31.
// Shifts above 31 clear the array (a vector shift count above 31 also gives 0, but the clear is cheaper), shift 0
// leaves it alone.
#include "primitives/map32_ssse3.h"
#include "primitives/primitives_internal.h"

namespace {

struct ShiftLeft {
    int shift;  // 1 to 31
    Vec128 vec(Vec128 x) const { return n8_shiftLeft32(x, shift); }
    Kel32s one(Kel32s x) const { return static_cast<Kel32s>(static_cast<Kel32u>(x) << shift); }
};

}  // namespace

void n8_ownsLShiftC_32s_I(int shift, Kel32s* pSrcDst, int len) {
    if (len <= 0 || shift == 0) return;
    const size_t n = static_cast<size_t>(len);
    if (shift > 31) {
        n8_ownZeroPieces(reinterpret_cast<Kel8u*>(pSrcDst), n * 4, kPieceBytes);
    } else {
        n8_map32(pSrcDst, pSrcDst, n, ShiftLeft{shift});
    }
}

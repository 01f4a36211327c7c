// src/primitives/addc_ssse3.cpp - n8_ownsAddC_32s: add a constant to every element, saturating.
//
// SSSE3 has no saturating 32-bit add, but with a constant addend only one side can overflow, and whether it does
// is a single signed compare against a precomputed limit: for value > 0 the sum exceeds INT_MAX exactly when
// x > INT_MAX - value, for value < 0 it falls below INT_MIN exactly when x < INT_MIN - value. Neither limit
// overflows. Lanes past the limit take the bound, the others the wrapped sum (which is then exact).
#include <limits.h>

#include "primitives/map32_ssse3.h"
#include "primitives/primitives_internal.h"

namespace {

struct AddUp {
    Kel32s value, limit;  // limit = INT_MAX - value
    Vec128 vValue, vLimit, vBound;
    Vec128 vec(Vec128 x) const { return n8_select(n8_cmpgt32(x, vLimit), vBound, n8_add32(x, vValue)); }
    Kel32s one(Kel32s x) const { return x > limit ? INT_MAX : x + value; }
};

struct AddDown {
    Kel32s value, limit;  // limit = INT_MIN - value
    Vec128 vValue, vLimit, vBound;
    Vec128 vec(Vec128 x) const { return n8_select(n8_cmpgt32(vLimit, x), vBound, n8_add32(x, vValue)); }
    Kel32s one(Kel32s x) const { return x < limit ? INT_MIN : x + value; }
};

}  // namespace

void n8_ownsAddC_32s(const Kel32s* pSrc, Kel32s value, Kel32s* pDst, int len) {
    if (len <= 0) return;
    const size_t n = static_cast<size_t>(len);
    if (value > 0) {
        const Kel32s limit = INT_MAX - value;
        n8_map32(pSrc, pDst, n, AddUp{value, limit, n8_splat32(value), n8_splat32(limit), n8_splat32(INT_MAX)});
    } else if (value < 0) {
        const Kel32s limit = INT_MIN - value;
        n8_map32(pSrc, pDst, n, AddDown{value, limit, n8_splat32(value), n8_splat32(limit), n8_splat32(INT_MIN)});
    } else {
        n8_ownMovePieces(reinterpret_cast<const Kel8u*>(pSrc), reinterpret_cast<Kel8u*>(pDst), n * 4, kPieceBytes);
    }
}

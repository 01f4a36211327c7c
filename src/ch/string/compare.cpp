// src/ch/string/compare.cpp - comparison, Latin-case-insensitive comparison and equality of byte strings.
//
// Argument checks (null pointers, then a negative length) and the calls into the kernels of compare_internal.h.
// Exact comparison and equality test for 16 to 64 bytes first, then for 65 to 128 and 129 to 256, each with one
// unsigned compare that also lets negative lengths through to their check: then 16 to 64 bytes, the common size of
// keys and tokens, cost one branch before the compares, and the medium sizes no more than three. Strings below 16
// bytes are compared here too; longer ones go to loops that store the result themselves, reached by a tail call.
#include "ch/string/compare_internal.h"
#include "core/ch_exports.h"

extern "C" KelStatus n8_kelsCompare_8u(const Kel8u* pSrc1, const Kel8u* pSrc2, int len, int* pResult) {
    using namespace n8_compare;
    if (pSrc1 == nullptr || pSrc2 == nullptr || pResult == nullptr) return kelStatusNullPointer;
    if (n8_is16To64(len)) [[likely]] {
        *pResult = n8_compare16To64(pSrc1, pSrc2, static_cast<unsigned>(len));
        return kelStatusOk;
    }
    if (n8_is65To128(len)) {
        *pResult = n8_compareHalves<64>(pSrc1, pSrc2, static_cast<unsigned>(len));
        return kelStatusOk;
    }
    if (n8_is129To256(len)) {
        *pResult = n8_compareHalves<128>(pSrc1, pSrc2, static_cast<unsigned>(len));
        return kelStatusOk;
    }
    if (len < 0) return kelStatusBadLength;
    if (len > kCompareInlineMax) return n8_ownsCompareLong_8u(pSrc1, pSrc2, len, pResult);
    *pResult = n8_compareBelow16(pSrc1, pSrc2, len);
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsCompareIgnoreCaseLatin_8u(const Kel8u* pSrc1, const Kel8u* pSrc2, int len, int* pResult) {
    if (pSrc1 == nullptr || pSrc2 == nullptr || pResult == nullptr) return kelStatusNullPointer;
    if (len < 0) return kelStatusBadLength;
    *pResult = n8_ownsCompareIgnoreCaseLatin_8u(pSrc1, pSrc2, len);
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsEqual_8u(const Kel8u* pSrc1, const Kel8u* pSrc2, int len, int* pResult) {
    using namespace n8_compare;
    if (pSrc1 == nullptr || pSrc2 == nullptr || pResult == nullptr) return kelStatusNullPointer;
    if (n8_is16To64(len)) [[likely]] {
        *pResult = n8_equal16To64(pSrc1, pSrc2, static_cast<unsigned>(len));
        return kelStatusOk;
    }
    if (n8_is65To128(len)) {
        *pResult = n8_equalHalves<64>(pSrc1, pSrc2, static_cast<unsigned>(len));
        return kelStatusOk;
    }
    if (n8_is129To256(len)) {
        *pResult = n8_equalHalves<128>(pSrc1, pSrc2, static_cast<unsigned>(len));
        return kelStatusOk;
    }
    if (len < 0) return kelStatusBadLength;
    if (len > kCompareInlineMax) return n8_ownsEqualLong_8u(pSrc1, pSrc2, len, pResult);
    *pResult = n8_equalBelow16(pSrc1, pSrc2, len);
    return kelStatusOk;
}

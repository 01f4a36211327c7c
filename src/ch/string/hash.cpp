// src/ch/string/hash.cpp - the three 32-bit string hashes over 8-bit and 16-bit elements.
//
// The values are fixed formulas that callers may store, so every shortcut here reproduces the plain loop exactly
// (all arithmetic is unsigned 32-bit and wraps):
// - shift hash: h = (h << 1) ^ x from h = 0. Element k places from the end is shifted left k times after it is
//   taken in, so from k = 32 on it has left the register entirely: only the last 32 elements count.
// - SJ2 hash: h = h * 31 + x from h = 0. Four steps are folded into h * 31^4 + x0 * 31^3 + x1 * 31^2 + x2 * 31 + x3,
//   which shortens the multiply chain that bounds the loop.
// - MSCS hash: h = (h * 33) ^ x from h = 5381, ending before the first zero element within the length.
#include "core/ch_exports.h"

namespace {

// Only the last 32 elements of a string influence the shift hash.
constexpr int kShiftHashWindow = 32;

template <typename T>
Kel32u n8_shiftHash(const T* p, int len) {
    const int start = len > kShiftHashWindow ? len - kShiftHashWindow : 0;
    Kel32u h = 0;
    for (int i = start; i < len; ++i) h = (h << 1) ^ p[i];
    return h;
}

template <typename T>
Kel32u n8_sj2Hash(const T* p, int len) {
    constexpr Kel32u k31p2 = 31u * 31u, k31p3 = k31p2 * 31u, k31p4 = k31p3 * 31u;
    Kel32u h = 0;
    int i = 0;
    for (; i + 4 <= len; i += 4) {
        h = h * k31p4 + p[i] * k31p3 + p[i + 1] * k31p2 + p[i + 2] * 31u + p[i + 3];
    }
    for (; i < len; ++i) h = h * 31u + p[i];
    return h;
}

template <typename T>
Kel32u n8_mscsHash(const T* p, int len) {
    Kel32u h = 5381;
    for (int i = 0; i < len && p[i] != 0; ++i) h = (h * 33u) ^ p[i];
    return h;
}

}  // namespace

extern "C" KelStatus n8_kelsHash_8u32u(const Kel8u* pSrc, int len, Kel32u* pHashVal) {
    if (pSrc == nullptr || pHashVal == nullptr) return kelStatusNullPointer;
    if (len < 0) return kelStatusBadLength;
    *pHashVal = n8_shiftHash(pSrc, len);
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsHash_16u32u(const Kel16u* pSrc, int len, Kel32u* pHashVal) {
    if (pSrc == nullptr || pHashVal == nullptr) return kelStatusNullPointer;
    if (len < 0) return kelStatusBadLength;
    *pHashVal = n8_shiftHash(pSrc, len);
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsHashSJ2_8u32u(const Kel8u* pSrc, int len, Kel32u* pHashVal) {
    if (pSrc == nullptr || pHashVal == nullptr) return kelStatusNullPointer;
    if (len < 0) return kelStatusBadLength;
    *pHashVal = n8_sj2Hash(pSrc, len);
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsHashSJ2_16u32u(const Kel16u* pSrc, int len, Kel32u* pHashVal) {
    if (pSrc == nullptr || pHashVal == nullptr) return kelStatusNullPointer;
    if (len < 0) return kelStatusBadLength;
    *pHashVal = n8_sj2Hash(pSrc, len);
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsHashMSCS_8u32u(const Kel8u* pSrc, int len, Kel32u* pHashVal) {
    if (pSrc == nullptr || pHashVal == nullptr) return kelStatusNullPointer;
    if (len < 0) return kelStatusBadLength;
    *pHashVal = n8_mscsHash(pSrc, len);
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsHashMSCS_16u32u(const Kel16u* pSrc, int len, Kel32u* pHashVal) {
    if (pSrc == nullptr || pHashVal == nullptr) return kelStatusNullPointer;
    if (len < 0) return kelStatusBadLength;
    *pHashVal = n8_mscsHash(pSrc, len);
    return kelStatusOk;
}

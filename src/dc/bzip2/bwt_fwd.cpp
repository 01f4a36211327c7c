// src/dc/bzip2/bwt_fwd.cpp - forward Burrows-Wheeler transform: argument checks, buffer sizes and method choice.
//
// Two engines sort the rotations. Prefix doubling over all rotations (bwt_doubling.cpp) serves short blocks and
// method 2. The two-stage sort (bwt_twostage.cpp) orders only the B* rotations, a third or so, and induces the
// order of the rest. For method 0 it compares B* rotations as whole strings against a work budget, which long
// repeats exhaust; for the other methods it compares them directly while that stays shallow and otherwise sorts
// them by their short substrings with ties resolved by doubling over the reduced string, O(n log n) at worst.
#include "core/dc_exports.h"
#include "dc/bzip2/bzip2_internal.h"
#include "primitives/primitives.h"

namespace {

constexpr int kShortBlock = 100;  // shorter blocks always use prefix doubling

enum Method : int { kTwoStageBudget = 0, kTwoStage = 1, kDoubling = 2, kTwoStageThenDoubling = 3 };

int n8_twoStageSize(int n) {
    return 6 * n + kBwtTwoStageExtra;
}
int n8_doublingSize(int n) {
    return 18 * n + kBwtDoublingExtra;
}

// The transform after the checks: n >= 1 and a buffer of the method's size.
KelStatus n8_bwtForward(const Kel8u* pSrc, Kel8u* pDst, int n, int* pIndex, Kel8u* pBuf, int method) {
    if (n >= kShortBlock && (method < kTwoStageBudget || method > kTwoStageThenDoubling)) return kelStatusOk;
    bool twoValues = false;
    for (int i = 1; i < n; ++i) {
        if (pSrc[i] != pSrc[0]) {
            twoValues = true;
            break;
        }
    }
    if (!twoValues) {
        // Every rotation is the block itself: the last column is the block, rotation 0 is first.
        n8_ownsCopy_8u(pSrc, pDst, n);
        *pIndex = 0;
        return kelStatusOk;
    }
    if (n < kShortBlock || method == kDoubling) {
        n8_ownsBWTDoubling_8u(pSrc, pDst, n, pIndex, pBuf);
        return kelStatusOk;
    }
    // Method 0 compares whole rotations against the budget. The others switch to substrings and reduced
    // doubling when comparisons go deep, so their work is bounded on any data and the budget (and method 3's
    // fall-back to doubling over all rotations) never comes into play.
    if (n8_ownsBWTTwoStage_8u(pSrc, pDst, n, pIndex, pBuf, method == kTwoStageBudget)) return kelStatusOk;
    return kelStatusSortLimitReached;
}

}  // namespace

extern "C" KelStatus n8_kelsBWTFwdGetSize_8u(int len, int* pBWTFwdBuffSize) {
    if (pBWTFwdBuffSize == nullptr) return kelStatusNullPointer;
    if (len < 1 || len > kBwtMaxLen) return kelStatusBadSize;
    const int a = n8_twoStageSize(len), b = n8_doublingSize(len);
    *pBWTFwdBuffSize = a > b ? a : b;
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsBWTFwd_8u(const Kel8u* pSrc, Kel8u* pDst, int len, int* pIndex, Kel8u* pBWTFwdBuff) {
    if (pSrc == nullptr || pDst == nullptr || pIndex == nullptr || pBWTFwdBuff == nullptr) {
        return kelStatusNullPointer;
    }
    if (len < 1 || len > kBwtMaxLen) return kelStatusBadSize;
    return n8_bwtForward(pSrc, pDst, len, pIndex, pBWTFwdBuff, kTwoStageThenDoubling);
}

extern "C" KelStatus n8_kelsBWTFwdGetBufSize_SelectSort_8u(int len, int* pBWTFwdBufSize, Kel32u sortAlgorithm) {
    if (pBWTFwdBufSize == nullptr) return kelStatusNullPointer;
    if (len < 1 || len > kBwtMaxLen) return kelStatusBadSize;
    const int a = n8_twoStageSize(len), b = n8_doublingSize(len);
    switch (sortAlgorithm) {
        case kTwoStageBudget:
        case kTwoStage:
            *pBWTFwdBufSize = a;
            break;
        case kDoubling:
            *pBWTFwdBufSize = b;
            break;
        case kTwoStageThenDoubling:
            *pBWTFwdBufSize = a > b ? a : b;
            break;
        default:
            break;
    }
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsBWTFwd_SelectSort_8u(const Kel8u* pSrc, Kel8u* pDst, int len, int* pIndex,
                                                 Kel8u* pBWTFwdBuff, int sortAlgorithm) {
    if (pSrc == nullptr || pDst == nullptr || pIndex == nullptr || pBWTFwdBuff == nullptr) {
        return kelStatusNullPointer;
    }
    if (len < 1 || len > kBwtMaxLen) return kelStatusBadSize;
    return n8_bwtForward(pSrc, pDst, len, pIndex, pBWTFwdBuff, sortAlgorithm);
}

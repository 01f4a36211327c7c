// src/dc/bzip2/mtf.cpp - move-to-front over the 256 byte values, both directions, with the list carried in a state.
//
// The caller's state is a rank table (forward) or a list (inverse); both kernels work on a private list copy and
// the state is written back once at the end of the call, so an error leaves it untouched.
#include "core/dc_exports.h"
#include "dc/bzip2/bzip2_internal.h"
#include "primitives/primitives.h"

namespace {

// The list of a forward state: list[rank[v]] = v. A state that is not a permutation (never produced by these
// functions) is repaired deterministically, values without a slot taking the free slots in order, so the kernel's
// search always finds its value inside the list.
void n8_listFromRanks(const Kel8u* pRank, Kel8u* pList) {
    bool taken[256] = {};
    bool placed[256] = {};
    for (int v = 0; v < 256; ++v) {
        const int r = pRank[v];
        if (!taken[r]) {
            taken[r] = true;
            placed[v] = true;
            pList[r] = static_cast<Kel8u>(v);
        }
    }
    int slot = 0;
    for (int v = 0; v < 256; ++v) {
        if (placed[v]) continue;
        while (taken[slot]) ++slot;
        taken[slot] = true;
        pList[slot] = static_cast<Kel8u>(v);
    }
}

}  // namespace

extern "C" KelStatus n8_kelsMTFGetSize_8u(int* pMTFStateSize) {
    if (pMTFStateSize == nullptr) return kelStatusNullPointer;
    *pMTFStateSize = kMtfStateSize;
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsMTFInit_8u(Kel8u* pMTFState) {
    if (pMTFState == nullptr) return kelStatusNullPointer;
    for (int i = 0; i < kMtfStateSize; ++i) pMTFState[i] = static_cast<Kel8u>(i);
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsMTFFwd_8u(const Kel8u* pSrc, Kel8u* pDst, int len, Kel8u* pMTFState) {
    if (pSrc == nullptr || pDst == nullptr || pMTFState == nullptr) return kelStatusNullPointer;
    if (len < 1) return kelStatusBadSize;
    alignas(16) Kel8u list[256];
    n8_listFromRanks(pMTFState, list);
    n8_ownsMTFFwd_8u(pSrc, pDst, len, list);
    for (int r = 0; r < 256; ++r) pMTFState[list[r]] = static_cast<Kel8u>(r);
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsMTFInv_8u(const Kel8u* pSrc, Kel8u* pDst, int len, Kel8u* pMTFState) {
    if (pSrc == nullptr || pDst == nullptr || pMTFState == nullptr) return kelStatusNullPointer;
    if (len < 1) return kelStatusBadSize;
    alignas(16) Kel8u list[256];
    n8_ownsCopy_8u(pMTFState, list, 256);
    n8_ownsMTFInv_8u(pSrc, pDst, len, list);
    n8_ownsCopy_8u(list, pMTFState, 256);
    return kelStatusOk;
}

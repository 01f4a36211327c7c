// src/dc/bzip2/bzip2_internal.h - limits, state layouts and kernels shared by the bzip2 stages.
//
// The stages are separate exports, but several share pieces: the table-section writer and reader run the
// move-to-front kernels over the selector list, the fused block decoder runs its own move-to-front pass, and the
// forward transform has two sorting engines behind one entry. Everything here is internal to libkeldcn8.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "kelbase.h"

// ---- Format limits ------------------------------------------------------------------------------------------------

constexpr int kBz2GroupSize = 50;        // symbols per selector group
constexpr int kBz2MaxTables = 6;         // coding tables per block
constexpr int kBz2MaxAlphabet = 258;     // RUNA, RUNB, values 1 to 255 as 2 to 256, end of block
constexpr int kBz2MaxSelectors = 18002;  // 900 000 / 50 + 2: selectors a decoder keeps; the 15-bit count allows more
constexpr int kBz2EncodeMaxLen = 17;     // longest code the encoder builds
constexpr int kBz2DecodeMaxLen = 20;     // longest code the format allows
constexpr int kBz2RunA = 0;
constexpr int kBz2RunB = 1;

// ---- Run-length state (264 bytes, the layout callers see) ---------------------------------------------------------
//   [0, 256)   in-use table of the encoder
//   [256, 260) int32 last byte (encoder) / pending byte (decoder), -1 for none
//   [260, 264) int32 run count (encoder) / pending copies (decoder)
// The two integers are read and written through memcpy: the block carries no alignment promise.
constexpr int kRleStateSize = 264;
constexpr int kRleLastOffset = 256;
constexpr int kRleCountOffset = 260;

// ---- Move-to-front -------------------------------------------------------------------------------------------------

constexpr int kMtfStateSize = 256;

// Contract of both move-to-front kernels: pList holds the current list (pList[r] = value at position r), all 256
// entries distinct; len >= 1. Fwd writes, for each source byte, its position in the list; Inv writes, for each
// source position r, the value at r. Both move the value to the front after each element, so the list stays a
// permutation. pSrc may equal pDst (each element is read before it is written).
void n8_ownsMTFFwd_8u(const Kel8u* pSrc, Kel8u* pDst, int len, Kel8u* pList);
void n8_ownsMTFFwd_8u_ref(const Kel8u* pSrc, Kel8u* pDst, int len, Kel8u* pList);
void n8_ownsMTFInv_8u(const Kel8u* pSrc, Kel8u* pDst, int len, Kel8u* pList);
void n8_ownsMTFInv_8u_ref(const Kel8u* pSrc, Kel8u* pDst, int len, Kel8u* pList);

// ---- Fused block decoder, first pass
// ---------------------------------------------------------------------------------

// Undoes zero-run coding and move-to-front over pSym[0, symCount): RUNA/RUNB digits repeat the value at the front
// of pList, a symbol s >= 2 moves pList[s - 1] to the front and emits it. pList holds the dictSize values of the
// reduced alphabet (1 <= dictSize <= 256) at its front, the other entries are never emitted. Emitted values go to
// pOut[len++] and are counted in pCount[v] (the caller clears pCount). Returns the block length, or -1 when a
// symbol names a position at or beyond dictSize or the block would pass cap bytes; nothing is ever written beyond
// pOut[cap - 1]. cap < 2^24, so a run is rejected once it passes the room, long before its value could wrap.
int n8_ownsBZ2UnMTF_16u8u(const Kel16u* pSym, int symCount, Kel8u* pOut, int cap, Kel8u* pList, int dictSize,
                          Kel32u* pCount);
int n8_ownsBZ2UnMTF_16u8u_ref(const Kel16u* pSym, int symCount, Kel8u* pOut, int cap, Kel8u* pList, int dictSize,
                              Kel32u* pCount);

// ---- Forward transform engines ----------------------------------------------------------------------------------

// Largest block whose work-buffer sizes (18n + 80 for the doubling sort, 6n + 524484 for the two-stage sort)
// still fit a signed 32-bit integer.
constexpr int kBwtMaxLen = (0x7FFFFFFF - 80) / 18;
constexpr int kBwtTwoStageExtra = 524484;
constexpr int kBwtDoublingExtra = 80;

// Both engines: 2 <= n, at least two distinct byte values in pSrc, pBuf of the size their method reports
// (aligned by the engine itself). They write the last column to pDst and the position of rotation 0 to *pIndex.
void n8_ownsBWTDoubling_8u(const Kel8u* pSrc, Kel8u* pDst, int n, int* pIndex, Kel8u* pBuf);
// With useBudget the B* rotations are sorted by direct comparison against the work budget, and the call returns
// false, having written neither pDst nor *pIndex, when it runs out. Without it they are sorted by their substrings
// up to the next B* rotation and ties resolved by prefix doubling over those, which bounds the work on any data.
bool n8_ownsBWTTwoStage_8u(const Kel8u* pSrc, Kel8u* pDst, int n, int* pIndex, Kel8u* pBuf, bool useBudget);

// Sorts places [lo, hi) of (sa, key) by key (quicksort, selection for small ranges); ties in any order.
void n8_bwtSortByKey(Kel32s* sa, Kel32s* key, int lo, int hi);

// ---- Helpers ----------------------------------------------------------------------------------------------------

// p rounded up to a multiple of align (a power of two).
inline Kel8u* n8_alignUp(Kel8u* p, uintptr_t align) {
    const uintptr_t a = (reinterpret_cast<uintptr_t>(p) + align - 1) & ~(align - 1);
    return p + (a - reinterpret_cast<uintptr_t>(p));
}

inline Kel32s n8_loadI32(const Kel8u* p) {
    Kel32s v;
    __builtin_memcpy(&v, p, 4);
    return v;
}
inline void n8_storeI32(Kel8u* p, Kel32s v) {
    __builtin_memcpy(p, &v, 4);
}
inline Kel32u n8_loadU32(const Kel8u* p) {
    Kel32u v;
    __builtin_memcpy(&v, p, 4);
    return v;
}
inline void n8_storeU32(Kel8u* p, Kel32u v) {
    __builtin_memcpy(p, &v, 4);
}

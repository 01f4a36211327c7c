// src/dc/lz4/lz4_encode.cpp - LZ4 block encoders without history: the plain one and the bounded-output one.
//
// Both clear the caller's 16 KiB hash table at every call and run the block matcher (lz4_block_matcher.h). A
// source below 64 KiB gets 4096 16-bit buckets (its positions fit 16 bits and every one of them is in reach, so
// no distance test is needed) and a search that never accelerates; larger sources get 4096 32-bit buckets.
#include "core/dc_exports.h"
#include "dc/lz4/lz4_block_matcher.h"
#include "primitives/primitives.h"

namespace {

constexpr int kTableBuckets = 1 << kLz4HashBits;
constexpr int kTableBytes = kTableBuckets * 4;
constexpr int kTable16Limit = 65536;

// Clears the table in the width that a source of srcLen bytes uses; -8 for a null table.
KelStatus n8_clearTable(Kel8u* pHashTable, int srcLen) {
    if (srcLen < kTable16Limit) return n8_kelsZero_16s(reinterpret_cast<Kel16s*>(pHashTable), kTableBuckets);
    return n8_kelsZero_32s(reinterpret_cast<Kel32s*>(pHashTable), kTableBuckets);
}

template <bool kSafe>
Lz4BlockResult n8_compress(const Kel8u* pSrc, int srcLen, Kel8u* pDst, int dstCap, Kel8u* pHashTable) {
    const Lz4BlockJob job{pSrc, srcLen, 0, pDst, dstCap, pHashTable, nullptr, 0};
    if (srcLen < kTable16Limit) return n8_lz4CompressBlock<Lz4History::kNone16, kSafe>(job);
    return n8_lz4CompressBlock<Lz4History::kNone32, kSafe>(job);
}

}  // namespace

extern "C" KelStatus n8_kelsEncodeLZ4HashTableGetSize_8u(Kel32u* pSize) {
    if (pSize == nullptr) return kelStatusNullPointer;
    *pSize = kTableBytes;
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsEncodeLZ4HashTableInit_8u(Kel8u* pHashTable, int srcLen) {
    if (pHashTable == nullptr) return kelStatusNullPointer;
    if (srcLen < 1) return kelStatusBadSize;
    return n8_clearTable(pHashTable, srcLen);
}

extern "C" KelStatus n8_kelsEncodeLZ4_8u(const Kel8u* pSrc, int srcLen, Kel8u* pDst, int* pDstLen, Kel8u* pHashTable) {
    const KelStatus cleared = n8_clearTable(pHashTable, srcLen);
    if (cleared != kelStatusOk) return cleared;
    if (pSrc == nullptr || pDst == nullptr || pDstLen == nullptr) return kelStatusNullPointer;
    if (srcLen < 1) return kelStatusBadSize;
    *pDstLen = n8_compress<false>(pSrc, srcLen, pDst, 0, pHashTable).dstLen;
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsEncodeLZ4Safe_8u(const Kel8u* pSrc, int* pSrcLen, Kel8u* pDst, int* pDstLen,
                                             Kel8u* pHashTable) {
    if (pSrcLen == nullptr) return kelStatusNullPointer;
    const KelStatus cleared = n8_clearTable(pHashTable, *pSrcLen);
    if (cleared != kelStatusOk) return cleared;
    if (pSrc == nullptr || pDst == nullptr || pDstLen == nullptr) return kelStatusNullPointer;
    if (*pSrcLen < 1 || *pDstLen < 1) return kelStatusBadSize;
    const Lz4BlockResult r = n8_compress<true>(pSrc, *pSrcLen, pDst, *pDstLen, pHashTable);
    const KelStatus status = r.srcCovered < *pSrcLen ? kelStatusDstFull : kelStatusOk;
    *pSrcLen = r.srcCovered;
    *pDstLen = r.dstLen;
    return status;
}

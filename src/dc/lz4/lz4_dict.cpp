// src/dc/lz4/lz4_dict.cpp - LZ4 block encoders with history: a prefix in front of the source or an external
// dictionary.
//
// The hash table is the caller's running index of a stream: 4096 32-bit buckets holding positions relative to the
// stream base (pSrc - srcIdx), kept from one block to the next. Each call first lowers every entry above
// srcIdx - 1 to srcIdx - 1, so that a caller who moves its history (and passes a smaller srcIdx) never leaves an
// entry pointing at or past the new block; a block at srcIdx 0 starts from a cleared table. Offsets are virtual
// distances, so the decoder must see the history immediately before the block's output.
#include "core/dc_exports.h"
#include "dc/lz4/lz4_block_matcher.h"
#include "primitives/primitives.h"

namespace {

constexpr int kTableBuckets = 1 << kLz4HashBits;

KelStatus n8_prepareTable(Kel8u* pHashTable, int srcIdx) {
    Kel32s* const table = reinterpret_cast<Kel32s*>(pHashTable);
    if (srcIdx >= 1) return n8_kelsThreshold_GT_32s_I(table, kTableBuckets, srcIdx - 1);
    return n8_kelsZero_32s(table, kTableBuckets);
}

// The mode a (pDict, dictLen) pair selects: a dictionary that is exactly the prefix counts as the prefix.
enum class DictMode { kPrefix, kExternal, kBadDictLen };

DictMode n8_selectMode(const Kel8u* pSrc, int srcIdx, const Kel8u* pDict, int dictLen) {
    if (pDict == nullptr || dictLen == 0) return DictMode::kPrefix;
    if (dictLen < 1) return DictMode::kBadDictLen;
    if (srcIdx == dictLen &&
        reinterpret_cast<uintptr_t>(pDict) + uintptr_t(dictLen) == reinterpret_cast<uintptr_t>(pSrc)) {
        return DictMode::kPrefix;
    }
    return DictMode::kExternal;
}

// srcIdx must be non-negative, and positions up to srcIdx + srcLen must fit the table's signed 32-bit entries.
bool n8_badIndex(int srcIdx, int srcLen) {
    return srcIdx < 0 || srcIdx > 0x7FFFFFFF - srcLen;
}

template <bool kSafe>
Lz4BlockResult n8_compress(DictMode mode, const Lz4BlockJob& job) {
    if (mode == DictMode::kPrefix) return n8_lz4CompressBlock<Lz4History::kPrefix, kSafe>(job);
    return n8_lz4CompressBlock<Lz4History::kExtDict, kSafe>(job);
}

}  // namespace

extern "C" KelStatus n8_kelsEncodeLZ4DictHashTableInit_8u(Kel8u* pHashTable, int srcLen) {
    if (pHashTable == nullptr) return kelStatusNullPointer;
    if (srcLen < 1) return kelStatusBadSize;
    return n8_kelsZero_32s(reinterpret_cast<Kel32s*>(pHashTable), kTableBuckets);
}

extern "C" KelStatus n8_kelsEncodeLZ4Dict_8u(const Kel8u* pSrc, int srcIdx, int srcLen, Kel8u* pDst, int* pDstLen,
                                             Kel8u* pHashTable, const Kel8u* pDict, int dictLen) {
    const KelStatus prepared = n8_prepareTable(pHashTable, srcIdx);
    if (prepared != kelStatusOk) return prepared;
    const DictMode mode = n8_selectMode(pSrc, srcIdx, pDict, dictLen);
    if (mode == DictMode::kBadDictLen) return kelStatusBadSize;
    if (pSrc == nullptr || pDst == nullptr || pDstLen == nullptr) return kelStatusNullPointer;
    if (srcLen < 1) return kelStatusBadSize;
    if (n8_badIndex(srcIdx, srcLen)) return kelStatusBadArgument;
    const Lz4BlockJob job{pSrc, srcLen, srcIdx, pDst, 0, pHashTable, pDict, dictLen};
    *pDstLen = n8_compress<false>(mode, job).dstLen;
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsEncodeLZ4DictSafe_8u(const Kel8u* pSrc, int srcIdx, int* pSrcLen, Kel8u* pDst, int* pDstLen,
                                                 Kel8u* pHashTable, const Kel8u* pDict, int dictLen) {
    const KelStatus prepared = n8_prepareTable(pHashTable, srcIdx);
    if (prepared != kelStatusOk) return prepared;
    const DictMode mode = n8_selectMode(pSrc, srcIdx, pDict, dictLen);
    if (mode == DictMode::kBadDictLen) return kelStatusBadSize;
    if (pSrc == nullptr || pDst == nullptr || pDstLen == nullptr || pSrcLen == nullptr) return kelStatusNullPointer;
    if (*pSrcLen < 1 || *pDstLen < 1) return kelStatusBadSize;
    if (n8_badIndex(srcIdx, *pSrcLen)) return kelStatusBadArgument;
    const Lz4BlockJob job{pSrc, *pSrcLen, srcIdx, pDst, *pDstLen, pHashTable, pDict, dictLen};
    const Lz4BlockResult r = n8_compress<true>(mode, job);
    const KelStatus status = r.srcCovered < *pSrcLen ? kelStatusDstFull : kelStatusOk;
    *pSrcLen = r.srcCovered;
    *pDstLen = r.dstLen;
    return status;
}

// src/ch/string/edit.cpp - the editing family: concatenation, insertion, removal, byte replacement, splitting,
// trimming and Latin case mapping of byte strings.
//
// Each function checks its arguments in the documented order (null pointers, then lengths, then sizes and
// positions) and writes nothing when a check fails; only the list functions, which check each listed string when
// they reach it, may have written the pieces before a bad entry. Disjoint ranges are copied, ranges that can
// overlap (in-place forms, a destination that is the source) are moved, both through edit_internal.h. Positions
// and lengths are added in 64 bits, so no sum of two valid int values can wrap.
#include <stdint.h>

#include "ch/string/edit_internal.h"
#include "ch/string/search_internal.h"
#include "core/ch_exports.h"

namespace {

constexpr long long kMaxLen = 0x7FFFFFFF;

// Copies len bytes from pSrc to pDst, moving instead when the two ranges overlap.
void n8_place(const Kel8u* pSrc, Kel8u* pDst, int len) {
    if (len <= 0 || pSrc == pDst) return;
    const uintptr_t s = reinterpret_cast<uintptr_t>(pSrc), d = reinterpret_cast<uintptr_t>(pDst);
    if (d < s + static_cast<uintptr_t>(len) && s < d + static_cast<uintptr_t>(len)) {
        n8_moveBytes(pSrc, pDst, len);
    } else {
        n8_copyBytes(pSrc, pDst, len);
    }
}

enum class TrimEnds { Both, Start, End };

// Trimming by a set: the kept range [start, end) of pSrc goes to pDst.
KelStatus n8_trimAny(const Kel8u* pSrc, int srcLen, const Kel8u* pSet, int setLen, Kel8u* pDst, int* pDstLen,
                     TrimEnds ends) {
    if (pSrc == nullptr || pSet == nullptr || pDst == nullptr || pDstLen == nullptr) return kelStatusNullPointer;
    if (srcLen < 0 || setLen < 0) return kelStatusBadLength;
    const int start = ends == TrimEnds::End ? 0 : n8_ownsSpanCAny_8u(pSrc, srcLen, pSet, setLen);
    const int end =
        ends == TrimEnds::Start ? srcLen : srcLen - n8_ownsSpanRevCAny_8u(pSrc + start, srcLen - start, pSet, setLen);
    n8_place(pSrc + start, pDst, end - start);
    *pDstLen = end - start;
    return kelStatusOk;
}

// The list concatenations; pDelim null writes no separators.
KelStatus n8_concatList(const Kel8u* const pSrc[], const int srcLen[], int numSrc, const Kel8u* pDelim, Kel8u* pDst) {
    if (pSrc == nullptr || srcLen == nullptr || pDst == nullptr) return kelStatusNullPointer;
    if (numSrc < 1) return kelStatusBadSize;
    for (int i = 0; i < numSrc; ++i) {
        if (pSrc[i] == nullptr) return kelStatusNullPointer;
        if (srcLen[i] < 0) return kelStatusBadLength;
        if (pDelim != nullptr && i > 0) *pDst++ = *pDelim;
        n8_copyBytes(pSrc[i], pDst, srcLen[i]);
        pDst += srcLen[i];
    }
    return kelStatusOk;
}

}  // namespace

extern "C" KelStatus n8_kelsConcat_8u(const Kel8u* pSrc1, int len1, const Kel8u* pSrc2, int len2, Kel8u* pDst) {
    if (pSrc1 == nullptr || pSrc2 == nullptr || pDst == nullptr) return kelStatusNullPointer;
    if (len1 < 0 || len2 < 0) return kelStatusBadLength;
    n8_copyBytes(pSrc1, pDst, len1);
    n8_copyBytes(pSrc2, pDst + len1, len2);
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsConcat_8u_D2L(const Kel8u* const pSrc[], const int srcLen[], int numSrc, Kel8u* pDst) {
    return n8_concatList(pSrc, srcLen, numSrc, nullptr, pDst);
}

extern "C" KelStatus n8_kelsConcatC_8u_D2L(const Kel8u* const pSrc[], const int srcLen[], int numSrc, Kel8u delim,
                                           Kel8u* pDst) {
    return n8_concatList(pSrc, srcLen, numSrc, &delim, pDst);
}

extern "C" KelStatus n8_kelsInsert_8u(const Kel8u* pSrc, int srcLen, const Kel8u* pInsert, int insertLen, Kel8u* pDst,
                                      int startIndex) {
    if (pSrc == nullptr || pInsert == nullptr || pDst == nullptr) return kelStatusNullPointer;
    if (srcLen < 0 || insertLen < 0 || startIndex < 0 || startIndex > srcLen) return kelStatusBadLength;
    n8_copyBytes(pSrc, pDst, startIndex);
    n8_copyBytes(pInsert, pDst + startIndex, insertLen);
    n8_copyBytes(pSrc + startIndex, pDst + startIndex + insertLen, srcLen - startIndex);
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsInsert_8u_I(const Kel8u* pInsert, int insertLen, Kel8u* pSrcDst, int* pSrcDstLen,
                                        int startIndex) {
    if (pInsert == nullptr || pSrcDst == nullptr || pSrcDstLen == nullptr) return kelStatusNullPointer;
    if (insertLen < 0) return kelStatusBadLength;
    const int len = *pSrcDstLen;
    if (len < 0 || startIndex < 0 || startIndex > len) return kelStatusBadLength;
    // The grown length must still be an int.
    if (static_cast<long long>(len) + insertLen > kMaxLen) return kelStatusBadLength;
    n8_moveBytes(pSrcDst + startIndex, pSrcDst + startIndex + insertLen, len - startIndex);
    n8_copyBytes(pInsert, pSrcDst + startIndex, insertLen);
    *pSrcDstLen = len + insertLen;
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsRemove_8u(const Kel8u* pSrc, int srcLen, Kel8u* pDst, int startIndex, int len) {
    if (pSrc == nullptr || pDst == nullptr) return kelStatusNullPointer;
    if (len < 0 || startIndex < 0 || static_cast<long long>(startIndex) + len > srcLen) return kelStatusBadLength;
    n8_place(pSrc, pDst, startIndex);
    n8_place(pSrc + startIndex + len, pDst + startIndex, srcLen - startIndex - len);
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsRemove_8u_I(Kel8u* pSrcDst, int* pSrcDstLen, int startIndex, int len) {
    if (pSrcDst == nullptr || pSrcDstLen == nullptr) return kelStatusNullPointer;
    if (len < 0) return kelStatusBadLength;
    const int strLen = *pSrcDstLen;
    if (strLen < 0 || startIndex < 0) return kelStatusBadLength;
    if (static_cast<long long>(startIndex) + len > strLen) return kelStatusBadLength;
    n8_moveBytes(pSrcDst + startIndex + len, pSrcDst + startIndex, strLen - startIndex - len);
    *pSrcDstLen = strLen - len;
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsReplaceC_8u(const Kel8u* pSrc, Kel8u* pDst, int len, Kel8u oldVal, Kel8u newVal) {
    if (pSrc == nullptr || pDst == nullptr) return kelStatusNullPointer;
    if (len < 0) return kelStatusBadLength;
    n8_ownsReplaceC_8u(pSrc, pDst, len, oldVal, newVal);
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsSplitC_8u_D2L(const Kel8u* pSrc, int srcLen, Kel8u delim, Kel8u* pDst[], int dstLen[],
                                          int* pNumDst) {
    if (pSrc == nullptr || pDst == nullptr || dstLen == nullptr || pNumDst == nullptr) return kelStatusNullPointer;
    if (srcLen < 0) return kelStatusBadLength;
    const int numDst = *pNumDst;
    if (numDst < 1) return kelStatusBadSize;
    KelStatus status = kelStatusOk;
    int pos = 0, pieces = 0;
    while (pos < srcLen) {
        if (pieces == numDst) {
            *pNumDst = numDst;
            return kelStatusSplitMorePieces;
        }
        if (pDst[pieces] == nullptr) return kelStatusNullPointer;
        const int cap = dstLen[pieces];
        if (cap < 0) return kelStatusBadLength;
        const int rest = srcLen - pos;
        const int sep = n8_ownsFindC_8u(pSrc + pos, rest, delim);
        const int pieceLen = sep < 0 ? rest : sep;
        int kept = pieceLen;
        if (pieceLen > cap) {
            kept = cap;
            status = kelStatusSplitPieceTruncated;
        }
        n8_copyBytes(pSrc + pos, pDst[pieces], kept);
        dstLen[pieces] = kept;
        ++pieces;
        // Past the piece and its separator; a separator at the very end leaves nothing, so no empty last piece.
        pos += sep < 0 ? rest : sep + 1;
    }
    *pNumDst = pieces;
    return status;
}

extern "C" KelStatus n8_kelsTrimC_8u(const Kel8u* pSrc, int srcLen, Kel8u odd, Kel8u* pDst, int* pDstLen) {
    if (pSrc == nullptr || pDst == nullptr || pDstLen == nullptr) return kelStatusNullPointer;
    if (srcLen < 0) return kelStatusBadLength;
    const int start = n8_ownsSpanC_8u(pSrc, srcLen, odd);
    const int end = srcLen - n8_ownsSpanRevC_8u(pSrc + start, srcLen - start, odd);
    n8_place(pSrc + start, pDst, end - start);
    *pDstLen = end - start;
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsTrimC_8u_I(Kel8u* pSrcDst, int* pLen, Kel8u odd) {
    if (pSrcDst == nullptr || pLen == nullptr) return kelStatusNullPointer;
    if (*pLen < 0) return kelStatusBadLength;
    return n8_kelsTrimC_8u(pSrcDst, *pLen, odd, pSrcDst, pLen);
}

extern "C" KelStatus n8_kelsTrimCAny_8u(const Kel8u* pSrc, int srcLen, const Kel8u* pTrim, int trimLen, Kel8u* pDst,
                                        int* pDstLen) {
    return n8_trimAny(pSrc, srcLen, pTrim, trimLen, pDst, pDstLen, TrimEnds::Both);
}

extern "C" KelStatus n8_kelsTrimStartCAny_8u(const Kel8u* pSrc, int srcLen, const Kel8u* pTrim, int trimLen,
                                             Kel8u* pDst, int* pDstLen) {
    return n8_trimAny(pSrc, srcLen, pTrim, trimLen, pDst, pDstLen, TrimEnds::Start);
}

extern "C" KelStatus n8_kelsTrimEndCAny_8u(const Kel8u* pSrc, int srcLen, const Kel8u* pTrim, int trimLen, Kel8u* pDst,
                                           int* pDstLen) {
    return n8_trimAny(pSrc, srcLen, pTrim, trimLen, pDst, pDstLen, TrimEnds::End);
}

extern "C" KelStatus n8_kelsUppercaseLatin_8u(const Kel8u* pSrc, Kel8u* pDst, int len) {
    if (pSrc == nullptr || pDst == nullptr) return kelStatusNullPointer;
    if (len < 0) return kelStatusBadLength;
    n8_ownsUppercaseLatin_8u(pSrc, pDst, len);
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsUppercaseLatin_8u_I(Kel8u* pSrcDst, int len) {
    return n8_kelsUppercaseLatin_8u(pSrcDst, pSrcDst, len);
}

extern "C" KelStatus n8_kelsLowercaseLatin_8u(const Kel8u* pSrc, Kel8u* pDst, int len) {
    if (pSrc == nullptr || pDst == nullptr) return kelStatusNullPointer;
    if (len < 0) return kelStatusBadLength;
    n8_ownsLowercaseLatin_8u(pSrc, pDst, len);
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsLowercaseLatin_8u_I(Kel8u* pSrcDst, int len) {
    return n8_kelsLowercaseLatin_8u(pSrcDst, pSrcDst, len);
}

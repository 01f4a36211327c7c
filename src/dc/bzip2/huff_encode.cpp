// src/dc/bzip2/huff_encode.cpp - bzip2 coding tables: choice, table-and-selector section, and symbol coding.
//
// A block's symbols are coded in groups of 50, each with one of 2 to 6 tables. The tables start as frequency
// bands of the alphabet and are refined four times: every group picks the table that codes it in the fewest bits,
// and every table is rebuilt as a Huffman code of the symbols of the groups that picked it. Group costs are summed
// for all tables at once: a symbol's lengths in the six tables are packed as 10-bit fields of one 64-bit word (a
// group costs at most 50 * 17 = 850 bits per table, so no field carries into the next), making one addition per
// symbol. Huffman lengths are limited to 17 bits by moving leaves up the tree when the plain code is deeper.
//
// Bits go out most significant first through a 64-bit accumulator; at the end the whole bytes go out while room
// remains and the rest returns to the caller's 32-bit buffer, with a count above 32 if bits were lost for want of
// room.
#include "core/dc_exports.h"
#include "dc/bzip2/bzip2_internal.h"
#include "primitives/primitives.h"

namespace {

constexpr int kIterations = 4;
constexpr int kInitialCost = 15;  // length of a symbol outside a table's band in the initial tables
constexpr int kCostBits = 10;     // field width of one table in a packed cost word

// The encoder state has the public layout of HuffEncodeState_BZ2 (keldc.h) from the first byte of the caller's
// block: three counts, three pointers into the block for callers that read the tables, the code table, the length
// table, then the selector list and its move-to-front scratch, one byte per group each. The fields are reached by
// offset, through memcpy for the multi-byte ones, so the block may have any alignment and the pointers are only
// written, never trusted. 40 + 6192 + 1548 = 7780 bytes come before the list, the fixed part the size function
// reports.
constexpr size_t kEncAlphaOff = offsetof(HuffEncodeState_BZ2, alphabetSize);
constexpr size_t kEncSelCountOff = offsetof(HuffEncodeState_BZ2, selectorCount);
constexpr size_t kEncTablesOff = offsetof(HuffEncodeState_BZ2, tableCount);
constexpr size_t kEncCodesPtrOff = offsetof(HuffEncodeState_BZ2, pCodes);
constexpr size_t kEncLensPtrOff = offsetof(HuffEncodeState_BZ2, pLengths);
constexpr size_t kEncSelPtrOff = offsetof(HuffEncodeState_BZ2, pSelectors);
constexpr size_t kEncCodesOff = offsetof(HuffEncodeState_BZ2, codes);
constexpr size_t kEncLensOff = offsetof(HuffEncodeState_BZ2, lengths);
constexpr size_t kEncSelOff = kEncLensOff + sizeof(Kel8u) * kBz2MaxTables * kBz2MaxAlphabet;
constexpr int kEncFixedSize = 7780;
static_assert(kEncCodesOff == 40 && kEncSelOff == kEncFixedSize, "encoder state layout differs from its size");

// The state block seen through its offsets.
struct EncState {
    Kel8u* base;

    int alphaSize() const { return n8_loadI32(base + kEncAlphaOff); }
    int nSelectors() const { return n8_loadI32(base + kEncSelCountOff); }
    int nTables() const { return n8_loadI32(base + kEncTablesOff); }
    // Code table t: 258 Kel32u, read and written through memcpy.
    Kel8u* codes(int t) const { return base + kEncCodesOff + sizeof(Kel32u) * kBz2MaxAlphabet * t; }
    Kel8u* len(int t) const { return base + kEncLensOff + kBz2MaxAlphabet * t; }
    Kel8u* selectors() const { return base + kEncSelOff; }
};

int n8_tableCount(int nSymbols) {
    if (nSymbols < 200) return 2;
    if (nSymbols < 600) return 3;
    if (nSymbols < 1200) return 4;
    if (nSymbols < 2400) return 5;
    return 6;
}

// ---- Code lengths --------------------------------------------------------------------------------------------------

// Huffman code lengths of `count` symbols with the given counts (0 taken as 1), at most maxLen bits.
//
// The symbols are sorted by count; merging always takes the two lightest entries, where a merged entry counts as
// heavier than leaves of equal weight and as lighter than later merged entries of equal weight. Leaves and merged
// entries each come out of their own queue in weight order, so two queues replace a heap. If the tree is deeper
// than maxLen, the per-depth leaf counts are repaired from the deepest level up: each pair of leaves there becomes
// one leaf a level up, and one leaf of the deepest level above maxLen - 1 that has leaves becomes two leaves a
// level lower. Each step keeps the Kraft sum at exactly 1. The lengths from maxLen down to the shallowest level the
// repair touched are then dealt out again, rarest symbols first and longest lengths first.
void n8_buildLengths(const Kel32u* pCount, int count, int maxLen, Kel8u* pLen) {
    if (count == 1) {
        pLen[0] = 1;
        return;
    }
    Kel32s weight[kBz2MaxAlphabet];
    int order[kBz2MaxAlphabet];
    for (int v = 0; v < count; ++v) {
        const Kel32u c = pCount[v] == 0 ? 1 : pCount[v];
        weight[v] = c > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<Kel32s>(c);
    }
    n8_kelsSortIndexAscend_32s_I(weight, order, count);

    // Nodes 0 .. count-1 are the sorted leaves, count .. 2*count-2 the merged entries in creation order.
    Kel64u nodeWeight[2 * kBz2MaxAlphabet];
    int parent[2 * kBz2MaxAlphabet];
    for (int i = 0; i < count; ++i) nodeWeight[i] = static_cast<Kel64u>(weight[i]);
    int nextLeaf = 0, nextMerged = count, created = count;
    for (int k = 0; k < count - 1; ++k) {
        int pick[2];
        for (int p = 0; p < 2; ++p) {
            if (nextLeaf < count && (nextMerged == created || nodeWeight[nextLeaf] <= nodeWeight[nextMerged])) {
                pick[p] = nextLeaf++;
            } else {
                pick[p] = nextMerged++;
            }
        }
        nodeWeight[created] = nodeWeight[pick[0]] + nodeWeight[pick[1]];
        parent[pick[0]] = parent[pick[1]] = created;
        ++created;
    }
    int depth[2 * kBz2MaxAlphabet];
    const int root = created - 1;
    depth[root] = 0;
    for (int i = root - 1; i >= 0; --i) depth[i] = depth[parent[i]] + 1;

    int maxDepth = 0;
    for (int i = 0; i < count; ++i) maxDepth = depth[i] > maxDepth ? depth[i] : maxDepth;
    if (maxDepth > maxLen) {
        int levelCount[2 * kBz2MaxAlphabet] = {};
        for (int i = 0; i < count; ++i) ++levelCount[depth[i]];
        int shallowest = maxLen;
        for (int level = maxDepth; level > maxLen; --level) {
            while (levelCount[level] >= 2) {
                int l = maxLen - 1;
                while (l > 1 && levelCount[l] == 0) --l;
                levelCount[level] -= 2;
                levelCount[level - 1] += 1;
                levelCount[l] -= 1;
                levelCount[l + 1] += 2;
                shallowest = l < shallowest ? l : shallowest;
            }
        }
        // Sorted leaves whose depth reaches the touched levels, rarest first, get the lengths again.
        int level = maxLen;
        int left = levelCount[level];
        for (int i = 0; i < count; ++i) {
            if (depth[i] < shallowest) continue;
            while (left == 0 && level > 1) left = levelCount[--level];
            depth[i] = level;
            --left;
        }
    }
    for (int i = 0; i < count; ++i) pLen[order[i]] = static_cast<Kel8u>(depth[i]);
}

// Canonical codes: per length in increasing order, consecutive values in increasing symbol order; the first value
// of a length is (first value + count of the previous length) * 2.
void n8_assignCodes(const Kel8u* pLen, int count, Kel8u* pCode) {
    Kel32u next = 0;
    for (int length = 1; length <= kBz2DecodeMaxLen; ++length) {
        for (int v = 0; v < count; ++v) {
            if (pLen[v] == length) n8_storeU32(pCode + sizeof(Kel32u) * v, next++);
        }
        next <<= 1;
    }
}

// ---- Bit output ------------------------------------------------------------------------------------------------

// The caller's bit buffer widened to 64 bits. At the end of a call every whole byte goes out while there is room,
// so a call that had room leaves at most 7 bits (the partial last byte) in the caller's buffer: a caller that pads
// that byte or appends its trailer to it loses nothing. Bits that find neither room in the destination nor in the
// buffer are counted as lost; the caller sees them as a count above 32.
class BitSink {
public:
    BitSink(Kel32u buf, int count, Kel8u* pDst, int cap) : dst_(pDst), cap_(cap) {
        if (count < 0) count = 0;
        if (count > 32) {
            lost_ = count - 32;
            count = 32;
        }
        const Kel32u mask = count == 0 ? 0u : ~Kel32u{0} << (32 - count);
        acc_ = static_cast<Kel64u>(buf & mask) << 32;
        cnt_ = count;
    }

    // Appends the low len bits of bits, len <= 32.
    void put(Kel32u bits, int len) {
        if (cnt_ >= 32 && cap_ - pos_ >= 4) {
            const Kel32u word = __builtin_bswap32(static_cast<Kel32u>(acc_ >> 32));
            __builtin_memcpy(dst_ + pos_, &word, 4);
            pos_ += 4;
            acc_ <<= 32;
            cnt_ -= 32;
        }
        if (cnt_ + len > 64) {
            while (cnt_ >= 8 && pos_ < cap_) shiftOutByte();
        }
        if (lost_ > 0 || cnt_ + len > 64) {
            lost_ += len;
            return;
        }
        acc_ |= static_cast<Kel64u>(bits) << (64 - cnt_ - len);
        cnt_ += len;
    }

    // Writes back the caller's buffer and count; returns the bytes written.
    int finish(Kel32u* pBuf, int* pCount) {
        while (cnt_ >= 8 && pos_ < cap_) shiftOutByte();
        if (cnt_ > 32) {
            // No room was left: keep the oldest 32 bits, count the rest as lost.
            lost_ += cnt_ - 32;
            cnt_ = 32;
        }
        *pBuf = static_cast<Kel32u>(acc_ >> 32);
        const Kel64s total = static_cast<Kel64s>(cnt_) + lost_;
        *pCount = total > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(total);
        return pos_;
    }

private:
    void shiftOutByte() {
        dst_[pos_++] = static_cast<Kel8u>(acc_ >> 56);
        acc_ <<= 8;
        cnt_ -= 8;
    }

    Kel64u acc_ = 0;
    int cnt_ = 0;
    Kel8u* dst_;
    int cap_;
    int pos_ = 0;
    Kel64s lost_ = 0;
};

}  // namespace

extern "C" KelStatus n8_kelsEncodeHuffGetSize_BZ2_16u8u(int wndSize, int* pEncodeHuffStateSize) {
    if (pEncodeHuffStateSize == nullptr) return kelStatusNullPointer;
    if (wndSize < 1) return kelStatusBadSize;
    *pEncodeHuffStateSize = ((wndSize - 1) / kBz2GroupSize + 1) * 2 + 7780;
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsEncodeHuffInit_BZ2_16u8u(int sizeDictionary, const Kel32u freqTable[258],
                                                     const Kel16u* pSrc, int srcLen, Kel8u* pHuffState) {
    if (freqTable == nullptr || pSrc == nullptr || pHuffState == nullptr) return kelStatusNullPointer;
    if (sizeDictionary < 1 || sizeDictionary > kBz2MaxAlphabet || srcLen < 1) return kelStatusBadSize;

    const EncState st{pHuffState};
    Kel8u* const sel = st.selectors();
    const int alpha = sizeDictionary;
    const int nTables = n8_tableCount(srcLen);
    const int nSelectors = (srcLen - 1) / kBz2GroupSize + 1;
    const int last = alpha - 1;
    n8_storeI32(pHuffState + kEncAlphaOff, alpha);
    n8_storeI32(pHuffState + kEncSelCountOff, nSelectors);
    n8_storeI32(pHuffState + kEncTablesOff, nTables);
    {
        Kel32u* const pCodes = reinterpret_cast<Kel32u*>(st.codes(0));
        Kel8u* const pLens = st.len(0);
        __builtin_memcpy(pHuffState + kEncCodesPtrOff, &pCodes, sizeof pCodes);
        __builtin_memcpy(pHuffState + kEncLensPtrOff, &pLens, sizeof pLens);
        __builtin_memcpy(pHuffState + kEncSelPtrOff, &sel, sizeof sel);
    }

    // Initial tables: consecutive bands of roughly equal frequency, the first band for the last table. Every
    // second band after the first (but not the last) gives its final symbol to the next band unless that symbol
    // is all the band holds.
    {
        Kel64u remaining = 0;
        for (int v = 0; v < alpha; ++v) remaining += freqTable[v];
        int bandStart = 0;
        for (int parts = nTables; parts > 0; --parts) {
            const Kel64u target = remaining / static_cast<Kel64u>(parts);
            int bandEnd = bandStart - 1;
            Kel64u got = 0;
            while (got < target && bandEnd < last) got += freqTable[++bandEnd];
            if (bandEnd >= bandStart && parts != nTables && parts != 1 && (nTables - parts) % 2 == 1 &&
                got != freqTable[bandEnd]) {
                got -= freqTable[bandEnd--];
            }
            Kel8u* const len = st.len(parts - 1);
            for (int v = 0; v < alpha; ++v) len[v] = (v >= bandStart && v <= bandEnd) ? 0 : kInitialCost;
            bandStart = bandEnd + 1;
            remaining -= got;
        }
    }

    Kel32u tableFreq[kBz2MaxTables][kBz2MaxAlphabet];
    Kel64u packed[kBz2MaxAlphabet];
    for (int iter = 0; iter < kIterations; ++iter) {
        for (int t = 0; t < nTables; ++t) {
            for (int v = 0; v < alpha; ++v) tableFreq[t][v] = 0;
        }
        for (int v = 0; v < alpha; ++v) {
            Kel64u p = 0;
            for (int t = 0; t < nTables; ++t) p |= static_cast<Kel64u>(st.len(t)[v]) << (kCostBits * t);
            packed[v] = p;
        }
        for (int g = 0; g < nSelectors; ++g) {
            const int gs = g * kBz2GroupSize;
            const int ge = gs + kBz2GroupSize < srcLen ? gs + kBz2GroupSize : srcLen;
            Kel64u cost = 0;
            for (int i = gs; i < ge; ++i) cost += packed[pSrc[i] < alpha ? pSrc[i] : last];
            int best = 0;
            Kel32u bestCost = static_cast<Kel32u>(cost) & ((1u << kCostBits) - 1);
            for (int t = 1; t < nTables; ++t) {
                const Kel32u c = static_cast<Kel32u>(cost >> (kCostBits * t)) & ((1u << kCostBits) - 1);
                if (c < bestCost) {
                    bestCost = c;
                    best = t;
                }
            }
            sel[g] = static_cast<Kel8u>(best);
            for (int i = gs; i < ge; ++i) ++tableFreq[best][pSrc[i] < alpha ? pSrc[i] : last];
        }
        for (int t = 0; t < nTables; ++t) n8_buildLengths(tableFreq[t], alpha, kBz2EncodeMaxLen, st.len(t));
    }
    for (int t = 0; t < nTables; ++t) n8_assignCodes(st.len(t), alpha, st.codes(t));
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsPackHuffContext_BZ2_16u8u(Kel32u* pCode, int* pCodeLenBits, Kel8u* pDst, int* pDstLen,
                                                      Kel8u* pHuffState) {
    if (pCode == nullptr || pCodeLenBits == nullptr || pDst == nullptr || pDstLen == nullptr) {
        return kelStatusNullPointer;
    }
    if (pHuffState == nullptr) return kelStatusNullPointer;
    if (*pDstLen < 1) return kelStatusBadSize;

    const EncState st{pHuffState};
    const int tables = st.nTables(), alphaSize = st.alphaSize();
    const int nTables = tables < 2 ? 2 : (tables > kBz2MaxTables ? kBz2MaxTables : tables);
    const int alpha = alphaSize < 1 ? 1 : (alphaSize > kBz2MaxAlphabet ? kBz2MaxAlphabet : alphaSize);
    const int nSelectors = st.nSelectors();
    Kel8u* const sel = st.selectors();
    Kel8u* const selMtf = sel + nSelectors;

    BitSink out(*pCode, *pCodeLenBits, pDst, *pDstLen);
    out.put(static_cast<Kel32u>(nTables), 3);
    out.put(static_cast<Kel32u>(nSelectors), 15);
    if (nSelectors > 0) {
        alignas(16) Kel8u list[256];
        for (int i = 0; i < 256; ++i) list[i] = static_cast<Kel8u>(i);
        n8_ownsMTFFwd_8u(sel, selMtf, nSelectors, list);
        for (int g = 0; g < nSelectors; ++g) {
            // v one-bits and a zero-bit; a corrupt selector cannot make the run longer than the tables.
            const int v = selMtf[g] < kBz2MaxTables ? selMtf[g] : kBz2MaxTables - 1;
            out.put((1u << (v + 1)) - 2, v + 1);
        }
    }
    for (int t = 0; t < nTables; ++t) {
        const Kel8u* const len = st.len(t);
        int cur = len[0];
        out.put(static_cast<Kel32u>(cur), 5);
        for (int v = 0; v < alpha; ++v) {
            while (cur < len[v]) {
                out.put(2, 2);  // 1 0: one longer
                ++cur;
            }
            while (cur > len[v]) {
                out.put(3, 2);  // 1 1: one shorter
                --cur;
            }
            out.put(0, 1);
        }
    }
    *pDstLen = out.finish(pCode, pCodeLenBits);
    return *pCodeLenBits > 32 ? kelStatusDstFull : kelStatusOk;
}

extern "C" KelStatus n8_kelsEncodeHuff_BZ2_16u8u(Kel32u* pCode, int* pCodeLenBits, const Kel16u** ppSrc, int* pSrcLen,
                                                 Kel8u* pDst, int* pDstLen, Kel8u* pHuffState) {
    if (pCode == nullptr || pCodeLenBits == nullptr || ppSrc == nullptr || pSrcLen == nullptr) {
        return kelStatusNullPointer;
    }
    if (*ppSrc == nullptr || pDst == nullptr || pDstLen == nullptr || pHuffState == nullptr) {
        return kelStatusNullPointer;
    }
    if (*pDstLen < 1) return kelStatusBadSize;

    const EncState st{pHuffState};
    const int alphaSize = st.alphaSize();
    const int alpha = alphaSize < 1 ? 1 : (alphaSize > kBz2MaxAlphabet ? kBz2MaxAlphabet : alphaSize);
    const int lastSelector = st.nSelectors() - 1;
    const Kel8u* const sel = st.selectors();
    const Kel16u* const src = *ppSrc;
    const int n = *pSrcLen > 0 ? *pSrcLen : 0;

    BitSink out(*pCode, *pCodeLenBits, pDst, *pDstLen);
    for (int gs = 0, g = 0; gs < n; gs += kBz2GroupSize, ++g) {
        int t = lastSelector < 0 ? 0 : sel[g < lastSelector ? g : lastSelector];
        if (t >= kBz2MaxTables) t = 0;
        const Kel8u* const code = st.codes(t);
        const Kel8u* const len = st.len(t);
        const int ge = gs + kBz2GroupSize < n ? gs + kBz2GroupSize : n;
        for (int i = gs; i < ge; ++i) {
            const int v = src[i] < alpha ? src[i] : alpha - 1;
            out.put(n8_loadU32(code + sizeof(Kel32u) * v), len[v]);
        }
    }
    *pDstLen = out.finish(pCode, pCodeLenBits);
    *ppSrc = src + n;
    *pSrcLen = 0;
    return *pCodeLenBits > 32 ? kelStatusDstFull : kelStatusOk;
}

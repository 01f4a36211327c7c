// src/dc/bzip2/huff_decode.cpp - reading a bzip2 table-and-selector section, and decoding a block's symbols.
//
// Both functions are resumable at any byte boundary of the source: the progress lives in the state, the unread
// bits in the caller's 32-bit buffer. Source bytes are taken into the buffer only as the next step needs them
// (18 bits for the section header, up to 6 per selector, 20 before each symbol), so the buffer never holds more
// than 27 bits between calls.
//
// Decoding tables per coding table: codes of up to 8 bits resolve with one look-up of the next 8 bits; longer
// codes (9 to 20 bits) are found by comparing the next 20 bits with the left-aligned end of the codes of each
// length. Canonical codes of length L occupy [first(L), first(L) + count(L)) and the codes of length <= L fill
// [0, limit(L)) of the 20-bit space, so the first length whose limit exceeds the bits names the code, and its
// symbol is found in the list of symbols sorted by length.
#include "core/dc_exports.h"
#include "dc/bzip2/bzip2_internal.h"

namespace {

constexpr int kFastBits = 8;
constexpr int kPeekBits = kBz2DecodeMaxLen;  // bits held before each symbol

struct HuffDecTable {
    Kel16u fast[1 << kFastBits];         // (symbol << 4) | length for codes of at most 8 bits; 0 otherwise
    Kel32u limit[kBz2DecodeMaxLen + 1];  // end of the codes of length <= L, left-aligned to 20 bits
    Kel32s base[kBz2DecodeMaxLen + 1];   // index in sorted of the length-L code value v is base[L] + v
    Kel16u sorted[kBz2MaxAlphabet];      // symbols by code length, then by value
};

enum Stage : Kel32s { kHeader = 0, kSelectors = 1, kTables = 2 };

// The decoder state, placed at the first 4-byte boundary of the caller's block; the selector list follows it.
// The list keeps at most 18002 selectors, the most a block of 900 000 bytes can use; a section may announce up to
// 32767, and the ones past the kept count are checked and dropped (no group of a real block reaches them). The
// size function reports room for the whole list whatever block size it is asked for: Init and the section reader
// never learn that size, so a state sized for a short block must still hold the largest announcement.
struct HuffDecState {
    Kel32s alphaSize;
    Kel32s ready;  // 1 once a complete section has been read
    Kel32s stage;
    Kel32s nTables;
    Kel32s nSelectors;  // as announced, 1 to 32767
    Kel32s nKept;       // selectors stored: min(nSelectors, kBz2MaxSelectors)
    Kel32s nRead;       // selectors read
    Kel32s table;       // table whose lengths are being read
    Kel32s symbol;      // lengths read of that table; -1 before its 5-bit start length
    Kel32s length;      // current length
    Kel32s group;       // symbol decoding: current group of 50 ...
    Kel32s position;    // ... and symbols decoded in it
    Kel8u lens[kBz2MaxAlphabet + 2];
    HuffDecTable tables[kBz2MaxTables];
};
// Bytes of the block besides the selector list: the state, plus up to 3 bytes before its 4-byte boundary.
constexpr int kDecFixedSize = 9364;
static_assert(sizeof(HuffDecState) + 3 <= kDecFixedSize, "decoder state outgrows its fixed size");

HuffDecState* n8_decState(Kel8u* p) {
    return reinterpret_cast<HuffDecState*>(n8_alignUp(p, 4));
}
Kel8u* n8_selectors(HuffDecState* st) {
    return reinterpret_cast<Kel8u*>(st + 1);
}

void n8_resetProgress(HuffDecState* st) {
    st->stage = kHeader;
    st->nRead = 0;
    st->table = 0;
    st->symbol = -1;
    st->length = 0;
    st->group = 0;
    st->position = 0;
}

// The caller's bit buffer, widened: bits are kept at the top of a 64-bit word.
struct BitSource {
    Kel64u acc;
    int cnt;
    const Kel8u* src;
    int srcLen;

    BitSource(Kel32u buf, int count, const Kel8u* pSrc, int len) : src(pSrc), srcLen(len > 0 ? len : 0) {
        cnt = count < 0 ? 0 : (count > 32 ? 32 : count);
        const Kel32u mask = cnt == 0 ? 0u : ~Kel32u{0} << (32 - cnt);
        acc = static_cast<Kel64u>(buf & mask) << 32;
    }

    // Takes source bytes until k bits are held; false if the source ran out first.
    bool need(int k) {
        while (cnt < k) {
            if (srcLen == 0) return false;
            acc |= static_cast<Kel64u>(*src++) << (56 - cnt);
            cnt += 8;
            --srcLen;
        }
        return true;
    }
    Kel32u peek(int k) const { return static_cast<Kel32u>(acc >> (64 - k)); }
    void skip(int k) {
        acc <<= k;
        cnt -= k;
    }

    void store(Kel32u* pBuf, int* pCount, const Kel8u** ppSrc, int* pSrcLen) const {
        *pBuf = static_cast<Kel32u>(acc >> 32);
        *pCount = cnt;
        *ppSrc = src;
        *pSrcLen = srcLen;
    }
};

// Builds the decoding table of alpha lengths (each 1 to 20). False for an over-subscribed set, whose codes would
// overlap; an incomplete set is accepted (its unused bit strings are rejected when met).
bool n8_buildTable(const Kel8u* pLen, int alpha, HuffDecTable* tab) {
    int count[kBz2DecodeMaxLen + 1] = {};
    for (int v = 0; v < alpha; ++v) ++count[pLen[v]];
    Kel32u space = 0;
    for (int l = 1; l <= kBz2DecodeMaxLen; ++l) space += static_cast<Kel32u>(count[l]) << (kBz2DecodeMaxLen - l);
    if (space > (1u << kBz2DecodeMaxLen)) return false;

    int offset[kBz2DecodeMaxLen + 2];
    Kel32u first[kBz2DecodeMaxLen + 1];
    Kel32u code = 0;
    int index = 0;
    for (int l = 1; l <= kBz2DecodeMaxLen; ++l) {
        first[l] = code;
        offset[l] = index;
        tab->limit[l] = (code + count[l]) << (kBz2DecodeMaxLen - l);
        tab->base[l] = index - static_cast<Kel32s>(code);
        index += count[l];
        code = (code + count[l]) << 1;
    }
    int next[kBz2DecodeMaxLen + 1];
    for (int l = 1; l <= kBz2DecodeMaxLen; ++l) next[l] = offset[l];
    for (int v = 0; v < alpha; ++v) tab->sorted[next[pLen[v]]++] = static_cast<Kel16u>(v);

    for (int i = 0; i < (1 << kFastBits); ++i) tab->fast[i] = 0;
    for (int l = 1; l <= kFastBits; ++l) {
        for (int k = 0; k < count[l]; ++k) {
            const Kel32u c = first[l] + static_cast<Kel32u>(k);
            const Kel16u entry = static_cast<Kel16u>((tab->sorted[offset[l] + k] << 4) | l);
            const int from = static_cast<int>(c << (kFastBits - l)), to = static_cast<int>((c + 1) << (kFastBits - l));
            for (int i = from; i < to; ++i) tab->fast[i] = entry;
        }
    }
    return true;
}

// Reads the section from the state's stage on. Returns 0, kelStatusSrcExhausted or kelStatusBadStream.
KelStatus n8_readSection(HuffDecState* st, BitSource& in) {
    Kel8u* const sel = n8_selectors(st);
    if (st->stage == kHeader) {
        if (!in.need(18)) return kelStatusSrcExhausted;
        const int nTables = static_cast<int>(in.peek(3));
        const int nSelectors = static_cast<int>(in.peek(18) & 0x7FFF);
        in.skip(18);
        if (nTables < 2 || nTables > kBz2MaxTables) return kelStatusBadStream;
        if (nSelectors < 1) return kelStatusBadStream;
        st->nTables = nTables;
        st->nSelectors = nSelectors;
        st->nKept = nSelectors < kBz2MaxSelectors ? nSelectors : kBz2MaxSelectors;
        st->nRead = 0;
        st->stage = kSelectors;
    }
    if (st->stage == kSelectors) {
        const int nTables = st->nTables;
        while (st->nRead < st->nSelectors) {
            in.need(6);
            // Leading one-bits among the bits held; the bits below the count are zero, so ~acc is never 0.
            const int ones = __builtin_clzll(~in.acc);
            if (ones >= nTables) return kelStatusBadStream;
            if (ones >= in.cnt) return kelStatusSrcExhausted;  // no terminating zero yet
            in.skip(ones + 1);
            // Selectors past the kept ones must still name a table, but nothing is stored for them.
            if (st->nRead < st->nKept) sel[st->nRead] = static_cast<Kel8u>(ones);
            ++st->nRead;
        }
        alignas(16) Kel8u list[256];
        for (int i = 0; i < 256; ++i) list[i] = static_cast<Kel8u>(i);
        n8_ownsMTFInv_8u(sel, sel, st->nKept, list);
        st->stage = kTables;
        st->table = 0;
        st->symbol = -1;
    }
    const int alpha = st->alphaSize;
    while (st->table < st->nTables) {
        if (st->symbol < 0) {
            if (!in.need(5)) return kelStatusSrcExhausted;
            const int start = static_cast<int>(in.peek(5));
            if (start < 1 || start > kBz2DecodeMaxLen) return kelStatusBadStream;
            in.skip(5);
            st->length = start;
            st->symbol = 0;
        }
        // Each symbol's length: pairs 1 0 (one longer) and 1 1 (one shorter), then a 0. The length must stay
        // within 1 to 20 at every step.
        int length = st->length;
        while (st->symbol < alpha) {
            in.need(2);
            if (in.cnt < 1) {
                st->length = length;
                return kelStatusSrcExhausted;
            }
            if ((in.acc >> 63) == 0) {
                in.skip(1);
                st->lens[st->symbol++] = static_cast<Kel8u>(length);
                continue;
            }
            if (in.cnt < 2) {
                st->length = length;
                return kelStatusSrcExhausted;
            }
            length += ((in.acc >> 62) & 1) ? -1 : 1;
            in.skip(2);
            if (length < 1 || length > kBz2DecodeMaxLen) return kelStatusBadStream;
        }
        st->length = length;
        if (!n8_buildTable(st->lens, alpha, &st->tables[st->table])) return kelStatusBadStream;
        ++st->table;
        st->symbol = -1;
    }
    n8_resetProgress(st);
    st->ready = 1;
    return kelStatusOk;
}

}  // namespace

extern "C" KelStatus n8_kelsDecodeHuffGetSize_BZ2_8u16u(int wndSize, int* pDecodeHuffStateSize) {
    if (pDecodeHuffStateSize == nullptr) return kelStatusNullPointer;
    if (wndSize < 1) return kelStatusBadSize;
    // Never less than the room for every selector a section can leave in the state (see HuffDecState).
    const int groups = (wndSize - 1) / kBz2GroupSize + 1;
    *pDecodeHuffStateSize = (groups > kBz2MaxSelectors ? groups : kBz2MaxSelectors) + kDecFixedSize;
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsDecodeHuffInit_BZ2_8u16u(int sizeDictionary, Kel8u* pHuffState) {
    if (pHuffState == nullptr) return kelStatusNullPointer;
    if (sizeDictionary < 1 || sizeDictionary > kBz2MaxAlphabet) return kelStatusBadSize;
    HuffDecState* const st = n8_decState(pHuffState);
    st->alphaSize = sizeDictionary;
    st->ready = 0;
    st->nTables = 0;
    st->nSelectors = 0;
    st->nKept = 0;
    n8_resetProgress(st);
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsUnpackHuffContext_BZ2_8u16u(Kel32u* pCode, int* pCodeLenBits, const Kel8u** ppSrc,
                                                        int* pSrcLen, Kel8u* pHuffState) {
    if (pCode == nullptr || ppSrc == nullptr || pSrcLen == nullptr || pHuffState == nullptr ||
        pCodeLenBits == nullptr) {
        return kelStatusNullPointer;
    }
    if (*ppSrc == nullptr) return kelStatusNullPointer;
    if (*pSrcLen < 1) return kelStatusBadSize;

    HuffDecState* const st = n8_decState(pHuffState);
    if (st->alphaSize < 1 || st->alphaSize > kBz2MaxAlphabet || st->stage < kHeader || st->stage > kTables) {
        return kelStatusBadStream;
    }
    if (st->stage == kHeader) st->ready = 0;
    BitSource in(*pCode, *pCodeLenBits, *ppSrc, *pSrcLen);
    const KelStatus status = n8_readSection(st, in);
    in.store(pCode, pCodeLenBits, ppSrc, pSrcLen);
    return status;
}

extern "C" KelStatus n8_kelsDecodeHuff_BZ2_8u16u(Kel32u* pCode, int* pCodeLenBits, const Kel8u** ppSrc, int* pSrcLen,
                                                 Kel16u* pDst, int* pDstLen, Kel8u* pHuffState) {
    if (pCode == nullptr || pCodeLenBits == nullptr || ppSrc == nullptr || pSrcLen == nullptr) {
        return kelStatusNullPointer;
    }
    if (*ppSrc == nullptr || pDst == nullptr || pDstLen == nullptr || pHuffState == nullptr) {
        return kelStatusNullPointer;
    }
    if (*pDstLen < 1) return kelStatusBadSize;

    HuffDecState* const st = n8_decState(pHuffState);
    if (st->ready != 1 || st->nTables < 2 || st->nTables > kBz2MaxTables || st->nKept < 1 ||
        st->nKept > kBz2MaxSelectors || st->alphaSize < 1 || st->alphaSize > kBz2MaxAlphabet) {
        return kelStatusBadStream;
    }
    const Kel8u* const sel = n8_selectors(st);
    const int endOfBlock = st->alphaSize - 1;
    const int cap = *pDstLen;
    BitSource in(*pCode, *pCodeLenBits, *ppSrc, *pSrcLen);
    int group = st->group, position = st->position;
    int out = 0;
    KelStatus status;

    for (;;) {
        if (position == kBz2GroupSize) {
            ++group;
            position = 0;
        }
        if (group >= st->nKept || sel[group] >= st->nTables) {
            status = kelStatusBadStream;
            break;
        }
        const HuffDecTable* const tab = &st->tables[sel[group]];
        // The rest of the group decodes with this table.
        int sym = -1;
        while (position < kBz2GroupSize) {
            if (!in.need(kPeekBits)) {
                sym = -2;
                break;
            }
            const Kel32u top = in.peek(kPeekBits);
            const unsigned entry = tab->fast[top >> (kPeekBits - kFastBits)];
            int length;
            if (entry != 0) {
                sym = static_cast<int>(entry >> 4);
                length = static_cast<int>(entry & 15);
            } else {
                length = kFastBits + 1;
                while (length <= kBz2DecodeMaxLen && top >= tab->limit[length]) ++length;
                if (length > kBz2DecodeMaxLen) {
                    sym = -3;
                    break;
                }
                const int index = tab->base[length] + static_cast<int>(top >> (kPeekBits - length));
                if (index < 0 || index >= st->alphaSize) {
                    sym = -3;
                    break;
                }
                sym = tab->sorted[index];
            }
            in.skip(length);
            pDst[out++] = static_cast<Kel16u>(sym);
            ++position;
            if (sym == endOfBlock || out == cap) break;
        }
        if (sym == -2) {
            status = kelStatusSrcExhausted;
            break;
        }
        if (sym == -3) {
            status = kelStatusBadStream;
            break;
        }
        if (sym == endOfBlock) {
            --out;
            group = 0;
            position = 0;
            status = kelStatusOk;
            break;
        }
        if (out == cap) {
            status = in.srcLen == 0 ? kelStatusSrcExhausted : kelStatusDstFull;
            break;
        }
    }
    st->group = group;
    st->position = position;
    in.store(pCode, pCodeLenBits, ppSrc, pSrcLen);
    *pDstLen = out;
    return status;
}

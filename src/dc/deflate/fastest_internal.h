// src/dc/deflate/fastest_internal.h - pieces shared by the single-probe Deflate path: byte access to a call's
// positions, the position hash, rebasing, the length-limited code construction, the run-length coding of code
// lengths and the constant code tables.
//
// The single-probe path keeps one head entry per hash value and no chains: a position is compared with the newest
// earlier position of the same hash only. Statistics (fastest_stat.cpp) and encoding (fastest_encode.cpp) run the
// same parse, so codes built from the statistics of a block fit the symbols its encoding writes.
#pragma once

#include <cstddef>

#include "dc/deflate/deflate_internal.h"
#include "dc/deflate/deflate_tables.h"
#include "dc/deflate/rand_vec.h"
#include "keldc.h"

namespace kel::deflate {

inline constexpr int kFastLitLenSymbols = 286;
inline constexpr int kFastDistSymbols = 30;
inline constexpr int kFastCodeLengthSymbols = 19;
inline constexpr int kFastMaxMatch = 258;

// ---- Constant tables ------------------------------------------------------------------------------------------

// Order in which a dynamic header sends the code lengths of the code-length code (RFC 1951 3.2.7).
inline constexpr Kel8u cod_len_cod[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Extra-bit counts of the length codes (symbol 257 + k) and of the distance codes.
inline constexpr Kel8u addNumBitLenTable[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
inline constexpr Kel8u addNumBitDistTable[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                                 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// Reverses the n low bits of code (n up to 32; higher bits of code are ignored).
constexpr Kel32u n8_reverseBits(Kel32u code, Kel32u n) {
    Kel32u r = 0;
    for (Kel32u b = 0; b < n; ++b, code >>= 1) r = (r << 1) | (code & 1);
    return r;
}

struct FixedLitTable {
    DeflateCodeEntry v[288];
};
struct FixedDistTable {
    DeflateCodeEntry v[30];
};

// The fixed literal/length code of RFC 1951 3.2.6: 0-143 8 bits from 0x30, 144-255 9 bits from 0x190, 256-279
// 7 bits from 0, 280-287 8 bits from 0xC0; stored bit-reversed for least-significant-first output.
constexpr FixedLitTable n8_makeStaticLtree() {
    FixedLitTable t{};
    for (Kel32u i = 0; i < 288; ++i) {
        Kel32u code = 0, len = 0;
        if (i < 144) {
            code = 0x30 + i;
            len = 8;
        } else if (i < 256) {
            code = 0x190 + (i - 144);
            len = 9;
        } else if (i < 280) {
            code = i - 256;
            len = 7;
        } else {
            code = 0xC0 + (i - 280);
            len = 8;
        }
        t.v[i] = DeflateCodeEntry{Kel16u(n8_reverseBits(code, len)), Kel16u(len)};
    }
    return t;
}

// The fixed distance code: 5-bit codes equal to the distance symbol, bit-reversed.
constexpr FixedDistTable n8_makeStaticDtree() {
    FixedDistTable t{};
    for (Kel32u i = 0; i < 30; ++i) t.v[i] = DeflateCodeEntry{Kel16u(n8_reverseBits(i, 5)), 5};
    return t;
}

inline constexpr FixedLitTable kStaticLtree = n8_makeStaticLtree();
inline constexpr FixedDistTable kStaticDtree = n8_makeStaticDtree();
inline constexpr const DeflateCodeEntry (&static_ltree)[288] = kStaticLtree.v;
inline constexpr const DeflateCodeEntry (&static_dtree)[30] = kStaticDtree.v;

// ---- Symbols --------------------------------------------------------------------------------------------------

// Literal/length symbol of a match of length len (3 to 258), and distance symbol of dist (1 to 32768).
inline Kel32u n8_fastLengthSymbol(Kel32s len) {
    return 257u + litCodeTable[len - 3];
}
inline Kel32u n8_fastDistSymbol(Kel32s dist) {
    const Kel32u d1 = Kel32u(dist - 1);
    return d1 < 256 ? litCodeTable[256 + d1] : litCodeTable[512 + (d1 >> 7)];
}

// ---- Bytes ---------------------------------------------------------------------------------------------------

// Number of equal bytes of a and b from index n on (the first n are known to be equal), at most maxLen. Reads
// a[0..maxLen) and b[0..maxLen) only. Eight bytes per step; the first difference is the lowest set bit of the XOR.
inline Kel32s n8_fastMatchLen(const Kel8u* a, const Kel8u* b, Kel32s n, Kel32s maxLen) {
    for (; n + 8 <= maxLen; n += 8) {
        Kel64u x, y;
        __builtin_memcpy(&x, a + n, 8);
        __builtin_memcpy(&y, b + n, 8);
        if (x != y) return n + Kel32s(__builtin_ctzll(x ^ y) >> 3);
    }
    while (n < maxLen && a[n] == b[n]) ++n;
    return n;
}

// The bytes of one call. Position i at or after s is src[i - s]; a position below s is hist[i - s], the history
// ending at hist. kContiguous: hist == src, so one pointer reaches every position.
template <bool kContiguous>
struct FastWindow {
    const Kel8u* src;
    const Kel8u* hist;
    Kel32s s;

    const Kel8u* at(Kel32s i) const { return src + (i - s); }

    // The four bytes from position c on; c < s + (source length - 3).
    Kel32u word(Kel32s c) const {
        if (kContiguous || c >= s) return n8_load32(src + (c - s));
        if (c + 4 <= s) return n8_load32(hist + (c - s));
        Kel32u w = 0;
        for (int k = 3; k >= 0; --k) {
            const Kel32s i = c + k;
            w = (w << 8) | (i >= s ? src[i - s] : hist[i - s]);
        }
        return w;
    }

    // Length of the match of positions pos and c < pos whose first four bytes agree, at most maxLen (4 to 258,
    // pos + maxLen not past the source end). A candidate in a separate history is compared up to the history's
    // end and continues in the source, where the following positions are.
    Kel32s matchLen(Kel32s pos, Kel32s c, Kel32s maxLen) const {
        if (kContiguous || c >= s) return n8_fastMatchLen(at(pos), src + (c - s), 4, maxLen);
        const Kel32s inHist = s - c < maxLen ? s - c : maxLen;
        Kel32s n = 4;
        if (inHist > 4) {
            n = n8_fastMatchLen(at(pos), hist + (c - s), 4, inHist);
            if (n < inHist || inHist == maxLen) return n;
        }
        return n8_fastMatchLen(at(pos), src + (c - s), n, maxLen);
    }
};

// ---- Hashing in the hot loops ---------------------------------------------------------------------------------

// n8_hash4 as two lookups: the rows of the first two bytes XORed for every pair of byte values, and those of the
// last two. Two loads and two extractions replace four of each in the hot loops: about 6% faster with an 8192-head
// table (measured over the corpus), for 256 KiB of constant data, of which text touches a small part.
struct HashPairTables {
    Kel16u low[65536];   // rows 0 and 1, index byte 0 + 256 * byte 1
    Kel16u high[65536];  // rows 2 and 3, index byte 2 + 256 * byte 3
};

constexpr HashPairTables n8_makeHashPairs() {
    HashPairTables t{};
    for (int x = 0; x < 65536; ++x) {
        t.low[x] = Kel16u(randVec[x & 255] ^ randVec[256 + (x >> 8)]);
        t.high[x] = Kel16u(randVec[512 + (x & 255)] ^ randVec[768 + (x >> 8)]);
    }
    return t;
}

inline constexpr HashPairTables kHashPairs = n8_makeHashPairs();

// The hot loops come in versions for the common sizes, whose mask and window are constants: kMask 0x7FFF for a
// table whose mask keeps all 15 hash bits (every row value is below 32768, so masking changes nothing), 0x1FFF for
// 8192 heads, both with a window of 32768 bytes; kMask 0 for any other sizes, read at run time.
inline Kel32u n8_fastConstMask(Kel32u hashMask, Kel32u windowSize) {
    if (windowSize != 32768) return 0;
    if ((hashMask & 0x7FFF) == 0x7FFF) return 0x7FFF;
    return hashMask == 0x1FFF ? 0x1FFF : 0;
}

// n8_hash4 of the four low bytes of w, masked by kMask (see n8_fastConstMask) or else by mask.
template <Kel32u kMask>
inline size_t n8_fastHash4(Kel64u w, Kel32u mask) {
    const Kel32u h = Kel32u(kHashPairs.low[w & 0xFFFF]) ^ Kel32u(kHashPairs.high[(w >> 16) & 0xFFFF]);
    return kMask == 0 ? h & mask : kMask == 0x7FFF ? h : h & kMask;
}

// The eight bytes from p on as one little-endian word: the current position's four bytes, the next three
// positions' hash keys and the first bytes of a match compare all come from one load.
inline Kel64u n8_load64(const Kel8u* p) {
    Kel64u w;
    __builtin_memcpy(&w, p, 8);
    return w;
}

// One step of the contiguous loops (encoder and statistics alike, so that both see the same items): probes the
// head of hash h for position p at ip and enters p there. Returns the XOR of the eight bytes at ip with the
// candidate's (nonzero when the candidate is out of reach), and sets ahead (the eight bytes at ip), hNext (the hash
// of the next position, computed one step ahead so that its head can be loaded before this step's branch resolves)
// and d (the distance). A match needs the low four bytes of the result to be zero.
template <Kel32u kMask>
inline Kel64u n8_probeContiguous(const Kel8u* ip, Kel32u p, Kel32s* heads, size_t h, Kel32u mask, Kel32u wsMinus1,
                                 Kel64u& ahead, size_t& hNext, Kel32u& d) {
    ahead = n8_load64(ip);
    hNext = n8_fastHash4<kMask>(ahead >> 8, mask);
    // Usable when 1 <= p - c < windowSize, computed modulo 2^32 so that any table entry is safe.
    d = p - Kel32u(heads[h]);
    heads[h] = Kel32s(p);
    // The candidate's first eight bytes lie before ip + 8, so they are compared at once; a match's length is then
    // known right away when it ends within the eight.
    return d - 1 < wsMinus1 ? ahead ^ n8_load64(ip - d) : 1;
}

// The length of the match that n8_probeContiguous found (diff its result), entering the match's next three
// positions in the head table as every path of the single-probe parse does.
template <Kel32u kMask>
inline Kel32s n8_takeMatchContiguous(const Kel8u* ip, Kel32u p, Kel32u d, Kel64u diff, Kel32s* heads, size_t hNext,
                                     Kel32u mask) {
    const Kel32s len = diff != 0 ? Kel32s(__builtin_ctzll(diff) >> 3) : n8_fastMatchLen(ip, ip - d, 8, kFastMaxMatch);
    heads[hNext] = Kel32s(p + 1);
    heads[n8_fastHash4<kMask>(n8_load32(ip + 2), mask)] = Kel32s(p + 2);
    heads[n8_fastHash4<kMask>(n8_load32(ip + 3), mask)] = Kel32s(p + 3);
    return len;
}

// ---- Positions ------------------------------------------------------------------------------------------------

inline bool n8_fastSizesValid(Kel32u windowSize, Kel32u hashTableSize) {
    return windowSize >= 256 && windowSize <= 32768 && hashTableSize >= 256 && hashTableSize <= 65536;
}

// Positions shift down and sources are cut exactly as for the hash-chain matchers (deflate_internal.h), the head
// table alone being shifted.
inline void n8_fastRebaseHeads(Kel32s* heads, Kel32u n, Kel32s delta) {
    n8_rebaseTable(heads, n, delta);
}

// ---- Codes ----------------------------------------------------------------------------------------------------

// Code lengths for n symbols (1 to 286) from counts (each clamped to 0..2^31 - 1) by the flattening sort-and-merge
// construction: attempts k = 0, 1, ... raise every count by k until the longest length is at most limit, or give up
// after k = 4095. Writes len[0..n) (every symbol at least 1) and returns the longest length.
int n8_ownsFastestCodeLengths(const Kel32s* counts, int n, int limit, int* len);

// Canonical codes (RFC 1951 3.2.2) for the lengths len[0..n), bit-reversed within their lengths; a length of 0
// gives an entry {0, 0}. A length above 16, which Deflate cannot carry, stores the reversal of its code's low 16
// bits (the canonical counter runs modulo 2^32).
void n8_ownsFastestCanonicalCodes(const int* len, int n, DeflateCodeEntry* codes);

// One symbol of a run-length coded code-length sequence: 0 to 15 a length, 16 repeat the previous length 3 to 6
// times, 17 a run of 3 to 10 zeros, 18 a run of 11 to 138 zeros; extra is the value of its 2, 3 or 7 extra bits.
struct CodeLengthRun {
    Kel8u sym;
    Kel8u extra;
};

inline constexpr Kel32u n8_runExtraBits(Kel32u sym) {
    return sym == 16 ? 2 : sym == 17 ? 3 : sym == 18 ? 7 : 0;
}

// Run-length codes the lengths (codeLength fields, each 0 to 15) of codes[0..n) into out (room for n entries);
// returns the number of symbols written.
int n8_ownsFastestRunLengths(const DeflateCodeEntry* codes, int n, CodeLengthRun* out);

// Writes a bit string into bytes, least significant bit first. No bounds: the caller sizes the buffer.
class HeaderBitWriter {
public:
    explicit HeaderBitWriter(Kel8u* out) : out_(out) {}

    // n (0 to 16) low bits of v.
    void put(Kel32u v, Kel32u n) {
        acc_ |= (v & ((1u << n) - 1)) << cnt_;
        cnt_ += n;
        total_ += Kel32s(n);
        while (cnt_ >= 8) {
            *out_++ = Kel8u(acc_);
            acc_ >>= 8;
            cnt_ -= 8;
        }
    }

    // Stores the last partial byte (upper bits 0) and returns the number of bits written.
    Kel32s finish() {
        if (cnt_ != 0) *out_++ = Kel8u(acc_);
        acc_ = 0;
        cnt_ = 0;
        return total_;
    }

private:
    Kel8u* out_;
    Kel32u acc_ = 0;  // fewer than 8 bits between calls
    Kel32u cnt_ = 0;
    Kel32s total_ = 0;
};

// Writes what follows the three block-type bits of a dynamic header: HLIT - 257, HDIST - 1, HCLEN - 4, the
// code-length code's lengths clLen (19, 0 for unused symbols, in cod_len_cod order up to the last non-zero one, at
// least 4), and the runs coded with it.
void n8_ownsFastestWriteHeaderBody(HeaderBitWriter& w, const CodeLengthRun* runs, int nRuns, const int* clLen, int hlit,
                                   int hdist);

// Room for the on-the-spot header: at most 14 + 19 * 3 + 318 * 5 bits (318 run symbols of at most 5 bits; a run
// symbol with extra bits stands for several lengths and costs less per length).
inline constexpr int kFastSpotHeaderBytes = 256;

// The header the encoder generates at the start of a stream, without the three block-type bits: the literal/length
// lengths (288 entries) up to the last non-zero one from 257 on, the distance lengths up to the last non-zero one,
// and a code-length code of two lengths. All lengths must be at most 15. Writes the bits to out
// (kFastSpotHeaderBytes) and returns their number.
Kel32s n8_ownsFastestSpotHeader(const DeflateCodeEntry* pLitLenCodes, const DeflateCodeEntry* pDistCodes, Kel8u* out);

// True when every codeLength of codes[0..n) is at most 15 (a length Deflate can carry).
inline bool n8_fastLengthsValid(const DeflateCodeEntry* codes, int n) {
    // Every value above 15 has a bit above bit 3, so the OR of all lengths is at most 15 exactly when each is.
    Kel32u any = 0;
    for (int i = 0; i < n; ++i) any |= codes[i].codeLength;
    return any <= 15;
}

}  // namespace kel::deflate

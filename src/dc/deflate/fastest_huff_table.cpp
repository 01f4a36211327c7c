// src/dc/deflate/fastest_huff_table.cpp - kelsDeflateLZ77FastestGenHuffTable_8u: length-limited canonical codes
// from symbol counts, by sort-and-merge with flattening.
//
// Method. Huffman's construction on the counts sorted once: the two lightest nodes (the first two places of the
// sorted list) merge, and the merged node is inserted back in order, before any node of equal weight. Lengths that
// come out longer than the limit are not repaired; instead the whole construction runs again with every count
// raised by k = 1, 2, ..., which flattens the distribution until the longest code fits (or k reaches 4095). The
// result is the code other builds of this library produce for the same counts, which needs the exact sort
// (n8_kelsSortIndexAscend_32s_I) and its placement of equal counts, and the exact insertion rule above.
//
// Each symbol's length is its depth in the merge tree. Depths come from parent links rather than by relabelling
// member groups at each merge: the same lengths in linear time per attempt.
#include "core/dc_exports.h"
#include "dc/deflate/fastest_internal.h"
#include "primitives/primitives.h"

namespace kel::deflate {

namespace {

constexpr int kMaxSymbols = kFastLitLenSymbols;
constexpr int kMaxAttempts = 4096;  // k = 0 to 4095
constexpr Kel32s kWeightMax = 0x7FFFFFFF;

// One attempt for the weights f[0..n) (n >= 2, each at least 1): writes the depths of the n leaves to len and
// returns the largest. f and idx are scratch of n entries.
//
// The sorted list of the method is kept as two queues that merge into it: the leaves in sorted order, and the
// merged nodes, which come out in non-decreasing weight (each merge sums two weights no lighter than the last
// merge's). A merged node precedes the leaves of its weight, and the newest merged node of a weight precedes the
// older ones, so the merged nodes form groups of equal weight, each a stack. That is the insertion rule without
// moving any list entries.
int n8_mergeDepths(Kel32s* f, int* idx, int n, int* len) {
    // Nodes 0..n-1 are the leaves (by symbol), n + t the node made by merge t, 2n - 2 the root.
    int parent[2 * kMaxSymbols];
    int depth[2 * kMaxSymbols];
    int below[kMaxSymbols];           // below[t]: the node under merge t's node in its group's stack, or -1
    Kel32s groupWeight[kMaxSymbols];  // groups of merged nodes, front to back in increasing weight
    int groupTop[kMaxSymbols];
    int groupFront = 0, groupBack = 0;
    int leaf = 0;  // the next leaf is symbol idx[leaf] of weight f[leaf]
    n8_kelsSortIndexAscend_32s_I(f, idx, n);
    // Removes the list's first node; returns it and its weight in w.
    auto takeFirst = [&](Kel32s& w) {
        if (groupFront < groupBack && (leaf == n || groupWeight[groupFront] <= f[leaf])) {
            const int node = groupTop[groupFront];
            w = groupWeight[groupFront];
            groupTop[groupFront] = below[node - n];
            if (groupTop[groupFront] < 0) ++groupFront;
            return node;
        }
        w = f[leaf];
        return idx[leaf++];
    };
    for (int t = 0; t + 1 < n; ++t) {
        Kel32s wa, wb;
        const int a = takeFirst(wa);
        const int b = takeFirst(wb);
        const int node = n + t;
        parent[a] = node;
        parent[b] = node;
        const Kel64s sum64 = Kel64s(wa) + wb;
        const Kel32s sum = sum64 > kWeightMax ? kWeightMax : Kel32s(sum64);
        if (groupFront < groupBack && groupWeight[groupBack - 1] == sum) {
            below[t] = groupTop[groupBack - 1];
            groupTop[groupBack - 1] = node;
        } else {
            below[t] = -1;
            groupWeight[groupBack] = sum;
            groupTop[groupBack] = node;
            ++groupBack;
        }
    }
    const int root = 2 * n - 2;
    depth[root] = 0;
    // A node's parent is made later than the node, so walking down from the last merge sets parents first.
    for (int v = root - 1; v >= 0; --v) depth[v] = depth[parent[v]] + 1;
    int longest = 0;
    for (int i = 0; i < n; ++i) {
        len[i] = depth[i];
        if (len[i] > longest) longest = len[i];
    }
    return longest;
}

}  // namespace

int n8_ownsFastestCodeLengths(const Kel32s* counts, int n, int limit, int* len) {
    if (n < 2) {
        for (int i = 0; i < n; ++i) len[i] = 1;
        return n > 0 ? 1 : 0;
    }
    Kel32s f[kMaxSymbols];
    int idx[kMaxSymbols];
    int longest = 0;
    for (int k = 0; k < kMaxAttempts; ++k) {
        n8_kelsAddC_32s_Sfs(counts, k, f, n, 0);
        for (int i = 0; i < n; ++i) f[i] = f[i] == 0 ? 1 : f[i];
        longest = n8_mergeDepths(f, idx, n, len);
        if (longest <= limit) break;
    }
    return longest;
}

namespace {

// The low n bits of code (n from 1 to 16) in reverse order.
inline Kel32u n8_reverseLow(Kel32u code, Kel32u n) {
    Kel32u r = code & 0xFFFF;
    r = ((r & 0x5555) << 1) | ((r >> 1) & 0x5555);
    r = ((r & 0x3333) << 2) | ((r >> 2) & 0x3333);
    r = ((r & 0x0F0F) << 4) | ((r >> 4) & 0x0F0F);
    r = ((r & 0x00FF) << 8) | (r >> 8);
    return r >> (16 - n);
}

// Symbol by symbol for each length: for lengths outside the tables of n8_ownsFastestCanonicalCodes.
void n8_canonicalCodesByLength(const int* len, int n, int lmin, int lmax, DeflateCodeEntry* codes) {
    for (int i = 0; i < n; ++i) codes[i] = DeflateCodeEntry{0, 0};
    Kel32u code = 0;
    for (int l = lmin; l >= 1 && l <= lmax; ++l) {
        for (int i = 0; i < n; ++i) {
            if (len[i] != l) continue;
            const Kel32u bits = l < 16 ? Kel32u(l) : 16;
            codes[i] = DeflateCodeEntry{Kel16u(n8_reverseBits(code, bits)), Kel16u(l)};
            ++code;
        }
        code <<= 1;
    }
}

}  // namespace

void n8_ownsFastestCanonicalCodes(const int* len, int n, DeflateCodeEntry* codes) {
    int lmin = 0, lmax = 0;
    bool inTables = true;
    for (int i = 0; i < n; ++i) {
        if (len[i] == 0) continue;
        if (lmin == 0 || len[i] < lmin) lmin = len[i];
        if (len[i] > lmax) lmax = len[i];
        inTables &= len[i] >= 1 && len[i] <= kMaxSymbols;
    }
    // Lengths from the code construction stay below n (at most 285); other lengths take the slow way.
    if (!inTables) return n8_canonicalCodesByLength(len, n, lmin, lmax, codes);
    int count[kMaxSymbols + 1] = {};
    Kel32u next[kMaxSymbols + 1];
    for (int i = 0; i < n; ++i) ++count[len[i]];
    // The first code of each length, shorter lengths first; the counter runs modulo 2^32, and overflows only for
    // lengths far beyond any usable limit.
    Kel32u code = 0;
    for (int l = lmin; l >= 1 && l <= lmax; ++l) {
        next[l] = code;
        code = (code + Kel32u(count[l])) << 1;
    }
    for (int i = 0; i < n; ++i) {
        const int l = len[i];
        if (l == 0) {
            codes[i] = DeflateCodeEntry{0, 0};
            continue;
        }
        const Kel32u bits = l < 16 ? Kel32u(l) : 16;
        codes[i] = DeflateCodeEntry{Kel16u(n8_reverseLow(next[l]++, bits)), Kel16u(l)};
    }
}

}  // namespace kel::deflate

using namespace kel::deflate;

namespace {

// Counts above 2^31 - 1 (blocks beyond 2 GiB) are treated as 2^31 - 1, the largest weight the construction holds.
void n8_clampCounts(const Kel32u* counts, int n, Kel32s* out) {
    for (int i = 0; i < n; ++i) out[i] = counts[i] > 0x7FFFFFFFu ? 0x7FFFFFFF : Kel32s(counts[i]);
}

}  // namespace

extern "C" KelStatus n8_kelsDeflateLZ77FastestGenHuffTable_8u(const Kel32u* pLitLenCounts, const Kel32u* pDistCounts,
                                                              DeflateCodeEntry* pLitLenCodes,
                                                              DeflateCodeEntry* pDistCodes) {
    if (pLitLenCounts == nullptr || pDistCounts == nullptr || pLitLenCodes == nullptr || pDistCodes == nullptr) {
        return kelStatusNullPointer;
    }
    Kel32s counts[kFastLitLenSymbols];
    int len[kFastLitLenSymbols];

    n8_clampCounts(pLitLenCounts, kFastLitLenSymbols, counts);
    const int litLongest = n8_ownsFastestCodeLengths(counts, kFastLitLenSymbols, 15, len);
    n8_ownsFastestCanonicalCodes(len, kFastLitLenSymbols, pLitLenCodes);

    n8_clampCounts(pDistCounts, kFastDistSymbols, counts);
    const int distLongest = n8_ownsFastestCodeLengths(counts, kFastDistSymbols, 9, len);
    n8_ownsFastestCanonicalCodes(len, kFastDistSymbols, pDistCodes);

    return litLongest > 15 || distLongest > 9 ? kelStatusCodeLengthLimit : kelStatusOk;
}

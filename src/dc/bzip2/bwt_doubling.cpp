// src/dc/bzip2/bwt_doubling.cpp - rotation sorting by prefix doubling, for short blocks and repetitive data.
//
// Rotations are grouped by their first h characters, each group ranked by its start position in the sorted order.
// One pass sorts every group of two or more by the rank of the rotation h places further on, which orders them by
// their first 2h characters, and splits it where that key changes; h doubles until every group is a single
// rotation or the groups span the whole block (equal rotations of a periodic block stay together, which is
// harmless: they have the same last character). Ranks are updated in place during a pass: a key read after its
// group was split is a finer rank that orders the same way, so the result is unchanged. Work is O(n log n).
//
// Work buffer (18n + 80 bytes): four n-entry int32 arrays, 64-byte aligned: the order, the rank of each rotation,
// the sort key of each place and the group table (at a group's first place its size when unsorted, or minus the
// length of a run of finished places).
#include "dc/bzip2/bzip2_internal.h"

namespace {

constexpr int kSelectionMax = 8;  // groups of at most this size are sorted by selection
constexpr int kStackDepth = 64;   // quicksort always defers the smaller part: 2 * log2(2^31) entries suffice

inline void n8_swapPair(Kel32s* sa, Kel32s* key, int a, int b) {
    const Kel32s s = sa[a], k = key[a];
    sa[a] = sa[b];
    key[a] = key[b];
    sa[b] = s;
    key[b] = k;
}

}  // namespace

// Sorts places [lo, hi) of (sa, key) by key: quicksort with a three-way partition (the smaller outer part is
// deferred, so the stack stays within log2(n) entries), selection below 9 elements.
void n8_bwtSortByKey(Kel32s* sa, Kel32s* key, int lo, int hi) {
    int stackLo[kStackDepth], stackHi[kStackDepth];
    int top = 0;
    for (;;) {
        const int size = hi - lo;
        if (size <= kSelectionMax) {
            // Selection from the top: the largest remaining key goes last.
            for (int end = hi - 1; end > lo; --end) {
                int best = lo;
                for (int j = lo + 1; j <= end; ++j) {
                    if (key[j] >= key[best]) best = j;
                }
                n8_swapPair(sa, key, best, end);
            }
        } else {
            // Median of three, then a three-way partition: [lo, lt) below, [lt, gt] equal, (gt, hi) above.
            const int mid = lo + size / 2;
            Kel32s a = key[lo], b = key[mid], c = key[hi - 1];
            const Kel32s pivot = a < b ? (b < c ? b : (a < c ? c : a)) : (a < c ? a : (b < c ? c : b));
            int lt = lo, i = lo, gt = hi - 1;
            while (i <= gt) {
                const Kel32s k = key[i];
                if (k < pivot) {
                    n8_swapPair(sa, key, lt++, i++);
                } else if (k > pivot) {
                    n8_swapPair(sa, key, i, gt--);
                } else {
                    ++i;
                }
            }
            // Defer the larger outer part, go on with the smaller.
            const int leftSize = lt - lo, rightSize = hi - 1 - gt;
            int deferLo, deferHi, nextLo, nextHi;
            if (leftSize > rightSize) {
                deferLo = lo, deferHi = lt, nextLo = gt + 1, nextHi = hi;
            } else {
                deferLo = gt + 1, deferHi = hi, nextLo = lo, nextHi = lt;
            }
            if (deferHi - deferLo > 1) {
                stackLo[top] = deferLo;
                stackHi[top] = deferHi;
                ++top;
            }
            if (nextHi - nextLo > 1) {
                lo = nextLo;
                hi = nextHi;
                continue;
            }
        }
        if (top == 0) return;
        --top;
        lo = stackLo[top];
        hi = stackHi[top];
    }
}

void n8_ownsBWTDoubling_8u(const Kel8u* pSrc, Kel8u* pDst, int n, int* pIndex, Kel8u* pBuf) {
    Kel32s* const sa = reinterpret_cast<Kel32s*>(n8_alignUp(pBuf, 64));
    Kel32s* const rank = sa + n;
    Kel32s* const key = rank + n;
    Kel32s* const group = key + n;

    // Bucket the rotations by their first byte, positions ascending within a bucket.
    int start[257] = {};
    for (int i = 0; i < n; ++i) ++start[pSrc[i] + 1];
    for (int c = 0; c < 256; ++c) start[c + 1] += start[c];
    {
        int next[256];
        for (int c = 0; c < 256; ++c) next[c] = start[c];
        for (int i = 0; i < n; ++i) {
            const int c = pSrc[i];
            rank[i] = start[c];
            sa[next[c]++] = i;
        }
    }

    // Group table: buckets of two or more are unsorted groups, single places are merged into finished runs.
    bool unsorted = false;
    {
        int run = -1;
        for (int c = 0; c < 256; ++c) {
            const int size = start[c + 1] - start[c];
            if (size == 0) continue;
            if (size == 1) {
                if (run < 0) run = start[c];
                continue;
            }
            if (run >= 0) group[run] = -(start[c] - run);
            run = -1;
            group[start[c]] = size;
            unsorted = true;
        }
        if (run >= 0) group[run] = -(n - run);
    }

    for (Kel64s h = 1; unsorted && h <= n; h *= 2) {
        unsorted = false;
        const int step = static_cast<int>(h);
        int run = -1;  // first place of the finished run being extended, -1 for none
        int k = 0;
        while (k < n) {
            const int g = group[k];
            if (g < 0) {
                if (run < 0) run = k;
                k -= g;
                continue;
            }
            const int end = k + g;
            for (int j = k; j < end; ++j) {
                int t = sa[j] + step;
                if (t >= n) t -= n;
                key[j] = rank[t];
            }
            n8_bwtSortByKey(sa, key, k, end);
            // Split at every change of key; each part is ranked by its first place.
            int a = k;
            while (a < end) {
                int b = a + 1;
                while (b < end && key[b] == key[a]) ++b;
                for (int j = a; j < b; ++j) rank[sa[j]] = a;
                if (b - a == 1) {
                    if (run < 0) run = a;
                } else {
                    if (run >= 0) group[run] = -(a - run);
                    run = -1;
                    group[a] = b - a;
                    unsorted = true;
                }
                a = b;
            }
            k = end;
        }
        if (run >= 0) group[run] = -(n - run);
    }

    for (int k = 0; k < n; ++k) {
        const int s = sa[k];
        if (s == 0) {
            *pIndex = k;
            pDst[k] = pSrc[n - 1];
        } else {
            pDst[k] = pSrc[s - 1];
        }
    }
}

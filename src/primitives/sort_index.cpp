// src/primitives/sort_index.cpp - n8_kelsSortIndexAscend_32s_I, n8_kelsSortIndexDescend_32s_I: in-place sort of
// signed values that also reports where each sorted value came from.
//
// The placement of equal values is part of the contract (the Deflate fastest path ranks symbols of equal count by
// it), so the procedure is fixed step by step and must not be replaced by another sort:
// - Ranges of more than 9 elements: quicksort. The pivot is the median of a[f], a[m], a[l] (m = f + n / 2), found
//   after first ordering a[f] against a[f + 1]; the three are then stored in order at f, m, l. Partitioning runs
//   i up from f + 1 over values ordered at or before the pivot and j down from l over values ordered after it,
//   exchanging the pair where both stop, until they meet. The left part [f, i - 1] drops the pivot-equal values
//   at its end, which are already in place; the right part is [j, l]. Both parts are strictly smaller than the range.
// - Ranges of 2 to 9 elements: selection sort that moves the last of several equal maxima (for the descending
//   order: minima) to the end of the range.
// Every exchange of two values exchanges their indices too. The descending sort mirrors every value comparison.
//
// No recursion: the larger part goes onto a fixed stack and the smaller is processed next. Everything stacked
// later lies inside that smaller part, at most half the split range, so each stacked range is at most half the
// size of the one below it and the depth never exceeds log2(INT_MAX) + 1 = 32.
#include "primitives/primitives.h"

namespace {

constexpr int kSelectionSortMax = 9;
constexpr int kStackDepth = 64;

struct Range {
    int first, last;
};

// Comparisons in the direction of the sort: before(x, y) when x must strictly precede y, atOrBefore(x, y) when it
// may precede y.
template <bool kAscend>
struct Order {
    static bool before(Kel32s x, Kel32s y) { return kAscend ? x < y : x > y; }
    static bool atOrBefore(Kel32s x, Kel32s y) { return kAscend ? x <= y : x >= y; }
};

template <bool kAscend>
class IndexSorter {
public:
    IndexSorter(Kel32s* pVal, int* pIdx) : v_(pVal), idx_(pIdx) {}

    void sort(int len) {
        for (int k = 0; k < len; ++k) idx_[k] = k;
        Range stack[kStackDepth];
        int depth = 0;
        Range r{0, len - 1};
        for (;;) {
            if (r.last - r.first + 1 > kSelectionSortMax) {
                Range left, right;
                partition(r, &left, &right);
                const int nLeft = left.last - left.first + 1, nRight = right.last - right.first + 1;
                const Range big = nLeft > nRight ? left : right;
                const Range small = nLeft > nRight ? right : left;
                if (big.last > big.first) stack[depth++] = big;
                if (small.last > small.first) {
                    r = small;
                    continue;
                }
            } else {
                selectionSort(r);
            }
            if (depth == 0) break;
            r = stack[--depth];
        }
    }

private:
    using Ord = Order<kAscend>;

    struct Item {
        Kel32s val;
        int idx;
    };

    Item at(int k) const { return Item{v_[k], idx_[k]}; }
    void put(int k, Item it) {
        v_[k] = it.val;
        idx_[k] = it.idx;
    }
    void exchange(int a, int b) {
        const Item t = at(a);
        put(a, at(b));
        put(b, t);
    }

    // r holds more than kSelectionSortMax elements.
    void partition(Range r, Range* pLeft, Range* pRight) {
        const int f = r.first, l = r.last, m = f + (l - f + 1) / 2;
        if (Ord::before(v_[f], v_[f + 1])) exchange(f, f + 1);
        Item lo = at(f), hi = at(m);
        if (!Ord::atOrBefore(lo.val, hi.val)) {
            lo = at(m);
            hi = at(f);
        }
        Item t;
        if (Ord::atOrBefore(lo.val, v_[l])) {
            t = at(l);
            put(f, lo);
        } else {
            put(f, at(l));
            t = lo;
        }
        if (Ord::before(t.val, hi.val)) {
            put(m, t);
            put(l, hi);
        } else {
            put(m, hi);
            put(l, t);
        }

        // a[l] is ordered at or after the pivot, so the right part is never empty.
        const Kel32s p = v_[m];
        int i = f + 1, j = l;
        for (;;) {
            while (i < j && Ord::atOrBefore(v_[i], p)) ++i;
            if (i < j) {
                while (j > i && Ord::before(p, v_[j])) --j;
            }
            if (i == j) break;
            exchange(i, j);
        }
        int e = i - 1;
        while (e > f && v_[e] == p) --e;
        *pLeft = Range{f, e};
        *pRight = Range{j, l};
    }

    void selectionSort(Range r) {
        for (int last = r.last; last > r.first; --last) {
            int k = r.first;
            for (int q = r.first + 1; q <= last; ++q) {
                if (Ord::atOrBefore(v_[k], v_[q])) k = q;
            }
            if (k != last) exchange(k, last);
        }
    }

    Kel32s* v_;
    int* idx_;
};

template <bool kAscend>
KelStatus n8_sortIndex(Kel32s* pSrcDst, int* pDstIdx, int len) {
    if (pSrcDst == nullptr || pDstIdx == nullptr) return kelStatusNullPointer;
    if (len < 1) return kelStatusBadSize;
    IndexSorter<kAscend>(pSrcDst, pDstIdx).sort(len);
    return kelStatusOk;
}

}  // namespace

KelStatus n8_kelsSortIndexAscend_32s_I(Kel32s* pSrcDst, int* pDstIdx, int len) {
    return n8_sortIndex<true>(pSrcDst, pDstIdx, len);
}

KelStatus n8_kelsSortIndexDescend_32s_I(Kel32s* pSrcDst, int* pDstIdx, int len) {
    return n8_sortIndex<false>(pSrcDst, pDstIdx, len);
}

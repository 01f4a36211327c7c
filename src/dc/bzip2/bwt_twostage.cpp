// src/dc/bzip2/bwt_twostage.cpp - rotation sorting by the two-stage (induced) method.
//
// Types, over the cyclic block: rotation i is type A when it is greater than rotation i + 1 (s[i] > s[i+1], or
// equal bytes and i + 1 of type A) and type B when it is smaller; a block with two distinct bytes has no rotation
// equal to its successor, so every rotation has a type. B* rotations are type B followed by type A: they start
// with an ascent (s[i] < s[i+1]) that a descent follows. Only the B* rotations are sorted by comparing strings;
// then one right-to-left pass over the buckets of type B places every other type B rotation (its successor, being
// type B and larger, is already placed), and one left-to-right pass places every type A rotation the same way and
// writes the last column as it goes.
//
// The B* rotations are sorted in one of two ways. Directly, as whole rotations (multikey quicksort on 8-byte keys,
// Shell sort for small groups): fastest on ordinary data, but the work grows with the length of repeats. For
// method 0 it runs against the work budget; otherwise a group that goes deep hands the block to the second way:
// sorting B* rotations by their substring up to the next B* position and resolving ties by prefix doubling over
// the string of substring names, O(n log n) on any data.
//
// Bucket layout of the result: rotations starting with c form bucket c; its type A rotations come first (they are
// smaller than any type B rotation with the same first byte), then the type B ones by second byte c1 >= c. In a
// sub-bucket (c, c1 > c) the B* rotations come first, because their successors are type A and so smaller than
// the successors of the other type B rotations there.
//
// Work buffer (6n + 524484 bytes): the block written twice and 8 bytes more (so a rotation reads as a plain string
// and 8-byte keys never pass the end), the n-entry order, and two tables of 65536 counters. The B* rotations are
// sorted in a compact array at the front of the order (m <= n / 2 of them), their text-order positions kept at its
// end, and spread into their sub-buckets afterwards.
#include "dc/bzip2/bzip2_internal.h"

namespace {

constexpr int kShellMax = 11;    // B* groups up to this size are Shell sorted, larger ones partitioned
constexpr int kCachedMax = 512;  // B* groups up to this size are sorted with their keys in a local array
// Without a budget, direct comparison of a B* group gives up beyond this many characters per rotation (plus a
// constant for tiny groups): ordinary text needs about 15, long repeats thousands.
constexpr Kel64s kGroupCharsPerRotation = 256;
constexpr Kel64s kGroupCharsExtra = 4096;
constexpr Kel64s kUnlimited = Kel64s{1} << 62;
constexpr int kStackDepth = 128;  // partitioning defers the two smaller parts: 2 * log2(2^31) entries suffice

// Shell sort gaps: 1, 4, 10, 23, 57, 132, 301, 701, 1750, then three times the previous.
constexpr int kGaps[] = {1,       4,       10,       23,       57,        132,       301,
                         701,     1750,    5250,     15750,    47250,     141750,    425250,
                         1275750, 3827250, 11481750, 34445250, 103335750, 310007250, 930021750};
constexpr int kGapCount = sizeof(kGaps) / sizeof(kGaps[0]);

// Sorts n (key, position) pairs by key: quicksort with the median of three, insertion sort below 16 elements;
// the smaller part is deferred, so the stack stays within log2(n) entries.
void n8_sortPairs(Kel64u* keys, Kel32s* pos, int n) {
    int stackLo[32], stackHi[32];
    int top = 0, lo = 0, hi = n;
    for (;;) {
        if (hi - lo < 16) {
            for (int i = lo + 1; i < hi; ++i) {
                const Kel64u k = keys[i];
                const Kel32s p = pos[i];
                int j = i;
                while (j > lo && keys[j - 1] > k) {
                    keys[j] = keys[j - 1];
                    pos[j] = pos[j - 1];
                    --j;
                }
                keys[j] = k;
                pos[j] = p;
            }
            if (top == 0) return;
            --top;
            lo = stackLo[top];
            hi = stackHi[top];
            continue;
        }
        const int mid = lo + (hi - lo) / 2;
        const Kel64u a = keys[lo], b = keys[mid], c = keys[hi - 1];
        const Kel64u pivot = a < b ? (b < c ? b : (a < c ? c : a)) : (a < c ? a : (b < c ? c : b));
        int i = lo, j = hi - 1;
        for (;;) {
            while (keys[i] < pivot) ++i;
            while (keys[j] > pivot) --j;
            if (i >= j) break;
            const Kel64u tk = keys[i];
            keys[i] = keys[j];
            keys[j] = tk;
            const Kel32s tp = pos[i];
            pos[i] = pos[j];
            pos[j] = tp;
            ++i;
            --j;
        }
        // [lo, j] <= pivot <= [j + 1, hi)
        int smallLo = lo, smallHi = j + 1, bigLo = j + 1, bigHi = hi;
        if (smallHi - smallLo > bigHi - bigLo) {
            smallLo = j + 1, smallHi = hi, bigLo = lo, bigHi = j + 1;
        }
        stackLo[top] = bigLo;
        stackHi[top] = bigHi;
        ++top;
        lo = smallLo;
        hi = smallHi;
    }
}

struct Sorter {
    const Kel8u* t2;  // block, twice, plus 8 bytes
    Kel32s* sa;
    int n;
    Kel64s budget;  // characters still allowed; only meaningful when limited
    bool limited;
    Kel64s groupBudget = 0;  // characters still allowed for the current group (set before each group)

    // The 8 characters of rotation pos from depth d on, big-endian, with characters past the rotation's end
    // (depth n and beyond) masked to zero. d < n.
    Kel64u key(int pos, int d) const {
        Kel64u w;
        __builtin_memcpy(&w, t2 + pos + d, 8);
        w = __builtin_bswap64(w);
        const int rest = n - d;
        if (rest < 8) w &= ~Kel64u{0} << (8 * (8 - rest));
        return w;
    }

    // Compares rotations a and b from depth d: <0, 0 or >0. Charges the characters compared.
    int compare(int a, int b, int d) {
        while (d < n) {
            const Kel64u x = key(a, d), y = key(b, d);
            if (x != y) {
                charge(__builtin_clzll(x ^ y) / 8 + 1);
                return x < y ? -1 : 1;
            }
            charge(8);
            d += 8;
        }
        return 0;
    }

    void charge(Kel64s chars) {
        budget -= chars;
        groupBudget -= chars;
    }

    bool exhausted() const { return (limited && budget < 0) || groupBudget < 0; }

    // Shell sort of sa[lo, hi) from depth d, starting from the largest gap below the group size.
    bool shellSort(int lo, int hi, int d) {
        const int size = hi - lo;
        int g = kGapCount - 1;
        while (g > 0 && kGaps[g] >= size) --g;
        for (; g >= 0; --g) {
            const int h = kGaps[g];
            for (int i = lo + h; i < hi; ++i) {
                const Kel32s v = sa[i];
                int j = i;
                while (j - h >= lo && compare(sa[j - h], v, d) > 0) {
                    sa[j] = sa[j - h];
                    j -= h;
                }
                sa[j] = v;
                if (exhausted()) return false;
            }
        }
        return true;
    }

    // Sorts sa[lo, hi) (at most kCachedMax rotations) sharing their first d characters: each round computes
    // every rotation's 8-character key once, sorts (key, position) pairs in a local array and goes 8 characters
    // deeper only in runs of equal keys. Keys are read from scattered places of the block, so computing each once
    // per depth, instead of once per partition level, saves most of the cache misses.
    bool sortCached(int lo, int hi, int d) {
        Kel64u keys[kCachedMax];
        Kel32s pos[kCachedMax];
        int stackLo[kCachedMax / 2], stackHi[kCachedMax / 2], stackD[kCachedMax / 2];
        int top = 0;
        for (;;) {
            const int size = hi - lo;
            if (size <= kShellMax) {
                if (size > 1 && d < n && !shellSort(lo, hi, d)) return false;
            } else {
                for (int i = 0; i < size; ++i) {
                    pos[i] = sa[lo + i];
                    keys[i] = key(pos[i], d);
                }
                n8_sortPairs(keys, pos, size);
                int equalCount = 0;
                for (int a = 0; a < size;) {
                    int b = a + 1;
                    while (b < size && keys[b] == keys[a]) ++b;
                    sa[lo + a] = pos[a];
                    for (int i = a + 1; i < b; ++i) sa[lo + i] = pos[i];
                    if (b - a > 1 && d + 8 < n) {
                        // Runs are disjoint parts of the range, at least two places each: the stack holds them.
                        stackLo[top] = lo + a;
                        stackHi[top] = lo + b;
                        stackD[top] = d + 8;
                        ++top;
                        equalCount += b - a;
                    }
                    a = b;
                }
                charge(size + 7 * static_cast<Kel64s>(equalCount));
                if (exhausted()) return false;
            }
            if (top == 0) return true;
            --top;
            lo = stackLo[top];
            hi = stackHi[top];
            d = stackD[top];
        }
    }

    // Sorts sa[lo, hi), whose rotations share their first d characters. Multikey quicksort on 8-character keys:
    // parts below and above the pivot keep the depth, the equal part goes 8 characters deeper. The two smaller of
    // the three parts are deferred, so the stack stays within 2 log2(n) entries.
    bool sortGroup(int lo, int hi, int d) {
        int stackLo[kStackDepth], stackHi[kStackDepth], stackD[kStackDepth];
        int top = 0;
        for (;;) {
            const int size = hi - lo;
            if (size > 1 && d < n) {
                if (size <= kCachedMax) {
                    if (!sortCached(lo, hi, d)) return false;
                } else if (top + 2 > kStackDepth) {
                    if (!shellSort(lo, hi, d)) return false;
                } else {
                    const int mid = lo + size / 2;
                    const Kel64u a = key(sa[lo], d), b = key(sa[mid], d), c = key(sa[hi - 1], d);
                    const Kel64u pivot = a < b ? (b < c ? b : (a < c ? c : a)) : (a < c ? a : (b < c ? c : b));
                    int lt = lo, i = lo, gt = hi - 1;
                    while (i <= gt) {
                        const Kel32s s = sa[i];
                        const Kel64u k = key(s, d);
                        if (k < pivot) {
                            sa[i++] = sa[lt];
                            sa[lt++] = s;
                        } else if (k > pivot) {
                            sa[i] = sa[gt];
                            sa[gt--] = s;
                        } else {
                            ++i;
                        }
                    }
                    // One character per element decides its side; the equal ones matched 8 (or all that are left).
                    charge(size + 7 * static_cast<Kel64s>(gt + 1 - lt));
                    if (exhausted()) return false;
                    int partLo[3] = {lo, lt, gt + 1}, partHi[3] = {lt, gt + 1, hi};
                    int partD[3] = {d, d + 8, d};
                    int largest = 0;
                    for (int p = 1; p < 3; ++p) {
                        if (partHi[p] - partLo[p] > partHi[largest] - partLo[largest]) largest = p;
                    }
                    for (int p = 0; p < 3; ++p) {
                        if (p == largest || partHi[p] - partLo[p] < 2) continue;
                        stackLo[top] = partLo[p];
                        stackHi[top] = partHi[p];
                        stackD[top] = partD[p];
                        ++top;
                    }
                    lo = partLo[largest];
                    hi = partHi[largest];
                    d = partD[largest];
                    continue;
                }
            }
            if (top == 0) return true;
            --top;
            lo = stackLo[top];
            hi = stackHi[top];
            d = stackD[top];
        }
    }
};

// ---- Substring sort and reduced doubling ------------------------------------------------------------------------
//
// The B* substring of B* rotation i is s[i .. j + 1], with j the next B* position (cyclically). Comparing two B*
// rotations by these substrings, a proper prefix counting as smaller, orders them correctly whenever the substrings
// differ: at the end j + 1 of the shorter one the rotation is type A, while at the same offset the longer one is
// still type B (its next B* lies further on), and with equal bytes type A sorts first. When the substrings are
// equal, the rotations compare as the rotations at their next B* positions do. So the B* rotations sort as the
// rotations of the reduced cyclic string of substring names, which prefix doubling orders in O(m log m) for m B*
// rotations. Substrings are short on repetitive data, where comparing whole rotations is costly.
//
// Space, all inside the n-entry order array: the reduced order at [0, m), the names (ranks) at [m, 2m), the B*
// positions in text order at [n - m, n) while substrings are compared (dead before the names are written), and
// the doubling keys in the block copy (rewritten from the source afterwards). B* positions are at least two
// apart, so m <= n / 2.

constexpr Kel32s kSameName = static_cast<Kel32s>(0x40000000);  // order entry: same substring as the entry before
// Rotations whose first substrings are equal are compared on through up to this many substrings in all (a few
// dozen characters) before they are left to the doubling, which then only sees deep ties.
constexpr int kSubstringsCompared = 1;

struct SubstringSorter {
    const Kel8u* t2;
    Kel32s* order;      // indices k of B* rotations (text order numbers)
    const Kel32s* pos;  // pos[k]: position of the k-th B* rotation
    int m;
    int n;

    // Substring t of rotation k: the substring of the B* rotation t places after k in text order.
    int start(int k, int t) const {
        const int c = k + t < m ? k + t : k + t - m;
        return pos[c];
    }
    int length(int k, int t) const {
        const int c = k + t < m ? k + t : k + t - m;
        return (c + 1 < m ? pos[c + 1] : pos[0] + n) + 2 - pos[c];
    }

    // Seven bytes of substring t of rotation k from offset d (zero past its end) and, in the low byte, how many
    // bytes it has left, capped at 8: a substring that ends sorts before one that goes on with the same bytes.
    Kel64u key(int k, int d, int t) const {
        const int rest = length(k, t) - d;
        Kel64u w;
        __builtin_memcpy(&w, t2 + start(k, t) + d, 8);
        w = __builtin_bswap64(w) & ~Kel64u{0xFF};
        if (rest < 7) w &= ~Kel64u{0} << (8 * (8 - rest));
        return w | static_cast<Kel64u>(rest < 8 ? rest : 8);
    }

    // Compares from offset d of substring t on; 0 when equal through the last substring compared.
    int compare(int a, int b, int d, int t) const {
        for (;;) {
            const Kel64u x = key(a, d, t), y = key(b, d, t);
            if (x != y) return x < y ? -1 : 1;
            if ((x & 0xFF) == 8) {
                d += 7;
            } else if (++t == kSubstringsCompared) {
                return 0;
            } else {
                d = 2;  // the next substring starts with the last two bytes of this one
            }
        }
    }

    // Marks order[lo + 1, hi) as equal to their predecessors.
    void markEqual(int lo, int hi) {
        for (int i = lo + 1; i < hi; ++i) order[i] |= kSameName;
    }

    void insertionSort(int lo, int hi, int d, int t) {
        for (int i = lo + 1; i < hi; ++i) {
            const Kel32s v = order[i];
            int j = i;
            while (j > lo && compare(order[j - 1], v, d, t) > 0) {
                order[j] = order[j - 1];
                --j;
            }
            order[j] = v;
        }
        for (int i = lo + 1; i < hi; ++i) {
            if (compare(order[i - 1] & ~kSameName, order[i], d, t) == 0) order[i] |= kSameName;
        }
    }

    // As Sorter::sortCached: one key per entry and depth, pairs sorted locally, deeper only in runs of equal keys.
    // At most kCachedMax entries.
    void sortCached(int lo, int hi, int d, int t) {
        Kel64u keys[kCachedMax];
        Kel32s ids[kCachedMax];
        int stackLo[kCachedMax / 2], stackHi[kCachedMax / 2], stackD[kCachedMax / 2], stackT[kCachedMax / 2];
        int top = 0;
        for (;;) {
            const int size = hi - lo;
            if (size <= kShellMax) {
                if (size > 1) insertionSort(lo, hi, d, t);
            } else {
                for (int i = 0; i < size; ++i) {
                    ids[i] = order[lo + i];
                    keys[i] = key(ids[i], d, t);
                }
                n8_sortPairs(keys, ids, size);
                for (int a = 0; a < size;) {
                    int b = a + 1;
                    while (b < size && keys[b] == keys[a]) ++b;
                    for (int i = a; i < b; ++i) order[lo + i] = ids[i];
                    if (b - a > 1) {
                        if ((keys[a] & 0xFF) == 8) {
                            stackLo[top] = lo + a, stackHi[top] = lo + b, stackD[top] = d + 7, stackT[top] = t;
                            ++top;
                        } else if (t + 1 < kSubstringsCompared) {
                            stackLo[top] = lo + a, stackHi[top] = lo + b, stackD[top] = 2, stackT[top] = t + 1;
                            ++top;
                        } else {
                            markEqual(lo + a, lo + b);
                        }
                    }
                    a = b;
                }
            }
            if (top == 0) return;
            --top;
            lo = stackLo[top];
            hi = stackHi[top];
            d = stackD[top];
            t = stackT[top];
        }
    }

    // Multikey quicksort of order[lo, hi), whose rotations agree on substrings 0 to t - 1 and on the first d
    // bytes of substring t. The equal part of a partition goes 7 bytes deeper, or on to the next substring when
    // they all end within the key, or is left as a run of ties after the last substring compared.
    void sortGroup(int lo, int hi, int d) {
        int stackLo[kStackDepth], stackHi[kStackDepth], stackD[kStackDepth], stackT[kStackDepth];
        int top = 0;
        int t = 0;
        for (;;) {
            const int size = hi - lo;
            if (size > 1) {
                if (size <= kCachedMax) {
                    sortCached(lo, hi, d, t);
                } else if (top + 2 > kStackDepth) {
                    insertionSort(lo, hi, d, t);
                } else {
                    const int mid = lo + size / 2;
                    const Kel64u a = key(order[lo], d, t), b = key(order[mid], d, t), c = key(order[hi - 1], d, t);
                    const Kel64u pivot = a < b ? (b < c ? b : (a < c ? c : a)) : (a < c ? a : (b < c ? c : b));
                    int lt = lo, i = lo, gt = hi - 1;
                    while (i <= gt) {
                        const Kel32s s = order[i];
                        const Kel64u k = key(s, d, t);
                        if (k < pivot) {
                            order[i++] = order[lt];
                            order[lt++] = s;
                        } else if (k > pivot) {
                            order[i] = order[gt];
                            order[gt--] = s;
                        } else {
                            ++i;
                        }
                    }
                    int partLo[3] = {lo, lt, gt + 1}, partHi[3] = {lt, gt + 1, hi};
                    int partD[3] = {d, d + 7, d}, partT[3] = {t, t, t};
                    if ((pivot & 0xFF) < 8) {
                        if (t + 1 < kSubstringsCompared) {
                            partD[1] = 2;
                            partT[1] = t + 1;
                        } else {
                            markEqual(lt, gt + 1);
                            partHi[1] = partLo[1];
                        }
                    }
                    int largest = 0;
                    for (int p = 1; p < 3; ++p) {
                        if (partHi[p] - partLo[p] > partHi[largest] - partLo[largest]) largest = p;
                    }
                    for (int p = 0; p < 3; ++p) {
                        if (p == largest || partHi[p] - partLo[p] < 2) continue;
                        stackLo[top] = partLo[p];
                        stackHi[top] = partHi[p];
                        stackD[top] = partD[p];
                        stackT[top] = partT[p];
                        ++top;
                    }
                    lo = partLo[largest];
                    hi = partHi[largest];
                    d = partD[largest];
                    t = partT[largest];
                    continue;
                }
            }
            if (top == 0) return;
            --top;
            lo = stackLo[top];
            hi = stackHi[top];
            d = stackD[top];
            t = stackT[top];
        }
    }
};

// Prefix doubling over the reduced cyclic string. On entry order[0, m) lists the B* rotations by substring, a
// marked entry naming the same substring as the one before it. On exit rank[k] is the place of B* rotation k in
// the sorted order (rotations that stay equal, in a periodic block, get consecutive places in any order). Ranks
// are group ends; a run of finished places is marked in order by minus its length at its first place. key holds
// m entries of scratch.
void n8_sortReduced(Kel32s* order, Kel32s* rank, Kel32s* key, int m) {
    bool unsorted = false;
    for (int a = 0; a < m;) {
        int b = a + 1;
        while (b < m && (order[b] & kSameName)) ++b;
        for (int x = a; x < b; ++x) {
            order[x] &= ~kSameName;
            rank[order[x]] = b - 1;
        }
        if (b - a == 1) order[a] = -1;
        unsorted |= b - a > 1;
        a = b;
    }
    for (int h = 1; unsorted && h < m; h *= 2) {
        unsorted = false;
        int run = 0;  // minus the length of the finished run ending at x
        int x = 0;
        while (x < m) {
            const Kel32s s = order[x];
            if (s < 0) {
                x -= s;
                run += s;
                continue;
            }
            if (run != 0) order[x + run] = run;
            run = 0;
            const int end = rank[s] + 1;
            for (int j = x; j < end; ++j) {
                int t = order[j] + h;
                if (t >= m) t -= m;
                key[j] = rank[t];
            }
            n8_bwtSortByKey(order, key, x, end);
            for (int a = x; a < end;) {
                int b = a + 1;
                while (b < end && key[b] == key[a]) ++b;
                for (int j = a; j < b; ++j) rank[order[j]] = b - 1;
                if (b - a == 1) {
                    order[a] = -1;
                } else {
                    unsorted = true;
                }
                a = b;
            }
            x = end;
        }
        if (run != 0) order[x + run] = run;
    }
    // Places from group ends: members of a group that never split take the group's places from its end down.
    for (int i = 0; i < m; ++i) order[i] = 0;
    for (int k = 0; k < m; ++k) ++order[rank[k]];
    for (int k = 0; k < m; ++k) rank[k] -= --order[rank[k]];
}

inline int n8_pair(int c0, int c1) {
    return (c0 << 8) | c1;
}

// Walks the block backward and calls f(i, c0, c1) for every B* position i, highest first.
template <class F>
void n8_forEachBStar(const Kel8u* t2, int n, bool type0IsB, F f) {
    bool nextIsB = type0IsB;
    for (int i = n - 1; i >= 0; --i) {
        const int c0 = t2[i], c1 = t2[i + 1];
        const bool isB = c0 < c1 || (c0 == c1 && nextIsB);
        if (isB && !nextIsB) f(i, c0, c1);
        nextIsB = isB;
    }
}

// Sorts the B* rotations by substring and reduced doubling. On entry sa[n - m, n) holds their positions in text
// order and group[(c0, c1)], c0 < c1, the end of each sub-bucket's group in a compact order of the m rotations
// (groups in sub-bucket order); on exit sa[0, m) holds the positions in sorted order. The transposed entries
// group[(c1, c0)], unused by the layout, serve as running places.
void n8_sortBStarReduced(const Kel8u* pSrc, Kel8u* t2, Kel32s* sa, int n, int m, bool type0IsB, Kel32s* group) {
    Kel32s* const order = sa;
    Kel32s* const pos = sa + n - m;
    {
        int first = 0;
        for (int c0 = 0; c0 < 256; ++c0) {
            for (int c1 = c0 + 1; c1 < 256; ++c1) {
                group[n8_pair(c1, c0)] = first;
                first = group[n8_pair(c0, c1)];
            }
        }
    }
    for (int k = 0; k < m; ++k) {
        const int p = pos[k];
        order[group[n8_pair(t2[p + 1], t2[p])]++] = k;
    }
    const Kel32s* const groupEnd = group;
    SubstringSorter sorter{t2, order, pos, m, n};
    {
        int first = 0;
        for (int c0 = 0; c0 < 256; ++c0) {
            for (int c1 = c0 + 1; c1 < 256; ++c1) {
                const int last = groupEnd[n8_pair(c0, c1)];
                if (last - first > 1) sorter.sortGroup(first, last, 2);
                first = last;
            }
        }
    }

    // The block copy is key space while the reduced string is sorted, and is written again afterwards.
    Kel32s* const rank = sa + m;
    n8_sortReduced(order, rank, reinterpret_cast<Kel32s*>(t2), m);
    for (int i = 0; i < n; ++i) t2[i] = t2[n + i] = pSrc[i];
    for (int i = 0; i < 8; ++i) t2[2 * n + i] = pSrc[i];

    if (3 * static_cast<Kel64s>(m) <= n) {
        // The ranks at [m, 2m) left the positions at [n - m, n) intact.
        for (int k = 0; k < m; ++k) order[rank[k]] = pos[k];
    } else {
        int k = m;
        n8_forEachBStar(t2, n, type0IsB, [&](int i, int, int) { order[rank[--k]] = i; });
    }
}

}  // namespace

bool n8_ownsBWTTwoStage_8u(const Kel8u* pSrc, Kel8u* pDst, int n, int* pIndex, Kel8u* pBuf, bool useBudget) {
    Kel8u* const t2 = n8_alignUp(pBuf, 64);
    Kel32s* const sa = reinterpret_cast<Kel32s*>(n8_alignUp(t2 + 2 * n + 8, 4));
    Kel32s* const subStart = sa + n;           // (c0, c1): first place of the sub-bucket; counts B* at first
    Kel32s* const subNext = subStart + 65536;  // (c0, c1): B* group ends and running places; counts at first

    for (int i = 0; i < n; ++i) t2[i] = t2[n + i] = pSrc[i];
    for (int i = 0; i < 8; ++i) t2[2 * n + i] = pSrc[i];  // n >= 100

    // Type of rotation 0: the first unequal neighbour pair from position 0 decides it.
    int j = 0;
    while (t2[j] == t2[j + 1]) ++j;
    const bool type0IsB = t2[j] < t2[j + 1];

    // One backward pass counts the rotations of each kind per bucket and collects the B* positions at the end of
    // the order array, highest last, so that sa[n - m, n) lists them in text order.
    int countA[256] = {};
    int m = 0;
    for (int i = 0; i < 65536; ++i) subStart[i] = subNext[i] = 0;
    {
        bool nextIsB = type0IsB;  // type of rotation i + 1
        for (int i = n - 1; i >= 0; --i) {
            const int c0 = t2[i], c1 = t2[i + 1];
            const bool isB = c0 < c1 || (c0 == c1 && nextIsB);
            if (!isB) {
                ++countA[c0];
            } else if (!nextIsB) {
                ++subStart[n8_pair(c0, c1)];
                sa[n - 1 - m] = i;
                ++m;
            } else {
                ++subNext[n8_pair(c0, c1)];
            }
            nextIsB = isB;
        }
    }

    // Bucket layout; subNext becomes the start of each sub-bucket's group in the compact B* order at [0, m).
    int bucketStart[257];
    {
        int pos = 0, compact = 0;
        for (int c0 = 0; c0 < 256; ++c0) {
            bucketStart[c0] = pos;
            pos += countA[c0];
            for (int c1 = c0; c1 < 256; ++c1) {
                const int idx = n8_pair(c0, c1);
                const int stars = subStart[idx], others = subNext[idx];
                subStart[idx] = pos;
                subNext[idx] = compact;
                pos += stars + others;
                compact += stars;
            }
        }
        bucketStart[256] = pos;
    }
    // Group the positions (m <= n / 2, so [0, m) and [n - m, n) are apart); subNext ends as the group ends.
    for (int k = n - m; k < n; ++k) {
        const int p = sa[k];
        sa[subNext[n8_pair(t2[p], t2[p + 1])]++] = p;
    }

    // Sort each group by direct comparison. With the budget (method 0) running out ends the call. Without it, a
    // group whose comparisons run deep (long repeats) hands the whole block to the substring sort and reduced
    // doubling: the work spent so far is at most a small multiple of the group sizes sorted.
    {
        Sorter sorter{t2, sa, n, static_cast<Kel64s>(n >= 99900 ? 25 : 100) * n, useBudget};
        bool deep = false;
        int first = 0;
        for (int c0 = 0; c0 < 255 && !deep; ++c0) {
            for (int c1 = c0 + 1; c1 < 256; ++c1) {
                const int last = subNext[n8_pair(c0, c1)];
                const int size = last - first;
                if (size > 1) {
                    sorter.groupBudget = useBudget ? kUnlimited : kGroupCharsPerRotation * size + kGroupCharsExtra;
                    if (!sorter.sortGroup(first, last, 2)) {
                        if (useBudget) return false;
                        deep = true;
                        break;
                    }
                }
                first = last;
            }
        }
        if (deep) {
            // The direct sort only permuted [0, m); the text-order positions at [n - m, n) are intact.
            n8_sortBStarReduced(pSrc, t2, sa, n, m, type0IsB, subNext);
        }
    }

    // Spread the sorted B* rotations to the front parts of their sub-buckets, the last first. The r-th smallest
    // lands at a place >= r (r rotations are smaller), so entries not yet moved are never overwritten.
    {
        int first = 0;
        for (int c0 = 0; c0 < 256; ++c0) {
            for (int c1 = c0 + 1; c1 < 256; ++c1) {
                const int idx = n8_pair(c0, c1);
                const int last = subNext[idx];
                subNext[idx] = subStart[idx] + (last - first);
                first = last;
            }
        }
    }
    for (int r = m - 1; r >= 0; --r) {
        const int p = sa[r];
        sa[--subNext[n8_pair(t2[p], t2[p + 1])]] = p;
    }

    // Right-to-left pass. Each type B sub-bucket (c0, c1) fills from its end downward; the end is where the next
    // sub-bucket (or the next bucket) starts.
    for (int c0 = 0; c0 < 256; ++c0) {
        for (int c1 = c0; c1 < 256; ++c1) {
            subNext[n8_pair(c0, c1)] = c1 < 255 ? subStart[n8_pair(c0, c1 + 1)] : bucketStart[c0 + 1];
        }
    }
    for (int c1 = 255; c1 >= 0; --c1) {
        const int first = subStart[n8_pair(c1, c1)];
        for (int k = bucketStart[c1 + 1] - 1; k >= first; --k) {
            const int s = sa[k];
            const int c0 = t2[s + n - 1];  // byte before rotation s
            // The predecessor of a type B rotation starting with c1 is type B exactly when its byte is <= c1.
            if (c0 <= c1) sa[--subNext[n8_pair(c0, c1)]] = s > 0 ? s - 1 : n - 1;
        }
    }

    // Left-to-right pass: type A rotations are appended to the front part of their bucket as their successors
    // are met, and every place gives its last-column byte.
    int headA[256];
    for (int c = 0; c < 256; ++c) headA[c] = bucketStart[c];
    int index = 0;
    for (int cs = 0; cs < 256; ++cs) {
        const int firstB = subStart[n8_pair(cs, cs)];
        for (int k = bucketStart[cs]; k < bucketStart[cs + 1]; ++k) {
            const int s = sa[k];
            const int c = t2[s + n - 1];
            pDst[k] = static_cast<Kel8u>(c);
            if (s == 0) index = k;
            // The predecessor is type A when its byte is above cs, or equal to it and rotation s is type A.
            if (c > cs || (c == cs && k < firstB)) sa[headA[c]++] = s > 0 ? s - 1 : n - 1;
        }
    }
    *pIndex = index;
    return true;
}

// tests/primitives/sort_index_test.cpp - the index sorts: the exact permutation, not just the order.
//
// The Deflate code generator depends on where equal values end up, so the library's iterative sort is compared,
// values and indices, with a plain recursive transcription of the procedure kept here, over arrays with many ties.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <utility>
#include <vector>

#include "primitives/primitives.h"
#include "support/test_util.h"

namespace {

using kel::test::makeRng;
using kel::test::seedNote;

using Item = std::pair<Kel32s, int>;  // value, original position

// The procedure, recursive and on (value, index) pairs. lt/le are the strict and non-strict orders of the sort
// direction.
struct ModelSort {
    bool ascend;
    bool lt(Kel32s x, Kel32s y) const { return ascend ? x < y : y < x; }
    bool le(Kel32s x, Kel32s y) const { return ascend ? x <= y : y <= x; }

    void run(std::vector<Item>& a, int f, int l) const {
        if (l - f + 1 <= 1) return;
        if (l - f + 1 <= 9) {
            for (int last = l; last > f; --last) {
                int k = f;
                for (int q = f + 1; q <= last; ++q) k = le(a[k].first, a[q].first) ? q : k;
                std::swap(a[k], a[last]);
            }
            return;
        }
        const int m = f + (l - f + 1) / 2;
        if (lt(a[f].first, a[f + 1].first)) std::swap(a[f], a[f + 1]);
        const Item lo = le(a[f].first, a[m].first) ? a[f] : a[m];
        const Item hi = le(a[f].first, a[m].first) ? a[m] : a[f];
        const Item last = a[l];
        const Item t = le(lo.first, last.first) ? last : lo;
        a[f] = le(lo.first, last.first) ? lo : last;
        a[m] = lt(t.first, hi.first) ? t : hi;
        a[l] = lt(t.first, hi.first) ? hi : t;
        const Kel32s p = a[m].first;
        int i = f + 1, j = l;
        while (true) {
            while (i < j && le(a[i].first, p)) ++i;
            while (i < j && lt(p, a[j].first)) --j;
            if (i == j) break;
            std::swap(a[i], a[j]);
        }
        int e = i - 1;
        while (e > f && a[e].first == p) --e;
        run(a, f, e);
        run(a, j, l);
    }
};

void checkAgainstModel(const std::vector<Kel32s>& input, bool ascend) {
    std::vector<Item> model(input.size());
    for (size_t k = 0; k < input.size(); ++k) model[k] = {input[k], static_cast<int>(k)};
    ModelSort{ascend}.run(model, 0, static_cast<int>(model.size()) - 1);

    std::vector<Kel32s> v(input);
    std::vector<int> idx(input.size(), -1);
    const int n = static_cast<int>(input.size());
    ASSERT_EQ(kelStatusOk, ascend ? n8_kelsSortIndexAscend_32s_I(v.data(), idx.data(), n)
                                  : n8_kelsSortIndexDescend_32s_I(v.data(), idx.data(), n));
    for (size_t k = 0; k < input.size(); ++k) {
        ASSERT_EQ(model[k].first, v[k]) << "place " << k << " of " << n << (ascend ? " ascending" : " descending");
        ASSERT_EQ(model[k].second, idx[k]) << "place " << k << " of " << n << (ascend ? " ascending" : " descending");
    }
    // Independent of the model: ordered, and idx is the permutation that produced v.
    for (size_t k = 1; k < v.size(); ++k) ASSERT_TRUE(ascend ? v[k - 1] <= v[k] : v[k - 1] >= v[k]);
    std::vector<bool> seen(input.size());
    for (size_t k = 0; k < v.size(); ++k) {
        ASSERT_TRUE(idx[k] >= 0 && idx[k] < n && !seen[idx[k]]);
        seen[idx[k]] = true;
        ASSERT_EQ(input[idx[k]], v[k]);
    }
}

TEST(SortIndex, KnownAnswers) {
    std::vector<Kel32s> v = {3, 1, 2};
    std::vector<int> idx(3);
    ASSERT_EQ(kelStatusOk, n8_kelsSortIndexAscend_32s_I(v.data(), idx.data(), 3));
    EXPECT_EQ((std::vector<Kel32s>{1, 2, 3}), v);
    EXPECT_EQ((std::vector<int>{1, 2, 0}), idx);

    // Twelve equal values: the pivot run swallows the range and no element moves.
    std::vector<Kel32s> same(12, 7);
    std::vector<int> sameIdx(12);
    for (bool ascend : {true, false}) {
        ASSERT_EQ(kelStatusOk, ascend ? n8_kelsSortIndexAscend_32s_I(same.data(), sameIdx.data(), 12)
                                      : n8_kelsSortIndexDescend_32s_I(same.data(), sameIdx.data(), 12));
        EXPECT_EQ(std::vector<Kel32s>(12, 7), same);
        EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}), sameIdx);
    }

    // Selection sort: the last of equal maxima goes to the end (ascending), the last of equal minima (descending).
    v = {2, 1, 2, 1};
    idx.assign(4, 0);
    ASSERT_EQ(kelStatusOk, n8_kelsSortIndexAscend_32s_I(v.data(), idx.data(), 4));
    EXPECT_EQ((std::vector<int>{3, 1, 0, 2}), idx);
    v = {2, 1, 2, 1};
    ASSERT_EQ(kelStatusOk, n8_kelsSortIndexDescend_32s_I(v.data(), idx.data(), 4));
    EXPECT_EQ((std::vector<int>{0, 2, 1, 3}), idx);

    v = {INT_MIN};
    idx = {-1};
    ASSERT_EQ(kelStatusOk, n8_kelsSortIndexDescend_32s_I(v.data(), idx.data(), 1));
    EXPECT_EQ(0, idx[0]);
}

TEST(SortIndex, QuicksortStepMatchesHandTrace) {
    // n = 10, m = 5. a[0] < a[1], so they are exchanged; the median step stores the 2 of place 5 at 0, the 2 of
    // place 9 at 5 and the 4 at 9; pivot 2. Partitioning exchanges places 3/8 and 6/7 and meets at 7. The left part
    // [0, 6] drops its pivot-equal tail to [0, 4]; places 5 and 6 (the 2s from places 9 and 7) stay; selection sort
    // finishes [0, 4] and [7, 9].
    std::vector<Kel32s> v = {1, 4, 2, 3, 1, 2, 3, 2, 1, 2};
    std::vector<int> idx(10);
    ASSERT_EQ(kelStatusOk, n8_kelsSortIndexAscend_32s_I(v.data(), idx.data(), 10));
    EXPECT_EQ((std::vector<Kel32s>{1, 1, 1, 2, 2, 2, 2, 3, 3, 4}), v);
    EXPECT_EQ((std::vector<int>{8, 0, 4, 5, 2, 9, 7, 6, 3, 1}), idx);
}

TEST(SortIndex, MatchesModelOverArraysWithTies) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(30);
    for (int trial = 0; trial < 600; ++trial) {
        const size_t n = 1 + (trial < 400 ? rng() % 64 : rng() % 5000);
        const int spread = static_cast<int>(rng() % 4);  // 0: 2 values ... 3: full 32-bit range
        std::vector<Kel32s> v(n);
        for (auto& x : v) {
            x = spread == 0   ? static_cast<Kel32s>(rng() % 2)
                : spread == 1 ? static_cast<Kel32s>(rng() % 8) - 4
                : spread == 2
                    ? (rng() % 2 ? INT_MIN + static_cast<Kel32s>(rng() % 3) : INT_MAX - static_cast<Kel32s>(rng() % 3))
                    : static_cast<Kel32s>(rng());
        }
        checkAgainstModel(v, true);
        checkAgainstModel(v, false);
        if (HasFatalFailure()) return;
    }
}

TEST(SortIndex, MatchesModelOnOrderedAndLargeInputs) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(31);
    std::vector<Kel32s> up(20000), down(20000), saw(20000), counts(286);
    for (int k = 0; k < 20000; ++k) {
        up[k] = k;
        down[k] = -k;
        saw[k] = k % 17;
    }
    for (auto& c : counts) c = rng() % 3 ? static_cast<Kel32s>(rng() % 50) : 0;  // symbol counts, many zeros
    for (const auto* v : {&up, &down, &saw, &counts}) {
        checkAgainstModel(*v, true);
        checkAgainstModel(*v, false);
    }
    std::vector<Kel32s> big(300000);
    for (auto& x : big) x = static_cast<Kel32s>(rng() % 1000);
    checkAgainstModel(big, true);
}

}  // namespace

// tests/ch/string/compare_hash_test.cpp - comparison, equality and the six hashes: known values, argument checks,
// the vector kernels against their scalar twins, and the hashes against their formulas written out here.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "ch/string/compare_internal.h"
#include "ch/string/string_test_util.h"
#include "kelch.h"
#include "support/test_util.h"

namespace {

using kel::test::bytes;
using kel::test::makeRng;
using kel::test::randomString;
using kel::test::seedNote;

int compare(KelStatus (*f)(const Kel8u*, const Kel8u*, int, int*), const char* a, const char* b, int len) {
    int r = 777;
    EXPECT_EQ(f(bytes(a), bytes(b), len, &r), kelStatusOk);
    return r;
}

TEST(StringCompare, KnownResults) {
    EXPECT_EQ(compare(kelsCompare_8u, "abc", "abd", 3), -1);
    EXPECT_EQ(compare(kelsCompare_8u, "\xFF", "\x00", 1), 255);
    EXPECT_EQ(compare(kelsCompare_8u, "\x00", "\xFF", 1), -255);
    EXPECT_EQ(compare(kelsCompare_8u, "x", "y", 0), 0);
    EXPECT_EQ(compare(kelsCompareIgnoreCaseLatin_8u, "Hello", "hELLO", 5), 0);
    EXPECT_EQ(compare(kelsCompareIgnoreCaseLatin_8u, "[", "{", 1), -32);
    EXPECT_EQ(compare(kelsCompareIgnoreCaseLatin_8u, "A", "b", 1), -1);
    EXPECT_EQ(compare(kelsCompareIgnoreCaseLatin_8u, "\xC9", "\xE9", 1), 0xC9 - 0xE9);
    EXPECT_EQ(compare(kelsEqual_8u, "x", "y", 0), 1);
    EXPECT_EQ(compare(kelsEqual_8u, "abc", "abd", 3), 0);
    EXPECT_EQ(compare(kelsEqual_8u, "abc", "abd", 2), 1);
}

TEST(StringCompare, ChecksNullPointersThenLength) {
    for (auto f : {kelsCompare_8u, kelsCompareIgnoreCaseLatin_8u, kelsEqual_8u}) {
        int r = 5;
        EXPECT_EQ(f(nullptr, bytes("a"), -1, &r), kelStatusNullPointer);
        EXPECT_EQ(f(bytes("a"), nullptr, 1, &r), kelStatusNullPointer);
        EXPECT_EQ(f(bytes("a"), bytes("a"), -1, nullptr), kelStatusNullPointer);
        EXPECT_EQ(f(bytes("a"), bytes("a"), -1, &r), kelStatusBadLength);
        // The exact comparison and equality test their length classes as unsigned ranges before the sign: no
        // negative length may fall into one.
        for (int len : {-16, -64, -65, -128, -129, -256, -257, INT_MIN, INT_MIN + 16, INT_MIN + 129})
            EXPECT_EQ(f(bytes("a"), bytes("a"), len, &r), kelStatusBadLength) << len;
        EXPECT_EQ(r, 5);
    }
}

// Equal strings with one planted difference that walks through every block, step and tail, at independent
// alignments of both strings; differences in and around the letter ranges test the folding.
TEST(StringCompare, KernelsMatchScalarTwins) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(10);
    std::vector<Kel8u> storeA(70000), storeB(70000);
    for (int trial = 0; trial < 6000; ++trial) {
        const int len = trial < 3000 ? trial % 300 : int(rng() % 65536);
        Kel8u* a = storeA.data() + rng() % 16;
        Kel8u* b = storeB.data() + rng() % 16;
        auto s = randomString(rng, size_t(len), 14);
        std::copy(s.begin(), s.end(), a);
        for (int i = 0; i < len; ++i) {
            // Sometimes the other case of a letter, which only the folding comparison ignores.
            const Kel8u x = a[i];
            b[i] = (rng() % 8 == 0 && ((x | 0x20) >= 'a' && (x | 0x20) <= 'z')) ? Kel8u(x ^ 0x20) : x;
        }
        if (len > 0 && (rng() & 1))
            b[rng() % size_t(len)] = std::vector<Kel8u>{0, 0x7F, 0x80, 0xFF, '@', '['}[rng() % 6];
        ASSERT_EQ(n8_ownsCompare_8u(a, b, len), n8_ownsCompare_8u_ref(a, b, len)) << len;
        ASSERT_EQ(n8_ownsCompareIgnoreCaseLatin_8u(a, b, len), n8_ownsCompareIgnoreCaseLatin_8u_ref(a, b, len)) << len;
        ASSERT_EQ(n8_ownsEqual_8u(a, b, len), n8_ownsEqual_8u_ref(a, b, len)) << len;
    }
}

// One difference at every position of strings of every length from 0 to 300 bytes and of a few longer ones, at
// independent alignments of both strings: each inline path on both sides of each of its length limits, and the
// loops' first, middle and last steps, through the kernels and the exported functions.
TEST(StringCompare, FindsDifferenceAtEveryPositionAndAlignment) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(11);
    std::vector<Kel8u> storeA(700 + 32), storeB(700 + 32);
    for (int len = 0; len <= 700; len += len < 300 ? 1 : len < 520 ? 53 : 89) {
        for (int align = 0; align < 16; ++align) {
            Kel8u* a = storeA.data() + align;
            Kel8u* b = storeB.data() + (align * 7 + len) % 16;
            for (int i = 0; i < len; ++i) a[i] = b[i] = Kel8u(rng());
            int r;
            ASSERT_EQ(n8_ownsCompare_8u(a, b, len), 0);
            ASSERT_EQ(n8_ownsEqual_8u(a, b, len), 1);
            ASSERT_EQ(kelsEqual_8u(a, b, len, &r), kelStatusOk);
            ASSERT_EQ(r, 1);
            for (int at = 0; at < len; ++at) {
                const Kel8u old = b[at];
                b[at] = Kel8u(old + 1 + rng() % 255);
                // A later difference of the other sign must not win.
                if (at + 1 < len) b[len - 1] = Kel8u(a[len - 1] ^ 0x80);
                const int want = n8_ownsCompare_8u_ref(a, b, len);
                ASSERT_EQ(n8_ownsCompare_8u(a, b, len), want) << len << " " << at;
                ASSERT_EQ(n8_ownsEqual_8u(a, b, len), 0) << len << " " << at;
                ASSERT_EQ(n8_ownsCompareIgnoreCaseLatin_8u(a, b, len), n8_ownsCompareIgnoreCaseLatin_8u_ref(a, b, len));
                ASSERT_EQ(kelsCompare_8u(a, b, len, &r), kelStatusOk);
                ASSERT_EQ(r, want) << len << " " << at;
                ASSERT_EQ(kelsEqual_8u(a, b, len, &r), kelStatusOk);
                ASSERT_EQ(r, 0) << len << " " << at;
                if (at + 1 < len) b[len - 1] = a[len - 1];
                b[at] = old;
            }
        }
    }
}

TEST(StringCompare, StopsAtStringEnds) {
    for (int len = 0; len <= 300; ++len) {
        kel::test::TwoSidedGuard a(size_t(len), true), b(size_t(len), len % 2 == 0);
        std::memset(a.data(), 'k', size_t(len));
        std::memset(b.data(), 'K', size_t(len));
        EXPECT_EQ(n8_ownsCompareIgnoreCaseLatin_8u(a.data(), b.data(), len), 0);
        EXPECT_EQ(n8_ownsCompare_8u(a.data(), b.data(), len), len ? 'k' - 'K' : 0);
        EXPECT_EQ(n8_ownsEqual_8u(a.data(), a.data(), len), 1);
        // The exported functions take their own inline paths; equal strings make them read every byte.
        std::memset(b.data(), 'k', size_t(len));
        int r = 7;
        EXPECT_EQ(kelsCompare_8u(a.data(), b.data(), len, &r), kelStatusOk);
        EXPECT_EQ(r, 0);
        EXPECT_EQ(kelsEqual_8u(a.data(), b.data(), len, &r), kelStatusOk);
        EXPECT_EQ(r, 1);
    }
}

template <typename T>
Kel32u shiftHash(const std::vector<T>& v) {
    Kel32u h = 0;
    for (T x : v) h = (h << 1) ^ x;
    return h;
}

template <typename T>
Kel32u sj2Hash(const std::vector<T>& v) {
    Kel32u h = 0;
    for (T x : v) h = h * 31 + x;
    return h;
}

template <typename T>
Kel32u mscsHash(const std::vector<T>& v) {
    Kel32u h = 5381;
    for (T x : v) {
        if (x == 0) break;
        h = (h * 33) ^ x;
    }
    return h;
}

TEST(StringHash, KnownValues) {
    Kel32u h = 1;
    EXPECT_EQ(kelsHash_8u32u(bytes(""), 0, &h), kelStatusOk);
    EXPECT_EQ(h, 0u);
    EXPECT_EQ(kelsHashSJ2_8u32u(bytes(""), 0, &h), kelStatusOk);
    EXPECT_EQ(h, 0u);
    EXPECT_EQ(kelsHashMSCS_8u32u(bytes(""), 0, &h), kelStatusOk);
    EXPECT_EQ(h, 5381u);
    const Kel16u none[1] = {0};
    EXPECT_EQ(kelsHashMSCS_16u32u(none, 0, &h), kelStatusOk);
    EXPECT_EQ(h, 5381u);
    EXPECT_EQ(kelsHashMSCS_8u32u(bytes("a\0b"), 3, &h), kelStatusOk);
    EXPECT_EQ(h, 177604u);
    EXPECT_EQ(kelsHashSJ2_8u32u(bytes("ab"), 2, &h), kelStatusOk);
    EXPECT_EQ(h, 3105u);
    EXPECT_EQ(kelsHash_8u32u(bytes("ab"), 2, &h), kelStatusOk);
    EXPECT_EQ(h, 160u);
    const char* forty = "0123456789abcdefghijklmnopqrstuvwxyzABCD";
    Kel32u last32;
    EXPECT_EQ(kelsHash_8u32u(bytes(forty), 40, &h), kelStatusOk);
    EXPECT_EQ(kelsHash_8u32u(bytes(forty + 8), 32, &last32), kelStatusOk);
    EXPECT_EQ(h, last32);
}

TEST(StringHash, ChecksNullPointersThenLength) {
    Kel32u h = 9;
    const Kel16u w[1] = {1};
    for (auto f : {kelsHash_8u32u, kelsHashSJ2_8u32u, kelsHashMSCS_8u32u}) {
        EXPECT_EQ(f(nullptr, -1, &h), kelStatusNullPointer);
        EXPECT_EQ(f(bytes("a"), -1, nullptr), kelStatusNullPointer);
        EXPECT_EQ(f(bytes("a"), -1, &h), kelStatusBadLength);
    }
    for (auto f : {kelsHash_16u32u, kelsHashSJ2_16u32u, kelsHashMSCS_16u32u}) {
        EXPECT_EQ(f(nullptr, 1, &h), kelStatusNullPointer);
        EXPECT_EQ(f(w, 1, nullptr), kelStatusNullPointer);
        EXPECT_EQ(f(w, -1, &h), kelStatusBadLength);
    }
    EXPECT_EQ(h, 9u);
}

TEST(StringHash, MatchFormulasOnRandomStrings) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(11);
    for (int trial = 0; trial < 3000; ++trial) {
        const size_t n = trial < 1000 ? size_t(trial % 100) : rng() % 5000;
        auto b = randomString(rng, n, trial % 3 == 0 ? 14 : 256);
        std::vector<Kel16u> w(n);
        for (auto& x : w) x = rng() % 7 == 0 ? Kel16u(0) : Kel16u(rng());
        const int len = int(n);
        Kel32u h;
        ASSERT_EQ(kelsHash_8u32u(kel::test::dataOf(b), len, &h), kelStatusOk);
        ASSERT_EQ(h, shiftHash(b));
        ASSERT_EQ(kelsHashSJ2_8u32u(kel::test::dataOf(b), len, &h), kelStatusOk);
        ASSERT_EQ(h, sj2Hash(b));
        ASSERT_EQ(kelsHashMSCS_8u32u(kel::test::dataOf(b), len, &h), kelStatusOk);
        ASSERT_EQ(h, mscsHash(b));
        ASSERT_EQ(kelsHash_16u32u(kel::test::dataOf(w), len, &h), kelStatusOk);
        ASSERT_EQ(h, shiftHash(w));
        ASSERT_EQ(kelsHashSJ2_16u32u(kel::test::dataOf(w), len, &h), kelStatusOk);
        ASSERT_EQ(h, sj2Hash(w));
        ASSERT_EQ(kelsHashMSCS_16u32u(kel::test::dataOf(w), len, &h), kelStatusOk);
        ASSERT_EQ(h, mscsHash(w));
    }
}

}  // namespace

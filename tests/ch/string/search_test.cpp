// tests/ch/string/search_test.cpp - the search family: result conventions, argument checks, and every kernel
// against std::search / std::find_end and plain loops over random strings, all alignments, and buffers that end
// (or start) at an inaccessible page.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "ch/string/search_internal.h"
#include "ch/string/string_test_util.h"
#include "kelch.h"
#include "support/test_util.h"

namespace {

using kel::test::bytes;
using kel::test::makeRng;
using kel::test::randomString;
using kel::test::seedNote;

int findRef(const Kel8u* s, int n, const Kel8u* p, int m) {
    if (m == 0 || m > n) return -1;
    const Kel8u* it = std::search(s, s + n, p, p + m);
    return it == s + n ? -1 : static_cast<int>(it - s);
}

int findRevRef(const Kel8u* s, int n, const Kel8u* p, int m) {
    if (m == 0 || m > n) return -1;
    const Kel8u* it = std::find_end(s, s + n, p, p + m);
    return it == s + n ? -1 : static_cast<int>(it - s);
}

int call(KelStatus (*f)(const Kel8u*, int, const Kel8u*, int, int*), const std::string& s, const std::string& p) {
    int index = 12345;
    EXPECT_EQ(f(bytes(s), int(s.size()), bytes(p), int(p.size()), &index), kelStatusOk);
    return index;
}

TEST(StringSearch, ResultConventions) {
    EXPECT_EQ(call(kelsFind_8u, "abcabc", "bc"), 1);
    EXPECT_EQ(call(kelsFindRev_8u, "abcabc", "bc"), 4);
    EXPECT_EQ(call(kelsFind_8u, "aaaa", "aa"), 0);
    EXPECT_EQ(call(kelsFindRev_8u, "aaaa", "aa"), 2);
    for (auto f : {kelsFind_8u, kelsFindRev_8u}) {
        EXPECT_EQ(call(f, "abc", ""), -1);
        EXPECT_EQ(call(f, "", ""), -1);
        EXPECT_EQ(call(f, "abc", "abcd"), -1);
        EXPECT_EQ(call(f, "abcd", "abcd"), 0);
    }
    int index = 7;
    EXPECT_EQ(kelsFind_Z_8u(bytes("abc"), bytes(""), &index), kelStatusOk);
    EXPECT_EQ(index, -1);
    EXPECT_EQ(kelsFind_Z_8u(bytes("xxabcab"), bytes("ab"), &index), kelStatusOk);
    EXPECT_EQ(index, 2);

    EXPECT_EQ(kelsFindC_Z_8u(bytes("abc"), 0, &index), kelStatusOk);
    EXPECT_EQ(index, 3);
    EXPECT_EQ(kelsFindC_Z_8u(bytes("abc"), 'c', &index), kelStatusOk);
    EXPECT_EQ(index, 2);
    EXPECT_EQ(kelsFindC_Z_8u(bytes("abc"), 'x', &index), kelStatusOk);
    EXPECT_EQ(index, -1);

    EXPECT_EQ(kelsFindC_8u(bytes("a"), 0, 'a', &index), kelStatusOk);
    EXPECT_EQ(index, -1);
    std::vector<Kel8u> hundred(100, 'x');
    for (int pos : {15, 16, 63, 64, 99}) {
        hundred.assign(100, 'x');
        hundred[pos] = 'y';
        EXPECT_EQ(kelsFindC_8u(hundred.data(), 100, 'y', &index), kelStatusOk);
        EXPECT_EQ(index, pos);
        EXPECT_EQ(kelsFindRevC_8u(hundred.data(), 100, 'y', &index), kelStatusOk);
        EXPECT_EQ(index, pos);
    }

    // Set lengths 9 and 10 take different paths on a 16-byte-or-longer source; repeated bytes are one byte.
    const std::string src = "................k.........q.....";
    for (const char* set : {"qk1234567", "qk12345678", "kkkkkkkkkkkk"}) {
        EXPECT_EQ(kelsFindCAny_8u(bytes(src), int(src.size()), bytes(set), int(strlen(set)), &index), kelStatusOk);
        EXPECT_EQ(index, 16) << set;
    }
    EXPECT_EQ(kelsFindRevCAny_8u(bytes(src), int(src.size()), bytes("qk12345678"), 10, &index), kelStatusOk);
    EXPECT_EQ(index, 26);
    EXPECT_EQ(kelsFindCAny_8u(bytes(src), int(src.size()), bytes("k"), 0, &index), kelStatusOk);
    EXPECT_EQ(index, -1);
}

TEST(StringSearch, ChecksNullPointersBeforeLengthsAndLeavesIndexAlone) {
    const Kel8u* s = bytes("abc");
    int index = 99;
    EXPECT_EQ(kelsFind_8u(nullptr, -1, s, 1, &index), kelStatusNullPointer);
    EXPECT_EQ(kelsFind_8u(s, 3, nullptr, 1, &index), kelStatusNullPointer);
    EXPECT_EQ(kelsFind_8u(s, 3, s, 1, nullptr), kelStatusNullPointer);
    EXPECT_EQ(kelsFind_8u(s, -1, s, 1, &index), kelStatusBadLength);
    EXPECT_EQ(kelsFindRev_8u(s, 3, s, -1, &index), kelStatusBadLength);
    EXPECT_EQ(kelsFindC_8u(nullptr, -1, 'a', &index), kelStatusNullPointer);
    EXPECT_EQ(kelsFindC_8u(s, -1, 'a', &index), kelStatusBadLength);
    EXPECT_EQ(kelsFindRevC_8u(s, 3, 'a', nullptr), kelStatusNullPointer);
    EXPECT_EQ(kelsFindCAny_8u(s, 3, nullptr, -1, &index), kelStatusNullPointer);
    EXPECT_EQ(kelsFindRevCAny_8u(s, 3, s, -1, &index), kelStatusBadLength);
    EXPECT_EQ(kelsFind_Z_8u(nullptr, s, &index), kelStatusNullPointer);
    EXPECT_EQ(kelsFind_Z_8u(s, s, nullptr), kelStatusNullPointer);
    EXPECT_EQ(kelsFindC_Z_8u(nullptr, 'a', &index), kelStatusNullPointer);
    EXPECT_EQ(kelsFindC_Z_8u(s, 0, nullptr), kelStatusNullPointer);
    EXPECT_EQ(index, 99);
}

TEST(StringSearch, KernelSwitchGivesSameResults) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(1);
    for (int trial = 0; trial < 200; ++trial) {
        auto base = randomString(rng, 144, 3);
        const int m = 1 + int(rng() % 12);
        // A pattern taken from the end, so a match ends at the last byte in both lengths.
        for (int len : {143, 144}) {
            std::vector<Kel8u> pat(base.begin() + len - m, base.begin() + len);
            int a, b;
            ASSERT_EQ(kelsFind_8u(base.data(), len, pat.data(), m, &a), kelStatusOk);
            b = findRef(base.data(), len, pat.data(), m);
            ASSERT_EQ(a, b) << len;
            ASSERT_EQ(n8_ownsFind_8u(base.data(), len, pat.data(), m),
                      n8_ownsFind_8u_U8(base.data(), len, pat.data(), m));
        }
    }
}

// Patterns either cut from the source (so they occur) or random over the same alphabet (so they mostly do not).
TEST(StringSearch, PatternKernelsMatchReference) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(2);
    std::vector<Kel8u> store(64 * 1024 + 64);
    for (int trial = 0; trial < 6000; ++trial) {
        const int alphabet = std::vector<int>{2, 3, 5, 14, 256}[rng() % 5];
        const int n = trial < 3000 ? int(rng() % 300) : int(rng() % (64 * 1024));
        const int align = int(rng() % 16);
        auto src = randomString(rng, size_t(n), alphabet);
        std::copy(src.begin(), src.end(), store.begin() + align);
        const Kel8u* s = store.data() + align;
        const int m = int(rng() % 5 == 0 ? rng() % 80 : rng() % 10);
        std::vector<Kel8u> pat;
        if (n >= m && (rng() & 1)) {
            const int at = int(rng() % size_t(n - m + 1));
            pat.assign(s + at, s + at + m);
        } else {
            pat = randomString(rng, size_t(m), alphabet);
        }
        const int want = findRef(s, n, pat.data(), m), wantRev = findRevRef(s, n, pat.data(), m);
        ASSERT_EQ(n8_ownsFind_8u(s, n, pat.data(), m), want) << n << " " << m;
        ASSERT_EQ(n8_ownsFind_8u_U8(s, n, pat.data(), m), want) << n << " " << m;
        ASSERT_EQ(n8_ownsFind_8u_U8_ref(s, n, pat.data(), m), want);
        ASSERT_EQ(n8_ownsFindRev_8u(s, n, pat.data(), m), wantRev) << n << " " << m;
        ASSERT_EQ(n8_ownsFindRev_8u_ref(s, n, pat.data(), m), wantRev);
        int index;
        ASSERT_EQ(kelsFind_8u(s, n, kel::test::dataOf(pat), m, &index), kelStatusOk);
        ASSERT_EQ(index, want);
    }
}

TEST(StringSearch, ByteAndSetKernelsMatchReference) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(3);
    std::vector<Kel8u> store(64 * 1024 + 64);
    for (int trial = 0; trial < 8000; ++trial) {
        const int n = trial < 4000 ? trial % 257 : int(rng() % (64 * 1024));
        const int align = trial % 16;
        // Mostly-uniform sources with rare hits: the hit positions then wander through every block and tail.
        auto src = randomString(rng, size_t(n), 1);
        const int hits = int(rng() % 4);
        for (int h = 0; h < hits && n > 0; ++h)
            src[rng() % size_t(n)] = std::vector<Kel8u>{0x00, 0x7F, 0x80, 0xFF, 'q'}[rng() % 5];
        std::copy(src.begin(), src.end(), store.begin() + align);
        const Kel8u* s = store.data() + align;
        const Kel8u val = std::vector<Kel8u>{0x00, 0x7F, 0x80, 0xFF, 'q', 'a'}[rng() % 6];
        ASSERT_EQ(n8_ownsFindC_8u(s, n, val), n8_ownsFindC_8u_ref(s, n, val)) << n << " " << int(val);
        ASSERT_EQ(n8_ownsFindRevC_8u(s, n, val), n8_ownsFindRevC_8u_ref(s, n, val)) << n << " " << int(val);

        const int setLen = int(rng() % 20);
        auto set = randomString(rng, size_t(setLen), 256);
        if (setLen > 0 && (rng() & 1)) set[rng() % size_t(setLen)] = val;
        ASSERT_EQ(n8_ownsFindCAny_8u(s, n, set.data(), setLen), n8_ownsFindCAny_8u_ref(s, n, set.data(), setLen))
            << n << " " << setLen;
        ASSERT_EQ(n8_ownsFindRevCAny_8u(s, n, set.data(), setLen), n8_ownsFindRevCAny_8u_ref(s, n, set.data(), setLen))
            << n << " " << setLen;
    }
}

// Every kernel at every length up to 200 on a source against a guard page, on each side in turn, with the
// pattern also against a guard page.
TEST(StringSearch, NeverReadsOutsideSourceOrPattern) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(4);
    for (bool atEnd : {true, false}) {
        for (int n = 0; n <= 200; ++n) {
            kel::test::TwoSidedGuard src(size_t(n), atEnd);
            auto content = randomString(rng, size_t(n), 2);
            std::copy(content.begin(), content.end(), src.data());
            const Kel8u* s = src.data();
            for (int m : {1, 2, 3, 4, 5, 8, 9, 16, 17, 40}) {
                kel::test::TwoSidedGuard pat(size_t(m), atEnd);
                auto p = n >= m && (rng() & 1) ? std::vector<Kel8u>(s + n - m, s + n) : randomString(rng, size_t(m), 2);
                std::copy(p.begin(), p.end(), pat.data());
                ASSERT_EQ(n8_ownsFind_8u(s, n, pat.data(), m), findRef(s, n, p.data(), m));
                ASSERT_EQ(n8_ownsFind_8u_U8(s, n, pat.data(), m), findRef(s, n, p.data(), m));
                ASSERT_EQ(n8_ownsFindRev_8u(s, n, pat.data(), m), findRevRef(s, n, p.data(), m));
                ASSERT_EQ(n8_ownsFindCAny_8u(s, n, pat.data(), m), n8_ownsFindCAny_8u_ref(s, n, p.data(), m));
                ASSERT_EQ(n8_ownsFindRevCAny_8u(s, n, pat.data(), m), n8_ownsFindRevCAny_8u_ref(s, n, p.data(), m));
            }
            ASSERT_EQ(n8_ownsFindC_8u(s, n, 0xFF), n8_ownsFindC_8u_ref(s, n, 0xFF));
            ASSERT_EQ(n8_ownsFindRevC_8u(s, n, 0xFF), n8_ownsFindRevC_8u_ref(s, n, 0xFF));
        }
    }
}

// The byte at every position of sources of 0 to 300 bytes at all 16 alignments, and absent. The bytes just
// before and after each source hold the sought byte too, so that a short-source path that compares the aligned
// blocks holding the source but fails to mask off their bytes outside it reports a false hit.
TEST(StringSearch, ByteKernelsFindEveryPositionAtEveryAlignment) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(5);
    std::vector<Kel8u> store(300 + 64);
    for (int len = 0; len <= 300; len += len < 80 ? 1 : 7) {
        for (int align = 0; align < 16; ++align) {
            const Kel8u val = Kel8u(rng());
            std::fill(store.begin(), store.end(), val);
            Kel8u* s = store.data() + 16 + align;
            for (int i = 0; i < len; ++i) s[i] = Kel8u(val ^ (1 + rng() % 255));
            ASSERT_EQ(n8_ownsFindC_8u(s, len, val), -1) << len << " " << align;
            ASSERT_EQ(n8_ownsFindRevC_8u(s, len, val), -1) << len << " " << align;
            for (int at = 0; at < len; ++at) {
                const Kel8u old = s[at];
                s[at] = val;
                ASSERT_EQ(n8_ownsFindC_8u(s, len, val), n8_ownsFindC_8u_ref(s, len, val)) << len << " " << at;
                ASSERT_EQ(n8_ownsFindRevC_8u(s, len, val), n8_ownsFindRevC_8u_ref(s, len, val)) << len << " " << at;
                int index;
                ASSERT_EQ(kelsFindC_8u(s, len, val, &index), kelStatusOk);
                ASSERT_EQ(index, n8_ownsFindC_8u_ref(s, len, val));
                ASSERT_EQ(kelsFindRevC_8u(s, len, val, &index), kelStatusOk);
                ASSERT_EQ(index, n8_ownsFindRevC_8u_ref(s, len, val));
                // A second hit after (forward) or before (backward) the first must not win.
                if (at + 1 < len) s[len - 1] = val;
                ASSERT_EQ(n8_ownsFindC_8u(s, len, val), n8_ownsFindC_8u_ref(s, len, val)) << len << " " << at;
                if (at + 1 < len) s[len - 1] = Kel8u(val ^ 1);
                s[at] = old;
            }
        }
    }
}

TEST(StringSearch, CorpusTextAgreesWithStdSearch) {
    const auto text = kel::test::readCorpusFile("alice29.txt");
    ASSERT_FALSE(text.empty());
    const int n = int(text.size());
    // Needles from the text itself at spread-out offsets, and variants with the last byte changed.
    for (int m : {2, 4, 7, 8, 16, 31, 64}) {
        for (int at = 0; at + m <= n; at += n / 37 + 1) {
            std::vector<Kel8u> pat(text.begin() + at, text.begin() + at + m);
            for (int variant = 0; variant < 2; ++variant) {
                int index;
                ASSERT_EQ(kelsFind_8u(text.data(), n, pat.data(), m, &index), kelStatusOk);
                ASSERT_EQ(index, findRef(text.data(), n, pat.data(), m));
                ASSERT_EQ(kelsFindRev_8u(text.data(), n, pat.data(), m, &index), kelStatusOk);
                ASSERT_EQ(index, findRevRef(text.data(), n, pat.data(), m));
                pat.back() ^= 0x20;
            }
        }
    }
}

}  // namespace

// tests/ch/string/edit_test.cpp - the editing family: worked examples, argument checks with untouched outputs, every
// function against a std::string model over random strings, and the vector kernels against their scalar twins.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "ch/string/edit_internal.h"
#include "ch/string/string_test_util.h"
#include "kelch.h"
#include "support/test_util.h"

namespace {

using kel::test::bytes;
using kel::test::makeRng;
using kel::test::randomString;
using kel::test::seedNote;
using Bytes = std::vector<Kel8u>;

Bytes str(const char* s) {
    return Bytes(s, s + std::strlen(s));
}

// ---- Models -----------------------------------------------------------------------------------------------------

std::vector<Bytes> splitModel(const Bytes& s, Kel8u sep) {
    std::vector<Bytes> pieces;
    size_t start = 0;
    while (start < s.size()) {
        auto it = std::find(s.begin() + long(start), s.end(), sep);
        pieces.emplace_back(s.begin() + long(start), it);
        start = size_t(it - s.begin()) + 1;
    }
    return pieces;
}

Bytes trimModel(const Bytes& s, const Bytes& set, bool front, bool back) {
    auto in = [&](Kel8u b) { return std::find(set.begin(), set.end(), b) != set.end(); };
    size_t a = 0, e = s.size();
    while (front && a < e && in(s[a])) ++a;
    while (back && e > a && in(s[e - 1])) --e;
    return Bytes(s.begin() + long(a), s.begin() + long(e));
}

// ---- Worked examples --------------------------------------------------------------------------------------------

TEST(StringEdit, WorkedExamples) {
    const Kel8u* list[] = {bytes("a"), bytes("b c"), bytes("")};
    const int lens[] = {1, 3, 0};
    Bytes out(8, '#');
    ASSERT_EQ(kelsConcatC_8u_D2L(list, lens, 3, ',', out.data()), kelStatusOk);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 7), str("a,b c,#"));

    ASSERT_EQ(kelsInsert_8u(bytes("abc"), 3, bytes("XY"), 2, out.data(), 3), kelStatusOk);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 5), str("abcXY"));
    ASSERT_EQ(kelsInsert_8u(bytes("abc"), 3, bytes("XY"), 2, out.data(), 0), kelStatusOk);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 5), str("XYabc"));
    EXPECT_EQ(kelsInsert_8u(bytes("abc"), 3, bytes("XY"), 2, out.data(), 4), kelStatusBadLength);

    Bytes s = str("abcdef");
    int len = 6;
    ASSERT_EQ(kelsRemove_8u_I(s.data(), &len, 4, 3), kelStatusBadLength);
    ASSERT_EQ(kelsRemove_8u_I(s.data(), &len, 4, 2), kelStatusOk);
    EXPECT_EQ(len, 4);

    // a , , b split at ',' into 4, 2 and (first buffer of 0 bytes) 4 buffers.
    Bytes src = str("a,,b");
    Bytes bufs[4] = {Bytes(4, '#'), Bytes(4, '#'), Bytes(4, '#'), Bytes(4, '#')};
    Kel8u* dst[4] = {bufs[0].data(), bufs[1].data(), bufs[2].data(), bufs[3].data()};
    int caps[4] = {4, 4, 4, 4}, count = 4;
    ASSERT_EQ(kelsSplitC_8u_D2L(src.data(), 4, ',', dst, caps, &count), kelStatusOk);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(caps[0], 1);
    EXPECT_EQ(caps[1], 0);
    EXPECT_EQ(caps[2], 1);
    EXPECT_EQ(bufs[2][0], 'b');
    int caps2[2] = {4, 4};
    count = 2;
    ASSERT_EQ(kelsSplitC_8u_D2L(src.data(), 4, ',', dst, caps2, &count), kelStatusSplitMorePieces);
    EXPECT_EQ(count, 2);
    int caps3[4] = {0, 4, 4, 4};
    count = 4;
    ASSERT_EQ(kelsSplitC_8u_D2L(src.data(), 4, ',', dst, caps3, &count), kelStatusSplitPieceTruncated);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(caps3[0], 0);

    int outLen = -1;
    ASSERT_EQ(kelsTrimC_8u(bytes("xxaxbxx"), 7, 'x', out.data(), &outLen), kelStatusOk);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + outLen), str("axb"));
    ASSERT_EQ(kelsTrimC_8u(bytes("xxx"), 3, 'x', out.data(), &outLen), kelStatusOk);
    EXPECT_EQ(outLen, 0);
    ASSERT_EQ(kelsTrimStartCAny_8u(bytes(" \ta "), 4, bytes(" \t"), 2, out.data(), &outLen), kelStatusOk);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + outLen), str("a "));

    const Kel8u edges[] = {64, 91, 96, 123, 0xE9, 'a', 'z', 'A', 'Z'};
    Kel8u mapped[9];
    ASSERT_EQ(kelsUppercaseLatin_8u(edges, mapped, 9), kelStatusOk);
    EXPECT_EQ(Bytes(mapped, mapped + 9), (Bytes{64, 91, 96, 123, 0xE9, 'A', 'Z', 'A', 'Z'}));
    ASSERT_EQ(kelsLowercaseLatin_8u(edges, mapped, 9), kelStatusOk);
    EXPECT_EQ(Bytes(mapped, mapped + 9), (Bytes{64, 91, 96, 123, 0xE9, 'a', 'z', 'a', 'z'}));
}

// ---- Argument checks --------------------------------------------------------------------------------------------

TEST(StringEdit, ChecksArgumentsInOrderAndWritesNothing) {
    Bytes out(16, '#');
    const Bytes untouched = out;
    const Kel8u* a = bytes("abc");
    int len = 3;
    EXPECT_EQ(kelsConcat_8u(a, -1, nullptr, 1, out.data()), kelStatusNullPointer);
    EXPECT_EQ(kelsConcat_8u(a, 1, a, -1, out.data()), kelStatusBadLength);
    const Kel8u* list[] = {a, nullptr};
    const int lens[] = {3, 1};
    EXPECT_EQ(kelsConcat_8u_D2L(list, nullptr, 0, out.data()), kelStatusNullPointer);
    EXPECT_EQ(kelsConcat_8u_D2L(list, lens, 0, out.data()), kelStatusBadSize);
    EXPECT_EQ(kelsInsert_8u(a, 3, a, -1, nullptr, 0), kelStatusNullPointer);
    EXPECT_EQ(kelsInsert_8u(a, 3, a, 1, out.data(), -1), kelStatusBadLength);
    EXPECT_EQ(kelsInsert_8u_I(a, -1, out.data(), nullptr, 0), kelStatusNullPointer);
    EXPECT_EQ(kelsInsert_8u_I(a, -1, out.data(), &len, 0), kelStatusBadLength);
    EXPECT_EQ(kelsInsert_8u_I(a, 1, out.data(), &len, 4), kelStatusBadLength);
    int huge = 0x7FFFFFFF;
    EXPECT_EQ(kelsInsert_8u_I(a, 1, out.data(), &huge, 0), kelStatusBadLength);
    EXPECT_EQ(kelsRemove_8u(a, 3, out.data(), 2, 2), kelStatusBadLength);
    EXPECT_EQ(kelsRemove_8u(a, 3, out.data(), 0x7FFFFFFF, 0x7FFFFFFF), kelStatusBadLength);
    EXPECT_EQ(kelsRemove_8u_I(out.data(), &len, -1, 0), kelStatusBadLength);
    EXPECT_EQ(kelsReplaceC_8u(a, nullptr, -1, 'a', 'b'), kelStatusNullPointer);
    EXPECT_EQ(kelsReplaceC_8u(a, out.data(), -1, 'a', 'b'), kelStatusBadLength);
    int outLen = 77;
    EXPECT_EQ(kelsTrimC_8u(a, -1, 'a', out.data(), nullptr), kelStatusNullPointer);
    EXPECT_EQ(kelsTrimC_8u(a, -1, 'a', out.data(), &outLen), kelStatusBadLength);
    EXPECT_EQ(kelsTrimCAny_8u(a, 3, nullptr, -1, out.data(), &outLen), kelStatusNullPointer);
    EXPECT_EQ(kelsTrimEndCAny_8u(a, 3, a, -1, out.data(), &outLen), kelStatusBadLength);
    EXPECT_EQ(kelsUppercaseLatin_8u(nullptr, out.data(), -1), kelStatusNullPointer);
    EXPECT_EQ(kelsLowercaseLatin_8u_I(out.data(), -1), kelStatusBadLength);
    int count = 0, caps[1] = {4};
    Kel8u* dst[1] = {out.data()};
    EXPECT_EQ(kelsSplitC_8u_D2L(a, -1, 'b', dst, caps, nullptr), kelStatusNullPointer);
    EXPECT_EQ(kelsSplitC_8u_D2L(a, -1, 'b', dst, caps, &count), kelStatusBadLength);
    EXPECT_EQ(kelsSplitC_8u_D2L(a, 3, 'b', dst, caps, &count), kelStatusBadSize);
    EXPECT_EQ(out, untouched);
    EXPECT_EQ(len, 3);
    EXPECT_EQ(outLen, 77);

    // The list functions check each entry when they reach it: what precedes a bad entry is written.
    EXPECT_EQ(kelsConcatC_8u_D2L(list, lens, 2, '+', out.data()), kelStatusNullPointer);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), str("abc#"));
    // An empty source needs no buffer at all, so a null first buffer is not looked at.
    Kel8u* nullDst[1] = {nullptr};
    count = 1;
    EXPECT_EQ(kelsSplitC_8u_D2L(a, 0, 'b', nullDst, caps, &count), kelStatusOk);
    EXPECT_EQ(count, 0);
    count = 1;
    EXPECT_EQ(kelsSplitC_8u_D2L(a, 3, 'b', nullDst, caps, &count), kelStatusNullPointer);
}

// ---- Random strings against the models --------------------------------------------------------------------------

TEST(StringEdit, MatchesModelsOnRandomStrings) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(20);
    for (int trial = 0; trial < 3000; ++trial) {
        const size_t n = trial < 1500 ? rng() % 40 : rng() % 2000;
        const Bytes s = randomString(rng, n, trial % 2 ? 3 : 14);
        const Bytes t = randomString(rng, rng() % 30, 14);
        const int sl = int(s.size()), tl = int(t.size());
        Bytes out(n + t.size() + 64, '#');

        ASSERT_EQ(kelsConcat_8u(kel::test::dataOf(s), sl, kel::test::dataOf(t), tl, out.data()), kelStatusOk);
        Bytes want = s;
        want.insert(want.end(), t.begin(), t.end());
        ASSERT_TRUE(std::equal(want.begin(), want.end(), out.begin()));

        const int pos = int(rng() % (n + 1));
        ASSERT_EQ(kelsInsert_8u(kel::test::dataOf(s), sl, kel::test::dataOf(t), tl, out.data(), pos), kelStatusOk);
        want = s;
        want.insert(want.begin() + pos, t.begin(), t.end());
        ASSERT_TRUE(std::equal(want.begin(), want.end(), out.begin()));
        Bytes inPlace = s;
        inPlace.resize(s.size() + t.size());
        int len = sl;
        ASSERT_EQ(kelsInsert_8u_I(kel::test::dataOf(t), tl, kel::test::dataOf(inPlace), &len, pos), kelStatusOk);
        ASSERT_EQ(inPlace, want);
        ASSERT_EQ(len, int(want.size()));

        const int cut = int(rng() % (n - size_t(pos) + 1));
        ASSERT_EQ(kelsRemove_8u(kel::test::dataOf(s), sl, out.data(), pos, cut), kelStatusOk);
        want = s;
        want.erase(want.begin() + pos, want.begin() + pos + cut);
        ASSERT_TRUE(std::equal(want.begin(), want.end(), out.begin()));
        inPlace = s;
        len = sl;
        ASSERT_EQ(kelsRemove_8u_I(kel::test::dataOf(inPlace), &len, pos, cut), kelStatusOk);
        ASSERT_EQ(Bytes(inPlace.begin(), inPlace.begin() + len), want);

        const Kel8u sep = s.empty() ? 'a' : s[rng() % n];
        const auto pieces = splitModel(s, sep);
        const int numBuf = 1 + int(rng() % 8);
        std::vector<Bytes> bufs(size_t(numBuf), Bytes(12, '#'));
        std::vector<Kel8u*> dst;
        std::vector<int> caps;
        for (auto& b : bufs) {
            dst.push_back(b.data());
            caps.push_back(int(rng() % 13));
        }
        const std::vector<int> capsIn = caps;
        int count = numBuf;
        const KelStatus st = kelsSplitC_8u_D2L(kel::test::dataOf(s), sl, sep, dst.data(), caps.data(), &count);
        bool truncated = false;
        const size_t written = std::min(pieces.size(), size_t(numBuf));
        ASSERT_EQ(count, int(written));
        for (size_t i = 0; i < written; ++i) {
            const size_t keep = std::min(pieces[i].size(), size_t(capsIn[i]));
            truncated |= keep < pieces[i].size();
            ASSERT_EQ(caps[i], int(keep));
            ASSERT_TRUE(std::equal(pieces[i].begin(), pieces[i].begin() + long(keep), bufs[i].begin()));
        }
        ASSERT_EQ(st, pieces.size() > size_t(numBuf) ? kelStatusSplitMorePieces
                      : truncated                    ? kelStatusSplitPieceTruncated
                                                     : kelStatusOk);

        const Bytes set = randomString(rng, rng() % 20, 14);
        const int setLen = int(set.size());
        int outLen = -1;
        ASSERT_EQ(kelsTrimC_8u(kel::test::dataOf(s), sl, sep, out.data(), &outLen), kelStatusOk);
        want = trimModel(s, Bytes{sep}, true, true);
        ASSERT_EQ(Bytes(out.begin(), out.begin() + outLen), want);
        inPlace = s;
        len = sl;
        ASSERT_EQ(kelsTrimC_8u_I(kel::test::dataOf(inPlace), &len, sep), kelStatusOk);
        ASSERT_EQ(Bytes(inPlace.begin(), inPlace.begin() + len), want);
        inPlace = s;
        ASSERT_EQ(kelsTrimC_8u(kel::test::dataOf(inPlace), sl, sep, kel::test::dataOf(inPlace), &outLen), kelStatusOk);
        ASSERT_EQ(Bytes(inPlace.begin(), inPlace.begin() + outLen), want);
        using TrimFn = KelStatus (*)(const Kel8u*, int, const Kel8u*, int, Kel8u*, int*);
        const struct {
            TrimFn f;
            bool front, back;
        } trims[] = {
            {kelsTrimCAny_8u, true, true}, {kelsTrimStartCAny_8u, true, false}, {kelsTrimEndCAny_8u, false, true}};
        for (const auto& tr : trims) {
            ASSERT_EQ(tr.f(kel::test::dataOf(s), sl, kel::test::dataOf(set), setLen, out.data(), &outLen), kelStatusOk);
            ASSERT_EQ(Bytes(out.begin(), out.begin() + outLen), trimModel(s, set, tr.front, tr.back));
        }

        const Kel8u from = s.empty() ? 0 : s[rng() % n], to = Kel8u(rng());
        ASSERT_EQ(kelsReplaceC_8u(kel::test::dataOf(s), out.data(), sl, from, to), kelStatusOk);
        want = s;
        std::replace(want.begin(), want.end(), from, to);
        ASSERT_TRUE(std::equal(want.begin(), want.end(), out.begin()));
    }
}

TEST(StringEdit, ListConcatenationsMatchModel) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(21);
    for (int trial = 0; trial < 500; ++trial) {
        const int num = 1 + int(rng() % 10);
        std::vector<Bytes> parts;
        std::vector<const Kel8u*> ptrs;
        std::vector<int> lens;
        for (int i = 0; i < num; ++i) parts.push_back(randomString(rng, rng() % 40, 14));
        for (auto& p : parts) {
            ptrs.push_back(kel::test::dataOf(p));
            lens.push_back(int(p.size()));
        }
        Bytes plain, joined;
        for (int i = 0; i < num; ++i) {
            if (i > 0) joined.push_back('|');
            plain.insert(plain.end(), parts[size_t(i)].begin(), parts[size_t(i)].end());
            joined.insert(joined.end(), parts[size_t(i)].begin(), parts[size_t(i)].end());
        }
        Bytes out(joined.size() + 1, '#');
        ASSERT_EQ(kelsConcat_8u_D2L(ptrs.data(), lens.data(), num, out.data()), kelStatusOk);
        ASSERT_TRUE(std::equal(plain.begin(), plain.end(), out.begin()));
        ASSERT_EQ(kelsConcatC_8u_D2L(ptrs.data(), lens.data(), num, '|', out.data()), kelStatusOk);
        ASSERT_EQ(Bytes(out.begin(), out.end() - 1), joined);
        ASSERT_EQ(out.back(), '#');
    }
}

// ---- Kernels against their twins --------------------------------------------------------------------------------

TEST(StringEdit, KernelsMatchScalarTwins) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(22);
    Bytes storeS(70000), storeV(70000), storeR(70000);
    const Kel8u runs[] = {0x00, 0x7F, 0x80, 0xFF, ' '};
    for (int trial = 0; trial < 4000; ++trial) {
        const int len = trial < 2570 ? trial % 257 : int(rng() % 65536);
        const size_t sa = rng() % 16, da = rng() % 16;
        Kel8u* s = storeS.data() + sa;
        Kel8u* v = storeV.data() + da;
        Kel8u* r = storeR.data() + da;
        const Kel8u runByte = runs[rng() % 5];
        // A run at the start and at the end, random letters and edge bytes between.
        auto mid = randomString(rng, size_t(len), trial % 3 ? 14 : 256);
        std::copy(mid.begin(), mid.end(), s);
        const int head = len ? int(rng() % size_t(len + 1)) : 0, tail = len ? int(rng() % size_t(len - head + 1)) : 0;
        std::memset(s, runByte, size_t(head));
        std::memset(s + len - tail, runByte, size_t(tail));

        n8_ownsUppercaseLatin_8u(s, v, len);
        n8_ownsUppercaseLatin_8u_ref(s, r, len);
        ASSERT_EQ(std::memcmp(v, r, size_t(len)), 0);
        n8_ownsLowercaseLatin_8u(s, v, len);
        n8_ownsLowercaseLatin_8u_ref(s, r, len);
        ASSERT_EQ(std::memcmp(v, r, size_t(len)), 0);
        n8_ownsReplaceC_8u(s, v, len, runByte, 'R');
        n8_ownsReplaceC_8u_ref(s, r, len, runByte, 'R');
        ASSERT_EQ(std::memcmp(v, r, size_t(len)), 0);
        ASSERT_EQ(n8_ownsSpanC_8u(s, len, runByte), n8_ownsSpanC_8u_ref(s, len, runByte));
        ASSERT_EQ(n8_ownsSpanRevC_8u(s, len, runByte), n8_ownsSpanRevC_8u_ref(s, len, runByte));
        const Bytes set = randomString(rng, rng() % 24, 14);
        Bytes withRun = set;
        withRun.push_back(runByte);
        for (const Bytes* st : {&set, static_cast<const Bytes*>(&withRun)}) {
            const int sl = int(st->size());
            ASSERT_EQ(n8_ownsSpanCAny_8u(s, len, st->data(), sl), n8_ownsSpanCAny_8u_ref(s, len, st->data(), sl));
            ASSERT_EQ(n8_ownsSpanRevCAny_8u(s, len, st->data(), sl), n8_ownsSpanRevCAny_8u_ref(s, len, st->data(), sl));
        }
    }
    // In place.
    Bytes a = randomString(rng, 1000, 14), b = a;
    n8_ownsUppercaseLatin_8u(a.data(), a.data(), 1000);
    n8_ownsUppercaseLatin_8u_ref(b.data(), b.data(), 1000);
    EXPECT_EQ(a, b);
}

}  // namespace

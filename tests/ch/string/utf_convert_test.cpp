// tests/ch/string/utf_convert_test.cpp - the UTF-8/UTF-16 converters: the tolerant rules on malformed input, glibc
// iconv as the oracle on valid text, resumption at every capacity, buffers against guard pages, the vector kernels
// against their scalar twins, and the shared UTF-8 tables.
#include <gtest/gtest.h>
#include <iconv.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "ch/string/string_test_util.h"
#include "ch/string/utf8_tables.inc"
#include "ch/string/utf_convert_internal.h"
#include "kelch.h"
#include "support/test_util.h"

namespace {

using kel::test::makeRng;
using kel::test::seedNote;
using Bytes = std::vector<Kel8u>;
using Units = std::vector<Kel16u>;

struct Result8to16 {
    Units units;
    Kel32u consumed;
};

Result8to16 toUtf16(const Bytes& src, Kel32u cap, int bigEndian) {
    Units dst(cap + 1, 0xABCD);
    Kel32u srcLen = Kel32u(src.size()), dstLen = cap;
    EXPECT_EQ(kelsConvertUTF_8u16u(kel::test::dataOf(src), &srcLen, dst.data(), &dstLen, bigEndian), kelStatusOk);
    EXPECT_EQ(dst[cap], 0xABCD) << "write beyond the capacity";
    dst.resize(dstLen);
    return {dst, srcLen};
}

struct Result16to8 {
    Bytes bytes;
    Kel32u consumed;
};

Result16to8 toUtf8(const Units& src, Kel32u cap, int bigEndian) {
    Bytes dst(cap + 1, 0xEE);
    Kel32u srcLen = Kel32u(src.size()), dstLen = cap;
    EXPECT_EQ(kelsConvertUTF_16u8u(kel::test::dataOf(src), &srcLen, dst.data(), &dstLen, bigEndian), kelStatusOk);
    EXPECT_EQ(dst[cap], 0xEE) << "write beyond the capacity";
    dst.resize(dstLen);
    return {dst, srcLen};
}

Units swapped(Units u) {
    for (auto& x : u) x = Kel16u((x << 8) | (x >> 8));
    return u;
}

TEST(UtfConvert, TolerantRules) {
    auto r = toUtf16({0x41, 0xC3, 0xA9}, 10, 0);
    EXPECT_EQ(r.units, (Units{0x0041, 0x00E9}));
    EXPECT_EQ(r.consumed, 3u);
    EXPECT_EQ(toUtf16({0x41, 0xC3, 0xA9}, 10, 1).units, (Units{0x4100, 0xE900}));
    // Over-long forms, stray continuation bytes, FE/FF: each byte stands for itself.
    EXPECT_EQ(toUtf16({0xC0, 0x80}, 10, 0).units, (Units{0x00C0, 0x0080}));
    EXPECT_EQ(toUtf16({0xE0, 0x80, 0xAF}, 10, 0).units, (Units{0x00E0, 0x0080, 0x00AF}));
    EXPECT_EQ(toUtf16({0xFF, 0xFE, 0xBF}, 10, 0).units, (Units{0x00FF, 0x00FE, 0x00BF}));
    // A bad continuation: the lead byte alone is rejected, the rest is read again.
    EXPECT_EQ(toUtf16({0xE2, 0x82, 0x41}, 10, 0).units, (Units{0x00E2, 0x0082, 0x0041}));
    // A sequence cut off by the end of the source is malformed.
    EXPECT_EQ(toUtf16({0xE2, 0x82}, 10, 0).units, (Units{0x00E2, 0x0082}));
    // Encoded surrogates pass through as single units.
    EXPECT_EQ(toUtf16({0xED, 0xA0, 0x80}, 10, 0).units, (Units{0xD800}));
    // U+1F600 as a pair; with one unit of room it stays unconsumed.
    const Bytes grin = {0xF0, 0x9F, 0x98, 0x80};
    EXPECT_EQ(toUtf16(grin, 10, 0).units, (Units{0xD83D, 0xDE00}));
    EXPECT_EQ(toUtf16(grin, 10, 1).units, (Units{0x3DD8, 0x00DE}));
    r = toUtf16(grin, 1, 0);
    EXPECT_TRUE(r.units.empty());
    EXPECT_EQ(r.consumed, 0u);
    // Five- and six-byte forms are accepted; values above U+10FFFF are folded by the 10-bit masks.
    // F8 88 80 80 80 = U+200000; FD BF BF BF BF BF = U+7FFFFFFF.
    const Kel32u big1 = 0x200000 - 0x10000, big2 = 0x7FFFFFFFu - 0x10000;
    EXPECT_EQ(toUtf16({0xF8, 0x88, 0x80, 0x80, 0x80}, 10, 0).units,
              (Units{Kel16u(0xD800 + ((big1 >> 10) & 0x3FF)), Kel16u(0xDC00 + (big1 & 0x3FF))}));
    EXPECT_EQ(toUtf16({0xFD, 0xBF, 0xBF, 0xBF, 0xBF, 0xBF}, 10, 0).units,
              (Units{Kel16u(0xD800 + ((big2 >> 10) & 0x3FF)), Kel16u(0xDC00 + (big2 & 0x3FF))}));
    // An over-long four-byte form of a BMP character.
    EXPECT_EQ(toUtf16({0xF0, 0x8F, 0xBF, 0xBF}, 10, 0).units, (Units{0x00F0, 0x008F, 0x00BF, 0x00BF}));

    EXPECT_EQ(toUtf8({0xD83D, 0xDE00}, 10, 0).bytes, (Bytes{0xF0, 0x9F, 0x98, 0x80}));
    EXPECT_EQ(toUtf8(swapped({0xD83D, 0xDE00}), 10, 1).bytes, (Bytes{0xF0, 0x9F, 0x98, 0x80}));
    EXPECT_EQ(toUtf8({0xD83D}, 10, 0).bytes, (Bytes{0xED, 0xA0, 0xBD}));
    EXPECT_EQ(toUtf8({0xDE00, 0xD83D, 0x41}, 10, 0).bytes, (Bytes{0xED, 0xB8, 0x80, 0xED, 0xA0, 0xBD, 0x41}));
    auto e = toUtf8({0x41, 0x20AC}, 3, 0);
    EXPECT_EQ(e.bytes, (Bytes{0x41}));
    EXPECT_EQ(e.consumed, 1u);

    r = toUtf16({}, 10, 0);
    EXPECT_EQ(r.consumed, 0u);
    EXPECT_TRUE(r.units.empty());
    r = toUtf16({0x41}, 0, 0);
    EXPECT_EQ(r.consumed, 0u);
}

TEST(UtfConvert, NullPointersLeaveCountsAlone) {
    Kel8u b[4] = {};
    Kel16u u[4] = {};
    Kel32u n = 4, m = 4;
    EXPECT_EQ(kelsConvertUTF_8u16u(nullptr, &n, u, &m, 0), kelStatusNullPointer);
    EXPECT_EQ(kelsConvertUTF_8u16u(b, nullptr, u, &m, 0), kelStatusNullPointer);
    EXPECT_EQ(kelsConvertUTF_8u16u(b, &n, nullptr, &m, 0), kelStatusNullPointer);
    EXPECT_EQ(kelsConvertUTF_8u16u(b, &n, u, nullptr, 0), kelStatusNullPointer);
    EXPECT_EQ(kelsConvertUTF_16u8u(nullptr, &n, b, &m, 0), kelStatusNullPointer);
    EXPECT_EQ(kelsConvertUTF_16u8u(u, &n, b, nullptr, 0), kelStatusNullPointer);
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(m, 4u);
}

// ---- iconv as the oracle on valid text ----------------------------------------------------------------------------

Bytes viaIconv(const char* to, const char* from, const Bytes& in) {
    iconv_t cd = iconv_open(to, from);
    EXPECT_NE(cd, iconv_t(-1));
    Bytes out(in.size() * 2 + 16);
    char* src = reinterpret_cast<char*>(const_cast<Kel8u*>(in.data()));
    char* dst = reinterpret_cast<char*>(out.data());
    size_t srcLeft = in.size(), dstLeft = out.size();
    EXPECT_NE(iconv(cd, &src, &srcLeft, &dst, &dstLeft), size_t(-1));
    iconv_close(cd);
    out.resize(out.size() - dstLeft);
    return out;
}

// Code points from every encoding length, ASCII-heavy or not, never a surrogate.
Bytes randomUtf32(std::mt19937_64& rng, size_t n) {
    Bytes out;
    const bool asciiHeavy = rng() & 1;
    for (size_t i = 0; i < n; ++i) {
        Kel32u c;
        const unsigned kind = unsigned(rng() % (asciiHeavy ? 16 : 4));
        if (kind == 0)
            c = 0x80 + Kel32u(rng() % 0x780);
        else if (kind == 1)
            c = 0x800 + Kel32u(rng() % (0x10000 - 0x800));
        else if (kind == 2)
            c = 0x10000 + Kel32u(rng() % 0x100000);
        else
            c = Kel32u(rng() % 0x80);
        if (c >= 0xD800 && c <= 0xDFFF) c = 0xE000;
        for (int k = 0; k < 4; ++k) out.push_back(Kel8u(c >> (8 * k)));
    }
    return out;
}

Units asUnits(const Bytes& b) {
    Units u(b.size() / 2);
    for (size_t i = 0; i < u.size(); ++i) u[i] = Kel16u(b[2 * i] | b[2 * i + 1] << 8);
    return u;
}

TEST(UtfConvert, AgreesWithIconvOnValidText) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(30);
    for (int trial = 0; trial < 400; ++trial) {
        const Bytes utf32 = randomUtf32(rng, trial < 200 ? rng() % 40 : rng() % 5000);
        const Bytes utf8 = viaIconv("UTF-8", "UTF-32LE", utf32);
        for (int be = 0; be < 2; ++be) {
            const Units utf16 = asUnits(viaIconv(be ? "UTF-16BE" : "UTF-16LE", "UTF-32LE", utf32));
            const auto r = toUtf16(utf8, Kel32u(utf16.size() + 8), be);
            ASSERT_EQ(r.consumed, utf8.size());
            ASSERT_EQ(r.units, utf16);
            const auto back = toUtf8(utf16, Kel32u(utf8.size() + 8), be);
            ASSERT_EQ(back.consumed, utf16.size());
            ASSERT_EQ(back.bytes, utf8);
        }
    }
}

// ---- Resumption, kernels against twins, guard pages ---------------------------------------------------------------

// Valid text mixed with every kind of malformation: stray continuations, cut and over-long forms, FE/FF, surrogates.
Bytes randomMessyUtf8(std::mt19937_64& rng, size_t n) {
    auto valid = viaIconv("UTF-8", "UTF-32LE", randomUtf32(rng, n));
    for (size_t k = 0; k < valid.size() / 8; ++k) {
        const size_t at = rng() % valid.size();
        valid[at] = std::vector<Kel8u>{0x80, 0xBF, 0xC0, 0xC1, 0xE0, 0xED, 0xF4, 0xF8, 0xFC, 0xFE, 0xFF}[rng() % 11];
    }
    return valid;
}

TEST(UtfConvert, KernelsMatchScalarTwinsAtAnyCapacity) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(31);
    for (int trial = 0; trial < 3000; ++trial) {
        const Bytes src = randomMessyUtf8(rng, rng() % 300);
        const int be = int(rng() & 1);
        const Kel32u skip = src.empty() ? 0 : Kel32u(rng() % src.size());
        const Kel8u* s = src.data() + skip;
        const Kel32u cap = Kel32u(rng() % 400);
        Units v(cap + 1, 0xABCD), r(cap + 1);
        Kel32u vs = Kel32u(src.size()) - skip, vd = cap, rs = vs, rd = cap;
        n8_ownsConvertUTF_8u16u(s, &vs, v.data(), &vd, be);
        n8_ownsConvertUTF_8u16u_ref(s, &rs, r.data(), &rd, be);
        ASSERT_EQ(vs, rs);
        ASSERT_EQ(vd, rd);
        ASSERT_TRUE(std::equal(v.begin(), v.begin() + vd, r.begin()));
        // Nothing is left behind the reported count.
        ASSERT_TRUE(std::all_of(v.begin() + vd, v.end(), [](Kel16u x) { return x == 0xABCD; }));

        // Random units, surrogates frequent, converted back.
        // Random units: mostly BMP text of all three UTF-8 lengths, with surrogates (paired or not) now and then.
        Units units(rng() % 300);
        for (auto& u : units) {
            const unsigned kind = unsigned(rng() % 16);
            u = kind < 6    ? Kel16u(rng() % 0x80)
                : kind < 10 ? Kel16u(rng() % 0x800)
                : kind < 15 ? Kel16u(rng())
                            : Kel16u(0xD800 + rng() % 0x800);
        }
        Bytes bv(cap + 1, 0xEE), br(cap + 1);
        vs = Kel32u(units.size());
        rs = vs;
        vd = rd = cap;
        n8_ownsConvertUTF_16u8u(kel::test::dataOf(units), &vs, bv.data(), &vd, be);
        n8_ownsConvertUTF_16u8u_ref(kel::test::dataOf(units), &rs, br.data(), &rd, be);
        ASSERT_EQ(vs, rs);
        ASSERT_EQ(vd, rd);
        ASSERT_TRUE(std::equal(bv.begin(), bv.begin() + vd, br.begin()));
        ASSERT_TRUE(std::all_of(bv.begin() + vd, bv.end(), [](Kel8u x) { return x == 0xEE; }));
    }
}

// A surrogate pair, a lone high or low surrogate, a reversed pair or a high surrogate before a non-surrogate at
// every position of BMP text of all three UTF-8 lengths, at both byte orders and at room for all or only part of
// the output: the blocks must take over again right after the surrogate with nothing lost or repeated.
TEST(UtfConvert, SurrogatesAtEveryPositionMatchScalarTwin) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(37);
    const Kel16u kInserts[][2] = {{0xD83D, 0xDE00}, {0xDBFF, 0xDFFF}, {0xD800, 0x0041},
                                  {0xDC00, 0xD800}, {0xDE00, 0x00E9}, {0xD800, 0x4E2D}};
    for (int len = 1; len <= 120; len += len < 48 ? 1 : 9) {
        for (int at = 0; at < len; ++at) {
            Units units(static_cast<size_t>(len));
            for (auto& u : units) {
                const unsigned kind = unsigned(rng() % 3);
                u = kind == 0   ? Kel16u(rng() % 0x80)
                    : kind == 1 ? Kel16u(0x80 + rng() % 0x780)
                                : Kel16u(0x4E00 + rng() % 0x100);
            }
            const auto& ins = kInserts[rng() % 6];
            units[size_t(at)] = ins[0];
            if (at + 1 < len) units[size_t(at) + 1] = ins[1];
            // A second pair a few units on, so that the blocks meet another surrogate soon after resuming.
            if (at + 12 < len) {
                units[size_t(at) + 10] = 0xD834;
                units[size_t(at) + 11] = 0xDD1E;
            }
            for (int be = 0; be < 2; ++be) {
                const Units src = be ? swapped(units) : units;
                for (Kel32u cap : {Kel32u(4 * len), Kel32u(rng() % (3 * Kel32u(len) + 1))}) {
                    Bytes v(cap + 1, 0xEE), r(cap + 1);
                    Kel32u vs = Kel32u(len), vd = cap, rs = vs, rd = cap;
                    n8_ownsConvertUTF_16u8u(src.data(), &vs, v.data(), &vd, be);
                    n8_ownsConvertUTF_16u8u_ref(src.data(), &rs, r.data(), &rd, be);
                    ASSERT_EQ(vs, rs) << len << " " << at;
                    ASSERT_EQ(vd, rd) << len << " " << at;
                    ASSERT_TRUE(std::equal(v.begin(), v.begin() + vd, r.begin())) << len << " " << at;
                    ASSERT_TRUE(std::all_of(v.begin() + vd, v.end(), [](Kel8u x) { return x == 0xEE; }));
                }
            }
        }
    }
}

// Converting piecewise with small random capacities, continuing where each call stopped, gives the one-call result:
// characters are never split and nothing is lost at a full destination.
TEST(UtfConvert, ResumesExactlyWhereItStopped) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(32);
    for (int trial = 0; trial < 300; ++trial) {
        const Bytes src = randomMessyUtf8(rng, rng() % 2000);
        const int be = int(rng() & 1);
        const Units whole = toUtf16(src, Kel32u(src.size() + 1), be).units;
        Units pieces;
        size_t at = 0;
        while (at < src.size()) {
            const Kel32u cap = 1 + Kel32u(rng() % 40);
            const Bytes rest(src.begin() + long(at), src.end());
            const auto r = toUtf16(rest, cap, be);
            ASSERT_TRUE(r.consumed > 0 || cap == 1);
            pieces.insert(pieces.end(), r.units.begin(), r.units.end());
            at += r.consumed;
            if (r.consumed == 0) {
                // One unit of room before a surrogate pair: nothing taken; more room must take it.
                ASSERT_GT(toUtf16(rest, 2, be).consumed, 0u);
            }
        }
        ASSERT_EQ(pieces, whole);

        const Bytes back = toUtf8(whole, Kel32u(whole.size() * 3 + 1), be).bytes;
        Bytes backPieces;
        size_t u = 0;
        while (u < whole.size()) {
            const Kel32u cap = 4 + Kel32u(rng() % 40);
            const auto r = toUtf8(Units(whole.begin() + long(u), whole.end()), cap, be);
            ASSERT_GT(r.consumed, 0u);
            backPieces.insert(backPieces.end(), r.bytes.begin(), r.bytes.end());
            u += r.consumed;
        }
        ASSERT_EQ(backPieces, back);
    }
}

TEST(UtfConvert, StaysInsideGuardedBuffers) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(33);
    for (size_t n = 0; n <= 70; ++n) {
        const Bytes src = randomMessyUtf8(rng, n);
        kel::test::TwoSidedGuard s(src.size(), true);
        std::copy(src.begin(), src.end(), s.data());
        for (Kel32u cap : {Kel32u(0), Kel32u(1), Kel32u(n / 2), Kel32u(src.size())}) {
            kel::test::TwoSidedGuard d(cap * 2, true);
            Kel32u sl = Kel32u(src.size()), dl = cap;
            n8_ownsConvertUTF_8u16u(s.data(), &sl, reinterpret_cast<Kel16u*>(d.data()), &dl, int(n & 1));
            ASSERT_LE(dl, cap);
            kel::test::TwoSidedGuard b(cap, true);
            Kel32u ul = src.size() / 2;
            dl = cap;
            n8_ownsConvertUTF_16u8u(reinterpret_cast<const Kel16u*>(s.data() + (src.size() & 1)), &ul, b.data(), &dl,
                                    int(n & 1));
            ASSERT_LE(dl, cap);
        }
    }
}

TEST(UtfConvert, TablesFollowTheBitLayout) {
    EXPECT_EQ(UTF8_table1[0], 0x7Fu);
    EXPECT_EQ(UTF8_table2[0], 0u);
    EXPECT_EQ(UTF8_table3[0], 0xFFu);
    for (int n = 1; n <= 5; ++n) {
        // The lead mark, the zero bit after it and the payload fill the byte.
        EXPECT_EQ(UTF8_table2[n] + 2 * (UTF8_table3[n] + 1), 0x100u) << n;
        EXPECT_EQ(UTF8_table1[n], ((UTF8_table3[n] + 1) << (6 * n)) - 1) << n;
    }
    for (const Kel32u* t : {UTF8_table1, UTF8_table2, UTF8_table3}) EXPECT_EQ(t[6], 0u);
    // The largest code point of each length, encoded by iconv, starts with that length's mark and mask.
    for (int n = 1; n <= 3; ++n) {
        const Kel32u c = n == 3 ? 0x10FFFF : UTF8_table1[n];
        const Bytes utf8 = viaIconv("UTF-8", "UTF-32LE", {Kel8u(c), Kel8u(c >> 8), Kel8u(c >> 16), 0});
        ASSERT_EQ(utf8.size(), size_t(n + 1));
        EXPECT_EQ(utf8[0] & ~UTF8_table3[n] & 0xFF, UTF8_table2[n]);
    }
}

}  // namespace

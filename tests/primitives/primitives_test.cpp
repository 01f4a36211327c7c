// tests/primitives/primitives_test.cpp - the checked primitives: argument checks, known answers at the limits of
// the arithmetic, overlapping moves, the bit-string copy and the splitting of byte counts beyond INT_MAX.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <vector>

#include "primitives/primitives_internal.h"
#include "support/test_util.h"

namespace {

using kel::test::GuardedBuffer;
using kel::test::makeRng;
using kel::test::seedNote;

// ---- Argument checks --------------------------------------------------------------------------------------------

struct CheckCase {
    const char* name;
    std::function<KelStatus(Kel32s* out)> call;  // out: 4 elements the call may write on success
    KelStatus expect;
};

TEST(Primitives, ArgumentChecksFailInOrderAndWriteNothing) {
    Kel32s in[4] = {4, 3, 2, 1};
    const Kel8u* inB = reinterpret_cast<const Kel8u*>(in);
    int idx[4];
    auto b = [](Kel32s* o) { return reinterpret_cast<Kel8u*>(o); };
    const std::vector<CheckCase> cases = {
        {"Copy_8u null src", [&](Kel32s* o) { return n8_kelsCopy_8u(nullptr, b(o), 4); }, kelStatusNullPointer},
        {"Copy_8u null dst, len 0", [&](Kel32s*) { return n8_kelsCopy_8u(inB, nullptr, 0); }, kelStatusNullPointer},
        {"Copy_8u len 0", [&](Kel32s* o) { return n8_kelsCopy_8u(inB, b(o), 0); }, kelStatusBadSize},
        {"Copy_32s len -1", [&](Kel32s* o) { return n8_kelsCopy_32s(in, o, -1); }, kelStatusBadSize},
        {"Copy_32s null dst", [&](Kel32s*) { return n8_kelsCopy_32s(in, nullptr, 4); }, kelStatusNullPointer},
        {"Copy_32f null src", [&](Kel32s* o) { return n8_kelsCopy_32f(nullptr, reinterpret_cast<Kel32f*>(o), 4); },
         kelStatusNullPointer},
        {"Copy_32f len 0",
         [&](Kel32s* o) { return n8_kelsCopy_32f(reinterpret_cast<Kel32f*>(in), reinterpret_cast<Kel32f*>(o), 0); },
         kelStatusBadSize},
        {"Move_8u null src", [&](Kel32s* o) { return n8_kelsMove_8u(nullptr, b(o), 4); }, kelStatusNullPointer},
        {"Move_8u len 0", [&](Kel32s* o) { return n8_kelsMove_8u(inB, b(o), 0); }, kelStatusBadSize},
        {"Move_32s null dst", [&](Kel32s*) { return n8_kelsMove_32s(in, nullptr, 4); }, kelStatusNullPointer},
        {"Move_32s len INT_MIN", [&](Kel32s* o) { return n8_kelsMove_32s(in, o, INT_MIN); }, kelStatusBadSize},
        {"Set_8u null", [&](Kel32s*) { return n8_kelsSet_8u(1, nullptr, 4); }, kelStatusNullPointer},
        {"Set_8u len 0", [&](Kel32s* o) { return n8_kelsSet_8u(1, b(o), 0); }, kelStatusBadSize},
        {"Set_32s len -5", [&](Kel32s* o) { return n8_kelsSet_32s(1, o, -5); }, kelStatusBadSize},
        {"Zero_16s null", [&](Kel32s*) { return n8_kelsZero_16s(nullptr, 4); }, kelStatusNullPointer},
        {"Zero_16s len 0", [&](Kel32s* o) { return n8_kelsZero_16s(reinterpret_cast<Kel16s*>(o), 0); },
         kelStatusBadSize},
        {"Zero_16sc len 0", [&](Kel32s* o) { return n8_kelsZero_16sc(reinterpret_cast<Kel16sc*>(o), 0); },
         kelStatusBadSize},
        {"Zero_32s len -1", [&](Kel32s* o) { return n8_kelsZero_32s(o, -1); }, kelStatusBadSize},
        {"Max null max", [&](Kel32s*) { return n8_kelsMax_32s(in, 4, nullptr); }, kelStatusNullPointer},
        {"Max len 0", [&](Kel32s* o) { return n8_kelsMax_32s(in, 0, o); }, kelStatusBadSize},
        {"MinMax null min", [&](Kel32s* o) { return n8_kelsMinMax_32s(in, 4, nullptr, o); }, kelStatusNullPointer},
        {"MinMax null max", [&](Kel32s* o) { return n8_kelsMinMax_32s(in, 4, o, nullptr); }, kelStatusNullPointer},
        {"MinMax len 0", [&](Kel32s* o) { return n8_kelsMinMax_32s(in, 0, o, o + 1); }, kelStatusBadSize},
        {"AddC null dst", [&](Kel32s*) { return n8_kelsAddC_32s_Sfs(in, 1, nullptr, 4, 0); }, kelStatusNullPointer},
        {"AddC len 0", [&](Kel32s* o) { return n8_kelsAddC_32s_Sfs(in, 1, o, 0, 0); }, kelStatusBadSize},
        {"LShift null, negative shift", [&](Kel32s*) { return n8_kelsLShiftC_32s_I(-1, nullptr, 4); },
         kelStatusNullPointer},
        {"LShift len 0, negative shift", [&](Kel32s* o) { return n8_kelsLShiftC_32s_I(-1, o, 0); }, kelStatusBadSize},
        {"LShift negative shift", [&](Kel32s* o) { return n8_kelsLShiftC_32s_I(-1, o, 4); }, kelStatusBadArgument},
        {"Threshold len 0", [&](Kel32s* o) { return n8_kelsThreshold_GT_32s_I(o, 0, 0); }, kelStatusBadSize},
        {"CopyBE null src", [&](Kel32s* o) { return n8_kelsCopyBE_1u(nullptr, 0, b(o), 0, 8); }, kelStatusNullPointer},
        {"CopyBE negative src offset", [&](Kel32s* o) { return n8_kelsCopyBE_1u(inB, -1, b(o), 0, 8); },
         kelStatusBadSize},
        {"CopyBE negative dst offset", [&](Kel32s* o) { return n8_kelsCopyBE_1u(inB, 0, b(o), -1, 8); },
         kelStatusBadSize},
        {"CopyBE len 0", [&](Kel32s* o) { return n8_kelsCopyBE_1u(inB, 0, b(o), 0, 0); }, kelStatusBadSize},
        {"SortAscend null idx", [&](Kel32s* o) { return n8_kelsSortIndexAscend_32s_I(o, nullptr, 4); },
         kelStatusNullPointer},
        {"SortAscend len 0", [&](Kel32s* o) { return n8_kelsSortIndexAscend_32s_I(o, idx, 0); }, kelStatusBadSize},
        {"SortDescend null values", [&](Kel32s*) { return n8_kelsSortIndexDescend_32s_I(nullptr, idx, 4); },
         kelStatusNullPointer},
        {"SortDescend len -1", [&](Kel32s* o) { return n8_kelsSortIndexDescend_32s_I(o, idx, -1); }, kelStatusBadSize},
    };
    for (const CheckCase& c : cases) {
        Kel32s out[4] = {-7, -7, -7, -7};
        for (int& i : idx) i = -7;
        EXPECT_EQ(c.expect, c.call(out)) << c.name;
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(-7, out[k]) << c.name;
            EXPECT_EQ(-7, idx[k]) << c.name;
        }
    }
}

// ---- Known answers ----------------------------------------------------------------------------------------------

TEST(Primitives, AddCSaturatesAtBothEnds) {
    Kel32s v[3] = {INT_MAX, INT_MIN, 0};
    Kel32s out[3];
    ASSERT_EQ(kelStatusOk, n8_kelsAddC_32s_Sfs(v, 1, out, 3, 0));
    EXPECT_EQ(INT_MAX, out[0]);
    EXPECT_EQ(INT_MIN + 1, out[1]);
    ASSERT_EQ(kelStatusOk, n8_kelsAddC_32s_Sfs(v, -1, out, 3, 0));
    EXPECT_EQ(INT_MAX - 1, out[0]);
    EXPECT_EQ(INT_MIN, out[1]);
    ASSERT_EQ(kelStatusOk, n8_kelsAddC_32s_Sfs(v, INT_MIN, v, 3, 0));  // in place
    EXPECT_EQ(-1, v[0]);
    EXPECT_EQ(INT_MIN, v[1]);
    EXPECT_EQ(INT_MIN, v[2]);
}

// Non-zero scale factors: rounding to nearest with ties to even, saturation, and no overflow at extreme scales.
TEST(Primitives, AddCScaledRoundsAndSaturates) {
    const Kel32s v[6] = {3, 5, -3, -5, INT_MAX, INT_MIN};
    Kel32s out[6];
    ASSERT_EQ(kelStatusOk, n8_kelsAddC_32s_Sfs(v, 0, out, 6, 1));
    EXPECT_EQ((std::vector<Kel32s>{2, 2, -2, -2, 1 << 30, -(1 << 30)}), std::vector<Kel32s>(out, out + 6));
    ASSERT_EQ(kelStatusOk, n8_kelsAddC_32s_Sfs(v, INT_MAX, out, 6, 1));
    EXPECT_EQ(INT_MAX, out[4]);  // (2^32 - 2) / 2 = 2^31 - 1
    ASSERT_EQ(kelStatusOk, n8_kelsAddC_32s_Sfs(v, 1, out, 6, -1));
    EXPECT_EQ((std::vector<Kel32s>{8, 12, -4, -8, INT_MAX, INT_MIN}), std::vector<Kel32s>(out, out + 6));
    for (int scale : {33, 34, 100, INT_MAX}) {
        ASSERT_EQ(kelStatusOk, n8_kelsAddC_32s_Sfs(v, INT_MIN, out, 6, scale));
        EXPECT_EQ((std::vector<Kel32s>{0, 0, 0, 0, 0, 0}), std::vector<Kel32s>(out, out + 6)) << scale;
    }
    for (int scale : {-31, -32, -100, INT_MIN}) {
        ASSERT_EQ(kelStatusOk, n8_kelsAddC_32s_Sfs(v, 0, out, 6, scale));
        EXPECT_EQ((std::vector<Kel32s>{INT_MAX, INT_MAX, INT_MIN, INT_MIN, INT_MAX, INT_MIN}),
                  std::vector<Kel32s>(out, out + 6))
            << scale;
    }
}

TEST(Primitives, LShiftDropsHighBitsAndClearsFrom32) {
    Kel32s v[4] = {15, -1, 0x40000001, INT_MIN};
    ASSERT_EQ(kelStatusOk, n8_kelsLShiftC_32s_I(16, v, 4));
    EXPECT_EQ((std::vector<Kel32s>{983040, -65536, 0x10000, 0}), std::vector<Kel32s>(v, v + 4));
    ASSERT_EQ(kelStatusOk, n8_kelsLShiftC_32s_I(0, v, 4));
    EXPECT_EQ(983040, v[0]);
    ASSERT_EQ(kelStatusOk, n8_kelsLShiftC_32s_I(32, v, 4));
    EXPECT_EQ((std::vector<Kel32s>{0, 0, 0, 0}), std::vector<Kel32s>(v, v + 4));
}

TEST(Primitives, ThresholdLowersOnlyValuesAboveLevel) {
    Kel32s v[3] = {7, 5, -9};
    ASSERT_EQ(kelStatusOk, n8_kelsThreshold_GT_32s_I(v, 3, 5));
    EXPECT_EQ((std::vector<Kel32s>{5, 5, -9}), std::vector<Kel32s>(v, v + 3));
}

TEST(Primitives, MaxAndMinMaxAreSigned) {
    const Kel32s v[5] = {-3, INT_MIN, 0x7FFFFFF0, -1, 2};
    Kel32s lo = 0, hi = 0;
    ASSERT_EQ(kelStatusOk, n8_kelsMax_32s(v, 5, &hi));
    EXPECT_EQ(0x7FFFFFF0, hi);
    ASSERT_EQ(kelStatusOk, n8_kelsMinMax_32s(v, 5, &lo, &hi));
    EXPECT_EQ(INT_MIN, lo);
    EXPECT_EQ(0x7FFFFFF0, hi);
    ASSERT_EQ(kelStatusOk, n8_kelsMinMax_32s(v + 3, 1, &lo, &hi));
    EXPECT_EQ(-1, lo);
    EXPECT_EQ(-1, hi);
}

TEST(Primitives, MoveShiftsOverlappingBytesBothWays) {
    std::vector<Kel8u> up(100), down(100);
    for (int i = 0; i < 100; ++i) up[i] = down[i] = static_cast<Kel8u>(i);
    ASSERT_EQ(kelStatusOk, n8_kelsMove_8u(up.data(), up.data() + 1, 99));
    ASSERT_EQ(kelStatusOk, n8_kelsMove_8u(down.data() + 1, down.data(), 99));
    for (int i = 0; i < 99; ++i) {
        EXPECT_EQ(i, up[i + 1]);
        EXPECT_EQ(i + 1, down[i]);
    }
    EXPECT_EQ(0, up[0]);
    EXPECT_EQ(99, down[99]);

    std::vector<Kel32s> w(50);
    for (int i = 0; i < 50; ++i) w[i] = i - 25;
    ASSERT_EQ(kelStatusOk, n8_kelsMove_32s(w.data(), w.data() + 3, 47));
    for (int i = 0; i < 47; ++i) EXPECT_EQ(i - 25, w[i + 3]);
}

TEST(Primitives, ElementPrimitivesCoverWholeElements) {
    std::vector<Kel32s> a(37, -1), b(40, 0x11111111);
    ASSERT_EQ(kelStatusOk, n8_kelsSet_32s(INT_MIN, a.data() + 1, 35));
    ASSERT_EQ(kelStatusOk, n8_kelsCopy_32s(a.data(), b.data() + 2, 37));
    EXPECT_EQ(0x11111111, b[1]);
    EXPECT_EQ(-1, b[2]);
    EXPECT_EQ(INT_MIN, b[37]);
    EXPECT_EQ(-1, b[38]);
    EXPECT_EQ(0x11111111, b[39]);
    ASSERT_EQ(kelStatusOk, n8_kelsZero_16s(reinterpret_cast<Kel16s*>(b.data() + 1), 3));  // 1.5 elements of b
    EXPECT_EQ(0, b[1]);
    EXPECT_EQ(static_cast<Kel32s>(0xFFFF0000), b[2]);
    ASSERT_EQ(kelStatusOk, n8_kelsZero_16sc(reinterpret_cast<Kel16sc*>(b.data() + 3), 2));
    ASSERT_EQ(kelStatusOk, n8_kelsZero_32s(b.data() + 5, 1));
    EXPECT_EQ((std::vector<Kel32s>{0, 0, 0, INT_MIN}), std::vector<Kel32s>(b.begin() + 3, b.begin() + 7));
    const Kel32f f[2] = {1.5f, -0.0f};
    Kel32f g[2] = {0, 0};
    ASSERT_EQ(kelStatusOk, n8_kelsCopy_32f(f, g, 2));
    EXPECT_EQ(0, std::memcmp(f, g, sizeof f));
}

// ---- Splitting byte counts beyond INT_MAX -----------------------------------------------------------------------
// The library splits at kPieceBytes; small pieces give the same code paths at testable sizes.

TEST(Primitives, PiecesCoverTheWholeRangeInTheSafeOrder) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(20);
    const auto data = kel::test::randomBytes(rng, 3000);
    for (size_t piece : {32, 64, 96}) {
        for (size_t n : {1, 31, 32, 33, 1000, 1024}) {
            std::vector<Kel8u> a(3000, 0), expect(3000, 0);
            n8_ownCopyPieces(data.data(), a.data() + 5, n, piece);
            std::memcpy(expect.data() + 5, data.data(), n);
            ASSERT_EQ(expect, a) << "copy n " << n << " piece " << piece;
            n8_ownZeroPieces(a.data() + 5, n, piece);
            ASSERT_EQ(std::vector<Kel8u>(3000, 0), a);
            for (long dist : {-200L, -33L, -1L, 1L, 33L, 200L}) {
                std::vector<Kel8u> m(data), want(data);
                n8_ownMovePieces(m.data() + 1000, m.data() + 1000 + dist, n, piece);
                std::memmove(want.data() + 1000 + dist, want.data() + 1000, n);
                ASSERT_EQ(want, m) << "move n " << n << " piece " << piece << " dist " << dist;
            }
        }
    }
}

// ---- Bit-string copy --------------------------------------------------------------------------------------------

bool bitAt(const Kel8u* p, long k) {
    return (p[k / 8] >> (k % 8)) & 1;
}

TEST(Primitives, CopyBEMatchesBitwiseCopyWithinExactBuffers) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(21);
    for (int trial = 0; trial < 3000; ++trial) {
        const int srcOff = static_cast<int>(rng() % 40), dstOff = static_cast<int>(rng() % 40);
        const int len = 1 + static_cast<int>(trial < 1500 ? rng() % 40 : rng() % 2000);
        // Each buffer ends with the byte that holds its last bit, against the guard page.
        const size_t srcBytes = (srcOff + len + 7) / 8, dstBytes = (dstOff + len + 7) / 8;
        GuardedBuffer src(srcBytes), dst(dstBytes);
        const auto s = kel::test::randomBytes(rng, srcBytes), d0 = kel::test::randomBytes(rng, dstBytes);
        src.fill(s.data(), srcBytes);
        dst.fill(d0.data(), dstBytes);
        ASSERT_EQ(kelStatusOk, n8_kelsCopyBE_1u(src.data(), srcOff, dst.data(), dstOff, len));
        for (long k = 0; k < static_cast<long>(dstBytes * 8); ++k) {
            const bool inRun = k >= dstOff && k < dstOff + len;
            const bool want = inRun ? bitAt(s.data(), srcOff + (k - dstOff)) : bitAt(d0.data(), k);
            ASSERT_EQ(want, bitAt(dst.data(), k))
                << "bit " << k << " srcOff " << srcOff << " dstOff " << dstOff << " len " << len;
        }
    }
}

}  // namespace

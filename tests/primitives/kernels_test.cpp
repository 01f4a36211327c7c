// tests/primitives/kernels_test.cpp - every vector kernel of the primitives against its scalar twin.
//
// Each case runs the kernel and its _ref twin on identical buffers with sentinel margins and compares the whole
// buffers, margins included, so a stray write anywhere shows up as a difference. Lengths 0-256 cover every
// head/block/tail split; all 16 source and destination phases cover every alignment step; random lengths reach
// 64 KiB; one size crosses the non-temporal threshold. GuardedBuffer cases put the last byte against an inaccessible
// page so any access past the end faults.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include "primitives/primitives_internal.h"
#include "support/test_util.h"

namespace {

using kel::test::GuardedBuffer;
using kel::test::makeRng;
using kel::test::seedNote;

constexpr size_t kMargin = 48;
constexpr Kel8u kSentinel = 0xA5;

// Bytes with long runs of the values that expose signed-byte mistakes, mixed with random bytes.
std::vector<Kel8u> byteRuns(std::mt19937_64& rng, size_t n) {
    static const Kel8u kRun[] = {0x00, 0x7F, 0x80, 0xFF};
    std::vector<Kel8u> v(n);
    for (size_t i = 0; i < n;) {
        const size_t run = 1 + rng() % 40;
        const int kind = static_cast<int>(rng() % 5);
        for (size_t k = 0; k < run && i < n; ++k, ++i) v[i] = kind < 4 ? kRun[kind] : static_cast<Kel8u>(rng());
    }
    return v;
}

// 32-bit values with runs of the extremes and their neighbours, mixed with random values.
std::vector<Kel32s> wordRuns(std::mt19937_64& rng, size_t n) {
    static const Kel32s kRun[] = {INT_MIN, INT_MIN + 1, -1, 0, 1, INT_MAX - 1, INT_MAX, 0x7F, -0x80};
    std::vector<Kel32s> v(n);
    for (size_t i = 0; i < n;) {
        const size_t run = 1 + rng() % 12;
        const size_t kind = rng() % 12;
        for (size_t k = 0; k < run && i < n; ++k, ++i) {
            v[i] = kind < 9 ? kRun[kind] : static_cast<Kel32s>(rng());
        }
    }
    return v;
}

// A byte kernel under test: reads src (may be null), writes dst, len bytes.
using ByteKernel = void (*)(const Kel8u* src, Kel8u* dst, int len);

// Kernel and twin on dst at phase dstOff and src at phase srcOff, with sentinel margins.
void checkBytes(ByteKernel kernel, ByteKernel ref, const std::vector<Kel8u>& data, size_t len, size_t srcOff,
                size_t dstOff) {
    std::vector<Kel8u> src(len + 2 * kMargin), a(len + 2 * kMargin, kSentinel), b(a);
    std::memcpy(src.data() + srcOff, data.data(), len);
    kernel(src.data() + srcOff, a.data() + kMargin + dstOff % 16, static_cast<int>(len));
    ref(src.data() + srcOff, b.data() + kMargin + dstOff % 16, static_cast<int>(len));
    ASSERT_EQ(a, b) << "len " << len << " srcOff " << srcOff << " dstOff " << dstOff;
}

struct BytePair {
    const char* name;
    ByteKernel kernel, ref;
};

const BytePair kBytePairs[] = {
    {"copy", n8_ownsCopy_8u, n8_ownsCopy_8u_ref},
    {"move", n8_ownsMove_8u, n8_ownsMove_8u_ref},
    {"set00", [](const Kel8u*, Kel8u* d, int n) { n8_ownsSet_8u(0x00, d, n); },
     [](const Kel8u*, Kel8u* d, int n) { n8_ownsSet_8u_ref(0x00, d, n); }},
    {"set7F", [](const Kel8u*, Kel8u* d, int n) { n8_ownsSet_8u(0x7F, d, n); },
     [](const Kel8u*, Kel8u* d, int n) { n8_ownsSet_8u_ref(0x7F, d, n); }},
    {"set80", [](const Kel8u*, Kel8u* d, int n) { n8_ownsSet_8u(0x80, d, n); },
     [](const Kel8u*, Kel8u* d, int n) { n8_ownsSet_8u_ref(0x80, d, n); }},
    {"setFF", [](const Kel8u*, Kel8u* d, int n) { n8_ownsSet_8u(0xFF, d, n); },
     [](const Kel8u*, Kel8u* d, int n) { n8_ownsSet_8u_ref(0xFF, d, n); }},
    {"zero", [](const Kel8u*, Kel8u* d, int n) { n8_ownsZero_8u(d, n); },
     [](const Kel8u*, Kel8u* d, int n) { n8_ownsZero_8u_ref(d, n); }},
};

TEST(PrimitiveKernels, ByteKernelsMatchTwinAtEveryLengthAndPhase) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(1);
    const auto data = byteRuns(rng, 256);
    for (const BytePair& p : kBytePairs) {
        SCOPED_TRACE(p.name);
        for (size_t len = 0; len <= 256; ++len) {
            for (size_t srcOff = 0; srcOff < 16; ++srcOff) {
                for (size_t dstOff = 0; dstOff < 16; ++dstOff) {
                    checkBytes(p.kernel, p.ref, data, len, srcOff, dstOff);
                    if (HasFatalFailure()) return;
                }
            }
        }
    }
}

TEST(PrimitiveKernels, ByteKernelsMatchTwinAtRandomLengths) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(2);
    const auto data = byteRuns(rng, 65536);
    for (const BytePair& p : kBytePairs) {
        SCOPED_TRACE(p.name);
        for (int trial = 0; trial < 40; ++trial) {
            checkBytes(p.kernel, p.ref, data, rng() % 65537, rng() % 16, rng() % 16);
            if (HasFatalFailure()) return;
        }
    }
}

// Above the non-temporal threshold the copy and fill kernels take their streaming path.
TEST(PrimitiveKernels, ByteKernelsMatchTwinAboveCacheThreshold) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(3);
    const size_t len = kNonTemporalThreshold + 77;
    const auto data = byteRuns(rng, len);
    for (const BytePair& p : kBytePairs) {
        SCOPED_TRACE(p.name);
        checkBytes(p.kernel, p.ref, data, len, 3, 9);
    }
}

// Source and destination inside one buffer at every small distance in both directions, and some large ones.
TEST(PrimitiveKernels, MoveMatchesTwinForOverlappingRanges) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(4);
    const auto data = byteRuns(rng, 4096 + 512);
    std::vector<long> dists;
    for (long d = -80; d <= 80; ++d) dists.push_back(d);
    for (long d : {-1000L, -257L, 257L, 1000L}) dists.push_back(d);
    for (size_t len = 0; len <= 300; len += (len < 140 ? 1 : 7)) {
        for (long dist : dists) {
            for (size_t base = 1000; base < 1016; base += 5) {
                std::vector<Kel8u> a(data.begin(), data.begin() + 2400), b = a;
                n8_ownsMove_8u(a.data() + base, a.data() + base + dist, static_cast<int>(len));
                n8_ownsMove_8u_ref(b.data() + base, b.data() + base + dist, static_cast<int>(len));
                ASSERT_EQ(a, b) << "len " << len << " dist " << dist << " base " << base;
            }
        }
    }
    for (int trial = 0; trial < 30; ++trial) {
        const size_t len = 1 + rng() % 4096;
        const long dist = static_cast<long>(rng() % 512) - 256;
        std::vector<Kel8u> a(data), b(data);
        n8_ownsMove_8u(a.data() + 256, a.data() + 256 + dist, static_cast<int>(len));
        n8_ownsMove_8u_ref(b.data() + 256, b.data() + 256 + dist, static_cast<int>(len));
        ASSERT_EQ(a, b) << "len " << len << " dist " << dist;
    }
}

TEST(PrimitiveKernels, ByteKernelsStayInsideGuardedBuffers) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(5);
    for (size_t len = 1; len <= 256; ++len) {
        const auto data = byteRuns(rng, len);
        GuardedBuffer src(len), dst(len);
        src.fill(data.data(), len);
        for (const BytePair& p : kBytePairs) {
            p.kernel(src.data(), dst.data(), static_cast<int>(len));
            std::vector<Kel8u> expect(len, kSentinel);
            p.ref(data.data(), expect.data(), static_cast<int>(len));
            ASSERT_EQ(0, std::memcmp(dst.data(), expect.data(), len)) << p.name << " len " << len;
        }
    }
}

// ---- 32-bit kernels ---------------------------------------------------------------------------------------------

constexpr Kel32s kWordSentinel = 0x5A5A5A5A;
constexpr size_t kWordMargin = 8;

// op(src, dst, len, useRef) on a copy of data at element phase srcOff (src) and dstOff (dst); inPlace runs on dst
// only. Compares everything, margins included.
template <class Op>
void checkWords(const Op& op, const std::vector<Kel32s>& data, size_t len, size_t srcOff, size_t dstOff, bool inPlace) {
    std::vector<Kel32s> src(len + 2 * kWordMargin, kWordSentinel);
    std::copy(data.begin(), data.begin() + len, src.begin() + kWordMargin + srcOff);
    std::vector<Kel32s> a(len + 2 * kWordMargin, kWordSentinel);
    if (inPlace) std::copy(data.begin(), data.begin() + len, a.begin() + kWordMargin + dstOff);
    std::vector<Kel32s> b(a);
    const Kel32s* s = inPlace ? nullptr : src.data() + kWordMargin + srcOff;
    op(s, a.data() + kWordMargin + dstOff, static_cast<int>(len), false);
    op(s, b.data() + kWordMargin + dstOff, static_cast<int>(len), true);
    ASSERT_EQ(a, b) << "len " << len << " srcOff " << srcOff << " dstOff " << dstOff;
}

template <class Op>
void sweepWords(const Op& op, bool inPlace, size_t minLen, std::uint64_t salt) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(salt);
    const auto data = wordRuns(rng, 16384);
    for (size_t len = minLen; len <= 256; ++len) {
        for (size_t srcOff = 0; srcOff < 4; ++srcOff) {
            for (size_t dstOff = 0; dstOff < 4; ++dstOff) {
                checkWords(op, data, len, srcOff, dstOff, inPlace);
                if (::testing::Test::HasFatalFailure()) return;
            }
        }
    }
    for (int trial = 0; trial < 40; ++trial) {
        const size_t len = minLen + rng() % (16385 - minLen);
        checkWords(op, data, len, rng() % 4, rng() % 4, inPlace);
        if (::testing::Test::HasFatalFailure()) return;
    }
}

TEST(PrimitiveKernels, Set32MatchesTwin) {
    for (Kel32s value : {0, -1, INT_MIN, INT_MAX, 0x01020304}) {
        sweepWords([value](const Kel32s*, Kel32s* d, int n,
                           bool ref) { (ref ? n8_ownsSet_32s_ref : n8_ownsSet_32s)(value, d, n); },
                   false, 0, 10);
    }
}

TEST(PrimitiveKernels, MaxAndMinMaxMatchTwin) {
    sweepWords(
        // The results go into the margin before d, which the comparison covers too.
        [](const Kel32s* s, Kel32s* d, int n, bool ref) {
            d[-1] = (ref ? n8_ownsMax_32s_ref : n8_ownsMax_32s)(s, n);
            (ref ? n8_ownsMinMax_32s_ref : n8_ownsMinMax_32s)(s, n, d - 2, d - 3);
        },
        false, 1, 11);
    // The extreme at every position of a block, so every lane and accumulator has to carry it.
    std::vector<Kel32s> v(67, 5);
    for (size_t pos = 0; pos < v.size(); ++pos) {
        for (Kel32s x : {INT_MIN, INT_MAX}) {
            v[pos] = x;
            Kel32s lo, hi;
            n8_ownsMinMax_32s(v.data(), 67, &lo, &hi);
            EXPECT_EQ(x == INT_MIN ? INT_MIN : 5, lo);
            EXPECT_EQ(x == INT_MAX ? INT_MAX : 5, hi);
            EXPECT_EQ(x == INT_MAX ? INT_MAX : 5, n8_ownsMax_32s(v.data(), 67));
            v[pos] = 5;
        }
    }
}

TEST(PrimitiveKernels, AddCMatchesTwinWithSaturation) {
    for (Kel32s value : {1, -1, 2, -2, 0x7F, -0x80, INT_MAX, INT_MIN, 0x12345678, 0}) {
        SCOPED_TRACE(value);
        auto op = [value](const Kel32s* s, Kel32s* d, int n, bool ref) {
            (ref ? n8_ownsAddC_32s_ref : n8_ownsAddC_32s)(s ? s : d, value, d, n);
        };
        sweepWords(op, false, 0, 12);
        sweepWords(op, true, 0, 13);
    }
}

TEST(PrimitiveKernels, LShiftMatchesTwin) {
    for (int shift : {0, 1, 7, 8, 15, 16, 24, 31, 32, 33, 1000}) {
        SCOPED_TRACE(shift);
        sweepWords([shift](const Kel32s*, Kel32s* d, int n,
                           bool ref) { (ref ? n8_ownsLShiftC_32s_I_ref : n8_ownsLShiftC_32s_I)(shift, d, n); },
                   true, 0, 14);
    }
}

TEST(PrimitiveKernels, ThresholdMatchesTwin) {
    for (Kel32s level : {0, -1, 5, INT_MIN, INT_MAX, INT_MIN + 1, INT_MAX - 1, 0x7F, -0x80}) {
        SCOPED_TRACE(level);
        sweepWords(
            [level](const Kel32s*, Kel32s* d, int n, bool ref) {
                (ref ? n8_ownsThreshold_GT_32s_I_ref : n8_ownsThreshold_GT_32s_I)(d, n, level);
            },
            true, 0, 15);
    }
}

TEST(PrimitiveKernels, WordKernelsStayInsideGuardedBuffers) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(16);
    for (size_t len = 1; len <= 96; ++len) {
        const auto data = wordRuns(rng, len);
        GuardedBuffer src(len * 4), dst(len * 4);
        src.fill(data.data(), len * 4);
        auto* s = reinterpret_cast<Kel32s*>(src.data());
        auto* d = reinterpret_cast<Kel32s*>(dst.data());
        const int n = static_cast<int>(len);
        Kel32s lo, hi;
        n8_ownsMinMax_32s(s, n, &lo, &hi);
        EXPECT_EQ(hi, n8_ownsMax_32s(s, n));
        n8_ownsAddC_32s(s, 3, d, n);
        n8_ownsAddC_32s(d, -3, d, n);
        n8_ownsThreshold_GT_32s_I(d, n, INT_MAX - 3);
        n8_ownsLShiftC_32s_I(1, d, n);
        n8_ownsSet_32s(7, d, n);
    }
}

}  // namespace

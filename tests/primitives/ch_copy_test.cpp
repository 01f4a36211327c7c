// tests/primitives/ch_copy_test.cpp - libkelchn8's own copy of the byte copy and move, linked alone against
// kelchn8_internal, checked against the C library over lengths and overlaps that reach every kernel path.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "primitives/primitives.h"
#include "support/test_util.h"

namespace {

TEST(ChPrimitives, CopyAndMoveMatchTheCLibrary) {
    SCOPED_TRACE(kel::test::seedNote());
    auto rng = kel::test::makeRng(40);
    const auto data = kel::test::randomBytes(rng, 2048);
    for (int len = 1; len <= 300; len += (len < 70 ? 1 : 13)) {
        for (int off = 0; off < 16; ++off) {
            std::vector<Kel8u> a(700, 0), b(700, 0);
            ASSERT_EQ(kelStatusOk, n8_kelsCopy_8u(data.data() + off, a.data() + 16 + off / 3, len));
            std::memcpy(b.data() + 16 + off / 3, data.data() + off, len);
            ASSERT_EQ(b, a) << "copy len " << len << " off " << off;
            for (int dist : {-37, -1, 1, 5, 37}) {
                std::vector<Kel8u> m(data), want(data);
                ASSERT_EQ(kelStatusOk, n8_kelsMove_8u(m.data() + 100 + off, m.data() + 100 + off + dist, len));
                std::memmove(want.data() + 100 + off + dist, want.data() + 100 + off, len);
                ASSERT_EQ(want, m) << "move len " << len << " dist " << dist;
            }
        }
    }
    Kel8u byte = 9;
    EXPECT_EQ(kelStatusNullPointer, n8_kelsCopy_8u(nullptr, &byte, 1));
    EXPECT_EQ(kelStatusBadSize, n8_kelsMove_8u(&byte, &byte, 0));
    EXPECT_EQ(9, byte);
}

}  // namespace

// tests/core/mem_builtins_test.cpp - the shared libraries' own memcpy, memmove, memset and memcmp agree with the C
// library's at every size class boundary, alignment and overlap.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "support/test_util.h"

extern "C" {
void* kel_test_memcpy(void* dst, const void* src, size_t n);
void* kel_test_memmove(void* dst, const void* src, size_t n);
void* kel_test_memset(void* dst, int value, size_t n);
int kel_test_memcmp(const void* a, const void* b, size_t n);
}

namespace {

std::vector<std::size_t> sizes() {
    std::vector<std::size_t> v;
    for (std::size_t n = 0; n <= 300; ++n) v.push_back(n);
    for (std::size_t n : {511, 512, 513, 4095, 4096, 65537}) v.push_back(n);
    return v;
}

TEST(MemBuiltins, CopyAndSetMatchTheCLibrary) {
    auto rng = kel::test::makeRng(3);
    for (std::size_t n : sizes()) {
        for (std::size_t align : {0, 1, 7, 15}) {
            const auto src = kel::test::randomBytes(rng, n + 32);
            std::vector<std::uint8_t> a(n + 48, 0xAB), b(n + 48, 0xAB);
            EXPECT_EQ(kel_test_memcpy(a.data() + align, src.data() + 3, n), a.data() + align);
            std::memcpy(b.data() + align, src.data() + 3, n);
            ASSERT_EQ(a, b) << "memcpy n=" << n << " align=" << align;
            EXPECT_EQ(kel_test_memset(a.data() + align, 0x5C, n), a.data() + align);
            std::memset(b.data() + align, 0x5C, n);
            ASSERT_EQ(a, b) << "memset n=" << n;
        }
    }
}

TEST(MemBuiltins, MoveHandlesOverlapInBothDirections) {
    auto rng = kel::test::makeRng(4);
    for (std::size_t n : sizes()) {
        for (std::ptrdiff_t shift : {-33, -16, -1, 0, 1, 5, 16, 17, 40}) {
            auto a = kel::test::randomBytes(rng, n + 100);
            auto b = a;
            kel_test_memmove(a.data() + 50 + shift, a.data() + 50, n);
            std::memmove(b.data() + 50 + shift, b.data() + 50, n);
            ASSERT_EQ(a, b) << "n=" << n << " shift=" << shift;
        }
    }
}

TEST(MemBuiltins, CompareHasTheCLibrarysSign) {
    auto rng = kel::test::makeRng(5);
    for (std::size_t n : sizes()) {
        auto a = kel::test::randomBytes(rng, n);
        auto b = a;
        EXPECT_EQ(kel_test_memcmp(a.data(), b.data(), n), 0);
        if (n == 0) continue;
        b[rng() % n] ^= 0x80;
        const int ours = kel_test_memcmp(a.data(), b.data(), n), theirs = std::memcmp(a.data(), b.data(), n);
        EXPECT_EQ(ours < 0, theirs < 0);
        EXPECT_EQ(ours > 0, theirs > 0);
    }
}

}  // namespace

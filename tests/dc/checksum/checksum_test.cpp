// tests/dc/checksum/checksum_test.cpp - the four checksums: worked values, argument checks, tables against a
// bitwise definition, and the wide kernels against zlib, their one-byte twins and bitwise CRCs written out here,
// over random lengths, alignments, split points, saturating byte runs and guard-page buffers.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "dc/checksum/checksum_internal.h"
#include "dc/checksum/crc_tables.inc"
#include "keldc.h"
#include "support/test_util.h"

namespace {

using kel::test::GuardedBuffer;
using kel::test::makeRng;
using kel::test::seedNote;

using Kernel = Kel32u (*)(const Kel8u*, Kel32u, Kel32u);

// --- bitwise definitions, independent of every table -------------------------------------------------------------

Kel32u reflectedBitwise(Kel32u poly, Kel32u c, const Kel8u* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (poly & (0u - (c & 1u)));
    }
    return c;
}

Kel32u crc32cBitwise(const Kel8u* p, size_t n, Kel32u reg) {
    return reflectedBitwise(0x82F63B78u, reg, p, n);
}

Kel32u bzip2Bitwise(const Kel8u* p, size_t n, Kel32u crc) {
    Kel32u c = ~crc;
    for (size_t i = 0; i < n; ++i) {
        c ^= Kel32u(p[i]) << 24;
        for (int k = 0; k < 8; ++k) c = (c << 1) ^ (0x04C11DB7u & (0u - (c >> 31)));
    }
    return ~c;
}

Kel32u zlibAdler(const Kel8u* p, size_t n, Kel32u a) {
    return Kel32u(adler32(a, p, uInt(n)));
}
Kel32u zlibCrc(const Kel8u* p, size_t n, Kel32u c) {
    return Kel32u(crc32(c, p, uInt(n)));
}

// One kernel, its twin, an independent oracle and a typical starting value.
struct Case {
    const char* name;
    Kernel fast, ref;
    Kel32u (*oracle)(const Kel8u*, size_t, Kel32u);
    Kel32u start;
};

const Case kCases[] = {
    {"adler32", n8_ownsAdler32_8u, n8_ownsAdler32_8u_ref, zlibAdler, 1},
    {"crc32", n8_ownsCRC32_8u, n8_ownsCRC32_8u_ref, zlibCrc, 0},
    {"crc32c", n8_ownsCRC32C_8u, n8_ownsCRC32C_8u_ref, crc32cBitwise, 0xFFFFFFFF},
    {"bzip2", n8_ownsCRC32_BZ2_8u, n8_ownsCRC32_BZ2_8u_ref, bzip2Bitwise, 0},
};

// A start value the oracles also accept: any 32 bits for the CRCs, halves below 65521 for Adler-32.
Kel32u randomStart(const Case& c, std::mt19937_64& rng) {
    const Kel32u v = Kel32u(rng());
    return c.fast == n8_ownsAdler32_8u ? (v & 0xFFFF) % 65521 | ((v >> 16) % 65521) << 16 : v;
}

// Random bytes, or a run of one of the values that expose signed or saturating arithmetic.
std::vector<Kel8u> testData(std::mt19937_64& rng, size_t n) {
    static const Kel8u kRuns[] = {0x00, 0x7F, 0x80, 0xFF};
    if (rng() % 4 == 0) return std::vector<Kel8u>(n, kRuns[rng() % 4]);
    return kel::test::randomBytes(rng, n);
}

const Kel8u* bytes(const char* s) {
    return reinterpret_cast<const Kel8u*>(s);
}

TEST(Checksum, WorkedValues) {
    const struct {
        const char* text;
        Kel32u adler, crc32, crc32c, bzip2;
    } kValues[] = {{"abc", 0x024D0127, 0x352441C2, 0x364B3FB7, 0x648CBB73},
                   {"123456789", 0x091E01DE, 0xCBF43926, 0xE3069283, 0xFC891918}};
    for (const auto& v : kValues) {
        const int len = int(std::strlen(v.text));
        Kel32u adler = 1, crc = 0, crcc = 0xFFFFFFFF, bz = 0;
        EXPECT_EQ(kelsAdler32_8u(bytes(v.text), len, &adler), kelStatusOk);
        EXPECT_EQ(kelsCRC32_8u(bytes(v.text), len, &crc), kelStatusOk);
        EXPECT_EQ(kelsCRC32C_8u(bytes(v.text), Kel32u(len), &crcc), kelStatusOk);
        EXPECT_EQ(kelsCRC32_BZ2_8u(bytes(v.text), len, &bz), kelStatusOk);
        EXPECT_EQ(adler, v.adler) << v.text;
        EXPECT_EQ(crc, v.crc32) << v.text;
        EXPECT_EQ(~crcc, v.crc32c) << v.text;
        EXPECT_EQ(bz, v.bzip2) << v.text;
    }
    Kel32u crcc = 0xFFFFFFFF;
    kelsCRC32C_8u(bytes("abc"), 3, &crcc);
    EXPECT_EQ(crcc, 0xC9B4C048u);
}

TEST(Checksum, TablesMatchBitwiseDefinition) {
    const Kel32u(*const crc32Rows[8])[256] = {&crc_table_il8_o32, &crc_table_il8_o40, &crc_table_il8_o48,
                                              &crc_table_il8_o56, &crc_table_il8_o64, &crc_table_il8_o72,
                                              &crc_table_il8_o80, &crc_table_il8_o88};
    // Slice k: byte i followed by k zero bytes, from a zero register.
    for (int k = 0; k < 8; ++k) {
        for (int i = 0; i < 256; ++i) {
            Kel8u msg[8] = {Kel8u(i)};
            const size_t n = size_t(k) + 1;
            ASSERT_EQ((*crc32Rows[k])[i], reflectedBitwise(0xEDB88320u, 0, msg, n)) << k << " " << i;
            if (k < 4) ASSERT_EQ(CRC32CTable[k][i], reflectedBitwise(0x82F63B78u, 0, msg, n)) << k << " " << i;
            ASSERT_EQ(crc_table[k][i], __builtin_bswap32(~bzip2Bitwise(msg, n, ~0u))) << k << " " << i;
        }
    }
    EXPECT_EQ(crc_table_il8_o32[1], 0x77073096u);
    EXPECT_EQ(CRC32CTable[0][1], 0xF26B8303u);
    EXPECT_EQ(crc_table[0][1], 0xB71DC104u);
}

TEST(Checksum, AdlerArgumentsAndReduction) {
    Kel32u v = 0x12345678;
    EXPECT_EQ(kelsAdler32_8u(bytes("x"), 1, nullptr), kelStatusNullPointer);
    EXPECT_EQ(kelsAdler32_8u(nullptr, 5, nullptr), kelStatusNullPointer);
    for (int len : {5, 0, -1, INT_MIN}) {
        v = 0x12345678;
        EXPECT_EQ(kelsAdler32_8u(nullptr, len, &v), kelStatusOk);
        EXPECT_EQ(v, 1u) << len;
    }
    // No bytes: halves below 65521 come back unchanged, larger ones reduced.
    for (int len : {0, -1, INT_MIN}) {
        v = 0xFFF0FFF0;
        EXPECT_EQ(kelsAdler32_8u(bytes("x"), len, &v), kelStatusOk);
        EXPECT_EQ(v, 0xFFF0FFF0u) << len;
        v = 0xFFFFFFF1;
        EXPECT_EQ(kelsAdler32_8u(bytes("x"), len, &v), kelStatusOk);
        EXPECT_EQ(v, (65535u - 65521) << 16 | (65521u - 65521)) << len;
    }
    // Out-of-range halves enter reduced in both kernels, also ahead of a full vector chunk of 0xFF.
    const std::vector<Kel8u> ff(20000, 0xFF);
    for (Kel32u n : {1u, 31u, 32u, 5536u, 5552u, 20000u}) {
        EXPECT_EQ(n8_ownsAdler32_8u(ff.data(), n, 0xFFFFFFFF), n8_ownsAdler32_8u_ref(ff.data(), n, 0xFFFFFFFF)) << n;
        EXPECT_EQ(n8_ownsAdler32_8u(ff.data(), n, 0xFFF0FFF0), zlibAdler(ff.data(), n, 0xFFF0FFF0)) << n;
    }
}

TEST(Checksum, CrcArgumentChecksLeaveChecksumUntouched) {
    using Crc = KelStatus (*)(const Kel8u*, int, Kel32u*);
    for (Crc f : {kelsCRC32_8u, kelsCRC32_BZ2_8u}) {
        Kel32u v = 0xDEADBEEF;
        EXPECT_EQ(f(nullptr, 3, &v), kelStatusNullPointer);
        EXPECT_EQ(f(bytes("abc"), 3, nullptr), kelStatusNullPointer);
        EXPECT_EQ(f(nullptr, 0, nullptr), kelStatusNullPointer);
        EXPECT_EQ(f(nullptr, -1, &v), kelStatusNullPointer);
        for (int len : {0, -1, INT_MIN}) EXPECT_EQ(f(bytes("abc"), len, &v), kelStatusBadSize) << len;
        EXPECT_EQ(v, 0xDEADBEEFu);
    }
    Kel32u v = 0xDEADBEEF;
    EXPECT_EQ(kelsCRC32C_8u(nullptr, 3, &v), kelStatusNullPointer);
    EXPECT_EQ(kelsCRC32C_8u(bytes("abc"), 3, nullptr), kelStatusNullPointer);
    EXPECT_EQ(kelsCRC32C_8u(nullptr, 0, &v), kelStatusNullPointer);
    EXPECT_EQ(kelsCRC32C_8u(bytes("abc"), 0, &v), kelStatusBadSize);
    EXPECT_EQ(v, 0xDEADBEEFu);
}

// Every length up to 1100 (all slicing paths and stream groups), dense lengths to 11000 (where the two fold levels
// start and every fold-tail shape), and random lengths to 70000; the source cycles through all 16 alignments.
TEST(Checksum, KernelsMatchTwinsAndOracles) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(1);
    std::vector<size_t> lengths;
    for (size_t n = 0; n <= 1100; ++n) lengths.push_back(n);
    for (size_t n = 1101; n <= 11000; n += 5) lengths.push_back(n);
    for (int i = 0; i < 150; ++i) lengths.push_back(rng() % 70001);
    std::vector<Kel8u> store(70000 + 16);
    for (size_t i = 0; i < lengths.size(); ++i) {
        const size_t n = lengths[i];
        const auto data = testData(rng, n);
        Kel8u* p = store.data() + i % 16;
        if (n > 0) std::memcpy(p, data.data(), n);
        for (const Case& c : kCases) {
            const Kel32u start = randomStart(c, rng);
            const Kel32u fast = c.fast(p, Kel32u(n), start);
            ASSERT_EQ(fast, c.ref(p, Kel32u(n), start)) << c.name << " n=" << n;
            if (n < 2000 || n % 7 == 0) ASSERT_EQ(fast, c.oracle(p, n, start)) << c.name << " n=" << n;
        }
    }
}

// Feeding a buffer in up to four pieces through the exported functions gives the one-pass value.
TEST(Checksum, ChainingEqualsOnePass) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(2);
    for (int trial = 0; trial < 300; ++trial) {
        const size_t n = trial < 100 ? rng() % 300 + 1 : rng() % 70000 + 1;
        const auto data = testData(rng, n);
        std::vector<size_t> cuts = {0, n};
        for (int k = rng() % 4; k > 0; --k) cuts.push_back(rng() % (n + 1));
        std::sort(cuts.begin(), cuts.end());
        Kel32u adler = 1, crc = 0, crcc = 0xFFFFFFFF, bz = 0;
        for (size_t k = 0; k + 1 < cuts.size(); ++k) {
            const Kel8u* p = data.data() + cuts[k];
            const int len = int(cuts[k + 1] - cuts[k]);
            ASSERT_EQ(kelsAdler32_8u(p, len, &adler), kelStatusOk);
            if (len == 0) continue;  // the CRCs reject empty pieces
            ASSERT_EQ(kelsCRC32_8u(p, len, &crc), kelStatusOk);
            ASSERT_EQ(kelsCRC32C_8u(p, Kel32u(len), &crcc), kelStatusOk);
            ASSERT_EQ(kelsCRC32_BZ2_8u(p, len, &bz), kelStatusOk);
        }
        ASSERT_EQ(adler, zlibAdler(data.data(), n, 1)) << n;
        ASSERT_EQ(crc, zlibCrc(data.data(), n, 0)) << n;
        ASSERT_EQ(crcc, n8_ownsCRC32C_8u_ref(data.data(), Kel32u(n), 0xFFFFFFFF)) << n;
        ASSERT_EQ(bz, n8_ownsCRC32_BZ2_8u_ref(data.data(), Kel32u(n), 0)) << n;
    }
}

// Sources whose last byte is the last before an inaccessible page: any read past the end faults.
TEST(Checksum, ReadsStayInsideTheSource) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(3);
    std::vector<size_t> lengths = {65536, 70001};
    for (size_t n = 0; n <= 300; ++n) lengths.push_back(n);
    for (size_t n = 1024; n <= 12000; n += 97) lengths.push_back(n + rng() % 16);
    for (size_t n : lengths) {
        GuardedBuffer buf(n);
        const auto data = kel::test::randomBytes(rng, n);
        if (n > 0) buf.fill(data.data(), n);
        for (const Case& c : kCases)
            ASSERT_EQ(c.fast(buf.data(), Kel32u(n), c.start), c.ref(data.data(), Kel32u(n), c.start));
    }
}

TEST(Checksum, CorpusMatchesPeers) {
    for (const auto& name : kel::test::corpusFileNames()) {
        const auto f = kel::test::readCorpusFile(name);
        ASSERT_FALSE(f.empty()) << name;
        const Kel32u n = Kel32u(f.size());
        EXPECT_EQ(n8_ownsAdler32_8u(f.data(), n, 1), zlibAdler(f.data(), n, 1)) << name;
        EXPECT_EQ(n8_ownsCRC32_8u(f.data(), n, 0), zlibCrc(f.data(), n, 0)) << name;
        EXPECT_EQ(n8_ownsCRC32C_8u(f.data(), n, 0xFFFFFFFF), crc32cBitwise(f.data(), n, 0xFFFFFFFF)) << name;
        EXPECT_EQ(n8_ownsCRC32_BZ2_8u(f.data(), n, 0), bzip2Bitwise(f.data(), n, 0)) << name;
    }
}

}  // namespace

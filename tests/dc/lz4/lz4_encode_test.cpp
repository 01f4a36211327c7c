// tests/dc/lz4/lz4_encode_test.cpp - the LZ4 block encoders: exact output against a plain model of the matching
// rules, round trips through our decoder and liblz4's, the bounded-output rule, history and the high-compression
// parse.
#include <gtest/gtest.h>
#include <lz4.h>

#include <algorithm>
#include <vector>

#include "dc/lz4/lz4_internal.h"
#include "keldc.h"
#include "support/test_util.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// ---- a model of the single-probe matcher, written for clarity: one byte at a time, no word tricks -------------

struct ModelJob {
    const std::uint8_t* src;
    int srcLen;
    int srcIdx = 0;
    const std::uint8_t* dict = nullptr;  // external dictionary
    int dictLen = 0;
    bool table16 = false;
    bool prefix = false;  // history in front of src
    long cap = -1;        // bounded output when >= 0
};

int ext(long n) {
    return n < 15 ? 0 : int((n - 15) / 255 + 1);
}

void putExt(Bytes& out, long n) {
    for (; n >= 255; n -= 255) out.push_back(255);
    out.push_back(std::uint8_t(n));
}

// Encodes with table (4096 entries of positions); returns the block, sets *covered.
Bytes modelEncode(const ModelJob& j, std::vector<std::int32_t>& table, int* covered) {
    const std::uint8_t* const end = j.src + j.srcLen;
    const std::uint8_t* anchor = j.src;
    Bytes out;
    long lastLL = 0;
    auto hash = [](const std::uint8_t* p) {
        std::uint64_t v = 0;
        for (int i = 0; i < 5; ++i) v |= std::uint64_t(p[i]) << (8 * i);
        return unsigned((v * 0xCA1BACDCBBull) >> 24) & 0xFFF;
    };
    auto pos = [&](const std::uint8_t* p) { return int(p - j.src) + j.srcIdx; };
    const std::uint8_t *c = nullptr, *low = nullptr;
    int off = 0;
    bool inDict = false;
    auto test = [&](int x, const std::uint8_t* p) {
        if (!j.table16 && x + 65535 < pos(p)) return false;
        inDict = j.dict && x < j.srcIdx;
        if (inDict) {
            c = j.dict + j.dictLen - j.srcIdx + x;
            if (c < j.dict || c + 8 > j.dict + j.dictLen) return false;
            low = j.dict;
        } else {
            c = j.src + (x - j.srcIdx);
            low = j.prefix ? j.src - j.srcIdx : j.src;
        }
        off = pos(p) - x;
        return std::equal(p, p + 4, c);
    };
    auto length = [&](const std::uint8_t* p) {
        if (std::equal(p, p + 8, c)) {
            long ml = 8;
            while (ml < end - p - 12 && (!inDict || ml < j.dict + j.dictLen - c) && p[ml] == c[ml]) ++ml;
            return ml;
        }
        long ml = 4;
        while (ml < 7 && p[ml] == c[ml]) ++ml;
        return ml;
    };
    auto emit = [&](const std::uint8_t* p, long ml) {
        const long ll = p - anchor;
        if (j.cap >= 0 && long(out.size()) + ll + 3 + ext(ll) + ext(ml) >= j.cap - 8) return false;
        out.push_back(std::uint8_t((std::min(ll, 15L) << 4) | std::min(ml - 4, 15L)));
        if (ll >= 15) putExt(out, ll - 15);
        out.insert(out.end(), anchor, p);
        out.push_back(std::uint8_t(off));
        out.push_back(std::uint8_t(off >> 8));
        if (ml - 4 >= 15) putExt(out, ml - 19);
        anchor = p + ml;
        lastLL = ll;
        return true;
    };
    auto probe = [&](const std::uint8_t* p) {
        const unsigned h = hash(p);
        const int x = table[h];
        table[h] = j.table16 ? int(p - j.src) : pos(p);
        return x;
    };

    const std::uint8_t* p = j.src + 1;
    bool found = false;
    for (; j.srcLen > 21 && p < end - 20; ++p) {
        if (test(probe(p), p)) {
            found = true;
            break;
        }
    }
    if (found && emit(p, length(p))) {
        for (;;) {
            p = anchor;
            int k = 8;
            found = false;
            while (p < end - 20) {
                const unsigned h[3] = {hash(p), hash(p + 1), hash(p + 2)};
                const int x[3] = {table[h[0]], table[h[1]], table[h[2]]};
                for (int i = 0; i < 3; ++i) table[h[i]] = j.table16 ? int(p + i - j.src) : pos(p + i);
                for (int i = 0; i < 3 && !found; ++i) {
                    if (test(x[i], p + i)) {
                        p += i;
                        found = true;
                    }
                }
                if (found) break;
                if (!j.table16 && lastLL >= 64) {
                    p += 2 + (k >> 3);
                    ++k;
                } else {
                    p += 3;
                }
            }
            if (!found) break;
            long ml = length(p);
            while (c > low && p > anchor && p[-1] == c[-1]) --p, --c, ++ml;
            if (!emit(p, ml)) break;
        }
    }
    long n = end - anchor;
    if (j.cap >= 0) {
        const long room = j.cap - long(out.size());
        if (n >= room) n = room - 1;
        while (n + 1 + ext(n) > room) --n;
    }
    out.push_back(std::uint8_t(std::min(n, 15L) << 4));
    if (n >= 15) putExt(out, n - 15);
    out.insert(out.end(), anchor, anchor + n);
    *covered = int(anchor + n - j.src);
    return out;
}

// ---- helpers -------------------------------------------------------------------------------------------------

int bound(int n) {
    return n + n / 255 + 16 + 8;
}

Bytes kelEncode(const Bytes& src) {
    Bytes out(bound(int(src.size())));
    std::vector<Kel8u> table(16384);
    int len = 0;
    EXPECT_EQ(kelsEncodeLZ4_8u(src.data(), int(src.size()), out.data(), &len, table.data()), kelStatusOk);
    out.resize(len);
    return out;
}

Bytes kelEncodeHc(const Bytes& src, int level) {
    Bytes out(bound(int(src.size())));
    std::vector<Kel8u> hash(131072), chain(262144);
    Kel8u* tables[2] = {hash.data(), chain.data()};
    EXPECT_EQ(kelsEncodeLZ4HCHashTableInit_8u(tables), kelStatusOk);
    int srcLen = int(src.size()), len = 0;
    EXPECT_EQ(kelsEncodeLZ4HC_8u(src.data(), 0, &srcLen, out.data(), &len, tables, nullptr, 0, level), kelStatusOk);
    EXPECT_EQ(srcLen, int(src.size()));
    out.resize(len);
    return out;
}

// Checks that blk decodes to src with our decoder and with liblz4's.
void expectDecodes(const Bytes& blk, const Bytes& src) {
    Bytes a(src.size() + 1), b(src.size() + 1);
    int len = int(a.size());
    ASSERT_EQ(kelsDecodeLZ4_8u(blk.data(), int(blk.size()), a.data(), &len), kelStatusOk);
    ASSERT_EQ(len, int(src.size()));
    EXPECT_TRUE(std::equal(src.begin(), src.end(), a.begin()));
    const int n = LZ4_decompress_safe(reinterpret_cast<const char*>(blk.data()), reinterpret_cast<char*>(b.data()),
                                      int(blk.size()), int(b.size()));
    ASSERT_EQ(n, int(src.size()));
    EXPECT_TRUE(std::equal(src.begin(), src.end(), b.begin()));
}

// Inputs: the corpus, random bytes, long runs, text-like data over a small alphabet, and short sizes around the
// search limits and the 16-bit table limit.
std::vector<std::pair<std::string, Bytes>> inputs() {
    std::vector<std::pair<std::string, Bytes>> v;
    for (const auto& n : kel::test::corpusFileNames()) v.emplace_back(n, kel::test::readCorpusFile(n));
    auto rng = kel::test::makeRng(7);
    v.emplace_back("random100k", kel::test::randomBytes(rng, 100000));
    v.emplace_back("zeros300k", Bytes(300000, 0));
    Bytes abc(200000);
    for (auto& b : abc) b = std::uint8_t('a' + rng() % 4);
    v.emplace_back("abcd200k", abc);
    Bytes periodic(70000);
    for (size_t i = 0; i < periodic.size(); ++i) periodic[i] = std::uint8_t(i % 251 < 200 ? i % 7 : rng());
    v.emplace_back("periodic70000", periodic);
    for (int n : {1, 5, 12, 13, 14, 15, 16, 20, 21, 22, 23, 31, 32, 33, 64, 65535, 65536}) {
        Bytes s(n);
        for (auto& b : s) b = std::uint8_t(rng() % 3);
        v.emplace_back("mixed" + std::to_string(n), s);
    }
    return v;
}

// ---- plain and bounded encoders -----------------------------------------------------------------------------

TEST(Lz4Encode, MatchesModelAndRoundTrips) {
    SCOPED_TRACE(kel::test::seedNote());
    for (const auto& [name, src] : inputs()) {
        SCOPED_TRACE(name);
        const Bytes blk = kelEncode(src);
        std::vector<std::int32_t> table(4096, 0);
        int covered = 0;
        ModelJob j{src.data(), int(src.size())};
        j.table16 = src.size() < 65536;
        EXPECT_TRUE(blk == modelEncode(j, table, &covered));
        expectDecodes(blk, src);
    }
}

TEST(Lz4Encode, KnownBlocks) {
    // Up to 21 bytes: one literal run.
    EXPECT_EQ(kelEncode({'h', 'e', 'l', 'l', 'o'}), Bytes({0x50, 'h', 'e', 'l', 'l', 'o'}));
    // 100 zeros: literal 0 and a match at offset 1 up to srcEnd - 12, then 12 literals.
    Bytes want = {0x1F, 0, 1, 0, 87 - 19};
    want.push_back(0xC0);
    want.insert(want.end(), 12, 0);
    EXPECT_EQ(kelEncode(Bytes(100, 0)), want);
    // A literal run of 15 before a match of 19: both nibbles saturate with an extension byte 0.
    Bytes src;
    for (int i = 0; i < 15; ++i) src.push_back(std::uint8_t(100 + i));
    for (int i = 0; i < 19; ++i) src.push_back(src[i]);
    for (int i = 0; i < 12; ++i) src.push_back(std::uint8_t(200 + i));
    // The first match search finds position 15 against 0 (offset 15, length 15 + ...). Its length stops where
    // the copy ends: 19 bytes.
    const Bytes blk = kelEncode(src);
    EXPECT_EQ(blk[0], 0xFF);
    EXPECT_EQ(blk[1], 0);
    EXPECT_EQ(blk[2 + 15], 15);
    EXPECT_EQ(blk[2 + 15 + 2], 0);
    expectDecodes(blk, src);
}

TEST(Lz4Encode, SafeWithAmpleRoomEqualsPlain) {
    std::vector<Kel8u> table(16384);
    for (const auto& [name, src] : inputs()) {
        SCOPED_TRACE(name);
        const Bytes plain = kelEncode(src);
        int srcLen = int(src.size()), len = int(plain.size()) + 9;  // the rule keeps 8 bytes spare
        kel::test::GuardedBuffer dst(len);
        ASSERT_EQ(kelsEncodeLZ4Safe_8u(src.data(), &srcLen, dst.data(), &len, table.data()), kelStatusOk);
        EXPECT_EQ(srcLen, int(src.size()));
        EXPECT_TRUE(Bytes(dst.data(), dst.data() + len) == plain);
    }
}

// Every capacity from 1 up: the block never exceeds it, decodes to the covered prefix, and equals the model.
TEST(Lz4Encode, SafeStopsWithinCapacity) {
    std::vector<Kel8u> table(16384);
    auto rng = kel::test::makeRng(3);
    Bytes src = kel::test::readCorpusFile("alice29.txt");
    src.resize(3000);
    const Bytes big = kel::test::readCorpusFile("html_x_4");
    for (const Bytes* s : {static_cast<const Bytes*>(&src), &big}) {
        const int full = int(kelEncode(*s).size());
        for (int cap = 1; cap < full + 20; cap += (s == &src ? 1 : 997 + int(rng() % 50))) {
            kel::test::GuardedBuffer dst(cap);
            int srcLen = int(s->size()), len = cap;
            const KelStatus st = kelsEncodeLZ4Safe_8u(s->data(), &srcLen, dst.data(), &len, table.data());
            ASSERT_LE(len, cap);
            EXPECT_EQ(st, srcLen < int(s->size()) ? kelStatusDstFull : kelStatusOk);
            std::vector<std::int32_t> mt(4096, 0);
            int covered = 0;
            ModelJob j{s->data(), int(s->size())};
            j.table16 = s->size() < 65536;
            j.cap = cap;
            ASSERT_TRUE(Bytes(dst.data(), dst.data() + len) == modelEncode(j, mt, &covered)) << "cap " << cap;
            ASSERT_EQ(srcLen, covered);
            expectDecodes(Bytes(dst.data(), dst.data() + len), Bytes(s->begin(), s->begin() + srcLen));
        }
    }
}

TEST(Lz4Encode, ArgumentChecksInOrder) {
    std::vector<Kel8u> table(16384, 0xAB), dst(64);
    Kel8u src[8] = {};
    int len = 0, srcLen = 8;
    Kel32u size = 0;
    EXPECT_EQ(kelsEncodeLZ4HashTableGetSize_8u(nullptr), kelStatusNullPointer);
    EXPECT_EQ(kelsEncodeLZ4HashTableGetSize_8u(&size), kelStatusOk);
    EXPECT_EQ(size, 16384u);
    EXPECT_EQ(kelsEncodeLZ4HashTableInit_8u(nullptr, 1), kelStatusNullPointer);
    EXPECT_EQ(kelsEncodeLZ4HashTableInit_8u(table.data(), 0), kelStatusBadSize);
    EXPECT_EQ(table[0], 0xAB);
    EXPECT_EQ(kelsEncodeLZ4HashTableInit_8u(table.data(), 65536), kelStatusOk);
    EXPECT_TRUE(std::all_of(table.begin(), table.end(), [](Kel8u b) { return b == 0; }));

    EXPECT_EQ(kelsEncodeLZ4_8u(nullptr, 0, nullptr, nullptr, nullptr), kelStatusNullPointer);
    EXPECT_EQ(kelsEncodeLZ4_8u(nullptr, 8, dst.data(), &len, table.data()), kelStatusNullPointer);
    EXPECT_EQ(kelsEncodeLZ4_8u(src, 0, dst.data(), &len, table.data()), kelStatusBadSize);
    EXPECT_EQ(kelsEncodeLZ4Safe_8u(src, nullptr, dst.data(), &len, table.data()), kelStatusNullPointer);
    EXPECT_EQ(kelsEncodeLZ4Safe_8u(src, &srcLen, dst.data(), &len, nullptr), kelStatusNullPointer);
    EXPECT_EQ(kelsEncodeLZ4Safe_8u(src, &srcLen, nullptr, &len, table.data()), kelStatusNullPointer);
    len = 0;
    EXPECT_EQ(kelsEncodeLZ4Safe_8u(src, &srcLen, dst.data(), &len, table.data()), kelStatusBadSize);
    srcLen = 0;
    len = 64;
    EXPECT_EQ(kelsEncodeLZ4Safe_8u(src, &srcLen, dst.data(), &len, table.data()), kelStatusBadSize);
    EXPECT_EQ(len, 64);
}

// ---- dictionary encoders ------------------------------------------------------------------------------------

// Decodes blk with liblz4, the history presented right before the output.
Bytes liblz4DecodeWithDict(const Bytes& blk, const std::uint8_t* dict, int dictLen, int outLen) {
    Bytes out(outLen);
    const int n =
        LZ4_decompress_safe_usingDict(reinterpret_cast<const char*>(blk.data()), reinterpret_cast<char*>(out.data()),
                                      int(blk.size()), outLen, reinterpret_cast<const char*>(dict), dictLen);
    out.resize(n < 0 ? 0 : n);
    return out;
}

// A stream compressed block by block in prefix mode and in external-dictionary mode (the previous 64 KiB passed
// as dictionary, positions running on): each block equals the model and decodes with liblz4 given its history.
TEST(Lz4EncodeDict, StreamsMatchModelAndDecodeWithHistory) {
    const Bytes data = kel::test::readCorpusFile("html_x_4");
    for (bool external : {false, true}) {
        for (bool bounded : {false, true}) {
            SCOPED_TRACE(std::string(external ? "external" : "prefix") + (bounded ? " safe" : ""));
            std::vector<Kel8u> table(16384);
            std::vector<std::int32_t> mt(4096, 0);
            int pos = 0, block = 20000;
            while (pos < int(data.size())) {
                const int n = std::min(block, int(data.size()) - pos);
                const int hist = std::min(pos, 65536);
                const std::uint8_t* dict = external ? data.data() + pos - hist : nullptr;
                // The external dictionary is a copy, elsewhere in memory.
                Bytes dictCopy(dict ? dict : data.data(), (dict ? dict : data.data()) + (external ? hist : 0));
                Bytes out(bound(n));
                int srcLen = n, len = int(out.size());
                KelStatus st;
                if (bounded) {
                    st = kelsEncodeLZ4DictSafe_8u(data.data() + pos, pos, &srcLen, out.data(), &len, table.data(),
                                                  external ? dictCopy.data() : nullptr, external ? hist : 0);
                } else {
                    st = kelsEncodeLZ4Dict_8u(data.data() + pos, pos, n, out.data(), &len, table.data(),
                                              external ? dictCopy.data() : nullptr, external ? hist : 0);
                }
                ASSERT_EQ(st, kelStatusOk);
                ASSERT_EQ(srcLen, n);
                out.resize(len);
                ModelJob j{data.data() + pos, n, pos};
                j.prefix = !external;
                if (external && hist) {
                    j.dict = dictCopy.data();
                    j.dictLen = hist;
                }
                for (auto& e : mt) e = pos ? std::min(e, pos - 1) : 0;
                int covered = 0;
                ASSERT_TRUE(out == modelEncode(j, mt, &covered)) << "block at " << pos;
                ASSERT_EQ(std::memcmp(table.data(), mt.data(), 16384), 0) << "table after block at " << pos;
                const Bytes dec = liblz4DecodeWithDict(out, data.data() + pos - hist, hist, n);
                ASSERT_TRUE(std::equal(dec.begin(), dec.end(), data.begin() + pos) && int(dec.size()) == n);
                pos += n;
                block = block == 20000 ? 70000 : 20000;
            }
        }
    }
}

TEST(Lz4EncodeDict, NoHistoryEqualsPlainForLargeSources) {
    const Bytes src = kel::test::readCorpusFile("paper-100k.pdf");
    std::vector<Kel8u> table(16384, 0x5A);
    Bytes out(bound(int(src.size())));
    int len = 0;
    ASSERT_EQ(kelsEncodeLZ4Dict_8u(src.data(), 0, int(src.size()), out.data(), &len, table.data(), nullptr, 0),
              kelStatusOk);
    out.resize(len);
    EXPECT_TRUE(out == kelEncode(src));
    // A dictionary that is exactly the prefix is prefix mode.
    Bytes two(src.begin(), src.end());
    std::vector<Kel8u> t1(16384), t2(16384);
    Bytes o1(bound(50000)), o2(bound(50000));
    int l1 = 0, l2 = 0;
    kelsEncodeLZ4Dict_8u(two.data(), 0, 40000, o1.data(), &l1, t1.data(), nullptr, 0);
    kelsEncodeLZ4Dict_8u(two.data(), 0, 40000, o2.data(), &l2, t2.data(), nullptr, 0);
    ASSERT_EQ(kelsEncodeLZ4Dict_8u(two.data() + 40000, 40000, 50000, o1.data(), &l1, t1.data(), nullptr, 0), 0);
    ASSERT_EQ(kelsEncodeLZ4Dict_8u(two.data() + 40000, 40000, 50000, o2.data(), &l2, t2.data(), two.data(), 40000), 0);
    EXPECT_EQ(l1, l2);
    EXPECT_EQ(std::memcmp(o1.data(), o2.data(), l1), 0);
}

TEST(Lz4EncodeDict, SafeReportsPartialBlocksInBothModes) {
    const Bytes data = kel::test::readCorpusFile("lcet10.txt");
    for (bool external : {false, true}) {
        std::vector<Kel8u> table(16384);
        int srcLen = 30000, len = 0;
        Bytes out(bound(30000));
        kelsEncodeLZ4Dict_8u(data.data(), 0, 30000, out.data(), &len, table.data(), nullptr, 0);
        srcLen = 30000;
        len = 4000;
        kel::test::GuardedBuffer dst(4000);
        ASSERT_EQ(kelsEncodeLZ4DictSafe_8u(data.data() + 30000, 30000, &srcLen, dst.data(), &len, table.data(),
                                           external ? data.data() : nullptr, external ? 29000 : 0),
                  kelStatusDstFull);
        EXPECT_LT(srcLen, 30000);
        EXPECT_LE(len, 4000);
        const std::uint8_t* hist = data.data() + (external ? 1000 : 0);
        const Bytes dec =
            liblz4DecodeWithDict(Bytes(dst.data(), dst.data() + len), hist, 29000 + (external ? 0 : 1000), srcLen);
        EXPECT_TRUE(int(dec.size()) == srcLen && std::equal(dec.begin(), dec.end(), data.begin() + 30000));
    }
}

TEST(Lz4EncodeDict, ArgumentChecksInOrder) {
    std::vector<Kel8u> table(16384), dst(64);
    Kel8u src[8] = {}, dict[8] = {};
    int len = 0, srcLen = 8;
    EXPECT_EQ(kelsEncodeLZ4DictHashTableInit_8u(nullptr, 1), kelStatusNullPointer);
    EXPECT_EQ(kelsEncodeLZ4DictHashTableInit_8u(table.data(), 0), kelStatusBadSize);
    EXPECT_EQ(kelsEncodeLZ4Dict_8u(nullptr, 0, 0, nullptr, nullptr, nullptr, dict, -1), kelStatusNullPointer);
    EXPECT_EQ(kelsEncodeLZ4Dict_8u(nullptr, 0, 0, nullptr, nullptr, table.data(), dict, -1), kelStatusBadSize);
    EXPECT_EQ(kelsEncodeLZ4Dict_8u(nullptr, 0, 0, nullptr, nullptr, table.data(), nullptr, -1), kelStatusNullPointer);
    EXPECT_EQ(kelsEncodeLZ4Dict_8u(src, 0, 0, dst.data(), &len, table.data(), dict, 8), kelStatusBadSize);
    EXPECT_EQ(kelsEncodeLZ4Dict_8u(src, -1, 8, dst.data(), &len, table.data(), dict, 8), kelStatusBadArgument);
    EXPECT_EQ(kelsEncodeLZ4Dict_8u(src, 0x7FFFFFF0, 100, dst.data(), &len, table.data(), nullptr, 0),
              kelStatusBadArgument);
    EXPECT_EQ(kelsEncodeLZ4DictSafe_8u(src, 0, nullptr, dst.data(), &len, table.data(), dict, 8), kelStatusNullPointer);
    len = 0;
    EXPECT_EQ(kelsEncodeLZ4DictSafe_8u(src, 0, &srcLen, dst.data(), &len, table.data(), dict, 8), kelStatusBadSize);
    // Entries above srcIdx - 1 are lowered even when a later check fails.
    std::vector<std::int32_t> t(4096, 1000);
    EXPECT_EQ(kelsEncodeLZ4Dict_8u(src, 10, 0, dst.data(), &len, reinterpret_cast<Kel8u*>(t.data()), nullptr, 0),
              kelStatusBadSize);
    EXPECT_EQ(t[0], 9);
}

// ---- high compression -----------------------------------------------------------------------------------------

TEST(Lz4EncodeHc, RoundTripsAtEveryLevel) {
    for (const auto& [name, src] : inputs()) {
        SCOPED_TRACE(name);
        if (name == "random100k") continue;  // the same at every level; covered below at level 9
        for (int level : {1, 4, 9}) {
            SCOPED_TRACE(level);
            expectDecodes(kelEncodeHc(src, level), src);
        }
    }
    auto rng = kel::test::makeRng(11);
    const Bytes r = kel::test::randomBytes(rng, 50000);
    expectDecodes(kelEncodeHc(r, 9), r);
}

TEST(Lz4EncodeHc, LevelsAreClamped) {
    const Bytes src = kel::test::readCorpusFile("alice29.txt");
    const Bytes l9 = kelEncodeHc(src, 9), l1 = kelEncodeHc(src, 1);
    EXPECT_TRUE(kelEncodeHc(src, 0) == l9);
    EXPECT_TRUE(kelEncodeHc(src, 12) == l9);
    EXPECT_TRUE(kelEncodeHc(src, -3) == l1);
    EXPECT_LT(l9.size(), l1.size());
    EXPECT_LT(l9.size(), kelEncode(src).size());
}

TEST(Lz4EncodeHc, KnownBlocks) {
    // Up to 14 bytes: one literal run.
    const Bytes s14(14, 'x');
    Bytes want = {0xE0};
    want.insert(want.end(), 14, 'x');
    EXPECT_TRUE(kelEncodeHc(s14, 9) == want);
    // A repeat at distance 65534 is found, at 65535 it is not.
    auto rng = kel::test::makeRng(5);
    for (int dist : {65534, 65535}) {
        Bytes src = kel::test::randomBytes(rng, dist + 100);
        std::copy(src.begin() + 10, src.begin() + 60, src.begin() + 10 + dist);
        const Bytes blk = kelEncodeHc(src, 9);
        expectDecodes(blk, src);
        const size_t allLiterals = 1 + (src.size() - 15) / 255 + 1 + src.size();
        EXPECT_EQ(blk.size() + 40 < allLiterals, dist == 65534) << dist;
    }
    // Four bytes repeated from position 0 are not found (position 0 reads as empty); from position 1 they are.
    for (int lead : {0, 1}) {
        Bytes src = kel::test::randomBytes(rng, lead + 40);
        std::copy(src.begin() + lead, src.begin() + lead + 4, src.begin() + lead + 20);
        src[lead + 24] = std::uint8_t(src[lead + 4] + 1);
        const Bytes blk = kelEncodeHc(src, 9);
        expectDecodes(blk, src);
        EXPECT_EQ(blk[0], 0xF0);
        EXPECT_EQ(blk[1], lead ? 21 - 15 : 40 - 15) << lead;
    }
}

TEST(Lz4EncodeHc, HistoryAndDictionaryRules) {
    const Bytes data = kel::test::readCorpusFile("plrabn12.txt");
    std::vector<Kel8u> hash(131072), chain(262144);
    Kel8u* tables[2] = {hash.data(), chain.data()};
    auto run = [&](int srcIdx, int n, const Kel8u* dict, int dictLen, Bytes* out) {
        kelsEncodeLZ4HCHashTableInit_8u(tables);
        out->assign(bound(n), 0);
        int srcLen = n, len = 0;
        const KelStatus st =
            kelsEncodeLZ4HC_8u(data.data(), srcIdx, &srcLen, out->data(), &len, tables, dict, dictLen, 6);
        out->resize(len);
        return st;
    };
    Bytes a, b;
    ASSERT_EQ(run(100000, 30000, nullptr, 0, &a), kelStatusOk);
    EXPECT_TRUE(liblz4DecodeWithDict(a, data.data() + 100000 - 65536, 65536, 30000) ==
                Bytes(data.begin() + 100000, data.begin() + 130000));
    // A dictionary ending at the stream base changes nothing; any other is refused.
    Bytes padded(5000, 'q');
    padded.insert(padded.end(), data.begin(), data.end());
    ASSERT_EQ(run(100000, 30000, data.data() - 0, 0, &b), kelStatusOk);
    EXPECT_TRUE(a == b);
    EXPECT_EQ(run(100000, 30000, data.data(), 100000, &b), kelStatusNotSupportedMode);
    EXPECT_EQ(run(100000, 30000, data.data(), -1, &b), kelStatusBadSize);
    // Same output with a dictionary in front of the base, in a buffer where that memory exists.
    kelsEncodeLZ4HCHashTableInit_8u(tables);
    Bytes c(bound(30000));
    int srcLen = 30000, len = 0;
    ASSERT_EQ(kelsEncodeLZ4HC_8u(padded.data() + 5000, 100000, &srcLen, c.data(), &len, tables, padded.data(), 5000, 6),
              kelStatusOk);
    c.resize(len);
    EXPECT_TRUE(a == c);
}

TEST(Lz4EncodeHc, ArgumentChecksInOrder) {
    std::vector<Kel8u> hash(131072), chain(262144), dst(64);
    Kel8u* tables[2] = {hash.data(), chain.data()};
    Kel8u* noChain[2] = {hash.data(), nullptr};
    Kel8u src[16] = {};
    int srcLen = 16, len = 0;
    Kel32u hs = 0, cs = 0;
    EXPECT_EQ(kelsEncodeLZ4HCHashTableGetSize_8u(&hs, nullptr), kelStatusNullPointer);
    EXPECT_EQ(kelsEncodeLZ4HCHashTableGetSize_8u(&hs, &cs), kelStatusOk);
    EXPECT_EQ(hs, 131072u);
    EXPECT_EQ(cs, 262144u);
    EXPECT_EQ(kelsEncodeLZ4HCHashTableInit_8u(nullptr), kelStatusNullPointer);
    EXPECT_EQ(kelsEncodeLZ4HCHashTableInit_8u(noChain), kelStatusNullPointer);
    EXPECT_EQ(kelsEncodeLZ4HC_8u(src, 0, &srcLen, dst.data(), &len, noChain, nullptr, 0, 9), kelStatusNullPointer);
    EXPECT_EQ(kelsEncodeLZ4HC_8u(nullptr, 0, nullptr, nullptr, nullptr, nullptr, src, -1, 9), kelStatusBadSize);
    EXPECT_EQ(kelsEncodeLZ4HC_8u(src + 8, 0, nullptr, nullptr, nullptr, nullptr, src, 4, 9), kelStatusNotSupportedMode);
    srcLen = 0;
    EXPECT_EQ(kelsEncodeLZ4HC_8u(src, 0, &srcLen, dst.data(), &len, tables, nullptr, 0, 9), kelStatusBadSize);
    srcLen = 16;
    EXPECT_EQ(kelsEncodeLZ4HC_8u(src, -1, &srcLen, dst.data(), &len, tables, nullptr, 0, 9), kelStatusBadArgument);
}

// Sources and destinations of exact size (guard pages behind them): no encoder reads or writes past them,
// whatever the length and wherever the last match falls.
TEST(Lz4EncodeAll, StayInsideGuardedBuffers) {
    auto rng = kel::test::makeRng(13);
    std::vector<Kel8u> table(16384), hash(131072), chain(262144);
    Kel8u* tables[2] = {hash.data(), chain.data()};
    for (int iter = 0; iter < 600; ++iter) {
        const int n = iter < 300 ? 1 + iter : 1 + int(rng() % 5000);
        kel::test::GuardedBuffer src(n);
        for (int i = 0; i < n; ++i) src.data()[i] = Kel8u(rng() % (iter % 4 ? 3 : 256));
        const Bytes want(src.data(), src.data() + n);
        const int cap = bound(n);
        kel::test::GuardedBuffer dst(cap);
        int len = 0, srcLen = n;
        ASSERT_EQ(kelsEncodeLZ4_8u(src.data(), n, dst.data(), &len, table.data()), kelStatusOk);
        expectDecodes(Bytes(dst.data(), dst.data() + len), want);
        kelsEncodeLZ4HCHashTableInit_8u(tables);
        ASSERT_EQ(kelsEncodeLZ4HC_8u(src.data(), 0, &srcLen, dst.data(), &len, tables, nullptr, 0, 1 + iter % 9), 0);
        expectDecodes(Bytes(dst.data(), dst.data() + len), want);
        const int small = 1 + int(rng() % cap);
        kel::test::GuardedBuffer tight(small);
        srcLen = n;
        len = small;
        kelsEncodeLZ4Safe_8u(src.data(), &srcLen, tight.data(), &len, table.data());
        expectDecodes(Bytes(tight.data(), tight.data() + len), Bytes(want.begin(), want.begin() + srcLen));
    }
}

// ---- kernels ------------------------------------------------------------------------------------------------

TEST(Lz4Kernels, MatchLengthAgreesWithRef) {
    auto rng = kel::test::makeRng(9);
    for (int iter = 0; iter < 800; ++iter) {
        const int len = iter < 300 ? iter : int(rng() % 70000);
        const int common = int(rng() % (len + 1));
        for (std::uint8_t fill : {0x00, 0x7F, 0x80, 0xFF}) {
            kel::test::GuardedBuffer a(len + 16), b(len + 16);
            std::memset(a.data(), fill, len + 16);
            if (iter & 1) {
                for (int i = 0; i < len; ++i) a.data()[i] = std::uint8_t(rng());
            }
            Kel8u* pa = a.data() + (iter & 15);
            Kel8u* pb = b.data() + ((iter >> 4) & 15);
            std::memcpy(pb, pa, len);
            if (common < len) pb[common] ^= std::uint8_t(1 + rng() % 255);
            const int want = n8_ownsLZ4MatchLength_8u_ref(pa, pb, len);
            ASSERT_EQ(n8_ownsLZ4MatchLength_8u(pa, pb, len), want) << len;
        }
    }
}

}  // namespace

// tests/kelz/kelz_deflate_test.cpp - libkelz's compression calls: zlib's return codes and stream fields (each
// behavioural test runs against the system's zlib too, which shows that it expects what zlib does), and streams
// written by libkelz under every level, wrapper, window, strategy and flush, read back by the system's inflate.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/test_util.h"
#include "support/zlib_api.h"

namespace kel::test {
namespace {

using Data = std::vector<std::uint8_t>;

// Text-like data with repeats at all distances, so that every window size and matcher has work.
Data mixedData(std::mt19937_64& rng, std::size_t n) {
    static const char* words[] = {"deflate ", "window ", "block ", "the ", "stream\n", "of ", "Huffman ", "match "};
    Data d;
    while (d.size() < n) {
        const unsigned pick = unsigned(rng() % 16);
        if (pick < 10) {
            const char* w = words[rng() % 8];
            d.insert(d.end(), w, w + std::strlen(w));
        } else if (pick < 12 && d.size() > 40000) {
            const std::size_t from = d.size() - 1 - rng() % 40000, len = 3 + rng() % 300;
            for (std::size_t i = 0; i < len; ++i) d.push_back(d[from + i]);
        } else {
            d.push_back(std::uint8_t(rng()));
        }
    }
    d.resize(n);
    return d;
}

int windowBitsFor(int wrap, int bits) {
    return wrap == 0 ? -bits : wrap == 2 ? bits + 16 : bits;
}

// Inflates with the system's zlib; windowBits as the writer used them. Fails the test on any error.
Data systemInflate(const Data& z, int windowBits, const Data* dict = nullptr) {
    const ZlibApi& zl = systemZlib();
    z_stream s = {};
    EXPECT_EQ(zl.inflateInit2(&s, windowBits), Z_OK);
    Data out(1 << 16);
    std::size_t have = 0;
    s.next_in = const_cast<Bytef*>(z.data());
    s.avail_in = uInt(z.size());
    int r = Z_OK;
    while (r == Z_OK || r == Z_NEED_DICT) {
        if (have == out.size()) out.resize(out.size() * 2);
        s.next_out = out.data() + have;
        s.avail_out = uInt(out.size() - have);
        r = zl.inflate(&s, Z_NO_FLUSH);
        have = out.size() - s.avail_out;
        if (r == Z_NEED_DICT) {
            if (!dict) break;
            EXPECT_EQ(zl.inflateSetDictionary(&s, dict->data(), uInt(dict->size())), Z_OK);
        }
        if (r == Z_BUF_ERROR && s.avail_in == 0) break;
    }
    EXPECT_EQ(r, Z_STREAM_END) << (s.msg ? s.msg : "");
    EXPECT_EQ(s.avail_in, 0u);
    zl.inflateEnd(&s);
    out.resize(have);
    return out;
}

// Deflates all of src with one Z_FINISH call into a buffer of `room` bytes.
int deflateAtOnce(const ZlibApi& zl, z_stream& s, const Data& src, Data& out, std::size_t room) {
    out.assign(room, 0);
    s.next_in = const_cast<Bytef*>(src.data());
    s.avail_in = uInt(src.size());
    s.next_out = out.data();
    s.avail_out = uInt(room);
    const int r = zl.deflate(&s, Z_FINISH);
    out.resize(room - s.avail_out);
    return r;
}

class ZlibDeflate : public ::testing::TestWithParam<const ZlibApi*> {
protected:
    const ZlibApi& api() const { return *GetParam(); }
};

INSTANTIATE_TEST_SUITE_P(Both, ZlibDeflate, ::testing::Values(&systemZlib(), &kelZlib()), ZlibApiName());

TEST_P(ZlibDeflate, InitRejectsWhatZlibRejects) {
    const ZlibApi& zl = api();
    z_stream s = {};
    EXPECT_EQ(zl.deflateInit_(&s, 6, "2.0", int(sizeof(z_stream))), Z_VERSION_ERROR);
    EXPECT_EQ(zl.deflateInit_(&s, 6, nullptr, int(sizeof(z_stream))), Z_VERSION_ERROR);
    EXPECT_EQ(zl.deflateInit_(&s, 6, ZLIB_VERSION, int(sizeof(z_stream)) - 8), Z_VERSION_ERROR);
    EXPECT_EQ(zl.deflateInit(nullptr, 6), Z_STREAM_ERROR);
    for (int level : {-2, 10}) EXPECT_EQ(zl.deflateInit(&s, level), Z_STREAM_ERROR) << level;
    struct Case {
        int windowBits, memLevel, strategy, method, expect;
    };
    const Case cases[] = {{8, 8, 0, Z_DEFLATED, Z_OK},
                          {-8, 8, 0, Z_DEFLATED, Z_STREAM_ERROR},
                          {24, 8, 0, Z_DEFLATED, Z_STREAM_ERROR},
                          {7, 8, 0, Z_DEFLATED, Z_STREAM_ERROR},
                          {16, 8, 0, Z_DEFLATED, Z_STREAM_ERROR},
                          {32, 8, 0, Z_DEFLATED, Z_STREAM_ERROR},
                          {-16, 8, 0, Z_DEFLATED, Z_STREAM_ERROR},
                          {-9, 8, 0, Z_DEFLATED, Z_OK},
                          {25, 8, 0, Z_DEFLATED, Z_OK},
                          {15, 0, 0, Z_DEFLATED, Z_STREAM_ERROR},
                          {15, 10, 0, Z_DEFLATED, Z_STREAM_ERROR},
                          {15, 9, Z_FIXED, Z_DEFLATED, Z_OK},
                          {15, 8, Z_FIXED + 1, Z_DEFLATED, Z_STREAM_ERROR},
                          {15, 8, 0, 9, Z_STREAM_ERROR}};
    for (const Case& c : cases) {
        z_stream t = {};
        EXPECT_EQ(zl.deflateInit2(&t, 6, c.method, c.windowBits, c.memLevel, c.strategy), c.expect) << c.windowBits;
        if (c.expect == Z_OK) {
            EXPECT_NE(t.zalloc, nullptr);  // the default hooks are filled in where the caller can see them
            EXPECT_EQ(zl.deflateEnd(&t), Z_OK);
        }
    }
}

TEST_P(ZlibDeflate, WindowOf256IsHeadedAs512) {
    const ZlibApi& zl = api();
    z_stream s = {};
    ASSERT_EQ(zl.deflateInit2(&s, 6, Z_DEFLATED, 8, 8, Z_DEFAULT_STRATEGY), Z_OK);
    const Data in(1000, 'a');
    Data out;
    ASSERT_EQ(deflateAtOnce(zl, s, in, out, 2000), Z_STREAM_END);
    EXPECT_EQ(out[0], 0x18);  // CINFO 1: a 512-byte window
    EXPECT_EQ(zl.deflateEnd(&s), Z_OK);
    EXPECT_EQ(systemInflate(out, 9), in);
}

TEST_P(ZlibDeflate, StateErrors) {
    const ZlibApi& zl = api();
    std::uint8_t buf[64];
    z_stream s = {};
    EXPECT_EQ(zl.deflate(&s, Z_NO_FLUSH), Z_STREAM_ERROR);  // never initialised
    EXPECT_EQ(zl.deflateEnd(&s), Z_STREAM_ERROR);
    ASSERT_EQ(zl.deflateInit(&s, 6), Z_OK);
    s.next_out = buf;
    s.avail_out = sizeof buf;
    EXPECT_EQ(zl.deflate(&s, Z_BLOCK + 1), Z_STREAM_ERROR);
    EXPECT_EQ(zl.deflate(&s, -1), Z_STREAM_ERROR);
    EXPECT_EQ(zl.deflateSetHeader(&s, nullptr), Z_STREAM_ERROR);  // not gzip
    EXPECT_EQ(zl.deflatePrime(&s, 17, 0), Z_BUF_ERROR);
    s.avail_out = 0;
    EXPECT_EQ(zl.deflate(&s, Z_NO_FLUSH), Z_BUF_ERROR);
    EXPECT_STREQ(s.msg, "buffer error");
    s.avail_out = sizeof buf;
    s.next_out = nullptr;
    EXPECT_EQ(zl.deflate(&s, Z_NO_FLUSH), Z_STREAM_ERROR);
    EXPECT_STREQ(s.msg, "stream error");
    s.next_out = buf;
    s.msg = nullptr;
    EXPECT_EQ(zl.deflate(&s, Z_NO_FLUSH), Z_OK);  // writes the header
    EXPECT_EQ(s.total_out, 2u);
    const std::uint8_t dict[3] = {1, 2, 3};
    EXPECT_EQ(zl.deflateSetDictionary(&s, dict, 3), Z_STREAM_ERROR);  // too late for the zlib wrapper
    EXPECT_EQ(zl.deflateEnd(&s), Z_DATA_ERROR);                       // freed mid-stream
    EXPECT_EQ(zl.deflate(&s, Z_FINISH), Z_STREAM_ERROR);              // ended

    z_stream in = {};
    ASSERT_EQ(zl.inflateInit(&in), Z_OK);
    EXPECT_EQ(zl.deflate(&in, Z_FINISH), Z_STREAM_ERROR);  // an inflate stream
    EXPECT_EQ(zl.deflateEnd(&in), Z_STREAM_ERROR);
    zl.inflateEnd(&in);

    z_stream g = {};
    ASSERT_EQ(zl.deflateInit2(&g, 6, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY), Z_OK);
    EXPECT_EQ(zl.deflateSetDictionary(&g, dict, 3), Z_STREAM_ERROR);  // gzip has no dictionary
    EXPECT_EQ(zl.deflateEnd(&g), Z_OK);
}

TEST_P(ZlibDeflate, ReturnCodesPerFlush) {
    const ZlibApi& zl = api();
    std::uint8_t buf[256];
    z_stream s = {};
    ASSERT_EQ(zl.deflateInit(&s, 6), Z_OK);
    s.next_out = buf;
    s.avail_out = sizeof buf;
    EXPECT_EQ(zl.deflate(&s, Z_NO_FLUSH), Z_OK);
    EXPECT_EQ(zl.deflate(&s, Z_NO_FLUSH), Z_BUF_ERROR);  // no input, same flush: no progress possible
    const char text[] = "hello hello hello";
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text));
    s.avail_in = sizeof text;
    EXPECT_EQ(zl.deflate(&s, Z_SYNC_FLUSH), Z_OK);
    const uLong afterSync = s.total_out;
    EXPECT_EQ(std::memcmp(buf + afterSync - 4, "\x00\x00\xff\xff", 4), 0);
    EXPECT_EQ(zl.deflate(&s, Z_SYNC_FLUSH), Z_BUF_ERROR);
    EXPECT_EQ(zl.deflate(&s, Z_PARTIAL_FLUSH), Z_BUF_ERROR);  // weaker than the last flush
    EXPECT_EQ(zl.deflate(&s, Z_FULL_FLUSH), Z_OK);            // stronger: one more marker
    EXPECT_EQ(zl.deflate(&s, Z_FULL_FLUSH), Z_BUF_ERROR);
    EXPECT_EQ(s.total_out, afterSync + 5);
    EXPECT_EQ(s.adler, adler32(1, reinterpret_cast<const Bytef*>(text), sizeof text));
    EXPECT_EQ(zl.deflate(&s, Z_FINISH), Z_STREAM_END);
    EXPECT_EQ(zl.deflate(&s, Z_FINISH), Z_STREAM_END);  // repeated finish
    EXPECT_EQ(zl.deflate(&s, Z_NO_FLUSH), Z_STREAM_ERROR);
    EXPECT_EQ(zl.deflate(&s, Z_SYNC_FLUSH), Z_STREAM_ERROR);
    s.avail_in = 1;
    EXPECT_EQ(zl.deflate(&s, Z_FINISH), Z_BUF_ERROR);  // no input after the end
    s.avail_in = 0;
    EXPECT_EQ(zl.deflateEnd(&s), Z_OK);
    EXPECT_EQ(systemInflate(Data(buf, buf + s.total_out), 15), Data(text, text + sizeof text));
}

TEST_P(ZlibDeflate, OneByteBuffersAndFields) {
    const ZlibApi& zl = api();
    auto rng = makeRng(1);
    const Data in = mixedData(rng, 20000);
    for (int wrap : {0, 1, 2}) {
        z_stream s = {};
        ASSERT_EQ(zl.deflateInit2(&s, 6, Z_DEFLATED, windowBitsFor(wrap, 15), 8, Z_DEFAULT_STRATEGY), Z_OK);
        Data out;
        std::uint8_t byte;
        std::size_t at = 0;
        int r = Z_OK;
        for (int calls = 0; r != Z_STREAM_END && calls < 200000; ++calls) {
            const uInt given = at < in.size() ? 1 : 0;
            s.next_in = const_cast<Bytef*>(in.data() + at);
            s.avail_in = given;
            s.next_out = &byte;
            s.avail_out = 1;
            r = zl.deflate(&s, at < in.size() ? Z_NO_FLUSH : Z_FINISH);
            ASSERT_TRUE(r == Z_OK || r == Z_STREAM_END || r == Z_BUF_ERROR) << r;
            at += given - s.avail_in;
            if (s.avail_out == 0) out.push_back(byte);
            ASSERT_EQ(s.total_in, at);
            ASSERT_EQ(s.total_out, out.size());
        }
        ASSERT_EQ(r, Z_STREAM_END);
        const uLong check = wrap == 2 ? crc32(0, in.data(), uInt(in.size())) : adler32(1, in.data(), uInt(in.size()));
        if (wrap) EXPECT_EQ(s.adler, check);
        EXPECT_EQ(s.data_type, Z_BINARY);  // the random bytes among the words
        EXPECT_EQ(zl.deflateEnd(&s), Z_OK);
        EXPECT_EQ(systemInflate(out, windowBitsFor(wrap, 15)), in);
    }
}

TEST_P(ZlibDeflate, EmptyInputMakesTheSmallestStream) {
    const ZlibApi& zl = api();
    const std::size_t sizes[3] = {2, 8, 20};  // an empty fixed block, plus the zlib or gzip wrapper
    for (int wrap = 0; wrap < 3; ++wrap) {
        for (int level : {1, 6, 9}) {
            z_stream s = {};
            ASSERT_EQ(zl.deflateInit2(&s, level, Z_DEFLATED, windowBitsFor(wrap, 15), 8, 0), Z_OK);
            Data out;
            ASSERT_EQ(deflateAtOnce(zl, s, Data(), out, 64), Z_STREAM_END);
            EXPECT_EQ(out.size(), sizes[wrap]) << "wrap " << wrap << " level " << level;
            zl.deflateEnd(&s);
        }
    }
}

TEST_P(ZlibDeflate, DataTypeFromTheFirstBlock) {
    const ZlibApi& zl = api();
    const Data text = readCorpusFile("alice29.txt");
    Data binary = text;
    binary[100] = 3;  // one control byte makes it binary
    struct Case {
        const Data* in;
        int level, expect;
    };
    for (const Case& c :
         {Case{&text, 6, Z_TEXT}, Case{&binary, 6, Z_BINARY}, Case{&text, 1, Z_TEXT}, Case{&text, 0, Z_UNKNOWN}}) {
        z_stream s = {};
        ASSERT_EQ(zl.deflateInit(&s, c.level), Z_OK);
        Data out;
        ASSERT_EQ(deflateAtOnce(zl, s, *c.in, out, zl.deflateBound(&s, uLong(c.in->size()))), Z_STREAM_END);
        EXPECT_EQ(s.data_type, c.expect) << c.level;
        zl.deflateEnd(&s);
    }
}

TEST_P(ZlibDeflate, FinishWithLittleRoomContinues) {
    const ZlibApi& zl = api();
    auto rng = makeRng(2);
    const Data in = randomBytes(rng, 5000);
    z_stream s = {};
    ASSERT_EQ(zl.deflateInit(&s, 1), Z_OK);
    Data out(8000);
    s.next_in = const_cast<Bytef*>(in.data());
    s.avail_in = uInt(in.size());
    s.next_out = out.data();
    s.avail_out = 100;
    EXPECT_EQ(zl.deflate(&s, Z_FINISH), Z_OK);
    EXPECT_EQ(s.avail_out, 0u);
    s.avail_out = uInt(out.size() - s.total_out);
    EXPECT_EQ(zl.deflate(&s, Z_FINISH), Z_STREAM_END);
    EXPECT_EQ(s.data_type, Z_BINARY);
    out.resize(s.total_out);
    EXPECT_EQ(zl.deflateEnd(&s), Z_OK);
    EXPECT_EQ(systemInflate(out, 15), in);
}

TEST_P(ZlibDeflate, CompressFitsCompressBound) {
    const ZlibApi& zl = api();
    auto rng = makeRng(3);
    for (std::size_t n : {0, 1, 2, 100, 1000, 8191, 8192, 65535, 65536, 70000, 300000, 1100000}) {
        const Data in = randomBytes(rng, n);
        std::vector<Bytef> dst(zl.compressBound(uLong(n)));
        uLongf len = uLongf(dst.size());
        EXPECT_EQ(zl.compress(dst.data(), &len, in.data(), uLong(n)), Z_OK) << n;
        ASSERT_EQ(systemInflate(Data(dst.begin(), dst.begin() + long(len)), 15), in);
    }
    // Nearly incompressible: Huffman codes save about as much as their header costs.
    for (unsigned symbols : {240u, 250u, 254u}) {
        Data in(1100000);
        for (auto& b : in) b = std::uint8_t(rng() % symbols);
        for (int level : {1, 6, 9}) {
            std::vector<Bytef> dst(zl.compressBound(uLong(in.size())));
            uLongf len = uLongf(dst.size());
            EXPECT_EQ(zl.compress2(dst.data(), &len, in.data(), uLong(in.size()), level), Z_OK)
                << symbols << " symbols, level " << level;
        }
    }
    uLongf tiny = 3;
    std::uint8_t small[3];
    const Data in = randomBytes(rng, 100);
    EXPECT_EQ(zl.compress2(small, &tiny, in.data(), 100, 6), Z_BUF_ERROR);
    EXPECT_EQ(zl.compress2(small, &tiny, in.data(), 100, 12), Z_STREAM_ERROR);
}

// zlib's own deflateBound falls short at level 0 with a small window and tiny input, so this one is ours alone.
TEST(ZlibDeflateCross, BoundHoldsForIncompressibleInput) {
    const ZlibApi& zl = kelZlib();
    auto rng = makeRng(3);
    for (std::size_t n : {0, 1, 2, 100, 1000, 8191, 8192, 65535, 65536, 70000, 300000, 1100000}) {
        const Data in = randomBytes(rng, n);
        for (int level = 0; level <= 9; level += (level < 2 ? 1 : 4)) {
            for (int wrap : {0, 1, 2}) {
                for (int bits : {9, 15}) {
                    z_stream s = {};
                    ASSERT_EQ(zl.deflateInit2(&s, level, Z_DEFLATED, windowBitsFor(wrap, bits), 8, 0), Z_OK);
                    Data out;
                    const uLong bound = zl.deflateBound(&s, uLong(n));
                    EXPECT_EQ(deflateAtOnce(zl, s, in, out, bound), Z_STREAM_END)
                        << n << " bytes, level " << level << " wrap " << wrap << " bits " << bits;
                    zl.deflateEnd(&s);
                }
            }
        }
    }
}

TEST_P(ZlibDeflate, PendingAndPrime) {
    const ZlibApi& zl = api();
    z_stream s = {};
    ASSERT_EQ(zl.deflateInit2(&s, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    ASSERT_EQ(zl.deflatePrime(&s, 8, 0xA5), Z_OK);
    ASSERT_EQ(zl.deflatePrime(&s, 3, 0x5), Z_OK);
    unsigned pending = 0;
    int bits = 0;
    ASSERT_EQ(zl.deflatePending(&s, &pending, &bits), Z_OK);
    EXPECT_EQ(pending, 1u);
    EXPECT_EQ(bits, 3);
    const Data in(300, 'x');
    Data out;
    ASSERT_EQ(deflateAtOnce(zl, s, in, out, 1000), Z_STREAM_END);
    EXPECT_EQ(out[0], 0xA5);
    EXPECT_EQ(out[1] & 7, 5);
    zl.deflateEnd(&s);
    // The rest decodes once the primed bits are skipped.
    const ZlibApi& sys = systemZlib();
    z_stream i = {};
    ASSERT_EQ(sys.inflateInit2(&i, -15), Z_OK);
    ASSERT_EQ(sys.inflatePrime(&i, 5, out[1] >> 3), Z_OK);
    Data back(1000);
    i.next_in = out.data() + 2;
    i.avail_in = uInt(out.size() - 2);
    i.next_out = back.data();
    i.avail_out = uInt(back.size());
    EXPECT_EQ(sys.inflate(&i, Z_FINISH), Z_STREAM_END);
    back.resize(i.total_out);
    sys.inflateEnd(&i);
    EXPECT_EQ(back, in);
}

TEST_P(ZlibDeflate, BlockFlushHoldsBitsBack) {
    const ZlibApi& zl = api();
    z_stream s = {};
    ASSERT_EQ(zl.deflateInit2(&s, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::uint8_t buf[512];
    const char text[] = "abcabcabcabc";
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text));
    s.avail_in = sizeof text - 1;
    s.next_out = buf;
    s.avail_out = sizeof buf;
    ASSERT_EQ(zl.deflate(&s, Z_BLOCK), Z_OK);
    unsigned pending = 9;
    int bits = -1;
    ASSERT_EQ(zl.deflatePending(&s, &pending, &bits), Z_OK);
    EXPECT_EQ(pending, 0u);
    EXPECT_GE(bits, 0);
    EXPECT_LT(bits, 8);
    ASSERT_EQ(zl.deflate(&s, Z_FINISH), Z_STREAM_END);
    zl.deflateEnd(&s);
    EXPECT_EQ(systemInflate(Data(buf, buf + s.total_out), -15), Data(text, text + sizeof text - 1));
}

TEST_P(ZlibDeflate, ParamsMidStream) {
    const ZlibApi& zl = api();
    auto rng = makeRng(4);
    const Data in = mixedData(rng, 200000);
    z_stream s = {};
    ASSERT_EQ(zl.deflateInit(&s, 1), Z_OK);
    EXPECT_EQ(zl.deflateParams(&s, 9, Z_DEFAULT_STRATEGY), Z_OK);  // before any data: just taken
    EXPECT_EQ(zl.deflateParams(&s, 10, 0), Z_STREAM_ERROR);
    Data out(300000);
    s.next_out = out.data();
    s.avail_out = uInt(out.size());
    const int steps[][2] = {{0, 0}, {1, Z_FILTERED}, {6, Z_HUFFMAN_ONLY}, {9, Z_RLE}, {3, Z_FIXED}, {7, 0}};
    const std::size_t piece = in.size() / 6;
    for (int k = 0; k < 6; ++k) {
        ASSERT_EQ(zl.deflateParams(&s, steps[k][0], steps[k][1]), Z_OK) << k;
        s.next_in = const_cast<Bytef*>(in.data() + k * piece);
        s.avail_in = uInt(k == 5 ? in.size() - k * piece : piece);
        ASSERT_EQ(zl.deflate(&s, k == 5 ? Z_FINISH : Z_NO_FLUSH), k == 5 ? Z_STREAM_END : Z_OK);
    }
    out.resize(s.total_out);
    zl.deflateEnd(&s);
    EXPECT_EQ(systemInflate(out, 15), in);

    // No room to end the block: the change is refused.
    z_stream t = {};
    ASSERT_EQ(zl.deflateInit(&t, 6), Z_OK);
    std::uint8_t one[1];
    t.next_in = const_cast<Bytef*>(in.data());
    t.avail_in = 50000;
    t.next_out = one;
    t.avail_out = 1;
    zl.deflate(&t, Z_NO_FLUSH);
    t.next_out = one;
    t.avail_out = 1;
    EXPECT_EQ(zl.deflateParams(&t, 1, Z_DEFAULT_STRATEGY), Z_BUF_ERROR);
    zl.deflateEnd(&t);
}

// A failing allocator at every allocation in turn: Z_MEM_ERROR, and everything allocated is given back.
struct CountingAllocator {
    int failAt = -1;
    int calls = 0;
    int live = 0;
    static voidpf alloc(voidpf opaque, uInt items, uInt size) {
        auto* a = static_cast<CountingAllocator*>(opaque);
        if (a->calls++ == a->failAt) return nullptr;
        ++a->live;
        return std::calloc(items, size);
    }
    static void release(voidpf opaque, voidpf p) {
        --static_cast<CountingAllocator*>(opaque)->live;
        std::free(p);
    }
};

TEST_P(ZlibDeflate, AllocationFailureAtEveryStep) {
    const ZlibApi& zl = api();
    auto rng = makeRng(5);
    const Data in = mixedData(rng, 100000);
    for (int failAt = 0; failAt < 64; ++failAt) {
        CountingAllocator a;
        a.failAt = failAt;
        z_stream s = {};
        s.zalloc = CountingAllocator::alloc;
        s.zfree = CountingAllocator::release;
        s.opaque = &a;
        int r = zl.deflateInit2(&s, 6, Z_DEFLATED, 31, 8, 0);
        if (r == Z_OK) {
            z_stream copy = {};
            const int c = zl.deflateCopy(&copy, &s);
            if (c == Z_OK) zl.deflateEnd(&copy);
            EXPECT_TRUE(c == Z_OK || c == Z_MEM_ERROR) << c;
            Data out;
            r = deflateAtOnce(zl, s, in, out, 200000);
            EXPECT_TRUE(r == Z_STREAM_END || r == Z_MEM_ERROR) << r;
            zl.deflateEnd(&s);
        } else {
            EXPECT_EQ(r, Z_MEM_ERROR);
        }
        EXPECT_EQ(a.live, 0) << "fail at " << failAt;
        if (a.calls <= failAt) break;  // every allocation has been failed once
    }
}

// ---- Streams written by libkelz, read by the system's inflate ----

TEST(ZlibDeflateCross, RandomFlushesEveryLevelWrapperWindowStrategy) {
    const ZlibApi& kel = kelZlib();
    auto rng = makeRng(6);
    const Data in = mixedData(rng, 150000);
    const int flushes[] = {Z_NO_FLUSH, Z_NO_FLUSH, Z_NO_FLUSH, Z_BLOCK, Z_PARTIAL_FLUSH, Z_SYNC_FLUSH, Z_FULL_FLUSH};
    const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
    for (int level = 0; level <= 9; ++level) {
        for (int wrap = 0; wrap < 3; ++wrap) {
            for (int bits : {9, 10, 12, 15}) {
                const int strategy = strategies[(level + wrap + bits) % 5];
                SCOPED_TRACE(::testing::Message() << "level " << level << " wrap " << wrap << " bits " << bits
                                                  << " strategy " << strategy << " " << seedNote());
                const int wb = windowBitsFor(wrap, bits);
                z_stream s = {};
                ASSERT_EQ(kel.deflateInit2(&s, level, Z_DEFLATED, wb, 8, strategy), Z_OK);
                Data out;
                std::size_t at = 0;
                int r = Z_OK;
                while (r != Z_STREAM_END) {
                    const std::size_t take = std::min<std::size_t>(in.size() - at, rng() % 20000);
                    const bool last = at + take == in.size();
                    const int flush = last ? Z_FINISH : flushes[rng() % 7];
                    s.next_in = const_cast<Bytef*>(in.data() + at);
                    s.avail_in = uInt(take);
                    do {
                        std::uint8_t buf[4096];
                        const uInt room = uInt(1 + rng() % sizeof buf);
                        s.next_out = buf;
                        s.avail_out = room;
                        r = kel.deflate(&s, flush);
                        ASSERT_TRUE(r == Z_OK || r == Z_STREAM_END || r == Z_BUF_ERROR) << r;
                        out.insert(out.end(), buf, buf + (room - s.avail_out));
                    } while (s.avail_out == 0 || (last && r != Z_STREAM_END));
                    at += take;
                }
                EXPECT_EQ(kel.deflateEnd(&s), Z_OK);
                ASSERT_EQ(systemInflate(out, wb), in);
            }
        }
    }
}

TEST(ZlibDeflateCross, FullFlushIsASyncPoint) {
    const ZlibApi& kel = kelZlib();
    const ZlibApi& sys = systemZlib();
    auto rng = makeRng(7);
    const Data in = mixedData(rng, 100000);
    const std::size_t cut = 60000;
    for (int level = 1; level <= 9; ++level) {
        SCOPED_TRACE(level);
        z_stream s = {};
        ASSERT_EQ(kel.deflateInit2(&s, level, Z_DEFLATED, -15, 8, 0), Z_OK);
        Data out(200000);
        s.next_out = out.data();
        s.avail_out = uInt(out.size());
        s.next_in = const_cast<Bytef*>(in.data());
        s.avail_in = uInt(cut);
        ASSERT_EQ(kel.deflate(&s, Z_FULL_FLUSH), Z_OK);
        const std::size_t flushEnd = s.total_out;
        s.avail_in = uInt(in.size() - cut);
        ASSERT_EQ(kel.deflate(&s, Z_FINISH), Z_STREAM_END);
        out.resize(s.total_out);
        kel.deflateEnd(&s);
        // From a point inside the first part, inflateSync finds the flush and the rest decodes alone.
        z_stream i = {};
        ASSERT_EQ(sys.inflateInit2(&i, -15), Z_OK);
        i.next_in = out.data() + flushEnd / 2;
        i.avail_in = uInt(out.size() - flushEnd / 2);
        ASSERT_EQ(sys.inflateSync(&i), Z_OK);
        EXPECT_EQ(std::size_t(i.next_in - out.data()), flushEnd);
        Data back(in.size());
        i.next_out = back.data();
        i.avail_out = uInt(back.size());
        ASSERT_EQ(sys.inflate(&i, Z_FINISH), Z_STREAM_END) << (i.msg ? i.msg : "");
        back.resize(i.total_out);
        sys.inflateEnd(&i);
        EXPECT_EQ(back, Data(in.begin() + long(cut), in.end()));
    }
}

// zlib emits another empty block for every flush stronger than the call before it, even without input between
// them; libkelz adds nothing until new input arrives, and the stream still decodes.
TEST(ZlibDeflateCross, RepeatedFlushesWithoutInputStayBounded) {
    const ZlibApi& kel = kelZlib();
    z_stream s = {};
    ASSERT_EQ(kel.deflateInit(&s, 6), Z_OK);
    Data out(4096);
    s.next_out = out.data();
    s.avail_out = uInt(out.size());
    const char text[] = "some text to flush";
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text));
    s.avail_in = sizeof text;
    ASSERT_EQ(kel.deflate(&s, Z_SYNC_FLUSH), Z_OK);
    const uLong afterFirst = s.total_out;
    for (int round = 0; round < 50; ++round) {
        for (int flush : {Z_BLOCK, Z_PARTIAL_FLUSH, Z_SYNC_FLUSH, Z_FULL_FLUSH}) {
            const int r = kel.deflate(&s, flush);
            ASSERT_TRUE(r == Z_OK || r == Z_BUF_ERROR) << r;
        }
    }
    EXPECT_LE(s.total_out, afterFirst + 16);
    ASSERT_EQ(kel.deflate(&s, Z_FINISH), Z_STREAM_END);
    out.resize(s.total_out);
    kel.deflateEnd(&s);
    EXPECT_EQ(systemInflate(out, 15), Data(text, text + sizeof text));
}

TEST(ZlibDeflateCross, Dictionaries) {
    const ZlibApi& kel = kelZlib();
    auto rng = makeRng(8);
    const Data in = mixedData(rng, 5000);
    Data dict = mixedData(rng, 40000);
    for (int bits : {9, 15}) {
        z_stream s = {};
        ASSERT_EQ(kel.deflateInit2(&s, 6, Z_DEFLATED, bits, 8, 0), Z_OK);
        ASSERT_EQ(kel.deflateSetDictionary(&s, dict.data(), uInt(dict.size())), Z_OK);
        EXPECT_EQ(s.adler, adler32(1, dict.data(), uInt(dict.size())));
        Data got(1 << 15);
        uInt gotLen = 0;
        ASSERT_EQ(kel.deflateGetDictionary(&s, got.data(), &gotLen), Z_OK);
        EXPECT_EQ(gotLen, 1u << bits);
        EXPECT_EQ(Data(got.begin(), got.begin() + gotLen), Data(dict.end() - (1 << bits), dict.end()));
        Data out;
        ASSERT_EQ(deflateAtOnce(kel, s, in, out, 10000), Z_STREAM_END);
        EXPECT_EQ(out[1] & 0x20, 0x20);  // FDICT
        kel.deflateEnd(&s);
        EXPECT_EQ(systemInflate(out, bits, &dict), in);
    }
    // Raw: the inflater takes the dictionary up front.
    z_stream s = {};
    ASSERT_EQ(kel.deflateInit2(&s, 9, Z_DEFLATED, -15, 8, 0), Z_OK);
    ASSERT_EQ(kel.deflateSetDictionary(&s, dict.data(), uInt(dict.size())), Z_OK);
    Data out;
    ASSERT_EQ(deflateAtOnce(kel, s, in, out, 10000), Z_STREAM_END);
    kel.deflateEnd(&s);
    const ZlibApi& sys = systemZlib();
    z_stream i = {};
    ASSERT_EQ(sys.inflateInit2(&i, -15), Z_OK);
    ASSERT_EQ(sys.inflateSetDictionary(&i, dict.data(), uInt(dict.size())), Z_OK);
    Data back(in.size() + 10);
    i.next_in = out.data();
    i.avail_in = uInt(out.size());
    i.next_out = back.data();
    i.avail_out = uInt(back.size());
    ASSERT_EQ(sys.inflate(&i, Z_FINISH), Z_STREAM_END);
    back.resize(i.total_out);
    sys.inflateEnd(&i);
    EXPECT_EQ(back, in);
}

TEST(ZlibDeflateCross, CopyMidStreamContinuesIndependently) {
    const ZlibApi& kel = kelZlib();
    auto rng = makeRng(9);
    const Data a = mixedData(rng, 70000), b = mixedData(rng, 30000), c = randomBytes(rng, 20000);
    z_stream s = {};
    ASSERT_EQ(kel.deflateInit2(&s, 6, Z_DEFLATED, 31, 8, 0), Z_OK);
    Data head(100000);
    s.next_in = const_cast<Bytef*>(a.data());
    s.avail_in = uInt(a.size());
    s.next_out = head.data();
    s.avail_out = 7;  // leaves output pending, which the copy must carry
    ASSERT_EQ(kel.deflate(&s, Z_NO_FLUSH), Z_OK);
    z_stream t = {};
    ASSERT_EQ(kel.deflateCopy(&t, &s), Z_OK);
    for (auto [strm, tail] : {std::pair{&s, &b}, std::pair{&t, &c}}) {
        Data out(head.begin(), head.begin() + 7);
        Data buf(300000);
        strm->next_out = buf.data();
        strm->avail_out = uInt(buf.size());
        int r = kel.deflate(strm, Z_NO_FLUSH);
        ASSERT_EQ(r, Z_OK);
        strm->next_in = const_cast<Bytef*>(tail->data());
        strm->avail_in = uInt(tail->size());
        ASSERT_EQ(kel.deflate(strm, Z_FINISH), Z_STREAM_END);
        out.insert(out.end(), buf.begin(), buf.begin() + long(buf.size() - strm->avail_out));
        Data want = a;
        want.insert(want.end(), tail->begin(), tail->end());
        EXPECT_EQ(systemInflate(out, 31), want);
        EXPECT_EQ(kel.deflateEnd(strm), Z_OK);
    }
}

TEST(ZlibDeflateCross, GzipHeaderReadBackBySystem) {
    const ZlibApi& kel = kelZlib();
    const ZlibApi& sys = systemZlib();
    gz_header h = {};
    h.text = 1;
    h.time = 0x12345678;
    h.os = 11;
    std::uint8_t extra[5] = {'A', 'B', 2, 0, 7};
    h.extra = extra;
    h.extra_len = 5;
    h.name = reinterpret_cast<Bytef*>(const_cast<char*>("file.txt"));
    h.comment = reinterpret_cast<Bytef*>(const_cast<char*>("a comment"));
    h.hcrc = 1;
    z_stream s = {};
    ASSERT_EQ(kel.deflateInit2(&s, 9, Z_DEFLATED, 31, 8, 0), Z_OK);
    ASSERT_EQ(kel.deflateSetHeader(&s, &h), Z_OK);
    const Data in(1000, 'q');
    Data out;
    ASSERT_EQ(deflateAtOnce(kel, s, in, out, kel.deflateBound(&s, 1000)), Z_STREAM_END);
    kel.deflateEnd(&s);
    EXPECT_EQ(out[8], 2);  // XFL of level 9

    z_stream i = {};
    ASSERT_EQ(sys.inflateInit2(&i, 31), Z_OK);
    gz_header got = {};
    std::uint8_t gotExtra[16], gotName[32], gotComment[32];
    got.extra = gotExtra;
    got.extra_max = sizeof gotExtra;
    got.name = gotName;
    got.name_max = sizeof gotName;
    got.comment = gotComment;
    got.comm_max = sizeof gotComment;
    ASSERT_EQ(sys.inflateGetHeader(&i, &got), Z_OK);
    Data back(2000);
    i.next_in = out.data();
    i.avail_in = uInt(out.size());
    i.next_out = back.data();
    i.avail_out = uInt(back.size());
    ASSERT_EQ(sys.inflate(&i, Z_FINISH), Z_STREAM_END) << (i.msg ? i.msg : "");
    EXPECT_EQ(i.total_out, in.size());
    EXPECT_EQ(got.done, 1);
    EXPECT_EQ(got.text, 1);
    EXPECT_EQ(got.time, 0x12345678u);
    EXPECT_EQ(got.os, 11);
    EXPECT_EQ(got.hcrc, 1);
    EXPECT_EQ(got.extra_len, 5u);
    EXPECT_EQ(std::memcmp(gotExtra, extra, 5), 0);
    EXPECT_STREQ(reinterpret_cast<char*>(gotName), "file.txt");
    EXPECT_STREQ(reinterpret_cast<char*>(gotComment), "a comment");
    sys.inflateEnd(&i);

    // The default header: no time, no name, XFL 4 for the fast levels, OS 3.
    z_stream d = {};
    ASSERT_EQ(kel.deflateInit2(&d, 1, Z_DEFLATED, 31, 8, 0), Z_OK);
    ASSERT_EQ(deflateAtOnce(kel, d, in, out, 2000), Z_STREAM_END);
    kel.deflateEnd(&d);
    const std::uint8_t want[10] = {0x1f, 0x8b, 8, 0, 0, 0, 0, 0, 4, 3};
    EXPECT_EQ(std::memcmp(out.data(), want, 10), 0);
}

// Output sizes over the bundled corpus stay within 1% of zlib's at the levels programs use most.
TEST(ZlibDeflateCross, CorpusSizesNearZlibs) {
    const ZlibApi& kel = kelZlib();
    const ZlibApi& sys = systemZlib();
    for (int level : {1, 6, 9}) {
        std::size_t ours = 0, theirs = 0;
        for (const std::string& name : corpusFileNames()) {
            const Data in = readCorpusFile(name);
            std::vector<Bytef> dst(compressBound(uLong(in.size())));
            uLongf a = uLongf(dst.size()), b = uLongf(dst.size());
            ASSERT_EQ(kel.compress2(dst.data(), &a, in.data(), uLong(in.size()), level), Z_OK) << name;
            ASSERT_EQ(systemInflate(Data(dst.begin(), dst.begin() + long(a)), 15), in) << name;
            ASSERT_EQ(sys.compress2(dst.data(), &b, in.data(), uLong(in.size()), level), Z_OK);
            ours += a;
            theirs += b;
        }
        EXPECT_LE(double(ours), double(theirs) * 1.01) << "level " << level;
    }
}

}  // namespace
}  // namespace kel::test

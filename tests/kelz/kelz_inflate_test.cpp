// tests/kelz/kelz_inflate_test.cpp - libkelz's decompression calls against the system's zlib.
//
// Behaviour tests run one body over both libraries (the system's proves the expectation is zlib's); differential
// tests feed the same streams, damaged streams and call patterns to both and compare what a program can see.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/test_util.h"
#include "support/zlib_api.h"

namespace {

using kel::test::kelZlib;
using kel::test::systemZlib;
using kel::test::ZlibApi;
using kel::test::ZlibApiName;
using Bytes = std::vector<std::uint8_t>;

// The system's zlib writes the test streams.
Bytes compressWith(const Bytes& data, int level, int windowBits, int strategy = Z_DEFAULT_STRATEGY, int memLevel = 8) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, windowBits, memLevel, strategy), Z_OK);
    Bytes out(deflateBound(&z, data.size()) + 64);
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = uInt(data.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

Bytes sampleText(std::size_t n) {
    Bytes text = kel::test::readCorpusFile("alice29.txt");
    if (text.size() > n) text.resize(n);
    return text;
}

// What one decoding run shows: return code, message, output, and how much input it used.
struct Outcome {
    int ret = Z_OK;
    std::string msg;
    Bytes out;
    uLong totalIn = 0;
    uInt availIn = 0;
    bool operator==(const Outcome& o) const = default;
};

// Decodes `in` with windowBits, the input in pieces of inPiece bytes and room of outPiece bytes per call.
Outcome decode(const ZlibApi& api, const Bytes& in, int windowBits, std::size_t inPiece, std::size_t outPiece,
               int flush = Z_NO_FLUSH) {
    Outcome o;
    z_stream z{};
    EXPECT_EQ(api.inflateInit2(&z, windowBits), Z_OK);
    std::size_t pos = 0;
    Bytes room(outPiece);
    for (int stalls = 0; stalls < 4;) {
        const std::size_t n = std::min(inPiece, in.size() - pos);
        z.next_in = const_cast<Bytef*>(in.data() + pos);
        z.avail_in = uInt(n);
        z.next_out = room.data();
        z.avail_out = uInt(room.size());
        o.ret = api.inflate(&z, flush);
        pos += n - z.avail_in;
        o.out.insert(o.out.end(), room.data(), room.data() + (room.size() - z.avail_out));
        if (o.ret != Z_OK && o.ret != Z_BUF_ERROR) break;
        stalls = o.ret == Z_BUF_ERROR ? stalls + 1 : 0;
    }
    o.msg = z.msg ? z.msg : "";
    o.totalIn = z.total_in;
    o.availIn = uInt(in.size() - pos);
    EXPECT_EQ(z.total_out, o.out.size());
    api.inflateEnd(&z);
    return o;
}

class Inflate : public ::testing::TestWithParam<const ZlibApi*> {
protected:
    const ZlibApi& api = *GetParam();
};

INSTANTIATE_TEST_SUITE_P(Both, Inflate, ::testing::Values(&systemZlib(), &kelZlib()), ZlibApiName());

// ---- Behaviour, on both libraries ------------------------------------------------------------------------------

TEST_P(Inflate, DecodesCorpusWholeAndInPieces) {
    for (const std::string& name : kel::test::corpusFileNames()) {
        const Bytes data = kel::test::readCorpusFile(name);
        const Bytes packed = compressWith(data, 6, 15);
        SCOPED_TRACE(name);
        const Outcome whole = decode(api, packed, 15, packed.size(), data.size() + 1);
        EXPECT_EQ(whole.ret, Z_STREAM_END);
        EXPECT_TRUE(whole.out == data);
        const Outcome pieces = decode(api, packed, 15, 16384, 65536);
        EXPECT_EQ(pieces.ret, Z_STREAM_END);
        EXPECT_TRUE(pieces.out == data);
    }
}

TEST_P(Inflate, DecodesOneByteInputAndOutput) {
    const Bytes data = sampleText(20000);
    for (int wb : {15, -15, 31}) {
        const Bytes packed = compressWith(data, 9, wb);
        const Outcome o = decode(api, packed, wb, 1, 1);
        EXPECT_EQ(o.ret, Z_STREAM_END) << wb;
        EXPECT_TRUE(o.out == data) << wb;
        EXPECT_EQ(o.totalIn, packed.size());
    }
}

TEST_P(Inflate, WindowBitsSelectWrapperAndLimit) {
    const Bytes data = sampleText(50000);
    const Bytes zlib15 = compressWith(data, 6, 15), gzip = compressWith(data, 6, 31), raw = compressWith(data, 6, -15);
    EXPECT_EQ(decode(api, zlib15, 0, 1 << 20, 1 << 20).ret, Z_STREAM_END);
    EXPECT_EQ(decode(api, zlib15, 47, 1 << 20, 1 << 20).ret, Z_STREAM_END);
    EXPECT_EQ(decode(api, gzip, 47, 1 << 20, 1 << 20).ret, Z_STREAM_END);
    EXPECT_EQ(decode(api, gzip, 31, 1 << 20, 1 << 20).ret, Z_STREAM_END);
    EXPECT_EQ(decode(api, raw, -15, 1 << 20, 1 << 20).ret, Z_STREAM_END);
    const Outcome small = decode(api, zlib15, 14, 1 << 20, 1 << 20);
    EXPECT_EQ(small.ret, Z_DATA_ERROR);
    EXPECT_EQ(small.msg, "invalid window size");
    const Outcome gzipOnly = decode(api, zlib15, 31, 1 << 20, 1 << 20);
    EXPECT_EQ(gzipOnly.msg, "incorrect header check");
    const Outcome zlibOnly = decode(api, gzip, 15, 1 << 20, 1 << 20);
    EXPECT_EQ(zlibOnly.msg, "incorrect header check");
    // A gzip stream ends after its trailer: the next member stays in the input.
    Bytes twoMembers = gzip;
    twoMembers.insert(twoMembers.end(), gzip.begin(), gzip.end());
    const Outcome first = decode(api, twoMembers, 31, twoMembers.size(), 1 << 20);
    EXPECT_EQ(first.ret, Z_STREAM_END);
    EXPECT_EQ(first.availIn, gzip.size());
}

TEST_P(Inflate, RejectsBadArgumentsAndStates) {
    z_stream z{};
    for (int wb : {-16, -7, 1, 7, 16 + 7, 32 + 16, 48, 64}) {
        z = z_stream{};
        EXPECT_EQ(api.inflateInit2(&z, wb), Z_STREAM_ERROR) << wb;
    }
    z = z_stream{};
    EXPECT_EQ(api.inflateInit_(&z, "2.0", int(sizeof(z_stream))), Z_VERSION_ERROR);
    EXPECT_EQ(api.inflateInit_(&z, ZLIB_VERSION, int(sizeof(z_stream)) - 8), Z_VERSION_ERROR);
    EXPECT_EQ(api.inflateInit_(&z, nullptr, int(sizeof(z_stream))), Z_VERSION_ERROR);
    EXPECT_EQ(api.inflate(nullptr, Z_NO_FLUSH), Z_STREAM_ERROR);
    EXPECT_EQ(api.inflateEnd(&z), Z_STREAM_ERROR);  // never initialised (state null)
    ASSERT_EQ(api.inflateInit(&z), Z_OK);
    Byte out[16];
    z.next_out = nullptr;
    EXPECT_EQ(api.inflate(&z, Z_NO_FLUSH), Z_STREAM_ERROR);
    z.next_out = out;
    z.avail_out = sizeof out;
    z.next_in = nullptr;
    z.avail_in = 3;
    EXPECT_EQ(api.inflate(&z, Z_NO_FLUSH), Z_STREAM_ERROR);
    z.avail_in = 0;
    EXPECT_EQ(api.inflate(&z, Z_NO_FLUSH), Z_BUF_ERROR);              // no progress possible
    EXPECT_EQ(api.inflateSetDictionary(&z, out, 4), Z_STREAM_ERROR);  // a zlib stream asks for it first
    EXPECT_EQ(api.inflateGetHeader(&z, nullptr), Z_STREAM_ERROR);     // not a gzip stream
    EXPECT_EQ(api.inflateUndermine(&z, 1), Z_DATA_ERROR);
    z_stream copy = z;  // a copied z_stream does not own the state
    EXPECT_EQ(api.inflate(&copy, Z_NO_FLUSH), Z_STREAM_ERROR);
    EXPECT_EQ(api.inflateEnd(&z), Z_OK);
    EXPECT_EQ(api.inflateEnd(&z), Z_STREAM_ERROR);
    EXPECT_EQ(api.inflateMark(&z), -(1L << 16));
    EXPECT_EQ(api.inflateCodesUsed(&z), static_cast<unsigned long>(-1));
}

TEST_P(Inflate, ReportsBufErrorWithoutProgressAndAtFinish) {
    const Bytes data = sampleText(10000);
    const Bytes packed = compressWith(data, 6, 15);
    z_stream z{};
    ASSERT_EQ(api.inflateInit(&z), Z_OK);
    Bytes out(data.size());
    z.next_in = const_cast<Bytef*>(packed.data());
    z.avail_in = uInt(packed.size() / 2);
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    EXPECT_EQ(api.inflate(&z, Z_FINISH), Z_BUF_ERROR);  // progress, but Z_FINISH could not finish
    EXPECT_EQ(z.avail_in, 0u);
    EXPECT_EQ(api.inflate(&z, Z_NO_FLUSH), Z_BUF_ERROR);  // nothing to do
    z.avail_in = uInt(packed.size() - packed.size() / 2);
    z.avail_out = 0;
    const uLong before = z.total_out;
    const int ret = api.inflate(&z, Z_NO_FLUSH);
    EXPECT_TRUE(ret == Z_OK || ret == Z_BUF_ERROR);
    EXPECT_EQ(z.total_out, before);
    z.avail_out = uInt(out.size() - z.total_out);
    EXPECT_EQ(api.inflate(&z, Z_NO_FLUSH), Z_STREAM_END);
    EXPECT_TRUE(out == data);
    EXPECT_EQ(z.adler, adler32(1, data.data(), uInt(data.size())));
    EXPECT_EQ(api.inflate(&z, Z_NO_FLUSH), Z_STREAM_END);  // stays at the end
    api.inflateEnd(&z);
}

TEST_P(Inflate, AsksForDictionaryByItsAdler) {
    const Bytes dict = sampleText(3000), data = sampleText(20000);
    z_stream d{};
    ASSERT_EQ(deflateInit(&d, 6), Z_OK);
    ASSERT_EQ(deflateSetDictionary(&d, dict.data(), uInt(dict.size())), Z_OK);
    Bytes packed(deflateBound(&d, data.size()));
    d.next_in = const_cast<Bytef*>(data.data());
    d.avail_in = uInt(data.size());
    d.next_out = packed.data();
    d.avail_out = uInt(packed.size());
    ASSERT_EQ(deflate(&d, Z_FINISH), Z_STREAM_END);
    packed.resize(d.total_out);
    deflateEnd(&d);

    z_stream z{};
    ASSERT_EQ(api.inflateInit(&z), Z_OK);
    Bytes out(data.size());
    z.next_in = packed.data();
    z.avail_in = uInt(packed.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    ASSERT_EQ(api.inflate(&z, Z_NO_FLUSH), Z_NEED_DICT);
    EXPECT_EQ(z.adler, adler32(1, dict.data(), uInt(dict.size())));
    EXPECT_EQ(api.inflateSetDictionary(&z, dict.data(), 100), Z_DATA_ERROR);
    ASSERT_EQ(api.inflateSetDictionary(&z, dict.data(), uInt(dict.size())), Z_OK);
    ASSERT_EQ(api.inflate(&z, Z_NO_FLUSH), Z_STREAM_END);
    EXPECT_TRUE(out == data);
    Bytes window(32768);
    uInt n = 0;
    ASSERT_EQ(api.inflateGetDictionary(&z, window.data(), &n), Z_OK);
    Bytes history = dict;
    history.insert(history.end(), data.begin(), data.end());
    // The call that checks the trailer does not add its output to the window: only the dictionary is there.
    ASSERT_EQ(n, dict.size());
    EXPECT_TRUE(std::equal(window.begin(), window.begin() + n, dict.begin()));
    api.inflateEnd(&z);
}

TEST_P(Inflate, StopsAtBlocksAndTreesWithDocumentedDataType) {
    // Several blocks: dynamic ones, the empty stored blocks of sync and full flushes, and a short fixed last one.
    const Bytes text = sampleText(40000);
    Bytes packed(100000);
    z_stream d{};
    ASSERT_EQ(deflateInit2(&d, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    d.next_out = packed.data();
    d.avail_out = uInt(packed.size());
    d.next_in = const_cast<Bytef*>(text.data());
    for (const auto& [n, flush] : {std::pair{20000u, Z_FULL_FLUSH}, {5000u, Z_SYNC_FLUSH}, {10u, Z_FINISH}}) {
        d.avail_in = n;
        ASSERT_EQ(deflate(&d, flush), flush == Z_FINISH ? Z_STREAM_END : Z_OK);
    }
    packed.resize(d.total_out);
    deflateEnd(&d);

    for (int flush : {Z_BLOCK, Z_TREES}) {
        z_stream z{};
        ASSERT_EQ(api.inflateInit2(&z, -15), Z_OK);
        Bytes out(50000);
        z.next_in = packed.data();
        z.avail_in = uInt(packed.size());
        z.next_out = out.data();
        z.avail_out = uInt(out.size());
        int ret, stops = 0, headerStops = 0;
        bool sawLast = false;
        // Past an empty stored block's header, the next stop (the block's end) makes no progress: Z_BUF_ERROR.
        while ((ret = api.inflate(&z, flush)) == Z_OK || (ret == Z_BUF_ERROR && z.avail_in > 0)) {
            ++stops;
            const int type = z.data_type;
            EXPECT_LT(type & 63, 8);
            if (type & 256) {
                ++headerStops;
                EXPECT_EQ(api.inflateMark(&z) >> 16, -1);
            }
            if (type & 128) EXPECT_EQ(api.inflateMark(&z), -(1L << 16));
            if (type & 64) sawLast = true;
        }
        EXPECT_EQ(ret, Z_STREAM_END);
        EXPECT_TRUE(sawLast);
        EXPECT_GE(stops, 4);
        EXPECT_EQ(headerStops > 0, flush == Z_TREES);
        EXPECT_TRUE(std::equal(text.begin(), text.begin() + 25010, out.begin()));
        api.inflateEnd(&z);
    }
}

TEST_P(Inflate, SyncFindsTheNextFullFlushPoint) {
    const Bytes text = sampleText(60000);
    z_stream d{};
    ASSERT_EQ(deflateInit(&d, 6), Z_OK);
    Bytes buf(100000);
    d.next_out = buf.data();
    d.avail_out = uInt(buf.size());
    d.next_in = const_cast<Bytef*>(text.data());
    d.avail_in = 30000;
    ASSERT_EQ(deflate(&d, Z_FULL_FLUSH), Z_OK);
    const std::size_t flushAt = d.total_out;
    d.avail_in = 30000;
    ASSERT_EQ(deflate(&d, Z_FINISH), Z_STREAM_END);
    Bytes packed(buf.begin(), buf.begin() + d.total_out);
    deflateEnd(&d);
    for (std::size_t i = 100; i < 200; ++i) packed[i] ^= 0x55;  // damage the first part

    z_stream z{};
    ASSERT_EQ(api.inflateInit(&z), Z_OK);
    Bytes out(text.size());
    z.next_in = packed.data();
    z.avail_in = 300;
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    api.inflate(&z, Z_NO_FLUSH);  // whatever the damage does
    z.avail_in = uInt(packed.size() - (z.next_in - packed.data()));
    ASSERT_EQ(api.inflateSync(&z), Z_OK);
    EXPECT_EQ(std::size_t(z.next_in - packed.data()), flushAt);
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    EXPECT_EQ(api.inflate(&z, Z_NO_FLUSH), Z_STREAM_END);  // the check value is no longer verified
    EXPECT_EQ(z.next_out - out.data(), 30000);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 30000, text.begin() + 30000));
    api.inflateEnd(&z);

    z = z_stream{};
    ASSERT_EQ(api.inflateInit(&z), Z_OK);
    Byte none[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(api.inflateSync(&z), Z_BUF_ERROR);
    z.next_in = none;
    z.avail_in = sizeof none;
    EXPECT_EQ(api.inflateSync(&z), Z_DATA_ERROR);
    EXPECT_EQ(z.total_in, sizeof none);
    api.inflateEnd(&z);
}

TEST_P(Inflate, PrimeInsertsBitsBeforeTheInput) {
    const Bytes text = sampleText(5000);
    const Bytes raw = compressWith(text, 6, -15);
    // The first three bits go in through inflatePrime, the rest of the first byte is dropped by a shift.
    z_stream z{};
    ASSERT_EQ(api.inflateInit2(&z, -15), Z_OK);
    EXPECT_EQ(api.inflatePrime(&z, 17, 0), Z_STREAM_ERROR);
    ASSERT_EQ(api.inflatePrime(&z, 8, raw[0]), Z_OK);
    ASSERT_EQ(api.inflatePrime(&z, -1, 0), Z_OK);  // cleared
    ASSERT_EQ(api.inflatePrime(&z, 3, raw[0] & 7), Z_OK);
    Bytes rest(raw.begin() + 1, raw.end());
    // Put back the remaining five bits of byte 0 as primed bits too.
    ASSERT_EQ(api.inflatePrime(&z, 5, raw[0] >> 3), Z_OK);
    Bytes out(text.size());
    z.next_in = rest.data();
    z.avail_in = uInt(rest.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    EXPECT_EQ(api.inflate(&z, Z_FINISH), Z_STREAM_END);
    EXPECT_TRUE(out == text);
    api.inflateEnd(&z);
}

TEST_P(Inflate, ReadsGzipHeaderFields) {
    const Bytes text = sampleText(1000);
    z_stream d{};
    ASSERT_EQ(deflateInit2(&d, 6, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY), Z_OK);
    gz_header h{};
    Byte extra[] = "EXTRAFIELD", name[] = "file-name.txt", comment[] = "a comment";
    h.text = 1;
    h.time = 0x12345678;
    h.os = 3;
    h.extra = extra;
    h.extra_len = 10;
    h.name = name;
    h.comment = comment;
    h.hcrc = 1;
    ASSERT_EQ(deflateSetHeader(&d, &h), Z_OK);
    Bytes packed(4000);
    d.next_in = const_cast<Bytef*>(text.data());
    d.avail_in = uInt(text.size());
    d.next_out = packed.data();
    d.avail_out = uInt(packed.size());
    ASSERT_EQ(deflate(&d, Z_FINISH), Z_STREAM_END);
    packed.resize(d.total_out);
    deflateEnd(&d);

    for (std::size_t piece : {std::size_t(1), packed.size()}) {
        z_stream z{};
        ASSERT_EQ(api.inflateInit2(&z, 47), Z_OK);
        gz_header got{};
        Byte gotExtra[4] = {}, gotName[64] = {}, gotComment[5] = {};
        got.extra = gotExtra;
        got.extra_max = sizeof gotExtra;
        got.name = gotName;
        got.name_max = sizeof gotName;
        got.comment = gotComment;
        got.comm_max = sizeof gotComment;
        ASSERT_EQ(api.inflateGetHeader(&z, &got), Z_OK);
        EXPECT_EQ(got.done, 0);
        Bytes out(text.size());
        z.next_out = out.data();
        z.avail_out = uInt(out.size());
        std::size_t pos = 0;
        int ret = Z_OK;
        while (ret == Z_OK && pos < packed.size()) {
            z.next_in = packed.data() + pos;
            z.avail_in = uInt(std::min(piece, packed.size() - pos));
            const uInt given = z.avail_in;
            ret = api.inflate(&z, Z_NO_FLUSH);
            pos += given - z.avail_in;
        }
        EXPECT_EQ(ret, Z_STREAM_END);
        EXPECT_EQ(got.done, 1);
        EXPECT_EQ(got.text, 1);
        EXPECT_EQ(got.time, 0x12345678u);
        EXPECT_EQ(got.os, 3);
        EXPECT_EQ(got.extra_len, 10u);
        EXPECT_EQ(std::memcmp(gotExtra, "EXTR", 4), 0);
        EXPECT_STREQ(reinterpret_cast<char*>(gotName), "file-name.txt");
        EXPECT_EQ(std::memcmp(gotComment, "a com", 5), 0);
        EXPECT_EQ(got.hcrc, 1);
        EXPECT_EQ(z.adler, crc32(0, text.data(), uInt(text.size())));
        api.inflateEnd(&z);
    }
}

TEST_P(Inflate, ValidateOffIgnoresWrongCheckValues) {
    const Bytes text = sampleText(3000);
    for (int wb : {15, 31}) {
        Bytes packed = compressWith(text, 6, wb);
        packed[packed.size() - (wb == 15 ? 1 : 6)] ^= 1;
        EXPECT_EQ(decode(api, packed, wb, packed.size(), 4000).msg, "incorrect data check");
        z_stream z{};
        ASSERT_EQ(api.inflateInit2(&z, wb), Z_OK);
        ASSERT_EQ(api.inflateValidate(&z, 0), Z_OK);
        Bytes out(4000);
        z.next_in = packed.data();
        z.avail_in = uInt(packed.size());
        z.next_out = out.data();
        z.avail_out = uInt(out.size());
        EXPECT_EQ(api.inflate(&z, Z_FINISH), Z_STREAM_END) << wb;
        api.inflateEnd(&z);
    }
}

TEST_P(Inflate, CopyContinuesIdentically) {
    const Bytes text = sampleText(100000);
    const Bytes packed = compressWith(text, 6, 31);
    z_stream z{};
    ASSERT_EQ(api.inflateInit2(&z, 31), Z_OK);
    Bytes out(text.size()), out2(text.size());
    z.next_in = const_cast<Bytef*>(packed.data());
    z.avail_in = uInt(packed.size() / 3);
    z.next_out = out.data();
    z.avail_out = 40000;
    ASSERT_EQ(api.inflate(&z, Z_NO_FLUSH), Z_OK);
    z_stream c{};
    ASSERT_EQ(api.inflateCopy(&c, &z), Z_OK);
    const std::size_t done = z.total_out;
    std::memcpy(out2.data(), out.data(), done);
    for (z_stream* s : {&z, &c}) {
        s->avail_in = uInt(packed.size() - (s->next_in - packed.data()));
        s->next_out = (s == &z ? out.data() : out2.data()) + done;
        s->avail_out = uInt(text.size() - done);
        EXPECT_EQ(api.inflate(s, Z_FINISH), Z_STREAM_END);
    }
    api.inflateEnd(&z);  // the copy owns its own memory
    EXPECT_TRUE(out == text);
    EXPECT_TRUE(out2 == text);
    EXPECT_EQ(c.adler, crc32(0, text.data(), uInt(text.size())));
    EXPECT_EQ(api.inflateEnd(&c), Z_OK);
}

// An allocator that fails after a number of successful calls.
struct Budget {
    int left;
};
voidpf budgetAlloc(voidpf opaque, uInt items, uInt size) {
    auto* b = static_cast<Budget*>(opaque);
    if (b->left-- <= 0) return nullptr;
    return std::calloc(items, size);
}
void budgetFree(voidpf, voidpf p) {
    std::free(p);
}

TEST_P(Inflate, FailingAllocatorGivesMemError) {
    const Bytes text = sampleText(50000);
    const Bytes packed = compressWith(text, 6, 15);
    for (int budget = 0; budget < 3; ++budget) {
        Budget b{budget};
        z_stream z{};
        z.zalloc = budgetAlloc;
        z.zfree = budgetFree;
        z.opaque = &b;
        int ret = api.inflateInit(&z);
        if (budget == 0) {
            EXPECT_EQ(ret, Z_MEM_ERROR);
            continue;
        }
        ASSERT_EQ(ret, Z_OK);
        Bytes out(text.size());
        z.next_in = const_cast<Bytef*>(packed.data());
        z.avail_in = 1000;
        z.next_out = out.data();
        z.avail_out = uInt(out.size());
        ret = api.inflate(&z, Z_NO_FLUSH);  // the window is made when a call that produced output returns
        EXPECT_EQ(ret, budget == 1 ? Z_MEM_ERROR : Z_OK) << budget;
        z_stream c{};
        if (budget == 2) EXPECT_EQ(api.inflateCopy(&c, &z), Z_MEM_ERROR);
        EXPECT_EQ(api.inflateEnd(&z), Z_OK);
    }
}

// ---- Differential: ours against the system's zlib --------------------------------------------------------------

// Streams of the system's zlib at every level and strategy, wrappers, window sizes and random flushes, decoded by
// ours in random pieces.
TEST(InflateCross, DecodesSystemStreamsWithRandomFlushesAndPieces) {
    SCOPED_TRACE(kel::test::seedNote());
    auto rng = kel::test::makeRng(1);
    const Bytes text = kel::test::readCorpusFile("lcet10.txt");
    const Bytes binary = kel::test::readCorpusFile("kppkn.gtb");
    const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
    const int flushes[] = {Z_NO_FLUSH, Z_SYNC_FLUSH, Z_FULL_FLUSH, Z_PARTIAL_FLUSH, Z_BLOCK};
    for (int round = 0; round < 60; ++round) {
        const Bytes& src = round % 2 ? text : binary;
        const std::size_t start = rng() % (src.size() / 2), len = rng() % 150000;
        const Bytes data(src.begin() + start, src.begin() + std::min(src.size(), start + len));
        const int level = int(rng() % 10), strategy = strategies[rng() % 5];
        const int bits = 9 + int(rng() % 7), wrapper = int(rng() % 3);
        const int windowBits = wrapper == 0 ? -bits : wrapper == 1 ? bits : bits + 16;
        z_stream d{};
        ASSERT_EQ(deflateInit2(&d, level, Z_DEFLATED, windowBits, 1 + int(rng() % 9), strategy), Z_OK);
        Bytes packed(deflateBound(&d, data.size()) + 1000 + data.size() / 10);
        d.next_out = packed.data();
        d.avail_out = uInt(packed.size());
        std::size_t pos = 0;
        while (pos < data.size()) {
            const std::size_t n = std::min<std::size_t>(1 + rng() % 20000, data.size() - pos);
            d.next_in = const_cast<Bytef*>(data.data() + pos);
            d.avail_in = uInt(n);
            ASSERT_EQ(deflate(&d, flushes[rng() % 5]), Z_OK);
            pos += n;
        }
        ASSERT_EQ(deflate(&d, Z_FINISH), Z_STREAM_END);
        packed.resize(d.total_out);
        deflateEnd(&d);
        SCOPED_TRACE("round " + std::to_string(round));
        const std::size_t inPiece = 1 + rng() % (rng() % 2 ? 64 : 70000), outPiece = 1 + rng() % 70000;
        const Outcome o = decode(kelZlib(), packed, rng() % 2 && wrapper ? 47 : windowBits, inPiece, outPiece);
        EXPECT_EQ(o.ret, Z_STREAM_END);
        EXPECT_TRUE(o.out == data);
        EXPECT_EQ(o.totalIn, packed.size());
    }
}

// Damaged streams: both libraries give the same return code and message, whole and in small pieces.
TEST(InflateCross, DamagedStreamsGetZlibsCodeAndMessage) {
    SCOPED_TRACE(kel::test::seedNote());
    auto rng = kel::test::makeRng(2);
    const Bytes text = sampleText(30000);
    std::vector<std::pair<Bytes, int>> cases;
    // Crafted: header damage, bad block types, stored lengths, code sets, distances, check values.
    const Bytes zlib15 = compressWith(text, 6, 15), gzip = compressWith(text, 6, 31), raw = compressWith(text, 9, -15);
    cases.push_back({{0x78, 0x9d}, 15});                    // header check
    cases.push_back({{0x79, 0x9c - 0x1f}, 15});             // method 9
    cases.push_back({{0x88, 0x98}, 15});                    // window 16 KiB * 16
    cases.push_back({{0x1f, 0x8b, 9, 0, 0, 0, 0, 0}, 31});  // gzip method
    cases.push_back({{0x1f, 0x8b, 8, 0xe0, 0, 0, 0, 0}, 31});
    cases.push_back({{0x07}, -15});                          // block type 3
    cases.push_back({{0x01, 0x05, 0x00, 0xfb, 0xff}, -15});  // stored lengths mismatch
    cases.push_back({{0x05, 0xe0}, -15});                    // hlit 286+, too many symbols
    cases.push_back({{0x04, 0x00, 0xfe, 0xff}, -15});        // dynamic: code-length code empty
    cases.push_back({{0x03, 0xff, 0xff}, -15});              // fixed: literal/length 287? and more
    cases.push_back({{0x63, 0x00, 0x42, 0x00}, -15});        // fixed: a distance before the start
    Bytes g = gzip;
    g[3] = 2;  // FHCRC with no CRC present
    cases.push_back({g, 31});
    Bytes z = zlib15;
    z[z.size() - 2] ^= 0x10;
    cases.push_back({z, 15});
    g = gzip;
    g[g.size() - 2] ^= 1;
    cases.push_back({g, 31});
    // Mutations and truncations of real streams.
    for (int i = 0; i < 1500; ++i) {
        const int kind = i % 3;
        Bytes m = kind == 0 ? zlib15 : kind == 1 ? gzip : raw;
        const int wb = kind == 0 ? 15 : kind == 1 ? 31 : -15;
        const std::size_t limit = std::min<std::size_t>(m.size(), 200 + (i % 5 == 0 ? m.size() : 0));
        const int flips = 1 + int(rng() % 3);
        for (int f = 0; f < flips; ++f) m[rng() % limit] ^= Byte(1u << (rng() % 8));
        if (i % 7 == 0) m.resize(rng() % m.size());
        cases.push_back({m, wb});
    }
    int differing = 0;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto& [input, wb] = cases[i];
        // Whole; small input pieces; and, for some, small output rooms as well (every call then starts with its
        // history in the window).
        for (const auto& [piece, room] : {std::pair{input.size() + 1, std::size_t(65536)},
                                          {std::size_t(7), std::size_t(65536)},
                                          {std::size_t(301), std::size_t(i < 300 ? 333 : 0)}}) {
            if (room == 0) continue;
            const Outcome sys = decode(systemZlib(), input, wb, piece, room);
            const Outcome ours = decode(kelZlib(), input, wb, piece, room);
            if (sys.ret != ours.ret || sys.msg != ours.msg) {
                if (++differing < 10)
                    ADD_FAILURE() << "case " << i << " piece " << piece << ": zlib " << sys.ret << " '" << sys.msg
                                  << "', kel " << ours.ret << " '" << ours.msg << "'";
            }
            if (sys.ret == Z_STREAM_END) EXPECT_TRUE(sys.out == ours.out) << i;
        }
    }
    EXPECT_EQ(differing, 0);
}

// The same call pattern with Z_BLOCK and Z_TREES gives the same return codes, data_type and totals.
TEST(InflateCross, BlockStopsMatchZlib) {
    auto rng = kel::test::makeRng(3);
    const Bytes text = sampleText(120000);
    for (int wb : {15, -15, 31}) {
        z_stream d{};
        ASSERT_EQ(deflateInit2(&d, 6, Z_DEFLATED, wb, 8, Z_DEFAULT_STRATEGY), Z_OK);
        Bytes packed(200000);
        d.next_out = packed.data();
        d.avail_out = uInt(packed.size());
        for (std::size_t pos = 0; pos < text.size(); pos += 20000) {
            d.next_in = const_cast<Bytef*>(text.data() + pos);
            d.avail_in = 20000;
            ASSERT_EQ(deflate(&d, pos % 40000 ? Z_SYNC_FLUSH : Z_BLOCK), Z_OK);
        }
        ASSERT_EQ(deflate(&d, Z_FINISH), Z_STREAM_END);
        packed.resize(d.total_out);
        deflateEnd(&d);
        for (int flush : {Z_BLOCK, Z_TREES}) {
            std::vector<std::vector<long>> trace[2];
            const ZlibApi* apis[2] = {&systemZlib(), &kelZlib()};
            for (int k = 0; k < 2; ++k) {
                const ZlibApi& api = *apis[k];
                z_stream z{};
                ASSERT_EQ(api.inflateInit2(&z, wb), Z_OK);
                Bytes out(text.size());
                z.next_in = packed.data();
                z.avail_in = uInt(packed.size());
                z.next_out = out.data();
                z.avail_out = uInt(out.size());
                int ret;
                do {
                    ret = api.inflate(&z, flush);
                    trace[k].push_back({ret, z.data_type, long(z.total_in), long(z.total_out), long(z.adler)});
                } while (ret == Z_OK);
                api.inflateEnd(&z);
            }
            EXPECT_EQ(trace[0], trace[1]) << wb << " " << flush;
        }
    }
}

TEST(InflateCross, InflateBackMatchesZlib) {
    struct Sink {
        Bytes data;
        int failAfter = -1;
    };
    struct Source {
        const Bytes* data;
        std::size_t pos = 0, piece = 0;
    };
    auto in = [](void* desc, unsigned char** buf) -> unsigned {
        auto* s = static_cast<Source*>(desc);
        const std::size_t n = std::min(s->piece, s->data->size() - s->pos);
        *buf = const_cast<unsigned char*>(s->data->data() + s->pos);
        s->pos += n;
        return unsigned(n);
    };
    auto out = [](void* desc, unsigned char* buf, unsigned len) -> int {
        auto* s = static_cast<Sink*>(desc);
        if (s->failAfter == 0) return 1;
        --s->failAfter;
        s->data.insert(s->data.end(), buf, buf + len);
        return 0;
    };
    const Bytes text = sampleText(150000);
    Bytes good = compressWith(text, 6, -15), bad = good;
    bad[bad.size() / 2] ^= 0x20;
    Bytes shortStream(good.begin(), good.begin() + good.size() / 2);
    for (const Bytes* input : {&good, &bad, &shortStream}) {
        for (std::size_t piece : {std::size_t(1), std::size_t(1000), input->size()}) {
            for (int failAfter : {-1, 1}) {
                Outcome got[2];
                std::size_t used[2];
                const ZlibApi* apis[2] = {&systemZlib(), &kelZlib()};
                for (int k = 0; k < 2; ++k) {
                    std::vector<unsigned char> window(1 << 15);
                    z_stream z{};
                    ASSERT_EQ(apis[k]->inflateBackInit_(&z, 15, window.data(), ZLIB_VERSION, int(sizeof(z_stream))),
                              Z_OK);
                    Source src{input, 0, piece};
                    Sink sink;
                    sink.failAfter = failAfter;
                    z.next_in = nullptr;
                    got[k].ret = apis[k]->inflateBack(&z, in, &src, out, &sink);
                    got[k].msg = z.msg ? z.msg : "";
                    got[k].out = sink.data;
                    used[k] = z.next_in ? src.pos - z.avail_in : std::size_t(-1);
                    EXPECT_EQ(apis[k]->inflateBackEnd(&z), Z_OK);
                }
                EXPECT_EQ(got[0].ret, got[1].ret) << piece;
                EXPECT_EQ(got[0].msg, got[1].msg) << piece;
                if (got[0].ret != Z_DATA_ERROR) EXPECT_TRUE(got[0].out == got[1].out) << piece;
                if (got[0].ret == Z_STREAM_END) EXPECT_EQ(used[0], used[1]);
            }
        }
    }
}

TEST(InflateCross, UncompressMatchesZlib) {
    const Bytes text = sampleText(60000);
    const Bytes packed = compressWith(text, 6, 15);
    Bytes padded = packed;
    padded.insert(padded.end(), {1, 2, 3});
    for (const Bytes* input : {&packed, static_cast<const Bytes*>(&padded)}) {
        for (std::size_t room : {text.size(), text.size() - 1, std::size_t(0)}) {
            for (std::size_t cut : {input->size(), input->size() - 5, std::size_t(1)}) {
                int ret[2];
                uLong used[2], made[2];
                const ZlibApi* apis[2] = {&systemZlib(), &kelZlib()};
                for (int k = 0; k < 2; ++k) {
                    Bytes out(room + 1);
                    uLongf destLen = room;
                    uLong sourceLen = cut;
                    ret[k] = apis[k]->uncompress2(out.data(), &destLen, input->data(), &sourceLen);
                    used[k] = sourceLen;
                    made[k] = destLen;
                }
                EXPECT_EQ(ret[0], ret[1]) << room << " " << cut;
                EXPECT_EQ(used[0], used[1]) << room << " " << cut;
                EXPECT_EQ(made[0], made[1]) << room << " " << cut;
            }
        }
    }
}

}  // namespace

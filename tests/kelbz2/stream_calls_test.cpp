// tests/kelbz2/stream_calls_test.cpp - libbz2's stream calls (BZ2_bzCompress*, BZ2_bzDecompress*): every body runs
// against the system's libbz2 and libkelbz2, so the system library proves that each expectation is libbz2's.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/bzlib_api.h"
#include "support/test_util.h"

namespace {

using kel::test::BzlibApi;
using Bytes = std::vector<std::uint8_t>;

class BzStream : public ::testing::TestWithParam<const BzlibApi*> {
protected:
    const BzlibApi& api() const { return *GetParam(); }

    static void point(bz_stream& s, const void* in, unsigned inLen, void* out, unsigned outLen) {
        s.next_in = static_cast<char*>(const_cast<void*>(in));
        s.avail_in = inLen;
        s.next_out = static_cast<char*>(out);
        s.avail_out = outLen;
    }

    // One stream written with the system's libbz2, the reference every decoder must read.
    static Bytes systemCompress(const Bytes& data, int blockSize100k = 9) {
        unsigned len = static_cast<unsigned>(data.size() + data.size() / 100 + 600);
        Bytes out(len);
        const int r = BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &len,
                                               const_cast<char*>(reinterpret_cast<const char*>(data.data())),
                                               static_cast<unsigned>(data.size()), blockSize100k, 0, 0);
        EXPECT_EQ(r, BZ_OK);
        out.resize(len);
        return out;
    }

    // Decodes one stream fed in pieces of inStep bytes into room of outStep bytes per call; the result code of the
    // last call is in *last and the input left unconsumed after the end in *unused.
    Bytes decodePieces(const Bytes& src, std::size_t inStep, std::size_t outStep, int* last, std::size_t* unused) {
        bz_stream s{};
        EXPECT_EQ(api().BZ2_bzDecompressInit(&s, 0, 0), BZ_OK);
        Bytes out;
        std::size_t pos = 0;
        int r = BZ_OK;
        for (int guard = 0; guard < 50000000; ++guard) {
            const std::size_t n = std::min(inStep, src.size() - pos);
            std::uint8_t room[4096];
            point(s, src.data() + pos, static_cast<unsigned>(n), room, static_cast<unsigned>(outStep));
            r = api().BZ2_bzDecompress(&s);
            pos += n - s.avail_in;
            out.insert(out.end(), room, room + (outStep - s.avail_out));
            if (r != BZ_OK) break;
            if (n == 0 && s.avail_out == outStep) break;  // no input left and no output made
        }
        *last = r;
        *unused = src.size() - pos;
        EXPECT_EQ(s.total_in_lo32, pos);
        EXPECT_EQ(s.total_out_lo32, out.size());
        EXPECT_EQ(api().BZ2_bzDecompressEnd(&s), BZ_OK);
        return out;
    }
};

Bytes textSample(std::size_t n) {
    Bytes v(n);
    const char* words[] = {"stream ", "block ", "bzip ", "aaaaaaaa", "\n", "Huffman ", "run "};
    auto rng = kel::test::makeRng(7);
    std::size_t i = 0;
    while (i < n) {
        const char* w = words[rng() % 7];
        for (std::size_t k = 0; w[k] && i < n; ++k) v[i++] = static_cast<std::uint8_t>(w[k]);
    }
    return v;
}

TEST_P(BzStream, InitRejectsParametersOutOfRange) {
    bz_stream s{};
    EXPECT_EQ(api().BZ2_bzCompressInit(nullptr, 9, 0, 0), BZ_PARAM_ERROR);
    EXPECT_EQ(api().BZ2_bzCompressInit(&s, 0, 0, 0), BZ_PARAM_ERROR);
    EXPECT_EQ(api().BZ2_bzCompressInit(&s, 10, 0, 0), BZ_PARAM_ERROR);
    EXPECT_EQ(api().BZ2_bzCompressInit(&s, 9, 0, 251), BZ_PARAM_ERROR);
    EXPECT_EQ(api().BZ2_bzCompressInit(&s, 9, 0, -1), BZ_PARAM_ERROR);
    EXPECT_EQ(api().BZ2_bzDecompressInit(nullptr, 0, 0), BZ_PARAM_ERROR);
    EXPECT_EQ(api().BZ2_bzDecompressInit(&s, 0, 2), BZ_PARAM_ERROR);
    EXPECT_EQ(api().BZ2_bzDecompressInit(&s, 5, 0), BZ_PARAM_ERROR);
    EXPECT_EQ(api().BZ2_bzDecompressInit(&s, -1, 0), BZ_PARAM_ERROR);
    // Verbosity is not checked by the compressor, and work factors 0-250 are accepted.
    ASSERT_EQ(api().BZ2_bzCompressInit(&s, 1, 4, 250), BZ_OK);
    EXPECT_NE(s.bzalloc, nullptr);  // the default hooks are filled in where the caller left them null
    EXPECT_NE(s.bzfree, nullptr);
    EXPECT_EQ(api().BZ2_bzCompressEnd(&s), BZ_OK);
    EXPECT_EQ(api().BZ2_bzCompressEnd(&s), BZ_PARAM_ERROR);
    EXPECT_EQ(s.state, nullptr);
    ASSERT_EQ(api().BZ2_bzDecompressInit(&s, 0, 1), BZ_OK);
    EXPECT_EQ(api().BZ2_bzDecompressEnd(&s), BZ_OK);
    EXPECT_EQ(api().BZ2_bzDecompressEnd(&s), BZ_PARAM_ERROR);
    EXPECT_EQ(api().BZ2_bzDecompress(&s), BZ_PARAM_ERROR);
    EXPECT_EQ(api().BZ2_bzCompress(nullptr, BZ_RUN), BZ_PARAM_ERROR);
    EXPECT_EQ(api().BZ2_bzDecompress(nullptr), BZ_PARAM_ERROR);
}

TEST_P(BzStream, CopiedStreamIsRejected) {
    bz_stream s{};
    ASSERT_EQ(api().BZ2_bzCompressInit(&s, 9, 0, 0), BZ_OK);
    bz_stream copy = s;
    char in[3] = {1, 2, 3}, out[100];
    point(copy, in, 3, out, 100);
    EXPECT_EQ(api().BZ2_bzCompress(&copy, BZ_RUN), BZ_PARAM_ERROR);
    EXPECT_EQ(api().BZ2_bzCompressEnd(&s), BZ_OK);
}

// The codes of every mode and action: running, flushing, finishing and after the end, including calls without
// room and calls that change avail_in in the middle of a flush or finish.
TEST_P(BzStream, CompressReturnCodesFollowTheMode) {
    const Bytes in = textSample(1000);
    Bytes out(20000);
    bz_stream s{};
    ASSERT_EQ(api().BZ2_bzCompressInit(&s, 9, 0, 0), BZ_OK);
    point(s, in.data(), 0, out.data(), 20000);
    EXPECT_EQ(api().BZ2_bzCompress(&s, BZ_RUN), BZ_PARAM_ERROR);  // no progress possible
    s.avail_in = 10;
    EXPECT_EQ(api().BZ2_bzCompress(&s, BZ_RUN), BZ_RUN_OK);
    EXPECT_EQ(s.avail_in, 0u);
    EXPECT_EQ(s.total_in_lo32, 10u);
    s.avail_out = 0;
    s.avail_in = 10;
    EXPECT_EQ(api().BZ2_bzCompress(&s, BZ_RUN), BZ_RUN_OK);  // input is taken without room
    EXPECT_EQ(s.avail_in, 0u);
    EXPECT_EQ(api().BZ2_bzCompress(&s, 7), BZ_PARAM_ERROR);
    s.avail_out = 100;
    EXPECT_EQ(api().BZ2_bzCompress(&s, BZ_FLUSH), BZ_RUN_OK);  // done at once: back to running
    EXPECT_GT(s.total_out_lo32, 20u);
    EXPECT_EQ(api().BZ2_bzCompress(&s, BZ_FLUSH), BZ_RUN_OK);  // nothing new to flush
    s.avail_out = 0;
    s.avail_in = 5;
    EXPECT_EQ(api().BZ2_bzCompress(&s, BZ_FLUSH), BZ_FLUSH_OK);
    EXPECT_EQ(s.avail_in, 0u);
    EXPECT_EQ(api().BZ2_bzCompress(&s, BZ_FLUSH), BZ_FLUSH_OK);  // no progress is no error while flushing
    EXPECT_EQ(api().BZ2_bzCompress(&s, BZ_RUN), BZ_SEQUENCE_ERROR);
    EXPECT_EQ(api().BZ2_bzCompress(&s, BZ_FINISH), BZ_SEQUENCE_ERROR);
    s.avail_in = 1;
    EXPECT_EQ(api().BZ2_bzCompress(&s, BZ_FLUSH), BZ_SEQUENCE_ERROR);  // avail_in changed
    s.avail_in = 0;
    s.avail_out = 3;
    EXPECT_EQ(api().BZ2_bzCompress(&s, BZ_FLUSH), BZ_FLUSH_OK);
    EXPECT_EQ(s.avail_out, 0u);
    s.avail_out = 1000;
    EXPECT_EQ(api().BZ2_bzCompress(&s, BZ_FLUSH), BZ_RUN_OK);
    EXPECT_EQ(api().BZ2_bzCompress(&s, BZ_RUN), BZ_PARAM_ERROR);
    s.avail_in = 5;
    EXPECT_EQ(api().BZ2_bzCompress(&s, BZ_RUN), BZ_RUN_OK);
    s.avail_out = 0;
    EXPECT_EQ(api().BZ2_bzCompress(&s, BZ_FINISH), BZ_SEQUENCE_ERROR);  // finishing without progress
    EXPECT_EQ(api().BZ2_bzCompress(&s, BZ_FINISH), BZ_SEQUENCE_ERROR);
    s.avail_out = 3;
    EXPECT_EQ(api().BZ2_bzCompress(&s, BZ_FINISH), BZ_FINISH_OK);
    s.avail_in = 1;
    EXPECT_EQ(api().BZ2_bzCompress(&s, BZ_FINISH), BZ_SEQUENCE_ERROR);
    s.avail_in = 0;
    EXPECT_EQ(api().BZ2_bzCompress(&s, BZ_FLUSH), BZ_SEQUENCE_ERROR);
    EXPECT_EQ(api().BZ2_bzCompress(&s, BZ_RUN), BZ_SEQUENCE_ERROR);
    s.avail_out = 1000;
    EXPECT_EQ(api().BZ2_bzCompress(&s, BZ_FINISH), BZ_STREAM_END);
    EXPECT_EQ(s.total_in_lo32, 30u);
    const unsigned total = s.total_out_lo32;
    for (int action : {BZ_RUN, BZ_FLUSH, BZ_FINISH}) EXPECT_EQ(api().BZ2_bzCompress(&s, action), BZ_SEQUENCE_ERROR);
    EXPECT_EQ(api().BZ2_bzCompressEnd(&s), BZ_OK);

    // What was written is one stream of those 30 bytes.
    const Bytes expect(in.begin(), in.begin() + 30);
    unsigned len = 100;
    char back[100];
    ASSERT_EQ(BZ2_bzBuffToBuffDecompress(back, &len, reinterpret_cast<char*>(out.data()), total, 0, 0), BZ_OK);
    EXPECT_EQ(Bytes(back, back + len), expect);
}

TEST_P(BzStream, FinishOfEmptyInputWritesAnEmptyStream) {
    char out[100];
    bz_stream s{};
    ASSERT_EQ(api().BZ2_bzCompressInit(&s, 1, 0, 0), BZ_OK);
    point(s, "", 0, out, 0);
    EXPECT_EQ(api().BZ2_bzCompress(&s, BZ_FINISH), BZ_SEQUENCE_ERROR);
    s.avail_out = 1;
    EXPECT_EQ(api().BZ2_bzCompress(&s, BZ_FINISH), BZ_FINISH_OK);
    s.avail_out = 99;
    EXPECT_EQ(api().BZ2_bzCompress(&s, BZ_FINISH), BZ_STREAM_END);
    EXPECT_EQ(s.total_out_lo32, 14u);  // header, end magic and CRC
    EXPECT_EQ(std::memcmp(out, "BZh1\x17\x72\x45\x38\x50\x90\0\0\0\0", 14), 0);
    EXPECT_EQ(api().BZ2_bzCompressEnd(&s), BZ_OK);
}

// Input and room of one byte at a time, in both directions, with a flush every so often.
TEST_P(BzStream, OneByteStepsRoundTrip) {
    const Bytes in = textSample(3000);
    bz_stream s{};
    ASSERT_EQ(api().BZ2_bzCompressInit(&s, 1, 0, 0), BZ_OK);
    Bytes packed;
    std::size_t pos = 0;
    int action = BZ_RUN;
    bool flushed = false;
    for (int r = BZ_RUN_OK; r != BZ_STREAM_END;) {
        if (action == BZ_RUN && pos == 1000 && !flushed) action = BZ_FLUSH, flushed = true;
        if (action == BZ_RUN && pos == in.size()) action = BZ_FINISH;
        char c;
        const unsigned n = action == BZ_RUN && pos < in.size() ? 1 : 0;
        point(s, in.data() + pos, n, &c, 1);
        r = api().BZ2_bzCompress(&s, action);
        ASSERT_TRUE(r == BZ_RUN_OK || r == BZ_FLUSH_OK || r == BZ_FINISH_OK || r == BZ_STREAM_END) << r;
        pos += n - s.avail_in;
        if (s.avail_out == 0) packed.push_back(static_cast<std::uint8_t>(c));
        if (action == BZ_FLUSH && r == BZ_RUN_OK) action = BZ_RUN;
    }
    EXPECT_EQ(pos, in.size());
    EXPECT_EQ(s.total_out_lo32, packed.size());
    EXPECT_EQ(api().BZ2_bzCompressEnd(&s), BZ_OK);

    int last = 0;
    std::size_t unused = 0;
    EXPECT_EQ(decodePieces(packed, 1, 1, &last, &unused), in);
    EXPECT_EQ(last, BZ_STREAM_END);
    EXPECT_EQ(unused, 0u);
}

// The end is reported by the call that delivers the last byte, even when that byte fills the room.
TEST_P(BzStream, StreamEndComesWithTheLastByte) {
    const Bytes in = textSample(1000);
    const Bytes packed = systemCompress(in, 1);
    Bytes out(1000);
    bz_stream s{};
    ASSERT_EQ(api().BZ2_bzDecompressInit(&s, 0, 0), BZ_OK);
    point(s, packed.data(), 0, out.data(), 1000);
    EXPECT_EQ(api().BZ2_bzDecompress(&s), BZ_OK);
    s.avail_in = static_cast<unsigned>(packed.size());
    s.avail_out = 0;
    EXPECT_EQ(api().BZ2_bzDecompress(&s), BZ_OK);
    s.avail_out = 999;
    EXPECT_EQ(api().BZ2_bzDecompress(&s), BZ_OK);
    EXPECT_EQ(s.avail_out, 0u);
    EXPECT_EQ(api().BZ2_bzDecompress(&s), BZ_OK);
    s.avail_out = 1;
    EXPECT_EQ(api().BZ2_bzDecompress(&s), BZ_STREAM_END);
    EXPECT_EQ(s.avail_in, 0u);
    EXPECT_EQ(s.total_in_lo32, packed.size());
    EXPECT_EQ(out, in);
    EXPECT_EQ(api().BZ2_bzDecompress(&s), BZ_SEQUENCE_ERROR);
    EXPECT_EQ(api().BZ2_bzDecompressEnd(&s), BZ_OK);
}

// Each stream ends by itself with next_in just past it; the following stream and other bytes stay unread.
TEST_P(BzStream, StopsAtTheEndOfEachStream) {
    const Bytes a = textSample(5000), b = Bytes(70000, 'x');
    Bytes joined = systemCompress(a, 1);
    const std::size_t first = joined.size();
    const Bytes second = systemCompress(b, 2);
    joined.insert(joined.end(), second.begin(), second.end());
    joined.push_back('!');
    for (std::size_t step : {std::size_t{1}, std::size_t{7}, joined.size()}) {
        SCOPED_TRACE(step);
        int last = 0;
        std::size_t unused = 0;
        EXPECT_EQ(decodePieces(joined, step, 4096, &last, &unused), a);
        EXPECT_EQ(last, BZ_STREAM_END);
        EXPECT_EQ(unused, joined.size() - first);
        const Bytes rest(joined.begin() + static_cast<std::ptrdiff_t>(first), joined.end());
        EXPECT_EQ(decodePieces(rest, step, 4096, &last, &unused), b);
        EXPECT_EQ(last, BZ_STREAM_END);
        EXPECT_EQ(unused, 1u);
    }
}

// Input that is not bzip2 is BZ_DATA_ERROR_MAGIC at its first wrong header byte; faults after the header are
// BZ_DATA_ERROR; a stream that stops short is BZ_OK waiting for more.
TEST_P(BzStream, DamagedInputCodes) {
    struct Case {
        const char* bytes;
        unsigned len;
        int code;
    };
    const Case cases[] = {
        {"X", 1, BZ_DATA_ERROR_MAGIC},
        {"Bx", 2, BZ_DATA_ERROR_MAGIC},
        {"BZ", 2, BZ_OK},
        {"BZx", 3, BZ_DATA_ERROR_MAGIC},
        {"BZh0", 4, BZ_DATA_ERROR_MAGIC},
        {"BZh:", 4, BZ_DATA_ERROR_MAGIC},
        {"BZh9", 4, BZ_OK},
        {"BZh91AY&SX", 10, BZ_DATA_ERROR},
        {"BZh9\x17\x72\x45\x38\x50\x90\0\0\0\0", 14, BZ_STREAM_END},
        {"BZh9\x17\x72\x45\x38\x50\x90\0\0\0\1", 14, BZ_DATA_ERROR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.bytes, c.len));
        bz_stream s{};
        char out[100];
        ASSERT_EQ(api().BZ2_bzDecompressInit(&s, 0, 0), BZ_OK);
        point(s, c.bytes, c.len, out, 100);
        EXPECT_EQ(api().BZ2_bzDecompress(&s), c.code);
        if (c.code != BZ_OK) EXPECT_EQ(s.avail_in, 0u);
        EXPECT_EQ(api().BZ2_bzDecompressEnd(&s), BZ_OK);
    }

    const Bytes in = textSample(20000);
    const Bytes packed = systemCompress(in, 1);
    auto rng = kel::test::makeRng(11);
    for (int trial = 0; trial < 200; ++trial) {
        Bytes bad = packed;
        const std::size_t at = 4 + rng() % (bad.size() - 4);
        bad[at] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
        SCOPED_TRACE(at);
        int last = 0;
        std::size_t unused = 0;
        const Bytes out = decodePieces(bad, bad.size(), 4096, &last, &unused);
        EXPECT_TRUE(last == BZ_DATA_ERROR || (last == BZ_OK && unused == 0)) << last;
    }
    for (std::size_t cut = 1; cut < packed.size(); cut += 97) {
        int last = 0;
        std::size_t unused = 0;
        decodePieces(Bytes(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(cut)), 4096, 4096, &last,
                     &unused);
        EXPECT_EQ(last, BZ_OK) << cut;
    }
}

// A wrong block CRC repeats; after a wrong stream CRC the stream is over.
TEST_P(BzStream, ErrorsAfterCrcMismatches) {
    const Bytes in = textSample(1000);
    Bytes packed = systemCompress(in, 1);
    char out[2000];
    bz_stream s{};
    packed[10] ^= 1;  // the block CRC
    ASSERT_EQ(api().BZ2_bzDecompressInit(&s, 0, 0), BZ_OK);
    point(s, packed.data(), static_cast<unsigned>(packed.size()), out, 2000);
    EXPECT_EQ(api().BZ2_bzDecompress(&s), BZ_DATA_ERROR);
    EXPECT_EQ(s.total_out_lo32, 1000u);  // the block's bytes are out before its CRC is compared
    EXPECT_EQ(api().BZ2_bzDecompress(&s), BZ_DATA_ERROR);
    EXPECT_EQ(api().BZ2_bzDecompressEnd(&s), BZ_OK);
    packed[10] ^= 1;
    packed[packed.size() - 2] ^= 1;  // the stream CRC
    ASSERT_EQ(api().BZ2_bzDecompressInit(&s, 0, 0), BZ_OK);
    point(s, packed.data(), static_cast<unsigned>(packed.size()), out, 2000);
    EXPECT_EQ(api().BZ2_bzDecompress(&s), BZ_DATA_ERROR);
    EXPECT_EQ(api().BZ2_bzDecompress(&s), BZ_SEQUENCE_ERROR);
    EXPECT_EQ(api().BZ2_bzDecompressEnd(&s), BZ_OK);
}

// Random data through every block size with random piece sizes, room and flush points; the system's libbz2
// reads what each implementation writes.
TEST_P(BzStream, RandomPiecesRoundTrip) {
    auto rng = kel::test::makeRng(3);
    SCOPED_TRACE(kel::test::seedNote());
    for (int level = 1; level <= 9; ++level) {
        Bytes in = rng() % 2 ? textSample(150000 + rng() % 200000) : kel::test::randomBytes(rng, 120000);
        bz_stream s{};
        ASSERT_EQ(api().BZ2_bzCompressInit(&s, level, 0, 0), BZ_OK);
        Bytes packed;
        std::size_t pos = 0;
        int action = BZ_RUN;
        std::size_t flushEnd = 0;  // a flush or finish is given the input up to here, as one piece
        for (int r = 0; r != BZ_STREAM_END;) {
            if (action == BZ_RUN && rng() % 16 == 0) {
                action = BZ_FLUSH;
                flushEnd = std::min(pos + rng() % 3000, in.size());
            }
            if (action == BZ_RUN && pos == in.size()) {
                action = BZ_FINISH;
                flushEnd = in.size();
            }
            const std::size_t n =
                action == BZ_RUN ? std::min<std::size_t>(rng() % 40000 + 1, in.size() - pos) : flushEnd - pos;
            std::uint8_t room[20000];
            const unsigned roomLen = static_cast<unsigned>(rng() % sizeof room + 1);
            point(s, in.data() + pos, static_cast<unsigned>(n), room, roomLen);
            r = api().BZ2_bzCompress(&s, action);
            ASSERT_TRUE(r == BZ_RUN_OK || r == BZ_FLUSH_OK || r == BZ_FINISH_OK || r == BZ_STREAM_END) << r;
            pos += n - s.avail_in;
            packed.insert(packed.end(), room, room + (roomLen - s.avail_out));
            if (action == BZ_FLUSH && r == BZ_RUN_OK) action = BZ_RUN;
        }
        EXPECT_EQ(api().BZ2_bzCompressEnd(&s), BZ_OK);
        ASSERT_EQ(packed[3], '0' + level);
        unsigned len = static_cast<unsigned>(in.size());
        Bytes back(len);
        ASSERT_EQ(BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(back.data()), &len,
                                             reinterpret_cast<char*>(packed.data()),
                                             static_cast<unsigned>(packed.size()), 0, 0),
                  BZ_OK)
            << level;
        EXPECT_EQ(back, in) << level;
        int last = 0;
        std::size_t unused = 0;
        EXPECT_EQ(decodePieces(packed, rng() % 5000 + 1, rng() % 4096 + 1, &last, &unused), in);
        EXPECT_EQ(last, BZ_STREAM_END);
    }
}

// An allocator that fails after a given number of calls: every failure is BZ_MEM_ERROR, and what was allocated is
// given back.
struct FailingAllocator {
    int allowed;
    int live = 0;
    static void* alloc(void* opaque, int n, int m) {
        auto* a = static_cast<FailingAllocator*>(opaque);
        if (a->allowed-- <= 0) return nullptr;
        ++a->live;
        return std::malloc(static_cast<std::size_t>(n) * static_cast<std::size_t>(m));
    }
    static void release(void* opaque, void* p) {
        if (!p) return;
        --static_cast<FailingAllocator*>(opaque)->live;
        std::free(p);
    }
};

TEST_P(BzStream, AllocationFailuresAreMemErrors) {
    const Bytes in = textSample(300000);
    const Bytes packed = systemCompress(in, 2);
    for (int allowed = 0; allowed < 40; ++allowed) {
        SCOPED_TRACE(allowed);
        FailingAllocator fa{allowed};
        bz_stream s{};
        s.bzalloc = FailingAllocator::alloc;
        s.bzfree = FailingAllocator::release;
        s.opaque = &fa;
        int r = api().BZ2_bzCompressInit(&s, 2, 0, 0);
        ASSERT_TRUE(r == BZ_OK || r == BZ_MEM_ERROR) << r;
        if (r == BZ_OK) {
            Bytes out(400000);
            point(s, in.data(), static_cast<unsigned>(in.size()), out.data(), 400000);
            r = api().BZ2_bzCompress(&s, BZ_FINISH);
            EXPECT_TRUE(r == BZ_STREAM_END || r == BZ_MEM_ERROR) << r;
            EXPECT_EQ(api().BZ2_bzCompressEnd(&s), BZ_OK);
        }
        EXPECT_EQ(fa.live, 0);

        fa = FailingAllocator{allowed};
        s = bz_stream{};
        s.bzalloc = FailingAllocator::alloc;
        s.bzfree = FailingAllocator::release;
        s.opaque = &fa;
        r = api().BZ2_bzDecompressInit(&s, 0, 0);
        ASSERT_TRUE(r == BZ_OK || r == BZ_MEM_ERROR) << r;
        if (r == BZ_OK) {
            Bytes out(in.size());
            point(s, packed.data(), static_cast<unsigned>(packed.size()), out.data(), static_cast<unsigned>(in.size()));
            r = api().BZ2_bzDecompress(&s);
            EXPECT_TRUE(r == BZ_STREAM_END || r == BZ_MEM_ERROR) << r;
            EXPECT_EQ(api().BZ2_bzDecompressEnd(&s), BZ_OK);
        }
        EXPECT_EQ(fa.live, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Both, BzStream, ::testing::Values(&kel::test::systemBzlib(), &kel::test::kelBzlib()),
                         kel::test::BzlibApiName());

}  // namespace

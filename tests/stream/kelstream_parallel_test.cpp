// tests/stream/kelstream_parallel_test.cpp - compression and member decompression on several threads: the output
// of the parallel compressor decodes with the peers (zlib, libbz2, LZ4F) to the input, and the parallel decoder
// gives the output and result of the one-thread decoder on valid, concatenated, damaged, truncated and padded
// input.
#include <gtest/gtest.h>

#include <bzlib.h>
#include <lz4frame.h>
#include <pthread.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "support/kelstream_util.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using kel::test::runStream;

std::uint32_t testSeed() {
    const char* s = std::getenv("KEL_TEST_SEED");
    return s ? std::uint32_t(std::strtoul(s, nullptr, 10)) : 20261208u;
}

Bytes readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// The text and binary files of the bench corpus, one after another.
const Bytes& corpus() {
    static const Bytes all = [] {
        Bytes b;
        for (const char* name : {"alice29.txt", "html", "kppkn.gtb", "paper-100k.pdf", "urls.10K", "geo.protodata",
                                 "fireworks.jpeg", "lcet10.txt"}) {
            Bytes f = readFile(std::string(KEL_DATA_DIR) + "/" + name);
            b.insert(b.end(), f.begin(), f.end());
        }
        return b;
    }();
    return all;
}

// The corpus repeated up to n bytes.
Bytes corpusOf(std::size_t n) {
    const Bytes& c = corpus();
    Bytes b;
    b.reserve(n);
    while (b.size() < n) b.insert(b.end(), c.begin(), c.begin() + std::min(c.size(), n - b.size()));
    return b;
}

KelStreamOptions threaded(int threads, int level = 0) {
    KelStreamOptions o = kel::test::defaultStreamOptions();
    o.threads = threads;
    o.level = level;
    return o;
}

// ----------------------------------------------- Peer decoders -----------------------------------------------

// zlib over every member; false on any error or on bytes left over.
bool zlibGunzip(const Bytes& in, Bytes& out) {
    out.clear();
    z_stream z{};
    if (inflateInit2(&z, 15 + 16) != Z_OK) return false;
    z.next_in = const_cast<Bytes::value_type*>(in.data());
    z.avail_in = uInt(in.size());
    std::vector<std::uint8_t> buf(1 << 16);
    bool ok = true;
    for (;;) {
        z.next_out = buf.data();
        z.avail_out = uInt(buf.size());
        int r = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), buf.begin(), buf.begin() + (buf.size() - z.avail_out));
        if (r == Z_STREAM_END) {
            if (z.avail_in == 0) break;
            inflateReset(&z);
            continue;
        }
        if (r != Z_OK || (z.avail_in == 0 && z.avail_out != 0)) {
            ok = false;
            break;
        }
    }
    inflateEnd(&z);
    return ok;
}

bool bz2Decode(const Bytes& in, Bytes& out) {
    out.clear();
    std::size_t pos = 0;
    std::vector<char> buf(1 << 16);
    do {
        bz_stream b{};
        if (BZ2_bzDecompressInit(&b, 0, 0) != BZ_OK) return false;
        b.next_in = reinterpret_cast<char*>(const_cast<std::uint8_t*>(in.data() + pos));
        b.avail_in = unsigned(in.size() - pos);
        int r;
        do {
            b.next_out = buf.data();
            b.avail_out = unsigned(buf.size());
            r = BZ2_bzDecompress(&b);
            out.insert(out.end(), buf.begin(), buf.begin() + (buf.size() - b.avail_out));
        } while (r == BZ_OK && (b.avail_in > 0 || b.avail_out == 0));
        pos = in.size() - b.avail_in;
        BZ2_bzDecompressEnd(&b);
        if (r != BZ_STREAM_END) return false;
    } while (pos < in.size());
    return true;
}

bool lz4fDecode(const Bytes& in, Bytes& out) {
    out.clear();
    LZ4F_dctx* d = nullptr;
    if (LZ4F_isError(LZ4F_createDecompressionContext(&d, LZ4F_VERSION))) return false;
    std::size_t pos = 0;
    std::vector<std::uint8_t> buf(1 << 16);
    std::size_t hint = 1;
    while (pos < in.size()) {
        std::size_t srcLen = in.size() - pos, dstLen = buf.size();
        hint = LZ4F_decompress(d, buf.data(), &dstLen, in.data() + pos, &srcLen, nullptr);
        if (LZ4F_isError(hint)) break;
        pos += srcLen;
        out.insert(out.end(), buf.begin(), buf.begin() + dstLen);
    }
    LZ4F_freeDecompressionContext(d);
    return !LZ4F_isError(hint) && hint == 0 && pos == in.size();
}

bool peerDecode(KelStreamFormat f, const Bytes& in, Bytes& out) {
    if (f == kelFormatGzip) return zlibGunzip(in, out);
    if (f == kelFormatBzip2) return bz2Decode(in, out);
    return lz4fDecode(in, out);
}

// One complete gzip member made by zlib.
Bytes zlibGzip(const Bytes& in, int level) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    Bytes out(deflateBound(&z, uLong(in.size())) + 64);
    z.next_in = const_cast<std::uint8_t*>(in.data());
    z.avail_in = uInt(in.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes b;
    for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
    return b;
}

// ---------------------------------------------- Compression ----------------------------------------------

// Every thread count, random piece sizes in both directions, the peer restores the input; the size stays within
// a fraction of a percent of the one-thread stream's.
void checkCompressesLikeOneThread(KelStreamFormat f, const Bytes& data, int level, std::size_t maxPiece) {
    auto one = runStream(f, kelCompress, data, nullptr, 0);
    ASSERT_EQ(one.result, kelStreamEnd);
    KelStreamOptions base = threaded(1, level);
    one = runStream(f, kelCompress, data, &base, 0);
    for (int threads : {2, 3, 8}) {
        SCOPED_TRACE("threads " + std::to_string(threads));
        KelStreamOptions o = threaded(threads, level);
        auto run = runStream(f, kelCompress, data, &o, maxPiece, testSeed() + std::uint32_t(threads));
        ASSERT_EQ(run.result, kelStreamEnd) << run.message;
        EXPECT_EQ(run.consumed, data.size());
        Bytes back;
        ASSERT_TRUE(peerDecode(f, run.out, back));
        ASSERT_TRUE(back == data);
        EXPECT_LE(double(run.out.size()), double(one.out.size()) * 1.01 + 64);
    }
}

TEST(ParallelCompress, GzipDecodesWithZlibAndStaysCloseToOneThread) {
    checkCompressesLikeOneThread(kelFormatGzip, corpusOf(20u << 20), 0, 0);
    checkCompressesLikeOneThread(kelFormatGzip, corpusOf(3u << 20), 1, 300000);
}

TEST(ParallelCompress, Lz4DecodesWithLz4fAndStaysCloseToOneThread) {
    checkCompressesLikeOneThread(kelFormatLz4, corpusOf(20u << 20), 0, 0);
    checkCompressesLikeOneThread(kelFormatLz4, corpusOf(3u << 20), 0, 300000);
}

TEST(ParallelCompress, Bzip2DecodesWithLibbz2AndStaysCloseToOneThread) {
    checkCompressesLikeOneThread(kelFormatBzip2, corpusOf(6u << 20), 9, 0);
    checkCompressesLikeOneThread(kelFormatBzip2, corpusOf(3u << 20), 1, 300000);
}

// Empty input still gives one valid stream; sizes around the piece size (1 MiB) give whole pieces and no empty
// last member.
TEST(ParallelCompress, SmallAndPieceSizedInputsRoundTrip) {
    for (KelStreamFormat f : {kelFormatGzip, kelFormatLz4, kelFormatBzip2}) {
        for (std::size_t n : {std::size_t(0), std::size_t(1), std::size_t(1000), std::size_t(1) << 20,
                              (std::size_t(1) << 20) + 1, std::size_t(1800000)}) {
            SCOPED_TRACE("format " + std::to_string(f) + " size " + std::to_string(n));
            Bytes data = corpusOf(n);
            KelStreamOptions o = threaded(4);
            auto run = runStream(f, kelCompress, data, &o, n > 4096 ? 0 : 7, testSeed());
            ASSERT_EQ(run.result, kelStreamEnd) << run.message;
            Bytes back;
            ASSERT_TRUE(peerDecode(f, run.out, back));
            EXPECT_TRUE(back == data);
            std::size_t bound = kelStreamCompressBound(f, n, &o);
            EXPECT_LE(run.out.size(), bound);
            Bytes oneShot(bound);
            std::size_t len = oneShot.size();
            ASSERT_EQ(kelStreamCompress(f, data.data(), data.size(), oneShot.data(), &len, &o), kelStreamEnd);
            oneShot.resize(len);
            EXPECT_TRUE(oneShot == run.out);
        }
    }
}

// Each piece is exactly the one-thread stream of its bytes (1 MiB pieces; bzip2: whole blocks, 11 of level 1),
// however the engines are reused from piece to piece.
TEST(ParallelCompress, EachPieceIsTheOneThreadStreamOfItsBytes) {
    struct Case {
        KelStreamFormat f;
        int level;
        std::size_t piece;
    } cases[] = {{kelFormatGzip, 6, 1u << 20}, {kelFormatLz4, 0, 1u << 20}, {kelFormatBzip2, 1, 1100000}};
    for (const Case& c : cases) {
        SCOPED_TRACE("format " + std::to_string(c.f));
        Bytes data = corpusOf(4 * c.piece + 12345);
        KelStreamOptions o = threaded(2, c.level);
        o.name = "n";
        o.mtime = 99;
        auto run = runStream(c.f, kelCompress, data, &o, 77777, testSeed());
        ASSERT_EQ(run.result, kelStreamEnd);
        Bytes want;
        for (std::size_t at = 0; at < data.size(); at += c.piece) {
            KelStreamOptions one = o;
            one.threads = 1;
            if (at > 0) one.name = nullptr;
            Bytes piece(data.begin() + std::ptrdiff_t(at),
                        data.begin() + std::ptrdiff_t(std::min(data.size(), at + c.piece)));
            auto p = runStream(c.f, kelCompress, piece, &one);
            ASSERT_EQ(p.result, kelStreamEnd);
            want.insert(want.end(), p.out.begin(), p.out.end());
        }
        EXPECT_TRUE(run.out == want) << run.out.size() << " vs " << want.size();
    }
}

// The name, comment and extra field go into the first member only, the modification time into every one.
TEST(ParallelCompress, GzipHeaderFieldsInFirstMemberOnlyButMtimeInAll) {
    Bytes data = corpusOf(3u << 20);
    KelStreamOptions o = threaded(2);
    o.name = "piece.txt";
    o.comment = "made in pieces";
    const std::uint8_t extra[] = {'K', 'L', 2, 0, 1, 2};
    o.extra = extra;
    o.extraLen = sizeof extra;
    o.mtime = 1700000000;
    auto run = runStream(kelFormatGzip, kelCompress, data, &o);
    ASSERT_EQ(run.result, kelStreamEnd);
    // Walk the members with the one-thread decoder, one entry at a time.
    KelStreamOptions d = threaded(1);
    d.stopAtEntries = 1;
    KelStream* s = nullptr;
    ASSERT_EQ(kelStreamCreate(&s, kelFormatGzip, kelDecompress, &d), kelStreamOk);
    std::size_t pos = 0, members = 0;
    Bytes buf(1 << 20);
    for (;;) {
        std::size_t srcLen = run.out.size() - pos, dstLen = buf.size();
        KelStreamResult r = kelStreamProcess(s, run.out.data() + pos, &srcLen, buf.data(), &dstLen, kelFlushFinish);
        pos += srcLen;
        ASSERT_GE(r, 0) << kelStreamMessage(s);
        if (r == kelStreamEntryEnd || r == kelStreamEnd) {
            KelStreamHeader h;
            kelStreamGetHeader(s, &h);
            EXPECT_EQ(h.entry, members);
            EXPECT_EQ(h.mtime, 1700000000);
            if (members == 0) {
                ASSERT_NE(h.name, nullptr);
                EXPECT_STREQ(h.name, "piece.txt");
                ASSERT_NE(h.comment, nullptr);
                EXPECT_STREQ(h.comment, "made in pieces");
                ASSERT_EQ(h.extraLen, sizeof extra);
            } else {
                EXPECT_EQ(h.name, nullptr);
                EXPECT_EQ(h.comment, nullptr);
                EXPECT_EQ(h.extra, nullptr);
            }
            ++members;
            if (r == kelStreamEnd) break;
        }
    }
    kelStreamFree(s);
    EXPECT_EQ(members, 3u);
}

// A sync flush closes the current piece: everything given so far decodes from what has been handed out.
TEST(ParallelCompress, SyncFlushMakesEverythingSoFarDecodable) {
    for (KelStreamFormat f : {kelFormatGzip, kelFormatLz4, kelFormatBzip2}) {
        SCOPED_TRACE("format " + std::to_string(f));
        Bytes data = corpusOf(2500000);
        KelStreamOptions o = threaded(3);
        KelStream* s = nullptr;
        ASSERT_EQ(kelStreamCreate(&s, f, kelCompress, &o), kelStreamOk);
        Bytes out, buf(4096);
        std::size_t pos = 0;
        for (std::size_t cut : {std::size_t(100), std::size_t(1500000), data.size()}) {
            KelStreamResult r;
            do {
                std::size_t srcLen = cut - pos, dstLen = buf.size();
                r = kelStreamProcess(s, data.data() + pos, &srcLen, buf.data(), &dstLen, kelFlushSync);
                pos += srcLen;
                out.insert(out.end(), buf.begin(), buf.begin() + dstLen);
                ASSERT_GE(r, 0) << kelStreamMessage(s);
            } while (r != kelStreamFlushed);
            ASSERT_EQ(pos, cut);
            Bytes back;
            ASSERT_TRUE(peerDecode(f, out, back));
            ASSERT_TRUE(back == Bytes(data.begin(), data.begin() + std::ptrdiff_t(cut)));
        }
        KelStreamResult r;
        do {
            std::size_t srcLen = 0, dstLen = buf.size();
            r = kelStreamProcess(s, nullptr, &srcLen, buf.data(), &dstLen, kelFlushFinish);
            out.insert(out.end(), buf.begin(), buf.begin() + dstLen);
        } while (r == kelStreamOk);
        EXPECT_EQ(r, kelStreamEnd);
        Bytes back;
        ASSERT_TRUE(peerDecode(f, out, back));
        EXPECT_TRUE(back == data);
        kelStreamFree(s);
    }
}

// Frames cannot link blocks or carry one content size across pieces: those options give the one-thread stream.
TEST(ParallelCompress, Lz4LinkedBlocksOrContentSizeUseOneThread) {
    Bytes data = corpusOf(3u << 20);
    for (int variant = 0; variant < 2; ++variant) {
        KelStreamOptions one = threaded(1), many = threaded(4);
        if (variant == 0) {
            one.lz4Linked = many.lz4Linked = 1;
        } else {
            one.contentSize = many.contentSize = std::int64_t(data.size());
        }
        auto a = runStream(kelFormatLz4, kelCompress, data, &one);
        auto b = runStream(kelFormatLz4, kelCompress, data, &many, 100000, testSeed());
        ASSERT_EQ(a.result, kelStreamEnd);
        ASSERT_EQ(b.result, kelStreamEnd);
        EXPECT_TRUE(a.out == b.out);
    }
}

// Options are checked when the stream is made, as one thread checks them, not at the first piece.
TEST(ParallelCompress, ChecksOptionsAtCreateAsOneThreadDoes) {
    for (KelStreamFormat f : {kelFormatGzip, kelFormatLz4, kelFormatBzip2}) {
        for (int variant = 0; variant < 3; ++variant) {
            KelStreamOptions one = threaded(1), many = threaded(4);
            if (variant == 0) one.level = many.level = 12;
            if (variant == 1) one.lz4BlockSizeId = many.lz4BlockSizeId = 9;
            if (variant == 2) one.lz4HighCompression = many.lz4HighCompression = 1;
            KelStream* a = nullptr;
            KelStream* b = nullptr;
            KelStreamResult want = kelStreamCreate(&a, f, kelCompress, &one);
            EXPECT_EQ(kelStreamCreate(&b, f, kelCompress, &many), want) << f << " " << variant;
            EXPECT_EQ(a == nullptr, b == nullptr);
            kelStreamFree(a);
            kelStreamFree(b);
        }
    }
}

// ------------------------------------------- Member decompression -------------------------------------------

// The same input through one thread and through several, whole and in random pieces: same result, same output.
void expectSameAsOneThread(KelStreamFormat f, const Bytes& in, const std::string& what, bool pieces = true) {
    SCOPED_TRACE(what);
    KelStreamOptions one = threaded(1);
    auto want = runStream(f, kelDecompress, in, &one);
    for (int threads : {2, 5}) {
        KelStreamOptions o = threaded(threads);
        auto got = runStream(f, kelDecompress, in, &o);
        EXPECT_EQ(got.result, want.result) << got.message << " / " << want.message;
        EXPECT_TRUE(got.out == want.out) << got.out.size() << " vs " << want.out.size();
        // Input taken ahead into the window counts as consumed once an error or trailing data is found.
        if (want.result == kelStreamEnd) EXPECT_EQ(got.consumed, want.consumed);
        if (!pieces) continue;
        auto wantPieces = runStream(f, kelDecompress, in, &one, 200000, testSeed());
        auto gotPieces = runStream(f, kelDecompress, in, &o, 200000, testSeed());
        EXPECT_EQ(gotPieces.result, wantPieces.result);
        EXPECT_TRUE(gotPieces.out == wantPieces.out);
    }
}

// Damage, truncation and trailing bytes of every kind, each compared with one thread.
void expectSameOnDamage(KelStreamFormat f, const Bytes& valid, const std::string& what, int flips) {
    std::mt19937 rng(testSeed());
    expectSameAsOneThread(f, valid, what + " valid");
    for (int i = 0; i < flips; ++i) {
        Bytes bad = valid;
        std::size_t at = std::uniform_int_distribution<std::size_t>(0, bad.size() - 1)(rng);
        bad[at] ^= std::uint8_t(1u << (i % 8));
        expectSameAsOneThread(f, bad, what + " bit flip at " + std::to_string(at), false);
    }
    for (std::size_t cut : {std::size_t(0), std::size_t(3), valid.size() / 3, valid.size() / 2 + 7, valid.size() - 1}) {
        expectSameAsOneThread(f, Bytes(valid.begin(), valid.begin() + std::ptrdiff_t(cut)),
                              what + " truncated to " + std::to_string(cut), false);
    }
    const Bytes tails[] = {Bytes{'j', 'u', 'n', 'k', ' ', 'a', 't', ' ', 'e', 'n', 'd'},
                           Bytes(100, 0),
                           Bytes{0, 0, 0, 0, 'x'},
                           Bytes{0x1f, 0x8b},
                           Bytes{0x1f},
                           Bytes{0x04, 0x22, 0x4d}};
    for (const Bytes& tail : tails) {
        expectSameAsOneThread(f, concat({valid, tail}), what + " with a tail of " + std::to_string(tail.size()), false);
    }
}

TEST(ParallelMembers, GzipFromTheParallelCompressorMatchesOneThread) {
    KelStreamOptions o = threaded(2);
    auto packed = runStream(kelFormatGzip, kelCompress, corpusOf(7u << 20), &o);
    ASSERT_EQ(packed.result, kelStreamEnd);
    expectSameOnDamage(kelFormatGzip, packed.out, "kel members", 6);
}

// Members of every size from zlib, as `cat a.gz b.gz` makes them: tiny ones, one far larger than the window.
TEST(ParallelMembers, ConcatenatedGzipMembersMatchOneThread) {
    Bytes big = corpusOf(9u << 20), small = corpusOf(5000);
    Bytes file = concat({zlibGzip(small, 6), zlibGzip(Bytes(), 6), zlibGzip(big, 1), zlibGzip(small, 9)});
    for (int i = 0; i < 40; ++i) file = concat({file, zlibGzip(Bytes(small.begin(), small.begin() + i * 50), 6)});
    expectSameOnDamage(kelFormatGzip, file, "zlib members", 4);
    expectSameOnDamage(kelFormatGzip, zlibGzip(corpusOf(6u << 20), 6), "one member", 3);
}

// The standard tool's concatenation (gzip -c a b writes one member per file).
TEST(ParallelMembers, GzipToolConcatenationMatchesOneThread) {
    if (std::system("gzip --version > /dev/null 2>&1") != 0) {
        if (!std::getenv("CI")) GTEST_SKIP() << "gzip not installed";
        FAIL() << "gzip not installed";
    }
    char dir[] = "/tmp/kelparXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string d = dir;
    std::string cmd = "cd " + d +
                      " && cp " KEL_DATA_DIR "/alice29.txt a && cp " KEL_DATA_DIR "/html b && cp " KEL_DATA_DIR
                      "/lcet10.txt c && gzip -c a b c a > all.gz";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    Bytes file = readFile(d + "/all.gz");
    std::system(("rm -rf " + d).c_str());
    ASSERT_GT(file.size(), 1000u);
    expectSameOnDamage(kelFormatGzip, file, "gzip tool", 4);
}

TEST(ParallelMembers, Lz4FramesMatchOneThread) {
    KelStreamOptions o = threaded(2);
    o.lz4BlockChecksum = 1;
    auto packed = runStream(kelFormatLz4, kelCompress, corpusOf(7u << 20), &o);
    ASSERT_EQ(packed.result, kelStreamEnd);
    expectSameOnDamage(kelFormatLz4, packed.out, "kel frames", 6);
    // A skippable frame between frames, and a single frame.
    Bytes skippable = {0x50, 0x2a, 0x4d, 0x18, 4, 0, 0, 0, 'k', 'e', 'l', '!'};
    auto one = runStream(kelFormatLz4, kelCompress, corpusOf(5u << 20));
    ASSERT_EQ(one.result, kelStreamEnd);
    expectSameOnDamage(kelFormatLz4, concat({one.out, skippable, packed.out}), "skippable between", 2);
    expectSameOnDamage(kelFormatLz4, one.out, "one frame", 3);
}

// A member whose data holds, stored as it is, a complete gzip member: its start is a perfect candidate that
// decodes cleanly, but lies inside the outer member and must not be taken.
TEST(ParallelMembers, MemberInsideStoredDataIsNotTakenForAMember) {
    Bytes inner = zlibGzip(corpusOf(200000), 6);
    Bytes outer = zlibGzip(concat({Bytes(1000, 'a'), inner, inner, Bytes(1000, 'b')}), 0);
    Bytes file = concat({outer, zlibGzip(corpusOf(100000), 6), outer});
    expectSameOnDamage(kelFormatGzip, file, "member inside stored data", 2);
    Bytes out;
    ASSERT_TRUE(zlibGunzip(file, out));
    KelStreamOptions o = threaded(2);
    EXPECT_TRUE(runStream(kelFormatGzip, kelDecompress, file, &o).out == out);
}

// stopAtEntries: the same boundaries, entry numbers and header fields as one thread.
TEST(ParallelMembers, EntriesAndHeadersMatchOneThread) {
    KelStreamOptions c = threaded(2);
    c.name = "first";
    c.mtime = 12345;
    auto packed = runStream(kelFormatGzip, kelCompress, corpusOf(5u << 20), &c);
    ASSERT_EQ(packed.result, kelStreamEnd);
    Bytes file = concat({packed.out, zlibGzip(Bytes(10, 'z'), 6), Bytes(8, 0)});
    auto walk = [&](int threads) {
        KelStreamOptions o = threaded(threads);
        o.stopAtEntries = 1;
        KelStream* s = nullptr;
        EXPECT_EQ(kelStreamCreate(&s, kelFormatGzip, kelDecompress, &o), kelStreamOk);
        std::string log;
        std::size_t pos = 0, outTotal = 0;
        Bytes buf(70000);
        for (int guard = 0; guard < 100000; ++guard) {
            std::size_t srcLen = std::min<std::size_t>(file.size() - pos, 50000), dstLen = buf.size();
            bool last = pos + srcLen == file.size();
            KelStreamResult r = kelStreamProcess(s, file.data() + pos, &srcLen, buf.data(), &dstLen,
                                                 last ? kelFlushFinish : kelFlushNone);
            pos += srcLen;
            outTotal += dstLen;
            if (r == kelStreamOk) continue;
            KelStreamHeader h;
            kelStreamGetHeader(s, &h);
            log += std::to_string(r) + ":" + std::to_string(h.entry) + ":" + (h.name ? h.name : "-") + ":" +
                   std::to_string(h.mtime) + ":" + std::to_string(outTotal) + " ";
            if (r != kelStreamEntryEnd) break;
        }
        kelStreamFree(s);
        return log;
    };
    std::string one = walk(1);
    EXPECT_EQ(walk(2), one);
    EXPECT_EQ(walk(4), one);
    EXPECT_NE(one.find("4:0:first:12345"), std::string::npos) << one;
}

// With caller hooks, the workers' allocations go through them too, never two at once, and all come back; a
// failing allocator gives kelStreamErrMemory, never a crash.
struct LockCheckingHeap {
    long live = 0, calls = 0, failAfter = -1;
    int inside = 0;
    bool overlapped = false, onWorker = false;
    pthread_t caller = pthread_self();
    static void* alloc(void* opaque, std::size_t n) {
        auto* h = static_cast<LockCheckingHeap*>(opaque);
        if (h->inside++) h->overlapped = true;
        if (!pthread_equal(pthread_self(), h->caller)) h->onWorker = true;
        void* p = nullptr;
        if (h->failAfter < 0 || h->calls < h->failAfter) {
            p = std::malloc(n);
            ++h->live;
        }
        ++h->calls;
        --h->inside;
        return p;
    }
    static void release(void* opaque, void* p) {
        auto* h = static_cast<LockCheckingHeap*>(opaque);
        if (h->inside++) h->overlapped = true;
        --h->live;
        std::free(p);
        --h->inside;
    }
};

TEST(ParallelMembers, CallerAllocatorIsSerialisedAndFailuresReportMemory) {
    Bytes data = corpusOf(2600000);
    for (KelStreamFormat f : {kelFormatLz4, kelFormatGzip}) {
        KelStreamOptions c = threaded(3);
        auto packed = runStream(f, kelCompress, data, &c);
        ASSERT_EQ(packed.result, kelStreamEnd);
        for (KelStreamDirection dir : {kelCompress, kelDecompress}) {
            SCOPED_TRACE("format " + std::to_string(f) + " direction " + std::to_string(dir));
            const Bytes& in = dir == kelCompress ? data : packed.out;
            LockCheckingHeap heap;
            KelStreamOptions o = threaded(3);
            o.alloc = LockCheckingHeap::alloc;
            o.free = LockCheckingHeap::release;
            o.opaque = &heap;
            auto run = runStream(f, dir, in, &o);
            EXPECT_EQ(run.result, kelStreamEnd);
            EXPECT_EQ(heap.live, 0);
            EXPECT_FALSE(heap.overlapped);
            EXPECT_TRUE(heap.onWorker);  // the pieces and members were indeed decoded on the workers
            long total = heap.calls;
            for (long k = 0; k < total; k += 1 + total / 40) {
                LockCheckingHeap failing;
                failing.failAfter = k;
                o.opaque = &failing;
                auto r = runStream(f, dir, in, &o);
                EXPECT_TRUE(r.result == kelStreamErrMemory || r.result == kelStreamEnd) << k << ": " << r.result;
                EXPECT_EQ(failing.live, 0) << k;
            }
        }
    }
}

}  // namespace

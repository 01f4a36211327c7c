// tests/stream/kelstream_deflate_write_test.cpp - gzip, zlib and raw Deflate compression through libkelstream's C
// calls: whatever the level, mode, piece sizes, flushes, dictionary or header fields, zlib (and the gzip tool) must
// restore the input, the bytes must not depend on how input and output are split, and the output must stay within
// kelStreamCompressBound and close to zlib's size.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "dc/deflate/deflate_test_util.h"
#include "support/kelstream_util.h"
#include "support/test_util.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using kel::test::defaultStreamOptions;

constexpr KelStreamFormat kFormats[] = {kelFormatGzip, kelFormatZlib, kelFormatDeflate};

int windowBitsOf(KelStreamFormat f) {
    return f == kelFormatDeflate ? -15 : f == kelFormatZlib ? 15 : 31;
}

const char* nameOf(KelStreamFormat f) {
    return f == kelFormatDeflate ? "raw" : f == kelFormatZlib ? "zlib" : "gzip";
}

// level -1 stands for the fastest mode (at the default level).
KelStreamOptions optionsFor(int level) {
    KelStreamOptions o = defaultStreamOptions();
    o.level = level < 0 ? 0 : level;
    o.fastest = level < 0;
    return o;
}

std::string describe(KelStreamFormat f, int level, std::size_t n) {
    return std::string(nameOf(f)) + (level < 0 ? " fastest" : " level " + std::to_string(level)) + ", " +
           std::to_string(n) + " bytes";
}

// One-shot compression into exactly the bound's room.
Bytes compressWhole(KelStreamFormat f, const Bytes& data, const KelStreamOptions& o) {
    Bytes out(kelStreamCompressBound(f, data.size(), &o));
    std::size_t n = out.size();
    EXPECT_EQ(kelStreamCompress(f, data.data(), data.size(), out.data(), &n, &o), kelStreamEnd);
    out.resize(n);
    return out;
}

// Streaming compression with input and output pieces from the two generators; kelFlushFinish after the last piece.
Bytes compressPieces(KelStreamFormat f, const Bytes& data, const KelStreamOptions& o,
                     const std::function<std::size_t()>& nextIn, const std::function<std::size_t()>& nextOut,
                     const Bytes* dictionary = nullptr) {
    KelStream* s = nullptr;
    EXPECT_EQ(kelStreamCreate(&s, f, kelCompress, &o), kelStreamOk);
    if (!s) return {};
    if (dictionary) EXPECT_EQ(kelStreamSetDictionary(s, dictionary->data(), dictionary->size()), kelStreamOk);
    Bytes out, buf;
    std::size_t at = 0;
    for (int guard = 0; guard < 50000000; ++guard) {
        const std::size_t give = std::min(nextIn(), data.size() - at);
        const bool last = at + give == data.size();
        std::size_t srcLen = give, dstLen = std::max<std::size_t>(nextOut(), 1);
        buf.resize(dstLen);
        const KelStreamResult r =
            kelStreamProcess(s, data.data() + at, &srcLen, buf.data(), &dstLen, last ? kelFlushFinish : kelFlushNone);
        EXPECT_LE(srcLen, give);
        EXPECT_LE(dstLen, buf.size());
        at += srcLen;
        out.insert(out.end(), buf.begin(), buf.begin() + long(dstLen));
        if (r == kelStreamEnd) break;
        if (r != kelStreamOk) {
            ADD_FAILURE() << "result " << r << ": " << kelStreamMessage(s);
            break;
        }
    }
    EXPECT_EQ(at, data.size());
    kelStreamFree(s);
    return out;
}

Bytes readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void expectRestores(KelStreamFormat f, const Bytes& packed, const Bytes& data, const Bytes* dict = nullptr) {
    Bytes back;
    ASSERT_TRUE(kel::test::zlibInflate(packed, windowBitsOf(f), back, dict));
    ASSERT_TRUE(back == data) << "zlib restores other bytes";
}

std::vector<Bytes> syntheticInputs(std::mt19937_64& rng) {
    std::vector<Bytes> inputs;
    for (std::size_t n : {0, 1, 2, 3, 4, 5, 257, 258, 259, 260, 261, 262, 263}) {
        inputs.push_back(kel::test::randomBytes(rng, n));
    }
    inputs.push_back(Bytes(100000, 0));
    inputs.push_back(Bytes(70000, 0xFF));
    inputs.push_back(kel::test::randomBytes(rng, 300000));  // stored blocks
    inputs.push_back(kel::test::repetitiveBytes(rng, 400000));
    Bytes period;
    for (int i = 0; i < 200000; ++i) period.push_back(std::uint8_t("abcdefg"[i % 7]));
    inputs.push_back(period);
    return inputs;
}

TEST(KelStreamDeflateWrite, CorpusRoundTripsThroughZlibAtEveryLevel) {
    int k = 0;
    for (const std::string& name : kel::test::corpusFileNames()) {
        const Bytes data = kel::test::readCorpusFile(name);
        ASSERT_FALSE(data.empty()) << name;
        for (int level : {1, 2, 3, 4, 5, 6, 7, 8, 9, -1, 0, 17, 29}) {
            const KelStreamFormat f = kFormats[k++ % 3];
            SCOPED_TRACE(name + " " + describe(f, level, data.size()));
            expectRestores(f, compressWhole(f, data, optionsFor(level)), data);
        }
    }
}

TEST(KelStreamDeflateWrite, SyntheticDataAtEveryLevel) {
    SCOPED_TRACE(kel::test::seedNote());
    auto rng = kel::test::makeRng(61);
    const std::vector<Bytes> inputs = syntheticInputs(rng);
    for (int level = -1; level <= 29; ++level) {
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            const KelStreamFormat f = kFormats[(std::size_t(level + 1) + i) % 3];
            SCOPED_TRACE(describe(f, level, inputs[i].size()));
            expectRestores(f, compressWhole(f, inputs[i], optionsFor(level)), inputs[i]);
        }
    }
}

// Input and output in pieces of random sizes down to one byte, through runStream, give the one-shot bytes.
TEST(KelStreamDeflateWrite, RandomPiecesGiveTheOneShotBytes) {
    SCOPED_TRACE(kel::test::seedNote());
    auto rng = kel::test::makeRng(63);
    Bytes data = kel::test::repetitiveBytes(rng, 200000);
    const Bytes noise = kel::test::randomBytes(rng, 70000);
    data.insert(data.begin() + 90000, noise.begin(), noise.end());
    const Bytes text = kel::test::readCorpusFile("alice29.txt");
    for (int level : {1, 6, 9, 20, -1}) {
        for (KelStreamFormat f : kFormats) {
            for (const Bytes* in : {static_cast<const Bytes*>(&data), &text}) {
                SCOPED_TRACE(describe(f, level, in->size()));
                const KelStreamOptions o = optionsFor(level);
                const Bytes whole = compressWhole(f, *in, o);
                for (std::size_t maxPiece : {std::size_t(1) << 15, std::size_t(700)}) {
                    const auto run = kel::test::runStream(f, kelCompress, *in, &o, maxPiece, std::uint32_t(rng()));
                    ASSERT_EQ(run.result, kelStreamEnd) << run.message;
                    EXPECT_EQ(run.consumed, in->size());
                    EXPECT_TRUE(run.out == whole) << "pieces of at most " << maxPiece;
                }
            }
        }
    }
    // Single bytes both ways over a short input.
    const Bytes shortText(text.begin(), text.begin() + 3000);
    for (int level : {1, 9, -1}) {
        const KelStreamOptions o = optionsFor(level);
        const Bytes whole = compressWhole(kelFormatGzip, shortText, o);
        auto one = [] { return std::size_t(1); };
        EXPECT_TRUE(compressPieces(kelFormatGzip, shortText, o, one, one) == whole)
            << describe(kelFormatGzip, level, 0);
    }
}

// Long pieces are matched in the caller's buffer, short ones through the window; the matchers still run over the
// same stretches of the stream, so any mix gives the bytes of one whole call. Random stretches make stored blocks,
// whose bytes come from the window, the caller's buffer or both. Inputs above the compressor's 4 MiB chunk cross
// chunk boundaries inside a caller's piece.
TEST(KelStreamDeflateWrite, LongPiecesMatchedInPlaceGiveTheSameOutput) {
    SCOPED_TRACE(kel::test::seedNote());
    auto rng = kel::test::makeRng(65);
    Bytes data;
    while (data.size() < (std::size_t(9) << 19)) {
        const Bytes chunk = data.size() % 3 == 2 ? kel::test::randomBytes(rng, 70000 + rng() % 90000)
                                                 : kel::test::repetitiveBytes(rng, 150000 + rng() % 300000);
        data.insert(data.end(), chunk.begin(), chunk.end());
    }
    const Bytes dict = kel::test::repetitiveBytes(rng, 50000);
    for (int level : {1, 6, 9, 14, -1}) {
        for (const bool withDict : {false, true}) {
            SCOPED_TRACE((level < 0 ? std::string("fastest") : "level " + std::to_string(level)) +
                         (withDict ? " with dictionary" : ""));
            KelStreamOptions o = optionsFor(level);
            if (withDict) {
                o.dictionary = dict.data();
                o.dictionaryLen = dict.size();
            }
            auto ample = [] { return std::size_t(1) << 24; };
            const Bytes whole = compressPieces(
                kelFormatZlib, data, o, [&] { return data.size(); }, ample);
            expectRestores(kelFormatZlib, whole, data, &dict);
            const Bytes mixed = compressPieces(
                kelFormatZlib, data, o,
                [&] {
                    const unsigned kind = unsigned(rng() % 4);
                    return kind == 0 ? rng() % 300 : kind == 1 ? rng() % 100000 : 250000 + rng() % 900000;
                },
                [&] { return std::size_t(1 + rng() % 200000); });
            EXPECT_TRUE(mixed == whole);
            const Bytes buffered = compressPieces(
                kelFormatZlib, data, o, [] { return std::size_t(65536); }, ample);
            EXPECT_TRUE(buffered == whole);
        }
    }
}

// Levels 6 to 9 are served by the table rows 5 to 8, whose twins 25 to 28 hold the same parameters; the zlib header
// records the level asked for, so compare raw streams.
TEST(KelStreamDeflateWrite, LevelsSixToNineUseTheirDocumentedRows) {
    const Bytes data = kel::test::readCorpusFile("alice29.txt");
    for (int level = 6; level <= 9; ++level) {
        EXPECT_TRUE(compressWhole(kelFormatDeflate, data, optionsFor(level)) ==
                    compressWhole(kelFormatDeflate, data, optionsFor(level + 19)))
            << "level " << level;
    }
    EXPECT_FALSE(compressWhole(kelFormatDeflate, data, optionsFor(6)) ==
                 compressWhole(kelFormatDeflate, data, optionsFor(26)));
    // Level 0 is the default, 6.
    EXPECT_TRUE(compressWhole(kelFormatZlib, data, optionsFor(0)) == compressWhole(kelFormatZlib, data, optionsFor(6)));
}

// Every kelFlushSync makes everything given so far decodable by zlib with Z_SYNC_FLUSH, ends with the empty stored
// block's 00 00 FF FF, and reports kelStreamFlushed only once its last byte is handed out.
TEST(KelStreamDeflateWrite, SyncFlushMakesEverythingSoFarDecodable) {
    SCOPED_TRACE(kel::test::seedNote());
    auto rng = kel::test::makeRng(64);
    const Bytes data = kel::test::repetitiveBytes(rng, 300000);
    for (int level : {2, 8, 29, -1}) {
        for (KelStreamFormat f : kFormats) {
            SCOPED_TRACE(describe(f, level, data.size()));
            const KelStreamOptions o = optionsFor(level);
            KelStream* s = nullptr;
            ASSERT_EQ(kelStreamCreate(&s, f, kelCompress, &o), kelStreamOk);
            z_stream z{};
            ASSERT_EQ(inflateInit2(&z, windowBitsOf(f)), Z_OK);
            Bytes restored(data.size() + 16);
            z.next_out = restored.data();
            z.avail_out = uInt(restored.size());
            std::size_t at = 0;
            for (std::size_t cut : {std::size_t(0), std::size_t(1), std::size_t(5000), std::size_t(5001),
                                    std::size_t(140000), data.size()}) {
                // Give the piece, then flush, with output room of a few bytes at a time.
                Bytes chunk;
                KelStreamResult r = kelStreamOk;
                for (int guard = 0; guard < 1000000 && r != kelStreamFlushed; ++guard) {
                    std::size_t srcLen = cut - at, dstLen = 1 + rng() % 97;
                    std::uint8_t buf[100];
                    r = kelStreamProcess(s, data.data() + at, &srcLen, buf, &dstLen, kelFlushSync);
                    ASSERT_GE(r, 0) << kelStreamMessage(s);
                    ASSERT_TRUE(r == kelStreamOk || r == kelStreamFlushed);
                    at += srcLen;
                    chunk.insert(chunk.end(), buf, buf + dstLen);
                }
                ASSERT_EQ(at, cut);
                ASSERT_GE(chunk.size(), 4u);
                EXPECT_EQ(Bytes(chunk.end() - 4, chunk.end()), (Bytes{0, 0, 0xFF, 0xFF}));
                // A second sync with nothing new adds nothing.
                std::size_t none = 0, room = 16;
                std::uint8_t spare[16];
                EXPECT_EQ(kelStreamProcess(s, nullptr, &none, spare, &room, kelFlushSync), kelStreamFlushed);
                EXPECT_EQ(room, 0u);
                z.next_in = chunk.data();
                z.avail_in = uInt(chunk.size());
                ASSERT_EQ(inflate(&z, Z_SYNC_FLUSH), Z_OK);
                ASSERT_EQ(z.avail_in, 0u);
                ASSERT_EQ(z.total_out, cut);
            }
            Bytes tail(256);
            std::size_t none = 0, room = tail.size();
            ASSERT_EQ(kelStreamProcess(s, nullptr, &none, tail.data(), &room, kelFlushFinish), kelStreamEnd);
            z.next_in = tail.data();
            z.avail_in = uInt(room);
            EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
            inflateEnd(&z);
            kelStreamFree(s);
            restored.resize(data.size());
            EXPECT_TRUE(restored == data);
        }
    }
}

// A sync flush after every short piece (many tiny blocks, each followed by its marker) still restores, in both
// writers, with stretches of noise that become stored blocks.
TEST(KelStreamDeflateWrite, FrequentSyncFlushesRestore) {
    SCOPED_TRACE(kel::test::seedNote());
    auto rng = kel::test::makeRng(67);
    Bytes data = kel::test::repetitiveBytes(rng, 120000);
    const Bytes noise = kel::test::randomBytes(rng, 30000);
    data.insert(data.begin() + 50000, noise.begin(), noise.end());
    for (int level : {1, 9, -1}) {
        for (std::size_t every : {std::size_t(1), std::size_t(333), std::size_t(4096)}) {
            SCOPED_TRACE(describe(kelFormatZlib, level, every));
            const KelStreamOptions o = optionsFor(level);
            KelStream* s = nullptr;
            ASSERT_EQ(kelStreamCreate(&s, kelFormatZlib, kelCompress, &o), kelStreamOk);
            Bytes out, buf(1 << 16);
            const std::size_t n = every == 1 ? 3000 : data.size();
            for (std::size_t at = 0; at <= n;) {
                const bool last = at == n;
                std::size_t srcLen = std::min(every, n - at), dstLen = buf.size();
                const KelStreamResult r = kelStreamProcess(s, data.data() + at, &srcLen, buf.data(), &dstLen,
                                                           last ? kelFlushFinish : kelFlushSync);
                ASSERT_EQ(r, last ? kelStreamEnd : kelStreamFlushed) << kelStreamMessage(s);
                out.insert(out.end(), buf.begin(), buf.begin() + long(dstLen));
                at += srcLen;
                if (last) break;
            }
            kelStreamFree(s);
            expectRestores(kelFormatZlib, out, Bytes(data.begin(), data.begin() + long(n)));
        }
    }
}

// The bound holds for incompressible data at every level and in the fastest mode, with every gzip header field
// set, and kelStreamCompress succeeds with exactly that room. The overhead stays small.
TEST(KelStreamDeflateWrite, BoundHoldsForIncompressibleDataAtEveryLevel) {
    SCOPED_TRACE(kel::test::seedNote());
    auto rng = kel::test::makeRng(66);
    const Bytes big = kel::test::randomBytes(rng, (std::size_t(1) << 20) + 12345);
    const std::string name(300, 'n'), comment(500, 'c');
    const Bytes extra(1000, 0x5A);
    for (int level = -1; level <= 29; ++level) {
        for (KelStreamFormat f : kFormats) {
            KelStreamOptions o = optionsFor(level);
            if (f == kelFormatGzip) {
                o.name = name.c_str();
                o.comment = comment.c_str();
                o.extra = extra.data();
                o.extraLen = extra.size();
                o.headerCrc = 1;
            }
            for (std::size_t n : {std::size_t(0), std::size_t(1), std::size_t(1000), std::size_t(8192),
                                  std::size_t(65536), std::size_t(65537), std::size_t(300000), big.size()}) {
                if (n == big.size() && level % 4 != 1 && level != 9) continue;  // the long input at a few levels
                const Bytes data(big.begin(), big.begin() + long(n));
                SCOPED_TRACE(describe(f, level, n));
                const std::size_t bound = kelStreamCompressBound(f, n, &o);
                Bytes out(bound);
                std::size_t outLen = bound;
                ASSERT_EQ(kelStreamCompress(f, data.data(), n, out.data(), &outLen, &o), kelStreamEnd);
                EXPECT_LE(outLen, bound);
                EXPECT_LT(bound - n, n / 512 + 4096);
                out.resize(outLen);
                expectRestores(f, out, data);
                if (n == big.size()) EXPECT_LT(outLen, n + n / 1000 + 2048);
            }
        }
    }
}

TEST(KelStreamDeflateWrite, OneShotReportsShortRoom) {
    const Bytes data = kel::test::readCorpusFile("html");
    const KelStreamOptions o = optionsFor(6);
    const Bytes whole = compressWhole(kelFormatGzip, data, o);
    Bytes out(whole.size() - 1);
    std::size_t n = out.size();
    EXPECT_EQ(kelStreamCompress(kelFormatGzip, data.data(), data.size(), out.data(), &n, &o), kelStreamErrNoRoom);
    n = whole.size();
    out.resize(n);
    EXPECT_EQ(kelStreamCompress(kelFormatGzip, data.data(), data.size(), out.data(), &n, &o), kelStreamEnd);
    EXPECT_TRUE(out == whole);
}

// Reads the gzip header of a stream with zlib's inflateGetHeader and checks the data.
struct ZlibGzipHeader {
    gz_header h{};
    Bytef name[512] = {}, comment[1024] = {}, extra[2048] = {};
};

void readGzipHeader(const Bytes& packed, const Bytes& data, ZlibGzipHeader& out) {
    z_stream z{};
    ASSERT_EQ(inflateInit2(&z, 31), Z_OK);
    out.h.name = out.name;
    out.h.name_max = sizeof out.name;
    out.h.comment = out.comment;
    out.h.comm_max = sizeof out.comment;
    out.h.extra = out.extra;
    out.h.extra_max = sizeof out.extra;
    ASSERT_EQ(inflateGetHeader(&z, &out.h), Z_OK);
    Bytes back(data.size() + 1);
    z.next_in = const_cast<Bytef*>(packed.data());
    z.avail_in = uInt(packed.size());
    z.next_out = back.data();
    z.avail_out = uInt(back.size());
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
    EXPECT_EQ(z.avail_in, 0u);
    back.resize(z.total_out);
    EXPECT_TRUE(back == data);
    inflateEnd(&z);
}

TEST(KelStreamDeflateWrite, GzipHeaderFieldsReadBackByZlib) {
    const Bytes data = kel::test::readCorpusFile("alice29.txt");
    const Bytes extra = {'K', 'L', 4, 0, 1, 2, 3, 4};
    for (const bool withCrc : {false, true}) {
        KelStreamOptions o = optionsFor(9);
        o.name = "notes.txt";
        o.comment = "a comment";
        o.extra = extra.data();
        o.extraLen = extra.size();
        o.mtime = 1234567890;
        o.os = 11;
        o.headerCrc = withCrc;
        const Bytes packed = compressWhole(kelFormatGzip, data, o);
        ZlibGzipHeader z;
        readGzipHeader(packed, data, z);
        EXPECT_STREQ(reinterpret_cast<const char*>(z.name), "notes.txt");
        EXPECT_STREQ(reinterpret_cast<const char*>(z.comment), "a comment");
        ASSERT_EQ(z.h.extra_len, extra.size());
        EXPECT_TRUE(Bytes(z.extra, z.extra + extra.size()) == extra);
        EXPECT_EQ(z.h.time, 1234567890u);
        EXPECT_EQ(z.h.os, 11);
        EXPECT_EQ(z.h.xflags, 2);  // level 9
        EXPECT_EQ(z.h.hcrc, withCrc ? 1 : 0);
        if (withCrc) {
            // The stored CRC covers every header byte before it: zlib checks it, and a changed comment byte fails.
            Bytes damaged = packed;
            damaged[10 + 2 + extra.size() + 3] ^= 1;
            Bytes back;
            EXPECT_FALSE(kel::test::zlibInflate(damaged, 31, back));
        }
    }
    // Without fields: none of the flags, mtime 0, OS 3 by default; XFL 4 for level 1 and the fastest mode, 0 for 6.
    for (auto [level, xfl] : {std::pair{1, 4}, std::pair{-1, 4}, std::pair{6, 0}, std::pair{0, 0}, std::pair{19, 2}}) {
        const Bytes packed = compressWhole(kelFormatGzip, data, optionsFor(level));
        ASSERT_GE(packed.size(), 18u);
        EXPECT_EQ(Bytes(packed.begin(), packed.begin() + 10),
                  (Bytes{0x1f, 0x8b, 8, 0, 0, 0, 0, 0, std::uint8_t(xfl), 3}))
            << "level " << level;
    }
    // A time gzip's 32 bits cannot hold is stored as none.
    KelStreamOptions o = optionsFor(6);
    o.mtime = -5;
    EXPECT_EQ(compressWhole(kelFormatGzip, data, o)[4], 0);
    o.mtime = std::int64_t(1) << 33;
    EXPECT_EQ(compressWhole(kelFormatGzip, data, o)[7], 0);
}

TEST(KelStreamDeflateWrite, HeaderOfTheCompressorReportsWhatItWrites) {
    KelStreamOptions o = optionsFor(9);
    o.name = "n";
    o.comment = "c";
    o.mtime = 77;
    o.headerCrc = 1;
    KelStream* s = nullptr;
    ASSERT_EQ(kelStreamCreate(&s, kelFormatGzip, kelCompress, &o), kelStreamOk);
    KelStreamHeader h;
    ASSERT_EQ(kelStreamGetHeader(s, &h), kelStreamOk);
    EXPECT_EQ(h.format, kelFormatGzip);
    EXPECT_EQ(h.complete, 0);
    EXPECT_STREQ(h.name, "n");
    EXPECT_STREQ(h.comment, "c");
    EXPECT_EQ(h.extra, nullptr);
    EXPECT_EQ(h.mtime, 77);
    EXPECT_EQ(h.os, 3);
    EXPECT_EQ(h.headerCrc, 1);
    EXPECT_EQ(h.level, 2);
    std::uint8_t out[256];
    std::size_t srcLen = 3, dstLen = sizeof out;
    ASSERT_EQ(kelStreamProcess(s, "abc", &srcLen, out, &dstLen, kelFlushFinish), kelStreamEnd);
    ASSERT_EQ(kelStreamGetHeader(s, &h), kelStreamOk);
    EXPECT_EQ(h.complete, 1);
    EXPECT_EQ(h.totalIn, 3u);
    EXPECT_EQ(h.totalOut, dstLen);
    kelStreamFree(s);

    const Bytes dict(100, 'd');
    o = optionsFor(1);
    o.dictionary = dict.data();
    o.dictionaryLen = dict.size();
    ASSERT_EQ(kelStreamCreate(&s, kelFormatZlib, kelCompress, &o), kelStreamOk);
    ASSERT_EQ(kelStreamGetHeader(s, &h), kelStreamOk);
    EXPECT_EQ(h.level, 0);
    EXPECT_EQ(h.hasDictId, 1);
    EXPECT_EQ(h.dictId, adler32(1, dict.data(), uInt(dict.size())));
    EXPECT_EQ(h.os, -1);
    kelStreamFree(s);
}

TEST(KelStreamDeflateWrite, ZlibHeaderRecordsTheLevelClass) {
    const Bytes data(1000, 'z');
    for (auto [level, flevel] : {std::pair{1, 0}, std::pair{2, 1}, std::pair{5, 1}, std::pair{0, 2}, std::pair{6, 2},
                                 std::pair{7, 3}, std::pair{9, 3}, std::pair{-1, 2}, std::pair{11, 0}}) {
        const Bytes packed = compressWhole(kelFormatZlib, data, optionsFor(level));
        EXPECT_EQ(packed[0], 0x78);
        EXPECT_EQ(packed[1] >> 6, flevel) << "level " << level;
        EXPECT_EQ((packed[0] * 256 + packed[1]) % 31, 0);
        EXPECT_EQ(packed[1] & 0x20, 0);
    }
}

// The gzip tool restores the data, lists the stored name and size, and with -N restores the name and time; it also
// checks the header CRC.
TEST(KelStreamDeflateWrite, GzipToolReadsWhatIsWritten) {
    if (std::system("gzip --version > /dev/null 2>&1") != 0) {
        if (std::getenv("CI") == nullptr) GTEST_SKIP() << "gzip is not installed";
        FAIL() << "gzip is required when CI is set";
    }
    char dirTemplate[] = "/tmp/kelstream_gzip_XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    const std::string dir = dirTemplate;
    const Bytes data = kel::test::readCorpusFile("lcet10.txt");
    for (int level : {1, 6, 9, -1}) {
        KelStreamOptions o = optionsFor(level);
        o.name = "restored.txt";
        o.comment = "kel";
        o.mtime = 1000000000;
        o.headerCrc = 1;
        const Bytes packed = compressWhole(kelFormatGzip, data, o);
        const std::string gz = dir + "/packed.gz";
        std::ofstream(gz, std::ios::binary).write(reinterpret_cast<const char*>(packed.data()), long(packed.size()));
        ASSERT_EQ(std::system(("gzip -dc " + gz + " > " + dir + "/plain").c_str()), 0) << "level " << level;
        EXPECT_TRUE(readWholeFile(dir + "/plain") == data);
        const std::string listing = dir + "/listing";
        ASSERT_EQ(std::system(("gzip -lN " + gz + " > " + listing).c_str()), 0);
        std::ifstream list(listing);
        std::string line, all;
        while (std::getline(list, line)) all += line + "\n";
        EXPECT_NE(all.find(std::to_string(data.size())), std::string::npos) << all;
        EXPECT_NE(all.find("restored.txt"), std::string::npos) << all;
        ASSERT_EQ(std::system(("cd " + dir + " && gzip -dNf packed.gz").c_str()), 0);
        struct stat st {};
        ASSERT_EQ(stat((dir + "/restored.txt").c_str(), &st), 0);
        EXPECT_EQ(st.st_mtime, 1000000000);
        EXPECT_TRUE(readWholeFile(dir + "/restored.txt") == data);
        std::remove((dir + "/restored.txt").c_str());
        // A damaged header CRC is refused.
        Bytes damaged = packed;
        damaged[damaged.size() > 40 ? 12 : 10] ^= 0x20;  // a byte of the name
        std::ofstream(gz, std::ios::binary).write(reinterpret_cast<const char*>(damaged.data()), long(damaged.size()));
        EXPECT_NE(std::system(("gzip -t " + gz + " 2> /dev/null").c_str()), 0);
    }
    std::system(("rm -rf " + dir).c_str());
}

TEST(KelStreamDeflateWrite, PresetDictionaryRoundTrips) {
    const Bytes text = kel::test::readCorpusFile("lcet10.txt");
    const Bytes data(text.begin() + 200000, text.begin() + 260000);
    for (std::size_t dictLen : {3, 100, 300, 20000, 40000}) {
        const Bytes dict(text.begin(), text.begin() + long(dictLen));
        for (int level : {1, 6, 9, 20, -1}) {
            for (KelStreamFormat f : {kelFormatZlib, kelFormatDeflate}) {
                SCOPED_TRACE(describe(f, level, data.size()) + ", dictionary " + std::to_string(dictLen));
                // Through the options and through kelStreamSetDictionary: the same bytes.
                KelStreamOptions o = optionsFor(level);
                o.dictionary = dict.data();
                o.dictionaryLen = dict.size();
                const Bytes viaOptions = compressWhole(f, data, o);
                expectRestores(f, viaOptions, data, &dict);
                auto all = [] { return std::size_t(1) << 24; };
                const Bytes viaCall = compressPieces(f, data, optionsFor(level), all, all, &dict);
                EXPECT_TRUE(viaCall == viaOptions);
                if (dictLen >= 20000) EXPECT_LT(viaOptions.size(), compressWhole(f, data, optionsFor(level)).size());
                if (f == kelFormatZlib) {
                    EXPECT_EQ(viaOptions[1] & 0x20, 0x20);
                    const uLong id = adler32(1, dict.data(), uInt(dict.size()));
                    EXPECT_EQ(Bytes(viaOptions.begin() + 2, viaOptions.begin() + 6),
                              (Bytes{std::uint8_t(id >> 24), std::uint8_t(id >> 16), std::uint8_t(id >> 8),
                                     std::uint8_t(id)}));
                }
            }
        }
    }
    // zlib refuses a stream whose dictionary id does not match the dictionary it is given.
    const Bytes dict(text.begin(), text.begin() + 1000), other(text.begin() + 1, text.begin() + 1001);
    KelStreamOptions o = optionsFor(6);
    o.dictionary = dict.data();
    o.dictionaryLen = dict.size();
    const Bytes packed = compressWhole(kelFormatZlib, Bytes(data.begin(), data.begin() + 1000), o);
    Bytes out;
    EXPECT_FALSE(kel::test::zlibInflate(packed, 15, out, &other));
    // An empty dictionary is none.
    o.dictionaryLen = 0;
    EXPECT_EQ(compressWhole(kelFormatZlib, data, o)[1] & 0x20, 0);
    // A dictionary longer than the window: the header names all of it, matching uses its last 32 KiB.
    const Bytes longDict(text.begin(), text.begin() + 100000);
    o.dictionary = longDict.data();
    o.dictionaryLen = longDict.size();
    expectRestores(kelFormatZlib, compressWhole(kelFormatZlib, data, o), data, &longDict);
}

TEST(KelStreamDeflateWrite, MisuseIsRefused) {
    KelStream* s = nullptr;
    KelStreamOptions o = optionsFor(30);
    EXPECT_EQ(kelStreamCreate(&s, kelFormatZlib, kelCompress, &o), kelStreamErrArgument);
    EXPECT_EQ(s, nullptr);
    std::size_t bound = 0;
    EXPECT_EQ(kelStreamCompress(kelFormatGzip, "x", 1, nullptr, &bound, &o), kelStreamErrArgument);

    const std::uint8_t dict[4] = {1, 2, 3, 4};
    ASSERT_EQ(kelStreamCreate(&s, kelFormatGzip, kelCompress, nullptr), kelStreamOk);
    EXPECT_EQ(kelStreamSetDictionary(s, dict, 4), kelStreamErrUnsupported);
    kelStreamFree(s);

    ASSERT_EQ(kelStreamCreate(&s, kelFormatZlib, kelCompress, nullptr), kelStreamOk);
    std::uint8_t out[64];
    std::size_t srcLen = 2, dstLen = sizeof out;
    ASSERT_EQ(kelStreamProcess(s, "ab", &srcLen, out, &dstLen, kelFlushNone), kelStreamOk);
    EXPECT_EQ(kelStreamSetDictionary(s, dict, 4), kelStreamErrArgument);
    srcLen = 0;
    dstLen = sizeof out;
    ASSERT_EQ(kelStreamProcess(s, nullptr, &srcLen, out, &dstLen, kelFlushFinish), kelStreamEnd);
    srcLen = 1;
    dstLen = sizeof out;
    EXPECT_EQ(kelStreamProcess(s, "c", &srcLen, out, &dstLen, kelFlushNone), kelStreamErrArgument);
    EXPECT_EQ(srcLen, 0u);
    kelStreamFree(s);
}

// Reset starts the same stream again: the options' dictionary is loaded again, one set by call is dropped.
TEST(KelStreamDeflateWrite, ResetStartsAFreshStream) {
    const Bytes a = kel::test::readCorpusFile("alice29.txt");
    const Bytes b = kel::test::readCorpusFile("html");
    const Bytes dict(a.begin(), a.begin() + 20000);
    for (int level : {6, -1}) {
        KelStreamOptions o = optionsFor(level);
        o.dictionary = dict.data();
        o.dictionaryLen = dict.size();
        const Bytes first = compressWhole(kelFormatZlib, a, o);
        KelStream* s = nullptr;
        ASSERT_EQ(kelStreamCreate(&s, kelFormatZlib, kelCompress, &o), kelStreamOk);
        Bytes out(kelStreamCompressBound(kelFormatZlib, b.size(), &o));
        // Abandon a stream half-way with output still pending, then start over.
        std::size_t srcLen = b.size(), dstLen = 10;
        ASSERT_EQ(kelStreamProcess(s, b.data(), &srcLen, out.data(), &dstLen, kelFlushSync), kelStreamOk);
        ASSERT_EQ(kelStreamReset(s), kelStreamOk);
        srcLen = a.size();
        dstLen = out.size();
        ASSERT_EQ(kelStreamProcess(s, a.data(), &srcLen, out.data(), &dstLen, kelFlushFinish), kelStreamEnd);
        EXPECT_TRUE(Bytes(out.begin(), out.begin() + long(dstLen)) == first);
        kelStreamFree(s);
    }
}

// The fastest mode picks stored blocks for noise, fixed codes for tiny inputs and dynamic codes for text: the
// first block's type is in bits 1-2 of a raw stream's first byte.
TEST(KelStreamDeflateWrite, FastestModeChoosesBlockKinds) {
    SCOPED_TRACE(kel::test::seedNote());
    auto rng = kel::test::makeRng(62);
    const KelStreamOptions o = optionsFor(-1);
    const Bytes tiny = {'a', 'b', 'c'};
    const Bytes noise = kel::test::randomBytes(rng, 200000);
    const Bytes text = kel::test::readCorpusFile("lcet10.txt");
    const std::pair<const Bytes*, int> cases[] = {{&tiny, 1}, {&noise, 0}, {&text, 2}};
    for (auto [in, kind] : cases) {
        const Bytes packed = compressWhole(kelFormatDeflate, *in, o);
        expectRestores(kelFormatDeflate, packed, *in);
        EXPECT_EQ((packed[0] >> 1) & 3, kind) << in->size() << " bytes";
    }
    EXPECT_LT(compressWhole(kelFormatDeflate, noise, o).size(), noise.size() + 64);
    // Empty input: one empty final block.
    expectRestores(kelFormatDeflate, compressWhole(kelFormatDeflate, {}, o), {});
}

// The fastest mode codes each block with codes from a sample at its start, so a block must end where the data
// changes kind: text, then noise, then text again, in one piece, in many pieces and with a sync flush between,
// come out about as small as the three compressed apart (a block coding noise with text codes, or text with
// stored or noise codes, costs far more). The input ends inside a block that is cut short, so the final-block bit
// must move to the block that really ends it (zlib stops at the first final block).
TEST(KelStreamDeflateWrite, FastestModeEndsBlocksWhereTheDataChanges) {
    SCOPED_TRACE(kel::test::seedNote());
    auto rng = kel::test::makeRng(71);
    const KelStreamOptions o = optionsFor(-1);
    const Bytes text = kel::test::readCorpusFile("lcet10.txt");
    const Bytes noise = kel::test::randomBytes(rng, 150000);
    const Bytes verse = kel::test::readCorpusFile("asyoulik.txt");
    Bytes mixed;
    for (const Bytes* part : {&text, &noise, &verse}) mixed.insert(mixed.end(), part->begin(), part->end());
    std::size_t apart = 0;
    for (const Bytes* part : {&text, &noise, &verse}) apart += compressWhole(kelFormatDeflate, *part, o).size();

    const Bytes whole = compressWhole(kelFormatDeflate, mixed, o);
    expectRestores(kelFormatDeflate, whole, mixed);
    EXPECT_LE(double(whole.size()), 1.01 * double(apart));
    for (std::size_t piece : {std::size_t(1000), std::size_t(65536), std::size_t(700000)}) {
        SCOPED_TRACE(piece);
        const auto in = [piece] { return piece; };
        const auto outRoom = [] { return std::size_t(1) << 16; };
        EXPECT_TRUE(compressPieces(kelFormatDeflate, mixed, o, in, outRoom) == whole);
    }

    // A sync flush in the middle of the text: the rest of the stream still ends its blocks at the changes.
    KelStream* s = nullptr;
    ASSERT_EQ(kelStreamCreate(&s, kelFormatDeflate, kelCompress, &o), kelStreamOk);
    Bytes packed(kelStreamCompressBound(kelFormatDeflate, mixed.size(), &o) + 16);
    std::size_t at = 0, out = 0;
    for (auto [end, flush] : {std::pair{std::size_t(200000), kelFlushSync}, std::pair{mixed.size(), kelFlushFinish}}) {
        std::size_t srcLen = end - at, dstLen = packed.size() - out;
        ASSERT_GE(kelStreamProcess(s, mixed.data() + at, &srcLen, packed.data() + out, &dstLen, flush), 0);
        at += srcLen;
        out += dstLen;
    }
    kelStreamFree(s);
    packed.resize(out);
    expectRestores(kelFormatDeflate, packed, mixed);
    EXPECT_LE(double(packed.size()), 1.02 * double(apart));
}

// Sizes over the whole corpus against zlib at the same level (default strategy, raw): within 1% at 1 to 9, and
// the fastest mode within 2% of zlib's level 1.
TEST(KelStreamDeflateWrite, SizesStayWithinOnePercentOfZlib) {
    std::size_t plain = 0;
    std::size_t ours[11] = {}, theirs[10] = {};
    for (const std::string& name : kel::test::corpusFileNames()) {
        const Bytes data = kel::test::readCorpusFile(name);
        plain += data.size();
        for (int level = 1; level <= 9; ++level) {
            ours[level] += compressWhole(kelFormatDeflate, data, optionsFor(level)).size();
            z_stream z{};
            ASSERT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
            Bytes out(deflateBound(&z, uLong(data.size())));
            z.next_in = const_cast<Bytef*>(data.data());
            z.avail_in = uInt(data.size());
            z.next_out = out.data();
            z.avail_out = uInt(out.size());
            ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
            theirs[level] += z.total_out;
            deflateEnd(&z);
        }
        ours[10] += compressWhole(kelFormatDeflate, data, optionsFor(-1)).size();
    }
    for (int level = 1; level <= 9; ++level) {
        std::printf("level %d: %zu bytes, zlib %zu (%.2f%%)\n", level, ours[level], theirs[level],
                    100.0 * (double(ours[level]) / double(theirs[level]) - 1));
        EXPECT_LE(double(ours[level]), 1.01 * double(theirs[level])) << "level " << level;
    }
    // Level 1's search is chosen to stay no larger than zlib's level 1, without slack.
    EXPECT_LE(ours[1], theirs[1]);
    std::printf("fastest: %zu bytes, zlib level 1 %zu (%.2f%%), input %zu\n", ours[10], theirs[1],
                100.0 * (double(ours[10]) / double(theirs[1]) - 1), plain);
    EXPECT_LE(double(ours[10]), 1.02 * double(theirs[1]));
}

// Every allocation may fail: the result is kelStreamErrMemory (at create or later), never a crash or a leak.
struct FailingAllocator {
    int allowed = 0;
    int live = 0;
    static void* alloc(void* opaque, std::size_t n) {
        auto* self = static_cast<FailingAllocator*>(opaque);
        if (self->allowed-- <= 0) return nullptr;
        ++self->live;
        return std::malloc(n);
    }
    static void release(void* opaque, void* p) {
        auto* self = static_cast<FailingAllocator*>(opaque);
        if (p) --self->live;
        std::free(p);
    }
};

TEST(KelStreamDeflateWrite, AllocationFailuresGiveErrMemory) {
    const Bytes data = kel::test::readCorpusFile("html");
    for (int level : {6, -1}) {
        for (KelStreamFormat f : kFormats) {
            bool succeeded = false;
            for (int allowed = 0; allowed < 40 && !succeeded; ++allowed) {
                FailingAllocator fa;
                fa.allowed = allowed;
                KelStreamOptions o = optionsFor(level);
                o.alloc = FailingAllocator::alloc;
                o.free = FailingAllocator::release;
                o.opaque = &fa;
                o.name = f == kelFormatGzip ? "name" : nullptr;
                const std::uint8_t dict[5] = {1, 2, 3, 4, 5};
                if (f != kelFormatGzip) {
                    o.dictionary = dict;
                    o.dictionaryLen = sizeof dict;
                }
                Bytes out(kelStreamCompressBound(f, data.size(), &o));
                std::size_t n = out.size();
                const KelStreamResult r = kelStreamCompress(f, data.data(), data.size(), out.data(), &n, &o);
                ASSERT_TRUE(r == kelStreamEnd || r == kelStreamErrMemory) << r;
                EXPECT_EQ(fa.live, 0) << "allowed " << allowed;
                succeeded = r == kelStreamEnd;
                if (succeeded) {
                    out.resize(n);
                    const Bytes d(dict, dict + 5);
                    expectRestores(f, out, data, f == kelFormatGzip ? nullptr : &d);
                }
            }
            EXPECT_TRUE(succeeded) << describe(f, level, data.size());
        }
    }
}

}  // namespace

namespace {

// Allocations that fail while the output grows, in the middle of a long piece matched where it lies: the writer
// stops with kelStreamErrMemory and touches nothing beyond its buffers (its window must not take the unmatched
// rest of the piece).
TEST(KelStreamDeflateWrite, OutputGrowthFailingMidPieceStopsCleanly) {
    Bytes data;
    const Bytes text = kel::test::readCorpusFile("alice29.txt");
    std::mt19937 rng(7);
    while (data.size() < (3u << 20)) {
        data.insert(data.end(), text.begin(), text.end());
        for (int i = 0; i < 4096; ++i) data.push_back(std::uint8_t(rng()));
    }
    for (int level : {1, 6, -1}) {
        // Count the allocations of a run that succeeds, then fail each one in turn.
        FailingAllocator counter;
        counter.allowed = 1 << 30;
        KelStreamOptions o = optionsFor(level);
        o.alloc = FailingAllocator::alloc;
        o.free = FailingAllocator::release;
        o.opaque = &counter;
        auto run = kel::test::runStream(kelFormatGzip, kelCompress, data, &o, 0);
        ASSERT_EQ(run.result, kelStreamEnd);
        const int total = (1 << 30) - counter.allowed;
        for (int allowed = 0; allowed < total; ++allowed) {
            FailingAllocator fa;
            fa.allowed = allowed;
            o.opaque = &fa;
            run = kel::test::runStream(kelFormatGzip, kelCompress, data, &o, 0);
            EXPECT_EQ(run.result, kelStreamErrMemory) << "level " << level << " allowed " << allowed;
            EXPECT_EQ(fa.live, 0);
        }
    }
}

}  // namespace

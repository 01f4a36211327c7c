// tests/stream/kelstream_lz4_test.cpp - LZ4 frames through libkelstream: every frame option round trip in pieces of
// random sizes, liblz4 and the lz4 tool as peers in both directions, skippable frames, legacy streams, entries,
// trailing bytes, and damaged input.
#include <gtest/gtest.h>
#include <lz4.h>
#include <lz4frame.h>
#include <lz4hc.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "stream/xxhash.cpp"  // the frame checksum, compiled in: the library does not export it
#include "support/kelstream_util.h"
#include "support/test_util.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using kel::test::runStream;

Bytes cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Text, a JPEG (incompressible: stored blocks) and text again: about 670 KB, more than two 256 KiB blocks.
const Bytes& sample() {
    static const Bytes s = cat(cat(kel::test::readCorpusFile("html_x_4"), kel::test::readCorpusFile("fireworks.jpeg")),
                               kel::test::readCorpusFile("alice29.txt"));
    return s;
}

struct FrameOptions {
    int sizeId = 7;
    bool linked = false, blockSum = false, contentSum = true;
    bool withSize = false;
    int hcLevel = 0;  // 0: the fast encoder
    std::string text() const {
        return "B" + std::to_string(sizeId) + (linked ? " linked" : "") + (blockSum ? " blocksum" : "") +
               (contentSum ? " contentsum" : "") + (withSize ? " size" : "") + " hc" + std::to_string(hcLevel);
    }
};

KelStreamOptions toOptions(const FrameOptions& f, std::size_t contentSize) {
    KelStreamOptions o = kel::test::defaultStreamOptions();
    o.lz4BlockSizeId = f.sizeId;
    o.lz4Linked = f.linked;
    o.lz4BlockChecksum = f.blockSum;
    o.lz4ContentChecksum = f.contentSum;
    o.contentSize = f.withSize ? std::int64_t(contentSize) : -1;
    o.lz4HighCompression = f.hcLevel != 0;
    o.level = f.hcLevel;
    return o;
}

Bytes compress(const Bytes& src, const KelStreamOptions& o, std::size_t maxPiece = 0, std::uint32_t seed = 1) {
    kel::test::StreamRun run = runStream(kelFormatLz4, kelCompress, src, &o, maxPiece, seed);
    EXPECT_EQ(run.result, kelStreamEnd) << run.message;
    return run.out;
}

kel::test::StreamRun decode(const Bytes& frame, std::size_t maxPiece = 0, std::uint32_t seed = 1,
                            const KelStreamOptions* o = nullptr) {
    return runStream(kelFormatLz4, kelDecompress, frame, o, maxPiece, seed);
}

// liblz4's frame decoder, which checks the descriptor and every checksum.
bool liblz4Decode(const Bytes& frame, Bytes* out) {
    LZ4F_dctx* ctx = nullptr;
    if (LZ4F_isError(LZ4F_createDecompressionContext(&ctx, LZ4F_VERSION))) return false;
    out->clear();
    Bytes buf(1 << 16);
    std::size_t pos = 0, ret = 1;
    while (pos < frame.size() && ret != 0) {
        std::size_t inLen = frame.size() - pos, outLen = buf.size();
        ret = LZ4F_decompress(ctx, buf.data(), &outLen, frame.data() + pos, &inLen, nullptr);
        if (LZ4F_isError(ret)) break;
        pos += inLen;
        out->insert(out->end(), buf.begin(), buf.begin() + std::ptrdiff_t(outLen));
    }
    LZ4F_freeDecompressionContext(ctx);
    return ret == 0 && pos == frame.size();
}

Bytes liblz4Encode(const Bytes& src, const FrameOptions& f, unsigned dictId = 0) {
    LZ4F_preferences_t p{};
    p.frameInfo.blockSizeID = LZ4F_blockSizeID_t(f.sizeId);
    p.frameInfo.blockMode = f.linked ? LZ4F_blockLinked : LZ4F_blockIndependent;
    p.frameInfo.blockChecksumFlag = f.blockSum ? LZ4F_blockChecksumEnabled : LZ4F_noBlockChecksum;
    p.frameInfo.contentChecksumFlag = f.contentSum ? LZ4F_contentChecksumEnabled : LZ4F_noContentChecksum;
    p.frameInfo.contentSize = f.withSize ? src.size() : 0;
    p.frameInfo.dictID = dictId;
    p.compressionLevel = f.hcLevel;
    Bytes out(LZ4F_compressFrameBound(src.size(), &p));
    out.resize(LZ4F_compressFrame(out.data(), out.size(), src.data(), src.size(), &p));
    return out;
}

// A legacy stream: the magic, then each piece as one block (a 32-bit compressed length and an LZ4 block).
Bytes legacyStream(const Bytes& src, const std::vector<std::size_t>& pieces) {
    Bytes out = {0x02, 0x21, 0x4C, 0x18};
    std::size_t pos = 0;
    for (std::size_t n : pieces) {
        Bytes block(static_cast<std::size_t>(LZ4_compressBound(static_cast<int>(n))));
        const int len = LZ4_compress_HC(reinterpret_cast<const char*>(src.data() + pos),
                                        reinterpret_cast<char*>(block.data()), int(n), int(block.size()), 9);
        for (int i = 0; i < 4; ++i) out.push_back(std::uint8_t(std::uint32_t(len) >> (8 * i)));
        out.insert(out.end(), block.begin(), block.begin() + len);
        pos += n;
    }
    return out;
}

// ---- checksum ------------------------------------------------------------------------------------------------

TEST(Lz4StreamXxHash, KnownValuesAndSplits) {
    using kel::stream::XxHash32;
    EXPECT_EQ(XxHash32::hash(nullptr, 0), 0x02CC5D05u);
    EXPECT_EQ(XxHash32::hash(reinterpret_cast<const std::uint8_t*>("abc"), 3), 0x32D153FFu);
    auto rng = kel::test::makeRng(2);
    const Bytes data = kel::test::randomBytes(rng, 1000);
    for (std::size_t n : {0, 1, 15, 16, 17, 100, 1000}) {
        const std::uint32_t whole = XxHash32::hash(data.data(), n, 7);
        for (std::size_t cut = 0; cut <= n; cut += 1 + cut / 3) {
            XxHash32 h(7);
            h.update(data.data(), cut);
            h.update(data.data() + cut, n - cut);
            ASSERT_EQ(h.digest(), whole) << n << " " << cut;
        }
    }
}

// ---- compression ---------------------------------------------------------------------------------------------

// Every combination of block size, linking, both checksums, content size and encoder: the frame is the same
// however input and output are split, liblz4 decodes it, and so do we in pieces of random sizes.
TEST(Lz4StreamCompress, EveryOptionCombinationRoundTripsAndDecodesWithLiblz4) {
    const Bytes& src = sample();
    int combo = 0;
    for (int sizeId = 4; sizeId <= 7; ++sizeId) {
        for (int bits = 0; bits < 32; ++bits, ++combo) {
            FrameOptions f;
            f.sizeId = sizeId;
            f.linked = bits & 1;
            f.blockSum = bits & 2;
            f.contentSum = bits & 4;
            f.withSize = bits & 8;
            f.hcLevel = bits & 16 ? 1 + combo % 9 : 0;
            SCOPED_TRACE(f.text());
            const KelStreamOptions o = toOptions(f, src.size());
            const Bytes whole = compress(src, o);
            const Bytes pieces = compress(src, o, 1 + combo * 397 % 9000, std::uint32_t(combo));
            ASSERT_TRUE(whole == pieces);
            Bytes theirs;
            ASSERT_TRUE(liblz4Decode(whole, &theirs));
            ASSERT_TRUE(theirs == src);
            const kel::test::StreamRun ours = decode(whole, 1 + combo * 211 % 5000, std::uint32_t(combo));
            ASSERT_EQ(ours.result, kelStreamEnd) << ours.message;
            ASSERT_TRUE(ours.out == src);
            ASSERT_EQ(ours.consumed, whole.size());
        }
    }
}

// One-byte pieces on both sides through every state of both directions, with 1 MiB and 4 MiB blocks spanning
// more than one block as well.
TEST(Lz4StreamCompress, OneBytePiecesAndLargeBlocks) {
    const Bytes small(sample().begin(), sample().begin() + 150000);
    for (bool linked : {false, true}) {
        FrameOptions f;
        f.sizeId = 4;
        f.linked = linked;
        f.blockSum = true;
        f.withSize = true;
        const KelStreamOptions o = toOptions(f, small.size());
        const Bytes frame = compress(small, o, 1);
        EXPECT_TRUE(frame == compress(small, o));
        const kel::test::StreamRun run = decode(frame, 1);
        ASSERT_EQ(run.result, kelStreamEnd) << run.message;
        EXPECT_TRUE(run.out == small);
    }
    Bytes big;
    for (const std::string& name : kel::test::corpusFileNames()) big = cat(big, kel::test::readCorpusFile(name));
    big = cat(big, big);  // about 5.8 MB
    for (int sizeId : {6, 7}) {
        for (bool linked : {false, true}) {
            FrameOptions f;
            f.sizeId = sizeId;
            f.linked = linked;
            const Bytes frame = compress(big, toOptions(f, big.size()), 300000, 5);
            Bytes theirs;
            ASSERT_TRUE(liblz4Decode(frame, &theirs));
            EXPECT_TRUE(theirs == big);
            const kel::test::StreamRun run = decode(frame, 100000, 6);
            ASSERT_EQ(run.result, kelStreamEnd) << run.message;
            EXPECT_TRUE(run.out == big);
        }
    }
}

// Linking pays off with small blocks, and more so with the high-compression encoder.
TEST(Lz4StreamCompress, LinkedBlocksAndHighCompressionShrinkTheFrame) {
    FrameOptions f;
    f.sizeId = 4;
    const std::size_t independent = compress(sample(), toOptions(f, 0)).size();
    f.linked = true;
    const std::size_t linked = compress(sample(), toOptions(f, 0)).size();
    f.hcLevel = 9;
    const std::size_t hc = compress(sample(), toOptions(f, 0)).size();
    EXPECT_LT(linked, independent);
    EXPECT_LT(hc, linked);
}

// A sync flush ends the block: everything given so far decodes from the output so far.
TEST(Lz4StreamCompress, SyncFlushMakesTheInputSoFarDecodable) {
    const Bytes& src = sample();
    for (bool linked : {false, true}) {
        KelStreamOptions o = kel::test::defaultStreamOptions();
        o.lz4Linked = linked;
        KelStream* s = nullptr;
        ASSERT_EQ(kelStreamCreate(&s, kelFormatLz4, kelCompress, &o), kelStreamOk);
        Bytes out, buf(777);
        auto pump = [&](const std::uint8_t* in, std::size_t n, KelStreamFlush flush) {
            for (int guard = 0; guard < 100000; ++guard) {
                std::size_t srcLen = n, dstLen = buf.size();
                KelStreamResult r = kelStreamProcess(s, in, &srcLen, buf.data(), &dstLen, flush);
                out.insert(out.end(), buf.begin(), buf.begin() + std::ptrdiff_t(dstLen));
                in += srcLen;
                n -= srcLen;
                if (r != kelStreamOk) return r;
            }
            return kelStreamErrLibrary;
        };
        const std::size_t half = 100001;
        EXPECT_EQ(pump(src.data(), half, kelFlushSync), kelStreamFlushed);
        // liblz4 hands out all of the first half from the output so far, though the frame is not complete.
        LZ4F_dctx* ctx = nullptr;
        ASSERT_FALSE(LZ4F_isError(LZ4F_createDecompressionContext(&ctx, LZ4F_VERSION)));
        Bytes part(2 * half);
        std::size_t inLen = out.size(), outLen = part.size();
        ASSERT_FALSE(LZ4F_isError(LZ4F_decompress(ctx, part.data(), &outLen, out.data(), &inLen, nullptr)));
        LZ4F_freeDecompressionContext(ctx);
        EXPECT_EQ(inLen, out.size());
        ASSERT_EQ(outLen, half);
        EXPECT_TRUE(std::equal(part.begin(), part.begin() + half, src.begin()));
        // A second sync with nothing new adds nothing.
        const std::size_t before = out.size();
        EXPECT_EQ(pump(nullptr, 0, kelFlushSync), kelStreamFlushed);
        EXPECT_EQ(out.size(), before);
        EXPECT_EQ(pump(src.data() + half, src.size() - half, kelFlushFinish), kelStreamEnd);
        kelStreamFree(s);
        Bytes theirs;
        ASSERT_TRUE(liblz4Decode(out, &theirs));
        EXPECT_TRUE(theirs == src);
    }
}

// The dictionary ID and content size land in the descriptor, where liblz4 and our own header read them.
TEST(Lz4StreamCompress, DescriptorCarriesDictionaryIdAndContentSize) {
    const Bytes src(sample().begin(), sample().begin() + 70000);
    KelStreamOptions o = kel::test::defaultStreamOptions();
    o.hasDictId = 1;
    o.dictId = 0xFEEDBEEFu;
    o.contentSize = std::int64_t(src.size());
    o.lz4BlockSizeId = 5;
    const Bytes frame = compress(src, o, 999);
    LZ4F_dctx* ctx = nullptr;
    ASSERT_FALSE(LZ4F_isError(LZ4F_createDecompressionContext(&ctx, LZ4F_VERSION)));
    LZ4F_frameInfo_t info{};
    std::size_t inLen = frame.size();
    ASSERT_FALSE(LZ4F_isError(LZ4F_getFrameInfo(ctx, &info, frame.data(), &inLen)));
    LZ4F_freeDecompressionContext(ctx);
    EXPECT_EQ(info.dictID, 0xFEEDBEEFu);
    EXPECT_EQ(info.contentSize, src.size());
    EXPECT_EQ(info.blockSizeID, LZ4F_max256KB);
    Bytes theirs;
    ASSERT_TRUE(liblz4Decode(frame, &theirs));
    EXPECT_TRUE(theirs == src);

    KelStream* s = nullptr;
    ASSERT_EQ(kelStreamCreate(&s, kelFormatLz4, kelDecompress, nullptr), kelStreamOk);
    Bytes out(src.size());
    std::size_t srcLen = frame.size(), dstLen = out.size();
    EXPECT_EQ(kelStreamProcess(s, frame.data(), &srcLen, out.data(), &dstLen, kelFlushFinish), kelStreamEnd);
    KelStreamHeader h;
    kelStreamGetHeader(s, &h);
    kelStreamFree(s);
    EXPECT_EQ(h.hasDictId, 1);
    EXPECT_EQ(h.dictId, 0xFEEDBEEFu);
    EXPECT_EQ(h.contentSize, std::int64_t(src.size()));
    EXPECT_TRUE(out == src);
}

TEST(Lz4StreamCompress, RejectsOptionsOutOfRangeAndWrongContentSize) {
    KelStream* s = nullptr;
    KelStreamOptions o = kel::test::defaultStreamOptions();
    for (int id : {0, 3, 8}) {
        o.lz4BlockSizeId = id;
        EXPECT_EQ(kelStreamCreate(&s, kelFormatLz4, kelCompress, &o), kelStreamErrArgument) << id;
    }
    o = kel::test::defaultStreamOptions();
    o.lz4HighCompression = 1;
    o.level = 10;
    EXPECT_EQ(kelStreamCreate(&s, kelFormatLz4, kelCompress, &o), kelStreamErrArgument);
    o.level = 0;  // 9
    EXPECT_EQ(kelStreamCreate(&s, kelFormatLz4, kelCompress, &o), kelStreamOk);
    kelStreamFree(s);

    const Bytes src(1000, 'x');
    Bytes dst(kelStreamCompressBound(kelFormatLz4, src.size(), nullptr));
    for (std::int64_t declared : {999, 1001, 0}) {
        o = kel::test::defaultStreamOptions();
        o.contentSize = declared;
        std::size_t dstLen = dst.size();
        EXPECT_EQ(kelStreamCompress(kelFormatLz4, src.data(), src.size(), dst.data(), &dstLen, &o),
                  kelStreamErrArgument)
            << declared;
    }
    o.contentSize = 1000;
    std::size_t dstLen = dst.size();
    EXPECT_EQ(kelStreamCompress(kelFormatLz4, src.data(), src.size(), dst.data(), &dstLen, &o), kelStreamEnd);
}

// The bound holds for incompressible input with every per-block overhead on, at every block limit.
TEST(Lz4StreamCompress, BoundIsATrueWorstCase) {
    auto rng = kel::test::makeRng(7);
    const Bytes noise = kel::test::randomBytes(rng, (1 << 18) + 70000);
    for (int sizeId : {4, 5}) {
        for (std::size_t n : {std::size_t(0), std::size_t(1), std::size_t(65535), std::size_t(65536),
                              std::size_t(65537), std::size_t(1 << 18), noise.size()}) {
            KelStreamOptions o = kel::test::defaultStreamOptions();
            o.lz4BlockSizeId = sizeId;
            o.lz4BlockChecksum = 1;
            o.contentSize = std::int64_t(n);
            o.hasDictId = 1;
            const std::size_t bound = kelStreamCompressBound(kelFormatLz4, n, &o);
            std::unique_ptr<std::uint8_t[]> dst(new std::uint8_t[bound ? bound : 1]);
            std::size_t dstLen = bound;
            ASSERT_EQ(kelStreamCompress(kelFormatLz4, noise.data(), n, dst.get(), &dstLen, &o), kelStreamEnd)
                << sizeId << " " << n;
            EXPECT_LE(dstLen, bound);
        }
    }
}

// ---- decompression ---------------------------------------------------------------------------------------------

TEST(Lz4StreamDecompress, ReadsLiblz4FramesAndReportsTheirHeader) {
    const Bytes& src = sample();
    int i = 0;
    for (int sizeId : {4, 5, 6, 7}) {
        for (bool linked : {false, true}) {
            for (int level : {1, 9}) {
                FrameOptions f;
                f.sizeId = sizeId;
                f.linked = linked;
                f.hcLevel = level;
                f.blockSum = sizeId % 2 == 0;
                f.contentSum = sizeId != 7;
                f.withSize = level == 9;
                const unsigned dictId = linked ? 0xA1B2C3D4u : 0;
                SCOPED_TRACE(f.text());
                const Bytes frame = liblz4Encode(src, f, dictId);
                ASSERT_FALSE(frame.empty());
                ++i;
                const kel::test::StreamRun run = decode(frame, 1 + (i * 4099) % 20000, std::uint32_t(i));
                ASSERT_EQ(run.result, kelStreamEnd) << run.message;
                EXPECT_TRUE(run.out == src);

                KelStream* s = nullptr;
                ASSERT_EQ(kelStreamCreate(&s, kelFormatLz4, kelDecompress, nullptr), kelStreamOk);
                Bytes out(src.size());
                std::size_t srcLen = frame.size(), dstLen = out.size();
                EXPECT_EQ(kelStreamProcess(s, frame.data(), &srcLen, out.data(), &dstLen, kelFlushFinish),
                          kelStreamEnd);
                KelStreamHeader h;
                ASSERT_EQ(kelStreamGetHeader(s, &h), kelStreamOk);
                kelStreamFree(s);
                EXPECT_EQ(h.format, kelFormatLz4);
                EXPECT_EQ(h.complete, 1);
                // liblz4 shrinks the block size to the content and makes a one-block frame independent: the
                // descriptor bytes say what it chose.
                EXPECT_EQ(h.lz4BlockSizeId, (frame[5] >> 4) & 7);
                EXPECT_EQ(h.lz4Linked, (frame[4] & 0x20) ? 0 : 1);
                if (sizeId <= 5) EXPECT_EQ(h.lz4Linked, int(linked));
                EXPECT_EQ(h.lz4BlockChecksum, int(f.blockSum));
                EXPECT_EQ(h.lz4ContentChecksum, int(f.contentSum));
                EXPECT_EQ(h.contentSize, f.withSize ? std::int64_t(src.size()) : -1);
                EXPECT_EQ(h.hasDictId, int(linked));
                EXPECT_EQ(h.dictId, dictId);
                EXPECT_EQ(h.lz4Legacy, 0);
                EXPECT_EQ(h.totalOut, src.size());
            }
        }
    }
}

// Skippable frames of any size anywhere; frames in a row, one entry each; a file of skippable frames only.
TEST(Lz4StreamDecompress, SkippableFramesAndFramesInARow) {
    const Bytes a(sample().begin(), sample().begin() + 5000), b(sample().begin() + 5000, sample().begin() + 90000);
    const Bytes skip1 = {0x5A, 0x2A, 0x4D, 0x18, 3, 0, 0, 0, 1, 2, 3};
    const Bytes skip0 = {0x50, 0x2A, 0x4D, 0x18, 0, 0, 0, 0};
    Bytes skipBig = {0x5F, 0x2A, 0x4D, 0x18, 0x00, 0x00, 0x01, 0x00};
    skipBig.resize(skipBig.size() + 65536, 0xEE);
    FrameOptions f;
    f.sizeId = 4;
    f.linked = true;
    const Bytes file =
        cat(cat(cat(cat(cat(skip1, liblz4Encode(a, f)), skip0), skipBig), compress(b, toOptions(f, 0))), skip1);
    for (std::size_t piece : {std::size_t(0), std::size_t(1), std::size_t(333)}) {
        const kel::test::StreamRun run = decode(file, piece);
        ASSERT_EQ(run.result, kelStreamEnd) << piece << run.message;
        EXPECT_TRUE(run.out == cat(a, b)) << piece;
        EXPECT_EQ(run.consumed, file.size());
    }
    const kel::test::StreamRun only = decode(cat(cat(skip1, skipBig), skip0), 7);
    EXPECT_EQ(only.result, kelStreamEnd);
    EXPECT_TRUE(only.out.empty());
    EXPECT_EQ(decode(Bytes(skip1.begin(), skip1.end() - 1)).result, kelStreamErrTruncated);
    EXPECT_EQ(decode(Bytes()).result, kelStreamErrTruncated);

    // With stopAtEntries each frame ends with kelStreamEntryEnd (not the last), and the header follows the entry.
    KelStreamOptions o = kel::test::defaultStreamOptions();
    o.stopAtEntries = 1;
    KelStream* s = nullptr;
    ASSERT_EQ(kelStreamCreate(&s, kelFormatLz4, kelDecompress, &o), kelStreamOk);
    std::vector<KelStreamResult> results;
    std::vector<std::uint32_t> entries;
    Bytes out, buf(4096);
    std::size_t pos = 0;
    for (int guard = 0; guard < 100000; ++guard) {
        std::size_t srcLen = std::min<std::size_t>(1000, file.size() - pos), dstLen = buf.size();
        const KelStreamResult r = kelStreamProcess(s, file.data() + pos, &srcLen, buf.data(), &dstLen,
                                                   pos + srcLen == file.size() ? kelFlushFinish : kelFlushNone);
        pos += srcLen;
        out.insert(out.end(), buf.begin(), buf.begin() + std::ptrdiff_t(dstLen));
        if (r == kelStreamOk) continue;
        KelStreamHeader h;
        kelStreamGetHeader(s, &h);
        results.push_back(r);
        entries.push_back(h.entry);
        if (r == kelStreamEntryEnd) {
            EXPECT_EQ(h.totalOut, a.size());
            continue;
        }
        break;
    }
    kelStreamFree(s);
    EXPECT_EQ(results, (std::vector<KelStreamResult>{kelStreamEntryEnd, kelStreamEnd}));
    EXPECT_EQ(entries, (std::vector<std::uint32_t>{0, 1}));
    EXPECT_TRUE(out == cat(a, b));
}

// Legacy streams: several independent blocks up to 8 MiB each, ended by the input or by the next frame's magic.
TEST(Lz4StreamDecompress, LegacyStreams) {
    Bytes big;
    while (big.size() < (std::size_t(9) << 20)) big = cat(big, sample());
    big.resize((std::size_t(8) << 20) + 120000);
    const Bytes legacy = legacyStream(big, {100000, std::size_t(8) << 20, 20000});
    for (std::size_t piece : {std::size_t(0), std::size_t(65537)}) {
        const kel::test::StreamRun run = decode(legacy, piece);
        ASSERT_EQ(run.result, kelStreamEnd) << run.message;
        EXPECT_TRUE(run.out == big);
    }
    const Bytes small(sample().begin(), sample().begin() + 40000);
    const Bytes two = legacyStream(small, {10000, 30000});
    // A frame after a legacy stream, then another legacy stream: three entries.
    const Bytes mixed = cat(cat(two, compress(small, kel::test::defaultStreamOptions())), two);
    KelStreamOptions o = kel::test::defaultStreamOptions();
    o.stopAtEntries = 1;
    KelStream* s = nullptr;
    ASSERT_EQ(kelStreamCreate(&s, kelFormatLz4, kelDecompress, &o), kelStreamOk);
    Bytes out(200000);
    std::size_t pos = 0, done = 0;
    std::vector<std::pair<std::uint32_t, int>> seen;  // entry, legacy
    for (int guard = 0; guard < 100; ++guard) {
        std::size_t srcLen = mixed.size() - pos, dstLen = out.size() - done;
        const KelStreamResult r =
            kelStreamProcess(s, mixed.data() + pos, &srcLen, out.data() + done, &dstLen, kelFlushFinish);
        pos += srcLen;
        done += dstLen;
        KelStreamHeader h;
        kelStreamGetHeader(s, &h);
        seen.push_back({h.entry, h.lz4Legacy});
        if (h.lz4Legacy) EXPECT_EQ(h.method, 1);
        if (r != kelStreamEntryEnd) {
            EXPECT_EQ(r, kelStreamEnd);
            break;
        }
    }
    kelStreamFree(s);
    EXPECT_EQ(seen, (std::vector<std::pair<std::uint32_t, int>>{{0, 1}, {1, 0}, {2, 1}}));
    out.resize(done);
    EXPECT_TRUE(out == cat(cat(small, small), small));

    // A length no legacy block can have ends the stream: trailing data. A cut block is truncated.
    Bytes trailing = cat(two, {0xFF, 0xFF, 0xFF, 0x7F, 1});
    kel::test::StreamRun run = decode(trailing);
    EXPECT_EQ(run.result, kelStreamTrailingData);
    EXPECT_EQ(run.consumed, two.size());
    EXPECT_TRUE(run.out == small);
    EXPECT_EQ(decode(Bytes(two.begin(), two.end() - 1)).result, kelStreamErrTruncated);
    EXPECT_EQ(decode(cat(two, {1, 0})).result, kelStreamErrTruncated);
    EXPECT_EQ(decode(cat(two, {0, 0, 0, 0})).result, kelStreamErrCorrupt);
}

// After the last frame, bytes that start no frame stay unconsumed: zero bytes too, as the lz4 tool reads them.
TEST(Lz4StreamDecompress, TrailingBytesAreLeftUnconsumed) {
    const Bytes a(sample().begin(), sample().begin() + 3000);
    const Bytes frame = compress(a, kel::test::defaultStreamOptions());
    for (const Bytes& tail : {Bytes{0}, Bytes{0, 0, 0, 0, 0, 0, 0, 0}, Bytes{'g', 'a', 'r', 'b', 'a', 'g', 'e'},
                              Bytes{0x04, 0x22, 0x4D, 0x19}}) {
        const Bytes file = cat(frame, tail);
        const kel::test::StreamRun run = decode(file);
        EXPECT_EQ(run.result, kelStreamTrailingData);
        EXPECT_EQ(run.consumed, frame.size());
        EXPECT_TRUE(run.out == a);
        std::size_t dstLen = 5000;
        Bytes out(dstLen);
        EXPECT_EQ(kelStreamDecompress(kelFormatLz4, file.data(), file.size(), out.data(), &dstLen, nullptr),
                  kelStreamTrailingData);
        EXPECT_EQ(dstLen, a.size());
    }
    // A magic cut short at the end of the input is a truncated frame.
    EXPECT_EQ(decode(cat(frame, {0x04, 0x22})).result, kelStreamErrTruncated);
    // Input that starts with no magic at all is not LZ4.
    EXPECT_EQ(decode(cat(Bytes{0}, frame)).result, kelStreamErrCorrupt);
}

// A hand-built frame: FLG and BD, optional blocks, then the end mark.
Bytes handFrame(std::uint8_t flg, std::uint8_t bd, const Bytes& blocks, bool fixCheck = true) {
    Bytes f = {0x04, 0x22, 0x4D, 0x18, flg, bd};
    f.push_back(fixCheck ? std::uint8_t(kel::stream::XxHash32::hash(f.data() + 4, 2) >> 8) : 0);
    return cat(cat(f, blocks), {0, 0, 0, 0});
}

TEST(Lz4StreamDecompress, RejectsBadDescriptorsAndBlocks) {
    // A block of 5 literals "abcde": token 0x50.
    const Bytes block = {6, 0, 0, 0, 0x50, 'a', 'b', 'c', 'd', 'e'};
    kel::test::StreamRun ok = decode(handFrame(0x60, 0x40, block));
    ASSERT_EQ(ok.result, kelStreamEnd) << ok.message;
    EXPECT_EQ(std::string(ok.out.begin(), ok.out.end()), "abcde");
    EXPECT_EQ(decode(handFrame(0x60, 0x40, block, false)).result, kelStreamErrChecksum);
    EXPECT_EQ(decode(handFrame(0x62, 0x40, block)).result, kelStreamErrCorrupt);  // reserved FLG bit
    EXPECT_EQ(decode(handFrame(0x60, 0x41, block)).result, kelStreamErrCorrupt);  // reserved BD bits
    EXPECT_EQ(decode(handFrame(0x60, 0xC0, block)).result, kelStreamErrCorrupt);
    EXPECT_EQ(decode(handFrame(0x60, 0x30, block)).result, kelStreamErrCorrupt);  // block size ID 3
    EXPECT_EQ(decode(handFrame(0xA0, 0x40, block)).result, kelStreamErrCorrupt);  // version 2
    // A linked frame's first block refers before the frame: literals "ab", then a match 3 bytes back.
    EXPECT_EQ(decode(handFrame(0x40, 0x40, {9, 0, 0, 0, 0x21, 'a', 'b', 3, 0, 0x30, 'x', 'y', 'z'})).result,
              kelStreamErrCorrupt);
    // A stored block one byte over 64 KiB in a 64 KiB frame.
    Bytes over = {0x01, 0x00, 0x01, 0x80};
    over.resize(4 + 65537, 'q');
    EXPECT_EQ(decode(handFrame(0x60, 0x40, over)).result, kelStreamErrCorrupt);
    over[0] = 0;
    over.pop_back();
    EXPECT_EQ(decode(handFrame(0x60, 0x40, over)).result, kelStreamEnd);

    // Checksums and the content size, each damaged in a frame of ours.
    const Bytes a(sample().begin(), sample().begin() + 20000);
    FrameOptions f;
    f.sizeId = 4;
    f.blockSum = true;
    f.withSize = true;
    Bytes frame = compress(a, toOptions(f, a.size()));
    Bytes bad = frame;
    bad[bad.size() - 1] ^= 1;  // content checksum
    EXPECT_EQ(decode(bad).result, kelStreamErrChecksum);
    bad = frame;
    bad[bad.size() - 9] ^= 1;  // the block checksum
    EXPECT_EQ(decode(bad).result, kelStreamErrChecksum);
    f.blockSum = false;
    f.contentSum = false;
    Bytes frameWrongSize = compress(a, toOptions(f, a.size()));
    // The same frame claiming one byte more, its descriptor check byte recomputed.
    frameWrongSize[6] = std::uint8_t(frameWrongSize[6] + 1);
    frameWrongSize[14] = std::uint8_t(kel::stream::XxHash32::hash(frameWrongSize.data() + 4, 10) >> 8);
    EXPECT_EQ(decode(frameWrongSize).result, kelStreamErrChecksum);
    frameWrongSize[6] = std::uint8_t(frameWrongSize[6] - 2);
    frameWrongSize[14] = std::uint8_t(kel::stream::XxHash32::hash(frameWrongSize.data() + 4, 10) >> 8);
    EXPECT_EQ(decode(frameWrongSize).result, kelStreamErrChecksum);
}

// Every cut of a frame is truncated, every damaged byte an error or the right output, never a read or write
// outside exact-size heap buffers.
TEST(Lz4StreamDecompress, DamagedInputNeverEscapesItsBuffers) {
    const Bytes src(sample().begin(), sample().begin() + 150000);
    for (int variant = 0; variant < 4; ++variant) {
        FrameOptions f;
        f.sizeId = 4;
        f.linked = variant & 1;
        f.blockSum = variant & 2;
        f.contentSum = variant != 0;
        f.withSize = variant == 3;
        SCOPED_TRACE(f.text());
        Bytes frame = compress(src, toOptions(f, src.size()));
        if (variant == 2) frame = cat(legacyStream(src, {70000, 80000}), frame);
        const std::size_t want = variant == 2 ? 2 * src.size() : src.size();
        const Bytes expect = variant == 2 ? cat(src, src) : src;
        auto run = [&](const Bytes& in, std::size_t room) {
            std::unique_ptr<std::uint8_t[]> inBuf(new std::uint8_t[in.size() ? in.size() : 1]);
            if (!in.empty()) std::memcpy(inBuf.get(), in.data(), in.size());
            std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[room ? room : 1]);
            std::size_t dstLen = room;
            const KelStreamResult r =
                kelStreamDecompress(kelFormatLz4, inBuf.get(), in.size(), out.get(), &dstLen, nullptr);
            EXPECT_LE(dstLen, room);
            const bool right = dstLen == want && std::memcmp(out.get(), expect.data(), want) == 0;
            return std::make_pair(r, right);
        };
        for (std::size_t cut = 0; cut < frame.size(); cut += 1 + cut / 50) {
            const auto [r, right] = run(Bytes(frame.begin(), frame.begin() + std::ptrdiff_t(cut)), want);
            // A legacy stream may end at any block boundary; otherwise a cut is always truncation.
            if (r != kelStreamEnd || variant != 2) EXPECT_EQ(r, kelStreamErrTruncated) << cut;
            EXPECT_FALSE(right);
        }
        auto rng = kel::test::makeRng(40 + variant);
        for (int i = 0; i < 300; ++i) {
            Bytes bad = frame;
            bad[rng() % bad.size()] ^= std::uint8_t(1 + rng() % 255);
            const auto [r, right] = run(bad, want);
            // Without any checksum a damaged literal decodes silently: only the buffers are checked then.
            if (r >= 0 && f.contentSum && variant != 2) EXPECT_TRUE(right) << i;
        }
        EXPECT_EQ(run(frame, want).first, kelStreamEnd);
        EXPECT_EQ(run(frame, want - 1).first, kelStreamErrNoRoom);
    }
}

// A stream reset in the middle of a frame, or after an error, starts clean: the next frame comes out whole.
TEST(Lz4StreamReset, ResetMidFrameOrAfterAnErrorStartsClean) {
    const Bytes a(sample().begin(), sample().begin() + 100000), b(sample().begin() + 300000, sample().end());
    FrameOptions f;
    f.sizeId = 4;
    f.linked = true;
    f.blockSum = true;
    const KelStreamOptions o = toOptions(f, 0);
    const Bytes frameB = compress(b, o);
    for (int direction = 0; direction < 2; ++direction) {
        KelStream* s = nullptr;
        ASSERT_EQ(kelStreamCreate(&s, kelFormatLz4, KelStreamDirection(direction), &o), kelStreamOk);
        const Bytes& first = direction == 0 ? a : compress(a, o);
        Bytes junk(1000);
        std::size_t srcLen = first.size() / 2, dstLen = junk.size();
        EXPECT_EQ(kelStreamProcess(s, first.data(), &srcLen, junk.data(), &dstLen, kelFlushNone), kelStreamOk);
        if (direction == 1) {
            const Bytes bad(20, 0xAB);
            srcLen = bad.size();
            dstLen = junk.size();
            kelStreamProcess(s, bad.data(), &srcLen, junk.data(), &dstLen, kelFlushFinish);
        }
        ASSERT_EQ(kelStreamReset(s), kelStreamOk);
        const Bytes& in = direction == 0 ? b : frameB;
        Bytes out(kelStreamCompressBound(kelFormatLz4, b.size(), &o));
        srcLen = in.size();
        dstLen = out.size();
        EXPECT_EQ(kelStreamProcess(s, in.data(), &srcLen, out.data(), &dstLen, kelFlushFinish), kelStreamEnd);
        out.resize(dstLen);
        EXPECT_TRUE(out == (direction == 0 ? frameB : b)) << direction;
        kelStreamFree(s);
    }
}

// An allocator that fails from its n-th call on: every failure surfaces as kelStreamErrMemory, in both directions
// and at every point where memory is taken (creation, a frame's descriptor, output the caller has no room for).
TEST(Lz4StreamMemory, EveryAllocationFailureIsReported) {
    struct Budget {
        int left;
    };
    const Bytes src(sample().begin(), sample().begin() + 200000);
    FrameOptions f;
    f.sizeId = 4;
    f.linked = true;
    f.hcLevel = 3;
    const Bytes frame = compress(src, toOptions(f, 0));
    for (int direction = 0; direction < 2; ++direction) {
        bool succeeded = false;
        for (int n = 0; n < 40 && !succeeded; ++n) {
            Budget budget{n};
            KelStreamOptions o = toOptions(f, 0);
            o.opaque = &budget;
            o.alloc = [](void* opaque, std::size_t nBytes) -> void* {
                Budget* b = static_cast<Budget*>(opaque);
                return b->left-- > 0 ? std::malloc(nBytes) : nullptr;
            };
            o.free = [](void*, void* p) { std::free(p); };
            const kel::test::StreamRun run =
                direction == 0 ? runStream(kelFormatLz4, kelCompress, src, &o, 5000, std::uint32_t(n))
                               : runStream(kelFormatLz4, kelDecompress, frame, &o, 5000, std::uint32_t(n));
            if (run.result == kelStreamEnd) {
                succeeded = true;
                EXPECT_TRUE(run.out == (direction == 0 ? frame : src)) << n;
            } else {
                EXPECT_EQ(run.result, kelStreamErrMemory) << direction << " " << n << " " << run.message;
            }
        }
        EXPECT_TRUE(succeeded) << direction;
    }
}

// One-shot calls given the room they need write the frame and its content where the caller wants them: no
// buffer of a block's size is taken in either direction (a block-sized buffer would mean a copy of every block).
// The largest allocation is followed through the caller's allocator.
TEST(Lz4StreamMemory, OneShotCallsWithTheirRoomTakeNoBlockSizedBuffer) {
    struct Largest {
        std::size_t bytes = 0;
    };
    auto tracked = [](Largest* largest, KelStreamOptions o) {
        o.opaque = largest;
        o.alloc = [](void* opaque, std::size_t nBytes) -> void* {
            Largest* l = static_cast<Largest*>(opaque);
            l->bytes = std::max(l->bytes, nBytes);
            return std::malloc(nBytes);
        };
        o.free = [](void*, void* p) { std::free(p); };
        return o;
    };
    const Bytes& src = sample();  // three 256 KiB blocks, the last one short, or one 4 MiB block
    for (int variant = 0; variant < 6; ++variant) {
        FrameOptions f;
        f.sizeId = variant & 1 ? 5 : 7;
        f.linked = variant & 2;
        f.blockSum = variant & 4;
        f.contentSum = !(variant & 4);
        f.withSize = variant == 1;
        SCOPED_TRACE(f.text());
        const KelStreamOptions plain = toOptions(f, src.size());
        const std::size_t blockSize = std::size_t(1) << (8 + 2 * f.sizeId);
        Largest largest;
        KelStreamOptions o = tracked(&largest, plain);
        Bytes frame(kelStreamCompressBound(kelFormatLz4, src.size(), &o));
        std::size_t frameLen = frame.size();
        ASSERT_EQ(kelStreamCompress(kelFormatLz4, src.data(), src.size(), frame.data(), &frameLen, &o), kelStreamEnd);
        frame.resize(frameLen);
        EXPECT_TRUE(frame == compress(src, plain, 3000, std::uint32_t(variant)));  // the same frame from pieces
        EXPECT_LT(largest.bytes, blockSize / 2);

        if (f.linked) continue;  // a linked block is decoded behind its history, in a buffer of the block's size
        largest.bytes = 0;
        Bytes out(src.size());
        std::size_t outLen = out.size();
        ASSERT_EQ(kelStreamDecompress(kelFormatLz4, frame.data(), frame.size(), out.data(), &outLen, &o), kelStreamEnd);
        EXPECT_TRUE(out == src);
        EXPECT_LT(largest.bytes, blockSize / 2);
    }
}

// When the room left is shorter than a block, compression writes the block into its own buffer and hands it out
// from there, and decompression tries the room and decodes again into its buffer when the block does not fit:
// the results and the bytes handed out are the same as with ample room, whatever the room.
TEST(Lz4StreamOneShot, RoomsShorterThanABlockGiveTheSameBytes) {
    const Bytes& src = sample();
    FrameOptions f;
    f.sizeId = 5;
    f.blockSum = true;
    const Bytes frame = compress(src, toOptions(f, 0));
    const KelStreamOptions o = toOptions(f, 0);
    // Compression: the exact frame size fits (its last blocks no longer fit their longest form), one less does not.
    for (std::size_t room : {frame.size(), frame.size() - 1, frame.size() / 2}) {
        Bytes out(room);
        std::size_t outLen = room;
        const KelStreamResult r = kelStreamCompress(kelFormatLz4, src.data(), src.size(), out.data(), &outLen, &o);
        if (room == frame.size()) {
            ASSERT_EQ(r, kelStreamEnd);
            EXPECT_TRUE(out == frame);
        } else {
            EXPECT_EQ(r, kelStreamErrNoRoom) << room;
        }
    }
    // Decompression: every room short of the content holds its start, exactly, and nothing else.
    const std::size_t block = 256 * 1024;
    for (std::size_t room :
         {src.size() - 1, src.size() - 1000, 2 * block + 1, 2 * block - 1, block + 7, block - 1, std::size_t(100)}) {
        Bytes out(room + 64, 0xEE);
        std::size_t outLen = room;
        EXPECT_EQ(kelStreamDecompress(kelFormatLz4, frame.data(), frame.size(), out.data(), &outLen, nullptr),
                  kelStreamErrNoRoom)
            << room;
        ASSERT_EQ(outLen, room);
        EXPECT_TRUE(std::equal(out.begin(), out.begin() + std::ptrdiff_t(room), src.begin())) << room;
        EXPECT_TRUE(
            std::all_of(out.begin() + std::ptrdiff_t(room), out.end(), [](std::uint8_t b) { return b == 0xEE; }));
    }
    // A frame that declares one byte less than its blocks hold, decoded into exactly the declared room: its last
    // block does not fit the room, and the result is the wrong size, not a damaged block.
    f.withSize = true;
    f.blockSum = false;
    f.contentSum = false;
    Bytes lying = compress(src, toOptions(f, src.size()));
    const std::uint64_t declared = src.size() - 1;
    for (int i = 0; i < 8; ++i) lying[6 + i] = std::uint8_t(declared >> (8 * i));
    lying[14] = std::uint8_t(kel::stream::XxHash32::hash(lying.data() + 4, 10) >> 8);
    Bytes out(declared);
    std::size_t outLen = out.size();
    EXPECT_EQ(kelStreamDecompress(kelFormatLz4, lying.data(), lying.size(), out.data(), &outLen, nullptr),
              kelStreamErrChecksum);
}

// ---- the lz4 tool ----------------------------------------------------------------------------------------------

bool haveLz4Tool() {
    return std::system("lz4 --version >/dev/null 2>&1") == 0;
}

class Lz4StreamTool : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveLz4Tool()) {
            if (std::getenv("CI")) FAIL() << "the lz4 tool is required in CI";
            GTEST_SKIP() << "lz4 tool not installed";
        }
        dir_ =
            std::filesystem::temp_directory_path() / ("kelstream_lz4_" + std::to_string(getpid()) + "_" +
                                                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override {
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    static void save(const std::string& p, const Bytes& b) {
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    }
    static Bytes load(const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static int run(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()); }

    std::filesystem::path dir_;
};

TEST_F(Lz4StreamTool, WeReadWhatTheToolWritesOverTheCorpus) {
    const char* flagSets[] = {"-l",  "-BD", "-BX", "--content-size", "--no-frame-crc", "-B4", "-B5",
                              "-B6", "-B7", "-1",  "-9 -BD -BX"};
    for (const std::string& name : kel::test::corpusFileNames()) {
        const Bytes src = kel::test::readCorpusFile(name);
        save(path("in"), src);
        for (const char* flags : flagSets) {
            SCOPED_TRACE(name + " " + flags);
            ASSERT_EQ(run(std::string("lz4 -f -q ") + flags + " " + path("in") + " " + path("in.lz4")), 0);
            const kel::test::StreamRun r = decode(load(path("in.lz4")), 30000);
            ASSERT_EQ(r.result, kelStreamEnd) << r.message;
            EXPECT_TRUE(r.out == src);
        }
    }
}

TEST_F(Lz4StreamTool, ToolReadsWhatWeWriteOverTheCorpus) {
    int i = 0;
    for (const std::string& name : kel::test::corpusFileNames()) {
        const Bytes src = kel::test::readCorpusFile(name);
        for (int variant = 0; variant < 4; ++variant, ++i) {
            FrameOptions f;
            f.sizeId = 4 + (i % 4);
            f.linked = variant & 1;
            f.blockSum = variant == 2;
            f.withSize = variant == 3;
            f.hcLevel = variant & 2 ? 1 + i % 9 : 0;
            SCOPED_TRACE(name + " " + f.text());
            save(path("ours.lz4"), compress(src, toOptions(f, src.size()), 50000));
            ASSERT_EQ(run("lz4 -d -f -q " + path("ours.lz4") + " " + path("ours.out")), 0);
            EXPECT_TRUE(load(path("ours.out")) == src);
        }
    }
}

// The tool exits with an error after a frame followed by zero bytes or garbage, yet writes the whole content:
// the same split as kelStreamTrailingData.
TEST_F(Lz4StreamTool, TrailingBytesBehaveAsTheToolReadsThem) {
    const Bytes a(sample().begin(), sample().begin() + 3000);
    const Bytes frame = compress(a, kel::test::defaultStreamOptions());
    for (const Bytes& tail : {Bytes(8, 0), Bytes{'j', 'u', 'n', 'k', '!'}}) {
        save(path("t.lz4"), cat(frame, tail));
        EXPECT_NE(std::system(("lz4 -d -c " + path("t.lz4") + " > " + path("t.out") + " 2>/dev/null").c_str()), 0);
        EXPECT_TRUE(load(path("t.out")) == a);
        EXPECT_EQ(decode(cat(frame, tail)).result, kelStreamTrailingData);
    }
}

}  // namespace

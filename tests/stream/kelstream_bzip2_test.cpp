// tests/stream/kelstream_bzip2_test.cpp - .bz2 through libkelstream: round trips in pieces, libbz2 and the bzip2
// tool in both directions, concatenated streams, trailing data, damage, and the parallel decoder against the
// sequential one.
#include <bzlib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "dc/bzip2/bzip2_test_util.h"
#include "support/kelstream_util.h"
#include "support/test_util.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using kel::test::runStream;
using kel::test::StreamRun;

KelStreamOptions options(int level = 0, int threads = 0) {
    KelStreamOptions o = kel::test::defaultStreamOptions();
    o.level = level;
    o.threads = threads;
    return o;
}

Bytes compress(const Bytes& data, int level, std::size_t maxPiece = 0, std::uint32_t seed = 1) {
    const KelStreamOptions o = options(level);
    StreamRun run = runStream(kelFormatBzip2, kelCompress, data, &o, maxPiece, seed);
    EXPECT_EQ(run.result, kelStreamEnd) << run.message;
    return run.out;
}

StreamRun decompress(const Bytes& file, int threads = 0, std::size_t maxPiece = 0, std::uint32_t seed = 1,
                     int stopAtEntries = 0) {
    KelStreamOptions o = options(0, threads);
    o.stopAtEntries = stopAtEntries;
    return runStream(kelFormatBzip2, kelDecompress, file, &o, maxPiece, seed);
}

Bytes libbz2Compress(const Bytes& data, int level) {
    unsigned int len = static_cast<unsigned int>(data.size() + data.size() / 50 + 1024);
    Bytes out(len);
    char empty[1] = {0};  // libbz2 refuses a null source even for 0 bytes
    EXPECT_EQ(
        BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &len,
                                 data.empty() ? empty : const_cast<char*>(reinterpret_cast<const char*>(data.data())),
                                 static_cast<unsigned int>(data.size()), level, 0, 0),
        BZ_OK);
    out.resize(len);
    return out;
}

int libbz2Decompress(const Bytes& file, std::size_t expected, Bytes& out) {
    unsigned int len = static_cast<unsigned int>(expected + 1);
    out.assign(len, 0);
    const int rc = BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(out.data()), &len,
                                              const_cast<char*>(reinterpret_cast<const char*>(file.data())),
                                              static_cast<unsigned int>(file.size()), 0, 0);
    out.resize(len);
    return rc;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

std::vector<std::pair<std::string, Bytes>> inputs() {
    std::vector<std::pair<std::string, Bytes>> v;
    for (const char* name : {"alice29.txt", "fireworks.jpeg", "kppkn.gtb", "urls.10K"}) {
        v.emplace_back(name, kel::test::readCorpusFile(name));
    }
    auto rng = kel::test::makeRng(41);
    v.emplace_back("empty", Bytes{});
    v.emplace_back("one byte", Bytes{'x'});
    v.emplace_back("random", kel::test::randomBytes(rng, 250000));
    v.emplace_back("all equal", Bytes(1000000, 'A'));
    Bytes runs;
    for (int len : {3, 4, 5, 259, 260, 261, 1000}) runs.insert(runs.end(), len, static_cast<std::uint8_t>(len));
    v.emplace_back("runs", runs);
    // Runs of exactly four grow by a quarter in the first stage: blocks end on input far below the block size.
    Bytes fours;
    for (int i = 0; i < 300000; ++i) fours.insert(fours.end(), 4, static_cast<std::uint8_t>(rng()));
    v.emplace_back("runs of four", fours);
    return v;
}

// Text long enough for several blocks at level 1.
const Bytes& multiBlockText() {
    static const Bytes text =
        concat({kel::test::readCorpusFile("lcet10.txt"), kel::test::readCorpusFile("plrabn12.txt")});
    return text;
}

TEST(Bzip2Stream, RoundTripsInRandomPiecesAndDecodesWithLibbz2) {
    for (const auto& [name, data] : inputs()) {
        for (int level : {1, 9}) {
            SCOPED_TRACE(name + " level " + std::to_string(level) + " " + kel::test::seedNote());
            const Bytes file = compress(data, level);
            // The same bytes however the input and the room are cut.
            EXPECT_EQ(compress(data, level, 70000, 7), file);
            Bytes back;
            ASSERT_EQ(libbz2Decompress(file, data.size(), back), BZ_OK);
            ASSERT_EQ(back, data);
            StreamRun run = decompress(file, 0, 50000, 3);
            ASSERT_EQ(run.result, kelStreamEnd) << run.message;
            EXPECT_EQ(run.out, data);
            EXPECT_EQ(run.consumed, file.size());
        }
    }
    // Pieces down to single bytes on both sides.
    const Bytes small(multiBlockText().begin(), multiBlockText().begin() + 30000);
    const Bytes file = compress(small, 1, 3, 11);
    EXPECT_EQ(file, compress(small, 1));
    StreamRun run = decompress(file, 0, 2, 12);
    ASSERT_EQ(run.result, kelStreamEnd) << run.message;
    EXPECT_EQ(run.out, small);
}

TEST(Bzip2Stream, DecodesLibbz2AtEveryLevel) {
    const Bytes data = concat({multiBlockText(), kel::test::readCorpusFile("fireworks.jpeg")});
    for (int level = 1; level <= 9; ++level) {
        SCOPED_TRACE(level);
        const Bytes file = libbz2Compress(data, level);
        StreamRun run = decompress(file, 0, 100000, static_cast<std::uint32_t>(level));
        ASSERT_EQ(run.result, kelStreamEnd) << run.message;
        EXPECT_EQ(run.out, data);
        KelStreamHeader h;
        KelStream* s = nullptr;
        ASSERT_EQ(kelStreamCreate(&s, kelFormatBzip2, kelDecompress, nullptr), kelStreamOk);
        std::size_t in = 4, out = 0;
        ASSERT_EQ(kelStreamProcess(s, file.data(), &in, nullptr, &out, kelFlushNone), kelStreamOk);
        ASSERT_EQ(kelStreamGetHeader(s, &h), kelStreamOk);
        EXPECT_EQ(h.level, level);
        EXPECT_TRUE(h.complete);
        kelStreamFree(s);
    }
}

TEST(Bzip2Stream, OutputSizeIsCloseToLibbz2AndWithinTheBound) {
    const Bytes text = kel::test::readCorpusFile("lcet10.txt");
    EXPECT_LT(static_cast<double>(compress(text, 9).size()), libbz2Compress(text, 9).size() * 1.01);
    for (const auto& [name, data] : inputs()) {
        for (int level : {1, 5, 9}) {
            SCOPED_TRACE(name + " level " + std::to_string(level));
            KelStreamOptions o = options(level);
            const std::size_t bound = kelStreamCompressBound(kelFormatBzip2, data.size(), &o);
            kel::test::GuardedBuffer dst(bound);
            std::size_t len = bound;
            ASSERT_EQ(kelStreamCompress(kelFormatBzip2, data.data(), data.size(), dst.data(), &len, &o), kelStreamEnd);
            EXPECT_EQ(Bytes(dst.data(), dst.data() + len), compress(data, level));
        }
    }
    KelStreamOptions bad = options(10);
    KelStream* s = nullptr;
    EXPECT_EQ(kelStreamCreate(&s, kelFormatBzip2, kelCompress, &bad), kelStreamErrArgument);
}

// kelFlushSync ends the block: what was given before it is a block of its own, and the stream still decodes.
TEST(Bzip2Stream, SyncFlushEndsTheBlock) {
    const Bytes& text = multiBlockText();
    const std::size_t cut = 12345;
    KelStream* s = nullptr;
    KelStreamOptions o = options(9);
    ASSERT_EQ(kelStreamCreate(&s, kelFormatBzip2, kelCompress, &o), kelStreamOk);
    Bytes out, buf(1000);
    auto pump = [&](const std::uint8_t* src, std::size_t n, KelStreamFlush flush, KelStreamResult want) {
        for (int guard = 0; guard < 100000; ++guard) {
            std::size_t in = n, room = buf.size();
            const KelStreamResult r = kelStreamProcess(s, src, &in, buf.data(), &room, flush);
            out.insert(out.end(), buf.begin(), buf.begin() + room);
            src += in;
            n -= in;
            if (r == want) return;
            ASSERT_EQ(r, kelStreamOk);
        }
        FAIL() << "no end";
    };
    pump(text.data(), cut, kelFlushSync, kelStreamFlushed);
    const std::size_t afterSync = out.size();
    pump(nullptr, 0, kelFlushSync, kelStreamFlushed);  // nothing new: flushed at once
    EXPECT_EQ(out.size(), afterSync);
    pump(text.data() + cut, 300000 - cut, kelFlushFinish, kelStreamEnd);
    kelStreamFree(s);
    const Bytes part(text.begin(), text.begin() + 300000);
    Bytes back;
    ASSERT_EQ(libbz2Decompress(out, part.size(), back), BZ_OK);
    EXPECT_EQ(back, part);
    // Two blocks where one would do: the second block magic sits where the flushed output ends.
    EXPECT_NE(out, compress(part, 9));
    EXPECT_GT(afterSync, 1000u);
}

TEST(Bzip2Stream, ConcatenatedStreamsPaddingAndTrailingData) {
    const Bytes a(multiBlockText().begin(), multiBlockText().begin() + 150000);
    const Bytes b = kel::test::readCorpusFile("alice29.txt");
    const Bytes fa = compress(a, 1), fb = libbz2Compress(b, 9), empty = compress({}, 3);
    const Bytes all = concat({fa, empty, fb});
    const Bytes expect = concat({a, b});
    for (int threads : {0, 2}) {
        SCOPED_TRACE(threads);
        StreamRun run = decompress(all, threads, 9000, 5);
        ASSERT_EQ(run.result, kelStreamEnd) << run.message;
        EXPECT_EQ(run.out, expect);

        // Zero padding is consumed; other bytes are left to the caller.
        run = decompress(concat({all, Bytes(700, 0)}), threads, 333, 6);
        EXPECT_EQ(run.result, kelStreamEnd);
        EXPECT_EQ(run.consumed, all.size() + 700);
        EXPECT_EQ(run.out, expect);
        for (const Bytes& tail : {Bytes{'j', 'u', 'n', 'k'}, Bytes{'B', 'Z', 'x'}, Bytes{'B'}, Bytes{'B', 'Z'}}) {
            run = decompress(concat({all, tail}), threads);
            EXPECT_EQ(run.result, kelStreamTrailingData);
            EXPECT_EQ(run.consumed, all.size());
            EXPECT_EQ(run.out, expect);
        }
        run = decompress(concat({all, Bytes(5, 0), Bytes{'x', 0}}), threads);
        EXPECT_EQ(run.result, kelStreamTrailingData);
        EXPECT_EQ(run.consumed, all.size() + 5);
        // "BZh" commits to another stream: its header is then missing or wrong.
        run = decompress(concat({all, Bytes{'B', 'Z', 'h'}}), threads);
        EXPECT_EQ(run.result, kelStreamErrTruncated);
        // "BZh0" commits to a stream whose header is then wrong.
        run = decompress(concat({all, Bytes{'B', 'Z', 'h', '0'}}), threads);
        EXPECT_EQ(run.result, kelStreamErrCorrupt);
        EXPECT_EQ(run.message, "invalid block size");
    }

    // stopAtEntries: one kelStreamEntryEnd per boundary, the header naming each stream and its level.
    for (int threads : {0, 3}) {
        KelStreamOptions o = options(0, threads);
        o.stopAtEntries = 1;
        KelStream* s = nullptr;
        ASSERT_EQ(kelStreamCreate(&s, kelFormatBzip2, kelDecompress, &o), kelStreamOk);
        Bytes out, buf(1 << 20);
        std::size_t pos = 0;
        std::vector<std::pair<std::uint32_t, int>> seen;
        for (;;) {
            std::size_t in = all.size() - pos, room = buf.size();
            const KelStreamResult r = kelStreamProcess(s, all.data() + pos, &in, buf.data(), &room, kelFlushFinish);
            pos += in;
            out.insert(out.end(), buf.begin(), buf.begin() + room);
            if (r == kelStreamEntryEnd || r == kelStreamEnd) {
                KelStreamHeader h;
                kelStreamGetHeader(s, &h);
                seen.emplace_back(h.entry, h.level);
            }
            if (r == kelStreamEnd) break;
            ASSERT_TRUE(r == kelStreamOk || r == kelStreamEntryEnd) << r;
        }
        kelStreamFree(s);
        EXPECT_EQ(out, expect);
        EXPECT_EQ(seen, (std::vector<std::pair<std::uint32_t, int>>{{0, 1}, {1, 3}, {2, 9}}));
    }
}

TEST(Bzip2Stream, ReportsDamageWithoutLeavingItsBuffers) {
    const Bytes data(multiBlockText().begin(), multiBlockText().begin() + 120000);
    const Bytes file = compress(data, 1);
    // Cut anywhere: truncated, and only the data before the cut.
    for (std::size_t cut = 0; cut < file.size(); cut += 1 + cut / 7) {
        kel::test::GuardedBuffer src(cut), dst(data.size());
        src.fill(file.data(), cut);
        std::size_t len = data.size();
        EXPECT_EQ(kelStreamDecompress(kelFormatBzip2, src.data(), cut, dst.data(), &len, nullptr),
                  cut == 0 ? kelStreamErrTruncated : kelStreamErrTruncated)
            << cut;
        EXPECT_EQ(0, std::memcmp(dst.data(), data.data(), len));
    }
    // A block CRC, the stream CRC, the randomised bit.
    auto expectError = [&](Bytes bad, KelStreamResult want, const char* message) {
        StreamRun run = decompress(bad, 0, 4000, 9);
        EXPECT_EQ(run.result, want) << message;
        EXPECT_EQ(run.message, message);
    };
    Bytes badCrc = file;
    badCrc[10] ^= 1;
    expectError(badCrc, kelStreamErrChecksum, "block CRC mismatch");
    Bytes badStreamCrc = file;
    badStreamCrc[file.size() - 2] ^= 0x40;
    expectError(badStreamCrc, kelStreamErrChecksum, "stream CRC mismatch");
    Bytes randomised = file;
    randomised[14] |= 0x80;  // bit 112: after "BZh1", the magic and the CRC
    expectError(randomised, kelStreamErrUnsupported, "randomised blocks are not supported");
    expectError({'P', 'K', 3, 4}, kelStreamErrCorrupt, "not a bzip2 stream");
    // Bit flips anywhere into exact-size buffers: an error or the right data, never a stray access.
    auto rng = kel::test::makeRng(43);
    const Bytes small = compress(Bytes(data.begin(), data.begin() + 20000), 1);
    for (int trial = 0; trial < 300; ++trial) {
        Bytes bad = small;
        bad[4 + rng() % (bad.size() - 4)] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
        kel::test::GuardedBuffer src(bad.size()), dst(20000);
        src.fill(bad.data(), bad.size());
        std::size_t len = 20000;
        const KelStreamResult r =
            kelStreamDecompress(kelFormatBzip2, src.data(), bad.size(), dst.data(), &len, nullptr);
        if (r == kelStreamEnd) EXPECT_EQ(0, std::memcmp(dst.data(), data.data(), 20000));
    }
}

// A block announcing more selectors than it uses (the 15-bit count allows 32767; libbz2 keeps 18002 and reads past
// the rest) decodes.
TEST(Bzip2Stream, BlocksAnnouncingExtraSelectorsDecode) {
    const Bytes one(multiBlockText().begin(), multiBlockText().begin() + 200000);
    const Bytes file = libbz2Compress(one, 9);
    for (int count : {18003, 20000, 32767}) {
        SCOPED_TRACE(count);
        const Bytes edited = kel::test::bz2::rewriteSelectorCount(file, count);
        Bytes back;
        ASSERT_EQ(libbz2Decompress(edited, one.size(), back), BZ_OK);
        ASSERT_EQ(back, one);
        for (int threads : {0, 2}) {
            StreamRun run = decompress(edited, threads, 7);
            ASSERT_EQ(run.result, kelStreamEnd) << run.message;
            EXPECT_EQ(run.out, one);
        }
    }
}

// Every allocation may fail: the calls then report kelStreamErrMemory and never crash or leak.
struct FailingAllocator {
    int left = 0;
    int live = 0;
    static void* get(void* opaque, std::size_t n) {
        auto* a = static_cast<FailingAllocator*>(opaque);
        if (a->left-- <= 0) return nullptr;
        ++a->live;
        return std::malloc(n);
    }
    static void put(void* opaque, void* p) {
        --static_cast<FailingAllocator*>(opaque)->live;
        std::free(p);
    }
};

TEST(Bzip2Stream, AllocationFailuresGiveErrMemory) {
    const Bytes data(multiBlockText().begin(), multiBlockText().begin() + 250000);
    const Bytes file = concat({compress(data, 1), compress(data, 2)});
    for (int threads : {0, 2}) {
        for (int budget = 0; budget < 60; ++budget) {
            SCOPED_TRACE(std::to_string(threads) + " threads, allocation " + std::to_string(budget));
            FailingAllocator a;
            a.left = budget;
            KelStreamOptions o = options(1, threads);
            o.alloc = FailingAllocator::get;
            o.free = FailingAllocator::put;
            o.opaque = &a;
            Bytes out(data.size() * 2 + 1);
            std::size_t len = out.size();
            KelStreamResult r = kelStreamDecompress(kelFormatBzip2, file.data(), file.size(), out.data(), &len, &o);
            EXPECT_TRUE(r == kelStreamEnd || r == kelStreamErrMemory) << r;
            if (r == kelStreamEnd) EXPECT_EQ(Bytes(out.begin(), out.begin() + len), concat({data, data}));
            len = out.size();
            a.left = budget;
            r = kelStreamCompress(kelFormatBzip2, data.data(), data.size(), out.data(), &len, &o);
            EXPECT_TRUE(r == kelStreamEnd || r == kelStreamErrMemory) << r;
            EXPECT_EQ(a.live, 0);
        }
    }
}

// ---- Parallel decoding -------------------------------------------------------------------------------------------

void expectSameAsSequential(const Bytes& file, const std::string& what, std::uint32_t seed) {
    const StreamRun seq = decompress(file, 0, 0);
    for (int threads = 2; threads <= 8; threads += 3) {
        for (std::size_t piece : {std::size_t(0), std::size_t(777), std::size_t(100000)}) {
            const StreamRun par = decompress(file, threads, piece, seed + static_cast<std::uint32_t>(threads));
            ASSERT_EQ(par.result, seq.result) << what << " threads " << threads << " piece " << piece;
            ASSERT_EQ(par.message, seq.message) << what;
            ASSERT_EQ(par.out.size(), seq.out.size()) << what << " threads " << threads << " piece " << piece;
            ASSERT_TRUE(par.out == seq.out) << what;
            // After an error the input read ahead into the buffer counts as consumed; otherwise both stop at the
            // same byte.
            if (seq.result >= 0) ASSERT_EQ(par.consumed, seq.consumed) << what;
        }
    }
}

TEST(Bzip2Parallel, SameResultsAsSequential) {
    const Bytes& text = multiBlockText();
    const Bytes f1 = compress(text, 1), f9 = libbz2Compress(text, 2);
    const Bytes valid = concat({f1, compress({}, 4), f9});
    expectSameAsSequential(valid, "valid", 1);
    expectSameAsSequential(concat({valid, Bytes(9, 0)}), "padding", 2);
    expectSameAsSequential(concat({valid, Bytes{'B', 'Z', 'h', '9', 1, 2}}), "bad next stream", 2);
    expectSameAsSequential(concat({valid, Bytes{'g', 'a', 'r', 'b', 'a', 'g', 'e'}}), "trailing", 3);
    auto rng = kel::test::makeRng(44);
    for (int trial = 0; trial < 6; ++trial) {
        const std::size_t cut = 1 + rng() % (valid.size() - 1);
        expectSameAsSequential(Bytes(valid.begin(), valid.begin() + static_cast<std::ptrdiff_t>(cut)),
                               "cut at " + std::to_string(cut), 4);
        Bytes flipped = valid;
        const std::size_t at = rng() % valid.size();
        flipped[at] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
        expectSameAsSequential(flipped, "flip at " + std::to_string(at), 5);
    }
    Bytes badCrc = f1;
    badCrc[10] ^= 4;
    expectSameAsSequential(badCrc, "block CRC", 6);
}

// Inserts `bits` (a string of '0' and '1') among extra selectors of the first block, where no decoder looks at
// them: each selector is written as v one-bits and a zero (v below the table count), so any string whose runs of
// ones are short enough and that ends in a zero can be spelt out. Filler selectors make the insert whole bytes.
Bytes insertIntoSelectors(const Bytes& file, std::string bits) {
    using kel::test::bz2::BitReader;
    using kel::test::bz2::BitWriter;
    while ((bits.size() + 0) % 8 != 0) bits += '0';
    int units = 0;
    for (char c : bits) units += c == '0';
    BitReader in{file};
    BitWriter w;
    w.put(in.get(32), 32);
    w.put(in.get(24), 24);
    w.put(in.get(24), 24);
    w.put(in.get(32), 32);
    w.put(in.get(1), 1);
    w.put(in.get(24), 24);
    const std::uint32_t ranges = in.get(16);
    w.put(ranges, 16);
    for (int r = 0; r < 16; ++r) {
        if (ranges & (0x8000u >> r)) w.put(in.get(16), 16);
    }
    w.put(in.get(3), 3);
    const int own = static_cast<int>(in.get(15));
    w.put(static_cast<std::uint32_t>(own + units), 15);
    for (int g = 0; g < own; ++g) {
        int ones = 0;
        while (in.get(1) == 1) ++ones;
        w.put((1u << (ones + 1)) - 2, ones + 1);
    }
    for (char c : bits) w.put(c == '1', 1);
    while (in.left() > 0) w.put(in.get(1), 1);
    return w.out;
}

std::string bitString(std::uint64_t v, int n) {
    std::string s;
    for (int i = n - 1; i >= 0; --i) s += ((v >> i) & 1) ? '1' : '0';
    return s;
}

// The magics can occur inside block data by chance; the parallel decoder must neither cut a block there nor stop
// taking input at a false stream end.
TEST(Bzip2Parallel, MagicsInsideBlockDataChangeNothing) {
    const Bytes data(multiBlockText().begin(), multiBlockText().begin() + 400000);
    const Bytes file = libbz2Compress(data, 1);  // four blocks, six tables each
    const std::string blockMagic = bitString(0x314159265359ull, 48) + "0";
    const std::string endMagic = bitString(0x177245385090ull, 48) + "0";
    for (const std::string& insert : {blockMagic, endMagic, "0" + blockMagic + endMagic + blockMagic}) {
        const Bytes forged = insertIntoSelectors(file, insert);
        Bytes back;
        ASSERT_EQ(libbz2Decompress(forged, data.size(), back), BZ_OK);
        ASSERT_EQ(back, data);
        for (int threads : {2, 4}) {
            for (std::size_t piece : {std::size_t(0), std::size_t(5000)}) {
                StreamRun run = decompress(forged, threads, piece, 21);
                ASSERT_EQ(run.result, kelStreamEnd) << run.message;
                EXPECT_EQ(run.out, data);
            }
        }
        // A false stream end followed by trailing data: the bytes after the real end stay with the caller.
        StreamRun run = decompress(concat({forged, Bytes{'x', 'y'}}), 2, 3000, 22);
        EXPECT_EQ(run.result, kelStreamTrailingData);
        EXPECT_EQ(run.consumed, forged.size());
        EXPECT_EQ(run.out, data);
    }
}

// ---- The bzip2 tool ------------------------------------------------------------------------------------------------

std::string toolPath() {
    for (const char* p : {"/usr/bin/bzip2", "/bin/bzip2", "/usr/local/bin/bzip2"}) {
        if (access(p, X_OK) == 0) return p;
    }
    return "";
}

Bytes readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const Bytes& b) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

TEST(Bzip2Tool, RoundTripsWithTheBzip2ToolAtEveryLevel) {
    const std::string tool = toolPath();
    if (tool.empty()) {
        if (std::getenv("CI") != nullptr) FAIL() << "bzip2 is required in CI";
        GTEST_SKIP() << "bzip2 not installed";
    }
    char dir[] = "/tmp/kelstream-bz2-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string d = dir;
    const Bytes data = concat({kel::test::readCorpusFile("lcet10.txt"), kel::test::readCorpusFile("kppkn.gtb")});
    writeFile(d + "/plain", data);
    for (int level = 1; level <= 9; ++level) {
        SCOPED_TRACE(level);
        writeFile(d + "/ours.bz2", compress(data, level));
        ASSERT_EQ(std::system((tool + " -d -c " + d + "/ours.bz2 > " + d + "/ours.out").c_str()), 0);
        EXPECT_EQ(readFile(d + "/ours.out"), data);
        ASSERT_EQ(
            std::system((tool + " -" + std::to_string(level) + " -c " + d + "/plain > " + d + "/theirs.bz2").c_str()),
            0);
        StreamRun run = decompress(readFile(d + "/theirs.bz2"), level % 3, 65536, 8);
        ASSERT_EQ(run.result, kelStreamEnd) << run.message;
        EXPECT_EQ(run.out, data);
    }
    std::system(("rm -rf " + d).c_str());
}

}  // namespace

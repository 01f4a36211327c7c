// tests/stream/kelstream_lzop_test.cpp - lzop files through libkelstream: round trips in random pieces, the lzop
// tool and liblzo2 reading what we write, our decoder reading every kind of file lzop writes (levels, CRC-32,
// no checksums, paths, multi-file archives, concatenations), what follows the end, and damaged files.
#include <gtest/gtest.h>
#include <lzo/lzo1x.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "kelstream.h"
#include "support/kelstream_util.h"
#include "support/test_util.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using kel::test::runStream;

std::vector<Bytes> inputs() {
    std::vector<Bytes> v = {{}, {'x'}, Bytes(700000, 'q')};
    for (const char* name : {"alice29.txt", "fireworks.jpeg", "html_x_4", "kppkn.gtb"}) {
        v.push_back(kel::test::readCorpusFile(name));
    }
    auto rng = kel::test::makeRng(31);
    v.push_back(kel::test::randomBytes(rng, 300000));
    return v;
}

KelStreamOptions opts() {
    return kel::test::defaultStreamOptions();
}

Bytes compress(const Bytes& src, const KelStreamOptions& o, std::size_t maxPiece = 0, std::uint32_t seed = 1) {
    kel::test::StreamRun run = runStream(kelFormatLzop, kelCompress, src, &o, maxPiece, seed);
    EXPECT_EQ(run.result, kelStreamEnd) << run.message;
    return run.out;
}

// One-shot decompression into a buffer of exactly `room` bytes that ends at an inaccessible page, from a source
// copied likewise: any access past either faults.
KelStreamResult decodeGuarded(const Bytes& file, std::size_t room, Bytes* out = nullptr) {
    kel::test::GuardedBuffer in(file.size()), dst(room);
    if (!file.empty()) in.fill(file.data(), file.size());
    std::size_t dstLen = room;
    KelStreamResult r = kelStreamDecompress(kelFormatLzop, in.data(), file.size(), dst.data(), &dstLen, nullptr);
    if (out) out->assign(dst.data(), dst.data() + dstLen);
    return r;
}

// Skips outside CI when the tool is missing; CI must have it.
bool haveTool(const char* tool) {
    const bool present = std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
    if (!present && std::getenv("CI")) ADD_FAILURE() << tool << " is required in CI";
    return present;
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const Bytes& data) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

int run(const std::string& cmd) {
    return std::system(cmd.c_str());
}

std::string runOutput(const std::string& cmd) {
    std::string text;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) text.append(buf, n);
        pclose(p);
    }
    return text;
}

// A scratch directory for files the tool reads and writes, removed at the end.
class TempDir {
public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        path_ = std::string(base ? base : "/tmp") + "/kelstream_lzop_XXXXXX";
        if (!mkdtemp(path_.data())) std::abort();
    }
    ~TempDir() { run("rm -rf '" + path_ + "'"); }
    std::string operator/(const std::string& leaf) const { return path_ + "/" + leaf; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

struct Entry {
    std::string name;
    Bytes data;
    KelStreamHeader header;
};

// Decodes a whole file with stopAtEntries, one entry per kelStreamEntryEnd, in pieces of at most maxPiece.
std::vector<Entry> decodeEntries(const Bytes& file, KelStreamResult* last, std::size_t maxPiece = 1 << 20) {
    KelStreamOptions o = opts();
    o.stopAtEntries = 1;
    KelStream* s = nullptr;
    EXPECT_EQ(kelStreamCreate(&s, kelFormatLzop, kelDecompress, &o), kelStreamOk);
    std::vector<Entry> entries(1);
    Bytes buf(maxPiece);
    std::size_t pos = 0;
    for (;;) {
        std::size_t srcLen = std::min(maxPiece, file.size() - pos), dstLen = buf.size();
        KelStreamFlush flush = pos + srcLen == file.size() ? kelFlushFinish : kelFlushNone;
        KelStreamResult r = kelStreamProcess(s, file.data() + pos, &srcLen, buf.data(), &dstLen, flush);
        pos += srcLen;
        entries.back().data.insert(entries.back().data.end(), buf.begin(), buf.begin() + long(dstLen));
        if (r == kelStreamEntryEnd || r == kelStreamEnd || r == kelStreamTrailingData) {
            kelStreamGetHeader(s, &entries.back().header);
            entries.back().name = entries.back().header.name ? entries.back().header.name : "";
            entries.back().header.name = nullptr;
            if (r != kelStreamEntryEnd) {
                *last = r;
                break;
            }
            entries.emplace_back();
            continue;
        }
        if (r < 0) {
            *last = r;
            break;
        }
    }
    kelStreamFree(s);
    return entries;
}

// Reads our file the way lzop's format is documented, with liblzo2 for the blocks and zlib for the checksums: an
// independent check of every field we write.
void checkWithPeers(const Bytes& file, const Bytes& src, const std::string& name, bool crc32) {
    ASSERT_GE(file.size(), 42u);
    const std::uint8_t magic[9] = {0x89, 'L', 'Z', 'O', 0x00, 0x0D, 0x0A, 0x1A, 0x0A};
    ASSERT_EQ(std::memcmp(file.data(), magic, 9), 0);
    auto be32 = [&](std::size_t at) {
        return std::uint32_t(file[at]) << 24 | std::uint32_t(file[at + 1]) << 16 | std::uint32_t(file[at + 2]) << 8 |
               file[at + 3];
    };
    const std::uint32_t flags = be32(17);
    EXPECT_EQ(flags, crc32 ? 0x03000300u : 0x03000003u);
    const std::size_t nameLen = file[33];
    ASSERT_EQ(std::string(file.begin() + 34, file.begin() + 34 + long(nameLen)), name);
    std::size_t at = 34 + nameLen;
    EXPECT_EQ(be32(at), adler32(1, file.data() + 9, uInt(at - 9)));
    at += 4;
    auto sum = [&](const std::uint8_t* p, std::size_t n) {
        return crc32 ? std::uint32_t(::crc32(0, p, uInt(n))) : std::uint32_t(adler32(1, p, uInt(n)));
    };
    Bytes back;
    for (;;) {
        ASSERT_LE(at + 4, file.size());
        const std::uint32_t n = be32(at);
        if (n == 0) break;
        const std::uint32_t coded = be32(at + 4);
        ASSERT_LE(coded, n);
        ASSERT_LE(n, 256u * 1024);
        EXPECT_EQ(be32(at + 8), sum(src.data() + back.size(), n));
        std::size_t body = at + (coded < n ? 16 : 12);
        ASSERT_LE(body + coded, file.size());
        if (coded < n) {
            EXPECT_EQ(be32(at + 12), sum(file.data() + body, coded));
            Bytes block(n);
            lzo_uint got = n;
            ASSERT_EQ(lzo1x_decompress_safe(file.data() + body, coded, block.data(), &got, nullptr), LZO_E_OK);
            ASSERT_EQ(got, n);
            back.insert(back.end(), block.begin(), block.end());
        } else {
            back.insert(back.end(), file.begin() + long(body), file.begin() + long(body + n));
        }
        at = body + coded;
    }
    EXPECT_EQ(at + 4, file.size());
    EXPECT_EQ(back, src);
}

TEST(LzopStream, RoundTripsInRandomPiecesWithEveryChecksumKind) {
    for (int crc : {0, 1}) {
        KelStreamOptions o = opts();
        o.lzopCrc32 = crc;
        o.name = "f.txt";
        for (const Bytes& src : inputs()) {
            const Bytes whole = compress(src, o);
            // The output does not depend on how the input was cut.
            EXPECT_EQ(compress(src, o, 4099, 7), whole);
            checkWithPeers(whole, src, "f.txt", crc != 0);
            for (std::size_t piece : {std::size_t(0), std::size_t(5000), std::size_t(13)}) {
                if (piece == 13 && src.size() > 200000) continue;
                kel::test::StreamRun back = runStream(kelFormatLzop, kelDecompress, whole, nullptr, piece, 3);
                ASSERT_EQ(back.result, kelStreamEnd) << back.message << " piece " << piece;
                ASSERT_EQ(back.out, src);
                EXPECT_EQ(back.consumed, whole.size());
            }
        }
    }
}

TEST(LzopStream, HeaderFieldsAndLevelsAreRecordedAsLzopRecordsThem) {
    const Bytes src = kel::test::readCorpusFile("alice29.txt");
    // level: method, level byte (what lzop -1 .. -9 write).
    const int expect[10][2] = {{1, 5}, {2, 1}, {1, 5}, {1, 5}, {1, 5}, {1, 5}, {1, 5}, {3, 7}, {3, 8}, {3, 9}};
    Bytes defaultFile;
    for (int level = 0; level <= 9; ++level) {
        KelStreamOptions o = opts();
        o.level = level;
        o.name = "dir/name.txt";
        o.mtime = 0x123456789A;
        o.mode = level == 5 ? 0100600 : 0;
        const Bytes file = compress(src, o);
        EXPECT_EQ(file[15], expect[level][0]) << level;
        EXPECT_EQ(file[16], expect[level][1]) << level;
        if (level == 0) defaultFile = file;
        // The data is the same LZO1X-1 whatever the level: only the two header bytes and the header checksum differ.
        EXPECT_EQ(Bytes(file.begin() + 50, file.end()), Bytes(defaultFile.begin() + 50, defaultFile.end()));

        KelStream* s = nullptr;
        ASSERT_EQ(kelStreamCreate(&s, kelFormatLzop, kelDecompress, nullptr), kelStreamOk);
        Bytes out(src.size());
        std::size_t srcLen = file.size(), dstLen = out.size();
        ASSERT_EQ(kelStreamProcess(s, file.data(), &srcLen, out.data(), &dstLen, kelFlushFinish), kelStreamEnd);
        KelStreamHeader h;
        ASSERT_EQ(kelStreamGetHeader(s, &h), kelStreamOk);
        EXPECT_EQ(h.format, kelFormatLzop);
        EXPECT_EQ(h.complete, 1);
        EXPECT_STREQ(h.name, "dir/name.txt");
        EXPECT_EQ(h.mtime, 0x123456789A);
        EXPECT_EQ(h.mode, level == 5 ? 0100600u : 0100644u);
        EXPECT_EQ(h.method, expect[level][0]);
        EXPECT_EQ(h.level, expect[level][1]);
        kelStreamFree(s);
    }
    KelStreamOptions bad = opts();
    bad.level = 10;
    KelStream* s = nullptr;
    EXPECT_EQ(kelStreamCreate(&s, kelFormatLzop, kelCompress, &bad), kelStreamErrArgument);
    EXPECT_EQ(s, nullptr);
}

TEST(LzopStream, SyncFlushEndsTheBlockSoEverythingSoFarDecodes) {
    const Bytes src = kel::test::readCorpusFile("alice29.txt");
    const std::size_t half = 70000;
    KelStream* enc = nullptr;
    ASSERT_EQ(kelStreamCreate(&enc, kelFormatLzop, kelCompress, nullptr), kelStreamOk);
    Bytes file;
    Bytes buf(1000);
    std::size_t pos = 0;
    KelStreamResult r;
    do {  // small output room: the flush takes several calls
        std::size_t srcLen = half - pos, dstLen = buf.size();
        r = kelStreamProcess(enc, src.data() + pos, &srcLen, buf.data(), &dstLen, kelFlushSync);
        pos += srcLen;
        file.insert(file.end(), buf.begin(), buf.begin() + long(dstLen));
        ASSERT_GE(r, 0);
    } while (r != kelStreamFlushed);
    ASSERT_EQ(pos, half);
    // A decoder given only what came out so far hands out the whole first half.
    kel::test::StreamRun partial = runStream(kelFormatLzop, kelDecompress, file, nullptr, 0);
    EXPECT_EQ(partial.result, kelStreamErrTruncated);
    EXPECT_EQ(partial.out, Bytes(src.begin(), src.begin() + long(half)));
    do {
        std::size_t srcLen = src.size() - pos, dstLen = buf.size();
        r = kelStreamProcess(enc, src.data() + pos, &srcLen, buf.data(), &dstLen, kelFlushFinish);
        pos += srcLen;
        file.insert(file.end(), buf.begin(), buf.begin() + long(dstLen));
        ASSERT_GE(r, 0);
    } while (r != kelStreamEnd);
    kelStreamFree(enc);
    EXPECT_EQ(runStream(kelFormatLzop, kelDecompress, file).out, src);
}

TEST(LzopStream, BoundIsATrueWorstCase) {
    auto rng = kel::test::makeRng(33);
    const std::string longName(300, 'n');
    for (std::size_t n : {std::size_t(0), std::size_t(1), std::size_t(256 * 1024), std::size_t(256 * 1024 + 1),
                          std::size_t(3 * 256 * 1024 - 5)}) {
        const Bytes src = kel::test::randomBytes(rng, n);
        KelStreamOptions o = opts();
        o.name = longName.c_str();
        const std::size_t bound = kelStreamCompressBound(kelFormatLzop, n, &o);
        kel::test::GuardedBuffer dst(bound);
        std::size_t dstLen = bound;
        ASSERT_EQ(kelStreamCompress(kelFormatLzop, src.data(), n, dst.data(), &dstLen, &o), kelStreamEnd) << n;
        EXPECT_LE(dstLen, bound);
        EXPECT_GE(dstLen + 64, bound) << "the bound should stay tight for incompressible data";
        Bytes back;
        EXPECT_EQ(decodeGuarded(Bytes(dst.data(), dst.data() + dstLen), n, &back), kelStreamEnd);
        EXPECT_EQ(back, src);
    }
}

TEST(LzopStream, TheLzopToolReadsOurFiles) {
    if (!haveTool("lzop")) GTEST_SKIP() << "lzop not installed";
    TempDir dir;
    for (int crc : {0, 1}) {
        for (const Bytes& src : inputs()) {
            KelStreamOptions o = opts();
            o.lzopCrc32 = crc;
            o.name = "plain";
            writeFile(dir / "ours.lzo", compress(src, o));
            ASSERT_EQ(run("lzop -t -q " + dir / "ours.lzo"), 0);
            ASSERT_EQ(run("lzop -dc " + dir / "ours.lzo" + " > " + dir / "back"), 0);
            EXPECT_EQ(readFile(dir / "back"), src);
        }
    }
    KelStreamOptions o = opts();
    o.name = "named.txt";
    o.level = 8;
    writeFile(dir / "ours.lzo", compress(Bytes(1000, 'a'), o));
    const std::string listing = runOutput("lzop -l -N " + dir / "ours.lzo");
    EXPECT_NE(listing.find("LZO1X-999"), std::string::npos) << listing;
    EXPECT_NE(listing.find("named.txt"), std::string::npos) << listing;
}

TEST(LzopStream, ReadsWhatLzopWritesWithEveryOption) {
    if (!haveTool("lzop")) GTEST_SKIP() << "lzop not installed";
    TempDir dir;
    const std::vector<std::string> variants = {"-1",         "-2", "-3",         "-5", "-7", "-9", "--crc32",
                                               "-9 --crc32", "-F", "-F --crc32", "-P", "-n", "-N"};
    for (const char* name : {"alice29.txt", "fireworks.jpeg", "kppkn.gtb", "urls.10K"}) {
        const Bytes src = kel::test::readCorpusFile(name);
        writeFile(dir / name, src);
        struct stat st;
        ASSERT_EQ(stat((dir / name).c_str(), &st), 0);
        for (const std::string& v : variants) {
            ASSERT_EQ(run("cd " + dir.path() + " && lzop -c " + v + " " + name + " > file.lzo"), 0);
            const Bytes file = readFile(dir / "file.lzo");
            Bytes back;
            ASSERT_EQ(decodeGuarded(file, src.size(), &back), kelStreamEnd) << name << " " << v;
            EXPECT_EQ(back, src) << name << " " << v;
            KelStreamResult last;
            std::vector<Entry> entries = decodeEntries(file, &last, 777);
            ASSERT_EQ(entries.size(), 1u);
            EXPECT_EQ(entries[0].name, name) << v;
            EXPECT_EQ(entries[0].header.mtime, st.st_mtime) << v;
            EXPECT_EQ(entries[0].header.mode, st.st_mode) << v;
            EXPECT_EQ(entries[0].data, src);
        }
    }
    // From standard input: no name.
    ASSERT_EQ(run("lzop -c < " + dir / "alice29.txt" + " > " + dir / "stdin.lzo"), 0);
    KelStreamResult last;
    std::vector<Entry> entries = decodeEntries(readFile(dir / "stdin.lzo"), &last);
    EXPECT_EQ(last, kelStreamEnd);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "");
    EXPECT_EQ(entries[0].data, kel::test::readCorpusFile("alice29.txt"));
}

TEST(LzopStream, MultiFileArchivesAndConcatenatedFilesDecodeEveryEntry) {
    if (!haveTool("lzop")) GTEST_SKIP() << "lzop not installed";
    TempDir dir;
    const std::vector<std::string> names = {"alice29.txt", "html", "fireworks.jpeg", "urls.10K"};
    Bytes all;
    for (const std::string& n : names) {
        const Bytes data = kel::test::readCorpusFile(n);
        writeFile(dir / n, data);
        all.insert(all.end(), data.begin(), data.end());
    }
    // One lzop run over several files, then the same files appended one run at a time.
    ASSERT_EQ(run("cd " + dir.path() + " && lzop -c alice29.txt html fireworks.jpeg urls.10K > multi.lzo"), 0);
    ASSERT_EQ(run("cd " + dir.path() +
                  " && lzop -c alice29.txt html > cat.lzo && lzop -c -9 fireworks.jpeg >> cat.lzo"
                  " && lzop -c --crc32 urls.10K >> cat.lzo"),
              0);
    for (const char* archive : {"multi.lzo", "cat.lzo"}) {
        const Bytes file = readFile(dir / archive);
        kel::test::StreamRun whole = runStream(kelFormatLzop, kelDecompress, file, nullptr, 3000, 9);
        EXPECT_EQ(whole.result, kelStreamEnd) << whole.message;
        EXPECT_EQ(whole.out, all) << archive;
        Bytes back;
        EXPECT_EQ(decodeGuarded(file, all.size(), &back), kelStreamEnd);
        EXPECT_EQ(back, all);

        KelStreamResult last;
        std::vector<Entry> entries = decodeEntries(file, &last, 4096);
        EXPECT_EQ(last, kelStreamEnd);
        ASSERT_EQ(entries.size(), names.size()) << archive;
        const std::string listing = runOutput("lzop -l -N " + dir / archive + " 2>/dev/null");
        for (std::size_t k = 0; k < names.size(); ++k) {
            EXPECT_EQ(entries[k].header.entry, k);
            EXPECT_EQ(entries[k].name, names[k]);
            EXPECT_NE(listing.find(names[k]), std::string::npos) << listing;
            EXPECT_EQ(entries[k].data, kel::test::readCorpusFile(names[k]));
        }
        EXPECT_EQ(entries[2].header.method, std::string(archive) == "cat.lzo" ? 3 : 1);
    }
}

TEST(LzopStream, ZeroPaddingIsConsumedAndOtherBytesAreTrailingData) {
    const Bytes src = kel::test::readCorpusFile("html");
    KelStreamOptions o = opts();
    o.name = "html";
    const Bytes file = compress(src, o);
    struct Case {
        Bytes tail;
        KelStreamResult result;
        std::size_t consumedTail;
    };
    const std::vector<Case> cases = {
        {Bytes(512, 0), kelStreamEnd, 512},
        {{'g', 'a', 'r', 'b', 'a', 'g', 'e'}, kelStreamTrailingData, 0},
        {{0, 0, 0, 'x'}, kelStreamTrailingData, 3},
        {{0x89, 'L', 'Z', 'O', 0, 0x0D, 0x0A, 0x1A, 0x0B, 1, 2}, kelStreamTrailingData, 0},  // a near-magic
        {{0x89, 'L', 'Z'}, kelStreamErrTruncated, 3},  // the start of another file, cut short
    };
    for (const Case& c : cases) {
        Bytes in = file;
        in.insert(in.end(), c.tail.begin(), c.tail.end());
        for (std::size_t piece : {std::size_t(0), std::size_t(1000)}) {
            kel::test::StreamRun r = runStream(kelFormatLzop, kelDecompress, in, nullptr, piece, 5);
            EXPECT_EQ(r.result, c.result) << c.tail.size() << " " << r.message;
            EXPECT_EQ(r.out, src);
            if (c.result >= 0) EXPECT_EQ(r.consumed, file.size() + c.consumedTail) << c.tail.size();
        }
        Bytes back;
        EXPECT_EQ(decodeGuarded(in, src.size(), &back), c.result);
        EXPECT_EQ(back, src);
    }
    // Trailing data after a concatenation: both files decode, then the garbage is reported.
    Bytes two = file;
    two.insert(two.end(), file.begin(), file.end());
    two.push_back('!');
    kel::test::StreamRun r = runStream(kelFormatLzop, kelDecompress, two, nullptr, 0);
    EXPECT_EQ(r.result, kelStreamTrailingData);
    EXPECT_EQ(r.out.size(), 2 * src.size());
    EXPECT_EQ(r.consumed, two.size() - 1);
}

TEST(LzopStream, DamagedFilesGiveErrorsNeverWildAccesses) {
    const Bytes src = kel::test::readCorpusFile("alice29.txt");
    KelStreamOptions o = opts();
    o.name = "a";
    const Bytes small = compress(Bytes(src.begin(), src.begin() + 3000), o);
    // Every cut: truncated (only the cut at the very end is the whole file).
    for (std::size_t cut = 0; cut < small.size(); ++cut) {
        EXPECT_EQ(decodeGuarded(Bytes(small.begin(), small.begin() + long(cut)), 3000), kelStreamErrTruncated) << cut;
    }
    // Every single-bit flip is caught by a checksum, a length or a field check.
    for (std::size_t at = 0; at < small.size(); ++at) {
        for (int bit = 0; bit < 8; ++bit) {
            Bytes bad = small;
            bad[at] ^= std::uint8_t(1 << bit);
            EXPECT_LT(decodeGuarded(bad, 3000), 0) << at << ":" << bit;
        }
    }
    // The two block checksums and the header checksum, each named.
    Bytes badHeader = small;
    badHeader[25] ^= 1;  // the mode
    EXPECT_EQ(decodeGuarded(badHeader, 3000), kelStreamErrChecksum);
    const std::size_t block = 34 + 1 + 4;
    Bytes badData = small;
    badData[block + 8] ^= 1;  // the decoded data's Adler-32
    EXPECT_EQ(decodeGuarded(badData, 3000), kelStreamErrChecksum);
    Bytes badCoded = small;
    badCoded[block + 12] ^= 1;  // the coded data's Adler-32
    EXPECT_EQ(decodeGuarded(badCoded, 3000), kelStreamErrChecksum);
    // Too little room for the one-shot call.
    EXPECT_EQ(decodeGuarded(small, 2999), kelStreamErrNoRoom);

    // Random damage and cuts of a multi-block file, into exact-size buffers.
    const Bytes big = compress(Bytes(src.begin(), src.end()), o);
    auto rng = kel::test::makeRng(34);
    for (int trial = 0; trial < 150; ++trial) {
        Bytes bad = big;
        for (int k = 0; k < 1 + int(rng() % 3); ++k) bad[rng() % bad.size()] = std::uint8_t(rng());
        if (trial % 2) bad.resize(rng() % (bad.size() + 1));
        Bytes out;
        const KelStreamResult r = decodeGuarded(bad, src.size(), &out);
        if (r >= 0) EXPECT_EQ(out, src) << kel::test::seedNote();
    }
}

TEST(LzopStream, UnsupportedFeaturesAreReportedAsSuch) {
    if (!haveTool("lzop")) GTEST_SKIP() << "lzop not installed";
    TempDir dir;
    writeFile(dir / "a", kel::test::readCorpusFile("alice29.txt"));
    // lzop's undocumented --filter option stores a filter number; such files need the filter to restore.
    ASSERT_EQ(run("lzop -c --filter=1 " + dir / "a" + " > " + dir / "f.lzo 2>/dev/null"), 0);
    const Bytes file = readFile(dir / "f.lzo");
    ASSERT_EQ(file[20] & 0x08, 0x08) << "lzop wrote no filter flag";
    EXPECT_EQ(decodeGuarded(file, 1 << 20), kelStreamErrUnsupported);
}

}  // namespace

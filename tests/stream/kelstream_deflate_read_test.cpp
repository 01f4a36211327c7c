// tests/stream/kelstream_deflate_read_test.cpp - gzip, zlib and raw Deflate decompression through libkelstream.
//
// zlib and the gzip tool make the streams (every level, strategy, flush point and dictionary) and the decoder must
// give back the input whatever the piece sizes on either side; gzip members are also built by hand for the header
// fields zlib does not write. Damaged input (every cut point, bit flips) must end in a clear result inside
// guard-paged buffers of exactly the size handed over, and raw streams must get zlib's verdict.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/kelstream_util.h"
#include "support/test_util.h"

namespace kel::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// ---- Making streams -----------------------------------------------------------------------------------------------

// zlib's deflate: windowBits 31 gzip, 15 zlib, -15 raw. flushEvery > 0 puts a flush point (Z_SYNC_FLUSH or
// Z_FULL_FLUSH) after every flushEvery input bytes.
struct ZlibMake {
    int level = 6;
    int windowBits = 15;
    int strategy = Z_DEFAULT_STRATEGY;
    std::size_t flushEvery = 0;
    int flushKind = Z_SYNC_FLUSH;
    const Bytes* dictionary = nullptr;
};

Bytes zlibCompress(const Bytes& plain, const ZlibMake& m = {}) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, m.level, Z_DEFLATED, m.windowBits, 8, m.strategy), Z_OK);
    if (m.dictionary) deflateSetDictionary(&z, m.dictionary->data(), uInt(m.dictionary->size()));
    Bytes out(deflateBound(&z, plain.size()) + 64 + (m.flushEvery ? 6 * (plain.size() / m.flushEvery + 1) : 0));
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    std::size_t pos = 0;
    for (;;) {
        const std::size_t step = m.flushEvery ? std::min(m.flushEvery, plain.size() - pos) : plain.size() - pos;
        z.next_in = const_cast<Bytef*>(plain.data() + pos);
        z.avail_in = uInt(step);
        pos += step;
        const bool last = pos == plain.size();
        EXPECT_NE(deflate(&z, last ? Z_FINISH : m.flushKind), Z_STREAM_ERROR);
        if (last) break;
    }
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

Bytes gzipOf(const Bytes& plain, int level = 6) {
    return zlibCompress(plain, {level, 31});
}
Bytes zlibOf(const Bytes& plain, int level = 6) {
    return zlibCompress(plain, {level, 15});
}
Bytes rawOf(const Bytes& plain, int level = 6) {
    return zlibCompress(plain, {level, -15});
}

Bytes cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Text-like data with long repeats, short repeats and runs: every match shape an encoder emits.
Bytes repetitiveBytes(std::mt19937_64& rng, std::size_t n) {
    static const char* words[] = {"inflate ", "deflate ", "window ", "the ", "a ", "zzzzzzzzzzzzzzzzzzzzzzzzzzz", "\n"};
    Bytes v;
    while (v.size() < n) {
        const unsigned pick = unsigned(rng() % 10);
        if (pick < 7) {
            v.insert(v.end(), words[pick], words[pick] + std::strlen(words[pick]));
        } else if (pick == 7 && v.size() > 300) {
            const std::size_t from = v.size() - 1 - rng() % 300, len = 3 + rng() % 300;
            for (std::size_t k = 0; k < len; ++k) v.push_back(v[from + k]);
        } else {
            v.insert(v.end(), 1 + rng() % 40, std::uint8_t(rng()));
        }
    }
    v.resize(n);
    return v;
}

// A gzip member with every optional field written by hand around zlib's raw Deflate data.
struct GzipFields {
    const char* name = nullptr;
    const char* comment = nullptr;
    const Bytes* extra = nullptr;
    bool headerCrc = false;
    std::uint32_t mtime = 0;
    std::uint8_t xfl = 0;
    std::uint8_t os = 3;
    std::uint8_t extraFlags = 0;  // reserved bits to set
};

Bytes gzipMember(const Bytes& plain, const GzipFields& f, int level = 6) {
    Bytes h = {0x1f, 0x8b, 8, 0};
    h[3] = std::uint8_t((f.headerCrc ? 2 : 0) | (f.extra ? 4 : 0) | (f.name ? 8 : 0) | (f.comment ? 16 : 0) |
                        f.extraFlags);
    for (int k = 0; k < 4; ++k) h.push_back(std::uint8_t(f.mtime >> (8 * k)));
    h.push_back(f.xfl);
    h.push_back(f.os);
    if (f.extra) {
        h.push_back(std::uint8_t(f.extra->size()));
        h.push_back(std::uint8_t(f.extra->size() >> 8));
        h.insert(h.end(), f.extra->begin(), f.extra->end());
    }
    if (f.name) h.insert(h.end(), f.name, f.name + std::strlen(f.name) + 1);
    if (f.comment) h.insert(h.end(), f.comment, f.comment + std::strlen(f.comment) + 1);
    if (f.headerCrc) {
        const uLong crc = crc32(0, h.data(), uInt(h.size()));
        h.push_back(std::uint8_t(crc));
        h.push_back(std::uint8_t(crc >> 8));
    }
    Bytes m = cat(h, rawOf(plain, level));
    const uLong crc = crc32(0, plain.data(), uInt(plain.size()));
    for (int k = 0; k < 4; ++k) m.push_back(std::uint8_t(crc >> (8 * k)));
    for (int k = 0; k < 4; ++k) m.push_back(std::uint8_t(plain.size() >> (8 * k)));
    return m;
}

// ---- Decoding -----------------------------------------------------------------------------------------------------

struct Decoded {
    KelStreamResult result = kelStreamOk;
    Bytes out;
    std::size_t consumed = 0;
    std::string message;
    std::vector<KelStreamHeader> entries;  // the header at each kelStreamEntryEnd and at the end
    std::vector<std::string> names;        // their names ("" when absent)
};

// Decodes through the streaming calls with input and output pieces of random sizes from 1 to maxIn / maxOut
// (0: everything at once and room for outLimit bytes). Every input piece lies at the end of a guard-paged buffer
// of exactly its size and every room is a guard-paged buffer of exactly the size handed over, so a read or write
// past either faults. kelStreamNeedDictionary is answered with `dict` when given; kelStreamEntryEnd is recorded.
Decoded decode(KelStreamFormat format, const Bytes& src, std::size_t maxIn = 0, std::size_t maxOut = 0,
               const KelStreamOptions* options = nullptr, const Bytes* dict = nullptr, std::uint64_t seed = 1,
               std::size_t outLimit = std::size_t(1) << 26) {
    Decoded d;
    KelStream* s = nullptr;
    d.result = kelStreamCreate(&s, format, kelDecompress, options);
    if (d.result < 0) return d;
    std::mt19937_64 rng(seed);
    auto pick = [&](std::size_t max) { return max ? 1 + std::size_t(rng() % max) : std::size_t(0); };
    auto record = [&] {
        KelStreamHeader h;
        kelStreamGetHeader(s, &h);
        d.entries.push_back(h);
        d.names.push_back(h.name ? h.name : "");
    };
    // Each piece is placed at the end of its buffer, against the guard page.
    const std::size_t inCap = maxIn ? maxIn : std::max<std::size_t>(src.size(), 1);
    const std::size_t outCap = maxOut ? maxOut : outLimit;
    GuardedBuffer in(inCap), out(outCap);
    std::size_t pos = 0;
    int idle = 0;
    for (;;) {
        std::size_t inLen = maxIn ? std::min(pick(maxIn), src.size() - pos) : src.size() - pos;
        const bool last = pos + inLen == src.size();
        std::uint8_t* inPtr = in.data() + (inCap - inLen);
        if (inLen) std::memcpy(inPtr, src.data() + pos, inLen);
        const std::size_t room = maxOut ? pick(maxOut) : outLimit;
        std::uint8_t* outPtr = out.data() + (outCap - room);
        std::size_t outLen = room;
        const KelStreamResult r =
            kelStreamProcess(s, inLen ? inPtr : nullptr, &inLen, outPtr, &outLen, last ? kelFlushFinish : kelFlushNone);
        pos += inLen;
        d.out.insert(d.out.end(), outPtr, outPtr + outLen);
        d.result = r;
        if (r < 0) {
            d.message = kelStreamMessage(s);
            break;
        }
        if (r == kelStreamEntryEnd) record();
        if (r == kelStreamEnd || r == kelStreamTrailingData) {
            record();
            break;
        }
        if (r == kelStreamNeedDictionary) {
            if (!dict) break;
            d.result = kelStreamSetDictionary(s, dict->data(), dict->size());
            if (d.result < 0) break;
            continue;
        }
        idle = inLen == 0 && outLen == 0 && r == kelStreamOk ? idle + 1 : 0;
        if (idle > 3 || d.out.size() > outLimit) break;
    }
    d.consumed = pos;
    kelStreamFree(s);
    return d;
}

// The one-shot call into a guard-paged room of exactly `room` bytes.
Decoded decodeOneShot(KelStreamFormat format, const Bytes& src, std::size_t room,
                      const KelStreamOptions* options = nullptr) {
    Decoded d;
    GuardedBuffer in(src.size() ? src.size() : 1), out(room ? room : 1);
    if (!src.empty()) in.fill(src.data(), src.size());
    std::size_t outLen = room;
    d.result = kelStreamDecompress(format, in.data(), src.size(), out.data(), &outLen, options);
    EXPECT_LE(outLen, room);
    d.out.assign(out.data(), out.data() + std::min(outLen, room));
    return d;
}

KelStreamOptions withDictionary(const Bytes& dict) {
    KelStreamOptions o = defaultStreamOptions();
    o.dictionary = dict.data();
    o.dictionaryLen = dict.size();
    return o;
}

std::string what(KelStreamFormat f, std::size_t in, std::size_t out) {
    return "format " + std::to_string(int(f)) + " in " + std::to_string(in) + " out " + std::to_string(out);
}

bool haveTool(const char* tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

constexpr KelStreamFormat kFormats[] = {kelFormatGzip, kelFormatZlib, kelFormatDeflate};
constexpr int kWindowBits[] = {31, 15, -15};

struct Strategy {
    const char* name;
    int value;
};
constexpr Strategy kStrategies[] = {{"default", Z_DEFAULT_STRATEGY},
                                    {"filtered", Z_FILTERED},
                                    {"huffman", Z_HUFFMAN_ONLY},
                                    {"rle", Z_RLE},
                                    {"fixed", Z_FIXED}};

// ---- Round trips of zlib's streams --------------------------------------------------------------------------------

TEST(DeflateRead, ZlibStreamsAtEveryLevelInRandomPiecesAndOneShot) {
    SCOPED_TRACE(seedNote());
    std::mt19937_64 rng = makeRng(101);
    const Bytes text = readCorpusFile("alice29.txt");
    const Bytes inputs[] = {Bytes(text.begin(), text.begin() + 60000), repetitiveBytes(rng, 90000),
                            randomBytes(rng, 20000), Bytes(), Bytes(1, 'x')};
    for (int f = 0; f < 3; ++f) {
        for (int level = 1; level <= 9; ++level) {
            for (const Bytes& plain : inputs) {
                const Bytes z = zlibCompress(plain, {level, kWindowBits[f]});
                SCOPED_TRACE(what(kFormats[f], level, plain.size()));
                const Decoded one = decodeOneShot(kFormats[f], z, plain.size());
                ASSERT_EQ(one.result, kelStreamEnd);
                ASSERT_TRUE(one.out == plain);
                const std::size_t maxIn = level == 1 ? 1 : level < 5 ? 300 : 65536;
                const std::size_t maxOut = level == 2 ? 1 : level < 7 ? 999 : 65536;
                const Decoded d = decode(kFormats[f], z, maxIn, maxOut, nullptr, nullptr, rng());
                ASSERT_EQ(d.result, kelStreamEnd) << d.message;
                ASSERT_TRUE(d.out == plain);
                ASSERT_EQ(d.consumed, z.size());
            }
        }
    }
}

TEST(DeflateRead, SyncAndFullFlushPointsInEveryFormat) {
    SCOPED_TRACE(seedNote());
    std::mt19937_64 rng = makeRng(102);
    const Bytes plain = cat(readCorpusFile("html"), repetitiveBytes(rng, 50000));
    for (int f = 0; f < 3; ++f) {
        for (const int kind : {Z_SYNC_FLUSH, Z_FULL_FLUSH}) {
            for (const std::size_t every : {1u, 1000u, 40000u}) {
                ZlibMake m{6, kWindowBits[f]};
                m.flushEvery = every;
                m.flushKind = kind;
                const Bytes z = zlibCompress(every == 1 ? Bytes(plain.begin(), plain.begin() + 3000) : plain, m);
                const Bytes& want = every == 1 ? Bytes(plain.begin(), plain.begin() + 3000) : plain;
                SCOPED_TRACE(what(kFormats[f], every, std::size_t(kind)));
                const Decoded d = decode(kFormats[f], z, 1 + rng() % 5000, 1 + rng() % 5000, nullptr, nullptr, rng());
                ASSERT_EQ(d.result, kelStreamEnd) << d.message;
                ASSERT_TRUE(d.out == want);
            }
        }
    }
}

TEST(DeflateRead, CorpusAtEveryStrategyIntoExactRooms) {
    for (const auto& name : corpusFileNames()) {
        const Bytes plain = readCorpusFile(name);
        ASSERT_FALSE(plain.empty()) << name;
        for (const int level : {1, 6, 9}) {
            for (const Strategy& s : kStrategies) {
                const Bytes z = zlibCompress(plain, {level, 15, s.value});
                const Decoded d = decodeOneShot(kelFormatZlib, z, plain.size());
                ASSERT_EQ(d.result, kelStreamEnd) << name << " " << level << " " << s.name;
                ASSERT_TRUE(d.out == plain) << name << " " << level << " " << s.name;
            }
        }
    }
}

TEST(DeflateRead, RandomRepetitiveAndTinyInputsAtEveryStrategy) {
    SCOPED_TRACE(seedNote());
    std::mt19937_64 rng = makeRng(109);
    std::vector<Bytes> inputs = {{}, {42}, Bytes(100000, 0), randomBytes(rng, 300000), repetitiveBytes(rng, 500000)};
    for (const std::size_t n : {15, 16, 17, 31, 32, 33, 63, 64, 65, 258, 259, 32767, 32768, 32769, 65536})
        inputs.push_back(repetitiveBytes(rng, n));
    for (const Bytes& plain : inputs) {
        for (const int level : {1, 6, 9}) {
            for (const Strategy& s : kStrategies) {
                const Decoded d = decodeOneShot(kelFormatZlib, zlibCompress(plain, {level, 15, s.value}), plain.size());
                ASSERT_EQ(d.result, kelStreamEnd) << plain.size() << " " << level << " " << s.name;
                ASSERT_TRUE(d.out == plain) << plain.size() << " " << level << " " << s.name;
            }
        }
    }
}

// Resume at every kind of stopping point: the whole corpus in tiny pieces, and every strategy on slices.
TEST(DeflateRead, TinyInputPiecesAndOutputRooms) {
    SCOPED_TRACE(seedNote());
    std::mt19937_64 rng = makeRng(103);
    for (const auto& name : corpusFileNames()) {
        const Bytes plain = readCorpusFile(name);
        const Bytes z = zlibOf(plain);
        const Decoded d =
            decode(kelFormatZlib, z, name.size() % 2 ? 1 : 7, name.size() % 2 ? 100 : 1, nullptr, nullptr, rng());
        ASSERT_EQ(d.result, kelStreamEnd) << name << " " << d.message;
        ASSERT_TRUE(d.out == plain) << name;
    }
    const Bytes html = readCorpusFile("html");
    const Bytes slices[] = {Bytes(html.begin(), html.begin() + 40000), repetitiveBytes(rng, 70000),
                            randomBytes(rng, 40000), Bytes(100000, 0)};
    for (const Bytes& plain : slices) {
        for (const int level : {0, 1, 9}) {
            for (const Strategy& s : kStrategies) {
                const Bytes z = zlibCompress(plain, {level, -15, s.value});
                const Decoded d = decode(kelFormatDeflate, z, 3, 3, nullptr, nullptr, rng());
                ASSERT_EQ(d.result, kelStreamEnd) << s.name << " " << level;
                ASSERT_TRUE(d.out == plain) << s.name << " " << level;
            }
        }
    }
}

// One call with exactly the output's room decodes through the library's packed paths: literal pairs and block
// copies that run past a match's end. In a guard-paged room a copy leaving the room faults; a wrong pair or a
// copy reading its own unwritten bytes changes the output.
TEST(DeflateRead, PairedLiteralsAndBlockCopiesOfEveryDistanceClass) {
    SCOPED_TRACE(seedNote());
    std::mt19937_64 rng = makeRng(104);
    Bytes skewed(200000);
    for (auto& b : skewed) {
        const unsigned r = unsigned(rng() % 1000);
        b = r < 500 ? 'a' : r < 750 ? 'b' : r < 875 ? 'c' : r < 990 ? 'd' : std::uint8_t(rng());
    }
    Bytes periodic;
    for (unsigned p = 1; p <= 70; ++p) {
        for (const unsigned run : {5u, 47u, 49u, 258u, 1000u}) {
            const Bytes seed = randomBytes(rng, p);
            periodic.insert(periodic.end(), seed.begin(), seed.end());
            for (unsigned k = 0; k < run; ++k) periodic.push_back(periodic[periodic.size() - p]);
        }
    }
    for (const Bytes* plain : {&skewed, &periodic}) {
        for (const Strategy& s : kStrategies) {
            const Decoded d = decodeOneShot(kelFormatZlib, zlibCompress(*plain, {6, 15, s.value}), plain->size());
            ASSERT_EQ(d.result, kelStreamEnd) << s.name;
            ASSERT_TRUE(d.out == *plain) << s.name;
        }
    }
}

// ---- Dictionaries -------------------------------------------------------------------------------------------------

TEST(DeflateReadDictionary, ZlibAsksForTheNamedDictionaryAndChecksIt) {
    SCOPED_TRACE(seedNote());
    std::mt19937_64 rng = makeRng(105);
    const Bytes text = readCorpusFile("lcet10.txt");
    // Longer than the window: the stream names the Adler-32 of all of it but matches reach only its last 32 KiB.
    const Bytes dict(text.begin(), text.begin() + 40000), plain(text.begin() + 20000, text.begin() + 90000);
    ZlibMake m{9, 15};
    m.dictionary = &dict;
    const Bytes z = zlibCompress(plain, m);
    const std::uint32_t adler = std::uint32_t(adler32(1, dict.data(), uInt(dict.size())));

    // Asked for, then supplied: a wrong one is refused and the stream keeps waiting.
    KelStream* s = nullptr;
    ASSERT_EQ(kelStreamCreate(&s, kelFormatZlib, kelDecompress, nullptr), kelStreamOk);
    Bytes out(plain.size());
    std::size_t inLen = z.size(), outLen = out.size();
    ASSERT_EQ(kelStreamProcess(s, z.data(), &inLen, out.data(), &outLen, kelFlushFinish), kelStreamNeedDictionary);
    EXPECT_EQ(inLen, 6u);
    EXPECT_EQ(outLen, 0u);
    KelStreamHeader h;
    kelStreamGetHeader(s, &h);
    EXPECT_EQ(h.hasDictId, 1);
    EXPECT_EQ(h.dictId, adler);
    EXPECT_EQ(h.level, 3);  // FLEVEL of level 9
    EXPECT_EQ(h.complete, 1);
    const Bytes wrong(dict.begin(), dict.end() - 1);
    EXPECT_EQ(kelStreamSetDictionary(s, wrong.data(), wrong.size()), kelStreamErrArgument);
    std::size_t again = 0, none = 0;
    EXPECT_EQ(kelStreamProcess(s, z.data() + 6, &again, out.data(), &none, kelFlushFinish), kelStreamNeedDictionary);
    ASSERT_EQ(kelStreamSetDictionary(s, dict.data(), dict.size()), kelStreamOk);
    EXPECT_EQ(kelStreamSetDictionary(s, dict.data(), dict.size()), kelStreamErrArgument) << "not asked for now";
    inLen = z.size() - 6;
    outLen = out.size();
    EXPECT_EQ(kelStreamProcess(s, z.data() + 6, &inLen, out.data(), &outLen, kelFlushFinish), kelStreamEnd);
    EXPECT_TRUE(out == plain);
    kelStreamFree(s);

    // In pieces, answering the request; and with the dictionary in the options, used without asking.
    Decoded d = decode(kelFormatZlib, z, 5, 333, nullptr, &dict, rng());
    EXPECT_EQ(d.result, kelStreamEnd) << d.message;
    EXPECT_TRUE(d.out == plain);
    const KelStreamOptions o = withDictionary(dict);
    d = decode(kelFormatZlib, z, 0, 0, &o);
    EXPECT_EQ(d.result, kelStreamEnd) << d.message;
    EXPECT_TRUE(d.out == plain);
    d = decodeOneShot(kelFormatZlib, z, plain.size(), &o);
    EXPECT_EQ(d.result, kelStreamEnd);
    EXPECT_TRUE(d.out == plain);
    // One-shot without it, or with another one: the caller's mistake.
    EXPECT_EQ(decodeOneShot(kelFormatZlib, z, plain.size()).result, kelStreamErrArgument);
    const KelStreamOptions bad = withDictionary(wrong);
    EXPECT_EQ(decodeOneShot(kelFormatZlib, z, plain.size(), &bad).result, kelStreamErrArgument);
}

TEST(DeflateReadDictionary, RawDictionariesSeedTheHistoryBeforeTheFirstCall) {
    const Bytes text = readCorpusFile("plrabn12.txt");
    const Bytes dict(text.begin(), text.begin() + 50000), plain(text.begin() + 30000, text.begin() + 80000);
    ZlibMake m{6, -15};
    m.dictionary = &dict;
    const Bytes z = zlibCompress(plain, m);
    const KelStreamOptions o = withDictionary(dict);
    Decoded d = decode(kelFormatDeflate, z, 100, 100, &o);
    EXPECT_EQ(d.result, kelStreamEnd) << d.message;
    EXPECT_TRUE(d.out == plain);

    KelStream* s = nullptr;
    ASSERT_EQ(kelStreamCreate(&s, kelFormatDeflate, kelDecompress, nullptr), kelStreamOk);
    ASSERT_EQ(kelStreamSetDictionary(s, dict.data(), dict.size()), kelStreamOk);
    Bytes out(plain.size());
    std::size_t inLen = z.size(), outLen = out.size();
    EXPECT_EQ(kelStreamProcess(s, z.data(), &inLen, out.data(), &outLen, kelFlushFinish), kelStreamEnd);
    EXPECT_TRUE(out == plain);
    EXPECT_EQ(kelStreamSetDictionary(s, dict.data(), dict.size()), kelStreamErrArgument) << "after the first call";
    // The options' dictionary survives a reset; without it the first match reaches before the data.
    kelStreamFree(s);
    ASSERT_EQ(kelStreamCreate(&s, kelFormatDeflate, kelDecompress, &o), kelStreamOk);
    for (int round = 0; round < 2; ++round) {
        inLen = z.size();
        outLen = out.size();
        std::fill(out.begin(), out.end(), 0);
        EXPECT_EQ(kelStreamProcess(s, z.data(), &inLen, out.data(), &outLen, kelFlushFinish), kelStreamEnd);
        EXPECT_TRUE(out == plain) << round;
        ASSERT_EQ(kelStreamReset(s), kelStreamOk);
    }
    kelStreamFree(s);
    d = decode(kelFormatDeflate, z);
    EXPECT_EQ(d.result, kelStreamErrCorrupt);
    EXPECT_EQ(d.message, "invalid distance too far back");
    // gzip has no dictionary.
    ASSERT_EQ(kelStreamCreate(&s, kelFormatGzip, kelDecompress, nullptr), kelStreamOk);
    EXPECT_EQ(kelStreamSetDictionary(s, dict.data(), dict.size()), kelStreamErrUnsupported);
    kelStreamFree(s);
}

// ---- gzip members -------------------------------------------------------------------------------------------------

TEST(DeflateReadGzip, FilesOfTheGzipToolAtEveryLevel) {
    if (!haveTool("gzip")) {
        if (std::getenv("CI")) FAIL() << "gzip is required in CI";
        GTEST_SKIP() << "gzip not installed";
    }
    char dir[] = "/tmp/kelstream-gzip-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string data = KEL_DATA_DIR;
    int index = 0;
    for (const auto& name : corpusFileNames()) {
        const int level = 1 + index++ % 9;
        const bool keepName = index % 3 == 0;
        const std::string gz = std::string(dir) + "/" + name + ".gz";
        const std::string cmd = "gzip -c -" + std::to_string(level) + (keepName ? " -N '" : " -n '") + data + "/" +
                                name + "' >'" + gz + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
        std::FILE* f = std::fopen(gz.c_str(), "rb");
        ASSERT_NE(f, nullptr);
        Bytes file;
        for (int c; (c = std::fgetc(f)) != EOF;) file.push_back(std::uint8_t(c));
        std::fclose(f);
        const Bytes plain = readCorpusFile(name);
        const Decoded d = decode(kelFormatGzip, file, 1 + index * 977 % 8000, 1 + index * 131 % 8000);
        ASSERT_EQ(d.result, kelStreamEnd) << name << " " << d.message;
        ASSERT_TRUE(d.out == plain) << name;
        ASSERT_EQ(d.entries.size(), 1u);
        EXPECT_EQ(d.names[0], keepName ? name : "") << name;
        EXPECT_EQ(d.entries[0].mtime != 0, keepName) << name;
        EXPECT_EQ(d.entries[0].level, level == 9 ? 2 : level == 1 ? 4 : 0) << name;
        EXPECT_EQ(d.entries[0].os, 3);
        EXPECT_TRUE(decodeOneShot(kelFormatAuto, file, plain.size()).out == plain) << name;
    }
    std::system(("rm -rf '" + std::string(dir) + "'").c_str());
}

TEST(DeflateReadGzip, HeaderFieldsOfEachMemberWithStopAtEntries) {
    SCOPED_TRACE(seedNote());
    std::mt19937_64 rng = makeRng(106);
    const Bytes a = repetitiveBytes(rng, 70000), b = readCorpusFile("html"), empty;
    const Bytes extra = {'k', 'l', 4, 0, 1, 2, 3, 4};
    GzipFields all;
    all.name = "sample.txt";
    all.comment = "a comment";
    all.extra = &extra;
    all.headerCrc = true;
    all.mtime = 1234567890;
    all.xfl = 2;
    all.os = 11;
    const Bytes file = cat(cat(gzipMember(a, all), gzipMember(empty, {})), gzipMember(b, all, 1));
    for (const std::size_t piece : {0, 1, 5, 4096}) {
        KelStreamOptions o = defaultStreamOptions();
        o.stopAtEntries = 1;
        const Decoded d = decode(kelFormatGzip, file, piece, piece, &o, nullptr, rng());
        ASSERT_EQ(d.result, kelStreamEnd) << piece << " " << d.message;
        ASSERT_TRUE(d.out == cat(a, b)) << piece;
        ASSERT_EQ(d.entries.size(), 3u) << piece;
        for (std::uint32_t k = 0; k < 3; ++k) {
            const KelStreamHeader& h = d.entries[k];
            const bool full = k != 1;
            EXPECT_EQ(h.entry, k);
            EXPECT_EQ(h.complete, 1);
            EXPECT_EQ(h.format, kelFormatGzip);
            EXPECT_EQ(d.names[k], full ? "sample.txt" : "");
            EXPECT_EQ(h.headerCrc, full ? 1 : 0);
            EXPECT_EQ(h.mtime, full ? 1234567890 : 0);
            EXPECT_EQ(h.os, full ? 11 : 3);
            EXPECT_EQ(h.level, full ? 2 : 0);
            EXPECT_EQ(h.extraLen, full ? extra.size() : 0u);
            EXPECT_EQ(h.hasDictId, 0);
        }
        EXPECT_EQ(d.entries[2].totalIn, file.size());
        EXPECT_EQ(d.entries[2].totalOut, a.size() + b.size());
    }
    // Without stopAtEntries the members run together; the header then shows the last one.
    const Decoded d = decode(kelFormatGzip, file, 0, 0);
    ASSERT_EQ(d.result, kelStreamEnd);
    ASSERT_EQ(d.entries.size(), 1u);
    EXPECT_EQ(d.entries[0].entry, 2u);
    const KelStreamHeader& h = d.entries[0];
    ASSERT_NE(h.comment, nullptr);
    ASSERT_NE(h.extra, nullptr);
    // Pointers stay valid until the next call; the stream is freed by now, so compare through a fresh read.
    KelStream* s = nullptr;
    ASSERT_EQ(kelStreamCreate(&s, kelFormatGzip, kelDecompress, nullptr), kelStreamOk);
    Bytes out(a.size());
    std::size_t inLen = file.size(), outLen = 10;
    ASSERT_EQ(kelStreamProcess(s, file.data(), &inLen, out.data(), &outLen, kelFlushNone), kelStreamOk);
    KelStreamHeader first;
    kelStreamGetHeader(s, &first);
    EXPECT_STREQ(first.comment, "a comment");
    ASSERT_EQ(first.extraLen, extra.size());
    EXPECT_EQ(Bytes(first.extra, first.extra + first.extraLen), extra);
    kelStreamFree(s);
}

TEST(DeflateReadGzip, PaddingEndsTheDataAndOtherBytesAreTrailing) {
    SCOPED_TRACE(seedNote());
    std::mt19937_64 rng = makeRng(107);
    const Bytes plain = readCorpusFile("asyoulik.txt");
    const Bytes gz = gzipOf(plain, 9);
    const Bytes two = cat(gz, gzipOf(Bytes(plain.begin(), plain.begin() + 1000), 1));
    const Bytes twoPlain = cat(plain, Bytes(plain.begin(), plain.begin() + 1000));
    struct Case {
        const char* what;
        Bytes tail;
        KelStreamResult want;
        std::size_t tailConsumed;  // with the whole input in one call
    };
    const Case cases[] = {
        {"nothing", {}, kelStreamEnd, 0},
        {"zero padding", Bytes(1000, 0), kelStreamEnd, 1000},
        {"one zero", Bytes(1, 0), kelStreamEnd, 1},
        {"garbage", {'j', 'u', 'n', 'k'}, kelStreamTrailingData, 0},
        {"zeros then garbage", {0, 0, 0, 'x', 0}, kelStreamTrailingData, 3},
        {"half a magic at the end", {0x1f}, kelStreamTrailingData, 0},
        {"half a magic then garbage", {0x1f, 0x1f, 0x8b}, kelStreamTrailingData, 0},
    };
    for (const Case& c : cases) {
        const Bytes file = cat(two, c.tail);
        for (const std::size_t piece : {0, 1, 2, 3, 1000}) {
            const Decoded d = decode(kelFormatGzip, file, piece, piece ? piece : 0, nullptr, nullptr, rng());
            EXPECT_EQ(d.result, c.want) << c.what << " " << piece << " " << d.message;
            EXPECT_TRUE(d.out == twoPlain) << c.what << " " << piece;
            EXPECT_GE(d.consumed, two.size()) << c.what << " " << piece;
            // Held bytes from an earlier call may have been consumed; within one call nothing past the data is.
            if (piece == 0) EXPECT_EQ(d.consumed, two.size() + c.tailConsumed) << c.what;
        }
        const Decoded one = decodeOneShot(kelFormatGzip, file, twoPlain.size());
        EXPECT_EQ(one.result, c.want) << c.what;
        EXPECT_TRUE(one.out == twoPlain) << c.what;
    }
    // zlib and raw data end at their last byte.
    const Bytes junk = {'j', 'u', 'n', 'k', '!'};
    for (const KelStreamFormat f : {kelFormatZlib, kelFormatDeflate}) {
        const Bytes z = f == kelFormatZlib ? zlibOf(plain, 9) : rawOf(plain, 9);
        const Bytes file = cat(z, junk);
        const Decoded d = decode(f, file);
        EXPECT_EQ(d.result, kelStreamTrailingData) << int(f);
        EXPECT_EQ(d.consumed, z.size()) << int(f);
        EXPECT_TRUE(d.out == plain) << int(f);
        const Decoded padded = decode(f, cat(z, Bytes(4, 0)));
        EXPECT_EQ(padded.result, kelStreamTrailingData) << "zeros are padding only after gzip";
        EXPECT_EQ(decodeOneShot(f, file, plain.size()).result, kelStreamTrailingData);
        // The stream ending at the last byte of a call; the junk comes in the next call.
        KelStream* s = nullptr;
        ASSERT_EQ(kelStreamCreate(&s, f, kelDecompress, nullptr), kelStreamOk);
        Bytes out(plain.size());
        std::size_t inLen = z.size(), outLen = out.size();
        EXPECT_EQ(kelStreamProcess(s, z.data(), &inLen, out.data(), &outLen, kelFlushNone), kelStreamEnd);
        inLen = junk.size();
        outLen = out.size();
        EXPECT_EQ(kelStreamProcess(s, junk.data(), &inLen, out.data(), &outLen, kelFlushFinish), kelStreamTrailingData);
        EXPECT_EQ(inLen, 0u);
        inLen = 0;
        EXPECT_EQ(kelStreamProcess(s, junk.data(), &inLen, out.data(), &outLen, kelFlushFinish), kelStreamEnd);
        kelStreamFree(s);
    }
}

// ---- Errors -------------------------------------------------------------------------------------------------------

TEST(DeflateReadErrors, EachCheckHasItsResultAndMessage) {
    const Bytes plain = readCorpusFile("alice29.txt");
    const Bytes extra = {1, 2, 3};
    GzipFields f;
    f.name = "n";
    f.extra = &extra;
    f.headerCrc = true;
    const Bytes gz = gzipMember(plain, f), zl = zlibOf(plain);
    struct Case {
        const char* what;
        KelStreamFormat format;
        Bytes data;
        std::size_t at;
        std::uint8_t xorWith;
        KelStreamResult want;
        const char* message;
    };
    const Case cases[] = {
        {"gzip CRC", kelFormatGzip, gz, gz.size() - 8, 1, kelStreamErrChecksum, "incorrect data check (CRC-32)"},
        {"gzip length", kelFormatGzip, gz, gz.size() - 2, 1, kelStreamErrChecksum, "incorrect length check"},
        {"gzip header CRC", kelFormatGzip, gz, 13, 1, kelStreamErrChecksum, "header CRC mismatch"},
        {"gzip magic", kelFormatGzip, gz, 1, 1, kelStreamErrCorrupt, "not in gzip format"},
        {"gzip method", kelFormatGzip, gz, 2, 1, kelStreamErrCorrupt, "unknown compression method"},
        {"gzip reserved flag", kelFormatGzip, gz, 3, 0x20, kelStreamErrCorrupt, "reserved header flags set"},
        {"gzip block type", kelFormatGzip, gz, 19, 0x02, kelStreamErrCorrupt, "invalid block type"},
        {"zlib Adler-32", kelFormatZlib, zl, zl.size() - 1, 1, kelStreamErrChecksum, "incorrect data check (Adler-32)"},
        {"zlib header check", kelFormatZlib, zl, 1, 1, kelStreamErrCorrupt, "incorrect header check"},
        {"zlib method", kelFormatZlib, zl, 0, 1, kelStreamErrCorrupt, "unknown compression method"},
        {"zlib window",
         kelFormatZlib,
         {0x88, 0x98, 3, 0, 0, 0, 0, 1},
         0,
         0,
         kelStreamErrCorrupt,
         "invalid window size"},
        {"stored lengths",
         kelFormatDeflate,
         {1, 5, 0, 0xfa, 0xfe, 1, 2, 3, 4, 5},
         0,
         0,
         kelStreamErrCorrupt,
         "invalid stored block lengths"},
    };
    for (const Case& c : cases) {
        Bytes bad = c.data;
        bad[c.at] ^= c.xorWith;
        for (const std::size_t piece : {0, 1}) {
            const Decoded d = decode(c.format, bad, piece, piece);
            EXPECT_EQ(d.result, c.want) << c.what << " " << piece;
            EXPECT_EQ(d.message, c.message) << c.what << " " << piece;
        }
    }
    ASSERT_EQ(gz[19] & 6, 4) << "the first block of the hand-made member is dynamic";
    for (const KelStreamFormat fmt : kFormats) {
        const Decoded d = decode(fmt, Bytes());
        EXPECT_EQ(d.result, kelStreamErrTruncated) << int(fmt);
        EXPECT_EQ(d.message, "unexpected end of input");
    }
    // Errors are sticky; a reset clears them.
    Bytes bad = zl;
    bad.back() ^= 1;
    KelStream* s = nullptr;
    ASSERT_EQ(kelStreamCreate(&s, kelFormatZlib, kelDecompress, nullptr), kelStreamOk);
    Bytes out(plain.size());
    std::size_t inLen = bad.size(), outLen = out.size();
    EXPECT_EQ(kelStreamProcess(s, bad.data(), &inLen, out.data(), &outLen, kelFlushFinish), kelStreamErrChecksum);
    inLen = zl.size();
    outLen = out.size();
    EXPECT_EQ(kelStreamProcess(s, zl.data(), &inLen, out.data(), &outLen, kelFlushFinish), kelStreamErrChecksum);
    EXPECT_EQ(inLen, 0u);
    ASSERT_EQ(kelStreamReset(s), kelStreamOk);
    inLen = zl.size();
    outLen = out.size();
    EXPECT_EQ(kelStreamProcess(s, zl.data(), &inLen, out.data(), &outLen, kelFlushFinish), kelStreamEnd);
    EXPECT_TRUE(out == plain);
    kelStreamFree(s);
}

TEST(DeflateReadErrors, EveryCutPointIsTruncatedWithAPrefixOfTheOutput) {
    const Bytes text = readCorpusFile("alice29.txt");
    const Bytes plain(text.begin(), text.begin() + 20000);
    const Bytes extra = {9, 9};
    GzipFields f;
    f.name = "cut";
    f.comment = "c";
    f.extra = &extra;
    f.headerCrc = true;
    const Bytes streams[] = {gzipMember(plain, f), zlibOf(plain), rawOf(plain), zlibCompress(plain, {0, -15})};
    const KelStreamFormat formats[] = {kelFormatGzip, kelFormatZlib, kelFormatDeflate, kelFormatDeflate};
    for (int k = 0; k < 4; ++k) {
        const Bytes& z = streams[k];
        for (std::size_t cut = 0; cut < z.size(); ++cut) {
            const Bytes part(z.begin(), z.begin() + std::ptrdiff_t(cut));
            const Decoded d = cut % 7 == 3 ? decode(formats[k], part, 1 + cut % 13, 1 + cut % 29)
                                           : decodeOneShot(formats[k], part, plain.size());
            ASSERT_EQ(d.result, kelStreamErrTruncated) << k << " cut " << cut;
            ASSERT_TRUE(std::equal(d.out.begin(), d.out.end(), plain.begin())) << k << " cut " << cut;
        }
    }
}

// zlib's verdict on a damaged raw stream: true and the output when it reached the end of the stream.
bool zlibRawDecode(const Bytes& src, std::size_t cap, Bytes& out) {
    z_stream z{};
    inflateInit2(&z, -15);
    out.assign(cap + 1, 0);
    z.next_in = const_cast<Bytef*>(src.data());
    z.avail_in = uInt(src.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    const int r = inflate(&z, Z_FINISH);
    out.resize(z.total_out);
    inflateEnd(&z);
    return r == Z_STREAM_END;
}

TEST(DeflateReadErrors, BitFlipsEndCleanlyInExactAndShortRooms) {
    SCOPED_TRACE(seedNote());
    std::mt19937_64 rng = makeRng(108);
    const Bytes text = readCorpusFile("lcet10.txt");
    const Bytes sources[] = {Bytes(text.begin(), text.begin() + 30000), repetitiveBytes(rng, 30000)};
    for (const Bytes& plain : sources) {
        for (const Strategy& s : kStrategies) {
            const Bytes raw = zlibCompress(plain, {6, -15, s.value});
            const Bytes gz = gzipOf(plain);
            for (int trial = 0; trial < 60; ++trial) {
                Bytes bad = trial % 2 ? raw : gz;
                const KelStreamFormat f = trial % 2 ? kelFormatDeflate : kelFormatGzip;
                const int flips = 1 + int(rng() % 4);
                for (int k = 0; k < flips; ++k) bad[rng() % bad.size()] ^= std::uint8_t(1u << (rng() % 8));
                SCOPED_TRACE(std::string(s.name) + " trial " + std::to_string(trial));
                // Exact room, short room, and in pieces.
                const Decoded exact = decodeOneShot(f, bad, plain.size());
                ASSERT_NE(exact.result, kelStreamOk);
                const Decoded shortRoom = decodeOneShot(f, bad, plain.size() / 2);
                ASSERT_NE(shortRoom.result, kelStreamOk);
                if (f == kelFormatGzip) {
                    ASSERT_NE(shortRoom.result, kelStreamEnd) << "half the room cannot hold a member that checks out";
                }
                const Decoded pieces =
                    decode(f, bad, 1 + rng() % 64, 1 + rng() % 64, nullptr, nullptr, rng(), plain.size() * 2);
                ASSERT_NE(pieces.result, kelStreamOk);
                if (f == kelFormatDeflate) {
                    Bytes theirs;
                    const bool zlibEnd = zlibRawDecode(bad, plain.size() * 2, theirs);
                    const bool ours = exact.result == kelStreamEnd || exact.result == kelStreamTrailingData;
                    if (theirs.size() <= plain.size()) {
                        ASSERT_EQ(ours, zlibEnd) << exact.message;
                        if (ours) ASSERT_TRUE(exact.out == theirs);
                    }
                }
            }
        }
    }
}

TEST(DeflateReadErrors, OneShotRoomThatIsShortBySomeBytes) {
    const Bytes plain = readCorpusFile("kppkn.gtb");
    for (const KelStreamFormat f : kFormats) {
        const Bytes z = f == kelFormatGzip ? gzipOf(plain) : f == kelFormatZlib ? zlibOf(plain) : rawOf(plain);
        for (const std::size_t shortBy : {1u, 2u, 45u, 4096u}) {
            const Decoded d = decodeOneShot(f, z, plain.size() - shortBy);
            EXPECT_EQ(d.result, kelStreamErrNoRoom) << int(f) << " " << shortBy;
            EXPECT_TRUE(d.out == Bytes(plain.begin(), plain.end() - std::ptrdiff_t(shortBy)));
        }
        EXPECT_EQ(decodeOneShot(f, z, 0).result, kelStreamErrNoRoom);
    }
}

// An allocator that fails from the n-th request on and counts what is still held.
struct FailingAllocator {
    int left = 0;
    int held = 0;
    static void* get(void* self, std::size_t n) {
        auto* a = static_cast<FailingAllocator*>(self);
        if (a->left-- <= 0) return nullptr;
        ++a->held;
        return std::malloc(n);
    }
    static void put(void* self, void* p) {
        --static_cast<FailingAllocator*>(self)->held;
        std::free(p);
    }
};

TEST(DeflateReadErrors, EveryAllocationFailureIsReportedAndNothingLeaks) {
    const Bytes plain = readCorpusFile("alice29.txt");
    const Bytes extra(300, 'e'), dict(plain.begin(), plain.begin() + 5000);
    GzipFields f;
    f.name = "a long enough name to need its own buffer";
    f.comment = "and a comment";
    f.extra = &extra;
    const Bytes gz = cat(gzipMember(plain, f), gzipMember(plain, f));
    const Bytes twice = cat(plain, plain);
    for (const KelStreamFormat format : {kelFormatGzip, kelFormatDeflate}) {
        const Bytes& src = format == kelFormatGzip ? gz : rawOf(plain);
        const Bytes& want = format == kelFormatGzip ? twice : plain;
        bool succeeded = false;
        for (int n = 0; n < 64 && !succeeded; ++n) {
            FailingAllocator a;
            a.left = n;
            KelStreamOptions o = withDictionary(dict);
            o.alloc = FailingAllocator::get;
            o.free = FailingAllocator::put;
            o.opaque = &a;
            const Decoded d = decode(format, src, 0, 0, &o);
            EXPECT_EQ(a.held, 0) << "allocation " << n;
            if (d.result == kelStreamEnd) {
                EXPECT_TRUE(d.out == want);
                succeeded = true;
            } else {
                EXPECT_EQ(d.result, kelStreamErrMemory) << "allocation " << n << " " << d.message;
            }
        }
        EXPECT_TRUE(succeeded) << int(format);
    }
}

// ---- Detection and headers ----------------------------------------------------------------------------------------

TEST(DeflateReadHeader, AutoDetectionAndZlibFields) {
    const Bytes plain = readCorpusFile("urls.10K");
    for (const int level : {1, 6, 9}) {
        const Bytes z = zlibOf(plain, level);
        const Decoded d = decode(kelFormatAuto, z, 3, 1000);
        ASSERT_EQ(d.result, kelStreamEnd) << d.message;
        EXPECT_TRUE(d.out == plain);
        ASSERT_EQ(d.entries.size(), 1u);
        EXPECT_EQ(d.entries[0].format, kelFormatZlib);
        EXPECT_EQ(d.entries[0].level, level == 1 ? 0 : level == 6 ? 2 : 3);
        EXPECT_EQ(d.entries[0].os, -1);
        EXPECT_EQ(d.entries[0].hasDictId, 0);
        EXPECT_EQ(d.entries[0].complete, 1);
    }
    const Decoded g = decode(kelFormatAuto, gzipOf(plain), 2, 2);
    ASSERT_EQ(g.result, kelStreamEnd);
    EXPECT_EQ(g.entries[0].format, kelFormatGzip);
    EXPECT_TRUE(g.out == plain);
    // Before the gzip header is complete its fields are absent.
    KelStream* s = nullptr;
    ASSERT_EQ(kelStreamCreate(&s, kelFormatGzip, kelDecompress, nullptr), kelStreamOk);
    const Bytes gz = gzipMember(plain, GzipFields{"name.txt"});
    std::size_t inLen = 12, outLen = 0;
    ASSERT_EQ(kelStreamProcess(s, gz.data(), &inLen, nullptr, &outLen, kelFlushNone), kelStreamOk);
    EXPECT_EQ(inLen, 12u);
    KelStreamHeader h;
    kelStreamGetHeader(s, &h);
    EXPECT_EQ(h.complete, 0);
    EXPECT_EQ(h.name, nullptr);
    EXPECT_EQ(h.os, 3);
    kelStreamFree(s);
}

}  // namespace
}  // namespace kel::test

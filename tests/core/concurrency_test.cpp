// tests/core/concurrency_test.cpp - every family at once from several threads: the primitives with their own state
// blocks, and libkelstream with several live streams of every format per thread (some of them running worker
// threads of their own). Each thread's results must equal the single-threaded ones. Run under ThreadSanitizer (the
// `tsan` preset) it also proves that the libraries share no mutable state between calls or between streams.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "kelch.h"
#include "keldc.h"
#include "kelstream.h"
#include "support/test_util.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// One stream configuration: every format, and the parallel engines of the formats that have them.
struct Config {
    const char* label;
    KelStreamFormat format;
    int level;
    int threads;
    int lz4BlockSizeId;  // 0: the default
};

const Config kConfigs[] = {
    {"gzip", kelFormatGzip, 6, 1, 0},   {"zlib", kelFormatZlib, 9, 1, 0},    {"deflate", kelFormatDeflate, 1, 1, 0},
    {"bzip2", kelFormatBzip2, 1, 1, 0}, {"lz4", kelFormatLz4, 0, 1, 4},      {"lzop", kelFormatLzop, 3, 1, 0},
    {"lzss", kelFormatLzss, 0, 1, 0},   {"gzip x2", kelFormatGzip, 6, 2, 0}, {"bzip2 x2", kelFormatBzip2, 1, 2, 0},
    {"lz4 x2", kelFormatLz4, 0, 2, 4},
};
constexpr std::size_t kNumConfigs = sizeof kConfigs / sizeof kConfigs[0];

KelStreamOptions optionsOf(const Config& c) {
    KelStreamOptions o;
    kelStreamDefaultOptions(&o);
    o.level = c.level;
    o.threads = c.threads;
    if (c.lz4BlockSizeId) o.lz4BlockSizeId = c.lz4BlockSizeId;
    return o;
}

Bytes compressOneShot(const Config& c, const Bytes& text) {
    KelStreamOptions o = optionsOf(c);
    Bytes out(kelStreamCompressBound(c.format, text.size(), &o));
    std::size_t n = out.size();
    if (kelStreamCompress(c.format, text.data(), text.size(), out.data(), &n, &o) != kelStreamEnd) return {};
    out.resize(n);
    return out;
}

// Decodes `packed` with `kStreams` streams alive at once, fed alternately in random pieces of input and output, so
// one thread holds several half-finished streams of the format. True when each of them restores `text`.
bool decodesInterleaved(const Config& c, const Bytes& packed, const Bytes& text, std::uint32_t seed) {
    constexpr int kStreams = 3;
    KelStreamOptions o = optionsOf(c);
    KelStream* s[kStreams] = {};
    std::size_t pos[kStreams] = {};
    KelStreamResult last[kStreams] = {};
    Bytes out[kStreams];
    bool ok = true;
    for (int k = 0; k < kStreams; ++k) ok &= kelStreamCreate(&s[k], c.format, kelDecompress, &o) == kelStreamOk;
    std::mt19937 rng(seed);
    std::uint8_t room[4096];
    for (int live = kStreams; ok && live > 0;) {
        live = 0;
        for (int k = 0; k < kStreams; ++k) {
            if (last[k] == kelStreamEnd) continue;
            ++live;
            std::size_t srcLen = std::min<std::size_t>(packed.size() - pos[k], 1 + rng() % 3000);
            std::size_t dstLen = 1 + rng() % sizeof room;
            const bool final = pos[k] + srcLen == packed.size();
            last[k] = kelStreamProcess(s[k], packed.data() + pos[k], &srcLen, room, &dstLen,
                                       final ? kelFlushFinish : kelFlushNone);
            pos[k] += srcLen;
            out[k].insert(out[k].end(), room, room + dstLen);
            if (last[k] != kelStreamOk && last[k] != kelStreamEnd) ok = false;
            if (out[k].size() > text.size()) ok = false;
        }
    }
    for (int k = 0; k < kStreams; ++k) {
        ok &= out[k] == text && pos[k] == packed.size();
        kelStreamFree(s[k]);
    }
    return ok;
}

// One digest per family: the checksums, the compressed bytes of every stream configuration (each of which must
// decode back to the input), the search, conversion and regular-expression results.
struct Results {
    std::vector<std::uint32_t> checksums;
    std::vector<Bytes> packed;
    std::vector<int> decodedOk;
    std::vector<int> found;
    std::vector<std::uint16_t> utf16;
    std::vector<int> regexSpans;
};

Results runAll(const Bytes& text, std::uint32_t seed) {
    Results r;
    Kel32u adler = 1, crc = 0, crcc = 0xFFFFFFFF, bz = 0;
    kelsAdler32_8u(text.data(), int(text.size()), &adler);
    kelsCRC32_8u(text.data(), int(text.size()), &crc);
    kelsCRC32C_8u(text.data(), Kel32u(text.size()), &crcc);
    kelsCRC32_BZ2_8u(text.data(), int(text.size()), &bz);
    r.checksums = {adler, crc, crcc, bz};

    for (const Config& c : kConfigs) {
        r.packed.push_back(compressOneShot(c, text));
        r.decodedOk.push_back(!r.packed.back().empty() && decodesInterleaved(c, r.packed.back(), text, seed));
    }

    static const char* const kNeedles[] = {"the", "Alice", "said the", "zzzz"};
    for (const char* needle : kNeedles) {
        int count = 0, from = 0, index = -1;
        const int n = int(std::char_traits<char>::length(needle));
        while (kelsFind_8u(text.data() + from, int(text.size()) - from, reinterpret_cast<const Kel8u*>(needle), n,
                           &index) == kelStatusOk &&
               index >= 0) {
            ++count;
            from += index + 1;
        }
        r.found.push_back(count);
    }

    r.utf16.resize(text.size());
    Kel32u srcLen = Kel32u(text.size()), dstLen = Kel32u(r.utf16.size());
    kelsConvertUTF_8u16u(text.data(), &srcLen, r.utf16.data(), &dstLen, 0);
    r.utf16.resize(dstLen);

    const char* pattern = "([A-Za-z]+)ing";
    int size = 0;
    kelsRegExpGetSize(pattern, &size);
    Bytes state(std::size_t(size > 0 ? size : 1));
    int errOffset = 0;
    auto* re = reinterpret_cast<RegExpState*>(state.data());
    if (kelsRegExpInit(pattern, "g", re, &errOffset) == kelStatusOk) {
        std::vector<RegExpMatchRecord> records(4096);
        int numFind = int(records.size());
        if (kelsRegExpFind_8u(text.data(), int(text.size()), re, records.data(), &numFind) >= 0) {
            for (int k = 0; k < numFind; ++k) {
                r.regexSpans.push_back(int(records[k].pFind - text.data()));
                r.regexSpans.push_back(records[k].lenFind);
            }
        }
    }
    return r;
}

void expectSame(const Results& got, const Results& want, int thread) {
    SCOPED_TRACE("thread " + std::to_string(thread));
    EXPECT_EQ(got.checksums, want.checksums);
    for (std::size_t i = 0; i < kNumConfigs; ++i) {
        EXPECT_TRUE(got.packed[i] == want.packed[i]) << kConfigs[i].label << ": other compressed bytes";
        EXPECT_TRUE(got.decodedOk[i]) << kConfigs[i].label << ": a stream did not restore the input";
    }
    EXPECT_EQ(got.found, want.found);
    EXPECT_TRUE(got.utf16 == want.utf16);
    EXPECT_EQ(got.regexSpans, want.regexSpans);
}

TEST(Concurrency, EveryFamilyFromSeveralThreadsGivesTheSingleThreadedResults) {
    const Bytes corpus = kel::test::readCorpusFile("alice29.txt");
    // A modest input keeps the ThreadSanitizer run short; every family still runs its full code paths, and LZ4's
    // 64 KiB blocks give the parallel LZ4 engines more than one piece.
    const Bytes text(corpus.begin(), corpus.begin() + 150000);
    const Results expected = runAll(text, 1);
    for (std::size_t i = 0; i < kNumConfigs; ++i) {
        ASSERT_FALSE(expected.packed[i].empty()) << kConfigs[i].label << " does not compress";
        ASSERT_TRUE(expected.decodedOk[i]) << kConfigs[i].label << " does not round-trip";
    }
    ASSERT_FALSE(expected.regexSpans.empty());

    constexpr int kThreads = 4;
    std::vector<Results> got(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) threads.emplace_back([&, t] { got[t] = runAll(text, 100 + t); });
    for (auto& th : threads) th.join();
    for (int t = 0; t < kThreads; ++t) expectSame(got[t], expected, t);
}

}  // namespace

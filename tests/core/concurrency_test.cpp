// tests/core/concurrency_test.cpp - every family at once from several threads, each with its own state blocks:
// each thread's results must equal the single-threaded ones. Run under ThreadSanitizer (the `tsan` preset) it
// also proves that the libraries share no mutable state between calls.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "kelch.h"
#include "keldc.h"
#include "stream/bzip2_stream.h"
#include "stream/deflate_stream.h"
#include "stream/inflate_stream.h"
#include "stream/lz4_frame.h"
#include "stream/lzop_file.h"
#include "stream/lzss_file.h"
#include "support/test_util.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// One digest per family: the compressed bytes (which must decode back to the input) or the operation's result.
struct Results {
    std::vector<std::uint32_t> checksums;
    Bytes gzip, lz4, bzip2, lzo, lzss;
    std::vector<int> found;
    std::vector<std::uint16_t> utf16;
    std::vector<int> regexSpans;
    bool roundTripsOk = true;
};

Bytes gzipOf(const Bytes& in) {
    kel::DeflateStream s(kel::DeflateFormat::Gzip, 6);
    s.write(in.data(), in.size());
    s.finish();
    return s.output();
}

template <typename Decode>
bool restores(const Bytes& packed, const Bytes& original, Decode decode) {
    Bytes back;
    return decode(kel::memorySource(packed), kel::memorySink(back)).empty() && back == original;
}

Results runAll(const Bytes& text) {
    Results r;
    Kel32u adler = 1, crc = 0, crcc = 0xFFFFFFFF, bz = 0;
    kelsAdler32_8u(text.data(), int(text.size()), &adler);
    kelsCRC32_8u(text.data(), int(text.size()), &crc);
    kelsCRC32C_8u(text.data(), Kel32u(text.size()), &crcc);
    kelsCRC32_BZ2_8u(text.data(), int(text.size()), &bz);
    r.checksums = {adler, crc, crcc, bz};

    r.gzip = gzipOf(text);
    r.roundTripsOk &= restores(r.gzip, text, [](const kel::ByteSource& in, const kel::ByteSink& out) {
        return kel::inflateDecompress(kel::InflateFormat::Gzip, in, out);
    });
    kel::lz4FrameCompress(kel::memorySource(text), kel::memorySink(r.lz4));
    r.roundTripsOk &= restores(r.lz4, text, [](const kel::ByteSource& in, const kel::ByteSink& out) {
        return kel::lz4FrameDecompress(in, out);
    });
    kel::bzip2Compress(kel::memorySource(text), kel::memorySink(r.bzip2), 1);
    r.roundTripsOk &= restores(r.bzip2, text, [](const kel::ByteSource& in, const kel::ByteSink& out) {
        return kel::bzip2Decompress(in, out);
    });
    kel::lzopCompress(kel::memorySource(text), kel::memorySink(r.lzo));
    r.roundTripsOk &= restores(r.lzo, text, kel::lzopDecompress);
    kel::lzssCompress(kel::memorySource(text), kel::memorySink(r.lzss));
    r.roundTripsOk &= restores(r.lzss, text, kel::lzssDecompress);

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

bool sameResults(const Results& a, const Results& b) {
    return a.checksums == b.checksums && a.gzip == b.gzip && a.lz4 == b.lz4 && a.bzip2 == b.bzip2 &&
           a.lzo == b.lzo && a.lzss == b.lzss && a.found == b.found && a.utf16 == b.utf16 &&
           a.regexSpans == b.regexSpans && a.roundTripsOk && b.roundTripsOk;
}

TEST(Concurrency, EveryFamilyFromSeveralThreadsGivesTheSingleThreadedResults) {
    const Bytes corpus = kel::test::readCorpusFile("alice29.txt");
    // A modest input keeps the ThreadSanitizer run short; every family still runs its full code paths.
    const Bytes text(corpus.begin(), corpus.begin() + 60000);
    const Results expected = runAll(text);
    ASSERT_TRUE(expected.roundTripsOk);
    ASSERT_FALSE(expected.regexSpans.empty());

    constexpr int kThreads = 4;
    std::vector<Results> got(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) threads.emplace_back([&, t] { got[t] = runAll(text); });
    for (auto& th : threads) th.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_TRUE(sameResults(got[t], expected)) << "thread " << t;
}

}  // namespace

// tests/dc/deflate/fastest_stream_test.cpp - kel::FastestDeflater, the fastest mode's block writer: every corpus
// file in both counting modes, written whole and in pieces, with flushes and a dictionary, must come back through
// zlib's inflate and through kel's own Inflate.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "dc/deflate/deflate_test_util.h"
#include "stream/byte_stream.h"
#include "stream/deflate_fastest.h"
#include "stream/deflate_stream.h"
#include "stream/inflate_stream.h"
#include "support/test_util.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Counts = kel::FastestDeflater::Counts;

Bytes compress(const Bytes& src, Counts counts, std::size_t piece = 0, std::size_t flushEvery = 0,
               kel::FastestDeflater* reuse = nullptr) {
    kel::FastestDeflater own(counts);
    kel::FastestDeflater& d = reuse ? *reuse : own;
    Bytes out;
    const std::size_t step = piece ? piece : std::max<std::size_t>(src.size(), 1);
    std::size_t sinceFlush = 0;
    for (std::size_t at = 0; at < src.size(); at += step) {
        const std::size_t n = std::min(step, src.size() - at);
        EXPECT_EQ(d.write(src.data() + at, n, out), kelStatusOk);
        sinceFlush += n;
        if (flushEvery && sinceFlush >= flushEvery) {
            EXPECT_EQ(d.flush(out), kelStatusOk);
            sinceFlush = 0;
        }
    }
    EXPECT_EQ(d.finish(out), kelStatusOk);
    return out;
}

// Both decoders must restore src from the raw stream.
void expectRestores(const Bytes& src, const Bytes& stream, const std::string& what) {
    Bytes back;
    ASSERT_TRUE(kel::test::zlibInflate(stream, -15, back)) << what;
    EXPECT_TRUE(back == src) << what << ": zlib output differs";
    Bytes ours;
    const std::string err =
        kel::inflateDecompress(kel::InflateFormat::Deflate, kel::memorySource(stream), kel::memorySink(ours));
    EXPECT_EQ(err, "") << what;
    EXPECT_TRUE(ours == src) << what << ": kel output differs";
}

TEST(DeflateFastestStream, CorpusRestoresInBothModes) {
    for (const auto& name : kel::test::corpusFileNames()) {
        const Bytes src = kel::test::readCorpusFile(name);
        for (Counts c : {Counts::Sampled, Counts::Exact}) {
            expectRestores(src, compress(src, c), name + (c == Counts::Exact ? " exact" : " sampled"));
        }
    }
}

TEST(DeflateFastestStream, PiecesAndFlushesRestore) {
    SCOPED_TRACE(kel::test::seedNote());
    auto rng = kel::test::makeRng(61);
    Bytes src = kel::test::repetitiveBytes(rng, 700000);
    const Bytes noise = kel::test::randomBytes(rng, 150000);  // a stored stretch inside the stream
    src.insert(src.begin() + 300000, noise.begin(), noise.end());
    for (Counts c : {Counts::Sampled, Counts::Exact}) {
        const Bytes whole = compress(src, c);
        // Block boundaries depend only on the bytes, not on how they are handed over.
        EXPECT_EQ(compress(src, c, 1000), whole);
        EXPECT_EQ(compress(src, c, 77777), whole);
        // Long pieces are encoded in place (the whole input too), after a lead through the window.
        EXPECT_EQ(compress(src, c, 600000), whole);
        EXPECT_EQ(compress(src, c, 250001), whole);
        expectRestores(src, whole, "whole");
        expectRestores(src, compress(src, c, 4096, 50000), "flushes");
        expectRestores(src, compress(src, c, 333, 333), "flush after every piece");
    }
}

TEST(DeflateFastestStream, ChoosesBlockKinds) {
    SCOPED_TRACE(kel::test::seedNote());
    auto rng = kel::test::makeRng(62);
    kel::FastestDeflater small(Counts::Exact);
    const Bytes tiny = {'a', 'b', 'c'};
    expectRestores(tiny, compress(tiny, Counts::Exact, 0, 0, &small), "tiny");
    EXPECT_EQ(small.blockCounts().fixed, 1u);

    kel::FastestDeflater noise(Counts::Exact);
    const Bytes random = kel::test::randomBytes(rng, 200000);
    expectRestores(random, compress(random, Counts::Exact, 0, 0, &noise), "random");
    EXPECT_GT(noise.blockCounts().stored, 0u);
    EXPECT_EQ(noise.blockCounts().dynamic, 0u);

    kel::FastestDeflater text(Counts::Sampled);
    const Bytes corpus = kel::test::readCorpusFile("lcet10.txt");
    expectRestores(corpus, compress(corpus, Counts::Sampled, 0, 0, &text), "text");
    EXPECT_GT(text.blockCounts().dynamic, 0u);

    // Empty input: one empty final block.
    expectRestores(Bytes(), compress(Bytes(), Counts::Sampled), "empty");
}

TEST(DeflateFastestStream, ResetStartsAFreshStream) {
    kel::FastestDeflater d;
    const Bytes a = kel::test::readCorpusFile("alice29.txt");
    const Bytes b = kel::test::readCorpusFile("html");
    const Bytes first = compress(a, Counts::Sampled, 0, 0, &d);
    d.reset();
    expectRestores(b, compress(b, Counts::Sampled, 0, 0, &d), "after reset");
    d.reset();
    EXPECT_EQ(compress(a, Counts::Sampled, 0, 0, &d), first);
}

TEST(DeflateFastestStream, DictionaryIsUsed) {
    const Bytes text = kel::test::readCorpusFile("alice29.txt");
    const Bytes dict(text.begin(), text.begin() + 40000);
    const Bytes src(text.begin() + 40000, text.begin() + 60000);
    kel::FastestDeflater d(Counts::Exact);
    ASSERT_EQ(d.setDictionary(dict.data(), dict.size()), kelStatusOk);
    const Bytes stream = compress(src, Counts::Exact, 0, 0, &d);
    Bytes back;
    ASSERT_TRUE(kel::test::zlibInflate(stream, -15, back, &dict));
    EXPECT_TRUE(back == src);
    EXPECT_LT(stream.size(), compress(src, Counts::Exact).size());
}

TEST(DeflateFastestStream, DeflateStreamFastestModeWritesZlibAndGzip) {
    const Bytes src = kel::test::readCorpusFile("html_x_4");
    for (auto [format, bits, inflateFormat] : {std::tuple{kel::DeflateFormat::Zlib, 15, kel::InflateFormat::Zlib},
                                               std::tuple{kel::DeflateFormat::Gzip, 31, kel::InflateFormat::Gzip}}) {
        kel::DeflateStream s(format, 1);
        ASSERT_EQ(s.setFastest(), kelStatusOk);
        ASSERT_EQ(s.write(src.data(), 100000), kelStatusOk);
        ASSERT_EQ(s.flush(), kelStatusOk);
        ASSERT_EQ(s.write(src.data() + 100000, src.size() - 100000), kelStatusOk);
        ASSERT_EQ(s.finish(), kelStatusOk);
        Bytes back, ours;
        ASSERT_TRUE(kel::test::zlibInflate(s.output(), bits, back));
        EXPECT_TRUE(back == src);
        EXPECT_EQ(kel::inflateDecompress(inflateFormat, kel::memorySource(s.output()), kel::memorySink(ours)), "");
        EXPECT_TRUE(ours == src);
        EXPECT_EQ(s.setFastest(), kelStatusBadArgument);  // only before the first write
    }

    // zlib with a preset dictionary.
    const Bytes dict(src.begin(), src.begin() + 50000);
    kel::DeflateStream s(kel::DeflateFormat::Zlib, 1);
    ASSERT_EQ(s.setFastest(kel::FastestDeflater::Counts::Exact), kelStatusOk);
    ASSERT_EQ(s.setDictionary(dict.data(), dict.size()), kelStatusOk);
    ASSERT_EQ(s.write(src.data() + 50000, 60000), kelStatusOk);
    ASSERT_EQ(s.finish(), kelStatusOk);
    Bytes back;
    ASSERT_TRUE(kel::test::zlibInflate(s.output(), 15, back, &dict));
    EXPECT_TRUE(back == Bytes(src.begin() + 50000, src.begin() + 110000));
}

}  // namespace

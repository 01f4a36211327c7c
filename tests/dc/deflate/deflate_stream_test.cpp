// tests/dc/deflate/deflate_stream_test.cpp - the zlib/gzip/raw stream writer: everything it writes must inflate
// with zlib to the input, whatever the level, format, piece sizes, flushes or dictionary.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "dc/deflate/deflate_test_util.h"
#include "stream/deflate_stream.h"
#include "support/test_util.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using kel::DeflateFormat;
using kel::DeflateStream;

int windowBitsOf(DeflateFormat f) {
    return f == DeflateFormat::Raw ? -15 : f == DeflateFormat::Zlib ? 15 : 31;
}

const char* nameOf(DeflateFormat f) {
    return f == DeflateFormat::Raw ? "raw" : f == DeflateFormat::Zlib ? "zlib" : "gzip";
}

Bytes compressWhole(const Bytes& data, DeflateFormat format, int level) {
    Bytes out;
    EXPECT_EQ(DeflateStream::compress(data.data(), data.size(), format, level, out), kelStatusOk);
    return out;
}

void expectRoundTrip(const Bytes& data, DeflateFormat format, int level) {
    SCOPED_TRACE(std::string(nameOf(format)) + " level " + std::to_string(level) + ", " + std::to_string(data.size()) +
                 " bytes");
    const Bytes packed = compressWhole(data, format, level);
    Bytes unpacked;
    ASSERT_TRUE(kel::test::zlibInflate(packed, windowBitsOf(format), unpacked));
    ASSERT_EQ(unpacked, data);
}

TEST(DeflateStream, CorpusRoundTripsThroughZlib) {
    const DeflateFormat formats[] = {DeflateFormat::Zlib, DeflateFormat::Gzip, DeflateFormat::Raw};
    int k = 0;
    for (const std::string& name : kel::test::corpusFileNames()) {
        const Bytes data = kel::test::readCorpusFile(name);
        ASSERT_FALSE(data.empty()) << name;
        SCOPED_TRACE(name);
        for (int level : {1, 6, 9, 0, 12, 17, 24, 29}) expectRoundTrip(data, formats[k++ % 3], level);
    }
}

TEST(DeflateStream, CompressesAboutAsWellAsZlib) {
    // A coarse guard against a matcher or code builder that silently stops finding matches.
    const Bytes data = kel::test::readCorpusFile("alice29.txt");
    for (int level : {1, 6, 9}) {
        const Bytes ours = compressWhole(data, DeflateFormat::Raw, level);
        uLongf zlibLen = compressBound(uLong(data.size()));
        Bytes theirs(zlibLen);
        ASSERT_EQ(compress2(theirs.data(), &zlibLen, data.data(), uLong(data.size()), level), Z_OK);
        EXPECT_LT(double(ours.size()), 1.03 * double(zlibLen)) << "level " << level;
    }
}

TEST(DeflateStream, SyntheticDataAtEveryLevel) {
    SCOPED_TRACE(kel::test::seedNote());
    auto rng = kel::test::makeRng(61);
    std::vector<Bytes> inputs;
    for (std::size_t n : {0, 1, 2, 3, 4, 5, 257, 258, 259, 260, 261, 262, 263})
        inputs.push_back(kel::test::randomBytes(rng, n));
    inputs.push_back(Bytes(100000, 0));
    inputs.push_back(Bytes(70000, 0xFF));
    inputs.push_back(kel::test::randomBytes(rng, 300000));  // stored blocks
    inputs.push_back(kel::test::repetitiveBytes(rng, 400000));
    Bytes period;
    for (int i = 0; i < 200000; ++i) period.push_back(std::uint8_t("abcdefg"[i % 7]));
    inputs.push_back(period);
    for (int level = 0; level <= DeflateStream::kMaxLevel; ++level) {
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            expectRoundTrip(inputs[i], DeflateFormat(level % 3), level);
        }
    }
}

TEST(DeflateStream, IncompressibleDataCostsLittleMore) {
    auto rng = kel::test::makeRng(62);
    const Bytes data = kel::test::randomBytes(rng, 1 << 20);
    for (int level : {1, 6, 9}) {
        const Bytes packed = compressWhole(data, DeflateFormat::Raw, level);
        EXPECT_LT(packed.size(), data.size() + data.size() / 1000) << "level " << level;
    }
}

TEST(DeflateStream, PieceSizesDoNotChangeTheOutput) {
    SCOPED_TRACE(kel::test::seedNote());
    auto rng = kel::test::makeRng(63);
    const Bytes data = kel::test::repetitiveBytes(rng, 600000);
    for (int level : {1, 6, 20}) {
        const Bytes whole = compressWhole(data, DeflateFormat::Gzip, level);
        DeflateStream s(DeflateFormat::Gzip, level);
        Bytes out;
        for (std::size_t at = 0; at < data.size();) {
            const std::size_t n = std::min<std::size_t>(data.size() - at, rng() % 3 ? rng() % 300 : rng() % 200000);
            ASSERT_EQ(s.write(data.data() + at, n), kelStatusOk);
            out.insert(out.end(), s.output().begin(), s.output().end());
            s.output().clear();
            at += n;
        }
        ASSERT_EQ(s.finish(), kelStatusOk);
        out.insert(out.end(), s.output().begin(), s.output().end());
        EXPECT_EQ(out, whole) << "level " << level;
    }
}

// Long pieces are matched in the caller's buffer, short ones through the window; the matcher still runs over the
// same stretches of the stream, so any mix gives the bytes of one whole write. Random stretches make stored blocks,
// whose bytes come from the window, the caller's buffer or both.
TEST(DeflateStream, LongPiecesMatchedInPlaceGiveTheSameOutput) {
    SCOPED_TRACE(kel::test::seedNote());
    auto rng = kel::test::makeRng(65);
    Bytes data;
    for (int part = 0; part < 8; ++part) {
        const Bytes chunk = part % 3 == 2 ? kel::test::randomBytes(rng, 70000 + rng() % 90000)
                                          : kel::test::repetitiveBytes(rng, 150000 + rng() % 300000);
        data.insert(data.end(), chunk.begin(), chunk.end());
    }
    const Bytes dict = kel::test::repetitiveBytes(rng, 50000);
    for (int level : {1, 6, 9, 0, 14}) {
        for (const bool withDict : {false, true}) {
            SCOPED_TRACE("level " + std::to_string(level) + (withDict ? " with dictionary" : ""));
            auto run = [&](auto nextPiece) {
                DeflateStream s(DeflateFormat::Zlib, level);
                if (withDict) EXPECT_EQ(s.setDictionary(dict.data(), dict.size()), kelStatusOk);
                Bytes out;
                for (std::size_t at = 0; at < data.size();) {
                    const std::size_t n = std::min<std::size_t>(data.size() - at, nextPiece());
                    EXPECT_EQ(s.write(data.data() + at, n), kelStatusOk);
                    out.insert(out.end(), s.output().begin(), s.output().end());
                    s.output().clear();
                    at += n;
                }
                EXPECT_EQ(s.finish(), kelStatusOk);
                out.insert(out.end(), s.output().begin(), s.output().end());
                return out;
            };
            const Bytes whole = run([&] { return data.size(); });
            Bytes restored;
            ASSERT_TRUE(kel::test::zlibInflate(whole, 15, restored, &dict));
            ASSERT_EQ(restored, data);
            const Bytes mixed = run([&] {
                const unsigned kind = unsigned(rng() % 4);
                return kind == 0 ? rng() % 300 : kind == 1 ? rng() % 100000 : 250000 + rng() % 600000;
            });
            EXPECT_EQ(mixed, whole);
            const Bytes buffered = run([&] { return std::size_t(65536); });
            EXPECT_EQ(buffered, whole);
        }
    }
}

// Levels 6 to 9 are served by the table rows 5 to 8, whose twins 25 to 28 hold the same parameters.
TEST(DeflateStream, LevelsSixToNineUseTheirDocumentedRows) {
    const Bytes data = kel::test::readCorpusFile("alice29.txt");
    for (int level = 6; level <= 9; ++level) {
        EXPECT_EQ(compressWhole(data, DeflateFormat::Raw, level), compressWhole(data, DeflateFormat::Raw, level + 19))
            << "level " << level;
    }
    EXPECT_NE(compressWhole(data, DeflateFormat::Raw, 6), compressWhole(data, DeflateFormat::Raw, 26));
}

TEST(DeflateStream, SyncFlushMakesEverythingSoFarDecodable) {
    SCOPED_TRACE(kel::test::seedNote());
    auto rng = kel::test::makeRng(64);
    const Bytes data = kel::test::repetitiveBytes(rng, 300000);
    for (int level : {0, 2, 8}) {
        DeflateStream s(DeflateFormat::Zlib, level);
        z_stream z{};
        ASSERT_EQ(inflateInit(&z), Z_OK);
        Bytes restored(data.size() + 16);
        z.next_out = restored.data();
        z.avail_out = uInt(restored.size());
        std::size_t at = 0;
        for (std::size_t cut :
             {std::size_t(1), std::size_t(5000), std::size_t(5001), std::size_t(140000), data.size()}) {
            ASSERT_EQ(s.write(data.data() + at, cut - at), kelStatusOk);
            ASSERT_EQ(s.flush(), kelStatusOk);
            at = cut;
            Bytes chunk;
            chunk.swap(s.output());
            z.next_in = chunk.data();
            z.avail_in = uInt(chunk.size());
            ASSERT_EQ(inflate(&z, Z_SYNC_FLUSH), Z_OK);
            ASSERT_EQ(z.avail_in, 0u);
            ASSERT_EQ(z.total_out, cut) << "level " << level;
        }
        ASSERT_EQ(s.finish(), kelStatusOk);
        z.next_in = s.output().data();
        z.avail_in = uInt(s.output().size());
        EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
        inflateEnd(&z);
        restored.resize(data.size());
        EXPECT_EQ(restored, data);
    }
}

TEST(DeflateStream, PresetDictionaryRoundTrips) {
    const Bytes text = kel::test::readCorpusFile("lcet10.txt");
    const Bytes data(text.begin() + 200000, text.begin() + 260000);
    for (std::size_t dictLen : {3, 100, 300, 20000, 40000}) {
        const Bytes dict(text.begin(), text.begin() + long(dictLen));
        for (int level : {0, 1, 6, 9}) {
            for (DeflateFormat f : {DeflateFormat::Zlib, DeflateFormat::Raw}) {
                SCOPED_TRACE(std::string(nameOf(f)) + " level " + std::to_string(level) + " dictionary " +
                             std::to_string(dictLen));
                DeflateStream s(f, level);
                ASSERT_EQ(s.setDictionary(dict.data(), dict.size()), kelStatusOk);
                ASSERT_EQ(s.write(data.data(), data.size()), kelStatusOk);
                ASSERT_EQ(s.finish(), kelStatusOk);
                Bytes out;
                ASSERT_TRUE(kel::test::zlibInflate(s.output(), windowBitsOf(f), out, &dict));
                ASSERT_EQ(out, data);
                if (dictLen >= 20000) {
                    EXPECT_LT(s.output().size(), compressWhole(data, f, level).size());
                }
            }
        }
    }
    // zlib refuses a stream whose dictionary id does not match the dictionary it is given.
    const Bytes dict(text.begin(), text.begin() + 1000), other(text.begin() + 1, text.begin() + 1001);
    DeflateStream s(DeflateFormat::Zlib, 6);
    ASSERT_EQ(s.setDictionary(dict.data(), dict.size()), kelStatusOk);
    ASSERT_EQ(s.write(data.data(), 1000), kelStatusOk);
    ASSERT_EQ(s.finish(), kelStatusOk);
    Bytes out;
    EXPECT_FALSE(kel::test::zlibInflate(s.output(), 15, out, &other));
}

TEST(DeflateStream, GzipHeaderCarriesNameAndTime) {
    const Bytes data(1000, 'k');
    DeflateStream s(DeflateFormat::Gzip, 6);
    ASSERT_EQ(s.setGzipHeader(kel::GzipHeaderInfo{"notes.txt", 1234567890u}), kelStatusOk);
    ASSERT_EQ(s.write(data.data(), data.size()), kelStatusOk);
    ASSERT_EQ(s.finish(), kelStatusOk);
    z_stream z{};
    ASSERT_EQ(inflateInit2(&z, 31), Z_OK);
    gz_header h{};
    Bytef name[64] = {};
    h.name = name;
    h.name_max = sizeof name;
    ASSERT_EQ(inflateGetHeader(&z, &h), Z_OK);
    Bytes out(2000);
    z.next_in = s.output().data();
    z.avail_in = uInt(s.output().size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
    EXPECT_EQ(z.total_out, 1000u);
    EXPECT_STREQ(reinterpret_cast<const char*>(name), "notes.txt");
    EXPECT_EQ(h.time, 1234567890u);
    inflateEnd(&z);
}

TEST(DeflateStream, MisuseIsRefused) {
    const Bytes data(10, 'x');
    DeflateStream bad(DeflateFormat::Zlib, 30);
    EXPECT_EQ(bad.status(), kelStatusBadSize);
    EXPECT_EQ(bad.write(data.data(), data.size()), kelStatusBadSize);
    EXPECT_EQ(bad.finish(), kelStatusBadSize);

    DeflateStream gz(DeflateFormat::Gzip, 6);
    EXPECT_EQ(gz.setDictionary(data.data(), data.size()), kelStatusBadArgument);
    DeflateStream z(DeflateFormat::Zlib, 6);
    EXPECT_EQ(z.setGzipHeader({}), kelStatusBadArgument);
    ASSERT_EQ(z.write(data.data(), data.size()), kelStatusOk);
    EXPECT_EQ(z.setDictionary(data.data(), data.size()), kelStatusBadArgument);
    ASSERT_EQ(z.finish(), kelStatusOk);
    EXPECT_EQ(z.write(data.data(), data.size()), kelStatusBadArgument);
    EXPECT_EQ(z.finish(), kelStatusBadArgument);
}

}  // namespace

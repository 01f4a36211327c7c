// tests/kelbz2/interop_test.cpp - libkelbz2 against the system's libbz2 and the bzip2 tool over the bundled corpus
// and random data: each reads what the other writes, and our streams stay within 1% of libbz2's sizes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/bzlib_api.h"
#include "support/test_util.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes compressWith(const kel::test::BzlibApi& api, const Bytes& data, int blockSize100k) {
    unsigned len = static_cast<unsigned>(data.size() + data.size() / 50 + 600);
    Bytes out(len);
    Bytes in = data;
    EXPECT_EQ(
        api.BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &len, reinterpret_cast<char*>(in.data()),
                                     static_cast<unsigned>(in.size()), blockSize100k, 0, 0),
        BZ_OK);
    out.resize(len);
    return out;
}

Bytes decompressWith(const kel::test::BzlibApi& api, const Bytes& packed, std::size_t size) {
    unsigned len = static_cast<unsigned>(size);
    Bytes out(size + 1);
    Bytes in = packed;
    EXPECT_EQ(
        api.BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(out.data()), &len, reinterpret_cast<char*>(in.data()),
                                       static_cast<unsigned>(in.size()), 0, 0),
        BZ_OK);
    out.resize(len);
    return out;
}

// Writes with BZ2_bzCompress in random pieces and room with random BZ_FLUSH points.
Bytes compressInPieces(const kel::test::BzlibApi& api, const Bytes& in, int level, std::mt19937_64& rng) {
    bz_stream s{};
    EXPECT_EQ(api.BZ2_bzCompressInit(&s, level, 0, 0), BZ_OK);
    Bytes out;
    std::size_t pos = 0;
    int action = BZ_RUN;
    for (int r = 0; r != BZ_STREAM_END;) {
        if (action == BZ_RUN && rng() % 8 == 0) action = BZ_FLUSH;
        if (action == BZ_RUN && pos == in.size()) action = BZ_FINISH;
        const unsigned n =
            action == BZ_RUN ? static_cast<unsigned>(std::min<std::size_t>(rng() % 100000 + 1, in.size() - pos)) : 0;
        std::uint8_t room[65536];
        const unsigned roomLen = static_cast<unsigned>(rng() % sizeof room + 1);
        s.next_in = reinterpret_cast<char*>(const_cast<std::uint8_t*>(in.data() + pos));
        s.avail_in = n;
        s.next_out = reinterpret_cast<char*>(room);
        s.avail_out = roomLen;
        r = api.BZ2_bzCompress(&s, action);
        EXPECT_TRUE(r == BZ_RUN_OK || r == BZ_FLUSH_OK || r == BZ_FINISH_OK || r == BZ_STREAM_END) << r;
        if (r < 0) break;
        pos += n - s.avail_in;
        out.insert(out.end(), room, room + (roomLen - s.avail_out));
        if (action == BZ_FLUSH && r == BZ_RUN_OK) action = BZ_RUN;
    }
    EXPECT_EQ(api.BZ2_bzCompressEnd(&s), BZ_OK);
    return out;
}

Bytes corpusSample() {
    Bytes all;
    for (const std::string& name : kel::test::corpusFileNames()) {
        const Bytes f = kel::test::readCorpusFile(name);
        all.insert(all.end(), f.begin(), f.end());
    }
    return all;
}

// Our streams at every block size, written with flushes in random places, are read by libbz2 and by the bzip2
// tool; libbz2's streams are read by us.
TEST(Bzip2Interop, EveryBlockSizeBothWays) {
    auto rng = kel::test::makeRng(21);
    SCOPED_TRACE(kel::test::seedNote());
    const Bytes corpus = corpusSample();
    const auto& kel = kel::test::kelBzlib();
    const auto& sys = kel::test::systemBzlib();
    char path[] = "/tmp/kelbz2_interop_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    for (int level = 1; level <= 9; ++level) {
        SCOPED_TRACE(level);
        const std::size_t start = rng() % (corpus.size() / 2);
        Bytes in(corpus.begin() + static_cast<std::ptrdiff_t>(start),
                 corpus.begin() + static_cast<std::ptrdiff_t>(start + 300000 + rng() % 900000));
        if (level % 3 == 0) {
            const Bytes noise = kel::test::randomBytes(rng, 200000);
            in.insert(in.end(), noise.begin(), noise.end());
        }
        const Bytes ours = compressInPieces(kel, in, level, rng);
        ASSERT_EQ(ours[3], '0' + level);
        EXPECT_EQ(decompressWith(sys, ours, in.size()), in);

        std::FILE* f = std::fopen(path, "wb");
        std::fwrite(ours.data(), 1, ours.size(), f);
        std::fclose(f);
        std::FILE* p = popen((std::string("bzip2 -dc ") + path).c_str(), "r");
        ASSERT_NE(p, nullptr);
        Bytes viaTool;
        std::uint8_t buf[65536];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) viaTool.insert(viaTool.end(), buf, buf + n);
        EXPECT_EQ(pclose(p), 0);
        EXPECT_EQ(viaTool, in);

        const Bytes theirs = compressWith(sys, in, level);
        EXPECT_EQ(decompressWith(kel, theirs, in.size()), in);
    }
    std::remove(path);
}

// Each corpus file on its own, at the smallest and largest block size: within 1% of libbz2 (the sizes are printed
// for the record).
TEST(Bzip2Interop, SizesStayWithinOnePercentOfLibbz2) {
    for (int level : {1, 9}) {
        std::size_t oursTotal = 0, theirsTotal = 0;
        for (const std::string& name : kel::test::corpusFileNames()) {
            const Bytes in = kel::test::readCorpusFile(name);
            const std::size_t ours = compressWith(kel::test::kelBzlib(), in, level).size();
            const std::size_t theirs = compressWith(kel::test::systemBzlib(), in, level).size();
            EXPECT_LE(ours, theirs + theirs / 100 + 16) << name << " level " << level;
            oursTotal += ours;
            theirsTotal += theirs;
        }
        std::printf("level %d: ours %zu, libbz2 %zu bytes (%.2f%%)\n", level, oursTotal, theirsTotal,
                    100.0 * static_cast<double>(oursTotal) / static_cast<double>(theirsTotal) - 100.0);
        EXPECT_LE(oursTotal, theirsTotal + theirsTotal / 100);
    }
}

}  // namespace

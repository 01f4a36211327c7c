// tests/kelbz2/file_calls_test.cpp - libbz2's one-shot calls (BZ2_bzBuffToBuff*), its stdio interface
// (BZ2_bzReadOpen ... BZ2_bzWriteClose64) and the bzopen family on temporary files. Every body runs against the
// system's libbz2 and libkelbz2, so the system library proves that each expected code is libbz2's.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support/bzlib_api.h"
#include "support/test_util.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/lsan_interface.h>
#define KEL_LEAK_CHECKED 1
#endif
#endif

namespace {

using kel::test::BzlibApi;
using Bytes = std::vector<std::uint8_t>;

char* chars(Bytes& v) {
    return reinterpret_cast<char*>(v.data());
}

Bytes sample(std::size_t n, std::uint64_t salt = 1) {
    auto rng = kel::test::makeRng(salt);
    Bytes v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>("bzip2 file\n"[rng() % 11]);
    return v;
}

class BzFiles : public ::testing::TestWithParam<const BzlibApi*> {
protected:
    const BzlibApi& api() const { return *GetParam(); }

    void SetUp() override {
        char name[] = "/tmp/kelbz2_file_XXXXXX";
        const int fd = mkstemp(name);
        ASSERT_GE(fd, 0);
        close(fd);
        path_ = name;
    }
    void TearDown() override { std::remove(path_.c_str()); }

    Bytes compress(const Bytes& data, int blockSize100k = 9) {
        unsigned len = static_cast<unsigned>(data.size() + data.size() / 50 + 600);
        Bytes out(len);
        Bytes in = data;
        EXPECT_EQ(api().BZ2_bzBuffToBuffCompress(chars(out), &len, chars(in), static_cast<unsigned>(in.size()),
                                                 blockSize100k, 0, 0),
                  BZ_OK);
        out.resize(len);
        return out;
    }

    void writeFile(const Bytes& data) const {
        std::FILE* f = std::fopen(path_.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(data.data(), 1, data.size(), f);
        std::fclose(f);
    }

    Bytes readFile() const {
        std::FILE* f = std::fopen(path_.c_str(), "rb");
        Bytes v;
        int c;
        while ((c = std::fgetc(f)) != EOF) v.push_back(static_cast<std::uint8_t>(c));
        std::fclose(f);
        return v;
    }

    // Reads the file's first stream with BZ2_bzRead in pieces of `step` bytes; *code is the last bzerror.
    Bytes readStream(std::FILE* f, int step, int* code, void* unused = nullptr, int nUnused = 0) {
        int err = 0;
        BZFILE* b = api().BZ2_bzReadOpen(&err, f, 0, 0, unused, nUnused);
        EXPECT_EQ(err, BZ_OK);
        Bytes out;
        std::vector<char> piece(static_cast<std::size_t>(step));
        do {
            const int n = api().BZ2_bzRead(&err, b, piece.data(), step);
            out.insert(out.end(), piece.begin(), piece.begin() + n);
            if (err == BZ_OK) EXPECT_EQ(n, step);
        } while (err == BZ_OK);
        *code = err;
        api().BZ2_bzReadClose(&err, b);
        EXPECT_EQ(err, BZ_OK);
        return out;
    }

    std::string path_;
};

TEST_P(BzFiles, BuffToBuffCompressCodes) {
    Bytes in = sample(1000), out(2000);
    unsigned len = 10;
    EXPECT_EQ(api().BZ2_bzBuffToBuffCompress(chars(out), &len, chars(in), 1000, 1, 0, 0), BZ_OUTBUFF_FULL);
    EXPECT_EQ(api().BZ2_bzBuffToBuffCompress(chars(out), &len, chars(in), 0, 1, 0, 0), BZ_OUTBUFF_FULL);
    len = 14;
    EXPECT_EQ(api().BZ2_bzBuffToBuffCompress(chars(out), &len, chars(in), 0, 1, 0, 0), BZ_OK);
    EXPECT_EQ(len, 14u);
    len = 2000;
    EXPECT_EQ(api().BZ2_bzBuffToBuffCompress(nullptr, &len, chars(in), 1000, 1, 0, 0), BZ_PARAM_ERROR);
    EXPECT_EQ(api().BZ2_bzBuffToBuffCompress(chars(out), nullptr, chars(in), 1000, 1, 0, 0), BZ_PARAM_ERROR);
    EXPECT_EQ(api().BZ2_bzBuffToBuffCompress(chars(out), &len, nullptr, 1000, 1, 0, 0), BZ_PARAM_ERROR);
    EXPECT_EQ(api().BZ2_bzBuffToBuffCompress(chars(out), &len, chars(in), 1000, 0, 0, 0), BZ_PARAM_ERROR);
    EXPECT_EQ(api().BZ2_bzBuffToBuffCompress(chars(out), &len, chars(in), 1000, 10, 0, 0), BZ_PARAM_ERROR);
    EXPECT_EQ(api().BZ2_bzBuffToBuffCompress(chars(out), &len, chars(in), 1000, 1, 5, 0), BZ_PARAM_ERROR);
    EXPECT_EQ(api().BZ2_bzBuffToBuffCompress(chars(out), &len, chars(in), 1000, 1, 0, 251), BZ_PARAM_ERROR);
    EXPECT_EQ(len, 2000u);
    EXPECT_EQ(api().BZ2_bzBuffToBuffCompress(chars(out), &len, chars(in), 1000, 1, 0, 0), BZ_OK);
    EXPECT_LT(len, 1000u);
}

TEST_P(BzFiles, BuffToBuffDecompressCodes) {
    Bytes in = sample(1000);
    Bytes packed = compress(in, 1);
    const unsigned n = static_cast<unsigned>(packed.size());
    Bytes out(2000);
    unsigned len = 999;
    EXPECT_EQ(api().BZ2_bzBuffToBuffDecompress(chars(out), &len, chars(packed), n, 0, 0), BZ_OUTBUFF_FULL);
    len = 1000;
    EXPECT_EQ(api().BZ2_bzBuffToBuffDecompress(chars(out), &len, chars(packed), n, 0, 0), BZ_OK);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 1000), in);
    len = 2000;
    EXPECT_EQ(api().BZ2_bzBuffToBuffDecompress(chars(out), &len, chars(packed), n - 1, 1, 0), BZ_UNEXPECTED_EOF);
    EXPECT_EQ(api().BZ2_bzBuffToBuffDecompress(chars(out), &len, chars(packed), 0, 0, 0), BZ_UNEXPECTED_EOF);
    EXPECT_EQ(len, 2000u);
    packed.insert(packed.end(), {'B', 'Z', 'h', '9', 0, 1});  // only the first stream counts
    EXPECT_EQ(api().BZ2_bzBuffToBuffDecompress(chars(out), &len, chars(packed), n + 6, 0, 0), BZ_OK);
    EXPECT_EQ(len, 1000u);
    len = 2000;
    EXPECT_EQ(api().BZ2_bzBuffToBuffDecompress(nullptr, &len, chars(packed), n, 0, 0), BZ_PARAM_ERROR);
    EXPECT_EQ(api().BZ2_bzBuffToBuffDecompress(chars(out), nullptr, chars(packed), n, 0, 0), BZ_PARAM_ERROR);
    EXPECT_EQ(api().BZ2_bzBuffToBuffDecompress(chars(out), &len, nullptr, n, 0, 0), BZ_PARAM_ERROR);
    EXPECT_EQ(api().BZ2_bzBuffToBuffDecompress(chars(out), &len, chars(packed), n, 2, 0), BZ_PARAM_ERROR);
    EXPECT_EQ(api().BZ2_bzBuffToBuffDecompress(chars(out), &len, chars(packed), n, 0, 5), BZ_PARAM_ERROR);
    packed[20] ^= 0x10;
    EXPECT_EQ(api().BZ2_bzBuffToBuffDecompress(chars(out), &len, chars(packed), n, 0, 0), BZ_DATA_ERROR);
    packed[0] = 'b';
    EXPECT_EQ(api().BZ2_bzBuffToBuffDecompress(chars(out), &len, chars(packed), n, 0, 0), BZ_DATA_ERROR_MAGIC);
}

// Written in pieces with BZ2_bzWrite, read back in pieces with BZ2_bzRead; the counts of BZ2_bzWriteClose64 and
// the codes after the end are libbz2's.
TEST_P(BzFiles, WriteThenReadInPieces) {
    const Bytes in = sample(300000, 2);
    std::FILE* f = std::fopen(path_.c_str(), "wb");
    int err = -99;
    BZFILE* b = api().BZ2_bzWriteOpen(&err, f, 2, 0, 0);
    ASSERT_EQ(err, BZ_OK);
    // Misuse first: it sets the handle's error, and a close after an error would not finish the stream (the
    // next successful BZ2_bzWrite clears it).
    char tmp[10];
    EXPECT_EQ(api().BZ2_bzRead(&err, b, tmp, 10), 0);
    EXPECT_EQ(err, BZ_SEQUENCE_ERROR);
    api().BZ2_bzReadClose(&err, b);
    EXPECT_EQ(err, BZ_SEQUENCE_ERROR);
    for (std::size_t pos = 0; pos < in.size(); pos += 7777) {
        int n = static_cast<int>(std::min<std::size_t>(7777, in.size() - pos));
        api().BZ2_bzWrite(&err, b, const_cast<std::uint8_t*>(in.data() + pos), n);
        ASSERT_EQ(err, BZ_OK);
    }
    api().BZ2_bzWrite(&err, b, const_cast<std::uint8_t*>(in.data()), 0);
    EXPECT_EQ(err, BZ_OK);
    unsigned inLo = 0, inHi = 9, outLo = 0, outHi = 9;
    api().BZ2_bzWriteClose64(&err, b, 0, &inLo, &inHi, &outLo, &outHi);
    EXPECT_EQ(err, BZ_OK);
    EXPECT_EQ(inLo, in.size());
    EXPECT_EQ(inHi, 0u);
    EXPECT_EQ(outHi, 0u);
    std::fclose(f);
    EXPECT_EQ(readFile().size(), outLo);

    f = std::fopen(path_.c_str(), "rb");
    int code = 0;
    EXPECT_EQ(readStream(f, 1000, &code), in);  // 300 pieces: the last one fills exactly, then the end comes
    EXPECT_EQ(code, BZ_STREAM_END);
    std::rewind(f);
    b = api().BZ2_bzReadOpen(&err, f, 0, 1, nullptr, 0);
    std::vector<char> all(in.size() + 10);
    EXPECT_EQ(api().BZ2_bzRead(&err, b, all.data(), static_cast<int>(all.size())), static_cast<int>(in.size()));
    EXPECT_EQ(err, BZ_STREAM_END);
    EXPECT_EQ(api().BZ2_bzRead(&err, b, all.data(), 0), 0);
    EXPECT_EQ(err, BZ_OK);
    EXPECT_EQ(api().BZ2_bzRead(&err, b, all.data(), 10), 0);
    EXPECT_EQ(err, BZ_SEQUENCE_ERROR);
    api().BZ2_bzWrite(&err, b, all.data(), 10);
    EXPECT_EQ(err, BZ_SEQUENCE_ERROR);
    api().BZ2_bzWriteClose(&err, b, 0, nullptr, nullptr);
    EXPECT_EQ(err, BZ_SEQUENCE_ERROR);
    api().BZ2_bzReadClose(&err, b);
    EXPECT_EQ(err, BZ_OK);
    std::fclose(f);
}

// Streams in a row: each read ends at its stream, and BZ2_bzReadGetUnused hands on what was read past it.
TEST_P(BzFiles, ConsecutiveStreamsThroughGetUnused) {
    const Bytes a = sample(20000, 3), b = sample(40000, 4);
    Bytes file = compress(a, 1);
    const Bytes second = compress(b, 3);
    file.insert(file.end(), second.begin(), second.end());
    writeFile(file);
    std::FILE* f = std::fopen(path_.c_str(), "rb");
    int err = 0;
    BZFILE* bz = api().BZ2_bzReadOpen(&err, f, 0, 0, nullptr, 0);
    void* unused = nullptr;
    int nUnused = -1;
    api().BZ2_bzReadGetUnused(&err, bz, &unused, &nUnused);
    EXPECT_EQ(err, BZ_SEQUENCE_ERROR);
    std::vector<char> buf(100000);
    EXPECT_EQ(api().BZ2_bzRead(&err, bz, buf.data(), 100000), 20000);
    EXPECT_EQ(err, BZ_STREAM_END);
    api().BZ2_bzReadGetUnused(&err, bz, nullptr, &nUnused);
    EXPECT_EQ(err, BZ_PARAM_ERROR);
    api().BZ2_bzReadGetUnused(&err, bz, &unused, &nUnused);
    EXPECT_EQ(err, BZ_SEQUENCE_ERROR);  // the failed call above replaced BZ_STREAM_END
    api().BZ2_bzReadGetUnused(&err, nullptr, &unused, &nUnused);
    EXPECT_EQ(err, BZ_PARAM_ERROR);
    api().BZ2_bzReadClose(&err, bz);

    std::rewind(f);
    bz = api().BZ2_bzReadOpen(&err, f, 0, 0, nullptr, 0);
    EXPECT_EQ(api().BZ2_bzRead(&err, bz, buf.data(), 100000), 20000);
    api().BZ2_bzReadGetUnused(&err, bz, &unused, &nUnused);
    EXPECT_EQ(err, BZ_OK);
    ASSERT_GT(nUnused, 0);
    const std::vector<char> carried(static_cast<char*>(unused), static_cast<char*>(unused) + nUnused);
    api().BZ2_bzReadClose(&err, bz);
    int code = 0;
    EXPECT_EQ(readStream(f, 333, &code, const_cast<char*>(carried.data()), nUnused), b);
    EXPECT_EQ(code, BZ_STREAM_END);
    std::fclose(f);
}

TEST_P(BzFiles, OpenRejectsBadArguments) {
    std::FILE* f = std::fopen(path_.c_str(), "rb");
    int err = 0;
    char unused[BZ_MAX_UNUSED + 1] = {};
    EXPECT_EQ(api().BZ2_bzReadOpen(&err, nullptr, 0, 0, nullptr, 0), nullptr);
    EXPECT_EQ(err, BZ_PARAM_ERROR);
    EXPECT_EQ(api().BZ2_bzReadOpen(&err, f, 0, 2, nullptr, 0), nullptr);
    EXPECT_EQ(err, BZ_PARAM_ERROR);
    EXPECT_EQ(api().BZ2_bzReadOpen(&err, f, 5, 0, nullptr, 0), nullptr);
    EXPECT_EQ(err, BZ_PARAM_ERROR);
    EXPECT_EQ(api().BZ2_bzReadOpen(&err, f, 0, 0, nullptr, 1), nullptr);
    EXPECT_EQ(err, BZ_PARAM_ERROR);
    EXPECT_EQ(api().BZ2_bzReadOpen(&err, f, 0, 0, unused, BZ_MAX_UNUSED + 1), nullptr);
    EXPECT_EQ(err, BZ_PARAM_ERROR);
    EXPECT_EQ(api().BZ2_bzWriteOpen(&err, nullptr, 9, 0, 0), nullptr);
    EXPECT_EQ(err, BZ_PARAM_ERROR);
    EXPECT_EQ(api().BZ2_bzWriteOpen(&err, f, 10, 0, 0), nullptr);
    EXPECT_EQ(err, BZ_PARAM_ERROR);
    EXPECT_EQ(api().BZ2_bzWriteOpen(&err, f, 9, 0, 251), nullptr);
    EXPECT_EQ(err, BZ_PARAM_ERROR);
    char buf[10];
    EXPECT_EQ(api().BZ2_bzRead(&err, nullptr, buf, 10), 0);
    EXPECT_EQ(err, BZ_PARAM_ERROR);
    api().BZ2_bzWrite(&err, nullptr, buf, 10);
    EXPECT_EQ(err, BZ_PARAM_ERROR);
    api().BZ2_bzReadClose(&err, nullptr);
    EXPECT_EQ(err, BZ_OK);
    api().BZ2_bzWriteClose(&err, nullptr, 0, nullptr, nullptr);
    EXPECT_EQ(err, BZ_OK);
    std::fclose(f);
}

// A file that ends early is BZ_UNEXPECTED_EOF; one that is not bzip2, BZ_DATA_ERROR_MAGIC; damage after the header,
// BZ_DATA_ERROR. An empty file is an early end too.
TEST_P(BzFiles, DamagedFileCodes) {
    const Bytes in = sample(50000, 5);
    const Bytes packed = compress(in, 1);
    struct Case {
        Bytes file;
        int code;
    };
    Bytes corrupt = packed;
    corrupt[corrupt.size() / 2] ^= 0x21;
    const Case cases[] = {
        {Bytes(packed.begin(), packed.end() - 1), BZ_UNEXPECTED_EOF},
        {Bytes(packed.begin(), packed.end() - 10), BZ_UNEXPECTED_EOF},
        {Bytes(packed.begin(), packed.begin() + 3), BZ_UNEXPECTED_EOF},
        {Bytes(), BZ_UNEXPECTED_EOF},
        {Bytes{'B', 'Z', 'x'}, BZ_DATA_ERROR_MAGIC},
        {Bytes{'B', 'Z', 'h', '0'}, BZ_DATA_ERROR_MAGIC},
        {corrupt, BZ_DATA_ERROR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file.size());
        writeFile(c.file);
        std::FILE* f = std::fopen(path_.c_str(), "rb");
        int code = 0;
        readStream(f, 4096, &code);
        EXPECT_EQ(code, c.code);
        std::fclose(f);
    }
}

// Reading a file opened for writing finds no input (stdio reports end of file, not an error); writing one opened
// for reading is BZ_IO_ERROR as soon as output is written, and on every later call.
TEST_P(BzFiles, StdioFailuresBehaveAsLibbz2) {
    writeFile(compress(sample(1000)));
    std::FILE* f = std::fopen(path_.c_str(), "ab");
    int err = 0;
    BZFILE* b = api().BZ2_bzReadOpen(&err, f, 0, 0, nullptr, 0);
    ASSERT_EQ(err, BZ_OK);
    char buf[100];
    EXPECT_EQ(api().BZ2_bzRead(&err, b, buf, 100), 0);
    EXPECT_EQ(err, BZ_UNEXPECTED_EOF);
    api().BZ2_bzReadClose(&err, b);
    std::fclose(f);

    // libbz2 itself loses the handle when a write fails and the close abandons it; ours frees it. Under the leak
    // checker the system library's allocations here are not counted.
#ifdef KEL_LEAK_CHECKED
    const bool peer = &api() == &kel::test::systemBzlib();
    if (peer) __lsan_disable();
#endif
    f = std::fopen(path_.c_str(), "rb");
    b = api().BZ2_bzWriteOpen(&err, f, 1, 0, 0);
#ifdef KEL_LEAK_CHECKED
    if (peer) __lsan_enable();
#endif
    ASSERT_EQ(err, BZ_OK);
    Bytes in = sample(300000, 6);  // more than a block, so output is written during BZ2_bzWrite
    api().BZ2_bzWrite(&err, b, in.data(), static_cast<int>(in.size()));
    EXPECT_EQ(err, BZ_IO_ERROR);
    api().BZ2_bzWrite(&err, b, in.data(), 10);
    EXPECT_EQ(err, BZ_IO_ERROR);
    api().BZ2_bzWriteClose(&err, b, 1, nullptr, nullptr);
    std::fclose(f);
}

TEST_P(BzFiles, BzopenFamilyRoundTrip) {
    const Bytes in = sample(250000, 7);
    BZFILE* b = api().BZ2_bzopen(path_.c_str(), "w1");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(api().BZ2_bzwrite(b, const_cast<std::uint8_t*>(in.data()), 100000), 100000);
    EXPECT_EQ(api().BZ2_bzflush(b), 0);
    EXPECT_EQ(api().BZ2_bzwrite(b, const_cast<std::uint8_t*>(in.data() + 100000), 150000), 150000);
    int errnum = 1;
    EXPECT_STREQ(api().BZ2_bzerror(b, &errnum), "OK");
    EXPECT_EQ(errnum, 0);
    api().BZ2_bzclose(b);
    const Bytes file = readFile();
    ASSERT_GT(file.size(), 4u);
    EXPECT_EQ(file[3], '1');

    const int fd = open(path_.c_str(), O_RDONLY);
    b = api().BZ2_bzdopen(fd, "rs");
    ASSERT_NE(b, nullptr);
    std::vector<char> out(300000);
    EXPECT_EQ(api().BZ2_bzread(b, out.data(), 1000), 1000);
    EXPECT_EQ(api().BZ2_bzread(b, out.data() + 1000, 299000), 249000);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 250000), in);
    EXPECT_STREQ(api().BZ2_bzerror(b, &errnum), "OK");  // BZ_STREAM_END reads as OK
    EXPECT_EQ(errnum, 0);
    EXPECT_EQ(api().BZ2_bzread(b, out.data(), 10), 0);
    api().BZ2_bzclose(b);
    EXPECT_EQ(fcntl(fd, F_GETFD), -1);  // closing closed the descriptor

    writeFile(Bytes{'n', 'o', 't', ' ', 'b', 'z', 'i', 'p'});
    b = api().BZ2_bzopen(path_.c_str(), "r");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(api().BZ2_bzread(b, out.data(), 10), -1);
    EXPECT_STREQ(api().BZ2_bzerror(b, &errnum), "DATA_ERROR_MAGIC");
    EXPECT_EQ(errnum, BZ_DATA_ERROR_MAGIC);
    api().BZ2_bzclose(b);
    EXPECT_EQ(api().BZ2_bzopen("/nonexistent-dir/x.bz2", "r"), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Both, BzFiles, ::testing::Values(&kel::test::systemBzlib(), &kel::test::kelBzlib()),
                         kel::test::BzlibApiName());

}  // namespace

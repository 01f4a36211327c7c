// tests/dc/lzo/lzo_digest_test.cpp - the LZO1X encoder's output over the corpus and synthetic inputs, pinned by
// CRC-32 digests.
//
// The encoder's output is fixed to the byte, and its hot loop is tuned for speed; no tuning may change a byte. The
// digests below were taken from the encoder before that tuning began. Every input is coded from a source that ends
// at a page boundary into a destination of exactly the documented worst case (srcLen + srcLen / 16 + 67) that ends
// at one too, so wide literal copies and word-at-a-time match measuring fault at once if they pass either end.
//
// Besides whole files, every file's prefixes of 1 to 300 bytes and a few longer ones cover the ends of the main
// loop and of the final literal run at every alignment; the synthetic inputs place repeats exactly at the limits
// of each match form (2048, 16384 and 49151 back) and make long literal runs and long matches.
//
// After a deliberate change of output, KEL_PRINT_DIGESTS=1 prints the new table.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "keldc.h"
#include "support/pinned_digest.h"
#include "support/test_util.h"

namespace {

using Bytes = std::vector<Kel8u>;
using kel::test::GuardedBuffer;

constexpr kel::test::PinnedDigest kExpected[] = {
    {"alice29.txt", 0x25B48FB8},
    {"alice29.txt/prefixes", 0xD1753EBF},
    {"asyoulik.txt", 0x6D2B18F8},
    {"asyoulik.txt/prefixes", 0x1A0FCD9C},
    {"fireworks.jpeg", 0xEC743857},
    {"fireworks.jpeg/prefixes", 0x7EA6760C},
    {"geo.protodata", 0x826B870B},
    {"geo.protodata/prefixes", 0x6A49088B},
    {"html", 0x387DCA6D},
    {"html/prefixes", 0x1A2321E3},
    {"html_x_4", 0xC43E40D8},
    {"html_x_4/prefixes", 0x1A2321E3},
    {"kppkn.gtb", 0x45559128},
    {"kppkn.gtb/prefixes", 0xC33FCE88},
    {"lcet10.txt", 0x290AFBB2},
    {"lcet10.txt/prefixes", 0x3E26D1AE},
    {"paper-100k.pdf", 0xC38A4B1C},
    {"paper-100k.pdf/prefixes", 0xC4E55033},
    {"plrabn12.txt", 0xCCCB0203},
    {"plrabn12.txt/prefixes", 0x1D9F8761},
    {"urls.10K", 0x0B5C3DBB},
    {"urls.10K/prefixes", 0xB07D238A},
    {"random", 0xD737DB4C},
    {"random/prefixes", 0x76F1FE52},
    {"zeros", 0x7C42D3FC},
    {"zeros/prefixes", 0x9DB33CC0},
    {"repeats", 0xDB62F214},
    {"repeats/prefixes", 0x2D78EAAB},
    {"runs", 0xFA6DFBCD},
    {"runs/prefixes", 0x1E40E02E},
    {"dna", 0x2E9D766F},
    {"dna/prefixes", 0x8089A391},
    {"long copies", 0x0964584F},
    {"long copies/prefixes", 0xE564352B},
};

std::uint32_t crcOf(std::uint32_t crc, const void* p, std::size_t n) {
    return std::uint32_t(crc32(crc, static_cast<const Bytef*>(p), uInt(n)));
}

// Codes data[0, n) with a fresh state into a guarded destination of the worst-case size and folds the stream into
// crc, length first, so that streams of different lengths with equal bytes still differ.
std::uint32_t encodeInto(std::uint32_t crc, const Kel8u* data, std::size_t n, std::vector<Kel8u>& state) {
    GuardedBuffer src(n);
    src.fill(data, n);
    const std::size_t worst = n + n / 16 + 67;
    GuardedBuffer dst(worst);
    Kel32u len = 0;
    auto* st = reinterpret_cast<LZOState_8u*>(state.data());
    EXPECT_EQ(kelsEncodeLZO_8u(src.data(), Kel32u(n), dst.data(), &len, st), kelStatusOk);
    EXPECT_LE(len, worst);
    const Kel32u lenLe = len;
    crc = crcOf(crc, &lenLe, sizeof lenLe);
    return crcOf(crc, dst.data(), len);
}

std::vector<Kel8u> newState() {
    Kel32u size = 0;
    EXPECT_EQ(kelsEncodeLZOGetSize(0, 0, &size), kelStatusOk);
    std::vector<Kel8u> state(size, 0xA5);  // stale bytes: the output must not depend on them
    EXPECT_EQ(kelsEncodeLZOInit_8u(0, 0, reinterpret_cast<LZOState_8u*>(state.data())), kelStatusOk);
    return state;
}

std::uint32_t wholeDigest(const Bytes& data, std::vector<Kel8u>& state) {
    return encodeInto(0, data.data(), data.size(), state);
}

std::uint32_t prefixDigest(const Bytes& data, std::vector<Kel8u>& state) {
    std::uint32_t crc = 0;
    for (std::size_t n = 1; n <= 300 && n <= data.size(); ++n) crc = encodeInto(crc, data.data(), n, state);
    for (std::size_t n : {1000u, 4097u, 20011u, 65543u}) {
        if (n <= data.size()) crc = encodeInto(crc, data.data(), n, state);
    }
    return crc;
}

// Random bytes with copies of earlier stretches at the given distances: each distance just inside and just
// outside a match form's reach, with copies of 3, 4, 8, 9, 33, 34 and 300 bytes.
Bytes repeatsAt(std::mt19937_64& rng) {
    Bytes v;
    for (int round = 0; round < 4; ++round) {
        for (std::size_t dist : {1u, 2u, 7u, 8u, 2047u, 2048u, 2049u, 2050u, 16383u, 16384u, 16385u, 16386u, 49150u,
                                 49151u, 49152u, 49153u}) {
            for (std::size_t len : {3u, 4u, 8u, 9u, 33u, 34u, 300u}) {
                while (v.size() < dist + 64) v.push_back(Kel8u(rng()));
                const std::size_t lits = rng() % 40;
                for (std::size_t k = 0; k < lits; ++k) v.push_back(Kel8u(rng()));
                const std::size_t from = v.size() - dist;
                for (std::size_t k = 0; k < len; ++k) v.push_back(v[from + k]);
            }
        }
    }
    return v;
}

// Random stretches, copies of 1000 to 71000 bytes from up to 49151 back and zero runs of 16 to 156 KiB: matches
// that carry the scan past one or several table refreshes at once, and refreshes that find the window full.
Bytes longCopies(std::mt19937_64& rng) {
    Bytes v;
    while (v.size() < 1500000) {
        const std::size_t lits = 1 + rng() % 5000;
        for (std::size_t k = 0; k < lits; ++k) v.push_back(Kel8u(rng()));
        const std::size_t dist = 1 + rng() % std::min<std::size_t>(v.size(), 49151);
        const std::size_t len = 1000 + rng() % 70000;
        const std::size_t from = v.size() - dist;
        for (std::size_t k = 0; k < len; ++k) v.push_back(v[from + k]);
        if (rng() % 3 == 0) v.insert(v.end(), 16384 + rng() % 140000, Kel8u(0));
    }
    return v;
}

std::vector<std::pair<std::string, Bytes>> syntheticInputs() {
    std::mt19937_64 rng(0x6C7A6F2D64696765ull);  // fixed, not the test seed: the digests depend on it
    std::vector<std::pair<std::string, Bytes>> inputs;
    Bytes random(200000);
    for (auto& b : random) b = Kel8u(rng());
    inputs.emplace_back("random", random);
    inputs.emplace_back("zeros", Bytes(1000000, 0));
    inputs.emplace_back("repeats", repeatsAt(rng));
    // Short random runs between short repeats: literal runs of every length 0 to 300 between matches.
    Bytes runs;
    for (std::size_t t = 0; t <= 300; ++t) {
        for (std::size_t k = 0; k < t; ++k) runs.push_back(Kel8u(rng()));
        for (int k = 0; k < 12; ++k) runs.push_back(Kel8u("matchmatch!?"[k]));
    }
    inputs.emplace_back("runs", runs);
    // Four-letter text: many near matches, collisions and second-slot probes.
    Bytes dna(300000);
    for (auto& b : dna) b = Kel8u("ACGT"[rng() & 3]);
    inputs.emplace_back("dna", dna);
    inputs.emplace_back("long copies", longCopies(rng));
    return inputs;
}

void check(const std::string& kase, std::uint32_t got) {
    kel::test::checkPinnedDigest(kExpected, kase, got);
}

TEST(LzoEncodeDigest, CorpusFilesAndTheirPrefixesUnchanged) {
    std::vector<Kel8u> state = newState();  // one state for all: earlier calls must not leak into later ones
    for (const auto& name : kel::test::corpusFileNames()) {
        const Bytes data = kel::test::readCorpusFile(name);
        ASSERT_FALSE(data.empty()) << name;
        check(name, wholeDigest(data, state));
        check(name + "/prefixes", prefixDigest(data, state));
    }
}

TEST(LzoEncodeDigest, SyntheticInputsUnchanged) {
    std::vector<Kel8u> state = newState();
    for (const auto& [name, data] : syntheticInputs()) {
        check(name, wholeDigest(data, state));
        check(name + "/prefixes", prefixDigest(data, state));
    }
}

}  // namespace

// tests/dc/deflate/fastest_test.cpp - the single-probe Deflate path: code construction (against a literal
// relabelling model), counts, headers, and encoded streams that zlib must restore, across call splits, small
// destinations, separate history and rebased positions.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "dc/deflate/deflate_test_util.h"
#include "dc/deflate/fastest_internal.h"
#include "keldc.h"
#include "primitives/primitives.h"
#include "support/test_util.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using kel::test::corpusFileNames;
using kel::test::makeRng;
using kel::test::readCorpusFile;
using kel::test::seedNote;

constexpr Kel32u kWindow = 32768;
constexpr Kel32u kHashSize = 32768;

struct Codes {
    std::array<DeflateCodeEntry, 288> lit{};  // 286 and 287 stay empty
    std::array<DeflateCodeEntry, 30> dist{};
};

std::vector<Kel32s> emptyHeads(Kel32u n = kHashSize) {
    return std::vector<Kel32s>(n, -32768);
}

// Kraft sum of the used lengths in units of 2^-15, and whether codes are canonical (prefix-free follows from a
// complete Kraft sum plus distinct canonical values).
long kraft(const DeflateCodeEntry* c, int n) {
    long sum = 0;
    for (int i = 0; i < n; ++i) {
        if (c[i].codeLength != 0 && c[i].codeLength <= 15) sum += 1L << (15 - c[i].codeLength);
    }
    return sum;
}

int longest(const DeflateCodeEntry* c, int n) {
    int m = 0;
    for (int i = 0; i < n; ++i) m = std::max(m, int(c[i].codeLength));
    return m;
}

// Lengths by the relabelling merge exactly as the construction is defined: groups are relabelled and every
// member of the merged group gets one more bit, the merged node is inserted before equal weights.
std::vector<int> modelLengths(const std::vector<Kel32s>& counts, int limit) {
    const int n = int(counts.size());
    std::vector<int> len(n);
    for (int k = 0; k < 4096; ++k) {
        std::vector<Kel32s> f(n);
        for (int i = 0; i < n; ++i) {
            const long long v = (long long)counts[i] + k;
            f[i] = v > 0x7FFFFFFF ? 0x7FFFFFFF : (v == 0 ? 1 : Kel32s(v));
        }
        std::vector<int> idx(n), group(n);
        n8_kelsSortIndexAscend_32s_I(f.data(), idx.data(), n);
        for (int i = 0; i < n; ++i) {
            group[i] = i;
            len[i] = 1;
        }
        for (int t = 0; t + 2 < n; ++t) {
            const int a = idx[t], b = idx[t + 1];
            const Kel32s sum = Kel32s(std::min<long long>((long long)f[t] + f[t + 1], 0x7FFFFFFF));
            const int ga = group[a];
            for (int i = 0; i < n; ++i) {
                if (group[i] == ga) group[i] = group[b];
            }
            for (int i = 0; i < n; ++i) {
                if (group[i] == group[b]) ++len[i];
            }
            int p = t + 2;
            for (; p < n && f[p] < sum; ++p) {
                f[p - 1] = f[p];
                idx[p - 1] = idx[p];
            }
            f[p - 1] = sum;
            idx[p - 1] = b;
        }
        if (*std::max_element(len.begin(), len.end()) <= limit) break;
    }
    return len;
}

KelStatus genCodes(const std::vector<Kel32u>& lit, const std::vector<Kel32u>& dist, Codes& c) {
    return kelsDeflateLZ77FastestGenHuffTable_8u(lit.data(), dist.data(), c.lit.data(), c.dist.data());
}

// ---- Code construction ------------------------------------------------------------------------------------------

TEST(DeflateFastestCodes, AllZeroCountsGiveBalancedCompleteCodes) {
    std::vector<Kel32u> lit(286, 0), dist(30, 0);
    Codes c;
    ASSERT_EQ(genCodes(lit, dist, c), kelStatusOk);
    EXPECT_EQ(std::count_if(c.lit.begin(), c.lit.begin() + 286, [](auto e) { return e.codeLength == 8; }), 226);
    EXPECT_EQ(std::count_if(c.lit.begin(), c.lit.begin() + 286, [](auto e) { return e.codeLength == 9; }), 60);
    EXPECT_EQ(std::count_if(c.dist.begin(), c.dist.end(), [](auto e) { return e.codeLength == 4; }), 2);
    EXPECT_EQ(std::count_if(c.dist.begin(), c.dist.end(), [](auto e) { return e.codeLength == 5; }), 28);
    EXPECT_EQ(kraft(c.lit.data(), 286), 1L << 15);
    EXPECT_EQ(kraft(c.dist.data(), 30), 1L << 15);
}

TEST(DeflateFastestCodes, SkewedCountsAreFlattenedUnderTheLimits) {
    // A dominant literal; then doubling counts, which give a chain far deeper than 15 (9 for distances) before
    // the flattening.
    std::vector<Kel32u> lit(286, 0), dist(30, 0);
    lit['e'] = 10000000;
    Codes c;
    ASSERT_EQ(genCodes(lit, dist, c), kelStatusOk);
    EXPECT_EQ(c.lit['e'].codeLength, 1);
    EXPECT_EQ(kraft(c.lit.data(), 286), 1L << 15);

    for (int i = 0; i < 20; ++i) lit[i] = 1u << i;
    for (int i = 0; i < 16; ++i) dist[i] = 1u << i;
    ASSERT_EQ(genCodes(lit, dist, c), kelStatusOk);
    EXPECT_LE(longest(c.lit.data(), 286), 15);
    EXPECT_LE(longest(c.dist.data(), 30), 9);
    EXPECT_EQ(kraft(c.lit.data(), 286), 1L << 15);
    EXPECT_EQ(kraft(c.dist.data(), 30), 1L << 15);
}

TEST(DeflateFastestCodes, ReportsLimitThatFlatteningCannotReach) {
    // Counts up to 2^30 stay skewed after adding 4095: the status says so, the codes are still written.
    std::vector<Kel32u> lit(286, 0), dist(30, 0);
    for (int i = 0; i < 31; ++i) lit[i] = 1u << i;
    lit[40] = 0xFFFFFFFFu;  // beyond the signed range: weighs as 2^31 - 1
    Codes c;
    EXPECT_EQ(genCodes(lit, dist, c), kelStatusCodeLengthLimit);
    EXPECT_GT(longest(c.lit.data(), 286), 15);
    EXPECT_EQ(kraft(c.dist.data(), 30), 1L << 15);

    // Handled as the stream writer does, by halving the counts until the limits are met.
    KelStatus s = kelStatusCodeLengthLimit;
    for (int round = 0; round < 32 && s != kelStatusOk; ++round) {
        for (auto& v : lit) v = (v + 1) >> 1;
        s = genCodes(lit, dist, c);
    }
    ASSERT_EQ(s, kelStatusOk);
    EXPECT_LE(longest(c.lit.data(), 286), 15);
    EXPECT_LE(longest(c.dist.data(), 30), 9);
    EXPECT_EQ(kraft(c.lit.data(), 286), 1L << 15);
}

TEST(DeflateFastestCodes, LengthsMatchRelabellingModelAndCodesAreCanonical) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(51);
    for (int round = 0; round < 40; ++round) {
        const int n = round % 2 ? 286 : 30;
        std::vector<Kel32s> counts(n);
        const int shape = round % 5;
        for (int i = 0; i < n; ++i) {
            // Many equal counts (ties decide the result), zeros, skewed and plain random counts.
            counts[i] = shape == 0   ? Kel32s(rng() % 4)
                        : shape == 1 ? (rng() % 3 ? 0 : Kel32s(rng() % 1000))
                        : shape == 2 ? Kel32s(1u << (rng() % 12))
                        : shape == 3 ? 7
                                     : Kel32s(rng() % 100000);
        }
        if (round == 0) {
            // Fibonacci counts: a chain 29 deep, flattened only after many attempts.
            counts[0] = counts[1] = 1;
            for (int i = 2; i < n; ++i) counts[i] = counts[i - 1] + counts[i - 2];
        }
        const int limit = n == 286 ? 15 : 9;
        std::vector<int> got(n);
        kel::deflate::n8_ownsFastestCodeLengths(counts.data(), n, limit, got.data());
        ASSERT_EQ(got, modelLengths(counts, limit)) << "round " << round;

        // Canonical: codes of one length increase with the symbol, and shorter codes come first.
        std::vector<DeflateCodeEntry> codes(n);
        kel::deflate::n8_ownsFastestCanonicalCodes(got.data(), n, codes.data());
        unsigned next[17] = {}, count[17] = {};
        for (int i = 0; i < n; ++i) ++count[got[i]];
        for (int l = 1, code = 0; l <= 16; ++l) {
            code = (code + int(count[l - 1])) << 1;
            next[l] = unsigned(code);
        }
        for (int i = 0; i < n; ++i) {
            ASSERT_EQ(codes[i].codeLength, got[i]);
            ASSERT_EQ(codes[i].freqOrCode, kel::deflate::n8_reverseBits(next[got[i]]++, got[i]));
        }
    }
}

// ---- Statistics ---------------------------------------------------------------------------------------------------

struct StatResult {
    std::vector<Kel32u> lit = std::vector<Kel32u>(286), dist = std::vector<Kel32u>(30);
    Kel32s consumed = 0;
};

StatResult stats(const Bytes& src, Kel32u flushMode) {
    StatResult r;
    auto heads = emptyHeads();
    const Kel8u* p = src.data();
    Kel32s len = Kel32s(src.size());
    Kel32u pos = 0;
    EXPECT_EQ(kelsDeflateLZ77FastestGetStat_8u(&p, &len, &pos, p, kWindow, heads.data(), kHashSize, r.lit.data(),
                                               r.dist.data(), flushMode),
              kelStatusOk);
    r.consumed = Kel32s(p - src.data());
    EXPECT_EQ(Kel32s(pos), r.consumed);
    EXPECT_EQ(len, Kel32s(src.size()) - r.consumed);
    return r;
}

TEST(DeflateFastestStat, CountsRunOfEqualBytes) {
    const Bytes run(300, 'x');
    StatResult r = stats(run, 2);
    EXPECT_EQ(r.consumed, 300);
    // Literal, match 258 at distance 1, then the final step: a 41-byte match at distance 255 (the newest hashed
    // position is 4).
    std::vector<Kel32u> lit(286), dist(30);
    lit['x'] = 1;
    lit[285] = 1;
    lit[273] = 1;
    dist[0] = 1;
    dist[15] = 1;
    EXPECT_EQ(r.lit, lit);
    EXPECT_EQ(r.dist, dist);

    r = stats(run, 0);
    EXPECT_EQ(r.consumed, 259);  // stops once past end - 258
    EXPECT_EQ(r.lit[285], 1u);
    EXPECT_EQ(r.lit[273], 0u);

    // A final call with three bytes left after the match leaves them uncounted and unconsumed.
    r = stats(Bytes(262, 'x'), 2);
    EXPECT_EQ(r.consumed, 259);
    EXPECT_EQ(r.lit['x'] + r.lit[285], 2u);
}

TEST(DeflateFastestStat, SplitCallsCountLikeOneCall) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(52);
    const Bytes src = kel::test::repetitiveBytes(rng, 70000);
    const StatResult whole = stats(src, 2);
    StatResult split;
    auto heads = emptyHeads();
    const Kel8u* p = src.data();
    Kel32u pos = 0;
    for (std::size_t avail = 1000; p < src.data() + src.size();) {
        avail = std::min(src.size(), avail + 777);
        Kel32s len = Kel32s(src.data() + avail - p);
        ASSERT_EQ(kelsDeflateLZ77FastestGetStat_8u(&p, &len, &pos, p, kWindow, heads.data(), kHashSize,
                                                   split.lit.data(), split.dist.data(), avail == src.size() ? 2 : 0),
                  kelStatusOk);
        if (avail == src.size()) break;
    }
    EXPECT_EQ(split.lit, whole.lit);
    EXPECT_EQ(split.dist, whole.dist);
}

// ---- Headers ------------------------------------------------------------------------------------------------------

TEST(DeflateFastestHeader, RunLengthCodingUsesAllThreeRunSymbols) {
    std::vector<DeflateCodeEntry> c;
    for (int v : {5, 5, 5, 5, 5, 0, 0, 0, 0, 0, 7, 0, 0, 3, 3, 3}) c.push_back({0, Kel16u(v)});
    for (int k = 0; k < 20; ++k) c.push_back({0, 0});
    std::vector<kel::deflate::CodeLengthRun> out(c.size());
    out.resize(std::size_t(kel::deflate::n8_ownsFastestRunLengths(c.data(), int(c.size()), out.data())));
    const std::vector<std::pair<int, int>> want = {{5, 0}, {16, 1}, {17, 2}, {7, 0}, {0, 0},
                                                   {0, 0}, {3, 0},  {3, 0},  {3, 0}, {18, 9}};
    ASSERT_EQ(out.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(out[i].sym, want[i].first) << i;
        EXPECT_EQ(out[i].extra, want[i].second) << i;
    }
}

// Reads n bits from bit offset `at` of a byte string, least significant first.
unsigned readBits(const Bytes& b, std::size_t at, unsigned n) {
    unsigned v = 0;
    for (unsigned k = 0; k < n; ++k, ++at) v |= unsigned((b[at / 8] >> (at % 8)) & 1) << k;
    return v;
}

TEST(DeflateFastestHeader, PrecomputedHeaderDeclaresAllCodes) {
    std::vector<Kel32u> lit(286, 0), dist(30, 0);
    Codes c;
    ASSERT_EQ(genCodes(lit, dist, c), kelStatusOk);
    Bytes h(286);
    Kel32s bytes = 0, bits = 0;
    ASSERT_EQ(kelsDeflateLZ77FastestGenHeader_8u(c.lit.data(), c.dist.data(), h.data(), &bytes, &bits), kelStatusOk);
    EXPECT_EQ(bytes, (bits + 7) / 8);
    EXPECT_EQ(readBits(h, 0, 3), 5u);   // final, dynamic
    EXPECT_EQ(readBits(h, 3, 5), 29u);  // 286 literal/length codes
    EXPECT_EQ(readBits(h, 8, 5), 29u);  // 30 distance codes

    c.lit[20].codeLength = 16;
    EXPECT_EQ(kelsDeflateLZ77FastestGenHeader_8u(c.lit.data(), c.dist.data(), h.data(), &bytes, &bits),
              kelStatusBadArgument);
}

// ---- Encoding -----------------------------------------------------------------------------------------------------

// Appends the end-of-block code to the pending bits and the last partial byte to out.
void finishBlock(Bytes& out, Kel16u pending, Kel32u pendingCount, DeflateCodeEntry eob) {
    std::uint64_t acc = pending & ((1u << pendingCount) - 1);
    unsigned n = pendingCount;
    acc |= std::uint64_t(eob.freqOrCode) << n;
    n += eob.codeLength;
    for (; n >= 8; n -= 8, acc >>= 8) out.push_back(std::uint8_t(acc));
    if (n) out.push_back(std::uint8_t(acc));
}

constexpr DeflateCodeEntry kFixedEob = {0, 7};

enum class Mode { Fixed, Spot, Precomputed };

// A whole single-block raw Deflate stream from the encoder, fed `chunk` new bytes per call (0: all at once) into a
// destination of `room` bytes emptied after every call. Below 8 bytes of room a call may make no progress (an item
// does not fit beside the 16 pending bits); the next call then gets 8 bytes.
struct Encoded {
    Bytes out;
    Codes codes;
    int calls = 0;
};

Encoded encode(const Bytes& src, Mode mode, std::size_t chunk = 0, Kel32u room = 0) {
    Encoded e;
    Bytes header(286);
    Kel32s headerBits = 0;
    if (mode != Mode::Fixed) {
        StatResult st = stats(src, 2);
        EXPECT_EQ(genCodes(st.lit, st.dist, e.codes), kelStatusOk);
        Kel32s headerBytes = 0;
        EXPECT_EQ(kelsDeflateLZ77FastestGenHeader_8u(e.codes.lit.data(), e.codes.dist.data(), header.data(),
                                                     &headerBytes, &headerBits),
                  kelStatusOk);
    }
    const DeflateCodeEntry* lit = mode == Mode::Fixed ? nullptr : e.codes.lit.data();
    const DeflateCodeEntry* dist = mode == Mode::Fixed ? nullptr : e.codes.dist.data();
    const std::size_t step = chunk ? chunk : src.size();
    if (room == 0) room = Kel32u(src.size() * 2 + 1024);
    auto heads = emptyHeads();
    Bytes dst(room + 1024);
    Kel16u pending = mode == Mode::Fixed ? 3 : 5;  // final block, type 1 or 2
    Kel32u pendingCount = 3;
    Kel32u pos = 0;
    std::size_t done = 0, avail = 0;
    bool stalled = false;
    do {
        avail = std::min(src.size(), std::max(avail, done) + step);
        const Kel8u* p = src.data() + done;
        Kel32s len = Kel32s(avail - done);
        Kel32u o = 0;
        // The first call gets room for the header.
        Kel32u thisRoom = e.calls == 0 && mode != Mode::Fixed ? std::max<Kel32u>(room, 400) : room;
        if (stalled) thisRoom = std::max<Kel32u>(room, 8);
        const KelStatus s =
            mode == Mode::Precomputed
                ? kelsDeflateLZ77FastestPrecompHeader_8u(&p, &len, &pos, p, kWindow, heads.data(), kHashSize, &pending,
                                                         &pendingCount, dst.data(), thisRoom, &o, lit, dist,
                                                         header.data(), headerBits, avail == src.size() ? 2 : 0)
                : kelsDeflateLZ77Fastest_8u(&p, &len, &pos, p, kWindow, heads.data(), kHashSize, &pending,
                                            &pendingCount, dst.data(), thisRoom, &o, lit, dist,
                                            avail == src.size() ? 2 : 0);
        EXPECT_EQ(s, kelStatusOk);
        if (s != kelStatusOk) break;
        EXPECT_LE(o, thisRoom);
        EXPECT_LE(pendingCount, 16u);
        e.out.insert(e.out.end(), dst.data(), dst.data() + o);
        stalled = o == 0 && p == src.data() + done && avail == src.size();
        EXPECT_FALSE(stalled && thisRoom >= 8);
        done = std::size_t(p - src.data());
        EXPECT_EQ(pos, done);
        if (++e.calls > 20000000) break;
    } while (done < src.size());
    finishBlock(e.out, pending, pendingCount, mode == Mode::Fixed ? kFixedEob : e.codes.lit[256]);
    return e;
}

void expectRestores(const Bytes& src, const Bytes& stream, const char* what) {
    Bytes back;
    ASSERT_TRUE(kel::test::zlibInflate(stream, -15, back)) << what;
    ASSERT_EQ(back.size(), src.size()) << what;
    EXPECT_TRUE(back == src) << what;
}

TEST(DeflateFastestEncode, FixedCodesOnRepeatedTriple) {
    const Bytes src = {'a', 'b', 'c', 'a', 'b', 'c', 'a', 'b', 'c'};
    const Encoded e = encode(src, Mode::Fixed);
    // Block type bits, literals a b c (8 bits each), length 6 (symbol 260, 7 bits), distance 3 (code 2, 5 bits),
    // end of block: 3 + 24 + 7 + 5 + 7 = 46 bits.
    EXPECT_EQ(e.out.size(), 6u);
    std::size_t at = 3;
    for (unsigned ch : {'a', 'b', 'c'}) {
        EXPECT_EQ(readBits(e.out, at, 8), kel::deflate::n8_reverseBits(0x30 + ch, 8));
        at += 8;
    }
    EXPECT_EQ(readBits(e.out, at, 7), kel::deflate::n8_reverseBits(260 - 256, 7));
    EXPECT_EQ(readBits(e.out, at + 7, 5), kel::deflate::n8_reverseBits(2, 5));
    expectRestores(src, e.out, "abcabcabc");
}

TEST(DeflateFastestEncode, CorpusRestoresInEveryMode) {
    for (const auto& name : corpusFileNames()) {
        const Bytes src = readCorpusFile(name);
        ASSERT_FALSE(src.empty()) << name;
        for (Mode m : {Mode::Fixed, Mode::Spot, Mode::Precomputed}) {
            SCOPED_TRACE(name + " mode " + std::to_string(int(m)));
            expectRestores(src, encode(src, m).out, name.c_str());
        }
    }
}

TEST(DeflateFastestEncode, SplitCallsGiveTheSameBits) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(53);
    const Bytes src = kel::test::repetitiveBytes(rng, 100000);
    for (Mode m : {Mode::Fixed, Mode::Spot, Mode::Precomputed}) {
        const Bytes whole = encode(src, m).out;
        for (std::size_t chunk : {259, 1000, 4096, 65536}) {
            EXPECT_EQ(encode(src, m, chunk).out, whole) << "mode " << int(m) << " chunk " << chunk;
        }
    }
    // Short inputs above 258 bytes split once: flushMode 0, then 2.
    for (std::size_t n : {259, 300, 600}) {
        const Bytes s(src.begin(), src.begin() + long(n));
        EXPECT_EQ(encode(s, Mode::Spot, n - 1).out, encode(s, Mode::Spot).out) << n;
    }
}

TEST(DeflateFastestEncode, SmallDestinationsRestore) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(54);
    const Bytes src = kel::test::repetitiveBytes(rng, 20000);
    for (Mode m : {Mode::Fixed, Mode::Spot, Mode::Precomputed}) {
        const Bytes whole = encode(src, m).out;
        for (Kel32u room : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 9u, 16u, 100u}) {
            const Encoded e = encode(src, m, 0, room);
            EXPECT_EQ(e.out, whole) << "mode " << int(m) << " room " << room;
        }
    }
}

TEST(DeflateFastestEncode, ShortAndEdgeInputsRestore) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(55);
    for (std::size_t n : {1, 2, 3, 4, 5, 8, 100, 257, 258, 259, 260, 261, 262, 263, 515, 516, 517}) {
        for (int shape = 0; shape < 3; ++shape) {
            Bytes src = shape == 0   ? Bytes(n, 0)
                        : shape == 1 ? kel::test::randomBytes(rng, n)
                                     : kel::test::repetitiveBytes(rng, n);
            for (Mode m : {Mode::Fixed, Mode::Spot, Mode::Precomputed}) {
                SCOPED_TRACE("n " + std::to_string(n) + " shape " + std::to_string(shape));
                expectRestores(src, encode(src, m).out, "short");
                expectRestores(src, encode(src, m, 0, 3).out, "short, small room");
            }
        }
    }
}

TEST(DeflateFastestEncode, GuardedDestinationIsNeverOverrun) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(56);
    const Bytes src = kel::test::repetitiveBytes(rng, 30000);
    Codes c;
    {
        // Long codes make items of up to 42 bits, beside up to 15 pending bits: items that need six bytes.
        std::vector<Kel32u> lit(286, 0), dist(30, 1);
        for (int i = 0; i < 20; ++i) lit[i] = 1u << (i % 13);
        ASSERT_EQ(genCodes(lit, dist, c), kelStatusOk);
    }
    for (Mode m : {Mode::Fixed, Mode::Spot}) {
        for (Kel32u room = 1; room <= 12; ++room) {
            SCOPED_TRACE("room " + std::to_string(room));
            kel::test::GuardedBuffer small(room), eight(8);
            auto heads = emptyHeads();
            Kel16u pending = m == Mode::Fixed ? 3 : 0;
            Kel32u pendingCount = m == Mode::Fixed ? 3 : 0;
            Kel32u pos = m == Mode::Fixed ? 0 : 1;  // a dynamic block continued past position 0: no header
            const Kel8u* p = src.data() + pos;
            Kel32s len = Kel32s(src.size() - pos);
            Bytes out;
            for (int calls = 0; len > 0 && calls < 1000000; ++calls) {
                for (kel::test::GuardedBuffer* dst : {&small, &eight}) {
                    Kel32u o = 0;
                    const Kel8u* before = p;
                    ASSERT_EQ(kelsDeflateLZ77Fastest_8u(&p, &len, &pos, p, kWindow, heads.data(), kHashSize, &pending,
                                                        &pendingCount, dst->data(), Kel32u(dst->size()), &o,
                                                        m == Mode::Fixed ? nullptr : c.lit.data(),
                                                        m == Mode::Fixed ? nullptr : c.dist.data(), 2),
                              kelStatusOk);
                    ASSERT_LE(pendingCount, 16u);
                    out.insert(out.end(), dst->data(), dst->data() + o);
                    if (o != 0 || p != before) break;  // progress; otherwise retry with 8 bytes
                    ASSERT_LT(dst->size(), 8u);
                }
            }
            ASSERT_EQ(len, 0);
            if (m == Mode::Fixed) {
                finishBlock(out, pending, pendingCount, kFixedEob);
                expectRestores(src, out, "guarded");
            }
        }
    }
}

TEST(DeflateFastestEncode, SeparateHistoryGivesTheSameBits) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(57);
    const Bytes src = kel::test::repetitiveBytes(rng, 80000);
    const Bytes whole = encode(src, Mode::Fixed, 40000).out;

    // The same two calls, the second reading its history from a copy of the first 40000 bytes.
    const Bytes history(src.begin(), src.begin() + 40000);
    const Bytes rest(src.begin() + 40000, src.end());
    auto heads = emptyHeads();
    Bytes dst(200000), out;
    Kel16u pending = 3;
    Kel32u pendingCount = 3, pos = 0, o = 0;
    const Kel8u* p = history.data();
    Kel32s len = Kel32s(history.size());
    ASSERT_EQ(kelsDeflateLZ77Fastest_8u(&p, &len, &pos, p, kWindow, heads.data(), kHashSize, &pending, &pendingCount,
                                        dst.data(), Kel32u(dst.size()), &o, nullptr, nullptr, 0),
              kelStatusOk);
    // The unconsumed tail of the first piece is presented again in front of the rest.
    Bytes second(history.begin() + (p - history.data()), history.end());
    second.insert(second.end(), rest.begin(), rest.end());
    const Kel8u* histEnd = p;
    p = second.data();
    len = Kel32s(second.size());
    ASSERT_EQ(kelsDeflateLZ77Fastest_8u(&p, &len, &pos, histEnd, kWindow, heads.data(), kHashSize, &pending,
                                        &pendingCount, dst.data(), Kel32u(dst.size()), &o, nullptr, nullptr, 2),
              kelStatusOk);
    ASSERT_EQ(len, 0);
    out.assign(dst.begin(), dst.begin() + o);
    finishBlock(out, pending, pendingCount, kFixedEob);
    EXPECT_EQ(out, whole);
}

// A source that is its own history runs loops specialised by table and window size; a separate history runs the
// general loops. Both must count and encode alike for every size, including table sizes that are not powers of two
// (their masks drop hash bits unevenly), over text, binary data and runs.
TEST(DeflateFastestEncode, ContiguousLoopsMatchTheGeneralOnesForEverySize) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(59);
    const Bytes inputs[] = {readCorpusFile("alice29.txt"), readCorpusFile("kppkn.gtb"),
                            kel::test::repetitiveBytes(rng, 100000)};
    const std::pair<Kel32u, Kel32u> sizes[] = {{32768, 32768}, {8192, 32768}, {65536, 32768}, {40000, 32768},
                                               {1000, 32768},  {32768, 4096}, {8192, 1024}};
    const Kel8u elsewhere[1] = {0};  // a separate, empty history
    for (const Bytes& src : inputs) {
        for (auto [hashSize, window] : sizes) {
            SCOPED_TRACE(std::to_string(src.size()) + " bytes, " + std::to_string(hashSize) + " heads, window " +
                         std::to_string(window));
            StatResult counts[2];
            Bytes bits[2];
            for (int general = 0; general < 2; ++general) {
                auto heads = emptyHeads(hashSize);
                const Kel8u* p = src.data();
                Kel32s len = Kel32s(src.size());
                Kel32u pos = 0;
                ASSERT_EQ(kelsDeflateLZ77FastestGetStat_8u(&p, &len, &pos, general ? elsewhere : p, window,
                                                           heads.data(), hashSize, counts[general].lit.data(),
                                                           counts[general].dist.data(), 2),
                          kelStatusOk);
                Codes c;
                ASSERT_EQ(genCodes(counts[general].lit, counts[general].dist, c), kelStatusOk);
                heads = emptyHeads(hashSize);
                p = src.data();
                len = Kel32s(src.size());
                pos = 0;
                Bytes dst(2 * src.size() + 1024);
                Kel16u pending = 5;
                Kel32u pendingCount = 3, o = 0;
                ASSERT_EQ(kelsDeflateLZ77Fastest_8u(&p, &len, &pos, general ? elsewhere : p, window, heads.data(),
                                                    hashSize, &pending, &pendingCount, dst.data(), Kel32u(dst.size()),
                                                    &o, c.lit.data(), c.dist.data(), 2),
                          kelStatusOk);
                ASSERT_EQ(len, 0);
                bits[general].assign(dst.begin(), dst.begin() + o);
                finishBlock(bits[general], pending, pendingCount, c.lit[256]);
            }
            EXPECT_EQ(counts[0].lit, counts[1].lit);
            EXPECT_EQ(counts[0].dist, counts[1].dist);
            EXPECT_EQ(bits[0], bits[1]);
        }
    }
}

TEST(DeflateFastestEncode, PositionsNear2GiBAreRebased) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(58);
    const Bytes src = kel::test::repetitiveBytes(rng, 50000);
    auto heads = emptyHeads();
    Bytes dst(100000);
    Kel16u pending = 3;
    Kel32u pendingCount = 3, pos = 0x7FFF0000u, o = 0;
    const Kel8u* p = src.data();
    Kel32s len = Kel32s(src.size());
    ASSERT_EQ(kelsDeflateLZ77Fastest_8u(&p, &len, &pos, p, kWindow, heads.data(), kHashSize, &pending, &pendingCount,
                                        dst.data(), Kel32u(dst.size()), &o, nullptr, nullptr, 2),
              kelStatusOk);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(pos, kWindow + src.size());
    Bytes out(dst.begin(), dst.begin() + o);
    finishBlock(out, pending, pendingCount, kFixedEob);
    expectRestores(src, out, "rebased");
}

// ---- Positions near 2^31 ----------------------------------------------------------------------------------------

// Positions that a stream of small blocks reaches after about 2 GiB. With 16 KiB of input the positions do not
// shift at the first two (2147417112 + 32768 + 16384 stays below 2^31 - 1 - 16384), so the calls must run right up
// to 2^31 - 32768; at the third they shift (the position becomes windowSize, for the counting pass as well).
struct HighStart {
    Kel32u pos;
    bool shifts;
};
constexpr HighStart kHighStarts[] = {{2147401728u, false}, {2147417112u, false}, {2147418112u, true}};
constexpr std::size_t kHighHistory = 32768, kHighInput = 16384;

// The head table as earlier calls leave it: positions start - kHighHistory to start - 1 of buf hashed.
std::vector<Kel32s> headsBefore(const Bytes& buf, Kel32u start) {
    auto heads = emptyHeads();
    std::vector<Kel32s> chain(kWindow, -32768);
    EXPECT_EQ(kelsDeflateUpdateHash_8u(buf.data(), start - Kel32u(kHighHistory), Kel32u(kHighHistory) + 3, heads.data(),
                                       kHashSize, chain.data(), kWindow, 1),
              kelStatusOk);
    return heads;
}

struct HighRun {
    StatResult counts;
    Bytes out;                     // the encoder's block
    std::vector<Kel32s> consumed;  // per call
    Kel32u endPos = 0;
};

// Counts buf[kHighHistory..] from position `start`: one call with `flush`, then final calls until everything is
// consumed or a call consumes nothing.
HighRun statsFrom(const Bytes& buf, Kel32u start, Kel32u flush) {
    HighRun r;
    auto heads = headsBefore(buf, start);
    const Kel8u* p = buf.data() + kHighHistory;
    Kel32s len = Kel32s(kHighInput);
    Kel32u pos = start;
    for (Kel32u f = flush; len > 0 && r.consumed.size() < 8; f = 2) {
        const Kel8u* before = p;
        EXPECT_EQ(kelsDeflateLZ77FastestGetStat_8u(&p, &len, &pos, p, kWindow, heads.data(), kHashSize,
                                                   r.counts.lit.data(), r.counts.dist.data(), f),
                  kelStatusOk);
        r.consumed.push_back(Kel32s(p - before));
        if (p == before) break;
    }
    r.endPos = pos;
    return r;
}

// Encodes buf[kHighHistory..] from position `start` as one final block, with fixed codes (codes null) or with the
// given codes and header, which the caller writes at any position but 0; calls as for statsFrom.
HighRun encodeFrom(const Bytes& buf, Kel32u start, Kel32u flush, const Codes* codes, const Bytes& header,
                   Kel32s headerBits) {
    HighRun r;
    auto heads = headsBefore(buf, start);
    Kel16u pending = 3;  // final block, fixed codes
    Kel32u pendingCount = 3;
    if (codes != nullptr) {
        r.out.assign(header.begin(), header.begin() + headerBits / 8);
        pendingCount = Kel32u(headerBits % 8);
        pending = Kel16u(header[std::size_t(headerBits / 8)] & ((1u << pendingCount) - 1));
    }
    const Kel8u* p = buf.data() + kHighHistory;
    Kel32s len = Kel32s(kHighInput);
    Kel32u pos = start;
    Bytes dst(4 * kHighInput);
    for (Kel32u f = flush; len > 0 && r.consumed.size() < 8; f = 2) {
        const Kel8u* before = p;
        Kel32u o = 0;
        EXPECT_EQ(
            kelsDeflateLZ77Fastest_8u(&p, &len, &pos, p, kWindow, heads.data(), kHashSize, &pending, &pendingCount,
                                      dst.data(), Kel32u(dst.size()), &o, codes ? codes->lit.data() : nullptr,
                                      codes ? codes->dist.data() : nullptr, f),
            kelStatusOk);
        r.out.insert(r.out.end(), dst.begin(), dst.begin() + o);
        r.consumed.push_back(Kel32s(p - before));
        if (p == before) break;
    }
    finishBlock(r.out, pending, pendingCount, codes ? codes->lit[256] : kFixedEob);
    r.endPos = pos;
    return r;
}

TEST(DeflateFastestEncode, PositionsNear2To31ConsumeEverythingLikeLowPositions) {
    SCOPED_TRACE(seedNote());
    auto rng = makeRng(59);
    const Bytes buf = kel::test::repetitiveBytes(rng, kHighHistory + kHighInput);
    const Bytes history(buf.begin(), buf.begin() + long(kHighHistory));
    const Bytes input(buf.begin() + long(kHighHistory), buf.end());
    for (const HighStart& hs : kHighStarts) {
        // The same stream low down: every distance and window test is relative, so counts and bits must agree.
        const Kel32u low = hs.pos % kWindow + 2 * kWindow;
        const Kel32u shiftedEnd = (hs.shifts ? kWindow : hs.pos) + Kel32u(kHighInput);
        for (Kel32u flush : {0u, 2u}) {
            SCOPED_TRACE("from " + std::to_string(hs.pos) + " flush " + std::to_string(flush));
            const HighRun stats = statsFrom(buf, hs.pos, flush), statsLow = statsFrom(buf, low, flush);
            const Kel32s counted = std::accumulate(stats.consumed.begin(), stats.consumed.end(), 0);
            EXPECT_GE(counted, Kel32s(kHighInput) - 3);  // a final call may leave three bytes uncounted
            EXPECT_EQ(stats.consumed, statsLow.consumed);
            EXPECT_EQ(stats.counts.lit, statsLow.counts.lit);
            EXPECT_EQ(stats.counts.dist, statsLow.counts.dist);
            EXPECT_EQ(stats.endPos, shiftedEnd - Kel32u(Kel32s(kHighInput) - counted));

            Codes codes;
            ASSERT_EQ(genCodes(stats.counts.lit, stats.counts.dist, codes), kelStatusOk);
            Bytes header(286);
            Kel32s headerBytes = 0, headerBits = 0;
            ASSERT_EQ(kelsDeflateLZ77FastestGenHeader_8u(codes.lit.data(), codes.dist.data(), header.data(),
                                                         &headerBytes, &headerBits),
                      kelStatusOk);
            for (const Codes* c : std::initializer_list<const Codes*>{nullptr, &codes}) {
                SCOPED_TRACE(c ? "dynamic codes" : "fixed codes");
                const HighRun high = encodeFrom(buf, hs.pos, flush, c, header, headerBits);
                const HighRun ref = encodeFrom(buf, low, flush, c, header, headerBits);
                EXPECT_EQ(std::accumulate(high.consumed.begin(), high.consumed.end(), 0), Kel32s(kHighInput));
                EXPECT_EQ(high.consumed, ref.consumed);
                EXPECT_EQ(high.endPos, shiftedEnd);
                EXPECT_TRUE(high.out == ref.out);
                Bytes back;
                ASSERT_TRUE(kel::test::zlibInflate(high.out, -15, back, &history));
                EXPECT_TRUE(back == input);
            }
        }
    }
}

TEST(DeflateFastestEncode, SpotHeaderTrimsCounts) {
    // Only literals a-c: the distance code keeps one symbol, lengths up to 260.
    std::vector<Kel32u> lit(286, 0), dist(30, 0);
    Codes c;
    ASSERT_EQ(genCodes(lit, dist, c), kelStatusOk);
    for (int i = 261; i < 286; ++i) c.lit[i].codeLength = 0;
    for (int i = 1; i < 30; ++i) c.dist[i].codeLength = 0;
    const Bytes src = {'a', 'b', 'c', 'c'};
    auto heads = emptyHeads();
    Bytes dst(1000);
    Kel16u pending = 5;
    Kel32u pendingCount = 3, pos = 0, o = 0;
    const Kel8u* p = src.data();
    Kel32s len = 4;
    ASSERT_EQ(kelsDeflateLZ77Fastest_8u(&p, &len, &pos, p, kWindow, heads.data(), kHashSize, &pending, &pendingCount,
                                        dst.data(), Kel32u(dst.size()), &o, c.lit.data(), c.dist.data(), 2),
              kelStatusOk);
    EXPECT_EQ(readBits(dst, 3, 5), 261u - 257);
    EXPECT_EQ(readBits(dst, 8, 5), 0u);
}

TEST(DeflateFastestEncode, ArgumentChecksInOrder) {
    const Bytes src(1000, 'q');
    auto heads = emptyHeads();
    Bytes dst(64, 0xEE);
    Codes c;
    std::vector<Kel32u> zero(286);
    ASSERT_EQ(genCodes(zero, zero, c), kelStatusOk);
    const Bytes header(286);
    auto call = [&](Kel32u dstPos, Kel32u dstLen, const DeflateCodeEntry* lit, const DeflateCodeEntry* dist,
                    const Kel8u* hdr, Kel32s hdrBits, Kel32u pendingCount = 3, Kel32u window = kWindow) {
        const Kel8u* p = src.data();
        Kel32s len = Kel32s(src.size());
        Kel32u pos = 0, o = dstPos;
        Kel16u pending = 5;
        const KelStatus s =
            kelsDeflateLZ77FastestPrecompHeader_8u(&p, &len, &pos, p, window, heads.data(), kHashSize, &pending,
                                                   &pendingCount, dst.data(), dstLen, &o, lit, dist, hdr, hdrBits, 2);
        if (s != kelStatusOk) {
            EXPECT_EQ(p, src.data());
            EXPECT_EQ(o, dstPos);
        }
        return s;
    };
    EXPECT_EQ(call(0, 64, nullptr, nullptr, nullptr, 0, 3, 100), kelStatusBadSize);
    EXPECT_EQ(call(64, 64, nullptr, nullptr, nullptr, 0), kelStatusBadSize);  // *pDstPos == dstLen
    EXPECT_EQ(call(0, 64, c.lit.data(), nullptr, nullptr, 0), kelStatusNullPointer);
    EXPECT_EQ(call(0, 64, c.lit.data(), c.dist.data(), header.data(), 0), kelStatusBadSize);
    EXPECT_EQ(call(0, 64, nullptr, c.dist.data(), nullptr, 0), kelStatusNullPointer);
    EXPECT_EQ(call(0, 64, nullptr, nullptr, header.data(), 8), kelStatusNullPointer);
    EXPECT_EQ(call(0, 64, nullptr, nullptr, nullptr, 0, 17), kelStatusBadArgument);
    EXPECT_TRUE(std::all_of(dst.begin(), dst.end(), [](std::uint8_t b) { return b == 0xEE; }));
    // A header that does not fit its room.
    EXPECT_EQ(call(0, 4, c.lit.data(), c.dist.data(), nullptr, 0), kelStatusBadSize);
    EXPECT_EQ(call(60, 64, c.lit.data(), c.dist.data(), header.data(), 100), kelStatusBadSize);
    EXPECT_EQ(std::all_of(heads.begin(), heads.end(), [](Kel32s h) { return h == -32768; }), true);

    const Kel8u* p = nullptr;
    Kel32s len = 0;
    Kel32u pos = 0, o = 0, n = 0;
    Kel16u bits = 0;
    EXPECT_EQ(kelsDeflateLZ77Fastest_8u(&p, &len, &pos, src.data(), kWindow, heads.data(), kHashSize, &bits, &n,
                                        dst.data(), 64, &o, nullptr, nullptr, 2),
              kelStatusNullPointer);
    std::vector<Kel32u> counts(286);
    EXPECT_EQ(kelsDeflateLZ77FastestGetStat_8u(&p, &len, &pos, src.data(), kWindow, heads.data(), kHashSize,
                                               counts.data(), counts.data(), 2),
              kelStatusNullPointer);
    EXPECT_EQ(kelsDeflateLZ77FastestGenHuffTable_8u(counts.data(), nullptr, c.lit.data(), c.dist.data()),
              kelStatusNullPointer);
}

}  // namespace

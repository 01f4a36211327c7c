// tests/dc/deflate/lz77_test.cpp - the Deflate matchers: items that rebuild the input at every level and in any
// piece size, the bounds near the end of input, argument checks, dictionaries and hash loading, rebasing, and the
// vector kernels against their scalar twins.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

#include "dc/deflate/deflate_internal.h"
#include "dc/deflate/deflate_tables.h"
#include "dc/deflate/deflate_test_util.h"
#include "dc/deflate/fastest_internal.h"
#include "keldc.h"
#include "support/test_util.h"

// The public structs' layout is part of the interface.
static_assert(sizeof(DeflateCodeEntry) == 4 && offsetof(DeflateCodeEntry, freqOrCode) == 0 &&
              offsetof(DeflateCodeEntry, codeLength) == 2);
static_assert(sizeof(DeflateMatchParams) == 16 && offsetof(DeflateMatchParams, maxChain) == 0 &&
              offsetof(DeflateMatchParams, goodLength) == 4 && offsetof(DeflateMatchParams, niceLength) == 8 &&
              offsetof(DeflateMatchParams, lazyLimit) == 12);

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr Kel32s kEmpty = -32768;

// Levels whose matcher is the 3-byte single-probe mode.
bool isThreeByteLevel(int level) {
    return level % 10 == 0;
}

// Hash tables and counts of one stream.
struct Tables {
    Kel32u windowSize, hashSize;
    std::vector<Kel32s> heads, chain;
    std::array<DeflateCodeEntry, 286> lit{};
    std::array<DeflateCodeEntry, 30> dist{};

    explicit Tables(Kel32u ws = 32768, Kel32u hs = 32768)
        : windowSize(ws), hashSize(hs), heads(hs, kEmpty), chain(ws, kEmpty) {}
    bool operator==(const Tables& o) const {
        auto same = [](const auto& a, const auto& b) {
            return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                              [](const auto& x, const auto& y) { return std::memcmp(&x, &y, sizeof x) == 0; });
        };
        return heads == o.heads && chain == o.chain && same(lit, o.lit) && same(dist, o.dist);
    }
};

struct Items {
    Bytes lit;
    std::vector<Kel16u> dist;
    bool operator==(const Items& o) const { return lit == o.lit && dist == o.dist; }
};

// One matcher call with the common arguments bound; the last two are the item room and the flush mode.
using Matcher =
    std::function<KelStatus(const Kel8u**, Kel32s*, Kel32u*, const Kel8u*, Tables&, Kel8u*, Kel16u*, Kel32s*, Kel32u)>;

Matcher levelMatcher(Kel32u level) {
    return [level](const Kel8u** pp, Kel32s* len, Kel32u* pos, const Kel8u* hist, Tables& t, Kel8u* lo, Kel16u* dO,
                   Kel32s* room, Kel32u flush) {
        return kelsDeflateLZ77_8u(pp, len, pos, hist, t.windowSize, t.heads.data(), t.chain.data(), t.hashSize,
                                  t.lit.data(), t.dist.data(), lo, dO, room, level, flush);
    };
}

using ParamsFn = KelStatus (*)(const Kel8u**, Kel32s*, Kel32u*, const Kel8u*, Kel32u, Kel32s*, Kel32s*, Kel32u,
                               DeflateCodeEntry*, DeflateCodeEntry*, Kel8u*, Kel16u*, Kel32s*,
                               const DeflateMatchParams*, Kel32u);

Matcher paramsMatcher(ParamsFn fn, DeflateMatchParams mp) {
    return [fn, mp](const Kel8u** pp, Kel32s* len, Kel32u* pos, const Kel8u* hist, Tables& t, Kel8u* lo, Kel16u* dO,
                    Kel32s* room, Kel32u flush) {
        return fn(pp, len, pos, hist, t.windowSize, t.heads.data(), t.chain.data(), t.hashSize, t.lit.data(),
                  t.dist.data(), lo, dO, room, &mp, flush);
    };
}

// Compresses data[start..] as a stream fed in pieces of `piece` bytes (the last call flushes), the way a
// compressor does: each call gets everything not yet consumed, with the bytes before it as history.
Items runStream(const Matcher& m, const Bytes& data, Tables& t, std::size_t piece, Kel32s room = 4096,
                std::size_t start = 0, Kel32u firstPos = 0) {
    Items items;
    std::size_t done = start, avail = start;
    Kel32u pos = firstPos;
    Bytes lo(std::size_t(std::max(room, 1)));
    std::vector<Kel16u> dO(lo.size());
    for (int guard = 0; guard < 1 << 22; ++guard) {
        avail = std::min(data.size(), avail + piece);
        const bool last = avail == data.size();
        const Kel8u* p = data.data() + done;
        Kel32s len = Kel32s(avail - done), r = room;
        const KelStatus st = m(&p, &len, &pos, p, t, lo.data(), dO.data(), &r, last ? 2 : 0);
        EXPECT_EQ(st, kelStatusOk);
        const std::size_t n = std::size_t(room - r);
        items.lit.insert(items.lit.end(), lo.begin(), lo.begin() + long(n));
        items.dist.insert(items.dist.end(), dO.begin(), dO.begin() + long(n));
        EXPECT_EQ(std::size_t(p - data.data()) - done, std::size_t(Kel32s(avail - done) - len));
        done = std::size_t(p - data.data());
        if (last && done == data.size()) break;
        if (st != kelStatusOk) break;
    }
    return items;
}

// Rebuilds the bytes from items, after the given history.
Bytes expand(const Items& items, const Bytes& history = {}) {
    Bytes out = history;
    for (std::size_t i = 0; i < items.lit.size(); ++i) {
        if (items.dist[i] == 0) {
            out.push_back(items.lit[i]);
            continue;
        }
        const std::size_t d = items.dist[i], len = items.lit[i] + 3u;
        if (d > out.size()) return {};
        for (std::size_t k = 0; k < len; ++k) out.push_back(out[out.size() - d]);
    }
    return Bytes(out.begin() + long(history.size()), out.end());
}

// The counts the items must have produced.
void expectCountsMatch(const Items& items, const Tables& t) {
    std::array<unsigned, 286> lit{};
    std::array<unsigned, 30> dist{};
    for (std::size_t i = 0; i < items.lit.size(); ++i) {
        if (items.dist[i] == 0) {
            ++lit[items.lit[i]];
        } else {
            ++lit[257 + kel::deflate::litCodeTable[items.lit[i]]];
            const unsigned d1 = items.dist[i] - 1u;
            ++dist[d1 < 256 ? kel::deflate::litCodeTable[256 + d1] : kel::deflate::litCodeTable[512 + (d1 >> 7)]];
        }
    }
    for (int s = 0; s < 286; ++s) ASSERT_EQ(t.lit[s].freqOrCode, Kel16u(lit[s])) << "symbol " << s;
    for (int s = 0; s < 30; ++s) ASSERT_EQ(t.dist[s].freqOrCode, Kel16u(dist[s])) << "distance code " << s;
    for (const auto& e : t.lit) ASSERT_EQ(e.codeLength, 0);
}

// Match lengths, distances and the end guard: no match covers the last `guard` bytes of the input.
void expectItemsWellFormed(const Items& items, std::size_t inputLen, unsigned minMatch, unsigned guard,
                           Kel32u windowSize) {
    std::size_t at = 0;
    for (std::size_t i = 0; i < items.lit.size(); ++i) {
        if (items.dist[i] == 0) {
            ++at;
            continue;
        }
        const std::size_t len = items.lit[i] + 3u;
        ASSERT_GE(len, minMatch);
        ASSERT_LT(items.dist[i], windowSize);
        at += len;
        ASSERT_LE(at + guard, inputLen) << "match " << i << " reaches into the last " << guard << " bytes";
    }
}

Bytes sampleInput() {
    Bytes v = kel::test::readCorpusFile("alice29.txt");
    v.resize(60000);
    const Bytes bin = kel::test::readCorpusFile("kppkn.gtb");
    v.insert(v.end(), bin.begin(), bin.begin() + 30000);
    auto rng = kel::test::makeRng(11);
    const Bytes rep = kel::test::repetitiveBytes(rng, 30000);
    v.insert(v.end(), rep.begin(), rep.end());
    return v;
}

TEST(DeflateLZ77, ItemsRebuildTheInputAtEveryLevelAndPieceSize) {
    SCOPED_TRACE(kel::test::seedNote());
    const Bytes data = sampleInput();
    for (int level = 0; level < 30; ++level) {
        for (std::size_t piece : {std::size_t(1) << 20, std::size_t(5000), std::size_t(263)}) {
            SCOPED_TRACE("level " + std::to_string(level) + ", pieces of " + std::to_string(piece));
            Tables t;
            const Items items = runStream(levelMatcher(Kel32u(level)), data, t, piece);
            ASSERT_EQ(expand(items), data);
            expectCountsMatch(items, t);
            const bool three = isThreeByteLevel(level);
            expectItemsWellFormed(items, data.size(), three ? 3 : 4, three ? 2 : 3, t.windowSize);
        }
    }
}

TEST(DeflateLZ77, SmallWindowsHashesAndItemRoom) {
    SCOPED_TRACE(kel::test::seedNote());
    auto rng = kel::test::makeRng(3);
    const Bytes data = kel::test::repetitiveBytes(rng, 20000);
    for (int level : {0, 1, 4, 6, 9, 19}) {
        for (Kel32u ws : {256u, 4096u}) {
            for (Kel32s room : {1, 2, 3, 100}) {
                SCOPED_TRACE("level " + std::to_string(level) + " window " + std::to_string(ws) + " room " +
                             std::to_string(room));
                Tables t(ws, 256);
                const Items items = runStream(levelMatcher(Kel32u(level)), data, t, 3000, room);
                ASSERT_EQ(expand(items), data);
                expectItemsWellFormed(items, data.size(), 3, 2, ws);
            }
        }
    }
}

TEST(DeflateLZ77, LevelSelectsItsRowAndMatcher) {
    const Bytes data = sampleInput();
    // The rows as documented: level mod 10 of 5 to 9 is lazy.
    const DeflateMatchParams rows[30] = {
        {0, 0, 0, 0},    {4, 8, 8, 8},      {4, 16, 16, 9},    {4, 16, 16, 12},     {48, 32, 32, 16},
        {32, 8, 32, 16}, {128, 8, 256, 16}, {144, 8, 256, 16}, {192, 32, 258, 128}, {256, 32, 258, 258},
        {0, 0, 0, 0},    {3, 7, 8, 258},    {3, 8, 16, 258},   {5, 8, 16, 258},     {16, 32, 32, 258},
        {24, 6, 32, 16}, {120, 7, 256, 16}, {140, 7, 256, 16}, {192, 32, 258, 128}, {512, 32, 258, 258},
        {0, 0, 0, 0},    {4, 8, 8, 258},    {4, 16, 16, 258},  {4, 16, 16, 258},    {16, 32, 32, 258},
        {32, 8, 32, 16}, {128, 8, 256, 16}, {144, 8, 256, 16}, {192, 32, 258, 128}, {512, 32, 258, 258},
    };
    for (int level = 0; level < 30; ++level) {
        SCOPED_TRACE("level " + std::to_string(level));
        Tables a, b;
        const Items byLevel = runStream(levelMatcher(Kel32u(level)), data, a, 7000);
        const ParamsFn fn = level % 10 >= 5 ? kelsDeflateLZ77Slow_8u : kelsDeflateLZ77Fast_8u;
        const Items byParams = runStream(paramsMatcher(fn, rows[level]), data, b, 7000);
        ASSERT_EQ(byLevel, byParams);
        ASSERT_TRUE(a == b);
    }

    Tables t;
    const Tables before = t;
    const Kel8u* p = data.data();
    Kel32s len = 1000, room = 100;
    Kel32u pos = 0;
    Bytes lo(100, 0xEE);
    std::vector<Kel16u> dO(100, 0xEEEE);
    EXPECT_EQ(levelMatcher(30)(&p, &len, &pos, p, t, lo.data(), dO.data(), &room, 2), kelStatusBadSize);
    EXPECT_EQ(p, data.data());
    EXPECT_EQ(len, 1000);
    EXPECT_EQ(room, 100);
    EXPECT_TRUE(t == before);
    EXPECT_EQ(lo, Bytes(100, 0xEE));
}

TEST(DeflateLZ77, ArgumentChecksInOrderTouchNothing) {
    const Bytes data(1000, 'a');
    Tables t;
    const Tables before = t;
    Bytes lo(100, 0xEE);
    std::vector<Kel16u> dO(100, 0xEEEE);
    const Kel8u* p = data.data();
    const Kel8u* nullSrc = nullptr;
    Kel32s len = 1000, room = 100;
    Kel32u pos = 0;
    const DeflateMatchParams good{4, 8, 8, 8};
    for (ParamsFn fn : {kelsDeflateLZ77Fast_8u, kelsDeflateLZ77Slow_8u}) {
        auto call = [&](const Kel8u** pp, Kel32u ws, Kel32u hs, const DeflateMatchParams* mp, Kel32s* pRoom) {
            return fn(pp, &len, &pos, data.data(), ws, t.heads.data(), t.chain.data(), hs, t.lit.data(), t.dist.data(),
                      lo.data(), dO.data(), pRoom, mp, 2);
        };
        EXPECT_EQ(call(nullptr, 32768, 32768, &good, &room), kelStatusNullPointer);
        EXPECT_EQ(call(&nullSrc, 32768, 32768, &good, &room), kelStatusNullPointer);
        EXPECT_EQ(call(&p, 32768, 32768, nullptr, &room), kelStatusNullPointer);
        EXPECT_EQ(call(&p, 32768, 32768, &good, nullptr), kelStatusNullPointer);
        // A null pointer wins over a bad size, a bad size over bad parameters.
        const DeflateMatchParams bad{-1, 0, 0, 0};
        EXPECT_EQ(call(&p, 1, 32768, &bad, nullptr), kelStatusNullPointer);
        EXPECT_EQ(call(&p, 255, 32768, &bad, &room), kelStatusBadSize);
        EXPECT_EQ(call(&p, 65536, 32768, &bad, &room), kelStatusBadSize);
        EXPECT_EQ(call(&p, 32768, 128, &bad, &room), kelStatusBadSize);
        EXPECT_EQ(call(&p, 32768, 131072, &bad, &room), kelStatusBadSize);
        EXPECT_EQ(call(&p, 32768, 32768, &bad, &room), kelStatusBadArgument);
        for (const DeflateMatchParams& mp :
             {DeflateMatchParams{4, 3, 8, 8}, DeflateMatchParams{4, 8, 3, 8}, DeflateMatchParams{4, 8, 8, 3}}) {
            EXPECT_EQ(call(&p, 32768, 32768, &mp, &room), kelStatusBadArgument);
        }
        EXPECT_EQ(p, data.data());
        EXPECT_EQ(len, 1000);
        EXPECT_EQ(pos, 0u);
        EXPECT_EQ(room, 100);
        EXPECT_TRUE(t == before);
        EXPECT_EQ(lo, Bytes(100, 0xEE));
    }
    // maxChain 0 with the other fields 0 is the greedy 3-byte mode; the lazy matcher needs a chain.
    const DeflateMatchParams zero{0, 0, 0, 0};
    EXPECT_EQ(paramsMatcher(kelsDeflateLZ77Slow_8u, zero)(&p, &len, &pos, p, t, lo.data(), dO.data(), &room, 2),
              kelStatusBadArgument);
    EXPECT_EQ(paramsMatcher(kelsDeflateLZ77Fast_8u, zero)(&p, &len, &pos, p, t, lo.data(), dO.data(), &room, 2),
              kelStatusOk);
    EXPECT_EQ(len, 0);
}

// Runs one call over n bytes of fresh random data and returns (bytes consumed, items written).
std::pair<Kel32s, Kel32s> oneCall(const Matcher& m, std::size_t n, Kel32u flush, Kel32s room = 1000) {
    auto rng = kel::test::makeRng(n);
    const Bytes data = kel::test::randomBytes(rng, n + 1);  // never empty: the source pointer must not be null
    Tables t;
    Bytes lo(std::size_t(std::max(room, 1)));
    std::vector<Kel16u> dO(lo.size());
    const Kel8u* p = data.data();
    Kel32s len = Kel32s(n), r = room;
    Kel32u pos = 0;
    EXPECT_EQ(m(&p, &len, &pos, p, t, lo.data(), dO.data(), &r, flush), kelStatusOk);
    EXPECT_EQ(Kel32s(n) - len, Kel32s(p - data.data()));
    EXPECT_EQ(pos, Kel32u(Kel32s(n) - len));
    return {Kel32s(n) - len, room - r};
}

TEST(DeflateLZ77, StopsShortOfTheEndUnlessTheInputEnds) {
    for (int level : {0, 1, 6, 9, 24}) {
        SCOPED_TRACE("level " + std::to_string(level));
        const Matcher m = levelMatcher(Kel32u(level));
        EXPECT_EQ(oneCall(m, 261, 0), std::make_pair(1, 1));
        EXPECT_EQ(oneCall(m, 260, 0), std::make_pair(0, 0));
        EXPECT_EQ(oneCall(m, 261, 1), std::make_pair(1, 1));
        EXPECT_EQ(oneCall(m, 262, 0).first, level % 10 == 0 ? 2 : 1);
        for (std::size_t n : {0, 1, 2, 3, 4, 260, 261, 262, 1000}) {
            EXPECT_EQ(oneCall(m, n, 2).first, Kel32s(n));
            EXPECT_EQ(oneCall(m, n, 7).first, Kel32s(n));
        }
        EXPECT_EQ(oneCall(m, 1000, 2, 0), std::make_pair(0, 0));
    }
}

TEST(DeflateLZ77, RunOfEqualBytes) {
    const Bytes data(300, 'z');
    const auto itemsAt = [&](int level) {
        Tables t;
        return runStream(levelMatcher(Kel32u(level)), data, t, data.size());
    };
    // 4-byte mode: the literal, 258 bytes at distance 1, then the tail stops 3 bytes short. The long match was
    // not inserted position by position (it exceeds lazyLimit), so the tail's match reaches back to position 1.
    const Items fourWant{{'z', 255, 35, 'z', 'z', 'z'}, {0, 1, 258, 0, 0, 0}};
    EXPECT_EQ(itemsAt(1), fourWant);
    // 3-byte mode: every position is hashed and the tail stops 2 bytes short.
    const Items threeWant{{'z', 255, 36, 'z', 'z'}, {0, 1, 1, 0, 0}};
    EXPECT_EQ(itemsAt(0), threeWant);
    // The lazy matcher holds each match back one position; it inserts every position, so distances stay 1.
    const Items lazyWant{{'z', 255, 35, 'z', 'z', 'z'}, {0, 1, 1, 0, 0, 0}};
    EXPECT_EQ(itemsAt(6), lazyWant);
}

TEST(DeflateLZ77, LazyMatcherWithRoomForOneItemWritesOne) {
    auto rng = kel::test::makeRng(5);
    const Bytes data = kel::test::repetitiveBytes(rng, 5000);
    Tables t;
    Bytes lo(1);
    std::vector<Kel16u> dO(1);
    const Kel8u* p = data.data();
    Kel32s len = Kel32s(data.size());
    Kel32u pos = 0;
    std::size_t items = 0;
    Items all;
    while (len > 0) {
        Kel32s room = 1;
        ASSERT_EQ(levelMatcher(6)(&p, &len, &pos, p, t, lo.data(), dO.data(), &room, 2), kelStatusOk);
        ASSERT_EQ(room, 0);
        all.lit.push_back(lo[0]);
        all.dist.push_back(dO[0]);
        ++items;
    }
    EXPECT_EQ(expand(all), data);
    EXPECT_LT(items, data.size() / 2);
}

TEST(DeflateLZ77, CountsWrapAt65536) {
    const Bytes data = {'q'};
    Tables t;
    t.lit['q'].freqOrCode = 65535;
    Bytes lo(4);
    std::vector<Kel16u> dO(4);
    const Kel8u* p = data.data();
    Kel32s len = 1, room = 4;
    Kel32u pos = 0;
    ASSERT_EQ(levelMatcher(1)(&p, &len, &pos, p, t, lo.data(), dO.data(), &room, 2), kelStatusOk);
    EXPECT_EQ(room, 3);
    EXPECT_EQ(t.lit['q'].freqOrCode, 0);
}

TEST(DeflateLZ77, PositionsRebaseBeforeOverflow) {
    SCOPED_TRACE(kel::test::seedNote());
    auto rng = kel::test::makeRng(8);
    const Bytes data = kel::test::repetitiveBytes(rng, 200000);
    for (int level : {0, 3, 8}) {
        SCOPED_TRACE("level " + std::to_string(level));
        // Start so close to 2^31 that the second piece must rebase, with live entries in the tables.
        Tables t;
        const Kel32u start = 0x7FFFFFFFu - 200000;
        const Items items = runStream(levelMatcher(Kel32u(level)), data, t, 60000, 4096, 0, start);
        ASSERT_EQ(expand(items), data);
        for (Kel32s e : t.heads) ASSERT_LE(e, Kel32s(32768 + data.size()));
        for (Kel32s e : t.heads) ASSERT_GE(e, kEmpty);
        // Heads keep their meaning across a rebase, so the head-only 3-byte mode finds exactly the matches it
        // finds from position 0. (Chain entries keep their slots while their values move, so the chain modes
        // see different candidates for one window's length; every match is still verified.)
        if (isThreeByteLevel(level)) {
            Tables fresh;
            EXPECT_EQ(items, runStream(levelMatcher(Kel32u(level)), data, fresh, 60000));
        }
    }
}

// ---- Positions near 2^31 ---------------------------------------------------------------------------------------

// Positions that a stream of small blocks reaches after about 2 GiB. With 16 KiB of input the positions do not
// shift at the first two (2147417112 + 32768 + 16384 stays below 2^31 - 1 - 16384), so the call must run right
// up to 2^31 - 32768; at the third they shift (it becomes windowSize).
struct HighStart {
    Kel32u pos;
    bool shifts;
};
constexpr HighStart kHighStarts[] = {{2147401728u, false}, {2147417112u, false}, {2147418112u, true}};
constexpr std::size_t kHighHistory = 32768, kHighInput = 16384;

struct HighRun {
    Items items;
    std::vector<Kel32s> consumed;  // per call
    Kel32u endPos = 0;
};

// Compresses buf[kHighHistory..] from position `start`, the history before it already hashed (as the earlier
// calls of a stream would have left it): one call with `flush`, then final calls until everything is consumed or
// a call consumes nothing.
HighRun runFrom(const Matcher& m, bool threeByte, const Bytes& buf, Kel32u start, Kel32u flush) {
    Tables t;
    EXPECT_EQ(
        kelsDeflateUpdateHash_8u(buf.data(), start - Kel32u(kHighHistory), Kel32u(kHighHistory) + (threeByte ? 2 : 3),
                                 t.heads.data(), t.hashSize, t.chain.data(), t.windowSize, threeByte ? 0 : 1),
        kelStatusOk);
    HighRun r;
    const Kel8u* p = buf.data() + kHighHistory;
    Kel32s len = Kel32s(buf.size() - kHighHistory);
    Kel32u pos = start;
    Bytes lo(1 << 16);
    std::vector<Kel16u> dO(lo.size());
    for (Kel32u f = flush; len > 0 && r.consumed.size() < 8; f = 2) {
        const Kel8u* before = p;
        Kel32s room = Kel32s(lo.size());
        EXPECT_EQ(m(&p, &len, &pos, p, t, lo.data(), dO.data(), &room, f), kelStatusOk);
        r.consumed.push_back(Kel32s(p - before));
        r.items.lit.insert(r.items.lit.end(), lo.begin(), lo.begin() + (Kel32s(lo.size()) - room));
        r.items.dist.insert(r.items.dist.end(), dO.begin(), dO.begin() + (Kel32s(lo.size()) - room));
        if (p == before) break;
    }
    r.endPos = pos;
    return r;
}

// One final fixed-code block holding the items: what zlib must restore after the history.
Bytes fixedCodeBlock(const Items& items) {
    Bytes out(items.lit.size() * 6 + 16);
    Kel16u pending = 3;  // final block, fixed codes
    Kel32u count = 3, at = 0;
    EXPECT_EQ(kelsDeflateHuff_8u(items.lit.data(), items.dist.data(), Kel32u(items.lit.size()), &pending, &count,
                                 kel::deflate::static_ltree, kel::deflate::static_dtree, out.data(), &at),
              kelStatusOk);
    out.resize(at);
    out.push_back(Kel8u(pending & ((1u << count) - 1)));  // then the 7 zero bits of end-of-block
    if (count + 7 > 8) out.push_back(0);
    return out;
}

TEST(DeflateLZ77, PositionsNear2To31ConsumeEverythingLikeLowPositions) {
    SCOPED_TRACE(kel::test::seedNote());
    auto rng = kel::test::makeRng(15);
    const Bytes buf = kel::test::repetitiveBytes(rng, kHighHistory + kHighInput);
    const Bytes history(buf.begin(), buf.begin() + long(kHighHistory));
    const Bytes input(buf.begin() + long(kHighHistory), buf.end());
    const std::pair<const char*, Matcher> matchers[] = {
        {"level 0", levelMatcher(0)},
        {"level 1", levelMatcher(1)},
        {"level 6", levelMatcher(6)},
        {"fast", paramsMatcher(kelsDeflateLZ77Fast_8u, {48, 32, 32, 16})},
        {"slow", paramsMatcher(kelsDeflateLZ77Slow_8u, {32, 8, 32, 16})},
    };
    for (const auto& [name, m] : matchers) {
        const bool threeByte = std::string(name) == "level 0";
        for (const HighStart& hs : kHighStarts) {
            for (Kel32u flush : {0u, 2u}) {
                SCOPED_TRACE(std::string(name) + " from " + std::to_string(hs.pos) + " flush " + std::to_string(flush));
                const HighRun high = runFrom(m, threeByte, buf, hs.pos, flush);
                // The same stream low down, at a position with the same chain slots (start modulo windowSize):
                // distances and window tests are all relative, so the items must be the same.
                const Kel32u low = hs.pos % 32768 + 65536;
                const HighRun ref = runFrom(m, threeByte, buf, low, flush);
                ASSERT_EQ(std::accumulate(ref.consumed.begin(), ref.consumed.end(), 0), Kel32s(kHighInput));
                EXPECT_EQ(high.consumed, ref.consumed);
                EXPECT_TRUE(high.items == ref.items);
                EXPECT_EQ(high.endPos, (hs.shifts ? 32768u : hs.pos) + Kel32u(kHighInput));
                Bytes out;
                ASSERT_TRUE(kel::test::zlibInflate(fixedCodeBlock(high.items), -15, out, &history));
                EXPECT_TRUE(out == input);
            }
        }
    }
}

TEST(DeflateLZ77, SeparateHistoryGivesTheSameItems) {
    auto rng = kel::test::makeRng(12);
    const Bytes data = kel::test::repetitiveBytes(rng, 50000);
    const std::size_t cut = 30000;
    for (int level : {0, 2, 7}) {
        SCOPED_TRACE("level " + std::to_string(level));
        Tables a, b;
        const Matcher m = levelMatcher(Kel32u(level));
        // Both streams first consume the history part, then the rest: once contiguous, once with the history in
        // a buffer of its own.
        Bytes lo(100000);
        std::vector<Kel16u> dO(100000);
        Kel32u posA = 0, posB = 0;
        const Kel8u* p = data.data();
        Kel32s len = Kel32s(cut), room = 100000;
        ASSERT_EQ(m(&p, &len, &posA, p, a, lo.data(), dO.data(), &room, 2), kelStatusOk);
        p = data.data();
        len = Kel32s(cut);
        room = 100000;
        ASSERT_EQ(m(&p, &len, &posB, p, b, lo.data(), dO.data(), &room, 2), kelStatusOk);

        const Bytes history(data.begin(), data.begin() + cut);
        const Bytes rest(data.begin() + cut, data.end());
        Items itemsA, itemsB;
        p = data.data() + cut;
        len = Kel32s(rest.size());
        room = 100000;
        ASSERT_EQ(m(&p, &len, &posA, p, a, lo.data(), dO.data(), &room, 2), kelStatusOk);
        itemsA.lit.assign(lo.begin(), lo.begin() + (100000 - room));
        itemsA.dist.assign(dO.begin(), dO.begin() + (100000 - room));
        p = rest.data();
        len = Kel32s(rest.size());
        room = 100000;
        ASSERT_EQ(m(&p, &len, &posB, history.data() + history.size(), b, lo.data(), dO.data(), &room, 2), kelStatusOk);
        itemsB.lit.assign(lo.begin(), lo.begin() + (100000 - room));
        itemsB.dist.assign(dO.begin(), dO.begin() + (100000 - room));
        EXPECT_EQ(itemsA, itemsB);
        EXPECT_EQ(expand(itemsB, history), rest);
    }
}

TEST(DeflateLZ77, VectorMatchersAgreeWithScalarTwins) {
    SCOPED_TRACE(kel::test::seedNote());
    using kel::deflate::Lz77Job;
    const Bytes data = sampleInput();
    for (int level = 1; level < 30; ++level) {
        if (isThreeByteLevel(level)) continue;
        const DeflateMatchParams rows[] = {{4, 8, 8, 8}, {128, 8, 256, 16}, {512, 32, 258, 258}, {3, 7, 8, 258}};
        const DeflateMatchParams mp = rows[level % 4];
        Tables ta, tb;
        Bytes loA(200000), loB(200000);
        std::vector<Kel16u> dA(200000), dB(200000);
        auto job = [&](Tables& t, Bytes& lo, std::vector<Kel16u>& dO) {
            Lz77Job j{};
            j.src = j.hist = data.data();
            j.s = 0;
            j.len = j.origLen = Kel32s(data.size());
            j.windowSize = 32768;
            j.hashMask = 32767;
            j.heads = t.heads.data();
            j.chain = t.chain.data();
            j.litLenCodes = t.lit.data();
            j.distCodes = t.dist.data();
            j.litLenOut = lo.data();
            j.distOut = dO.data();
            j.capacity = Kel32s(lo.size());
            j.params = mp;
            j.flushAll = true;
            return j;
        };
        Lz77Job a = job(ta, loA, dA), b = job(tb, loB, dB);
        if (level % 10 >= 5) {
            kel::deflate::n8_ownsDeflateLZ77Lazy_8u(a);
            kel::deflate::n8_ownsDeflateLZ77Lazy_8u_ref(b);
        } else {
            kel::deflate::n8_ownsDeflateLZ77Greedy_8u(a);
            kel::deflate::n8_ownsDeflateLZ77Greedy_8u_ref(b);
        }
        ASSERT_EQ(a.items, b.items);
        ASSERT_EQ(a.consumed, b.consumed);
        ASSERT_EQ(loA, loB);
        ASSERT_EQ(dA, dB);
        ASSERT_TRUE(ta == tb);
    }
}

TEST(DeflateLZ77, MatchLengthKernelAgreesWithScalarTwin) {
    SCOPED_TRACE(kel::test::seedNote());
    // Guarded buffers: a read past maxLen faults.
    kel::test::GuardedBuffer ga(258 + 16), gb(258 + 16);
    for (std::uint8_t fill : {0x00, 0x7F, 0x80, 0xFF}) {
        std::memset(ga.data(), fill, ga.size());
        std::memset(gb.data(), fill, gb.size());
        for (int maxLen = 0; maxLen <= 258; ++maxLen) {
            for (int shift = 0; shift < 16; ++shift) {
                const Kel8u* a = ga.data() + ga.size() - maxLen;
                const Kel8u* b = gb.data() + gb.size() - maxLen - shift;
                ASSERT_EQ(kel::deflate::n8_ownsDeflateMatchLen_8u(a, b, maxLen), maxLen);
            }
            // One difference at every position.
            for (int diff = 0; diff < maxLen; ++diff) {
                Kel8u* b = gb.data() + gb.size() - maxLen;
                b[diff] ^= 0x01;
                const Kel8u* a = ga.data() + ga.size() - maxLen;
                ASSERT_EQ(kel::deflate::n8_ownsDeflateMatchLen_8u(a, b, maxLen), diff);
                ASSERT_EQ(kel::deflate::n8_ownsDeflateMatchLen_8u_ref(a, b, maxLen), diff);
                b[diff] ^= 0x01;
            }
        }
    }
}

TEST(DeflateDictionary, CopiesTheTailAndHashesAllButTheLast257) {
    auto rng = kel::test::makeRng(21);
    const Bytes dict = kel::test::randomBytes(rng, 40000);
    for (Kel32u mode : {0u, 1u}) {
        Tables t;
        Bytes window(32768, 0);
        ASSERT_EQ(kelsDeflateDictionarySet_8u(dict.data(), Kel32u(dict.size()), t.heads.data(), t.hashSize,
                                              t.chain.data(), window.data(), t.windowSize, mode),
                  kelStatusOk);
        EXPECT_TRUE(std::equal(window.begin(), window.end(), dict.end() - 32768));
        EXPECT_EQ(*std::max_element(t.heads.begin(), t.heads.end()), 32510);
        if (mode == 0) {
            EXPECT_EQ(t.chain, std::vector<Kel32s>(32768, kEmpty));
        } else {
            // Every position 0 to 32510 is in exactly one chain: walking all heads visits each once.
            std::vector<int> seen(32768, 0);
            for (Kel32s h : t.heads) {
                for (Kel32s c = h; c >= 0; c = t.chain[std::size_t(c) & 32767]) ++seen[std::size_t(c)];
            }
            for (int p = 0; p <= 32510; ++p) ASSERT_EQ(seen[std::size_t(p)], 1) << p;
            for (int p = 32511; p < 32768; ++p) ASSERT_EQ(seen[std::size_t(p)], 0) << p;
        }
    }

    // 257 bytes: copied, nothing hashed. Fewer than 4 (3 in mode 0): nothing at all.
    Tables t;
    const Tables before = t;
    Bytes window(300, 0xEE);
    ASSERT_EQ(kelsDeflateDictionarySet_8u(dict.data(), 257, t.heads.data(), t.hashSize, t.chain.data(), window.data(),
                                          t.windowSize, 1),
              kelStatusOk);
    EXPECT_TRUE(std::equal(window.begin(), window.begin() + 257, dict.begin()));
    EXPECT_EQ(window[257], 0xEE);
    EXPECT_TRUE(t == before);
    std::fill(window.begin(), window.end(), 0xEE);
    ASSERT_EQ(kelsDeflateDictionarySet_8u(dict.data(), 3, t.heads.data(), t.hashSize, t.chain.data(), window.data(),
                                          t.windowSize, 1),
              kelStatusOk);
    EXPECT_EQ(window[0], 0xEE);
    ASSERT_EQ(kelsDeflateDictionarySet_8u(dict.data(), 3, t.heads.data(), t.hashSize, t.chain.data(), window.data(),
                                          t.windowSize, 0),
              kelStatusOk);
    EXPECT_EQ(window[0], dict[0]);

    EXPECT_EQ(kelsDeflateDictionarySet_8u(nullptr, 100, t.heads.data(), 32768, t.chain.data(), window.data(), 32768, 1),
              kelStatusNullPointer);
    EXPECT_EQ(kelsDeflateDictionarySet_8u(dict.data(), 100, t.heads.data(), 32768, t.chain.data(), nullptr, 32768, 1),
              kelStatusNullPointer);
    EXPECT_EQ(
        kelsDeflateDictionarySet_8u(dict.data(), 100, t.heads.data(), 32768, t.chain.data(), window.data(), 128, 1),
        kelStatusBadSize);
    EXPECT_EQ(
        kelsDeflateDictionarySet_8u(dict.data(), 100, t.heads.data(), 100000, t.chain.data(), window.data(), 32768, 1),
        kelStatusBadSize);
}

TEST(DeflateDictionary, MatchesReachIntoTheDictionary) {
    const Bytes text = kel::test::readCorpusFile("alice29.txt");
    const Bytes dict(text.begin(), text.begin() + 20000);
    const Bytes data(text.begin() + 20000, text.begin() + 60000);
    for (int level : {0, 1, 6}) {
        SCOPED_TRACE("level " + std::to_string(level));
        Tables t;
        // The matcher reads the dictionary as history, so it sits right before the data.
        Bytes buf(dict.size(), 0);
        ASSERT_EQ(
            kelsDeflateDictionarySet_8u(dict.data(), Kel32u(dict.size()), t.heads.data(), t.hashSize, t.chain.data(),
                                        buf.data(), t.windowSize, isThreeByteLevel(level) ? 0 : 1),
            kelStatusOk);
        buf.insert(buf.end(), data.begin(), data.end());
        const Items items =
            runStream(levelMatcher(Kel32u(level)), buf, t, buf.size(), 100000, dict.size(), Kel32u(dict.size()));
        ASSERT_EQ(expand(items, dict), data);
        // The first line of the data already matches into the dictionary.
        std::size_t at = 0;
        bool reachedBack = false;
        for (std::size_t i = 0; i < items.lit.size() && at < 2000; ++i) {
            if (items.dist[i] > at) reachedBack = true;
            at += items.dist[i] ? items.lit[i] + 3u : 1u;
        }
        EXPECT_TRUE(reachedBack);
    }
}

TEST(DeflateUpdateHash, InsertsEveryHashablePosition) {
    auto rng = kel::test::makeRng(31);
    const Bytes data = kel::test::randomBytes(rng, 1000);
    {
        Tables t;
        ASSERT_EQ(kelsDeflateUpdateHash_8u(data.data(), 5000, 1000, t.heads.data(), t.hashSize, t.chain.data(),
                                           t.windowSize, 0),
                  kelStatusOk);
        EXPECT_EQ(t.chain, std::vector<Kel32s>(32768, kEmpty));
        EXPECT_EQ(*std::max_element(t.heads.begin(), t.heads.end()), 5000 + 1000 - 3);
        EXPECT_EQ(std::count_if(t.heads.begin(), t.heads.end(), [](Kel32s e) { return e != kEmpty; }) > 900, true);
    }
    {
        Tables t;
        ASSERT_EQ(kelsDeflateUpdateHash_8u(data.data(), 5000, 1000, t.heads.data(), t.hashSize, t.chain.data(),
                                           t.windowSize, 7),
                  kelStatusOk);
        std::vector<int> seen(7000, 0);
        for (Kel32s h : t.heads) {
            for (Kel32s c = h; c >= 0; c = t.chain[std::size_t(c) & 32767]) ++seen[std::size_t(c)];
        }
        for (int p = 0; p < 7000; ++p) ASSERT_EQ(seen[std::size_t(p)], p >= 5000 && p <= 5996 ? 1 : 0) << p;
    }
    Tables t;
    const Tables before = t;
    ASSERT_EQ(kelsDeflateUpdateHash_8u(data.data(), 0, 3, t.heads.data(), t.hashSize, t.chain.data(), t.windowSize, 1),
              kelStatusOk);
    ASSERT_EQ(kelsDeflateUpdateHash_8u(data.data(), 0, 2, t.heads.data(), t.hashSize, t.chain.data(), t.windowSize, 0),
              kelStatusOk);
    EXPECT_TRUE(t == before);
    EXPECT_EQ(kelsDeflateUpdateHash_8u(data.data(), 0, 100, nullptr, 32768, t.chain.data(), 32768, 1),
              kelStatusNullPointer);
    EXPECT_EQ(kelsDeflateUpdateHash_8u(data.data(), 0, 100, t.heads.data(), 32768, t.chain.data(), 65536, 1),
              kelStatusBadSize);
    EXPECT_TRUE(t == before);
}

}  // namespace

// tests/dc/inflate/inflate_test.cpp - kelsInflateBuildHuffTable and kelsInflate_8u, called directly.
//
// Hand-made payloads pin down the resume protocol (where a call stops, what it saves, what it gives back); a
// randomized test writes payloads with random complete codes (both table forms, codes up to 15 bits) and
// decodes them in random pieces under both history protocols, against a byte-by-byte reference; damaged payloads
// must fail cleanly. Whole zlib, gzip and raw streams are decoded through libkelstream in its own suite.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "dc/inflate/inflate_internal.h"
#include "inflate_test_util.h"
#include "keldc.h"

namespace kel::test {
namespace {

static_assert(sizeof(InflateContext) == 7216);
static_assert(offsetof(InflateContext, window) == 0 && offsetof(InflateContext, windowSize) == 8);
static_assert(offsetof(InflateContext, tableKind) == 12 && offsetof(InflateContext, resumeState) == 24);
static_assert(offsetof(InflateContext, resumeValue) == 28 && offsetof(InflateContext, resumeExtra) == 32);
static_assert(offsetof(InflateContext, resumeDistance) == 36 && offsetof(InflateContext, maxLitLen) == 40);
static_assert(offsetof(InflateContext, maxDistLen) == 44 && offsetof(InflateContext, tables) == 48);

using Lens = std::vector<std::uint16_t>;

// A complete code: lengths 1, 2, ..., maxLen - 1, maxLen, maxLen (maxLen + 1 codes).
Lens chainLengths(unsigned maxLen) {
    Lens l;
    for (unsigned k = 1; k < maxLen; ++k) l.push_back(std::uint16_t(k));
    l.push_back(std::uint16_t(maxLen));
    l.push_back(std::uint16_t(maxLen));
    return l;
}

// Literal/length lengths: the chain on literals 0.. and symbol 256 (always coded), numLit entries.
Lens litChain(unsigned maxLen, unsigned numLit = 257) {
    Lens chain = chainLengths(maxLen), l(numLit, 0);
    for (std::size_t k = 0; k + 1 < chain.size(); ++k) l[k] = chain[k];
    l[256] = chain.back();
    return l;
}

Lens concat(Lens a, const Lens& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Ctx {
    InflateContext c;
    Ctx() { std::memset(&c, 0xA5, sizeof c); }
    bool untouched() const {
        const auto* p = reinterpret_cast<const std::uint8_t*>(&c);
        return std::all_of(p, p + sizeof c, [](std::uint8_t b) { return b == 0xA5; });
    }
};

KelStatus build(const Lens& lens, unsigned numLit, int numDist, InflateContext* c) {
    return kelsInflateBuildHuffTable(lens.data(), numLit, numDist, c);
}

// ---- Table building ---------------------------------------------------------------------------------------------

TEST(InflateBuildHuffTable, ChecksArgumentsInOrderAndWritesNothingOnError) {
    Ctx ctx;
    const Lens lens = concat(litChain(5), chainLengths(3));
    EXPECT_EQ(kelsInflateBuildHuffTable(nullptr, 289, -1, &ctx.c), kelStatusNullPointer);
    EXPECT_EQ(build(lens, 257, 4, nullptr), kelStatusNullPointer);
    EXPECT_EQ(build(lens, 289, 4, &ctx.c), kelStatusBadSize);
    EXPECT_EQ(build(lens, 257, 31, &ctx.c), kelStatusBadSize);
    EXPECT_EQ(build(lens, 257, -1, &ctx.c), kelStatusBadSize);
    EXPECT_EQ(build(lens, 0, 0, &ctx.c), kelStatusBadStream);  // no literal/length code
    EXPECT_TRUE(ctx.untouched());
}

TEST(InflateBuildHuffTable, ValidatesEachCodeLengthSet) {
    const Lens lit = litChain(6);
    struct Case {
        const char* what;
        Lens dist;
        KelStatus expected;
    };
    const Case cases[] = {
        {"one distance code of length 1", {1}, kelStatusOk},
        {"no distance code", {0, 0, 0}, kelStatusOk},
        {"two 1-bit codes and a 2-bit code", {1, 1, 2}, kelStatusBadStream},
        {"a lone 2-bit code", {2}, kelStatusBadStream},
        {"1- and 2-bit codes only", {1, 2}, kelStatusBadStream},
        {"a length above 15", {1, 16}, kelStatusBadStream},
    };
    for (const Case& c : cases) {
        Ctx ctx;
        EXPECT_EQ(build(concat(lit, c.dist), 257, int(c.dist.size()), &ctx.c), c.expected) << c.what;
        if (c.expected != kelStatusOk) EXPECT_TRUE(ctx.untouched()) << c.what;
    }
    // The same rules for the literal/length set; a length above 15 is refused rather than left undefined.
    Ctx ctx;
    Lens over = litChain(6);
    over[10] = 1;
    EXPECT_EQ(build(over, 257, 0, &ctx.c), kelStatusBadStream);
    Lens tooLong = litChain(6);
    tooLong[3] = 17;
    EXPECT_EQ(build(tooLong, 257, 0, &ctx.c), kelStatusBadStream);
    EXPECT_TRUE(ctx.untouched());
    Lens single(257, 0);
    single[256] = 1;
    EXPECT_EQ(build(single, 257, 0, &ctx.c), kelStatusOk);  // one 1-bit code: only end of block
}

TEST(InflateBuildHuffTable, ChoosesTheShortFormUpTo11And10Bits) {
    struct Case {
        unsigned litMax, distMax, kind;
    };
    for (const Case& c : {Case{11, 10, 2}, Case{12, 10, 1}, Case{11, 11, 1}, Case{15, 15, 1}, Case{3, 2, 2}}) {
        Ctx ctx;
        const Lens dist = chainLengths(c.distMax);
        ASSERT_EQ(build(concat(litChain(c.litMax), dist), 257, int(dist.size()), &ctx.c), kelStatusOk);
        EXPECT_EQ(ctx.c.tableKind, c.kind) << c.litMax << "/" << c.distMax;
        if (c.kind == 2) {
            EXPECT_EQ(ctx.c.maxLitLen, c.litMax);
            EXPECT_EQ(ctx.c.maxDistLen, c.distMax);
        }
    }
}

TEST(InflateBuildHuffTable, ShortFormNeedsAnEndOfBlockCode) {
    Ctx ctx;
    ctx.c.tableKind = 7;
    // 256 lengths: the literals alone form a complete 8-bit code, but there is no symbol 256.
    Lens lit(256, 8);
    EXPECT_EQ(build(lit, 256, 0, &ctx.c), kelStatusBadStream);
    EXPECT_EQ(ctx.c.maxLitLen, 8u);
    EXPECT_EQ(ctx.c.maxDistLen, 0u);
    EXPECT_EQ(ctx.c.tableKind, 7u);
    lit.push_back(0);
    EXPECT_EQ(build(lit, 257, 0, &ctx.c), kelStatusBadStream);
    EXPECT_EQ(ctx.c.tableKind, 7u);
    // The two-level form takes the same kind of set (here with a 12-bit literal code) without complaint.
    Lens longer = litChain(12);
    longer[256] = 0;
    longer[200] = 12;
    EXPECT_EQ(build(longer, 257, 0, &ctx.c), kelStatusOk);
    EXPECT_EQ(ctx.c.tableKind, 1u);
}

TEST(InflateBuildHuffTable, TwoLevelFixedCodeEqualsTheBuiltInTable) {
    // The fixed literal/length lengths with a distance code long enough to force the two-level form: the
    // literal/length half must equal the built-in table byte for byte (symbols 286, 287 included).
    Lens lens(288);
    for (unsigned i = 0; i < 288; ++i) lens[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    const Lens dist = chainLengths(12);
    Ctx ctx;
    ASSERT_EQ(build(concat(lens, dist), 288, int(dist.size()), &ctx.c), kelStatusOk);
    ASSERT_EQ(ctx.c.tableKind, 1u);
    const std::uint8_t* fixed = kel::inflate::n8_fixedHuffmanTable();
    EXPECT_EQ(std::memcmp(ctx.c.tables, fixed, 3072), 0);
    EXPECT_EQ(fixed[kel::inflate::kLitInfo1 + 0], 0x67);  // 7 zero bits: end of block
}

// The packed first levels are filled by doubling, which relies on the builder's periodic layout; they must equal
// the entry-by-entry packing for every set the builder accepts: long codes (subtable pointers), folded extra bits,
// one-code and empty distance sets, the fixed code.
std::vector<unsigned> randomCompleteDepths(std::mt19937_64& rng, unsigned n, unsigned maxLen);
Lens randomLengths(std::mt19937_64& rng, unsigned alphabet, unsigned count, unsigned maxLen, unsigned forced);

TEST(InflateBuildHuffTable, PackedFirstLevelsEqualTheEntryByEntryPacking) {
    SCOPED_TRACE(seedNote());
    std::mt19937_64 rng = makeRng(12);
    std::vector<Kel32u> packed(kel::inflate::kPackedEntries), reference(kel::inflate::kPackedEntries);
    for (int iter = 0; iter < 600; ++iter) {
        // Short literal codes (up to 5 bits) in about half of the sets, so that literal pairs are formed too.
        const unsigned maxLit = 5 + unsigned(rng() % 11), maxDist = 1 + unsigned(rng() % 15);
        const unsigned nLit = rng() % 20 == 0 ? 1 : 2 + unsigned(rng() % (maxLit < 9 ? 1u << maxLit : 285));
        const unsigned nDist = rng() % 10 == 0 ? unsigned(rng() % 2) : 2 + unsigned(rng() % 29);
        const Lens lit = randomLengths(rng, 286, std::min(nLit, 286u), maxLit, 256);
        const Lens dist = randomLengths(rng, 30, nDist, maxDist, 99);
        Ctx ctx;
        if (build(concat(lit, dist), 286, 30, &ctx.c) != kelStatusOk || ctx.c.tableKind != 1) continue;
        kel::inflate::n8_packTwoLevel(ctx.c.tables, packed.data());
        kel::inflate::n8_packTwoLevel_ref(ctx.c.tables, reference.data());
        ASSERT_EQ(packed, reference) << "iteration " << iter;
    }
    kel::inflate::n8_packTwoLevel(kel::inflate::n8_fixedHuffmanTable(), packed.data());
    EXPECT_EQ(std::memcmp(packed.data(), kel::inflate::n8_fixedPackedTable(), packed.size() * sizeof(Kel32u)), 0);
}

// The repacking reads each entry on its own, so it must equal the entry-by-entry packing for any bytes a context
// holds, not only for the builder's tables: random first levels, with info bytes drawn from the values that decide
// an entry's form (code lengths 0, 1, 10, 11, 15; every kind; bit 7; distances at the kMaxDistance bound).
TEST(InflateBuildHuffTable, PackedFirstLevelsOfDamagedTablesEqualTheEntryByEntryPacking) {
    SCOPED_TRACE(seedNote());
    std::mt19937_64 rng = makeRng(13);
    std::vector<Kel32u> packed(kel::inflate::kPackedEntries), reference(kel::inflate::kPackedEntries);
    const Kel8u edgeInfo[] = {0x00, 0x01, 0x05, 0x0A, 0x0B, 0x0F, 0x10, 0x1A, 0x60, 0x67, 0x80, 0x85,
                              0xD5, 0xDA, 0xE5, 0xF1, 0xFF, 0x8B, 0x7A, 0x50, 0xC3, 0xD1, 0xE1};
    const Kel16u edgeDist[] = {0, 1, 24577, 32767, 32768, 32769, 0x7FFF, 0x8000, 0xFFFF, 16385, 253, 255};
    for (int iter = 0; iter < 200; ++iter) {
        std::vector<Kel8u> t(kel::inflate::kTwoLevelBytes);
        const bool edges = iter % 2 == 0;
        for (std::size_t i = 0; i < t.size(); ++i)
            t[i] = edges && rng() % 2 ? edgeInfo[rng() % std::size(edgeInfo)] : Kel8u(rng());
        if (edges) {
            for (unsigned i = 0; i < 1024; ++i) {
                const Kel16u v = edgeDist[rng() % std::size(edgeDist)];
                t[kel::inflate::kDistVal1 + 2 * i] = Kel8u(v);
                t[kel::inflate::kDistVal1 + 2 * i + 1] = Kel8u(v >> 8);
            }
        }
        // Short plain literals in part of the sets, so that pairs are formed from damaged entries as well.
        if (iter % 3 == 0) {
            for (unsigned i = 0; i < 1024; i += 1 + unsigned(rng() % 4)) t[kel::inflate::kLitInfo1 + i] = 1 + rng() % 5;
        }
        kel::inflate::n8_packTwoLevel(t.data(), packed.data());
        kel::inflate::n8_packTwoLevel_ref(t.data(), reference.data());
        ASSERT_EQ(packed, reference) << "iteration " << iter;
    }
}

// ---- Decoder: argument checks and the resume protocol ----------------------------------------------------------

// One call with local copies of every in-out value.
struct Call {
    const std::uint8_t* src;
    int srcLen;
    Kel32u bitBuf = 0, bitCount = 0;
    std::uint8_t* dst;
    int dstLen;
    int mode = 0;
    KelStatus run(InflateContext& c, Kel32u winPos = 0, Kel32u dstPos = 0) {
        Kel8u* s = const_cast<Kel8u*>(src);
        const KelStatus st = kelsInflate_8u(&s, &srcLen, &bitBuf, &bitCount, winPos, &dst, &dstLen, dstPos, &mode, &c);
        src = s;
        return st;
    }
};

InflateContext& fixedContext() {
    static InflateContext c;
    c.window = nullptr;
    c.windowSize = 0;
    c.tableKind = 0;
    return c;
}

TEST(Inflate, ChecksArgumentsInOrder) {
    InflateContext& c = fixedContext();
    Kel8u src[4] = {0, 0, 0, 0}, dst[4];
    Kel8u* s = src;
    Kel8u* d = dst;
    Kel8u* nul = nullptr;
    int sl = 4, dl = 4, mode = 0;
    Kel32u bb = 0, bc = 0;
    EXPECT_EQ(kelsInflate_8u(nullptr, &sl, &bb, &bc, 0, &d, &dl, 0, &mode, &c), kelStatusNullPointer);
    EXPECT_EQ(kelsInflate_8u(&s, nullptr, &bb, &bc, 0, &d, &dl, 0, &mode, &c), kelStatusNullPointer);
    EXPECT_EQ(kelsInflate_8u(&s, &sl, nullptr, &bc, 0, &d, &dl, 0, &mode, &c), kelStatusNullPointer);
    EXPECT_EQ(kelsInflate_8u(&s, &sl, &bb, nullptr, 0, &d, &dl, 0, &mode, &c), kelStatusNullPointer);
    EXPECT_EQ(kelsInflate_8u(&s, &sl, &bb, &bc, 0, nullptr, &dl, 0, &mode, &c), kelStatusNullPointer);
    EXPECT_EQ(kelsInflate_8u(&s, &sl, &bb, &bc, 0, &d, nullptr, 0, &mode, &c), kelStatusNullPointer);
    EXPECT_EQ(kelsInflate_8u(&s, &sl, &bb, &bc, 0, &d, &dl, 0, nullptr, &c), kelStatusNullPointer);
    EXPECT_EQ(kelsInflate_8u(&s, &sl, &bb, &bc, 0, &d, &dl, 0, &mode, nullptr), kelStatusNullPointer);
    EXPECT_EQ(kelsInflate_8u(&nul, &sl, &bb, &bc, 0, &d, &dl, 0, &mode, &c), kelStatusNullPointer);
    EXPECT_EQ(kelsInflate_8u(&s, &sl, &bb, &bc, 0, &nul, &dl, 0, &mode, &c), kelStatusNullPointer);
    bc = 33;
    EXPECT_EQ(kelsInflate_8u(&s, &sl, &bb, &bc, 0, &d, &dl, 0, &mode, &c), kelStatusBadSize);
    EXPECT_TRUE(s == src && sl == 4 && bc == 33 && d == dst && dl == 4 && mode == 0);
    bc = 0;
    c.windowSize = 16;
    EXPECT_EQ(kelsInflate_8u(&s, &sl, &bb, &bc, 17, &d, &dl, 0, &mode, &c), kelStatusBadSize);
    EXPECT_EQ(sl, 4);
    EXPECT_EQ(kelsInflate_8u(&s, &sl, &bb, &bc, 16, &d, &dl, 0, &mode, &c), kelStatusOk);  // winPos == size
    s = src;
    sl = 4;
    bc = 5;
    bb = 0x1F;
    mode = 1;
    c.tableKind = 3;
    EXPECT_EQ(kelsInflate_8u(&s, &sl, &bb, &bc, 0, &d, &dl, 0, &mode, &c), kelStatusBadStream);
    EXPECT_TRUE(s == src && sl == 4 && bb == 0x1F && bc == 5 && d == dst && dl == 4 && mode == 1);
}

TEST(Inflate, FixedBlockOfOnlyEndOfBlockConsumesSevenBits) {
    const Kel8u src[1] = {0x80};
    Kel8u dst[1];
    Call k{src, 1, 0, 0, dst, 1};
    ASSERT_EQ(k.run(fixedContext()), kelStatusOk);
    EXPECT_EQ(k.mode, InflateModeEndOfBlock);
    EXPECT_EQ(k.srcLen, 0);
    EXPECT_EQ(k.bitCount, 1u);
    EXPECT_EQ(k.bitBuf, 1u);  // the eighth bit is still held
    EXPECT_EQ(k.dstLen, 1);
}

// 'a', 'b', a 70-byte match at distance 2 (symbol 277: four extra bits kept out of the fixed table's entries),
// end of block.
Bytes abMatchPayload() {
    PayloadWriter p = PayloadWriter::fixed();
    p.literal('a');
    p.literal('b');
    p.match(70, 2);
    p.endOfBlock();
    return p.w.bytes();
}

Bytes abExpected() {
    Bytes e = {'a', 'b'};
    for (int k = 0; k < 70; ++k) e.push_back(e[e.size() - 2]);
    return e;
}

TEST(Inflate, InputEndingInLengthExtraBitsSuspendsAndResumes) {
    const Bytes payload = abMatchPayload();
    GuardedBuffer first(3), out(72);
    first.fill(payload.data(), 3);  // 24 bits: two literals (16) and the length code (7), one extra bit
    Call k{first.data(), 3, 0, 0, out.data(), 72};
    InflateContext& c = fixedContext();
    ASSERT_EQ(k.run(c), kelStatusOk);
    EXPECT_EQ(k.mode, InflateModeSuspended);
    EXPECT_EQ(c.resumeState, 2u);
    EXPECT_EQ(c.resumeValue, 67u);  // base length of symbol 277
    EXPECT_EQ(k.dstLen, 70);
    GuardedBuffer rest(payload.size() - 3);
    rest.fill(payload.data() + 3, payload.size() - 3);
    k.src = rest.data();
    k.srcLen = int(rest.size());
    ASSERT_EQ(k.run(c, 0, 2), kelStatusOk);
    EXPECT_EQ(k.mode, InflateModeEndOfBlock);
    EXPECT_EQ(Bytes(out.data(), out.data() + 72), abExpected());
}

TEST(Inflate, FullDestinationStillDecodesTheNextLiteral) {
    const Bytes payload = abMatchPayload();
    Kel8u none[1];
    Call k{payload.data(), int(payload.size()), 0, 0, none, 0};
    InflateContext& c = fixedContext();
    ASSERT_EQ(k.run(c), kelStatusOk);
    EXPECT_EQ(k.mode, InflateModeSuspended);
    EXPECT_EQ(c.resumeState, 6u);
    EXPECT_EQ(c.resumeValue, unsigned('a'));
    EXPECT_EQ(k.dstLen, 0);
    EXPECT_EQ(8 * (payload.size() - std::size_t(k.srcLen)) - k.bitCount, 8u) << "only the literal's bits are consumed";
    GuardedBuffer out(72);
    k.dst = out.data();
    k.dstLen = 72;
    ASSERT_EQ(k.run(c), kelStatusOk);
    EXPECT_EQ(k.mode, InflateModeEndOfBlock);
    EXPECT_EQ(Bytes(out.data(), out.data() + 72), abExpected());
}

TEST(Inflate, LongMatchLeavesTheRestPending) {
    PayloadWriter p = PayloadWriter::fixed();
    p.literal('x');
    p.match(258, 1);
    p.endOfBlock();
    const Bytes payload = p.w.bytes();
    GuardedBuffer out(259);
    Call k{payload.data(), int(payload.size()), 0, 0, out.data(), 101};
    InflateContext& c = fixedContext();
    ASSERT_EQ(k.run(c), kelStatusOk);
    EXPECT_EQ(k.mode, InflateModeSuspended);
    EXPECT_EQ(c.resumeState, 5u);
    EXPECT_EQ(c.resumeValue, 158u);
    EXPECT_EQ(c.resumeDistance, 1u);
    EXPECT_EQ(k.dstLen, 0);
    k.dstLen = 158;
    ASSERT_EQ(k.run(c, 0, 101), kelStatusOk);
    EXPECT_EQ(k.mode, InflateModeEndOfBlock);
    EXPECT_EQ(Bytes(out.data(), out.data() + 259), Bytes(259, 'x'));
}

TEST(Inflate, DistanceReachesTheFirstValidDestinationByteAndNoFurther) {
    for (const unsigned dist : {5u, 6u}) {
        PayloadWriter p = PayloadWriter::fixed();
        p.match(7, dist);
        p.endOfBlock();
        const Bytes payload = p.w.bytes();
        GuardedBuffer out(12);
        std::memcpy(out.data(), "hello", 5);
        Call k{payload.data(), int(payload.size()), 0, 0, out.data() + 5, 7};
        const KelStatus st = k.run(fixedContext(), 0, 5);
        if (dist == 5) {
            ASSERT_EQ(st, kelStatusOk);
            EXPECT_EQ(Bytes(out.data(), out.data() + 12),
                      Bytes({'h', 'e', 'l', 'l', 'o', 'h', 'e', 'l', 'l', 'o', 'h', 'e'}));
        } else {
            EXPECT_EQ(st, kelStatusBadStream) << "one byte beyond the history with a null window";
        }
    }
}

TEST(Inflate, WindowCopyWrapsAroundTheWindowEnd) {
    Bytes window(32768);
    for (std::size_t i = 0; i < window.size(); ++i) window[i] = std::uint8_t(i * 7 + 1);
    InflateContext& c = fixedContext();
    c.window = window.data();
    c.windowSize = 32768;
    PayloadWriter p = PayloadWriter::fixed();
    p.match(9, 2 + 5);  // two destination bytes of history, then five more in the window
    p.endOfBlock();
    const Bytes payload = p.w.bytes();
    for (const bool fast : {false, true}) {
        // A padded source lets the fast kernel take the match; the exact one keeps it in the byte loop.
        Bytes src = payload;
        if (fast) src.resize(src.size() + 32, 0);
        GuardedBuffer out(2 + 9 + (fast ? 40 : 0));
        out.data()[0] = 'P';
        out.data()[1] = 'Q';
        Call k{src.data(), int(src.size()), 0, 0, out.data() + 2, int(out.size() - 2)};
        ASSERT_EQ(k.run(c, 3, 2), kelStatusOk);
        const Bytes expected = {window[32766], window[32767], window[0],     window[1],    window[2],
                                'P',           'Q',           window[32766], window[32767]};
        EXPECT_EQ(Bytes(out.data() + 2, out.data() + 11), expected) << (fast ? "fast" : "exact");
    }
    c.window = nullptr;
    c.windowSize = 0;
}

// ---- Invalid codes ------------------------------------------------------------------------------------------------

TEST(Inflate, CodesNoValidStreamContainsFailInEveryForm) {
    // Fixed code: literal/length symbols 286, 287 and distance symbols 30, 31. Two literals come first: they
    // must be written and accounted for.
    for (const unsigned bad : {286u, 287u, 1030u, 1031u}) {
        PayloadWriter p = PayloadWriter::fixed();
        p.literal('o');
        p.literal('k');
        if (bad < 1000) {
            p.symbol(bad);
        } else {
            p.symbol(257);
            p.distanceSym(bad - 1000);
        }
        p.endOfBlock();
        for (const std::size_t pad : {std::size_t(0), std::size_t(40)}) {
            Bytes src = p.w.bytes();
            src.resize(src.size() + pad, 0);
            Kel8u out[64];
            Call k{src.data(), int(src.size()), 0, 0, out, 64};
            EXPECT_EQ(k.run(fixedContext()), kelStatusBadStream) << bad;
            EXPECT_EQ(k.dstLen, 62);
            EXPECT_EQ(out[0], 'o');
            EXPECT_EQ(k.mode, 0) << "the block mode keeps its entry value";
        }
    }
    // A one-code distance set leaves the 1-bit pattern free; a set without distance codes has no distance.
    // Short form (literal codes up to 9 bits) and two-level form (a 13-bit literal code).
    for (const unsigned litMax : {9u, 13u}) {
        for (const bool noDist : {false, true}) {
            Lens litLens = litChain(litMax, 258);
            std::swap(litLens[litMax - 1], litLens[257]);  // one length symbol (257) among the codes
            const Lens dist = noDist ? Lens{0} : Lens{1};
            PayloadWriter p(litLens, noDist ? Lens{0} : Lens{1, 0});
            p.literal(0);
            p.symbol(257);
            if (!noDist) p.w.code(1, 1);  // the free pattern
            p.endOfBlock();
            InflateContext c{};
            ASSERT_EQ(build(concat(litLens, dist), 258, 1, &c), kelStatusOk);
            EXPECT_EQ(c.tableKind, litMax <= 11 ? 2u : 1u);
            for (const std::size_t pad : {std::size_t(0), std::size_t(40)}) {
                Bytes src = p.w.bytes();
                src.resize(src.size() + pad, 0);
                Kel8u out[64];
                Call k{src.data(), int(src.size()), 0, 0, out, 64};
                EXPECT_EQ(k.run(c), kelStatusBadStream) << litMax << (noDist ? " no distances" : " free pattern");
                EXPECT_EQ(k.dstLen, 63);
            }
        }
    }
}

// ---- Randomized: random codes, payloads and splits ---------------------------------------------------------------

// Depths of a random complete prefix code with n leaves (n >= 2), none deeper than maxLen.
std::vector<unsigned> randomCompleteDepths(std::mt19937_64& rng, unsigned n, unsigned maxLen) {
    std::vector<unsigned> d = {1, 1};
    const bool deep = rng() % 3 == 0;
    while (d.size() < n) {
        std::vector<std::size_t> open;
        for (std::size_t i = 0; i < d.size(); ++i)
            if (d[i] < maxLen) open.push_back(i);
        if (open.empty()) break;
        std::size_t pick = open[rng() % open.size()];
        if (deep)
            pick =
                *std::max_element(open.begin(), open.end(), [&](std::size_t a, std::size_t b) { return d[a] < d[b]; });
        ++d[pick];
        d.push_back(d[pick]);
    }
    return d;
}

// Lengths for `count` random symbols out of [0, alphabet), `forced` (if < alphabet) always among them.
Lens randomLengths(std::mt19937_64& rng, unsigned alphabet, unsigned count, unsigned maxLen, unsigned forced) {
    Lens l(alphabet, 0);
    if (count == 0) return l;
    std::vector<unsigned> syms(alphabet);
    for (unsigned i = 0; i < alphabet; ++i) syms[i] = i;
    std::shuffle(syms.begin(), syms.end(), rng);
    if (forced < alphabet) std::iter_swap(syms.begin(), std::find(syms.begin(), syms.end(), forced));
    if (count == 1) {
        l[syms[0]] = 1;
        return l;
    }
    const std::vector<unsigned> depths = randomCompleteDepths(rng, count, maxLen);
    for (std::size_t k = 0; k < depths.size(); ++k) l[syms[k]] = std::uint16_t(depths[k]);
    return l;
}

struct RandomBlock {
    Lens litLens, distLens;
    Bytes history;   // bytes before the block's output
    Bytes expected;  // the block's output
    Bytes stream;    // payload, then trailing bytes
    std::size_t eobEndBit = 0;
};

RandomBlock makeRandomBlock(std::mt19937_64& rng) {
    RandomBlock b;
    const unsigned maxLit = rng() % 2 ? 11 : 15, maxDist = rng() % 2 ? 10 : 15;
    const unsigned nLit = rng() % 20 == 0 ? 1 : 2 + unsigned(rng() % 285);
    const unsigned nDist = rng() % 10 == 0 ? unsigned(rng() % 2) : 2 + unsigned(rng() % 29);
    b.litLens = randomLengths(rng, 286, nLit, maxLit, 256);
    b.distLens = randomLengths(rng, 30, nDist, maxDist, 99);
    b.history = randomBytes(rng, rng() % 3 == 0 ? 0 : rng() % 40000);
    PayloadWriter p(b.litLens, b.distLens);
    std::vector<unsigned> lits, lenSyms, distSyms;
    for (unsigned s = 0; s < 256; ++s)
        if (b.litLens[s]) lits.push_back(s);
    for (unsigned s = 257; s < 286; ++s)
        if (b.litLens[s]) lenSyms.push_back(s);
    for (unsigned s = 0; s < 30; ++s)
        if (b.distLens[s]) distSyms.push_back(s);
    const std::size_t ops = rng() % 3000;
    for (std::size_t k = 0; k < ops; ++k) {
        const std::size_t avail = std::min<std::size_t>(b.history.size() + b.expected.size(), 32768);
        bool done = false;
        if (!lenSyms.empty() && !distSyms.empty() && rng() % 2) {
            const unsigned ls = lenSyms[rng() % lenSyms.size()] - 257, ds = distSyms[rng() % distSyms.size()];
            const unsigned len = kLenBase[ls] + unsigned(rng() % (1u << kLenExtra[ls]));
            const unsigned dist = kDistBase[ds] + unsigned(rng() % (1u << kDistExtra[ds]));
            if (lengthSymbol(len) == ls && dist <= avail) {  // 258 is written as symbol 285 only
                p.match(len, dist);
                for (unsigned i = 0; i < len; ++i) {
                    const std::size_t pos = b.history.size() + b.expected.size() - dist;
                    b.expected.push_back(pos < b.history.size() ? b.history[pos] : b.expected[pos - b.history.size()]);
                }
                done = true;
            }
        }
        if (!done && !lits.empty()) {
            const std::uint8_t v = std::uint8_t(lits[rng() % lits.size()]);
            p.literal(v);
            b.expected.push_back(v);
        }
    }
    p.endOfBlock();
    b.eobEndBit = p.w.bitCount();
    b.stream = p.w.bytes();
    const Bytes tail = randomBytes(rng, 1 + rng() % 8);
    b.stream.insert(b.stream.end(), tail.begin(), tail.end());
    return b;
}

std::size_t randomPiece(std::mt19937_64& rng) {
    switch (rng() % 4) {
        case 0:
            return 1 + rng() % 3;
        case 1:
            return 1 + rng() % 40;
        default:
            return 1 + rng() % 5000;
    }
}

bool streamBit(const Bytes& s, std::size_t i) {
    return (s[i / 8] >> (i % 8)) & 1;
}

// Decodes b.stream in random source pieces and destination rooms. windowProtocol: each call gets a fresh
// destination and the output so far lives in a 32 KiB circular window; otherwise one buffer holds history and
// output and dstPos grows.
void decodeRandomBlock(std::mt19937_64& rng, const RandomBlock& b, bool windowProtocol) {
    InflateContext c{};
    const Lens all = concat(b.litLens, b.distLens);
    ASSERT_EQ(build(all, 286, 30, &c), kelStatusOk);
    Bytes window(32768);
    Kel32u winPos = Kel32u(rng() % 32769);
    const std::size_t hist = windowProtocol ? std::min<std::size_t>(b.history.size(), 32768) : b.history.size();
    for (std::size_t k = 1; k <= hist; ++k) window[(winPos + 32768 - k) % 32768] = b.history[b.history.size() - k];
    if (windowProtocol) {
        c.window = window.data();
        c.windowSize = 32768;
    }

    GuardedBuffer whole(b.history.size() + b.expected.size() + 1);
    std::copy(b.history.begin(), b.history.end(), whole.data());
    GuardedBuffer srcPiece(5000), dstPiece(5000);
    Bytes out;
    std::size_t srcPos = 0;
    const std::uint8_t* src = nullptr;
    int srcLen = 0;
    Kel32u bitBuf = 0, bitCount = 0;
    int mode = 0;
    for (int guard = 0; guard < 1000000; ++guard) {
        if (srcLen == 0) {
            ASSERT_LT(srcPos, b.stream.size()) << "the stream ended before the block";
            const std::size_t n = std::min(randomPiece(rng), b.stream.size() - srcPos);
            std::uint8_t* at = srcPiece.data() + srcPiece.size() - n;
            std::copy(b.stream.begin() + std::ptrdiff_t(srcPos), b.stream.begin() + std::ptrdiff_t(srcPos + n), at);
            src = at;
            srcLen = int(n);
            srcPos += n;
        }
        const std::size_t room = randomPiece(rng);
        Kel8u* dst;
        Kel32u dstPos;
        if (windowProtocol) {
            dst = dstPiece.data() + dstPiece.size() - room;
            dstPos = 0;
        } else {
            dstPos = Kel32u(b.history.size() + out.size());
            dst = whole.data() + dstPos;
        }
        Kel8u* const dstStart = dst;
        int dstLen = int(windowProtocol ? room : std::min(room, whole.size() - dstPos));
        Kel8u* s = const_cast<Kel8u*>(src);
        const KelStatus st = kelsInflate_8u(&s, &srcLen, &bitBuf, &bitCount, windowProtocol ? winPos : 0, &dst, &dstLen,
                                            dstPos, &mode, &c);
        src = s;
        ASSERT_EQ(st, kelStatusOk);
        out.insert(out.end(), dstStart, dst);
        for (Kel8u* q = dstStart; windowProtocol && q != dst; ++q) {
            window[winPos % 32768] = *q;
            winPos = (winPos % 32768) + 1;
        }
        if (mode == InflateModeEndOfBlock) break;
        ASSERT_TRUE(srcLen == 0 || dstLen == 0) << "stopped with input and room left";
        ASSERT_LE(out.size(), b.expected.size());
    }
    ASSERT_EQ(mode, InflateModeEndOfBlock);
    if (out != b.expected) {
        std::size_t k = 0;
        while (k < out.size() && k < b.expected.size() && out[k] == b.expected[k]) ++k;
        FAIL() << "first difference at " << k << " of " << b.expected.size() << " (got " << out.size()
               << "), table kind " << c.tableKind << ", history " << b.history.size();
    }
    // What is left (held bits, then the unread source) is exactly the stream after the end-of-block code.
    ASSERT_LE(bitCount, 32u);
    std::size_t pos = b.eobEndBit;
    for (unsigned i = 0; i < bitCount; ++i, ++pos) ASSERT_EQ(((bitBuf >> i) & 1) != 0, streamBit(b.stream, pos));
    ASSERT_EQ(pos, 8 * (srcPos - std::size_t(srcLen)));
}

TEST(Inflate, RandomCodesPayloadsAndSplitsMatchTheReference) {
    SCOPED_TRACE(seedNote());
    std::mt19937_64 rng = makeRng(41);
    for (int iter = 0; iter < 300; ++iter) {
        const RandomBlock b = makeRandomBlock(rng);
        SCOPED_TRACE("iteration " + std::to_string(iter));
        decodeRandomBlock(rng, b, iter % 2 == 1);
        if (HasFatalFailure()) return;
    }
}

TEST(Inflate, EverySourceAndDestinationSplitGivesTheSameOutput) {
    const Bytes payload = abMatchPayload();
    const Bytes expected = abExpected();
    for (std::size_t cut = 0; cut <= payload.size(); ++cut) {
        for (std::size_t room = 0; room <= expected.size(); ++room) {
            GuardedBuffer a(cut ? cut : 1), b(payload.size() - cut ? payload.size() - cut : 1);
            a.fill(payload.data(), cut);
            b.fill(payload.data() + cut, payload.size() - cut);
            GuardedBuffer out(expected.size());
            Call k{a.data(), int(cut), 0, 0, out.data(), int(room)};
            InflateContext& c = fixedContext();
            ASSERT_EQ(k.run(c), kelStatusOk);
            const int written1 = int(room) - k.dstLen;
            // Second call: the rest of the source (if the first ran dry) and the rest of the room.
            if (k.mode != InflateModeEndOfBlock) {
                if (k.srcLen == 0) {
                    k.src = b.data();
                    k.srcLen = int(payload.size() - cut);
                }
                k.dstLen = int(expected.size()) - written1;
                ASSERT_EQ(k.run(c, 0, Kel32u(written1)), kelStatusOk);
                if (k.mode != InflateModeEndOfBlock && k.srcLen == 0) {
                    k.src = b.data();
                    k.srcLen = int(payload.size() - cut);
                    ASSERT_EQ(k.run(c, 0, Kel32u(expected.size() - std::size_t(k.dstLen))), kelStatusOk);
                }
            }
            ASSERT_EQ(k.mode, InflateModeEndOfBlock) << cut << " " << room;
            ASSERT_EQ(Bytes(out.data(), out.data() + expected.size()), expected) << cut << " " << room;
        }
    }
}

// ---- Damaged payloads -------------------------------------------------------------------------------------------

TEST(InflateDamagedStreams, RandomTablesAndPayloadsStayInBounds) {
    SCOPED_TRACE(seedNote());
    std::mt19937_64 rng = makeRng(10);
    for (int iter = 0; iter < 400; ++iter) {
        RandomBlock b = makeRandomBlock(rng);
        for (int f = 0; f < 3; ++f) b.stream[rng() % b.stream.size()] ^= std::uint8_t(rng());
        InflateContext c{};
        ASSERT_EQ(build(concat(b.litLens, b.distLens), 286, 30, &c), kelStatusOk);
        Bytes window = randomBytes(rng, 4096);
        c.window = rng() % 2 ? window.data() : nullptr;
        c.windowSize = 4096;
        GuardedBuffer src(b.stream.size()), out(1 + rng() % 3000);
        src.fill(b.stream.data(), b.stream.size());
        Call k{src.data(), int(src.size()), 0, 0, out.data(), int(out.size())};
        const KelStatus st = k.run(c, Kel32u(rng() % 4097), 0);
        ASSERT_TRUE(st == kelStatusOk || st == kelStatusBadStream);
        ASSERT_LE(k.bitCount, 32u);
        ASSERT_GE(k.srcLen, 0);
        ASSERT_GE(k.dstLen, 0);
    }
}

// Calls with enough source and room decode through packed copies of the two-level first levels; smaller calls
// read the context's tables. On corrupted payloads both must fail at the same symbol with the same output.
TEST(InflateDamagedStreams, LargeAndSmallCallsAgreeOnCorruptPayloads) {
    SCOPED_TRACE(seedNote());
    std::mt19937_64 rng = makeRng(11);
    for (int iter = 0; iter < 300; ++iter) {
        RandomBlock b = makeRandomBlock(rng);
        for (int f = 0; f < 1 + iter % 4; ++f) b.stream[rng() % b.stream.size()] ^= std::uint8_t(1 + rng() % 255);
        InflateContext c{};
        ASSERT_EQ(build(concat(b.litLens, b.distLens), 286, 30, &c), kelStatusOk);
        const Bytes window = randomBytes(rng, 32768);
        c.window = window.data();
        c.windowSize = 32768;
        const std::size_t room = b.expected.size() + 4096;

        GuardedBuffer src(b.stream.size()), whole(room);
        src.fill(b.stream.data(), b.stream.size());
        Call big{src.data(), int(src.size()), 0, 0, whole.data(), int(whole.size())};
        const KelStatus bigStatus = big.run(c, 32768, 0);
        const Bytes bigOut(whole.data(), big.dst);

        // The same stream, 64 source bytes per call: below the size that repacks.
        InflateContext c2 = c;
        Bytes pieceOut(room);
        Call small{src.data(), 0, 0, 0, pieceOut.data(), int(room)};
        KelStatus smallStatus = kelStatusOk;
        std::size_t fed = 0;
        for (;;) {
            const std::size_t n = std::min<std::size_t>(64, b.stream.size() - fed);
            small.srcLen += int(n);
            fed += n;
            smallStatus = small.run(c2, 32768, Kel32u(small.dst - pieceOut.data()));
            if (smallStatus != kelStatusOk || small.mode == 0 || fed == b.stream.size()) break;
        }
        pieceOut.resize(std::size_t(small.dst - pieceOut.data()));
        ASSERT_EQ(bigStatus, smallStatus) << "iteration " << iter;
        if (bigStatus == kelStatusBadStream || (big.mode == 0 && small.mode == 0)) {
            ASSERT_EQ(bigOut, pieceOut) << "iteration " << iter;
        }
    }
}

// Far into the output the packed loop stops checking distances of plain entries, which a stream cannot make
// longer than 32 KiB. A damaged context can: its distance values must then go the checked way, so that a large
// call still fails (or decodes) exactly as small calls over the same context, and never reads before the history.
TEST(InflateDamagedStreams, DamagedDistancesFarIntoTheOutputAreStillChecked) {
    SCOPED_TRACE(seedNote());
    std::mt19937_64 rng = makeRng(13);
    constexpr std::size_t kBefore = 70000, kHistory = 40000;
    int failures = 0;
    for (int iter = 0; iter < 60; ++iter) {
        RandomBlock b = makeRandomBlock(rng);
        InflateContext c{};
        ASSERT_EQ(build(concat(b.litLens, b.distLens), 286, 30, &c), kelStatusOk);
        if (c.tableKind != 1) continue;
        // Distance values up to 64 KiB for about half of the codes in the first level, the info bytes left as
        // built. Every index of a code gets the same value: the packed copy is made for the builder's periodic
        // layout, and only there must it decode exactly as the context.
        const std::uint64_t salt = rng();
        for (unsigned i = 0; i < 1024; ++i) {
            const unsigned n = c.tables[kel::inflate::kDistInfo1 + i] & 15;
            if (n == 0 || n > 10) continue;
            const std::uint64_t h = (std::uint64_t(i & ((1u << n) - 1)) + 1) * 0x9E3779B97F4A7C15ull ^ salt;
            if ((h >> 40) & 1) continue;
            const unsigned v = 16384 + unsigned((h >> 20) % 49152);
            c.tables[kel::inflate::kDistVal1 + 2 * i] = Kel8u(v);
            c.tables[kel::inflate::kDistVal1 + 2 * i + 1] = Kel8u(v >> 8);
        }
        const std::size_t room = b.expected.size() + 4096;
        auto decode = [&](std::size_t piece, Bytes& out) {
            // Bytes before the history are there (no fault), so only the status tells a read of them apart.
            Bytes buf(kBefore + kHistory + room, 0x5A);
            InflateContext cc = c;
            Call k{b.stream.data(), 0, 0, 0, buf.data() + kBefore + kHistory, int(room)};
            KelStatus st = kelStatusOk;
            for (std::size_t fed = 0;;) {
                const std::size_t n = std::min(piece, b.stream.size() - fed);
                k.srcLen += int(n);
                fed += n;
                st = k.run(cc, 0, Kel32u(k.dst - (buf.data() + kBefore)));
                if (st != kelStatusOk || k.mode == 0 || fed == b.stream.size()) break;
            }
            out.assign(buf.data() + kBefore + kHistory, k.dst);
            return st;
        };
        Bytes bigOut, smallOut;
        const KelStatus bigStatus = decode(b.stream.size(), bigOut);
        const KelStatus smallStatus = decode(64, smallOut);
        ASSERT_EQ(bigStatus, smallStatus) << "iteration " << iter;
        ASSERT_EQ(bigOut, smallOut) << "iteration " << iter;
        failures += bigStatus == kelStatusBadStream;
    }
    EXPECT_GT(failures, 10);  // the damage is reached, not decoded around
}

}  // namespace
}  // namespace kel::test

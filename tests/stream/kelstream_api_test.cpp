// tests/stream/kelstream_api_test.cpp - the calls every format shares: options, detection, argument checks,
// sticky errors, and the one-shot calls' room handling.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "support/kelstream_util.h"

namespace {

TEST(KelStreamApi, DetectsEveryMagic) {
    struct Case {
        std::vector<std::uint8_t> head;
        KelStreamFormat want;
    } cases[] = {
        {{0x1f, 0x8b, 8, 0}, kelFormatGzip},
        {{0x78, 0x9c, 0, 0}, kelFormatZlib},
        {{'B', 'Z', 'h', '9'}, kelFormatBzip2},
        {{'B', 'Z', 'h', '0'}, kelFormatAuto},
        {{0x04, 0x22, 0x4d, 0x18}, kelFormatLz4},
        {{0x5a, 0x2a, 0x4d, 0x18}, kelFormatLz4},
        {{0x02, 0x21, 0x4c, 0x18}, kelFormatLz4},
        {{0x89, 'L', 'Z', 'O'}, kelFormatLzop},
        {{'K', 'L', 'Z', 'S'}, kelFormatLzss},
        {{'h', 'e', 'l', 'l'}, kelFormatAuto},
        {{0x1f}, kelFormatAuto},
    };
    for (const auto& c : cases) EXPECT_EQ(kelStreamDetectFormat(c.head.data(), c.head.size()), c.want);
    EXPECT_EQ(kelStreamDetectFormat(nullptr, 4), kelFormatAuto);
}

TEST(KelStreamApi, RejectsBadArgumentsWithoutTouchingOutputs) {
    KelStream* s = reinterpret_cast<KelStream*>(1);
    EXPECT_EQ(kelStreamCreate(nullptr, kelFormatGzip, kelCompress, nullptr), kelStreamErrArgument);
    EXPECT_EQ(kelStreamCreate(&s, kelFormatAuto, kelCompress, nullptr), kelStreamErrArgument);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(kelStreamCreate(&s, KelStreamFormat(99), kelDecompress, nullptr), kelStreamErrArgument);
    KelStreamOptions o = kel::test::defaultStreamOptions();
    o.level = -1;
    EXPECT_EQ(kelStreamCreate(&s, kelFormatGzip, kelCompress, &o), kelStreamErrArgument);
    EXPECT_EQ(kelStreamProcess(nullptr, nullptr, nullptr, nullptr, nullptr, kelFlushNone), kelStreamErrArgument);
    EXPECT_EQ(kelStreamCompressBound(kelFormatAuto, 10, nullptr), 0u);
    // Values outside the enums, as a C caller may pass them.
    EXPECT_EQ(kelStreamCreate(&s, kelFormatGzip, KelStreamDirection(5), nullptr), kelStreamErrArgument);
    EXPECT_EQ(kelStreamCreate(&s, KelStreamFormat(-3), kelDecompress, nullptr), kelStreamErrArgument);
    EXPECT_EQ(kelStreamCompressBound(KelStreamFormat(99), 10, nullptr), 0u);
    std::uint8_t byte = 0;
    std::size_t one = 1;
    EXPECT_EQ(kelStreamCompress(KelStreamFormat(99), &byte, 1, &byte, &one, nullptr), kelStreamErrArgument);
    EXPECT_EQ(kelStreamDecompress(KelStreamFormat(99), &byte, 1, &byte, &one, nullptr), kelStreamErrArgument);
    void* grown = nullptr;
    EXPECT_EQ(kelStreamDecompressAlloc(KelStreamFormat(99), &byte, 1, &grown, &one, nullptr), kelStreamErrArgument);
    ASSERT_EQ(kelStreamCreate(&s, kelFormatGzip, kelCompress, nullptr), kelStreamOk);
    std::size_t inLen = 1, outLen = 1;
    EXPECT_EQ(kelStreamProcess(s, &byte, &inLen, &byte, &outLen, KelStreamFlush(9)), kelStreamErrArgument);
    kelStreamFree(s);
    kelStreamFree(nullptr);
    EXPECT_STRNE(kelStreamResultText(KelStreamResult(-100)), "");
}

TEST(KelStreamApi, AutoDetectionReportsUnknownAndEmptyInput) {
    std::vector<std::uint8_t> text(100, 'x');
    auto run = kel::test::runStream(kelFormatAuto, kelDecompress, text);
    EXPECT_EQ(run.result, kelStreamErrUnknownFormat);
    EXPECT_TRUE(run.out.empty());
    run = kel::test::runStream(kelFormatAuto, kelDecompress, {});
    EXPECT_EQ(run.result, kelStreamErrTruncated);
    std::vector<std::uint8_t> out(16);
    std::size_t outLen = out.size();
    EXPECT_EQ(kelStreamDecompress(kelFormatAuto, text.data(), text.size(), out.data(), &outLen, nullptr),
              kelStreamErrUnknownFormat);
}

// The allocator hooks see every allocation, and everything allocated is given back.
struct CountingHeap {
    long live = 0, calls = 0;
    static void* alloc(void* opaque, std::size_t n) {
        auto* h = static_cast<CountingHeap*>(opaque);
        ++h->live;
        ++h->calls;
        return std::malloc(n);
    }
    static void release(void* opaque, void* p) {
        --static_cast<CountingHeap*>(opaque)->live;
        std::free(p);
    }
};

TEST(KelStreamApi, AllocatorHooksBalance) {
    CountingHeap heap;
    KelStreamOptions o = kel::test::defaultStreamOptions();
    o.alloc = CountingHeap::alloc;
    o.free = CountingHeap::release;
    o.opaque = &heap;
    o.name = "a name";
    KelStream* s = nullptr;
    ASSERT_EQ(kelStreamCreate(&s, kelFormatAuto, kelDecompress, &o), kelStreamOk);
    kelStreamFree(s);
    EXPECT_GT(heap.calls, 0);
    EXPECT_EQ(heap.live, 0);
}

}  // namespace

namespace {

constexpr KelStreamFormat kEveryFormat[] = {kelFormatGzip, kelFormatZlib, kelFormatDeflate, kelFormatBzip2,
                                            kelFormatLz4,  kelFormatLzop, kelFormatLzss};

std::vector<std::uint8_t> sampleText(std::size_t n) {
    std::vector<std::uint8_t> v(n);
    std::uint32_t x = 12345;
    for (std::size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        v[i] = static_cast<std::uint8_t>("the quick brown fox "[(x >> 16) % 20]);
    }
    return v;
}

// One-shot decompression fits an output of exactly the decoded size (the end is verified with no room left),
// reports a room one byte short as such, and detects every format that carries a magic.
TEST(KelStreamApi, OneShotCallsFitExactRoomForEveryFormat) {
    for (std::size_t n : {std::size_t(0), std::size_t(1), std::size_t(70000)}) {
        std::vector<std::uint8_t> text = sampleText(n);
        for (KelStreamFormat f : kEveryFormat) {
            SCOPED_TRACE(testing::Message() << "format " << f << " size " << n);
            std::vector<std::uint8_t> packed(kelStreamCompressBound(f, n, nullptr));
            std::size_t packedLen = packed.size();
            ASSERT_EQ(kelStreamCompress(f, text.data(), n, packed.data(), &packedLen, nullptr), kelStreamEnd);
            KelStreamFormat as = f == kelFormatDeflate ? kelFormatDeflate : kelFormatAuto;
            std::vector<std::uint8_t> out(n);
            std::size_t outLen = n;
            EXPECT_EQ(kelStreamDecompress(as, packed.data(), packedLen, out.data(), &outLen, nullptr), kelStreamEnd);
            EXPECT_EQ(outLen, n);
            EXPECT_EQ(out, text);
            if (n > 0) {
                outLen = n - 1;
                EXPECT_EQ(kelStreamDecompress(as, packed.data(), packedLen, out.data(), &outLen, nullptr),
                          kelStreamErrNoRoom);
            }
            void* grown = nullptr;
            std::size_t grownLen = 0;
            ASSERT_EQ(kelStreamDecompressAlloc(as, packed.data(), packedLen, &grown, &grownLen, nullptr),
                      kelStreamEnd);
            ASSERT_EQ(grownLen, n);
            EXPECT_TRUE(n == 0 || std::memcmp(grown, text.data(), n) == 0);
            std::free(grown);
            // A compressed room one byte short of the stream is refused, never overrun.
            std::vector<std::uint8_t> shortRoom(packedLen - 1);
            std::size_t shortLen = shortRoom.size();
            EXPECT_EQ(kelStreamCompress(f, text.data(), n, shortRoom.data(), &shortLen, nullptr), kelStreamErrNoRoom);
        }
    }
}

}  // namespace

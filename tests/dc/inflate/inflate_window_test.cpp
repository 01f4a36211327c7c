// tests/dc/inflate/inflate_window_test.cpp - kelsInflate_8u decoding straight into the caller's circular window.
//
// A circular-window caller passes destination = window + winPos with room up to the window's end and dstPos 0,
// then advances winPos by what was written (wrapping to 0 at the end). Every byte of the room past the current
// output is older history that later matches may still read, so the decoder must write exactly what it
// decodes there. The streams here pair short matches (whose block copies used to run past their end) with matches
// reaching almost or exactly windowSize back; the window starts full of history, handed to zlib as a preset
// dictionary, and zlib's output is the reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "inflate_test_util.h"
#include "keldc.h"

namespace kel::test {
namespace {

constexpr Kel32u kWindow = 32768;
constexpr Kel32u kStartPositions[] = {0, 777, 16384};

// zlib's raw inflate of a whole stream, with the window's history as its dictionary.
Bytes zlibInflateRaw(const Bytes& stream, const Bytes& dict) {
    z_stream z{};
    EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
    EXPECT_EQ(inflateSetDictionary(&z, dict.data(), uInt(dict.size())), Z_OK);
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = uInt(stream.size());
    Bytes out;
    std::uint8_t chunk[1 << 14];
    int r = Z_OK;
    while (r == Z_OK) {
        z.next_out = chunk;
        z.avail_out = sizeof chunk;
        r = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), chunk, chunk + (sizeof chunk - z.avail_out));
        if (r == Z_BUF_ERROR) break;
    }
    EXPECT_EQ(r, Z_STREAM_END);
    inflateEnd(&z);
    return out;
}

Bytes zlibDeflateRaw(const Bytes& plain, const Bytes& dict, int level, int strategy, int windowBits) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -windowBits, 8, strategy);
    deflateSetDictionary(&z, dict.data(), uInt(dict.size()));
    Bytes out(deflateBound(&z, plain.size()) + 64);
    z.next_in = const_cast<Bytef*>(plain.data());
    z.avail_in = uInt(plain.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// A raw Deflate reader that keeps its history in one circular window, as large as the history it starts with
// (a power of two), and lets kelsInflate_8u write
// into that window directly. maxRoom 0 gives each call the room up to the window's end; otherwise a random
// room of 1..maxRoom bytes (never past the window's end).
class WindowCaller {
public:
    WindowCaller(const Bytes& history, Kel32u winPos, std::size_t maxRoom, std::uint64_t seed)
        : size_(Kel32u(history.size())), window_(size_), winPos_(winPos), maxRoom_(maxRoom), rng_(seed) {
        std::memset(&ctx_, 0, sizeof ctx_);
        for (Kel32u k = 0; k < size_; ++k) window_[(winPos + k) % size_] = history[k];
        ctx_.window = window_.data();
        ctx_.windowSize = size_;
    }

    void decode(const Bytes& stream) {
        GuardedBuffer in(stream.size());
        in.fill(stream.data(), stream.size());
        src_ = in.data();
        srcLen_ = int(stream.size());
        for (bool final = false; !final;) {
            final = bits(1) != 0;
            const unsigned type = bits(2);
            if (type == 0) {
                storedBlock();
            } else if (type == 1) {
                ctx_.tableKind = 0;
                payload();
            } else {
                ASSERT_EQ(type, 2u) << "reserved block type";
                ASSERT_NO_FATAL_FAILURE(dynamicHeader());
                payload();
            }
            if (::testing::Test::HasFatalFailure()) return;
        }
    }

    const Bytes& output() const { return out_; }
    unsigned kindsSeen() const { return kinds_; }

private:
    bool pull() {
        if (srcLen_ == 0) return false;
        bitBuf_ |= Kel32u(*src_++) << bitCount_;
        bitCount_ += 8;
        --srcLen_;
        return true;
    }

    unsigned bits(unsigned n) {
        while (bitCount_ < n)
            if (!pull()) {
                ADD_FAILURE() << "stream ended inside a header";
                return 0;
            }
        const unsigned v = bitBuf_ & ((1u << n) - 1);
        bitBuf_ = n == 32 ? 0 : bitBuf_ >> n;
        bitCount_ -= n;
        return v;
    }

    void put(std::uint8_t b) {
        window_[winPos_] = b;
        winPos_ = (winPos_ + 1) % size_;
        out_.push_back(b);
    }

    void storedBlock() {
        bits(bitCount_ % 8);
        const unsigned len = bits(16), nlen = bits(16);
        ASSERT_EQ(len, nlen ^ 0xFFFFu);
        for (unsigned k = 0; k < len; ++k) put(std::uint8_t(bits(8)));
    }

    // Decodes one symbol of a canonical code, bit by bit (the code-length code only).
    unsigned decodeSymbol(const std::vector<std::uint16_t>& lens, const std::vector<std::uint32_t>& codes) {
        std::uint32_t code = 0;
        for (unsigned len = 1; len <= 15; ++len) {
            code = (code << 1) | bits(1);
            for (std::size_t s = 0; s < lens.size(); ++s)
                if (lens[s] == len && codes[s] == code) return unsigned(s);
        }
        ADD_FAILURE() << "invalid code-length code";
        return 0;
    }

    void dynamicHeader() {
        static constexpr unsigned kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
        const unsigned hlit = bits(5) + 257, hdist = bits(5) + 1, hclen = bits(4) + 4;
        std::vector<std::uint16_t> clLens(19, 0);
        for (unsigned k = 0; k < hclen; ++k) clLens[kOrder[k]] = std::uint16_t(bits(3));
        const std::vector<std::uint32_t> clCodes = canonicalCodes(clLens);
        std::vector<Kel16u> lens;
        while (lens.size() < hlit + hdist) {
            const unsigned sym = decodeSymbol(clLens, clCodes);
            if (sym < 16) {
                lens.push_back(Kel16u(sym));
            } else if (sym == 16) {
                ASSERT_FALSE(lens.empty());
                lens.insert(lens.end(), 3 + bits(2), lens.back());
            } else {
                lens.insert(lens.end(), sym == 17 ? 3 + bits(3) : 11 + bits(7), 0);
            }
        }
        ASSERT_EQ(lens.size(), std::size_t(hlit + hdist));
        ASSERT_EQ(kelsInflateBuildHuffTable(lens.data(), hlit, int(hdist), &ctx_), kelStatusOk);
    }

    // The block payload, one call per destination room inside the window.
    void payload() {
        kinds_ |= 1u << ctx_.tableKind;
        int mode = InflateModeEndOfBlock;
        for (int guard = 0; guard < 10000000; ++guard) {
            Kel8u* const start = window_.data() + winPos_;
            std::size_t room = size_ - winPos_;
            if (maxRoom_ != 0) room = std::min<std::size_t>(room, 1 + rng_() % maxRoom_);
            Kel8u* dst = start;
            int dstLen = int(room);
            Kel8u* s = const_cast<Kel8u*>(src_);
            ASSERT_EQ(kelsInflate_8u(&s, &srcLen_, &bitBuf_, &bitCount_, winPos_, &dst, &dstLen, 0, &mode, &ctx_),
                      kelStatusOk);
            src_ = s;
            ASSERT_EQ(std::size_t(dst - start) + std::size_t(dstLen), room);
            out_.insert(out_.end(), start, dst);
            winPos_ = Kel32u((winPos_ + (dst - start)) % size_);
            if (mode == InflateModeEndOfBlock) break;
            ASSERT_EQ(dstLen, 0) << "stopped with room left: the stream is truncated";
        }
        ASSERT_EQ(mode, InflateModeEndOfBlock);
        bitBuf_ &= bitCount_ == 32 ? ~0u : (1u << bitCount_) - 1;
    }

    Kel32u size_;
    Bytes window_;
    Kel32u winPos_;
    std::size_t maxRoom_;
    std::mt19937_64 rng_;
    InflateContext ctx_;
    const Kel8u* src_ = nullptr;
    int srcLen_ = 0;
    Kel32u bitBuf_ = 0, bitCount_ = 0;
    Bytes out_;
    unsigned kinds_ = 0;
};

// Decodes the stream at every start position and room pattern and compares with zlib. The window is as large as
// the history; a small one takes positions 0, 77 and the middle instead.
void expectSameAsZlib(const Bytes& stream, const Bytes& history, std::uint64_t seed, unsigned* kinds = nullptr) {
    const Bytes expected = zlibInflateRaw(stream, history);
    const Kel32u size = Kel32u(history.size());
    const std::vector<Kel32u> positions =
        size == kWindow ? std::vector<Kel32u>(std::begin(kStartPositions), std::end(kStartPositions))
                        : std::vector<Kel32u>{0, 77, size / 2};
    for (const Kel32u pos : positions) {
        for (const std::size_t maxRoom : {std::size_t(0), std::size_t(40), std::size_t(5000)}) {
            WindowCaller caller(history, pos, maxRoom, seed + pos + maxRoom);
            ASSERT_NO_FATAL_FAILURE(caller.decode(stream));
            const Bytes& got = caller.output();
            if (got != expected) {
                std::size_t k = 0;
                while (k < got.size() && k < expected.size() && got[k] == expected[k]) ++k;
                FAIL() << "window position " << pos << ", room up to " << (maxRoom ? maxRoom : size - pos)
                       << ": first difference at byte " << k << " of " << expected.size();
            }
            if (kinds) *kinds |= caller.kindsSeen();
        }
    }
}

// Fixed-code stream: one block with the given payload.
struct Crafted {
    PayloadWriter p = PayloadWriter::fixed();
    Crafted() {
        p.w.bits(1, 1);  // final block
        p.w.bits(1, 2);  // fixed code
    }
    Bytes finish() {
        p.endOfBlock();
        return p.w.bytes();
    }
};

TEST(InflateIntoWindow, RunThenMatchAWholeWindowBack) {
    // 'A' and a 19-byte run of it, then 20 bytes from exactly windowSize back: the oldest history, which sits
    // in the room just past the run. Literals follow, so that the source is long enough for the fast kernel.
    std::mt19937_64 rng = makeRng(61);
    const Bytes history = randomBytes(rng, kWindow);
    Crafted c;
    c.p.literal('A');
    c.p.match(19, 1);
    c.p.match(20, kWindow);
    for (int k = 0; k < 32; ++k) c.p.literal(std::uint8_t('a' + k % 26));
    expectSameAsZlib(c.finish(), history, 1);
}

TEST(InflateIntoWindow, CraftedShortAndFarMatchesAcrossSeveralWraps) {
    SCOPED_TRACE(seedNote());
    std::mt19937_64 rng = makeRng(62);
    const Bytes history = repetitiveBytes(rng, kWindow);
    Crafted c;
    std::size_t produced = 0;
    while (produced < 4 * kWindow) {
        const unsigned pick = unsigned(rng() % 8);
        unsigned len = 3 + unsigned(rng() % 256);
        if (pick == 0) {
            c.p.literal(std::uint8_t(rng()));
            len = 1;
        } else if (pick <= 3) {
            // Short distances (periodic and block copies), each followed by far matches below.
            c.p.match(len, 1 + unsigned(rng() % 40));
        } else if (pick <= 5) {
            c.p.match(len, kWindow - unsigned(rng() % 64));
        } else {
            c.p.match(len, kWindow - 258 - unsigned(rng() % 2000));
        }
        produced += len;
    }
    expectSameAsZlib(c.finish(), history, 2);
}

// Bytes with runs, short repeats and copies from up to maxDist back (the encoder's limit), after the history.
// skewed: bursts of literals with geometrically distributed values (long literal codes, the two-level table).
Bytes farReferencingBytes(std::mt19937_64& rng, const Bytes& history, std::size_t n, bool skewed, unsigned maxDist) {
    Bytes v = history;
    const std::size_t start = v.size();
    while (v.size() - start < n) {
        const unsigned pick = unsigned(rng() % 10);
        if (pick < 4) {
            for (std::size_t k = skewed ? 1 + rng() % 64 : 1; k > 0; --k) {
                unsigned sym = 0;
                while (skewed && sym < 40 && rng() % 2) ++sym;
                v.push_back(skewed ? std::uint8_t('a' + sym) : std::uint8_t(rng()));
            }
        } else if (pick < 6) {
            v.insert(v.end(), 3 + rng() % 300, v.back());
        } else if (pick < 8) {
            const std::size_t from = v.size() - 2 - rng() % 30, len = 3 + rng() % 100;
            for (std::size_t k = 0; k < len; ++k) v.push_back(v[from + k]);
        } else {
            const std::size_t from = v.size() - maxDist + rng() % 30, len = 3 + rng() % 258;
            for (std::size_t k = 0; k < len; ++k) v.push_back(v[from + k]);
        }
    }
    return Bytes(v.begin() + std::ptrdiff_t(start), v.end());
}

TEST(InflateIntoWindow, ZlibStreamsWithFarMatchesInEveryTableForm) {
    // zlib reaches up to its window size - 262 back: with a 512-byte encoder window and a 256-byte caller
    // window, its farthest matches read bytes that the block copies of a match just before would overwrite.
    SCOPED_TRACE(seedNote());
    std::mt19937_64 rng = makeRng(63);
    unsigned kinds = 0;
    struct Setup {
        int windowBits;
        std::size_t window;
        unsigned maxDist;
    };
    for (const Setup w : {Setup{15, kWindow, 32506}, Setup{9, 256, 250}}) {
        for (const bool skewed : {false, true}) {
            const Bytes history = repetitiveBytes(rng, w.window);
            const Bytes plain = farReferencingBytes(rng, history, 3 * kWindow, skewed, w.maxDist);
            for (const int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED}) {
                for (const int level : {1, 6, 9}) {
                    SCOPED_TRACE("window " + std::to_string(w.window) + " skewed " + std::to_string(skewed) +
                                 " strategy " + std::to_string(strategy) + " level " + std::to_string(level));
                    const Bytes stream = zlibDeflateRaw(plain, history, level, strategy, w.windowBits);
                    ASSERT_EQ(zlibInflateRaw(stream, history), plain);
                    expectSameAsZlib(stream, history, std::uint64_t(level), &kinds);
                    if (HasFatalFailure()) return;
                }
            }
        }
    }
    EXPECT_EQ(kinds, 7u) << "table kinds decoded (bit per kind)";
}

}  // namespace
}  // namespace kel::test

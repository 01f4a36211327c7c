// src/stream/bzip2_encoder.cpp - .bz2 compression over libkeldcn8's bzip2 stages.
//
// Input is run-length coded into the block as it arrives (the first stage works in pieces of any size), so a
// block is complete exactly when its run-length coded bytes reach the block size, however the input was split:
// the output does not depend on the piece sizes. A complete block is transformed and coded in one go into a
// pending buffer that the caller's room drains; no input is taken while coded bytes wait, which bounds the
// memory to one block and its coded form.
//
// Bits travel in libkeldcn8's convention: a 32-bit buffer filled from its most significant bit. The encoder
// keeps a wider accumulator for its header fields and hands the library the partial byte it has left before the
// table section.
#include <climits>
#include <cstring>

#include "keldc.h"
#include "stream/bzip2_format.h"

namespace kel::stream {

namespace {

constexpr int kBlockSlack = 19;        // bzip2 keeps its run-length coded blocks this much below level * 100 000
constexpr int kSectionRoom = 1 << 17;  // the largest table-and-selector section is below 24 KiB
constexpr int kMaxCodeBits = 17;       // the longest Huffman code the library's tables assign

int clampToInt(std::size_t n) {
    return n > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n);
}

int levelOf(const KelStreamOptions& o) {
    return o.level == 0 ? 9 : o.level;
}

class Bzip2Encoder final : public EngineOf<Bzip2Encoder> {
public:
    explicit Bzip2Encoder(const Setup& s)
        : EngineOf(s),
          level_(levelOf(s.options)),
          blockMax_(level_ * kBzip2BlockUnit - kBlockSlack),
          pending_(s.alloc),
          rleState_(s.alloc),
          mtfState_(s.alloc),
          huffState_(s.alloc),
          block_(s.alloc),
          last_(s.alloc),
          bwtBuf_(s.alloc),
          mtf_(s.alloc),
          coded_(s.alloc),
          sym_(s.alloc) {}

    // The large buffers are left uninitialised (every stage writes before it reads), which spares clearing some
    // 20 MB per stream at block size 9.
    bool init() {
        int rleSize = 0, bwtSize = 0, mtfSize = 0, huffSize = 0;
        kelsRLEGetSize_BZ2_8u(&rleSize);
        kelsBWTFwdGetSize_8u(blockMax_, &bwtSize);
        kelsMTFGetSize_8u(&mtfSize);
        kelsEncodeHuffGetSize_BZ2_16u8u(blockMax_ + 1, &huffSize);
        const std::size_t n = static_cast<std::size_t>(blockMax_);
        codedCap_ = kSectionRoom + 3 * (n + 1);
        if (!rleState_.resize(static_cast<std::size_t>(rleSize)) || !block_.resize(n) || !last_.resize(n) ||
            !mtf_.resize(n) || !bwtBuf_.resize(static_cast<std::size_t>(bwtSize)) ||
            !mtfState_.resize(static_cast<std::size_t>(mtfSize)) ||
            !huffState_.resize(static_cast<std::size_t>(huffSize)) || !sym_.resize(n + 1) ||
            !coded_.resize(codedCap_)) {
            return false;
        }
        restart();
        return true;
    }

    KelStreamResult process(const std::uint8_t* src, std::size_t srcLen, std::size_t* consumed, std::uint8_t* dst,
                            std::size_t dstCap, std::size_t* produced, KelStreamFlush flush) override {
        *consumed = 0;
        *produced = 0;
        for (;;) {
            pending_.drain(dst, dstCap, produced);
            if (!pending_.empty()) return kelStreamOk;
            if (finished_) return kelStreamEnd;
            if (!headerDone_) {
                putBits(kBzip2StreamMagic, 24);
                putBits('0' + static_cast<std::uint32_t>(level_), 8);
                headerDone_ = true;
            }
            if (*consumed < srcLen) {
                // Takes input up to the end of one block; a full block is coded into pending_ and drained above.
                KelStreamResult r = write(src + *consumed, srcLen - *consumed, consumed);
                if (r != kelStreamOk) return r;
                continue;
            }
            if (flush == kelFlushNone) return kelStreamOk;
            if (flush == kelFlushSync) {
                // The block ends and every whole byte goes out; up to 7 bits of it stay in the accumulator, since
                // the next block (or the end) continues the same byte.
                if (used_ > 0) {
                    KelStreamResult r = flushBlock();
                    if (r != kelStreamOk) return r;
                    continue;
                }
                if (!alignBits()) return fail(kelStreamErrMemory, "out of memory");
                if (!pending_.empty()) continue;
                return kelStreamFlushed;
            }
            KelStreamResult r = flushBlock();
            if (r != kelStreamOk) return r;
            putBits(kBzip2EndMagicHi, 24);
            putBits(kBzip2EndMagicLo, 24);
            putBits(streamCrc_ >> 16, 16);
            putBits(streamCrc_ & 0xFFFF, 16);
            if (!alignBits()) return fail(kelStreamErrMemory, "out of memory");
            if (bitCount_ > 0) {
                if (!pending_.buffer().push(static_cast<std::uint8_t>(bitAcc_ >> 56))) {
                    return fail(kelStreamErrMemory, "out of memory");
                }
                bitAcc_ = 0;
                bitCount_ = 0;
            }
            finished_ = true;
        }
    }

    // A stream reset with coded bytes still waiting is rebuilt instead (Pending cannot drop a half-drained buffer).
    bool reset() override {
        if (!pending_.empty()) return false;
        restart();
        return true;
    }

private:
    void restart() {
        kelsEncodeRLEInit_BZ2_8u(rleState_.data());
        bitAcc_ = 0;
        bitCount_ = 0;
        used_ = 0;
        blockCrc_ = streamCrc_ = 0;
        headerDone_ = finished_ = outOfMemory_ = false;
    }

    // Fields of up to 32 bits. When the accumulator cannot take them, its whole bytes move to pending_ first; a
    // failure to grow pending_ there is kept in outOfMemory_ and reported by the alignBits() that follows every
    // group of fields.
    void putBits(std::uint32_t bits, int count) {
        if (bitCount_ + count > 64 && !alignBits()) return;
        if (count < 32) bits &= (1u << count) - 1;
        bitAcc_ |= static_cast<std::uint64_t>(bits) << (64 - bitCount_ - count);
        bitCount_ += count;
    }

    // Moves every whole byte of the accumulator to the pending output.
    bool alignBits() {
        while (!outOfMemory_ && bitCount_ >= 8) {
            if (!pending_.buffer().push(static_cast<std::uint8_t>(bitAcc_ >> 56))) outOfMemory_ = true;
            bitAcc_ <<= 8;
            bitCount_ -= 8;
        }
        return !outOfMemory_;
    }

    KelStreamResult write(const std::uint8_t* src, std::size_t n, std::size_t* consumed) {
        // One byte of the block stays free for the count byte that closes a run at the block's end.
        const int room = blockMax_ - 1 - used_;
        if (room < 1) return flushBlock();
        const Kel8u* p = src;
        int len = clampToInt(n);
        int written = room;
        const KelStatus st = kelsEncodeRLE_BZ2_8u(&p, &len, block_.data() + used_, &written, rleState_.data());
        if (st < 0) return fail(kelStreamErrLibrary, "run-length stage failed");
        const int taken = static_cast<int>(p - src);
        if (taken > 0) kelsCRC32_BZ2_8u(src, taken, &blockCrc_);
        used_ += written;
        *consumed += static_cast<std::size_t>(taken);
        if (st == kelStatusDstFull) return flushBlock();
        return kelStreamOk;
    }

    KelStreamResult flushBlock() {
        if (used_ == 0) return kelStreamOk;
        int one = 1;
        kelsEncodeRLEFlush_BZ2_8u(block_.data() + used_, &one, rleState_.data());
        used_ += one;
        const KelStreamResult r = codeBlock(used_);
        if (r != kelStreamOk) return r;
        streamCrc_ = bzip2FoldCrc(streamCrc_, blockCrc_);
        blockCrc_ = 0;
        used_ = 0;
        kelsEncodeRLEInit_BZ2_8u(rleState_.data());
        return kelStreamOk;
    }

    // One block: transform, dictionary, move-to-front, zero runs, tables, then header bits, section and symbols.
    KelStreamResult codeBlock(int n) {
        std::uint8_t inUse[256];
        KelStatus st = kelsRLEGetInUseTable_8u(inUse, rleState_.data());
        int origin = 0, dict = 0;
        if (st == kelStatusOk) st = kelsBWTFwd_8u(block_.data(), last_.data(), n, &origin, bwtBuf_.data());
        if (st == kelStatusOk) st = kelsReduceDictionary_8u_I(inUse, last_.data(), n, &dict);
        if (st == kelStatusOk) st = kelsMTFInit_8u(mtfState_.data());
        if (st == kelStatusOk) st = kelsMTFFwd_8u(last_.data(), mtf_.data(), n, mtfState_.data());
        if (st != kelStatusOk) return fail(kelStreamErrLibrary, "block transform failed");

        Kel32u freq[258] = {};
        const Kel8u* mtf = mtf_.data();
        int mtfLen = n, symLen = n;
        st = kelsEncodeZ1Z2_BZ2_8u16u(&mtf, &mtfLen, sym_.data(), &symLen, freq);
        if (st != kelStatusOk) return fail(kelStreamErrLibrary, "zero-run stage failed");
        const int alphabet = dict + 2;
        sym_[static_cast<std::size_t>(symLen++)] = static_cast<Kel16u>(alphabet - 1);
        ++freq[alphabet - 1];
        st = kelsEncodeHuffInit_BZ2_16u8u(alphabet, freq, sym_.data(), symLen, huffState_.data());
        if (st != kelStatusOk) return fail(kelStreamErrLibrary, "Huffman table choice failed");

        putBits(kBzip2BlockMagicHi, 24);
        putBits(kBzip2BlockMagicLo, 24);
        putBits(blockCrc_ >> 16, 16);
        putBits(blockCrc_ & 0xFFFF, 16);
        putBits(0, 1);  // not randomised
        putBits(static_cast<std::uint32_t>(origin), 24);
        std::uint32_t ranges = 0;
        for (int r = 0; r < 16; ++r) {
            for (int k = 0; k < 16; ++k) {
                if (inUse[16 * r + k]) ranges |= 0x8000u >> r;
            }
        }
        putBits(ranges, 16);
        for (int r = 0; r < 16; ++r) {
            if (!(ranges & (0x8000u >> r))) continue;
            std::uint32_t bits = 0;
            for (int k = 0; k < 16; ++k) {
                if (inUse[16 * r + k]) bits |= 0x8000u >> k;
            }
            putBits(bits, 16);
        }

        // The library continues the partial byte left over in its own bit buffer. A section takes under 24 KiB and
        // a symbol at most 17 bits, so the scratch buffer always has room.
        if (!alignBits()) return fail(kelStreamErrMemory, "out of memory");
        Kel32u code = static_cast<Kel32u>(bitAcc_ >> 32);
        int codeBits = bitCount_;
        std::uint8_t* const coded = coded_.data();
        int len = kSectionRoom;
        st = kelsPackHuffContext_BZ2_16u8u(&code, &codeBits, coded, &len, huffState_.data());
        if (st != kelStatusOk) return fail(kelStreamErrLibrary, "table section failed");
        std::size_t pos = static_cast<std::size_t>(len);
        const Kel16u* sym = sym_.data();
        len = clampToInt(codedCap_ - pos);
        st = kelsEncodeHuff_BZ2_16u8u(&code, &codeBits, &sym, &symLen, coded + pos, &len, huffState_.data());
        if (st != kelStatusOk) return fail(kelStreamErrLibrary, "Huffman coding failed");
        pos += static_cast<std::size_t>(len);
        if (!pending_.buffer().append(coded, pos)) return fail(kelStreamErrMemory, "out of memory");
        bitAcc_ = static_cast<std::uint64_t>(code) << 32;
        bitCount_ = codeBits;
        if (bitCount_ < 64) bitAcc_ &= ~(~std::uint64_t{0} >> bitCount_);
        return kelStreamOk;
    }

    const int level_;
    const int blockMax_;  // run-length coded bytes per block
    Pending pending_;
    Bytes rleState_, mtfState_, huffState_, block_, last_, bwtBuf_, mtf_, coded_;
    Array<Kel16u> sym_;
    std::size_t codedCap_ = 0;
    std::uint64_t bitAcc_ = 0;  // pending output bits at the top
    int bitCount_ = 0;
    bool outOfMemory_ = false;
    int used_ = 0;  // run-length coded bytes in the block
    std::uint32_t blockCrc_ = 0, streamCrc_ = 0;
    bool headerDone_ = false, finished_ = false;
};

}  // namespace

Engine* newBzip2Encoder(const Setup& s, CreateError* e) {
    if (s.options.level < 0 || s.options.level > 9) {
        *e = {kelStreamErrArgument, "bzip2 levels are 1 to 9"};
        return nullptr;
    }
    Bzip2Encoder* enc = make<Bzip2Encoder>(s.alloc, s);
    if (!enc || !enc->init()) {
        if (enc) enc->destroy();
        *e = {kelStreamErrMemory, "out of memory"};
        return nullptr;
    }
    return enc;
}

// The worst case, from the stages' limits: run-length coding turns 4 input bytes into at most 5 (a run of exactly
// four gains its count byte), each block adds its closing count byte and the end-of-block symbol, zero-run coding
// never makes more symbols than bytes, and no Huffman code is longer than 17 bits. Per block come the header
// fields (48 + 32 + 1 + 24 + 16 + 256 bits) and the largest table section: 3 + 15 bits, 6 unary bits per selector
// and per table 5 + 258 * 33 bits (a length may step by up to 16 per symbol at 2 bits a step); per stream the
// 32-bit header, the 80-bit end and the padding byte. The block count assumes every block but the last holds at
// least blockMax - 5 run-length coded bytes (the stage stops short of the room only by one incomplete run).
std::size_t bzip2Bound(const KelStreamOptions& o, std::size_t srcLen) {
    const int level = levelOf(o);
    if (level < 1 || level > 9) return 0;
    const std::size_t blockMax = static_cast<std::size_t>(level) * kBzip2BlockUnit - kBlockSlack;
    if (srcLen > (SIZE_MAX - 64) / 5 * 4 / kMaxCodeBits) return 0;
    const std::size_t rle = srcLen + srcLen / 4 + 4;
    const std::size_t blocks = rle / (blockMax - 6) + 1;
    const std::size_t selectors = (blockMax + 1 + 49) / 50;
    const std::size_t perBlockBits = 48 + 32 + 1 + 24 + 16 + 256 + 3 + 15 + 6 * selectors + 6 * (5 + 258 * 33);
    const std::size_t symbols = rle + 2 * blocks;
    const std::size_t bits = symbols * kMaxCodeBits + blocks * perBlockBits + 32 + 80;
    return bits / 8 + 2;
}

}  // namespace kel::stream

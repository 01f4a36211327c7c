// apps/stream/bzip2_stream.cpp - .bz2 writer and reader over the library's bzip2 stages.
//
// Bits travel in the library's convention throughout: a 32-bit buffer filled from its most significant bit and a
// count of the valid bits. The writer keeps a wider accumulator for its header fields and hands the library the
// partial byte it has left before the table section; the reader reads its own fields through the same buffer the
// library's section reader and symbol decoder use, so the source may stop at any byte and resume later.
#include "stream/bzip2_stream.h"

#include <climits>
#include <cstring>

#include "keldc.h"

namespace kel {

namespace {

constexpr int kBlockUnit = 100000;
constexpr int kBlockSlack = 19;  // bzip2 keeps its run-length coded blocks this much below level * 100 000
constexpr std::uint32_t kBlockMagicHi = 0x314159, kBlockMagicLo = 0x265359;
constexpr std::uint32_t kEndMagicHi = 0x177245, kEndMagicLo = 0x385090;
constexpr std::uint32_t kStreamMagic = 0x425A68;  // "BZh"
constexpr int kSectionRoom = 1 << 17;             // the largest table-and-selector section is below 24 KiB

std::uint32_t foldCrc(std::uint32_t streamCrc, std::uint32_t blockCrc) {
    return ((streamCrc << 1) | (streamCrc >> 31)) ^ blockCrc;
}

int clampToInt(std::size_t n) {
    return n > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n);
}

}  // namespace

bool isBzip2Magic(const std::uint8_t* head, std::size_t n) {
    if (n < 2 || head[0] != 'B' || head[1] != 'Z') return false;
    if (n >= 3 && head[2] != 'h') return false;
    return n < 4 || (head[3] >= '1' && head[3] <= '9');
}

// ---- Writer ---------------------------------------------------------------------------------------------------

// The large buffers are left uninitialised (every stage writes before it reads), which spares clearing some
// 20 MB per writer at block size 9.
struct Bzip2Writer::Work {
    std::vector<std::uint8_t> rleState, mtfState, huffState, inUse;
    std::unique_ptr<std::uint8_t[]> block, last, bwtBuf, mtf, coded;
    std::size_t codedCap = 0;
    std::unique_ptr<Kel16u[]> sym;
    std::vector<Kel32u> freq;
};

Bzip2Writer::Bzip2Writer(int level) : level_(level), blockMax_(0) {
    if (level < 1 || level > kMaxLevel) {
        status_ = kelStatusBadSize;
        return;
    }
    blockMax_ = level * kBlockUnit - kBlockSlack;
    w_ = std::make_unique<Work>();
    int rleSize = 0, bwtSize = 0, mtfSize = 0, huffSize = 0;
    kelsRLEGetSize_BZ2_8u(&rleSize);
    kelsBWTFwdGetSize_8u(blockMax_, &bwtSize);
    kelsMTFGetSize_8u(&mtfSize);
    kelsEncodeHuffGetSize_BZ2_16u8u(blockMax_ + 1, &huffSize);
    w_->rleState.resize(rleSize);
    w_->block.reset(new std::uint8_t[blockMax_]);
    w_->last.reset(new std::uint8_t[blockMax_]);
    w_->mtf.reset(new std::uint8_t[blockMax_]);
    w_->bwtBuf.reset(new std::uint8_t[bwtSize]);
    w_->mtfState.resize(mtfSize);
    w_->huffState.resize(huffSize);
    w_->inUse.resize(256);
    w_->sym.reset(new Kel16u[blockMax_ + 1]);
    w_->codedCap = kSectionRoom + 3 * static_cast<std::size_t>(blockMax_ + 1);
    w_->coded.reset(new std::uint8_t[w_->codedCap]);
    w_->freq.resize(258);
    kelsEncodeRLEInit_BZ2_8u(w_->rleState.data());
}

Bzip2Writer::~Bzip2Writer() = default;

KelStatus Bzip2Writer::fail(KelStatus st) {
    if (status_ == kelStatusOk) status_ = st;
    return status_;
}

void Bzip2Writer::putBits(std::uint32_t bits, int count) {
    if (bitCount_ + count > 64) alignBits();
    if (count < 32) bits &= (1u << count) - 1;
    bitAcc_ |= static_cast<std::uint64_t>(bits) << (64 - bitCount_ - count);
    bitCount_ += count;
}

// Moves every whole byte of the accumulator to the output.
void Bzip2Writer::alignBits() {
    while (bitCount_ >= 8) {
        out_.push_back(static_cast<std::uint8_t>(bitAcc_ >> 56));
        bitAcc_ <<= 8;
        bitCount_ -= 8;
    }
}

KelStatus Bzip2Writer::write(const std::uint8_t* src, std::size_t n) {
    if (status_ != kelStatusOk) return status_;
    if (finished_) return fail(kelStatusError);
    if (!headerDone_) {
        putBits(kStreamMagic, 24);
        putBits('0' + level_, 8);
        headerDone_ = true;
    }
    while (n > 0) {
        // One byte of the block stays free for the count byte that closes a run at the block's end.
        int room = blockMax_ - 1 - used_;
        if (room < 1) {
            if (flushBlock() != kelStatusOk) return status_;
            room = blockMax_ - 1;
        }
        const Kel8u* p = src;
        int len = clampToInt(n);
        int written = room;
        const KelStatus st = kelsEncodeRLE_BZ2_8u(&p, &len, w_->block.get() + used_, &written, w_->rleState.data());
        if (st < 0) return fail(st);
        const int consumed = static_cast<int>(p - src);
        if (consumed > 0) kelsCRC32_BZ2_8u(src, consumed, &blockCrc_);
        used_ += written;
        src = p;
        n -= static_cast<std::size_t>(consumed);
        if (st == kelStatusDstFull && flushBlock() != kelStatusOk) return status_;
    }
    return kelStatusOk;
}

KelStatus Bzip2Writer::flushBlock() {
    if (used_ == 0) return kelStatusOk;
    int one = 1;
    kelsEncodeRLEFlush_BZ2_8u(w_->block.get() + used_, &one, w_->rleState.data());
    used_ += one;
    const KelStatus st = codeBlock(used_);
    if (st != kelStatusOk) return fail(st);
    streamCrc_ = foldCrc(streamCrc_, blockCrc_);
    blockCrc_ = 0;
    used_ = 0;
    kelsEncodeRLEInit_BZ2_8u(w_->rleState.data());
    return kelStatusOk;
}

// One block: transform, dictionary, move-to-front, zero runs, tables, then header bits, section and symbols.
KelStatus Bzip2Writer::codeBlock(int n) {
    Work& w = *w_;
    KelStatus st = kelsRLEGetInUseTable_8u(w.inUse.data(), w.rleState.data());
    int origin = 0, dict = 0;
    if (st == kelStatusOk) st = kelsBWTFwd_8u(w.block.get(), w.last.get(), n, &origin, w.bwtBuf.get());
    if (st == kelStatusOk) st = kelsReduceDictionary_8u_I(w.inUse.data(), w.last.get(), n, &dict);
    if (st == kelStatusOk) st = kelsMTFInit_8u(w.mtfState.data());
    if (st == kelStatusOk) st = kelsMTFFwd_8u(w.last.get(), w.mtf.get(), n, w.mtfState.data());
    if (st != kelStatusOk) return st;

    std::fill(w.freq.begin(), w.freq.end(), 0u);
    const Kel8u* mtf = w.mtf.get();
    int mtfLen = n, symLen = n;
    st = kelsEncodeZ1Z2_BZ2_8u16u(&mtf, &mtfLen, w.sym.get(), &symLen, w.freq.data());
    if (st != kelStatusOk) return st < 0 ? st : kelStatusError;
    const int alphabet = dict + 2;
    w.sym[symLen++] = static_cast<Kel16u>(alphabet - 1);
    ++w.freq[alphabet - 1];
    st = kelsEncodeHuffInit_BZ2_16u8u(alphabet, w.freq.data(), w.sym.get(), symLen, w.huffState.data());
    if (st != kelStatusOk) return st;

    putBits(kBlockMagicHi, 24);
    putBits(kBlockMagicLo, 24);
    putBits(blockCrc_ >> 16, 16);
    putBits(blockCrc_ & 0xFFFF, 16);
    putBits(0, 1);  // not randomised
    putBits(static_cast<std::uint32_t>(origin), 24);
    std::uint32_t ranges = 0;
    for (int r = 0; r < 16; ++r) {
        for (int k = 0; k < 16; ++k) {
            if (w.inUse[16 * r + k]) ranges |= 0x8000u >> r;
        }
    }
    putBits(ranges, 16);
    for (int r = 0; r < 16; ++r) {
        if (!(ranges & (0x8000u >> r))) continue;
        std::uint32_t bits = 0;
        for (int k = 0; k < 16; ++k) {
            if (w.inUse[16 * r + k]) bits |= 0x8000u >> k;
        }
        putBits(bits, 16);
    }

    // The library continues the partial byte left over in its own bit buffer. A section takes under 24 KiB and
    // a symbol at most 17 bits, so the scratch buffer always has room.
    alignBits();
    Kel32u code = static_cast<Kel32u>(bitAcc_ >> 32);
    int codeBits = bitCount_;
    std::uint8_t* const coded = w.coded.get();
    int len = kSectionRoom;
    st = kelsPackHuffContext_BZ2_16u8u(&code, &codeBits, coded, &len, w.huffState.data());
    if (st != kelStatusOk) return st < 0 ? st : kelStatusError;
    std::size_t pos = static_cast<std::size_t>(len);
    const Kel16u* sym = w.sym.get();
    len = clampToInt(w.codedCap - pos);
    st = kelsEncodeHuff_BZ2_16u8u(&code, &codeBits, &sym, &symLen, coded + pos, &len, w.huffState.data());
    if (st != kelStatusOk) return st < 0 ? st : kelStatusError;
    pos += static_cast<std::size_t>(len);
    out_.insert(out_.end(), coded, coded + pos);
    bitAcc_ = static_cast<std::uint64_t>(code) << 32;
    bitCount_ = codeBits;
    if (bitCount_ < 64) bitAcc_ &= ~(~std::uint64_t{0} >> bitCount_);
    return kelStatusOk;
}

KelStatus Bzip2Writer::finish() {
    if (status_ != kelStatusOk) return status_;
    if (finished_) return fail(kelStatusError);
    if (!headerDone_) {
        putBits(kStreamMagic, 24);
        putBits('0' + level_, 8);
        headerDone_ = true;
    }
    if (flushBlock() != kelStatusOk) return status_;
    putBits(kEndMagicHi, 24);
    putBits(kEndMagicLo, 24);
    putBits(streamCrc_ >> 16, 16);
    putBits(streamCrc_ & 0xFFFF, 16);
    alignBits();
    if (bitCount_ > 0) {
        out_.push_back(static_cast<std::uint8_t>(bitAcc_ >> 56));
        bitAcc_ = 0;
        bitCount_ = 0;
    }
    finished_ = true;
    return kelStatusOk;
}

KelStatus Bzip2Writer::compress(const std::uint8_t* src, std::size_t n, int level, std::vector<std::uint8_t>& out) {
    Bzip2Writer w(level);
    KelStatus st = w.write(src, n);
    if (st == kelStatusOk) st = w.finish();
    if (st == kelStatusOk) out.swap(w.output());
    return st;
}

// ---- Reader ---------------------------------------------------------------------------------------------------

namespace {

enum class Step {
    StreamMagic,  // "BZh" (the first stream: required; later ones: else trailing data)
    Level,
    BlockMagicHi,
    BlockMagicLo,
    BlockCrcHi,
    BlockCrcLo,
    Randomised,
    Origin,
    Ranges,
    RangeBits,
    Section,
    Symbols,
    Emit,
    StreamCrcHi,
    StreamCrcLo,
    End,
    Failed,
};

}  // namespace

struct Bzip2Reader::State {
    Step step = Step::StreamMagic;
    bool firstStream = true;
    bool endMagic = false;  // the magic being read ends the stream
    Kel32u code = 0;        // bit buffer, library convention
    int codeBits = 0;
    int blockCap = 0;
    std::uint32_t storedCrc = 0, blockCrc = 0, streamCrc = 0, storedStreamCrc = 0;
    int origin = 0;
    std::uint32_t ranges = 0;
    int range = 0;
    int dict = 0;
    int nSym = 0;
    std::vector<std::uint8_t> inUse = std::vector<std::uint8_t>(256);
    std::vector<std::uint8_t> huffState, rleState;
    // Sized for the stream's block size and left uninitialised: each block writes before it reads.
    std::unique_ptr<std::uint8_t[]> block, blockBuf;
    std::unique_ptr<Kel16u[]> sym;
    int allocatedCap = 0;
    const Kel8u* emitSrc = nullptr;
    int emitLeft = 0;
    Bzip2Result failure = Bzip2Result::Corrupt;

    // Input of the current call.
    const std::uint8_t* in = nullptr;
    std::size_t inLen = 0;

    // Takes input bytes until n <= 24 bits are held; false if the input runs out first (nothing is lost).
    bool need(int n) {
        while (codeBits < n) {
            if (inLen == 0) return false;
            code |= static_cast<Kel32u>(*in++) << (24 - codeBits);
            codeBits += 8;
            --inLen;
        }
        return true;
    }
    // Takes n bits, 0 <= n <= 24.
    std::uint32_t take(int n) {
        if (n == 0) return 0;
        const std::uint32_t v = code >> (32 - n);
        code <<= n;
        codeBits -= n;
        return v;
    }
};

Bzip2Reader::Bzip2Reader() : s_(std::make_unique<State>()) {
    int rleSize = 0, huffSize = 0;
    kelsRLEGetSize_BZ2_8u(&rleSize);
    kelsDecodeHuffGetSize_BZ2_8u16u(9 * kBlockUnit, &huffSize);  // room for the selectors of any block
    s_->rleState.resize(rleSize);
    s_->huffState.resize(huffSize);
}

Bzip2Reader::~Bzip2Reader() = default;

Bzip2Result Bzip2Reader::decompress(const std::uint8_t*& in, std::size_t& inLen, std::uint8_t*& out,
                                    std::size_t& outLen, bool lastInput) {
    State& s = *s_;
    if (s.step == Step::Failed) return s.failure;
    if (s.step == Step::End) return Bzip2Result::End;
    s.in = in;
    s.inLen = inLen;
    Bzip2Result result = Bzip2Result::Ok;
    auto fail = [&](Bzip2Result r, const char* why) {
        s.step = Step::Failed;
        s.failure = r;
        message_ = why;
        return r;
    };

    for (bool running = true; running;) {
        // Each field read either completes or waits, keeping the bits taken so far in the buffer.
        auto waitFor = [&](int n) {
            if (s.need(n)) return true;
            if (lastInput) result = fail(Bzip2Result::Truncated, "unexpected end of input");
            running = false;
            return false;
        };
        switch (s.step) {
            case Step::StreamMagic: {
                if (!s.firstStream && !s.need(24)) {
                    // After a complete stream: the end of input, or a few bytes that cannot start a stream.
                    if (!lastInput) {
                        running = false;
                        break;
                    }
                    trailingData_ = s.codeBits > 0;
                    s.step = Step::End;
                    result = Bzip2Result::End;
                    running = false;
                    break;
                }
                if (!waitFor(24)) break;
                if (s.take(24) != kStreamMagic) {
                    if (s.firstStream) {
                        result = fail(Bzip2Result::Corrupt, "not a bzip2 stream");
                    } else {
                        trailingData_ = true;
                        s.step = Step::End;
                        result = Bzip2Result::End;
                    }
                    running = false;
                    break;
                }
                s.step = Step::Level;
                break;
            }
            case Step::Level: {
                if (!waitFor(8)) break;
                const int digit = static_cast<int>(s.take(8)) - '0';
                if (digit < 1 || digit > 9) {
                    result = fail(Bzip2Result::Corrupt, "invalid block size");
                    running = false;
                    break;
                }
                s.blockCap = digit * kBlockUnit;
                if (s.allocatedCap < s.blockCap) {
                    int bufSize = 0;
                    kelsDecodeBlockGetSize_BZ2_8u(static_cast<Kel32u>(s.blockCap), &bufSize);
                    s.block.reset(new std::uint8_t[s.blockCap]);
                    s.blockBuf.reset(new std::uint8_t[bufSize]);
                    s.sym.reset(new Kel16u[s.blockCap + 1]);
                    s.allocatedCap = s.blockCap;
                }
                s.streamCrc = 0;
                s.firstStream = false;
                s.step = Step::BlockMagicHi;
                break;
            }
            case Step::BlockMagicHi: {
                if (!waitFor(24)) break;
                const std::uint32_t hi = s.take(24);
                if (hi != kBlockMagicHi && hi != kEndMagicHi) {
                    result = fail(Bzip2Result::Corrupt, "bad block magic");
                    running = false;
                    break;
                }
                s.endMagic = hi == kEndMagicHi;
                s.step = Step::BlockMagicLo;
                break;
            }
            case Step::BlockMagicLo: {
                if (!waitFor(24)) break;
                if (s.take(24) != (s.endMagic ? kEndMagicLo : kBlockMagicLo)) {
                    result = fail(Bzip2Result::Corrupt, "bad block magic");
                    running = false;
                    break;
                }
                s.step = s.endMagic ? Step::StreamCrcHi : Step::BlockCrcHi;
                break;
            }
            case Step::BlockCrcHi:
                if (!waitFor(16)) break;
                s.storedCrc = s.take(16) << 16;
                s.step = Step::BlockCrcLo;
                break;
            case Step::BlockCrcLo:
                if (!waitFor(16)) break;
                s.storedCrc |= s.take(16);
                s.step = Step::Randomised;
                break;
            case Step::Randomised:
                if (!waitFor(1)) break;
                if (s.take(1) != 0) {
                    result = fail(Bzip2Result::Corrupt, "randomised blocks are not supported");
                    running = false;
                    break;
                }
                s.step = Step::Origin;
                break;
            case Step::Origin:
                if (!waitFor(24)) break;
                s.origin = static_cast<int>(s.take(24));
                s.step = Step::Ranges;
                break;
            case Step::Ranges:
                if (!waitFor(16)) break;
                s.ranges = s.take(16);
                s.range = 0;
                std::fill(s.inUse.begin(), s.inUse.end(), 0);
                s.step = Step::RangeBits;
                break;
            case Step::RangeBits: {
                while (s.range < 16 && !(s.ranges & (0x8000u >> s.range))) ++s.range;
                if (s.range < 16) {
                    if (!waitFor(16)) break;
                    const std::uint32_t bits = s.take(16);
                    for (int k = 0; k < 16; ++k) s.inUse[16 * s.range + k] = (bits >> (15 - k)) & 1;
                    ++s.range;
                    break;
                }
                s.dict = 0;
                for (int v = 0; v < 256; ++v) s.dict += s.inUse[v];
                if (s.dict == 0) {
                    result = fail(Bzip2Result::Corrupt, "block uses no byte values");
                    running = false;
                    break;
                }
                kelsDecodeHuffInit_BZ2_8u16u(s.dict + 2, s.huffState.data());
                s.step = Step::Section;
                break;
            }
            case Step::Section: {
                if (s.inLen == 0) {
                    if (lastInput) result = fail(Bzip2Result::Truncated, "unexpected end of input");
                    running = false;
                    break;
                }
                const Kel8u* p = s.in;
                int len = clampToInt(s.inLen);
                const KelStatus st =
                    kelsUnpackHuffContext_BZ2_8u16u(&s.code, &s.codeBits, &p, &len, s.huffState.data());
                s.inLen -= static_cast<std::size_t>(p - s.in);
                s.in = p;
                if (st == kelStatusSrcExhausted) break;
                if (st != kelStatusOk) {
                    result = fail(Bzip2Result::Corrupt, "invalid coding tables");
                    running = false;
                    break;
                }
                s.nSym = 0;
                s.step = Step::Symbols;
                break;
            }
            case Step::Symbols: {
                int room = s.blockCap + 1 - s.nSym;
                if (room < 1) {
                    result = fail(Bzip2Result::Corrupt, "block longer than its size allows");
                    running = false;
                    break;
                }
                const Kel8u* p = s.in;
                int len = clampToInt(s.inLen);
                const KelStatus st = kelsDecodeHuff_BZ2_8u16u(&s.code, &s.codeBits, &p, &len, s.sym.get() + s.nSym,
                                                              &room, s.huffState.data());
                s.inLen -= static_cast<std::size_t>(p - s.in);
                s.in = p;
                s.nSym += room;
                if (st == kelStatusSrcExhausted) {
                    if (s.nSym < s.blockCap + 1) {
                        if (lastInput) result = fail(Bzip2Result::Truncated, "unexpected end of input");
                        running = false;
                        break;
                    }
                    result = fail(Bzip2Result::Corrupt, "block longer than its size allows");
                    running = false;
                    break;
                }
                if (st != kelStatusOk) {
                    result = fail(Bzip2Result::Corrupt,
                                  st == kelStatusDstFull ? "block longer than its size allows" : "invalid code");
                    running = false;
                    break;
                }
                int blockLen = s.blockCap;
                if (s.nSym < 1 || s.origin >= s.blockCap ||
                    kelsDecodeBlock_BZ2_16u8u(s.sym.get(), s.nSym, s.block.get(), &blockLen, s.origin,
                                              static_cast<Kel32u>(s.dict), s.inUse.data(),
                                              s.blockBuf.get()) != kelStatusOk) {
                    result = fail(Bzip2Result::Corrupt, "invalid block data");
                    running = false;
                    break;
                }
                kelsDecodeRLEStateInit_BZ2_8u(s.rleState.data());
                s.emitSrc = s.block.get();
                s.emitLeft = blockLen;
                s.blockCrc = 0;
                s.step = Step::Emit;
                break;
            }
            case Step::Emit: {
                if (outLen == 0) {
                    running = false;
                    break;
                }
                Kel8u* o = out;
                int room = clampToInt(outLen);
                KelStatus st;
                if (s.emitLeft > 0) {
                    st = kelsDecodeRLEState_BZ2_8u(&s.emitSrc, &s.emitLeft, &o, &room, s.rleState.data());
                } else {
                    st = kelsDecodeRLEStateFlush_BZ2_8u(s.rleState.data(), &o, &room);
                }
                const int produced = static_cast<int>(o - out);
                if (produced > 0) kelsCRC32_BZ2_8u(out, produced, &s.blockCrc);
                out = o;
                outLen -= static_cast<std::size_t>(produced);
                totalOut_ += static_cast<std::uint64_t>(produced);
                if (st < 0) {
                    result = fail(Bzip2Result::Corrupt, "invalid run-length data");
                    running = false;
                    break;
                }
                if (s.emitLeft > 0 || st == kelStatusDstFull) break;
                if (s.blockCrc != s.storedCrc) {
                    result = fail(Bzip2Result::Checksum, "block CRC mismatch");
                    running = false;
                    break;
                }
                s.streamCrc = foldCrc(s.streamCrc, s.blockCrc);
                s.step = Step::BlockMagicHi;
                break;
            }
            case Step::StreamCrcHi:
                if (!waitFor(16)) break;
                s.storedStreamCrc = s.take(16) << 16;
                s.step = Step::StreamCrcLo;
                break;
            case Step::StreamCrcLo:
                if (!waitFor(16)) break;
                s.storedStreamCrc |= s.take(16);
                if (s.storedStreamCrc != s.streamCrc) {
                    result = fail(Bzip2Result::Checksum, "stream CRC mismatch");
                    running = false;
                    break;
                }
                s.take(s.codeBits % 8);  // the stream ends at a byte boundary
                s.step = Step::StreamMagic;
                break;
            case Step::End:
                result = Bzip2Result::End;
                running = false;
                break;
            case Step::Failed:
                result = s.failure;
                running = false;
                break;
        }
    }
    in = s.in;
    inLen = s.inLen;
    return result;
}

// ---- Whole streams --------------------------------------------------------------------------------------------

std::string bzip2Compress(const ByteSource& in, const ByteSink& out, int level) {
    Bzip2Writer w(level);
    if (w.status() != kelStatusOk) return "invalid level";
    std::vector<std::uint8_t> buf(1 << 20);
    for (;;) {
        const std::size_t n = in(buf.data(), buf.size());
        if (n == 0) break;
        if (w.write(buf.data(), n) != kelStatusOk) return "compression failed";
        if (!w.output().empty() && !out(w.output().data(), w.output().size())) return "write error";
        w.output().clear();
    }
    if (w.finish() != kelStatusOk) return "compression failed";
    if (!w.output().empty() && !out(w.output().data(), w.output().size())) return "write error";
    return "";
}

std::string bzip2Decompress(const ByteSource& in, const ByteSink& out, bool* trailing) {
    Bzip2Reader r;
    std::vector<std::uint8_t> inBuf(1 << 16), outBuf(1 << 20);
    std::size_t inPos = 0, inLen = 0;
    bool last = false;
    for (;;) {
        if (inLen == 0 && !last) {
            inPos = 0;
            inLen = in(inBuf.data(), inBuf.size());
            last = inLen == 0;
        }
        const std::uint8_t* ip = inBuf.data() + inPos;
        std::uint8_t* op = outBuf.data();
        std::size_t room = outBuf.size();
        const std::size_t before = inLen;
        const Bzip2Result res = r.decompress(ip, inLen, op, room, last);
        inPos += before - inLen;
        const std::size_t produced = outBuf.size() - room;
        if (produced > 0 && !out(outBuf.data(), produced)) return "write error";
        switch (res) {
            case Bzip2Result::Ok:
                break;
            case Bzip2Result::End:
                if (trailing) *trailing = r.trailingData() || inLen > 0 || in(inBuf.data(), 1) > 0;
                return "";
            case Bzip2Result::Corrupt:
                return std::string("corrupt input: ") + r.message();
            case Bzip2Result::Truncated:
                return "truncated input";
            case Bzip2Result::Checksum:
                return std::string("wrong checksum: ") + r.message();
        }
    }
}

}  // namespace kel

// src/stream/bzip2_decoder.cpp - .bz2 decompression: the resumable reader of concatenated streams and the engine
// around it.
//
// The reader is a state machine with one step per header field, so that it can stop at any input byte and any
// byte of room and resume there: each field read either completes or waits with the bits taken so far kept in
// the bit buffer. The table section and the symbols are resumable library calls of their own; the whole block is
// decoded (symbols, then the fused inverse of the zero-run, move-to-front and transform stages) before the
// run-length stage is undone into the caller's room piece by piece, with the block CRC computed over what comes
// out.
#include <climits>
#include <cstring>

#include "keldc.h"
#include "stream/bzip2_format.h"

namespace kel::stream {

namespace {

int clampToInt(std::size_t n) {
    return n > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n);
}

}  // namespace

Bzip2Reader::Bzip2Reader(const Allocator& a)
    : alloc_(a), huffState_(a), rleState_(a), huffTrial_(a), block_(a), blockBuf_(a), sym_(a) {}

bool Bzip2Reader::init() {
    int rleSize = 0, huffSize = 0;
    kelsRLEGetSize_BZ2_8u(&rleSize);
    kelsDecodeHuffGetSize_BZ2_8u16u(kBzip2MaxBlock, &huffSize);  // room for the selectors of any block
    return rleState_.resize(static_cast<std::size_t>(rleSize)) &&
           huffState_.resize(static_cast<std::size_t>(huffSize)) &&
           huffTrial_.resize(static_cast<std::size_t>(huffSize));
}

// The symbol decoder fills its buffer to 20 bits (the longest code) before each symbol, but the codes that end a
// block may be shorter, so input that stops soon after a block (a stream cut short, or a caller that has not given
// the rest yet) can hold the whole block without the decoder seeing it. The held bits are decoded once more from a
// copy of the decoder state with zero bytes as padding: if that reaches the end of the block and the padding was
// not reached, every symbol came from real bits and the block is complete. The copy keeps the state as it was when
// it is not; once the block is complete the state is not needed again (every block starts a new one).
bool Bzip2Reader::blockEndsInHeldBits() {
    int room = blockCap_ + 1 - nSym_;
    if (room < 1) return false;
    std::memcpy(huffTrial_.data(), huffState_.data(), huffState_.size());
    static constexpr Kel8u kPadding[3] = {0, 0, 0};
    const Kel8u* p = kPadding;
    int len = static_cast<int>(sizeof kPadding);
    Kel32u code = code_;
    int codeBits = codeBits_;
    const KelStatus st =
        kelsDecodeHuff_BZ2_8u16u(&code, &codeBits, &p, &len, sym_.data() + nSym_, &room, huffTrial_.data());
    const int paddingBits = 8 * static_cast<int>(p - kPadding);
    if (st != kelStatusOk || codeBits < paddingBits) return false;
    nSym_ += room;
    code_ = code;  // the padding bits left at its end are zeros, as bits beyond the count must be
    codeBits_ = codeBits - paddingBits;
    return true;
}

void Bzip2Reader::restart() {
    step_ = Step::StreamMagic;
    endMagic_ = passBlock_ = stopBeforeEmit_ = padding_ = entryReported_ = false;
    held_ = 0;
    code_ = 0;
    codeBits_ = 0;
    fed_ = 0;
    blockCap_ = 0;
    streamCrc_ = 0;
    entry = 0;
    level = -1;
    headerComplete = false;
    message = "";
}

bool Bzip2Reader::reserveBlocks(int blockCap) {
    if (allocatedCap_ >= blockCap) return true;
    int bufSize = 0;
    kelsDecodeBlockGetSize_BZ2_8u(static_cast<Kel32u>(blockCap), &bufSize);
    if (!block_.resize(static_cast<std::size_t>(blockCap)) || !blockBuf_.resize(static_cast<std::size_t>(bufSize)) ||
        !sym_.resize(static_cast<std::size_t>(blockCap) + 1)) {
        return false;
    }
    allocatedCap_ = blockCap;
    return true;
}

void Bzip2Reader::useDecodedBlock(const std::uint8_t* block, int blockLen, std::uint32_t storedCrc,
                                  std::uint64_t endBit) {
    // The block's bits lie past everything the buffer holds (a block is far longer than 32 bits), so the buffer
    // is dropped and the input skipped up to endBit.
    storedCrc_ = storedCrc;
    emitSrc_ = block;
    emitLeft_ = blockLen;
    blockCrc_ = 0;
    kelsDecodeRLEStateInit_BZ2_8u(rleState_.data());
    code_ = 0;
    codeBits_ = 0;
    skipTo_ = endBit;
    step_ = Step::Skip;
}

KelStreamResult Bzip2Reader::decodeBlockBody(int blockCap, const std::uint8_t* src, std::size_t srcLen, int skipBits,
                                             std::uint8_t* blockOut, int* blockLen, std::uint32_t* storedCrc,
                                             std::uint64_t* endBit) {
    if (!reserveBlocks(blockCap)) return kelStreamErrMemory;
    restart();
    blockCap_ = blockCap;
    stopBeforeEmit_ = true;
    blockOut_ = blockOut;
    in_ = src;
    inLen_ = srcLen;
    if (skipBits > 0) {
        if (!need(8)) return kelStreamErrTruncated;
        take(skipBits);
    }
    step_ = Step::BlockCrcHi;
    std::size_t consumed = 0, produced = 0;
    const KelStreamResult r = run(in_, inLen_, &consumed, nullptr, 0, &produced, true);
    stopBeforeEmit_ = false;
    blockOut_ = block_.data();
    if (r < 0) return r;
    if (step_ != Step::Emit) return kelStreamErrCorrupt;
    *blockLen = blockLen_;
    *storedCrc = storedCrc_;
    *endBit = bitPosition();
    return kelStreamOk;
}

KelStreamResult Bzip2Reader::run(const std::uint8_t* src, std::size_t srcLen, std::size_t* consumed, std::uint8_t* dst,
                                 std::size_t dstCap, std::size_t* produced, bool last) {
    in_ = src;
    inLen_ = srcLen;
    std::uint8_t* out = dst;
    std::size_t outLen = dstCap;
    KelStreamResult result = kelStreamOk;
    auto fail = [&](KelStreamResult r, const char* why) {
        message = why;
        return r;
    };

    for (bool running = true; running;) {
        // Each field read either completes or waits, keeping the bits taken so far in the buffer.
        auto waitFor = [&](int n) {
            if (need(n)) return true;
            if (last) result = fail(kelStreamErrTruncated, "unexpected end of input");
            running = false;
            return false;
        };
        switch (step_) {
            case Step::StreamMagic:
                if (!waitFor(24)) break;
                if (take(24) != kBzip2StreamMagic) {
                    result = fail(kelStreamErrCorrupt, "not a bzip2 stream");
                    running = false;
                    break;
                }
                step_ = Step::Level;
                break;
            case Step::NextStream: {
                // The stream ended on a byte boundary with nothing held. What follows is looked at in place and
                // taken only once it is known to be another stream or padding: trailing data stays with the caller.
                if (singleStream) {
                    step_ = Step::Done;
                    result = kelStreamEnd;
                    running = false;
                    break;
                }
                if (held_ == 0 && inLen_ > 0 && *in_ == 0) padding_ = true;
                if (padding_) {
                    const std::uint8_t* p = in_;
                    while (p != in_ + inLen_ && *p == 0) ++p;
                    advance(p);
                    if (inLen_ > 0 || last) {
                        step_ = Step::Done;
                        result = inLen_ > 0 ? kelStreamTrailingData : kelStreamEnd;
                    }
                    running = false;
                    break;
                }
                static constexpr std::uint8_t kMagic[3] = {'B', 'Z', 'h'};
                int matched = held_;
                std::size_t i = 0;
                while (matched < 3 && i < inLen_ && in_[i] == kMagic[matched]) ++matched, ++i;
                if (matched == 3) {
                    if (stopAtEntries && !entryReported_) {
                        entryReported_ = true;
                        result = kelStreamEntryEnd;
                        running = false;
                        break;
                    }
                    advance(in_ + i);
                    held_ = 0;
                    step_ = Step::Level;
                    break;
                }
                if (i == inLen_ && !last) {
                    // A prefix of "BZh" ends the input given so far: take it, so that a caller feeding single bytes
                    // makes progress.
                    advance(in_ + i);
                    held_ = matched;
                    running = false;
                    break;
                }
                step_ = Step::Done;
                result = (held_ == 0 && inLen_ == 0) ? kelStreamEnd : kelStreamTrailingData;
                running = false;
                break;
            }
            case Step::Level: {
                if (!waitFor(8)) break;
                const int digit = static_cast<int>(take(8)) - '0';
                if (digit < 1 || digit > 9) {
                    result = fail(kelStreamErrCorrupt, "invalid block size");
                    running = false;
                    break;
                }
                blockCap_ = digit * kBzip2BlockUnit;
                if (!reserveBlocks(blockCap_)) {
                    result = fail(kelStreamErrMemory, "out of memory");
                    running = false;
                    break;
                }
                blockOut_ = block_.data();
                if (headerComplete) ++entry;
                level = digit;
                headerComplete = true;
                entryReported_ = false;
                streamCrc_ = 0;
                step_ = Step::BlockMagicHi;
                break;
            }
            case Step::BlockMagicHi: {
                if (pauseAtBlocks && !passBlock_) {
                    running = false;
                    break;
                }
                if (!waitFor(24)) break;
                passBlock_ = false;
                const std::uint32_t hi = take(24);
                if (hi != kBzip2BlockMagicHi && hi != kBzip2EndMagicHi) {
                    result = fail(kelStreamErrCorrupt, "bad block magic");
                    running = false;
                    break;
                }
                endMagic_ = hi == kBzip2EndMagicHi;
                step_ = Step::BlockMagicLo;
                break;
            }
            case Step::BlockMagicLo:
                if (!waitFor(24)) break;
                if (take(24) != (endMagic_ ? kBzip2EndMagicLo : kBzip2BlockMagicLo)) {
                    result = fail(kelStreamErrCorrupt, "bad block magic");
                    running = false;
                    break;
                }
                step_ = endMagic_ ? Step::StreamCrcHi : Step::BlockCrcHi;
                break;
            case Step::BlockCrcHi:
                if (!waitFor(16)) break;
                storedCrc_ = take(16) << 16;
                step_ = Step::BlockCrcLo;
                break;
            case Step::BlockCrcLo:
                if (!waitFor(16)) break;
                storedCrc_ |= take(16);
                step_ = Step::Randomised;
                break;
            case Step::Randomised:
                if (!waitFor(1)) break;
                if (take(1) != 0) {
                    result = fail(kelStreamErrUnsupported, "randomised blocks are not supported");
                    running = false;
                    break;
                }
                step_ = Step::Origin;
                break;
            case Step::Origin:
                if (!waitFor(24)) break;
                origin_ = static_cast<int>(take(24));
                step_ = Step::Ranges;
                break;
            case Step::Ranges:
                if (!waitFor(16)) break;
                ranges_ = take(16);
                range_ = 0;
                std::memset(inUse_, 0, sizeof inUse_);
                step_ = Step::RangeBits;
                break;
            case Step::RangeBits: {
                while (range_ < 16 && !(ranges_ & (0x8000u >> range_))) ++range_;
                if (range_ < 16) {
                    if (!waitFor(16)) break;
                    const std::uint32_t bits = take(16);
                    for (int k = 0; k < 16; ++k) inUse_[16 * range_ + k] = (bits >> (15 - k)) & 1;
                    ++range_;
                    break;
                }
                dict_ = 0;
                for (int v = 0; v < 256; ++v) dict_ += inUse_[v];
                if (dict_ == 0) {
                    result = fail(kelStreamErrCorrupt, "block uses no byte values");
                    running = false;
                    break;
                }
                kelsDecodeHuffInit_BZ2_8u16u(dict_ + 2, huffState_.data());
                step_ = Step::Section;
                break;
            }
            case Step::Section: {
                if (inLen_ == 0) {
                    if (last) result = fail(kelStreamErrTruncated, "unexpected end of input");
                    running = false;
                    break;
                }
                const Kel8u* p = in_;
                int len = clampToInt(inLen_);
                const KelStatus st = kelsUnpackHuffContext_BZ2_8u16u(&code_, &codeBits_, &p, &len, huffState_.data());
                advance(p);
                if (st == kelStatusSrcExhausted) break;
                if (st != kelStatusOk) {
                    result = fail(kelStreamErrCorrupt, "invalid coding tables");
                    running = false;
                    break;
                }
                nSym_ = 0;
                step_ = Step::Symbols;
                break;
            }
            case Step::Symbols: {
                int room = blockCap_ + 1 - nSym_;
                if (room < 1) {
                    result = fail(kelStreamErrCorrupt, "block longer than its size allows");
                    running = false;
                    break;
                }
                const Kel8u* p = in_;
                int len = clampToInt(inLen_);
                KelStatus st = kelsDecodeHuff_BZ2_8u16u(&code_, &codeBits_, &p, &len, sym_.data() + nSym_, &room,
                                                        huffState_.data());
                advance(p);
                nSym_ += room;
                if (st == kelStatusSrcExhausted && blockEndsInHeldBits()) st = kelStatusOk;
                if (st == kelStatusSrcExhausted) {
                    if (nSym_ < blockCap_ + 1) {
                        if (last) result = fail(kelStreamErrTruncated, "unexpected end of input");
                        running = false;
                        break;
                    }
                    result = fail(kelStreamErrCorrupt, "block longer than its size allows");
                    running = false;
                    break;
                }
                if (st != kelStatusOk) {
                    result = fail(kelStreamErrCorrupt,
                                  st == kelStatusDstFull ? "block longer than its size allows" : "invalid code");
                    running = false;
                    break;
                }
                int blockLen = blockCap_;
                if (nSym_ < 1 || origin_ >= blockCap_ ||
                    kelsDecodeBlock_BZ2_16u8u(sym_.data(), nSym_, blockOut_, &blockLen, origin_,
                                              static_cast<Kel32u>(dict_), inUse_, blockBuf_.data()) != kelStatusOk) {
                    result = fail(kelStreamErrCorrupt, "invalid block data");
                    running = false;
                    break;
                }
                blockLen_ = blockLen;
                kelsDecodeRLEStateInit_BZ2_8u(rleState_.data());
                emitSrc_ = blockOut_;
                emitLeft_ = blockLen;
                blockCrc_ = 0;
                step_ = Step::Emit;
                if (stopBeforeEmit_) running = false;
                break;
            }
            case Step::Skip: {
                const std::uint64_t byte = skipTo_ / 8;
                const std::uint64_t gap = byte - fed_;
                const std::size_t n = gap < inLen_ ? static_cast<std::size_t>(gap) : inLen_;
                advance(in_ + n);
                if (fed_ < byte) {
                    if (last) result = fail(kelStreamErrTruncated, "unexpected end of input");
                    running = false;
                    break;
                }
                if (skipTo_ % 8 != 0) {
                    if (!waitFor(8)) break;
                    take(static_cast<int>(skipTo_ % 8));
                }
                step_ = Step::Emit;
                break;
            }
            case Step::Emit: {
                // Without room the block may still be complete (its last byte went out in an earlier step): the
                // reader then moves on, so that the end of the stream is seen as soon as all of it is out.
                Kel8u spare = 0;
                if (outLen == 0 && emitLeft_ > 0) {
                    running = false;
                    break;
                }
                Kel8u* o = outLen == 0 ? &spare : out;
                int room = clampToInt(outLen);
                KelStatus st;
                if (emitLeft_ > 0) {
                    st = kelsDecodeRLEState_BZ2_8u(&emitSrc_, &emitLeft_, &o, &room, rleState_.data());
                } else {
                    st = kelsDecodeRLEStateFlush_BZ2_8u(rleState_.data(), &o, &room);
                }
                if (outLen == 0) {
                    if (st == kelStatusDstFull) {
                        running = false;
                        break;
                    }
                } else {
                    const int n = static_cast<int>(o - out);
                    if (n > 0) kelsCRC32_BZ2_8u(out, n, &blockCrc_);
                    out = o;
                    outLen -= static_cast<std::size_t>(n);
                }
                if (st < 0) {
                    result = fail(kelStreamErrCorrupt, "invalid run-length data");
                    running = false;
                    break;
                }
                if (emitLeft_ > 0 || st == kelStatusDstFull) break;
                if (blockCrc_ != storedCrc_) {
                    result = fail(kelStreamErrChecksum, "block CRC mismatch");
                    running = false;
                    break;
                }
                streamCrc_ = bzip2FoldCrc(streamCrc_, blockCrc_);
                step_ = Step::BlockMagicHi;
                break;
            }
            case Step::StreamCrcHi:
                if (!waitFor(16)) break;
                storedStreamCrc_ = take(16) << 16;
                step_ = Step::StreamCrcLo;
                break;
            case Step::StreamCrcLo:
                if (!waitFor(16)) break;
                storedStreamCrc_ |= take(16);
                if (storedStreamCrc_ != streamCrc_) {
                    result = fail(kelStreamErrChecksum, "stream CRC mismatch");
                    running = false;
                    break;
                }
                // The stream ends at a byte boundary; the magic and CRC (80 bits) took every bit the symbol decoder
                // had buffered, so what remains is the padding of the last byte.
                take(codeBits_ % 8);
                code_ = 0;
                codeBits_ = 0;
                step_ = Step::NextStream;
                break;
            case Step::Done:
                result = kelStreamEnd;
                running = false;
                break;
        }
    }
    *consumed = srcLen - inLen_;
    *produced = dstCap - outLen;
    return result;
}

namespace {

class Bzip2Decoder final : public EngineOf<Bzip2Decoder> {
public:
    explicit Bzip2Decoder(const Setup& s) : EngineOf(s), reader_(s.alloc) {
        reader_.singleStream = s.singleMember;
        reader_.stopAtEntries = s.options.stopAtEntries != 0;
    }
    bool init() { return reader_.init(); }

    KelStreamResult process(const std::uint8_t* src, std::size_t srcLen, std::size_t* consumed, std::uint8_t* dst,
                            std::size_t dstCap, std::size_t* produced, KelStreamFlush flush) override {
        const KelStreamResult r = reader_.run(src, srcLen, consumed, dst, dstCap, produced, flush == kelFlushFinish);
        if (r < 0) return fail(r, reader_.message);
        return r;
    }

    void header(KelStreamHeader* h) const override {
        h->entry = reader_.entry;
        h->complete = reader_.headerComplete;
        h->level = reader_.level;
    }

    bool reset() override {
        reader_.restart();
        return true;
    }

private:
    Bzip2Reader reader_;
};

}  // namespace

Engine* newBzip2Decoder(const Setup& s, CreateError* e) {
    Bzip2Decoder* d = make<Bzip2Decoder>(s.alloc, s);
    if (!d || !d->init()) {
        if (d) d->destroy();
        *e = {kelStreamErrMemory, "out of memory"};
        return nullptr;
    }
    return d;
}

}  // namespace kel::stream

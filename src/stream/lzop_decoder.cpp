// src/stream/lzop_decoder.cpp - reads lzop files: every LZO1X method lzop writes, every checksum kind it can
// record, multi-file archives and concatenated files, each file an entry of its own.
//
// The decoder is a state machine over the file's parts. Header and block-header bytes gather in small buffers; a
// block's coded bytes gather whole (LZO1X has no streaming decoder), are checked, decoded in one call of the safe
// decoder and handed out from there. After a file's zero length the next bytes decide: zero bytes are padding,
// the magic starts another file, anything else is trailing data left to the caller.
#include <cstring>

#include "keldc.h"
#include "stream/lzop_format.h"
#include "stream/stream_internal.h"

namespace kel::stream {
namespace {

using namespace lzop;

class LzopDecoder final : public EngineOf<LzopDecoder> {
public:
    explicit LzopDecoder(const Setup& s)
        : EngineOf(s),
          singleMember_(s.singleMember),
          stopAtEntries_(s.options.stopAtEntries != 0),
          hdr_(s.alloc),
          name_(s.alloc),
          coded_(s.alloc),
          block_(s.alloc) {}

    bool init() { return hdr_.reserve(kMaxHeaderLen) && name_.reserve(256); }

    KelStreamResult process(const std::uint8_t* src, std::size_t srcLen, std::size_t* consumed, std::uint8_t* dst,
                            std::size_t dstCap, std::size_t* produced, KelStreamFlush flush) override {
        *consumed = *produced = 0;
        src_ = src;
        srcLen_ = srcLen;
        consumed_ = consumed;
        callStart_ = SIZE_MAX;
        for (;;) {
            KelStreamResult r = kelStreamOk;
            bool more = false;  // true: the step needs input that this call has no more of
            switch (state_) {
                case State::Header:
                    r = readHeader(&more);
                    break;
                case State::Extra:
                    r = skipExtra(&more);
                    break;
                case State::BlockHead:
                    r = readBlockHead(&more);
                    break;
                case State::BlockBody:
                    r = readBlockBody(&more);
                    break;
                case State::Output: {
                    std::size_t n = outLen_ - outPos_;
                    if (n > dstCap - *produced) n = dstCap - *produced;
                    if (n) std::memcpy(dst + *produced, out_ + outPos_, n);
                    *produced += n;
                    outPos_ += n;
                    if (outPos_ < outLen_) return kelStreamOk;  // the caller's room is full
                    state_ = State::BlockHead;
                    have_ = 0;
                    break;
                }
                case State::Boundary:
                    r = atBoundary(&more);
                    break;
                case State::Trailing:
                    return kelStreamTrailingData;
                case State::Done:
                    return kelStreamEnd;
            }
            if (r != kelStreamOk) return r;
            if (!more) continue;
            if (flush != kelFlushFinish) return kelStreamOk;
            if (state_ == State::Boundary) return kelStreamEnd;
            return fail(kelStreamErrTruncated, "truncated lzop file");
        }
    }

    void header(KelStreamHeader* h) const override {
        h->entry = entry_;
        h->complete = complete_;
        if (!complete_) return;
        h->name = name_.size() > 1 ? reinterpret_cast<const char*>(name_.data()) : nullptr;
        h->mtime = mtime_;
        h->mode = mode_;
        h->level = level_;
        h->method = method_;
    }

    bool reset() override {
        state_ = State::Header;
        boundary_ = false;
        entry_ = 0;
        complete_ = 0;
        hdr_.clear();
        return true;
    }

private:
    enum class State { Header, Extra, BlockHead, BlockBody, Output, Boundary, Trailing, Done };

    std::size_t left() const { return srcLen_ - *consumed_; }

    // Moves input into `into` until it holds `want` bytes (room reserved by the caller); true once it does.
    bool gather(Bytes& into, std::size_t want) {
        std::size_t n = want > into.size() ? want - into.size() : 0;
        if (n > left()) n = left();
        into.append(src_ + *consumed_, n);
        *consumed_ += n;
        return into.size() >= want;
    }

    // The header, from the magic to its checksum. At a boundary between files the magic may turn out not to be
    // one: the bytes are then trailing data.
    KelStreamResult readHeader(bool* more) {
        if (hdr_.size() < sizeof kMagic) {
            if (hdr_.empty() && callStart_ == SIZE_MAX) callStart_ = *consumed_;
            const std::size_t before = hdr_.size(), from = *consumed_;
            gather(hdr_, sizeof kMagic);
            for (std::size_t k = before; k < hdr_.size(); ++k) {
                if (hdr_[k] == kMagic[k]) continue;
                if (!boundary_) return fail(kelStreamErrCorrupt, "not an lzop file");
                // Give back what this call took of the would-be magic; bytes taken by earlier calls stay taken.
                *consumed_ = callStart_ != SIZE_MAX ? callStart_ : from + (k - before);
                state_ = State::Trailing;
                return kelStreamTrailingData;
            }
            if (hdr_.size() < sizeof kMagic) {
                *more = true;
                return kelStreamOk;
            }
            if (boundary_) {
                boundary_ = false;
                if (stopAtEntries_) return kelStreamEntryEnd;  // the fields still describe the entry just ended
            }
        }
        if (hdr_.size() == sizeof kMagic && complete_) {
            ++entry_;
            complete_ = 0;
        }
        if (!gather(hdr_, kFixedLen)) {
            *more = true;
            return kelStreamOk;
        }
        const std::uint8_t* h = hdr_.data();
        const std::uint32_t version = std::uint32_t(h[9] << 8 | h[10]);
        // Files of releases before 0.94 have a shorter header (no level byte, 32-bit mtime); lzop stopped writing
        // them decades ago.
        if (version < kVersionNeeded) return fail(kelStreamErrUnsupported, "lzop file of a format version before 0.94");
        const std::uint32_t flags = n8_be32(h + 17);
        const std::size_t modeAt = kFixedLen + ((flags & kFilter) ? 4 : 0);
        if (!gather(hdr_, modeAt + 13)) {
            *more = true;
            return kelStreamOk;
        }
        const std::size_t nameLen = hdr_[modeAt + 12];
        const std::size_t total = modeAt + 13 + nameLen + 4;
        if (!gather(hdr_, total)) {
            *more = true;
            return kelStreamOk;
        }
        h = hdr_.data();
        const std::size_t checked = total - 4 - sizeof kMagic;
        const std::uint32_t sum =
            (flags & kHeaderCrc32) ? n8_crc32(h + sizeof kMagic, checked) : n8_adler32(h + sizeof kMagic, checked);
        if (sum != n8_be32(h + total - 4)) return fail(kelStreamErrChecksum, "lzop header checksum mismatch");
        const std::uint8_t method = h[15];
        if (method < kMethodLzo1x1 || method > kMethodLzo1x999) {
            return fail(kelStreamErrUnsupported, "lzop method other than LZO1X");
        }
        if (flags & kFilter) return fail(kelStreamErrUnsupported, "lzop filters are not supported");
        flags_ = flags;
        method_ = method;
        level_ = h[16];
        mode_ = n8_be32(h + modeAt);
        mtime_ = std::int64_t(std::uint64_t(n8_be32(h + modeAt + 8)) << 32 | n8_be32(h + modeAt + 4));
        name_.clear();
        name_.append(h + modeAt + 13, nameLen);  // within the 256 bytes reserved
        name_.push(0);
        complete_ = 1;
        hdr_.clear();
        have_ = 0;
        state_ = (flags & kExtraField) ? State::Extra : State::BlockHead;
        return kelStreamOk;
    }

    // The extra field (its length, the bytes and their checksum), which lzop itself never writes: skipped.
    KelStreamResult skipExtra(bool* more) {
        if (have_ < 4) {
            const std::size_t n = left() < 4 - have_ ? left() : 4 - have_;
            std::memcpy(small_ + have_, src_ + *consumed_, n);
            *consumed_ += n;
            have_ += n;
            if (have_ < 4) {
                *more = true;
                return kelStreamOk;
            }
            const std::uint32_t len = n8_be32(small_);
            if (len > kMaxBlockSize) return fail(kelStreamErrCorrupt, "lzop extra field too long");
            skip_ = std::size_t(len) + 4;
        }
        const std::size_t n = left() < skip_ ? left() : skip_;
        *consumed_ += n;
        skip_ -= n;
        if (skip_) {
            *more = true;
            return kelStreamOk;
        }
        have_ = 0;
        state_ = State::BlockHead;
        return kelStreamOk;
    }

    int sumsFor(bool coded) const {
        if (!coded) return ((flags_ & kAdler32D) != 0) + ((flags_ & kCrc32D) != 0);
        return ((flags_ & kAdler32C) != 0) + ((flags_ & kCrc32C) != 0);
    }

    // Decoded length (0 ends the file), coded length, then the checksums the flags promise: decoded Adler-32 and
    // CRC-32, and for a block that shrank the coded ones.
    bool fillSmall(std::size_t want) {
        if (have_ >= want) return true;
        const std::size_t n = want - have_ < left() ? want - have_ : left();
        std::memcpy(small_ + have_, src_ + *consumed_, n);
        *consumed_ += n;
        have_ += n;
        return have_ == want;
    }

    KelStreamResult readBlockHead(bool* more) {
        if (!fillSmall(4)) {
            *more = true;
            return kelStreamOk;
        }
        dstLen_ = n8_be32(small_);
        if (dstLen_ == 0) {
            have_ = 0;
            if (singleMember_) {
                state_ = State::Done;
                return kelStreamEnd;
            }
            state_ = State::Boundary;
            return kelStreamOk;
        }
        if (dstLen_ > kMaxBlockSize) return fail(kelStreamErrCorrupt, "lzop block longer than 64 MiB");
        if (!fillSmall(8)) {
            *more = true;
            return kelStreamOk;
        }
        codedLen_ = n8_be32(small_ + 4);
        if (codedLen_ == 0 || codedLen_ > dstLen_) return fail(kelStreamErrCorrupt, "bad lzop block length");
        const bool coded = codedLen_ < dstLen_;
        if (!fillSmall(8 + 4 * std::size_t(sumsFor(false) + (coded ? sumsFor(true) : 0)))) {
            *more = true;
            return kelStreamOk;
        }
        coded_.clear();
        if (!coded_.reserve(codedLen_)) return fail(kelStreamErrMemory, "out of memory");
        state_ = State::BlockBody;
        return kelStreamOk;
    }

    KelStreamResult readBlockBody(bool* more) {
        if (!gather(coded_, codedLen_)) {
            *more = true;
            return kelStreamOk;
        }
        const bool coded = codedLen_ < dstLen_;
        const std::uint8_t* sums = small_ + 8;
        std::uint32_t dAdler = 0, dCrc = 0;
        if (flags_ & kAdler32D) dAdler = n8_be32(sums), sums += 4;
        if (flags_ & kCrc32D) dCrc = n8_be32(sums), sums += 4;
        if (coded) {
            if (flags_ & kAdler32C) {
                if (n8_adler32(coded_.data(), codedLen_) != n8_be32(sums)) {
                    return fail(kelStreamErrChecksum, "lzop block checksum mismatch (compressed data)");
                }
                sums += 4;
            }
            if ((flags_ & kCrc32C) && n8_crc32(coded_.data(), codedLen_) != n8_be32(sums)) {
                return fail(kelStreamErrChecksum, "lzop block checksum mismatch (compressed data)");
            }
            if (!block_.resize(dstLen_)) return fail(kelStreamErrMemory, "out of memory");
            Kel32u got = dstLen_;
            if (kelsDecodeLZOSafe_8u(coded_.data(), codedLen_, block_.data(), &got) != kelStatusOk || got != dstLen_) {
                return fail(kelStreamErrCorrupt, "damaged lzop block");
            }
            out_ = block_.data();
        } else {
            out_ = coded_.data();
        }
        if ((flags_ & kAdler32D) && n8_adler32(out_, dstLen_) != dAdler) {
            return fail(kelStreamErrChecksum, "lzop block checksum mismatch");
        }
        if ((flags_ & kCrc32D) && n8_crc32(out_, dstLen_) != dCrc) {
            return fail(kelStreamErrChecksum, "lzop block checksum mismatch");
        }
        outLen_ = dstLen_;
        outPos_ = 0;
        state_ = State::Output;
        return kelStreamOk;
    }

    // After a file's end: zero bytes are padding and consumed; the magic (checked in readHeader) starts the next
    // file, which is the next entry.
    KelStreamResult atBoundary(bool* more) {
        while (left() && src_[*consumed_] == 0) ++*consumed_;
        if (!left()) {
            *more = true;
            return kelStreamOk;
        }
        boundary_ = true;
        callStart_ = SIZE_MAX;
        hdr_.clear();
        state_ = State::Header;
        return kelStreamOk;
    }

    bool singleMember_, stopAtEntries_;
    State state_ = State::Header;
    bool boundary_ = false;  // the header being read follows a file's end: a wrong magic is trailing data

    // The current call's input.
    const std::uint8_t* src_ = nullptr;
    std::size_t srcLen_ = 0;
    std::size_t* consumed_ = nullptr;
    std::size_t callStart_ = SIZE_MAX;  // where this call began taking the magic, if it did

    Bytes hdr_;               // the header so far, magic included (kMaxHeaderLen reserved)
    std::uint8_t small_[24];  // a block header, or an extra field's length
    std::size_t have_ = 0;    // bytes in small_
    std::size_t skip_ = 0;    // extra-field bytes still to skip

    // The current file's header fields.
    std::uint32_t flags_ = 0, mode_ = 0, entry_ = 0;
    int complete_ = 0, method_ = 0, level_ = -1;
    std::int64_t mtime_ = 0;
    Bytes name_;  // NUL-terminated

    // The current block.
    std::uint32_t dstLen_ = 0, codedLen_ = 0;
    Bytes coded_, block_;
    const std::uint8_t* out_ = nullptr;
    std::size_t outLen_ = 0, outPos_ = 0;
};

}  // namespace

Engine* newLzopDecoder(const Setup& s, CreateError* e) {
    LzopDecoder* d = make<LzopDecoder>(s.alloc, s);
    if (!d || !d->init()) {
        dispose(s.alloc, d);
        *e = {kelStreamErrMemory, "out of memory"};
        return nullptr;
    }
    return d;
}

}  // namespace kel::stream

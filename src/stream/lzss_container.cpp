// src/stream/lzss_container.cpp - kel's LZSS container in both directions: the magic "KLZS", a version byte (1),
// the LZSS bit stream flushed to a whole byte, then a 12-byte trailer: the decoded length (64-bit little-endian)
// and the CRC-32 (gzip's) of the decoded bytes (32-bit little-endian).
//
// The bit stream has no end marker, so the reader cannot tell from the bits where they end. It finds the end from
// the trailer instead: at a byte boundary where everything fed so far has been decoded, the next 12 bytes are the
// trailer when they hold exactly the length and CRC-32 produced so far. Only positions whose claimed length is
// reachable from the output so far are tried (a stream byte yields at most 86 bytes: a 24-bit match of 258), so
// the decoder is fed in pieces that end at those few positions, and the 12 bytes beyond the fed ones are always
// held back. Whatever follows a verified trailer is trailing data.
#include <cstring>

#include "keldc.h"
#include "stream/stream_internal.h"

namespace kel::stream {
namespace {

constexpr std::uint8_t kMagic[4] = {'K', 'L', 'Z', 'S'};
constexpr std::uint8_t kVersion = 1;
constexpr std::size_t kTrailerSize = 12;
constexpr std::size_t kChunk = 1 << 18;  // input per encoder call: large chunks code better (see the encoder)
// The encoder's worst case is 9 bits per byte (all literals), plus the bits pending from the chunk before.
constexpr std::size_t kCodedRoom = kChunk * 9 / 8 + 64;
// Most stream bytes the decoder takes per step; the held bytes never exceed this plus the trailer.
constexpr std::size_t kFeedPiece = 1 << 16;
constexpr std::uint64_t kMaxBytesPerStreamByte = 86;  // 258 bytes from a 24-bit match, rounded up
constexpr std::uint64_t kMaxItem = 258;
// What the decoder can still produce from the bits it holds once its input is used up: the rest of a match and
// the literals in its 31-bit buffer.
constexpr std::size_t kSpillRoom = 512;

std::uint64_t n8_le64(const std::uint8_t* p) {
    std::uint64_t x = 0;
    for (int k = 7; k >= 0; --k) x = x << 8 | p[k];
    return x;
}

std::uint32_t n8_le32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

void n8_updateCrc(Kel32u* crc, const std::uint8_t* p, std::size_t n) {
    while (n) {
        const int piece = n > (1u << 30) ? (1 << 30) : int(n);
        kelsCRC32_8u(p, piece, crc);
        p += piece;
        n -= std::size_t(piece);
    }
}

class LzssEncoder final : public EngineOf<LzssEncoder> {
public:
    explicit LzssEncoder(const Setup& s) : EngineOf(s), pending_(s.alloc), chunk_(s.alloc), state_(s.alloc) {}

    bool init() {
        int size = 0;
        kelsLZSSGetSize_8u(&size);
        if (!state_.resize(std::size_t(size)) || !chunk_.reserve(kChunk) ||
            !pending_.buffer().reserve(kCodedRoom + kTrailerSize + 16)) {
            return false;
        }
        return reset();
    }

    KelStreamResult process(const std::uint8_t* src, std::size_t srcLen, std::size_t* consumed, std::uint8_t* dst,
                            std::size_t dstCap, std::size_t* produced, KelStreamFlush flush) override {
        *consumed = *produced = 0;
        for (;;) {
            pending_.drain(dst, dstCap, produced);
            if (!pending_.empty()) return kelStreamOk;
            if (finished_) return kelStreamEnd;
            std::size_t take = srcLen - *consumed;
            if (take > kChunk - chunk_.size()) take = kChunk - chunk_.size();
            chunk_.append(src + *consumed, take);  // within the reserved chunk: cannot fail
            *consumed += take;
            if (chunk_.size() == kChunk) {
                if (!codeChunk()) return fail(kelStreamErrMemory, "out of memory");
                continue;
            }
            if (flush == kelFlushFinish) {
                if (!codeChunk() || !finish()) return fail(kelStreamErrMemory, "out of memory");
                finished_ = true;
                continue;
            }
            // The bits are byte-aligned only at the end, and coding a partial chunk would change the output: a sync
            // flush has nothing to do beyond handing out what is complete.
            return flush == kelFlushSync ? kelStreamFlushed : kelStreamOk;
        }
    }

    bool reset() override {
        if (!pending_.empty()) return false;  // output half handed out: the engine is rebuilt instead
        kelsEncodeLZSSInit_8u(lzss());
        chunk_.clear();
        pending_.buffer().clear();
        total_ = 0;
        crc_ = 0;
        finished_ = false;
        return pending_.buffer().append(kMagic, sizeof kMagic) && pending_.buffer().push(kVersion);
    }

private:
    LZSSState_8u* lzss() { return reinterpret_cast<LZSSState_8u*>(state_.data()); }

    // Codes the chunk into the pending output (emptied by the caller first).
    bool codeChunk() {
        if (chunk_.empty()) return true;
        total_ += chunk_.size();
        n8_updateCrc(&crc_, chunk_.data(), chunk_.size());
        Bytes& out = pending_.buffer();
        if (!out.reserve(out.size() + kCodedRoom)) return false;
        const Kel8u* src = chunk_.data();
        Kel32u srcLen = Kel32u(chunk_.size());
        while (srcLen > 0) {
            Kel8u* dst = out.end();
            Kel32u room = Kel32u(out.capacity() - out.size());
            kelsEncodeLZSS_8u(&src, &srcLen, &dst, &room, lzss());
            out.resize(std::size_t(dst - out.data()));
            if (srcLen && !out.reserve(out.size() + kCodedRoom)) return false;
        }
        chunk_.clear();
        return true;
    }

    bool finish() {
        Bytes& out = pending_.buffer();
        KelStatus st;
        do {
            if (!out.reserve(out.size() + 64)) return false;
            Kel8u* dst = out.end();
            Kel32u room = Kel32u(out.capacity() - out.size());
            st = kelsEncodeLZSSFlush_8u(&dst, &room, lzss());
            out.resize(std::size_t(dst - out.data()));
        } while (st == kelStatusDstFull);
        std::uint8_t t[kTrailerSize];
        for (int k = 0; k < 8; ++k) t[k] = std::uint8_t(total_ >> (8 * k));
        for (int k = 0; k < 4; ++k) t[8 + k] = std::uint8_t(crc_ >> (8 * k));
        return out.append(t, kTrailerSize);
    }

    Pending pending_;
    Bytes chunk_, state_;
    std::uint64_t total_ = 0;
    Kel32u crc_ = 0;
    bool finished_ = false;
};

class LzssDecoder final : public EngineOf<LzssDecoder> {
public:
    explicit LzssDecoder(const Setup& s)
        : EngineOf(s), singleMember_(s.singleMember), held_(s.alloc), spill_(s.alloc), state_(s.alloc) {}

    bool init() {
        int size = 0;
        kelsLZSSGetSize_8u(&size);
        if (!state_.resize(std::size_t(size)) || !held_.reserve(kFeedPiece + kTrailerSize) ||
            !spill_.resize(kSpillRoom)) {
            return false;
        }
        return reset();
    }

    bool reset() override {
        kelsDecodeLZSSInit_8u(lzss());
        held_.clear();
        headLen_ = 0;
        total_ = 0;
        crc_ = 0;
        spillLen_ = spillPos_ = 0;
        ended_ = false;
        return true;
    }

    KelStreamResult process(const std::uint8_t* src, std::size_t srcLen, std::size_t* consumed, std::uint8_t* dst,
                            std::size_t dstCap, std::size_t* produced, KelStreamFlush flush) override {
        *consumed = *produced = 0;
        drainSpill(dst, dstCap, produced);
        if (spillPos_ < spillLen_) return kelStreamOk;
        if (ended_) return afterEnd(srcLen, 0, flush);
        if (headLen_ < 5) {
            while (headLen_ < 5 && *consumed < srcLen) {
                const std::uint8_t b = src[(*consumed)++];
                if (headLen_ < 4 && b != kMagic[headLen_]) return fail(kelStreamErrCorrupt, "not an LZSS container");
                if (headLen_ == 4 && b != kVersion) {
                    return fail(kelStreamErrUnsupported, "unknown LZSS container version");
                }
                ++headLen_;
            }
            if (headLen_ < 5) {
                if (flush == kelFlushFinish) return fail(kelStreamErrTruncated, "truncated LZSS container");
                return kelStreamOk;
            }
        }
        // Held bytes from earlier calls (at most kTrailerSize of them, see below) come first.
        std::size_t carried = held_.size();
        for (;;) {
            std::size_t take = srcLen - *consumed;
            if (take > kFeedPiece + kTrailerSize - held_.size()) take = kFeedPiece + kTrailerSize - held_.size();
            held_.append(src + *consumed, take);  // within the reserved room
            *consumed += take;
            if (held_.size() < kTrailerSize) break;
            if (isTrailerAt(0)) {
                held_.consume(kTrailerSize);
                carried = carried > kTrailerSize ? carried - kTrailerSize : 0;
                ended_ = true;
                break;
            }
            const std::size_t piece = nextStop();
            if (piece == 0) break;  // nothing but the possible trailer is held
            const std::size_t before = held_.size();
            const bool roomLeft = feed(piece, dst, dstCap, produced);
            const std::size_t fed = before - held_.size();
            carried = carried > fed ? carried - fed : 0;
            if (!roomLeft) break;
        }
        // Hand back what this call took beyond what must stay held: between calls the held bytes never exceed the
        // trailer's size, so every byte after a trailer found in this call came in this call and can go back.
        const std::size_t keep = ended_ ? 0 : (carried > kTrailerSize ? carried : kTrailerSize);
        if (held_.size() > keep) {
            *consumed -= held_.size() - keep;
            held_.resize(keep);
        }
        if (ended_) return afterEnd(srcLen, *consumed, flush);
        if (spillPos_ < spillLen_ || *consumed < srcLen || flush != kelFlushFinish) return kelStreamOk;
        return failAtEnd();
    }

private:
    LZSSState_8u* lzss() { return reinterpret_cast<LZSSState_8u*>(state_.data()); }

    // After the trailer: any byte is trailing data; without one the end is certain only once the input is.
    KelStreamResult afterEnd(std::size_t srcLen, std::size_t consumed, KelStreamFlush flush) const {
        if (consumed < srcLen) return kelStreamTrailingData;
        return flush == kelFlushFinish || singleMember_ ? kelStreamEnd : kelStreamOk;
    }

    void drainSpill(std::uint8_t* dst, std::size_t dstCap, std::size_t* produced) {
        std::size_t n = spillLen_ - spillPos_;
        if (n > dstCap - *produced) n = dstCap - *produced;
        if (n) std::memcpy(dst + *produced, spill_.data() + spillPos_, n);
        *produced += n;
        spillPos_ += n;
    }

    // True when held_[at, at + 12) is a trailer matching everything decoded so far.
    bool isTrailerAt(std::size_t at) const {
        return n8_le64(held_.data() + at) == total_ && n8_le32(held_.data() + at + 8) == crc_;
    }

    // How many held bytes to feed next: up to the first later position that could hold the trailer, else all but
    // the last kTrailerSize (whose start is then tried next). The output so far is complete here, but up to 31
    // bits may wait in the decoder, one item's worth beyond the bytes counted.
    std::size_t nextStop() const {
        const std::size_t last = held_.size() - kTrailerSize;
        for (std::size_t at = 1; at < last; ++at) {
            const std::uint64_t length = n8_le64(held_.data() + at);
            if (length >= total_ && length - total_ <= (at + 4) * kMaxBytesPerStreamByte + kMaxItem) return at;
        }
        return last;
    }

    void count(const std::uint8_t* p, std::size_t n) {
        n8_updateCrc(&crc_, p, n);
        total_ += n;
    }

    // Feeds held_[0, n) to the decoder and drops from held_ what it took. The output goes to dst while it has room;
    // once it is full, whatever the decoder can still produce (the rest of a match, items from the bits it holds,
    // then the piece byte by byte) goes to the spill buffer until something comes out. Either way the decoder is
    // left fully drained, which the trailer test needs. Returns false when output waits in the spill buffer.
    bool feed(std::size_t n, std::uint8_t* dst, std::size_t dstCap, std::size_t* produced) {
        const Kel8u* p = held_.data();
        Kel32u left = Kel32u(n);
        while (*produced < dstCap) {
            Kel8u* out = dst + *produced;
            Kel32u room = Kel32u(dstCap - *produced > 0x40000000u ? 0x40000000u : dstCap - *produced);
            const KelStatus st = kelsDecodeLZSS_8u(&p, &left, &out, &room, lzss());
            const std::size_t got = std::size_t(out - (dst + *produced));
            count(dst + *produced, got);
            *produced += got;
            if (st != kelStatusDstFull) {
                held_.consume(n);
                return true;
            }
        }
        held_.consume(std::size_t(p - held_.data()));
        // One stream byte completes at most one match (258 bytes) plus the literals of a 31-bit buffer, so each
        // call below stops with room to spare, its input used up.
        spillLen_ = spillPos_ = 0;
        for (;;) {
            Kel8u* out = spill_.data();
            Kel32u room = Kel32u(kSpillRoom);
            Kel32u one = left ? 1 : 0;
            const Kel8u* q = held_.data();
            kelsDecodeLZSS_8u(&q, &one, &out, &room, lzss());
            spillLen_ = std::size_t(out - spill_.data());
            count(spill_.data(), spillLen_);
            if (left && one == 0) {
                held_.consume(1);
                --left;
            }
            if (spillLen_) return false;
            if (left == 0) return true;
        }
    }

    // The input ended without a matching trailer: its last 12 bytes say what should have been decoded.
    KelStreamResult failAtEnd() {
        if (held_.size() < kTrailerSize) return fail(kelStreamErrTruncated, "truncated LZSS container");
        const std::uint64_t length = n8_le64(held_.data());
        if (total_ == length) return fail(kelStreamErrChecksum, "LZSS container CRC-32 mismatch");
        if (total_ < length) return fail(kelStreamErrTruncated, "truncated LZSS container");
        return fail(kelStreamErrCorrupt, "LZSS container length mismatch");
    }

    bool singleMember_;
    Bytes held_;   // stream bytes taken but not yet fed; the last kTrailerSize of them may be the trailer
    Bytes spill_;  // decoded bytes that did not fit the caller's room
    Bytes state_;
    std::size_t headLen_ = 0, spillLen_ = 0, spillPos_ = 0;
    std::uint64_t total_ = 0;
    Kel32u crc_ = 0;
    bool ended_ = false;
};

}  // namespace

Engine* newLzssEncoder(const Setup& s, CreateError* e) {
    LzssEncoder* enc = make<LzssEncoder>(s.alloc, s);
    if (!enc || !enc->init()) {
        dispose(s.alloc, enc);
        *e = {kelStreamErrMemory, "out of memory"};
        return nullptr;
    }
    return enc;
}

Engine* newLzssDecoder(const Setup& s, CreateError* e) {
    LzssDecoder* d = make<LzssDecoder>(s.alloc, s);
    if (!d || !d->init()) {
        dispose(s.alloc, d);
        *e = {kelStreamErrMemory, "out of memory"};
        return nullptr;
    }
    return d;
}

// 9 bits per input byte at worst (all literals), the header, the last partial byte and the trailer. 0 when the
// sum does not fit a size_t.
std::size_t lzssBound(const KelStreamOptions& o, std::size_t srcLen) {
    (void)o;
    if (srcLen > (SIZE_MAX - 64) / 9 * 8) return 0;
    return srcLen + srcLen / 8 + 1 + 5 + kTrailerSize + 8;
}

}  // namespace kel::stream

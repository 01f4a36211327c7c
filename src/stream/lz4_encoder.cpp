// src/stream/lz4_encoder.cpp - LZ4 frame compression on libkeldcn8's LZ4 block encoders.
//
// Input is cut into blocks of the frame's block size (a sync flush ends a block early); each block is compressed
// and stored as is when that does not make it smaller, so no block is ever longer than its content. The block
// boundaries depend only on the input and the flushes, never on how the caller splits its buffers, so the output
// bytes do not either.
//
// Linked blocks are written with the dictionary encoder (the previous 64 KiB as an external dictionary, stream
// positions running on) or with the high-compression encoder over history and block in one buffer. A block that
// the caller's input holds in one piece (a full one, or the rest of the input when a flush ends the block there)
// is compressed where it lies; anything shorter is gathered first. A block goes straight into the caller's output
// when the room left there takes its longest form, and into the pending output otherwise: a one-shot call with
// the bound's room never copies its output. The gather and pending buffers are taken only when first needed, so
// such a call never touches the block-sized buffers at all.
#include <algorithm>

#include "keldc.h"
#include "stream/lz4_frame_layout.h"
#include "stream/stream_internal.h"
#include "stream/xxhash.h"

namespace kel::stream {
namespace {

using namespace lz4;

// The dictionary encoder counts stream positions in 31 bits; a linked stream restarts its count (and its history)
// before it gets near that.
constexpr std::int64_t kPositionRestart = std::int64_t(1) << 30;

// The longest compressed block the encoders produce for n bytes, plus the 8 bytes of scratch the unbounded
// high-compression encoder may write past its output.
std::size_t packedBound(std::size_t n) {
    return n + n / 255 + 16 + 8;
}

// Where a block is written: the caller's output at *produced, with dstCap bytes of room in all.
struct Output {
    std::uint8_t* dst;
    std::size_t dstCap;
    std::size_t* produced;
};

class Lz4Encoder final : public EngineOf<Lz4Encoder> {
public:
    explicit Lz4Encoder(const Setup& s)
        : EngineOf(s),
          pending_(s.alloc),
          block_(s.alloc),
          history_(s.alloc),
          hcInput_(s.alloc),
          table_(s.alloc),
          hcHash_(s.alloc),
          hcChain_(s.alloc) {
        const KelStreamOptions& o = s.options;
        sizeId_ = o.lz4BlockSizeId;
        blockMax_ = blockMaxOf(sizeId_);
        linked_ = o.lz4Linked != 0;
        blockSum_ = o.lz4BlockChecksum != 0;
        contentSum_ = o.lz4ContentChecksum != 0;
        hcLevel_ = o.lz4HighCompression ? (o.level == 0 ? 9 : o.level) : 0;
        contentSize_ = o.contentSize;
        hasDictId_ = o.hasDictId != 0;
        dictId_ = o.dictId;
    }

    // Takes the memory every block needs: the encoder tables and the history. The gather and pending buffers
    // follow on first use (a caller that hands over whole blocks and the room for them never needs them).
    bool allocate() {
        Kel32u tableBytes = 0, hashBytes = 0, chainBytes = 0;
        kelsEncodeLZ4HashTableGetSize_8u(&tableBytes);
        if (!table_.resize(tableBytes)) return false;
        if (hcLevel_) {
            kelsEncodeLZ4HCHashTableGetSize_8u(&hashBytes, &chainBytes);
            if (!hcHash_.resize(hashBytes) || !hcChain_.resize(chainBytes)) return false;
            if (linked_ && !hcInput_.reserve(kHistoryLen + blockMax_)) return false;
        }
        if (linked_ && !history_.reserve(kHistoryLen)) return false;
        return start();
    }

    KelStreamResult process(const std::uint8_t* src, std::size_t srcLen, std::size_t* consumed, std::uint8_t* dst,
                            std::size_t dstCap, std::size_t* produced, KelStreamFlush flush) override {
        *consumed = 0;
        *produced = 0;
        for (;;) {
            pending_.drain(dst, dstCap, produced);
            if (!pending_.empty()) return kelStreamOk;
            if (ended_) return kelStreamEnd;
            const Output out{dst, dstCap, produced};
            const std::size_t avail = srcLen - *consumed;
            if (avail) {
                const std::uint8_t* in = src + *consumed;
                std::size_t take = std::min(avail, blockMax_ - block_.size());
                if (contentSize_ >= 0 && total_ + take > std::uint64_t(contentSize_)) {
                    return fail(kelStreamErrArgument, "more input than the declared content size");
                }
                if (contentSum_) contentHash_.update(in, take);
                total_ += take;
                *consumed += take;
                // A full block, or the last bytes before a flush ends the block: the same block gathering would
                // build, so the output does not depend on which way it is taken.
                if (block_.empty() && (take == blockMax_ || (flush != kelFlushNone && take == avail))) {
                    KelStreamResult r = compressBlock(in, take, out);
                    if (r != kelStreamOk) return r;
                    continue;
                }
                if (!block_.reserve(blockMax_)) return fail(kelStreamErrMemory, "out of memory");
                block_.append(in, take);  // within the capacity just reserved
                if (block_.size() == blockMax_) {
                    KelStreamResult r = compressGathered(out);
                    if (r != kelStreamOk) return r;
                }
                continue;
            }
            if (flush == kelFlushNone) return kelStreamOk;
            if (!block_.empty()) {
                KelStreamResult r = compressGathered(out);
                if (r != kelStreamOk) return r;
                continue;
            }
            if (flush == kelFlushSync) return kelStreamFlushed;
            if (trailerWritten_) {
                ended_ = true;
                return kelStreamEnd;
            }
            if (contentSize_ >= 0 && total_ != std::uint64_t(contentSize_)) {
                return fail(kelStreamErrArgument, "the input is shorter than the declared content size");
            }
            std::uint8_t trailer[8];
            put32(trailer, 0);
            put32(trailer + 4, contentHash_.digest());
            if (!pending_.buffer().append(trailer, contentSum_ ? 8 : 4)) {
                return fail(kelStreamErrMemory, "out of memory");
            }
            trailerWritten_ = true;
        }
    }

    void header(KelStreamHeader* h) const override {
        h->complete = 1;
        h->hasDictId = hasDictId_;
        h->dictId = hasDictId_ ? dictId_ : 0;
        h->contentSize = contentSize_ >= 0 ? contentSize_ : -1;
        h->lz4BlockSizeId = sizeId_;
        h->lz4Linked = linked_;
        h->lz4BlockChecksum = blockSum_;
        h->lz4ContentChecksum = contentSum_;
    }

    bool reset() override {
        // Output not yet handed out belongs to the abandoned stream: start the pending buffer afresh.
        pending_.~Pending();
        new (&pending_) Pending(alloc);
        block_.clear();
        history_.clear();
        streamPos_ = 0;
        total_ = 0;
        contentHash_.reset();
        trailerWritten_ = ended_ = false;
        return start();
    }

private:
    // Puts the magic and the descriptor into the pending output.
    bool start() {
        std::uint8_t head[4 + kMaxDescriptorLen + 1];
        put32(head, kFrameMagic);
        std::size_t n = 4;
        head[n++] = std::uint8_t(kFlgVersion | (linked_ ? 0 : kFlgIndependent) | (blockSum_ ? kFlgBlockChecksum : 0) |
                                 (contentSize_ >= 0 ? kFlgContentSize : 0) | (contentSum_ ? kFlgContentChecksum : 0) |
                                 (hasDictId_ ? kFlgDictId : 0));
        head[n++] = std::uint8_t(sizeId_ << 4);
        if (contentSize_ >= 0) {
            put32(head + n, std::uint32_t(contentSize_));
            put32(head + n + 4, std::uint32_t(std::uint64_t(contentSize_) >> 32));
            n += 8;
        }
        if (hasDictId_) {
            put32(head + n, dictId_);
            n += 4;
        }
        // The check byte is the second byte of the descriptor's hash (the magic is not hashed).
        head[n] = std::uint8_t(XxHash32::hash(head + 4, n - 4) >> 8);
        return pending_.buffer().append(head, n + 1);
    }

    KelStreamResult compressGathered(const Output& out) {
        KelStreamResult r = compressBlock(block_.data(), block_.size(), out);
        block_.clear();
        return r;
    }

    // The most bytes one block of n bytes of content may take while it is written: the length word, the data (the
    // fast encoders are bounded below n, a larger block is stored; the high-compression encoder is not bounded)
    // and the checksum.
    std::size_t blockRoom(std::size_t n) const { return 4 + (hcLevel_ ? packedBound(n) : n) + (blockSum_ ? 4 : 0); }

    // Writes one block (length word, data, optional checksum) into the caller's output when its room takes the
    // block's longest form, else into the pending output (empty whenever a block is compressed); stores the
    // content as is when compression does not make it smaller.
    KelStreamResult compressBlock(const std::uint8_t* src, std::size_t srcLen, const Output& to) {
        const std::size_t room = blockRoom(srcLen);
        Bytes& pending = pending_.buffer();
        const bool direct = pending_.empty() && to.dstCap - *to.produced >= room;
        std::uint8_t* head;
        if (direct) {
            head = to.dst + *to.produced;
        } else {
            if (!pending.resize(room)) return fail(kelStreamErrMemory, "out of memory");
            head = pending.data();
        }
        std::uint8_t* body = head + 4;
        const int n = int(srcLen);
        int packedLen = -1;
        if (hcLevel_) {
            Kel8u* tables[2] = {hcHash_.data(), hcChain_.data()};
            KelStatus st = kelsEncodeLZ4HCHashTableInit_8u(tables);
            const std::uint8_t* base = src;
            int srcIdx = 0;
            if (linked_ && !history_.empty()) {
                // The encoder's history is the bytes before the block in the same buffer.
                hcInput_.clear();
                hcInput_.append(history_.data(), history_.size());
                hcInput_.append(src, srcLen);
                base = hcInput_.data();
                srcIdx = int(history_.size());
            }
            int len = n, dstLen = 0;
            if (st == kelStatusOk)
                st = kelsEncodeLZ4HC_8u(base, srcIdx, &len, body, &dstLen, tables, nullptr, 0, hcLevel_);
            if (st != kelStatusOk) return fail(kelStreamErrLibrary, "the high-compression block encoder failed");
            if (dstLen < n) packedLen = dstLen;
        } else if (n > 1) {
            // The bounded encoders with a capacity one below the block: a block that does not fit is stored.
            int len = n, dstLen = n - 1;
            KelStatus st;
            if (linked_) {
                if (streamPos_ + n > kPositionRestart) {
                    streamPos_ = 0;
                    history_.clear();
                }
                st = kelsEncodeLZ4DictSafe_8u(src, int(streamPos_), &len, body, &dstLen, table_.data(),
                                              history_.empty() ? nullptr : history_.data(), int(history_.size()));
            } else {
                st = kelsEncodeLZ4Safe_8u(src, &len, body, &dstLen, table_.data());
            }
            if (st < 0) return fail(kelStreamErrLibrary, "the LZ4 block encoder failed");
            if (st == kelStatusOk && len == n) packedLen = dstLen;
        }
        std::size_t len = srcLen;
        if (packedLen >= 0) {
            len = std::size_t(packedLen);
            put32(body - 4, std::uint32_t(len));
        } else {
            std::memcpy(body, src, srcLen);
            put32(body - 4, std::uint32_t(len) | kStoredFlag);
        }
        if (blockSum_) {
            put32(body + len, XxHash32::hash(body, len));
            len += 4;
        }
        if (direct) {
            *to.produced += 4 + len;
        } else {
            pending.resize(4 + len);  // shrinks
        }
        if (linked_) rememberHistory(src, srcLen);
        streamPos_ += n;
        return kelStreamOk;
    }

    // Keeps the last 64 KiB of content for the next linked block (the capacity is reserved at creation).
    void rememberHistory(const std::uint8_t* block, std::size_t n) {
        if (n >= kHistoryLen) {
            history_.clear();
            history_.append(block + n - kHistoryLen, kHistoryLen);
            return;
        }
        const std::size_t keep = std::min(history_.size(), kHistoryLen - n);
        history_.consume(history_.size() - keep);
        history_.append(block, n);
    }

    Pending pending_;
    Bytes block_, history_, hcInput_;
    Bytes table_, hcHash_, hcChain_;
    int sizeId_ = 7;
    std::size_t blockMax_ = 0;
    bool linked_ = false, blockSum_ = false, contentSum_ = true, hasDictId_ = false;
    int hcLevel_ = 0;  // 0: the fast encoder
    std::int64_t contentSize_ = -1;
    std::uint32_t dictId_ = 0;
    std::int64_t streamPos_ = 0;  // bytes of the stream before the next block, as the dictionary encoder counts
    std::uint64_t total_ = 0;
    XxHash32 contentHash_;
    bool trailerWritten_ = false, ended_ = false;
};

}  // namespace

Engine* newLz4Encoder(const Setup& s, CreateError* e) {
    const KelStreamOptions& o = s.options;
    if (o.lz4BlockSizeId < 4 || o.lz4BlockSizeId > 7) {
        *e = {kelStreamErrArgument, "LZ4 block size ID must be 4 to 7"};
        return nullptr;
    }
    if (o.lz4HighCompression && (o.level < 0 || o.level > 9)) {
        *e = {kelStreamErrArgument, "LZ4 high-compression level must be 1 to 9 (0: 9)"};
        return nullptr;
    }
    Lz4Encoder* enc = make<Lz4Encoder>(s.alloc, s);
    if (!enc || !enc->allocate()) {
        if (enc) enc->destroy();
        *e = {kelStreamErrMemory, "out of memory"};
        return nullptr;
    }
    return enc;
}

// Every block stored with its length word and checksum: a frame never exceeds its content by more than the
// header, 8 bytes per block and the end mark with the content checksum.
std::size_t lz4Bound(const KelStreamOptions& o, std::size_t srcLen) {
    const int id = o.lz4BlockSizeId >= 4 && o.lz4BlockSizeId <= 7 ? o.lz4BlockSizeId : 4;
    const std::size_t blocks = srcLen / blockMaxOf(id) + 1;
    const std::size_t fixed = 4 + kMaxDescriptorLen + 1 + 8;
    if (blocks > (SIZE_MAX - fixed) / 8 || srcLen > SIZE_MAX - fixed - blocks * 8) return 0;
    return srcLen + fixed + blocks * 8;
}

}  // namespace kel::stream

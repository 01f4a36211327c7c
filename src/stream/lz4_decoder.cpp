// src/stream/lz4_decoder.cpp - LZ4 frame decompression: frames in a row, skippable frames and legacy streams.
//
// The decoder is a state machine over the units of the input. Headers, block lengths and checksums are read
// through a gather buffer when they arrive split, or straight from the caller's input when it holds them whole; a
// block is decoded only once all of it (and its checksum) is there. It is decoded into the caller's output when
// the room left there may hold its content (the room is the bound the block decoder is given, so a block that
// turns out longer fails there without harm), and into a buffer that later calls hand out first when it does
// not: a one-shot call whose room is the exact content size never copies its output.
//
// The block decoder knows no history, so a linked block is decoded with its history put in front of it as extra
// literals of the first sequence, and the history's part of the output is dropped. A frame's first block has no
// history, so a block that refers before the frame's start fails as corrupt (frames with a dictionary ID included:
// the dictionary is not known here).
//
// After a unit, bytes that start none are left unconsumed and give kelStreamTrailingData, zero bytes included:
// the format has no padding convention, and the lz4 tool reports such bytes as undecodable data after the
// stream too. Magic bytes are matched as they arrive, so a caller that hands over the input in pieces may see up
// to three bytes that began like a magic consumed before the mismatch.
#include <algorithm>

#include "keldc.h"
#include "stream/lz4_frame_layout.h"
#include "stream/stream_internal.h"
#include "stream/xxhash.h"

namespace kel::stream {
namespace {

using namespace lz4;

bool isUnitMagic(std::uint32_t v) {
    return v == kFrameMagic || v == kLegacyMagic || (v & kSkippableMask) == kSkippableMagic;
}

// True when the n (< 4 or 4) bytes could be the start of a frame, skippable frame or legacy magic.
bool couldStartMagic(const std::uint8_t* m, std::size_t n) {
    static const std::uint8_t kFrame[4] = {0x04, 0x22, 0x4D, 0x18};
    static const std::uint8_t kLegacy[4] = {0x02, 0x21, 0x4C, 0x18};
    static const std::uint8_t kSkippable[4] = {0x50, 0x2A, 0x4D, 0x18};
    bool frame = true, legacy = true, skippable = true;
    for (std::size_t i = 0; i < n; ++i) {
        frame = frame && m[i] == kFrame[i];
        legacy = legacy && m[i] == kLegacy[i];
        skippable = skippable && (i == 0 ? (m[0] & 0xF0) == kSkippable[0] : m[i] == kSkippable[i]);
    }
    return frame || legacy || skippable;
}

// The least content a well-formed block of n bytes decodes to. Each sequence spends a token, the extension bytes
// of its literal count (one per 255 literals beyond 14, the first of them at 15 literals) and, unless it is the
// last, an offset and the extension bytes of its match length, and yields its literals and a match of at least
// 4 bytes, which pays for the token, the offset and its own extension bytes. So the block outgrows its content by
// at most one byte per 15 literals and the last token: a room below this cannot take the block, and trying it
// would only waste the decoding.
std::size_t minContentOf(std::size_t n) {
    return n > 1 ? (n - 1) - (n - 1) / 16 : 0;
}

class Lz4Decoder final : public EngineOf<Lz4Decoder> {
public:
    explicit Lz4Decoder(const Setup& s)
        : EngineOf(s),
          pending_(s.alloc),
          gather_(s.alloc),
          decoded_(s.alloc),
          history_(s.alloc),
          prefixed_(s.alloc),
          singleMember_(s.singleMember),
          stopAtEntries_(s.options.stopAtEntries != 0) {}

    KelStreamResult process(const std::uint8_t* src, std::size_t srcLen, std::size_t* consumed, std::uint8_t* dst,
                            std::size_t dstCap, std::size_t* produced, KelStreamFlush flush) override {
        *consumed = 0;
        *produced = 0;
        src_ = src;
        srcLen_ = srcLen;
        consumed_ = consumed;
        dst_ = dst;
        dstCap_ = dstCap;
        produced_ = produced;
        final_ = flush == kelFlushFinish;
        for (;;) {
            pending_.drain(dst, dstCap, produced);
            if (!pending_.empty()) return kelStreamOk;
            const int r = step();
            if (r != kStepOn) return KelStreamResult(r);
        }
    }

    void header(KelStreamHeader* h) const override {
        h->entry = entry_;
        h->complete = headerComplete_;
        h->method = legacy_ ? 1 : 0;
        h->hasDictId = (flg_ & kFlgDictId) != 0;
        h->dictId = dictId_;
        h->contentSize =
            (flg_ & kFlgContentSize) && declared_ <= std::uint64_t(INT64_MAX) ? std::int64_t(declared_) : -1;
        h->lz4BlockSizeId = legacy_ ? 0 : sizeId_;
        h->lz4Linked = !legacy_ && headerComplete_ && !(flg_ & kFlgIndependent);
        h->lz4BlockChecksum = (flg_ & kFlgBlockChecksum) != 0;
        h->lz4ContentChecksum = (flg_ & kFlgContentChecksum) != 0;
        h->lz4Legacy = legacy_;
    }

    bool reset() override {
        pending_.~Pending();
        new (&pending_) Pending(alloc);
        gather_.clear();
        gatherUsed_ = outOfMemory_ = false;
        lookLen_ = 0;
        state_ = State::Magic;
        anyUnit_ = entryDue_ = false;
        unitsStarted_ = 0;
        entry_ = 0;
        clearUnitHeader();
        return true;
    }

private:
    // The internal steps return a KelStreamResult for the caller, or kStepOn to go on (not an enumerator, so it
    // travels as an int).
    static constexpr int kStepOn = 100;

    enum class State {
        Magic,            // between units: a magic or the end
        SkipSize,         // a skippable frame's length
        Skip,             // its bytes
        Descriptor,       // FLG and BD
        DescriptorRest,   // content size, dictionary ID, check byte
        BlockHead,        // a block length word or the end mark
        BlockData,        // a block and its checksum
        ContentChecksum,  // after the end mark
        LegacyHead,       // a legacy block length, a magic or the end
        LegacyData,       // a legacy block
        Done,             // singleMember: the unit is complete
        Trailing          // bytes that start no unit follow
    };

    // Waiting for input: fine until the caller says there is no more.
    int needInput(const char* what) { return final_ ? fail(kelStreamErrTruncated, what) : kelStreamOk; }

    std::size_t avail() const { return srcLen_ - *consumed_; }

    // The next n bytes once all are there (consumed; valid until the next take), else null after taking what there
    // is. Bytes the caller's input holds whole are not copied.
    const std::uint8_t* take(std::size_t n) {
        if (gatherUsed_) {
            gather_.clear();
            gatherUsed_ = false;
        }
        const std::size_t have = gather_.size(), a = avail();
        const std::uint8_t* in = src_ + *consumed_;
        if (have == 0 && a >= n) {
            *consumed_ += n;
            return in;
        }
        const std::size_t t = std::min(n - have, a);
        if (!gather_.append(in, t)) {
            outOfMemory_ = true;
            return nullptr;
        }
        *consumed_ += t;
        if (gather_.size() < n) return nullptr;
        gatherUsed_ = true;
        return gather_.data();
    }

    int takeFailed(const char* what) {
        if (outOfMemory_) return fail(kelStreamErrMemory, "out of memory");
        return needInput(what);
    }

    // The next up to 4 bytes without consuming those of this call (look_ holds any taken by earlier calls).
    std::size_t peek(std::uint8_t m[4]) const {
        std::memcpy(m, look_, lookLen_);
        const std::size_t extra = std::min<std::size_t>(4 - lookLen_, avail());
        if (extra) std::memcpy(m + lookLen_, src_ + *consumed_, extra);
        return lookLen_ + extra;
    }
    void acceptPeeked() {
        *consumed_ += 4 - lookLen_;
        lookLen_ = 0;
    }
    void stashPeeked() {
        const std::size_t a = avail();
        if (a) std::memcpy(look_ + lookLen_, src_ + *consumed_, a);
        lookLen_ += a;
        *consumed_ += a;
    }

    // Hands out n bytes: what fits goes to the caller, the rest to the pending buffer.
    int emit(const std::uint8_t* data, std::size_t n) {
        const std::size_t direct = std::min(n, dstCap_ - *produced_);
        if (direct) std::memcpy(dst_ + *produced_, data, direct);
        *produced_ += direct;
        if (direct < n && !pending_.buffer().append(data + direct, n - direct)) {
            return fail(kelStreamErrMemory, "out of memory");
        }
        return kStepOn;
    }

    void clearUnitHeader() {
        flg_ = 0;
        sizeId_ = 0;
        dictId_ = 0;
        declared_ = 0;
        legacy_ = false;
        headerComplete_ = 0;
        tryRoom_ = true;
    }

    // A frame or legacy stream is complete.
    int endUnit() {
        anyUnit_ = true;
        entryDue_ = true;
        state_ = singleMember_ ? State::Done : State::Magic;
        return kStepOn;
    }

    int step() {
        switch (state_) {
            case State::Magic:
                return atMagic();
            case State::SkipSize: {
                const std::uint8_t* p = take(4);
                if (!p) return takeFailed("input ends inside a skippable frame");
                skipLeft_ = get32(p);
                state_ = State::Skip;
                return kStepOn;
            }
            case State::Skip: {
                const std::size_t t = std::min<std::uint64_t>(skipLeft_, avail());
                *consumed_ += t;
                skipLeft_ -= t;
                if (skipLeft_) return needInput("input ends inside a skippable frame");
                anyUnit_ = true;
                state_ = State::Magic;
                return kStepOn;
            }
            case State::Descriptor:
                return atDescriptor();
            case State::DescriptorRest:
                return atDescriptorRest();
            case State::BlockHead:
                return atBlockHead();
            case State::BlockData:
                return atBlockData();
            case State::ContentChecksum: {
                const std::uint8_t* p = take(4);
                if (!p) return takeFailed("input ends before the content checksum");
                if (get32(p) != contentHash_.digest()) return fail(kelStreamErrChecksum, "content checksum mismatch");
                return endFrame();
            }
            case State::LegacyHead:
                return atLegacyHead();
            case State::LegacyData: {
                const std::uint8_t* p = take(blockLen_);
                if (!p) return takeFailed("input ends inside a legacy block");
                state_ = State::LegacyHead;
                return decodeBlock(p, blockLen_, kLegacyBlockMax, false);
            }
            case State::Done:
                return kelStreamEnd;
            case State::Trailing:
                return kelStreamTrailingData;
        }
        return fail(kelStreamErrLibrary, "bad decoder state");
    }

    int atMagic() {
        std::uint8_t m[4];
        const std::size_t n = peek(m);
        if (n == 0) {
            if (!final_) return kelStreamOk;
            return anyUnit_ ? kelStreamEnd : fail(kelStreamErrTruncated, "empty input");
        }
        if (!couldStartMagic(m, n)) {
            if (!anyUnit_) return fail(kelStreamErrCorrupt, "not an LZ4 frame");
            state_ = State::Trailing;
            return kelStreamTrailingData;
        }
        if (n < 4) {
            stashPeeked();
            return needInput("input ends inside a frame magic");
        }
        const std::uint32_t magic = get32(m);
        if ((magic & kSkippableMask) == kSkippableMagic) {
            acceptPeeked();
            state_ = State::SkipSize;
            return kStepOn;
        }
        // A frame or a legacy stream: with stopAtEntries, the previous one's end is reported first, with the magic
        // left where it is.
        if (stopAtEntries_ && entryDue_) {
            entryDue_ = false;
            return kelStreamEntryEnd;
        }
        entryDue_ = false;
        acceptPeeked();
        if (unitsStarted_++) ++entry_;
        clearUnitHeader();
        if (magic == kLegacyMagic) {
            legacy_ = true;
            headerComplete_ = 1;
            state_ = State::LegacyHead;
        } else {
            state_ = State::Descriptor;
        }
        return kStepOn;
    }

    int atDescriptor() {
        const std::uint8_t* p = take(2);
        if (!p) return takeFailed("input ends inside a frame descriptor");
        desc_[0] = p[0];
        desc_[1] = p[1];
        flg_ = p[0];
        if ((flg_ >> 6) != 1) return fail(kelStreamErrCorrupt, "unsupported LZ4 frame version");
        if ((flg_ & kFlgReserved) || (p[1] & kBdReserved)) {
            return fail(kelStreamErrCorrupt, "reserved LZ4 descriptor bits set");
        }
        sizeId_ = (p[1] >> 4) & 7;
        if (sizeId_ < 4) return fail(kelStreamErrCorrupt, "bad LZ4 block size ID");
        descLen_ = 2 + ((flg_ & kFlgContentSize) ? 8 : 0) + ((flg_ & kFlgDictId) ? 4 : 0);
        state_ = State::DescriptorRest;
        return kStepOn;
    }

    int atDescriptorRest() {
        const std::uint8_t* p = take(descLen_ - 2 + 1);
        if (!p) return takeFailed("input ends inside a frame descriptor");
        std::memcpy(desc_ + 2, p, descLen_ - 2 + 1);
        if (desc_[descLen_] != std::uint8_t(XxHash32::hash(desc_, descLen_) >> 8)) {
            return fail(kelStreamErrChecksum, "LZ4 descriptor checksum mismatch");
        }
        std::size_t at = 2;
        if (flg_ & kFlgContentSize) {
            declared_ = std::uint64_t(get32(desc_ + at)) | std::uint64_t(get32(desc_ + at + 4)) << 32;
            at += 8;
        }
        if (flg_ & kFlgDictId) dictId_ = get32(desc_ + at);
        blockMax_ = blockMaxOf(sizeId_);
        const bool linked = !(flg_ & kFlgIndependent);
        // The memory linked blocks always need, taken before any of them arrives. The gather and decode buffers
        // grow on first use: a caller that hands over whole blocks and the room for their content needs neither.
        if (linked && (!history_.reserve(kHistoryLen) || !prefixed_.reserve(blockMax_ + kHistoryLen + 64))) {
            return fail(kelStreamErrMemory, "out of memory");
        }
        history_.clear();
        contentHash_.reset();
        total_ = 0;
        headerComplete_ = 1;
        state_ = State::BlockHead;
        return kStepOn;
    }

    int atBlockHead() {
        const std::uint8_t* p = take(4);
        if (!p) return takeFailed("input ends before the LZ4 end mark");
        blockHead_ = get32(p);
        if (blockHead_ == 0) {
            if (flg_ & kFlgContentChecksum) {
                state_ = State::ContentChecksum;
                return kStepOn;
            }
            return endFrame();
        }
        blockLen_ = blockHead_ & ~kStoredFlag;
        if (blockLen_ > blockMax_) return fail(kelStreamErrCorrupt, "LZ4 block larger than the frame allows");
        state_ = State::BlockData;
        return kStepOn;
    }

    int atBlockData() {
        const bool blockSum = flg_ & kFlgBlockChecksum;
        const std::uint8_t* p = take(blockLen_ + (blockSum ? 4 : 0));
        if (!p) return takeFailed("input ends inside an LZ4 block");
        if (blockSum && get32(p + blockLen_) != XxHash32::hash(p, blockLen_)) {
            return fail(kelStreamErrChecksum, "LZ4 block checksum mismatch");
        }
        state_ = State::BlockHead;
        const bool linked = !(flg_ & kFlgIndependent);
        if (blockHead_ & kStoredFlag) return deliver(p, blockLen_, linked);
        return decodeBlock(p, blockLen_, blockMax_, linked);
    }

    int endFrame() {
        if ((flg_ & kFlgContentSize) && total_ != declared_) {
            return fail(kelStreamErrChecksum, "LZ4 content size differs from the descriptor");
        }
        return endUnit();
    }

    int atLegacyHead() {
        std::uint8_t m[4];
        const std::size_t n = peek(m);
        if (n == 0) {
            if (!final_) return kelStreamOk;
            return endUnit();
        }
        if (n < 4) {
            stashPeeked();
            return needInput("input ends inside a legacy block length");
        }
        const std::uint32_t v = get32(m);
        // A magic, or a length no legacy block can have, ends the stream; the bytes are read again as what follows.
        if (isUnitMagic(v) || v > kLegacyPackedMax) return endUnit();
        if (v == 0) return fail(kelStreamErrCorrupt, "empty legacy block");
        acceptPeeked();
        blockLen_ = v;
        state_ = State::LegacyData;
        return kStepOn;
    }

    // Decodes one compressed block of at most cap bytes of content.
    int decodeBlock(const std::uint8_t* block, std::size_t len, std::size_t cap, bool linked) {
        const std::uint8_t* src = block;
        std::size_t srcLen = len, skip = 0;
        if (linked && !history_.empty()) {
            // The history becomes literals of the first sequence: its token's literal count (with extension
            // bytes) is rewritten to cover history and the block's own literals.
            std::size_t lit = block[0] >> 4, i = 1;
            if (lit == 15) {
                for (;;) {
                    if (i >= len) return fail(kelStreamErrCorrupt, "bad LZ4 block");
                    const unsigned b = block[i++];
                    lit += b;
                    if (b != 255) break;
                }
            }
            const std::size_t h = history_.size(), total = h + lit;
            prefixed_.clear();
            std::uint8_t token = std::uint8_t((std::min<std::size_t>(total, 15) << 4) | (block[0] & 15));
            bool ok = prefixed_.push(token);
            if (total >= 15) {
                std::size_t e = total - 15;
                for (; ok && e >= 255; e -= 255) ok = prefixed_.push(255);
                ok = ok && prefixed_.push(std::uint8_t(e));
            }
            ok = ok && prefixed_.append(history_.data(), h) && prefixed_.append(block + i, len - i);
            if (!ok) return fail(kelStreamErrMemory, "out of memory");
            src = prefixed_.data();
            srcLen = prefixed_.size();
            skip = h;
        }
        // Straight into the caller's room, bounded by it, when it may hold the content. The room is the block
        // decoder's capacity, so a block longer than the room fails there having written inside it only; unless
        // the room was the block's largest size anyway, the block is then decoded again into the buffer below, and
        // what it holds is judged there exactly as if it had gone there first. Such a miss costs the decoding of
        // the room, so after one the rest of the unit goes to the buffer unless the room takes a whole block: a
        // caller whose room is smaller than the blocks (a file filter's fixed window) pays it once per unit.
        const std::size_t room = dstCap_ - *produced_;
        if (skip == 0 && pending_.empty() && room && (room >= cap || (tryRoom_ && room >= minContentOf(len)))) {
            std::uint8_t* out = dst_ + *produced_;
            int outLen = int(std::min(room, cap));
            if (kelsDecodeLZ4_8u(src, int(srcLen), out, &outLen) == kelStatusOk) {
                const int r = account(out, std::size_t(outLen), linked);
                if (r == kStepOn) *produced_ += std::size_t(outLen);
                return r;
            }
            if (room >= cap) return fail(kelStreamErrCorrupt, "bad LZ4 block");
            tryRoom_ = false;
        }
        if (!decoded_.resize(skip + cap)) return fail(kelStreamErrMemory, "out of memory");
        std::uint8_t* out = decoded_.data();
        int outLen = int(skip + cap);
        if (kelsDecodeLZ4_8u(src, int(srcLen), out, &outLen) != kelStatusOk || std::size_t(outLen) < skip) {
            return fail(kelStreamErrCorrupt, "bad LZ4 block");
        }
        return deliver(out + skip, std::size_t(outLen) - skip, linked);
    }

    // Content of one block: counted, hashed, remembered for the next linked block, handed out.
    int deliver(const std::uint8_t* data, std::size_t n, bool linked) {
        const int r = account(data, n, linked);
        return r == kStepOn ? emit(data, n) : r;
    }

    int account(const std::uint8_t* data, std::size_t n, bool linked) {
        total_ += n;
        if (legacy_) return kStepOn;
        if ((flg_ & kFlgContentSize) && total_ > declared_) {
            return fail(kelStreamErrChecksum, "more LZ4 content than the descriptor declares");
        }
        if (flg_ & kFlgContentChecksum) contentHash_.update(data, n);
        if (linked) remember(data, n);
        return kStepOn;
    }

    // Keeps the last 64 KiB of content (the capacity is reserved with the descriptor).
    void remember(const std::uint8_t* data, std::size_t n) {
        if (n >= kHistoryLen) {
            history_.clear();
            history_.append(data + n - kHistoryLen, kHistoryLen);
            return;
        }
        const std::size_t keep = std::min(history_.size(), kHistoryLen - n);
        history_.consume(history_.size() - keep);
        history_.append(data, n);
    }

    Pending pending_;
    Bytes gather_, decoded_, history_, prefixed_;
    bool gatherUsed_ = false, outOfMemory_ = false;
    std::uint8_t look_[4];
    std::size_t lookLen_ = 0;

    // The current call.
    const std::uint8_t* src_ = nullptr;
    std::size_t srcLen_ = 0;
    std::size_t* consumed_ = nullptr;
    std::uint8_t* dst_ = nullptr;
    std::size_t dstCap_ = 0;
    std::size_t* produced_ = nullptr;
    bool final_ = false;

    const bool singleMember_, stopAtEntries_;
    State state_ = State::Magic;
    bool anyUnit_ = false;   // a frame, legacy stream or skippable frame is complete: what follows may be trailing
    bool entryDue_ = false;  // a frame or legacy stream ended and its end is not reported yet
    std::uint32_t unitsStarted_ = 0, entry_ = 0;

    // The unit being read.
    std::uint8_t desc_[kMaxDescriptorLen + 1];
    std::size_t descLen_ = 0, blockMax_ = 0, blockLen_ = 0;
    unsigned flg_ = 0;
    int sizeId_ = 0;
    std::uint32_t dictId_ = 0, blockHead_ = 0;
    std::uint64_t declared_ = 0, total_ = 0, skipLeft_ = 0;
    bool legacy_ = false;
    int headerComplete_ = 0;
    bool tryRoom_ = true;  // a block may be tried in a room shorter than the largest block (see decodeBlock)
    XxHash32 contentHash_;
};

}  // namespace

Engine* newLz4Decoder(const Setup& s, CreateError* e) {
    Lz4Decoder* d = make<Lz4Decoder>(s.alloc, s);
    if (!d) *e = {kelStreamErrMemory, "out of memory"};
    return d;
}

}  // namespace kel::stream

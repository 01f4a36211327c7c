// src/stream/lzop_encoder.cpp - writes lzop files: the header from the options, then one block per 256 KiB of
// input coded with the library's LZO1X-1, each with the decoded and coded checksums lzop verifies.
//
// Input collects into the current block; a full block (or a sync flush, or the finish) codes it into the pending
// output, which every call drains before it takes more input, so memory stays at one block and its coded form.
#include <cstring>

#include "keldc.h"
#include "stream/lzop_format.h"
#include "stream/stream_internal.h"

namespace kel::stream {
namespace {

using namespace lzop;

// The LZO1X encoder may write up to this much for a block of kBlockSize (its 16-byte literal moves included).
constexpr std::size_t kCodedRoom = kBlockSize + kBlockSize / 16 + 67;
// A block record: decoded length, coded length, two checksums, then at most kBlockSize bytes (stored when coding
// does not shrink it).
constexpr std::size_t kMaxRecord = 16 + kBlockSize;

std::size_t n8_nameLen(const char* name) {
    if (!name) return 0;
    std::size_t n = std::strlen(name);
    return n > 255 ? 255 : n;  // the header's length byte
}

class LzopEncoder final : public EngineOf<LzopEncoder> {
public:
    explicit LzopEncoder(const Setup& s)
        : EngineOf(s),
          options_(s.options),
          pending_(s.alloc),
          name_(s.alloc),
          block_(s.alloc),
          coded_(s.alloc),
          state_(s.alloc) {}

    // Allocates the buffers and writes the header into the pending output; false when memory runs out.
    bool init(const char* name) {
        if (!name_.append(reinterpret_cast<const std::uint8_t*>(name ? name : ""), n8_nameLen(name)) ||
            !name_.push(0)) {
            return false;
        }
        Kel32u stateSize = 0;
        kelsEncodeLZOGetSize(0, kBlockSize, &stateSize);
        if (!state_.resize(stateSize) || !coded_.resize(kCodedRoom) || !block_.reserve(kBlockSize) ||
            !pending_.buffer().reserve(kMaxRecord + kMaxHeaderLen + 4)) {
            return false;
        }
        kelsEncodeLZOInit_8u(0, kBlockSize, lzoState());
        return writeHeader();
    }

    KelStreamResult process(const std::uint8_t* src, std::size_t srcLen, std::size_t* consumed, std::uint8_t* dst,
                            std::size_t dstCap, std::size_t* produced, KelStreamFlush flush) override {
        *consumed = *produced = 0;
        for (;;) {
            pending_.drain(dst, dstCap, produced);
            if (!pending_.empty()) return kelStreamOk;  // the caller's room is full
            if (finished_) return kelStreamEnd;
            std::size_t take = srcLen - *consumed;
            if (take > kBlockSize - block_.size()) take = kBlockSize - block_.size();
            block_.append(src + *consumed, take);  // within the reserved block: cannot fail
            *consumed += take;
            if (block_.size() == kBlockSize) {
                if (!emitBlock()) return fail(kelStreamErrMemory, "out of memory");
                continue;
            }
            // All input is taken and the block is not full.
            if (flush == kelFlushFinish) {
                if (!emitBlock() || !putBe32(0)) return fail(kelStreamErrMemory, "out of memory");
                finished_ = true;
                continue;
            }
            if (flush == kelFlushSync) {
                if (block_.empty()) return kelStreamFlushed;
                if (!emitBlock()) return fail(kelStreamErrMemory, "out of memory");
                continue;
            }
            return kelStreamOk;
        }
    }

    void header(KelStreamHeader* h) const override {
        std::uint8_t method = 0, level = 0;
        methodAndLevel(&method, &level);
        h->complete = 1;
        h->name = name_.size() > 1 ? reinterpret_cast<const char*>(name_.data()) : nullptr;
        h->mtime = options_.mtime;
        h->mode = options_.mode ? options_.mode : 0100644u;
        h->method = method;
        h->level = level;
    }

    bool reset() override {
        if (!pending_.empty()) return false;  // output half handed out: the engine is rebuilt instead
        block_.clear();
        pending_.buffer().clear();
        finished_ = false;
        return writeHeader();
    }

private:
    LZOState_8u* lzoState() { return reinterpret_cast<LZOState_8u*>(state_.data()); }

    bool putBe32(std::uint32_t x) {
        std::uint8_t b[4];
        n8_putBe32(b, x);
        return pending_.buffer().append(b, 4);
    }

    // lzop records method and level per its -1 to -9: -1 is LZO1X-1(15) at level 1, -2 to -6 LZO1X-1 at level 5
    // (its default, -3), -7 to -9 LZO1X-999 at their own level. The data is always this library's LZO1X-1, which
    // every lzop method 1 to 3 decodes alike, so the bytes are only what lzop -l and our header() report.
    void methodAndLevel(std::uint8_t* method, std::uint8_t* level) const {
        int l = options_.level == 0 ? 3 : options_.level;
        if (l == 1) {
            *method = kMethodLzo1x1_15;
            *level = 1;
        } else if (l <= 6) {
            *method = kMethodLzo1x1;
            *level = 5;
        } else {
            *method = kMethodLzo1x999;
            *level = std::uint8_t(l);
        }
    }

    bool writeHeader() {
        Bytes& out = pending_.buffer();
        std::uint8_t h[kMaxHeaderLen];
        std::size_t n = 0;
        std::memcpy(h, kMagic, sizeof kMagic);
        n = sizeof kMagic;
        h[n++] = std::uint8_t(kVersion >> 8);
        h[n++] = std::uint8_t(kVersion);
        h[n++] = std::uint8_t(kLibVersion >> 8);
        h[n++] = std::uint8_t(kLibVersion);
        h[n++] = std::uint8_t(kVersionNeeded >> 8);
        h[n++] = std::uint8_t(kVersionNeeded);
        methodAndLevel(&h[n], &h[n + 1]);
        n += 2;
        // The header's own checksum stays Adler-32 either way: lzopCrc32 only chooses the block checksums.
        std::uint32_t flags = (options_.lzopCrc32 ? kCrc32D | kCrc32C : kAdler32D | kAdler32C) | kOsUnix;
        n8_putBe32(h + n, flags);
        n8_putBe32(h + n + 4, options_.mode ? options_.mode : 0100644u);
        std::uint64_t mtime = std::uint64_t(options_.mtime);
        n8_putBe32(h + n + 8, std::uint32_t(mtime));
        n8_putBe32(h + n + 12, std::uint32_t(mtime >> 32));
        n += 16;
        const std::size_t nameLen = name_.size() - 1;
        h[n++] = std::uint8_t(nameLen);
        if (nameLen) std::memcpy(h + n, name_.data(), nameLen);
        n += nameLen;
        n8_putBe32(h + n, n8_adler32(h + sizeof kMagic, n - sizeof kMagic));
        n += 4;
        return out.append(h, n);
    }

    std::uint32_t blockSum(const std::uint8_t* p, std::size_t n) const {
        return options_.lzopCrc32 ? n8_crc32(p, n) : n8_adler32(p, n);
    }

    // Codes the current block into the pending output; an empty block writes nothing (a zero length would end the
    // file).
    bool emitBlock() {
        const std::size_t n = block_.size();
        if (n == 0) return true;
        Kel32u codedLen = 0;
        kelsEncodeLZO_8u(block_.data(), Kel32u(n), coded_.data(), &codedLen, lzoState());
        const bool stored = codedLen >= n;
        std::uint8_t head[16];
        n8_putBe32(head, std::uint32_t(n));
        n8_putBe32(head + 4, stored ? std::uint32_t(n) : codedLen);
        n8_putBe32(head + 8, blockSum(block_.data(), n));
        if (!stored) n8_putBe32(head + 12, blockSum(coded_.data(), codedLen));
        const std::uint8_t* body = stored ? block_.data() : coded_.data();
        bool ok =
            pending_.buffer().append(head, stored ? 12 : 16) && pending_.buffer().append(body, stored ? n : codedLen);
        block_.clear();
        return ok;
    }

    KelStreamOptions options_;
    Pending pending_;
    Bytes name_;  // at most 255 bytes and a NUL
    Bytes block_, coded_, state_;
    bool finished_ = false;
};

}  // namespace

Engine* newLzopEncoder(const Setup& s, CreateError* e) {
    if (s.options.level < 0 || s.options.level > 9) {
        *e = {kelStreamErrArgument, "lzop level out of range (1-9)"};
        return nullptr;
    }
    LzopEncoder* enc = make<LzopEncoder>(s.alloc, s);
    if (!enc || !enc->init(s.options.name)) {
        dispose(s.alloc, enc);
        *e = {kelStreamErrMemory, "out of memory"};
        return nullptr;
    }
    return enc;
}

// Every block record is at most 16 bytes longer than its input (a block that does not shrink is stored), plus the
// header with the name and the 4-byte end. 0 when the sum does not fit a size_t.
std::size_t lzopBound(const KelStreamOptions& o, std::size_t srcLen) {
    const std::size_t blocks = srcLen / kBlockSize + 1;
    const std::size_t fixed = kMaxHeaderLen - 255 + n8_nameLen(o.name) + 4;
    if (srcLen > SIZE_MAX - fixed - 16 * blocks) return 0;
    return srcLen + 16 * blocks + fixed;
}

}  // namespace kel::stream

// src/stream/deflate_encoder.cpp - the gzip, zlib and raw Deflate compressor of libkelstream: the wrappers
// (headers, checksums, trailers) around one of two block writers, and the hand-over of the output in pieces.
//
// Blocks come from DeflateWriter (the level's matcher) or FastestWriter (the single-probe path); both append whole
// bytes to the pending buffer. Each process call first hands out what is pending, and only takes new input once
// nothing is: so the buffer holds at most the output of one input chunk (kChunk bytes, long enough that the
// writers still match long pieces in the caller's buffer) plus what a flush or the end adds. The writers' output
// does not depend on how the input is split, and neither do the wrappers, so the bytes are the same for any
// sizes of input and output pieces.
#include "stream/deflate_writer.h"
#include "stream/fastest_writer.h"
#include "stream/gzip_header.h"
#include "stream/stream_internal.h"

namespace kel::stream {
namespace {

// Input taken per writer call. Above the length from which both writers match a piece where it lies (256 KiB for
// the level matchers, 1056 KiB for the fastest path), so a large buffer costs only the lead of each chunk in copies.
constexpr std::size_t kChunk = std::size_t(4) << 20;

constexpr std::size_t kZlibHeaderBytes = 2;
constexpr std::size_t kZlibDictIdBytes = 4;
constexpr std::size_t kZlibTrailerBytes = 4;

std::uint32_t adler32Of(const std::uint8_t* p, std::size_t n, std::uint32_t adler) {
    while (n > 0) {
        const std::size_t piece = n < (std::size_t(1) << 30) ? n : (std::size_t(1) << 30);
        kelsAdler32_8u(p, int(piece), &adler);
        p += piece;
        n -= piece;
    }
    return adler;
}

// The level a stream records: options.level 0 means 6.
int effectiveLevel(const KelStreamOptions& o) {
    return o.level == 0 ? 6 : o.level;
}

// zlib's FLEVEL: 0 fastest, 1 fast, 2 default, 3 maximum compression. Levels 10 to 29 count by their last digit.
unsigned zlibLevelClass(int level) {
    const int tier = level % 10;
    return tier <= 1 ? 0 : tier <= 5 ? 1 : tier == 6 ? 2 : 3;
}

// gzip's XFL: 2 for the slowest level, 4 for the fastest, else 0. Levels 10 to 29 count by their last digit, which
// puts the single-candidate rows 10 and 20 with the fastest.
std::uint8_t gzipExtraFlags(int level, bool fastest) {
    const int tier = level % 10;
    return fastest || tier <= 1 ? gzip::kXflFastest : tier == 9 ? gzip::kXflSlowest : 0;
}

// MTIME holds 32 bits; a time it cannot hold is stored as 0 (no time), as gzip does.
std::uint32_t gzipTime(std::int64_t mtime) {
    return mtime >= 0 && mtime <= std::int64_t(0xFFFFFFFFu) ? std::uint32_t(mtime) : 0;
}

class DeflateEncoder final : public EngineOf<DeflateEncoder> {
public:
    explicit DeflateEncoder(const Setup& s)
        : EngineOf(s),
          pending_(s.alloc),
          name_(s.alloc),
          comment_(s.alloc),
          extra_(s.alloc),
          optionDict_(s.alloc),
          level_(effectiveLevel(s.options)),
          fastest_(s.options.fastest != 0),
          os_(s.options.os),
          headerCrc_(s.options.headerCrc != 0),
          mtime_(gzipTime(s.options.mtime)) {}

    ~DeflateEncoder() {
        dispose(alloc, writer_);
        dispose(alloc, fast_);
    }

    bool init(const Setup& s, CreateError* e) {
        const KelStreamOptions& o = s.options;
        if (o.level < 0 || o.level > DeflateWriter::kMaxLevel) {
            *e = {kelStreamErrArgument, "the Deflate level is out of range (0-29)"};
            return false;
        }
        bool copied = true;
        if (format == kelFormatGzip) {
            hasName_ = o.name != nullptr;
            hasComment_ = o.comment != nullptr;
            hasExtra_ = o.extra != nullptr;
            // Names and comments are stored as given, with their terminating zero.
            if (hasName_)
                copied = copied && name_.append(reinterpret_cast<const std::uint8_t*>(o.name), std::strlen(o.name) + 1);
            if (hasComment_) {
                copied = copied &&
                         comment_.append(reinterpret_cast<const std::uint8_t*>(o.comment), std::strlen(o.comment) + 1);
            }
            if (hasExtra_) copied = copied && extra_.append(o.extra, o.extraLen);
        } else if (o.dictionary && o.dictionaryLen > 0) {
            // Only the last 32 KiB can be matched, but the zlib header names the dictionary by all of its bytes.
            const std::size_t keep = o.dictionaryLen < 32768 ? o.dictionaryLen : 32768;
            optionDictId_ = adler32Of(o.dictionary, o.dictionaryLen, 1);
            copied = copied && optionDict_.append(o.dictionary + (o.dictionaryLen - keep), keep);
        }
        if (fastest_) {
            fast_ = make<FastestWriter>(alloc, alloc, &pending_.buffer());
            copied = copied && fast_ && fast_->init();
        } else {
            writer_ = make<DeflateWriter>(alloc, alloc, &pending_.buffer());
            copied = copied && writer_ && writer_->init(level_);
        }
        if (!copied) {
            *e = {kelStreamErrMemory, "out of memory"};
            return false;
        }
        const KelStreamResult r = startStream();
        if (r < 0) {
            *e = {r, message};
            return false;
        }
        return true;
    }

    KelStreamResult process(const std::uint8_t* src, std::size_t srcLen, std::size_t* consumed, std::uint8_t* dst,
                            std::size_t dstCap, std::size_t* produced, KelStreamFlush flush) override {
        *consumed = 0;
        *produced = 0;
        pending_.drain(dst, dstCap, produced);
        if (!pending_.empty()) return kelStreamOk;
        if (finished_) return kelStreamEnd;
        if (syncDraining_) {
            // The sync flush's bytes are all out now.
            syncDraining_ = false;
            if (flush == kelFlushSync) return kelStreamFlushed;
        }
        if (!started_) {
            started_ = true;
            if (!writeHeader()) return fail(kelStreamErrMemory, "out of memory for the compressed output");
        }
        while (*consumed < srcLen) {
            const std::size_t take = srcLen - *consumed < kChunk ? srcLen - *consumed : kChunk;
            const std::uint8_t* p = src + *consumed;
            if (format == kelFormatGzip) {
                gzip::crcUpdate(&check_, p, take);
            } else if (format == kelFormatZlib) {
                check_ = adler32Of(p, take, check_);
            }
            inSize_ += std::uint32_t(take);
            *consumed += take;
            cleanSinceFlush_ = false;
            if (writerWrite(p, take) < 0) return writerFailure();
            pending_.drain(dst, dstCap, produced);
            if (!pending_.empty()) return kelStreamOk;
        }
        if (flush == kelFlushNone) return kelStreamOk;
        if (flush == kelFlushSync) {
            // Nothing new since the last completed flush: it still holds, and another marker would add nothing.
            if (cleanSinceFlush_) return kelStreamFlushed;
            if ((fast_ ? fast_->flush() : writer_->flush()) < 0) return writerFailure();
            cleanSinceFlush_ = true;
            pending_.drain(dst, dstCap, produced);
            if (!pending_.empty()) {
                syncDraining_ = true;
                return kelStreamOk;
            }
            return kelStreamFlushed;
        }
        if ((fast_ ? fast_->finish() : writer_->finish()) < 0) return writerFailure();
        if (!writeTrailer()) return fail(kelStreamErrMemory, "out of memory for the compressed output");
        finished_ = true;
        pending_.drain(dst, dstCap, produced);
        return pending_.empty() ? kelStreamEnd : kelStreamOk;
    }

    KelStreamResult setDictionary(const std::uint8_t* dict, std::size_t n) override {
        if (format == kelFormatGzip) return fail(kelStreamErrUnsupported, "gzip has no preset dictionary");
        if (started_) return fail(kelStreamErrArgument, "the dictionary must come before the first data");
        resetWriter();
        return loadDictionary(dict, n, n > 0 ? adler32Of(dict, n, 1) : 1);
    }

    void header(KelStreamHeader* h) const override {
        h->entry = 0;
        h->complete = started_;
        if (format == kelFormatGzip) {
            h->name = hasName_ ? reinterpret_cast<const char*>(name_.data()) : nullptr;
            h->comment = hasComment_ ? reinterpret_cast<const char*>(comment_.data()) : nullptr;
            h->extra = hasExtra_ ? extra_.data() : nullptr;
            h->extraLen = hasExtra_ ? extra_.size() : 0;
            h->mtime = mtime_;
            h->os = os_;
            h->headerCrc = headerCrc_;
            h->level = gzipExtraFlags(level_, fastest_);
        } else if (format == kelFormatZlib) {
            h->level = int(zlibLevelClass(level_));
            h->hasDictId = hasDict_;
            h->dictId = hasDict_ ? dictId_ : 0;
        }
    }

    bool reset() override {
        resetWriter();
        return startStream() == kelStreamOk;
    }

private:
    KelStreamResult writerWrite(const std::uint8_t* p, std::size_t n) {
        return fast_ ? fast_->write(p, n) : writer_->write(p, n);
    }

    KelStreamResult writerFailure() {
        return fast_ ? fail(fast_->result(), fast_->message()) : fail(writer_->result(), writer_->message());
    }

    void resetWriter() {
        if (fast_) {
            fast_->reset();
        } else {
            writer_->reset();
        }
        hasDict_ = false;
        dictId_ = 0;
    }

    // State of a new stream, with the options' dictionary loaded. The writer has just been built or reset.
    KelStreamResult startStream() {
        // Output of an abandoned stream is dropped. The buffer stays at the same address, where the writers append.
        pending_.~Pending();
        new (&pending_) Pending(alloc);
        started_ = finished_ = syncDraining_ = cleanSinceFlush_ = false;
        check_ = format == kelFormatZlib ? 1u : 0u;
        inSize_ = 0;
        hasDict_ = false;
        if (!optionDict_.empty()) return loadDictionary(optionDict_.data(), optionDict_.size(), optionDictId_);
        return kelStreamOk;
    }

    KelStreamResult loadDictionary(const std::uint8_t* dict, std::size_t n, std::uint32_t id) {
        if (n == 0) return kelStreamOk;
        const KelStreamResult r = fast_ ? fast_->setDictionary(dict, n) : writer_->setDictionary(dict, n);
        if (r < 0) return writerFailure();
        hasDict_ = true;
        dictId_ = id;
        return kelStreamOk;
    }

    bool writeHeader() {
        Bytes& out = pending_.buffer();
        if (format == kelFormatZlib) {
            // CMF: method 8, 32 KiB window. FLG: level class, dictionary flag, and check bits making CMF.FLG a
            // multiple of 31.
            const unsigned cmf = 0x78;
            unsigned flg = zlibLevelClass(level_) << 6;
            if (hasDict_) flg |= 0x20;
            flg += 31 - (cmf * 256 + flg) % 31;
            const std::uint8_t head[6] = {std::uint8_t(cmf),           std::uint8_t(flg),
                                          std::uint8_t(dictId_ >> 24), std::uint8_t(dictId_ >> 16),
                                          std::uint8_t(dictId_ >> 8),  std::uint8_t(dictId_)};
            return out.append(head, hasDict_ ? kZlibHeaderBytes + kZlibDictIdBytes : kZlibHeaderBytes);
        }
        if (format != kelFormatGzip) return true;
        const std::size_t start = out.size();
        const std::uint8_t flags =
            std::uint8_t((hasExtra_ ? gzip::kFlagExtra : 0) | (hasName_ ? gzip::kFlagName : 0) |
                         (hasComment_ ? gzip::kFlagComment : 0) | (headerCrc_ ? gzip::kFlagHeaderCrc : 0));
        const std::uint8_t head[gzip::kFixedHeaderBytes] = {gzip::kId1,
                                                            gzip::kId2,
                                                            gzip::kMethodDeflate,
                                                            flags,
                                                            std::uint8_t(mtime_),
                                                            std::uint8_t(mtime_ >> 8),
                                                            std::uint8_t(mtime_ >> 16),
                                                            std::uint8_t(mtime_ >> 24),
                                                            gzipExtraFlags(level_, fastest_),
                                                            std::uint8_t(os_)};
        bool ok = out.append(head, sizeof head);
        if (hasExtra_) {
            const std::uint8_t xlen[2] = {std::uint8_t(extra_.size()), std::uint8_t(extra_.size() >> 8)};
            ok = ok && out.append(xlen, 2) && out.append(extra_.data(), extra_.size());
        }
        if (hasName_) ok = ok && out.append(name_.data(), name_.size());
        if (hasComment_) ok = ok && out.append(comment_.data(), comment_.size());
        if (ok && headerCrc_) {
            std::uint32_t crc = 0;
            gzip::crcUpdate(&crc, out.data() + start, out.size() - start);
            const std::uint8_t crc16[2] = {std::uint8_t(crc), std::uint8_t(crc >> 8)};
            ok = out.append(crc16, 2);
        }
        return ok;
    }

    bool writeTrailer() {
        Bytes& out = pending_.buffer();
        if (format == kelFormatZlib) {
            const std::uint8_t t[kZlibTrailerBytes] = {std::uint8_t(check_ >> 24), std::uint8_t(check_ >> 16),
                                                       std::uint8_t(check_ >> 8), std::uint8_t(check_)};
            return out.append(t, sizeof t);
        }
        if (format != kelFormatGzip) return true;
        const std::uint8_t t[gzip::kTrailerBytes] = {std::uint8_t(check_),        std::uint8_t(check_ >> 8),
                                                     std::uint8_t(check_ >> 16),  std::uint8_t(check_ >> 24),
                                                     std::uint8_t(inSize_),       std::uint8_t(inSize_ >> 8),
                                                     std::uint8_t(inSize_ >> 16), std::uint8_t(inSize_ >> 24)};
        return out.append(t, sizeof t);
    }

    Pending pending_;
    DeflateWriter* writer_ = nullptr;  // one of the two writers, as options.fastest chose
    FastestWriter* fast_ = nullptr;
    Bytes name_, comment_, extra_;  // gzip header fields, copied (name and comment with their zero)
    Bytes optionDict_;              // the options' dictionary: its last 32 KiB, loaded at every start
    std::uint32_t optionDictId_ = 1;
    const int level_;
    const bool fastest_;
    const int os_;
    const bool headerCrc_;
    const std::uint32_t mtime_;
    bool hasName_ = false, hasComment_ = false, hasExtra_ = false;
    bool hasDict_ = false;  // a dictionary is loaded (zlib: FDICT and its Adler-32 in the header)
    std::uint32_t dictId_ = 0;

    bool started_ = false;          // the header is written; no dictionary can come any more
    bool finished_ = false;         // the trailer is written
    bool syncDraining_ = false;     // a sync flush's bytes are still pending
    bool cleanSinceFlush_ = false;  // a sync flush completed and no input came since
    std::uint32_t check_ = 0;       // Adler-32 (zlib) or CRC-32 (gzip) of the input so far
    std::uint32_t inSize_ = 0;      // input length modulo 2^32, for the gzip trailer
};

}  // namespace

Engine* newDeflateEncoder(const Setup& s, CreateError* e) {
    DeflateEncoder* d = make<DeflateEncoder>(s.alloc, s);
    if (!d) {
        *e = {kelStreamErrMemory, "out of memory"};
        return nullptr;
    }
    if (!d->init(s, e)) {
        d->destroy();
        return nullptr;
    }
    return d;
}

// Both writers keep every block within its stored size plus at most 42 bits per 65535 bytes, and every block but
// the last covers at least 8192 bytes, so the blocks add under srcLen / 1024; the last block adds at most 130 bytes
// (the fastest path's fixed-code block of under 1 KiB: 9 bits per byte), the end-of-block code and alignment a few.
std::size_t deflateBound(const KelStreamOptions& o, KelStreamFormat f, std::size_t srcLen) {
    std::size_t wrap = 0;
    if (f == kelFormatZlib) {
        wrap = kZlibHeaderBytes + kZlibTrailerBytes + (o.dictionary && o.dictionaryLen ? kZlibDictIdBytes : 0);
    } else if (f == kelFormatGzip) {
        wrap = gzip::kFixedHeaderBytes + gzip::kTrailerBytes;
        if (o.extra) wrap += 2 + o.extraLen;
        if (o.name) wrap += std::strlen(o.name) + 1;
        if (o.comment) wrap += std::strlen(o.comment) + 1;
        if (o.headerCrc) wrap += 2;
    }
    const std::size_t slack = (srcLen >> 10) + 192 + wrap;
    return srcLen > SIZE_MAX - slack ? 0 : srcLen + slack;
}

}  // namespace kel::stream

// src/stream/stream.cpp - the exported calls of libkelstream: options, detection, the stream object that keeps
// errors sticky and counts bytes, format detection for decompression, and the one-shot calls built on the engines.
#include <cstdlib>

#include "stream/stream_internal.h"

namespace kel::stream {

namespace {

bool isCompressibleFormat(KelStreamFormat f) { return f >= kelFormatGzip && f <= kelFormatLzss; }

bool canRunParallel(KelStreamFormat f) { return f == kelFormatGzip || f == kelFormatBzip2 || f == kelFormatLz4; }

std::uint32_t readLe32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

bool looksLikeZlib(const std::uint8_t* p, std::size_t n) {
    return n >= 2 && (p[0] & 0x0f) == 8 && (p[0] >> 4) <= 7 && (std::uint32_t(p[0]) << 8 | p[1]) % 31 == 0;
}

// The format of the first bytes, or kelFormatAuto. *needMore is set when fewer than 4 bytes were given and they
// could still begin a 4-byte magic; a zlib header (2 bytes) only counts once the 4-byte magics are ruled out.
KelStreamFormat detect(const std::uint8_t* p, std::size_t n, bool* needMore) {
    *needMore = false;
    if (n >= 2 && p[0] == 0x1f && p[1] == 0x8b) return kelFormatGzip;
    if (n < 4) {
        *needMore = true;
        return kelFormatAuto;
    }
    if (p[0] == 'B' && p[1] == 'Z' && p[2] == 'h' && p[3] >= '1' && p[3] <= '9') return kelFormatBzip2;
    std::uint32_t m = readLe32(p);
    if (m == 0x184D2204u || (m & 0xFFFFFFF0u) == 0x184D2A50u || m == 0x184C2102u) return kelFormatLz4;
    if (p[0] == 0x89 && p[1] == 'L' && p[2] == 'Z' && p[3] == 'O') return kelFormatLzop;
    if (p[0] == 'K' && p[1] == 'L' && p[2] == 'Z' && p[3] == 'S') return kelFormatLzss;
    return looksLikeZlib(p, n) ? kelFormatZlib : kelFormatAuto;
}

// Decompression with the format read from the first bytes. Holds up to 4 bytes until it can tell, then builds the
// real decoder and forwards to it, the held bytes first.
class AutoDecoder final : public EngineOf<AutoDecoder> {
public:
    explicit AutoDecoder(const Setup& s) : EngineOf(s), setup_(s) {}
    ~AutoDecoder() {
        if (inner_) inner_->destroy();
    }

    KelStreamResult process(const std::uint8_t* src, std::size_t srcLen, std::size_t* consumed, std::uint8_t* dst,
                            std::size_t dstCap, std::size_t* produced, KelStreamFlush flush) override {
        *consumed = 0;
        *produced = 0;
        if (!inner_) {
            while (headLen_ < sizeof(head_) && *consumed < srcLen) head_[headLen_++] = src[(*consumed)++];
            bool needMore = false;
            KelStreamFormat f = detect(head_, headLen_, &needMore);
            bool final = flush == kelFlushFinish && *consumed == srcLen;
            if (f == kelFormatAuto) {
                if (needMore && !final) return kelStreamOk;
                if (headLen_ == 0) return fail(kelStreamErrTruncated, "empty input");
                if (needMore && looksLikeZlib(head_, headLen_)) f = kelFormatZlib;
                if (f == kelFormatAuto) return fail(kelStreamErrUnknownFormat, "input is in no known format");
            }
            Setup inner = setup_;
            inner.format = f;
            CreateError e;
            inner_ = createEngine(inner, &e);
            if (!inner_) return fail(e.result, e.why);
            format = f;
        }
        // The held bytes go first; the caller's bytes follow once the decoder has taken all of them.
        while (headPos_ < headLen_) {
            std::size_t c = 0, p = 0;
            bool last = flush == kelFlushFinish && *consumed == srcLen;
            KelStreamResult r = inner_->process(head_ + headPos_, headLen_ - headPos_, &c, dst + *produced,
                                                dstCap - *produced, &p, last ? kelFlushFinish : kelFlushNone);
            headPos_ += c;
            *produced += p;
            if (r != kelStreamOk || (c == 0 && p == 0)) return forward(r);
        }
        std::size_t c = 0, p = 0;
        KelStreamResult r = inner_->process(src + *consumed, srcLen - *consumed, &c, dst + *produced,
                                            dstCap - *produced, &p, flush);
        *consumed += c;
        *produced += p;
        return forward(r);
    }

    KelStreamResult setDictionary(const std::uint8_t* dict, std::size_t n) override {
        if (!inner_) return fail(kelStreamErrArgument, "no dictionary was asked for");
        return forward(inner_->setDictionary(dict, n));
    }

    void header(KelStreamHeader* h) const override {
        if (inner_) inner_->header(h);
    }

    bool reset() override {
        if (inner_) inner_->destroy();
        inner_ = nullptr;
        headLen_ = headPos_ = 0;
        format = kelFormatAuto;
        return true;
    }

private:
    KelStreamResult forward(KelStreamResult r) {
        if (r < 0) message = inner_->message;
        return r;
    }

    Setup setup_;
    Engine* inner_ = nullptr;
    std::uint8_t head_[4];
    std::size_t headLen_ = 0, headPos_ = 0;
};

// Stands in for an engine that could not be rebuilt on reset, so the stream stays safe to call and to free.
class RejectingEngine final : public EngineOf<RejectingEngine> {
public:
    using EngineOf::EngineOf;
};

}  // namespace

Engine* createEngine(const Setup& s, CreateError* e) {
    const KelStreamOptions& o = s.options;
    bool parallel = o.threads > 1 && canRunParallel(s.format) && !s.singleMember;
    if (s.direction == kelDecompress && s.format == kelFormatAuto) {
        Engine* a = make<AutoDecoder>(s.alloc, s);
        if (!a) *e = {kelStreamErrMemory, "out of memory"};
        return a;
    }
    if (parallel) {
        if (s.direction == kelCompress) return newParallelEncoder(s, e);
        return s.format == kelFormatBzip2 ? newParallelBzip2Decoder(s, e) : newParallelMemberDecoder(s, e);
    }
    bool c = s.direction == kelCompress;
    switch (s.format) {
    case kelFormatGzip:
    case kelFormatZlib:
    case kelFormatDeflate:
        return c ? newDeflateEncoder(s, e) : newDeflateDecoder(s, e);
    case kelFormatBzip2:
        return c ? newBzip2Encoder(s, e) : newBzip2Decoder(s, e);
    case kelFormatLz4:
        return c ? newLz4Encoder(s, e) : newLz4Decoder(s, e);
    case kelFormatLzop:
        return c ? newLzopEncoder(s, e) : newLzopDecoder(s, e);
    case kelFormatLzss:
        return c ? newLzssEncoder(s, e) : newLzssDecoder(s, e);
    default:
        *e = {kelStreamErrArgument, "unknown format"};
        return nullptr;
    }
}

}  // namespace kel::stream

using namespace kel::stream;

// The stream handed to callers. It owns copies of the option strings and buffers so the caller's may go away, and
// keeps the first error for every later call.
struct KelStream {
    Setup setup;
    Engine* engine = nullptr;
    KelStreamResult error = kelStreamOk;
    const char* errorMessage = "";
    bool ended = false;  // a compressor wrote its end; nothing more is accepted until reset
    std::uint64_t totalIn = 0, totalOut = 0;
    Bytes name, comment, extra, dictionary;
};

namespace {

// C callers may pass any int where the interface declares an enum. Reading such a parameter as the enum is
// undefined for a value outside the enum's range, so entry points take the bits as an int first and check them.
template <class E>
int valueOf(const E& e) {
    static_assert(sizeof(E) == sizeof(int), "the interface's enums are int-sized");
    int v;
    std::memcpy(&v, &e, sizeof v);
    return v;
}

bool validFormat(int f) { return f >= kelFormatAuto && f <= kelFormatLzss; }

bool copyOptionBytes(Bytes& into, const void* p, std::size_t n, bool terminate) {
    into.clear();
    if (!p) return true;
    return into.append(static_cast<const std::uint8_t*>(p), n) && (!terminate || into.push(0));
}

// Validates the options shared by every format; the engines check their own fields.
bool optionsInRange(const KelStreamOptions& o) {
    return o.level >= 0 && o.threads >= 0 && o.threads <= 256 && o.extraLen <= 65535 && (o.extra || !o.extraLen) &&
           (o.dictionary || !o.dictionaryLen) && o.os >= 0 && o.os <= 255;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void kelStreamDefaultOptions(KelStreamOptions* options) {
    if (!options) return;
    std::memset(options, 0, sizeof *options);
    options->os = 3;
    options->lz4BlockSizeId = 7;
    options->lz4ContentChecksum = 1;
    options->contentSize = -1;
}

__attribute__((visibility("default"))) const char* kelStreamResultText(KelStreamResult resultArg) {
    switch (valueOf(resultArg)) {
    case kelStreamOk: return "ok";
    case kelStreamEnd: return "end of stream";
    case kelStreamFlushed: return "flushed";
    case kelStreamNeedDictionary: return "preset dictionary needed";
    case kelStreamEntryEnd: return "end of entry";
    case kelStreamTrailingData: return "trailing data after the end of the stream";
    case kelStreamErrArgument: return "bad argument";
    case kelStreamErrMemory: return "out of memory";
    case kelStreamErrCorrupt: return "corrupt input";
    case kelStreamErrTruncated: return "truncated input";
    case kelStreamErrChecksum: return "wrong checksum";
    case kelStreamErrUnsupported: return "unsupported feature";
    case kelStreamErrUnknownFormat: return "unknown format";
    case kelStreamErrNoRoom: return "output buffer too small";
    case kelStreamErrLibrary: return "internal library error";
    case kelStreamErrThread: return "cannot start a thread";
    }
    return "unknown result";
}

__attribute__((visibility("default"))) KelStreamFormat kelStreamDetectFormat(const void* src, std::size_t srcLen) {
    if (!src) return kelFormatAuto;
    bool needMore = false;
    KelStreamFormat f = detect(static_cast<const std::uint8_t*>(src), srcLen, &needMore);
    return needMore ? kelFormatAuto : f;
}

__attribute__((visibility("default"))) KelStreamResult kelStreamCreate(KelStream** stream, KelStreamFormat formatArg,
                                                                       KelStreamDirection directionArg,
                                                                       const KelStreamOptions* options) {
    if (!stream) return kelStreamErrArgument;
    *stream = nullptr;
    const int formatValue = valueOf(formatArg), directionValue = valueOf(directionArg);
    if (!validFormat(formatValue) || (directionValue != kelCompress && directionValue != kelDecompress)) {
        return kelStreamErrArgument;
    }
    const KelStreamFormat format = KelStreamFormat(formatValue);
    const KelStreamDirection direction = KelStreamDirection(directionValue);
    KelStreamOptions o;
    kelStreamDefaultOptions(&o);
    if (options) o = *options;
    if (!(isCompressibleFormat(format) || (format == kelFormatAuto && direction == kelDecompress))) {
        return kelStreamErrArgument;
    }
    if (!optionsInRange(o)) return kelStreamErrArgument;
    Allocator a = Allocator::from(o);
    KelStream* s = make<KelStream>(a);
    if (!s) return kelStreamErrMemory;
    s->name.setAllocator(a);
    s->comment.setAllocator(a);
    s->extra.setAllocator(a);
    s->dictionary.setAllocator(a);
    bool copied = copyOptionBytes(s->name, o.name, o.name ? std::strlen(o.name) : 0, true) &&
                  copyOptionBytes(s->comment, o.comment, o.comment ? std::strlen(o.comment) : 0, true) &&
                  copyOptionBytes(s->extra, o.extra, o.extraLen, false) &&
                  copyOptionBytes(s->dictionary, o.dictionary, o.dictionaryLen, false);
    if (!copied) {
        dispose(a, s);
        return kelStreamErrMemory;
    }
    o.name = o.name ? reinterpret_cast<const char*>(s->name.data()) : nullptr;
    o.comment = o.comment ? reinterpret_cast<const char*>(s->comment.data()) : nullptr;
    o.extra = o.extra ? s->extra.data() : nullptr;
    o.dictionary = o.dictionary ? s->dictionary.data() : nullptr;
    s->setup = Setup{format, direction, o, a};
    CreateError e;
    s->engine = createEngine(s->setup, &e);
    if (!s->engine) {
        KelStreamResult r = e.result < 0 ? e.result : kelStreamErrMemory;
        dispose(a, s);
        return r;
    }
    *stream = s;
    return kelStreamOk;
}

__attribute__((visibility("default"))) KelStreamResult kelStreamProcess(KelStream* stream, const void* src,
                                                                        std::size_t* srcLen, void* dst,
                                                                        std::size_t* dstLen, KelStreamFlush flushArg) {
    if (!stream || !srcLen || !dstLen) return kelStreamErrArgument;
    const int flushValue = valueOf(flushArg);
    std::size_t inLen = *srcLen, room = *dstLen;
    *srcLen = 0;
    *dstLen = 0;
    if (stream->error < 0) return stream->error;
    if ((!src && inLen) || (!dst && room) || flushValue < kelFlushNone || flushValue > kelFlushFinish) {
        return kelStreamErrArgument;
    }
    const KelStreamFlush flush = KelStreamFlush(flushValue);
    if (stream->ended) {
        if (inLen) {
            stream->errorMessage = "input after the end of the stream";
            return stream->error = kelStreamErrArgument;
        }
        return kelStreamEnd;
    }
    std::size_t consumed = 0, produced = 0;
    KelStreamResult r = stream->engine->process(static_cast<const std::uint8_t*>(src), inLen, &consumed,
                                                static_cast<std::uint8_t*>(dst), room, &produced, flush);
    *srcLen = consumed;
    *dstLen = produced;
    stream->totalIn += consumed;
    stream->totalOut += produced;
    if (r < 0) {
        stream->error = r;
        stream->errorMessage = stream->engine->message;
    } else if (r == kelStreamEnd && stream->setup.direction == kelCompress) {
        stream->ended = true;
    }
    return r;
}

__attribute__((visibility("default"))) KelStreamResult kelStreamSetDictionary(KelStream* stream, const void* dict,
                                                                              std::size_t dictLen) {
    if (!stream || (!dict && dictLen)) return kelStreamErrArgument;
    if (stream->error < 0) return stream->error;
    KelStreamResult r = stream->engine->setDictionary(static_cast<const std::uint8_t*>(dict), dictLen);
    if (r == kelStreamErrMemory) {
        stream->error = r;
        stream->errorMessage = stream->engine->message;
    }
    return r;
}

__attribute__((visibility("default"))) KelStreamResult kelStreamGetHeader(const KelStream* stream,
                                                                          KelStreamHeader* header) {
    if (!stream || !header) return kelStreamErrArgument;
    std::memset(header, 0, sizeof *header);
    header->os = -1;
    header->level = -1;
    header->contentSize = -1;
    stream->engine->header(header);
    header->format = stream->engine->format;
    header->totalIn = stream->totalIn;
    header->totalOut = stream->totalOut;
    return kelStreamOk;
}

__attribute__((visibility("default"))) const char* kelStreamMessage(const KelStream* stream) {
    if (!stream) return "";
    return stream->error < 0 ? stream->errorMessage : "";
}

__attribute__((visibility("default"))) KelStreamResult kelStreamReset(KelStream* stream) {
    if (!stream) return kelStreamErrArgument;
    stream->error = kelStreamOk;
    stream->errorMessage = "";
    stream->ended = false;
    stream->totalIn = stream->totalOut = 0;
    stream->engine->message = "";
    if (stream->engine->reset()) return kelStreamOk;
    stream->engine->destroy();
    CreateError e;
    stream->engine = createEngine(stream->setup, &e);
    if (stream->engine) return kelStreamOk;
    // Keep a usable object: an engine that rejects every call, holding the error.
    stream->engine = make<RejectingEngine>(stream->setup.alloc, stream->setup);
    stream->error = e.result < 0 ? e.result : kelStreamErrMemory;
    stream->errorMessage = e.why;
    return stream->engine ? stream->error : kelStreamErrMemory;
}

__attribute__((visibility("default"))) void kelStreamFree(KelStream* stream) {
    if (!stream) return;
    if (stream->engine) stream->engine->destroy();
    Allocator a = stream->setup.alloc;
    dispose(a, stream);
}

__attribute__((visibility("default"))) std::size_t kelStreamCompressBound(KelStreamFormat formatArg, std::size_t srcLen,
                                                                          const KelStreamOptions* options) {
    if (!validFormat(valueOf(formatArg))) return 0;
    const KelStreamFormat format = KelStreamFormat(valueOf(formatArg));
    KelStreamOptions o;
    kelStreamDefaultOptions(&o);
    if (options) o = *options;
    std::size_t bound = 0;
    switch (format) {
    case kelFormatGzip:
    case kelFormatZlib:
    case kelFormatDeflate: bound = deflateBound(o, format, srcLen); break;
    case kelFormatBzip2: bound = bzip2Bound(o, srcLen); break;
    case kelFormatLz4: bound = lz4Bound(o, srcLen); break;
    case kelFormatLzop: bound = lzopBound(o, srcLen); break;
    case kelFormatLzss: bound = lzssBound(o, srcLen); break;
    default: return 0;
    }
    if (bound == 0) return 0;
    // Parallel compression writes one complete stream per piece of at least 1 MiB: allow headers and trailers for
    // each piece.
    if (o.threads > 1 && canRunParallel(format)) {
        std::size_t pieces = srcLen / (1u << 20) + 1;
        std::size_t each = (format == kelFormatBzip2 ? bzip2Bound(o, 0) : format == kelFormatLz4 ? lz4Bound(o, 0)
                                                                                             : deflateBound(o, format, 0));
        if (pieces > (SIZE_MAX - bound) / (each + 16)) return 0;
        bound += pieces * (each + 16);
    }
    return bound;
}

__attribute__((visibility("default"))) KelStreamResult kelStreamCompress(KelStreamFormat formatArg, const void* src,
                                                                         std::size_t srcLen, void* dst,
                                                                         std::size_t* dstLen,
                                                                         const KelStreamOptions* options) {
    if (!validFormat(valueOf(formatArg))) return kelStreamErrArgument;
    const KelStreamFormat format = KelStreamFormat(valueOf(formatArg));
    if (!dstLen || (!src && srcLen) || (!dst && *dstLen)) return kelStreamErrArgument;
    if (!isCompressibleFormat(format)) return kelStreamErrArgument;
    KelStream* s = nullptr;
    KelStreamResult r = kelStreamCreate(&s, format, kelCompress, options);
    if (r < 0) return r;
    const std::uint8_t* in = static_cast<const std::uint8_t*>(src);
    std::uint8_t* out = static_cast<std::uint8_t*>(dst);
    std::size_t room = *dstLen, done = 0;
    for (;;) {
        std::size_t c = srcLen, p = room - done;
        r = kelStreamProcess(s, in, &c, out + done, &p, kelFlushFinish);
        in += c;
        srcLen -= c;
        done += p;
        if (r != kelStreamOk) break;
        if (c == 0 && p == 0) {
            r = done == room ? kelStreamErrNoRoom : kelStreamErrLibrary;
            break;
        }
    }
    kelStreamFree(s);
    if (r == kelStreamEnd) *dstLen = done;
    return r;
}

}  // extern "C"

namespace {

// Drives a decoder over the whole input into a growing or fixed output. grow: called when the room is full;
// returns false when no more room can be had.
template <class Grow>
KelStreamResult decompressAll(KelStream* s, const std::uint8_t* in, std::size_t inLen, std::uint8_t*& out,
                              std::size_t& room, std::size_t& done, const KelStreamOptions* options, Grow grow) {
    for (;;) {
        std::size_t c = inLen, p = room - done;
        KelStreamResult r = kelStreamProcess(s, in, &c, out + done, &p, kelFlushFinish);
        in += c;
        inLen -= c;
        done += p;
        if (r == kelStreamNeedDictionary) {
            if (!options || !options->dictionary) return kelStreamErrArgument;
            r = kelStreamSetDictionary(s, options->dictionary, options->dictionaryLen);
            if (r < 0) return r;
            continue;
        }
        if (r == kelStreamEntryEnd) continue;
        if (r != kelStreamOk) return r;
        // A full room is not yet a short one: the end may still be verified by a call with no room left.
        if (c == 0 && p == 0) {
            if (done < room) return kelStreamErrTruncated;
            if (!grow(out, room)) return kelStreamErrNoRoom;
        }
    }
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) KelStreamResult kelStreamDecompress(KelStreamFormat formatArg, const void* src,
                                                                           std::size_t srcLen, void* dst,
                                                                           std::size_t* dstLen,
                                                                           const KelStreamOptions* options) {
    if (!validFormat(valueOf(formatArg))) return kelStreamErrArgument;
    const KelStreamFormat format = KelStreamFormat(valueOf(formatArg));
    if (!dstLen || (!src && srcLen) || (!dst && *dstLen)) return kelStreamErrArgument;
    KelStream* s = nullptr;
    KelStreamResult r = kelStreamCreate(&s, format, kelDecompress, options);
    if (r < 0) return r;
    std::uint8_t* out = static_cast<std::uint8_t*>(dst);
    std::size_t room = *dstLen, done = 0;
    r = decompressAll(s, static_cast<const std::uint8_t*>(src), srcLen, out, room, done, options,
                      [](std::uint8_t*&, std::size_t&) { return false; });
    kelStreamFree(s);
    *dstLen = done;
    return r;
}

__attribute__((visibility("default"))) KelStreamResult kelStreamDecompressAlloc(KelStreamFormat formatArg,
                                                                                const void* src, std::size_t srcLen,
                                                                                void** dst, std::size_t* dstLen,
                                                                                const KelStreamOptions* options) {
    if (!validFormat(valueOf(formatArg))) return kelStreamErrArgument;
    const KelStreamFormat format = KelStreamFormat(valueOf(formatArg));
    if (!dst || !dstLen || (!src && srcLen)) return kelStreamErrArgument;
    *dst = nullptr;
    *dstLen = 0;
    KelStreamOptions o;
    kelStreamDefaultOptions(&o);
    if (options) o = *options;
    Allocator a = Allocator::from(o);
    KelStream* s = nullptr;
    KelStreamResult r = kelStreamCreate(&s, format, kelDecompress, options);
    if (r < 0) return r;
    std::size_t room = srcLen < (SIZE_MAX >> 3) ? srcLen * 4 : SIZE_MAX / 2;
    if (room < 4096) room = 4096;
    std::uint8_t* out = static_cast<std::uint8_t*>(a.get(room));
    std::size_t done = 0;
    if (!out) {
        kelStreamFree(s);
        return kelStreamErrMemory;
    }
    bool memoryFailed = false;
    r = decompressAll(s, static_cast<const std::uint8_t*>(src), srcLen, out, room, done, options,
                      [&](std::uint8_t*& buf, std::size_t& cap) {
                          if (cap > SIZE_MAX / 2) return false;
                          std::uint8_t* bigger = static_cast<std::uint8_t*>(a.get(cap * 2));
                          if (!bigger) {
                              memoryFailed = true;
                              return false;
                          }
                          std::memcpy(bigger, buf, cap);
                          a.put(buf);
                          buf = bigger;
                          cap *= 2;
                          return true;
                      });
    kelStreamFree(s);
    if (r == kelStreamErrNoRoom && memoryFailed) r = kelStreamErrMemory;
    if (r < 0) {
        a.put(out);
        return r;
    }
    *dst = out;
    *dstLen = done;
    return r;
}

}  // extern "C"

// src/kelz/deflate.cpp - zlib's compression calls on the stream library's Deflate writer.
//
// The writer (src/stream/deflate_writer.h) makes the blocks; this file adds what zlib's interface promises around
// them: the zlib and gzip wrappers with their running checksums in strm->adler, the flush modes, the stream
// fields, and zlib's return codes and state rules, which programs observe (Python's zlib module puts strm->msg
// into its exceptions). The writer appends whole bytes to `out`, from which every call first hands out what the
// caller has room for; new input is taken only once nothing is left over, in chunks, so that `out` holds at most
// one chunk's output plus what a flush or the trailer adds. Compressed bytes differ from zlib's; what a program
// can see besides them follows zlib 1.2.13.
#include <algorithm>
#include <cstring>

#include "kelz/kelz_internal.h"
#include "stream/deflate_writer.h"

namespace kel::z {
namespace {

using stream::Bytes;
using stream::DeflateWriter;

// Input handed to the writer per call: long enough that the writer matches most of it where it lies (it does so
// from 256 KiB on), short enough that the output left over for small output buffers stays small.
constexpr std::size_t kChunk = std::size_t(1) << 20;
constexpr std::size_t kMaxWindow = 32768;
// Bytes scanned for data_type: zlib decides from its first block's literals, which are about this many.
constexpr std::size_t kTypeScanBytes = 65536;
// Flush rank of no flush since the last input.
constexpr int kNoFlushDone = -100;

enum class Status { kInit, kBusy, kFinish };

struct DeflateState : internal_state {
    explicit DeflateState(const stream::Allocator& a) : out(a) {}

    Bytes out;  // output not yet handed to the caller, from outPos on
    std::size_t outPos = 0;
    DeflateWriter* writer = nullptr;
    int level = 6;
    int strategy = Z_DEFAULT_STRATEGY;
    int wrap = 1;         // 0 raw, 1 zlib, 2 gzip
    int windowBits = 15;  // as the header states it (8 becomes 9, as zlib does)
    int memLevel = 8;
    Status status = Status::kInit;
    int lastFlush = -2;            // zlib's last_flush: -2 before the first call, -1 after output ran out
    int flushDone = kNoFlushDone;  // rank of the strongest flush made since input was last taken
    bool tookInput = false;        // input taken since the start (a dictionary may no longer be set)
    gz_headerp gzhead = nullptr;
    std::uint32_t isize = 0;  // input length mod 2^32 for the gzip trailer
    std::size_t typeScanned = 0;
    std::uint32_t seenLow = 0;  // bit b: byte value b (below 32) was seen
    bool seenHigh = false;      // a byte of 32 or more was seen
    std::size_t dictLen = 0;    // the dictionary's last bytes, up to the window (reloaded after a second one)
    std::uint8_t dict[kMaxWindow];
};

// zlib's order of flush strength: NO_FLUSH < BLOCK < PARTIAL < SYNC < FULL < FINISH.
int rank(int flush) {
    return flush * 2 - (flush > 4 ? 9 : 0);
}

DeflateState* deflateStateOf(z_streamp strm) {
    if (!strm || !strm->zalloc || !strm->zfree) return nullptr;
    return static_cast<DeflateState*>(stateOf(strm, kDeflateState));
}

int fail(z_streamp strm, int code) {
    strm->msg = const_cast<char*>(messageOf(code));
    return code;
}

std::size_t pendingBytes(const DeflateState* s) {
    return s->out.size() - s->outPos;
}

void drain(z_streamp strm, DeflateState* s) {
    const std::size_t n = std::min<std::size_t>(pendingBytes(s), strm->avail_out);
    if (n) {
        std::memcpy(strm->next_out, s->out.data() + s->outPos, n);
        strm->next_out += n;
        strm->avail_out -= uInt(n);
        strm->total_out += n;
        s->outPos += n;
    }
    if (s->outPos == s->out.size()) {
        s->out.clear();
        s->outPos = 0;
    }
}

bool put(DeflateState* s, const void* p, std::size_t n) {
    return s->out.append(static_cast<const std::uint8_t*>(p), n);
}

bool putByte(DeflateState* s, unsigned b) {
    const std::uint8_t v = std::uint8_t(b);
    return put(s, &v, 1);
}

// zlib's FLEVEL and gzip's XFL follow the level and strategy alike.
bool fastClass(const DeflateState* s) {
    return s->strategy >= Z_HUFFMAN_ONLY || s->level < 2;
}

bool writeZlibHeader(z_streamp strm, DeflateState* s) {
    const unsigned levelClass = fastClass(s) ? 0 : s->level < 6 ? 1 : s->level == 6 ? 2 : 3;
    unsigned header = (Z_DEFLATED + unsigned(s->windowBits - 8) * 16) * 256 + levelClass * 64;
    if (s->dictLen) header |= 0x20;  // FDICT: the dictionary's Adler-32 follows
    header += 31 - header % 31;
    bool ok = putByte(s, header >> 8) && putByte(s, header);
    if (s->dictLen) {
        const uLong id = strm->adler;
        ok = ok && putByte(s, unsigned(id >> 24)) && putByte(s, unsigned(id >> 16)) && putByte(s, unsigned(id >> 8)) &&
             putByte(s, unsigned(id));
    }
    strm->adler = adler32(0L, Z_NULL, 0);
    return ok;
}

bool writeGzipHeader(z_streamp strm, DeflateState* s) {
    const gz_headerp h = s->gzhead;
    const std::size_t start = s->out.size();
    const unsigned xfl = s->level == 9 ? 2 : fastClass(s) ? 4 : 0;
    unsigned flags = 0;
    uLong mtime = 0;
    unsigned os = 3;  // Unix, zlib's default
    if (h) {
        flags = (h->text ? 1 : 0) | (h->hcrc ? 2 : 0) | (h->extra ? 4 : 0) | (h->name ? 8 : 0) | (h->comment ? 16 : 0);
        mtime = h->time;
        os = unsigned(h->os);
    }
    const std::uint8_t fixed[10] = {0x1f,
                                    0x8b,
                                    Z_DEFLATED,
                                    std::uint8_t(flags),
                                    std::uint8_t(mtime),
                                    std::uint8_t(mtime >> 8),
                                    std::uint8_t(mtime >> 16),
                                    std::uint8_t(mtime >> 24),
                                    std::uint8_t(xfl),
                                    std::uint8_t(os)};
    bool ok = put(s, fixed, sizeof fixed);
    if (h && h->extra) {
        const unsigned n = h->extra_len & 0xffff;
        ok = ok && putByte(s, n) && putByte(s, n >> 8) && put(s, h->extra, n);
    }
    if (h && h->name) ok = ok && put(s, h->name, std::strlen(reinterpret_cast<const char*>(h->name)) + 1);
    if (h && h->comment) ok = ok && put(s, h->comment, std::strlen(reinterpret_cast<const char*>(h->comment)) + 1);
    if (ok && h && h->hcrc) {
        const uLong crc = crc32(0L, s->out.data() + start, uInt(s->out.size() - start));
        ok = putByte(s, unsigned(crc)) && putByte(s, unsigned(crc >> 8));
    }
    strm->adler = crc32(0L, Z_NULL, 0);
    return ok;
}

bool writeTrailer(z_streamp strm, DeflateState* s) {
    const uLong c = strm->adler;
    if (s->wrap == 1) return putByte(s, c >> 24) && putByte(s, c >> 16) && putByte(s, c >> 8) && putByte(s, c);
    if (s->wrap == 2) {
        const std::uint32_t n = s->isize;
        return putByte(s, c) && putByte(s, c >> 8) && putByte(s, c >> 16) && putByte(s, c >> 24) && putByte(s, n) &&
               putByte(s, n >> 8) && putByte(s, n >> 16) && putByte(s, n >> 24);
    }
    return true;
}

// zlib's data_type rule: any byte of 0-6, 14-25 or 28-31 makes the data binary; otherwise 9, 10, 13 or a byte of
// 32 or more makes it text.
void scanType(DeflateState* s, const std::uint8_t* p, std::size_t n) {
    n = std::min(n, kTypeScanBytes - s->typeScanned);
    s->typeScanned += n;
    std::uint32_t low = s->seenLow;
    bool high = s->seenHigh;
    for (std::size_t i = 0; i < n; ++i) {
        if (p[i] < 32) {
            low |= 1u << p[i];
        } else {
            high = true;
        }
    }
    s->seenLow = low;
    s->seenHigh = high;
}

void settleType(z_streamp strm, const DeflateState* s) {
    if (strm->data_type != Z_UNKNOWN || s->level == 0) return;
    constexpr std::uint32_t kBlack = 0xf3ffc07fu;  // 0-6, 14-25, 28-31
    constexpr std::uint32_t kTextLow = (1u << 9) | (1u << 10) | (1u << 13);
    strm->data_type = (s->seenLow & kBlack) ? Z_BINARY : (s->seenHigh || (s->seenLow & kTextLow)) ? Z_TEXT : Z_BINARY;
}

void configureWriter(DeflateState* s) {
    s->writer->configure(s->level, s->strategy == Z_HUFFMAN_ONLY, s->strategy == Z_FIXED);
}

// The writer's and the output's failures are both out of memory: the writer fails in no other way on valid calls.
int writerFailed(z_streamp strm, DeflateState* s) {
    (void)s;
    return fail(strm, Z_MEM_ERROR);
}

void destroy(z_streamp strm, DeflateState* s) {
    const stream::Allocator a = allocatorOf(strm);
    stream::dispose(a, s->writer);
    s->~DeflateState();
    release(strm, s);
}

// A state with its writer, on strm's allocator; null when memory runs out.
DeflateState* create(z_streamp strm, int level, int windowBits) {
    const stream::Allocator a = allocatorOf(strm);
    void* mem = allocate(strm, sizeof(DeflateState));
    if (!mem) return nullptr;
    DeflateState* s = new (mem) DeflateState(a);
    s->strm = strm;
    s->kind = kDeflateState;
    s->writer = stream::make<DeflateWriter>(a, a, &s->out);
    if (!s->writer || !s->writer->init(level == 0 ? 6 : level, Kel32u(1) << windowBits)) {
        destroy(strm, s);
        return nullptr;
    }
    s->writer->joinStoredBlocks(true);
    return s;
}

int flushOp(DeflateState* s, int flush) {
    DeflateWriter& w = *s->writer;
    if (w.endBlock() != kelStreamOk) return Z_MEM_ERROR;
    if (flush == Z_PARTIAL_FLUSH) {
        w.putEmptyFixed();
    } else if (flush == Z_SYNC_FLUSH || flush == Z_FULL_FLUSH) {
        w.putEmptyStored();
        if (flush == Z_FULL_FLUSH) w.forgetHistory();
    }
    return w.result() == kelStreamOk ? Z_OK : Z_MEM_ERROR;
}

}  // namespace
}  // namespace kel::z

using kel::z::DeflateState;
using kel::z::Status;

extern "C" {

int deflateInit2_(z_streamp strm, int level, int method, int windowBits, int memLevel, int strategy,
                  const char* version, int stream_size) {
    if (!version || version[0] != ZLIB_VERSION[0] || stream_size != int(sizeof(z_stream))) return Z_VERSION_ERROR;
    if (!strm) return Z_STREAM_ERROR;
    strm->msg = Z_NULL;
    kel::z::installDefaultAllocator(strm);
    if (level == Z_DEFAULT_COMPRESSION) level = 6;
    int wrap = 1;
    if (windowBits < 0) {
        wrap = 0;
        if (windowBits < -15) return Z_STREAM_ERROR;
        windowBits = -windowBits;
    } else if (windowBits > 15) {
        wrap = 2;
        windowBits -= 16;
    }
    // A window of 256 bytes is taken for 512 with the zlib wrapper only, as zlib does.
    if (memLevel < 1 || memLevel > MAX_MEM_LEVEL || method != Z_DEFLATED || windowBits < 8 || windowBits > 15 ||
        level < 0 || level > 9 || strategy < 0 || strategy > Z_FIXED || (windowBits == 8 && wrap != 1)) {
        return Z_STREAM_ERROR;
    }
    if (windowBits == 8) windowBits = 9;
    strm->state = Z_NULL;
    DeflateState* s = kel::z::create(strm, level, windowBits);
    if (!s) return kel::z::fail(strm, Z_MEM_ERROR);
    s->level = level;
    s->strategy = strategy;
    s->wrap = wrap;
    s->windowBits = windowBits;
    s->memLevel = memLevel;
    kel::z::configureWriter(s);
    strm->state = s;
    return deflateReset(strm);
}

int deflateInit_(z_streamp strm, int level, const char* version, int stream_size) {
    return deflateInit2_(strm, level, Z_DEFLATED, MAX_WBITS, MAX_MEM_LEVEL > 8 ? 8 : MAX_MEM_LEVEL, Z_DEFAULT_STRATEGY,
                         version, stream_size);
}

// zlib's ResetKeep keeps the window for its own use between streams; here both start the next stream afresh,
// which is what a caller can rely on with either.
int deflateResetKeep(z_streamp strm) {
    DeflateState* s = kel::z::deflateStateOf(strm);
    if (!s) return Z_STREAM_ERROR;
    strm->total_in = strm->total_out = 0;
    strm->msg = Z_NULL;
    strm->data_type = Z_UNKNOWN;
    s->out.clear();
    s->outPos = 0;
    s->writer->reset();
    s->status = Status::kInit;
    s->lastFlush = -2;
    s->flushDone = kel::z::kNoFlushDone;
    s->tookInput = false;
    s->isize = 0;
    s->typeScanned = 0;
    s->seenLow = 0;
    s->seenHigh = false;
    s->dictLen = 0;
    strm->adler = s->wrap == 2 ? crc32(0L, Z_NULL, 0) : adler32(0L, Z_NULL, 0);
    return Z_OK;
}

int deflateReset(z_streamp strm) {
    return deflateResetKeep(strm);
}

int deflate(z_streamp strm, int flush) {
    using namespace kel::z;
    DeflateState* s = deflateStateOf(strm);
    if (!s || flush > Z_BLOCK || flush < 0) return Z_STREAM_ERROR;
    if (!strm->next_out || (strm->avail_in != 0 && !strm->next_in) ||
        (s->status == Status::kFinish && flush != Z_FINISH)) {
        return fail(strm, Z_STREAM_ERROR);
    }
    if (strm->avail_out == 0) return fail(strm, Z_BUF_ERROR);
    const int oldFlush = s->lastFlush;
    s->lastFlush = flush;

    if (pendingBytes(s) != 0) {
        drain(strm, s);
        if (strm->avail_out == 0) {
            // The caller calls again with the same flush; that is progress, not a repeated flush.
            s->lastFlush = -1;
            return Z_OK;
        }
    } else if (strm->avail_in == 0 && rank(flush) <= rank(oldFlush) && flush != Z_FINISH) {
        return fail(strm, Z_BUF_ERROR);
    }
    if (s->status == Status::kFinish && strm->avail_in != 0) return fail(strm, Z_BUF_ERROR);

    if (s->status == Status::kInit) {
        const bool ok = s->wrap == 1 ? writeZlibHeader(strm, s) : s->wrap == 2 ? writeGzipHeader(strm, s) : true;
        if (!ok) return fail(strm, Z_MEM_ERROR);
        s->status = Status::kBusy;
        drain(strm, s);
        if (pendingBytes(s) != 0) {
            s->lastFlush = -1;
            return Z_OK;
        }
    }
    if (s->status == Status::kFinish) return Z_STREAM_END;  // only Z_FINISH gets here, with everything out

    while (strm->avail_in != 0) {
        const std::size_t take = std::min<std::size_t>(strm->avail_in, kChunk);
        const std::uint8_t* p = strm->next_in;
        if (s->wrap == 1) {
            strm->adler = adler32_z(strm->adler, p, take);
        } else if (s->wrap == 2) {
            strm->adler = crc32_z(strm->adler, p, take);
        }
        if (s->typeScanned < kTypeScanBytes) scanType(s, p, take);
        const std::size_t before = s->out.size();
        const KelStreamResult r = s->writer->write(p, take);
        strm->next_in += take;
        strm->avail_in -= uInt(take);
        strm->total_in += take;
        s->isize += std::uint32_t(take);
        s->tookInput = true;
        s->flushDone = kNoFlushDone;
        if (r != kelStreamOk) return writerFailed(strm, s);
        if (s->out.size() != before) settleType(strm, s);
        drain(strm, s);
        if (pendingBytes(s) != 0) {
            s->lastFlush = -1;
            return Z_OK;
        }
    }
    if (flush == Z_NO_FLUSH) return Z_OK;

    if (flush == Z_FINISH) {
        settleType(strm, s);
        if (s->writer->finish() != kelStreamOk) return writerFailed(strm, s);
        if (!writeTrailer(strm, s)) return fail(strm, Z_MEM_ERROR);
        s->status = Status::kFinish;
        drain(strm, s);
        return pendingBytes(s) != 0 ? Z_OK : Z_STREAM_END;
    }
    // A flush no stronger than one already made since the last input adds nothing (zlib would repeat a sync
    // marker when called again after its output ran out; the stream means the same either way).
    if (rank(flush) > s->flushDone) {
        if (s->tookInput) settleType(strm, s);
        if (flushOp(s, flush) != Z_OK) return writerFailed(strm, s);
        s->flushDone = rank(flush);
    }
    drain(strm, s);
    if (strm->avail_out == 0) s->lastFlush = -1;
    return Z_OK;
}

int deflateEnd(z_streamp strm) {
    DeflateState* s = kel::z::deflateStateOf(strm);
    if (!s) return Z_STREAM_ERROR;
    const bool midStream = s->status == Status::kBusy;
    kel::z::destroy(strm, s);
    strm->state = Z_NULL;
    return midStream ? Z_DATA_ERROR : Z_OK;
}

int deflateParams(z_streamp strm, int level, int strategy) {
    DeflateState* s = kel::z::deflateStateOf(strm);
    if (!s) return Z_STREAM_ERROR;
    if (level == Z_DEFAULT_COMPRESSION) level = 6;
    if (level < 0 || level > 9 || strategy < 0 || strategy > Z_FIXED) return Z_STREAM_ERROR;
    // zlib's three kinds of search: stored (0), greedy (1-3) and lazy (4-9). A change of kind or strategy ends
    // the block so far, as Z_BLOCK does, once the stream has begun.
    auto kindOf = [](int l) { return l == 0 ? 0 : l <= 3 ? 1 : 2; };
    if ((strategy != s->strategy || kindOf(level) != kindOf(s->level)) && s->lastFlush != -2) {
        const int err = deflate(strm, Z_BLOCK);
        if (err == Z_STREAM_ERROR) return err;
        // Refused while input is left or the block could not be ended; output still pending is no obstacle.
        if (strm->avail_in != 0 || s->flushDone < kel::z::rank(Z_BLOCK)) return Z_BUF_ERROR;
    }
    s->level = level;
    s->strategy = strategy;
    kel::z::configureWriter(s);
    return s->writer->result() == kelStreamOk ? Z_OK : Z_MEM_ERROR;
}

int deflateSetDictionary(z_streamp strm, const Bytef* dictionary, uInt dictLength) {
    DeflateState* s = kel::z::deflateStateOf(strm);
    if (!s || !dictionary) return Z_STREAM_ERROR;
    // zlib also lets a raw stream take a dictionary after a flush; here it must come before any input.
    if (s->wrap == 2 || (s->wrap == 1 && s->status != Status::kInit) || s->tookInput) return Z_STREAM_ERROR;
    if (s->wrap == 1) strm->adler = adler32(strm->adler, dictionary, dictLength);
    // A second dictionary follows the first in the history, as in zlib.
    const std::size_t window = std::size_t(1) << s->windowBits;
    const std::size_t add = std::min<std::size_t>(dictLength, window);
    const std::size_t keepOld = std::min(s->dictLen, window - add);
    std::memmove(s->dict, s->dict + (s->dictLen - keepOld), keepOld);
    std::memcpy(s->dict + keepOld, dictionary + (dictLength - add), add);
    s->dictLen = keepOld + add;
    s->writer->reset();
    if (s->dictLen && s->writer->setDictionary(s->dict, s->dictLen) != kelStreamOk) {
        return kel::z::fail(strm, Z_MEM_ERROR);
    }
    return Z_OK;
}

int deflateGetDictionary(z_streamp strm, Bytef* dictionary, uInt* dictLength) {
    DeflateState* s = kel::z::deflateStateOf(strm);
    if (!s) return Z_STREAM_ERROR;
    const std::size_t n = s->writer->history(dictionary);
    if (dictLength) *dictLength = uInt(n);
    return Z_OK;
}

int deflateCopy(z_streamp dest, z_streamp source) {
    DeflateState* from = kel::z::deflateStateOf(source);
    if (!from || !dest) return Z_STREAM_ERROR;
    std::memcpy(static_cast<void*>(dest), source, sizeof(z_stream));
    dest->state = Z_NULL;
    DeflateState* s = kel::z::create(dest, from->level == 0 ? 6 : from->level, from->windowBits);
    if (!s) return Z_MEM_ERROR;
    if (!s->writer->copyFrom(*from->writer) ||
        !s->out.append(from->out.data() + from->outPos, kel::z::pendingBytes(from))) {
        kel::z::destroy(dest, s);
        return Z_MEM_ERROR;
    }
    s->level = from->level;
    s->strategy = from->strategy;
    s->wrap = from->wrap;
    s->windowBits = from->windowBits;
    s->memLevel = from->memLevel;
    s->status = from->status;
    s->lastFlush = from->lastFlush;
    s->flushDone = from->flushDone;
    s->tookInput = from->tookInput;
    s->gzhead = from->gzhead;
    s->isize = from->isize;
    s->typeScanned = from->typeScanned;
    s->seenLow = from->seenLow;
    s->seenHigh = from->seenHigh;
    s->dictLen = from->dictLen;
    std::memcpy(s->dict, from->dict, from->dictLen);
    dest->state = s;
    return Z_OK;
}

// zlib's bound (its tight figure for the default window and memLevel, a conservative one otherwise), or ours
// where that is larger: the writer keeps each block within its stored size, and its stored blocks cost at most 5
// bytes per 8 KiB where they cannot be joined, plus a final block and alignment.
uLong deflateBound(z_streamp strm, uLong sourceLen) {
    const uLong fixedLen = sourceLen + (sourceLen >> 3) + (sourceLen >> 8) + (sourceLen >> 9) + 4;
    const uLong storeLen = sourceLen + (sourceLen >> 5) + (sourceLen >> 7) + (sourceLen >> 11) + 7;
    const uLong ours = sourceLen + (sourceLen >> 10) + 192;
    DeflateState* s = kel::z::deflateStateOf(strm);
    if (!s) return std::max({fixedLen, storeLen, ours}) + 6;
    uLong wrapLen = 0;
    if (s->wrap == 1) {
        wrapLen = 6 + (s->dictLen ? 4 : 0);
    } else if (s->wrap == 2) {
        wrapLen = 18;
        if (const gz_headerp h = s->gzhead) {
            if (h->extra) wrapLen += 2 + h->extra_len;
            if (h->name) wrapLen += std::strlen(reinterpret_cast<const char*>(h->name)) + 1;
            if (h->comment) wrapLen += std::strlen(reinterpret_cast<const char*>(h->comment)) + 1;
            if (h->hcrc) wrapLen += 2;
        }
    }
    uLong zlibs = 0;
    const int hashBits = s->memLevel + 7;
    if (s->windowBits != 15 || hashBits != 15) {
        zlibs = (s->windowBits <= hashBits && s->level ? fixedLen : storeLen) + wrapLen;
    } else {
        zlibs = sourceLen + (sourceLen >> 12) + (sourceLen >> 14) + (sourceLen >> 25) + 13 - 6 + wrapLen;
    }
    return std::max(zlibs, ours + wrapLen);
}

int deflatePending(z_streamp strm, unsigned* pending, int* bits) {
    DeflateState* s = kel::z::deflateStateOf(strm);
    if (!s) return Z_STREAM_ERROR;
    if (pending) *pending = unsigned(kel::z::pendingBytes(s));
    if (bits) *bits = int(s->writer->pendingBits());
    return Z_OK;
}

int deflatePrime(z_streamp strm, int bits, int value) {
    DeflateState* s = kel::z::deflateStateOf(strm);
    if (!s) return Z_STREAM_ERROR;
    if (bits < 0 || bits > 16) return Z_BUF_ERROR;
    s->writer->prime(std::uint32_t(value), unsigned(bits));
    return s->writer->result() == kelStreamOk ? Z_OK : Z_MEM_ERROR;
}

int deflateSetHeader(z_streamp strm, gz_headerp head) {
    DeflateState* s = kel::z::deflateStateOf(strm);
    if (!s || s->wrap != 2) return Z_STREAM_ERROR;
    s->gzhead = head;
    return Z_OK;
}

// The matchers' parameters come from the level table; the caller's tuning is accepted and not used.
int deflateTune(z_streamp strm, int, int, int, int) {
    return kel::z::deflateStateOf(strm) ? Z_OK : Z_STREAM_ERROR;
}

}  // extern "C"

// fuzz/inflate_fuzz.cpp - Inflate: libkelstream's gzip/zlib/raw reader against zlib, and the decoder on arbitrary
// contexts.
//
// Byte 0 picks the mode, byte 1 the chunking, the rest is the input.
//   0, 1, 2: raw Deflate, zlib or gzip data through libkelstream's decoder in pieces of the chosen sizes, every
//            piece and every room in an exact-size heap buffer. zlib decodes the same bytes: for raw and zlib data,
//            whenever either decoder reaches the end of the stream, both must, with identical output; for gzip
//            (zlib reads one member) when zlib reads one member that is all of the input.
//   3:       kelsInflate_8u on a context built from the input: code lengths for kelsInflateBuildHuffTable, or
//            raw table bytes, table kind, resume fields and window position; the rest is the payload. The
//            decoder must stay inside its buffers and return 0 or -200 with consistent counts. The context, the
//            window, the source and every destination are heap blocks of exactly their documented sizes, so that
//            AddressSanitizer reports any byte touched past them. A flag in the input chooses the layout of a
//            caller decoding straight into its circular window (destination = window + winPos); with a full
//            32 KiB window and built tables, a second caller decodes the same input into separate buffers and
//            copies its output into its own window: both must see the same results, call by call.
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "keldc.h"
#include "kelstream.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Output beyond this is not produced (a Deflate stream expands at most 1032-fold, the input is small).
constexpr std::size_t kOutCap = std::size_t(8) << 20;

constexpr std::size_t kPieces[16] = {0, 1, 2, 3, 5, 7, 8, 15, 16, 17, 31, 100, 258, 1000, 4096, 65536};

struct Outcome {
    KelStreamResult result;
    Bytes out;
};

// libkelstream's decoder in pieces of the given sizes, each in a heap block of exactly its size.
Outcome kelDecode(KelStreamFormat format, const std::uint8_t* src, std::size_t n, std::size_t inPiece,
                  std::size_t outPiece) {
    Outcome o{kelStreamOk, {}};
    KelStream* s = nullptr;
    if (kelStreamCreate(&s, format, kelDecompress, nullptr) != kelStreamOk) std::abort();
    if (inPiece == 0) inPiece = n ? n : 1;
    if (outPiece == 0) outPiece = 1 << 16;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t len = n - pos < inPiece ? n - pos : inPiece;
        auto* piece = new std::uint8_t[len ? len : 1];
        std::memcpy(piece, src + pos, len);
        const bool last = pos + len == n;
        std::size_t used = 0;
        for (;;) {
            auto* room = new std::uint8_t[outPiece];
            std::size_t inLen = len - used, outLen = outPiece;
            o.result = kelStreamProcess(s, piece + used, &inLen, room, &outLen, last ? kelFlushFinish : kelFlushNone);
            if (inLen > len - used || outLen > outPiece) std::abort();
            used += inLen;
            o.out.insert(o.out.end(), room, room + outLen);
            delete[] room;
            if (o.result != kelStreamOk || o.out.size() > kOutCap) {
                delete[] piece;
                kelStreamFree(s);
                return o;
            }
            if (inLen == 0 && outLen == 0 && used < len) std::abort();  // neither input nor room taken
            if (used == len && outLen < outPiece) break;                // wants the next piece
        }
        delete[] piece;
        pos += len;
        // Every byte given with kelFlushFinish and room left over: the decoder owed a final result.
        if (last) std::abort();
    }
}

// zlib's verdict: true and the output if it reached the end of the stream.
bool zlibDecode(const std::uint8_t* src, std::size_t n, int windowBits, Bytes& out, std::size_t* left) {
    z_stream z{};
    if (inflateInit2(&z, windowBits) != Z_OK) return false;
    z.next_in = const_cast<Bytef*>(src);
    z.avail_in = uInt(n);
    std::uint8_t chunk[1 << 16];
    int r = Z_OK;
    while (r == Z_OK && out.size() <= kOutCap) {
        z.next_out = chunk;
        z.avail_out = sizeof chunk;
        r = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), chunk, chunk + (sizeof chunk - z.avail_out));
        if (r == Z_OK && z.avail_in == 0 && z.avail_out != 0) break;  // wants more input
    }
    *left = z.avail_in;
    inflateEnd(&z);
    return r == Z_STREAM_END && out.size() <= kOutCap;
}

bool reachedEnd(KelStreamResult r) {
    return r == kelStreamEnd || r == kelStreamTrailingData;
}

void fuzzStream(int mode, std::uint8_t chunking, const std::uint8_t* src, std::size_t n) {
    const KelStreamFormat format = mode == 0 ? kelFormatDeflate : mode == 1 ? kelFormatZlib : kelFormatGzip;
    const Outcome ours = kelDecode(format, src, n, kPieces[chunking & 15], kPieces[chunking >> 4]);
    if (ours.result == kelStreamOk && ours.out.size() <= kOutCap) std::abort();
    Bytes theirs;
    std::size_t zlibLeft = 0;
    const bool zlibEnd = zlibDecode(src, n, mode == 0 ? -15 : mode == 1 ? 15 : 31, theirs, &zlibLeft);
    if (ours.out.size() > kOutCap || theirs.size() > kOutCap) return;
    const bool ourEnd = reachedEnd(ours.result);
    if (mode == 2) {
        // zlib reads one member; a single member with nothing after it must get the same verdict and output.
        if (zlibEnd && zlibLeft == 0 && (!ourEnd || ours.out != theirs)) std::abort();
        return;
    }
    if (zlibEnd != ourEnd) std::abort();
    if (ourEnd && ours.out != theirs) std::abort();
}

// One kelsInflate_8u call and what it handed back.
struct CallResult {
    KelStatus status;
    int mode;
    int srcUsed;
    int written;
    Kel32u bitBuf;
    Kel32u bitCount;
    bool operator==(const CallResult& o) const {
        return status == o.status && mode == o.mode && srcUsed == o.srcUsed && written == o.written &&
               bitBuf == o.bitBuf && bitCount == o.bitCount;
    }
};

// The decoder's promises for every call: a status of 0 or -200, counts that add up, at most 32 held bits.
CallResult checkedCall(Kel8u*& s, int& srcLen, Kel32u& bitBuf, Kel32u& bitCount, Kel32u winPos, Kel8u* dst, int room,
                       Kel32u dstPos, int& mode, InflateContext* ctx) {
    const int srcBefore = srcLen;
    const Kel8u* const srcStart = s;
    Kel8u* d = dst;
    int dstLen = room;
    const KelStatus st = kelsInflate_8u(&s, &srcLen, &bitBuf, &bitCount, winPos, &d, &dstLen, dstPos, &mode, ctx);
    if (st != kelStatusOk && st != kelStatusBadStream) std::abort();
    if (bitCount > 32 || srcLen < 0 || srcLen > srcBefore || dstLen < 0 || dstLen > room) std::abort();
    if (s - srcStart != srcBefore - srcLen || d - dst != room - dstLen) std::abort();
    return {st, mode, srcBefore - srcLen, room - dstLen, bitBuf, bitCount};
}

// The caller decoding into its circular window: each call writes at window + winPos with room up to the
// window's end (at most roomCap), then winPos advances by what was written. With a reference (a copy of the
// window and the context), a second caller decodes the same source into separate exact-size buffers and keeps
// its window up to date by copying; every call must hand back the same results. Only meaningful when no
// distance can exceed the window (windowSize 32768, tables from the builder).
void decodeInWindow(const Kel8u* payload, std::size_t n, Kel8u* window, Kel32u windowSize, Kel32u winPos,
                    std::size_t roomCap, int mode, InflateContext* ctx, Kel8u* refWindow, InflateContext* refCtx) {
    auto* src = new Kel8u[n ? n : 1];
    std::memcpy(src, payload, n);
    Kel8u* s = src;
    int srcLen = int(n);
    Kel32u bitBuf = 0, bitCount = 0;
    Kel8u* rs = src;
    int rSrcLen = int(n);
    Kel32u rBitBuf = 0, rBitCount = 0;
    int rMode = mode;
    winPos %= windowSize;
    for (int call = 0; call < 64; ++call) {
        const std::size_t toEnd = windowSize - winPos;
        const int room = int(toEnd < roomCap ? toEnd : roomCap);
        Kel8u* const dst = window + winPos;
        const CallResult a = checkedCall(s, srcLen, bitBuf, bitCount, winPos, dst, room, 0, mode, ctx);
        if (refCtx != nullptr) {
            auto* piece = new Kel8u[room ? room : 1];
            const CallResult b = checkedCall(rs, rSrcLen, rBitBuf, rBitCount, winPos, piece, room, 0, rMode, refCtx);
            if (!(a == b) || std::memcmp(piece, dst, std::size_t(a.written)) != 0) std::abort();
            std::memcpy(refWindow + winPos, piece, std::size_t(b.written));
            delete[] piece;
        }
        winPos = Kel32u((winPos + Kel32u(a.written)) % windowSize);
        if (a.status != kelStatusOk || a.mode == InflateModeEndOfBlock || a.written < room) break;
    }
    delete[] src;
}

// A context from the input: either code lengths through the builder, or raw bytes for every field.
void fuzzDirect(const std::uint8_t* data, std::size_t n) {
    if (n < 8) return;
    // The documented size of the context; a heap block of exactly that many bytes.
    auto* ctx = static_cast<InflateContext*>(std::malloc(sizeof(InflateContext)));
    std::memset(ctx, 0, sizeof *ctx);
    const std::uint8_t how = data[0];
    Kel32u winPos = data[1] | (data[2] << 8);
    const Kel32u dstPos = data[3] | ((data[4] & 0x7F) << 8);
    int mode = data[5] % 4;
    const std::size_t room = 1 + data[6] * 37 % 4000;
    data += 7;
    n -= 7;
    if (how & 1) {
        // 286 + 30 code lengths, two per byte.
        Kel16u lens[316] = {};
        const std::size_t take = n < 158 ? n : 158;
        for (std::size_t i = 0; i < take; ++i) {
            lens[2 * i] = data[i] & 15;
            lens[2 * i + 1] = data[i] >> 4;
        }
        if (kelsInflateBuildHuffTable(lens, 286, 30, ctx) != kelStatusOk) ctx->tableKind = 0;
        data += take;
        n -= take;
    } else {
        const std::size_t take = n < 600 ? n : 600;
        std::memcpy(reinterpret_cast<std::uint8_t*>(ctx) + 12, data, take < 36 ? take : 36);
        for (std::size_t i = 36; i < take; ++i) ctx->tables[(i * 131) % sizeof ctx->tables] = data[i];
        ctx->tableKind %= 4;
        data += take;
        n -= take;
    }
    const Kel32u windowSize = how & 2 ? 0 : 1u << (how >> 4 & 15);
    auto* window = new Kel8u[windowSize ? windowSize : 1];
    for (std::size_t i = 0; i < windowSize; ++i) window[i] = std::uint8_t(i * 13);
    ctx->window = windowSize ? window : nullptr;
    ctx->windowSize = windowSize;
    if (winPos > ctx->windowSize) winPos %= ctx->windowSize + 1;

    if ((how & 4) && windowSize != 0) {
        // Destination inside the window.
        const bool compare = windowSize == 32768 && (how & 1);
        Kel8u* refWindow = nullptr;
        InflateContext* refCtx = nullptr;
        if (compare) {
            refWindow = new Kel8u[windowSize];
            std::memcpy(refWindow, window, windowSize);
            refCtx = static_cast<InflateContext*>(std::malloc(sizeof(InflateContext)));
            std::memcpy(refCtx, ctx, sizeof *ctx);
            refCtx->window = refWindow;
        }
        decodeInWindow(data, n, window, windowSize, winPos, room, mode, ctx, refWindow, refCtx);
        std::free(refCtx);
        delete[] refWindow;
    } else {
        auto* src = new std::uint8_t[n ? n : 1];
        std::memcpy(src, data, n);
        auto* buf = new std::uint8_t[dstPos + room];
        std::memset(buf, 0x5A, dstPos + room);
        Kel8u* s = src;
        int srcLen = int(n);
        Kel32u bitBuf = 0, bitCount = 0;
        Kel8u* d = buf + dstPos;
        for (int call = 0; call < 4; ++call) {
            const int left = int(buf + dstPos + room - d);
            const CallResult r = checkedCall(s, srcLen, bitBuf, bitCount, winPos, d, left, Kel32u(d - buf), mode, ctx);
            d += r.written;
            if (r.status != kelStatusOk || r.mode == InflateModeEndOfBlock) break;
            if (r.written == left) break;
        }
        delete[] buf;
        delete[] src;
    }
    delete[] window;
    std::free(ctx);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const int mode = data[0] % 4;
    if (mode == 3)
        fuzzDirect(data + 1, size - 1);
    else
        fuzzStream(mode, data[1], data + 2, size - 2);
    return 0;
}

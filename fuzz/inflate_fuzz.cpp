// fuzz/inflate_fuzz.cpp - Inflate: the stream reader against zlib, and the decoder on arbitrary contexts.
//
// Byte 0 picks the mode, byte 1 the chunking, the rest is the input.
//   0, 1, 2: raw Deflate, zlib or gzip data through kel::InflateStream in pieces of the chosen sizes, every
//            piece in an exact-size heap buffer. For raw and zlib data, zlib decodes the same bytes: whenever
//            either decoder reaches the end of the stream, both must, with identical output.
//   3:       kelsInflate_8u on a context built from the input: code lengths for kelsInflateBuildHuffTable, or
//            raw table bytes, table kind, resume fields and window position; the rest is the payload. The
//            decoder must stay inside its buffers and return 0 or -200 with consistent counts.
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "keldc.h"
#include "stream/inflate_stream.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Output beyond this is not produced (a Deflate stream expands at most 1032-fold, the input is small).
constexpr std::size_t kOutCap = std::size_t(8) << 20;

constexpr std::size_t kPieces[16] = {0, 1, 2, 3, 5, 7, 8, 15, 16, 17, 31, 100, 258, 1000, 4096, 65536};

struct Outcome {
    kel::InflateResult result;
    Bytes out;
};

Outcome kelDecode(kel::InflateFormat format, const std::uint8_t* src, std::size_t n, std::size_t inPiece,
                  std::size_t outPiece) {
    Outcome o{kel::InflateResult::Ok, {}};
    kel::InflateStream s(format);
    if (inPiece == 0) inPiece = n ? n : 1;
    if (outPiece == 0) outPiece = 1 << 16;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t len = n - pos < inPiece ? n - pos : inPiece;
        auto* piece = new std::uint8_t[len ? len : 1];
        std::memcpy(piece, src + pos, len);
        const std::uint8_t* in = piece;
        std::size_t inLen = len;
        const bool last = pos + len == n;
        for (;;) {
            auto* room = new std::uint8_t[outPiece];
            std::uint8_t* out = room;
            std::size_t outLen = outPiece;
            o.result = s.decompress(in, inLen, out, outLen, last);
            o.out.insert(o.out.end(), room, out);
            delete[] room;
            if (o.result != kel::InflateResult::Ok || o.out.size() > kOutCap) {
                delete[] piece;
                return o;
            }
            if (inLen == 0 && outLen > 0) break;
        }
        delete[] piece;
        pos += len;
    }
}

// zlib's verdict: true and the output if it reached the end of the stream.
bool zlibDecode(const std::uint8_t* src, std::size_t n, int windowBits, Bytes& out) {
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
    inflateEnd(&z);
    return r == Z_STREAM_END && out.size() <= kOutCap;
}

void fuzzStream(int mode, std::uint8_t chunking, const std::uint8_t* src, std::size_t n) {
    const kel::InflateFormat format = mode == 0   ? kel::InflateFormat::Deflate
                                      : mode == 1 ? kel::InflateFormat::Zlib
                                                  : kel::InflateFormat::Gzip;
    const Outcome ours = kelDecode(format, src, n, kPieces[chunking & 15], kPieces[chunking >> 4]);
    if (mode == 2) return;  // member and trailing-data rules differ from zlib's single-member gzip reader
    Bytes theirs;
    const bool zlibEnd = zlibDecode(src, n, mode == 0 ? -15 : 15, theirs);
    const bool ourEnd = ours.result == kel::InflateResult::End;
    if (ours.out.size() > kOutCap || theirs.size() > kOutCap) return;
    if (zlibEnd != ourEnd) std::abort();
    if (ourEnd && ours.out != theirs) std::abort();
}

// A context from the input: either code lengths through the builder, or raw bytes for every field.
void fuzzDirect(const std::uint8_t* data, std::size_t n) {
    if (n < 8) return;
    static InflateContext ctx;
    std::memset(&ctx, 0, sizeof ctx);
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
        if (kelsInflateBuildHuffTable(lens, 286, 30, &ctx) != kelStatusOk) ctx.tableKind = 0;
        data += take;
        n -= take;
    } else {
        const std::size_t take = n < 600 ? n : 600;
        std::memcpy(reinterpret_cast<std::uint8_t*>(&ctx) + 12, data, take < 36 ? take : 36);
        for (std::size_t i = 36; i < take; ++i) ctx.tables[(i * 131) % sizeof ctx.tables] = data[i];
        ctx.tableKind %= 4;
        data += take;
        n -= take;
    }
    Bytes window(how & 2 ? 0 : 1u << (how >> 4 & 15));
    for (std::size_t i = 0; i < window.size(); ++i) window[i] = std::uint8_t(i * 13);
    ctx.window = window.empty() ? nullptr : window.data();
    ctx.windowSize = Kel32u(window.size());
    if (winPos > ctx.windowSize) winPos %= ctx.windowSize + 1;

    auto* src = new std::uint8_t[n ? n : 1];
    std::memcpy(src, data, n);
    auto* buf = new std::uint8_t[dstPos + room];
    std::memset(buf, 0x5A, dstPos + room);
    Kel8u* s = src;
    int srcLen = int(n);
    Kel8u* d = buf + dstPos;
    int dstLen = int(room);
    Kel32u bitBuf = 0, bitCount = 0;
    for (int call = 0; call < 4; ++call) {
        const int before = srcLen;
        const KelStatus st =
            kelsInflate_8u(&s, &srcLen, &bitBuf, &bitCount, winPos, &d, &dstLen, Kel32u(d - buf), &mode, &ctx);
        if (st != kelStatusOk && st != kelStatusBadStream) std::abort();
        if (bitCount > 32 || srcLen < 0 || srcLen > before || dstLen < 0) std::abort();
        if (s - src + srcLen != std::ptrdiff_t(n) || d - buf + dstLen != std::ptrdiff_t(dstPos + room)) std::abort();
        if (st != kelStatusOk || mode == InflateModeEndOfBlock) break;
        if (dstLen == 0) break;
    }
    delete[] buf;
    delete[] src;
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

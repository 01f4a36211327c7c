// fuzz/kelz_inflate_fuzz.cpp - libkelz's inflate, inflateBack and inflateSync on arbitrary input.
//
// Byte 0 picks the window bits (and so the wrapper), byte 1 the input and output piece sizes, byte 2 the flush
// mode; the rest is the stream. It is decoded twice: whole, into one output buffer, and in pieces, every input
// piece and every output room its own exact-size heap block, so that AddressSanitizer reports any byte touched
// past them. Where the outcome cannot depend on the pieces (a 32 KiB window), both runs must agree on the return
// code, the message and the output. Raw streams also go through inflateBack, which must produce the same
// output; a damaged stream is handed to inflateSync, and a copy of the stream state made half-way must finish
// like the original.
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kMaxOutput = std::size_t(1) << 20;
constexpr int kWindowBits[8] = {15, -15, 31, 47, 0, 9, -9, -8};

struct Result {
    int ret = Z_OK;
    std::string msg;
    Bytes out;
};

void check(bool ok) {
    if (!ok) std::abort();
}

// Decodes `in` in pieces of inPiece bytes into rooms of outPiece bytes, each piece in its own heap block.
Result decodePieces(const Bytes& in, int windowBits, std::size_t inPiece, std::size_t outPiece, int flush,
                    bool copyHalfWay) {
    Result r;
    z_stream streams[2] = {};  // the original and its copy: a state belongs to the z_stream it was made for
    z_stream* zp = &streams[0];
    check(inflateInit2(zp, windowBits) == Z_OK);
    std::size_t pos = 0;
    int stalls = 0;
    while (r.out.size() < kMaxOutput && stalls < 3) {
        const std::size_t n = std::min(inPiece, in.size() - pos);
        auto* piece = static_cast<std::uint8_t*>(std::malloc(n ? n : 1));
        auto* room = static_cast<std::uint8_t*>(std::malloc(outPiece));
        if (n) std::memcpy(piece, in.data() + pos, n);
        zp->next_in = piece;
        zp->avail_in = unsigned(n);
        zp->next_out = room;
        zp->avail_out = unsigned(outPiece);
        r.ret = inflate(zp, flush);
        check(zp->avail_in <= n && zp->avail_out <= outPiece);
        pos += n - zp->avail_in;
        r.out.insert(r.out.end(), room, room + (outPiece - zp->avail_out));
        std::free(piece);
        std::free(room);
        if (r.ret == Z_NEED_DICT) {
            static const std::uint8_t dict[] = "a dictionary that will not match";
            r.ret = inflateSetDictionary(zp, dict, sizeof dict);
            check(r.ret == Z_DATA_ERROR);
            break;
        }
        if (r.ret != Z_OK && r.ret != Z_BUF_ERROR) break;
        stalls = zp->avail_in == n && zp->avail_out == outPiece ? stalls + 1 : 0;
        if (copyHalfWay && pos * 2 >= in.size()) {
            // The copy takes over; the original ends at once and must free everything it owns.
            check(inflateCopy(&streams[1], zp) == Z_OK);
            check(inflateEnd(zp) == Z_OK);
            zp = &streams[1];
            copyHalfWay = false;
        }
    }
    r.msg = zp->msg ? zp->msg : "";
    check(zp->total_out == r.out.size() || r.out.size() >= kMaxOutput);
    if (r.ret == Z_DATA_ERROR && pos < in.size()) {
        zp->next_in = const_cast<std::uint8_t*>(in.data() + pos);
        zp->avail_in = unsigned(in.size() - pos);
        const int s = inflateSync(zp);
        check(s == Z_OK || s == Z_DATA_ERROR || s == Z_BUF_ERROR);
    }
    check(inflateEnd(zp) == Z_OK);
    return r;
}

struct BackSource {
    const Bytes* in;
    std::size_t pos, piece;
    std::uint8_t* block;
};

unsigned backIn(void* desc, unsigned char** buf) {
    auto* s = static_cast<BackSource*>(desc);
    std::free(s->block);
    const std::size_t n = std::min(s->piece, s->in->size() - s->pos);
    s->block = static_cast<std::uint8_t*>(std::malloc(n ? n : 1));
    if (n) std::memcpy(s->block, s->in->data() + s->pos, n);
    s->pos += n;
    *buf = s->block;
    return unsigned(n);
}

int backOut(void* desc, unsigned char* buf, unsigned len) {
    auto* out = static_cast<Bytes*>(desc);
    if (out->size() >= kMaxOutput) return 1;
    out->insert(out->end(), buf, buf + len);
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const int windowBits = kWindowBits[data[0] & 7];
    const std::size_t inPiece = 1 + (data[1] & 15) * (data[1] & 16 ? 97 : 1);
    const std::size_t outPiece = 1 + (data[1] >> 5) * 4099;
    static const int kFlushes[4] = {Z_NO_FLUSH, Z_BLOCK, Z_TREES, Z_FINISH};
    const int flush = kFlushes[data[2] & 3];
    const Bytes in(data + 3, data + size);

    const Result whole = decodePieces(in, windowBits, in.size() + 1, kMaxOutput + 1, Z_NO_FLUSH, false);
    const Result pieces = decodePieces(in, windowBits, inPiece, outPiece, flush, (data[2] & 4) != 0);

    // With a 32 KiB window a distance is valid or not whatever the pieces; smaller windows keep less history
    // between calls (as zlib's do), so there the pieces may decide.
    const bool fullWindow =
        windowBits == -15 || windowBits == 31 ||
        ((windowBits == 15 || windowBits == 47 || windowBits == 0) && !in.empty() && (in[0] >> 4) == 7);
    const bool bothDone = whole.out.size() < kMaxOutput && pieces.out.size() < kMaxOutput;
    if (fullWindow && bothDone && (whole.ret == Z_STREAM_END || whole.ret == Z_DATA_ERROR)) {
        check(pieces.ret == whole.ret);
        check(pieces.msg == whole.msg);
        if (whole.ret == Z_STREAM_END) check(pieces.out == whole.out);
    }

    if (windowBits < 0) {
        std::vector<unsigned char> window(std::size_t(1) << -windowBits);
        z_stream z{};
        check(inflateBackInit(&z, -windowBits, window.data()) == Z_OK);
        BackSource src{&in, 0, inPiece, nullptr};
        Bytes out;
        z.next_in = nullptr;
        const int ret = inflateBack(&z, backIn, &src, backOut, &out);
        check(ret == Z_STREAM_END || ret == Z_DATA_ERROR || ret == Z_BUF_ERROR);
        if (windowBits == -15 && ret == Z_STREAM_END && whole.ret == Z_STREAM_END) check(out == whole.out);
        std::free(src.block);
        check(inflateBackEnd(&z) == Z_OK);
    }
    return 0;
}

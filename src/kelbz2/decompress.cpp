// src/kelbz2/decompress.cpp - BZ2_bzDecompressInit, BZ2_bzDecompress and BZ2_bzDecompressEnd over the stream
// engine's bzip2 decoder.
//
// The decoder runs in its single-stream mode: it stops at the end of the first stream with next_in just past the
// stream's last byte, as libbz2 does (callers such as Python's bz2 module start a new decompressor for each
// following stream). Two things are added here. The four header bytes are checked one at a time as they arrive,
// so that input that is not bzip2 gives BZ_DATA_ERROR_MAGIC at its first wrong byte, as libbz2 reports it, and
// only there: every later fault is BZ_DATA_ERROR. And the end of a stream is final: later calls get
// BZ_SEQUENCE_ERROR, as they do after a stream CRC that does not match; other errors repeat on later calls.
#include <cstring>

#include "kelbz2/kelbz2_internal.h"

namespace kel::bz2 {

namespace {

struct DecompressState : KelBz2StateHead {
    stream::Engine* engine;
    std::uint64_t consumed;  // input bytes taken from this stream so far
    int error;               // BZ_OK, the error to repeat, or BZ_SEQUENCE_ERROR once the stream is over
};

// Byte i (0-3) of a stream's header: "BZh" and a block-size digit from 1 to 9.
bool validHeaderByte(std::uint64_t i, unsigned char c) {
    if (i < 3) return c == static_cast<unsigned char>("BZh"[i]);
    return c >= '1' && c <= '9';
}

}  // namespace

}  // namespace kel::bz2

using kel::bz2::DecompressState;

extern "C" {

int BZ2_bzDecompressInit(bz_stream* strm, int verbosity, int small) {
    // small asks libbz2 for a slower decoder in less memory; this library has one decoder and accepts both.
    if (!strm || (small != 0 && small != 1) || verbosity < 0 || verbosity > 4) return BZ_PARAM_ERROR;
    kel::bz2::installDefaultAllocator(strm);
    auto* s = static_cast<DecompressState*>(kel::bz2::allocate(strm, sizeof(DecompressState)));
    if (!s) return BZ_MEM_ERROR;
    kel::stream::Setup setup{};
    setup.format = kelFormatBzip2;
    setup.direction = kelDecompress;
    setup.alloc = kel::bz2::allocatorOf(strm);
    setup.singleMember = true;
    kel::stream::CreateError e;
    s->engine = kel::stream::newBzip2Decoder(setup, &e);
    if (!s->engine) {
        kel::bz2::release(strm, s);
        return BZ_MEM_ERROR;
    }
    s->strm = strm;
    s->kind = kel::bz2::kDecompressState;
    s->consumed = 0;
    s->error = BZ_OK;
    strm->state = s;
    strm->total_in_lo32 = strm->total_in_hi32 = 0;
    strm->total_out_lo32 = strm->total_out_hi32 = 0;
    return BZ_OK;
}

int BZ2_bzDecompress(bz_stream* strm) {
    DecompressState* s = kel::bz2::stateOf<DecompressState>(strm, kel::bz2::kDecompressState);
    if (!s) return BZ_PARAM_ERROR;
    if (s->error != BZ_OK) return s->error;

    const auto* in = reinterpret_cast<const std::uint8_t*>(strm->next_in);
    for (std::uint64_t i = s->consumed; i < 4 && i - s->consumed < strm->avail_in; ++i) {
        if (!kel::bz2::validHeaderByte(i, in[i - s->consumed])) {
            // The wrong byte is taken, as libbz2 takes it.
            const unsigned int n = static_cast<unsigned int>(i - s->consumed + 1);
            strm->next_in += n;
            strm->avail_in -= n;
            kel::bz2::addToCount(&strm->total_in_lo32, &strm->total_in_hi32, n);
            s->error = BZ_DATA_ERROR_MAGIC;
            return s->error;
        }
    }

    std::size_t consumed = 0, produced = 0;
    const KelStreamResult r =
        s->engine->process(in, strm->avail_in, &consumed, reinterpret_cast<std::uint8_t*>(strm->next_out),
                           strm->avail_out, &produced, kelFlushNone);
    s->consumed += consumed;
    strm->next_in += consumed;
    strm->avail_in -= static_cast<unsigned int>(consumed);
    kel::bz2::addToCount(&strm->total_in_lo32, &strm->total_in_hi32, consumed);
    strm->next_out += produced;
    strm->avail_out -= static_cast<unsigned int>(produced);
    kel::bz2::addToCount(&strm->total_out_lo32, &strm->total_out_hi32, produced);

    switch (r) {
        case kelStreamOk:
            return BZ_OK;
        case kelStreamEnd:
            s->error = BZ_SEQUENCE_ERROR;
            return BZ_STREAM_END;
        case kelStreamErrMemory:
            s->error = BZ_MEM_ERROR;
            return s->error;
        case kelStreamErrChecksum:
            // A wrong stream CRC is the last thing a stream can get wrong: the stream is over either way.
            s->error = std::strcmp(s->engine->message, "stream CRC mismatch") == 0 ? BZ_SEQUENCE_ERROR : BZ_DATA_ERROR;
            return BZ_DATA_ERROR;
        default:
            // Corrupt data, a CRC mismatch and the randomised blocks of bzip2 before 0.9.5, which the decoder
            // does not support.
            s->error = BZ_DATA_ERROR;
            return s->error;
    }
}

int BZ2_bzDecompressEnd(bz_stream* strm) {
    DecompressState* s = kel::bz2::stateOf<DecompressState>(strm, kel::bz2::kDecompressState);
    if (!s) return BZ_PARAM_ERROR;
    s->engine->destroy();
    s->kind = 0;
    kel::bz2::release(strm, s);
    strm->state = nullptr;
    return BZ_OK;
}

}  // extern "C"

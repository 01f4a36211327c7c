// src/kelbz2/compress.cpp - BZ2_bzCompressInit, BZ2_bzCompress and BZ2_bzCompressEnd over the stream engine's
// bzip2 encoder.
//
// The encoder already takes input into its blocks whatever the room, ends a block on a sync flush and writes the
// stream's end on finish, so this file adds libbz2's protocol around it: the mode a stream is in (running,
// flushing, finishing, done), which actions each mode accepts, the rule that a flush or finish keeps the input
// length it started with (only the compressor may shorten it), and the return codes, including the ones libbz2
// gives for calls that make no progress (BZ_RUN: BZ_PARAM_ERROR; BZ_FINISH: BZ_SEQUENCE_ERROR).
#include "kelbz2/kelbz2_internal.h"

namespace kel::bz2 {

namespace {

enum class Mode { Running, Flushing, Finishing, Done };

struct CompressState : KelBz2StateHead {
    stream::Engine* engine;
    Mode mode;
    unsigned int availInExpected;  // during a flush or finish: what avail_in must still be
    int error;                     // a failure of the engine (out of memory) repeats on every later call
};

struct Step {
    KelStreamResult result;
    bool progress;
};

Step runEngine(bz_stream* strm, CompressState* s, KelStreamFlush flush) {
    std::size_t consumed = 0, produced = 0;
    const KelStreamResult r =
        s->engine->process(reinterpret_cast<const std::uint8_t*>(strm->next_in), strm->avail_in, &consumed,
                           reinterpret_cast<std::uint8_t*>(strm->next_out), strm->avail_out, &produced, flush);
    strm->next_in += consumed;
    strm->avail_in -= static_cast<unsigned int>(consumed);
    addToCount(&strm->total_in_lo32, &strm->total_in_hi32, consumed);
    strm->next_out += produced;
    strm->avail_out -= static_cast<unsigned int>(produced);
    addToCount(&strm->total_out_lo32, &strm->total_out_hi32, produced);
    if (s->mode != Mode::Running) s->availInExpected = strm->avail_in;
    return {r, consumed > 0 || produced > 0};
}

// The encoder fails only when memory runs out (its output buffer grows with the first block) or when a stage of
// libkeldcn8 rejects a call it should not; libbz2 has no code for the latter and BZ_CONFIG_ERROR, "the library
// was built wrong", is the closest.
int engineError(CompressState* s, KelStreamResult r) {
    s->error = r == kelStreamErrMemory ? BZ_MEM_ERROR : BZ_CONFIG_ERROR;
    return s->error;
}

}  // namespace

}  // namespace kel::bz2

using kel::bz2::CompressState;
using kel::bz2::Mode;

extern "C" {

int BZ2_bzCompressInit(bz_stream* strm, int blockSize100k, int verbosity, int workFactor) {
    (void)verbosity;  // libbz2 prints progress to stderr at levels above 0; this library has nothing to report
    if (!strm || blockSize100k < 1 || blockSize100k > 9 || workFactor < 0 || workFactor > 250) return BZ_PARAM_ERROR;
    kel::bz2::installDefaultAllocator(strm);
    auto* s = static_cast<CompressState*>(kel::bz2::allocate(strm, sizeof(CompressState)));
    if (!s) return BZ_MEM_ERROR;
    kel::stream::Setup setup{};
    setup.format = kelFormatBzip2;
    setup.direction = kelCompress;
    setup.options.level = blockSize100k;
    setup.alloc = kel::bz2::allocatorOf(strm);
    kel::stream::CreateError e;
    s->engine = kel::stream::newBzip2Encoder(setup, &e);
    if (!s->engine) {
        kel::bz2::release(strm, s);
        return e.result == kelStreamErrMemory ? BZ_MEM_ERROR : BZ_PARAM_ERROR;
    }
    s->strm = strm;
    s->kind = kel::bz2::kCompressState;
    s->mode = Mode::Running;
    s->availInExpected = 0;
    s->error = BZ_OK;
    strm->state = s;
    strm->total_in_lo32 = strm->total_in_hi32 = 0;
    strm->total_out_lo32 = strm->total_out_hi32 = 0;
    return BZ_OK;
}

int BZ2_bzCompress(bz_stream* strm, int action) {
    CompressState* s = kel::bz2::stateOf<CompressState>(strm, kel::bz2::kCompressState);
    if (!s) return BZ_PARAM_ERROR;
    if (s->error != BZ_OK) return s->error;
    switch (s->mode) {
        case Mode::Running:
            if (action == BZ_RUN) {
                const kel::bz2::Step st = kel::bz2::runEngine(strm, s, kelFlushNone);
                if (st.result < 0) return kel::bz2::engineError(s, st.result);
                return st.progress ? BZ_RUN_OK : BZ_PARAM_ERROR;
            }
            if (action != BZ_FLUSH && action != BZ_FINISH) return BZ_PARAM_ERROR;
            s->mode = action == BZ_FLUSH ? Mode::Flushing : Mode::Finishing;
            s->availInExpected = strm->avail_in;
            return BZ2_bzCompress(strm, action);
        case Mode::Flushing: {
            if (action != BZ_FLUSH || strm->avail_in != s->availInExpected) return BZ_SEQUENCE_ERROR;
            const kel::bz2::Step st = kel::bz2::runEngine(strm, s, kelFlushSync);
            if (st.result < 0) return kel::bz2::engineError(s, st.result);
            if (st.result != kelStreamFlushed) return BZ_FLUSH_OK;
            s->mode = Mode::Running;
            return BZ_RUN_OK;
        }
        case Mode::Finishing: {
            if (action != BZ_FINISH || strm->avail_in != s->availInExpected) return BZ_SEQUENCE_ERROR;
            const kel::bz2::Step st = kel::bz2::runEngine(strm, s, kelFlushFinish);
            if (st.result < 0) return kel::bz2::engineError(s, st.result);
            if (!st.progress) return BZ_SEQUENCE_ERROR;
            if (st.result != kelStreamEnd) return BZ_FINISH_OK;
            s->mode = Mode::Done;
            return BZ_STREAM_END;
        }
        case Mode::Done:
            break;
    }
    return BZ_SEQUENCE_ERROR;
}

int BZ2_bzCompressEnd(bz_stream* strm) {
    CompressState* s = kel::bz2::stateOf<CompressState>(strm, kel::bz2::kCompressState);
    if (!s) return BZ_PARAM_ERROR;
    s->engine->destroy();
    s->kind = 0;
    kel::bz2::release(strm, s);
    strm->state = nullptr;
    return BZ_OK;
}

}  // extern "C"

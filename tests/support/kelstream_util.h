// tests/support/kelstream_util.h - drives libkelstream's streaming calls the way careful callers do: input and
// output in pieces of random sizes (down to one byte), every result checked.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "kelstream.h"

namespace kel::test {

struct StreamRun {
    KelStreamResult result = kelStreamOk;     // the last result (kelStreamEnd on a clean finish)
    std::vector<std::uint8_t> out;            // everything produced
    std::size_t consumed = 0;                 // input bytes consumed
    std::string message;                      // kelStreamMessage() after an error
};

// Runs a whole input through a new stream. maxPiece bounds the random input and output piece sizes (0: the whole
// input and ample room in one call). Compression finishes with kelFlushFinish after the last piece; decompression
// passes kelFlushFinish with the last piece. Stops at kelStreamEnd, kelStreamTrailingData or an error.
inline StreamRun runStream(KelStreamFormat format, KelStreamDirection dir, const std::vector<std::uint8_t>& in,
                           const KelStreamOptions* options = nullptr, std::size_t maxPiece = 0,
                           std::uint32_t seed = 1) {
    StreamRun run;
    KelStream* s = nullptr;
    run.result = kelStreamCreate(&s, format, dir, options);
    if (run.result < 0) return run;
    std::mt19937 rng(seed);
    auto piece = [&](std::size_t left) -> std::size_t {
        if (maxPiece == 0) return left;
        std::size_t n = std::uniform_int_distribution<std::size_t>(1, maxPiece)(rng);
        return n < left ? n : left;
    };
    std::vector<std::uint8_t> buf(maxPiece ? maxPiece : (1u << 20));
    std::size_t pos = 0;
    int idle = 0;
    for (;;) {
        std::size_t give = piece(in.size() - pos);
        bool last = pos + give == in.size();
        std::size_t srcLen = give, dstLen = maxPiece ? piece(buf.size()) : buf.size();
        if (dstLen == 0) dstLen = 1;
        KelStreamFlush flush = last ? kelFlushFinish : kelFlushNone;
        KelStreamResult r = kelStreamProcess(s, in.data() + pos, &srcLen, buf.data(), &dstLen, flush);
        pos += srcLen;
        run.out.insert(run.out.end(), buf.begin(), buf.begin() + dstLen);
        run.result = r;
        if (r < 0) {
            run.message = kelStreamMessage(s);
            break;
        }
        if (r == kelStreamEnd || r == kelStreamTrailingData) break;
        if (r == kelStreamNeedDictionary && options && options->dictionary) {
            run.result = kelStreamSetDictionary(s, options->dictionary, options->dictionaryLen);
            if (run.result < 0) break;
            continue;
        }
        if (r == kelStreamNeedDictionary) break;
        idle = (srcLen == 0 && dstLen == 0) ? idle + 1 : 0;
        if (idle > 1000) break;  // no progress: report the Ok that came back
    }
    run.consumed = pos;
    kelStreamFree(s);
    return run;
}

inline KelStreamOptions defaultStreamOptions() {
    KelStreamOptions o;
    kelStreamDefaultOptions(&o);
    return o;
}

}  // namespace kel::test

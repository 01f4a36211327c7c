// fuzz/kelstream_bzip2_fuzz.cpp - libkelstream's .bz2 reader on arbitrary input fed in arbitrary pieces, the
// parallel reader against it, and a round trip of the same bytes through the writer.
//
// Every input piece and output room is an exact-size heap block, so a sanitizer build flags any access past one.
// The readers must only ever consume what they are given, write what fits and end in a result; the parallel one
// must produce the same bytes and the same result as the sequential one; the writer's output must read back to
// exactly what went in.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kelstream.h"

namespace {

struct Outcome {
    KelStreamResult result = kelStreamOk;
    std::vector<std::uint8_t> out;
    std::size_t consumed = 0;
};

// Decodes data in pieces of 1 to piece bytes into rooms of 1 to room bytes.
Outcome decodeInPieces(const std::uint8_t* data, std::size_t size, std::size_t piece, std::size_t room, int threads) {
    KelStreamOptions o;
    kelStreamDefaultOptions(&o);
    o.threads = threads;
    KelStream* s = nullptr;
    if (kelStreamCreate(&s, kelFormatBzip2, kelDecompress, &o) != kelStreamOk) std::abort();
    Outcome run;
    std::size_t pos = 0, idle = 0, budget = std::size_t(64) << 20;  // garbage can expand: stop early
    while (run.out.size() < budget) {
        const std::size_t give = size - pos < piece ? size - pos : piece;
        std::uint8_t* in = new std::uint8_t[give ? give : 1];
        if (give) std::memcpy(in, data + pos, give);
        std::uint8_t* dst = new std::uint8_t[room];
        std::size_t srcLen = give, dstLen = room;
        run.result = kelStreamProcess(s, in, &srcLen, dst, &dstLen, pos + give == size ? kelFlushFinish : kelFlushNone);
        if (srcLen > give || dstLen > room) std::abort();
        run.out.insert(run.out.end(), dst, dst + dstLen);
        delete[] in;
        delete[] dst;
        pos += srcLen;
        if (run.result != kelStreamOk) break;
        idle = srcLen == 0 && dstLen == 0 ? idle + 1 : 0;
        if (idle > 2) std::abort();  // no progress with input and room: the contract says this cannot happen
    }
    run.consumed = pos;
    kelStreamFree(s);
    return run;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t piece = 1 + (data[0] & 0x0F) * 97, room = 1 + (data[0] >> 4) * 301;
    const Outcome seq = decodeInPieces(data + 1, size - 1, piece, room, 0);
    if (seq.result == kelStreamErrLibrary || seq.result == kelStreamErrArgument) std::abort();
    if (seq.out.size() < (std::size_t(64) << 20)) {
        const Outcome par = decodeInPieces(data + 1, size - 1, room, piece, 2 + data[0] % 3);
        if (par.result != seq.result || par.out != seq.out) std::abort();
        if (seq.result >= 0 && par.consumed != seq.consumed) std::abort();
    }

    // The same bytes as data: written with a sync flush in the middle, then read back.
    KelStreamOptions o;
    kelStreamDefaultOptions(&o);
    o.level = data[0] % 10;
    KelStream* s = nullptr;
    if (kelStreamCreate(&s, kelFormatBzip2, kelCompress, &o) != kelStreamOk) std::abort();
    std::vector<std::uint8_t> coded;
    std::uint8_t buf[4096];
    std::size_t pos = 0;
    const std::size_t half = size / 2;
    for (KelStreamFlush flush : {kelFlushSync, kelFlushFinish}) {
        const std::size_t end = flush == kelFlushSync ? half : size;
        for (int guard = 0;; ++guard) {
            if (guard > 1000000) std::abort();
            std::size_t srcLen = end - pos, dstLen = sizeof buf;
            const KelStreamResult r = kelStreamProcess(s, data + pos, &srcLen, buf, &dstLen, flush);
            coded.insert(coded.end(), buf, buf + dstLen);
            pos += srcLen;
            if (r == (flush == kelFlushSync ? kelStreamFlushed : kelStreamEnd)) break;
            if (r != kelStreamOk) std::abort();
        }
    }
    kelStreamFree(s);
    std::vector<std::uint8_t> back(size + 1);
    std::size_t len = back.size();
    if (kelStreamDecompress(kelFormatBzip2, coded.data(), coded.size(), back.data(), &len, nullptr) != kelStreamEnd ||
        len != size || std::memcmp(back.data(), data, size) != 0) {
        std::abort();
    }
    return 0;
}

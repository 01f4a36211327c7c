// bench/dc/inflate/inflate_bench.cpp - Inflate throughput (bytes of output per second) of kel, zlib and
// libdeflate over the corpus compressed by zlib at level 6.
//
// BM_Inflate decodes zlib streams (checksum included), through libkelstream, zlib's inflate and
// libdeflate_zlib_decompress. BM_InflateRaw decodes the same data as raw Deflate with no checksum: libkelstream's
// reader in raw mode (one call over the whole buffer, so the library's block loop is what is timed), inflate
// with negative window bits and libdeflate_deflate_decompress. Every implementation decodes the same bytes into
// a buffer of exactly the output size; one verified decode per input runs before timing.
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_util.h"
#include "kelstream.h"

namespace {

struct Input {
    std::string name;
    std::vector<std::uint8_t> plain;
    std::vector<std::uint8_t> zlib;  // level 6, default strategy
    std::vector<std::uint8_t> raw;   // the same settings, no wrapper
};

std::vector<std::uint8_t> zlibCompress(const std::vector<std::uint8_t>& src, int windowBits) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    std::vector<std::uint8_t> out(deflateBound(&z, src.size()));
    z.next_in = const_cast<Bytef*>(src.data());
    z.avail_in = uInt(src.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

const std::vector<Input>& inputs() {
    static const std::vector<Input> all = [] {
        std::vector<Input> v;
        for (const auto& n : kel::bench::corpusFileNames()) v.push_back({n, kel::bench::readCorpusFile(n), {}, {}});
        v.push_back({"all", kel::bench::corpusAll(), {}, {}});
        for (auto& in : v) {
            in.zlib = zlibCompress(in.plain, 15);
            in.raw = zlibCompress(in.plain, -15);
        }
        return v;
    }();
    return all;
}

using Decoder = bool (*)(const std::vector<std::uint8_t>& src, std::vector<std::uint8_t>& dst);

// One stream per format, reset before each decode (as libdeflate's decompressor below is shared): the whole
// input and the whole output room in one call.
bool kelDecode(KelStreamFormat format, const std::vector<std::uint8_t>& src, std::vector<std::uint8_t>& dst) {
    static KelStream* streams[4] = {};
    KelStream*& s = streams[format];
    if (!s && kelStreamCreate(&s, format, kelDecompress, nullptr) != kelStreamOk) return false;
    kelStreamReset(s);
    std::size_t inLen = src.size(), outLen = dst.size();
    return kelStreamProcess(s, src.data(), &inLen, dst.data(), &outLen, kelFlushFinish) == kelStreamEnd &&
           outLen == dst.size();
}

bool kelZlib(const std::vector<std::uint8_t>& src, std::vector<std::uint8_t>& dst) {
    return kelDecode(kelFormatZlib, src, dst);
}
bool kelRaw(const std::vector<std::uint8_t>& src, std::vector<std::uint8_t>& dst) {
    return kelDecode(kelFormatDeflate, src, dst);
}

bool zlibDecode(int windowBits, const std::vector<std::uint8_t>& src, std::vector<std::uint8_t>& dst) {
    z_stream z{};
    inflateInit2(&z, windowBits);
    z.next_in = const_cast<Bytef*>(src.data());
    z.avail_in = uInt(src.size());
    z.next_out = dst.data();
    z.avail_out = uInt(dst.size());
    const int r = inflate(&z, Z_FINISH);
    inflateEnd(&z);
    return r == Z_STREAM_END && z.total_out == dst.size();
}
bool zlibZlib(const std::vector<std::uint8_t>& src, std::vector<std::uint8_t>& dst) {
    return zlibDecode(15, src, dst);
}
bool zlibRaw(const std::vector<std::uint8_t>& src, std::vector<std::uint8_t>& dst) {
    return zlibDecode(-15, src, dst);
}

libdeflate_decompressor* sharedDecompressor() {
    static libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    return d;
}
bool ldZlib(const std::vector<std::uint8_t>& src, std::vector<std::uint8_t>& dst) {
    return libdeflate_zlib_decompress(sharedDecompressor(), src.data(), src.size(), dst.data(), dst.size(), nullptr) ==
           LIBDEFLATE_SUCCESS;
}
bool ldRaw(const std::vector<std::uint8_t>& src, std::vector<std::uint8_t>& dst) {
    return libdeflate_deflate_decompress(sharedDecompressor(), src.data(), src.size(), dst.data(), dst.size(),
                                         nullptr) == LIBDEFLATE_SUCCESS;
}

void runDecode(benchmark::State& state, const Input& in, bool raw, Decoder decode) {
    const std::vector<std::uint8_t>& src = raw ? in.raw : in.zlib;
    std::vector<std::uint8_t> dst(in.plain.size());
    if (!decode(src, dst) || dst != in.plain) {
        state.SkipWithError("decode mismatch");
        return;
    }
    for (auto _ : state) {
        decode(src, dst);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(in.plain.size()));
    state.counters["ratio"] = double(in.plain.size()) / double(src.size());
}

const int kRegistered = [] {
    struct Impl {
        const char* name;
        Decoder zlibForm;
        Decoder rawForm;
    };
    static const Impl impls[] = {{"kel", kelZlib, kelRaw}, {"zlib", zlibZlib, zlibRaw}, {"libdeflate", ldZlib, ldRaw}};
    for (std::size_t i = 0; i < inputs().size(); ++i) {
        for (const Impl& impl : impls) {
            for (const bool raw : {false, true}) {
                const std::string name =
                    std::string(raw ? "BM_InflateRaw/" : "BM_Inflate/") + impl.name + "/" + inputs()[i].name;
                const Decoder d = raw ? impl.rawForm : impl.zlibForm;
                benchmark::RegisterBenchmark(name.c_str(),
                                             [i, raw, d](benchmark::State& st) { runDecode(st, inputs()[i], raw, d); });
            }
        }
    }
    return 0;
}();

}  // namespace

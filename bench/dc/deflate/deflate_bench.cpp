// bench/dc/deflate/deflate_bench.cpp - Deflate compression of the whole corpus at levels 1, 6 and 9: libkelstream's
// one-shot call against zlib and libdeflate, all producing raw Deflate (no wrapper, so no checksum is timed).
//
// Each run reports throughput over the input and the compressed size (counter "bytes_out", plus "ratio",
// input/output). kel's runs also carry "size_vs_zlib" and "size_vs_libdeflate": kel's compressed size divided by
// the peer's at the same level (below 1.0: kel is smaller). The closing table gives the speed ratios.
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cstdio>
#include <vector>

#include "bench_util.h"
#include "kelstream.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::size_t kelCompress(const Bytes& in, int level, Bytes& out) {
    KelStreamOptions o;
    kelStreamDefaultOptions(&o);
    o.level = level;
    out.resize(kelStreamCompressBound(kelFormatDeflate, in.size(), &o));
    std::size_t n = out.size();
    if (kelStreamCompress(kelFormatDeflate, in.data(), in.size(), out.data(), &n, &o) != kelStreamEnd) return 0;
    return n;
}

std::size_t zlibCompress(const Bytes& in, int level, Bytes& out) {
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return 0;
    out.resize(deflateBound(&z, uLong(in.size())));
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = uInt(in.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    const int rc = deflate(&z, Z_FINISH);
    const std::size_t n = z.total_out;
    deflateEnd(&z);
    return rc == Z_STREAM_END ? n : 0;
}

std::size_t libdeflateCompress(const Bytes& in, int level, Bytes& out) {
    libdeflate_compressor* c = libdeflate_alloc_compressor(level);
    out.resize(libdeflate_deflate_compress_bound(c, in.size()));
    const std::size_t n = libdeflate_deflate_compress(c, in.data(), in.size(), out.data(), out.size());
    libdeflate_free_compressor(c);
    return n;
}

using CompressFn = std::size_t (*)(const Bytes&, int, Bytes&);

void runCompress(benchmark::State& state, CompressFn fn, int level, bool isKel) {
    const Bytes& in = kel::bench::corpusAll();
    Bytes out;
    std::size_t n = 0;
    for (auto _ : state) {
        n = fn(in, level, out);
        benchmark::DoNotOptimize(out.data());
    }
    if (n == 0) {
        state.SkipWithError("compression failed");
        return;
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(in.size()));
    state.counters["bytes_out"] = double(n);
    state.counters["ratio"] = double(in.size()) / double(n);
    if (isKel) {
        Bytes peer;
        state.counters["size_vs_zlib"] = double(n) / double(zlibCompress(in, level, peer));
        state.counters["size_vs_libdeflate"] = double(n) / double(libdeflateCompress(in, level, peer));
    }
}

#define KEL_DEFLATE_BENCH(L)                                                                           \
    void BM_Deflate_L##L##_kel(benchmark::State& s) {                                                  \
        runCompress(s, kelCompress, L, true);                                                          \
    }                                                                                                  \
    void BM_Deflate_L##L##_zlib(benchmark::State& s) {                                                 \
        runCompress(s, zlibCompress, L, false);                                                        \
    }                                                                                                  \
    void BM_Deflate_L##L##_libdeflate(benchmark::State& s) {                                           \
        runCompress(s, libdeflateCompress, L, false);                                                  \
    }                                                                                                  \
    BENCHMARK(BM_Deflate_L##L##_kel)->Name("BM_Deflate_L" #L "/kel")->Unit(benchmark::kMillisecond);   \
    BENCHMARK(BM_Deflate_L##L##_zlib)->Name("BM_Deflate_L" #L "/zlib")->Unit(benchmark::kMillisecond); \
    BENCHMARK(BM_Deflate_L##L##_libdeflate)->Name("BM_Deflate_L" #L "/libdeflate")->Unit(benchmark::kMillisecond);

KEL_DEFLATE_BENCH(1)
KEL_DEFLATE_BENCH(6)
KEL_DEFLATE_BENCH(9)

}  // namespace

// bench/stream/parallel_bench.cpp - libkelstream's parallel compression and member decompression against the same
// calls on one thread, for gzip and LZ4, on a 16 MiB input made of the corpus. The closing table's speedup column
// is then the gain from threads on this machine (impl "kel" runs 2 threads, "kel_1thread" one).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bench_util.h"
#include "kelstream.h"

namespace {

const std::vector<std::uint8_t>& input() {
    static const std::vector<std::uint8_t> data = [] {
        const auto& c = kel::bench::corpusAll();
        std::vector<std::uint8_t> v;
        while (v.size() < (std::size_t(16) << 20)) v.insert(v.end(), c.begin(), c.end());
        v.resize(std::size_t(16) << 20);
        return v;
    }();
    return data;
}

KelStreamOptions withThreads(int threads) {
    KelStreamOptions o;
    kelStreamDefaultOptions(&o);
    o.threads = threads;
    return o;
}

void compressBench(benchmark::State& state, KelStreamFormat f, int threads) {
    const auto& in = input();
    KelStreamOptions o = withThreads(threads);
    std::vector<std::uint8_t> out(kelStreamCompressBound(f, in.size(), &o));
    std::size_t len = 0;
    for (auto _ : state) {
        len = out.size();
        if (kelStreamCompress(f, in.data(), in.size(), out.data(), &len, &o) != kelStreamEnd) {
            state.SkipWithError("compression failed");
            return;
        }
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(in.size()));
    state.counters["ratio"] = double(in.size()) / double(len);
}

// Decompresses what the 2-thread compressor writes (one member or frame per piece), so both sides decode the same
// multi-member input.
void decompressBench(benchmark::State& state, KelStreamFormat f, int threads) {
    const auto& in = input();
    KelStreamOptions c = withThreads(2);
    std::vector<std::uint8_t> packed(kelStreamCompressBound(f, in.size(), &c));
    std::size_t packedLen = packed.size();
    if (kelStreamCompress(f, in.data(), in.size(), packed.data(), &packedLen, &c) != kelStreamEnd) {
        state.SkipWithError("compression failed");
        return;
    }
    KelStreamOptions o = withThreads(threads);
    std::vector<std::uint8_t> out(in.size());
    for (auto _ : state) {
        std::size_t len = out.size();
        if (kelStreamDecompress(f, packed.data(), packedLen, out.data(), &len, &o) != kelStreamEnd) {
            state.SkipWithError("decompression failed");
            return;
        }
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(in.size()));
}

BENCHMARK_CAPTURE(compressBench, gzip, kelFormatGzip, 2)->Name("BM_ParallelGzipCompress/kel/16MiB")->UseRealTime();
BENCHMARK_CAPTURE(compressBench, gzip1, kelFormatGzip, 1)
    ->Name("BM_ParallelGzipCompress/kel_1thread/16MiB")
    ->UseRealTime();
BENCHMARK_CAPTURE(compressBench, lz4, kelFormatLz4, 2)->Name("BM_ParallelLz4Compress/kel/16MiB")->UseRealTime();
BENCHMARK_CAPTURE(compressBench, lz41, kelFormatLz4, 1)
    ->Name("BM_ParallelLz4Compress/kel_1thread/16MiB")
    ->UseRealTime();
BENCHMARK_CAPTURE(decompressBench, gzip, kelFormatGzip, 2)->Name("BM_ParallelGzipDecompress/kel/16MiB")->UseRealTime();
BENCHMARK_CAPTURE(decompressBench, gzip1, kelFormatGzip, 1)
    ->Name("BM_ParallelGzipDecompress/kel_1thread/16MiB")
    ->UseRealTime();
BENCHMARK_CAPTURE(decompressBench, lz4, kelFormatLz4, 2)->Name("BM_ParallelLz4Decompress/kel/16MiB")->UseRealTime();
BENCHMARK_CAPTURE(decompressBench, lz41, kelFormatLz4, 1)
    ->Name("BM_ParallelLz4Decompress/kel_1thread/16MiB")
    ->UseRealTime();

}  // namespace

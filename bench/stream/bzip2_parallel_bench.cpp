// bench/stream/bzip2_parallel_bench.cpp - parallel .bz2 decompression against one thread on a large file.
//
// The corpus repeated to 100 MB and compressed once by libbz2 at level 9 (about 115 blocks); libkelstream decodes it
// with threads = 2 ("kel") and with one thread ("one_thread", the same library in the calling thread), so the
// speedup column of the closing table is the gain from the worker threads; libbz2's own decoder is the third row.
// Wall-clock time (the threads' CPU time is not the point); set KEL_BENCH_BZ2_MB to change the size. The output is
// verified once before timing.
#include <benchmark/benchmark.h>
#include <bzlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_util.h"
#include "kelstream.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct BigInput {
    std::string name;
    Bytes plain, file;
};

const BigInput& bigInput() {
    static const BigInput in = [] {
        BigInput b;
        const char* env = std::getenv("KEL_BENCH_BZ2_MB");
        const std::size_t mb = env ? static_cast<std::size_t>(std::atoi(env)) : 100;
        b.name = "corpus_" + std::to_string(mb) + "MB";
        const Bytes& all = kel::bench::corpusAll();
        while (b.plain.size() < mb << 20) b.plain.insert(b.plain.end(), all.begin(), all.end());
        b.plain.resize(mb << 20);
        unsigned int len = static_cast<unsigned int>(b.plain.size() + b.plain.size() / 50 + 1024);
        b.file.resize(len);
        if (BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(b.file.data()), &len,
                                     reinterpret_cast<char*>(b.plain.data()), static_cast<unsigned int>(b.plain.size()),
                                     9, 0, 0) != BZ_OK) {
            std::fprintf(stderr, "libbz2 failed on %s\n", b.name.c_str());
            std::exit(1);
        }
        b.file.resize(len);
        return b;
    }();
    return in;
}

bool kelDecompress(const BigInput& in, Bytes& out, int threads) {
    KelStreamOptions o;
    kelStreamDefaultOptions(&o);
    o.threads = threads;
    std::size_t len = out.size();
    return kelStreamDecompress(kelFormatBzip2, in.file.data(), in.file.size(), out.data(), &len, &o) == kelStreamEnd &&
           len == in.plain.size();
}

void decompressKel(benchmark::State& state, int threads) {
    const BigInput& in = bigInput();
    Bytes out(in.plain.size());
    if (!kelDecompress(in, out, threads) || out != in.plain) {
        state.SkipWithError("round trip failed");
        return;
    }
    for (auto _ : state) {
        kelDecompress(in, out, threads);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.plain.size()));
}

void decompressLibbz2(benchmark::State& state) {
    const BigInput& in = bigInput();
    Bytes out(in.plain.size() + 1);
    for (auto _ : state) {
        unsigned int len = static_cast<unsigned int>(out.size());
        BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(out.data()), &len,
                                   const_cast<char*>(reinterpret_cast<const char*>(in.file.data())),
                                   static_cast<unsigned int>(in.file.size()), 0, 0);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.plain.size()));
}

int registerAll() {
    const std::string input = bigInput().name;
    benchmark::RegisterBenchmark(("BM_Bzip2ParallelDecompress/kel/" + input).c_str(), decompressKel, 2)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark(("BM_Bzip2ParallelDecompress/one_thread/" + input).c_str(), decompressKel, 1)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark(("BM_Bzip2ParallelDecompress/libbz2/" + input).c_str(), decompressLibbz2)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    return 0;
}

const int kRegistered = registerAll();

}  // namespace

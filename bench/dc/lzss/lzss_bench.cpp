// bench/dc/lzss/lzss_bench.cpp - LZSS encode and decode throughput over the corpus concatenated (no peer codec
// writes this stream; zlib level 1 is shown beside it as a familiar yardstick for the encoder).
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <vector>

#include "bench_util.h"
#include "keldc.h"

namespace {

using Bytes = std::vector<Kel8u>;

const Bytes& input() { return kel::bench::corpusAll(); }

Bytes newState() {
    int size = 0;
    kelsLZSSGetSize_8u(&size);
    return Bytes(std::size_t(size));
}

Bytes encodeAll(Bytes& state) {
    auto* st = reinterpret_cast<LZSSState_8u*>(state.data());
    kelsEncodeLZSSInit_8u(st);
    Bytes out(input().size() * 9 / 8 + 64);
    const Kel8u* src = input().data();
    Kel32u srcLen = Kel32u(input().size());
    Kel8u* dst = out.data();
    Kel32u room = Kel32u(out.size());
    kelsEncodeLZSS_8u(&src, &srcLen, &dst, &room, st);
    kelsEncodeLZSSFlush_8u(&dst, &room, st);
    out.resize(std::size_t(dst - out.data()));
    return out;
}

void BM_LzssEncode(benchmark::State& state) {
    Bytes st = newState(), out;
    for (auto _ : state) {
        out = encodeAll(st);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(input().size()));
    state.counters["ratio"] = double(input().size()) / double(out.size());
}

void BM_LzssDecode(benchmark::State& state) {
    Bytes st = newState();
    const Bytes comp = encodeAll(st);
    Bytes out(input().size());
    for (auto _ : state) {
        auto* s = reinterpret_cast<LZSSState_8u*>(st.data());
        kelsDecodeLZSSInit_8u(s);
        const Kel8u* src = comp.data();
        Kel32u srcLen = Kel32u(comp.size());
        Kel8u* dst = out.data();
        Kel32u room = Kel32u(out.size());
        kelsDecodeLZSS_8u(&src, &srcLen, &dst, &room, s);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(input().size()));
}

void BM_Zlib1Encode(benchmark::State& state) {
    Bytes out(compressBound(uLong(input().size())));
    uLongf len = 0;
    for (auto _ : state) {
        len = out.size();
        compress2(out.data(), &len, input().data(), uLong(input().size()), 1);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(input().size()));
    state.counters["ratio"] = double(input().size()) / double(len);
}

BENCHMARK(BM_LzssEncode)->Name("BM_LzssEncode/kel/corpus")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Zlib1Encode)->Name("BM_LzssEncode/zlib-1/corpus")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzssDecode)->Name("BM_LzssDecode/kel/corpus")->Unit(benchmark::kMillisecond);

}  // namespace

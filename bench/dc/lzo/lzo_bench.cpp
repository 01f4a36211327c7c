// bench/dc/lzo/lzo_bench.cpp - LZO1X encode and decode against liblzo2, over the corpus concatenated.
#include <benchmark/benchmark.h>
#include <lzo/lzo1x.h>

#include <vector>

#include "bench_util.h"
#include "keldc.h"

namespace {

using Bytes = std::vector<Kel8u>;

const Bytes& input() { return kel::bench::corpusAll(); }

Bytes compressedByKel() {
    Kel32u size = 0;
    kelsEncodeLZOGetSize(0, 0, &size);
    Bytes state(size), out(input().size() + input().size() / 16 + 67);
    auto* st = reinterpret_cast<LZOState_8u*>(state.data());
    kelsEncodeLZOInit_8u(0, 0, st);
    Kel32u len = 0;
    kelsEncodeLZO_8u(input().data(), Kel32u(input().size()), out.data(), &len, st);
    out.resize(len);
    return out;
}

void BM_LzoEncode_kel(benchmark::State& state) {
    Kel32u size = 0;
    kelsEncodeLZOGetSize(0, 0, &size);
    Bytes st(size), out(input().size() + input().size() / 16 + 67);
    kelsEncodeLZOInit_8u(0, 0, reinterpret_cast<LZOState_8u*>(st.data()));
    Kel32u len = 0;
    for (auto _ : state) {
        kelsEncodeLZO_8u(input().data(), Kel32u(input().size()), out.data(), &len,
                         reinterpret_cast<LZOState_8u*>(st.data()));
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(input().size()));
    state.counters["ratio"] = double(input().size()) / len;
}

void BM_LzoEncode_lzo2(benchmark::State& state) {
    lzo_init();
    Bytes work(LZO1X_1_MEM_COMPRESS), out(input().size() + input().size() / 16 + 67);
    lzo_uint len = 0;
    for (auto _ : state) {
        len = out.size();
        lzo1x_1_compress(input().data(), input().size(), out.data(), &len, work.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(input().size()));
    state.counters["ratio"] = double(input().size()) / double(len);
}

template <bool Safe>
void BM_LzoDecode_kel(benchmark::State& state) {
    const Bytes comp = compressedByKel();
    Bytes out(input().size());
    for (auto _ : state) {
        Kel32u len = Kel32u(out.size());
        if (Safe) {
            kelsDecodeLZOSafe_8u(comp.data(), Kel32u(comp.size()), out.data(), &len);
        } else {
            kelsDecodeLZO_8u(comp.data(), Kel32u(comp.size()), out.data(), &len);
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(input().size()));
}

template <bool Safe>
void BM_LzoDecode_lzo2(benchmark::State& state) {
    lzo_init();
    const Bytes comp = compressedByKel();
    Bytes out(input().size());
    for (auto _ : state) {
        lzo_uint len = out.size();
        if (Safe) {
            lzo1x_decompress_safe(comp.data(), comp.size(), out.data(), &len, nullptr);
        } else {
            lzo1x_decompress(comp.data(), comp.size(), out.data(), &len, nullptr);
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(input().size()));
}

BENCHMARK(BM_LzoEncode_kel)->Name("BM_LzoEncode/kel/corpus");
BENCHMARK(BM_LzoEncode_lzo2)->Name("BM_LzoEncode/lzo2/corpus");
BENCHMARK(BM_LzoDecode_kel<false>)->Name("BM_LzoDecode/kel/corpus");
BENCHMARK(BM_LzoDecode_lzo2<false>)->Name("BM_LzoDecode/lzo2/corpus");
BENCHMARK(BM_LzoDecode_kel<true>)->Name("BM_LzoDecodeSafe/kel/corpus");
BENCHMARK(BM_LzoDecode_lzo2<true>)->Name("BM_LzoDecodeSafe/lzo2/corpus");

}  // namespace

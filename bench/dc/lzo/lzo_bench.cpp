// bench/dc/lzo/lzo_bench.cpp - LZO1X encode against liblzo2 per corpus file and over the corpus concatenated;
// decode over the corpus concatenated.
#include <benchmark/benchmark.h>
#include <lzo/lzo1x.h>

#include <string>
#include <vector>

#include "bench_util.h"
#include "keldc.h"

namespace {

using Bytes = std::vector<Kel8u>;

const Bytes& input() {
    return kel::bench::corpusAll();
}

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

struct Input {
    std::string name;
    Bytes plain;
};

// Every corpus file on its own (the literal-heavy ones and the repetitive ones differ most), then all of them.
const std::vector<Input>& inputs() {
    static const std::vector<Input> all = [] {
        std::vector<Input> v;
        for (const auto& n : kel::bench::corpusFileNames()) v.push_back({n, kel::bench::readCorpusFile(n)});
        v.push_back({"corpus", input()});
        return v;
    }();
    return all;
}

void BM_LzoEncode_kel(benchmark::State& state, const Input* in) {
    Kel32u size = 0;
    kelsEncodeLZOGetSize(0, 0, &size);
    Bytes st(size), out(in->plain.size() + in->plain.size() / 16 + 67);
    kelsEncodeLZOInit_8u(0, 0, reinterpret_cast<LZOState_8u*>(st.data()));
    Kel32u len = 0;
    for (auto _ : state) {
        kelsEncodeLZO_8u(in->plain.data(), Kel32u(in->plain.size()), out.data(), &len,
                         reinterpret_cast<LZOState_8u*>(st.data()));
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in->plain.size()));
    state.counters["ratio"] = double(in->plain.size()) / len;
}

void BM_LzoEncode_lzo2(benchmark::State& state, const Input* in) {
    lzo_init();
    Bytes work(LZO1X_1_MEM_COMPRESS), out(in->plain.size() + in->plain.size() / 16 + 67);
    lzo_uint len = 0;
    for (auto _ : state) {
        len = out.size();
        lzo1x_1_compress(in->plain.data(), in->plain.size(), out.data(), &len, work.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in->plain.size()));
    state.counters["ratio"] = double(in->plain.size()) / double(len);
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

// Each input's two encoders run back to back, so that both see the same load from the rest of the machine.
const int kRegistered = [] {
    for (const Input& in : inputs()) {
        benchmark::RegisterBenchmark(("BM_LzoEncode/kel/" + in.name).c_str(), BM_LzoEncode_kel, &in);
        benchmark::RegisterBenchmark(("BM_LzoEncode/lzo2/" + in.name).c_str(), BM_LzoEncode_lzo2, &in);
    }
    return 0;
}();
BENCHMARK(BM_LzoDecode_kel<false>)->Name("BM_LzoDecode/kel/corpus");
BENCHMARK(BM_LzoDecode_lzo2<false>)->Name("BM_LzoDecode/lzo2/corpus");
BENCHMARK(BM_LzoDecode_kel<true>)->Name("BM_LzoDecodeSafe/kel/corpus");
BENCHMARK(BM_LzoDecode_lzo2<true>)->Name("BM_LzoDecodeSafe/lzo2/corpus");

}  // namespace

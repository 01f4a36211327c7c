// bench/dc/lz4/lz4_bench.cpp - LZ4 block coding, kel beside liblz4, over every corpus file as one block.
//
// BM_LZ4Decode decodes liblz4's default block with each decoder (the same input for both); BM_LZ4Encode and
// BM_LZ4HC_L<n> compress with each encoder. Encoders report the compressed size and the ratio (source / size) as
// counters, so the sizes stand next to each other in the table.
#include <benchmark/benchmark.h>
#include <lz4.h>
#include <lz4hc.h>

#include <vector>

#include "bench_util.h"
#include "keldc.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

int boundOf(size_t n) {
    return int(n + n / 255 + 16 + 8);
}

void setSize(benchmark::State& state, size_t srcLen, int packed) {
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(srcLen));
    state.counters["size"] = packed;
    state.counters["ratio"] = double(srcLen) / packed;
}

void kelDecode(benchmark::State& state, const std::string& file) {
    const Bytes src = kel::bench::readCorpusFile(file);
    Bytes blk(LZ4_compressBound(int(src.size()))), out(src.size());
    blk.resize(LZ4_compress_default(reinterpret_cast<const char*>(src.data()), reinterpret_cast<char*>(blk.data()),
                                    int(src.size()), int(blk.size())));
    for (auto _ : state) {
        int len = int(out.size());
        kelsDecodeLZ4_8u(blk.data(), int(blk.size()), out.data(), &len);
        benchmark::DoNotOptimize(out.data());
    }
    if (out != src) state.SkipWithError("decoded data differ");
    setSize(state, src.size(), int(blk.size()));
}

void lz4Decode(benchmark::State& state, const std::string& file) {
    const Bytes src = kel::bench::readCorpusFile(file);
    Bytes blk(LZ4_compressBound(int(src.size()))), out(src.size());
    blk.resize(LZ4_compress_default(reinterpret_cast<const char*>(src.data()), reinterpret_cast<char*>(blk.data()),
                                    int(src.size()), int(blk.size())));
    for (auto _ : state) {
        LZ4_decompress_safe(reinterpret_cast<const char*>(blk.data()), reinterpret_cast<char*>(out.data()),
                            int(blk.size()), int(out.size()));
        benchmark::DoNotOptimize(out.data());
    }
    setSize(state, src.size(), int(blk.size()));
}

void kelEncode(benchmark::State& state, const std::string& file) {
    const Bytes src = kel::bench::readCorpusFile(file);
    Bytes out(boundOf(src.size()));
    std::vector<Kel8u> table(16384);
    int len = 0;
    for (auto _ : state) {
        kelsEncodeLZ4_8u(src.data(), int(src.size()), out.data(), &len, table.data());
        benchmark::DoNotOptimize(out.data());
    }
    setSize(state, src.size(), len);
}

void lz4Encode(benchmark::State& state, const std::string& file) {
    const Bytes src = kel::bench::readCorpusFile(file);
    Bytes out(LZ4_compressBound(int(src.size())));
    int len = 0;
    for (auto _ : state) {
        len = LZ4_compress_default(reinterpret_cast<const char*>(src.data()), reinterpret_cast<char*>(out.data()),
                                   int(src.size()), int(out.size()));
        benchmark::DoNotOptimize(out.data());
    }
    setSize(state, src.size(), len);
}

void kelHc(benchmark::State& state, const std::string& file, int level) {
    const Bytes src = kel::bench::readCorpusFile(file);
    Bytes out(boundOf(src.size()));
    std::vector<Kel8u> hash(131072), chain(262144);
    Kel8u* tables[2] = {hash.data(), chain.data()};
    int len = 0;
    for (auto _ : state) {
        kelsEncodeLZ4HCHashTableInit_8u(tables);
        int srcLen = int(src.size());
        kelsEncodeLZ4HC_8u(src.data(), 0, &srcLen, out.data(), &len, tables, nullptr, 0, level);
        benchmark::DoNotOptimize(out.data());
    }
    setSize(state, src.size(), len);
}

void lz4Hc(benchmark::State& state, const std::string& file, int level) {
    const Bytes src = kel::bench::readCorpusFile(file);
    Bytes out(LZ4_compressBound(int(src.size())));
    std::vector<char> hcState(LZ4_sizeofStateHC());
    int len = 0;
    for (auto _ : state) {
        len = LZ4_compress_HC_extStateHC(hcState.data(), reinterpret_cast<const char*>(src.data()),
                                         reinterpret_cast<char*>(out.data()), int(src.size()), int(out.size()), level);
        benchmark::DoNotOptimize(out.data());
    }
    setSize(state, src.size(), len);
}

int registerAll() {
    for (const auto& f : kel::bench::corpusFileNames()) {
        benchmark::RegisterBenchmark(("BM_LZ4Decode/kel/" + f).c_str(), kelDecode, f);
        benchmark::RegisterBenchmark(("BM_LZ4Decode/lz4/" + f).c_str(), lz4Decode, f);
        benchmark::RegisterBenchmark(("BM_LZ4Encode/kel/" + f).c_str(), kelEncode, f);
        benchmark::RegisterBenchmark(("BM_LZ4Encode/lz4/" + f).c_str(), lz4Encode, f);
        for (int level : {1, 4, 9}) {
            const std::string fam = "BM_LZ4HC_L" + std::to_string(level);
            benchmark::RegisterBenchmark((fam + "/kel/" + f).c_str(), kelHc, f, level);
            benchmark::RegisterBenchmark((fam + "/lz4/" + f).c_str(), lz4Hc, f, level);
        }
    }
    return 0;
}

const int kRegistered = registerAll();

}  // namespace

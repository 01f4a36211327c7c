// bench/dc/bzip2/bzip2_bench.cpp - bzip2 throughput of kel against libbz2, and its forward transform against
// divsufsort, over the corpus.
//
// BM_Bzip2Compress: a whole .bz2 file at block size 9, libkelstream's kelStreamCompress against
// BZ2_bzBuffToBuffCompress (bytes of input per second; the compressed size and the ratio input / output as counters).
// BM_Bzip2Decompress: kelStreamDecompress and libbz2 read the same libbz2 file (bytes of output per second). BM_BWT:
// the forward transform alone on the concatenated corpus cut into 900 000-byte blocks (the largest bzip2 block),
// kelsBWTFwd_8u against divbwt. Every input is verified once before timing. The program links the shared libraries
// only.
#include <benchmark/benchmark.h>
#include <bzlib.h>
#include <divsufsort.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_util.h"
#include "keldc.h"
#include "kelstream.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Input {
    std::string name;
    Bytes plain;
    Bytes libbz2File;  // level 9
};

Bytes libbz2Compress(const Bytes& src) {
    unsigned int len = static_cast<unsigned int>(src.size() + src.size() / 50 + 1024);
    Bytes out(len);
    BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &len,
                             const_cast<char*>(reinterpret_cast<const char*>(src.data())),
                             static_cast<unsigned int>(src.size()), 9, 0, 0);
    out.resize(len);
    return out;
}

KelStreamOptions level9() {
    KelStreamOptions o;
    kelStreamDefaultOptions(&o);
    o.level = 9;
    return o;
}

bool kelCompress(const Bytes& src, Bytes& out) {
    const KelStreamOptions o = level9();
    out.resize(kelStreamCompressBound(kelFormatBzip2, src.size(), &o));
    std::size_t len = out.size();
    if (kelStreamCompress(kelFormatBzip2, src.data(), src.size(), out.data(), &len, &o) != kelStreamEnd) return false;
    out.resize(len);
    return true;
}

bool kelDecompress(const Bytes& file, Bytes& out) {
    std::size_t len = out.size();
    return kelStreamDecompress(kelFormatBzip2, file.data(), file.size(), out.data(), &len, nullptr) == kelStreamEnd &&
           len == out.size();
}

const std::vector<Input>& inputs() {
    static const std::vector<Input> all = [] {
        std::vector<Input> v;
        for (const auto& n : kel::bench::corpusFileNames()) v.push_back({n, kel::bench::readCorpusFile(n), {}});
        v.push_back({"all", kel::bench::corpusAll(), {}});
        for (auto& in : v) {
            in.libbz2File = libbz2Compress(in.plain);
            Bytes ours, back(in.plain.size());
            if (!kelCompress(in.plain, ours) || !kelDecompress(ours, back) || back != in.plain ||
                !kelDecompress(in.libbz2File, back) || back != in.plain) {
                std::fprintf(stderr, "round trip failed on %s\n", in.name.c_str());
                std::exit(1);
            }
        }
        return v;
    }();
    return all;
}

void compressKel(benchmark::State& state, const Input* in) {
    const KelStreamOptions o = level9();
    Bytes out(kelStreamCompressBound(kelFormatBzip2, in->plain.size(), &o));
    std::size_t len = 0;
    for (auto _ : state) {
        len = out.size();
        kelStreamCompress(kelFormatBzip2, in->plain.data(), in->plain.size(), out.data(), &len, &o);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in->plain.size()));
    state.counters["size"] = static_cast<double>(len);
    state.counters["ratio"] = static_cast<double>(in->plain.size()) / static_cast<double>(len);
}

void compressLibbz2(benchmark::State& state, const Input* in) {
    Bytes out(in->plain.size() + in->plain.size() / 50 + 1024);
    unsigned int len = 0;
    for (auto _ : state) {
        len = static_cast<unsigned int>(out.size());
        BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &len,
                                 const_cast<char*>(reinterpret_cast<const char*>(in->plain.data())),
                                 static_cast<unsigned int>(in->plain.size()), 9, 0, 0);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in->plain.size()));
    state.counters["size"] = static_cast<double>(len);
    state.counters["ratio"] = static_cast<double>(in->plain.size()) / static_cast<double>(len);
}

void decompressKel(benchmark::State& state, const Input* in) {
    Bytes out(in->plain.size());
    for (auto _ : state) {
        kelDecompress(in->libbz2File, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in->plain.size()));
}

void decompressLibbz2(benchmark::State& state, const Input* in) {
    Bytes out(in->plain.size() + 1);
    for (auto _ : state) {
        unsigned int len = static_cast<unsigned int>(out.size());
        BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(out.data()), &len,
                                   const_cast<char*>(reinterpret_cast<const char*>(in->libbz2File.data())),
                                   static_cast<unsigned int>(in->libbz2File.size()), 0, 0);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in->plain.size()));
}

// The corpus cut into 900 000-byte blocks (the last one shorter).
const std::vector<Bytes>& bwtBlocks() {
    static const std::vector<Bytes> blocks = [] {
        std::vector<Bytes> v;
        const Bytes& all = kel::bench::corpusAll();
        for (std::size_t pos = 0; pos < all.size(); pos += 900000) {
            v.emplace_back(all.begin() + static_cast<std::ptrdiff_t>(pos),
                           all.begin() + static_cast<std::ptrdiff_t>(std::min(all.size(), pos + 900000)));
        }
        return v;
    }();
    return blocks;
}

// Runs every block (blockIndex < 0) or one.
void bwtKel(benchmark::State& state, int blockIndex) {
    const auto& blocks = bwtBlocks();
    int size = 0;
    kelsBWTFwdGetSize_8u(900000, &size);
    Bytes buf(size), dst(900000);
    std::size_t bytes = 0;
    for (auto _ : state) {
        for (int b = 0; b < static_cast<int>(blocks.size()); ++b) {
            if (blockIndex >= 0 && b != blockIndex) continue;
            int index = 0;
            kelsBWTFwd_8u(blocks[b].data(), dst.data(), static_cast<int>(blocks[b].size()), &index, buf.data());
            benchmark::DoNotOptimize(dst.data());
            bytes += blocks[b].size();
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

void bwtDivsufsort(benchmark::State& state, int blockIndex) {
    const auto& blocks = bwtBlocks();
    std::vector<saidx_t> work(900000);
    Bytes dst(900000);
    std::size_t bytes = 0;
    for (auto _ : state) {
        for (int b = 0; b < static_cast<int>(blocks.size()); ++b) {
            if (blockIndex >= 0 && b != blockIndex) continue;
            const saidx_t n = static_cast<saidx_t>(blocks[b].size());
            benchmark::DoNotOptimize(divbwt(blocks[b].data(), dst.data(), work.data(), n));
            bytes += blocks[b].size();
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

int registerAll() {
    for (const Input& in : inputs()) {
        benchmark::RegisterBenchmark(("BM_Bzip2Compress/kel/" + in.name).c_str(), compressKel, &in)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("BM_Bzip2Compress/libbz2/" + in.name).c_str(), compressLibbz2, &in)
            ->Unit(benchmark::kMillisecond);
    }
    for (const Input& in : inputs()) {
        benchmark::RegisterBenchmark(("BM_Bzip2Decompress/kel/" + in.name).c_str(), decompressKel, &in)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("BM_Bzip2Decompress/libbz2/" + in.name).c_str(), decompressLibbz2, &in)
            ->Unit(benchmark::kMillisecond);
    }
    const int nBlocks = static_cast<int>(bwtBlocks().size());
    for (int b = -1; b < nBlocks; ++b) {
        const std::string name = b < 0 ? "all_blocks" : "block" + std::to_string(b);
        benchmark::RegisterBenchmark(("BM_BWT/kel/" + name).c_str(), bwtKel, b)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("BM_BWT/divsufsort/" + name).c_str(), bwtDivsufsort, b)
            ->Unit(benchmark::kMillisecond);
    }
    return 0;
}

const int kRegistered = registerAll();

}  // namespace

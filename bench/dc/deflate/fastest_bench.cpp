// bench/dc/deflate/fastest_bench.cpp - fastest Deflate compression of kel, zlib and libdeflate over the corpus:
// MB/s of input and compressed size.
//
// BM_DeflateFastest/kel runs libkelstream's fastest mode (options.fastest: the library's single-probe path; per
// block of up to 512 KiB, symbol counts over its first 32 KiB and codes from them, then one encoding pass, the block
// ending early where the data changes) on one raw Deflate stream that kelStreamReset restarts for every run. The
// peers run their level 1: zlib's deflate on a reused stream (deflateReset) and libdeflate's compressor allocated
// once. All write raw Deflate into a buffer allocated beforehand; every output is checked once with zlib's inflate
// before timing. Counters: "size" (compressed bytes) and "ratio" (input / output).
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_util.h"
#include "kelstream.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Input {
    std::string name;
    Bytes plain;
};

const std::vector<Input>& inputs() {
    static const std::vector<Input> all = [] {
        std::vector<Input> v;
        for (const auto& n : kel::bench::corpusFileNames()) v.push_back({n, kel::bench::readCorpusFile(n)});
        v.push_back({"all", kel::bench::corpusAll()});
        return v;
    }();
    return all;
}

bool restores(const Bytes& comp, const Bytes& plain) {
    z_stream z{};
    inflateInit2(&z, -15);
    Bytes back(plain.size() + 1);
    z.next_in = const_cast<Bytef*>(comp.data());
    z.avail_in = uInt(comp.size());
    z.next_out = back.data();
    z.avail_out = uInt(back.size());
    const int rc = inflate(&z, Z_FINISH);
    const bool ok =
        rc == Z_STREAM_END && z.total_out == plain.size() && std::equal(plain.begin(), plain.end(), back.begin());
    inflateEnd(&z);
    return ok;
}

class Engine {
public:
    virtual ~Engine() = default;
    // Compresses src into out (resized to the compressed size; its capacity is kept between calls).
    virtual void compress(const Bytes& src, Bytes& out) = 0;
};

class KelEngine : public Engine {
public:
    KelEngine() {
        KelStreamOptions o;
        kelStreamDefaultOptions(&o);
        o.fastest = 1;
        kelStreamCreate(&s_, kelFormatDeflate, kelCompress, &o);
    }
    ~KelEngine() override { kelStreamFree(s_); }
    void compress(const Bytes& src, Bytes& out) override {
        out.resize(kelStreamCompressBound(kelFormatDeflate, src.size(), nullptr));
        kelStreamReset(s_);
        std::size_t srcLen = src.size(), dstLen = out.size();
        if (kelStreamProcess(s_, src.data(), &srcLen, out.data(), &dstLen, kelFlushFinish) != kelStreamEnd) dstLen = 0;
        out.resize(dstLen);
    }

private:
    KelStream* s_ = nullptr;
};

class ZlibEngine : public Engine {
public:
    ZlibEngine() { deflateInit2(&z_, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY); }
    ~ZlibEngine() override { deflateEnd(&z_); }
    void compress(const Bytes& src, Bytes& out) override {
        deflateReset(&z_);
        out.resize(deflateBound(&z_, src.size()));
        z_.next_in = const_cast<Bytef*>(src.data());
        z_.avail_in = uInt(src.size());
        z_.next_out = out.data();
        z_.avail_out = uInt(out.size());
        deflate(&z_, Z_FINISH);
        out.resize(z_.total_out);
    }

private:
    z_stream z_{};
};

class LibdeflateEngine : public Engine {
public:
    LibdeflateEngine() : c_(libdeflate_alloc_compressor(1)) {}
    ~LibdeflateEngine() override { libdeflate_free_compressor(c_); }
    void compress(const Bytes& src, Bytes& out) override {
        out.resize(libdeflate_deflate_compress_bound(c_, src.size()));
        out.resize(libdeflate_deflate_compress(c_, src.data(), src.size(), out.data(), out.size()));
    }

private:
    libdeflate_compressor* c_;
};

template <class E>
void BM_Compress(benchmark::State& state, const Input* in) {
    E engine;
    Bytes out;
    out.reserve(in->plain.size() * 2 + 4096);
    engine.compress(in->plain, out);
    if (!restores(out, in->plain)) {
        state.SkipWithError("output does not restore the input");
        return;
    }
    for (auto _ : state) {
        engine.compress(in->plain, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(in->plain.size()));
    state.counters["size"] = double(out.size());
    state.counters["ratio"] = double(in->plain.size()) / double(out.size());
}

const int kRegistered = [] {
    for (const Input& in : inputs()) {
        benchmark::RegisterBenchmark(("BM_DeflateFastest/kel/" + in.name).c_str(), BM_Compress<KelEngine>, &in);
        benchmark::RegisterBenchmark(("BM_DeflateFastest/zlib-1/" + in.name).c_str(), BM_Compress<ZlibEngine>, &in);
        benchmark::RegisterBenchmark(("BM_DeflateFastest/libdeflate-1/" + in.name).c_str(),
                                     BM_Compress<LibdeflateEngine>, &in);
    }
    return 0;
}();

}  // namespace

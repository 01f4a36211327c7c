// bench/dc/checksum/checksum_bench.cpp - the four checksums, kel beside zlib, libdeflate and plain byte-at-a-time code.
//
// Families BM_Adler32, BM_Crc32, BM_Crc32c and BM_Bzip2Crc; impls `kel` (the exported functions), `ref` (the
// one-byte kernels kel is tested against), the peers `zlib` and `libdeflate` where they compute the same value,
// and `bytewise`, a plain table loop written here. zlib has no CRC-32C or bzip2 CRC, so its crc32 over the same
// input stands beside those as the speed yardstick. Inputs: random buffers of 1 KiB, 8 KiB and 64 KiB and the
// whole corpus concatenated.
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "bench_util.h"
#include "dc/checksum/checksum_internal.h"
#include "keldc.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Checksum = std::function<Kel32u(const Kel8u*, size_t, Kel32u)>;

// Byte tables built at start-up from the bit-serial definitions.
struct BytewiseTables {
    Kel32u crc32c[256], bzip2[256];
    BytewiseTables() {
        for (Kel32u i = 0; i < 256; ++i) {
            Kel32u c = i, m = i << 24;
            for (int k = 0; k < 8; ++k) {
                c = (c >> 1) ^ (0x82F63B78u & (0u - (c & 1u)));
                m = (m << 1) ^ (0x04C11DB7u & (0u - (m >> 31)));
            }
            crc32c[i] = c;
            bzip2[i] = m;
        }
    }
};
const BytewiseTables kTables;

Kel32u bytewiseCrc32c(const Kel8u* p, size_t n, Kel32u c) {
    for (size_t i = 0; i < n; ++i) c = (c >> 8) ^ kTables.crc32c[(c ^ p[i]) & 0xFF];
    return c;
}

Kel32u bytewiseBzip2(const Kel8u* p, size_t n, Kel32u crc) {
    Kel32u c = ~crc;
    for (size_t i = 0; i < n; ++i) c = (c << 8) ^ kTables.bzip2[(c >> 24) ^ p[i]];
    return ~c;
}

void run(benchmark::State& state, const Checksum& f, const Bytes& input) {
    Kel32u v = 0;
    for (auto _ : state) {
        v = f(input.data(), input.size(), v);
        benchmark::DoNotOptimize(v);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(input.size()));
}

Kel32u zlibAdler32(const Kel8u* p, size_t n, Kel32u v) {
    return Kel32u(adler32(v, p, uInt(n)));
}
Kel32u zlibCrc32(const Kel8u* p, size_t n, Kel32u v) {
    return Kel32u(crc32(v, p, uInt(n)));
}
Kel32u libdeflateAdler32(const Kel8u* p, size_t n, Kel32u v) {
    return Kel32u(libdeflate_adler32(v, p, n));
}
Kel32u libdeflateCrc32(const Kel8u* p, size_t n, Kel32u v) {
    return Kel32u(libdeflate_crc32(v, p, n));
}

// The exported functions, through their entries, and the one-byte kernels.
Kel32u kelAdler32(const Kel8u* p, size_t n, Kel32u v) {
    kelsAdler32_8u(p, int(n), &v);
    return v;
}
Kel32u kelCrc32(const Kel8u* p, size_t n, Kel32u v) {
    kelsCRC32_8u(p, int(n), &v);
    return v;
}
Kel32u kelCrc32c(const Kel8u* p, size_t n, Kel32u v) {
    kelsCRC32C_8u(p, Kel32u(n), &v);
    return v;
}
Kel32u kelBzip2Crc(const Kel8u* p, size_t n, Kel32u v) {
    kelsCRC32_BZ2_8u(p, int(n), &v);
    return v;
}
template <Kel32u (*kKernel)(const Kel8u*, Kel32u, Kel32u)>
Kel32u refKernel(const Kel8u* p, size_t n, Kel32u v) {
    return kKernel(p, Kel32u(n), v);
}

void registerAll() {
    static const std::vector<std::pair<std::string, Bytes>> inputs = {
        {"1024", kel::bench::randomBuffer(1024)},
        {"8192", kel::bench::randomBuffer(8192)},
        {"65536", kel::bench::randomBuffer(65536)},
        {"corpus", kel::bench::corpusAll()},
    };
    const std::vector<std::pair<std::string, std::vector<std::pair<std::string, Checksum>>>> families = {
        {"BM_Adler32",
         {{"kel", kelAdler32},
          {"zlib", zlibAdler32},
          {"libdeflate", libdeflateAdler32},
          {"ref", refKernel<n8_ownsAdler32_8u_ref>}}},
        {"BM_Crc32",
         {{"kel", kelCrc32},
          {"zlib", zlibCrc32},
          {"libdeflate", libdeflateCrc32},
          {"ref", refKernel<n8_ownsCRC32_8u_ref>}}},
        {"BM_Crc32c",
         {{"kel", kelCrc32c},
          {"bytewise", bytewiseCrc32c},
          {"zlib", zlibCrc32},
          {"ref", refKernel<n8_ownsCRC32C_8u_ref>}}},
        {"BM_Bzip2Crc",
         {{"kel", kelBzip2Crc},
          {"bytewise", bytewiseBzip2},
          {"zlib", zlibCrc32},
          {"ref", refKernel<n8_ownsCRC32_BZ2_8u_ref>}}},
    };
    for (const auto& [family, impls] : families) {
        for (const auto& [input, data] : inputs) {
            for (const auto& [impl, f] : impls) {
                benchmark::RegisterBenchmark((family + "/" + impl + "/" + input).c_str(),
                                             [f = f, &data = data](benchmark::State& s) { run(s, f, data); });
            }
        }
    }
}

const int kRegistered = (registerAll(), 0);

}  // namespace

// bench/primitives/primitives_bench.cpp - the byte copy, fill and move kernels beside the C library's memcpy,
// memset and memmove, and the scalar twin of the copy, over 64 B to 4 MiB.
//
// Buffers are allocated once per size and reused, so the larger sizes measure the cache level they fit in; the
// move shifts a buffer up by 5 bytes in place (the overlapping, descending case a string insertion needs).
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "bench_util.h"
#include "primitives/primitives_internal.h"

namespace {

constexpr int kSizes[] = {64, 4096, 65536, 4 << 20};
constexpr int kMoveShift = 5;

struct Buffers {
    explicit Buffers(int n) : src(kel::bench::randomBuffer(n + kMoveShift)), dst(n + kMoveShift) {}
    std::vector<Kel8u> src, dst;
};

template <class F>
void runBytes(benchmark::State& state, F f) {
    const int n = static_cast<int>(state.range(0));
    Buffers b(n);
    for (auto _ : state) {
        f(b.src.data(), b.dst.data(), n);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * n);
}

void copyKel(benchmark::State& s) {
    runBytes(s, [](const Kel8u* a, Kel8u* d, int n) { n8_ownsCopy_8u(a, d, n); });
}
void copyRef(benchmark::State& s) {
    runBytes(s, [](const Kel8u* a, Kel8u* d, int n) { n8_ownsCopy_8u_ref(a, d, n); });
}
void copyLibc(benchmark::State& s) {
    runBytes(s, [](const Kel8u* a, Kel8u* d, int n) { std::memcpy(d, a, n); });
}
void setKel(benchmark::State& s) {
    runBytes(s, [](const Kel8u*, Kel8u* d, int n) { n8_ownsSet_8u(0x5A, d, n); });
}
void setLibc(benchmark::State& s) {
    runBytes(s, [](const Kel8u*, Kel8u* d, int n) { std::memset(d, 0x5A, n); });
}
void moveKel(benchmark::State& s) {
    runBytes(s, [](const Kel8u*, Kel8u* d, int n) { n8_ownsMove_8u(d, d + kMoveShift, n); });
}
void moveLibc(benchmark::State& s) {
    runBytes(s, [](const Kel8u*, Kel8u* d, int n) { std::memmove(d + kMoveShift, d, n); });
}

void registerAll() {
    struct Entry {
        const char* name;
        void (*fn)(benchmark::State&);
    };
    const Entry entries[] = {{"BM_Copy/kel", copyKel},     {"BM_Copy/memcpy", copyLibc}, {"BM_Copy/ref", copyRef},
                             {"BM_Set/kel", setKel},       {"BM_Set/memset", setLibc},   {"BM_Move/kel", moveKel},
                             {"BM_Move/memmove", moveLibc}};
    for (const Entry& e : entries) {
        for (int n : kSizes) benchmark::RegisterBenchmark(e.name, e.fn)->Arg(n);
    }
}

const bool kRegistered = (registerAll(), true);

}  // namespace

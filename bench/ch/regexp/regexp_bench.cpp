// bench/ch/regexp/regexp_bench.cpp - global search over the corpus texts: kel's matcher against PCRE2 (interpreter
// and JIT) and RE2, for a literal, alternations of literals, a class run with a suffix, an e-mail-like pattern and
// a back-reference. Every implementation counts its matches (reported as a counter) over the same bytes.
#include <benchmark/benchmark.h>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#include <re2/re2.h>

#include <string>
#include <vector>

#include "bench_util.h"
#include "kelch.h"

namespace {

const std::string& texts() {
    static const std::string all = [] {
        std::string t;
        for (const char* f : {"alice29.txt", "asyoulik.txt", "lcet10.txt", "plrabn12.txt"}) {
            const auto d = kel::bench::readCorpusFile(f);
            t.append(d.begin(), d.end());
        }
        return t;
    }();
    return all;
}

struct Case {
    const char* name;
    const char* pattern;
    bool caseless;
};
const Case kCases[] = {
    {"literal", "Alice", false},
    {"literal_long", "little thing", false},
    {"alternation", "Alice|Rabbit|Queen|Hatter", false},
    {"alternation_i", "alice|rabbit|queen|hatter", true},
    {"ing", "[a-z]+ing", false},
    {"email", "[\\w.]+@[\\w.]+\\.\\w+", false},
    {"backref", "(\\w)\\1", false},
};

void BM_kel(benchmark::State& state, const Case& c) {
    const std::string& t = texts();
    int size = 0;
    kelsRegExpGetSize(c.pattern, &size);
    std::vector<std::uint8_t> block(static_cast<size_t>(size));
    auto* re = reinterpret_cast<RegExpState*>(block.data());
    int err = 0;
    kelsRegExpInit(c.pattern, c.caseless ? "gi" : "g", re, &err);
    kelsRegExpSetFormat(0, re);
    std::vector<RegExpMatchRecord> rec(1 << 20);
    int matches = 0;
    for (auto _ : state) {
        int n = static_cast<int>(rec.size());
        kelsRegExpFind_8u(reinterpret_cast<const Kel8u*>(t.data()), static_cast<int>(t.size()), re, rec.data(), &n);
        matches = n;
        benchmark::DoNotOptimize(rec.data());
    }
    state.counters["matches"] = matches;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(t.size()));
}

void BM_pcre2(benchmark::State& state, const Case& c, bool jit) {
    const std::string& t = texts();
    int err;
    PCRE2_SIZE off;
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(c.pattern), PCRE2_ZERO_TERMINATED,
                                     c.caseless ? PCRE2_CASELESS : 0, &err, &off, nullptr);
    if (jit) pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);
    pcre2_match_data* md = pcre2_match_data_create_from_pattern(code, nullptr);
    int matches = 0;
    for (auto _ : state) {
        matches = 0;
        PCRE2_SIZE from = 0;
        while (from <= t.size() &&
               pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(t.data()), t.size(), from, 0, md, nullptr) >= 0) {
            const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md);
            ++matches;
            from = ov[1] > ov[0] ? ov[1] : ov[0] + 1;
        }
    }
    state.counters["matches"] = matches;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(t.size()));
    pcre2_match_data_free(md);
    pcre2_code_free(code);
}

void BM_re2(benchmark::State& state, const Case& c) {
    const std::string& t = texts();
    RE2::Options o;
    o.set_case_sensitive(!c.caseless);
    o.set_log_errors(false);
    RE2 re(c.pattern, o);
    if (!re.ok()) {
        state.SkipWithError("RE2 does not support this pattern");
        return;
    }
    int matches = 0;
    for (auto _ : state) {
        matches = 0;
        re2::StringPiece in(t);
        re2::StringPiece m;
        size_t pos = 0;
        while (pos <= t.size() && re.Match(in, pos, t.size(), RE2::UNANCHORED, &m, 1)) {
            ++matches;
            const size_t start = static_cast<size_t>(m.data() - t.data());
            pos = m.empty() ? start + 1 : start + m.size();
        }
    }
    state.counters["matches"] = matches;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(t.size()));
}

int registerAll() {
    for (const Case& c : kCases) {
        const std::string base = std::string("BM_Regex_") + c.name;
        benchmark::RegisterBenchmark((base + "/kel").c_str(), [&c](benchmark::State& s) { BM_kel(s, c); });
        benchmark::RegisterBenchmark((base + "/pcre2").c_str(), [&c](benchmark::State& s) { BM_pcre2(s, c, false); });
        benchmark::RegisterBenchmark((base + "/pcre2jit").c_str(), [&c](benchmark::State& s) { BM_pcre2(s, c, true); });
        benchmark::RegisterBenchmark((base + "/re2").c_str(), [&c](benchmark::State& s) { BM_re2(s, c); });
    }
    return 0;
}
const int kRegistered = registerAll();

}  // namespace

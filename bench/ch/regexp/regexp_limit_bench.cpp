// bench/ch/regexp/regexp_limit_bench.cpp - searches that only the match limit ends: kel's matcher beside PCRE2's
// interpreter, each with the same small limit on the same subject, both ending with their limit status. A limit
// unit must stand for bounded work, so the time a hopeless search takes before it gives up is the figure here.
#include <benchmark/benchmark.h>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "kelch.h"

namespace {

struct LimitCase {
    const char* name;
    const char* pattern;
    std::string subject;
    int limit;
};

const std::vector<LimitCase>& limitCases() {
    static const std::vector<LimitCase>& cases = *new std::vector<LimitCase>{
        // A nested repetition over a megabyte that can never reach its digit.
        {"nested_star_1mb", "(a*)*\\d", std::string(1 << 20, 'a'), 100},
        // A word list that fails at the end of a long line.
        {"word_list_fail", "^(\\w+\\s?)*$",
         [] {
             std::string s;
             while (s.size() < 100000) s += "word ";
             return s + "!";
         }(),
         1000},
    };
    return cases;
}

struct Timing {
    double seconds = 0;  // CPU time per search
    bool limited = false;
};
Timing gKel[8], gPcre2[8];

double threadSeconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

void BM_kelLimit(benchmark::State& state, int i) {
    const LimitCase& c = limitCases()[i];
    int size = 0;
    int err = 0;
    kelsRegExpGetSize(c.pattern, &size);
    std::vector<std::uint8_t> block(static_cast<size_t>(size));
    auto* re = reinterpret_cast<RegExpState*>(block.data());
    if (kelsRegExpInit(c.pattern, "", re, &err) != kelStatusOk) {
        state.SkipWithError("kelsRegExpInit fails");
        return;
    }
    kelsRegExpSetFormat(0, re);
    kelsRegExpSetMatchLimit(c.limit, re);
    RegExpMatchRecord rec[4];
    KelStatus st = kelStatusOk;
    const double start = threadSeconds();
    for (auto _ : state) {
        int n = 4;
        st = kelsRegExpFind_8u(reinterpret_cast<const Kel8u*>(c.subject.data()), static_cast<int>(c.subject.size()), re,
                               rec, &n);
        benchmark::DoNotOptimize(rec);
    }
    gKel[i] = {(threadSeconds() - start) / static_cast<double>(state.iterations()), st == kelStatusRegExpMatchLimit};
}

void BM_pcre2Limit(benchmark::State& state, int i) {
    const LimitCase& c = limitCases()[i];
    int err;
    PCRE2_SIZE off;
    pcre2_code* code =
        pcre2_compile(reinterpret_cast<PCRE2_SPTR>(c.pattern), PCRE2_ZERO_TERMINATED, 0, &err, &off, nullptr);
    pcre2_match_data* md = pcre2_match_data_create_from_pattern(code, nullptr);
    pcre2_match_context* mc = pcre2_match_context_create(nullptr);
    pcre2_set_match_limit(mc, static_cast<uint32_t>(c.limit));
    int rc = 0;
    const double start = threadSeconds();
    for (auto _ : state) {
        rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(c.subject.data()), c.subject.size(), 0, 0, md, mc);
    }
    gPcre2[i] = {(threadSeconds() - start) / static_cast<double>(state.iterations()), rc == PCRE2_ERROR_MATCHLIMIT};
    pcre2_match_context_free(mc);
    pcre2_match_data_free(md);
    pcre2_code_free(code);
}

void printLimitSummary() {
    std::printf("\nregexp limit summary: CPU time per search that only the match limit ends (kel / pcre2 speed)\n");
    std::printf("%-18s %8s %12s %12s %10s  %s\n", "case", "limit", "kel us", "pcre2 us", "kel/pcre2", "note");
    for (size_t i = 0; i < limitCases().size(); ++i) {
        const LimitCase& c = limitCases()[i];
        if (gKel[i].seconds <= 0 || gPcre2[i].seconds <= 0) continue;
        const char* note = gKel[i].limited && gPcre2[i].limited ? "both at the limit" : "NOT BOTH AT THE LIMIT";
        std::printf("%-18s %8d %12.1f %12.1f %10.4f  %s\n", c.name, c.limit, gKel[i].seconds * 1e6,
                    gPcre2[i].seconds * 1e6, gPcre2[i].seconds / gKel[i].seconds, note);
    }
    std::fflush(stdout);
}

int registerLimitCases() {
    for (size_t i = 0; i < limitCases().size(); ++i) {
        const std::string suffix = std::string("/") + limitCases()[i].name;
        const int n = static_cast<int>(i);
        benchmark::RegisterBenchmark(("BM_RegexLimit/kel" + suffix).c_str(),
                                     [n](benchmark::State& s) { BM_kelLimit(s, n); });
        benchmark::RegisterBenchmark(("BM_RegexLimit/pcre2" + suffix).c_str(),
                                     [n](benchmark::State& s) { BM_pcre2Limit(s, n); });
    }
    std::atexit(printLimitSummary);
    return 0;
}
const int kLimitRegistered = registerLimitCases();

}  // namespace

// bench/ch/regexp/regexp_bench.cpp - find-all over the corpus texts: kel's matcher beside PCRE2 (interpreter and
// JIT) and RE2, in one process over the same bytes.
//
// Subjects: the four English texts concatenated (alice29, asyoulik, lcet10, plrabn12; about 1.2 MB), the html page
// and the URL list. Each case runs one pattern over one subject with find-all semantics: after a match the next
// search starts at its end, and after an empty match one byte further (pcre2grep -o and `kel grep -o` step the
// same way). kel does this in one call with the `g` option, which keeps the subject's start and so the meaning of
// `^`, `\b` and look-behinds at every match; the peers loop over a start offset into the whole subject for the same
// reason. All engines work on bytes: kel in byte format, PCRE2 without UTF, RE2 in Latin-1.
//
// Counts are checked, not trusted: PCRE2's interpreter sets the expected number of matches of each case, every run
// of a peer must find exactly as many (otherwise the run is marked as failed and the program exits with status 1,
// because the case would compare different work), and a kel count that differs is a matcher fault, reported in
// the summary beside both counts without stopping the run. The summary, printed after bench_main's table, gives
// per case kel's throughput and its ratio to each peer, then the geometric mean of each ratio column.
#include <benchmark/benchmark.h>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#include <re2/re2.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "bench_util.h"
#include "kelch.h"

namespace {

enum class Subject { kEnglish, kHtml, kUrls };

// The subjects and the count cache are built on first use, after the exit-time summary was registered, so as
// ordinary statics they would be destroyed before it runs; they are left to the end of the process instead.
const std::string& subjectText(Subject s) {
    static const std::string& english = *new std::string([] {
        std::string t;
        for (const char* f : {"alice29.txt", "asyoulik.txt", "lcet10.txt", "plrabn12.txt"}) {
            const auto d = kel::bench::readCorpusFile(f);
            t.append(d.begin(), d.end());
        }
        return t;
    }());
    static const std::string& html = *new std::string([] {
        const auto d = kel::bench::readCorpusFile("html");
        return std::string(d.begin(), d.end());
    }());
    static const std::string& urls = *new std::string([] {
        const auto d = kel::bench::readCorpusFile("urls.10K");
        return std::string(d.begin(), d.end());
    }());
    return s == Subject::kEnglish ? english : s == Subject::kHtml ? html : urls;
}

struct Case {
    const char* name;
    const char* pattern;
    Subject subject;
};

// Octet of a dotted IPv4 address: 0-255 without a leading zero beyond what the shorter forms allow.
#define KEL_OCTET "(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)"

const Case kCases[] = {
    // Literals: the leading-literal and required-literal searches carry these.
    {"literal", "Alice", Subject::kEnglish},
    {"literal_long", "little thing", Subject::kEnglish},
    {"literal_absent", "Huckleberry", Subject::kEnglish},
    // Alternations of names, case-sensitive and caseless.
    {"names", "Tom|Sawyer|Huckleberry|Finn", Subject::kEnglish},
    {"names_present", "Alice|Rabbit|Queen|Hatter|Rosalind|Orlando|Satan|Adam", Subject::kEnglish},
    {"names_i", "(?i)Tom|Sawyer|Huckleberry|Finn", Subject::kEnglish},
    {"names_present_i", "(?i)alice|rabbit|queen|hatter", Subject::kEnglish},
    // Classes and counted repetitions.
    {"ing", "[a-zA-Z]+ing", Subject::kEnglish},
    {"word_nn", "\\b\\w+nn\\b", Subject::kEnglish},
    {"class_x", "[a-q][^u-z]{13}x", Subject::kEnglish},
    {"prefix_names", ".{2,4}(Tom|Sawyer|Huckleberry|Finn)", Subject::kEnglish},
    {"tom_river", "Tom.{10,25}river|river.{10,25}Tom", Subject::kEnglish},
    {"prefix_present", ".{2,4}(Alice|Rabbit|Queen|Hatter)", Subject::kEnglish},
    {"alice_queen", "Alice.{10,25}Queen|Queen.{10,25}Alice", Subject::kEnglish},
    {"line_20_40", "(?m)^.{20,40}$", Subject::kEnglish},
    {"upper_lower", "\\p{Lu}\\p{Ll}+", Subject::kEnglish},
    // Structured tokens.
    {"email_en", "[\\w.+-]+@[\\w-]+\\.[\\w.-]+", Subject::kEnglish},
    {"email_html", "[\\w.+-]+@[\\w-]+\\.[\\w.-]+", Subject::kHtml},
    {"uri_urls", "[\\w]+://[^/\\s?#]+[^\\s?#]+(?:\\?[^\\s#]*)?(?:#[^\\s]*)?", Subject::kUrls},
    {"uri_html", "[\\w]+://[^/\\s?#\"]+[^\\s?#\"]+(?:\\?[^\\s#\"]*)?", Subject::kHtml},
    {"ipv4_urls", "(?:" KEL_OCTET "\\.){3}" KEL_OCTET, Subject::kUrls},
    {"tag_html", "<a\\s+[^>]*href=\\\\?\"[^\"]*\"[^>]*>", Subject::kHtml},
    // Back-references (RE2 has none).
    {"repeat_word", "(\\w+)\\s+\\1", Subject::kEnglish},
    {"same_ends", "\\b(\\w)\\w*\\1\\b", Subject::kEnglish},
    // Backtracking: greedy runs given back, lazy runs extended, nested repetitions that fail late.
    {"words_the", "(?:\\w+\\s+){3}the\\b", Subject::kEnglish},
    {"line_alice_said", "[^\\n]*Alice[^\\n]*said", Subject::kEnglish},
    {"lazy_commas", "(?:[^,\\n]*?,){3}", Subject::kEnglish},
    {"proper_runs", "(?:[A-Z][a-z]+\\s+){2,}[A-Z][a-z]+", Subject::kEnglish},
    {"of_the", "\\w+\\s+(?:of|the|and)\\s+\\w+ly\\b", Subject::kEnglish},
};

#undef KEL_OCTET

// ---- Expected counts and results ----------------------------------------------------------------------------------

// Matches PCRE2's interpreter finds in the case's subject, or -1 when the pattern does not compile.
long long pcre2Count(const Case& c) {
    static std::map<const Case*, long long>& cache = *new std::map<const Case*, long long>;
    auto it = cache.find(&c);
    if (it != cache.end()) return it->second;
    const std::string& t = subjectText(c.subject);
    int err;
    PCRE2_SIZE off;
    pcre2_code* code =
        pcre2_compile(reinterpret_cast<PCRE2_SPTR>(c.pattern), PCRE2_ZERO_TERMINATED, 0, &err, &off, nullptr);
    long long n = -1;
    if (code) {
        pcre2_match_data* md = pcre2_match_data_create_from_pattern(code, nullptr);
        n = 0;
        PCRE2_SIZE from = 0;
        while (from <= t.size() &&
               pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(t.data()), t.size(), from, 0, md, nullptr) >= 0) {
            const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md);
            ++n;
            from = ov[1] > ov[0] ? ov[1] : ov[0] + 1;
        }
        pcre2_match_data_free(md);
        pcre2_code_free(code);
    }
    return cache[&c] = n;
}

// Capturing groups of the pattern, as PCRE2 counts them.
int pcre2Groups(const Case& c) {
    int err;
    PCRE2_SIZE off;
    pcre2_code* code =
        pcre2_compile(reinterpret_cast<PCRE2_SPTR>(c.pattern), PCRE2_ZERO_TERMINATED, 0, &err, &off, nullptr);
    uint32_t n = 0;
    if (code) pcre2_pattern_info(code, PCRE2_INFO_CAPTURECOUNT, &n);
    pcre2_code_free(code);
    return static_cast<int>(n);
}

struct Result {
    double bytesPerSecond = 0;
    long long count = -1;
    std::string error;  // why the implementation has no usable result
};
std::map<std::string, std::map<std::string, Result>> gResults;  // case name -> implementation -> result
bool gPeerMismatch = false;

double threadSeconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// Times the benchmark loop itself so that the summary can be printed without access to bench_main's reporter; the
// last call of a benchmark function is its measured run. CPU time of the thread, as the library's rates use: the
// machine may be shared, and waiting for a core is not the matcher's cost.
template <typename Body>
void timeLoop(benchmark::State& state, const Case& c, const char* impl, Body&& body) {
    const double start = threadSeconds();
    long long count = -1;
    for (auto _ : state) count = body();
    const double seconds = threadSeconds() - start;
    const std::string& t = subjectText(c.subject);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(t.size()));
    state.counters["matches"] = static_cast<double>(count);
    Result& r = gResults[c.name][impl];
    r.count = count;
    r.bytesPerSecond = seconds > 0 ? static_cast<double>(state.iterations()) * t.size() / seconds : 0;
}

// A peer that finds another number of matches than PCRE2's interpreter runs other semantics: the ratio would
// compare different work, so the run fails.
void checkPeerCount(benchmark::State& state, const Case& c, const char* impl) {
    const Result& r = gResults[c.name][impl];
    const long long want = pcre2Count(c);
    if (r.count == want) return;
    gPeerMismatch = true;
    const std::string msg = std::string(impl) + " finds " + std::to_string(r.count) + " matches, PCRE2 " +
                            std::to_string(want) + ": the case is not comparable";
    std::fprintf(stderr, "regexp_bench: %s: %s\n", c.name, msg.c_str());
    gResults[c.name][impl].error = "count";
    state.SkipWithError(msg.c_str());
}

// ---- Implementations ----------------------------------------------------------------------------------------------

void BM_kel(benchmark::State& state, const Case& c) {
    const std::string& t = subjectText(c.subject);
    int size = 0;
    int err = 0;
    std::vector<std::uint8_t> block;
    KelStatus st = kelsRegExpGetSize(c.pattern, &size);
    if (st == kelStatusOk) {
        block.resize(static_cast<size_t>(size));
        st = kelsRegExpInit(c.pattern, "g", reinterpret_cast<RegExpState*>(block.data()), &err);
    }
    if (st != kelStatusOk) {
        gResults[c.name]["kel"].error = "compile " + std::to_string(st);
        state.SkipWithError(("kelsRegExpInit fails with status " + std::to_string(st)).c_str());
        return;
    }
    auto* re = reinterpret_cast<RegExpState*>(block.data());
    kelsRegExpSetFormat(0, re);
    // The default limit is sized for one line at a time; a whole subject in one call needs far more.
    kelsRegExpSetMatchLimit(1 << 30, re);
    // With groups, the `g` search reports groups 1.. of every match (not group 0); without, the whole match.
    const int groups = pcre2Groups(c);
    const int perMatch = groups > 0 ? groups : 1;
    std::vector<RegExpMatchRecord> rec((t.size() + 1) * static_cast<size_t>(perMatch));
    KelStatus last = kelStatusOk;
    timeLoop(state, c, "kel", [&]() -> long long {
        int n = static_cast<int>(rec.size());
        last =
            kelsRegExpFind_8u(reinterpret_cast<const Kel8u*>(t.data()), static_cast<int>(t.size()), re, rec.data(), &n);
        benchmark::DoNotOptimize(rec.data());
        return last < 0 ? -1 : n / perMatch;
    });
    Result& r = gResults[c.name]["kel"];
    if (last < 0) {
        r.error = "status " + std::to_string(last);
        state.SkipWithError(("kelsRegExpFind_8u fails with status " + std::to_string(last)).c_str());
        return;
    }
    if (r.count != pcre2Count(c)) r.error = "count";
    state.counters["pcre2_matches"] = static_cast<double>(pcre2Count(c));
}

void BM_pcre2(benchmark::State& state, const Case& c, bool jit) {
    const char* impl = jit ? "pcre2jit" : "pcre2";
    const std::string& t = subjectText(c.subject);
    int err;
    PCRE2_SIZE off;
    pcre2_code* code =
        pcre2_compile(reinterpret_cast<PCRE2_SPTR>(c.pattern), PCRE2_ZERO_TERMINATED, 0, &err, &off, nullptr);
    if (!code) {
        gPeerMismatch = true;
        state.SkipWithError("PCRE2 does not compile the pattern");
        return;
    }
    if (jit && pcre2_jit_compile(code, PCRE2_JIT_COMPLETE) != 0) {
        pcre2_code_free(code);
        state.SkipWithError("PCRE2 JIT is not available");
        return;
    }
    pcre2_match_data* md = pcre2_match_data_create_from_pattern(code, nullptr);
    timeLoop(state, c, impl, [&]() -> long long {
        long long n = 0;
        PCRE2_SIZE from = 0;
        while (from <= t.size() &&
               pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(t.data()), t.size(), from, 0, md, nullptr) >= 0) {
            const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md);
            ++n;
            from = ov[1] > ov[0] ? ov[1] : ov[0] + 1;
        }
        return n;
    });
    pcre2_match_data_free(md);
    pcre2_code_free(code);
    checkPeerCount(state, c, impl);
}

RE2::Options re2Options() {
    RE2::Options o;
    o.set_encoding(RE2::Options::EncodingLatin1);
    o.set_log_errors(false);
    return o;
}

void BM_re2(benchmark::State& state, const Case& c) {
    const std::string& t = subjectText(c.subject);
    const RE2 re(c.pattern, re2Options());
    timeLoop(state, c, "re2", [&]() -> long long {
        long long n = 0;
        const re2::StringPiece in(t);
        re2::StringPiece m;
        size_t pos = 0;
        while (pos <= t.size() && re.Match(in, pos, t.size(), RE2::UNANCHORED, &m, 1)) {
            ++n;
            const size_t start = static_cast<size_t>(m.data() - t.data());
            pos = m.empty() ? start + 1 : start + m.size();
        }
        return n;
    });
    checkPeerCount(state, c, "re2");
}

// ---- Summary ------------------------------------------------------------------------------------------------------

// One row per case: kel's throughput, the throughput ratio kel / peer for each peer (above 1: kel is faster), and
// the counts when kel's differs from PCRE2's. bench/report reads only bench_main's table, which ends at the
// summary's title; the rows carry a note column all the same, so that none has the shape of a table row. The geometric
// means take the cases that have both numbers, including those where kel's count is wrong (marked), since the time was
// spent all the same.
void printSummary() {
    if (gResults.empty()) return;
    std::printf("\nregexp summary: throughput ratio kel / peer per case (above 1.00: kel is faster)\n");
    std::printf("%-18s %-8s %10s %10s %10s %10s %10s %10s  %s\n", "case", "subject", "kel MB/s", "pcre2 MB/s",
                "kel/pcre2", "kel/jit", "kel/re2", "matches", "note");
    const char* peers[] = {"pcre2", "pcre2jit", "re2"};
    double logSum[3] = {0, 0, 0};
    int logN[3] = {0, 0, 0};
    int belowOne = 0;
    for (const Case& c : kCases) {
        auto it = gResults.find(c.name);
        if (it == gResults.end()) continue;
        const auto& impls = it->second;
        auto get = [&](const char* impl) -> const Result* {
            auto f = impls.find(impl);
            return f == impls.end() ? nullptr : &f->second;
        };
        const Result* kel = get("kel");
        const bool kelTimed = kel && kel->bytesPerSecond > 0 && (kel->error.empty() || kel->error == "count");
        char cols[3][16];
        for (int i = 0; i < 3; ++i) {
            const Result* p = get(peers[i]);
            if (kelTimed && p && p->error.empty() && p->bytesPerSecond > 0) {
                const double ratio = kel->bytesPerSecond / p->bytesPerSecond;
                std::snprintf(cols[i], sizeof cols[i], "%.2f", ratio);
                logSum[i] += std::log(ratio);
                ++logN[i];
                if (i == 0 && ratio < 1.0) ++belowOne;
            } else {
                std::snprintf(cols[i], sizeof cols[i], "%s", "-");
            }
        }
        const Result* ref = get("pcre2");
        std::string note;
        if (kel && kel->error == "count") {
            note = "KEL COUNT DIFFERS: kel " + std::to_string(kel->count) + ", pcre2 " + std::to_string(pcre2Count(c));
        } else if (kel && !kel->error.empty()) {
            note = "KEL FAILS: " + kel->error;
        }
        if (!get("re2") && impls.count("kel")) note += note.empty() ? "re2 n/a" : "; re2 n/a";
        if (note.empty()) note = "ok";
        char kelRate[16] = "-", refRate[16] = "-";
        if (kelTimed) std::snprintf(kelRate, sizeof kelRate, "%.1f", kel->bytesPerSecond / 1e6);
        if (ref && ref->bytesPerSecond > 0) std::snprintf(refRate, sizeof refRate, "%.1f", ref->bytesPerSecond / 1e6);
        const char* subject = c.subject == Subject::kEnglish ? "english"
                              : c.subject == Subject::kHtml  ? "html"
                                                             : "urls";
        std::printf("%-18s %-8s %10s %10s %10s %10s %10s %10lld  %s\n", c.name, subject, kelRate, refRate, cols[0],
                    cols[1], cols[2], pcre2Count(c), note.c_str());
    }
    std::printf("%-18s %-8s %10s %10s", "geometric mean", "", "", "");
    for (int i = 0; i < 3; ++i) {
        if (logN[i] > 0) {
            std::printf(" %10.2f", std::exp(logSum[i] / logN[i]));
        } else {
            std::printf(" %10s", "-");
        }
    }
    std::printf(" %10s  %d of %d cases below 1.00 against pcre2\n", "", belowOne, logN[0]);
    if (gPeerMismatch) std::printf("regexp summary: a peer disagrees with PCRE2's count; see the errors above\n");
    std::fflush(stdout);
    // bench_main returns 0 whatever the runs did; a count disagreement among the peers must not pass unnoticed.
    if (gPeerMismatch) std::_Exit(1);
}

int registerAll() {
    for (const Case& c : kCases) {
        const std::string suffix = std::string("/") + c.name;
        benchmark::RegisterBenchmark(("BM_Regex/kel" + suffix).c_str(), [&c](benchmark::State& s) { BM_kel(s, c); });
        benchmark::RegisterBenchmark(("BM_Regex/pcre2" + suffix).c_str(),
                                     [&c](benchmark::State& s) { BM_pcre2(s, c, false); });
        benchmark::RegisterBenchmark(("BM_Regex/pcre2jit" + suffix).c_str(),
                                     [&c](benchmark::State& s) { BM_pcre2(s, c, true); });
        // RE2 has no back-references or look-arounds; such cases run without it.
        if (RE2(c.pattern, re2Options()).ok()) {
            benchmark::RegisterBenchmark(("BM_Regex/re2" + suffix).c_str(),
                                         [&c](benchmark::State& s) { BM_re2(s, c); });
        }
    }
    // bench_main prints its table after the runs and returns from main; the summary follows at exit.
    std::atexit(printSummary);
    return 0;
}
const int kRegistered = registerAll();

}  // namespace

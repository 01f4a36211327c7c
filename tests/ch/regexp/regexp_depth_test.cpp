// tests/ch/regexp/regexp_depth_test.cpp - how deep and how long the matcher may go: long repetitions and many
// groups match (records checked against PCRE2's interpreter) once the match limit allows them, the default limit
// still stops them, and the matcher runs on a 64 KiB thread stack whatever the pattern.
#include <gtest/gtest.h>
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#include <pthread.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ch/regexp/regexp_internal.h"
#include "kelch.h"

namespace {

struct Compiled {
    std::vector<std::uint8_t> block;
    RegExpState* state() { return reinterpret_cast<RegExpState*>(block.data()); }
};

Compiled compile(const std::string& pattern, int limit) {
    Compiled p;
    int size = 0;
    EXPECT_EQ(kelsRegExpGetSize(pattern.c_str(), &size), kelStatusOk);
    p.block.assign(size, 0);
    int err = 0;
    EXPECT_EQ(kelsRegExpInit(pattern.c_str(), "", p.state(), &err), kelStatusOk) << pattern;
    if (limit >= 0) kelsRegExpSetMatchLimit(limit, p.state());
    return p;
}

// Records of one search as "start-end" per group ("-" unset), "none", or "limit" for -188.
std::string search(const std::string& pattern, const std::string& subject, int limit) {
    Compiled p = compile(pattern, limit);
    const int groups = n8_loadRegExpHeader(p.state()).numGroups;
    std::vector<RegExpMatchRecord> rec(groups);
    int n = groups;
    const Kel8u* src = reinterpret_cast<const Kel8u*>(subject.data());
    const KelStatus st = kelsRegExpFind_8u(src, static_cast<int>(subject.size()), p.state(), rec.data(), &n);
    if (st == kelStatusRegExpMatchLimit) return "limit";
    if (st != kelStatusOk) return "status " + std::to_string(st);
    if (n == 0) return "none";
    std::string out;
    for (int g = 0; g < n; ++g) {
        if (g) out += ' ';
        out += rec[g].lenFind < 0
                   ? "-"
                   : std::to_string(rec[g].pFind - src) + "-" + std::to_string(rec[g].pFind - src + rec[g].lenFind);
    }
    return out;
}

// PCRE2's interpreter, with heap and match limits high enough for megabyte subjects.
std::string pcre2Records(const std::string& pattern, const std::string& subject) {
    int err;
    PCRE2_SIZE off;
    pcre2_compile_context* cc = pcre2_compile_context_create(nullptr);
    pcre2_set_parens_nest_limit(cc, 1000);
    pcre2_code* code =
        pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.c_str()), PCRE2_ZERO_TERMINATED, PCRE2_UTF, &err, &off, cc);
    pcre2_compile_context_free(cc);
    if (!code) return "compile error";
    pcre2_match_context* mc = pcre2_match_context_create(nullptr);
    pcre2_set_heap_limit(mc, 4u << 20);  // KiB
    pcre2_set_match_limit(mc, 100000000);
    pcre2_set_depth_limit(mc, 100000000);
    pcre2_match_data* md = pcre2_match_data_create_from_pattern(code, nullptr);
    const int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), 0, 0, md, mc);
    std::string out;
    if (rc == PCRE2_ERROR_NOMATCH) {
        out = "none";
    } else if (rc < 0) {
        out = "pcre2 error " + std::to_string(rc);
    } else {
        const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md);
        const int groups = static_cast<int>(pcre2_get_ovector_count(md));
        for (int g = 0; g < groups; ++g) {
            if (g) out += ' ';
            out += g >= rc || ov[2 * g] == PCRE2_UNSET
                       ? "-"
                       : std::to_string(ov[2 * g]) + "-" + std::to_string(ov[2 * g + 1]);
        }
    }
    pcre2_match_data_free(md);
    pcre2_match_context_free(mc);
    pcre2_code_free(code);
    return out;
}

constexpr int kBigLimit = 10000000;
constexpr std::size_t kMiB = 1u << 20;

std::string randomOf(const std::string& alphabet, std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, ' ');
    for (auto& ch : s) ch = alphabet[rng() % alphabet.size()];
    return s;
}

// A quoted string of n bytes whose body mixes plain bytes and backslash escapes (including escaped quotes).
std::string quotedString(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s = "\"";
    while (s.size() + 3 < n) {
        const unsigned r = rng() % 10;
        if (r < 7) {
            s += "abc xyz"[rng() % 7];
        } else {
            s += '\\';
            s += "\"\\n"[rng() % 3];
        }
    }
    return s + "\"";
}

std::string wordLine(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() + 10 < n) {
        if (!s.empty()) s += ' ';
        const int len = 1 + static_cast<int>(rng() % 8);
        for (int k = 0; k < len; ++k) s += static_cast<char>('a' + rng() % 26);
    }
    return s;
}

std::string repeat(const std::string& s, int times) {
    std::string out;
    for (int k = 0; k < times; ++k) out += s;
    return out;
}

}  // namespace

// Loops over alternatives or items whose first bytes exclude each other keep no backtracking entries per
// iteration, so with a limit that allows the depth they match megabyte subjects like PCRE2 does.
TEST(RegExpDepth, LongRepetitionsMatchLikePcre2) {
    struct Case {
        const char* pattern;
        std::string subject;
    };
    const Case cases[] = {
        {"(?:a|b)*c", randomOf("ab", kMiB, 1) + "c"},
        {"(a|b)*c", randomOf("ab", kMiB, 2) + "c"},
        {"\"(?:[^\"\\\\]|\\\\.)*\"", quotedString(kMiB, 3)},
        {"x(?:[^\"\\\\]|\\\\.)*\"", "x" + quotedString(kMiB, 4).substr(1)},
        {"(?:a|b)*c", randomOf("ab", 10001, 5) + "c"},
        {"[a-z]+(?:,[a-z]+)*;", repeat("abc,", 200000) + "z;"},
        {"^(?:\\w+\\s?)*$", wordLine(5000, 6)},
        // Each iteration's \w+ could give back only to positions where the iteration ends at once and the next
        // one runs the same loop to the same place: no entries per word, a megabyte line matches.
        {"^(?:\\w+\\s?)*$", wordLine(kMiB, 10)},
        {"^(?:[a-z]+[ ,]?;?)+$", wordLine(kMiB, 11)},
    };
    for (const auto& c : cases) {
        const std::string ours = search(c.pattern, c.subject, kBigLimit);
        EXPECT_NE(ours, "limit") << c.pattern << " over " << c.subject.size() << " bytes";
        EXPECT_EQ(ours, pcre2Records(c.pattern, c.subject)) << c.pattern << " over " << c.subject.size() << " bytes";
    }
}

// Loops that open a repeated group and give back nothing worth trying (the rest of the iteration cannot take
// their bytes, and a new iteration would run the same loop to the same place): every record as PCRE2 reports
// it, over groups where the rule holds and near misses where it must not (captures, alternatives, a rest that
// accepts the loop's bytes, a group that could end there).
TEST(RegExpDepth, LoopsOpeningRepeatedGroupsAgreeWithPcre2) {
    const char* opens[] = {"(?:", "(?i:", "("};
    const char* loops[] = {"\\w+", "[a-c]+", "a+", "\\d+", "[^ ,;]+", "[ab]*", "\\w+?"};
    const char* rests[] = {"", "\\s?", " ?", ",?", "[ ,]*", ";", "\\s?;?", " ?,", "b?", "\\d?", "|x", "-??"};
    const char* quants[] = {"*", "+", "{2,}", "*?"};
    const char* afters[] = {"$", "", ";", "\\d", "b", "(?: |$)", "\\b", "\\z", ",x"};
    const char* leads[] = {"^", "", "x"};
    const unsigned seed = 21;
    std::mt19937 rng(seed);
    int compared = 0;
    for (int k = 0; k < 3000; ++k) {
        const std::string pattern = std::string(leads[rng() % 3]) + opens[rng() % 3] + loops[rng() % 7] +
                                    rests[rng() % 12] + ")" + quants[rng() % 4] + afters[rng() % 9];
        const std::string subject = (rng() % 2 ? "x" : "") + randomOf("abc1 ,;A", rng() % 24, rng());
        const std::string want = pcre2Records(pattern, subject);
        if (want.rfind("pcre2", 0) == 0 || want == "compile error") continue;
        EXPECT_EQ(search(pattern, subject, kBigLimit), want)
            << "/" << pattern << "/ on \"" << subject << "\" seed " << seed;
        ++compared;
    }
    EXPECT_GT(compared, 2500);
}

// The depth and budget rules still decide: the default limit stops the same repetitions as ever.
TEST(RegExpDepth, DefaultLimitStillStopsLongRepetitions) {
    EXPECT_EQ(search("(?:a|b)*c", randomOf("ab", 10001, 7) + "c", -1), "limit");
    EXPECT_EQ(search("\"(?:[^\"\\\\]|\\\\.)*\"", quotedString(20000, 8), -1), "limit");
    EXPECT_EQ(search("(?:a|b)*c", randomOf("ab", 100, 9) + "c", -1), "0-101");
    // Below 4 the depth budget is gone before the first node.
    EXPECT_EQ(search("a", "a", 3), "limit");
    EXPECT_EQ(search("a", "a", 4), "0-1");
}

// A repeat over a run it has already measured does not scan it again, so each unit of work is bounded and a
// nested repetition that fails everywhere ends with the limit status after work in proportion to the limit and
// the subject, not to their product.
TEST(RegExpDepth, NestedRepetitionOverAMegabyteEndsWithTheLimit) {
    const std::string run(1000000, 'a');
    EXPECT_EQ(search("(a*)*\\d", run, 100), "limit");
    // A greedy loop's tries of the rest count as work even when they fail at once: without that, every start
    // position scanned the whole run back (quadratic in the subject, with no limit in sight).
    EXPECT_EQ(search("a.*\\d", run, 10000), "limit");
    EXPECT_EQ(search("a.*\\d", std::string(1000, 'a') + "1", 10000), "0-1001");
    EXPECT_EQ(search("(?:a*)*\\d", run, 100), "limit");
    EXPECT_EQ(search("(a*)*\\d", std::string(20, 'a') + "1", 100000), "0-21 20-20");
}

// Many groups in sequence and nested to the deepest level: every record, as PCRE2 reports it.
TEST(RegExpDepth, ThousandGroupsReportEveryRecord) {
    const std::string sequential = repeat("(a)", 1000);
    const std::string subject(1000, 'a');
    const std::string ours = search(sequential, subject, kBigLimit);
    EXPECT_EQ(ours, pcre2Records(sequential, subject));
    EXPECT_EQ(ours.substr(0, 12), "0-1000 0-1 1");

    const std::string nested = repeat("(", 999) + "b" + repeat(")", 999);
    EXPECT_EQ(search(nested, "ab", kBigLimit), pcre2Records(nested, "ab"));
    const std::string nestedAlt = repeat("(?:x|", 500) + "b" + repeat(")", 500);
    EXPECT_EQ(search(nestedAlt, "ab", kBigLimit), pcre2Records(nestedAlt, "ab"));
}

// Optional groups keep a choice each (skipping the group); the choice also holds the group's capture as it was,
// and no deeper group's record is copied while no choice resumes that deep, so a thousand of them in a row, or
// five hundred nested, fit the stack.
TEST(RegExpDepth, ThousandOptionalGroupsMatch) {
    const std::string subject(1000, 'a');
    const std::string optional = repeat("(a)?", 1000);
    const std::string ours = search(optional, subject, kBigLimit);
    EXPECT_EQ(ours, pcre2Records(optional, subject));
    EXPECT_EQ(ours.substr(0, 12), "0-1000 0-1 1");
    // Backtracking into the last group skips it: its record reads unset again.
    const std::string tail = optional + "ab";
    const std::string tailOurs = search(tail, subject + "b", kBigLimit);
    EXPECT_EQ(tailOurs, pcre2Records(tail, subject + "b"));
    EXPECT_EQ(tailOurs.substr(tailOurs.size() - 9), "998-999 -");

    const std::string nested = repeat("(a", 500) + repeat(")?", 500);
    EXPECT_EQ(search(nested, std::string(500, 'a'), kBigLimit), pcre2Records(nested, std::string(500, 'a')));
    EXPECT_EQ(search(nested, std::string(300, 'a') + "b", kBigLimit),
              pcre2Records(nested, std::string(300, 'a') + "b"));
    const std::string nestedAlt = repeat("(?:(a)|b)?", 400) + "c";
    const std::string mixed = randomOf("ab", 400, 12) + "c";
    EXPECT_EQ(search(nestedAlt, mixed, kBigLimit), pcre2Records(nestedAlt, mixed));
}

// ---- Native stack use -------------------------------------------------------------------------------------------

namespace {

constexpr std::size_t kThreadStack = 64 * 1024;

struct StackRun {
    std::vector<std::string> results;
    std::size_t used = 0;
};

struct HardCase {
    std::string pattern;
    std::string subject;
    int limit;
};

std::vector<HardCase> hardCases() {
    return {
        {"(?:a|b)*c", randomOf("ab", kMiB, 11) + "c", kBigLimit},
        {"\"(?:[^\"\\\\]|\\\\.)*\"", quotedString(kMiB, 12), kBigLimit},
        {"(?:a|ab)*c", repeat("ab", 20000), kBigLimit},
        {"(a|aa)+[bc]", std::string(3000, 'a'), 100000},
        {"((a+)*)+[bc]", std::string(3000, 'a'), 100000},
        {repeat("(a)", 1000), std::string(1000, 'a'), kBigLimit},
        {repeat("(", 999) + "a" + repeat(")", 999), "xa", kBigLimit},
        {repeat("(?=a", 400) + repeat(")", 400) + "a", std::string(100, 'a'), kBigLimit},
        {repeat("(?:a", 500) + repeat(")*", 500) + "b", std::string(2000, 'a'), kBigLimit},
    };
}

// Paints the unused part of this thread's stack (from its lowest address up to a margin below the caller's
// frame) so that the high-water mark can be read afterwards.
__attribute__((noinline)) void paintStack(std::uint8_t* low, std::size_t len) {
    for (std::size_t k = 0; k < len; ++k) static_cast<volatile std::uint8_t*>(low)[k] = 0xA5;
}

void* runOnSmallStack(void* arg) {
    auto* run = static_cast<StackRun*>(arg);
    pthread_attr_t attr;
    void* base = nullptr;
    std::size_t size = 0;
    pthread_getattr_np(pthread_self(), &attr);
    pthread_attr_getstack(&attr, &base, &size);
    pthread_attr_destroy(&attr);
    std::uint8_t* low = static_cast<std::uint8_t*>(base);
    const std::uint8_t* here = static_cast<const std::uint8_t*>(__builtin_frame_address(0));
    const std::size_t paint = static_cast<std::size_t>(here - low) - 2048;
    paintStack(low, paint);
    const auto cases = hardCases();
    for (const auto& c : cases) run->results.push_back(search(c.pattern, c.subject, c.limit));
    std::size_t untouched = 0;
    while (untouched < paint && low[untouched] == 0xA5) ++untouched;
    run->used = static_cast<std::size_t>(here - low) - untouched;
    return nullptr;
}

}  // namespace

// The matcher's native stack use is bounded by a constant: a thread with a 64 KiB stack runs the deepest and
// longest searches, with the same results as on the main thread.
TEST(RegExpDepth, RunsOnA64KiBThreadStack) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "instrumented frames do not fit the small stack";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "instrumented frames do not fit the small stack";
#endif
#endif
    StackRun run;
    pthread_attr_t attr;
    ASSERT_EQ(pthread_attr_init(&attr), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, kThreadStack), 0);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attr, runOnSmallStack, &run), 0);
    ASSERT_EQ(pthread_join(thread, nullptr), 0);
    pthread_attr_destroy(&attr);
    const auto cases = hardCases();
    ASSERT_EQ(run.results.size(), cases.size());
    for (std::size_t k = 0; k < cases.size(); ++k) {
        EXPECT_EQ(run.results[k], search(cases[k].pattern, cases[k].subject, cases[k].limit)) << cases[k].pattern;
    }
    std::printf("native stack high-water mark: %zu bytes\n", run.used);
    EXPECT_LT(run.used, 40u * 1024);
}

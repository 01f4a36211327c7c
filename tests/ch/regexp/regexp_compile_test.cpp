// tests/ch/regexp/regexp_compile_test.cpp - the pattern compiler: the compile cases of cases/*.txt (programs and
// errors) under guard pages, argument checks, nesting and group limits, and a seeded sweep of random patterns
// against the node-program rules.
#include <gtest/gtest.h>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ch/regexp/regexp_dump.h"
#include "ch/regexp/regexp_internal.h"
#include "kelch.h"
#include "support/test_util.h"

namespace {

using kel::test::GuardedBuffer;

// A compiled pattern in exactly the block size kelsRegExpGetSize reports, with both the pattern (its NUL last)
// and the block flush against inaccessible pages.
struct Compiled {
    std::unique_ptr<GuardedBuffer> pattern;
    std::unique_ptr<GuardedBuffer> block;
    int size = 0;
    KelStatus status = 0;
    int errOffset = -12345;

    RegExpState* state() { return reinterpret_cast<RegExpState*>(block->data()); }
};

Compiled compile(const std::string& pattern, const char* options = nullptr) {
    Compiled c;
    c.pattern = std::make_unique<GuardedBuffer>(pattern.size() + 1);
    c.pattern->fill(pattern.c_str(), pattern.size() + 1);
    const char* pat = reinterpret_cast<const char*>(c.pattern->data());
    EXPECT_EQ(kelsRegExpGetSize(pat, &c.size), kelStatusOk);
    c.block = std::make_unique<GuardedBuffer>(c.size);
    std::memset(c.block->data(), 0x5A, c.size);
    c.status = kelsRegExpInit(pat, options, c.state(), &c.errOffset);
    return c;
}

// ---- Data-driven cases -----------------------------------------------------------------------------------------

struct Case {
    std::string file;
    int line = 0;
    std::string pattern;
    std::string options;
    bool hasOptions = false;
    bool nopcre = false;
    bool isError = false;
    int status = 0;
    int offset = 0;
    std::string listing;
};

std::vector<Case> loadCases() {
    std::vector<Case> cases;
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(KEL_REGEXP_CASES_DIR)) {
        if (e.path().extension() == ".txt") files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    for (const auto& path : files) {
        std::ifstream in(path);
        std::string text;
        int lineNo = 0;
        while (std::getline(in, text)) {
            ++lineNo;
            if (text.rfind("pattern ", 0) == 0 || text.rfind("hex", 0) == 0) {
                Case c;
                c.file = path.filename().string();
                c.line = lineNo;
                if (text[0] == 'p') {
                    c.pattern = text.substr(8);
                } else {
                    std::istringstream hex(text.substr(3));
                    unsigned v;
                    while (hex >> std::hex >> v) c.pattern += static_cast<char>(v);
                }
                cases.push_back(c);
            } else if (cases.empty() || text.empty() || text[0] == '#') {
                continue;
            } else if (text.rfind("options ", 0) == 0) {
                cases.back().options = text.substr(8);
                cases.back().hasOptions = true;
            } else if (text == "nopcre") {
                cases.back().nopcre = true;
            } else if (text.rfind("error ", 0) == 0) {
                cases.back().isError = true;
                std::istringstream(text.substr(6)) >> cases.back().status >> cases.back().offset;
            } else if (text.rfind("  ", 0) == 0) {
                cases.back().listing += text.substr(2) + "\n";
            } else {
                ADD_FAILURE() << path << ":" << lineNo << ": unreadable line";
            }
        }
    }
    return cases;
}

// Whether PCRE2 accepts the pattern with the same options (g has no PCRE2 compile option).
bool pcre2Accepts(const std::string& pattern, const std::string& options) {
    uint32_t flags = 0;
    for (char o : options) {
        if (o == 'i') flags |= PCRE2_CASELESS;
        if (o == 'm') flags |= PCRE2_MULTILINE;
        if (o == 's') flags |= PCRE2_DOTALL;
        if (o == 'x') flags |= PCRE2_EXTENDED;
    }
    // Code points above 255 need PCRE2's UTF mode; a pattern with bytes that are no UTF-8 needs the byte mode.
    for (uint32_t mode : {PCRE2_UTF, 0u}) {
        int err;
        PCRE2_SIZE off;
        pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.c_str()), pattern.size(), flags | mode,
                                         &err, &off, nullptr);
        if (code) {
            pcre2_code_free(code);
            return true;
        }
    }
    return false;
}

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.file << ":" << c.line;
}

class RegExpCompileCase : public ::testing::TestWithParam<Case> {};

TEST_P(RegExpCompileCase, MatchesExpectation) {
    const Case& k = GetParam();
    SCOPED_TRACE(k.file + ":" + std::to_string(k.line) + " pattern \"" + k.pattern + "\"");
    Compiled c = compile(k.pattern, k.hasOptions ? k.options.c_str() : nullptr);
    if (k.isError) {
        EXPECT_EQ(c.status, k.status);
        EXPECT_EQ(c.errOffset, k.offset);
        return;
    }
    ASSERT_EQ(c.status, kelStatusOk) << "error offset " << c.errOffset;
    EXPECT_EQ(c.errOffset, -12345) << "the error offset is written only on failure";
    EXPECT_EQ(n8_regExpDump(c.state()), k.listing);
    EXPECT_EQ(n8_regExpCheck(c.state(), c.size), "");
    // The literal text was copied: the program lists the same once the pattern is gone.
    std::memset(c.pattern->data(), 0xEE, c.pattern->size());
    EXPECT_EQ(n8_regExpDump(c.state()), k.listing);
    if (!k.nopcre) EXPECT_TRUE(pcre2Accepts(k.pattern, k.options));
}

INSTANTIATE_TEST_SUITE_P(Cases, RegExpCompileCase, ::testing::ValuesIn(loadCases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             std::string name = info.param.file.substr(0, info.param.file.find('.')) + "_line" +
                                                std::to_string(info.param.line);
                             return name;
                         });

// ---- Entry points ----------------------------------------------------------------------------------------------

TEST(RegExpCompile, GetSizeCountsOneNodePerPatternByte) {
    int size = -1;
    EXPECT_EQ(kelsRegExpGetSize(nullptr, &size), kelStatusNullPointer);
    EXPECT_EQ(kelsRegExpGetSize("a", nullptr), kelStatusNullPointer);
    EXPECT_EQ(size, -1);
    EXPECT_EQ(kelsRegExpGetSize("", &size), kelStatusOk);
    EXPECT_EQ(size, 48056);
    EXPECT_EQ(kelsRegExpGetSize("(a|b)*", &size), kelStatusOk);
    EXPECT_EQ(size, 48056 + 6 * 24);
}

TEST(RegExpCompile, PatternsWhoseStateSizeOverflowsAreRefused) {
    std::string p(89476482, 'a');
    int size = -1;
    EXPECT_EQ(kelsRegExpGetSize(p.c_str(), &size), kelStatusOk);
    EXPECT_EQ(size, 2147483624);
    p += 'a';
    size = -1;
    EXPECT_EQ(kelsRegExpGetSize(p.c_str(), &size), kelStatusBadSize);
    EXPECT_EQ(size, -1);
    Kel8u untouched[64] = {};
    int err = -1;
    EXPECT_EQ(kelsRegExpInit(p.c_str(), nullptr, reinterpret_cast<RegExpState*>(untouched), &err), kelStatusBadSize);
    EXPECT_EQ(err, -1);
    EXPECT_EQ(untouched[0], 0);
}

TEST(RegExpCompile, InitChecksPointersBeforeOptions) {
    std::vector<Kel8u> block(48100, 0x33);
    auto* state = reinterpret_cast<RegExpState*>(block.data());
    int err = -7;
    EXPECT_EQ(kelsRegExpInit(nullptr, "q", state, &err), kelStatusNullPointer);
    EXPECT_EQ(kelsRegExpInit("a", "q", nullptr, &err), kelStatusNullPointer);
    EXPECT_EQ(kelsRegExpInit("a", "q", state, nullptr), kelStatusNullPointer);
    EXPECT_EQ(err, -7);
    EXPECT_EQ(block[0], 0x33);
    EXPECT_EQ(kelsRegExpInit("a", "q", state, &err), kelStatusRegExpBadOption);
    EXPECT_EQ(err, 0);
    // A bad option is found before anything else is written, but the block's old program (if any) is withdrawn.
    for (int i = 0; i < 4; ++i) EXPECT_EQ(block[i], 0) << "magic byte " << i;
    for (std::size_t i = 4; i < block.size(); ++i) ASSERT_EQ(block[i], 0x33) << "byte " << i;
}

TEST(RegExpCompile, InitWritesHeaderAndDefaults) {
    Compiled c = compile("a(b)c", "gixgx");
    ASSERT_EQ(c.status, kelStatusOk);
    const RegExpHeader h = n8_loadRegExpHeader(c.state());
    Kel8u magic[4];
    std::memcpy(magic, c.block->data(), 4);
    EXPECT_EQ(std::memcmp(magic, "rgEx", 4), 0);
    EXPECT_EQ(h.options, kRegExpGlobal | kRegExpCaseless | kRegExpExtended);
    EXPECT_EQ(h.numGroups, 2);
    EXPECT_EQ(h.matchLimit, 10000);
    EXPECT_EQ(h.format, 1);
}

TEST(RegExpCompile, SettersCheckTheirArgumentsAndInitResetsThem) {
    Compiled c = compile("x");
    ASSERT_EQ(c.status, kelStatusOk);
    EXPECT_EQ(kelsRegExpSetMatchLimit(5, nullptr), kelStatusNullPointer);
    EXPECT_EQ(kelsRegExpSetMatchLimit(-1, c.state()), kelStatusBadLength);
    EXPECT_EQ(n8_loadRegExpHeader(c.state()).matchLimit, 10000);
    EXPECT_EQ(kelsRegExpSetMatchLimit(0, c.state()), kelStatusOk);
    EXPECT_EQ(n8_loadRegExpHeader(c.state()).matchLimit, 0);
    EXPECT_EQ(kelsRegExpSetFormat(0, nullptr), kelStatusNullPointer);
    EXPECT_EQ(kelsRegExpSetFormat(2, c.state()), kelStatusOutOfRange);
    EXPECT_EQ(kelsRegExpSetFormat(-1, c.state()), kelStatusOutOfRange);
    EXPECT_EQ(n8_loadRegExpHeader(c.state()).format, 1);
    EXPECT_EQ(kelsRegExpSetFormat(0, c.state()), kelStatusOk);
    EXPECT_EQ(n8_loadRegExpHeader(c.state()).format, 0);
    int err;
    ASSERT_EQ(kelsRegExpInit("x", nullptr, c.state(), &err), kelStatusOk);
    EXPECT_EQ(n8_loadRegExpHeader(c.state()).matchLimit, 10000);
    EXPECT_EQ(n8_loadRegExpHeader(c.state()).format, 1);
}

TEST(RegExpCompile, FailedInitThenSuccessfulInitIsUsable) {
    Compiled c = compile("(ab|cd)+e");
    ASSERT_EQ(c.status, kelStatusOk);
    const std::string listing = n8_regExpDump(c.state());
    int err = -1;
    EXPECT_EQ(kelsRegExpInit("(ab", nullptr, c.state(), &err), kelStatusRegExpBadGroup);
    EXPECT_EQ(err, 3);
    ASSERT_EQ(kelsRegExpInit(reinterpret_cast<const char*>(c.pattern->data()), nullptr, c.state(), &err), kelStatusOk);
    EXPECT_EQ(n8_regExpDump(c.state()), listing);
}

// ---- Escapes ---------------------------------------------------------------------------------------------------

// Whether `pattern` compiles and finds exactly `subject` (the whole of it) as its first match.
bool matchesWhole(const std::string& pattern, const std::string& subject) {
    Compiled c = compile(pattern);
    if (c.status != kelStatusOk) return false;
    RegExpMatchRecord rec{};
    int n = 1;
    const auto* src = reinterpret_cast<const Kel8u*>(subject.data());
    return kelsRegExpFind_8u(src, static_cast<int>(subject.size()), c.state(), &rec, &n) == kelStatusOk && n == 1 &&
           rec.pFind == src && rec.lenFind == static_cast<int>(subject.size());
}

// A letter escape is either one the engine defines or an error pointing at its backslash; it is never the plain
// letter, so a pattern written for an engine with more escapes cannot quietly match something else. Whatever
// PCRE2 refuses is refused here too.
TEST(RegExpCompile, UndefinedLetterEscapesAreErrorsInAndOutsideClasses) {
    const std::string outside = "aefnrtvxcdDsSwWABGZbzCXpPQE";
    const std::string inClass = "abefnrtvxcdDsSwWpPQE";
    for (char l = 'A'; l <= 'z'; ++l) {
        if (!std::isalpha(static_cast<unsigned char>(l))) continue;
        for (const bool cls : {false, true}) {
            const std::string pat = cls ? std::string("x[y\\") + l + "]" : std::string("xy\\") + l;
            SCOPED_TRACE(pat);
            const bool defined = (cls ? inClass : outside).find(l) != std::string::npos;
            Compiled c = compile(pat);
            if (defined) {
                // \c, \p and \P want an operand; what matters is only that they are not refused as unknown.
                if (c.status == kelStatusRegExpBadEscape) EXPECT_TRUE(l == 'c' || l == 'p' || l == 'P');
                continue;
            }
            EXPECT_EQ(c.status, kelStatusRegExpBadEscape);
            EXPECT_EQ(c.errOffset, cls ? 3 : 2);
        }
        if (!pcre2Accepts(std::string("a\\") + l + "b", "")) EXPECT_NE(compile(std::string("a\\") + l + "b").status, 0);
        if (!pcre2Accepts(std::string("[\\") + l + "b]", ""))
            EXPECT_NE(compile(std::string("[\\") + l + "b]").status, 0);
    }
}

// Escaped punctuation and escaped non-ASCII bytes stay literal, in and outside classes, whatever the byte means
// unescaped.
TEST(RegExpCompile, EscapedPunctuationIsLiteral) {
    for (int b = 0x21; b < 0x7F; ++b) {
        if (std::isalnum(b)) continue;
        const std::string one(1, static_cast<char>(b));
        EXPECT_TRUE(matchesWhole("\\" + one, one)) << one;
        // A class whose only member is `^` is refused however it is written.
        if (b != '^') EXPECT_TRUE(matchesWhole("[\\" + one + "]", one)) << one;
        EXPECT_TRUE(matchesWhole("[x\\" + one + "]", one)) << one;
        EXPECT_TRUE(matchesWhole("a\\" + one + "+", "a" + one + one)) << one;
    }
    EXPECT_TRUE(matchesWhole("\\\xc3\xa9", "\xc3\xa9"));
    EXPECT_TRUE(matchesWhole("a\\Eb", "ab")) << "a lone \\E ends nothing";
}

// ---- Limits ----------------------------------------------------------------------------------------------------

TEST(RegExpCompile, NestingStopsAt999Levels) {
    const auto nested = [](int depth) { return std::string(depth, '(') + "a" + std::string(depth, ')'); };
    Compiled ok = compile(nested(999));
    ASSERT_EQ(ok.status, kelStatusOk);
    EXPECT_EQ(n8_loadRegExpHeader(ok.state()).numGroups, 1000);
    EXPECT_EQ(n8_regExpCheck(ok.state(), ok.size), "");
    Compiled deep = compile(nested(1000));
    EXPECT_EQ(deep.status, kelStatusRegExpBadGroup);
    EXPECT_EQ(deep.errOffset, 999);
    // A condition opens two levels at once in the structure check.
    Compiled cond = compile(std::string(998, '(') + "(?(1)a)" + std::string(998, ')'));
    EXPECT_EQ(cond.status, kelStatusRegExpBadGroup);
    EXPECT_EQ(cond.errOffset, 998);
    Compiled lookBehinds = compile(std::string(998, '(') + "(?<=a)" + std::string(998, ')'));
    EXPECT_EQ(lookBehinds.status, kelStatusOk);
}

TEST(RegExpCompile, Group1000KeepsItsCaptureRecordOutOfTheProgram) {
    std::string p;
    for (int i = 0; i < 1000; ++i) p += "(a)";
    Compiled c = compile(p + "\\1000");
    ASSERT_EQ(c.status, kelStatusOk);
    EXPECT_EQ(n8_loadRegExpHeader(c.state()).numGroups, 1001);
    EXPECT_EQ(n8_regExpCheck(c.state(), c.size), "");
    // \1000 reads three digits: group 100, then a literal '0'.
    const RegExpNode ref = n8_loadRegExpNode(c.state(), 3000);
    EXPECT_EQ(ref.kind, kNodeBackReference);
    EXPECT_EQ(ref.a, 100);

    Kel8u* base = c.block->data();
    Kel8u* record1000 = n8_regExpCaptureRecord(c.state(), 1000);
    EXPECT_TRUE(record1000 + kRegExpCaptureRecordSize <= base + kRegExpCaptureOffset ||
                record1000 >= base + kRegExpCaptureOffset + 1000 * kRegExpCaptureRecordSize);
    EXPECT_TRUE(record1000 + kRegExpCaptureRecordSize <= base + kRegExpProgramOffset);
    EXPECT_GE(record1000, base + sizeof(RegExpHeader));
    EXPECT_LT(n8_regExpCaptureRecord(c.state(), 999), base + kRegExpProgramOffset);
    // Writing every capture record leaves the program intact.
    const std::string listing = n8_regExpDump(c.state());
    for (int g = 0; g <= 1000; ++g) std::memset(n8_regExpCaptureRecord(c.state(), g), 0xC3, kRegExpCaptureRecordSize);
    EXPECT_EQ(n8_regExpDump(c.state()), listing);

    Compiled over = compile(p + "(a)");
    EXPECT_EQ(over.status, kelStatusRegExpBadGroup);
    EXPECT_EQ(over.errOffset, 3000);
}

// ---- Random patterns -------------------------------------------------------------------------------------------

// Patterns assembled from syntax fragments and random bytes: every outcome must be success with a program that
// keeps the node-program rules, or a compile error with an offset inside the pattern.
TEST(RegExpCompile, RandomPatternsKeepTheProgramRules) {
    SCOPED_TRACE(kel::test::seedNote());
    auto rng = kel::test::makeRng(0x52656745);
    static const char* const kPieces[] = {
        "a",     "b",       "xyz",       "\xc3\xa9",   ".",       "*",          "+",       "?",   "*?",  "{2}",
        "{1,3}", "{,2}",    "{}",        "(",          ")",       "(?:",        "(?>",     "(?=", "(?!", "(?<=",
        "(?<!",  "(?i)",    "(?x)",      "(?-x)",      "(?s:",    "(?(1)",      "(?(?=a)", "|",   "[",   "]",
        "[^",    "-",       "[:alpha:]", "[:^space:]", "\\d",     "\\W",        "\\b",     "\\A", "\\1", "\\12",
        "\\x41", "\\x{e9}", "\\Q",       "\\E",        "\\p{Lu}", "\\P{Greek}", "\\pN",    "\\X", "\\C", "#",
        " ",     "\n",      "^",         "$",          "\\",      "\\c",        "(?#c)"};
    for (int round = 0; round < 20000; ++round) {
        std::string p;
        const int pieces = static_cast<int>(rng() % 12);
        for (int i = 0; i < pieces; ++i) {
            if (rng() % 8 == 0) {
                p += static_cast<char>(1 + rng() % 255);
            } else {
                p += kPieces[rng() % (sizeof kPieces / sizeof kPieces[0])];
            }
        }
        static const char* const kOptions[] = {nullptr, "", "i", "x", "smx", "g"};
        const char* options = kOptions[rng() % 6];
        Compiled c = compile(p, options);
        SCOPED_TRACE("pattern \"" + p + "\"");
        if (c.status == kelStatusOk) {
            ASSERT_EQ(n8_regExpCheck(c.state(), c.size), "");
        } else {
            ASSERT_TRUE(c.status == kelStatusRegExpBadEscape || c.status == kelStatusRegExpBadClass ||
                        c.status == kelStatusRegExpBadReference || c.status == kelStatusRegExpBadGroup ||
                        c.status == kelStatusRegExpBadQuantifier)
                << c.status;
            ASSERT_GE(c.errOffset, 0);
            ASSERT_LE(c.errOffset, static_cast<int>(p.size()));
        }
    }
}

}  // namespace

// tests/ch/regexp/unicode_test.cpp - the Unicode 5.1 tables, the UTF-8 decoder, the `\p{...}` parser and the
// property tests of the regular-expression engine.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ch/regexp/unicode/unicode_internal.h"
#include "support/test_util.h"

namespace {

const UniScript* findScript(const std::string& name) {
    for (const UniScript& s : UniScriptTbl) {
        if (name == s.name) return &s;
    }
    return nullptr;
}

const UniEntry* findEntry(Kel32u code) {
    for (const UniEntry& e : UniTbl) {
        if (e.code == code) return &e;
    }
    return nullptr;
}

// ---- Tables ----------------------------------------------------------------------------------------------------

TEST(UnicodeTables, UniTblHoldsTheSampleRows) {
    ASSERT_EQ(sizeof UniTbl / sizeof UniTbl[0], 19316u);
    EXPECT_EQ(UniTbl[0].code, 0u);
    EXPECT_EQ(UniTbl[0].category, 0x2001u);
    EXPECT_EQ(UniTbl[19315].code, 0xE01EFu);
    EXPECT_EQ(UniTbl[19315].category, 0x101u);
    struct Row {
        Kel32u code, category, upper, lower;
    };
    for (const Row& r : {Row{0x41, 0x82, 0, 0x61}, Row{0x61, 0x81, 0x41, 0}, Row{0x130, 0x82, 0, 0x69},
                         Row{0x3C2, 0x81, 0x3A3, 0}, Row{0x300, 0x101, 0, 0}, Row{0x1C5, 0x84, 0x1C4, 0x1C6}}) {
        const UniEntry* e = findEntry(r.code);
        ASSERT_NE(e, nullptr) << std::hex << r.code;
        EXPECT_EQ(e->category, r.category) << std::hex << r.code;
        EXPECT_EQ(e->upper, r.upper) << std::hex << r.code;
        EXPECT_EQ(e->lower, r.lower) << std::hex << r.code;
    }
    for (int i = 1; i < kUniTblEntries; ++i) ASSERT_LT(UniTbl[i - 1].code, UniTbl[i].code) << i;
}

TEST(UnicodeTables, BulkRangesAreExactlyTheTenRangesLeftOut) {
    const UniRange expected[] = {{0x3400, 0x4DB5, 0x90},      {0x4E00, 0x9FC3, 0x90},   {0xAC00, 0xD7A3, 0x90},
                                 {0xD800, 0xDB7F, 0x2008},    {0xDB80, 0xDBFF, 0x2008}, {0xDC00, 0xDFFF, 0x2008},
                                 {0xE000, 0xF8FF, 0x2004},    {0x20000, 0x2A6D6, 0x90}, {0xF0000, 0xFFFFD, 0x2004},
                                 {0x100000, 0x10FFFD, 0x2004}};
    ASSERT_EQ(sizeof UniRangeTbl / sizeof UniRangeTbl[0], 10u);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(UniRangeTbl[i].first, expected[i].first);
        EXPECT_EQ(UniRangeTbl[i].last, expected[i].last);
        EXPECT_EQ(UniRangeTbl[i].category, expected[i].category);
    }
    for (const UniEntry& e : UniTbl) {
        for (const UniRange& r : UniRangeTbl) ASSERT_FALSE(e.code >= r.first && e.code <= r.last) << std::hex << e.code;
    }
}

TEST(UnicodeTables, BlocksRunInCodePointOrder) {
    ASSERT_EQ(sizeof UniBlockTbl / sizeof UniBlockTbl[0], 171u);
    EXPECT_STREQ(UniBlockTbl[0].name, "InBasicLatin");
    EXPECT_EQ(UniBlockTbl[0].last, 0x7Fu);
    EXPECT_STREQ(UniBlockTbl[1].name, "InLatin1Supplement");
    EXPECT_EQ(UniBlockTbl[1].first, 0x80u);
    EXPECT_STREQ(UniBlockTbl[7].name, "InGreekandCoptic");
    EXPECT_STREQ(UniBlockTbl[115].name, "InPhagspa");
    EXPECT_EQ(UniBlockTbl[115].first, 0xA840u);
    EXPECT_STREQ(UniBlockTbl[170].name, "InSupplementaryPrivateUseAreaB");
    EXPECT_EQ(UniBlockTbl[170].first, 0x100000u);
    EXPECT_EQ(UniBlockTbl[170].last, 0x10FFFFu);
    for (int i = 0; i < kUniBlockTblEntries; ++i) {
        const UniBlock& b = UniBlockTbl[i];
        EXPECT_EQ(std::strncmp(b.name, "In", 2), 0) << b.name;
        EXPECT_EQ(b.name[127], 0);
        EXPECT_LE(b.first, b.last) << b.name;
        EXPECT_EQ(b.first % 16, 0u) << b.name;
        EXPECT_EQ(b.last % 16, 15u) << b.name;
        if (i) EXPECT_LT(UniBlockTbl[i - 1].last, b.first) << b.name;
    }
}

TEST(UnicodeTables, ScriptsHaveTheirRangeCounts) {
    const std::pair<const char*, int> expected[] = {
        {"Common", 530},    {"Latin", 42},      {"Greek", 51},        {"Cyrillic", 18},
        {"Armenian", 6},    {"Hebrew", 22},     {"Arabic", 36},       {"Syriac", 7},
        {"Thaana", 3},      {"Devanagari", 17}, {"Bengali", 25},      {"Gurmukhi", 21},
        {"Gujarati", 21},   {"Oriya", 25},      {"Tamil", 24},        {"Telugu", 18},
        {"Kannada", 20},    {"Malayalam", 18},  {"Sinhala", 13},      {"Thai", 10},
        {"Lao", 22},        {"Tibetan", 34},    {"Myanmar", 33},      {"Georgian", 4},
        {"Hangul", 12},     {"Ethiopic", 31},   {"Cherokee", 1},      {"Canadian_Aboriginal", 3},
        {"Ogham", 4},       {"Runic", 2},       {"Khmer", 17},        {"Mongolian", 13},
        {"Hiragana", 3},    {"Katakana", 8},    {"Bopomofo", 2},      {"Han", 15},
        {"Yi", 4},          {"Old_Italic", 2},  {"Gothic", 4},        {"Deseret", 1},
        {"Inherited", 22},  {"Tagalog", 3},     {"Hanunoo", 2},       {"Buhid", 2},
        {"Tagbanwa", 3},    {"Limbu", 12},      {"Tai_Le", 2},        {"Linear_B", 7},
        {"Ugaritic", 2},    {"Shavian", 1},     {"Osmanya", 2},       {"Cypriot", 6},
        {"Braille", 1},     {"Buginese", 4},    {"Coptic", 6},        {"New_Tai_Lue", 6},
        {"Glagolitic", 2},  {"Tifinagh", 2},    {"Syloti_Nagri", 11}, {"Old_Persian", 4},
        {"Kharoshthi", 11}, {"Balinese", 17},   {"Cuneiform", 3},     {"Phoenician", 3},
        {"Phags_Pa", 2},    {"Nko", 7},         {"Sundanese", 10},    {"Lepcha", 8},
        {"Ol_Chiki", 4},    {"Vai", 6},         {"Saurashtra", 6},    {"Kayah_Li", 4},
        {"Rejang", 4},      {"Lycian", 1},      {"Carian", 1},        {"Lydian", 2},
        {"Cham", 13}};
    ASSERT_EQ(sizeof UniScriptTbl / sizeof UniScriptTbl[0], 77u);
    for (int i = 0; i < 77; ++i) {
        EXPECT_STREQ(UniScriptTbl[i].name, expected[i].first);
        EXPECT_EQ(UniScriptTbl[i].numRanges, expected[i].second) << expected[i].first;
    }
    const UniScript* latin = findScript("Latin");
    const UniPair head[] = {{0x41, 0x5A}, {0x61, 0x7A}, {0xAA, 0xAA}, {0xBA, 0xBA}, {0xC0, 0xD6}};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(latin->ranges[i].first, head[i].first);
        EXPECT_EQ(latin->ranges[i].last, head[i].last);
    }
}

// Each script range is a maximal run of consecutive code points of one category (Lu, Ll and Lt as one), checked
// here through the category lookup rather than the data the generator read.
TEST(UnicodeTables, ScriptRangesAreMaximalCategoryRuns) {
    const auto runCategory = [](Kel32u c) {
        const Kel32u k = n8_ownsUnicodeCategory(static_cast<Kel32s>(c));
        return k == kUniLl || k == kUniLu || k == kUniLt ? kUniLAmp : k;
    };
    for (const UniScript& s : UniScriptTbl) {
        for (int i = 0; i < s.numRanges; ++i) {
            const UniPair& r = s.ranges[i];
            ASSERT_LE(r.first, r.last) << s.name;
            if (i) ASSERT_LT(s.ranges[i - 1].last, r.first) << s.name;
            for (Kel32u c = r.first; c <= r.last; ++c) {
                ASSERT_EQ(runCategory(c), runCategory(r.first)) << s.name << std::hex << " U+" << c;
            }
            if (i && s.ranges[i - 1].last + 1 == r.first) {
                EXPECT_NE(runCategory(r.first), runCategory(r.first - 1)) << s.name << std::hex << " U+" << r.first;
            }
        }
    }
}

// ---- UTF-8 decoding --------------------------------------------------------------------------------------------

// Reference: the value and length of a well-formed shortest sequence, by explicit code-point ranges.
int encode(Kel32u c, Kel8u* out) {
    int n = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : c < 0x200000 ? 4 : c < 0x4000000 ? 5 : 6;
    static const Kel8u lead[] = {0, 0, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
    for (int i = n - 1; i > 0; --i, c >>= 6) out[i] = static_cast<Kel8u>(0x80 | (c & 0x3F));
    out[0] = static_cast<Kel8u>(n == 1 ? c : lead[n] | c);
    return n;
}

TEST(UnicodeDecode, EveryShortestFormRoundTrips) {
    SCOPED_TRACE(kel::test::seedNote());
    auto rng = kel::test::makeRng(0x55746638);
    std::vector<Kel32u> codes;
    for (Kel32u c = 0; c < 0x10000; ++c) codes.push_back(c);
    for (int i = 0; i < 100000; ++i) codes.push_back(static_cast<Kel32u>(rng() & 0x7FFFFFFF) >> (rng() % 16));
    for (Kel32u c : {0x10000u, 0x10FFFFu, 0x1FFFFFu, 0x200000u, 0x3FFFFFFu, 0x4000000u, 0x7FFFFFFFu})
        codes.push_back(c);
    for (Kel32u c : codes) {
        Kel8u buf[8];
        const int n = encode(c, buf);
        Kel32s code = -1;
        ASSERT_EQ(n8_ownsUTF8ToUnicode(buf, n, &code), n) << std::hex << c;
        ASSERT_EQ(static_cast<Kel32u>(code), c);
        ASSERT_EQ(n8_ownsGetCharSize(buf, n), n);
    }
}

TEST(UnicodeDecode, RejectsBadLeadsTruncationAndOverlongForms) {
    Kel32s code = 12345;
    const auto decode = [&code](std::initializer_list<int> bytes, int avail = -1) {
        Kel8u buf[8] = {};
        int n = 0;
        for (int b : bytes) buf[n++] = static_cast<Kel8u>(b);
        return n8_ownsUTF8ToUnicode(buf, avail < 0 ? n + 1 : avail, &code);
    };
    for (int b = 0x80; b < 0xC0; ++b) EXPECT_EQ(decode({b, 0x80}), 0);
    EXPECT_EQ(decode({0xFE, 0x80}), 0);
    EXPECT_EQ(decode({0xFF, 0x80}), 0);
    EXPECT_EQ(decode({0xC3}), -1);              // first continuation byte missing
    EXPECT_EQ(decode({0xE2, 0x82, 0x41}), -2);  // second one is no continuation
    EXPECT_EQ(decode({0xE2, 0x82, 0xAC}, 2), -2) << "a sequence cut by the readable length";
    EXPECT_EQ(decode({0xC0, 0x80}), -2);        // overlong NUL
    EXPECT_EQ(decode({0xE0, 0x80, 0xAF}), -3);  // overlong '/'
    EXPECT_EQ(decode({0xF0, 0x8F, 0xBF, 0xBF}), -4);
    EXPECT_EQ(code, 12345) << "no code on failure";
    EXPECT_EQ(decode({0xED, 0xA0, 0x80}), 3);  // surrogates decode
    EXPECT_EQ(code, 0xD800);
    EXPECT_EQ(decode({0xF4, 0x90, 0x80, 0x80}), 4);  // beyond U+10FFFF too
    EXPECT_EQ(code, 0x110000);
    Kel8u overlong[] = {0xC0, 0x80};
    EXPECT_EQ(n8_ownsGetCharSize(overlong, 2), 1);
}

TEST(UnicodeDecode, NeverReadsPastTheReadableLength) {
    kel::test::GuardedBuffer buf(3);
    const Kel8u seq[] = {0xF0, 0x9F, 0x98};  // a four-byte lead with only two continuation bytes left
    buf.fill(seq, 3);
    Kel32s code;
    EXPECT_EQ(n8_ownsUTF8ToUnicode(buf.data(), 3, &code), -3);
    EXPECT_EQ(n8_ownsGetCharSize(buf.data() + 1, 2), 1);
}

// ---- Property parser -------------------------------------------------------------------------------------------

struct Parsed {
    int result;
    long consumed;
    RegExpNode node;
};

Parsed parse(const std::string& text, Kel32s negate = 0) {
    const Kel8u* p = reinterpret_cast<const Kel8u*>(text.c_str());
    Parsed r{};
    r.result = n8_ownsCompileUnicodeP(&p, &r.node, negate);
    r.consumed = p - reinterpret_cast<const Kel8u*>(text.c_str());
    return r;
}

TEST(UnicodeProperty, ParsesCategoriesBlocksAndScripts) {
    struct Expect {
        const char* text;
        Kel32u kind;
        Kel32s a, b;
    };
    for (const Expect& e :
         {Expect{"L", kNodeUnicodeCategory, 0x80, 0}, Expect{"Z", kNodeUnicodeCategory, 0x200, 0},
          Expect{"{Lu}", kNodeUnicodeCategory, 0x82, 0}, Expect{"{L&}", kNodeUnicodeCategory, 0x87, 0},
          Expect{"{^Nd}", kNodeUnicodeCategory, 0x801, -1}, Expect{"{C}", kNodeUnicodeCategory, 0x2000, 0},
          Expect{"{Co}", kNodeUnicodeCategory, 0x2004, 0}, Expect{"{Cn}", kNodeUnicodeCategory, 0x2010, 0},
          Expect{"{Any}", kNodeUnicodeRange, 0, 0x10FFFF},
          Expect{"{InGreekandCoptic}", kNodeUnicodeRange, 0x370, 0x3FF}, Expect{"{Common}", kNodeUnicodeScript, 1, 0},
          Expect{"{Coptic}", kNodeUnicodeScript, 1, 0}, Expect{"{Inherited}", kNodeUnicodeScript, 1, 0},
          Expect{"{Latin}", kNodeUnicodeScript, 1, 0}}) {
        const Parsed r = parse(std::string(e.text) + "tail");
        EXPECT_EQ(r.result, 0) << e.text;
        EXPECT_EQ(r.consumed, static_cast<long>(std::strlen(e.text))) << e.text;
        EXPECT_EQ(r.node.kind, e.kind) << e.text;
        EXPECT_EQ(r.node.a, e.a) << e.text;
        EXPECT_EQ(r.node.b, e.b) << e.text;
    }
    const Parsed negated = parse("{Han}", -1);
    EXPECT_EQ(negated.node.b, -1);
    EXPECT_EQ(negated.node.opts, 15u);
    EXPECT_EQ(reinterpret_cast<const UniPair*>(negated.node.ptr), findScript("Han")->ranges);
    EXPECT_EQ(parse("{^InBasicLatin}").node.opts, kNegatedMember);
    for (const UniBlock& b : UniBlockTbl) {
        const Parsed r = parse("{" + std::string(b.name) + "}");
        ASSERT_EQ(r.result, 0) << b.name;
        EXPECT_EQ(static_cast<Kel32u>(r.node.a), b.first) << b.name;
        EXPECT_EQ(static_cast<Kel32u>(r.node.b), b.last) << b.name;
    }
    for (const UniScript& s : UniScriptTbl) {
        const Parsed r = parse("{" + std::string(s.name) + "}");
        ASSERT_EQ(r.result, 0) << s.name;
        EXPECT_EQ(reinterpret_cast<const UniPair*>(r.node.ptr), s.ranges) << s.name;
        EXPECT_EQ(static_cast<Kel32s>(r.node.opts), s.numRanges) << s.name;
    }
}

TEST(UnicodeProperty, RejectsUnknownNamesAtTheFailurePoint) {
    struct Expect {
        const char* text;
        Kel32s negate;
        long offset;
    };
    for (const Expect& e :
         {Expect{"X", 0, 0}, Expect{"", 0, 0}, Expect{"{Foo}", 0, 1}, Expect{"{Lx}", 0, 1}, Expect{"{InBasic}", 0, 1},
          Expect{"{^L}", -1, 1}, Expect{"{Lu", 0, 3}, Expect{"{L&", 0, 3}, Expect{"{Latin", 0, 6},
          Expect{"{latin}", 0, 1}, Expect{"{}", 0, 1}, Expect{"{Unknown}", 0, 1}, Expect{"{Any", 0, 4}}) {
        const Parsed r = parse(e.text, e.negate);
        EXPECT_LT(r.result, 0) << e.text;
        EXPECT_EQ(r.consumed, e.offset) << e.text;
    }
}

// ---- Property tests --------------------------------------------------------------------------------------------

bool holds(const std::string& property, Kel32s code) {
    const bool negate = property[0] == 'P';
    const Parsed r = parse(property.substr(1), negate ? -1 : 0);
    EXPECT_EQ(r.result, 0) << property;
    return n8_ownsCheckUnicodeSymbol(code, r.node, false) >= 0;
}

TEST(UnicodeProperty, CategoryScriptAndBlockTests) {
    EXPECT_TRUE(holds("p{Lu}", 'A'));
    EXPECT_TRUE(holds("p{Lu}", 0xC0));
    EXPECT_FALSE(holds("p{Lu}", 'a'));
    EXPECT_TRUE(holds("P{Lu}", 'a'));
    EXPECT_TRUE(holds("p{L&}", 0x1C5));
    EXPECT_FALSE(holds("p{L&}", 0x2B0));
    EXPECT_TRUE(holds("p{Han}", 0x4E00));
    EXPECT_TRUE(holds("p{Lo}", 0x4E00));
    EXPECT_TRUE(holds("pL", 0x4E00));
    EXPECT_FALSE(holds("p{Lu}", 0x4E00));
    EXPECT_TRUE(holds("p{Cs}", 0xDC00));
    EXPECT_TRUE(holds("p{Co}", 0x10FFFD));
    EXPECT_TRUE(holds("p{Cc}", 0));
    EXPECT_TRUE(holds("p{Zs}", ' '));
    EXPECT_TRUE(holds("p{Greek}", 0x3A3));
    EXPECT_FALSE(holds("p{Greek}", 'A'));
    EXPECT_TRUE(holds("P{Greek}", 'A'));
    EXPECT_TRUE(holds("p{Any}", 0x10FFFF));
    EXPECT_FALSE(holds("p{Any}", 0x110000));
    for (Kel32s c = 0; c < 0x80; ++c) EXPECT_TRUE(holds("p{InBasicLatin}", c));
    EXPECT_FALSE(holds("p{InBasicLatin}", 0x80));
}

TEST(UnicodeProperty, UnassignedCodePointsAreCn) {
    for (Kel32s c : {0x378, 0x9FC4, 0xFFFF, 0xE01F0, 0x10FFFF, 0x110000, -23}) {
        EXPECT_TRUE(holds("p{Cn}", c)) << c;
        EXPECT_TRUE(holds("pC", c)) << c;
        EXPECT_FALSE(holds("P{Cn}", c)) << c;
        EXPECT_FALSE(holds("P{C}", c)) << c;
        EXPECT_TRUE(holds("P{L}", c)) << c;
        EXPECT_FALSE(holds("p{L}", c)) << c;
    }
}

// Every \P{...} accepts exactly what its \p{...} rejects, assigned or not.
TEST(UnicodeProperty, NegationIsTheExactComplement) {
    static const char* const kNames[] = {
        "L",  "Lu", "Ll", "Lt", "Lm", "Lo", "L&", "M",  "Mn", "Mc", "Me",  "Z",          "Zs",    "Zl",
        "Zp", "S",  "Sm", "Sc", "Sk", "So", "N",  "Nd", "Nl", "No", "P",   "Pd",         "Ps",    "Pe",
        "Pi", "Pf", "Pc", "Po", "C",  "Cc", "Cf", "Co", "Cs", "Cn", "Any", "InCyrillic", "Latin", "Common"};
    for (const char* name : kNames) {
        const RegExpNode plain = parse("{" + std::string(name) + "}").node;
        const RegExpNode negated = parse("{" + std::string(name) + "}", -1).node;
        for (Kel32s c = 0; c < 0x110000; c += (c < 0x3000 ? 1 : 37)) {
            ASSERT_NE(n8_ownsCheckUnicodeSymbol(c, plain, false) >= 0,
                      n8_ownsCheckUnicodeSymbol(c, negated, false) >= 0)
                << name << " U+" << std::hex << c;
        }
    }
}

TEST(UnicodeProperty, CaselessLetterUsesTheSimpleLowercaseMapping) {
    const RegExpNode sigma{kNodeLetterUtf8, 0x3A3, 0, 0, nullptr};
    EXPECT_GE(n8_ownsCheckUnicodeSymbol(0x3A3, sigma, true), 0);
    EXPECT_GE(n8_ownsCheckUnicodeSymbol(0x3C3, sigma, true), 0);
    EXPECT_LT(n8_ownsCheckUnicodeSymbol(0x3C2, sigma, true), 0) << "final sigma has no lowercase mapping";
    EXPECT_LT(n8_ownsCheckUnicodeSymbol(0x3C3, sigma, false), 0);
    const RegExpNode han{kNodeLetterUtf8, 0x4E00, 0, 0, nullptr};
    EXPECT_GE(n8_ownsCheckUnicodeSymbol(0x4E00, han, true), 0);
    EXPECT_LT(n8_ownsCheckUnicodeSymbol('a', RegExpNode{kNodeLetter, 'a', 0, 0, nullptr}, false), 0)
        << "only code-point nodes are answered";
}

TEST(UnicodeProperty, MarkTestsTreatUnassignedAsBase) {
    EXPECT_TRUE(n8_ownsIsUnicodeProperty<true>(0x301));
    EXPECT_FALSE(n8_ownsIsUnicodeProperty<false>(0x301));
    EXPECT_TRUE(n8_ownsIsUnicodeProperty<true>(0x903));  // Mc
    EXPECT_FALSE(n8_ownsIsUnicodeProperty<true>('e'));
    EXPECT_TRUE(n8_ownsIsUnicodeProperty<false>('e'));
    EXPECT_TRUE(n8_ownsIsUnicodeProperty<false>(0x4E00));
    for (Kel32s c : {0x378, 0x110000, -23}) {
        EXPECT_FALSE(n8_ownsIsUnicodeProperty<true>(c)) << c;
        EXPECT_TRUE(n8_ownsIsUnicodeProperty<false>(c)) << c;
    }
}

}  // namespace

// tests/ch/regexp/regexp_prefilter_test.cpp - the vector scans of the matcher against their scalar twins: the pair
// scan of the start-position search, over sets that fit the nibble buckets exactly and sets that must share
// buckets, and the run scan of repeated classes.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "ch/regexp/regexp_prefilter.h"
#include "ch/regexp/regexp_run.h"
#include "kelch.h"

namespace {

void randomSet(std::mt19937& rng, bool* set, int kind) {
    for (int b = 0; b < 256; ++b) set[b] = false;
    switch (kind) {
        case 0:  // a few letters in both cases: the shape of a caseless alternation
            for (int k = 0; k < 4; ++k) {
                const int l = 'a' + static_cast<int>(rng() % 26);
                set[l] = set[l - 32] = true;
            }
            break;
        case 1:  // scattered bytes over every high nibble: more low-nibble patterns than buckets
            for (int k = 0; k < 40; ++k) set[rng() % 256] = true;
            break;
        case 2:  // dense: about half of all bytes
            for (int b = 0; b < 256; ++b) set[b] = (rng() & 1) != 0;
            break;
        default:  // every byte
            for (int b = 0; b < 256; ++b) set[b] = true;
            break;
    }
}

TEST(RegExpPrefilter, PairScanAgreesWithScalarTwin) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 400; ++round) {
        bool first[256], second[256];
        randomSet(rng, first, round % 4);
        randomSet(rng, second, (round / 4) % 4);
        RegExpPairFilter f;
        n8_regExpPairFilterInit(&f, first, round % 7 == 0 ? nullptr : second);
        // Subjects drawn mostly from outside the sets, so that hits are sparse and land anywhere in a block.
        std::vector<Kel8u> buf(200);
        for (auto& b : buf) b = static_cast<Kel8u>(rng() % 256);
        for (int k = 0; k < 200; ++k) {
            if (rng() % 4 && first[buf[k]]) buf[k] = static_cast<Kel8u>(buf[k] ^ 0x55);
        }
        for (int len = 0; len <= 80; ++len) {
            const int at = static_cast<int>(rng() % 100);
            // Copy to an exact-size heap block so that a read past the end shows under the address sanitizer.
            std::vector<Kel8u> src(buf.begin() + at, buf.begin() + at + len);
            const Kel8u* p = src.empty() ? buf.data() : src.data();
            ASSERT_EQ(n8_regExpPairScan(f, p, len), n8_regExpPairScan_ref(f, p, len))
                << "round " << round << " len " << len;
        }
    }
}

TEST(RegExpPrefilter, LastByteNeedsNoSecond) {
    bool first[256] = {}, second[256] = {};
    first['T'] = true;
    second['o'] = true;
    RegExpPairFilter f;
    n8_regExpPairFilterInit(&f, first, second);
    const Kel8u text[] = "xxTaxxxxxxxxxxxxxxxxxxxxxxTx";
    const Kel32s len = static_cast<Kel32s>(sizeof text - 1);
    EXPECT_EQ(n8_regExpPairScan(f, text, len), len);          // "Ta" and "Tx" fail on their second bytes
    EXPECT_EQ(n8_regExpPairScan(f, text, len - 1), len - 2);  // a T in the last byte passes on its own
    EXPECT_EQ(n8_regExpPairScan(f, text, 2), 2);
}

// All matches of a pattern with the `g` option in the given subject format, as "offset+length" records.
std::string findAll(const std::string& pattern, const std::string& subject, int format) {
    int size = 0;
    if (kelsRegExpGetSize(pattern.c_str(), &size) != kelStatusOk) return "size error";
    std::vector<Kel8u> block(static_cast<std::size_t>(size));
    auto* re = reinterpret_cast<RegExpState*>(block.data());
    int err = 0;
    if (kelsRegExpInit(pattern.c_str(), "g", re, &err) != kelStatusOk) return "compile error";
    kelsRegExpSetFormat(format, re);
    std::vector<RegExpMatchRecord> rec(subject.size() + 2);
    int n = static_cast<int>(rec.size());
    const auto* src = reinterpret_cast<const Kel8u*>(subject.data());
    const KelStatus st = kelsRegExpFind_8u(src, static_cast<int>(subject.size()), re, rec.data(), &n);
    std::string out = "status " + std::to_string(st) + ":";
    for (int k = 0; k < n && st >= 0; ++k) {
        out += " " + std::to_string(rec[k].pFind ? rec[k].pFind - src : -1) + "+" + std::to_string(rec[k].lenFind);
    }
    return out;
}

// The start-position search skips positions by the first bytes (and the byte after) of every match, found through
// options, anchors, groups and Unicode items. A never-taken first alternative that starts with a look-ahead hides
// all of that, so the same pattern behind it is searched at every position: both must report the same matches.
TEST(RegExpPrefilter, SkippingStartsChangesNoMatch) {
    const char* patterns[] = {
        "(?i)tom|sawyer|of", "(?i)(?:th|wh)e[nr]?\\b", "(?m)^[a-z]{2,5}", "(?:[A-Z][a-z]+\\s+){2,}[A-Z][a-z]+",
        "(?:(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)\\.){3}[0-9]+", "\\p{Lu}\\p{Ll}+", "\\p{Greek}+",
        "\\b(?:[Oo]f|th)\\s", "(?:ab|\\d)[x\\d]", ".{2,4}(?:Tom|Sawyer)", "(?:[^,\\n]*?,){2}",
        // Unbounded loops that every attempt starts with: later starts in the same run fail.
        "(?:\\w+\\s+){2}the\\b", "[a-zA-Z]+ing", "\\w+\\s+(?:of|the)\\s+\\w+", "[\\w.+-]+@\\w+", "(?i)\\w+,\\s",
        "\\S+\\s+\\S{3}\\b", "[^\\n]*of[^\\n]*the", "(?:\\w*?e)+\\s", ".*?,\\s*[a-z]", "(?:[a-z]*,)+",
        // A capture that the rest reads back depends on the start: no skipping there.
        "(\\w+)\\s+\\1"};
    const std::string subject =
        "Tom Sawyer of THE town\n192.168.1.20 and 10.0.0.255x\nThen When the Old Man Said,, a,b,c\n"
        "\xce\x91\xce\xbb\xcf\x86\xce\xb1 \xc3\x89"
        "cole \xc9t\xe9 ab1 abx 12 \xff\xfe Of th \n"
        "xxTom river, Sawyer\n\nwhen bringing the kingdom of the sea, singing a.b+c@home x@ to the end of the line xab "
        "ab";
    for (const char* pat : patterns) {
        for (int format = 0; format <= 1; ++format) {
            EXPECT_EQ(findAll(pat, subject, format), findAll(std::string("(?:(?!)|") + pat + ")", subject, format))
                << pat << " format " << format;
        }
    }
}

// Runs of every length up to past two vector blocks, ended by a non-member, a byte from 0x80 up (whatever the table
// says of it) or the limit, over the same set shapes as the pair scan.
TEST(RegExpRun, AsciiRunAgreesWithScalarTwin) {
    std::mt19937 rng(777);
    for (int round = 0; round < 200; ++round) {
        bool table[256];
        randomSet(rng, table, round % 4);
        RegExpRunTable run;
        n8_regExpRunTableInit(&run, table);
        std::vector<Kel8u> members, others;
        for (int b = 0; b < 256; ++b) (b < 0x80 && table[b] ? members : others).push_back(static_cast<Kel8u>(b));
        if (members.empty()) members.push_back('a');
        for (int len = 0; len <= 40; ++len) {
            std::vector<Kel8u> src(static_cast<std::size_t>(len));
            const int stop = static_cast<int>(rng() % (len + 1));
            for (int k = 0; k < len; ++k) {
                const bool member = k < stop || others.empty();
                src[k] = member ? members[rng() % members.size()] : others[rng() % others.size()];
            }
            const Kel8u* p = src.empty() ? nullptr : src.data();
            for (int from = 0; from <= len; ++from) {
                ASSERT_EQ(n8_regExpAsciiRun(run, table, p + from, p + len),
                          n8_regExpAsciiRun_ref(table, p + from, p + len))
                    << "round " << round << " len " << len << " from " << from;
            }
        }
    }
}

}  // namespace

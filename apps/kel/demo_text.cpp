// apps/kel/demo_text.cpp - the text rows of `kel demo`: regular-expression searches over the sample texts (the
// literal one cross-checked against the byte-string search) and a UTF-8 to UTF-16 and back round trip.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "kel/demo.h"
#include "kelch.h"

namespace kel::app {
namespace {

// Every match of pattern over text (the `g` option); -1 if the pattern does not compile or the search fails.
long countMatches(const char* pattern, const char* options, const std::vector<std::uint8_t>& text) {
    int size = 0;
    if (kelsRegExpGetSize(pattern, &size) != kelStatusOk) return -1;
    std::vector<std::uint8_t> state(static_cast<std::size_t>(size));
    auto* re = reinterpret_cast<RegExpState*>(state.data());
    int errOffset = 0;
    if (kelsRegExpInit(pattern, options, re, &errOffset) != kelStatusOk) return -1;
    std::vector<RegExpMatchRecord> records(1 << 18);
    int found = int(records.size());
    const KelStatus st = kelsRegExpFind_8u(text.data(), int(text.size()), re, records.data(), &found);
    return st == kelStatusOk ? found : -1;
}

long countLiteral(const char* needle, const std::vector<std::uint8_t>& text) {
    const int n = int(std::char_traits<char>::length(needle));
    long count = 0;
    int from = 0, index = -1;
    while (kelsFind_8u(text.data() + from, int(text.size()) - from, reinterpret_cast<const Kel8u*>(needle), n,
                       &index) == kelStatusOk &&
           index >= 0) {
        ++count;
        from += index + n;
    }
    return count;
}

}  // namespace

void demoText(const std::vector<DemoSample>& samples, DemoReport& report) {
    std::vector<std::uint8_t> text;
    for (const auto& s : samples) {
        if (s.name.size() > 4 && s.name.compare(s.name.size() - 4, 4, ".txt") == 0) {
            text.insert(text.end(), s.bytes.begin(), s.bytes.end());
        }
    }
    if (text.empty()) return;

    struct Search {
        const char* pattern;
        const char* options;
        const char* literal;  // when the pattern is a plain string: the cross-check
    };
    static const Search kSearches[] = {
        {"Alice", "g", "Alice"},
        {"Alice|Queen|Hatter", "g", nullptr},
        {"(?i)alice|queen", "g", nullptr},
        {"[a-z]+ing", "g", nullptr},
        {"\\b(\\w+) \\1\\b", "g", nullptr},
    };
    for (const auto& s : kSearches) {
        long count = 0;
        const double seconds = timeRepeated([&] { count = countMatches(s.pattern, s.options, text); });
        const bool ok = count >= 0 && (!s.literal || count == countLiteral(s.literal, text));
        report.operations.push_back({"grep", s.pattern, std::to_string(count) + " matches", double(text.size()),
                                     seconds, ok});
    }

    std::vector<Kel16u> utf16(text.size());
    std::vector<std::uint8_t> back(text.size() * 3);
    Kel32u units = 0, bytes = 0;
    const double seconds = timeRepeated([&] {
        Kel32u srcLen = Kel32u(text.size());
        units = Kel32u(utf16.size());
        kelsConvertUTF_8u16u(text.data(), &srcLen, utf16.data(), &units, 0);
        Kel32u unitLen = units;
        bytes = Kel32u(back.size());
        kelsConvertUTF_16u8u(utf16.data(), &unitLen, back.data(), &bytes, 0);
    });
    const bool same = bytes == text.size() && std::equal(text.begin(), text.end(), back.begin());
    report.operations.push_back({"utf", "utf-8 -> utf-16 -> utf-8", std::to_string(units) + " units",
                                 double(text.size()), seconds, same});
}

}  // namespace kel::app

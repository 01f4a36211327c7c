// fuzz/regexp_replace_fuzz.cpp - parses a fuzzed replacement template and replaces with it (a fixed set of
// patterns, single and global, in either subject format) into a small output buffer. The reported lengths must
// stay within the buffers and the output must never be written past the capacity.
//
// Input: a flags byte (bits 0-2 the pattern, bit 3 global, bits 4-7 the output capacity), a byte whose low five
// bits give the template length and whose bit 5 the subject format, the template, then the subject. Both state
// blocks, the subject and the output are heap blocks of exactly their documented or given sizes, so that the
// sanitizers see any byte used past them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kelch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const unsigned flags = data[0];
    const std::size_t tmplLen = data[1] % 32;
    const int format = (data[1] >> 5) & 1;
    data += 2;
    size -= 2;
    if (tmplLen > size) return 0;
    std::vector<std::uint8_t> tmpl(data, data + tmplLen);
    tmpl.push_back(0);
    const std::size_t subjectLen = size - tmplLen;
    if (subjectLen == 0) return 0;

    int rsSize = 0;
    if (kelsRegExpReplaceGetSize(tmpl.data(), &rsSize) != kelStatusOk) std::abort();
    if (static_cast<std::size_t>(rsSize) != 16 * std::strlen(reinterpret_cast<const char*>(tmpl.data())) + 16) {
        std::abort();
    }
    auto* rs = static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(rsSize)));
    auto* rstate = reinterpret_cast<RegExpReplaceState*>(rs);
    if (kelsRegExpReplaceInit(tmpl.data(), rstate) != kelStatusOk) {
        std::free(rs);
        return 0;
    }
    // Patterns with groups, empty matches, anchors, and multi-byte text where the two formats differ.
    const char* patterns[] = {"(a)(b)?", "a*", "(\\w+)\\s", "x|y", "(.)(.)(.)", "^", "\xC3\xA9+", "([^a]\\W)"};
    const char* pat = patterns[flags % 8];
    int stateSize = 0;
    if (kelsRegExpGetSize(pat, &stateSize) != kelStatusOk) std::abort();
    if (static_cast<std::size_t>(stateSize) != 48056 + 24 * std::strlen(pat)) std::abort();
    auto* block = static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(stateSize)));
    auto* state = reinterpret_cast<RegExpState*>(block);
    int err = 0;
    if (kelsRegExpInit(pat, (flags & 8) ? "g" : "", state, &err) != kelStatusOk) std::abort();
    if (kelsRegExpSetFormat(format, state) != kelStatusOk) std::abort();

    auto* src = static_cast<std::uint8_t*>(std::malloc(subjectLen));
    std::memcpy(src, data + tmplLen, subjectLen);
    const int cap = 1 + ((flags >> 4) & 15) * 8;
    auto* dst = static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(cap)));
    int srcLen = static_cast<int>(subjectLen);
    int dstLen = cap;
    std::vector<RegExpMatchRecord> rec(16);
    int n = 16;
    const KelStatus st = kelsRegExpReplace_8u(src, &srcLen, dst, &dstLen, rec.data(), &n, state, rstate);
    if (st >= 0 && (srcLen < 0 || srcLen > static_cast<int>(subjectLen) || dstLen < 0 || dstLen > cap)) {
        std::abort();
    }
    std::free(dst);
    std::free(src);
    std::free(block);
    std::free(rs);
    return 0;
}

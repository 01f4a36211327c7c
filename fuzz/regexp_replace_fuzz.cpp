// fuzz/regexp_replace_fuzz.cpp - parses a fuzzed replacement template and replaces with it (a fixed set of
// patterns, single and global) into a small output buffer. The reported lengths must stay within the buffers and
// the output must never be written past the capacity.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "kelch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const unsigned flags = data[0];
    const std::size_t tmplLen = data[1] % 32;
    data += 2;
    size -= 2;
    if (tmplLen > size) return 0;
    std::vector<std::uint8_t> tmpl(data, data + tmplLen);
    tmpl.push_back(0);
    std::vector<std::uint8_t> subject(data + tmplLen, data + size);
    if (subject.empty()) return 0;
    int rsSize = 0;
    if (kelsRegExpReplaceGetSize(tmpl.data(), &rsSize) != kelStatusOk) std::abort();
    std::vector<std::uint8_t> rs(static_cast<std::size_t>(rsSize));
    auto* rstate = reinterpret_cast<RegExpReplaceState*>(rs.data());
    if (kelsRegExpReplaceInit(tmpl.data(), rstate) != kelStatusOk) return 0;
    const char* patterns[] = {"(a)(b)?", "a*", "(\\w+)\\s", "x|y", "(.)(.)(.)", "^", "b+"};
    int stateSize = 0;
    const char* pat = patterns[flags % 7];
    kelsRegExpGetSize(pat, &stateSize);
    std::vector<std::uint8_t> block(static_cast<std::size_t>(stateSize));
    auto* state = reinterpret_cast<RegExpState*>(block.data());
    int err = 0;
    kelsRegExpInit(pat, (flags & 8) ? "g" : "", state, &err);
    const int cap = 1 + ((flags >> 4) & 15) * 8;
    std::uint8_t* dst = static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(cap)));
    int srcLen = static_cast<int>(subject.size());
    int dstLen = cap;
    std::vector<RegExpMatchRecord> rec(16);
    int n = 16;
    const KelStatus st = kelsRegExpReplace_8u(subject.data(), &srcLen, dst, &dstLen, rec.data(), &n, state, rstate);
    if (st >= 0 && (srcLen < 0 || srcLen > static_cast<int>(subject.size()) || dstLen < 0 || dstLen > cap)) {
        std::abort();
    }
    std::free(dst);
    return 0;
}

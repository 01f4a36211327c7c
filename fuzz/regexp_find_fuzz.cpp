// fuzz/regexp_find_fuzz.cpp - compiles a fuzzed pattern and searches a fuzzed subject with it: single and global,
// both subject formats, small random match limits (so that the fuzzer stays fast). Every reported record must lie
// inside the subject, and no search may read outside it or overflow the stack.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "kelch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const unsigned flags = data[0];
    const std::size_t patLen = data[1] % 64;
    const int limit = 1 + data[2] * 8;
    data += 3;
    size -= 3;
    if (patLen > size) return 0;
    std::vector<char> pattern(data, data + patLen);
    pattern.push_back(0);
    std::vector<std::uint8_t> subject(size > patLen ? size - patLen : 1, 0);
    for (std::size_t i = patLen; i < size; ++i) subject[i - patLen] = data[i];
    int stateSize = 0;
    if (kelsRegExpGetSize(pattern.data(), &stateSize) != kelStatusOk) return 0;
    std::vector<std::uint8_t> block(static_cast<std::size_t>(stateSize));
    auto* state = reinterpret_cast<RegExpState*>(block.data());
    int err = 0;
    const char* opts[] = {"", "g", "i", "gi", "m", "gms", "s", "gx"};
    if (kelsRegExpInit(pattern.data(), opts[flags & 7], state, &err) != kelStatusOk) return 0;
    kelsRegExpSetFormat((flags >> 3) & 1, state);
    kelsRegExpSetMatchLimit(limit, state);
    std::vector<RegExpMatchRecord> rec(1 + ((flags >> 4) & 15) * 4);
    int n = static_cast<int>(rec.size());
    // Exactly-sized heap copy so that an out-of-bounds read shows under the sanitizers.
    std::uint8_t* src = static_cast<std::uint8_t*>(std::malloc(subject.size()));
    for (std::size_t i = 0; i < subject.size(); ++i) src[i] = subject[i];
    const KelStatus st = kelsRegExpFind_8u(src, static_cast<int>(subject.size()), state, rec.data(), &n);
    if (st >= 0) {
        if (n < 0 || n > static_cast<int>(rec.size())) std::abort();
        for (int i = 0; i < n; ++i) {
            if (rec[i].lenFind < 0) {
                if (rec[i].pFind) std::abort();
                continue;
            }
            if (rec[i].pFind < src || rec[i].pFind + rec[i].lenFind > src + subject.size()) std::abort();
        }
    }
    std::free(src);
    return 0;
}

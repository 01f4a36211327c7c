// fuzz/regexp_find_fuzz.cpp - compiles a fuzzed pattern and searches a fuzzed subject with it: single and global,
// both subject formats, small random match limits (so that the fuzzer stays fast). Every reported record must lie
// inside the subject, and no search may read outside it or overflow the stack.
//
// Input: a flags byte (bits 0-2 the option set, bit 3 the subject format, bits 4-7 the record capacity), the
// pattern length (mod 64), the match-limit byte, the pattern, then the subject. The state block is a heap block of
// exactly the documented size, 48056 + 24 * pattern length bytes, so that the sanitizers see any byte used past
// it; the subject is an exact-size heap copy for the same reason. A pattern that does not compile must leave a
// block that every search and replacement refuses with kelStatusRegExpBadState.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kelch.h"

namespace {

// Searches and replaces with a block whose Init failed: both must refuse it before touching anything else.
void n8_expectBadState(RegExpState* state, const std::uint8_t* src, int srcLen) {
    RegExpMatchRecord rec[2];
    int n = 2;
    if (kelsRegExpFind_8u(src, srcLen, state, rec, &n) != kelStatusRegExpBadState) std::abort();
    if (n != 2) std::abort();
    if (srcLen < 1) return;
    alignas(8) std::uint8_t rs[16 + 16 * 2];
    auto* rstate = reinterpret_cast<RegExpReplaceState*>(rs);
    if (kelsRegExpReplaceInit(reinterpret_cast<const Kel8u*>("$&"), rstate) != kelStatusOk) std::abort();
    std::uint8_t dst[8];
    int inLen = srcLen, dstLen = sizeof dst;
    n = 2;
    if (kelsRegExpReplace_8u(src, &inLen, dst, &dstLen, rec, &n, state, rstate) != kelStatusRegExpBadState) {
        std::abort();
    }
}

}  // namespace

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
    const std::size_t subjectLen = size - patLen;
    const std::size_t patternChars = std::strlen(pattern.data());

    int stateSize = 0;
    if (kelsRegExpGetSize(pattern.data(), &stateSize) != kelStatusOk) std::abort();
    if (static_cast<std::size_t>(stateSize) != 48056 + 24 * patternChars) std::abort();
    auto* block = static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(stateSize)));
    auto* state = reinterpret_cast<RegExpState*>(block);
    // Exactly-sized heap copy of the subject (one byte for an empty one, searched with length 0).
    auto* src = static_cast<std::uint8_t*>(std::malloc(subjectLen ? subjectLen : 1));
    if (subjectLen) std::memcpy(src, data + patLen, subjectLen);

    int err = 0;
    const char* opts[] = {"", "g", "i", "gi", "m", "gms", "s", "gx"};
    if (kelsRegExpInit(pattern.data(), opts[flags & 7], state, &err) != kelStatusOk) {
        n8_expectBadState(state, src, static_cast<int>(subjectLen));
        std::free(src);
        std::free(block);
        return 0;
    }
    if (kelsRegExpSetFormat((flags >> 3) & 1, state) != kelStatusOk) std::abort();
    kelsRegExpSetMatchLimit(limit, state);
    std::vector<RegExpMatchRecord> rec(1 + ((flags >> 4) & 15) * 4);
    int n = static_cast<int>(rec.size());
    const KelStatus st = kelsRegExpFind_8u(src, static_cast<int>(subjectLen), state, rec.data(), &n);
    if (st >= 0) {
        if (n < 0 || n > static_cast<int>(rec.size())) std::abort();
        for (int i = 0; i < n; ++i) {
            if (rec[i].lenFind < 0) {
                if (rec[i].pFind) std::abort();
                continue;
            }
            if (rec[i].pFind < src || rec[i].pFind + rec[i].lenFind > src + subjectLen) std::abort();
        }
    }
    std::free(src);
    std::free(block);
    return 0;
}

// fuzz/regexp_compile_fuzz.cpp - the pattern compiler on arbitrary patterns and option strings.
//
// Input: option letters, a NUL, then the pattern (an input without NUL is a pattern with no option string). The
// pattern is copied so that its terminating NUL is the last byte before an inaccessible page, and the state
// block of exactly the size kelsRegExpGetSize reports ends at another one: any read past the NUL or write past
// the block faults at once. Bytes in front of the block are filled with a sentinel and checked afterwards. A
// successful compile must leave a program that obeys the node-program rules (n8_regExpCheck) and that lists; a
// failed one must leave a block that searches refuse (kelStatusRegExpBadState), however much of it was written.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "ch/regexp/regexp_dump.h"
#include "kelch.h"

namespace {

constexpr std::size_t kRegion = std::size_t(64) << 20;  // room for patterns of up to about 2.7 MB
constexpr std::size_t kSlack = 64;                      // sentinel bytes checked in front of the block
constexpr Kel8u kSentinel = 0xA5;

// A read-write region of kRegion bytes followed by an inaccessible page; returns the region's start.
Kel8u* guardedRegion() {
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    void* p = mmap(nullptr, kRegion + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) std::abort();
    if (mprotect(static_cast<Kel8u*>(p) + kRegion, page, PROT_NONE)) std::abort();
    return static_cast<Kel8u*>(p);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Kel8u* const patternRegion = guardedRegion();
    static Kel8u* const stateRegion = guardedRegion();

    const void* nul = std::memchr(data, 0, size);
    const std::size_t optLen = nul ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - data) : 0;
    const std::uint8_t* patBytes = nul ? data + optLen + 1 : data;
    std::size_t patLen = size - (nul ? optLen + 1 : 0);
    if (const void* end = std::memchr(patBytes, 0, patLen)) {
        patLen = static_cast<std::size_t>(static_cast<const std::uint8_t*>(end) - patBytes);
    }
    if (patLen + 1 > kRegion / 24 - 4096) return 0;

    char options[64];
    const std::size_t o = optLen < sizeof options - 1 ? optLen : sizeof options - 1;
    std::memcpy(options, data, o);
    options[o] = 0;

    char* pattern = reinterpret_cast<char*>(patternRegion + kRegion - patLen - 1);
    std::memcpy(pattern, patBytes, patLen);
    pattern[patLen] = 0;

    int stateSize = 0;
    if (kelsRegExpGetSize(pattern, &stateSize) != kelStatusOk) std::abort();
    if (static_cast<std::size_t>(stateSize) != 48056 + 24 * patLen) std::abort();
    Kel8u* block = stateRegion + kRegion - stateSize;
    std::memset(block - kSlack, kSentinel, kSlack);
    auto* state = reinterpret_cast<RegExpState*>(block);

    int errOffset = -1;
    const KelStatus status = kelsRegExpInit(pattern, nul ? options : nullptr, state, &errOffset);
    for (std::size_t i = 0; i < kSlack; ++i) {
        if (block[-1 - static_cast<long>(i)] != kSentinel) std::abort();
    }
    if (status != kelStatusOk) {
        const Kel8u subject[2] = {'a', 'b'};
        RegExpMatchRecord rec[2];
        int n = 2;
        if (kelsRegExpFind_8u(subject, 2, state, rec, &n) != kelStatusRegExpBadState) std::abort();
    }
    switch (status) {
        case kelStatusOk: {
            if (!n8_regExpCheck(state, stateSize).empty()) std::abort();
            const std::string listing = n8_regExpDump(state);
            if (listing.empty()) std::abort();
            // Init resets what the setters change, and a second compile into the used block gives the same program.
            kelsRegExpSetMatchLimit(7, state);
            kelsRegExpSetFormat(0, state);
            if (kelsRegExpInit(pattern, nul ? options : nullptr, state, &errOffset) != kelStatusOk) std::abort();
            if (n8_regExpDump(state) != listing) std::abort();
            break;
        }
        case kelStatusRegExpBadOption:
            if (errOffset != 0) std::abort();
            break;
        case kelStatusRegExpBadEscape:
        case kelStatusRegExpBadClass:
        case kelStatusRegExpBadReference:
        case kelStatusRegExpBadGroup:
        case kelStatusRegExpBadQuantifier:
            if (errOffset < 0 || static_cast<std::size_t>(errOffset) > patLen) std::abort();
            break;
        default:
            std::abort();
    }
    return 0;
}

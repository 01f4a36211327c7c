// src/kelbz2/kelbz2_internal.h - libbz2's declarations with default visibility (every other symbol of the library
// is hidden), and what the parts of libkelbz2 share.
#pragma once

#include <cstdio>

#pragma GCC visibility push(default)
#include <bzlib.h>
#pragma GCC visibility pop

#include "stream/stream_internal.h"

#include <cstdint>

// bz_stream::state points to one of these; bzlib.h leaves it a void pointer. The compress and decompress states
// derive from it, and every entry point checks `strm` and `kind` before it trusts the rest: a stream that was
// never initialised, was ended, was copied elsewhere or belongs to the other direction gets BZ_PARAM_ERROR.
struct KelBz2StateHead {
    bz_stream* strm;
    std::uint32_t kind;
};

namespace kel::bz2 {

constexpr std::uint32_t kCompressState = 0x6b42435a;    // "kBCZ"
constexpr std::uint32_t kDecompressState = 0x6b42445a;  // "kBDZ"

// The state of strm if it is live and of the given kind, else null.
template <class State>
State* stateOf(bz_stream* strm, std::uint32_t kind) {
    if (!strm || !strm->state) return nullptr;
    auto* head = static_cast<KelBz2StateHead*>(strm->state);
    return head->strm == strm && head->kind == kind ? static_cast<State*>(head) : nullptr;
}

// Puts malloc and free into bzalloc and bzfree where the caller left them null, as libbz2 does (callers see them).
void installDefaultAllocator(bz_stream* strm);

// Memory from the stream's hooks; null when they fail or n does not fit in bzalloc's int argument.
void* allocate(bz_stream* strm, std::size_t n);
void release(bz_stream* strm, void* p);

// The stream engines' allocator over strm's hooks (strm must stay where it is, which libbz2 demands anyway).
stream::Allocator allocatorOf(bz_stream* strm);

// Adds a call's progress to the 64-bit count split over lo32 and hi32.
inline void addToCount(unsigned int* lo32, unsigned int* hi32, std::size_t n) {
    const std::uint64_t total = ((static_cast<std::uint64_t>(*hi32) << 32) | *lo32) + n;
    *lo32 = static_cast<unsigned int>(total);
    *hi32 = static_cast<unsigned int>(total >> 32);
}

// What a BZFILE points to: a stdio file and one stream over it, in one direction.
struct BzFile {
    std::FILE* handle;
    bool writing;
    bool initialised;  // strm holds a live state
    int lastErr;       // the last bzerror set on this file (BZ2_bzerror, BZ2_bzread and BZ2_bzReadGetUnused read it)
    bz_stream strm;
    char buf[BZ_MAX_UNUSED];  // reading: input taken from the file; writing: output on its way to the file
    int bufLen;
};

}  // namespace kel::bz2

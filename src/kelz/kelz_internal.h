// src/kelz/kelz_internal.h - what the parts of libkelz share: zlib's declarations with default visibility, the
// common head of the deflate and inflate states, and the stream's allocator.
//
// The library exports zlib's interface exactly as zlib.h declares it, so the declarations come from the system's
// zlib.h; every other symbol stays hidden (the build passes -fvisibility=hidden). Like the rest of kel it is C++
// without its runtime: no exceptions, no RTTI, no operator new or delete; objects are placed in memory from the
// stream's zalloc.
#pragma once

#include <cstddef>
#include <cstdint>

#pragma GCC visibility push(default)
#include <zlib.h>
#pragma GCC visibility pop

#include "stream/stream_internal.h"

// z_stream::state points to one of these; zlib.h leaves the type incomplete. Deflate and inflate states derive
// from it, and every entry point checks `strm` and `kind` before it trusts the rest (a stream that was never
// initialised, was ended, or belongs to the other direction gets Z_STREAM_ERROR).
struct internal_state {
    z_streamp strm;      // the stream this state was made for; a copied z_stream does not match
    std::uint32_t kind;  // kel::z::kDeflateState, kInflateState or kInflateBackState
};

namespace kel::z {

constexpr std::uint32_t kDeflateState = 0x6b5a4446;      // "kZDF"
constexpr std::uint32_t kInflateState = 0x6b5a494e;      // "kZIN"
constexpr std::uint32_t kInflateBackState = 0x6b5a4942;  // "kZIB"

// The state of strm if it is live and of the given kind, else null.
inline internal_state* stateOf(z_streamp strm, std::uint32_t kind) {
    if (!strm || !strm->state) return nullptr;
    internal_state* s = strm->state;
    return s->strm == strm && s->kind == kind ? s : nullptr;
}

// zlib's default allocator hooks, installed into zalloc/zfree when the caller leaves them null.
voidpf defaultAlloc(voidpf opaque, uInt items, uInt size);
void defaultFree(voidpf opaque, voidpf address);

// Fills in the default hooks where the caller left them null (as zlib does, so the caller sees them).
void installDefaultAllocator(z_streamp strm);

// Memory from the stream's hooks; null when they fail or n does not fit in zalloc's arguments.
void* allocate(z_streamp strm, std::size_t n);
void release(z_streamp strm, void* p);

// The stream engines' allocator, calling strm's hooks (strm must stay where it is while the allocator is used).
stream::Allocator allocatorOf(z_streamp strm);

// zlib's message for a return code, as zError gives it ("" for codes it does not know).
const char* messageOf(int code);

}  // namespace kel::z

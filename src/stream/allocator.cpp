// src/stream/allocator.cpp - the engines' allocator: the caller's hooks, or malloc and free. On its own so that the
// libraries that take single engines from the stream objects do not pull in the stream object and its exports.
#include <cstdlib>

#include "stream/stream_internal.h"

namespace kel::stream {

Allocator Allocator::from(const KelStreamOptions& options) {
    Allocator a;
    if (options.alloc && options.free) {
        a.allocFn = options.alloc;
        a.freeFn = options.free;
        a.opaque = options.opaque;
    }
    return a;
}

void* Allocator::get(std::size_t nBytes) const {
    if (nBytes == 0) nBytes = 1;
    return allocFn ? allocFn(opaque, nBytes) : std::malloc(nBytes);
}

void Allocator::put(void* p) const {
    if (!p) return;
    if (freeFn) {
        freeFn(opaque, p);
    } else {
        std::free(p);
    }
}

}  // namespace kel::stream

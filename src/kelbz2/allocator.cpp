// src/kelbz2/allocator.cpp - the stream's memory hooks: the caller's bzalloc and bzfree, or malloc and free.
#include <climits>
#include <cstdlib>

#include "kelbz2/kelbz2_internal.h"

namespace kel::bz2 {

namespace {

void* defaultAlloc(void*, int items, int size) {
    return std::malloc(static_cast<std::size_t>(items) * static_cast<std::size_t>(size));
}

void defaultFree(void*, void* p) {
    std::free(p);
}

void* allocateFor(void* strm, std::size_t n) {
    return allocate(static_cast<bz_stream*>(strm), n);
}

void releaseFor(void* strm, void* p) {
    release(static_cast<bz_stream*>(strm), p);
}

}  // namespace

void installDefaultAllocator(bz_stream* strm) {
    if (!strm->bzalloc) strm->bzalloc = defaultAlloc;
    if (!strm->bzfree) strm->bzfree = defaultFree;
}

void* allocate(bz_stream* strm, std::size_t n) {
    if (n == 0) n = 1;
    if (n > static_cast<std::size_t>(INT_MAX)) return nullptr;
    return strm->bzalloc(strm->opaque, static_cast<int>(n), 1);
}

void release(bz_stream* strm, void* p) {
    if (p) strm->bzfree(strm->opaque, p);
}

stream::Allocator allocatorOf(bz_stream* strm) {
    stream::Allocator a;
    a.allocFn = allocateFor;
    a.freeFn = releaseFor;
    a.opaque = strm;
    return a;
}

}  // namespace kel::bz2

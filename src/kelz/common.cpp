// src/kelz/common.cpp - the stream's memory hooks, zlib's message texts and version queries.
#include <climits>
#include <cstdlib>

#include "kelz/kelz_internal.h"

namespace kel::z {

voidpf defaultAlloc(voidpf, uInt items, uInt size) {
    return std::malloc(static_cast<std::size_t>(items) * size);
}

void defaultFree(voidpf, voidpf address) {
    std::free(address);
}

void installDefaultAllocator(z_streamp strm) {
    if (!strm->zalloc) {
        strm->zalloc = defaultAlloc;
        strm->opaque = Z_NULL;
    }
    if (!strm->zfree) strm->zfree = defaultFree;
}

void* allocate(z_streamp strm, std::size_t n) {
    if (n == 0) n = 1;
    if (n > UINT_MAX) return nullptr;
    return strm->zalloc(strm->opaque, static_cast<uInt>(n), 1);
}

void release(z_streamp strm, void* p) {
    if (p) strm->zfree(strm->opaque, p);
}

namespace {

void* allocateFor(void* opaque, std::size_t n) {
    return allocate(static_cast<z_streamp>(opaque), n);
}
void releaseFor(void* opaque, void* p) {
    release(static_cast<z_streamp>(opaque), p);
}

}  // namespace

stream::Allocator allocatorOf(z_streamp strm) {
    stream::Allocator a;
    a.allocFn = allocateFor;
    a.freeFn = releaseFor;
    a.opaque = strm;
    return a;
}

const char* messageOf(int code) {
    switch (code) {
        case Z_NEED_DICT:
            return "need dictionary";
        case Z_STREAM_END:
            return "stream end";
        case Z_OK:
            return "";
        case Z_ERRNO:
            return "file error";
        case Z_STREAM_ERROR:
            return "stream error";
        case Z_DATA_ERROR:
            return "data error";
        case Z_MEM_ERROR:
            return "insufficient memory";
        case Z_BUF_ERROR:
            return "buffer error";
        case Z_VERSION_ERROR:
            return "incompatible version";
        default:
            return "";
    }
}

}  // namespace kel::z

extern "C" {

const char* zlibVersion(void) {
    return ZLIB_VERSION;
}

// The sizes of uInt, uLong, voidpf and z_off_t in two bits each (1: 32 bits, 2: 64 bits); no optional features.
uLong zlibCompileFlags(void) {
    auto sizeCode = [](std::size_t bytes) -> uLong { return bytes == 2 ? 0 : bytes == 4 ? 1 : bytes == 8 ? 2 : 3; };
    return sizeCode(sizeof(uInt)) | sizeCode(sizeof(uLong)) << 2 | sizeCode(sizeof(voidpf)) << 4 |
           sizeCode(sizeof(z_off_t)) << 6;
}

const char* zError(int err) {
    return kel::z::messageOf(err);
}

}  // extern "C"

// tests/stream/kelstream_abi_test.cpp - the binary interface of libkelstream on x86-64: the layout of the two
// structures programs fill or read, the values of the enums and the defaults a zeroed program would otherwise
// assume. A change here breaks every program built against libkelstream.so.1, so it needs a new soname.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "kelstream.h"

namespace {

// KelStreamOptions: caller-filled, read by every create and one-shot call.
static_assert(sizeof(KelStreamOptions) == 152);
static_assert(alignof(KelStreamOptions) == 8);
static_assert(offsetof(KelStreamOptions, level) == 0);
static_assert(offsetof(KelStreamOptions, threads) == 4);
static_assert(offsetof(KelStreamOptions, alloc) == 8);
static_assert(offsetof(KelStreamOptions, free) == 16);
static_assert(offsetof(KelStreamOptions, opaque) == 24);
static_assert(offsetof(KelStreamOptions, stopAtEntries) == 32);
static_assert(offsetof(KelStreamOptions, fastest) == 36);
static_assert(offsetof(KelStreamOptions, dictionary) == 40);
static_assert(offsetof(KelStreamOptions, dictionaryLen) == 48);
static_assert(offsetof(KelStreamOptions, name) == 56);
static_assert(offsetof(KelStreamOptions, comment) == 64);
static_assert(offsetof(KelStreamOptions, extra) == 72);
static_assert(offsetof(KelStreamOptions, extraLen) == 80);
static_assert(offsetof(KelStreamOptions, mtime) == 88);
static_assert(offsetof(KelStreamOptions, headerCrc) == 96);
static_assert(offsetof(KelStreamOptions, os) == 100);
static_assert(offsetof(KelStreamOptions, lz4BlockSizeId) == 104);
static_assert(offsetof(KelStreamOptions, lz4Linked) == 108);
static_assert(offsetof(KelStreamOptions, lz4BlockChecksum) == 112);
static_assert(offsetof(KelStreamOptions, lz4ContentChecksum) == 116);
static_assert(offsetof(KelStreamOptions, lz4HighCompression) == 120);
static_assert(offsetof(KelStreamOptions, contentSize) == 128);
static_assert(offsetof(KelStreamOptions, hasDictId) == 136);
static_assert(offsetof(KelStreamOptions, dictId) == 140);
static_assert(offsetof(KelStreamOptions, mode) == 144);
static_assert(offsetof(KelStreamOptions, lzopCrc32) == 148);

// KelStreamHeader: filled by kelStreamGetHeader.
static_assert(sizeof(KelStreamHeader) == 136);
static_assert(alignof(KelStreamHeader) == 8);
static_assert(offsetof(KelStreamHeader, format) == 0);
static_assert(offsetof(KelStreamHeader, entry) == 4);
static_assert(offsetof(KelStreamHeader, complete) == 8);
static_assert(offsetof(KelStreamHeader, name) == 16);
static_assert(offsetof(KelStreamHeader, comment) == 24);
static_assert(offsetof(KelStreamHeader, extra) == 32);
static_assert(offsetof(KelStreamHeader, extraLen) == 40);
static_assert(offsetof(KelStreamHeader, mtime) == 48);
static_assert(offsetof(KelStreamHeader, mode) == 56);
static_assert(offsetof(KelStreamHeader, os) == 60);
static_assert(offsetof(KelStreamHeader, headerCrc) == 64);
static_assert(offsetof(KelStreamHeader, level) == 68);
static_assert(offsetof(KelStreamHeader, method) == 72);
static_assert(offsetof(KelStreamHeader, hasDictId) == 76);
static_assert(offsetof(KelStreamHeader, dictId) == 80);
static_assert(offsetof(KelStreamHeader, contentSize) == 88);
static_assert(offsetof(KelStreamHeader, lz4BlockSizeId) == 96);
static_assert(offsetof(KelStreamHeader, lz4Linked) == 100);
static_assert(offsetof(KelStreamHeader, lz4BlockChecksum) == 104);
static_assert(offsetof(KelStreamHeader, lz4ContentChecksum) == 108);
static_assert(offsetof(KelStreamHeader, lz4Legacy) == 112);
static_assert(offsetof(KelStreamHeader, totalIn) == 120);
static_assert(offsetof(KelStreamHeader, totalOut) == 128);

// The enums travel as int through C callers, switch statements and language bindings.
static_assert(sizeof(KelStreamFormat) == 4 && sizeof(KelStreamResult) == 4 && sizeof(KelStreamFlush) == 4 &&
              sizeof(KelStreamDirection) == 4);
static_assert(kelFormatAuto == 0 && kelFormatGzip == 1 && kelFormatZlib == 2 && kelFormatDeflate == 3 &&
              kelFormatBzip2 == 4 && kelFormatLz4 == 5 && kelFormatLzop == 6 && kelFormatLzss == 7);
static_assert(kelCompress == 0 && kelDecompress == 1);
static_assert(kelFlushNone == 0 && kelFlushSync == 1 && kelFlushFinish == 2);
static_assert(kelStreamOk == 0 && kelStreamEnd == 1 && kelStreamFlushed == 2 && kelStreamNeedDictionary == 3 &&
              kelStreamEntryEnd == 4 && kelStreamTrailingData == 5);
static_assert(kelStreamErrArgument == -1 && kelStreamErrMemory == -2 && kelStreamErrCorrupt == -3 &&
              kelStreamErrTruncated == -4 && kelStreamErrChecksum == -5 && kelStreamErrUnsupported == -6 &&
              kelStreamErrUnknownFormat == -7 && kelStreamErrNoRoom == -8 && kelStreamErrLibrary == -9 &&
              kelStreamErrThread == -10);
static_assert(KELSTREAM_VERSION_MAJOR == 1);

// Programs built against 1.0 rely on the defaults the library fills: a changed default changes their output, and
// a field left unfilled would carry whatever the caller's stack held.
TEST(KelStreamAbi, DefaultOptionsSetTheDocumentedValuesAndClearEveryOtherField) {
    KelStreamOptions o;
    std::memset(&o, 0xA5, sizeof o);
    kelStreamDefaultOptions(&o);
    EXPECT_EQ(o.os, 3);
    EXPECT_EQ(o.lz4BlockSizeId, 7);
    EXPECT_EQ(o.lz4ContentChecksum, 1);
    EXPECT_EQ(o.contentSize, -1);
    EXPECT_TRUE(o.alloc == nullptr && o.free == nullptr && o.opaque == nullptr);
    EXPECT_TRUE(o.dictionary == nullptr && o.name == nullptr && o.comment == nullptr && o.extra == nullptr);
    const long long zeros[] = {
        o.level,  o.threads,   o.stopAtEntries, o.fastest,          (long long)o.dictionaryLen, (long long)o.extraLen,
        o.mtime,  o.headerCrc, o.lz4Linked,     o.lz4BlockChecksum, o.lz4HighCompression,       o.hasDictId,
        o.dictId, o.mode,      o.lzopCrc32};
    for (std::size_t i = 0; i < sizeof zeros / sizeof zeros[0]; ++i) EXPECT_EQ(zeros[i], 0) << "field " << i;
}

}  // namespace

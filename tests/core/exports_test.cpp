// tests/core/exports_test.cpp - the exported entries of both shared libraries, called as a user calls them.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "kelch.h"
#include "keldc.h"

// The version record is part of the binary interface.
static_assert(sizeof(LibraryVersion) == 48);
static_assert(offsetof(LibraryVersion, major) == 0);
static_assert(offsetof(LibraryVersion, minor) == 4);
static_assert(offsetof(LibraryVersion, update) == 8);
static_assert(offsetof(LibraryVersion, build) == 12);
static_assert(offsetof(LibraryVersion, targetCpu) == 16);
static_assert(offsetof(LibraryVersion, name) == 24);
static_assert(offsetof(LibraryVersion, version) == 32);
static_assert(offsetof(LibraryVersion, buildDate) == 40);
static_assert(sizeof(Kel16sc) == 4 && sizeof(KelStatus) == 4);

TEST(Version, RecordsMatchTheTable) {
    const LibraryVersion* dc = keldcGetLibVersion();
    const LibraryVersion* ch = kelchGetLibVersion();
    ASSERT_NE(dc, nullptr);
    ASSERT_NE(ch, nullptr);
    EXPECT_EQ(dc, keldcGetLibVersion());
    EXPECT_EQ(ch, kelchGetLibVersion());
    for (const LibraryVersion* v : {dc, ch}) {
        EXPECT_EQ(v->major, 2018);
        EXPECT_EQ(v->minor, 0);
        EXPECT_EQ(v->update, 0);
        EXPECT_EQ(v->build, 56444);
        EXPECT_EQ(std::memcmp(v->targetCpu, "n8\0\0", 4), 0);
        EXPECT_STREQ(v->version, "2018.0.0 (r56444)");
        EXPECT_STREQ(v->buildDate, "Jul 24 2017");
    }
    EXPECT_STREQ(dc->name, "kelDC Quor (n8)");
    EXPECT_STREQ(ch->name, "kelCH Quor (n8)");
}

// The entry forwards through its slot: the slot is hidden, so the exported symbol is the only way in, and its
// results (failing ones included) are the implementation's.
TEST(ExportFrame, EntriesReturnTheImplementationsResults) {
    Kel32u sum = 1;
    EXPECT_EQ(kelsAdler32_8u(reinterpret_cast<const Kel8u*>("abc"), 3, &sum), kelStatusOk);
    EXPECT_EQ(sum, 0x024D0127u);
    EXPECT_EQ(kelsAdler32_8u(nullptr, 3, nullptr), kelStatusNullPointer);
    Kel32u crc = 0;
    EXPECT_EQ(kelsCRC32_8u(reinterpret_cast<const Kel8u*>("123456789"), 9, &crc), kelStatusOk);
    EXPECT_EQ(crc, 0xCBF43926u);
    EXPECT_EQ(kelsCRC32_8u(reinterpret_cast<const Kel8u*>("1"), 0, &crc), kelStatusBadSize);
    EXPECT_EQ(crc, 0xCBF43926u);
}

TEST(ExportFrame, SlotsAndImplementationsAreNotExported) {
    void* self = dlopen(nullptr, RTLD_NOW);
    ASSERT_NE(self, nullptr);
    EXPECT_NE(dlsym(self, "kelsAdler32_8u"), nullptr);
    EXPECT_EQ(dlsym(self, "kelsAdler32_8u_arraddr"), nullptr);
    EXPECT_EQ(dlsym(self, "n8_kelsAdler32_8u"), nullptr);
    EXPECT_NE(dlsym(self, "kelchGetLibVersion"), nullptr);
    EXPECT_EQ(dlsym(self, "kelchGetLibVersion_arraddr"), nullptr);
    dlclose(self);
}

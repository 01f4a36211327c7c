// tests/support/pinned_digest.h - outputs pinned by digest: a test keeps a table of {key, crc} recorded from the code
// before a change meant to keep its output, and checks each fresh digest against it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace kel::test {

struct PinnedDigest {
    const char* key;
    std::uint32_t crc;
};

// With KEL_PRINT_DIGESTS=1 the digest is printed as a table line instead of checked, to re-record the table after a
// deliberate change of output.
template <std::size_t N>
void checkPinnedDigest(const PinnedDigest (&table)[N], const std::string& key, std::uint32_t got) {
    const char* print = std::getenv("KEL_PRINT_DIGESTS");
    if (print != nullptr && print[0] == '1') {
        std::printf("    {\"%s\", 0x%08X},\n", key.c_str(), got);
        return;
    }
    for (const PinnedDigest& e : table) {
        if (key == e.key) {
            EXPECT_EQ(got, e.crc) << key;
            return;
        }
    }
    ADD_FAILURE() << key << ": no recorded digest";
}

}  // namespace kel::test

// tests/ch/regexp/regexp_prefilter_test.cpp - the vector pair scan of the start-position search against its scalar
// twin, over sets that fit the nibble buckets exactly and sets that must share buckets.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "ch/regexp/regexp_prefilter.h"

namespace {

void randomSet(std::mt19937& rng, bool* set, int kind) {
    for (int b = 0; b < 256; ++b) set[b] = false;
    switch (kind) {
        case 0:  // a few letters in both cases: the shape of a caseless alternation
            for (int k = 0; k < 4; ++k) {
                const int l = 'a' + static_cast<int>(rng() % 26);
                set[l] = set[l - 32] = true;
            }
            break;
        case 1:  // scattered bytes over every high nibble: more low-nibble patterns than buckets
            for (int k = 0; k < 40; ++k) set[rng() % 256] = true;
            break;
        case 2:  // dense: about half of all bytes
            for (int b = 0; b < 256; ++b) set[b] = (rng() & 1) != 0;
            break;
        default:  // every byte
            for (int b = 0; b < 256; ++b) set[b] = true;
            break;
    }
}

TEST(RegExpPrefilter, PairScanAgreesWithScalarTwin) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 400; ++round) {
        bool first[256], second[256];
        randomSet(rng, first, round % 4);
        randomSet(rng, second, (round / 4) % 4);
        RegExpPairFilter f;
        n8_regExpPairFilterInit(&f, first, round % 7 == 0 ? nullptr : second);
        // Subjects drawn mostly from outside the sets, so that hits are sparse and land anywhere in a block.
        std::vector<Kel8u> buf(200);
        for (auto& b : buf) b = static_cast<Kel8u>(rng() % 256);
        for (int k = 0; k < 200; ++k) {
            if (rng() % 4 && first[buf[k]]) buf[k] = static_cast<Kel8u>(buf[k] ^ 0x55);
        }
        for (int len = 0; len <= 80; ++len) {
            const int at = static_cast<int>(rng() % 100);
            // Copy to an exact-size heap block so that a read past the end shows under the address sanitizer.
            std::vector<Kel8u> src(buf.begin() + at, buf.begin() + at + len);
            const Kel8u* p = src.empty() ? buf.data() : src.data();
            ASSERT_EQ(n8_regExpPairScan(f, p, len), n8_regExpPairScan_ref(f, p, len))
                << "round " << round << " len " << len;
        }
    }
}

TEST(RegExpPrefilter, LastByteNeedsNoSecond) {
    bool first[256] = {}, second[256] = {};
    first['T'] = true;
    second['o'] = true;
    RegExpPairFilter f;
    n8_regExpPairFilterInit(&f, first, second);
    const Kel8u text[] = "xxTaxxxxxxxxxxxxxxxxxxxxxxTx";
    const Kel32s len = static_cast<Kel32s>(sizeof text - 1);
    EXPECT_EQ(n8_regExpPairScan(f, text, len), len);          // "Ta" and "Tx" fail on their second bytes
    EXPECT_EQ(n8_regExpPairScan(f, text, len - 1), len - 2);  // a T in the last byte passes on its own
    EXPECT_EQ(n8_regExpPairScan(f, text, 2), 2);
}

}  // namespace

// tests/dc/bzip2/bzip2_huff_test.cpp - table choice, the table-and-selector section, symbol coding and decoding.
#include <gtest/gtest.h>

#include <bzlib.h>

#include <cmath>
#include <cstddef>

#include "dc/bzip2/bzip2_test_util.h"
#include "support/test_util.h"

namespace {

using kel::test::bz2::Bytes;
using kel::test::bz2::Symbols;

// Reads bits MSB first from a byte string followed by the pending bits of a bit buffer.
std::string bitString(const Bytes& bytes, int nBytes, Kel32u code, int codeBits) {
    std::string s;
    for (int i = 0; i < nBytes; ++i) {
        for (int b = 7; b >= 0; --b) s += ((bytes[i] >> b) & 1) ? '1' : '0';
    }
    for (int b = 0; b < codeBits; ++b) s += ((code >> (31 - b)) & 1) ? '1' : '0';
    return s;
}

// Code lengths of every table, read back from a section bit string (after the header and the selectors).
std::vector<std::vector<int>> sectionLengths(const std::string& s, int alpha) {
    const int nTables = std::stoi(s.substr(0, 3), nullptr, 2);
    const int nSelectors = std::stoi(s.substr(3, 15), nullptr, 2);
    std::size_t p = 18;
    for (int g = 0; g < nSelectors; ++g) {
        while (s[p] == '1') ++p;
        ++p;
    }
    std::vector<std::vector<int>> tables;
    for (int t = 0; t < nTables; ++t) {
        int cur = std::stoi(s.substr(p, 5), nullptr, 2);
        p += 5;
        std::vector<int> lens;
        for (int v = 0; v < alpha; ++v) {
            while (s[p] == '1') {
                cur += s[p + 1] == '0' ? 1 : -1;
                p += 2;
            }
            ++p;
            lens.push_back(cur);
        }
        tables.push_back(lens);
    }
    return tables;
}

struct Encoded {
    Bytes state;
    Symbols sym;
    std::vector<Kel32u> freq = std::vector<Kel32u>(258, 0);
};

Encoded initTables(const Symbols& sym, int alpha) {
    Encoded e;
    e.sym = sym;
    for (Kel16u s : sym) ++e.freq[s];
    int size = 0;
    EXPECT_EQ(kelsEncodeHuffGetSize_BZ2_16u8u(static_cast<int>(sym.size()), &size), kelStatusOk);
    e.state.assign(size, 0);
    EXPECT_EQ(
        kelsEncodeHuffInit_BZ2_16u8u(alpha, e.freq.data(), sym.data(), static_cast<int>(sym.size()), e.state.data()),
        kelStatusOk);
    return e;
}

// Table count and selector count as the section writes them.
std::pair<int, int> sectionHeader(Encoded& e) {
    Bytes out(1 << 16);
    Kel32u code = 0;
    int bits = 0, len = static_cast<int>(out.size());
    EXPECT_EQ(kelsPackHuffContext_BZ2_16u8u(&code, &bits, out.data(), &len, e.state.data()), kelStatusOk);
    const std::string s = bitString(out, len, code, bits);
    return {std::stoi(s.substr(0, 3), nullptr, 2), std::stoi(s.substr(3, 15), nullptr, 2)};
}

TEST(Bzip2HuffEncode, TableCountFollowsTheBlockSize) {
    int size = 0;
    EXPECT_EQ(kelsEncodeHuffGetSize_BZ2_16u8u(101, &size), kelStatusOk);
    EXPECT_EQ(size, 7786);
    const std::pair<int, int> expect[] = {{2, 4}, {3, 4}, {6, 48}, {2, 3}};
    const int lengths[] = {199, 200, 2400, 101};
    for (int k = 0; k < 4; ++k) {
        Symbols sym(lengths[k]);
        for (int i = 0; i < lengths[k]; ++i) sym[i] = static_cast<Kel16u>(i % 9);
        Encoded e = initTables(sym, 10);
        EXPECT_EQ(sectionHeader(e), expect[k]) << lengths[k];
    }
}

TEST(Bzip2HuffEncode, SectionBitStringOfTwoEqualTables) {
    // Three symbols of equal frequency in one group: both tables come out as lengths 2, 2, 1 or similar; the
    // section layout is fixed by the header, the selectors and the per-symbol deltas.
    Symbols sym{0, 1, 2};
    Encoded e = initTables(sym, 3);
    Bytes out(64);
    Kel32u code = 0;
    int bits = 0, len = 64;
    ASSERT_EQ(kelsPackHuffContext_BZ2_16u8u(&code, &bits, out.data(), &len, e.state.data()), kelStatusOk);
    const std::string s = bitString(out, len, code, bits);
    EXPECT_EQ(s.substr(0, 3), "010");
    EXPECT_EQ(s.substr(3, 15), "000000000000001");
    EXPECT_EQ(s[18], '0');  // the group takes table 0 (equal costs pick the lower table)
    // Each table: 5-bit start equal to symbol 0's length, then the deltas and a 0 per symbol.
    std::size_t p = 19;
    for (int t = 0; t < 2; ++t) {
        int cur = std::stoi(s.substr(p, 5), nullptr, 2);
        p += 5;
        EXPECT_GE(cur, 1);
        for (int v = 0; v < 3; ++v) {
            while (s[p] == '1') {
                cur += s[p + 1] == '0' ? 1 : -1;
                p += 2;
            }
            EXPECT_EQ(s[p], '0');
            ++p;
            EXPECT_GE(cur, 1);
            EXPECT_LE(cur, 17);
        }
    }
    EXPECT_EQ(p, s.size());
}

TEST(Bzip2HuffEncode, LengthsStayWithinSeventeenBits) {
    // Fibonacci-like counts make the plain Huffman tree as deep as the alphabet.
    Symbols sym;
    Kel64u a = 1, b = 1;
    for (int v = 0; v < 26; ++v) {
        sym.insert(sym.end(), static_cast<std::size_t>(a), static_cast<Kel16u>(v));
        const Kel64u c = a + b;
        a = b;
        b = c;
    }
    std::shuffle(sym.begin(), sym.end(), kel::test::makeRng(21));
    sym.push_back(26);
    kel::test::bz2::CodedBlock block;
    Encoded e = initTables(sym, 27);
    Bytes out(sym.size() * 4 + 1024);
    Kel32u code = 0;
    int bits = 0, len = static_cast<int>(out.size());
    ASSERT_EQ(kelsPackHuffContext_BZ2_16u8u(&code, &bits, out.data(), &len, e.state.data()), kelStatusOk);
    int longest = 0;
    for (const auto& table : sectionLengths(bitString(out, len, code, bits), 27)) {
        double kraft = 0;
        for (int l : table) {
            longest = std::max(longest, l);
            kraft += std::ldexp(1.0, -l);
        }
        EXPECT_DOUBLE_EQ(kraft, 1.0);
    }
    EXPECT_EQ(longest, 17);
    // Decode the section and the symbols with the decoder: the lengths must be a valid, decodable set.
    int used = len;
    const Kel16u* ps = sym.data();
    int count = static_cast<int>(sym.size());
    len = static_cast<int>(out.size()) - used;
    ASSERT_EQ(kelsEncodeHuff_BZ2_16u8u(&code, &bits, &ps, &count, out.data() + used, &len, e.state.data()),
              kelStatusOk);
    used += len;
    for (; bits > 0; bits -= 8, code <<= 8) out[used++] = static_cast<std::uint8_t>(code >> 24);
    out.resize(used + 8, 0);
    int size = 0;
    kelsDecodeHuffGetSize_BZ2_8u16u(static_cast<int>(sym.size()), &size);
    Bytes state(size);
    kelsDecodeHuffInit_BZ2_8u16u(27, state.data());
    const Kel8u* src = out.data();
    int srcLen = static_cast<int>(out.size());
    code = 0;
    bits = 0;
    ASSERT_EQ(kelsUnpackHuffContext_BZ2_8u16u(&code, &bits, &src, &srcLen, state.data()), kelStatusOk);
    Symbols back(sym.size());
    int n = static_cast<int>(back.size());
    ASSERT_EQ(kelsDecodeHuff_BZ2_8u16u(&code, &bits, &src, &srcLen, back.data(), &n, state.data()), kelStatusOk);
    EXPECT_EQ(n, static_cast<int>(sym.size()) - 1);
    EXPECT_EQ(back, sym);
}

TEST(Bzip2HuffEncode, TooSmallDestinationReportsLostBits) {
    Symbols sym(5000);
    auto rng = kel::test::makeRng(22);
    for (auto& s : sym) s = static_cast<Kel16u>(rng() % 50);
    sym.back() = 50;
    Encoded e = initTables(sym, 51);
    Bytes out(100);
    Kel32u code = 0;
    int bits = 0, len = 100;
    const Kel16u* ps = sym.data();
    int count = 5000;
    EXPECT_EQ(kelsEncodeHuff_BZ2_16u8u(&code, &bits, &ps, &count, out.data(), &len, e.state.data()), kelStatusDstFull);
    EXPECT_EQ(len, 100);
    EXPECT_GT(bits, 32);
    EXPECT_EQ(count, 0);
}

// Builds a section by hand: header, unary selectors (already move-to-front coded) and per-table length codes.
Bytes sectionBits(const std::string& bits) {
    Bytes out((bits.size() + 7) / 8 + 8, 0);
    for (std::size_t i = 0; i < bits.size(); ++i) {
        if (bits[i] == '1') out[i / 8] |= static_cast<std::uint8_t>(0x80 >> (i % 8));
    }
    return out;
}

std::string bin(int v, int width) {
    std::string s;
    for (int b = width - 1; b >= 0; --b) s += ((v >> b) & 1) ? '1' : '0';
    return s;
}

KelStatus unpack(const Bytes& src, int alpha, Bytes& state) {
    int size = 0;
    kelsDecodeHuffGetSize_BZ2_8u16u(900000, &size);
    state.assign(size, 0);
    kelsDecodeHuffInit_BZ2_8u16u(alpha, state.data());
    Kel32u code = 0;
    int bits = 0;
    const Kel8u* p = src.data();
    int len = static_cast<int>(src.size());
    return kelsUnpackHuffContext_BZ2_8u16u(&code, &bits, &p, &len, state.data());
}

TEST(Bzip2HuffDecode, RejectsInvalidSections) {
    Bytes state;
    const std::string table3 =
        "00010"
        "0"
        "0"
        "0";  // three symbols of length 2
    EXPECT_EQ(unpack(sectionBits(bin(1, 3) + bin(1, 15) + "0" + table3), 3, state), kelStatusBadStream);
    EXPECT_EQ(unpack(sectionBits(bin(7, 3) + bin(1, 15) + "0" + table3), 3, state), kelStatusBadStream);
    EXPECT_EQ(unpack(sectionBits(bin(2, 3) + bin(0, 15) + table3 + table3), 3, state), kelStatusBadStream);
    EXPECT_EQ(unpack(sectionBits(bin(2, 3) + bin(1, 15) + "111111" + "0" + table3 + table3), 3, state),
              kelStatusBadStream);
    EXPECT_EQ(unpack(sectionBits(bin(2, 3) + bin(1, 15) + "0" + "00000" + "000" + table3), 3, state),
              kelStatusBadStream);
    EXPECT_EQ(unpack(sectionBits(bin(2, 3) + bin(1, 15) + "0" + "10101" + "000" + table3), 3, state),
              kelStatusBadStream);
    // 20 plus one step and 1 minus one step leave the range.
    EXPECT_EQ(unpack(sectionBits(bin(2, 3) + bin(1, 15) + "0" + "10100" + "100" + "0" + "0" + table3), 3, state),
              kelStatusBadStream);
    EXPECT_EQ(unpack(sectionBits(bin(2, 3) + bin(1, 15) + "0" + "00001" + "110" + "0" + "0" + table3), 3, state),
              kelStatusBadStream);
    // Three codes of length 1 over-subscribe the code space.
    EXPECT_EQ(unpack(sectionBits(bin(2, 3) + bin(1, 15) + "0" + "00001" + "000" + table3), 3, state),
              kelStatusBadStream);
    // The largest valid selector count and a delta mix (up then down) are accepted.
    EXPECT_EQ(unpack(sectionBits(bin(2, 3) + bin(18002, 15) + std::string(18002, '0') + table3 + table3), 3, state),
              kelStatusOk);
    EXPECT_EQ(unpack(sectionBits(bin(2, 3) + bin(1, 15) + "0" + "00010" + "10110" + "0" + "0" + table3), 3, state),
              kelStatusOk);
}

TEST(Bzip2HuffDecode, SectionInOneBytePiecesEqualsOneCall) {
    auto rng = kel::test::makeRng(23);
    Symbols sym(3000);
    for (auto& s : sym) s = static_cast<Kel16u>(rng() % 40);
    sym.push_back(40);
    Encoded e = initTables(sym, 41);
    Bytes out(1 << 16);
    Kel32u code = 0;
    int bits = 0, len = static_cast<int>(out.size());
    ASSERT_EQ(kelsPackHuffContext_BZ2_16u8u(&code, &bits, out.data(), &len, e.state.data()), kelStatusOk);
    for (; bits > 0; bits -= 8, code <<= 8) out[len++] = static_cast<std::uint8_t>(code >> 24);
    out.resize(len + 8);

    Bytes whole;
    ASSERT_EQ(unpack(out, 41, whole), kelStatusOk);
    Bytes pieces(whole.size(), 0);
    kelsDecodeHuffInit_BZ2_8u16u(41, pieces.data());
    code = 0;
    bits = 0;
    KelStatus st = kelStatusSrcExhausted;
    int calls = 0;
    for (std::size_t i = 0; i < out.size() && st == kelStatusSrcExhausted; ++i, ++calls) {
        const Kel8u* p = out.data() + i;
        int one = 1;
        st = kelsUnpackHuffContext_BZ2_8u16u(&code, &bits, &p, &one, pieces.data());
        ASSERT_EQ(one, 0);
    }
    EXPECT_EQ(st, kelStatusOk);
    EXPECT_LE(calls, len);
    // The state read piecewise decodes the block's symbols: append them to the section and decode.
    Bytes coded(1 << 16);
    Kel32u c2 = 0;
    int b2 = 0, l2 = static_cast<int>(coded.size());
    ASSERT_EQ(kelsPackHuffContext_BZ2_16u8u(&c2, &b2, coded.data(), &l2, e.state.data()), kelStatusOk);
    int used = l2;
    const Kel16u* ps = sym.data();
    int count = static_cast<int>(sym.size());
    l2 = static_cast<int>(coded.size()) - used;
    ASSERT_EQ(kelsEncodeHuff_BZ2_16u8u(&c2, &b2, &ps, &count, coded.data() + used, &l2, e.state.data()), kelStatusOk);
    used += l2;
    for (; b2 > 0; b2 -= 8, c2 <<= 8) coded[used++] = static_cast<std::uint8_t>(c2 >> 24);
    coded.resize(used + 4);
    kelsDecodeHuffInit_BZ2_8u16u(41, pieces.data());
    code = 0;
    bits = 0;
    const Kel8u* p = coded.data();
    int left = static_cast<int>(coded.size());
    for (;;) {
        int one = 1;
        const Kel8u* q = p;
        st = kelsUnpackHuffContext_BZ2_8u16u(&code, &bits, &q, &one, pieces.data());
        p += 1 - one;
        left -= 1 - one;
        if (st != kelStatusSrcExhausted) break;
    }
    ASSERT_EQ(st, kelStatusOk);
    Symbols back(sym.size());
    int n = static_cast<int>(back.size());
    ASSERT_EQ(kelsDecodeHuff_BZ2_8u16u(&code, &bits, &p, &left, back.data(), &n, pieces.data()), kelStatusOk);
    EXPECT_EQ(n, static_cast<int>(sym.size()) - 1);
    EXPECT_EQ(back, sym);
}

TEST(Bzip2HuffDecode, OneSymbolPerCallCrossesGroups) {
    auto rng = kel::test::makeRng(24);
    Symbols sym(700);
    for (std::size_t i = 0; i < sym.size(); ++i) sym[i] = static_cast<Kel16u>((i / 50) % 2 ? rng() % 3 : 3 + rng() % 9);
    sym.push_back(12);
    Encoded e = initTables(sym, 13);
    Bytes out(1 << 16);
    Kel32u code = 0;
    int bits = 0, len = static_cast<int>(out.size());
    kelsPackHuffContext_BZ2_16u8u(&code, &bits, out.data(), &len, e.state.data());
    int used = len;
    const Kel16u* ps = sym.data();
    int count = static_cast<int>(sym.size());
    len = static_cast<int>(out.size()) - used;
    kelsEncodeHuff_BZ2_16u8u(&code, &bits, &ps, &count, out.data() + used, &len, e.state.data());
    used += len;
    for (; bits > 0; bits -= 8, code <<= 8) out[used++] = static_cast<std::uint8_t>(code >> 24);
    out.resize(used + 4);

    Bytes state;
    int size = 0;
    kelsDecodeHuffGetSize_BZ2_8u16u(static_cast<int>(sym.size()), &size);
    state.assign(size, 0);
    kelsDecodeHuffInit_BZ2_8u16u(13, state.data());
    code = 0;
    bits = 0;
    const Kel8u* src = out.data();
    int srcLen = static_cast<int>(out.size());
    ASSERT_EQ(kelsUnpackHuffContext_BZ2_8u16u(&code, &bits, &src, &srcLen, state.data()), kelStatusOk);
    Symbols back;
    for (;;) {
        Kel16u one = 0;
        int n = 1;
        const KelStatus st = kelsDecodeHuff_BZ2_8u16u(&code, &bits, &src, &srcLen, &one, &n, state.data());
        if (st == kelStatusOk) {
            EXPECT_EQ(n, 0);
            EXPECT_EQ(one, 12);
            break;
        }
        ASSERT_EQ(st, srcLen == 0 ? kelStatusSrcExhausted : kelStatusDstFull);
        ASSERT_EQ(n, 1);
        back.push_back(one);
    }
    sym.pop_back();
    EXPECT_EQ(back, sym);
}

TEST(Bzip2HuffDecode, StopsAtTheLastSelector) {
    // One selector, but symbols continue past the first group of 50 without an end-of-block symbol.
    const std::string table3 =
        "00010"
        "0"
        "0"
        "0";
    std::string bits = bin(2, 3) + bin(1, 15) + "0" + table3 + table3;
    for (int i = 0; i < 60; ++i) bits += "00";  // symbol 0 under lengths 2, 2, 2 (codes 00, 01, 10)
    Bytes src = sectionBits(bits);
    Bytes state;
    ASSERT_EQ(unpack(src, 3, state), kelStatusOk);
    // Re-read and decode.
    kelsDecodeHuffInit_BZ2_8u16u(3, state.data());
    Kel32u code = 0;
    int nBits = 0;
    const Kel8u* p = src.data();
    int len = static_cast<int>(src.size());
    ASSERT_EQ(kelsUnpackHuffContext_BZ2_8u16u(&code, &nBits, &p, &len, state.data()), kelStatusOk);
    Symbols out(100);
    int n = 100;
    EXPECT_EQ(kelsDecodeHuff_BZ2_8u16u(&code, &nBits, &p, &len, out.data(), &n, state.data()), kelStatusBadStream);
}

// ---- Selector counts up to the 15-bit maximum -----------------------------------------------------------------------

// A section of two 3-symbol tables (all lengths 2) announcing `count` selectors, move-to-front values 0 and 1 mixed.
std::string manySelectorSection(int count) {
    const std::string table3 =
        "00010"
        "0"
        "0"
        "0";
    std::string bits = bin(2, 3) + bin(count, 15);
    for (int g = 0; g < count; ++g) bits += g % 3 == 0 ? "10" : "0";
    return bits + table3 + table3;
}

TEST(Bzip2HuffDecode, SectionNeverWritesPastTheReportedSize) {
    constexpr std::size_t kGuard = 4096;
    for (int n : {1, 50, 1000, 100000, 900000}) {
        int size = 0;
        ASSERT_EQ(kelsDecodeHuffGetSize_BZ2_8u16u(n, &size), kelStatusOk);
        for (int count : {1, 2000, 18002, 18003, 20000, 32767}) {
            // An odd offset also moves the state's own alignment padding around.
            for (std::size_t offset : {0, 1}) {
                Bytes block(offset + static_cast<std::size_t>(size) + kGuard, 0xA5);
                Kel8u* const state = block.data() + offset;
                ASSERT_EQ(kelsDecodeHuffInit_BZ2_8u16u(3, state), kelStatusOk);
                const Bytes src = sectionBits(manySelectorSection(count));
                Kel32u code = 0;
                int bits = 0;
                const Kel8u* p = src.data();
                int len = static_cast<int>(src.size());
                EXPECT_EQ(kelsUnpackHuffContext_BZ2_8u16u(&code, &bits, &p, &len, state), kelStatusOk)
                    << n << " " << count;
                for (std::size_t i = 0; i < offset; ++i) ASSERT_EQ(block[i], 0xA5);
                for (std::size_t i = offset + size; i < block.size(); ++i) {
                    ASSERT_EQ(block[i], 0xA5) << "n " << n << ", " << count << " selectors: byte " << i - offset
                                              << " of a " << size << "-byte state written";
                }
            }
        }
    }
}

TEST(Bzip2HuffDecode, SizeCoversTheKeptSelectorsForAnyBlockSize) {
    int size = 0;
    for (int n : {1, 50, 51, 1000, 900000, 900100}) {
        ASSERT_EQ(kelsDecodeHuffGetSize_BZ2_8u16u(n, &size), kelStatusOk);
        EXPECT_EQ(size, 18002 + 9364) << n;
    }
    ASSERT_EQ(kelsDecodeHuffGetSize_BZ2_8u16u(900101, &size), kelStatusOk);
    EXPECT_EQ(size, 18003 + 9364);
}

TEST(Bzip2HuffDecode, SelectorsPastTheKeptOnesAreReadAndDropped) {
    // 20000 selectors announced: groups 0 to 18001 decode, a symbol of group 18002 is an error.
    const std::string head = manySelectorSection(20000);
    std::string bits = head;
    bits.reserve(head.size() + 2 * (18002 * 50 + 10));
    for (int i = 0; i < 18002 * 50 + 10; ++i) bits += "01";  // symbol 1 (codes 00, 01, 10)
    const Bytes src = sectionBits(bits);
    Bytes state;
    int size = 0;
    kelsDecodeHuffGetSize_BZ2_8u16u(1000, &size);
    state.assign(size, 0);
    ASSERT_EQ(kelsDecodeHuffInit_BZ2_8u16u(3, state.data()), kelStatusOk);
    Kel32u code = 0;
    int nBits = 0;
    const Kel8u* p = src.data();
    int len = static_cast<int>(src.size());
    ASSERT_EQ(kelsUnpackHuffContext_BZ2_8u16u(&code, &nBits, &p, &len, state.data()), kelStatusOk);
    Symbols out(18002 * 50 + 100);
    int n = static_cast<int>(out.size());
    EXPECT_EQ(kelsDecodeHuff_BZ2_8u16u(&code, &nBits, &p, &len, out.data(), &n, state.data()), kelStatusBadStream);
    EXPECT_EQ(n, 18002 * 50);
    EXPECT_EQ(out[18002 * 50 - 1], 1);

    // A dropped selector must still name a table.
    std::string bad = bin(2, 3) + bin(18010, 15) + std::string(18005, '0') + "110" + std::string(4, '0');
    bad +=
        "00010"
        "000"
        "00010"
        "000";
    EXPECT_EQ(unpack(sectionBits(bad), 3, state), kelStatusBadStream);
}

// A libbz2 file whose block is rewritten to announce more selectors than it has: libbz2 reads it, and so do the
// stages chained by hand.
TEST(Bzip2HuffDecode, Libbz2BlockWithExtraSelectorsDecodes) {
    auto rng = kel::test::makeRng(31);
    Bytes data(60000);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i % 1000 < 500 ? 'a' + rng() % 4 : rng() % 256);
    }
    unsigned int fileLen = static_cast<unsigned int>(data.size() * 2 + 1024);
    Bytes file(fileLen);
    ASSERT_EQ(
        BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(file.data()), &fileLen, reinterpret_cast<char*>(data.data()),
                                 static_cast<unsigned>(data.size()), 9, 0, 0),
        BZ_OK);
    file.resize(fileLen);
    for (int count : {18003, 20000, 32767}) {
        kel::test::bz2::CodedBlock block;
        const Bytes edited = kel::test::bz2::rewriteSelectorCount(file, count, &block);
        unsigned int backLen = static_cast<unsigned int>(data.size());
        Bytes back(backLen);
        ASSERT_EQ(BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(back.data()), &backLen,
                                             reinterpret_cast<char*>(const_cast<std::uint8_t*>(edited.data())),
                                             static_cast<unsigned>(edited.size()), 0, 0),
                  BZ_OK)
            << count;
        ASSERT_EQ(back, data);
        const Bytes stage1 = kel::test::bz2::decodeBlock(block, 900000);
        ASSERT_FALSE(stage1.empty()) << count;
        EXPECT_EQ(kel::test::bz2::runLengthDecode(stage1, data.size()), data) << count;
    }
}

// ---- Pending bits after the writers --------------------------------------------------------------------------------

// A .bz2 file of one block written by a caller that keeps its pending bits in one byte: it takes the writers'
// leftover bits into that byte and writes the end-of-stream trailer after them.
Bytes byteRegisterCallerFile(const Bytes& data, int* heldAfterPack, int* heldAfterSymbols) {
    struct ByteWriter {
        Bytes out;
        std::uint32_t partial = 0;  // pending bits, right-aligned
        int held = 0;               // 0 to 7
        void put(std::uint32_t v, int n) {
            for (int i = n - 1; i >= 0; --i) {
                partial = (partial << 1) | ((v >> i) & 1);
                if (++held == 8) {
                    out.push_back(static_cast<std::uint8_t>(partial));
                    partial = 0;
                    held = 0;
                }
            }
        }
        // Takes the bits a library call left in its buffer; a byte register keeps at most 7 of them.
        void takeBack(Kel32u code, int codeBits) {
            held = codeBits & 7;
            partial = held == 0 ? 0 : code >> (32 - held);
        }
        Kel32u handOver(int* codeBits) const {
            *codeBits = held;
            return held == 0 ? 0 : partial << (32 - held);
        }
    } w;
    Bytes inUse;
    const Bytes stage1 = kel::test::bz2::runLengthEncode(data, inUse);
    const int n = static_cast<int>(stage1.size());
    Bytes last;
    int origin = 0;
    EXPECT_EQ(kel::test::bz2::bwtForward(stage1, last, origin), kelStatusOk);
    int dict = 0;
    Bytes reduced = inUse;
    EXPECT_EQ(kelsReduceDictionary_8u_I(reduced.data(), last.data(), n, &dict), kelStatusOk);
    Bytes mtfState(256), mtf(n);
    kelsMTFInit_8u(mtfState.data());
    kelsMTFFwd_8u(last.data(), mtf.data(), n, mtfState.data());
    std::vector<Kel32u> freq(258, 0);
    Symbols sym(n + 1);
    const Kel8u* src = mtf.data();
    int srcLen = n, symLen = n;
    EXPECT_EQ(kelsEncodeZ1Z2_BZ2_8u16u(&src, &srcLen, sym.data(), &symLen, freq.data()), kelStatusOk);
    sym[symLen++] = static_cast<Kel16u>(dict + 1);
    ++freq[dict + 1];
    int stateSize = 0;
    kelsEncodeHuffGetSize_BZ2_16u8u(symLen, &stateSize);
    Bytes state(stateSize);
    EXPECT_EQ(kelsEncodeHuffInit_BZ2_16u8u(dict + 2, freq.data(), sym.data(), symLen, state.data()), kelStatusOk);

    Kel32u crc = 0;
    kelsCRC32_BZ2_8u(data.data(), static_cast<int>(data.size()), &crc);
    w.put(0x425A6839, 32);  // BZh9
    w.put(0x314159, 24);
    w.put(0x265359, 24);
    w.put(crc, 32);
    w.put(0, 1);
    w.put(static_cast<std::uint32_t>(origin), 24);
    std::uint32_t ranges = 0;
    for (int v = 0; v < 256; ++v) ranges |= inUse[v] ? 0x8000u >> (v / 16) : 0;
    w.put(ranges, 16);
    for (int r = 0; r < 16; ++r) {
        if (!(ranges & (0x8000u >> r))) continue;
        std::uint32_t bits = 0;
        for (int k = 0; k < 16; ++k) bits |= inUse[16 * r + k] ? 0x8000u >> k : 0;
        w.put(bits, 16);
    }
    Bytes coded(static_cast<std::size_t>(symLen) * 3 + 65536);
    int codeBits = 0;
    Kel32u code = w.handOver(&codeBits);
    int len = static_cast<int>(coded.size());
    EXPECT_EQ(kelsPackHuffContext_BZ2_16u8u(&code, &codeBits, coded.data(), &len, state.data()), kelStatusOk);
    *heldAfterPack = codeBits;
    w.out.insert(w.out.end(), coded.begin(), coded.begin() + len);
    w.takeBack(code, codeBits);
    code = w.handOver(&codeBits);
    const Kel16u* ps = sym.data();
    len = static_cast<int>(coded.size());
    EXPECT_EQ(kelsEncodeHuff_BZ2_16u8u(&code, &codeBits, &ps, &symLen, coded.data(), &len, state.data()), kelStatusOk);
    *heldAfterSymbols = codeBits;
    w.out.insert(w.out.end(), coded.begin(), coded.begin() + len);
    w.takeBack(code, codeBits);
    w.put(0x177245, 24);
    w.put(0x385090, 24);
    w.put(crc, 32);  // the stream CRC of a single block is its block CRC
    if (w.held > 0) w.put(0, 8 - w.held);
    return w.out;
}

TEST(Bzip2HuffEncode, WritersLeaveOnlyAPartialByte) {
    auto rng = kel::test::makeRng(32);
    for (int round = 0; round < 12; ++round) {
        Bytes data(1 + rng() % 30000);
        const int spread = 2 + static_cast<int>(rng() % 200);
        for (auto& b : data) b = static_cast<std::uint8_t>(rng() % spread * 3);
        int afterPack = -1, afterSymbols = -1;
        const Bytes file = byteRegisterCallerFile(data, &afterPack, &afterSymbols);
        EXPECT_LT(afterPack, 8) << round;
        EXPECT_LT(afterSymbols, 8) << round;
        unsigned int backLen = static_cast<unsigned int>(data.size());
        Bytes back(backLen);
        ASSERT_EQ(BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(back.data()), &backLen,
                                             reinterpret_cast<char*>(const_cast<std::uint8_t*>(file.data())),
                                             static_cast<unsigned>(file.size()), 0, 0),
                  BZ_OK)
            << round;
        EXPECT_EQ(back, data) << round;
    }
}

// ---- Encoder state layout ------------------------------------------------------------------------------------------

static_assert(offsetof(HuffEncodeState_BZ2, alphabetSize) == 0);
static_assert(offsetof(HuffEncodeState_BZ2, selectorCount) == 4);
static_assert(offsetof(HuffEncodeState_BZ2, tableCount) == 8);
static_assert(offsetof(HuffEncodeState_BZ2, pCodes) == 16);
static_assert(offsetof(HuffEncodeState_BZ2, pLengths) == 24);
static_assert(offsetof(HuffEncodeState_BZ2, pSelectors) == 32);
static_assert(offsetof(HuffEncodeState_BZ2, codes) == 40);
static_assert(offsetof(HuffEncodeState_BZ2, lengths) == 6232);
static_assert(offsetof(HuffEncodeState_BZ2, lengths) + sizeof(HuffEncodeState_BZ2::lengths) == 7780);
static_assert(sizeof(HuffEncodeState_BZ2) == 7784);

TEST(Bzip2HuffEncode, StateFieldsAndPointersDescribeTheSection) {
    auto rng = kel::test::makeRng(33);
    Symbols sym(1234);
    for (std::size_t i = 0; i < sym.size(); ++i) sym[i] = static_cast<Kel16u>((i / 100) % 2 ? rng() % 5 : rng() % 30);
    sym.push_back(30);
    Encoded e = initTables(sym, 31);
    const auto* st = reinterpret_cast<const HuffEncodeState_BZ2*>(e.state.data());
    EXPECT_EQ(st->alphabetSize, 31);
    EXPECT_EQ(st->selectorCount, 25);
    EXPECT_EQ(st->tableCount, 5);
    ASSERT_EQ(st->pCodes, &st->codes[0][0]);
    ASSERT_EQ(st->pLengths, &st->lengths[0][0]);
    ASSERT_EQ(st->pSelectors, e.state.data() + 7780);

    // The section repeats the lengths and (move-to-front coded) the selectors the pointers show.
    Bytes out(1 << 16);
    Kel32u code = 0;
    int bits = 0, len = static_cast<int>(out.size());
    ASSERT_EQ(kelsPackHuffContext_BZ2_16u8u(&code, &bits, out.data(), &len, e.state.data()), kelStatusOk);
    const std::string s = bitString(out, len, code, bits);
    const auto tables = sectionLengths(s, 31);
    ASSERT_EQ(tables.size(), 5u);
    for (int t = 0; t < 5; ++t) {
        for (int v = 0; v < 31; ++v) EXPECT_EQ(st->pLengths[258 * t + v], tables[t][v]) << t << " " << v;
    }
    std::vector<int> list = {0, 1, 2, 3, 4, 5};
    std::size_t p = 18;
    for (int g = 0; g < 25; ++g) {
        int v = 0;
        while (s[p++] == '1') ++v;
        const int table = list[v];
        list.erase(list.begin() + v);
        list.insert(list.begin(), table);
        EXPECT_EQ(st->pSelectors[g], table) << g;
    }
    // Canonical codes: the decoder reads the symbols back with these lengths.
    for (int t = 0; t < 5; ++t) {
        for (int v = 0; v < 31; ++v) {
            EXPECT_LT(st->pCodes[258 * t + v], 1u << st->pLengths[258 * t + v]);
        }
    }
}

}  // namespace

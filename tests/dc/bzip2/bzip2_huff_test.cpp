// tests/dc/bzip2/bzip2_huff_test.cpp - table choice, the table-and-selector section, symbol coding and decoding.
#include <gtest/gtest.h>

#include <cmath>

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
    EXPECT_EQ(unpack(sectionBits(bin(2, 3) + bin(18003, 15) + std::string(18003, '0') + table3 + table3), 3, state),
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

}  // namespace

// src/kelz/checksum.cpp - zlib's Adler-32 and CRC-32 calls on the library's checksum kernels, and the combine
// functions (the checksum of A followed by B from the checksums of A and B and the length of B).
#include <climits>

#include "keldc.h"
#include "kelz/kelz_internal.h"

namespace {

constexpr std::uint32_t kCrcPolynomial = 0xEDB88320u;  // reflected: bit 31 is x^0
constexpr std::uint32_t kAdlerModulus = 65521;

// a * b modulo the CRC polynomial, both in the reflected representation.
constexpr std::uint32_t multiplyModP(std::uint32_t a, std::uint32_t b) {
    std::uint32_t product = 0;
    for (std::uint32_t m = 1u << 31; m != 0; m >>= 1) {
        if (a & m) product ^= b;
        b = b & 1 ? (b >> 1) ^ kCrcPolynomial : b >> 1;
    }
    return product;
}

struct PowersOfX {
    std::uint32_t v[32];  // x^(2^k) modulo the polynomial
    constexpr PowersOfX() : v() {
        v[0] = 1u << 30;  // x^1
        for (int k = 1; k < 32; ++k) v[k] = multiplyModP(v[k - 1], v[k - 1]);
    }
};
constexpr PowersOfX kPowersOfX;

// x^(8 * n) modulo the polynomial: the operator that moves a CRC past n zero bytes.
std::uint32_t shiftOperator(std::uint64_t n) {
    std::uint32_t op = 1u << 31;  // x^0
    int k = 3;                    // 8 * n = n * 2^3
    for (; n != 0; n >>= 1, k = (k + 1) & 31)
        if (n & 1) op = multiplyModP(kPowersOfX.v[k], op);
    return op;
}

struct ByteTable {
    z_crc_t v[256];
    constexpr ByteTable() : v() {
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int b = 0; b < 8; ++b) c = c & 1 ? (c >> 1) ^ kCrcPolynomial : c >> 1;
            v[i] = c;
        }
    }
};
constexpr ByteTable kCrcTable;

uLong adlerCombine(uLong adler1, uLong adler2, std::int64_t len2) {
    if (len2 < 0) return 0xffffffffUL;
    const std::uint64_t n = static_cast<std::uint64_t>(len2) % kAdlerModulus;
    const std::uint64_t a1 = adler1 & 0xffff, b1 = (adler1 >> 16) & 0xffff;
    const std::uint64_t a2 = adler2 & 0xffff, b2 = (adler2 >> 16) & 0xffff;
    // A = A1 + A2 - 1 and B = B1 + B2 + n * (A1 - 1), modulo 65521 (A1 may be 0 when the caller passes one).
    const std::uint64_t a = (a1 + a2 + kAdlerModulus - 1) % kAdlerModulus;
    const std::uint64_t b = (b1 + b2 + n * ((a1 + kAdlerModulus - 1) % kAdlerModulus)) % kAdlerModulus;
    return static_cast<uLong>(b << 16 | a);
}

}  // namespace

extern "C" {

uLong adler32_z(uLong adler, const Bytef* buf, z_size_t len) {
    if (!buf) return 1;
    Kel32u sum = static_cast<Kel32u>(adler);
    while (len > 0) {
        const int n = len > INT_MAX ? INT_MAX : static_cast<int>(len);
        kelsAdler32_8u(buf, n, &sum);
        buf += n;
        len -= static_cast<z_size_t>(n);
    }
    return sum;
}

uLong adler32(uLong adler, const Bytef* buf, uInt len) {
    return adler32_z(adler, buf, len);
}

uLong crc32_z(uLong crc, const Bytef* buf, z_size_t len) {
    if (!buf) return 0;
    Kel32u c = static_cast<Kel32u>(crc);
    while (len > 0) {
        const int n = len > INT_MAX ? INT_MAX : static_cast<int>(len);
        kelsCRC32_8u(buf, n, &c);
        buf += n;
        len -= static_cast<z_size_t>(n);
    }
    return c;
}

uLong crc32(uLong crc, const Bytef* buf, uInt len) {
    return crc32_z(crc, buf, len);
}

const z_crc_t* get_crc_table(void) {
    return kCrcTable.v;
}

uLong adler32_combine(uLong adler1, uLong adler2, z_off_t len2) {
    return adlerCombine(adler1, adler2, len2);
}
uLong adler32_combine64(uLong adler1, uLong adler2, z_off64_t len2) {
    return adlerCombine(adler1, adler2, len2);
}

uLong crc32_combine_gen64(z_off64_t len2) {
    return len2 < 0 ? 0 : shiftOperator(static_cast<std::uint64_t>(len2));
}
uLong crc32_combine_gen(z_off_t len2) {
    return crc32_combine_gen64(len2);
}

uLong crc32_combine_op(uLong crc1, uLong crc2, uLong op) {
    return multiplyModP(static_cast<std::uint32_t>(op), static_cast<std::uint32_t>(crc1)) ^ (crc2 & 0xffffffffUL);
}

uLong crc32_combine64(uLong crc1, uLong crc2, z_off64_t len2) {
    return crc32_combine_op(crc1, crc2, crc32_combine_gen64(len2));
}
uLong crc32_combine(uLong crc1, uLong crc2, z_off_t len2) {
    return crc32_combine64(crc1, crc2, len2);
}

}  // extern "C"

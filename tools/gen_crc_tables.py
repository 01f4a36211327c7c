#!/usr/bin/env python3
"""tools/gen_crc_tables.py - prints src/dc/checksum/crc_tables.inc, the lookup tables of the three CRCs.

Every table is derived here from its polynomial and checked against a bit-at-a-time CRC before it is printed:

- byte and slice tables (entry i of the byte table is the register after shifting byte i through eight steps of
  the division; slice k is the byte table advanced by k further zero bytes), for CRC-32 (reflected 0xEDB88320),
  CRC-32C (reflected 0x82F63B78) and the bzip2 CRC (0x04C11DB7 most significant bit first, each entry stored
  with its bytes reversed so that the kernels run it in a byte-reversed register with right shifts);
- advance tables: the register after 32 or 256 further zero bytes, one 256-entry table per register byte, which
  join CRCs computed over adjacent pieces;
- fold lags: sparse multiples of the polynomial in y = x^128, y^D + y^a1 + ... + 1, found by a deterministic
  search. They let the wide kernels shorten a long input with 16-byte XORs alone (see
  src/dc/checksum/crc32_ssse3.cpp).

Usage: python3 tools/gen_crc_tables.py > src/dc/checksum/crc_tables.inc
"""

import itertools

CRC32_REFLECTED = 0xEDB88320
CRC32C_REFLECTED = 0x82F63B78
BZIP2_POLY = 0x04C11DB7
ADVANCE_DISTANCES = (256, 32)
# Terms of the two sparse multiples, including y^D and 1: a long one (few terms, D about 200) for the bulk of an
# input and a short one (D about 55) for what the long one leaves and for medium inputs. The CRC-32C polynomial
# has the factor x + 1, so its multiples have an even number of terms.
FOLD_WEIGHTS = (("Long", 6), ("Short", 10))
FOLD_MIN_LAG = 8  # blocks; keeps each 16-byte result far from the blocks it feeds


# --- bit-at-a-time definitions, the reference for everything below ---------------------------------------------

def reflected_byte(c, poly):
    for _ in range(8):
        c = (c >> 1) ^ (poly if c & 1 else 0)
    return c


def msb_first_byte(c, poly):
    for _ in range(8):
        c = ((c << 1) & 0xFFFFFFFF) ^ (poly if c & 0x80000000 else 0)
    return c


def bswap32(v):
    return int.from_bytes(v.to_bytes(4, "little"), "big")


# --- tables -------------------------------------------------------------------------------------------------------

def reflected_slices(poly, count):
    """Byte table and slice tables of a reflected CRC: register update c = (c >> 8) ^ T[(c ^ x) & 0xFF]."""
    rows = [[reflected_byte(i, poly) for i in range(256)]]
    for _ in range(1, count):
        prev = rows[-1]
        rows.append([(v >> 8) ^ rows[0][v & 0xFF] for v in prev])
    return rows


def bzip2_slices(count):
    """Byte and slice tables of the MSB-first CRC, then stored byte-reversed."""
    rows = [[msb_first_byte(i << 24, BZIP2_POLY) for i in range(256)]]
    for _ in range(1, count):
        prev = rows[-1]
        rows.append([((v << 8) & 0xFFFFFFFF) ^ rows[0][v >> 24] for v in prev])
    return [[bswap32(v) for v in row] for row in rows]


def advance_table(byte_table, distance):
    """Register after `distance` zero bytes, as four byte-indexed tables. All three CRCs run as reflected-style
    registers (the bzip2 one byte-reversed), so one rule serves them: c = (c >> 8) ^ T[c & 0xFF]."""
    basis = []
    for bit in range(32):
        c = 1 << bit
        for _ in range(distance):
            c = (c >> 8) ^ byte_table[c & 0xFF]
        basis.append(c)
    rows = []
    for r in range(4):
        row = []
        for x in range(256):
            v = 0
            for b in range(8):
                if x >> b & 1:
                    v ^= basis[8 * r + b]
            row.append(v)
        rows.append(row)
    return rows


# --- fold lags ----------------------------------------------------------------------------------------------------

def mulmod(a, b, poly):
    """Product of two residues modulo the degree-32 polynomial x^32 + poly (natural bit order)."""
    r = 0
    while b:
        if b & 1:
            r ^= a
        b >>= 1
        a <<= 1
        if a >> 32:
            a ^= (1 << 32) | poly
    return r


def powers_of_block_shift(poly, count):
    """x^(128 k) modulo the polynomial, k = 0..count-1."""
    alpha = 1
    for _ in range(128):
        alpha = mulmod(alpha, 2, poly)
    out = [1]
    for _ in range(1, count):
        out.append(mulmod(out[-1], alpha, poly))
    return out


def find_fold(poly, weight):
    """Smallest D such that y^D + (weight - 2 terms y^a, 0 < a <= D - FOLD_MIN_LAG) + 1 is divisible by the
    polynomial, y = x^128; for that D the first relation met in a fixed order. Meet in the middle: the XORs of
    subsets of h terms (those ending at the current bound) are kept in a dictionary, and each subset of k terms
    looks up the partner that cancels y^D + 1 with it. Returns the lags D - a and D, descending."""
    pw = powers_of_block_shift(poly, 1024)
    free = weight - 2
    h = free // 2
    k = free - h
    table = {}
    for d in range(FOLD_MIN_LAG + free, 1024):
        m = d - FOLD_MIN_LAG
        for sub in itertools.combinations(range(1, m), h - 1):
            v = pw[m]
            for a in sub:
                v ^= pw[a]
            table.setdefault(v, sub + (m,))
        target = pw[d] ^ 1
        for sub in itertools.combinations(range(1, m + 1), k - 1):
            v = target
            for a in sub:
                v ^= pw[a]
            for last in range(sub[-1] + 1 if sub else 1, m + 1):
                other = table.get(v ^ pw[last])
                if other is None:
                    continue
                terms = sorted(set(sub) | {last} | set(other))
                if len(terms) != free:
                    continue
                check = pw[d] ^ 1
                for t in terms:
                    check ^= pw[t]
                assert check == 0
                return sorted([d] + [d - t for t in terms], reverse=True)
    raise AssertionError("no sparse multiple found")


# --- self-checks --------------------------------------------------------------------------------------------------

def check_tables(name, rows, byte_fn):
    """Each slice k must equal the byte-at-a-time CRC of byte i followed by k zero bytes."""
    for k, row in enumerate(rows):
        for i in (0, 1, 2, 0x5A, 0x80, 0xFF):
            assert row[i] == byte_fn(i, k), (name, k, i)


def check_worked_values(s32, s32c, bz):
    def reflected(rows, data, c):
        for x in data:
            c = (c >> 8) ^ rows[0][(c ^ x) & 0xFF]
        return c

    assert reflected(s32, b"123456789", 0xFFFFFFFF) ^ 0xFFFFFFFF == 0xCBF43926
    assert reflected(s32c, b"123456789", 0xFFFFFFFF) ^ 0xFFFFFFFF == 0xE3069283
    r = reflected(bz, b"123456789", 0xFFFFFFFF)
    assert bswap32(r) ^ 0xFFFFFFFF == 0xFC891918


# --- output -------------------------------------------------------------------------------------------------------

def cells(values, indent):
    lines = []
    for i in range(0, len(values), 8):
        lines.append(indent + ", ".join("0x%08X" % v for v in values[i:i + 8]) + ",")
    return "\n".join(lines)


def array_2d(decl, rows, doc):
    out = ["// " + line for line in doc] + [decl + " = {"]
    for row in rows:
        out.append("    {")
        out.append(cells(row, "        "))
        out.append("    },")
    out.append("};\n")
    return "\n".join(out) + "\n"


def main():
    s32 = reflected_slices(CRC32_REFLECTED, 8)
    s32c = reflected_slices(CRC32C_REFLECTED, 4)
    bz = bzip2_slices(8)

    def ref_byte(poly):
        def f(i, k):
            c = reflected_byte(i, poly)
            for _ in range(k):
                c = reflected_byte(c, poly)
            return c
        return f

    def bz_byte(i, k):
        c = msb_first_byte(i << 24, BZIP2_POLY)
        for _ in range(k):
            c = msb_first_byte(c, BZIP2_POLY)
        return bswap32(c)

    check_tables("crc32", s32, ref_byte(CRC32_REFLECTED))
    check_tables("crc32c", s32c, ref_byte(CRC32C_REFLECTED))
    check_tables("bzip2", bz, bz_byte)
    assert s32[0][1] == 0x77073096 and s32c[0][1] == 0xF26B8303 and bz[0][1] == 0xB71DC104
    check_worked_values(s32, s32c, bz)

    # Natural-order polynomials (without the x^32 term) for the fold search.
    crc32c_natural = int("{:032b}".format(CRC32C_REFLECTED)[::-1], 2)
    folds = [("kCrc32%sFoldLags" % label, find_fold(BZIP2_POLY, w)) for label, w in FOLD_WEIGHTS]
    folds += [("kCrc32c%sFoldLags" % label, find_fold(crc32c_natural, w)) for label, w in FOLD_WEIGHTS]

    out = []
    out.append("// Generated by tools/gen_crc_tables.py; do not edit. "
               "Regenerate: python3 tools/gen_crc_tables.py > src/dc/checksum/crc_tables.inc\n")
    out.append("//\n")
    out.append("// Lookup tables of CRC-32, CRC-32C and the bzip2 CRC. Slice k of a CRC is its byte table advanced by k\n")
    out.append("// further zero bytes; an advance table holds the register after N zero bytes, one table per register byte.\n")
    out.append("#pragma once\n\n#include \"kelbase.h\"\n\n")

    out.append(array_2d("inline constexpr Kel32u kCrc32Slices[8][256]", s32, [
        "CRC-32, reflected polynomial 0xEDB88320: byte table and slices 1 to 7."]))
    for k in range(8):
        out.append("inline constexpr const Kel32u (&crc_table_il8_o%d)[256] = kCrc32Slices[%d];\n" % (32 + 8 * k, k))
    out.append("\n")
    out.append(array_2d("inline constexpr Kel32u CRC32CTable[4][256]", s32c, [
        "CRC-32C, reflected polynomial 0x82F63B78: byte table and slices 1 to 3."]))
    out.append(array_2d("inline constexpr Kel32u crc_table[8][256]", bz, [
        "bzip2 CRC, polynomial 0x04C11DB7 most significant bit first: byte table and slices 1 to 7, each entry",
        "byte-reversed for a register kept byte-reversed (entry 1 of the byte table, 0x04C11DB7, is 0xB71DC104)."]))

    for label, name, byte_row in (("CRC-32", "kCrc32", s32[0]), ("CRC-32C", "kCrc32c", s32c[0]),
                                  ("bzip2 CRC (byte-reversed register)", "kBzip2Crc", bz[0])):
        for dist in ADVANCE_DISTANCES:
            out.append(array_2d("inline constexpr Kel32u %sAdvance%d[4][256]" % (name, dist),
                                advance_table(byte_row, dist),
                                ["%s register advanced by %d zero bytes; table r takes register byte r." % (label, dist)]))

    out.append("// Fold lags, in 16-byte blocks: x^(128 D) equals the sum of x^(128 (D - g)) over the other lags g modulo\n")
    out.append("// the polynomial, D being the first (largest) lag. CRC-32 and the bzip2 CRC share a polynomial and its lags.\n")
    for name, lags in folds:
        out.append("inline constexpr int %s[%d] = {%s};\n" % (name, len(lags), ", ".join(map(str, lags))))
    print("".join(out), end="")


if __name__ == "__main__":
    main()

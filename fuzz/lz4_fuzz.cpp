// fuzz/lz4_fuzz.cpp - the LZ4 block decoder on arbitrary input with exact-size buffers, and a round trip.
//
// The first two bytes pick the destination capacity (0..65535 + 1); the rest is the block, copied to a heap
// buffer of exactly its size so that a sanitizer sees any read past it; the destination is exactly the capacity.
// The fast kernel must agree with the careful one in status, length and bytes. The same bytes are then
// compressed (fast and high-compression encoders) and must decode back. Every table and destination is a heap
// block of exactly the size the interface reports or documents (the hash tables from their GetSize functions,
// the encoders' worst case plus their 8 bytes of scratch, the decoded length), so ASan flags any byte past it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dc/lz4/lz4_internal.h"
#include "keldc.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const int cap = 1 + (data[0] | data[1] << 8);
    const int srcLen = int(size - 2);
    std::vector<Kel8u> src(data + 2, data + size);
    std::vector<Kel8u> d1(cap), d2(cap);
    int len1 = cap, len2 = cap;
    const KelStatus s1 = kelsDecodeLZ4_8u(src.data(), srcLen, d1.data(), &len1);
    const KelStatus s2 = n8_ownsDecodeLZ4_8u_ref(src.data(), srcLen, d2.data(), &len2);
    if (s1 != s2 || len1 != len2) std::abort();
    if (s1 == kelStatusOk && std::memcmp(d1.data(), d2.data(), std::size_t(len1)) != 0) std::abort();
    if (s1 != kelStatusOk && (s1 != kelStatusStreamOverrun || len1 != -1)) std::abort();

    // Round trip of the input itself, into buffers of exactly the documented sizes.
    const std::size_t n0 = static_cast<std::size_t>(srcLen);
    const std::size_t worst = (n0 < 15 ? n0 + 1 : n0 + (n0 - 15) / 255 + 2) + 8;
    Kel32u tableSize = 0, hashSize = 0, chainSize = 0;
    if (kelsEncodeLZ4HashTableGetSize_8u(&tableSize) != kelStatusOk ||
        kelsEncodeLZ4HCHashTableGetSize_8u(&hashSize, &chainSize) != kelStatusOk) {
        std::abort();
    }
    std::vector<Kel8u> packed(worst), back(n0);
    std::vector<Kel8u> table(tableSize), hash(hashSize), chain(chainSize);
    int packedLen = 0, backLen = srcLen;
    if (kelsEncodeLZ4_8u(src.data(), srcLen, packed.data(), &packedLen, table.data()) != kelStatusOk) std::abort();
    if (std::size_t(packedLen) + 8 > worst) std::abort();
    if (kelsDecodeLZ4_8u(packed.data(), packedLen, back.data(), &backLen) != kelStatusOk || backLen != srcLen ||
        back != src) {
        std::abort();
    }
    Kel8u* tables[2] = {hash.data(), chain.data()};
    kelsEncodeLZ4HCHashTableInit_8u(tables);
    int n = srcLen;
    if (kelsEncodeLZ4HC_8u(src.data(), 0, &n, packed.data(), &packedLen, tables, nullptr, 0, data[0] % 10) !=
        kelStatusOk) {
        std::abort();
    }
    if (std::size_t(packedLen) + 8 > worst) std::abort();
    backLen = srcLen;
    if (kelsDecodeLZ4_8u(packed.data(), packedLen, back.data(), &backLen) != kelStatusOk || back != src) std::abort();
    return 0;
}

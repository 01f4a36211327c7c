// fuzz/checksum_fuzz.cpp - every checksum fed in two pieces equals the checksum of the whole input, and every wide
// kernel agrees with its one-byte twin.
//
// The first input byte picks the split point; the rest is the data. Splits change the alignment the wide paths
// start from, which is where chaining faults hide. The kernels start from a value taken from the data's first
// bytes, so that the register seeding of the fold paths sees varied values.
#include <cstdint>
#include <cstdlib>
#include <initializer_list>

#include "dc/checksum/checksum_internal.h"
#include "keldc.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const int len = static_cast<int>(size - 1);
    const Kel8u* src = data + 1;
    const int cut = len ? data[0] * 131 % (len + 1) : 0;

    Kel32u start = 0;
    for (int i = 0; i < len && i < 4; ++i) start = start << 8 | src[i];
    using Kernel = Kel32u (*)(const Kel8u*, Kel32u, Kel32u);
    const Kernel kernels[][2] = {{n8_ownsAdler32_8u, n8_ownsAdler32_8u_ref},
                                 {n8_ownsCRC32_8u, n8_ownsCRC32_8u_ref},
                                 {n8_ownsCRC32C_8u, n8_ownsCRC32C_8u_ref},
                                 {n8_ownsCRC32_BZ2_8u, n8_ownsCRC32_BZ2_8u_ref}};
    for (const auto& k : kernels) {
        if (k[0](src, Kel32u(len), start) != k[1](src, Kel32u(len), start)) std::abort();
    }

    Kel32u whole = 1, split = 1;
    kelsAdler32_8u(src, len, &whole);
    kelsAdler32_8u(src, cut, &split);
    kelsAdler32_8u(src + cut, len - cut, &split);
    if (whole != split) std::abort();
    if (len < 2 || cut == 0 || cut == len) return 0;

    using Crc = KelStatus (*)(const Kel8u*, int, Kel32u*);
    for (Crc crc : {kelsCRC32_8u, kelsCRC32_BZ2_8u}) {
        whole = split = 0x12345678;
        crc(src, len, &whole);
        crc(src, cut, &split);
        crc(src + cut, len - cut, &split);
        if (whole != split) std::abort();
    }
    whole = split = 0xFFFFFFFF;
    kelsCRC32C_8u(src, Kel32u(len), &whole);
    kelsCRC32C_8u(src, Kel32u(cut), &split);
    kelsCRC32C_8u(src + cut, Kel32u(len - cut), &split);
    if (whole != split) std::abort();
    return 0;
}

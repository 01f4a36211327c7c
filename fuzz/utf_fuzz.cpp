// fuzz/utf_fuzz.cpp - the UTF converters on arbitrary input: both directions, both byte orders, capacities chosen
// by the input.
//
// Input layout: byte 0 picks the byte order (bit 0) and the capacity of the one-call conversion (bits 1-7, as a
// fraction of the worst case); byte 1 seeds the capacities of a piecewise conversion; the rest is the text, read as
// UTF-8 bytes and, from an even offset, as UTF-16 units. Checks, each direction:
// - the vector kernel and its scalar twin agree on counts and output;
// - nothing is written past the capacity (exact-size heap buffers) or behind the reported count (sentinels);
// - converting piecewise with small capacities and resuming where each call stopped gives the one-call output;
// - UTF-16 -> UTF-8 -> UTF-16 returns the original units, whatever they are (lone surrogates included).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ch/string/utf_convert_internal.h"
#include "kelch.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

template <typename Src, typename Dst>
using Kernel = void (*)(const Src*, Kel32u*, Dst*, Kel32u*, int);

template <typename Src, typename Dst>
std::vector<Dst> convertOnce(Kernel<Src, Dst> kernel, const std::vector<Src>& src, Kel32u cap, int be, Kel32u* pUsed) {
    // An exact-size buffer and a null-free source even when empty.
    Dst* dst = new Dst[cap ? cap : 1];
    const Dst sentinel = static_cast<Dst>(0xA5A5);
    for (Kel32u i = 0; i < cap; ++i) dst[i] = sentinel;
    static const Src none{};
    Kel32u srcLen = static_cast<Kel32u>(src.size()), dstLen = cap;
    kernel(src.empty() ? &none : src.data(), &srcLen, dst, &dstLen, be);
    check(srcLen <= src.size() && dstLen <= cap);
    for (Kel32u i = dstLen; i < cap; ++i) check(dst[i] == sentinel);
    std::vector<Dst> out(dst, dst + dstLen);
    delete[] dst;
    *pUsed = srcLen;
    return out;
}

template <typename Src, typename Dst>
void checkDirection(Kernel<Src, Dst> kernel, Kernel<Src, Dst> ref, const std::vector<Src>& src, Kel32u worst,
                    Kel32u capPart, std::uint8_t seed, int be) {
    const Kel32u cap = worst * capPart / 127;
    Kel32u used, usedRef;
    const auto out = convertOnce(kernel, src, cap, be, &used);
    const auto outRef = convertOnce(ref, src, cap, be, &usedRef);
    check(used == usedRef && out == outRef);

    const auto whole = convertOnce(kernel, src, worst, be, &used);
    check(used == src.size());
    std::vector<Dst> pieces;
    size_t at = 0;
    std::uint32_t state = seed * 2654435761u + 1;
    while (at < src.size()) {
        state = state * 1103515245u + 12345u;
        const Kel32u pieceCap = 4 + (state >> 16) % 61;
        const std::vector<Src> rest(src.begin() + static_cast<long>(at), src.end());
        const auto part = convertOnce(kernel, rest, pieceCap, be, &used);
        check(used > 0);
        pieces.insert(pieces.end(), part.begin(), part.end());
        at += used;
    }
    check(pieces == whole);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2 || size > (1 << 16)) return 0;
    const int be = data[0] & 1;
    const Kel32u capPart = data[0] >> 1;
    const std::uint8_t seed = data[1];
    const std::vector<Kel8u> utf8(data + 2, data + size);
    std::vector<Kel16u> utf16((size - 2) / 2);
    if (!utf16.empty()) std::memcpy(utf16.data(), data + 2, utf16.size() * 2);

    checkDirection<Kel8u, Kel16u>(n8_ownsConvertUTF_8u16u, n8_ownsConvertUTF_8u16u_ref, utf8,
                                  static_cast<Kel32u>(utf8.size()), capPart, seed, be);
    checkDirection<Kel16u, Kel8u>(n8_ownsConvertUTF_16u8u, n8_ownsConvertUTF_16u8u_ref, utf16,
                                  static_cast<Kel32u>(utf16.size() * 3), capPart, seed, be);

    Kel32u used;
    const auto asUtf8 =
        convertOnce<Kel16u, Kel8u>(n8_ownsConvertUTF_16u8u, utf16, static_cast<Kel32u>(utf16.size() * 3), be, &used);
    const auto back =
        convertOnce<Kel8u, Kel16u>(n8_ownsConvertUTF_8u16u, asUtf8, static_cast<Kel32u>(utf16.size()), be, &used);
    check(back == utf16);
    return 0;
}

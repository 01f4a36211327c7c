// src/stream/xxhash.cpp - the 32-bit xxHash, one-shot and streaming.
#include "stream/xxhash.h"

#include <cstring>

namespace kel::stream {
namespace {

// The five 32-bit primes of the hash's definition.
constexpr std::uint32_t kPrime1 = 2654435761u;
constexpr std::uint32_t kPrime2 = 2246822519u;
constexpr std::uint32_t kPrime3 = 3266489917u;
constexpr std::uint32_t kPrime4 = 668265263u;
constexpr std::uint32_t kPrime5 = 374761393u;

inline std::uint32_t rotl(std::uint32_t v, int r) {
    return (v << r) | (v >> (32 - r));
}

inline std::uint32_t read32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

inline std::uint32_t round(std::uint32_t acc, std::uint32_t lane) {
    return rotl(acc + lane * kPrime2, 13) * kPrime1;
}

}  // namespace

void XxHash32::reset(std::uint32_t seed) {
    seed_ = seed;
    acc_[0] = seed + kPrime1 + kPrime2;
    acc_[1] = seed + kPrime2;
    acc_[2] = seed;
    acc_[3] = seed - kPrime1;
    total_ = 0;
    stripeLen_ = 0;
}

void XxHash32::update(const std::uint8_t* data, std::size_t n) {
    if (n == 0) return;
    total_ += n;
    if (stripeLen_ + n < 16) {
        std::memcpy(stripe_ + stripeLen_, data, n);
        stripeLen_ += n;
        return;
    }
    if (stripeLen_) {
        const std::size_t take = 16 - stripeLen_;
        std::memcpy(stripe_ + stripeLen_, data, take);
        for (int i = 0; i < 4; ++i) acc_[i] = round(acc_[i], read32(stripe_ + 4 * i));
        data += take;
        n -= take;
        stripeLen_ = 0;
    }
    for (; n >= 16; data += 16, n -= 16) {
        for (int i = 0; i < 4; ++i) acc_[i] = round(acc_[i], read32(data + 4 * i));
    }
    if (n) std::memcpy(stripe_, data, n);
    stripeLen_ = n;
}

std::uint32_t XxHash32::digest() const {
    // Inputs shorter than one stripe never touched the accumulators: the seed stands in for them.
    std::uint32_t h =
        total_ >= 16 ? rotl(acc_[0], 1) + rotl(acc_[1], 7) + rotl(acc_[2], 12) + rotl(acc_[3], 18) : seed_ + kPrime5;
    h += std::uint32_t(total_);
    const std::uint8_t* p = stripe_;
    std::size_t n = stripeLen_;
    for (; n >= 4; p += 4, n -= 4) h = rotl(h + read32(p) * kPrime3, 17) * kPrime4;
    for (; n; ++p, --n) h = rotl(h + *p * kPrime5, 11) * kPrime1;
    h ^= h >> 15;
    h *= kPrime2;
    h ^= h >> 13;
    h *= kPrime3;
    h ^= h >> 16;
    return h;
}

std::uint32_t XxHash32::hash(const std::uint8_t* data, std::size_t n, std::uint32_t seed) {
    XxHash32 x(seed);
    x.update(data, n);
    return x.digest();
}

}  // namespace kel::stream

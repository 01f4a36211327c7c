// src/stream/xxhash.h - the 32-bit xxHash, the checksum of LZ4 frames (descriptor, blocks and content).
//
// The input is consumed in 16-byte stripes by four accumulators (multiply, rotate, multiply with two 32-bit
// primes), which are then merged with the length and the tail bytes and passed through a final avalanche. The
// streaming form gives the same value for any split of the input, so a frame's content checksum can follow the
// data through pieces of any size.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kel::stream {

class XxHash32 {
public:
    explicit XxHash32(std::uint32_t seed = 0) { reset(seed); }

    void reset(std::uint32_t seed = 0);
    void update(const std::uint8_t* data, std::size_t n);
    std::uint32_t digest() const;

    // The hash of one buffer.
    static std::uint32_t hash(const std::uint8_t* data, std::size_t n, std::uint32_t seed = 0);

private:
    std::uint32_t acc_[4];
    std::uint32_t seed_;
    std::uint64_t total_;
    std::uint8_t stripe_[16];
    std::size_t stripeLen_;
};

}  // namespace kel::stream

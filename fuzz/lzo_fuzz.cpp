// fuzz/lzo_fuzz.cpp - both LZO1X decoders on arbitrary bytes, plain streams and multi-part containers alike, and a
// round trip of the same bytes through the encoder.
//
// Layout: one mode byte, two bytes that choose the destination capacity, then the payload. Mode 0 decodes the
// payload as it is; mode 1 puts a container header with the largest part count (32) in front of it, so that the
// payload supplies the total and the 31 part sizes; mode 2 encodes the payload first. Every buffer is a heap
// block of exactly the size the interface reports or declares (the source, the capacity, the encoder's worst case,
// the decoded length), so ASan flags any byte read or written past it. A stream that the checking decoder accepts
// must decode the same with the trusting one given no capacity (0) and a destination of exactly its length.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "keldc.h"

namespace {

using Buffer = std::unique_ptr<Kel8u[]>;

// An exact-size heap block; a size of 0 still gives a distinct pointer, with no byte to touch.
Buffer exactBlock(std::size_t n) {
    return Buffer(new Kel8u[n]);
}

struct Decoded {
    KelStatus status;
    Kel32u length;
    std::vector<Kel8u> bytes;
};

Decoded decode(bool safe, const Kel8u* src, Kel32u srcLen, Kel32u capacity, std::size_t blockSize) {
    Buffer dst = exactBlock(blockSize);
    Kel32u len = capacity;
    const KelStatus st =
        safe ? kelsDecodeLZOSafe_8u(src, srcLen, dst.get(), &len) : kelsDecodeLZO_8u(src, srcLen, dst.get(), &len);
    if (st != kelStatusOk && st != kelStatusLZOBrokenStream) std::abort();
    if (len > blockSize) std::abort();
    return {st, len, std::vector<Kel8u>(dst.get(), dst.get() + len)};
}

// Decodes src with both decoders at the given capacity, and a stream the checking decoder accepts once more
// trusted, without a capacity, into exactly its decoded length.
void checkDecoders(const Kel8u* src, Kel32u srcLen, Kel32u capacity) {
    const Decoded safe = decode(true, src, srcLen, capacity, capacity);
    if (capacity > 0) {
        // Given a capacity, the trusting decoder checks it exactly as the other one does. (Given 0 it would take
        // the stream's word for the destination size, which arbitrary bytes do not deserve.)
        const Decoded fast = decode(false, src, srcLen, capacity, capacity);
        if (fast.status != safe.status || fast.length != safe.length || fast.bytes != safe.bytes) std::abort();
    }
    if (safe.status != kelStatusOk) return;
    const Decoded trusted = decode(false, src, srcLen, 0, safe.length);
    if (trusted.status != kelStatusOk || trusted.length != safe.length || trusted.bytes != safe.bytes) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const int mode = data[0] % 3;
    const Kel32u capacity = (Kel32u(data[1]) << 8 | data[2]) * 7u;
    const std::size_t payloadLen = size - 3;
    const std::uint8_t* payload = data + 3;

    if (mode == 2) {
        // Round trip: the encoder's destination is exactly its documented worst case.
        const Kel32u n = Kel32u(payloadLen);
        Kel32u stateSize = 0;
        if (kelsEncodeLZOGetSize(data[0] & 1, n, &stateSize) != kelStatusOk) std::abort();
        Buffer state = exactBlock(stateSize);
        auto* st = reinterpret_cast<LZOState_8u*>(state.get());
        if (kelsEncodeLZOInit_8u(data[0] & 1, n, st) != kelStatusOk) std::abort();
        Buffer src = exactBlock(n);
        if (n) std::memcpy(src.get(), payload, n);
        const std::size_t worst = std::size_t(n) + n / 16 + 67;
        Buffer packed = exactBlock(worst);
        Kel32u packedLen = 0;
        if (kelsEncodeLZO_8u(src.get(), n, packed.get(), &packedLen, st) != kelStatusOk) std::abort();
        if (packedLen > worst) std::abort();
        Buffer comp = exactBlock(packedLen);
        if (packedLen) std::memcpy(comp.get(), packed.get(), packedLen);
        for (bool safe : {false, true}) {
            const Decoded back = decode(safe, comp.get(), packedLen, n, n);
            if (n > 0 &&
                (back.status != kelStatusOk || back.length != n || std::memcmp(back.bytes.data(), payload, n) != 0)) {
                std::abort();
            }
        }
        checkDecoders(comp.get(), packedLen, n);
        return 0;
    }

    std::vector<Kel8u> bytes;
    if (mode == 1) bytes = {0x55, 32, 32 ^ 0x55};
    bytes.insert(bytes.end(), payload, payload + payloadLen);
    Buffer src = exactBlock(bytes.size());
    if (!bytes.empty()) std::memcpy(src.get(), bytes.data(), bytes.size());
    checkDecoders(src.get(), Kel32u(bytes.size()), capacity);
    return 0;
}

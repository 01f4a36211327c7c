// apps/stream/byte_stream.h - the byte source and sink every stream format reads from and writes to.
//
// A source fills a buffer and returns the bytes it gave (0 at the end of input); a sink takes bytes and returns
// false if it could not write them. The tool binds them to files; tests bind them to memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kel {

using ByteSource = std::function<std::size_t(std::uint8_t* buf, std::size_t cap)>;
using ByteSink = std::function<bool(const std::uint8_t* data, std::size_t len)>;

// A source over bytes in memory, handing them out in pieces of at most `piece` bytes.
inline ByteSource memorySource(const std::vector<std::uint8_t>& bytes, std::size_t piece = SIZE_MAX) {
    std::size_t pos = 0;
    return [&bytes, pos, piece](std::uint8_t* buf, std::size_t cap) mutable {
        std::size_t n = bytes.size() - pos;
        if (n > cap) n = cap;
        if (n > piece) n = piece;
        for (std::size_t k = 0; k < n; ++k) buf[k] = bytes[pos + k];
        pos += n;
        return n;
    };
}

// A sink appending to a vector.
inline ByteSink memorySink(std::vector<std::uint8_t>& out) {
    return [&out](const std::uint8_t* data, std::size_t len) {
        out.insert(out.end(), data, data + len);
        return true;
    };
}

// Drives a push-style writer (write(p, n), finish(), output() drained by the caller) from a source to a sink.
// Returns an empty string on success, else "write error".
template <typename Writer>
std::string pumpWriter(Writer& writer, const ByteSource& in, const ByteSink& out) {
    std::vector<std::uint8_t> buf(1 << 16);
    for (std::size_t got; (got = in(buf.data(), buf.size())) > 0;) {
        writer.write(buf.data(), got);
        if (!writer.output().empty()) {
            if (!out(writer.output().data(), writer.output().size())) return "write error";
            writer.output().clear();
        }
    }
    writer.finish();
    return out(writer.output().data(), writer.output().size()) ? "" : "write error";
}

// Reads exact amounts from a source, buffering what it over-reads.
class SourceReader {
public:
    explicit SourceReader(const ByteSource& src) : src_(src) {}

    // Fills dst with n bytes; false if the input ends first (what was read is lost).
    bool readExact(void* dst, std::size_t n) {
        auto* d = static_cast<std::uint8_t*>(dst);
        while (n > 0) {
            if (pos_ == len_ && !refill()) return false;
            std::size_t take = len_ - pos_ < n ? len_ - pos_ : n;
            for (std::size_t k = 0; k < take; ++k) d[k] = buf_[pos_ + k];
            pos_ += take;
            d += take;
            n -= take;
        }
        return true;
    }

    // True when no byte is left.
    bool atEnd() { return pos_ == len_ && !refill(); }

    // Bytes read ahead and not yet consumed, then the rest of the source, are what follows.
    std::size_t readSome(std::uint8_t* dst, std::size_t cap) {
        if (pos_ == len_ && !refill()) return 0;
        std::size_t take = len_ - pos_ < cap ? len_ - pos_ : cap;
        for (std::size_t k = 0; k < take; ++k) dst[k] = buf_[pos_ + k];
        pos_ += take;
        return take;
    }

private:
    bool refill() {
        buf_.resize(1 << 16);
        len_ = src_(buf_.data(), buf_.size());
        pos_ = 0;
        return len_ > 0;
    }

    const ByteSource& src_;
    std::vector<std::uint8_t> buf_;
    std::size_t pos_ = 0, len_ = 0;
};

}  // namespace kel

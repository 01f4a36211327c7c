// apps/kel/demo_checksums.cpp - the checksum section of `kel demo`.
//
// Each checksum runs over all samples as one stream, fed file by file, and is cross-checked against the same
// stream fed in 1000-byte pieces: chaining must not change the result.
#include <cstdio>

#include "kel/demo.h"
#include "keldc.h"

namespace kel::app {
namespace {

using Update = Kel32u (*)(Kel32u, const Kel8u*, std::size_t);

Kel32u updateAdler(Kel32u v, const Kel8u* p, std::size_t n) { kelsAdler32_8u(p, int(n), &v); return v; }
Kel32u updateCrc32(Kel32u v, const Kel8u* p, std::size_t n) { if (n) kelsCRC32_8u(p, int(n), &v); return v; }
Kel32u updateCrc32c(Kel32u v, const Kel8u* p, std::size_t n) { if (n) kelsCRC32C_8u(p, Kel32u(n), &v); return v; }
Kel32u updateBz2(Kel32u v, const Kel8u* p, std::size_t n) { if (n) kelsCRC32_BZ2_8u(p, int(n), &v); return v; }

struct Checksum {
    const char* name;
    Update update;
    Kel32u initial;
};

constexpr Checksum kChecksums[] = {
    {"adler32", updateAdler, 1u},
    {"crc32", updateCrc32, 0u},
    {"crc32c", updateCrc32c, 0xFFFFFFFFu},
    {"bzip2 crc", updateBz2, 0u},
};

}  // namespace

void demoChecksums(const std::vector<DemoSample>& samples, DemoReport& report) {
    double bytes = 0;
    for (const auto& s : samples) bytes += double(s.bytes.size());
    for (const auto& c : kChecksums) {
        Kel32u whole = c.initial;
        const double seconds = timeRepeated([&] {
            whole = c.initial;
            for (const auto& s : samples) whole = c.update(whole, s.bytes.data(), s.bytes.size());
        });
        Kel32u pieces = c.initial;
        for (const auto& s : samples) {
            for (std::size_t off = 0; off < s.bytes.size(); off += 1000) {
                const std::size_t n = s.bytes.size() - off < 1000 ? s.bytes.size() - off : 1000;
                pieces = c.update(pieces, s.bytes.data() + off, n);
            }
        }
        char value[16];
        std::snprintf(value, sizeof value, "%08x", whole);
        report.operations.push_back({"checksum", c.name, value, bytes, seconds, whole == pieces});
    }
}

}  // namespace kel::app

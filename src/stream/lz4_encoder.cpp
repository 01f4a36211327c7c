// src/stream/lz4_encoder.cpp - placeholder until the format lands.
#include "stream/stream_internal.h"

namespace kel::stream {
Engine* newLz4Encoder(const Setup& s, CreateError* e) {
    (void)s;
    *e = {kelStreamErrUnsupported, "not built yet"};
    return nullptr;
}
std::size_t lz4Bound(const KelStreamOptions& o, std::size_t srcLen) {
    (void)o;
    return srcLen + srcLen / 2 + 1024;
}
}  // namespace kel::stream

// src/stream/deflate_encoder.cpp - placeholder until the format lands.
#include "stream/stream_internal.h"

namespace kel::stream {
Engine* newDeflateEncoder(const Setup& s, CreateError* e) {
    (void)s;
    *e = {kelStreamErrUnsupported, "not built yet"};
    return nullptr;
}
std::size_t deflateBound(const KelStreamOptions& o, KelStreamFormat f, std::size_t srcLen) {
    (void)o, (void)f;
    return srcLen + srcLen / 2 + 1024;
}
}  // namespace kel::stream

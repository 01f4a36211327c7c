// src/stream/parallel_members.cpp - placeholder until the format lands.
#include "stream/stream_internal.h"

namespace kel::stream {
Engine* newParallelMemberDecoder(const Setup& s, CreateError* e) {
    (void)s;
    *e = {kelStreamErrUnsupported, "not built yet"};
    return nullptr;
}
}  // namespace kel::stream

// apps/kel/stream_util.h - what the kel subcommands share around libkelstream: an owning handle for a stream and
// the one-line text of a failed call.
#pragma once

#include <memory>
#include <string>

#include "kelstream.h"

namespace kel::app {

struct StreamDeleter {
    void operator()(KelStream* s) const { kelStreamFree(s); }
};
using StreamPtr = std::unique_ptr<KelStream, StreamDeleter>;

// "corrupt input: <what the stream says>", or the result's text alone when the stream says nothing more. The
// result text comes first because users (and scripts) look for it; the stream's message says where and why.
std::string streamFailure(const KelStream* s, KelStreamResult r);

}  // namespace kel::app

// apps/kel/stream_util.cpp - what the kel subcommands share around libkelstream.
#include "kel/stream_util.h"

namespace kel::app {

std::string streamFailure(const KelStream* s, KelStreamResult r) {
    std::string text = kelStreamResultText(r);
    const char* why = s ? kelStreamMessage(s) : "";
    if (why && *why && text != why) text += std::string(": ") + why;
    return text;
}

}  // namespace kel::app

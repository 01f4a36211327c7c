// apps/kel/cmd_version.cpp - `kel version` and `kel --version`: the tool's version, then the version records of both
// primitives libraries it runs with (which may be newer than the tool when installed apart).
#include <cstdio>

#include "kel/commands.h"
#include "kel/io_util.h"
#include "kelch.h"
#include "keldc.h"

namespace kel::app {

int cmdVersion(int argc, char** /*argv*/) {
    if (argc > 1) {
        reportError("version: takes no arguments");
        return kExitUsage;
    }
    std::printf("kel %s\n", KEL_TOOL_VERSION);
    for (const LibraryVersion* v : {keldcGetLibVersion(), kelchGetLibVersion()}) {
        std::printf("%s %s, built %s, target %s\n", v->name, v->version, v->buildDate, v->targetCpu);
    }
    return finishStdout(kExitOk);
}

}  // namespace kel::app

// apps/kel/cmd_version.cpp - `kel version`: the version records of both libraries.
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
    for (const LibraryVersion* v : {keldcGetLibVersion(), kelchGetLibVersion()}) {
        std::printf("%s %s, built %s, target %s\n", v->name, v->version, v->buildDate, v->targetCpu);
    }
    return finishStdout(kExitOk);
}

}  // namespace kel::app

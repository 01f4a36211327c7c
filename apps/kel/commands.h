// apps/kel/commands.h - the subcommands of the kel tool. Each takes the arguments after its name (argv[0] is the
// subcommand) and returns the process exit status.
#pragma once

namespace kel::app {

int cmdSum(int argc, char** argv);
int cmdVersion(int argc, char** argv);
int cmdDemo(int argc, char** argv);

}  // namespace kel::app

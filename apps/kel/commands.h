// apps/kel/commands.h - the subcommands of the kel tool. Each takes the arguments after its name (argv[0] is the
// subcommand) and returns the process exit status.
#pragma once

namespace kel::app {

int cmdCompress(int argc, char** argv);
int cmdDecompress(int argc, char** argv);
int cmdSum(int argc, char** argv);
int cmdVersion(int argc, char** argv);
int cmdDemo(int argc, char** argv);
int cmdIconv(int argc, char** argv);
int cmdFind(int argc, char** argv);
int cmdRegex(int argc, char** argv);
int cmdGrep(int argc, char** argv);
int cmdReplace(int argc, char** argv);
int cmdRun(int argc, char** argv);

}  // namespace kel::app

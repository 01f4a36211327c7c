// apps/kel/cmd_regex.cpp - `kel regex --dump`: compile a pattern and list the node program it becomes.
//
// The pattern is compiled through the shared library's exports; the listing reads the compiled state through the
// layout header src/ch/regexp/regexp_internal.h (header-only, src/ch/regexp/regexp_dump.h), so the tool needs no
// internal symbol. A compile error is shown with a caret under the offending pattern byte.
#include <cstdio>
#include <string>
#include <vector>

#include "ch/regexp/regexp_dump.h"
#include "kel/commands.h"
#include "kel/io_util.h"
#include "kel/pattern_error.h"
#include "kel/status_text.h"
#include "kelch.h"

namespace kel::app {
namespace {

void printRegexUsage(std::FILE* out) {
    std::fprintf(out,
                 "Usage: kel regex --dump [--options LETTERS] PATTERN\n"
                 "Compile PATTERN and print its node program: a header line (options, groups, nodes, required last\n"
                 "literal, search strategy), then one line per node. LETTERS are option letters from \"gimsx\".\n"
                 "On a compile error, print the error and point at the offending byte; exit status 1.\n");
}

}  // namespace

int cmdRegex(int argc, char** argv) {
    bool dump = false;
    const char* options = nullptr;
    const char* pattern = nullptr;
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (!optionsDone && a == "--help") {
            printRegexUsage(stdout);
            return finishStdout(kExitOk);
        } else if (!optionsDone && a == "--") {
            optionsDone = true;
        } else if (!optionsDone && a == "--dump") {
            dump = true;
        } else if (!optionsDone && a == "--options" && i + 1 < argc) {
            options = argv[++i];
        } else if (!optionsDone && a.size() > 1 && a[0] == '-') {
            reportError("regex: unknown option '" + a + "'");
            printRegexUsage(stderr);
            return kExitUsage;
        } else if (!pattern) {
            pattern = argv[i];
        } else {
            reportError("regex: more than one pattern");
            return kExitUsage;
        }
    }
    if (!dump || !pattern) {
        printRegexUsage(stderr);
        return kExitUsage;
    }
    int size = 0;
    KelStatus status = kelsRegExpGetSize(pattern, &size);
    if (status != kelStatusOk) {
        reportError(std::string("regex: ") + statusMessage(status));
        return kExitFailure;
    }
    std::vector<Kel8u> block(static_cast<std::size_t>(size));
    auto* state = reinterpret_cast<RegExpState*>(block.data());
    int errOffset = 0;
    status = kelsRegExpInit(pattern, options, state, &errOffset);
    if (status != kelStatusOk) {
        reportError("regex: " + describePatternError(pattern, status, errOffset));
        return kExitFailure;
    }
    std::fputs(n8_regExpDump(state).c_str(), stdout);
    return finishStdout(kExitOk);
}

}  // namespace kel::app

// apps/kel/io_util.cpp - file and error helpers shared by the kel subcommands.
#include "kel/io_util.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace kel::app {

void reportError(const std::string& what) { std::fprintf(stderr, "kel: %s\n", what.c_str()); }

std::FILE* openInput(const std::string& name) {
    if (name == "-") return stdin;
    std::FILE* f = std::fopen(name.c_str(), "rb");
    if (!f) reportError(name + ": " + std::strerror(errno));
    return f;
}

bool readWholeFile(const std::string& name, std::vector<std::uint8_t>& out) {
    std::FILE* f = openInput(name);
    if (!f) return false;
    out.clear();
    std::uint8_t buf[1 << 16];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
    const bool ok = !std::ferror(f);
    if (!ok) reportError(name + ": read error");
    if (f != stdin) std::fclose(f);
    return ok;
}

std::string sampleDataDir() {
    const char* env = std::getenv("KEL_DATA_DIR");
    return env && *env ? env : KEL_SAMPLE_DIR;
}

double nowSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace kel::app

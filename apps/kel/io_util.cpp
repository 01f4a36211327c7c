// apps/kel/io_util.cpp - file and error helpers shared by the kel subcommands.
#include "kel/io_util.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <unistd.h>

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

Progress::Progress(std::string label, std::uint64_t totalBytes)
    : label_(std::move(label)), total_(totalBytes), start_(nowSeconds()), enabled_(isatty(STDERR_FILENO) != 0) {}

Progress::~Progress() {
    if (drawn_) std::fprintf(stderr, "\r\033[K");
}

void Progress::advance(std::uint64_t bytes) {
    done_ += bytes;
    if (!enabled_) return;
    const double now = nowSeconds();
    if (now - start_ < 1.0 || now - lastDraw_ < 0.25) return;
    lastDraw_ = now;
    drawn_ = true;
    if (total_ > 0) {
        std::fprintf(stderr, "\rkel: %s: %3u%%", label_.c_str(), unsigned(done_ * 100 / total_ > 100 ? 100 : done_ * 100 / total_));
    } else {
        std::fprintf(stderr, "\rkel: %s: %llu MB", label_.c_str(), static_cast<unsigned long long>(done_ >> 20));
    }
    std::fflush(stderr);
}

}  // namespace kel::app

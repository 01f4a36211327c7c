// apps/kel/io_util.cpp - file and error helpers shared by the kel subcommands.
#include "kel/io_util.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <unistd.h>

namespace kel::app {

namespace {

// Whether a progress line stands on standard error: a message must erase it first, or the two run together.
bool progressLineShown = false;

void eraseProgressLine() {
    if (!progressLineShown) return;
    std::fprintf(stderr, "\r\033[K");
    progressLineShown = false;
}

}  // namespace

void reportError(const std::string& what) {
    eraseProgressLine();
    std::fprintf(stderr, "kel: %s\n", what.c_str());
}

namespace {

int firstWriteErrno = 0;  // errno of the first failed write to standard output, 0 while none failed

// The temporary file the signal handler removes. The name lives in a fixed buffer because the handler may only
// use async-signal-safe calls: it cannot touch a std::string that the interrupted code may be reallocating. The
// tool's own names are far shorter than PATH_MAX-sized buffers; a longer one is simply not armed.
char tempPath[4096];
volatile std::sig_atomic_t tempArmed = 0;

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

void onFatalSignal(int sig) {
    const int savedErrno = errno;
    if (tempArmed) unlink(tempPath);
    errno = savedErrno;
    // SA_RESETHAND restored the default action and SA_NODEFER left the signal unblocked: this ends the process.
    raise(sig);
}

sigset_t cleanupSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kCleanupSignals) sigaddset(&set, sig);
    return set;
}

}  // namespace

int reportUsageError(const char* command, const std::string& what) {
    reportError(std::string(command) + ": " + what);
    std::fprintf(stderr, "Try 'kel %s --help' for more information.\n", command);
    return kExitUsage;
}

bool parseThreadCount(const std::string& text, int* threads) {
    if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    const int n = std::stoi(text);
    if (n < 1 || n > 256) return false;
    *threads = n;
    return true;
}

bool stdoutFailed() {
    if (!std::ferror(stdout)) return false;
    if (firstWriteErrno == 0) firstWriteErrno = errno ? errno : EIO;
    return true;
}

int finishStdout(int status) {
    bool failed = stdoutFailed();
    if (!failed && std::fflush(stdout) != 0) {
        firstWriteErrno = errno ? errno : EIO;
        failed = true;
    }
    if (std::fclose(stdout) != 0 && !failed) {
        firstWriteErrno = errno ? errno : EIO;
        failed = true;
    }
    if (!failed) return status;
    reportError(std::string("write error: ") + std::strerror(firstWriteErrno));
    return kExitTrouble;
}

void installTempFileCleanup() {
    struct sigaction sa {};
    sa.sa_handler = onFatalSignal;
    sa.sa_mask = cleanupSignalSet();
    sa.sa_flags = SA_RESETHAND | SA_NODEFER;
    for (int sig : kCleanupSignals) {
        struct sigaction old {};
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        sigaction(sig, &sa, nullptr);
    }
}

int createTempFile(const std::string& nameTemplate, std::string* pName) {
    if (nameTemplate.size() >= sizeof tempPath) {
        errno = ENAMETOOLONG;
        return -1;
    }
    const sigset_t set = cleanupSignalSet();
    sigset_t old;
    pthread_sigmask(SIG_BLOCK, &set, &old);
    std::memcpy(tempPath, nameTemplate.c_str(), nameTemplate.size() + 1);
    const int fd = mkstemp(tempPath);
    const int savedErrno = errno;
    if (fd >= 0) {
        *pName = tempPath;
        tempArmed = 1;
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    errno = savedErrno;
    return fd;
}

void releaseTempFile() {
    tempArmed = 0;
}

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
    if (drawn_) eraseProgressLine();
}

void Progress::advance(std::uint64_t bytes) {
    done_ += bytes;
    if (!enabled_) return;
    const double now = nowSeconds();
    if (now - start_ < 1.0 || now - lastDraw_ < 0.25) return;
    lastDraw_ = now;
    drawn_ = true;
    progressLineShown = true;
    if (total_ > 0) {
        std::fprintf(stderr, "\rkel: %s: %3u%%", label_.c_str(),
                     unsigned(done_ * 100 / total_ > 100 ? 100 : done_ * 100 / total_));
    } else {
        std::fprintf(stderr, "\rkel: %s: %llu MB", label_.c_str(), static_cast<unsigned long long>(done_ >> 20));
    }
    std::fflush(stderr);
}

}  // namespace kel::app

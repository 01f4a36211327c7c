// apps/kel/output_file.cpp - output files beside their inputs for `kel c` and `kel d`.
#include "kel/output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "kel/io_util.h"

namespace kel::app {

bool statInput(const std::string& name, struct stat* pLink, struct stat* pTarget) {
    if (lstat(name.c_str(), pLink) == 0 && stat(name.c_str(), pTarget) == 0) return true;
    reportError(name + ": " + std::strerror(errno));
    return false;
}

bool inputMayBeReplaced(const std::string& name, const struct stat& link, const struct stat& target, const char* verb) {
    if (S_ISLNK(link.st_mode)) {
        reportError(name + " is a symbolic link -- ignored; use --force to " + verb + " what it points to");
        return false;
    }
    if (target.st_nlink > 1) {
        const unsigned long others = static_cast<unsigned long>(target.st_nlink - 1);
        reportError(name + " has " + std::to_string(others) + (others == 1 ? " other link" : " other links") +
                    " -- ignored; use --force to " + verb + " it");
        return false;
    }
    return true;
}

void reportOutputExists(const std::string& name) {
    reportError(name + " already exists; use --force to overwrite");
}

bool endsWith(const std::string& s, const std::string& suffix) {
    return s.size() > suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool OutputFile::open(const std::string& target) {
    abort();
    std::string tmp;
    const int fd = createTempFile(target + ".kel-XXXXXX", &tmp);
    if (fd < 0) {
        reportError(target + ": " + std::strerror(errno));
        return false;
    }
    file_ = fdopen(fd, "wb");
    if (!file_) {
        const int err = errno;
        close(fd);
        unlink(tmp.c_str());
        releaseTempFile();
        reportError(target + ": " + std::strerror(err));
        return false;
    }
    tmpName_ = tmp;
    target_ = target;
    return true;
}

bool OutputFile::write(const std::uint8_t* p, std::size_t n) {
    if (n == 0 || std::fwrite(p, 1, n, file_) == n) return true;
    return fail("write error: " + std::string(std::strerror(errno ? errno : EIO)));
}

bool OutputFile::fail(const std::string& why) {
    reportError(target_ + ": " + why);
    abort();
    return false;
}

bool OutputFile::commit(const struct stat& from, std::int64_t mtime, bool replace) {
    // The times are set after the last write has reached the file, or that write would move them again.
    if (std::fflush(file_) != 0) return fail("write error: " + std::string(std::strerror(errno ? errno : EIO)));
    const int fd = fileno(file_);
    fchmod(fd, from.st_mode & 07777);
    struct timespec times[2] = {from.st_atim, from.st_mtim};
    if (mtime > 0) times[1] = {static_cast<time_t>(mtime), 0};
    futimens(fd, times);
    const int closed = std::fclose(file_);
    file_ = nullptr;
    const std::string tmp = tmpName_;
    bool ok = true;
    if (closed != 0) {
        reportError(target_ + ": write error: " + std::strerror(errno ? errno : EIO));
        ok = false;
    } else if (replace) {
        if (std::rename(tmp.c_str(), target_.c_str()) != 0) {
            reportError(target_ + ": " + std::strerror(errno));
            ok = false;
        }
    } else if (link(tmp.c_str(), target_.c_str()) == 0) {
        // link() fails when the name exists, atomically: nothing that appeared since the check is replaced.
        unlink(tmp.c_str());
    } else {
        struct stat existing;
        if (errno == EEXIST || lstat(target_.c_str(), &existing) == 0) {
            reportOutputExists(target_);
            ok = false;
        } else if (std::rename(tmp.c_str(), target_.c_str()) != 0) {
            // File systems without hard links get the checked rename.
            reportError(target_ + ": " + std::strerror(errno));
            ok = false;
        }
    }
    if (!ok) unlink(tmp.c_str());
    releaseTempFile();
    return ok;
}

void OutputFile::abort() {
    if (!file_) return;
    std::fclose(file_);
    file_ = nullptr;
    unlink(tmpName_.c_str());
    releaseTempFile();
}

}  // namespace kel::app

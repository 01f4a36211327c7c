// apps/kel/text_options.cpp - command line, inputs and line blocks shared by kel find, grep and replace.
#include "kel/text_options.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include <dirent.h>
#include <sys/stat.h>

#include "kel/io_util.h"

namespace kel::app {

namespace {

bool applyOption(const OptionRule& rule, const std::string& value) {
    if (rule.flag) {
        *rule.flag = true;
        return true;
    }
    return rule.action(value);
}

}  // namespace

int parseCommandLine(int argc, char** argv, const std::string& command, const std::vector<OptionRule>& rules,
                     void (*printUsage)(std::FILE*), std::vector<std::string>* pOperands) {
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (optionsDone || a.size() < 2 || a[0] != '-') {
            pOperands->push_back(a);
            continue;
        }
        if (a == "--") {
            optionsDone = true;
            continue;
        }
        if (a == "--help") {
            printUsage(stdout);
            return finishStdout(kExitOk);
        }
        if (a[1] == '-') {
            const size_t eq = a.find('=');
            const std::string name = a.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
            const OptionRule* rule = nullptr;
            for (const OptionRule& s : rules) {
                if (s.longName && name == s.longName) rule = &s;
            }
            if (!rule) {
                reportError(command + ": unknown option '" + a + "'");
                return kExitUsage;
            }
            std::string value;
            if (eq != std::string::npos) {
                if (!rule->takesValue && !rule->optionalValue) {
                    reportError(command + ": option '--" + name + "' takes no value");
                    return kExitUsage;
                }
                value = a.substr(eq + 1);
            } else if (rule->takesValue) {
                if (i + 1 >= argc) {
                    reportError(command + ": option '" + a + "' requires a value");
                    return kExitUsage;
                }
                value = argv[++i];
            }
            if (!applyOption(*rule, value)) return kExitUsage;
            continue;
        }
        for (size_t k = 1; k < a.size(); ++k) {
            const OptionRule* rule = nullptr;
            for (const OptionRule& s : rules) {
                if (s.shortName && s.shortName == a[k]) rule = &s;
            }
            if (!rule) {
                reportError(command + ": unknown option '-" + std::string(1, a[k]) + "'");
                return kExitUsage;
            }
            std::string value;
            if (rule->takesValue) {
                if (k + 1 < a.size()) {
                    value = a.substr(k + 1);
                } else if (i + 1 < argc) {
                    value = argv[++i];
                } else {
                    reportError(command + ": option '-" + std::string(1, a[k]) + "' requires a value");
                    return kExitUsage;
                }
                k = a.size();
            }
            if (!applyOption(*rule, value)) return kExitUsage;
        }
    }
    return -1;
}

std::string inputLabel(const std::string& name) {
    return name == "-" ? "(standard input)" : name;
}

namespace {

struct Walker {
    const InputWalk& walk;
    const std::function<bool(const std::string&, std::FILE*, bool)>& onFile;
    bool ok = true;
    bool stopped = false;

    void fail(const std::string& label, int err) {
        ok = false;
        if (!walk.quietErrors) reportError(label + ": " + std::strerror(err));
    }

    // One file, opened and handed on; a read error the callback leaves behind is reported here.
    void file(const std::string& name, const std::string& label, bool underDirectory) {
        std::FILE* f = name == "-" ? stdin : std::fopen(name.c_str(), "rb");
        if (!f) {
            fail(label, errno);
            return;
        }
        errno = 0;
        if (!onFile(label, f, underDirectory)) stopped = true;
        if (std::ferror(f)) fail(label, errno ? errno : EIO);
        if (f != stdin) std::fclose(f);
    }

    void directory(const std::string& path, const std::string& prefix) {
        DIR* d = opendir(path.c_str());
        if (!d) {
            fail(prefix.empty() ? path : prefix, errno);
            return;
        }
        std::vector<std::string> names;
        while (dirent* e = readdir(d)) {
            if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) names.push_back(e->d_name);
        }
        closedir(d);
        for (const std::string& n : names) {
            if (stopped) return;
            const std::string full = path + "/" + n;
            const std::string label = prefix.empty() ? n : prefix + "/" + n;
            struct stat st {};
            if (lstat(full.c_str(), &st) != 0) {
                fail(label, errno);
                continue;
            }
            if (S_ISLNK(st.st_mode)) {
                if (!walk.followLinks) continue;
                if (stat(full.c_str(), &st) != 0) {
                    fail(label, errno);
                    continue;
                }
            }
            if (S_ISDIR(st.st_mode)) {
                directory(full, label);
            } else if (S_ISREG(st.st_mode)) {
                file(full, label, true);
            }
            // Devices, fifos and sockets met inside a tree are passed over, as grep -r does by default.
        }
    }

    void operand(const std::string& name) {
        if (name == "-") {
            file(name, inputLabel(name), false);
            return;
        }
        struct stat st {};
        if (stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            if (!walk.recursive) {
                fail(name, EISDIR);
                return;
            }
            // grep -r names the files under "dir/" as "dir/x" but never doubles a trailing slash.
            std::string prefix = name;
            while (prefix.size() > 1 && prefix.back() == '/') prefix.pop_back();
            directory(prefix, prefix);
            return;
        }
        file(name, name, false);
    }
};

}  // namespace

bool forEachInput(const std::vector<std::string>& operands, const InputWalk& walk,
                  const std::function<bool(const std::string& label, std::FILE* f, bool underDirectory)>& onFile) {
    Walker w{walk, onFile};
    if (operands.empty()) {
        if (walk.recursive) {
            w.directory(".", std::string());
        } else {
            w.operand("-");
        }
    }
    for (size_t i = 0; i < operands.size() && !w.stopped; ++i) w.operand(operands[i]);
    return w.ok;
}

LineBlockReader::LineBlockReader(std::FILE* f, size_t blockSize) : f_(f), buf_(blockSize) {}

bool LineBlockReader::next(const Kel8u** pData, size_t* pLen) {
    // Move the unfinished line left over from the last block to the front, then fill the rest.
    if (begin_ > 0) {
        std::memmove(buf_.data(), buf_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    size_t scanned = 0;  // bytes of buf_[0, end_) known to hold no newline
    for (;;) {
        if (!eof_ && end_ < buf_.size()) {
            const size_t n = std::fread(buf_.data() + end_, 1, buf_.size() - end_, f_);
            if (n == 0) {
                eof_ = true;
                if (std::ferror(f_)) failed_ = true;
            }
            end_ += n;
        }
        if (end_ == 0) return false;
        const size_t cut = lineStartBefore(buf_.data() + scanned, end_ - scanned);
        if (cut > 0 || eof_) {
            const size_t len = cut > 0 ? scanned + cut : end_;
            *pData = buf_.data();
            *pLen = len;
            begin_ = len;
            if (eof_ && len == end_) begin_ = end_ = 0;
            if (begin_ == end_) begin_ = end_ = 0;
            return true;
        }
        // No newline in a full buffer: the line goes on, so the buffer grows.
        scanned = end_;
        if (end_ == buf_.size()) buf_.resize(buf_.size() * 2);
    }
}

size_t findNewline(const Kel8u* data, size_t len) {
    size_t done = 0;
    while (done < len) {
        const int part = static_cast<int>(std::min<size_t>(len - done, INT_MAX));
        int index = -1;
        kelsFindC_8u(data + done, part, '\n', &index);
        if (index >= 0) return done + static_cast<size_t>(index);
        done += static_cast<size_t>(part);
    }
    return len;
}

size_t lineStartBefore(const Kel8u* data, size_t len) {
    size_t end = len;
    while (end > 0) {
        const size_t from = end > INT_MAX ? end - INT_MAX : 0;
        int index = -1;
        kelsFindRevC_8u(data + from, static_cast<int>(end - from), '\n', &index);
        if (index >= 0) return from + static_cast<size_t>(index) + 1;
        end = from;
    }
    return 0;
}

void forEachLine(const Kel8u* data, size_t len, const std::function<bool(const Kel8u* line, size_t len)>& onLine) {
    size_t pos = 0;
    while (pos < len) {
        const size_t nl = pos + findNewline(data + pos, len - pos);
        if (!onLine(data + pos, nl - pos)) return;
        pos = nl + 1;
    }
}

}  // namespace kel::app

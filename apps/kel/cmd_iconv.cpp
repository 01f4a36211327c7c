// apps/kel/cmd_iconv.cpp - `kel iconv`: convert text between UTF-8, UTF-16LE and UTF-16BE, streaming.
//
// Input is read in 64 KiB pieces and pushed through the library's tolerant converters, so malformed input is
// converted by their rules (a bad UTF-8 byte becomes the character of the same value, lone surrogates pass
// through) and never stops the tool. The converters read a character cut off by the end of their source as
// malformed, so a piece must not end inside a character: an incomplete UTF-8 sequence, a lone high surrogate or
// an odd byte at the end of a piece is carried over to the next one and converted as it stands only at the real
// end of the input. Sequences that are well formed but name no character (encoded surrogates, values above
// U+10FFFF) are malformed input too: the tool takes them apart before the converter would accept them.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kel/commands.h"
#include "kel/io_util.h"
#include "kelch.h"

namespace kel::app {
namespace {

enum class Encoding { Utf8, Utf16Le, Utf16Be };

constexpr size_t kPiece = 64 * 1024;

void printIconvUsage(std::FILE* out) {
    std::fprintf(out,
                 "Usage: kel iconv --from ENCODING --to ENCODING [FILE...]\n"
                 "Convert each FILE (standard input when there is none, or for -) and write the result to standard\n"
                 "output. ENCODING is utf-8, utf-16le or utf-16be. Malformed input is converted, not rejected: a\n"
                 "byte that is not part of a valid UTF-8 sequence becomes the character of the same value (its\n"
                 "Latin-1 reading; this includes encoded surrogates and sequences above U+10FFFF) and unpaired\n"
                 "UTF-16 surrogates are kept. No byte-order mark is read or written.\n"
                 "Converting an encoding to itself copies the input unchanged.\n");
}

bool parseEncoding(std::string name, Encoding& out) {
    for (auto& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    if (name == "utf-8" || name == "utf8") {
        out = Encoding::Utf8;
    } else if (name == "utf-16le" || name == "utf16le") {
        out = Encoding::Utf16Le;
    } else if (name == "utf-16be" || name == "utf16be") {
        out = Encoding::Utf16Be;
    } else {
        return false;
    }
    return true;
}

// Bytes at the end of buf[0, n) that start a UTF-8 sequence the next piece may complete: a lead byte announcing
// more continuation bytes than follow it, followed only by continuation bytes. 0 when the piece ends cleanly.
size_t incompleteUtf8Tail(const Kel8u* buf, size_t n) {
    size_t k = 0;
    while (k < 5 && k < n && (buf[n - 1 - k] & 0xC0) == 0x80) ++k;
    if (k == n) return 0;
    const Kel8u lead = buf[n - 1 - k];
    if (lead < 0xC0 || lead >= 0xFE) return 0;
    size_t ones = 0;
    while (lead & (0x80 >> ones)) ++ones;
    return ones > k + 1 ? k + 1 : 0;
}

class Converter {
public:
    Converter(Encoding from, Encoding to, const std::string& name) : from_(from), to_(to), name_(name) {}

    // Converts the next bytes of the input; final marks its end. False on a write error.
    bool push(const Kel8u* data, size_t n, bool final) {
        if (n != 0) pending_.insert(pending_.end(), data, data + n);
        size_t take = pending_.size();
        if (from_ == to_) {
            return emit(pending_.data(), take) && consume(take);
        }
        if (from_ == Encoding::Utf8) {
            if (!final) take -= incompleteUtf8Tail(pending_.data(), take);
            return fromUtf8(take) && consume(take);
        }
        // UTF-16 input: whole units only, and a high surrogate at the end waits for its partner.
        take &= ~size_t(1);
        if (!final && take >= 2) {
            const Kel16u last = unitAt(take - 2);
            if (last >= 0xD800 && last <= 0xDBFF) take -= 2;
        }
        if (final && take != pending_.size()) {
            reportError("iconv: " + name_ + ": input ends in the middle of a UTF-16 unit; last byte dropped");
            oddEnd_ = true;
        }
        const bool ok = to_ == Encoding::Utf8 ? fromUtf16(take) : swapUtf16(take);
        return ok && consume(final ? pending_.size() : take);
    }

    bool droppedOddByte() const { return oddEnd_; }

private:
    Kel16u unitAt(size_t byteOffset) const {
        const Kel8u a = pending_[byteOffset], b = pending_[byteOffset + 1];
        return from_ == Encoding::Utf16Be ? Kel16u(a << 8 | b) : Kel16u(b << 8 | a);
    }

    bool consume(size_t n) {
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(n));
        return true;
    }

    static bool emit(const void* p, size_t n) { return n == 0 || std::fwrite(p, 1, n, stdout) == n; }

    // The library's converter also accepts sequences that are well formed but name no character: encoded
    // surrogates (ED A0..BF ..), code points above U+10FFFF (F4 90..BF .., F5..F7 ..) and the old five- and
    // six-byte forms (F8..FD ..). It would turn them into other, valid characters (F4 90 80 80 into U+10000), so
    // they are cut out here and given the documented fallback: each byte becomes the character of its value. The
    // lead byte is converted here; the continuation bytes after it are malformed on their own, and the library
    // already reads those as Latin-1.
    static bool namesNoCharacter(const Kel8u* p, size_t avail) {
        if (avail < 2 || (p[1] & 0xC0) != 0x80) return false;
        if (p[0] == 0xED) return p[1] >= 0xA0;
        if (p[0] == 0xF4) return p[1] >= 0x90;
        return p[0] >= 0xF5 && p[0] <= 0xFD;
    }

    bool fromUtf8(size_t n) {
        std::vector<Kel16u> out(kPiece);
        const bool bigEndian = to_ == Encoding::Utf16Be;
        size_t at = 0;
        while (at < n) {
            size_t stop = at;
            while (stop < n && !namesNoCharacter(pending_.data() + stop, n - stop)) ++stop;
            while (at < stop) {
                Kel32u srcLen = static_cast<Kel32u>(stop - at), dstLen = static_cast<Kel32u>(out.size());
                kelsConvertUTF_8u16u(pending_.data() + at, &srcLen, out.data(), &dstLen, bigEndian ? 1 : 0);
                if (!emit(out.data(), dstLen * 2u)) return false;
                at += srcLen;
            }
            if (at < n) {
                const Kel8u lead = pending_[at];
                const Kel8u unit[2] = {bigEndian ? Kel8u(0) : lead, bigEndian ? lead : Kel8u(0)};
                if (!emit(unit, 2)) return false;
                ++at;
            }
        }
        return true;
    }

    bool fromUtf16(size_t nBytes) {
        // The converter reads whole units from aligned memory.
        std::vector<Kel16u> units(nBytes / 2);
        if (nBytes != 0) std::memcpy(units.data(), pending_.data(), nBytes);
        std::vector<Kel8u> out(kPiece * 2);
        size_t at = 0;
        while (at < units.size()) {
            Kel32u srcLen = static_cast<Kel32u>(units.size() - at), dstLen = static_cast<Kel32u>(out.size());
            kelsConvertUTF_16u8u(units.data() + at, &srcLen, out.data(), &dstLen, from_ == Encoding::Utf16Be ? 1 : 0);
            if (!emit(out.data(), dstLen)) return false;
            at += srcLen;
        }
        return true;
    }

    bool swapUtf16(size_t nBytes) {
        std::vector<Kel8u> out(nBytes);
        for (size_t i = 0; i + 1 < nBytes; i += 2) {
            out[i] = pending_[i + 1];
            out[i + 1] = pending_[i];
        }
        return emit(out.data(), nBytes);
    }

    Encoding from_, to_;
    std::string name_;
    std::vector<Kel8u> pending_;
    bool oddEnd_ = false;
};

// 0 on success, kExitFailure when the file could not be read or written.
int convertFile(const std::string& name, Encoding from, Encoding to) {
    std::FILE* f = openInput(name);
    if (!f) return kExitFailure;
    Converter conv(from, to, name);
    std::vector<Kel8u> buf(kPiece);
    bool ok = true;
    size_t n;
    while (ok && (n = std::fread(buf.data(), 1, buf.size(), f)) > 0) ok = conv.push(buf.data(), n, false);
    const bool readOk = !std::ferror(f);
    if (f != stdin) std::fclose(f);
    if (!readOk) {
        reportError(name + ": read error");
        return kExitFailure;
    }
    if (ok) ok = conv.push(nullptr, 0, true);
    if (!ok) {
        reportError("iconv: write error");
        return kExitFailure;
    }
    return conv.droppedOddByte() ? kExitFailure : kExitOk;
}

}  // namespace

int cmdIconv(int argc, char** argv) {
    Encoding from = Encoding::Utf8, to = Encoding::Utf8;
    bool haveFrom = false, haveTo = false, optionsDone = false;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (!optionsDone && a == "--") {
            optionsDone = true;
        } else if (!optionsDone && a == "--help") {
            printIconvUsage(stdout);
            return kExitOk;
        } else if (!optionsDone && (a == "--from" || a == "--to" || a == "-f" || a == "-t")) {
            const bool isFrom = a == "--from" || a == "-f";
            if (i + 1 >= argc || !parseEncoding(argv[i + 1], isFrom ? from : to)) {
                reportError("iconv: " + a + " needs utf-8, utf-16le or utf-16be");
                return kExitUsage;
            }
            (isFrom ? haveFrom : haveTo) = true;
            ++i;
        } else if (!optionsDone && a.size() > 1 && a[0] == '-') {
            reportError("iconv: unknown option '" + a + "'");
            printIconvUsage(stderr);
            return kExitUsage;
        } else {
            files.push_back(a);
        }
    }
    if (!haveFrom || !haveTo) {
        reportError("iconv: both --from and --to are required");
        printIconvUsage(stderr);
        return kExitUsage;
    }
    if (files.empty()) files.push_back("-");
    int status = kExitOk;
    for (const auto& name : files) {
        if (convertFile(name, from, to) != kExitOk) status = kExitFailure;
    }
    if (std::fflush(stdout) != 0) {
        reportError("iconv: write error");
        status = kExitFailure;
    }
    return status;
}

}  // namespace kel::app

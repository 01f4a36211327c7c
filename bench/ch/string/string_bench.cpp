// bench/ch/string/string_bench.cpp - the string primitives beside glibc and iconv, in one run:
// - byte search (kelsFindC_8u / kelsFindRevC_8u against memchr / memrchr) for an absent byte, 16 B to 1 MiB;
// - pattern search (kelsFind_8u against memmem) for needles of 4, 8, 16 and 64 bytes over the corpus text, each
//   needle cut from the text so that its first occurrence lies near the end: both scan almost the whole text;
// - comparison and equality of equal buffers (kelsCompare_8u and kelsEqual_8u against memcmp), 16 B to 1 MiB;
// - UTF-8 to UTF-16 and back against iconv, on ASCII text (alice29.txt) and on mixed text (words of eight
//   scripts, one to four bytes per character, drawn with a fixed seed).
// The scalar twins run beside them as `ref`. Throughput counts source bytes.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench_util.h"
#include "ch/string/compare_internal.h"
#include "ch/string/search_internal.h"
#include "ch/string/utf_convert_internal.h"
#include "kelch.h"

namespace {

using Bytes = std::vector<Kel8u>;

// ---- Inputs -------------------------------------------------------------------------------------------------------

const Bytes& corpusText() {
    static const Bytes text = [] {
        Bytes v;
        for (const char* name : {"alice29.txt", "asyoulik.txt", "lcet10.txt", "plrabn12.txt"}) {
            const auto f = kel::bench::readCorpusFile(name);
            v.insert(v.end(), f.begin(), f.end());
        }
        return v;
    }();
    return text;
}

// A needle of m bytes whose first occurrence in the text is as close to the end as possible.
Bytes lateNeedle(int m) {
    const Bytes& t = corpusText();
    for (size_t at = t.size() - size_t(m) - 64; at > 0; at -= 97) {
        const void* first = memmem(t.data(), t.size(), t.data() + at, size_t(m));
        if (first == t.data() + at) return Bytes(t.data() + at, t.data() + at + m);
    }
    return Bytes(t.end() - m, t.end());
}

const Bytes& mixedText() {
    static const Bytes text = [] {
        static const char* const kWords[] = {"the",      "quick",  "brown",   "fox",    "jumps", "over",
                                             "lazy",     "dog",    "and",     "runs",                         // English
                                             "été",      "déjà",   "garçon",  "naïve",  "œuvre", "français",  // French
                                             "Straße",   "Grüße",  "Übermut",                                 // German
                                             "привет",   "мир",    "текст",   "строка",                       // Russian
                                             "καλημέρα", "κόσμε",  "λόγος",                                   // Greek
                                             "日本語",   "文字列", "変換",  // Japanese
                                             "中文",     "测试",   "字符",  // Chinese
                                             "😀",        "🚀",      "𝄞"};    // beyond the BMP
        std::mt19937_64 rng(7);
        std::string s;
        while (s.size() < 256 * 1024) {
            s += kWords[rng() % (sizeof kWords / sizeof kWords[0])];
            s += rng() % 12 == 0 ? ".\n" : " ";
        }
        return Bytes(s.begin(), s.end());
    }();
    return text;
}

const Bytes& asciiText() {
    static const Bytes text = kel::bench::readCorpusFile("alice29.txt");
    return text;
}

std::vector<Kel16u> toUnits(const Bytes& utf8) {
    std::vector<Kel16u> u(utf8.size());
    Kel32u sl = Kel32u(utf8.size()), dl = Kel32u(u.size());
    kelsConvertUTF_8u16u(utf8.data(), &sl, u.data(), &dl, 0);
    u.resize(dl);
    return u;
}

// ---- Search -------------------------------------------------------------------------------------------------------

enum class Impl { Kel, Ref, Glibc };

template <bool kReverse>
void findC(benchmark::State& state, Impl impl) {
    const int n = int(state.range(0));
    Bytes buf(size_t(n), 'a');
    int sink = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(buf.data());
        int index;
        if (impl == Impl::Glibc) {
            const void* p = kReverse ? memrchr(buf.data(), 'z', size_t(n)) : memchr(buf.data(), 'z', size_t(n));
            index = p ? int(static_cast<const Kel8u*>(p) - buf.data()) : -1;
        } else if (impl == Impl::Kel) {
            if (kReverse) {
                kelsFindRevC_8u(buf.data(), n, 'z', &index);
            } else {
                kelsFindC_8u(buf.data(), n, 'z', &index);
            }
        } else {
            index = kReverse ? n8_ownsFindRevC_8u_ref(buf.data(), n, 'z') : n8_ownsFindC_8u_ref(buf.data(), n, 'z');
        }
        sink += index;
    }
    benchmark::DoNotOptimize(sink);
    state.SetBytesProcessed(int64_t(state.iterations()) * n);
}

void find(benchmark::State& state, Impl impl, int m) {
    const Bytes& text = corpusText();
    const Bytes needle = lateNeedle(m);
    const int at =
        int(static_cast<const Kel8u*>(memmem(text.data(), text.size(), needle.data(), size_t(m))) - text.data());
    int found = -2;
    for (auto _ : state) {
        benchmark::DoNotOptimize(text.data());
        if (impl == Impl::Glibc) {
            found = int(static_cast<const Kel8u*>(memmem(text.data(), text.size(), needle.data(), size_t(m))) -
                        text.data());
        } else if (impl == Impl::Kel) {
            kelsFind_8u(text.data(), int(text.size()), needle.data(), m, &found);
        } else {
            found = n8_ownsFind_8u_U8_ref(text.data(), int(text.size()), needle.data(), m);
        }
        benchmark::DoNotOptimize(found);
    }
    if (found != at) state.SkipWithError("wrong position");
    state.SetBytesProcessed(int64_t(state.iterations()) * (at + m));
}

// Equal buffers, so that every byte is examined; kEqual measures kelsEqual_8u against memcmp(...) == 0. Both sides
// get the same buffers and the same loop, with the implementation fixed at compile time, and the pointers and the
// length pass through DoNotOptimize on every call: the compiler can neither specialise a call for the length nor
// hoist it out of the loop. memcmp is called by name, so it goes through the PLT to the variant glibc selected,
// just as kelsCompare_8u goes through its export slot: one indirect jump each.
template <bool kEqual, Impl kImpl>
void compare(benchmark::State& state) {
    const int n = int(state.range(0));
    const Bytes a = kel::bench::randomBuffer(size_t(n), 3);
    const Bytes b = a;
    for (auto _ : state) {
        const Kel8u* pa = a.data();
        const Kel8u* pb = b.data();
        int len = n;
        benchmark::DoNotOptimize(pa);
        benchmark::DoNotOptimize(pb);
        benchmark::DoNotOptimize(len);
        int r;
        if constexpr (kImpl == Impl::Glibc) {
            r = memcmp(pa, pb, size_t(len));
            if (kEqual) r = r == 0;
        } else if constexpr (kImpl == Impl::Kel) {
            if (kEqual) {
                kelsEqual_8u(pa, pb, len, &r);
            } else {
                kelsCompare_8u(pa, pb, len, &r);
            }
        } else {
            r = kEqual ? n8_ownsEqual_8u_ref(pa, pb, len) : n8_ownsCompare_8u_ref(pa, pb, len);
        }
        benchmark::DoNotOptimize(r);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * n);
}

// ---- UTF conversion -----------------------------------------------------------------------------------------------

void iconvAll(iconv_t cd, const void* src, size_t srcBytes, void* dst, size_t dstBytes) {
    char* s = static_cast<char*>(const_cast<void*>(src));
    char* d = static_cast<char*>(dst);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    iconv(cd, &s, &srcBytes, &d, &dstBytes);
}

void utf8To16(benchmark::State& state, Impl impl, const Bytes& (*input)()) {
    const Bytes& src = input();
    std::vector<Kel16u> dst(src.size() + 16);
    iconv_t cd = iconv_open("UTF-16LE", "UTF-8");
    for (auto _ : state) {
        Kel32u sl = Kel32u(src.size()), dl = Kel32u(dst.size());
        if (impl == Impl::Glibc) {
            iconvAll(cd, src.data(), src.size(), dst.data(), dst.size() * 2);
        } else if (impl == Impl::Kel) {
            kelsConvertUTF_8u16u(src.data(), &sl, dst.data(), &dl, 0);
        } else {
            n8_ownsConvertUTF_8u16u_ref(src.data(), &sl, dst.data(), &dl, 0);
        }
        benchmark::ClobberMemory();
    }
    iconv_close(cd);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(src.size()));
}

void utf16To8(benchmark::State& state, Impl impl, const Bytes& (*input)()) {
    const std::vector<Kel16u> src = toUnits(input());
    Bytes dst(src.size() * 3 + 16);
    iconv_t cd = iconv_open("UTF-8", "UTF-16LE");
    for (auto _ : state) {
        Kel32u sl = Kel32u(src.size()), dl = Kel32u(dst.size());
        if (impl == Impl::Glibc) {
            iconvAll(cd, src.data(), src.size() * 2, dst.data(), dst.size());
        } else if (impl == Impl::Kel) {
            kelsConvertUTF_16u8u(src.data(), &sl, dst.data(), &dl, 0);
        } else {
            n8_ownsConvertUTF_16u8u_ref(src.data(), &sl, dst.data(), &dl, 0);
        }
        benchmark::ClobberMemory();
    }
    iconv_close(cd);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(src.size() * 2));
}

// ---- Registration -------------------------------------------------------------------------------------------------

void registerAll() {
    const struct {
        const char* name;
        Impl impl;
    } impls[] = {{"kel", Impl::Kel}, {"glibc", Impl::Glibc}, {"ref", Impl::Ref}};
    for (const auto& im : impls) {
        for (int n : {8, 16, 32, 48, 64, 256, 4096, 65536, 1 << 20}) {
            benchmark::RegisterBenchmark((std::string("BM_FindC/") + im.name).c_str(), findC<false>, im.impl)->Arg(n);
            benchmark::RegisterBenchmark((std::string("BM_FindRevC/") + im.name).c_str(), findC<true>, im.impl)->Arg(n);
        }
        for (int m : {4, 8, 16, 64}) {
            benchmark::RegisterBenchmark(("BM_Find_" + std::to_string(m) + "/" + im.name + "/text").c_str(), find,
                                         im.impl, m);
        }
    }
    const struct {
        const char* name;
        void (*compare)(benchmark::State&);
        void (*equal)(benchmark::State&);
    } compareImpls[] = {{"kel", compare<false, Impl::Kel>, compare<true, Impl::Kel>},
                        {"glibc", compare<false, Impl::Glibc>, compare<true, Impl::Glibc>},
                        {"ref", compare<false, Impl::Ref>, compare<true, Impl::Ref>}};
    for (const auto& im : compareImpls) {
        for (int n : {16, 32, 64, 128, 256, 1024, 4096, 65536, 1 << 20}) {
            benchmark::RegisterBenchmark((std::string("BM_Compare/") + im.name).c_str(), im.compare)->Arg(n);
            benchmark::RegisterBenchmark((std::string("BM_Equal/") + im.name).c_str(), im.equal)->Arg(n);
        }
    }
    const struct {
        const char* name;
        Impl impl;
    } convImpls[] = {{"kel", Impl::Kel}, {"iconv", Impl::Glibc}, {"ref", Impl::Ref}};
    for (const auto& im : convImpls) {
        benchmark::RegisterBenchmark((std::string("BM_Utf8To16_ascii/") + im.name).c_str(), utf8To16, im.impl,
                                     asciiText);
        benchmark::RegisterBenchmark((std::string("BM_Utf8To16_mixed/") + im.name).c_str(), utf8To16, im.impl,
                                     mixedText);
        benchmark::RegisterBenchmark((std::string("BM_Utf16To8_ascii/") + im.name).c_str(), utf16To8, im.impl,
                                     asciiText);
        benchmark::RegisterBenchmark((std::string("BM_Utf16To8_mixed/") + im.name).c_str(), utf16To8, im.impl,
                                     mixedText);
    }
}

const bool kRegistered = (registerAll(), true);

}  // namespace

#!/usr/bin/env bash
# tests/core/check_stream_linkage.sh - linkage hygiene of the built libkelstream.
#
# Usage: check_stream_linkage.sh LIBRARY HEADER
#   HEADER: include/kelstream.h; its function declarations are the whole interface.
# Checks: the dynamic symbol table defines exactly the functions the header declares; the only NEEDED entries are
# libkeldcn8 and libc.so.6, and every undefined symbol comes from one of them (libkeldcn8's kels*/keldc* calls or a
# GLIBC-versioned libc name); no C++ runtime, RTTI, exception or operator new/delete symbols (the library is
# linked without libstdc++ and must stay loadable into C programs that have none); no instruction newer than SSSE3.
# Unlike the primitives libraries it may call malloc/free (the default allocator) and pthreads, both in libc.
set -u
lib=$1 header=$2
fail=0
err() { echo "FAIL: $*"; fail=1; }

# Declarations only: comments dropped first, so names the documentation mentions do not count.
declared=$(perl -0777 -pe 's{/\*.*?\*/}{}gs; s{//[^\n]*}{}g' "$header" | grep -oE '\bkelStream[A-Za-z0-9_]*[[:space:]]*\(' |
  tr -d '( \t' | sort -u)
[ -n "$declared" ] || err "no kelStream functions found in $header"
defined=$(nm -D --defined-only "$lib" | awk '{print $3}' | sed 's/@.*//' | sort -u)
extra=$(comm -23 <(echo "$defined") <(echo "$declared"))
missing=$(comm -13 <(echo "$defined") <(echo "$declared"))
[ -z "$extra" ] || err "exported but not declared in $(basename "$header"): $(echo $extra)"
[ -z "$missing" ] || err "declared but not exported: $(echo $missing)"
echo "exports: $(echo "$defined" | wc -l) of $(echo "$declared" | wc -l) declared"

needed=$(readelf -d "$lib" | awk '/NEEDED/{print $NF}' | tr -d '[]' | grep -vE '^(libc\.so\.6|libkeldcn8\.so\.[0-9]+)$')
[ -z "$needed" ] || err "NEEDED beyond libkeldcn8 and libc.so.6: $(echo $needed)"

undef=$(nm -D --undefined-only "$lib" | awk '$1=="U"{print $2}' | grep -vE '@GLIBC_[0-9.]+$' |
  grep -vE '^(kels|keldc)[A-Za-z0-9_]*(@.*)?$')
[ -z "$undef" ] || err "undefined symbols from neither libc nor libkeldcn8: $(echo $undef)"
weak=$(nm -D --undefined-only "$lib" | awk '$1=="w"{print $2}' | sed 's/@.*//' |
  grep -vE '^(__cxa_finalize|__gmon_start__|_ITM_registerTMCloneTable|_ITM_deregisterTMCloneTable)$')
[ -z "$weak" ] || err "unexpected weak imports: $(echo $weak)"

# Header-only templates (std::sort, std::min) instantiate local _ZSt* functions inside the library: harmless. What
# is not: a reference to any C++ name defined elsewhere (that is libstdc++), and RTTI, exception or allocation
# machinery anywhere in the symbol table.
cxxUndef=$(nm -D --undefined-only "$lib" | awk '{print $NF}' | sed 's/@.*//' | grep '^_Z')
[ -z "$cxxUndef" ] || err "references to C++ library names: $(echo $cxxUndef)"
cxx=$(nm "$lib" 2>/dev/null | awk '{print $NF}' | sed 's/@.*//' | grep -vE '^__cxa_finalize$' |
  grep -E '^(_ZTI|_ZTS|_ZTVN10__cxxabiv|__cxa_|_Unwind_|__gxx_personality|_Znw|_Zna|_Zdl|_Zda)' | sort -u)
[ -z "$cxx" ] || err "RTTI, exception or operator new/delete symbols: $(echo $cxx)"

isa=$(objdump -d --no-show-raw-insn "$lib" | awk -F'\t' 'NF>=2{split($2,a," "); print a[1]}' |
  grep -E '^(v[a-z]|pblend|blendv?p|dpp|insertps|extractps|movntdqa|mpsadbw|packusdw|pcmpeqq|pcmpgtq|pextr[bdq]$|phminposuw|pinsr[bdq]$|pm(ax|in)(s[bd]|u[dw])$|pmov[sz]x|pmuldq|pmulld|ptest|round[ps][sd]|pcmp[ei]str|crc32|popcnt|lzcnt|pclmul|andn|bextr|blsi|blsmsk|blsr|bzhi|mulx|pdep|pext$|rorx|sarx|shlx|shrx|movbe|aes)' | sort -u)
[ -z "$isa" ] || err "instructions beyond SSSE3: $(echo $isa)"

[ $fail -eq 0 ] && echo "linkage of $(basename "$lib") is clean"
exit $fail

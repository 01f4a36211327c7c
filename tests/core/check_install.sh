#!/usr/bin/env bash
# tests/core/check_install.sh - installs the build into a staging prefix and builds the examples against it as a
# user would: examples/consumer (both primitives libraries) and examples/stream (one libkelstream program per
# format and a streaming filter), once through find_package(kel) and once through pkg-config. Every program must
# run: each example verifies its own round trip, and the filter's output must decode back to its input.
#
# Usage: check_install.sh SOURCE_DIR BUILD_DIR WORK_DIR
set -euo pipefail
src=$1 build=$2 work=$3
rm -rf "$work" && mkdir -p "$work"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
libdir=$(ls -d "$work"/prefix/lib*/pkgconfig | head -1)
libdir=$(dirname "$libdir")
export LD_LIBRARY_PATH="$libdir"
sample="$src/bench/data/alice29.txt"
examples=(gzip_name_mtime zlib_dictionary deflate_raw bzip2_file lz4_frame lzop_file lzss_file)

# Through CMake.
cmake -S "$src/examples/consumer" -B "$work/cmake-consumer" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cmake-consumer" >/dev/null
"$work/cmake-consumer/kel_consumer"
cmake -S "$src/examples/stream" -B "$work/cmake-stream" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cmake-stream" -j2 >/dev/null
for e in "${examples[@]}"; do
  "$work/cmake-stream/$e"             # generated text
  "$work/cmake-stream/$e" "$sample" >/dev/null
done

# Through pkg-config: the flags alone must compile and link (libkeldcn8 is found for libkelstream's sake).
flags=$(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --cflags --libs keldcn8 kelchn8)
cc "$src/examples/consumer/consumer.c" $flags -o "$work/pc-consumer"
"$work/pc-consumer"
flags=$(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --cflags --libs kelstream)
mkdir -p "$work/pc-stream"
for e in "${examples[@]}" stream_filter; do
  cc -std=c99 -Wall -Wextra -Werror "$src/examples/stream/$e.c" $flags -o "$work/pc-stream/$e"
done
for e in "${examples[@]}"; do "$work/pc-stream/$e" "$sample" >/dev/null; done

# The filter, both builds, every format: compress, then decompress by detection where the format has a magic.
big="$work/filter-input"
cat "$src"/bench/data/{alice29.txt,kppkn.gtb,fireworks.jpeg} > "$big"  # several 64 KiB pieces, text and binary
for f in gzip zlib deflate bzip2 lz4 lzop lzss; do
  for filter in "$work/cmake-stream/stream_filter" "$work/pc-stream/stream_filter"; do
    d=auto
    [ $f = deflate ] && d=deflate  # raw Deflate has no magic to detect
    "$filter" -c $f < "$big" > "$work/filter.$f"
    "$filter" -d $d < "$work/filter.$f" > "$work/filter.$f.out"
    cmp "$big" "$work/filter.$f.out" || { echo "stream_filter round trip of $f differs"; exit 1; }
  done
done
# The standard tools read what the filter writes (when installed; CI installs them).
for t in "gzip gzip" "bzip2 bzip2" "lz4 lz4" "lzop lzop"; do
  set -- $t
  command -v $1 >/dev/null || { [ -z "${CI:-}" ] && continue; echo "$1 is missing"; exit 1; }
  $1 -dc < "$work/filter.$2" | cmp - "$big" || { echo "$1 cannot read the filter's $2 output"; exit 1; }
done
# A truncated stream is an error (status 1), not a silent short output.
head -c 1000 "$work/filter.gzip" > "$work/filter.cut"
if "$work/pc-stream/stream_filter" -d < "$work/filter.cut" > /dev/null 2>&1; then
  echo "stream_filter accepted a truncated gzip stream"
  exit 1
fi
# The installed tool runs from wherever the tree is unpacked, finding its libraries through its own run path: no
# LD_LIBRARY_PATH, and the prefix moved after installing. Its manual page and completions are in place.
moved="$work/moved-prefix"
cp -a "$work/prefix" "$moved"
rm -rf "$work/prefix/lib"
kelBin="$moved/bin/kel"
env -u LD_LIBRARY_PATH "$kelBin" version | grep -q '^kel ' || { echo "installed kel version failed"; exit 1; }
env -u LD_LIBRARY_PATH "$kelBin" --version >/dev/null
cp "$sample" "$work/tool-input"
env -u LD_LIBRARY_PATH "$kelBin" c -k -f bzip2 "$work/tool-input"
mv "$work/tool-input" "$work/tool-original"
env -u LD_LIBRARY_PATH "$kelBin" d "$work/tool-input.bz2"
cmp "$work/tool-original" "$work/tool-input" || { echo "installed kel round trip differs"; exit 1; }
# kel run takes the drop-in zlib and libbz2 from the moved tree, and they load there (they find libkeldcn8 by
# their own run path).
preload=$(env -u LD_LIBRARY_PATH "$kelBin" run --print)
[[ $preload == "$moved"/lib*/kel/libz.so.1:"$moved"/lib*/kel/libbz2.so.1.0 ]] ||
  { echo "installed kel run preloads $preload"; exit 1; }
if [ -x /usr/bin/python3 ]; then
  maps=$(env -u LD_LIBRARY_PATH "$kelBin" run -- /usr/bin/python3 -c \
    'import zlib, bz2; d = b"kel" * 999; assert zlib.decompress(zlib.compress(d)) == d == bz2.decompress(bz2.compress(d)); print(open("/proc/self/maps").read())')
  grep -q "$moved/lib.*/kel/libz.so.1" <<<"$maps" ||
    { echo "python3 under the installed kel run does not use its zlib"; exit 1; }
fi
for f in share/man/man1/kel.1 share/bash-completion/completions/kel share/zsh/site-functions/_kel; do
  [ -s "$moved/$f" ] || { echo "$f is not installed"; exit 1; }
done
echo "installed package: consumer, ${#examples[@]} libkelstream examples, the filter and the kel tool verified"

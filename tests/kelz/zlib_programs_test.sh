#!/usr/bin/env bash
# zlib_programs_test.sh KELZ_DIR CORPUS - zlib's own test programs, example.c and minigzip.c from Debian's zlib
# source package (fetched by tools/install_deps.sh), built against libkelz: example exercises deflate, inflate,
# flushes, dictionaries, inflateSync and the gz* calls; minigzip's files are checked with gzip both ways.
source "$(dirname "$0")/../support/tool_test_lib.sh"
kelz=$1 corpus=$2
src=${KEL_ZLIB_SOURCE:-/var/cache/kel/zlib-source}
if [ ! -f "$src/test/example.c" ]; then
  [ -z "${CI:-}" ] && { echo "zlib's source package not found in $src: skipped"; exit 77; }
  echo "FAIL: zlib's source package is required in CI (tools/install_deps.sh fetches it)"; exit 1
fi
require_tools cc gzip
enter_scratch_dir

for prog in example minigzip; do
  cc -O2 -w -I"$src" -o $prog "$src/test/$prog.c" -L"$kelz" -lz -Wl,-rpath,"$kelz" || err "$prog does not build"
done
[ $fail -eq 0 ] || exit 1
ldd ./example | grep -q "$kelz/libz.so.1" || err "example is not linked to libkelz"

./example > example.log 2>&1 || err "example failed: $(tail -5 example.log)"
grep -i "error" example.log && err "example reported an error"
cat example.log

for f in "$corpus"/*; do
  name=$(basename "$f")
  for level in 1 6 9; do
    cp "$f" "$name"
    ./minigzip -$level "$name" || { err "minigzip -$level $name"; continue; }
    gzip -dc "$name.gz" | cmp -s - "$f" || err "gzip does not restore minigzip -$level $name"
    rm -f "$name.gz"
  done
  gzip -c "$f" > "$name.gz"
  ./minigzip -d "$name.gz" && cmp -s "$name" "$f" || err "minigzip -d does not restore gzip's $name"
  rm -f "$name" "$name.gz"
done
exit $fail

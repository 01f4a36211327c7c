#!/usr/bin/env bash
# tests/stream/kel_threads_test.sh - `kel c -T N`: the standard tools (gzip, bzip2, lz4) and `kel d` restore what
# several threads wrote, for inputs of several pieces, of less than one piece, and empty, and so does `kel d -T N`;
# zlib takes -T and writes one stream.
#
# Usage: kel_threads_test.sh KEL DATA_DIR. Exits 77 (skipped) only when a tool is missing outside CI.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/../support/tool_test_lib.sh"
kel=$1 data=$2
require_tools gzip bzip2 lz4

enter_scratch_dir

cat "$data"/*.txt "$data/fireworks.jpeg" "$data/html_x_4" "$data/kppkn.gtb" > one
cat one one one one > large  # about 12 MB: three 4 MiB pieces
: > empty

for f in large one empty; do
  for threads in 2 3; do
    "$kel" c -T $threads -c "$f" > "$f.gz" || err "kel c -T $threads $f (gzip)"
    gzip -dc "$f.gz" | cmp -s - "$f" || err "gzip -d does not restore -T $threads $f"
    "$kel" c -f bzip2 -l 1 -T $threads -c "$f" > "$f.bz2" || err "kel c -f bzip2 -T $threads $f"
    bzip2 -dc "$f.bz2" | cmp -s - "$f" || err "bzip2 -d does not restore -T $threads $f"
    "$kel" c -f lz4 -T $threads -c "$f" > "$f.lz4" || err "kel c -f lz4 -T $threads $f"
    lz4 -dc "$f.lz4" | cmp -s - "$f" || err "lz4 -d does not restore -T $threads $f"
    for x in gz bz2 lz4; do
      "$kel" d -c "$f.$x" | cmp -s - "$f" || err "kel d does not restore -T $threads $f.$x"
      "$kel" d -T $threads -c "$f.$x" | cmp -s - "$f" || err "kel d -T $threads does not restore $f.$x"
    done
  done
done
"$kel" c -f zlib -T 2 -c one > one.zz || err "-T with zlib"
"$kel" d -c one.zz | cmp -s - one || err "zlib with -T ignored does not round-trip"
if "$kel" c -T 0 -c one > /dev/null 2>&1; then err "-T 0 accepted"; fi

[ $fail -eq 0 ] && echo "kel -T checks passed"
exit $fail

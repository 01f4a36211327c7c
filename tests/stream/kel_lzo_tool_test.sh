#!/usr/bin/env bash
# tests/stream/kel_lzo_tool_test.sh - `kel c -f lzo|lzss` and `kel d`: lzop restores what kel writes, kel restores
# what lzop writes (at its fast, default and best levels), and LZSS files round-trip, by name and through pipes.
#
# Usage: kel_lzo_tool_test.sh KEL DATA_DIR. Exits 77 (skipped) only when lzop is missing outside CI.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/../support/tool_test_lib.sh"
kel=$1 data=$2
require_tools lzop

enter_scratch_dir

cat "$data/alice29.txt" "$data/kppkn.gtb" "$data/fireworks.jpeg" "$data/html_x_4" > mixed
: > empty
printf 'x' > one

for f in mixed empty one; do
  "$kel" c -f lzo -k "$f" || err "kel c -f lzo $f"
  lzop -d -c "$f.lzo" | cmp -s - "$f" || err "lzop -d does not restore kel's $f.lzo"
  for level in -1 -3 -9; do
    rm -f "$f.lzo"
    lzop $level -q "$f" || err "lzop $level $f"
    "$kel" d -c "$f.lzo" | cmp -s - "$f" || err "kel d does not restore lzop $level's $f.lzo"
  done
  rm -f "$f.lzo"
  "$kel" c -f lzss -k "$f" || err "kel c -f lzss $f"
  mv "$f" "$f.orig"
  "$kel" d "$f.lzss" || err "kel d $f.lzss"
  cmp -s "$f" "$f.orig" || err "kel d does not restore $f.lzss"
  [ -e "$f.lzss" ] && err "kel d kept $f.lzss without -k"
  mv "$f.orig" "$f"
done

# Pipes: the format is recognised from the data.
"$kel" c -f lzo < mixed | "$kel" d | cmp -s - mixed || err "lzo through pipes"
"$kel" c -f lzss < mixed | "$kel" d | cmp -s - mixed || err "lzss through pipes"

# A damaged file is an error with the file's name, and leaves no output behind.
"$kel" c -f lzo -c mixed > bad.lzo
printf '\x00\x00\x00\x00' | dd of=bad.lzo bs=1 seek=5000 conv=notrunc 2>/dev/null
if "$kel" d bad.lzo 2> msg; then err "a damaged lzo file decompressed without error"; fi
grep -q 'bad.lzo' msg || err "the error message does not name the file: $(cat msg)"
[ -e bad ] && err "a partial output was left behind"

[ $fail -eq 0 ] && echo "kel lzo/lzss tool checks passed"
exit $fail

#!/usr/bin/env bash
# tests/dc/bzip2/kel_bzip2_tool_test.sh - `kel c -f bzip2` and `kel d` through files, against the bzip2 tool in
# both directions, with one thread and with several.
#
# Usage: kel_bzip2_tool_test.sh KEL DATA_DIR. Exits 77 (skipped) only when bzip2 is missing outside CI.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/../../support/tool_test_lib.sh"
kel=$1 data=$2
require_tools bzip2

enter_scratch_dir
cat "$data/lcet10.txt" "$data/kppkn.gtb" > t.txt

"$kel" c -f bzip2 -l 1 -k t.txt || err "kel c -f bzip2 -l 1"
bzip2 -d -c t.txt.bz2 | cmp -s - t.txt || err "bzip2 -d does not restore what kel c -f bzip2 wrote"
bzip2 -9 -c t.txt > u.bz2 || err "bzip2 -9"
for threads in 1 2; do
  rm -f u
  "$kel" d -k -T $threads u.bz2 || err "kel d -T $threads u.bz2"
  cmp -s u t.txt || err "kel d -T $threads does not restore what bzip2 -9 wrote"
done

[ $fail -eq 0 ] && echo "kel c and kel d interoperate with bzip2"
exit $fail

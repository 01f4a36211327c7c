#!/usr/bin/env bash
# tests/dc/deflate/kel_long_stream_test.sh - `kel c -f gzip` over a stream longer than 2^31 bytes: positions in the
# matchers pass 2^31 and must be shifted down on the way, without a stall or a wrong match. Both `kel d` and
# `gzip -d` must restore the stream. Everything runs through pipes; nothing of the size of the input is written.
#
# Usage: kel_long_stream_test.sh KEL DATA_DIR [BYTES [MODE...]]. BYTES defaults to 2.5 GiB, the modes to --fast
# (each mode is one word of `kel c` options, e.g. "-l 1"). Runs only with KEL_LONG_TESTS=1, else exits 77
# (skipped), as it does when gzip is missing outside CI.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/../../support/tool_test_lib.sh"
kel=$(realpath "$1") data=$(realpath "$2") bytes=${3:-2684354560}
shift 2
[ $# -gt 0 ] && shift
[ $# -eq 0 ] && set -- "--fast"
if [ ! -x "$kel" ] || [ ! -d "$data" ]; then
  echo "FAIL: no kel binary at $1 or no data directory at $2"
  exit 1
fi
if [ "${KEL_LONG_TESTS:-0}" != 1 ]; then
  echo "KEL_LONG_TESTS=1 not set: skipped"
  exit 77
fi
require_tools gzip

enter_scratch_dir

# Text and binary samples with a MiB of random bytes after each round: compressible, but not trivially (the same
# sample repeats only far beyond the 32 KiB window).
samples=("$data/alice29.txt" "$data/kppkn.gtb" "$data/html" "$data/lcet10.txt" "$data/geo.protodata")
generate() {
  while :; do
    cat "${samples[@]}" || return
    head -c 1048576 /dev/urandom || return
  done 2> /dev/null | head -c "$bytes"
}

for mode in "$@"; do
  rm -f to_sum to_len to_kel
  mkfifo to_sum to_len to_kel
  wc -c < to_len > in.len &
  len_pid=$!
  tee to_len < to_sum | md5sum > in.sum &
  sum_pid=$!
  ( "$kel" d -c < to_kel; echo $? > kel_d.rc ) | md5sum > kel_d.sum &
  kel_pid=$!
  start=$SECONDS
  # shellcheck disable=SC2086 # the mode is a list of options
  generate | tee to_sum | "$kel" c -f gzip $mode -c | tee to_kel | gzip -dc | md5sum > gzip_d.sum
  rcs=("${PIPESTATUS[@]}")
  wait "$len_pid" "$sum_pid" "$kel_pid"
  echo "kel c -f gzip $mode: $bytes bytes compressed and restored twice in $((SECONDS - start)) s"
  [ "${rcs[2]}" = 0 ] || err "kel c $mode exited with ${rcs[2]}"
  [ "${rcs[4]}" = 0 ] || err "gzip -d exited with ${rcs[4]} after kel c $mode"
  [ "$(cat kel_d.rc)" = 0 ] || err "kel d exited with $(cat kel_d.rc) after kel c $mode"
  [ "$(cat in.len)" = "$bytes" ] || err "the input generator gave $(cat in.len) bytes, not $bytes"
  read -r want _ < in.sum
  read -r by_gzip _ < gzip_d.sum
  read -r by_kel _ < kel_d.sum
  [ "$by_gzip" = "$want" ] || err "gzip -d did not restore the stream of kel c $mode"
  [ "$by_kel" = "$want" ] || err "kel d did not restore the stream of kel c $mode"
done
exit $fail

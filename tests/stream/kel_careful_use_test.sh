#!/usr/bin/env bash
# tests/stream/kel_careful_use_test.sh - `kel c` and `kel d` where a careful user looks: files without a known
# suffix, missing files, a terminal on standard input, existing outputs, failed writes, links, options that do not
# apply to the format, and option errors (one line and a pointer to --help, not the whole usage).
#
# Usage: kel_careful_use_test.sh KEL DATA_DIR. Exits 77 (skipped) only when gzip is missing outside CI.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/../support/tool_test_lib.sh"
kel=$1 data=$2
require_tools gzip bzip2

enter_scratch_dir

head -c 200000 "$data/alice29.txt" > text

# --- No known suffix: -c decodes by content (as gzip -dc), --format names the format; otherwise refused.
gzip -c text > nosuffix
bzip2 -c text > other.data
"$kel" d -c nosuffix | cmp -s - text || err "kel d -c nosuffix (gzip data)"
"$kel" d -c other.data | cmp -s - text || err "kel d -c other.data (bzip2 data)"
cp nosuffix data.bin
status=0
"$kel" d data.bin 2> msg || status=$?
[ $status -eq 1 ] && grep -q "data.bin: unknown suffix -- ignored" msg || err "kel d data.bin: $status $(cat msg)"
"$kel" d --format gzip data.bin || err "kel d --format gzip data.bin"
cmp -s data text || err "kel d --format gzip data.bin did not write data"
[ -e data.bin ] && err "kel d --format gzip data.bin kept its input"
printf 'plain text' > plain
status=0
"$kel" d -c plain > /dev/null 2> msg || status=$?
[ $status -eq 1 ] && grep -q "plain: unknown format" msg || err "kel d -c on plain text: $status $(cat msg)"

# --- A missing file is named as missing, with or without a suffix.
for f in nosuch nosuch.gz; do
  status=0
  "$kel" d $f 2> msg || status=$?
  [ $status -eq 1 ] && [ "$(cat msg)" = "kel: $f: No such file or directory" ] || err "kel d $f: $status $(cat msg)"
done

# --- Compressed data is not read from a terminal (script gives the command one).
if command -v script > /dev/null; then
  script -qec "$kel d" /dev/null < /dev/null > tty.out 2>&1
  grep -q "compressed data not read from a terminal" tty.out || err "kel d on a terminal: $(cat tty.out)"
fi

# --- One wording for an existing output, in both directions.
cp text t1 && gzip -k t1
cp text t2 && echo old > t2.gz
"$kel" c t2 2> msg.c
"$kel" d t1.gz 2> msg.d
[ "$(cat msg.c)" = "kel: t2.gz already exists; use --force to overwrite" ] || err "kel c over t2.gz: $(cat msg.c)"
[ "$(cat msg.d)" = "kel: t1 already exists; use --force to overwrite" ] || err "kel d over t1: $(cat msg.d)"

# --- A failed write names the output and says why.
gzip -c text > w.gz
status=0
"$kel" d -c w.gz > /dev/full 2> msg || status=$?
[ $status -eq 1 ] && [ "$(cat msg)" = "kel: stdout: write error: No space left on device" ] ||
  err "kel d -c > /dev/full: $status $(cat msg)"
status=0
"$kel" c -c text > /dev/full 2> msg || status=$?
[ $status -eq 1 ] && [ "$(cat msg)" = "kel: stdout: write error: No space left on device" ] ||
  err "kel c -c > /dev/full: $status $(cat msg)"

# --- Symbolic links and files with other links are refused without --force, in both directions, as gzip does.
cp text target && ln -s target sym && ln target hard
gzip -c text > z.gz && ln -s z.gz zsym.gz && ln z.gz zhard.gz
for run in "c sym" "c hard" "d zsym.gz" "d zhard.gz"; do
  status=0
  "$kel" $run 2> msg || status=$?
  [ $status -eq 1 ] || err "kel $run: status $status, want 1"
  grep -Eq "is a symbolic link -- ignored|has 1 other link -- ignored" msg || err "kel $run: $(cat msg)"
done
[ -L sym ] && [ -L zsym.gz ] && [ -e hard ] && [ -e zhard.gz ] || err "a refused link was removed"
for f in sym.gz hard.gz zsym zhard; do
  [ -e $f ] && err "a refused link was processed into $f"
done
"$kel" d -c zsym.gz | cmp -s - text || err "kel d -c through a symbolic link"
"$kel" d --force zsym.gz || err "kel d --force zsym.gz"
cmp -s zsym text && [ ! -e zsym.gz ] && [ -e z.gz ] ||
  err "kel d --force on a symbolic link did not decompress it and remove the link alone"

# --- Options that do not apply to the format, and unknown options: status 2, one line and the --help pointer.
for run in "c -f bzip2 --hc text" "c -f gzip --linked text" "c -f lz4 --fast text" "c -f lzo -T 2 text" \
           "c -f lzss -T 4 text" "c -f lzo -l 3 text" "c --bogus text" "d --bogus" "d --format lzo -T 2 x.lzo" \
           "d --format nosuch x"; do
  cmd=${run%% *}
  status=0
  "$kel" $run 2> msg || status=$?
  [ $status -eq 2 ] || err "kel $run: status $status, want 2"
  [ "$(wc -l < msg)" -eq 2 ] && [ "$(tail -n 1 msg)" = "Try 'kel $cmd --help' for more information." ] &&
    grep -q "^kel: $cmd: " msg || err "kel $run: $(cat msg)"
done
[ -e text ] && [ ! -e text.bz2 ] && [ ! -e text.lzo ] || err "a refused option touched the input"
# -T with zlib is accepted and written on one thread (one zlib stream cannot be split).
"$kel" c -f zlib -T 2 -c text | "$kel" d -c --format zlib | cmp -s - text || err "kel c -f zlib -T 2"

[ $fail -eq 0 ] && echo "kel c and kel d handle the careful user's cases"
exit $fail

#!/usr/bin/env bash
# tests/dc/deflate/kel_compress_test.sh - `kel c`: gzip -d restores what `kel c -f gzip` writes at every level, and
# the tool handles files as gzip does (suffixes, keeping and removing inputs, refusing to overwrite, stdin/stdout,
# exit statuses, no partial outputs).
#
# Usage: kel_compress_test.sh KEL DATA_DIR. Exits 77 (skipped) only when gzip is missing outside CI.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/../../support/tool_test_lib.sh"
kel=$1 data=$2
require_tools gzip

enter_scratch_dir

# A mix of text, binary and incompressible data, and the corner sizes.
cat "$data/alice29.txt" "$data/kppkn.gtb" > mixed
head -c 70000 "$data/fireworks.jpeg" >> mixed
: > empty
printf 'x' > one

for level in $(seq 0 29); do
  for f in mixed empty one; do
    cp "$f" "in.$level.$f"
    "$kel" c -f gzip -l "$level" "in.$level.$f" || err "kel c failed at level $level on $f"
    [ -e "in.$level.$f" ] && err "input kept without -k at level $level"
    gzip -d "in.$level.$f.gz" || err "gzip -d failed at level $level on $f"
    cmp -s "in.$level.$f" "$f" || err "gzip -d did not restore $f at level $level"
  done
done

# Formats by -f value: zlib and raw deflate (checked with Python's zlib when present), -c and -k.
if command -v python3 > /dev/null; then
  "$kel" c -f zlib -k -l 9 mixed || err "kel c -f zlib failed"
  python3 -c 'import sys,zlib; sys.exit(zlib.decompress(open("mixed.zz","rb").read()) != open("mixed","rb").read())' ||
    err "zlib output does not decompress"
  "$kel" c --format=deflate -c -1 mixed > raw.out || err "kel c -f deflate -c failed"
  python3 -c 'import sys,zlib; sys.exit(zlib.decompress(open("raw.out","rb").read(), -15) != open("mixed","rb").read())' ||
    err "raw deflate output does not decompress"
fi
[ -e mixed ] || err "-k or -c removed the input"

# Standard input to standard output, and "-".
"$kel" c < mixed | gzip -d | cmp -s - mixed || err "stdin to stdout"
"$kel" c -f gzip - < one | gzip -d | cmp -s - one || err "'-' as input"

# No overwrite without --force; the existing file stays as it was and the input stays too.
echo keep-me > exists.gz
cp one exists
"$kel" c exists 2> msg
rc=$?
[ $rc -eq 1 ] || err "overwrite refusal returned $rc, not 1"
grep -q "already exists" msg || err "overwrite refusal message: $(cat msg)"
[ "$(cat exists.gz)" = keep-me ] || err "existing output was changed"
[ -e exists ] || err "input removed although nothing was written"
"$kel" c --force exists || err "--force did not overwrite"
cp one exists
"$kel" c -F exists || err "-F did not overwrite"
gzip -dc exists.gz | cmp -s - one || err "forced output is wrong"

# Errors: a missing file fails with status 1 while the other files are still done; usage errors give 2.
cp one other
"$kel" c missing other 2> msg
rc=$?
[ $rc -eq 1 ] || err "missing file returned $rc, not 1"
grep -q "missing" msg || err "missing-file message: $(cat msg)"
[ -e other.gz ] || err "the file after a failed one was not compressed"
"$kel" c -l 30 one 2> /dev/null
[ $? -eq 2 ] || err "level 30 is not a usage error"
"$kel" c --bogus one 2> /dev/null
[ $? -eq 2 ] || err "unknown option is not a usage error"
"$kel" c -f nosuchformat 2> /dev/null
[ $? -eq 2 ] || err "'-f NAME' with an unknown name is not a usage error"

# A mistyped format never falls back to --force: the existing output and the input stay untouched.
printf 'report' > report
echo keep-me > report.gz
"$kel" c -f bz2 report 2> msg
rc=$?
[ $rc -eq 2 ] || err "'-f bz2' returned $rc, not 2"
grep -q "unknown format 'bz2'" msg || err "mistyped format message: $(cat msg)"
[ "$(cat report.gz)" = keep-me ] || err "a mistyped format overwrote report.gz"
[ "$(cat report)" = report ] || err "a mistyped format removed report"
"$kel" c -f report 2> /dev/null
[ $? -eq 2 ] || err "'-f FILE' is not a usage error"
[ -e report ] || err "'-f FILE' removed the file"
"$kel" c -f 2> /dev/null
[ $? -eq 2 ] || err "'-f' without a name is not a usage error"

# A file that already has the suffix is left alone unless forced; directories are refused.
cp one twice.gz
"$kel" c twice.gz 2> /dev/null && err "compressed a .gz file without -f"
mkdir adir
"$kel" c adir 2> /dev/null && err "compressed a directory"
leftovers=$(ls -a | grep -c 'kel-') || true
[ "$leftovers" -eq 0 ] || err "temporary files left behind: $(ls -a | grep kel-)"

[ $fail -eq 0 ] && echo "kel c: all checks passed"
exit $fail

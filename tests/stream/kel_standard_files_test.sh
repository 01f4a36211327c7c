#!/usr/bin/env bash
# tests/stream/kel_standard_files_test.sh - `kel d` on files as the standard tools write them, checked against what
# those tools do with the same files: lzop files of several entries (concatenated, and `lzop -c a b`), stored names
# with directories, legacy and skippable-only LZ4 files, data after the end of any format, zero padding, and the
# modification time of the output.
#
# Usage: kel_standard_files_test.sh KEL DATA_DIR. Exits 77 (skipped) only when a tool is missing outside CI.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/../support/tool_test_lib.sh"
kel=$1 data=$2
require_tools gzip bzip2 lz4 lzop

enter_scratch_dir

# expect STATUS WANT STDERR-FILE WANT-STDERR WHAT: the status and the exact standard error of a run.
expect() {
  [ "$1" -eq "$2" ] || err "$5: status $1, want $2 ($(cat "$3"))"
  [ "$(cat "$3")" = "$4" ] || err "$5: stderr '$(cat "$3")', want '$4'"
}

mkdir src
head -c 300000 "$data/alice29.txt" > src/a
cp "$data/kppkn.gtb" src/b
touch -d 2001-02-03 src/a
touch -d 2004-05-06 src/b

# --- lzop: two files concatenated. lzop -d writes the first entry to the file's own name and the second to the
# name stored in it, with a warning (status 2); -c writes both, one after the other, with another warning.
(cd src && lzop -q a b) || err "lzop a b"
cat src/a.lzo src/b.lzo > ab.lzo
mkdir theirs ours
cp ab.lzo theirs/ && cp ab.lzo ours/
(cd theirs && lzop -d ab.lzo 2> /dev/null)
status=0
(cd ours && "$kel" d -k ab.lzo 2> ../msg) || status=$?
expect $status 2 msg "kel: ab.lzo: warning: multipart archive -- restoring file names" "kel d ab.lzo"
for f in ab b; do
  cmp -s ours/$f theirs/$f || err "kel d ab.lzo: $f differs from what lzop -d writes"
done
[ "$(ls ours | tr '\n' ' ')" = "$(ls theirs | tr '\n' ' ')" ] || err "kel d ab.lzo wrote $(ls ours), lzop $(ls theirs)"
[ "$(stat -c %Y ours/ab)" = "$(stat -c %Y src/a)" ] || err "kel d ab.lzo: the first entry lost its stored time"
[ "$(stat -c %Y ours/b)" = "$(stat -c %Y src/b)" ] || err "kel d ab.lzo: the second entry lost its stored time"
status=0
"$kel" d -c ab.lzo > ab.out 2> msg || status=$?
expect $status 2 msg "kel: ab.lzo: warning: this is a multipart archive" "kel d -c ab.lzo"
lzop -dc ab.lzo 2> /dev/null | cmp -s - ab.out || err "kel d -c ab.lzo differs from lzop -dc"
# Through a pipe the entries are counted the same way.
status=0
"$kel" d < ab.lzo > ab.out 2> msg || status=$?
expect $status 2 msg "kel: stdin: warning: this is a multipart archive" "kel d < ab.lzo"
cat src/a src/b | cmp -s - ab.out || err "kel d < ab.lzo does not write both entries"

# --- lzop -c a b: the multipart flag sends the first entry to its stored name as well.
rm -rf theirs ours && mkdir theirs ours
(cd src && lzop -c a b) > theirs/m.lzo || err "lzop -c a b"
cp theirs/m.lzo ours/
(cd theirs && lzop -d m.lzo 2> /dev/null)
status=0
(cd ours && "$kel" d m.lzo 2> ../msg) || status=$?
expect $status 2 msg "kel: m.lzo: warning: multipart archive -- restoring file names" "kel d m.lzo"
rm theirs/m.lzo
[ "$(ls ours | tr '\n' ' ')" = "$(ls theirs | tr '\n' ' ')" ] || err "kel d m.lzo wrote $(ls ours), lzop $(ls theirs)"
for f in a b; do
  cmp -s ours/$f src/$f || err "kel d m.lzo does not restore $f"
done
# An entry whose output exists is skipped (status 1) and the archive is kept; the other entry is still written.
rm ours/b
(cd src && lzop -c a b) > ours/m.lzo
status=0
(cd ours && "$kel" d m.lzo 2> ../msg) || status=$?
[ $status -eq 1 ] || err "kel d m.lzo over an existing entry: status $status, want 1"
grep -q "a already exists" msg || err "kel d m.lzo over an existing entry: $(cat msg)"
cmp -s ours/b src/b || err "kel d m.lzo over an existing entry did not write the other one"
[ -e ours/m.lzo ] || err "kel d m.lzo removed an archive whose entry it skipped"

# Not even --force lets a stored name replace the archive being read (it would be removed at the end).
printf 'inner' > s.lzo
"$kel" c -f lzo -c s.lzo > s.part
cat s.part s.part > s.lzo
status=0
"$kel" d --force s.lzo 2> msg || status=$?
[ $status -eq 1 ] && grep -q "would replace the input -- skipped" msg || err "kel d --force s.lzo: $status $(cat msg)"
cmp -s s.lzo <(cat s.part s.part) || err "kel d --force s.lzo replaced or removed its input"

# --- Stored names with directories are refused unless -P; lzop -P writes them.
rm -rf ours && mkdir -p ours/d/sub
cp src/b ours/d/sub/x
(cd ours && lzop -q -P -c d/sub/x > p.lzo && rm -r d && cat p.lzo p.lzo > pp.lzo && rm p.lzo)
status=0
(cd ours && "$kel" d -k pp.lzo 2> ../msg) || status=$?
[ $status -eq 1 ] || err "kel d of an entry named d/sub/x: status $status, want 1"
grep -q "d/sub/x: stored name has a directory" msg || err "refused directory name: $(cat msg)"
[ -e ours/d ] && err "kel d created d/ without -P"
mkdir -p ours/d/sub
rm -f ours/pp
status=0
(cd ours && "$kel" d -k -P pp.lzo 2> /dev/null) || status=$?
[ $status -eq 2 ] || err "kel d -P pp.lzo: status $status, want 2 (the multipart warning)"
cmp -s ours/d/sub/x src/b || err "kel d -P does not restore d/sub/x"

# --- LZ4: the legacy format and files of skippable frames only decode as lz4 -d decodes them.
lz4 -q -l -c src/a > legacy.lz4 || err "lz4 -l"
"$kel" d -c legacy.lz4 | cmp -s - src/a || err "kel d does not restore a legacy lz4 file"
cat legacy.lz4 legacy.lz4 > legacy2.lz4
lz4 -dc legacy2.lz4 | cmp -s - <("$kel" d -c legacy2.lz4) || err "two legacy files differ from lz4 -dc"
printf '\x50\x2a\x4d\x18\x05\x00\x00\x00hello\x5f\x2a\x4d\x18\x00\x00\x00\x00' > skip.lz4
[ "$(lz4 -dc skip.lz4 | wc -c)" -eq 0 ] || err "lz4 -dc skip.lz4 is not empty"
status=0
"$kel" d -k skip.lz4 2> msg || status=$?
expect $status 0 msg "" "kel d skip.lz4"
[ -f skip ] && [ ! -s skip ] || err "kel d skip.lz4 did not write an empty file"

# --- Data after the end: gzip's warning and status 2 for every format, the output written and the input removed
# as gzip does; zero padding after gzip, bzip2 and lzop data is accepted silently.
gzip -c src/a > g.gz && printf 'garbage' >> g.gz
status=0
gzip -d g.gz 2> /dev/null || status=$?
[ $status -eq 2 ] && [ ! -e g.gz ] || err "gzip no longer removes the input after trailing garbage ($status)"
for fmt in gzip zlib deflate lz4 bzip2 lzo lzss; do
  "$kel" c -f $fmt -c src/a > junk.$fmt
  printf 'garbage' >> junk.$fmt
  status=0
  "$kel" d --format $fmt junk.$fmt 2> msg || status=$?
  expect $status 2 msg "kel: junk.$fmt: decompression OK, trailing garbage ignored" "kel d junk.$fmt"
  cmp -s junk src/a || err "kel d junk.$fmt: wrong output"
  [ -e junk.$fmt ] && err "kel d junk.$fmt kept the input (gzip removes it)"
  rm -f junk
done
for fmt in gz bz2 lzo; do
  case $fmt in gz) gzip -c src/a ;; bz2) bzip2 -c src/a ;; lzo) lzop -c src/a ;; esac > padded.$fmt
  head -c 1000 /dev/zero >> padded.$fmt
  status=0
  "$kel" d -c padded.$fmt > padded.out 2> msg || status=$?
  expect $status 0 msg "" "kel d -c padded.$fmt"
  cmp -s padded.out src/a || err "kel d -c padded.$fmt: wrong output"
done

# --- The output's time: as gzip -d, the compressed file's, whatever the gzip header stores (lzop restores the
# stored time, checked above).
gzip -c src/a > stamped.gz
touch -d 2010-01-01 stamped.gz
"$kel" d stamped.gz || err "kel d stamped.gz"
gzip -c src/a > gzip-made.gz
touch -d 2010-01-01 gzip-made.gz
gzip -d gzip-made.gz
[ "$(stat -c %Y stamped)" = "$(stat -c %Y gzip-made)" ] || err "kel d stamped.gz: not the time gzip -d gives"
[ "$(stat -c %Y stamped)" = "$(date -d 2010-01-01 +%s)" ] || err "kel d stamped.gz: not the input's time"

[ $fail -eq 0 ] && echo "kel d reads the standard tools' files as they do"
exit $fail

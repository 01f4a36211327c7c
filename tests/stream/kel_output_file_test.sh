#!/usr/bin/env bash
# tests/stream/kel_output_file_test.sh - the output files of `kel c` and `kel d`, every format: they take the
# input's permissions and times, an existing output is left byte for byte as it was (unless --force), and a failed
# run leaves neither a temporary file nor a partial output, and keeps its input.
#
# Usage: kel_output_file_test.sh KEL
set -uo pipefail
kel=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
fail=0
err() { echo "$*"; fail=1; }

seq 1 20000 > original
for f in gzip:gz zlib:zz deflate:deflate lz4:lz4 bzip2:bz2 lzo:lzo lzss:lzss; do
  fmt=${f%%:*} suf=${f#*:}
  cp original "in-$fmt"
  chmod 640 "in-$fmt"
  touch -d '2003-04-05 06:07:08' "in-$fmt"
  "$kel" c -f "$fmt" "in-$fmt" || { err "kel c -f $fmt failed"; continue; }
  out="in-$fmt.$suf"
  [ "$(stat -c %a "$out")" = 640 ] || err "kel c -f $fmt: mode $(stat -c %a "$out"), not 640"
  [ "$(stat -c %Y "$out")" = "$(date -d '2003-04-05 06:07:08' +%s)" ] || err "kel c -f $fmt: the input's time is lost"
  chmod 604 "$out"
  touch -d '2005-06-07 08:09:10' "$out"
  "$kel" d "$out" || { err "kel d $out failed"; continue; }
  cmp -s original "in-$fmt" || err "kel d $out: content differs"
  [ "$(stat -c %a "in-$fmt")" = 604 ] || err "kel d $out: mode $(stat -c %a "in-$fmt"), not 604"
  # lzop stores the original time and restores it; the other formats give the compressed file's time, as gzip -d.
  want='2005-06-07 08:09:10'
  [ "$fmt" = lzo ] && want='2003-04-05 06:07:08'
  [ "$(stat -c %Y "in-$fmt")" = "$(date -d "$want" +%s)" ] || err "kel d $out: time $(stat -c %y "in-$fmt")"

  # An existing output survives untouched without --force, and the input stays.
  "$kel" c -k -f "$fmt" "in-$fmt"
  echo keep > "in-$fmt.$suf"
  "$kel" c -f "$fmt" "in-$fmt" 2>/dev/null && err "kel c -f $fmt replaced an existing output"
  [ "$(cat "in-$fmt.$suf")" = keep ] || err "kel c -f $fmt: the existing output changed"
  [ -f "in-$fmt" ] || err "kel c -f $fmt: the input went though nothing was written"
  "$kel" c -F -f "$fmt" "in-$fmt" || err "kel c -F -f $fmt failed"
  echo keep > "in-$fmt"
  "$kel" d "in-$fmt.$suf" 2>/dev/null && err "kel d $out replaced an existing output"
  [ "$(cat "in-$fmt")" = keep ] || err "kel d $out: the existing output changed"

  # A corrupt input: status 1, no output, no temporary file, the input kept.
  rm -f "in-$fmt"
  head -c 300 "in-$fmt.$suf" > "cut-$fmt.$suf"
  "$kel" d "cut-$fmt.$suf" 2>/dev/null && err "kel d accepted a truncated $fmt file"
  [ -e "cut-$fmt" ] && err "kel d cut-$fmt.$suf left a partial output"
  [ -f "cut-$fmt.$suf" ] || err "kel d cut-$fmt.$suf removed its input"
done
leftovers=$(ls | grep -- '\.kel-' || true)
[ -z "$leftovers" ] || err "temporary files left behind: $leftovers"

# A directory that cannot be written: the input stays, nothing is created.
mkdir ro && cp original ro/x && chmod 555 ro
if [ "$(id -u)" != 0 ]; then
  "$kel" c ro/x 2>/dev/null && err "kel c wrote into a read-only directory"
  [ -f ro/x ] && [ -z "$(ls ro | grep -v '^x$')" ] || err "kel c in a read-only directory changed it"
fi
chmod 755 ro

[ $fail -eq 0 ] && echo "outputs keep modes and times, existing files and inputs survive, failures leave nothing"
exit $fail

#!/usr/bin/env bash
# tests/ch/regexp/kel_pattern_error_test.sh - how kel shows a pattern that does not compile: the status, its
# explanation and the offset on the first line, then the pattern with a caret under the offending character, even
# after multibyte text or a tab; exit status 1 and nothing on standard output.
#
# Usage: kel_pattern_error_test.sh KEL
set -uo pipefail
kel=$1
fail=0

# expect PATTERN FIRST_LINE PATTERN_LINE CARET_LINE
expect() {
  local out err status
  out=$("$kel" regex --dump "$1" 2>/tmp/kel_pattern_error.$$)
  status=$?
  err=$(cat /tmp/kel_pattern_error.$$)
  rm -f /tmp/kel_pattern_error.$$
  local want
  want=$(printf '%s\n  %s\n  %s' "$2" "$3" "$4")
  if [ "$status" -ne 1 ] || [ -n "$out" ] || [ "$err" != "$want" ]; then
    echo "pattern '$1': status $status, stdout '$out', stderr:"
    echo "$err"
    echo "wanted:"
    echo "$want"
    fail=1
  fi
}

expect 'a\hb' 'kel: regex: kelStatusRegExpBadEscape (malformed escape in pattern) at offset 1' 'a\hb' ' ^'
expect 'ab(c' 'kel: regex: kelStatusRegExpBadGroup (unbalanced or malformed group in pattern) at offset 4' \
  'ab(c' '    ^'
expect '[z-a]' 'kel: regex: kelStatusRegExpBadClass (malformed character class in pattern) at offset 1' '[z-a]' ' ^'
# Two-byte characters take one column each: the caret stands under the escape, not two columns to its right.
expect 'éé\R' 'kel: regex: kelStatusRegExpBadEscape (malformed escape in pattern) at offset 4' 'éé\R' '  ^'
# A tab is shown as '.', so it cannot move the pattern away from the caret.
expect "$(printf 'a\tb**')" \
  'kel: regex: kelStatusRegExpBadQuantifier (malformed quantifier in pattern) at offset 4' 'a.b**' '    ^'

# An option string is not the pattern: no caret under it.
err=$("$kel" regex --dump --options q 'abc' 2>&1)
[ "$err" = 'kel: regex: kelStatusRegExpBadOption (unknown pattern option) at offset 0' ] ||
  { echo "bad option letter: $err"; fail=1; }

[ $fail -eq 0 ] && echo "pattern errors are shown with their caret"
exit $fail

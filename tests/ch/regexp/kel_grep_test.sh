#!/usr/bin/env bash
# tests/ch/regexp/kel_grep_test.sh - `kel grep` on lines whose search exceeds the match limit.
#
# Usage: kel_grep_test.sh KEL
# The pathological line is a long run of 'a' before "!b": `(a+)+b` fails on it only after trying every way of
# splitting the run, at every start position, which no default match limit covers, while the 'b' later on the line
# leaves no shortcut that could reject the line without backtracking. Such a line must be reported with its file and
# line number and skipped; the lines after it, and the files after it, are still searched; the exit status is 2.
set -eu
kel=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

bad="$(printf 'a%.0s' $(seq 60))!b"
printf 'first apple\n%s\nplain line\nlast apple\n' "$bad" > "$work/one.txt"
printf 'pear\napple pie\n' > "$work/two.txt"
pattern='(a+)+b|apple'

# Plain listing with line numbers: lines 1 and 4 of one.txt, line 2 of two.txt.
status=0
"$kel" grep -n "$pattern" "$work/one.txt" "$work/two.txt" > "$work/out" 2> "$work/err" || status=$?
[ "$status" -eq 2 ] || fail "exit status $status after a line over the match limit, want 2"
printf '%s\n' "$work/one.txt:1:first apple" "$work/one.txt:4:last apple" "$work/two.txt:2:apple pie" |
    cmp -s - "$work/out" || fail "lines after the pathological one were not all searched: $(cat "$work/out")"
grep -q "^kel: $work/one.txt:2: match limit exceeded" "$work/err" ||
    fail "stderr does not name the file and line: $(cat "$work/err")"
[ "$(wc -l < "$work/err")" -eq 1 ] || fail "the line is to be reported once: $(cat "$work/err")"

# -c counts the selected lines of the rest of the file; -v does not select the line it could not search.
status=0
"$kel" grep -c "$pattern" "$work/one.txt" > "$work/out" 2> /dev/null || status=$?
[ "$status" -eq 2 ] && [ "$(cat "$work/out")" = 2 ] || fail "-c: status $status, count $(cat "$work/out"), want 2 and 2"
status=0
"$kel" grep -v "$pattern" "$work/one.txt" > "$work/out" 2> /dev/null || status=$?
[ "$status" -eq 2 ] && [ "$(cat "$work/out")" = "plain line" ] || fail "-v: status $status, lines $(cat "$work/out")"

# Standard input is named as such, and -o goes on after the line too.
status=0
"$kel" grep -o "$pattern" < "$work/one.txt" > "$work/out" 2> "$work/err" || status=$?
[ "$status" -eq 2 ] && [ "$(cat "$work/out")" = "$(printf 'apple\napple')" ] || fail "-o: status $status"
grep -q ":2: match limit exceeded" "$work/err" || fail "stdin: stderr lacks the line number: $(cat "$work/err")"

# Without a pathological line the statuses stay those of grep: 0 with a selected line, 1 without.
"$kel" grep apple "$work/two.txt" > /dev/null || fail "status for a selected line is not 0"
status=0
"$kel" grep plum "$work/two.txt" > /dev/null || status=$?
[ "$status" -eq 1 ] || fail "status $status with no line selected, want 1"

echo "kel grep reports lines over the match limit and searches on"

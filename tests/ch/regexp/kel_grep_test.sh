#!/usr/bin/env bash
# tests/ch/regexp/kel_grep_test.sh - `kel grep` on lines whose search exceeds the match limit, and grep -o.
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

# -o takes every match from the whole line: `^` only at the line start, `\b` and look-behinds with the bytes before
# the match in view, and empty matches print nothing. GNU grep -oP is the reference where it has PCRE.
[ "$(echo 'CHAPTER I' | "$kel" grep -o '^[A-Z]')" = C ] || fail "-o '^[A-Z]' matches after the line start"
[ "$(echo 'aaa' | "$kel" grep -o '^a' | wc -l)" -eq 1 ] || fail "-o '^a' on aaa"
[ "$(echo 'xab ab' | "$kel" grep -o '\bab')" = ab ] || fail "-o '\bab' takes the word boundary at a match end"
[ "$(echo 'aab' | "$kel" grep -o '(?<=a)a|b')" = "$(printf 'a\nb')" ] || fail "-o look-behind"
[ "$(echo 'abc' | "$kel" grep -c -o 'x*')" = 1 ] || fail "-o with only empty matches selects the line"
[ -z "$(echo 'abc' | "$kel" grep -o 'x*')" ] || fail "-o prints empty matches"
if echo a | grep -qP a 2> /dev/null; then
    printf 'CHAPTER I. Down the Rabbit-Hole\n\nAlice was beginning to get very tired of sitting by her\n' > "$work/t.txt"
    printf 'sister on the bank, and of having nothing to do: once or twice she had\n  peeped  into\n' >> "$work/t.txt"
    printf 'caf\303\251 na\303\257ve \342\202\254uro\n' >> "$work/t.txt"
    for p in '^.' '^\w+' '\b\w' '\w\b' '(?<=\s)\w+' '(?<!\w)t\w*' '\B.\B' 'e$' '.$' '(?<=^..).' '^\s*\S' 'a|(b)' \
             '(\w)\1' '\Gx'; do
        "$kel" grep -o -n "$p" "$work/t.txt" > "$work/kel.out" || true
        grep -o -n -P "$p" "$work/t.txt" > "$work/grep.out" || true
        cmp -s "$work/kel.out" "$work/grep.out" || fail "-o '$p' differs from grep -oP: $(diff "$work/kel.out" "$work/grep.out" | head -5)"
    done
fi

# Standard input is labelled as grep labels it when names are shown.
printf 'apple\n' > "$work/three.txt"
[ "$(printf 'apple\n' | "$kel" grep apple - "$work/three.txt" | head -1)" = "(standard input):apple" ] ||
    fail "standard input is not labelled (standard input)"
echo "kel grep reports lines over the match limit and searches on"

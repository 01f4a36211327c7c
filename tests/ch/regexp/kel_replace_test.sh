#!/usr/bin/env bash
# tests/ch/regexp/kel_replace_test.sh - `kel replace` against sed: every match of long lines, empty lines, template
# escapes, empty matches in UTF-8 text, and lines over the match limit.
#
# Usage: kel_replace_test.sh KEL
# The sed expressions are chosen so that POSIX leftmost-longest and Perl leftmost-first matching agree.
set -eu
kel=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# A line with more matches than any fixed record array holds: all of them are replaced.
head -c 100000 /dev/zero | tr '\0' a > "$work/a.txt"
echo >> "$work/a.txt"
"$kel" replace -g a b "$work/a.txt" > "$work/out"
[ "$(tr -d 'b\n' < "$work/out" | wc -c)" -eq 0 ] && [ "$(tr -d 'a\n' < "$work/out" | wc -c)" -eq 100000 ] ||
    fail "-g left $(tr -d 'b\n' < "$work/out" | wc -c) matches of a 100000-match line"
"$kel" replace -g '' - "$work/a.txt" | tr -d 'a\n' | wc -c | grep -qx 100001 || fail "-g '' on 100000 bytes"

# The differential part: the same text through kel and sed, with and without g.
printf 'The quick brown fox\n\n  jumps over 12 lazy dogs.\nabc\n\nlast line 7' > "$work/t.txt"
while IFS='|' read -r pattern template sedexpr; do
    for g in "" g; do
        "$kel" replace ${g:+-g} -- "$pattern" "$template" "$work/t.txt" > "$work/kel.out"
        sed -E "s/$sedexpr/$g" "$work/t.txt" > "$work/sed.out" || fail "sed s/$sedexpr/$g"
        cmp -s "$work/kel.out" "$work/sed.out" ||
            fail "replace ${g:+-g} '$pattern' '$template' differs from sed: $(diff "$work/kel.out" "$work/sed.out" | head -6)"
    done
done <<'EOF2'
.*|X|.*/X
^|> |^/> 
$|<|$/<
x*|-|x*/-
b*|-|b*/-
[0-9]*|#|[0-9]*/#
o|0|o/0
\b|!|\b/!
[aeiou]+|<$&>|[aeiou]+/<&>
(\w+) (\w+)|$2 $1|(\w+) (\w+)/\2 \1
\s+|_|\s+/_
EOF2

# The template's escapes: a backslash makes the next byte literal; a lone $ and a final backslash are literal.
check() { [ "$(echo 'a b' | "$kel" replace ' ' "$1")" = "$2" ] || fail "template '$1' gives '$(echo 'a b' | "$kel" replace ' ' "$1")', want '$2'"; }
check '\\' 'a\b'
check '\$' 'a$b'
check '\$1' 'a$1b'
check 'US$' 'aUS$b'
check '$ x' 'a$ xb'
check 'x\' 'ax\b'
check '\&' 'a&b'
check '[$&]' 'a[ ]b'
echo 'a b' | "$kel" replace ' ' '$0' > /dev/null 2>&1 && fail "\$0 must be refused"

# An empty match goes between characters, never between the bytes of one (as Python's re on the decoded text;
# sed does the same in a UTF-8 locale, which a test machine may not have).
printf 'caf\303\251 \342\202\254\360\237\230\200\n' > "$work/u.txt"
want=$(printf -- '-c-a-f-\303\251- -\342\202\254-\360\237\230\200-')
[ "$("$kel" replace -g 'x*' - "$work/u.txt")" = "$want" ] || fail "empty matches split UTF-8 characters"
[ "$(python3 -c 'import re,sys; sys.stdout.write(re.sub("x*", "-", open(sys.argv[1], encoding="utf-8").read().rstrip("\n")))' "$work/u.txt")" = "$want" ] ||
    fail "the UTF-8 expectation is not Python's"

# A line over the match limit: reported with file and line, written unchanged, the rest still replaced, status 2.
bad="$(printf 'a%.0s' $(seq 60))!b"
printf 'one\n%s\nthree one\n' "$bad" > "$work/lim.txt"
for g in "" -g; do
    status=0
    "$kel" replace $g '(a+)+b|one' X "$work/lim.txt" > "$work/out" 2> "$work/err" || status=$?
    [ "$status" -eq 2 ] || fail "replace $g: status $status after a line over the match limit, want 2"
    printf 'X\n%s\nthree X\n' "$bad" | cmp -s - "$work/out" || fail "replace $g: output $(cat "$work/out")"
    [ "$(cat "$work/err")" = "kel: $work/lim.txt:2: match limit exceeded; line left unchanged" ] ||
        fail "replace $g: stderr $(cat "$work/err")"
done
echo "kel replace agrees with sed"

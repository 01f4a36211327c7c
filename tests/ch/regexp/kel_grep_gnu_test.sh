#!/usr/bin/env bash
# tests/ch/regexp/kel_grep_gnu_test.sh - `kel grep` against GNU grep, option by option, on the bundled texts and on
# files made to be awkward: empty lines, no final newline, CRLF, NUL bytes, a line longer than the read block,
# several files, directories and symbolic links. Standard output, the exit status and standard error (with grep's
# name for kel's) must be the same. Fixed strings are checked against grep, regular expressions against grep -P.
#
# Usage: kel_grep_gnu_test.sh KEL DATA_DIR
set -u
kel=$(realpath "$1")
data=$(realpath "$2")
. "$(dirname "$0")/../../support/tool_test_lib.sh"
require_tools grep
enter_scratch_dir
out=$(mktemp -d)
trap 'rm -rf "$work" "$out"' EXIT
export LC_ALL=C.UTF-8
havePcre=0
if echo a | grep -qP a 2> /dev/null; then havePcre=1; fi

cp "$data/alice29.txt" alice.txt
head -c 300000 "$data/lcet10.txt" > lcet.txt
: > empty.txt
printf '\n\nthe cat\n\n\nAlice\n\n' > blank.txt
printf 'first the line\nlast line the' > nonl.txt
printf 'the cat\r\nno dog\r\nThe end the\r\n\r\n' > crlf.txt
printf 'the start\nnul \000 here the\nthe end\n' > nul.bin
{
    printf 'short the\n'
    head -c 1500000 /dev/zero | tr '\0' 'x'
    printf ' the needle\nAlice after\n'
    head -c 700000 /dev/zero | tr '\0' 'y'
} > long.txt
mkdir -p tree/sub tree/sub/deeper
printf 'the tree top\nnothing\n' > tree/top.txt
printf 'Alice in sub\n' > tree/sub/b.txt
printf 'deep the\n' > tree/sub/deeper/c.txt
ln -s ../nonl.txt tree/link.txt
files="alice.txt lcet.txt empty.txt blank.txt nonl.txt crlf.txt nul.bin long.txt"

checks=0
# same PEER ARGS...: `kel grep ARGS` and `PEER ARGS` (PEER is grep or grep-P) agree on stdout, stderr and status.
same() {
    local peer=$1
    shift
    local ks=0 ps=0
    # The outputs go outside the searched tree: grep refuses to read its own output file.
    "$kel" grep "$@" > "$out/kel.out" 2> "$out/kel.err" < /dev/null || ks=$?
    if [ "$peer" = grep-P ]; then
        grep -P "$@" > "$out/peer.out" 2> "$out/peer.err" < /dev/null || ps=$?
    else
        grep "$@" > "$out/peer.out" 2> "$out/peer.err" < /dev/null || ps=$?
    fi
    sed -i 's/^grep: /kel: /' "$out/peer.err"
    checks=$((checks + 1))
    if [ "$ks" != "$ps" ]; then
        err "status $ks, grep $ps: kel grep $*"
    elif ! cmp -s "$out/kel.out" "$out/peer.out"; then
        err "stdout differs: kel grep $*: $(diff "$out/kel.out" "$out/peer.out" | head -4)"
    elif ! cmp -s "$out/kel.err" "$out/peer.err"; then
        err "stderr differs: kel grep $*: $(diff "$out/kel.err" "$out/peer.err" | head -4)"
    fi
}

# Fixed strings (plain patterns run through the byte search) with every output option.
for opts in "" -v -c -n -o -i -w -x -l -L -h -H -q -cv -nv -oi -wi -ci -ni -ow -xi -F -Fi -Fw -Fx -Fv -Fo -c\ -h; do
    for p in Alice the "" zzzz "the end" "Alice said"; do
        # GNU grep prints nothing at all for -c -v with an empty pattern (it sees that no line can be selected
        # and reads no file), where kel prints a count of 0 for each file.
        [ "$opts" = -cv ] && [ -z "$p" ] && continue
        # shellcheck disable=SC2086
        same grep $opts -e "$p" $files
    done
    # shellcheck disable=SC2086
    same grep $opts the alice.txt
    # shellcheck disable=SC2086
    same grep $opts the nonl.txt
done
for opts in "" -n -o -c; do
    # shellcheck disable=SC2086
    same grep $opts -F -e Alice -e 'the Queen' -e 'Mock Turtle' $files
    # shellcheck disable=SC2086
    same grep $opts -e Alice -e Hatter alice.txt
    # Several strings without case, dense and sparse together: each string's next occurrence is kept between lines.
    # shellcheck disable=SC2086
    same grep $opts -i -F -e alice -e 'MOCK turtle' -e the -e 'x' $files
    # shellcheck disable=SC2086
    same grep $opts -F -e 'a.b' -e '(x)' -e '[' alice.txt blank.txt
    # shellcheck disable=SC2086
    same grep $opts "$(printf 'Alice\nHatter')" alice.txt
done

# Regular expressions, against grep -P: patterns searched over whole blocks, patterns holding a string every match
# holds (only the lines with it are searched), and patterns that must be searched
# line by line (they could match a newline), with the line-numbering and inverting options that skip lines.
if [ "$havePcre" = 1 ]; then
    for p in 'Alice\w+' '^$' '^.{20,40}$' '[A-Z][a-z]+ [A-Z][a-z]+' '\w+ing\b' 'the$' '^the' '\s+$' '[^a-z]{6}' \
             'a|^T' '$' '^' '(?<!\w)said' '\bthe\b' 'x*' '\d+' '(?i)alice' 'e\r$' '\W{4}' '\btea\B' '(\w)\1' \
             'Alic?e' 'Hat+er' 'Qu?ee{1,2}n' '\.\.\.' 'said\b' 'A[lL]ice'; do
        for opts in "" -v -c -n -nv -o -on -i -w -x -l -L -cv; do
            # shellcheck disable=SC2086
            same grep-P $opts -e "$p" $files
        done
    done
fi

# Binary files: the message instead of lines, unless -a; counting and listing go on as for text.
for opts in "" -a -c -n -o -v -l -L -an -I -Ic; do
    # shellcheck disable=SC2086
    same grep $opts the nul.bin
    # shellcheck disable=SC2086
    same grep $opts the nul.bin nonl.txt
done

# Directories: an error without -r; -r walks them (symbolic links inside skipped), -R follows links; the working
# directory without operands, its files named without "./".
same grep the tree nonl.txt
same grep -s the tree nonl.txt
same grep -r the tree
same grep -r the tree/
same grep -R the tree
same grep -rh the tree
same grep -rc the tree
same grep -rl the tree nonl.txt
same grep -r the tree/top.txt
same grep -r the tree/link.txt
cd tree
same grep -r the
same grep -R -n the
same grep -r the .
same grep -rL Alice
cd ..

# Missing files: a message, the others still searched, status 2; -s only silences the message.
same grep the missing.txt nonl.txt
same grep -s the missing.txt nonl.txt
same grep -q the missing.txt nonl.txt
same grep -L zzz missing.txt nonl.txt

# Colours as GNU grep paints them, on every output form.
for opts in "" -n -H -Hn -o -on -c -l -v -i -w -x -h -F; do
    # shellcheck disable=SC2086
    same grep --color=always $opts the nonl.txt crlf.txt blank.txt
    # shellcheck disable=SC2086
    same grep --color=always $opts the alice.txt
done
same grep --color=never -n the nonl.txt crlf.txt
same grep --color=auto -n the nonl.txt crlf.txt

# Standard input: "(standard input)" as its name, "-" among files.
printf 'the one\nanother\n' > in.txt
[ "$("$kel" grep -H one < in.txt)" = "(standard input):the one" ] || err "-H on standard input"
[ "$("$kel" grep -c the - nonl.txt < in.txt)" = "$(grep -c the - nonl.txt < in.txt)" ] || err "- among files"

# Bad usage: status 2.
status=0
"$kel" grep > /dev/null 2>&1 || status=$?
[ "$status" = 2 ] || err "no pattern: status $status"
status=0
"$kel" grep --frobnicate x nonl.txt > /dev/null 2>&1 || status=$?
[ "$status" = 2 ] || err "unknown option: status $status"

echo "kel grep agrees with GNU grep in $checks comparisons"
exit $fail

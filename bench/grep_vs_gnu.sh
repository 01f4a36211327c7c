#!/usr/bin/env bash
# bench/grep_vs_gnu.sh - `kel grep` beside GNU grep (and grep -P for class-heavy patterns) in one run.
#
# Usage: bench/grep_vs_gnu.sh [KEL] [MEGABYTES] [RUNS]
#   KEL        the kel binary (default build/release/apps/kel)
#   MEGABYTES  size of the text searched (default 100): the bundled English texts repeated up to that size
#   RUNS       timed runs per command, the best kept (default 3)
#
# Every command writes its lines to a file: GNU grep stops at the first match when its output is /dev/null, which
# would time nothing. Both tools run in the caller's locale. The table prints the seconds of each side, kel / peer
# (the time ratio, below 1 when kel is faster) and its inverse, the speedup of kel.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
kel=${1:-$here/../build/release/apps/kel}
megabytes=${2:-100}
runs=${3:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

texts="$here/data/alice29.txt $here/data/asyoulik.txt $here/data/lcet10.txt $here/data/plrabn12.txt"
cat $texts > "$work/one"
want=$((megabytes * 1024 * 1024))
: > "$work/text"
while [ "$(stat -c %s "$work/text")" -lt "$want" ]; do cat "$work/one" >> "$work/text"; done
truncate -s "$want" "$work/text"
# The cut may leave half a line at the end; both tools see the same bytes.

# Seconds of the best of $runs runs of "$@" (output to a file, see above).
best() {
    local b="" t s e
    for _ in $(seq "$runs"); do
        s=$(date +%s.%N)
        "$@" > "$work/out" 2> /dev/null || true
        e=$(date +%s.%N)
        t=$(echo "$e - $s" | bc -l)
        if [ -z "$b" ] || [ "$(echo "$t < $b" | bc -l)" = 1 ]; then b=$t; fi
    done
    echo "$b"
}

printf '%-34s %-8s %9s %9s %9s %9s %8s\n' "pattern" "peer" "kel s" "peer s" "kel/peer" "speedup" "lines"
row() {
    local label=$1 peer=$2
    shift 2
    local k p lines
    k=$(best "$kel" grep "$@" "$work/text")
    lines=$(wc -l < "$work/out")
    case $peer in
        grep-P) p=$(best grep -P "$@" "$work/text") ;;
        grep-E) p=$(best grep -E "$@" "$work/text") ;;
        *) p=$(best grep "$@" "$work/text") ;;
    esac
    [ "$(wc -l < "$work/out")" = "$lines" ] || lines="$lines!=$(wc -l < "$work/out")"
    printf '%-34s %-8s %9.3f %9.3f %9.2f %9.2f %8s\n' "$label" "$peer" "$k" "$p" "$(echo "$k / $p" | bc -l)" \
        "$(echo "$p / $k" | bc -l)" "$lines"
}

row "Alice" grep Alice
row "the" grep the
row "-F -e Alice -e Hatter" grep -F -e Alice -e Hatter
row "-i alice" grep -i alice
row "-i the" grep -i the
row "-c the" grep -c the
row "Alice\\w+" grep-P 'Alice\w+'
row "Alice\\w+" grep-E 'Alice\w+'
row "[A-Z][a-z]+ [A-Z][a-z]+" grep-P '[A-Z][a-z]+ [A-Z][a-z]+'
row "\\w+ing\\b" grep-P '\w+ing\b'
row "^.{20,40}\$" grep-P '^.{20,40}$'

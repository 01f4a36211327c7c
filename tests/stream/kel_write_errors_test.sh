#!/usr/bin/env bash
# tests/stream/kel_write_errors_test.sh - the kel subcommands that print results treat a failed write to standard
# output as GNU tools do: message "kel: write error: <reason>", exit status 2, and no reading on.
#
# Usage: kel_write_errors_test.sh KEL DATA_DIR
# /dev/full fails every write with ENOSPC. A pipe whose reader has gone fails with EPIPE once SIGPIPE is ignored;
# the input is then an endless `yes`, so a command that reads on after the failure never ends and trips the
# timeout instead of passing.
set -eu
kel=$1 data=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

[ -w /dev/full ] || { echo "no /dev/full"; exit 77; }
text=$data/alice29.txt

# expect_write_error WHAT REASON STATUS STDERR-FILE
expect_write_error() {
    [ "$3" -eq 2 ] || fail "$1: status $3, want 2"
    [ "$(cat "$4")" = "kel: write error: $2" ] || fail "$1: stderr is '$(cat "$4")'"
}

while IFS= read -r cmd; do
    status=0
    eval "\"\$kel\" $cmd" > /dev/full 2> "$work/err" || status=$?
    expect_write_error "$cmd > /dev/full" "No space left on device" "$status" "$work/err"
done <<EOF2
grep Alice "$text"
grep -o -n Alice "$text"
grep -c Alice "$text"
sum "$text"
sum --adler32 "$text" "$text"
find Alice "$text"
replace -g Alice Bob "$text"
version
regex --dump 'a(b|c)*d'
grep --help
EOF2

for cmd in "grep y" "grep -o y" "find y" "replace y n" "replace -g y n"; do
    status=0
    (trap '' PIPE; yes 2> /dev/null | timeout 30 "$kel" $cmd 2> "$work/err" | head -c 1 > /dev/null; exit "${PIPESTATUS[1]}") ||
        status=$?
    [ "$status" -ne 124 ] || fail "$cmd into a closed pipe: still reading after the write failed"
    expect_write_error "$cmd into a closed pipe" "Broken pipe" "$status" "$work/err"
done

# A command whose output all fits still succeeds when nothing fails.
[ "$("$kel" sum --crc32 /dev/null)" = "00000000  /dev/null" ] || fail "sum of an empty file"
echo "kel reports write errors on standard output and stops"

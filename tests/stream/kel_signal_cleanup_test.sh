#!/usr/bin/env bash
# tests/stream/kel_signal_cleanup_test.sh - `kel c` and `kel d` stopped by SIGINT, SIGTERM or SIGHUP leave no
# temporary file behind and keep their input, as gzip does.
#
# Usage: kel_signal_cleanup_test.sh KEL
# Each run works on a file large enough (70 MB) that each format takes at least half a second on it; the signal is sent once the
# temporary output exists and has grown, so it always lands mid-way. The process must die of the signal itself
# (status 128 + signal number, as the default action gives), not exit normally.
set -eu
kel=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

seq 1 9000000 > "$work/input.txt"
sum=$(cksum < "$work/input.txt")

# interrupt SIGNAL FILE KEL-ARGS...: runs kel on FILE, signals it while it writes FILE's temporary output.
interrupt() {
    local sig=$1 file=$2
    shift 2
    # With job control on, the background job keeps SIGINT; a plain script starts it with SIGINT ignored.
    set -m
    "$kel" "$@" "$file" &
    local pid=$! tries=0
    set +m
    until [ -n "$(find "$work" -name '*.kel-*' -size +8k)" ]; do
        tries=$((tries + 1))
        [ "$tries" -lt 1000 ] || fail "$*: no temporary output appeared"
        kill -0 "$pid" 2> /dev/null || fail "$*: finished before the signal could be sent; use a larger input"
        sleep 0.01
    done
    kill -s "$sig" "$pid"
    local status=0
    wait "$pid" || status=$?
    [ "$status" -eq $((128 + $(kill -l "$sig"))) ] || fail "$* ($sig): status $status, want death by the signal"
    local left
    left=$(find "$work" -name '*.kel-*')
    [ -z "$left" ] || fail "$* ($sig): temporary file left behind: $left"
}

i=0
signals=(INT TERM HUP)
for fmt in gzip zlib deflate lz4 bzip2 lzo lzss; do
    case $fmt in
        lz4) opts=(-f lz4 --hc -l 9) ;;
        bzip2 | lzo | lzss) opts=(-f "$fmt") ;;
        *) opts=(-f "$fmt" -l 9) ;;
    esac
    sig=${signals[$((i % 3))]}
    i=$((i + 1))
    interrupt "$sig" "$work/input.txt" c "${opts[@]}"
    [ "$(cksum < "$work/input.txt")" = "$sum" ] || fail "c -f $fmt ($sig): the input changed"
    [ -z "$(find "$work" -name 'input.txt.*')" ] || fail "c -f $fmt ($sig): a partial output was published"
done
for sig in INT TERM HUP; do
    interrupt "$sig" "$work/input.txt" c -l 9
done

# Decompression: bzip2 decodes slowly enough to be caught mid-way.
"$kel" c -k -f bzip2 -l 1 "$work/input.txt"
rm "$work/input.txt"
for sig in INT TERM HUP; do
    interrupt "$sig" "$work/input.txt.bz2" d
    [ -f "$work/input.txt.bz2" ] && [ ! -e "$work/input.txt" ] || fail "d ($sig): input lost or partial output kept"
done

# An ignored signal stays ignored (nohup), and the run completes.
(trap '' HUP; "$kel" d -k "$work/input.txt.bz2" & pid=$!; sleep 0.2; kill -HUP "$pid" 2> /dev/null || true; wait "$pid") ||
    fail "d with SIGHUP ignored did not complete"
[ "$(cksum < "$work/input.txt")" = "$sum" ] || fail "d with SIGHUP ignored: wrong output"
# A missing file is named as missing, whatever its suffix.
"$kel" d "$work/nosuch" 2> "$work/err" && fail "d of a missing file succeeded"
grep -q "nosuch: No such file or directory" "$work/err" || fail "d of a missing file: $(cat "$work/err")"
echo "kel c and kel d remove their temporary output when a signal ends them"

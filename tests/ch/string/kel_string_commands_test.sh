#!/usr/bin/env bash
# tests/ch/string/kel_string_commands_test.sh - `kel iconv` and `kel find` against the system's iconv and grep.
#
# Usage: kel_string_commands_test.sh KEL DATA_DIR
# The iconv input is built so that characters of two, three and four bytes straddle the tool's 64 KiB read
# boundaries, where the carried-over tail decides whether they survive; malformed input must convert the same
# whether it arrives in one read or in many small pipe writes.
set -eu
kel=$1 data=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

python3 - "$work" <<'PY'
import random, sys
work = sys.argv[1]
random.seed(3)
words = ["the", "été", "привет", "日本語", "😀", "𝄞", "Straße", "x"]
text = bytearray()
# Multi-byte characters placed across every 64 KiB boundary up to 256 KiB, by 1, 2 and 3 bytes.
for k, ch in enumerate(["é", "語", "😀", "😀"]):
    boundary = 65536 * (k + 1)
    enc = ch.encode()
    text += b"a" * (boundary - len(text) - (k % (len(enc) - 1) + 1))
    text += enc
while len(text) < 300000:
    text += (random.choice(words) + " ").encode()
open(f"{work}/mixed.txt", "wb").write(bytes(text))
open(f"{work}/bad.bin", "wb").write(bytes(random.randrange(256) for _ in range(200000)))
PY

for enc in utf-16le utf-16be; do
  upper=$(echo "$enc" | tr a-z A-Z)
  "$kel" iconv --from utf-8 --to "$enc" "$work/mixed.txt" > "$work/kel.out"
  iconv -f UTF-8 -t "$upper" "$work/mixed.txt" > "$work/sys.out"
  cmp -s "$work/kel.out" "$work/sys.out" || fail "utf-8 -> $enc differs from iconv"
  "$kel" iconv --from "$enc" --to utf-8 < "$work/sys.out" > "$work/back.txt"
  cmp -s "$work/back.txt" "$work/mixed.txt" || fail "$enc -> utf-8 differs from the original"
done
"$kel" iconv --from utf-16le --to utf-16be <(iconv -f UTF-8 -t UTF-16LE "$work/mixed.txt") > "$work/kel.out"
iconv -f UTF-8 -t UTF-16BE "$work/mixed.txt" | cmp -s - "$work/kel.out" || fail "utf-16le -> utf-16be"

"$kel" iconv --from utf-8 --to utf-16le "$work/bad.bin" > "$work/whole.out"
for i in $(seq 0 19); do dd if="$work/bad.bin" bs=10000 skip="$i" count=1 status=none; done |
  "$kel" iconv --from utf-8 --to utf-16le > "$work/pieces.out"
cmp -s "$work/whole.out" "$work/pieces.out" || fail "malformed input converts differently when piped in pieces"

printf 'abc' | "$kel" iconv --from utf-16le --to utf-8 > /dev/null 2>&1 && fail "an odd UTF-16 byte count must fail"

# Well-formed sequences that name no character (encoded surrogates, values above U+10FFFF, five-byte forms) are
# malformed input: each byte becomes the character of its value, as the help says; neighbours convert normally.
for hex in 'f4 90 80 80' 'ed a0 80' 'ed bf bf' 'f5 80 80 80' 'f8 88 80 80 80' 'c3 a9 f4 90 80 80 41'; do
    bytes=$(printf '\\x%s' $hex)
    printf "$bytes" | "$kel" iconv --from utf-8 --to utf-16be > "$work/kel.out" || fail "iconv status on $hex"
    python3 -c 'import sys
b = bytes.fromhex(sys.argv[1])
# Latin-1 for the bytes of the first sequence that names no character, UTF-8 elsewhere.
i = next(k for k in range(len(b)) if b[k] in (0xed, 0xf4) or b[k] >= 0xf5)
s = b[:i].decode() + b[i:].decode("latin-1")
sys.stdout.buffer.write(s.encode("utf-16-be"))' "$(echo $hex | tr -d ' ')" | cmp -s - "$work/kel.out" ||
        fail "iconv of $hex: $(od -An -tx1 "$work/kel.out")"
done
[ "$(printf '\364\217\277\277\355\237\277' | "$kel" iconv -f utf-8 -t utf-16be | od -An -tx1 | tr -d ' \n')" = dbffdfffd7ff ] ||
    fail "U+10FFFF and U+D7FF must still convert"

# "Alice" cannot overlap itself, so grep's non-overlapping offsets are all of them.
"$kel" find Alice "$data/alice29.txt" > "$work/kel.find"
grep -bo Alice "$data/alice29.txt" | cut -d: -f1 > "$work/grep.find"
cmp -s "$work/kel.find" "$work/grep.find" || fail "find Alice differs from grep -bo"
[ "$(printf 'aaaa' | "$kel" find aa | tr '\n' ' ')" = "0 1 2 " ] || fail "overlapping occurrences"
"$kel" find "" /dev/null > /dev/null 2>&1 && fail "an empty pattern must be rejected"
status=0
printf 'abc' | "$kel" find x > /dev/null || status=$?
[ "$status" -eq 1 ] || fail "find with nothing found: status $status, want 1 as grep"
echo "kel iconv and kel find agree with iconv and grep"

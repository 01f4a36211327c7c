#!/usr/bin/env bash
# check_interface_exports.sh OURS SONAME PATTERN - a drop-in library exports what the system's library of the same
# soname exports (the functions whose names match PATTERN), each with the same symbol version, and nothing else;
# it carries that soname and needs only libkeldcn8 and libc.
set -euo pipefail
ours=$1 soname=$2 pattern=$3
system=$(ldconfig -p | awk -v s="$soname" '$1 == s && /x86-64/ {print $NF; exit}')
[ -n "$system" ] || { echo "the system's $soname is not installed"; exit 1; }

# "name version" per defined function; a symbol without a version shows as Base.
exports() { objdump -T "$1" | awk '$2 ~ /g/ && $4 == ".text" {print $NF, $(NF-1)}' | sort -u; }
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT; cd "$work"
exports "$ours" > ours.txt
exports "$system" | grep -E "^($pattern) " > system.txt || true

status=0
if ! diff -u system.txt ours.txt; then
  echo "exports differ from $system (- system, + ours)"; status=1
fi
got=$(readelf -d "$ours" | awk '/SONAME/ {gsub(/[][]/, "", $NF); print $NF}')
[ "$got" = "$soname" ] || { echo "soname is '$got', not $soname"; status=1; }
needed=$(readelf -d "$ours" | awk '/NEEDED/ {gsub(/[][]/, "", $NF); print $NF}' | grep -v -E '^(libkeldcn8\.so\.[0-9]+|libc\.so\.6)$' || true)
[ -z "$needed" ] || { echo "needs more than libkeldcn8 and libc: $needed"; status=1; }
exit $status

#!/usr/bin/env bash
# tests/core/check_man_page.sh - the manual page and the shell completions keep up with the tool: groff renders the
# page without a warning, every option `kel c --help` and `kel d --help` print is documented and completed, and
# every command `kel --help` lists has its own section.
#
# Usage: check_man_page.sh KEL MAN_PAGE BASH_COMPLETION ZSH_COMPLETION
# Exits 77 (skipped) when groff is missing outside CI.
set -euo pipefail
kel=$1 page=$2 bashComp=$3 zshComp=$4
fail=0

if command -v groff >/dev/null; then
  # -ww: every warning; any line on standard error (a misread request, a bad escape) fails the page.
  warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1 >/dev/null || echo "groff failed")
  if [ -n "$warnings" ]; then
    echo "groff warns about $page:"
    echo "$warnings"
    fail=1
  fi
elif [ -n "${CI:-}" ]; then
  echo "groff is missing"
  exit 1
else
  echo "groff not installed: rendering not checked"
  skipped=1
fi

# The page's text with roff's hyphen escapes and font changes taken out, one string to search.
text=$(sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' -e 's/\\&//g' "$page")
has() {  # has TEXT OPTION: the option stands as a word of its own in TEXT
  grep -qE -- "(^|[^-A-Za-z0-9])$2([^-A-Za-z0-9]|$)" <<<"$1"
}
for cmd in c d; do
  options=$("$kel" $cmd --help | grep -oE -- '(^|[ ,(\[])--?[A-Za-z0-9][-A-Za-z0-9]*' | sed 's/^[ ,(\[]//' | sort -u)
  [ -n "$options" ] || { echo "kel $cmd --help lists no option"; fail=1; }
  for o in $options; do
    has "$text" "$o" || { echo "kel $cmd $o is not in the manual page"; fail=1; }
    # Completions offer the options themselves; "gzip -d" in the help text is no option of kel.
    [ "$o" = -d ] && continue
    has "$(cat "$bashComp")" "$o" || { echo "kel $cmd $o is not completed by $bashComp"; fail=1; }
    has "$(cat "$zshComp")" "$o" || { echo "kel $cmd $o is not completed by $zshComp"; fail=1; }
  done
done
for cmd in $("$kel" --help | awk '/^Commands:/ {on = 1; next} on && !NF {exit} on {print $1}'); do
  grep -qE "^\.SS \"kel $cmd( |\")" "$page" || { echo "kel $cmd has no section in the manual page"; fail=1; }
  grep -qE "commands=\"([^\"]* )?$cmd( |\")" "$bashComp" || { echo "kel $cmd is not completed by $bashComp"; fail=1; }
  grep -qE "'$cmd:" "$zshComp" || { echo "kel $cmd is not completed by $zshComp"; fail=1; }
done
[ $fail -eq 0 ] || exit 1
[ -z "${skipped:-}" ] || exit 77
echo "manual page and completions cover every command and every option of kel c and kel d"

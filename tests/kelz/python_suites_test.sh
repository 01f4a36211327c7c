#!/usr/bin/env bash
# python_suites_test.sh KEL SKIPFILE - Debian's python3 runs its standard library's own tests of zlib, gzip, bz2,
# zipfile and tarfile with kel's zlib and libbz2 preloaded by `kel run`. SKIPFILE names the tests left out, each
# with its reason (tests that pin zlib's exact compressed bytes).
source "$(dirname "$0")/../support/tool_test_lib.sh"
kel=$1 skipfile=$2
python=/usr/bin/python3
if [ ! -x "$python" ] || ! "$python" -c "import test.test_zlib" 2>/dev/null; then
  [ -z "${CI:-}" ] && { echo "python3 or its test suite (libpython3.11-testsuite) missing: skipped"; exit 77; }
  echo "FAIL: /usr/bin/python3 and libpython3.11-testsuite are required in CI"; exit 1
fi
enter_scratch_dir

# The preloaded libraries must be the ones in use, or the suites would prove nothing.
maps=$("$kel" run -- "$python" -c "import zlib, bz2; zlib.compress(b'x'); bz2.compress(b'x'); print(open('/proc/self/maps').read())")
grep -q "/kel/libz.so.1" <<<"$maps" || err "python3 under kel run does not map kel's libz.so.1"
grep -q "/kel/libbz2.so.1.0" <<<"$maps" || err "python3 under kel run does not map kel's libbz2.so.1.0"
grep -qE "/(usr/)?lib/x86_64-linux-gnu/libz\.so" <<<"$maps" && err "the system's zlib is mapped as well"

# Skip-file lines: "test.id.pattern  # reason"; python's --ignorefile wants the patterns alone.
sed -e 's/#.*//' -e 's/[[:space:]]*$//' -e '/^$/d' "$skipfile" > ignored.txt
"$kel" run -- "$python" -m test --ignorefile ignored.txt -j2 \
  test_zlib test_gzip test_bz2 test_zipfile test_tarfile > suites.log 2>&1 || err "the suites failed"
[ $fail -eq 0 ] || tail -60 suites.log
grep -E "^(Total duration|Result|All [0-9]+ tests)" suites.log
exit $fail

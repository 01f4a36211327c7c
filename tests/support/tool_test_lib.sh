# tests/support/tool_test_lib.sh - what the tool tests written in bash share: the rule for the standard tools they
# compare against (skipped only outside CI when one is missing; CI installs them all), and a scratch directory that
# goes away with the test, with an error counter.
#
# Source it, then: require_tools gzip bzip2 ...; enter_scratch_dir; ... err "what went wrong"; exit $fail

# Exits 77 (skipped) when a tool is missing and CI is unset; exits 1 when it is missing in CI.
require_tools() {
  local tool
  for tool in "$@"; do
    if ! command -v "$tool" > /dev/null; then
      if [ -z "${CI:-}" ]; then
        echo "$tool not installed: skipped"
        exit 77
      fi
      echo "FAIL: $tool is required in CI"
      exit 1
    fi
  done
}

# Moves into a new temporary directory removed at exit, and starts the error count (err sets fail to 1).
enter_scratch_dir() {
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  cd "$work" || exit 1
  fail=0
}

err() {
  echo "FAIL: $*"
  fail=1
}

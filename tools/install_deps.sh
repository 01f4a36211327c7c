#!/usr/bin/env bash
# tools/install_deps.sh - installs, from Debian's packages, whatever the build, the tests and the benchmarks need
# and the machine lacks: the toolchain, GoogleTest, Google Benchmark, the peer codecs and engines the tests compare
# against, the standard command-line tools of the interop tests and groff for the manual page. Does nothing when all
# are present.
set -euo pipefail
packages=(cmake make g++ clang libclang-rt-14-dev binutils python3 pkg-config
          googletest libgtest-dev libbenchmark-dev
          zlib1g-dev libdeflate-dev liblz4-dev libbz2-dev liblzo2-dev libpcre2-dev libre2-dev libdivsufsort-dev
          gzip bzip2 lz4 lzop groff-base libpython3.11-testsuite dpkg-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -gt 0 ]; then
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq "${missing[@]}"
fi

# zlib's own test programs (example.c, minigzip.c) come from Debian's source package; the tests build them
# against libkelz. Fetched once into a fixed place outside the checkout.
zlibSource=${KEL_ZLIB_SOURCE:-/var/cache/kel/zlib-source}
if [ ! -f "$zlibSource/test/example.c" ]; then
  if ! apt-get source --print-uris zlib >/dev/null 2>&1; then
    $sudo tee /etc/apt/sources.list.d/kel-deb-src.sources >/dev/null <<'SOURCES'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
    $sudo apt-get update -qq
  fi
  fetch=$(mktemp -d)
  (cd "$fetch" && apt-get source -qq zlib >/dev/null 2>&1)
  $sudo mkdir -p "$(dirname "$zlibSource")"
  $sudo rm -rf "$zlibSource"
  $sudo mv "$fetch"/zlib-*/ "$zlibSource"
  rm -rf "$fetch"
fi

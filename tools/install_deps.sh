#!/usr/bin/env bash
# tools/install_deps.sh - installs, from Debian's packages, whatever the build, the tests and the benchmarks need
# and the machine lacks: the toolchain, GoogleTest, Google Benchmark, the peer codecs and engines the tests compare
# against, the standard command-line tools of the interop tests and groff for the manual page. Does nothing when all
# are present.
set -euo pipefail
packages=(cmake make g++ clang libclang-rt-14-dev binutils python3 pkg-config
          googletest libgtest-dev libbenchmark-dev
          zlib1g-dev libdeflate-dev liblz4-dev libbz2-dev liblzo2-dev libpcre2-dev libre2-dev libdivsufsort-dev
          gzip bzip2 lz4 lzop groff-base)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq "${missing[@]}"

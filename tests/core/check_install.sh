#!/usr/bin/env bash
# tests/core/check_install.sh - installs the build into a staging prefix and builds examples/consumer against it,
# once through find_package(kel) and once through pkg-config; both programs must run.
#
# Usage: check_install.sh SOURCE_DIR BUILD_DIR WORK_DIR
set -euo pipefail
src=$1 build=$2 work=$3
rm -rf "$work" && mkdir -p "$work"
cmake --install "$build" --prefix "$work/prefix" >/dev/null

cmake -S "$src/examples/consumer" -B "$work/cmake-consumer" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cmake-consumer" >/dev/null
LD_LIBRARY_PATH="$work/prefix/lib" "$work/cmake-consumer/kel_consumer"

libdir=$(ls -d "$work"/prefix/lib*/pkgconfig | head -1)
flags=$(PKG_CONFIG_PATH="$libdir" pkg-config --cflags --libs keldcn8 kelchn8)
cc "$src/examples/consumer/consumer.c" $flags -o "$work/pc-consumer"
LD_LIBRARY_PATH="$(dirname "$libdir")" "$work/pc-consumer"

#!/usr/bin/env bash
# Installs the built library into a scratch prefix and builds consumers against it:
# find_package(orv), pkg-config (a C++ and a C host), and add_subdirectory of the source tree.
set -euo pipefail
src=$1 build=$2 cxx=$3 cc=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null

cmake -S "$src/tests/packaging/consumer" -B "$work/find" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/find" >/dev/null
"$work/find/consumer"

libdir=$(find "$work/prefix" -name orv.pc -printf '%h\n' | head -n1)
flags=$(PKG_CONFIG_PATH="$libdir" pkg-config --define-variable=prefix="$work/prefix" --cflags --libs orv)
# shellcheck disable=SC2086
"$cxx" -std=c++20 "$src/tests/packaging/consumer.cpp" -o "$work/pc-consumer" $flags
"$work/pc-consumer"
# The C interface from a C host, compiled and linked by the C compiler.
# shellcheck disable=SC2086
"$cc" -std=c11 -Wall -Wextra -Werror "$src/tests/packaging/consumer.c" -o "$work/pc-c-consumer" $flags
"$work/pc-c-consumer"

cmake -S "$src/tests/packaging/subdir_consumer" -B "$work/subdir" -G Ninja \
  -DCMAKE_CXX_COMPILER="$cxx" -DORV_SOURCE_DIR="$src" >/dev/null
cmake --build "$work/subdir" >/dev/null
"$work/subdir/consumer"
echo "packaging: find_package, pkg-config and add_subdirectory consumers built and ran"

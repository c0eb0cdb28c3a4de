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

# A consumer's Release build compiles our sources with its own compiler and flags: warnings there
# must stay warnings.
cmake -S "$src/tests/packaging/subdir_consumer" -B "$work/subdir" -G Ninja \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER="$cxx" -DORV_SOURCE_DIR="$src" >/dev/null
if ninja -C "$work/subdir" -t commands | grep -q -e '-Werror'; then
  echo "packaging: a consumer's build of orv treats warnings as errors" >&2
  exit 1
fi
cmake --build "$work/subdir" >/dev/null
"$work/subdir/consumer"
echo "packaging: find_package, pkg-config and add_subdirectory consumers built and ran"

#!/usr/bin/env bash
# Installs the library into scratch prefixes and builds hosts against each install:
# - the static library of this build: find_package(orv) and pkg-config (a C++ and a C host), and
#   the Python package in the prefix's site-packages;
# - a shared library (BUILD_SHARED_LIBS=ON, library only): the same hosts, and its exports checked;
# - add_subdirectory of the source tree, in a consumer's Release build.
# The shared and subdirectory builds stay in <scratch> so that a rerun only rebuilds what changed.
set -euo pipefail
src=$1 build=$2 scratch=$3 cxx=$4 cc=$5 build_type=$6 launcher=${7:-} python=${8:-}
here=$src/tests/packaging
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tools=(-G Ninja -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_C_COMPILER="$cc")
if [[ -n $launcher ]]; then
  tools+=(-DCMAKE_CXX_COMPILER_LAUNCHER="$launcher" -DCMAKE_C_COMPILER_LAUNCHER="$launcher")
fi

# run <kind> <program>: runs a host; one built against the shared install must load liborv.so.
run() {
  if [[ $1 == shared ]] && ! readelf -d "$2" | grep -q 'NEEDED.*liborv\.so'; then
    echo "packaging: $2 is not linked against the shared liborv" >&2
    exit 1
  fi
  LD_LIBRARY_PATH=$libdir "$2" >/dev/null
}

# hosts <kind> <prefix>: the find_package host and the pkg-config C++ and C hosts.
hosts() {
  local kind=$1 prefix=$2 flags version
  cmake -S "$here/consumer" -B "$work/$kind-find" "${tools[@]}" -DCMAKE_PREFIX_PATH="$prefix" \
    >/dev/null
  cmake --build "$work/$kind-find" >/dev/null
  libdir=$(find "$prefix" -name orv.pc -printf '%h\n' | head -n1)
  run "$kind" "$work/$kind-find/consumer"

  export PKG_CONFIG_PATH=$libdir
  flags=$(pkg-config --define-variable=prefix="$prefix" --cflags --libs orv)
  version=$(pkg-config --modversion orv)
  libdir=$(pkg-config --define-variable=prefix="$prefix" --variable=libdir orv)
  # pkg-config has no notion of a language standard: a C++ host asks for C++20 itself.
  # shellcheck disable=SC2086
  "$cxx" -std=c++20 -DORV_EXPECTED_VERSION="\"$version\"" "$here/consumer.cpp" \
    -o "$work/$kind-pc" $flags
  run "$kind" "$work/$kind-pc"
  # The C interface from a C host, compiled and linked by the C compiler.
  # shellcheck disable=SC2086
  "$cc" -std=c11 -Wall -Wextra -Werror "$here/consumer.c" -o "$work/$kind-pc-c" $flags
  run "$kind" "$work/$kind-pc-c"
}

cmake --install "$build" --prefix "$work/static" >/dev/null
hosts static "$work/static"

# The Python package, when this build has it: imported from the prefix's site-packages, from
# elsewhere than the source or build tree.
if [[ -d $build/python/orvlib && -n $python ]]; then
  site=$(find "$work/static" -type d -path '*/site-packages/orvlib' -printf '%h\n')
  (cd "$work" && PYTHONPATH=$site "$python" -c \
    'import orvlib, orvlib.emulator, sys; assert orvlib.__file__.startswith(sys.argv[1])' "$site")
fi

cmake -S "$src" -B "$scratch/shared" "${tools[@]}" -DCMAKE_BUILD_TYPE="$build_type" \
  -DBUILD_SHARED_LIBS=ON -DORV_BUILD_TESTS=OFF -DORV_BUILD_TOOLS=OFF -DORV_BUILD_BENCH=OFF \
  -DORV_BUILD_EXAMPLES=OFF -DORV_BUILD_PYTHON=OFF >/dev/null
cmake --build "$scratch/shared" >/dev/null
cmake --install "$scratch/shared" --prefix "$work/shared" >/dev/null
"$here/check_exports.sh" "$(find "$work/shared" -name liborv.so)"
hosts shared "$work/shared"

# A consumer's Release build compiles our sources with its own compiler and flags: warnings there
# must stay warnings.
cmake -S "$here/subdir_consumer" -B "$scratch/subdir" "${tools[@]}" -DCMAKE_BUILD_TYPE=Release \
  -DORV_SOURCE_DIR="$src" >/dev/null
if ninja -C "$scratch/subdir" -t commands | grep -q -e '-Werror'; then
  echo "packaging: a consumer's build of orv treats warnings as errors" >&2
  exit 1
fi
cmake --build "$scratch/subdir" --target consumer >/dev/null
"$scratch/subdir/consumer" >/dev/null
echo "packaging: static and shared installs (find_package, pkg-config C++ and C) and" \
  "add_subdirectory consumers built and ran"

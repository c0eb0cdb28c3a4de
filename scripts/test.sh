#!/usr/bin/env bash
# The project's own checks, one function per build configuration: the normal build, Release
# builds with g++ and clang, an ASan+UBSan build, a ThreadSanitizer build of the threaded
# subsystems' tests, and a short smoke of each fuzz target. Warnings are errors in the sanitizer
# and fuzz builds (g++ and clang); the normal build keeps the flags of scripts/setup.sh so it reuses
# what setup built, and the Release builds build as a consumer would (g++ 12 at -O3 warns falsely
# inside libstdc++).
#
#   scripts/test.sh [STAGE...]   # default: the stages listed in `stages` below
#
# Shared test data is read from $ORV_TESTDATA_DIR (tests needing it skip when it is unset and
# ../shared/testdata is absent). ORV_FUZZ_SECONDS sets the smoke length per fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
fuzz_seconds=${ORV_FUZZ_SECONDS:-10}

common=(-G Ninja -DORV_WERROR=ON)
if command -v ccache >/dev/null; then
  common+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
clang=(-DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14)

# configure DIR CMAKE_ARGS...: a fresh or existing build directory with the common flags.
configure() {
  local dir=$1
  shift
  cmake -S . -B "$dir" "${common[@]}" "$@" >/dev/null
}

# run_ctest DIR [CTEST_ARGS...]
run_ctest() {
  local dir=$1
  shift
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" "$@"
}

stage_normal() {
  configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORV_WERROR=OFF
  cmake --build build
  run_ctest build
}

# The Python binding as a user installs it: pip (Debian's, no build isolation, nothing downloaded)
# packages the modules the normal stage built into build/ into a virtual environment on Debian's
# interpreter (the first python3 on PATH may lack Debian's numpy, pandas and Dask), and the tests
# import it from there, run from a folder outside the source tree. The environment has no pip of
# its own: Debian's, seen through the system site-packages, installs into it.
stage_python() {
  if ! grep -q "^ORV_BUILD_PYTHON:BOOL=ON" build/CMakeCache.txt; then
    echo "skipped: the Python binding is not built (pybind11-dev or python3-dev missing)"
    return
  fi
  local venv=$PWD/build/python-venv outside
  [[ -x $venv/bin/python ]] ||
    /usr/bin/python3 -m venv --system-site-packages --without-pip "$venv"
  rm -rf build/python-package  # setuptools' scratch: nothing stale goes into the wheel
  ORV_BUILD_DIR=$PWD/build "$venv/bin/python" -m pip install -q --no-build-isolation --no-deps \
    --no-index --disable-pip-version-check .
  outside=$(mktemp -d)
  local status=0
  (cd "$outside" && "$venv/bin/python" -m pytest -q -p no:cacheprovider "$OLDPWD/tests/python") ||
    status=$?
  rm -rf "$outside"
  return $status
}

# What packagers and most users build; benchmarks only matter in the normal build.
stage_release_gcc() {
  configure build-release -DCMAKE_BUILD_TYPE=Release -DORV_WERROR=OFF -DORV_BUILD_BENCH=OFF
  cmake --build build-release
  # The packaging test builds the whole library again; the normal stage has run it.
  run_ctest build-release -E '^packaging$'
}

# The Python package and the examples are covered by the g++ stages.
stage_release_clang() {
  configure build-release-clang -DCMAKE_BUILD_TYPE=Release -DORV_WERROR=OFF -DORV_BUILD_BENCH=OFF \
    -DORV_BUILD_EXAMPLES=OFF -DORV_BUILD_PYTHON=OFF "${clang[@]}"
  cmake --build build-release-clang
  run_ctest build-release-clang -E '^packaging$'
}

stage_asan() {
  configure build-asan -DCMAKE_BUILD_TYPE=Debug -DORV_SANITIZE=ON -DORV_BUILD_BENCH=OFF
  cmake --build build-asan
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_ctest build-asan
}

# Only the subsystems with threads of their own (run loop, transport, client outcomes).
stage_tsan() {
  local targets=(orv_platform_tests orv_network_tests orv_client_tests orv_location_tests
    orv_batch_tests orv_fileconv_tests)
  configure build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORV_SANITIZE_THREAD=ON \
    -DORV_BUILD_TOOLS=OFF -DORV_BUILD_BENCH=OFF -DORV_BUILD_EXAMPLES=OFF "${clang[@]}"
  cmake --build build-tsan --target "${targets[@]}"
  local t
  for t in "${targets[@]}"; do
    echo "-- $t"
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/scripts/tsan.supp" \
      "$(find build-tsan/tests -name "$t" -type f -executable)" --gtest_brief=1
  done
}

stage_fuzz() {
  configure build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo "${clang[@]}" -DORV_BUILD_FUZZ=ON \
    -DORV_BUILD_TESTS=OFF -DORV_BUILD_TOOLS=OFF -DORV_BUILD_BENCH=OFF -DORV_BUILD_EXAMPLES=OFF \
    -DORV_BUILD_PYTHON=OFF
  cmake --build build-fuzz
  shopt -s nullglob
  local f scratch
  for f in build-fuzz/fuzz/fuzz_*; do
    [[ -x $f ]] || continue
    echo "-- $(basename "$f") (${fuzz_seconds}s)"
    # New inputs go to a scratch corpus; the committed seeds are only read.
    scratch=$(mktemp -d)
    "$f" -max_total_time="$fuzz_seconds" -rss_limit_mb=2048 -print_final_stats=1 \
      -dict=fuzz/model.dict "$scratch" fuzz/corpus 2>&1 | grep "^stat::"
    rm -rf "$scratch"
  done
}

stages=(normal python release_gcc release_clang asan tsan fuzz)
((${#@})) && stages=("$@")
for s in "${stages[@]}"; do
  echo "== $s"
  start=$SECONDS
  "stage_$s"
  echo "== $s: $((SECONDS - start)) s"
done

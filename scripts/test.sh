#!/usr/bin/env bash
# Runs the tests twice, on the normal build and on an ASan+UBSan build, then builds the fuzz
# targets with clang-14 and runs each for a short smoke.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
fuzz_seconds=${ORV_FUZZ_SECONDS:-30}

echo "== normal build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== Python tests"
if [[ -d build/python/orvlib ]]; then
  # Debian's interpreter: the first python3 on PATH may lack Debian's numpy, pandas and Dask.
  PYTHONPATH=build/python /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/python
else
  echo "skipped: the Python binding is not built (pybind11-dev or python3-dev missing)"
fi

echo "== ASan+UBSan build"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORV_SANITIZE=ON \
  -DORV_BUILD_BENCH=OFF -DORV_BUILD_EXAMPLES=OFF >/dev/null
cmake --build build-asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "== fuzz smoke (${fuzz_seconds}s each)"
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 -DORV_BUILD_FUZZ=ON \
  -DORV_BUILD_TESTS=OFF -DORV_BUILD_TOOLS=OFF -DORV_BUILD_BENCH=OFF -DORV_BUILD_EXAMPLES=OFF \
  >/dev/null
cmake --build build-fuzz
shopt -s nullglob
for f in build-fuzz/fuzz/fuzz_*; do
  [[ -x $f ]] || continue
  echo "-- $(basename "$f")"
  # New inputs go to a scratch corpus; the committed seeds are only read.
  scratch=$(mktemp -d)
  "$f" -max_total_time="$fuzz_seconds" -rss_limit_mb=2048 -print_final_stats=1 \
    -dict=fuzz/model.dict "$scratch" fuzz/corpus 2>&1 | grep "^stat::"
  rm -rf "$scratch"
done

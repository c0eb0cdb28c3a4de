#!/usr/bin/env bash
# Installs every Debian package the build, tests, benchmarks and fuzzers need (idempotent), then
# configures the normal build into build/ and builds what the demo needs: the library and the
# tools. scripts/test.sh builds the rest (tests, benchmarks, examples).
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential g++ cmake ninja-build pkg-config git
  clang-14 libclang-rt-14-dev clang-format
  libcurl4-openssl-dev libssl-dev libsimdjson-dev libhwy-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev libcpp-httplib-dev
  iproute2 util-linux openssl
  pybind11-dev python3-dev python3-numpy python3-pandas python3-dask python3-distributed
  python3-pytest python3-pip python3-setuptools python3-venv
  libsystemd-dev dbus-daemon python3-dbusmock
  libgeographiclib-dev libboost-dev libsqlite3-dev
)

# The daemon only, for the gpsd integration tests: its recommends pull in a GUI stack.
lean_packages=(gpsd)

if [[ $(id -u) -ne 0 ]]; then SUDO=sudo; else SUDO=; fi
updated=
# install_missing [apt-get options...] -- packages...
install_missing() {
  local options=() missing=()
  while [[ $1 != -- ]]; do options+=("$1"); shift; done
  shift
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  echo "setup: installing ${missing[*]}"
  [[ -n $updated ]] || { $SUDO apt-get update -qq; updated=1; }
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${options[@]}" "${missing[@]}"
}
install_missing -- "${packages[@]}"
install_missing --no-install-recommends -- "${lean_packages[@]}"

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
# The library, the tools and, when its dependencies were found, the Python package (orvlib).
targets=(orv orvloc orv-emulator)
grep -q "^ORV_BUILD_PYTHON:BOOL=ON" build/CMakeCache.txt && targets+=(orvlib)
cmake --build build --target "${targets[@]}"

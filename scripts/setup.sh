#!/usr/bin/env bash
# Installs every Debian package the build, tests, benchmarks and fuzzers need (idempotent), then
# configures and builds the normal build into build/.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential g++ cmake ninja-build pkg-config git
  clang-14 libclang-rt-14-dev clang-format
  libcurl4-openssl-dev libssl-dev libsimdjson-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev libcpp-httplib-dev
  iproute2 util-linux openssl
  libsystemd-dev dbus-daemon python3-dbusmock
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  if [[ $(id -u) -ne 0 ]]; then SUDO=sudo; else SUDO=; fi
  echo "setup: installing ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build

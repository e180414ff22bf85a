#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need,
# when any of them is missing.
set -euo pipefail

packages=(cmake make g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev
          libcli11-dev libtomlplusplus-dev nlohmann-json3-dev libfmt-dev
          valgrind cppcheck clang-format pkg-config)

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"

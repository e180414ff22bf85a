#!/usr/bin/env bash
# Builds the bench and replays the example recordings. The recordings are
# copied to build/demo first, so their traces are written there.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-packages.sh
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" --target tilt_bench

rm -rf build/demo
mkdir -p build/demo
cp -r examples/. build/demo/
cd build/demo
../tilt_bench -r '*.csv'
echo
echo "The trace of every recording is beside its copy in build/demo."

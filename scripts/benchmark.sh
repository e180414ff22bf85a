#!/usr/bin/env bash
# Builds the benchmark program with -O2 (assertions stay on: no build type
# defines NDEBUG) in build-bench/ and runs it.
#
#   scripts/benchmark.sh [ARGS...]          the full run; ARGS go to the program
#   scripts/benchmark.sh --smoke [ARGS...]  a brief run that only shows it works (CI)
#
# Benchmarks are not tests: nothing here checks a timing.
set -euo pipefail
cd "$(dirname "$0")/.."

args=()
if [ "${1:-}" = "--smoke" ]; then
  shift
  args+=(--benchmark_min_time=0.01)
fi

cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build-bench -j"$(nproc)" --target tumblewatch_benchmark >/dev/null
build-bench/benchmarks/tumblewatch_benchmark "${args[@]}" "$@"

#!/usr/bin/env bash
# Builds everything and runs the whole test suite: the house-style checks,
# the normal build, the HTML reports in a real browser, the same suite
# under AddressSanitizer and UndefinedBehaviorSanitizer, the evaluation's
# tests and two detectors in two threads under ThreadSanitizer, the
# installed library as another project uses it, valgrind memcheck of the
# bench over the examples, the fuzz targets over their seed corpus and one
# brief benchmark run.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-packages.sh

jobs=$(nproc)

# Each stage says how long the one before it took, so that a slow stage shows.
stage_start=$SECONDS
stage() {
  echo "   ($((SECONDS - stage_start)) s)"
  stage_start=$SECONDS
  echo "== $1"
}

echo "== house style"
bash scripts/check-style.sh

stage "build and test"
cmake -S . -B build -DTUMBLEWATCH_WERROR=ON -DPython_EXECUTABLE=/usr/bin/python3 >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

stage "the HTML reports in a real browser (Chromium, offline)"
bash scripts/browser-test.sh build

stage "build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-sanitize -DTUMBLEWATCH_SANITIZE=ON -DTUMBLEWATCH_BENCHMARKS=OFF -DTUMBLEWATCH_WERROR=ON -DPython_EXECUTABLE=/usr/bin/python3 >/dev/null
cmake --build build-sanitize -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-sanitize --output-on-failure -j"$jobs"

stage "the multi-threaded evaluation, import and live, and detectors in two threads, under ThreadSanitizer"
cmake -S . -B build-tsan -DTUMBLEWATCH_TSAN=ON -DTUMBLEWATCH_WERROR=ON >/dev/null
cmake --build build-tsan -j"$jobs" --target test_workbench test_detector test_import test_live
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
build-tsan/tests/test_workbench --gtest_brief=1
build-tsan/tests/test_import --gtest_brief=1
build-tsan/tests/test_detector --gtest_brief=1 --gtest_filter='Interface.*'
build-tsan/tests/test_live --gtest_brief=1
unset TSAN_OPTIONS

stage "the installed library: headers alone, CMake package, pkg-config file, example consumer"
bash scripts/consumer.sh build

stage "valgrind memcheck of the bench over the examples"
bash scripts/memcheck.sh examples

# --- robustness and speed stages (quick): the libFuzzer builds with a replay
# of the seed corpus, and one brief benchmark run that only shows it works.
stage "fuzz targets: build and replay the seed corpus"
bash scripts/fuzz.sh

stage "benchmark smoke run"
bash scripts/benchmark.sh --smoke --build build
# --- end of the robustness and speed stages

stage "all tests passed"

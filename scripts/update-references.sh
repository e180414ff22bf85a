#!/usr/bin/env bash
# Regenerates the regression references under tests/regression from the
# current build. Review the changed files before committing them: each
# change is a change of the detector's behaviour.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-packages.sh
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)"
TUMBLEWATCH_UPDATE_REFERENCES=1 ./build/tests/test_regression
git status --short tests/regression

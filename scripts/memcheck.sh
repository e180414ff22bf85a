#!/usr/bin/env bash
# Runs the bench under valgrind memcheck over a folder of recordings and
# fails on any memory error or leak (every leak kind counts).
#
#   scripts/memcheck.sh FOLDER
#
# The folder is copied into a temporary folder first, since a replay writes
# its trace beside its input; the bench then runs once in each directory of
# the copy that holds recordings, so a "micom.txt" marker there chooses the
# CSV layout as it would for a user. The bench comes from build/ (built if
# needed, with the options of scripts/test.sh) unless TILT_BENCH names one.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -ne 1 ] || [ ! -d "$1" ]; then
  echo "usage: scripts/memcheck.sh FOLDER" >&2
  exit 2
fi
source_dir=$1

if [ -z "${TILT_BENCH:-}" ]; then
  cmake -S . -B build -DTUMBLEWATCH_WERROR=ON >/dev/null
  cmake --build build -j"$(nproc)" --target tilt_bench >/dev/null
  TILT_BENCH=$PWD/build/tilt_bench
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tumblewatch-memcheck-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/copy" "$work/logs"
cp -R "$source_dir/." "$work/copy/"

runs=0
failed=0
while IFS= read -r -d '' dir; do
  if ! find "$dir" -maxdepth 1 -type f \( -name '*.bin' -o -name '*.csv' \) -print -quit | grep -q .; then
    continue
  fi
  # "*" takes every recording of the directory; the bench passes over the
  # rest (the marker, traces, other files).
  runs=$((runs + 1))
  log="$work/logs/$runs.log"
  if ! (cd "$dir" && valgrind --quiet --leak-check=full --show-leak-kinds=all --errors-for-leak-kinds=all \
          --error-exitcode=1 --log-file="$log" "$TILT_BENCH" '*' >/dev/null); then
    echo "memcheck: errors in $source_dir${dir#"$work/copy"}:" >&2
    cat "$log" >&2
    failed=1
  fi
done < <(find "$work/copy" -type d -print0 | sort -z)

if [ "$runs" -eq 0 ]; then
  echo "memcheck: no recordings in $source_dir" >&2
  exit 1
fi
[ "$failed" -eq 0 ] || exit 1
echo "memcheck: $runs directories of $source_dir, no errors and no leaks"

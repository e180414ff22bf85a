#!/usr/bin/env bash
# The fuzz targets (fuzz/): the two readers of recorded input, the
# detector fed arbitrary sample streams, and the importers' line parsers
# and conversions.
#
#   scripts/fuzz.sh                 build the libFuzzer targets with clang and
#                                   replay the seed corpus once (quick: what CI runs)
#   scripts/fuzz.sh --run SECONDS   the same, then fuzz each target for SECONDS
#
# The seed corpus in fuzz/corpus/<target>/ is only read. New inputs found
# while fuzzing go to build-fuzz/corpus/<target>/ (kept between runs) and
# crashing inputs to build-fuzz/artifacts/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
  echo "usage: scripts/fuzz.sh [--run SECONDS]" >&2
  exit 2
}

seconds=0
case "${1:-}" in
  "") ;;
  --run)
    seconds=${2:-}
    [[ $seconds =~ ^[0-9]+$ ]] || usage
    ;;
  *) usage ;;
esac

targets=(dataset csv_line detector sisfall_line mobifall_line umafall_line import_csv_line)
declare -A max_len=([dataset]=4096 [csv_line]=1100 [detector]=650 [sisfall_line]=4096 [mobifall_line]=4096
                    [umafall_line]=4096 [import_csv_line]=4096)

echo "== build the fuzz targets"
CXX=clang++ cmake -S . -B build-fuzz -DTUMBLEWATCH_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]/%/_fuzzer}" >/dev/null

for t in "${targets[@]}"; do
  echo "== replay the seed corpus of ${t}"
  if ! log=$("build-fuzz/fuzz/${t}_fuzzer" -runs=0 "fuzz/corpus/${t}" 2>&1); then
    echo "$log"
    exit 1
  fi
  echo "$log" | tail -n 1
done

if [ "$seconds" -gt 0 ]; then
  for t in "${targets[@]}"; do
    echo "== fuzz ${t} for ${seconds} s"
    mkdir -p "build-fuzz/corpus/${t}" "build-fuzz/artifacts/${t}"
    "build-fuzz/fuzz/${t}_fuzzer" -max_total_time="$seconds" -max_len="${max_len[$t]}" \
      -print_final_stats=1 -artifact_prefix="build-fuzz/artifacts/${t}/" \
      "build-fuzz/corpus/${t}" "fuzz/corpus/${t}"
  done
fi
echo "== fuzz targets passed"

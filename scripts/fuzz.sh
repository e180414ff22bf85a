#!/usr/bin/env bash
# The fuzz targets (fuzz/), every one reading its input from memory: the
# binary dataset, whole recordings, the CSV line, the manifest, the TOML
# configuration, the values of --set/--grid/--range/--require, a sweep file
# given to --resume, the importers' line parsers and the detector.
#
#   scripts/fuzz.sh                  build the libFuzzer targets with clang and
#                                    replay the kept corpora once (quick: what CI runs)
#   scripts/fuzz.sh --minutes M [-j N] [TARGET...]
#                                    then fuzz each target (all by default) for M
#                                    minutes, N targets at a time (default 1)
#   scripts/fuzz.sh --runs R [-j N] [TARGET...]
#                                    the same, each target to R runs
#   scripts/fuzz.sh --minimise [TARGET...]
#                                    add to the kept corpora (fuzz/corpus/<target>) the
#                                    found inputs that reach code they do not
#
# Fuzzing starts from the kept corpus, seeds drawn from the project's own
# files (examples/, the sweep files of make_sweep_seeds) and a dictionary
# for the text formats (fuzz/dict/<target>.dict). New inputs go to
# build-fuzz/corpus/<target>/ (kept between runs), crashing inputs to
# build-fuzz/artifacts/<target>/, each run's log and final statistics to
# build-fuzz/logs/<target>.log.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
  echo "usage: scripts/fuzz.sh [--minutes M | --runs R] [-j N] [TARGET...] | --minimise [TARGET...]" >&2
  exit 2
}

all_targets=(dataset recording csv_line manifest config values sweep_resume detector sisfall_line mobifall_line
             umafall_line import_csv_line annotation_line)
# Longest input per target: past the longest line a reader handles in one
# piece (1023 characters) for the line formats, several blocks of records
# for the dataset, a few hundred samples for the detector.
declare -A max_len=([dataset]=4096 [recording]=1400 [csv_line]=1100 [manifest]=1024 [config]=1024 [values]=1024
                    [sweep_resume]=2048 [detector]=130 [sisfall_line]=1024 [mobifall_line]=1024 [umafall_line]=1024
                    [import_csv_line]=1024 [annotation_line]=1024)

mode=replay
limit=0
jobs=1
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --minutes) [[ ${2:-} =~ ^[1-9][0-9]*$ ]] || usage; mode=fuzz; limit=$(( $2 * 60 )); shift 2 ;;
    --runs) [[ ${2:-} =~ ^[1-9][0-9]*$ ]] || usage; mode=fuzz; limit=-$2; shift 2 ;;
    -j) [[ ${2:-} =~ ^[1-9][0-9]*$ ]] || usage; jobs=$2; shift 2 ;;
    --minimise) mode=minimise; shift ;;
    -h|--help) usage ;;
    -*) usage ;;
    *) [[ " ${all_targets[*]} " == *" $1 "* ]] || { echo "unknown target: $1" >&2; exit 2; }
       targets+=("$1"); shift ;;
  esac
done
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")

echo "== build the fuzz targets"
CXX=clang++ CC=clang cmake -S . -B build-fuzz -DTUMBLEWATCH_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]/%/_fuzzer}" make_sweep_seeds >/dev/null

for t in "${targets[@]}"; do
  echo "== replay the corpus of ${t}"
  # (Whole inputs: the kept corpora hold lines of more than a megabyte.)
  if ! log=$("build-fuzz/fuzz/${t}_fuzzer" -runs=0 -max_len=4194304 "fuzz/corpus/${t}" 2>&1); then
    echo "$log"
    exit 1
  fi
  echo "$log" | grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)' | tail -n 1
done
[ "$mode" = replay ] && { echo "== fuzz targets passed"; exit 0; }

if [ "$mode" = minimise ]; then
  # The kept inputs stay (hand-written ones cover what fuzzing seldom makes:
  # lines of a megabyte, another sweep's file); of the found ones only those
  # that reach code the kept ones do not are added.
  for t in "${targets[@]}"; do
    echo "== merge what fuzzing found into the corpus of ${t}"
    mkdir -p "build-fuzz/corpus/${t}" build-fuzz/logs
    before=$(ls "fuzz/corpus/${t}" | wc -l)
    "build-fuzz/fuzz/${t}_fuzzer" -merge=1 -max_len="${max_len[$t]}" "fuzz/corpus/${t}" "build-fuzz/corpus/${t}" \
      >"build-fuzz/logs/${t}.merge.log" 2>&1
    echo "$(( $(ls "fuzz/corpus/${t}" | wc -l) - before )) inputs added"
  done
  exit 0
fi

# Seeds from the project's own files.
seeds=build-fuzz/seeds
rm -rf "$seeds"
mkdir -p "$seeds"/{recording,manifest,sweep_resume,csv_line,dataset}
for f in examples/*.csv; do
  n=$(basename "$f" .csv)
  { printf '\001'; cat "$f"; } | head -c 1400 >"$seeds/recording/default_$n"
  { printf '\002'; cat "$f"; } | head -c 1400 >"$seeds/recording/micom_$n"
  sed -n '8,12p' "$f" | while IFS= read -r line; do printf '%s\n' "$line"; done >"$seeds/csv_line/$n"
done
# The examples' manifest, naming the recordings the target's scratch folder holds.
sed -e 's/^walking\.csv/fall_a.csv/; s/^sit_down_hard\.csv/adl_b.bin/; s/^fall_forward\.csv/c.csv/' \
  examples/labels.manifest | head -n 4 >"$seeds/manifest/examples"
build-fuzz/fuzz/make_sweep_seeds "$seeds/sweep_resume"

run_one() {
  local t=$1
  local dict=()
  [ -f "fuzz/dict/${t}.dict" ] && dict=(-dict="fuzz/dict/${t}.dict")
  local budget=(-max_total_time="$limit")
  [ "$limit" -lt 0 ] && budget=(-runs="${limit#-}")
  mkdir -p "build-fuzz/corpus/${t}" "build-fuzz/artifacts/${t}" build-fuzz/logs "$seeds/${t}"
  local start status
  start=$(date +%s)
  # (Short allocation stacks: a third faster; rerun a finding's input for the full report.)
  ASAN_OPTIONS=malloc_context_size=0 "build-fuzz/fuzz/${t}_fuzzer" "${budget[@]}" -max_len="${max_len[$t]}" \
    "${dict[@]}" -print_final_stats=1 -artifact_prefix="build-fuzz/artifacts/${t}/" \
    "build-fuzz/corpus/${t}" "fuzz/corpus/${t}" "$seeds/${t}" >"build-fuzz/logs/${t}.log" 2>&1 && status=0 || status=$?
  local runs
  runs=$(sed -n 's/^stat::number_of_executed_units: //p' "build-fuzz/logs/${t}.log")
  local seconds=$(( $(date +%s) - start ))
  echo "${t}: ${runs:-?} runs in ${seconds} s, $(( ${runs:-0} / (seconds > 0 ? seconds : 1) )) runs/s, exit ${status}" \
       "$( ls "build-fuzz/artifacts/${t}" | wc -l) artifacts"
  return "$status"
}

echo "== fuzz ${#targets[@]} targets, ${jobs} at a time"
failed=0
running=0
for t in "${targets[@]}"; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
  run_one "$t" &
  running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done
[ "$failed" -eq 0 ] || { echo "== a fuzz target failed: see build-fuzz/artifacts and build-fuzz/logs" >&2; exit 1; }
echo "== fuzz targets passed"

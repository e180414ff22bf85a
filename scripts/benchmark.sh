#!/usr/bin/env bash
# Builds the benchmark programs with -O2 (assertions stay on: no build type
# defines NDEBUG) in build-bench/ and runs them. Every measurement runs the
# current code and the previous implementation (benchmarks/previous) in
# the same run, so that the machine's load weighs on both alike.
#
#   scripts/benchmark.sh [ARGS...]          the full run; ARGS go to the throughput program
#   scripts/benchmark.sh --smoke [--build DIR] [ARGS...]
#                                           a brief run that only shows it works (CI); with
#                                           --build, the programs of that existing build
#                                           folder instead of a Release build of their own
#
# The full run prints:
#   1. throughput: the detector alone and the replay with trace, previous
#      and current, 5 repetitions in random order, medians and speed-ups;
#      eval, and the sweeps the previous way and the current one (their
#      rows compared) with the speed-ups per thread;
#   2. scaling: one replay with trace of 1k, 10k, 100k, 1M and 2M samples,
#      wall-clock and CPU time per sample and peak resident size, best of 3;
#   3. two 2M-sample replays as two processes at once;
#   4. the Python module's detect beside the C++ detector over 2M samples,
#      and two Python threads calling detect at once (benchmarks/python_detect.py);
#   5. memory: tumblewatch eval with --json and --html of one dataset of
#      16 MiB, 256 MiB and 1 GiB, wall-clock time and peak resident size
#      (the aim: a peak that does not grow with the length, under 256 MB);
#   6. the sweep on a Dask cluster beside tumblewatch sweep on the same cores,
#      and with one and more workers (benchmarks/cluster_sweep.py).
#
# The dataset files and their traces go to a fresh folder under $TMPDIR
# (default /tmp): TMPDIR=/dev/shm measures without the disk.
#
# Benchmarks are not tests: nothing here checks a timing.
set -euo pipefail
cd "$(dirname "$0")/.."

smoke=0
if [ "${1:-}" = "--smoke" ]; then
  smoke=1
  shift
fi

bdir=build-bench
if [ $smoke -eq 1 ] && [ "${1:-}" = "--build" ]; then
  [ $# -ge 2 ] || { echo "benchmark.sh: --build needs a folder" >&2; exit 2; }
  bdir=$2
  shift 2
  [ -f "$bdir/CMakeCache.txt" ] || { echo "benchmark.sh: $bdir is no configured build folder" >&2; exit 2; }
else
  cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
fi
cmake --build "$bdir" -j"$(nproc)" --target tumblewatch_benchmark replay_scaling detect_rate eval_memory \
  import_memory tumblewatch_cli >/dev/null
python_module=0
if cmake --build "$bdir" -j"$(nproc)" --target tumblewatch_python tumblewatch_cli make_recordings >/dev/null 2>&1
then
  python_module=1
fi
bin=$bdir/benchmarks

work=$(mktemp -d "${TMPDIR:-/tmp}/tumblewatch-scaling-XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "== throughput (samples per second; previous = the code before the speed-up)"
if [ $smoke -eq 1 ]; then
  TUMBLEWATCH_BENCHMARK_BRIEF=1 "$bin/tumblewatch_benchmark" --benchmark_min_time=0.01 "$@"
else
  "$bin/tumblewatch_benchmark" --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true "$@" | tee "$work/throughput.txt"
  # The medians' samples/s counters (printed as 1.234M/s or 567.8k/s).
  awk '
    function rate(field,   v) {
      sub(/^samples\/s=/, "", field); sub(/\/s$/, "", field); v = field + 0
      if (field ~ /k$/) v *= 1e3; else if (field ~ /M$/) v *= 1e6; else if (field ~ /G$/) v *= 1e9
      return v
    }
    /_median/ { for (i = 1; i <= NF; i++) if ($i ~ /^samples\/s=/) { split($1, name, "/"); r[name[1] "/" name[2]] = rate($i) } }
    END {
      for (b = 1; b <= 2; b++) {
        n = (b == 1) ? "BM_Detector" : "BM_ReplayWithTrace"
        p = r[n "/previous"]; c = r[n "/current"]
        if (p > 0) printf "%-20s previous %6.3f M/s, current %6.3f M/s: %.2fx\n", n, p / 1e6, c / 1e6, c / p
      }
    }' "$work/throughput.txt"
  # The sweeps: per thread, the previous way (whole pipeline per
  # configuration) against the current one (front end once).
  awk '
    function value(field,   v) {
      sub(/^[^=]*=/, "", field); sub(/\/s$/, "", field); v = field + 0
      if (field ~ /k$/) v *= 1e3; else if (field ~ /M$/) v *= 1e6; else if (field ~ /G$/) v *= 1e9
      return v
    }
    /^BM_Sweep\/.*_median/ {
      split($1, name, "/"); key = name[2] " " name[4]
      for (i = 1; i <= NF; i++) {
        if ($i ~ /^samples\/s\/thread=/) s[key, name[3]] = value($i)
        if ($i ~ /^configs\/s\/thread=/) c[key, name[3]] = value($i)
      }
      keys[key] = 1
    }
    END {
      for (k in keys) {
        p = s[k, "previous"]; q = s[k, "current"]; split(k, part, " ")
        if (p > 0) printf "BM_Sweep %-7s %s thread(s): per thread previous %6.3f M samples/s (%7.2f configs/s), " \
          "current %6.3f M samples/s (%7.2f configs/s): %.2fx\n", part[1], part[2], p / 1e6, c[k, "previous"], q / 1e6,
          c[k, "current"], q / p
      }
    }' "$work/throughput.txt" | sort
fi

# The value of key=VALUE in a line of replay_scaling.
field() {
  echo "$1" | sed "s/.*\b$2=\([0-9.]*\).*/\1/"
}

# The best (by wall-clock time) of $2 runs of replay_scaling replay [$3] on
# $1: "wall_ns cpu_ns peak_kib" per sample.
best_replay() {
  local file=$1 runs=$2 flag=${3:-} best="" line
  for _ in $(seq "$runs"); do
    line=$("$bin/replay_scaling" replay $flag "$file")
    line="$(field "$line" ns_per_sample) $(field "$line" cpu_ns_per_sample) $(field "$line" peak_kib)"
    if [ -z "$best" ] || awk "BEGIN { exit !(${line%% *} < ${best%% *}) }"; then
      best=$line
    fi
  done
  echo "$best"
}

echo
echo "== scaling: one replay with trace; wall-clock and CPU ns per sample, peak resident KiB (best of 3)"
sizes=(1000 10000 100000 1000000 2000000)
runs=3
if [ $smoke -eq 1 ]; then
  sizes=(1000)
  runs=1
fi
printf "%9s | %28s | %28s | %s\n" "" "previous" "current" "speed-up"
printf "%9s | %8s %8s %10s | %8s %8s %10s | %6s %6s\n" samples wall cpu "peak KiB" wall cpu "peak KiB" wall cpu
for n in "${sizes[@]}"; do
  "$bin/replay_scaling" write "$n" "$work/s$n.bin"
  read -r pwall pcpu pkib < <(best_replay "$work/s$n.bin" "$runs" --previous)
  read -r cwall ccpu ckib < <(best_replay "$work/s$n.bin" "$runs")
  printf "%9d | %8.1f %8.1f %10d | %8.1f %8.1f %10d | %5.2fx %5.2fx\n" "$n" "$pwall" "$pcpu" "$pkib" "$cwall" \
    "$ccpu" "$ckib" "$(awk "BEGIN { print $pwall / $cwall }")" "$(awk "BEGIN { print $pcpu / $ccpu }")"
  rm -f "$work/s$n.bin" "$work/s$n.txt"
done

if [ $smoke -eq 0 ]; then
  echo
  echo "== two replays of 2000000 samples as two processes at once (ns per sample, peak KiB)"
  "$bin/replay_scaling" write 2000000 "$work/a.bin"
  cp "$work/a.bin" "$work/b.bin"
  for flag in --previous ""; do
    "$bin/replay_scaling" replay $flag "$work/a.bin" >"$work/a.out" &
    "$bin/replay_scaling" replay $flag "$work/b.bin" >"$work/b.out" &
    wait
    for out in a b; do
      line=$(cat "$work/$out.out")
      printf "%-10s %s: wall %8.1f ns, cpu %8.1f ns per sample, peak %d KiB\n" "${flag:---current}" "$out" \
        "$(field "$line" ns_per_sample)" "$(field "$line" cpu_ns_per_sample)" "$(field "$line" peak_kib)"
    done
  done
fi

echo
echo "== the Python module: detect beside the C++ detector, two Python threads at once"
if [ $python_module -eq 0 ]; then
  echo "the Python module was not built (pybind11 missing?): skipped"
elif [ $smoke -eq 1 ]; then
  /usr/bin/python3 benchmarks/python_detect.py "$bdir" --samples 100000 --runs 1
else
  /usr/bin/python3 benchmarks/python_detect.py "$bdir"
fi

echo
echo "== memory: tumblewatch eval --json --html of one dataset (wall-clock seconds, peak resident KiB)"
mibs=(16 256 1024)
if [ $smoke -eq 1 ]; then
  mibs=(4)
fi
printf "%9s %12s %9s %10s\n" MiB samples seconds "peak KiB"
for mib in "${mibs[@]}"; do
  "$bin/eval_memory" write "$mib" "$work/m$mib.bin" >/dev/null
  mkdir -p "$work/out"
  line=$("$bin/eval_memory" run "$(cd "$bdir" && pwd)/tumblewatch" "$work/m$mib.bin" "$work/out")
  printf "%9d %12d %9.1f %10d\n" "$mib" "$(field "$line" samples)" "$(field "$line" seconds)" "$(field "$line" peak_kib)"
  rm -rf "$work/m$mib.bin" "$work/out"
done

echo
echo "== memory: tumblewatch import of many tiny SisFall files (wall-clock seconds, peak resident KiB; aim 65536)"
counts=(10000 100000)
if [ $smoke -eq 1 ]; then
  counts=(1000)
fi
printf "%9s %9s %10s\n" files seconds "peak KiB"
for n in "${counts[@]}"; do
  "$bin/import_memory" write "$n" "$work/raw$n" >/dev/null
  line=$("$bin/import_memory" run "$(cd "$bdir" && pwd)/tumblewatch" "$work/raw$n" "$work/imported$n") || true
  printf "%9d %9.1f %10d\n" "$n" "$(field "$line" seconds)" "$(field "$line" peak_kib)"
  rm -rf "$work/raw$n" "$work/imported$n"
done

echo
echo "== the sweep on a Dask cluster beside tumblewatch sweep on the same cores"
if [ $python_module -eq 0 ]; then
  echo "the Python module was not built (pybind11 missing?): skipped"
elif ! /usr/bin/python3 -c 'import distributed' 2>/dev/null; then
  echo "Dask (python3-distributed) is not installed: skipped"
elif [ $smoke -eq 1 ]; then
  /usr/bin/python3 benchmarks/cluster_sweep.py "$bdir" --smoke
else
  /usr/bin/python3 benchmarks/cluster_sweep.py "$bdir"
fi

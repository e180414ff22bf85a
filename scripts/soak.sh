#!/usr/bin/env bash
# A soak of the workbench, not part of the test suite: tumblewatch eval and
# tumblewatch sweep, and the Python module's detect, over 10 hours and over
# 100 hours of generated recordings (the project's 25-minute mixed recording
# repeated into files of two hours, alternately named as falls and as daily
# activity), in one run. It reports for each command and set the time, the
# peak resident memory (/usr/bin/time -v), and the most descriptors and
# threads the process held at once (sampled from /proc); it fails when the
# peak memory of 100 hours exceeds that of 10 hours by more than a quarter,
# when the most descriptors or threads grow with the number of recordings,
# when the sweep's peak memory grows with the number of configurations,
# when detect leaves a descriptor or thread behind in its process, or when a
# process of the run outlives it. Last, ThreadSanitizer builds of the same
# commands run over a shorter set (2 hours).
#
#   scripts/soak.sh [--hours H] [--short H] [-j N]
#
# H defaults to 100 (the long set; the short one is a tenth of it), the
# ThreadSanitizer set to 2, N (worker threads) to 2. Builds go to build/ and
# build-tsan/, the recordings to a temporary folder removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

hours=100
tsan_hours=2
jobs=2
while [ $# -gt 0 ]; do
  case "$1" in
    --hours) [[ ${2:-} =~ ^[1-9][0-9]*$ ]] || { echo "--hours needs a whole number" >&2; exit 2; }; hours=$2; shift 2 ;;
    --short) [[ ${2:-} =~ ^[1-9][0-9]*$ ]] || { echo "--short needs a whole number" >&2; exit 2; }; tsan_hours=$2; shift 2 ;;
    -j) [[ ${2:-} =~ ^[1-9][0-9]*$ ]] || { echo "-j needs a whole number" >&2; exit 2; }; jobs=$2; shift 2 ;;
    *) echo "usage: scripts/soak.sh [--hours H] [--short H] [-j N]" >&2; exit 2 ;;
  esac
done
short_hours=$(( hours / 10 > 0 ? hours / 10 : 1 ))
python=/usr/bin/python3

echo "== build (build/, build-tsan/)"
cmake -S . -B build -DPython_EXECUTABLE="$python" >/dev/null
cmake --build build -j"$(nproc)" --target tumblewatch_cli make_recordings tumblewatch_python >/dev/null
cmake -S . -B build-tsan -DTUMBLEWATCH_TSAN=ON >/dev/null
cmake --build build-tsan -j"$(nproc)" --target tumblewatch_cli >/dev/null
tw=build/tumblewatch
tw_tsan=build-tsan/tumblewatch

work=$(mktemp -d "${TMPDIR:-/tmp}/tumblewatch-soak-XXXXXX")
trap 'rm -rf "$work"' EXIT
build/make_recordings "$work/base" long_mixed >/dev/null

# make_set FOLDER HOURS: files of two hours (one of one hour for an odd
# number), alternately fall_ and adl_, each the mixed recording repeated.
make_set() {
  "$python" - "$work/base/long_mixed.bin" "$1" "$2" <<'PY'
import os, struct, sys
source, folder, hours = sys.argv[1], sys.argv[2], int(sys.argv[3])
data = open(source, "rb").read()
position = struct.unpack_from("<i", data, 20)[0]
header, records = data[:24], data[position:]
per_hour = 50 * 3600
os.makedirs(folder, exist_ok=True)
left, number = hours, 0
while left > 0:
    h = min(2, left)
    want = per_hour * h * 12
    body = (records * (want // len(records) + 1))[:want]
    kind = "fall" if number % 2 == 0 else "adl"
    with open(os.path.join(folder, f"{kind}_mixed_s{number:03d}_r1.bin"), "wb") as f:
        f.write(header + body)
    left, number = left - h, number + 1
PY
}

# measure NAME COMMAND...: runs the command under /usr/bin/time -v, samples
# its descriptors and threads, and appends "NAME seconds rss_kib fds threads".
measure() {
  local name=$1
  shift
  /usr/bin/time -v -o "$work/time.txt" "$@" >"$work/out.txt" 2>"$work/err.txt" &
  local timer=$!
  local fds=0 threads=0 pid
  sleep 0.1
  while kill -0 "$timer" 2>/dev/null; do
    for pid in $(pgrep -P "$timer" || true); do
      local f t
      # (The process may end between pgrep and ls: then it counts nothing.)
      f=$( { ls "/proc/$pid/fd" 2>/dev/null || true; } | wc -l)
      t=$( { ls "/proc/$pid/task" 2>/dev/null || true; } | wc -l)
      [ "$f" -gt "$fds" ] && fds=$f
      [ "$t" -gt "$threads" ] && threads=$t
    done
    sleep 0.2
  done
  if ! wait "$timer"; then
    echo "$name failed:" >&2
    tail -n 20 "$work/err.txt" "$work/time.txt" >&2
    exit 1
  fi
  local rss seconds
  rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")
  seconds=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time.txt")
  printf '%-22s %10s %10s KiB %4s fds %4s threads\n' "$name" "$seconds" "$rss" "$fds" "$threads" | tee -a "$work/figures.txt"
  echo "$name $rss $fds $threads" >>"$work/table.txt"
}

detect_script='
import os, resource, sys, threading
import tumblewatch
folder = sys.argv[1]
def fds(): return len(os.listdir("/proc/self/fd"))
def threads(): return len(os.listdir("/proc/self/task"))
fds0, threads0 = fds(), threads()
samples = alarms = 0
for name in sorted(os.listdir(folder)):
    s = tumblewatch.read_recording(os.path.join(folder, name))
    codes = tumblewatch.detect(s)
    samples += len(s); alarms += int((codes != 0).sum())
    del s, codes
left = (fds() - fds0, threads() - threads0)
print(f"{samples} samples, {alarms} alarm samples; descriptors and threads left: {left}")
sys.exit(0 if left == (0, 0) else 3)
'

for h in "$short_hours" "$hours"; do
  echo "== ${h} hours of recordings"
  set_dir="$work/set_${h}h"
  make_set "$set_dir" "$h"
  measure "eval ${h}h" "$tw" eval "$set_dir" -j "$jobs" -q --json "$work/eval_${h}.json"
  measure "sweep ${h}h" "$tw" sweep "$set_dir" -j "$jobs" -q --grid fallWindow=16,20,24 --out "$work/sweep_${h}.csv"
  if [ "$h" = "$short_hours" ]; then
    # Ten times the configurations over the same recordings: the sweep's
    # memory is that of the recordings, not of the configurations it ran.
    measure "sweep ${h}h x10" "$tw" sweep "$set_dir" -j "$jobs" -q --random 30 --range fallWindow=5:30 \
      --range quietMagnitude=30:90 --out "$work/sweep_${h}_x10.csv"
  fi
  measure "detect ${h}h" env PYTHONPATH=build/python "$python" -c "$detect_script" "$set_dir"
  cat "$work/out.txt"
  rm -rf "$set_dir"
done

echo "== ThreadSanitizer: ${tsan_hours} hours"
make_set "$work/set_tsan" "$tsan_hours"
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
measure "eval tsan ${tsan_hours}h" "$tw_tsan" eval "$work/set_tsan" -j "$jobs" -q --json "$work/eval_tsan.json"
measure "sweep tsan ${tsan_hours}h" "$tw_tsan" sweep "$work/set_tsan" -j "$jobs" -q --grid fallWindow=16,20 \
  --out "$work/sweep_tsan.csv"
unset TSAN_OPTIONS

echo "== processes left behind"
if pgrep -f "$work" >/dev/null; then
  echo "a process of the soak is still running" >&2
  exit 1
fi
echo none

echo "== the figures"
cat "$work/figures.txt"
# Flat: 100 hours within a quarter of 10 hours' peak memory; descriptors
# and threads that do not grow with the recordings.
"$python" - "$work/table.txt" "$short_hours" "$hours" "$jobs" <<'PY'
import sys
rows = {}
for line in open(sys.argv[1]):
    parts = line.split()
    rows[" ".join(parts[:-3])] = tuple(int(x) for x in parts[-3:])
short, long_, jobs = sys.argv[2], sys.argv[3], int(sys.argv[4])
bad = False
# The sweep holds every recording's samples in memory (each configuration
# runs over all of them): its memory grows with the hours by design, and is
# reported per hour; descriptors and threads must still be flat.
for what in ("eval", "sweep", "detect"):
    a, b = rows[f"{what} {short}h"], rows[f"{what} {long_}h"]
    ratio = b[0] / a[0]
    # Descriptors and threads are sampled five times a second, so a short
    # run may show fewer than it held: ten times the recordings may not add
    # more than two descriptors, and no run more threads than its workers
    # and the main thread.
    handles = b[1] <= a[1] + 2 and max(a[2], b[2]) <= jobs + 1
    flat = ratio <= 1.25 and handles
    per_hour = (b[0] - a[0]) / 1024 / (int(long_) - int(short))
    verdict = "flat" if flat else (f"grows {per_hour:.1f} MiB per hour" if what == "sweep" and handles else "NOT FLAT")
    print(f"{what}: peak memory {long_} h / {short} h = {ratio:.2f}; descriptors {a[1]} -> {b[1]}, "
          f"threads {a[2]} -> {b[2]}: {verdict}")
    bad = bad or verdict == "NOT FLAT"
a, b = rows[f"sweep {short}h"], rows[f"sweep {short}h x10"]
flat = b[0] <= a[0] * 1.25 and b[1] <= a[1] + 2 and max(a[2], b[2]) <= jobs + 1
print(f"sweep over {short} h: peak memory 30 / 3 configurations = {b[0] / a[0]:.2f}: "
      f"{'flat' if flat else 'NOT FLAT'}")
bad = bad or not flat
sys.exit(1 if bad else 0)
PY
echo "== soak passed"

"""The sweep on a Dask cluster beside tumblewatch sweep on the same cores.

    python3 benchmarks/cluster_sweep.py BUILD_DIR [--seconds S] [--runs R] [--data PATH...] [--smoke]

Sweeps random configurations (fallWindow 5..30, quietMagnitude 30..90) over
the shared real recordings (../shared/data/real) when they are there, else
over the generated ones, as many as tumblewatch sweep -j N runs in about S
seconds (default 60; N = every hardware thread), and measures, best of R
runs each (default 2), interleaved:

1. `tumblewatch sweep -j N` against `python3 -m tumblewatch sweep` on a
   scheduler and one worker of N threads started beforehand on 127.0.0.1
   (the overhead of the cluster path: aim at most 10 %), and against
   `python3 -m tumblewatch sweep -j N` with no scheduler (a local cluster
   started by the command itself); every file identical to tumblewatch
   sweep's;
2. how the time falls with workers: one worker of one thread, then N
   workers of one thread each, on half the sweep;
3. the peak resident size of tumblewatch sweep and of a worker process.

--smoke runs a small sweep once (CI: it works, the files agree). Nothing
here checks a timing: it prints the figures.
"""

import argparse
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
from pathlib import Path

RANGES = ["--range", "fallWindow=5:30", "--range", "quietMagnitude=30:90"]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def dask(role):
    found = shutil.which("dask")
    return [found, role] if found else [sys.executable, "-m", f"distributed.cli.dask_{role}"]


class Cluster:
    """A scheduler and workers on 127.0.0.1, each in a process group of its own."""

    def __init__(self, folder, env):
        self.folder = folder
        self.env = env
        self.address = f"tcp://127.0.0.1:{free_port()}"
        self.processes = [self._start([*dask("scheduler"), "--host", "127.0.0.1", "--port",
                                       self.address.rsplit(":", 1)[1], "--no-dashboard"])]
        self.workers = 0

    def _start(self, command):
        return subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, cwd=self.folder,
                                env=self.env, start_new_session=True)

    def add_workers(self, count, threads):
        for _ in range(count):
            self.processes.append(self._start([*dask("worker"), self.address, "--host", "127.0.0.1", "--nthreads",
                                               str(threads), "--no-dashboard", "--memory-limit", "0",
                                               "--local-directory", str(self.folder)]))
        self.workers += count
        from distributed import Client

        with Client(self.address, timeout=60, set_as_default=False) as client:
            client.wait_for_workers(self.workers, timeout=120)

    def worker_peak_kib(self):
        """The largest peak resident size of a worker process, KiB."""
        from distributed import Client

        def peak():
            import resource

            return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss

        with Client(self.address, timeout=60, set_as_default=False) as client:
            return max(client.run(peak).values())

    def stop(self):
        for p in self.processes:
            if p.poll() is None:
                os.killpg(p.pid, signal.SIGTERM)
        for p in self.processes:
            try:
                p.wait(timeout=20)
            except subprocess.TimeoutExpired:
                os.killpg(p.pid, signal.SIGKILL)
                p.wait()


def timed(command, env):
    start = time.monotonic()
    done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, env=env)
    seconds = time.monotonic() - start
    if done.returncode != 0:
        sys.exit(f"{' '.join(map(str, command))}: exit {done.returncode}: {done.stderr}")
    return seconds


def peak_kib(command, env):
    """The peak resident size of a command, KiB (GNU time)."""
    if not os.path.exists("/usr/bin/time"):
        return None
    done = subprocess.run(["/usr/bin/time", "-f", "%M", *command], stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True, env=env)
    return int(done.stderr.strip().splitlines()[-1])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", type=Path)
    parser.add_argument("--seconds", type=float, default=60.0)
    parser.add_argument("--runs", type=int, default=2)
    parser.add_argument("--data", nargs="*", type=Path)
    parser.add_argument("--smoke", action="store_true")
    args = parser.parse_args()
    build = args.build.resolve()
    tumblewatch = build / "tumblewatch"
    env = dict(os.environ, PYTHONPATH=str(build / "python"))
    threads = os.cpu_count() or 1
    work = Path(tempfile.mkdtemp(prefix="tumblewatch-cluster-"))
    cluster = None
    try:
        data = args.data
        shared = Path(__file__).resolve().parents[1] / ".." / "shared" / "data" / "real"
        if not data:
            if shared.is_dir():
                data = [shared.resolve()]
            else:
                subprocess.run([build / "make_recordings", work / "generated"], check=True,
                               stdout=subprocess.DEVNULL)
                data = [work / "generated"]
        data = [str(d) for d in data]
        python = [sys.executable, "-m", "tumblewatch", "sweep"]

        def sweep_options(count, out):
            return [*data, "--random", str(count), *RANGES, "--out", str(out), "-q"]

        # As many configurations as tumblewatch sweep runs in about the time asked.
        probe = 40 if args.smoke else 200
        seconds = timed([tumblewatch, "sweep", *sweep_options(probe, work / "probe.csv"), "-j", str(threads)], env)
        count = probe if args.smoke else max(probe, int(probe * args.seconds / seconds))
        runs = 1 if args.smoke else args.runs
        print(f"data: {' '.join(data)}; {count} configurations ({probe} took {seconds:.1f} s); "
              f"{threads} hardware threads; best of {runs}")

        cluster = Cluster(work, env)
        cluster.add_workers(1, threads)
        expected = work / "expected.csv"
        kinds = {
            f"tumblewatch sweep -j {threads}": lambda out: [tumblewatch, "sweep", *sweep_options(count, out), "-j",
                                                            str(threads)],
            f"python3 -m tumblewatch sweep --scheduler (1 worker, {threads} threads)":
                lambda out: [*python, *sweep_options(count, out), "--scheduler", cluster.address],
            f"python3 -m tumblewatch sweep -j {threads} (local cluster)":
                lambda out: [*python, *sweep_options(count, out), "-j", str(threads)],
        }
        best = {}
        for run in range(runs):
            for i, (kind, command) in enumerate(kinds.items()):
                out = work / f"run{i}.csv"
                out.unlink(missing_ok=True)
                t = timed(command(out), env)
                best[kind] = min(best.get(kind, t), t)
                if i == 0:
                    shutil.copyfile(out, expected)
                elif out.read_bytes() != expected.read_bytes():
                    sys.exit(f"{kind}: the file differs from tumblewatch sweep's")
        print("\n== the cluster path against tumblewatch sweep on the same cores (wall-clock s, best)")
        reference = best[next(iter(kinds))]
        for kind, t in best.items():
            print(f"{kind:<66} {t:7.2f} s  {100 * (t - reference) / reference:+6.1f} %  "
                  f"{count / t:7.1f} configurations/s")
        print("every file identical to tumblewatch sweep's")

        if not args.smoke:
            print("\n== peak resident size (KiB)")
            print(f"tumblewatch sweep -j {threads}: "
                  f"{peak_kib(kinds[next(iter(kinds))](work / 'peak.csv'), env)}")
            print(f"a worker after the sweeps above: {cluster.worker_peak_kib()}")

            half = max(1, count // 2)
            print(f"\n== scaling with workers of one thread each ({half} configurations, wall-clock s, best)")
            cluster.stop()
            cluster = Cluster(work, env)
            times = {}
            for workers in sorted({1, threads}):
                cluster.add_workers(workers - cluster.workers, 1)
                for _ in range(runs):
                    out = work / "scaling.csv"
                    out.unlink(missing_ok=True)
                    t = timed([*python, *sweep_options(half, out), "--scheduler", cluster.address], env)
                    times[workers] = min(times.get(workers, t), t)
                print(f"{workers} worker(s): {times[workers]:7.2f} s  speed-up {times[1] / times[workers]:.2f}x")
    finally:
        if cluster is not None:
            cluster.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()

"""Hostile inputs and faults on the cluster path, with real processes: a
scheduler and workers on 127.0.0.1 (free ports), every wait bounded, every
process stopped by the test.

Guarded: a local cluster listens on loopback only; a killed scheduler, a
worker restarted by its nanny during the load, `--timeout inf`, a scheduler
file of garbage, absurd `--trials` and a closed standard output each end
with a message and status 2 (never a traceback or a hang), the rows kept;
a search whose every trial the detector refuses fails; `tune --resume`
continues to the rows of an uninterrupted search, and `tumblewatch.tune`
gives the command's rows.
"""

import os
import signal
import subprocess
import sys
import time

import pytest

from conftest import BUILD_DIR
from test_cluster import TIMEOUT, Cluster, here, labelled, py, rows_in

pytest.importorskip("distributed", reason="Dask (python3-distributed) is not installed: the cluster tests are skipped")
pytest.importorskip("optuna", reason="optuna (python3-optuna) is not installed: the cluster tests are skipped")
pytestmark = pytest.mark.filterwarnings("ignore::DeprecationWarning:tornado")


@pytest.fixture(scope="module")
def short(generated, tmp_path_factory):
    return labelled(generated, tmp_path_factory.mktemp("short"),
                    {"fall_forward", "fall_backward", "double_fall", "standing", "walking", "jump"})


@pytest.fixture(scope="module")
def cluster(tmp_path_factory):
    c = Cluster(tmp_path_factory.mktemp("cluster"))
    try:
        c.start_worker("w1")
        c.wait_workers(1)
        yield c
    finally:
        c.stop()


def no_traceback(stderr):
    assert "Traceback" not in stderr, stderr
    assert "terminate called" not in stderr, stderr


# --- loopback --------------------------------------------------------------------------


def _listening(pids):
    """The local (address, port) on which the processes' sockets listen (TCP, v4 and v6), as /proc/net shows
    them."""
    inodes = set()
    for pid in pids:
        try:
            for fd in os.listdir(f"/proc/{pid}/fd"):
                try:
                    target = os.readlink(f"/proc/{pid}/fd/{fd}")
                except OSError:
                    continue
                if target.startswith("socket:["):
                    inodes.add(target[8:-1])
        except OSError:
            continue
    found = []
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        with open(table) as f:
            for line in f.readlines()[1:]:
                fields = line.split()
                if fields[3] == "0A" and fields[9] in inodes:  # LISTEN
                    found.append(tuple(fields[1].split(":")))  # (address, port) in hex
    return found


def _tree(pid):
    """pid and its descendants."""
    children = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat") as f:
                    parent = int(f.read().rsplit(")", 1)[1].split()[1])
            except (OSError, ValueError, IndexError):
                continue
            children.setdefault(parent, []).append(int(entry))
    out, todo = [], [pid]
    while todo:
        p = todo.pop()
        out.append(p)
        todo.extend(children.get(p, []))
    return out


LOOPBACK = {"0100007F", "00000000000000000000000001000000"}  # 127.0.0.1, ::1 as /proc/net shows them


def test_a_local_cluster_listens_on_loopback_only(short, tmp_path):
    out = tmp_path / "local.csv"
    temporary = tmp_path / "tmp"
    temporary.mkdir()
    client = subprocess.Popen([sys.executable, "-m", "tumblewatch", "sweep", str(short), "--random", "200000",
                               "--range", "fallWindow=4:40", "--range", "quietMagnitude=30:90", "--max-configs",
                               "200000", "--out", str(out), "-q", "-j", "1"],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                              env=dict(os.environ, TMPDIR=str(temporary)))
    seen = set()
    try:
        deadline = time.monotonic() + TIMEOUT
        while rows_in(out) == 0 and client.poll() is None and time.monotonic() < deadline:
            seen.update(_listening(_tree(client.pid)))
            time.sleep(0.1)
        seen.update(_listening(_tree(client.pid)))
        assert client.poll() is None, client.communicate()
    finally:
        client.send_signal(signal.SIGINT)
        try:
            client.communicate(timeout=60)
        except subprocess.TimeoutExpired:
            client.kill()
            client.communicate()
    assert len(seen) >= 2, f"expected the scheduler's and the worker's sockets, saw {seen}"
    beyond = {(address, int(port, 16)) for address, port in seen if address not in LOOPBACK}
    assert not beyond, f"sockets listening beyond loopback: {beyond}"
    assert client.returncode == 130
    # The worker's space (lock files and all) goes with the cluster.
    assert list(temporary.iterdir()) == []


# --- refused before any work -------------------------------------------------------------


def test_absurd_timeouts_trials_and_scheduler_files_are_refused(short, tmp_path, capsys):
    out = tmp_path / "x.csv"
    sweep = ["sweep", short, "--grid", "fallWindow=8,10", "--out", out]
    status, stderr = here(capsys, *sweep, "--scheduler", "tcp://127.0.0.1:1", "--timeout", "inf")
    assert status == 2 and "finite number of seconds" in stderr
    garbage = tmp_path / "garbage.json"
    garbage.write_text("garbage\n")
    status, stderr = here(capsys, *sweep, "--scheduler-file", garbage, "--timeout", "3")
    assert status == 2 and "not a scheduler file" in stderr
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    status, stderr = here(capsys, *sweep, "--scheduler-file", fifo, "--timeout", "3")
    assert status == 2 and "not a regular file" in stderr
    status, stderr = here(capsys, *sweep, "--scheduler-file", tmp_path / "missing.json", "--timeout", "3")
    assert status == 2 and "No such file" in stderr
    tune = ["tune", short, "--range", "fallWindow=5:30", "--out", out, "--scheduler", "tcp://127.0.0.1:1"]
    for trials, message in [("99999999999999999999", "expected 1 to 9223372036854775807"),
                            ("9223372036854775808", "expected 1 to 9223372036854775807"),
                            ("1000000000000", "more than --max-trials 100000")]:
        status, stderr = here(capsys, *tune, "--trials", trials)
        assert status == 2 and message in stderr, stderr
    assert not out.exists()
    status, stderr = here(capsys, *tune, "--trials", "5", "--resume")
    assert status == 2 and "no such file (nothing to continue)" in stderr
    status, stderr = here(capsys, *sweep, "--resume", "--scheduler", "tcp://127.0.0.1:1")
    assert status == 2 and "no such file (nothing to continue)" in stderr
    for option, text in (("--range", "fallWindw=5:30"), ("--grid", "quietMagnitudo=50,60")):
        status, stderr = here(capsys, "sweep", short, "--random", "3", option, text, "--out", out)
        assert status == 2 and "(did you mean " in stderr, stderr
    for address in ("foo://bar", "", "tcp://127.0.0.1", "tcp://:80"):
        start = time.monotonic()
        done = py(*sweep, "--scheduler", address, "--timeout", "3")
        no_traceback(done.stderr)
        assert done.returncode == 2 and "not a scheduler's address" in done.stderr, done.stderr
        assert time.monotonic() - start < 10


def test_a_closed_standard_output_fails_with_status_2(cluster, short, tmp_path):
    out = tmp_path / "closed.csv"
    done = subprocess.run([sys.executable, "-m", "tumblewatch", "sweep", str(short), "--grid", "fallWindow=8,10",
                           "--out", str(out), "--scheduler", cluster.address],
                          stdout=None, stderr=subprocess.PIPE, text=True, timeout=TIMEOUT, close_fds=True,
                          preexec_fn=lambda: os.close(1))
    no_traceback(done.stderr)
    assert done.returncode == 2 and "standard output: cannot be written" in done.stderr
    assert rows_in(out) == 2
    assert out.read_text().startswith("# tumblewatch sweep ")


# --- faults while running ----------------------------------------------------------------


def test_a_killed_scheduler_fails_with_status_2_and_keeps_the_rows(short, tmp_path):
    own = Cluster(tmp_path)
    try:
        own.start_worker("w1")
        own.wait_workers(1)
        out = tmp_path / "rows.csv"
        client = subprocess.Popen([sys.executable, "-m", "tumblewatch", "sweep", str(short), "--random", "50000",
                                   "--range", "fallWindow=4:40", "--range", "quietMagnitude=30:90", "--out",
                                   str(out), "--chunk", "20", "-q", "--scheduler", own.address, "--timeout", "2"],
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        deadline = time.monotonic() + TIMEOUT
        while rows_in(out) == 0 and client.poll() is None and time.monotonic() < deadline:
            time.sleep(0.05)
        os.killpg(own.scheduler.pid, signal.SIGKILL)
        own.scheduler.wait(timeout=30)
        _, stderr = client.communicate(timeout=TIMEOUT)
    finally:
        own.stop()
    no_traceback(stderr)
    assert client.returncode == 2, stderr
    assert "kept in" in stderr and "--resume" in stderr
    assert rows_in(out) > 0


SLOW_LOAD = """
import os, time
import tumblewatch._cluster as cluster

_marker = {marker!r}
_real = cluster._tumblewatch


class _Slow:
    def __getattr__(self, name):
        return getattr(_real, name)

    def WorkerSweep(self, arguments):
        if not os.path.exists(_marker):
            with open(_marker, "w") as f:
                f.write(str(os.getpid()))
            time.sleep(30)
        return _real.WorkerSweep(arguments)


cluster._tumblewatch = _Slow()
"""


@pytest.mark.parametrize("send_data", [False, True], ids=["paths", "sent"])
def test_a_worker_restarted_during_the_load_never_hangs(short, tmp_path, send_data):
    # The worker process is killed while it loads; its nanny starts a new one.
    # The sweep then either completes on the new worker, with the file of an
    # undisturbed run, or fails with a message and status 2; never a
    # traceback and never a wait without end.
    marker = tmp_path / "loading.pid"
    preload = tmp_path / "slow_load.py"
    preload.write_text(SLOW_LOAD.format(marker=str(marker)))
    own = Cluster(tmp_path)
    try:
        own.start_worker("w1", preload=preload)
        own.wait_workers(1)
        out = tmp_path / "rows.csv"
        args = [sys.executable, "-m", "tumblewatch", "sweep", str(short), "--grid", "fallWindow=8:12:2", "--out",
                str(out), "-q", "--scheduler", own.address, "--timeout", "3"]
        if send_data:
            args.append("--send-data")
        client = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        deadline = time.monotonic() + TIMEOUT
        while not (marker.exists() and marker.read_text()) and time.monotonic() < deadline:
            time.sleep(0.05)
        os.kill(int(marker.read_text()), signal.SIGKILL)
        start = time.monotonic()
        _, stderr = client.communicate(timeout=TIMEOUT)
    finally:
        own.stop()
    no_traceback(stderr)
    assert time.monotonic() - start < 60
    assert client.returncode in (0, 2), stderr
    if client.returncode == 2:
        assert "nothing was run" in stderr or "kept in" in stderr, stderr
    else:
        assert rows_in(out) == 3


# --- the search ----------------------------------------------------------------------------


def test_a_search_whose_every_trial_is_refused_fails(cluster, short, tmp_path):
    out = tmp_path / "refused.csv"
    done = py("tune", short, "--range", "fallWindow=-100000:64", "--trials", "6",
              "--out", out, "--scheduler", cluster.address)
    no_traceback(done.stderr)
    assert done.returncode == 2, done.stderr
    assert "every one of the 6 trials was refused by the detector" in done.stderr


def test_tune_resume_gives_the_rows_of_an_uninterrupted_search(cluster, short, tmp_path):
    import tumblewatch

    search = [short, "--labels", short / "manifest.csv", "--range", "fallWindow=4:40", "--range",
              "quietMagnitude=30:90", "--trials", "40", "--population", "8", "--seed", "5"]
    whole = tmp_path / "whole.csv"
    done = py("tune", *search, "--out", whole, "-q", "--scheduler", cluster.address)
    assert done.returncode == 0, done.stderr
    expected = whole.read_bytes()
    lines = expected.split(b"\n")
    # Cut in the middle of a row of the third population, and cut at the end
    # of a population: both continue to the same file.
    for keep in (len(b"\n".join(lines[:2 + 19])) + 7, len(b"\n".join(lines[:2 + 16])) + 1):
        cut = tmp_path / f"cut{keep}.csv"
        cut.write_bytes(expected[:keep])
        done = py("tune", *search, "--out", cut, "-q", "--resume", "--scheduler", cluster.address)
        assert done.returncode == 0, done.stderr
        assert cut.read_bytes() == expected
    # Other options: refused, the file unchanged.
    cut = tmp_path / "other.csv"
    cut.write_bytes(expected[:300])
    done = py("tune", *search[:-1], "6", "--out", cut, "-q", "--resume", "--scheduler", cluster.address)
    assert done.returncode == 2 and "another search" in done.stderr
    assert cut.read_bytes() == expected[:300]

    # The same search from Python, on this machine and on the cluster.
    import pandas

    frame = pandas.read_csv(whole, skiprows=1)
    for client in (None, cluster.address):
        rows = tumblewatch.tune(short, labels=short / "manifest.csv", ranges={"fallWindow": (4, 40),
                                "quietMagnitude": (30, 90)}, trials=40, population=8, seed=5, client=client,
                                threads=2 if client is None else None, progress=False)
        assert rows.equals(frame), client


def test_tune_from_python_checks_its_arguments(short):
    import tumblewatch

    with pytest.raises(ValueError, match="trials: expected 1 to max_trials"):
        tumblewatch.tune(short, ranges={"fallWindow": (5, 30)}, trials=10**12)
    with pytest.raises(ValueError, match="ranges: the search needs"):
        tumblewatch.tune(short, trials=3)
    with pytest.raises(ValueError, match="every one of the"):
        tumblewatch.tune(short, ranges={"fallWindow": (-100000, 64)}, trials=4,
                         threads=1, progress=False)


def test_a_long_local_search_stops_on_ctrl_c(short, tmp_path):
    script = (
        "import os, signal, threading, time, tumblewatch\n"
        "threading.Timer(2.0, lambda: (print('sent', time.monotonic(), flush=True),"
        " os.kill(os.getpid(), signal.SIGINT))).start()\n"
        "try:\n"
        f"    tumblewatch.tune({str(short)!r}, ranges={{'fallWindow': (4, 40), 'quietMagnitude': (30, 90)}},"
        " trials=100000, population=4, threads=1, progress=False)\n"
        "except KeyboardInterrupt:\n"
        "    print('interrupted', time.monotonic(), threading.active_count(), flush=True)\n")
    env = dict(os.environ, PYTHONPATH=str(BUILD_DIR / "python"))
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=TIMEOUT, env=env)
    lines = dict(line.split(" ", 1) for line in done.stdout.splitlines())
    assert "interrupted" in lines, (done.stdout, done.stderr)
    stopped, threads = lines["interrupted"].split()
    assert float(stopped) - float(lines["sent"]) < 1.0
    assert int(threads) == 1


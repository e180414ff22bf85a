"""The sweep and the search on a real Dask cluster: a `dask scheduler` and two
`dask worker` processes on 127.0.0.1 (free ports), started once for the module
and stopped at its end (also on failure), every wait bounded.

Checked: the file of `python3 -m tumblewatch sweep` is byte for byte that of
`tumblewatch sweep` (also with --send-data, in JSON lines, and from the API);
a worker killed mid-sweep loses nothing; an interrupted client leaves a file
that either program resumes; a worker with another tumblewatch is refused
before any work; an unreachable scheduler is reported in bounded time; the
options that `tumblewatch sweep` refuses are refused with its messages before
the cluster is reached; `tune` is reproducible from its seed and its rows are
what `eval` reports.
"""

import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import time
from pathlib import Path

import pytest

from conftest import BUILD_DIR, program

pytest.importorskip("distributed", reason="Dask (python3-distributed) is not installed: the cluster tests are skipped")
pytest.importorskip("optuna", reason="optuna (python3-optuna) is not installed: the cluster tests are skipped")
pytestmark = pytest.mark.filterwarnings("ignore::DeprecationWarning:tornado")

TIMEOUT = 120  # seconds any one command may take

FALLS = {"fall_forward", "fall_backward", "fall_lateral", "double_fall", "tumble", "long_mixed"}


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def dask_command(role):
    dask = shutil.which("dask")
    if dask:
        return [dask, role]
    return [sys.executable, "-m", f"distributed.cli.dask_{role}"]


class Cluster:
    """A scheduler and its workers as processes of their own (each in its own
    process group, so that a kill reaches the nanny and its worker)."""

    def __init__(self, folder):
        self.folder = folder
        self.address = f"tcp://127.0.0.1:{free_port()}"
        self.scheduler_file = folder / "scheduler.json"
        self.workers = {}
        self.scheduler = self._start("scheduler", [
            *dask_command("scheduler"), "--host", "127.0.0.1", "--port", self.address.rsplit(":", 1)[1],
            "--no-dashboard", "--scheduler-file", str(self.scheduler_file)])

    def _start(self, name, command):
        log = open(self.folder / f"{name}.log", "wb")
        env = dict(os.environ, PYTHONPATH=os.pathsep.join(
            [str(BUILD_DIR / "python")] + [p for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p]))
        return subprocess.Popen(command, stdout=log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                start_new_session=True, cwd=self.folder, env=env)

    def start_worker(self, name, preload=None):
        command = [*dask_command("worker"), self.address, "--host", "127.0.0.1", "--nthreads", "1",
                   "--no-dashboard", "--memory-limit", "0", "--death-timeout", "60", "--name", name,
                   "--local-directory", str(self.folder / name)]
        if preload:
            command += ["--preload", str(preload)]
        self.workers[name] = self._start(name, command)

    def wait_workers(self, count, timeout=60):
        from distributed import Client

        with Client(self.address, timeout=30, set_as_default=False) as client:
            deadline = time.monotonic() + timeout
            while len(client.scheduler_info()["workers"]) != count:
                if time.monotonic() > deadline:
                    raise TimeoutError(f"the scheduler has {len(client.scheduler_info()['workers'])} workers, "
                                       f"not {count}; logs in {self.folder}")
                time.sleep(0.1)

    def kill(self, name):
        process = self.workers.pop(name)
        os.killpg(process.pid, signal.SIGKILL)
        process.wait(timeout=30)

    def stop(self):
        processes = list(self.workers.values()) + [self.scheduler]
        for p in processes:
            if p.poll() is None:
                os.killpg(p.pid, signal.SIGTERM)
        for p in processes:
            try:
                p.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.killpg(p.pid, signal.SIGKILL)
                p.wait(timeout=10)


@pytest.fixture(scope="module")
def cluster(tmp_path_factory):
    c = Cluster(tmp_path_factory.mktemp("cluster"))
    try:
        c.start_worker("w1")
        c.start_worker("w2")
        c.wait_workers(2)
        yield c
    finally:
        c.stop()


def labelled(generated, folder, names=None):
    """The generated recordings (of names, else all) in folder with a manifest
    that gives them subjects (for held-out folds)."""
    lines = ["path,label,activity,subject"]
    for i, path in enumerate(sorted(generated.glob("*.bin"))):
        if names is not None and path.stem not in names:
            continue
        shutil.copyfile(path, folder / path.name)
        label = "fall" if path.stem in FALLS else "adl"
        lines.append(f"{path.name},{label},{path.stem},s{i % 4 + 1}")
    (folder / "manifest.csv").write_text("\n".join(lines) + "\n")
    return folder


@pytest.fixture(scope="module")
def recordings(generated, tmp_path_factory):
    """Every generated recording, labelled."""
    return labelled(generated, tmp_path_factory.mktemp("labelled"))


@pytest.fixture(scope="module")
def short(generated, tmp_path_factory):
    """The short generated recordings (about 6,000 samples in all), labelled:
    for sweeps of many cheap configurations."""
    return labelled(generated, tmp_path_factory.mktemp("short"),
                    {"fall_forward", "fall_backward", "double_fall", "standing", "walking", "jump"})


def run(command, timeout=TIMEOUT, **kwargs):
    return subprocess.run([str(c) for c in command], capture_output=True, text=True, timeout=timeout, **kwargs)


def py(*args, **kwargs):
    return run([sys.executable, "-m", "tumblewatch", *args], **kwargs)


def here(capsys, *args):
    """python3 -m tumblewatch ARGS run in this process (for what is refused
    before the cluster is reached): the exit status and standard error."""
    from tumblewatch._cli import main

    capsys.readouterr()
    try:
        status = main([str(a) for a in args])
    except SystemExit as e:
        status = e.code
    return status, capsys.readouterr().err


def cli(*args):
    return run([program("tumblewatch"), *args])


def reference(tmp_path, name, sweep):
    """The file that tumblewatch sweep writes for the sweep's options."""
    out = tmp_path / name
    done = cli("sweep", *sweep, "--out", out, "-q", "-j", "2")
    assert done.returncode == 0, done.stderr
    return out.read_bytes()


def rows_in(path):
    return max(0, path.read_bytes().count(b"\n") - 2) if path.exists() else 0


def start_sweep(sweep, out, cluster, chunk, *options):
    """python3 -m tumblewatch sweep in the background, once the first rows are
    in out (or it ended)."""
    client = subprocess.Popen([sys.executable, "-m", "tumblewatch", "sweep", *map(str, sweep), "--out", str(out),
                               "--chunk", str(chunk), "-q", "--scheduler", cluster.address, *options],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    deadline = time.monotonic() + TIMEOUT
    while rows_in(out) == 0 and client.poll() is None and time.monotonic() < deadline:
        time.sleep(0.02)
    return client


def test_sweep_file_is_that_of_tumblewatch_sweep(cluster, recordings, tmp_path):
    sweep = [recordings, "--labels", recordings / "manifest.csv", "--grid", "fallWindow=6:20:2",
             "--grid", "quietMagnitude=50,70", "--folds", "2"]
    expected = reference(tmp_path, "expected.csv", sweep)
    out = tmp_path / "cluster.csv"
    results = {name: (tmp_path / f"{name}.mine", tmp_path / f"{name}.theirs") for name in ("best", "summary", "html")}
    done = py("sweep", *sweep, "--out", out, *[a for n, (mine, _) in results.items() for a in (f"--{n}", mine)],
              "--scheduler", cluster.address)
    assert done.returncode == 0, done.stderr
    assert out.read_bytes() == expected
    # tumblewatch sweep resuming the finished file: the same best
    # configuration, summary (the nested selection of the C++ core) and page,
    # and the same terminal summary but for this run's count and time.
    theirs = cli("sweep", *sweep, "--out", out, "--resume",
                 *[a for n, (_, other) in results.items() for a in (f"--{n}", other)])
    assert theirs.returncode == 0, theirs.stderr
    for mine, other in results.values():
        assert mine.read_bytes() == other.read_bytes(), mine
    assert json.loads(results["summary"][0].read_text())["nested"]["chosen"] == 2
    assert "Tuned on other subjects, tested on new ones (2 folds" in done.stdout
    assert done.stdout.splitlines()[3:] == theirs.stdout.splitlines()[3:]

    # The manifest's recordings sent by the client, in JSON lines, through the
    # scheduler file.
    sweep = sweep[1:] + ["--format", "jsonl"]
    jsonl = reference(tmp_path, "expected.jsonl", sweep)
    out = tmp_path / "sent.jsonl"
    done = py("sweep", *sweep, "--out", out, "--send-data", "-q", "--scheduler-file", cluster.scheduler_file)
    assert done.returncode == 0, done.stderr
    assert out.read_bytes() == jsonl


def test_api_sweep_on_a_client_is_the_local_sweep(cluster, recordings):
    import tumblewatch
    from distributed import Client

    grid = {"fallWindow": range(6, 21, 4), "impactSoftSum": [1000, 1350]}
    local = tumblewatch.sweep(recordings, grid=grid, labels=recordings / "manifest.csv", folds=2)
    with Client(cluster.address, timeout=30, set_as_default=False) as client:
        remote = tumblewatch.sweep(recordings, grid=grid, labels=recordings / "manifest.csv", folds=2, client=client)
        sent = tumblewatch.sweep(recordings, grid=grid, labels=recordings / "manifest.csv", folds=2, client=client,
                                 send_data=True)
    for result in (remote, sent):
        assert result.equals(local)
        assert result.sweep_id == local.sweep_id
        assert list(result.front["config"]) == list(local.front["config"])
        assert result.best.name == local.best.name and result.base.equals(local.base)
        assert result.nested == local.nested and result.nested["chosen"] == 2


def test_a_killed_worker_loses_nothing(cluster, short, tmp_path):
    sweep = [short, "--labels", short / "manifest.csv", "--random", "400", "--range", "fallWindow=4:40",
             "--range", "quietMagnitude=30:90"]
    expected = reference(tmp_path, "expected.csv", sweep)
    out = tmp_path / "cluster.csv"
    client = start_sweep(sweep, out, cluster, 4)
    try:
        assert client.poll() is None, "the sweep ended before a worker could be killed"
        cluster.kill("w2")
        stdout, stderr = client.communicate(timeout=TIMEOUT)
    finally:
        if client.poll() is None:
            client.kill()
        cluster.start_worker("w3")
    assert client.returncode == 0, stderr
    assert out.read_bytes() == expected
    cluster.wait_workers(2)


def test_a_scheduler_left_without_workers_stops_the_sweep(short, tmp_path):
    """Its only worker gone, the sweep stops after three times --timeout (at
    least 5 s) with a message instead of waiting forever; the rows are kept."""
    sweep = [short, "--labels", short / "manifest.csv", "--random", "400", "--range", "fallWindow=4:40",
             "--range", "recordLength=2:8"]
    expected = reference(tmp_path, "expected.csv", sweep)
    alone = Cluster(tmp_path)
    try:
        alone.start_worker("only")
        alone.wait_workers(1)
        out = tmp_path / "alone.csv"
        client = start_sweep(sweep, out, alone, 4, "--timeout", "1")
        try:
            assert client.poll() is None, "the sweep ended before its worker could be killed"
            alone.kill("only")
            start = time.monotonic()
            _, stderr = client.communicate(timeout=TIMEOUT)
        finally:
            if client.poll() is None:
                client.kill()
    finally:
        alone.stop()
    assert client.returncode == 2, stderr
    assert "the scheduler has had no worker for 5 s" in stderr and "continue with --resume" in stderr
    assert time.monotonic() - start < 30
    kept = out.read_bytes()
    assert kept.endswith(b"\n") and expected.startswith(kept)
    done = cli("sweep", *sweep, "--out", out, "--resume", "-q")
    assert done.returncode == 0, done.stderr
    assert out.read_bytes() == expected


def test_an_interrupted_client_is_resumed_by_either_program(cluster, short, tmp_path):
    sweep = [short, "--random", "300", "--range", "fallWindow=4:40", "--range", "recordLength=2:8", "--seed", "7",
             "--labels", short / "manifest.csv"]
    expected = reference(tmp_path, "expected.csv", sweep)
    out = tmp_path / "stopped.csv"
    client = start_sweep(sweep, out, cluster, 3)
    try:
        client.send_signal(signal.SIGTERM)
        _, stderr = client.communicate(timeout=TIMEOUT)
    finally:
        if client.poll() is None:
            client.kill()
    assert client.returncode == 130, stderr
    assert "continue with --resume" in stderr
    kept = out.read_bytes()
    assert 0 < rows_in(out) < 300 and kept.endswith(b"\n") and expected.startswith(kept)

    # tumblewatch sweep continues what the cluster left ...
    done = cli("sweep", *sweep, "--out", out, "--resume", "-q")
    assert done.returncode == 0, done.stderr
    assert out.read_bytes() == expected

    # ... and the cluster continues what tumblewatch sweep left, a row cut short included.
    lines = expected.split(b"\n")
    out.write_bytes(b"\n".join(lines[:40]) + b"\n" + lines[40][:7])
    done = py("sweep", *sweep, "--out", out, "--resume", "-q", "--scheduler", cluster.address)
    assert done.returncode == 0, done.stderr
    assert out.read_bytes() == expected

    # A finished file resumes to itself; another sweep's file is refused as tumblewatch sweep refuses it.
    done = py("sweep", *sweep, "--out", out, "--resume", "-q", "--scheduler", cluster.address)
    assert done.returncode == 0 and out.read_bytes() == expected
    other = [o if o != "7" else "8" for o in sweep]
    mine = py("sweep", *other, "--out", out, "--resume", "-q", "--scheduler", cluster.address)
    theirs = cli("sweep", *other, "--out", out, "--resume", "-q")
    assert mine.returncode == theirs.returncode == 2
    assert mine.stderr == theirs.stderr


@pytest.mark.skipif(not os.path.exists("/dev/full"), reason="no /dev/full")
def test_a_failed_write_to_standard_output_gives_status_2(cluster, short, tmp_path):
    sweep = [short, "--grid", "fallWindow=8:12:2", "--out"]
    with open("/dev/full", "w") as full:
        mine = subprocess.run([sys.executable, "-m", "tumblewatch", "sweep", *map(str, sweep), tmp_path / "mine.csv",
                               "--scheduler", cluster.address], stdout=full, stderr=subprocess.PIPE, text=True,
                              timeout=TIMEOUT)
        theirs = subprocess.run([program("tumblewatch"), "sweep", *map(str, sweep), tmp_path / "theirs.csv"],
                                stdout=full, stderr=subprocess.PIPE, text=True, timeout=TIMEOUT)
    assert mine.returncode == theirs.returncode == 2
    assert mine.stderr == theirs.stderr and "standard output: cannot be written" in mine.stderr
    assert (tmp_path / "mine.csv").read_bytes() == (tmp_path / "theirs.csv").read_bytes()


def test_a_worker_with_another_version_is_refused(cluster, recordings, tmp_path):
    preload = tmp_path / "other_version.py"
    preload.write_text("import tumblewatch\ntumblewatch.__version__ = '0.0.0-other'\n")
    cluster.start_worker("other", preload=preload)
    try:
        cluster.wait_workers(3)
        out = tmp_path / "refused.csv"
        done = py("sweep", recordings, "--grid", "fallWindow=8,9", "--out", out, "--scheduler", cluster.address)
        assert done.returncode == 2
        assert "runs tumblewatch 0.0.0-other" in done.stderr and "nothing was run" in done.stderr
        assert not out.exists()
    finally:
        cluster.kill("other")
    cluster.wait_workers(2)


def test_an_unreachable_scheduler_is_reported_in_bounded_time(recordings, tmp_path, capsys):
    start = time.monotonic()
    status, stderr = here(capsys, "sweep", recordings, "--grid", "fallWindow=8,9", "--out", tmp_path / "x.csv",
                          "--scheduler", f"tcp://127.0.0.1:{free_port()}", "--timeout", "2")
    assert status == 2
    assert "cannot reach the scheduler at tcp://127.0.0.1:" in stderr and "within 2 s" in stderr
    assert time.monotonic() - start < 60
    assert not (tmp_path / "x.csv").exists()
    status, stderr = here(capsys, "tune", recordings, "--range", "fallWindow=8:9", "--trials", "2", "--out",
                          tmp_path / "x.csv", "--scheduler-file", tmp_path / "none.json")
    assert status == 2 and "--scheduler-file" in stderr


def test_a_worker_that_cannot_read_the_recordings_is_named(cluster, recordings, tmp_path, monkeypatch):
    from distributed import Client
    from tumblewatch import _cluster, _sweep, _tumblewatch

    folder = tmp_path / "only-here"
    shutil.copytree(recordings, folder)
    expected = reference(tmp_path, "expected.csv", [folder, "--grid", "fallWindow=8:12:1"])
    arguments = _sweep.sweep_arguments(folder, ["fallWindow=8:12:1"], None, 0, 1, 0, None, None, None, 1,
                                       10.0, 100)
    plan = _tumblewatch.sweep_plan(arguments)
    packed = _cluster.pack_recordings(plan, _cluster.absolute_arguments(arguments))
    shutil.rmtree(folder)  # gone before the workers look, as on machines that do not have it
    with Client(cluster.address, timeout=30, set_as_default=False) as client:
        job = _cluster.ClusterSweep(client, arguments, plan, send_data=False)
        with pytest.raises(_cluster.ClusterError, match=r"worker tcp://127\.0\.0\.1:\d+: .*only-here.*--send-data"):
            job.load(30)
        job.close()
        # Sent from the client (packed while it had them), they need no path on the workers.
        monkeypatch.setattr(_cluster, "pack_recordings", lambda plan, arguments: packed)
        job = _cluster.ClusterSweep(client, arguments, plan, send_data=True)
        try:
            job.load(30)
            rows = [job.header]
            job.run(0, plan["count"], lambda text, refused: rows.append(text) or True)
        finally:
            job.close()
    assert "".join(rows).encode() == expected


@pytest.mark.parametrize("options", [
    ["--grid", "fallWindow=8:4:1"],
    ["--grid", "noSuchParam=1,2"],
    ["--grid", "fallWindow=8,9", "--grid", "fallWindow=10"],
    ["--random", "5"],
    ["--range", "fallWindow=1:5"],
    ["--grid", "fallWindow=8,9", "--folds", "2"],
    ["--grid", "fallWindow=8,9", "--objective", "max:nothing"],
    ["--grid", "fallWindow=1:100000", "--max-configs", "10"],
    ["--grid", "fallWindow=8,9", "--set", "fallWindow=0"],
    ["--grid", "fallWindow=8,9", "--labels", "MISSING"],
    ["--grid", "fallWindow=8,9", "--best", "FOLDER"],
    ["--grid", "fallWindow=8,9", "--html", "INPUT"],
])
def test_refused_options_give_the_messages_of_tumblewatch_sweep(recordings, tmp_path, options, capsys):
    """Refused before the cluster is reached: the scheduler named here does
    not exist, and the message is the option's."""
    names = {"MISSING": tmp_path / "missing.csv", "FOLDER": tmp_path, "INPUT": recordings / "walking.bin"}
    options = [names.get(o, o) for o in options]
    out = tmp_path / "rows.csv"
    status, stderr = here(capsys, "sweep", recordings, *options, "--out", out, "--scheduler", "tcp://127.0.0.1:1")
    theirs = cli("sweep", recordings, *options, "--out", out)
    assert theirs.returncode == 2
    assert status == 2, stderr
    assert stderr == theirs.stderr
    assert not out.exists()


def test_an_existing_file_without_resume_is_refused(recordings, tmp_path, capsys):
    out = tmp_path / "rows.csv"
    out.write_text("something\n")
    status, stderr = here(capsys, "sweep", recordings, "--grid", "fallWindow=8,9", "--out", out, "--scheduler",
                          "tcp://127.0.0.1:1")
    theirs = cli("sweep", recordings, "--grid", "fallWindow=8,9", "--out", out)
    assert status == theirs.returncode == 2 and stderr == theirs.stderr
    assert out.read_text() == "something\n"


@pytest.mark.parametrize("options, message", [
    (["--range", "fallWindow=5:20", "--trials", "0"], "argument --trials: expected 1 to 9223372036854775807, got 0"),
    (["--trials", "5"], "tune needs at least one --range NAME=LO:HI"),
    (["--range", "fallWindow=20:5", "--trials", "5"], "--range fallWindow=20:5: LO is greater than HI"),
    (["--range", "fallWindow=64:90", "--trials", "5"], "--range fallWindow=64:90: the detector refuses every value"),
    (["--range", "tiltLimit=15:15", "--trials", "5"], "--range tiltLimit=15:15: the detector refuses every value"),
    (["--range", "fallWindow=5:20", "--trials", "5", "--seed", "4294967296"], "takes seeds 0 to 4294967295"),
])
def test_tune_refuses_bad_input_before_any_work(recordings, tmp_path, options, message, capsys):
    out = tmp_path / "trials.csv"
    status, stderr = here(capsys, "tune", recordings, *options, "--out", out, "--scheduler", "tcp://127.0.0.1:1")
    assert status == 2
    assert message in stderr
    assert not out.exists()


def test_tune_is_reproducible_and_eval_gives_its_rows(cluster, recordings, tmp_path):
    search = [recordings, "--labels", recordings / "manifest.csv", "--range", "fallWindow=4:30", "--range",
              "quietMagnitude=30:90", "--range", "impactSoftSum=800:1600", "--trials", "24", "--population", "8",
              "--seed", "3", "--folds", "2"]
    first = tmp_path / "first.csv"
    best = tmp_path / "best.toml"
    summary = tmp_path / "summary.json"
    done = py("tune", *search, "--out", first, "--best", best, "--summary", summary, "--scheduler", cluster.address)
    assert done.returncode == 0, done.stderr
    assert "Pareto front" in done.stdout and "tumblewatch tune: 24 trials" in done.stdout
    # The nested selection over the trials: each fold's choice on the other
    # fold alone, scored on its own subjects.
    assert "Tuned on other subjects, tested on new ones (2 folds" in done.stdout
    nested = json.loads(summary.read_text())["nested"]
    assert len(nested["folds"]) == 2 and all(0 <= f["config"] < 24 for f in nested["folds"] if f["config"] is not None)
    # One worker of one thread, started here: the same trials.
    again = tmp_path / "again.csv"
    done = py("tune", *search, "--out", again, "-q", "-j", "1")
    assert done.returncode == 0, done.stderr
    assert again.read_bytes() == first.read_bytes()

    lines = first.read_text().splitlines()
    assert lines[0].startswith("# tumblewatch sweep ") and "24 trials of optuna's NSGA-II search" in lines[0]
    columns = lines[1].split(",")
    rows = [dict(zip(columns, line.split(","))) for line in lines[2:]]
    assert [int(r["config"]) for r in rows] == list(range(24))
    for row in rows[::6]:
        sets = [a for name in ("fallWindow", "quietMagnitude", "impactSoftSum")
                for a in ("--set", f"{name}={row[name]}")]
        report = tmp_path / "eval.json"
        done = cli("eval", recordings, "--labels", recordings / "manifest.csv", *sets, "--json", report, "-q")
        assert done.returncode in (0, 1), done.stderr
        summary = json.loads(report.read_text())["summary"]
        for column in ("tp", "fn", "fp", "tn"):
            assert int(row[column]) == summary[column]
        for column in ("sensitivity", "false_alarms_per_hour", "f1"):
            assert row[column] == ("" if summary[column] is None else f"{summary[column]:.6f}")
    # The best configuration's file is one that eval takes.
    done = cli("eval", recordings, "--labels", recordings / "manifest.csv", "--config", best, "-q")
    assert done.returncode in (0, 1), done.stderr


def test_chunks_cover_the_configurations_in_order_and_shrink_toward_the_end():
    from tumblewatch._cluster import chunk_sizes

    for first, end, threads, samples in [(0, 10_000, 4, 100_000), (17, 5_000, 2, 4_000_000), (0, 3, 8, 10),
                                         (0, 100_000, 64, 1_000)]:
        chunks = chunk_sizes(first, end, threads, samples)
        assert [at for at, _ in chunks] == [first] + [at + n for at, n in chunks[:-1]]
        assert chunks[-1][0] + chunks[-1][1] == end and all(n >= 1 for _, n in chunks)
        sizes = [n for _, n in chunks]
        assert sizes[:-1] == sorted(sizes[:-1], reverse=True)
        assert max(sizes) * samples <= max(200_000_000, samples)
    # Small configurations come in chunks of at least 4 million samples.
    assert min(n for _, n in chunk_sizes(0, 10_000, 2, 1_000)[:-1]) >= 4_000
    assert chunk_sizes(5, 12, 2, 10, chunk=3) == [(5, 3), (8, 3), (11, 1)]


def test_several_manifests_and_folds_by_dataset_on_a_client(cluster, generated, tmp_path):
    """Several manifests, folds by dataset and a timed fall reach the workers, with or without the data."""
    import tumblewatch
    from distributed import Client

    manifests = []
    for k, dataset in enumerate(("one", "two", "three")):
        folder = tmp_path / dataset
        folder.mkdir()
        lines = ["path,label,subject,dataset,fall_start,fall_end"]
        for name in ("fall_forward", "walking"):
            shutil.copyfile(generated / f"{name}.bin", folder / f"{name}.bin")
            timing = f"{100 * k},{100 * k + 50}" if name.startswith("fall") and k == 0 else ","
            lines.append(f"{name}.bin,{'fall' if name.startswith('fall') else 'adl'},s{k},{dataset},{timing}")
        (folder / "manifest.csv").write_text("\n".join(lines) + "\n")
        manifests.append(folder / "manifest.csv")
    options = dict(grid={"fallWindow": [8, 12, 20]}, labels=manifests, folds=3, folds_by="dataset")
    local = tumblewatch.sweep(**options)
    with Client(cluster.address, timeout=30, set_as_default=False) as client:
        remote = tumblewatch.sweep(**options, client=client)
        sent = tumblewatch.sweep(**options, client=client, send_data=True)
    for result in (remote, sent):
        assert result.equals(local)
        assert result.sweep_id == local.sweep_id
        assert result.nested == local.nested
    assert sorted(s for fold in local.nested["folds"] for s in fold["subjects"]) == ["one", "three", "two"]

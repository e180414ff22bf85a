"""Hostile inputs to the Python module: bounded threads and grids, threads the
system cannot create, Ctrl-C within a second, progress, Python's own terms.

Every test here guards a row of the December 2026 review of bad input; the
name says which promise it keeps.
"""

import os
import resource
import signal
import subprocess
import sys
import textwrap
import time

import numpy as np
import pytest

import tumblewatch
from conftest import BUILD_DIR, SOURCE_DIR, program, standing

EXAMPLES = SOURCE_DIR / "examples"
SANITIZED = "asan" in os.environ.get("LD_PRELOAD", "")


def python_env():
    return dict(os.environ, PYTHONPATH=os.pathsep.join(
        [str(BUILD_DIR / "python")] + [p for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p]))


def write_dataset(path, samples):
    """samples as a dataset recording: the 24-byte header (the magic text in a
    20-byte field, the records' position), then 12-byte records."""
    header = b"QX DataSet V1.0.0".ljust(20, b"\0") + (24).to_bytes(4, "little")
    path.write_bytes(header + samples.astype("<i2").tobytes())


def limited(address_space, stack=None):
    """A preexec function that caps the child's address space (and stack)."""
    def apply():
        if stack is not None:
            resource.setrlimit(resource.RLIMIT_STACK, (stack, stack))
        resource.setrlimit(resource.RLIMIT_AS, (address_space, address_space))
    return apply


@pytest.mark.parametrize("threads", [0, -1, 1025, 5000, 10**9, 2**70])
def test_threads_are_bounded_as_the_command_line_bounds_jobs(threads):
    for call in (lambda: tumblewatch.evaluate(EXAMPLES, threads=threads),
                 lambda: tumblewatch.sweep(EXAMPLES, grid={"fallWindow": [8, 10]}, threads=threads)):
        with pytest.raises(ValueError, match="threads: expected 1 to 1024"):
            call()


@pytest.mark.skipif(SANITIZED, reason="the sanitizer's shadow memory does not fit an address-space limit")
@pytest.mark.parametrize("stack", [None, 1_800_000_000], ids=["some threads", "no thread"])
def test_threads_the_system_cannot_create_mean_fewer_threads(stack, tmp_path):
    # 1024 threads of 8 MB stacks do not fit 1.9 GB of address space (with a
    # 1.8 GB stack not even one does): the work runs on the threads that
    # could be created, or on the calling thread, with the same results.
    workbench = program("tumblewatch")
    expected = subprocess.run([workbench, "eval", EXAMPLES, "-j", "1", "-q"], capture_output=True, text=True,
                              timeout=60)
    assert expected.returncode == 0, expected.stderr
    limit = limited(1_900_000_000, stack)
    for command in (["eval", EXAMPLES, "-j", "1024", "-q"],):
        done = subprocess.run([workbench, *command], capture_output=True, text=True, timeout=60, preexec_fn=limit)
        assert done.returncode == 0, done.stderr
        assert "terminate" not in done.stderr
        assert done.stdout.split("seconds")[0] == expected.stdout.split("seconds")[0]
    sweep = [workbench, "sweep", EXAMPLES, "--grid", "fallWindow=8:12:2", "-q"]
    reference = subprocess.run([*sweep, "-j", "1", "--out", tmp_path / "one.csv"], capture_output=True, timeout=60)
    assert reference.returncode == 0, reference.stderr
    done = subprocess.run([*sweep, "-j", "1024", "--out", tmp_path / "many.csv"], capture_output=True, timeout=60,
                          preexec_fn=limit)
    assert done.returncode == 0, done.stderr
    assert (tmp_path / "many.csv").read_bytes() == (tmp_path / "one.csv").read_bytes()
    script = textwrap.dedent(f"""
        import tumblewatch
        a = tumblewatch.evaluate({str(EXAMPLES)!r}, threads=1024, progress=False)
        b = tumblewatch.evaluate({str(EXAMPLES)!r}, threads=1, progress=False)
        assert a.summary["sensitivity"] == b.summary["sensitivity"], (a, b)
        print("same")
    """)
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120,
                          env=python_env(), preexec_fn=limited(3_000_000_000, stack))
    assert done.returncode == 0 and "same" in done.stdout, done.stderr


def test_grid_ranges_are_counted_before_they_are_expanded():
    start = time.monotonic()
    with pytest.raises(ValueError, match="32-bit"):
        tumblewatch.sweep(EXAMPLES, grid={"fallWindow": range(0, 10**18)})
    with pytest.raises(ValueError, match="more than max_configs"):
        tumblewatch.sweep(EXAMPLES, grid={"fallWindow": range(1, 10**7)})
    with pytest.raises(ValueError, match="values, more than max_configs"):
        tumblewatch.sweep(EXAMPLES, grid={"fallWindow": np.arange(1, 10**6)}, max_configs=1000)
    assert time.monotonic() - start < 5


def test_numpy_arrays_and_integer_sequences_are_grids():
    by_list = tumblewatch.sweep(EXAMPLES, grid={"fallWindow": [8, 10, 12]}, threads=2, progress=False)
    for values in (np.array([8, 10, 12]), np.array([8, 10, 12], dtype=np.int16), (8, 10, 12), range(8, 13, 2),
                   [np.int64(8), np.int32(10), 12]):
        rows = tumblewatch.sweep(EXAMPLES, grid={"fallWindow": values}, threads=2, progress=False)
        assert rows.equals(by_list), values
    with pytest.raises(TypeError, match="grid: fallWindow: expected an int, got float"):
        tumblewatch.sweep(EXAMPLES, grid={"fallWindow": np.array([8.0, 10.0])})
    with pytest.raises(TypeError, match="got generator"):
        tumblewatch.sweep(EXAMPLES, grid={"fallWindow": (v for v in [8, 10])})


def test_errors_name_the_python_arguments():
    with pytest.raises(ValueError, match=r"ranges= needs random=N") as e:
        tumblewatch.sweep(EXAMPLES, ranges={"fallWindow": (5, 30)})
    assert "--" not in str(e.value)
    with pytest.raises(ValueError, match=r"random= needs ranges="):
        tumblewatch.sweep(EXAMPLES, random=3)
    with pytest.raises(ValueError, match=r"4 configurations: more than max_configs= 3"):
        tumblewatch.sweep(EXAMPLES, grid={"fallWindow": [1, 2], "quietMagnitude": [50, 60]}, max_configs=3)
    with pytest.raises(ValueError, match="nothing to sweep: give grid=, or random=N with ranges="):
        tumblewatch.sweep(EXAMPLES)
    with pytest.raises(ValueError, match="send_data=True needs client="):
        tumblewatch.sweep(EXAMPLES, grid={"fallWindow": [8]}, send_data=True)
    with pytest.raises(TypeError, match="client: expected a distributed.Client or a scheduler address"):
        tumblewatch.sweep(EXAMPLES, grid={"fallWindow": [8]}, client=object())


def test_progress_is_a_callable_a_bar_or_nothing():
    seen = []
    rows = tumblewatch.sweep(EXAMPLES, grid={"fallWindow": list(range(1, 64))}, threads=1,
                             progress=lambda done, total: seen.append((done, total)))
    assert len(rows) == 63
    assert all(total == 63 and 0 <= done <= 63 for done, total in seen)
    assert [d for d, _ in seen] == sorted(d for d, _ in seen)
    evaluation = tumblewatch.evaluate(EXAMPLES, progress=False)
    assert evaluation.summary["recordings_found"] > 0
    with pytest.raises(TypeError, match="progress: expected True, False, None or a callable"):
        tumblewatch.evaluate(EXAMPLES, progress="yes")


def test_an_exception_in_progress_stops_the_work_and_is_raised():
    class Enough(Exception):
        pass

    def stop(done, total):
        raise Enough()

    start = time.monotonic()
    with pytest.raises(Enough):
        tumblewatch.sweep(EXAMPLES, grid={"fallWindow": list(range(1, 64)), "quietMagnitude": list(range(30, 90))},
                          threads=1, progress=stop)
    assert time.monotonic() - start < 10


CTRL_C = """
import os, signal, sys, threading, time
import numpy as np
import tumblewatch
what = sys.argv[1]
def interrupt():
    time.sleep(float(sys.argv[2]))
    print("sent", time.monotonic(), flush=True)
    os.kill(os.getpid(), signal.SIGINT)
threading.Thread(target=interrupt, daemon=True).start()
try:
    if what == "detect":
        samples = np.tile(np.array([0, -8192, 0, 0, 0, 0], dtype=np.int16), (60_000_000, 1))
        while True:
            tumblewatch.detect(samples)
    elif what == "evaluate":
        while True:
            tumblewatch.evaluate(sys.argv[3], threads=1, progress=False)
    else:
        tumblewatch.sweep(sys.argv[3], grid={"fallWindow": list(range(1, 64)),
                                             "quietMagnitude": list(range(20, 120))}, threads=2, progress=False)
    print("finished", flush=True)
except KeyboardInterrupt:
    print("interrupted", time.monotonic(), threading.active_count(), flush=True)
"""


@pytest.mark.parametrize("what", ["detect", "evaluate", "sweep"])
def test_ctrl_c_raises_keyboard_interrupt_within_a_second(what, tmp_path):
    # Recordings of 4 million samples in all keep evaluate and the sweep busy
    # far longer than the second allowed (each of them, as in the public
    # datasets, far shorter).
    folder = tmp_path / "long"
    folder.mkdir()
    for r in range(20):
        write_dataset(folder / f"adl_standing_s01_r{r:02}.bin", standing(200_000))
    # The sweep's Ctrl-C comes once its rows flow (the recordings load in
    # well under three seconds).
    delay = "3.0" if what == "sweep" else "1.5"
    done = subprocess.run([sys.executable, "-c", CTRL_C, what, delay, str(folder)], capture_output=True, text=True,
                          timeout=120, env=python_env())
    lines = dict(line.split(" ", 1) for line in done.stdout.splitlines())
    assert "interrupted" in lines, (done.stdout, done.stderr)
    sent = float(lines["sent"])
    stopped, threads = lines["interrupted"].split()
    assert float(stopped) - sent < 1.0, f"KeyboardInterrupt {float(stopped) - sent:.2f} s after Ctrl-C"
    assert int(threads) == 1  # no worker left running


def test_namespace_shows_only_the_exports():
    names = set(dir(tumblewatch))
    assert not names & {"Any", "List", "TYPE_CHECKING", "import_module"}
    assert set(tumblewatch.__all__) <= names


def test_best_row_keeps_its_column_types():
    rows = tumblewatch.sweep(EXAMPLES, grid={"fallWindow": [8, 10, 12]}, threads=2, progress=False)
    if rows.best is not None:
        assert rows.best.dtype != object or rows.best.map(type).nunique() > 1
        assert isinstance(rows.best["config"], (int, np.integer))
        assert isinstance(rows.best["sensitivity"], (float, np.floating))
    assert isinstance(rows.base["fallWindow"], (int, np.integer))


def test_notebooks_show_evaluations_and_sweeps_as_tables():
    evaluation = tumblewatch.evaluate(EXAMPLES, progress=False)
    page = evaluation._repr_html_()
    assert "<table" in page and "sensitivity" in page
    rows = tumblewatch.sweep(EXAMPLES, grid={"fallWindow": [8, 10]}, threads=2, progress=False)
    page = rows._repr_html_()
    assert "<table" in page and "front" in page.lower()


def test_inputs_that_were_taken_silently_are_refused():
    with pytest.raises(TypeError, match="got bytes"):
        tumblewatch.evaluate(str(EXAMPLES).encode())
    masked = np.ma.masked_array(standing(10), mask=np.zeros((10, 6), dtype=bool))
    for call in (tumblewatch.detect, tumblewatch.trace, tumblewatch.trace_text,
                 lambda s: tumblewatch.Detector().process(s)):
        with pytest.raises(TypeError, match="masked array"):
            call(masked)
    with pytest.raises(TypeError, match="expected an int, got bool_"):
        tumblewatch.Config(fallWindow=np.bool_(True))


def test_the_cluster_launcher_runs_with_the_interpreter_of_the_build():
    # python3 first on PATH may be one without Debian's packages: the
    # launcher names the interpreter the build was configured for.
    launcher = BUILD_DIR / "tumblewatch-cluster"
    first = launcher.read_text().splitlines()[0]
    assert first.startswith("#!/") and os.access(first[2:], os.X_OK), first
    done = subprocess.run([str(launcher), "--version"], capture_output=True, text=True, timeout=60,
                          env=dict(python_env(), PATH="/nonexistent"))
    assert done.returncode == 0 and f"tumblewatch {tumblewatch.__version__}" in done.stdout, done.stderr

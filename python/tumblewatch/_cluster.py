"""Sweeps and searches on a Dask cluster.

The client plans and checks a sweep as ``tumblewatch sweep`` does, checks
that every worker runs the same tumblewatch, and has each worker load the
recordings once (from a path every worker sees, or from a copy the client
sends). The configurations then go out in chunks, many configurations over
all recordings per task, each chunk run by the C++ sweep on the worker; the
rows come back as the text ``sweep --out`` writes and are handed on strictly
in configuration order. A chunk lost with its worker is run again elsewhere.

The functions whose names start with ``_task`` run on the workers; the
others on the client.
"""

from __future__ import annotations

import asyncio
import concurrent.futures
import errno
import hashlib
import math
import os
import queue
import shutil
import signal
import sys
import tempfile
import threading
import time
import uuid
import zlib
from collections import OrderedDict
from contextlib import contextmanager
from typing import Any, Callable, Dict, Iterator, List, Optional, Sequence, Tuple

from . import _tumblewatch

# Sweeps kept loaded on a worker, the most recently used last.
_KEEP_LOADED = 2
# Samples a chunk should process at most (about 10 to 40 seconds of one
# thread), and at least (so that a task's own cost stays small).
_CHUNK_MOST_SAMPLES = 200_000_000
_CHUNK_LEAST_SAMPLES = 4_000_000
# Chunks per worker thread that the sizes aim for, shrinking toward the end.
_CHUNKS_PER_THREAD = 4
# Times a failed chunk is tried again (a chunk whose worker dies is always
# run again elsewhere, up to the scheduler's allowed failures).
_RETRIES = 2


# What a future's result raises when its task was cancelled (its data lost
# with a restarted worker, or the scheduler gone).
_CANCELLED: Tuple[type, ...] = (concurrent.futures.CancelledError, asyncio.CancelledError)


class ClusterError(Exception):
    """A sweep or search that the cluster cannot run; the message says why."""


class VersionMismatch(ClusterError):
    """A worker runs another tumblewatch than the client."""


def versions() -> Tuple[str, str]:
    """The package's version and the algorithm's version text of this process."""
    import tumblewatch

    return (tumblewatch.__version__, tumblewatch.version())


# --- on the workers ---------------------------------------------------------

# A loaded sweep and the folder its sent recordings were written to ("" when
# they were read where they are), by the client's key.
_loaded: "OrderedDict[str, Tuple[Any, str]]" = OrderedDict()
_loaded_lock = threading.Lock()
_loading: Dict[str, threading.Lock] = {}


def _worker_threads() -> int:
    try:
        from distributed import get_worker

        worker = get_worker()
        state = getattr(worker, "state", None)
        return max(1, int(state.nthreads if state is not None else worker.nthreads))
    except (ImportError, ValueError):
        return _tumblewatch.hardware_threads()


def _worker_address() -> str:
    try:
        from distributed import get_worker

        return str(get_worker().address)
    except (ImportError, ValueError):
        return "local"


def _check_version(expected: Tuple[str, str]) -> None:
    here = versions()
    if tuple(expected) != here:
        raise VersionMismatch(
            f"worker {_worker_address()} runs tumblewatch {here[0]} ({here[1]}), the client {expected[0]} "
            f"({expected[1]}): install the same tumblewatch on every worker")


def _mirror(payload: Dict[str, Any], arguments: Tuple[Any, ...], root: str) -> Tuple[Any, ...]:
    """Writes the recordings the client sent below root, each at its own path
    there; returns the arguments with their paths moved below root."""

    def inside(path: str) -> str:
        return root + path if path.startswith("/") else os.path.join(root, path)

    for folder in payload["folders"]:
        os.makedirs(inside(folder), exist_ok=True)
    for path, data in payload["files"]:
        target = inside(path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as f:
            f.write(zlib.decompress(data))
    for folder in payload["markers"]:
        open(os.path.join(inside(folder), "micom.txt"), "wb").close()
    labels = ""
    if payload["manifest"] is not None:
        labels = inside(payload["manifest_path"])
        os.makedirs(os.path.dirname(labels), exist_ok=True)
        with open(labels, "w", encoding="utf-8", newline="\n") as f:
            f.write("path,label,activity,subject,impact_sample,description,dataset,take,fall_start,fall_end,"
                    "alert_start,alert_end\n")
            for path, label, activity, subject, impact, description, dataset, take, *timing in payload["manifest"]:
                fields = [inside(path), label, activity, subject, "" if impact < 0 else str(impact), description,
                          dataset, take] + ["" if t < 0 else str(t) for t in timing]
                f.write(",".join('"' + v.replace('"', '""') + '"' for v in fields) + "\n")
    paths = [inside(p) for p in arguments[0]]
    # The copy holds every manifest's entries: the others are not needed.
    extras = dict(arguments[13], more_labels=[]) if labels else arguments[13]
    return (paths, labels) + tuple(arguments[2:13]) + (extras,)


def _worker_sweep(key: str, arguments: Tuple[Any, ...], payload: Optional[Dict[str, Any]]) -> Tuple[Any, str]:
    """The sweep of key on this worker (loaded on first use, then kept) and the
    folder its sent recordings were written to ("" for none)."""
    with _loaded_lock:
        entry = _loaded.get(key)
        if entry is not None:
            _loaded.move_to_end(key)
            return entry
        lock = _loading.setdefault(key, threading.Lock())
    with lock:
        with _loaded_lock:
            entry = _loaded.get(key)
        if entry is None:
            arguments = tuple(arguments[:4]) + (_worker_threads(),) + tuple(arguments[5:])
            root = ""
            if payload is None:
                sweep = _tumblewatch.WorkerSweep(arguments)
            else:
                root = tempfile.mkdtemp(prefix="tumblewatch-sent-")
                try:
                    sweep = _tumblewatch.WorkerSweep(_mirror(payload, arguments, root))
                except ValueError as e:
                    raise ValueError(str(e).replace(root, "")) from None
                finally:
                    shutil.rmtree(root, ignore_errors=True)
            entry = (sweep, root)
            with _loaded_lock:
                _loaded[key] = entry
                while len(_loaded) > _KEEP_LOADED:
                    _loaded.popitem(last=False)
                _loading.pop(key, None)
    return entry


def _task_load(key: str, arguments: Tuple[Any, ...], payload: Any, expected: Tuple[str, str]) -> Dict[str, Any]:
    _check_version(expected)
    sweep, root = _worker_sweep(key, arguments, payload)
    failures = [f.replace(root, "") if root else f for f in sweep.failures]
    empty = [f.replace(root, "") if root else f for f in sweep.empty]
    return {"address": _worker_address(), "threads": _worker_threads(), "header": sweep.header,
            "sweep_id": sweep.sweep_id, "fingerprint": sweep.fingerprint, "samples": sweep.samples,
            "bytes": sweep.bytes, "failures": failures, "empty": empty}


def _task_chunk(key: str, arguments: Tuple[Any, ...], payload: Any, expected: Tuple[str, str], first: int,
                count: int) -> Tuple[int, str, List[Tuple[int, str]], int, str]:
    _check_version(expected)
    sweep, _ = _worker_sweep(key, arguments, payload)
    rows, refused, samples = sweep.run(first, count, 1)
    return first, rows, refused, samples, _worker_address()


def _task_trials(key: str, arguments: Tuple[Any, ...], payload: Any, expected: Tuple[str, str],
                 trials: List[Tuple[int, List[int]]]) -> Tuple[List[Tuple[str, str, float, float]], str]:
    _check_version(expected)
    sweep, _ = _worker_sweep(key, arguments, payload)
    return sweep.evaluate(trials), _worker_address()


def _task_summary(key: str, arguments: Tuple[Any, ...], payload: Any, expected: Tuple[str, str], text: str,
                  run: Tuple[Any, ...]) -> Dict[str, Any]:
    _check_version(expected)
    return _worker_sweep(key, arguments, payload)[0].summarize(text, *run)


def _task_release(key: str) -> None:
    with _loaded_lock:
        _loaded.pop(key, None)


# --- on the client ----------------------------------------------------------


def connect(scheduler: Optional[str] = None, scheduler_file: Optional[str] = None, threads: Optional[int] = None,
            timeout: float = 10.0) -> Tuple[Any, Any]:
    """A client of the scheduler at an address or in a scheduler file, or of a
    new local cluster (one worker with threads threads, every hardware thread
    by default) when neither is given.

    Returns (client, cluster); cluster is None unless one was started here and
    must be closed after the client. Raises ClusterError when the scheduler
    cannot be reached within timeout seconds.
    """
    import logging

    from distributed import Client, LocalCluster

    if scheduler is None and scheduler_file is None:
        # The worker processes ignore the terminal's interrupt: the client
        # stops them itself, in order.
        main = threading.current_thread() is threading.main_thread()
        interrupt = signal.signal(signal.SIGINT, signal.SIG_IGN) if main else None
        try:
            # Every socket on loopback: without a dashboard, the scheduler's
            # and the worker's HTTP servers (health, metrics) would still
            # listen on every interface unless given an address.
            # The worker's space (its lock files) in a folder of its own,
            # removed when the cluster closes (disconnect).
            space = tempfile.mkdtemp(prefix="tumblewatch-cluster-")
            cluster = LocalCluster(n_workers=1, threads_per_worker=threads or _tumblewatch.hardware_threads(),
                                   processes=True, host="127.0.0.1", dashboard_address=None,
                                   worker_dashboard_address="127.0.0.1:0",
                                   scheduler_kwargs={"dashboard_address": "127.0.0.1:0"},
                                   local_directory=space, silence_logs=logging.ERROR)
            cluster.tumblewatch_space = space
        finally:
            if main:
                signal.signal(signal.SIGINT, interrupt)
        return Client(cluster, set_as_default=False), cluster
    where = f"the scheduler at {scheduler}" if scheduler is not None else f"the scheduler of {scheduler_file}"
    if scheduler_file is not None:
        scheduler = scheduler_address(scheduler_file)
    elif not _is_address(scheduler):
        raise ClusterError(f"--scheduler {scheduler!r}: not a scheduler's address (expected PROTOCOL://HOST:PORT, "
                           "e.g. tcp://127.0.0.1:8786)")
    if not isinstance(timeout, (int, float)) or not 0 <= timeout < math.inf:
        raise ClusterError(f"timeout: expected a finite number of seconds, got {timeout!r}")
    logging.getLogger("distributed").setLevel(logging.CRITICAL)
    try:
        client = Client(scheduler, timeout=timeout, set_as_default=False)
    except (OSError, TimeoutError, ValueError, TypeError) as e:
        raise ClusterError(f"cannot reach {where} within {timeout:g} s: {e}") from None
    return client, None


# Protocols of Dask's communications.
_PROTOCOLS = ("tcp", "tls", "inproc", "ucx", "ws", "wss")


def _is_address(address: Any) -> bool:
    """A scheduler's address: PROTOCOL://HOST:PORT (or inproc://...) of one of
    Dask's protocols; anything else would fail later, less clearly."""
    if not isinstance(address, str) or "://" not in address:
        return False
    protocol, _, rest = address.partition("://")
    if protocol not in _PROTOCOLS or not rest:
        return False
    if protocol == "inproc":
        return True
    host, _, port = rest.rpartition(":")
    return bool(host) and port.isdigit() and 0 < int(port) < 65536


def scheduler_address(scheduler_file: str) -> str:
    """The address that a scheduler file (written by ``dask scheduler
    --scheduler-file``) holds; ClusterError when it is missing, not a regular
    file or not such a file."""
    import json
    import stat

    name = f"--scheduler-file {scheduler_file}"
    try:
        fd = os.open(scheduler_file, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC | os.O_NOCTTY)
    except OSError as e:
        hint = " (dask scheduler --scheduler-file writes it)" if e.errno == errno.ENOENT else ""
        raise ClusterError(f"{name}: cannot be read: {e.strerror}{hint}") from None
    try:
        if not stat.S_ISREG(os.fstat(fd).st_mode):
            raise ClusterError(f"{name}: not a regular file")
        data = os.read(fd, 1 << 20)
    finally:
        os.close(fd)
    try:
        address = json.loads(data.decode("utf-8")).get("address")
    except (ValueError, UnicodeDecodeError, AttributeError):
        address = None
    if not _is_address(address):
        raise ClusterError(f"{name}: not a scheduler file (JSON with the scheduler's \"address\", as dask "
                           "scheduler --scheduler-file writes it)")
    return address


def wait_for_workers(client: Any, timeout: float) -> Dict[str, Any]:
    """The workers of the scheduler (address to its description), after
    waiting up to timeout seconds for one; ClusterError when none came."""
    try:
        client.wait_for_workers(1, timeout=timeout)
    except (TimeoutError, OSError):
        raise ClusterError(f"no worker joined the scheduler at {client.scheduler.address} within {timeout:g} s "
                           "(start one: dask worker SCHEDULER_ADDRESS)") from None
    return dict(client.scheduler_info()["workers"])


def check_versions(client: Any) -> None:
    """Refuses (VersionMismatch) when a worker runs another tumblewatch."""
    here = versions()
    found = client.run(versions, on_error="return")
    wrong = []
    for address, theirs in sorted(found.items()):
        if isinstance(theirs, BaseException):
            wrong.append(f"worker {address} cannot run tumblewatch ({type(theirs).__name__}: {theirs})")
        elif tuple(theirs) != here:
            wrong.append(f"worker {address} runs tumblewatch {theirs[0]} ({theirs[1]})")
    if wrong:
        raise VersionMismatch("; ".join(wrong) + f"; this client runs tumblewatch {here[0]} ({here[1]}): every "
                              "worker needs the same tumblewatch; nothing was run")


def pack_recordings(plan: Dict[str, Any], arguments: Tuple[Any, ...]) -> Dict[str, Any]:
    """What --send-data sends: every recording of the plan (compressed), the
    folders named on the command line, the layout markers and the labels of a
    manifest, each under its absolute path on this machine."""
    files = []
    markers = set()
    for path, micom in plan["recordings"]:
        try:
            with open(path, "rb") as f:
                data = f.read()
        except OSError as e:
            raise ClusterError(f"--send-data: {path}: cannot be read ({e.strerror})") from None
        files.append((_absolute(path), zlib.compress(data, 1)))
        if micom:
            markers.add(os.path.dirname(_absolute(path)))
    return {
        "files": files,
        "folders": [_absolute(p) for p in arguments[0] if os.path.isdir(p)],
        "markers": sorted(markers),
        "manifest": [(_absolute(p),) + tuple(rest) for p, *rest in plan["manifest"]] if arguments[1] else None,
        "manifest_path": _manifest_copy_path(arguments),
    }


def _manifest_copy_path(arguments: Tuple[Any, ...]) -> str:
    """Where the workers' copy of the manifests goes: the manifest's own path, or with several the
    folder that holds all of them, so that the recordings keep their relative paths."""
    if not arguments[1]:
        return ""
    more = arguments[13].get("more_labels", []) if len(arguments) > 13 else []
    if not more:
        return _absolute(arguments[1])
    folders = [os.path.dirname(os.path.normpath(_absolute(p))) for p in [arguments[1], *more]]
    return os.path.join(os.path.commonpath(folders), "manifest.csv")


def _absolute(path: str) -> str:
    """The path from the root, its text otherwise kept (no links or .. resolved)."""
    return path if os.path.isabs(path) else os.path.join(os.getcwd(), path)


def absolute_arguments(arguments: Tuple[Any, ...]) -> Tuple[Any, ...]:
    """The arguments with their paths from the root, as the workers need them."""
    extras = dict(arguments[13])
    if extras.get("more_labels"):
        extras["more_labels"] = [_absolute(p) for p in extras["more_labels"]]
    return ([_absolute(p) for p in arguments[0]], _absolute(arguments[1]) if arguments[1] else "") + \
        tuple(arguments[2:13]) + (extras,)


def chunk_sizes(first: int, end: int, threads: int, samples: int, chunk: Optional[int] = None) -> List[Tuple[int, int]]:
    """The chunks (first, count) of configurations first .. end - 1: chunk
    configurations each when given, else shrinking toward the end (a quarter
    of each thread's share of what remains), within the samples a chunk should
    process."""
    out = []
    most = max(1, _CHUNK_MOST_SAMPLES // max(1, samples))
    least = min(most, max(1, -(-_CHUNK_LEAST_SAMPLES // max(1, samples))))
    at = first
    while at < end:
        if chunk is not None:
            size = chunk
        else:
            size = min(most, max(least, math.ceil((end - at) / (_CHUNKS_PER_THREAD * max(1, threads)))))
        size = min(size, end - at)
        out.append((at, size))
        at += size
    return out


def _hint(message: str, send_data: bool) -> str:
    unreadable = ("no such file" in message or "cannot be read" in message or "does not exist" in message
                  or "matches no recording" in message)
    if unreadable and not send_data:
        return (message + " (every worker must see the recordings at the same path as this client; "
                "--send-data sends them from this client instead)")
    return message


class Progress:
    """A progress line on standard error when it is a terminal: configurations
    done of all, per worker, the samples per second and the time left."""

    def __init__(self, what: str, total: int, wanted: bool) -> None:
        self.what = what
        self.total = total
        self.done = 0
        self.samples = 0
        self.by_worker: Dict[str, int] = {}
        self.start = time.monotonic()
        self.shown = wanted and sys.stderr.isatty()
        self.last = 0.0

    def add(self, count: int, samples: int, worker: str) -> None:
        self.done += count
        self.samples += samples
        self.by_worker[worker] = self.by_worker.get(worker, 0) + count

    def seconds(self) -> float:
        return time.monotonic() - self.start

    def show(self, force: bool = False) -> None:
        """Rewrites the line (at most four times a second unless forced):
        "done/total configurations, R million samples/s, about S s left;
        per worker: HOST:PORT N, ..."."""
        now = time.monotonic()
        if not self.shown or (not force and now - self.last < 0.25):
            return
        self.last = now
        elapsed = now - self.start
        rate = self.samples / elapsed / 1e6 if elapsed > 0 else 0.0
        left = ""
        if 0 < self.done < self.total:
            left = f", about {elapsed * (self.total - self.done) / self.done:.0f} s left"
        line = f"{self.done}/{self.total} {self.what}, {rate:.2f} million samples/s{left}"
        if self.by_worker:
            line += "; per worker: " + ", ".join(f"{_short(w)} {n}" for w, n in sorted(self.by_worker.items()))
        sys.stderr.write("\r" + line + "\x1b[K")
        sys.stderr.flush()

    def end(self) -> None:
        if self.shown:
            sys.stderr.write("\r\x1b[K")
            sys.stderr.flush()


def _cancel(futures: Any) -> None:
    """Cancels the futures still out (best effort: the scheduler may be gone)."""
    for future in futures:
        try:
            future.cancel()
        except Exception:
            pass


def _short(address: str) -> str:
    return address.split("://", 1)[-1]


class ClusterSweep:
    """One sweep (or search) on a cluster: the recordings loaded on every
    worker, chunks of configurations run in order, the summary of finished
    rows.

    Parameters
    ----------
    client : distributed.Client
        Connected to the scheduler.
    arguments : tuple
        The sweep's arguments (``_sweep.sweep_arguments``), paths as given on
        this machine.
    plan : dict
        ``_tumblewatch.sweep_plan(arguments)``.
    send_data : bool
        Send the recordings from this machine rather than have each worker read
        them at the same path.
    """

    def __init__(self, client: Any, arguments: Tuple[Any, ...], plan: Dict[str, Any], send_data: bool) -> None:
        self.client = client
        self.plan = plan
        self.send_data = send_data
        self.arguments = absolute_arguments(arguments)
        self.given_paths = list(arguments[0])
        self.expected = versions()
        self.key = hashlib.sha256(repr((self.arguments, uuid.uuid4().hex)).encode()).hexdigest()[:24]
        self.payload: Any = None
        self.header = ""
        self.sweep_id = ""
        self.failures: List[str] = []
        self.empty: List[str] = []
        self.samples = 0
        self.bytes = 0
        self.threads = 1
        self.workers: List[str] = []
        self.timeout = 30.0
        self.alone_since: Optional[float] = None

    def load(self, timeout: float) -> None:
        """Checks the workers' tumblewatch and has each load the recordings.

        Raises ClusterError (VersionMismatch) before any configuration runs
        when a worker runs another tumblewatch, cannot read the recordings or
        sees other recordings than this client.
        """
        self.timeout = max(3 * timeout, 5.0)
        workers = wait_for_workers(self.client, timeout)
        check_versions(self.client)
        if self.send_data:
            self.payload = self.client.scatter(pack_recordings(self.plan, self.arguments), broadcast=True,
                                               hash=False)
        futures = [self.client.submit(_task_load, self.key, self.arguments, self.payload, self.expected,
                                      workers=[address], allow_other_workers=True, pure=False,
                                      key=f"tumblewatch-load-{self.key}-{i}")
                   for i, address in enumerate(sorted(workers))]
        loads = []
        try:
            for address, future in zip(sorted(workers), futures):
                try:
                    loads.append(self._load_result(future, address))
                except VersionMismatch:
                    raise
                except ValueError as e:
                    raise ClusterError(f"worker {address}: " + _hint(str(e), self.send_data)) from None
                except _CANCELLED:
                    raise ClusterError(
                        f"worker {address}: the load of the recordings was cancelled: the worker was restarted (by "
                        "its nanny, e.g. over its memory limit: see its log)" +
                        (" and the recordings sent to it were lost" if self.send_data else "") +
                        "; nothing was run") from None
        finally:
            _cancel(futures)
        first = loads[0]
        for load in loads:
            if load["fingerprint"] != self.plan["fingerprint"]:
                raise ClusterError(
                    f"worker {load['address']} finds other recordings, labels or configurations than this client "
                    f"for the same arguments; every worker must see the same files at the same path (or use "
                    f"--send-data)")
            if load["header"] != first["header"]:
                raise ClusterError(
                    f"workers {first['address']} and {load['address']} see recordings of other content at the same "
                    f"path; every worker must see the same files (or use --send-data)")
        self.header = first["header"]
        self.sweep_id = first["sweep_id"]
        self.failures = [self._as_given(f) for f in first["failures"]]
        self.empty = [self._as_given(f) for f in first["empty"]]
        self.bytes = first["bytes"]
        self.samples = first["samples"]
        self.workers = [load["address"] for load in loads]
        self.threads = sum(int(w.get("nthreads", 1)) for w in workers.values())

    def _load_result(self, future: Any, address: str) -> Dict[str, Any]:
        """The result of a worker's load, waited for while it runs somewhere.
        Raises ClusterError when the load has run nowhere (its worker gone, e.g.
        restarted by its nanny, and no other worker took it) for longer than the
        timeout, or when the scheduler has had no worker that long."""
        idle_since: Optional[float] = None
        while True:
            try:
                return future.result(timeout=0.25)
            except TimeoutError:
                pass
            self._watch()
            try:
                running = any(future.key in keys for keys in self.client.processing().values())
            except Exception:  # the scheduler does not answer: _watch counts that
                running = False
            now = time.monotonic()
            if running:
                idle_since = None
            elif idle_since is None:
                idle_since = now
            elif now - idle_since > self.timeout:
                raise ClusterError(
                    f"worker {address}: the load of the recordings has run on no worker for {self.timeout:g} s (the "
                    "worker left or was restarted by its nanny, e.g. over its memory limit: see its log); nothing "
                    "was run")

    def _as_given(self, text: str) -> str:
        """text with a path that starts with an argument made absolute as the
        argument was given."""
        for given, absolute in zip(self.given_paths, self.arguments[0]):
            if given != absolute and text.startswith(absolute):
                return given + text[len(absolute):]
        return text

    def run(self, first: int, end: int, on_rows: Callable[[str, List[Tuple[int, str]]], bool],
            progress: Optional[Progress] = None, chunk: Optional[int] = None) -> int:
        """Runs configurations first .. end - 1 in chunks and hands each chunk's
        rows (text) and refused configurations to on_rows in configuration
        order, as soon as the chunk and all before it are done; stops early when
        on_rows returns False. Returns the configurations handed on.

        Raises ClusterError when a chunk fails on every try or the scheduler
        has been left without a worker (for three times the load's timeout).
        """
        chunks = chunk_sizes(first, end, self.threads, self.samples, chunk)
        finished: "queue.Queue[Any]" = queue.Queue()
        futures = {}
        for i, (at, count) in enumerate(chunks):
            futures[at] = self.client.submit(_task_chunk, self.key, self.arguments, self.payload, self.expected, at,
                                             count, priority=len(chunks) - i, retries=_RETRIES, pure=False,
                                             key=f"tumblewatch-chunk-{self.key}-{at}")
            futures[at].add_done_callback(finished.put)
        sizes = dict(chunks)
        done: Dict[int, Tuple[str, List[Tuple[int, str]]]] = {}
        handed = 0
        order = [at for at, _ in chunks]
        position = 0
        try:
            while position < len(order):
                future = self._next(finished)
                if future is not None:
                    try:
                        at, rows, refused, samples, worker = self._result(future)
                    except VersionMismatch:
                        raise
                    except (Exception, *_CANCELLED) as e:  # a chunk that failed on every try
                        raise ClusterError(self._failure("a chunk of configurations", e)) from None
                    done[at] = (rows, refused)
                    if progress is not None:
                        progress.add(sizes[at], samples, worker)
                    futures.pop(at).release()
                while position < len(order) and order[position] in done:
                    at = order[position]
                    rows, refused = done.pop(at)
                    position += 1
                    handed += sizes[at]
                    if not on_rows(rows, refused):
                        return handed
                if progress is not None:
                    progress.show()
        finally:
            _cancel(futures.values())
        return handed

    def evaluate(self, trials: List[Tuple[int, List[int]]], per_task: int,
                 progress: Optional[Progress] = None) -> List[Tuple[str, str, float, float]]:
        """Rows of configurations given by number and varied values (a search's
        trials), per_task trials per task: for each trial in the order given,
        its row's text, the detector's refusal ("" when accepted), its
        sensitivity and false alarms per hour.

        Raises ClusterError when a task fails on every try or the scheduler has
        been left without a worker.
        """
        finished: "queue.Queue[Any]" = queue.Queue()
        futures = {}
        for at in range(0, len(trials), per_task):
            part = trials[at:at + per_task]
            futures[at] = self.client.submit(_task_trials, self.key, self.arguments, self.payload, self.expected,
                                             part, retries=_RETRIES, pure=False,
                                             key=f"tumblewatch-trials-{self.key}-{part[0][0]}")
            futures[at].add_done_callback(finished.put)
        at_of = {future.key: at for at, future in futures.items()}
        done: Dict[int, List[Tuple[str, str, float, float]]] = {}
        try:
            while futures:
                future = self._next(finished)
                if future is None:
                    continue
                try:
                    results, worker = self._result(future)
                except VersionMismatch:
                    raise
                except (Exception, *_CANCELLED) as e:
                    raise ClusterError(self._failure("trials", e)) from None
                at = at_of[future.key]
                done[at] = results
                futures.pop(at).release()
                if progress is not None:
                    progress.add(len(results), len(results) * self.samples, worker)
                    progress.show()
        finally:
            _cancel(futures.values())
        return [result for at in sorted(done) for result in done[at]]

    def _failure(self, what: str, e: BaseException) -> str:
        """Why work failed: the scheduler lost, or the task's own error."""
        if getattr(self.client, "status", "running") != "running":
            return f"lost the scheduler at {self.client.scheduler.address} (stopped, or the network failed)"
        return f"{what} failed on every try: {type(e).__name__}: {e}"

    def _next(self, finished: "queue.Queue[Any]") -> Any:
        """The next future done, or None after a quarter of a second. Raises
        ClusterError when the scheduler has had no worker for longer than the
        timeout (the work would wait for one forever)."""
        try:
            return finished.get(timeout=0.25)
        except queue.Empty:
            pass
        self._watch()
        return None

    def _result(self, future: Any) -> Any:
        """The result of a future that is done. Its result may have been lost
        with its worker after all, and the task then runs again: while it
        waits, the workers are watched as in _next."""
        while True:
            try:
                return future.result(timeout=0.25)
            except TimeoutError:
                self._watch()

    def _watch(self) -> None:
        """Raises ClusterError when the scheduler has had no worker for longer
        than the timeout (asked of the scheduler itself; one that cannot be
        asked counts as having none)."""
        try:
            workers = bool(self.client.nthreads())
        except Exception:  # the scheduler is gone or does not answer
            workers = False
        if workers:
            self.alone_since = None
        elif self.alone_since is None:
            self.alone_since = time.monotonic()
        elif time.monotonic() - self.alone_since > self.timeout:
            raise ClusterError(f"the scheduler has had no worker for {self.timeout:g} s")

    def summarize(self, text: str, title: str = "tumblewatch sweep", item: str = "configuration",
                  configurations: Optional[int] = None, run_now: int = 0, refused_now: int = 0, seconds: float = 0.0,
                  samples: int = 0) -> Dict[str, Any]:
        """The summary of the rows of text (the output's header and rows), kept
        by the C++ core on a worker from the rows' counts as ``tumblewatch
        sweep`` keeps it: ``json`` (the document of ``--summary``), ``text``
        (the terminal's summary, with this run's figures: rows run now, refused
        of them, seconds and samples), ``nested`` (its JSON text, None without
        folds), ``front``, ``best``, ``best_config``, ``objective``,
        ``base_row``, ``base_config`` and ``base`` (the base's figures)."""
        run = (title, item, self.plan["count"] if configurations is None else configurations, run_now, refused_now,
               seconds, samples)
        future = self.client.submit(_task_summary, self.key, self.arguments, self.payload, self.expected, text, run,
                                    retries=_RETRIES, pure=False, key=f"tumblewatch-summary-{self.key}")
        try:
            return self._result(future)
        except ValueError as e:
            raise ClusterError(str(e)) from None
        except _CANCELLED as e:
            raise ClusterError(self._failure("the summary", e)) from None

    def close(self) -> None:
        """Frees the recordings on the workers (best effort)."""
        try:
            self.client.run(_task_release, self.key, on_error="ignore")
        except Exception:  # the cluster may be gone already
            pass
        if self.payload is not None:
            try:
                self.payload.release()
            except Exception:
                pass


@contextmanager
def client_of(client: Any, timeout: float = 10.0) -> Iterator[Any]:
    """The Client of a ``client=`` argument: the Client itself, or one
    connected to the scheduler at an address (closed when the block ends).
    TypeError for anything else; ClusterError when the address cannot be
    reached within timeout seconds."""
    if isinstance(client, str):
        connected, _ = connect(scheduler=client, timeout=timeout)
        try:
            yield connected
        finally:
            try:
                connected.close(timeout=5)
            except Exception:  # the scheduler may be gone
                pass
        return
    if not all(hasattr(client, name) for name in ("submit", "scatter", "wait_for_workers")):
        raise TypeError(f"client: expected a distributed.Client or a scheduler address such as "
                        f"'tcp://127.0.0.1:8786', got {type(client).__name__}")
    yield client


def sweep_on(client: Any, arguments: Tuple[Any, ...], send_data: bool = False, timeout: float = 30.0,
             progress: Optional[Callable[[int, int], Any]] = None) -> Dict[str, Any]:
    """A whole sweep on the cluster of client, as the compiled sweep returns it
    on this machine: the rows (header and rows, CSV), the base row, the front,
    the best configuration, the refused configurations and the failures.
    progress(done, total) is called as rows come in."""
    plan = _tumblewatch.sweep_plan(arguments)
    job = ClusterSweep(client, arguments, plan, send_data)
    try:
        start = time.monotonic()
        job.load(timeout)
        parts = [job.header]
        refused: List[Tuple[int, str]] = []

        handed = [0]

        def take(rows: str, refusals: List[Tuple[int, str]]) -> bool:
            parts.append(rows)
            refused.extend(refusals)
            if progress is not None:
                handed[0] += rows.count("\n") + len(refusals)
                progress(handed[0], plan["count"])
            return True

        job.run(0, plan["count"], take)
        text = "".join(parts)
        summary = job.summarize(text)
        seconds = time.monotonic() - start
    finally:
        job.close()
    failures = job.failures + [f"{e}: no samples; left out" for e in job.empty]
    return dict(summary, rows=text, refused=refused, failures=failures, seconds=seconds)

"""python3 -m tumblewatch: the sweep and the search on a Dask cluster.

``sweep`` takes the options of ``tumblewatch sweep`` and writes the same
file; ``tune`` searches the parameters with optuna. Both run on the
scheduler given with ``--scheduler`` or ``--scheduler-file``, else on a local
cluster of this machine's cores. Messages go to standard error, the
summary to standard output; the exit statuses are those of ``tumblewatch
sweep``.
"""

from __future__ import annotations

import argparse
import math
import os
import shutil
import signal
import stat
import sys
import warnings
from typing import Any, Dict, List, NoReturn, Optional, Sequence, Tuple

from . import _tumblewatch

EXIT_OK = 0
EXIT_USAGE = 2  # a usage or configuration error, an unreachable cluster, a failed run (rows kept)
EXIT_UNREADABLE = 3  # some recording could not be read
EXIT_STOPPED = 130  # stopped by a signal; the rows written so far are kept

_EPILOG = """exit status: 0 done, 2 a usage or configuration error, an unreachable scheduler, a worker
with another tumblewatch or a run that failed (the rows written so far are kept: continue with
--resume), 3 some recording could not be read, 130 stopped (continue with --resume)."""


class Failure(Exception):
    """A message for standard error and the exit status that goes with it."""

    def __init__(self, message: str, status: int = EXIT_USAGE) -> None:
        super().__init__(message)
        self.status = status


class Stopped(BaseException):
    """SIGINT or SIGTERM arrived."""


def error(message: str) -> None:
    """Prints "tumblewatch: MESSAGE" on standard error."""
    if sys.stderr is None:  # started with standard error closed
        return
    try:
        sys.stderr.write(f"tumblewatch: {message}\n")
        sys.stderr.flush()
    except OSError:
        pass


# --- options -----------------------------------------------------------------


class _Once(argparse.Action):
    """An option that takes one value and may be given once."""

    def __call__(self, parser: argparse.ArgumentParser, namespace: argparse.Namespace, values: Any,
                 option_string: Optional[str] = None) -> None:
        if getattr(namespace, "_given_" + self.dest, False):
            parser.error(f"argument {'/'.join(self.option_strings)}: given more than once")
        setattr(namespace, "_given_" + self.dest, True)
        setattr(namespace, self.dest, values)


def _whole(text: str, low: int, high: int) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"'{text}' is not a whole number") from None
    if not low <= value <= high:
        raise argparse.ArgumentTypeError(f"expected {low} to {high}, got {value}")
    return value


def _positive(text: str) -> int:
    return _whole(text, 1, 2**63 - 1)


def _jobs(text: str) -> int:
    return _whole(text, 1, 1024)


def _seed(text: str) -> int:
    return _whole(text, 0, 2**64 - 1)


def _seconds(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"'{text}' is not a number of seconds") from None
    if not 0.0 <= value < math.inf:
        raise argparse.ArgumentTypeError(f"expected a finite number of seconds, at least 0, got {text}")
    return value


def _add_inputs(p: argparse.ArgumentParser) -> None:
    p.add_argument("paths", nargs="*", metavar="PATH",
                   help="recording, folder (searched recursively) or quoted pattern; optional with --labels")
    p.add_argument("--labels", action="append", metavar="FILE", default=[],
                   help="manifest CSV: path,label[,activity,subject,impact_sample,dataset,fall_start,...] "
                        "(repeatable: several manifests)")
    p.add_argument("--config", action=_Once, metavar="FILE", default="", help="configuration file (TOML)")
    p.add_argument("--set", metavar="NAME=VALUE", action="append", default=[], dest="settings",
                   help="set a parameter (repeatable; after --config)")
    p.add_argument("-j", "--jobs", action=_Once, type=_jobs, default=None,
                   help="worker threads of the local cluster (default: every hardware thread); a scheduler's "
                        "workers use their own")
    p.add_argument("--merge", action=_Once, type=_seconds, default=10.0, metavar="S",
                   help="alarms closer than this many seconds are one event (default 10)")
    p.add_argument("--folds", action=_Once, type=int, default=0, metavar="K", help="held-out subjects in K groups")
    p.add_argument("--folds-by", action=_Once, default="subject", metavar="COLUMN", dest="folds_by",
                   help="the manifest column whose values the folds hold out (default subject; e.g. dataset)")
    p.add_argument("--before", action=_Once, type=_seconds, default=1.5, metavar="S",
                   help="a timed fall is detected from S seconds before it starts (default 1.5)")
    p.add_argument("--after", action=_Once, type=_seconds, default=3.0, metavar="S",
                   help="... to S seconds after it ends (default 3)")
    p.add_argument("--objective", action=_Once, default="", metavar="OBJ",
                   help="max:f1 or max:sensitivity@fa<=X (default: highest sensitivity with false alarms per hour "
                        "at most the base configuration's)")
    p.add_argument("--format", action=_Once, choices=("csv", "jsonl"), default="csv", help="of --out (default csv)")
    p.add_argument("--best", action=_Once, default="", metavar="FILE",
                   help="write the best configuration as a TOML file for --config")
    p.add_argument("--summary", action=_Once, default="", metavar="FILE",
                   help="write the front, the best configuration and the nested selection as JSON")
    p.add_argument("-q", "--quiet", action="store_true", help="no summary and no progress on the terminal")


def _add_cluster(p: argparse.ArgumentParser) -> None:
    where = p.add_mutually_exclusive_group()
    where.add_argument("--scheduler", action=_Once, metavar="ADDRESS",
                       help="the Dask scheduler, e.g. tcp://HOST:8786 (default: a local cluster of this machine)")
    where.add_argument("--scheduler-file", action=_Once, metavar="FILE", help="the file that dask scheduler --scheduler-file wrote")
    p.add_argument("--send-data", action="store_true",
                   help="send the recordings from this machine to the workers (default: every worker reads them "
                        "at the same path)")
    p.add_argument("--timeout", action=_Once, type=_seconds, default=10.0, metavar="S",
                   help="seconds to wait for the scheduler and for a first worker (default 10)")


def parser() -> argparse.ArgumentParser:
    """The command line's parser."""
    top = argparse.ArgumentParser(
        prog="python3 -m tumblewatch",
        description="tumblewatch on a Dask cluster: sweeps of many configurations and searches of the "
                    "parameters, over labelled recordings.",
        epilog=_EPILOG)
    top.add_argument("--version", action="version",
                     version=f"tumblewatch {_tumblewatch.__version__} ({_tumblewatch.version()})")
    commands = top.add_subparsers(dest="command", metavar="COMMAND")
    commands.required = True

    s = commands.add_parser(
        "sweep", epilog=_EPILOG,
        help="evaluate many configurations (the options and the file of tumblewatch sweep)",
        description="Evaluate many configurations on a cluster: grids and random draws, held-out subjects, Pareto "
                    "front. The rows are those tumblewatch sweep writes, byte for byte, and --resume continues "
                    "the files of either.")
    _add_inputs(s)
    s.add_argument("--grid", action="append", default=[], metavar="NAME=VALUES",
                   help="NAME=LO:HI:STEP or NAME=V1,V2,... (repeatable; all combined)")
    s.add_argument("--random", action=_Once, type=_positive, default=0, metavar="N",
                   help="N configurations drawn from the --range values")
    s.add_argument("--range", action="append", default=[], dest="ranges", metavar="NAME=LO:HI",
                   help="NAME=LO:HI for --random (repeatable)")
    s.add_argument("--seed", action=_Once, type=_seed, default=1, help="seed of the random draws (default 1)")
    s.add_argument("--max-configs", action=_Once, type=_positive, default=100_000, metavar="N",
                   help="refuse a sweep of more configurations (default 100000)")
    s.add_argument("--out", action=_Once, required=True, metavar="FILE", help="the rows, one per configuration (required)")
    s.add_argument("--resume", action="store_true", help="continue the sweep whose rows --out holds")
    s.add_argument("--html", action=_Once, default="", metavar="FILE",
                   help="write the scatter of every configuration (with --resume: all rows) as an HTML page")
    s.add_argument("--chunk", action=_Once, type=_positive, default=None, metavar="N",
                   help="configurations per task (default: a quarter of each worker thread's share of what "
                        "remains, within 4 to 200 million samples)")
    _add_cluster(s)

    t = commands.add_parser(
        "tune", epilog=_EPILOG,
        help="search the parameters with optuna (sensitivity up, false alarms per hour down)",
        description="Search the parameters in the given ranges with optuna's multi-objective search (NSGA-II "
                    "by default): sensitivity up, false alarms per hour down. The trials are evaluated on the "
                    "workers; each is a row of the sweep's format in --out.")
    _add_inputs(t)
    t.add_argument("--range", action="append", default=[], dest="ranges", metavar="NAME=LO:HI",
                   help="a parameter to search and its integer bounds (repeatable; at least one)")
    t.add_argument("--trials", action=_Once, type=_positive, required=True, metavar="N",
                   help="trials to evaluate (required)")
    t.add_argument("--max-trials", action=_Once, type=_positive, default=100_000, metavar="N",
                   help="refuse a search of more trials (default 100000; the search keeps every trial in "
                        "memory, a few KB each)")
    t.add_argument("--seed", action=_Once, type=_seed, default=1, help="seed of the search (default 1)")
    t.add_argument("--sampler", action=_Once, choices=("nsga2", "tpe", "random"), default="nsga2",
                   help="optuna's sampler (default nsga2)")
    t.add_argument("--population", action=_Once, type=_positive, default=50, metavar="N",
                   help="trials asked and evaluated together: NSGA-II's population (default 50)")
    t.add_argument("--out", action=_Once, required=True, metavar="FILE", help="the trials' rows (required)")
    t.add_argument("--resume", action="store_true",
                   help="continue the search whose rows --out holds (the same options): the rows then are those "
                        "of an uninterrupted run")
    _add_cluster(t)
    return top


# --- checks before any work ----------------------------------------------------


def check_outputs(options: argparse.Namespace, arguments: Tuple[Any, ...]) -> None:
    """--out, then --best, --html and --summary, checked as tumblewatch sweep
    checks them before any work (the same rules and messages)."""
    results = [("--best", options.best), ("--html", getattr(options, "html", "")), ("--summary", options.summary)]
    try:
        _tumblewatch.sweep_check_outputs(arguments, options.out, results)
    except (ValueError, KeyError) as e:
        raise Failure(str(e.args[0]) if e.args else str(e)) from None


def arguments_of(options: argparse.Namespace, grids: List[str], ranges: List[str], random: int,
                 max_configs: int) -> Tuple[Any, ...]:
    """The compiled sweep's arguments of the options; Failure with the command
    line's message for a configuration that cannot be built."""
    try:
        config = _tumblewatch.config_from(options.config, options.settings)
    except (ValueError, KeyError) as e:
        raise Failure(str(e.args[0]) if e.args else str(e)) from None
    labels = list(options.labels)
    extras = {"more_labels": labels[1:], "folds_by": options.folds_by, "before": float(options.before),
              "after": float(options.after)}
    return (list(options.paths), labels[0] if labels else "", config, float(options.merge), 1, grids, ranges,
            random, options.seed, max_configs, options.folds, options.objective, options.format, extras)


def plan_of(arguments: Tuple[Any, ...]) -> Dict[str, Any]:
    try:
        return _tumblewatch.sweep_plan(arguments)
    except (ValueError, KeyError) as e:
        raise Failure(str(e.args[0]) if e.args else str(e)) from None


# --- running -------------------------------------------------------------------


class RowsFile:
    """The output file: continued after its complete rows, or begun with its
    header; every chunk's rows written at once. A regular file only."""

    def __init__(self, path: str, keep: int, header: str) -> None:
        self.path = path
        self.fd = -1
        try:
            self.fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_NONBLOCK | os.O_NOCTTY | os.O_CLOEXEC, 0o666)
            if not stat.S_ISREG(os.fstat(self.fd).st_mode):
                os.close(self.fd)
                raise Failure(f"--out {path}: cannot be written: not a regular file")
            os.ftruncate(self.fd, keep)
            os.lseek(self.fd, 0, os.SEEK_END)
        except OSError as e:
            if self.fd >= 0:
                os.close(self.fd)
            raise Failure(f"--out {path}: cannot be written: {e.strerror}") from None
        if keep == 0:
            self.write(header)

    def write(self, text: str) -> None:
        data = memoryview(text.encode("utf-8", "surrogateescape"))
        try:
            while data:
                data = data[os.write(self.fd, data):]
        except OSError as e:
            raise Failure(f"--out {self.path}: not written completely: {e.strerror}; the rows written so far are "
                          "kept (continue with --resume)") from None

    def close(self) -> None:
        os.close(self.fd)


def _on_signal(signum: int, frame: Any) -> NoReturn:
    raise Stopped()


def report(options: argparse.Namespace, summary: Dict[str, Any], title: str, sweep_id: str) -> None:
    """The end of a run, as tumblewatch sweep ends: the summary on the
    terminal (unless --quiet or a result goes to standard output), then
    --best, --summary and --html, each written whole or not at all."""
    results = (options.best, options.summary, getattr(options, "html", ""))
    if not options.quiet and "-" not in results:
        print_text(options, summary["text"])
    print_text(options, "")
    failed = False
    if options.best:
        if summary["best"] is None:
            error("--best: no configuration qualifies under the objective; nothing written")
        else:
            failed |= not _write(options.best, _tumblewatch.config_toml(
                summary["best_config"],
                f"{title} {sweep_id}: configuration {summary['best']} (objective {summary['objective']})"))
    if options.summary:
        failed |= not _write(options.summary, summary["json"])
    if getattr(options, "html", ""):
        try:
            page = _tumblewatch.sweep_page(options.out, summary["base_config"], summary["base"], summary["json"])
        except ValueError as e:
            error(str(e))
            failed = True
        else:
            failed |= not _write(options.html, page)
    if failed:
        raise Failure("", EXIT_USAGE)


def print_text(options: argparse.Namespace, text: str) -> None:
    """Writes text to standard output and flushes it. A failed write is noted
    in options.stdout_error (reported at the end, with exit status 2) and
    standard output is closed to further writes."""
    if getattr(options, "stdout_error", None):
        return
    if sys.stdout is None:  # started with standard output closed
        options.stdout_error = "it is closed"
        return
    try:
        sys.stdout.write(text)
        sys.stdout.flush()
    except OSError as e:
        options.stdout_error = e.strerror or str(e)
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        os.close(devnull)


def _finish(options: argparse.Namespace, status: int) -> int:
    """status, or 2 with a message when standard output could not be written."""
    print_text(options, "")
    if getattr(options, "stdout_error", None):
        error(f"standard output: cannot be written: {options.stdout_error}")
        return EXIT_USAGE
    return status


def _write(path: str, text: str) -> bool:
    """Writes an output by the file rules; False with the message printed."""
    try:
        _tumblewatch.write_output(path, text)
    except OSError as e:
        error(str(e.args[0]) if e.args else str(e))
        return False
    return True


def run_sweep(options: argparse.Namespace) -> int:
    from . import _cluster

    arguments = arguments_of(options, options.grid, options.ranges, options.random, options.max_configs)
    plan = plan_of(arguments)
    check_outputs(options, arguments)
    exists = os.path.exists(options.out) and os.path.getsize(options.out) > 0
    if options.resume and not os.path.lexists(options.out):
        raise Failure(f"--resume: --out {options.out}: no such file (nothing to continue)")
    if exists and not options.resume:
        raise Failure(f"--out {options.out} exists: continue it with --resume, or give another file")

    client, cluster = _connect(options)
    job = _cluster.ClusterSweep(client, arguments, plan, options.send_data)
    try:
        _load(job, options)
        first, keep = 0, 0
        if exists:
            try:
                first, keep = _tumblewatch.sweep_resume(arguments, options.out, job.sweep_id)
            except ValueError as e:
                raise Failure(str(e)) from None
        rows = RowsFile(options.out, keep, job.header)
        refused: List[Tuple[int, str]] = []
        progress = _cluster.Progress("configurations", plan["count"] - first, not options.quiet)

        def take(text: str, refusals: List[Tuple[int, str]]) -> bool:
            rows.write(text)
            refused.extend(refusals)
            return True

        try:
            done = job.run(first, plan["count"], take, progress, options.chunk)
        except Stopped:
            raise Failure(f"stopped; the rows written so far are kept in {options.out} (continue with --resume)",
                          EXIT_STOPPED) from None
        except _cluster.ClusterError as e:
            raise Failure(f"{e}; the rows written so far are kept in {options.out} (continue with --resume)") \
                from None
        finally:
            progress.end()
            rows.close()
        if refused:
            error(f"{len(refused)} configurations refused by the detector and skipped, e.g. configuration "
                  f"{refused[0][0]}: {refused[0][1]}")
        summary = summarize(job, options.out, "tumblewatch sweep", "configuration", plan["count"], done,
                            len(refused), progress)
        report(options, summary, "tumblewatch sweep", job.sweep_id)
        return EXIT_UNREADABLE if job.failures or plan["skipped"] else EXIT_OK
    finally:
        job.close()
        _disconnect(client, cluster)


def summarize(job: Any, out: str, title: str, item: str, count: int, done: int, refused: int,
              progress: Any) -> Dict[str, Any]:
    """The summary of the rows in out, kept by the C++ core on a worker."""
    from . import _cluster

    try:
        with open(out, "rb") as f:
            text = f.read().decode("utf-8", "surrogateescape")
    except OSError as e:
        raise Failure(f"--out {out}: cannot be read back: {e.strerror}") from None
    try:
        return job.summarize(text, title, item, count, done, refused, progress.seconds(), progress.samples)
    except _cluster.ClusterError as e:
        raise Failure(f"{out}: {e}") from None


def _connect(options: argparse.Namespace) -> Tuple[Any, Any]:
    from . import _cluster

    try:
        return _cluster.connect(options.scheduler, options.scheduler_file, options.jobs, options.timeout)
    except _cluster.ClusterError as e:
        raise Failure(str(e)) from None


def _load(job: Any, options: argparse.Namespace) -> None:
    from . import _cluster

    try:
        job.load(options.timeout)
    except _cluster.ClusterError as e:
        raise Failure(str(e)) from None
    for failure in job.failures:
        error(failure)
    for empty in job.empty:
        error(f"{empty}: no samples; left out")
    for skipped in job.plan["skipped"]:
        error(skipped)


def _disconnect(client: Any, cluster: Any) -> None:
    try:
        client.close(timeout=5)
    except Exception:
        pass
    if cluster is not None:
        try:
            cluster.close(timeout=5)
        except Exception:
            pass
        space = getattr(cluster, "tumblewatch_space", None)
        if space:
            shutil.rmtree(space, ignore_errors=True)


def _hold_standard_streams() -> None:
    """Opens /dev/null on a closed standard input, output or error, so that no
    file opened later (--out) takes its number and no worker process started
    later writes into it; a closed standard output is still reported
    (sys.stdout stays None)."""
    for fd in (0, 1, 2):
        try:
            os.fstat(fd)
        except OSError:
            held = os.open(os.devnull, os.O_RDWR)
            if held != fd:
                os.dup2(held, fd)
                os.close(held)


def main(argv: Optional[Sequence[str]] = None) -> int:
    """Runs the command line; returns the exit status."""
    _hold_standard_streams()
    options = parser().parse_args(argv)
    # What --send-data sends is large on purpose.
    warnings.filterwarnings("ignore", message="Large object of size", category=UserWarning)
    previous = {s: signal.signal(s, _on_signal) for s in (signal.SIGINT, signal.SIGTERM)}
    try:
        if options.command == "sweep":
            return _finish(options, run_sweep(options))
        from ._tune import run_tune

        return _finish(options, run_tune(options))
    except Failure as e:
        if str(e):
            error(str(e))
        return _finish(options, e.status)
    except Stopped:
        error("stopped")
        return EXIT_STOPPED
    finally:
        for s, handler in previous.items():
            signal.signal(s, handler)

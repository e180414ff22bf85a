"""A search of the parameters from Python, with the rows of ``python3 -m tumblewatch tune``."""

from __future__ import annotations

import concurrent.futures
import os
from typing import Any, List, Mapping, Optional, Sequence, Tuple, Union

from . import _tumblewatch
from ._arguments import as_int
from ._config import Config
from ._evaluation import Paths
from ._progress import ProgressArgument, progress_of
from ._search import Result, Search, description
from ._sweep import SweepResult, _result, python_terms, sweep_arguments

_SAMPLERS = ("nsga2", "tpe", "random")


def tune(
    paths: Optional[Paths] = None,
    ranges: Optional[Union[Mapping[str, Tuple[int, int]], Sequence[str]]] = None,
    trials: int = 100,
    seed: int = 1,
    sampler: str = "nsga2",
    population: int = 50,
    folds: int = 0,
    labels: Optional[Union[str, "os.PathLike[str]"]] = None,
    config: Optional[Config] = None,
    objective: Optional[str] = None,
    threads: Optional[int] = None,
    merge: float = 10.0,
    max_trials: int = 100_000,
    client: Any = None,
    send_data: bool = False,
    progress: ProgressArgument = None,
) -> SweepResult:
    """Search the parameters with optuna, as ``python3 -m tumblewatch tune`` does.

    The search asks optuna (multi-objective: sensitivity up, false alarms per
    hour down) for ``population`` trials at a time and evaluates them all
    before telling it, so the trials depend on the seed alone: the rows are
    those the command writes for the same options, on this machine or on a
    cluster.

    Parameters
    ----------
    paths, labels, config, objective, folds, merge
        As for :func:`sweep`.
    ranges : mapping or sequence of str
        The parameters to search and their integer bounds: ``{"fallWindow": (5,
        30)}`` or ``["fallWindow=5:30"]``; at least one.
    trials : int, default 100
        Trials to evaluate (1 to ``max_trials``).
    seed : int, default 1
        Seed of the search (0 to 2**32 - 1).
    sampler : {"nsga2", "tpe", "random"}, default "nsga2"
        optuna's sampler.
    population : int, default 50
        Trials asked and evaluated together (NSGA-II's population).
    threads : int, optional
        Worker threads on this machine (1 to 1024); every hardware thread by
        default. Not used with ``client``.
    max_trials : int, default 100000
        Refuse a search of more trials (optuna keeps every trial in memory).
    client : distributed.Client or str, optional
        Run the trials on this Dask cluster (a Client or a scheduler's address).
    send_data : bool, default False
        With ``client``: send the recordings to the workers.
    progress : bool or callable, optional
        ``progress(done, total)`` (trials), True for a progress bar, False for
        none; by default a bar when standard error is a terminal. Ctrl-C stops
        the search (KeyboardInterrupt).

    Returns
    -------
    SweepResult
        The trials' rows (``config`` is the trial's number; refused trials have
        none) with the front and the best configuration, as for :func:`sweep`.

    Raises
    ------
    ValueError
        For bad arguments, a range in which the detector accepts no value, or a
        search whose every trial the detector refused.
    ModuleNotFoundError
        When optuna (Debian: python3-optuna) is not installed.
    """
    from ._tune import check_ranges, parse_ranges

    count = as_int("trials", trials)
    limit = as_int("max_trials", max_trials)
    if not 1 <= count <= limit:
        raise ValueError(f"trials: expected 1 to max_trials ({limit}), got {count}")
    if sampler not in _SAMPLERS:
        raise ValueError(f"sampler: expected one of {', '.join(_SAMPLERS)}, got {sampler!r}")
    size = as_int("population", population)
    if not 1 <= size < 2**63:
        raise ValueError(f"population: expected at least 1, got {size}")
    seed_value = as_int("seed", seed)
    if not 0 <= seed_value < 2**32:
        raise ValueError(f"seed: the search takes seeds 0 to 4294967295, got {seed_value}")
    if client is None and send_data:
        raise ValueError("send_data=True needs client= (the recordings are sent to a cluster's workers)")
    if not ranges:
        raise ValueError("ranges: the search needs at least one parameter, e.g. ranges={'fallWindow': (5, 30)}")
    arguments = sweep_arguments(paths, None, ranges, count, seed_value, folds, labels, config, objective,
                                threads if client is None else 1, merge, 2**63 - 1)
    range_texts = list(arguments[6])
    parsed = parse_ranges(range_texts)
    try:
        plan = _tumblewatch.sweep_plan(arguments)
        check_ranges(parsed, _base_values(arguments))
    except ValueError as e:
        raise ValueError(python_terms(str(e))) from None
    except Exception as e:  # the command line's refusal of a range
        if type(e).__name__ == "Failure":
            raise ValueError(python_terms(str(e)).replace("--range ", "ranges: ")) from None
        raise
    text_of = description(plan["description"].split("; ", 1)[0], count, sampler, size, seed_value, range_texts,
                          plan["base_changes"], arguments[10])
    with progress_of(progress, "trials") as report:
        try:
            if client is None:
                out = _local(arguments, parsed, count, sampler, seed_value, size, text_of, report)
            else:
                from ._cluster import client_of

                with client_of(client) as connected:
                    out = _on_cluster(connected, arguments, plan, send_data, parsed, count, sampler, seed_value,
                                      size, text_of, report)
        except ValueError as e:
            raise ValueError(python_terms(str(e))) from None
    return _result(out)


def _base_values(arguments: Tuple[Any, ...]) -> Tuple[int, ...]:
    values = arguments[2]
    return tuple(Config()._values if values is None else values)


def _tune_id(sweep_id: str, sampler: str, population: int, seed: int, trials: int) -> str:
    return _tumblewatch.sweep_id(f"tune|{sweep_id}|{sampler}|{population}|{seed}|{trials}")


def _finish(search: Search, parts: List[str], summary: Any, failures: List[str]) -> Any:
    if search.all_refused():
        number, reason = search.refused[0]
        raise ValueError(f"every one of the {len(search.refused)} trials was refused by the detector, e.g. trial "
                         f"{number}: {reason}; narrow the ranges to values the detector accepts")
    return dict(summary, rows="".join(parts), refused=list(search.refused), failures=failures)


def _local(arguments: Tuple[Any, ...], ranges: Any, count: int, sampler: str, seed: int, population: int,
           text_of: str, report: Any) -> Any:
    """The search on this machine: the recordings loaded once, each
    population's trials evaluated on the worker threads."""
    threads = arguments[4]
    worker = _tumblewatch.WorkerSweep(arguments)
    sweep_id = _tune_id(worker.sweep_id, sampler, population, seed, count)
    parts = [_tumblewatch.sweep_header(arguments, sweep_id, text_of)]
    search = Search(ranges, count, sampler, seed, population)
    pool = concurrent.futures.ThreadPoolExecutor(max_workers=threads)

    def evaluate(trials: List[Tuple[int, List[int]]]) -> List[Result]:
        # One trial per task: an interrupted search waits for one trial per
        # thread at most.
        futures = [pool.submit(worker.evaluate, [trial]) for trial in trials]
        try:
            return [future.result()[0] for future in futures]
        finally:
            for future in futures:
                future.cancel()

    try:
        search.run(evaluate, parts.append, None if report is None else lambda done: report(done, count))
    finally:
        pool.shutdown(wait=True, cancel_futures=True)
    text = "".join(parts)
    summary = worker.summarize(text, "tumblewatch tune", "trial", count, count, len(search.refused), 0.0, 0)
    failures = list(worker.failures) + [f"{e}: no samples; left out" for e in worker.empty]
    return _finish(search, parts, summary, failures)


def _on_cluster(client: Any, arguments: Tuple[Any, ...], plan: Any, send_data: bool, ranges: Any, count: int,
                sampler: str, seed: int, population: int, text_of: str, report: Any) -> Any:
    """The search on a Dask cluster, as the command line runs it."""
    import math

    from ._cluster import ClusterSweep
    from ._tune import _TASKS_PER_THREAD

    job = ClusterSweep(client, arguments, plan, send_data)
    try:
        job.load(10.0)
        sweep_id = _tune_id(job.sweep_id, sampler, population, seed, count)
        parts = [_tumblewatch.sweep_header(arguments, sweep_id, text_of)]
        search = Search(ranges, count, sampler, seed, population)
        per_task = max(1, math.ceil(population / (_TASKS_PER_THREAD * job.threads)))
        search.run(lambda trials: job.evaluate(trials, per_task), parts.append,
                   None if report is None else lambda done: report(done, count))
        summary = job.summarize("".join(parts), "tumblewatch tune", "trial", count, count, len(search.refused))
        failures = job.failures + [f"{e}: no samples; left out" for e in job.empty]
    finally:
        job.close()
    return _finish(search, parts, summary, failures)

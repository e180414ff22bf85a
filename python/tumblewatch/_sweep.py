"""A sweep: many configurations over the same labelled recordings, as sweep --out writes it."""

from __future__ import annotations

import io
import json
import os
import warnings
from typing import Any, Callable, Dict, List, Mapping, Optional, Sequence, Tuple, Union

import pandas

from . import _tumblewatch
from ._arguments import as_int, as_label_files, as_merge, as_paths, as_seconds, as_threads, config_values
from ._config import _NAMES, Config, _unknown
from ._evaluation import Paths
from ._progress import ProgressArgument, progress_of

GridValues = Union[str, Sequence[int], range]


def _check_name(name: Any, what: str) -> str:
    if not isinstance(name, str):
        raise TypeError(f"{what}: parameter names are str, got {type(name).__name__}")
    try:
        _tumblewatch.config_with(None, {name: 0})
    except KeyError:
        raise KeyError(_unknown(name)) from None
    except ValueError:
        pass  # a known name whose value 0 the detector refuses
    return name


def _is_sequence(values: Any) -> bool:
    """A sized, ordered collection of values (a list, tuple, range or numpy
    array), not a text or a mapping."""
    return (not isinstance(values, (str, bytes, bytearray, Mapping)) and hasattr(values, "__len__")
            and hasattr(values, "__getitem__"))


def _grid_values(name: str, values: Any, limit: int) -> str:
    """The command line's text of a grid's values: a range as LO:HI:STEP (never
    expanded here), other sequences value by value once their length is
    within limit."""
    if isinstance(values, range) and len(values) > 0 and values.step > 0:
        return f"{values.start}:{values[-1]}:{values.step}"
    if _is_sequence(values) and len(values) > 0:
        if len(values) > limit:
            raise ValueError(f"grid: {name}: {len(values)} values, more than max_configs ({limit})")
        return ",".join(str(as_int(f"grid: {name}", v)) for v in values)
    raise TypeError(f"grid: {name}: expected a non-empty sequence of ints (a list, range or integer numpy array) "
                    f"or 'LO:HI:STEP', got {type(values).__name__}")


def _range_values(name: str, bounds: Any, limit: int = 0) -> str:
    if _is_sequence(bounds) and len(bounds) == 2:
        return f"{as_int(f'ranges: {name}', bounds[0])}:{as_int(f'ranges: {name}', bounds[1])}"
    raise TypeError(f"ranges: {name}: expected (LO, HI) or 'LO:HI'")


# The command line's options in the compiled sweep's messages, and the
# arguments of sweep() that stand for them.
_PYTHON_TERMS = [
    ("--random needs at least one --range NAME=LO:HI", "random= needs ranges=, e.g. ranges={'fallWindow': (5, 30)}"),
    ("--range needs --random N", "ranges= needs random=N (the number of configurations to draw)"),
    ("nothing to sweep: give --grid NAME=... or --random N with --range NAME=LO:HI",
     "nothing to sweep: give grid=, or random=N with ranges="),
    ("more than --max-configs", "more than max_configs="),
    ("--grid ", "grid: "), ("--range ", "ranges: "), ("--folds", "folds"), ("--labels", "labels="),
    ("--merge", "merge"), ("--objective", "objective"), ("--max-configs", "max_configs"), ("--random", "random"),
]


def python_terms(message: str) -> str:
    """A message of the compiled sweep with the command line's options named
    as the arguments of :func:`sweep`."""
    for cli, python in _PYTHON_TERMS:
        message = message.replace(cli, python)
    return message


def _option_texts(value: Any, what: str, values_text: Callable[[str, Any, int], str], limit: int) -> List[str]:
    """The command line's NAME=... texts of a grid or ranges argument, in order.

    value is None, a mapping of names to values (a str value is taken as the
    command line writes it, other values go through values_text) or the texts
    themselves; every name must be a parameter's.
    """
    if value is None:
        return []
    if isinstance(value, str):
        value = [value]
    if isinstance(value, Mapping):
        items = list(value.items())
    elif isinstance(value, Sequence):
        items = []
        for text in value:
            if not isinstance(text, str):
                raise TypeError(f"{what}: expected a mapping of names to values or 'NAME=...' texts, "
                                f"got {type(text).__name__}")
            name, _, values = text.partition("=")
            items.append((name, values))
    else:
        raise TypeError(f"{what}: expected a mapping of names to values or 'NAME=...' texts")
    return [f"{_check_name(name, what)}={values if isinstance(values, str) else values_text(name, values, limit)}"
            for name, values in items]


def _frame(text: str) -> pandas.DataFrame:
    return pandas.read_csv(io.StringIO(text), skiprows=1)


def _row(frame: pandas.DataFrame, position: int) -> pandas.Series:
    """A row as a Series that keeps each column's type (ints stay ints)."""
    return pandas.Series({c: frame[c].iloc[position] for c in frame.columns}, dtype=object,
                         name=int(frame["config"].iloc[position]))


class SweepResult(pandas.DataFrame):
    """The rows of a sweep (:func:`sweep`): one per configuration the detector accepted.

    The columns and values are those of ``tumblewatch sweep --out`` in CSV:
    ``config`` (the configuration's number), the varied parameters, ``tp``,
    ``fn``, ``fp``, ``tn``, ``sensitivity``, ``specificity``, ``f1``,
    ``false_alarms_per_hour``, ``latency_median`` (rates with six decimals, an
    undefined one NaN), ``false_alarm_events`` and, with folds, the
    ``tune_...`` and ``held_...`` figures of the same configuration, means
    over the folds, and ``foldK_tp`` ... ``foldK_false_alarm_events``, the
    counts on held-out group K. Frames derived from it are plain DataFrames.

    Attributes
    ----------
    front : pandas.DataFrame
        The rows on the Pareto front of sensitivity (up) against false alarms
        per hour (down), by falling false alarms per hour.
    best : pandas.Series or None
        The row of the best configuration under the objective; None when none
        qualifies.
    best_config : Config or None
        The whole best configuration.
    base : pandas.Series
        The base configuration's figures (``config`` is -1): the defaults with
        ``config`` applied, against which the default objective measures.
    objective : str
        The objective in words.
    nested : dict or None
        With ``folds``, the nested selection ("tuned on other subjects, tested
        on new ones"), as ``sweep --summary`` writes it under ``nested``:
        ``folds`` (per fold its ``subjects``, ``limit``, the ``config`` chosen
        on the other folds alone, or None, its ``values``, its ``tp``, ``fn``,
        ``fp``, ``tn``, ``sensitivity``, ``specificity``, ``f1`` and
        ``false_alarms_per_hour`` on the fold's held-out subjects, the same
        figures on the tuning part as ``tuning``, their ``shift`` and the
        ``tuning_front``), ``chosen`` (folds that chose a configuration),
        ``mean``, ``sd`` and ``defined``. None without folds.
    refused : dict of int to str
        Configurations that the detector refused (no row), with the reason.
    failures : list of str
        ``"PATH: reason"`` of the recordings that could not be read.
    sweep_id, description : str
        The identifier and description of the first line of ``sweep --out``.
    """

    _metadata = ["front", "best", "best_config", "base", "objective", "nested", "refused", "failures", "sweep_id",
                 "description"]

    @property
    def _constructor(self) -> Any:
        return pandas.DataFrame

    def _repr_html_(self) -> Optional[str]:
        """The objective, the best configuration and the front, then the rows
        (what a notebook shows)."""
        import html

        rows = super()._repr_html_()
        best = getattr(self, "best", None)
        best_text = "none qualifies" if best is None else f"configuration {best.name}"
        front = getattr(self, "front", None)
        front_html = "" if front is None else front.to_html(max_rows=20, index=False)
        return (f"<div><p>Sweep {html.escape(str(getattr(self, 'sweep_id', '')))}: "
                f"{html.escape(str(getattr(self, 'description', '')))}</p>"
                f"<p>Objective: {html.escape(str(getattr(self, 'objective', '')))}; best: {best_text}</p>"
                f"<p>Pareto front ({0 if front is None else len(front)} configurations)</p>{front_html}"
                f"<p>All {len(self)} rows</p>{rows or ''}</div>")


def sweep(
    paths: Optional[Paths] = None,
    grid: Optional[Union[Mapping[str, GridValues], Sequence[str]]] = None,
    ranges: Optional[Union[Mapping[str, Tuple[int, int]], Sequence[str]]] = None,
    random: int = 0,
    seed: int = 1,
    folds: int = 0,
    labels: Optional[Union[str, "os.PathLike[str]", Sequence[Union[str, "os.PathLike[str]"]]]] = None,
    config: Optional[Config] = None,
    objective: Optional[str] = None,
    threads: Optional[int] = None,
    merge: float = 10.0,
    max_configs: int = 100_000,
    client: Any = None,
    send_data: bool = False,
    folds_by: str = "subject",
    before: float = 1.5,
    after: float = 3.0,
    progress: ProgressArgument = None,
) -> SweepResult:
    """Evaluate many configurations on the same recordings, as ``tumblewatch sweep`` does.

    Parameters
    ----------
    paths : path or sequence of paths, optional
        Recordings, folders or patterns, as for :func:`evaluate`; may be left
        out with ``labels``.
    grid : mapping or sequence of str, optional
        Values of parameters: ``{"fallWindow": range(8, 21, 2), "quietMagnitude":
        [50, 60]}`` or ``{"fallWindow": "8:20:2"}``, or the command line's
        ``["fallWindow=8:20:2", ...]``. The sweep takes the cartesian product,
        the first grid varying slowest.
    ranges : mapping or sequence of str, optional
        Integer ranges of the random draws: ``{"fallWindow": (5, 30)}`` or
        ``["fallWindow=5:30"]``; with ``random``.
    random : int, default 0
        Configurations drawn uniformly from ``ranges`` (per grid point).
    seed : int, default 1
        Seed of the random draws (the same seed, the same draws).
    folds : int, default 0
        Held-out subjects in this many groups (at least 2); rows then carry
        tuning and held-out figures, and ``nested`` holds each group's best
        configuration chosen on the others and scored on it.
    labels : path or sequence of paths, optional
        A manifest, or several, as for :func:`evaluate`.
    config : Config, optional
        The base configuration that the grids and draws vary; the defaults when None.
    objective : str, optional
        How the best configuration is chosen: None for the highest sensitivity
        with at most the base configuration's false alarms per hour,
        ``"max:f1"``, or ``"max:sensitivity@fa<=X"``.
    threads : int, optional
        Worker threads (1 to 1024); every hardware thread by default. The rows
        are the same for any number. Not used with ``client`` (each worker runs
        as many chunks at once as it has threads).
    merge : float, default 10.0
        Alarms less than this many seconds apart are one event.
    max_configs : int, default 100000
        Refuse a sweep of more configurations, before any work.
    client : distributed.Client or str, optional
        Run the sweep on this Dask cluster (a Client, or the scheduler's
        address such as ``"tcp://127.0.0.1:8786"``, connected to for the call): every worker loads the recordings
        once, the configurations go out in chunks and the rows are those of
        the same sweep on this machine. The workers need the same tumblewatch
        (checked before any work) and, without ``send_data``, the recordings at
        the same paths as this process.
    send_data : bool, default False
        With ``client``: send the recordings from this process to the workers
        instead.
    folds_by : str, default "subject"
        The manifest column whose values the folds hold out: ``"dataset"``
        holds out one dataset (or group of datasets) at a time.
    before, after : float, default 1.5 and 3.0
        The fall window's margins, as for :func:`evaluate`.
    progress : bool or callable, optional
        ``progress(done, total)`` (configurations) is called a few times a
        second while the sweep runs and once at its end; True shows a progress bar (tqdm), False
        nothing. By default a bar when standard error is a terminal. Ctrl-C
        stops the sweep within a fraction of a second (KeyboardInterrupt).

    Returns
    -------
    SweepResult
        A DataFrame with the rows and columns of ``sweep --out``, and the front,
        the best configuration and the base as attributes.

    Raises
    ------
    KeyError
        For an unknown parameter name in ``grid`` or ``ranges``.
    FileNotFoundError
        For a path or manifest that does not exist.
    TypeError
        For arguments of the wrong type.
    ValueError
        For a malformed grid or range, a parameter varied twice, too many
        configurations, bad folds or objective, a bad manifest, or no labelled
        recording that could be read, with the command line's message.
    tumblewatch.ClusterError
        With ``client``: a worker runs another tumblewatch, cannot read the
        recordings or sees other ones, or a chunk failed on every try.

    Examples
    --------
    >>> import tumblewatch
    >>> rows = tumblewatch.sweep("recordings/", grid={"fallWindow": range(8, 21, 4)})  # doctest: +SKIP
    >>> rows.front[["config", "fallWindow", "sensitivity", "false_alarms_per_hour"]]  # doctest: +SKIP
    """
    arguments = sweep_arguments(paths, grid, ranges, random, seed, folds, labels, config, objective,
                                threads if client is None else 1, merge, max_configs, folds_by=folds_by,
                                before=before, after=after)
    if client is None and send_data:
        raise ValueError("send_data=True needs client= (the recordings are sent to a cluster's workers)")
    with progress_of(progress, "configurations") as report:
        try:
            if client is None:
                out = _tumblewatch.sweep(arguments, progress=report)
            else:
                from ._cluster import client_of, sweep_on

                with client_of(client) as connected:
                    out = sweep_on(connected, arguments, send_data=send_data, progress=report)
        except ValueError as e:
            raise ValueError(python_terms(str(e))) from None
        result = _result(out)
        if report is not None:
            done = len(result) + len(result.refused)
            report(done, done)
    for failure in result.failures:
        warnings.warn(failure, RuntimeWarning, stacklevel=2)
    return result


def sweep_arguments(paths: Optional[Paths], grid: Any, ranges: Any, random: int, seed: int, folds: int, labels: Any,
                    config: Optional[Config], objective: Optional[str], threads: Optional[int], merge: float,
                    max_configs: int, format: str = "csv", folds_by: str = "subject", before: float = 1.5,
                    after: float = 3.0) -> Tuple[Any, ...]:
    """The arguments of the compiled sweep functions, checked as :func:`sweep` documents."""
    path_list = as_paths(paths)
    limit = as_int("max_configs", max_configs)
    if not 1 <= limit < 2**63:
        raise ValueError(f"max_configs: expected at least 1, got {limit}")
    # Each grid's values are counted before any is expanded.
    grids = _option_texts(grid, "grid", _grid_values, limit)
    range_texts = _option_texts(ranges, "ranges", _range_values, limit)
    draws = as_int("random", random)
    if draws < 0:
        raise ValueError(f"random: expected at least 0, got {draws}")
    seed_value = as_int("seed", seed)
    if not 0 <= seed_value < 2**64:
        raise ValueError(f"seed: expected 0 .. 2**64 - 1, got {seed_value}")
    fold_count = as_int("folds", folds)
    if not 0 <= fold_count < 2**31:
        raise ValueError(f"folds: expected 0 (none) or at least 2, got {fold_count}")
    if objective is not None and not isinstance(objective, str):
        raise TypeError(f"objective: expected a str or None, got {type(objective).__name__}")
    if draws >= 2**63:
        raise ValueError(f"random: expected fewer than 2**63 draws, got {draws}")
    if not isinstance(folds_by, str):
        raise TypeError(f"folds_by: expected a str, got {type(folds_by).__name__}")
    manifests = as_label_files(labels)
    extras = {"more_labels": manifests[1:], "folds_by": folds_by, "before": as_seconds("before", before),
              "after": as_seconds("after", after)}
    return (path_list, manifests[0] if manifests else "", config_values(config), as_merge(merge),
            as_threads(threads), grids, range_texts, draws, seed_value, limit, fold_count, objective or "", format,
            extras)


def _result(out: Dict[str, Any]) -> SweepResult:
    header = out["rows"].split("\n", 2)
    rows = SweepResult(_frame(out["rows"]))
    first = header[0]  # "# tumblewatch sweep ID; description"
    ident, _, description = first[len("# tumblewatch sweep "):].partition("; ")
    position = {number: i for i, number in enumerate(rows["config"])}
    front = pandas.DataFrame(rows.iloc[[position[n] for n in out["front"]]]).reset_index(drop=True)
    best = None if out["best"] is None else _row(rows, position[out["best"]])
    base = _row(_frame(header[0] + "\n" + header[1] + "\n" + out["base_row"]), 0)
    rows.front = front
    rows.best = best
    rows.best_config = None if out["best_config"] is None else Config.from_dict(dict(zip(_NAMES, out["best_config"])))
    rows.base = base
    rows.objective = out["objective"]
    rows.nested = None if out["nested"] is None else json.loads(out["nested"])
    rows.refused = {int(index): reason for index, reason in out["refused"]}
    rows.failures = list(out["failures"])
    rows.sweep_id = ident
    rows.description = description
    return rows

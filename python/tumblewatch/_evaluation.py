"""An evaluation of the detector on labelled recordings, as eval --json reports it."""

from __future__ import annotations

import html
import json
import os
import warnings
from typing import Any, Dict, List, Optional, Sequence, Union

import pandas

from . import _tumblewatch
from ._arguments import as_label_files, as_merge, as_paths, as_seconds, as_threads, config_values
from ._config import Config
from ._progress import ProgressArgument, progress_of

Paths = Union[str, "os.PathLike[str]", Sequence[Union[str, "os.PathLike[str]"]]]

#: Columns of :attr:`Evaluation.recordings`, in order.
RECORDING_COLUMNS = (
    "path", "relative_path", "folder", "format", "micom_layout", "label", "activity", "description", "subject",
    "labels_from",
    "read", "failure", "samples", "duration_s", "alarms", "events", "detected", "first_alarm", "first_code",
    "codes", "impact_sample", "impact_source", "latency_s",
)


def _recording_row(r: Dict[str, Any]) -> Dict[str, Any]:
    alarms = r.get("alarms", [])
    codes = sorted({a["code"] for a in alarms})
    impact = r.get("impact") or {}
    return {
        "path": r["path"],
        "relative_path": r["relative_path"],
        "folder": r["folder"],
        "format": r["format"],
        "micom_layout": r["micom_layout"],
        "label": r["label"],
        "activity": r["activity"],
        "description": r.get("description", ""),
        "subject": r["subject"],
        "labels_from": r["labels_from"],
        "read": r["read"],
        "failure": r["failure"],
        "samples": r.get("samples"),
        "duration_s": r.get("duration_s"),
        # Counts of all of them: the lists hold the first 10,000.
        "alarms": r.get("alarm_count", len(alarms)) if r["read"] else None,
        "events": r.get("event_count", len(r.get("events", []))) if r["read"] else None,
        "detected": r.get("detected"),
        "first_alarm": r.get("first_alarm"),
        "first_code": alarms[0]["code"] if alarms else None,
        "codes": tuple(codes),
        "impact_sample": impact.get("sample"),
        "impact_source": impact.get("source"),
        "latency_s": r.get("latency_s"),
    }


# The summary's figures that a notebook shows, in order.
_SHOWN = ("falls", "adls", "tp", "fn", "fp", "tn", "sensitivity", "specificity", "precision", "f1",
          "false_alarms_per_hour", "false_alarm_events", "adl_hours", "latency_median", "unreadable", "unlabelled",
          "samples", "seconds")


def _figure(value: Any) -> str:
    return f"{value:.4g}" if isinstance(value, float) else str(value)


class Evaluation:
    """The result of :func:`evaluate`: what ``tumblewatch eval --json`` writes, as Python objects.

    Attributes
    ----------
    summary : dict
        Every metric by name (``tp``, ``fn``, ``fp``, ``tn``, ``falls``, ``adls``,
        ``recordings``, ``sensitivity``, ``specificity``, ``precision``, ``f1``,
        ``accuracy``, ``false_alarm_events``, ``adl_hours``,
        ``false_alarms_per_hour``, ``latency_median``, ``latency_min``,
        ``latency_max``, ``latency_count``) and ``recordings_found``,
        ``unreadable``, ``unlabelled``, ``csv_twins_passed_over``, ``samples``,
        ``seconds`` (the wall time of the run); an undefined rate is None.
    recordings : pandas.DataFrame
        One row per recording found: ``path``, ``relative_path``, ``folder``,
        ``format``, ``micom_layout``, ``label`` ("fall", "adl" or None),
        ``activity``, ``subject``, ``labels_from``, ``read``, ``failure``,
        ``samples``, ``duration_s``, ``alarms`` (how many), ``events``,
        ``detected``, ``first_alarm``, ``first_code``, ``codes`` (the distinct
        codes raised), ``impact_sample``, ``impact_source``, ``latency_s``.
    alarms : pandas.DataFrame
        One row per alarm: ``path``, ``sample`` (0-based, as in the trace), ``code``.
    by_activity, by_code, by_folder : pandas.DataFrame
        The breakdowns of the JSON document, one row per entry.
    by_dataset : pandas.DataFrame
        Every metric per value of the manifests' ``dataset`` column (empty
        when no recording has one).
    outside_window : pandas.DataFrame
        One row per fall with its own timing: ``path`` and its fall window
        (``fall_start``, ``fall_end``, ``first``, ``last``, ``first_alarm``
        in it, ``early_alarms``, ``late_alarms``, ``early_events``,
        ``late_events``, ``outside_s``, ``latency_start_s``,
        ``latency_end_s``, ...); empty without timed falls.
    config : Config
        The configuration evaluated.
    failures : list of dict
        ``{"path", "reason"}`` of every recording that could not be read.
    intervals : dict
        The intervals of the rates at the evaluation's ``confidence``:
        ``sensitivity``, ``specificity``, ``precision`` (Wilson) and
        ``false_alarms_per_hour`` (exact Poisson), each ``{"lower", "upper"}``
        or None when nothing was counted; ``by_activity`` and ``by_folder``;
        and ``bootstrap`` (over the subjects; None unless asked for).
    document : dict
        The whole JSON document.
    """

    def __init__(self, text: str) -> None:
        self._text = text
        self.document: Dict[str, Any] = json.loads(text)
        self.summary: Dict[str, Any] = dict(self.document["summary"])
        self.intervals: Dict[str, Any] = dict(self.document.get("intervals") or {})
        self.config = Config.from_dict(self.document["config"])
        self.failures: List[Dict[str, str]] = list(self.document["failures"])
        recordings = self.document["recordings"]
        self.recordings = pandas.DataFrame([_recording_row(r) for r in recordings], columns=list(RECORDING_COLUMNS))
        self.alarms = pandas.DataFrame(
            [(r["path"], a["sample"], a["code"]) for r in recordings for a in r.get("alarms", [])],
            columns=["path", "sample", "code"],
        )
        self.by_activity = pandas.DataFrame(self.document["by_activity"])
        self.by_code = pandas.DataFrame(self.document["by_code"], columns=["code", "alarms", "events_on_falls",
                                                                           "events_on_adls"])
        self.by_folder = pandas.DataFrame(self.document["by_folder"])
        self.by_dataset = pandas.DataFrame(self.document.get("by_dataset", []))
        self.outside_window = pandas.DataFrame(
            [dict(path=r["path"], **r["fall_window"]) for r in recordings if "fall_window" in r],
            columns=_WINDOW_COLUMNS)

    def to_json(self) -> str:
        """The document that ``tumblewatch eval --json`` writes for the same inputs.

        Returns
        -------
        str
            The JSON text, byte for byte the file's (with the same PATHs
            given; ``summary.seconds``, the wall time, differs from run to run).
        """
        return self._text

    def __getstate__(self) -> Dict[str, str]:
        return {"text": self._text}

    def __setstate__(self, state: Dict[str, str]) -> None:
        self.__init__(state["text"])  # type: ignore[misc]

    def _repr_html_(self) -> str:
        """The summary as an HTML table (what a notebook shows)."""
        s = self.summary
        rows = "".join(
            f"<tr><th style='text-align:left'>{html.escape(str(key))}</th>"
            f"<td>{'undefined' if s[key] is None else html.escape(_figure(s[key]))}</td></tr>"
            for key in _SHOWN if key in s)
        failures = f"<p>{len(self.failures)} recordings could not be read (see failures).</p>" if self.failures else ""
        return f"<div><p>Evaluation of {s['recordings_found']} recordings</p><table>{rows}</table>{failures}</div>"

    def __repr__(self) -> str:
        s = self.summary

        def rate(v: Optional[float]) -> str:
            return "undefined" if v is None else f"{v:.3f}"

        return (f"<Evaluation of {s['recordings_found']} recordings ({s['falls']} falls, {s['adls']} ADLs): "
                f"sensitivity {rate(s['sensitivity'])}, specificity {rate(s['specificity'])}, "
                f"false alarms per hour {rate(s['false_alarms_per_hour'])}>")


# The columns of Evaluation.outside_window.
_WINDOW_COLUMNS = ["path", "fall_start", "fall_end", "alert_start", "alert_end", "first", "last", "first_alarm",
                   "alarms_in", "early_alarms", "late_alarms", "early_events", "late_events", "outside_s",
                   "latency_start_s", "latency_end_s"]
def _as_confidence(value: Any) -> float:
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise TypeError(f"confidence: expected a number between 0 and 1, got {type(value).__name__}")
    level = float(value)
    if not 0.0 < level < 1.0:
        raise ValueError(f"confidence: expected a level between 0 and 1, such as 0.95, got {value!r}")
    return level


def _as_count(name: str, value: Any) -> int:
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"{name}: expected an int, got {type(value).__name__}")
    if not 0 <= value <= 1000000:
        raise ValueError(f"{name}: expected 0 to 1000000, got {value}")
    return int(value)


def _as_seed(value: Any) -> int:
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"seed: expected an int, got {type(value).__name__}")
    if not 0 <= value < 2**64:
        raise ValueError(f"seed: expected 0 to 18446744073709551615, got {value}")
    return int(value)


def evaluate(
    paths: Optional[Paths] = None,
    labels: Optional[Union[str, "os.PathLike[str]", Sequence[Union[str, "os.PathLike[str]"]]]] = None,
    config: Optional[Config] = None,
    merge: float = 10.0,
    threads: Optional[int] = None,
    before: float = 1.5,
    after: float = 3.0,
    confidence: float = 0.95,
    bootstrap: int = 0,
    seed: int = 1,
    progress: ProgressArgument = None,
) -> Evaluation:
    """Evaluate the detector on recordings, as ``tumblewatch eval`` does.

    Parameters
    ----------
    paths : path or sequence of paths, optional
        Recordings, folders (searched recursively) or patterns with ``*`` and
        ``?`` in their last component. May be left out with ``labels``: the
        manifest's recordings are evaluated then.
    labels : path or sequence of paths, optional
        A manifest (CSV with the columns ``path`` and ``label``, optionally
        ``activity``, ``subject``, ``impact_sample``, ``dataset`` and the
        fall's timing ``fall_start``, ``fall_end``); recordings it does not
        list are labelled by their file names. Several manifests (one per
        dataset, say) are read together; with a ``dataset`` column the
        result has a by-dataset table (``by_dataset``).
    config : Config, optional
        The detector's parameters; the defaults when None.
    merge : float, default 10.0
        Alarms less than this many seconds apart are one event.
    threads : int, optional
        Worker threads; every hardware thread by default. The results are the
        same for any number (1 to 1024).
    before, after : float, default 1.5 and 3.0
        A fall whose manifest gives its timing counts as detected only by an
        alarm from ``before`` seconds before the fall starts to ``after``
        seconds after it ends; its other alarms are early or late.
    confidence : float, default 0.95
        The level of every interval, between 0 and 1 (``--confidence``).
    bootstrap : int, default 0
        Resamples of a bootstrap over the subjects (``--bootstrap``); 0 for none.
    seed : int, default 1
        The bootstrap's seed, 0 to 2**64 - 1 (``--seed``): the same seed gives
        the same intervals.
    progress : bool or callable, optional
        ``progress(done, total)`` (recordings) is called a few times a second
        while the work runs and once at its end; True shows a progress bar (tqdm: a line on a
        terminal, a widget in Jupyter), False nothing. By default a bar when
        standard error is a terminal, else nothing.

    Returns
    -------
    Evaluation
        The summary, one row per recording, the breakdowns and the JSON
        document of ``eval --json``.

    Raises
    ------
    FileNotFoundError
        For a path (without wildcards) or a manifest that does not exist.
    TypeError
        For arguments of the wrong type.
    ValueError
        For a bad manifest (the message names the line), a pattern that matches
        nothing, no recording found, a negative merge or threads below 1, with
        the command line's message.

    Warns
    -----
    RuntimeWarning
        When recordings could not be read; they are listed in ``failures`` and
        left out of the metrics.
    """
    path_list = as_paths(paths)
    manifests = as_label_files(labels)
    arguments = (path_list, manifests[0] if manifests else "", config_values(config), as_merge(merge),
                 as_threads(threads), manifests[1:], as_seconds("before", before), as_seconds("after", after),
                 _as_confidence(confidence), _as_count("bootstrap", bootstrap), _as_seed(seed))
    # Ctrl-C stops the work within a fraction of a second (KeyboardInterrupt).
    with progress_of(progress, "recordings") as report:
        text = _tumblewatch.evaluate(*arguments, progress=report)
        evaluation = Evaluation(text)
        if report is not None:
            found = evaluation.summary["recordings_found"]
            report(found, found)
    for failure in evaluation.failures:
        warnings.warn(f"{failure['path']}: {failure['reason']}", RuntimeWarning, stacklevel=2)
    return evaluation

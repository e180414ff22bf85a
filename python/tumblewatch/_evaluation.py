"""An evaluation of the detector on labelled recordings, as eval --json reports it."""

from __future__ import annotations

import html
import json
import os
import warnings
from typing import Any, Dict, List, Optional, Sequence, Union

import pandas

from . import _tumblewatch
from ._arguments import as_labels, as_merge, as_paths, as_threads, config_values
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
    config : Config
        The configuration evaluated.
    failures : list of dict
        ``{"path", "reason"}`` of every recording that could not be read.
    document : dict
        The whole JSON document.
    """

    def __init__(self, text: str) -> None:
        self._text = text
        self.document: Dict[str, Any] = json.loads(text)
        self.summary: Dict[str, Any] = dict(self.document["summary"])
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


def evaluate(
    paths: Optional[Paths] = None,
    labels: Optional[Union[str, "os.PathLike[str]"]] = None,
    config: Optional[Config] = None,
    merge: float = 10.0,
    threads: Optional[int] = None,
    progress: ProgressArgument = None,
) -> Evaluation:
    """Evaluate the detector on recordings, as ``tumblewatch eval`` does.

    Parameters
    ----------
    paths : path or sequence of paths, optional
        Recordings, folders (searched recursively) or patterns with ``*`` and
        ``?`` in their last component. May be left out with ``labels``: the
        manifest's recordings are evaluated then.
    labels : path, optional
        A manifest (CSV with the columns ``path`` and ``label``, optionally
        ``activity``, ``subject``, ``impact_sample``); recordings it does not
        list are labelled by their file names.
    config : Config, optional
        The detector's parameters; the defaults when None.
    merge : float, default 10.0
        Alarms less than this many seconds apart are one event.
    threads : int, optional
        Worker threads; every hardware thread by default. The results are the
        same for any number (1 to 1024).
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
    arguments = (path_list, as_labels(labels), config_values(config), as_merge(merge), as_threads(threads))
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

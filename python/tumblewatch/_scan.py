"""What-if scans and explanations, as ``tumblewatch scan --json`` and ``explain --json`` report them."""

from __future__ import annotations

import json
import os
from typing import TYPE_CHECKING, Any, Dict, List, Optional, Sequence, Union

from . import _tumblewatch
from ._arguments import as_int, as_labels, as_merge, as_paths, as_threads, config_values
from ._config import Config

if TYPE_CHECKING:
    import pandas

Paths = Union[str, "os.PathLike[str]", Sequence[Union[str, "os.PathLike[str]"]]]


def _names(argument: str, value: Optional[Any]) -> List[str]:
    if value is None:
        return []
    if isinstance(value, str):
        return [value]
    names = list(value)
    for name in names:
        if not isinstance(name, str):
            raise TypeError(f"{argument}: expected names (str), got {type(name).__name__}")
    return names


def _steps(value: Optional[Dict[str, int]]) -> List[str]:
    if value is None:
        return []
    if not isinstance(value, dict):
        raise TypeError(f"steps: expected a dict of name to step, got {type(value).__name__}")
    return [f"{name}={as_int('steps', step)}" for name, step in value.items()]


class ScanResult:
    """The result of :func:`scan`: the document of ``tumblewatch scan --json``.

    Attributes
    ----------
    document : dict
        The whole document (see the README's "What-if scans").
    ranking : list of str
        The parameters, from the one that alone moves the front most.
    base : dict
        The base configuration's counts and rates.
    recordings : list of dict
        The labelled recordings the scan ran on; the change lists of the
        rows index this list.
    """

    def __init__(self, text: str) -> None:
        self.document: Dict[str, Any] = json.loads(text)
        self.ranking: List[str] = list(self.document["ranking"])
        self.base: Dict[str, Any] = self.document["base"]
        self.recordings: List[Dict[str, Any]] = self.document["recordings"]

    def parameter(self, name: str) -> Dict[str, Any]:
        """The scan of one parameter: its range, step, reach, rank and rows.

        Raises
        ------
        KeyError
            For a parameter that the scan did not cover.
        """
        for p in self.document["parameters"]:
            if p["name"] == name:
                return p
        raise KeyError(name)

    def rows(self, name: str) -> "pandas.DataFrame":
        """The rows of one parameter as a DataFrame: one per value, with the
        counts, the rates and the numbers of falls gained and lost and of
        false alarms added and removed against the base."""
        import pandas

        rows = []
        for r in self.parameter(name)["rows"]:
            row = {k: v for k, v in r.items() if not isinstance(v, list)}
            for k, v in r.items():
                if isinstance(v, list):
                    row[k] = len(v)
            rows.append(row)
        return pandas.DataFrame(rows)

    def to_json(self) -> str:
        """The document as JSON text."""
        return json.dumps(self.document)


class Explanation:
    """The result of :func:`explain`: the document of ``tumblewatch explain --json``.

    Attributes
    ----------
    document : dict
        The whole document.
    cases : list of dict
        Every missed fall (first) and false alarm: ``kind``, ``path``, the
        criteria's closest approaches (``approaches``, missed falls) or the
        ``alarms`` (false alarms), and ``changes``, the smallest change of
        each parameter that alters the case, best first, each confirmed by a
        detector run, with the counts of what it does to every other
        recording (the recordings themselves in the document's
        ``configurations``, at the change's ``configuration``).
    missed_falls, false_alarms : int
        How many of each.
    """

    def __init__(self, text: str) -> None:
        self.document: Dict[str, Any] = json.loads(text)
        self.cases: List[Dict[str, Any]] = self.document["cases"]
        self.missed_falls: int = self.document["missed_falls"]
        self.false_alarms: int = self.document["false_alarms"]

    def to_json(self) -> str:
        """The document as JSON text."""
        return json.dumps(self.document)


def _call(function: Any, paths: Optional[Paths], labels: Any, config: Optional[Config], merge: float,
          threads: Optional[int], params: Optional[Any], steps: Optional[Dict[str, int]], max_values: int) -> str:
    return function(as_paths(paths), as_labels(labels), config_values(config), as_merge(merge), as_threads(threads),
                    _names("params", params), _steps(steps), as_int("max_values", max_values))


def scan(
    paths: Optional[Paths] = None,
    labels: Optional[Union[str, "os.PathLike[str]"]] = None,
    config: Optional[Config] = None,
    params: Optional[Union[str, Sequence[str]]] = None,
    steps: Optional[Dict[str, int]] = None,
    max_values: int = 64,
    merge: float = 10.0,
    threads: Optional[int] = None,
) -> ScanResult:
    """Scan each parameter alone over its range, as ``tumblewatch scan`` does.

    Parameters
    ----------
    paths, labels, config, merge, threads
        As for :func:`evaluate`; ``config`` is the base the others stay at.
    params : str or sequence of str, optional
        The parameters to scan; every parameter a stage reads by default.
    steps : dict, optional
        A step per parameter name (scan it in steps of that many units).
    max_values : int, default 64
        A range of more values (and more than 64) is scanned in even steps of
        at most this many values.

    Returns
    -------
    ScanResult

    Raises
    ------
    FileNotFoundError
        For a path or manifest that does not exist.
    TypeError
        For arguments of the wrong type.
    ValueError
        With the command line's message: an unknown parameter (with the
        closest name), one that no stage reads, a configuration the detector
        refuses, no labelled recording.
    """
    return ScanResult(_call(_tumblewatch.scan, paths, labels, config, merge, threads, params, steps, max_values))


def explain(
    paths: Optional[Paths] = None,
    labels: Optional[Union[str, "os.PathLike[str]"]] = None,
    config: Optional[Config] = None,
    params: Optional[Union[str, Sequence[str]]] = None,
    steps: Optional[Dict[str, int]] = None,
    max_values: int = 64,
    merge: float = 10.0,
    threads: Optional[int] = None,
) -> Explanation:
    """Explain every missed fall and false alarm, as ``tumblewatch explain`` does.

    Parameters are those of :func:`scan`: the changes are searched over the
    scanned parameters and values.

    Returns
    -------
    Explanation

    Raises
    ------
    FileNotFoundError, TypeError, ValueError
        As :func:`scan`.
    """
    return Explanation(_call(_tumblewatch.explain, paths, labels, config, merge, threads, params, steps, max_values))

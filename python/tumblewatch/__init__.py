"""tumblewatch: the fall detector and its workbench on numpy arrays.

The detector: :func:`read_recording` reads a recording into an ``int16``
array of shape (N, 6); :func:`detect` gives every sample's fall code,
:class:`Detector` does the same for a stream in chunks, :func:`trace` the
detector's state after every sample and :func:`trace_text` the bench's trace.
:class:`Config` holds the 35 parameters by name, :func:`params` describes
them.

The workbench: :func:`evaluate` measures the detector on labelled recordings
(an :class:`Evaluation`, what ``tumblewatch eval --json`` reports) and
:func:`sweep` evaluates many configurations (a DataFrame of the rows of
``tumblewatch sweep --out``, with its Pareto front and best configuration);
:func:`tune` searches the parameters with optuna (the rows of ``python3 -m
tumblewatch tune``). :func:`scan` runs each parameter alone over its range (a
:class:`ScanResult`) and :func:`explain` says why each fall was missed and
each false alarm raised (an :class:`Explanation`). They load pandas when
first used.

Every loop runs in C++ with the GIL released.
"""

import typing as _typing

from . import _tumblewatch
from ._config import Config, Param, params
from ._detector import Detector, detect, read_recording, trace, trace_text

__version__: str = _tumblewatch.__version__


def version() -> str:
    """The algorithm's version text.

    Returns
    -------
    str
        ``"J6-Tumblewatch-"`` and the library's version number, as the bench's
        trace and ``eval --json`` show it.
    """
    return _tumblewatch.version()


__all__ = [
    "__version__",
    "version",
    "Config",
    "Param",
    "params",
    "read_recording",
    "detect",
    "Detector",
    "trace",
    "trace_text",
    "evaluate",
    "Evaluation",
    "sweep",
    "SweepResult",
    "tune",
    "ClusterError",
    "scan",
    "ScanResult",
    "explain",
    "Explanation",
]

# The workbench needs pandas, which is loaded only when it is first used.
_LAZY = {"evaluate": "_evaluation", "Evaluation": "_evaluation", "sweep": "_sweep", "SweepResult": "_sweep",
         "tune": "_tuning", "ClusterError": "_cluster", "scan": "_scan", "ScanResult": "_scan", "explain": "_scan",
         "Explanation": "_scan"}

if _typing.TYPE_CHECKING:
    from ._evaluation import Evaluation, evaluate
    from ._cluster import ClusterError
    from ._sweep import SweepResult, sweep
    from ._scan import Explanation, ScanResult, explain, scan
    from ._tuning import tune


def __getattr__(name: str) -> _typing.Any:
    module = _LAZY.get(name)
    if module is None:
        raise AttributeError(f"module 'tumblewatch' has no attribute '{name}'")
    from importlib import import_module

    value = getattr(import_module(f".{module}", __name__), name)
    globals()[name] = value
    return value


def __dir__() -> _typing.List[str]:
    return sorted(__all__)

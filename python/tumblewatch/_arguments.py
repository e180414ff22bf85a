"""Checks of the arguments that the package's functions share."""

from __future__ import annotations

import errno
import operator
import os
from typing import Any, List, Optional, Sequence, Tuple, Union

PathLike = Union[str, "os.PathLike[str]"]


def as_int(name: str, value: Any) -> int:
    """Return ``value`` as an int; raise TypeError for anything that is no integer.

    Booleans, floats and strings are refused rather than converted.
    """
    if isinstance(value, bool) or type(value).__name__ == "bool_":  # numpy's bool too
        raise TypeError(f"{name}: expected an int, got {type(value).__name__}")
    try:
        return operator.index(value)
    except TypeError:
        raise TypeError(f"{name}: expected an int, got {type(value).__name__}") from None


def as_path(name: str, value: Any) -> str:
    """Return a path argument as a string; raise TypeError for anything else."""
    if isinstance(value, (str, os.PathLike)):
        path = os.fspath(value)
        if isinstance(path, str):
            return path
    raise TypeError(f"{name}: expected a path (str or os.PathLike), got {type(value).__name__}")


def _has_wildcard(path: str) -> bool:
    last = os.path.basename(path)
    return "*" in last or "?" in last


def as_paths(value: Any) -> List[str]:
    """The recordings, folders or patterns of ``value``: one path or a sequence of them.

    Raises FileNotFoundError for a path without wildcards that names nothing.
    """
    if value is None:
        return []
    if isinstance(value, (bytes, bytearray)):
        raise TypeError(f"paths: expected a path (str or os.PathLike) or a sequence of them, got "
                        f"{type(value).__name__} (decode it: os.fsdecode(path))")
    if isinstance(value, (str, os.PathLike)):
        value = [value]
    if not isinstance(value, Sequence):
        raise TypeError(f"paths: expected a path or a sequence of paths, got {type(value).__name__}")
    paths = [as_path("paths", p) for p in value]
    for path in paths:
        if not _has_wildcard(path) and not os.path.lexists(path):
            raise FileNotFoundError(errno.ENOENT, "no such file or folder", path)
    return paths


def as_labels(value: Optional[Any]) -> str:
    """The manifest's path ("" for none); FileNotFoundError when it names nothing."""
    if value is None:
        return ""
    path = as_path("labels", value)
    if not os.path.exists(path):
        raise FileNotFoundError(errno.ENOENT, "no such file", path)
    return path


def as_label_files(value: Optional[Any]) -> List[str]:
    """The manifests of ``value``: none, one path, or a sequence of paths (several datasets at once).

    FileNotFoundError for one that names nothing, ValueError for an empty sequence.
    """
    if value is None:
        return []
    if isinstance(value, (str, os.PathLike)):
        return [as_labels(value)]
    if not isinstance(value, Sequence):
        raise TypeError(f"labels: expected a path or a sequence of paths, got {type(value).__name__}")
    if len(value) == 0:
        raise ValueError("labels: expected at least one manifest, got an empty sequence")
    return [as_labels(v) for v in value]


def as_seconds(name: str, value: Any) -> float:
    """A number of seconds: finite, 0 or more; TypeError for anything but a real number."""
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise TypeError(f"{name}: expected a number of seconds, got {type(value).__name__}")
    seconds = float(value)
    if not 0.0 <= seconds <= 86400.0:
        raise ValueError(f"{name}: expected a finite number of seconds from 0 to 86400, got {value!r}")
    return seconds
# Worker threads a call may ask for, as the command line's --jobs.
MOST_THREADS = 1024


def as_threads(value: Optional[Any]) -> int:
    """Worker threads: every hardware thread for None, else an int of 1 to 1024."""
    if value is None:
        from . import _tumblewatch

        return _tumblewatch.hardware_threads()
    threads = as_int("threads", value)
    if not 1 <= threads <= MOST_THREADS:
        raise ValueError(f"threads: expected 1 to {MOST_THREADS}, got {threads}")
    return threads


def as_merge(value: Any) -> float:
    """The event gap in seconds: a real number of at least 0."""
    if isinstance(value, bool) or not isinstance(value, (int, float)) and not hasattr(value, "__float__"):
        raise TypeError(f"merge: expected a number of seconds, got {type(value).__name__}")
    seconds = float(value)
    if not seconds >= 0.0:
        raise ValueError(f"merge: expected a number of seconds, at least 0, got {value!r}")
    return seconds


def config_values(config: Any) -> Optional[Tuple[int, ...]]:
    """The 35 values of a Config (None for the defaults); TypeError for anything else."""
    from ._config import Config

    if config is None:
        return None
    if not isinstance(config, Config):
        raise TypeError(f"config: expected a tumblewatch.Config or None, got {type(config).__name__}")
    return config._values

"""The detector on numpy arrays: fall codes, per-sample state, trace text, recordings."""

from __future__ import annotations

import os
from typing import TYPE_CHECKING, Any, Dict, Optional, Union

import numpy as np

from . import _tumblewatch
from ._arguments import as_path, config_values
from ._config import _NAMES, Config

if TYPE_CHECKING:
    import pandas


def _unmasked(samples: Any) -> Any:
    """samples, unless a masked array: the detector reads every sample, so a
    mask would be ignored silently."""
    if isinstance(samples, np.ma.MaskedArray):
        raise TypeError("samples: expected a plain numpy array, got a masked array (the detector would ignore the "
                        "mask): pass samples.filled(...) or samples.data")
    return samples


def read_recording(path: "str | os.PathLike[str]", micom: Optional[bool] = None) -> np.ndarray:
    """Read a recording into an array of raw samples.

    Parameters
    ----------
    path : str or os.PathLike
        A binary dataset (``.bin``) or a CSV recording (``.csv``).
    micom : bool, optional
        Read a CSV recording in the micom layout (one header line, values
        times 100). By default the layout is the micom one exactly when the
        recording's own folder holds a ``micom.txt``, as ``tumblewatch eval``
        decides. Binary datasets have one layout and ignore it.

    Returns
    -------
    numpy.ndarray
        ``int16`` array of shape (N, 6): accelerometer X, Y, Z (8192 counts
        per g) and gyroscope X, Y, Z (65.536 counts per deg/s), 50 samples per
        second; the samples a device would have fed the detector. C-contiguous,
        so :func:`detect` takes it without a copy.

    Raises
    ------
    FileNotFoundError
        When the file does not exist.
    OSError
        When it cannot be opened.
    ValueError
        When the name does not end in ``.bin`` or ``.csv``, the file is no
        recording or its reading failed; the message is the command line's
        reason (e.g. ``not a dataset: it does not begin with the magic text ...``).
    """
    return _tumblewatch.read_recording(as_path("path", path), micom)


def detect(samples: np.ndarray, config: Optional[Config] = None) -> np.ndarray:
    """Run the samples through a fresh detector and return every sample's fall code.

    Parameters
    ----------
    samples : numpy.ndarray
        Raw samples, a C-contiguous ``int16`` array of shape (N, 6) (as
        :func:`read_recording` gives them). It is read in place, never copied
        nor converted.
    config : Config, optional
        The detector's parameters; the defaults when None.

    Returns
    -------
    numpy.ndarray
        ``int32`` array of shape (N,): 0, or the fall code that the sample
        raised (1, 2, 3, 4, 5, 6, 7, 8, 9, 12, 16 or 71), exactly the codes
        that the bench's trace shows.

    Raises
    ------
    TypeError
        For anything but a numpy array of ``int16`` (``samples.astype(numpy.int16)``
        converts raw counts held in another type), or a config that is not a
        :class:`Config`.
    ValueError
        For another shape, or an array that is not C-contiguous or aligned
        (``numpy.ascontiguousarray(samples)`` makes a contiguous copy).

    Notes
    -----
    The loop runs in C++ with the GIL released: other Python threads,
    including other calls of ``detect``, run meanwhile.

    Examples
    --------
    >>> import numpy as np, tumblewatch
    >>> still = np.tile(np.array([0, -8192, 0, 0, 0, 0], dtype=np.int16), (500, 1))
    >>> int(tumblewatch.detect(still).max())
    0
    """
    return _tumblewatch.detect(_unmasked(samples), config_values(config))


class Detector:
    """One detector over a stream of samples given in chunks.

    ``process`` called on consecutive chunks gives the same codes as one
    :func:`detect` call on the whole stream.

    Parameters
    ----------
    config : Config, optional
        The detector's parameters (copied: later changes of the Config do not
        reach the detector); the defaults when None.

    Notes
    -----
    A call that raises (a wrong dtype, shape or layout) processes nothing, so
    the detector stays where it was. One detector may be shared by threads;
    its calls then run one after the other.

    Examples
    --------
    >>> import numpy as np, tumblewatch
    >>> still = np.tile(np.array([0, -8192, 0, 0, 0, 0], dtype=np.int16), (100, 1))
    >>> d = tumblewatch.Detector()
    >>> codes = d.process(still[:60]), d.process(still[60:])
    >>> d.sample_count
    100
    """

    __slots__ = ("_config", "_detector")

    def __init__(self, config: Optional[Config] = None) -> None:
        values = config_values(config)
        self._detector = _tumblewatch.Detector(values)
        self._config = Config.from_dict(dict(zip(_NAMES, self._detector.config)))

    def process(self, samples: np.ndarray) -> np.ndarray:
        """Process the next samples of the stream.

        Parameters
        ----------
        samples : numpy.ndarray
            A C-contiguous ``int16`` array of shape (N, 6), read in place; N may be 0.

        Returns
        -------
        numpy.ndarray
            ``int32`` array of shape (N,): the fall code of each sample.

        Raises
        ------
        TypeError, ValueError
            As :func:`detect`; nothing is processed then.
        """
        return self._detector.process(_unmasked(samples))

    @property
    def sample_count(self) -> int:
        """Samples processed since the detector was made."""
        return self._detector.sample_count

    @property
    def config(self) -> Config:
        """A copy of the detector's configuration."""
        return self._config.replace()

    def __repr__(self) -> str:
        return f"Detector({self._config!r}, sample_count={self.sample_count})"


def trace(
    samples: np.ndarray, config: Optional[Config] = None, as_frame: bool = False
) -> Union[Dict[str, np.ndarray], "pandas.DataFrame"]:
    """The detector's state after every sample.

    Parameters
    ----------
    samples : numpy.ndarray
        A C-contiguous ``int16`` array of shape (N, 6), read in place.
    config : Config, optional
        The detector's parameters; the defaults when None.
    as_frame : bool, default False
        Return a pandas DataFrame (one row per sample) instead of a dict.

    Returns
    -------
    dict of str to numpy.ndarray, or pandas.DataFrame
        One array of N values per field, in the units of the trace: ``sample``
        (0-based number); the magnitudes ``accRawMag``, ``accLpfMag``,
        ``accLpf2Mag`` (0.01 g), ``gyroRawMag``, ``gyroLpfMag`` (deg/s); the jump
        tracker ``jumpPeak``, ``jumpLastSample``, ``jumpScore``, ``jumpArea``; the
        averages ``accLpfAvg``, ``gyroLpfAvg5``; the attitude ``pitch``, ``tilt``,
        ``turn`` (degrees), ``upright``, ``gyroXRiseCount``, ``gyroXDropCount``,
        ``gyroXPrev``; the low-g phase tracker ``fallLength``, ``quietRun``,
        ``fallDeepCount``, ``fallRecoverCount``, ``fallDepthSum``, ``fallDepth``,
        ``gyroXHighRun``, ``fallScore``, ``fallLengthNow``; the tumble run
        ``tumbleRun``, ``tumbleThreshold``; the sums ``accRawSum3``,
        ``gyroLpfSum3``; and ``code``, the sample's fall code. Each keeps the
        detector's own integer type.

    Notes
    -----
    The values are the trace line's, read after the sample; three fields
    that the line prints before the low-g tracker changes them (``turn`` on a
    phase's first sample, ``jumpArea`` on its first deep sample, the jump
    values when a long phase closes on a strong sample) hold the values
    after it. The trackers stay at rest during the first 40 samples.
    """
    if not isinstance(as_frame, bool):
        raise TypeError(f"as_frame: expected a bool, got {type(as_frame).__name__}")
    columns = _tumblewatch.trace(_unmasked(samples), config_values(config))
    if as_frame:
        import pandas

        return pandas.DataFrame(columns, copy=False)
    return dict(columns)


def trace_text(samples: np.ndarray, config: Optional[Config] = None) -> bytes:
    """The trace of the samples exactly as the bench writes it.

    Parameters
    ----------
    samples : numpy.ndarray
        A C-contiguous ``int16`` array of shape (N, 6), read in place.
    config : Config, optional
        The detector's parameters; the defaults when None.

    Returns
    -------
    bytes
        One line per sample, byte for byte the bench's trace file of a
        recording with these samples (for the default configuration).
    """
    return _tumblewatch.trace_text(_unmasked(samples), config_values(config))

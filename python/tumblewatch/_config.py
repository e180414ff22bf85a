"""The detector's configuration by parameter name, and the parameter table."""

from __future__ import annotations

import os
from typing import Any, Dict, List, Mapping, NamedTuple, Tuple

from . import _tumblewatch
from ._arguments import as_int, as_path


class Param(NamedTuple):
    """One parameter of the detector (a row of :func:`params`)."""

    name: str
    """The parameter's name, as in ``Config(name=...)``."""
    default: int
    """The value of a fresh Config."""
    unit: str
    """Unit of the value: "samples", "0.01 g", "deg/s", "degrees", ... or "-"."""
    meaning: str
    """What the detector does with it, in one sentence."""
    read: bool
    """False for the ten parameters that no stage reads."""
    stages: str
    """The detector stages that read it, e.g. "CheckImpact"; "-" for none."""


_PARAMS: Tuple[Param, ...] = tuple(Param(*row) for row in _tumblewatch.param_table())
_NAMES: Tuple[str, ...] = tuple(p.name for p in _PARAMS)
_INDEX: Dict[str, int] = {name: i for i, name in enumerate(_NAMES)}


def params() -> List[Param]:
    """The detector's parameters in the order of its configuration record.

    Returns
    -------
    list of Param
        One named tuple per parameter: ``name``, ``default``, ``unit``,
        ``meaning``, ``read`` (False for the ten parameters no stage reads) and
        ``stages`` (the detector stages that read it). ``pandas.DataFrame(params())``
        makes a table of it.

    Examples
    --------
    >>> import tumblewatch
    >>> [p.default for p in tumblewatch.params() if p.name == "fallWindow"]
    [20]
    """
    return list(_PARAMS)


def _unknown(name: str) -> str:
    """The message for an unknown parameter name, with the closest known name."""
    try:
        _tumblewatch.config_with(None, {name: 0})
    except KeyError as e:
        return str(e.args[0])
    return f"unknown parameter '{name}'"


def _checked(changes: Mapping[str, Any]) -> Dict[str, int]:
    checked = {}
    for name, value in changes.items():
        if not isinstance(name, str):
            raise TypeError(f"parameter names are str, got {type(name).__name__}")
        checked[name] = as_int(name, value)
    return checked


class Config:
    """A configuration of the detector: its 35 parameters by name.

    Parameters
    ----------
    **params : int
        Parameters by their detector names (``fallWindow=10``); the others
        keep their defaults (:func:`params` lists them all).

    Raises
    ------
    KeyError
        For an unknown parameter name; the message names the closest one.
    TypeError
        For a value that is not an integer (a bool, float or str is never
        converted).
    ValueError
        For a value outside the 32-bit integers or one that the detector
        refuses (``fallWindow`` outside 1..63, ``tiltLimit`` 15); the message
        names the parameter and the rule.

    Notes
    -----
    Every parameter is an attribute (``cfg.fallWindow = 12``) and an item
    (``cfg["fallWindow"]``); an assignment is checked like the constructor's
    arguments and leaves the configuration unchanged when it is refused.
    Configurations compare equal when all 35 values are equal, print as the
    call that makes them, and pickle by parameter name.

    Examples
    --------
    >>> from tumblewatch import Config
    >>> cfg = Config(fallWindow=10)
    >>> cfg.tiltLimit = 40
    >>> cfg
    Config(fallWindow=10, tiltLimit=40)
    >>> cfg.to_dict()["fallWindow"]
    10
    """

    __slots__ = ("_values",)
    _values: Tuple[int, ...]

    def __init__(self, **params: int) -> None:
        object.__setattr__(self, "_values", _tumblewatch.config_with(None, _checked(params)))

    @classmethod
    def from_dict(cls, values: Mapping[str, int]) -> "Config":
        """A configuration from a mapping of parameter names to values (the others default).

        Parameters
        ----------
        values : mapping of str to int
            Parameters by name, as :meth:`to_dict` gives them.

        Returns
        -------
        Config
        """
        config = cls.__new__(cls)
        object.__setattr__(config, "_values", _tumblewatch.config_with(None, _checked(dict(values))))
        return config

    @classmethod
    def from_toml(cls, path: "str | os.PathLike[str]") -> "Config":
        """The configuration of a TOML file of ``name = value`` lines.

        The file is read as ``tumblewatch eval --config`` reads it: the defaults,
        then every line of the file.

        Parameters
        ----------
        path : str or os.PathLike
            The TOML file (``sweep --best`` writes one).

        Returns
        -------
        Config

        Raises
        ------
        FileNotFoundError
            When the file does not exist.
        ValueError
            For a syntax error, an unknown name, a value that is not a 32-bit
            integer or a configuration that the detector refuses, with the
            command line's message (file, line, parameter).
        """
        config = cls.__new__(cls)
        object.__setattr__(config, "_values", _tumblewatch.config_from_toml(as_path("path", path)))
        return config

    def to_dict(self) -> Dict[str, int]:
        """All 35 parameters by name, in the order of :func:`params`.

        Returns
        -------
        dict of str to int
        """
        return dict(zip(_NAMES, self._values))

    def changes(self) -> Dict[str, int]:
        """The parameters that differ from the defaults.

        Returns
        -------
        dict of str to int
        """
        return {p.name: v for p, v in zip(_PARAMS, self._values) if v != p.default}

    def replace(self, **params: int) -> "Config":
        """A copy with some parameters changed (checked as the constructor checks them).

        Returns
        -------
        Config
        """
        config = Config.__new__(Config)
        object.__setattr__(config, "_values", _tumblewatch.config_with(self._values, _checked(params)))
        return config

    def to_toml(self) -> str:
        """The configuration as TOML text that :meth:`from_toml` and ``--config`` read back.

        Returns
        -------
        str
            One ``name = value`` line per parameter.
        """
        return _tumblewatch.config_toml(self._values, "tumblewatch configuration")

    def _set(self, name: str, value: Any) -> None:
        if name not in _INDEX:
            raise KeyError(_unknown(name))
        object.__setattr__(self, "_values", _tumblewatch.config_with(self._values, {name: as_int(name, value)}))

    def __getitem__(self, name: str) -> int:
        index = _INDEX.get(name)
        if index is None:
            raise KeyError(_unknown(name))
        return self._values[index]

    def __setitem__(self, name: str, value: int) -> None:
        self._set(name, value)

    def __setattr__(self, name: str, value: Any) -> None:
        if name not in _INDEX:
            raise AttributeError(_unknown(name))
        self._set(name, value)

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Config):
            return NotImplemented
        return self._values == other._values

    __hash__ = None  # type: ignore[assignment]  # mutable

    def __repr__(self) -> str:
        return "Config(" + ", ".join(f"{name}={value}" for name, value in self.changes().items()) + ")"

    def __reduce__(self) -> Tuple[Any, Tuple[Dict[str, int]]]:
        return (_config_from_dict, (self.to_dict(),))


def _config_from_dict(values: Mapping[str, int]) -> Config:
    return Config.from_dict(values)


def _property(index: int, param: Param) -> property:
    def get(self: Config) -> int:
        return self._values[index]

    def put(self: Config, value: int) -> None:
        self._set(param.name, value)

    return property(get, put, doc=f"{param.meaning} ({param.unit}; default {param.default})")


for _i, _p in enumerate(_PARAMS):
    setattr(Config, _p.name, _property(_i, _p))
del _i, _p

"""Type stubs of tumblewatch._config: the 35 parameters are attributes of Config."""

import os
from typing import Any, Dict, List, Mapping, NamedTuple, Tuple

class Param(NamedTuple):
    name: str
    default: int
    unit: str
    meaning: str
    read: bool
    stages: str

def params() -> List[Param]: ...

class Config:
    fallWindow: int
    """Length of the moving average accLpfAvg and base of the minimum fall length of codes 1, 2, 3, 4, 9 and 12; 1..63. (samples; default 20)"""
    quietMagnitude: int
    """A sample whose filtered magnitude is at or below this extends the quiet run; above it clears the run. (0.01 g; default 60)"""
    jumpBandLow: int
    """A jump sample has a raw magnitude strictly above this ... (0.01 g; default 140)"""
    jumpBandHigh: int
    """... and strictly below this. (0.01 g; default 400)"""
    rotationLow: int
    """Mean rotation below this selects the length tests of codes 1 and 3; at or above it codes 12, 2 and 4. (deg/s; default 160)"""
    rotationHigh: int
    """The weighted test (codes 2, 4) runs only while the mean rotation is below this. (deg/s; default 360)"""
    weightedAccelMax: int
    """The weighted test needs the rotation-weighted mean acceleration below this. (0.01 g; default 40)"""
    param7: int
    """Not read by any stage (default 50)."""
    pitchLimit: int
    """Upright needs -pitchLimit < pitch < pitchLimit. (degrees; default 65)"""
    param9: int
    """Not read by any stage (default -180)."""
    param10: int
    """Not read by any stage (default -90)."""
    tiltLimit: int
    """Upright needs tilt below this; code 71 needs tilt at or above it; the fall score divides by tiltLimit - 15, so it must not be 15. (degrees; default 35)"""
    recordLength: int
    """A low phase that ends is recorded as an event only when at least this long. (samples; default 4)"""
    param13: int
    """Not read by any stage (default 37)."""
    param14: int
    """Not read by any stage (default 60)."""
    param15: int
    """Not read by any stage (default 90)."""
    param16: int
    """Not read by any stage (default 55)."""
    impactHardSum: int
    """A three-sample sum at or above this starts the hard-impact test (code 6). (0.01 g, sum of 3; default 1750)"""
    impactHardWindow: int
    """Hard impact after a short quiet run: the latest fall event must be at most this many samples old ... (samples; default 5)"""
    impactHardLength: int
    """... and at least this long; a quiet run of at least this length is enough by itself. (samples; default 3)"""
    impactSoftSum: int
    """A three-sample sum at or above this (below impactHardSum) starts the soft-impact test (code 16) when the sensor is tilted. (0.01 g, sum of 3; default 1350)"""
    impactSoftWindow: int
    """As impactHardWindow, for the soft impact. (samples; default 5)"""
    impactSoftLength: int
    """As impactHardLength, for the soft impact. (samples; default 7)"""
    param23: int
    """Not read by any stage (default -3)."""
    param24: int
    """Not read by any stage (default 1)."""
    tumbleAccel: int
    """A tumble sample needs a raw magnitude strictly above this ... (0.01 g; default 150)"""
    tumbleGyro: int
    """... and a raw rotation strictly above this. (deg/s; default 150)"""
    tumbleLength: int
    """Code 5 needs a tumble run of this length plus half its upright samples. (samples; default 19)"""
    repeatPrevLength: int
    """Codes 7 and 8: minimum length of the latest recorded fall event. (samples; default 10)"""
    repeatLength: int
    """Codes 7 and 8: minimum length of the confirmed low phase. (samples; default 9)"""
    repeatTotalLength: int
    """Code 8: minimum of the two lengths together. (samples; default 25)"""
    repeatGapMin: int
    """Codes 7 and 8: the gap between the latest event and the new low phase is at least this ... (samples; default 5)"""
    repeatGapMax: int
    """... and at most this. (samples; default 20)"""
    repeatPeak: int
    """Codes 7 and 8: the peak after the latest event is at least this. (0.01 g; default 400)"""
    param34: int
    """Not read by any stage (default 25)."""
    def __init__(self, **params: int) -> None: ...
    @classmethod
    def from_dict(cls, values: Mapping[str, int]) -> Config: ...
    @classmethod
    def from_toml(cls, path: str | os.PathLike[str]) -> Config: ...
    def to_dict(self) -> Dict[str, int]: ...
    def changes(self) -> Dict[str, int]: ...
    def replace(self, **params: int) -> Config: ...
    def to_toml(self) -> str: ...
    def __getitem__(self, name: str) -> int: ...
    def __setitem__(self, name: str, value: int) -> None: ...
    def __eq__(self, other: object) -> bool: ...
    __hash__: None  # type: ignore[assignment]
    def __reduce__(self) -> Tuple[Any, Tuple[Dict[str, int]]]: ...

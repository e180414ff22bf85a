"""Shared fixtures of the Python module's tests.

The tests run against the module of a build tree (TUMBLEWATCH_BUILD_DIR,
default build/) and use its programs: tilt_bench, tumblewatch and
make_recordings. Everything they write goes to pytest's temporary folders.
"""

import os
import shutil
import subprocess
from pathlib import Path

import numpy as np
import pytest

SOURCE_DIR = Path(__file__).resolve().parents[2]
BUILD_DIR = Path(os.environ.get("TUMBLEWATCH_BUILD_DIR", SOURCE_DIR / "build")).resolve()
SHARED_DATA = (SOURCE_DIR / ".." / "shared" / "data").resolve()


def program(name):
    path = BUILD_DIR / name
    if not path.exists():
        pytest.fail(f"{path} is missing: build the project first")
    return path


@pytest.fixture(scope="session")
def tilt_bench():
    return program("tilt_bench")


@pytest.fixture(scope="session")
def workbench():
    return program("tumblewatch")


@pytest.fixture(scope="session")
def generated(tmp_path_factory):
    """The project's own recordings (every scenario of make_recordings), as .bin and .csv."""
    folder = tmp_path_factory.mktemp("generated")
    subprocess.run([str(program("make_recordings")), str(folder)], check=True, stdout=subprocess.DEVNULL)
    return folder


def shared_folder(name):
    """A folder of the shared data, or a skip that says it is missing."""
    folder = SHARED_DATA / name
    if not folder.is_dir():
        pytest.skip(f"shared data {folder} not present: skipped")
    return folder


@pytest.fixture(scope="session")
def shared_real():
    return shared_folder("real")


def standing(count):
    """count samples of an upright, still wearer."""
    return np.tile(np.array([0, -8192, 0, 0, 0, 0], dtype=np.int16), (count, 1))


def random_samples(count, seed=7):
    return np.random.default_rng(seed).integers(-32768, 32768, size=(count, 6), dtype=np.int16)


def copy_recordings(source, target):
    """Copies the recordings of one folder (and its layout marker) into target."""
    target.mkdir(parents=True, exist_ok=True)
    names = sorted(p.name for p in source.iterdir() if p.is_file() and p.suffix in (".bin", ".csv", ".txt"))
    for name in names:
        if name.endswith(".txt") and name != "micom.txt":
            continue
        shutil.copyfile(source / name, target / name)
    return target

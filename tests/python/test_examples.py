"""The examples of examples/python run headless and draw their charts."""

import os
import subprocess
import sys
from pathlib import Path

import matplotlib.image
import pytest

import tumblewatch

from conftest import SOURCE_DIR

SCRIPTS = SOURCE_DIR / "examples" / "python"


def run(script, tmp_path, *arguments):
    png = tmp_path / (script.replace(".py", ".png"))
    package = str(Path(tumblewatch.__file__).resolve().parents[1])
    env = dict(os.environ, MPLBACKEND="Agg", MPLCONFIGDIR=str(tmp_path / "mpl"), PYTHONPATH=package)
    done = subprocess.run([sys.executable, str(SCRIPTS / script), *arguments, "--out", str(png)], cwd=tmp_path,
                          env=env, capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    image = matplotlib.image.imread(png)
    assert image.shape[0] > 200 and image.shape[1] > 200
    assert image.std() > 0.01  # something was drawn
    return done.stdout


def test_plot_recording(tmp_path):
    out = run("plot_recording.py", tmp_path)
    assert "fall_forward.csv" in out and "alarms" in out


def test_plot_recording_of_a_generated_recording(tmp_path, generated):
    assert "double_fall.bin" in run("plot_recording.py", tmp_path, str(generated / "double_fall.bin"),
                                    "--set", "fallWindow=12")


def test_evaluate_folder(tmp_path):
    out = run("evaluate_folder.py", tmp_path)
    assert "sensitivity 1.0" in out and "forward" in out


def test_sweep_front(tmp_path):
    out = run("sweep_front.py", tmp_path)
    assert "Pareto" not in out and "fallWindow" in out


def test_sweep_front_of_the_real_recordings(tmp_path, shared_real):
    run("sweep_front.py", tmp_path, str(shared_real))


def test_evaluate_folder_of_the_real_recordings_charts_the_most_frequent_activities(tmp_path, shared_real):
    # Dozens of activities: the chart keeps the most frequent of each label
    # and sums the rest, one readable line per bar.
    out = run("evaluate_folder.py", tmp_path, str(shared_real), "--top", "5")
    assert "chart in" in out
    image = matplotlib.image.imread(tmp_path / "evaluate_folder.png")
    assert image.shape[0] < 100 * (1.5 + 0.28 * 12)  # at most 5 + 1 bars per label


def test_plot_recording_of_a_real_recording(tmp_path, shared_real):
    recording = sorted(shared_real.rglob("*.bin"))[:1] or sorted(shared_real.rglob("*.csv"))[:1]
    if not recording:
        pytest.skip(f"no recording in {shared_real}")
    assert "alarms" in run("plot_recording.py", tmp_path, str(recording[0]))

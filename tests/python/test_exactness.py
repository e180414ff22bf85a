"""The module computes exactly what the bench computes.

For every shared and generated recording, read_recording + detect give the
fall codes of the bench's trace, trace_text its bytes, trace its magnitudes,
and a Detector fed in chunks the codes of one detect call.
"""

import re
import subprocess

import numpy as np
import pytest

import tumblewatch
from conftest import copy_recordings, random_samples, shared_folder

FOLDERS = ["real/mobifall", "real/sisfall", "real/umafall", "synthetic", "synthetic/micom", "generated"]
ALARM = re.compile(rb" -> \((\d+)\)$")
RMS = re.compile(rb"RMS <\s*(\d+),\s*(\d+),\s*(\d+)><\s*(\d+),\s*(\d+)>")


def bench_traces(tilt_bench, folder, suffix):
    """Runs the bench on folder's recordings with suffix; their traces by recording name."""
    for old in folder.glob("*.txt"):
        if old.name != "micom.txt":
            old.unlink()
    subprocess.run([str(tilt_bench), "*" + suffix], cwd=folder, check=True, stdout=subprocess.DEVNULL)
    recordings = sorted(p for p in folder.glob("*" + suffix) if not p.name.endswith("_DSV.csv"))
    return {p: (folder / (p.name[:-3] + "txt")).read_bytes() for p in recordings}


def codes_of(trace):
    lines = trace.split(b"\n")[:-1]
    codes = np.zeros(len(lines), dtype=np.int32)
    for i, line in enumerate(lines):
        m = ALARM.search(line)
        if m:
            codes[i] = int(m.group(1))
    return codes


@pytest.fixture(params=FOLDERS)
def recording_folder(request, generated, tmp_path):
    source = generated if request.param == "generated" else shared_folder(request.param)
    return copy_recordings(source, tmp_path / "copy")


def test_detect_and_trace_text_equal_the_bench(recording_folder, tilt_bench):
    checked = 0
    for suffix in (".bin", ".csv"):
        for path, expected in bench_traces(tilt_bench, recording_folder, suffix).items():
            samples = tumblewatch.read_recording(path)
            assert samples.dtype == np.int16 and samples.shape[1] == 6 and samples.flags.c_contiguous
            assert tumblewatch.trace_text(samples) == expected, path.name
            np.testing.assert_array_equal(tumblewatch.detect(samples), codes_of(expected), err_msg=path.name)
            checked += 1
    assert checked > 0


def test_trace_columns_match_the_trace_lines(generated):
    for path in sorted(generated.glob("*.bin")):
        samples = tumblewatch.read_recording(path)
        state = tumblewatch.trace(samples)
        text = tumblewatch.trace_text(samples).split(b"\n")[:-1]
        rms = np.array([[int(v) for v in RMS.search(line).groups()] for line in text])
        for column, name in enumerate(["accRawMag", "accLpfMag", "accLpf2Mag", "gyroRawMag", "gyroLpfMag"]):
            np.testing.assert_array_equal(state[name], rms[:, column], err_msg=f"{path.name} {name}")
        np.testing.assert_array_equal(state["sample"], np.arange(len(samples)))
        np.testing.assert_array_equal(state["code"], tumblewatch.detect(samples))


def test_trace_as_frame_has_the_same_columns(generated):
    samples = tumblewatch.read_recording(generated / "double_fall.bin")
    columns = tumblewatch.trace(samples)
    frame = tumblewatch.trace(samples, as_frame=True)
    assert list(frame.columns) == list(columns)
    for name, values in columns.items():
        assert frame[name].dtype == values.dtype, name
        np.testing.assert_array_equal(frame[name].to_numpy(), values)
    assert columns["upright"].dtype == np.bool_ and columns["pitch"].dtype == np.int16


def test_detector_in_chunks_equals_one_call(generated):
    samples = tumblewatch.read_recording(generated / "long_mixed.bin")
    cfg = tumblewatch.Config(fallWindow=12)
    whole = tumblewatch.detect(samples, cfg)
    assert whole.dtype == np.int32 and whole.shape == (len(samples),) and whole.any()
    rng = np.random.default_rng(3)
    detector = tumblewatch.Detector(cfg)
    parts, start = [], 0
    while start < len(samples):
        size = int(rng.integers(0, 5000))
        parts.append(detector.process(samples[start:start + size]))
        start += size
    np.testing.assert_array_equal(np.concatenate(parts), whole)
    assert detector.sample_count == len(samples)


def test_configuration_reaches_the_detector():
    samples = random_samples(20000)
    default = tumblewatch.detect(samples)
    assert np.array_equal(tumblewatch.detect(samples, tumblewatch.Config()), default)
    changed = tumblewatch.detect(samples, tumblewatch.Config(fallWindow=5, impactHardSum=300))
    assert not np.array_equal(changed, default)
    text = tumblewatch.trace_text(samples, tumblewatch.Config(fallWindow=5, impactHardSum=300))
    np.testing.assert_array_equal(codes_of(text), changed)


def test_empty_input_gives_empty_results():
    empty = np.zeros((0, 6), dtype=np.int16)
    assert tumblewatch.detect(empty).shape == (0,)
    assert tumblewatch.detect(empty).dtype == np.int32
    assert tumblewatch.trace_text(empty) == b""
    state = tumblewatch.trace(empty)
    assert all(len(v) == 0 for v in state.values()) and "code" in state
    assert len(tumblewatch.trace(empty, as_frame=True)) == 0
    detector = tumblewatch.Detector()
    assert detector.process(empty).shape == (0,) and detector.sample_count == 0


def test_micom_layout_follows_the_marker_or_the_argument(tmp_path):
    row = "7,1,-81,2,0,0,0\n"
    (tmp_path / "a.csv").write_text("header\n" + row * 3)
    plain = tumblewatch.read_recording(tmp_path / "a.csv")
    assert plain.shape == (0, 6)  # seven header lines in the default layout
    forced = tumblewatch.read_recording(tmp_path / "a.csv", micom=True)
    np.testing.assert_array_equal(forced, np.tile(np.array([100, -8100, 200, 0, 0, 0], np.int16), (3, 1)))
    (tmp_path / "micom.txt").write_text("")
    np.testing.assert_array_equal(tumblewatch.read_recording(str(tmp_path / "a.csv")), forced)
    assert tumblewatch.read_recording(tmp_path / "a.csv", micom=False).shape == (0, 6)

"""Every bad input is a Python exception with a message that says what was expected."""

import errno
import pickle

import numpy as np
import pytest

import tumblewatch
from conftest import SOURCE_DIR, random_samples, standing


@pytest.mark.parametrize("call", [tumblewatch.detect, tumblewatch.trace, tumblewatch.trace_text,
                                  lambda s: tumblewatch.Detector().process(s)])
def test_samples_are_checked_never_converted(call):
    good = standing(50)
    for bad, kind, text in [
        (good.astype(np.float64), TypeError, "got an array of float64"),
        (good.astype(np.int64), TypeError, "got an array of int64"),
        (good.astype(np.uint16), TypeError, "got an array of uint16"),
        (good.astype(">i2"), TypeError, ">i2"),
        (good.tolist(), TypeError, "got list"),
        (None, TypeError, "got NoneType"),
        (good[:, :3].copy(), ValueError, r"got shape \(50, 3\)"),
        (good.reshape(-1), ValueError, r"got shape \(300,\)"),
        (good.reshape(5, 10, 6), ValueError, r"got shape \(5, 10, 6\)"),
        (good[::2], ValueError, "C-contiguous"),
        (np.asfortranarray(random_samples(4)), ValueError, "C-contiguous"),
    ]:
        with pytest.raises(kind, match=text):
            call(bad)
    unaligned = np.frombuffer(b"\0" + good.tobytes(), dtype=np.int16, count=good.size, offset=1).reshape(-1, 6)
    with pytest.raises(ValueError, match="aligned"):
        call(unaligned)


def test_unknown_parameters_name_the_closest():
    with pytest.raises(KeyError, match="unknown parameter 'fallWindw' \\(did you mean fallWindow\\?\\)"):
        tumblewatch.Config(fallWindw=3)
    with pytest.raises(KeyError, match="unknown parameter 'nothing'"):
        tumblewatch.Config()["nothing"]
    with pytest.raises(AttributeError, match="did you mean tiltLimit"):
        tumblewatch.Config().tiltLimt = 30
    with pytest.raises(KeyError, match="fallWindw"):
        tumblewatch.sweep(SOURCE_DIR / "examples", grid={"fallWindw": [1, 2]})
    with pytest.raises(KeyError, match="fallWindw"):
        tumblewatch.sweep(SOURCE_DIR / "examples", random=2, ranges=["fallWindw=1:4"])


def test_values_are_checked_as_the_command_line_checks_them():
    cfg = tumblewatch.Config(fallWindow=12)
    for name, value, kind, text in [
        ("fallWindow", 0, ValueError, "fallWindow = 0: the detector refuses it: must lie in 1..63"),
        ("fallWindow", 64, ValueError, "must lie in 1..63"),
        ("tiltLimit", 15, ValueError, "tiltLimit = 15: the detector refuses it: must not be 15"),
        ("quietMagnitude", 2**31, ValueError, "quietMagnitude: '2147483648' is not a 32-bit integer"),
        ("quietMagnitude", -2**31 - 1, ValueError, "is not a 32-bit integer"),
        ("quietMagnitude", 1.5, TypeError, "quietMagnitude: expected an int, got float"),
        ("quietMagnitude", True, TypeError, "got bool"),
        ("quietMagnitude", "60", TypeError, "got str"),
    ]:
        with pytest.raises(kind, match=text):
            tumblewatch.Config(**{name: value})
        with pytest.raises(kind, match=text):
            setattr(cfg, name, value)
        assert cfg == tumblewatch.Config(fallWindow=12)  # unchanged by the refused assignment
    cfg.quietMagnitude = np.int64(-2**31)  # numpy integers are integers
    assert cfg.quietMagnitude == -2**31 and type(cfg.quietMagnitude) is int


def test_config_by_name_compares_prints_and_pickles(tmp_path):
    cfg = tumblewatch.Config(fallWindow=10)
    cfg.tiltLimit = 40
    cfg["repeatPeak"] = 500
    assert repr(cfg) == "Config(fallWindow=10, tiltLimit=40, repeatPeak=500)"
    assert eval(repr(cfg), {"Config": tumblewatch.Config}) == cfg
    assert pickle.loads(pickle.dumps(cfg)) == cfg
    assert cfg != tumblewatch.Config() and cfg.replace(fallWindow=20, tiltLimit=35, repeatPeak=400) == \
        tumblewatch.Config()
    values = cfg.to_dict()
    assert list(values) == [p.name for p in tumblewatch.params()] and values["fallWindow"] == 10
    assert tumblewatch.Config.from_dict(values) == cfg
    (tmp_path / "c.toml").write_text(cfg.to_toml())
    assert tumblewatch.Config.from_toml(tmp_path / "c.toml") == cfg
    with pytest.raises(TypeError):
        hash(cfg)


def test_params_describe_every_parameter():
    table = tumblewatch.params()
    assert len(table) == 35 and table[0].name == "fallWindow" and table[0].default == 20
    assert sum(not p.read for p in table) == 10
    assert all((p.stages == "-") == (not p.read) for p in table)
    assert tumblewatch.Config().to_dict() == {p.name: p.default for p in table}
    impact = [p for p in table if p.name == "impactHardSum"][0]
    assert impact.stages == "CheckImpact" and impact.unit.startswith("0.01 g")


def test_config_files_report_the_command_lines_messages(tmp_path):
    with pytest.raises(FileNotFoundError) as missing:
        tumblewatch.Config.from_toml(tmp_path / "none.toml")
    assert missing.value.errno == errno.ENOENT
    (tmp_path / "a.toml").write_text("fallWindow = 10\nfallWindw = 3\n")
    with pytest.raises(ValueError, match=r"a.toml, line 2: unknown parameter 'fallWindw' \(did you mean"):
        tumblewatch.Config.from_toml(tmp_path / "a.toml")
    (tmp_path / "b.toml").write_text("tiltLimit = 15\n")
    with pytest.raises(ValueError, match="tiltLimit = 15: the detector refuses it"):
        tumblewatch.Config.from_toml(tmp_path / "b.toml")
    with pytest.raises(TypeError, match="config: expected a tumblewatch.Config or None, got dict"):
        tumblewatch.detect(standing(3), {"fallWindow": 10})


def test_files_that_are_no_recordings(tmp_path):
    with pytest.raises(FileNotFoundError) as missing:
        tumblewatch.read_recording(tmp_path / "gone.bin")
    assert missing.value.errno == errno.ENOENT and missing.value.filename == str(tmp_path / "gone.bin")
    (tmp_path / "short.bin").write_bytes(b"QX Data")
    with pytest.raises(ValueError, match="short.bin: not a dataset: the file ends inside its 24-byte header"):
        tumblewatch.read_recording(tmp_path / "short.bin")
    (tmp_path / "other.bin").write_bytes(b"\0" * 40)
    with pytest.raises(ValueError, match='not a dataset: it does not begin with the magic text "QX DataSet V1.0.0"'):
        tumblewatch.read_recording(tmp_path / "other.bin")
    (tmp_path / "notes.txt").write_text("x")
    with pytest.raises(ValueError, match=r"notes.txt: not a recording \(the name must end in .bin or .csv\)"):
        tumblewatch.read_recording(tmp_path / "notes.txt")
    (tmp_path / "folder.csv").mkdir()
    with pytest.raises(ValueError, match="not a regular file"):
        tumblewatch.read_recording(tmp_path / "folder.csv")
    with pytest.raises(TypeError):
        tumblewatch.read_recording(tmp_path / "x.csv", micom="yes")


def test_bad_workbench_arguments(tmp_path):
    examples = SOURCE_DIR / "examples"
    with pytest.raises(FileNotFoundError, match="no such file or folder"):
        tumblewatch.evaluate(tmp_path / "nothing")
    with pytest.raises(FileNotFoundError):
        tumblewatch.evaluate(labels=tmp_path / "none.manifest")
    with pytest.raises(ValueError, match="matches no recording"):
        tumblewatch.evaluate(str(tmp_path / "*.bin"))
    with pytest.raises(ValueError, match="give a PATH to evaluate, or a manifest"):
        tumblewatch.evaluate()
    bad = tmp_path / "bad.manifest"
    bad.write_text("path,label\nwalking.csv,maybe\n")
    with pytest.raises(ValueError, match="line 2"):
        tumblewatch.evaluate(examples, labels=bad)
    for kwargs, kind in [({"merge": -1}, ValueError), ({"merge": "10"}, TypeError), ({"threads": 0}, ValueError),
                         ({"threads": 1.5}, TypeError), ({"config": "fallWindow=3"}, TypeError)]:
        with pytest.raises(kind):
            tumblewatch.evaluate(examples, **kwargs)
    for kwargs, text in [({}, "nothing to sweep"), ({"grid": ["fallWindow=5:1:1"]}, "LO is greater than HI"),
                         ({"grid": {"fallWindow": [5]}, "folds": 1}, "at least 2 groups"),
                         ({"grid": {"fallWindow": [5]}, "objective": "max:joy"}, "objective"),
                         ({"grid": {"fallWindow": "1:63:1", "tiltLimit": "0:90:1"}, "max_configs": 100},
                          "more than max_configs= 100")]:
        with pytest.raises(ValueError, match=text):
            tumblewatch.sweep(examples, **kwargs)
    with pytest.raises(TypeError):
        tumblewatch.sweep(examples, grid={"fallWindow": [5.5]})


def test_a_detector_stays_consistent_after_an_error():
    samples = random_samples(3000)
    expected = tumblewatch.detect(samples)
    detector = tumblewatch.Detector()
    first = detector.process(samples[:1000])
    with pytest.raises(TypeError):
        detector.process(samples[1000:2000].astype(np.float32))
    with pytest.raises(ValueError):
        detector.process(samples[1000:2000:2])
    assert detector.sample_count == 1000
    rest = detector.process(samples[1000:])
    np.testing.assert_array_equal(np.concatenate([first, rest]), expected)
    with pytest.raises(TypeError):
        pickle.dumps(detector)

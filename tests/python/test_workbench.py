"""evaluate and sweep give what the command line writes for the same inputs."""

import json
import subprocess
import warnings

import numpy as np
import pandas
import pytest

import tumblewatch
from conftest import SOURCE_DIR

EXAMPLES = SOURCE_DIR / "examples"


def cli_json(workbench, tmp_path, *arguments):
    out = tmp_path / "eval.json"
    subprocess.run([str(workbench), "eval", *arguments, "--json", str(out), "-q"], check=False)
    return json.loads(out.read_text())


def without_wall_time(document):
    """The document less the only field that differs between two runs: the wall time."""
    document = json.loads(json.dumps(document))
    del document["summary"]["seconds"]
    return document


@pytest.mark.parametrize("threads", [1, 2])
def test_evaluate_equals_eval_json(workbench, generated, tmp_path, threads):
    cfg = tumblewatch.Config(fallWindow=14)
    expected = cli_json(workbench, tmp_path, str(generated), "--set", "fallWindow=14", "--merge", "4")
    evaluation = tumblewatch.evaluate(generated, config=cfg, merge=4, threads=threads)
    assert without_wall_time(json.loads(evaluation.to_json())) == without_wall_time(expected)
    assert evaluation.summary == expected["summary"] | {"seconds": evaluation.summary["seconds"]}
    assert evaluation.config == cfg

    frame = evaluation.recordings
    assert list(frame["path"]) == [r["path"] for r in expected["recordings"]]
    assert list(frame["alarms"]) == [len(r["alarms"]) for r in expected["recordings"]]
    assert list(frame["events"]) == [len(r["events"]) for r in expected["recordings"]]
    assert list(frame["detected"]) == [r["detected"] for r in expected["recordings"]]
    assert list(frame["label"]) == [r["label"] for r in expected["recordings"]]
    assert len(evaluation.alarms) == sum(len(r["alarms"]) for r in expected["recordings"])


def test_evaluate_with_a_manifest_equals_eval(workbench, tmp_path):
    manifest = EXAMPLES / "labels.manifest"
    expected = cli_json(workbench, tmp_path, "--labels", str(manifest))
    evaluation = tumblewatch.evaluate(labels=manifest)
    assert without_wall_time(json.loads(evaluation.to_json())) == without_wall_time(expected)
    assert set(evaluation.recordings["activity"]) == {r["activity"] for r in expected["recordings"]}
    assert evaluation.summary["sensitivity"] == 1.0


def test_evaluate_of_the_real_recordings(workbench, shared_real, tmp_path):
    expected = cli_json(workbench, tmp_path, str(shared_real))
    evaluation = tumblewatch.evaluate(str(shared_real), threads=2)
    assert without_wall_time(json.loads(evaluation.to_json())) == without_wall_time(expected)
    by_activity = evaluation.by_activity
    assert list(by_activity.columns) == ["label", "activity", "description", "recordings", "detected", "events",
                                         "hours"]


def test_unreadable_recordings_are_reported_not_raised(generated, tmp_path):
    (tmp_path / "fall_broken_s01_r1.bin").write_bytes(b"not a dataset at all, but long enough")
    (tmp_path / "fall_forward_s02_r1.bin").write_bytes((generated / "fall_forward.bin").read_bytes())
    with pytest.warns(RuntimeWarning, match="not a dataset"):
        evaluation = tumblewatch.evaluate(tmp_path)
    assert evaluation.summary["unreadable"] == 1
    assert evaluation.failures[0]["path"].endswith("fall_broken_s01_r1.bin")
    broken = evaluation.recordings[~evaluation.recordings["read"]]
    assert len(broken) == 1 and broken["failure"].iloc[0].startswith("not a dataset")


def cli_sweep(workbench, tmp_path, *arguments):
    out = tmp_path / "rows.csv"
    best = tmp_path / "best.toml"
    summary = tmp_path / "summary.json"
    subprocess.run([str(workbench), "sweep", *arguments, "--out", str(out), "--best", str(best), "--summary",
                    str(summary), "-q"], check=True)
    header = out.read_text().split("\n", 1)[0]
    return pandas.read_csv(out, skiprows=1), header, best, json.loads(summary.read_text())


@pytest.mark.parametrize("folds", [0, 3])
def test_sweep_equals_sweep_out(workbench, generated, tmp_path, folds):
    labels = tmp_path / "labels.csv"
    rows = ["path,label,activity,subject"]
    for i, p in enumerate(sorted(generated.glob("*.bin"))):
        label = "fall" if "fall" in p.name or p.name == "tumble.bin" else "adl"
        rows.append(f"{p},{label},{p.stem},s{i % 4}")
    labels.write_text("\n".join(rows) + "\n")
    expected, header, best, summary = cli_sweep(
        workbench, tmp_path, "--labels", str(labels), "--grid", "fallWindow=6:20:2", "--grid", "quietMagnitude=50,70",
        "--random", "3", "--range", "impactHardSum=600:2000", "--seed", "5",
        *(["--folds", str(folds)] if folds else []), "--set", "tumbleLength=15", "-j", "2")
    result = tumblewatch.sweep(labels=labels, grid={"fallWindow": range(6, 21, 2), "quietMagnitude": [50, 70]},
                               ranges={"impactHardSum": (600, 2000)}, random=3, seed=5, folds=folds,
                               config=tumblewatch.Config(tumbleLength=15), threads=1)
    assert isinstance(result, tumblewatch.SweepResult)
    pandas.testing.assert_frame_equal(pandas.DataFrame(result), expected)
    assert header.startswith("# tumblewatch sweep " + result.sweep_id + "; ")
    assert result.best_config == tumblewatch.Config.from_toml(best)
    assert result.best["config"] == int(best.read_text().split("configuration ")[1].split(" ")[0])
    assert result.nested == summary["nested"] and result.refused == {} and result.failures == []
    assert (result.nested is None) == (folds == 0)
    if folds:
        assert len(result.nested["folds"]) == folds and result.nested["chosen"] >= 1
    assert result.base["config"] == -1 and result.base["fallWindow"] == 20

    # The front: no row beats a front row on both measures.
    front = result.front
    assert len(front) >= 1 and list(front.columns) == list(result.columns)
    for _, f in front.iterrows():
        better = expected[(expected.sensitivity >= f.sensitivity) &
                          (expected.false_alarms_per_hour <= f.false_alarms_per_hour) &
                          ((expected.sensitivity > f.sensitivity) |
                           (expected.false_alarms_per_hour < f.false_alarms_per_hour))]
        assert better.empty
    assert list(front.false_alarms_per_hour) == sorted(front.false_alarms_per_hour, reverse=True)


def test_sweep_objective_refusals_and_the_cli_form(generated):
    result = tumblewatch.sweep(generated, grid=["fallWindow=0,5,10"], objective="max:f1", threads=2)
    assert list(result["config"]) == [1, 2]
    assert list(result.refused) == [0] and "fallWindow" in result.refused[0]
    assert result.objective == "max:f1"
    assert result.best["f1"] == result["f1"].max()


def test_results_pickle(generated):
    import pickle

    evaluation = tumblewatch.evaluate(generated, threads=1)
    again = pickle.loads(pickle.dumps(evaluation))
    assert again.to_json() == evaluation.to_json()
    pandas.testing.assert_frame_equal(again.recordings, evaluation.recordings)
    result = tumblewatch.sweep(generated, grid={"fallWindow": [10, 20]}, threads=1)
    copy = pickle.loads(pickle.dumps(result))
    pandas.testing.assert_frame_equal(pandas.DataFrame(copy), pandas.DataFrame(result))
    pandas.testing.assert_frame_equal(copy.front, result.front)
    assert copy.best_config == result.best_config and copy.nested is None


def test_evaluate_intervals_and_bootstrap(workbench, tmp_path):
    """The intervals of eval --json, its bootstrap the same from the seed for any threads."""
    labels = EXAMPLES / "labels.manifest"
    ev = tumblewatch.evaluate(labels=labels)
    sens = ev.intervals["sensitivity"]
    assert ev.intervals["confidence"] == 0.95 and ev.intervals["bootstrap"] is None
    assert sens["lower"] <= ev.summary["sensitivity"] <= sens["upper"]
    first = tumblewatch.evaluate(labels=labels, bootstrap=300, seed=9, threads=1)
    second = tumblewatch.evaluate(labels=labels, bootstrap=300, seed=9, threads=2, confidence=0.95)
    assert first.intervals["bootstrap"] == second.intervals["bootstrap"]
    assert first.intervals["bootstrap"]["seed"] == 9 and first.intervals["bootstrap"]["subjects"] == 2
    # The same document as the command line's.
    expected = cli_json(workbench, tmp_path, "--labels", str(labels), "--bootstrap", "300", "--seed", "9",
                        "--confidence", "0.9")
    mine = json.loads(tumblewatch.evaluate(labels=labels, bootstrap=300, seed=9, confidence=0.9).to_json())
    assert mine["intervals"] == expected["intervals"]
    for bad in ({"confidence": 1.0}, {"confidence": 0}, {"bootstrap": -1}, {"seed": 2**64}, {"seed": -1}):
        with pytest.raises(ValueError):
            tumblewatch.evaluate(labels=labels, **bad)
    with pytest.raises(TypeError):
        tumblewatch.evaluate(labels=labels, confidence="0.9")

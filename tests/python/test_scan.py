"""scan and explain give what the command line writes for the same inputs."""

import json
import subprocess

import pytest

import tumblewatch


def cli_document(workbench, tmp_path, command, *arguments):
    out = tmp_path / f"{command}.json"
    subprocess.run([str(workbench), command, *arguments, "--json", str(out), "-q"], check=True)
    return json.loads(out.read_text())


@pytest.mark.parametrize("threads", [1, 2])
def test_scan_equals_scan_json(workbench, generated, tmp_path, threads):
    expected = cli_document(workbench, tmp_path, "scan", str(generated), "--set", "fallWindow=14", "--param",
                            "fallWindow", "--param", "impactHardSum", "--max-values", "10")
    result = tumblewatch.scan(generated, config=tumblewatch.Config(fallWindow=14),
                              params=["fallWindow", "impactHardSum"], max_values=10, threads=threads)
    assert result.document == expected
    assert sorted(result.ranking) == ["fallWindow", "impactHardSum"]
    rows = result.rows("fallWindow")
    assert list(rows["value"]) == list(range(1, 64))
    assert rows.loc[rows["value"] == 14, "falls_gained"].item() == 0


def test_explain_equals_explain_json(workbench, generated, tmp_path):
    expected = cli_document(workbench, tmp_path, "explain", str(generated), "--set", "fallWindow=14", "--param",
                            "fallWindow", "--param", "tumbleLength")
    explanation = tumblewatch.explain(generated, config=tumblewatch.Config(fallWindow=14),
                                      params=("fallWindow", "tumbleLength"))
    assert explanation.document == expected
    assert explanation.missed_falls + explanation.false_alarms == len(explanation.cases)
    for case in explanation.cases:
        assert all(change["verified"] for change in case["changes"])


def test_scan_bad_input(generated):
    with pytest.raises(ValueError, match="did you mean fallWindow"):
        tumblewatch.scan(generated, params="fallWindo")
    with pytest.raises(ValueError, match="read by no stage"):
        tumblewatch.scan(generated, params=["param7"])
    with pytest.raises(TypeError):
        tumblewatch.scan(generated, params=[7])
    with pytest.raises(TypeError):
        tumblewatch.explain(generated, steps={"fallWindow": 1.5})

"""Several manifests at once, names of any bytes, folds by dataset and the fall window, from Python."""

import os
import shutil

import tumblewatch


def field(text):
    """A CSV field as the import writes it (quoted when a reader could misread it)."""
    if any(c in text for c in ',"\n\r') or text[:1] in (" ", "\t", "#") or text[-1:] in (" ", "\t"):
        return '"' + text.replace('"', '""') + '"'
    return text


HEADER = "path,label,activity,subject,trial,dataset,source,samples,description\n"


def write_manifest(folder, rows):
    with open(os.path.join(folder, "manifest.csv"), "w", encoding="utf-8", errors="surrogateescape",
              newline="") as f:
        f.write(HEADER)
        for path, label, subject, dataset in rows:
            f.write(",".join([field(path), label, "F01" if label == "fall" else "D01", field(subject), "1", dataset,
                              "raw.txt", "1", field("what " + subject)]) + "\n")


def three_datasets(generated, root):
    """Three folders, one per dataset, each with its manifest."""
    pairs = {"sisfall": ("fall_forward.bin", "walking.bin"), "umafall": ("fall_backward.bin", "standing.bin"),
             "mobifall": ("fall_lateral.bin", "sit_down_hard.bin")}
    manifests = []
    for dataset, (fall, adl) in pairs.items():
        folder = root / dataset
        folder.mkdir()
        rows = []
        for k in (1, 2):
            subject = f"{dataset[:2]}{k}"
            for name, label in ((fall, "fall"), (adl, "adl")):
                target = f"{label}_{subject}_{name}"
                shutil.copyfile(generated / name, folder / target)
                rows.append((target, label, subject, dataset))
        write_manifest(folder, rows)
        manifests.append(folder / "manifest.csv")
    return manifests


def test_several_manifests_give_a_by_dataset_table_and_folds_by_dataset(workbench, generated, tmp_path):
    manifests = three_datasets(generated, tmp_path)
    evaluation = tumblewatch.evaluate(labels=manifests, config=tumblewatch.Config(fallWindow=10), threads=2)
    assert evaluation.summary["recordings"] == 12
    assert sorted(evaluation.by_dataset["dataset"]) == ["mobifall", "sisfall", "umafall"]
    assert list(evaluation.by_dataset["falls"]) == [2, 2, 2]
    assert evaluation.document["manifests"] == [str(m) for m in manifests]
    rows = tumblewatch.sweep(labels=manifests, grid={"fallWindow": [10, 20]}, folds=3, folds_by="dataset", threads=2)
    held = sorted(s for fold in rows.nested["folds"] for s in fold["subjects"])
    assert held == ["mobifall", "sisfall", "umafall"]


def test_hostile_names_round_trip(generated, tmp_path):
    names = ["SA\n01", "CR\rend", 'quote"d', "a,b", " lead", "#hash", "raw\udcff"]
    rows = []
    for k, name in enumerate(names):
        folder = tmp_path / name
        folder.mkdir()
        shutil.copyfile(generated / "fall_forward.bin", folder / f"fall_{k}.bin")
        rows.append((f"{name}/fall_{k}.bin", "fall", name, "gen"))
    write_manifest(tmp_path, rows)
    evaluation = tumblewatch.evaluate(labels=tmp_path / "manifest.csv", threads=2)
    assert evaluation.summary["recordings"] == len(names)
    assert (evaluation.recordings["labels_from"] == "manifest").all()
    assert tumblewatch.sweep(labels=tmp_path / "manifest.csv", grid={"fallWindow": [10, 12]}, threads=2).shape[0] == 2


def test_fall_window(generated, tmp_path):
    plain = tumblewatch.evaluate(generated / "fall_forward.bin", config=tumblewatch.Config(fallWindow=10))
    first = int(plain.alarms["sample"].iloc[0])
    shutil.copyfile(generated / "fall_forward.bin", tmp_path / "fall_forward.bin")
    (tmp_path / "m.csv").write_text(f"path,label,fall_start,fall_end\nfall_forward.bin,fall,{first + 100},"
                                    f"{first + 110}\n")
    cfg = tumblewatch.Config(fallWindow=10)
    late = tumblewatch.evaluate(labels=tmp_path / "m.csv", config=cfg, before=0.5, after=0.5)
    assert late.summary["tp"] == 0 and late.summary["early_events"] == 1
    assert late.outside_window["first"].iloc[0] == first + 75
    near = tumblewatch.evaluate(labels=tmp_path / "m.csv", config=cfg, before=2.5, after=0.5)
    assert near.summary["tp"] == 1
    assert near.summary["latency_median"] == -2.0
    assert near.summary["latency_end_median"] == -2.2

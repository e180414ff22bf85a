"""Evaluate the detector on a folder of labelled recordings and plot sensitivity by activity.

    python3 evaluate_folder.py [PATH ...] [--labels MANIFEST] [--out PNG]

Without arguments it evaluates the examples with their manifest. The table
of recordings is printed; the chart (share of recordings with an alarm, per
activity: detected falls, false alarms on daily activities) goes to
activities.png (or --out).
"""

import argparse
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

import tumblewatch  # noqa: E402

EXAMPLES = Path(__file__).resolve().parents[1]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("paths", nargs="*")
    parser.add_argument("--labels", help="a manifest")
    parser.add_argument("--out", default="activities.png", help="the PNG to write")
    args = parser.parse_args()
    labels = args.labels
    if not args.paths and labels is None:
        labels = EXAMPLES / "labels.manifest"

    evaluation = tumblewatch.evaluate(args.paths, labels=labels)
    frame = evaluation.recordings
    print(frame[["relative_path", "label", "activity", "subject", "alarms", "events", "detected"]].to_string())
    s = evaluation.summary
    print(f"sensitivity {s['sensitivity']}, specificity {s['specificity']}, "
          f"false alarms per hour {s['false_alarms_per_hour']}")

    labelled = frame[frame["label"].notna() & frame["read"]]
    share = labelled.groupby(["label", "activity"])["detected"].mean().sort_index()
    colours = ["tab:green" if label == "fall" else "tab:red" for label, _ in share.index]
    fig, ax = plt.subplots(figsize=(max(6, 0.5 * len(share) + 2), 4), constrained_layout=True)
    ax.bar([f"{a}\n({label})" for label, a in share.index], share.values, color=colours)
    ax.set_ylim(0, 1)
    ax.set_ylabel("recordings with an alarm")
    ax.set_title("Falls detected (green) and false alarms (red) by activity")
    ax.tick_params(axis="x", labelsize="small")
    fig.savefig(args.out, dpi=100)
    print(f"chart in {args.out}")


if __name__ == "__main__":
    main()

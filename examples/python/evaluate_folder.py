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


def activity_shares(labelled, top):
    """(label, activity, share detected, recordings) per activity: the top
    most frequent of each label, then the rest of that label summed."""
    bars = []
    for label in ("fall", "adl"):
        rows = labelled[labelled["label"] == label]
        groups = rows.groupby("activity")["detected"].agg(["mean", "size"])
        groups = groups.sort_values(["size", "mean"], ascending=[False, True], kind="stable")
        for activity, group in groups.head(top).iterrows():
            bars.append((label, activity, group["mean"], int(group["size"])))
        rest = groups.iloc[top:]
        if len(rest):
            share = (rest["mean"] * rest["size"]).sum() / rest["size"].sum()
            bars.append((label, f"{len(rest)} other activities", share, int(rest["size"].sum())))
    return bars


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("paths", nargs="*")
    parser.add_argument("--labels", help="a manifest")
    parser.add_argument("--out", default="activities.png", help="the PNG to write")
    parser.add_argument("--top", type=int, default=12,
                        help="chart the N most frequent activities of falls and of daily activities each, the "
                             "rest summed (default 12)")
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
    bars = activity_shares(labelled, args.top)
    colours = ["tab:green" if label == "fall" else "tab:red" for label, _, _, _ in bars]
    # Horizontal bars, one text line each: readable for any number of them.
    fig, ax = plt.subplots(figsize=(8, 1.5 + 0.28 * len(bars)), constrained_layout=True)
    positions = range(len(bars))
    ax.barh(positions, [share for _, _, share, _ in bars], color=colours)
    ax.set_yticks(list(positions), [f"{name} ({label}, {count})" for label, name, _, count in bars],
                  fontsize="small")
    ax.invert_yaxis()
    ax.set_xlim(0, 1)
    ax.set_xlabel("share of recordings with an alarm")
    ax.set_title("Falls detected (green) and false alarms (red) by activity")
    fig.savefig(args.out, dpi=100)
    print(f"chart in {args.out}")


if __name__ == "__main__":
    main()

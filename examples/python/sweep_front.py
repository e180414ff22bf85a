"""A small sweep of fallWindow and its Pareto front of sensitivity against false alarms.

    python3 sweep_front.py [PATH ...] [--labels MANIFEST] [--out PNG]

Without arguments it sweeps the examples with their manifest. The front and
the best configuration are printed; the scatter with the front goes to
front.png (or --out).
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
    parser.add_argument("--out", default="front.png", help="the PNG to write")
    args = parser.parse_args()
    labels = args.labels
    if not args.paths and labels is None:
        labels = EXAMPLES / "labels.manifest"

    rows = tumblewatch.sweep(args.paths, labels=labels,
                             grid={"fallWindow": range(6, 31, 2), "impactHardSum": [1200, 1750]})
    front = rows.front
    print(front[["config", "fallWindow", "impactHardSum", "sensitivity", "false_alarms_per_hour", "f1"]].to_string())
    if rows.best is not None:
        print(f"best ({rows.objective}): configuration {rows.best['config']}, {rows.best_config}")

    fig, ax = plt.subplots(figsize=(7, 5), constrained_layout=True)
    points = ax.scatter(rows["false_alarms_per_hour"], rows["sensitivity"], c=rows["fallWindow"], cmap="viridis")
    fig.colorbar(points, label="fallWindow (samples)")
    ax.plot(front["false_alarms_per_hour"], front["sensitivity"], "k-", lw=1, label="Pareto front")
    ax.scatter([rows.base["false_alarms_per_hour"]], [rows.base["sensitivity"]], s=150, marker="*", color="gold",
               edgecolor="black", label="base configuration", zorder=3)
    ax.set_xlabel("false alarms per hour")
    ax.set_ylabel("sensitivity")
    ax.set_title(f"{len(rows)} configurations")
    ax.legend(loc="lower right")
    fig.savefig(args.out, dpi=100)
    print(f"chart in {args.out}")


if __name__ == "__main__":
    main()

"""Run the detector on a recording and plot what it saw: acceleration, attitude, alarms.

    python3 plot_recording.py [RECORDING] [--out PNG] [--set NAME=VALUE ...]

RECORDING defaults to the forward fall of examples/; the chart goes to
recording.png (or --out).
"""

import argparse
from pathlib import Path

import matplotlib

matplotlib.use("Agg")  # files only, no window
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import tumblewatch  # noqa: E402

EXAMPLES = Path(__file__).resolve().parents[1]
# Distinct alarm codes labelled on the chart (the title lists them all).
MAX_CODE_LABELS = 8


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("recording", nargs="?", default=EXAMPLES / "fall_forward.csv")
    parser.add_argument("--out", default="recording.png", help="the PNG to write")
    parser.add_argument("--set", action="append", default=[], metavar="NAME=VALUE", help="a detector parameter")
    args = parser.parse_args()

    config = tumblewatch.Config(**{k: int(v) for k, v in (s.split("=", 1) for s in args.set)})
    samples = tumblewatch.read_recording(args.recording)
    state = tumblewatch.trace(samples, config, as_frame=True)
    seconds = state["sample"] / 50.0
    alarms = state[state["code"] > 0]

    fig, (acc, att, low) = plt.subplots(3, 1, sharex=True, figsize=(10, 7), constrained_layout=True)
    acc.plot(seconds, state["accRawMag"] / 100, lw=0.8, label="raw")
    acc.plot(seconds, state["accLpfMag"] / 100, lw=1.2, label="filtered")
    acc.set_ylabel("acceleration (g)")
    att.plot(seconds, state["pitch"], label="pitch")
    att.plot(seconds, state["tilt"], label="tilt")
    att.axhline(config.tiltLimit, color="grey", ls=":", label="tiltLimit")
    att.axhline(config.pitchLimit, color="black", ls="--", lw=0.8, label="±pitchLimit")
    att.axhline(-config.pitchLimit, color="black", ls="--", lw=0.8)
    att.set_ylabel("degrees")
    low.plot(seconds, state["fallLength"], label="low-g phase length")
    low.plot(seconds, state["quietRun"], label="quiet run")
    low.set_ylabel("samples")
    low.set_xlabel("time (s)")
    for ax in (acc, att, low):
        for t in alarms["sample"] / 50.0:
            ax.axvline(t, color="red", lw=0.8, alpha=0.6)
        ax.legend(loc="upper right", fontsize="small")
    # One label per distinct code at its first alarm, each on a row of its
    # own so that labels of alarms close in time do not overlap.
    first = alarms.drop_duplicates("code").head(MAX_CODE_LABELS)
    for row, (t, code) in enumerate(zip(first["sample"] / 50.0, first["code"])):
        acc.annotate(f"code {code}", (t, 1.0), xycoords=("data", "axes fraction"), xytext=(3, -4 - 11 * row),
                     textcoords="offset points", color="red", va="top", fontsize="small",
                     bbox=dict(boxstyle="round,pad=0.1", fc="white", ec="none", alpha=0.8))
    acc.set_title(f"{Path(args.recording).name}: {len(alarms)} alarms "
                  f"(codes {sorted(set(np.asarray(alarms['code']).tolist())) or 'none'})")
    fig.savefig(args.out, dpi=100)
    print(f"{args.recording}: {len(samples)} samples, {len(alarms)} alarms; chart in {args.out}")


if __name__ == "__main__":
    main()

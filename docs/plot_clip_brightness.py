"""Plots the mean brightness per frame of a clip's still part: the source, each frame
dehazed on its own, and with the temporal window. Called by make_clip_figures.sh.
    plot_clip_brightness.py SOURCE.txt ALONE.txt WINDOW.txt OUT.png   (one value per line)"""
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402 (after the back end is chosen)


def values(path):
    with open(path) as lines:
        return [float(line) for line in lines if line.strip()]


source, alone, window, out = sys.argv[1:5]
figure, axes = plt.subplots(figsize=(7, 3.2), dpi=100)
axes.plot(values(source), label="source", color="grey")
axes.plot(values(alone), label="dehazed frame by frame (--temporal-window 0)", color="tab:red")
axes.plot(values(window), label="dehazed with the window (default, 1 s)", color="tab:blue")
axes.set_xlabel("frame (25 per second); the white square enters at frame 1 and is gone at frame 73")
axes.set_ylabel("mean luma of the upper part")
axes.legend(fontsize="small")
figure.tight_layout()
figure.savefig(out)

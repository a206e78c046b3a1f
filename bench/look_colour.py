"""How loud the colours of each look are, on the bundled sample: the mean saturation (HSV S,
0..1) and the share of clipped pixels (any channel at 0 or 255) of the source and of the
command line's results in the classic and natural looks at thickness 0.5 and 1.0.
    /usr/bin/python3 bench/look_colour.py VANTOREL [SOURCE]
VANTOREL is the built executable (build/vantorel); SOURCE defaults to the bundled sample.
"""
import subprocess
import sys
import tempfile
from pathlib import Path

import numpy as np
from PIL import Image


def measures(path):
    """(mean HSV saturation, share of pixels with a channel at 0 or 255) of a picture file."""
    with Image.open(path) as picture:
        rgb = np.asarray(picture.convert("RGB")).astype(np.float64)
    top, bottom = rgb.max(axis=2), rgb.min(axis=2)
    # S = (max - min) / max, and 0 for black, as HSV defines it.
    saturation = np.divide(top - bottom, top, out=np.zeros_like(top), where=top > 0)
    clipped = ((rgb == 0) | (rgb == 255)).any(axis=2)
    return saturation.mean(), clipped.mean()


def main():
    vantorel = sys.argv[1]
    source = sys.argv[2] if len(sys.argv) > 2 else str(
        Path(__file__).resolve().parent.parent / "samples" / "hazy_mountains.jpg")
    rows = [("source", "", source)]
    with tempfile.TemporaryDirectory() as scratch:
        for thickness in ("0.5", "1.0"):
            for look in ("classic", "natural"):
                result = str(Path(scratch) / f"{look}_{thickness}.png")
                subprocess.run([vantorel, "--look", look, source, result, thickness], check=True,
                               stdout=subprocess.DEVNULL)
                rows.append((look, thickness, result))
        print(f"{'picture':<10} {'thickness':>9} {'mean S':>8} {'clipped':>8}")
        for name, thickness, path in rows:
            saturation, clipped = measures(path)
            print(f"{name:<10} {thickness:>9} {saturation:>8.3f} {clipped * 100:>7.2f}%")


if __name__ == "__main__":
    main()

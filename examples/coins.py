#!/usr/bin/python3
"""The coins of samples/coins.png with the cblob Python package.

Prints one line per coin and, when matplotlib is installed, draws the
overlay (outlines, boxes, centres and principal axes) into coins_overlay_py.png
beside this script, or shows it with --show.

    PYTHONPATH=build/rel/python /usr/bin/python3 examples/coins.py
"""
import math
import os
import sys

import numpy as np

import cblob

HERE = os.path.dirname(os.path.abspath(__file__))


def read_coins():
    path = os.path.join(HERE, "..", "samples", "coins.png")
    try:
        return cblob._cblob._read_png(path)  # the package's PNG reader, when built with the tools
    except AttributeError:
        import matplotlib.image
        return (matplotlib.image.imread(path) * 255).astype(np.uint8)


def main():
    image = read_coins()
    # At 130 the bright band along the top edge stays apart from the coins and
    # breaks into pieces under 800 pixels, which cleanup="fill" removes with
    # the specks inside the coins.
    # keep_runs=True keeps each coin's runs, from which its outline is traced.
    result = cblob.analyze(image, threshold=130, min_area=800, cleanup="fill", holes=False, keep_runs=True)
    print("%d coins at threshold %d" % (len(result), result.threshold))
    for coin in result.sort("area", descending=True):
        print("coin %2d: area %6.0f at (%6.1f, %6.1f), elongation %.2f, angle %6.1f deg"
              % (coin.label, coin.area, coin.center_x, coin.center_y, coin.elongation, coin.angle_deg))
    table = result.table(["area", "elongation"])
    print("median area %.0f, roundest %.3f" % (np.median(table["area"]), table["elongation"].min()))

    try:
        import matplotlib
        if "--show" not in sys.argv:
            matplotlib.use("Agg")
        import matplotlib.patches as patches
        import matplotlib.pyplot as plt
    except ImportError:
        print("(matplotlib is not installed: no overlay)")
        return
    figure, axes = plt.subplots(figsize=(8, 6.3))
    # cblob's pixel (x, y) covers [x, x+1) x [y, y+1); imshow's is centred on
    # (x, y): the extent below makes both coordinate systems the same.
    axes.imshow(image, cmap="gray", extent=(0, image.shape[1], image.shape[0], 0))
    for coin in result:
        left, top, width, height = coin.box
        axes.add_patch(patches.Rectangle((left, top), width, height, fill=False, edgecolor="lime"))
        # The outline runs along pixel edges, through pixel corners.
        axes.add_patch(patches.Polygon(coin.contour(), closed=True, fill=False, edgecolor="yellow", linewidth=0.8))
        axes.plot(coin.center_x, coin.center_y, "r+")
        # For a uniform ellipse the major moment is area * a^2 / 4.
        half = 2.0 * math.sqrt(coin.inertia_max / coin.area)
        angle = math.radians(coin.angle_deg)
        dx, dy = math.cos(angle) * half, math.sin(angle) * half
        axes.plot([coin.center_x - dx, coin.center_x + dx], [coin.center_y - dy, coin.center_y + dy], "c-")
    axes.set_axis_off()
    if "--show" in sys.argv:
        plt.show()
    else:
        out = os.path.join(HERE, "coins_overlay_py.png")
        figure.savefig(out, bbox_inches="tight")
        print("overlay: " + out)


if __name__ == "__main__":
    main()

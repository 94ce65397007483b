#!/usr/bin/python3
"""cblob's Python package against scikit-image and OpenCV on the same arrays.

Timed, per image, best of several repetitions, one thread each:
  cblob     cblob.analyze(image, threshold=t) + result.table(COLUMNS): objects
            and holes, the tree, area, box, centre, second moments and angle
  skimage   skimage.measure.label(image >= t, connectivity=2) +
            regionprops_table(labels, ("area", "bbox", "centroid", "moments",
            "orientation"))
  OpenCV    cv2.threshold (a NumPy comparison for 16-bit images) +
            cv2.connectedComponentsWithStats(..., connectivity=8): area, box
            and centroid of the objects, no holes, no moments

Prints a Markdown table; the ratios are peer time / cblob time (above 1:
cblob is faster). Run with Debian's interpreter and the package on the path:
    PYTHONPATH=build/rel/python /usr/bin/python3 bench/python_bench.py
"""
import glob
import os
import sys
import time

import cv2
import numpy as np
from skimage import filters, measure

import cblob

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLES = os.path.join(HERE, "..", "samples")
SHARED = "/work/shared/data"
COLUMNS = ["label", "parent", "area", "box_left", "box_top", "box_width", "box_height", "center_x", "center_y",
           "inertia_x", "inertia_y", "inertia_min", "inertia_max", "angle_deg"]
SKIMAGE_PROPERTIES = ("area", "bbox", "centroid", "moments", "orientation")


def best_ms(function, min_total=0.4, min_reps=3, max_reps=30):
    times = []
    while len(times) < min_reps or (sum(times) < min_total and len(times) < max_reps):
        start = time.perf_counter()
        function()
        times.append(time.perf_counter() - start)
    return min(times) * 1000.0


def noise(size, grain, density, seed):
    """Square cells of `grain` pixels, each an object (255) with probability `density`."""
    cells = -(-size // grain)
    rng = np.random.default_rng(seed)
    on = rng.random((cells, cells)) < density
    return np.kron(on, np.ones((grain, grain), dtype=bool))[:size, :size].astype(np.uint8) * 255


def images():
    """(name, kind, array, threshold); kind is 'structured' or 'noise'."""
    photos = sorted(glob.glob(os.path.join(SHARED, "*.png"))) if os.path.isdir(SHARED) else []
    photos += [os.path.join(SAMPLES, name) for name in ("parts8.png", "parts16.png")]
    for path in photos:
        pixels = cblob._cblob._read_png(path)
        yield os.path.basename(path), "structured", pixels, int(filters.threshold_otsu(pixels)) + 1
    parts = cblob._cblob._read_png(os.path.join(SAMPLES, "parts8.png"))
    yield "parts8 tiled 4x4", "structured", np.ascontiguousarray(np.tile(parts, (4, 4))), 128
    text = os.path.join(SHARED, "text.png")
    if os.path.exists(text):
        page = cblob._cblob._read_png(text)
        tiled = np.ascontiguousarray(np.tile(page, (6, 5)))
        yield "text.png tiled 5x6", "structured", tiled, int(filters.threshold_otsu(page)) + 1
    for grain in (16, 4, 1):
        yield "noise g%d d0.5 1MP" % grain, "noise" if grain == 1 else "structured", noise(1024, grain, 0.5, 7), 128


def run_cblob(pixels, t):
    return cblob.analyze(pixels, threshold=t).table(COLUMNS)


def run_skimage(pixels, t):
    return measure.regionprops_table(measure.label(pixels >= t, connectivity=2), properties=SKIMAGE_PROPERTIES)


def run_opencv(pixels, t):
    if pixels.dtype == np.uint8:
        binary = cv2.threshold(pixels, t - 1, 255, cv2.THRESH_BINARY)[1]
    else:
        binary = (pixels >= t).view(np.uint8)
    return cv2.connectedComponentsWithStats(binary, connectivity=8, ltype=cv2.CV_32S)


def main():
    cblob.set_thread_count(1)
    cv2.setNumThreads(1)
    print("| image | kind | size | objects | cblob ms | cblob analyze only ms | scikit-image ms | "
          "scikit-image / cblob | OpenCV ms | OpenCV / cblob |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    failures = []
    for name, kind, pixels, t in images():
        objects = int(run_cblob(pixels, t)["label"].size and
                      np.count_nonzero(cblob.analyze(pixels, threshold=t).table(["colour"])["colour"]))
        assert objects == run_opencv(pixels, t)[0] - 1 == len(run_skimage(pixels, t)["area"]), name
        ours = best_ms(lambda: run_cblob(pixels, t))
        analyze_only = best_ms(lambda: cblob.analyze(pixels, threshold=t))
        theirs = best_ms(lambda: run_skimage(pixels, t), min_total=0.2, min_reps=1 if pixels.size > 4e6 else 3)
        opencv = best_ms(lambda: run_opencv(pixels, t))
        print("| %s | %s | %dx%d | %d | %.3f | %.3f | %.2f | %.1f | %.3f | %.2f |" % (
            name, kind, pixels.shape[1], pixels.shape[0], objects, ours, analyze_only, theirs, theirs / ours, opencv,
            opencv / ours))
        sys.stdout.flush()
        if theirs / ours < 10:
            failures.append("%s: %.1fx scikit-image (target 10x)" % (name, theirs / ours))
        if kind == "structured" and opencv / ours < 1:
            failures.append("%s: %.2f of OpenCV's speed (target 1)" % (name, opencv / ours))
    print()
    print("targets missed: " + ("; ".join(failures) if failures else "none"))


if __name__ == "__main__":
    main()

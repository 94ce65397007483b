"""The package gives the library's results: compared with the cblob tool's
CSV output on every sample image, and with scikit-image's labelling."""
import csv
import io
import json
import math
import os
import subprocess

import numpy as np
import pytest

import cblob
from conftest import SAMPLES, live_blocks, read, sample_files

FILES = sample_files()


def file_id(path):
    return "/".join(path.split("/")[-2:])


def settings_for(pixels):
    """(tool arguments, analyze keywords, table keywords) covering the segmentations and options."""
    t = int(np.median(pixels))
    step = 20 if pixels.dtype == np.uint8 else 5000
    low, high = max(t - step, 0), min(t + step, np.iinfo(pixels.dtype).max)
    return [
        ([], {}, {}),
        (["--threshold", str(t), "--invert"], dict(threshold=t, invert=True), {}),
        (["--soft", str(low), str(high)], dict(soft=(low, high)), {}),
        (["--soft", str(low), str(high), "--softness", "7"], dict(soft=(low, high, 7)), {}),
        (["--percent", "5", "5", "30", "--min-area", "20", "--fill", "--angle", "30", "--exclude", "5%"],
         dict(percent=(5, 5, 30), min_area=20, cleanup="fill"), dict(angle=30, exclude="5%")),
        (["--threshold", str(t), "--min-area", "40", "--no-holes", "--exclude", "3"],
         dict(threshold=t, min_area=40, holes=False), dict(exclude=3)),
    ]


def tool_rows(tool, path, args):
    out = subprocess.run([tool, "analyze", path, "--csv", "--measures", "all"] + args, check=True,
                         capture_output=True, text=True).stdout
    return list(csv.DictReader(io.StringIO(out)))


def as_number(text):
    """A CSV field as the table's number (the colour column says object or hole)."""
    return {"": math.nan, "object": 1.0, "hole": 0.0}.get(text) if text in ("", "object", "hole") else float(text)


@pytest.mark.parametrize("path", FILES, ids=file_id)
def test_tables_equal_the_tool(tool, path):
    pixels = read(path)
    for args, kwargs, table_kwargs in settings_for(pixels):
        rows = tool_rows(tool, path, args)
        result = cblob.analyze(pixels, keep_runs=True, **kwargs)
        table = result.table(**table_kwargs)
        assert len(result) == len(rows), args
        if rows:
            assert result.threshold == int(rows[0]["threshold"]), args
            high = rows[0]["threshold_high"]
            assert result.threshold_high == (int(high) if high else None), args
        for name in cblob.measure_names():
            expected = np.array([as_number(r[name]) for r in rows])
            np.testing.assert_array_equal(table[name], expected, err_msg="%s %s" % (name, args))
        np.testing.assert_array_equal(table["label"], [int(r["label"]) for r in rows])
        np.testing.assert_array_equal(table["parent"], [int(r["parent"]) for r in rows])


@pytest.mark.parametrize("path", FILES, ids=file_id)
def test_blob_attributes_are_the_table(path):
    pixels = read(path)
    result = cblob.analyze(pixels, min_area=10, keep_runs=True)
    table = result.table(angle=10, exclude=2)
    for i, blob in enumerate(result):
        assert blob.label == table["label"][i]
        assert (blob.parent.label if blob.parent else 0) == table["parent"][i]
        assert blob.box[2] == table["box_width"][i]
        assert blob.is_object == bool(table["colour"][i])
        assert blob.area == table["area"][i]
        assert blob.angle_deg == table["angle_deg"][i]
        for name in cblob.measure_names():
            try:
                value = blob.measure(name, angle=10, exclude=2)
            except cblob.Error as e:
                assert e.status_name == "cblob_err_notYetSupported"
                value = math.nan
            np.testing.assert_equal(table[name][i], value, err_msg=name)


def test_objects_match_scikit_image(coins):
    skimage_measure = pytest.importorskip("skimage.measure")
    for threshold in (60, 100, 130, 170):
        binary = coins >= threshold
        labels = skimage_measure.label(binary, connectivity=2)
        props = skimage_measure.regionprops_table(labels, properties=("area", "centroid", "bbox"))
        result = cblob.analyze(coins, threshold=threshold, holes=False)
        table = result.table(["area", "center_x", "center_y", "box_left", "box_top", "box_width", "box_height"])
        # Order both by (top, left) of the box, which is unique per region.
        ours = np.lexsort((table["box_left"], table["box_top"]))
        theirs = np.lexsort((props["bbox-1"], props["bbox-0"]))
        np.testing.assert_array_equal(table["area"][ours], props["area"][theirs])
        np.testing.assert_array_equal(table["box_left"][ours], props["bbox-1"][theirs])
        np.testing.assert_array_equal(table["box_width"][ours], (props["bbox-3"] - props["bbox-1"])[theirs])
        # scikit-image puts pixel centres at integers, cblob at half-integers.
        np.testing.assert_allclose(table["center_x"][ours], props["centroid-1"][theirs] + 0.5, rtol=0, atol=1e-9)
        np.testing.assert_allclose(table["center_y"][ours], props["centroid-0"][theirs] + 0.5, rtol=0, atol=1e-9)


def test_runs_and_image_cover_the_blob(coins):
    result = cblob.analyze(coins, threshold=130, keep_runs=True)
    for blob in result:
        runs = blob.runs()
        left, top, width, height = blob.box
        mask = blob.image()
        assert mask.shape == (height, width) and mask.dtype == bool
        painted = np.zeros_like(mask)
        for y, x, length in runs:
            assert not painted[y - top, x - left:x - left + length].any()
            painted[y - top, x - left:x - left + length] = True
        np.testing.assert_array_equal(painted, mask)
        assert runs[:, 2].sum() == blob.area
        if blob.is_object:
            # Object pixels are exactly the thresholded pixels of the blob.
            assert (coins[top:top + height, left:left + width][mask] >= 130).all()


def test_tree_links(coins):
    result = cblob.analyze(coins, threshold=100)
    by_label = {b.label: b for b in result}
    for blob in result:
        for child in blob.children:
            assert child.parent == blob
            assert child.is_object != blob.is_object
        assert len(blob.children) == blob.num_children
    objects_only = cblob.analyze(coins, threshold=100, holes=False)
    assert [b.label for b in objects_only] == [b.label for b in result if b.is_object]
    assert by_label


def test_filter_and_sort(coins):
    result = cblob.analyze(coins, threshold=130, min_area=50)
    areas = result.table(["area"])["area"]
    big = result.filter("area", 1000, None)
    assert [b.area for b in big] == [a for a in areas if a >= 1000]
    band = result.filter(area=(100, 2000), colour=(1, 1))
    assert all(100 <= b.area <= 2000 and b.is_object for b in band)
    assert len(band) == sum(1 for b in result if 100 <= b.area <= 2000 and b.is_object)
    outside = result.filter(area=(100, 2000), outside=True)
    assert len(outside) == sum(1 for b in result if not 100 <= b.area <= 2000)
    ordered = result.sort("area", descending=True)
    assert [b.area for b in ordered] == sorted(areas, reverse=True)
    assert [b.label for b in result.sort("area")] == [result[i].label for i in np.argsort(areas, kind="stable")]
    with pytest.raises(cblob.Error) as failure:
        result.filter(median_x=(0, 10))  # needs the blobs' runs
    assert failure.value.status_name == "cblob_err_rleImageEmpty"
    assert "keep_runs=True" in str(failure.value)
    with pytest.raises(KeyError):
        result.sort("no_such_measure")


def test_calibration_scales_the_measures(coins):
    plain = cblob.analyze(coins, threshold=130).table()
    scaled = cblob.analyze(coins, threshold=130, calibration=0.5).table()
    np.testing.assert_allclose(scaled["area"], plain["area"] * 0.25)
    np.testing.assert_allclose(scaled["center_x"], plain["center_x"] * 0.5)
    np.testing.assert_array_equal(scaled["box_left"], plain["box_left"])  # boxes stay in pixels
    affine = cblob.analyze(coins, threshold=130, calibration=[[2, 0, 10], [0, 3, -5]]).table()
    np.testing.assert_allclose(affine["center_y"], plain["center_y"] * 3 - 5)
    np.testing.assert_allclose(affine["area"], plain["area"] * 6)


def test_calibration_equals_the_tools(tool, coins):
    # x' = s R(a) x + t, as the tool's --calibration s,a,tx,ty: the same numbers to the last bit.
    scale, degrees, tx, ty = 0.25, 30.0, 10.0, -4.0
    a = degrees * math.pi / 180.0
    c, s = scale * math.cos(a), scale * math.sin(a)
    path = os.path.join(os.path.dirname(FILES[0]), "coins.png")
    rows = tool_rows(tool, path, ["--threshold", "130", "--calibration", "%r,%r,%r,%r" % (scale, degrees, tx, ty),
                                  "--angle", "20"])
    result = cblob.analyze(coins, threshold=130, keep_runs=True, calibration=[[c, -s, tx], [s, c, ty]])
    table = result.table(angle=20)
    assert len(result) == len(rows)
    for name in cblob.measure_names():  # area, centre and angle are the fixed client_ columns
        column = [as_number(r[name] if name in r else r["client_" + name]) for r in rows]
        np.testing.assert_array_equal(table[name], column, err_msg=name)


def test_measure_options(coins):
    result = cblob.analyze(coins, threshold=130, min_area=800, holes=False, keep_runs=True)
    blob = result[0]
    assert blob.measure("angle_box_width", angle=0) == blob.box[2]
    rotated = blob.measure("angle_box_width", angle=90)
    assert rotated == blob.box[3]
    assert blob.measure("angle_box_width", exclude="10%") < blob.box[2]
    assert blob.perimeter == result.table(["perimeter"])["perimeter"][0] > 0
    assert blob.boundary_steps == len(blob.chain_code()[1])
    # The boundary measures trace the blob's runs, which only keep_runs=True keeps.
    plain = cblob.analyze(coins, threshold=130, min_area=800, holes=False)
    assert math.isnan(plain.table(["perimeter"])["perimeter"][0])
    with pytest.raises(cblob.Error) as failure:
        plain[0].perimeter
    assert failure.value.status_name == "cblob_err_rleImageEmpty"
    assert "keep_runs=True" in str(failure.value)
    with pytest.raises(AttributeError):
        blob.no_such_measure
    with pytest.raises(ValueError):
        blob.measure("area", exclude="60%")


MORPHOLOGY = [
    (["--open", "3x3"], ["open3x3"]),
    (["--close", "1x3", "--erode", "3x1"], [("close", "1x3"), "erode3x1"]),
    (["--dilate", "3x3", "--dilate", "1x3", "--open", "3x1"], "dilate3x3 dilate1x3 open3x1".split()),
    (["--erode", "3x3"], "erode3x3"),
]


@pytest.mark.parametrize("args,morphology", MORPHOLOGY, ids=lambda v: " ".join(v) if isinstance(v, list) and
                         all(isinstance(x, str) for x in v) and v[0].startswith("--") else None)
def test_morphology_equals_the_tools(tool, args, morphology):
    path = os.path.join(SAMPLES, "coins.png")
    rows = tool_rows(tool, path, ["--threshold", "130", "--min-area", "5"] + args)
    result = cblob.analyze(read(path), threshold=130, min_area=5, morphology=morphology, keep_runs=True)
    table = result.table()
    assert len(result) == len(rows)
    for name in cblob.measure_names():
        np.testing.assert_array_equal(table[name], [as_number(r[name]) for r in rows], err_msg=name)


def test_morphology_changes_the_blobs_and_checks_its_operations(coins):
    plain = cblob.analyze(coins, threshold=130)
    opened = cblob.analyze(coins, threshold=130, morphology=["open3x3"])
    # Opening removes specks: fewer blobs, none bigger than its unopened self.
    assert len(opened) < len(plain)
    assert cblob.analyze(coins, threshold=130, morphology=()).table()["area"].tolist() == \
        plain.table()["area"].tolist()
    for bad, error in (("open5x5", ValueError), (["shrink3x3"], ValueError), ([("open", 3)], TypeError),
                       ([3], TypeError), ([("open", "3x3", "x")], TypeError)):
        with pytest.raises(error, match="morphology"):
            cblob.analyze(coins, threshold=130, morphology=bad)


def test_threads_give_the_same_blobs(coins):
    big = np.tile(coins, (4, 4))  # large enough to be labelled in bands
    before = cblob.get_thread_count()
    try:
        tables = []
        for threads in (1, 2, 1):
            tables.append(cblob.analyze(big, threshold=130, min_area=10, threads=threads).table())
            assert cblob.get_thread_count() == threads  # the count is the process's
        for table in tables[1:]:
            order = [np.lexsort((t["center_x"], t["center_y"], t["area"])) for t in (tables[0], table)]
            for name in cblob.measure_names():
                np.testing.assert_array_equal(table[name][order[1]], tables[0][name][order[0]], err_msg=name)
        for bad in (0, -1, 1025, 2.0, True, "2"):
            with pytest.raises(ValueError, match="threads"):
                cblob.analyze(coins, threads=bad)
    finally:
        cblob.set_thread_count(before)


# ------------------------------------------------------------- boundaries

STEPS = np.array([(1, 0), (-1, 0), (0, 1), (0, -1)])
# The pixel on the right of a step (the blob's side) and on its left, from
# the corner the step starts at (y down).
RIGHT = np.array([(0, 0), (-1, -1), (-1, 0), (0, -1)])
LEFT = np.array([(0, -1), (-1, 0), (0, 0), (-1, -1)])


def shoelace(corners):
    x, y = corners[:, 0].astype(np.int64), corners[:, 1].astype(np.int64)
    return (np.dot(x, np.roll(y, -1)) - np.dot(y, np.roll(x, -1))) // 2


@pytest.mark.parametrize("name,threshold", [("coins.png", 130), ("parts8.png", 128), ("parts16.png", 30000)])
def test_chain_code_walks_the_blob_edge(name, threshold):
    pixels = read(os.path.join(os.path.dirname(FILES[0]), name))
    result = cblob.analyze(pixels, threshold=threshold, keep_runs=True)
    assert len(result) > 10

    def enclosed(blob):
        return shoelace(blob.contour())

    for blob in result:
        (x0, y0), steps = blob.chain_code()
        left, top, width, height = blob.box
        runs = blob.runs()
        assert (x0, y0) == (runs[0, 1], runs[0, 0]) and y0 == top  # the first run of the top row
        assert steps.dtype == np.uint8 and len(steps) == blob.boundary_steps
        moves = STEPS[steps]
        corners = np.array([x0, y0]) + np.vstack([[0, 0], np.cumsum(moves, axis=0)])
        assert (corners[-1] == corners[0]).all()  # closed
        # The blob is on the right of every step and not on its left.
        inside = np.pad(blob.image(), 1)
        right = corners[:-1] + RIGHT[steps] - [left - 1, top - 1]
        outside = corners[:-1] + LEFT[steps] - [left - 1, top - 1]
        assert inside[right[:, 1], right[:, 0]].all()
        assert not inside[outside[:, 1], outside[:, 0]].any()
        # The contour is the chain's turning points.
        turns = np.flatnonzero(np.diff(steps.astype(int)) != 0) + 1
        np.testing.assert_array_equal(blob.contour(), np.vstack([corners[:1], corners[turns]]))
        # The outline encloses the blob and, inside its holes' outlines, the rest.
        assert enclosed(blob) == blob.area + sum(enclosed(c) for c in blob.children)


def test_contours_equal_the_tools(tool):
    path = os.path.join(os.path.dirname(FILES[0]), "parts8.png")
    out = subprocess.run([tool, "analyze", path, "--threshold", "100", "--json", "--contours"], check=True,
                         capture_output=True, text=True).stdout
    rows = json.loads(out)
    result = cblob.analyze(read(path), threshold=100, keep_runs=True)
    assert [b.label for b in result] == [r["label"] for r in rows]
    for blob, row in zip(result, rows):
        np.testing.assert_array_equal(blob.contour(), row["contour"])


def test_boundaries_need_the_runs_and_leak_nothing(coins):
    without_runs = cblob.analyze(coins, threshold=130)[0]
    for read_boundary in (cblob.Blob.contour, cblob.Blob.chain_code):
        with pytest.raises(cblob.Error) as failure:
            read_boundary(without_runs)
        assert failure.value.status_name == "cblob_err_rleImageEmpty"
        assert "keep_runs=True" in str(failure.value)
    result = cblob.analyze(coins, threshold=130, keep_runs=True)
    blobs = list(result)
    before = live_blocks()
    for blob in blobs:
        blob.contour()
        blob.chain_code()
    assert live_blocks() == before


# ------------------------------------------------------------- labelled runs

# 6-connectivity of the labelled runs: left, right, up, down, up-left, down-right.
SIX = ((0, -1), (0, 1), (-1, 0), (1, 0), (-1, -1), (1, 1))


def reference_regions(labels):
    """Regions of equal value (flood fill): [(value, pixels set, neighbour ids, touches border)]."""
    h, w = labels.shape
    region = -np.ones(labels.shape, dtype=int)
    regions = []
    for y0 in range(h):
        for x0 in range(w):
            if region[y0, x0] >= 0:
                continue
            k = len(regions)
            stack, pixels = [(y0, x0)], set()
            region[y0, x0] = k
            while stack:
                y, x = stack.pop()
                pixels.add((y, x))
                for dy, dx in SIX:
                    v, u = y + dy, x + dx
                    if 0 <= v < h and 0 <= u < w and region[v, u] < 0 and labels[v, u] == labels[y0, x0]:
                        region[v, u] = k
                        stack.append((v, u))
            regions.append([int(labels[y0, x0]), pixels, set(), False])
    for y in range(h):
        for x in range(w):
            r = regions[region[y, x]]
            r[3] |= x in (0, w - 1) or y in (0, h - 1)
            for dy, dx in SIX:
                v, u = y + dy, x + dx
                if 0 <= v < h and 0 <= u < w and region[v, u] != region[y, x]:
                    r[2].add(region[v, u])
                    regions[region[v, u]][2].add(region[y, x])
    return regions


@pytest.mark.parametrize("seed", range(6))
def test_labelled_regions_and_neighbours_match_a_flood_fill(seed):
    rng = np.random.default_rng(seed)
    # Blocky random labels, a few values, so regions have shapes and holes.
    labels = np.kron(rng.integers(0, 4, (8, 10)), np.ones((2, 3), dtype=np.int64)).astype(np.uint8)
    result = cblob.analyze(labels, labelled=True, min_area=0, keep_runs=True)
    regions = reference_regions(labels)
    assert len(result) == len(regions)
    by_pixels = {}
    for blob in result:
        ys, xs = np.nonzero(blob.image())
        left, top = blob.box[:2]
        by_pixels[frozenset(zip((ys + top).tolist(), (xs + left).tolist()))] = blob
    blob_of = [by_pixels[frozenset(r[1])] for r in regions]
    for k, (value, pixels, neighbours, border) in enumerate(regions):
        blob = blob_of[k]
        assert blob.colour == value and blob.area == len(pixels)
        assert [b.label for b in blob.neighbours] == sorted(blob_of[n].label for n in neighbours)
        assert blob.touches_border == border


def test_labelled_needs_a_label_image(coins, parts16):
    assert cblob.analyze(coins, threshold=130)[0].neighbours is None
    assert cblob.analyze(coins, threshold=130)[0].touches_border is None
    for kwargs in ({"threshold": 3}, {"percent": (1, 1, 50)}, {"invert": True}):
        with pytest.raises(ValueError, match="labelled"):
            cblob.analyze(coins, labelled=True, **kwargs)
    with pytest.raises(ValueError, match="uint8"):
        cblob.analyze(parts16, labelled=True)

"""python3 -m cblob prints what the cblob tool prints, with its exit codes."""
import os
import re
import subprocess
import sys

import pytest

from conftest import SAMPLES, SHARED_DATA

COINS = os.path.join(SAMPLES, "coins.png")
PARTS8 = os.path.join(SAMPLES, "parts8.png")
PARTS16 = os.path.join(SAMPLES, "parts16.png")

CASES = [
    ["analyze", COINS, "--threshold", "130", "--min-area", "800", "--fill", "--no-holes"],
    ["analyze", SAMPLES, "--threshold", "120", "--csv"],
    ["analyze", PARTS16, "--threshold", "30000", "--json"],
    ["analyze", PARTS8, "--measures", "all", "--angle", "30", "--exclude", "5%"],
    ["analyze", PARTS8, "--threshold", "128", "--measures", "all", "--csv", "--exclude", "2"],
    ["analyze", COINS, "--soft", "100", "140", "--softness", "10", "--invert", "--csv"],
    ["analyze", COINS, "--percent", "2", "3", "40", "--min-area", "20", "--mask", PARTS8],
    ["analyze", COINS, "--threshold", "300"],
    ["analyze", COINS, "--threshold", "12x"],
    ["analyze", COINS, "--soft", "5"],
    ["analyze", COINS, "--fill"],
    ["analyze", COINS, "--measures", "area,nope"],
    ["analyze", os.path.join(SAMPLES, "missing.png")],
    ["analyze", PARTS8, "--mask", PARTS16],
    ["analyze", COINS, "--threshold", "255", "--json"],
    # outlines, client units, the library's filters and sort, --top
    ["analyze", PARTS8, "--threshold", "128", "--contours", "--json", "--no-holes"],
    ["analyze", COINS, "--threshold", "130", "--calibration", "0.5"],
    ["analyze", COINS, "--threshold", "130", "--calibration", "0.25,30,10,-4", "--json", "--measures", "all"],
    ["analyze", COINS, "--calibration", "3,-45,0,7", "--csv", "--measures", "perimeter,median_x", "--angle", "20"],
    ["analyze", SAMPLES, "--threshold", "120", "--filter", "area:100:2000", "--filter", "area:3000:", "--filter",
     "!angle_deg:-10:10", "--sort", "perimeter:desc", "--top", "3", "--csv"],
    ["analyze", PARTS8, "--threshold", "128", "--sort", "median_x:asc", "--measures", "median_x", "--exclude", "5%",
     "--angle", "30", "--no-holes", "--top", "7"],
    ["analyze", PARTS16, "--threshold", "30000", "--calibration", "2,90,1,1", "--sort", "angle_deg", "--top", "0"],
    ["analyze", COINS, "--threshold", "130", "--filter", "interior:1:1", "--mask", COINS, "--json"],
    ["analyze", COINS, "--threshold", "130", "--filter", "perimeter:50:", "--sort", "compactness"],
    ["analyze", COINS, "--contours"],
    ["analyze", COINS, "--geojson"],
    ["analyze", COINS, "--filter", "area:2:1"],
    ["analyze", COINS, "--filter", "nope:1:2"],
    ["analyze", COINS, "--filter", "area:1"],
    ["analyze", COINS, "--filter", "area:x:"],
    ["analyze", COINS, "--sort", "area:up"],
    ["analyze", COINS, "--top", "-1"],
    ["analyze", COINS, "--top"],
    ["analyze", COINS, "--calibration", "0"],
    ["analyze", COINS, "--calibration", "1,2"],
    # clean-up, threads and the label-image options
    ["analyze", COINS, "--threshold", "130", "--open", "3x3", "--close", "1x3", "--min-area", "5"],
    ["analyze", PARTS16, "--threshold", "30000", "--erode", "3x1", "--dilate", "3x3", "--csv"],
    ["analyze", COINS, "--threads", "2", "--json"],
    ["analyze", COINS, "--threads", "1", "--erode", "3x3"],
    ["analyze", COINS, "--threads", "0"],
    ["analyze", COINS, "--threads", "1025"],
    ["analyze", COINS, "--open", "5x5"],
    ["analyze", COINS, "--close"],
    ["analyze", COINS, "--neighbours"],
    ["analyze", COINS, "--labelled", "--threshold", "3"],
    ["analyze", COINS, "--labelled", "--invert"],
    ["analyze", PARTS8, "--labelled", "--neighbours", "--min-area", "30", "--open", "3x3", "--measures",
     "perimeter,median_x"],
    ["analyze", COINS, "--labelled", "--neighbours", "--csv", "--min-area", "20"],
    ["analyze", PARTS16, "--labelled", "--neighbours", "--json", "--min-area", "10", "--fill"],
    ["analyze", SAMPLES, "--labelled", "--threads", "2", "--min-area", "50", "--no-holes"],
    ["measures"],
    ["--version"],
    ["--help"],
    ["frobnicate"],
    [],
]
if os.path.isdir(SHARED_DATA):
    CASES.append(["analyze", SHARED_DATA, "--json", "--measures", "area,principal_box_width,interior"])


def run(command):
    return subprocess.run(command, capture_output=True)


@pytest.mark.parametrize("args", CASES, ids=lambda a: " ".join(os.path.basename(x) for x in a) or "no arguments")
def test_same_output_as_the_tool(tool, args):
    expected = run([tool] + args)
    got = run([sys.executable, "-m", "cblob"] + args)
    assert got.returncode == expected.returncode
    assert got.stdout == expected.stdout
    assert got.stderr == expected.stderr


@pytest.mark.parametrize("image", [COINS, PARTS16], ids=os.path.basename)
def test_same_overlay_as_the_tool(tool, tmp_path, image):
    args = ["analyze", image, "--threshold", "130" if image == COINS else "30000", "--min-area", "50"]
    assert run([tool] + args + ["--overlay", str(tmp_path / "tool.png")]).returncode == 0
    assert run([sys.executable, "-m", "cblob"] + args + ["--overlay", str(tmp_path / "py.png")]).returncode == 0
    assert (tmp_path / "tool.png").read_bytes() == (tmp_path / "py.png").read_bytes()
    assert not (tmp_path / "py.png.tmp").exists()


def test_outline_files_as_the_tools(tool, tmp_path):
    outputs = {}
    for who, command in (("tool", [tool]), ("py", [sys.executable, "-m", "cblob"])):
        folder = tmp_path / who
        folder.mkdir()
        done = run(command + ["analyze", COINS, "--threshold", "130", "--min-area", "30", "--calibration",
                              "0.5,30,10,-4", "--filter", "area:5:400", "--sort", "perimeter:desc", "--top", "20",
                              "--contours", str(folder / "outlines.csv"), "--geojson", str(folder / "blobs.geojson"),
                              "--overlay", str(folder / "overlay.png")])
        assert done.returncode == 0, done.stderr
        assert sorted(p.name for p in folder.iterdir()) == ["blobs.geojson", "outlines.csv", "overlay.png"]
        outputs[who] = [done.stdout] + [(folder / n).read_bytes() for n in ("blobs.geojson", "outlines.csv",
                                                                             "overlay.png")]
    assert outputs["py"] == outputs["tool"]


@pytest.mark.parametrize("failing", ["geojson", "contours"])
def test_failed_outline_file_leaves_no_file(tool, tmp_path, failing):
    missing = tmp_path / "missing"
    geojson = missing / "blobs.geojson" if failing == "geojson" else tmp_path / "blobs.geojson"
    contours = missing / "outlines.csv" if failing == "contours" else tmp_path / "outlines.csv"
    args = ["analyze", PARTS8, "--threshold", "128", "--geojson", str(geojson), "--contours=" + str(contours),
            "--overlay", str(tmp_path / "overlay.png")]
    expected = run([tool] + args)
    assert expected.returncode == 1 and b"cannot write" in expected.stderr
    assert not list(tmp_path.iterdir())
    got = run([sys.executable, "-m", "cblob"] + args)
    assert (got.returncode, got.stdout, got.stderr) == (expected.returncode, expected.stdout, expected.stderr)
    assert not list(tmp_path.iterdir())


def test_every_option_of_the_tool_is_known(tool):
    """An option the tool's help lists is parsed the same way (no 'unknown option' from python -m cblob)."""
    options = sorted(set(re.findall(r"(?<![\w-])--[a-z][a-z-]*", run([tool, "--help"]).stdout.decode())))
    assert "--filter" in options and "--contours" in options
    for option in options:
        for args in (["analyze", COINS, option], ["analyze", COINS, "--threshold", "130", option, "1"]):
            expected = run([tool] + args)
            got = run([sys.executable, "-m", "cblob"] + args)
            assert b"unknown option" not in got.stderr, args
            assert (got.returncode, got.stdout, got.stderr) == (expected.returncode, expected.stdout,
                                                                expected.stderr), args

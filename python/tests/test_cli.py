"""python3 -m cblob prints what the cblob tool prints, with its exit codes."""
import os
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

"""Shared helpers of the cblob package tests.

The package is imported from PYTHONPATH (the build tree's python/ folder
when CTest runs the suite). CBLOB_SAMPLES_DIR names the sample images and
CBLOB_TOOL the `cblob` command-line tool the results are compared with.
"""
import glob
import os

import numpy as np
import pytest

import cblob

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLES = os.environ.get("CBLOB_SAMPLES_DIR", os.path.join(HERE, "..", "..", "samples"))
SHARED_DATA = "/work/shared/data"
TOOL = os.environ.get("CBLOB_TOOL")


def sample_files():
    """Every sample PNG: the repository's and the shared data folder's, when present."""
    files = sorted(glob.glob(os.path.join(SAMPLES, "*.png")))
    files = [f for f in files if not f.endswith("_overlay.png")]
    if os.path.isdir(SHARED_DATA):
        files += sorted(glob.glob(os.path.join(SHARED_DATA, "*.png")))
    return files


def read(path):
    return cblob._cblob._read_png(path)


def live_blocks():
    return cblob._cblob._live_blocks()


def tables_equal(a, b):
    assert list(a) == list(b)
    for name in a:
        np.testing.assert_array_equal(a[name], b[name], err_msg=name)


@pytest.fixture(scope="session")
def coins():
    return read(os.path.join(SAMPLES, "coins.png"))


@pytest.fixture(scope="session")
def parts16():
    return read(os.path.join(SAMPLES, "parts16.png"))


@pytest.fixture(scope="session")
def tool():
    if not TOOL or not os.path.exists(TOOL):
        pytest.skip("the cblob tool is not built (CBLOB_TOOL)")
    return TOOL

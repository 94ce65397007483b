"""Arrays in: read in place, refused clearly when the library cannot read
them in place, and no library memory left behind by a refused call."""
import gc
import tracemalloc

import numpy as np
import pytest

import cblob
from conftest import live_blocks, tables_equal


def test_pixels_are_read_in_place():
    # The run sees pixels written after analyze() was called: the cancel
    # callback, asked once before the pixels are segmented, writes them into
    # the base array, and only a view of that array was handed over.
    for dtype, value in ((np.uint8, 200), (np.uint16, 50000)):
        base = np.zeros((60, 80), dtype=dtype)
        view = base[10:50, 5:75]
        assert np.shares_memory(view, base)

        def paint():
            base[20:30, 20:40] = value
            return False

        result = cblob.analyze(view, threshold=value, holes=False, cancel=paint)
        assert len(result) == 1
        assert result[0].box == (15, 10, 20, 10)  # in the view's coordinates
        assert result[0].area == 200


def test_no_copy_is_allocated():
    image = np.zeros((4000, 4000), dtype=np.uint8)
    image[100:200, 100:200] = 255
    cblob.analyze(image[:100, :100], threshold=128)  # warm up
    tracemalloc.start()
    try:
        cblob.analyze(image, threshold=128)
        cblob.analyze(image[:, 1:-1], threshold=128)
        _, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    assert peak < image.nbytes // 16


def test_row_strided_views_give_the_slice_results(coins):
    big = np.zeros((coins.shape[0] + 20, coins.shape[1] + 30), dtype=np.uint8)
    big[7:7 + coins.shape[0], 11:11 + coins.shape[1]] = coins
    view = big[7:7 + coins.shape[0], 11:11 + coins.shape[1]]
    assert not view.flags.c_contiguous
    tables_equal(cblob.analyze(view, threshold=130).table(), cblob.analyze(coins, threshold=130).table())
    readonly = coins.copy()
    readonly.flags.writeable = False
    tables_equal(cblob.analyze(readonly, threshold=130).table(), cblob.analyze(coins, threshold=130).table())


@pytest.mark.parametrize("make, message", [
    (lambda a: a[:, ::2], "adjacent"),
    (lambda a: a.T, "adjacent"),
    (lambda a: a[::-1], "increasing memory order"),
    (lambda a: a.astype(np.float32), "dtype"),
    (lambda a: a.astype(np.int16), "dtype"),
    (lambda a: a.astype(np.uint32), "dtype"),
    (lambda a: a.astype(">u2"), "dtype"),
    (lambda a: a.astype(bool), "dtype"),
    (lambda a: np.dstack([a, a, a]), "2-D"),
    (lambda a: a[0], "2-D"),
    (lambda a: a[:0], "empty"),
    (lambda a: a[:, :0], "empty"),
    (lambda a: np.zeros(2 * a.size + 1, np.uint8)[1:].view(np.uint16).reshape(a.shape), "aligned"),
])
def test_arrays_the_library_cannot_read_in_place_are_refused(coins, make, message):
    before = live_blocks()
    with pytest.raises(ValueError, match=message):
        cblob.analyze(make(coins), threshold=10)
    assert live_blocks() == before


def test_non_arrays_and_bad_masks(coins):
    with pytest.raises(TypeError, match="NumPy array"):
        cblob.analyze(coins.tolist(), threshold=10)
    with pytest.raises(ValueError, match="mask shape"):
        cblob.analyze(coins, threshold=10, mask=np.ones((5, 5), np.uint8))
    with pytest.raises(ValueError, match="mask must have dtype"):
        cblob.analyze(coins, threshold=10, mask=np.ones(coins.shape, np.uint16))
    inside = np.zeros(coins.shape, bool)
    inside[50:250, 50:300] = True
    masked = cblob.analyze(coins, threshold=130, mask=inside, holes=False)
    cut = cblob.analyze(np.where(inside, coins, 0).astype(np.uint8), threshold=130, holes=False)
    tables_equal(masked.table(["area", "center_x", "center_y"]), cut.table(["area", "center_x", "center_y"]))


@pytest.mark.parametrize("kwargs, status", [
    (dict(threshold=300), "cblob_err_badThreshRange"),
    (dict(threshold=-1), "cblob_err_badThresh"),
    (dict(soft=(50, 40)), "cblob_err_badThreshRange"),
    (dict(soft=(10, 20, 30)), "cblob_err_softnessTooLarge"),
    (dict(percent=(60, 60, 50)), "cblob_err_tailPercentSum"),
    (dict(percent=(1, 1, 150)), "cblob_err_badThreshPercent"),
    (dict(threshold=10, calibration=0.0), "cmath_err_singularXform"),
])
def test_bad_arguments_raise_the_status_and_leak_nothing(coins, kwargs, status):
    gc.collect()
    before = live_blocks()
    with pytest.raises(cblob.Error) as failure:
        cblob.analyze(coins, **kwargs)
    assert failure.value.status_name == status
    assert failure.value.status < 0
    assert status in str(failure.value)
    assert cblob.status_name(failure.value.status) == status
    del failure
    gc.collect()
    assert live_blocks() == before


@pytest.mark.parametrize("kwargs, error", [
    (dict(threshold=1, soft=(1, 2)), ValueError),
    (dict(threshold=1.5), TypeError),
    (dict(soft=(1,)), ValueError),
    (dict(percent=5), TypeError),
    (dict(percent=(1, 1, "50")), TypeError),
    (dict(min_area=-1), ValueError),
    (dict(cleanup="shrink", min_area=5), ValueError),
    (dict(calibration=[[1, 2]]), ValueError),
    (dict(cancel=5), TypeError),
])
def test_bad_python_arguments(coins, kwargs, error):
    before = live_blocks()
    with pytest.raises(error):
        cblob.analyze(coins, **kwargs)
    assert live_blocks() == before


def test_results_release_their_memory(coins):
    gc.collect()
    before = live_blocks()
    result = cblob.analyze(coins, threshold=130, keep_runs=True)
    blob = result[3]
    blob.runs()
    assert live_blocks() > before
    del result  # the blob keeps the result set alive
    assert blob.runs().size
    del blob
    gc.collect()
    assert live_blocks() == before

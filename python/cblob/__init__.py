"""cblob: blob analysis (connected components) of 8- and 16-bit grey images.

    >>> import cblob, numpy as np
    >>> result = cblob.analyze(image, threshold=130, min_area=800, cleanup="fill", holes=False)
    >>> for blob in result:
    ...     print(blob.label, blob.area, blob.center_x, blob.center_y, blob.angle_deg)
    >>> columns = result.table(["area", "center_x", "center_y", "elongation"])

The pixels of the NumPy array are read in place (no copy); the analysis
runs with the GIL released, so several Python threads analyse in parallel.
Failures of the library raise cblob.Error with the status code and its name.
"""

import numpy as _np

from . import _cblob
from ._cblob import Blob, Cancelled, Error, Result, get_thread_count, set_thread_count, status_name

__version__ = _cblob.__version__

__all__ = [
    "analyze", "Result", "Blob", "Error", "Cancelled", "measure_names", "measure_info", "status_name",
    "set_thread_count", "get_thread_count",
]

_MEASURES = _cblob._measure_names()


def measure_names():
    """The names of every blob measure, in code order (the command line's column names)."""
    return [name for _, name, _, _ in _MEASURES]


def measure_info():
    """(code, name, meaning, is_angle) of every measure; angle measures are in degrees."""
    return list(_MEASURES)


def analyze(image, threshold=None, soft=None, percent=None, invert=False, mask=None, min_area=0,
            cleanup="prune", holes=True, morphology=(), threads=None, calibration=None, *,
            keep_runs=False, cancel=None, labelled=False):
    """Finds the blobs of a 2-D uint8 or uint16 NumPy array.

    The array is read in place: it must be C-contiguous or a row slice of
    one (the pixels of each row adjacent); anything else raises ValueError.

    Segmentation, one of:
      threshold=N          objects are the pixels >= N
      soft=(low, high[, softness])  a graded edge between low and high
      percent=(low_tail, high_tail, percent)  a threshold at `percent` of the
                           histogram span without the tails (the default is
                           (1, 1, 50))
    invert=True makes the dark pixels the objects.

    mask: a uint8 or bool array of the image's shape; only its non-zero
      pixels are analysed.
    min_area: regions below this many pixels are pruned (cleanup="prune")
      or filled into their surroundings (cleanup="fill"); cleanup="none"
      keeps them.
    holes=False leaves the holes (background regions inside objects) out of
      the result; they still shape the tree (parent, children).
    calibration: the client coordinates the measures are given in: a pixel
      size, a pair (sx, sy), a 2x3 affine or 3x3 perspective matrix mapping
      pixel to client coordinates.
    keep_runs=True keeps each blob's runs: Blob.runs(), Blob.image(),
      Blob.contour(), Blob.chain_code(), the boundary measures (perimeter,
      boundary_steps, compactness, acircularity) and the box and median
      measures (median_*, angle_box_*, principal_*) need them.
    cancel: a callable returning True to stop, or a threading.Event; a
      stopped run raises cblob.Cancelled.
    morphology: the clean-up applied to the segmented image before
      labelling, in order: a sequence of operations, each a name such as
      "open3x3", "erode1x3" or "close3x1", or a pair such as ("dilate",
      "3x3"); one name alone is one operation. The operations are erode,
      dilate, open (erode then dilate) and close (dilate then erode); the
      elements 3x3 (the square), 1x3 (a pixel and its left and right
      neighbours) and 3x1 (above and below). The cblob tool's --erode,
      --dilate, --open and --close give the same operations.
    threads: the number of threads a large image is labelled on (in
      horizontal bands; the blobs are the same for any count). The library
      keeps ONE thread count for the whole process: threads=N sets it as
      cblob.set_thread_count(N) does before the run, and it stays set for
      later runs, also those of other Python threads. None leaves it as it is
      (by default every online core).

    labelled=True: the image is a label image (uint8): every pixel value is
      a region, the pixels of one value 6-connected (left, right, up, down,
      up-left, down-right), without segmentation (no threshold, soft,
      percent or invert). Each blob's colour is its value and its parent the
      region that separates it from the image border; Blob.neighbours lists
      the blobs it touches, Blob.touches_border whether it reaches the
      border. min_area with cleanup="prune" drops small regions that enclose
      nothing; with cleanup="fill" merges each small region into its largest
      neighbour.

    Returns a Result.
    """
    ops = _morph_codes(morphology)
    if threads is not None:
        if isinstance(threads, bool) or not isinstance(threads, int) or not 1 <= threads <= MAX_THREADS:
            raise ValueError("threads must be None or an integer from 1 to %d" % MAX_THREADS)
        set_thread_count(threads)
    return _cblob._analyze(image, threshold, soft, percent, bool(invert), mask, min_area, cleanup, bool(holes),
                           calibration, bool(keep_runs), cancel, ops, bool(labelled))


# The largest thread count the library accepts.
MAX_THREADS = 1024

_MORPH_OPS = ("erode", "dilate", "close", "open")
_MORPH_ELEMENTS = ("1x3", "3x1", "3x3")


def _morph_code(op, element):
    """The library's code of one operation: the operations in threes, one per element."""
    if op not in _MORPH_OPS or element not in _MORPH_ELEMENTS:
        raise ValueError("morphology: unknown operation %r; use erode, dilate, open or close with 3x3, 1x3 or 3x1"
                         % ((op + element) if isinstance(op, str) and isinstance(element, str) else ((op, element),)))
    return _MORPH_OPS.index(op) * 3 + _MORPH_ELEMENTS.index(element)


def _morph_codes(morphology):
    if morphology is None:
        return []
    if isinstance(morphology, str):
        morphology = (morphology,)
    codes = []
    for item in morphology:
        if isinstance(item, str):
            codes.append(_morph_code(item[:-3], item[-3:]))
        elif isinstance(item, (tuple, list)) and len(item) == 2 and all(isinstance(x, str) for x in item):
            codes.append(_morph_code(item[0], item[1]))
        else:
            raise TypeError("morphology: each operation is a name like 'open3x3' or a pair like ('open', '3x3'), "
                            "not %r" % (item,))
    return codes


# ---------------------------------------------------------- Result.filter/sort

def _column(result, name, angle, exclude):
    """One measure of every blob of `result`; raises when a blob lacks it."""
    values = result.table([name], angle=angle, exclude=exclude)[name]
    if values.dtype.kind == "f":
        missing = _np.flatnonzero(_np.isnan(values))
        if missing.size:
            result[int(missing[0])].measure(name, angle=angle, exclude=exclude)  # raises cblob.Error
    return values


def _filter(self, measure=None, low=None, high=None, *, outside=False, angle=0.0, exclude=None, **ranges):
    """The blobs whose measures lie in the given ranges, as a new Result.

    result.filter("area", 100, 5000) or result.filter(area=(100, 5000),
    elongation=(None, 3)): bounds are inclusive, None is unbounded.
    outside=True keeps the blobs outside the ranges instead. Every range
    must hold for a blob to stay (outside: every range must exclude it).
    """
    conditions = []
    if measure is not None:
        conditions.append((measure, low, high))
    elif low is not None or high is not None:
        raise TypeError("filter: low and high need a measure name")
    for name, bounds in ranges.items():
        if not isinstance(bounds, (tuple, list)) or len(bounds) != 2:
            raise TypeError("filter: %s= needs a (low, high) pair" % name)
        conditions.append((name, bounds[0], bounds[1]))
    keep = _np.ones(len(self), dtype=bool)
    for name, lo, hi in conditions:
        values = _column(self, name, angle, exclude)
        inside = _np.ones(len(self), dtype=bool)
        if lo is not None:
            inside &= values >= lo
        if hi is not None:
            inside &= values <= hi
        keep &= ~inside if outside else inside
    return self._subset(_np.flatnonzero(keep).tolist())


def _sort(self, measure, descending=False, *, angle=0.0, exclude=None):
    """The blobs ordered by a measure (ties keep their order), as a new Result."""
    values = _column(self, measure, angle, exclude)
    order = _np.argsort(-values if descending else values, kind="stable")
    return self._subset(order.tolist())


Result.filter = _filter
Result.sort = _sort


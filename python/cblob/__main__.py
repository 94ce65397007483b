"""python3 -m cblob: the `cblob` command line, through the Python package.

Takes the same arguments and prints the same table, CSV or JSON, and
writes the same overlay, contour CSV and GeoJSON files, as the `cblob` tool;
exit codes 0 success, 1 a failed input or output, 2 bad usage. The help
text is the tool's; --filter and --sort are the library's own (through the
extension module), so ties and ranges come out as the tool's do.
"""

import math
import os
import re
import sys

import numpy as np

import cblob
from cblob import Blob, _cblob

# The help text is the tool's own (compiled into the extension module).
USAGE = _cblob._cli_usage()

# The base columns and the measures they come from.
BASE = ["area", "center_x", "center_y", "box_left", "box_top", "box_width", "box_height", "elongation",
        "angle_deg", "inertia_max"]
IMAGE_EXTENSIONS = ("png", "pgm", "pnm", "tif", "tiff")
# Measure codes: the boundary measures, and the first of the measures read
# from each blob's own runs (boxes and medians at an angle); interior.
BOUNDARY_MEASURES = (3, 4, 14, 15)
FIRST_RUNS_MEASURE = 26
INTERIOR = 16


class Usage(Exception):
    """A failure with its exit code and one-line message."""

    def __init__(self, code, message):
        super().__init__(message)
        self.code = code


def fail(code, message):
    raise Usage(code, message)


def c_long(option, text, low, high):
    """An integer as strtol reads it (the whole text, base 10), in [low, high]."""
    if not re.fullmatch(r"[ \t\n\v\f\r]*[+-]?[0-9]+", text) or abs(int(text)) > 2 ** 63 - 1:
        fail(2, "%s expects an integer, not '%s'" % (option, text))
    value = int(text)
    if value < low or value > high:
        fail(2, "%s %s is out of range (%d..%d)" % (option, text, low, high))
    return value


def c_double(text):
    """A number as strtod reads the whole text (leading blanks allowed), or None."""
    if not text or "_" in text or text != text.rstrip():
        return None
    try:
        return float(text)
    except ValueError:
        pass
    if text.lstrip().lstrip("+-")[:2].lower() == "0x":  # strtod reads hexadecimal numbers too
        try:
            return float.fromhex(text.lstrip())
        except ValueError:
            pass
    return None


def parse_percent(option, text):
    value = c_double(text)
    if value is None or not math.isfinite(value):
        fail(2, "%s expects a number, not '%s'" % (option, text))
    if value < 0 or value > 100:
        fail(2, "%s %s is out of range (0..100)" % (option, text))
    return value


def parse_number(option, text):
    value = c_double(text)
    if value is None or not math.isfinite(value):
        fail(2, "%s needs a number, not '%s'" % (option, text))
    return value


def strtod(text):
    """A number as the tool's strtod check reads it: the whole text, finite; else None."""
    value = c_double(text)
    return value if value is not None and math.isfinite(value) else None


def find_measure(name):
    """(code, name, meaning, is_angle) of a measure name."""
    for m in cblob.measure_info():
        if m[1] == name:
            return m
    fail(2, "unknown measure '%s' (cblob measures lists them)" % name)


def parse_filter(text, o):
    """[!]MEASURE:LOW:HIGH; an empty bound is open."""
    outside = text.startswith("!")
    parts = (text[1:] if outside else text).split(":")
    if len(parts) != 3:
        fail(2, "--filter needs [!]MEASURE:LOW:HIGH, not '%s'" % text)
    m = find_measure(parts[0])
    bounds = [-math.inf, math.inf]
    for k in range(2):
        if parts[k + 1]:
            value = strtod(parts[k + 1])
            if value is None:
                fail(2, "--filter bound '%s' is not a number" % parts[k + 1])
            bounds[k] = value
    if bounds[0] > bounds[1]:
        fail(2, "--filter %s: LOW is above HIGH" % text)
    unit = math.pi / 180.0 if m[3] else 1.0  # angles are given in degrees
    o.filters.append((m[0], bounds[0] * unit, bounds[1] * unit, outside))
    o.filter_names.append(m[1])


def parse_sort(text, o):
    """MEASURE[:asc|:desc]"""
    parts = text.split(":")
    if len(parts) > 2 or (len(parts) == 2 and parts[1] not in ("asc", "desc")):
        fail(2, "--sort needs MEASURE[:asc|:desc], not '%s'" % text)
    o.sort_measure = find_measure(parts[0])[0]
    o.sort_direction = 0 if len(parts) == 2 and parts[1] == "desc" else 1


def parse_calibration(text, o):
    """SCALE[,ANGLE_DEG,OFFSET_X,OFFSET_Y]"""
    parts = text.split(",")
    values = [strtod(p) for p in parts]
    if len(parts) not in (1, 4) or None in values or values[0] <= 0:
        fail(2, "--calibration needs SCALE[,ANGLE_DEG,OFFSET_X,OFFSET_Y] with SCALE > 0, not '%s'" % text)
    o.calibration = (values + [0.0, 0.0, 0.0])[:4]


def parse_top(text, o):
    if not re.fullmatch(r"[ \t\n\v\f\r]*[+-]?[0-9]+", text) or abs(int(text)) > 2 ** 63 - 1 or int(text) < 0:
        fail(2, "--top needs a count N >= 0, not '%s'" % text)
    o.top = int(text)


MORPH_OPTIONS = ("--erode", "--dilate", "--open", "--close")
MORPH_ELEMENTS = ("3x3", "1x3", "3x1")

VIEW_OPTIONS = {"--filter": parse_filter, "--sort": parse_sort, "--calibration": parse_calibration,
                "--top": parse_top}


def has_csv_extension(name):
    return len(name) >= 4 and name[-4:].lower() == ".csv"


# Measures the fixed columns already give (colour as object/hole).
FIXED_COLUMNS = ("colour", "area", "center_x", "center_y", "elongation", "angle_deg")


def parse_measures(text):
    """The measures in the order given, each once, leaving out the fixed columns."""
    info = cblob.measure_info()
    by_name = {m[1]: m for m in info}
    out = []
    names = []
    for name in text.split(","):
        names += [m[1] for m in info] if name == "all" else [name]
    for name in names:
        if name not in by_name:
            fail(2, "unknown measure '%s' (cblob measures lists them)" % name)
        if name not in FIXED_COLUMNS and by_name[name] not in out:
            out.append(by_name[name])
    return out


class Options:
    def __init__(self):
        self.inputs = []
        self.seg = None
        self.threshold = 0
        self.soft_low = self.soft_high = 0
        self.softness = None
        self.low_tail, self.high_tail, self.percent = 1.0, 1.0, 50.0
        self.invert = False
        self.min_area = None
        self.prune = self.fill = False
        self.no_holes = False
        self.mask = ""
        self.csv = self.json = False
        self.overlay = ""
        self.measures = []
        self.angle = 0.0
        self.exclude = None  # None, a number or "N%"
        self.contours = False
        self.contours_file = ""
        self.geojson = ""
        # After the run: client transform, the library's filters and sort, --top.
        self.calibration = None  # [scale, angle_deg, offset_x, offset_y]
        self.filters = []  # (code, low, high, outside), angles in radians
        self.filter_names = []
        self.sort_measure = 0
        self.sort_direction = 1
        self.top = -1
        self.morphology = []  # --erode, --dilate, --open, --close: (op, element) in order
        self.threads = 0  # 0: the library's default
        self.labelled = self.neighbours = False

    def needs_blob_runs(self, with_mask):
        """A filter or the sort reads a measure from the blobs' own runs."""
        def needs(code):
            return code >= FIRST_RUNS_MEASURE or (code == INTERIOR and with_mask) or code in BOUNDARY_MEASURES
        return any(needs(f[0]) for f in self.filters) or needs(self.sort_measure)


def parse_options(argv):
    if len(argv) < 1:
        sys.stderr.write(USAGE)
        sys.exit(2)
    for arg in argv:
        if arg in ("--help", "-h"):
            write_output(USAGE)
            sys.exit(0)
        if arg == "--version":
            write_output("cblob %s\n" % cblob.__version__)
            sys.exit(0)
    if argv[0] == "measures" and len(argv) == 1:
        write_output("".join("%-24s %s\n" % (m[1], m[2]) for m in cblob.measure_info()))
        sys.exit(0)
    if argv[0] != "analyze":
        fail(2, "unknown command '%s' (try: cblob analyze, or cblob --help)" % argv[0])
    o = Options()

    def set_seg(seg, name):
        if o.seg is not None:
            fail(2, "%s conflicts with another segmentation option" % name)
        o.seg = seg

    i = 1
    while i < len(argv):
        arg = argv[i]

        def need(count):
            if i + count >= len(argv):
                fail(2, "%s needs %d %s" % (arg, count, "value" if count == 1 else "values"))

        if arg == "--threshold":
            need(1)
            set_seg("hard", arg)
            o.threshold = c_long(arg, argv[i + 1], 0, 65535)
            i += 1
        elif arg == "--soft":
            need(2)
            set_seg("soft", arg)
            o.soft_low = c_long(arg, argv[i + 1], 0, 65535)
            o.soft_high = c_long(arg, argv[i + 2], 0, 65535)
            i += 2
            if o.soft_low >= o.soft_high:
                fail(2, "--soft needs LOW below HIGH")
        elif arg == "--softness":
            need(1)
            o.softness = c_long(arg, argv[i + 1], 0, 65534)
            i += 1
        elif arg == "--percent":
            need(3)
            set_seg("percent", arg)
            o.low_tail = parse_percent(arg, argv[i + 1])
            o.high_tail = parse_percent(arg, argv[i + 2])
            o.percent = parse_percent(arg, argv[i + 3])
            i += 3
            if o.low_tail + o.high_tail > 100:
                fail(2, "--percent tails add up to more than 100")
        elif arg == "--invert":
            o.invert = True
        elif arg == "--min-area":
            need(1)
            o.min_area = c_long(arg, argv[i + 1], 0, 2147483647)
            i += 1
        elif arg == "--threads":
            need(1)
            o.threads = c_long(arg, argv[i + 1], 1, cblob.MAX_THREADS)
            i += 1
        elif arg == "--prune":
            o.prune = True
        elif arg == "--fill":
            o.fill = True
        elif arg == "--no-holes":
            o.no_holes = True
        elif arg == "--mask":
            need(1)
            o.mask = argv[i + 1]
            i += 1
        elif arg == "--csv":
            o.csv = True
        elif arg == "--json":
            o.json = True
        elif arg == "--overlay":
            need(1)
            o.overlay = argv[i + 1]
            i += 1
        elif arg == "--contours" or arg.startswith("--contours="):
            # The CSV file is optional: the next argument when it names one.
            o.contours = True
            if arg != "--contours":
                o.contours_file = arg[len("--contours="):]
            elif i + 1 < len(argv) and has_csv_extension(argv[i + 1]):
                o.contours_file = argv[i + 1]
                i += 1
        elif arg == "--geojson":
            need(1)
            o.geojson = argv[i + 1]
            i += 1
        elif arg in VIEW_OPTIONS:
            if i + 1 >= len(argv):
                fail(2, "%s needs 1 value" % arg)
            VIEW_OPTIONS[arg](argv[i + 1], o)
            i += 1
        elif arg == "--measures":
            need(1)
            o.measures = parse_measures(argv[i + 1])
            i += 1
        elif arg == "--angle":
            need(1)
            o.angle = parse_number(arg, argv[i + 1])
            i += 1
        elif arg == "--exclude":
            need(1)
            amount = argv[i + 1]
            i += 1
            percent = amount.endswith("%")
            if percent:
                amount = amount[:-1]
            value = parse_number(arg, amount)
            if value < 0 or (percent and value >= 50):
                fail(2, "--exclude needs N >= 0 (a percentage below 50)")
            o.exclude = ("%r%%" % value) if percent else value
        elif arg == "--labelled":
            o.labelled = True
        elif arg == "--neighbours":
            o.neighbours = True
        elif arg in MORPH_OPTIONS:
            need(1)
            if argv[i + 1] not in MORPH_ELEMENTS:
                fail(2, "%s needs an element: 3x3, 1x3 or 3x1" % arg)
            o.morphology.append((arg[2:], argv[i + 1]))
            i += 1
        elif len(arg) > 1 and arg[0] == "-":
            fail(2, "unknown option %s (see cblob --help)" % arg)
        else:
            o.inputs.append(arg)
        i += 1
    if not o.inputs:
        fail(2, "no input files")
    if o.softness is not None and o.seg != "soft":
        fail(2, "--softness needs --soft")
    if o.softness is not None and o.softness > o.soft_high - o.soft_low:
        fail(2, "--softness is larger than HIGH - LOW")
    if o.prune and o.fill:
        fail(2, "--prune conflicts with --fill")
    if (o.prune or o.fill) and o.min_area is None:
        fail(2, "%s needs --min-area" % ("--prune" if o.prune else "--fill"))
    if o.csv and o.json:
        fail(2, "--csv conflicts with --json")
    if o.contours and not o.contours_file and not o.json and not o.overlay:
        fail(2, "--contours needs FILE.csv (or --json, or --overlay)")
    if o.labelled and (o.seg is not None or o.invert):
        fail(2, "--labelled conflicts with the segmentation options")
    if o.neighbours and not o.labelled:
        fail(2, "--neighbours needs --labelled")
    if o.seg is None:
        o.seg = "percent"
    return o


# ------------------------------------------------------------------ inputs

def expand_inputs(inputs):
    files = []
    for name in inputs:
        if not os.path.exists(name):
            fail(1, "cannot read %s: no such file or directory" % name)
        if not os.path.isdir(name):
            files.append(name)
            continue
        try:
            entries = os.listdir(name)
        except OSError:
            fail(1, "cannot read directory " + name)
        found = sorted(os.path.join(name, e) if not name.endswith("/") else name + e for e in entries
                       if "." in e and e.rsplit(".", 1)[1].lower() in IMAGE_EXTENSIONS)
        if not found:
            fail(1, "no PNG, PGM or TIFF files in directory " + name)
        files.extend(found)
    return files


def read_image(path):
    """The pixels of a PNG, PGM or TIFF file, recognised by its first bytes."""
    try:
        with open(path, "rb") as f:
            magic = f.read(8)
    except OSError as e:
        fail(1, "cannot read %s: %s" % (path, e.strerror))
    if magic == b"\x89PNG\r\n\x1a\n":
        reader = _cblob._read_png
    elif len(magic) >= 2 and magic[:1] == b"P" and magic[1:2] in (b"2", b"5"):
        reader = _cblob._read_pgm
    elif len(magic) >= 4 and (magic[:2] == b"II" and magic[2] in (42, 43) and magic[3] == 0 or
                              magic[:2] == b"MM" and magic[2] == 0 and magic[3] in (42, 43)):
        reader = _cblob._read_tiff
    else:
        fail(1, "cannot read %s: unknown file format (supported formats: PNG, PGM, TIFF)" % path)
    try:
        return reader(path)
    except OSError as e:
        fail(1, str(e))


# ---------------------------------------------------------------- analysis

def analyze(path, o, mask, files, rows):
    pixels = read_image(path)
    if mask is not None and mask.shape != pixels.shape:
        fail(1, "mask %s is %dx%d but %s is %dx%d" % (o.mask, mask.shape[1], mask.shape[0], path, pixels.shape[1],
                                                      pixels.shape[0]))
    bits = 8 if pixels.dtype == np.uint8 else 16
    max_pel = 255 if bits == 8 else 65535
    kwargs = {}
    values = None  # --labelled: the label value of each blob colour
    image = pixels
    if o.labelled:
        image, values = label_input(pixels, path)
        kwargs["labelled"] = True
    elif o.seg == "hard":
        if o.threshold > max_pel:
            fail(2, "--threshold %d is beyond the %d-bit pixel range of %s" % (o.threshold, bits, path))
        kwargs["threshold"] = o.threshold
    elif o.seg == "soft":
        if o.soft_high > max_pel:
            fail(2, "--soft %d is beyond the %d-bit pixel range of %s" % (o.soft_high, bits, path))
        kwargs["soft"] = (o.soft_low, o.soft_high) if o.softness is None else (o.soft_low, o.soft_high, o.softness)
    else:
        kwargs["percent"] = (o.low_tail, o.high_tail, o.percent)
    # Boxes and medians at an angle, the interior test against a mask and
    # the boundary measures and outlines read each blob's own runs.
    keep_runs = (any(m[0] >= FIRST_RUNS_MEASURE or (m[0] == INTERIOR and mask is not None) or
                     m[0] in BOUNDARY_MEASURES for m in o.measures) or
                 o.contours or bool(o.geojson) or o.needs_blob_runs(mask is not None))
    try:
        result = cblob.analyze(image, invert=o.invert, mask=mask, min_area=o.min_area or 0,
                               cleanup="fill" if o.fill else "prune", holes=not o.no_holes, keep_runs=keep_runs,
                               calibration=calibration_matrix(o), morphology=o.morphology, **kwargs)
    except cblob.Error as e:
        fail(1, "analysing %s: %s" % (path, e.status_name))
    if o.labelled:
        files.append((path, False, 0, None))
    else:
        files.append((path, o.seg == "soft", result.threshold, result.threshold_high))
    # The library's filters (in one call: ranges of one measure are
    # alternatives), then its sort, on the blobs in client units.
    steps = []
    if o.filters:
        steps.append(("--filter " + ",".join(o.filter_names), o.filters, 0))
    if o.sort_measure:
        steps.append(("--sort", [], o.sort_measure))
    for step, filters, sort_measure in steps:
        try:
            result = result._library_view(filters, sort_measure, o.sort_direction, angle=o.angle, exclude=o.exclude)
        except cblob.Error as e:
            fail(1, "%s of %s: %s" % (step, path, e.status_name))
    if o.top >= 0:
        result = result._subset(range(min(o.top, len(result))))
    names = [m[1] for m in o.measures]
    base = result.table(["label", "colour", "parent"] + BASE)
    extra = result.table(names, angle=o.angle, exclude=o.exclude) if names else {}
    for i in range(len(result)):
        row = {k: v[i] for k, v in base.items()}
        row["file"] = len(files) - 1
        row["extra"] = [extra[n][i] for n in names]
        if o.labelled:
            blob = result[i]
            row["value"] = values[row["colour"]]
            row["neighbours"] = [b.label for b in blob.neighbours]
            row["border"] = blob.touches_border
        if o.contours or o.geojson:
            blob = result[i]
            row["outline"] = read_outline(blob, path, Blob.contour)
            if o.contours and o.overlay:
                row["chain"] = read_outline(blob, path, Blob.chain_code)
            if o.geojson:
                row["holes"] = [read_outline(child, path, Blob.contour) for child in blob.children]
        rows.append(row)
    return pixels


def label_input(pixels, path):
    """--labelled: the image the run labels (8 bits) and the label value of each of its values.

    A 16-bit image's distinct values are numbered in ascending order."""
    if pixels.dtype == np.uint8:
        return pixels, list(range(256))
    values = np.unique(pixels)
    if len(values) > 256:
        fail(1, path + ": --labelled takes at most 256 distinct values in a 16-bit image")
    return np.searchsorted(values, pixels).astype(np.uint8), values.tolist()


def calibration_matrix(o):
    """The client-from-image transform of --calibration: x' = SCALE R(ANGLE) x + OFFSET."""
    if o.calibration is None:
        return None
    scale, angle_deg, offset_x, offset_y = o.calibration
    a = angle_deg * math.pi / 180.0
    c, s = scale * math.cos(a), scale * math.sin(a)
    return [[c, -s, offset_x], [s, c, offset_y]]


def read_outline(blob, path, read):
    """The blob's outer boundary: read(blob) is Blob.contour or Blob.chain_code."""
    try:
        return read(blob)
    except cblob.Error as e:
        fail(1, "boundary of blob %d of %s: %s" % (blob.label, path, e.status_name))


# ------------------------------------------------------------------ output

def g17(v):
    return "%.17g" % v


def number(v, missing):
    return missing if math.isnan(v) else g17(v)


def json_string(text):
    out = '"'
    for c in text:
        if c in '"\\':
            out += "\\"
        if ord(c) < 0x20:
            out += "\\u%04x" % ord(c)
            continue
        out += c
    return out + '"'


def csv_field(text):
    if not any(c in text for c in ',"\n'):
        return text
    return '"' + text.replace('"', '""') + '"'


def threshold_text(f):
    _, soft, low, high = f
    return "%d..%d" % (low, high) if soft else "%d" % low


def threshold_line(f, o):
    if o.labelled:
        return "labelled: every value a region"
    line = "threshold " + threshold_text(f)
    if o.seg == "percent":
        line += " (--percent %s %s %s)" % (c_g(o.low_tail), c_g(o.high_tail), c_g(o.percent))
    elif f[1]:
        line += " (soft)"
    if o.invert:
        line += ", inverted"
    return line


def c_g(v):
    return "%g" % v


COLOUR = ("hole", "object")


def g_number(v):
    return "%g" % v


def client_units_line(o):
    scale, angle_deg, offset_x, offset_y = o.calibration
    return ("client units: 1 pixel = %s units, rotated %s deg, offset (%s, %s); area, centre, angle and measures in "
            "client units; left, top, width, height and box_* in pixels"
            % (g_number(scale), g_number(angle_deg), g_number(offset_x), g_number(offset_y)))


def client_field(o, name):
    """A column or key in client units: client_<name> under --calibration."""
    return "client_" + name if o.calibration is not None else name


def colour_text(r, o):
    """"object" or "hole", or the region's label value under --labelled."""
    return "%d" % r["value"] if o.labelled else COLOUR[r["colour"]]


def colour_json(r, o):
    return colour_text(r, o) if o.labelled else json_string(colour_text(r, o))


def json_members(r, f, o):
    """The JSON members of one blob (no braces): an output object, a GeoJSON feature's properties."""
    high = "%d" % f[3] if f[1] else "null"
    out = ('"file": %s, "threshold": %d, "threshold_high": %s, "label": %d, "colour": %s, "parent": %d, '
           '"%s": %s, "%s": %s, "%s": %s, "left": %d, "top": %d, "width": %d, "height": %d, "elongation": %s, '
           '"%s": %s'
           % (json_string(f[0]), f[2], high, r["label"], colour_json(r, o), r["parent"], client_field(o, "area"),
              g17(r["area"]), client_field(o, "center_x"), g17(r["center_x"]), client_field(o, "center_y"),
              g17(r["center_y"]), r["box_left"], r["box_top"], r["box_width"], r["box_height"],
              g17(r["elongation"]), client_field(o, "angle_deg"), g17(r["angle_deg"])))
    for m, v in zip(o.measures, r["extra"]):
        out += ', "%s": %s' % (m[1], number(v, "null"))
    if o.neighbours:
        out += ', "neighbours": [%s], "touches_border": %s' % (", ".join("%d" % n for n in r["neighbours"]),
                                                               "true" if r["border"] else "false")
    return out


def corners_json(corners):
    return "[" + ", ".join("[%d, %d]" % (x, y) for x, y in corners.tolist()) + "]"


def format_rows(files, rows, o):
    names = [m[1] for m in o.measures]
    out = []
    if o.json:
        out.append("[")
        for i, r in enumerate(rows):
            out.append("%s\n  {%s" % ("," if i else "", json_members(r, files[r["file"]], o)))
            if o.contours:
                out.append(', "contour": ' + corners_json(r["outline"]))
            out.append("}")
        out.append("%s]\n" % ("" if not rows else "\n"))
        return "".join(out)
    if o.csv:
        out.append("file,threshold,threshold_high,label,colour,parent,%s,%s,%s,left,top,width,height,elongation,%s"
                   % (client_field(o, "area"), client_field(o, "center_x"), client_field(o, "center_y"),
                      client_field(o, "angle_deg")) + "".join("," + n for n in names) +
                   (",neighbours,touches_border" if o.neighbours else "") + "\n")
        for r in rows:
            f = files[r["file"]]
            high = "%d" % f[3] if f[1] else ""
            out.append("%s,%d,%s,%d,%s,%d,%s,%s,%s,%d,%d,%d,%d,%s,%s"
                       % (csv_field(f[0]), f[2], high, r["label"], colour_text(r, o), r["parent"], g17(r["area"]),
                          g17(r["center_x"]), g17(r["center_y"]), r["box_left"], r["box_top"], r["box_width"],
                          r["box_height"], g17(r["elongation"]), g17(r["angle_deg"])))
            out.append("".join("," + number(v, "") for v in r["extra"]))
            if o.neighbours:
                out.append(",%s,%d" % (";".join("%d" % n for n in r["neighbours"]), 1 if r["border"] else 0))
            out.append("\n")
        return "".join(out)
    with_file = len(files) > 1
    file_width = max([4] + [len(f[0]) for f in files])
    for f in files:
        out.append(("%s: %s\n" % (f[0], threshold_line(f, o))) if with_file else threshold_line(f, o) + "\n")
    if o.calibration is not None:
        out.append(client_units_line(o) + "\n")
    widths = [max(10, len(n)) for n in names]
    header = ("%-*s  " % (file_width, "file")) if with_file else ""
    header += "%6s  %-6s  %6s  %10s  %9s  %9s  %6s  %6s  %6s  %6s  %10s  %9s" % (
        "label", "colour", "parent", "area", "center_x", "center_y", "left", "top", "width", "height",
        "elongation", "angle_deg")
    header += "".join("  %*s" % (w, n) for w, n in zip(widths, names))
    if o.neighbours:
        header += "  neighbours"
    out.append(header + "\n")
    for r in rows:
        line = ("%-*s  " % (file_width, files[r["file"]][0])) if with_file else ""
        line += "%6d  %-6s  %6d  %10.1f  %9.2f  %9.2f  %6d  %6d  %6d  %6d  %10.3f  %9.2f" % (
            r["label"], colour_text(r, o), r["parent"], r["area"], r["center_x"], r["center_y"], r["box_left"],
            r["box_top"], r["box_width"], r["box_height"], r["elongation"], r["angle_deg"])
        line += "".join("  %*s" % (w, "-" if math.isnan(v) else "%.4f" % v) for w, v in zip(widths, r["extra"]))
        if o.neighbours:
            line += "  " + neighbours_cell(r)
        out.append(line + "\n")
    if not rows:
        out.append("(no blobs)\n")
    return "".join(out)


def neighbours_cell(r):
    """The table's neighbours column: the labels, then "border"; "-" for none."""
    words = ["%d" % n for n in r["neighbours"]] + (["border"] if r["border"] else [])
    return " ".join(words) if words else "-"


# ----------------------------------------------------------------- overlay

def draw_line(canvas, x0, y0, x1, y1, colour):
    height, width = canvas.shape[:2]
    steps = int(max(abs(x1 - x0), abs(y1 - y0))) + 1
    for i in range(steps + 1):
        t = i / steps
        x = math.floor(x0 + (x1 - x0) * t)
        y = math.floor(y0 + (y1 - y0) * t)
        if 0 <= x < width and 0 <= y < height:
            canvas[y, x] = colour


def to_image_frame(o, r):
    """A row's centre, angle (radians), area and major moment in image pixels."""
    cx, cy, angle = r["center_x"], r["center_y"], math.radians(r["angle_deg"])
    area, inertia_max = r["area"], r["inertia_max"]
    if o.calibration is None:
        return cx, cy, angle, area, inertia_max
    scale, angle_deg, offset_x, offset_y = o.calibration
    a = angle_deg * math.pi / 180.0
    dx, dy = (cx - offset_x) / scale, (cy - offset_y) / scale
    s2 = scale * scale
    return (math.cos(a) * dx + math.sin(a) * dy, -math.sin(a) * dx + math.cos(a) * dy, angle - a, area / s2,
            inertia_max / (s2 * s2))


# The blob pixel on the right of each chain step (y down), from the corner
# the step starts at; and the step.
STEP_PIXEL = ((0, 0), (-1, -1), (-1, 0), (0, -1))
STEP = ((1, 0), (-1, 0), (0, 1), (0, -1))


def draw_boundary(canvas, chain, colour):
    height, width = canvas.shape[:2]
    (x, y), steps = chain
    for code in steps.tolist():
        px, py = x + STEP_PIXEL[code & 3][0], y + STEP_PIXEL[code & 3][1]
        if 0 <= px < width and 0 <= py < height:
            canvas[py, px] = colour
        x, y = x + STEP[code & 3][0], y + STEP[code & 3][1]


def write_overlay(path, pixels, rows, o):
    grey = pixels if pixels.dtype == np.uint8 else (pixels >> 8).astype(np.uint8)
    canvas = np.repeat(grey[:, :, None], 3, axis=2)
    obj, hole, mark, axis = (40, 230, 40), (230, 40, 230), (255, 60, 40), (40, 160, 255)
    for r in rows:
        box = obj if r["colour"] else hole
        if o.contours:
            draw_boundary(canvas, r["chain"], box)
        else:
            x0, y0 = r["box_left"], r["box_top"]
            x1, y1 = x0 + r["box_width"] - 1, y0 + r["box_height"] - 1
            draw_line(canvas, x0, y0, x1, y0, box)
            draw_line(canvas, x1, y0, x1, y1, box)
            draw_line(canvas, x1, y1, x0, y1, box)
            draw_line(canvas, x0, y1, x0, y0, box)
        cx, cy, angle, area, inertia_max = to_image_frame(o, r)
        draw_line(canvas, cx - 3, cy, cx + 3, cy, mark)
        draw_line(canvas, cx, cy - 3, cx, cy + 3, mark)
        if r["colour"] and area > 0 and inertia_max > 0:
            # For a uniform ellipse the major moment is area * a^2 / 4.
            half = 2.0 * math.sqrt(inertia_max / area)
            dx, dy = math.cos(angle) * half, math.sin(angle) * half
            draw_line(canvas, cx - dx, cy - dy, cx + dx, cy + dy, axis)
    try:
        _cblob._write_png_rgb(path, canvas)
    except OSError as e:
        try:
            os.remove(path)
        except OSError:
            pass
        fail(1, str(e))


def ring(corners, reversed_ring):
    """A GeoJSON ring, closed; an interior ring runs the other way from the same first corner."""
    points = corners.tolist()
    if reversed_ring:
        points = points[:1] + points[:0:-1]
    points.append(points[0])
    return "[" + ", ".join("[%d, %d]" % (x, y) for x, y in points) + "]"


def stage(path, text, staged):
    """Writes `text` beside `path` (path + ".tmp"); the caller renames it into place."""
    temporary = path + ".tmp"
    try:
        with open(temporary, "w", encoding="utf-8", errors="surrogateescape", newline="") as f:
            staged.append((temporary, path))
            f.write(text)
    except OSError as e:
        fail(1, "cannot write %s: %s" % (path, e.strerror or "write error"))


def stage_outline_files(files, rows, o, staged):
    """The --geojson and --contours FILE.csv files, staged beside their names."""
    if o.geojson:
        out = ['{"type": "FeatureCollection", "features": [']
        for i, r in enumerate(rows):
            rings = [ring(r["outline"], False)] + [ring(h, True) for h in r["holes"]]
            out.append('%s\n  {"type": "Feature", "geometry": {"type": "Polygon", "coordinates": [%s]}, '
                       '"properties": {%s}}' % ("," if i else "", ", ".join(rings), json_members(r, files[r["file"]], o)))
        out.append("\n]}\n" if rows else "]}\n")
        stage(o.geojson, "".join(out), staged)
    if o.contours_file:
        out = ["file,label,point,x,y\n"]
        for r in rows:
            name = csv_field(files[r["file"]][0])
            out.extend("%s,%d,%d,%d,%d\n" % (name, r["label"], i, x, y) for i, (x, y) in enumerate(r["outline"].tolist()))
        stage(o.contours_file, "".join(out), staged)


def remove_files(names):
    for name in names:
        try:
            os.remove(name)
        except OSError:
            pass


def progress(done, total):
    width = 30
    filled = width * done // total
    sys.stderr.write("\r[%s%s] %d/%d" % ("#" * filled, " " * (width - filled), done, total))
    if done == total:
        sys.stderr.write("\r%s\r" % (" " * (width + 24)))
    sys.stderr.flush()


def write_output(text):
    """Writes to stdout; a failed write (a full disk, a closed pipe) is a failure."""
    try:
        sys.stdout.write(text)
        sys.stdout.flush()
    except OSError as e:
        # Nothing more can reach the reader; keep the interpreter from
        # reporting the same failure again at exit.
        try:
            os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        except OSError:
            pass
        fail(1, "cannot write the output: " + (e.strerror or "write error"))


def main(argv):
    if not _cblob._has_file_io:
        sys.stderr.write("cblob: this build of the package cannot read image files\n")
        return 1
    try:
        o = parse_options(argv)
        if o.threads:
            cblob.set_thread_count(o.threads)
        files = expand_inputs(o.inputs)
        if o.overlay and len(files) != 1:
            fail(2, "--overlay needs exactly one input file")
        mask = None
        if o.mask:
            mask = read_image(o.mask)
            if mask.dtype != np.uint8:
                fail(1, "mask %s must be an 8-bit image" % o.mask)
        results, rows = [], []
        kept = None
        show_progress = len(files) > 1 and os.isatty(2)
        for i, path in enumerate(files):
            kept = analyze(path, o, mask, results, rows)
            if show_progress:
                progress(i + 1, len(files))
        # Every output file is written beside its name first and renamed into
        # place once the rest of the output has gone out: a failure leaves no
        # partial file.
        staged = []
        try:
            stage_outline_files(results, rows, o, staged)
            if o.overlay:
                staged.append((o.overlay + ".tmp", o.overlay))
                write_overlay(o.overlay + ".tmp", kept, rows, o)
            write_output(format_rows(results, rows, o))
            # The outline files first, the overlay last (as the tool does).
            for temporary, final in staged:
                try:
                    os.rename(temporary, final)
                except OSError as e:
                    fail(1, "cannot write %s: %s" % (final, e.strerror))
        except Usage:
            remove_files(temporary for temporary, _ in staged)
            raise
    except Usage as e:
        sys.stderr.write("cblob: %s\n" % e)
        return e.code
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

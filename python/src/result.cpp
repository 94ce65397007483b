// Result and Blob: the Python view of a result set.
#include <cmath>
#include <cstring>
#include <sstream>
#include <unordered_set>

#include "cblob_py.hpp"

namespace cblob_py {

namespace {

constexpr double kPi = 3.14159265358979323846;

const char *const kRunsHint = "; analyze(..., keep_runs=True) keeps the blobs' runs";

// Statuses that mean "this measure is not available for this blob or run".
bool isMissing(int32_t status) {
    return status == cblob_err_notYetSupported || status == cblob_err_measureUnavailable ||
           status == cblob_err_measureNotForMode || status == cblob_err_angleMeasureNotForMode ||
           status == cblob_err_rleImageEmpty;
}

int32_t labelOf(const cblob_blob *b) { return b ? b->label : 0; }

// The columns that are whole numbers in every blob.
bool isIntegerColumn(const std::string &name) {
    return name == "label" || name == "parent" || name == "colour" || name == "num_children";
}

py::object blobOrNone(const std::shared_ptr<ResultCore> &core, cblob_blob *b) {
    if (!b) return py::none();
    return py::cast(Blob{core, b});
}

std::string blobRepr(const Blob &b) {
    std::ostringstream out;
    out.precision(6);
    out << "<cblob.Blob " << b.blob->label << " " << (b.blob->colour ? "object" : "hole") << " area "
        << b.blob->area << " at (" << b.blob->centerOfMassX << ", " << b.blob->centerOfMassY << ")>";
    return out.str();
}

// The plain record measures, read straight from the blob record the way the
// library's measure dispatcher reads them (cblob_blob_getMeasure), without
// its per-call checks: a table of many blobs spends most of its time there.
// The tests compare every column with the dispatcher's values. Returns
// false for codes that are not plain record fields.
bool readRecordMeasure(const cblob_blob *b, int32_t code, bool isAngle, double *value) {
    constexpr int32_t kMomentsFirst = cblob_measureCenterOfMassX, kMomentsLast = cblob_measureAngle;
    if (code >= kMomentsFirst && code <= kMomentsLast && b->momentsValid != 1) {
        *value = std::nan("");
        return true;
    }
    switch (code) {
        case cblob_measureColour: *value = b->colour; break;
        case cblob_measureArea: *value = b->area; break;
        case cblob_measureNumChildren: *value = b->numChildren; break;
        case cblob_measureCenterOfMassX: *value = b->centerOfMassX; break;
        case cblob_measureCenterOfMassY: *value = b->centerOfMassY; break;
        case cblob_measureInertiaX: *value = b->inertiaX; break;
        case cblob_measureInertiaY: *value = b->inertiaY; break;
        case cblob_measureInertiaMin: *value = b->inertiaMin; break;
        case cblob_measureInertiaMax: *value = b->inertiaMax; break;
        case cblob_measureElongation: *value = b->elongation; break;
        case cblob_measureAngle: *value = b->angle; break;
        case cblob_measureBoxCenterX: *value = b->boxCenterX; break;
        case cblob_measureBoxCenterY: *value = b->boxCenterY; break;
        case cblob_measureBoxLeft: *value = b->boxLeft; break;
        case cblob_measureBoxRight: *value = static_cast<double>(int64_t{b->boxLeft} + b->boxWidth); break;
        case cblob_measureBoxTop: *value = b->boxTop; break;
        case cblob_measureBoxBottom: *value = static_cast<double>(int64_t{b->boxTop} + b->boxHeight); break;
        case cblob_measureBoxWidth: *value = b->boxWidth; break;
        case cblob_measureBoxHeight: *value = b->boxHeight; break;
        case cblob_measureBoxAspect: *value = b->boxAspect; break;
        default: return false;
    }
    if (isAngle) *value = *value * 180.0 / kPi;
    return true;
}

py::dict table(const Result &r, const py::object &names, double angleDeg, const py::object &exclude) {
    std::vector<std::string> columns;
    if (names.is_none()) {
        columns = {"label", "parent"};
        int32_t count = 0;
        const tool_measureName *all = tool_measureNames(&count);
        for (int32_t i = 0; i < count; ++i) columns.push_back(all[i].name);
    } else if (py::isinstance<py::str>(names)) {
        columns.push_back(names.cast<std::string>());
    } else {
        for (const py::handle name : names) columns.push_back(py::str(name).cast<std::string>());
    }
    std::vector<const tool_measureName *> measures;
    for (const std::string &name : columns) {
        const tool_measureName *m = findMeasure(name);
        if (!m && name != "label" && name != "parent")
            throw py::key_error("unknown measure '" + name + "' (cblob.measure_names() lists them)");
        measures.push_back(m);
    }
    const MeasureOptions options = measureOptions(angleDeg, exclude);
    const py::ssize_t n = static_cast<py::ssize_t>(r.blobs.size());
    // One pass over the blobs fills every column: each record is read from
    // memory once however many columns there are.
    std::vector<py::array> arrays;
    std::vector<int32_t *> ints(columns.size(), nullptr);
    std::vector<double *> doubles(columns.size(), nullptr);
    for (size_t c = 0; c < columns.size(); ++c) {
        if (isIntegerColumn(columns[c])) {
            py::array_t<int32_t> column(n);
            ints[c] = column.mutable_data();
            arrays.push_back(column);
        } else {
            py::array_t<double> column(n);
            doubles[c] = column.mutable_data();
            arrays.push_back(column);
        }
    }
    applyMeasureOptions(*r.core, options);
    for (py::ssize_t i = 0; i < n; ++i) {
        cblob_blob *b = r.blobs[i];
        for (size_t c = 0; c < columns.size(); ++c) {
            if (doubles[c]) {
                if (!readRecordMeasure(b, measures[c]->code, measures[c]->isAngle != 0, &doubles[c][i]))
                    doubles[c][i] = readMeasureAsSet(b, measures[c], options, true);
                continue;
            }
            const std::string &name = columns[c];
            ints[c][i] = name == "label"    ? b->label
                         : name == "parent" ? labelOf(b->parent)
                         : name == "colour" ? b->colour
                                            : b->numChildren;
        }
    }
    py::dict out;
    for (size_t c = 0; c < columns.size(); ++c) out[py::str(columns[c])] = arrays[c];
    return out;
}

Result subset(const Result &r, const py::iterable &indices) {
    Result out;
    out.core = r.core;
    out.threshold = r.threshold;
    out.thresholdHigh = r.thresholdHigh;
    out.soft = r.soft;
    const py::ssize_t n = static_cast<py::ssize_t>(r.blobs.size());
    for (const py::handle h : indices) {
        py::ssize_t i = h.cast<py::ssize_t>();
        if (i < 0) i += n;
        if (i < 0 || i >= n) throw py::index_error("blob index out of range");
        out.blobs.push_back(r.blobs[i]);
    }
    return out;
}

// The library's own filters and sort on the shared result set, for the
// command line's --filter and --sort: (code, low, high, outside) tuples,
// applied in one call (ranges of one measure are alternatives), then the
// sort (code 0: none; direction 1 ascending, 0 descending), with box and
// median measures read at `angleDeg` and `exclude` as in table(). The new
// Result holds the blobs of `r` in the result set's new view order.
Result applyLibraryView(const Result &r, const py::list &filters, int32_t sortMeasure, int32_t sortDirection,
                        double angleDeg, const py::object &exclude) {
    cblob_resultSet *rs = &r.core->rs;
    applyMeasureOptions(*r.core, measureOptions(angleDeg, exclude));
    if (!filters.empty()) {
        std::vector<cblob_filter> list;
        for (const py::handle f : filters) {
            const py::tuple t = f.cast<py::tuple>();
            list.push_back(cblob_filter{t[0].cast<int32_t>(), t[1].cast<double>(), t[2].cast<double>(),
                                        t[3].cast<bool>() ? 1 : 0});
        }
        struct Guard {
            cstd_vector_cblob_filter v{};
            ~Guard() { cstd_vector_cblob_filter_destruct(&v); }
        } g;
        check(cstd_vector_cblob_filter_constructEmpty(&g.v), "filters");
        check(cstd_vector_cblob_filter_assignElements(&g.v, list.data(), static_cast<int64_t>(list.size())),
              "filters");
        check(cblob_resultSet_setAndApplyFilters(rs, &g.v), "filter");
    }
    if (sortMeasure != 0) check(cblob_resultSet_sort(rs, sortMeasure, sortDirection), "sort");
    Result out;
    out.core = r.core;
    out.threshold = r.threshold;
    out.thresholdHigh = r.thresholdHigh;
    out.soft = r.soft;
    std::unordered_set<const cblob_blob *> members(r.blobs.begin(), r.blobs.end());
    for (int32_t i = 0; i < rs->numViewBlobs; ++i)
        if (members.count(rs->view[i])) out.blobs.push_back(rs->view[i]);
    return out;
}

py::list children(const Blob &b) {
    py::list out;
    for (cblob_blob *c = b.blob->firstChild; c; c = c->nextSibling) out.append(py::cast(Blob{b.core, c}));
    return out;
}

// The region adjacency of a labelled run's blob; null for other runs.
const cblob_blobAdjacency *adjacency(const Blob &b) {
    return static_cast<const cblob_blobAdjacency *>(b.blob->adjacencyHolder);
}

py::object neighbours(const Blob &b) {
    const cblob_blobAdjacency *adj = adjacency(b);
    if (!adj) return py::none();
    py::list out;
    for (int32_t i = 0; i < adj->numNeighbours; ++i) out.append(py::cast(Blob{b.core, adj->neighbours[i]}));
    return std::move(out);
}

py::object blobAttribute(Blob &b, const std::string &name) {
    const tool_measureName *m = findMeasure(name);
    if (!m) throw py::attribute_error("'cblob.Blob' object has no attribute '" + name + "'");
    return py::float_(readMeasure(*b.core, b.blob, m, MeasureOptions(), false));
}

}  // namespace

ResultCore::ResultCore() { check(cblob_resultSet_construct(&rs), "result set"); }

ResultCore::~ResultCore() { cblob_resultSet_destruct(&rs); }

const tool_measureName *findMeasure(const std::string &name) { return tool_findMeasure(name.c_str()); }

MeasureOptions measureOptions(double angleDeg, const py::object &exclude) {
    MeasureOptions o;
    if (!std::isfinite(angleDeg)) throw py::value_error("angle must be a finite number of degrees");
    o.angleRad = angleDeg * kPi / 180.0;
    if (exclude.is_none()) return o;
    o.useExclusion = true;
    if (py::isinstance<py::str>(exclude)) {
        std::string text = exclude.cast<std::string>();
        if (text.empty() || text.back() != '%')
            throw py::value_error("exclude must be a number of pixels or a percentage such as '5%'");
        text.pop_back();
        o.excludeMode = cblob_excludePercent;
        try {
            o.excludeValue = std::stod(text);
        } catch (...) {
            throw py::value_error("exclude '" + exclude.cast<std::string>() + "' is not a percentage");
        }
        if (!(o.excludeValue >= 0 && o.excludeValue < 50))
            throw py::value_error("an exclude percentage must lie in [0, 50)");
    } else {
        o.excludeValue = exclude.cast<double>();
        if (!(o.excludeValue >= 0)) throw py::value_error("exclude must be >= 0");
    }
    return o;
}

void applyMeasureOptions(ResultCore &core, const MeasureOptions &options) {
    check(cblob_resultSet_setExcludeExtrema(&core.rs, options.excludeMode, options.excludeValue, &options.angleRad),
          "exclude");
}

double readMeasure(ResultCore &core, cblob_blob *blob, const tool_measureName *m, const MeasureOptions &options,
                   bool missingAsNan) {
    applyMeasureOptions(core, options);
    return readMeasureAsSet(blob, m, options, missingAsNan);
}

double readMeasureAsSet(cblob_blob *blob, const tool_measureName *m, const MeasureOptions &options,
                        bool missingAsNan) {
    double value = 0.0;
    const int32_t status = cblob_blob_getMeasureAtAngle(blob, static_cast<cblob_measure>(m->code),
                                                        options.useExclusion ? 1 : 0, &value, &options.angleRad);
    if (CBLOB_FAILED(status)) {
        if (missingAsNan && isMissing(status)) return std::nan("");
        std::string context = std::string("measure ") + m->name + " of blob " + std::to_string(blob->label);
        if (status == cblob_err_rleImageEmpty) context += kRunsHint;
        raiseStatus(status, context);
    }
    return m->isAngle ? value * 180.0 / kPi : value;
}

void registerResult(py::module_ &m) {
    py::class_<Blob>(m, "Blob",
                     "One blob (an object or a hole) of a Result. Every measure is an attribute by its name "
                     "(cblob.measure_names()); angles are in degrees.")
        .def_property_readonly("label", [](const Blob &b) { return b.blob->label; })
        .def_property_readonly("is_object", [](const Blob &b) { return b.blob->colour != 0; })
        .def_property_readonly("colour", [](const Blob &b) { return static_cast<int>(b.blob->colour); })
        .def_property_readonly("num_children", [](const Blob &b) { return b.blob->numChildren; })
        .def_property_readonly("parent", [](const Blob &b) { return blobOrNone(b.core, b.blob->parent); },
                               "The enclosing blob of the other colour, or None for a top-level blob.")
        .def_property_readonly("children", &children, "The blobs directly inside this one.")
        .def_property_readonly("neighbours", &neighbours,
                               "Of a labelled run (analyze(labelled=True)): the blobs this region touches, by "
                               "ascending label; None for other runs.")
        .def_property_readonly(
            "touches_border",
            [](const Blob &b) -> py::object {
                const cblob_blobAdjacency *adj = adjacency(b);
                return adj ? py::object(py::bool_(adj->touchesBorder != 0)) : py::none();
            },
            "Of a labelled run: True when the region reaches the image border; None for other runs.")
        .def_property_readonly("box",
                               [](const Blob &b) {
                                   return py::make_tuple(b.blob->boxLeft, b.blob->boxTop, b.blob->boxWidth,
                                                         b.blob->boxHeight);
                               },
                               "The bounding box (left, top, width, height) in pixels.")
        .def(
            "measure",
            [](Blob &b, const std::string &name, double angle, const py::object &exclude) {
                const tool_measureName *meas = findMeasure(name);
                if (!meas) throw py::key_error("unknown measure '" + name + "'");
                return readMeasure(*b.core, b.blob, meas, measureOptions(angle, exclude), false);
            },
            py::arg("name"), py::arg("angle") = 0.0, py::arg("exclude") = py::none(),
            "A measure by name: the angle_box_* and median_* measures at `angle` degrees; `exclude` trims that "
            "much mass (pixels, or a percentage string such as '5%') from each extreme of the box and median "
            "measures.")
        .def("runs", &blobRuns, "The blob's runs as an (n, 3) int32 array of (y, x, length) in image coordinates.")
        .def("image", &blobImage, "The blob's pixels in its bounding box (a bool array of the box's shape).")
        .def("contour", &blobContour,
             "The outer boundary as an (n, 2) int32 array of the pixel corners (x, y) where it turns: pixel (x, y) "
             "has the corners (x, y) to (x + 1, y + 1); clockwise on the screen (y down), from the top-left corner "
             "of the blob's top row. A hole's outline is the contour of the hole blob (a child). Needs "
             "keep_runs=True.")
        .def("chain_code", &blobChainCode,
             "The outer boundary as ((x, y), steps): its first pixel corner and a uint8 array of unit steps, "
             "0 +x, 1 -x, 2 +y (down), 3 -y (up), one per boundary edge. Needs keep_runs=True.")
        .def("__getattr__", &blobAttribute)
        .def("__eq__",
             [](const Blob &a, const py::object &other) {
                 if (!py::isinstance<Blob>(other)) return false;
                 return a.blob == other.cast<const Blob &>().blob;
             })
        .def("__hash__", [](const Blob &b) { return std::hash<const void *>()(b.blob); })
        .def("__repr__", &blobRepr);

    py::class_<Result>(m, "Result",
                       "The blobs of one analysis, in the order the analysis found them (or filtered and sorted). "
                       "len(), indexing and iteration give Blob objects; table() gives NumPy columns.")
        .def("__len__", [](const Result &r) { return r.blobs.size(); })
        .def("__getitem__",
             [](const Result &r, py::ssize_t i) {
                 const py::ssize_t n = static_cast<py::ssize_t>(r.blobs.size());
                 if (i < 0) i += n;
                 if (i < 0 || i >= n) throw py::index_error("blob index out of range");
                 return Blob{r.core, r.blobs[i]};
             })
        .def(
            "__iter__",
            [](const Result &r) {
                py::list out;
                for (cblob_blob *b : r.blobs) out.append(py::cast(Blob{r.core, b}));
                return py::iter(out);
            })
        .def("table", &table, py::arg("measures") = py::none(), py::arg("angle") = 0.0,
             py::arg("exclude") = py::none(),
             "A dict of NumPy columns, one per blob row: label and parent (0 for none) and every measure by its "
             "name, or only the names given. Measures the library cannot give for a blob are NaN (the boundary, box "
             "and median measures without keep_runs=True). angle and exclude as "
             "for Blob.measure.")
        .def("_subset", &subset, py::arg("indices"))
        .def("_library_view", &applyLibraryView, py::arg("filters"), py::arg("sort_measure"),
             py::arg("sort_direction"), py::arg("angle") = 0.0, py::arg("exclude") = py::none())
        .def_property_readonly("threshold", [](const Result &r) { return r.threshold; },
                               "The threshold the image was segmented at (the low one of a soft threshold).")
        .def_property_readonly(
            "threshold_high",
            [](const Result &r) -> py::object {
                if (!r.soft) return py::none();
                return py::int_(r.thresholdHigh);
            },
            "The high threshold of a soft threshold, else None.")
        .def_property_readonly("keeps_runs", [](const Result &r) { return r.core->keepRuns; })
        .def_property_readonly("timings",
                               [](const Result &r) {
                                   const double *t = r.core->rs.runTimings;
                                   py::dict d;
                                   d["segmentation"] = t[0];
                                   d["masked_segmentation"] = t[1];
                                   d["morphology"] = t[2];
                                   d["connectivity"] = t[3];
                                   return d;
                               },
                               "Phase times of the run in milliseconds.")
        .def("__repr__", [](const Result &r) {
            return "<cblob.Result " + std::to_string(r.blobs.size()) + " blobs, threshold " +
                   std::to_string(r.threshold) + (r.soft ? ".." + std::to_string(r.thresholdHigh) : "") + ">";
        });
}

}  // namespace cblob_py

// cblob.analyze: one run of the library on a NumPy array.
#include <cmath>

#include "cblob_py.hpp"

namespace cblob_py {

namespace {

// Library objects of one call, released whatever way the call ends.
struct RunObjects {
    cimg_image image;
    cimg_image mask;
    cblob_runParams params;
    cmath_xformPtrhConst calibration;
    RunObjects() {
        cimg_image8_construct(&image);
        cimg_image8_construct(&mask);
        cblob_runParams_construct(&params);
        cmath_xformPtrhConst_construct(&calibration);
    }
    ~RunObjects() {
        cmath_xformPtrhConst_destruct(&calibration);
        cblob_runParams_destruct(&params);
        cimg_image_destruct(&mask);
        cimg_image_destruct(&image);
    }
    RunObjects(const RunObjects &) = delete;
    RunObjects &operator=(const RunObjects &) = delete;
};

int32_t toInt(const py::handle &value, const char *what) {
    if (py::isinstance<py::float_>(value) || py::isinstance<py::bool_>(value) || !py::hasattr(value, "__index__"))
        throw py::type_error(std::string(what) + " must be an integer");
    const long long v = value.cast<long long>();
    if (v < INT32_MIN || v > INT32_MAX) throw py::value_error(std::string(what) + " is out of range");
    return static_cast<int32_t>(v);
}

float toPercent(const py::handle &value, const char *what) {
    if (py::isinstance<py::str>(value) || !PyNumber_Check(value.ptr()))
        throw py::type_error(std::string(what) + " values must be numbers");
    const double v = value.cast<double>();
    if (!std::isfinite(v)) throw py::value_error(std::string(what) + " must be a finite number");
    return static_cast<float>(v);
}

std::vector<py::object> items(const py::object &value, const char *what, size_t low, size_t high) {
    std::vector<py::object> out;
    if (py::isinstance<py::str>(value) || !py::isinstance<py::sequence>(value))
        throw py::type_error(std::string(what) + " must be a tuple");
    for (const py::handle h : value) out.push_back(py::reinterpret_borrow<py::object>(h));
    if (out.size() < low || out.size() > high)
        throw py::value_error(std::string(what) + " needs " + std::to_string(low) +
                              (low == high ? "" : " or " + std::to_string(high)) + " values");
    return out;
}

// One of threshold, soft and percent (default: percent (1, 1, 50), the
// command line's default). The library checks the values.
void setSegmentation(cblob_runParams *p, const py::object &threshold, const py::object &soft,
                     const py::object &percent, bool invert) {
    const int given = !threshold.is_none() + !soft.is_none() + !percent.is_none();
    if (given > 1) throw py::value_error("give only one of threshold, soft and percent");
    const int32_t inv = invert ? 1 : 0;
    if (!threshold.is_none()) {
        check(cblob_runParams_setSegmentationHardThresh(p, toInt(threshold, "threshold"), inv), "threshold");
    } else if (!soft.is_none()) {
        const std::vector<py::object> v = items(soft, "soft (low, high[, softness])", 2, 3);
        const int32_t low = toInt(v[0], "soft low"), high = toInt(v[1], "soft high");
        if (v.size() == 3)
            check(cblob_runParams_setSegmentationSoftThreshWithSoftness(p, low, high, toInt(v[2], "softness"), inv),
                  "soft");
        else
            check(cblob_runParams_setSegmentationSoftThresh(p, low, high, inv), "soft");
    } else {
        float tails[3] = {1.0f, 1.0f, 50.0f};
        if (!percent.is_none()) {
            const std::vector<py::object> v = items(percent, "percent (low_tail, high_tail, percent)", 3, 3);
            for (int i = 0; i < 3; ++i) tails[i] = toPercent(v[i], "percent");
        }
        check(cblob_runParams_setSegmentationHardThreshPercent(p, tails[0], tails[1], tails[2], inv), "percent");
    }
}

void setRegions(cblob_runParams *p, const py::object &minArea, const std::string &cleanup) {
    const int32_t area = toInt(minArea, "min_area");
    if (area < 0) throw py::value_error("min_area must be >= 0");
    int32_t mode;
    if (cleanup == "prune")
        mode = cblob_connectivityCleanupPrune;
    else if (cleanup == "fill")
        mode = cblob_connectivityCleanupFill;
    else if (cleanup == "none")
        mode = cblob_connectivityCleanupNone;
    else
        throw py::value_error("cleanup must be 'prune', 'fill' or 'none', not '" + cleanup + "'");
    p->minArea = area;
    p->connectivityCleanup = area > 0 ? mode : cblob_connectivityCleanupNone;
}

// The client-from-image transform of `calibration`: a pixel size s (x and y
// scaled by s), a pair (sx, sy), a 2x3 affine matrix or a 3x3 homography.
// The run measures in pixels; analyze() then moves the result set into the
// client frame, as the cblob tool's --calibration does, so that both give
// the same numbers.
void setCalibration(RunObjects &o, const py::object &calibration) {
    if (calibration.is_none()) return;
    double h[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    if (py::isinstance<py::float_>(calibration) || py::isinstance<py::int_>(calibration)) {
        h[0] = h[4] = calibration.cast<double>();
    } else {
        const py::array_t<double, py::array::c_style | py::array::forcecast> m =
            py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(calibration);
        if (!m) throw py::type_error("calibration must be a number, a pair or a 2x3 / 3x3 matrix");
        if (m.ndim() == 1 && m.shape(0) == 2) {
            h[0] = m.at(0);
            h[4] = m.at(1);
        } else if (m.ndim() == 2 && (m.shape(0) == 2 || m.shape(0) == 3) && m.shape(1) == 3) {
            for (py::ssize_t i = 0; i < m.shape(0) * 3; ++i) h[i] = m.data()[i];
        } else {
            throw py::value_error("calibration must be a number, a pair (sx, sy), or a 2x3 or 3x3 matrix");
        }
    }
    for (double v : h)
        if (!std::isfinite(v)) throw py::value_error("calibration must be finite");
    cmath_xformPtrhConst handle;
    check(cmath_xformPtrhConst_constructPerspective(&handle, h), "calibration");
    cmath_xformPtrhConst_assign(&o.calibration, &handle);
    cmath_xformPtrhConst_destruct(&handle);
}

Result analyze(const py::object &image, const py::object &threshold, const py::object &soft,
               const py::object &percent, bool invert, const py::object &mask, const py::object &minArea,
               const std::string &cleanup, bool holes, const py::object &calibration, bool keepRuns,
               const py::object &cancel, const py::list &morphOps, bool labelled) {
    RunObjects o;
    const py::object pixels = image;  // keeps the array alive across the run
    const int32_t bits = bindArray(pixels, "image", false, &o.image);
    const bool masked = !mask.is_none();
    if (masked) {
        bindArray(mask, "mask", true, &o.mask);
        if (o.mask.width != o.image.width || o.mask.height != o.image.height)
            throw py::value_error("mask shape (" + std::to_string(o.mask.height) + ", " +
                                  std::to_string(o.mask.width) + ") differs from the image's (" +
                                  std::to_string(o.image.height) + ", " + std::to_string(o.image.width) + ")");
    }
    if (labelled) {
        // Every pixel value is a region: no segmentation, regions of equal
        // value joined, each with its neighbours.
        if (!threshold.is_none() || !soft.is_none() || !percent.is_none() || invert)
            throw py::value_error("labelled=True takes no threshold, soft, percent or invert");
        if (bits != 8) throw py::value_error("labelled=True needs a uint8 image (one value per region)");
        check(cblob_runParams_setSegmentationNone(&o.params, 1), "labelled");
        o.params.connectivityType = cblob_connectivityLabelled;
    } else {
        setSegmentation(&o.params, threshold, soft, percent, invert);
    }
    setRegions(&o.params, minArea, cleanup);
    setCalibration(o, calibration);
    o.params.keepBlobImages = keepRuns ? 1 : 0;
    // The cblob_morph_* codes, checked by the Python side; the library
    // checks them again when it runs.
    for (const py::handle h : morphOps) {
        const int32_t op = h.cast<int32_t>();
        check(cstd_vector_cblob_morphOp_pushBack(&o.params.morphOps, &op), "morphology");
    }

    auto core = std::make_shared<ResultCore>();
    core->keepRuns = keepRuns;
    core->hasMask = masked;
    CancelScope scope(cancel);
    int32_t status;
    {
        py::gil_scoped_release release;
        scope.enter();
        status = bits == 8 ? cblob_run8(&o.image, masked ? &o.mask : nullptr, &o.params, &core->rs)
                           : cblob_run16(&o.image, masked ? &o.mask : nullptr, &o.params, &core->rs);
        if (!CBLOB_FAILED(status) && !calibration.is_none())
            status = cblob_resultSet_setClientFromImageXform(&core->rs, &o.calibration);
        scope.leave();
    }
    scope.raiseCallbackError();
    check(status, "analyze");

    Result r;
    r.core = core;
    // A percentage run has written the thresholds it computed into the parameters.
    if (!labelled) check(cblob_runParams_getThresh(&o.params, &r.threshold), "threshold");
    r.soft = o.params.segmentationType == cblob_segmentationSoftThresh;
    if (r.soft) check(cblob_runParams_getHighThresh(&o.params, &r.thresholdHigh), "threshold");
    r.blobs.reserve(static_cast<size_t>(core->rs.numViewBlobs));
    for (int32_t i = 0; i < core->rs.numViewBlobs; ++i)
        if (holes || core->rs.view[i]->colour) r.blobs.push_back(core->rs.view[i]);
    return r;
}

}  // namespace

void registerAnalyze(py::module_ &m) {
    m.def("_analyze", &analyze, py::arg("image"), py::arg("threshold"), py::arg("soft"), py::arg("percent"),
          py::arg("invert"), py::arg("mask"), py::arg("min_area"), py::arg("cleanup"), py::arg("holes"),
          py::arg("calibration"), py::arg("keep_runs"),
          py::arg("cancel"), py::arg("morph_ops"), py::arg("labelled"));
}

}  // namespace cblob_py

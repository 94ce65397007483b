// --calibration, --filter, --sort and --top of the cblob command.
#include "view_options.hpp"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "measure_names.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

bool parseDouble(const std::string &text, double *value) {
    char *end = nullptr;
    errno = 0;
    *value = std::strtod(text.c_str(), &end);
    return !text.empty() && errno == 0 && *end == '\0' && std::isfinite(*value);
}

std::vector<std::string> split(const std::string &text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) return parts;
        start = at + 1;
    }
}

const tool_measureName *measureNamed(const std::string &name, std::string *error) {
    const tool_measureName *m = tool_findMeasure(name.c_str());
    if (!m) *error = "unknown measure '" + name + "' (cblob measures lists them)";
    return m;
}

// [!]MEASURE:LOW:HIGH; an empty bound is open.
void parseFilter(const std::string &text, ViewOptions *v, std::string *error) {
    const bool exclude = !text.empty() && text[0] == '!';
    const std::vector<std::string> parts = split(exclude ? text.substr(1) : text, ':');
    if (parts.size() != 3) {
        *error = "--filter needs [!]MEASURE:LOW:HIGH, not '" + text + "'";
        return;
    }
    const tool_measureName *m = measureNamed(parts[0], error);
    if (!m) return;
    double bounds[2] = {-std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity()};
    for (int k = 0; k < 2; ++k) {
        if (!parts[k + 1].empty() && !parseDouble(parts[k + 1], &bounds[k])) {
            *error = "--filter bound '" + parts[k + 1] + "' is not a number";
            return;
        }
    }
    if (bounds[0] > bounds[1]) {
        *error = "--filter " + text + ": LOW is above HIGH";
        return;
    }
    const double unit = m->isAngle ? kPi / 180.0 : 1.0;  // angles are given in degrees
    v->filters.push_back(cblob_filter{m->code, bounds[0] * unit, bounds[1] * unit, exclude ? 1 : 0});
    v->filterNames.push_back(m->name);
}

// MEASURE[:asc|:desc]
void parseSort(const std::string &text, ViewOptions *v, std::string *error) {
    const std::vector<std::string> parts = split(text, ':');
    if (parts.size() > 2 || (parts.size() == 2 && parts[1] != "asc" && parts[1] != "desc")) {
        *error = "--sort needs MEASURE[:asc|:desc], not '" + text + "'";
        return;
    }
    const tool_measureName *m = measureNamed(parts[0], error);
    if (!m) return;
    v->sortMeasure = m->code;
    v->sortDirection = parts.size() == 2 && parts[1] == "desc" ? 0 : 1;
}

// SCALE[,ANGLE_DEG,OFFSET_X,OFFSET_Y]
void parseCalibration(const std::string &text, ViewOptions *v, std::string *error) {
    const std::vector<std::string> parts = split(text, ',');
    double values[4] = {1.0, 0.0, 0.0, 0.0};
    bool ok = parts.size() == 1 || parts.size() == 4;
    for (size_t k = 0; ok && k < parts.size(); ++k) ok = parseDouble(parts[k], &values[k]);
    if (!ok || values[0] <= 0) {
        *error = "--calibration needs SCALE[,ANGLE_DEG,OFFSET_X,OFFSET_Y] with SCALE > 0, not '" + text + "'";
        return;
    }
    v->calibrated = true;
    v->scale = values[0];
    v->angleDeg = values[1];
    v->offsetX = values[2];
    v->offsetY = values[3];
}

void parseTop(const std::string &text, ViewOptions *v, std::string *error) {
    char *end = nullptr;
    errno = 0;
    const long n = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end || errno || n < 0) {
        *error = "--top needs a count N >= 0, not '" + text + "'";
        return;
    }
    v->top = n;
}

std::string number(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

}  // namespace

bool ViewOptions::needsBlobRuns(bool withMask) const {
    auto needs = [&](int32_t code) {
        return code >= cblob_measureMedianX || (code == cblob_measureIsInterior && withMask) ||
               code == cblob_measureBoundaryStepCount || code == cblob_measurePerimeter ||
               code == cblob_measureCompactness || code == cblob_measureAcircularity;
    };
    for (const cblob_filter &f : filters)
        if (needs(f.measure)) return true;
    return needs(sortMeasure);
}

bool parseViewOption(int argc, char **argv, int *i, ViewOptions *v, std::string *error) {
    const std::string arg = argv[*i];
    void (*parse)(const std::string &, ViewOptions *, std::string *) = nullptr;
    if (arg == "--filter") parse = parseFilter;
    if (arg == "--sort") parse = parseSort;
    if (arg == "--calibration") parse = parseCalibration;
    if (arg == "--top") parse = parseTop;
    if (!parse) return false;
    if (*i + 1 >= argc) {
        *error = arg + " needs 1 value";
        return true;
    }
    parse(argv[++*i], v, error);
    return true;
}

int32_t applyViewOptions(cblob_resultSet *rs, const ViewOptions &v, std::string *what) {
    int32_t status = 0;
    if (v.calibrated) {
        const double a = v.angleDeg * kPi / 180.0;
        const double c = v.scale * std::cos(a), s = v.scale * std::sin(a);
        const cmath_xformLinear calibration{{c, -s, s, c}, v.offsetX, v.offsetY};
        *what = "--calibration";
        status = cblob_resultSet_setClientFromImageXformLinear(rs, &calibration);
        if (CBLOB_FAILED(status)) return status;
    }
    if (!v.filters.empty()) {
        // One call: the ranges of one measure are alternatives.
        *what = "--filter";
        for (const std::string &name : v.filterNames) *what += (*what == "--filter" ? " " : ",") + name;
        cstd_vector_cblob_filter filters;
        status = cstd_vector_cblob_filter_constructEmpty(&filters);
        if (CBLOB_FAILED(status)) return status;
        status = cstd_vector_cblob_filter_assignElements(&filters, v.filters.data(),
                                                         static_cast<int64_t>(v.filters.size()));
        if (!CBLOB_FAILED(status)) status = cblob_resultSet_setAndApplyFilters(rs, &filters);
        cstd_vector_cblob_filter_destruct(&filters);
        if (CBLOB_FAILED(status)) return status;
    }
    if (v.sortMeasure != 0) {
        *what = "--sort";
        status = cblob_resultSet_sort(rs, v.sortMeasure, v.sortDirection);
    }
    return status;
}

std::string clientUnitsLine(const ViewOptions &v) {
    if (!v.calibrated) return "";
    return "client units: 1 pixel = " + number(v.scale) + " units, rotated " + number(v.angleDeg) +
           " deg, offset (" + number(v.offsetX) + ", " + number(v.offsetY) +
           "); area, centre, angle and measures in client units; left, top, width, height and box_* in pixels";
}

std::string clientField(const ViewOptions &v, const char *name) {
    return v.calibrated ? std::string("client_") + name : std::string(name);
}

void toImageFrame(const ViewOptions &v, double *cx, double *cy, double *angle, double *area, double *inertiaMax) {
    if (!v.calibrated) return;
    const double a = v.angleDeg * kPi / 180.0;
    const double dx = (*cx - v.offsetX) / v.scale, dy = (*cy - v.offsetY) / v.scale;
    *cx = std::cos(a) * dx + std::sin(a) * dy;
    *cy = -std::sin(a) * dx + std::cos(a) * dy;
    *angle -= a;
    const double s2 = v.scale * v.scale;
    *area /= s2;
    *inertiaMax /= s2 * s2;
}

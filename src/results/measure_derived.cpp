// The derived measures: sums, ratios, box centres and compactness, formed
// from other measures through the dispatcher at the same angle and with the
// same exclusion flag, one table row each.
#include <cmath>
#include <cstdint>

#include "core/frame.hpp"
#include "results/measure_internal.hpp"

namespace cblob::results {
namespace {

enum class Formula { sum, ratio, centerX, centerY, compactness };

// sum: m[0] + m[1]; ratio: m[0] / m[1]; centres: m = {u min, width, v min,
// height} of the angle box (principal false) or the principal box;
// compactness: m[0] is the perimeter.
struct DerivedEntry {
    int32_t code;
    Formula formula;
    int32_t m[4];
    bool principal;
};

constexpr DerivedEntry kDerived[] = {
    {14, Formula::compactness, {4, 0, 0, 0}, false},
    {28, Formula::centerX, {30, 34, 32, 35}, false},
    {29, Formula::centerY, {30, 34, 32, 35}, false},
    {31, Formula::sum, {30, 34, 0, 0}, false},
    {33, Formula::sum, {32, 35, 0, 0}, false},
    {36, Formula::ratio, {35, 34, 0, 0}, false},
    {39, Formula::centerX, {41, 45, 43, 46}, true},
    {40, Formula::centerY, {41, 45, 43, 46}, true},
    {42, Formula::sum, {41, 45, 0, 0}, false},
    {44, Formula::sum, {43, 46, 0, 0}, false},
    {47, Formula::ratio, {46, 45, 0, 0}, false},
};

constexpr double kFourPi = 12.566370614359172;

const DerivedEntry *derivedEntry(int32_t code) {
    for (const DerivedEntry &e : kDerived) {
        if (e.code == code) return &e;
    }
    return nullptr;
}

// The centre of a box: the centre of mass plus the box middle along u and v
// at the box's angle. The angle box reads the centre of mass as measures 6
// and 7 (refused without moments); the principal box from the record.
int32_t boxCenter(cblob_blob *blob, const DerivedEntry &e, int32_t useExclusion, const double *angle,
                  double *value) {
    cblob::Frame<0> f;
    const bool x = e.formula == Formula::centerX;
    double com = x ? blob->centerOfMassX : blob->centerOfMassY;
    if (!e.principal) CBLOB_FRAME_TRY(f, dispatchMeasure(blob, x ? 6 : 7, useExclusion, angle, &com));
    double m[4];
    for (int32_t i = 0; i < 4; ++i) CBLOB_FRAME_TRY(f, dispatchMeasure(blob, e.m[i], useExclusion, angle, &m[i]));
    const double a = e.principal ? blob->angle : angleInUse(blob->owner->postProcessing, angle);
    const double u = m[0] + m[1] / 2, v = m[2] + m[3] / 2;
    *value = x ? com + u * std::cos(a) - v * std::sin(a) : com + u * std::sin(a) + v * std::cos(a);
    return f.exit();
}

int32_t compactness(cblob_blob *blob, const DerivedEntry &e, int32_t useExclusion, const double *angle,
                    double *value) {
    cblob::Frame<0> f;
    double perimeter = 0;
    CBLOB_FRAME_TRY(f, dispatchMeasure(blob, e.m[0], useExclusion, angle, &perimeter));
    CBLOB_FRAME_REQUIRE(f, perimeter > 0 && blob->area > 0);
    *value = perimeter * perimeter / (blob->area * kFourPi);
    return f.exit();
}

}  // namespace

int32_t derivedMeasure(cblob_blob *blob, int32_t code, int32_t useExclusion, const double *angle, double *value) {
    cblob::Frame<0> f;
    const DerivedEntry *e = derivedEntry(code);
    CBLOB_FRAME_REQUIRE(f, e);
    double a = 0, b = 0;
    switch (e->formula) {
        case Formula::sum:
        case Formula::ratio:
            CBLOB_FRAME_TRY(f, dispatchMeasure(blob, e->m[0], useExclusion, angle, &a));
            CBLOB_FRAME_TRY(f, dispatchMeasure(blob, e->m[1], useExclusion, angle, &b));
            *value = e->formula == Formula::sum ? a + b : a / b;
            break;
        case Formula::centerX:
        case Formula::centerY:
            CBLOB_FRAME_TRY(f, boxCenter(blob, *e, useExclusion, angle, value));
            break;
        case Formula::compactness:
            CBLOB_FRAME_TRY(f, compactness(blob, *e, useExclusion, angle, value));
            break;
    }
    return f.exit();
}

}  // namespace cblob::results

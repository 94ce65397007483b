// Client transforms set on a result set after its run: scaling with a
// translation, the identity, setting twice, agreement with a run whose image
// carries the transform (linear and perspective, from any previous frame),
// perspective areas against a fine numerical integration over each blob's
// pixels, the cache emptied, refusals, and a result set left as it was by
// every failing call under allocation faults.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "cblob/cblob.h"
#include "support/run_support.hpp"

namespace {

struct Xform {
    cmath_xformPtrhConst h;
    Xform() { EXPECT_EQ(cmath_xformPtrhConst_construct(&h), 0); }
    explicit Xform(const cmath_xformLinear &l) { EXPECT_EQ(cmath_xformPtrhConst_constructLinear(&h, &l), 0); }
    explicit Xform(const std::vector<double> &homography) {
        EXPECT_EQ(cmath_xformPtrhConst_constructPerspective(&h, homography.data()), 0);
    }
    ~Xform() { cmath_xformPtrhConst_destruct(&h); }
    Xform(const Xform &) = delete;
    Xform &operator=(const Xform &) = delete;
};

cmath_xformLinear linear(double m00, double m01, double m10, double m11, double tx, double ty) {
    return cmath_xformLinear{{m00, m01, m10, m11}, tx, ty};
}

// A mild perspective that scales by about 1.5 x 1.2 over the image.
const std::vector<double> kPerspective = {1.5, 0.1, 4.0, -0.05, 1.2, -3.0, 2e-4, 1e-4, 1.0};
const std::vector<double> kOtherPerspective = {0.9, -0.2, 1.0, 0.15, 1.1, 2.0, -1e-4, 3e-4, 1.0};

struct Scene {
    runtest::GreyImage image;
    Scene() : image(60, 40, 8, values(), 2, 3) {}
    static std::vector<uint16_t> values() {
        std::mt19937 rng(5);
        return runtest::randomValues(rng, 60, 40, 8, 0.45, 3);
    }
    // A run of the scene, its image carrying `xform` (null: none).
    int32_t run(cblob_resultSet *rs, const cmath_xformPtrhConst *xform = nullptr) {
        runtest::Params params;
        int32_t status = cblob_runParams_setSegmentationHardThresh(&params.p, 128, 0);
        params.p.keepBlobImages = 1;
        Xform none;
        if (!CBLOB_FAILED(status)) status = cimg_image_setClientFromImageXform(image.mutableImage(), xform ? xform : &none.h);
        if (!CBLOB_FAILED(status)) status = cblob_run8(image.image(), nullptr, &params.p, rs);
        return status;
    }
};

// Every field a transform change may touch, and the blob's own transform.
std::vector<double> fieldsOf(const cblob_blob *b) {
    const cmath_xformLinear &x = *b->clientFromImage;
    return {b->area,       b->centerOfMassX, b->centerOfMassY, b->inertiaX,   b->inertiaY,   b->inertiaMin,
            b->inertiaMax, b->elongation,    b->angle,         x.matrix.m00, x.matrix.m01, x.matrix.m10,
            x.matrix.m11,  x.tx,             x.ty,             1.0 * b->boxLeft, 1.0 * b->boxTop,
            1.0 * b->boxWidth, 1.0 * b->boxHeight};
}

std::vector<std::vector<double>> allFields(const cblob_resultSet &rs) {
    std::vector<std::vector<double>> out;
    for (int32_t i = 0; i < rs.numBlobs; ++i) out.push_back(fieldsOf(rs.allBlobs[i]));
    return out;
}

// Two result sets' fields agree to rounding (angles modulo pi, which
// separates only nearly round blobs' equivalent axes).
void expectSameFields(const cblob_resultSet &a, const cblob_resultSet &b, double tolerance = 1e-9) {
    ASSERT_EQ(a.numBlobs, b.numBlobs);
    for (int32_t i = 0; i < a.numBlobs; ++i) {
        const std::vector<double> fa = fieldsOf(a.allBlobs[i]), fb = fieldsOf(b.allBlobs[i]);
        for (size_t k = 0; k < fa.size(); ++k) {
            const double scale = std::max({1.0, std::fabs(fa[k]), std::fabs(fb[k])});
            double d = fa[k] - fb[k];
            if (k == 8 && a.allBlobs[i]->elongation < 1.0001) continue;  // no defined axis
            if (k == 8) d = std::remainder(d, 3.14159265358979323846);
            EXPECT_NEAR(d / scale, 0.0, tolerance) << "blob " << a.allBlobs[i]->label << " field " << k;
        }
    }
}

// The whole observable transform state: fields, the handle, the cache bits.
struct State {
    std::vector<std::vector<double>> fields;
    std::vector<double> handle;
    std::vector<uint32_t> validBits;
    bool shared = false;
    bool operator==(const State &o) const {
        return fields == o.fields && handle == o.handle && validBits == o.validBits && shared == o.shared;
    }
};

State stateOf(const cblob_resultSet &rs) {
    State s;
    s.fields = allFields(rs);
    Xform h;
    EXPECT_EQ(cblob_resultSet_getClientFromImageXform(&rs, &h.h), 0);
    s.handle.assign(9, 0.0);
    EXPECT_EQ(cmath_xformPtrhConst_getHomography(&h.h, s.handle.data()), 0);
    const auto *bits = static_cast<const uint32_t *>(rs.postProcessing->validBits.untyped.begin);
    s.validBits.assign(bits, bits + rs.postProcessing->validBits.untyped.size);
    s.shared = rs.numBlobs > 0 && rs.allBlobs[0]->clientFromImage == &rs.sharedLinearXform;
    return s;
}

int32_t precompute(cblob_resultSet *rs) {
    cstd_vector_cblob_measure codes;
    int32_t status = cstd_vector_cblob_measure_constructEmpty(&codes);
    if (CBLOB_FAILED(status)) return status;
    const cblob_measure list[] = {cblob_measureAngleBoxWidth, cblob_measurePrincipalBoxWidth};
    status = cstd_vector_cblob_measure_assignElements(&codes, list, 2);
    if (!CBLOB_FAILED(status)) status = cblob_resultSet_precomputeMeasures(rs, &codes);
    cstd_vector_cblob_measure_destruct(&codes);
    return status;
}

bool cacheEmpty(const cblob_resultSet &rs) {
    for (uint32_t w : stateOf(rs).validBits)
        if (w) return false;
    return true;
}

TEST(ClientXform, ScaleByTwoWithTranslation) {
    Scene scene;
    runtest::Results r;
    ASSERT_EQ(scene.run(&r.rs), 0);
    ASSERT_GT(r.rs.numBlobs, 10);
    ASSERT_EQ(precompute(&r.rs), 0);
    std::vector<double> widths;
    for (int32_t i = 0; i < r.rs.numBlobs; ++i) {
        double w = 0;
        ASSERT_EQ(cblob_blob_getMeasure(r.rs.allBlobs[i], cblob_measureAngleBoxWidth, 0, &w), 0);
        widths.push_back(w);
    }
    const auto before = allFields(r.rs);
    const cmath_xformLinear t = linear(2, 0, 0, 2, 7.5, -3.25);
    ASSERT_EQ(cblob_resultSet_setClientFromImageXformLinear(&r.rs, &t), 0);
    EXPECT_TRUE(cacheEmpty(r.rs));
    for (int32_t i = 0; i < r.rs.numBlobs; ++i) {
        const cblob_blob *b = r.rs.allBlobs[i];
        const std::vector<double> &o = before[static_cast<size_t>(i)];
        EXPECT_DOUBLE_EQ(b->area, 4 * o[0]);
        EXPECT_NEAR(b->centerOfMassX, 2 * o[1] + 7.5, 1e-9);
        EXPECT_NEAR(b->centerOfMassY, 2 * o[2] - 3.25, 1e-9);
        for (int k = 3; k <= 6; ++k) EXPECT_NEAR(fieldsOf(b)[k], 16 * o[k], 1e-9 * (1 + 16 * o[k]));
        EXPECT_NEAR(b->elongation, o[7], 1e-9 * o[7]);
        if (o[7] > 1.0001) {
            EXPECT_NEAR(std::remainder(b->angle - o[8], 3.14159265358979323846), 0.0, 1e-9);
        }
        const std::vector<double> now = fieldsOf(b);
        EXPECT_EQ(std::vector<double>(now.begin() + 15, now.end()),
                  std::vector<double>(o.begin() + 15, o.end()));  // boxes stay in pixels
        EXPECT_EQ(b->clientFromImage, &r.rs.sharedLinearXform);
        // The cache is computed again in the new frame.
        double w = 0;
        ASSERT_EQ(cblob_blob_getMeasure(r.rs.allBlobs[i], cblob_measureAngleBoxWidth, 0, &w), 0);
        EXPECT_NEAR(w, 2 * widths[static_cast<size_t>(i)], 1e-9);
    }
    cmath_xformLinear got{};
    ASSERT_EQ(cblob_resultSet_getClientFromImageXformLinear(&r.rs, &got), 0);
    EXPECT_TRUE(got.matrix.m00 == 2 && got.matrix.m11 == 2 && got.tx == 7.5 && got.ty == -3.25 && got.matrix.m01 == 0);
}

TEST(ClientXform, IdentityAndRepeatsLeaveFieldsAlone) {
    Scene scene;
    runtest::Results original, r;
    ASSERT_EQ(scene.run(&original.rs), 0);
    ASSERT_EQ(scene.run(&r.rs), 0);
    ASSERT_EQ(precompute(&r.rs), 0);
    const cmath_xformLinear identity = linear(1, 0, 0, 1, 0, 0);
    ASSERT_EQ(cblob_resultSet_setClientFromImageXformLinear(&r.rs, &identity), 0);
    expectSameFields(r.rs, original.rs);
    EXPECT_TRUE(cacheEmpty(r.rs));
    // Setting a transform twice equals setting it once; going back gives
    // the first frame again, also through a perspective.
    runtest::Results once;
    ASSERT_EQ(scene.run(&once.rs), 0);
    const cmath_xformLinear t = linear(0.8, -0.6, 0.7, 0.9, 3, 4);
    Xform p(kPerspective), null;
    ASSERT_EQ(cblob_resultSet_setClientFromImageXformLinear(&once.rs, &t), 0);
    for (int i = 0; i < 2; ++i) ASSERT_EQ(cblob_resultSet_setClientFromImageXformLinear(&r.rs, &t), 0);
    expectSameFields(r.rs, once.rs);
    for (int i = 0; i < 2; ++i) ASSERT_EQ(cblob_resultSet_setClientFromImageXform(&r.rs, &p.h), 0);
    ASSERT_EQ(cblob_resultSet_setClientFromImageXform(&r.rs, &null.h), 0);
    expectSameFields(r.rs, original.rs);
    EXPECT_EQ(r.rs.xformBlocks, nullptr);
}

TEST(ClientXform, SameAsARunWhoseImageCarriesTheTransform) {
    Scene scene;
    Xform none, lin(linear(0.5, 0.2, -0.1, 0.4, 10, 20)), persp(kPerspective), other(kOtherPerspective);
    const Xform *frames[] = {&none, &lin, &persp, &other};
    for (const Xform *from : frames) {
        for (const Xform *to : frames) {
            SCOPED_TRACE(std::to_string(from - frames[0]) + " -> " + std::to_string(to - frames[0]));
            runtest::Results direct, changed;
            ASSERT_EQ(scene.run(&direct.rs, &to->h), 0);
            ASSERT_EQ(scene.run(&changed.rs, &from->h), 0);
            ASSERT_EQ(cblob_resultSet_setClientFromImageXform(&changed.rs, &to->h), 0);
            expectSameFields(changed.rs, direct.rs);
            const State s = stateOf(changed.rs);
            EXPECT_EQ(s.handle, stateOf(direct.rs).handle);
            EXPECT_EQ(s.shared, stateOf(direct.rs).shared);
        }
    }
}

// The Jacobian determinant of the homography at (x, y), by central
// differences of the point map.
double jacobianDeterminant(const std::vector<double> &h, double x, double y) {
    auto map = [&](double px, double py, double *ox, double *oy) {
        const double w = h[6] * px + h[7] * py + h[8];
        *ox = (h[0] * px + h[1] * py + h[2]) / w;
        *oy = (h[3] * px + h[4] * py + h[5]) / w;
    };
    const double e = 1e-4;
    double x1, y1, x2, y2, x3, y3, x4, y4;
    map(x + e, y, &x1, &y1);
    map(x - e, y, &x2, &y2);
    map(x, y + e, &x3, &y3);
    map(x, y - e, &x4, &y4);
    return ((x1 - x2) * (y3 - y4) - (x3 - x4) * (y1 - y2)) / (4 * e * e);
}

TEST(ClientXform, PerspectiveAreasAgreeWithIntegrationOverThePixels) {
    Scene scene;
    runtest::Results r;
    ASSERT_EQ(scene.run(&r.rs), 0);
    Xform p(kPerspective);
    ASSERT_EQ(cblob_resultSet_setClientFromImageXform(&r.rs, &p.h), 0);
    int32_t isLinear = 1;
    Xform got;
    ASSERT_EQ(cblob_resultSet_getClientFromImageXform(&r.rs, &got.h), 0);
    ASSERT_EQ(cmath_xformPtrhConst_getIsLinear(&got.h, &isLinear), 0);
    EXPECT_EQ(isLinear, 0);
    cmath_xformLinear l{};
    EXPECT_EQ(cblob_resultSet_getClientFromImageXformLinear(&r.rs, &l), cblob_err_xformNotLinear);
    const int n = 6;  // samples per pixel side
    double worst = 0;
    for (int32_t i = 0; i < r.rs.numBlobs; ++i) {
        cblob_blob *b = r.rs.allBlobs[i];
        cimg_image out;
        ASSERT_EQ(cimg_image_constructUnbound(&out, 8), 0);
        ASSERT_EQ(cblob_blob_getBlobImage(b, &out), 0);
        double integral = 0, pixels = 0;
        for (int32_t y = 0; y < b->boxHeight; ++y) {
            for (int32_t x = 0; x < b->boxWidth; ++x) {
                uint8_t *pel = nullptr;
                ASSERT_EQ(cimg_image_pointToPel_internal(&out, b->boxLeft + x, b->boxTop + y, &pel), 0);
                if (!*pel) continue;
                pixels += 1;
                for (int sy = 0; sy < n; ++sy)
                    for (int sx = 0; sx < n; ++sx)
                        integral += std::fabs(jacobianDeterminant(kPerspective, b->boxLeft + x + (sx + 0.5) / n,
                                                                  b->boxTop + y + (sy + 0.5) / n)) / (n * n);
            }
        }
        cimg_image_destruct(&out);
        // The area is far from the pixel count, and close to the integral.
        EXPECT_GT(std::fabs(b->area - pixels), 0.5 * pixels);
        EXPECT_NEAR(b->area, integral, 1e-3 * integral) << "blob " << b->label;
        worst = std::max(worst, std::fabs(b->area - integral) / integral);
        // The blob's own transform is the local one at its centre of mass.
        ASSERT_NE(b->clientFromImage, &r.rs.sharedLinearXform);
        double ix = 0, iy = 0, cx = 0, cy = 0;
        ASSERT_EQ(cmath_xformLinear_invMapPoint(b->clientFromImage, b->centerOfMassX, b->centerOfMassY, &ix, &iy), 0);
        ASSERT_EQ(cmath_xformPtrhConst_mapPoint(&p.h, ix, iy, &cx, &cy), 0);
        EXPECT_NEAR(cx, b->centerOfMassX, 1e-9);
        EXPECT_NEAR(cy, b->centerOfMassY, 1e-9);
    }
    EXPECT_GT(worst, 0.0);
}

TEST(ClientXform, RefusalsChangeNothing) {
    Scene scene;
    runtest::Results r;
    ASSERT_EQ(scene.run(&r.rs), 0);
    const cmath_xformLinear t = linear(1.5, 0, 0, 1.5, 1, 1);
    ASSERT_EQ(cblob_resultSet_setClientFromImageXformLinear(&r.rs, &t), 0);
    ASSERT_EQ(precompute(&r.rs), 0);
    const State before = stateOf(r.rs);
    const cmath_xformLinear singular = linear(1, 2, 2, 4, 0, 0);
    EXPECT_EQ(cblob_resultSet_setClientFromImageXformLinear(&r.rs, &singular), cmath_err_singularXform);
    Xform singularHandle(singular);
    EXPECT_EQ(cblob_resultSet_setClientFromImageXform(&r.rs, &singularHandle.h), cmath_err_singularXform);
    // A perspective whose line at infinity passes through the centre of mass
    // of the last blob, met after every other blob's new fields are computed.
    const cblob_blob *last = r.rs.allBlobs[r.rs.numBlobs - 1];
    double ix = 0, iy = 0;
    ASSERT_EQ(cmath_xformLinear_invMapPoint(last->clientFromImage, last->centerOfMassX, last->centerOfMassY, &ix, &iy), 0);
    Xform atInfinity(std::vector<double>{1, 0, 0, 0, 1, 0, 1e-3, 0, -1e-3 * ix});
    EXPECT_EQ(cblob_resultSet_setClientFromImageXform(&r.rs, &atInfinity.h), cmath_err_outsideDomain);
    EXPECT_EQ(stateOf(r.rs), before);
}

}  // namespace

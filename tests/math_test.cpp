// Matrices, affine transforms, the shared transform handle and the affine
// rectangle.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <thread>
#include <vector>

#include "cblob/math.h"
#include "support/fault_injection.hpp"

namespace {

constexpr double kPi = 3.14159265358979323846;

// A random affine transform whose matrix is a rotation times a scale in
// [0.5, 2] per axis plus a small shear: well conditioned.
cmath_xformLinear randomLinear(std::mt19937 &rng) {
    std::uniform_real_distribution<double> angle(-kPi, kPi), scale(0.5, 2.0), shear(-0.3, 0.3), shift(-50, 50);
    const double a = angle(rng), sx = scale(rng), sy = scale(rng), k = shear(rng);
    const cmath_matrix m = {std::cos(a) * sx, std::cos(a) * k - std::sin(a) * sy, std::sin(a) * sx,
                            std::sin(a) * k + std::cos(a) * sy};
    cmath_xformLinear xf;
    cmath_xformLinear_init(&xf, &m, shift(rng), shift(rng));
    return xf;
}

// A random homography close to a well-conditioned affine map, with a
// perspective row small enough that w stays near 1 on [-100, 100]^2.
std::vector<double> randomHomography(std::mt19937 &rng) {
    const cmath_xformLinear l = randomLinear(rng);
    std::uniform_real_distribution<double> tilt(-1e-3, 1e-3), w(0.8, 1.25);
    return {l.matrix.m00, l.matrix.m01, l.tx, l.matrix.m10, l.matrix.m11, l.ty, tilt(rng), tilt(rng), w(rng)};
}

// The independent model: a homography applied by the textbook formula.
void modelMap(const std::vector<double> &h, double x, double y, double *ox, double *oy) {
    const double w = h[6] * x + h[7] * y + h[8];
    *ox = (h[0] * x + h[1] * y + h[2]) / w;
    *oy = (h[3] * x + h[4] * y + h[5]) / w;
}

std::vector<double> entries(const cmath_matrix &m) { return {m.m00, m.m01, m.m10, m.m11}; }

TEST(Matrix, AlgebraAgainstHandWorkedValues) {
    cmath_matrix a = {1, 2, 3, 4}, b = {0, 1, -1, 0}, c = {2, 0, 0, 3}, out;
    cmath_matrix_initMultiply(&out, &a, &b);
    EXPECT_EQ(entries(out), (std::vector<double>{-2, 1, -4, 3}));
    cmath_matrix_initMultiply3(&out, &a, &b, &c);  // (a b) c
    EXPECT_EQ(entries(out), (std::vector<double>{-4, 3, -8, 9}));
    cmath_matrix_initTranspose(&out, &a);
    EXPECT_EQ(entries(out), (std::vector<double>{1, 3, 2, 4}));
    ASSERT_EQ(cmath_matrix_initInverse(&out, &a), 0);
    cmath_matrix_initMultiply(&out, &out, &a);  // outputs may alias inputs
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(entries(out)[i], i == 0 || i == 3, 1e-15);
    double det = 0, sx = 0, sy = 0, floor = 0, square = 0;
    cmath_matrix_getDeterminant(&a, &det);
    cmath_matrix_getXScale(&a, &sx);
    cmath_matrix_getYScale(&a, &sy);
    cmath_double_floor(-2.5, &floor);
    cmath_double_sqr(-3, &square);
    EXPECT_TRUE(det == -2 && floor == -3 && square == 9);
    EXPECT_DOUBLE_EQ(sx, std::sqrt(10.0));
    EXPECT_DOUBLE_EQ(sy, std::sqrt(20.0));
}

TEST(Matrix, SingularityIsRelativeToScale) {
    const struct {
        double m00, m01, m10, m11;
        int32_t singular;
    } cases[] = {
        {1, 2, 2, 4, 1},         {0, 0, 0, 0, 1},        {1e-100, 0, 0, 1e-100, 0}, {1e100, 0, 0, 1e100, 0},
        {1, 1, 1, 1 + 1e-16, 1}, {1, 1, 1, 1 + 1e-9, 0}, {NAN, 0, 0, 1, 1},         {INFINITY, 0, 0, 1, 1},
        {1, 0, 0, 1, 0},         {1, 1e-300, 0, 1, 0},
    };
    for (const auto &c : cases) {
        const cmath_matrix m = {c.m00, c.m01, c.m10, c.m11};
        cmath_matrix inv = {7, 7, 7, 7};
        int32_t singular = -1, identity = -1;
        cmath_matrix_getIsSingular(&m, &singular);
        cmath_matrix_getIsIdentity(&m, &identity);
        EXPECT_EQ(singular, c.singular) << c.m00 << " " << c.m11;
        EXPECT_EQ(identity, entries(m) == std::vector<double>({1, 0, 0, 1}));
        EXPECT_EQ(cmath_matrix_initInverse(&inv, &m), c.singular ? cmath_err_singularXform : 0);
        EXPECT_TRUE(!c.singular || inv.m00 == 7);  // untouched on failure
    }
}

TEST(XformLinear, RandomRoundTripsAndComposition) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> coord(-100, 100);
    for (int i = 0; i < 200; ++i) {
        const cmath_xformLinear a = randomLinear(rng), b = randomLinear(rng);
        cmath_xformLinear inv, ab, back;
        ASSERT_EQ(cmath_xformLinear_initInverse(&inv, &a), 0);
        ASSERT_EQ(cmath_xformLinear_initCompose(&ab, &a, &b), 0);
        ASSERT_EQ(cmath_xformLinear_initCompose(&back, &inv, &a), 0);
        const double x = coord(rng), y = coord(rng);
        double px, py, qx, qy, rx, ry, vx, vy, ox, oy;
        cmath_xformLinear_mapPoint(&a, x, y, &px, &py);
        ASSERT_EQ(cmath_xformLinear_invMapPoint(&a, px, py, &qx, &qy), 0);
        cmath_xformLinear_mapPoint(&back, x, y, &rx, &ry);
        EXPECT_TRUE(std::fabs(qx - x) < 1e-11 && std::fabs(qy - y) < 1e-11 && std::fabs(rx - x) < 1e-11 &&
                    std::fabs(ry - y) < 1e-11);
        // a(b(p)) against the composed transform; a vector is the difference of two mapped points.
        cmath_xformLinear_mapPoint(&b, x, y, &qx, &qy);
        cmath_xformLinear_mapPoint(&a, qx, qy, &qx, &qy);
        cmath_xformLinear_mapPoint(&ab, x, y, &rx, &ry);
        cmath_xformLinear_mapVector(&a, x, y, &vx, &vy);
        cmath_xformLinear_mapPoint(&a, 0, 0, &ox, &oy);
        EXPECT_TRUE(std::fabs(rx - qx) < 1e-10 && std::fabs(ry - qy) < 1e-10);
        EXPECT_TRUE(std::fabs(vx - (px - ox)) < 1e-10 && std::fabs(vy - (py - oy)) < 1e-10);
    }
    cmath_xformLinear id, singular;
    const cmath_matrix flat = {1, 2, 2, 4};
    int32_t isIdentity = 0, stillIdentity = 1;
    cmath_xformLinear_initIdentity(&id);
    cmath_xformLinear_getIsIdentity(&id, &isIdentity);
    id.ty = 1e-300;
    cmath_xformLinear_getIsIdentity(&id, &stillIdentity);
    EXPECT_TRUE(isIdentity && !stillIdentity);
    cmath_xformLinear_init(&singular, &flat, 0, 0);
    double ox = 5, oy = 5;
    EXPECT_EQ(cmath_xformLinear_invMapPoint(&singular, 1, 1, &ox, &oy), cmath_err_singularXform);
    EXPECT_EQ(ox, 5);
    EXPECT_EQ(cmath_xformLinear_initInverse(&id, &singular), cmath_err_singularXform);
}

// Random homographies against the model: points, the inverse (whose inverse
// is the original), and the local linear transform, which is the Jacobian
// and exact at its point.
TEST(XformHandle, PerspectiveRoundTripsAndLocalLinearAgainstModel) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> coord(-100, 100);
    for (int i = 0; i < 100; ++i) {
        std::vector<double> hm = randomHomography(rng);
        hm[6] *= i % 2 ? 4 : 1;  // a stronger perspective makes the Jacobian vary; w stays >= 0.2
        cmath_xformPtrhConst h, inv, invInv;
        ASSERT_EQ(cmath_xformPtrhConst_constructPerspective(&h, hm.data()), 0);
        cmath_xformPtrhConst_construct(&inv);
        cmath_xformPtrhConst_construct(&invInv);
        ASSERT_EQ(cmath_xformPtrhConst_getInverseConst(&h, &inv), 0);
        ASSERT_EQ(cmath_xformPtrhConst_getInverseConst(&inv, &invInv), 0);
        EXPECT_EQ(invInv.ptrh.shared, h.ptrh.shared);
        int32_t isLinear = 1;
        cmath_xformPtrhConst_getIsLinear(&inv, &isLinear);
        EXPECT_EQ(isLinear, 0);
        for (int k = 0; k < 20; ++k) {
            const double x = coord(rng), y = coord(rng), d = 1e-4;
            double px, py, mx, my, qx, qy, ax, ay, bx, by, cx, cy, ex, ey, lx, ly;
            ASSERT_EQ(cmath_xformPtrhConst_mapPoint(&h, x, y, &px, &py), 0);
            modelMap(hm, x, y, &mx, &my);
            ASSERT_EQ(cmath_xformPtrhConst_mapPoint(&inv, px, py, &qx, &qy), 0);
            EXPECT_TRUE(std::fabs(px - mx) < 1e-9 && std::fabs(py - my) < 1e-9) << px << "," << py;
            EXPECT_TRUE(std::fabs(qx - x) < 1e-9 && std::fabs(qy - y) < 1e-9) << qx << "," << qy;
            cmath_xformLinear l;
            ASSERT_EQ(cmath_xformPtrhConst_getLinear(&h, x, y, &l), 0);
            modelMap(hm, x + d, y, &ax, &ay);
            modelMap(hm, x - d, y, &bx, &by);
            modelMap(hm, x, y + d, &cx, &cy);
            modelMap(hm, x, y - d, &ex, &ey);
            const double jacobian[4] = {(ax - bx) / (2 * d), (cx - ex) / (2 * d), (ay - by) / (2 * d),
                                        (cy - ey) / (2 * d)};
            for (int j = 0; j < 4; ++j)
                EXPECT_NEAR(entries(l.matrix)[j], jacobian[j], 1e-7 * (1 + std::fabs(jacobian[j]))) << j;
            cmath_xformLinear_mapPoint(&l, x, y, &lx, &ly);
            EXPECT_NEAR(lx, px, 1e-12 * (1 + std::fabs(px)));
            EXPECT_NEAR(ly, py, 1e-12 * (1 + std::fabs(py)));
        }
        for (cmath_xformPtrhConst *p : {&invInv, &inv, &h}) cmath_xformPtrhConst_destruct(p);
    }
}

TEST(XformHandle, KindsDomainAndSingularity) {
    // The null handle is the identity, and so is its inverse.
    cmath_xformPtrhConst h, p, s;
    cmath_xformPtrhConst_construct(&h);
    cmath_xformPtrhConst_construct(&p);
    int32_t isNull = 0, isLinear = 0, isIdentity = 0;
    double x = 0, y = 0, hc[9];
    cmath_xformLinear l;
    ASSERT_EQ(cmath_xformPtrhConst_mapPoint(&h, 3.5, -2, &x, &y), 0);
    ASSERT_EQ(cmath_xformPtrhConst_getLinear(&h, 9, 9, &l), 0);
    ASSERT_EQ(cmath_xformPtrhConst_getInverseConst(&h, &p), 0);
    cmath_xformPtrhConst_getIsLinear(&h, &isLinear);
    cmath_xformLinear_getIsIdentity(&l, &isIdentity);
    cmath_xformPtrhConst_getIsNull(&p, &isNull);
    EXPECT_TRUE(x == 3.5 && y == -2 && isLinear && isIdentity && isNull);
    // An affine homography is stored as a linear transform.
    const double affine[9] = {2, 0, 4, 0, 2, 6, 0, 0, 2};
    ASSERT_EQ(cmath_xformPtrhConst_constructPerspective(&h, affine), 0);
    cmath_xformPtrhConst_getIsLinear(&h, &isLinear);
    cmath_xformPtrhConst_getLinear(&h, 0, 0, &l);
    cmath_xformPtrhConst_getHomography(&h, hc);
    EXPECT_TRUE(isLinear && l.matrix.m00 == 1 && l.tx == 2 && l.ty == 3 && hc[2] == 2 && hc[8] == 1);
    // w = x - 10: the line x = 10 has no image.
    const double tilted[9] = {1, 0, 0, 0, 1, 0, 1, 0, -10};
    ASSERT_EQ(cmath_xformPtrhConst_constructPerspective(&p, tilted), 0);
    EXPECT_EQ(cmath_xformPtrhConst_mapPoint(&p, 10, 3, &x, &y), cmath_err_outsideDomain);
    EXPECT_EQ(cmath_xformPtrhConst_getLinear(&p, 10, 3, &l), cmath_err_outsideDomain);
    EXPECT_EQ(cmath_xformPtrhConst_mapPoint(&p, 12, 4, &x, &y), 0);
    EXPECT_TRUE(x == 6 && y == 2);
    cmath_xformPtrhConst_destruct(&p);
    const double singular[9] = {1, 2, 3, 2, 4, 6, 0, 1, 1};
    cmath_xformPtrhConst bad = {{reinterpret_cast<cstd_shared *>(0x1)}};
    EXPECT_EQ(cmath_xformPtrhConst_constructPerspective(&bad, singular), cmath_err_singularXform);
    EXPECT_EQ(bad.ptrh.shared, reinterpret_cast<cstd_shared *>(0x1));  // nothing written on failure
    // A singular linear transform exists, but has no inverse; the target keeps its transform.
    const cmath_xformLinear flat = {{1, 2, 2, 4}, 1, 1};
    ASSERT_EQ(cmath_xformPtrhConst_constructLinear(&s, &flat), 0);
    EXPECT_EQ(cmath_xformPtrhConst_getInverseConst(&s, &h), cmath_err_singularXform);
    cmath_xformPtrhConst_getIsNull(&h, &isNull);
    EXPECT_EQ(isNull, 0);
    {
        cblobtest::AssertCatcher catcher;
        EXPECT_EQ(cmath_xformPtrhConst_constructLinear(&p, nullptr), csys_err_assertFailed);
        EXPECT_EQ(cmath_xformPtrhConst_mapPoint(&h, 0, 0, &x, nullptr), csys_err_assertFailed);
        EXPECT_EQ(cmath_matrix_initInverse(nullptr, nullptr), csys_err_assertFailed);
        EXPECT_EQ(catcher.count(), 3);
    }
    cmath_xformPtrhConst_destruct(&s);
    cmath_xformPtrhConst_destruct(&h);
}

TEST(XformHandle, CopiesShareOneObjectAcrossThreads) {
    const int64_t before = csys_memory_getLiveBlockCount();
    std::mt19937 rng(3);
    cmath_xformPtrhConst h, inv;
    ASSERT_EQ(cmath_xformPtrhConst_constructPerspective(&h, randomHomography(rng).data()), 0);
    cmath_xformPtrhConst_construct(&inv);
    cmath_xformPtrhConst_getInverseConst(&h, &inv);
    double ex = 0, ey = 0;
    cmath_xformPtrhConst_mapPoint(&h, 1, 2, &ex, &ey);
    std::vector<std::thread> threads;
    std::vector<int> failures(8, 0);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                // Odd threads: b becomes h's inverse and maps h's image back; even ones: b becomes h.
                cmath_xformPtrhConst a, b;
                cmath_xformPtrhConst_constructCopy(&a, (t & 1) ? &h : &inv);
                cmath_xformPtrhConst_construct(&b);
                cmath_xformPtrhConst_getInverseConst(&a, &b);
                cmath_xformPtrhConst_assign(&a, &b);
                double x = 0, y = 0;
                cmath_xformPtrhConst_mapPoint(&b, (t & 1) ? ex : 1, (t & 1) ? ey : 2, &x, &y);
                if ((t & 1) ? std::fabs(x - 1) > 1e-9 || std::fabs(y - 2) > 1e-9 : x != ex || y != ey) ++failures[t];
                cmath_xformPtrhConst_destruct(&a);
                cmath_xformPtrhConst_destruct(&b);
            }
        });
    }
    for (std::thread &t : threads) t.join();
    for (int f : failures) EXPECT_EQ(f, 0);
    int64_t count = 0;
    cstd_ptrh_getRefCount(&h.ptrh, &count);
    EXPECT_EQ(count, 1);
    cmath_xformPtrhConst_destruct(&h);
    EXPECT_GT(csys_memory_getLiveBlockCount(), before);  // the inverse handle keeps the pair alive
    cmath_xformPtrhConst_destruct(&inv);
    EXPECT_EQ(csys_memory_getLiveBlockCount(), before);
}

TEST(AffineRect, CornersRotationsAndBadShapes) {
    cmath_shapeAffineRect r;
    ASSERT_EQ(cmath_shapeAffineRect_initCenter(&r, 10, 20, 4, 2, kPi / 2, kPi / 2), 0);
    double xy[8], rx = 0, ry = 0;
    cmath_shapeAffineRect_getCorners(&r, xy);
    // x side along +y, y side along -x: the first corner is centre - (0,2) - (-1,0).
    const double expected[8] = {11, 18, 11, 22, 9, 22, 9, 18};
    for (int i = 0; i < 8; ++i) EXPECT_NEAR(xy[i], expected[i], 1e-12) << i;
    cmath_shapeAffineRect_getRotations(&r, &rx, &ry);
    EXPECT_TRUE(std::fabs(rx - kPi / 2) < 1e-12 && std::fabs(ry - kPi / 2) < 1e-12);
    ASSERT_EQ(cmath_shapeAffineRect_initCenterAxes(&r, 0, 0, 2, 2, 3, 0, 1, 1), 0);  // sheared, normalised
    EXPECT_NEAR(r.axisYx, std::sqrt(0.5), 1e-15);
    const struct {
        double side1, side2, rx, ry;
    } bad[] = {{-1, 1, 0, 0}, {1, -1, 0, 0}, {1, 1, 0, kPi / 2}, {NAN, 1, 0, 0}, {1, 1, INFINITY, 0}};
    for (const auto &b : bad) {
        EXPECT_EQ(cmath_shapeAffineRect_initCenter(&r, 0, 0, b.side1, b.side2, b.rx, b.ry), cmath_err_badShape);
        EXPECT_NEAR(r.axisYx, std::sqrt(0.5), 1e-15);
    }
    EXPECT_EQ(cmath_shapeAffineRect_initCenterAxes(&r, 0, 0, 1, 1, 0, 0, 0, 1), cmath_err_badShape);
    EXPECT_EQ(cmath_shapeAffineRect_initCenter(&r, 0, 0, 0, 0, 0.3, 0.3), 0);  // a point is a shape
}

}  // namespace

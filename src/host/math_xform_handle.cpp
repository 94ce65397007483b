// The shared immutable transform handle. Each transform is made together with
// its inverse in one heap block (a "pair") with one reference count for both
// directions; a handle refers to one direction's embedded cstd_shared. So the
// inverse is never computed lazily (no race between threads that ask for it),
// never allocates, and the inverse of the inverse is the transform itself.
#include <cstddef>

#include "cblob/math.h"
#include "host/math_internal.hpp"
#include "host/math_homography.hpp"
#include "core/require.hpp"
#include "core/frame.hpp"

namespace {

enum Kind : int32_t { kLinear = 0, kPerspective = 1 };

// One direction of a pair. `shared` comes first, so the cstd_shared a handle
// holds is the address of its side.
struct Side {
    cstd_shared shared;  // owner: the pair; count: the handles on this direction
    int32_t kind;
    int32_t exists;  // 0 only for the missing inverse of a singular linear transform
    cmath_xformLinear linear;  // kind kLinear
    double h[9];               // kind kPerspective
};

struct Pair {
    int64_t count;  // handles on either direction; the last one frees the pair
    Side side[2];   // [0] as made, [1] its inverse
};

int64_t pairIncrement(cstd_shared *shared) {
    __atomic_add_fetch(&shared->count, 1, __ATOMIC_RELAXED);
    Pair *pair = static_cast<Pair *>(shared->owner);
    return __atomic_add_fetch(&pair->count, 1, __ATOMIC_RELAXED);
}

int64_t pairDecrement(cstd_shared *shared) {
    Pair *pair = static_cast<Pair *>(shared->owner);
    __atomic_sub_fetch(&shared->count, 1, __ATOMIC_RELAXED);
    // Acquire-release as in the default count: every holder's use of the
    // pair happens before the last holder frees it.
    return __atomic_sub_fetch(&pair->count, 1, __ATOMIC_ACQ_REL);
}

int32_t pairDestroy(void *owner) {
    Pair *pair = static_cast<Pair *>(owner);
    return cblob::release(&pair);
}

const cstd_sharedDescriptor kPairDescriptor = {&pairIncrement, &pairDecrement, &pairDestroy};

const Side *sideOf(const cmath_xformPtrhConst *h) { return reinterpret_cast<const Side *>(h->ptrh.shared); }

const Side *otherSide(const Side *side) {
    const Pair *pair = static_cast<const Pair *>(side->shared.owner);
    return side == &pair->side[0] ? &pair->side[1] : &pair->side[0];
}

Side linearSide(const cmath_xformLinear &linear, bool exists) {
    Side side{};
    side.kind = kLinear;
    side.exists = exists ? 1 : 0;
    side.linear = linear;
    return side;
}

Side perspectiveSide(const double h[9]) {
    Side side{};
    side.kind = kPerspective;
    side.exists = 1;
    for (int i = 0; i < 9; ++i) side.h[i] = h[i];
    return side;
}

// Allocates a pair holding the two directions and constructs *h on the first.
int32_t constructPair(cmath_xformPtrhConst *h, const Side &forward, const Side &inverse) {
    cblob::Frame<1> f;
    Pair *pair = nullptr;
    CBLOB_FRAME_TRY(f, cblob::allocateClear(static_cast<int64_t>(sizeof(Pair)), &pair));
    f.addMemory(&pair, csys_cleanup_resultMemory);
    pair->count = 0;
    pair->side[0] = forward;
    pair->side[1] = inverse;
    for (Side &side : pair->side) CBLOB_FRAME_TRY(f, cstd_shared_initCustom(&side.shared, pair, &kPairDescriptor));
    cstd_ptrh handle;
    CBLOB_FRAME_TRY(f, cstd_ptrh_construct(&handle));
    CBLOB_FRAME_TRY(f, cstd_ptrh_assignShared(&handle, &pair->side[0].shared));
    h->ptrh = handle;
    return f.exit();
}

int32_t constructLinearPair(cmath_xformPtrhConst *h, const cmath_xformLinear &linear) {
    const bool invertible = !cblob::math::matrixIsSingular(linear.matrix);
    const cmath_xformLinear inverse = invertible ? cblob::math::inverseOf(linear) : cblob::math::identityXform();
    return constructPair(h, linearSide(linear, true), linearSide(inverse, invertible));
}

}  // namespace

extern "C" {

int32_t cmath_xformPtrhConst_construct(cmath_xformPtrhConst *h) {
    CBLOB_REQUIRE_ARG(h);
    return cstd_ptrh_construct(&h->ptrh);
}

int32_t cmath_xformPtrhConst_constructCopy(cmath_xformPtrhConst *h, const cmath_xformPtrhConst *src) {
    CBLOB_REQUIRE_ARG(h);
    CBLOB_REQUIRE_ARG(src);
    return cstd_ptrh_constructCopy(&h->ptrh, &src->ptrh);
}

int32_t cmath_xformPtrhConst_constructLinear(cmath_xformPtrhConst *h, const cmath_xformLinear *linear) {
    CBLOB_REQUIRE_ARG(h);
    CBLOB_REQUIRE_ARG(linear);
    return constructLinearPair(h, *linear);
}

int32_t cmath_xformPtrhConst_constructPerspective(cmath_xformPtrhConst *h, const double coefficients[9]) {
    CBLOB_REQUIRE_ARG(h);
    CBLOB_REQUIRE_ARG(coefficients);
    int32_t status = cblob::math::homographyCheckInvertible(coefficients);
    if (CBLOB_FAILED(status)) return status;
    const double *c = coefficients;
    if (c[6] == 0.0 && c[7] == 0.0) {
        // An affine map written as a homography; c[8] is not 0 as H is invertible.
        cmath_xformLinear linear;
        linear.matrix = cmath_matrix{c[0] / c[8], c[1] / c[8], c[3] / c[8], c[4] / c[8]};
        linear.tx = c[2] / c[8];
        linear.ty = c[5] / c[8];
        return constructLinearPair(h, linear);
    }
    double inverse[9];
    status = cblob::math::homographyInverse(c, inverse);
    if (CBLOB_FAILED(status)) return status;
    return constructPair(h, perspectiveSide(c), perspectiveSide(inverse));
}

int32_t cmath_xformPtrhConst_assign(cmath_xformPtrhConst *h, const cmath_xformPtrhConst *src) {
    CBLOB_REQUIRE_ARG(h);
    CBLOB_REQUIRE_ARG(src);
    return cstd_ptrh_assign(&h->ptrh, &src->ptrh);
}

int32_t cmath_xformPtrhConst_assignNull(cmath_xformPtrhConst *h) {
    CBLOB_REQUIRE_ARG(h);
    return cstd_ptrh_detach(&h->ptrh);
}

int32_t cmath_xformPtrhConst_destruct(cmath_xformPtrhConst *h) {
    CBLOB_REQUIRE_ARG(h);
    return cstd_ptrh_destruct(&h->ptrh);
}

int32_t cmath_xformPtrhConst_getIsNull(const cmath_xformPtrhConst *h, int32_t *isNull) {
    CBLOB_REQUIRE_ARG(h);
    CBLOB_REQUIRE_ARG(isNull);
    return cstd_ptrh_getIsNull(&h->ptrh, isNull);
}

int32_t cmath_xformPtrhConst_getIsLinear(const cmath_xformPtrhConst *h, int32_t *isLinear) {
    CBLOB_REQUIRE_ARG(h);
    CBLOB_REQUIRE_ARG(isLinear);
    const Side *side = sideOf(h);
    *isLinear = (!side || side->kind == kLinear) ? 1 : 0;
    return 0;
}

int32_t cmath_xformPtrhConst_getLinear(const cmath_xformPtrhConst *h, double x, double y, cmath_xformLinear *linear) {
    CBLOB_REQUIRE_ARG(h);
    CBLOB_REQUIRE_ARG(linear);
    const Side *side = sideOf(h);
    if (!side) {
        *linear = cblob::math::identityXform();
        return 0;
    }
    if (side->kind == kLinear) {
        *linear = side->linear;
        return 0;
    }
    return cblob::math::homographyLocalLinear(side->h, x, y, linear);
}

int32_t cmath_xformPtrhConst_getInverseConst(const cmath_xformPtrhConst *h, cmath_xformPtrhConst *inverse) {
    CBLOB_REQUIRE_ARG(h);
    CBLOB_REQUIRE_ARG(inverse);
    const Side *side = sideOf(h);
    if (!side) return cstd_ptrh_detach(&inverse->ptrh);
    const Side *other = otherSide(side);
    if (!other->exists) return cmath_err_singularXform;
    // The count is the pair's, not the object's contents, so dropping const
    // here changes nothing that a holder of the transform can see.
    return cstd_ptrh_assignShared(&inverse->ptrh, const_cast<cstd_shared *>(&other->shared));
}

int32_t cmath_xformPtrhConst_mapPoint(const cmath_xformPtrhConst *h, double x, double y, double *ox, double *oy) {
    CBLOB_REQUIRE_ARG(h);
    CBLOB_REQUIRE_ARG(ox);
    CBLOB_REQUIRE_ARG(oy);
    const Side *side = sideOf(h);
    if (!side) {
        *ox = x;
        *oy = y;
        return 0;
    }
    if (side->kind == kLinear) return cmath_xformLinear_mapPoint(&side->linear, x, y, ox, oy);
    return cblob::math::homographyMapPoint(side->h, x, y, ox, oy);
}

int32_t cmath_xformPtrhConst_getHomography(const cmath_xformPtrhConst *h, double coefficients[9]) {
    CBLOB_REQUIRE_ARG(h);
    CBLOB_REQUIRE_ARG(coefficients);
    const Side *side = sideOf(h);
    if (side && side->kind == kPerspective) {
        for (int i = 0; i < 9; ++i) coefficients[i] = side->h[i];
        return 0;
    }
    const cmath_xformLinear l = side ? side->linear : cblob::math::identityXform();
    const double c[9] = {l.matrix.m00, l.matrix.m01, l.tx, l.matrix.m10, l.matrix.m11, l.ty, 0.0, 0.0, 1.0};
    for (int i = 0; i < 9; ++i) coefficients[i] = c[i];
    return 0;
}

}  // extern "C"

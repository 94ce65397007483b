// Replacing a result set's client-from-image transform after its run: every
// blob's client-unit fields (area, centre of mass, second moments and
// principal axes) are taken back into the image frame through the blob's
// old transform and forward through the new one, as the scan maps them when
// it finishes a region. Boxes stay in image coordinates. All new values are
// computed first and written only when every blob has them, so a failing
// call changes nothing.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

#include "cblob/measure.h"
#include "connect/blob_moments.hpp"
#include "connect/blob_record.hpp"
#include "core/frame.hpp"

namespace cblob::results {

namespace {

using connect::Moments;

// What the new transform makes of one blob.
struct BlobInClient {
    double area, cx, cy;
    double inertiaX, inertiaY, inertiaMin, inertiaMax, elongation, angle;
    cmath_xformLinear local;  // the blob's transform when the new one is not linear
};

// The new transform: its linear form when it is linear.
struct NewXform {
    const cmath_xformPtrhConst *handle;
    bool linear;
    cmath_xformLinear l;
};

int32_t getIsIdentity(const cmath_xformLinear &l, bool *identity) {
    int32_t flag = 0;
    const int32_t status = cmath_xformLinear_getIsIdentity(&l, &flag);
    *identity = flag != 0;
    return status;
}

// The blob's moments in the image frame: s_old * L_old^-1 M L_old^-T with
// s_old = 1 / |det L_old| (the old moments were scaled by |det L_old|).
int32_t momentsInImage(const cblob_blob &b, const cmath_xformLinear &old, bool oldIdentity, Moments *m) {
    Frame<0> f;
    *m = Moments{b.inertiaX, b.inertiaY, connect::recoverMixedMoment(b)};
    if (oldIdentity) return f.exit();
    cmath_matrix inverse;
    CBLOB_FRAME_TRY(f, cmath_matrix_initInverse(&inverse, &old.matrix));
    *m = connect::mapMoments(*m, inverse, 1.0 / std::fabs(connect::determinant(old.matrix)));
    return f.exit();
}

// The blob's fields under the new transform.
int32_t blobInClient(const cblob_blob &b, const NewXform &x, BlobInClient *out) {
    Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, b.clientFromImage);
    const cmath_xformLinear old = *b.clientFromImage;
    bool oldIdentity = false;
    CBLOB_FRAME_TRY(f, getIsIdentity(old, &oldIdentity));
    double ix = b.centerOfMassX, iy = b.centerOfMassY;
    CBLOB_FRAME_TRY(f, cmath_xformLinear_invMapPoint(&old, b.centerOfMassX, b.centerOfMassY, &ix, &iy));
    const double imageArea = b.area / std::fabs(connect::determinant(old.matrix));
    cmath_xformLinear l = x.l;
    if (!x.linear) {
        CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_getLinear(x.handle, ix, iy, &l));
        int32_t singular = 0;
        CBLOB_FRAME_TRY(f, cmath_matrix_getIsSingular(&l.matrix, &singular));
        CBLOB_FRAME_CHECK(f, !singular, cmath_err_singularXform);
    }
    bool identity = false;
    CBLOB_FRAME_TRY(f, getIsIdentity(l, &identity));
    const double areaFactor = identity ? 1.0 : std::fabs(connect::determinant(l.matrix));
    cblob_blob fields = b;
    if (b.momentsValid == 1) {
        Moments m;
        CBLOB_FRAME_TRY(f, momentsInImage(b, old, oldIdentity, &m));
        connect::setPrincipalAxes(&fields, identity ? m : connect::mapMoments(m, l.matrix, areaFactor));
    }
    out->area = imageArea * areaFactor;
    if (x.linear) {
        CBLOB_FRAME_TRY(f, cmath_xformLinear_mapPoint(&l, ix, iy, &out->cx, &out->cy));
    } else {
        CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_mapPoint(x.handle, ix, iy, &out->cx, &out->cy));
    }
    out->inertiaX = fields.inertiaX;
    out->inertiaY = fields.inertiaY;
    out->inertiaMin = fields.inertiaMin;
    out->inertiaMax = fields.inertiaMax;
    out->elongation = fields.elongation;
    out->angle = fields.angle;
    out->local = l;
    return f.exit();
}

int32_t freeXformBlocks(connect::XformBlocks **blocks) {
    if (!*blocks) return 0;
    const int32_t status = _cleanupFuncBlobXformPtrVect(*blocks);
    const int32_t deleted = cstd_vector_cblock_of_cblob_xformLinear_ptr_delete(blocks);
    return CBLOB_FAILED(status) ? status : deleted;
}

// New transform blocks holding each blob's local transform, in blob order;
// staged[i].local is then read from there.
int32_t fillXformBlocks(const cblob_resultSet *rs, const BlobInClient *staged, connect::XformBlocks **blocks,
                        cmath_xformLinear **entries) {
    Frame<0> f;
    CBLOB_FRAME_TRY(f, connect::ensureXformBlocks(blocks));
    for (int32_t i = 0; i < rs->numBlobs; ++i) {
        CBLOB_FRAME_TRY(f, connect::takeXformSlot(*blocks, &entries[i]));
        *entries[i] = staged[i].local;
        CBLOB_FRAME_TRY(f, connect::commitXformSlot(*blocks));
    }
    return f.exit();
}

// Gives every image of the blob database the new transform's inverse.
int32_t retransformBlobImages(cblob_resultSet *rs, const cmath_xformPtrhConst *imageFromClient) {
    if (!rs->blobDb) return 0;
    auto *images = static_cast<cblob_imageRle *>(rs->blobDb->images.untyped.begin);
    int32_t status = 0;
    for (int64_t i = 0; i < rs->blobDb->images.untyped.size && !CBLOB_FAILED(status); ++i) {
        if (images[i].constructed == 1) status = cmath_xformPtrhConst_assign(&images[i].imageFromClient, imageFromClient);
    }
    return status;
}

// Writes the staged fields and transforms into the blobs, and empties the
// measure cache's valid bits.
void commitBlobs(cblob_resultSet *rs, const NewXform &x, const BlobInClient *staged, cmath_xformLinear *const *entries) {
    if (x.linear) rs->sharedLinearXform = x.l;
    for (int32_t i = 0; i < rs->numBlobs; ++i) {
        cblob_blob *b = rs->allBlobs[i];
        const BlobInClient &s = staged[i];
        b->area = s.area;
        b->centerOfMassX = s.cx;
        b->centerOfMassY = s.cy;
        if (b->momentsValid == 1) {
            b->inertiaX = s.inertiaX;
            b->inertiaY = s.inertiaY;
            b->inertiaMin = s.inertiaMin;
            b->inertiaMax = s.inertiaMax;
            b->elongation = s.elongation;
            b->angle = s.angle;
        }
        b->clientFromImage = x.linear ? &rs->sharedLinearXform : entries[i];
    }
    cstd_vector32 &bits = rs->postProcessing->validBits;
    if (bits.untyped.size > 0) std::memset(bits.untyped.begin, 0, static_cast<size_t>(bits.untyped.size) * sizeof(uint32_t));
}

int32_t setClientXform(cblob_resultSet *rs, const cmath_xformPtrhConst *xform) {
    Frame<5> f;
    NewXform x{xform, true, {}};
    int32_t isLinear = 1;
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_getIsLinear(xform, &isLinear));
    x.linear = isLinear != 0;
    if (x.linear) {
        CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_getLinear(xform, 0.0, 0.0, &x.l));
        int32_t singular = 0;
        CBLOB_FRAME_TRY(f, cmath_matrix_getIsSingular(&x.l.matrix, &singular));
        CBLOB_FRAME_CHECK(f, !singular, cmath_err_singularXform);
    }
    cmath_xformPtrhConst inverse;
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_construct(&inverse));
    f.addObject<&cmath_xformPtrhConst_destruct>(&inverse, csys_cleanup_tempObject);
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_getInverseConst(xform, &inverse));
    const int64_t n = rs->numBlobs;
    BlobInClient *staged = nullptr;
    cmath_xformLinear **entries = nullptr;
    connect::XformBlocks *blocks = nullptr;
    if (n > 0) {
        CBLOB_FRAME_TRY(f, allocate(n * static_cast<int64_t>(sizeof(BlobInClient)), &staged));
        f.addMemory(&staged, csys_cleanup_tempMemory);
        for (int32_t i = 0; i < rs->numBlobs; ++i) CBLOB_FRAME_TRY(f, blobInClient(*rs->allBlobs[i], x, &staged[i]));
        if (!x.linear) {
            CBLOB_FRAME_TRY(f, allocate(n * static_cast<int64_t>(sizeof(cmath_xformLinear *)), &entries));
            f.addMemory(&entries, csys_cleanup_tempMemory);
        }
    }
    // Released at the exit: the new blocks on failure, the old ones after
    // the exchange below.
    f.addObject<&freeXformBlocks>(&blocks, csys_cleanup_tempObject);
    if (!x.linear && n > 0) CBLOB_FRAME_TRY(f, fillXformBlocks(rs, staged, &blocks, entries));
    // Nothing below fails: the handle, the blobs, the images and the blocks
    // change together.
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_assign(&rs->clientFromImage, xform));
    commitBlobs(rs, x, staged, entries);
    CBLOB_FRAME_TRY(f, retransformBlobImages(rs, &inverse));
    std::swap(blocks, rs->xformBlocks);
    return f.exit();
}

}  // namespace

}  // namespace cblob::results

extern "C" {

int32_t cblob_resultSet_setClientFromImageXform(cblob_resultSet *rs, const cmath_xformPtrhConst *xform) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, rs);
    CBLOB_FRAME_REQUIRE(f, xform);
    CBLOB_FRAME_REQUIRE(f, rs->postProcessing);
    CBLOB_FRAME_TRY(f, cblob::results::setClientXform(rs, xform));
    return f.exit();
}

int32_t cblob_resultSet_setClientFromImageXformLinear(cblob_resultSet *rs, const cmath_xformLinear *linear) {
    cblob::Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, rs);
    CBLOB_FRAME_REQUIRE(f, linear);
    CBLOB_FRAME_REQUIRE(f, rs->postProcessing);
    int32_t singular = 0;
    CBLOB_FRAME_TRY(f, cmath_matrix_getIsSingular(&linear->matrix, &singular));
    CBLOB_FRAME_CHECK(f, !singular, cmath_err_singularXform);
    cmath_xformPtrhConst handle;
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_constructLinear(&handle, linear));
    f.addObject<&cmath_xformPtrhConst_destruct>(&handle, csys_cleanup_tempObject);
    CBLOB_FRAME_TRY(f, cblob::results::setClientXform(rs, &handle));
    return f.exit();
}

int32_t cblob_resultSet_getClientFromImageXform(const cblob_resultSet *rs, cmath_xformPtrhConst *xform) {
    CBLOB_REQUIRE_ARG(rs && xform);
    return cmath_xformPtrhConst_assign(xform, &rs->clientFromImage);
}

int32_t cblob_resultSet_getClientFromImageXformLinear(const cblob_resultSet *rs, cmath_xformLinear *linear) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, rs);
    CBLOB_FRAME_REQUIRE(f, linear);
    int32_t isLinear = 0;
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_getIsLinear(&rs->clientFromImage, &isLinear));
    CBLOB_FRAME_CHECK(f, isLinear, cblob_err_xformNotLinear);
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_getLinear(&rs->clientFromImage, 0.0, 0.0, linear));
    return f.exit();
}

}  // extern "C"

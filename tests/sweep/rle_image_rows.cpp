// Sweep rows of run-length images (records, storage, handles and every
// operation on them), 8-bit images and windows, pixel histograms and
// rectangles. Fixtures are 5 x 3 images: owned storage one row per block, so
// copies and writers meet several blocks, packed through the host's pair
// format, or rows the fixture owns (borrowed, binary rows ending after their
// last foreground run as a blob's image holds them). A failing call must
// leave the caller's records as their header promises; every check reads
// memory the test owns or the library already holds, so that it never asks
// the failing memory service for more.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "cblob/cblob.h"
#include "support/api_sweep.hpp"
#include "support/rle_images.hpp"
#include "support/rle_model.hpp"

namespace {

using namespace cblobtest::sweep;
using rletest::Model;
using Runs = rletest::Row;

Model model(int32_t offsetX, int32_t offsetY, bool grey, std::vector<Runs> rows) {
    Model m = rletest::makeModel(5, std::move(rows), grey);
    m.offsetX = offsetX;
    m.offsetY = offsetY;
    return m;
}
const Model kGrey = model(2, 1, true, {{{3, 2}, {7, 3}}, {{7, 5}}, {{1, 1}, {3, 4}}});
const Model kBinary = model(0, 0, false, {{{0, 1}, {1, 3}, {0, 1}}, {{1, 5}}, {{0, 2}, {1, 3}}});
const Model kGreyMask = model(-1, 3, true, {{{5, 3}, {0, 2}}, {{0, 5}}, {{5, 5}}});
// Nine rows: enough for the pair packer to need a second block.
const Model kTallGrey = model(0, 0, true, [] {
    std::vector<Runs> rows;
    for (int i = 0; i < 3; ++i) rows.insert(rows.end(), kGrey.rows.begin(), kGrey.rows.end());
    return rows;
}());

uint8_t kTable[256];

// The first failure among statuses computed in order (a braced list is
// evaluated left to right), 0 when none failed.
int32_t firstOf(std::initializer_list<int32_t> statuses) {
    for (int32_t s : statuses)
        if (s < 0) return s;
    return 0;
}

// What a failed call may not change in a record: its fields and the rows it
// holds (row y at entry y + 1 of owned storage, at entry y when borrowed).
struct State {
    int32_t constructed = -1, offsetX = 0, offsetY = 0, width = 0, height = 0, numRuns = 0, isGrey = 0;
    const void *rows = nullptr, *data = nullptr;
    std::vector<Runs> content;
    bool operator==(const State &o) const {
        return constructed == o.constructed && offsetX == o.offsetX && offsetY == o.offsetY && width == o.width &&
               height == o.height && numRuns == o.numRuns && isGrey == o.isGrey && rows == o.rows && data == o.data &&
               content == o.content;
    }
};

State stateOf(const cblob_imageRle *img) {
    State s;
    if (!img || img->constructed != 1) {
        s.constructed = img ? img->constructed : -1;
        return s;
    }
    s = State{1,           img->offsetX, img->offsetY, img->width, img->height, img->numRuns,
              img->isGrey, img->rows,    img->data,    {}};
    for (int32_t y = 0; img->rows && y < img->height; ++y) {
        const cblob_rleRow &r = img->rows[img->data ? y + 1 : y];
        s.content.push_back(rletest::decodeRow(r.runs, img->isGrey != 0, r.startValue));
    }
    return s;
}

cblob_imageRle *recordOf(const cblob_imageRlePtrh *h) {
    cblob_imageRle *img = nullptr;
    cblob_imageRlePtrh_getImageRle(h, &img);
    return img;
}

int32_t isNull(const cblob_imageRlePtrh *h) {
    int32_t n = -1;
    cblob_imageRlePtrh_getIsNull(h, &n);
    return n;
}

// Raw storage for a constructor: garbage that claims to be constructed.
cblob_imageRle raw() {
    cblob_imageRle img;
    std::memset(&img, 0xA5, sizeof img);
    img.constructed = 1;
    return img;
}

bool sameImage(const cimg_image &a, const cimg_image &b) {
    return a.pels == b.pels && a.width == b.width && a.height == b.height && a.strideBytes == b.strideBytes &&
           a.originX == b.originX && a.storage.shared == b.storage.shared;
}

enum class Store { Filled, Packed, Borrowed };
struct Source {
    const Model *m;
    Store store;
};
const Source greyFilled{&kGrey, Store::Filled}, greyPacked{&kGrey, Store::Packed},
    greyBorrowed{&kGrey, Store::Borrowed}, binaryFilled{&kBinary, Store::Filled},
    binaryBorrowed{&kBinary, Store::Borrowed}, maskFilled{&kGreyMask, Store::Filled};

// A handle on a record built from a model in one of the storages.
struct Rle {
    cblob_imageRlePtrh h{};
    std::vector<std::vector<uint8_t>> bytes;
    std::vector<cblob_rleRow> table;
    Rle() { cblob_imageRlePtrh_construct(&h); }
    ~Rle() { cblob_imageRlePtrh_destruct(&h); }
    Rle(const Rle &) = delete;
    Rle &operator=(const Rle &) = delete;
    cblob_imageRle *record() const { return recordOf(&h); }

    int32_t build(const Source &s) {
        const Model &m = *s.m;
        if (s.store != Store::Borrowed)
            return rletest::makeHandle(&h, [&](cblob_imageRle *img) {
                return s.store == Store::Filled ? rletest::buildByFilling(img, m, 1) : rletest::buildFromTorv(img, m);
            });
        return rletest::makeBorrowed(&h, m, bytes, table);
    }
};

// 8-bit pixels the test owns, wrapped (no storage to allocate).
struct Pixels8 {
    uint8_t p[6 * 4] = {0, 9, 200, 3, 3, 7, 40, 41, 42, 43, 44, 45, 255, 0, 128, 128, 1, 2, 5, 5, 5, 90, 91, 92};
    cimg_image img{};
    explicit Pixels8(int32_t width = 6, int32_t height = 4) {
        cimg_image8_construct(&img);
        cimg_image_initFromBuffer(&img, p, 8, width, height, width, 0, 0);
    }
    ~Pixels8() { cimg_image_destruct(&img); }
};

// ------------------------------------------------------ derived images

using Derive =
    std::function<int32_t(const cblob_imageRlePtrh *a, const cblob_imageRlePtrh *b, cblob_imageRlePtrh *result)>;

// An operation that makes a new image from a (and b) into a result handle,
// run for each pair of sources with a's own handle as the result: a failed
// call leaves that handle detached while a second handle keeps a's record,
// and both sources are unchanged.
Row deriveRow(const char *name, std::vector<std::pair<Source, Source>> pairs, Derive op) {
    return allocates({name}, [pairs, op] {
        Steps steps;
        for (const auto &[sa, sb] : pairs) {
            Rle a, b;
            cblob_imageRlePtrh keep;
            cblob_imageRlePtrh_construct(&keep);
            steps
                .then([&] {
                    return firstOf({a.build(sa), b.build(sb), cblob_imageRlePtrh_constructCopy(&keep, &a.h)});
                })
                .then([&] {
                    const State beforeA = stateOf(a.record()), beforeB = stateOf(b.record());
                    const int32_t s = op(&a.h, &b.h, &a.h);
                    if (s < 0) {
                        EXPECT_EQ(isNull(&a.h), 1) << "a failed call leaves the result detached";
                        EXPECT_TRUE(stateOf(recordOf(&keep)) == beforeA) << "a failed call changed its source";
                        EXPECT_TRUE(stateOf(b.record()) == beforeB) << "a failed call changed its second source";
                    }
                    return s;
                });
            cblob_imageRlePtrh_destruct(&keep);
        }
        return steps.status();
    });
}

// An encoder into a handle that holds an image another handle shares: a
// failed call leaves the handle null (failing while encoding) or on its old
// record (the run parameters failed first), and the old record unchanged.
Row encodeRow(const char *name, std::function<int32_t(cblob_imageRlePtrh *h, const cimg_image *image)> encode) {
    return allocates({name}, [encode] {
        Pixels8 image;
        Rle old;
        cblob_imageRlePtrh keep;
        cblob_imageRlePtrh_construct(&keep);
        const int32_t s =
            Steps()
                .then([&] {
                    return firstOf({old.build(greyFilled), cblob_imageRlePtrh_constructCopy(&keep, &old.h)});
                })
                .then([&] {
                    cblob_imageRle *oldRecord = old.record();
                    const State before = stateOf(oldRecord);
                    const int32_t status = encode(&old.h, &image.img);
                    if (status < 0) {
                        EXPECT_TRUE(isNull(&old.h) == 1 || old.record() == oldRecord);
                        EXPECT_TRUE(stateOf(recordOf(&keep)) == before) << "the old image changed";
                    }
                    return status;
                })
                .status();
        cblob_imageRlePtrh_destruct(&keep);
        return s;
    });
}

// ------------------------------------------------ record and handle rows

// init on a lazy record, on a constructed one without storage, and again on
// a record's own storage for more rows.
int32_t sweepInit() {
    const cmath_xformPtrhConst none = rletest::identity();
    cblob_imageRle lazy, empty, filled;
    cblob_imageRle_construct(&lazy);
    cblob_imageRle_construct_(&empty);
    Steps steps;
    steps.then([&] {
        const int32_t s = cblob_imageRle_init(&lazy, 1, 2, 4, 3, &none);
        EXPECT_TRUE(s >= 0 || lazy.constructed == 0) << "a failed init left the lazy record constructed";
        return s;
    });
    steps.then([&] {
        const State before = stateOf(&empty);
        const int32_t s = cblob_imageRle_init(&empty, 0, 0, 6, 2, &none);
        EXPECT_TRUE(s >= 0 || stateOf(&empty) == before) << "a failed init changed the record";
        return s;
    });
    cblob_imageRle_construct(&filled);
    steps.then([&] { return rletest::buildByFilling(&filled, kBinary, 1); }).then([&] {
        const int32_t s = cblob_imageRle_init(&filled, 0, 0, 5, 40, &none);
        EXPECT_TRUE(s >= 0 || (filled.rows == nullptr && filled.data != nullptr)) << "rows kept by a failed reset";
        return s;
    });
    for (cblob_imageRle *r : {&lazy, &empty, &filled}) cblob_imageRle_destruct(r);
    return steps.status();
}

// A run count of 0 leaves the pair packer no estimate: more blocks as it goes.
int32_t sweepFromTorv() {
    cblob_imageRle img = raw();
    const int32_t s = rletest::buildFromTorv(&img, kTallGrey, 0);
    EXPECT_TRUE(s >= 0 || img.constructed != 1) << "a failed build is constructed";
    if (s >= 0) cblob_imageRle_destruct(&img);
    return s;
}

// assign from owned storage (copied) and borrowed rows (shared), over a
// record with content and over a lazy one.
int32_t sweepAssign() {
    Rle owned, borrowed;
    cblob_imageRle content, lazy;
    cblob_imageRle_construct(&content);
    cblob_imageRle_construct(&lazy);
    Steps steps;
    steps.then([&] {
        return firstOf(
            {owned.build(greyFilled), borrowed.build(binaryBorrowed), rletest::buildFromTorv(&content, kGreyMask)});
    });
    for (const Rle *from : {&owned, &borrowed})
        for (cblob_imageRle *dst : {&content, &lazy})
            steps.then([&] {
                const State before = stateOf(dst);
                const int32_t s = cblob_imageRle_assign(dst, from->record());
                EXPECT_TRUE(s >= 0 || stateOf(dst) == before) << "a failed assign changed dst";
                return s;
            });
    cblob_imageRle_destruct(&content);
    cblob_imageRle_destruct(&lazy);
    return steps.status();
}

int32_t sweepCopies() {
    Rle owned, borrowed;
    Steps steps;
    steps.then([&] { return firstOf({owned.build(greyFilled), borrowed.build(binaryBorrowed)}); });
    for (auto copy : {&cblob_imageRle_constructCopy, &cblob_imageRle_constructDeepCopy})
        for (const Rle *from : {&owned, &borrowed})
            steps.then([&] {
                cblob_imageRle dst = raw();
                const int32_t s = copy(&dst, from->record());
                EXPECT_TRUE(s >= 0 || dst.constructed != 1) << "a failed copy is constructed";
                if (s >= 0) cblob_imageRle_destruct(&dst);
                return s;
            });
    return steps.status();
}

int32_t sweepStorageCopy() {
    Rle src;
    cblob_imageRleData_ copy;
    return Steps()
        .then([&] { return src.build(binaryFilled); })
        .then([&] { return cblob_imageRleData__constructCopy(&copy, src.record()->data); })
        .then([&] { return cblob_imageRleData__destruct(&copy); })
        .status();
}

int32_t sweepUniform() {
    const cmath_xformLinear scale = {{2, 0, 0, 2}, 1, 1};
    cmath_xformPtrhConst xf;
    cblob_imageRlePtrh h;
    std::memset(&h, 0xA5, sizeof h);  // raw storage
    const int32_t s = cmath_xformPtrhConst_constructLinear(&xf, &scale);
    if (s < 0) return s;
    const int32_t status = cblob_imageRlePtrh_constructUniform(&h, 5, 3, 300, &xf);
    EXPECT_TRUE(status >= 0 || isNull(&h) == 1) << "a failed uniform image leaves h null";
    if (status >= 0) cblob_imageRlePtrh_destruct(&h);
    cmath_xformPtrhConst_destruct(&xf);
    return status;
}

// Into an unbound image and into a bound one too small to draw in: both get
// new storage; a failure leaves them as they were.
int32_t sweepGetImage() {
    Steps steps;
    for (const Source &from : {greyFilled, binaryBorrowed})
        for (bool bound : {false, true}) {
            Rle src;
            Pixels8 small(2, 2);
            cimg_image unbound;
            cimg_image8_construct(&unbound);
            cimg_image &img = bound ? small.img : unbound;
            steps.then([&] { return src.build(from); }).then([&] {
                const cimg_image before = img;
                const int32_t s = cblob_imageRlePtrh_getImage(&src.h, &img);
                EXPECT_TRUE(s >= 0 || sameImage(img, before)) << "a failed getImage changed the image";
                return s;
            });
            cimg_image_destruct(&unbound);
        }
    return steps.status();
}

// Into an unbound image: a failure leaves it unbound.
int32_t sweepMaskAndCopy() {
    Steps steps;
    for (const Source &mask : {binaryFilled, greyPacked}) {
        Rle m;
        Pixels8 src;
        cimg_image dst;
        cimg_image8_construct(&dst);
        steps.then([&] { return m.build(mask); }).then([&] {
            const int32_t s = cblob_imageRlePtrh_maskAndCopyRegion(&src.img, &m.h, 1, 0, 9, 1, 0, &dst);
            EXPECT_TRUE(s >= 0 || (dst.pels == nullptr && dst.width == 0)) << "a failed copy bound dst";
            return s;
        });
        cimg_image_destruct(&dst);
    }
    return steps.status();
}

// The projections resize their output: a failure leaves it as it was.
int32_t sweepProjections() {
    Steps steps;
    for (const Source &from : {greyPacked, binaryFilled, binaryBorrowed})
        for (auto project :
             {&cblob_imageRlePtrh_projectVert, &cblob_imageRlePtrh_projectHoriz, &cblob_imageRlePtrh_projectDiag}) {
            Rle src;
            const uint32_t mark = 77;
            cstd_vector32 out;
            cstd_vector32_constructEmpty(&out);
            steps.then([&] {
                     return firstOf({src.build(from), cstd_vector32_resizeFill(&out, 1, &mark)});
                 })
                .then([&] {
                    const int32_t s = project(&src.h, &out);
                    EXPECT_TRUE(s >= 0 ||
                                (out.untyped.size == 1 && *static_cast<uint32_t *>(out.untyped.begin) == mark))
                        << "a failed projection changed its output";
                    return s;
                });
            cstd_vector32_destruct(&out);
        }
    return steps.status();
}

// Across (kind 0), along the columns and along the rows: a failure changes
// no output.
int32_t sweepProjectAngle() {
    Steps steps;
    const double directions[][2] = {{1, 2}, {0, 1}, {1, 0}};
    for (const Source &from : {greyFilled, greyPacked, binaryBorrowed})
        for (const auto &d : directions) {
            Rle src;
            const double mark = 0.5;
            const cmath_xformPtrhConst none = rletest::identity();
            cstd_vectord masses;
            cstd_vectord_constructEmpty(&masses);
            steps.then([&] {
                     return firstOf({src.build(from), cstd_vectord_resizeFill(&masses, 1, &mark)});
                 })
                .then([&] {
                    int32_t kind = -1;
                    double origin[2] = {-1, -1}, binSize = -1, first = -1, last = -1;
                    const int32_t s = cblob_imageRlePtrh_projectAngle(&src.h, d, &none, 1, &masses, &kind, origin,
                                                                      &binSize, &first, &last);
                    if (s < 0) {
                        EXPECT_TRUE(kind == -1 && origin[0] == -1 && origin[1] == -1 && binSize == -1 && first == -1 &&
                                    last == -1);
                        EXPECT_TRUE(masses.untyped.size == 1 && *static_cast<double *>(masses.untyped.begin) == mark);
                    }
                    return s;
                });
            cstd_vectord_destruct(&masses);
        }
    return steps.status();
}

int32_t sweepLifecycle() {
    cblob_imageRle lazy, full, filled;
    cblob_imageRleData_ data;
    const int32_t s = rletest::buildByFilling(&filled, kGrey, 1);
    if (s < 0) return s;
    return withoutAllocating([&] {
        return firstOf({cblob_imageRle_construct(&lazy), cblob_imageRle_destruct(&lazy),
            cblob_imageRle_construct_(&full), cblob_imageRle_destruct(&full), cblob_imageRle_clear(&filled),
            cblob_imageRle_destruct(&filled), cblob_imageRleData__construct(&data),
            cblob_imageRleData__destruct(&data)});
    });
}

// Handles on a record from the memory service; the last one frees it.
int32_t sweepHandles() {
    void *memory = nullptr;
    int32_t s = csys_memory_alloc_internal(sizeof(cblob_imageRle), &memory);
    auto *img = static_cast<cblob_imageRle *>(memory);
    if (s >= 0 && (s = rletest::buildFromTorv(img, kGrey)) < 0) csys_memory_free_internal(&memory);
    if (s < 0) return s;
    return withoutAllocating([&] {
        cblob_imageRlePtrh a, b, c;
        int32_t n = 0;
        cblob_imageRle *got = nullptr;
        return firstOf({cblob_imageRlePtrh_construct(&a), cblob_imageRlePtrh_attach(&a, img),
            cblob_imageRlePtrh_constructCopy(&b, &a), cblob_imageRlePtrh_construct(&c),
            cblob_imageRlePtrh_assign(&c, &b), cblob_imageRlePtrh_getIsNull(&c, &n),
            cblob_imageRlePtrh_getImageRle(&c, &got), cblob_imageRlePtrh_assignNull(&c), cblob_imageRlePtrh_detach(&b),
            cblob_imageRlePtrh_destruct(&c), cblob_imageRlePtrh_destruct(&b), cblob_imageRlePtrh_destruct(&a)});
    });
}

int32_t sweepTransforms() {
    Rle src;
    const cmath_xformLinear shift = {{1, 0, 0, 1}, 3, -2};
    cmath_xformPtrhConst xf, got;
    cmath_xformPtrhConst_construct(&got);
    int32_t s = firstOf({src.build(greyFilled), cmath_xformPtrhConst_constructLinear(&xf, &shift)});
    if (s < 0) return s;
    cblob_imageRle *img = src.record();
    s = withoutAllocating([&] {
        return firstOf(
            {cblob_imageRle_setImageFromClientXform(img, &xf), cblob_imageRle_getImageFromClientXform(img, &got),
             cblob_imageRle_setClientFromImageXform(img, &xf), cblob_imageRle_getClientFromImageXform(img, &got),
             cblob_imageRlePtrh_setImageFromClientXform(&src.h, &xf),
             cblob_imageRlePtrh_getImageFromClientXform(&src.h, &got),
             cblob_imageRlePtrh_setClientFromImageXform(&src.h, &xf),
             cblob_imageRlePtrh_getClientFromImageXform(&src.h, &got)});
    });
    cmath_xformPtrhConst_destruct(&got);
    cmath_xformPtrhConst_destruct(&xf);
    return s;
}

// Queries, statistics, pixels, equality, rendering and histograms read
// what the record holds: owned, packed and borrowed rows.
int32_t sweepQueries() {
    Steps steps;
    for (const Source &from : {greyFilled, greyPacked, binaryBorrowed, binaryFilled}) {
        Rle src, other;
        cstd_vector8 map;
        cstd_vector8_constructEmpty(&map);
        steps.then([&] { return firstOf({src.build(from), other.build(maskFilled), cstd_vector8_resize(&map, 256)}); });
        steps.then([&] {
            return withoutAllocating([&] {
                const cblob_imageRlePtrh *h = &src.h;
                const cblob_imageRle *img = src.record();
                Pixels8 target;
                int32_t i = 0;
                double d = 0;
                uint8_t pel = 0;
                cstd_point32 p{}, zero{0, 0};
                cstd_size32 size{};
                cstd_rect32 box{};
                cblob_rleRow *rows = nullptr;
                uint32_t hist[256] = {}, runs[256] = {};
                return firstOf({cblob_imageRlePtrh_getIsBinary(h, &i), cblob_imageRlePtrh_getOffset(h, &p),
                    cblob_imageRlePtrh_setOffset(&src.h, &zero), cblob_imageRlePtrh_getDimensions(h, &size),
                    cblob_imageRlePtrh_getBoundingBox(h, &box), cblob_imageRlePtrh_getNumRuns(h, &i),
                    cblob_imageRlePtrh_getRows(h, &rows), cblob_imageRle_getNumRunsWithLength(img, 3, &i),
                    cblob_imageRle_getNumRunsWithValue(img, 1, &i), cblob_imageRle_getAvgRunLength(img, &d),
                    cblob_imageRle_getAvgRunLengthWithValue(img, 0, &d),
                    cblob_imageRlePtrh_getNumRunsWithLength(h, 5, &i),
                    cblob_imageRlePtrh_getNumRunsWithValue(h, 7, &i), cblob_imageRlePtrh_getAvgRunLength(h, &d),
                    cblob_imageRlePtrh_getAvgRunLengthWithValue(h, 3, &d), cblob_imageRlePtrh_getPel8(h, 4, 2, &pel),
                    cblob_imageRlePtrh_compareEqual(h, &other.h, &i),
                    cblob_imageRlePtrh_renderInImage(h, &zero, &map, 0, &target.img),
                    cblob_imageRlePtrh_histo(h, hist, runs),
                    cblob_imageRlePtrh_maskAndHistogramRegion(&target.img, &other.h, 1, 0, 1, hist, 16)});
            });
        });
        cstd_vector8_destruct(&map);
    }
    return steps.status();
}

// ------------------------------------------ images, windows, histograms

// New storage for a wrapped buffer and for an unbound 16-bit image: a
// failure keeps what they had.
int32_t sweepAssignNew() {
    Pixels8 wrapped;
    cimg_image unbound;
    cimg_image16_construct(&unbound);
    Steps steps;
    for (cimg_image *img : {&wrapped.img, &unbound})
        steps.then([&] {
            const cimg_image before = *img;
            const int32_t s = cimg_image_assignNew(img, 3, 5);
            EXPECT_TRUE(s >= 0 || sameImage(*img, before)) << "a failed assignNew changed the image";
            return s;
        });
    cimg_image_destruct(&unbound);
    return steps.status();
}

int32_t sweepImages() {
    cimg_image owned, a, b, c, d;
    const cmath_xformLinear scale = {{2, 0, 0, 4}, 1, 0};
    cmath_xformPtrhConst xf, got;
    cimg_image8_construct(&owned);
    int32_t s = firstOf({cimg_image_assignNew(&owned, 4, 3), cmath_xformPtrhConst_constructLinear(&xf, &scale)});
    alignas(2) uint8_t buffer[8] = {};
    if (s >= 0)
        s = withoutAllocating([&] {
            int32_t i = 0, j = 0;
            const uint8_t *cp = nullptr;
            uint8_t *p = nullptr;
            return firstOf({cmath_xformPtrhConst_construct(&got), cimg_image8_construct(&a),
                cimg_image16_construct(&b), cimg_image_constructUnbound(&c, 8),
                cimg_imageConst_constructCopy(&d, &owned), cimg_imageConst_assign(&a, &d),
                cimg_image_initFromBuffer(&b, buffer, 16, 2, 2, 4, 1, 1), cimg_imageConst_getIsBound(&a, &i),
                cimg_image_getIsBound(&b, &i), cimg_image_setOrigin(&a, 5, 6), cimg_imageConst_getOrigin(&a, &i, &j),
                cimg_imageConst_getSize(&a, &i, &j), cimg_imageConst_getBitsPerPel(&b, &i),
                cimg_imageConst_pointToPel_internal(&a, 6, 7, &cp), cimg_image_pointToPel_internal(&b, 2, 2, &p),
                cimg_image_setClientFromImageXform(&a, &xf), cimg_imageConst_getClientFromImageXform(&a, &got),
                cimg_imageConst_getImageFromClientXform(&a, &got), cimg_image_setImageFromClientXform(&b, &got),
                cimg_imageConst_destruct(&d), cimg_image_destruct(&c), cimg_image_destruct(&b),
                cimg_image_destruct(&a), cmath_xformPtrhConst_destruct(&got)});
        });
    cmath_xformPtrhConst_destruct(&xf);
    cimg_image_destruct(&owned);
    return s;
}

int32_t sweepWindows() {
    Pixels8 px;
    return withoutAllocating([&] {
        cimg_windowConst cw, cv;
        cimg_window w, v;
        int32_t i = 0;
        const uint8_t *cp = nullptr;
        uint8_t *p = nullptr;
        return firstOf({cimg_windowConst_construct(&cw), cimg_window_construct(&w),
            cimg_windowConst_init(&cw, &px.img), cimg_window_init(&w, &px.img),
            cimg_windowConst_initWindow(&cv, &px.img, 1, 1, 3, 2), cimg_window_initWindow(&v, &px.img, 2, 0, 2, 4),
            cimg_windowConst_getWindow(&cw, &cv, 2, 2, 1, 1), cimg_window_getWindow(&w, &v, 2, 1, 2, 2),
            cimg_windowConst_initFromWindow(&cv, &w), cimg_windowConst_getIsBound(&cv, &i),
            cimg_window_getIsBound(&w, &i), cimg_windowConst_getRow(&cv, 1, &cp), cimg_window_getRow(&w, 0, &p)});
    });
}

int32_t sweepHistograms() {
    Pixels8 px;
    uint16_t wide[6] = {1, 2, 300, 4, 4, 1000};
    cimg_image img16;
    cimg_image16_construct(&img16);
    cimg_image_initFromBuffer(&img16, wide, 16, 3, 2, 6, 0, 0);
    const int32_t s = withoutAllocating([&] {
        cimg_windowConst w8, w16;
        uint32_t counts[256], counts16[1024];
        int32_t table[101];
        return firstOf({cimg_windowConst_init(&w8, &px.img), cimg_windowConst_init(&w16, &img16),
            cip_pelHistogramWindow8(&w8, counts), cip_pelHistogramWindow16(&w16, counts16, 1024),
            cip_pelHistogramStat_invCum(counts, 256, table)});
    });
    cimg_image_destruct(&img16);
    return s;
}

int32_t sweepRects() {
    return withoutAllocating([] {
        cstd_rect32 a, b, c;
        int32_t i = 0;
        return firstOf({cstd_rect32_init(&a, 1, 2, 5, 4), cstd_rect32_initNull(&b), cstd_rect32_getIsNull(&b, &i),
            cstd_rect32_init(&b, 3, 0, 9, 3), cstd_rect32_intersect(&c, &a, &b), cstd_rect32_getIsEqual(&a, &c, &i),
            cstd_rect32_getContainsPoint(&a, 2, 3, &i), cstd_rect32_getContainsRect(&a, &c, &i)});
    });
}

using Names = std::vector<std::string>;
Names cat(Names a, const Names &b, const Names &c = {}) {
    a.insert(a.end(), b.begin(), b.end());
    a.insert(a.end(), c.begin(), c.end());
    return a;
}

std::vector<Row> rows() {
    const std::initializer_list<const char *> kXforms = {"getImageFromClientXform", "getClientFromImageXform",
                                                         "setImageFromClientXform", "setClientFromImageXform"},
                                              kStats = {"getNumRunsWithLength", "getNumRunsWithValue",
                                                        "getAvgRunLength", "getAvgRunLengthWithValue"};
    for (int i = 0; i < 256; ++i) kTable[i] = static_cast<uint8_t>(i * 7);
    using H = const cblob_imageRlePtrh *;
    using I = const cimg_image *;
    return {
        allocates({"cblob_imageRle_init"}, &sweepInit),
        allocates({"cblob_imageRle_constructFromTORVRLE"}, &sweepFromTorv),
        allocates({"cblob_imageRle_assign"}, &sweepAssign),
        allocates({"cblob_imageRle_constructCopy", "cblob_imageRle_constructDeepCopy"}, &sweepCopies),
        allocates({"cblob_imageRleData__constructCopy"}, &sweepStorageCopy),
        allocates({"cblob_imageRlePtrh_constructUniform"}, &sweepUniform),
        allocates({"cblob_imageRlePtrh_getImage"}, &sweepGetImage),
        allocates({"cblob_imageRlePtrh_maskAndCopyRegion"}, &sweepMaskAndCopy),
        allocates(named("cblob_imageRlePtrh", {"projectVert", "projectHoriz", "projectDiag"}), &sweepProjections),
        allocates({"cblob_imageRlePtrh_projectAngle"}, &sweepProjectAngle),
        encodeRow("cblob_imageRlePtrh_encode",
                  [](cblob_imageRlePtrh *h, I i) { return cblob_imageRlePtrh_encode(h, i); }),
        encodeRow("cblob_imageRlePtrh_encodeMap8",
                  [](cblob_imageRlePtrh *h, I i) { return cblob_imageRlePtrh_encodeMap8(h, i, kTable, 100); }),
        encodeRow("cblob_imageRlePtrh_encodeHardThresh",
                  [](cblob_imageRlePtrh *h, I i) { return cblob_imageRlePtrh_encodeHardThresh(h, i, 40, 1); }),
        encodeRow("cblob_imageRlePtrh_encodeSoftThreshWithSoftness",
                  [](cblob_imageRlePtrh *h, I i) {
                      return cblob_imageRlePtrh_encodeSoftThreshWithSoftness(h, i, 5, 90, 6, 0);
                  }),
        encodeRow("cblob_imageRlePtrh_encodeThreshImage8",
                  [](cblob_imageRlePtrh *h, I i) {
                      return cblob_imageRlePtrh_encodeThreshImage8(h, i, kTable, i, kTable + 3, 256, 50);
                  }),
        encodeRow(
            "cblob_imageRlePtrh_encodeHardThreshPercent",
            [](cblob_imageRlePtrh *h, I i) { return cblob_imageRlePtrh_encodeHardThreshPercent(h, i, 5, 5, 50, 0); }),
        encodeRow("cblob_imageRlePtrh_encodeSoftThreshPercentWithSoftness",
                  [](cblob_imageRlePtrh *h, I i) {
                      return cblob_imageRlePtrh_encodeSoftThreshPercentWithSoftness(h, i, 1, 1, 20, 80, 4, 1);
                  }),
        deriveRow("cblob_imageRlePtrh_mask",
                  {{greyFilled, binaryBorrowed}, {binaryFilled, maskFilled}, {greyBorrowed, greyPacked}},
                  [](H a, H b, cblob_imageRlePtrh *r) { return cblob_imageRlePtrh_mask(a, b, r, 1, 0, 1); }),
        deriveRow("cblob_imageRlePtrh_subWindow", {{greyFilled, greyFilled}, {binaryFilled, binaryFilled}},
                  [](H a, H, cblob_imageRlePtrh *r) {
                      const cstd_rect32 rect{1, 1, 3, 2};
                      return cblob_imageRlePtrh_subWindow(a, &rect, r);
                  }),
        deriveRow(
            "cblob_imageRlePtrh_combine",
            {{greyFilled, binaryBorrowed}, {binaryBorrowed, maskFilled}, {greyPacked, greyFilled}},
            [](H a, H b, cblob_imageRlePtrh *r) { return cblob_imageRlePtrh_combine(1, -2, a, b, kTable, 256, 0, r); }),
        deriveRow("cblob_imageRlePtrh_map", {{greyPacked, greyPacked}, {binaryFilled, binaryFilled}},
                  [](H a, H, cblob_imageRlePtrh *r) { return cblob_imageRlePtrh_map(a, kTable, 256, r); }),
        // Every operation code from b (owned grey rows, borrowed binary
        // ones), then the result handle as its own source.
        deriveRow("cblob_imageRlePtrh_gmorph", {{greyFilled, greyFilled}, {binaryBorrowed, binaryBorrowed}},
                  [](H, H b, cblob_imageRlePtrh *r) {
                      Steps steps;
                      for (cblob_morphOp op = 0; op < 12; ++op)
                          steps.then([&] { return cblob_imageRlePtrh_gmorph(b, r, op); });
                      return steps.then([&] { return cblob_imageRlePtrh_gmorph(r, r, 8); }).status();
                  }),
        noAllocation({"cblob_imageRle_construct", "cblob_imageRle_construct_", "cblob_imageRle_clear",
                      "cblob_imageRle_destruct", "cblob_imageRleData__construct", "cblob_imageRleData__destruct"},
                     &sweepLifecycle),
        noAllocation(named("cblob_imageRlePtrh", {"construct", "constructCopy", "attach", "detach", "assign",
                                                  "assignNull", "destruct", "getIsNull", "getImageRle"}),
                     &sweepHandles),
        noAllocation(cat(named("cblob_imageRle", kXforms), named("cblob_imageRlePtrh", kXforms)), &sweepTransforms),
        noAllocation(
            cat(named("cblob_imageRlePtrh",
                      {"getIsBinary", "getOffset", "setOffset", "getDimensions", "getBoundingBox", "getNumRuns",
                       "getRows", "getPel8", "compareEqual", "renderInImage", "histo", "maskAndHistogramRegion"}),
                named("cblob_imageRlePtrh", kStats), named("cblob_imageRle", kStats)),
            &sweepQueries),
        allocates({"cimg_image_assignNew"}, &sweepAssignNew),
        noAllocation(
            cat({"cimg_image8_construct", "cimg_image16_construct"},
                named("cimg_image", {"constructUnbound", "destruct", "initFromBuffer", "getIsBound", "setOrigin",
                                     "pointToPel_internal", "setClientFromImageXform", "setImageFromClientXform"}),
                named("cimg_imageConst",
                      {"constructCopy", "assign", "destruct", "getIsBound", "getOrigin", "getSize", "getBitsPerPel",
                       "pointToPel_internal", "getClientFromImageXform", "getImageFromClientXform"})),
            &sweepImages),
        noAllocation(
            cat(named("cimg_windowConst",
                      {"construct", "init", "initWindow", "getWindow", "initFromWindow", "getIsBound", "getRow"}),
                named("cimg_window", {"construct", "init", "initWindow", "getWindow", "getIsBound", "getRow"})),
            &sweepWindows),
        noAllocation({"cip_pelHistogramWindow8", "cip_pelHistogramWindow16", "cip_pelHistogramStat_invCum"},
                     &sweepHistograms),
        noAllocation(named("cstd_rect32", {"init", "initNull", "getIsNull", "intersect", "getIsEqual",
                                           "getContainsPoint", "getContainsRect"}),
                     &sweepRects),
    };
}

const Registrar kRleImages{"RleImages", &rows};

}  // namespace

// Sweep rows of blobs, result sets, measures, boundaries, runs and run
// parameters. An allocating row runs a tiny scene (6 x 5 pixels: a ring with
// a hole, a small blob, a dot) inside its call, so the failures also meet the
// run that built the fixture; the state checks apply to the call the row is
// about.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "cblob/cblob.h"
#include "support/api_sweep.hpp"
#include "support/run_support.hpp"

namespace {

using namespace cblobtest::sweep;
using runtest::GreyImage;
using Call = std::function<int32_t()>;
// A step of inTurn: the call as a closure over the caller's variables.
#define DO(...) [&] { return __VA_ARGS__; }

// The calls in turn while they succeed: the first failing status, or 0.
int32_t inTurn(std::initializer_list<Call> calls) {
    Steps s;
    for (const Call &c : calls) s.then(c);
    return s.status();
}

std::vector<uint16_t> sceneValues(int scale) {
    std::vector<uint16_t> v = {1, 1, 1, 0, 0, 0,  //
                               1, 0, 1, 0, 0, 1,  //
                               1, 1, 1, 0, 1, 1,  //
                               0, 0, 0, 0, 0, 0,  //
                               0, 1, 0, 0, 0, 0};
    for (uint16_t &x : v) x = static_cast<uint16_t>(x * scale);
    return v;
}

// The scene in 8 and 16 bits, a mask without the last column (also as TORV
// rows and as a run-length image), the scene as a grey run-length image, and
// a 100 x 100 image that a run on two threads labels in two bands.
struct Scene {
    GreyImage img8{6, 5, 8, sceneValues(180)}, img16{6, 5, 16, sceneValues(45000)};
    GreyImage mask{6, 5, 8, std::vector<uint16_t>{1, 1, 1, 1, 1, 0, 1, 1, 1, 1, 1, 0, 1, 1, 1, 1, 1, 0,
                                                  1, 1, 1, 1, 1, 0, 1, 1, 1, 1, 1, 0}};
    runtest::TorvMask torv{mask};
    runtest::RleHandle rle8, rleMask;
    GreyImage large{100, 100, 16, [] {
                        std::vector<uint16_t> v(100 * 100, 0);
                        for (int i = 0; i < 100 * 100; ++i)
                            if ((i % 100 / 7 + i / 500) % 3 == 0 && i % 100 % 7 && i / 100 % 5) v[i] = 60000;
                        return v;
                    }()};
    Scene() {
        EXPECT_EQ(cblob_imageRlePtrh_encode(&rle8.h, img8.image()), 0);
        EXPECT_EQ(cblob_imageRlePtrh_encodeHardThresh(&rleMask.h, mask.image(), 1, 0), 0);
    }
};

const Scene &scene() {
    static const Scene s;
    return s;
}

// Client transforms: two perspective ones.
const double kPerspective[9] = {1.5, 0.1, 4.0, -0.05, 1.2, -3.0, 2e-4, 1e-4, 1.0};
const double kOtherPerspective[9] = {0.9, -0.2, 1.0, 0.15, 1.1, 2.0, -1e-4, 3e-4, 1.0};

// How a fixture run analyses the 8-bit scene: a hard threshold at 100
// keeping per-blob images, the same without them, the same with the mask
// given and kept (which keeps per-blob images too), or grey runs of the
// pixel values with per-blob images and a perspective client transform (so
// that each blob has a transform of its own).
enum class Kind { Binary, Plain, Masked, Grey };

// Run parameters and a result set made inside a row's call and ended at
// scope exit.
struct Ran {
    cblob_runParams p;
    cblob_resultSet rs;
    bool haveP = false, haveRs = false;
    int32_t make() {
        return inTurn({DO(cblob_runParams_construct(&p)), DO(haveP = true, cblob_resultSet_construct(&rs)),
                       DO(haveRs = true, cblob_runParams_setSegmentationHardThresh(&p, 100, 0))});
    }
    int32_t run(Kind kind = Kind::Binary) {
        const cimg_imageConst *image = scene().img8.image(), *mask = scene().mask.image();
        int32_t s = make();
        if (s < 0) return s;
        p.keepBlobImages = kind == Kind::Binary || kind == Kind::Grey;
        p.keepMaskImage = kind == Kind::Masked;  // per-blob images through the kept mask
        if (kind != Kind::Grey) return cblob_run8(image, kind == Kind::Masked ? mask : nullptr, &p, &rs);
        cimg_windowConst w;
        cmath_xformPtrhConst x;
        cimg_windowConst_construct(&w);
        s = inTurn({DO(cblob_runParams_setSegmentationNone(&p, 4)), DO(cimg_windowConst_init(&w, image)),
                    DO(cmath_xformPtrhConst_constructPerspective(&x, kPerspective))});
        if (s < 0) return s;
        s = cblob_runWindow8(&w, &x, nullptr, &p, &rs);
        cmath_xformPtrhConst_destruct(&x);
        return s;
    }
    ~Ran() {
        if (haveRs) { EXPECT_EQ(cblob_resultSet_destruct(&rs), 0); }
        if (haveP) { EXPECT_EQ(cblob_runParams_destruct(&p), 0); }
    }
};

template <class T>
T *marker() {
    return reinterpret_cast<T *>(uintptr_t{0x40});
}

double asNumber(const void *p) { return static_cast<double>(reinterpret_cast<uintptr_t>(p)); }

// What filters, the sort and a client transform change may change: the
// view, the current links, the stored filters and sort; the blobs' client
// values and transforms, the result set's transform, the blob images'
// transforms and (with `cache`) the measure cache's valid bits.
std::vector<double> stateOf(const cblob_resultSet &rs, bool cache = true) {
    std::vector<double> s = {double(rs.numViewBlobs), asNumber(rs.viewFirstTopLevelBlob),
                             asNumber(rs.clientFromImage.ptrh.shared)};
    for (int32_t i = 0; i < rs.numViewBlobs; ++i) s.push_back(asNumber(rs.view[i]));
    for (int32_t i = 0; i < rs.numBlobs; ++i) {
        const cblob_blob *b = rs.allBlobs[i];
        const cmath_xformLinear &x = *b->clientFromImage;
        s.insert(s.end(), {asNumber(b->curFirstChild), asNumber(b->curLastChild), asNumber(b->curNextSibling),
                           asNumber(b->curPrevSibling), double(b->curNumChildren), b->area, b->centerOfMassX,
                           b->centerOfMassY, b->inertiaX, b->inertiaY, b->inertiaMin, b->inertiaMax, b->elongation,
                           b->angle, asNumber(&x), x.matrix.m00, x.matrix.m01, x.matrix.m10, x.matrix.m11, x.tx, x.ty});
    }
    const cblob_resultSetPostProcessing_ *pp = rs.postProcessing;
    const auto *f = static_cast<const cblob_filter *>(pp->filters.untyped.begin);
    for (intptr_t i = 0; i < pp->filters.untyped.size; ++i)
        s.insert(s.end(), {double(f[i].measure), f[i].low, f[i].high, double(f[i].excludeRange)});
    s.insert(s.end(), {double(pp->sortMeasure), double(pp->sortDirection)});
    const cstd_vector_ &bits = pp->validBits.untyped;
    for (intptr_t i = 0; cache && i < bits.size; ++i) s.push_back(static_cast<const uint32_t *>(bits.begin)[i]);
    const cstd_vector_ &images = rs.blobDb->images.untyped;
    for (intptr_t i = 0; i < images.size; ++i)
        s.push_back(asNumber(static_cast<const cblob_imageRle *>(images.begin)[i].imageFromClient.ptrh.shared));
    return s;
}

// What assign may change in a post-processing record.
std::vector<double> recordState(const cblob_resultSetPostProcessing_ &pp) {
    return {pp.weightScale, double(pp.connectivityType), double(pp.excludeMode), pp.excludeValue, pp.defaultAngle,
            double(pp.sortDirection), double(pp.sortMeasure), double(pp.filters.untyped.size),
            asNumber(pp.filters.untyped.begin), double(pp.measureData.untyped.size),
            asNumber(pp.measureData.untyped.begin), double(pp.validBits.untyped.size),
            asNumber(pp.validBits.untyped.begin)};
}

using Edit = std::function<int32_t(cblob_resultSet *)>;

int32_t none(cblob_resultSet *) { return 0; }

int32_t addFilter(cblob_resultSet *rs, cblob_measure m, double low, double high) {
    return cblob_resultSet_addAndApplyFilter(rs, cblob_filter{m, low, high, 0});
}

// The extrema exclusion on (an amount of 0.5 pixels) at a default angle of 0.3.
int32_t excluding(cblob_resultSet *rs) {
    const double angle = 0.3;
    return cblob_resultSet_setExcludeExtrema(rs, cblob_excludeAmountChecked, 0.5, &angle);
}

// The perimeter of the first blob in the measure cache.
int32_t cacheOne(cblob_resultSet *rs) {
    double v = 0;
    return cblob_blob_getMeasure(rs->allBlobs[0], cblob_measurePerimeter, 0, &v);
}

// A run with a filter, a sort and cached measures: the source of copies.
int32_t filteredRun(Ran *r) {
    double v = 0;
    return inTurn({DO(r->run()), DO(addFilter(&r->rs, cblob_measureArea, 1.5, 100)),
                   DO(cblob_resultSet_sort(&r->rs, cblob_measurePerimeter, 0)),
                   DO(cblob_blob_getMeasure(r->rs.allBlobs[0], cblob_measureAngleBoxWidth, 0, &v))});
}

// Calls that change a result set after a run and `prepare`, in turn: the
// state reads as before a call after its failure, and otherwise not. Filters
// and the sort keep the measures they computed on the way (cache false).
Row editRow(const char *name, Edit prepare, std::vector<Edit> edits, bool cache = false) {
    return allocates({name}, [=] {
        Ran r;
        int32_t s = inTurn({DO(r.run()), DO(prepare(&r.rs))});
        for (size_t i = 0; s >= 0 && i < edits.size(); ++i) {
            const std::vector<double> before = stateOf(r.rs, cache);
            s = edits[i](&r.rs);
            EXPECT_EQ(stateOf(r.rs, cache) == before, s < 0) << "call " << i << ", status " << s;
        }
        return s;
    });
}

Row editRow(const char *name, Edit prepare, Edit edit) { return editRow(name, prepare, std::vector<Edit>{edit}); }

// Everything a blob query may write, filled with a pattern before each call.
struct Outputs {
    cmath_shapeAffineRect rect;
    double center[2], aspect, value, median[2], perimeter, compactness, acircularity;
    int32_t start[2], isInterior;
    Outputs() { std::memset(this, 0x5A, sizeof(*this)); }
    bool untouched() const {
        const Outputs fresh;
        return !std::memcmp(this, &fresh, sizeof(*this));
    }
};

using Query = std::function<int32_t(cblob_blob *, Outputs *)>;
#define QUERY(expr) Query([](cblob_blob * b, Outputs * o) { return expr; })

// Queries of every blob of a fresh run of each kind, whose rows are
// extracted anew (the run's cached rows are dropped): a failing query writes
// none of its outputs and leaves the measures cached before valid (the first
// blob's perimeter reads the same, also while every allocation fails).
Row queryRow(const char *name, std::vector<Query> queries, Edit prepare = &none,
             std::vector<Kind> kinds = {Kind::Binary, Kind::Grey}) {
    return allocates({name}, [=] {
        int32_t s = 0;
        for (size_t k = 0; s >= 0 && k < kinds.size(); ++k) {
            Ran r;
            double kept = 0;
            s = inTurn({DO(r.run(kinds[k])), DO(prepare(&r.rs)),
                        DO(cblob_blob_getMeasure(r.rs.allBlobs[0], cblob_measurePerimeter, 0, &kept))});
            for (int32_t i = 0; s >= 0 && i < r.rs.numBlobs; ++i) r.rs.allBlobs[i]->cachedRuns = nullptr;
            for (int32_t i = 0; s >= 0 && i < r.rs.numBlobs; ++i)
                for (size_t q = 0; s >= 0 && q < queries.size(); ++q) {
                    Outputs out;
                    s = queries[q](r.rs.allBlobs[i], &out);
                    if (s >= 0) continue;
                    EXPECT_TRUE(out.untouched()) << "a failed query wrote an output";
                    double again = -1;
                    const int32_t t = cblob_blob_getMeasure(r.rs.allBlobs[0], cblob_measurePerimeter, 0, &again);
                    EXPECT_TRUE(t == 0 && again == kept) << "a failed query dropped a cached measure";
                }
        }
        return s;
    });
}

// getMeasure (no angle) or getMeasureAtAngle of each code.
std::vector<Query> measures(std::vector<cblob_measure> codes, int32_t exclusion, const double *angle) {
    std::vector<Query> out;
    for (cblob_measure c : codes)
        out.push_back([=](cblob_blob *b, Outputs *o) {
            return angle ? cblob_blob_getMeasureAtAngle(b, c, exclusion, &o->value, angle)
                         : cblob_blob_getMeasure(b, c, exclusion, &o->value);
        });
    return out;
}

// A boundary call whose chain vector holds {7, 7} before: unchanged on failure.
Row chainRow(const char *name, std::function<int32_t(cblob_blob *, Outputs *, cstd_vector8 *)> trace) {
    return queryRow(name, {[=](cblob_blob *b, Outputs *out) {
                        cstd_vector8 chain;
                        const uint8_t seven = 7;
                        int32_t s = cstd_vector8_constructFill(&chain, 2, &seven);
                        if (s < 0) return s;
                        s = trace(b, out, &chain);
                        const uint8_t *c = static_cast<uint8_t *>(chain.untyped.begin);
                        EXPECT_TRUE(s >= 0 || (chain.untyped.size == 2 && c[1] == 7));
                        cstd_vector8_destruct(&chain);
                        return s;
                    }});
}

const double kAngle = 0.7;

std::vector<Row> measureRows() {
    return {
        queryRow("cblob_blob_getMeasure", measures({4, 14, 30, 41, 16, 1}, 1, nullptr), &excluding),
        queryRow("cblob_blob_getMeasureAtAngle", measures({26, 36, 47, 16, 15}, 1, &kAngle), &excluding),
        queryRow("cblob_blob_getBoundingBox", {QUERY(cblob_blob_getBoundingBox(b, &o->rect))}, &excluding),
        queryRow("cblob_blob_getBoundingBoxAtAngle", {QUERY(cblob_blob_getBoundingBoxAtAngle(b, &kAngle, &o->rect))}),
        queryRow("cblob_blob_getBoundingBoxAndExcludeExtrema",
                 {QUERY(cblob_blob_getBoundingBoxAndExcludeExtrema(b, 1, &o->rect))}, &excluding),
        queryRow("cblob_blob_getBoundingBoxAtAngleAndExcludeExtrema",
                 {QUERY(cblob_blob_getBoundingBoxAtAngleAndExcludeExtrema(b, 1, &kAngle, &o->rect, o->center,
                                                                          &o->aspect))},
                 &excluding),
        queryRow("cblob_blob_getMedian", {QUERY(cblob_blob_getMedian(b, &kAngle, o->median))}),
        // With the mask kept, the blobs off the window edge compare their runs with it.
        queryRow("cblob_blob_getIsInterior", {QUERY(cblob_blob_getIsInterior(b, &o->isInterior))}, &none,
                 {Kind::Masked}),
        // With the first blob's perimeter cached before: it stays valid after a failure.
        allocates({"cblob_resultSet_precomputeMeasures"},
                  [] {
                      Ran r;
                      cstd_vector_cblob_measure codes;
                      const cblob_measure list[] = {3, 26, 37, 16};
                      double kept = 0, again = -1;
                      const int32_t s =
                          inTurn({DO(r.run()), DO(excluding(&r.rs)),
                                  DO(cblob_blob_getMeasure(r.rs.allBlobs[0], 4, 0, &kept)),
                                  DO(cstd_vector_cblob_measure_constructFromBlock(&codes, list, 4))});
                      if (s < 0) return s;
                      const int32_t pre = cblob_resultSet_precomputeMeasures(&r.rs, &codes);
                      if (pre < 0) {
                          EXPECT_TRUE(!cblob_blob_getMeasure(r.rs.allBlobs[0], 4, 0, &again) && again == kept);
                      }
                      cstd_vector_cblob_measure_destruct(&codes);
                      return pre;
                  }),
        chainRow("cblob_blob_getBoundaryChainCode",
                 [](cblob_blob *b, Outputs *o, cstd_vector8 *c) {
                     return cblob_blob_getBoundaryChainCode(b, o->start, c);
                 }),
        chainRow("cblob_blob_getBoundaryChainCodeAndMeasures",
                 [](cblob_blob *b, Outputs *o, cstd_vector8 *c) {
                     return cblob_blob_getBoundaryChainCodeAndMeasures(b, o->start, c, &o->perimeter, &o->compactness,
                                                                       &o->acircularity);
                 }),
        chainRow("cblob_blob_getBoundaryChainCodeAndPrincipalAxisBoundingBox",
                 [](cblob_blob *b, Outputs *o, cstd_vector8 *c) {
                     return cblob_blob_getBoundaryChainCodeAndPrincipalAxisBoundingBox(b, o->start, c, &o->rect,
                                                                                       o->center, &o->aspect);
                 }),
    };
}

// ------------------------------------------------------------------ runs

using Setup = std::function<int32_t(cblob_runParams *)>;

// The job group's thread count for as long as it lives.
struct Threads {
    int32_t saved = 1;
    explicit Threads(int32_t n) {
        csys_job_getThreadCount(&saved);
        csys_job_setThreadCount(n);
    }
    ~Threads() { csys_job_setThreadCount(saved); }
};

int32_t hard(cblob_runParams *p) { return cblob_runParams_setSegmentationHardThresh(p, 100, 0); }
int32_t keepAll(cblob_runParams *p) {
    p->keepBlobImages = p->keepThresholdedImage = p->keepMorphedThresholdedImage = 1;
    p->keepMaskedAndThresholdedImage = p->keepMaskImage = 1;
    return hard(p);
}
int32_t labelled(cblob_runParams *p) {
    p->connectivityType = cblob_connectivityLabelled;
    p->keepBlobImages = 1;
    return cblob_runParams_setSegmentationNone(p, 1);
}
int32_t grey(cblob_runParams *p) { return cblob_runParams_setSegmentationNone(p, 9); }
int32_t hard16(cblob_runParams *p) { return cblob_runParams_setSegmentationHardThresh(p, 30000, 0); }
int32_t hard16Kept(cblob_runParams *p) {
    p->keepThresholdedImage = p->keepBlobImages = 1;
    return hard16(p);
}
int32_t soft16(cblob_runParams *p) {
    p->keepThresholdedImage = 1;
    return cblob_runParams_setSegmentationSoftThreshWithSoftness(p, 10000, 40000, 3, 0);
}
// One morphology operation before `then`.
Setup morph(cblob_morphOp op, Setup then) {
    return [=](cblob_runParams *p) {
        return inTurn({DO(cstd_vector_cblob_morphOp_pushBack(&p->morphOps, &op)), DO(then(p))});
    };
}

// An entry point run once per setup into one result set. After a failure
// the result set holds no blob its arrays lack and every blob is its own;
// a success finds blobs.
using RunCall = std::function<int32_t(cblob_runParams *, cblob_resultSet *)>;
Row runRow(const char *name, std::vector<Setup> setups, RunCall run, int32_t threads = 1) {
    return allocates({name}, [=] {
        Threads t(threads);
        Ran r;
        int32_t s = r.make();
        for (size_t i = 0; s >= 0 && i < setups.size(); ++i) {
            cblob_runParams p;
            s = cblob_runParams_construct(&p);
            if (s < 0) break;
            s = inTurn({DO(setups[i](&p)), DO(run(&p, &r.rs))});
            const cblob_resultSet &rs = r.rs;
            EXPECT_TRUE(rs.numViewBlobs <= rs.numBlobs && (rs.allBlobs || !rs.numBlobs));
            for (int32_t b = 0; rs.allBlobs && b < rs.numBlobs; ++b) EXPECT_EQ(rs.allBlobs[b]->owner, &rs);
            if (s >= 0) { EXPECT_GT(rs.numBlobs, 0) << "setup " << i; }
            cblob_runParams_destruct(&p);
        }
        return s;
    });
}

std::vector<Row> runRows() {
    const Scene *sc = &scene();
    const cimg_imageConst *img8 = sc->img8.image(), *img16 = sc->img16.image(), *mask = sc->mask.image();
    const uint8_t *const *torv = sc->torv.rows.data();
    const cstd_rect32 *rect = &sc->torv.rect;
    const cblob_imageRlePtrh *rle = &sc->rle8.h, *rleMask = &sc->rleMask.h;
    return {
        runRow("cblob_run8", {hard, morph(cblob_morph_dilate3x3, keepAll), labelled},
               [=](auto p, auto rs) { return cblob_run8(img8, mask, p, rs); }),
        runRow("cblob_run16", {hard16, soft16, morph(cblob_morph_close1x3, hard16Kept)},
               [=](auto p, auto rs) { return cblob_run16(img16, nullptr, p, rs); }),
        // Windows of the image and the mask, with a perspective client transform.
        runRow("cblob_runWindow8", {hard, keepAll},
               [=](auto p, auto rs) {
                   cimg_windowConst w, m;
                   cmath_xformPtrhConst x;
                   cimg_windowConst_construct(&w);
                   cimg_windowConst_construct(&m);
                   int32_t s = inTurn({DO(cimg_windowConst_initWindow(&w, img8, 1, 0, 5, 4)),
                                       DO(cimg_windowConst_initWindow(&m, mask, 1, 0, 5, 4)),
                                       DO(cmath_xformPtrhConst_constructPerspective(&x, kPerspective))});
                   if (s < 0) return s;
                   s = cblob_runWindow8(&w, &x, &m, p, rs);
                   cmath_xformPtrhConst_destruct(&x);
                   return s;
               }),
        // Two bands on two threads.
        runRow("cblob_runWindow16", {hard16, hard16Kept},
               [=](auto p, auto rs) {
                   cimg_windowConst w;
                   cimg_windowConst_construct(&w);
                   return inTurn({DO(cimg_windowConst_init(&w, sc->large.image())),
                                  DO(cblob_runWindow16(&w, nullptr, nullptr, p, rs))});
               },
               2),
        runRow("cblob_run8_withRleMask", {hard, keepAll},
               [=](auto p, auto rs) { return cblob_run8_withRleMask(img8, rleMask, p, rs); }),
        runRow("cblob_run16_withRleMask", {hard16, morph(cblob_morph_erode1x3, hard16Kept)},
               [=](auto p, auto rs) { return cblob_run16_withRleMask(img16, rleMask, p, rs); }),
        runRow("cblob_run8_withTORVRleMask", {hard, keepAll},
               [=](auto p, auto rs) { return cblob_run8_withTORVRleMask(img8, torv, rect, p, rs); }),
        runRow("cblob_run16_withTORVRleMask", {hard16Kept},
               [=](auto p, auto rs) { return cblob_run16_withTORVRleMask(img16, torv, rect, p, rs); }),
        runRow("cblob_runRle8_withRleMask", {grey, labelled, morph(cblob_morph_open3x1, keepAll)},
               [=](auto p, auto rs) { return cblob_runRle8_withRleMask(rle, rleMask, p, rs); }),
        runRow("cblob_runRle8_withMask8", {grey, keepAll},
               [=](auto p, auto rs) { return cblob_runRle8_withMask8(rle, mask, p, rs); }),
        runRow("cblob_runRle8_withTORVRleMask", {grey, hard},
               [=](auto p, auto rs) { return cblob_runRle8_withTORVRleMask(rle, nullptr, rect, p, rs); }),
    };
}

// ------------------------------------------------------- run parameters

// Run parameters with a morphology step, threshold images of both depths and
// then a map of 3 entries: the source of copies and the start of setters.
struct FullParams {
    cblob_runParams p;
    bool made = false;
    int32_t make() {
        const uint8_t map[3] = {0, 1, 2};
        const uint16_t map16[4] = {0, 1, 2, 3};
        const cblob_morphOp op = cblob_morph_open3x3;
        const cimg_imageConst *t8 = scene().img8.image(), *t16 = scene().img16.image();
        return inTurn({DO(cblob_runParams_construct(&p)),
                       DO(made = true, cstd_vector_cblob_morphOp_pushBack(&p.morphOps, &op)),
                       DO(cblob_runParams_setSegmentationThreshImage16(&p, 3, map16, t16, map, 4, 3)),
                       DO(cblob_runParams_setSegmentationThreshImage8(&p, 3, map, t8, map, 3, 3)),
                       DO(cblob_runParams_setSegmentationMap(&p, 2, map, 3))});
    }
    ~FullParams() {
        if (made) { EXPECT_EQ(cblob_runParams_destruct(&p), 0); }
    }
};

// The fields of run parameters but the morphology vector (and scaleVal).
std::vector<double> paramsState(const cblob_runParams &p, bool withScale = true) {
    return {double(p.connectivityType), double(p.keepBlobImages), double(p.thresh), double(p.highThresh),
            double(p.invert), double(p.segmentationType), asNumber(p.map), asNumber(p.threshMap8),
            asNumber(p.threshMap16), double(p.mapSize), double(p.threshMapSize), withScale ? double(p.scaleVal) : 0,
            double(p.softness), double(p.softnessFixed), p.lowTailPercent, double(p.isThreshPercent),
            asNumber(p.threshImage8), asNumber(p.threshImage16), p.threshImage8 ? asNumber(p.threshImage8->pels) : 0,
            p.threshImage16 ? asNumber(p.threshImage16->pels) : 0};
}

// A setter on full run parameters: a failure may change scaleVal only.
Row setterRow(const char *name, std::function<int32_t(cblob_runParams *)> set) {
    return allocates({name}, [=] {
        FullParams f;
        int32_t s = f.make();
        if (s < 0) return s;
        const std::vector<double> before = paramsState(f.p, false);
        s = set(&f.p);
        if (s < 0) { EXPECT_EQ(paramsState(f.p, false), before); }
        return s;
    });
}

std::vector<Row> runParamsRows() {
    static const uint8_t map[5] = {0, 1, 1, 2, 2};
    static const uint16_t map16[2] = {5, 6};
    return {
        setterRow("cblob_runParams_setSegmentationMap",
                  [](cblob_runParams *p) { return cblob_runParams_setSegmentationMap(p, 2, map, 5); }),
        setterRow("cblob_runParams_setSegmentationThreshImage8",
                  [](cblob_runParams *p) {
                      return cblob_runParams_setSegmentationThreshImage8(p, 2, map, scene().mask.image(), map, 5, 4);
                  }),
        setterRow("cblob_runParams_setSegmentationThreshImage16",
                  [](cblob_runParams *p) {
                      const cimg_imageConst *image = scene().img16.image();
                      return cblob_runParams_setSegmentationThreshImage16(p, 2, map16, image, map, 2, 5);
                  }),
        // Into parameters with a shorter map and no threshold images, so that every
        // table and image object is new: a failure leaves the morphology vector
        // assigned and the rest as it was.
        allocates({"cblob_runParams_assign"},
                  [] {
                      FullParams f;
                      cblob_runParams q;
                      cblob_runParams_construct(&q);  // never allocates
                      const int32_t s = inTurn({DO(f.make()),
                                                DO(cblob_runParams_setSegmentationMap(&q, 1, map, 2)), [&] {
                                                    const std::vector<double> before = paramsState(q);
                                                    const int32_t a = cblob_runParams_assign(&q, &f.p);
                                                    if (a < 0) { EXPECT_EQ(paramsState(q), before); }
                                                    return a;
                                                }});
                      EXPECT_EQ(cblob_runParams_destruct(&q), 0);
                      return s;
                  }),
        allocates({"cblob_runParams_constructCopy"},
                  [] {
                      FullParams f;
                      cblob_runParams q;
                      const int32_t s = inTurn({DO(f.make()), DO(cblob_runParams_constructCopy(&q, &f.p))});
                      if (s >= 0) { EXPECT_EQ(cblob_runParams_destruct(&q), 0); }
                      return s;
                  }),
        noAllocation(
            named("cblob_runParams",
                  {"construct", "destruct", "setSegmentationNone", "setSegmentationHardThresh",
                   "setSegmentationHardThreshPercent", "setSegmentationSoftThresh",
                   "setSegmentationSoftThreshWithSoftness", "setSegmentationSoftThreshPercent",
                   "setSegmentationSoftThreshPercentWithSoftness", "getSegmentationType", "getThresh",
                   "getHighThresh", "getInvert", "getIsThreshPercent", "getMap", "getPostMap", "getThreshImage",
                   "getScaleVal", "getSoftness", "getLowTailPercent", "getHighTailPercent"}),
            [] {
                FullParams f;
                cblob_runParams *p = &f.p, q;
                // Back to type 3 with tables of the same sizes, whose blocks are reused.
                const int32_t s = inTurn({DO(f.make()), [&] {
                                              return cblob_runParams_setSegmentationThreshImage8(
                                                  p, 3, p->threshMap8, p->threshImage8, p->map, 3, 3);
                                          }});
                if (s < 0) return s;
                const uint8_t *m8 = nullptr;
                const uint16_t *m16 = nullptr;
                const cimg_imageConst *i8 = nullptr, *i16 = nullptr;
                int32_t n = 0;
                float pc = 0;
                return withoutAllocating([&] {
                    return inTurn({
                        DO(cblob_runParams_construct(&q)), DO(cblob_runParams_destruct(&q)),
                        DO(cblob_runParams_getSegmentationType(p, &n)), DO(cblob_runParams_getMap(p, &m8, &m16, &n)),
                        DO(cblob_runParams_getPostMap(p, &m8, &n)), DO(cblob_runParams_getThreshImage(p, &i8, &i16)),
                        DO(cblob_runParams_getScaleVal(p, &n)), DO(cblob_runParams_getSoftness(p, &n)),
                        DO(cblob_runParams_getLowTailPercent(p, &pc)), DO(cblob_runParams_getHighTailPercent(p, &pc)),
                        DO(cblob_runParams_setSegmentationNone(p, 3)),
                        DO(cblob_runParams_setSegmentationHardThresh(p, 5, 1)),
                        DO(cblob_runParams_setSegmentationHardThreshPercent(p, 1, 2, 50, 0)),
                        DO(cblob_runParams_setSegmentationSoftThreshPercent(p, 1, 2, 10, 90, 0)),
                        DO(cblob_runParams_setSegmentationSoftThreshPercentWithSoftness(p, 1, 2, 9, 90, 4, 1)),
                        DO(cblob_runParams_setSegmentationSoftThreshWithSoftness(p, 5, 50, 4, 0)),
                        DO(cblob_runParams_setSegmentationSoftThresh(p, 5, 50, 0)),
                        DO(cblob_runParams_getThresh(p, &n)), DO(cblob_runParams_getHighThresh(p, &n)),
                        DO(cblob_runParams_getInvert(p, &n)), DO(cblob_runParams_getIsThreshPercent(p, &n)),
                        DO(f.made = false, cblob_runParams_destruct(p)),
                    });
                });
            }),
    };
}

// ---------------------------------------------------------------- blobs

// Row and data blocks, each with one block, and one inner vector of each
// vector of vectors with one block, for the clean-up functions.
struct Blocks {
    cblob_blobRleDb_ db;
    cstd_vector_vector_cblob_blob_rleRowBlock_ rowVectors;
    cstd_vector_vector_cblob_blob_rleDataBlock_ dataVectors;
    cstd_vector_cblob_blob_rleRowBlock_ *rows = nullptr;
    cstd_vector_cblob_blob_rleDataBlock_ *data = nullptr;
    cblob_blob_rleRowBlock_ *row = nullptr;
    cblob_blob_rleDataBlock_ *block = nullptr;
    uint8_t *bytes = nullptr;
    Blocks() {
        cblob_blobRleDb__construct(&db);
        cstd_vector_vector_cblob_blob_rleRowBlock__constructEmpty(&rowVectors);
        cstd_vector_vector_cblob_blob_rleDataBlock__constructEmpty(&dataVectors);
    }
    int32_t make() {
        return inTurn({DO(cstd_vector_cblob_imageRle_resize(&db.images, 2)),
                       DO(cstd_vector_vector_cblob_blob_rleRowBlock__resize(&rowVectors, 2)),
                       DO(cstd_vector_vector_cblob_blob_rleDataBlock__resize(&dataVectors, 2)),
                       DO(cstd_vector_cblob_blob_rleRowBlock__new(&db.rowBlocks)),
                       DO(cstd_vector_cblob_blob_rleDataBlock__new(&db.dataBlocks)),
                       DO(cblob_blobRleDb__addRowBlock(sizeof(cblob_rleRow), &row, db.rowBlocks)),
                       DO(cblob_blobRleDb__addDataBlock(8, &bytes, &block, db.dataBlocks)),
                       DO(cstd_vector_vector_cblob_blob_rleRowBlock__getElement(&rowVectors, 1, &rows)),
                       DO(cblob_blobRleDb__addRowBlock(sizeof(cblob_rleRow), &row, rows)),
                       DO(cstd_vector_vector_cblob_blob_rleDataBlock__getElement(&dataVectors, 1, &data)),
                       DO(cblob_blobRleDb__addDataBlock(8, &bytes, &block, data))});
    }
    ~Blocks() {
        _cleanupFuncRleRowBlockVectVect(&rowVectors);
        _cleanupFuncRleDataBlockVectVect(&dataVectors);
        cstd_vector_vector_cblob_blob_rleRowBlock__destruct(&rowVectors);
        cstd_vector_vector_cblob_blob_rleDataBlock__destruct(&dataVectors);
        EXPECT_EQ(cblob_blobRleDb__destruct(&db), 0);
    }
};

// A blob block and a transform block (and a null entry each) in vectors.
struct BlockPointers {
    cstd_vector_cblock_of_cblob_blob_ptr blobs;
    cstd_vector_cblock_of_cblob_xformLinear_ptr xforms;
    BlockPointers() {
        cstd_vector_cblock_of_cblob_blob_ptr_constructEmpty(&blobs);
        cstd_vector_cblock_of_cblob_xformLinear_ptr_constructEmpty(&xforms);
    }
    int32_t make() {
        cblock_of_cblob_blob_ptr blob{nullptr};
        cblock_of_cblob_xformLinear_ptr xform{nullptr};
        return inTurn({DO(cstd_vector_cblock_of_cblob_blob_ptr_pushBack(&blobs, &blob)),
                       DO(cstd_vector_cblock_of_cblob_xformLinear_ptr_pushBack(&xforms, &xform)),
                       DO(csys_memory_alloc_internal(64, reinterpret_cast<void **>(&blob.ptr))),
                       DO(cstd_vector_cblock_of_cblob_blob_ptr_pushBack(&blobs, &blob)),
                       DO(csys_memory_alloc_internal(64, reinterpret_cast<void **>(&xform.ptr))),
                       DO(cstd_vector_cblock_of_cblob_xformLinear_ptr_pushBack(&xforms, &xform))});
    }
    ~BlockPointers() {
        _cleanupFuncBlobPtrVect(&blobs);
        _cleanupFuncBlobXformPtrVect(&xforms);
        cstd_vector_cblock_of_cblob_blob_ptr_destruct(&blobs);
        cstd_vector_cblock_of_cblob_xformLinear_ptr_destruct(&xforms);
    }
};

std::vector<Row> blobRows() {
    return {
        noAllocation({"cblob_blob_internal_block__init", "cblob_blob_rleDataBlock__construct",
                      "cblob_blob_rleDataBlock__constructCopy", "cblob_blob_rleDataBlock__assign",
                      "cblob_blob_rleDataBlock__destruct"},
                     [] {
                         cblob_blob_internal_block_ block;
                         cblob_blob_rleDataBlock_ a, b;
                         return withoutAllocating([&] {
                             return inTurn({DO(cblob_blob_internal_block__init(&block)),
                                            DO(cblob_blob_rleDataBlock__construct(&a)),
                                            DO(cblob_blob_rleDataBlock__constructCopy(&b, &a)),
                                            DO(cblob_blob_rleDataBlock__assign(&b, &a)),
                                            DO(cblob_blob_rleDataBlock__destruct(&b)),
                                            DO(cblob_blob_rleDataBlock__destruct(&a))});
                         });
                     }),
        // Three blocks of each kind: a failed add leaves the outputs and the vector as they were.
        allocates({"cblob_blobRleDb__addRowBlock", "cblob_blobRleDb__addDataBlock"},
                  [] {
                      cstd_vector_cblob_blob_rleRowBlock_ rows;
                      cstd_vector_cblob_blob_rleDataBlock_ data;
                      cstd_vector_cblob_blob_rleRowBlock__constructEmpty(&rows);
                      cstd_vector_cblob_blob_rleDataBlock__constructEmpty(&data);
                      int32_t s = 0;
                      for (int i = 0; i < 3 && s >= 0; ++i) {
                          cblob_blob_rleRowBlock_ *row = marker<cblob_blob_rleRowBlock_>();
                          cblob_blob_rleDataBlock_ *block = marker<cblob_blob_rleDataBlock_>();
                          uint8_t *memory = marker<uint8_t>();
                          s = cblob_blobRleDb__addRowBlock(4 * sizeof(cblob_rleRow), &row, &rows);
                          EXPECT_TRUE(s >= 0 || (row == marker<cblob_blob_rleRowBlock_>() && rows.untyped.size == i));
                          if (s >= 0) s = cblob_blobRleDb__addDataBlock(16, &memory, &block, &data);
                          EXPECT_TRUE(s >= 0 || (memory == marker<uint8_t>() && data.untyped.size == i &&
                                                 block == marker<cblob_blob_rleDataBlock_>()));
                      }
                      _cleanupFuncRleRowBlockVect(&rows);
                      _cleanupFuncRleDataBlockVect(&data);
                      cstd_vector_cblob_blob_rleRowBlock__destruct(&rows);
                      cstd_vector_cblob_blob_rleDataBlock__destruct(&data);
                      return s;
                  }),
        allocates({"cblob_blobRleDb__constructCopy"},
                  [] {
                      Ran r;
                      cblob_blobRleDb_ copy;
                      const int32_t s = inTurn({DO(r.run()), DO(cblob_blobRleDb__constructCopy(&copy, r.rs.blobDb))});
                      if (s >= 0) { EXPECT_EQ(cblob_blobRleDb__destruct(&copy), 0); }
                      return s;
                  }),
        // A database in the test's storage, and one from the memory service
        // shared by handles until the last one frees it.
        noAllocation(
            {"cblob_blobRleDb__construct", "cblob_blobRleDb__clear", "cblob_blobRleDb__destruct",
             "cblob_blobRleDb_Ptrh_construct", "cblob_blobRleDb_Ptrh_constructCopy", "cblob_blobRleDb_Ptrh_attach",
             "cblob_blobRleDb_Ptrh_detach", "cblob_blobRleDb_Ptrh_assign", "cblob_blobRleDb_Ptrh_assignNull",
             "cblob_blobRleDb_Ptrh_destruct", "cblob_blobRleDb_Ptrh_getIsNull", "cblob_blobRleDb_Ptrh_getRefCount"},
            [] {
                cblob_blobRleDb_ *db = nullptr;
                cblob_blob_rleRowBlock_ *row = nullptr;
                int32_t s = inTurn(
                    {DO(csys_memory_alloc_internal(sizeof(*db), reinterpret_cast<void **>(&db))),
                     DO(cblob_blobRleDb__construct(db)), DO(cstd_vector_cblob_blob_rleRowBlock__new(&db->rowBlocks)),
                     DO(cblob_blobRleDb__addRowBlock(sizeof(cblob_rleRow), &row, db->rowBlocks)),
                     DO(cstd_vector_cblob_imageRle_resize(&db->images, 2))});
                if (s < 0) return s;
                cblob_blobRleDb_ local;
                cblob_blobRleDb_Ptrh a, b, c;
                int64_t refs = 0;
                int32_t isNull = 0;
                s = withoutAllocating([&] {
                    return inTurn({DO(cblob_blobRleDb__construct(&local)), DO(cblob_blobRleDb__clear(&local)),
                                   DO(cblob_blobRleDb__destruct(&local)), DO(cblob_blobRleDb_Ptrh_construct(&a)),
                                   DO(cblob_blobRleDb_Ptrh_attach(&a, db)),
                                   DO(cblob_blobRleDb_Ptrh_constructCopy(&b, &a)),
                                   DO(cblob_blobRleDb_Ptrh_construct(&c)), DO(cblob_blobRleDb_Ptrh_assign(&c, &b)),
                                   DO(cblob_blobRleDb_Ptrh_getRefCount(&c, &refs)), DO(cblob_blobRleDb__clear(db)),
                                   DO(cblob_blobRleDb_Ptrh_assignNull(&c)),
                                   DO(cblob_blobRleDb_Ptrh_getIsNull(&c, &isNull)), DO(cblob_blobRleDb_Ptrh_detach(&b)),
                                   DO(cblob_blobRleDb_Ptrh_destruct(&c)), DO(cblob_blobRleDb_Ptrh_destruct(&b)),
                                   DO(cblob_blobRleDb_Ptrh_destruct(&a))});  // frees db
                });
                EXPECT_TRUE(refs == 3 && isNull == 1);
                return s;
            }),
        // Each clean-up function on vectors holding a block (and a null entry).
        noAllocation({"_cleanupFuncImageRles", "_cleanupFuncRleRowBlockVect", "_cleanupFuncRleDataBlockVect",
                      "_cleanupFuncRleRowBlockVectVect", "_cleanupFuncRleDataBlockVectVect", "_cleanupFuncBlobPtrVect",
                      "_cleanupFuncBlobXformPtrVect"},
                     [] {
                         Blocks k;
                         BlockPointers q;
                         const int32_t s = inTurn({DO(k.make()), DO(q.make())});
                         if (s < 0) return s;
                         const int32_t t = withoutAllocating([&] {
                             return inTurn({DO(_cleanupFuncImageRles(&k.db)),
                                            DO(_cleanupFuncRleRowBlockVect(k.db.rowBlocks)),
                                            DO(_cleanupFuncRleDataBlockVect(k.db.dataBlocks)),
                                            DO(_cleanupFuncRleRowBlockVectVect(&k.rowVectors)),
                                            DO(_cleanupFuncRleDataBlockVectVect(&k.dataVectors)),
                                            DO(_cleanupFuncBlobPtrVect(&q.blobs)),
                                            DO(_cleanupFuncBlobXformPtrVect(&q.xforms))});
                         });
                         EXPECT_TRUE(!k.row->memory && !k.block->memory &&
                                     !static_cast<cblock_of_cblob_blob_ptr *>(q.blobs.untyped.begin)[1].ptr);
                         return t;
                     }),
        noAllocation({"cblob_imageRle_initFromBlob"},
                     [] {
                         Ran r;
                         cblob_imageRle img;
                         cmath_xformPtrhConst identity;
                         int32_t s = r.run();
                         if (s < 0) return s;
                         cblob_imageRle_construct(&img);
                         cmath_xformPtrhConst_construct(&identity);
                         cblob_blob *b = r.rs.allBlobs[1];
                         s = withoutAllocating(DO(cblob_imageRle_initFromBlob(&img, b, &identity)));
                         EXPECT_EQ(img.rows, b->cachedRuns);
                         cmath_xformPtrhConst_destruct(&identity);
                         cblob_imageRle_destruct(&img);
                         return s;
                     }),
        queryRow("cblob_blob_getRleRows", {[](cblob_blob *b, Outputs *) {
                     cblob_rleRow *rows = marker<cblob_rleRow>();
                     const int32_t s = cblob_blob_getRleRows(b, &rows);
                     if (s < 0) { EXPECT_TRUE(rows == marker<cblob_rleRow>() && b->cachedRuns == nullptr); }
                     return s;
                 }},
                 &none, {Kind::Binary, Kind::Masked, Kind::Grey}),
        queryRow("cblob_blob_getImageRle", {[](cblob_blob *b, Outputs *) {
                     cblob_imageRle *img = marker<cblob_imageRle>();
                     const int32_t s = cblob_blob_getImageRle(b, &img);
                     if (s < 0) { EXPECT_EQ(img, marker<cblob_imageRle>()); }
                     return s;
                 }},
                 &none, {Kind::Binary, Kind::Masked, Kind::Grey}),
        // Into an unbound image, which a failure leaves unbound.
        queryRow("cblob_blob_getBlobImage", {[](cblob_blob *b, Outputs *) {
                     cimg_image img;
                     cimg_image_constructUnbound(&img, 8);
                     const int32_t s = cblob_blob_getBlobImage(b, &img);
                     int32_t bound = -1;
                     cimg_image_getIsBound(&img, &bound);
                     EXPECT_EQ(bound, s < 0 ? 0 : 1);
                     cimg_image_destruct(&img);
                     return s;
                 }},
                 &none, {Kind::Binary, Kind::Masked, Kind::Grey}),
    };
}

// ----------------------------------------------------------- result sets

// Client transform changes: to a new perspective transform, or a linear one.
Edit perspective(const double (&h)[9]) {
    return [&h](cblob_resultSet *rs) {
        cmath_xformPtrhConst x;
        int32_t s = cmath_xformPtrhConst_constructPerspective(&x, h);
        if (s < 0) return s;
        s = cblob_resultSet_setClientFromImageXform(rs, &x);
        cmath_xformPtrhConst_destruct(&x);
        return s;
    };
}
Edit linear(cmath_xformLinear x) {
    return [x](cblob_resultSet *rs) { return cblob_resultSet_setClientFromImageXformLinear(rs, &x); };
}

std::vector<Row> resultSetRows() {
    return {
        allocates({"cblob_resultSet_construct", "cblob_resultSet_destruct"},
                  [] {
                      cblob_resultSet rs;
                      const int32_t s = cblob_resultSet_construct(&rs);
                      return s < 0 ? s : cblob_resultSet_destruct(&rs);
                  }),
        allocates({"cblob_resultSet_constructCopy"},
                  [] {
                      Ran r;
                      cblob_resultSet copy;
                      const int32_t s = inTurn({DO(filteredRun(&r)), DO(cblob_resultSet_constructCopy(&copy, &r.rs))});
                      if (s < 0) return s;
                      EXPECT_EQ(stateOf(copy).size(), stateOf(r.rs).size());
                      return cblob_resultSet_destruct(&copy);
                  }),
        // Into a result set of another run: a failure leaves it cleared.
        allocates({"cblob_resultSet_assign"},
                  [] {
                      Ran r, d;
                      return inTurn({DO(filteredRun(&r)), DO(d.run(Kind::Masked)), [&] {
                                         const int32_t s = cblob_resultSet_assign(&d.rs, &r.rs);
                                         const cblob_resultSet &c = d.rs;
                                         const bool cleared = !c.numBlobs && !c.numViewBlobs && !c.allBlobs;
                                         EXPECT_TRUE(s >= 0 || (cleared && !c.blobDb && !c.blobBlocks &&
                                                                !c.maskImage.ptrh.shared));
                                         return s;
                                     }});
                  }),
        editRow("cblob_resultSet_setAndApplyFilters", &none,
                [](cblob_resultSet *rs) {
                    cstd_vector_cblob_filter filters;
                    const cblob_filter list[] = {{cblob_measureArea, 2, 100, 0}, {cblob_measurePerimeter, 0, 9, 1}};
                    int32_t s = cstd_vector_cblob_filter_constructFromBlock(&filters, list, 2);
                    if (s < 0) return s;
                    s = cblob_resultSet_setAndApplyFilters(rs, &filters);
                    cstd_vector_cblob_filter_destruct(&filters);
                    return s;
                }),
        editRow("cblob_resultSet_addAndApplyFilter", &none,
                [](cblob_resultSet *rs) { return addFilter(rs, cblob_measureCompactness, 0, 5); }),
        editRow("cblob_resultSet_unsetFilter",
                [](cblob_resultSet *rs) {
                    return inTurn({DO(addFilter(rs, cblob_measurePerimeter, 0, 11)),
                                   DO(cblob_resultSet_sort(rs, cblob_measureArea, 1))});
                },
                [](cblob_resultSet *rs) { return cblob_resultSet_unsetFilter(rs, cblob_measurePerimeter); }),
        editRow("cblob_resultSet_clearFilters",
                [](cblob_resultSet *rs) {
                    return inTurn({DO(addFilter(rs, cblob_measureArea, 0, 5)),
                                   DO(cblob_resultSet_sort(rs, cblob_measureBoxWidth, 0))});
                },
                &cblob_resultSet_clearFilters),
        editRow("cblob_resultSet_sort", [](cblob_resultSet *rs) { return addFilter(rs, cblob_measureArea, 1, 50); },
                [](cblob_resultSet *rs) { return cblob_resultSet_sort(rs, cblob_measureAngleBoxWidth, 0); }),
        editRow("cblob_resultSet_disableSort",
                [](cblob_resultSet *rs) {
                    return inTurn({DO(addFilter(rs, cblob_measureArea, 0, 5)),
                                   DO(cblob_resultSet_sort(rs, cblob_measureArea, 0))});
                },
                &cblob_resultSet_disableSort),
        // Identity to perspective to another perspective; identity to linear to
        // perspective to linear.
        editRow("cblob_resultSet_setClientFromImageXform", &cacheOne,
                {perspective(kPerspective), perspective(kOtherPerspective)}, true),
        editRow("cblob_resultSet_setClientFromImageXformLinear", &cacheOne,
                {linear({{2.0, 0.5, 0.0, 3.0}, 1.0, 1.0}), perspective(kPerspective),
                 linear({{0.5, 0.1, 0.0, 0.5}, 1.0, 2.0})},
                true),
        // The valid bits given back first, so that sizing them allocates.
        allocates({"cblob_resultSet_createAndInitMeasureCaching_"},
                  [] {
                      Ran r;
                      const int32_t s = r.run();
                      if (s < 0) return s;
                      cstd_vector32 &bits = r.rs.postProcessing->validBits;
                      cstd_vector32_clearAndFreeMemory(&bits);
                      const int32_t made = cblob_resultSet_createAndInitMeasureCaching_(&r.rs);
                      if (made < 0) { EXPECT_EQ(bits.untyped.size, 0); }
                      return made;
                  }),
        // Every kept image, a filter and a sort; then the queries, and clear.
        noAllocation({"cblob_resultSet_clear", "cblob_resultSet_getThresholdedImageRlePtrh",
                      "cblob_resultSet_getMaskedAndThresholdedImageRlePtrh",
                      "cblob_resultSet_getMorphedThresholdedImageRlePtrh", "cblob_resultSet_setExcludeExtrema",
                      "cblob_resultSet_getExcludeExtrema", "cblob_resultSet_getNumFilters",
                      "cblob_resultSet_getFilters", "cblob_resultSet_getSort",
                      "cblob_resultSet_getClientFromImageXform", "cblob_resultSet_getClientFromImageXformLinear",
                      "cblob_resultSetPostProcessing_recordRunParams", "cblob_blob_getClientFromImageXform"},
                     [] {
                         Ran r;
                         cblob_resultSet *rs = &r.rs;
                         const cblob_runParams *p = &r.p;
                         const int32_t s = inTurn(
                             {DO(r.make()), DO(keepAll(&r.p)),
                              DO(cblob_run8(scene().img8.image(), scene().mask.image(), &r.p, rs)),
                              DO(addFilter(rs, cblob_measureArea, 0, 5)),
                              DO(cblob_resultSet_sort(rs, cblob_measureArea, 0))});
                         if (s < 0) return s;
                         cblob_imageRlePtrh kept[3];
                         cmath_xformPtrhConst x;
                         for (auto &h : kept) cblob_imageRlePtrh_construct(&h);
                         cmath_xformPtrhConst_construct(&x);
                         int32_t mode = 0, n = 0, direction = 0;
                         cblob_measure m = 0;
                         double value = 0, angle = 0.25;
                         const cblob_filter *filters = nullptr;
                         cmath_xformLinear linear;
                         const int32_t t = withoutAllocating([&] {
                             return inTurn({
                                 DO(cblob_resultSet_getThresholdedImageRlePtrh(rs, &kept[0])),
                                 DO(cblob_resultSet_getMaskedAndThresholdedImageRlePtrh(rs, &kept[1])),
                                 DO(cblob_resultSet_getMorphedThresholdedImageRlePtrh(rs, &kept[2])),
                                 DO(cblob_resultSet_setExcludeExtrema(rs, 3, 10, &angle)),
                                 DO(cblob_resultSet_getExcludeExtrema(rs, &mode, &value, &angle)),
                                 DO(cblob_resultSet_getNumFilters(rs, &n)),
                                 DO(cblob_resultSet_getFilters(rs, &filters)),
                                 DO(cblob_resultSet_getSort(rs, &m, &direction)),
                                 DO(cblob_resultSet_getClientFromImageXform(rs, &x)),
                                 DO(cblob_resultSet_getClientFromImageXformLinear(rs, &linear)),
                                 DO(cblob_blob_getClientFromImageXform(rs->allBlobs[0], &linear)),
                                 DO(cblob_resultSetPostProcessing_recordRunParams(rs->postProcessing, p)),
                                 DO(cblob_resultSet_clear(rs)),
                             });
                         });
                         cmath_xformPtrhConst_destruct(&x);
                         for (auto &h : kept) cblob_imageRlePtrh_destruct(&h);
                         return t;
                     }),
        noAllocation({"cblob_resultSetPostProcessing__construct", "cblob_resultSetPostProcessing__clear",
                      "cblob_resultSetPostProcessing__destruct"},
                     [] {
                         Ran r;
                         cblob_resultSetPostProcessing_ pp;
                         const int32_t s = filteredRun(&r);
                         if (s < 0) return s;
                         return withoutAllocating([&] {
                             return inTurn({DO(cblob_resultSetPostProcessing__construct(&pp)),
                                            DO(cblob_resultSetPostProcessing__destruct(&pp)),
                                            DO(cblob_resultSetPostProcessing__clear(r.rs.postProcessing))});
                         });
                     }),
        // A failed new or newClone leaves the pointer null.
        allocates({"cblob_resultSetPostProcessing__new", "cblob_resultSetPostProcessing__delete"},
                  [] {
                      cblob_resultSetPostProcessing_ *p = nullptr;
                      const int32_t s = cblob_resultSetPostProcessing__new(&p);
                      if (s < 0) { EXPECT_EQ(p, nullptr); }
                      EXPECT_EQ(cblob_resultSetPostProcessing__delete(&p), 0);
                      EXPECT_EQ(p, nullptr);
                      return s;
                  }),
        allocates({"cblob_resultSetPostProcessing__newClone"},
                  [] {
                      Ran r;
                      const cblob_resultSetPostProcessing_ *const &src = r.rs.postProcessing;
                      cblob_resultSetPostProcessing_ *p = nullptr;
                      const int32_t s = inTurn({DO(filteredRun(&r)), [&] {
                                                    return cblob_resultSetPostProcessing__newClone(&p, src);
                                                }});
                      if (s < 0) { EXPECT_EQ(p, nullptr); }
                      cblob_resultSetPostProcessing__delete(&p);
                      return s;
                  }),
        allocates({"cblob_resultSetPostProcessing__constructCopy"},
                  [] {
                      Ran r;
                      const cblob_resultSetPostProcessing_ *const &src = r.rs.postProcessing;
                      cblob_resultSetPostProcessing_ pp;
                      const int32_t s = inTurn({DO(filteredRun(&r)), [&] {
                                                    return cblob_resultSetPostProcessing__constructCopy(&pp, src);
                                                }});
                      if (s < 0) return s;
                      EXPECT_EQ(pp.filters.untyped.size, r.rs.postProcessing->filters.untyped.size);
                      return cblob_resultSetPostProcessing__destruct(&pp);
                  }),
        // Over the record of a result set with a filter of its own: unchanged on failure.
        allocates({"cblob_resultSetPostProcessing__assign"},
                  [] {
                      Ran r, d;
                      const cblob_resultSetPostProcessing_ *const &src = r.rs.postProcessing;
                      return inTurn({DO(filteredRun(&r)), DO(d.run(Kind::Plain)),
                                     DO(addFilter(&d.rs, cblob_measureBoxHeight, 1, 2)), [&] {
                                         cblob_resultSetPostProcessing_ *pp = d.rs.postProcessing;
                                         const std::vector<double> before = recordState(*pp);
                                         const int32_t s = cblob_resultSetPostProcessing__assign(pp, src);
                                         if (s < 0) { EXPECT_EQ(recordState(*pp), before); }
                                         return s;
                                     }});
                  }),
    };
}

std::vector<Row> rows() {
    std::vector<Row> all;
    for (const auto &part : {blobRows(), resultSetRows(), measureRows(), runRows(), runParamsRows()})
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

const Registrar kBlobResults{"BlobResults", &rows};

}  // namespace

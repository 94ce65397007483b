/* Every public header compiles as C11; a few calls link and work from C. */
#include <stdio.h>

#include "cblob/cblob.h"
#include "cblob/containers.h"
#include "cblob/rect.h"
#include "cblob/vector.h"

#define CHECK(cond)                                                   \
    do {                                                              \
        if (!(cond)) {                                                \
            fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond); \
            return 1;                                                 \
        }                                                             \
    } while (0)

int main(void) {
    void *block = NULL;
    int64_t live = csys_memory_getLiveBlockCount();
    CHECK(csys_memory_alloc_internal(64, &block) == 0 && block != NULL);
    CHECK(csys_memory_getLiveBlockCount() == live + 1);
    csys_memory_free_internal(&block);
    CHECK(block == NULL && csys_memory_getLiveBlockCount() == live);
    {
        csys_jobThreadGroup group;
        int32_t threads = 0;
        CHECK(csys_jobThreadGroup_construct(&group) == 0);
        CHECK(csys_jobGetCurrentThreadState(&threads, &group) == 0 && threads >= 1);
        CHECK(csys_jobThreadGroup_destruct(&group) == 0);
        CHECK(csys_job_getThreadCount(&threads) == 0 && threads >= 1 && threads <= CSYS_JOB_MAX_THREADS);
    }
    {
        /* Wrap a host buffer with padded rows, window it and histogram it. */
        uint8_t pixels[4 * 8] = {0};
        cimg_image img;
        cimg_windowConst whole, part;
        const uint8_t *pel = NULL;
        uint32_t counts[256];
        int32_t table[101];
        int32_t isBound = 0;
        pixels[1 * 8 + 2] = 200;
        CHECK(cimg_image8_construct(&img) == 0);
        CHECK(cimg_image_initFromBuffer(&img, pixels, 8, 5, 4, 8, 10, 20) == 0);
        CHECK(cimg_imageConst_getIsBound(&img, &isBound) == 0 && isBound == 1);
        CHECK(cimg_imageConst_pointToPel_internal(&img, 12, 21, &pel) == 0 && *pel == 200);
        CHECK(cimg_windowConst_init(&whole, &img) == 0 && whole.width == 5 && whole.x == 10);
        CHECK(cimg_windowConst_getWindow(&part, &whole, 11, 21, 2, 2) == 0 && part.pels == pixels + 8 + 1);
        CHECK(cimg_windowConst_initWindow(&part, &img, 14, 20, 2, 1) == cimg_err_badGeometry);
        CHECK(cip_pelHistogramWindow8(&whole, counts) == 0 && counts[0] == 19 && counts[200] == 1);
        CHECK(cip_pelHistogramStat_invCum(counts, 256, table) == 0 && table[0] == 0 && table[100] == 200);
        CHECK(cimg_image_destruct(&img) == 0);
    }
    {
        /* A shared transform handle and its inverse. */
        cmath_xformLinear linear;
        cmath_matrix m;
        cmath_xformPtrhConst h, inv;
        double x = 0.0, y = 0.0;
        CHECK(cmath_matrix_init(&m, 2.0, 0.0, 0.0, 4.0) == 0);
        CHECK(cmath_xformLinear_init(&linear, &m, 1.0, -1.0) == 0);
        CHECK(cmath_xformPtrhConst_constructLinear(&h, &linear) == 0);
        CHECK(cmath_xformPtrhConst_construct(&inv) == 0);
        CHECK(cmath_xformPtrhConst_getInverseConst(&h, &inv) == 0);
        CHECK(cmath_xformPtrhConst_mapPoint(&inv, 5.0, 7.0, &x, &y) == 0 && x == 2.0 && y == 2.0);
        CHECK(cmath_xformPtrhConst_destruct(&h) == 0 && cmath_xformPtrhConst_destruct(&inv) == 0);
    }
    {
        /* Typed vectors, a vector of vectors and rectangles from C. */
        cstd_vector32 v;
        cstd_vector_vector32 vv;
        const cstd_vector32 *inner = NULL;
        const uint32_t *values = NULL;
        int32_t size = 0;
        uint32_t i;
        cstd_rect32 a, b, both;
        int32_t isNull = 1;
        CHECK(cstd_vector32_constructEmpty(&v) == 0);
        for (i = 0; i < 100; ++i) CHECK(cstd_vector32_pushBack(&v, &i) == 0);
        CHECK(cstd_vector32_getBeginSizeConst(&v, &values, &size) == 0 && size == 100 && values[99] == 99);
        CHECK(cstd_vector_vector32_construct(&vv, 1) == 0);
        CHECK(cstd_vector_vector32_pushBack(&vv, &v) == 0);
        CHECK(cstd_vector_vector32_getElementConst(&vv, 1, &inner) == 0);
        CHECK(cstd_vector32_getSize32(inner, &size) == 0 && size == 100);
        CHECK(cstd_vector_vector32_destruct(&vv) == 0 && cstd_vector32_destruct(&v) == 0);
        CHECK(cstd_vector32_popBack(&v) == cstd_err_emptyVector);
        CHECK(cstd_rect32_init(&a, 0, 0, 10, 10) == 0 && cstd_rect32_init(&b, 8, -2, 5, 5) == 0);
        CHECK(cstd_rect32_intersect(&both, &a, &b) == 0 && both.x == 8 && both.y == 0 && both.width == 2);
        CHECK(cstd_rect32_getIsNull(&both, &isNull) == 0 && isNull == 0);
    }
    {
        /* Run parameters: a soft threshold, a copy with a map table, and a refused getter. */
        cblob_runParams params, copy;
        const uint8_t table[3] = {0, 1, 2};
        const uint8_t *map = NULL;
        int32_t value = 0;
        CHECK(cblob_runParams_construct(&params) == 0 && params.scaleVal == 1);
        CHECK(cblob_runParams_setSegmentationSoftThresh(&params, 10, 10, 0) == cblob_err_badThreshRange);
        CHECK(cblob_runParams_setSegmentationSoftThresh(&params, 10, 20, 0) == 0);
        CHECK(cblob_runParams_getHighThresh(&params, &value) == 0 && value == 20);
        CHECK(cblob_runParams_setSegmentationMap(&params, 2, table, 3) == 0);
        CHECK(cblob_runParams_getHighThresh(&params, &value) == cblob_err_notApplicable && value == 20);
        CHECK(cblob_runParams_constructCopy(&copy, &params) == 0 && copy.map != params.map);
        CHECK(cblob_runParams_getMap(&copy, &map, NULL, &value) == 0 && value == 3 && map[2] == 2);
        CHECK(cblob_runParams_destruct(&copy) == 0 && cblob_runParams_destruct(&params) == 0);
    }
    {
        /* A uniform run-length image through its handle. */
        cblob_imageRlePtrh rle;
        cmath_xformPtrhConst identity;
        int32_t numRuns = 0;
        uint8_t pel = 0;
        CHECK(cmath_xformPtrhConst_construct(&identity) == 0);
        CHECK(cblob_imageRlePtrh_constructUniform(&rle, 10, 3, 9, &identity) == 0);
        CHECK(cblob_imageRlePtrh_getNumRuns(&rle, &numRuns) == 0 && numRuns == 3);
        CHECK(cblob_imageRlePtrh_getPel8(&rle, 9, 2, &pel) == 0 && pel == 9);
        CHECK(cblob_imageRlePtrh_getPel8(&rle, 10, 0, &pel) == cblob_err_pelOutside);
        CHECK(cblob_imageRlePtrh_destruct(&rle) == 0);
    }
    {
        /* A run on a tiny image: one object pixel at (11, 21). */
        uint8_t pixels[3 * 3] = {0, 0, 0, 0, 200, 0, 0, 0, 0};
        cimg_image img;
        cblob_runParams params;
        cblob_resultSet rs;
        CHECK(cimg_image8_construct(&img) == 0);
        CHECK(cimg_image_initFromBuffer(&img, pixels, 8, 3, 3, 3, 10, 20) == 0);
        CHECK(cblob_runParams_construct(&params) == 0);
        CHECK(cblob_runParams_setSegmentationHardThresh(&params, 128, 0) == 0);
        params.keepBlobImages = 1;
        CHECK(cblob_resultSet_construct(&rs) == 0);
        CHECK(cblob_run8(&img, NULL, &params, &rs) == 0);
        CHECK(rs.numBlobs == 1 && rs.numViewBlobs == 1 && rs.firstTopLevelBlob == rs.allBlobs[0]);
        CHECK(rs.allBlobs[0]->colour == 1 && rs.allBlobs[0]->area == 1.0);
        CHECK(rs.allBlobs[0]->boxLeft == 11 && rs.allBlobs[0]->boxTop == 21);
        CHECK(rs.allBlobs[0]->centerOfMassX == 11.5 && rs.allBlobs[0]->centerOfMassY == 21.5);
        {
            /* Its boundary: four steps around the pixel, then the end marker. */
            cstd_vector8 chain;
            int32_t start[2] = {0, 0};
            const uint8_t *codes = NULL;
            int32_t size = 0;
            CHECK(cstd_vector8_constructEmpty(&chain) == 0);
            CHECK(cblob_blob_getBoundaryChainCode(rs.allBlobs[0], start, &chain) == 0);
            CHECK(start[0] == 11 && start[1] == 21);
            CHECK(cstd_vector8_getBeginSize(&chain, (uint8_t **)&codes, &size) == 0 && size == 5);
            CHECK(codes[0] == 0 && codes[1] == 2 && codes[2] == 1 && codes[3] == 3 && codes[4] == 4);
            CHECK(cstd_vector8_destruct(&chain) == 0);
        }
        CHECK(cblob_resultSet_destruct(&rs) == 0);
        CHECK(cblob_runParams_destruct(&params) == 0);
        CHECK(cimg_image_destruct(&img) == 0);
    }
    CHECK(csys_memory_getLiveBlockCount() == live);
    CHECK(CBLOB_FAILED(cblob_err_badThresh));
    printf("%s\n", cblob_statusName(cblob_err_badThresh));
    return 0;
}

/*
 * cblob_demo: wraps the pixels of a PNG file in a cblob image, prints its
 * geometry, and histograms it band by band on the job thread group.
 *
 *   cblob_demo IMAGE.png
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "cblob/cblob.h"
#include "png_io.h"

/* What one band job reads: a window on its rows. */
typedef struct bandParams {
    cimg_windowConst window;
} bandParams;

/* One band's histogram. */
typedef struct bandResult {
    uint32_t counts[65536];
} bandResult;

static int32_t histogramBand(const csys_jobParams *params, csys_jobResult *result) {
    const void *data = NULL;
    int32_t status = csys_jobParams_getDataConst(params, &data);
    if (CBLOB_FAILED(status)) return status;
    const bandParams *band = (const bandParams *)data;
    void *block = NULL;
    status = csys_memory_allocClear_internal((int64_t)sizeof(bandResult), &block);
    if (CBLOB_FAILED(status)) return status;
    bandResult *out = (bandResult *)block;
    status = band->window.bitsPerPel == 8 ? cip_pelHistogramWindow8(&band->window, out->counts)
                                          : cip_pelHistogramWindow16(&band->window, out->counts, 65536);
    if (!CBLOB_FAILED(status)) status = csys_jobResult_takeData(result, &block, csys_memory_free_internal);
    csys_memory_free_internal(&block);
    return status;
}

static int report(const char *what, int32_t status) {
    fprintf(stderr, "cblob_demo: %s: %s\n", what, cblob_statusName(status));
    return 1;
}

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: cblob_demo IMAGE.png\n");
        return 2;
    }
    char error[512];
    tool_greyImage file;
    if (tool_readPng(argv[1], &file, error, sizeof error) != 0) {
        fprintf(stderr, "cblob_demo: %s\n", error);
        return 1;
    }

    /* Wrap the caller's buffer: no pixels are copied. */
    cimg_image image;
    int32_t status = cimg_image_constructUnbound(&image, file.bitsPerPel);
    if (!CBLOB_FAILED(status))
        status = cimg_image_initFromBuffer(&image, file.pixels, file.bitsPerPel, file.width, file.height,
                                           file.strideBytes, 0, 0);
    if (CBLOB_FAILED(status)) return report("wrapping the pixels", status);
    printf("%s: %d x %d pixels, %d bits per pixel, stride %d bytes\n", argv[1], image.width, image.height,
           image.bitsPerPel, image.strideBytes);

    csys_jobThreadGroup group;
    csys_jobRequestSet requests;
    csys_jobResultSet results;
    csys_jobThreadGroup_construct(&group);
    csys_jobRequestSet_construct(&requests);
    csys_jobResultSet_construct(&results);
    int32_t threads = 1;
    csys_jobGetCurrentThreadState(&threads, &group);
    const int32_t bands = threads < image.height ? threads : (image.height > 0 ? image.height : 1);

    csys_timer timer;
    csys_timer_init(&timer, 0);
    csys_timer_start(&timer);
    for (int32_t b = 0; b < bands && !CBLOB_FAILED(status); ++b) {
        const int32_t top = image.height * b / bands;
        const int32_t bottom = image.height * (b + 1) / bands;
        void *block = NULL;
        status = csys_memory_alloc_internal((int64_t)sizeof(bandParams), &block);
        if (CBLOB_FAILED(status)) break;
        status = cimg_windowConst_initWindow(&((bandParams *)block)->window, &image, 0, top, image.width,
                                             bottom - top);
        csys_jobParams params;
        csys_jobParams_construct(&params);
        if (!CBLOB_FAILED(status)) status = csys_jobParams_takeData(&params, &block, csys_memory_free_internal);
        if (!CBLOB_FAILED(status)) status = csys_jobRequestSet_addFuncAndParams(&requests, histogramBand, &params);
        csys_jobParams_destruct(&params);
        csys_memory_free_internal(&block);
    }
    if (!CBLOB_FAILED(status)) status = csys_jobThreadGroup_dispatchAndWait(&group, &requests, &results);
    csys_timer_stop(&timer);

    uint32_t *total = calloc(65536, sizeof(uint32_t));
    if (!CBLOB_FAILED(status) && total) {
        const csys_jobResult *array = NULL;
        int32_t count = 0;
        csys_jobResultSet_getResultsArrayConst(&results, &array, &count);
        for (int32_t b = 0; b < count; ++b) {
            const void *data = NULL;
            csys_jobResult_getDataConst(&array[b], &data);
            for (int v = 0; v < 65536; ++v) total[v] += ((const bandResult *)data)->counts[v];
        }
        int32_t table[101];
        status = cip_pelHistogramStat_invCum(total, image.bitsPerPel == 8 ? 256 : 65536, table);
        double ms = 0;
        csys_timer_getMillisecondsDouble(&timer, &ms);
        if (!CBLOB_FAILED(status)) {
            printf("histogram in %d bands on %d threads: %.3f ms\n", bands, threads, ms);
            printf("grey levels: min %d, 5%% %d, median %d, 95%% %d, max %d\n", table[0], table[5], table[50],
                   table[95], table[100]);
        }
    }
    free(total);
    csys_jobResultSet_destruct(&results);
    csys_jobRequestSet_destruct(&requests);
    csys_jobThreadGroup_destruct(&group);
    cimg_image_destruct(&image);
    tool_greyImage_free(&file);
    if (CBLOB_FAILED(status)) return report("histogram", status);
    return 0;
}

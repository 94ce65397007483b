/*
 * A plain C program using an installed cblob: it analyses a small drawn
 * image, checks the blobs it gets back and prints them. The package test
 * builds it twice, against the shared and against the static library, and
 * expects the same output from both.
 */
#include <stdio.h>
#include <string.h>

#include "cblob/cblob.h"

#define W 40
#define H 30

#define CHECK(cond)                                                   \
    do {                                                              \
        if (!(cond)) {                                                \
            fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond); \
            return 1;                                                 \
        }                                                             \
    } while (0)

static void fill(uint8_t *pixels, int x0, int y0, int x1, int y1, uint8_t value) {
    int x, y;
    for (y = y0; y <= y1; ++y)
        for (x = x0; x <= x1; ++x) pixels[y * W + x] = value;
}

/* The first blob of the view with this colour and area, or NULL. */
static const cblob_blob *find(const cblob_resultSet *rs, int colour, double area) {
    int32_t i;
    for (i = 0; i < rs->numViewBlobs; ++i)
        if (rs->view[i]->colour == colour && rs->view[i]->area == area) return rs->view[i];
    return NULL;
}

int main(void) {
    static uint8_t pixels[W * H];
    const int64_t live = csys_memory_getLiveBlockCount();
    cimg_image image;
    cblob_runParams params;
    cblob_resultSet rs;
    const cblob_blob *square, *ring, *hole, *dot;
    int32_t i, status;

    /* An 8x6 square, a 10x10 ring around a 4x4 hole, and one pixel. */
    memset(pixels, 0, sizeof pixels);
    fill(pixels, 2, 2, 9, 7, 200);
    fill(pixels, 15, 3, 24, 12, 200);
    fill(pixels, 18, 6, 21, 9, 0);
    fill(pixels, 35, 25, 35, 25, 255);

    CHECK(cimg_image_constructUnbound(&image, 8) == 0);
    CHECK(cimg_image_initFromBuffer(&image, pixels, 8, W, H, W, 0, 0) == 0);
    CHECK(cblob_runParams_construct(&params) == 0);
    CHECK(cblob_runParams_setSegmentationHardThresh(&params, 128, 0) == 0);
    CHECK(cblob_resultSet_construct(&rs) == 0);
    status = cblob_run8(&image, NULL, &params, &rs);
    CHECK(status == 0);

    for (i = 0; i < rs.numViewBlobs; ++i) {
        const cblob_blob *b = rs.view[i];
        printf("blob %d %s area %.0f center (%.2f, %.2f) box %d %d %d %d parent %d children %d\n", b->label,
               b->colour ? "object" : "hole", b->area, b->centerOfMassX, b->centerOfMassY, b->boxLeft, b->boxTop,
               b->boxWidth, b->boxHeight, b->parent ? b->parent->label : 0, b->numChildren);
    }
    square = find(&rs, 1, 48.0);
    ring = find(&rs, 1, 84.0);
    hole = find(&rs, 0, 16.0);
    dot = find(&rs, 1, 1.0);
    CHECK(square && ring && hole && dot);
    CHECK(square->centerOfMassX == 6.0 && square->centerOfMassY == 5.0);
    CHECK(square->boxLeft == 2 && square->boxTop == 2 && square->boxWidth == 8 && square->boxHeight == 6);
    CHECK(ring->centerOfMassX == 20.0 && ring->centerOfMassY == 8.0 && ring->numChildren == 1);
    CHECK(hole->parent == ring && ring->firstChild == hole);
    CHECK(dot->centerOfMassX == 35.5 && dot->centerOfMassY == 25.5);

    /* The whole-image mode sums every object pixel into one blob; with a
       cleanup mode it is refused with its own status. */
    params.connectivityType = 2;
    CHECK(cblob_run8(&image, NULL, &params, &rs) == 0);
    CHECK(rs.numBlobs == 1 && rs.allBlobs[0]->area == 48.0 + 84.0 + 1.0);
    params.connectivityCleanup = 1;
    status = cblob_run8(&image, NULL, &params, &rs);
    CHECK(status == cblob_err_connectivityConflict);
    printf("connectivityType 2 with a cleanup: %s\n", cblob_statusName(status));

    CHECK(cblob_resultSet_destruct(&rs) == 0);
    CHECK(cblob_runParams_destruct(&params) == 0);
    CHECK(cimg_image_destruct(&image) == 0);
    CHECK(csys_memory_getLiveBlockCount() == live);
    printf("cblob consumer: ok\n");
    return 0;
}

// Fuzz target: run-length image operations on fuzzed byte rows. The input
// decodes into an image size, a run count and rows of (value, length) pairs
// in the host's run-length format. Each row lives in a block of its own that
// ends right after its first terminator (a pair of length 0), so reading one
// byte past a row is a heap overflow under the sanitizers. Rows whose
// lengths do not add up to the width must give a status; rows that do give
// an image whose pixels, run counts, histogram and projections match the
// pairs, and which the run entry points then take as an input and the
// image entry points as a mask.
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz_support.hpp"

namespace {

struct Rows {
    std::vector<std::unique_ptr<uint8_t[]>> blocks;
    std::vector<const uint8_t *> rows;
    std::vector<std::vector<uint8_t>> pixels;  // per row, decoded from the pairs; empty when the row is invalid
    bool valid = true;
};

// Cuts `height` rows from the input: each takes up to `maxPairs` pairs and
// ends at its first terminator (one is added when the input has none).
Rows cutRows(fuzz::Bytes &in, int32_t width, int32_t height) {
    Rows r;
    for (int32_t y = 0; y < height; ++y) {
        const int32_t maxPairs = 1 + in.below(12);
        std::vector<uint8_t> row;
        for (int32_t i = 0; i < maxPairs; ++i) {
            const uint8_t v = in.u8(), len = in.u8();
            row.push_back(v);
            row.push_back(len);
            if (len == 0) break;
        }
        if (row.back() != 0) {
            row.push_back(0);
            row.push_back(0);
        }
        std::vector<uint8_t> px;
        for (size_t i = 0; row[i + 1] != 0; i += 2) px.insert(px.end(), row[i + 1], row[i]);
        if (static_cast<int32_t>(px.size()) != width) r.valid = false;
        r.pixels.push_back(px);
        std::unique_ptr<uint8_t[]> block(new uint8_t[row.size()]);
        std::memcpy(block.get(), row.data(), row.size());
        r.rows.push_back(block.get());
        r.blocks.push_back(std::move(block));
    }
    return r;
}

void checkImage(const cblob_imageRlePtrh *h, const Rows &r, int32_t width, int32_t height) {
    cstd_rect32 box;
    FUZZ_CHECK(cblob_imageRlePtrh_getBoundingBox(h, &box) == 0);
    uint32_t pixelHist[256] = {}, runHist[256] = {};
    FUZZ_CHECK(cblob_imageRlePtrh_histo(h, pixelHist, runHist) == 0);
    uint32_t expectHist[256] = {}, expectRuns[256] = {};
    std::vector<uint32_t> rowSum(height, 0), colSum(width, 0);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t v = r.pixels[y][x];
            uint8_t got = 0;
            FUZZ_CHECK(cblob_imageRlePtrh_getPel8(h, x, y, &got) == 0);
            FUZZ_CHECK(got == v);
            ++expectHist[v];
            if (x == 0 || r.pixels[y][x - 1] != v) ++expectRuns[v];  // merged runs
            rowSum[y] += v;
            colSum[x] += v;
        }
    }
    FUZZ_CHECK(std::memcmp(pixelHist, expectHist, sizeof pixelHist) == 0);
    FUZZ_CHECK(std::memcmp(runHist, expectRuns, sizeof runHist) == 0);
    cstd_vector32 proj;
    FUZZ_CHECK(cstd_vector32_constructEmpty(&proj) == 0);
    const uint32_t *p = nullptr;
    FUZZ_CHECK(cblob_imageRlePtrh_projectHoriz(h, &proj) == 0);
    FUZZ_CHECK(cstd_vector32_getBeginConst(&proj, &p) == 0);
    for (int32_t y = 0; y < height; ++y) FUZZ_CHECK(p[y] == rowSum[y]);
    FUZZ_CHECK(cblob_imageRlePtrh_projectVert(h, &proj) == 0);
    FUZZ_CHECK(cstd_vector32_getBeginConst(&proj, &p) == 0);
    for (int32_t x = 0; x < width; ++x) FUZZ_CHECK(p[x] == colSum[x]);
    FUZZ_CHECK(cblob_imageRlePtrh_projectDiag(h, &proj) == 0);
    FUZZ_CHECK(cstd_vector32_destruct(&proj) == 0);
    int32_t equal = 0;
    FUZZ_CHECK(cblob_imageRlePtrh_compareEqual(h, h, &equal) == 0 && equal == 1);
}

// The rows as an input (labelled as they stand, or thresholded) and as a
// mask of an image of the same size.
void runWith(fuzz::Bytes &in, const cblob_imageRlePtrh *h, const Rows &r, int32_t width, int32_t height) {
    cblob_runParams p;
    FUZZ_CHECK(cblob_runParams_construct(&p) == 0);
    const bool none = in.flag();
    const uint8_t value = in.u8();
    const int32_t invert = in.below(2);
    if (none) (void)cblob_runParams_setSegmentationNone(&p, 1 + value);
    else (void)cblob_runParams_setSegmentationHardThresh(&p, value, invert);
    cblob_resultSet rs;
    FUZZ_CHECK(cblob_resultSet_construct(&rs) == 0);
    int32_t status = cblob_runRle8_withRleMask(h, nullptr, &p, &rs);
    if (status == 0) fuzz::checkTree(rs);

    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = in.u8();
    cimg_image image;
    cimg_image8_construct(&image);
    FUZZ_CHECK(cimg_image_initFromBuffer(&image, pixels.data(), 8, width, height, width, 0, 0) == 0);
    const cstd_rect32 rect{0, 0, width, height};
    FUZZ_CHECK(cblob_runParams_setSegmentationHardThresh(&p, 128, 0) == 0);
    status = cblob_run8_withTORVRleMask(reinterpret_cast<const cimg_imageConst *>(&image), r.rows.data(), &rect, &p,
                                        &rs);
    if (status == 0) {
        fuzz::checkTree(rs);
        double objects = 0;
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x)
                if (r.pixels[y][x] != 0 && pixels[static_cast<size_t>(y) * width + x] >= 128) objects += 1;
        FUZZ_CHECK(fuzz::objectArea(rs) == objects);
    }
    cimg_image_destruct(&image);
    FUZZ_CHECK(cblob_resultSet_destruct(&rs) == 0);
    FUZZ_CHECK(cblob_runParams_destruct(&p) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::Bytes in(data, size);
    // Mostly small images; sometimes any width (rows of the wrong length
    // are refused), height or run count.
    const int32_t width = in.below(4) == 0 ? in.i32() % (1 << 20) : 1 + in.below(40);
    const int32_t height = in.below(8) == 0 ? in.i32() % 64 : 1 + in.below(12);
    const int32_t numRuns = in.below(8) == 0 ? in.i32() : in.below(64);
    if (height < 1 || width < 1) {
        // Geometry a caller may get wrong: refused before any row is read.
        cblob_imageRle img;
        const uint8_t row[2] = {0, 0};
        const uint8_t *rows[1] = {row};
        cmath_xformPtrhConst none;
        cmath_xformPtrhConst_construct(&none);
        const int32_t status = cblob_imageRle_constructFromTORVRLE(&img, rows, numRuns, 0, 0, width, height, &none);
        FUZZ_CHECK(status == cstd_err_badRect);
        cmath_xformPtrhConst_destruct(&none);
        FUZZ_CHECK(csys_memory_getLiveBlockCount() == 0);
        return 0;
    }
    const Rows r = cutRows(in, width, height);
    void *mem = nullptr;
    FUZZ_CHECK(csys_memory_alloc_internal(sizeof(cblob_imageRle), &mem) == 0);
    auto *img = static_cast<cblob_imageRle *>(mem);
    cmath_xformPtrhConst none;
    cmath_xformPtrhConst_construct(&none);
    const int32_t status =
        cblob_imageRle_constructFromTORVRLE(img, r.rows.data(), numRuns, in.below(3) - 1, 0, width, height, &none);
    cmath_xformPtrhConst_destruct(&none);
    if (status != 0) {
        FUZZ_CHECK(status < 0);
        // Every valid set of rows with a sensible size is taken.
        FUZZ_CHECK(!(r.valid && width >= 1 && numRuns >= 0));
        csys_memory_free_internal(&mem);
    } else {
        FUZZ_CHECK(r.valid && img->width == width && img->height == height);
        cblob_imageRlePtrh h;
        cblob_imageRlePtrh_construct(&h);
        FUZZ_CHECK(cblob_imageRlePtrh_attach(&h, img) == 0);
        cstd_point32 origin{0, 0};
        FUZZ_CHECK(cblob_imageRlePtrh_setOffset(&h, &origin) == 0);
        checkImage(&h, r, width, height);
        runWith(in, &h, r, width, height);
        FUZZ_CHECK(cblob_imageRlePtrh_destruct(&h) == 0);
    }
    // The rows as the mask of an image run, valid or not.
    if (static_cast<int64_t>(width) * height <= (1 << 22)) {
        std::vector<uint8_t> pixels(static_cast<size_t>(width) * height, 200);
        cimg_image image;
        cimg_image8_construct(&image);
        FUZZ_CHECK(cimg_image_initFromBuffer(&image, pixels.data(), 8, width, height, width, 0, 0) == 0);
        cblob_runParams p;
        FUZZ_CHECK(cblob_runParams_construct(&p) == 0);
        p.keepMaskImage = in.below(2);
        p.keepThresholdedImage = in.below(2);
        FUZZ_CHECK(cblob_runParams_setSegmentationHardThresh(&p, 100, 0) == 0);
        cblob_resultSet rs;
        FUZZ_CHECK(cblob_resultSet_construct(&rs) == 0);
        const cstd_rect32 rect{0, 0, width, height};
        const int32_t runStatus = cblob_run8_withTORVRleMask(reinterpret_cast<const cimg_imageConst *>(&image),
                                                             r.rows.data(), &rect, &p, &rs);
        if (runStatus == 0) fuzz::checkTree(rs);
        cimg_image_destruct(&image);
        FUZZ_CHECK(cblob_resultSet_destruct(&rs) == 0);
        FUZZ_CHECK(cblob_runParams_destruct(&p) == 0);
    }
    FUZZ_CHECK(csys_memory_getLiveBlockCount() == 0);
    return 0;
}

// Image objects, shared pixel storage, wrapped buffers and windows.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "cblob/image.h"

namespace {

TEST(Image, ConstructorsAndGeometryChecks) {
    cimg_image img, c;
    ASSERT_EQ(cimg_image16_construct(&img), 0);
    EXPECT_EQ(img.bitsPerPel, 16);
    int32_t bound = 1;
    const uint8_t *pel = nullptr;
    cimg_imageConst_getIsBound(&img, &bound);
    EXPECT_EQ(bound, 0);
    EXPECT_EQ(cimg_imageConst_pointToPel_internal(&img, 0, 0, &pel), cimg_err_unbound);
    std::memset(&c, 0x5A, sizeof c);
    EXPECT_EQ(cimg_image_constructUnbound(&c, 12), cimg_err_badDepth);
    EXPECT_EQ(c.bitsPerPel, 0x5A5A5A5A);  // nothing written on failure
    const struct {
        int32_t width, height, status;
    } sizes[] = {{-1, 3, cimg_err_badGeometry}, {3, -1, cimg_err_badGeometry}, {INT32_MAX, 1, cimg_err_badGeometry},
                 {0, 0, 0}, {0, 5, 0}};
    for (const auto &s : sizes) {
        EXPECT_EQ(cimg_image_assignNew(&img, s.width, s.height), s.status) << s.width << "x" << s.height;
        EXPECT_TRUE(s.status || (img.width == s.width && img.pels != nullptr));  // an empty image is still bound
    }
    alignas(4) uint8_t buffer[64] = {};
    const struct {
        void *pixels;
        int32_t bits, width, height, stride, status;
    } wraps[] = {
        {buffer, 8, 4, 4, 3, cimg_err_badGeometry},  {buffer, 16, 4, 4, 6, cimg_err_badGeometry},
        {buffer, 16, 2, 2, 5, cimg_err_badGeometry}, {buffer + 1, 16, 2, 2, 4, cimg_err_badGeometry},
        {buffer, 12, 2, 2, 4, cimg_err_badDepth},    {buffer, 8, -2, 2, 4, cimg_err_badGeometry},
        {buffer + 1, 8, 4, 4, 5, 0},                 {buffer, 16, 2, 3, 6, 0},
    };
    for (const auto &w : wraps) {
        const cimg_image before = img;
        EXPECT_EQ(cimg_image_initFromBuffer(&img, w.pixels, w.bits, w.width, w.height, w.stride, 0, 0), w.status);
        EXPECT_TRUE(!w.status || std::memcmp(&before, &img, sizeof img) == 0);
    }
    cimg_image_destruct(&img);
}

TEST(Image, CopiesSharePixelsAndAssignNewDetaches) {
    const int64_t before = csys_memory_getLiveBlockCount();
    cimg_image img, copy;
    cimg_image16_construct(&img);
    cimg_image_setOrigin(&img, -3, 7);
    ASSERT_EQ(cimg_image_assignNew(&img, 5, 4), 0);
    EXPECT_TRUE(img.strideBytes == 10 && img.originX == -3);  // assignNew keeps the origin
    for (int i = 0; i < 20; ++i) EXPECT_EQ(reinterpret_cast<uint16_t *>(img.pels)[i], 0);
    ASSERT_EQ(cimg_imageConst_constructCopy(&copy, &img), 0);
    EXPECT_EQ(csys_memory_getLiveBlockCount(), before + 1);  // no pixel copy
    uint8_t *pel = nullptr;
    const uint8_t *seen = nullptr;
    ASSERT_EQ(cimg_image_pointToPel_internal(&img, -1, 9, &pel), 0);
    *reinterpret_cast<uint16_t *>(pel) = 40000;
    ASSERT_EQ(cimg_imageConst_pointToPel_internal(&copy, -1, 9, &seen), 0);
    EXPECT_EQ(*reinterpret_cast<const uint16_t *>(seen), 40000);
    // Fresh storage for one copy leaves the other's pixels alone.
    ASSERT_EQ(cimg_image_assignNew(&img, 2, 2), 0);
    EXPECT_EQ(*reinterpret_cast<const uint16_t *>(seen), 40000);
    EXPECT_EQ(csys_memory_getLiveBlockCount(), before + 2);
    cimg_imageConst_assign(&img, &copy);
    cimg_imageConst_assign(&img, &img);
    EXPECT_EQ(img.width, 5);
    EXPECT_EQ(csys_memory_getLiveBlockCount(), before + 1);
    cimg_image_destruct(&copy);
    EXPECT_EQ(*reinterpret_cast<const uint16_t *>(seen), 40000);  // img still holds the storage
    cimg_image_destruct(&img);
    EXPECT_EQ(csys_memory_getLiveBlockCount(), before);
}

TEST(Image, WrappedBufferAddressesAndWindowsOfWindows) {
    // 8- and 16-bit buffers with padded rows; origin away from zero.
    for (int bits : {8, 16}) {
        const int width = 13, height = 9, stride = 40, ox = 100, oy = -20;
        std::vector<uint8_t> buffer(stride * height);  // heap blocks are aligned for 16-bit pixels
        auto address = [&](int x, int y) { return buffer.data() + (y - oy) * stride + (x - ox) * (bits / 8); };
        cimg_image img;
        cimg_image_constructUnbound(&img, bits);
        ASSERT_EQ(cimg_image_initFromBuffer(&img, buffer.data(), bits, width, height, stride, ox, oy), 0);
        for (int y = oy - 1; y <= oy + height; ++y) {
            for (int x = ox - 1; x <= ox + width; ++x) {
                const uint8_t *p = nullptr;
                const bool inside = x >= ox && x < ox + width && y >= oy && y < oy + height;
                ASSERT_EQ(cimg_imageConst_pointToPel_internal(&img, x, y, &p), inside ? 0 : cimg_err_badGeometry);
                EXPECT_TRUE(!inside || p == address(x, y));
            }
        }
        cimg_windowConst whole, a, b;
        cimg_window writable;
        const uint8_t *row = nullptr;
        ASSERT_EQ(cimg_windowConst_init(&whole, &img), 0);
        ASSERT_EQ(cimg_windowConst_getWindow(&a, &whole, ox + 2, oy + 1, 8, 6), 0);
        ASSERT_EQ(cimg_windowConst_getWindow(&b, &a, ox + 5, oy + 3, 3, 4), 0);
        ASSERT_EQ(cimg_window_initWindow(&writable, &img, ox + 5, oy + 3, 3, 4), 0);
        ASSERT_EQ(cimg_windowConst_getRow(&b, 3, &row), 0);
        EXPECT_TRUE(whole.pels == buffer.data() && b.pels == address(ox + 5, oy + 3) && writable.pels == b.pels);
        EXPECT_EQ(row, b.pels + 3 * stride);
        EXPECT_EQ(cimg_windowConst_getRow(&b, 4, &row), cimg_err_badGeometry);
        // Rectangles that leave their parent by one pixel on each side.
        const struct {
            int32_t x, y, width, height;
        } outside[] = {{ox + 1, oy + 1, 3, 3}, {ox + 2, oy, 3, 3}, {ox + 8, oy + 1, 3, 3},
                       {ox + 2, oy + 5, 3, 3}, {ox + 2, oy + 1, -1, 3}};
        for (const auto &s : outside) {
            const cimg_windowConst kept = b;
            EXPECT_EQ(cimg_windowConst_getWindow(&b, &a, s.x, s.y, s.width, s.height), cimg_err_badGeometry);
            EXPECT_EQ(std::memcmp(&kept, &b, sizeof b), 0);
        }
        EXPECT_EQ(cimg_windowConst_initWindow(&b, &img, ox + width - 2, oy, 3, 1), cimg_err_badGeometry);
        // An empty window at the far corner is inside and addresses nothing.
        ASSERT_EQ(cimg_windowConst_initWindow(&b, &img, ox + width, oy + height, 0, 0), 0);
        EXPECT_NE(b.pels, nullptr);
        EXPECT_EQ(cimg_windowConst_getRow(&b, 0, &row), cimg_err_badGeometry);
        cimg_image_destruct(&img);
    }
    // Windows of an image with geometry but no pixels are unbound.
    cimg_image img;
    cimg_image8_construct(&img);
    img.width = img.height = 10;
    cimg_window w, sub;
    int32_t bound = 1;
    uint8_t *row = nullptr;
    ASSERT_EQ(cimg_window_init(&w, &img), 0);
    ASSERT_EQ(cimg_window_getWindow(&sub, &w, 2, 2, 3, 3), 0);
    cimg_window_getIsBound(&sub, &bound);
    EXPECT_EQ(bound, 0);
    EXPECT_EQ(cimg_window_getRow(&sub, 0, &row), cimg_err_unbound);
    cimg_image_destruct(&img);
}

TEST(Image, ClientTransformIsStoredAsTheInverse) {
    cimg_image img;
    cimg_image8_construct(&img);
    const cmath_xformLinear lin = {{2, 0, 0, 4}, 10, 20}, flat = {{1, 1, 1, 1}, 0, 0};
    cmath_xformPtrhConst imageFromClient, got, singular;
    cmath_xformPtrhConst_constructLinear(&imageFromClient, &lin);
    cmath_xformPtrhConst_constructLinear(&singular, &flat);
    cmath_xformPtrhConst_construct(&got);
    ASSERT_EQ(cimg_image_setImageFromClientXform(&img, &imageFromClient), 0);
    ASSERT_EQ(cimg_imageConst_getClientFromImageXform(&img, &got), 0);
    double x = 0, y = 0;
    cmath_xformPtrhConst_mapPoint(&got, 12, 24, &x, &y);  // image (12, 24) came from client (1, 1)
    EXPECT_TRUE(x == 1 && y == 1);
    ASSERT_EQ(cimg_imageConst_getImageFromClientXform(&img, &got), 0);
    EXPECT_EQ(got.ptrh.shared, imageFromClient.ptrh.shared);
    cstd_shared *kept = img.clientFromImage.ptrh.shared;
    EXPECT_EQ(cimg_image_setImageFromClientXform(&img, &singular), cmath_err_singularXform);
    EXPECT_EQ(img.clientFromImage.ptrh.shared, kept);
    for (cmath_xformPtrhConst *h : {&singular, &got, &imageFromClient}) cmath_xformPtrhConst_destruct(h);
    cimg_image_destruct(&img);
}

}  // namespace

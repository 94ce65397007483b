// Test images in every storage a run-length image can have: packed through
// the host's pair format (grey only), filled into owned storage a few rows
// per block, or borrowing rows the test owns (no storage, no sentinel rows,
// binary rows ending after their last foreground run as the blob database
// stores them); and the way back and forth between pixels and models.
#ifndef CBLOB_TESTS_RLE_IMAGES_HPP
#define CBLOB_TESTS_RLE_IMAGES_HPP

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "cblob/rle_image.h"
#include "support/rle_model.hpp"

namespace rletest {

enum class Storage { Packed, Filled, Borrowed };

inline const char *storageName(Storage s) {
    return s == Storage::Packed ? "packed" : s == Storage::Filled ? "filled" : "borrowed";
}

// "grey 7x5 filled": the model's kind, size and storage, for traces.
inline std::string label(const Model &m, Storage s) {
    return std::string(m.grey ? "grey " : "binary ") + std::to_string(m.width) + "x" + std::to_string(m.height()) +
           " " + storageName(s);
}

// The storages a model can take: grey models all three, binary ones filled
// and borrowed.
inline std::vector<Storage> storagesFor(const Model &m) {
    if (m.grey) return {Storage::Packed, Storage::Filled, Storage::Borrowed};
    return {Storage::Filled, Storage::Borrowed};
}

// Builds in h a record whose rows borrow the caller's `table` and `bytes`
// (filled here from the model), which must outlive the record. Binary rows
// end after their last foreground run, as blob rows do.
inline int32_t makeBorrowed(cblob_imageRlePtrh *h, const Model &m, std::vector<std::vector<uint8_t>> &bytes,
                            std::vector<cblob_rleRow> &table) {
    for (Row row : m.rows) {
        if (!m.grey && !row.empty() && row.back().value == 0) row.pop_back();
        bytes.push_back(encodeRow(row, m.grey));
        table.push_back({nullptr, static_cast<int32_t>(row.size()),
                         static_cast<uint8_t>(!m.grey && !row.empty() ? row[0].value : 0)});
    }
    for (size_t y = 0; y < table.size(); ++y) table[y].runs = bytes[y].data();
    return makeHandle(h, [&](cblob_imageRle *img) {
        const int32_t built = cblob_imageRle_construct_(img);
        img->offsetX = m.offsetX;
        img->offsetY = m.offsetY;
        img->width = m.width;
        img->height = m.height();
        img->numRuns = m.numRuns();
        img->isGrey = m.grey ? 1 : 0;
        img->rows = table.data();
        return built;
    });
}

// A handle on a record holding the model in the given storage.
struct Image {
    Image(const Model &model, Storage storage) : m(model) {
        const int32_t status = storage == Storage::Borrowed ? makeBorrowed(&h, m, bytes, table)
                                                            : makeHandle(&h, [&](cblob_imageRle *img) {
                                                                  return storage == Storage::Packed
                                                                             ? buildFromTorv(img, m)
                                                                             : buildByFilling(img, m, 3);
                                                              });
        EXPECT_EQ(status, 0);
    }
    ~Image() { cblob_imageRlePtrh_destruct(&h); }
    Image(const Image &) = delete;
    Image &operator=(const Image &) = delete;
    cblob_imageRle *record() const {
        cblob_imageRle *img = nullptr;
        cblob_imageRlePtrh_getImageRle(&h, &img);
        return img;
    }
    Model m;
    std::vector<std::vector<uint8_t>> bytes;
    std::vector<cblob_rleRow> table;
    cblob_imageRlePtrh h;
};

// Pixels of a model, row after row.
struct Pixels {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> p;
    uint8_t at(int32_t x, int32_t y) const { return p[static_cast<size_t>(y) * width + x]; }
    uint8_t &at(int32_t x, int32_t y) { return p[static_cast<size_t>(y) * width + x]; }
};

inline Pixels decode(const Model &m) {
    Pixels out{m.width, m.height(), std::vector<uint8_t>(static_cast<size_t>(m.width) * m.height())};
    for (int32_t y = 0; y < m.height(); ++y)
        for (int32_t x = 0; x < m.width; ++x) out.at(x, y) = m.pel(x, y);
    return out;
}

// The model of pixels: each row's maximal runs of one value.
inline Model encode(const Pixels &px, bool grey, int32_t offsetX, int32_t offsetY) {
    Model m;
    m.width = px.width;
    m.grey = grey;
    m.offsetX = offsetX;
    m.offsetY = offsetY;
    for (int32_t y = 0; y < px.height; ++y) {
        Row row;
        for (int32_t x = 0; x < px.width; ++x) {
            if (!row.empty() && row.back().value == px.at(x, y)) {
                ++row.back().length;
            } else {
                row.push_back({px.at(x, y), 1});
            }
        }
        m.rows.push_back(row);
    }
    return m;
}

// Expects the image *h holds to equal the model, through compareEqual
// against the model filled into owned storage, and its run count and format.
inline void expectImageEquals(const cblob_imageRlePtrh *h, const Model &expected) {
    Image want(expected, Storage::Filled);
    int32_t equal = 0;
    ASSERT_EQ(cblob_imageRlePtrh_compareEqual(h, &want.h, &equal), 0);
    EXPECT_EQ(equal, 1);
    cblob_imageRle *img = nullptr;
    cblob_imageRlePtrh_getImageRle(h, &img);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->numRuns, expected.numRuns());
    EXPECT_EQ(img->isGrey, expected.grey ? 1 : 0);
    EXPECT_NE(img->data, nullptr);
    if (img->data) {
        EXPECT_EQ(img->data->isWide, 0);
    }
}

// The model with its first and last rows made uniform (one run each).
inline Model withUniformEdges(Model m, uint8_t value) {
    if (m.rows.empty()) return m;
    m.rows.front() = {{value, m.width}};
    m.rows.back() = {{static_cast<uint8_t>(m.grey ? value / 2 : value ^ 1), m.width}};
    return m;
}

// The model with each row repeated 1 to 4 times (straight vertical edges,
// as parts and text have), cut back to its height.
inline Model withRepeatedRows(Model m) {
    std::vector<Row> rows;
    for (size_t y = 0; rows.size() < m.rows.size(); ++y)
        for (size_t k = 0; k < 1 + (y * 7 + 3) % 4 && rows.size() < m.rows.size(); ++k) rows.push_back(m.rows[y]);
    m.rows = rows;
    return m;
}

// Random grey and binary images of many sizes (1 pixel wide and high among
// them), long runs, full 8-bit values, and uniform edge rows.
inline std::vector<Model> testModels() {
    std::vector<Model> out;
    const int32_t sizes[][2] = {{1, 1}, {1, 9}, {11, 1}, {2, 2}, {7, 5}, {23, 17}, {40, 31}};
    uint32_t seed = 1;
    for (const auto &size : sizes) {
        out.push_back(randomModel(seed++, size[0], size[1], true, 5, 4));
        out.push_back(randomModel(seed++, size[0], size[1], false, 6));
    }
    out.push_back(randomModel(seed++, 33, 12, true, 9, 256));
    out.push_back(randomModel(seed++, 700, 3, true, 400, 256));
    out.push_back(randomModel(seed++, 600, 4, false, 500));
    out.push_back(withUniformEdges(randomModel(seed++, 19, 8, true, 4, 5), 3));
    out.push_back(withUniformEdges(randomModel(seed++, 19, 8, false, 3), 1));
    out.push_back(withUniformEdges(randomModel(seed++, 30, 6, false, 4), 0));
    out.push_back(withRepeatedRows(randomModel(seed++, 37, 29, false, 5)));
    out.push_back(withRepeatedRows(randomModel(seed++, 300, 21, false, 90)));
    out.push_back(withRepeatedRows(randomModel(seed++, 26, 19, true, 4, 3)));
    return out;
}

// One filter pass: the minimum or maximum over the pixel and its neighbours
// along x (horizontal) or y, clipped to the image.
inline Pixels filter(const Pixels &in, bool horizontal, bool minimum) {
    Pixels out = in;
    for (int32_t y = 0; y < in.height; ++y)
        for (int32_t x = 0; x < in.width; ++x) {
            uint8_t v = in.at(x, y);
            for (int d : {-1, 1}) {
                const int32_t nx = horizontal ? x + d : x, ny = horizontal ? y : y + d;
                if (nx < 0 || ny < 0 || nx >= in.width || ny >= in.height) continue;
                v = minimum ? std::min(v, in.at(nx, ny)) : std::max(v, in.at(nx, ny));
            }
            out.at(x, y) = v;
        }
    return out;
}

// The operation codes as filters on pixels, written from their definitions:
// erosion takes minima, dilation maxima; 3 x 3 is both directions; closing
// dilates then erodes, opening erodes then dilates.
inline Pixels morphReference(const Pixels &in, int32_t op) {
    auto erode = [](const Pixels &p, bool h, bool v) {
        Pixels r = p;
        if (h) r = filter(r, true, true);
        if (v) r = filter(r, false, true);
        return r;
    };
    auto dilate = [](const Pixels &p, bool h, bool v) {
        Pixels r = p;
        if (h) r = filter(r, true, false);
        if (v) r = filter(r, false, false);
        return r;
    };
    const int32_t element = op % 3;  // 0: 1 x 3, 1: 3 x 1, 2: 3 x 3
    const bool h = element != 1, v = element != 0;
    switch (op / 3) {
        case 0:
            return erode(in, h, v);
        case 1:
            return dilate(in, h, v);
        case 2:
            return erode(dilate(in, h, v), h, v);
        default:
            return dilate(erode(in, h, v), h, v);
    }
}

}  // namespace rletest

#endif

// Helpers for the connectivity scan tests: pixel images (random, blocky or
// drawn as text), their run-length records (narrow or wide), the pools and
// thread group a banded scan needs, and a relative comparison of sums.
#ifndef CBLOB_TESTS_SCAN_PIXELS_HPP
#define CBLOB_TESTS_SCAN_PIXELS_HPP

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "cblob/job.h"
#include "cblob/rle_image.h"
#include "cblob/result_set.h"
#include "connect/blob_internal_pool.hpp"
#include "rle/wide_copy.hpp"
#include "support/rle_model.hpp"

namespace scantest {

struct Pixels {
    int w = 0, h = 0;
    std::vector<uint8_t> v;  // w x h values: 0 background, else the object's weight
    uint8_t &at(int x, int y) { return v[static_cast<size_t>(y * w + x)]; }
    uint8_t at(int x, int y) const { return v[static_cast<size_t>(y * w + x)]; }
};

// Each pixel an object with probability `density`, of weight 1..levels.
inline Pixels randomPixels(std::mt19937 &rng, int w, int h, double density, int levels = 1) {
    Pixels p{w, h, std::vector<uint8_t>(static_cast<size_t>(w * h))};
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (auto &v : p.v) v = static_cast<uint8_t>(u(rng) < density ? 1 + rng() % static_cast<unsigned>(levels) : 0);
    return p;
}

// Random blocks of `cell` pixels a side (0: 1 to 4): larger shapes, nested
// holes, rows that repeat the row above; each object pixel of weight 1..levels.
inline Pixels blockyPixels(std::mt19937 &rng, int w, int h, double density, int cell = 0, int levels = 1) {
    if (cell == 0) cell = 1 + static_cast<int>(rng() % 4);
    const Pixels coarse = randomPixels(rng, w / cell + 1, h / cell + 1, density);
    Pixels p{w, h, std::vector<uint8_t>(static_cast<size_t>(w * h))};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (!coarse.at(x / cell, y / cell)) continue;
            p.at(x, y) = static_cast<uint8_t>(levels > 1 ? 1 + rng() % static_cast<unsigned>(levels) : 1);
        }
    return p;
}

// '#' object, anything else background.
inline Pixels fromText(const std::vector<std::string> &rows) {
    Pixels p{static_cast<int>(rows.empty() ? 0 : rows[0].size()), static_cast<int>(rows.size()), {}};
    for (const auto &r : rows)
        for (char c : r) p.v.push_back(c == '#' ? 1 : 0);
    return p;
}

// Rows of runs of the pixel values (grey) or of object / background.
inline rletest::Model modelOf(const Pixels &p, bool grey, int ox = 0, int oy = 0) {
    rletest::Model m;
    m.width = p.w, m.grey = grey, m.offsetX = ox, m.offsetY = oy;
    for (int y = 0; y < p.h; ++y) {
        rletest::Row row;
        for (int x = 0; x < p.w; ++x) {
            const uint8_t v = grey ? p.at(x, y) : (p.at(x, y) ? 1 : 0);
            if (!row.empty() && row.back().value == v) {
                ++row.back().length;
            } else {
                row.push_back({v, 1});
            }
        }
        m.rows.push_back(row);
    }
    return m;
}

// A run-length image record built from pixels, optionally in wide layout.
struct RleImage {
    cblob_imageRle narrow{}, wide{};
    bool isWide = false;
    RleImage(const Pixels &p, bool grey, bool wideRows = false, int ox = 0, int oy = 0) : isWide(wideRows) {
        EXPECT_EQ(rletest::buildByFilling(&narrow, modelOf(p, grey, ox, oy)), 0);
        if (wideRows) {
            EXPECT_EQ(cblob::rle::constructWideCopy(&wide, &narrow), 0);
        }
    }
    ~RleImage() {
        if (isWide) cblob_imageRle_destruct(&wide);
        cblob_imageRle_destruct(&narrow);
    }
    RleImage(const RleImage &) = delete;
    RleImage &operator=(const RleImage &) = delete;
    const cblob_imageRle *get() const { return isWide ? &wide : &narrow; }
    cblob_imageRle *get() { return isWide ? &wide : &narrow; }
};

// One blob pool per band, constructed in turn until one fails (`status`);
// the constructed ones are released on destruction.
struct Pools {
    std::vector<cblob::connect::BlobInternalPool> pools;
    int constructed = 0;
    int32_t status = 0;
    Pools(int bands, int32_t recordsPerBlock) : pools(static_cast<size_t>(bands)) {
        for (; constructed < bands && !CBLOB_FAILED(status); ++constructed) {
            status = cblob::connect::poolConstruct(&pools[static_cast<size_t>(constructed)], recordsPerBlock);
        }
        if (CBLOB_FAILED(status)) --constructed;
    }
    ~Pools() {
        for (int b = 0; b < constructed; ++b) cblob::connect::poolDestruct(&pools[static_cast<size_t>(b)]);
    }
    Pools(const Pools &) = delete;
    Pools &operator=(const Pools &) = delete;
    cblob::connect::BlobInternalPool *data() { return pools.data(); }
};

// A job thread group of `threads` threads for its lifetime.
struct ThreadGroup {
    csys_jobThreadGroup group;
    explicit ThreadGroup(int threads) {
        csys_jobThreadGroup_construct(&group);
        csys_jobThreadGroup_setThreadCount(&group, threads);
    }
    ~ThreadGroup() { csys_jobThreadGroup_destruct(&group); }
    ThreadGroup(const ThreadGroup &) = delete;
    ThreadGroup &operator=(const ThreadGroup &) = delete;
};

// The tree links of a scan's blobs (in label order) hold together: the
// labelled and current links agree, every child list runs forwards and
// backwards through children of the other colour naming this parent, and
// the top-level chain from the first top-level blob holds every blob
// without a parent; every blob is in one of the lists.
inline ::testing::AssertionResult consistentTree(const cblob_resultSet &rs, const std::vector<cblob_blob *> &blobs) {
    size_t topLevel = 0, listed = 0;
    for (const cblob_blob *b : blobs) {
        if (b->curFirstChild != b->firstChild || b->curNextSibling != b->nextSibling ||
            b->curNumChildren != b->numChildren) {
            return ::testing::AssertionFailure() << "current links differ for blob " << b->label;
        }
        int n = 0;
        const cblob_blob *prev = nullptr;
        for (const cblob_blob *c = b->firstChild; c && n <= b->numChildren; prev = c, c = c->nextSibling, ++n) {
            if (c->parent != b || c->prevSibling != prev || c->colour == b->colour) {
                return ::testing::AssertionFailure() << "child " << c->label << " of blob " << b->label;
            }
        }
        if (b->lastChild != prev || n != b->numChildren) {
            return ::testing::AssertionFailure() << "child list of blob " << b->label;
        }
        topLevel += b->parent ? 0 : 1;
        listed += static_cast<size_t>(n);
    }
    size_t chained = 0;
    for (const cblob_blob *b = rs.firstTopLevelBlob; b && chained <= blobs.size(); b = b->nextSibling, ++chained) {
        if (b->parent) return ::testing::AssertionFailure() << "blob " << b->label << " in the top-level chain";
    }
    if (chained != topLevel || (rs.firstTopLevelBlob && rs.firstTopLevelBlob->prevSibling)) {
        return ::testing::AssertionFailure() << chained << " blobs in the top-level chain of " << topLevel;
    }
    if (topLevel + listed != blobs.size()) return ::testing::AssertionFailure() << "blobs outside every list";
    return ::testing::AssertionSuccess();
}

// a equals b to 1e-9 relative to the larger of 1, |b| and scale.
inline bool near(double a, double b, double scale = 1.0) {
    return std::fabs(a - b) <= 1e-9 * std::max({1.0, std::fabs(b), scale});
}

}  // namespace scantest

#endif

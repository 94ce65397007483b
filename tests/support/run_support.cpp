#include "support/run_support.hpp"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>
#include <tuple>

namespace runtest {

GreyImage::GreyImage(int width, int height, int bits, std::vector<uint16_t> values, int originX, int originY,
                     int padPixels)
    : width_(width), height_(height), originX_(originX), originY_(originY), values_(std::move(values)) {
    const int strideBytes = (width + padPixels) * bits / 8;
    storage_.assign(static_cast<size_t>(strideBytes) * height / 2 + 2, 0xA5A5);
    auto *bytes = reinterpret_cast<uint8_t *>(storage_.data());
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint16_t v = at(x, y);
            if (bits == 8) {
                bytes[static_cast<size_t>(y) * strideBytes + x] = static_cast<uint8_t>(v);
            } else {
                storage_[(static_cast<size_t>(y) * strideBytes) / 2 + x] = v;
            }
        }
    }
    if (bits == 8) {
        cimg_image8_construct(&image_);
    } else {
        cimg_image16_construct(&image_);
    }
    EXPECT_EQ(cimg_image_initFromBuffer(&image_, bytes, bits, width, height, strideBytes, originX, originY), 0);
}

GreyImage::~GreyImage() { cimg_image_destruct(&image_); }

Params::Params() { EXPECT_EQ(cblob_runParams_construct(&p), 0); }
Params::~Params() { EXPECT_EQ(cblob_runParams_destruct(&p), 0); }
Results::Results() { EXPECT_EQ(cblob_resultSet_construct(&rs), 0); }
Results::~Results() { EXPECT_EQ(cblob_resultSet_destruct(&rs), 0); }
RleHandle::RleHandle() { cblob_imageRlePtrh_construct(&h); }
RleHandle::~RleHandle() { cblob_imageRlePtrh_destruct(&h); }

TorvMask::TorvMask(const GreyImage &mask) {
    rect = cstd_rect32{mask.originX(), mask.originY(), mask.width(), mask.height()};
    for (int y = 0; y < mask.height(); ++y) {
        std::vector<uint8_t> bytes;
        for (int x = 0; x < mask.width();) {
            const uint8_t value = static_cast<uint8_t>(mask.at(x, y));
            int length = 0;
            while (x < mask.width() && mask.at(x, y) == value && length < 255) {
                ++x;
                ++length;
            }
            bytes.push_back(value);
            bytes.push_back(static_cast<uint8_t>(length));
        }
        bytes.push_back(0);
        bytes.push_back(0);
        rowBytes.push_back(bytes);
    }
    for (const auto &row : rowBytes) rows.push_back(row.data());
}

std::vector<uint16_t> randomValues(std::mt19937 &rng, int width, int height, int bits, double density, int cell) {
    const int thresh = bits == 8 ? 128 : 32768;
    const int cellsX = (width + cell - 1) / cell;
    const int cellsY = (height + cell - 1) / cell;
    std::bernoulli_distribution object(density);
    std::vector<uint8_t> cells(static_cast<size_t>(cellsX) * cellsY);
    for (auto &c : cells) c = object(rng) ? 1 : 0;
    std::uniform_int_distribution<int> offset(0, thresh - 1);
    std::vector<uint16_t> values(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            // Values at the threshold and just below it are frequent, so an
            // off-by-one comparison shows.
            int d = offset(rng);
            if (d % 4 == 0) d = 0;
            const bool isObject = cells[static_cast<size_t>(y / cell) * cellsX + x / cell] != 0;
            values[static_cast<size_t>(y) * width + x] = static_cast<uint16_t>(isObject ? thresh + d : thresh - 1 - d);
        }
    }
    return values;
}

std::vector<uint8_t> hardObjects(const GreyImage &image, int32_t thresh, int32_t invert, const GreyImage *mask) {
    std::vector<uint8_t> objects(static_cast<size_t>(image.width()) * image.height());
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const bool inside = !mask || mask->at(x, y) != 0;
            const bool above = image.at(x, y) >= thresh;
            objects[static_cast<size_t>(y) * image.width() + x] = inside && (above != (invert == 1)) ? 1 : 0;
        }
    }
    return objects;
}

bool readPngGrey(const std::string &path, int *width, int *height, std::vector<uint16_t> *values) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) return false;
    png.format = PNG_FORMAT_GRAY;
    std::vector<uint8_t> bytes(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, bytes.data(), 0, nullptr)) {
        png_image_free(&png);
        return false;
    }
    *width = static_cast<int>(png.width);
    *height = static_cast<int>(png.height);
    values->assign(bytes.begin(), bytes.end());
    return true;
}

namespace {

// The fields compared, from either side.
struct Blob {
    int colour = 0;
    double area = 0;
    int left = 0, top = 0, width = 0, height = 0;
    double cx = 0, cy = 0, ixx = 0, iyy = 0, imin = 0, imax = 0;
    int parent = -1;
    bool moments = true;
};

std::string describe(const Blob &b) {
    std::ostringstream s;
    s << (b.colour ? "object" : "hole") << " area " << b.area << " box (" << b.left << ", " << b.top << ", " << b.width
      << " x " << b.height << ") centre (" << b.cx << ", " << b.cy << ")";
    return s.str();
}

auto key(const Blob &b) { return std::make_tuple(b.colour, b.left, b.top, b.width, b.height, std::llround(b.area)); }

bool near(double a, double b, double scale) { return std::fabs(a - b) <= 1e-6 * (std::fabs(b) + scale + 1.0); }

}  // namespace

::testing::AssertionResult blobsMatch(const cblob_resultSet &rs, const cblobtest::RefResult &ref) {
    // The result set's arrays.
    const int n = rs.numBlobs;
    if (rs.numViewBlobs != n) return ::testing::AssertionFailure() << "view count " << rs.numViewBlobs << " of " << n;
    std::map<const cblob_blob *, int> index;
    std::vector<int> seenLabel(static_cast<size_t>(n) + 1, 0);
    for (int i = 0; i < n; ++i) {
        const cblob_blob *b = rs.allBlobs[i];
        if (rs.view[i] != b) return ::testing::AssertionFailure() << "view entry " << i << " differs";
        if (b->owner != &rs) return ::testing::AssertionFailure() << "blob " << i << " has another owner";
        if (b->label < 1 || b->label > n || seenLabel[b->label]++) {
            return ::testing::AssertionFailure() << "label " << b->label << " not unique in 1.." << n;
        }
        index[b] = i;
    }
    // The scan names the first blob it finished as a child of the outer
    // region; the view starts with the same one.
    bool anyTopLevel = false;
    for (int i = 0; i < n; ++i) anyTopLevel = anyTopLevel || !rs.allBlobs[i]->parent;
    const cblob_blob *firstTop = rs.firstTopLevelBlob;
    if (anyTopLevel != (firstTop != nullptr) || (firstTop && (firstTop->parent || !index.count(firstTop))) ||
        rs.viewFirstTopLevelBlob != firstTop) {
        return ::testing::AssertionFailure() << "the first top-level blob is not a top-level blob of the set";
    }

    std::vector<Blob> lib(static_cast<size_t>(n)), want(ref.blobs.size());
    for (int i = 0; i < n; ++i) {
        const cblob_blob *b = rs.allBlobs[i];
        Blob &e = lib[i];
        e.colour = b->colour;
        e.area = b->area;
        e.left = b->boxLeft;
        e.top = b->boxTop;
        e.width = b->boxWidth;
        e.height = b->boxHeight;
        e.cx = b->centerOfMassX;
        e.cy = b->centerOfMassY;
        e.ixx = b->inertiaX;
        e.iyy = b->inertiaY;
        e.imin = b->inertiaMin;
        e.imax = b->inertiaMax;
        e.moments = b->momentsValid != 0;
        if (b->parent) {
            const auto it = index.find(b->parent);
            if (it == index.end()) return ::testing::AssertionFailure() << "a parent outside the result set";
            e.parent = it->second;
        }
    }
    for (size_t i = 0; i < ref.blobs.size(); ++i) {
        const cblobtest::RefBlob &r = ref.blobs[i];
        Blob &e = want[i];
        e.colour = r.colour;
        e.area = static_cast<double>(r.area);
        e.left = r.left;
        e.top = r.top;
        e.width = r.width;
        e.height = r.height;
        e.cx = r.centerX;
        e.cy = r.centerY;
        e.ixx = r.mxx;
        e.iyy = r.myy;
        const double rr = std::sqrt((r.mxx - r.myy) * (r.mxx - r.myy) + 4.0 * r.mxy * r.mxy);
        e.imin = (r.mxx + r.myy - rr) / 2.0;
        e.imax = (r.mxx + r.myy + rr) / 2.0;
        if (e.imin <= 0.0) e.imin += 1.0;
        if (e.imax <= 0.0) e.imax += 1.0;
        e.parent = r.parent;
    }

    // Multiset matching: equal keys, then the nearest centre of mass.
    std::multimap<decltype(key(want[0])), int> byKey;
    for (size_t i = 0; i < want.size(); ++i) byKey.emplace(key(want[i]), static_cast<int>(i));
    std::vector<int> match(lib.size(), -1);
    for (size_t i = 0; i < lib.size(); ++i) {
        auto range = byKey.equal_range(key(lib[i]));
        auto best = range.second;
        double bestDistance = 0;
        for (auto it = range.first; it != range.second; ++it) {
            const Blob &w = want[it->second];
            const double d = std::hypot(w.cx - lib[i].cx, w.cy - lib[i].cy);
            if (best == range.second || d < bestDistance) {
                best = it;
                bestDistance = d;
            }
        }
        if (best == range.second) {
            return ::testing::AssertionFailure() << "unexpected " << describe(lib[i]) << " (" << lib.size()
                                                 << " blobs, reference " << want.size() << ")";
        }
        match[i] = best->second;
        byKey.erase(best);
    }
    if (!byKey.empty()) {
        return ::testing::AssertionFailure() << "missing " << describe(want[byKey.begin()->second]) << " ("
                                             << lib.size() << " blobs, reference " << want.size() << ")";
    }
    for (size_t i = 0; i < lib.size(); ++i) {
        const Blob &l = lib[i];
        const Blob &w = want[match[i]];
        if (!near(l.cx, w.cx, 0) || !near(l.cy, w.cy, 0)) {
            return ::testing::AssertionFailure() << "centre of " << describe(l) << ", reference " << describe(w);
        }
        if (!l.moments) return ::testing::AssertionFailure() << "no moments for " << describe(l);
        if ((!near(l.ixx, w.ixx, w.area) || !near(l.iyy, w.iyy, w.area) || !near(l.imin, w.imin, w.area) ||
             !near(l.imax, w.imax, w.area))) {
            return ::testing::AssertionFailure()
                   << "moments of " << describe(l) << ": " << l.ixx << " " << l.iyy << " " << l.imin << " " << l.imax
                   << ", reference " << w.ixx << " " << w.iyy << " " << w.imin << " " << w.imax;
        }
        const int parent = l.parent < 0 ? -1 : match[l.parent];
        if (parent != w.parent) return ::testing::AssertionFailure() << "parent of " << describe(l);
    }
    return ::testing::AssertionSuccess();
}

double objectArea(const cblob_resultSet &rs) {
    double sum = 0;
    for (int i = 0; i < rs.numBlobs; ++i) {
        if (rs.allBlobs[i]->colour == 1) sum += rs.allBlobs[i]->area;
    }
    return sum;
}

}  // namespace runtest

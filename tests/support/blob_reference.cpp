#include "support/blob_reference.hpp"

#include <algorithm>
#include <cstdio>
#include <deque>

namespace cblobtest {

namespace {

// Raw sums of one region, in image coordinates.
struct Sums {
    int64_t n = 0;
    double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;  // of pixel centres
    int left = 0, top = 0, right = -1, bottom = -1;

    void addPixel(int x, int y) {
        const double cx = x + 0.5, cy = y + 0.5;
        if (n == 0) left = right = x, top = bottom = y;
        left = std::min(left, x);
        top = std::min(top, y);
        right = std::max(right, x);
        bottom = std::max(bottom, y);
        ++n;
        sx += cx;
        sy += cy;
        sxx += cx * cx;
        syy += cy * cy;
        sxy += cx * cy;
    }
    void absorb(const Sums &o) {
        if (o.n == 0) return;
        if (n == 0) {
            *this = o;
            return;
        }
        n += o.n;
        sx += o.sx, sy += o.sy, sxx += o.sxx, syy += o.syy, sxy += o.sxy;
        left = std::min(left, o.left), top = std::min(top, o.top);
        right = std::max(right, o.right), bottom = std::max(bottom, o.bottom);
    }
};

enum class State { open, working, finished, gone };

struct Region {
    int colour = 0;
    Sums sums;
    int lastRow = -1;
    int parent = -1;  // region index; 0 is the outer region
    std::vector<int> children;
    State state = State::open;
    int mergedInto = -1;  // the region it was merged into, once gone by a merge
};

void detachChild(std::vector<Region> &regions, int parent, int child) {
    auto &list = regions[static_cast<size_t>(parent)].children;
    list.erase(std::remove(list.begin(), list.end(), child), list.end());
}

// Moves every child of `from` under `to`.
void adoptChildren(std::vector<Region> &regions, int from, int to) {
    for (int c : regions[static_cast<size_t>(from)].children) {
        regions[static_cast<size_t>(c)].parent = to;
        regions[static_cast<size_t>(to)].children.push_back(c);
    }
    regions[static_cast<size_t>(from)].children.clear();
}

// Merges region g into region s: sums, children, and g leaves the tree.
void mergeInto(std::vector<Region> &regions, int g, int s) {
    regions[static_cast<size_t>(s)].sums.absorb(regions[static_cast<size_t>(g)].sums);
    adoptChildren(regions, g, s);
    detachChild(regions, regions[static_cast<size_t>(g)].parent, g);
    regions[static_cast<size_t>(g)].state = State::gone;
    regions[static_cast<size_t>(g)].mergedInto = s;
}

}  // namespace

RefResult referenceBlobs(const std::vector<uint8_t> &objects, int width, int height, const RefOptions &options) {
    // Pad with one background pixel all round: the padding is the outer region.
    const int pw = width + 2, ph = height + 2;
    auto isObject = [&](int px, int py) {
        if (px <= 0 || py <= 0 || px > width || py > height) return false;
        return objects[static_cast<size_t>((py - 1) * width + (px - 1))] != 0;
    };
    std::vector<int> label(static_cast<size_t>(pw * ph), -1);
    std::vector<Region> regions;
    std::deque<std::pair<int, int>> queue;
    // Raster order: the first pixel found of each region is its top-left one.
    for (int py = 0; py < ph; ++py) {
        for (int px = 0; px < pw; ++px) {
            if (label[static_cast<size_t>(py * pw + px)] >= 0) continue;
            const int id = static_cast<int>(regions.size());
            Region region;
            region.colour = isObject(px, py) ? 1 : 0;
            // The enclosing region is the one just left of the first pixel.
            region.parent = id == 0 ? -1 : label[static_cast<size_t>(py * pw + px - 1)];
            regions.push_back(region);
            label[static_cast<size_t>(py * pw + px)] = id;
            queue.emplace_back(px, py);
            const bool object = region.colour == 1;
            while (!queue.empty()) {
                auto [x, y] = queue.front();
                queue.pop_front();
                if (x > 0 && y > 0 && x <= width && y <= height) {
                    regions.back().sums.addPixel(x - 1 + options.originX, y - 1 + options.originY);
                    regions.back().lastRow = std::max(regions.back().lastRow, y - 1);
                }
                for (int dy = -1; dy <= 1; ++dy) {
                    for (int dx = -1; dx <= 1; ++dx) {
                        if ((dx == 0 && dy == 0) || (!object && dx != 0 && dy != 0)) continue;
                        const int nx = x + dx, ny = y + dy;
                        if (nx < 0 || ny < 0 || nx >= pw || ny >= ph) continue;
                        int &l = label[static_cast<size_t>(ny * pw + nx)];
                        if (l >= 0 || isObject(nx, ny) != object) continue;
                        l = id;
                        queue.emplace_back(nx, ny);
                    }
                }
            }
        }
    }
    for (size_t i = 1; i < regions.size(); ++i) regions[static_cast<size_t>(regions[i].parent)].children.push_back(static_cast<int>(i));

    // Complete regions in the order a top-down scan closes them: a region
    // closes on the row after its last one, always after its children.
    std::vector<int> order;
    for (size_t i = 1; i < regions.size(); ++i) order.push_back(static_cast<int>(i));
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return regions[static_cast<size_t>(a)].lastRow < regions[static_cast<size_t>(b)].lastRow; });
    auto small = [&](int r) {
        return static_cast<uint64_t>(regions[static_cast<size_t>(r)].sums.n) <
               static_cast<uint64_t>(static_cast<uint32_t>(options.minArea));
    };
    for (int r : order) {
        Region &region = regions[static_cast<size_t>(r)];
        if (options.cleanup == 1) {
            if (small(r) && region.children.empty()) {
                detachChild(regions, region.parent, r);
                region.state = State::gone;
            } else {
                region.state = State::finished;
            }
        } else if (options.cleanup == 2) {
            if (small(r)) {
                const std::vector<int> children = region.children;
                for (int c : children)
                    if (regions[static_cast<size_t>(c)].state == State::working) mergeInto(regions, c, r);
                mergeInto(regions, r, region.parent);  // into the outer region too: the pixels vanish
            } else {
                for (int c : region.children)
                    if (regions[static_cast<size_t>(c)].state == State::working) regions[static_cast<size_t>(c)].state = State::finished;
                region.state = State::working;
            }
        } else {
            region.state = State::finished;
        }
    }
    for (int c : regions[0].children)
        if (regions[static_cast<size_t>(c)].state == State::working) regions[static_cast<size_t>(c)].state = State::finished;

    RefResult result;
    std::vector<int> index(regions.size(), -1);
    for (size_t i = 1; i < regions.size(); ++i) {
        const Region &region = regions[i];
        if (region.state != State::finished) continue;
        index[i] = static_cast<int>(result.blobs.size());
        RefBlob blob;
        const Sums &s = region.sums;
        const double n = static_cast<double>(s.n);
        blob.colour = region.colour;
        blob.area = s.n;
        blob.left = s.left;
        blob.top = s.top;
        blob.width = s.right - s.left + 1;
        blob.height = s.bottom - s.top + 1;
        blob.centerX = s.sx / n;
        blob.centerY = s.sy / n;
        // Over a unit square the variance of a coordinate about the pixel
        // centre is 1/12; the cross term has none.
        blob.mxx = s.sxx - s.sx * blob.centerX + n / 12.0;
        blob.myy = s.syy - s.sy * blob.centerY + n / 12.0;
        blob.mxy = s.sxy - s.sx * blob.centerY;
        result.blobs.push_back(blob);
    }
    for (size_t i = 1; i < regions.size(); ++i) {
        if (index[i] < 0) continue;
        RefBlob &blob = result.blobs[static_cast<size_t>(index[i])];
        blob.parent = regions[i].parent > 0 ? index[static_cast<size_t>(regions[i].parent)] : -1;
        blob.numChildren = static_cast<int>(regions[i].children.size());
    }
    result.owner.assign(static_cast<size_t>(width) * static_cast<size_t>(height), -1);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            int r = label[static_cast<size_t>((y + 1) * pw + x + 1)];
            while (regions[static_cast<size_t>(r)].mergedInto >= 0) r = regions[static_cast<size_t>(r)].mergedInto;
            result.owner[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] =
                index[static_cast<size_t>(r)];
        }
    }
    return result;
}

std::string describe(const RefBlob &blob) {
    char text[256];
    std::snprintf(text, sizeof text, "colour %d area %lld box (%d,%d %dx%d) centre (%.4f,%.4f) mxx %.4f myy %.4f mxy %.4f",
                  blob.colour, static_cast<long long>(blob.area), blob.left, blob.top, blob.width, blob.height,
                  blob.centerX, blob.centerY, blob.mxx, blob.myy, blob.mxy);
    return text;
}

}  // namespace cblobtest

// The labelled connectivity scan: the row walk that joins runs of equal
// value into regions and records which regions of different values touch,
// and the entry point that runs the graph passes after it.
//
// Per run [x0, x1) of the current row, the walk visits the previous-row runs
// that cover any of the columns x0 - 1 .. x1 - 1 (the 6-connected contacts:
// above, and above-left), through a cursor that only moves forward and stays
// on the last run it visited, which may touch the next run too. The first
// run of the same value names the run's region, every further one of that
// value is merged into it (the older region survives), and runs of other
// values are its neighbours, as is the run just left of it in its row. A
// run at the window border is a neighbour of the outer region. After a row,
// the previous row's regions that no run continued are complete.
#include "connect/labelled_scan.hpp"

#include <cstdint>

#include "connect/labelled_state.hpp"
#include "core/frame.hpp"
#include "rle/row_access.hpp"
#include "rle/run_format.hpp"

namespace cblob::connect {

namespace {

using labelled::findRoot;
using labelled::Grow;
using labelled::kOuter;
using labelled::Region;
using labelled::State;

constexpr int32_t kPollRowMask = 31;
// Contacts already recorded, remembered in a small direct-mapped table so
// that the pair of regions that touch along a long border is recorded a few
// times rather than once per row.
constexpr uint32_t kContactCacheSize = 4096;

// One row's runs: start, exclusive end, value and region of run k.
struct RowRuns {
    int32_t count = 0;
    int32_t *start = nullptr;
    int32_t *end = nullptr;
    int32_t *value = nullptr;
    int32_t *region = nullptr;
};

// Decodes image row y into runs covering exactly [0, width): runs past the
// width are cut, a row that ends early is padded with value 0, and runs of
// one value next to each other are joined.
class RowDecoder {
public:
    RowDecoder(const cblob_imageRle *img, int32_t width)
        : img_(img), width_(width), grey_(img->isGrey != 0), wide_(img->data && img->data->isWide) {}

    void read(int32_t y, RowRuns &row) const {
        const cblob_rleRow &entry = *rle::imageRow(img_, y);
        row.count = 0;
        int32_t x = 0;
        const uint8_t *cursor = entry.runs;
        int32_t left = entry.numRuns;
        uint8_t binary = entry.startValue ? 1 : 0;
        while (cursor && x < width_) {
            uint8_t value = 0;
            int32_t length = 0;
            if (grey_) {
                if (left-- <= 0) break;
                length = wide_ ? rle::readWideGreyRun(cursor, value) : rle::readGreyRun(cursor, value);
            } else {
                length = wide_ ? rle::readWideBinaryRun(cursor) : rle::readLength(cursor);
                value = binary;
                binary ^= 1;
            }
            if (length <= 0) break;
            const int32_t end = length > width_ - x ? width_ : x + length;
            append(row, x, end, value);
            x = end;
        }
        if (x < width_) append(row, x, width_, 0);
    }

    bool wide() const { return wide_; }

    // Wide rows: writes into every run's label slot the region of the
    // decoded run it starts in (runs past the width are left alone).
    void writeLabels(int32_t y, const RowRuns &row) const {
        const cblob_rleRow &entry = *rle::imageRow(img_, y);
        auto *cursor = const_cast<uint8_t *>(entry.runs);
        int32_t left = entry.numRuns;
        int32_t x = 0;
        int32_t k = 0;
        while (cursor && x < width_) {
            if (grey_ && left-- <= 0) break;
            uint8_t *slot = cursor + (grey_ ? rle::kWideGreyRunBytes : rle::kWideBinaryRunBytes) - 4;
            const int32_t length = rle::loadInt32(grey_ ? cursor + 1 : cursor);
            if (length <= 0) break;
            while (k + 1 < row.count && row.end[k] <= x) ++k;
            rle::storeInt32(slot, row.region[k]);
            cursor += grey_ ? rle::kWideGreyRunBytes : rle::kWideBinaryRunBytes;
            x = length > width_ - x ? width_ : x + length;
        }
    }

private:
    static void append(RowRuns &row, int32_t x0, int32_t x1, int32_t value) {
        if (row.count > 0 && row.value[row.count - 1] == value) {
            row.end[row.count - 1] = x1;
            return;
        }
        row.start[row.count] = x0;
        row.end[row.count] = x1;
        row.value[row.count] = value;
        ++row.count;
    }

    const cblob_imageRle *img_;
    int32_t width_;
    bool grey_;
    bool wide_;
};

class Walk {
public:
    Walk(State &st, uint64_t *cache, int32_t *pending) : st_(st), cache_(cache), pending_(pending) {}

    // Records that regions a and b (of different values) touch.
    int32_t contact(int32_t a, int32_t b) {
        const uint64_t key = a < b ? (static_cast<uint64_t>(a) << 32 | static_cast<uint32_t>(b))
                                   : (static_cast<uint64_t>(b) << 32 | static_cast<uint32_t>(a));
        const uint32_t slot = static_cast<uint32_t>((key * 0x9E3779B97F4A7C15ull) >> 52) & (kContactCacheSize - 1);
        if (cache_[slot] == key) return 0;
        cache_[slot] = key;
        return st_.contacts.push(key);
    }

    // A new region of `value` for the run [x0, x1) of row y; its number or a
    // failure.
    int32_t open(int32_t value, int32_t y, int32_t x0, int32_t x1) {
        const int64_t number = st_.regions.size;
        if (number >= INT32_MAX) return csys_err_badSize;
        Region r{};
        r.value = value;
        r.link = static_cast<int32_t>(number);
        r.left = x0;
        r.right = x1 - 1;
        r.top = r.bottom = y;
        r.seenRow = y;
        const int32_t status = st_.regions.push(r);
        return CBLOB_FAILED(status) ? status : static_cast<int32_t>(number);
    }

    // Joins the regions of two roots; the older one survives. Returns it.
    int32_t merge(int32_t a, int32_t b) {
        if (b < a) {
            const int32_t swap = a;
            a = b;
            b = swap;
        }
        Region *regions = st_.regions.data;
        labelled::addRegion(regions[a], regions[b], st_.moments);
        regions[b].link = a;
        return a;
    }

    void addRun(Region &r, int32_t y, int32_t x0, int32_t x1) const {
        const int64_t xs = x0;
        const int64_t len = x1 - x0;
        const double plainX = static_cast<double>((2 * xs + len) * len);
        const double l = static_cast<double>(len);
        const double yd = y;
        r.mass += len;
        r.sumX += plainX;
        r.sumY += l * yd;
        if (st_.moments) {
            r.sumXX += l * static_cast<double>(3 * xs * (xs + len) + len * len);
            r.sumYY += l * (3.0 * yd * yd + 3.0 * yd + 1.0);
            r.sumXY += (2.0 * yd + 1.0) * plainX;
        }
        if (x0 < r.left) r.left = x0;
        if (x1 - 1 > r.right) r.right = x1 - 1;
        r.bottom = y;
        r.seenRow = y;
    }

    // Links the runs of row y to the previous row's (none above row 0);
    // `border`: the row is the first or the last, next to the outer region.
    int32_t row(int32_t y, const RowRuns &prev, RowRuns &cur, bool border) {
        const int32_t width = st_.settings->width;
        int32_t cursor = 0;
        for (int32_t k = 0; k < cur.count; ++k) {
            const int32_t x0 = cur.start[k];
            const int32_t x1 = cur.end[k];
            const int32_t value = cur.value[k];
            int32_t region = -1;
            int32_t others = 0;
            while (cursor < prev.count && prev.end[cursor] < x0) ++cursor;
            int32_t i = cursor;
            for (; i < prev.count && prev.start[i] < x1; ++i) {
                const int32_t q = rootOf(prev.region[i]);
                if (prev.value[i] != value) {
                    pending_[others++] = q;
                } else {
                    region = region < 0 ? q : (q == region ? region : merge(region, q));
                }
            }
            if (i > cursor) cursor = i - 1;
            if (region < 0) {
                region = open(value, y, x0, x1);
                if (region < 0) return region;
            }
            addRun(st_.regions.data[region], y, x0, x1);
            cur.region[k] = region;
            // Neighbours: the other-valued runs above (a merge later in this
            // run's walk may have absorbed one of them; contacts are
            // resolved to their regions after the scan), the run to the
            // left, the outer region at the border.
            int32_t status = 0;
            for (int32_t j = 0; j < others && !CBLOB_FAILED(status); ++j) status = contact(region, pending_[j]);
            if (!CBLOB_FAILED(status) && k > 0) status = contact(region, rootOf(cur.region[k - 1]));
            if (!CBLOB_FAILED(status) && (border || x0 == 0 || x1 == width)) status = contact(region, kOuter);
            if (CBLOB_FAILED(status)) return status;
        }
        return 0;
    }

    int32_t rootOf(int32_t r) const {
        Region *regions = st_.regions.data;
        while (regions[r].link != r) {
            regions[r].link = regions[regions[r].link].link;
            r = regions[r].link;
        }
        return r;
    }

    // After row y: the previous row's regions that no run of row y
    // continued are complete, in the order of their first runs.
    int32_t complete(int32_t y, const RowRuns &prev) {
        Region *regions = st_.regions.data;
        for (int32_t j = 0; j < prev.count; ++j) {
            const int32_t r = rootOf(prev.region[j]);
            if (regions[r].seenRow >= y) continue;
            regions[r].seenRow = y;  // completed: its later runs are passed over
            const int32_t status = st_.completed.push(r);
            if (CBLOB_FAILED(status)) return status;
            regions = st_.regions.data;
        }
        return 0;
    }

private:
    State &st_;
    uint64_t *cache_;
    int32_t *pending_;  // other-valued regions above the current run
};

// The row tables of the walk, carved from one block: two rows of runs
// (start, end, value, region: width entries each), the other-valued regions
// above one run (width + 1) and the contact cache.
struct RowTables {
    RowRuns rows[2];
    int32_t *pending = nullptr;
    uint64_t *cache = nullptr;
};

int64_t rowTableBytes(int32_t width) {
    const int64_t w = static_cast<int64_t>(width) + 1;
    return 8 * w * 4 + w * 4 + static_cast<int64_t>(kContactCacheSize) * 8;
}

void bindRowTables(uint8_t *block, int32_t width, RowTables *t) {
    const int64_t w = static_cast<int64_t>(width) + 1;
    auto *cache = reinterpret_cast<uint64_t *>(block);
    for (uint32_t i = 0; i < kContactCacheSize; ++i) cache[i] = ~uint64_t{0};
    t->cache = cache;
    auto *ints = reinterpret_cast<int32_t *>(cache + kContactCacheSize);
    for (RowRuns &r : t->rows) {
        r.start = ints;
        r.end = ints + w;
        r.value = ints + 2 * w;
        r.region = ints + 3 * w;
        ints += 4 * w;
    }
    t->pending = ints;
}

// Rows 0 .. height - 1; the row below the last completes every region left.
int32_t scanRows(State &st, const cblob_imageRle *img, RowTables &t) {
    const int32_t width = st.settings->width;
    const int32_t height = st.settings->height;
    const RowDecoder decoder(img, width);
    Walk walk(st, t.cache, t.pending);
    RowRuns *prev = &t.rows[0];
    RowRuns *cur = &t.rows[1];
    prev->count = 0;
    for (int32_t y = 0; y < height; ++y) {
        if ((y & kPollRowMask) == 0) {
            const int32_t status = csys_attention_check();
            if (CBLOB_FAILED(status)) return status;
        }
        decoder.read(y, *cur);
        int32_t status = walk.row(y, *prev, *cur, y == 0 || y == height - 1);
        if (decoder.wide()) decoder.writeLabels(y, *cur);
        if (!CBLOB_FAILED(status)) status = walk.complete(y, *prev);
        if (CBLOB_FAILED(status)) return status;
        RowRuns *swap = prev;
        prev = cur;
        cur = swap;
    }
    return walk.complete(height, *prev);
}

// The outer region: number 0, a value no run has.
int32_t openOuter(State &st) {
    Region outer{};
    outer.value = labelled::kOuterValue;
    outer.link = kOuter;
    outer.seenRow = INT32_MAX;  // never completed
    return st.regions.push(outer);
}

}  // namespace

int32_t scanLabelled(const cblob_imageRle *rle, const ScanSettings &settings, cblob_resultSet *rs) {
    Frame<2> f;
    CBLOB_FRAME_REQUIRE(f, rle);
    CBLOB_FRAME_REQUIRE(f, rs);
    CBLOB_FRAME_REQUIRE(f, settings.width >= 0 && settings.height >= 0);
    CBLOB_FRAME_REQUIRE(f, rle->width == settings.width && rle->height == settings.height);
    CBLOB_FRAME_CHECK(f, rle->rows != nullptr, cblob_err_rleImageNoRows);
    CBLOB_FRAME_CHECK(f, settings.scaleVal >= 1, cblob_err_badScaleVal);
    CBLOB_FRAME_CHECK(f, settings.width < INT32_MAX / 8, csys_err_badSize);
    CBLOB_FRAME_TRY(f, ensureBlobBlocksFrom(&rs->blobBlocks, settings.spareBlobBlocks));

    State st;
    st.settings = &settings;
    st.rs = rs;
    st.moments = settings.computeSecondMoments;
    st.keepTree = settings.computeTopology || settings.connectivityCleanup != 0;
    f.addObject<&labelled::releaseState>(&st, csys_cleanup_tempObject);
    if (settings.width == 0 || settings.height == 0) return f.exit();  // no pixel, no blob

    uint8_t *block = nullptr;
    CBLOB_FRAME_TRY(f, allocate(rowTableBytes(settings.width), &block));
    f.addMemory(&block, csys_cleanup_tempMemory);
    RowTables tables;
    bindRowTables(block, settings.width, &tables);
    CBLOB_FRAME_TRY(f, openOuter(st));
    CBLOB_FRAME_TRY(f, scanRows(st, rle, tables));
    CBLOB_FRAME_TRY(f, csys_attention_check());
    CBLOB_FRAME_TRY(f, labelled::buildScanAdjacency(st));
    CBLOB_FRAME_TRY(f, labelled::cleanupAndConnect(st));
    CBLOB_FRAME_TRY(f, labelled::buildTree(st));
    CBLOB_FRAME_TRY(f, labelled::finishBlobs(st));
    return f.exit();
}

}  // namespace cblob::connect

// Fuzz target: every run entry point with a fuzzed image, mask and run
// parameters. The input decodes into an entry point, a small image (8- or
// 16-bit, sometimes large enough to be cut into bands), an optional mask of
// the kind the entry point takes, a segmentation from one of the setters and
// raw values in the option fields a C caller may write. Each input runs once
// with one worker thread and once with two. Whatever the input, a run ends
// with a named status; a successful run leaves a well-formed blob tree, the
// object areas of a plain hard threshold add up to the object pixels, and
// both thread counts give the same status and the same blobs.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "fuzz_support.hpp"

namespace {

enum Entry {
    kRun8, kRun16, kWindow8, kWindow16, kRun8Rle, kRun16Rle, kRun8Torv, kRun16Torv, kRle8Rle, kRle8Mask8,
    kRle8Torv, kNumEntries
};

bool is16(int entry) { return entry == kRun16 || entry == kWindow16 || entry == kRun16Rle || entry == kRun16Torv; }

struct Image {
    int32_t width = 0, height = 0, bits = 8;
    std::vector<uint16_t> storage;  // 2-byte aligned for both depths
    std::vector<uint16_t> values;
    cimg_image image{};
    Image(int32_t w, int32_t h, int32_t b, const uint8_t *src, size_t n, size_t start) : width(w), height(h), bits(b) {
        values.resize(static_cast<size_t>(w) * h);
        for (size_t i = 0; i < values.size(); ++i) {
            const size_t k = (start + i * (b == 8 ? 1 : 2)) % n;
            values[i] = static_cast<uint16_t>(b == 8 ? src[k] : src[k] | (src[(k + 1) % n] << 8));
        }
        storage.assign(values.size() + 1, 0);
        auto *bytes = reinterpret_cast<uint8_t *>(storage.data());
        for (size_t i = 0; i < values.size(); ++i) {
            if (b == 8) bytes[i] = static_cast<uint8_t>(values[i]);
            else storage[i] = values[i];
        }
        if (b == 8) cimg_image8_construct(&image);
        else cimg_image16_construct(&image);
        FUZZ_CHECK(cimg_image_initFromBuffer(&image, bytes, b, w, h, w * b / 8, 0, 0) == 0);
    }
    ~Image() { cimg_image_destruct(&image); }
    const cimg_imageConst *constImage() const { return reinterpret_cast<const cimg_imageConst *>(&image); }
};

// TORV rows of a mask: (value, length) pairs, runs split at 255, each row
// ended by a pair of length 0.
struct Torv {
    std::vector<std::vector<uint8_t>> bytes;
    std::vector<const uint8_t *> rows;
    explicit Torv(const Image &m) {
        for (int32_t y = 0; y < m.height; ++y) {
            std::vector<uint8_t> row;
            for (int32_t x = 0; x < m.width;) {
                const uint16_t v = m.values[static_cast<size_t>(y) * m.width + x];
                int32_t len = 0;
                while (x < m.width && m.values[static_cast<size_t>(y) * m.width + x] == v && len < 255) ++x, ++len;
                row.push_back(static_cast<uint8_t>(v));
                row.push_back(static_cast<uint8_t>(len));
            }
            row.push_back(0);
            row.push_back(0);
            bytes.push_back(row);
        }
        for (auto &r : bytes) rows.push_back(r.data());
    }
};

// One segmentation from the setters, with fuzzed arguments; refusals are
// fine (the run then uses what the parameters held before).
void setSegmentation(fuzz::Bytes &in, cblob_runParams *p, const Image &threshImage, std::vector<uint8_t> &table) {
    const float pct[] = {0.0f, 1.0f, 10.0f, 33.3f, 50.0f, 99.0f, 100.0f, -1.0f, NAN};
    auto percent = [&] { return pct[in.below(9)]; };
    const int32_t big = in.flag() ? in.u16() : in.u8();
    const int32_t big2 = in.flag() ? in.u16() : in.u8();
    const int32_t invert = in.below(3);
    table.resize(static_cast<size_t>(in.below(2) ? 256 : in.u8()) + 1);
    for (auto &v : table) v = in.u8();
    const int32_t tableSize = static_cast<int32_t>(table.size()) - 1;
    const int32_t softness = in.below(20);
    const uint8_t scaleVal = in.u8();
    const float pc0 = percent(), pc1 = percent(), pc2 = percent(), pc3 = percent();
    switch (in.below(9)) {
        case 0: (void)cblob_runParams_setSegmentationHardThresh(p, big, invert); break;
        case 1: (void)cblob_runParams_setSegmentationSoftThresh(p, big, big2, invert); break;
        case 2: (void)cblob_runParams_setSegmentationSoftThreshWithSoftness(p, big, big2, softness, invert); break;
        case 3: (void)cblob_runParams_setSegmentationHardThreshPercent(p, pc0, pc1, pc2, invert); break;
        case 4:
            (void)cblob_runParams_setSegmentationSoftThreshPercentWithSoftness(p, pc0, pc1, pc2, pc3, softness, invert);
            break;
        case 5: (void)cblob_runParams_setSegmentationMap(p, scaleVal, table.data(), tableSize); break;
        case 6: (void)cblob_runParams_setSegmentationNone(p, scaleVal); break;
        case 7:
            (void)cblob_runParams_setSegmentationThreshImage8(p, scaleVal, table.data(), threshImage.constImage(),
                                                              table.data(), tableSize, tableSize);
            break;
        default: (void)cblob_runParams_setSegmentationSoftThreshPercent(p, pc0, pc1, pc2, pc3, invert);
    }
}

// Raw values in the option fields, mostly sensible.
void setOptions(fuzz::Bytes &in, cblob_runParams *p) {
    const int32_t odd[] = {-1, 3, 0x7FFFFFFF, static_cast<int32_t>(0x80000000u)};
    auto pick = [&](int32_t usualMax) { return in.below(8) == 0 ? odd[in.below(4)] : in.below(usualMax + 1); };
    p->connectivityType = pick(2);
    p->connectivityCleanup = pick(2);
    p->minArea = in.flag() ? in.u8() : pick(3);
    p->computeSecondMoments = pick(1);
    p->computeTopology = in.below(4) ? 1 : pick(1);
    p->keepThresholdedImage = pick(1);
    p->keepMaskedAndThresholdedImage = pick(1);
    p->keepBlobImages = pick(1);
    p->keepMaskImage = pick(1);
}

struct Outcome {
    int32_t status = 0;
    std::vector<double> blobs;  // per blob, sorted: colour, box, area, and those of its parent
};

struct Run {
    int entry;
    const Image *image;
    const Image *mask;  // null: none
    const Torv *torv;
    const cblob_imageRlePtrh *rleImage, *rleMask;
    const cmath_xformPtrhConst *identity;
    bool maskWrongSize;

    int32_t call(cblob_runParams *p, cblob_resultSet *rs) const {
        const cimg_imageConst *img = image->constImage();
        const cimg_imageConst *m = mask ? mask->constImage() : nullptr;
        const cstd_rect32 rect{0, 0, mask ? mask->width : image->width, mask ? mask->height : image->height};
        const uint8_t *const *rows = torv ? torv->rows.data() : nullptr;
        switch (entry) {
            case kRun8: return cblob_run8(img, m, p, rs);
            case kRun16: return cblob_run16(img, m, p, rs);
            case kWindow8:
            case kWindow16: {
                cimg_windowConst w, mw;
                cimg_windowConst_construct(&w);
                cimg_windowConst_construct(&mw);
                FUZZ_CHECK(cimg_windowConst_init(&w, img) == 0);
                if (m) FUZZ_CHECK(cimg_windowConst_init(&mw, m) == 0);
                return entry == kWindow8 ? cblob_runWindow8(&w, identity, m ? &mw : nullptr, p, rs)
                                         : cblob_runWindow16(&w, identity, m ? &mw : nullptr, p, rs);
            }
            case kRun8Rle: return cblob_run8_withRleMask(img, m ? rleMask : nullptr, p, rs);
            case kRun16Rle: return cblob_run16_withRleMask(img, m ? rleMask : nullptr, p, rs);
            case kRun8Torv: return cblob_run8_withTORVRleMask(img, rows, &rect, p, rs);
            case kRun16Torv: return cblob_run16_withTORVRleMask(img, rows, &rect, p, rs);
            case kRle8Rle: return cblob_runRle8_withRleMask(rleImage, m ? rleMask : nullptr, p, rs);
            case kRle8Mask8: return cblob_runRle8_withMask8(rleImage, m, p, rs);
            default: return cblob_runRle8_withTORVRleMask(rleImage, rows, &rect, p, rs);
        }
    }
};

Outcome runOnce(const Run &run, const cblob_runParams &params, int32_t threads, bool checkArea) {
    FUZZ_CHECK(csys_job_setThreadCount(threads) == 0);
    cblob_runParams p;
    FUZZ_CHECK(cblob_runParams_constructCopy(&p, &params) == 0);
    cblob_resultSet rs;
    FUZZ_CHECK(cblob_resultSet_construct(&rs) == 0);
    Outcome out;
    out.status = run.call(&p, &rs);
    FUZZ_CHECK(out.status == 0 || (out.status < 0 && std::strcmp(cblob_statusName(out.status), "unknown status") != 0));
    if (out.status == 0) {
        if (params.computeTopology == 1 && params.connectivityType == cblob_connectivityStandard) fuzz::checkTree(rs);
        if (checkArea) {
            double objects = 0;
            for (size_t i = 0; i < run.image->values.size(); ++i) {
                const bool on = run.image->values[i] >= static_cast<uint32_t>(params.thresh);
                const bool inMask = !run.mask || run.mask->values[i] != 0;
                if (inMask && on != (params.invert == 1)) objects += 1;
            }
            FUZZ_CHECK(fuzz::objectArea(rs) == objects);
        }
        // Bands number their blobs band by band: a blob and its parent are
        // compared by what they are (colour, box, area), in sorted order.
        using Key = std::array<double, 6>;
        auto keyOf = [](const cblob_blob *b) {
            return b ? Key{double(b->colour), double(b->boxLeft), double(b->boxTop), double(b->boxWidth),
                           double(b->boxHeight), b->area}
                     : Key{-1, -1, -1, -1, -1, -1};
        };
        std::vector<std::pair<Key, Key>> rows;
        for (int32_t i = 0; i < rs.numBlobs; ++i) {
            const cblob_blob *b = rs.allBlobs[i];
            FUZZ_CHECK(b->area >= 0 && std::isfinite(b->centerOfMassX) && std::isfinite(b->centerOfMassY));
            rows.emplace_back(keyOf(b), keyOf(b->parent));
        }
        std::sort(rows.begin(), rows.end());
        for (const auto &row : rows) {
            out.blobs.insert(out.blobs.end(), row.first.begin(), row.first.end());
            out.blobs.insert(out.blobs.end(), row.second.begin(), row.second.end());
        }
    }
    FUZZ_CHECK(cblob_resultSet_destruct(&rs) == 0);
    FUZZ_CHECK(cblob_runParams_destruct(&p) == 0);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::Bytes in(data, size);
    const int entry = in.below(kNumEntries);
    const int32_t bits = is16(entry) ? 16 : 8;
    // Mostly tiny images; one in four large enough for two bands.
    const bool large = in.below(4) == 0;
    const int32_t width = large ? 160 + in.below(64) : 1 + in.below(24);
    const int32_t height = large ? 130 + in.below(32) : 1 + in.below(24);
    const int maskKind = in.below(3);  // 0 none, 1 matching, 2 another size
    const int32_t seg = in.below(4);   // 0: plain hard threshold (area checked)
    const int32_t thresh = bits == 8 ? in.u8() : in.u16();
    const int32_t invert = in.below(2);
    cblob_runParams params;
    FUZZ_CHECK(cblob_runParams_construct(&params) == 0);
    const Image threshImage(width, height, 8, in.rest(), in.restSize(), 7);
    std::vector<uint8_t> table;
    if (seg == 0) {
        (void)cblob_runParams_setSegmentationHardThresh(&params, thresh, invert);
    } else {
        setSegmentation(in, &params, threshImage, table);
    }
    setOptions(in, &params);
    const bool plain = seg == 0 && params.connectivityCleanup == cblob_connectivityCleanupNone &&
                       params.connectivityType == cblob_connectivityStandard && params.thresh == thresh;

    const uint8_t *pixels = in.rest();
    const size_t numPixels = in.restSize();
    const Image image(width, height, bits, pixels, numPixels, 0);
    const int32_t mw = maskKind == 2 ? width + 1 : width, mh = maskKind == 2 ? height : height;
    const Image maskImage(mw, mh, 8, pixels, numPixels, numPixels / 2);
    const Image *mask = maskKind ? &maskImage : nullptr;
    const Torv torv(maskImage);
    const bool rleInput = entry == kRle8Rle || entry == kRle8Mask8 || entry == kRle8Torv;

    cmath_xformPtrhConst identity;
    cmath_xformPtrhConst_construct(&identity);
    cblob_imageRlePtrh rleImage, rleMask;
    cblob_imageRlePtrh_construct(&rleImage);
    cblob_imageRlePtrh_construct(&rleMask);
    bool ready = true;
    if (mask) ready = cblob_imageRlePtrh_encode(&rleMask, maskImage.constImage()) == 0;
    if (rleInput && ready) {
        // Grey runs of the pixels, or binary runs of a threshold.
        ready = (in.flag() ? cblob_imageRlePtrh_encode(&rleImage, image.constImage())
                           : cblob_imageRlePtrh_encodeHardThresh(&rleImage, image.constImage(), thresh, invert)) == 0;
    }
    if (ready) {
        const Run run{entry, &image, mask, mask ? &torv : nullptr, &rleImage, &rleMask, &identity, maskKind == 2};
        const bool checkArea = plain && !rleInput && maskKind != 2;
        const Outcome one = runOnce(run, params, 1, checkArea);
        const Outcome two = runOnce(run, params, 2, checkArea);
        FUZZ_CHECK(one.status == two.status);
        FUZZ_CHECK(one.blobs == two.blobs);
    }
    cblob_imageRlePtrh_destruct(&rleMask);
    cblob_imageRlePtrh_destruct(&rleImage);
    cmath_xformPtrhConst_destruct(&identity);
    FUZZ_CHECK(cblob_runParams_destruct(&params) == 0);
    FUZZ_CHECK(csys_memory_getLiveBlockCount() == 0);
    return 0;
}

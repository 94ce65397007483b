// Segment image: validation, percent thresholds, the output record, the
// kept mask, the value tables, and the choice of run finder, which the band
// dispatcher then runs over the window.
#include "segment/segment_image.hpp"

#include <cstdint>

#include "rle/row_access.hpp"
#include "segment/band_dispatcher.hpp"
#include "core/frame.hpp"
#include "segment/run_finder.hpp"
#include "segment/segment_parts.hpp"

namespace cblob::seg {

namespace {

// The mask the finders read, and what the kept mask is made from.
struct MaskChoice {
    MaskSource source;
    const cimg_windowConst *keepWindow = nullptr;
    const uint8_t *const *keepTorv = nullptr;
};

MaskChoice chooseMask(const cimg_windowConst *maskWindow, const cblob_imageRle *rleMask, const uint8_t *const *torvMask,
                      int32_t maskIsRleOrTorv) {
    MaskChoice choice;
    MaskSource &mask = choice.source;
    if (maskIsRleOrTorv && torvMask) {
        mask.kind = MaskKind::torv;
        mask.torvRows = torvMask;
        choice.keepTorv = torvMask;
    } else if (maskIsRleOrTorv) {
        mask.kind = MaskKind::rle;
        mask.rleRows = rle::imageRow(rleMask, 0);
        mask.rleGrey = rleMask->isGrey ? 1 : 0;
        mask.rleWide = rleMask->data && rleMask->data->isWide ? 1 : 0;
    } else if (maskWindow) {
        mask.kind = MaskKind::window;
        mask.window = maskWindow->pels;
        mask.windowStride = maskWindow->strideBytes;
        choice.keepWindow = maskWindow;
    }
    return choice;
}

// Sets the threshold-image inputs and *finder; *map gets a temporary table
// of the threshold map expanded to every pixel value (registered in f).
template <int N>
int32_t prepareThreshImage(Frame<N> &f, int32_t bitsPerPel, const cblob_runParams &p, FindInputs *in, void **map,
                           RunFinder *finder) {
    const bool use16 = bitsPerPel == 16 && p.threshImage16 != nullptr;
    const cimg_imageConst *image = use16 ? p.threshImage16 : p.threshImage8;
    const int32_t entries = bitsPerPel == 8 ? 256 : 65536;
    const int64_t entryBytes = use16 ? 2 : 1;
    if (f.fails(allocate(entries * entryBytes, map))) return f.status;
    f.addMemory(map, csys_cleanup_tempMemory);
    if (use16) {
        expandTable16(static_cast<uint16_t *>(*map), entries, p.threshMap16,
                      usableEntries(p.threshMap16, p.threshMapSize));
    } else {
        expandTable8(static_cast<uint8_t *>(*map), entries, p.threshMap8, usableEntries(p.threshMap8, p.threshMapSize));
    }
    in->threshPixels = image->pels;
    in->threshStride = image->strideBytes;
    in->threshMap = *map;
    in->postMap = p.map;
    in->postMapSize = static_cast<int32_t>(usableEntries(p.map, p.mapSize));
    return threshImageRunFinder(bitsPerPel, use16 ? 16 : 8, finder);
}

// Fills the value table of the table-driven segmentations.
int32_t fillValueTable(uint8_t *table, int32_t entries, const cblob_runParams &p) {
    switch (p.segmentationType) {
        case cblob_segmentationMap:
            return expandTable8(table, entries, p.map, usableEntries(p.map, p.mapSize));
        case cblob_segmentationHardThresh:  // under the labelled connectivity
            return buildSoftThresholdTable(table, entries, p.thresh, p.thresh, 0, p.invert);
        default:
            return buildSoftThresholdTable(table, entries, p.thresh, p.highThresh, p.softness, p.invert);
    }
}

}  // namespace

int32_t segmentImage(const cimg_windowConst *window8, const cimg_windowConst *window16,
                     const cimg_windowConst *maskWindow, cblob_runParams *params, cblob_imageRle *out,
                     cblob_imageRle *rleMask, const uint8_t *const *torvMask, int32_t maskIsRleOrTorv, int32_t wide,
                     uint8_t *scratchRow) {
    Frame<3> f;
    CBLOB_FRAME_REQUIRE(f, params);
    CBLOB_FRAME_REQUIRE(f, out);
    CBLOB_FRAME_TRY(f, validateSegmentation(window8, window16, maskWindow, params, rleMask, torvMask, maskIsRleOrTorv));
    const cimg_windowConst *window = window8 ? window8 : window16;
    const int32_t bitsPerPel = window8 ? 8 : 16;
    const cblob_runParams &p = *params;
    const int32_t type = p.segmentationType;

    if ((type == cblob_segmentationHardThresh || type == cblob_segmentationSoftThresh) && p.isThreshPercent) {
        CBLOB_FRAME_TRY(f, computePercentThresholds(window, params));
    }
    CBLOB_FRAME_TRY(f, initRecordForWindow(out, window));

    const MaskChoice mask = chooseMask(maskWindow, rleMask, torvMask, maskIsRleOrTorv);
    if (p.keepMaskImage && rleMask && rleMask != out && (mask.keepWindow || mask.keepTorv)) {
        CBLOB_FRAME_TRY(f, keepMask(window, mask.keepWindow, mask.keepTorv, rleMask));
    }

    FindInputs in;
    in.pixels = window->pels;
    in.pixelStride = window->strideBytes;
    in.mask = mask.source;
    in.width = window->width;
    in.numRows = window->height;
    in.runsPerRow = runsPerRowEstimate(window->width);
    in.wide = wide ? 1 : 0;
    if (mask.source.kind == MaskKind::rle || mask.source.kind == MaskKind::torv) {
        in.scratch = scratchRow;
        if (!in.scratch) {
            CBLOB_FRAME_TRY(f, allocate(window->width, &in.scratch));
            f.addMemory(&in.scratch, csys_cleanup_tempMemory);
        }
    }

    RunFinder finder;
    void *table = nullptr;
    const int32_t entries = bitsPerPel == 8 ? 256 : 65536;
    if (type == cblob_segmentationHardThresh && p.connectivityType != cblob_connectivityLabelled) {
        // Binary rows; the polarity flips only for invert exactly 1.
        const uint8_t inverted = p.invert == 1 ? 1 : 0;
        in.thresh = p.thresh;
        if (mask.source.kind == MaskKind::none) {
            CBLOB_FRAME_TRY(f, hardRunFinder(bitsPerPel, &finder));
            in.colourBelow = inverted;
            in.colourAbove = static_cast<uint8_t>(inverted ^ 1);
        } else {
            CBLOB_FRAME_TRY(f, maskedHardRunFinder(bitsPerPel, &finder));
            in.invert = inverted;
        }
    } else if (type == cblob_segmentationNone) {
        CBLOB_FRAME_TRY(f, noneRunFinder(bitsPerPel, &finder));
    } else if (type == cblob_segmentationThreshImage) {
        CBLOB_FRAME_TRY(f, prepareThreshImage(f, bitsPerPel, p, &in, &table, &finder));
    } else {
        uint8_t *values = nullptr;
        CBLOB_FRAME_TRY(f, allocate(entries, &values));
        table = values;
        f.addMemory(&table, csys_cleanup_tempMemory);
        CBLOB_FRAME_TRY(f, fillValueTable(values, entries, p));
        in.table = values;
        CBLOB_FRAME_TRY(f, tableRunFinder(bitsPerPel, &finder));
    }
    CBLOB_FRAME_TRY(f, findRunsInBands(in, finder, out));
    return f.exit();
}

}  // namespace cblob::seg

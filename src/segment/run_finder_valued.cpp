// The valued run finders: grey rows whose values come from a lookup table
// indexed by pixel value (maps, soft thresholds, a hard threshold under the
// labelled connectivity) or from a per-pixel threshold image; 0 outside a
// mask.
#include <cstdint>

#include "segment/row_kernels.hpp"
#include "segment/run_finder.hpp"
#include "segment/run_finder_core.hpp"

namespace cblob::seg {

namespace {

bool maskReadable(const FindInputs &in) {
    return in.mask.kind == MaskKind::none || in.mask.kind == MaskKind::window || in.scratch;
}

// output = in.table[pixel].
template <class Pixel>
struct TableValues {
    static constexpr bool kGrey = true;
    static constexpr bool kMasked = true;
    static int32_t prepare(const FindInputs &in, bool, TableValues *) {
        CBLOB_REQUIRE_ARG(in.table);
        CBLOB_REQUIRE_ARG(maskReadable(in));
        return 0;
    }
    void row(uint8_t **cursor, const uint8_t *pixelRow, const uint8_t *, const uint8_t *mask, const FindInputs &in,
             int32_t *numRuns, uint8_t *startValue) const {
        const auto *pixels = reinterpret_cast<const Pixel *>(pixelRow);
        if (mask) {
            row::maskedMapRow<Pixel>(cursor, pixels, mask, in.width, in.table, in.wide, numRuns);
        } else {
            row::mapRow<Pixel>(cursor, pixels, in.width, in.table, in.wide, numRuns);
        }
        *startValue = 0;
    }
};

// output = 0 when threshMap[pixel] < threshold pixel, else the post map at
// the difference.
template <class Pixel, class ThreshPixel>
struct ThreshImageValues {
    static constexpr bool kGrey = true;
    static constexpr bool kMasked = true;
    row::ThreshImageTables<ThreshPixel> tables{};

    static int32_t prepare(const FindInputs &in, bool, ThreshImageValues *k) {
        CBLOB_REQUIRE_ARG(in.threshMap && in.threshPixels);
        CBLOB_REQUIRE_ARG(maskReadable(in));
        k->tables.threshMap = static_cast<const ThreshPixel *>(in.threshMap);
        k->tables.postMap = in.postMap;
        k->tables.postMapSize = in.postMap ? in.postMapSize : 0;
        return 0;
    }
    void row(uint8_t **cursor, const uint8_t *pixelRow, const uint8_t *threshRow, const uint8_t *mask,
             const FindInputs &in, int32_t *numRuns, uint8_t *startValue) const {
        const auto *pixels = reinterpret_cast<const Pixel *>(pixelRow);
        const auto *thresholds = reinterpret_cast<const ThreshPixel *>(threshRow);
        if (mask) {
            row::maskedThreshImageRow<Pixel, ThreshPixel>(cursor, pixels, thresholds, mask, in.width, &tables, in.wide,
                                                          numRuns);
        } else {
            row::threshImageRow<Pixel, ThreshPixel>(cursor, pixels, thresholds, in.width, &tables, in.wide, numRuns);
        }
        *startValue = 0;
    }
};

}  // namespace

int32_t tableRunFinder(int32_t bitsPerPel, RunFinder *finder) {
    CBLOB_REQUIRE_ARG(finder);
    if (bitsPerPel == 8) {
        *finder = core::finderOf<TableValues<uint8_t>>();
    } else if (bitsPerPel == 16) {
        *finder = core::finderOf<TableValues<uint16_t>>();
    } else {
        return cimg_err_badDepth;
    }
    return 0;
}

int32_t threshImageRunFinder(int32_t bitsPerPel, int32_t threshBitsPerPel, RunFinder *finder) {
    CBLOB_REQUIRE_ARG(finder);
    if (bitsPerPel == 8 && threshBitsPerPel == 8) {
        *finder = core::finderOf<ThreshImageValues<uint8_t, uint8_t>>();
    } else if (bitsPerPel == 16 && threshBitsPerPel == 8) {
        *finder = core::finderOf<ThreshImageValues<uint16_t, uint8_t>>();
    } else if (bitsPerPel == 16 && threshBitsPerPel == 16) {
        *finder = core::finderOf<ThreshImageValues<uint16_t, uint16_t>>();
    } else {
        return cimg_err_badDepth;
    }
    return 0;
}

}  // namespace cblob::seg

// The portable row kernels: one row encoder, parameterised by a value source
// (what each pixel becomes) and a run writer (binary or grey, narrow or
// wide). Every kernel of the family is a source plugged into it.
#include "segment/row_kernels.hpp"

#include "segment/row_run_writer.hpp"

namespace cblob::row {

namespace {

// ------------------------------------------------------------ value sources
// Each source maps a pixel position to the output at that position.

// Binary class "thresh <= value".
template <class Pixel>
struct HardClass {
    const Pixel *pixels;
    int32_t thresh;
    uint8_t operator()(int32_t x) const { return static_cast<uint8_t>(pixels[x] >= thresh); }
};

// Binary class "on the object side", the side flipped by invert.
template <class Pixel>
struct PolarClass {
    const Pixel *pixels;
    int32_t thresh;
    uint8_t invert;  // 0 or 1
    uint8_t operator()(int32_t x) const { return static_cast<uint8_t>((pixels[x] >= thresh) ^ invert); }
};

struct Identity {
    const uint8_t *pixels;
    uint8_t operator()(int32_t x) const { return pixels[x]; }
};

template <class Pixel>
struct TableLookup {
    const Pixel *pixels;
    const uint8_t *table;
    uint8_t operator()(int32_t x) const { return table[pixels[x]]; }
};

template <class Pixel, class ThreshPixel>
struct ThreshImageLookup {
    const Pixel *pixels;
    const ThreshPixel *threshRow;
    const ThreshPixel *threshMap;
    const uint8_t *postMap;
    int32_t lastPostIndex;  // postMapSize - 1
    uint8_t operator()(int32_t x) const {
        const int32_t u = threshMap[pixels[x]];
        const int32_t t = threshRow[x];
        if (u < t) return 0;
        const int32_t index = u - t;
        return postMap[index < lastPostIndex ? index : lastPostIndex];
    }
};

// An empty post map reads as a single 0 entry, so no table size reads
// outside its table.
template <class Pixel, class ThreshPixel>
ThreshImageLookup<Pixel, ThreshPixel> threshImageLookup(const Pixel *pixels, const ThreshPixel *threshRow,
                                                        const ThreshImageTables<ThreshPixel> *tables) {
    static constexpr uint8_t kEmptyPostMap[1] = {0};
    const bool empty = tables->postMapSize < 1;
    return {pixels, threshRow, tables->threshMap, empty ? kEmptyPostMap : tables->postMap,
            empty ? 0 : tables->postMapSize - 1};
}

// Any source inside the mask, 0 outside.
template <class Source>
struct Masked {
    Source inner;
    const uint8_t *mask;
    uint8_t operator()(int32_t x) const { return mask[x] ? inner(x) : 0; }
};

// ---------------------------------------------------------------- encoder

// Writes the row's maximal runs and the terminator; returns the run count.
template <class Writer, class Source>
int32_t encode(uint8_t *&out, const Source &source, int32_t width) {
    int32_t runs = 0;
    if (width > 0) {
        uint8_t current = source(0);
        int32_t start = 0;
        for (int32_t x = 1; x < width; ++x) {
            const uint8_t value = source(x);
            if (value != current) {
                Writer::put(out, current, x - start);
                ++runs;
                current = value;
                start = x;
            }
        }
        Writer::put(out, current, width - start);
        ++runs;
    }
    Writer::end(out);
    return runs;
}

template <template <bool> class Writer, class Source>
int32_t encodeRow(uint8_t **cursor, const Source &source, int32_t width, int32_t wide, int32_t *numRuns) {
    uint8_t *out = *cursor;
    *numRuns = wide ? encode<Writer<true>>(out, source, width) : encode<Writer<false>>(out, source, width);
    *cursor = out;
    return 0;
}

}  // namespace

// ------------------------------------------------------------ the kernels

template <class Pixel>
int32_t hardRow(uint8_t **cursor, const Pixel *pixels, int32_t width, int32_t thresh, int32_t wide,
                int32_t *numRuns) {
    return encodeRow<BinaryRunWriter>(cursor, HardClass<Pixel>{pixels, thresh}, width, wide, numRuns);
}

template <class Pixel>
int32_t hardRowEnds(int32_t *ends, const Pixel *pixels, int32_t width, int32_t thresh, int32_t *numRuns) {
    int32_t runs = 0;
    if (width > 0) {
        bool current = pixels[0] >= thresh;
        for (int32_t x = 1; x < width; ++x) {
            const bool cls = pixels[x] >= thresh;
            if (cls != current) {
                ends[runs++] = x;
                current = cls;
            }
        }
        ends[runs++] = width;
    }
    *numRuns = runs;
    return 0;
}

template <class Pixel>
int32_t maskedHardRow(uint8_t **cursor, const Pixel *pixels, const uint8_t *mask, int32_t width, int32_t thresh,
                      int32_t invert, int32_t wide, int32_t *numRuns, int32_t *firstClass) {
    const Masked<PolarClass<Pixel>> source{{pixels, thresh, static_cast<uint8_t>(invert != 0)}, mask};
    *firstClass = width > 0 ? source(0) : 0;
    return encodeRow<BinaryRunWriter>(cursor, source, width, wide, numRuns);
}

int32_t noneRow(uint8_t **cursor, const uint8_t *pixels, int32_t width, int32_t wide, int32_t *numRuns) {
    return encodeRow<GreyRunWriter>(cursor, Identity{pixels}, width, wide, numRuns);
}

int32_t maskedNoneRow(uint8_t **cursor, const uint8_t *pixels, const uint8_t *mask, int32_t width, int32_t wide,
                      int32_t *numRuns) {
    return encodeRow<GreyRunWriter>(cursor, Masked<Identity>{{pixels}, mask}, width, wide, numRuns);
}

template <class Pixel>
int32_t mapRow(uint8_t **cursor, const Pixel *pixels, int32_t width, const uint8_t *table, int32_t wide,
               int32_t *numRuns) {
    return encodeRow<GreyRunWriter>(cursor, TableLookup<Pixel>{pixels, table}, width, wide, numRuns);
}

template <class Pixel>
int32_t maskedMapRow(uint8_t **cursor, const Pixel *pixels, const uint8_t *mask, int32_t width,
                     const uint8_t *table, int32_t wide, int32_t *numRuns) {
    const Masked<TableLookup<Pixel>> source{{pixels, table}, mask};
    return encodeRow<GreyRunWriter>(cursor, source, width, wide, numRuns);
}

template <class Pixel, class ThreshPixel>
int32_t threshImageRow(uint8_t **cursor, const Pixel *pixels, const ThreshPixel *threshRow, int32_t width,
                       const ThreshImageTables<ThreshPixel> *tables, int32_t wide, int32_t *numRuns) {
    return encodeRow<GreyRunWriter>(cursor, threshImageLookup(pixels, threshRow, tables), width, wide, numRuns);
}

template <class Pixel, class ThreshPixel>
int32_t maskedThreshImageRow(uint8_t **cursor, const Pixel *pixels, const ThreshPixel *threshRow,
                             const uint8_t *mask, int32_t width, const ThreshImageTables<ThreshPixel> *tables,
                             int32_t wide, int32_t *numRuns) {
    const Masked<ThreshImageLookup<Pixel, ThreshPixel>> source{threshImageLookup(pixels, threshRow, tables), mask};
    return encodeRow<GreyRunWriter>(cursor, source, width, wide, numRuns);
}

// ------------------------------------------------------------ instances

#define CBLOB_ROW_KERNELS_FOR_PIXEL_(Pixel)                                                                     \
    template int32_t hardRow<Pixel>(uint8_t **, const Pixel *, int32_t, int32_t, int32_t, int32_t *);         \
    template int32_t hardRowEnds<Pixel>(int32_t *, const Pixel *, int32_t, int32_t, int32_t *);               \
    template int32_t maskedHardRow<Pixel>(uint8_t **, const Pixel *, const uint8_t *, int32_t, int32_t,       \
                                          int32_t, int32_t, int32_t *, int32_t *);                            \
    template int32_t mapRow<Pixel>(uint8_t **, const Pixel *, int32_t, const uint8_t *, int32_t, int32_t *);  \
    template int32_t maskedMapRow<Pixel>(uint8_t **, const Pixel *, const uint8_t *, int32_t, const uint8_t *, \
                                         int32_t, int32_t *);
CBLOB_ROW_KERNELS_FOR_PIXEL_(uint8_t)
CBLOB_ROW_KERNELS_FOR_PIXEL_(uint16_t)
#undef CBLOB_ROW_KERNELS_FOR_PIXEL_

#define CBLOB_THRESH_IMAGE_KERNELS_(Pixel, ThreshPixel)                                                          \
    template int32_t threshImageRow<Pixel, ThreshPixel>(uint8_t **, const Pixel *, const ThreshPixel *, int32_t,  \
                                                        const ThreshImageTables<ThreshPixel> *, int32_t,          \
                                                        int32_t *);                                               \
    template int32_t maskedThreshImageRow<Pixel, ThreshPixel>(uint8_t **, const Pixel *, const ThreshPixel *,     \
                                                              const uint8_t *, int32_t,                           \
                                                              const ThreshImageTables<ThreshPixel> *, int32_t,    \
                                                              int32_t *);
CBLOB_THRESH_IMAGE_KERNELS_(uint8_t, uint8_t)
CBLOB_THRESH_IMAGE_KERNELS_(uint16_t, uint8_t)
CBLOB_THRESH_IMAGE_KERNELS_(uint16_t, uint16_t)
#undef CBLOB_THRESH_IMAGE_KERNELS_

}  // namespace cblob::row

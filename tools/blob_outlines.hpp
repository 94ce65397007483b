// Blob outlines for the cblob tool: each blob's outer boundary read through
// the library's chain code, turned into corner points, written as contour
// lists (JSON arrays, a CSV file) and as GeoJSON polygons with their holes,
// and walked pixel by pixel for the overlay.
#ifndef CBLOB_TOOLS_BLOB_OUTLINES_HPP
#define CBLOB_TOOLS_BLOB_OUTLINES_HPP

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cblob/cblob.h"

namespace tool {

// A pixel corner, image coordinates: pixel (x, y) has corners (x, y) to
// (x + 1, y + 1).
struct Corner {
    int32_t x, y;
};

// The outer boundary of a blob: its first corner and its chain code (one
// byte per unit step: 0 +x, 1 -x, 2 +y, 3 -y; no end marker).
struct Outline {
    int32_t startX = 0, startY = 0;
    std::vector<uint8_t> chain;
};

// Reads the blob's outline; returns the library's status.
int32_t readOutline(cblob_blob *blob, Outline *out);

// The corners where the outline turns, from its first corner on (the first
// is not repeated at the end).
std::vector<Corner> outlineCorners(const Outline &outline);

// "[[x, y], [x, y], ...]".
std::string cornersJson(const std::vector<Corner> &corners);

// Calls visit(x, y) for the blob pixel beside each step of the outline (the
// pixel on the step's right), so that the boundary can be drawn on the image.
void forEachBoundaryPixel(const Outline &outline, const std::function<void(int32_t, int32_t)> &visit);

// One GeoJSON feature: a polygon whose exterior ring is the blob's outline
// and whose interior rings are the outlines of its holes (its children),
// with `properties`, the JSON members of its properties object ("\"a\": 1,
// \"b\": 2").
struct GeoFeature {
    std::string properties;
    Outline outer;
    std::vector<Outline> holes;
};

// One blob's contour for the CSV file.
struct ContourRow {
    std::string file;
    int32_t label;
    std::vector<Corner> corners;
};

// The output files are written in two steps so that a failure leaves no
// partial file: stage* writes a temporary file beside `path`, and
// commitOutputs() renames every staged file into place once the rest of the
// output has gone out. Staged files not committed are removed when the
// process exits. Each returns false with *error set on failure.
// GeoJSON: a FeatureCollection; exterior rings run counter-clockwise in x
// and y as numbers (clockwise on the screen, y down) and interior rings the
// other way, each closed by repeating its first corner. CSV: file, label,
// point (0, 1, ... along the outline), x, y.
bool stageGeoJson(const std::string &path, const std::vector<GeoFeature> &features, std::string *error);
bool stageContoursCsv(const std::string &path, const std::vector<ContourRow> &rows, std::string *error);
bool commitOutputs(std::string *error);

}  // namespace tool

#endif

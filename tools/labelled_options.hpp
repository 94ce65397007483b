// The cblob command's label-image analysis: --labelled runs the labelled
// connectivity scan over an 8- or 16-bit label image (every distinct pixel
// value a region, 0 included) and --neighbours lists each region's
// neighbours. Parsing, turning the image into the run's 8-bit input, and
// the output fields.
#ifndef CBLOB_TOOLS_LABELLED_OPTIONS_HPP
#define CBLOB_TOOLS_LABELLED_OPTIONS_HPP

#include <cstdint>
#include <string>
#include <vector>

#include "cblob/cblob.h"
#include "png_io.h"

struct LabelledOptions {
    bool labelled = false;
    bool neighbours = false;
};

// True when `arg` is --labelled or --neighbours (recorded in *o).
bool parseLabelledOption(const std::string &arg, LabelledOptions *o);

// A label image as the run takes it: 8-bit pixels, and the label value of
// each pixel value (a 16-bit image's distinct values, at most 256, are
// numbered in ascending order; an 8-bit image is used as it is).
struct LabelInput {
    int32_t width = 0, height = 0, strideBytes = 0;
    const uint8_t *pixels = nullptr;  // the image's own pixels, or `ranks`
    std::vector<uint8_t> ranks;
    std::vector<int32_t> values;      // pixel value of the run -> label value
};

// Fills *in from the image; false with *error set when a 16-bit image has
// more than 256 distinct values.
bool makeLabelInput(const tool_greyImage &image, LabelInput *in, std::string *error);

// Segmentation none (runs carry the pixel values) and the labelled scan.
int32_t setLabelledRun(cblob_runParams *params);

// The labels of a blob's neighbours (ascending) and whether it reaches the
// window border; nothing for a blob without neighbour records.
struct BlobNeighbours {
    std::vector<int> labels;
    bool border = false;
};
BlobNeighbours blobNeighbours(const cblob_blob *b);

// The neighbours as a table cell ("3 5 9", "border" added; "-" for none), a
// CSV field ("3;5;9") and a JSON array ("[3, 5, 9]").
std::string neighboursCell(const BlobNeighbours &n);
std::string neighboursCsv(const BlobNeighbours &n);
std::string neighboursJson(const BlobNeighbours &n);

#endif

// The cblob command's --labelled and --neighbours (labelled_options.hpp).
#include "labelled_options.hpp"

#include <algorithm>
#include <cstring>

bool parseLabelledOption(const std::string &arg, LabelledOptions *o) {
    if (arg == "--labelled") {
        o->labelled = true;
        return true;
    }
    if (arg == "--neighbours") {
        o->neighbours = true;
        return true;
    }
    return false;
}

bool makeLabelInput(const tool_greyImage &image, LabelInput *in, std::string *error) {
    in->width = image.width;
    in->height = image.height;
    if (image.bitsPerPel == 8) {
        in->pixels = image.pixels;
        in->strideBytes = image.strideBytes;
        in->values.resize(256);
        for (int v = 0; v < 256; ++v) in->values[v] = v;
        return true;
    }
    // 16 bits: the distinct values, numbered in ascending order.
    std::vector<int32_t> rankOf(65536, -1);
    const auto pixel = [&](int x, int y) {
        uint16_t v;
        std::memcpy(&v, image.pixels + static_cast<size_t>(y) * image.strideBytes + 2 * x, 2);
        return v;
    };
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) rankOf[pixel(x, y)] = 0;
    }
    in->values.clear();
    for (int v = 0; v < 65536; ++v) {
        if (rankOf[v] < 0) continue;
        if (in->values.size() == 256) {
            *error = "--labelled takes at most 256 distinct values in a 16-bit image";
            return false;
        }
        rankOf[v] = static_cast<int32_t>(in->values.size());
        in->values.push_back(v);
    }
    in->ranks.resize(static_cast<size_t>(image.width) * image.height);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            in->ranks[static_cast<size_t>(y) * image.width + x] = static_cast<uint8_t>(rankOf[pixel(x, y)]);
        }
    }
    in->pixels = in->ranks.data();
    in->strideBytes = image.width;
    return true;
}

int32_t setLabelledRun(cblob_runParams *params) {
    const int32_t status = cblob_runParams_setSegmentationNone(params, 1);
    if (CBLOB_FAILED(status)) return status;
    params->connectivityType = cblob_connectivityLabelled;
    return 0;
}

BlobNeighbours blobNeighbours(const cblob_blob *b) {
    BlobNeighbours n;
    const auto *adj = static_cast<const cblob_blobAdjacency *>(b->adjacencyHolder);
    if (!adj) return n;
    for (int32_t i = 0; i < adj->numNeighbours; ++i) n.labels.push_back(adj->neighbours[i]->label);
    std::sort(n.labels.begin(), n.labels.end());
    n.border = adj->touchesBorder != 0;
    return n;
}

namespace {

std::string joined(const std::vector<int> &labels, const char *separator) {
    std::string out;
    for (size_t i = 0; i < labels.size(); ++i) {
        if (i) out += separator;
        out += std::to_string(labels[i]);
    }
    return out;
}

}  // namespace

std::string neighboursCell(const BlobNeighbours &n) {
    std::string out = joined(n.labels, " ");
    if (n.border) out += out.empty() ? "border" : " border";
    return out.empty() ? "-" : out;
}

std::string neighboursCsv(const BlobNeighbours &n) { return joined(n.labels, ";"); }

std::string neighboursJson(const BlobNeighbours &n) { return "[" + joined(n.labels, ", ") + "]"; }

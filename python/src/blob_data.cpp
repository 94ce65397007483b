// A blob's runs, pixels and outer boundary as NumPy arrays.
#include <cstring>

#include "cblob_py.hpp"

namespace cblob_py {

namespace {

// Reads one run length at *p (one byte below 255, else 0xFF and a 4-byte
// little-endian length) and advances p.
int32_t readLength(const uint8_t *&p) {
    if (*p != 0xFF) return *p++;
    uint32_t length = static_cast<uint32_t>(p[1]) | static_cast<uint32_t>(p[2]) << 8 |
                      static_cast<uint32_t>(p[3]) << 16 | static_cast<uint32_t>(p[4]) << 24;
    p += 5;
    return static_cast<int32_t>(length);
}

// Appends the blob runs of one row: binary rows alternate from their start
// value; grey rows carry a value before each length, 0 outside the blob.
void decodeRow(const cblob_rleRow &row, bool grey, int32_t y, int32_t left, std::vector<int32_t> &out) {
    const uint8_t *p = row.runs;
    int32_t x = left;
    bool inBlob = row.startValue != 0;
    for (int32_t r = 0; r < row.numRuns; ++r) {
        if (grey) inBlob = *p++ != 0;
        const int32_t length = readLength(p);
        if (inBlob && length > 0) {
            // Adjacent blob runs of a grey row (different values) join into one.
            if (!out.empty() && out[out.size() - 3] == y && out[out.size() - 2] + out.back() == x)
                out.back() += length;
            else
                out.insert(out.end(), {y, x, length});
        }
        x += length;
        if (!grey) inBlob = !inBlob;
    }
}

std::string context(const Blob &b, const char *what) {
    return std::string(what) + " of blob " + std::to_string(b.blob->label) +
           (b.core->keepRuns ? "" : "; analyze(..., keep_runs=True) keeps the blobs' runs");
}

}  // namespace

py::array blobRuns(Blob &b) {
    cblob_rleRow *rows = nullptr;
    check(cblob_blob_getRleRows(b.blob, &rows), context(b, "runs").c_str());
    std::vector<int32_t> runs;
    const bool grey = b.blob->isGrey != 0;
    for (int32_t y = 0; y < b.blob->boxHeight; ++y)
        decodeRow(rows[y], grey, b.blob->boxTop + y, b.blob->boxLeft, runs);
    const py::ssize_t n = static_cast<py::ssize_t>(runs.size() / 3);
    py::array_t<int32_t> out({n, py::ssize_t(3)});
    if (n) std::memcpy(out.mutable_data(), runs.data(), runs.size() * sizeof(int32_t));
    return out;
}

py::array blobImage(Blob &b) {
    // The rendered image owns storage from the memory service until the guard ends.
    struct Guard {
        cimg_image image;
        ~Guard() { cimg_image_destruct(&image); }
    } g;
    check(cimg_image8_construct(&g.image), "blob image");
    check(cblob_blob_getBlobImage(b.blob, &g.image), context(b, "image").c_str());
    const cimg_image &image = g.image;
    py::array_t<bool> out({py::ssize_t(image.height), py::ssize_t(image.width)});
    bool *dst = out.mutable_data();
    for (int32_t y = 0; y < image.height; ++y) {
        const uint8_t *src = image.pels + static_cast<size_t>(y) * image.strideBytes;
        for (int32_t x = 0; x < image.width; ++x) dst[static_cast<size_t>(y) * image.width + x] = src[x] != 0;
    }
    return out;
}

namespace {

// The outer boundary's first corner and its steps (the end marker dropped).
struct Chain {
    int32_t start[2] = {0, 0};
    std::vector<uint8_t> steps;
};

Chain readChain(Blob &b) {
    struct Guard {
        cstd_vector8 codes{};
        ~Guard() { cstd_vector8_destruct(&codes); }
    } g;
    check(cstd_vector8_constructEmpty(&g.codes), "chain code");
    Chain chain;
    check(cblob_blob_getBoundaryChainCode(b.blob, chain.start, &g.codes), context(b, "boundary").c_str());
    const auto *codes = static_cast<const uint8_t *>(g.codes.untyped.begin);
    const int64_t size = g.codes.untyped.size;
    if (size > 1) chain.steps.assign(codes, codes + (size - 1));
    return chain;
}

}  // namespace

py::tuple blobChainCode(Blob &b) {
    const Chain chain = readChain(b);
    py::array_t<uint8_t> steps(static_cast<py::ssize_t>(chain.steps.size()));
    if (!chain.steps.empty()) std::memcpy(steps.mutable_data(), chain.steps.data(), chain.steps.size());
    return py::make_tuple(py::make_tuple(chain.start[0], chain.start[1]), steps);
}

py::array blobContour(Blob &b) {
    static const int32_t dx[4] = {1, -1, 0, 0}, dy[4] = {0, 0, 1, -1};
    const Chain chain = readChain(b);
    // The corners where the boundary turns, from the first one on.
    std::vector<int32_t> corners{chain.start[0], chain.start[1]};
    int32_t x = chain.start[0], y = chain.start[1];
    for (size_t i = 0; i < chain.steps.size(); ++i) {
        if (i > 0 && chain.steps[i] != chain.steps[i - 1]) corners.insert(corners.end(), {x, y});
        x += dx[chain.steps[i] & 3];
        y += dy[chain.steps[i] & 3];
    }
    const py::ssize_t n = static_cast<py::ssize_t>(corners.size() / 2);
    py::array_t<int32_t> out({n, py::ssize_t(2)});
    std::memcpy(out.mutable_data(), corners.data(), corners.size() * sizeof(int32_t));
    return out;
}

}  // namespace cblob_py

// A small model of run-length images for the tests: rows as lists of runs,
// a reference encoder and decoder of the narrow and wide byte formats written
// from the format's description (independent of the library's own helpers),
// and builders that put model rows into library storage.
#ifndef CBLOB_TESTS_RLE_MODEL_HPP
#define CBLOB_TESTS_RLE_MODEL_HPP

#include <cstdint>
#include <cstring>
#include <vector>

#include "cblob/rle_image.h"
#include "rle/storage.hpp"

namespace rletest {

struct Run {
    uint8_t value;  // binary rows: 0 or 1
    int32_t length;
    bool operator==(const Run &o) const { return value == o.value && length == o.length; }
};
using Row = std::vector<Run>;

struct Model {
    int32_t offsetX = 0, offsetY = 0, width = 0;
    bool grey = true;
    std::vector<Row> rows;
    int32_t numRuns() const {
        int32_t n = 0;
        for (const Row &r : rows) n += static_cast<int32_t>(r.size());
        return n;
    }
    int32_t height() const { return static_cast<int32_t>(rows.size()); }
    // The pixel at (x, y) relative to the offset; 0 past the last run.
    uint8_t pel(int32_t x, int32_t y) const {
        for (const Run &r : rows[y]) {
            if (x < r.length) return r.value;
            x -= r.length;
        }
        return 0;
    }
};

inline Model makeModel(int32_t width, std::vector<Row> rows, bool grey = true) {
    Model m;
    m.width = width;
    m.grey = grey;
    m.rows = std::move(rows);
    return m;
}

// The identity transform handle (a null handle: nothing to release).
inline cmath_xformPtrhConst identity() {
    cmath_xformPtrhConst x;
    cmath_xformPtrhConst_construct(&x);
    return x;
}

// The rows with neighbouring runs of one value merged, as writers store them.
inline std::vector<Row> mergedRows(const std::vector<Row> &rows) {
    std::vector<Row> out;
    for (const Row &row : rows) {
        Row merged;
        for (const Run &r : row) {
            if (!merged.empty() && merged.back().value == r.value) {
                merged.back().length += r.length;
            } else {
                merged.push_back(r);
            }
        }
        out.push_back(merged);
    }
    return out;
}

inline void putLength(std::vector<uint8_t> &out, int32_t length) {
    if (length < 255) {
        out.push_back(static_cast<uint8_t>(length));
        return;
    }
    out.push_back(0xFF);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(static_cast<uint32_t>(length) >> (8 * i)));
}

inline int32_t getInt32(const uint8_t *p) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(p[i]) << (8 * i);
    return static_cast<int32_t>(v);
}

// The narrow bytes of one row, terminator included.
inline std::vector<uint8_t> encodeRow(const Row &row, bool grey) {
    std::vector<uint8_t> out;
    for (const Run &r : row) {
        if (grey) out.push_back(r.value);
        putLength(out, r.length);
    }
    if (grey) out.push_back(0);
    out.push_back(0);
    return out;
}

// Decodes one row up to its terminator: narrow, or wide (4-byte lengths and
// 4-byte label slots).
inline Row decodeRow(const uint8_t *p, bool grey, uint8_t startValue, bool wide = false) {
    Row row;
    for (uint8_t binary = startValue ? 1 : 0;; binary ^= 1) {
        const uint8_t value = grey ? *p++ : binary;
        int32_t length = wide ? getInt32(p) : *p;
        p += wide ? 8 : 1;
        if (!wide && length == 0xFF) {
            length = getInt32(p);
            p += 4;
        }
        if (length == 0) break;
        row.push_back({value, length});
    }
    return row;
}

// The host's pair format of a row: runs split into pairs of at most
// `maxPair` pixels (neighbouring pairs of one value, which must be merged).
inline std::vector<uint8_t> torvRow(const Row &row, int32_t maxPair = 255) {
    std::vector<uint8_t> out;
    for (const Run &r : row) {
        for (int32_t left = r.length; left > 0;) {
            const int32_t n = left < maxPair ? left : maxPair;
            out.push_back(r.value);
            out.push_back(static_cast<uint8_t>(n));
            left -= n;
        }
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

// Passes the model's own run count to the builder.
constexpr int32_t kTrueRunCount = INT32_MIN;

// Constructs *img from a grey model through the pair format and the library's
// row packer, with numRuns as the run count given.
inline int32_t buildFromTorv(cblob_imageRle *img, const Model &m, int32_t numRuns = kTrueRunCount,
                             int32_t maxPair = 255) {
    std::vector<std::vector<uint8_t>> pairs;
    std::vector<const uint8_t *> rows;
    for (const Row &r : m.rows) pairs.push_back(torvRow(r, maxPair));
    for (const auto &p : pairs) rows.push_back(p.data());
    const cmath_xformPtrhConst none = identity();
    const int32_t given = numRuns == kTrueRunCount ? m.numRuns() : numRuns;
    return cblob_imageRle_constructFromTORVRLE(img, rows.data(), given, m.offsetX, m.offsetY, m.width, m.height(),
                                               &none);
}

// Fills *img (any format) through init and the storage API with rows encoded
// here: a fresh block every `rowsPerBlock` rows, sentinel rows included.
inline int32_t buildByFilling(cblob_imageRle *img, const Model &m, int32_t rowsPerBlock = 1 << 30) {
    const cmath_xformPtrhConst none = identity();
    cblob_imageRle_construct(img);
    int32_t status = cblob_imageRle_init(img, m.offsetX, m.offsetY, m.width, m.height(), &none);
    if (CBLOB_FAILED(status)) return status;
    cblob_imageRleData_ *data = img->data;
    cblob_rleRow *table = cblob::rle::rowTable(data);
    const Row sentinel = {{0, m.width}};
    cblob::rle::WriteBlock block;
    for (int32_t e = 0; e < m.height() + 2; ++e) {
        const bool isSentinel = e == 0 || e == m.height() + 1;
        const Row &row = isSentinel ? sentinel : m.rows[e - 1];
        const std::vector<uint8_t> bytes = encodeRow(row, m.grey);
        if (e % rowsPerBlock == 0 || block.bytesLeft() < static_cast<int64_t>(bytes.size())) {
            status = cblob::rle::newBlock(data, static_cast<int64_t>(bytes.size()) * 4, &block);
            if (CBLOB_FAILED(status)) {
                cblob_imageRle_destruct(img);
                return status;
            }
        }
        table[e].runs = block.cursor;
        table[e].numRuns = static_cast<int32_t>(row.size());
        table[e].startValue = (!m.grey && !row.empty()) ? row[0].value : 0;
        std::memcpy(block.cursor, bytes.data(), bytes.size());
        block.cursor += bytes.size();
    }
    data->numRuns = m.numRuns();
    data->isGrey = m.grey ? 1 : 0;
    img->numRuns = data->numRuns;
    img->isGrey = data->isGrey;
    return 0;
}

// A record from the memory service, built by `build`, attached to a new handle.
template <class Build>
int32_t makeHandle(cblob_imageRlePtrh *h, Build &&build) {
    cblob_imageRlePtrh_construct(h);
    void *memory = nullptr;
    int32_t status = csys_memory_alloc_internal(sizeof(cblob_imageRle), &memory);
    if (CBLOB_FAILED(status)) return status;
    auto *img = static_cast<cblob_imageRle *>(memory);
    status = build(img);
    if (!CBLOB_FAILED(status)) return cblob_imageRlePtrh_attach(h, img);
    csys_memory_free_internal(&memory);
    return status;
}

// A deterministic pseudo-random model: runs of 1 to maxRun pixels, grey
// values drawn from `levels` distinct values with neighbours differing.
inline Model randomModel(uint32_t seed, int32_t width, int32_t height, bool grey, int32_t maxRun,
                         int32_t levels = 4) {
    Model m;
    m.width = width;
    m.grey = grey;
    m.offsetX = static_cast<int32_t>(seed % 7) - 3;
    m.offsetY = static_cast<int32_t>(seed % 5);
    uint32_t s = seed * 2654435761u + 1;
    auto next = [&] { return s = s * 1103515245u + 12345u, s >> 8; };
    for (int32_t y = 0; y < height; ++y) {
        Row row;
        uint8_t value = grey ? static_cast<uint8_t>(next() % levels) : static_cast<uint8_t>(next() & 1);
        for (int32_t x = 0; x < width;) {
            int32_t n = 1 + static_cast<int32_t>(next() % static_cast<uint32_t>(maxRun));
            if (n > width - x) n = width - x;
            row.push_back({value, n});
            x += n;
            value = static_cast<uint8_t>(grey ? (value + 1 + next() % (levels - 1)) % levels : value ^ 1u);
        }
        m.rows.push_back(row);
    }
    return m;
}

}  // namespace rletest

#endif

// Tracing one blob's outer boundary: its spans from its rows, the diagonal
// rules of its colour and of the run's connectivity type, and a walk that
// either writes the chain code or gathers the boundary measures.
#include "results/blob_boundary.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "cblob/result_set.h"
#include "core/frame.hpp"
#include "results/boundary_spans.hpp"
#include "results/boundary_trace.hpp"

namespace cblob::results {
namespace {

constexpr double kPi = 3.14159265358979323846;
// Each convex corner cuts its two unit edges short by a diagonal, and the
// whole is scaled to match the lengths of digitised curves.
constexpr double kIdentityCornerCut = 0.58579;
constexpr double kPerimeterScale = 0.94806;

// Objects connect across pixel corners and holes do not; the labelled mode
// connects regions across corners met vertically only.
DiagonalRules rulesOf(const cblob_blob *blob) {
    if (blob->owner->postProcessing->connectivityType == 1) return DiagonalRules{false, true};
    const bool object = blob->colour != 0;
    return DiagonalRules{object, object};
}

// Room on the stack for the spans and the chain of small blobs.
constexpr int64_t kLocalSpanBytes = 2048;
constexpr int64_t kLocalChainBytes = 1024;
// Chain buffers end in this many spare bytes, so that a short run of steps
// is one fixed-size store.
constexpr int64_t kChainSlack = 16;

// The blob's spans (in `local` when they fit); the caller frees
// spans->memory. Builds nothing of its own: no cleanup list, one return.
int32_t blobSpans(cblob_blob *blob, bool withMass, void *local, BoundarySpans *spans) {
    CBLOB_REQUIRE_ARG(blob);
    CBLOB_REQUIRE_ARG(blob->owner && blob->owner->postProcessing);
    CBLOB_REQUIRE_ARG(blob->clientFromImage && blob->boxHeight >= 1);
    int32_t status = blob->owner->postProcessing->connectivityType != 2 ? 0 : cblob_err_traceNotForMode;
    cblob_rleRow *rows = nullptr;
    if (status == 0) status = cblob_blob_getRleRows(blob, &rows);
    if (status == 0) {
        status = buildBoundarySpans(rows, blob->boxHeight, blob->isGrey != 0, withMass, local, kLocalSpanBytes, spans);
    }
    return status;
}

// Writes the steps into a buffer large enough for the whole boundary and
// kChainSlack bytes more.
struct ChainSink {
    uint8_t *at;
    void horizontal(int32_t code, int32_t, int32_t, int32_t count) {
        // Most runs are short: one 16-byte store (into the buffer's slack
        // when it passes the boundary's end) beats a call for them.
        if (count <= kChainSlack) {
            std::memset(at, code, kChainSlack);
        } else {
            std::memset(at, code, static_cast<size_t>(count));
        }
        at += count;
    }
    void vertical(int32_t code, int32_t, int32_t) { *at++ = static_cast<uint8_t>(code); }
};

// Sums the squared distances of the boundary points (the corner each step
// starts from) from the circle of radius `radius` around the centre, in
// client coordinates.
struct CircleSink {
    cmath_xformLinear xf;  // client from box coordinates
    double cx, cy, radius;
    double sum = 0;

    void add(double px, double py) {
        const double d = std::sqrt((px - cx) * (px - cx) + (py - cy) * (py - cy)) - radius;
        sum += d * d;
    }
    void horizontal(int32_t code, int32_t x, int32_t y, int32_t count) {
        const double sx = code == 0 ? xf.matrix.m00 : -xf.matrix.m00;
        const double sy = code == 0 ? xf.matrix.m10 : -xf.matrix.m10;
        double px = xf.matrix.m00 * x + xf.matrix.m01 * y + xf.tx;
        double py = xf.matrix.m10 * x + xf.matrix.m11 * y + xf.ty;
        for (int32_t k = 0; k < count; ++k, px += sx, py += sy) add(px, py);
    }
    void vertical(int32_t, int32_t x, int32_t y) {
        add(xf.matrix.m00 * x + xf.matrix.m01 * y + xf.tx, xf.matrix.m10 * x + xf.matrix.m11 * y + xf.ty);
    }
};

double perimeterOf(const TraceCounts &n, const cmath_matrix &m) {
    int32_t identity = 0;
    cmath_matrix_getIsIdentity(&m, &identity);
    const double h = static_cast<double>(n.horizontal), v = static_cast<double>(n.vertical);
    const double c = static_cast<double>(n.corners);
    if (identity) return (h + v - kIdentityCornerCut * c) * kPerimeterScale;
    double sx = 0, sy = 0;
    cmath_matrix_getXScale(&m, &sx);
    cmath_matrix_getYScale(&m, &sy);
    return (v * sy + h * sx - c * (sx + sy - std::sqrt(sx * sx + sy * sy))) * kPerimeterScale;
}

// The centre the boundary is compared with: the centre of mass, or, when
// the run computed no moments, the centre of the blob's pixels.
void centreOf(const cblob_blob *blob, const BoundarySpans &s, double *cx, double *cy) {
    if (blob->momentsValid == 1 || s.pixels <= 0) {
        *cx = blob->centerOfMassX;
        *cy = blob->centerOfMassY;
        return;
    }
    cmath_xformLinear_mapPoint(blob->clientFromImage, blob->boxLeft + s.sumX / s.pixels,
                               blob->boxTop + s.sumY / s.pixels, cx, cy);
}

// Walks the spans into the chain buffer (room for the whole boundary) and
// assigns the chain, end marker included, to *chain when it is non-null.
int32_t writeChain(const cblob_blob *blob, const BoundarySpans &spans, uint8_t *buffer, cstd_vector8 *chain) {
    ChainSink sink{buffer};
    struct NoSink {
        void horizontal(int32_t, int32_t, int32_t, int32_t) {}
        void vertical(int32_t, int32_t, int32_t) {}
    } none;
    TraceCounts counts;
    int32_t status = chain ? traceSpans(spans, rulesOf(blob), sink, &counts)
                           : traceSpans(spans, rulesOf(blob), none, &counts);
    if (status == 0 && chain) {
        *sink.at = 4;
        status = cstd_vector8_assignElements(chain, buffer, counts.steps() + 1);
    }
    return status;
}

// The same with the chain buffer in a block from the memory service.
int32_t writeChainInBlock(const cblob_blob *blob, const BoundarySpans &spans, cstd_vector8 *chain) {
    cblob::Frame<1> f;
    uint8_t *buffer = nullptr;
    CBLOB_FRAME_TRY(f, allocate(spans.stepBound + kChainSlack, &buffer));
    f.addMemory(&buffer, csys_cleanup_tempMemory);
    CBLOB_FRAME_TRY(f, writeChain(blob, spans, buffer, chain));
    return f.exit();
}

}  // namespace

// Small blobs keep their spans and chain on the stack and allocate nothing;
// the spans of a large blob are one block, freed at the single exit.
int32_t traceBoundaryChain(cblob_blob *blob, int32_t start[2], cstd_vector8 *chain) {
    alignas(8) unsigned char localSpans[kLocalSpanBytes];
    alignas(8) uint8_t localChain[kLocalChainBytes + kChainSlack];
    BoundarySpans spans;
    int32_t status = blobSpans(blob, false, localSpans, &spans);
    if (status == 0) {
        status = !chain || spans.stepBound <= kLocalChainBytes ? writeChain(blob, spans, localChain, chain)
                                                               : writeChainInBlock(blob, spans, chain);
    }
    if (status == 0 && start) {
        start[0] = blob->boxLeft + spans.start[spans.rowFirst(0)];
        start[1] = blob->boxTop;
    }
    if (spans.memory) {
        const int32_t freed = csys_memory_free_internal(&spans.memory);
        if (status == 0) status = freed;
    }
    return status;
}

int32_t traceBoundaryMeasures(cblob_blob *blob, BoundaryMeasures *out) {
    cblob::Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, blob);
    CBLOB_FRAME_REQUIRE(f, out);
    alignas(8) unsigned char localSpans[kLocalSpanBytes];
    BoundarySpans spans;
    CBLOB_FRAME_TRY(f, blobSpans(blob, blob->momentsValid != 1, localSpans, &spans));
    if (spans.memory) f.addMemory(&spans.memory, csys_cleanup_tempMemory);
    CBLOB_FRAME_REQUIRE(f, blob->area > 0);
    // Box coordinates to client coordinates: the blob's transform after the
    // box's offset.
    const cmath_xformLinear &m = *blob->clientFromImage;
    CircleSink sink{m, 0, 0, std::sqrt(blob->area / kPi)};
    sink.xf.tx = m.tx + m.matrix.m00 * blob->boxLeft + m.matrix.m01 * blob->boxTop;
    sink.xf.ty = m.ty + m.matrix.m10 * blob->boxLeft + m.matrix.m11 * blob->boxTop;
    centreOf(blob, spans, &sink.cx, &sink.cy);
    TraceCounts counts;
    CBLOB_FRAME_TRY(f, traceSpans(spans, rulesOf(blob), sink, &counts));
    const double n = static_cast<double>(counts.steps());
    out->steps = n;
    out->perimeter = perimeterOf(counts, m.matrix);
    out->acircularity = 1 + std::sqrt(sink.sum / n) / sink.radius;
    return f.exit();
}

}  // namespace cblob::results

// An independent reference for blob analysis of binary images, written for
// the tests: labels components by pixel flood fill (objects 8-connected,
// background 4-connected, the background around the image as the outer
// region), finds each region's enclosing region, applies the small-region
// cleanup modes, and computes exact area, box, centroid and second central
// moments over unit pixel squares. It shares no code with the library.
#ifndef CBLOB_TESTS_BLOB_REFERENCE_HPP
#define CBLOB_TESTS_BLOB_REFERENCE_HPP

#include <cstdint>
#include <string>
#include <vector>

namespace cblobtest {

struct RefBlob {
    int colour = 0;         // 1 object, 0 hole
    int64_t area = 0;       // pixels
    int left = 0, top = 0;  // image coordinates (origin added)
    int width = 0, height = 0;
    double centerX = 0, centerY = 0;   // pixel centres at (x + 0.5, y + 0.5)
    double mxx = 0, myy = 0, mxy = 0;  // central second moments, not divided by the area
    int parent = -1;                   // index into RefResult::blobs; -1 for a top-level blob
    int numChildren = 0;
};

struct RefResult {
    std::vector<RefBlob> blobs;
    // Per pixel (width x height, row by row): the index into `blobs` of the
    // blob holding it, -1 when none does (the outer region, pruned regions,
    // regions filled into the outer region).
    std::vector<int> owner;
};

struct RefOptions {
    int cleanup = 0;      // 0 none, 1 prune small childless regions, 2 fill small regions into their parent
    int32_t minArea = 0;  // regions whose area is below it are small
    int originX = 0, originY = 0;
};

// `objects` holds width x height bytes, non-zero for object pixels.
RefResult referenceBlobs(const std::vector<uint8_t> &objects, int width, int height, const RefOptions &options = {});

// A one-line description of a blob, for messages.
std::string describe(const RefBlob &blob);

}  // namespace cblobtest

#endif

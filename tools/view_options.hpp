// The cblob command's options that act on a result set after its run:
// --calibration (a client transform: output in client units), --filter,
// --sort and --top. Parsing, applying them in that order, and naming the
// client units in the output's header.
#ifndef CBLOB_TOOLS_VIEW_OPTIONS_HPP
#define CBLOB_TOOLS_VIEW_OPTIONS_HPP

#include <cstdint>
#include <string>
#include <vector>

#include "cblob/cblob.h"

struct ViewOptions {
    std::vector<cblob_filter> filters;  // in client units, angles in radians
    std::vector<std::string> filterNames;
    int32_t sortMeasure = 0;  // 0: run order
    int32_t sortDirection = 1;
    bool calibrated = false;
    double scale = 1.0, angleDeg = 0.0, offsetX = 0.0, offsetY = 0.0;
    long top = -1;  // -1: every blob

    // True when a filter or the sort reads a measure that needs the blobs'
    // own runs (boxes and medians at an angle, the boundary measures, the
    // interior test with a mask).
    bool needsBlobRuns(bool withMask) const;
};

// When argv[i] is one of the options above, parses it and its value
// (advancing i) and returns true; a malformed value sets *error to a
// one-line message. Other arguments give false.
bool parseViewOption(int argc, char **argv, int *i, ViewOptions *v, std::string *error);

// Sets the calibration's transform, then the filters (all in one call, so
// that ranges of one measure are alternatives), then the sort. On a failure
// returns its status with *what naming the step.
int32_t applyViewOptions(cblob_resultSet *rs, const ViewOptions &v, std::string *what);

// The table's header line naming the client units ("" without calibration).
std::string clientUnitsLine(const ViewOptions &v);

// The CSV column or JSON key of a field in client units: `name` as it is
// without calibration, "client_" + name with it.
std::string clientField(const ViewOptions &v, const char *name);

// Takes a blob's client centre, principal angle (radians), area and major
// moment back to image pixels, for drawing the overlay.
void toImageFrame(const ViewOptions &v, double *cx, double *cy, double *angle, double *area, double *inertiaMax);

#endif

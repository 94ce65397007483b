// The cblob extension module: declarations shared by its source files.
//
// The module wraps NumPy arrays as library images without copying, runs the
// library with the GIL released, and hands back a Result that owns the C
// result set; Blob objects keep that result set alive through a shared
// pointer. Every library status that is a failure becomes cblob.Error.
#ifndef CBLOB_PY_HPP
#define CBLOB_PY_HPP

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cblob/cblob.h"
#include "measure_names.h"

namespace py = pybind11;

namespace cblob_py {

// ------------------------------------------------------------ errors.cpp

// Creates cblob.Error and cblob.Cancelled in the module and routes the
// library's precondition reports to a handler that lets the call return
// csys_err_assertFailed (the default handler would abort the interpreter).
void registerErrors(py::module_ &m);

// Raises cblob.Error (cblob.Cancelled for csys_err_stopRequested) with the
// status, its name and `context` in the message.
[[noreturn]] void raiseStatus(int32_t status, const std::string &context);

// Raises for a failure status; returns for any other.
inline void check(int32_t status, const char *context) {
    if (CBLOB_FAILED(status)) raiseStatus(status, context);
}

// ------------------------------------------------------------ cancel.cpp

// Installs the module's attention callback (process-wide, once).
void installAttentionCallback();

// Lets a Python callable (or a threading.Event) stop the runs the current
// thread makes while the scope is entered. Constructed, checked and
// destroyed with the GIL held; enter() and leave() bracket the run on the
// thread that makes it, GIL released or not. The callable is asked on the
// first poll and then at most every few milliseconds, under the GIL.
class CancelScope {
public:
    explicit CancelScope(const py::object &cancel);
    ~CancelScope();
    CancelScope(const CancelScope &) = delete;
    CancelScope &operator=(const CancelScope &) = delete;
    void enter();
    void leave();
    // Re-raises an exception the callable raised (GIL held).
    void raiseCallbackError();
    struct State;

private:
    std::unique_ptr<State> state_;
};

// ------------------------------------------------------- array_input.cpp

// Binds `image` (constructed) to the pixels of a 2-D uint8 or uint16 NumPy
// array without copying them. Rows may be strided; the pixels of a row must
// be adjacent. Anything else raises ValueError (TypeError for an object that
// is not an array). `what` names the argument in messages. maskOnly accepts
// uint8 and bool arrays only. Returns the pixel depth (8 or 16).
int32_t bindArray(const py::handle &array, const char *what, bool maskOnly, cimg_image *image);

// ---------------------------------------------------------- result.cpp

// Owns one C result set. Blobs and results share it.
struct ResultCore {
    cblob_resultSet rs;
    bool keepRuns = false;   // the run kept per-blob runs
    bool hasMask = false;
    ResultCore();
    ~ResultCore();
    ResultCore(const ResultCore &) = delete;
    ResultCore &operator=(const ResultCore &) = delete;
};

// How box and median measures are read: at `angleRad`, with or without
// extrema exclusion (mode and value of cblob_resultSet_setExcludeExtrema).
struct MeasureOptions {
    double angleRad = 0.0;
    bool useExclusion = false;
    int32_t excludeMode = cblob_excludeAmountChecked;
    double excludeValue = 0.0;
};

// angle in degrees; exclude None, a number (pixels of mass) or "N%".
MeasureOptions measureOptions(double angleDeg, const py::object &exclude);

// The measure entry of a name, or null.
const tool_measureName *findMeasure(const std::string &name);

// Reads one measure (degrees for angle measures). With `missingAsNan`, a
// measure the library cannot give for this blob is NaN; otherwise it raises.
double readMeasure(ResultCore &core, cblob_blob *blob, const tool_measureName *m, const MeasureOptions &options,
                   bool missingAsNan);
// readMeasure in two steps, for many blobs: store the angle and the
// exclusion setting in the result set once, then read each blob.
void applyMeasureOptions(ResultCore &core, const MeasureOptions &options);
double readMeasureAsSet(cblob_blob *blob, const tool_measureName *m, const MeasureOptions &options,
                        bool missingAsNan);

struct Result {
    std::shared_ptr<ResultCore> core;
    std::vector<cblob_blob *> blobs;  // in view order
    int32_t threshold = 0;
    int32_t thresholdHigh = 0;
    bool soft = false;
};

struct Blob {
    std::shared_ptr<ResultCore> core;
    cblob_blob *blob;
};

void registerResult(py::module_ &m);

// --------------------------------------------------------- blob_data.cpp

// The blob's runs as an (n, 3) int32 array of (y, x, length), image coordinates.
py::array blobRuns(Blob &blob);
// The blob's pixels in its bounding box as a bool array.
py::array blobImage(Blob &blob);
// The outer boundary: ((x, y) of its first pixel corner, a uint8 array of its
// unit steps 0 +x, 1 -x, 2 +y, 3 -y), clockwise on the screen (y down).
py::tuple blobChainCode(Blob &blob);
// The outer boundary's corners (where it turns) as an (n, 2) int32 array of
// (x, y), from the chain code's first corner on; the first is not repeated.
py::array blobContour(Blob &blob);

// ----------------------------------------------------------- analyze.cpp

void registerAnalyze(py::module_ &m);

// ---------------------------------------------------------- file_io.cpp

void registerFileIo(py::module_ &m);

}  // namespace cblob_py

#endif

// The window runs: cblob_runWindow8 and cblob_runWindow16. Every image run
// ends here.
#include <cstdint>

#include "cblob/run.h"
#include "core/frame.hpp"
#include "run/run_entry_checks.hpp"
#include "run/run_pipeline.hpp"

namespace {

// The window run of one pixel depth: the window has pixels, a mask window
// has its origin and size; then the result set is cleared, takes the
// transform, and the front end runs with the window in its depth's place.
template <int Bits>
int32_t runWindow(const cimg_windowConst *window, const cmath_xformPtrhConst *clientFromImage,
                  const cimg_windowConst *mask, cblob_runParams *runParams, cblob_resultSet *resultSet) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, window);
    CBLOB_FRAME_REQUIRE(f, runParams);
    CBLOB_FRAME_REQUIRE(f, resultSet);
    CBLOB_FRAME_CHECK(f, window->pels, cblob_err_imageUnbound);
    CBLOB_FRAME_CHECK(f, !mask || cblob::run::sameRect(cblob::run::rectOf(*mask), cblob::run::rectOf(*window)),
                      cblob_err_maskGeometryMismatch);
    CBLOB_FRAME_TRY(f, cblob::run::clearAndRun(Bits == 8 ? window : nullptr, Bits == 16 ? window : nullptr,
                                               clientFromImage, mask, nullptr, nullptr, runParams, resultSet));
    return f.exit();
}

}  // namespace

extern "C" {

int32_t cblob_runWindow8(const cimg_windowConst *window, const cmath_xformPtrhConst *clientFromImage,
                         const cimg_windowConst *mask, cblob_runParams *runParams, cblob_resultSet *resultSet) {
    return runWindow<8>(window, clientFromImage, mask, runParams, resultSet);
}

int32_t cblob_runWindow16(const cimg_windowConst *window, const cmath_xformPtrhConst *clientFromImage,
                          const cimg_windowConst *mask, cblob_runParams *runParams, cblob_resultSet *resultSet) {
    return runWindow<16>(window, clientFromImage, mask, runParams, resultSet);
}

}  // extern "C"

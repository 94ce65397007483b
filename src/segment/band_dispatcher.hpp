// The band dispatcher: runs a run finder over a whole window, either on the
// calling thread or as horizontal bands on the job thread group, and joins
// the bands' runs into one run-length image.
#ifndef CBLOB_SEGMENT_BAND_DISPATCHER_HPP
#define CBLOB_SEGMENT_BAND_DISPATCHER_HPP

#include <cstdint>

#include "cblob/rle_image.h"
#include "segment/run_finder.hpp"

namespace cblob::seg {

// The number of bands for a width x height window when the group offers
// `threads` threads: with P = width x height, at most P / 10000 bands (at
// least 1); then, when bands would be lower than 4 rows and height / 4 is
// below the count, height / 4 bands (at least 1).
int32_t bandCount(int32_t width, int32_t height, int32_t threads);

// Encodes every row of `in` (in.numRows rows from the window's first row;
// in.rows is ignored) with `finder` into out's owned storage, which must
// have been initialised for in.width x in.numRows (cblob_imageRle_init).
//
//   1. The storage's row table is made height + 2 entries.
//   2. A job thread group is constructed and its thread count T read
//      (csys_jobGetCurrentThreadState); T becomes bandCount(width, height, T).
//   3. T = 1, or a finder without band job: one buffer of
//      min(((runsPerRow x height + 4) x bytes-per-run + 7) / 4, 10485760) x 4
//      bytes is appended to the storage and the single-threaded finder runs
//      (it writes the sentinel rows and polls the attention check).
//   4. T > 1: bands of height / T rows, the last taking the rest. With a
//      run-length or TORV mask, a scratch area of T x width bytes gives each
//      band its own decoded-mask row. Each band gets its own storage with a
//      first buffer of max(runsPerRow x bytes-per-run x (height / T) + 1,
//      (width + 4) x bytes-per-run) bytes, and one job; the group runs them
//      all (csys_jobThreadGroup_dispatchAndWait).
//   5. Join on the calling thread: the top sentinel row in a buffer of its
//      own, then every band's buffers and sizes in band order (adding each
//      band's run count), then the bottom sentinel row in a buffer of its
//      own.
// The storage's grey and wide flags are set from the finder and in.wide;
// out->numRuns and out->isGrey are copied from the storage at the end.
// Statuses: the finder's (the attention check, memory), the job group's,
// memory failures; csys_err_assertFailed for a record without storage.
// On failure every row-table entry is emptied (null run pointer, 0 runs; rows
// of failed bands would point into buffers released with the bands) and the
// run total is 0; buffers already appended stay with the record.
int32_t findRunsInBands(const FindInputs &in, const RunFinder &finder, cblob_imageRle *out);

}  // namespace cblob::seg

#endif

// The banded form of the standard connectivity scan: the window is cut into
// horizontal bands, one job per band on the job thread group runs the row
// logic of the standard scan on its rows with its own record pool, tables and
// blob blocks, and the calling thread then joins the bands seam by seam from
// the top and hands the blobs to the result set.
//
// A band below the first starts with an open top: every run of its first row
// opens a region of its own (background at the window edges excepted, which
// is the band's outer region). Such regions, and the regions they merge
// with, "touch the seam": they are never finished in the band, since they
// may continue into the band above; one that completes in the band is held
// for the join. The band logs every merge of two regions that touch the
// seam: where the two already meet above the band, the merge is really the
// contact that closes off the region between them (which becomes its
// child), and the join replays the log to find those.
//
// The seam join, for each seam from the top: links the runs of the upper
// band's last row and the lower band's first row by the overlap rule of the
// scan (objects 8-connected, background 4-connected), replays the lower
// band's merge log, merges every group of connected regions into its oldest
// region (the smallest label: always the upper band's), gives regions closed
// off at the seam their parent, completes the upper band's regions the lower
// band does not continue, then the held regions whose every part is
// complete (in the order of the rows that completed them), with the cleanup
// mode of the run. Blobs finished in a band or at a seam carry a band-local
// label; after the last seam every blob gets the result set's next label,
// band by band from the top, and the bands' blocks go to the result set.
#ifndef CBLOB_CONNECT_BANDED_SCAN_HPP
#define CBLOB_CONNECT_BANDED_SCAN_HPP

#include <cstdint>

#include "cblob/job.h"
#include "cblob/result_set.h"
#include "connect/blob_internal_pool.hpp"
#include "connect/blob_record.hpp"
#include "connect/scan_state.hpp"
#include "connect/standard_scan.hpp"

namespace cblob::connect {

// One band: what its job needs and what it leaves for the seam join.
struct BandScan {
    // Set before the job runs.
    int32_t rowBegin = 0, rowEnd = 0;  // window rows
    bool closing = false;              // the last band scans the closing row too
    int32_t labelBase = 0, labelLimit = 0;
    BlobInternalPool *pool = nullptr;
    ScanScratch scratch;
    SpareBlobBlocks *spares = nullptr;  // blocks of a cleared result set (shared by the bands)
    scan::SeamTables seam;              // tables for bands below the first
    int32_t *lastEnd = nullptr;         // room for width + 2 segment ends
    cblob_blob_internal_ **lastRec = nullptr;
    // Written by the job.
    BlobBlocks *blocks = nullptr;  // the band's blob blocks (band-local labels)
    int32_t numBlobs = 0;
    cblob_blob_internal_ *outer = nullptr;  // the band's outer region (band 0: the window's)
    int32_t lastCount = 0;                  // the last row: segments, colour and regions
    uint8_t lastColour = 0;
};

// The job of one band: the standard scan's row logic over the band's rows
// (scan_state.hpp, ScanState). The source was validated by the caller and
// the result set's transform prepared; the result set is only read.
int32_t scanBand(const ScanSource &source, const ScanSettings &settings, cblob_resultSet *rs, BandScan *band);

// Labels `settings.height` rows in `bands` bands (2 or more, at most one
// band per row; else an assertion), dispatched on `group`: band k covers
// rows k * h .. k * h + h - 1 with h = height / bands, the last band runs to
// the last row. pools[k] is band k's record pool (constructed); scratch
// holds `bands` row buffers of (4 * width + 4) * 2 bytes and, where the
// source needs one, `bands` mask rows of width bytes, band after band.
// Serves what scanStandard serves except a label map, blob labels and a
// non-linear client transform (assertions). On return the result set holds
// the blobs, labelled 1.. band by band from the top, and the first top-level
// blob; statuses as scanStandard's, and the job thread group's. On failure
// the result set holds no blob of the run and every band's blocks are freed.
int32_t scanBanded(const ScanSource &source, const ScanSettings &settings, BlobInternalPool *pools, int32_t bands,
                   const ScanScratch &scratch, const csys_jobThreadGroup *group, cblob_resultSet *rs);

// The seam join of the bands after their jobs (seam_join.cpp): joins every
// seam from the top and finishes what is left (the blobs stay in the
// bands' blocks, with band-local labels).
int32_t joinBands(const ScanSettings &settings, BandScan *bands, int32_t count, cblob_resultSet *rs);

}  // namespace cblob::connect

#endif

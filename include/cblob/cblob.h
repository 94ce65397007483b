/*
 * cblob: blob analysis (connected-component analysis) of 8- and 16-bit grey
 * images. This umbrella header includes every family header.
 */
#ifndef CBLOB_CBLOB_H
#define CBLOB_CBLOB_H

#include "cblob/status.h"
#include "cblob/sys.h"
#include "cblob/vector.h"
#include "cblob/rect.h"
#include "cblob/containers.h"
#include "cblob/math.h"
#include "cblob/image.h"
#include "cblob/histogram.h"
#include "cblob/job.h"
#include "cblob/rle_image.h"
#include "cblob/run_params.h"
#include "cblob/blob.h"
#include "cblob/result_set.h"
#include "cblob/measure.h"
#include "cblob/boundary.h"
#include "cblob/run.h"

#endif /* CBLOB_CBLOB_H */

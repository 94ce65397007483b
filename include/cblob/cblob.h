/*
 * cblob: blob analysis (connected-component analysis) of 8- and 16-bit grey
 * images. This umbrella header includes every family header.
 */
#ifndef CBLOB_CBLOB_H
#define CBLOB_CBLOB_H

#include "cblob/status.h"
#include "cblob/sys.h"

#endif /* CBLOB_CBLOB_H */

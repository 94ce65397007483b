/*
 * The morphology options of the cblob tool: --erode, --dilate, --open and
 * --close with a structuring element (3x3, 1x3 horizontal, 3x1 vertical),
 * repeatable and applied in the order given, after segmentation and before
 * labelling.
 */
#ifndef CBLOB_TOOLS_MORPH_OPTIONS_H
#define CBLOB_TOOLS_MORPH_OPTIONS_H

#include <stdint.h>

#include "cblob/cblob.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * The operation code of `option` ("--erode", "--dilate", "--open",
 * "--close") with `element` ("3x3", "1x3", "3x1"); -1 when the option is
 * not a morphology option, -2 when the element is not one of the three.
 */
int32_t tool_morphCode(const char *option, const char *element);

/* Appends the codes to the run parameters' operations; the library's status. */
int32_t tool_addMorphOps(cblob_runParams *params, const int32_t *codes, int32_t count);

#ifdef __cplusplus
}
#endif

#endif

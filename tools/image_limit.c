/* The pixel limit of the image readers (png_io.h). */
#include "png_io.h"

#define TOOL_DEFAULT_MAX_PIXELS ((int64_t)1 << 30)

static int64_t maxPixels = TOOL_DEFAULT_MAX_PIXELS;

void tool_setMaxPixels(int64_t n) { maxPixels = n > 0 ? n : TOOL_DEFAULT_MAX_PIXELS; }

int64_t tool_getMaxPixels(void) { return maxPixels; }

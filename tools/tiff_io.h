/* Reading TIFF files for the command-line tools (libtiff). */
#ifndef CBLOB_TOOLS_TIFF_IO_H
#define CBLOB_TOOLS_TIFF_IO_H

#include "png_io.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Reads the first image of a TIFF file into a grey image: one sample per
 * pixel of 8 or 16 unsigned bits, in strips or tiles, any compression libtiff
 * decodes. A white-is-zero file is turned into the usual black-is-zero values.
 * Colour, palette, bilevel, signed and floating-point files are refused.
 * Returns 0, or -1 with a one-line message in `error`; libtiff's own
 * messages never reach stderr.
 */
int tool_readTiff(const char *path, tool_greyImage *image, char *error, int errorSize);

#ifdef __cplusplus
}
#endif

#endif

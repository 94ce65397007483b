/* Reading PGM (portable grey map) files for the command-line tools. */
#ifndef CBLOB_TOOLS_PGM_IO_H
#define CBLOB_TOOLS_PGM_IO_H

#include "png_io.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Reads a binary (P5) or plain (P2) PGM file. A maximum value up to 255 gives
 * an 8-bit image, up to 65535 a 16-bit one (values in host byte order).
 * Returns 0, or -1 with a one-line message in `error`.
 */
int tool_readPgm(const char *path, tool_greyImage *image, char *error, int errorSize);

#ifdef __cplusplus
}
#endif

#endif

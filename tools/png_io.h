/* Reading and writing PNG files for the command-line tools (libpng). */
#ifndef CBLOB_TOOLS_PNG_IO_H
#define CBLOB_TOOLS_PNG_IO_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A grey image in host byte order: 8-bit (bitsPerPel 8) or 16-bit pixels. */
typedef struct tool_greyImage {
    int32_t width;
    int32_t height;
    int32_t bitsPerPel;  /* 8 or 16 */
    int32_t strideBytes; /* width * bitsPerPel / 8 */
    uint8_t *pixels;     /* malloc'd; free with tool_greyImage_free */
} tool_greyImage;

/*
 * Reads a PNG file into a grey image. Grey files keep their depth (1, 2 and
 * 4-bit grey become 8-bit); colour files are converted to 8-bit grey; alpha is
 * dropped. Returns 0, or -1 with a one-line message in `error`.
 */
int tool_readPng(const char *path, tool_greyImage *image, char *error, int errorSize);

/* Writes 8-bit RGB pixels (3 bytes per pixel, rows packed) as a PNG file.
 * Returns 0, or -1 with a message in `error`. */
int tool_writePngRgb(const char *path, const uint8_t *rgb, int32_t width, int32_t height, char *error,
                     int errorSize);

/* Writes a grey image (8- or 16-bit, host byte order) as a PNG file.
 * Returns 0, or -1 with a message in `error`. */
int tool_writePngGrey(const char *path, const tool_greyImage *image, char *error, int errorSize);

void tool_greyImage_free(tool_greyImage *image);

/*
 * The largest image the PNG and TIFF readers accept, in pixels (default
 * 2^30). A compressed file of a few hundred bytes may declare dimensions
 * whose pixels take gigabytes; such a file is refused ("larger than the
 * reader's limit") before anything is allocated. PGM needs no limit: its
 * declared pixels must be in the file. n <= 0 restores the default.
 */
void tool_setMaxPixels(int64_t n);
int64_t tool_getMaxPixels(void);

#ifdef __cplusplus
}
#endif

#endif

/* TIFF reading for the tools, on libtiff's scanline and tile interfaces. */
#include "tiff_io.h"

#include <sys/stat.h>

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <tiffio.h>

/* libtiff reports through process-wide handlers. While a file is read, the
 * first error is kept here to end up in the caller's one-line message, and
 * warnings (unknown tags and the like) are dropped. */
static char lastError[256];

static void keepError(const char *module, const char *format, va_list args) {
    (void)module;
    if (lastError[0]) return;
    vsnprintf(lastError, sizeof lastError, format, args);
    /* Keep the message on one line. */
    for (char *c = lastError; *c; ++c)
        if (*c == '\n' || *c == '\r') *c = ' ';
}

static void dropWarning(const char *module, const char *format, va_list args) {
    (void)module;
    (void)format;
    (void)args;
}

static int fail(char *error, int errorSize, const char *path, const char *detail) {
    snprintf(error, (size_t)errorSize, "cannot read %s: %s", path, detail);
    return -1;
}

/* Copies a decoded block of rows or a tile into the image, clipped to it.
 * `bytes` is the pixel size; libtiff has already put samples in host order. */
static void copyBlock(tool_greyImage *image, const uint8_t *block, uint32_t blockWidth, uint32_t blockHeight,
                      uint32_t x0, uint32_t y0, int bytes) {
    const uint32_t width = (uint32_t)image->width, height = (uint32_t)image->height;
    const uint32_t copyWidth = x0 + blockWidth > width ? width - x0 : blockWidth;
    for (uint32_t y = 0; y < blockHeight && y0 + y < height; ++y)
        memcpy(image->pixels + (size_t)(y0 + y) * (size_t)image->strideBytes + (size_t)x0 * (size_t)bytes,
               block + (size_t)y * blockWidth * (size_t)bytes, (size_t)copyWidth * (size_t)bytes);
}

/* Reads the pixels of an open file whose layout has been checked. Returns 0
 * or -1 (the reason is then in lastError). */
static int readPixels(TIFF *tiff, tool_greyImage *image, int bytes) {
    const size_t bufferSize = (size_t)(TIFFIsTiled(tiff) ? TIFFTileSize(tiff) : TIFFScanlineSize(tiff));
    uint8_t *buffer = bufferSize ? malloc(bufferSize) : NULL;
    if (!buffer) {
        if (!lastError[0]) snprintf(lastError, sizeof lastError, "out of memory");
        return -1;
    }
    int rc = 0;
    if (TIFFIsTiled(tiff)) {
        uint32_t tileWidth = 0, tileHeight = 0;
        TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tileWidth);
        TIFFGetField(tiff, TIFFTAG_TILELENGTH, &tileHeight);
        if (!tileWidth || !tileHeight || (size_t)tileWidth * tileHeight * (size_t)bytes > bufferSize) {
            snprintf(lastError, sizeof lastError, "bad tile size");
            rc = -1;
        }
        for (uint32_t y = 0; rc == 0 && y < (uint32_t)image->height; y += tileHeight)
            for (uint32_t x = 0; rc == 0 && x < (uint32_t)image->width; x += tileWidth) {
                if (TIFFReadTile(tiff, buffer, x, y, 0, 0) < 0)
                    rc = -1;
                else
                    copyBlock(image, buffer, tileWidth, tileHeight, x, y, bytes);
            }
    } else {
        if ((size_t)image->width * (size_t)bytes > bufferSize) {
            snprintf(lastError, sizeof lastError, "bad row size");
            rc = -1;
        }
        /* Rows are read in order, so compressed strips decode front to back. */
        for (uint32_t y = 0; rc == 0 && y < (uint32_t)image->height; ++y) {
            if (TIFFReadScanline(tiff, buffer, y, 0) < 0)
                rc = -1;
            else
                copyBlock(image, buffer, (uint32_t)image->width, 1, 0, y, bytes);
        }
    }
    free(buffer);
    return rc;
}

/* Whether an uncompressed file (or its strips or tiles) holds fewer bytes
 * than its declared pixels: a header may promise gigabytes in a file of a
 * few bytes, and the pixels are allocated before any strip is read.
 * Compressed data gives no such bound; a short compressed file fails when
 * it is read. */
static int shorterThanDeclared(TIFF *tiff, uint64_t pixelBytes) {
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
    if (compression != COMPRESSION_NONE) return 0;
    struct stat file;
    if (fstat(TIFFFileno(tiff), &file) == 0 && S_ISREG(file.st_mode) && (uint64_t)file.st_size < pixelBytes) return 1;
    const int tiled = TIFFIsTiled(tiff);
    uint64_t *counts = NULL;
    if (!TIFFGetField(tiff, tiled ? TIFFTAG_TILEBYTECOUNTS : TIFFTAG_STRIPBYTECOUNTS, &counts) || !counts) return 1;
    const uint32_t blocks = tiled ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
    uint64_t total = 0;
    for (uint32_t i = 0; i < blocks && total < pixelBytes; ++i) total += counts[i];
    return total < pixelBytes;
}

int tool_readTiff(const char *path, tool_greyImage *image, char *error, int errorSize) {
    memset(image, 0, sizeof *image);
    lastError[0] = 0;
    const TIFFErrorHandler oldError = TIFFSetErrorHandler(keepError);
    const TIFFErrorHandler oldWarning = TIFFSetWarningHandler(dropWarning);
    TIFF *tiff = TIFFOpen(path, "r");
    int rc = 0;
    if (!tiff) {
        rc = fail(error, errorSize, path, lastError[0] ? lastError : "not a TIFF file");
    } else {
        uint32_t width = 0, height = 0;
        uint16_t bits = 1, samples = 1, photometric = PHOTOMETRIC_MINISBLACK, sampleFormat = SAMPLEFORMAT_UINT;
        TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
        if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric)) photometric = PHOTOMETRIC_MINISBLACK;
        const int grey = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
        char detail[160];
        if (!grey || samples != 1 || (bits != 8 && bits != 16) || sampleFormat != SAMPLEFORMAT_UINT) {
            snprintf(detail, sizeof detail,
                     "only 8- and 16-bit unsigned grey TIFF is read (this file has %u sample(s) of %u bits, "
                     "photometric %u)",
                     (unsigned)samples, (unsigned)bits, (unsigned)photometric);
            rc = fail(error, errorSize, path, detail);
        } else if (width < 1 || height < 1 || width > INT32_MAX / 2 || height > INT32_MAX / 2 ||
                   (uint64_t)width * height * (bits / 8) > SIZE_MAX / 2) {
            rc = fail(error, errorSize, path, "unsupported TIFF image size");
        } else if ((int64_t)width * (int64_t)height > tool_getMaxPixels()) {
            rc = fail(error, errorSize, path, "image larger than the reader's limit");
        } else if (shorterThanDeclared(tiff, (uint64_t)width * height * (bits / 8))) {
            rc = fail(error, errorSize, path, "truncated TIFF data");
        } else {
            const int bytes = bits / 8;
            image->width = (int32_t)width;
            image->height = (int32_t)height;
            image->bitsPerPel = bits;
            image->strideBytes = (int32_t)width * bytes;
            image->pixels = malloc((size_t)image->strideBytes * height);
            if (!image->pixels) {
                rc = fail(error, errorSize, path, "out of memory");
            } else if (readPixels(tiff, image, bytes) != 0) {
                tool_greyImage_free(image);
                rc = fail(error, errorSize, path, lastError[0] ? lastError : "corrupt TIFF data");
            } else if (photometric == PHOTOMETRIC_MINISWHITE) {
                const size_t count = (size_t)width * height;
                if (bytes == 1) {
                    for (size_t i = 0; i < count; ++i) image->pixels[i] = (uint8_t)~image->pixels[i];
                } else {
                    uint16_t *wide = (uint16_t *)(void *)image->pixels;
                    for (size_t i = 0; i < count; ++i) wide[i] = (uint16_t)~wide[i];
                }
            }
        }
        TIFFClose(tiff);
    }
    TIFFSetErrorHandler(oldError);
    TIFFSetWarningHandler(oldWarning);
    return rc;
}

/* PGM reading for the tools. */
#include "pgm_io.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int fail(char *error, int errorSize, const char *path, const char *detail) {
    snprintf(error, (size_t)errorSize, "cannot read %s: %s", path, detail);
    return -1;
}

/* Reads one header number, skipping white space and # comments. */
static int readNumber(FILE *file, long *value) {
    int c = fgetc(file);
    for (;;) {
        while (c != EOF && isspace(c)) c = fgetc(file);
        if (c != '#') break;
        while (c != EOF && c != '\n') c = fgetc(file);
    }
    if (c == EOF || !isdigit(c)) return 0;
    long v = 0;
    while (c != EOF && isdigit(c)) {
        if (v > 100000000L) return 0;
        v = v * 10 + (c - '0');
        c = fgetc(file);
    }
    *value = v;
    return 1; /* the single white-space byte after the number is consumed */
}

int tool_readPgm(const char *path, tool_greyImage *image, char *error, int errorSize) {
    memset(image, 0, sizeof *image);
    FILE *file = fopen(path, "rb");
    if (!file) return fail(error, errorSize, path, "no such file or no permission");
    char magic[2];
    long width = 0, height = 0, maxValue = 0;
    if (fread(magic, 1, 2, file) != 2 || magic[0] != 'P' || (magic[1] != '5' && magic[1] != '2') ||
        !readNumber(file, &width) || !readNumber(file, &height) || !readNumber(file, &maxValue)) {
        fclose(file);
        return fail(error, errorSize, path, "not a PGM file");
    }
    if (width < 1 || height < 1 || width > 65535 || height > 65535 || maxValue < 1 || maxValue > 65535) {
        fclose(file);
        return fail(error, errorSize, path, "unsupported PGM size or maximum value");
    }
    const int wide = maxValue > 255;
    /* A header may promise far more pixels than the file holds: refuse it
     * before allocating (a binary pixel takes 1 or 2 bytes, a plain one at
     * least 2 with its separator). Streams whose size is unknown skip this. */
    const long dataStart = ftell(file);
    if (dataStart >= 0 && fseek(file, 0, SEEK_END) == 0) {
        const long fileEnd = ftell(file);
        const double needed = (double)width * (double)height * (magic[1] == '2' ? 2.0 : (wide ? 2.0 : 1.0)) -
                               (magic[1] == '2' ? 1.0 : 0.0);
        if (fseek(file, dataStart, SEEK_SET) != 0 || (fileEnd >= 0 && (double)(fileEnd - dataStart) < needed)) {
            fclose(file);
            return fail(error, errorSize, path, "truncated or corrupt PGM data");
        }
    }
    image->width = (int32_t)width;
    image->height = (int32_t)height;
    image->bitsPerPel = wide ? 16 : 8;
    image->strideBytes = (int32_t)(width * (wide ? 2 : 1));
    const size_t count = (size_t)width * (size_t)height;
    image->pixels = malloc(count * (wide ? 2u : 1u));
    if (!image->pixels) {
        fclose(file);
        return fail(error, errorSize, path, "out of memory");
    }
    int ok = 1;
    for (size_t i = 0; i < count && ok; ++i) {
        long v = 0;
        if (magic[1] == '2') {
            ok = readNumber(file, &v);
        } else {
            const int hi = wide ? fgetc(file) : 0;
            const int lo = fgetc(file);
            ok = hi != EOF && lo != EOF;
            if (ok) v = (long)hi << 8 | lo;
        }
        if (ok && v > maxValue) ok = 0;
        if (!ok) break;
        if (wide) {
            uint16_t w = (uint16_t)v;
            memcpy(image->pixels + 2 * i, &w, 2);
        } else {
            image->pixels[i] = (uint8_t)v;
        }
    }
    fclose(file);
    if (!ok) {
        tool_greyImage_free(image);
        return fail(error, errorSize, path, "truncated or corrupt PGM data");
    }
    return 0;
}

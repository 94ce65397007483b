/* PNG reading and writing for the tools, on libpng's simplified API. */
#include "png_io.h"

#include <png.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int fail(char *error, int errorSize, const char *what, const char *path, const char *detail) {
    snprintf(error, (size_t)errorSize, "%s %s: %s", what, path, detail);
    return -1;
}

/* libpng's own messages would reach stderr beside the reader's one-line
 * message: errors go straight to the reader's recovery point, warnings are
 * dropped. */
static void quietError(png_structp png, png_const_charp message) {
    (void)message;
    png_longjmp(png, 1);
}
static void quietWarning(png_structp png, png_const_charp message) {
    (void)png;
    (void)message;
}

int tool_readPng(const char *path, tool_greyImage *image, char *error, int errorSize) {
    png_image png;
    memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    memset(image, 0, sizeof *image);
    if (!png_image_begin_read_from_file(&png, path)) return fail(error, errorSize, "cannot read", path, png.message);
    if ((int64_t)png.width * (int64_t)png.height > tool_getMaxPixels()) {
        png_image_free(&png);
        return fail(error, errorSize, "cannot read", path, "image larger than the reader's limit");
    }
    /* 16-bit grey stays 16-bit (linear values kept as stored); everything
     * else becomes 8-bit grey. */
    const int keep16 = (png.format & PNG_FORMAT_FLAG_LINEAR) && !(png.format & PNG_FORMAT_FLAG_COLOR);
    png.format = keep16 ? PNG_FORMAT_LINEAR_Y : PNG_FORMAT_GRAY;
    if (keep16) {
        /* The simplified API would convert to linear light; read 16-bit grey
         * through the plain API instead to keep the stored values. */
        png_image_free(&png);
        FILE *file = fopen(path, "rb");
        if (!file) return fail(error, errorSize, "cannot open", path, "no such file or no permission");
        png_structp reader = png_create_read_struct(PNG_LIBPNG_VER_STRING, NULL, &quietError, &quietWarning);
        png_infop info = reader ? png_create_info_struct(reader) : NULL;
        png_bytep *volatile rows = NULL;
        if (!info || setjmp(png_jmpbuf(reader))) {
            png_destroy_read_struct(&reader, &info, NULL);
            free(rows);
            free(image->pixels);
            image->pixels = NULL;
            fclose(file);
            return fail(error, errorSize, "cannot decode", path, "corrupt PNG data");
        }
        png_init_io(reader, file);
        png_read_info(reader, info);
        png_set_strip_alpha(reader);
        png_read_update_info(reader, info);
        image->width = (int32_t)png_get_image_width(reader, info);
        image->height = (int32_t)png_get_image_height(reader, info);
        image->bitsPerPel = 16;
        image->strideBytes = image->width * 2;
        image->pixels = malloc((size_t)image->strideBytes * (size_t)image->height + 1);
        rows = malloc(sizeof(png_bytep) * (size_t)(image->height + 1));
        if (!image->pixels || !rows) longjmp(png_jmpbuf(reader), 1);
        for (int32_t y = 0; y < image->height; ++y) rows[y] = image->pixels + (size_t)y * (size_t)image->strideBytes;
        png_read_image(reader, rows);
        png_read_end(reader, NULL);
        png_destroy_read_struct(&reader, &info, NULL);
        free(rows);
        fclose(file);
        /* PNG stores 16-bit samples big-endian; the library wants host order. */
        for (size_t i = 0; i < (size_t)image->width * (size_t)image->height; ++i) {
            uint8_t *p = image->pixels + 2 * i;
            uint16_t v = (uint16_t)((p[0] << 8) | p[1]);
            memcpy(p, &v, 2);
        }
        return 0;
    }
    image->width = (int32_t)png.width;
    image->height = (int32_t)png.height;
    image->bitsPerPel = 8;
    image->strideBytes = image->width;
    image->pixels = malloc(PNG_IMAGE_SIZE(png) + 1);
    if (!image->pixels) {
        png_image_free(&png);
        return fail(error, errorSize, "cannot read", path, "out of memory");
    }
    if (!png_image_finish_read(&png, NULL, image->pixels, image->strideBytes, NULL)) {
        free(image->pixels);
        image->pixels = NULL;
        return fail(error, errorSize, "cannot decode", path, png.message);
    }
    return 0;
}

int tool_writePngRgb(const char *path, const uint8_t *rgb, int32_t width, int32_t height, char *error,
                     int errorSize) {
    png_image png;
    memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = (png_uint_32)width;
    png.height = (png_uint_32)height;
    png.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&png, path, 0, rgb, width * 3, NULL))
        return fail(error, errorSize, "cannot write", path, png.message);
    return 0;
}

int tool_writePngGrey(const char *path, const tool_greyImage *image, char *error, int errorSize) {
    FILE *file = fopen(path, "wb");
    if (!file) return fail(error, errorSize, "cannot write", path, "cannot create the file");
    png_structp writer = png_create_write_struct(PNG_LIBPNG_VER_STRING, NULL, NULL, NULL);
    png_infop info = writer ? png_create_info_struct(writer) : NULL;
    if (!info || setjmp(png_jmpbuf(writer))) {
        png_destroy_write_struct(&writer, &info);
        fclose(file);
        remove(path);
        return fail(error, errorSize, "cannot write", path, "PNG encoding failed");
    }
    png_init_io(writer, file);
    png_set_IHDR(writer, info, (png_uint_32)image->width, (png_uint_32)image->height, image->bitsPerPel,
                 PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(writer, info);
    if (image->bitsPerPel == 16) png_set_swap(writer); /* host order is little-endian here; PNG is big-endian */
    for (int32_t y = 0; y < image->height; ++y)
        png_write_row(writer, image->pixels + (size_t)y * (size_t)image->strideBytes);
    png_write_end(writer, NULL);
    png_destroy_write_struct(&writer, &info);
    if (fclose(file) != 0) return fail(error, errorSize, "cannot write", path, "closing the file failed");
    return 0;
}

void tool_greyImage_free(tool_greyImage *image) {
    free(image->pixels);
    image->pixels = NULL;
}

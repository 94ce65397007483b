// Fuzz target: the command-line tool's image readers (PNG, PGM, TIFF) on
// fuzzed file contents. The bytes are written to an in-memory file that each
// reader opens by name. A reader either refuses the file with a message or
// returns a grey image whose geometry is consistent; every pixel byte it
// returns is read, so a short buffer shows under the sanitizers.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "fuzz_support.hpp"
#include "pgm_io.h"
#include "png_io.h"
#include "tiff_io.h"

namespace {

using Reader = int (*)(const char *, tool_greyImage *, char *, int);

void check(Reader read, const char *path) {
    tool_greyImage image{};
    char error[256];
    error[0] = '\0';
    if (read(path, &image, error, static_cast<int>(sizeof error)) != 0) {
        FUZZ_CHECK(error[0] != '\0' && std::memchr(error, '\0', sizeof error) != nullptr);
        FUZZ_CHECK(image.pixels == nullptr);
        return;
    }
    FUZZ_CHECK(image.width >= 1 && image.height >= 1);
    FUZZ_CHECK(image.bitsPerPel == 8 || image.bitsPerPel == 16);
    FUZZ_CHECK(image.strideBytes == image.width * (image.bitsPerPel / 8));
    FUZZ_CHECK(image.pixels != nullptr);
    unsigned sum = 0;
    const size_t bytes = static_cast<size_t>(image.strideBytes) * static_cast<size_t>(image.height);
    for (size_t i = 0; i < bytes; ++i) sum += image.pixels[i];
    volatile unsigned sink = sum;
    (void)sink;
    tool_greyImage_free(&image);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Declared sizes beyond 16 M pixels are refused: that keeps the readers'
    // allocations inside libFuzzer's memory limit (the limit itself is
    // tested with the tool).
    tool_setMaxPixels(int64_t{1} << 24);
    const int fd = memfd_create("fuzz_image", 0);
    FUZZ_CHECK(fd >= 0);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, data + done, size - done);
        FUZZ_CHECK(n > 0);
        done += static_cast<size_t>(n);
    }
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    check(&tool_readPng, path);
    check(&tool_readPgm, path);
    check(&tool_readTiff, path);
    close(fd);
    return 0;
}

// Photographs for the benchmarks that compare with OpenCV: reading a PNG as
// 8-bit grey and Otsu's threshold (so each photograph is cut where it
// separates best).
#ifndef CBLOB_BENCH_PHOTO_IMAGES_HPP
#define CBLOB_BENCH_PHOTO_IMAGES_HPP

#include <benchmark/benchmark.h>
#include <png.h>

#include <cstring>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <initializer_list>
#include <string>
#include <vector>

#include "synthetic_images.hpp"

namespace cblobbench {

// Any image type with width, height and a byte vector of pixels.
template <class Image>
bool readPng(const std::string &path, Image &image) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) return false;
    png.format = PNG_FORMAT_GRAY;
    image.width = static_cast<int>(png.width);
    image.height = static_cast<int>(png.height);
    image.pixels.resize(PNG_IMAGE_SIZE(png));
    return png_image_finish_read(&png, nullptr, image.pixels.data(), 0, nullptr) != 0;
}

// The first grey value above Otsu's cut: pixels at or above it are objects.
inline int otsu(const GreyImage &image) {
    cv::Mat mat(image.height, image.width, CV_8UC1, const_cast<uint8_t *>(image.pixels.data()));
    cv::Mat out;
    return static_cast<int>(cv::threshold(mat, out, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU)) + 1;
}

// Adds each of `files` from the first of `dirs` that has it, cut at Otsu's
// threshold and named after the file; files found nowhere are left out.
inline void addPhotographs(std::vector<GreyImage> &out, std::initializer_list<const char *> files,
                           std::initializer_list<const char *> dirs) {
    for (const char *file : files) {
        for (const char *dir : dirs) {
            GreyImage image;
            image.name = file;
            if (!readPng(std::string(dir) + "/" + file, image)) continue;
            image.threshold = otsu(image);
            out.push_back(std::move(image));
            break;
        }
    }
}

// The peer of the labelling benchmarks: cv::threshold and
// cv::connectedComponentsWithStats (8-connected) on `threads` threads for
// every iteration; the component count goes to the "blobs" counter.
inline void openCvWithStats(benchmark::State &state, const GreyImage &image, int threads) {
    cv::setNumThreads(threads);
    cv::Mat mat(image.height, image.width, CV_8UC1, const_cast<uint8_t *>(image.pixels.data()));
    cv::Mat binary, labels, stats, centroids;
    int count = 0;
    for (auto _ : state) {
        cv::threshold(mat, binary, image.threshold - 1, 255, cv::THRESH_BINARY);
        count = cv::connectedComponentsWithStats(binary, labels, stats, centroids, 8, CV_32S);
        benchmark::DoNotOptimize(count);
    }
    state.counters["blobs"] = count - 1;
}

}  // namespace cblobbench

#endif

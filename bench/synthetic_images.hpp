// Synthetic 8-bit test scenes for the benchmarks: random noise at a given
// density and cell size, document-like text, and a machine-vision scene of
// parts with holes. Deterministic for a given seed.
#ifndef CBLOB_BENCH_SYNTHETIC_IMAGES_HPP
#define CBLOB_BENCH_SYNTHETIC_IMAGES_HPP

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace cblobbench {

struct GreyImage {
    std::string name;
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // rows packed
    int threshold = 128;          // a threshold that separates objects from background
};

// Square cells of `cell` pixels, each bright (200) with probability
// `density`, else dark (40).
inline GreyImage noiseImage(int width, int height, double density, int cell, uint32_t seed = 1) {
    GreyImage image{"noise", width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height), 128};
    std::mt19937 random(seed);
    std::bernoulli_distribution bright(density);
    const int cellsX = (width + cell - 1) / cell;
    std::vector<uint8_t> cellRow(static_cast<size_t>(cellsX));
    for (int y = 0; y < height; ++y) {
        if (y % cell == 0)
            for (auto &c : cellRow) c = bright(random) ? 200 : 40;
        for (int x = 0; x < width; ++x) image.pixels[static_cast<size_t>(y) * width + x] = cellRow[static_cast<size_t>(x / cell)];
    }
    return image;
}

namespace detail {
inline void fillDisc(GreyImage &image, double cx, double cy, double r, uint8_t value) {
    const int x0 = std::max(0, static_cast<int>(cx - r)), x1 = std::min(image.width - 1, static_cast<int>(cx + r) + 1);
    const int y0 = std::max(0, static_cast<int>(cy - r)), y1 = std::min(image.height - 1, static_cast<int>(cy + r) + 1);
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            if ((x + 0.5 - cx) * (x + 0.5 - cx) + (y + 0.5 - cy) * (y + 0.5 - cy) <= r * r)
                image.pixels[static_cast<size_t>(y) * image.width + x] = value;
}
inline void fillRect(GreyImage &image, int x0, int y0, int w, int h, uint8_t value) {
    for (int y = std::max(0, y0); y < std::min(image.height, y0 + h); ++y)
        for (int x = std::max(0, x0); x < std::min(image.width, x0 + w); ++x)
            image.pixels[static_cast<size_t>(y) * image.width + x] = value;
}
}  // namespace detail

// Dark glyphs on a light page: lines of characters, each made of a few
// strokes, some with closed loops (holes), spaced like printed text.
inline GreyImage textImage(int width, int height, uint32_t seed = 2) {
    GreyImage image{"text", width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height, 230), 128};
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> shape(0, 5);
    const int charW = 12, charH = 18, lineH = 28, margin = 20;
    for (int top = margin; top + charH < height - margin; top += lineH) {
        for (int left = margin; left + charW < width - margin; left += charW + 3) {
            if (shape(random) == 0) {  // a space between words
                left += charW;
                continue;
            }
            switch (shape(random)) {
                case 0:  // 'o': a ring, one hole
                    detail::fillDisc(image, left + 6, top + 11, 6, 20);
                    detail::fillDisc(image, left + 6, top + 11, 3.5, 230);
                    break;
                case 1:  // 'l': a stem
                    detail::fillRect(image, left + 4, top, 3, charH, 20);
                    break;
                case 2:  // 'b': stem and bowl
                    detail::fillRect(image, left, top, 3, charH, 20);
                    detail::fillDisc(image, left + 6, top + 12, 5.5, 20);
                    detail::fillDisc(image, left + 6, top + 12, 2.5, 230);
                    break;
                case 3:  // 'x': two diagonals
                    for (int i = 0; i < 12; ++i) {
                        detail::fillRect(image, left + i, top + 6 + i, 2, 1, 20);
                        detail::fillRect(image, left + 11 - i, top + 6 + i, 2, 1, 20);
                    }
                    break;
                case 4:  // 'e': ring with a bar and an opening
                    detail::fillDisc(image, left + 6, top + 11, 6, 20);
                    detail::fillDisc(image, left + 6, top + 11, 3.5, 230);
                    detail::fillRect(image, left + 2, top + 10, 9, 2, 20);
                    detail::fillRect(image, left + 8, top + 12, 5, 3, 230);
                    break;
                default:  // 'i': stem and dot
                    detail::fillRect(image, left + 5, top + 7, 3, 11, 20);
                    detail::fillRect(image, left + 5, top + 2, 3, 3, 20);
                    break;
            }
        }
    }
    return image;
}

// A machine-vision scene: a few hundred bright parts (washers and plates
// with one to three holes) on a dark, slightly uneven conveyor.
inline GreyImage partsImage(int width, int height, int parts = 300, uint32_t seed = 3) {
    GreyImage image{"parts", width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height), 120};
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> grain(0, 12);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.pixels[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(30 + (x + y) * 20 / (width + height) + grain(random));
    const double scale = std::sqrt(static_cast<double>(width) * height / parts);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int i = 0; i < parts; ++i) {
        const double cx = unit(random) * width, cy = unit(random) * height;
        const double r = scale * (0.15 + 0.2 * unit(random));
        if (i % 2 == 0) {  // a washer
            detail::fillDisc(image, cx, cy, r, 210);
            detail::fillDisc(image, cx, cy, r * 0.4, 35);
        } else {  // a plate with holes
            const int w = static_cast<int>(r * 2), h = static_cast<int>(r * 1.4);
            detail::fillRect(image, static_cast<int>(cx) - w / 2, static_cast<int>(cy) - h / 2, w, h, 200);
            const int holes = 1 + i % 3;
            for (int k = 0; k < holes; ++k)
                detail::fillDisc(image, cx - w / 2 + (k + 1) * w / (holes + 1.0), cy, r * 0.18, 35);
        }
    }
    return image;
}

// Adds the text page and the parts image of the given size, named
// "text_<suffix>" and "parts_<suffix>".
inline void addTextAndParts(std::vector<GreyImage> &out, int width, int height, const std::string &suffix) {
    GreyImage text = textImage(width, height);
    text.name = "text_" + suffix;
    out.push_back(std::move(text));
    GreyImage parts = partsImage(width, height);
    parts.name = "parts_" + suffix;
    out.push_back(std::move(parts));
}

}  // namespace cblobbench

#endif

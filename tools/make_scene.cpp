// make_scene: writes the bundled machine-vision sample scene, a few hundred
// parts with holes on a conveyor, as 8-bit and 16-bit grey PNG files.
//
//   make_scene OUT8.png OUT16.png
#include <cstdio>
#include <vector>

#include "png_io.h"
#include "synthetic_images.hpp"

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_scene OUT8.png OUT16.png\n");
        return 2;
    }
    cblobbench::GreyImage scene = cblobbench::partsImage(640, 480, 60);
    tool_greyImage image8{scene.width, scene.height, 8, scene.width, scene.pixels.data()};
    // The 16-bit scene spreads the same grey levels over the 16-bit range.
    std::vector<uint16_t> wide(scene.pixels.size());
    for (size_t i = 0; i < wide.size(); ++i) wide[i] = static_cast<uint16_t>(scene.pixels[i] * 257);
    tool_greyImage image16{scene.width, scene.height, 16, scene.width * 2, reinterpret_cast<uint8_t *>(wide.data())};
    char error[512];
    if (tool_writePngGrey(argv[1], &image8, error, sizeof error) != 0 ||
        tool_writePngGrey(argv[2], &image16, error, sizeof error) != 0) {
        std::fprintf(stderr, "make_scene: %s\n", error);
        return 1;
    }
    return 0;
}

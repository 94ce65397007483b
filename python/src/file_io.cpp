// Image files for `python -m cblob`: the command-line tool's PNG, PGM and
// TIFF readers and its PNG writer, with NumPy arrays on the Python side.
#include <cstring>

#include "cblob_py.hpp"

#if CBLOB_PY_FILE_IO
#include "pgm_io.h"
#include "png_io.h"
#include "tiff_io.h"
#endif

namespace cblob_py {

#if CBLOB_PY_FILE_IO
namespace {

using Reader = int (*)(const char *, tool_greyImage *, char *, int);

// Reads with `read` into a new array (uint8 or uint16); OSError with the
// reader's message on failure.
py::array readWith(Reader read, const std::string &path) {
    tool_greyImage image{};
    char error[512] = "";
    int rc;
    {
        py::gil_scoped_release release;
        rc = read(path.c_str(), &image, error, sizeof error);
    }
    if (rc != 0) {
        PyErr_SetString(PyExc_OSError, error);
        throw py::error_already_set();
    }
    struct Free {
        tool_greyImage *image;
        ~Free() { tool_greyImage_free(image); }
    } release{&image};
    const py::ssize_t h = image.height, w = image.width;
    py::array out = image.bitsPerPel == 8 ? py::array(py::dtype::of<uint8_t>(), {h, w})
                                          : py::array(py::dtype::of<uint16_t>(), {h, w});
    const size_t rowBytes = static_cast<size_t>(w) * (image.bitsPerPel / 8);
    auto *dst = static_cast<uint8_t *>(out.mutable_data());
    for (py::ssize_t y = 0; y < h; ++y)
        std::memcpy(dst + y * rowBytes, image.pixels + y * static_cast<size_t>(image.strideBytes), rowBytes);
    return out;
}

void writePngRgb(const std::string &path, const py::array_t<uint8_t, py::array::c_style | py::array::forcecast> &rgb) {
    if (rgb.ndim() != 3 || rgb.shape(2) != 3) throw py::value_error("rgb must have shape (height, width, 3)");
    char error[512] = "";
    if (tool_writePngRgb(path.c_str(), rgb.data(), static_cast<int32_t>(rgb.shape(1)), static_cast<int32_t>(rgb.shape(0)),
                         error, sizeof error) != 0) {
        PyErr_SetString(PyExc_OSError, error);
        throw py::error_already_set();
    }
}

}  // namespace
#endif

void registerFileIo(py::module_ &m) {
#if CBLOB_PY_FILE_IO
    m.def("_read_png", [](const std::string &path) { return readWith(tool_readPng, path); });
    m.def("_read_pgm", [](const std::string &path) { return readWith(tool_readPgm, path); });
    m.def("_read_tiff", [](const std::string &path) { return readWith(tool_readTiff, path); });
    m.def("_write_png_rgb", &writePngRgb);
    m.attr("_has_file_io") = true;
#else
    m.attr("_has_file_io") = false;
#endif
}

}  // namespace cblob_py

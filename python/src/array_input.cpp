// NumPy arrays as library images, without copying the pixels.
#include <climits>
#include <cstdint>
#include <sstream>

#include "cblob_py.hpp"

namespace cblob_py {

namespace {

std::string shapeText(const py::array &a) {
    std::ostringstream out;
    out << "(";
    for (py::ssize_t i = 0; i < a.ndim(); ++i) out << (i ? ", " : "") << a.shape(i);
    out << (a.ndim() == 1 ? ",)" : ")");
    return out.str();
}

std::string stridesText(const py::array &a) {
    std::ostringstream out;
    out << "(";
    for (py::ssize_t i = 0; i < a.ndim(); ++i) out << (i ? ", " : "") << a.strides(i);
    out << ")";
    return out.str();
}

[[noreturn]] void refuse(const char *what, const std::string &why) {
    throw py::value_error(std::string(what) + " " + why);
}

}  // namespace

int32_t bindArray(const py::handle &object, const char *what, bool maskOnly, cimg_image *image) {
    if (!py::isinstance<py::array>(object))
        throw py::type_error(std::string(what) + " must be a NumPy array, not " +
                             std::string(py::str(py::type::of(object).attr("__name__"))));
    const py::array a = py::reinterpret_borrow<py::array>(object);
    const py::dtype dt = a.dtype();
    const char kind = dt.kind();
    const bool nativeOrder = dt.attr("isnative").cast<bool>();
    int32_t bits = 0;
    if (kind == 'u' && dt.itemsize() == 1) bits = 8;
    if (kind == 'b' && dt.itemsize() == 1 && maskOnly) bits = 8;
    if (kind == 'u' && dt.itemsize() == 2 && nativeOrder && !maskOnly) bits = 16;
    if (bits == 0)
        refuse(what, std::string("must have dtype ") + (maskOnly ? "uint8 or bool" : "uint8 or uint16") +
                         " (native byte order), not " + std::string(py::str(static_cast<const py::handle &>(dt))));
    if (a.ndim() != 2)
        refuse(what, "must be a 2-D array (height, width), not " + std::to_string(a.ndim()) + "-D of shape " +
                         shapeText(a) + (a.ndim() == 3 ? "; convert colour images to grey first" : ""));
    const py::ssize_t height = a.shape(0), width = a.shape(1);
    if (height == 0 || width == 0) refuse(what, "is empty (shape " + shapeText(a) + ")");
    const py::ssize_t item = dt.itemsize();
    const py::ssize_t rowStride = a.strides(0), pelStride = a.strides(1);
    if (pelStride != item || rowStride < width * item)
        refuse(what, "must have the pixels of each row adjacent and rows in increasing memory order "
                     "(a C-contiguous array or a row slice of one); its strides are " +
                         stridesText(a) + ". np.ascontiguousarray() makes such a copy");
    if (height > INT32_MAX || width > INT32_MAX || rowStride > INT32_MAX)
        refuse(what, "is too large: sizes and the row stride must fit 32 bits");
    if (bits == 16 && (rowStride % 2 != 0 || reinterpret_cast<std::uintptr_t>(a.data()) % 2 != 0))
        refuse(what, "must be aligned to its 2-byte pixels");
    // The library only reads the pixels; read-only arrays are fine.
    check(cimg_image_initFromBuffer(image, const_cast<void *>(a.data()), bits, static_cast<int32_t>(width),
                                    static_cast<int32_t>(height), static_cast<int32_t>(rowStride), 0, 0),
          what);
    return bits;
}

}  // namespace cblob_py

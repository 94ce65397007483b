// The extension module cblob._cblob. The package cblob (cblob/__init__.py)
// re-exports what users call and adds the parts written in Python.
#include "cblob_py.hpp"
#include "cli_usage.h"

namespace cblob_py {
namespace {

py::list measureNames() {
    int32_t count = 0;
    const tool_measureName *names = tool_measureNames(&count);
    py::list out;
    for (int32_t i = 0; i < count; ++i)
        out.append(py::make_tuple(names[i].code, names[i].name, names[i].meaning, names[i].isAngle != 0));
    return out;
}

}  // namespace
}  // namespace cblob_py

PYBIND11_MODULE(_cblob, m) {
    using namespace cblob_py;
    m.doc() = "The cblob blob-analysis library (extension module; use the package cblob).";
    m.attr("__version__") = CBLOB_VERSION;
    registerErrors(m);
    installAttentionCallback();
    registerResult(m);
    registerAnalyze(m);
    registerFileIo(m);
    m.def("_measure_names", &measureNames, "(code, name, meaning, is_angle) of every measure, in code order.");
    m.def("_cli_usage", []() { return std::string(tool_cliUsage()); },
          "The cblob command's help text (python3 -m cblob --help prints it).");
    m.def("status_name", [](int32_t status) { return std::string(cblob_statusName(status)); }, py::arg("status"),
          "The name of a library status code.");
    m.def("_live_blocks", &csys_memory_getLiveBlockCount,
          "Blocks the library's memory service holds now (for leak checks).");
    m.def(
        "set_thread_count",
        [](int32_t n) { check(csys_job_setThreadCount(n), "set_thread_count"); }, py::arg("count"),
        "Sets how many threads later runs may use to segment large images (process-wide).");
    m.def("get_thread_count", []() {
        int32_t n = 0;
        check(csys_job_getThreadCount(&n), "get_thread_count");
        return n;
    });
}

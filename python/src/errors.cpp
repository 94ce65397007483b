// Library statuses as Python exceptions.
#include <cstdio>

#include "cblob_py.hpp"

namespace cblob_py {

namespace {

// The exception types live as long as the interpreter; they are kept as
// borrowed handles with an extra reference so that no destructor runs at
// process exit.
py::handle g_error;
py::handle g_cancelled;

// The source line of the last precondition report on this thread.
thread_local int32_t t_assertLine = 0;

void assertHandler(int32_t line, void *) { t_assertLine = line; }

py::handle newException(const char *name, const char *doc, PyObject *base) {
    PyObject *type = PyErr_NewExceptionWithDoc(name, doc, base, nullptr);
    if (!type) throw py::error_already_set();
    return py::handle(type);
}

}  // namespace

void registerErrors(py::module_ &m) {
    g_error = newException("cblob.Error",
                           "A cblob library call failed. `status` is the library's status code (a negative int32), "
                           "`status_name` its name (for example 'cblob_err_badThreshRange').",
                           PyExc_Exception);
    g_cancelled = newException("cblob.Cancelled",
                               "A run was stopped by its `cancel` callback or event (status csys_err_stopRequested).",
                               g_error.ptr());
    m.attr("Error") = g_error;
    m.attr("Cancelled") = g_cancelled;
    csys_assert_setHandler(assertHandler, nullptr);
}

void raiseStatus(int32_t status, const std::string &context) {
    const char *name = cblob_statusName(status);
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(static_cast<uint32_t>(status)));
    std::string message = context + ": " + name + " (" + code + ")";
    if (status == csys_err_assertFailed && t_assertLine != 0) {
        message += ", precondition at library line " + std::to_string(t_assertLine);
        t_assertLine = 0;
    }
    const py::handle type = status == csys_err_stopRequested ? g_cancelled : g_error;
    py::object exc = type(message);
    exc.attr("status") = status;
    exc.attr("status_name") = name;
    PyErr_SetObject(type.ptr(), exc.ptr());
    throw py::error_already_set();
}

}  // namespace cblob_py

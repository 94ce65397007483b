// Cancellation of runs from Python.
//
// The library polls one process-wide attention check, also from worker
// threads. The module installs a callback that looks at the state of the
// calling thread only: a run is stopped by the thread that made it at its
// next poll, while worker threads (which have no state) go on with their
// band and finish it.
#include <chrono>

#include "cblob_py.hpp"

namespace cblob_py {

namespace {

using Clock = std::chrono::steady_clock;

// Taking the GIL can wait for another Python thread's switch interval, so
// the Python side is asked at most this often.
constexpr std::chrono::milliseconds kAskInterval(2);

}  // namespace

struct CancelScope::State {
    py::object ask;                  // a callable returning true to stop; none when no cancel was given
    Clock::time_point next = Clock::time_point::min();
    bool stop = false;
    PyObject *errType = nullptr;     // an exception the callable raised (owned references)
    PyObject *errValue = nullptr;
    PyObject *errTrace = nullptr;
};

namespace {

thread_local CancelScope::State *t_state = nullptr;

// Asks the callable under the GIL; an exception stops the run and is kept
// for the caller.
bool askPython(CancelScope::State *s) {
    py::gil_scoped_acquire gil;
    try {
        const int truth = PyObject_IsTrue(s->ask().ptr());
        if (truth < 0) throw py::error_already_set();
        return truth != 0;
    } catch (py::error_already_set &e) {
        e.restore();
        PyErr_Fetch(&s->errType, &s->errValue, &s->errTrace);
    } catch (...) {
        PyErr_SetString(PyExc_RuntimeError, "the cancel callback failed");
        PyErr_Fetch(&s->errType, &s->errValue, &s->errTrace);
    }
    return true;
}

int32_t attention(void *) {
    CancelScope::State *s = t_state;
    if (!s || !s->ask) return 0;
    if (s->stop) return csys_err_stopRequested;
    const Clock::time_point now = Clock::now();
    if (now < s->next) return 0;
    s->next = now + kAskInterval;
    s->stop = askPython(s);
    return s->stop ? csys_err_stopRequested : 0;
}

}  // namespace

void installAttentionCallback() { csys_attention_setCallback(attention, nullptr); }

CancelScope::CancelScope(const py::object &cancel) : state_(new State) {
    if (cancel.is_none()) return;
    if (py::hasattr(cancel, "is_set"))
        state_->ask = cancel.attr("is_set");  // threading.Event and alike
    else if (PyCallable_Check(cancel.ptr()))
        state_->ask = cancel;
    else
        throw py::type_error("cancel must be a callable returning True to stop, or a threading.Event");
}

CancelScope::~CancelScope() {
    Py_XDECREF(state_->errType);
    Py_XDECREF(state_->errValue);
    Py_XDECREF(state_->errTrace);
}

void CancelScope::enter() { t_state = state_.get(); }

void CancelScope::leave() { t_state = nullptr; }

void CancelScope::raiseCallbackError() {
    if (!state_->errType) return;
    PyErr_Restore(state_->errType, state_->errValue, state_->errTrace);
    state_->errType = state_->errValue = state_->errTrace = nullptr;
    throw py::error_already_set();
}

}  // namespace cblob_py

// Long work seen from Python while it runs with the GIL released: signals
// (Ctrl-C) and a progress callable, asked a few times a second with the GIL
// taken for the moment.
#include <utility>

#include "binding.h"

BindingPoll::BindingPoll(py::object progress) : progress_(std::move(progress)) {}

BindingPoll::~BindingPoll()
{
    // Held with the GIL (the object lives in a scope that holds it).
    Py_XDECREF(type_);
    Py_XDECREF(value_);
    Py_XDECREF(trace_);
}

bool BindingPoll::Check(uint64_t done, uint64_t total)
{
    if (stopped_) {
        return false;
    }
    const py::gil_scoped_acquire acquire;
    if (PyErr_CheckSignals() != 0) {
        PyErr_Fetch(&type_, &value_, &trace_);
        stopped_ = true;
        return false;
    }
    if (!progress_.is_none()) {
        try {
            progress_(done, total);
        } catch (py::error_already_set& e) {
            e.restore();
            PyErr_Fetch(&type_, &value_, &trace_);
            stopped_ = true;
            return false;
        }
    }
    return true;
}

ProgressPoll BindingPoll::Function()
{
    return [this](uint64_t done, uint64_t total) { return Check(done, total); };
}

void BindingPoll::RaiseIfStopped()
{
    if (!stopped_) {
        return;
    }
    if (type_ == nullptr) {
        BindingRaise(PyExc_RuntimeError, "the work was stopped");
    }
    PyErr_Restore(type_, value_, trace_);
    type_ = nullptr;
    value_ = nullptr;
    trace_ = nullptr;
    throw py::error_already_set();
}

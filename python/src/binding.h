// What the parts of the Python module _tumblewatch share: the checked
// views of its arguments (sample arrays, configurations) and the raising of
// Python exceptions with the command line's messages.
#ifndef PYTHON_BINDING_H
#define PYTHON_BINDING_H

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "progress.h"
#include "sweep_plan.h"
#include "tumblewatch.h"

namespace py = pybind11;

// Samples of a numpy array, viewed in place (never copied).
struct SamplesView {
    const ImuSample* data;  // into the array's own buffer; null when count is 0
    std::size_t count;      // rows
};

// Views a C-contiguous, aligned int16 array of shape (N, 6) in the native
// byte order as N samples. The caller keeps the array alive while it uses
// the view. Raises TypeError for anything but a numpy array of int16 and
// ValueError for another shape, a non-contiguous or unaligned array; the
// message names argument and says what was expected.
SamplesView BindingSamplesOf(const py::handle& array, const char* argument);

// The configuration of 35 values (a tuple of ints, tumblewatch.Config's
// internal form), or the defaults for None. Raises TypeError for anything
// else, ValueError for a value outside int32 or a configuration that the
// detector refuses.
TumblewatchConfig BindingConfigOf(const py::handle& values);

// The defaults with settings ("NAME=VALUE", as the command line's --set)
// applied in order; the result must be one that the detector accepts.
// Raises KeyError for an unknown name and ValueError for a value outside
// int32, a name given twice or a configuration that the detector refuses,
// with the command line's message.
TumblewatchConfig BindingConfigBuild(const std::vector<std::string>& settings);

// The configuration as such a tuple.
py::tuple BindingConfigValues(const TumblewatchConfig& cfg);

// Raises the Python exception type with message (throws; pybind11 passes
// the exception on to Python).
[[noreturn]] void BindingRaise(PyObject* type, const std::string& message);

// Raises an OSError subclass (FileNotFoundError, ...) with errno, the
// reason and the file name, as Python's own file functions do.
[[noreturn]] void BindingRaiseFile(PyObject* type, int error, const std::string& reason, const std::string& path);

// A sweep's arguments as the package's Python code passes them (checked
// there): paths, labels ("" for none), the configuration (as for
// BindingConfigOf), merge (s), threads, grids, ranges, random, seed,
// max_configs, folds, objective ("" for the default), format ("csv" or
// "jsonl") and further options as a dict (BindingSweepExtras).
using SweepArguments =
    std::tuple<std::vector<std::string>, std::string, py::object, double, int, std::vector<std::string>,
               std::vector<std::string>, int64_t, uint64_t, int64_t, int, std::string, std::string, py::dict>;

// Applies a sweep's further options to request: "more_labels" (a list of
// further manifests), "folds_by" (a manifest column), "before" and "after"
// (the fall window's margins, s); a missing key keeps the default. Raises
// TypeError for a value of the wrong type.
void BindingSweepExtras(const py::dict& extras, SweepRequest* request);

// The request of those arguments, as the command line's options would make
// it (the configuration as --set values). Raises ValueError for threads
// below 1 or a negative merge.
SweepRequest BindingSweepRequest(const SweepArguments& arguments);

// Worker threads a call may ask for, as the command line's --jobs.
constexpr int kBindingMostThreads = 1024;

// Raises ValueError unless threads is 1 .. kBindingMostThreads.
void BindingCheckThreads(int threads);

// Polls work that runs with the GIL released: Check (as a ProgressPoll,
// from the thread that waits for the work, about four times a second)
// takes the GIL for the moment, runs Python's signal handlers (Ctrl-C
// raises KeyboardInterrupt) and calls progress(done, total) unless progress
// is None. An exception there stops the work and is kept; RaiseIfStopped,
// with the GIL held again after the work, raises it. Lives in a scope that
// holds the GIL, and outlives the work.
class BindingPoll {
public:
    explicit BindingPoll(py::object progress);
    ~BindingPoll();
    BindingPoll(const BindingPoll&) = delete;
    BindingPoll& operator=(const BindingPoll&) = delete;

    // False once the work is to stop.
    bool Check(uint64_t done, uint64_t total);
    // Check as a ProgressPoll; keeps a pointer to this object.
    ProgressPoll Function();
    // Raises the exception that stopped the work, if any (the GIL held).
    void RaiseIfStopped();
    bool Stopped() const { return stopped_; }

private:
    py::object progress_;
    bool stopped_ = false;
    PyObject* type_ = nullptr;  // the exception kept, owned
    PyObject* value_ = nullptr;
    PyObject* trace_ = nullptr;
};

// The parts of the module.
void BindConfig(py::module_& m);
void BindDetector(py::module_& m);
void BindWorkbench(py::module_& m);
void BindCluster(py::module_& m);
void BindScan(py::module_& m);

#endif

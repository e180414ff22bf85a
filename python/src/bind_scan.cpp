// Scans and explanations from Python: the documents scan --json and
// explain --json write for the same inputs, computed with the GIL
// released.
#include <pybind11/stl.h>

#include <string>
#include <vector>

#include "binding.h"
#include "explain.h"
#include "load_inputs.h"
#include "scan_json.h"

namespace {

// What scan and explain take: the inputs as eval's, the parameters
// (empty: all that are read), "NAME=STEP" steps and the values a long
// range is scanned in.
struct ScanCall {
    std::vector<std::string> paths;
    std::string labels;
    double merge;
    int threads;
    std::vector<std::string> params;
    std::vector<std::string> steps;
    int maxValues;
};

// The JSON document of scan --json (explain false) or explain --json.
std::string Run(const ScanCall& call, const py::handle& config, bool explain)
{
    if (call.threads < 1) {
        BindingRaise(PyExc_ValueError, "threads: expected at least 1, got " + std::to_string(call.threads));
    }
    if (!(call.merge >= 0.0)) {
        BindingRaise(PyExc_ValueError, "merge: expected a number of seconds, at least 0");
    }
    InputOptions options;
    options.paths = call.paths;
    options.labels = call.labels;
    options.config = ConfigSource{"", ConfigChanges(BindingConfigOf(config))};
    options.threads = call.threads;
    options.mergeSeconds = call.merge;
    std::string error;
    std::string json;
    {
        py::gil_scoped_release release;
        TumblewatchConfig base{};
        Manifest manifest;
        InputSet inputs{};
        SweepData data{};
        ScanPlan plan{};
        if (InputsLoad(options, &base, &manifest, &inputs, &error) &&
            ScanPlanMake(call.params, call.steps, call.maxValues, base, 0, &plan, &error) &&
            ScanLoad(inputs, call.labels.empty() ? nullptr : &manifest, call.threads, explain ? "explain" : "scan",
                     &data, &error) &&
            ScanPlanMake(call.params, call.steps, call.maxValues, base, ScanLongest(data), &plan, &error)) {
            Progress progress;
            ProgressStart(&progress, "recordings", data.recordings.size(), false);
            const ScanSource source{call.paths, call.labels, call.merge};
            if (explain) {
                Explanation e;
                ExplainRun(data, plan, call.merge, call.threads, &progress, &e);
                json = ExplainJson(source, data, e).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
            } else {
                ScanTable table;
                ScanRun(data, plan, call.merge, call.threads, &progress, &table);
                json = ScanJson(source, data, plan, ScanResults(data, plan, table))
                           .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
            }
        }
    }
    if (json.empty()) {
        BindingRaise(PyExc_ValueError, error);
    }
    return json;
}

}  // namespace

void BindScan(py::module_& m)
{
    const auto bind = [&m](const char* name, bool explain, const char* doc) {
        m.def(
            name,
            [explain](const std::vector<std::string>& paths, const std::string& labels, const py::handle& config,
                      double merge, int threads, const std::vector<std::string>& params,
                      const std::vector<std::string>& steps, int maxValues) {
                return Run(ScanCall{paths, labels, merge, threads, params, steps, maxValues}, config, explain);
            },
            py::arg("paths"), py::arg("labels"), py::arg("config"), py::arg("merge"), py::arg("threads"),
            py::arg("params"), py::arg("steps"), py::arg("max_values"), doc);
    };
    bind("scan", false, "The JSON document of tumblewatch scan --json for the same inputs.");
    bind("explain", true, "The JSON document of tumblewatch explain --json for the same inputs.");
}

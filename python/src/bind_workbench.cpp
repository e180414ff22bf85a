// The workbench from Python: an evaluation as the document eval --json
// writes, and a sweep as the rows sweep --out writes with its front, best
// configuration and nested selection. Both run with the GIL released.
#include <fmt/core.h>
#include <pybind11/stl.h>

#include <string>
#include <utility>
#include <vector>

#include "binding.h"
#include "breakdown.h"
#include "evaluation.h"
#include "report.h"
#include "sweep_session.h"

namespace {

// Recordings, labels, configuration, event gap and threads as the command
// line's options give them.
InputOptions InputsOf(const std::vector<std::string>& paths, const std::string& labels, const TumblewatchConfig& cfg,
                      double merge, int threads)
{
    BindingCheckThreads(threads);
    if (!(merge >= 0.0)) {
        BindingRaise(PyExc_ValueError, "merge: expected a number of seconds, at least 0");
    }
    InputOptions options;
    options.paths = paths;
    options.labels = labels;
    options.config = ConfigSource{"", ConfigChanges(cfg)};
    options.threads = threads;
    options.mergeSeconds = merge;
    return options;
}

// The JSON document of eval --json for the same inputs, with further
// manifests and the fall window's margins.
std::string Evaluate(const std::vector<std::string>& paths, const std::string& labels, const py::handle& config,
                     double merge, int threads, const std::vector<std::string>& moreLabels, double before, double after,
                     double confidence, int bootstrap, uint64_t seed, const py::object& progress)
{
    if (!IntervalConfidenceValid(confidence)) {
        BindingRaise(PyExc_ValueError,
                     fmt::format("confidence: expected a level between 0 and 1, such as 0.95, got {}", confidence));
    }
    if (bootstrap < 0 || bootstrap > kIntervalMaxResamples) {
        BindingRaise(PyExc_ValueError, fmt::format("bootstrap: expected 0 (none) to {} resamples, got {}",
                                                   kIntervalMaxResamples, bootstrap));
    }
    InputOptions options = InputsOf(paths, labels, BindingConfigOf(config), merge, threads);
    options.moreLabels = moreLabels;
    options.window = FallWindowSettings{before, after};
    std::string error;
    std::string json;
    BindingPoll poll(progress);
    {
        py::gil_scoped_release release;
        EvalSettings settings{};
        Manifest manifest;
        InputSet inputs{};
        if (InputsLoad(options, &settings.config, &manifest, &inputs, &error)) {
            settings.mergeSeconds = merge;
            settings.threads = threads;
            settings.progress = false;
            settings.window = options.window;
            settings.poll = poll.Function();
            Evaluation evaluation{};
            EvalRun(inputs, labels.empty() ? nullptr : &manifest, settings, &evaluation);
            if (poll.Stopped()) {
                error = "stopped";
            }
            const Metrics metrics = EvalMetrics(evaluation);
            const Breakdowns breakdowns = BreakdownsOf(evaluation);
            const EvalIntervals intervals =
                EvalIntervalsOf(evaluation, metrics, breakdowns, IntervalSettings{confidence, bootstrap, seed});
            const EvalReport report{&evaluation, &metrics, &breakdowns, &settings.config, paths,      labels,
                                    merge,       threads,  {},          &intervals,       moreLabels, options.window};
            if (!poll.Stopped()) {
                json = ReportJson(report);
            }
        }
    }
    poll.RaiseIfStopped();
    if (json.empty()) {
        BindingRaise(PyExc_ValueError, error);
    }
    return json;
}

// What a sweep gives back before Python turns it into frames.
struct SweepOutcome {
    std::string rows;     // the output file's text: its header and the rows, CSV
    std::string baseRow;  // the base configuration's row (number -1)
    std::vector<int64_t> front;
    bool bestFound = false;
    int64_t best = -1;
    TumblewatchConfig bestConfig{};
    std::vector<std::pair<int64_t, std::string>> refused;
    std::vector<std::string> failures;
    std::string objective;
    double seconds = 0.0;
    std::string nested;  // the summary's "nested" as JSON text; empty without folds
};

py::dict Sweep(const SweepArguments& arguments, const py::object& progress)
{
    const SweepRequest request = BindingSweepRequest(arguments);
    SweepOutcome outcome;
    std::string error;
    BindingPoll poll(progress);
    {
        py::gil_scoped_release release;
        SweepPlan plan{};
        SweepSession session{};
        const SweepSessionOptions options{true, false};
        if (SweepPlanMake(request, &plan, &error) &&
            SweepSessionStart(&plan, request, options, &session, &error, [&](uint64_t, uint64_t) {
                // While the recordings load, no configuration is done yet.
                return poll.Check(0, static_cast<uint64_t>(plan.count));
            })) {
            outcome.failures = session.data.failures;
            for (const std::string& empty : session.data.empty) {
                outcome.failures.push_back(empty + ": no samples; left out");
            }
            outcome.objective = plan.objective.text;
            outcome.baseRow = SweepRowText(plan.layout, plan.varied, session.summary.base);
            outcome.rows = SweepHeaderText(plan.layout);
            SweepSessionRun(
                plan, request, 0, options, &session,
                [&](const SweepRow& row) {
                    if (row.refused) {
                        outcome.refused.emplace_back(row.index, row.refusal);
                    } else {
                        outcome.rows += SweepRowText(plan.layout, plan.varied, row);
                    }
                    return true;
                },
                poll.Function());
            if (poll.Stopped()) {
                error = "stopped";
            }
            outcome.seconds = session.seconds;
            const SweepSummary& summary = session.summary;
            for (const SweepPoint& p : summary.front.points) {
                outcome.front.push_back(p.index);
            }
            outcome.bestFound = summary.best.found;
            if (summary.best.found) {
                outcome.best = summary.best.point.index;
                outcome.bestConfig = SweepConfig(plan.space, plan.base, summary.best.point.index);
            }
            if (!summary.nested.empty()) {
                outcome.nested = SweepSummaryJson(summary, plan.layout, plan.count)["nested"].dump(
                    -1, ' ', false, nlohmann::json::error_handler_t::replace);
            }
        }
    }
    poll.RaiseIfStopped();
    if (!error.empty()) {
        BindingRaise(PyExc_ValueError, error);
    }
    py::dict result;
    result["rows"] = outcome.rows;
    result["base_row"] = outcome.baseRow;
    result["front"] = outcome.front;
    result["best"] = outcome.bestFound ? py::object(py::int_(outcome.best)) : py::object(py::none());
    result["best_config"] =
        outcome.bestFound ? py::object(BindingConfigValues(outcome.bestConfig)) : py::object(py::none());
    result["refused"] = outcome.refused;
    result["failures"] = outcome.failures;
    result["objective"] = outcome.objective;
    result["seconds"] = outcome.seconds;
    // The nested selection as the JSON text of --summary's "nested".
    result["nested"] = outcome.nested.empty() ? py::object(py::none()) : py::object(py::str(outcome.nested));
    return result;
}

}  // namespace

SweepRequest BindingSweepRequest(const SweepArguments& arguments)
{
    const auto& [paths, labels, config, merge, threads, grids, ranges, random, seed, maxConfigs, folds, objective,
                 format, extras] = arguments;
    SweepRequest request;
    request.inputs = InputsOf(paths, labels, BindingConfigOf(config), merge, threads);
    request.grids = grids;
    request.ranges = ranges;
    request.random = random;
    request.seed = seed;
    request.maxConfigs = maxConfigs;
    request.folds = folds;
    request.objective = objective;
    request.format = format;
    BindingSweepExtras(extras, &request);
    return request;
}

void BindingSweepExtras(const py::dict& extras, SweepRequest* request)
{
    try {
        if (extras.contains("more_labels")) {
            request->inputs.moreLabels = extras["more_labels"].cast<std::vector<std::string>>();
        }
        if (extras.contains("folds_by")) {
            request->foldsBy = extras["folds_by"].cast<std::string>();
        }
        if (extras.contains("before")) {
            request->inputs.window.beforeSeconds = extras["before"].cast<double>();
        }
        if (extras.contains("after")) {
            request->inputs.window.afterSeconds = extras["after"].cast<double>();
        }
    } catch (const py::cast_error&) {
        BindingRaise(PyExc_TypeError,
                     "sweep options: more_labels must be a list of str, folds_by a str, before "
                     "and after numbers");
    }
}

void BindingCheckThreads(int threads)
{
    if (threads < 1 || threads > kBindingMostThreads) {
        BindingRaise(PyExc_ValueError, "threads: expected 1 to " + std::to_string(kBindingMostThreads) + ", got " +
                                           std::to_string(threads));
    }
}

void BindWorkbench(py::module_& m)
{
    m.def("hardware_threads", &EvalHardwareThreads, "The default number of worker threads.");
    m.def("evaluate", &Evaluate, py::arg("paths"), py::arg("labels"), py::arg("config"), py::arg("merge"),
          py::arg("threads"), py::arg("more_labels") = std::vector<std::string>{},
          py::arg("before") = kDefaultFallBefore, py::arg("after") = kDefaultFallAfter,
          py::arg("confidence") = kIntervalDefaultConfidence, py::arg("bootstrap") = 0, py::arg("seed") = 1,
          py::arg("progress") = py::none(),
          "The evaluation as the JSON document of eval --json; progress(done, total) is called while it runs "
          "(unless None), and Ctrl-C stops it.");
    m.def("sweep", &Sweep, py::arg("arguments"), py::arg("progress") = py::none(),
          "The rows of sweep --out (CSV text), the base row, the front, the best configuration and the nested "
          "selection (JSON text of --summary's nested, or None without folds).");
}

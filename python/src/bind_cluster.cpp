// The sweep on a cluster, as the package's cluster code drives it: on the
// client, the plan checked before anything is sent and the resumption of an
// output file; on each worker, the recordings loaded once, then chunks of
// configurations (rows exactly as sweep --out writes them), single
// configurations of a search, and the summary of finished rows. Every loop
// runs with the GIL released.
#include <fmt/core.h>
#include <pybind11/stl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "binding.h"
#include "html_reports.h"
#include "params.h"
#include "sweep_session.h"
#include "sweep_summary_text.h"

namespace {

// What identifies a plan apart from the recordings' content: the layout
// of its rows, its description and each recording's name, format and
// labels, in order. The client and every worker must agree on it.
std::string Fingerprint(const SweepPlan& plan)
{
    std::string text = fmt::format("{} {} {} {}|", plan.layout.format == SweepFormat::Csv ? "csv" : "jsonl",
                                   plan.layout.folds, plan.count, plan.layout.description);
    for (const std::string& v : plan.layout.varied) {
        text += v + " ";
    }
    for (std::size_t i = 0; i < plan.inputs.recordings.size(); ++i) {
        const InputRecording& in = plan.inputs.recordings[i];
        const RecordingLabels& l = plan.labels[i];
        text +=
            fmt::format("|{} {} {} {} {} {} {} {} {} {}", in.relative, static_cast<int>(in.format), in.micom,
                        LabelName(l.label), l.activity, l.subject, l.impactSample, l.dataset, l.fallStart, l.fallEnd);
    }
    return SweepId(text);
}

SweepPlan PlanOf(const SweepRequest& request)
{
    SweepPlan plan{};
    std::string error;
    bool made = false;
    {
        py::gil_scoped_release release;
        made = SweepPlanMake(request, &plan, &error);
    }
    if (!made) {
        BindingRaise(PyExc_ValueError, error);
    }
    return plan;
}

// The client's view of a sweep: checked as the command line checks it.
py::dict Plan(const SweepArguments& arguments)
{
    const SweepRequest request = BindingSweepRequest(arguments);
    const SweepPlan plan = PlanOf(request);
    py::dict info;
    info["count"] = plan.count;
    info["description"] = plan.layout.description;
    info["varied"] = plan.layout.varied;
    info["fingerprint"] = Fingerprint(plan);
    info["objective"] = plan.objective.text;
    info["base_changes"] = ConfigChanges(plan.base);
    info["files"] = SweepPlanInputFiles(request, plan);
    std::vector<std::pair<std::string, bool>> recordings;
    for (const InputRecording& in : plan.inputs.recordings) {
        recordings.emplace_back(in.path, in.micom);
    }
    info["recordings"] = recordings;
    std::vector<std::string> skipped;
    for (const InputSkipped& k : plan.inputs.skipped) {
        if (k.failed) {
            skipped.push_back(k.path + ": skipped: " + k.reason);
        }
    }
    info["skipped"] = skipped;
    // The manifest's entries of the recordings swept, so that a copy of
    // them can stand in for the manifest where only the recordings are.
    std::vector<py::tuple> labels;
    if (!request.inputs.labels.empty()) {
        for (std::size_t i = 0; i < plan.inputs.recordings.size(); ++i) {
            const RecordingLabels& l = plan.labels[i];
            labels.push_back(py::make_tuple(plan.inputs.recordings[i].path, LabelName(l.label), l.activity, l.subject,
                                            l.impactSample, l.description, l.dataset, l.take, l.fallStart, l.fallEnd,
                                            l.alertStart, l.alertEnd));
        }
    }
    info["manifest"] = labels;
    return info;
}

// Checks the outputs of a sweep as the command line does before any work:
// out (the rows) and the results written at the end, (option, path) each,
// an empty path for an option not given. Raises ValueError with the
// command line's message.
void CheckOutputs(const SweepArguments& arguments, const std::string& out,
                  const std::vector<std::pair<std::string, std::string>>& results)
{
    const SweepRequest request = BindingSweepRequest(arguments);
    const SweepPlan plan = PlanOf(request);
    std::vector<FilesOutput> outputs;
    for (const auto& [option, path] : results) {
        outputs.push_back(FilesOutput{option, path, true});
    }
    std::string error;
    if (!SweepPlanCheckOutputs(request, plan, out, outputs, &error)) {
        BindingRaise(PyExc_ValueError, error);
    }
}

// Writes text to path by the file rules: under a temporary name beside it,
// renamed over it when complete; "-" is standard output. Raises OSError
// with the message when it cannot be written (the file is then unchanged).
void WriteOutput(const std::string& path, const std::string& text)
{
    std::string error;
    bool written = false;
    {
        py::gil_scoped_release release;
        written = FilesWriteWhole(path, text, &error);
    }
    if (!written) {
        BindingRaise(PyExc_OSError, error);
    }
}

// Where a resumed sweep continues: the first configuration to run and the
// length of the file's complete rows, with the identifier the workers
// computed. Raises ValueError with the command line's message when the
// file holds another sweep or is no sweep output.
std::pair<int64_t, uint64_t> Resume(const SweepArguments& arguments, const std::string& path,
                                    const std::string& sweepId)
{
    const SweepRequest request = BindingSweepRequest(arguments);
    SweepPlan plan = PlanOf(request);
    plan.layout.id = sweepId;
    SweepResumeState state{{}, 0, 0};
    std::string error;
    bool read = false;
    {
        py::gil_scoped_release release;
        read = SweepResumeRead(path, plan, &state, &error);
    }
    if (!read) {
        BindingRaise(PyExc_ValueError, error);
    }
    return {state.next, state.keep};
}

// The row text of the sweep's layout with its own identifier and
// description (a search's output file).
std::string HeaderWith(const SweepArguments& arguments, const std::string& sweepId, const std::string& description)
{
    SweepPlan plan = PlanOf(BindingSweepRequest(arguments));
    plan.layout.id = sweepId;
    plan.layout.description = description;
    return SweepHeaderText(plan.layout);
}

// The configuration of --config FILE and --set NAME=VALUE..., as the
// command line builds it. Raises ValueError with its message.
py::tuple ConfigFrom(const std::string& file, const std::vector<std::string>& settings)
{
    TumblewatchConfig cfg;
    std::string error;
    if (!ConfigBuild(ConfigSource{file, settings}, &cfg, &error)) {
        BindingRaise(PyExc_ValueError, error);
    }
    return BindingConfigValues(cfg);
}

// Whether the detector accepts base with parameter name set to value; the
// reason it refuses it otherwise.
std::string Refusal(const py::handle& base, const std::string& name, int32_t value)
{
    TumblewatchConfig cfg = BindingConfigOf(base);
    const int index = TumblewatchParamIndex(name.c_str());
    if (index < 0) {
        BindingRaise(PyExc_KeyError, name);
    }
    TumblewatchParamSet(&cfg, index, value);
    int at = -1;
    const char* problem = TumblewatchCheck(&cfg, &at);
    return problem == nullptr ? std::string()
                              : std::string(TumblewatchParams()[at].name) + " = " +
                                    std::to_string(TumblewatchParamGet(&cfg, at)) + ": " + problem;
}

// The page of the sweep whose rows are at path (as sweep --html writes it),
// with the base configuration and its figures as a worker evaluated them
// and the summary (the JSON text of --summary). Raises ValueError when the
// file cannot be read, is no sweep output or the summary is of another.
std::string Page(const std::string& path, const py::handle& baseConfig, const py::dict& figures,
                 const std::string& summaryText)
{
    SweepRow base{};
    base.index = -1;
    base.config = BindingConfigOf(baseConfig);
    auto figure = [&figures](const char* name) { return figures[name].cast<double>(); };
    base.all.sensitivity = figure("sensitivity");
    base.all.falseAlarmsPerHour = figure("false_alarms_per_hour");
    base.all.f1 = figure("f1");
    base.tune =
        FoldMetrics{figure("tune_sensitivity"), std::nan(""), std::nan(""), figure("tune_false_alarms_per_hour")};
    base.held =
        FoldMetrics{figure("held_sensitivity"), std::nan(""), std::nan(""), figure("held_false_alarms_per_hour")};
    const nlohmann::ordered_json summary = nlohmann::ordered_json::parse(summaryText, nullptr, false);
    if (summary.is_discarded()) {
        BindingRaise(PyExc_ValueError, "the summary is no JSON document");
    }
    std::string page;
    std::string error;
    bool made = false;
    {
        py::gil_scoped_release release;
        made = HtmlSweepPage(path, &base, &summary, &page, &error);
    }
    if (!made) {
        BindingRaise(PyExc_ValueError, error);
    }
    return page;
}

// A sweep's recordings in a worker's memory (with their front ends), its
// plan and its summary's start (the base configuration evaluated).
class WorkerSweep {
public:
    // Plans the sweep, loads its recordings on the request's threads and
    // evaluates the base configuration, as sweep does before its first
    // configuration. Raises ValueError with the command line's message when
    // the plan fails or no labelled recording could be read.
    explicit WorkerSweep(const SweepArguments& arguments) : request_(BindingSweepRequest(arguments))
    {
        std::string error;
        bool started = false;
        {
            py::gil_scoped_release release;
            started = SweepPlanMake(request_, &plan_, &error) &&
                      SweepSessionStart(&plan_, request_, SweepSessionOptions{true, false}, &session_, &error);
        }
        if (!started) {
            BindingRaise(PyExc_ValueError, error);
        }
        settings_ = SweepSettingsOf(request_);
    }

    std::string Header() const { return SweepHeaderText(plan_.layout); }
    std::string Id() const { return plan_.layout.id; }
    std::string Print() const { return Fingerprint(plan_); }
    int64_t Count() const { return plan_.count; }
    uint64_t Samples() const { return session_.data.samples; }
    uint64_t Bytes() const { return SweepDataBytes(session_.data); }
    const std::vector<std::string>& Failures() const { return session_.data.failures; }
    const std::vector<std::string>& Empty() const { return session_.data.empty; }

    // Configurations first .. first + count - 1 on threads threads: the
    // rows' text in order, the refused configurations with the reason, and
    // the samples processed.
    py::tuple Run(int64_t first, int64_t count, int threads) const
    {
        if (first < 0 || count < 0 || first > plan_.count || count > plan_.count - first) {
            BindingRaise(PyExc_ValueError, fmt::format("configurations {} .. {}: the sweep has 0 .. {}", first,
                                                       first + count - 1, plan_.count - 1));
        }
        CheckThreads(threads);
        std::string rows;
        std::vector<std::pair<int64_t, std::string>> refused;
        uint64_t samples = 0;
        {
            py::gil_scoped_release release;
            SweepSettings settings = settings_;
            settings.threads = threads;
            Progress progress;
            ProgressStart(&progress, "configurations", static_cast<uint64_t>(count), false);
            SweepRun(session_.data, plan_.space, plan_.base, first, count, settings, &progress,
                     [&](const SweepRow& row) {
                         if (row.refused) {
                             refused.emplace_back(row.index, row.refusal);
                         } else {
                             rows += SweepRowText(plan_.layout, plan_.varied, row);
                         }
                         return true;
                     });
            samples = progress.samples;
        }
        return py::make_tuple(rows, refused, samples);
    }

    // Configurations given by number and the values of the varied
    // parameters (on the base): for each, in order, its row's text (empty
    // when refused), the refusal ("" when accepted), and its sensitivity
    // and false alarms per hour (NaN when undefined or refused).
    std::vector<py::tuple> Evaluate(const std::vector<std::pair<int64_t, std::vector<int32_t>>>& trials) const
    {
        std::vector<TumblewatchConfig> configs;
        for (const auto& [index, values] : trials) {
            if (values.size() != plan_.varied.size()) {
                BindingRaise(PyExc_ValueError, fmt::format("trial {}: {} values for {} varied parameters", index,
                                                           values.size(), plan_.varied.size()));
            }
            configs.push_back(ConfigOfValues(values));
        }
        std::vector<SweepRow> rows(trials.size());
        {
            py::gil_scoped_release release;
            SweepSettings settings = settings_;
            settings.threads = 1;
            for (std::size_t i = 0; i < trials.size(); ++i) {
                rows[i] = SweepEvaluate(session_.data, configs[i], trials[i].first, settings);
            }
        }
        std::vector<py::tuple> out;
        const double nan = std::nan("");
        for (const SweepRow& row : rows) {
            out.push_back(py::make_tuple(row.refused ? std::string() : SweepRowText(plan_.layout, plan_.varied, row),
                                         row.refusal, row.refused ? nan : row.all.sensitivity,
                                         row.refused ? nan : row.all.falseAlarmsPerHour));
        }
        return out;
    }

    // The summary of the rows of text (an output of this sweep's layout:
    // its header and rows in order, each row's configuration the base with
    // its values), kept as the sweep keeps it, from the rows' exact counts:
    // the document of --summary (for configurations rows planned, with the
    // file's identifier), the terminal's summary text with the run's
    // figures, and what the Python result and the page need.
    py::dict Summarize(const std::string& text, const std::string& title, const std::string& item,
                       int64_t configurations, int64_t runNow, int64_t refusedNow, double seconds,
                       uint64_t samples) const
    {
        std::string error;
        SweepSummary summary{};
        SweepSummaryStart(&summary, plan_.varied, plan_.objective, session_.data, session_.summary.base);
        SweepLayout layout;
        std::string json;
        std::string terminal;
        std::string nested;
        {
            py::gil_scoped_release release;
            if (ReadRows(text, &summary, &layout, &error)) {
                // The nested selection's bootstrap, as the command line's sweep makes it by default.
                SweepSummaryBootstrapNested(
                    &summary, session_.data, settings_,
                    IntervalSettings{kIntervalDefaultConfidence, kSweepNestedResamples, request_.seed});
                const nlohmann::ordered_json document = SweepSummaryJson(summary, layout, configurations);
                json = document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
                if (!summary.nested.empty()) {
                    nested = document["nested"].dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
                }
                terminal = SweepSummaryText(
                    plan_, summary, SweepRunFigures{title, item, configurations, runNow, refusedNow, seconds, samples});
            }
        }
        if (!error.empty()) {
            BindingRaise(PyExc_ValueError, error);
        }
        std::vector<int64_t> front;
        for (const SweepPoint& p : summary.front.points) {
            front.push_back(p.index);
        }
        const SweepRow& base = summary.base;
        py::dict out;
        out["json"] = json;
        out["text"] = terminal;
        out["nested"] = nested.empty() ? py::object(py::none()) : py::object(py::str(nested));
        out["front"] = front;
        out["best"] = summary.best.found ? py::object(py::int_(summary.best.point.index)) : py::object(py::none());
        out["best_config"] = summary.best.found
                                 ? py::object(BindingConfigValues(SweepPointConfig(summary, summary.best.point)))
                                 : py::object(py::none());
        out["objective"] = summary.objective.text;
        out["base_row"] = SweepRowText(plan_.layout, plan_.varied, base);
        out["base_config"] = BindingConfigValues(base.config);
        py::dict figures;
        figures["sensitivity"] = base.all.sensitivity;
        figures["false_alarms_per_hour"] = base.all.falseAlarmsPerHour;
        figures["f1"] = base.all.f1;
        figures["tune_sensitivity"] = base.tune.sensitivity;
        figures["tune_false_alarms_per_hour"] = base.tune.falseAlarmsPerHour;
        figures["held_sensitivity"] = base.held.sensitivity;
        figures["held_false_alarms_per_hour"] = base.held.falseAlarmsPerHour;
        out["base"] = figures;
        return out;
    }

private:
    static void CheckThreads(int threads) { BindingCheckThreads(threads); }

    TumblewatchConfig ConfigOfValues(const std::vector<int32_t>& values) const
    {
        TumblewatchConfig cfg = plan_.base;
        for (std::size_t i = 0; i < plan_.varied.size() && i < values.size(); ++i) {
            TumblewatchParamSet(&cfg, plan_.varied[i], values[i]);
        }
        return cfg;
    }

    // Takes the rows of text into *summary from their counts, as a resumed
    // sweep takes in the rows an earlier run left; the file's layout in
    // *layout. False with a message when the text is not an output of this
    // sweep's layout and version.
    bool ReadRows(const std::string& text, SweepSummary* summary, SweepLayout* layout, std::string* error) const
    {
        const char* folder = std::getenv("TMPDIR");
        std::string name =
            std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") + "/tumblewatch-rows-XXXXXX";
        std::vector<char> buffer(name.begin(), name.end());
        buffer.push_back('\0');
        const int fd = mkstemp(buffer.data());
        if (fd < 0) {
            *error = "cannot create a temporary file for the rows";
            return false;
        }
        name = buffer.data();
        FILE* file = fdopen(fd, "wb");
        const bool written = file != nullptr && std::fwrite(text.data(), 1, text.size(), file) == text.size();
        const bool closed = file != nullptr ? std::fclose(file) == 0 : close(fd) == 0;
        bool read = false;
        if (written && closed) {
            uint64_t bytes = 0;
            read = SweepReadFile(
                name, layout,
                [&](const SweepRecord& r, std::string* problem) {
                    if (layout->columns != SweepMetricColumns(plan_.layout.folds) ||
                        layout->varied != plan_.layout.varied || layout->format != plan_.layout.format) {
                        *problem = "the rows are not of this sweep's layout";
                        return false;
                    }
                    SweepTally tally;
                    if (!SweepTallyOfRecord(r, plan_.layout.folds, &tally, problem)) {
                        return false;
                    }
                    SweepSummaryAdd(summary, SweepRowOfTally(tally, session_.data, ConfigOfValues(tally.values)));
                    return true;
                },
                &bytes, error);
            if (read && (layout->columns != SweepMetricColumns(plan_.layout.folds) ||
                         layout->varied != plan_.layout.varied || layout->format != plan_.layout.format)) {
                *error = "the rows are not of this sweep's layout";
                read = false;
            }
        } else {
            *error = "cannot write a temporary file for the rows";
        }
        std::remove(name.c_str());
        return read;
    }

    SweepRequest request_;
    SweepPlan plan_{};
    SweepSession session_{};
    SweepSettings settings_{};
};

}  // namespace

void BindCluster(py::module_& m)
{
    m.def("sweep_plan", &Plan, py::arg("arguments"),
          "The sweep's plan as the command line checks it: count, header, identifier, files, recordings.");
    m.def("sweep_resume", &Resume, py::arg("arguments"), py::arg("path"), py::arg("sweep_id"),
          "Where a resumed sweep continues: (first configuration to run, bytes of complete rows to keep).");
    m.def("sweep_header", &HeaderWith, py::arg("arguments"), py::arg("sweep_id"), py::arg("description"),
          "The header of the sweep's layout with another identifier and description.");
    m.def("config_from", &ConfigFrom, py::arg("file"), py::arg("settings"),
          "The configuration of --config FILE and --set NAME=VALUE, as the command line builds it.");
    m.def("refusal", &Refusal, py::arg("base"), py::arg("name"), py::arg("value"),
          "Why the detector refuses base with name set to value; empty when it accepts it.");
    m.def("sweep_page", &Page, py::arg("path"), py::arg("base_config"), py::arg("base_figures"), py::arg("summary"),
          "The HTML page of the sweep whose rows are at path, with the base configuration's figures and the "
          "summary's JSON text.");
    m.def("sweep_check_outputs", &CheckOutputs, py::arg("arguments"), py::arg("out"), py::arg("results"),
          "Checks --out and the results (option, path) as the command line does before any work.");
    m.def("write_output", &WriteOutput, py::arg("path"), py::arg("text"),
          "Writes text to path whole (a temporary file renamed over it) or not at all.");
    m.def("sweep_id", &SweepId, py::arg("text"), "The 16 hex digits of a sweep identifier made from text.");
    py::class_<WorkerSweep>(m, "WorkerSweep", "A sweep's recordings loaded into memory, with its plan.")
        .def(py::init<const SweepArguments&>(), py::arg("arguments"))
        .def_property_readonly("header", &WorkerSweep::Header)
        .def_property_readonly("sweep_id", &WorkerSweep::Id)
        .def_property_readonly("fingerprint", &WorkerSweep::Print)
        .def_property_readonly("count", &WorkerSweep::Count)
        .def_property_readonly("samples", &WorkerSweep::Samples)
        .def_property_readonly("bytes", &WorkerSweep::Bytes)
        .def_property_readonly("failures", &WorkerSweep::Failures)
        .def_property_readonly("empty", &WorkerSweep::Empty)
        .def("run", &WorkerSweep::Run, py::arg("first"), py::arg("count"), py::arg("threads"),
             "Rows of configurations first .. first + count - 1: (text, refused, samples).")
        .def("evaluate", &WorkerSweep::Evaluate, py::arg("trials"),
             "Rows of configurations given by number and varied values.")
        .def("summarize", &WorkerSweep::Summarize, py::arg("text"), py::arg("title"), py::arg("item"),
             py::arg("configurations"), py::arg("run_now"), py::arg("refused_now"), py::arg("seconds"),
             py::arg("samples"),
             "The summary of finished rows: the --summary document, the terminal text, front, best and base.");
}

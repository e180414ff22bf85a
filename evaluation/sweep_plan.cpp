// Planning a sweep and reading back what an earlier run of it wrote.
#include "sweep_plan.h"

#include <fmt/core.h>
#include <fmt/format.h>

#include <functional>
#include <set>
#include <utility>

#include "params.h"

namespace {

// A 64-bit FNV-1a hash of the samples' counts, little-endian: the same on
// every machine.
uint64_t SamplesHash(const std::vector<ImuSample>& samples)
{
    uint64_t hash = 14695981039346656037ull;
    for (const ImuSample& s : samples) {
        for (const int16_t v : {s.accX, s.accY, s.accZ, s.gyroX, s.gyroY, s.gyroZ}) {
            const auto u = static_cast<uint16_t>(v);
            for (const uint16_t byte : {static_cast<uint16_t>(u & 0xff), static_cast<uint16_t>(u >> 8)}) {
                hash = (hash ^ byte) * 1099511628211ull;
            }
        }
    }
    return hash;
}

// The text that the sweep's identifier is made from: what its rows depend
// on, the recordings by their content.
std::string IdentityText(const SweepPlan& plan, const SweepRequest& request, const SweepData& data)
{
    std::string text = "inputs";
    for (const SweepRecording& r : data.recordings) {
        const RecordingLabels& l = r.labels;
        text += fmt::format("|{} {} {:016x} {} {} {} {}", r.input.relative, r.samples.size(), SamplesHash(r.samples),
                            LabelName(l.label), l.activity, l.subject, l.impactSample);
    }
    text += "|base";
    for (int i = 0; i < kTumblewatchParamCount; ++i) {
        text += " " + std::to_string(TumblewatchParamGet(&plan.base, i));
    }
    text += fmt::format("|merge {}|folds {}", request.inputs.mergeSeconds, request.folds);
    // What only some sweeps have, so that the others keep their identifiers.
    if (request.folds > 0 && request.foldsBy != "subject") {
        text += "|folds by " + request.foldsBy;
    }
    bool timed = false;
    for (const SweepRecording& r : data.recordings) {
        if (r.labels.label == Label::Fall && LabelsTimed(r.labels)) {
            text += fmt::format("|timed {} {} {}", r.input.relative, r.labels.fallStart, r.labels.fallEnd);
            timed = true;
        }
    }
    if (timed) {
        text += fmt::format("|window {} {}", request.inputs.window.beforeSeconds, request.inputs.window.afterSeconds);
    }
    for (const SweepGrid& g : plan.space.grids) {
        text += fmt::format("|grid {}", g.param);
        for (const int32_t v : g.values) {
            text += " " + std::to_string(v);
        }
    }
    for (const SweepRange& r : plan.space.ranges) {
        text += fmt::format("|range {} {} {}", r.param, r.low, r.high);
    }
    text += fmt::format("|random {} seed {}", plan.space.draws, plan.space.seed);
    return text;
}

std::string Description(const SweepPlan& plan, const SweepRequest& request)
{
    std::string d = fmt::format("{} recordings; {} configurations", plan.inputs.recordings.size(), plan.count);
    for (const std::string& g : request.grids) {
        d += "; grid " + g;
    }
    if (plan.space.draws > 0) {
        d += fmt::format("; {} random draws, seed {}", plan.space.draws, plan.space.seed);
        for (const std::string& r : request.ranges) {
            d += " range " + r;
        }
    }
    const std::vector<std::string> changes = ConfigChanges(plan.base);
    d += "; base " + (changes.empty() ? std::string("defaults") : fmt::format("{}", fmt::join(changes, " ")));
    if (request.folds > 0) {
        d += fmt::format("; {} folds", request.folds);
        if (request.foldsBy != "subject") {
            d += " by " + request.foldsBy;
        }
    }
    return d;
}

// What makes the layout of a file another sweep's, in words.
std::string Difference(const SweepLayout& found, const SweepLayout& planned)
{
    if (found.format != planned.format) {
        return "another format";
    }
    if (found.varied != planned.varied) {
        return "other varied parameters";
    }
    if (found.folds != planned.folds) {
        return found.folds ? "with folds" : "without folds";
    }
    return "other recordings or recording content, labels, base configuration, grids, ranges, seed, folds or "
           "event gap";
}

bool CheckFolds(const SweepRequest& request, const SweepPlan& plan, std::string* error)
{
    const std::string& by = request.foldsBy;
    if (by.empty() || by == "path") {
        *error = "--folds-by: '" + by +
                 "' is no column to group by (give a manifest column, such as subject or "
                 "dataset)";
        return false;
    }
    std::set<std::string> subjects;
    int withoutSubject = 0;
    for (const RecordingLabels& l : plan.labels) {
        if (l.label != Label::None) {
            const std::string value = by == "subject" ? l.subject : LabelsColumn(l, by);
            if (value.empty()) {
                ++withoutSubject;
            } else {
                subjects.insert(value);
            }
        }
    }
    if (request.folds == 1 || request.folds < 0) {
        *error = "--folds needs at least 2 groups";
        return false;
    }
    const std::string noun = by == "subject" ? std::string("subjects") : "values of " + by;
    if (request.folds > 0 && withoutSubject > 0) {
        *error = fmt::format("--folds: {} labelled recordings have no {} (give them one in the manifest)",
                             withoutSubject, by);
        return false;
    }
    if (request.folds > static_cast<int>(subjects.size())) {
        *error = fmt::format("--folds {}: only {} {}", request.folds, subjects.size(), noun);
        return false;
    }
    return true;
}

}  // namespace

bool SweepPlanMake(const SweepRequest& request, SweepPlan* plan, std::string* error)
{
    if (!InputsLoad(request.inputs, &plan->base, &plan->manifest, &plan->inputs, error)) {
        return false;
    }
    for (const std::string& text : request.grids) {
        SweepGrid g;
        if (!SweepParseGrid(text, &g, error)) {
            return false;
        }
        plan->space.grids.push_back(g);
    }
    for (const std::string& text : request.ranges) {
        SweepRange r;
        if (!SweepParseRange(text, &r, error)) {
            return false;
        }
        plan->space.ranges.push_back(r);
    }
    plan->space.draws = request.random;
    plan->space.seed = request.seed;
    if (!SweepCheck(plan->space, error)) {
        return false;
    }
    plan->count = SweepCount(plan->space, request.maxConfigs);
    if (plan->count < 0) {
        const int64_t all = SweepCount(plan->space, INT64_MAX);
        *error = (all < 0 ? std::string("more than 9223372036854775807") : std::to_string(all)) +
                 " configurations: more than --max-configs " + std::to_string(request.maxConfigs);
        return false;
    }
    plan->varied = SweepVaried(plan->space);
    if (!ObjectiveParse(request.objective, &plan->objective, error)) {
        return false;
    }
    const Manifest* manifest = SweepPlanManifest(request, *plan);
    for (const InputRecording& in : plan->inputs.recordings) {
        plan->labels.push_back(InputsLabelsOf(in, manifest));
    }
    if (!CheckFolds(request, *plan, error)) {
        return false;
    }
    plan->layout.format = request.format == "jsonl" ? SweepFormat::Jsonl : SweepFormat::Csv;
    plan->layout.description = Description(*plan, request);
    for (const int v : plan->varied) {
        plan->layout.varied.emplace_back(TumblewatchParams()[v].name);
    }
    plan->layout.folds = request.folds;
    plan->layout.columns = SweepMetricColumns(request.folds);
    return true;
}

bool SweepPlanIdentify(const SweepRequest& request, const SweepData& data, SweepPlan* plan, std::string* error)
{
    for (const SweepRecording& r : data.recordings) {
        const int64_t samples = static_cast<int64_t>(r.samples.size());
        if (r.labels.impactSample >= samples) {
            *error = ManifestWhere(plan->manifest, r.labels) + ": impact_sample " +
                     std::to_string(r.labels.impactSample) + " lies past the end of " + r.input.path + " (" +
                     (samples == 0 ? std::string("it has no samples")
                                   : "its samples are 0 to " + std::to_string(samples - 1)) +
                     ")";
            return false;
        }
        if (r.labels.label == Label::Fall && LabelsTimed(r.labels) && r.labels.fallEnd >= samples) {
            *error = ManifestWhere(plan->manifest, r.labels) + ": the fall's timing (samples " +
                     std::to_string(r.labels.fallStart) + " to " + std::to_string(r.labels.fallEnd) +
                     ") lies past the end of " + r.input.path + " (" +
                     (samples == 0 ? std::string("it has no samples")
                                   : "its samples are 0 to " + std::to_string(samples - 1)) +
                     ")";
            return false;
        }
    }
    plan->layout.id = SweepId(IdentityText(*plan, request, data));
    return true;
}

std::vector<std::string> SweepPlanInputFiles(const SweepRequest& request, const SweepPlan& plan)
{
    std::vector<std::string> read;
    for (const std::string& file : {request.inputs.labels, request.inputs.config.file}) {
        if (!file.empty()) {
            read.push_back(file);
        }
    }
    read.insert(read.end(), request.inputs.moreLabels.begin(), request.inputs.moreLabels.end());
    for (const InputRecording& in : plan.inputs.recordings) {
        read.push_back(in.path);
    }
    return read;
}

bool SweepPlanCheckOutputs(const SweepRequest& request, const SweepPlan& plan, const std::string& out,
                           const std::vector<FilesOutput>& results, std::string* error)
{
    FilesReads reads = InputsReads(request.inputs, plan.inputs);
    if (!FilesCheckOutputs({{"--out", out, false}}, reads, error)) {
        return false;
    }
    reads.files.push_back(out);
    std::vector<FilesOutput> named;
    for (const FilesOutput& o : results) {
        if (!o.path.empty()) {
            named.push_back(o);
        }
    }
    return FilesCheckOutputs(named, reads, error);
}

SweepSettings SweepSettingsOf(const SweepRequest& request)
{
    return SweepSettings{request.inputs.mergeSeconds, request.inputs.threads, request.folds, request.inputs.window};
}

const Manifest* SweepPlanManifest(const SweepRequest& request, const SweepPlan& plan)
{
    return request.inputs.labels.empty() ? nullptr : &plan.manifest;
}

std::string SweepVariedText(const std::vector<int>& varied, const std::vector<int32_t>& values)
{
    std::string text;
    for (size_t i = 0; i < varied.size() && i < values.size(); ++i) {
        text += fmt::format("{}{}={}", text.empty() ? "" : " ", TumblewatchParams()[varied[i]].name, values[i]);
    }
    return text;
}

SweepPoint SweepPointOf(const SweepRow& row, const std::vector<int>& varied)
{
    SweepPoint p{row.index,  row.all.sensitivity,  row.all.falseAlarmsPerHour,
                 row.all.f1, row.held.sensitivity, row.held.falseAlarmsPerHour,
                 {}};
    for (const int v : varied) {
        p.values.push_back(TumblewatchParamGet(&row.config, v));
    }
    return p;
}

namespace {

// A reader of a sweep output: SweepReadFile or SweepReadText bound to
// their source.
using SweepSource = std::function<bool(SweepLayout*, const std::function<bool(const SweepRecord&, std::string*)>&,
                                       uint64_t*, std::string*)>;

bool ResumeFrom(const std::string& path, const SweepSource& source, const SweepPlan& plan, SweepResumeState* result,
                std::string* error);

}  // namespace

bool SweepResumeRead(const std::string& path, const SweepPlan& plan, SweepResumeState* state, std::string* error)
{
    const SweepSource source = [&path](SweepLayout* layout, const auto& onRow, uint64_t* keep, std::string* problem) {
        return SweepReadFile(path, layout, onRow, keep, problem);
    };
    return ResumeFrom(path, source, plan, state, error);
}

bool SweepResumeReadText(const std::string& name, std::string_view bytes, const SweepPlan& plan,
                         SweepResumeState* state, std::string* error)
{
    const SweepSource source = [&name, bytes](SweepLayout* layout, const auto& onRow, uint64_t* keep,
                                              std::string* problem) {
        return SweepReadText(name, bytes, layout, onRow, keep, problem);
    };
    return ResumeFrom(name, source, plan, state, error);
}

namespace {

bool ResumeFrom(const std::string& path, const SweepSource& source, const SweepPlan& plan, SweepResumeState* result,
                std::string* error)
{
    SweepResumeState taken{{}, 0, 0};  // *result changes only when the whole file is good
    SweepResumeState* state = &taken;
    SweepLayout found;
    int64_t expected = 0;  // the configuration the next row must hold
    auto accepted = [&plan](int64_t index) {
        const TumblewatchConfig cfg = SweepConfig(plan.space, plan.base, index);
        int ignored = -1;
        return TumblewatchCheck(&cfg, &ignored) == nullptr;
    };
    auto advance = [&]() {
        while (expected < plan.count && !accepted(expected)) {
            ++expected;
        }
    };
    auto same = [&] {
        // The identifier covers the folds; the columns are checked apart.
        return found.id == plan.layout.id && found.varied == plan.layout.varied && found.format == plan.layout.format;
    };
    bool other = false;
    bool earlierVersion = false;
    advance();
    auto onRow = [&](const SweepRecord& r, std::string* problem) {
        if (!same()) {
            other = true;
            return false;
        }
        if (found.columns != plan.layout.columns) {
            earlierVersion = true;
            return false;
        }
        if (r.index != expected) {
            if (expected >= plan.count) {
                *problem = "configuration " + std::to_string(r.index) +
                           " follows the last configuration of this sweep (" + std::to_string(plan.count - 1) + ")";
            } else if (r.index > expected) {
                *problem = "configuration " + std::to_string(expected) + " is missing (the row holds configuration " +
                           std::to_string(r.index) + "); the rows must be 0, 1, 2, ... in order";
            } else {
                *problem = "configuration " + std::to_string(r.index) + " is out of order (configuration " +
                           std::to_string(expected) + " was due); the rows must be 0, 1, 2, ... in order";
            }
            return false;
        }
        const TumblewatchConfig cfg = SweepConfig(plan.space, plan.base, r.index);
        for (size_t i = 0; i < plan.varied.size(); ++i) {
            if (TumblewatchParamGet(&cfg, plan.varied[i]) != r.values[i]) {
                *problem = "configuration " + std::to_string(r.index) + " has " + plan.layout.varied[i] + "=" +
                           std::to_string(r.values[i]) + " where this sweep gives it " +
                           std::to_string(TumblewatchParamGet(&cfg, plan.varied[i]));
                return false;
            }
        }
        SweepTally tally;
        if (!SweepTallyOfRecord(r, plan.layout.folds, &tally, problem)) {
            return false;
        }
        state->rows.push_back(std::move(tally));
        ++expected;
        advance();
        return true;
    };
    const bool read = source(&found, onRow, &state->keep, error);
    if (other || (read && !same())) {
        *error = "--resume " + path + ": the file holds another sweep (" + Difference(found, plan.layout) +
                 "): not mixed; its header says: " + found.description;
        return false;
    }
    if (earlierVersion || (read && found.columns != plan.layout.columns)) {
        *error = "--resume " + path +
                 ": its rows were written by a previous version of tumblewatch and lack the counts a resumed sweep "
                 "is summarised from; run the sweep anew into another --out";
        return false;
    }
    if (!read) {
        *error = "--resume: " + *error;
        return false;
    }
    state->next = state->rows.empty() ? 0 : state->rows.back().index + 1;
    *result = std::move(taken);
    return true;
}

}  // namespace

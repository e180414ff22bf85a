// The parallel sweep.
#include "sweep.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "detect.h"
#include "folds.h"
#include "load_inputs.h"
#include "params.h"
#include "recording_reader.h"

namespace {

// Configurations in flight per worker thread.
constexpr int64_t kSlotsPerThread = 4;

FoldMetrics Average(const std::vector<Metrics>& parts)
{
    std::vector<double> sens;
    std::vector<double> specificity;
    std::vector<double> f1;
    std::vector<double> fa;
    for (const Metrics& m : parts) {
        sens.push_back(m.sensitivity);
        specificity.push_back(m.specificity);
        f1.push_back(m.f1);
        fa.push_back(m.falseAlarmsPerHour);
    }
    return FoldMetrics{SweepMeanDefined(sens), SweepMeanDefined(specificity), SweepMeanDefined(f1),
                       SweepMeanDefined(fa)};
}

// Fills the row's metrics from the scores of its recordings.
void Score(const SweepData& data, const std::vector<RecordingScore>& scores, int folds, SweepRow* row)
{
    row->all = MetricsCompute(scores);
    if (folds == 0) {
        SweepFoldFigures(data, MetricsCountsOf(row->all), {}, row);
        return;
    }
    // The held-out groups' counts, in one pass.
    std::vector<MetricsCounts> held(static_cast<std::size_t>(folds), MetricsCounts{});
    for (std::size_t i = 0; i < scores.size(); ++i) {
        const RecordingScore& s = scores[i];
        MetricsCounts& c = held[static_cast<std::size_t>(data.recordings[i].fold)];
        const bool detected = MetricsDetected(s);
        if (s.label == Label::Fall) {
            ++(detected ? c.tp : c.fn);
        } else if (s.label == Label::Adl) {
            ++(detected ? c.fp : c.tn);
            c.falseAlarmEvents += s.events;
        }
    }
    SweepFoldFigures(data, MetricsCountsOf(row->all), held, row);
}

// Runs one recording with one configuration: only the decisions when its
// front end is cached, else the whole pipeline.
RecordingScore Run(const SweepRecording& rec, const TumblewatchConfig& config, const SweepSettings& settings,
                   DetectResult* result)
{
    if (!rec.frontEnd.empty()) {
        DetectRunDecisions(config, rec.samples.data(), rec.frontEnd.data(), rec.samples.size(), result);
    } else {
        DetectRun(config, rec.samples.data(), rec.samples.size(), nullptr, result);
    }
    return SweepScoreOf(rec, *result, settings);
}

// The refusal of a configuration, naming the parameter; empty when accepted.
std::string Refusal(const TumblewatchConfig& config)
{
    int index = -1;
    const char* problem = TumblewatchCheck(&config, &index);
    if (problem == nullptr) {
        return std::string();
    }
    return std::string(TumblewatchParams()[index].name) + " = " + std::to_string(TumblewatchParamGet(&config, index)) +
           ": " + problem;
}

// A configuration in flight.
struct Slot {
    int64_t index;
    TumblewatchConfig config;
    std::string refusal;
    std::vector<RecordingScore> scores;
    std::atomic<int> remaining;
};

}  // namespace

bool SweepLoad(const InputSet& inputs, const Manifest* manifest, int threads, bool frontEnd, SweepData* data,
               const ProgressPoll& poll)
{
    const std::size_t n = inputs.recordings.size();
    std::vector<SweepRecording> loaded(n);
    std::vector<std::string> reasons(n);
    std::vector<char> ok(n, 0);
    Progress progress;
    ProgressStart(&progress, "recordings", n, false);
    progress.poll = poll;
    ProgressRunParallel(n, threads, progress, [&](std::size_t i, int) {
        const InputRecording& in = inputs.recordings[i];
        SweepRecording& rec = loaded[i];
        rec.input = in;
        rec.fold = -1;
        rec.labels = InputsLabelsOf(in, manifest);
        ok[i] = RecordingLoad(in.path, in.format, in.micom, &rec.samples, &reasons[i]) == 0;
        ++progress.done;
        if (!ok[i] || rec.labels.label == Label::None) {
            return;
        }
        // Held for the whole sweep: no spare capacity.
        rec.samples.shrink_to_fit();
        if (frontEnd) {
            rec.frontEnd.resize(rec.samples.size());
            TumblewatchFrontEndRecord(rec.samples.data(), rec.samples.size(), rec.frontEnd.data());
        }
    });
    data->recordings.clear();
    data->failures.clear();
    data->unlabelled = 0;
    data->empty.clear();
    data->samples = 0;
    data->adlSamples = 0;
    data->folds.clear();
    for (std::size_t i = 0; i < n; ++i) {
        if (!ok[i]) {
            data->failures.push_back(inputs.recordings[i].path + ": " + reasons[i]);
        } else if (loaded[i].labels.label == Label::None) {
            ++data->unlabelled;
        } else if (loaded[i].samples.empty()) {
            data->empty.push_back(inputs.recordings[i].path);
        } else {
            data->samples += loaded[i].samples.size();
            if (loaded[i].labels.label == Label::Adl) {
                data->adlSamples += loaded[i].samples.size();
            }
            data->recordings.push_back(std::move(loaded[i]));
        }
    }
    return !progress.stopped;
}

double SweepMeanDefined(const std::vector<double>& values, int* defined)
{
    double sum = 0.0;
    int n = 0;
    for (const double v : values) {
        if (!std::isnan(v)) {
            sum += v;
            ++n;
        }
    }
    if (defined != nullptr) {
        *defined = n;
    }
    return n > 0 ? sum / n : std::nan("");
}

uint64_t SweepDataBytes(const SweepData& data)
{
    uint64_t bytes = 0;
    for (const SweepRecording& r : data.recordings) {
        bytes += r.samples.capacity() * sizeof(ImuSample) + r.frontEnd.capacity() * sizeof(TumblewatchFrontEndValues);
    }
    return bytes;
}

RecordingScore SweepScoreOf(const SweepRecording& rec, const DetectResult& result, const SweepSettings& settings)
{
    const auto& alarms = result.alarms;
    RecordingScore score{
        rec.labels.label, result.samples, MetricsEventCount(alarms, settings.mergeSeconds),
        alarms.empty() ? -1 : static_cast<int64_t>(alarms.front().sample),
        rec.labels.impactSample >= 0 ? rec.labels.impactSample : static_cast<int64_t>(result.peakSample)};
    if (rec.labels.label != Label::Fall || !LabelsTimed(rec.labels)) {
        return score;
    }
    FallWindowTally window = MetricsWindowOf(rec.labels.fallStart, rec.labels.fallEnd, settings.window);
    for (const Alarm& a : alarms) {
        MetricsWindowAdd(&window, a.sample, settings.mergeSeconds);
    }
    score.windowed = true;
    score.firstInWindow = window.firstAlarm;
    score.fallStart = rec.labels.fallStart;
    score.fallEnd = rec.labels.fallEnd;
    score.earlyEvents = window.earlyEvents;
    score.lateEvents = window.lateEvents;
    score.outsideSamples = MetricsOutsideSamples(window, result.samples);
    return score;
}

void SweepAssignFolds(SweepData* data, int folds)
{
    SweepAssignFoldsBy(data, folds, "subject");
}

void SweepAssignFoldsBy(SweepData* data, int folds, const std::string& column)
{
    if (folds <= 0) {
        return;
    }
    std::vector<std::string> subjects;
    for (const SweepRecording& r : data->recordings) {
        subjects.push_back(column == "subject" ? r.labels.subject : LabelsColumn(r.labels, column));
    }
    const std::vector<int> assigned = FoldsAssign(subjects, folds);
    data->folds.assign(static_cast<std::size_t>(folds), SweepFold{{}, 0, 0});
    std::vector<std::set<std::string>> names(static_cast<std::size_t>(folds));
    for (size_t i = 0; i < data->recordings.size(); ++i) {
        SweepRecording& r = data->recordings[i];
        r.fold = assigned[i];
        SweepFold& f = data->folds[static_cast<std::size_t>(r.fold)];
        ++f.recordings;
        if (r.labels.label == Label::Adl) {
            f.adlSamples += r.samples.size();
        }
        names[static_cast<std::size_t>(r.fold)].insert(subjects[i]);
    }
    for (int k = 0; k < folds; ++k) {
        const std::set<std::string>& n = names[static_cast<std::size_t>(k)];
        data->folds[static_cast<std::size_t>(k)].subjects.assign(n.begin(), n.end());
    }
}

void SweepFoldFigures(const SweepData& data, const MetricsCounts& all, const std::vector<MetricsCounts>& held,
                      SweepRow* row)
{
    const FoldMetrics none{std::nan(""), std::nan(""), std::nan(""), std::nan("")};
    row->heldFolds.clear();
    row->tuneFolds.clear();
    row->tune = none;
    row->held = none;
    if (held.empty()) {
        return;
    }
    for (std::size_t k = 0; k < held.size(); ++k) {
        const MetricsCounts& h = held[k];
        const uint64_t adl = data.folds[k].adlSamples;
        row->heldFolds.push_back(MetricsFromCounts(h, adl));
        const MetricsCounts t{all.tp - h.tp, all.fn - h.fn, all.fp - h.fp, all.tn - h.tn,
                              all.falseAlarmEvents - h.falseAlarmEvents};
        row->tuneFolds.push_back(MetricsFromCounts(t, data.adlSamples - adl));
    }
    row->tune = Average(row->tuneFolds);
    row->held = Average(row->heldFolds);
}

SweepRow SweepEvaluate(const SweepData& data, const TumblewatchConfig& config, int64_t index,
                       const SweepSettings& settings)
{
    SweepRow row{};
    row.index = index;
    row.config = config;
    row.refusal = Refusal(config);
    row.refused = !row.refusal.empty();
    if (row.refused) {
        return row;
    }
    DetectResult result;
    std::vector<RecordingScore> scores;
    for (const SweepRecording& rec : data.recordings) {
        scores.push_back(Run(rec, config, settings, &result));
    }
    Score(data, scores, settings.folds, &row);
    return row;
}

void SweepRun(const SweepData& data, const SweepSpace& space, const TumblewatchConfig& base, int64_t first,
              int64_t count, const SweepSettings& settings, Progress* progress,
              const std::function<bool(const SweepRow&)>& commit)
{
    const auto recordings = static_cast<int64_t>(data.recordings.size());
    if (count <= 0) {
        return;
    }
    const int64_t window = kSlotsPerThread * settings.threads;
    std::vector<std::unique_ptr<Slot>> slots;
    for (int64_t s = 0; s < window; ++s) {
        slots.push_back(std::make_unique<Slot>());
        slots.back()->scores.resize(static_cast<std::size_t>(recordings));
    }
    std::mutex mutex;
    std::condition_variable changed;
    int64_t committed = 0;  // configurations handed to commit (relative to first)
    auto prepare = [&](int64_t c) {
        Slot& slot = *slots[static_cast<std::size_t>(c % window)];
        slot.index = first + c;
        slot.config = SweepConfig(space, base, first + c);
        slot.refusal = Refusal(slot.config);
        // A refused configuration runs nothing, but it too is complete only
        // once every worker that took one of its items has let go of the
        // slot: until then the slot may not be prepared for another one.
        slot.remaining = static_cast<int>(recordings);
    };
    for (int64_t c = 0; c < window && c < count; ++c) {
        prepare(c);
    }

    std::atomic<int64_t> nextItem{0};
    const int64_t items = count * recordings;
    std::atomic<bool> stop{false};
    // Runs one item (a configuration on a recording) whose configuration
    // is in its slot.
    auto runItem = [&](int64_t item, DetectResult* result) {
        const int64_t c = item / recordings;
        const int64_t r = item % recordings;
        Slot& slot = *slots[static_cast<std::size_t>(c % window)];
        if (slot.refusal.empty()) {
            const SweepRecording& rec = data.recordings[static_cast<std::size_t>(r)];
            slot.scores[static_cast<std::size_t>(r)] = Run(rec, slot.config, settings, result);
            progress->samples += rec.samples.size();
        }
        // The last touch of the slot for this item.
        if (--slot.remaining == 0) {
            const std::lock_guard<std::mutex> lock(mutex);
            changed.notify_all();
        }
    };
    auto work = [&] {
        DetectResult result;
        for (int64_t item = nextItem++; item < items; item = nextItem++) {
            const int64_t c = item / recordings;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return stop || c < committed + window; });
            }
            if (stop) {
                break;
            }
            runItem(item, &result);
        }
    };
    std::vector<std::thread> workers = ProgressStartThreads(settings.threads, [&](int) { work(); });
    DetectResult inlineResult;
    constexpr std::chrono::milliseconds kCheckEvery{250};
    auto lastCheck = std::chrono::steady_clock::now();

    while (committed < count) {
        Slot& slot = *slots[static_cast<std::size_t>(committed % window)];
        // With no worker thread (none could be created) the items run here,
        // in order: the next ones are this configuration's.
        while (workers.empty() && slot.remaining != 0) {
            runItem(nextItem++, &inlineResult);
        }
        bool stopped = false;
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(mutex);
                if (changed.wait_for(lock, kCheckEvery, [&] { return slot.remaining == 0; })) {
                    break;
                }
            }
            lastCheck = std::chrono::steady_clock::now();
            if (!ProgressCheck(progress)) {
                stopped = true;
                break;
            }
        }
        // Rows that come in faster than the wait times out: the line and the
        // poll still every quarter of a second.
        if (!stopped && std::chrono::steady_clock::now() - lastCheck >= kCheckEvery) {
            lastCheck = std::chrono::steady_clock::now();
            stopped = !ProgressCheck(progress);
        }
        if (stopped) {
            const std::lock_guard<std::mutex> lock(mutex);
            stop = true;
            changed.notify_all();
            break;
        }
        SweepRow row{};
        row.index = slot.index;
        row.config = slot.config;
        row.refusal = slot.refusal;
        row.refused = !slot.refusal.empty();
        if (!row.refused) {
            Score(data, slot.scores, settings.folds, &row);
        }
        const bool go = commit(row);
        ++progress->done;
        {
            const std::lock_guard<std::mutex> lock(mutex);
            if (!go) {
                stop = true;
                changed.notify_all();
                break;
            }
            if (committed + window < count) {
                prepare(committed + window);
            }
            ++committed;
        }
        changed.notify_all();
    }
    for (std::thread& w : workers) {
        w.join();
    }
}

std::vector<RecordingScore> SweepScores(const SweepData& data, const TumblewatchConfig& config,
                                        const SweepSettings& settings, int fold)
{
    std::vector<RecordingScore> scores(data.recordings.size(), RecordingScore{Label::None, 0, 0, -1, 0});
    DetectResult result;
    for (std::size_t i = 0; i < data.recordings.size(); ++i) {
        if (fold < 0 || data.recordings[i].fold == fold) {
            scores[i] = Run(data.recordings[i], config, settings, &result);
        }
    }
    return scores;
}

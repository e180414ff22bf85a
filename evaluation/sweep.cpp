// The parallel sweep.
#include "sweep.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "detect.h"
#include "folds.h"
#include "load_inputs.h"
#include "params.h"
#include "recording_reader.h"

namespace {

// Configurations in flight per worker thread.
constexpr int64_t kSlotsPerThread = 4;

// The mean of the defined values.
double MeanDefined(const std::vector<double>& values)
{
    double sum = 0.0;
    int n = 0;
    for (const double v : values) {
        if (!std::isnan(v)) {
            sum += v;
            ++n;
        }
    }
    return n > 0 ? sum / n : std::nan("");
}

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
    return FoldMetrics{MeanDefined(sens), MeanDefined(specificity), MeanDefined(f1), MeanDefined(fa)};
}

// Fills the row's metrics from the scores of its recordings.
void Score(const SweepData& data, const std::vector<RecordingScore>& scores, int folds, SweepRow* row)
{
    row->all = MetricsCompute(scores);
    const FoldMetrics none{std::nan(""), std::nan(""), std::nan(""), std::nan("")};
    row->tune = none;
    row->held = none;
    if (folds == 0) {
        return;
    }
    std::vector<Metrics> tune;
    std::vector<Metrics> held;
    std::vector<RecordingScore> in;
    std::vector<RecordingScore> out;
    for (int k = 0; k < folds; ++k) {
        in.clear();
        out.clear();
        for (std::size_t i = 0; i < scores.size(); ++i) {
            (data.recordings[i].fold == k ? out : in).push_back(scores[i]);
        }
        tune.push_back(MetricsCompute(in));
        held.push_back(MetricsCompute(out));
    }
    row->tune = Average(tune);
    row->held = Average(held);
}

// Runs one recording with one configuration.
RecordingScore Run(const SweepRecording& rec, const TumblewatchConfig& config, double mergeSeconds,
                   DetectResult* result)
{
    DetectRun(config, rec.samples.data(), rec.samples.size(), nullptr, result);
    const auto& alarms = result->alarms;
    return RecordingScore{
        rec.labels.label, result->samples, MetricsEventCount(alarms, mergeSeconds),
        alarms.empty() ? -1 : static_cast<int64_t>(alarms.front().sample),
        rec.labels.impactSample >= 0 ? rec.labels.impactSample : static_cast<int64_t>(result->peakSample)};
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

void SweepLoad(const InputSet& inputs, const Manifest* manifest, int threads, SweepData* data)
{
    const std::size_t n = inputs.recordings.size();
    std::vector<SweepRecording> loaded(n);
    std::vector<std::string> reasons(n);
    std::vector<char> ok(n, 0);
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i = next++; i < n; i = next++) {
            const InputRecording& in = inputs.recordings[i];
            SweepRecording& rec = loaded[i];
            rec.input = in;
            rec.fold = -1;
            rec.labels = InputsLabelsOf(in, manifest);
            ok[i] = RecordingLoad(in.path, in.format, in.micom, &rec.samples, &reasons[i]) == 0;
        }
    };
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back(work);
    }
    for (std::thread& w : workers) {
        w.join();
    }
    data->recordings.clear();
    data->failures.clear();
    data->unlabelled = 0;
    data->empty.clear();
    data->samples = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (!ok[i]) {
            data->failures.push_back(inputs.recordings[i].path + ": " + reasons[i]);
        } else if (loaded[i].labels.label == Label::None) {
            ++data->unlabelled;
        } else if (loaded[i].samples.empty()) {
            data->empty.push_back(inputs.recordings[i].path);
        } else {
            data->samples += loaded[i].samples.size();
            data->recordings.push_back(std::move(loaded[i]));
        }
    }
}

void SweepAssignFolds(SweepData* data, int folds)
{
    if (folds <= 0) {
        return;
    }
    std::vector<std::string> subjects;
    for (const SweepRecording& r : data->recordings) {
        subjects.push_back(r.labels.subject);
    }
    const std::vector<int> assigned = FoldsAssign(subjects, folds);
    for (size_t i = 0; i < data->recordings.size(); ++i) {
        data->recordings[i].fold = assigned[i];
    }
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
        scores.push_back(Run(rec, config, settings.mergeSeconds, &result));
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
        // A refused configuration has no work: it is complete at once.
        slot.remaining = slot.refusal.empty() ? static_cast<int>(recordings) : 0;
    };
    for (int64_t c = 0; c < window && c < count; ++c) {
        prepare(c);
    }

    std::atomic<int64_t> nextItem{0};
    const int64_t items = count * recordings;
    std::atomic<bool> stop{false};
    auto work = [&] {
        DetectResult result;
        for (int64_t item = nextItem++; item < items; item = nextItem++) {
            const int64_t c = item / recordings;
            const int64_t r = item % recordings;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return stop || c < committed + window; });
            }
            if (stop) {
                break;
            }
            Slot& slot = *slots[static_cast<std::size_t>(c % window)];
            if (!slot.refusal.empty()) {
                continue;
            }
            const SweepRecording& rec = data.recordings[static_cast<std::size_t>(r)];
            slot.scores[static_cast<std::size_t>(r)] = Run(rec, slot.config, settings.mergeSeconds, &result);
            progress->samples += rec.samples.size();
            if (--slot.remaining == 0) {
                const std::lock_guard<std::mutex> lock(mutex);
                changed.notify_all();
            }
        }
    };
    std::vector<std::thread> workers;
    for (int t = 0; t < settings.threads; ++t) {
        workers.emplace_back(work);
    }

    while (committed < count) {
        Slot& slot = *slots[static_cast<std::size_t>(committed % window)];
        {
            std::unique_lock<std::mutex> lock(mutex);
            while (!changed.wait_for(lock, std::chrono::milliseconds(250), [&] { return slot.remaining == 0; })) {
                ProgressShow(*progress);
            }
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

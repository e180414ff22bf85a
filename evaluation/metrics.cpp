// Metrics of a labelled set of recordings.
#include "metrics.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kSecondsPerHour = 3600.0;

double Ratio(double num, double den)
{
    return den > 0.0 ? num / den : kNaN;
}

}  // namespace

bool MetricsSameEvent(uint32_t previous, uint32_t next, double mergeSeconds)
{
    return static_cast<double>(next - previous) / kSampleRate < mergeSeconds;
}

std::vector<AlarmEvent> MetricsEvents(const std::vector<Alarm>& alarms, double mergeSeconds)
{
    std::vector<AlarmEvent> events;
    for (const Alarm& a : alarms) {
        if (!events.empty() && MetricsSameEvent(events.back().last, a.sample, mergeSeconds)) {
            events.back().last = a.sample;
            ++events.back().alarms;
        } else {
            events.push_back(AlarmEvent{a.sample, a.sample, 1});
        }
    }
    return events;
}

int MetricsEventCount(const std::vector<Alarm>& alarms, double mergeSeconds)
{
    int count = 0;
    for (std::size_t i = 0; i < alarms.size(); ++i) {
        if (i == 0 || !MetricsSameEvent(alarms[i - 1].sample, alarms[i].sample, mergeSeconds)) {
            ++count;
        }
    }
    return count;
}

namespace {

double Median(std::vector<double>* values)
{
    std::sort(values->begin(), values->end());
    const std::size_t n = values->size();
    return n % 2 == 1 ? (*values)[n / 2] : ((*values)[n / 2 - 1] + (*values)[n / 2]) / 2.0;
}

}  // namespace

FallWindowTally MetricsNoWindow()
{
    return FallWindowTally{false, -1, -1, -1, 0, 0, 0, 0, 0, -1, -1};
}

FallWindowTally MetricsWindowOf(int64_t fallStart, int64_t fallEnd, const FallWindowSettings& settings)
{
    FallWindowTally t = MetricsNoWindow();
    t.active = true;
    const auto before = static_cast<int64_t>(std::floor(settings.beforeSeconds * kSampleRate));
    const auto after = static_cast<int64_t>(std::floor(settings.afterSeconds * kSampleRate));
    t.first = std::max<int64_t>(0, fallStart - before);
    t.last = fallEnd + after;
    return t;
}

void MetricsWindowAdd(FallWindowTally* t, uint32_t sample, double mergeSeconds)
{
    if (!t->active) {
        return;
    }
    const auto at = static_cast<int64_t>(sample);
    if (at < t->first) {
        ++t->earlyAlarms;
        if (t->lastEarly < 0 || !MetricsSameEvent(static_cast<uint32_t>(t->lastEarly), sample, mergeSeconds)) {
            ++t->earlyEvents;
        }
        t->lastEarly = at;
    } else if (at > t->last) {
        ++t->lateAlarms;
        if (t->lastLate < 0 || !MetricsSameEvent(static_cast<uint32_t>(t->lastLate), sample, mergeSeconds)) {
            ++t->lateEvents;
        }
        t->lastLate = at;
    } else {
        ++t->inAlarms;
        if (t->firstAlarm < 0) {
            t->firstAlarm = at;
        }
    }
}

uint64_t MetricsOutsideSamples(const FallWindowTally& window, uint64_t samples)
{
    if (!window.active) {
        return 0;
    }
    const auto n = static_cast<int64_t>(samples);
    const int64_t inside = std::max<int64_t>(0, std::min(window.last, n - 1) - window.first + 1);
    return static_cast<uint64_t>(n - inside);
}

bool MetricsDetected(const RecordingScore& score)
{
    return score.windowed ? score.firstInWindow >= 0 : score.firstAlarm >= 0;
}

Metrics MetricsCompute(const std::vector<RecordingScore>& scores)
{
    MetricsCounts counts{};
    uint64_t adlSamples = 0;
    std::vector<double> latencies;
    std::vector<double> toEnd;
    int timed = 0;
    int early = 0;
    int late = 0;
    uint64_t outside = 0;
    for (const RecordingScore& s : scores) {
        const bool detected = MetricsDetected(s);
        if (s.label == Label::Fall) {
            if (s.windowed) {
                ++timed;
                early += static_cast<int>(s.earlyEvents);
                late += static_cast<int>(s.lateEvents);
                outside += s.outsideSamples;
            }
            if (detected && s.windowed) {
                ++counts.tp;
                latencies.push_back(static_cast<double>(s.firstInWindow - s.fallStart) / kSampleRate);
                toEnd.push_back(static_cast<double>(s.firstInWindow - s.fallEnd) / kSampleRate);
            } else if (detected) {
                ++counts.tp;
                latencies.push_back(static_cast<double>(s.firstAlarm - s.impact) / kSampleRate);
            } else {
                ++counts.fn;
            }
        } else if (s.label == Label::Adl) {
            adlSamples += s.samples;
            counts.falseAlarmEvents += s.events;
            if (detected) {
                ++counts.fp;
            } else {
                ++counts.tn;
            }
        }
    }
    Metrics m = MetricsFromCounts(counts, adlSamples);
    m.latencyCount = static_cast<int>(latencies.size());
    if (!latencies.empty()) {
        m.latencyMedian = Median(&latencies);
        m.latencyMin = latencies.front();
        m.latencyMax = latencies.back();
    }
    m.timedFalls = timed;
    m.earlyEvents = early;
    m.lateEvents = late;
    m.outsideHours = static_cast<double>(outside) / kSampleRate / kSecondsPerHour;
    m.outsideEventsPerHour = Ratio(early + late, m.outsideHours);
    m.latencyEndCount = static_cast<int>(toEnd.size());
    if (!toEnd.empty()) {
        m.latencyEndMedian = Median(&toEnd);
        m.latencyEndMin = toEnd.front();
        m.latencyEndMax = toEnd.back();
    }
    return m;
}

MetricsCounts MetricsCountsOf(const Metrics& m)
{
    return MetricsCounts{m.tp, m.fn, m.fp, m.tn, m.falseAlarmEvents};
}

Metrics MetricsFromCounts(const MetricsCounts& counts, uint64_t adlSamples)
{
    Metrics m{};
    m.tp = counts.tp;
    m.fn = counts.fn;
    m.fp = counts.fp;
    m.tn = counts.tn;
    m.falseAlarmEvents = counts.falseAlarmEvents;
    m.falls = m.tp + m.fn;
    m.adls = m.fp + m.tn;
    m.recordings = m.falls + m.adls;
    m.sensitivity = Ratio(m.tp, m.falls);
    m.specificity = Ratio(m.tn, m.adls);
    m.precision = Ratio(m.tp, m.tp + m.fp);
    m.f1 = Ratio(2.0 * m.tp, 2.0 * m.tp + m.fp + m.fn);
    m.accuracy = Ratio(m.tp + m.tn, m.recordings);
    m.adlHours = static_cast<double>(adlSamples) / kSampleRate / kSecondsPerHour;
    m.falseAlarmsPerHour = Ratio(m.falseAlarmEvents, m.adlHours);
    m.latencyCount = 0;
    m.latencyMedian = m.latencyMin = m.latencyMax = kNaN;
    m.timedFalls = m.earlyEvents = m.lateEvents = 0;
    m.outsideHours = 0.0;
    m.outsideEventsPerHour = kNaN;
    m.latencyEndCount = 0;
    m.latencyEndMedian = m.latencyEndMin = m.latencyEndMax = kNaN;
    return m;
}

namespace {

struct MetricField {
    const char* name;
    double (*get)(const Metrics&);
};

// clang-format off
const MetricField kFields[] = {
    {"tp", [](const Metrics& m) -> double { return m.tp; }},
    {"fn", [](const Metrics& m) -> double { return m.fn; }},
    {"fp", [](const Metrics& m) -> double { return m.fp; }},
    {"tn", [](const Metrics& m) -> double { return m.tn; }},
    {"falls", [](const Metrics& m) -> double { return m.falls; }},
    {"adls", [](const Metrics& m) -> double { return m.adls; }},
    {"recordings", [](const Metrics& m) -> double { return m.recordings; }},
    {"sensitivity", [](const Metrics& m) { return m.sensitivity; }},
    {"specificity", [](const Metrics& m) { return m.specificity; }},
    {"precision", [](const Metrics& m) { return m.precision; }},
    {"f1", [](const Metrics& m) { return m.f1; }},
    {"accuracy", [](const Metrics& m) { return m.accuracy; }},
    {"false_alarm_events", [](const Metrics& m) -> double { return m.falseAlarmEvents; }},
    {"adl_hours", [](const Metrics& m) { return m.adlHours; }},
    {"false_alarms_per_hour", [](const Metrics& m) { return m.falseAlarmsPerHour; }},
    {"latency_median", [](const Metrics& m) { return m.latencyMedian; }},
    {"latency_min", [](const Metrics& m) { return m.latencyMin; }},
    {"latency_max", [](const Metrics& m) { return m.latencyMax; }},
};
// clang-format on

}  // namespace

const std::vector<std::string>& MetricsNames()
{
    static const std::vector<std::string> names = [] {
        std::vector<std::string> n;
        for (const MetricField& f : kFields) {
            n.emplace_back(f.name);
        }
        return n;
    }();
    return names;
}

bool MetricsIsCount(const std::string& name)
{
    static const char* const counts[] = {"tp", "fn", "fp", "tn", "falls", "adls", "recordings", "false_alarm_events"};
    for (const char* c : counts) {
        if (name == c) {
            return true;
        }
    }
    return false;
}

bool MetricsValue(const Metrics& m, const std::string& name, double* value)
{
    for (const MetricField& f : kFields) {
        if (name == f.name) {
            *value = f.get(m);
            return true;
        }
    }
    return false;
}

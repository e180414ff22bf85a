// The intervals of an evaluation's figures.
#include "eval_intervals.h"

#include <map>
#include <string>

IntervalSettings IntervalDefaultSettings()
{
    return IntervalSettings{kIntervalDefaultConfidence, 0, 1};
}

RateIntervals IntervalsOfMetrics(const Metrics& m, double confidence)
{
    return RateIntervals{IntervalWilson(m.tp, static_cast<int64_t>(m.tp) + m.fn, confidence),
                         IntervalWilson(m.tn, static_cast<int64_t>(m.tn) + m.fp, confidence),
                         IntervalWilson(m.tp, static_cast<int64_t>(m.tp) + m.fp, confidence),
                         IntervalPoisson(m.falseAlarmEvents, m.adlHours, confidence)};
}

std::vector<IntervalSubject> EvalSubjects(const Evaluation& evaluation)
{
    std::map<std::string, IntervalSubject> named;
    std::vector<IntervalSubject> alone;
    for (const RecordingOutcome& o : evaluation.outcomes) {
        if (!o.counted || o.labels.label == Label::None) {
            continue;
        }
        IntervalSubject one{0, 0, 0, 0, 0, 0};
        const bool detected = !o.detect.alarms.empty();
        if (o.labels.label == Label::Fall) {
            (detected ? one.tp : one.fn) = 1;
        } else {
            (detected ? one.fp : one.tn) = 1;
            one.falseAlarmEvents = o.eventCount;
            one.adlSamples = o.detect.samples;
        }
        if (o.labels.subject.empty()) {
            alone.push_back(one);
            continue;
        }
        IntervalSubject& s = named.emplace(o.labels.subject, IntervalSubject{0, 0, 0, 0, 0, 0}).first->second;
        s.tp += one.tp;
        s.fn += one.fn;
        s.fp += one.fp;
        s.tn += one.tn;
        s.falseAlarmEvents += one.falseAlarmEvents;
        s.adlSamples += one.adlSamples;
    }
    std::vector<IntervalSubject> subjects;
    subjects.reserve(named.size() + alone.size());
    for (const auto& entry : named) {
        subjects.push_back(entry.second);
    }
    subjects.insert(subjects.end(), alone.begin(), alone.end());
    return subjects;
}

EvalIntervals EvalIntervalsOf(const Evaluation& evaluation, const Metrics& metrics, const Breakdowns& breakdowns,
                              const IntervalSettings& settings)
{
    EvalIntervals result{};
    result.settings = settings;
    result.summary = IntervalsOfMetrics(metrics, settings.confidence);
    for (const ActivityRow& a : breakdowns.activities) {
        result.activities.push_back(IntervalWilson(a.detected, a.recordings, settings.confidence));
    }
    for (const FolderRow& f : breakdowns.folders) {
        result.folders.push_back(IntervalsOfMetrics(f.metrics, settings.confidence));
    }
    result.bootstrapped = settings.bootstrap > 0;
    if (result.bootstrapped) {
        result.bootstrap = IntervalBootstrapSubjects(
            EvalSubjects(evaluation),
            IntervalBootstrapSettings{settings.bootstrap, settings.seed, settings.confidence});
    }
    return result;
}

// The nested selection's held-out figures pooled over its subjects, and
// their bootstrap over the subjects.
#include <cmath>
#include <map>
#include <string>

#include "sweep_summary.h"
#include "sweep_summary_text.h"

Metrics SweepSummaryNestedPooled(const SweepSummary& summary)
{
    MetricsCounts counts{};
    double hours = 0.0;
    for (const SweepNestedFold& f : summary.nested) {
        if (!f.chosen.found) {
            continue;
        }
        counts.tp += f.held.tp;
        counts.fn += f.held.fn;
        counts.fp += f.held.fp;
        counts.tn += f.held.tn;
        counts.falseAlarmEvents += f.held.falseAlarmEvents;
        hours += f.held.adlHours;
    }
    // The groups' ADL samples, back from their hours (whole samples).
    Metrics m = MetricsFromCounts(counts, static_cast<uint64_t>(hours * 3600.0 * kSampleRate + 0.5));
    return m;
}

RateIntervals SweepPointIntervals(const SweepSummary& summary, const SweepPoint& point)
{
    const Metrics& base = summary.base.all;
    const double confidence = summary.intervals.confidence;
    const Interval none{std::nan(""), std::nan(""), false};
    RateIntervals r{none, none, none, none};
    if (!std::isnan(point.sensitivity)) {
        r.sensitivity = IntervalWilson(std::llround(point.sensitivity * base.falls), base.falls, confidence);
    }
    if (!std::isnan(point.falseAlarmsPerHour)) {
        r.falseAlarmsPerHour =
            IntervalPoisson(std::llround(point.falseAlarmsPerHour * base.adlHours), base.adlHours, confidence);
    }
    return r;
}

void SweepSummaryBootstrapNested(SweepSummary* summary, const SweepData& data, const SweepSettings& sweep,
                                 const IntervalSettings& settings)
{
    summary->intervals = settings;
    summary->nestedBootstrapped = false;
    if (summary->nested.empty() || settings.bootstrap <= 0) {
        return;
    }
    std::map<std::string, IntervalSubject> subjects;
    for (std::size_t k = 0; k < summary->nested.size(); ++k) {
        const SweepNestedFold& f = summary->nested[k];
        if (!f.chosen.found) {
            continue;
        }
        const std::vector<RecordingScore> scores =
            SweepScores(data, SweepPointConfig(*summary, f.chosen.point), sweep, static_cast<int>(k));
        for (std::size_t i = 0; i < scores.size(); ++i) {
            const RecordingScore& score = scores[i];
            if (score.label == Label::None) {
                continue;
            }
            IntervalSubject& s =
                subjects.emplace(data.recordings[i].labels.subject, IntervalSubject{0, 0, 0, 0, 0, 0}).first->second;
            const bool detected = MetricsDetected(score);
            if (score.label == Label::Fall) {
                (detected ? s.tp : s.fn) += 1;
            } else {
                (detected ? s.fp : s.tn) += 1;
                s.falseAlarmEvents += score.events;
                s.adlSamples += score.samples;
            }
        }
    }
    std::vector<IntervalSubject> list;
    list.reserve(subjects.size());
    for (const auto& entry : subjects) {
        list.push_back(entry.second);
    }
    summary->nestedBootstrap = IntervalBootstrapSubjects(
        list, IntervalBootstrapSettings{settings.bootstrap, settings.seed, settings.confidence});
    summary->nestedBootstrapped = true;
}

// Breakdowns of an evaluation.
#include "breakdown.h"

#include <map>
#include <utility>

Breakdowns BreakdownsOf(const Evaluation& evaluation)
{
    std::map<std::pair<int, std::string>, ActivityRow> activities;
    std::map<int, CodeRow> codes;
    std::map<std::string, std::vector<RecordingScore>> folders;
    std::map<std::string, std::vector<RecordingScore>> datasets;
    bool anyDataset = false;
    for (const RecordingOutcome& o : evaluation.outcomes) {
        if (!o.counted) {
            continue;
        }
        const Label label = o.labels.label;
        if (label != Label::None) {
            // Falls first, then ADLs.
            const int order = label == Label::Fall ? 0 : 1;
            ActivityRow& a = activities[{order, o.labels.activity}];
            a.label = label;
            a.activity = o.labels.activity;
            if (a.description.empty()) {
                a.description = o.labels.description;
            }
            ++a.recordings;
            a.detected += EvalDetected(o) ? 1 : 0;
            a.events += static_cast<int>(o.eventCount);
            a.hours += o.detect.samples / kSampleRate / 3600.0;
            folders[o.input.folder].push_back(EvalScore(o));
            datasets[o.labels.dataset].push_back(EvalScore(o));
            anyDataset = anyDataset || !o.labels.dataset.empty();
        }
        for (const CodeTally& t : o.codes) {
            CodeRow& c = codes[t.code];
            c.code = t.code;
            c.alarms += static_cast<int>(t.alarms);
            if (label == Label::Fall) {
                c.eventsOnFalls += static_cast<int>(t.events);
            } else if (label == Label::Adl) {
                c.eventsOnAdls += static_cast<int>(t.events);
            }
        }
    }
    Breakdowns b;
    for (const auto& [key, row] : activities) {
        b.activities.push_back(row);
    }
    for (const auto& [code, row] : codes) {
        b.codes.push_back(row);
    }
    for (const auto& [folder, scores] : folders) {
        b.folders.push_back(FolderRow{folder, MetricsCompute(scores)});
    }
    if (anyDataset) {
        for (const auto& [dataset, scores] : datasets) {
            b.datasets.push_back(DatasetRow{dataset, MetricsCompute(scores)});
        }
    }
    return b;
}
